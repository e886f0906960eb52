# FTDI chips on a umockdev testbed, seen by libusb (and so libftdi1) in a child process started
# under umockdev's preload library: the chip answers the usbdevfs requests libusb makes, sends
# 64-byte packets that carry two status bytes ahead of up to 62 data bytes, keeps its latency
# timer, and passes the bytes of its UART to and from a small model of the board.

import errno
import struct

import gi

gi.require_version("UMockdev", "1.0")
from gi.repository import GLib, UMockdev  # noqa: E402

BUS = 77  # no real host controller uses it, so nothing here can reach a real device node
EP_IN, EP_OUT = 0x81, 0x02
PACKET = 64
STATUS = bytes([0x01, 0x60])  # modem status, line status: transmitter empty
URB = struct.Struct("<BBxxiI4xQi")  # the head of struct usbdevfs_urb on 64-bit Linux
URB_SIZE = 56
CONTROL, BULK = 2, 3
# usbdevfs requests by number: libusb hands over each bulk transfer whole when these are known.
CAPABILITIES, SUBMIT, DISCARD, REAP, REAP_NDELAY, CLAIM, RELEASE = 26, 10, 11, 12, 13, 15, 16
NO_DRIVER = (8, 18)  # no kernel driver is bound, so there is none to name or detach
ACCEPTED = (4, 5, 20, 21)  # set interface, set configuration, reset, clear halt
CAPS = 0x01 | 0x04 | 0x08 | 0x10 | 0x20
# The chip type libftdi1 reads from the release number, by product id.
RELEASES = {0x6001: 0x600, 0x6010: 0x700, 0x6011: 0x800, 0x6014: 0x900, 0x6015: 0x1000}


class Board:
    # The board's side of the command set: "SI", "RF" address words, "WF" address + 2,048 bytes,
    # "EX" operand; numbers most significant byte first, flash address units of 2 bytes.
    def __init__(self, hardware=0x21, firmware=0x11):
        self.flash = bytearray(b"\xff" * 65536)
        self.versions = bytes([hardware, firmware])
        self.commands = []
        self.pending = b""

    def feed(self, data):
        self.pending += data
        reply = b""
        while True:
            p = self.pending
            at = 2 * int.from_bytes(p[2:5], "big")
            if p[:2] == b"SI":
                size, answer = 2, b"KR" + self.versions
            elif p[:2] == b"RF" and len(p) >= 7:
                size, answer = 7, bytes(self.flash[at:at + 4 * int.from_bytes(p[5:7], "big")])
            elif p[:2] == b"WF" and len(p) >= 5 + 2048:
                size, answer = 5 + 2048, b""
                self.flash[at:at + 2048] = p[5:size]
            elif p[:2] == b"EX" and len(p) >= 4:
                size, answer = 4, b""
            else:
                return reply
            self.commands.append(p[:2].decode())
            self.pending, reply = p[size:], reply + answer


class Chip:
    # One FTDI chip, served on umockdev's worker thread; tests read it once the child has ended.
    # One that cannot be opened is listed on the bus, but its node is missing. A slow one sends
    # one packet of data on every other tick of its latency timer, as behind a slow UART.
    def __init__(self, bed, board, description, serial, product, address, openable):
        self.board, self.latency, self.to_host, self.requests = board, 16, b"", []
        self.strings = [b"\x09\x04", b"FTDI", description.encode(), serial.encode()]
        self.waiting, self.done, self.held, self.gone = [], [], None, False
        self.slow, self.ticks, self.unplug_when_waiting = False, 0, False
        self.bed, self.node = bed, "/dev/bus/usb/%03d/%03d" % (BUS, address)
        self.syspath = "/sys/devices/usb%d/%d-%d" % (BUS, BUS, address)
        device = struct.pack("<BBHBBBBHHHBBBB", 18, 1, 0x200, 0, 0, 0, 8, 0x0403, product,
                             RELEASES[product], 1, 2, 3, 1)
        config = bytes([9, 2, 32, 0, 1, 1, 0, 0xA0, 45, 9, 4, 0, 0, 2, 0xFF, 0xFF, 0xFF, 2,
                        7, 5, EP_IN, 2, PACKET, 0, 0, 7, 5, EP_OUT, 2, PACKET, 0, 0])
        self.descriptors = device + config
        if openable:
            self.handler = UMockdev.IoctlBase()
            self.handler.connect("handle-ioctl", self.serve)
            bed.testbed.attach_ioctl(self.node, self.handler)
        bed.testbed.add_from_string(
            "P: %s\n%sE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=%s\nE: BUSNUM=%d\n"
            "E: DEVNUM=%d\nA: busnum=%d\\n\nA: devnum=%d\\n\nA: speed=12\\n\n"
            "A: bConfigurationValue=1\\n\nH: descriptors=%s\n" % (
                self.syspath[4:], "N: %s\n" % self.node[5:] if openable else "", self.node, BUS,
                address, BUS, address, self.descriptors.hex()))

    def serve(self, handler, client):
        request = client.get_request()
        number = request & 0xFF
        if (request >> 8) & 0xFF != ord("U"):
            client.complete(-1, errno.ENOTTY)
        elif self.gone and number != RELEASE:
            client.complete(-1, errno.ENODEV)
        elif number == CAPABILITIES:
            client.get_arg().resolve(0, 4).update(0, struct.pack("<I", CAPS))
            client.complete(0, 0)
        elif number == SUBMIT:
            self.submit(client)
        elif number in (REAP, REAP_NDELAY):
            self.reap(client)
        elif number == DISCARD:
            self.discard(client)
        else:
            ok = number in ACCEPTED + (CLAIM, RELEASE)
            client.complete(0 if ok else -1, 0 if ok else errno.ENODATA)
        return True

    def submit(self, client):
        urb = client.get_arg().resolve(0, URB_SIZE)
        kind, endpoint, _, _, _, length = URB.unpack_from(urb.retrieve())
        if kind == BULK and endpoint == EP_IN:
            self.waiting.append(urb)  # its buffer can be reached only while its client asks
        elif kind == BULK and endpoint == EP_OUT:
            self.to_host += self.board.feed(bytes(urb.resolve(16, length).retrieve()))
            self.finish(urb, 0, length)
        elif kind == CONTROL:
            buffer = urb.resolve(16, length)
            reply = self.control(*struct.unpack("<BBHHH", bytes(buffer.retrieve()[:8])))
            if reply is not None:
                buffer.update(8, reply)
            self.finish(urb, -errno.EPIPE if reply is None else 0, len(reply or b""))
        else:
            client.complete(-1, errno.EINVAL)
            return
        client.complete(0, 0)

    def control(self, kind, request, value, index, length):
        if kind == 0x80 and request == 6:  # GET_DESCRIPTOR: device, configuration, string
            table = {1: self.descriptors[:18], 2: self.descriptors[18:]}
            if value >> 8 == 3 and (value & 0xFF) < len(self.strings):
                text = self.strings[value & 0xFF]
                text = text if value & 0xFF == 0 else text.decode().encode("utf-16-le")
                table[3] = bytes([2 + len(text), 3]) + text
            return table.get(value >> 8, b"")[:length] or None
        if kind == 0xC0:  # vendor requests that read: modem status, latency timer, pins
            return {5: STATUS, 10: bytes([self.latency]), 12: b"\xff"}.get(request)
        if kind != 0x40:
            return None
        self.requests.append((request, value))
        if request == 9:
            self.latency = max(1, value & 0xFF)
        if request == 0 and value in (0, 2):  # reset, or flush what waits for the host
            self.to_host = b""
        return b""

    def finish(self, urb, status, actual):
        urb.update(4, struct.pack("<i", status))
        urb.update(28, struct.pack("<i", actual))
        self.done.append(urb)

    def reap(self, client):
        if not self.done and self.waiting and self.to_host and not self.slow:
            self.send(self.waiting.pop(0))
        if self.done or not self.waiting or self.held:
            return self.answer(client)
        if self.unplug_when_waiting:
            return self.unplug(client)
        # Nothing to send yet: the chip sends its status bytes alone when its latency timer runs
        # out, and the client hears of it then rather than spinning on "try again".
        self.held = client
        source = GLib.timeout_source_new(self.latency)
        source.set_callback(self.timer)
        source.attach(GLib.MainContext.get_thread_default())

    def timer(self, *_):
        client, self.held = self.held, None
        if client and self.waiting:
            self.send(self.waiting.pop(0))
        if client:
            self.answer(client)
        return False

    def send(self, urb):
        # Whole packets while the data fill them, then one short packet ends the transfer.
        capacity = URB.unpack_from(urb.retrieve())[5]
        self.ticks += 1
        data = self.to_host[:(PACKET - 2) * (self.ticks % 2)] if self.slow else self.to_host
        out, sent = b"", 0
        while len(out) + PACKET <= capacity:
            chunk = data[sent:sent + PACKET - 2]
            out, sent = out + STATUS + chunk, sent + len(chunk)
            if len(chunk) < PACKET - 2:
                break
        self.to_host = self.to_host[sent:]
        urb.resolve(16, len(out)).update(0, out)
        self.finish(urb, 0, len(out))

    def answer(self, client):
        if not self.done:
            return client.complete(-1, errno.ENODEV if self.gone else errno.EAGAIN)
        client.get_arg().resolve(0, 8).set_ptr(0, self.done.pop(0))
        client.complete(0, 0)

    def discard(self, client):
        address = int.from_bytes(bytes(client.get_arg().retrieve()[:8]), "little")
        found = [urb for urb in self.waiting if urb.client_addr == address]
        for urb in found:
            self.waiting.remove(urb)
            self.finish(urb, -errno.ENOENT, 0)
        client.complete(0 if found else -1, 0 if found else errno.EINVAL)

    def unplug(self, client=None):
        # Gone: transfers in flight end with "no device", and so does every later request.
        self.gone = True
        for urb in self.waiting:
            self.finish(urb, -errno.ENODEV, 0)
        self.waiting = []
        self.bed.testbed.uevent(self.syspath, "remove")
        if client:
            self.answer(client)


class Testbed:
    def __init__(self):
        self.testbed = UMockdev.Testbed.new()
        self.chips = []

    def plug(self, board=None, description="Quorvex", serial="QV000001", product=0x6001,
             openable=True):
        chip = Chip(self, board or Board(), description, serial, product, 2 + len(self.chips),
                    openable)
        self.chips.append(chip)
        return chip

    def env(self, preload=""):
        # What a child needs to see this bus; the sanitizer's runtime must come first to load.
        return dict(UMOCKDEV_DIR=self.testbed.get_root_dir(),
                    LD_PRELOAD=":".join(filter(None, [preload, "libumockdev-preload.so.0"])))

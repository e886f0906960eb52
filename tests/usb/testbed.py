# FTDI chips on a umockdev testbed, seen by libusb (and so libftdi1) in a child process started
# under umockdev's preload library. A chip answers the usbdevfs requests libusb makes, sends
# 64-byte packets that carry two status bytes ahead of up to 62 data bytes, keeps its latency
# timer, and passes the bytes of its UART to and from a small model of the board.

import atexit, errno, shutil, struct, types

import gi

gi.require_version("UMockdev", "1.0")
from gi.repository import GLib, UMockdev  # noqa: E402

BUS = 77  # no real host controller uses it, so nothing here can reach a real device node
EP_IN, EP_OUT, PACKET, DATA = 0x81, 0x02, 64, 62
STATUS = bytes([0x01, 0x60])  # modem status, line status: transmitter empty
URB = struct.Struct("<BBxxiI4xQi")  # the head of struct usbdevfs_urb on 64-bit Linux
URB_SIZE, CONTROL, BULK = 56, 2, 3
# usbdevfs requests by number. With these capabilities libusb hands over a transfer whole.
CAPABILITIES, SUBMIT, REAP, REAP_NDELAY, CLAIM, RELEASE = 26, 10, 12, 13, 15, 16
CAPS = 0x01 | 0x04 | 0x08 | 0x10 | 0x20
# The release number tells libftdi1 the chip type: FT232R, FT2232, FT4232, FT232H, FT-X.
RELEASES = {0x6001: 0x600, 0x6010: 0x700, 0x6011: 0x800, 0x6014: 0x900, 0x6015: 0x1000}
COMMANDS = {b"SI": 2, b"RF": 7, b"WF": 5 + 2048, b"EX": 4}  # sizes, "WF" with its data


class Board:
    # The board's side of the command set; numbers most significant byte first, flash address
    # units of 2 bytes.
    def __init__(self, hardware=0x21, firmware=0x11):
        self.flash, self.pending, self.blocks = bytearray(b"\xff" * 65536), b"", 0
        self.versions = bytes([hardware, firmware])

    def feed(self, data):
        self.pending += data
        reply = b""
        while len(self.pending) >= COMMANDS.get(self.pending[:2], len(self.pending) + 1):
            size = COMMANDS[self.pending[:2]]
            command, self.pending = self.pending[:size], self.pending[size:]
            at = 2 * int.from_bytes(command[2:5], "big")
            if command[:2] == b"SI":
                reply += b"KR" + self.versions
            elif command[:2] == b"RF":
                reply += self.flash[at:at + 4 * int.from_bytes(command[5:7], "big")]
            elif command[:2] == b"WF":
                self.flash[at:at + 2048] = command[5:]
                self.blocks += 1
        return reply


class Chip:
    # One chip, served on umockdev's worker thread. One that cannot be opened is listed on the
    # bus without a device node; a busy one (another program holds it) refuses to be claimed. A
    # slow one sends one packet of data on every other tick of its latency timer, as a slow UART
    # would; one set to unplug at 0 goes when a read waits for data, at n once n blocks are in.
    def __init__(self, bed, board, description, serial, product, address, openable):
        self.bed, self.board, self.latency, self.to_host = bed, board, 16, b""
        self.strings = [b"\x09\x04"] + [text.encode("utf-16-le")
                                         for text in ("FTDI", description, serial)]
        self.files, self.gone = {}, False
        self.slow, self.ticks, self.unplug_at, self.busy = False, 0, None, False
        self.path = "/sys/devices/usb%d/%d-%d" % (BUS, BUS, address)
        node = "/dev/bus/usb/%03d/%03d" % (BUS, address)
        descriptors = struct.pack("<BBHBBBBHHHBBBB", 18, 1, 0x200, 0, 0, 0, 8, 0x0403, product,
                                  RELEASES[product], 1, 2, 3, 1) + bytes(
            [9, 2, 32, 0, 1, 1, 0, 0xA0, 45, 9, 4, 0, 0, 2, 0xFF, 0xFF, 0xFF, 2,
             7, 5, EP_IN, 2, PACKET, 0, 0, 7, 5, EP_OUT, 2, PACKET, 0, 0])
        if openable:
            self.handler = UMockdev.IoctlBase()
            self.handler.connect("handle-ioctl", self.serve)
            bed.testbed.attach_ioctl(node, self.handler)
        bed.testbed.add_from_string(
            "P: /devices/usb%d/%d-%d\n%sE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=%s\n"
            "A: busnum=%d\\n\nA: devnum=%d\\n\nA: speed=12\\n\nA: bConfigurationValue=1\\n\n"
            "H: descriptors=%s\n" % (BUS, BUS, address, "N: %s\n" % node[5:] if openable else "",
                                      node, BUS, address, descriptors.hex()))

    def serve(self, handler, client):
        number = client.get_request() & 0xFF
        if self.gone and number not in (RELEASE, REAP, REAP_NDELAY):
            client.complete(-1, errno.ENODEV)
        elif number == CAPABILITIES:
            client.get_arg().resolve(0, 4).update(0, struct.pack("<I", CAPS))
            client.complete(0, 0)
        elif number == SUBMIT:
            self.submit(client, client.get_arg().resolve(0, URB_SIZE))
        elif number in (REAP, REAP_NDELAY):
            self.reap(client)
        elif number == CLAIM and self.busy:
            client.complete(-1, errno.EBUSY)
        else:  # no kernel driver to name or detach; a transfer is never cancelled, only late
            client.complete(0 if number in (CLAIM, RELEASE) else -1, errno.ENODATA)
        return True

    def unplug(self):
        # Its open link fails from now on, and listings find no FTDI chip there: its vendor id is
        # gone. (Taking the device away whole would strand the requests of a file open on it.)
        self.gone = True
        self.bed.testbed.set_attribute_binary(self.path, "descriptors", bytes(18))

    def opened(self, client):
        # What one open file of the device node has in flight: libusb reaps on each file only the
        # transfers it submitted there, so a listing can read a chip's strings while it is open.
        return self.files.setdefault(client, types.SimpleNamespace(waiting=[], done=[], held=None))

    def submit(self, client, urb):
        kind, endpoint, _, _, _, length = URB.unpack_from(urb.retrieve())
        opened = self.opened(client)
        if kind == BULK and endpoint == EP_IN:
            opened.waiting.append(urb)  # its buffer can be reached only while its client asks
        elif kind == BULK and endpoint == EP_OUT:
            self.to_host += self.board.feed(urb.resolve(16, length).retrieve())
            self.finish(opened, urb, 0, length)
            if self.unplug_at and self.board.blocks == self.unplug_at:
                self.unplug()
        elif kind == CONTROL:
            buffer = urb.resolve(16, length)
            reply = self.control(*struct.unpack_from("<BBHHH", buffer.retrieve()))
            buffer.update(8, reply or b"")
            self.finish(opened, urb, -errno.EPIPE if reply is None else 0, len(reply or b""))
        client.complete(0, 0)

    def control(self, kind, request, value, index, length):
        # String descriptors, and the vendor requests that set the chip up or flush its FIFOs.
        if kind == 0x80 and request == 6 and value >> 8 == 3 and value & 0xFF < 4:
            text = self.strings[value & 0xFF]
            return (bytes([2 + len(text), 3]) + text)[:length]
        if kind != 0x40:
            return None
        if request == 9:
            self.latency = max(1, value & 0xFF)
        if request == 0 and value in (0, 2):  # a reset, or a flush of what waits for the host
            self.to_host = b""
        return b""

    def finish(self, opened, urb, status, actual):
        urb.update(4, struct.pack("<i", status))
        urb.update(28, struct.pack("<i", actual))
        opened.done.append(urb)

    def reap(self, client):
        opened = self.opened(client)
        while self.gone and opened.waiting:  # what was in flight ends as the device went
            self.finish(opened, opened.waiting.pop(), -errno.ENODEV, 0)
        if not opened.done and opened.waiting and self.to_host and not self.slow:
            self.send(opened, opened.waiting.pop(0))
        if opened.done or not opened.waiting or opened.held:
            return self.answer(opened, client)
        if self.unplug_at == 0:  # pulled out while the client waits for data
            self.unplug()
            return self.reap(client)
        # Nothing to send yet: the chip sends its status bytes alone when its latency timer runs
        # out, and the client hears of it then rather than spinning on "try again".
        opened.held = client
        source = GLib.timeout_source_new(self.latency)
        source.set_callback(self.timer, opened)
        source.attach(GLib.MainContext.get_thread_default())

    def timer(self, opened):
        client, opened.held = opened.held, None
        if opened.waiting:
            self.send(opened, opened.waiting.pop(0))
        self.answer(opened, client)
        return False

    def send(self, opened, urb):
        # Whole packets while the data fill them, then one short packet ends the transfer.
        capacity = URB.unpack_from(urb.retrieve())[5]
        self.ticks += 1
        data = self.to_host[:DATA * (self.ticks % 2)] if self.slow else self.to_host
        out, sent = b"", 0
        while len(out) + PACKET <= capacity:
            chunk = data[sent:sent + DATA]
            out, sent = out + STATUS + chunk, sent + len(chunk)
            if len(chunk) < DATA:
                break
        self.to_host = self.to_host[sent:]
        urb.resolve(16, len(out)).update(0, out)
        self.finish(opened, urb, 0, len(out))

    def answer(self, opened, client):
        if not opened.done:
            return client.complete(-1, errno.ENODEV if self.gone else errno.EAGAIN)
        client.get_arg().resolve(0, 8).set_ptr(0, opened.done.pop(0))
        client.complete(0, 0)


class Testbed:
    def __init__(self):
        self.testbed, self.chips = UMockdev.Testbed.new(), []
        # Its folder in /tmp goes with the test, which ends before Python would let go of it.
        atexit.register(shutil.rmtree, self.testbed.get_root_dir(), True)

    def plug(self, board=None, description="Quorvex", serial="QV000001", product=0x6001,
             openable=True):
        self.chips.append(Chip(self, board or Board(), description, serial, product,
                               2 + len(self.chips), openable))
        return self.chips[-1]

    def env(self, preload):
        # What a child needs to see this bus; a sanitizer's runtime must come first in the list.
        return dict(UMOCKDEV_DIR=self.testbed.get_root_dir(),
                    LD_PRELOAD=":".join(preload + ["libumockdev-preload.so.0"]))

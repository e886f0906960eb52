#!/usr/bin/env python3
# The libftdi1 provider and the program over real libftdi1 and libusb, against FTDI chips on a
# umockdev testbed, one case per run.
#   usb_test.py CASE PROBE COMMAND_LINE PACK_TOOL FIRMWARE [SANITIZER_RUNTIME]

import json, os, re, subprocess, sys, tempfile, time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "support")]
import testbed  # noqa: E402
from flash_check import check_flash, unpacker  # noqa: E402

OPEN, SI, REPLY = ("o", "0"), ("w5349", "0"), "0 4b522111"  # each call beside its line


def rf(address, words):
    return ("w5246%06x%04x" % (address, words), "0")


def session(bed, *steps):
    calls = [call for call, _ in steps]
    done = subprocess.run([PROBE] + calls, env=dict(os.environ, **bed.env(PRELOAD)), text=True,
                          capture_output=True, timeout=120)
    assert list(zip(calls, done.stdout.splitlines())) == list(steps), \
        "the probe printed\n%s\nnot\n%s\n%s" % (done.stdout, steps, done.stderr)


def opens_by_description(bed):
    for description, product in (("FT232R USB UART", 0x6001), ("Quorvex Pro", 0x6014),
                                 ("Quorve", 0x6001), ("quorvex", 0x6010)):
        bed.plug(description=description, product=product)
    bed.plug(openable=False)  # met first, but cannot be opened
    session(bed, ("o", "2"))
    bed.plug().busy = True
    session(bed, ("o", "3"), ("l", "2"))  # ours, but held by another program
    bed.plug(testbed.Board(0x35, 0x17), product=0x6015)
    session(bed, OPEN, SI, ("r4", "0 4b523517"), ("c", "0"), OPEN)  # closed, it opens again
    assert [chip.latency for chip in bed.chips] == [16] * 6 + [2], "settings reached other chips"


def reads(bed):
    chip = bed.plug()
    chip.board.flash[:] = os.urandom(len(chip.board.flash))
    flash = chip.board.flash.hex()  # two digits a byte, four an address unit
    # Transfer sizes in whole packets, from one; an empty write; a read that gets nothing, then
    # one that gets half.
    session(bed, OPEN, ("u0", "6"), ("u65", "6"), ("u64", "0"), ("u65536", "0"), ("w", "0"), ("r8", "0 "), SI, ("t1000", "0"), ("r8", REPLY),
            ("t0", "0"), rf(0x1234, 512), ("r2048", "0 " + flash[0x1234 * 4:][:4096]),
            # A 100-byte reply read 4 bytes at a time: libftdi1 keeps the rest until a purge.
            rf(0x40, 25), ("r4", "0 " + flash[0x100:0x108]), ("p1", "0"), ("t100", "0"),
            ("r4", "0 "), ("t0", "0"),
            SI, ("p2", "0"), ("r4", REPLY),  # a purge of what goes out keeps what comes in
            SI, ("p1", "0"), ("t100", "0"), ("r4", "0 "))
    chip.slow = True  # a reply over many transfers, some of them empty
    session(bed, OPEN, ("t0", "0"), rf(0x40, 100), ("r400", "0 " + flash[0x100:0x420]))


def unplugged_while_reading(bed):
    bed.plug().unplug_at = 0
    session(bed, OPEN, ("t0", "0"), ("r4", "4 "), ("w5349", "4"), ("p3", "4"))


def command_line_picks_boards_by_serial_and_port(bed):
    serials = ["QV000001", "QV000002", "QV000002"]  # a serial number two chips share
    chips = [bed.plug(serial=serial) for serial in serials]
    bed.plug(description="FT232R USB UART", serial="A100XYZ")  # no board of ours
    env = dict(os.environ, **bed.env(PRELOAD))
    run = lambda *args: subprocess.run([CLI, *args], env=env, capture_output=True, text=True,
                                       timeout=120)
    listed = run("list")
    rows = [line.split()[:2] for line in listed.stdout.splitlines()[1:]]
    assert listed.returncode == 0 and [r[0] for r in rows] == serials, listed.stdout
    assert all(re.fullmatch(r"%d-\d+" % testbed.BUS, r[1]) for r in rows), listed.stdout
    shared = run("flash", "--serial", serials[1])
    assert shared.returncode == 2 and "choose one with --port" in shared.stderr, shared.stderr
    done = run("flash", "--port", rows[2][1], "--quiet")
    assert done.returncode == 0, done.stdout + done.stderr
    flashed = [chip for chip in chips if chip.board.flash != bytearray(b"\xff" * 65536)]
    assert len(flashed) == 1, len(flashed)
    check_flash(flashed[0].board.flash, unpacker(PACK, FIRMWARE))
    flashed[0].board.flash[:] = b"\xff" * 65536  # every board at once, this one again
    done = run("flash", "--all", "--quiet")
    assert done.returncode == 0, done.stdout + done.stderr
    [check_flash(chip.board.flash, unpacker(PACK, FIRMWARE)) for chip in chips]


def station_while_boards_come_and_go(bed):
    # quorvex watch over libftdi1: chips plugged in while one is mid-update, one pulled out
    # mid-update, one pulled out once done while the others run.
    first = bed.plug(serial="QV000001")
    with tempfile.NamedTemporaryFile() as record, tempfile.TemporaryFile("w+") as output:
        watch = subprocess.Popen([CLI, "watch", "--count", "4", "--record", record.name],
                                 env=dict(os.environ, **bed.env(PRELOAD)), stdout=output,
                                 stderr=output)
        said = lambda: (watch.returncode, output.seek(0), output.read())

        def until(condition):
            while not condition():
                assert watch.poll() is None, said()
                time.sleep(0.01)

        until(lambda: first.board.blocks)
        later = [bed.plug(serial="QV00000%d" % n) for n in (2, 3, 4)]
        later[2].unplug_at = 3
        until(lambda: "QV000001" in open(record.name).read())
        first.unplug()
        watch.wait(timeout=240)
        results = [(r["serial"], r["result"]) for r in map(json.loads, open(record.name))]
        assert watch.returncode == 1 and sorted(results) == [
            ("QV000001", "ok"), ("QV000002", "ok"), ("QV000003", "ok"),
            ("QV000004", "unplugged")], (results, said())
    [check_flash(chip.board.flash, unpacker(PACK, FIRMWARE)) for chip in [first] + later[:2]]


if __name__ == "__main__":
    CASE, PROBE, CLI, PACK, FIRMWARE, *PRELOAD = sys.argv[1:]
    globals()[CASE](testbed.Testbed())
    print("passed")

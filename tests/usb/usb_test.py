#!/usr/bin/env python3
# The libftdi1 provider and the program over real libftdi1 and libusb, against FTDI chips on a
# umockdev testbed. One case per run, named by its function; without umockdev's bindings, or
# without a display for the cases that need one, the case reports itself skipped.

import argparse
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "support"), os.path.join(HERE, "..", "ui")]
import end_to_end  # noqa: E402
import xserver  # noqa: E402
from xserver import Failure  # noqa: E402

# Opened and set up as the link does it; each call's expected line is its status.
OPEN = [("oQuorvex", "0"), ("t100", "0"), ("l2", "0"), ("u65536", "0")]
SI = ("w5349", "0")


def rf(address, words):
    return ("w5246%06x%04x" % (address, words), "0")


def session(bed, args, *steps):
    # Runs the probe through the calls of `steps`, each beside the line it must print.
    calls = [call for call, _ in steps]
    done = subprocess.run([args.probe] + calls, env=dict(os.environ, **bed.env(args.preload)),
                          text=True,
                          capture_output=True, timeout=120)
    got = list(zip(calls, done.stdout.splitlines()))
    if got != list(steps):
        raise Failure("calls and results:\n%s\nwanted:\n%s\n%s" % (got, list(steps), done.stderr))


def opens_by_description(args, bed, testbed):
    for description, product in (("FT232R USB UART", 0x6001), ("Quorvex Pro", 0x6014),
                                 ("Quorve", 0x6001), ("quorvex", 0x6010)):
        bed.plug(description=description, product=product)
    bed.plug(description="Quorvex", openable=False)
    session(bed, args, ("oQuorvex", "2"))
    board = bed.plug(testbed.Board(0x35, 0x17), product=0x6015)
    session(bed, args, *OPEN, SI, ("r4", "0 4b523517"))
    if board.latency != 2 or any(chip.requests for chip in bed.chips[:-1]):
        raise Failure("the link's settings reached the wrong chip")


def reads(args, bed, testbed):
    board = bed.plug()
    board.board.flash[:] = os.urandom(len(board.board.flash))
    flash = board.board.flash.hex()
    session(bed, args, *OPEN,
            ("r8", "0 "),  # nothing comes: the timeout ends the read
            SI, ("t1000", "0"), ("r8", "0 4b522111"),  # half comes
            ("t0", "0"), rf(0x1234, 512), ("r2048", "0 " + flash[0x2468 * 2:0x2468 * 2 + 4096]),
            # 96 bytes of a 100-byte reply stay with libftdi1: the purge drops them.
            rf(0x40, 25), ("r4", "0 " + flash[0x100:0x108]), ("p1", "0"), ("t100", "0"),
            ("r4", "0 "), ("t0", "0"),
            SI, ("p2", "0"), ("r4", "0 4b522111"),  # a purge of what goes out keeps what comes
            SI, ("p1", "0"), ("t100", "0"), ("r4", "0 "))
    board.slow = True  # a reply that trickles in over many transfers, some of them empty
    session(bed, args, *OPEN, ("t0", "0"), rf(0x40, 100), ("r400", "0 " + flash[0x100:0x420]))


def unplugged_while_reading(args, bed, testbed):
    bed.plug().unplug_when_waiting = True
    session(bed, args, *OPEN, ("r4", "4 "), SI[:1] + ("4",), ("p3", "4"))


def program_updates_the_board(args, bed, testbed):
    board = testbed.Board()
    bed.plug(board)
    with tempfile.TemporaryDirectory() as work, xserver.XServer() as x:
        main = end_to_end.Window(x, args.program, dict(bed.env(args.preload), XDG_RUNTIME_DIR=work),
                                 args.out)
        main.find_device()
        main.flash_device()
        main.close("the program")
        end_to_end.check_flash(board.flash,
                               end_to_end.expected_flash(args.pack, args.firmware, work))


def program_ends_when_the_board_is_gone(args, bed, testbed):
    chip = bed.plug()
    with tempfile.TemporaryDirectory() as work, xserver.XServer() as x:
        main = end_to_end.Window(x, args.program, dict(bed.env(args.preload), XDG_RUNTIME_DIR=work),
                                 args.out)
        chip.unplug()
        x.click(main.window, *end_to_end.FIND_DEVICE)
        end_to_end.dismiss(x, main.process, "USB Error", os.path.join(args.out, "gone.png"))


CASES = [opens_by_description, reads, unplugged_while_reading, program_updates_the_board,
         program_ends_when_the_board_is_gone]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=[case.__name__ for case in CASES])
    for name in ("probe", "program", "pack", "firmware", "out", "preload"):
        parser.add_argument("--" + name, default="")
    args = parser.parse_args()
    try:
        import testbed
    except (ImportError, ValueError) as why:
        print("skipped: umockdev's Python bindings are missing:", why)
        return xserver.SKIP
    libraries = subprocess.run(["/sbin/ldconfig", "-p"], capture_output=True, text=True).stdout
    if "libumockdev-preload.so.0" not in libraries:
        print("skipped: umockdev's preload library is missing")
        return xserver.SKIP
    if args.case.startswith("program") and xserver.missing():
        print("skipped: not installed:", xserver.missing())
        return xserver.SKIP
    os.makedirs(args.out or ".", exist_ok=True)
    globals()[args.case](args, testbed.Testbed(), testbed)
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())

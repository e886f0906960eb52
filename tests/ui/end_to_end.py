#!/usr/bin/env python3
# The real program on a private X server against the drop-in board, as an operator works it:
# Find Device, Flash Device, "Flash Complete!", a second start refused, Ok!, a close; then a close
# in the middle of an update; then no board at all. Screenshots of each state land in --out.

import argparse
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import xserver  # noqa: E402
from xserver import Failure, wait_for, wait_exit  # noqa: E402

MAIN = r"Quorvex Updater v\d+\.\d+"
FIND_DEVICE = OK = (168, 232)
FLASH_DEVICE = (100, 232)
# Two strips of the window that tell its states apart: where only the progress bar or "Flash
# Device" ever shows, and where "Find Device" shows but "Ok!" does not.
BAR, FIND = (88, 224, 16, 16), (112, 224, 14, 16)
UNWRITTEN = slice(6144, 8192)  # flash bytes of the addresses that no update stage writes


class Window:
    def __init__(self, x, program, env, out):
        self.x, self.out = x, out
        self.process = launch(x, program, env)
        self.window = x.find(MAIN)
        x.drawn(self.window)
        self.start = self.state()

    def state(self):
        return self.x.picture(self.window, *BAR), self.x.picture(self.window, *FIND)

    def reach(self, what, test, shot):
        wait_for(what, lambda: test(*self.state()))
        self.x.screenshot(os.path.join(self.out, shot))

    def find_device(self):
        self.x.click(self.window, *FIND_DEVICE)
        self.reach("the board found", lambda bar, find: bar != self.start[0], "2-found.png")
        self.found = self.state()

    def flash_device(self):
        self.x.click(self.window, *FLASH_DEVICE)
        self.reach("the update to finish",
                   lambda bar, find: bar == self.start[0] and find != self.start[1],
                   "4-complete.png")
        self.complete = self.state()

    def close(self, what):
        self.x.close(self.window)
        status = wait_exit(self.process, what)
        if status != 0:
            raise Failure("%s ended with %d, not 0" % (what, status))


def launch(x, program, env):
    return subprocess.Popen([program], env=dict(x.env, **env))


def dismiss(x, process, title, shot):
    # The box `title`, photographed and dismissed; the program must then end with status 1.
    box = x.find(title)
    x.drawn(box)
    x.screenshot(shot)
    x.press_return(box)
    if wait_exit(process, title) != 1:
        raise Failure("the program did not end with status 1 after the box " + title)


def expected_flash(pack, firmware, work):
    image = os.path.join(work, "image.bin")
    subprocess.run([pack, "unpack", firmware, image], check=True)
    with open(image, "rb") as f:
        return f.read()[8:]


def check_flash(flash, expected):
    if flash[:UNWRITTEN.start] + flash[UNWRITTEN.stop:] != \
            expected[:UNWRITTEN.start] + expected[UNWRITTEN.stop:]:
        raise Failure("the board's flash differs from the embedded image")


def run(args, work):
    dump = os.path.join(work, "flash.bin")
    board = dict(LD_LIBRARY_PATH=args.dropin, QVX_BOARD_FLASH_OUT=dump, XDG_RUNTIME_DIR=work,
                 QVX_BOARD_TIMING="fullspeed")
    with xserver.XServer() as x:
        main = Window(x, args.program, board, args.out)
        x.screenshot(os.path.join(args.out, "1-start.png"))
        main.find_device()
        main.flash_device()
        dismiss(x, launch(x, args.program, board), "Quorvex Updater",
                os.path.join(args.out, "5-already-running.png"))
        x.click(main.window, *OK)
        main.reach("the start state", lambda bar, find: find != main.complete[1],
                   "6-start-again.png")
        main.close("the program")
        with open(dump, "rb") as f:
            check_flash(f.read(), expected_flash(args.pack, args.firmware, work))
        os.remove(dump)

        main = Window(x, args.program, dict(board, QVX_BOARD_TIMING="demo"), args.out)
        main.find_device()
        main.x.click(main.window, *FLASH_DEVICE)
        main.reach("the update to start",
                   lambda bar, find: bar not in (main.start[0], main.found[0]), "3-flashing.png")
        main.close("the program closed in the middle of an update")
        if not os.path.exists(dump):
            raise Failure("the link was not closed")

        dismiss(x, launch(x, args.program, dict(board, QVX_BOARD_ABSENT="1")), "USB Error!",
                os.path.join(args.out, "7-hardware-not-found.png"))


def main():
    parser = argparse.ArgumentParser()
    for name in ("program", "dropin", "pack", "firmware", "out"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args()
    if xserver.missing():
        print("skipped: not installed:", xserver.missing())
        return xserver.SKIP
    os.makedirs(args.out, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        run(args, work)
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
# The real program on a private X server against the drop-in board, as an operator works it:
# Find Device, Flash Device, "Flash Complete!", a second start refused, Ok!, a close; then a close
# in the middle of an update; then no board at all. Screenshots of each state land in SHOTS.
#   end_to_end.py PROGRAM DROPIN_FOLDER PACK_TOOL FIRMWARE SHOTS

import os, re, subprocess, sys, tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from flash_check import check_flash, unpacker  # noqa: E402
from xserver import TIMEOUT, XServer, wait_for  # noqa: E402

MAIN = r"Quorvex Updater v\d+\.\d+"
FIND_DEVICE = OK = (168, 232)
FLASH_DEVICE = (100, 232)
# Two strips of the window tell its states apart: where only the progress bar or "Flash Device"
# ever shows, and where "Find Device" shows but "Ok!" does not.
BAR, FIND = (88, 224, 16, 16), (112, 224, 14, 16)


def launch(x, program, env):
    return subprocess.Popen([program], env=dict(x.env, **env))


class Window:
    def __init__(self, x, program, env, shots):
        self.x, self.shots, self.process = x, shots, launch(x, program, env)
        self.window = x.find(MAIN)
        x.drawn(self.window)
        self.start = self.state()

    def state(self):
        return self.x.picture(self.window, *BAR), self.x.picture(self.window, *FIND)

    def click(self, point, what, reached, shot):
        # Clicks, waits until the two strips show `reached`, and takes a screenshot.
        self.x.click(self.window, *point)
        wait_for(what, lambda: reached(*self.state()))
        self.x.screenshot(os.path.join(self.shots, shot))
        return self.state()

    def find_device(self):
        self.found = self.click(FIND_DEVICE, "the board found",
                                lambda bar, _: bar != self.start[0], "2-found.png")

    def flash_device(self):
        return self.click(FLASH_DEVICE, "the update to finish",
                          lambda bar, find: bar == self.start[0] and find != self.start[1],
                          "4-complete.png")

    def close(self, what):
        self.x.close(self.window)
        assert self.process.wait(TIMEOUT) == 0, what + " did not end with status 0"


def dismiss(x, process, title, shot):
    # The box `title`, photographed and closed; the program must then end with status 1.
    box = x.find(title)
    x.drawn(box)
    x.screenshot(shot)
    x.close(box)
    assert process.wait(TIMEOUT) == 1, "the program did not end with status 1 after " + title


def run(program, dropin, pack, firmware, shots, work):
    dump = os.path.join(work, "flash.bin")
    # Both programs answer --help and --version on standard output; the window passes Qt's options
    # to Qt and refuses on standard error, with no board touched, a missing --image file and what
    # neither knows.
    cli = os.path.join(os.path.dirname(program), "quorvex")
    for command, status, said in (
            ([program, "-platform", "xcb", "--help"], 0, r"Usage: quorvex-updater .*-platform.*"),
            ([program, "--version"], 0, r"quorvex-updater \d+(\.\d+){3}\n"),
            ([cli, "--version"], 0, r"quorvex \d+(\.\d+){3}\n"),
            ([program, "--image", dump], 2, r"quorvex-updater: .*/flash\.bin: no such file\n"),
            ([program, "--bogus"], 2, r"quorvex-updater: unknown option: --bogus\nUsage: .*")):
        done = subprocess.run(command, capture_output=True, text=True, timeout=60)
        text = done.stderr if status else done.stdout
        assert done.returncode == status and re.fullmatch(said, text, re.S), done
    board = dict(LD_LIBRARY_PATH=dropin, QVX_BOARD_FLASH_OUT=dump, XDG_RUNTIME_DIR=work,
                 QVX_BOARD_TIMING="fullspeed")
    with XServer() as x:
        main = Window(x, program, board, shots)
        x.screenshot(os.path.join(shots, "1-start.png"))
        main.find_device()
        complete = main.flash_device()
        dismiss(x, launch(x, program, board), "Quorvex Updater",
                os.path.join(shots, "5-already-running.png"))
        main.click(OK, "the start state", lambda _, find: find != complete[1], "6-start-again.png")
        main.close("the program")
        with open(dump, "rb") as f:
            check_flash(f.read(), unpacker(pack, firmware))
        os.remove(dump)

        main = Window(x, program, dict(board, QVX_BOARD_TIMING="demo"), shots)
        main.find_device()
        # Anything but "Flash Device" there: the update has started (and the close comes after).
        main.click(FLASH_DEVICE, "the update to start", lambda bar, _: bar != main.found[0],
                   "3-flashing.png")
        main.close("the program closed in the middle of an update")
        assert os.path.exists(dump), "a close in the middle of an update left the link open"

        dismiss(x, launch(x, program, dict(board, QVX_BOARD_ABSENT="1")), "USB Error!",
                os.path.join(shots, "7-hardware-not-found.png"))


if __name__ == "__main__":
    os.makedirs(sys.argv[5], exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        run(*sys.argv[1:6], work)
    print("passed")

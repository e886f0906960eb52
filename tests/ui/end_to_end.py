#!/usr/bin/env python3
# The real program on a private X server against the drop-in board, as an operator works it: by
# keyboard (Enter and Escape press nothing in any state, Space presses the focused button, Tab moves
# on) and by mouse, a second start refused, a close in the middle of an update, no board at all,
# and no display at all. Screenshots of each state land in SHOTS.
#   end_to_end.py PROGRAM DROPIN_FOLDER PACK_TOOL FIRMWARE SHOTS

import os, re, subprocess, sys, tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "support"), os.path.join(HERE, "..", "..", "tools")]
from flash_check import check_flash, unpacker  # noqa: E402
from window_operator import COMPLETE, FOUND, START, Window, launch  # noqa: E402
from xserver import TIMEOUT, XServer, wait_for  # noqa: E402

def dismiss(x, process, title, shot):
    # The box `title`, photographed and closed; the program must then end with status 1.
    box = x.find(title)
    x.drawn(box)
    x.screenshot(shot)
    x.close(box)
    assert process.wait(TIMEOUT) == 1, "the program did not end with status 1 after " + title


def flash_of(dump):
    with open(dump, "rb") as f:
        flash = f.read()
    os.remove(dump)
    return flash


def run(program, dropin, pack, firmware, shots, work):
    dump = os.path.join(work, "flash.bin")
    # Both programs answer --help and --version on standard output, and the window's refusals and
    # its want of a display come on standard error, all with no display and no board touched;
    # the window passes Qt's options to Qt.
    cli = os.path.join(os.path.dirname(program), "quorvex")
    nowhere = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    for command, status, said in (
            ([program, "-platform", "xcb", "--help"], 0, r"Usage: quorvex-updater .*-platform.*"),
            ([program, "--version"], 0, r"quorvex-updater \d+(\.\d+){3}\n"),
            ([cli, "--version"], 0, r"quorvex \d+(\.\d+){3}\n"),
            ([program, "--image", dump], 2, r"quorvex-updater: .*/flash\.bin: no such file\n"),
            ([program, "--bogus"], 2, r"quorvex-updater: unknown option: --bogus\nUsage: .*"),
            ([program], 3, r"quorvex-updater: cannot open the window: no display \(neither DISPLAY "
                           r"nor WAYLAND_DISPLAY is set\); quorvex, the command line, needs none\n")):
        done = subprocess.run(command, capture_output=True, text=True, timeout=60, env=nowhere)
        text = done.stderr if status else done.stdout
        assert done.returncode == status and re.fullmatch(said, text, re.S), done
    board = dict(LD_LIBRARY_PATH=dropin, QVX_BOARD_FLASH_OUT=dump, XDG_RUNTIME_DIR=work,
                 TMPDIR=work, QVX_BOARD_TIMING="fullspeed")
    with XServer("1280x480", screens=2) as x:
        # The window opens in the middle of the screen that holds the pointer.
        x.point(960, 100)
        # Without XDG_RUNTIME_DIR, quietly.
        main = Window(x, program, dict(board, XDG_RUNTIME_DIR=None), shots, stderr=subprocess.PIPE)
        assert x.position(main.window) == (640 + (640 - 336) // 2, (480 - 273) // 2), \
            "the window is not centred on the pointer's screen"
        x.screenshot(os.path.join(shots, "1-start.png"))
        # Space presses the focused button: Find Device, then in its place Abort Flash. Enter and
        # Escape before it press nothing, or Space would press another button, or none.
        for state, shot in ((FOUND, "2-found.png"), (START, None)):
            main.keys(["Return", "KP_Enter", "Escape", "space"], "the window's next state", state, shot)
        main.close("the program")
        assert flash_of(dump) == b"\xff" * 65536, "a key wrote to the board"
        assert main.process.stderr.read() == b"", "the program had something to say"

        main = Window(x, program, board, shots)
        main.find_device()
        # Tab moves on from Abort Flash to Flash Device, and Space presses it.
        main.keys(["Tab", "space"], "the update to finish", COMPLETE, "4-complete.png")
        dismiss(x, launch(x, program, board), "Quorvex Updater",
                os.path.join(shots, "5-already-running.png"))
        main.keys(["Return", "KP_Enter", "Escape", "space"], "the start state", START,
                  "6-start-again.png")
        main.close("the program")
        check_flash(flash_of(dump), unpacker(pack, firmware))

        # What Qt says while it starts still shows, here of a style it does not have.
        main = Window(x, program, dict(board, QVX_BOARD_TIMING="demo", QT_STYLE_OVERRIDE="none"),
                      shots, stderr=subprocess.PIPE)
        main.find_device()
        main.flash()
        x.screenshot(os.path.join(shots, "3-flashing.png"))
        main.close("the program closed in the middle of an update")
        assert os.path.exists(dump), "a close in the middle of an update left the link open"
        assert b"invalid style override 'none'" in main.process.stderr.read()

        dismiss(x, launch(x, program, dict(board, QVX_BOARD_ABSENT="1")), "USB Error!",
                os.path.join(shots, "7-hardware-not-found.png"))


if __name__ == "__main__":
    os.makedirs(sys.argv[5], exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        run(*sys.argv[1:6], work)
    print("passed")

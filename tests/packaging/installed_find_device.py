#!/usr/bin/env python3
"""Starts the program as the package installs it (from the unpacked root, not the build tree)
under Xvfb against the drop-in virtual board, presses Find Device, then closes the window.
The window must reach the device-found state with no message box, and the program must end
with status 0 and close the board."""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "ui"))
import end_to_end as x11  # noqa: E402  (the window's own X11 driver: Xvfb, xdotool, closing)

MAIN_TITLE = r"^Quorvex Updater v1\.2$"


def refuse_boxes(env, when):
    found = x11.xdotool(env, "search", "--onlyvisible", "--name", ".").split()
    names = [x11.xdotool(env, "getwindowname", w) for w in found]
    boxes = [name for name in names if not re.match(MAIN_TITLE, name)]
    if boxes:
        raise x11.Failure("%s showed a box: %s" % (when, boxes))


def run(program, dropin, workdir):
    flash_out = os.path.join(workdir, "flash.bin")
    runtime = os.path.join(workdir, "runtime")
    os.mkdir(runtime, 0o700)
    server, display = x11.start_xvfb()
    env = dict(os.environ, DISPLAY=display, XDG_RUNTIME_DIR=runtime, LD_LIBRARY_PATH=dropin,
               QVX_BOARD_TIMING="off", QVX_BOARD_FLASH_OUT=flash_out)
    if "ASAN_OPTIONS" in env and "suppressions=" not in env["ASAN_OPTIONS"]:
        supp = os.path.join(os.path.dirname(x11.__file__), "asan_x11.supp")
        # Full stacks, so that the leak suppressions can tell Qt's D-Bus thread apart.
        env["ASAN_OPTIONS"] += ":fast_unwind_on_malloc=0:suppressions=" + supp
    env.pop("QT_QPA_PLATFORM", None)
    env.pop("WAYLAND_DISPLAY", None)
    process = None
    try:
        process = subprocess.Popen([program], env=env)

        def main_window():
            if process.poll() is not None:
                raise x11.Failure("the program ended at start-up (status %d)" % process.returncode)
            window = x11.find_window(env, MAIN_TITLE)
            refuse_boxes(env, "the start-up")
            return window

        window = x11.wait_for("the main window", main_window)
        start = x11.settle(env, window)
        x11.click(env, window, x11.FIND_DEVICE)
        x11.settle(env, window, different_from=start)
        if process.poll() is not None:
            raise x11.Failure("the program ended on Find Device (status %d)" % process.returncode)
        refuse_boxes(env, "Find Device")
        x11.close_window(display, window)
        status = x11.wait_exit(process, "the program")
        if status != 0:
            raise x11.Failure("the program ended with %d after a close, not 0" % status)
    finally:
        if process and process.poll() is None:
            process.kill()
        server.terminate()
        server.wait()
    # The drop-in board writes its flash out when the program closes it; Find Device writes
    # nothing, so it is still erased.
    if not os.path.exists(flash_out):
        raise x11.Failure("the program did not close the board")
    with open(flash_out, "rb") as f:
        if f.read().strip(b"\xff"):
            raise x11.Failure("Find Device changed the board's flash")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--root", required=True, help="the unpacked package")
    parser.add_argument("--dropin", required=True, help="folder holding libftd2xx.so")
    args = parser.parse_args()

    missing = [tool for tool in ("Xvfb", "xdotool", "import") if not shutil.which(tool)]
    if missing:
        print("skipped: not installed:", " ".join(missing))
        return x11.SKIP
    with tempfile.TemporaryDirectory() as workdir:
        try:
            run(os.path.join(args.root, "usr", "bin", "quorvex-updater"), args.dropin, workdir)
        except x11.Failure as failure:
            print("FAILED:", failure)
            return 1
    print("the installed program found the board and closed cleanly")
    return 0


if __name__ == "__main__":
    sys.exit(main())

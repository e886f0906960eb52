#!/usr/bin/env python3
"""Runs the real program under Xvfb against the drop-in virtual board, as an operator would:
Find Device, Flash Device, Ok!, a second start that is refused, a close of the window; then once
more, closed in the middle of an update; then once without a board. Saves a screenshot of every state and checks the exit
statuses and the board's flash dump."""

import argparse
import ctypes
import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77
TIMEOUT = 60.0  # generous: the sanitizer build starts slowly

# Button centres in the window's logical pixels.
FIND_DEVICE = (168, 232)
FLASH_DEVICE = (100, 232)
OK = (168, 232)

# Flash bytes of the addresses no update stage writes (3,072 to 4,095).
UNWRITTEN = range(6144, 8192)


class Failure(Exception):
    pass


def wait_for(what, probe, timeout=TIMEOUT, interval=0.05):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        result = probe()
        if result:
            return result
        time.sleep(interval)
    raise Failure("timed out waiting for " + what)


def start_xvfb():
    read_end, write_end = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "640x480x24", "-nolisten", "tcp"],
        pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        number = pipe.readline().strip()
    if not number:
        server.kill()
        raise Failure("Xvfb did not start")
    return server, ":" + number


def xdotool(env, *args):
    done = subprocess.run(["xdotool", *args], env=env, capture_output=True, text=True)
    return done.stdout.strip() if done.returncode == 0 else ""


def find_window(env, title_regex):
    found = xdotool(env, "search", "--onlyvisible", "--name", title_regex)
    return found.split()[0] if found else ""


def grab(env, window):
    done = subprocess.run(["import", "-window", window, "rgb:-"], env=env, capture_output=True)
    return done.stdout if done.returncode == 0 else b""


def settle(env, window, different_from=None):
    """Waits until the window's picture stops changing (and differs from an earlier one)."""
    previous = [grab(env, window)]

    def steady():
        current = grab(env, window)
        stable = current and current == previous[0] and current != different_from
        previous[0] = current
        return current if stable else None

    time.sleep(0.1)
    return wait_for("the window to settle", steady, interval=0.2)


def screenshot(env, path):
    subprocess.run(["import", "-window", "root", path], env=env, check=True)
    print("screenshot:", path)


def click(env, window, point):
    xdotool(env, "mousemove", "--window", window, str(point[0]), str(point[1]))
    xdotool(env, "click", "1")


def dismiss_box(env, title_regex, path):
    """Waits for a message box by its title, photographs it and presses its OK button."""
    box = wait_for("the box " + title_regex, lambda: find_window(env, title_regex))
    settle(env, box)
    screenshot(env, path)
    xdotool(env, "windowfocus", "--sync", box)
    xdotool(env, "key", "Return")


def close_window(display, window):
    """Asks the window to close as a window manager would (WM_DELETE_WINDOW)."""
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.c_void_p]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                    ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                    ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

    class Event(ctypes.Union):
        _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]

    connection = x11.XOpenDisplay(display.encode())
    if not connection:
        raise Failure("cannot open display " + display)
    event = Event()
    event.xclient.type = 33  # ClientMessage
    event.xclient.window = int(window)
    event.xclient.message_type = x11.XInternAtom(connection, b"WM_PROTOCOLS", 0)
    event.xclient.format = 32
    event.xclient.data[0] = x11.XInternAtom(connection, b"WM_DELETE_WINDOW", 0)
    x11.XSendEvent(connection, int(window), 0, 0, ctypes.byref(event))
    x11.XFlush(connection)
    x11.XCloseDisplay(connection)


def expected_flash(pack_tool, firmware, workdir):
    image_path = os.path.join(workdir, "image.bin")
    subprocess.run([pack_tool, "unpack", firmware, image_path], check=True)
    with open(image_path, "rb") as f:
        flash = bytearray(f.read()[8:])
    for i in UNWRITTEN:
        flash[i] = 0xFF  # erased, never written
    return bytes(flash)


def wait_exit(process, what):
    try:
        return process.wait(timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        process.kill()
        raise Failure(what + " did not end")


def run(args, workdir):
    shots = args.out
    os.makedirs(shots, exist_ok=True)
    dump = os.path.join(workdir, "flash.bin")
    runtime = os.path.join(workdir, "runtime")
    os.mkdir(runtime, 0o700)

    server, display = start_xvfb()
    env = dict(os.environ, DISPLAY=display, XDG_RUNTIME_DIR=runtime,
               LD_LIBRARY_PATH=args.dropin, QVX_BOARD_TIMING="demo",
               QVX_BOARD_FLASH_OUT=dump)
    if "ASAN_OPTIONS" in env and "suppressions=" not in env["ASAN_OPTIONS"]:
        supp = os.path.join(os.path.dirname(os.path.abspath(__file__)), "asan_x11.supp")
        # Full stacks, so that the leak suppressions can tell Qt's D-Bus thread apart.
        env["ASAN_OPTIONS"] += ":fast_unwind_on_malloc=0:suppressions=" + supp
    env.pop("QT_QPA_PLATFORM", None)
    env.pop("WAYLAND_DISPLAY", None)
    program = None
    try:
        program = subprocess.Popen([args.program], env=env)
        window = wait_for("the main window",
                          lambda: find_window(env, r"^Quorvex Updater v[0-9]+\.[0-9]+$"))
        start = settle(env, window)
        screenshot(env, os.path.join(shots, "1-start.png"))

        click(env, window, FIND_DEVICE)
        found = settle(env, window, different_from=start)
        screenshot(env, os.path.join(shots, "2-device-found.png"))

        click(env, window, FLASH_DEVICE)
        wait_for("the update to start", lambda: grab(env, window) != found)
        time.sleep(1.0)  # part-way through the demo board's six-second update
        screenshot(env, os.path.join(shots, "3-flashing.png"))

        # The bar moves every block; a picture that holds still for two seconds is the end.
        def finished():
            first = grab(env, window)
            time.sleep(2.0)
            return first if first == grab(env, window) else None

        wait_for("the update to finish", finished)
        screenshot(env, os.path.join(shots, "4-complete.png"))

        second = subprocess.Popen([args.program], env=env)
        dismiss_box(env, r"^Quorvex Updater$", os.path.join(shots, "5-already-running-box.png"))
        status = wait_exit(second, "the second instance")
        if status != 1:
            raise Failure("the refused second instance ended with %d, not 1" % status)

        click(env, window, OK)
        settle(env, window)
        screenshot(env, os.path.join(shots, "6-start-again.png"))

        close_window(display, window)
        status = wait_exit(program, "the program")
        if status != 0:
            raise Failure("the program ended with %d after a close, not 0" % status)
        with open(dump, "rb") as f:
            flashed = f.read()

        # Closed in the middle of an update: the program ends quietly, with status 0.
        program = subprocess.Popen([args.program], env=env)
        window = wait_for("the main window again",
                          lambda: find_window(env, r"^Quorvex Updater v[0-9]+\.[0-9]+$"))
        start = settle(env, window)
        click(env, window, FIND_DEVICE)
        found = settle(env, window, different_from=start)
        click(env, window, FLASH_DEVICE)
        wait_for("the second update to start", lambda: grab(env, window) != found)
        close_window(display, window)
        status = wait_exit(program, "the program closed mid-update")
        if status != 0:
            raise Failure("the program ended with %d after a close mid-update, not 0" % status)

        # No board: only the start-up box, then the program ends with status 1.
        program = subprocess.Popen([args.program], env=dict(env, QVX_BOARD_ABSENT="1"))
        dismiss_box(env, r"^USB Error!$", os.path.join(shots, "7-hardware-not-found-box.png"))
        status = wait_exit(program, "the program without a board")
        if status != 1:
            raise Failure("without a board the program ended with %d, not 1" % status)
    finally:
        for process in (program,):
            if process and process.poll() is None:
                process.kill()
        server.terminate()
        server.wait()

    if flashed != expected_flash(args.pack, args.firmware, workdir):
        raise Failure("the board's flash differs from the embedded image")
    print("flash dump matches the embedded image")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--program", required=True)
    parser.add_argument("--dropin", required=True, help="folder holding libftd2xx.so")
    parser.add_argument("--pack", required=True, help="the packing tool, to unpack the image")
    parser.add_argument("--firmware", required=True, help="the embedded firmware container")
    parser.add_argument("--out", required=True, help="folder for the screenshots")
    args = parser.parse_args()

    missing = [tool for tool in ("Xvfb", "xdotool", "import") if not shutil.which(tool)]
    if missing:
        print("skipped: not installed:", " ".join(missing))
        return SKIP
    with tempfile.TemporaryDirectory() as workdir:
        try:
            run(args, workdir)
        except Failure as failure:
            print("FAILED:", failure)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

# The one X server driver for the tests that need a display: a private Xvfb, windows found by
# title, clicks, keys, pictures, screenshots, and closes as a window manager sends them.

import os
import re
import shutil
import subprocess
import time

try:
    from Xlib import X, XK, display, error
    from Xlib.ext import xtest
    from Xlib.protocol import event
except ImportError:  # missing() names it
    display = None

SKIP = 77
TIMEOUT = 60.0  # generous: programs under the sanitizer start slowly on a loaded machine
HERE = os.path.dirname(os.path.abspath(__file__))


class Failure(Exception):
    pass


def wait_for(what, probe, timeout=TIMEOUT):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        result = probe()
        if result:
            return result
        time.sleep(0.05)
    raise Failure("timed out waiting for " + what)


def wait_exit(process, what):
    try:
        return process.wait(timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        process.kill()
        raise Failure(what + " did not end")


def missing():
    # What a display needs that is not installed here, or "".
    tools = [tool for tool in ("Xvfb", "import") if not shutil.which(tool)]
    return " ".join(tools + ([] if display else ["python3-xlib"]))


class XServer:
    def __init__(self):
        read_end, write_end = os.pipe()
        # -noreset: by default the server resets whenever its last client leaves, and drops a
        # client that connects in the meantime ("could not connect to display").
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-noreset", "-nolisten", "tcp",
             "-screen", "0", "640x480x24"], pass_fds=(write_end,), stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()  # written once the server accepts clients
        if not number:
            raise Failure("Xvfb did not start")
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("QT_QPA_PLATFORM", "WAYLAND_DISPLAY")}
        self.env["DISPLAY"] = ":" + number
        if "ASAN_OPTIONS" in self.env:
            # Full stacks, so that the leak suppressions can tell Qt's D-Bus thread apart.
            self.env["ASAN_OPTIONS"] += ":fast_unwind_on_malloc=0:suppressions=" + \
                os.path.join(HERE, "asan_x11.supp")
        self.x = display.Display(self.env["DISPLAY"])
        self.root = self.x.screen().root

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.x.close()
        self.server.terminate()
        self.server.wait()

    def find(self, title):
        # The shown top-level window whose whole title matches.
        def shown():
            for window in self.root.query_tree().children:
                try:
                    name = window.get_wm_name()
                    if name and re.fullmatch(title, name) and \
                            window.get_attributes().map_state == X.IsViewable:
                        return window
                except error.XError:  # gone in the meantime
                    pass

        return wait_for("the window " + title, shown)

    def click(self, window, x, y):
        at = self.root.translate_coords(window, x, y)
        xtest.fake_input(self.x, X.MotionNotify, x=at.x, y=at.y)
        xtest.fake_input(self.x, X.ButtonPress, 1)
        xtest.fake_input(self.x, X.ButtonRelease, 1)
        self.x.sync()

    def press_return(self, window):
        window.set_input_focus(X.RevertToParent, X.CurrentTime)
        key = self.x.keysym_to_keycode(XK.XK_Return)
        xtest.fake_input(self.x, X.KeyPress, key)
        xtest.fake_input(self.x, X.KeyRelease, key)
        self.x.sync()

    def picture(self, window, x=0, y=0, width=None, height=None):
        # The window's pixels, or those of a part of it, as raw bytes to compare.
        size = window.get_geometry()
        return window.get_image(x, y, width or size.width, height or size.height,
                                X.ZPixmap, 0xFFFFFFFF).data

    def drawn(self, window):
        # Waits until the window shows more than one colour.
        def varied():
            pixels = self.picture(window)
            return pixels != pixels[:4] * (len(pixels) // 4)

        wait_for("the window to be drawn", varied)

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", path], env=self.env, check=True)
        print("screenshot:", path)

    def close(self, window):
        protocols = self.x.intern_atom("WM_PROTOCOLS")
        delete = self.x.intern_atom("WM_DELETE_WINDOW")
        window.send_event(event.ClientMessage(window=window, client_type=protocols,
                                              data=(32, [delete, X.CurrentTime, 0, 0, 0])))
        self.x.sync()

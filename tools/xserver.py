# The one X server driver for the tests that need a display: a private Xvfb, with screens side by
# side if asked; windows found by title, clicks, keys, pictures, screenshots, and focus and closes
# as a window manager gives them.

import os, re, subprocess, time

from Xlib import X, XK, display, error
from Xlib.ext import xtest
from Xlib.protocol import event, rq

TIMEOUT = 60.0  # generous: programs under the sanitizer start slowly on a loaded machine


def wait_for(what, probe):
    deadline = time.monotonic() + TIMEOUT
    while time.monotonic() < deadline:
        result = probe()
        if result:
            return result
        time.sleep(0.05)
    raise TimeoutError("timed out waiting for " + what)


class SetMonitor(rq.Request):  # RandR's; python3-xlib's own cannot pack its monitor
    _request = rq.Struct(
        rq.Card8("opcode"), rq.Opcode(43), rq.RequestLength(), rq.Window("window"), rq.Card32("name"),
        rq.Bool("primary"), rq.Bool("automatic"), rq.Card16("crtcs"), rq.Int16("x"), rq.Int16("y"),
        rq.Card16("width"), rq.Card16("height"), rq.Card32("mm_width"), rq.Card32("mm_height"))


class XServer:
    def __init__(self, screen="640x480", screens=1):
        read_end, write_end = os.pipe()
        # -noreset: by default the server resets whenever its last client leaves, and drops a
        # client that connects in the meantime ("could not connect to display").
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-noreset", "-nolisten", "tcp", "-screen", "0",
             screen + "x24"], pass_fds=(write_end,), stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()  # written once the server accepts clients
        assert number, "Xvfb did not start"
        self.env = dict(os.environ, DISPLAY=":" + number, QT_QPA_PLATFORM="xcb")
        if "ASAN_OPTIONS" in self.env:  # full stacks tell Qt's D-Bus thread apart in leak reports
            self.env["ASAN_OPTIONS"] += ":fast_unwind_on_malloc=0:suppressions=" + \
                os.path.join(os.path.dirname(os.path.abspath(__file__)), "asan_x11.supp")
        self.x = display.Display(self.env["DISPLAY"])
        self.root = self.x.screen().root
        width, height = (int(n) for n in screen.split("x"))
        for i in range(screens if screens > 1 else 0):  # at 96 dpi
            SetMonitor(display=self.x.display, opcode=self.x.display.get_extension_major("RANDR"),
                       window=self.root, name=self.x.intern_atom("screen-%d" % i), primary=i == 0,
                       automatic=False, crtcs=0, x=i * width // screens, y=0,
                       width=width // screens, height=height, mm_width=width // screens * 254 // 960,
                       mm_height=height * 254 // 960)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        try:
            self.x.close()
        finally:  # the server goes whatever the test left behind
            self.server.terminate()
            self.server.wait()

    def find(self, title):
        # The shown top-level window whose whole title matches.
        def shown():
            for window in self.root.query_tree().children:
                try:
                    if re.fullmatch(title, window.get_wm_name() or "") and \
                            window.get_attributes().map_state == X.IsViewable:
                        return window
                except error.XError:  # gone in the meantime
                    pass

        return wait_for("the window " + title, shown)

    def point(self, x, y):
        xtest.fake_input(self.x, X.MotionNotify, x=x, y=y)
        self.x.sync()

    def click(self, window, x, y):
        at = self.root.translate_coords(window, x, y)
        self.point(at.x, at.y)
        xtest.fake_input(self.x, X.ButtonPress, 1)
        xtest.fake_input(self.x, X.ButtonRelease, 1)
        self.x.sync()

    def position(self, window):
        at = self.root.translate_coords(window, 0, 0)
        return at.x, at.y

    def focus(self, window):  # as a window manager gives it
        window.set_input_focus(X.RevertToParent, X.CurrentTime)
        self.x.sync()

    def keys(self, *names):
        # Each key pressed and released, in order, as the keyboard sends them.
        for name in names:
            code = self.x.keysym_to_keycode(XK.string_to_keysym(name))
            xtest.fake_input(self.x, X.KeyPress, code)
            xtest.fake_input(self.x, X.KeyRelease, code)
        self.x.sync()

    def picture(self, window, x=0, y=0, width=0, height=0):
        # The pixels of the window, or of a part of it, as bytes to compare.
        size = window.get_geometry()
        return window.get_image(x, y, width or size.width, height or size.height, X.ZPixmap,
                                0xFFFFFFFF).data

    def drawn(self, window):
        # Waits until the window shows more than one colour.
        wait_for("the window drawn", lambda: len(set(self.picture(window)[::4])) > 1)

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", path], env=self.env, check=True)

    def close(self, window):
        message = [self.x.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0]
        window.send_event(event.ClientMessage(
            window=window, client_type=self.x.intern_atom("WM_PROTOCOLS"), data=(32, message)))
        self.x.sync()

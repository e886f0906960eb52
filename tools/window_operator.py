# The window's operator, for the demo without a display and the tests: the window found on the
# X server, its state told by what two strips of it show, clicks and keys that wait for the state
# they lead to, and screenshots.

import os, subprocess

from xserver import TIMEOUT, wait_for

MAIN = r"Quorvex Updater v\d+\.\d+"
FIND_DEVICE = OK = (168, 232)
FLASH_DEVICE = (100, 232)
# Two strips of the window, each showing something or the bare window, tell the states apart: where
# only the progress bar or "Flash Device" ever shows, and where "Find Device", "Flash Device" or the
# bar show but "Ok!" does not. Whatever a button shows within (focus, hover) does not count.
BAR, FIND, BARE = (88, 224, 16, 16), (112, 224, 14, 16), 8
START, FOUND, COMPLETE = (False, True), (True, True), (False, False)


def launch(x, program, env, **popen):  # a variable given as None is unset
    env = {k: v for k, v in dict(x.env, **env).items() if v is not None}
    return subprocess.Popen([program], env=env, **popen)


class Window:
    def __init__(self, x, program, env, shots, **popen):
        self.x, self.shots, self.process = x, shots, launch(x, program, env, **popen)
        self.window = x.find(MAIN)
        x.drawn(self.window)

    def shows(self, strip):
        bare = (BARE,) + strip[1:]
        return self.x.picture(self.window, *strip) != self.x.picture(self.window, *bare)

    def reach(self, what, state, shot=None):
        # Waits until the two strips show `state`, and takes a screenshot.
        wait_for(what, lambda: (self.shows(BAR), self.shows(FIND)) == state)
        if shot:
            self.x.screenshot(os.path.join(self.shots, shot))

    def click(self, point, what, state, shot=None):
        self.x.click(self.window, *point)
        self.x.point(0, 0)  # off the window again
        self.reach(what, state, shot)

    def keys(self, keys, what, state, shot=None):
        self.x.focus(self.window)  # back from any box
        self.x.keys(*keys)
        self.reach(what, state, shot)

    def find_device(self, shot="2-found.png"):
        self.click(FIND_DEVICE, "the board found", FOUND, shot)

    def flash_device(self, shot="4-complete.png"):
        self.flash()
        self.reach("the update to finish", COMPLETE, shot)

    def flash(self):
        # Clicks Flash Device and waits until anything but it shows there: the bar.
        found = self.x.picture(self.window, *BAR)
        self.x.click(self.window, *FLASH_DEVICE)
        wait_for("the update to start", lambda: self.x.picture(self.window, *BAR) != found)

    def close(self, what):
        self.x.close(self.window)
        assert self.process.wait(TIMEOUT) == 0, what + " did not end with status 0"

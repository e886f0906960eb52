#!/usr/bin/env python3
# make demo where there is no display: the window on a virtual X server against the drop-in
# board at the demo's pace, worked by the window's operator (which the end-to-end tests use too),
# and a screenshot of each state, named as they are taken.
#   demo_window.py PROGRAM DROPIN_FOLDER SHOTS

import os, sys, tempfile, time

from window_operator import COMPLETE, OK, START, Window
from xserver import XServer


def demo(program, dropin, shots, work):
    board = dict(LD_LIBRARY_PATH=dropin, XDG_RUNTIME_DIR=work, QVX_BOARD_TIMING="demo")
    with XServer() as x:
        def shot(name):
            x.screenshot(os.path.join(shots, name))
            print(os.path.join(shots, name))

        main = Window(x, program, board, shots)
        shot("1-start.png")
        main.find_device(None)
        shot("2-found.png")
        main.flash()
        time.sleep(2)  # some way into it
        shot("3-flashing.png")
        main.reach("the update to finish", COMPLETE)
        shot("4-complete.png")
        main.click(OK, "the start state", START)
        shot("5-start-again.png")
        main.close("the window")


if __name__ == "__main__":
    os.makedirs(sys.argv[3], exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        demo(*sys.argv[1:4], work)

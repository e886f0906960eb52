#!/usr/bin/env python3
# The Windows program under Wine and Xvfb: installed silently from its installer, then against
# the drop-in board Find Device, Flash Device, "Flash Complete!", a second instance refused, Ok!
# and a close, with the board's flash checked; then, with no driver library, its box. The
# operator is played from inside Wine (qvx-operator); the screenshots come from X.
#   end_to_end.py build=DIR dropin=DIR operator=EXE pack=EXE firmware=FILE out=DIR

import glob
import os
import subprocess
import sys
import tempfile
import time
import types

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from xserver import Failure, XServer, wait_exit  # noqa: E402

CAPTION = "Quorvex Updater v1.2"
UNWRITTEN = range(6144, 8192)  # flash bytes of the addresses 3,072 to 4,095: no stage writes them


def run(a, x, work):
    at = lambda path: "Z:" + path.replace("/", "\\")  # a Unix path as Wine's programs name it
    wine = lambda *args: subprocess.run(["wine", *args], env=x.env, check=True)
    operate = lambda title, kind, text, act="": wine(a.operator, title, kind, text, act)
    shot = lambda name: x.screenshot(os.path.join(a.out, name + ".png"))

    def ends(process, status, what):
        if wait_exit(process, what) != status:
            raise Failure("%s did not end with status %d" % (what, status))

    subprocess.run(["cpack", "-G", "NSIS", "-B", work], cwd=a.build, check=True, capture_output=True)
    installer = glob.glob(os.path.join(work, "quorvex-updater-*-win64.exe"))[0]
    wine(installer, "/S", "/D=" + at(work + "/installed"))  # silent, into that folder
    program = os.path.join(work, "installed", "quorvex-updater.exe")
    # One Wine desktop with frames and title bars, as large as the X screen, for both programs.
    for key, name, value in (("Explorer\\Desktops", "qvx", "640x480"),
                             ("AppDefaults\\quorvex-updater.exe\\Explorer", "Desktop", "qvx"),
                             ("AppDefaults\\qvx-operator.exe\\Explorer", "Desktop", "qvx")):
        wine("reg", "add", "HKCU\\Software\\Wine\\" + key, "/v", name, "/d", value, "/f")

    dump = os.path.join(work, "flash.bin")
    board = dict(x.env, WINEPATH=at(a.dropin), QVX_BOARD_TIMING="demo", QVX_BOARD_FLASH_OUT=at(dump))
    process = subprocess.Popen(["wine", program], env=board)
    for number, (kind, text, state) in enumerate((("Button", "Find Device", "start"),
                                                 ("Button", "Flash Device", "device-found"),
                                                 ("msctls_progress32", "", "flashing"),
                                                 ("Static", "Flash Complete!", "complete")), 1):
        operate(CAPTION, kind, text)
        time.sleep(1.0 if state == "flashing" else 0)  # part-way through the demo board's update
        shot("%d-%s" % (number, state))
        if kind == "Button":
            operate(CAPTION, kind, text, "click")
    second = subprocess.Popen(["wine", program], env=board)
    operate("Quorvex Updater", "Static", "quorvex-updater already running! ")
    shot("5-already-running-box")
    operate("Quorvex Updater", "Button", "OK", "click")
    ends(second, 1, "the second instance")
    operate(CAPTION, "Button", "Ok!", "click")
    operate(CAPTION, "Button", "Find Device", "close")
    ends(process, 0, "the program closed by the operator")

    wine(a.pack, "unpack", at(a.firmware), at(work + "/image.bin"))
    with open(work + "/image.bin", "rb") as image, open(dump, "rb") as flash:
        expected = bytearray(image.read()[8:])
        expected[UNWRITTEN.start:UNWRITTEN.stop] = b"\xff" * len(UNWRITTEN)  # erased
        if flash.read() != expected:
            raise Failure("the board's flash differs from the embedded image")

    process = subprocess.Popen(["wine", program], env=x.env)  # no FTD2XX.DLL on the search path
    operate("USB Error!", "Static", "Quorvex hardware not found!")
    shot("7-hardware-not-found-box")
    operate("USB Error!", "Button", "OK", "click")
    ends(process, 1, "the program without a driver library")


def main():
    args = types.SimpleNamespace(**dict(arg.split("=", 1) for arg in sys.argv[1:]))
    os.makedirs(args.out, exist_ok=True)
    with tempfile.TemporaryDirectory() as work, XServer() as x:
        try:
            run(args, x, work)
        except (Failure, subprocess.CalledProcessError) as failure:
            print("FAILED:", failure)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

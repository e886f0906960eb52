#!/usr/bin/env python3
# The Windows programs under Wine on a private X server: installed silently from their
# installer, which puts its folder on the system PATH (and, when make test-windows signs them,
# every signature checked); the command line, found through that PATH, finds the drop-in board;
# the window, against it, Find Device, Flash Device, "Flash Complete!", a second start refused,
# Ok! and a close, with the board's flash checked; then, with no driver library, its box; a link
# lost on Find Device; an update that fails, and a close in the middle of an update; the window at
# 96, 144 and 192 dpi; last the silent uninstall, which leaves neither folder, PATH entry nor
# registry key. The operator is played from inside Wine (OPERATOR); X gives the screenshots, in
# SHOTS.
#   end_to_end.py INSTALLER DROPIN_FOLDER OPERATOR PACK_TOOL FIRMWARE SHOTS

import glob, os, re, subprocess, sys, tempfile, time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from flash_check import check_flash  # noqa: E402
from xserver import TIMEOUT, XServer, wait_for  # noqa: E402

MAIN = "Quorvex Updater v1.2"
STEP3_VERIFY = ("Step 3 - Device verify error!  Data is corrupted!  ** DO NOT POWER OFF BOARD!! **"
                "  Re-try update!")
SCREEN = "1024x768"  # room for the window at 192 dpi
ENVIRONMENT = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment"


def run(installer, dropin, operator, pack, firmware, shots, x, work):
    at = lambda path: "Z:" + path.replace("/", "\\")  # a Unix path as Wine's programs name it
    wine = lambda *args: subprocess.run(["wine", *args], env=x.env, check=True, timeout=TIMEOUT)
    operate = lambda title, kind, text, act="": wine(operator, title, kind, text, act)
    shot = lambda name: x.screenshot(os.path.join(shots, name + ".png"))
    reg = lambda key, *args: subprocess.run(["wine", "reg", "query", key, *args], env=x.env,
                                            capture_output=True, text=True, timeout=TIMEOUT)
    path = lambda: [entry.strip() for entry in reg(ENVIRONMENT, "/v", "Path").stdout.split(";")]

    def ends(process, status, what):
        assert process.wait(timeout=TIMEOUT) == status, "%s did not end with %d" % (what, status)

    folder = os.path.join(work, "installed")
    wine(installer, "/S", "/D=" + at(folder))  # silent, into that folder
    program = os.path.join(folder, "quorvex-updater.exe")
    assert path()[-1] == at(folder), "the installer did not add its folder to the system PATH"
    for signed in glob.glob(folder + "/*.exe") + [installer] if "QVX_SIGN_CA" in os.environ else []:
        subprocess.run(["osslsigncode", "verify", "-CAfile", os.environ["QVX_SIGN_CA"], "-in",
                        signed], check=True, stdout=subprocess.DEVNULL)
    # One Wine desktop with frames and title bars, as large as the X screen, for both programs.
    for key, name, value in (("Explorer\\Desktops", "qvx", SCREEN),
                             ("AppDefaults\\quorvex-updater.exe\\Explorer", "Desktop", "qvx"),
                             ("AppDefaults\\qvx-operator.exe\\Explorer", "Desktop", "qvx")):
        wine("reg", "add", "HKCU\\Software\\Wine\\" + key, "/v", name, "/d", value, "/f")

    dump = os.path.join(work, "flash.bin")
    # As on Linux: --help and --version answered on standard output; a missing --image file and an
    # unknown option refused on standard error, before any board.
    for arguments, status, said in (
            (["--help"], 0, r"Usage: quorvex-updater .*"),
            (["--version"], 0, r"quorvex-updater \d+(\.\d+){3}\n"),
            (["--image", at(dump)], 2, r"quorvex-updater: .*\\flash\.bin: no such file\n"),
            (["--bogus"], 2, r"quorvex-updater: unknown option: --bogus\nUsage: .*")):
        done = subprocess.run(["wine", program, *arguments], env=x.env, capture_output=True,
                              text=True, timeout=TIMEOUT)
        text = done.stderr if status else done.stdout
        assert done.returncode == status and re.fullmatch(said, text, re.S), done
    board = dict(x.env, WINEPATH=at(dropin), QVX_BOARD_TIMING="demo", QVX_BOARD_FLASH_OUT=at(dump))
    # The installed command line, by name alone, runs and finds the board.
    subprocess.run(["wine", "cmd", "/c", "quorvex", "list"], env=board, check=True,
                   timeout=TIMEOUT, stdout=subprocess.DEVNULL)
    process = subprocess.Popen(["wine", program], env=board)
    for kind, text, state in (("Button", "Find Device", "1-start"),
                              ("Button", "Flash Device", "2-found"),
                              ("msctls_progress32", "", "3-flashing"),
                              ("Static", "Flash Complete!", "4-complete")):
        operate(MAIN, kind, text)
        time.sleep(1.0 if state == "3-flashing" else 0)  # part-way through the demo update
        shot(state)
        if kind == "Button":
            operate(MAIN, kind, text, "click")
    second = subprocess.Popen(["wine", program], env=board)
    operate("Quorvex Updater", "Static", "quorvex-updater already running! ")
    shot("5-already-running")
    operate("Quorvex Updater", "Button", "OK", "click")
    ends(second, 1, "the refused second start")
    operate(MAIN, "Button", "Ok!", "click")
    operate(MAIN, "Button", "Find Device", "close")
    ends(process, 0, "the program closed by the operator")

    with open(dump, "rb") as flash:
        check_flash(flash.read(), lambda image: wine(pack, "unpack", at(firmware), at(image)))

    process = subprocess.Popen(["wine", program], env=x.env)  # no FTD2XX.DLL on the search path
    operate("USB Error!", "Static", "Quorvex hardware not found!")
    shot("7-hardware-not-found")
    operate("USB Error!", "Button", "OK", "click")
    ends(process, 1, "the program without a driver library")

    process = subprocess.Popen(["wine", program], env=dict(board, QVX_BOARD_FAIL="purge:1"))
    operate(MAIN, "Button", "Find Device", "click")
    operate("USB Error", "Static", "USB Connection Failure!")
    shot("8-connection-failure")
    operate("USB Error", "Button", "OK", "click")
    ends(process, 1, "the program after a lost link")

    # Step 3 reads back wrong for good: one box, then the start state again.
    process = subprocess.Popen(["wine", program], env=dict(board, QVX_BOARD_CORRUPT="20"))
    operate(MAIN, "Button", "Find Device", "click")
    operate(MAIN, "Button", "Flash Device", "click")
    operate("Verify Failure!", "Static", STEP3_VERIFY)
    shot("9-verify-failure")
    operate("Verify Failure!", "Button", "OK", "click")
    operate(MAIN, "Button", "Find Device", "click")
    operate(MAIN, "Button", "Flash Device", "click")
    # Closed in the middle of the second update: the link closes (the board writes its flash
    # out) and the program ends with status 0.
    os.remove(dump)
    operate(MAIN, "msctls_progress32", "", "close")
    ends(process, 0, "the program closed in the middle of an update")
    assert os.path.exists(dump), "a close in the middle of an update left the link open"

    # Found, with its longest texts, at each scale (Wine's DPI, which each program reads as it
    # starts; 96 last, as the other steps expect): whole texts and whole buttons, to look at. The
    # first button shown has the keyboard focus.
    for dpi in (144, 192, 96):
        wine("reg", "add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
             "/d", str(dpi), "/f")
        process = subprocess.Popen(["wine", program], env=board)
        operate(MAIN, "Button", "Find Device", "focused")
        operate(MAIN, "Button", "Find Device", "click")
        operate(MAIN, "Button", "Abort Flash", "focused")
        time.sleep(0.5)  # the labels' new texts drawn
        shot("dpi-%d" % dpi)
        operate(MAIN, "Button", "Abort Flash", "close")
        ends(process, 0, "the program at %d dpi" % dpi)

    # The uninstaller hands over to a copy of itself and returns; the vendor's key goes last.
    wine(os.path.join(folder, "Uninstall.exe"), "/S")
    wait_for("the uninstaller to remove the folder and the registry key", lambda: not os.path.exists(
        folder) and reg("HKLM\\Software\\Quorvex").returncode != 0)
    assert at(folder) not in path(), "the uninstaller left its folder on the system PATH"


if __name__ == "__main__":
    os.makedirs(sys.argv[6], exist_ok=True)
    with tempfile.TemporaryDirectory() as work, XServer(SCREEN) as x:
        run(*sys.argv[1:7], x, work)
    print("passed")

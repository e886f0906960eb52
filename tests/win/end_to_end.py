#!/usr/bin/env python3
# The Windows programs under Wine on a private X server, in one Wine desktop. First a silent
# installation on a PATH too long to change: status 3, a line in the install log, the PATH alone.
# Then the installer run page by page, each page photographed with its picture (the header's, or
# the welcome and finish pages'): it puts its folder on the system PATH; every signature is
# checked when make test-windows signs them; the uninstaller has a version block of its own, the
# text files Windows line ends. The window answers /? and refuses in a box. The command line,
# found through that PATH, finds the drop-in board; the window, against it, on real keys: Enter
# and Escape press nothing in any state, Space presses the focused button, Tab moves on, through
# an update, with the board's flash checked; a second start refused. Then, with no driver
# library, its box; a link lost on Find Device; an update that fails, and a close in the middle of
# an update; the window at 96, 144 and 192 dpi, centred in the work area. Last the uninstaller,
# run page by page: the PATH given back exactly (its trailing ";" too), neither folder nor
# registry key left. The operator is played from inside Wine (OPERATOR) and on the X server's
# keyboard; X gives the screenshots, in SHOTS.
#   end_to_end.py INSTALLER DROPIN_FOLDER OPERATOR PACK_TOOL FIRMWARE SHOTS

import glob, os, re, subprocess, sys, tempfile, time
from contextlib import ExitStack

import pefile
from Xlib import X, XK
from Xlib.ext import xtest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "support"), os.path.join(HERE, "..", "..", "tools")]
from flash_check import check_flash  # noqa: E402
from xserver import TIMEOUT, XServer, wait_for  # noqa: E402

MAIN = "Quorvex Updater v1.2"
SETUP, REMOVAL = "Quorvex Updater Setup*", "Quorvex Updater Uninstall*"
STEP3_VERIFY = ("Step 3 - Device verify error!  Data is corrupted!  ** DO NOT POWER OFF BOARD!! **"
                "  Re-try update!")
SCREEN = "1024x768"  # room for the window at 192 dpi
ENVIRONMENT = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment"
# Each page: the text that shows it, the button that leaves it, where its picture is.
INSTALLER_PAGES = (
    ("setup-1-welcome", "Welcome to Quorvex Updater Setup", "&Next >", "side"),
    ("setup-2-licence", "License Agreement", "I &Agree", "header"),
    ("setup-3-location", "Choose Install Location", "&Next >", "header"),
    ("setup-4-start-menu", "Choose Start Menu Folder", "&Next >", "header"),
    ("setup-5-options", "Command line", "&Install", "header"),
    ("setup-6-installing", "Quorvex Updater reaches the board through FTDI*", "OK", "header"),
    ("setup-7-finish", "Completing Quorvex Updater Setup", "&Finish", "side"))
UNINSTALLER_PAGES = (
    ("uninstall-1-confirm", "Uninstall Quorvex Updater", "&Uninstall", "header"),
    ("uninstall-2-done", "Uninstallation Complete", "&Close", "header"))


def run(installer, dropin, operator, pack, firmware, shots, x, work, cleanup):
    at = lambda path: "Z:" + path.replace("/", "\\")  # a Unix path as Wine's programs name it
    wine = lambda *args: subprocess.run(["wine", *args], env=x.env, check=True, timeout=TIMEOUT)
    operate = lambda title, kind, text, act="": subprocess.run(
        ["wine", operator, title, kind, text, act], env=x.env, check=True, capture_output=True,
        text=True, timeout=TIMEOUT).stdout
    shot = lambda name: x.screenshot(os.path.join(shots, name + ".png"))
    reg = lambda key, *args: subprocess.run(["wine", "reg", "query", key, *args], env=x.env,
                                            capture_output=True, text=True, timeout=TIMEOUT)

    def ends(process, status, what):
        assert process.wait(timeout=TIMEOUT) == status, "%s did not end with %d" % (what, status)

    def system_path(value=None):
        if value is not None:
            wine("reg", "add", ENVIRONMENT, "/v", "Path", "/t", "REG_EXPAND_SZ", "/d", value, "/f")
        return re.search(r"^\s+Path\s+REG_\w+\s+(.*)$", reg(ENVIRONMENT, "/v", "Path").stdout,
                         re.M).group(1)

    def where(title, kind, text):  # the window's frame, client area and work area
        said = operate(title, kind, text, "where").splitlines()
        return {name: tuple(map(int, box)) for name, *box in map(str.split, said)}

    def coloured(box):  # a picture's colours, where dialogs, headers and text are only grey
        data = x.picture(x.root, box[0], box[1], box[2] - box[0], box[3] - box[1])
        return any(max(p) - min(p) > 48 for p in zip(data[0::4], data[1::4], data[2::4]))

    def pages(title, table):
        left, top, right, _ = where(title, "Static", table[0][1])["client"]
        places = {"header": (left, top, right, top + 40), "side": (left, top, left + 100, top + 200)}
        for name, text, button, picture in table:
            operate(title, "Static", text)
            wait_for("the picture on " + name, lambda: coloured(places[picture]))
            shot(name)
            operate(title, "Button", button, "click")

    def press(*keys):  # on the X server's keyboard, as a person types them
        for key in keys:
            code = x.x.keysym_to_keycode(XK.string_to_keysym(key))
            xtest.fake_input(x.x, X.KeyPress, code)
            xtest.fake_input(x.x, X.KeyRelease, code)
        x.x.sync()

    # One Wine desktop with frames and title bars, as large as the X screen, for every program.
    for key, name, value in (("Explorer\\Desktops", "qvx", SCREEN), ("Explorer", "Desktop", "qvx")):
        wine("reg", "add", "HKCU\\Software\\Wine\\" + key, "/v", name, "/d", value, "/f")
    # The PATH as found is put back in the end, whatever happens.
    original_path = system_path()
    cleanup.callback(system_path, original_path)
    gone = lambda folder: not os.path.exists(folder) and reg("HKLM\\Software\\Quorvex").returncode

    # Silently, on a PATH longer than the installer can change whole: the PATH stays as it is, and
    # the installer says so. (This first program also starts the Wine desktop, before any two
    # programs start at once and might each start one.)
    long_path = system_path(original_path + "".join(";C:\\qvx-test-%04d" % i for i in range(99)))
    folder = os.path.join(work, "long-path")
    done = subprocess.run(["wine", installer, "/S", "/D=" + at(folder)], env=x.env, timeout=TIMEOUT)
    assert done.returncode == 3, "a PATH left alone did not end the installer with 3"
    with open(os.path.join(folder, "install.log"), encoding="utf-16") as log:
        assert "The system PATH is too long" in log.read()
    assert system_path() == long_path, "the installer changed a PATH too long to change"
    wine(os.path.join(folder, "Uninstall.exe"), "/S")
    wait_for("the silent uninstaller to remove everything", lambda: gone(folder))

    # Page by page, on a PATH that ends in a separator, which the uninstaller must give back.
    path_before = system_path(original_path + ";")
    folder = os.path.join(work, "installed")
    installing = subprocess.Popen(["wine", installer, "/D=" + at(folder)], env=x.env)
    pages(SETUP, INSTALLER_PAGES)
    ends(installing, 0, "the installer")
    program = os.path.join(folder, "quorvex-updater.exe")
    assert at(folder) in system_path().split(";"), "the installer left its folder off the PATH"
    for signed in glob.glob(folder + "/*.exe") + [installer] if "QVX_SIGN_CA" in os.environ else []:
        subprocess.run(["osslsigncode", "verify", "-CAfile", os.environ["QVX_SIGN_CA"], "-in",
                        signed], check=True, stdout=subprocess.DEVNULL)
    block = pefile.PE(os.path.join(folder, "Uninstall.exe")).FileInfo[0][0].StringTable[0].entries
    assert (block[b"FileDescription"], block[b"OriginalFilename"]) == (
        b"Quorvex Updater uninstaller", b"Uninstall.exe"), block
    for name in ("README.txt", "LICENSE.txt"):
        with open(os.path.join(folder, name), "rb") as text:
            lines = text.read()
        assert lines.count(b"\n") == lines.count(b"\r\n") > 0, name + " has lines that end in LF"

    dump = os.path.join(work, "flash.bin")
    # A window program owns no console to answer on: help and refusals in a box, with the status.
    for arguments, status, said in (
            (["/?"], 0, "Usage: quorvex-updater [--image FILE]*"),
            (["--bogus"], 2, "unknown option: --bogus*")):
        process = subprocess.Popen(["wine", program, *arguments], env=x.env)
        operate("Quorvex Updater", "Static", said)
        if status == 0:
            shot("help-box")
        operate("Quorvex Updater", "Button", "OK", "click")
        ends(process, status, "the box for %s" % arguments)
    board = dict(x.env, WINEPATH=at(dropin), QVX_BOARD_TIMING="demo", QVX_BOARD_FLASH_OUT=at(dump))
    # The installed command line, by name alone, runs and finds the board.
    subprocess.run(["wine", "cmd", "/c", "quorvex", "list"], env=board, check=True,
                   timeout=TIMEOUT, stdout=subprocess.DEVNULL)
    process = subprocess.Popen(["wine", program], env=board)
    operate(MAIN, "Button", "Find Device", "focused")
    shot("1-start")
    # Keys in each state, each row typed at once. A press by Enter or Escape would change the state,
    # and with it where the row's last key leaves the focus, which only the right path reaches.
    for keys, focused in ((["Return", "Escape", "space", "Tab"], "Flash Device"),  # start
                          (["Return", "Escape", "Tab"], "Abort Flash"),  # found, on Flash Device
                          (["Return", "Escape", "Tab"], "Flash Device")):  # found, on Abort Flash
        press(*keys)
        operate(MAIN, "Button", focused, "focused")
    shot("2-found")
    press("space")
    operate(MAIN, "msctls_progress32", "")
    time.sleep(1.0)  # part-way through the demo update
    shot("3-flashing")
    operate(MAIN, "Button", "Ok!", "focused")
    shot("4-complete")
    press("Return", "Escape", "space", "space", "Tab")  # Ok!, Find Device, on to Flash Device
    operate(MAIN, "Button", "Flash Device", "focused")
    second = subprocess.Popen(["wine", program], env=board)
    operate("Quorvex Updater", "Static", "quorvex-updater already running! ")
    shot("5-already-running")
    operate("Quorvex Updater", "Button", "OK", "click")
    ends(second, 1, "the refused second start")
    operate(MAIN, "Button", "Flash Device", "close")
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
    # window opens centred in the work area; the first button shown has the keyboard focus.
    for dpi in (144, 192, 96):
        wine("reg", "add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
             "/d", str(dpi), "/f")
        process = subprocess.Popen(["wine", program], env=board)
        operate(MAIN, "Button", "Find Device", "focused")
        place = where(MAIN, "Button", "Find Device")
        centred = [abs(sum(place["frame"][i::2]) - sum(place["work"][i::2])) <= 1 for i in (0, 1)]
        assert all(centred), "not centred at %d dpi: %s" % (dpi, place)
        operate(MAIN, "Button", "Find Device", "click")
        operate(MAIN, "Button", "Abort Flash", "focused")
        time.sleep(0.5)  # the labels' new texts drawn
        shot("dpi-%d" % dpi)
        operate(MAIN, "Button", "Abort Flash", "close")
        ends(process, 0, "the program at %d dpi" % dpi)

    # The uninstaller hands over to a copy of itself and returns; the vendor's key goes last.
    removing = subprocess.Popen(["wine", os.path.join(folder, "Uninstall.exe")], env=x.env)
    pages(REMOVAL, UNINSTALLER_PAGES)
    ends(removing, 0, "the uninstaller")
    wait_for("the uninstaller to remove the folder and the registry key", lambda: gone(folder))
    assert system_path() == path_before, "the uninstaller did not give back the PATH as it was"


if __name__ == "__main__":
    os.makedirs(sys.argv[6], exist_ok=True)
    with tempfile.TemporaryDirectory() as work, XServer(SCREEN) as x, ExitStack() as cleanup:
        run(*sys.argv[1:7], x, work, cleanup)
    print("passed")

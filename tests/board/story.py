#!/usr/bin/env python3
# A drop-in board tells one story from run to run, as a real one does: it reports the version its
# flash carries, whatever its plug-in line says, and keeps its flash, in a file of its own, when
# it is plugged in again (the next run); a dump of it as it was, flashed back, brings its first
# version back.
#   story.py QUORVEX DROPIN_FOLDER

import os, subprocess, sys, tempfile


def story(quorvex, dropin, work):
    dump, flash, plugs = (os.path.join(work, name) for name in ("blank.bin", "flash", "plugs"))
    with open(plugs, "w") as f:
        f.write("QVX00001 1-1.1 0x21 0x13\n")  # blank, but for its settings with firmware 1.3
    env = dict(os.environ, LD_LIBRARY_PATH=dropin, QVX_BOARD_TIMING="off", QVX_BOARD_PLUGS=plugs,
               QVX_BOARD_FLASH_IN=flash, QVX_BOARD_FLASH_OUT=flash)
    for args, said in ((["info"], "Firmware: v1.3  -  Upgrading to: v1.6"), (["dump", dump], ""),
                       (["flash"], ""), (["info"], "Firmware: v1.6  -  Upgrading to: v1.6"),
                       (["flash", "--image", dump, "--allow-older"], ""),
                       (["info"], "Firmware: v1.3  -  Upgrading to: v1.6")):
        done = subprocess.run([quorvex] + args, env=env, capture_output=True, text=True, timeout=60)
        assert done.returncode == 0 and said in done.stdout, (args, done)
    assert os.path.exists(flash + ".QVX00001"), "the board's flash is not in a file of its own"


if __name__ == "__main__":
    with tempfile.TemporaryDirectory() as work:
        story(*sys.argv[1:3], work)
    print("passed")

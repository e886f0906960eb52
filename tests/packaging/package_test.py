#!/usr/bin/env python3
# The Debian package of a build, built and unpacked into WORK/root, and what it holds.
#   package_test.py WORK CPACK BUILD

import os, shutil, subprocess, sys

PROGRAM = "usr/bin/quorvex-updater"
FILES = ["usr/bin/quorvex", PROGRAM, "usr/lib/udev/rules.d/70-quorvex-updater.rules",
         "usr/share/applications/quorvex-updater.desktop",
         "usr/share/bash-completion/completions/quorvex",
         "usr/share/doc/quorvex-updater/README.md", "usr/share/doc/quorvex-updater/changelog.gz",
         "usr/share/doc/quorvex-updater/copyright",
         "usr/share/icons/hicolor/16x16/apps/quorvex-updater.png",
         "usr/share/icons/hicolor/32x32/apps/quorvex-updater.png",
         "usr/share/man/man1/quorvex-updater.1.gz", "usr/share/man/man1/quorvex.1.gz"]


def output(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def contents(work, cpack, build):
    shutil.rmtree(work, ignore_errors=True)
    output(cpack, "--config", os.path.join(build, "CPackConfig.cmake"), "-B", work)
    deb = os.path.join(work, next(name for name in os.listdir(work) if name.endswith(".deb")))
    output("dpkg-deb", "-x", deb, os.path.join(work, "root"))
    found = sorted(os.path.relpath(os.path.join(folder, name), os.path.join(work, "root"))
                   for folder, _, names in os.walk(os.path.join(work, "root")) for name in names)
    assert found == FILES, "the package holds %s, not %s" % (found, FILES)
    # Qt comes from the program's libraries; libftdi1, loaded at run time, must be named.
    depends = {entry.split()[0] for entry in output("dpkg-deb", "-f", deb, "Depends").split(",")}
    assert {"libqt6widgets6", "libftdi1-2"} <= depends, "Depends lacks Qt or libftdi1"
    assert "PATH" not in output("readelf", "-d", os.path.join(work, "root", PROGRAM)), \
        "the program carries a library search path into the build tree"


if __name__ == "__main__":
    contents(*sys.argv[1:])

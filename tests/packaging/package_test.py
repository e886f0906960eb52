#!/usr/bin/env python3
# The Debian packages of a build, built and unpacked together into WORK/root, and what each holds.
#   package_test.py WORK CPACK BUILD

import glob, os, shutil, subprocess, sys

FILES = {  # besides changelog.gz, copyright and README.md.gz in usr/share/doc/<package>
    "quorvex": ["usr/bin/quorvex", "usr/lib/udev/rules.d/70-quorvex-updater.rules",
                "usr/share/bash-completion/completions/quorvex",
                "usr/share/man/man1/quorvex.1.gz",
                "usr/share/quorvex/schemas/quorvex-document.schema.json",
                "usr/share/quorvex/schemas/quorvex-record.schema.json"],
    "quorvex-updater": ["usr/bin/quorvex-updater", "usr/share/man/man1/quorvex-updater.1.gz",
                        "usr/share/applications/invalid.quorvex.Updater.desktop",
                        "usr/share/metainfo/invalid.quorvex.Updater.metainfo.xml"] +
    ["usr/share/icons/hicolor/%s/apps/quorvex-updater.%s" % icon for icon in [("scalable", "svg")]
     + [("%dx%d" % (size, size), "png") for size in (16, 32, 48, 64, 128, 256)]],
}


output = lambda *command: subprocess.run(command, check=True, capture_output=True, text=True).stdout


def contents(work, cpack, build):
    shutil.rmtree(work, ignore_errors=True)
    output(cpack, "--config", os.path.join(build, "CPackConfig.cmake"), "-B", work)
    for name, files in FILES.items():
        deb = glob.glob(os.path.join(work, name + "_*.deb"))[0]
        found = sorted(line[2:] for line in output("dpkg-deb", "-X", deb, os.path.join(
            work, "root")).splitlines() if not line.endswith("/"))
        files += ["usr/share/doc/%s/%s" % (name, doc) for doc in ("changelog.gz", "copyright",
                                                                    "README.md.gz")]
        assert found == sorted(files), "%s holds %s, not %s" % (name, found, sorted(files))
    assert "PATH" not in output("readelf", "-d", os.path.join(work, "root/usr/bin/quorvex-updater")), \
        "the program carries a library search path into the build tree"


if __name__ == "__main__":
    contents(*sys.argv[1:])

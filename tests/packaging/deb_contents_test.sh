#!/bin/bash
# The package's metadata and file list, and what the files must be for the desktop, udev and man.
set -uo pipefail
work=$1
deb=("$work"/*.deb)
root=$work/root
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
field() { dpkg-deb -f "${deb[0]}" "$1"; }

[ "$(field Package)" = quorvex-updater ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = 1.2.0.3 ] || fail "Version is '$(field Version)'"
# Qt comes from shlibdeps, libftdi1 (loaded at run time) from the explicit list.
depends=",$(field Depends | tr -d ' '),"
for dep in libqt6widgets6 libftdi1-2; do
  [[ $depends == *",$dep"[,\(]* ]] || fail "Depends lacks $dep: $(field Depends)"
done
for name in Maintainer Section Description; do
  [ -n "$(field $name)" ] || fail "no $name"
done

# Exactly these files, nothing that other parts of the tree install for themselves.
expected="./usr/bin/quorvex-updater
./usr/lib/udev/rules.d/70-quorvex-updater.rules
./usr/share/applications/quorvex-updater.desktop
./usr/share/doc/quorvex-updater/README.md
./usr/share/doc/quorvex-updater/changelog.gz
./usr/share/doc/quorvex-updater/copyright
./usr/share/icons/hicolor/16x16/apps/quorvex-updater.png
./usr/share/icons/hicolor/32x32/apps/quorvex-updater.png
./usr/share/man/man1/quorvex-updater.1.gz"
actual=$(cd "$root" && find . -type f | sort)
[ "$actual" = "$expected" ] || fail "file list differs:
$(diff <(echo "$expected") <(echo "$actual"))"

(cd "$root" && md5sum --quiet -c "$work/control/md5sums") || fail "md5sums do not match"
for script in postinst postrm; do
  [ "$(stat -c %a "$work/control/$script")" = 755 ] || fail "$script is not 0755"
  grep -q 'command -v udevadm' "$work/control/$script" || fail "$script calls udevadm unguarded"
done

bin=$root/usr/bin/quorvex-updater
[ -x "$bin" ] || fail "the program is not executable"
[[ $(file -b "$bin") == *", stripped"* ]] || fail "the program is not stripped"
# A search path into the build tree would load the wrong libraries on the operator's machine.
readelf -d "$bin" | grep -E 'RPATH|RUNPATH' && fail "the program carries a library search path"
for size in 16 32; do
  png=$root/usr/share/icons/hicolor/${size}x$size/apps/quorvex-updater.png
  [[ $(file -b "$png") == "PNG image data, $size x $size,"* ]] || fail "icon $size: $(file -b "$png")"
done

desktop=$root/usr/share/applications/quorvex-updater.desktop
for line in 'Name=Quorvex Updater' 'Exec=quorvex-updater' 'Icon=quorvex-updater'; do
  grep -qx "$line" "$desktop" || fail "desktop entry lacks $line"
done
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$desktop" || fail "desktop entry does not validate"
fi

rule=$root/usr/lib/udev/rules.d/70-quorvex-updater.rules
grep -v '^#' "$rule" | grep 'ATTRS{idVendor}=="0403"' | grep 'SUBSYSTEM=="usb"' |
  grep -q 'TAG+="uaccess"' || fail "udev rule does not grant uaccess to vendor 0403"
grep -qiE 'unbind|remove_id|modprobe|rmmod' "$rule" && fail "udev rule touches kernel drivers"

man=$root/usr/share/man/man1/quorvex-updater.1.gz
if command -v man >/dev/null; then
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$man" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man page warnings: $warnings"
fi
zcat "$man" | grep -q '^\.SH EXIT STATUS' || fail "man page has no EXIT STATUS"
grep -q 'MIT License' "$root/usr/share/doc/quorvex-updater/copyright" || fail "copyright is not the licence"

[ "$failures" = 0 ] && echo "package checks passed"
exit $((failures > 0))

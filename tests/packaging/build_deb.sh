#!/bin/bash
# Builds the Debian package from this build tree into a scratch folder and unpacks it there:
# <work>/*.deb, the control files in <work>/control, the files in <work>/root.
set -euo pipefail
cpack=$1 build=$2 work=$3

rm -rf "$work"
mkdir -p "$work"
"$cpack" --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || {
  cat "$work/cpack.log"
  exit 1
}
deb=("$work"/*.deb)
dpkg-deb -x "${deb[0]}" "$work/root"
dpkg-deb -e "${deb[0]}" "$work/control"

#!/bin/sh
# quorvex watch on drop-in boards plugged in one after another, one of them not in update mode,
# then the records it kept and the report of them.
#   demo_station.sh QUORVEX FOLDER   (with LD_LIBRARY_PATH naming the drop-in's folder)
set -e
quorvex=$1 folder=$2
plugs=$folder/plugs records=$folder/records.jsonl
: >"$plugs"
rm -f "$records"
export QVX_BOARD_PLUGS=$plugs QVX_BOARD_TIMING=demo
plug() { sleep "$1"; echo "$2" >>"$plugs"; }
( plug 1 "QVX00101 1-2.1"; plug 2 "QVX00102 1-2.2"; plug 2 "QVX00103 1-2.3 0x00 0x00"
  plug 1 "QVX00104 1-2.4" ) &
echo "$ quorvex watch --count 4 --record records.jsonl"
status=0
"$quorvex" watch --count 4 --record "$records" || status=$?
wait
echo "(status $status: one board was not in update mode)"
echo "$ cat records.jsonl"
cat "$records"
echo "$ quorvex report records.jsonl"
"$quorvex" report "$records"

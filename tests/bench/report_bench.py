#!/usr/bin/env python3
# quorvex report over a record file of some gigabytes: a day of 20,000 boards (retries, verifies,
# schema-1 lines, a few lines that are no records), then the same lines shipped again and again.
# Prints the throughput and the peak resident size, which must not grow with the file: under
# 64 MiB, and within 4 MiB of the first day's alone.
#   report_bench.py QUORVEX FOLDER [GIGABYTES]
import json, os, random, subprocess, sys, tempfile, time

QUORVEX, FOLDER = sys.argv[1:3]
GIGABYTES = float(sys.argv[3]) if len(sys.argv) > 3 else 2.0


def day(file):  # written as it is made: a child starts from a copy of this process and its size
    rng = random.Random(26)
    for board in range(20000):
        for attempt in range(rng.choice((1, 1, 1, 2, 3))):
            record = {"schema": 2, "id": "%032x" % rng.getrandbits(128), "time":
                      "2026-12-07T%02d:%02d:%02d.000Z" % (board // 2400, board // 40 % 60, attempt),
                      "host": "station-%d" % (board % 4), "command": "watch",
                      "image": {"source": "embedded", "sha256": "8" * 64, "version": "1.6"},
                      "serial": "QVX%06d" % board, "result": "ok", "message": "x" * 200}
            if rng.random() < 0.2:
                record.update(result="failed", step=1)
            if board % 10 == 0:  # an older station's, without an id
                record.update(schema=1, id=None)
            file.write(json.dumps(record) + "\n")
        if board % 5 == 0:
            file.write(json.dumps(dict(record, command="verify", id="%032x" % board)) + "\n")
        if board % 5000 == 0:
            file.write('{"schema": 2, "command": "watch", "result"\n')


def report(path):
    start = time.monotonic()
    process = subprocess.Popen([QUORVEX, "report", "--json", path], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL)
    out = process.stdout.read()
    _, status, usage = os.wait4(process.pid, 0)
    return (json.loads(out), status, usage.ru_maxrss / 1024, time.monotonic() - start,
            usage.ru_utime + usage.ru_stime)


with tempfile.TemporaryDirectory(dir=FOLDER) as work:
    path = os.path.join(work, "records.jsonl")
    with open(path, "w") as file:
        day(file)
    first, _, first_mib, _, _ = report(path)
    with open(path, "rb") as one, open(path, "ab") as days:  # a megabyte at a time, as above
        length = days.tell()
        while days.tell() < GIGABYTES * 1e9:
            one.seek(0)
            while one.tell() < length:
                days.write(one.read(min(1 << 20, length - one.tell())))
    size = os.path.getsize(path)
    document, status, mib, seconds, cpu = report(path)
records = document["records"]
print("report of %.2f GB: %.0f MB/s (%.1f s, %.1f CPU s); peak resident %.1f MiB, of one day %.1f"
      % (size / 1e9, size / 1e6 / seconds, seconds, cpu, mib, first_mib))
sys.exit(0 if status == 0 and mib < 64 and mib - first_mib < 4 and document["images"] ==
         first["images"] and records["counted"] == first["records"]["counted"] else 1)

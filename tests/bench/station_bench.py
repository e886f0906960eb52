#!/usr/bin/env python3
# quorvex watch as a station sees it: 16 boards plugged in at random moments over 10 s at the
# full-speed timing. Reports how long each board waited for its update to start (its first block
# done, so an upper bound), the CPU the station takes while no board is there, and the records.
#   station_bench.py QUORVEX DROPIN_FOLDER
import json, os, random, statistics, subprocess, sys, tempfile, threading, time

QUORVEX, DROPIN = sys.argv[1:3]
BOARDS, SPREAD, IDLE = 16, 10.0, 3.0


def cpu_seconds(pid):
    fields = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


with tempfile.TemporaryDirectory() as work:
    plugs, record = os.path.join(work, "plugs"), os.path.join(work, "records")
    open(plugs, "w").close()
    env = dict(os.environ, LD_LIBRARY_PATH=DROPIN, QVX_BOARD_PLUGS=plugs,
               QVX_BOARD_TIMING="fullspeed")
    station = subprocess.Popen([QUORVEX, "watch", "--count", str(BOARDS), "--record", record],
                               env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    started = {}

    def progress():  # one line per board and stage, as no terminal reads it
        for line in station.stderr:
            serial = line.split(b" ")[0].decode()
            if b": Step" in line and serial not in started:
                started[serial] = time.monotonic()
    reader = threading.Thread(target=progress)
    reader.start()

    time.sleep(0.5)
    before = cpu_seconds(station.pid)
    time.sleep(IDLE)
    idle = (cpu_seconds(station.pid) - before) / IDLE

    arrived = {}
    moments = sorted(random.Random(16).uniform(0, SPREAD) for _ in range(BOARDS))
    origin = time.monotonic()
    for n, moment in enumerate(moments, 1):
        time.sleep(max(0.0, origin + moment - time.monotonic()))
        serial = "QVX%05d" % (100 + n)
        with open(plugs, "a") as file:
            file.write("%s 1-2.%d\n" % (serial, n))
        arrived[serial] = time.monotonic()
    status = station.wait(timeout=120)
    reader.join()
    waits = [started[s] - arrived[s] for s in arrived if s in started]
    lines = [json.loads(line) for line in open(record)]
    print("boards started: %d of %d, status %d" % (len(waits), BOARDS, status))
    print("wait from plug-in to first block: median %.3f s, worst %.3f s (goal: under 0.5 s)"
          % (statistics.median(waits), max(waits)))
    print("CPU while waiting with no board: %.2f %% of one core (goal: under 1 %%)" % (100 * idle))
    print("records: %d lines, %d passed" % (len(lines), sum(r["result"] == "ok" for r in lines)))
    good = (status == 0 and len(waits) == BOARDS and max(waits) < 0.5 and idle < 0.01
            and len(lines) == BOARDS)
    sys.exit(0 if good else 1)

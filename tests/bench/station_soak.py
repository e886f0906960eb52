#!/usr/bin/env python3
# A shift at a station: 10,000 boards through quorvex watch at the full-speed timing, plugged in
# and pulled out in waves of 100 (the same 100 serial numbers each wave: the same boards, put back
# in for another run). Prints boards a second and the station's resident size every 1,000 boards.
# Goals: the resident size after 10,000 boards within 8 MB of its size after 100; every plug-in
# recorded once.
#   station_soak.py QUORVEX DROPIN_FOLDER [BOARDS]
import collections, json, os, subprocess, sys, tempfile, time

QUORVEX, DROPIN = sys.argv[1:3]
BOARDS = int(sys.argv[3]) if len(sys.argv) > 3 else 10_000
WAVE = 100


def resident_kib(pid):
    for line in open("/proc/%d/status" % pid):
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


with tempfile.TemporaryDirectory() as work:
    plugs, record = os.path.join(work, "plugs"), os.path.join(work, "records")
    open(plugs, "w").close()
    open(record, "w").close()
    env = dict(os.environ, LD_LIBRARY_PATH=DROPIN, QVX_BOARD_PLUGS=plugs,
               QVX_BOARD_TIMING="fullspeed")
    station = subprocess.Popen([QUORVEX, "watch", "--count", str(BOARDS), "--record", record, "-q"],
                               env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    plug = lambda text: (open(plugs + ".new", "w").write(text), os.replace(plugs + ".new", plugs))
    lines, seen, sizes, start = 0, collections.Counter(), {}, time.monotonic()
    with open(record, "rb") as records:
        while lines < BOARDS and station.poll() is None:
            wave = min(WAVE, BOARDS - lines)
            plug("".join("QVX%05d 1-%d.%d\n" % (n, 1 + n // 15, 1 + n % 15) for n in range(wave)))
            goal = lines + wave
            while lines < goal and station.poll() is None:
                time.sleep(0.05)
                for line in records.readlines():
                    record_ = json.loads(line)
                    seen[record_["serial"]] += 1
                    lines += record_["result"] == "ok" or print("not ok:", line.decode(), end="")
                    if lines in (100,) or lines % 1000 == 0:
                        sizes[lines] = resident_kib(station.pid)
                        print("%6d boards  %6.1f boards/s  resident %6.1f MB" % (
                            lines, lines / (time.monotonic() - start), sizes[lines] / 1024),
                            flush=True)
            plug("")
            time.sleep(0.6)  # a listing or two sees them gone
    status = station.wait(timeout=60)
    growth = (sizes.get(BOARDS, 0) - sizes.get(100, 0)) / 1024
    once = all(count == BOARDS // WAVE for count in seen.values()) and len(seen) == min(WAVE, BOARDS)
    print("status %d; %d records; every plug-in recorded once: %s; growth after 100 boards: %.1f MB"
          " (goal: at most 8)" % (status, sum(seen.values()), once, growth))
    sys.exit(0 if status == 0 and once and growth <= 8 else 1)

#!/usr/bin/env python3
# The real quorvex against the drop-in board where things go wrong: signals at chosen moments,
# a reader that went away, full or closed output, a log at the size limit, a FIFO, a device node,
# links, bytes that are not UTF-8. Each case checks the status, the line on standard error, the
# files left, and that every link was closed (the drop-in writes a board's flash out at each close).
# Every JSON document and record it sees is kept in MADE for the check against the schemas.
#   under_fire.py QUORVEX DROPIN_FOLDER MADE
import json, os, resource, signal, stat, subprocess, sys, tempfile, time

QUORVEX, DROPIN, MADE = sys.argv[1:4]


def kept(kind, text):  # the parsed document or record
    with open(os.path.join(MADE, kind + ".jsonl"), "a") as made:
        made.write(json.dumps(json.loads(text)) + "\n")
    return json.loads(text)


def start(work, *args, boards=1, timing="off", env=(), stdout=subprocess.PIPE, **popen):
    for name in [n for n in os.listdir(work) if n.startswith("out")]:  # links closed before
        os.remove(os.path.join(work, name))
    env = dict(os.environ, LD_LIBRARY_PATH=DROPIN, QVX_BOARDS=str(boards), QVX_BOARD_TIMING=timing,
               QVX_BOARD_FLASH_OUT=os.path.join(work, "out"), **dict(env))
    return subprocess.Popen([QUORVEX, *args], env=env, stdout=stdout, stderr=subprocess.PIPE, cwd=work,
                            **popen)


# Boards 0: none may have been opened.
def ends(process, status, line, work, boards=1):
    out, err = process.communicate(timeout=20)
    assert process.returncode == status and line.encode() in (err or b""), (process.args, err)
    outs = ["out"] if boards == 1 else ["out.QVX%05d" % n for n in range(1, boards + 1)]
    closed = [n for n in os.listdir(work) if n.startswith(("out", ".qvx"))]  # or a temporary
    assert sorted(closed) == (sorted(outs) if boards else []), ("links closed", closed)
    return out


def under_signals(work):
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        process = start(work, "flash", "--all", boards=2, timing="fullspeed")
        for line in process.stderr:  # until a board is in the middle of it
            if b"Step" in line:
                break
        process.send_signal(sig)
        ends(process, 130, "interrupted", work, boards=2)
    # Ctrl-C while the board is silent and every read waits out its timeout.
    process = start(work, "verify", env={"QVX_BOARD_SILENT": "RF:0"})
    time.sleep(0.3)
    sent = time.monotonic()
    process.send_signal(signal.SIGINT)
    ends(process, 130, "interrupted", work)
    assert time.monotonic() - sent < 2, "the interrupt waited for the retries"


def lost_output(work):
    process = start(work, "flash", "--all", boards=2, timing="fullspeed")
    process.stderr.close()  # the reader of the progress goes away
    process.stderr = None
    ends(process, 4, "", work, boards=2)
    with open("/dev/full", "wb") as full:
        for args in (["flash", "-q"], ["info"]):
            ends(start(work, *args, stdout=full), 4,
                 "standard output could not be written: no space left on device", work)
    ends(start(work, "list", "--json", preexec_fn=lambda: os.close(1)), 4,
         "standard output could not be written: bad file descriptor", work)
    # Without standard input, a file opened gets descriptor 0.
    ends(start(work, "dump", "in0.bin", preexec_fn=lambda: os.close(0)), 0, "", work)
    os.remove(os.path.join(work, "in0.bin"))
    ends(start(work, "flash", env={"QVX_BOARD_FIRMWARE": "0x17"}), 1, "0x111: refused\n",
         work)
    # A full disk for the log and for a dump: the file size limit, SIGXFSZ as it comes, no core.
    log = os.path.join(work, "log")
    open(log, "wb").write(b"\n" * 99_000)
    limits = lambda size: lambda: [resource.setrlimit(r, (n, n)) for r, n in (
        (resource.RLIMIT_FSIZE, size), (resource.RLIMIT_CORE, 0))]
    ends(start(work, "flash", "--log", log, preexec_fn=limits(100_000)), 4,
         "the log %s could not be written: file too large" % log, work)
    ends(start(work, "dump", "x.bin", preexec_fn=limits(1000)), 1,
         "x.bin: cannot be written: file too large", work)


def odd_bytes(work):
    out = ends(start(work, "flash", "--json", env={"QVX_BOARD_SERIAL": os.fsdecode(b"\xffQ\x1b")}),
               0, "\\xFFQ\\x1B at 0x111: ok", work)
    board = kept("documents", out.decode("utf-8"))["boards"][0]
    assert (board["serial"], board["serialHex"], board["result"]) == ("\ufffdQ\x1b", "ff511b", "ok")


def arguments_and_paths(work):
    at = lambda name: os.path.join(work, name)
    open(at("big.bin"), "wb").truncate(3 << 30)
    os.mkfifo(at("fifo"))
    os.symlink(at("loop"), at("loop"))
    os.symlink(at("mine.bin"), at("link"))
    os.close(os.open(at("mine.bin"), os.O_CREAT | os.O_WRONLY, 0o640))
    node = at("node") if os.geteuid() == 0 else "/dev/null"  # a node here needs root
    if os.geteuid() == 0:
        os.mknod(node, 0o600 | stat.S_IFCHR, os.makedev(1, 3))
    for args, status, line in (  # each with --json: one document whatever the ending
            (["flash", "--serial", ""], 2, "--serial: must not be empty"),
            (["flash", "--serial", os.fsdecode(b"\xff")], 3, "serial number \\xFF is attached"),
            (["flash", "--image", at("big.bin")], 2, "big.bin: 3221225472 bytes, but"),
            (["flash", "--image", at("loop")], 2, "loop: too many levels of symbolic links"),
            (["dump", at("loop/x.bin")], 2, "x.bin: too many levels of symbolic links"),
            (["dump", "x" * 300], 2, "xx: file name too long"),
            (["dump", at("link"), "--force"], 2, "link: not a regular file"),
            (["dump", node, "--force"], 2, node + ": not a regular file"),
            (["list", "--log", at("fifo")], 2, "fifo: no such device or address"),
            (["list", "--log", "/dev/full"], 2, "/dev/full: not a regular file"),
            (["dump", at("mine.bin"), "--force"], 0, ""),
            (["flash", "--image", at("mine.bin"), "--log", at("link")], 2, "the log cannot go"),
            (["dump", at("new.bin")], 0, ""),
            (["dump", at("new.bin"), "--log", at("new.bin")], 2, "the log cannot go into")):
        out = ends(start(work, *args, "--json"), status, line, work, boards=int(status == 0))
        document = kept("documents", out.decode())
        assert document["status"] == status and ("error" in document) == (status != 0), document
    # The 3 GiB image was refused unread (maxrss in KiB, of the largest run so far).
    assert resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss < 1 << 20
    assert os.path.islink(at("link")) and stat.S_ISCHR(os.lstat(node).st_mode)
    mine = os.stat(at("mine.bin"))
    assert (stat.S_IMODE(mine.st_mode), mine.st_size) == (0o640, 65544)
    left = {n for n in os.listdir(work) if not n.startswith("out")} - {"node"}
    assert left == {"big.bin", "fifo", "link", "loop", "mine.bin", "new.bin"}, left


def records_from_several_processes(work):
    record = os.path.join(work, "records")
    # Enough at once that one process's line is often half copied in when another looks.
    runs = [start(work, "flash", "--all", "-q", "--record", record, boards=4) for _ in range(16)]
    assert [run.wait(timeout=60) for run in runs] == [0] * 16
    lines = [kept("records", line) for line in open(record, "rb").read().split(b"\n")[:-1]]
    assert sorted((r["serial"], r["result"], r["schema"]) for r in lines) == sorted(
        ("QVX%05d" % n, "ok", 2) for n in range(1, 5) for _ in range(16)), lines


def a_shift(work):
    # A station whose boards come and go as the plug file says, whose record file starts with a
    # line cut short, and whose record becomes impossible to write mid-shift.
    plugs, record = os.path.join(work, "plugs"), os.path.join(work, "shift.jsonl")
    plug = lambda *lines: (open(plugs + ".new", "w").write("".join(l + "\n" for l in lines)),
                           os.replace(plugs + ".new", plugs))
    records = lambda: [kept("records", line) for line in open(record, "rb").read().split(b"\n")[1:-1]]
    wait_for = lambda n: next(True for _ in range(400) if len(records()) >= n or time.sleep(0.05))
    open(record, "w").write('{"schema":2,"id":"cut')
    plug("QVX00001 1-1.1")
    hooked = os.path.join(work, "hooked")
    station = start(work, "watch", "--record", record, "-q", "--lot", "L7", "--on-result",
                    "cat >> '%s'" % hooked, env={"QVX_BOARD_PLUGS": plugs})
    wait_for(1)
    plug("QVX00009 1-1.1")  # another board at the same port between two listings: a new board
    wait_for(2)
    assert open(record).read().startswith('{"schema":2,"id":"cut\n{'), "the fragment ended"
    assert [(r["serial"], r["port"], r["result"], r["lot"]) for r in records()] == [
        ("QVX00001", "0x111", "ok", "L7"), ("QVX00009", "0x111", "ok", "L7")], records()
    each = open(record).read().split("\n", 1)[1]  # the hook may still be writing the last
    hooked_each = lambda: os.path.exists(hooked) and open(hooked).read() == each
    assert next((True for _ in range(100) if hooked_each() or time.sleep(0.05)), False), each
    os.rename(record, record + ".kept")
    os.mkdir(record)  # the record can no longer be written
    plug("QVX00009 1-1.1", "QVX00002 1-1.2")
    time.sleep(1.5)
    plug("QVX00009 1-1.1", "QVX00002 1-1.2", "QVX00003 1-1.3")  # never taken up
    time.sleep(1)
    station.send_signal(signal.SIGINT)
    out, err = station.communicate(timeout=20)
    assert station.returncode == 4 and b"no more boards are taken up" in err, err
    assert b"QVX00003" not in out and b"QVX00002" in out, out
    os.rmdir(record)
    for name in (record + ".kept", hooked):
        os.remove(name)
    ends(start(work, "flash", "--on-result", "exit 3"), 4,
         "the record could not be written: --on-result exit 3: exited with status 3", work)


if __name__ == "__main__":
    with tempfile.TemporaryDirectory() as work:
        for case in (arguments_and_paths, odd_bytes, lost_output, under_signals,
                     records_from_several_processes, a_shift):
            case(work)
    print("passed")

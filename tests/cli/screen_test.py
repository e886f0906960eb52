#!/usr/bin/env python3
# quorvex flash --all on four boards as a terminal shows it, in tmux, which rewraps its lines when
# the window narrows: started at 120 columns, narrowed to 60, widened to 80. The screen at the end
# holds one line per board, each its result, none wider than the window, and no stale copy of
# any. (What tmux itself pushes into its history as it rewraps is not on the screen.)
#   screen_test.py QUORVEX DROPIN_FOLDER
import os, shlex, subprocess, sys, tempfile, time

QUORVEX, DROPIN = sys.argv[1:3]
with tempfile.TemporaryDirectory() as work:
    socket, done = os.path.join(work, "tmux"), os.path.join(work, "done")
    tmux = lambda *args: subprocess.run(["tmux", "-S", socket, *args], check=True,
                                        capture_output=True, text=True).stdout
    command = "env LD_LIBRARY_PATH=%s QVX_BOARDS=4 QVX_BOARD_TIMING=demo %s flash --all >/dev/null" \
              "; touch %s; sleep 60" % (shlex.quote(DROPIN), shlex.quote(QUORVEX), done)
    tmux("-f", "/dev/null", "new-session", "-d", "-x", "120", "-y", "24", "sh", "-c", command)
    try:
        for width in (60, 80):
            time.sleep(1.5)
            tmux("resize-window", "-x", str(width), "-y", "24")
        for _ in range(300):
            if os.path.exists(done):
                break
            time.sleep(0.1)
        screen = tmux("capture-pane", "-p").rstrip("\n").split("\n")
    finally:
        subprocess.run(["tmux", "-S", socket, "kill-server"], capture_output=True)
    boards = [line for line in screen if "QVX0000" in line]
    assert [line.split()[0] for line in boards] == ["QVX0000%d" % n for n in range(1, 5)], screen
    assert all(line.rstrip().endswith("ok") and len(line) < 80 for line in boards), screen
print("passed")

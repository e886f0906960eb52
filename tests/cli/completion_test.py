#!/usr/bin/env python3
# Bash completion of --serial and --port with the drop-in board: a board without a serial number
# offers only its port, an odd serial number comes back quoted, and no board is opened to complete
# a word (the drop-in writes out a board's flash at every close).
#   completion_test.py QUORVEX DROPIN_FOLDER COMPLETION
import os, subprocess, sys, tempfile

QUORVEX, DROPIN, COMPLETION = sys.argv[1:4]
with tempfile.TemporaryDirectory() as work:
    plugs = os.path.join(work, "plugs")
    open(plugs, "w").write("- 1-1.3\nQVX00002 1-1.2\n")
    env = dict(os.environ, LD_LIBRARY_PATH=DROPIN, QVX_BOARD_PLUGS=plugs, QVX_BOARD_TIMING="off",
               QVX_BOARD_FLASH_OUT=os.path.join(work, "out"),
               PATH=os.path.dirname(QUORVEX) + os.pathsep + os.environ["PATH"])

    def complete(*words):
        script = ("source /usr/share/bash-completion/bash_completion; source %s; "
                  "COMP_WORDS=(%s); COMP_CWORD=%d; COMP_LINE=\"${COMP_WORDS[*]}\"; "
                  "COMP_POINT=${#COMP_LINE}; _quorvex; printf '%%s\\n' \"${COMPREPLY[@]}\""
                  % (COMPLETION, " ".join("'%s'" % w for w in words), len(words) - 1))
        out = subprocess.run(["bash", "-c", script], env=env, capture_output=True, text=True)
        return sorted(filter(None, out.stdout.split("\n")))

    assert complete("quorvex", "flash", "--serial", "") == ["QVX00002"]
    ports = complete("quorvex", "flash", "--port", "")
    assert len(ports) == 2 and "Quorvex" not in ports, ports
    assert complete("quorvex", "list", "--b") == ["--brief"]
    assert not [n for n in os.listdir(work) if n.startswith("out")], "a board was opened"
print("passed")

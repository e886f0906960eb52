#!/usr/bin/env python3
# The command line's rooms include only downwards: platform, then output, then boards, then
# commands, then the program itself at the top of src/cli.
#   layers_test.py SRC_CLI
import glob, os, re, sys

RANK = {"platform": 0, "output": 1, "boards": 2, "commands": 3}
upward = []
for path in glob.glob(os.path.join(sys.argv[1], "**", "*.[ch]*"), recursive=True):
    room = os.path.relpath(path, sys.argv[1]).split(os.sep)[0]
    for included in re.findall(r'#include "cli/([a-z_]+)[/.]', open(path).read()):
        if RANK.get(included, 4) > RANK.get(room, 4):
            upward.append((path, included))
assert not upward, upward
print("passed")

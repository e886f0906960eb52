#!/usr/bin/env python3
# The exit-status table that quorvex --help prints is the one the README and the manual page give,
# word for word, with the same rule for which status wins; every help text fits 80 columns and
# each command's lists the options it takes from the program as a whole.
#   exit_table.py QUORVEX README MANPAGE
import re, subprocess, sys

quorvex, readme, manual = sys.argv[1:4]
help_text = subprocess.run([quorvex, "--help"], capture_output=True, text=True, check=True).stdout
rows = re.findall(r"^  (\d+) +(.+)$", help_text.split("Exit status:\n", 1)[1], re.M)
rule = re.search(r"^Where several apply.*$", help_text, re.M).group(0)
assert [code for code, _ in rows] == ["0", "1", "2", "3", "4", "130"], rows
flat = lambda text: " ".join(text.replace("\\-", "-").split())
readme_text, manual_text = flat(open(readme).read()), flat(open(manual).read())
for code, meaning in rows:
    assert f"| {code} | {meaning} |" in readme_text, ("README", code, meaning)
    assert f".B {code} {meaning}" in manual_text, ("manual page", code, meaning)
assert rule in readme_text and rule in manual_text, rule
for command in [None, "list", "info", "flash", "verify", "dump", "watch", "report"]:
    text = subprocess.run([quorvex] + ([command] if command else []) + ["--help"],
                          capture_output=True, text=True, check=True).stdout
    assert max(map(len, text.splitlines())) <= 80, (command, "wider than 80 columns")
    assert not command or ("--json" in text and "--quiet" in text), (command, "no global options")
print("passed")

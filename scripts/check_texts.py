#!/usr/bin/env python3
"""Fails when a string literal holding non-ASCII text lacks the _cp suffix:
such a text would reach the cp866 screen as UTF-8 bytes (garbage)."""
import re, subprocess, sys

lit = re.compile(r'(?<![A-Za-z0-9_])(u8|u|U|L)?"((?:[^"\\\n]|\\.)*)"(_cp)?')
bad = []
import os
files = subprocess.run(["git", "ls-files", "--cached", "--others", "--exclude-standard", "*.cpp", "*.h"],
                       capture_output=True, text=True).stdout.split()
files = [f for f in files if os.path.exists(f)]
for path in files:
    if path.startswith("screen/terminal/") or path.endswith("cp866_literal.h"):
        continue
    for n, line in enumerate(open(path, encoding="utf-8"), 1):
        if line.lstrip().startswith("//") or "// UTF-8" in line:
            continue
        for m in lit.finditer(line):
            if m.group(1) is None and not m.group(3) and any(ord(c) > 127 for c in m.group(2)):
                bad.append(f"{path}:{n}: {line.strip()}")
if bad:
    print("non-ASCII string literals without _cp:\n" + "\n".join(bad))
    sys.exit(1)

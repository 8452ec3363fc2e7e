#!/usr/bin/env python3
"""Fails when a string literal holding non-ASCII text lacks the _cp suffix:
such a text would reach the cp866 screen as UTF-8 bytes (garbage)."""
import re, subprocess, sys

lit = re.compile(r'(?<![A-Za-z0-9_])(u8|u|U|L)?"((?:[^"\\\n]|\\.)*)"(_cp)?')
bad = []
import os

SOURCE_DIRS = ("app", "core", "screen", "device", "ui", "platform", "sim", "tests", "fuzz")
try:
    listed = subprocess.run(["git", "ls-files", "--cached", "--others", "--exclude-standard", "*.cpp", "*.h"],
                            capture_output=True, text=True, check=True).stdout.split()
except (OSError, subprocess.CalledProcessError):
    # Not a git checkout (or no git): walk the source folders instead.
    listed = [os.path.join(d, f) for top in SOURCE_DIRS for d, _, fs in os.walk(top)
              for f in fs if f.endswith((".cpp", ".h"))]
files = [f for f in listed if os.path.exists(f)]
if not files:
    print("check_texts: no source files found")
    sys.exit(1)
for path in files:
    if path.startswith("platform/posix/terminal_console") or path.endswith("cp866/literal.h"):
        continue
    text = open(path, encoding="utf-8").read()
    # A test that compares the UTF-8 output of the command line says so once.
    if path.startswith("tests/") and "// check_texts: UTF-8 expectations" in text:
        continue
    for n, line in enumerate(text.split("\n"), 1):
        if line.lstrip().startswith("//") or "// UTF-8" in line:
            continue
        for m in lit.finditer(line):
            if m.group(1) is None and not m.group(3) and any(ord(c) > 127 for c in m.group(2)):
                bad.append(f"{path}:{n}: {line.strip()}")
if bad:
    print("non-ASCII string literals without _cp:\n" + "\n".join(bad))
    sys.exit(1)

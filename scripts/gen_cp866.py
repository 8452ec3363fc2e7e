#!/usr/bin/env python3
"""Prints the code point table of cp866/code_page.h from Python's cp866 codec."""
uni = [ord(bytes([b]).decode("cp866")) for b in range(128, 256)]
for i in range(0, 128, 8):
    print("    " + ", ".join("0x%04X" % u for u in uni[i:i + 8]) + ",")

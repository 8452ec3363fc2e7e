#!/usr/bin/env python3
"""Checks the layout of the program's own sources (not tests/ or fuzz/):

- every `#include "..."` of a project file points down the layers or within
  its own folder, never up or sideways:
      cp866/            cp866/
      core/             core/ cp866/
      screen/           screen/ cp866/
      device/           device/ core/ cp866/ platform/*.h
      gateway/          gateway/ device/ core/ cp866/ platform/*.h
      ui/               ui/ gateway/ device/ core/ screen/ cp866/ platform/*.h
      app/              app/ ui/ gateway/ device/ core/ screen/ cp866/ platform/*.h
                        (app/*_main.cpp, the program's wiring, also
                        platform/posix/ and platform/win32/)
      platform/*.h      platform/*.h cp866/  (the small interfaces directly
                        in platform/, e.g. platform/host.h)
      platform/host_devices.h  also device/ screen/ (the console and the port
                        it makes); included by app/ and the platform folders only
      app/command_*     not ui/ or screen/: the scripted commands build no screen
      platform/posix/   platform/posix/ platform/*.h device/ screen/ core/ cp866/
      platform/win32/   platform/win32/ platform/*.h device/ screen/ core/ cp866/
      sim/              sim/ device/ core/ cp866/
- no source file outside sim/ is over 500 lines.

Prints file:line: include and why for each finding; exits 1 if there is any.
"""
import os
import re
import subprocess
import sys

FOLDERS = ("cp866", "core", "screen", "device", "gateway", "ui", "app", "platform", "sim")
MAX_LINES = 500

# Layer -> the layers its files may include.
IFACE = "platform/*.h"
ALLOWED = {
    "cp866/": {"cp866/"},
    "core/": {"core/", "cp866/"},
    "screen/": {"screen/", "cp866/"},
    "device/": {"device/", "core/", "cp866/", IFACE},
    "gateway/": {"gateway/", "device/", "core/", "cp866/", IFACE},
    "ui/": {"ui/", "gateway/", "device/", "core/", "screen/", "cp866/", IFACE},
    "app/": {"app/", "ui/", "gateway/", "device/", "core/", "screen/", "cp866/", IFACE},
    IFACE: {IFACE, "cp866/"},
    "platform/posix/": {"platform/posix/", IFACE, "device/", "screen/", "core/", "cp866/"},
    "platform/win32/": {"platform/win32/", IFACE, "device/", "screen/", "core/", "cp866/"},
    "sim/": {"sim/", "device/", "core/", "cp866/"},
}
# The console and the port of the machine: made by the start-up, whose
# layers see only their interfaces.
DEVICES = "platform/host_devices.h"
ALLOWED[DEVICES] = {IFACE, "cp866/", "device/", "screen/"}
ALLOWED["app/"].add(DEVICES)
ALLOWED["platform/posix/"].add(DEVICES)
ALLOWED["platform/win32/"].add(DEVICES)
# The scripted commands work on the gateway session alone.
COMMANDS = re.compile(r"app/command_[^/]*")
# The program's wiring: app/*_main.cpp picks the platform it runs on.
MAIN_EXTRA = {"platform/posix/", "platform/win32/"}
ORDER = ["cp866/", "core/", "screen/", "device/", IFACE, DEVICES, "gateway/", "ui/", "app/",
         "platform/posix/", "platform/win32/", "sim/"]

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def layer_of(path):
    """The layer a repository path belongs to, or None for none of them."""
    parts = path.split("/")
    if path == DEVICES:
        return DEVICES
    if parts[0] == "platform":
        if len(parts) == 2:
            return IFACE
        if parts[1] in ("posix", "win32"):
            return "platform/%s/" % parts[1]
        return None
    if len(parts) > 1 and parts[0] in FOLDERS:
        return parts[0] + "/"
    return None


def listed_sources():
    try:
        out = subprocess.run(["git", "ls-files", "--cached", "--others", "--exclude-standard",
                              "--", *["%s/*.h" % d for d in FOLDERS], *["%s/*.cpp" % d for d in FOLDERS]],
                             capture_output=True, text=True, check=True).stdout.split()
    except (OSError, subprocess.CalledProcessError):
        # Not a git checkout (or no git): walk the folders instead.
        out = [os.path.join(d, f).replace(os.sep, "/") for top in FOLDERS if os.path.isdir(top)
               for d, _, fs in os.walk(top) for f in fs]
    return sorted(f for f in set(out) if f.endswith((".h", ".cpp")) and os.path.isfile(f))


def main(argv):
    if any(a in ("-h", "--help") for a in argv[1:]):
        print("usage: scripts/check-layers.py  (from anywhere in the checkout) -- fails on an "
              "#include that runs up or sideways a layer, or a source file outside sim/ over "
              "%d lines" % MAX_LINES)
        return 0
    if len(argv) > 1:
        print("check-layers: no arguments taken (see --help)", file=sys.stderr)
        return 2
    os.chdir(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    files = listed_sources()
    if not files:
        print("check-layers: no source files found")
        return 1
    findings = []
    for path in files:
        layer = layer_of(path)
        if layer is None:
            findings.append("%s: in no layer (platform/ holds only its interfaces, posix/ and win32/)"
                            % path)
            continue
        allowed = set(ALLOWED[layer])
        if layer == "app/" and re.fullmatch(r"app/[^/]*_main\.cpp", path):
            allowed |= MAIN_EXTRA
        if COMMANDS.fullmatch(path):
            allowed -= {"ui/", "screen/", DEVICES}
        with open(path, encoding="utf-8", errors="replace") as f:
            lines = f.readlines()
        for n, line in enumerate(lines, 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            target = m.group(1)
            to = layer_of(target)
            if to is None:
                # Not a file of a layer (tests/, a path without a folder): the
                # program's sources name their includes from the top.
                findings.append('%s:%d: #include "%s": not a file of the program\'s layers'
                                % (path, n, target))
            elif to not in allowed:
                may = " ".join(sorted(allowed, key=ORDER.index))
                where = path if allowed != ALLOWED[layer] else layer
                findings.append('%s:%d: #include "%s": %s may include only %s'
                                % (path, n, target, where, may))
        if layer != "sim/" and len(lines) > MAX_LINES:
            findings.append("%s: %d lines, over %d: split it into files of their own"
                            % (path, len(lines), MAX_LINES))
    for finding in findings:
        print(finding)
    if findings:
        print("check-layers: %d finding(s) in %d source files" % (len(findings), len(files)))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

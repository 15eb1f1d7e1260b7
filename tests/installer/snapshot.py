#!/usr/bin/env python3
"""What a Wine prefix holds, for comparing before and after: every registry
key and value of the machine and the user (from the prefix's registry files,
without the times Wine stamps on keys) and every file and folder of drive C.
  snapshot.py PREFIX OUT            write the snapshot
  snapshot.py --diff BEFORE AFTER   print what differs; exit 1 if anything
"""
import os, re, sys

# Written by Wine itself whenever any program runs, whatever it does.
NOISE = [
    re.compile(r"^file:drive_c/windows/temp/"),
    re.compile(r"^file:drive_c/users/[^/]+/(AppData/Local/)?Temp/"),
    re.compile(r"^file:drive_c/windows/system32/wbem/"),
    re.compile(r"^reg:user\\Software\\Wine\\"),
    re.compile(r"^reg:machine\\Software\\Wine\\"),
    re.compile(r"^reg:(user|machine)\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\(ShellNoRoam|Shell Folders|User Shell Folders)"),
    re.compile(r"^reg:machine\\System\\CurrentControlSet\\Control\\Session Manager\\Environment"),
    re.compile(r"^reg:(user|machine)\\Volatile"),
    re.compile(r"^reg:machine\\(Hardware|HARDWARE)\\"),
    # The host's fonts, registered when a program first draws text, and the
    # display devices, recorded when a program first opens a window.
    re.compile(r"^reg:machine\\Software\\Microsoft\\Windows( NT)?\\CurrentVersion\\Fonts\\"),
    re.compile(r"^reg:machine\\System\\CurrentControlSet\\Control\\Class\\"),
    # The system's internet library sets up its cookie store and proxy
    # setting on its first use; every Windows has them already.
    re.compile(r"^file:drive_c/users/[^/]+/AppData/Local/Microsoft/Windows/(INetCookies|INetCache|History)(/|$)"),
    re.compile(r"^reg:user\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\\"ProxyEnable\"="),
]


def registry(path, tag):
    entries = set()
    key = None
    with open(path, encoding="utf-8", errors="replace") as f:
        lines = f.read().split("\n")
    i = 0
    while i < len(lines):
        line = lines[i]
        # A value that goes on over several lines ends each with a backslash.
        while line.endswith("\\") and i + 1 < len(lines):
            i += 1
            line = line[:-1] + lines[i].lstrip()
        i += 1
        if line.startswith("["):
            key = re.sub(r"\]\s*\d*$", "]", line)[1:-1].replace("\\\\", "\\")
            entries.add(f"reg:{tag}\\{key}")
        elif key is not None and line and not line.startswith(("#", ";")):
            entries.add(f"reg:{tag}\\{key}\\{line}")
    return entries


def snapshot(prefix):
    entries = set()
    entries |= registry(os.path.join(prefix, "system.reg"), "machine")
    entries |= registry(os.path.join(prefix, "user.reg"), "user")
    drive = os.path.join(prefix, "drive_c")
    for root, dirs, files in os.walk(drive):
        for name in dirs + files:
            rel = os.path.relpath(os.path.join(root, name), prefix)
            entries.add("file:" + rel)
    return {e for e in entries if not any(n.search(e) for n in NOISE)}


if sys.argv[1] == "--diff":
    before = set(open(sys.argv[2], encoding="utf-8").read().splitlines())
    after = set(open(sys.argv[3], encoding="utf-8").read().splitlines())
    for e in sorted(after - before):
        print("left behind:", e)
    for e in sorted(before - after):
        print("removed:", e)
    sys.exit(1 if before != after else 0)
else:
    with open(sys.argv[2], "w", encoding="utf-8") as out:
        out.write("\n".join(sorted(snapshot(sys.argv[1]))) + "\n")

#!/usr/bin/python3
"""Checks that every include between the program's folders points downwards.

Usage: check_layers.py SRC_DIR

src/ holds two halves, engine/ (no widgets) and window/, and tools/ (command
lines over the engine). Each folder may include its own headers and those of
the folders listed for it below, nothing else, so this list is also the
picture of the layers: a new include between folders means a new line here,
made on purpose. The FTP library includes no Qt at all. Whether the engine
uses widgets is checked by the build itself: its libraries link Qt Core only,
so a widget header does not compile there.
"""

import os
import re
import sys

# Lowest first. A folder may use those named here and nothing else.
ALLOWED = {
    "engine/inet": set(),
    "engine/remote": {"engine/inet"},
    "engine/base": set(),
    "engine/catalog": {"engine/base"},
    "engine/session": {"engine/base", "engine/inet", "engine/remote", "engine/catalog"},
    "engine/transfer": {"engine/base", "engine/inet", "engine/remote", "engine/catalog", "engine/sync"},
    "engine/sync": {"engine/base", "engine/remote"},
    "engine/edit": {"engine/base"},

    "window/resources": set(),
    "window/views": {"engine/base", "window/resources"},
    "window/chrome": {"engine/base", "window/resources"},
    "window/local": {"engine/base"},
    "window/sites": {"engine/base", "engine/catalog", "window/resources"},
    "window/options": {"engine/base", "engine/catalog", "window/sites"},
    "window/sync": {"engine/base", "engine/sync"},
    "window/edit": {"engine/edit"},
    "window/transfers": {"engine/base", "engine/transfer", "window/resources", "window/views"},
    "window/frame": {"engine/base", "engine/catalog", "engine/session", "engine/transfer", "window/resources", "window/views",
                     "window/chrome", "window/local", "window/sites", "window/options", "window/transfers",
                     "engine/sync", "window/sync", "engine/edit", "window/edit"},

    "tools": {"engine/base", "engine/inet", "engine/remote", "engine/catalog"},
}
NO_QT = {"engine/inet", "engine/remote"}
# kestrix-ftp is the FTP library's own client (FTP and SFTP): no Qt either.
NO_QT_FILES = {"tools/kestrix_ftp.cpp", "tools/Mirror.cpp", "tools/Mirror.h", "tools/Netrc.cpp", "tools/Netrc.h"}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def folder_of(relative):
    """The layer a path below src/ belongs to: "engine/x", "window/x" or "tools"."""
    parts = relative.split("/")
    if parts[0] in ("engine", "window") and len(parts) > 2:
        return "/".join(parts[:2])
    return parts[0]


def main():
    src = sys.argv[1]
    problems = []
    used_pairs = set()
    for dirpath, _, names in os.walk(src):
        for name in sorted(names):
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.join(dirpath, name)
            relative = os.path.relpath(path, src)
            folder = folder_of(relative)
            if folder not in ALLOWED:
                problems.append("%s: a folder with no place in the layers; add it to check_layers.py" % relative)
                continue
            allowed = ALLOWED[folder] | {folder}
            no_qt = folder in NO_QT or relative in NO_QT_FILES
            with open(path, encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    match = INCLUDE.match(line)
                    if not match:
                        continue
                    bracket, target = match.groups()
                    where = "%s:%d" % (relative, number)
                    if bracket == "<":
                        if no_qt and re.match(r"Q[A-Za-z]", target):
                            problems.append("%s includes <%s>: this folder uses no Qt" % (where, target))
                        continue
                    used = folder_of(target) if "/" in target else folder
                    if used not in allowed:
                        problems.append("%s includes \"%s\": %s may not use %s" % (where, target, folder, used))
                    elif used != folder:
                        used_pairs.add((folder, used))
    # The list allows exactly what the code needs: an allowance nothing uses
    # is a door left open for the next include that should not be there.
    for folder, allowed in sorted(ALLOWED.items()):
        for other in sorted(allowed - {o for f, o in used_pairs if f == folder}):
            problems.append("%s is allowed %s but uses nothing of it; remove the allowance" % (folder, other))
    for problem in problems:
        print(problem)
    if problems:
        return 1
    print("every include points downwards")
    return 0


if __name__ == "__main__":
    sys.exit(main())

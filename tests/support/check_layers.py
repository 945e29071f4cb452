#!/usr/bin/python3
"""Checks that every include between the program's folders points downwards.

Usage: check_layers.py SRC_DIR

Each folder of src/ may include its own headers and those of the folders
listed for it below, nothing else; the FTP library includes no Qt at all.
Prints every include that breaks the rule and exits 1 when there is one.
Whether a layer uses widgets is checked by the build itself: the libraries
below the window link Qt Core only, so a widget header does not compile there.
"""

import os
import re
import sys

# Lowest first. A folder may use those named here and nothing above it.
ALLOWED = {
    "inet": set(),
    "base": set(),
    "resources": set(),
    # The catalogue logic uses no widgets (the build sees to it); its dialogs
    # may use the views' small widgets.
    "catalog": {"base", "resources", "views"},
    "ftp": {"base", "inet", "catalog"},
    "views": {"base", "resources"},
    "chrome": {"base", "resources"},
    # Worker threads and their dialogs, local browser: both sides of the window.
    "transfer": {"base", "inet", "catalog", "ftp", "resources", "views"},
    "local": {"base", "inet", "catalog", "ftp", "resources", "views", "transfer"},
    "cli": {"inet"},
    "tools": {"base", "catalog"},
    "app": {"base", "inet", "catalog", "ftp", "resources", "views", "chrome", "transfer", "local"},
}
NO_QT = {"inet", "cli"}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def main():
    src = sys.argv[1]
    problems = []
    for folder in sorted(os.listdir(src)):
        top = os.path.join(src, folder)
        if not os.path.isdir(top):
            continue
        if folder not in ALLOWED:
            problems.append("%s: a folder with no place in the layers; add it to check_layers.py" % folder)
            continue
        allowed = ALLOWED[folder] | {folder}
        for dirpath, _, names in os.walk(top):
            for name in sorted(names):
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.join(dirpath, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        bracket, target = match.groups()
                        where = "%s:%d" % (os.path.relpath(path, src), number)
                        if bracket == "<":
                            if folder in NO_QT and re.match(r"Q[A-Za-z]", target):
                                problems.append("%s includes <%s>: this folder uses no Qt" % (where, target))
                            continue
                        used = target.split("/", 1)[0] if "/" in target else folder
                        if used not in allowed:
                            problems.append("%s includes \"%s\": %s may not use %s" % (where, target, folder, used))
    for problem in problems:
        print(problem)
    if problems:
        return 1
    print("every include points downwards")
    return 0


if __name__ == "__main__":
    sys.exit(main())

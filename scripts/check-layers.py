#!/usr/bin/env python3
"""Checks that the folders of Source/ depend on each other one way only.

The layers, highest first (a file may include headers of its own folder and
of any lower layer; folders on the same line are peers and include neither
each other nor anything above them):

    Source/            the framework: CBaseComponent with all its operations,
                       CComponent, the messages, the exports and DllMain
    Source/devices/    device list, per-device results, PnP driver staging
    Source/inf/        CInf (reading, file operations, installs), services,
    Source/package/    the device installation library  |  XML model, WMI,
                                                            file versions
    Source/log/        CCmpLog
    Source/support/    strings, handles, registry, system libraries, folders

Headers of include/ (the public interface) may be included anywhere.

Usage: check-layers.py SOURCE_DIR INCLUDE_DIR   checks the tree; exit 1 on a
                                                violation, with one line each
       check-layers.py --self-test              checks the checker on small
                                                made-up trees
"""

import os
import re
import shutil
import sys
import tempfile

# Folder (first path part below Source/, "" for Source/ itself) -> rank.
LAYERS = {
    "": 5,
    "devices": 4,
    "inf": 3,
    "package": 3,
    "log": 2,
    "support": 1,
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
SOURCE_SUFFIXES = (".cpp", ".h", ".c", ".hpp")


def folder_of(relative_path):
    parts = relative_path.replace("\\", "/").split("/")
    return parts[0] if len(parts) > 1 else ""


def describe(folder):
    return "Source/" + (folder + "/" if folder else "")


def check(source_dir, include_dir):
    """Returns the violations as text lines (empty when the tree is sound)."""
    errors = []
    edges = {}  # (from folder, to folder) -> first include line seen
    for directory, _, files in os.walk(source_dir):
        for name in sorted(files):
            if not name.endswith(SOURCE_SUFFIXES):
                continue
            path = os.path.join(directory, name)
            relative = os.path.relpath(path, source_dir).replace(os.sep, "/")
            shown = "Source/" + relative
            folder = folder_of(relative)
            if folder not in LAYERS:
                errors.append("%s: folder %s has no layer (add it to the table in %s)"
                              % (shown, describe(folder), os.path.basename(__file__)))
                continue
            with open(path, encoding="utf-8", errors="replace") as handle:
                text = handle.read()
            for target in INCLUDE.findall(text):
                if os.path.isfile(os.path.join(source_dir, target)):
                    target_folder = folder_of(target)
                elif os.path.isfile(os.path.join(include_dir, target)):
                    continue  # the public interface
                elif os.path.isfile(os.path.join(directory, target)):
                    target_folder = folder
                else:
                    errors.append('%s: include "%s" not found below Source/ or include/' % (shown, target))
                    continue
                if target_folder == folder:
                    continue
                if target_folder not in LAYERS:
                    errors.append('%s: "%s" is in folder %s, which has no layer'
                                  % (shown, target, describe(target_folder)))
                    continue
                edges.setdefault((folder, target_folder), '%s includes "%s"' % (shown, target))
                if LAYERS[target_folder] >= LAYERS[folder]:
                    errors.append('%s: includes "%s" from %s, which is not below %s'
                                  % (shown, target, describe(target_folder), describe(folder)))
    for (a, b), first in sorted(edges.items()):
        if a < b and (b, a) in edges:
            errors.append("%s and %s include each other: %s; %s"
                          % (describe(a), describe(b), first, edges[(b, a)]))
    return errors


def self_test():
    """Runs the check on made-up trees; returns the failures."""
    failures = []
    roots = []

    def tree(files):
        root = tempfile.mkdtemp(prefix="zol-layers-")
        roots.append(root)
        for relative, text in files.items():
            path = os.path.join(root, relative)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w", encoding="utf-8") as handle:
                handle.write(text)
        return os.path.join(root, "Source"), os.path.join(root, "include")

    sound = {
        "include/zolcomp/zolcomp.h": "",
        "Source/basecomp.h": '#include "zolcomp/zolcomp.h"\n#include "devices/list.h"\n',
        "Source/basecomp.cpp": '#include "basecomp.h"\n#include "support/str.h"\n',
        "Source/devices/list.h": '#include "support/str.h"\n',
        "Source/devices/list.cpp": '#include "devices/list.h"\n#include "inf/inf.h"\n#include "list.h"\n',
        "Source/inf/inf.h": "",
        "Source/support/str.h": "#include <windows.h>\n",
    }
    errors = check(*tree(sound))
    if errors:
        failures.append("a sound tree was refused: %s" % errors)

    cases = [
        ("a cycle between two folders",
         {"Source/support/str.cpp": '#include "devices/list.h"\n'},
         ["which is not below Source/support/", "Source/devices/ and Source/support/ include each other"]),
        ("an upward include", {"Source/inf/inf.cpp": '#include "basecomp.h"\n'},
         ['Source/inf/inf.cpp: includes "basecomp.h" from Source/, which is not below Source/inf/']),
        ("peers including each other", {"Source/package/xml.h": '#include "inf/inf.h"\n'},
         ["from Source/inf/, which is not below Source/package/"]),
        ("a folder without a layer", {"Source/extra/x.cpp": '#include "support/str.h"\n'},
         ["folder Source/extra/ has no layer"]),
        ("an include that is nowhere", {"Source/log/log.cpp": '#include "log/missing.h"\n'},
         ['include "log/missing.h" not found']),
    ]
    for title, extra, expected in cases:
        files = dict(sound)
        files.update(extra)
        text = "\n".join(check(*tree(files)))
        for fragment in expected:
            if fragment not in text:
                failures.append("%s: expected %r in %r" % (title, fragment, text))
    for root in roots:
        shutil.rmtree(root, ignore_errors=True)
    return failures


def main(argv):
    if argv[1:] == ["--self-test"]:
        failures = self_test()
        for line in failures:
            print(line)
        print("layer check self-test: %s" % ("FAILED" if failures else "passed"))
        return 1 if failures else 0
    if len(argv) != 3:
        print(__doc__)
        return 2
    errors = check(argv[1], argv[2])
    for line in errors:
        print(line)
    print("layers: %s" % ("%d violation(s)" % len(errors) if errors else "one way"))
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

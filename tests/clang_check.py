#!/usr/bin/env python3
"""Compiles Source/ and tools/ with clang for the same target, syntax only.

usage: clang_check.py BUILD_DIR SOURCE_DIR

Takes every compile command of a file under Source/ or tools/ from
BUILD_DIR/compile_commands.json, keeps its definitions, include folders,
language standard and warning options, and runs clang on it for
x86_64-w64-mingw32 with the C++ library and Windows headers of the MinGW-w64
compiler the build uses. Any warning or error fails the check. CLANG_JOBS
sets how many run at once (default 2); CLANGXX and CLANG the compilers
(default clang++ and clang).
"""
import concurrent.futures
import json
import os
import pathlib
import re
import shlex
import shutil
import subprocess
import sys

TARGET = "x86_64-w64-mingw32"
CHECKED_FOLDERS = ("Source", "tools")


def gcc_include_dirs(gcc):
    """The system include folders of the MinGW-w64 compiler, in its order."""
    probe = subprocess.run([gcc, "-xc++", "-E", "-v", os.devnull], capture_output=True, text=True)
    dirs, inside = [], False
    for line in probe.stderr.splitlines():
        if line.startswith("#include <...>"):
            inside = True
        elif line.startswith("End of search list"):
            break
        elif inside:
            dirs.append(os.path.normpath(line.strip()))
    return dirs


def clang_system_flags(gcc, clang):
    """-isystem flags for C++ and C: the MinGW-w64 C++ library and Windows
    headers, with clang's own built-in headers in place of the compiler's."""
    resource = subprocess.run([clang, "-print-resource-dir"], capture_output=True, text=True).stdout.strip()
    cxx, windows = [], []
    for d in gcc_include_dirs(gcc):
        if "/c++" in d:
            cxx.append(d)
        elif "/lib/gcc/" not in d:  # the compiler's own intrinsics stay out
            windows.append(d)
    if not cxx or not windows:
        raise RuntimeError(f"cannot find the C++ and Windows headers of {gcc}")
    tail = [os.path.join(resource, "include")] + windows
    to_flags = lambda dirs: [f for d in dirs for f in ("-isystem", d)]
    return to_flags(cxx + tail), to_flags(tail)


def expanded(arguments, directory):
    """The arguments with each @response file replaced by its contents."""
    for arg in arguments:
        if arg.startswith("@"):
            text = (pathlib.Path(directory) / arg[1:]).read_text(encoding="utf-8")
            yield from expanded(shlex.split(text), directory)
        else:
            yield arg


def kept_flags(arguments):
    """The options of a compile command that mean the same to clang."""
    kept, it = [], iter(arguments)
    for arg in it:
        if arg in ("-I", "-isystem", "-D", "-include"):
            kept += [arg, next(it)]
        elif re.match(r"-(I|D|W|std=)", arg):
            kept.append(arg)
        elif arg == "-o":
            next(it)
    return kept


def commands(build, source):
    database = pathlib.Path(build) / "compile_commands.json"
    entries = json.loads(database.read_text(encoding="utf-8"))
    seen = set()
    for entry in entries:
        path = pathlib.Path(entry["file"]).resolve()
        try:
            relative = path.relative_to(pathlib.Path(source).resolve())
        except ValueError:
            continue
        if relative.parts[0] not in CHECKED_FOLDERS or path.suffix not in (".c", ".cpp"):
            continue
        arguments = entry.get("arguments") or shlex.split(entry["command"])
        flags = kept_flags(expanded(arguments[1:], entry["directory"]))
        key = (str(relative), tuple(flags))
        if key in seen:
            continue
        seen.add(key)
        yield str(relative), path, arguments[0], flags, entry["directory"]


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    build, source = argv[1], argv[2]
    clangxx = os.environ.get("CLANGXX", "clang++")
    clang = os.environ.get("CLANG", "clang")
    for tool in (clangxx, clang):
        if not shutil.which(tool):
            print(f"FAIL: {tool} not found (scripts/setup.sh installs Debian's clang)")
            return 1
    jobs = list(commands(build, source))
    if not jobs:
        print(f"FAIL: no compile command of {' or '.join(CHECKED_FOLDERS)} in {build}/compile_commands.json")
        return 1
    system = {}

    def check(job):
        relative, path, gcc, flags, directory = job
        is_c = path.suffix == ".c"
        cxx_dirs, c_dirs = system[gcc]
        command = [clang if is_c else clangxx, f"--target={TARGET}", "-nostdinc"] + (c_dirs if is_c else cxx_dirs)
        command += flags + ["-fsyntax-only", str(path)]
        result = subprocess.run(command, cwd=directory, capture_output=True, text=True)
        return relative, result.returncode, (result.stdout + result.stderr).strip()

    # The system folders are asked once per compiler before the pool starts.
    for gcc in {job[2] for job in jobs}:
        system[gcc] = clang_system_flags(gcc, clangxx)
    failed = 0
    workers = max(1, int(os.environ.get("CLANG_JOBS", "2")))
    with concurrent.futures.ThreadPoolExecutor(workers) as pool:
        for relative, code, output in pool.map(check, jobs):
            if code != 0 or output:
                failed += 1
                print(f"FAIL: {relative}\n{output}")
    files = len({job[0] for job in jobs})
    print(f"clang {TARGET}: {len(jobs)} compile commands of {files} files, "
          + (f"{failed} with warnings or errors" if failed else "no warnings"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

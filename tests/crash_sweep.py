#!/usr/bin/env python3
"""Runs cut off at every change, then run again, end where a whole run ends.

For each operation (a PnP new install, a PnP upgrade, a LEGACY install, a
VIRTUAL install, and the uninstall of each) the sweep makes the server's
state before it once, then, for each cut point N:

  1. copies that state into a fresh Wine prefix,
  2. runs the operation with the test build of the component
     (zolcomp_faults.dll in the package folder's zolcomp.dll) and
     ZOL_CUT_AT=N, which ends the host before the N-th change the component
     would make,
  3. runs the same operation again with the shipped component, not cut,
  4. compares the server with the end of a run of the test build that was
     never cut (with --all, that end is first compared with the shipped
     component's whole run): the whole registry (devices and drivers,
     services, the install record and its state, the keys the package writes,
     the uninstall entries), every file and folder of C: (the files the
     package places, byte for byte; the staging and record folders; leftover
     temporary files anywhere), the host's exit code (an uninstall cut after
     its record was removed is done: the run after it may find the package
     not installed, 1605), and the main log, whose every line must be whole:
     a line the cut left open is ended before the next run's first line.

Each difference is printed with the operation, N, the call the run was cut
before, and what differs; the exit code is 1 when there is any.

  crash_sweep.py BUILD_DIR              a fixed spread of N per operation
                                        (first, last, and some between)
  crash_sweep.py BUILD_DIR --all        every N of every operation
  crash_sweep.py --self-test            the comparison on made-up servers
  options: --ops pnp-new,legacy-uninstall,...  only these operations
           --points N                   N points per operation in the spread
           --at N[,N...]                only these N
           --jobs N                     N cuts at a time (2)
           --keep                       keep the prefixes of the failing cuts

The prefixes are made from the build's pristine prefix: Wine's own program
and library images are linked, not copied (nothing writes to them), every
other file is copied.
"""

import concurrent.futures
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)

# The images a run never writes to: linked into each prefix, not copied.
LINKED_EXTENSIONS = {".dll", ".exe", ".nls", ".msstyles", ".drv", ".ocx", ".acm", ".cpl", ".tlb", ".ds",
                     ".com", ".ax"}
# The exit codes as Wine hands them on (the low 8 bits): a host the change
# point ended, zolhost's 3010 (done, restart needed) and 1605 (not
# installed).
CUT_EXIT_CODE = 0xC7
RESTART_NEEDED = 3010 & 0xFF
NOT_INSTALLED = 1605 & 0xFF
CHIPSET_DEVICES = ["PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9",
                   "PCI\\VEN_8086&DEV_0E84&SUBSYS_7C41A2E9",
                   "PCI\\VEN_8086&DEV_0EA8&SUBSYS_7C41A2E9"]
PACKAGES = ["chipset", "chipset-1.2.4.0", "legacy", "virtual"]
# Below C:, compared by the sweep's own rules, not as files: the packages
# (the sweep swaps their component) and the main log.
PACKAGE_ROOT = "sweep"
MAIN_LOG = os.path.join("DEVAVOROR", "log", "zolsetup.log")
# Files of C: that Wine itself changes from run to run, whatever the
# component does (lower case, relative to drive_c).
# The kept copies of the component below Program Files, and the entries of
# the installed programs (as the registry file names them, lower case).
KEPT_COMPONENT = re.compile(r"^program files/zolcomp/[^/]+/zolcomp\.dll$")
UNINSTALL_ENTRIES = "software\\\\microsoft\\\\windows\\\\currentversion\\\\uninstall\\\\"
WINE_NOISE_FILES = ("windows/temp/", "users/")
# Registry keys Wine itself rewrites at each start (prefixes, lower case).
WINE_NOISE_KEYS = (
    "software\\\\microsoft\\\\windows nt\\\\currentversion\\\\perflib",
    "software\\\\wine\\\\wine\\\\config",
    "system\\\\currentcontrolset\\\\control\\\\session manager\\\\environment",
    "hardware\\\\",
    "software\\\\microsoft\\\\cryptography\\\\rng",
    # The display driver's key: Wine stamps its install time at each start.
    "system\\\\currentcontrolset\\\\control\\\\class\\\\{4d36e968-e325-11ce-bfc1-08002be10318}",
)

# The operations: the state each starts from, and the host's arguments.
# "after" names the operation whose end state an uninstall starts from.
OPERATIONS = [
    ("pnp-new", {"start": "devices", "package": "chipset", "args": []}),
    ("pnp-upgrade", {"start": "pnp-new", "package": "chipset-1.2.4.0", "args": []}),
    ("legacy", {"start": "devices", "package": "legacy", "args": []}),
    ("virtual", {"start": "devices", "package": "virtual", "args": []}),
    # The only version of the chipset's package: its devices are left
    # without a driver, which only --force allows.
    ("pnp-new-uninstall", {"start": "pnp-new", "package": "chipset", "args": ["--uninstall", "--force"]}),
    ("pnp-upgrade-uninstall", {"start": "pnp-upgrade", "package": "chipset-1.2.4.0", "args": ["--uninstall"]}),
    ("legacy-uninstall", {"start": "legacy", "package": "legacy", "args": ["--uninstall"]}),
    ("virtual-uninstall", {"start": "virtual", "package": "virtual", "args": ["--uninstall"]}),
]


class Sweep:
    def __init__(self, build, keep):
        self.build = os.path.abspath(build)
        self.bin = os.path.join(self.build, "bin")
        self.wine_root = os.path.join(self.build, "wine")
        self.pristine = os.path.join(self.wine_root, "pristine")
        self.keep = keep
        os.makedirs(os.path.join(self.wine_root, "runs"), exist_ok=True)
        self.work = tempfile.mkdtemp(prefix="sweep.", dir=os.path.join(self.wine_root, "runs"))
        self.env = self.wine_env()
        self.wine = self.env.pop("ZOL_SWEEP_WINE")
        self.wineserver = self.env.pop("ZOL_SWEEP_WINESERVER")
        self.counter = 0
        self.lock = threading.Lock()
        self.hash_cache = {}

    def wine_env(self):
        script = ('export ZOL_WINE_ROOT="$1"; source "$2/scripts/wine-env.sh"; '
                  'echo "ZOL_SWEEP_WINE=$WINE64"; echo "ZOL_SWEEP_WINESERVER=$WINESERVER"; env')
        out = subprocess.run(["bash", "-c", script, "sweep", self.wine_root, SOURCE], check=True,
                             capture_output=True, text=True).stdout
        env = {}
        for line in out.splitlines():
            if "=" in line:
                name, value = line.split("=", 1)
                env.setdefault(name, value)
        return env

    def cleanup(self):
        shutil.rmtree(self.work, ignore_errors=True)

    # --- prefixes -------------------------------------------------------

    def new_prefix(self, name):
        with self.lock:
            self.counter += 1
            number = self.counter
        return os.path.join(self.work, "%03d-%s" % (number, name))

    def clone(self, source, name):
        """A copy of prefix source: the images linked, everything else copied
        with its times."""
        target = self.new_prefix(name)
        for root, dirs, files in os.walk(source):
            rel = os.path.relpath(root, source)
            here = os.path.join(target, rel) if rel != "." else target
            os.makedirs(here, exist_ok=True)
            for d in list(dirs):
                p = os.path.join(root, d)
                if os.path.islink(p):
                    os.symlink(os.readlink(p), os.path.join(here, d))
                    dirs.remove(d)
            for f in files:
                p = os.path.join(root, f)
                t = os.path.join(here, f)
                if os.path.islink(p):
                    os.symlink(os.readlink(p), t)
                elif os.path.splitext(f)[1].lower() in LINKED_EXTENSIONS and self.is_wine_image(p):
                    os.link(p, t)
                else:
                    shutil.copy2(p, t)
            shutil.copystat(root, here)
        return target

    def is_wine_image(self, path):
        # Only images the pristine prefix holds; a component or driver the
        # sweep put in place is copied (a run may write over it).
        return path.startswith(self.pristine + os.sep) or os.stat(path).st_nlink > 1

    def run(self, prefix, args, cwd=None, extra_env=None, timeout=300):
        env = dict(self.env)
        env["WINEPREFIX"] = prefix
        if extra_env:
            env.update(extra_env)
        # A server that ends (and saves the registry) as soon as the last
        # program has: a run starts the machine, the next starts it again.
        subprocess.run([self.wineserver, "-p0"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            r = subprocess.run([self.wine] + args, cwd=cwd, env=env, capture_output=True, timeout=timeout)
            code, out = r.returncode, r.stdout.decode("utf-8", "replace").replace("\r", "")
        except subprocess.TimeoutExpired as e:
            code, out = -1, "(no end within %d s) %s" % (timeout, (e.stdout or b"").decode("utf-8", "replace"))
            subprocess.run([self.wineserver, "-k"], env=env, capture_output=True)
        return code, out

    def stop(self, prefix):
        env = dict(self.env)
        env["WINEPREFIX"] = prefix
        subprocess.run([self.wineserver, "-w"], env=env, capture_output=True)

    def package_dir(self, prefix, package):
        return os.path.join(prefix, "drive_c", PACKAGE_ROOT, package)

    def host(self, prefix, package, args, component, extra_env=None):
        """zolhost in the package's folder with the given component."""
        folder = self.package_dir(prefix, package)
        shutil.copyfile(os.path.join(self.bin, component), os.path.join(folder, "zolcomp.dll"))
        return self.run(prefix, [os.path.join(self.bin, "zolhost.exe")] + args +
                        ["C:\\%s\\%s\\zolcomp.dll" % (PACKAGE_ROOT, package)], cwd=folder, extra_env=extra_env)

    def devices_prefix(self):
        prefix = self.clone(self.pristine, "devices")
        for package in PACKAGES:
            shutil.copytree(os.path.join(self.build, "packages", package), self.package_dir(prefix, package))
        for device in CHIPSET_DEVICES:
            code, out = self.run(prefix, [os.path.join(self.bin, "devsim.exe"), "add", device + "&REV_04", device])
            if code != 0:
                raise SystemExit("crash_sweep: devsim add %s failed (%d): %s" % (device, code, out))
        self.stop(prefix)
        return prefix

    # --- snapshots ------------------------------------------------------

    def snapshot(self, prefix):
        return self.as_shipped({"registry": read_registry(os.path.join(prefix, "system.reg")),
                                "files": self.read_files(prefix),
                                "log": read_bytes(os.path.join(prefix, "drive_c", MAIN_LOG))})

    def as_shipped(self, state):
        """An install keeps a copy of the component it ran for its uninstall
        entry: the whole and the cut runs keep the test build, the run after
        a cut the shipped one. Either stands for "the component", and the
        entry's EstimatedSize, which counts the copy, is compared as present
        only (the uninstall tests hold its value)."""
        builds = {self.file_hash(os.path.join(self.bin, c)) for c in ("zolcomp.dll", "zolcomp_faults.dll")}
        files = state["files"]
        for path in files:
            if KEPT_COMPONENT.match(path) and files[path] in builds:
                files[path] = "the component"
        for key, values in state["registry"].items():
            if key.startswith(UNINSTALL_ENTRIES):
                state["registry"][key] = sorted('"EstimatedSize"=(present)' if v.startswith('"EstimatedSize"=')
                                                else v for v in values)
        return state

    def read_files(self, prefix):
        """Every folder and file of C: (the packages and the main log
        aside): a file's content by its hash."""
        drive = os.path.join(prefix, "drive_c")
        entries = {}
        for root, dirs, files in os.walk(drive):
            rel_root = os.path.relpath(root, drive)
            for d in dirs:
                rel = os.path.normpath(os.path.join(rel_root, d))
                if not self.ignored(rel):
                    entries[rel.lower() + "/"] = "folder"
            for f in files:
                rel = os.path.normpath(os.path.join(rel_root, f))
                if self.ignored(rel) or rel.lower() == MAIN_LOG.lower():
                    continue
                entries[rel.lower()] = self.file_hash(os.path.join(root, f))
        return entries

    def ignored(self, rel):
        low = rel.lower().replace(os.sep, "/")
        return (low == PACKAGE_ROOT or low.startswith(PACKAGE_ROOT + "/") or
                any(low.startswith(n) or low + "/" == n for n in WINE_NOISE_FILES))

    def file_hash(self, path):
        st = os.lstat(path)
        if os.path.islink(path):
            return "link to " + os.readlink(path)
        key = (st.st_ino, st.st_size, st.st_mtime_ns)
        if st.st_nlink > 1 and key in self.hash_cache:
            return self.hash_cache[key]
        h = hashlib.sha1()
        with open(path, "rb") as f:
            for chunk in iter(lambda: f.read(1 << 20), b""):
                h.update(chunk)
        value = "%d bytes, sha1 %s" % (st.st_size, h.hexdigest()[:16])
        if st.st_nlink > 1:
            self.hash_cache[key] = value
        return value


def read_bytes(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def read_registry(path):
    """Wine's registry file as {key: [value lines]}, without the times Wine
    stamps on keys and the keys Wine itself rewrites."""
    keys = {}
    current = None
    pending = ""
    with open(path, encoding="utf-8", errors="replace") as f:
        for raw in f:
            line = raw.rstrip("\n")
            if pending:
                line = pending + line.lstrip()
                pending = ""
            if line.endswith("\\") and not line.endswith("\\\\"):
                pending = line[:-1]
                continue
            if line.startswith("["):
                name = line[1:line.rindex("]")]
                current = None if name.lower().startswith(WINE_NOISE_KEYS) else name
                if current is not None:
                    keys[current.lower()] = []
            elif line.startswith("#") or not line.strip() or current is None:
                continue
            else:
                keys[current.lower()].append(line)
    for name in keys:
        keys[name].sort()
    return keys


def compare(reference, swept):
    """The differences of swept from reference, one text each."""
    out = []
    ref_reg, got_reg = reference["registry"], swept["registry"]
    for key in sorted(set(ref_reg) | set(got_reg)):
        if key not in got_reg:
            out.append("registry key missing: " + key)
        elif key not in ref_reg:
            out.append("registry key left over: %s %s" % (key, got_reg[key][:3]))
        elif ref_reg[key] != got_reg[key]:
            lost = [v for v in ref_reg[key] if v not in got_reg[key]]
            extra = [v for v in got_reg[key] if v not in ref_reg[key]]
            out.append("registry key %s: missing %s, extra %s" % (key, lost, extra))
    ref_files, got_files = reference["files"], swept["files"]
    for path in sorted(set(ref_files) | set(got_files)):
        if path not in got_files:
            out.append("missing: C:/%s (%s)" % (path, ref_files[path]))
        elif path not in ref_files:
            out.append("left over: C:/%s (%s)" % (path, got_files[path]))
        elif ref_files[path] != got_files[path]:
            out.append("differs: C:/%s: %s, not %s" % (path, got_files[path], ref_files[path]))
    return out


def check_log(start_log, reference_log, swept_log):
    """The main log after a cut run and a whole one: what came before stays,
    and every line that follows is whole."""
    out = []
    start_log = start_log or b""
    if swept_log is None:
        return ["main log missing"] if reference_log is not None else []
    if not swept_log.startswith(start_log):
        return ["main log: the lines before the runs changed"]
    added = swept_log[len(start_log):]
    if added and not added.endswith(b"\r\n"):
        out.append("main log: ends inside a line: %r" % added[-60:])
    # Each session starts on a line of its own: a line the cut left open
    # was ended before the next run's header.
    for line in added.split(b"\r\n"):
        if b"=" * 20 in line and line.strip(b"="):
            out.append("main log: a session starts inside a line: %r" % line[:120])
    for line in added.split(b"\r\n"):
        if b"\n" in line or b"\r" in line:
            out.append("main log: a line with a bare line end: %r" % line[:80])
    return out


def spread(count, points):
    """points cut points from 1..count: the first, the last and evenly
    between."""
    if count <= points:
        return list(range(1, count + 1))
    step = (count - 1) / (points - 1)
    return sorted({1 + round(i * step) for i in range(points)})


def self_test():
    """The comparison on made-up servers: each kind of difference a cut can
    leave is found, and two equal servers show none."""
    def server(registry, files, log):
        return {"registry": registry, "files": files, "log": log}
    record = "software\\zolcomp\\packages\\x.inf_1.0"
    whole = server({record: ['"State"="installed"']}, {"windows/system32/x.sys": "1 bytes, sha1 a"},
                   b"start\r\nrun\r\n")
    cases = [
        ("nothing", whole, []),
        ("a state", server({record: ['"State"="installing"']}, whole["files"], whole["log"]),
         ["registry key " + record]),
        ("a key", server({}, whole["files"], whole["log"]), ["registry key missing"]),
        ("a temporary file", server(whole["registry"], dict(whole["files"], **{"windows/system32/x.sys.zolnew0":
                                                                               "1 bytes, sha1 a"}), whole["log"]),
         ["left over: C:/windows/system32/x.sys.zolnew0"]),
        ("bytes", server(whole["registry"], {"windows/system32/x.sys": "1 bytes, sha1 b"}, whole["log"]),
         ["differs: C:/windows/system32/x.sys"]),
        ("a torn line", server(whole["registry"], whole["files"], b"start\r\n    - Copy ===================="
                                                                   b"====\r\nrun\r\n"),
         ["a session starts inside a line"]),
        ("an open end", server(whole["registry"], whole["files"], b"start\r\nrun"), ["ends inside a line"]),
    ]
    bad = 0
    for name, swept, expected in cases:
        found = compare(whole, swept) + check_log(b"start\r\n", whole["log"], swept["log"])
        ok = len(found) == len(expected) and all(any(e in f for f in found) for e in expected)
        print("%s: %s: %s" % ("ok" if ok else "FAIL", name, found or "no difference"))
        bad += not ok
    return 1 if bad else 0


def main(argv):
    args = list(argv[1:])
    if args == ["--self-test"]:
        return self_test()
    if not args or args[0].startswith("-"):
        print(__doc__)
        return 2
    build = args.pop(0)
    every = keep = False
    only = None
    points = 4
    at = None
    jobs = 2
    while args:
        a = args.pop(0)
        if a == "--all":
            every = True
        elif a == "--keep":
            keep = True
        elif a == "--ops":
            only = args.pop(0).split(",")
        elif a == "--points":
            points = int(args.pop(0))
        elif a == "--jobs":
            jobs = int(args.pop(0))
        elif a == "--at":
            at = [int(n) for n in args.pop(0).split(",")]
        else:
            print("crash_sweep: unknown option " + a)
            return 2
    names = [name for name, _ in OPERATIONS]
    for name in only or []:
        if name not in names:
            print("crash_sweep: unknown operation %s (known: %s)" % (name, ", ".join(names)))
            return 2

    sweep = Sweep(build, keep)
    began = time.time()
    failures = 0
    summary = []
    try:
        starts = {"devices": sweep.devices_prefix()}
        ends = {}
        wanted = set(only or names)
        # An operation's end state is needed when another starts from it.
        needed = set(wanted)
        for name, op in reversed(OPERATIONS):
            if name in needed and op["start"] != "devices":
                needed.add(op["start"])
        for name, op in OPERATIONS:
            if name not in needed:
                continue
            start = starts[op["start"]] if op["start"] == "devices" else ends[op["start"]]
            # A whole run of the test build: the end every cut run must
            # reach, and the points it passes.
            ref_prefix = sweep.clone(start, name + "-whole")
            note = os.path.join(sweep.work, name + "-whole.txt")
            ref_code, ref_out = sweep.host(ref_prefix, op["package"], op["args"], "zolcomp_faults.dll",
                                           {"ZOL_CUT_NOTE": windows_path(note)})
            sweep.stop(ref_prefix)
            ends[name] = ref_prefix
            if ref_code not in (0, RESTART_NEEDED):
                print("FAIL %s: the whole run ended with exit code %d:\n%s" % (name, ref_code, indent(ref_out)))
                failures += 1
                continue
            if name not in wanted:
                continue
            reference = sweep.snapshot(ref_prefix)
            start_log = read_bytes(os.path.join(start, "drive_c", MAIN_LOG))
            calls = read_note(note)
            total = len(calls)
            if every:
                # The shipped component's whole run ends the same way.
                shipped = sweep.clone(start, name + "-shipped")
                code, out = sweep.host(shipped, op["package"], op["args"], "zolcomp.dll")
                sweep.stop(shipped)
                problems = ([] if code == ref_code else ["exit code %d, not %d" % (code, ref_code)])
                problems += compare(reference, sweep.snapshot(shipped))
                shutil.rmtree(shipped, ignore_errors=True)
                if problems:
                    failures += 1
                    print("FAIL %s: the shipped component's whole run ends elsewhere than the test build's:" % name)
                    for p in problems:
                        print("    " + p)
            # Once the record is gone an uninstall is done: the run after a
            # cut there finds the package not installed (1605).
            record_gone = min([n for n, c in calls.items() if c.startswith("RegDeleteTreeW(record)")] or [0])
            chosen = at if at else (list(range(1, total + 1)) if every else spread(total, points))
            chosen = [n for n in chosen if 1 <= n <= total]

            def one_cut(n):
                return n, sweep_cut(sweep, name, op, start, n, calls.get(n, "?"), ref_code,
                                    "--uninstall" in op["args"] and record_gone and n > record_gone,
                                    reference, start_log)

            op_failures = 0
            with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
                for n, (problems, prefix) in pool.map(one_cut, chosen):
                    if problems:
                        op_failures += 1
                        print("FAIL %s N=%d (before %s):" % (name, n, calls.get(n, "?")))
                        for p in problems:
                            print("    " + p)
                        if keep:
                            print("    prefix kept: " + prefix)
                    if not (problems and keep):
                        shutil.rmtree(prefix, ignore_errors=True)
                    sys.stdout.flush()
            failures += op_failures
            summary.append("%-22s %4d cut points, %4d cut and run again, %d with differences"
                           % (name, total, len(chosen), op_failures))
            print("%s: %d cut points; %d swept, %d with differences (%.0f s so far)"
                  % (name, total, len(chosen), op_failures, time.time() - began))
            sys.stdout.flush()
    finally:
        if not keep:
            sweep.cleanup()
    print("\ncrash sweep summary (%.0f s):" % (time.time() - began))
    for line in summary:
        print("  " + line)
    print("  %s" % ("no differences" if failures == 0 else "%d failing cuts" % failures))
    return 1 if failures else 0


def sweep_cut(sweep, name, op, start, n, call, ref_code, may_find_it_gone, reference, start_log):
    """One cut: the operation cut before point n, then run again whole.
    Returns the differences and the prefix."""
    prefix = sweep.clone(start, "%s-%d" % (name, n))
    cut_note = os.path.join(sweep.work, "%s-%d.txt" % (name, n))
    code, out = sweep.host(prefix, op["package"], op["args"], "zolcomp_faults.dll",
                           {"ZOL_CUT_AT": str(n), "ZOL_CUT_NOTE": windows_path(cut_note)})
    sweep.stop(prefix)
    problems = []
    if code != CUT_EXIT_CODE:
        problems.append("the cut run was not cut at %d (exit code %d)" % (n, code))
    else:
        cut_calls = read_note(cut_note)
        if cut_calls.get(n) != call:
            problems.append("counted differently: point %d is %s here, %s in the whole run"
                            % (n, cut_calls.get(n), call))
    code2, out2 = sweep.host(prefix, op["package"], op["args"], "zolcomp.dll")
    sweep.stop(prefix)
    if code2 != ref_code and not (may_find_it_gone and code2 == NOT_INSTALLED):
        problems.append("the run after the cut ended with exit code %d, not %d:\n%s"
                        % (code2, ref_code, indent(out2)))
    swept = sweep.snapshot(prefix)
    problems += compare(reference, swept)
    problems += check_log(start_log, reference["log"], swept["log"])
    return problems, prefix


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def read_note(path):
    calls = {}
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            for line in f:
                parts = line.rstrip("\n").split("\t")
                if len(parts) >= 2 and parts[0].isdigit():
                    calls[int(parts[0])] = "%s %s" % (parts[1], parts[2] if len(parts) > 2 else "")
    except FileNotFoundError:
        pass
    return calls


def indent(text):
    return "\n".join("        " + line for line in text.strip().splitlines()[-15:])


if __name__ == "__main__":
    sys.exit(main(sys.argv))

#!/usr/bin/env python3
"""The runs of scripts/stress.sh (which sets up the Wine environment first).

    scripts/stress.py BUILD_DIR

Several simulated servers (Wine prefixes, STRESS_SERVERS, default 3) work at
once beside a busy loop. Each is a copy of the pristine prefix with the
chipset's three devices and two versions of the package (1.2.3.0 in
C:\\stress\\a, 1.2.4.0 in C:\\stress\\b), its Wine server kept up as a real
server's system is. Each server goes through a random walk of steps until
STRESS_RUNS runs are done, and keeps a model of what is installed on it:
nothing, 1.2.3.0, 1.2.4.0 over 1.2.3.0, or 1.2.4.0 alone. A step is one run
or two at once:

  check              zolhost --check
  uninstall-check    zolhost --uninstall --check (the what-if)
  install            zolhost, installing the package of the step
  uninstall          zolhost --uninstall (with --force where the model says
                     the package is the only driver of its devices, and now
                     and then without it, to be refused)
  killed install     an install, or an uninstall, whose zolhost is killed
  killed uninstall   at a random moment; then (now and then after a restart
                     of the server's Wine, as after a power cut) the same
                     command is run again, uninterrupted
  two at once        two of the above in the same server at the same time:
                     two installs, or two uninstalls, of which one meets the
                     install lock (exit 1618) and is run again until it is
                     not, or an install or uninstall beside a check or the
                     what-if

Each run has an expected outcome from the model: its exit code, its JSON
report (results, messages, package state, the plan's actions, the devices'
outcomes and drivers) and, after each step, the server's state: the install
records and their State, Replaces and SupersededBy, the devices' service and
driver INF, the files the package places (byte for byte), the INF in the INF
folder, the service, the records' folders, and no stray files where the
component writes. A killed run passes when the run after it gives the
outcome and state of an uninterrupted run. A run beside another may see the
state before or after the other run; where it runs beside an uninstall or an
install, the what-if may also see the package's state while it is under way.

Prints the counts per kind (runs, passed, failed), how often the install lock
was met and the run repeated, how many kills cut a run short, and each
failure with its exit code, what differed and the last lines of its output
(kept in BUILD_DIR/stress). Exit code 0 when nothing failed, 1 otherwise.
"""
import hashlib
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

BUILD = os.path.realpath(sys.argv[1])
RUNS = int(os.environ.get("STRESS_RUNS", "1000"))
TIMEOUT = int(os.environ.get("STRESS_TIMEOUT", "180"))
SERVERS = int(os.environ.get("STRESS_SERVERS", "3"))
SEED = int(os.environ.get("STRESS_SEED") or random.SystemRandom().randrange(1 << 30))
WINE64 = os.environ["WINE64"]
WINESERVER = os.environ["WINESERVER"]
WINE_ROOT = os.environ["ZOL_WINE_ROOT"]
BIN = os.path.join(BUILD, "bin")
OUT = os.path.join(BUILD, "stress")
PACKAGES = {"a": os.path.join(BUILD, "packages", "chipset"), "b": os.path.join(BUILD, "packages", "chipset-1.2.4.0")}
VERSION = {"a": "1.2.3.0", "b": "1.2.4.0"}
KEY = {p: "zolchip.inf_" + v for p, v in VERSION.items()}
HARDWARE = ["PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9", "PCI\\VEN_8086&DEV_0E84&SUBSYS_7C41A2E9",
            "PCI\\VEN_8086&DEV_0EA8&SUBSYS_7C41A2E9"]
# Where the package's files go, and the package file each comes from.
PLACED = {"windows/system32/drivers/zolchip.sys": "zolchip.sys",
          "windows/system32/drivers/zolchip.cfg": "zolchip.cfg",
          "windows/system32/drivers/zolchip.dat": "zolchip_src.dat",
          "windows/inf/zolchip.inf": "zolchip.inf"}
IN_PROGRESS = 1618
EXIT = {0: 0, 1603: 1603 & 0xFF, 1605: 1605 & 0xFF, IN_PROGRESS: IN_PROGRESS & 0xFF}
LOCK_RETRIES = 60
KEEP = int(os.environ.get("STRESS_KEEP") or 0)

KINDS = ["check", "uninstall-check", "install", "uninstall", "killed install", "killed uninstall"]


def md5(path):
    try:
        with open(path, "rb") as f:
            return hashlib.md5(f.read()).hexdigest()
    except OSError:
        return None


PACKAGE_SUMS = {p: {name: md5(os.path.join(d, name)) for name in os.listdir(d)} for p, d in PACKAGES.items()}


# The model of a server: the packages installed, in order ("" nothing, "a",
# "ab" 1.2.4.0 over 1.2.3.0, "b" 1.2.4.0 alone).
def current(state):
    return state[-1] if state else None


def install_target(state, pkg):
    if pkg == "a":
        return "a" if state in ("", "a") else None  # an earlier version over a later one is not tried
    return {"": "b", "a": "ab", "ab": "ab", "b": "b"}[state]


def uninstall_outcome(state, pkg, force):
    """(exit code, package state, plan action, new state, message start)."""
    if pkg not in state:
        return 1605, "not_installed", None, state, "This package is not installed."
    if state == "ab" and pkg == "a":
        return 1603, "superseded", None, state, None
    if state == "ab":
        return 0, "installed", "restore_previous", "a", ""
    if not force:
        return 1603, "installed", "no_driver", state, "No other driver is available for device "
    return 0, "installed", "no_driver", "", ""


class Results:
    def __init__(self):
        self.lock = threading.Lock()
        self.next_run = 1
        self.rows = []  # (n, kind, ok, rc, detail)
        self.lock_met = 0
        self.lock_retries = 0
        self.cut = 0
        self.not_cut = 0
        self.restarted = 0
        self.setup_failures = []
        self.kept = 0

    def take(self, count):
        with self.lock:
            if self.next_run + count - 1 > RUNS:
                return []
            first = self.next_run
            self.next_run += count
            return list(range(first, first + count))

    def add(self, n, kind, ok, rc, detail):
        with self.lock:
            self.rows.append((n, kind, ok, rc, detail))

    def take_kept(self):
        with self.lock:
            if self.kept >= KEEP:
                return False
            self.kept += 1
            return True

    def count(self, name, value=1):
        with self.lock:
            setattr(self, name, getattr(self, name) + value)


RESULTS = Results()


def report_of(text):
    start = text.find("{")
    try:
        return json.JSONDecoder().raw_decode(text[start:])[0] if start >= 0 else None
    except ValueError:
        return None


class Server:
    def __init__(self, number, rng):
        self.number = number
        self.rng = rng
        self.prefix = None
        self.state = ""
        self.durations = {}

    def env(self):
        env = dict(os.environ)
        env["WINEPREFIX"] = self.prefix
        return env

    def wine(self, *args, timeout=TIMEOUT):
        # Output through a file: the system processes the first program
        # starts inherit its handles, and a pipe would never close.
        with tempfile.TemporaryFile() as out:
            done = subprocess.run([WINE64] + list(args), env=self.env(), stdin=subprocess.DEVNULL,
                                  stdout=out, stderr=subprocess.STDOUT, timeout=timeout)
            out.seek(0)
            done.stdout = out.read()
        return done

    def server(self, *args):
        subprocess.run([WINESERVER] + list(args), env=self.env(), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def make(self):
        self.discard()
        self.prefix = tempfile.mkdtemp(prefix="stress.", dir=os.path.join(WINE_ROOT, "runs"))
        subprocess.run(["cp", "-a", os.path.join(WINE_ROOT, "pristine") + "/.", self.prefix + "/"], check=True)
        for pkg, source in PACKAGES.items():
            shutil.copytree(source, os.path.join(self.prefix, "drive_c", "stress", pkg))
        self.server("-p")
        for hwid in HARDWARE:
            done = self.wine(os.path.join(BIN, "devsim.exe"), "add", hwid + "&REV_04", hwid)
            if done.returncode != 0:
                raise RuntimeError("devsim add %s failed (exit code %d): %s" %
                                   (hwid, done.returncode, done.stdout.decode(errors="replace")))
        self.state = ""

    def discard(self):
        if self.prefix:
            self.server("-k")
            self.server("-w")
            shutil.rmtree(self.prefix, ignore_errors=True)
            self.prefix = None

    def keep(self, n):
        """With STRESS_KEEP set, the first failed servers are kept for a look (BUILD_DIR/stress/server-N)."""
        if RESULTS.take_kept():
            self.server("-k")
            self.server("-w")
            kept = os.path.join(OUT, "server-%d" % n)
            os.rename(self.prefix, kept)
            with open(os.path.join(OUT, "run-%d.txt" % n), "a") as f:
                f.write("$ the server is kept in %s\n" % kept)
            self.prefix = None

    def restart(self):
        """The server's Wine stopped and started again, as a restart does."""
        self.server("-k")
        self.server("-w")
        self.server("-p")

    # One zolhost run; kill_after: seconds after which it is killed.
    def host(self, n, pkg, args, kill_after=None):
        log = os.path.join(OUT, "run-%d.txt" % n)
        command = [WINE64, os.path.join(BIN, "zolhost.exe")] + args + ["C:\\stress\\%s\\zolcomp.dll" % pkg]
        start = time.monotonic()
        with open(log, "ab") as out:
            out.write(("$ zolhost %s (server %d, model %r)\n" % (" ".join(args), self.number, self.state)).encode())
            out.flush()
            child = subprocess.Popen(command, cwd=os.path.join(self.prefix, "drive_c", "stress", pkg),
                                     env=self.env(), stdin=subprocess.DEVNULL, stdout=out, stderr=out)
            killed = False
            try:
                if kill_after is not None:
                    try:
                        child.wait(kill_after)
                    except subprocess.TimeoutExpired:
                        child.send_signal(signal.SIGKILL)
                        killed = True
                rc = child.wait(TIMEOUT)
                # A run that ended just before the signal was not cut.
                killed = killed and rc == -signal.SIGKILL
            except subprocess.TimeoutExpired:
                child.send_signal(signal.SIGKILL)
                child.wait()
                rc = None
            if killed:
                out.write(b"\n$ killed after %.2f s\n" % kill_after)
        elapsed = time.monotonic() - start
        with open(log, "ab") as out:
            out.write(b"\n$ exit code %s after %.2f s%s\n" % (str(rc).encode(), elapsed, b" (killed)" if killed else b""))
        with open(os.path.join(OUT, "steps.txt"), "a") as trace:
            trace.write("%.1f run %d server %d model %r: zolhost %s %s: exit code %s after %.2f s%s\n" % (
                time.monotonic(), n, self.number, self.state, " ".join(args), pkg, rc, elapsed,
                " (killed after %.2f s)" % kill_after if killed else ""))
        with open(log, encoding="utf-8", errors="replace") as f:
            text = f.read()
        marker = text.rfind("$ zolhost ")
        return rc, report_of(text[marker:]), killed, elapsed

    def host_until_free(self, n, pkg, args):
        """A run that meets the install lock is run again, as a deployment tool does after 1618."""
        for attempt in range(LOCK_RETRIES):
            rc, report, killed, elapsed = self.host(n, pkg, args)
            if rc != EXIT[IN_PROGRESS]:
                return rc, report, attempt
            if attempt == 0:
                RESULTS.count("lock_met")
            RESULTS.count("lock_retries")
            problem = check_in_progress(report)
            if problem:
                return rc, report, attempt
            time.sleep(self.rng.uniform(0.2, 1.0))
        return rc, report, LOCK_RETRIES

    def estimate(self, op):
        """How long a whole run of op took of late: the kills fall within it."""
        return self.durations.get(op, 2.0)

    def note_duration(self, op, seconds):
        old = self.durations.get(op)
        self.durations[op] = seconds if old is None else 0.7 * old + 0.3 * seconds

    # The server's state against the model.
    def state_differences(self):
        problems = []
        state = self.state
        records = self.wine("reg", "query", "HKLM\\SOFTWARE\\zolcomp\\Packages", "/s")
        found = {}
        key = None
        for line in records.stdout.decode(errors="replace").replace("\r", "").split("\n"):
            if line.startswith("HKEY_LOCAL_MACHINE\\SOFTWARE\\zolcomp\\Packages\\"):
                rest = line[len("HKEY_LOCAL_MACHINE\\SOFTWARE\\zolcomp\\Packages\\"):]
                key = rest if "\\" not in rest else None
                if key is not None:
                    found[key] = {}
            elif key is not None and line.startswith("    "):
                parts = line.strip().split(None, 2)
                if len(parts) == 3 and parts[0] in ("State", "Replaces", "SupersededBy", "Version"):
                    found[key][parts[0]] = parts[2]
        expected = {}
        if state == "a":
            expected = {KEY["a"]: {"State": "installed", "Version": "1.2.3.0"}}
        elif state == "b":
            expected = {KEY["b"]: {"State": "installed", "Version": "1.2.4.0"}}
        elif state == "ab":
            expected = {KEY["a"]: {"State": "installed", "Version": "1.2.3.0", "SupersededBy": KEY["b"]},
                        KEY["b"]: {"State": "installed", "Version": "1.2.4.0", "Replaces": KEY["a"]}}
        if found != expected:
            problems.append("install records %s, expected %s" % (found, expected))

        service = self.wine("reg", "query", "HKLM\\System\\CurrentControlSet\\Services\\zolchip")
        if (service.returncode == 0) != bool(state):
            problems.append("service zolchip %s" % ("present" if service.returncode == 0 else "missing"))

        listing = self.wine(os.path.join(BIN, "devsim.exe"), "list").stdout.decode(errors="replace")
        devices = {}
        instance = None
        for line in listing.replace("\r", "").split("\n"):
            if line and not line.startswith(" "):
                instance = line if line.startswith("ROOT\\SYSTEM\\") else None
                if instance:
                    devices[instance] = {}
            elif instance and ":" in line:
                name, value = line.strip().split(":", 1)
                if name in ("service", "driver INF"):
                    devices[instance][name] = value.strip()
        want = {"service": "zolchip", "driver INF": "zolchip.inf"} if state else \
               {"service": "(none)", "driver INF": "(none)"}
        if len(devices) != len(HARDWARE) or any(d != want for d in devices.values()):
            problems.append("devices %s, expected each %s" % (devices, want))

        drive = os.path.join(self.prefix, "drive_c")
        for placed, source in PLACED.items():
            have = md5(os.path.join(drive, placed))
            wanted = PACKAGE_SUMS[current(state)][source] if state else None
            if have != wanted:
                problems.append("%s is %s, expected %s" % (
                    placed, "missing" if have is None else "not the one expected" if wanted else "there",
                    "%s's" % VERSION[current(state)] if wanted else "none"))
        strays = sorted(f for f in os.listdir(os.path.join(drive, "windows/system32/drivers"))
                        if f.lower().startswith("zolchip") and "windows/system32/drivers/" + f not in PLACED)
        if strays:
            problems.append("stray files in the drivers folder: %s" % strays)

        root = os.path.join(drive, "devavoror")
        top = set(os.listdir(root)) if os.path.isdir(root) else set()
        extra = top - {"log", "packages", "pnpdrvs", "zolcomp-install.lock"}
        if extra:
            problems.append("stray entries in C:\\devavoror: %s" % sorted(extra))
        kept = set(os.listdir(os.path.join(root, "packages"))) if os.path.isdir(os.path.join(root, "packages")) else set()
        if kept != set(expected):
            problems.append("record folders %s, expected %s" % (sorted(kept), sorted(expected)))
        staging = os.path.join(root, "pnpdrvs")
        staged = set(os.listdir(staging)) if os.path.isdir(staging) else set()
        if staged and staged != set(PACKAGE_SUMS["a"]) - {"install.xml", "qx012345.xml", "zolcomp.dll"}:
            problems.append("staging folder holds %s" % sorted(staged))
        return problems


def check_in_progress(report):
    if report is None:
        return "no JSON report"
    run = report.get("uninstall") or report.get("install") or {}
    if run.get("result") is not None or run.get("in_progress") is not True or \
            run.get("in_progress_reason") != "installation":
        return "exit code 1618 but the report says %s" % json.dumps(run)[:300]
    return None


def devices_problem(devices, outcomes, infs):
    if len(devices) != len(HARDWARE):
        return "%d devices in the report, expected %d" % (len(devices), len(HARDWARE))
    for d in devices:
        if d.get("outcome") not in outcomes or d.get("inf") not in infs:
            return "device %s: outcome %r, INF %r; expected %s, %s" % (
                d.get("instance_id"), d.get("outcome"), d.get("inf"), outcomes, infs)
    return None


def expect_check(report, states):
    """--check on a server in one of states ("" "a" "ab" "b")."""
    if report is None:
        return "no JSON report"
    props = report.get("properties", {})
    installed = props.get("3", {}).get("value")
    versions = {VERSION[current(s)] if s else None for s in states}
    if installed not in versions:
        return "property 3 (installed version) %r, expected %s" % (installed, sorted(map(str, versions)))
    if props.get("5", {}).get("status") != 5:
        return "property 5 status %r, expected 5" % props.get("5", {}).get("status")
    if "install" in report:
        return "an install object in a --check report"
    return devices_problem(report.get("devices", []), {"present"},
                           {"zolchip.inf" if s else None for s in states})


def expect_whatif(report, pkg, states, changing):
    """--uninstall --check; changing: the state a run beside it is changing."""
    if report is None:
        return "no JSON report"
    run = report.get("uninstall") or {}
    if run.get("result") is not None or run.get("check") is not True:
        return "uninstall object %s" % json.dumps(run)[:300]
    answers = {}
    for s in states:
        _, package_state, action, _, _ = uninstall_outcome(s, pkg, True)
        answers[package_state] = action
    if changing:
        answers.setdefault("installing", "*")
        answers.setdefault("partial", "*")
    state = run.get("package_state")
    if state not in answers:
        return "package state %r, expected one of %s" % (state, sorted(answers))
    plan = run.get("plan", [])
    action = answers[state]
    if action == "*":
        return None
    if action is None:
        return None if not plan else "a plan of %d devices for package state %s" % (len(plan), state)
    if len(plan) != len(HARDWARE) or any(d.get("action") != action or d.get("outcome") != "planned" for d in plan):
        return "plan %s, expected %d devices to %s" % (
            [(d.get("instance_id"), d.get("action"), d.get("outcome")) for d in plan], len(HARDWARE), action)
    if action == "restore_previous" and any(d.get("target_version") != "1.2.3.0" for d in plan):
        return "plan targets %s" % [d.get("target_version") for d in plan]
    return None


def expect_install(rc, report):
    if rc != 0:
        return "exit code %s, expected 0" % rc
    if report is None:
        return "no JSON report"
    run = report.get("install") or {}
    if run.get("result") != 1 or run.get("message") != "" or run.get("in_progress") is not False:
        return "install %s, expected result 1" % json.dumps(run)[:300]
    return devices_problem(report.get("devices", []), {"updated"}, {"zolchip.inf"})


def expect_uninstall(rc, report, state, pkg, force, resumed=False):
    """An uninstall from state; resumed: run again after one that was cut off."""
    code, package_state, action, after, message = uninstall_outcome(state, pkg, force)
    if resumed and after != state and rc == EXIT[1605]:
        # The run cut off had finished (the record goes last): the run again
        # finds nothing to do. The state decides.
        code, package_state, action, message = 1605, "not_installed", None, "This package is not installed."
    if rc != EXIT[code]:
        return "exit code %s, expected %d (%d)" % (rc, EXIT[code], code)
    if report is None:
        return "no JSON report"
    run = report.get("uninstall") or {}
    want_result = 1 if code == 0 else 0
    states = {package_state}
    if resumed and code == 0:
        states |= {"partial", "installing"}
    if run.get("result") != want_result or run.get("package_state") not in states or \
            run.get("in_progress") is not False or run.get("forced") is not force:
        return "uninstall %s, expected result %d, package state %s" % (
            {k: v for k, v in run.items() if k != "plan"}, want_result, " or ".join(sorted(states)))
    if message is not None and not run.get("message", "").startswith(message):
        return "message %r, expected %r" % (run.get("message"), message)
    if code == 0:
        devices = report.get("devices", [])
        if resumed and len(devices) < len(HARDWARE):
            # The devices the cut run had already put back are done; the
            # state check finds them.
            devices = devices + [{"outcome": "updated", "inf": "zolchip.inf" if action == "restore_previous" else None}
                                 for _ in range(len(HARDWARE) - len(devices))]
        return devices_problem(devices, {"updated"}, {"zolchip.inf" if action == "restore_previous" else None})
    return None


class Worker(threading.Thread):
    def __init__(self, number):
        super().__init__()
        self.rng = random.Random(SEED * 100 + number)
        self.server = Server(number, self.rng)

    def run(self):
        try:
            self.server.make()
        except Exception as e:  # noqa: BLE001 - reported in the summary
            RESULTS.setup_failures.append("server %d: %s" % (self.server.number, e))
            return
        try:
            while True:
                step = self.choose()
                numbers = RESULTS.take(step[0])
                if not numbers and step[0] > 1:
                    # One run left: a single one.
                    step = (1, self.step_check, self.rng.choice("ab"))
                    numbers = RESULTS.take(1)
                if not numbers:
                    break
                failed = step[1](numbers, *step[2:])
                if failed:
                    # The model no longer says what is on this server: a fresh one.
                    self.server.keep(numbers[-1])
                    try:
                        self.server.make()
                    except Exception as e:  # noqa: BLE001
                        RESULTS.setup_failures.append("server %d: %s" % (self.server.number, e))
                        return
        finally:
            self.server.discard()

    # A step: (runs it takes, function, arguments...), from the model.
    def choose(self):
        s = self.server.state
        pkg = self.rng.choice("ab")
        roll = self.rng.random()
        installs = [p for p in "ab" if install_target(s, p) is not None]
        if roll < 0.14:
            return (1, self.step_check, pkg)
        if roll < 0.26:
            return (1, self.step_whatif, pkg)
        if roll < 0.44:
            return (1, self.step_install, self.rng.choice(installs))
        if roll < 0.60:
            return (1, self.step_uninstall, *self.uninstall_choice())
        if roll < 0.72:
            return (1, self.step_killed_install, self.rng.choice(installs))
        if roll < 0.84:
            pkg, force = self.uninstall_choice(changing=True)
            return (1, self.step_killed_uninstall, pkg, force)
        return (2, self.step_two_at_once)

    def uninstall_choice(self, changing=False):
        """The package to uninstall and --force: mostly what takes one off."""
        s = self.server.state
        rng = self.rng
        if not s or (not changing and rng.random() < 0.15):
            return rng.choice("ab"), rng.random() < 0.5   # not installed, superseded or refused
        if s == "ab":
            return "b", rng.random() < 0.5
        return current(s), changing or rng.random() < 0.8

    def record(self, n, kind, problem, rc):
        ok = problem is None
        RESULTS.add(n, kind, ok, rc, problem or "")
        if ok:
            try:
                os.remove(os.path.join(OUT, "run-%d.txt" % n))
            except OSError:
                pass
        return not ok

    def state_problem(self, n):
        problems = self.server.state_differences()
        if problems:
            with open(os.path.join(OUT, "run-%d.txt" % n), "a") as f:
                f.write("\n$ state after the run (model %r):\n  %s\n" % (self.server.state, "\n  ".join(problems)))
            return "state: " + "; ".join(problems)
        return None

    def step_check(self, numbers, pkg):
        n = numbers[0]
        args = self.rng.choice([["--check", "--json"], ["--check", "--json", "--sta"]])
        rc, report, _, _ = self.server.host(n, pkg, args)
        problem = ("exit code %s, expected 0" % rc) if rc != 0 else expect_check(report, [self.server.state])
        return self.record(n, "check", problem or self.state_problem(n), rc)

    def step_whatif(self, numbers, pkg):
        n = numbers[0]
        rc, report, _, _ = self.server.host(n, pkg, ["--uninstall", "--check", "--json"])
        problem = ("exit code %s, expected 0" % rc) if rc != 0 else \
            expect_whatif(report, pkg, [self.server.state], False)
        return self.record(n, "uninstall-check", problem or self.state_problem(n), rc)

    def install_args(self):
        return ["--json", "--wait", "0"]

    def step_install(self, numbers, pkg):
        n = numbers[0]
        rc, report, _, elapsed = self.server.host(n, pkg, self.install_args())
        problem = expect_install(rc, report)
        if problem is None:
            self.server.note_duration("install", elapsed)
            self.server.state = install_target(self.server.state, pkg)
        return self.record(n, "install", problem or self.state_problem(n), rc)

    def uninstall_args(self, force):
        return ["--uninstall", "--json", "--wait", "0"] + (["--force"] if force else [])

    def step_uninstall(self, numbers, pkg, force):
        n = numbers[0]
        before = self.server.state
        rc, report, _, elapsed = self.server.host(n, pkg, self.uninstall_args(force))
        problem = expect_uninstall(rc, report, before, pkg, force)
        if problem is None:
            self.server.note_duration("uninstall", elapsed)
            self.server.state = uninstall_outcome(before, pkg, force)[3]
        return self.record(n, "uninstall", problem or self.state_problem(n), rc)

    def cut_then_again(self, n, pkg, args, op):
        """The run killed at a random moment, then run again; returns the second run's exit code and report."""
        delay = self.rng.uniform(0.05, 1.1 * self.server.estimate(op))
        rc, report, killed, _ = self.server.host(n, pkg, args, kill_after=delay)
        if not killed:
            RESULTS.count("not_cut")
            return rc, report, False
        RESULTS.count("cut")
        if self.rng.random() < 0.3:
            RESULTS.count("restarted")
            with open(os.path.join(OUT, "run-%d.txt" % n), "a") as f:
                f.write("$ the server's Wine restarted\n")
            self.server.restart()
        rc, report, _, elapsed = self.server.host(n, pkg, args)
        self.server.note_duration(op, elapsed)
        return rc, report, True

    def step_killed_install(self, numbers, pkg):
        n = numbers[0]
        target = install_target(self.server.state, pkg)
        rc, report, cut = self.cut_then_again(n, pkg, self.install_args(), "install")
        # Not cut: the first run was a whole one, checked as such.
        problem = expect_install(rc, report)
        if problem is None:
            self.server.state = target
        return self.record(n, "killed install", problem or self.state_problem(n), rc)

    def step_killed_uninstall(self, numbers, pkg, force):
        n = numbers[0]
        before = self.server.state
        rc, report, cut = self.cut_then_again(n, pkg, self.uninstall_args(force), "uninstall")
        # The run again ends as a whole run would have: the package state it
        # meets may say an uninstall was under way, but the end is the same.
        problem = expect_uninstall(rc, report, before, pkg, force, resumed=cut)
        if problem is None:
            self.server.state = uninstall_outcome(before, pkg, force)[3]
        return self.record(n, "killed uninstall", problem or self.state_problem(n), rc)

    def step_two_at_once(self, numbers):
        s = self.server.state
        rng = self.rng
        roll = rng.random()
        if roll < 0.3:
            pkg = rng.choice([p for p in "ab" if install_target(s, p) is not None])
            return self.two_installs(numbers, pkg)
        if roll < 0.5 and s:
            pkg, force = self.uninstall_choice(changing=True)
            return self.two_uninstalls(numbers, pkg, force)
        if roll < 0.75 or not s:
            pkg = rng.choice([p for p in "ab" if install_target(s, p) is not None])
            return self.beside(numbers, "install", pkg, False)
        pkg, force = self.uninstall_choice(changing=True)
        return self.beside(numbers, "uninstall", pkg, force)

    def together(self, *calls):
        answers = [None] * len(calls)

        def run(i):
            answers[i] = calls[i]()

        threads = [threading.Thread(target=run, args=(i,)) for i in range(len(calls))]
        for t in threads:
            t.start()
            time.sleep(self.rng.uniform(0, 0.5))
        for t in threads:
            t.join()
        return answers

    def two_installs(self, numbers, pkg):
        """Two installs of one package at once: one meets the lock and runs again until it is free."""
        target = install_target(self.server.state, pkg)
        # The second waits for the lock itself now and then (--wait).
        args = [self.install_args(), self.install_args()]
        if self.rng.random() < 0.4:
            args[1] = ["--json", "--wait", "300"]
        first, second = self.together(lambda: self.server.host_until_free(numbers[0], pkg, args[0]),
                                      lambda: self.server.host_until_free(numbers[1], pkg, args[1]))
        failed = False
        for n, (rc, report, attempts) in zip(numbers, (first, second)):
            problem = expect_install(rc, report)
            if problem is None and attempts >= LOCK_RETRIES:
                problem = "the install lock was still held after %d runs" % attempts
            failed |= problem is not None
            if n == numbers[-1] and not failed:
                self.server.state = target
                problem = self.state_problem(n)
            failed |= self.record(n, "install", problem, rc)
        return failed

    def two_uninstalls(self, numbers, pkg, force):
        """Two uninstalls of one package at once: one takes it off, the other then finds it not installed."""
        before = self.server.state
        after = uninstall_outcome(before, pkg, force)[3]
        args = self.uninstall_args(force)
        answers = self.together(lambda: self.server.host_until_free(numbers[0], pkg, args),
                                lambda: self.server.host_until_free(numbers[1], pkg, args))
        # When the first takes the package off, the second finds it gone.
        changes = after != before
        failed = False
        outcomes = []
        for n, (rc, report, attempts) in zip(numbers, answers):
            if changes and rc == EXIT[1605]:
                problem = expect_uninstall(rc, report, after, pkg, force)
                outcomes.append("not installed")
            else:
                problem = expect_uninstall(rc, report, before, pkg, force)
                outcomes.append("done")
            if problem is None and attempts >= LOCK_RETRIES:
                problem = "the install lock was still held after %d runs" % attempts
            if problem is None and n == numbers[-1] and changes and outcomes.count("done") != 1:
                problem = "both uninstalls %s" % ("took the package off" if outcomes[0] == "done" else
                                                  "found it not installed")
            failed |= problem is not None
            if n == numbers[-1] and not failed:
                self.server.state = after
                problem = self.state_problem(n)
            failed |= self.record(n, "uninstall", problem, rc)
        return failed

    def beside(self, numbers, op, pkg, force):
        """An install or uninstall with a check or the what-if beside it."""
        before = self.server.state
        if op == "install":
            after = install_target(before, pkg)
            args = self.install_args()
        else:
            after = uninstall_outcome(before, pkg, force)[3]
            args = self.uninstall_args(force)
        question = self.rng.choice(["check", "uninstall-check"])
        ask_pkg = self.rng.choice("ab")
        ask_args = ["--check", "--json"] if question == "check" else ["--uninstall", "--check", "--json"]
        with open(os.path.join(OUT, "run-%d.txt" % numbers[1]), "a") as f:
            f.write("$ beside run %d: zolhost %s (%s)\n" % (numbers[0], " ".join(args), VERSION[pkg]))
        main, asked = self.together(lambda: self.server.host_until_free(numbers[0], pkg, args),
                                    lambda: self.server.host(numbers[1], ask_pkg, ask_args))
        rc, report, attempts = main
        problem = expect_install(rc, report) if op == "install" else \
            expect_uninstall(rc, report, before, pkg, force)
        failed = problem is not None
        arc, areport = asked[0], asked[1]
        if arc != 0:
            aproblem = "exit code %s, expected 0" % arc
        elif question == "check":
            # Part-way through the other run some devices may have the
            # driver and some not yet: each has one of the two.
            aproblem = expect_check(areport, [before, after])
        else:
            # An install, even of the version installed, and an uninstall
            # that takes something off pass through states of their own.
            aproblem = expect_whatif(areport, ask_pkg, [before, after], op == "install" or before != after)
        failed |= aproblem is not None
        if not failed:
            self.server.state = after
            problem = self.state_problem(numbers[1])
            failed = problem is not None
        failed |= self.record(numbers[0], op, problem, rc)
        self.record(numbers[1], question, aproblem, arc)
        return failed


def main():
    os.makedirs(OUT, exist_ok=True)
    start = time.monotonic()
    print("stress: %d runs of zolhost over %s and %s on %d servers at once beside a busy loop (seed %d)" %
          (RUNS, PACKAGES["a"], PACKAGES["b"], SERVERS, SEED), flush=True)
    workers = [Worker(i + 1) for i in range(SERVERS)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    rows = sorted(RESULTS.rows)
    failed = [r for r in rows if not r[2]]
    print("stress: %d runs, %d failures, %d s" % (len(rows), len(failed), time.monotonic() - start))
    print("  %-18s %6s %7s %7s" % ("kind", "runs", "passed", "failed"))
    for kind in KINDS:
        mine = [r for r in rows if r[1] == kind]
        print("  %-18s %6d %7d %7d" % (kind, len(mine), sum(1 for r in mine if r[2]), sum(1 for r in mine if not r[2])))
    print("  install lock met by %d runs, run again %d times; killed runs: %d cut short (%d followed by a restart), "
          "%d ended before the kill" % (RESULTS.lock_met, RESULTS.lock_retries, RESULTS.cut, RESULTS.restarted,
                                        RESULTS.not_cut))
    for n, kind, ok, rc, detail in failed:
        print("--- run %d (%s): exit code %s: %s" % (n, kind, rc, detail))
        path = os.path.join(OUT, "run-%d.txt" % n)
        if os.path.exists(path):
            with open(path, encoding="utf-8", errors="replace") as f:
                lines = f.read().replace("\r", "").rstrip("\n").split("\n")
            for line in lines[-8:]:
                print("    " + line)
    for failure in RESULTS.setup_failures:
        print("stress: a server could not be set up, its runs are missing: " + failure)
    return 0 if not failed and not RESULTS.setup_failures and len(rows) == RUNS else 1


if __name__ == "__main__":
    sys.exit(main())

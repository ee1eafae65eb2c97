# What the role decides, for every transport: whether the deployment folder
# may be used, whether the copied files are the package's, whether to
# install (from zolhost's JSON reports), what an install's or an
# uninstall's result means, and each server's row of the fleet summary. The
# transports only look, copy, run and restart.
import csv
import io
import json
import re

# Status of the prerequisite check (property 5): a short name and the action.
STATUSES = {
    1: ("same version installed", "none"),
    2: ("older version installed", "install"),
    3: ("newer version installed", "none"),
    4: ("installed, no hardware", "skip"),
    5: ("new installation", "install"),
    6: ("not applicable", "skip"),
    7: ("cannot install", "fail"),
    8: ("undetermined", "fail"),
}

# Install result -> (exit code of zolhost, name).
RESULTS = {
    1: (0, "success"),
    2: (3010, "success, restart required"),
    0: (1603, "failure"),
}

# Exit code of zolhost when another installation holds the server's install
# lock, and what a Linux parent of wine64 sees of it (the low 8 bits).
BUSY_CODES = (1618, 1618 % 256)

# The summary's columns: an installation's (zol_state present) and an
# uninstallation's (absent) share some; a run with servers of both kinds has
# them all, in this order.
ALL_COLUMNS = ["host", "outcome", "devices found", "status before", "package before", "install result",
               "uninstall result", "exit code", "status after", "version after", "devices updated", "devices restored",
               "devices next best", "devices without driver", "devices removed", "devices failed",
               "devices not attempted", "message"]
INSTALL_ONLY = {"status before", "install result", "status after", "devices updated"}
UNINSTALL_ONLY = {"package before", "uninstall result", "version after", "devices restored", "devices next best",
                  "devices without driver", "devices removed"}
COLUMNS = [c for c in ALL_COLUMNS if c not in UNINSTALL_ONLY]
UNINSTALL_COLUMNS = [c for c in ALL_COLUMNS if c not in INSTALL_ONLY]

# The per-device outcomes of an install report counted in the summary.
DEVICE_COUNTS = {"updated": "devices updated", "failed": "devices failed", "not_attempted": "devices not attempted"}
# The same for an uninstall report: each device's action with the outcome
# that means it was done, or its outcome alone.
UNINSTALL_DEVICE_COUNTS = {("restore_previous", "updated"): "devices restored", ("next_best", "updated"): "devices next best",
                           ("no_driver", "updated"): "devices without driver", ("remove_device", "removed"): "devices removed",
                           "failed": "devices failed", "not_attempted": "devices not attempted"}

# zolhost's exit code when the package to uninstall is not installed (and
# nothing changed), and the package states of its what-if, as the summary
# words them.
NOT_INSTALLED_CODE = 1605
PACKAGE_STATES = {"not_installed": "not installed", "installed": "installed", "installing": "installing",
                  "partial": "partial", "superseded": "superseded"}

# What an install would do, in check mode, by status.
WOULD = {2: "would upgrade", 3: "would downgrade", 5: "would install"}

# Access rights in an access list's text form (SDDL) for files and folders,
# and those of them that let someone change a folder or what it holds.
RIGHTS = {"GA": 0x10000000, "GR": 0x80000000, "GW": 0x40000000, "GX": 0x20000000, "RC": 0x20000, "SD": 0x10000,
          "WD": 0x40000, "WO": 0x80000, "FA": 0x1F01FF, "FR": 0x120089, "FW": 0x120116, "FX": 0x1200A0,
          "CC": 0x1, "DC": 0x2, "LC": 0x4, "SW": 0x8, "RP": 0x10, "WP": 0x20, "DT": 0x40, "LO": 0x80, "CR": 0x100}
WRITE_RIGHTS = 0x2 | 0x4 | 0x10 | 0x40 | 0x100 | 0x10000 | 0x40000 | 0x80000 | 0x10000000 | 0x40000000
# Those of them that matter on a folder above the deployment folder: taking
# away or replacing what it holds (delete a child, delete or rename the level
# itself) or changing its access list or owner. Others may add files and
# folders to C:\ on Windows; what they add is not ours and is not used.
REMOVE_RIGHTS = 0x40 | 0x10000 | 0x40000 | 0x80000 | 0x10000000
# Who may own and change the deployment folder: SYSTEM, Administrators, the
# installer service, the creator (an inheritable entry for what the
# administrator puts there) and the owner; the deploying account is added.
TRUSTED = {"SY", "S-1-5-18", "BA", "S-1-5-32-544", "CO", "S-1-3-0", "OW", "S-1-3-4",
           "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"}
NAMES = {"WD": "Everyone", "S-1-1-0": "Everyone", "BU": "Users", "S-1-5-32-545": "Users",
         "AU": "Authenticated Users", "S-1-5-11": "Authenticated Users", "IU": "Interactive users"}
FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_REPARSE_POINT = 0x10, 0x400
# Names that Windows takes for a device, with or without an extension.
DEVICE_NAMES = re.compile(r"^(CON|PRN|AUX|NUL|CONIN\$|CONOUT\$|(COM|LPT)[0-9\u00b9\u00b2\u00b3])(\.|$)", re.IGNORECASE)


def _clean(text):
    return " ".join((text or "").split())


def zol_report(run):
    """The JSON object zolhost printed, from a registered command result.
    Carries 'error' instead when there is none."""
    out = run.get("stdout") or ""
    start, end = out.find("{"), out.rfind("}")
    if start >= 0 and end > start:
        try:
            report = json.loads(out[start:end + 1])
            if isinstance(report, dict) and (isinstance(report.get("properties"), dict) or "install" in report
                                             or "uninstall" in report):
                return report
        except ValueError:
            pass
    detail = _clean(run.get("stderr")) or _clean(run.get("msg")) or "no output"
    return {"error": "zolhost gave no JSON report (exit code %s): %s" % (run.get("rc"), detail)}


def status_text(status):
    if status is None:
        return ""
    name = STATUSES.get(status, ("unknown status", ""))[0]
    return "%d %s" % (status, name)


def zol_check_decision(report, allow_downgrade=False):
    """What to do after a check: action install, none, skip or fail, and why.
    A newer installed version is replaced only when downgrades are allowed."""
    prereq = report.get("properties", {}).get("5") or {}
    status = prereq.get("status")
    message = _clean(prereq.get("message"))
    props = report.get("properties", {})
    installed = (props.get("3") or {}).get("value") or ""
    version = (props.get("4") or {}).get("value") or ""
    if not prereq.get("result") or status not in STATUSES:
        return {"action": "fail", "status": status, "installed": installed, "version": version,
                "reason": "the component gave no prerequisite status (%s)" % status}
    action = STATUSES[status][1]
    reasons = {
        1: "version %s is installed" % installed,
        2: "upgrade from %s to %s" % (installed, version),
        3: "a newer version (%s) is installed" % installed,
        4: "no supported device present; version %s stays installed" % installed,
        5: "new installation of %s" % version,
        6: message or "no supported device present",
        7: message or "the component refuses the installation",
        8: message or "the component could not classify the installation",
    }
    if status == 3 and allow_downgrade:
        action, reasons[3] = "install", "downgrade from %s to %s" % (installed, version)
    return {"action": action, "status": status, "installed": installed, "version": version,
            "reason": reasons[status]}


def zol_busy(run):
    """Whether zolhost found another installation holding the server's
    install lock (and so did not install or uninstall)."""
    report = zol_report(run)
    call = report.get("install") or report.get("uninstall") or {}
    if call.get("in_progress"):
        return True
    return run.get("rc") in BUSY_CODES and call.get("result") is None


def _device_counts(report):
    counts = dict.fromkeys(DEVICE_COUNTS, 0)
    for device in report.get("devices") or []:
        if isinstance(device, dict) and device.get("outcome") in counts:
            counts[device["outcome"]] += 1
    return counts


def zol_check_devices(report):
    """How many devices an install would update, from a check's report (the
    supported devices present); None when the report does not list them."""
    devices = report.get("devices")
    if not isinstance(devices, list):
        return None
    return sum(1 for d in devices if isinstance(d, dict) and d.get("outcome") == "present")


def _call(report, key, rc):
    """zolhost's account of its call of Install or Uninstall (key "install"
    or "uninstall") with the result the call returned; or, with result None,
    an error: no report, another installation holding the install lock, no
    result."""
    if "error" in report:
        return report, None
    call = report.get(key) if isinstance(report.get(key), dict) else {}
    if call.get("in_progress"):
        return {"error": _clean("another installation is in progress on the server (exit code 1618): %s"
                                % _clean(call.get("message")))}, None
    if call.get("result") not in RESULTS:
        return {"error": "zolhost reported no %s result (exit code %s)" % (key, rc)}, None
    return call, call["result"]


def _outcome(call, result, rc, code, name, **more):
    """A call's outcome; the report is authoritative, the exit code (all of
    it on Windows, its low 8 bits through wine64) is only compared with the
    one that goes with it."""
    outcome = dict(more, result=result, name=name, exit_code=code, changed=result != 0, restart=result == 2,
                   message=_clean(call.get("message")))
    if rc not in (code, code % 256):
        outcome["message"] = _clean("%s (exit code %s, expected %d)" % (outcome["message"], rc, code))
    return outcome


def zol_install_outcome(report, rc):
    """An install's result from its JSON report."""
    install, result = _call(report, "install", rc)
    if result is None:
        return install
    more = {"devices": _device_counts(report)} if isinstance(report.get("devices"), list) else {}
    return _outcome(install, result, rc, *RESULTS[result], **more)


def _count(n, what="device"):
    return "%d %s%s" % (n, what, "" if n == 1 else "s")


def _devices(listed):
    return [d for d in listed if isinstance(d, dict)] if isinstance(listed, list) else []


def _uninstall_words(devices, version, done):
    """What an uninstallation does to the package's devices, in words: done
    (the devices after it, "rolled back ...") or planned (its what-if,
    "would roll back ..."). Only the devices whose action was carried out count
    when done."""
    targets, others = {}, dict.fromkeys(("next_best", "no_driver", "remove_device"), 0)
    for device in devices:
        if done and device.get("outcome") not in ("updated", "removed"):
            continue
        action = device.get("action")
        if action == "restore_previous":
            target = device.get("target_version") or device.get("target_inf") or "the previous driver"
            targets[target] = targets.get(target, 0) + 1
        elif action in others:
            others[action] += 1
    moves = " and ".join("to %s on %s" % (t, _count(n)) for t, n in targets.items())
    if targets:
        parts = ["rolled back from %s %s" % (version, moves) if done else "would roll back " + moves]
    else:
        parts = ["%s %s" % ("removed" if done else "would remove", version)]
    if others["next_best"]:
        parts.append("the next-best driver on %s" % _count(others["next_best"]))
    if others["no_driver"]:
        parts.append("no driver left on %s" % _count(others["no_driver"]))
    if others["remove_device"]:
        parts.append("%s %s" % ("removed" if done else "remove", _count(others["remove_device"], "root device")))
    return {"rollback": bool(targets), "text": "; ".join(parts)}


def zol_uninstall_decision(report, force=False):
    """What an uninstallation would do, from zolhost's what-if report
    (--uninstall --check): action remove, none (not installed) or fail, and
    why; the planned devices and the package's state before."""
    if "error" in report:
        return {"action": "fail", "reason": report["error"], "plan": [], "state": None}
    run = report.get("uninstall") if isinstance(report.get("uninstall"), dict) else {}
    props = report.get("properties", {})
    version = (props.get("4") or {}).get("value") or "the package"
    installed = (props.get("3") or {}).get("value") or ""
    plan, state = _devices(run.get("plan")), run.get("package_state")
    decision = {"plan": plan, "state": state, "version": version}
    if state == "not_installed":
        return dict(decision, action="none", reason="not installed")
    if state == "superseded":
        return dict(decision, action="fail", reason="a later version (%s) is installed over %s; remove it first" % (
            installed or "unknown", version))
    if state not in ("installed", "installing", "partial"):
        return dict(decision, action="fail", reason="the component gave no uninstall plan (package state %s)" % state)
    stranded = [d.get("instance_id") or "?" for d in plan if d.get("action") == "no_driver"]
    if stranded and not force:
        return dict(decision, action="fail", reason="removing %s would leave %s without a driver (%s); "
                    "set zol_force_uninstall to allow it" % (version, _count(len(stranded)), ", ".join(stranded)))
    words = _uninstall_words(plan, version, False)
    return dict(decision, action="remove", rollback=words["rollback"], reason=words["text"])


def zol_uninstall_outcome(report, rc):
    """An uninstallation's result from its JSON report: as an install's, and
    not installed (result 0 with the package not installed, exit code 1605:
    nothing was changed), the planned devices, what was done to the devices
    in words and their counts."""
    run, result = _call(report, "uninstall", rc)
    if result is None:
        return run
    not_installed = result == 0 and run.get("package_state") == "not_installed"
    version = ((report.get("properties") or {}).get("4") or {}).get("value") or "the package"
    devices = _devices(report.get("devices"))
    counts = dict.fromkeys(UNINSTALL_DEVICE_COUNTS.values(), 0)
    for device in devices:
        column = (UNINSTALL_DEVICE_COUNTS.get((device.get("action"), device.get("outcome")))
                  or UNINSTALL_DEVICE_COUNTS.get(device.get("outcome")))
        if column:
            counts[column] += 1
    return _outcome(run, result, rc, *((NOT_INSTALLED_CODE, "not installed") if not_installed else RESULTS[result]),
                    not_installed=not_installed, state=run.get("package_state"), version=version,
                    plan=_devices(run.get("plan")), devices=counts, done=_uninstall_words(devices, version, True)["text"])


def zol_failure(result):
    """The summary's message for a failed task: a run of zolhost that found
    the install lock held on every attempt says so."""
    if isinstance(result, dict) and "rc" in result and zol_busy(result):
        return "another installation was still in progress after %s attempts (exit code 1618)" % (
            result.get("attempts") or 1)
    return _clean(result.get("msg") if isinstance(result, dict) else "") or "failed"


def zol_facts(run):
    """The JSON object a look at the deployment folder printed."""
    out = run.get("stdout") or ""
    start, end = out.find("{"), out.rfind("}")
    try:
        facts = json.loads(out[start:end + 1]) if 0 <= start < end else None
    except ValueError:
        facts = None
    if not isinstance(facts, dict):
        detail = _clean(run.get("stderr")) or _clean(run.get("msg")) or "no output"
        return {"error": "no answer (exit code %s): %s" % (run.get("rc"), detail)}
    return facts


def _rights(text):
    if text[:2].lower() == "0x":
        return int(text, 16)
    if text.isdigit():
        return int(text)
    mask = 0
    for i in range(0, len(text), 2):
        mask |= RIGHTS.get(text[i:i + 2].upper(), 0xFFFFFFFF)  # a right not known here counts as every right
    return mask


def _owner_and_entries(sddl):
    """The owner and the access list's entries (None: no access list, so
    everyone may do anything) of a security descriptor's text."""
    owner = re.match(r"O:(.+?)(?=G:|D:|S:|$)", sddl)
    dacl = re.search(r"D:([^(]*)((?:\([^)]*\))*)", sddl)
    if not dacl or "NO_ACCESS_CONTROL" in dacl.group(1):
        return owner and owner.group(1), None
    return owner and owner.group(1), re.findall(r"\(([^)]*)\)", dacl.group(2))


def _level_problem(level, trusted, last):
    """Why one level of a folder's path must not be used ('' when it may):
    a link, not a folder, an owner other than the trusted ones, no access
    list, or entries that let others in. The folder itself (last) must be
    writable by the trusted alone, its inherit-only entries included (they
    pass to the files copied into it); a level above it only must not let
    others remove or replace what it holds or change its access list."""
    attributes = level.get("attributes") or 0
    if attributes & FILE_ATTRIBUTE_REPARSE_POINT:
        return "is a link (reparse point)"
    if not attributes & FILE_ATTRIBUTE_DIRECTORY:
        return "is not a folder"
    owner, entries = _owner_and_entries(level.get("sddl") or "")
    if owner and owner not in trusted:
        return "is owned by %s, not by the administrators" % owner
    if entries is None:
        return "has no access list, so anyone may %s" % ("write to it" if last else "change it")
    others = []
    for entry in entries:
        fields = entry.split(";")
        if len(fields) < 6 or fields[0] not in ("A", "OA", "XA") or fields[5] in trusted:
            continue
        inherit_only = "IO" in [fields[1][i:i + 2].upper() for i in range(0, len(fields[1]), 2)]
        if _rights(fields[2]) & (WRITE_RIGHTS if last else REMOVE_RIGHTS) and (last or not inherit_only):
            others.append(NAMES.get(fields[5], fields[5]))
    if not others:
        return ""
    names = ", ".join(sorted(set(others)))
    if last:
        return "grants write access to %s" % names
    return "lets %s remove or replace what it holds" % names


def zol_folder_problem(run, key="deploy", must_exist=False, path=""):
    """Why a folder the role deploys into must not be used, from a look at
    every level of its path ('' when it may): key "deploy" is the deployment
    folder, "temp" the check's temporary folder. A folder that must exist
    (one the step was to create) and does not fails too. path names the
    folder when the look gave no answer."""
    facts = zol_facts(run)
    folder = facts.get(key) if isinstance(facts.get(key), dict) else {}
    where = " ".join(w for w in ({"temp": "the check's temporary folder"}.get(key, "the deployment folder"),
                                 folder.get("path") or path) if w)
    if "error" in facts:
        return "%s could not be examined: %s" % (where, facts["error"])
    if folder.get("error"):
        return "%s could not be created: %s; nothing was copied or run" % (where, _clean(folder["error"]))
    levels = [level for level in folder.get("levels") or [] if isinstance(level, dict)]
    if not levels:
        return "%s could not be examined: no levels were listed" % where
    trusted = TRUSTED | {facts.get("user")}
    for index, level in enumerate(levels):
        if not level.get("exists"):
            break
        last = index == len(levels) - 1
        problem = _level_problem(level, trusted, last)
        if problem and last:
            return "%s %s; nothing was copied or run" % (where, problem)
        if problem:
            return "%s lies in %s, which %s; nothing was copied or run" % (where, level.get("path"), problem)
    if must_exist and not levels[-1].get("exists"):
        return "%s could not be created; nothing was copied or run" % where
    return ""


def zol_folder_created(run, key="deploy"):
    """The levels of a folder's path that the step created."""
    folder = zol_facts(run).get(key)
    return (folder.get("created") or []) if isinstance(folder, dict) else []


def zol_plain_name(name):
    """Whether a file or folder name is plain: not empty, '.' or '..', not
    one that Windows would trim (a trailing dot or blank), no wildcard or
    separator, no device name."""
    return (isinstance(name, str) and name != "" and name.rstrip(" .") == name
            and not re.search(r'[<>:"/\\|?*\x00-\x1f]', name) and not DEVICE_NAMES.match(name))


def zol_plain_path(path):
    """Whether a path on the server is a full local path of plain names
    (X:\\name\\name..., or a drive's root X:\\), so that the levels the
    server looks at are the folders it uses."""
    match = re.match(r"^[A-Za-z]:\\(.*)$", path) if isinstance(path, str) else None
    if not match:
        return False
    return all(zol_plain_name(part) for part in (match.group(1).split("\\") if match.group(1) else []))


def zol_sums_from_lines(lines):
    """SHA-256 sums printed by the sums step, by path below the deployment
    folder with backslashes: '<sum>  <path>' for a file (as sha256sum prints
    it), 'link <path>' for a link or anything else that is not a plain file
    (its value: 'link'). A leading './' (find's) is not part of the path."""
    sums = {}
    for line in lines:
        line = line.rstrip("\r")
        match = re.match(r"^(?:([0-9a-fA-F]{64}) [ *]|(link) )(?:\./)?(.+)$", line)
        if match:
            sums[match.group(3).replace("/", "\\")] = (match.group(1) or match.group(2)).lower()
    return sums


def zol_integrity_problem(run, expected, folder):
    """From the sums step's run: the copied files that differ from the
    package's sums taken on the controller, are missing, or are found beside
    them without being the package's ('' when none), named by their path on
    the server. Names are compared without regard to case, as Windows does."""
    copied = zol_sums_from_lines(run.get("stdout_lines") or [])
    if not copied and run.get("rc"):
        detail = _clean(run.get("stderr")) or _clean(run.get("msg")) or "no output"
        return "the sums of the copied files could not be read (exit code %s): %s; zolhost was not run" % (
            run.get("rc"), detail)
    found = {name.lower(): name for name in copied}
    wrong = []
    for name in sorted(expected):
        actual = copied.get(found.get(name.lower(), name)) or ""
        if actual == "link":
            wrong.append("%s\\%s (a link, expected SHA-256 %s)" % (folder, name, expected[name]))
        elif actual != expected[name].lower():
            wrong.append("%s\\%s (SHA-256 %s, expected %s)" % (folder, name, actual or "none: missing", expected[name]))
    known = {name.lower() for name in expected}
    extra = ["%s\\%s%s" % (folder, name, " (a link)" if copied[name] == "link" else "")
             for name in sorted(copied) if name.lower() not in known]
    problems = []
    if wrong:
        problems.append("the copied files do not match the package: %s" % "; ".join(wrong))
    if extra:
        problems.append("the package folder holds files that are not the package's: %s" % ", ".join(extra))
    return "%s; zolhost was not run" % "; ".join(problems) if problems else ""


def _changed(row, outcome, what, checks):
    """Makes the row of an install or uninstall that changed the server: its
    message the component's, what was done and the restart. Whether the
    restart is still pending."""
    pending = outcome["restart"] and "after restart" not in checks
    notes = [outcome["message"], what] + (["restart pending" if pending else "restarted"] if outcome["restart"] else [])
    row["outcome"], row["message"] = "changed", "; ".join(n for n in notes if n)
    return pending


def _uninstall_row(row, facts):
    """The row of a server the package is taken off (zol_state absent): in
    check mode what the what-if says, else what the uninstallation did, as
    the what-if after it (after the restart, when there is one) confirms."""
    checks = facts.get("zol_checks") or {}
    before = checks.get("before")
    uninstall = facts.get("zol_uninstall") or {}
    decision = zol_uninstall_decision(before, bool(facts.get("zol_forced"))) if before else {}
    source = uninstall if "result" in uninstall else decision if before and "error" not in before else None
    if source:
        row["devices found"] = str(len(source.get("plan") or []))
        row["package before"] = PACKAGE_STATES.get(source.get("state"), source.get("state") or "")
    if "result" in uninstall:
        row["uninstall result"] = "%d %s" % (uninstall["result"], uninstall["name"])
        row["exit code"] = str(uninstall["exit_code"])
        for column, count in uninstall["devices"].items():
            row[column] = str(count)
    after = checks.get("after restart") or checks.get("after")
    if after and "error" not in after:
        installed = (after.get("properties", {}).get("3") or {})
        row["version after"] = (installed.get("value") or "none") if installed.get("result") else "none"

    if facts.get("zol_error"):
        row["outcome"], row["message"] = "failed", _clean(facts["zol_error"])
    elif facts.get("zol_check_mode"):
        if not before:
            row["outcome"], row["message"] = "failed", "the server was not checked"
        elif decision["action"] == "remove":
            row["outcome"] = "would roll back" if decision["rollback"] else "would remove"
            row["message"] = decision["reason"]
        else:
            row["outcome"] = "ok" if decision["action"] == "none" else "failed"
            row["message"] = decision["reason"]
    elif "result" not in uninstall:
        row["outcome"], row["message"] = "failed", "the package was not uninstalled"
    elif uninstall["not_installed"]:
        row["outcome"], row["message"] = "ok", "not installed"
    elif uninstall["changed"]:
        pending = _changed(row, uninstall, uninstall["done"], checks)
        # A success is believed when the what-if after it finds the package
        # no longer installed (before a pending restart it may still be).
        final = (after.get("uninstall") or {}).get("package_state") if after and "error" not in after else None
        if after and "error" not in after and not pending and final != "not_installed":
            row["outcome"] = "failed"
            row["message"] = "the uninstallation reported success, but the what-if after it finds the package %s" % (
                PACKAGE_STATES.get(final, final or "unanswered"))
    else:
        row["outcome"], row["message"] = "failed", uninstall.get("message") or "the uninstallation failed"
    return row


def _row(host, facts):
    row = dict.fromkeys(ALL_COLUMNS, "")
    row["host"] = host
    # Which columns the row fills: an installation's or an uninstallation's
    # (None: not known for a server the rollout did not reach, whose state
    # the inventory does not set).
    uninstalling = facts.get("zol_uninstalling")
    if uninstalling is None and (facts.get("zol_attempted") or "zol_state" in facts):
        uninstalling = facts.get("zol_state") == "absent"
    row["state"] = None if uninstalling is None else "absent" if uninstalling else "present"
    if not facts.get("zol_attempted"):
        row["outcome"], row["message"] = "not attempted", "the rollout stopped before this server"
        return row
    if uninstalling:
        return _uninstall_row(row, facts)
    checks = facts.get("zol_checks") or {}
    decision = facts.get("zol_decision") or {}
    install = facts.get("zol_install") or {}
    before = checks.get("before") or {}
    # The supported devices present, as the check before listed them.
    devices = zol_check_devices(before) if before and "error" not in before else None
    row["devices found"] = "" if devices is None else str(devices)
    row["status before"] = status_text(decision.get("status"))
    if "result" in install:
        row["install result"] = "%d %s" % (install["result"], install["name"])
        row["exit code"] = str(install["exit_code"])
        for outcome, column in DEVICE_COUNTS.items():
            if "devices" in install:
                row[column] = str(install["devices"][outcome])
    after = checks.get("after restart") or checks.get("after")
    if after and "error" not in after:
        row["status after"] = status_text(zol_check_decision(after)["status"])

    action = decision.get("action")
    if facts.get("zol_error"):
        row["outcome"], row["message"] = "failed", _clean(facts["zol_error"])
    elif not before:
        row["outcome"], row["message"] = "failed", "the server was not checked"
    elif action == "none":
        row["outcome"], row["message"] = "ok", decision["reason"]
    elif action == "skip":
        row["outcome"], row["message"] = "skipped", decision["reason"]
    elif action == "fail":
        row["outcome"], row["message"] = "failed", decision["reason"]
    elif facts.get("zol_check_mode"):
        row["outcome"] = WOULD[decision["status"]]
        row["message"] = decision["reason"]
        if devices is not None:
            row["message"] += " on %d device%s" % (devices, "" if devices == 1 else "s")
    elif install.get("changed"):
        pending = _changed(row, install, decision["reason"], checks)
        # A success is believed when the check after it finds the package's
        # version installed (before a pending restart it may not yet).
        final = zol_check_decision(after) if after and "error" not in after else None
        if final and not pending and final["status"] != 1:
            row["outcome"] = "failed"
            row["message"] = "the installation reported success, but the check after it finds: %s (status %d)" % (
                final["reason"], final["status"])
    else:
        row["outcome"], row["message"] = "failed", install.get("message") or "the installation failed"
    return row


def zol_fleet_rows(hosts, hostvars):
    """One summary row per server, in inventory order."""
    return [_row(h, hostvars[h]) for h in hosts]


def _csv_cell(text):
    """A CSV cell that a spreadsheet shows as text: one that begins with a
    formula character (a package's message, say) gets a leading quote."""
    return "'" + text if text[:1] in ("=", "+", "-", "@") else text


def _columns(rows):
    """An installation's columns, an uninstallation's, or both when the
    servers of the run did either."""
    states = {row.get("state") for row in rows} - {None}
    if "absent" not in states:
        return COLUMNS
    return UNINSTALL_COLUMNS if states == {"absent"} else ALL_COLUMNS


def zol_table(rows, form):
    """The summary as Markdown (form 'markdown') or CSV (form 'csv')."""
    columns = _columns(rows)
    if form == "csv":
        buf = io.StringIO()
        writer = csv.writer(buf, lineterminator="\n")
        writer.writerow(columns)
        for row in rows:
            writer.writerow([_csv_cell(row[c]) for c in columns])
        return buf.getvalue()
    lines = ["| " + " | ".join(columns) + " |", "|" + "---|" * len(columns)]
    for row in rows:
        lines.append("| " + " | ".join(row[c].replace("|", "\\|") for c in columns) + " |")
    return "\n".join(lines) + "\n"


def zol_report_files(hosts, hostvars):
    """Each server's JSON reports, by stage, as one file: (name, text)."""
    files = []
    for host in hosts:
        if not hostvars[host].get("zol_attempted"):
            continue
        reports = {}
        for stage, text in (hostvars[host].get("zol_outputs") or {}).items():
            try:
                reports[stage] = json.loads(text)
            except (TypeError, ValueError):
                reports[stage] = text
        files.append({"path": host + ".json", "content": json.dumps(reports, indent=1, ensure_ascii=False) + "\n"})
    return files


class FilterModule(object):
    def filters(self):
        return {
            "zol_report": zol_report,
            "zol_check_decision": zol_check_decision,
            "zol_install_outcome": zol_install_outcome,
            "zol_uninstall_decision": zol_uninstall_decision,
            "zol_uninstall_outcome": zol_uninstall_outcome,
            "zol_busy": zol_busy,
            "zol_failure": zol_failure,
            "zol_facts": zol_facts,
            "zol_folder_problem": zol_folder_problem,
            "zol_folder_created": zol_folder_created,
            "zol_plain_path": zol_plain_path,
            "zol_plain_name": zol_plain_name,
            "zol_integrity_problem": zol_integrity_problem,
            "zol_fleet_rows": zol_fleet_rows,
            "zol_table": zol_table,
            "zol_report_files": zol_report_files,
        }

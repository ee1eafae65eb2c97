# What the role decides from zolhost's JSON reports, for every transport:
# whether to install, what an install's result means, and each server's row
# of the fleet summary. The transports only copy, run and restart.
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

COLUMNS = ["host", "outcome", "devices found", "status before", "install result", "exit code", "status after",
           "message"]


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
            if isinstance(report, dict) and isinstance(report.get("properties"), dict):
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


def zol_check_decision(report):
    """What to do after a check: action install, none, skip or fail, and why."""
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
    return {"action": action, "status": status, "installed": installed, "version": version,
            "reason": reasons[status]}


def zol_install_outcome(report, rc):
    """An install's result from its JSON report; the report is authoritative,
    the exit code (all of it on Windows, its low 8 bits through wine64) is
    only compared with it."""
    if "error" in report:
        return report
    install = report.get("install") or {}
    result = install.get("result")
    if result not in RESULTS:
        return {"error": "zolhost reported no install result (exit code %s)" % rc}
    code, name = RESULTS[result]
    outcome = {"result": result, "name": name, "exit_code": code, "changed": result != 0,
               "restart": result == 2, "message": _clean(install.get("message"))}
    if rc not in (code, code % 256):
        outcome["message"] = _clean("%s (exit code %s, expected %d)" % (outcome["message"], rc, code))
    return outcome


def zol_count_devices(lines, pattern):
    """How many devices (one line of identifiers each) have an identifier
    that begins with the pattern."""
    rx = re.compile(pattern, re.IGNORECASE)
    return sum(1 for line in lines if any(rx.match(ident) for ident in line.split()))


def _row(host, facts):
    checks = facts.get("zol_checks") or {}
    decision = facts.get("zol_decision") or {}
    install = facts.get("zol_install") or {}
    before = checks.get("before") or {}
    row = dict.fromkeys(COLUMNS, "")
    row["host"] = host
    devices = facts.get("zol_devices")
    row["devices found"] = "" if devices is None else str(devices)
    row["status before"] = status_text(decision.get("status"))
    if "result" in install:
        row["install result"] = "%d %s" % (install["result"], install["name"])
        row["exit code"] = str(install["exit_code"])
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
    elif install.get("changed"):
        row["outcome"] = "changed"
        notes = [install["message"], decision["reason"]]
        if install["restart"]:
            notes.append("restarted" if "after restart" in checks else "restart pending")
        row["message"] = "; ".join(n for n in notes if n)
    else:
        row["outcome"], row["message"] = "failed", install.get("message") or "the installation failed"
    return row


def zol_fleet_rows(hosts, hostvars):
    """One summary row per server, in inventory order."""
    return [_row(h, hostvars[h]) for h in hosts]


def zol_table(rows, form):
    """The summary as Markdown (form 'markdown') or CSV (form 'csv')."""
    if form == "csv":
        buf = io.StringIO()
        writer = csv.writer(buf, lineterminator="\n")
        writer.writerow(COLUMNS)
        for row in rows:
            writer.writerow([row[c] for c in COLUMNS])
        return buf.getvalue()
    lines = ["| " + " | ".join(COLUMNS) + " |", "|" + "---|" * len(COLUMNS)]
    for row in rows:
        lines.append("| " + " | ".join(row[c].replace("|", "\\|") for c in COLUMNS) + " |")
    return "\n".join(lines) + "\n"


def zol_report_files(hosts, hostvars):
    """Each server's JSON reports, by stage, as one file: (name, text)."""
    files = []
    for host in hosts:
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
            "zol_count_devices": zol_count_devices,
            "zol_fleet_rows": zol_fleet_rows,
            "zol_table": zol_table,
            "zol_report_files": zol_report_files,
        }

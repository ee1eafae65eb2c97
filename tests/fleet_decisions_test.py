#!/usr/bin/env python3
# The fleet role's decisions from zolhost's JSON, without Wine:
#   python3 tests/fleet_decisions_test.py SOURCE_DIR
import csv
import importlib.util
import io
import json
import sys
import unittest


ROLE = sys.argv.pop(1) + "/deploy/ansible/roles/zol_driver_package"
found = importlib.util.spec_from_file_location("zol", ROLE + "/filter_plugins/zol.py")
zol = importlib.util.module_from_spec(found)
found.loader.exec_module(zol)


def check(status, message="", result=1):
    return {"properties": {"3": {"result": 1, "value": "1.2.3.0"}, "4": {"result": 1, "value": "1.2.4.0"},
                           "5": {"result": result, "status": status, "message": message}}}


def installed(result, message="", devices=None):
    report = check(5)
    report["install"] = {"result": result, "message": message}
    if devices is not None:
        report["devices"] = [{"instance_id": "ROOT\\SYSTEM\\%04d" % i, "outcome": o} for i, o in enumerate(devices)]
    return report


def uninstalled(state, actions=(), result=None, outcomes=(), version="1.2.4.0", installed="1.2.4.0"):
    """An uninstall report as zolhost --uninstall --json prints it: the plan
    (one device per action, to 1.2.3.0 when restored) and, once Uninstall
    ran (result given), each device's outcome."""
    def device(i, action, outcome):
        return {"instance_id": "ROOT\\SYSTEM\\%04d" % i, "outcome": outcome, "action": action,
                "target_version": "1.2.3.0" if action == "restore_previous" else None}

    report = check(1)
    report["properties"]["3"]["value"], report["properties"]["4"]["value"] = installed, version
    report["uninstall"] = {"result": result, "message": "", "package_state": state,
                           "plan": [device(i, a, "planned") for i, a in enumerate(actions)]}
    report["devices"] = [device(i, a, o) for i, (a, o) in enumerate(zip(actions, outcomes))]
    return report


def looked(leaf, parents=None, key="deploy", path=None, created=()):
    """A look at a folder's levels, as the transports print it: the drive's
    root and C:\\Program Files as Windows has them unless parents are
    given, then the folder itself (leaf)."""
    if parents is None:
        parents = [dict(exists=True, attributes=0x16, sddl=WINDOWS_ROOT), dict(exists=True, attributes=0x11, sddl=PROGRAM_FILES)]
    path = path or DIR
    names = ["C:\\"] + ["C:\\" + "\\".join(path.split("\\")[1:i + 1]) for i in range(1, path.count("\\") + 1)]
    levels = [dict(level, path=name) for level, name in zip(parents + [leaf], names)]
    return {"stdout": json.dumps({"user": "S-1-5-21-0-0-0-1000", key: {"path": path, "levels": levels,
                                                                       "created": list(created)}}) + "\r\n", "rc": 0}


DIR = "C:\\Program Files\\zolfleet"
# The access lists of C:\\ and C:\\Program Files on Windows Server: users may
# add files and folders to the root and inherit-only entries give them more
# below it; TrustedInstaller owns both.
WINDOWS_ROOT = ("O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)"
                "(A;OICIIO;GA;;;CO)(A;OICI;0x1200a9;;;BU)(A;CI;LC;;;BU)(A;CI;DC;;;BU)(A;OICIIO;SDGXGWGR;;;AU)(A;;LC;;;AU)")
PROGRAM_FILES = ("O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:PAI"
                 "(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)(A;CIIO;GA;;;S-1-5-80-956008885-"
                 "3418522649-1831038044-1853292631-2271478464)(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)"
                 "(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)")
WINE_OPEN = "(A;OICI;0x1301ff;;;WD)"


class Decisions(unittest.TestCase):
    def test_each_status_has_its_action(self):
        actions = {s: zol.zol_check_decision(check(s))["action"] for s in range(1, 9)}
        self.assertEqual(actions, {1: "none", 2: "install", 3: "none", 4: "skip", 5: "install", 6: "skip",
                                   7: "fail", 8: "fail"})
        self.assertEqual(zol.zol_check_decision(check(2))["reason"], "upgrade from 1.2.3.0 to 1.2.4.0")
        refused = zol.zol_check_decision(check(7, "Operating system not supported\r\n"))
        self.assertEqual(refused["reason"], "Operating system not supported")
        # A newer version stays unless a downgrade is asked for.
        self.assertEqual(zol.zol_check_decision(check(3), True)["action"], "install")
        self.assertEqual(zol.zol_check_decision(check(3), True)["reason"], "downgrade from 1.2.3.0 to 1.2.4.0")
        self.assertEqual(zol.zol_check_decision(check(1), True)["action"], "none")
        # No answer to the prerequisite check, or a status outside the table.
        self.assertEqual(zol.zol_check_decision(check(None, result=0))["action"], "fail")
        self.assertEqual(zol.zol_check_decision(check(9))["action"], "fail")

    def test_install_result_is_authoritative_and_exit_code_compared(self):
        for result, code, low in ((1, 0, 0), (2, 3010, 194), (0, 1603, 67)):
            for rc in (code, low):
                outcome = zol.zol_install_outcome(installed(result, "x"), rc)
                self.assertEqual((outcome["exit_code"], outcome["message"]), (code, "x"))
        self.assertTrue(zol.zol_install_outcome(installed(2), 194)["restart"])
        self.assertIn("exit code 67, expected 0", zol.zol_install_outcome(installed(1), 67)["message"])
        self.assertIn("error", zol.zol_install_outcome(check(5), 0))

    def test_busy_install_lock_is_retried_and_named(self):
        busy = {"stdout": json.dumps({"report_version": 1, "install": {"result": None, "in_progress": True,
                                                                        "message": "Another installation is in progress"}}),
                "rc": 82}
        self.assertTrue(zol.zol_busy(busy))
        self.assertTrue(zol.zol_busy({"stdout": "", "rc": 1618}))
        self.assertFalse(zol.zol_busy({"stdout": json.dumps(installed(0)), "rc": 67}))
        self.assertFalse(zol.zol_busy({"stdout": json.dumps(check(5)), "rc": 0}))
        self.assertEqual(zol.zol_install_outcome(zol.zol_report(busy), 82)["error"],
                         "another installation is in progress on the server (exit code 1618): "
                         "Another installation is in progress")
        self.assertEqual(zol.zol_failure(dict(busy, attempts=11, failed=True)),
                         "another installation was still in progress after 11 attempts (exit code 1618)")
        self.assertEqual(zol.zol_failure({"msg": "copy\nfailed"}), "copy failed")

    def test_deployment_folder_must_be_the_administrators_alone(self):
        wine_closed = "O:S-1-5-21-0-0-0-1000D:(A;OICI;FA;;;SY)(A;OICI;FA;;;S-1-5-21-0-0-0-1000)"
        windows_closed = "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;OICIIO;GA;;;CO)"
        for fine in (looked(dict(exists=False)), looked(dict(exists=True, attributes=0x10, sddl=wine_closed)),
                     looked(dict(exists=True, attributes=0x10, sddl=windows_closed)),
                     looked(dict(exists=True, attributes=0x10, sddl=wine_closed + "(A;OICI;0x1200a9;;;WD)"))):
            self.assertEqual(zol.zol_folder_problem(fine), "", fine)
        problems = {
            "is a link (reparse point)": dict(exists=True, attributes=0x410, sddl=""),
            "is not a folder": dict(exists=True, attributes=0x20, sddl=wine_closed),
            "grants write access to Everyone": dict(exists=True, attributes=0x10, sddl=wine_closed + WINE_OPEN),
            "grants write access to Authenticated Users, Users": dict(
                exists=True, attributes=0x10, sddl=windows_closed + "(A;OICIIO;SDGWGR;;;AU)(A;;DC;;;BU)"),
            "is owned by S-1-5-21-7-7-7-1001, not by the administrators": dict(
                exists=True, attributes=0x10, sddl="O:S-1-5-21-7-7-7-1001D:PAI(A;OICI;FA;;;SY)"),
            "has no access list, so anyone may write to it": dict(exists=True, attributes=0x10, sddl="O:BAD:NO_ACCESS_CONTROL"),
        }
        for why, leaf in problems.items():
            self.assertEqual(zol.zol_folder_problem(looked(leaf)),
                             "the deployment folder %s %s; nothing was copied or run" % (DIR, why))
        self.assertEqual(zol.zol_folder_problem({"stdout": "", "stderr": "denied", "rc": 5}, "deploy", True, DIR),
                         "the deployment folder %s could not be examined: no answer (exit code 5): denied" % DIR)

    def test_every_level_of_the_folders_path_is_judged(self):
        closed = dict(exists=True, attributes=0x10, sddl="O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)")
        wine = dict(exists=True, attributes=0x10, sddl="O:S-1-5-21-0-0-0-1000D:(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;WD)")
        deep = "C:\\zol\\fleet"
        self.assertEqual(zol.zol_folder_problem(looked(closed, [wine, wine], path=deep)), "")
        # Others may add to a level above; they may not remove or replace what it holds.
        self.assertEqual(zol.zol_folder_problem(looked(closed, [wine, dict(wine, sddl=wine["sddl"] + "(A;;0x6;;;BU)")],
                                                       path=deep)), "")
        above = {
            "is a link (reparse point)": dict(exists=True, attributes=0x410, sddl=""),
            "lets Everyone remove or replace what it holds": dict(wine, sddl=wine["sddl"] + WINE_OPEN),
            "lets Users remove or replace what it holds": dict(wine, sddl=wine["sddl"] + "(A;;DT;;;BU)"),
            "is owned by S-1-5-21-7-7-7-1001, not by the administrators": dict(wine, sddl="O:S-1-5-21-7-7-7-1001D:(A;;FA;;;SY)"),
            "has no access list, so anyone may change it": dict(wine, sddl="O:SYD:NO_ACCESS_CONTROL"),
        }
        for why, level in above.items():
            # The level's own problem wins over whatever lies below it.
            self.assertEqual(zol.zol_folder_problem(looked(dict(exists=False), [wine, level], path=deep)),
                             "the deployment folder C:\\zol\\fleet lies in C:\\zol, which %s; nothing was copied or run" % why)
        # The check's temporary folder, and a folder the step had to make.
        temp = "C:\\Users\\deploy\\AppData\\Local\\Temp\\zolfleet-check.x"
        run = looked(closed, [wine] * 5 + [dict(wine, sddl=wine["sddl"] + WINE_OPEN)], key="temp", path=temp)
        self.assertEqual(zol.zol_folder_problem(run, "temp", True),
                         "the check's temporary folder %s lies in C:\\Users\\deploy\\AppData\\Local\\Temp, which lets Everyone "
                         "remove or replace what it holds; nothing was copied or run" % temp)
        self.assertEqual(zol.zol_folder_problem(looked(dict(exists=False)), "deploy", True),
                         "the deployment folder %s could not be created; nothing was copied or run" % DIR)
        failed = json.loads(looked(dict(exists=False))["stdout"])
        failed["deploy"]["error"] = "cannot create %s: Access is denied.\r\n" % DIR
        self.assertEqual(zol.zol_folder_problem({"stdout": json.dumps(failed), "rc": 0}, "deploy", True),
                         "the deployment folder %s could not be created: cannot create %s: Access is denied.; "
                         "nothing was copied or run" % (DIR, DIR))
        self.assertEqual(zol.zol_folder_created(looked(closed, key="temp", created=[DIR]), "temp"), [DIR])
        self.assertEqual(zol.zol_folder_created(looked(closed, key="temp"), "deploy"), [])

    def test_plain_paths_and_names(self):
        for path in ("C:\\Program Files\\zolfleet", "D:\\", "c:\\zol fleet\\v1.2"):
            self.assertTrue(zol.zol_plain_path(path), path)
        for path in ("C:\\Program Files\\..\\Users\\Public", "C:\\zol.\\x", "C:\\zol\\", "C:zol", "\\\\srv\\share\\zol",
                     "C:\\zol\\\\x", "C:\\zol/x", "C:\\NUL", "C:\\lpt\u00b9.txt", "C:\\com0", "C:\\zol?", None):
            self.assertFalse(zol.zol_plain_path(path), path)
        self.assertEqual([zol.zol_plain_name(n) for n in ("chipset-1.2.4.0", "..", "a\\b", "con.xml", "")],
                         [True, False, False, False, False])

    def test_copied_files_are_checked_against_the_package_sums(self):
        package = {"chipset\\install.xml": "a" * 64, "zolhost.exe": "b" * 64}

        def sums(*lines):
            return {"stdout_lines": list(lines), "rc": 0}

        copied = sums("%s  ./chipset/install.xml" % ("A" * 64), "%s  zolhost.exe\r" % ("b" * 64),
                      "find: './x': No such file or directory")
        self.assertEqual(zol.zol_sums_from_lines(copied["stdout_lines"]), package)
        self.assertEqual(zol.zol_integrity_problem(copied, package, DIR), "")
        # Windows keeps a name's case as it was copied, and compares without it.
        self.assertEqual(zol.zol_integrity_problem(sums("%s  Chipset\\INSTALL.xml" % ("a" * 64), "%s  zolhost.exe" % ("b" * 64)),
                                                   package, DIR), "")
        changed = sums("%s  chipset\\install.xml" % ("c" * 64))
        self.assertEqual(zol.zol_integrity_problem(changed, package, DIR),
                         "the copied files do not match the package: %s\\chipset\\install.xml (SHA-256 %s, expected %s); "
                         "%s\\zolhost.exe (SHA-256 none: missing, expected %s); zolhost was not run"
                         % (DIR, "c" * 64, "a" * 64, DIR, "b" * 64))
        # Files that are not the package's, a link among them, fail it too.
        extra = sums("%s  chipset\\install.xml" % ("a" * 64), "%s  zolhost.exe" % ("b" * 64),
                     "%s  chipset\\qx999999.xml" % ("d" * 64), "link chipset\\old", "link ./chipset/zolcomp.dll")
        self.assertEqual(zol.zol_integrity_problem(extra, dict(package, **{"chipset\\zolcomp.dll": "e" * 64}), DIR),
                         "the copied files do not match the package: %s\\chipset\\zolcomp.dll (a link, expected SHA-256 %s); "
                         "the package folder holds files that are not the package's: %s\\chipset\\old (a link), "
                         "%s\\chipset\\qx999999.xml; zolhost was not run" % (DIR, "e" * 64, DIR, DIR))
        self.assertEqual(zol.zol_integrity_problem({"stdout_lines": [], "stderr": "Access is denied.\r\n", "rc": 1}, package, DIR),
                         "the sums of the copied files could not be read (exit code 1): Access is denied.; zolhost was not run")

    def test_report_is_found_in_output_or_error_given(self):
        run = {"stdout": "noise\r\n" + json.dumps(check(5)) + "\r\n", "rc": 0}
        self.assertEqual(zol.zol_report(run)["properties"]["5"]["status"], 5)
        bad = zol.zol_report({"stdout": "{truncated", "stderr": "cannot load\r\n zolcomp.dll", "rc": 67})
        self.assertEqual(bad["error"], "zolhost gave no JSON report (exit code 67): cannot load zolcomp.dll")

    def test_devices_found_are_those_the_check_lists(self):
        listed = dict(check(1), report_version=2, devices=[{"outcome": "present", "added_later": 1}, {"outcome": "present"},
                                                           {"outcome": "updated"}, "noise"])
        hosts = {"listed": {"zol_attempted": True, "zol_checks": {"before": listed},
                            "zol_decision": zol.zol_check_decision(listed)},
                 "unlisted": {"zol_attempted": True, "zol_checks": {"before": check(1)},
                              "zol_decision": zol.zol_check_decision(check(1))}}
        self.assertEqual([r["devices found"] for r in zol.zol_fleet_rows(["listed", "unlisted"], hosts)], ["2", ""])

    def test_report_files_keep_every_step(self):
        hosts = {"a": {"zol_attempted": True, "zol_outputs": {"check before": json.dumps(check(5)), "install": "not json"}},
                 "b": {"zol_attempted": True}}
        files = zol.zol_report_files(["a", "b"], hosts)
        self.assertEqual([f["path"] for f in files], ["a.json", "b.json"])
        steps = json.loads(files[0]["content"])
        self.assertEqual((steps["check before"]["properties"]["5"]["status"], steps["install"]), (5, "not json"))
        self.assertEqual(json.loads(files[1]["content"]), {})

    def test_rows_and_tables(self):
        hosts = {
            "new": {"zol_checks": {"before": check(5), "after": check(1)},
                    "zol_decision": zol.zol_check_decision(check(5)),
                    "zol_install": zol.zol_install_outcome(installed(2), 194)},
            "broken": {"zol_checks": {"before": check(5)},
                       "zol_decision": zol.zol_check_decision(check(5)),
                       "zol_install": zol.zol_install_outcome(installed(0, "Error | 5"), 67)},
            "down": {"zol_error": "copy failed"},
            "later": {},
            "partly": {"zol_checks": {"before": check(5), "after": check(1)},
                       "zol_decision": zol.zol_check_decision(check(5)),
                       "zol_install": zol.zol_install_outcome(installed(1, "", ["updated", "failed", "not_attempted",
                                                                               "updated"]), 0)},
        }
        # A success whose check after finds the newer version still there.
        hosts["kept"] = dict(hosts["partly"], zol_checks={"before": check(3), "after": check(3)},
                             zol_decision=zol.zol_check_decision(check(3), True))
        for facts in hosts.values():
            facts.setdefault("zol_attempted", bool(facts))
        kept = zol.zol_fleet_rows(["kept"], hosts)[0]
        self.assertEqual((kept["outcome"], kept["install result"], kept["message"]),
                         ("failed", "1 success", "the installation reported success, but the check after it finds: "
                                                 "a newer version (1.2.3.0) is installed (status 3)"))
        rows = zol.zol_fleet_rows(["new", "broken", "down", "later", "partly"], hosts)
        self.assertEqual([(r["outcome"], r["exit code"], r["status after"]) for r in rows],
                         [("changed", "3010", "1 same version installed"), ("failed", "1603", ""), ("failed", "", ""),
                          ("not attempted", "", ""), ("changed", "0", "1 same version installed")])
        self.assertEqual(rows[0]["message"], "new installation of 1.2.4.0; restart pending")
        self.assertEqual(rows[3]["message"], "the rollout stopped before this server")
        # Devices by outcome, when zolhost lists them.
        self.assertEqual([(r["devices updated"], r["devices failed"], r["devices not attempted"]) for r in rows],
                         [("", "", "")] * 4 + [("2", "1", "1")])
        self.assertEqual([f["path"] for f in zol.zol_report_files(["new", "later"], hosts)], ["new.json"])
        self.assertIn('"2 success, restart required"', zol.zol_table(rows, "csv"))
        self.assertIn("| Error \\| 5 |", zol.zol_table(rows, "markdown"))
        # A cell a spreadsheet would take for a formula is written as text.
        formulas = [dict(rows[2], message=m) for m in ("=HYPERLINK(\"http://x\")", "+1", "-2+3", "@SUM(A1)", "a=b")]
        self.assertEqual([r[-1] for r in list(csv.reader(io.StringIO(zol.zol_table(formulas, "csv"))))[1:]],
                         ["'=HYPERLINK(\"http://x\")", "'+1", "'-2+3", "'@SUM(A1)", "a=b"])
        self.assertIn("| =HYPERLINK", zol.zol_table(formulas, "markdown"))

    def test_check_mode_rows_say_what_an_install_would_do(self):
        def present(report, n):
            return dict(report, devices=[{"outcome": "present"}] * n)

        cases = {"up": (present(check(2), 2), False), "new": (present(check(5), 1), False),
                 "down": (present(check(3), 3), True), "same": (present(check(1), 3), False),
                 "refused": (check(7, "Not supported"), False), "unlisted": (check(5), False)}
        hosts = {h: {"zol_attempted": True, "zol_check_mode": True, "zol_checks": {"before": r},
                     "zol_decision": zol.zol_check_decision(r, down)} for h, (r, down) in cases.items()}
        rows = zol.zol_fleet_rows(list(cases), hosts)
        self.assertEqual([(r["outcome"], r["message"]) for r in rows],
                         [("would upgrade", "upgrade from 1.2.3.0 to 1.2.4.0 on 2 devices"),
                          ("would install", "new installation of 1.2.4.0 on 1 device"),
                          ("would downgrade", "downgrade from 1.2.3.0 to 1.2.4.0 on 3 devices"),
                          ("ok", "version 1.2.3.0 is installed"), ("failed", "Not supported"),
                          ("would install", "new installation of 1.2.4.0")])

    def test_uninstall_what_if_says_what_would_happen(self):
        stranded = uninstalled("installed", ["no_driver"] * 2, version="1.2.3.0")
        cases = {"back": (uninstalled("installed", ["restore_previous", "next_best", "restore_previous"]), False),
                 "only": (stranded, False), "forced": (stranded, True),
                 "legacy": (uninstalled("partial", ["remove_device"], version="2.4.1.0"), False),
                 "gone": (uninstalled("not_installed"), False), "under": (uninstalled("superseded", version="1.2.3.0"), False)}
        hosts = {h: {"zol_attempted": True, "zol_check_mode": True, "zol_uninstalling": True, "zol_forced": force,
                     "zol_checks": {"before": r}} for h, (r, force) in cases.items()}
        rows = zol.zol_fleet_rows(list(cases), hosts)
        self.assertEqual([(r["outcome"], r["devices found"], r["package before"], r["message"]) for r in rows], [
            ("would roll back", "3", "installed", "would roll back to 1.2.3.0 on 2 devices; the next-best driver on 1 device"),
            ("failed", "2", "installed", "removing 1.2.3.0 would leave 2 devices without a driver (ROOT\\SYSTEM\\0000, "
                                         "ROOT\\SYSTEM\\0001); set zol_force_uninstall to allow it"),
            ("would remove", "2", "installed", "would remove 1.2.3.0; no driver left on 2 devices"),
            ("would remove", "1", "partial", "would remove 2.4.1.0; remove 1 root device"),
            ("ok", "0", "not installed", "not installed"),
            ("failed", "0", "superseded", "a later version (1.2.4.0) is installed over 1.2.3.0; remove it first")])

    def test_uninstall_result_is_confirmed_by_the_what_if_after_it(self):
        restore, gone = ["restore_previous"] * 3, uninstalled("not_installed", installed="1.2.3.0")
        stuck = uninstalled("installed", ["restore_previous", "no_driver"], 0, ["failed", "not_attempted"])
        stuck["uninstall"]["message"] = "Uninstall error"
        forced = uninstalled("installed", ["no_driver", "remove_device"], 1, ["updated", "removed"], "1.2.3.0")
        outcomes = {"boot": (uninstalled("installed", restore, 2, ["updated"] * 3), 194, gone),
                    "none": (uninstalled("not_installed", result=0), 69, None), "stuck": (stuck, 67, None),
                    "forced": (forced, 0, dict(gone, properties={"3": {"result": 0, "value": None}})),
                    # Success reported, but the what-if after it still finds the package.
                    "kept": (uninstalled("installed", restore, 1, ["updated"] * 3), 0, uninstalled("partial", restore))}
        hosts = {h: {"zol_attempted": True, "zol_uninstalling": True, "zol_uninstall": zol.zol_uninstall_outcome(r, rc),
                     "zol_checks": {"after": after} if after else {}} for h, (r, rc, after) in outcomes.items()}
        # A server the rollout did not reach: its state from the inventory.
        hosts["later"] = {"zol_state": "absent"}
        rows = zol.zol_fleet_rows(list(hosts), hosts)
        self.assertEqual([[r[c] for c in zol.UNINSTALL_COLUMNS[1:]] for r in rows], [
            ["changed", "3", "installed", "2 success, restart required", "3010", "1.2.3.0", "3", "0", "0", "0", "0", "0",
             "rolled back from 1.2.4.0 to 1.2.3.0 on 3 devices; restart pending"],
            ["ok", "0", "not installed", "0 not installed", "1605", "", "0", "0", "0", "0", "0", "0",
             "not installed"],
            ["failed", "2", "installed", "0 failure", "1603", "", "0", "0", "0", "0", "1", "1", "Uninstall error"],
            ["changed", "2", "installed", "1 success", "0", "none", "0", "0", "1", "1", "0", "0",
             "removed 1.2.3.0; no driver left on 1 device; removed 1 root device"],
            ["failed", "3", "installed", "1 success", "0", "1.2.4.0", "3", "0", "0", "0", "0", "0",
             "the uninstallation reported success, but the what-if after it finds the package partial"],
            ["not attempted"] + [""] * 11 + ["the rollout stopped before this server"]])
        # Another installation holding the lock: tried again.
        busy = {"stdout": json.dumps({"properties": {}, "uninstall": {"result": None, "in_progress": True}}), "rc": 82}
        self.assertEqual((zol.zol_busy(busy), zol.zol_busy({"stdout": json.dumps(uninstalled("not_installed", result=0)),
                                                            "rc": 69})), (True, False))
        # The summary's columns: an uninstallation's alone, or both kinds.
        header = lambda rows: next(csv.reader(io.StringIO(zol.zol_table(rows, "csv"))))
        installs = zol.zol_fleet_rows(["x"], {"x": {"zol_attempted": True, "zol_checks": {"before": check(1)},
                                                    "zol_decision": zol.zol_check_decision(check(1))}})
        self.assertEqual([header(rows), header(installs + zol.zol_fleet_rows(["y"], {"y": {}})), header(installs + rows)],
                         [zol.UNINSTALL_COLUMNS, zol.COLUMNS, zol.ALL_COLUMNS])

if __name__ == "__main__":
    unittest.main()

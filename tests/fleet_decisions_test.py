#!/usr/bin/env python3
# The fleet role's decisions from zolhost's JSON, without Wine (python3-yaml comes with Ansible):
#   python3 tests/fleet_decisions_test.py SOURCE_DIR
import importlib.util
import json
import sys
import unittest

import yaml

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


def looked(**facts):
    """A look at the deployment folder, as the transports print it."""
    facts.setdefault("user", "S-1-5-21-0-0-0-1000")
    return {"stdout": json.dumps(facts) + "\r\n", "rc": 0}


DIR = "C:\\Program Files\\zolfleet"


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
        for fine in (looked(exists=False), looked(exists=True, attributes=0x10, sddl=wine_closed),
                     looked(exists=True, attributes=0x10, sddl=windows_closed),
                     looked(exists=True, attributes=0x10, sddl=wine_closed + "(A;OICI;0x1200a9;;;WD)")):
            self.assertEqual(zol.zol_folder_problem(fine, DIR), "", fine)
        problems = {
            "is a link (reparse point)": looked(exists=True, attributes=0x410, sddl=""),
            "is not a folder": looked(exists=True, attributes=0x20, sddl=wine_closed),
            "grants write access to Everyone": looked(exists=True, attributes=0x10,
                                                      sddl=wine_closed + "(A;OICI;0x1301ff;;;WD)"),
            "grants write access to Authenticated Users, Users": looked(
                exists=True, attributes=0x10, sddl=windows_closed + "(A;OICIIO;SDGWGR;;;AU)(A;;DC;;;BU)"),
            "is owned by S-1-5-21-7-7-7-1001, not by the administrators": looked(
                exists=True, attributes=0x10, sddl="O:S-1-5-21-7-7-7-1001D:PAI(A;OICI;FA;;;SY)"),
            "has no access list, so anyone may write to it": looked(exists=True, attributes=0x10, sddl="O:BAD:NO_ACCESS_CONTROL"),
            "could not be examined: no answer (exit code 5): denied": {"stdout": "", "stderr": "denied", "rc": 5},
        }
        for why, run in problems.items():
            self.assertEqual(zol.zol_folder_problem(run, DIR),
                             "the deployment folder %s %s%s" % (DIR, why, "" if "examined" in why else
                                                                 "; nothing was copied or run"))

    def test_copied_files_are_checked_against_the_package_sums(self):
        package = {"chipset\\install.xml": "a" * 64, "zolhost.exe": "b" * 64}
        copied = zol.zol_sums_from_lines(["%s  chipset/install.xml" % ("A" * 64), "%s  zolhost.exe" % ("b" * 64),
                                          "sha256sum: x: No such file or directory"])
        self.assertEqual(copied, package)
        self.assertEqual(zol.zol_integrity_problem(copied, package, DIR), "")
        copied["chipset\\install.xml"] = "c" * 64
        del copied["zolhost.exe"]
        self.assertEqual(zol.zol_integrity_problem(copied, package, DIR),
                         "the copied files do not match the package: %s\\chipset\\install.xml (SHA-256 %s, expected %s); "
                         "%s\\zolhost.exe (SHA-256 none: missing, expected %s); zolhost was not run"
                         % (DIR, "c" * 64, "a" * 64, DIR, "b" * 64))

    def test_report_is_found_in_output_or_error_given(self):
        run = {"stdout": "noise\r\n" + json.dumps(check(5)) + "\r\n", "rc": 0}
        self.assertEqual(zol.zol_report(run)["properties"]["5"]["status"], 5)
        bad = zol.zol_report({"stdout": "{truncated", "stderr": "cannot load\r\n zolcomp.dll", "rc": 67})
        self.assertEqual(bad["error"], "zolhost gave no JSON report (exit code 67): cannot load zolcomp.dll")

    def test_devices_counted_by_the_package_pattern(self):
        with open(ROLE + "/defaults/main.yml") as defaults:
            pattern = yaml.safe_load(defaults)["zol_device_match"]
        simulated = [" PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9&REV_04 PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9\r",
                     " pci\\ven_8086&dev_0ea8&subsys_7c41a2e9", " MONITOR\\Default_Monitor",
                     " PCI\\VEN_8086&DEV_0F00&SUBSYS_7C41A2E9 PCI\\VEN_8087&DEV_0E83&SUBSYS_7C41A2E9"]
        self.assertEqual(zol.zol_count_devices(simulated, pattern), 2)
        windows = ["PCI\\VEN_8086&DEV_0E84&SUBSYS_7C41A2E9&REV_04\\3&2411E6FE&0&00", "ROOT\\SYSTEM\\0000", ""]
        self.assertEqual(zol.zol_count_devices(windows, pattern), 1)

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
            "new": {"zol_devices": 3, "zol_checks": {"before": check(5), "after": check(1)},
                    "zol_decision": zol.zol_check_decision(check(5)),
                    "zol_install": zol.zol_install_outcome(installed(2), 194)},
            "broken": {"zol_devices": 3, "zol_checks": {"before": check(5)},
                       "zol_decision": zol.zol_check_decision(check(5)),
                       "zol_install": zol.zol_install_outcome(installed(0, "Error | 5"), 67)},
            "down": {"zol_error": "copy failed"},
            "later": {},
            "partly": {"zol_devices": 3, "zol_checks": {"before": check(5), "after": check(1)},
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

    def test_check_mode_rows_say_what_an_install_would_do(self):
        present = dict(check(2), devices=[{"outcome": "present"}, {"outcome": "present"}])
        cases = {"up": (present, False, 3), "new": (check(5), False, 1), "down": (check(3), True, 3),
                 "same": (check(1), False, 3), "refused": (check(7, "Not supported"), False, 3)}
        hosts = {h: {"zol_attempted": True, "zol_check_mode": True, "zol_devices": n, "zol_checks": {"before": r},
                     "zol_decision": zol.zol_check_decision(r, down)} for h, (r, down, n) in cases.items()}
        rows = zol.zol_fleet_rows(list(cases), hosts)
        self.assertEqual([(r["outcome"], r["message"]) for r in rows],
                         [("would upgrade", "upgrade from 1.2.3.0 to 1.2.4.0 on 2 devices"),
                          ("would install", "new installation of 1.2.4.0 on 1 device"),
                          ("would downgrade", "downgrade from 1.2.3.0 to 1.2.4.0 on 3 devices"),
                          ("ok", "version 1.2.3.0 is installed"), ("failed", "Not supported")])


if __name__ == "__main__":
    unittest.main()

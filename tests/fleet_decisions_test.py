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


def installed(result, message=""):
    report = check(5)
    report["install"] = {"result": result, "message": message}
    return report


class Decisions(unittest.TestCase):
    def test_each_status_has_its_action(self):
        actions = {s: zol.zol_check_decision(check(s))["action"] for s in range(1, 9)}
        self.assertEqual(actions, {1: "none", 2: "install", 3: "none", 4: "skip", 5: "install", 6: "skip",
                                   7: "fail", 8: "fail"})
        self.assertEqual(zol.zol_check_decision(check(2))["reason"], "upgrade from 1.2.3.0 to 1.2.4.0")
        refused = zol.zol_check_decision(check(7, "Operating system not supported\r\n"))
        self.assertEqual(refused["reason"], "Operating system not supported")
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
        hosts = {"a": {"zol_outputs": {"check before": json.dumps(check(5)), "install": "not json"}}, "b": {}}
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
        }
        rows = zol.zol_fleet_rows(["new", "broken", "down"], hosts)
        self.assertEqual([(r["outcome"], r["exit code"], r["status after"]) for r in rows],
                         [("changed", "3010", "1 same version installed"), ("failed", "1603", ""), ("failed", "", "")])
        self.assertEqual(rows[0]["message"], "new installation of 1.2.4.0; restart pending")
        self.assertIn('"2 success, restart required"', zol.zol_table(rows, "csv"))
        self.assertIn("| Error \\| 5 |", zol.zol_table(rows, "markdown"))


if __name__ == "__main__":
    unittest.main()

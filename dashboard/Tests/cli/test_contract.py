"""Every command the app issues, run against the seeded demo library, one table row each."""

import json
import os
import re
import unittest

from engine_harness import (EngineCase, decode_app_list, decode_backup, decode_dev_report, decode_ghosts,
                            decode_preview, decode_provenance, decode_retention, decode_seal, telemetry_opt_in)

ISO_NO_FRACTION = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(Z|[+-]\d\d:\d\d)$")
COMPACT = re.compile(r"^\d{8}-\d{6}$")

WORKBENCH = {"workbenchEnabled": True, "updatePolicy": "track_only", "homebrewFormulaeEnabled": True,
             "homebrewCasksEnabled": False, "npmEnabled": True, "pythonEnabled": False,
             "vendorInstallersEnabled": False, "projectFolders": ["/src/alpha", "/src/beta"]}


class ContractTable(EngineCase):

    # Each check gets the test, the finished process and its stdout text.
    def check_list_all(self, proc, out):
        recs = decode_app_list(out)
        self.assertEqual(len(recs), 25)
        # The support report counts records by this exact text.
        self.assertEqual(out.count('{"bundle_id"'), len(recs))
        mechanisms = {r.get("update_mechanism") for r in recs}
        self.assertTrue({"cask", "mas", "sparkle", "vendor_self_update", "sparkle_internal", "unknown"} <= mechanisms)
        self.assertNotIn("version_check_status", recs[[r["bundle_id"] for r in recs].index("org.sim.tallybook")])

    def check_list_outdated(self, proc, out):
        recs = decode_app_list(out)
        self.assertTrue(recs)
        self.assertTrue(all(r.get("version_check_status", "outdated") == "outdated" for r in recs))
        self.assertNotIn("org.sim.oldtimer", [r["bundle_id"] for r in recs])

    def check_scan(self, proc, out):
        self.assertRegex(self.sql("SELECT value FROM scan_metadata WHERE key='last_scan' LIMIT 1;"), ISO_NO_FRACTION)
        decode_ghosts(self.read_file(os.path.join(self.data_dir, "ghosts.json")))

    def check_tallybook_current(self, proc, out):
        rec = self.record("org.sim.tallybook")
        self.assertEqual(rec["current_version"], "1.10")
        self.assertNotIn("last_incident_kind", rec)

    def check_pebblenote_current(self, proc, out):
        self.assertEqual(self.record("org.sim.pebblenote")["current_version"], "0.9.5")

    def check_brightside_auto(self, proc, out):
        rec = self.record("org.sim.brightside")
        self.assertEqual((rec["update_mode"], rec["version_check_status"]), ("auto", "outdated"))

    def check_ferrous_triggered(self, proc, out):
        self.assertEqual(self.record("org.sim.ferrous")["current_version"], "2024.2")

    def check_saltmarsh_reinstalled(self, proc, out):
        rows = decode_provenance(self.ok("provenance", "--json", "--bundle-id", "org.sim.saltmarsh"))
        self.assertEqual(rows[0]["source"], "reinstall")
        self.assertEqual(self.record("org.sim.saltmarsh")["current_version"], "1.8.2")

    def check_vellum_removed(self, proc, out):
        self.assertIsNone(self.record("org.sim.vellum"))
        self.ok("scan")
        ghosts = decode_ghosts(self.read_file(os.path.join(self.data_dir, "ghosts.json")))
        self.assertNotIn("org.sim.vellum", [g["bundle_id"] for g in ghosts])

    def check_netherby_fixed(self, proc, out):
        rec = self.record("org.sim.netherby")
        self.assertNotIn("last_incident_kind", rec)
        self.assertEqual(rec["current_version"], "2.3")

    def check_signet_locked(self, proc, out):
        self.assertEqual(self.record("org.sim.signet")["last_incident_code"], "SIG_TEAM_MISMATCH")

    def check_preview(self, proc, out):
        p = decode_preview(out)
        self.assertTrue(p["match_found"] and p["signature_ok"])
        self.assertEqual((p["cask_token"], p["cask_version"]), ("handmade-paint", "1.1"))

    def check_adopted(self, proc, out):
        rec = self.record("org.sim.handmade")
        self.assertEqual(rec["update_mechanism"], "cask")
        self.assertTrue(rec["cask_token"])
        # Still outdated after adoption: the pending update stays as the incident.
        self.assertEqual(rec["last_incident_code"], "BREW_NO_CASK")

    def check_seal(self, proc, out):
        seal = decode_seal(out)
        self.assertEqual((seal["green_seal"], seal["verified_path"]), (True, True))
        self.assertTrue(self.record("org.sim.tallybook")["green_seal"])

    def check_provenance(self, proc, out):
        rows = decode_provenance(out)
        self.assertGreaterEqual(len(rows), 2)
        for row in rows:
            self.assertRegex(row["timestamp"], ISO_NO_FRACTION)
        stamps = [r["timestamp"] for r in rows]
        self.assertEqual(len(stamps), len(set(stamps)))

    def check_empty_array(self, proc, out):
        self.assertEqual(decode_provenance(out), [])

    def check_backup(self, proc, out):
        b = decode_backup(out)
        self.assertTrue(b["available"])
        self.assertRegex(b["timestamp"], COMPACT)
        self.assertTrue(os.path.isdir(b["backup_path"]))
        self.assertGreater(b["bytes"], 0)

    def check_restored(self, proc, out):
        self.assertEqual(self.record("org.sim.inkwell")["current_version"], "3.1.0")
        rows = decode_provenance(self.ok("provenance", "--json", "--bundle-id", "org.sim.inkwell"))
        self.assertEqual((rows[0]["source"], rows[0]["to_version"]), ("restore", "3.1.0"))

    def check_bundle(self, proc, out):
        path = out.strip()
        self.assertEqual(os.path.dirname(path), self.logs_dir)
        self.assertIsInstance(self.read_json(path), dict)

    def check_contributed(self, proc, out):
        self.assertEqual(self.record("org.sim.mossgrid")["update_mechanism"], "direct_download")

    def check_event(self, proc, out):
        self.assertIn("\trestore_used", self.ok("sim", "events", frame=False))

    def check_telemetry_no(self, proc, out):
        self.assertIs(telemetry_opt_in(out), False)

    def check_telemetry_yes_after(self, proc, out):
        self.assertIs(telemetry_opt_in(self.ok("telemetry", "status")), True)

    def check_telemetry_no_after(self, proc, out):
        self.assertIs(telemetry_opt_in(self.ok("telemetry", "status")), False)

    def check_retention(self, proc, out):
        status = decode_retention(out)
        self.assertGreaterEqual(status["usage"]["snapshot_count"], 1)

    def check_retention_set(self, proc, out):
        policy = decode_retention(out)["policy"]
        self.assertEqual((policy["keep_per_app"], policy["retention_days"]), (2, 45))

    def check_retention_grant(self, proc, out):
        self.assertEqual(decode_retention(out)["consent"],
                         {"granted": True, "asked": True, "auto_prune_allowed": True})

    def check_cleanup(self, proc, out):
        self.assertEqual(set(json.loads(out)), {"removed", "freed_bytes"})

    def check_dev_set(self, proc, out):
        saved = self.read_json(os.path.join(self.data_dir, "developer_workbench.json"))
        self.assertEqual(saved, WORKBENCH)

    def check_dev_report(self, proc, out):
        summary = decode_dev_report(out)["payload"]["summary"]
        self.assertIn("nothing was applied", summary)
        self.assertIn("/src/alpha", summary)

    def check_doctor(self, proc, out):
        self.assertNotIn("fail", (out + proc.stderr.decode()).lower())

    def check_verbose_scan(self, proc, out):
        self.assertIn("Inkwell", out)
        self.assertIn("Scan finished", out)

    def check_nothing(self, proc, out):
        pass

    ROWS = [
        # name, argv, stdin, exit, check
        ("list all", ["list", "--json", "--all"], None, 0, "check_list_all"),
        ("list outdated", ["list", "--json"], None, 0, "check_list_outdated"),
        ("scan", ["scan"], None, 0, "check_scan"),
        ("update one", ["update", "--only", "org.sim.tallybook"], None, 0, "check_tallybook_current"),
        ("update approved", ["update", "--only", "org.sim.pebblenote", "--approved"], None, 0,
         "check_pebblenote_current"),
        ("update unknown id", ["update", "--only", "org.sim.nobody"], None, 3, "check_nothing"),
        ("mode", ["mode", "org.sim.brightside", "auto"], None, 0, "check_brightside_auto"),
        ("mode wrong case", ["mode", "org.sim.brightside", "Auto"], None, 2, "check_nothing"),
        ("mode on quit", ["mode", "org.sim.kettle", "--on-quit"], None, 0, "check_nothing"),
        ("trigger update", ["trigger-update", "org.sim.ferrous"], None, 0, "check_ferrous_triggered"),
        ("trigger update without updater", ["trigger-update", "org.sim.inkwell"], None, 1, "check_nothing"),
        ("reinstall", ["reinstall", "--bundle-id", "org.sim.saltmarsh"], None, 0, "check_saltmarsh_reinstalled"),
        ("remove", ["remove", "--bundle-id", "org.sim.vellum", "--yes"], None, 0, "check_vellum_removed"),
        ("fix transient", ["fix", "org.sim.netherby"], None, 0, "check_netherby_fixed"),
        ("fix security lock", ["fix", "org.sim.signet"], None, 1, "check_signet_locked"),
        ("adopt preview", ["adopt", "--dry-run", "--json", "Handmade Paint"], None, 0, "check_preview"),
        ("adopt", ["adopt", "--approved", "Handmade Paint"], None, 0, "check_adopted"),
        ("seal", ["seal", "--bundle-id", "org.sim.tallybook", "--json"], None, 0, "check_seal"),
        ("seal unknown id", ["seal", "--bundle-id", "org.sim.nobody", "--json"], None, 3, "check_nothing"),
        ("provenance", ["provenance", "--json", "--bundle-id", "org.sim.inkwell"], None, 0, "check_provenance"),
        ("provenance empty id", ["provenance", "--json", "--bundle-id", ""], None, 0, "check_empty_array"),
        ("backup", ["backup", "--bundle-id", "org.sim.inkwell", "--json"], None, 0, "check_backup"),
        ("restore", ["restore", "--bundle-id", "org.sim.inkwell"], None, 0, "check_restored"),
        ("support bundle", ["diagnose", "--bundle", "--out", "{logs}/support-bundle-20260109T142530Z.json"], None, 0,
         "check_bundle"),
        ("contribute", ["contribute", "--bundle-id", "org.sim.mossgrid", "--mechanism", "direct_download",
                        "--homepage-url", "   ", "--push"], None, 0, "check_contributed"),
        ("experiment", ["experiment", "record", "--event", "restore_used"], None, 0, "check_event"),
        ("telemetry status", ["telemetry", "status"], None, 0, "check_telemetry_no"),
        ("telemetry opt-in", ["telemetry", "opt-in"], None, 0, "check_telemetry_yes_after"),
        ("telemetry forget", ["telemetry", "forget"], None, 0, "check_telemetry_no_after"),
        ("retention status", ["retention", "status", "--json"], None, 0, "check_retention"),
        ("retention set", ["retention", "set", "--keep", "2", "--days", "45", "--json"], None, 0,
         "check_retention_set"),
        ("retention set out of range", ["retention", "set", "--keep", "51", "--days", "45", "--json"], None, 2,
         "check_nothing"),
        ("retention consent", ["retention", "consent", "--grant", "--json"], None, 0, "check_retention_grant"),
        ("cleanup", ["cleanup", "--backups", "--apply", "--json"], None, 0, "check_cleanup"),
        ("dev set", ["dev", "set"], json.dumps(WORKBENCH).encode(), 0, "check_dev_set"),
        ("dev set bad JSON", ["dev", "set"], b"{nope", 2, "check_dev_set"),
        ("dev inspect", ["dev", "inspect", "--json"], None, 0, "check_dev_report"),
        ("dev plan", ["dev", "plan-updates", "--json"], None, 0, "check_dev_report"),
        ("migrate", ["migrate"], None, 0, "check_nothing"),
        ("selftest", ["selftest"], None, 0, "check_nothing"),
        ("doctor", ["-", "doctor"], None, 0, "check_doctor"),
        ("verbose scan", ["-", "scan", "--verbose"], None, 0, "check_verbose_scan"),
        ("list without the flag", ["-", "list", "--json", "--all"], None, 0, "check_list_outdated_or_all"),
        ("other contract version", ["=", "--engine-contract-version", "2", "list", "--json", "--all"], None, 64,
         "check_nothing"),
    ]

    def check_list_outdated_or_all(self, proc, out):
        recs = decode_app_list(out)
        self.assertEqual(out.count('{"bundle_id"'), len(recs))

    def test_command_table(self):
        self.fresh_library()
        for name, argv, stdin, status, check in self.ROWS:
            with self.subTest(name):
                frame = True
                if argv[0] in ("-", "="):
                    frame, argv = False, argv[1:]
                argv = [a.replace("{logs}", self.logs_dir) for a in argv]
                proc = self.run_engine(*argv, stdin=stdin or b"", frame=frame)
                self.assertEqual(proc.returncode, status, "%s: %s" % (name, proc.stderr.decode()))
                if status == 0:
                    self.assertNotIn(b"Traceback", proc.stderr)
                else:
                    self.assertOneSentence(proc.stderr)
                getattr(self, check)(proc, proc.stdout.decode("utf-8"))


if __name__ == "__main__":
    unittest.main()

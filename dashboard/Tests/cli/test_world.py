"""The simulated Mac behind the commands: scans, ghosts, deferred updates, backups,
adoption, fixes, and what the engine does with bad input."""

import json
import os
import plistlib
import shutil
import subprocess
import sys
import unittest

from engine_harness import ENGINE, EngineCase, decode_app_list, decode_backup, decode_dev_report, decode_ghosts, \
    decode_preview, decode_retention


class ScanAndSeeds(EngineCase):

    def test_first_scan_turns_vanished_apps_into_ghosts_once(self):
        self.fresh_library()
        path = os.path.join(self.data_dir, "ghosts.json")
        ghosts = decode_ghosts(self.read_file(path))
        self.assertEqual(sorted((g["bundle_id"], g["cask_token"]) for g in ghosts),
                         [("org.sim.faded", ""), ("org.sim.vanished", "vanished")])
        self.assertNotIn("org.sim.vanished", self.records())
        os.unlink(path)                     # the user dismissed the banner
        self.ok("scan")
        self.assertFalse(os.path.exists(path))
        self.ok("sim", "vanish", "org.sim.mossgrid", frame=False)
        self.ok("scan")
        self.assertEqual([g["bundle_id"] for g in decode_ghosts(self.read_file(path))], ["org.sim.mossgrid"])

    def test_a_new_release_shows_after_the_next_scan(self):
        self.fresh_library()
        self.assertEqual(self.record("org.sim.inkwell")["version_check_status"], "current")
        self.ok("sim", "set-latest", "org.sim.inkwell", "3.3.0", frame=False)
        self.assertEqual(self.record("org.sim.inkwell")["version_check_status"], "current")
        self.ok("scan")
        rec = self.record("org.sim.inkwell")
        self.assertEqual((rec["latest_version"], rec["version_check_status"]), ("3.3.0", "outdated"))
        self.ok("sim", "set-installed", "org.sim.inkwell", "3.4", frame=False)
        self.ok("scan")
        self.assertEqual(self.record("org.sim.inkwell")["version_check_status"], "catalog_stale")

    def test_seeds(self):
        cases = [("empty", 0, set()), ("no-mas", 22, {"mas"}), ("large:40", 40, set()), ("demo", 25, set())]
        for seed, count, absent in cases:
            with self.subTest(seed=seed):
                self.ok("sim", "reset", "--seed", seed, frame=False)
                self.ok("scan")
                recs = decode_app_list(self.ok("list", "--json", "--all"))
                self.assertEqual(len(recs), count)
                self.assertFalse(absent & {r.get("update_mechanism") for r in recs})
        bad = self.run_engine("sim", "reset", "--seed", "large:x", frame=False)
        self.assertEqual(bad.returncode, 2)
        self.assertOneSentence(bad.stderr)

    def test_custom_world_from_a_file(self):
        world = {"apps": [{"bundle_id": "org.example.one", "app_name": "One", "version": "1.0",
                           "catalog": {"latest": "1.2", "mechanism": "cask", "cask_token": "one"}},
                          {"bundle_id": 7, "app_name": "Broken"},
                          {"bundle_id": "org.example.two", "app_name": "Two", "version": 2, "size_mb": "big",
                           "catalog": ["not", "an", "entry"], "state": {"update_mode": ["x"], "user_ignored": True},
                           "provenance": "none", "backups": [{"stamp": "20260101-000000", "size_mb": "x"}]},
                          "not an app"]}
        path = os.path.join(self.home, "world.json")
        with open(path, "w") as fh:
            json.dump(world, fh)
        self.ok("sim", "reset", "--seed", "file:" + path, frame=False)
        self.ok("scan")
        recs = self.records()
        self.assertEqual(sorted(recs), ["org.example.one", "org.example.two"])
        self.assertEqual((recs["org.example.two"]["current_version"], recs["org.example.two"]["user_ignored"]),
                         ("2", 1))
        self.assertTrue(decode_backup(self.ok("backup", "--bundle-id", "org.example.two", "--json"))["available"])

    def test_deferred_update_runs_at_the_scan_after_the_app_quits(self):
        self.fresh_library()
        kettle = self.run_app("org.sim.kettle")
        self.ok("mode", "org.sim.kettle", "--on-quit")
        self.ok("scan")
        self.assertEqual(self.record("org.sim.kettle")["current_version"], "1.4")
        self.stop(kettle)
        self.ok("scan")
        self.assertEqual(self.record("org.sim.kettle")["current_version"], "1.5")

    def test_a_refusing_app_keeps_running(self):
        self.fresh_library()
        app = self.run_app("org.sim.kettle", refuse=True)
        app.terminate()
        self.ok("update", "--only", "org.sim.kettle", "--approved")
        rec = self.record("org.sim.kettle")
        self.assertEqual((rec["current_version"], rec["last_incident_code"]), ("1.4", "APP_RUNNING"))
        app.kill()
        app.wait(timeout=10)
        self.ok("update", "--only", "org.sim.kettle", "--approved")
        self.assertEqual(self.record("org.sim.kettle")["current_version"], "1.5")

    def test_running_app_is_identifiable_by_its_command_line(self):
        self.fresh_library()
        app = self.run_app("org.sim.kettle")
        with open("/proc/%d/cmdline" % app.pid, "rb") as fh:
            argv = fh.read().decode().split("\0")
        install = self.record("org.sim.kettle")["install_path"]
        self.assertIn("org.sim.kettle", argv)
        self.assertTrue(argv[0].startswith(install + "/Contents/MacOS/"))
        self.assertTrue(argv[1].startswith(install + "/"))
        self.assertTrue(os.readlink("/proc/%d/exe" % app.pid).startswith(install + "/Contents/MacOS/"))
        with open(os.path.join(install, "Contents", "Info.plist"), "rb") as fh:
            self.assertEqual(plistlib.load(fh)["CFBundleIdentifier"], "org.sim.kettle")


class Lifecycle(EngineCase):

    def test_update_takes_a_backup_and_restore_consumes_it(self):
        self.fresh_library()
        self.ok("update", "--only", "org.sim.saltmarsh")
        backup = decode_backup(self.ok("backup", "--bundle-id", "org.sim.saltmarsh", "--json"))
        self.assertTrue(backup["available"])
        self.ok("restore", "--bundle-id", "org.sim.saltmarsh")
        rec = self.record("org.sim.saltmarsh")
        self.assertEqual((rec["current_version"], rec["version_check_status"]), ("1.8.2", "outdated"))
        after = decode_backup(self.ok("backup", "--bundle-id", "org.sim.saltmarsh", "--json"))
        self.assertFalse(after["available"])
        failed = self.run_engine("restore", "--bundle-id", "org.sim.saltmarsh")
        self.assertEqual(failed.returncode, 1)
        self.assertOneSentence(failed.stderr)

    def test_retention_plan_never_takes_the_newest_backup(self):
        self.fresh_library()
        status = decode_retention(self.ok("retention", "status", "--json"))
        # Inkwell has two backups and keeps one: the older one can go.
        self.assertEqual(status["pending_plan"]["count"], 1)
        self.ok("retention", "set", "--keep", "1", "--days", "1", "--json")
        status = decode_retention(self.ok("retention", "consent", "--grant", "--json"))
        self.assertEqual(status["pending_plan"]["count"], 1)
        self.ok("scan")        # with consent, the scan applies the plan
        status = decode_retention(self.ok("retention", "status", "--json"))
        self.assertEqual((status["pending_plan"]["count"], status["usage"]["snapshot_count"]), (0, 1))
        self.assertTrue(decode_backup(self.ok("backup", "--bundle-id", "org.sim.inkwell", "--json"))["available"])
        revoked = decode_retention(self.ok("retention", "consent", "--revoke", "--json"))["consent"]
        self.assertEqual(revoked, {"granted": False, "asked": True, "auto_prune_allowed": False})

    def test_adoption_paths(self):
        self.fresh_library()
        rough = decode_preview(self.ok("adopt", "--dry-run", "--json", "Roughcut"))
        self.assertEqual((rough["signature_ok"], rough["version_downgrade"]), (False, True))
        refused = self.run_engine("adopt", "--approved", "Roughcut")
        self.assertEqual(refused.returncode, 1)
        self.assertOneSentence(refused.stderr)
        self.assertEqual(self.record("org.sim.roughcut")["update_mechanism"], "unknown")
        self.ok("adopt", "--approved", "Roughcut", "--allow-unsigned")
        rec = self.record("org.sim.roughcut")
        self.assertEqual((rec["update_mechanism"], rec["cask_token"]), ("cask", "roughcut"))
        self.assertNotIn("last_incident_kind", rec)            # nothing pending: the cask is older
        managed = decode_preview(self.ok("adopt", "--dry-run", "--json", "Roughcut"))
        self.assertTrue(managed["already_managed"])
        self.ok("adopt", "--undo", frame=False)
        self.assertEqual(self.record("org.sim.roughcut")["update_mechanism"], "unknown")
        for name, cask in (("Mossgrid", None), ("Nobody Here", None), ("Handmade Paint", "other-token")):
            with self.subTest(name=name):
                argv = ["adopt", "--dry-run", "--json", name] + (["--cask", cask] if cask else [])
                preview = decode_preview(self.ok(*argv))
                self.assertFalse(preview["match_found"])
                self.assertTrue(preview["reason"])

    def test_single_update_outcomes(self):
        self.fresh_library()
        # bundle id, exit status, installed version after, incident code after
        cases = [("org.sim.pebblenote", 0, "0.9.5", None),     # a click is the approval
                 ("org.sim.inkwell", 0, "3.2.1", None),         # already current
                 ("org.sim.handmade", 0, "1.0", "BREW_NO_CASK"),  # skipped with a remedy
                 ("org.sim.ferrous", 1, "2024.01", None),       # updates itself: said plainly
                 ("org.sim.signet", 1, "5.0", "SIG_TEAM_MISMATCH"),
                 ("org.sim.mossgrid", 0, "0.3", None)]          # no known release
        for bid, status, version, code in cases:
            with self.subTest(bid=bid):
                proc = self.run_engine("update", "--only", bid)
                self.assertEqual(proc.returncode, status, proc.stderr)
                if status:
                    self.assertOneSentence(proc.stderr)
                rec = self.record(bid)
                self.assertEqual((rec["current_version"], rec.get("last_incident_code")), (version, code))

    def test_fix_by_incident(self):
        self.fresh_library()
        # bundle id, exit status, incident code left behind
        cases = [("org.sim.netherby", 0, None), ("org.sim.quarry", 0, None), ("org.sim.wickerbox", 0, None),
                 ("org.sim.signet", 1, "SIG_TEAM_MISMATCH"), ("org.sim.handmade", 1, "BREW_NO_CASK"),
                 ("org.sim.inkwell", 0, None), ("org.sim.nobody", 3, None)]
        for bid, status, code in cases:
            with self.subTest(bid=bid):
                proc = self.run_engine("fix", bid)
                self.assertEqual(proc.returncode, status, proc.stderr)
                if status:
                    self.assertOneSentence(proc.stderr)
                rec = self.record(bid)
                if rec is not None:
                    self.assertEqual(rec.get("last_incident_code"), code)

    def test_remove_moves_the_app_to_the_trash(self):
        self.fresh_library()
        install = self.record("org.sim.mossgrid")["install_path"]
        refused = self.run_engine("remove", "--bundle-id", "org.sim.mossgrid")
        self.assertEqual(refused.returncode, 2)
        self.ok("remove", "--bundle-id", "org.sim.mossgrid", "--yes")
        self.assertFalse(os.path.exists(install))
        self.assertTrue(os.path.isdir(os.path.join(self.data_dir, "sim", "Trash", "Mossgrid.app")))
        self.assertIsNone(self.record("org.sim.mossgrid"))

    def test_contribution_values(self):
        self.fresh_library()
        # extra arguments, exit status
        cases = [(["--mechanism", "sparkle", "--feed-url", "https://m.example/appcast.xml"], 0),
                 (["--mechanism", "mas", "--mas-id", " 1234500009 "], 0),
                 (["--mechanism", "cask", "--cask-token", "   ", "--push"], 0),
                 (["--mechanism", "Sparkle"], 2),
                 (["--mechanism", "sparkle", "--feed-url", "file:///etc/passwd"], 2),
                 (["--mechanism", "mas", "--mas-id", "12ab"], 2),
                 (["--mechanism", "cask", "--cask-token", "../../x"], 2)]
        for extra, status in cases:
            with self.subTest(extra=extra):
                proc = self.run_engine("contribute", "--bundle-id", "org.sim.mossgrid", *extra)
                self.assertEqual(proc.returncode, status, proc.stderr)
                if status:
                    self.assertOneSentence(proc.stderr)
        rec = self.record("org.sim.mossgrid")
        self.assertEqual(rec["update_mechanism"], "cask")
        self.assertEqual(self.sql("SELECT COUNT(*) FROM contributions"), "3")
        self.assertEqual(self.sql("SELECT mas_id FROM contributions WHERE mechanism='mas'"), "1234500009")

    def test_workbench_reports(self):
        self.ok("migrate")
        path = os.path.join(self.data_dir, "developer_workbench.json")
        cases = [(None, "Developer Workbench is off.", None),
                 ("[1, 2]", None, True),
                 ("{broken", None, True),
                 (json.dumps({"workbenchEnabled": True, "npmEnabled": True, "projectFolders": ["/p/%d" % i
                                                                                           for i in range(20)]}),
                  None, None)]
        for content, summary, corrupted in cases:
            with self.subTest(content=content):
                if content is not None:
                    with open(path, "w") as fh:
                        fh.write(content)
                for command in ("inspect", "plan-updates"):
                    report = decode_dev_report(self.ok("dev", command, "--json"))
                    if summary:
                        self.assertEqual(report["payload"]["summary"], summary)
                    self.assertEqual(report["payload"].get("state_corrupted"), corrupted)
        self.assertTrue(report["payload"]["truncated"])


class BadInput(EngineCase):

    def test_damaged_files_give_one_sentence_or_are_skipped(self):
        self.fresh_library()
        sim = os.path.join(self.data_dir, "sim")
        with open(os.path.join(sim, "Applications", "Kettle.app", "Contents", "Info.json"), "w") as fh:
            fh.write("{not json")
        with open(os.path.join(sim, "catalog.json"), "w") as fh:
            fh.write("[]")
        with open(os.path.join(self.data_dir, "ghosts.json"), "w") as fh:
            fh.write("\x00\x01")
        self.ok("scan")
        recs = self.records()
        self.assertNotIn("org.sim.kettle", recs)          # unreadable: skipped, and so a ghost
        self.assertIn("Kettle.app", self.read_file(os.path.join(self.home, ".varno", "logs", "scan.err")))
        decode_ghosts(self.read_file(os.path.join(self.data_dir, "ghosts.json")))
        with open(self.db, "wb") as fh:
            fh.write(b"this is not a database" * 100)
        for suffix in ("-wal", "-shm"):
            if os.path.exists(self.db + suffix):
                os.unlink(self.db + suffix)
        proc = self.run_engine("list", "--json", "--all")
        self.assertEqual(proc.returncode, 1)
        self.assertOneSentence(proc.stderr)

    def test_a_seed_that_cannot_be_used_forgets_nothing(self):
        self.fresh_library()
        self.ok("telemetry", "opt-in")
        before = self.ok("list", "--json", "--all")
        backups = sorted(os.listdir(os.path.join(self.data_dir, "backups", "org.sim.inkwell")))
        for seed in ("nonsense", "large:9999", "file:/nonexistent/world.json"):
            with self.subTest(seed=seed):
                proc = self.run_engine("sim", "reset", "--seed", seed, frame=False)
                self.assertEqual(proc.returncode, 2)
                self.assertOneSentence(proc.stderr)
                self.assertEqual(self.ok("list", "--json", "--all"), before)
                self.assertEqual(sorted(os.listdir(os.path.join(self.data_dir, "backups", "org.sim.inkwell"))),
                                 backups)
                self.assertIn("Telemetry opt-in: yes", self.ok("telemetry", "status"))

    def test_usage_errors_are_one_sentence(self):
        for argv in (["frobnicate"], ["update", "--only"], ["retention", "set", "--keep", "x", "--days", "1"],
                     [], ["mode", "org.sim.kettle"], ["adopt", "--approved"]):
            with self.subTest(argv=argv):
                proc = self.run_engine(*argv)
                self.assertEqual(proc.returncode, 2)
                self.assertOneSentence(proc.stderr)
        for frame in (["--engine-contract-version", "2"], ["--engine-contract-version", "one"]):
            proc = self.run_engine(*(frame + ["list"]), frame=False)
            self.assertEqual(proc.returncode, 64)
            self.assertOneSentence(proc.stderr)

    def test_support_bundle_stays_in_the_logs_folder(self):
        self.ok("migrate")
        outside = os.path.join(self.home, "elsewhere.json")
        proc = self.run_engine("diagnose", "--bundle", "--out", outside)
        self.assertEqual(proc.returncode, 2)
        self.assertFalse(os.path.exists(outside))
        path = self.ok("diagnose", "--bundle", frame=False).strip()
        self.assertTrue(path.startswith(self.logs_dir + "/support-bundle-"))

    def test_writes_stay_in_the_engine_folders(self):
        self.fresh_library()
        for argv in (["update", "--only", "org.sim.tallybook"], ["restore", "--bundle-id", "org.sim.inkwell"],
                     ["diagnose", "--bundle"], ["telemetry", "opt-in"], ["experiment", "record", "--event", "x"]):
            self.ok(*argv)
        allowed = [os.path.join(self.home, p) for p in
                   (".varno", "Library/Application Support/VARNO", "Library/Logs/VARNO")]
        for folder, _, files in os.walk(self.home):
            for name in files:
                path = os.path.join(folder, name)
                self.assertTrue(any(path.startswith(a + "/") for a in allowed), path)
        self.assertFalse([n for n in os.listdir(self.home) if n not in (".varno", "Library")])


class Installed(EngineCase):

    def test_installed_copy_runs_from_its_own_folder_and_adds_no_files(self):
        installed = os.path.join(self.home, ".varno")
        shutil.copytree(os.path.dirname(ENGINE), installed,
                        ignore=shutil.ignore_patterns("__pycache__", "*.pyc"))
        shipped = self._files(installed)
        env = self.env(PYTHONDONTWRITEBYTECODE=None)
        for argv in (["migrate"], ["selftest"], ["scan"], ["list", "--json", "--all"], ["update", "--only", "org.sim.tallybook"]):
            proc = subprocess.run([sys.executable, os.path.join(installed, "varno.py"),
                                   "--engine-contract-version", "1"] + argv,
                                  cwd=installed, env=env, capture_output=True, timeout=60)
            self.assertEqual(proc.returncode, 0, proc.stderr)
        added = self._files(installed) - shipped
        self.assertTrue(all(path.startswith("logs/") for path in added), added)
        self.assertFalse(os.path.exists(os.path.join(installed, "db.py")))

    def _files(self, root):
        found = set()
        for folder, _, files in os.walk(root):
            for name in files:
                found.add(os.path.relpath(os.path.join(folder, name), root))
        return found

    def test_concurrent_readers_and_writers_all_succeed(self):
        self.fresh_library()
        argvs = [["seal", "--bundle-id", b, "--json"] for b in ("org.sim.tallybook", "org.sim.driftwood",
                                                               "org.sim.inkwell")]
        argvs += [["list", "--json", "--all"], ["scan"], ["experiment", "record", "--event", "x"],
                  ["update", "--only", "org.sim.saltmarsh"]]
        procs = [self.spawn(*argv) for argv in argvs]
        for argv, proc in zip(argvs, procs):
            out, err = proc.communicate(timeout=60)
            self.assertEqual(proc.returncode, 0, (argv, err))

    def test_arguments_that_are_not_utf8(self):
        self.fresh_library()
        argv = [sys.executable, "-S", ENGINE, "--engine-contract-version", "1",
                "adopt", "--dry-run", "--json", b"Caf\xe9 \xff"]
        proc = subprocess.run(argv, env=self.env(), capture_output=True, timeout=60)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        preview = json.loads(proc.stdout.decode("utf-8"))
        self.assertFalse(preview["match_found"])
        journal = self.ok("sim", "journal", frame=False)
        self.assertEqual(len(journal.splitlines()), 2)


if __name__ == "__main__":
    unittest.main()

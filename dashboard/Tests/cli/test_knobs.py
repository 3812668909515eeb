"""Test knobs: each one makes the engine misbehave in exactly the way it promises."""

import json
import os
import signal
import time
import unittest

from engine_harness import DecodeError, EngineCase, decode_app_list, decode_backup, decode_ghosts, \
    decode_retention, telemetry_opt_in

MIB = 1024 * 1024


class KnobTable(EngineCase):

    def expect_list_fails(self, proc):
        with self.assertRaises(DecodeError):
            decode_app_list(proc.stdout.decode("utf-8", "replace"))

    # knob rule, argv, expected exit, check(proc)
    ROWS = [
        ({"command": "migrate", "exit": 3, "stderr": "boom"}, ["migrate"], 3,
         lambda t, p: t.assertEqual(p.stderr, b"boom\n")),
        ({"command": "list", "exit": 15}, ["list", "--json", "--all"], -signal.SIGTERM, None),
        ({"command": "list", "exit": 9, "stderr": "ignored"}, ["list", "--json", "--all"], -signal.SIGKILL, None),
        ({"command": "scan", "exit": 75, "stderr": "Another update is already in progress."}, ["scan"], 75, None),
        ({"command": "list", "stdout": "garbage"}, ["list", "--json", "--all"], 0,
         lambda t, p: t.assertEqual(p.stdout, b"garbage")),
        ({"command": "list", "stdout_bytes": 12 * MIB, "utf8_split": True}, ["list", "--json", "--all"], 0,
         lambda t, p: (t.assertEqual(len(p.stdout), 12 * MIB),
                       t.assertEqual(p.stdout[10 * MIB - 1:10 * MIB + 1], "\u00e9".encode()))),
        ({"command": "list", "stderr_bytes": 11 * MIB, "exit": 1}, ["list", "--json", "--all"], 1,
         lambda t, p: t.assertEqual(len(p.stderr), 11 * MIB)),
        ({"command": "list", "stdout_mode": "progress_prefix"}, ["list", "--json", "--all"], 0,
         lambda t, p: t.expect_list_fails(p)),
        ({"command": "list", "stdout_mode": "truncated"}, ["list", "--json", "--all"], 0,
         lambda t, p: t.expect_list_fails(p)),
        ({"command": "list", "stdout_mode": "wrong_type:risk_score"}, ["list", "--json", "--all"], 0,
         lambda t, p: t.expect_list_fails(p)),
        ({"command": "list", "stdout_mode": "wrong_type:green_seal"}, ["list", "--json", "--all"], 0,
         lambda t, p: t.expect_list_fails(p)),
        ({"command": "list", "stdout_mode": "null:app_name"}, ["list", "--json", "--all"], 0,
         lambda t, p: t.expect_list_fails(p)),
        ({"command": "list", "stdout_mode": "non_object_element"}, ["list", "--json", "--all"], 0,
         lambda t, p: t.expect_list_fails(p)),
        ({"command": "list", "stdout_mode": "empty_array"}, ["list", "--json", "--all"], 0,
         lambda t, p: t.assertEqual(decode_app_list(p.stdout.decode()), [])),
        ({"command": "list", "stdout_mode": "null:risk_tier"}, ["list", "--json", "--all"], 0,
         lambda t, p: t.assertEqual(len(decode_app_list(p.stdout.decode())), 25)),
        ({"command": "retention", "stdout_mode": "wrong_type:policy.keep_per_app"}, ["retention", "status", "--json"],
         0, lambda t, p: t.assertRaises(DecodeError, decode_retention, p.stdout.decode())),
        ({"command": "telemetry status", "telemetry_line": "Telemetry opt-in: YES"}, ["telemetry", "status"], 0,
         lambda t, p: t.assertRaises(DecodeError, telemetry_opt_in, p.stdout.decode())),
        ({"command": "telemetry status", "telemetry_line": "Status\nTelemetry opt-in: yes"},
         ["telemetry", "status"], 0, lambda t, p: t.assertIs(telemetry_opt_in(p.stdout.decode()), True)),
        ({"command": "backup", "backup_reason": "app is running"}, ["backup", "--bundle-id", "org.sim.inkwell",
                                                                    "--json"], 0,
         lambda t, p: t.assertEqual(decode_backup(p.stdout.decode()),
                                    {"available": False, "reason": "app is running"})),
        ({"command": "adopt --approved", "adopt_fail": "SUDO_REQUIRED"}, ["adopt", "--approved", "Handmade Paint"], 1,
         lambda t, p: t.assertEqual(t.record("org.sim.handmade")["last_incident_code"], "SUDO_REQUIRED")),
        ({"command": "update", "per_app": {"org.sim.saltmarsh": {"outcome": "fail", "error": "Disk full.",
                                                                 "error_code": "DISK_FULL"}}},
         ["update", "--only", "org.sim.saltmarsh"], 1,
         lambda t, p: (t.assertEqual(p.stderr, b"Disk full.\n"),
                       t.assertEqual(t.record("org.sim.saltmarsh")["last_incident_code"], "DISK_FULL"))),
        ({"command": "update", "per_app": {"org.sim.saltmarsh": {"outcome": "running"}}},
         ["update", "--only", "org.sim.saltmarsh", "--approved"], 0,
         lambda t, p: t.assertEqual(t.record("org.sim.saltmarsh")["last_incident_code"], "APP_RUNNING")),
        ({"command": ["scan"], "ghosts_mode": "wrong_type:cask_token"}, ["scan"], 0,
         lambda t, p: t.assertRaises(DecodeError, decode_ghosts,
                                     t.read_file(os.path.join(t.data_dir, "ghosts.json")))),
    ]

    def test_knob_table(self):
        self.ok("migrate")
        self.ok("scan")
        for rule, argv, status, check in self.ROWS:
            with self.subTest(rule=rule):
                self.knobs(rule)
                proc = self.run_engine(*argv)
                self.knobs()
                self.assertEqual(proc.returncode, status, proc.stderr[:300])
                self.assertNotIn(b"Traceback", proc.stderr[:4096])
                if check:
                    check(self, proc)

    def test_times_expires_a_rule_and_the_next_one_wins(self):
        self.ok("migrate")
        # Through the harness command this time, as a person would set them.
        self.ok("sim", "knobs", "set", json.dumps([{"command": "selftest", "exit": 4, "times": 1},
                                                   {"command": "selftest", "exit": 5, "times": 1}]), frame=False)
        self.assertEqual([self.run_engine("selftest").returncode for _ in range(3)], [4, 5, 0])

    def test_inline_knobs_from_the_environment(self):
        for value in (json.dumps([{"command": "doctor", "exit": 6}]), None):
            env = {"VARNO_SIM_KNOBS": value}
            if value is None:
                path = os.path.join(self.home, "k.json")
                with open(path, "w") as fh:
                    json.dump({"rules": [{"command": "doctor", "exit": 6}]}, fh)
                env = {"VARNO_SIM_KNOBS": path}
            with self.subTest(env=env):
                self.assertEqual(self.run_engine("doctor", frame=False, env=env).returncode, 6)
        bad = self.run_engine("doctor", env={"VARNO_SIM_KNOBS": "{nope"})
        self.assertEqual(bad.returncode, 2)
        self.assertOneSentence(bad.stderr)

    def test_sigterm_handling(self):
        self.ok("migrate")
        cases = [({"command": "list", "hang": True}, -signal.SIGTERM),
                 ({"command": "list", "hang": True, "on_sigterm": 0}, 0),
                 ({"command": "list", "hang": True, "on_sigterm": 7}, 7),
                 ({"command": "list", "hang": True, "on_sigterm": "ignore"}, None)]
        for rule, status in cases:
            with self.subTest(rule=rule):
                self.knobs(rule)
                proc = self.spawn("list", "--json", "--all")
                self._wait_for_journal_free(proc)
                proc.send_signal(signal.SIGTERM)
                if status is None:
                    time.sleep(0.3)
                    self.assertIsNone(proc.poll(), "SIGTERM should have been ignored")
                    proc.kill()
                    proc.wait(timeout=10)
                else:
                    self.assertEqual(proc.wait(timeout=10), status)

    def _wait_for_journal_free(self, proc):
        # The handler is installed before the knobs act; give the child a moment to get there.
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            try:
                with open("/proc/%d/status" % proc.pid) as fh:
                    if any(line.startswith("SigCgt:") and int(line.split()[1], 16) & (1 << 14)
                           for line in fh):
                        return
            except OSError:
                return
            time.sleep(0.02)

    def test_journal_records_every_invocation(self):
        self.ok("migrate")
        self.run_engine("seal", "--bundle-id", "org.sim.nobody", "--json")
        self.ok("list", "--json", "--all", frame=False)
        lines = self.ok("sim", "journal", frame=False).splitlines()
        entries = [line.split("\t") for line in lines]
        self.assertEqual([(e[1], json.loads(e[3])) for e in entries], [
            ("0", ["--engine-contract-version", "1", "migrate"]),
            ("3", ["--engine-contract-version", "1", "seal", "--bundle-id", "org.sim.nobody", "--json"]),
            ("0", ["list", "--json", "--all"]),
        ])


if __name__ == "__main__":
    unittest.main()

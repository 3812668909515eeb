"""The streamed update queue: events on stderr, control words on stdin, the lock."""

import json
import os
import select
import time
import unittest

from engine_harness import EngineCase, StreamReader, decode_event, wait_for_line

STREAM_ENV = {"VARNO_EVENTS": "1", "VARNO_QUIET": "1"}


class StreamCase(EngineCase):

    def start_stream(self, *ids, env=None):
        args = ["update"] + (["--only"] + list(ids) if ids else [])
        merged = dict(STREAM_ENV)
        merged.update(env or {})
        proc = self.spawn(*args, env=merged)
        return proc, StreamReader()

    def read_until(self, proc, reader, wanted, limit=30.0):
        """Events up to and including the first one for which wanted(event) is true."""
        seen = []
        deadline = time.monotonic() + limit
        fd = proc.stderr.fileno()
        while True:
            ready, _, _ = select.select([fd], [], [], max(0.0, deadline - time.monotonic()))
            if not ready:
                self.fail("no matching event within %ss; got %r" % (limit, seen))
            chunk = os.read(fd, 65536)
            if not chunk:
                self.fail("the stream ended before a matching event; got %r" % seen)
            for event in reader.feed(chunk):
                seen.append(event)
                if wanted(event):
                    return seen

    def finish(self, proc, reader):
        fd = proc.stderr.fileno()
        while True:
            ready, _, _ = select.select([fd], [], [], 30)
            self.assertTrue(ready, "the stream did not end")
            chunk = os.read(fd, 65536)
            if not chunk:
                break
            reader.feed(chunk)
        out = proc.stdout.read()
        status = proc.wait(timeout=30)
        return status, reader.finish(), out

    def send(self, proc, word):
        proc.stdin.write(word.encode() + b"\n")
        proc.stdin.flush()

    def done_of(self, events):
        return {e["bundle_id"]: e for e in events if e["event"] == "app_done"}



class StreamRuns(StreamCase):

    def test_happy_path_with_approval_and_running_app(self):
        self.fresh_library()
        kettle = self.run_app("org.sim.kettle")
        proc, reader = self.start_stream("org.sim.tallybook", "org.sim.pebblenote", "org.sim.kettle")
        status, tail, out = self.finish(proc, reader)
        self.assertEqual((status, out), (0, b""))
        names = [(e["event"], e.get("bundle_id"), e.get("status")) for e in reader.events]
        self.assertEqual(names, [
            ("queue_start", None, None),
            ("app_start", "org.sim.tallybook", "fetching"),
            ("app_start", "org.sim.tallybook", "verifying"),
            ("app_start", "org.sim.tallybook", "installing"),
            ("app_start", "org.sim.tallybook", "cleaning"),
            ("app_done", "org.sim.tallybook", None),
            ("app_done", "org.sim.pebblenote", None),
            ("app_done", "org.sim.kettle", None),
            ("queue_done", None, None),
        ])
        self.assertEqual(reader.events[0]["apps"], ["org.sim.tallybook", "org.sim.pebblenote", "org.sim.kettle"])
        done = self.done_of(reader.events)
        self.assertEqual((done["org.sim.tallybook"]["success"], done["org.sim.tallybook"]["error_code"]), (True, None))
        self.assertEqual((done["org.sim.pebblenote"]["skipped"], done["org.sim.pebblenote"]["error_code"]),
                         (True, "UPDATE_MODE_ASK_HEADLESS"))
        self.assertEqual((done["org.sim.kettle"]["skipped"], done["org.sim.kettle"]["error_code"]),
                         (True, "APP_RUNNING"))
        self.assertEqual(reader.events[-1], {"event": "queue_done", "updated": 1, "failed": 0, "skipped": 2,
                                             "reason": None})
        self.assertEqual(tail, [])

        recs = self.records()
        self.assertEqual(recs["org.sim.tallybook"]["current_version"], "1.10")
        self.assertEqual((recs["org.sim.pebblenote"]["last_incident_code"],
                          recs["org.sim.pebblenote"]["last_incident_kind"]), ("UPDATE_MODE_ASK_HEADLESS", "skipped"))
        self.assertEqual(recs["org.sim.kettle"]["last_incident_code"], "APP_RUNNING")

        # Approve, then quit-and-update: both clear the incident.
        self.ok("update", "--only", "org.sim.pebblenote", "--approved")
        self.ok("update", "--only", "org.sim.kettle", "--approved")
        self.assertEqual(self.record("org.sim.kettle")["current_version"], "1.4")   # still running
        self.assertEqual(self.stop(kettle), 0)
        self.ok("update", "--only", "org.sim.kettle", "--approved")
        recs = self.records()
        for bid, version in (("org.sim.pebblenote", "0.9.5"), ("org.sim.kettle", "1.5")):
            self.assertEqual(recs[bid]["current_version"], version)
            self.assertNotIn("last_incident_kind", recs[bid])

    def test_full_queue_gives_every_app_a_result(self):
        self.fresh_library()
        proc, reader = self.start_stream()
        status, tail, _ = self.finish(proc, reader)
        self.assertEqual(status, 0)
        queued = reader.events[0]["apps"]
        self.assertGreaterEqual(len(queued), 10)
        done = [e["bundle_id"] for e in reader.events if e["event"] == "app_done"]
        self.assertEqual(done, queued)
        totals = reader.events[-1]
        self.assertEqual(totals["updated"] + totals["failed"] + totals["skipped"], len(queued))
        self.assertNotIn("org.sim.oldtimer", queued)      # ignored by the user
        self.assertNotIn("org.sim.brightside", queued)    # update mode "ignore"
        codes = {e["bundle_id"]: e["error_code"] for e in reader.events if e["event"] == "app_done"}
        self.assertEqual(codes["org.sim.signet"], "SIG_TEAM_MISMATCH")
        self.assertEqual(codes["org.sim.netherby"], "NETWORK_TIMEOUT")
        self.assertEqual(codes["org.sim.handmade"], "BREW_NO_CASK")

    def test_approved_stream_updates_an_app_that_asks_first(self):
        self.fresh_library()
        proc, reader = self.start_stream("org.sim.pebblenote", "--approved")
        status, _, _ = self.finish(proc, reader)
        self.assertEqual(status, 0)
        self.assertTrue(self.done_of(reader.events)["org.sim.pebblenote"]["success"])
        self.assertEqual(self.record("org.sim.pebblenote")["current_version"], "0.9.5")

    def test_pause_skip_resume_abort_in_one_run(self):
        self.fresh_library()
        self.knobs({"command": "update", "step_delay": 30})   # phases last until a word ends them
        ids = ["org.sim.saltmarsh", "org.sim.lanternfish", "org.sim.tallybook", "org.sim.harborlight"]
        proc, reader = self.start_stream(*ids)
        self.read_until(proc, reader, lambda e: e["event"] == "app_start")
        self.send(proc, "pause")
        self.read_until(proc, reader, lambda e: e["event"] == "queue_paused")
        self.send(proc, "skip")
        got = self.read_until(proc, reader, lambda e: e["event"] == "app_done")
        self.assertEqual(got[-1], {"event": "app_done", "bundle_id": "org.sim.saltmarsh", "success": False,
                                   "skipped": True, "error": "Skipped at your request", "error_code": None})
        self.send(proc, "bogus")
        self.send(proc, "resume")
        got = self.read_until(proc, reader, lambda e: e["event"] == "app_start")
        # Nothing moved while the queue was paused: the resume comes first.
        self.assertEqual([e["event"] for e in got], ["queue_resumed", "app_start"])
        self.assertEqual(got[-1]["bundle_id"], "org.sim.lanternfish")
        self.send(proc, "abort")
        status, tail, _ = self.finish(proc, reader)
        self.assertEqual(status, 0)
        done = self.done_of(reader.events)
        self.assertEqual(list(done), ids)
        self.assertTrue(all(done[b]["skipped"] and done[b]["error_code"] is None for b in ids))
        self.assertEqual(reader.events[-1]["reason"], "aborted")
        self.assertEqual(sum(1 for line in tail if "bogus" in line), 1)
        rec = self.record("org.sim.saltmarsh")
        self.assertEqual(rec["current_version"], "1.8.2")
        self.assertNotIn("last_incident_kind", rec)

    def test_an_app_that_breaks_does_not_strand_the_queue(self):
        self.fresh_library()
        # A file where the backup folder should be: the update of that app cannot proceed.
        backups = os.path.join(self.data_dir, "backups")
        os.makedirs(backups, exist_ok=True)
        with open(os.path.join(backups, "org.sim.tallybook"), "w") as fh:
            fh.write("in the way")
        proc, reader = self.start_stream("org.sim.tallybook", "org.sim.saltmarsh")
        status, _, _ = self.finish(proc, reader)
        self.assertEqual(status, 0)
        done = self.done_of(reader.events)
        self.assertEqual((done["org.sim.tallybook"]["success"], done["org.sim.tallybook"]["skipped"]), (False, False))
        self.assertTrue(done["org.sim.tallybook"]["error"])
        self.assertTrue(done["org.sim.saltmarsh"]["success"])
        rec = self.record("org.sim.tallybook")
        self.assertEqual((rec["current_version"], rec["last_incident_kind"]), ("1.2", "failed"))

    def test_deaf_engines(self):
        self.fresh_library()
        ids = ["org.sim.saltmarsh", "org.sim.lanternfish"]
        # Words are acted on but never confirmed: the app must not believe it paused.
        self.knobs({"command": "update", "step_delay": 30, "no_pause_ack": True})
        proc, reader = self.start_stream(*ids)
        self.read_until(proc, reader, lambda e: e["event"] == "app_start")
        for word in ("pause", "skip", "resume"):
            self.send(proc, word)
        self.read_until(proc, reader, lambda e: e["event"] == "app_start" and e["bundle_id"] == ids[1])
        self.send(proc, "abort")
        status, _, _ = self.finish(proc, reader)
        self.assertEqual(status, 0)
        kinds = [e["event"] for e in reader.events]
        self.assertNotIn("queue_paused", kinds)
        self.assertNotIn("queue_resumed", kinds)
        self.assertEqual(reader.events[-1]["reason"], "aborted")
        # Words are not read at all: the run goes to its end.
        self.knobs({"command": "update", "step_delay": 0.05, "ignore_controls": True})
        proc, reader = self.start_stream(*ids)
        self.read_until(proc, reader, lambda e: e["event"] == "app_start")
        self.send(proc, "abort")
        status, _, _ = self.finish(proc, reader)
        self.assertEqual(status, 0)
        self.assertEqual((reader.events[-1]["updated"], reader.events[-1]["reason"]), (2, None))

    def test_noise_lines_are_free_text_and_events_survive(self):
        self.fresh_library()
        self.knobs({"command": "update", "noise": True})
        proc, _ = self.start_stream("org.sim.tallybook")
        raw_err = proc.stderr.read()
        self.assertEqual(proc.wait(timeout=30), 0)
        reader = StreamReader()
        for line in raw_err.splitlines(keepends=True):   # one write per chunk
            reader.feed(line)
        tail = reader.finish()
        self.assertEqual([e["event"] for e in reader.events],
                         ["queue_start"] + ["app_start"] * 4 + ["app_done", "queue_done"])
        self.assertEqual(reader.discarded_chunks, 1)
        self.assertIn('{"event":"Queue_Paused"}', tail)
        self.assertIn("[1,2,3]", tail)
        # A valid event without its line feed at the end is free text.
        self.assertEqual(tail[-1], '{"event":"queue_resumed"}')
        self.assertFalse(raw_err.endswith(b"\n"))

    def test_free_text_overflow_then_exit(self):
        self.fresh_library()
        self.knobs({"command": "update", "free_text": 250, "then_exit": 3})
        proc, reader = self.start_stream()
        status, tail, _ = self.finish(proc, reader)
        self.assertEqual(status, 3)
        self.assertEqual(reader.events, [])
        self.assertEqual(len(tail), 201)
        self.assertEqual(tail[0], "[\u2026 50 earlier line(s) dropped \u2026]")
        self.assertIn("250 of 250", tail[-1])

    def test_lock_held_gives_75_before_any_event(self):
        self.fresh_library()
        holder = self.spawn("sim", "hold-lock", "60", frame=False)
        self.assertTrue(wait_for_line(holder.stdout, "holding"))
        proc, reader = self.start_stream()
        status, tail, _ = self.finish(proc, reader)
        self.assertEqual(status, 75)
        self.assertEqual(reader.events, [])
        self.assertEqual(len(tail), 1)
        for argv in (["update", "--only", "org.sim.tallybook", "--approved"], ["fix", "org.sim.netherby"]):
            p = self.run_engine(*argv)
            self.assertEqual(p.returncode, 75)
            self.assertOneSentence(p.stderr)
        self.stop(holder)
        proc, reader = self.start_stream("org.sim.tallybook")
        self.assertEqual(self.finish(proc, reader)[0], 0)

    def test_large_queue_start_fits_the_reader(self):
        self.ok("sim", "reset", "--seed", "large:400", frame=False)
        self.ok("scan")
        proc, reader = self.start_stream()
        fd = proc.stderr.fileno()
        first = b""
        while b"\n" not in first:
            chunk = os.read(fd, 65536)
            self.assertTrue(chunk)
            first += chunk
        line = first.split(b"\n", 1)[0]
        self.assertLess(len(line), 65536)
        event = decode_event(json.loads(line))
        self.assertEqual(event["event"], "queue_start")
        self.send(proc, "abort")
        reader.feed(first)
        status, _, _ = self.finish(proc, reader)
        self.assertEqual(status, 0)
        done = [e["bundle_id"] for e in reader.events if e["event"] == "app_done"]
        self.assertEqual(done, event["apps"])


class WatchdogKnobs(StreamCase):

    def test_heartbeats_during_long_phases(self):
        self.fresh_library()
        for heartbeat, expect_beats in ((0.05, True), (0, False)):
            with self.subTest(heartbeat=heartbeat):
                self.knobs({"command": "update", "step_delay": 0.15, "heartbeat": heartbeat})
                self.ok("sim", "set-latest", "org.sim.saltmarsh", "1.9.%d" % (5 if heartbeat else 6), frame=False)
                self.ok("scan")
                proc, reader = self.start_stream("org.sim.saltmarsh")
                status, _, _ = self.finish(proc, reader)
                self.assertEqual(status, 0)
                self.assertEqual(reader.heartbeats > 0, expect_beats)

    def test_silence_stops_all_output_for_that_long(self):
        self.fresh_library()
        self.knobs({"command": "update", "silence": 1.0, "heartbeat": 0.1})
        proc, reader = self.start_stream("org.sim.tallybook")
        fd = proc.stderr.fileno()
        last, longest = time.monotonic(), 0.0
        while True:
            chunk = os.read(fd, 65536)
            now = time.monotonic()
            if not chunk:
                break
            longest = max(longest, now - last)
            last = now
            reader.feed(chunk)
        self.assertEqual(proc.wait(timeout=30), 0)
        self.assertGreaterEqual(longest, 0.9)
        self.assertEqual(reader.events[-1]["event"], "queue_done")


if __name__ == "__main__":
    unittest.main()

"""Test harness for the engine: a temporary HOME per test, the engine as a child
process, and decoders that apply the app's strict rules to what the engine prints."""

import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ENGINE = os.environ.get("VARNO_TEST_ENGINE") or os.path.normpath(
    os.path.join(HERE, "..", "..", "Resources", "cli", "varno.py"))
FRAME = ["--engine-contract-version", "1"]
# -S: no site-packages, which also proves the engine needs nothing beyond the standard library.
PYTHON = [sys.executable, "-S"]


class DecodeError(Exception):
    pass


# ---------------------------------------------------------------- strict decoders (the app's rules)

def _is_int(v):
    return isinstance(v, int) and not isinstance(v, bool) and -2 ** 63 <= v < 2 ** 63


def _check(obj, required, optional, where):
    if not isinstance(obj, dict):
        raise DecodeError("%s: not an object" % where)
    for key, kind in required.items():
        if obj.get(key) is None:
            raise DecodeError("%s: %s missing" % (where, key))
        _check_type(obj[key], kind, "%s.%s" % (where, key))
    for key, kind in optional.items():
        if obj.get(key) is not None:
            _check_type(obj[key], kind, "%s.%s" % (where, key))


def _check_type(value, kind, where):
    ok = {"str": lambda v: isinstance(v, str), "bool": lambda v: isinstance(v, bool),
          "int": _is_int, "obj": lambda v: isinstance(v, dict)}[kind](value)
    if not ok:
        raise DecodeError("%s: expected %s, got %r" % (where, kind, value))


APP_STR = ["current_version", "latest_version", "update_mechanism", "vendor_updater_name", "cask_token",
           "mas_id", "cask_match_confidence", "last_updated", "last_sha256", "last_cdn_domain", "last_team_id",
           "last_update_source", "version_first_seen", "risk_tier", "install_path", "unmanaged_state",
           "update_mode", "trigger_kind", "last_incident_code", "last_incident_kind", "last_incident_at",
           "latest_source", "version_check_status"]
APP_INT = ["update_count", "community_sha256_count", "risk_score", "user_ignored"]
APP_BOOL = ["self_managed", "vendor_self_update", "can_trigger_self_update", "green_seal", "verified_path"]
APP_OPTIONAL = dict([(k, "str") for k in APP_STR] + [(k, "int") for k in APP_INT] + [(k, "bool") for k in APP_BOOL])


def decode_app_list(text):
    """An array of AppRecord; one bad element fails the whole list."""
    try:
        data = json.loads(text)
    except ValueError as exc:
        raise DecodeError("not JSON: %s" % exc)
    if not isinstance(data, list):
        raise DecodeError("not an array")
    for i, rec in enumerate(data):
        _check(rec, {"bundle_id": "str", "app_name": "str"}, APP_OPTIONAL, "list[%d]" % i)
    return data


def decode_object(text, required, optional):
    try:
        data = json.loads(text)
    except ValueError as exc:
        raise DecodeError("not JSON: %s" % exc)
    _check(data, required, optional, "object")
    return data


def decode_seal(text):
    data = decode_object(text, {"green_seal": "bool", "verified_path": "bool"},
                         {"bundle_id": "str", "checks": "obj"})
    for name, value in (data.get("checks") or {}).items():
        _check_type(value, "bool", "checks." + name)
    return data


def decode_backup(text):
    return decode_object(text, {"available": "bool"},
                         {"backup_path": "str", "backup_dir": "str", "timestamp": "str", "bytes": "int",
                          "reason": "str"})


PROVENANCE_OPTIONAL = {"app_name": "str", "from_version": "str", "to_version": "str", "source": "str",
                       "timestamp": "str", "sha256": "str", "cdn_domain": "str", "team_id": "str",
                       "update_count": "int", "backup_path": "str"}


def decode_provenance(text):
    try:
        data = json.loads(text)
    except ValueError as exc:
        raise DecodeError("not JSON: %s" % exc)
    if not isinstance(data, list):
        raise DecodeError("not an array")
    for i, rec in enumerate(data):
        _check(rec, {"bundle_id": "str"}, PROVENANCE_OPTIONAL, "provenance[%d]" % i)
    return data


def decode_ghosts(text):
    data = json.loads(text)
    if not isinstance(data, list):
        raise DecodeError("ghosts: not an array")
    for i, g in enumerate(data):
        _check(g, {"bundle_id": "str", "app_name": "str", "install_path": "str"}, {}, "ghost[%d]" % i)
        if not isinstance(g.get("cask_token"), str):
            raise DecodeError("ghost[%d].cask_token must be a string" % i)
    return data


def decode_preview(text):
    return decode_object(text, {"match_found": "bool"},
                         dict([(k, "str") for k in ("reason", "cask_token", "app_name", "bundle_id", "confidence",
                                                    "current_version", "cask_version", "install_path",
                                                    "code_signature")]
                              + [(k, "bool") for k in ("signature_ok", "already_managed", "version_downgrade")]))


RETENTION_SHAPE = {
    "policy": ["keep_per_app", "retention_days", "support_bundle_keep", "log_max_mb", "os_snapshot_max_age_days"],
    "consent": ["granted", "asked", "auto_prune_allowed"],
    "usage": ["bytes", "snapshot_count", "bundle_count", "reclaimable_bytes", "reclaimable_count"],
    "pending_plan": ["count", "bytes"],
}


def decode_retention(text):
    data = json.loads(text)
    if not isinstance(data, dict):
        raise DecodeError("retention: not an object")
    for group, keys in RETENTION_SHAPE.items():
        part = data.get(group)
        if part is None:
            continue
        if not isinstance(part, dict):
            raise DecodeError("retention.%s: not an object" % group)
        for key in keys:
            value = part.get(key)
            if value is None:
                continue
            _check_type(value, "bool" if group == "consent" else "int", "retention.%s.%s" % (group, key))
    return data


def decode_dev_report(text):
    data = decode_object(text, {"kind": "str", "payload": "obj"}, {})
    _check(data["payload"], {"summary": "str"}, {"state_corrupted": "bool", "truncated": "bool"}, "payload")
    return data


def telemetry_opt_in(text):
    for line in text.split("\n"):
        line = line.strip()
        if line.startswith("Telemetry opt-in:"):
            if line.endswith("yes"):
                return True
            if line.endswith("no"):
                return False
    raise DecodeError("no telemetry line")


# ---------------------------------------------------------------- the stream reader (the app's rules)

EVENT_NAMES = ("queue_start", "app_start", "app_done", "queue_done", "queue_paused", "queue_resumed")


def decode_event(obj):
    """The event a JSON object stands for, as a small dict, or None when it is free text."""
    if not isinstance(obj, dict) or not obj:
        return None
    name = obj.get("event")
    if not isinstance(name, str) or name not in EVENT_NAMES:
        return None

    def s(key):
        v = obj.get(key)
        return v if isinstance(v, str) else None

    def i(key):
        v = obj.get(key)
        return v if _is_int(v) else 0

    def b(key):
        v = obj.get(key)
        return v if isinstance(v, bool) else False

    if name == "queue_start":
        apps = obj.get("apps")
        entries = []
        if isinstance(apps, list):
            if any(not isinstance(a, dict) for a in apps):
                entries = []
            else:
                for a in apps:
                    if isinstance(a.get("bundle_id"), str) and isinstance(a.get("app_name"), str):
                        entries.append(a["bundle_id"])
        return {"event": name, "count": i("count"), "apps": entries}
    if name == "app_start":
        if s("bundle_id") is None:
            return None
        return {"event": name, "bundle_id": s("bundle_id"), "status": s("status") or "fetching"}
    if name == "app_done":
        if s("bundle_id") is None:
            return None
        return {"event": name, "bundle_id": s("bundle_id"), "success": b("success"), "skipped": b("skipped"),
                "error": s("error") or s("reason"), "error_code": s("error_code") or s("reason_code")}
    if name == "queue_done":
        return {"event": name, "updated": i("updated"), "failed": i("failed"), "skipped": i("skipped"),
                "reason": s("reason")}
    return {"event": name}


class StreamReader:
    """Feeds stderr chunks through the app's line rules; collects events and free text."""

    def __init__(self):
        self.pending = ""
        self.events = []
        self.free = []
        self.dropped = 0
        self.heartbeats = 0
        self.discarded_chunks = 0

    def feed(self, chunk):
        try:
            text = chunk.decode("utf-8")
        except UnicodeDecodeError:
            self.discarded_chunks += 1
            return []
        self.pending += text
        if len(self.pending.encode("utf-8")) > 65536:
            self.pending = self.pending[-65536:]
        new = []
        while "\n" in self.pending:
            line, self.pending = self.pending.split("\n", 1)
            if not line:
                self.heartbeats += 1
                continue
            event = None
            try:
                event = decode_event(json.loads(line))
            except ValueError:
                event = None
            if event is None:
                self._free(line)
            else:
                self.events.append(event)
                new.append(event)
        return new

    def _free(self, line):
        self.free.append(line)
        if len(self.free) > 200:
            self.free.pop(0)
            self.dropped += 1

    def finish(self):
        rest = self.pending.strip()
        if rest:
            self._free(rest)
        self.pending = ""
        tail = list(self.free)
        if self.dropped:
            tail.insert(0, "[\u2026 %d earlier line(s) dropped \u2026]" % self.dropped)
        return tail


# ---------------------------------------------------------------- the test case

class EngineCase(unittest.TestCase):
    """Each test gets its own HOME; the engine runs instantly unless a test says otherwise."""

    speed = "0"

    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="varno-home-")
        self.addCleanup(shutil.rmtree, self.home, True)
        self.children = []
        self.addCleanup(self._stop_children)

    def _stop_children(self):
        for proc in self.children:
            if proc.poll() is None:
                proc.kill()
            try:
                proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                pass
            for stream in (proc.stdin, proc.stdout, proc.stderr):
                if stream:
                    stream.close()

    def env(self, **extra):
        env = {k: v for k, v in os.environ.items() if not k.startswith("VARNO_")}
        env["HOME"] = self.home
        env["VARNO_SIM_SPEED"] = self.speed
        env["PYTHONDONTWRITEBYTECODE"] = "1"
        for key, value in extra.items():
            if value is None:
                env.pop(key, None)
            else:
                env[key] = value
        return env

    def run_engine(self, *args, stdin=b"", frame=True, env=None, timeout=60):
        argv = PYTHON + [ENGINE] + (FRAME if frame else []) + list(args)
        return subprocess.run(argv, input=stdin, capture_output=True, env=self.env(**(env or {})),
                              timeout=timeout, cwd=self.home)

    def ok(self, *args, **kw):
        proc = self.run_engine(*args, **kw)
        self.assertEqual(proc.returncode, 0, "%s failed: %s" % (args, proc.stderr.decode("utf-8", "replace")))
        return proc.stdout.decode("utf-8")

    def spawn(self, *args, env=None, frame=True):
        argv = PYTHON + [ENGINE] + (FRAME if frame else []) + list(args)
        proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                env=self.env(**(env or {})), cwd=self.home)
        self.children.append(proc)
        return proc

    def assertOneSentence(self, stderr):
        text = stderr.decode("utf-8")
        self.assertNotIn("Traceback", text)
        self.assertEqual(len(text.strip().splitlines()), 1, text)
        self.assertTrue(text.strip(), "stderr is empty")

    # -- the world
    def fresh_library(self):
        """The demo library after its first scan (the scan migrates the database itself)."""
        self.ok("scan")

    def records(self):
        return {r["bundle_id"]: r for r in decode_app_list(self.ok("list", "--json", "--all"))}

    def record(self, bid):
        return self.records().get(bid)

    @property
    def data_dir(self):
        return os.path.join(self.home, "Library", "Application Support", "VARNO")

    @property
    def logs_dir(self):
        return os.path.join(self.home, "Library", "Logs", "VARNO")

    @property
    def db(self):
        return os.path.join(self.data_dir, "varno.db")

    def knobs(self, *rules):
        """Replace the knob rules (the file the engine re-reads at every invocation)."""
        root = os.path.join(self.data_dir, "sim")
        os.makedirs(root, exist_ok=True)
        with open(os.path.join(root, "knobs.json"), "w", encoding="utf-8") as fh:
            json.dump({"rules": list(rules)}, fh)
        try:
            os.unlink(os.path.join(root, "knob-state.json"))
        except OSError:
            pass

    def run_app(self, bid, refuse=False):
        """Start a simulated running app; returns its process once its pid file is written."""
        proc = self.spawn("sim", "run-app", bid, *(["--refuse-quit"] if refuse else []), frame=False)
        line = proc.stdout.readline().decode("utf-8")
        self.assertIn("running %s" % bid, line)
        return proc

    def stop(self, proc, sig=signal.SIGTERM):
        proc.send_signal(sig)
        return proc.wait(timeout=10)

    def read_file(self, path):
        with open(path, encoding="utf-8") as fh:
            return fh.read()

    def read_json(self, path):
        return json.loads(self.read_file(path))

    def sql(self, query):
        out = subprocess.run(["sqlite3", self.db, query], capture_output=True, timeout=30)
        self.assertEqual(out.returncode, 0, out.stderr)
        return out.stdout.decode("utf-8").strip()


def wait_for_line(stream, needle, limit=200):
    for _ in range(limit):
        line = stream.readline()
        if not line:
            break
        if needle in line.decode("utf-8", "replace"):
            return True
    return False

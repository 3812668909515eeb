"""Settings and housekeeping: retention, telemetry, Developer Workbench, usage events, diagnostics."""

import os
import sys
import time

from . import common, store, world
from .store import sqlite3

POLICY_DEFAULTS = {"keep_per_app": 1, "retention_days": 30, "support_bundle_keep": 5, "log_max_mb": 2,
                   "os_snapshot_max_age_days": 90}


# ---------------------------------------------------------------- retention

def _policy(db):
    policy = {}
    for key, default in POLICY_DEFAULTS.items():
        try:
            policy[key] = int(db.setting("retention." + key, default))
        except (TypeError, ValueError):
            policy[key] = default
    return policy


def _consent(db):
    return {key: db.setting("retention." + key, "0") == "1" for key in ("granted", "asked", "auto_prune_allowed")}


def auto_prune_allowed(db):
    return _consent(db)["auto_prune_allowed"]


def plan(db):
    """Backups that the policy would remove: beyond keep_per_app or older than
    retention_days, but never the newest backup of an app."""
    policy = _policy(db)
    cutoff = time.time() - policy["retention_days"] * 86400
    chosen, usage = [], {"bytes": 0, "snapshot_count": 0}
    for _, items in world.all_backups().items():
        for index, item in enumerate(items):
            usage["bytes"] += item["bytes"]
            usage["snapshot_count"] += 1
            if index == 0:
                continue
            when = common.parse_compact_stamp(item["stamp"]) or 0
            if index >= policy["keep_per_app"] or when < cutoff:
                chosen.append(item)
    return chosen, usage


def _bundle_count():
    try:
        return len([n for n in os.listdir(common.logs_dir())
                    if n.startswith("support-bundle-") and n.endswith(".json")])
    except OSError:
        return 0


def retention_status(db):
    chosen, usage = plan(db)
    reclaim = sum(i["bytes"] for i in chosen)
    return {
        "policy": _policy(db),
        "consent": _consent(db),
        "usage": {"bytes": usage["bytes"], "snapshot_count": usage["snapshot_count"],
                  "bundle_count": _bundle_count(), "reclaimable_bytes": reclaim,
                  "reclaimable_count": len(chosen)},
        "pending_plan": {"count": len(chosen), "bytes": reclaim},
    }


def retention_set(db, keep, days):
    if not 1 <= keep <= 50:
        raise common.EngineError("Keep must be between 1 and 50 backups per app.", common.EXIT_USAGE)
    if not 1 <= days <= 3650:
        raise common.EngineError("Days must be between 1 and 3650.", common.EXIT_USAGE)
    with db.write():
        for key, value in (("keep_per_app", keep), ("retention_days", days)):
            db.execute("INSERT INTO settings(key, value) VALUES(?, ?) ON CONFLICT(key) DO UPDATE SET "
                       "value=excluded.value", ("retention." + key, str(value)))


def retention_consent(db, grant):
    values = {"granted": grant, "asked": True, "auto_prune_allowed": grant}
    with db.write():
        for key, value in values.items():
            db.execute("INSERT INTO settings(key, value) VALUES(?, ?) ON CONFLICT(key) DO UPDATE SET "
                       "value=excluded.value", ("retention." + key, "1" if value else "0"))


def apply_plan(db):
    chosen, _ = plan(db)
    removed = freed = 0
    for item in chosen:
        if common.is_within(item["dir"], common.backups_dir()):
            world.remove_tree(item["dir"])
            removed += 1
            freed += item["bytes"]
    return removed, freed


# ---------------------------------------------------------------- telemetry

def telemetry_status(db, knobs):
    custom = knobs.get("telemetry_line")
    if isinstance(custom, str):
        return custom if custom.endswith("\n") else custom + "\n"
    opted = db.setting("telemetry.opt_in", "0") == "1"
    lines = ["Telemetry opt-in: %s" % ("yes" if opted else "no"),
             "Nothing has been sent: this engine keeps usage counts on this Mac only."]
    stamp = db.setting("telemetry.changed_at")
    if stamp:
        lines.append("Last changed: %s" % stamp)
    return "\n".join(lines) + "\n"


def telemetry_set(db, action):
    with db.write():
        if action == "forget":
            db.execute("DELETE FROM settings WHERE key LIKE 'telemetry.%'")
        else:
            for key, value in (("telemetry.opt_in", "1" if action == "opt-in" else "0"),
                               ("telemetry.changed_at", common.iso_utc())):
                db.execute("INSERT INTO settings(key, value) VALUES(?, ?) ON CONFLICT(key) DO UPDATE SET "
                           "value=excluded.value", (key, value))
    return {"opt-in": "Telemetry is on. Nothing is sent until a report is due, and you can turn it off any time.",
            "opt-out": "Telemetry is off.",
            "forget": "Telemetry state forgotten; telemetry is off."}[action]


# ---------------------------------------------------------------- Developer Workbench

WORKBENCH_SOURCES = [("homebrewFormulaeEnabled", "Homebrew formulae"), ("homebrewCasksEnabled", "Homebrew casks"),
                     ("npmEnabled", "npm"), ("pythonEnabled", "Python packages"),
                     ("vendorInstallersEnabled", "vendor installers")]
STDIN_LIMIT = 1024 * 1024


def dev_set(stream):
    data = stream.read(STDIN_LIMIT + 1)
    if len(data) > STDIN_LIMIT:
        raise common.EngineError("The workbench settings are larger than 1 MiB.", common.EXIT_USAGE)
    import json
    try:
        state = json.loads(data.decode("utf-8"))
    except (UnicodeDecodeError, ValueError):
        raise common.EngineError("The workbench settings on stdin are not valid JSON.", common.EXIT_USAGE)
    if not isinstance(state, dict):
        raise common.EngineError("The workbench settings must be a JSON object.", common.EXIT_USAGE)
    common.write_atomic(common.workbench_path(), json.dumps(state, indent=2, ensure_ascii=False) + "\n")


def _read_workbench():
    path = common.workbench_path()
    if not os.path.exists(path):
        return {}, False
    state = common.read_json(path)
    if not isinstance(state, dict):
        return {}, True
    return state, False


def _join(items):
    if len(items) <= 1:
        return "".join(items)
    return ", ".join(items[:-1]) + " and " + items[-1]


def dev_report(kind):
    state, corrupted = _read_workbench()
    payload = {}
    if corrupted:
        payload = {"summary": "The Developer Workbench settings can't be read, so nothing was inspected "
                              "and nothing was applied.", "state_corrupted": True}
        return {"kind": kind, "payload": payload}
    if state.get("workbenchEnabled") is not True:
        return {"kind": kind, "payload": {"summary": "Developer Workbench is off."}}
    sources = [label for key, label in WORKBENCH_SOURCES if state.get(key) is True]
    folders = state.get("projectFolders")
    folders = [f for f in folders if isinstance(f, str) and f] if isinstance(folders, list) else []
    truncated = len(folders) > 12
    shown = folders[:12]
    where = ""
    if folders:
        where = " in %d project folder%s (%s%s)" % (len(folders), "" if len(folders) == 1 else "s",
                                                     ", ".join(shown), ", …" if truncated else "")
    if not sources:
        summary = "No sources are enabled%s, so there was nothing to look at; nothing was applied." % where
    elif kind == "inspect":
        summary = "Inspected %s%s; nothing was applied." % (_join(sources), where)
    else:
        import json
        counts = []
        for key, label in WORKBENCH_SOURCES:
            if state.get(key) is True:
                n = int(common.fraction("dev-plan", key, json.dumps(folders)) * 6)
                counts.append("%d %s" % (n, label))
        policy = "tracking only" if state.get("updatePolicy") != "ask_before_updating" else "asking before updating"
        summary = "Planned updates: %s are behind%s (%s); nothing was applied." % (_join(counts), where, policy)
    payload = {"summary": summary}
    if truncated:
        payload["truncated"] = True
    return {"kind": kind, "payload": payload}


# ---------------------------------------------------------------- usage events

def record_event(db, name):
    with db.write():
        db.execute("INSERT INTO experiment_events(name, at) VALUES(?, ?)", (name, common.iso_utc()))


# ---------------------------------------------------------------- diagnostics

def support_bundle(out_path, knobs):
    import json
    import platform
    logs = common.logs_dir()
    if out_path is None:
        out_path = os.path.join(logs, "support-bundle-%s.json" % time.strftime("%Y%m%dT%H%M%SZ", time.gmtime()))
    out_path = os.path.abspath(os.path.expanduser(out_path))
    allowed = [logs, common.data_dir(), common.engine_home()]
    parent = os.path.dirname(out_path)
    if not any(common.is_within(parent, a) for a in allowed):
        raise common.EngineError("The support bundle must be written under ~/Library/Logs/VARNO.", common.EXIT_USAGE)
    common.ensure_dir(parent)
    world.ensure()
    with store.connect() as db:
        apps = [store.record(r) for r in db.apps()]
        schema = [r[0] for r in db.query("SELECT name FROM schema_version ORDER BY name")]
        last_scan = db.one("SELECT value FROM scan_metadata WHERE key='last_scan'")
        retention = retention_status(db)
    bundle = {
        "generated_at": common.iso_utc(),
        "engine_version": common.engine_version(),
        "python": platform.python_version(),
        "platform": platform.platform(),
        "schema": schema,
        "last_scan": last_scan[0] if last_scan else None,
        "apps": [{k: a.get(k) for k in ("bundle_id", "app_name", "current_version", "latest_version",
                                         "update_mechanism", "version_check_status", "update_mode",
                                         "last_incident_code", "last_incident_kind") if k in a} for a in apps],
        "retention": retention,
        "scan_log_tail": _tail(common.scan_log_path(), 40),
    }
    common.write_atomic(out_path, json.dumps(bundle, indent=2, ensure_ascii=False) + "\n")
    return out_path


def _tail(path, count):
    try:
        with open(path, "rb") as fh:
            lines = fh.read()[-65536:].decode("utf-8", "replace").splitlines()
        return lines[-count:]
    except OSError:
        return []


def health_checks(name_python=True):
    """(label, ok, detail) rows; a healthy report never contains the word for a failed check.
    The self-test shows only failed rows: it passes name_python=False to leave the interpreter's
    version (and the platform module that reads it) out of a passing check."""
    rows = []
    python_ok = sys.version_info >= (3, 9)
    if name_python or not python_ok:
        import platform
        python = "Python %s" % platform.python_version()
    else:
        python = "Python"
    rows.append((python, python_ok, "" if python_ok else "Python 3.9 or newer is needed"))
    for label, folder in (("Data folder", common.data_dir()), ("Log folder", common.logs_dir())):
        try:
            common.ensure_dir(folder)
            ok = os.access(folder, os.W_OK)
        except OSError:
            ok = False
        rows.append((label, ok, "" if ok else "%s is not writable" % folder))
    try:
        with store.connect() as db:
            names = {r[0] for r in db.query("SELECT name FROM schema_version")}
            check = db.one("PRAGMA quick_check")[0]
            count = db.one("SELECT COUNT(*) FROM apps")[0]
        missing = [n for n, _ in store.MIGRATIONS if n not in names]
        rows.append(("Database schema", not missing, "missing %s" % ", ".join(missing) if missing else ""))
        rows.append(("Database integrity", check == "ok", "" if check == "ok" else str(check)[:120]))
        rows.append(("Library: %d app(s)" % count, True, ""))
    except (common.EngineError, sqlite3.Error) as exc:
        rows.append(("Database", False, str(exc)[:160]))
    rows.append(("Simulated Mac", world.exists(), "" if world.exists() else "no simulated world yet"))
    legacy = os.path.exists(os.path.join(common.engine_home(), "db.py"))
    rows.append(("No legacy engine files", not legacy, "a legacy db.py is present" if legacy else ""))
    return rows


def doctor_text():
    rows = health_checks()
    lines = ["VARNO engine %s health check" % common.engine_version()]
    for label, ok, detail in rows:
        lines.append("  [%s] %s%s" % ("ok" if ok else "FAIL", label, (": " + detail) if detail else ""))
    bad = [r for r in rows if not r[1]]
    lines.append("Found %d problem(s)." % len(bad) if bad else "All checks passed.")
    return "\n".join(lines) + "\n", not bad


def selftest():
    bad = [r for r in health_checks(name_python=False) if not r[1] and r[0] != "Simulated Mac"]
    if bad:
        raise common.EngineError("Self-test: %s (%s)." % (bad[0][0], bad[0][2] or "not healthy"))


def privacy_audit():
    world.ensure()
    with store.connect() as db:
        counts = {table: db.one("SELECT COUNT(*) FROM %s" % table)[0]
                  for table in ("apps", "provenance_events", "experiment_events", "contributions")}
        stored = db.query("SELECT key, value FROM settings ORDER BY key")
        events = db.query("SELECT name, COUNT(*) AS n FROM experiment_events GROUP BY name ORDER BY name")
    _, usage = plan_usage()
    lines = [
        "What VARNO keeps on this Mac:",
        "  %s" % common.db_path(),
        "    %d app record(s), %d update history entries, %d usage event(s), %d contribution(s)" % (
            counts["apps"], counts["provenance_events"], counts["experiment_events"], counts["contributions"]),
    ]
    for row in events:
        lines.append("    usage event %s: %d" % (row["name"], row["n"]))
    for row in stored:
        lines.append("    setting %s = %s" % (row["key"], row["value"]))
    lines += [
        "  %s" % common.backups_dir(),
        "    %d backup(s), %d bytes" % (usage["snapshot_count"], usage["bytes"]),
        "  %s  logs and support bundles (%d bundle(s))" % (common.logs_dir(), _bundle_count()),
        "What VARNO sends: nothing. This engine makes no network connections.",
    ]
    return "\n".join(lines) + "\n"


def plan_usage():
    with store.connect() as db:
        return plan(db)

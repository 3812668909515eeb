"""The library: scan, list, trust seal, provenance and backup status."""

import json
import os

from . import common, store, world

SELF_MANAGED_MECHANISMS = ("vendor_self_update", "sparkle_internal")


# ---------------------------------------------------------------- derived fields

def is_excluded(row):
    return bool(row["user_ignored"]) or row["update_mode"] == "ignore"


def compute_status(current, latest, mechanism, self_managed, excluded):
    if not latest:
        if self_managed or mechanism in SELF_MANAGED_MECHANISMS or mechanism == "mas":
            return "unmeasured"
        return "unknown"
    if excluded:
        return "excluded"
    order = common.compare_versions(current, latest)
    if order < 0:
        return "outdated"
    if order > 0:
        return "catalog_stale"
    return "current"


def catalog_fields(cat, current, excluded):
    """The apps columns that follow from the catalog entry and the installed version."""
    mech = cat.get("mechanism") if isinstance(cat.get("mechanism"), str) else "unknown"
    latest = cat.get("latest") if isinstance(cat.get("latest"), str) else None
    self_managed = cat.get("self_managed") is True
    fields = {
        "latest_version": latest,
        "update_mechanism": mech,
        "cask_token": _text(cat.get("cask_token")),
        "mas_id": _text(cat.get("mas_id")),
        "vendor_updater_name": _text(cat.get("vendor_updater_name")),
        "cask_match_confidence": _text(cat.get("cask_match_confidence")),
        "latest_source": _text(cat.get("latest_source")),
        "unmanaged_state": _text(cat.get("unmanaged_state")),
        "trigger_kind": _text(cat.get("trigger_kind")),
        "risk_tier": _text(cat.get("risk_tier")),
        "risk_score": _int(cat.get("risk_score")),
        "community_sha256_count": _int(cat.get("community_count")),
        "self_managed": _flag(cat.get("self_managed")),
        "vendor_self_update": _flag(cat.get("vendor_self_update")),
        "can_trigger_self_update": _flag(cat.get("can_trigger_self_update")),
    }
    if cat.get("report_status") is False:
        fields["version_check_status"] = None
    else:
        fields["version_check_status"] = compute_status(current, latest, mech, self_managed, excluded)
    return fields


def _text(value):
    if value is None:
        return None
    return value if isinstance(value, str) else str(value)


def _int(value):
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        return None
    return int(value)


def _flag(value):
    return None if value is None else (1 if value is True else 0)


def refresh_row(db, bundle_id, cat=None):
    """Recompute the catalog-derived columns of one row after any change."""
    row = db.app(bundle_id)
    if row is None:
        return None
    entry = world.catalog_entry(bundle_id, cat)
    db.update_app(bundle_id, **catalog_fields(entry, row["current_version"], is_excluded(row)))
    return db.app(bundle_id)


def seal_verdict(bundle_id, row, cat=None):
    entry = world.catalog_entry(bundle_id, cat)
    community = entry.get("community_count") if isinstance(entry.get("community_count"), int) else 0
    team_now = entry.get("team_id") or ""
    disk = world.find_installed(bundle_id, row["install_path"] if row is not None else None)
    team_disk = disk["team_id"] if disk else team_now
    checks = {
        "code_signature_valid": entry.get("signature_ok", True) is True,
        "team_id_continuity": bool(team_now) and team_now == team_disk,
        "download_checksum_matches": entry.get("checksum_ok", True) is True,
        "notarized": entry.get("notarized", True) is True,
        "community_consensus": community >= 3,
    }
    verified = (checks["code_signature_valid"] and checks["team_id_continuity"]
                and checks["download_checksum_matches"])
    green = verified and checks["notarized"] and checks["community_consensus"]
    return green, verified, checks


def evidence_fields(bundle_id, version, cat=None):
    entry = world.catalog_entry(bundle_id, cat)
    return {
        "last_sha256": world.sha_for(bundle_id, version),
        "last_team_id": entry.get("team_id") or None,
        "last_cdn_domain": entry.get("cdn_domain") or None,
    }


# ---------------------------------------------------------------- scan

SEED_STATE_KEYS = {
    "update_mode", "user_ignored", "green_seal", "verified_path", "update_count", "last_updated",
    "last_update_source", "version_first_seen", "last_sha256", "last_team_id", "last_cdn_domain",
}


def _merge_seed_rows(db, cat, log):
    """Library state an earlier engine left behind: merged once, by the first scan."""
    path = world.seed_rows_path()
    doc = common.read_json(path)
    if doc is None:
        return
    rows = doc.get("apps") if isinstance(doc, dict) else None
    events = doc.get("provenance") if isinstance(doc, dict) else None
    with db.write():
        for seed in rows if isinstance(rows, list) else []:
            if not isinstance(seed, dict):
                continue
            bid, name = seed.get("bundle_id"), seed.get("app_name")
            if not isinstance(bid, str) or not isinstance(name, str) or db.app(bid) is not None:
                continue
            entry = world.catalog_entry(bid, cat)
            fields = {"bundle_id": bid, "app_name": name,
                      "current_version": _text(seed.get("current_version")),
                      "install_path": _text(seed.get("install_path")),
                      "update_mode": "auto", "user_ignored": 0}
            for key in SEED_STATE_KEYS:
                if isinstance(seed.get(key), (str, int, float)):   # bool is an int
                    value = seed[key]
                    fields[key] = (1 if value else 0) if isinstance(value, bool) else value
            if seed.get("evidence"):
                for key, value in evidence_fields(bid, seed.get("current_version") or "", cat).items():
                    fields.setdefault(key, value)
            incident = seed.get("incident")
            if isinstance(incident, dict) and incident.get("kind") in ("failed", "skipped"):
                fields["last_incident_kind"] = incident["kind"]
                fields["last_incident_code"] = _text(incident.get("code"))
                fields["last_incident_at"] = common.iso_utc()
            fields.update(catalog_fields(entry, fields["current_version"],
                                         bool(fields["user_ignored"]) or fields["update_mode"] == "ignore"))
            db.insert_app(fields)
        for ev in events if isinstance(events, list) else []:
            if isinstance(ev, dict) and isinstance(ev.get("bundle_id"), str) \
                    and isinstance(ev.get("timestamp"), str):
                entry = world.catalog_entry(ev["bundle_id"], cat)
                db.execute(
                    "INSERT INTO provenance_events(bundle_id, app_name, from_version, to_version, source, "
                    "timestamp, sha256, cdn_domain, team_id, update_count, backup_path) "
                    "VALUES(?,?,?,?,?,?,?,?,?,?,?)",
                    (ev["bundle_id"], ev.get("app_name"), ev.get("from_version"), ev.get("to_version"),
                     ev.get("source"), ev["timestamp"],
                     ev.get("sha256") or world.sha_for(ev["bundle_id"], ev.get("to_version") or ""),
                     ev.get("cdn_domain") or entry.get("cdn_domain"), ev.get("team_id") or entry.get("team_id"),
                     ev.get("update_count"), ev.get("backup_path")))
    try:
        os.unlink(path)
    except OSError:
        pass
    log("merged the library state found from an earlier engine")


def write_ghosts(ghosts):
    """Add ghosts to ghosts.json (the app deletes the file when the user dismisses it)."""
    if not ghosts:
        return
    existing = common.read_json(common.ghosts_path(), [])
    merged, seen = [], set()
    if isinstance(existing, list):
        for g in existing:
            if isinstance(g, dict) and all(isinstance(g.get(k), str) for k in
                                           ("bundle_id", "app_name", "install_path", "cask_token")):
                merged.append({k: g[k] for k in ("bundle_id", "app_name", "install_path", "cask_token")})
                seen.add(g["bundle_id"])
    for g in ghosts:
        if g["bundle_id"] not in seen:
            merged.append(g)
            seen.add(g["bundle_id"])
    common.write_json(common.ghosts_path(), merged)


def scan(knobs, verbose=False):
    from . import actions, settings  # late: both build on this module
    world.ensure()
    lines = []

    def log(text):
        lines.append(text)
        if verbose:
            common.out(text + "\n")

    problems_log = []
    with store.connect() as db:
        cat = world.load_catalog()
        _merge_seed_rows(db, cat, log if verbose else (lambda t: None))
        disk, problems = world.installed_apps()
        for p in problems:
            problems_log.append("scan: skipped %s" % p)
            log("skipped %s" % p)
        if verbose:
            log("Scanning %d app(s) in %s" % (len(disk), world.apps_dir()))
        per_app = 2.0 / max(len(disk), 20)
        ghosts = []
        for bid in sorted(disk, key=lambda b: disk[b]["app_name"].lower()):
            info = disk[bid]
            knobs.pace(per_app)
            entry = world.catalog_entry(bid, cat)
            with db.write():
                row = db.app(bid)
                if row is None:
                    fields = {"bundle_id": bid, "app_name": info["app_name"],
                              "current_version": info["version"], "install_path": info["path"],
                              "update_mode": "auto", "user_ignored": 0,
                              "version_first_seen": common.iso_utc()}
                    fields.update(catalog_fields(entry, info["version"], False))
                    db.insert_app(fields)
                else:
                    changes = {"app_name": info["app_name"], "install_path": info["path"],
                               "current_version": info["version"]}
                    if row["current_version"] != info["version"]:
                        changes["version_first_seen"] = common.iso_utc()
                        changes.update(green_seal=None, seal_checked_at=None)
                    db.update_app(bid, **changes)
                    db.update_app(bid, **catalog_fields(entry, info["version"], is_excluded(db.app(bid))))
            row = db.app(bid)
            if verbose:
                log("  %-22s %-14s %-20s %s" % (row["app_name"], row["current_version"] or "?",
                                               row["update_mechanism"] or "unknown",
                                               row["version_check_status"] or "(no status)"))
        with db.write():
            for row in db.apps():
                if row["bundle_id"] in disk:
                    continue
                token = row["cask_token"] or ""
                ghosts.append({"bundle_id": row["bundle_id"], "app_name": row["app_name"],
                               "install_path": row["install_path"] or "", "cask_token": token})
                db.execute("DELETE FROM apps WHERE bundle_id=?", (row["bundle_id"],))
        write_ghosts(ghosts)
        for g in ghosts:
            problems_log.append("scan: %s (%s) is no longer on disk; moved to ghosts" % (g["app_name"], g["bundle_id"]))
            log("%s is no longer on disk" % g["app_name"])
        # Updates the user deferred until the app quits.
        for row in db.query("SELECT bundle_id FROM apps WHERE update_on_quit=1"):
            bid = row["bundle_id"]
            if world.is_running(bid):
                continue
            result = actions.update_on_quit(db, bid, knobs)
            log("update on quit for %s: %s" % (bid, result))
        if settings.auto_prune_allowed(db):
            removed, freed = settings.apply_plan(db)
            if removed:
                log("retention: removed %d old backup(s), %d bytes" % (removed, freed))
        with db.write():
            db.set_metadata("last_scan", common.iso_utc())
            db.set_metadata("last_scan_app_count", str(len(disk)))
        counts = {}
        for row in db.apps():
            key = row["version_check_status"] or "(none)"
            counts[key] = counts.get(key, 0) + 1
        if verbose:
            log("Scan finished: %d app(s); %s" % (
                len(disk), ", ".join("%s %d" % (k, counts[k]) for k in sorted(counts)) or "nothing found"))
    if problems_log:
        stamp = common.iso_utc()
        try:
            for text in problems_log[-200:]:
                common.append_line(common.scan_log_path(), "[%s] %s" % (stamp, text))
        except OSError:
            pass
    return lines


# ---------------------------------------------------------------- list

def list_records(outdated_only=False):
    world.ensure()
    with store.connect() as db:
        rows = db.apps()
    records = [store.record(r) for r in rows]
    if outdated_only:
        records = [r for r in records if _outdated(r)]
    return records


def _outdated(rec):
    if rec.get("user_ignored") or rec.get("update_mode") == "ignore":
        return False
    status = rec.get("version_check_status")
    if status:
        return status.lower() == "outdated"
    cur, latest = rec.get("current_version"), rec.get("latest_version")
    if not cur or not latest or latest.lower() in ("latest", "unknown"):
        return False
    return common.compare_versions(cur, latest) < 0


def render_list_json(records):
    """One array; each object on its own line and starting with {"bundle_id"."""
    if not records:
        return "[]\n"
    return "[\n" + ",\n".join(json.dumps(r, ensure_ascii=False) for r in records) + "\n]\n"


def render_list_text(records):
    if not records:
        return "No apps in the library yet. Run `varno scan`.\n"
    lines = []
    for r in records:
        lines.append("%-24s %-14s -> %-12s %-20s %s" % (
            r["app_name"], r.get("current_version", "?"), r.get("latest_version", "-"),
            r.get("update_mechanism", "unknown"), r.get("version_check_status", "")))
    return "\n".join(lines) + "\n"


# ---------------------------------------------------------------- seal

def seal(bundle_id):
    world.ensure()
    with store.connect() as db:
        row = db.require_app(bundle_id)
        green, verified, checks = seal_verdict(bundle_id, row)
        with db.write():
            db.update_app(bundle_id, green_seal=1 if green else 0, verified_path=1 if verified else 0,
                          seal_checked_at=common.iso_utc())
    return {"bundle_id": bundle_id, "green_seal": green, "verified_path": verified, "checks": checks}


# ---------------------------------------------------------------- provenance

PROVENANCE_KEYS = ["app_name", "from_version", "to_version", "source", "timestamp", "sha256",
                   "cdn_domain", "team_id", "update_count", "backup_path"]


def provenance(bundle_id=None):
    world.ensure()
    with store.connect() as db:
        if bundle_id is None:
            rows = db.query("SELECT * FROM provenance_events ORDER BY timestamp DESC, id DESC")
        else:
            rows = db.query("SELECT * FROM provenance_events WHERE bundle_id=? "
                            "ORDER BY timestamp DESC, id DESC", (bundle_id,))
    result = []
    for row in rows:
        rec = {"bundle_id": row["bundle_id"]}
        for key in PROVENANCE_KEYS:
            value = row[key]
            if value is None:
                continue
            rec[key] = int(value) if key == "update_count" else str(value)
        result.append(rec)
    return result


def add_provenance(db, bundle_id, app_name, from_version, to_version, source, backup_path=None, cat=None):
    """Record one change of an app; timestamps stay unique per app, to the second."""
    entry = world.catalog_entry(bundle_id, cat)
    now = common.utc_now()
    stamp = common.iso_utc(now)
    last = db.one("SELECT timestamp FROM provenance_events WHERE bundle_id=? ORDER BY timestamp DESC LIMIT 1",
                  (bundle_id,))
    if last is not None:
        last_dt = common.parse_iso_utc(last[0])
        if last_dt is not None and last_dt >= now:
            from datetime import timedelta
            stamp = common.iso_utc(last_dt + timedelta(seconds=1))
    count = db.one("SELECT update_count FROM apps WHERE bundle_id=?", (bundle_id,))
    update_count = (count[0] or 0) if count is not None else None
    db.execute(
        "INSERT INTO provenance_events(bundle_id, app_name, from_version, to_version, source, timestamp, "
        "sha256, cdn_domain, team_id, update_count, backup_path) VALUES(?,?,?,?,?,?,?,?,?,?,?)",
        (bundle_id, app_name, from_version, to_version, source, stamp,
         world.sha_for(bundle_id, to_version or ""), entry.get("cdn_domain"), entry.get("team_id"),
         update_count, backup_path))
    return stamp


# ---------------------------------------------------------------- backup status

def backup_status(bundle_id, knobs):
    world.ensure()
    with store.connect() as db:
        db.require_app(bundle_id)
    reason = knobs.get("backup_reason")
    if isinstance(reason, str):
        return {"available": False, "reason": reason}
    items = world.list_backups(bundle_id)
    if items:
        newest = items[0]
        rec = {"available": True, "backup_dir": newest["dir"], "timestamp": newest["stamp"],
               "bytes": newest["bytes"]}
        if newest["app_path"]:
            rec["backup_path"] = newest["app_path"]
        return rec
    entry = world.catalog_entry(bundle_id)
    if isinstance(entry.get("backup_reason"), str):
        return {"available": False, "reason": entry["backup_reason"]}
    return {"available": False, "reason": "no backup has been taken yet"}

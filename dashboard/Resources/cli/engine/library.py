"""The library: the fields derived from the catalog, list, update modes, trust seal, provenance and
backup status (the scan that fills it is in scanning)."""

from . import common, store, world

SELF_MANAGED_MECHANISMS = ("vendor_self_update", "sparkle_internal")
UPDATE_MODES = ("auto", "ask", "notify", "ignore", "self")


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
    from . import jsontext
    return "[\n" + ",\n".join(jsontext.dumps(r, ensure_ascii=False) for r in records) + "\n]\n"


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


# ---------------------------------------------------------------- update modes

def set_mode(bundle_id, mode, on_quit):
    world.ensure()
    with store.connect() as db:
        row = db.require_app(bundle_id)
        with db.write():
            if on_quit:
                db.update_app(bundle_id, update_on_quit=1)
            if mode is not None:
                db.update_app(bundle_id, update_mode=mode)
                refresh_row(db, bundle_id)
    if on_quit:
        common.out("VARNO will update %s after you quit it.\n" % row["app_name"])
    if mode is not None:
        common.out("%s: update mode is now %s.\n" % (row["app_name"], mode))

"""The scan: the simulated Mac's installed apps read into the library, ghosts for apps gone from disk,
deferred updates of apps that quit, and the first scan's merge of an earlier engine's library."""

import os

from . import common, library, store, world


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
                      "current_version": library._text(seed.get("current_version")),
                      "install_path": library._text(seed.get("install_path")),
                      "update_mode": "auto", "user_ignored": 0}
            for key in SEED_STATE_KEYS:
                if isinstance(seed.get(key), (str, int, float)):   # bool is an int
                    value = seed[key]
                    fields[key] = (1 if value else 0) if isinstance(value, bool) else value
            if seed.get("evidence"):
                for key, value in library.evidence_fields(bid, seed.get("current_version") or "", cat).items():
                    fields.setdefault(key, value)
            incident = seed.get("incident")
            if isinstance(incident, dict) and incident.get("kind") in ("failed", "skipped"):
                fields["last_incident_kind"] = incident["kind"]
                fields["last_incident_code"] = library._text(incident.get("code"))
                fields["last_incident_at"] = common.iso_utc()
            fields.update(library.catalog_fields(entry, fields["current_version"],
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
    from . import actions, settings  # late: actions imports this module
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
                    fields.update(library.catalog_fields(entry, info["version"], False))
                    db.insert_app(fields)
                else:
                    changes = {"app_name": info["app_name"], "install_path": info["path"],
                               "current_version": info["version"]}
                    if row["current_version"] != info["version"]:
                        changes["version_first_seen"] = common.iso_utc()
                        changes.update(green_seal=None, seal_checked_at=None)
                    db.update_app(bid, **changes)
                    excluded = library.is_excluded(db.app(bid))
                    db.update_app(bid, **library.catalog_fields(entry, info["version"], excluded))
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

"""The world builder: a fresh simulated Mac from a seed (demo, empty, no-mas, large:N or file:PATH),
and the reset that forgets the engine's data. Only a first run and `sim reset` need it."""

import os

from . import common, world


def team_id_for(text):
    import base64
    import hashlib
    raw = hashlib.sha256(("team:" + text).encode("utf-8")).digest()
    return base64.b32encode(raw).decode("ascii")[:10]


def slug(name):
    s = "".join(ch.lower() if ch.isalnum() else "-" for ch in name).strip("-")
    while "--" in s:
        s = s.replace("--", "-")
    return s or "app"


def seed_document(seed):
    """The world description for a seed name."""
    seed = (seed or "demo").strip()
    if seed == "demo":
        return _demo()
    if seed == "empty":
        return {"apps": []}
    if seed == "no-mas":
        doc = _demo()
        doc["apps"] = [a for a in doc["apps"]
                       if a.get("catalog", {}).get("mechanism") != "mas"]
        return doc
    if seed.startswith("large:"):
        try:
            count = int(seed[6:])
        except ValueError:
            count = -1
        if not 0 <= count <= 5000:
            raise common.EngineError("The seed large:N takes a number of apps from 0 to 5000.",
                                     common.EXIT_USAGE)
        return _large(count)
    if seed.startswith("file:"):
        doc = common.read_json(os.path.expanduser(seed[5:]))
        if not isinstance(doc, dict) or not isinstance(doc.get("apps"), list):
            raise common.EngineError("The seed file %s is not a world description ({\"apps\": [...]})."
                                     % seed[5:], common.EXIT_USAGE)
        return doc
    raise common.EngineError("Unknown seed %r; use demo, empty, no-mas, large:N or file:PATH." % seed,
                             common.EXIT_USAGE)


def _demo():
    doc = common.read_json(os.path.join(common.ENGINE_DIR, "demo_library.json"))
    if not isinstance(doc, dict) or not isinstance(doc.get("apps"), list):
        raise common.EngineError("The demo library that ships with the engine is damaged.")
    return doc


def _large(count):
    mechs = [("cask", None), ("mas", None), ("sparkle", None), ("vendor_self_update", None),
             ("cask", None), ("sparkle", None), ("unknown", None)]
    apps = []
    for i in range(count):
        mech = mechs[i % len(mechs)][0]
        name = "Synth App %04d" % (i + 1)
        bid = "org.sim.synth%04d" % (i + 1)
        minor = i % 5
        cat = {"latest": "2.%d" % (minor + (1 if i % 3 == 0 else 0)), "mechanism": mech}
        if mech == "cask":
            cat["cask_token"] = "synth-app-%04d" % (i + 1)
        if mech == "mas":
            cat["mas_id"] = str(1300000000 + i)
        if mech == "vendor_self_update":
            cat.update({"self_managed": True, "vendor_self_update": True})
        if mech == "unknown":
            cat["latest"] = None
        apps.append({"bundle_id": bid, "app_name": name, "version": "2.%d" % minor, "catalog": cat})
    return {"apps": apps}


def _clean_catalog(entry, bundle_id, name, team):
    cat = dict(entry) if isinstance(entry, dict) else {}
    cat.setdefault("mechanism", "unknown")
    cat.setdefault("team_id", team)
    cat.setdefault("cdn_domain", "%s.cdn.example" % slug(name))
    cat.setdefault("signature_ok", True)
    cat.setdefault("checksum_ok", True)
    cat.setdefault("notarized", True)
    cat.setdefault("community_count", 0)
    return cat


def create(seed=None, doc=None):
    """Build a fresh world from a seed (or its document, read already); the engine's data of an older
    world is left alone."""
    seed = seed or os.environ.get("VARNO_SIM_SEED", "").strip() or "demo"
    doc = seed_document(seed) if doc is None else doc
    base = world.root()
    if os.path.isdir(base):
        for name in ("Applications", "running", "Trash"):
            world.remove_tree(os.path.join(base, name))
        for name in ("catalog.json", "seed_rows.json", "world.json"):
            try:
                os.unlink(os.path.join(base, name))
            except OSError:
                pass
    common.ensure_dir(base)
    common.ensure_dir(world.apps_dir())
    common.ensure_dir(world.running_dir())
    catalog, rows, provenance = {}, [], []
    seen = set()
    for app in doc["apps"]:
        if not isinstance(app, dict):
            continue
        bid, name = app.get("bundle_id"), app.get("app_name")
        version = app.get("version", "1.0")
        if not isinstance(bid, str) or not bid or not isinstance(name, str) or not name or bid in seen:
            continue
        if not isinstance(version, str):
            version = str(version)
        seen.add(bid)
        team = app.get("team_id") if isinstance(app.get("team_id"), str) else team_id_for(bid)
        path = world.app_path_for(name)
        installed = app.get("installed", True) is not False
        if installed:
            world.write_info(path, bid, name, version, team)
        cat = _clean_catalog(app.get("catalog"), bid, name, team)
        if isinstance(app.get("size_mb"), (int, float)) and not isinstance(app.get("size_mb"), bool):
            cat["size_mb"] = app["size_mb"]
        catalog[bid] = cat
        state = app.get("state")
        if isinstance(state, dict) or not installed:
            row = dict(state) if isinstance(state, dict) else {}
            row.update({"bundle_id": bid, "app_name": name, "current_version": version,
                        "install_path": path})
            rows.append(row)
        events = app.get("provenance")
        for event in events if isinstance(events, list) else []:
            if isinstance(event, dict):
                ev = dict(event)
                ev.setdefault("bundle_id", bid)
                ev.setdefault("app_name", name)
                provenance.append(ev)
        backups = app.get("backups")
        for backup in backups if isinstance(backups, list) else []:
            if installed and isinstance(backup, dict) and isinstance(backup.get("stamp"), str):
                _seed_backup(bid, name, team, backup, cat)
    world.save_catalog(catalog)
    common.write_json(world.seed_rows_path(), {"apps": rows, "provenance": provenance})
    common.write_json(os.path.join(base, "world.json"), {"seed": seed, "created": common.iso_utc()})


def _seed_backup(bid, name, team, backup, cat):
    stamp = backup["stamp"]
    if common.parse_compact_stamp(stamp) is None:
        return
    target = os.path.join(world.backup_root(bid), stamp)
    bundle = "%s.app" % world.safe_bundle_name(name)
    version = str(backup.get("version", "0"))
    world.write_info(os.path.join(target, bundle), bid, name, version, team)
    size = backup.get("size_mb", cat.get("size_mb", 40))
    if not isinstance(size, (int, float)) or isinstance(size, bool) or size < 0:
        size = 40
    common.write_json(os.path.join(target, "meta.json"), {
        "bundle_id": bid, "app_name": name, "version": version, "bundle": bundle,
        "bytes": int(float(size) * 1024 * 1024), "created": common.iso_utc(),
    })


def wipe_engine_state():
    """Forget everything the engine stored (database, ghosts, backups, workbench)."""
    for suffix in ("", "-wal", "-shm", "-journal"):
        try:
            os.unlink(common.db_path() + suffix)
        except OSError:
            pass
    for path in (common.ghosts_path(), common.workbench_path()):
        try:
            os.unlink(path)
        except OSError:
            pass
    world.remove_tree(common.backups_dir())

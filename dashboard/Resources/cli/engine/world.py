"""The simulated Mac: installed apps on disk, the update catalog, running apps, backups.

Layout under the sim root:
  world.json                         the seed that made this world
  Applications/<Name>.app/Contents/Info.json   {bundle_id, app_name, version, team_id}
  catalog.json                       what the update sources know, by bundle id
  seed_rows.json                     library state an earlier engine left, merged by the first scan
  running/<bundle id>.pid            apps started with `sim run-app`
  Trash/                             removed apps
Backups live with the engine's data: <data>/backups/<bundle id>/<yyyyMMdd-HHmmss>/.
"""

import base64
import hashlib
import json
import os
import plistlib
import shutil

from . import common


def root():
    return common.sim_root()


def apps_dir():
    return os.path.join(root(), "Applications")


def catalog_path():
    return os.path.join(root(), "catalog.json")


def seed_rows_path():
    return os.path.join(root(), "seed_rows.json")


def running_dir():
    return os.path.join(root(), "running")


def trash_dir():
    return os.path.join(root(), "Trash")


def exists():
    return os.path.isfile(os.path.join(root(), "world.json"))


# ---------------------------------------------------------------- identities

def team_id_for(text):
    raw = hashlib.sha256(("team:" + text).encode("utf-8")).digest()
    return base64.b32encode(raw).decode("ascii")[:10]


def sha_for(bundle_id, version):
    return common.digest("artifact", bundle_id, version)


def slug(name):
    s = "".join(ch.lower() if ch.isalnum() else "-" for ch in name).strip("-")
    while "--" in s:
        s = s.replace("--", "-")
    return s or "app"


# ---------------------------------------------------------------- disk

def app_path_for(name):
    return os.path.join(apps_dir(), "%s.app" % safe_bundle_name(name))


def safe_bundle_name(name):
    cleaned = name.replace("/", "-").replace("\x00", "").strip() or "App"
    if cleaned in (".", ".."):
        cleaned = "App"
    return cleaned


def info_path(app_dir):
    return os.path.join(app_dir, "Contents", "Info.json")


def write_info(app_dir, bundle_id, app_name, version, team_id):
    """Info.json is what the simulated Mac reads; Info.plist is there for tools that
    look at app bundles the usual way."""
    common.ensure_dir(os.path.join(app_dir, "Contents"))
    common.write_json(info_path(app_dir), {
        "bundle_id": bundle_id, "app_name": app_name, "version": version, "team_id": team_id,
    })
    plist = {"CFBundleIdentifier": bundle_id, "CFBundleName": app_name, "CFBundleDisplayName": app_name,
             "CFBundleShortVersionString": version, "CFBundleVersion": version,
             "CFBundleExecutable": app_name.replace("/", "-"), "CFBundlePackageType": "APPL"}
    common.write_atomic(os.path.join(app_dir, "Contents", "Info.plist"), plistlib.dumps(plist))


def read_info(app_dir):
    """The Info.json of one app folder, or (None, reason) when it is unusable."""
    data = common.read_json(info_path(app_dir))
    if not isinstance(data, dict):
        return None, "Info.json is missing or not a JSON object"
    bid, name, version = data.get("bundle_id"), data.get("app_name"), data.get("version")
    if not isinstance(bid, str) or not bid.strip():
        return None, "Info.json has no bundle_id"
    if not isinstance(name, str) or not name.strip():
        return None, "Info.json has no app_name"
    if not isinstance(version, str):
        return None, "Info.json has no version"
    team = data.get("team_id")
    return {"bundle_id": bid, "app_name": name, "version": version,
            "team_id": team if isinstance(team, str) else "", "path": app_dir}, None


def installed_apps():
    """(apps by bundle id, problems) for every .app folder on the simulated disk."""
    found, problems = {}, []
    folder = apps_dir()
    try:
        names = sorted(os.listdir(folder))
    except OSError:
        names = []
    for entry in names:
        if not entry.endswith(".app"):
            continue
        path = os.path.join(folder, entry)
        if not os.path.isdir(path):
            continue
        info, problem = read_info(path)
        if info is None:
            problems.append("%s: %s" % (entry, problem))
            continue
        if info["bundle_id"] in found:
            problems.append("%s: bundle id %s is already installed at %s"
                            % (entry, info["bundle_id"], found[info["bundle_id"]]["path"]))
            continue
        found[info["bundle_id"]] = info
    return found, problems


def find_installed(bundle_id, hint=None):
    """The installed app with this bundle id; hint is where it was last seen."""
    if hint and os.path.isdir(hint) and common.is_within(hint, apps_dir()):
        info, _ = read_info(hint)
        if info is not None and info["bundle_id"] == bundle_id:
            return info
    apps, _ = installed_apps()
    return apps.get(bundle_id)


def set_installed_version(info, version):
    write_info(info["path"], info["bundle_id"], info["app_name"], version, info.get("team_id", ""))


# ---------------------------------------------------------------- catalog

def load_catalog():
    cat = common.read_json(catalog_path(), {})
    return cat if isinstance(cat, dict) else {}


def save_catalog(cat):
    common.write_json(catalog_path(), cat)


def catalog_entry(bundle_id, cat=None):
    cat = load_catalog() if cat is None else cat
    entry = cat.get(bundle_id)
    return entry if isinstance(entry, dict) else {}


def update_catalog(bundle_id, **changes):
    cat = load_catalog()
    entry = dict(catalog_entry(bundle_id, cat))
    for key, value in changes.items():
        if value is None:
            entry.pop(key, None)
        else:
            entry[key] = value
    cat[bundle_id] = entry
    save_catalog(cat)
    return entry


# ---------------------------------------------------------------- running apps

def pid_file(bundle_id):
    return os.path.join(running_dir(), common.safe_name(bundle_id) + ".pid")


def _alive(pid, bundle_id):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    except OSError:
        return False
    proc = "/proc/%d" % pid
    if os.path.isdir("/proc/self"):
        try:
            with open(proc + "/stat", "rb") as fh:
                stat = fh.read().decode("ascii", "replace")
            if stat.rsplit(")", 1)[-1].split()[:1] == ["Z"]:
                return False
            with open(proc + "/cmdline", "rb") as fh:
                cmdline = fh.read().decode("utf-8", "replace")
            return bundle_id in cmdline
        except OSError:
            return False
    return True


def running_pid(bundle_id):
    """The pid of the simulated running app, or None; stale pid files are removed."""
    path = pid_file(bundle_id)
    try:
        with open(path, encoding="utf-8") as fh:
            pid = int(fh.read().strip() or "0")
    except (OSError, ValueError):
        return None
    if pid > 0 and _alive(pid, bundle_id):
        return pid
    try:
        os.unlink(path)
    except OSError:
        pass
    return None


def is_running(bundle_id):
    return running_pid(bundle_id) is not None


# ---------------------------------------------------------------- backups

def backup_root(bundle_id):
    return os.path.join(common.backups_dir(), common.safe_name(bundle_id))


def list_backups(bundle_id):
    """Backups of one app, newest first: dicts with dir, stamp, version, bytes, app_path."""
    return _backups_in(backup_root(bundle_id))


def _backups_in(folder):
    try:
        stamps = sorted(os.listdir(folder), reverse=True)
    except OSError:
        return []
    result = []
    for stamp in stamps:
        path = os.path.join(folder, stamp)
        if not os.path.isdir(path) or common.parse_compact_stamp(stamp) is None:
            continue
        meta = common.read_json(os.path.join(path, "meta.json"), {})
        if not isinstance(meta, dict):
            meta = {}
        bundle = meta.get("bundle")
        app_path = os.path.join(path, bundle) if isinstance(bundle, str) else None
        if app_path is None or not os.path.isdir(app_path):
            app_path = None
            for entry in sorted(os.listdir(path)):
                if entry.endswith(".app"):
                    app_path = os.path.join(path, entry)
                    break
        version = meta.get("version")
        if app_path is not None:
            info, _ = read_info(app_path)
            if info is not None:
                version = info["version"]
        size = meta.get("bytes")
        if not isinstance(size, int) or isinstance(size, bool) or size < 0:
            size = 0
        result.append({"dir": path, "stamp": stamp, "version": version if isinstance(version, str) else None,
                       "bytes": size, "app_path": app_path})
    return result


def all_backups():
    result = {}
    try:
        names = sorted(os.listdir(common.backups_dir()))
    except OSError:
        return result
    for name in names:
        items = _backups_in(os.path.join(common.backups_dir(), name))
        if items:
            result[name] = items
    return result


def create_backup(info, size_bytes, stamp_ts=None):
    """Copy an installed app into a fresh backup folder; returns that backup's dict."""
    import time as _time
    folder = backup_root(info["bundle_id"])
    common.ensure_dir(folder)
    ts = _time.time() if stamp_ts is None else stamp_ts
    stamp = common.compact_stamp(ts)
    while os.path.exists(os.path.join(folder, stamp)):
        ts += 1
        stamp = common.compact_stamp(ts)
    target = os.path.join(folder, stamp)
    bundle = os.path.basename(info["path"].rstrip(os.sep))
    os.makedirs(target, mode=0o700)
    shutil.copytree(info["path"], os.path.join(target, bundle), symlinks=True)
    common.write_json(os.path.join(target, "meta.json"), {
        "bundle_id": info["bundle_id"], "app_name": info["app_name"], "version": info["version"],
        "bundle": bundle, "bytes": int(size_bytes), "created": common.iso_utc(),
    })
    return {"dir": target, "stamp": stamp, "version": info["version"], "bytes": int(size_bytes),
            "app_path": os.path.join(target, bundle)}


def remove_tree(path):
    shutil.rmtree(path, ignore_errors=True)


def app_size_bytes(bundle_id, cat=None):
    entry = catalog_entry(bundle_id, cat)
    size = entry.get("size_mb")
    if not isinstance(size, (int, float)) or isinstance(size, bool) or size < 0:
        size = 20 + int(common.fraction("size", bundle_id) * 180)
    return int(size * 1024 * 1024)


# ---------------------------------------------------------------- seeding

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


def create(seed=None):
    """Build a fresh world from a seed; the engine's data of an older world is left alone."""
    seed = seed or os.environ.get("VARNO_SIM_SEED", "").strip() or "demo"
    doc = seed_document(seed)
    base = root()
    if os.path.isdir(base):
        for name in ("Applications", "running", "Trash"):
            remove_tree(os.path.join(base, name))
        for name in ("catalog.json", "seed_rows.json", "world.json"):
            try:
                os.unlink(os.path.join(base, name))
            except OSError:
                pass
    common.ensure_dir(base)
    common.ensure_dir(apps_dir())
    common.ensure_dir(running_dir())
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
        path = app_path_for(name)
        installed = app.get("installed", True) is not False
        if installed:
            write_info(path, bid, name, version, team)
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
    save_catalog(catalog)
    common.write_json(seed_rows_path(), {"apps": rows, "provenance": provenance})
    common.write_json(os.path.join(base, "world.json"), {"seed": seed, "created": common.iso_utc()})


def _seed_backup(bid, name, team, backup, cat):
    stamp = backup["stamp"]
    if common.parse_compact_stamp(stamp) is None:
        return
    target = os.path.join(backup_root(bid), stamp)
    bundle = "%s.app" % safe_bundle_name(name)
    version = str(backup.get("version", "0"))
    write_info(os.path.join(target, bundle), bid, name, version, team)
    size = backup.get("size_mb", cat.get("size_mb", 40))
    if not isinstance(size, (int, float)) or isinstance(size, bool) or size < 0:
        size = 40
    common.write_json(os.path.join(target, "meta.json"), {
        "bundle_id": bid, "app_name": name, "version": version, "bundle": bundle,
        "bytes": int(float(size) * 1024 * 1024), "created": common.iso_utc(),
    })


def ensure():
    """Create the world on first use; concurrent first runs build it once."""
    if exists():
        return
    import fcntl
    common.ensure_dir(common.data_dir())
    fd = os.open(os.path.join(common.data_dir(), ".world.lock"), os.O_RDWR | os.O_CREAT, 0o600)
    try:
        fcntl.flock(fd, fcntl.LOCK_EX)
        if not exists():
            create()
    finally:
        os.close(fd)


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
    remove_tree(common.backups_dir())


def describe():
    meta = common.read_json(os.path.join(root(), "world.json"), {})
    return meta if isinstance(meta, dict) else {}


def dumps(value):
    return json.dumps(value, ensure_ascii=False)

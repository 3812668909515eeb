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

import os

from . import common

# Most commands only read the world (exists, catalog, installed apps, backups): building one from a
# seed lives in seeding, and the modules that change it (plists, copying trees) are imported where used.


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

def sha_for(bundle_id, version):
    return common.digest("artifact", bundle_id, version)


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
    import plistlib
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
    import shutil
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
    import shutil
    shutil.rmtree(path, ignore_errors=True)


def app_size_bytes(bundle_id, cat=None):
    entry = catalog_entry(bundle_id, cat)
    size = entry.get("size_mb")
    if not isinstance(size, (int, float)) or isinstance(size, bool) or size < 0:
        size = 20 + int(common.fraction("size", bundle_id) * 180)
    return int(size * 1024 * 1024)


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
            from . import seeding
            seeding.create()
    finally:
        os.close(fd)


def describe():
    meta = common.read_json(os.path.join(root(), "world.json"), {})
    return meta if isinstance(meta, dict) else {}


def dumps(value):
    import json
    return json.dumps(value, ensure_ascii=False)

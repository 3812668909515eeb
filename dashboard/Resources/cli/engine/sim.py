"""Harness-only commands that drive the simulated Mac (`varno.py sim ...`). Each imports what it needs
itself: the other commands only use default_signal_exit from here."""

import os
import sys
import time

from . import common

APP_SCRIPT = r'''# A simulated running app: ends on SIGTERM unless it was told to refuse.
import os, signal, sys, time
bundle_id, pidfile, refuse = sys.argv[1], sys.argv[2], sys.argv[3] == "1"
os.makedirs(os.path.dirname(pidfile), exist_ok=True)
with open(pidfile + ".tmp", "w") as fh:
    fh.write(str(os.getpid()))
os.replace(pidfile + ".tmp", pidfile)

def leave(*_):
    try:
        with open(pidfile) as fh:
            if fh.read().strip() == str(os.getpid()):
                os.unlink(pidfile)
    except OSError:
        pass
    sys.exit(0)

signal.signal(signal.SIGTERM, signal.SIG_IGN if refuse else leave)
signal.signal(signal.SIGINT, leave)
sys.stdout.write("running %s pid %d\n" % (bundle_id, os.getpid()))
sys.stdout.flush()
while True:
    time.sleep(3600)
'''


def reset(seed):
    from . import knobs as knobs_mod, seeding
    name = seed or os.environ.get("VARNO_SIM_SEED", "").strip() or "demo"
    doc = seeding.seed_document(name)      # a seed that can't be used fails before anything is forgotten
    seeding.wipe_engine_state()
    try:
        os.unlink(knobs_mod.state_path())
    except OSError:
        pass
    seeding.create(name, doc)
    common.out("The simulated Mac was reset with the %s seed.\n" % (seed or os.environ.get("VARNO_SIM_SEED") or "demo"))


def run_app(bundle_id, refuse):
    import shutil
    from . import world
    world.ensure()
    info = world.find_installed(bundle_id)
    if info is None:
        raise common.EngineError("No app with bundle id %s is installed on the simulated Mac." % bundle_id,
                                 common.EXIT_UNKNOWN_APP)
    macos = common.ensure_dir(os.path.join(info["path"], "Contents", "MacOS"))
    resources = common.ensure_dir(os.path.join(info["path"], "Contents", "Resources"))
    # The app's executable is a link to (or a copy of) this interpreter, so that the
    # running process's executable, like its command line, lies inside the app.
    exe = os.path.join(macos, info["app_name"].replace("/", "-"))
    interpreter = os.path.realpath(sys.executable)
    if os.path.lexists(exe) and not _same_file(exe, interpreter):
        os.unlink(exe)
    if not os.path.lexists(exe):
        try:
            os.link(interpreter, exe)
        except OSError:
            try:
                shutil.copy2(interpreter, exe)
            except OSError:
                os.symlink(interpreter, exe)
    script = os.path.join(resources, "sim_app.py")
    with open(script, "w", encoding="utf-8") as fh:
        fh.write(APP_SCRIPT)
    sys.stdout.flush()
    os.execv(exe, [exe, script, bundle_id, world.pid_file(bundle_id), "1" if refuse else "0"])


def _same_file(a, b):
    try:
        if os.path.islink(a):
            return os.path.realpath(a) == b
        sa, sb = os.stat(a), os.stat(b)
        return (sa.st_dev, sa.st_ino) == (sb.st_dev, sb.st_ino) or sa.st_size == sb.st_size
    except OSError:
        return False


def set_latest(bundle_id, version):
    from . import world
    world.ensure()
    cat = world.load_catalog()
    if bundle_id not in cat:
        raise common.EngineError("The simulated catalog has no app %s." % bundle_id, common.EXIT_UNKNOWN_APP)
    entry = dict(cat[bundle_id])
    entry["latest"] = version
    entry.pop("report_status", None)
    cat[bundle_id] = entry
    world.save_catalog(cat)
    common.out("%s: the catalog now offers %s (run a scan to see it).\n" % (bundle_id, version))


def set_installed(bundle_id, version):
    from . import world
    world.ensure()
    info = world.find_installed(bundle_id)
    if info is None:
        raise common.EngineError("No app with bundle id %s is installed on the simulated Mac." % bundle_id,
                                 common.EXIT_UNKNOWN_APP)
    world.set_installed_version(info, version)
    common.out("%s: %s is now installed (run a scan to see it).\n" % (bundle_id, version))


def vanish(bundle_id):
    from . import world
    world.ensure()
    info = world.find_installed(bundle_id)
    if info is None:
        raise common.EngineError("No app with bundle id %s is installed on the simulated Mac." % bundle_id,
                                 common.EXIT_UNKNOWN_APP)
    world.remove_tree(info["path"])
    common.out("%s vanished from disk; the next scan turns it into a ghost.\n" % info["app_name"])


def hold_lock(seconds):
    from . import actions
    lock = actions.UpdateLock().acquire()
    try:
        common.out("holding the update lock for %g s\n" % seconds)
        time.sleep(max(0.0, seconds))
    finally:
        lock.release()


def events():
    from . import store, world
    world.ensure()
    with store.connect() as db:
        rows = db.query("SELECT at, name FROM experiment_events ORDER BY id")
    common.out("".join("%s\t%s\n" % (r["at"], r["name"]) for r in rows))


def knobs(action, value):
    import json
    from . import knobs as knobs_mod
    path = knobs_mod.knobs_path()
    common.ensure_dir(os.path.dirname(path))
    doc = knobs_mod.normalise(common.read_json(path))
    if action == "show":
        common.out(json.dumps(doc, indent=2, ensure_ascii=False) + "\n")
        return
    if action == "clear":
        for p in (path, knobs_mod.state_path()):
            try:
                os.unlink(p)
            except OSError:
                pass
        return
    if action == "speed":
        try:
            speed = float(value)
        except (TypeError, ValueError):
            speed = -1.0
        if speed < 0:
            raise common.EngineError("The speed is a number of 0 or more (0 makes everything instant).",
                                     common.EXIT_USAGE)
        doc["speed"] = speed
        common.write_json(path, doc)
        return
    # set
    try:
        given = json.loads(value or "")
    except ValueError:
        raise common.EngineError("The knob rule is not valid JSON.", common.EXIT_USAGE)
    if isinstance(given, dict) and "rules" in given:
        doc = knobs_mod.normalise(given)
    elif isinstance(given, dict):
        doc["rules"].append(given)
    elif isinstance(given, list) and all(isinstance(r, dict) for r in given):
        doc["rules"].extend(given)
    else:
        raise common.EngineError("A knob rule is a JSON object (or a list of them).", common.EXIT_USAGE)
    for rule in doc["rules"]:
        unknown = sorted(set(rule) - knobs_mod.KNOWN_RULE_KEYS)
        if unknown:
            raise common.EngineError("Unknown knob %s." % ", ".join(unknown), common.EXIT_USAGE)
    common.write_json(path, doc)


def journal(clear):
    from .journal import journal_path
    path = journal_path()
    if clear:
        try:
            os.unlink(path)
        except OSError:
            pass
        return
    try:
        with open(path, "rb") as fh:
            common.out(fh.read().decode("utf-8", "replace"))
    except OSError:
        pass


def default_signal_exit(signum):
    """Die by the signal itself, so that the parent sees the signal, not an exit status."""
    import signal
    if signum != signal.SIGKILL:
        signal.signal(signum, signal.SIG_DFL)
    os.kill(os.getpid(), signum)
    time.sleep(5)

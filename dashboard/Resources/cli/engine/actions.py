"""Changes to the library: update, fix, adopt, remove, restore, reinstall, modes, contributions."""

import fcntl
import os

from . import common, library, store, world

SECURITY_LOCKED = ("SIG_TEAM_MISMATCH", "SIG_INVALID", "PKG_AUDIT_BLOCKED", "DOWNLOAD_HASH_MISMATCH")
SELF_MANAGED = ("vendor_self_update", "sparkle_internal")
CONTRIBUTION_MECHANISMS = ("sparkle", "direct_download", "vendor_self_update", "cask", "mas")


# ---------------------------------------------------------------- the update lock

class UpdateLock:
    """An exclusive lock on update work; the OS releases it when the process dies."""

    def __init__(self):
        self.fd = None

    def acquire(self):
        common.ensure_dir(common.data_dir())
        fd = os.open(common.lock_path(), os.O_RDWR | os.O_CREAT, 0o600)
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError:
            os.close(fd)
            raise common.EngineError("Another update is already in progress.", common.EXIT_LOCKED)
        self.fd = fd
        return self

    def release(self):
        if self.fd is not None:
            try:
                fcntl.flock(self.fd, fcntl.LOCK_UN)
                os.close(self.fd)
            except OSError:
                pass
            self.fd = None

    def __enter__(self):
        return self.acquire()

    def __exit__(self, *exc):
        self.release()


# ---------------------------------------------------------------- one app's update

class StopApp(Exception):
    """Raised by a phase callback when the user skips the app or stops the queue."""

    def __init__(self, reason, abort=False):
        super().__init__(reason)
        self.reason = reason
        self.abort = abort


class Outcome:
    def __init__(self, kind, error=None, code=None, new_version=None):
        self.kind = kind            # "done", "failed" or "skipped"
        self.error = error
        self.code = code
        self.new_version = new_version

    def __repr__(self):
        return "%s%s" % (self.kind, " (%s)" % self.error if self.error else "")


PHASES = (("fetching", 0.45), ("verifying", 0.2), ("installing", 0.25), ("cleaning", 0.1))


def phase_seconds(knobs, bundle_id, version, share):
    step = knobs.get("step_delay")
    if isinstance(step, (int, float)) and not isinstance(step, bool) and step >= 0:
        return float(step), False
    total = 1.0 + 2.0 * common.fraction("update", bundle_id, version)
    return total * share, True


def default_phase(knobs):
    def run(bundle_id, status, seconds, scaled):
        if scaled:
            knobs.pace(seconds)
        elif seconds > 0:
            import time
            time.sleep(seconds)
    return run


def is_outdated_row(row):
    latest = row["latest_version"]
    return bool(latest) and common.compare_versions(row["current_version"] or "", latest) < 0


def queue_candidates(db):
    """The apps an unqualified `update` works on: outdated and not excluded."""
    result = []
    for row in db.apps():
        if library.is_excluded(row):
            continue
        if row["version_check_status"] == "outdated" or (row["version_check_status"] is None
                                                          and is_outdated_row(row)):
            result.append(row)
    return result


def attempt_update(db, bundle_id, knobs, approved, headless, phase=None):
    """Try to update one app; records the result in the library and returns an Outcome.

    headless: the run was not asked for this app by the user (the stream), so apps
    that want to be asked first, or only notified, are held back.
    """
    phase = phase or default_phase(knobs)
    row = db.app(bundle_id)
    if row is None:
        return Outcome("failed", "%s is not in the library." % bundle_id)
    outcome = _decide(db, row, knobs, approved, headless, phase)
    record_outcome(db, bundle_id, outcome)
    return outcome


def _decide(db, row, knobs, approved, headless, phase):
    bid, name = row["bundle_id"], row["app_name"]
    cat = world.load_catalog()
    entry = world.catalog_entry(bid, cat)
    mech = row["update_mechanism"] or "unknown"
    forced = knobs.per_app(bid)
    if forced is not None:
        kind = forced.get("outcome")
        error = forced.get("error") if isinstance(forced.get("error"), str) else None
        code = forced.get("error_code") if isinstance(forced.get("error_code"), str) else None
        if kind == "running":
            return Outcome("skipped", error or "%s is running; quit it to update." % name, code or "APP_RUNNING")
        if kind in ("fail", "skip"):
            seconds, scaled = phase_seconds(knobs, bid, row["latest_version"], PHASES[0][1])
            phase(bid, "fetching", seconds, scaled)
            if kind == "fail":
                return Outcome("failed", error or "The update of %s failed." % name, code)
            return Outcome("skipped", error or "skipped", code)
    info = world.find_installed(bid, row["install_path"])
    if info is None:
        return Outcome("failed", "%s is no longer installed." % name)
    latest = row["latest_version"]
    if not latest or common.compare_versions(info["version"], latest) >= 0:
        return Outcome("done", new_version=info["version"])       # nothing newer to install
    mode = row["update_mode"] or "auto"
    if mode == "self":
        return Outcome("skipped", "handled by the app's updater")
    if headless and not approved and mode == "ask":
        return Outcome("skipped", "Waiting for your OK", "UPDATE_MODE_ASK_HEADLESS")
    if headless and not approved and mode == "notify":
        return Outcome("skipped", "Notify only: update it when you're ready")
    if row["self_managed"] or mech in SELF_MANAGED:
        return Outcome("skipped", "handled by the app's updater")
    if mech == "unknown":
        if isinstance(entry.get("adopt"), dict) and entry["adopt"].get("match"):
            return Outcome("skipped", "No Homebrew cask manages %s yet; adopt it first." % name, "BREW_NO_CASK")
        return Outcome("failed", "VARNO doesn't know how %s updates." % name)
    if world.is_running(bid):
        return Outcome("skipped", "%s is running; quit it to update." % name, "APP_RUNNING")
    fault = entry.get("fault") if isinstance(entry.get("fault"), dict) else None
    fault_phase = None
    if fault is not None:
        fault_phase = fault.get("phase") or ("verifying" if str(fault.get("code") or "").startswith("SIG")
                                             else "fetching")
    for status, share in PHASES:
        seconds, scaled = phase_seconds(knobs, bid, latest, share)
        phase(bid, status, seconds, scaled)
        if status == fault_phase:
            _consume_fault(bid, fault)
            code = fault.get("code") if isinstance(fault.get("code"), str) else None
            return Outcome("failed", fault.get("error") or "The update of %s failed." % name, code)
        if status == "installing":
            if world.is_running(bid):
                return Outcome("skipped", "%s was opened during the update; quit it to update." % name,
                               "APP_RUNNING")
            _install(db, row, info, latest, mech, cat)
    return Outcome("done", new_version=latest)


def _consume_fault(bid, fault):
    if not fault.get("transient"):
        return
    remaining = fault.get("remaining")
    if isinstance(remaining, int) and remaining > 1:
        world.update_catalog(bid, fault=dict(fault, remaining=remaining - 1))
    else:
        world.update_catalog(bid, fault=None)


def _install(db, row, info, new_version, source, cat):
    """Back up the installed copy, put the new version in place and record it."""
    bid = row["bundle_id"]
    backup = world.create_backup(info, world.app_size_bytes(bid, cat))
    world.set_installed_version(info, new_version)
    green, verified, _ = library.seal_verdict(bid, row, cat)
    with db.write():
        db.update_app(bid, current_version=new_version, last_updated=common.iso_utc(),
                      last_update_source=source, version_first_seen=common.iso_utc(),
                      update_count=(row["update_count"] or 0) + 1, update_on_quit=0,
                      green_seal=1 if green else 0, verified_path=1 if verified else 0,
                      **library.evidence_fields(bid, new_version, cat))
        db.clear_incident(bid)
        library.refresh_row(db, bid, cat)
        library.add_provenance(db, bid, row["app_name"], info["version"], new_version, source,
                               backup["app_path"], cat)


def record_outcome(db, bundle_id, outcome):
    with db.write():
        if db.app(bundle_id) is None:
            return
        if outcome.kind == "done":
            db.clear_incident(bundle_id)
        elif outcome.kind == "failed":
            db.set_incident(bundle_id, outcome.code, "failed")
        elif outcome.code:
            db.set_incident(bundle_id, outcome.code, "skipped")


def update_on_quit(db, bundle_id, knobs):
    try:
        lock = UpdateLock().acquire()
    except common.EngineError:
        return "postponed: another update is running"
    try:
        outcome = attempt_update(db, bundle_id, knobs, approved=True, headless=False)
        if outcome.kind != "skipped" or outcome.code != "APP_RUNNING":
            with db.write():
                db.update_app(bundle_id, update_on_quit=0)
        return repr(outcome)
    finally:
        lock.release()


def run_updates(knobs, only, approved):
    """`update` without the event stream: plain progress text on stdout."""
    world.ensure()
    with UpdateLock(), store.connect() as db:
        if only:
            ids = []
            for bid in only:
                db.require_app(bid)
                if bid not in ids:
                    ids.append(bid)
            explicit = True
        else:
            ids = [r["bundle_id"] for r in queue_candidates(db)]
            explicit = False
        if not ids:
            common.say("Everything is up to date.")
            return
        failures = []
        for bid in ids:
            row = db.app(bid)
            common.say("%s: %s -> %s" % (row["app_name"], row["current_version"] or "?",
                                         row["latest_version"] or "?"))
            outcome = attempt_update(db, bid, knobs, approved=approved or explicit, headless=not explicit)
            if outcome.kind == "done":
                common.say("  updated to %s" % (outcome.new_version or "?"))
            elif outcome.kind == "skipped":
                common.say("  skipped: %s" % (outcome.error or "skipped"))
                if explicit and not outcome.code:
                    # Nothing for a remedy to act on: say why, rather than "success".
                    reason = outcome.error or "skipped"
                    failures.append((row["app_name"], reason, "%s: %s." % (row["app_name"], reason.rstrip("."))))
            else:
                common.say("  failed: %s" % (outcome.error or "update failed"))
                failures.append((row["app_name"], outcome.error or "update failed", outcome.error or "update failed"))
    if len(failures) == 1 and len(ids) == 1:
        raise common.EngineError(failures[0][2])
    if failures:
        raise common.EngineError("%d of %d updates did not happen (%s)." % (
            len(failures), len(ids), "; ".join("%s: %s" % f[:2] for f in failures)))


# ---------------------------------------------------------------- fix

def fix(knobs, bundle_id):
    world.ensure()
    with UpdateLock(), store.connect() as db:
        row = db.require_app(bundle_id)
        name = row["app_name"]
        kind, code = row["last_incident_kind"], row["last_incident_code"]
        if kind not in ("failed", "skipped"):
            common.out("Nothing to fix for %s.\n" % name)
            return
        if code in SECURITY_LOCKED:
            raise common.EngineError("%s is blocked for your safety (%s); VARNO won't change it. "
                                     "Check the developer's site before installing it by hand." % (name, code))
        if code == "BREW_NO_CASK":
            raise common.EngineError("%s isn't managed by Homebrew Cask yet; adopt it first with "
                                     "varno adopt \"%s\"." % (name, name))
        if code == "APP_RUNNING" and world.is_running(bundle_id):
            raise common.EngineError("%s is still running; quit it, then run the fix again." % name)
        entry = world.catalog_entry(bundle_id)
        fault = entry.get("fault") if isinstance(entry.get("fault"), dict) else None
        if fault is not None and fault.get("transient"):
            world.update_catalog(bundle_id, fault=None)
        if code not in ("UPDATE_MODE_ASK_HEADLESS", "APP_RUNNING"):
            common.out("Waiting a moment before retrying %s…\n" % name)
            knobs.pace(1.0)
        outcome = attempt_update(db, bundle_id, knobs, approved=True, headless=False)
        if outcome.kind == "done":
            with db.write():
                db.clear_incident(bundle_id)
            common.out("Fixed: %s is at %s.\n" % (name, outcome.new_version or row["current_version"]))
            return
        raise common.EngineError(outcome.error or "The fix for %s didn't work." % name)


# ---------------------------------------------------------------- adopt

def _find_for_adopt(db, name):
    row = db.app_by_name(name)
    if row is not None:
        return row["bundle_id"], row
    disk, _ = world.installed_apps()
    for bid, info in sorted(disk.items()):
        if info["app_name"].lower() == name.lower():
            return bid, None
    return None, None


def adopt_preview(name, cask):
    world.ensure()
    with store.connect() as db:
        bid, row = _find_for_adopt(db, name)
    if bid is None:
        return {"match_found": False, "app_name": name,
                "reason": "No app named %s is installed on this Mac." % name}
    info = world.find_installed(bid)
    entry = world.catalog_entry(bid)
    adopt = entry.get("adopt") if isinstance(entry.get("adopt"), dict) else {}
    mech = entry.get("mechanism")
    preview = {"app_name": info["app_name"] if info else name, "bundle_id": bid}
    if info:
        preview["current_version"] = info["version"]
        preview["install_path"] = info["path"]
    if mech == "cask":
        preview.update(match_found=True, already_managed=True, cask_token=entry.get("cask_token") or "",
                       reason="%s is already managed by Homebrew Cask." % preview["app_name"])
        return preview
    token = adopt.get("cask_token") if isinstance(adopt.get("cask_token"), str) else None
    if not adopt.get("match") or not token or (cask and cask != token):
        preview.update(match_found=False,
                       reason=("The Homebrew Cask catalog has no cask named %s for this app." % cask if cask
                               else "No cask in the Homebrew Cask catalog matches %s." % preview["app_name"]))
        return preview
    cask_version = adopt.get("cask_version") if isinstance(adopt.get("cask_version"), str) else None
    preview.update(match_found=True, already_managed=False, cask_token=token,
                   signature_ok=adopt.get("signature_ok") is True)
    if isinstance(adopt.get("confidence"), str):
        preview["confidence"] = adopt["confidence"]
    if isinstance(adopt.get("code_signature"), str):
        preview["code_signature"] = adopt["code_signature"]
    if cask_version:
        preview["cask_version"] = cask_version
        if info:
            preview["version_downgrade"] = common.compare_versions(cask_version, info["version"]) < 0
    return preview


def adopt_apply(knobs, name, cask, allow_unsigned):
    import json
    world.ensure()
    preview = adopt_preview(name, cask)
    if not preview.get("match_found"):
        raise common.EngineError(preview.get("reason") or "No cask matches %s." % name)
    bid = preview["bundle_id"]
    app_name = preview["app_name"]
    if preview.get("already_managed"):
        common.out("%s is already managed by Homebrew Cask.\n" % app_name)
        return
    token = preview["cask_token"]
    with UpdateLock(), store.connect() as db:
        if db.app(bid) is None:
            from . import scanning
            scanning.scan(knobs)
        fail = knobs.get("adopt_fail")
        if isinstance(fail, str) and fail:
            with db.write():
                db.set_incident(bid, fail, "failed")
            if fail == "SUDO_REQUIRED":
                raise common.EngineError("Homebrew needs an administrator password to adopt %s; run "
                                         "brew install --cask --adopt %s in Terminal." % (app_name, token))
            raise common.EngineError("Homebrew couldn't adopt %s (%s)." % (app_name, fail))
        if not preview.get("signature_ok") and not allow_unsigned:
            with db.write():
                db.set_incident(bid, "SIG_INVALID", "failed")
            raise common.EngineError("%s isn't signed the way the cask expects; adopting it needs "
                                     "--allow-unsigned." % app_name)
        knobs.pace(1.5)
        cat = world.load_catalog()
        previous = world.catalog_entry(bid, cat)
        adopt = previous.get("adopt") if isinstance(previous.get("adopt"), dict) else {}
        changes = {"mechanism": "cask", "cask_token": token, "cask_match_confidence": preview.get("confidence")}
        if isinstance(adopt.get("cask_version"), str):
            changes["latest"] = adopt["cask_version"]
        entry = world.update_catalog(bid, **changes)
        with db.write():
            db.execute("INSERT INTO adoptions(bundle_id, app_name, previous_catalog, cask_token, at) "
                       "VALUES(?,?,?,?,?)", (bid, app_name, json.dumps(previous), token, common.iso_utc()))
            row = library.refresh_row(db, bid)
            if row["version_check_status"] == "outdated":
                db.set_incident(bid, "BREW_NO_CASK", "skipped")
            else:
                db.clear_incident(bid)
            library.add_provenance(db, bid, app_name, row["current_version"], row["current_version"], "adopt")
    common.out("Adopted %s into Homebrew Cask as %s.\n" % (app_name, entry["cask_token"]))


def adopt_undo(name):
    import json
    world.ensure()
    with UpdateLock(), store.connect() as db:
        if name:
            found = db.one("SELECT * FROM adoptions WHERE undone=0 AND lower(app_name)=lower(?) "
                           "ORDER BY id DESC LIMIT 1", (name,))
        else:
            found = db.one("SELECT * FROM adoptions WHERE undone=0 ORDER BY id DESC LIMIT 1")
        if found is None:
            raise common.EngineError("There is no adoption to undo.")
        previous = {}
        try:
            previous = json.loads(found["previous_catalog"] or "{}")
        except ValueError:
            pass
        cat = world.load_catalog()
        cat[found["bundle_id"]] = previous if isinstance(previous, dict) else {}
        world.save_catalog(cat)
        with db.write():
            db.execute("UPDATE adoptions SET undone=1 WHERE id=?", (found["id"],))
            library.refresh_row(db, found["bundle_id"])
    common.out("%s is no longer managed by Homebrew Cask.\n" % found["app_name"])


# ---------------------------------------------------------------- remove, restore, reinstall

def _protected(row):
    path = row["install_path"] or ""
    bid = row["bundle_id"]
    return (bid.startswith("com.apple.") or bid.startswith("com.system.")
            or any(path == p or path.startswith(p + "/") for p in ("/System", "/usr/bin", "/usr/lib", "/usr/sbin")))


def remove(knobs, bundle_id, yes):
    import shutil
    if not yes:
        raise common.EngineError("Removing an app needs --yes to confirm.", common.EXIT_USAGE)
    world.ensure()
    with UpdateLock(), store.connect() as db:
        row = db.require_app(bundle_id)
        name = row["app_name"]
        if _protected(row):
            raise common.EngineError("%s is part of the system and can't be removed." % name)
        if world.is_running(bundle_id):
            raise common.EngineError("%s is running; quit it before removing it." % name)
        knobs.pace(1.0)
        info = world.find_installed(bundle_id, row["install_path"])
        if info is not None:
            common.ensure_dir(world.trash_dir())
            base = os.path.basename(info["path"])
            target = os.path.join(world.trash_dir(), base)
            n = 2
            while os.path.exists(target):
                target = os.path.join(world.trash_dir(), "%s %d.app" % (base[:-4], n))
                n += 1
            shutil.move(info["path"], target)
        with db.write():
            db.execute("DELETE FROM apps WHERE bundle_id=?", (bundle_id,))
    if row["update_mechanism"] == "cask" and row["cask_token"]:
        common.out("brew uninstall --cask %s: removed %s.\n" % (row["cask_token"], name))
    else:
        common.out("Moved %s to the Trash.\n" % name)


def restore(knobs, bundle_id):
    import shutil
    world.ensure()
    with UpdateLock(), store.connect() as db:
        row = db.require_app(bundle_id)
        name = row["app_name"]
        backups = world.list_backups(bundle_id)
        usable = [b for b in backups if b["app_path"] and b["version"]]
        if not usable:
            raise common.EngineError("No local backup of %s is available." % name)
        if world.is_running(bundle_id):
            raise common.EngineError("%s is running; quit it before restoring it." % name)
        newest = usable[0]
        info = world.find_installed(bundle_id, row["install_path"])
        target = info["path"] if info else (row["install_path"] or world.app_path_for(name))
        if not common.is_within(target, world.apps_dir()):
            raise common.EngineError("%s is installed outside the simulated Applications folder." % name)
        knobs.pace(1.5)
        staging = target + ".restoring"
        world.remove_tree(staging)
        shutil.copytree(newest["app_path"], staging, symlinks=True)
        world.remove_tree(target)
        os.replace(staging, target)
        world.remove_tree(newest["dir"])
        from_version = info["version"] if info else row["current_version"]
        green, verified, _ = library.seal_verdict(bundle_id, row)
        with db.write():
            db.update_app(bundle_id, current_version=newest["version"], install_path=target,
                          version_first_seen=common.iso_utc(), last_updated=common.iso_utc(),
                          last_update_source="restore", green_seal=1 if green else 0,
                          verified_path=1 if verified else 0,
                          **library.evidence_fields(bundle_id, newest["version"]))
            db.clear_incident(bundle_id)
            library.refresh_row(db, bundle_id)
            library.add_provenance(db, bundle_id, name, from_version, newest["version"], "restore")
    common.out("Restored %s %s from the backup of %s.\n" % (name, newest["version"], newest["stamp"]))


def reinstall(knobs, bundle_id):
    world.ensure()
    with UpdateLock(), store.connect() as db:
        row = db.require_app(bundle_id)
        name = row["app_name"]
        if row["update_mechanism"] != "cask" or not row["cask_token"]:
            raise common.EngineError("Only apps managed by Homebrew Cask can be reinstalled; %s is not." % name)
        info = world.find_installed(bundle_id, row["install_path"])
        if info is None:
            raise common.EngineError("%s is no longer installed." % name)
        if world.is_running(bundle_id):
            raise common.EngineError("%s is running; quit it before reinstalling it." % name)
        for status, share in PHASES:
            knobs.pace(2.0 * share)
        world.set_installed_version(info, info["version"])
        with db.write():
            db.update_app(bundle_id, last_updated=common.iso_utc(), last_update_source="reinstall",
                          **library.evidence_fields(bundle_id, info["version"]))
            library.refresh_row(db, bundle_id)
            library.add_provenance(db, bundle_id, name, info["version"], info["version"], "reinstall")
    common.out("brew reinstall --cask %s: reinstalled %s %s.\n" % (row["cask_token"], name, info["version"]))


# ---------------------------------------------------------------- modes and self-updates



def trigger_update(knobs, bundle_id):
    world.ensure()
    with UpdateLock(), store.connect() as db:
        row = db.require_app(bundle_id)
        name = row["app_name"]
        if not row["can_trigger_self_update"]:
            raise common.EngineError("%s has no in-app updater that VARNO can open." % name)
        info = world.find_installed(bundle_id, row["install_path"])
        if info is None:
            raise common.EngineError("%s is no longer installed." % name)
        knobs.pace(2.0)
        latest = row["latest_version"]
        if not latest or common.compare_versions(info["version"], latest) >= 0:
            common.out("%s's updater found nothing new.\n" % name)
            return
        world.set_installed_version(info, latest)
        with db.write():
            db.update_app(bundle_id, current_version=latest, last_updated=common.iso_utc(),
                          last_update_source=row["update_mechanism"] or "vendor_self_update",
                          version_first_seen=common.iso_utc(), update_count=(row["update_count"] or 0) + 1,
                          **library.evidence_fields(bundle_id, latest))
            db.clear_incident(bundle_id)
            library.refresh_row(db, bundle_id)
            library.add_provenance(db, bundle_id, name, info["version"], latest,
                                   row["update_mechanism"] or "vendor_self_update")
    common.out("%s updated itself to %s.\n" % (name, latest))


# ---------------------------------------------------------------- contributions

def _clean(value):
    if value is None:
        return None
    value = value.strip()
    return value or None


def contribute(bundle_id, mechanism, feed_url, homepage_url, download_url, cask_token, mas_id, push):
    if mechanism not in CONTRIBUTION_MECHANISMS:
        raise common.EngineError("Unknown mechanism %s; use %s." % (mechanism, ", ".join(CONTRIBUTION_MECHANISMS)),
                                 common.EXIT_USAGE)
    feed_url, homepage_url, download_url = _clean(feed_url), _clean(homepage_url), _clean(download_url)
    cask_token, mas_id = _clean(cask_token), _clean(mas_id)
    for label, url in (("feed", feed_url), ("homepage", homepage_url), ("download", download_url)):
        if url is None:
            continue
        if not url.startswith(("https://", "http://")) or any(ch.isspace() for ch in url):
            raise common.EngineError("The %s URL must be a web address starting with https://." % label,
                                     common.EXIT_USAGE)
    if mas_id is not None and not mas_id.isdigit():
        raise common.EngineError("The App Store id must be a number.", common.EXIT_USAGE)
    if cask_token is not None and not all(ch.isalnum() or ch in "-_@." for ch in cask_token):
        raise common.EngineError("The cask token may hold only letters, digits, dashes and dots.",
                                 common.EXIT_USAGE)
    world.ensure()
    with store.connect() as db:
        row = db.require_app(bundle_id)
        changes = {"mechanism": mechanism}
        if mechanism == "cask" and cask_token:
            changes["cask_token"] = cask_token
        if mechanism == "mas" and mas_id:
            changes["mas_id"] = mas_id
        if mechanism == "sparkle" and feed_url:
            changes["latest_source"] = feed_url
        if mechanism == "vendor_self_update":
            changes.update(self_managed=True, vendor_self_update=True)
        world.update_catalog(bundle_id, **changes)
        with db.write():
            db.execute("INSERT INTO contributions(bundle_id, mechanism, feed_url, homepage_url, download_url, "
                       "cask_token, mas_id, pushed, at) VALUES(?,?,?,?,?,?,?,?,?)",
                       (bundle_id, mechanism, feed_url, homepage_url, download_url, cask_token, mas_id,
                        1 if push else 0, common.iso_utc()))
            library.refresh_row(db, bundle_id)
    common.out("Thanks: %s now updates through %s on this Mac.%s\n" % (
        row["app_name"], mechanism,
        " Your note is queued for sharing; this engine never sends anything itself." if push else ""))

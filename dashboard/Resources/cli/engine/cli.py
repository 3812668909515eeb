"""Command-line front of the engine: argument parsing, knobs, dispatch and the journal.

The app waits for every engine run (a launch runs three in series before the library appears), so a
run imports only what its own command uses: this module loads the arguments, the knobs and the journal,
and dispatch imports the module of the command it runs.
"""

import os
import sys
import time

from . import args as args_mod, common, journal as journal_mod, knobs as knobs_mod
from .args import UsageError, build_parser

CONTRACT_VERSION = 1


# ---------------------------------------------------------------- dispatch

def _int_arg(text, label):
    try:
        return int(str(text).strip(), 10)
    except ValueError:
        raise common.EngineError("%s must be a whole number." % label, common.EXIT_USAGE)


def dispatch(a, knobs):
    cmd = a.command
    if cmd == "list":
        from . import library
        records = library.list_records(outdated_only=not a.all)
        common.out(library.render_list_json(records) if a.json else library.render_list_text(records))
    elif cmd == "scan":
        from . import scanning
        scanning.scan(knobs, verbose=a.verbose)
    elif cmd == "update":
        if os.environ.get("VARNO_EVENTS") == "1":
            from . import stream
            return stream.run(knobs, a.only or [], a.approved)
        from . import actions
        actions.run_updates(knobs, a.only or [], a.approved)
    elif cmd == "mode":
        from . import library
        if a.mode is None and not a.on_quit:
            raise common.EngineError("Give an update mode (auto, ask, notify, ignore or self) or --on-quit.",
                                     common.EXIT_USAGE)
        if a.mode is not None and a.mode not in library.UPDATE_MODES:
            raise common.EngineError("Unknown update mode %s; use auto, ask, notify, ignore or self." % a.mode,
                                     common.EXIT_USAGE)
        library.set_mode(a.bundle_id, a.mode, a.on_quit)
    elif cmd in ("trigger-update", "reinstall", "restore", "remove", "fix", "contribute"):
        _act(cmd, a, knobs)
    elif cmd == "adopt":
        return _adopt(a, knobs)
    elif cmd in ("seal", "backup", "provenance"):
        from . import library
        if cmd == "seal":
            common.out_json(library.seal(a.bundle_id))
        elif cmd == "backup":
            common.out_json(library.backup_status(a.bundle_id, knobs))
        elif a.json:
            common.out_json(library.provenance(a.bundle_id))
        else:
            import json
            common.out(json.dumps(library.provenance(a.bundle_id), ensure_ascii=False, indent=2) + "\n")
    elif cmd == "sim":
        return _sim(a)
    elif cmd == "migrate":
        from . import store, world
        world.ensure()
        with store.connect():
            pass
        common.ensure_dir(common.logs_dir())
    else:
        return _housekeeping(cmd, a, knobs)
    return 0


def _act(cmd, a, knobs):
    from . import actions
    if cmd == "trigger-update":
        actions.trigger_update(knobs, a.bundle_id)
    elif cmd == "reinstall":
        actions.reinstall(knobs, a.bundle_id)
    elif cmd == "restore":
        actions.restore(knobs, a.bundle_id)
    elif cmd == "remove":
        actions.remove(knobs, a.bundle_id, a.yes)
    elif cmd == "fix":
        actions.fix(knobs, a.bundle_id)
    else:
        actions.contribute(a.bundle_id, a.mechanism, a.feed_url, a.homepage_url, a.download_url,
                           a.cask_token, a.mas_id, a.push)


def _housekeeping(cmd, a, knobs):
    from . import settings, store
    if cmd == "diagnose":
        path = settings.support_bundle(a.out, knobs)
        common.out(path + "\n")
    elif cmd == "experiment":
        name = a.event.strip()
        if not name:
            raise common.EngineError("An event needs a name.", common.EXIT_USAGE)
        with store.connect() as db:
            settings.record_event(db, name)
    elif cmd == "telemetry":
        with store.connect() as db:
            if a.action == "status":
                common.out(settings.telemetry_status(db, knobs))
            else:
                common.out(settings.telemetry_set(db, a.action) + "\n")
    elif cmd == "retention":
        with store.connect() as db:
            if a.action == "set":
                settings.retention_set(db, _int_arg(a.keep, "Keep"), _int_arg(a.days, "Days"))
            elif a.action == "consent":
                settings.retention_consent(db, a.grant)
            common.out_json(settings.retention_status(db))
    elif cmd == "cleanup":
        if not a.backups:
            raise common.EngineError("Say what to clean up: --backups.", common.EXIT_USAGE)
        with store.connect() as db:
            if a.apply:
                removed, freed = settings.apply_plan(db)
                result = {"removed": removed, "freed_bytes": freed}
            else:
                chosen, _ = settings.plan(db)
                result = {"would_remove": len(chosen), "would_free_bytes": sum(i["bytes"] for i in chosen)}
        common.out_json(result)
    elif cmd == "dev":
        if a.action == "set":
            settings.dev_set(sys.stdin.buffer)
        else:
            common.out_json(settings.dev_report("inspect" if a.action == "inspect" else "plan_updates"))
    elif cmd == "selftest":
        settings.selftest()
        common.out("Self-test passed.\n")
    elif cmd == "doctor":
        text, healthy = settings.doctor_text()
        common.out(text)
        return 0 if healthy else 1
    elif cmd == "privacy":
        common.out(settings.privacy_audit())
    return 0


def _adopt(a, knobs):
    from . import actions
    if a.undo:
        actions.adopt_undo(a.name)
        return 0
    if not a.name or not a.name.strip():
        raise common.EngineError("Name the app to adopt, for example varno adopt \"Handmade Paint\".",
                                 common.EXIT_USAGE)
    if a.dry_run or not a.approved:
        preview = actions.adopt_preview(a.name, a.cask)
        if a.json:
            common.out_json(preview)
        else:
            common.out(_preview_text(preview))
        return 0
    actions.adopt_apply(knobs, a.name, a.cask, a.allow_unsigned)
    return 0


def _preview_text(p):
    if not p.get("match_found"):
        return (p.get("reason") or "No matching cask.") + "\n"
    if p.get("already_managed"):
        return "%s is already managed by Homebrew Cask.\n" % p["app_name"]
    lines = ["%s %s matches the cask %s %s." % (p["app_name"], p.get("current_version", "?"),
                                                p["cask_token"], p.get("cask_version", "?"))]
    if not p.get("signature_ok"):
        lines.append("Its code signature doesn't match the cask; adopting needs --allow-unsigned.")
    lines.append("Run varno adopt --approved \"%s\" to adopt it." % p["app_name"])
    return "\n".join(lines) + "\n"


def _sim(a):
    from . import sim
    act = a.action
    if act == "reset":
        sim.reset(a.seed)
    elif act == "run-app":
        sim.run_app(a.bundle_id, a.refuse_quit)
    elif act == "set-latest":
        sim.set_latest(a.bundle_id, a.version)
    elif act == "set-installed":
        sim.set_installed(a.bundle_id, a.version)
    elif act == "vanish":
        sim.vanish(a.bundle_id)
    elif act == "hold-lock":
        sim.hold_lock(a.seconds)
    elif act == "events":
        sim.events()
    elif act == "knobs":
        sim.knobs(a.knob_action, a.value)
    elif act == "journal":
        sim.journal(a.clear)
    return 0


# ---------------------------------------------------------------- main

def split_frame(argv):
    """Take the optional --engine-contract-version N off the front of argv."""
    rest = list(argv)
    if rest and (rest[0] == "--engine-contract-version" or rest[0].startswith("--engine-contract-version=")):
        if "=" in rest[0]:
            value, rest = rest[0].split("=", 1)[1], rest[1:]
        else:
            if len(rest) < 2:
                raise common.EngineError("--engine-contract-version needs a number.", common.EXIT_USAGE)
            value, rest = rest[1], rest[2:]
        try:
            version = int(value)
        except ValueError:
            version = None
        if version != CONTRACT_VERSION:
            raise common.EngineError("This engine speaks contract version %d, not %s; reinstall VARNO Workshop."
                                     % (CONTRACT_VERSION, value), common.EXIT_CONTRACT)
    return rest


def clean_argv(argv):
    """Arguments that are not UTF-8 (the OS hands them over as surrogates) get U+FFFD."""
    return [a.encode("utf-8", "surrogateescape").decode("utf-8", "replace") for a in argv]


def main(argv):
    argv = clean_argv(argv)
    started = time.monotonic()
    status = common.EXIT_FAILED
    journaled = [False]
    rest = []
    harness = False

    def journal(code):
        if not harness and not journaled[0]:
            journaled[0] = True
            journal_mod.write_journal(argv, code, started)

    try:
        rest = split_frame(argv)
        if rest[:1] == ["--version"]:
            common.out("varno %s\n" % common.engine_version())
            status = 0
            return status
        harness = rest[:1] == ["sim"]
        if harness:
            knobs = knobs_mod.Knobs()
        else:
            knobs = knobs_mod.resolve(rest)
        _install_signals(knobs, journal)
        args = args_mod.parse(rest)
        if args is None:    # help and usage errors, in argparse's words
            wanted = rest[0] if rest and not rest[0].startswith("-") else None
            args = build_parser(wanted).parse_args(rest)
        if not harness:
            delay = knobs.get("delay")
            if isinstance(delay, (int, float)) and not isinstance(delay, bool) and delay > 0:
                time.sleep(delay)
            if knobs.get("hang") is True:
                while True:
                    time.sleep(3600)
            replaced = None
            if knobs.rule:
                from . import knob_effects
                replaced = knob_effects.replace_outputs(knobs)
            if replaced is not None:
                status = replaced
                if status in (9, 15):
                    journal(status)
                    sys.stdout.flush()
                    sys.stderr.flush()
                    import signal
                    from . import sim
                    sim.default_signal_exit(signal.SIGKILL if status == 9 else signal.SIGTERM)
                return status
        mode = knobs.get("stdout_mode")
        if isinstance(mode, str) and args.command != "scan":
            common.capture_stdout(True)
        try:
            status = dispatch(args, knobs)
        finally:
            if isinstance(mode, str) and args.command != "scan":
                text = common.capture_stdout(False)
                from . import knob_effects
                common.out(knob_effects.mutate_stdout(text, mode))
        ghosts_mode = knobs.get("ghosts_mode")
        if isinstance(ghosts_mode, str) and args.command == "scan":
            from . import knob_effects
            knob_effects.mutate_ghosts(ghosts_mode)
    except UsageError as exc:
        common.err_line("Usage: %s." % str(exc).rstrip("."))
        status = common.EXIT_USAGE
    except common.EngineError as exc:
        common.err_line(exc.message)
        status = exc.status
    except KeyboardInterrupt:
        status = 130
    except SystemExit as exc:
        status = exc.code if isinstance(exc.code, int) else (0 if exc.code is None else common.EXIT_USAGE)
    except Exception as exc:  # the last line of defence: one sentence, never a traceback
        store = sys.modules.get("engine.store")     # loaded by every command that opens the database
        if store is not None and isinstance(exc, store.sqlite3.Error):
            common.err_line("The VARNO database can't be used right now (%s)." % exc)
        else:
            common.err_line("The engine hit an unexpected error (%s: %s)." % (type(exc).__name__, exc))
        status = common.EXIT_FAILED
    finally:
        journal(status)
    return status


def _install_signals(knobs, journal):
    try:
        import _signal as signal    # what the signal module wraps; that module itself imports enum
    except ImportError:
        import signal
    choice = knobs.get("on_sigterm")

    def on_term(signum, frame):
        if choice == "ignore":
            return
        if isinstance(choice, int) and not isinstance(choice, bool):
            journal(choice)
            try:
                sys.stdout.flush()
            except Exception:
                pass
            os._exit(choice)
        journal(-signal.SIGTERM)
        from . import sim
        sim.default_signal_exit(signal.SIGTERM)

    try:
        signal.signal(signal.SIGTERM, on_term)
    except (ValueError, OSError):
        pass

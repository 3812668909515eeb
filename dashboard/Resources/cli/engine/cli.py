"""Command-line front of the engine: argument parsing, knobs, dispatch and the journal."""

import argparse
import json
import os
import signal
import sqlite3
import sys
import time

from . import actions, common, knobs as knobs_mod, library, settings, sim, store, stream, world

CONTRACT_VERSION = 1


class UsageError(Exception):
    pass


class Parser(argparse.ArgumentParser):
    def __init__(self, *args, **kwargs):
        kwargs.setdefault("allow_abbrev", False)
        super().__init__(*args, **kwargs)

    def error(self, message):
        raise UsageError(message)


class _Skipped:
    """Stands in for the sub-parser of a command that is not being run (building
    every parser on each invocation costs more than the command itself)."""

    def __getattr__(self, name):
        return lambda *args, **kwargs: self


class _Commands:
    def __init__(self, sub, wanted):
        self.sub = sub
        self.wanted = wanted

    def add_parser(self, name, **kwargs):
        parser = self.sub.add_parser(name, **kwargs)
        if self.wanted is not None and name != self.wanted:
            return _Skipped()
        return parser


EPILOG = """\
This engine keeps a simulated Mac under ~/Library/Application Support/VARNO/sim.
Environment:
  VARNO_SIM_SPEED=F   time scale of scans and updates (1 = realistic, 0 = instant)
  VARNO_SIM_KNOBS=J   knob rules as inline JSON or a file path (else sim/knobs.json)
  VARNO_SIM_SEED=S    seed of a new world: demo, empty, no-mas, large:N, file:PATH
  VARNO_SIM_ROOT=DIR  where the simulated Mac lives
  VARNO_EVENTS=1      update streams JSON events on stderr and reads control words
Harness: varno sim reset|run-app|set-latest|set-installed|vanish|hold-lock|events|knobs|journal
"""


def build_parser(wanted=None):
    p = Parser(prog="varno", description="VARNO engine (simulated Mac library).", epilog=EPILOG,
               formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = _Commands(p.add_subparsers(dest="command", parser_class=Parser), wanted)
    sub.sub.required = True

    s = sub.add_parser("list", help="print the library")
    s.add_argument("--json", action="store_true")
    s.add_argument("--all", action="store_true")

    s = sub.add_parser("scan", help="scan the installed apps")
    s.add_argument("--verbose", action="store_true")

    s = sub.add_parser("update", help="update outdated apps")
    s.add_argument("--only", nargs="+", metavar="BUNDLE_ID")
    s.add_argument("--approved", action="store_true")

    s = sub.add_parser("mode", help="set an app's update mode")
    s.add_argument("bundle_id")
    s.add_argument("mode", nargs="?")
    s.add_argument("--on-quit", action="store_true")

    s = sub.add_parser("trigger-update", help="open an app's own updater")
    s.add_argument("bundle_id")

    for name in ("reinstall", "restore"):
        s = sub.add_parser(name)
        s.add_argument("--bundle-id", required=True)

    s = sub.add_parser("remove")
    s.add_argument("--bundle-id", required=True)
    s.add_argument("--yes", action="store_true")

    s = sub.add_parser("fix", help="fix an app's last incident")
    s.add_argument("bundle_id")

    s = sub.add_parser("adopt", help="put a hand-installed app under Homebrew Cask")
    s.add_argument("name", nargs="?")
    s.add_argument("--dry-run", action="store_true")
    s.add_argument("--json", action="store_true")
    s.add_argument("--approved", action="store_true")
    s.add_argument("--undo", action="store_true")
    s.add_argument("--cask")
    s.add_argument("--allow-unsigned", action="store_true")

    for name in ("seal", "backup"):
        s = sub.add_parser(name)
        s.add_argument("--bundle-id", required=True)
        s.add_argument("--json", action="store_true")

    s = sub.add_parser("provenance")
    s.add_argument("--json", action="store_true")
    s.add_argument("--bundle-id")

    s = sub.add_parser("diagnose")
    s.add_argument("--bundle", action="store_true")
    s.add_argument("--out")

    s = sub.add_parser("contribute")
    s.add_argument("--bundle-id", required=True)
    s.add_argument("--mechanism", required=True)
    for opt in ("--feed-url", "--homepage-url", "--download-url", "--cask-token", "--mas-id"):
        s.add_argument(opt)
    s.add_argument("--push", action="store_true")

    s = sub.add_parser("experiment")
    s.add_argument("action", choices=["record"])
    s.add_argument("--event", required=True)

    s = sub.add_parser("telemetry")
    s.add_argument("action", choices=["status", "opt-in", "opt-out", "forget"])

    s = sub.add_parser("retention")
    rs = s.add_subparsers(dest="action", parser_class=Parser)
    rs.required = True
    r = rs.add_parser("status")
    r.add_argument("--json", action="store_true")
    r = rs.add_parser("set")
    r.add_argument("--keep", required=True)
    r.add_argument("--days", required=True)
    r.add_argument("--json", action="store_true")
    r = rs.add_parser("consent")
    g = r.add_mutually_exclusive_group(required=True)
    g.add_argument("--grant", action="store_true")
    g.add_argument("--revoke", action="store_true")
    r.add_argument("--json", action="store_true")

    s = sub.add_parser("cleanup")
    s.add_argument("--backups", action="store_true")
    s.add_argument("--apply", action="store_true")
    s.add_argument("--json", action="store_true")

    s = sub.add_parser("dev")
    ds = s.add_subparsers(dest="action", parser_class=Parser)
    ds.required = True
    ds.add_parser("set")
    for name in ("inspect", "plan-updates"):
        d = ds.add_parser(name)
        d.add_argument("--json", action="store_true")

    sub.add_parser("migrate")
    sub.add_parser("selftest")
    sub.add_parser("doctor")
    s = sub.add_parser("privacy")
    s.add_argument("--audit", action="store_true")

    s = sub.add_parser("sim", help="drive the simulated Mac (test harness)")
    ss = s.add_subparsers(dest="action", parser_class=Parser)
    ss.required = True
    x = ss.add_parser("reset")
    x.add_argument("--seed")
    x = ss.add_parser("run-app")
    x.add_argument("bundle_id")
    x.add_argument("--refuse-quit", action="store_true")
    for name in ("set-latest", "set-installed"):
        x = ss.add_parser(name)
        x.add_argument("bundle_id")
        x.add_argument("version")
    x = ss.add_parser("vanish")
    x.add_argument("bundle_id")
    x = ss.add_parser("hold-lock")
    x.add_argument("seconds", type=float)
    ss.add_parser("events")
    x = ss.add_parser("knobs")
    x.add_argument("knob_action", choices=["set", "clear", "show", "speed"])
    x.add_argument("value", nargs="?")
    x = ss.add_parser("journal")
    x.add_argument("--clear", action="store_true")
    return p


# ---------------------------------------------------------------- dispatch

def _int_arg(text, label):
    try:
        return int(str(text).strip(), 10)
    except ValueError:
        raise common.EngineError("%s must be a whole number." % label, common.EXIT_USAGE)


def dispatch(a, knobs):
    cmd = a.command
    if cmd == "list":
        records = library.list_records(outdated_only=not a.all)
        common.out(library.render_list_json(records) if a.json else library.render_list_text(records))
    elif cmd == "scan":
        library.scan(knobs, verbose=a.verbose)
    elif cmd == "update":
        if os.environ.get("VARNO_EVENTS") == "1":
            return stream.run(knobs, a.only or [], a.approved)
        actions.run_updates(knobs, a.only or [], a.approved)
    elif cmd == "mode":
        if a.mode is None and not a.on_quit:
            raise common.EngineError("Give an update mode (auto, ask, notify, ignore or self) or --on-quit.",
                                     common.EXIT_USAGE)
        if a.mode is not None and a.mode not in actions.UPDATE_MODES:
            raise common.EngineError("Unknown update mode %s; use auto, ask, notify, ignore or self." % a.mode,
                                     common.EXIT_USAGE)
        actions.set_mode(a.bundle_id, a.mode, a.on_quit)
    elif cmd == "trigger-update":
        actions.trigger_update(knobs, a.bundle_id)
    elif cmd == "reinstall":
        actions.reinstall(knobs, a.bundle_id)
    elif cmd == "restore":
        actions.restore(knobs, a.bundle_id)
    elif cmd == "remove":
        actions.remove(knobs, a.bundle_id, a.yes)
    elif cmd == "fix":
        actions.fix(knobs, a.bundle_id)
    elif cmd == "adopt":
        return _adopt(a, knobs)
    elif cmd == "seal":
        common.out_json(library.seal(a.bundle_id))
    elif cmd == "backup":
        common.out_json(library.backup_status(a.bundle_id, knobs))
    elif cmd == "provenance":
        common.out(json.dumps(library.provenance(a.bundle_id), ensure_ascii=False,
                              indent=None if a.json else 2) + "\n")
    elif cmd == "diagnose":
        path = settings.support_bundle(a.out, knobs)
        common.out(path + "\n")
    elif cmd == "contribute":
        actions.contribute(a.bundle_id, a.mechanism, a.feed_url, a.homepage_url, a.download_url,
                           a.cask_token, a.mas_id, a.push)
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
    elif cmd == "migrate":
        world.ensure()
        with store.connect():
            pass
        common.ensure_dir(common.logs_dir())
    elif cmd == "selftest":
        settings.selftest()
        common.out("Self-test passed.\n")
    elif cmd == "doctor":
        text, healthy = settings.doctor_text()
        common.out(text)
        return 0 if healthy else 1
    elif cmd == "privacy":
        common.out(settings.privacy_audit())
    elif cmd == "sim":
        return _sim(a)
    return 0


def _adopt(a, knobs):
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


# ---------------------------------------------------------------- knobs around a command

def _sized_bytes(n, split):
    n = max(0, int(n))
    limit = 10 * 1024 * 1024
    if split and n > limit:
        return b"a" * (limit - 1) + "\u00e9".encode("utf-8") + b"a" * (n - limit - 1)
    return b"a" * n


def _write_fd(fd, data):
    view = memoryview(data)
    try:
        while view:
            view = view[os.write(fd, view):]
    except OSError:
        pass


def _replace_outputs(knobs):
    """Knobs that stand in for the command's work; True when they apply."""
    rule = knobs.rule
    if not any(k in rule for k in ("exit", "stdout", "stdout_bytes", "stderr_bytes")):
        return None
    split = rule.get("utf8_split") is True
    if isinstance(rule.get("stdout"), str):
        _write_fd(1, rule["stdout"].encode("utf-8"))
    if isinstance(rule.get("stdout_bytes"), int):
        _write_fd(1, _sized_bytes(rule["stdout_bytes"], split))
    if isinstance(rule.get("stderr"), str):
        _write_fd(2, (rule["stderr"] if rule["stderr"].endswith("\n") else rule["stderr"] + "\n").encode("utf-8"))
    if isinstance(rule.get("stderr_bytes"), int):
        _write_fd(2, _sized_bytes(rule["stderr_bytes"], split))
    status = rule.get("exit", 0)
    return status if isinstance(status, int) and not isinstance(status, bool) else 1


WRONG_FOR = {"str": 12345, "int": "7", "bool": 1}


def _wrong_value(key, current):
    kind = store.APP_TYPES.get(key)
    if kind is None:
        if isinstance(current, bool):
            kind = "bool"
        elif isinstance(current, int):
            kind = "int"
        elif isinstance(current, str):
            kind = "str"
    if kind in WRONG_FOR:
        return WRONG_FOR[kind]
    return "not-an-object" if isinstance(current, (dict, list)) else 12345


def _mutate_stdout(text, mode):
    if mode == "progress_prefix":
        return "Scanning\u2026 42%\n" + text
    if mode == "truncated":
        return text[: max(1, len(text) // 2)]
    if mode == "empty_array":
        return "[]\n"
    try:
        data = json.loads(text)
    except ValueError:
        return text
    if mode == "non_object_element":
        if isinstance(data, list):
            data.append(42)
        return json.dumps(data, ensure_ascii=False) + "\n"
    if ":" in mode:
        op, key = mode.split(":", 1)
        target = data[0] if isinstance(data, list) and data and isinstance(data[0], dict) else data
        if isinstance(target, dict) and key:
            parts = key.split(".")
            for part in parts[:-1]:
                nxt = target.get(part)
                if not isinstance(nxt, dict):
                    nxt = {}
                    target[part] = nxt
                target = nxt
            last = parts[-1]
            if op == "wrong_type":
                target[last] = _wrong_value(last, target.get(last))
            elif op == "null":
                target[last] = None
        return json.dumps(data, ensure_ascii=False) + "\n"
    return text


def _mutate_ghosts(mode):
    path = common.ghosts_path()
    if not os.path.exists(path):
        return
    with open(path, encoding="utf-8") as fh:
        text = fh.read()
    common.write_atomic(path, _mutate_stdout(text, mode))


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
            sim.write_journal(argv, code, started)

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
        wanted = rest[0] if rest and not rest[0].startswith("-") else None
        args = build_parser(wanted).parse_args(rest)
        if not harness:
            delay = knobs.get("delay")
            if isinstance(delay, (int, float)) and not isinstance(delay, bool) and delay > 0:
                time.sleep(delay)
            if knobs.get("hang") is True:
                while True:
                    time.sleep(3600)
            replaced = _replace_outputs(knobs)
            if replaced is not None:
                status = replaced
                if status in (9, 15):
                    journal(status)
                    sys.stdout.flush()
                    sys.stderr.flush()
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
                common.out(_mutate_stdout(text, mode))
        ghosts_mode = knobs.get("ghosts_mode")
        if isinstance(ghosts_mode, str) and args.command == "scan":
            _mutate_ghosts(ghosts_mode)
    except UsageError as exc:
        common.err_line("Usage: %s." % str(exc).rstrip("."))
        status = common.EXIT_USAGE
    except common.EngineError as exc:
        common.err_line(exc.message)
        status = exc.status
    except KeyboardInterrupt:
        status = 130
    except sqlite3.Error as exc:
        common.err_line("The VARNO database can't be used right now (%s)." % exc)
        status = common.EXIT_FAILED
    except SystemExit as exc:
        status = exc.code if isinstance(exc.code, int) else (0 if exc.code is None else common.EXIT_USAGE)
    except Exception as exc:  # the last line of defence: one sentence, never a traceback
        common.err_line("The engine hit an unexpected error (%s: %s)." % (type(exc).__name__, exc))
        status = common.EXIT_FAILED
    finally:
        journal(status)
    return status


def _install_signals(knobs, journal):
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
        sim.default_signal_exit(signal.SIGTERM)

    try:
        signal.signal(signal.SIGTERM, on_term)
    except (ValueError, OSError):
        pass

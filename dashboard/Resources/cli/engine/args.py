"""The engine's command line: one table of commands and their arguments, read two ways.

`parse` reads the argument vectors the app sends (and every plain one) without argparse, whose import
and parser building cost more than most commands themselves. Whatever it is not sure to read exactly as
argparse would (help, usage errors, --opt=value, "--", an option given twice, a value or a positional that
starts with "-", options between positionals) it leaves to `build_parser`, the argparse parser built from
the same table, so that every answer and every error text stays argparse's own.
"""

FLAG = "flag"          # --name: True when given
VALUE = "value"        # --name VALUE
VALUES = "values"      # --name VALUE [VALUE ...]
ONE = "one"            # a positional
MAYBE = "maybe"        # an optional positional
EITHER = "either"      # required, mutually exclusive flags: (EITHER, ("--a", "--b"))

# name: (help or None, arguments or {sub-command: arguments}). An argument is (name, kind) or
# (name, kind, extra keywords for argparse). The order is the order of --help.
COMMANDS = {
    "list": ("print the library", [("--json", FLAG), ("--all", FLAG)]),
    "scan": ("scan the installed apps", [("--verbose", FLAG)]),
    "update": ("update outdated apps", [("--only", VALUES, {"metavar": "BUNDLE_ID"}), ("--approved", FLAG)]),
    "mode": ("set an app's update mode", [("bundle_id", ONE), ("mode", MAYBE), ("--on-quit", FLAG)]),
    "trigger-update": ("open an app's own updater", [("bundle_id", ONE)]),
    "reinstall": (None, [("--bundle-id", VALUE, {"required": True})]),
    "restore": (None, [("--bundle-id", VALUE, {"required": True})]),
    "remove": (None, [("--bundle-id", VALUE, {"required": True}), ("--yes", FLAG)]),
    "fix": ("fix an app's last incident", [("bundle_id", ONE)]),
    "adopt": ("put a hand-installed app under Homebrew Cask",
              [("name", MAYBE), ("--dry-run", FLAG), ("--json", FLAG), ("--approved", FLAG), ("--undo", FLAG),
               ("--cask", VALUE), ("--allow-unsigned", FLAG)]),
    "seal": (None, [("--bundle-id", VALUE, {"required": True}), ("--json", FLAG)]),
    "backup": (None, [("--bundle-id", VALUE, {"required": True}), ("--json", FLAG)]),
    "provenance": (None, [("--json", FLAG), ("--bundle-id", VALUE)]),
    "diagnose": (None, [("--bundle", FLAG), ("--out", VALUE)]),
    "contribute": (None, [("--bundle-id", VALUE, {"required": True}), ("--mechanism", VALUE, {"required": True}),
                          ("--feed-url", VALUE), ("--homepage-url", VALUE), ("--download-url", VALUE),
                          ("--cask-token", VALUE), ("--mas-id", VALUE), ("--push", FLAG)]),
    "experiment": (None, [("action", ONE, {"choices": ["record"]}), ("--event", VALUE, {"required": True})]),
    "telemetry": (None, [("action", ONE, {"choices": ["status", "opt-in", "opt-out", "forget"]})]),
    "retention": (None, {
        "status": [("--json", FLAG)],
        "set": [("--keep", VALUE, {"required": True}), ("--days", VALUE, {"required": True}), ("--json", FLAG)],
        "consent": [(EITHER, ("--grant", "--revoke")), ("--json", FLAG)],
    }),
    "cleanup": (None, [("--backups", FLAG), ("--apply", FLAG), ("--json", FLAG)]),
    "dev": (None, {
        "set": [],
        "inspect": [("--json", FLAG)],
        "plan-updates": [("--json", FLAG)],
    }),
    "migrate": (None, []),
    "selftest": (None, []),
    "doctor": (None, []),
    "privacy": (None, [("--audit", FLAG)]),
    "sim": ("drive the simulated Mac (test harness)", {
        "reset": [("--seed", VALUE)],
        "run-app": [("bundle_id", ONE), ("--refuse-quit", FLAG)],
        "set-latest": [("bundle_id", ONE), ("version", ONE)],
        "set-installed": [("bundle_id", ONE), ("version", ONE)],
        "vanish": [("bundle_id", ONE)],
        "hold-lock": [("seconds", ONE, {"type": float})],
        "events": [],
        "knobs": [("knob_action", ONE, {"choices": ["set", "clear", "show", "speed"]}), ("value", MAYBE)],
        "journal": [("--clear", FLAG)],
    }),
}

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


class UsageError(Exception):
    pass


class Args:
    """The parsed arguments, one attribute per argparse destination."""

    def __init__(self, values):
        self.__dict__.update(values)

    def __repr__(self):
        return "Args(%r)" % (self.__dict__,)


def _dest(name):
    return name.lstrip("-").replace("-", "_")


def _options(arguments):
    """Each option string with its argument, and the defaults argparse gives every destination."""
    options, defaults = {}, {}
    for argument in arguments:
        name, kind = argument[0], argument[1]
        if name == EITHER:
            for flag in kind:
                options[flag] = (flag, FLAG)
                defaults[_dest(flag)] = False
        elif name.startswith("-"):
            options[name] = argument
            defaults[_dest(name)] = False if kind == FLAG else None
        else:
            defaults[name] = None
    return options, defaults


def parse(rest):
    """The arguments as argparse reads them, or None when this reading leaves them to argparse."""
    if not rest or rest[0] not in COMMANDS:
        return None
    values = {"command": rest[0]}
    arguments = COMMANDS[rest[0]][1]
    tokens = rest[1:]
    if isinstance(arguments, dict):
        if not tokens or tokens[0] not in arguments:
            return None
        values["action"] = tokens[0]
        arguments, tokens = arguments[tokens[0]], tokens[1:]
    options, defaults = _options(arguments)
    values.update(defaults)
    positionals = [a for a in arguments if a[0] != EITHER and not a[0].startswith("-")]
    given, seen = [], set()
    run = "before"          # the positionals must be one run of words: before, inside or after it
    i = 0
    while i < len(tokens):
        token = tokens[i]
        if not token.startswith("-"):
            if run == "after":
                return None
            run = "inside"
            given.append(token)
            i += 1
            continue
        argument = options.get(token)
        if argument is None or token in seen:
            return None
        seen.add(token)
        if run == "inside":
            run = "after"
        kind = argument[1]
        if kind == FLAG:
            values[_dest(token)] = True
            i += 1
        elif kind == VALUE:
            if i + 1 >= len(tokens) or tokens[i + 1].startswith("-"):
                return None
            values[_dest(token)] = tokens[i + 1]
            i += 2
        else:   # VALUES, only in commands without positionals
            end = i + 1
            while end < len(tokens) and not tokens[end].startswith("-"):
                end += 1
            if end == i + 1 or positionals:
                return None
            values[_dest(token)] = tokens[i + 1:end]
            i = end
    required = [a for a in positionals if a[1] == ONE]
    if not len(required) <= len(given) <= len(positionals):
        return None
    for argument, word in zip(positionals, given):
        extra = argument[2] if len(argument) > 2 else {}
        if "type" in extra:
            try:
                word = extra["type"](word)
            except (TypeError, ValueError):
                return None
        if "choices" in extra and word not in extra["choices"]:
            return None
        values[argument[0]] = word
    for argument in arguments:
        if argument[0] == EITHER:
            if sum(1 for flag in argument[1] if flag in seen) != 1:
                return None
        elif len(argument) > 2 and argument[2].get("required") and argument[0] not in seen:
            return None
    return Args(values)


def build_parser(wanted=None):
    """The argparse parser of the table; with wanted, only that command's arguments are added (the
    other commands are still named, for argparse's own errors and help)."""
    import argparse

    class Parser(argparse.ArgumentParser):
        def __init__(self, *args, **kwargs):
            kwargs.setdefault("allow_abbrev", False)
            super().__init__(*args, **kwargs)

        def error(self, message):
            raise UsageError(message)

    p = Parser(prog="varno", description="VARNO engine (simulated Mac library).", epilog=EPILOG,
               formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = p.add_subparsers(dest="command", parser_class=Parser)
    sub.required = True
    for name, (text, arguments) in COMMANDS.items():
        s = sub.add_parser(name, help=text) if text is not None else sub.add_parser(name)
        if wanted is not None and name != wanted:
            continue
        if isinstance(arguments, dict):
            actions = s.add_subparsers(dest="action", parser_class=Parser)
            actions.required = True
            for action, action_arguments in arguments.items():
                _add_arguments(actions.add_parser(action), action_arguments)
        else:
            _add_arguments(s, arguments)
    return p


def _add_arguments(parser, arguments):
    for argument in arguments:
        name, kind = argument[0], argument[1]
        extra = dict(argument[2]) if len(argument) > 2 else {}
        if name == EITHER:
            group = parser.add_mutually_exclusive_group(required=True)
            for flag in kind:
                group.add_argument(flag, action="store_true")
        elif kind == FLAG:
            parser.add_argument(name, action="store_true", **extra)
        elif kind == VALUES:
            parser.add_argument(name, nargs="+", **extra)
        elif kind == MAYBE:
            parser.add_argument(name, nargs="?", **extra)
        else:
            parser.add_argument(name, **extra)

"""Test knobs of the simulated engine.

Knobs live in <sim>/knobs.json and are re-read at every invocation (the app's
environment is fixed when it starts, a file is not). VARNO_SIM_KNOBS may hold
inline JSON or a path to such a file instead. The file is either a list of
rules or an object {"speed": float, "rules": [...]}.

A rule is an object whose "command" (a string of words or a list of words) is
a prefix of the argument vector after the contract flag; the first live rule
that matches wins. "times": n makes a rule expire after n matches; the
counters live in <sim>/knob-state.json.

VARNO_SIM_SPEED (a float; 0 makes everything instant) overrides "speed".
"""

import os
import time

from . import common

KNOWN_RULE_KEYS = {
    "command", "times", "delay", "hang", "on_sigterm", "exit", "stderr", "stdout",
    "stdout_mode", "stdout_bytes", "stderr_bytes", "utf8_split", "telemetry_line",
    "step_delay", "heartbeat", "silence", "free_text", "then_exit", "noise",
    "ignore_controls", "no_pause_ack", "per_app", "adopt_fail", "backup_reason",
    "ghosts_mode", "note",
}


def knobs_path():
    return os.path.join(common.sim_root(), "knobs.json")


def state_path():
    return os.path.join(common.sim_root(), "knob-state.json")


def load_document():
    """The knob document as {"speed": ..., "rules": [...]}; bad input gives none."""
    inline = os.environ.get("VARNO_SIM_KNOBS", "").strip()
    doc = None
    if inline:
        if inline[:1] in "[{":
            from . import jsontext
            try:
                doc = jsontext.loads(inline)
            except ValueError:
                raise common.EngineError("VARNO_SIM_KNOBS is not valid JSON.", common.EXIT_USAGE)
        else:
            doc = common.read_json(inline)
            if doc is None:
                raise common.EngineError("The knob file named by VARNO_SIM_KNOBS can't be read.",
                                         common.EXIT_USAGE)
    else:
        doc = common.read_json(knobs_path(), None)
    return normalise(doc)


def normalise(doc):
    if isinstance(doc, list):
        doc = {"rules": doc}
    if not isinstance(doc, dict):
        doc = {}
    rules = doc.get("rules")
    if not isinstance(rules, list):
        rules = []
    rules = [r for r in rules if isinstance(r, dict)]
    result = {"rules": rules}
    speed = doc.get("speed")
    if isinstance(speed, (int, float)) and not isinstance(speed, bool) and speed >= 0:
        result["speed"] = float(speed)
    return result


def rule_words(rule):
    cmd = rule.get("command", "")
    if isinstance(cmd, list):
        return [str(w) for w in cmd]
    return str(cmd).split()


def rule_id(index, rule):
    import json
    return "%d:%s" % (index, common.digest(json.dumps(rule, sort_keys=True))[:12])


class Knobs:
    """The knobs in force for one invocation."""

    def __init__(self, speed=1.0, rule=None):
        self.speed = speed
        self.rule = rule or {}

    def get(self, key, default=None):
        return self.rule.get(key, default)

    def pace(self, seconds):
        """Sleep a simulated duration, scaled by the speed knob."""
        if seconds > 0 and self.speed > 0:
            time.sleep(seconds * self.speed)

    def scaled(self, seconds):
        return seconds * self.speed

    def per_app(self, bundle_id):
        table = self.rule.get("per_app")
        if isinstance(table, dict):
            entry = table.get(bundle_id)
            if isinstance(entry, dict):
                return entry
        return None


class _state_lock:
    """Counters of expiring rules are shared by concurrent engine runs."""

    def __enter__(self):
        import fcntl
        common.ensure_dir(common.sim_root())
        self.fd = os.open(state_path() + ".lock", os.O_RDWR | os.O_CREAT, 0o600)
        fcntl.flock(self.fd, fcntl.LOCK_EX)
        return self

    def __exit__(self, *exc):
        os.close(self.fd)
        return False


def resolve(argv, consume=True):
    """Find the knobs for this argument vector; count the matched rule's use."""
    doc = load_document()
    speed = doc.get("speed", 1.0)
    env_speed = os.environ.get("VARNO_SIM_SPEED", "").strip()
    if env_speed:
        try:
            value = float(env_speed)
            if value >= 0:
                speed = value
        except ValueError:
            pass
    chosen = None
    for index, rule in enumerate(doc["rules"]):
        words = rule_words(rule)
        if argv[:len(words)] != words:
            continue
        times = rule.get("times")
        if isinstance(times, int) and not isinstance(times, bool):
            key = rule_id(index, rule)
            with _state_lock():
                state = common.read_json(state_path(), {})
                if not isinstance(state, dict):
                    state = {}
                used = state.get(key, 0)
                if not isinstance(used, int) or used >= times:
                    continue
                if consume:
                    state[key] = used + 1
                    common.write_json(state_path(), state)
        chosen = rule
        break
    return Knobs(speed, chosen)

"""What knob rules do around a command: stand in for its work (exit, stdout, stderr, sized output) or
rewrite its answer (stdout_mode, ghosts_mode). Loaded only when a rule applies to the run."""

import os

from . import common


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


def replace_outputs(knobs):
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
    from . import store
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


def mutate_stdout(text, mode):
    if mode == "progress_prefix":
        return "Scanning\u2026 42%\n" + text
    if mode == "truncated":
        return text[: max(1, len(text) // 2)]
    if mode == "empty_array":
        return "[]\n"
    import json
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


def mutate_ghosts(mode):
    path = common.ghosts_path()
    if not os.path.exists(path):
        return
    with open(path, encoding="utf-8") as fh:
        text = fh.read()
    common.write_atomic(path, mutate_stdout(text, mode))

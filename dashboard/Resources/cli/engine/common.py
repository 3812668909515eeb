"""Shared helpers of the engine: paths, errors, output, time and versions.

Every engine run imports this module, so it loads only os, sys and time up front; json, re, hashlib
and datetime are imported by the helpers that use them.
"""

import os
import sys
import time

ENGINE_DIR = os.path.dirname(os.path.abspath(__file__))
CLI_DIR = os.path.dirname(ENGINE_DIR)

# Exit statuses of the engine.
EXIT_OK = 0
EXIT_FAILED = 1
EXIT_USAGE = 2
EXIT_UNKNOWN_APP = 3
EXIT_CONTRACT = 64
EXIT_LOCKED = 75


class EngineError(Exception):
    """A failure the user reads: one plain sentence and an exit status."""

    def __init__(self, message, status=EXIT_FAILED):
        super().__init__(message)
        self.message = one_line(message)
        self.status = status


def one_line(text):
    text = " ".join(str(text).split())
    return text if text else "The engine failed."


def engine_version():
    try:
        with open(os.path.join(CLI_DIR, ".cli_version"), encoding="utf-8") as fh:
            return fh.read().strip() or "0.0.0"
    except OSError:
        return "0.0.0"


# ---------------------------------------------------------------- paths
# Every path is computed from HOME as this process sees it, at call time.

def home():
    return os.path.expanduser("~")


def data_dir():
    return os.path.join(home(), "Library", "Application Support", "VARNO")


def logs_dir():
    return os.path.join(home(), "Library", "Logs", "VARNO")


def engine_home():
    return os.path.join(home(), ".varno")


def sim_root():
    override = os.environ.get("VARNO_SIM_ROOT", "").strip()
    return override if override else os.path.join(data_dir(), "sim")


def db_path():
    return os.path.join(data_dir(), "varno.db")


def ghosts_path():
    return os.path.join(data_dir(), "ghosts.json")


def workbench_path():
    return os.path.join(data_dir(), "developer_workbench.json")


def backups_dir():
    return os.path.join(data_dir(), "backups")


def lock_path():
    return os.path.join(data_dir(), "update.lock")


def scan_log_path():
    return os.path.join(engine_home(), "logs", "scan.err")


def ensure_dir(path):
    os.makedirs(path, mode=0o700, exist_ok=True)
    return path


_SAFE = frozenset("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-")


def safe_name(text):
    """A file-name-safe form of a bundle id (ids come from files and users): every character but
    ASCII letters, digits, ".", "_" and "-" becomes "_"."""
    name = "".join(ch if ch in _SAFE else "_" for ch in text or "")
    if name in ("", ".", ".."):
        name = "_" + name.replace(".", "_")
    return name


def is_within(path, folder):
    path = os.path.realpath(path)
    folder = os.path.realpath(folder)
    return path == folder or path.startswith(folder + os.sep)


# ---------------------------------------------------------------- files

def write_atomic(path, data):
    """Write bytes or text to path through a temporary file and a rename."""
    if isinstance(data, str):
        data = data.encode("utf-8")
    ensure_dir(os.path.dirname(path))
    tmp = "%s.tmp-%d" % (path, os.getpid())
    try:
        with open(tmp, "wb") as fh:
            fh.write(data)
            fh.flush()
            os.fsync(fh.fileno())
        os.replace(tmp, path)
    finally:
        if os.path.exists(tmp):
            try:
                os.unlink(tmp)
            except OSError:
                pass


def write_json(path, value):
    import json
    write_atomic(path, (json.dumps(value, indent=2, ensure_ascii=False) + "\n").encode("utf-8", "replace"))


def read_json(path, default=None):
    """Read a JSON file; a missing or unreadable file gives the default."""
    try:
        with open(path, "rb") as fh:
            data = fh.read()
    except OSError:
        return default
    from . import jsontext
    try:
        return jsontext.loads(data.decode("utf-8"))
    except (ValueError, UnicodeDecodeError):
        return default


def append_line(path, line):
    ensure_dir(os.path.dirname(path))
    with open(path, "ab") as fh:
        fh.write((line.rstrip("\n") + "\n").encode("utf-8", "replace"))


# ---------------------------------------------------------------- output

_capture = None


def capture_stdout(on):
    """Collect stdout in memory (for knobs that rewrite a command's output)."""
    global _capture
    if on:
        _capture = []
        return None
    text, _capture = "".join(_capture or []), None
    return text


def out(text):
    """Write text to stdout as UTF-8, whatever the locale says."""
    if _capture is not None:
        _capture.append(text)
        return
    data = text.encode("utf-8", "replace")
    try:
        sys.stdout.flush()
        sys.stdout.buffer.write(data)
        sys.stdout.buffer.flush()
    except BrokenPipeError:
        pass


def out_json(value):
    from . import jsontext
    out(jsontext.dumps(value, ensure_ascii=False) + "\n")


def err_line(text):
    try:
        sys.stderr.buffer.write((one_line(text) + "\n").encode("utf-8", "replace"))
        sys.stderr.buffer.flush()
    except (BrokenPipeError, ValueError):
        pass


def quiet():
    return os.environ.get("VARNO_QUIET") == "1"


def say(text):
    """Human progress text on stdout, silenced by VARNO_QUIET=1."""
    if not quiet():
        out(text.rstrip("\n") + "\n")


# ---------------------------------------------------------------- time

ISO_UTC = "%Y-%m-%dT%H:%M:%SZ"


def utc_now():
    from datetime import datetime, timezone
    return datetime.now(timezone.utc).replace(microsecond=0)


def iso_utc(dt=None):
    """Now (or dt) as 2026-01-09T14:25:30Z; now needs no datetime, which the journal of every run uses."""
    return dt.strftime(ISO_UTC) if dt else time.strftime(ISO_UTC, time.gmtime())


def parse_iso_utc(text):
    from datetime import datetime, timezone
    try:
        return datetime.strptime(text, ISO_UTC).replace(tzinfo=timezone.utc)
    except (TypeError, ValueError):
        return None


def compact_stamp(ts=None):
    """Local time as yyyyMMdd-HHmmss, the backup folder name."""
    return time.strftime("%Y%m%d-%H%M%S", time.localtime(ts if ts is not None else time.time()))


def parse_compact_stamp(text):
    fields = _plain_compact_stamp(text)
    try:
        if fields is not None:
            return time.mktime(fields + (0, 0, -1))
        return time.mktime(time.strptime(text, "%Y%m%d-%H%M%S"))
    except (TypeError, ValueError, OverflowError):
        return None


def _plain_compact_stamp(text):
    """(year, month, day, hour, minute, second) of a stamp as compact_stamp writes it, when strptime
    would read it the same way; None leaves anything else to strptime (whose import costs more than
    listing a few backups)."""
    if not isinstance(text, str) or len(text) != 15 or text[8] != "-" \
            or not all("0" <= ch <= "9" for ch in text[:8] + text[9:]):
        return None
    fields = (int(text[0:4]), int(text[4:6]), int(text[6:8]), int(text[9:11]), int(text[11:13]), int(text[13:15]))
    year, month, day, hour, minute, second = fields
    if year >= 1900 and 1 <= month <= 12 and 1 <= day <= 28 and hour <= 23 and minute <= 59 and second <= 59:
        return fields
    return None


# ---------------------------------------------------------------- versions

def version_key(text):
    """Numeric parts of a version: "4.0 (1234)" -> [4, 0], letters ignored. The head ends at the first
    blank or "("; only ASCII digits count."""
    text = (text or "").strip()
    head = text
    for index, ch in enumerate(text):
        if ch == "(" or ch.isspace():
            head = text[:index]
            break
    parts = []
    for piece in head.split("."):
        digits = "".join(ch for ch in piece if "0" <= ch <= "9")
        if digits:
            parts.append(int(digits))
    return parts


def compare_versions(a, b):
    """-1, 0 or 1, comparing numerically with missing parts as zero."""
    ka, kb = version_key(a), version_key(b)
    width = max(len(ka), len(kb))
    ka += [0] * (width - len(ka))
    kb += [0] * (width - len(kb))
    return (ka > kb) - (ka < kb)


# ---------------------------------------------------------------- determinism

def digest(*parts):
    import hashlib
    return hashlib.sha256("\x1f".join(str(p) for p in parts).encode("utf-8")).hexdigest()


def fraction(*parts):
    """A stable number in [0, 1) derived from the parts."""
    return int(digest(*parts)[:8], 16) / float(0x100000000)

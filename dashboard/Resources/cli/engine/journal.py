"""The journal: one line per engine run (harness commands aside) in <sim>/journal.log, so that tests
and people can see exactly what the app asked: time, exit status, duration and the argument vector."""

import os
import time

from . import common, jsontext


def journal_path():
    return os.path.join(common.sim_root(), "journal.log")


def write_journal(argv, status, started):
    """One line per invocation: time, exit status, duration and the argument vector."""
    try:
        common.append_line(journal_path(), "%s\t%s\t%.3f\t%s" % (
            common.iso_utc(), status, time.monotonic() - started, jsontext.dumps(argv, ensure_ascii=True)))
    except Exception:   # the journal never turns a result into a failure
        pass


def read_journal():
    """The journal as a list of (time, status, seconds, argv); for tests and tools."""
    import json
    entries = []
    try:
        with open(journal_path(), encoding="utf-8") as fh:
            for line in fh:
                parts = line.rstrip("\n").split("\t", 3)
                if len(parts) == 4:
                    try:
                        entries.append((parts[0], parts[1], float(parts[2]), json.loads(parts[3])))
                    except ValueError:
                        continue
    except OSError:
        pass
    return entries

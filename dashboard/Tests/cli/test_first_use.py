"""Engine runs that meet on a fresh install: each first open creates, switches and migrates the database."""

import mmap
import os
import select
import shutil
import sqlite3
import subprocess
import tempfile
import unittest

from engine_harness import ENGINE, FRAME, PYTHON, EngineCase

# Commands the app may start at once on a first launch (the experiment recorder, the onboarding's
# telemetry choice), each with the query that finds its write and the value that query must give.
FIRST_COMMANDS = [(("experiment", "record", "--event", "first.%d" % n),
                   "SELECT COUNT(*) FROM experiment_events WHERE name='first.%d'" % n, 1) for n in range(7)]
FIRST_COMMANDS.append((("telemetry", "opt-in"), "SELECT value FROM settings WHERE key='telemetry.opt_in'", "1"))

ROUNDS = 50

# Runs one command as varno.py runs it, from a start line. The engine is loaded first (every module of
# it, so that nothing is left to compile on a fresh home) and says so on the ready pipe; it then sleeps
# until the test closes the hold pipe, says so again, and spins on a flag in a page it shares with the
# test. The test raises the flag once every command of the round spins: the commands that hold a core
# then leave in the same instant, and their first opens of the database meet.
GATE = """\
import importlib, mmap, os, runpy, sys
flag_path, ready, hold, engine_path = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
varno = runpy.run_path(engine_path, run_name="varno")
package = os.path.join(os.path.dirname(engine_path), "engine")
for name in sorted(os.listdir(package)):
    if name.endswith(".py") and name != "__init__.py":
        importlib.import_module("engine." + name[:-3])
with open(flag_path, "r+b") as fh:
    flag = mmap.mmap(fh.fileno(), 1)
os.write(ready, b".")
os.read(hold, 1)
os.close(hold)
os.write(ready, b".")
os.close(ready)
while flag[0] == 0:
    pass
sys.exit(varno["main"](sys.argv[5:]))
"""


class SimultaneousFirstOpens(EngineCase):

    def start_together(self, home, commands):
        """Runs the commands on the home, let go at the same instant; returns (status, stderr) of each."""
        flag_path = os.path.join(home, "start-flag")
        with open(flag_path, "wb") as fh:
            fh.write(b"\0")
        env = self.env()
        env["HOME"] = home
        ready_read, ready_write = os.pipe()
        hold_read, hold_write = os.pipe()
        procs = []
        try:
            for argv, _, _ in commands:
                procs.append(subprocess.Popen(
                    PYTHON + ["-c", GATE, flag_path, str(ready_write), str(hold_read), ENGINE] + FRAME + list(argv),
                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                    env=env, cwd=home, pass_fds=(ready_write, hold_read)))
                self.children.append(procs[-1])
        finally:
            os.close(ready_write)
            os.close(hold_read)
        with os.fdopen(ready_read, "rb", buffering=0) as ready:
            self.read_marks(ready, procs)       # every command is loaded
            os.close(hold_write)
            self.read_marks(ready, procs)       # and spins on the flag
        with open(flag_path, "r+b") as fh:
            with mmap.mmap(fh.fileno(), 1) as flag:
                flag[0] = 1
        results = []
        for proc in procs:
            _, err = proc.communicate(timeout=120)
            results.append((proc.returncode, err.decode("utf-8", "replace")))
        return results

    @staticmethod
    def read_marks(ready, procs):
        """Reads a mark of each command from the ready pipe; returns early when a command has ended before
        its start line (its status and standard error then tell why) or every command has closed the pipe."""
        count = len(procs)
        while count > 0:
            if select.select([ready], [], [], 0.5)[0]:
                chunk = ready.read(count)
                if not chunk:
                    return
                count -= len(chunk)
            elif any(proc.poll() is not None for proc in procs):
                return

    def test_first_commands_started_at_once_all_succeed_and_keep_their_writes(self):
        for round_number in range(ROUNDS):
            home = tempfile.mkdtemp(prefix="varno-first-")
            self.addCleanup(shutil.rmtree, home, True)
            results = self.start_together(home, FIRST_COMMANDS)
            for (argv, _, _), result in zip(FIRST_COMMANDS, results):
                self.assertEqual(result, (0, ""), "round %d: %s" % (round_number, " ".join(argv)))
            db = sqlite3.connect(os.path.join(home, "Library", "Application Support", "VARNO", "varno.db"))
            try:
                for argv, query, expected in FIRST_COMMANDS:
                    self.assertEqual(db.execute(query).fetchone()[0], expected,
                                     "round %d: the write of %s" % (round_number, " ".join(argv)))
                self.assertEqual(db.execute("PRAGMA journal_mode").fetchone()[0], "wal")
            finally:
                db.close()
            shutil.rmtree(home, True)


if __name__ == "__main__":
    unittest.main()

"""The engine's answers, byte for byte: a table of commands run in order on one fresh demo world, each
one's exit status, stdout and stderr, and the journal after them, compared with the transcript committed
in golden/transcript.txt, and the files left in the home folder (but the engine's bytecode cache, whose
file names follow the interpreter).

Only what is new at every run is masked: the temporary home folder, times of this run (ISO and backup
folder stamps, support bundle names), the journal's durations and the interpreter's version. Answers that argparse words (help, usage
errors) are compared only under the Python version that recorded them, since argparse's wording moves
between versions.

VARNO_GOLDEN_RECORD=1 rewrites the transcript instead of comparing (do that only on purpose, after a change
of behaviour, and read the diff).
"""

import calendar
import difflib
import json
import os
import platform
import re
import sys
import time
import unittest

from engine_harness import EngineCase, HERE

GOLDEN = os.path.join(HERE, "golden", "transcript.txt")
WORKBENCH = json.dumps({"workbenchEnabled": True, "npmEnabled": True, "projectFolders": ["/src/alpha"]})

# (flags, argv, stdin, extra environment). Flags: "raw" runs without the contract frame, "words" marks an
# answer that argparse words. The rows run in this order on one world, so later rows see earlier changes.
STEPS = [
    ("raw", ["--version"], None, None),
    ("", ["--version"], None, None),
    ("raw", ["--engine-contract-version=1", "--version"], None, None),
    ("", ["--engine-contract-version=1", "--version"], None, None),
    ("raw", ["--engine-contract-version"], None, None),
    ("raw", ["--engine-contract-version", "2", "list", "--json", "--all"], None, None),
    ("raw", ["--engine-contract-version", "one", "list"], None, None),
    # before the first scan
    ("", ["migrate"], None, None),
    ("", ["selftest"], None, None),
    ("", ["list", "--json", "--all"], None, None),
    ("", ["list"], None, None),
    ("", ["telemetry", "status"], None, None),
    ("", ["retention", "status", "--json"], None, None),
    ("", ["provenance", "--json"], None, None),
    ("", ["seal", "--bundle-id", "org.sim.tallybook", "--json"], None, None),
    ("", ["scan"], None, None),
    # the quick commands on a scanned library
    ("", ["list", "--json", "--all"], None, None),
    ("", ["list", "--json"], None, None),
    ("", ["list", "--all"], None, None),
    ("", ["list"], None, None),
    ("raw", ["list", "--json", "--all"], None, None),
    ("", ["seal", "--bundle-id", "org.sim.tallybook", "--json"], None, None),
    ("", ["seal", "--bundle-id", "org.sim.signet"], None, None),
    ("", ["seal", "--bundle-id=org.sim.netherby", "--json"], None, None),
    ("", ["seal", "--bundle-id", "org.sim.nobody", "--json"], None, None),
    ("", ["seal", "--json", "--bundle-id", "org.sim.inkwell", "--bundle-id", "org.sim.kettle"], None, None),
    ("", ["backup", "--bundle-id", "org.sim.inkwell", "--json"], None, None),
    ("", ["backup", "--bundle-id", "org.sim.tallybook", "--json"], None, None),
    ("", ["backup", "--bundle-id", "org.sim.nobody", "--json"], None, None),
    ("", ["provenance", "--json"], None, None),
    ("", ["provenance", "--json", "--bundle-id", "org.sim.inkwell"], None, None),
    ("", ["provenance", "--bundle-id", "org.sim.saltmarsh"], None, None),
    ("", ["provenance", "--json", "--bundle-id", ""], None, None),
    ("", ["mode", "org.sim.brightside", "ask"], None, None),
    ("", ["mode", "org.sim.brightside", "auto"], None, None),
    ("", ["mode", "org.sim.kettle", "--on-quit"], None, None),
    ("", ["mode", "org.sim.kettle", "notify", "--on-quit"], None, None),
    ("", ["mode", "org.sim.brightside"], None, None),
    ("", ["mode", "org.sim.brightside", "Auto"], None, None),
    ("", ["mode", "org.sim.nobody", "auto"], None, None),
    ("", ["migrate"], None, None),
    ("", ["selftest"], None, None),
    ("", ["telemetry", "status"], None, None),
    ("", ["telemetry", "opt-in"], None, None),
    ("", ["telemetry", "status"], None, None),
    ("", ["telemetry", "status"], None, {"VARNO_SIM_KNOBS": '[{"command": "telemetry status", '
                                                            '"telemetry_line": "Telemetry opt-in: maybe"}]'}),
    ("", ["telemetry", "forget"], None, None),
    ("", ["retention", "status"], None, None),
    ("", ["retention", "status", "--json"], None, None),
    ("", ["retention", "set", "--keep", "2", "--days", "45", "--json"], None, None),
    ("", ["retention", "set", "--keep", "x", "--days", "45"], None, None),
    ("", ["retention", "set", "--keep", "51", "--days", "45", "--json"], None, None),
    ("", ["retention", "consent", "--grant", "--json"], None, None),
    # the app's other commands
    ("", ["update", "--only", "org.sim.tallybook"], None, None),
    ("", ["update", "--only", "org.sim.pebblenote", "--approved"], None, None),
    ("", ["update", "--only", "org.sim.nobody"], None, None),
    ("", ["update", "--only", "org.sim.kettle", "org.sim.fernlight", "--approved"], None, {"VARNO_EVENTS": "1"}),
    ("", ["update", "--approved"], None, {"VARNO_QUIET": "1"}),
    ("", ["trigger-update", "org.sim.ferrous"], None, None),
    ("", ["trigger-update", "org.sim.inkwell"], None, None),
    ("", ["reinstall", "--bundle-id", "org.sim.saltmarsh"], None, None),
    ("", ["restore", "--bundle-id", "org.sim.inkwell"], None, None),
    ("", ["remove", "--bundle-id", "org.sim.vellum"], None, None),
    ("", ["remove", "--bundle-id", "org.sim.vellum", "--yes"], None, None),
    ("", ["fix", "org.sim.netherby"], None, None),
    ("", ["fix", "org.sim.signet"], None, None),
    ("", ["adopt", "--dry-run", "--json", "Handmade Paint"], None, None),
    ("", ["adopt", "Roughcut"], None, None),
    ("", ["adopt", "--approved", "Handmade Paint"], None, None),
    ("", ["adopt", "--undo", "Handmade Paint"], None, None),
    ("", ["adopt", "   "], None, None),
    ("", ["contribute", "--bundle-id", "org.sim.mossgrid", "--mechanism", "direct_download",
          "--homepage-url", "   ", "--push"], None, None),
    ("", ["experiment", "record", "--event", "restore_used"], None, None),
    ("", ["experiment", "record", "--event", "  "], None, None),
    ("", ["cleanup", "--backups", "--json"], None, None),
    ("", ["cleanup", "--backups", "--apply", "--json"], None, None),
    ("", ["cleanup", "--json"], None, None),
    ("", ["dev", "set"], WORKBENCH, None),
    ("", ["dev", "set"], "{nope", None),
    ("", ["dev", "inspect", "--json"], None, None),
    ("", ["dev", "plan-updates", "--json"], None, None),
    ("", ["diagnose", "--bundle"], None, None),
    ("", ["diagnose", "--bundle", "--out", "/tmp/elsewhere.json"], None, None),
    ("", ["doctor"], None, None),
    ("", ["privacy", "--audit"], None, None),
    ("", ["scan", "--verbose"], None, None),
    ("", ["list", "--json", "--all"], None, None),
    # knobs that stand in for a command's work or rewrite its answer
    ("", ["list", "--json", "--all"], None, {"VARNO_SIM_KNOBS": '[{"command": "list", "stdout_mode": "truncated"}]'}),
    ("", ["list", "--json"], None, {"VARNO_SIM_KNOBS": '[{"command": "list", "stdout_mode": "wrong_type:risk_score"}]'}),
    ("", ["seal", "--bundle-id", "org.sim.kettle", "--json"], None,
     {"VARNO_SIM_KNOBS": '{"rules": [{"command": ["seal"], "exit": 1, "stderr": "no seal today"}]}'}),
    ("", ["selftest"], None, {"VARNO_SIM_KNOBS": '[{"command": "selftest", "stdout": "x", "exit": 7}]'}),
    ("", ["migrate"], None, {"VARNO_SIM_KNOBS": "{not json"}),
    ("", ["migrate"], None, {"VARNO_SIM_KNOBS": "/nonexistent/knobs.json"}),
    ("", ["backup", "--bundle-id", "org.sim.inkwell", "--json"], None,
     {"VARNO_SIM_KNOBS": '[{"command": "backup", "backup_reason": "the disk is full"}]'}),
    # usage errors and help, as argparse words them
    ("words", [], None, None),
    ("words", ["frobnicate"], None, None),
    ("words", ["list", "--bogus"], None, None),
    ("words", ["list", "--js"], None, None),
    ("words", ["list", "extra"], None, None),
    ("words", ["seal", "--json"], None, None),
    ("words", ["seal", "--bundle-id"], None, None),
    ("words", ["seal", "--bundle-id", "--json"], None, None),
    ("words", ["mode"], None, None),
    ("words", ["mode", "a", "b", "c"], None, None),
    ("words", ["telemetry"], None, None),
    ("words", ["telemetry", "bogus"], None, None),
    ("words", ["retention"], None, None),
    ("words", ["retention", "consent", "--grant", "--revoke"], None, None),
    ("words", ["retention", "set", "--keep", "2"], None, None),
    ("words", ["experiment", "replay", "--event", "x"], None, None),
    ("words", ["sim", "knobs", "bogus"], None, None),
    ("words", ["sim", "hold-lock", "soon"], None, None),
    ("words", ["--help"], None, None),
    ("words", ["-h"], None, None),
    ("words", ["list", "--help"], None, None),
    ("words", ["retention", "set", "-h"], None, None),
    ("words", ["migrate", "--", "x"], None, None),
    ("words", ["update", "--only"], None, None),
    # the harness
    ("raw", ["sim", "knobs", "show"], None, None),
    ("raw", ["sim", "knobs", "set", '{"command": "list", "bogus": 1}'], None, None),
    ("raw", ["sim", "knobs", "speed", "-1"], None, None),
    ("raw", ["sim", "set-latest", "org.sim.kettle", "9.9"], None, None),
    ("raw", ["sim", "set-installed", "org.sim.nobody", "1.0"], None, None),
    ("raw", ["sim", "events"], None, None),
    ("raw", ["sim", "reset", "--seed", "nonsense"], None, None),
]

ISO = re.compile(r"\b(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)Z")
COMPACT = re.compile(r"\b(\d{4})(\d\d)(\d\d)-(\d\d)(\d\d)(\d\d)\b")
BUNDLE = re.compile(r"\b(\d{4})(\d\d)(\d\d)T(\d\d)(\d\d)(\d\d)Z\b")


class Masker:
    """Masks what changes from run to run; stamps from the seed or the world description stay."""

    def __init__(self, home, started, finished):
        self.home = home
        self.low, self.high = started - 120, finished + 120

    def _now(self, seconds):
        return self.low <= seconds <= self.high

    def __call__(self, text):
        text = text.replace(self.home, "~").replace("Python %s" % platform.python_version(), "Python <version>")

        def utc(m):
            t = time.struct_time(tuple(int(g) for g in m.groups()) + (0, 0, 0))
            return "<utc>" if self._now(_timegm(t)) else m.group(0)

        def local(m):
            try:
                t = time.mktime(time.struct_time(tuple(int(g) for g in m.groups()) + (0, 0, -1)))
            except (OverflowError, ValueError):
                return m.group(0)
            return "<local>" if self._now(t) else m.group(0)

        text = ISO.sub(utc, text)
        text = BUNDLE.sub(utc, text)
        return COMPACT.sub(local, text)


def _timegm(t):
    return calendar.timegm(t)


class GoldenTranscript(EngineCase):

    def transcript(self):
        env = {"COLUMNS": "100", "LINES": "40", "LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"}
        started = time.time()
        blocks = []
        for index, (flags, argv, stdin, extra) in enumerate(STEPS):
            step_env = dict(env)
            step_env.update(extra or {})
            proc = self.run_engine(*argv, stdin=(stdin or "").encode("utf-8"), frame="raw" not in flags,
                                   env=step_env)
            blocks.append((index, flags, argv, extra, proc))
        journal = self.read_file(os.path.join(self.data_dir, "sim", "journal.log"))
        mask = Masker(self.home, started, time.time())
        lines = ["# python %d.%d" % sys.version_info[:2]]
        for index, flags, argv, extra, proc in blocks:
            head = "## %03d %s%s %s" % (index, "words " if "words" in flags else "",
                                       "raw" if "raw" in flags else "framed", json.dumps(argv, ensure_ascii=True))
            if extra:
                head += " env " + json.dumps(extra, sort_keys=True, ensure_ascii=True)
            lines.append(head)
            lines.append("exit %d" % proc.returncode)
            for name, data in (("stdout", proc.stdout), ("stderr", proc.stderr)):
                text = mask(data.decode("utf-8", "backslashreplace"))
                lines.append("-- %s %d line(s)%s" % (name, text.count("\n"), "" if text.endswith("\n") or not text
                                                      else ", no final newline"))
                lines.extend(text.splitlines())
        lines.append("## journal")
        for line in journal.splitlines():
            parts = line.split("\t")
            if len(parts) == 4:
                parts[2] = "<seconds>"
            lines.append(mask("\t".join(parts)))
        lines.append("## files")
        cache = os.path.join(self.data_dir, "bytecode")
        for folder, _, files in sorted(os.walk(self.home)):
            if folder == cache or folder.startswith(cache + os.sep):
                continue
            lines.extend(mask(os.path.relpath(os.path.join(folder, name), self.home)) for name in sorted(files)
                         if not name.endswith(("-wal", "-shm")))
        return "\n".join(lines) + "\n"

    def test_transcript(self):
        actual = self.transcript()
        if os.environ.get("VARNO_GOLDEN_RECORD") == "1":
            os.makedirs(os.path.dirname(GOLDEN), exist_ok=True)
            with open(GOLDEN, "w", encoding="utf-8") as fh:
                fh.write(actual)
            self.skipTest("recorded %s" % GOLDEN)
        expected = self.read_file(GOLDEN)
        recorded = expected.split("\n", 1)[0]
        same_python = recorded == actual.split("\n", 1)[0]
        exp_blocks, act_blocks = _blocks(expected), _blocks(actual)
        self.assertEqual(list(exp_blocks), list(act_blocks), "the table of commands and the transcript differ")
        for key, want in exp_blocks.items():
            if key.split()[2:3] == ["words"] and not same_python:
                continue    # argparse's wording under another Python version
            got = act_blocks[key]
            if want != got:
                diff = "\n".join(difflib.unified_diff(want.splitlines(), got.splitlines(), "golden", "now",
                                                      lineterm=""))
                self.fail("%s\n%s" % (key, diff))


def _blocks(text):
    blocks, key = {}, None
    for line in text.split("\n")[1:]:
        if line.startswith("## "):
            key = line
            blocks[key] = []
        elif key is not None:
            blocks[key].append(line)
    return {k: "\n".join(v) for k, v in blocks.items()}


if __name__ == "__main__":
    unittest.main()

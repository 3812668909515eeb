"""What keeps the engine's start-up short must answer exactly as what it stands in for: the argument reader
as argparse, the JSON reader and writer as json, the version and file-name helpers as the regular
expressions they replace, and the bytecode cache as the sources it was compiled from. The quick commands
must also keep away from the modules that made start-up slow (what they import is checked, not timed)."""

import json
import os
import random
import re
import shutil
import subprocess
import sys
import time
import unittest

from engine_harness import ENGINE, FRAME, PYTHON, EngineCase

sys.dont_write_bytecode = True   # the engine's tree stays as it is shipped
sys.path.insert(0, os.path.dirname(ENGINE))
from engine import args, common, jsontext  # noqa: E402


PARSER = args.build_parser()


def argparse_reading(argv):
    """vars() of argparse's reading, or "usage" when argparse refuses (or prints help)."""
    try:
        return vars(PARSER.parse_args(argv))
    except (args.UsageError, SystemExit):
        return "usage"


class ArgumentsReadLikeArgparse(unittest.TestCase):

    # Every argument vector the app sends, and a few more spellings; all are read without argparse.
    PLAIN = [
        ["list", "--json", "--all"], ["list", "--all", "--json"], ["list"], ["scan"], ["scan", "--verbose"],
        ["update", "--only", "org.sim.a", "org.sim.b", "--approved"], ["update", "--approved", "--only", "x"],
        ["update"], ["mode", "org.sim.a", "auto"], ["mode", "org.sim.a", "--on-quit"],
        ["mode", "--on-quit", "org.sim.a", "ask"], ["mode", "org.sim.a", "notify", "--on-quit"],
        ["trigger-update", "org.sim.a"], ["reinstall", "--bundle-id", "org.sim.a"],
        ["restore", "--bundle-id", "org.sim.a"], ["remove", "--bundle-id", "org.sim.a", "--yes"],
        ["fix", "org.sim.a"], ["adopt", "--dry-run", "--json", "Handmade Paint"], ["adopt", "--undo", "X"],
        ["adopt", "--approved", "--cask", "tok", "--allow-unsigned", "Name"], ["adopt", "--json"],
        ["seal", "--bundle-id", "org.sim.a", "--json"], ["backup", "--bundle-id", "org.sim.a", "--json"],
        ["provenance", "--json", "--bundle-id", "org.sim.a"], ["provenance", "--json", "--bundle-id", ""],
        ["provenance"], ["diagnose", "--bundle", "--out", "/x/y.json"],
        ["contribute", "--bundle-id", "a", "--mechanism", "cask", "--feed-url", "u", "--homepage-url", "  ",
         "--download-url", "d", "--cask-token", "t", "--mas-id", "1", "--push"],
        ["experiment", "record", "--event", "restore_used"], ["telemetry", "status"], ["telemetry", "opt-out"],
        ["retention", "status", "--json"], ["retention", "set", "--keep", "2", "--days", "45", "--json"],
        ["retention", "consent", "--grant", "--json"], ["retention", "consent", "--revoke"],
        ["cleanup", "--backups", "--apply", "--json"], ["dev", "set"], ["dev", "inspect", "--json"],
        ["dev", "plan-updates"], ["migrate"], ["selftest"], ["doctor"], ["privacy", "--audit"],
        ["sim", "reset", "--seed", "large:40"], ["sim", "run-app", "org.sim.a", "--refuse-quit"],
        ["sim", "set-latest", "org.sim.a", "2.0"], ["sim", "hold-lock", "1.5"], ["sim", "hold-lock", "inf"],
        ["sim", "knobs", "set", "{\"command\": \"list\"}"], ["sim", "knobs", "show"], ["sim", "journal", "--clear"],
        ["sim", "events"], ["sim", "vanish", "org.sim.a"],
    ]

    # Left to argparse: help, errors, and spellings only argparse reads exactly.
    LEFT = [
        [], ["--help"], ["-h"], ["list", "-h"], ["frobnicate"], ["list", "--js"], ["list", "--json", "--json"],
        ["list", "extra"], ["seal", "--bundle-id=org.sim.a"], ["seal", "--json"], ["seal", "--bundle-id"],
        ["seal", "--bundle-id", "--json"], ["seal", "--bundle-id", "-x"], ["mode"], ["mode", "a", "b", "c"],
        ["mode", "a", "--on-quit", "b"], ["mode", "a", "-"], ["migrate", "--", "x"], ["update", "--only"],
        ["telemetry", "bogus"], ["telemetry"], ["retention"], ["retention", "--json", "status"],
        ["retention", "consent", "--grant", "--revoke"], ["retention", "consent"], ["retention", "set", "--keep", "2"],
        ["sim", "knobs", "speed", "-1"], ["sim", "hold-lock", "soon"], ["experiment", "replay", "--event", "x"],
        ["adopt", "-weird name"], ["dev"], ["sim"], ["--version"],
    ]

    def test_plain_vectors_are_read_as_argparse_reads_them(self):
        for argv in self.PLAIN:
            with self.subTest(argv=argv):
                fast = args.parse(argv)
                self.assertIsNotNone(fast, "left to argparse")
                self.assertEqual(vars(fast), argparse_reading(argv))

    def test_help_errors_and_rare_spellings_are_left_to_argparse(self):
        for argv in self.LEFT:
            with self.subTest(argv=argv):
                self.assertIsNone(args.parse(argv))

    def test_generated_vectors_agree_with_argparse(self):
        rng = random.Random(24)
        words = ["x", "org.sim.a", "", "auto", "1", "2.5", "-1", "-", "--", "-x", "--x=1", "status", "record",
                 "set", "show", "caf\u00e9", "a b"]
        checked = 0
        for name, (_, arguments) in args.COMMANDS.items():
            actions = arguments if isinstance(arguments, dict) else {None: arguments}
            for action, spec in actions.items():
                tokens = []
                for argument in spec:
                    tokens += list(argument[1]) if argument[0] == args.EITHER else [argument[0]]
                for _ in range(120):
                    argv = [name] + ([action] if action else [])
                    for _ in range(rng.randrange(0, 7)):
                        argv.append(rng.choice(tokens + words) if tokens and rng.random() < 0.6 else rng.choice(words))
                    fast = args.parse(argv)
                    reading = argparse_reading(argv)
                    if fast is not None:
                        checked += 1
                        self.assertEqual(vars(fast), reading, argv)
        self.assertGreater(checked, 300)

    def test_the_parser_of_one_command_reads_it_as_the_whole_parser(self):
        for argv in self.PLAIN:
            with self.subTest(argv=argv):
                self.assertEqual(vars(args.build_parser(argv[0]).parse_args(argv)), argparse_reading(argv))


def random_text(rng, length):
    pool = ["a", "Z", "0", " ", "\"", "\\", "/", "\n", "\t", "\x00", "\x1f", "\x7f", "\u00e9", "\u2028", "\u2026",
            "\ufeff", "\U0001F600", "\ud800", "{", "]", ":", ","]
    return "".join(rng.choice(pool) for _ in range(length))


def random_value(rng, depth=0):
    kind = rng.randrange(9 if depth < 3 else 6)
    if kind == 0:
        return random_text(rng, rng.randrange(12))
    if kind == 1:
        return rng.choice([0, -1, 7, 2 ** 70, -(2 ** 63)])
    if kind == 2:
        return rng.choice([0.0, -2.5, 1e300, 1.0 / 3])
    if kind == 3:
        return rng.choice([True, False])
    if kind == 4:
        return None
    if kind == 5:
        return random_text(rng, 3)
    if kind == 6:
        return [random_value(rng, depth + 1) for _ in range(rng.randrange(4))]
    if kind == 7:
        return tuple(random_value(rng, depth + 1) for _ in range(rng.randrange(3)))
    return {random_text(rng, rng.randrange(5)): random_value(rng, depth + 1) for _ in range(rng.randrange(4))}


def outcome(function, *argv, **kwargs):
    try:
        return "value", function(*argv, **kwargs)
    except Exception as exc:
        return "error", type(exc), str(exc)


class JsonLikeJson(unittest.TestCase):

    def test_written_as_json_dumps_writes(self):
        rng = random.Random(7)
        for _ in range(3000):
            value = random_value(rng)
            for ascii_only in (True, False):
                self.assertEqual(jsontext.dumps(value, ensure_ascii=ascii_only),
                                 json.dumps(value, ensure_ascii=ascii_only), repr(value))

    def test_what_json_writes_otherwise_or_refuses_goes_to_json(self):
        looped = []
        looped.append(looped)
        for value in ({1: "int key"}, {None: 1, True: 2}, float("nan"), [float("-inf")], {"a": {2.5: 1}},
                      object(), b"bytes", {"set": {1}}, looped):
            with self.subTest(value=repr(value)[:40]):
                self.assertEqual(outcome(jsontext.dumps, value, False), outcome(json.dumps, value, ensure_ascii=False))

    def test_read_as_json_loads_reads(self):
        rng = random.Random(11)
        texts = [json.dumps(random_value(rng), ensure_ascii=rng.random() < 0.5,
                            indent=rng.choice([None, 2])) for _ in range(1500)]
        texts += [" \t\n[1, 2]\r\n", "\ufeff{}", "{} x", "", "   ", "[1,]", "{\"a\" 1}", "tru", "NaN", "-Infinity",
                  "1e400", "[\"\\ud800\"]", "{\"a\": 1, \"a\": 2}", "\"\x01\"", "[" * 50 + "]" * 50, "01", "-",
                  "\u00a0[]", "[]\u00a0", "\"\\x\"", "{\"k\": [1.5e-3, -0, 1E+2]}", "nul", "[1] [2]"]
        for text in texts:
            with self.subTest(text=text[:40]):
                got, want = outcome(jsontext.loads, text), outcome(json.loads, text)
                if want[0] == "value":      # compared as text: NaN is not equal to itself
                    self.assertEqual((got[0], json.dumps(got[1])), ("value", json.dumps(want[1])))
                else:
                    self.assertEqual(got, want)


class HelpersLikeTheirExpressions(unittest.TestCase):

    @staticmethod
    def version_key_by_expression(text):
        text = (text or "").strip()
        head = re.split(r"[\s(]", text, maxsplit=1)[0] if text else ""
        return [int(re.sub(r"[^0-9]", "", piece)) for piece in head.split(".") if re.sub(r"[^0-9]", "", piece)]

    def test_version_key(self):
        blanks = [chr(c) for c in range(0x3000 + 1) if chr(c).isspace() or re.match(r"\s", chr(c))]
        rng = random.Random(3)
        samples = ["4.0 (1234)", "2024.01", "1.2.3-beta4", "", None, " 7 ", "1..2", "v10.x.3", "\u0663.1",
                   "1\u00a02", "1(2", "(1)", "12.\u00b2"] + ["1%s2.3" % b for b in blanks]
        samples += ["".join(rng.choice("0123456789.() ab\u00a0\u2007\u0663\t") for _ in range(rng.randrange(12)))
                    for _ in range(2000)]
        for text in samples:
            self.assertEqual(common.version_key(text), self.version_key_by_expression(text), repr(text))

    def test_safe_name(self):
        rng = random.Random(5)
        samples = ["org.sim.a", "", None, ".", "..", "a/b", "\u00e9t\u00e9", "a b", "-_.", "\x00", "..."]
        samples += ["".join(rng.choice("aZ09._-/ \u00e9\u0663:*") for _ in range(rng.randrange(8))) for _ in range(2000)]
        for text in samples:
            name = re.sub(r"[^A-Za-z0-9._-]", "_", text or "")
            if name in ("", ".", ".."):
                name = "_" + name.replace(".", "_")
            self.assertEqual(common.safe_name(text), name, repr(text))

    def test_compact_stamp(self):
        rng = random.Random(9)
        samples = ["20261120-084107", "20260229-000000", "20240229-235959", "20261131-120000", "00000101-000000",
                   "18991231-235959", "99991231-235959", "20261120-08410", "2026112-0084107", "20261120 084107",
                   "20261120-246000", "20261120-235960", "20261120-235961", "2026112\u0663-084107", "x", "", None,
                   " 20261120-084107", "20261120-084107 ", "+2026112-084107", "20261120-8:4107"]
        samples += ["%04d%02d%02d-%02d%02d%02d" % (rng.randrange(1890, 2100), rng.randrange(0, 14), rng.randrange(0, 33),
                                                  rng.randrange(0, 26), rng.randrange(0, 62), rng.randrange(0, 63))
                    for _ in range(3000)]
        for text in samples:
            try:
                want = time.mktime(time.strptime(text, "%Y%m%d-%H%M%S"))
            except (TypeError, ValueError, OverflowError):
                want = None
            self.assertEqual(common.parse_compact_stamp(text), want, repr(text))


class BytecodeCache(EngineCase):
    """The engine's modules come from <data>/bytecode only while their sources are unchanged."""

    def setUp(self):
        super().setUp()
        self.tree = os.path.join(self.home, "engine-copy")
        shutil.copytree(os.path.dirname(ENGINE), self.tree, ignore=shutil.ignore_patterns("__pycache__", "*.pyc"))
        self.cache = os.path.join(self.data_dir, "bytecode", sys.implementation.cache_tag)

    def engine(self, *argv):
        proc = subprocess.run(PYTHON + [os.path.join(self.tree, "varno.py")] + FRAME + list(argv),
                              capture_output=True, env=self.env(), timeout=60, cwd=self.home)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(proc.stderr, b"")
        return proc.stdout.decode("utf-8")

    def test_modules_are_cached_and_used_until_their_source_changes(self):
        self.assertEqual(self.engine("--version"), "varno 0.9.0-sim\n")
        cached = sorted(os.listdir(self.cache))
        self.assertIn("engine.cli.bin", cached)
        self.assertIn("engine.bin", cached)
        self.assertNotIn("engine.library.bin", cached)   # only what the command imported
        self.assertEqual(oct(os.stat(self.cache).st_mode & 0o777), "0o700")
        before = os.stat(os.path.join(self.cache, "engine.cli.bin")).st_mtime_ns
        self.assertEqual(self.engine("--version"), "varno 0.9.0-sim\n")
        self.assertEqual(os.stat(os.path.join(self.cache, "engine.cli.bin")).st_mtime_ns, before, "compiled again")

        # The same size and the same time stamps: only the content tells the change.
        cli = os.path.join(self.tree, "engine", "cli.py")
        stat = os.stat(cli)
        with open(cli, encoding="utf-8") as fh:
            text = fh.read()
        self.assertIn('"varno %s\\n"', text)
        with open(cli, "w", encoding="utf-8") as fh:
            fh.write(text.replace('"varno %s\\n"', '"VARNO %s\\n"'))
        os.utime(cli, ns=(stat.st_atime_ns, stat.st_mtime_ns))
        self.assertEqual(os.stat(cli).st_size, stat.st_size)
        self.assertEqual(self.engine("--version"), "VARNO 0.9.0-sim\n")

    def test_a_damaged_cache_is_compiled_anew(self):
        self.engine("--version")
        for name in os.listdir(self.cache):
            with open(os.path.join(self.cache, name), "wb") as fh:
                fh.write(b"\xe3 not bytecode")
        self.assertEqual(self.engine("--version"), "varno 0.9.0-sim\n")
        self.assertEqual(self.engine("--version"), "varno 0.9.0-sim\n")
        with open(os.path.join(self.cache, "engine.cli.bin"), "rb") as fh:
            self.assertNotIn(b"not bytecode", fh.read())

    def test_a_cache_that_cannot_be_written_is_passed_over(self):
        os.makedirs(self.data_dir)
        with open(os.path.join(self.data_dir, "bytecode"), "w") as fh:
            fh.write("a file where the cache folder would be")
        self.assertEqual(self.engine("--version"), "varno 0.9.0-sim\n")
        self.engine("scan")
        self.assertEqual(len(json.loads(self.engine("list", "--json", "--all"))), 25)

    def test_another_copy_of_the_engine_does_not_run_this_copys_bytecode(self):
        self.engine("--version")
        other = os.path.join(self.home, "other-copy")
        shutil.copytree(self.tree, other)
        with open(os.path.join(other, "engine", "cli.py"), encoding="utf-8") as fh:
            text = fh.read()
        with open(os.path.join(other, "engine", "cli.py"), "w", encoding="utf-8") as fh:
            fh.write(text.replace('"varno %s\\n"', '"other %s\\n"'))
        proc = subprocess.run(PYTHON + [os.path.join(other, "varno.py"), "--version"], capture_output=True,
                              env=self.env(), timeout=60)
        self.assertEqual(proc.stdout, b"other 0.9.0-sim\n")
        self.assertEqual(self.engine("--version"), "varno 0.9.0-sim\n")


class LeanDriver(unittest.TestCase):
    """The database driver loaded without functools behaves as with it, and leaves functools to load whole."""

    PROBE = r"""
import sys
sys.path.insert(0, sys.argv[1])
sys.dont_write_bytecode = True
if sys.argv[2] == "preloaded":
    import functools
from engine import store
driver = store.sqlite3
print(driver.__name__, "functools" in sys.modules)
conn = driver.connect(":memory:", isolation_level=None)
conn.row_factory = driver.Row
conn.execute("CREATE TABLE t (n INTEGER)")
for i in range(400):   # more distinct statements than the statement cache holds, each run twice
    for _ in range(2):
        conn.execute("INSERT INTO t (n) VALUES (%d)" % i)
row = conn.execute("SELECT count(*) AS c, sum(n) AS s FROM t").fetchone()
print(row["c"], row["s"])
try:
    conn.execute("SELECT * FROM missing")
except driver.OperationalError as exc:
    print(isinstance(exc, driver.Error))
import functools
print(hasattr(functools, "reduce"), hasattr(functools, "partial"))
"""

    def probe(self, mode):
        proc = subprocess.run(PYTHON + ["-c", self.PROBE, os.path.dirname(ENGINE), mode],
                              capture_output=True, timeout=60)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        return proc.stdout.decode("utf-8").split("\n")

    def test_driver_with_and_without_functools(self):
        for mode, loaded in (("fresh", "False"), ("preloaded", "True")):
            with self.subTest(mode=mode):
                lines = self.probe(mode)
                self.assertEqual(lines[0], "_sqlite3 " + loaded)
                self.assertEqual(lines[1:5], ["800 159600", "True", "True True", ""])


class QuickCommandsImportLittle(EngineCase):
    """What the quick commands import (seen with -X importtime) leaves out the heavy modules."""

    HEAVY = {"argparse", "json", "re", "enum", "signal", "hashlib", "shutil", "plistlib", "base64", "_strptime",
             "platform", "threading", "unicodedata", "tempfile", "datetime", "sqlite3", "sqlite3.dbapi2", "functools", "collections",
             "engine.actions", "engine.scanning", "engine.seeding", "engine.stream", "engine.sim", "engine.knob_effects"}

    QUICK = [
        (["--version"], {"_sqlite3", "engine.store", "engine.world", "engine.library"}),
        (["migrate"], {"engine.settings", "engine.library"}),
        (["selftest"], {"engine.library"}),
        (["list", "--json", "--all"], {"engine.settings"}),
        (["list", "--json"], {"engine.settings"}),
        (["seal", "--bundle-id", "org.sim.tallybook", "--json"], {"engine.settings"}),
        (["backup", "--bundle-id", "org.sim.inkwell", "--json"], {"engine.settings"}),
        (["provenance", "--json", "--bundle-id", "org.sim.inkwell"], {"engine.settings"}),
        (["mode", "org.sim.brightside", "auto"], {"engine.settings"}),
        (["telemetry", "status"], {"engine.library"}),
        (["retention", "status", "--json"], {"engine.library"}),
    ]

    def imported(self, *argv):
        proc = subprocess.run([sys.executable, "-S", "-X", "importtime", ENGINE] + FRAME + list(argv),
                              capture_output=True, env=self.env(), timeout=60, cwd=self.home)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        lines = proc.stderr.decode("utf-8").splitlines()
        self.assertTrue(lines and all(line.startswith("import time:") for line in lines), lines[-3:])
        return {line.rsplit("|", 1)[1].strip() for line in lines[1:]}

    def test_quick_commands_leave_the_heavy_modules_out(self):
        self.fresh_library()
        for argv, more in self.QUICK:
            with self.subTest(argv=argv):
                loaded = self.imported(*argv)
                self.assertIn("engine.cli", loaded)
                self.assertEqual(sorted(loaded & (self.HEAVY | more)), [])

    def test_the_other_commands_still_find_their_modules(self):
        self.fresh_library()
        self.assertIn("engine.scanning", self.imported("scan"))
        self.assertIn("engine.actions", self.imported("update", "--only", "org.sim.tallybook"))
        proc = subprocess.run([sys.executable, "-S", "-X", "importtime", ENGINE] + FRAME + ["list", "--bogus"],
                              capture_output=True, env=self.env(), timeout=60, cwd=self.home)
        self.assertEqual(proc.returncode, 2)
        lines = proc.stderr.decode("utf-8").splitlines()
        self.assertEqual(lines[-1], "Usage: unrecognized arguments: --bogus.")
        self.assertIn("argparse", {line.rsplit("|", 1)[1].strip() for line in lines[1:-1]})


if __name__ == "__main__":
    unittest.main()

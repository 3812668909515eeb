"""The queries the app runs itself through the sqlite3 command-line tool."""

import re
import shutil
import unittest

from engine_harness import EngineCase


@unittest.skipUnless(shutil.which("sqlite3"), "the sqlite3 command-line tool is not installed")
class DirectQueries(EngineCase):

    def test_queries_after_migrate_and_scan(self):
        self.ok("migrate")
        self.assertEqual(self.sql("SELECT COUNT(*) FROM apps"), "0")   # the first launch scans
        self.ok("scan")
        self.ok("update", "--only", "org.sim.tallybook")
        expected = [
            ("SELECT value FROM scan_metadata WHERE key='last_scan' LIMIT 1;",
             re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")),
            ("SELECT COUNT(*) FROM apps", re.compile(r"^25$")),
            ("SELECT COUNT(*) FROM apps WHERE latest_version IS NOT NULL AND latest_version != ''",
             re.compile(r"^21$")),
            ("SELECT COUNT(*) FROM apps WHERE latest_version IS NOT NULL AND latest_version != '' "
             "AND latest_version != current_version", re.compile(r"^1[0-9]$")),
            ("SELECT value FROM scan_metadata WHERE key='last_scan'", re.compile(r"Z$")),
            ("SELECT GROUP_CONCAT(name, ', ') FROM schema_version",
             re.compile(r"^001_apps, 002_scan_metadata, 003_provenance_events, .*")),
            ("SELECT COUNT(*) FROM provenance_events", re.compile(r"^9$")),
        ]
        for query, pattern in expected:
            with self.subTest(query):
                self.assertRegex(self.sql(query), pattern)
        tables = set(self.sql(".tables").split())
        self.assertTrue({"apps", "scan_metadata", "provenance_events", "schema_version", "settings",
                         "experiment_events", "contributions"} <= tables)

    def test_migrate_is_idempotent(self):
        self.ok("migrate")
        first = self.sql("SELECT GROUP_CONCAT(name, ', ') FROM schema_version")
        self.ok("migrate")
        self.assertEqual(self.sql("SELECT GROUP_CONCAT(name, ', ') FROM schema_version"), first)
        self.assertEqual(self.sql("SELECT COUNT(*) FROM schema_version"), str(len(first.split(", "))))


if __name__ == "__main__":
    unittest.main()

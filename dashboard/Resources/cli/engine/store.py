"""The engine's SQLite database: schema, migrations and records."""

import os
import sys


def _driver():
    """The SQLite driver, loaded for what a run uses of it.

    The sqlite3 package around the driver adds only datetime adapters, which the engine never hands the
    database, and importing datetime for them costs a run more than its queries do. The driver itself asks
    functools for lru_cache, its statement cache, and functools brings collections and much more with it:
    while no one has loaded functools yet, the driver gets a module that holds only lru_cache, built on the
    same C cache that functools.lru_cache wraps. Any other need falls back to the whole package.
    """
    try:
        from _functools import _lru_cache_wrapper
    except ImportError:
        _lru_cache_wrapper = None
    lean = None
    if _lru_cache_wrapper is not None and "functools" not in sys.modules:
        def lru_cache(maxsize=128, typed=False):
            return lambda function: _lru_cache_wrapper(function, maxsize, typed, tuple)
        lean = type(sys)("functools")
        lean.lru_cache = lru_cache
        sys.modules["functools"] = lean
    try:
        import _sqlite3
        return _sqlite3
    except (ImportError, AttributeError):   # no private name, or a driver that wants more of functools
        pass
    finally:
        if lean is not None and sys.modules.get("functools") is lean:
            del sys.modules["functools"]
    import sqlite3
    return sqlite3


from . import common

sqlite3 = _driver()

# Every column of an app record, in the order `list` prints them, with its JSON type.
APP_FIELDS = [
    ("bundle_id", "str"),
    ("app_name", "str"),
    ("current_version", "str"),
    ("latest_version", "str"),
    ("version_check_status", "str"),
    ("update_mechanism", "str"),
    ("vendor_updater_name", "str"),
    ("cask_token", "str"),
    ("mas_id", "str"),
    ("cask_match_confidence", "str"),
    ("latest_source", "str"),
    ("install_path", "str"),
    ("update_mode", "str"),
    ("user_ignored", "int"),
    ("self_managed", "bool"),
    ("vendor_self_update", "bool"),
    ("can_trigger_self_update", "bool"),
    ("trigger_kind", "str"),
    ("green_seal", "bool"),
    ("verified_path", "bool"),
    ("community_sha256_count", "int"),
    ("risk_tier", "str"),
    ("risk_score", "int"),
    ("unmanaged_state", "str"),
    ("last_updated", "str"),
    ("last_sha256", "str"),
    ("last_cdn_domain", "str"),
    ("last_team_id", "str"),
    ("last_update_source", "str"),
    ("version_first_seen", "str"),
    ("update_count", "int"),
    ("last_incident_code", "str"),
    ("last_incident_kind", "str"),
    ("last_incident_at", "str"),
]
APP_TYPES = dict(APP_FIELDS)

# Columns the engine keeps for itself; they are never printed.
APP_PRIVATE = [
    ("update_on_quit", "INTEGER NOT NULL DEFAULT 0"),
    ("seal_checked_at", "TEXT"),
]

_SQL_TYPE = {"str": "TEXT", "int": "INTEGER", "bool": "INTEGER"}


def _apps_sql():
    cols = ["bundle_id TEXT PRIMARY KEY", "app_name TEXT NOT NULL"]
    for name, kind in APP_FIELDS[2:]:
        cols.append("%s %s" % (name, _SQL_TYPE[kind]))
    for name, decl in APP_PRIVATE:
        cols.append("%s %s" % (name, decl))
    return "CREATE TABLE IF NOT EXISTS apps (%s)" % ", ".join(cols)


MIGRATIONS = [
    ("001_apps", [_apps_sql()]),
    ("002_scan_metadata", [
        "CREATE TABLE IF NOT EXISTS scan_metadata (key TEXT PRIMARY KEY, value TEXT)",
    ]),
    ("003_provenance_events", [
        "CREATE TABLE IF NOT EXISTS provenance_events ("
        "id INTEGER PRIMARY KEY AUTOINCREMENT, bundle_id TEXT NOT NULL, app_name TEXT, "
        "from_version TEXT, to_version TEXT, source TEXT, timestamp TEXT NOT NULL, "
        "sha256 TEXT, cdn_domain TEXT, team_id TEXT, update_count INTEGER, backup_path TEXT)",
        "CREATE INDEX IF NOT EXISTS provenance_by_app ON provenance_events(bundle_id, timestamp)",
    ]),
    ("004_settings", [
        "CREATE TABLE IF NOT EXISTS settings (key TEXT PRIMARY KEY, value TEXT)",
    ]),
    ("005_experiment_events", [
        "CREATE TABLE IF NOT EXISTS experiment_events ("
        "id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL, at TEXT NOT NULL)",
    ]),
    ("006_contributions", [
        "CREATE TABLE IF NOT EXISTS contributions ("
        "id INTEGER PRIMARY KEY AUTOINCREMENT, bundle_id TEXT NOT NULL, mechanism TEXT NOT NULL, "
        "feed_url TEXT, homepage_url TEXT, download_url TEXT, cask_token TEXT, mas_id TEXT, "
        "pushed INTEGER NOT NULL DEFAULT 0, at TEXT NOT NULL)",
    ]),
    ("007_adoptions", [
        "CREATE TABLE IF NOT EXISTS adoptions ("
        "id INTEGER PRIMARY KEY AUTOINCREMENT, bundle_id TEXT NOT NULL, app_name TEXT, "
        "previous_catalog TEXT, cask_token TEXT, at TEXT NOT NULL, undone INTEGER NOT NULL DEFAULT 0)",
    ]),
]


class Store:
    """One connection in autocommit mode; writes go through short transactions."""

    def __init__(self, conn):
        self.conn = conn

    def close(self):
        try:
            self.conn.close()
        except sqlite3.Error:
            pass

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # -- transactions
    def write(self):
        return _Tx(self.conn)

    def execute(self, sql, params=()):
        return self.conn.execute(sql, params)

    def query(self, sql, params=()):
        return self.conn.execute(sql, params).fetchall()

    def one(self, sql, params=()):
        return self.conn.execute(sql, params).fetchone()

    # -- settings and metadata
    def setting(self, key, default=None):
        row = self.one("SELECT value FROM settings WHERE key=?", (key,))
        return row[0] if row and row[0] is not None else default

    def set_setting(self, key, value):
        with self.write():
            self.execute("INSERT INTO settings(key, value) VALUES(?, ?) "
                         "ON CONFLICT(key) DO UPDATE SET value=excluded.value", (key, str(value)))

    def set_metadata(self, key, value):
        self.execute("INSERT INTO scan_metadata(key, value) VALUES(?, ?) "
                     "ON CONFLICT(key) DO UPDATE SET value=excluded.value", (key, value))

    # -- apps
    def app(self, bundle_id):
        return self.one("SELECT * FROM apps WHERE bundle_id=?", (bundle_id,))

    def require_app(self, bundle_id):
        row = self.app(bundle_id)
        if row is None:
            raise common.EngineError("No app with bundle id %s is in the library. Run a scan first."
                                     % bundle_id, common.EXIT_UNKNOWN_APP)
        return row

    def apps(self):
        return self.query("SELECT * FROM apps ORDER BY lower(app_name), bundle_id")

    def app_by_name(self, name):
        rows = self.query("SELECT * FROM apps WHERE app_name=? ORDER BY bundle_id", (name,))
        if not rows:
            rows = self.query("SELECT * FROM apps WHERE lower(app_name)=lower(?) ORDER BY bundle_id",
                              (name,))
        return rows[0] if rows else None

    def update_app(self, bundle_id, **fields):
        if not fields:
            return
        names = sorted(fields)
        sql = "UPDATE apps SET %s WHERE bundle_id=?" % ", ".join("%s=?" % n for n in names)
        self.execute(sql, [fields[n] for n in names] + [bundle_id])

    def insert_app(self, fields):
        names = sorted(fields)
        sql = "INSERT INTO apps(%s) VALUES(%s)" % (", ".join(names), ", ".join("?" * len(names)))
        self.execute(sql, [fields[n] for n in names])

    def set_incident(self, bundle_id, code, kind):
        self.update_app(bundle_id, last_incident_code=code, last_incident_kind=kind,
                        last_incident_at=common.iso_utc())

    def clear_incident(self, bundle_id):
        self.update_app(bundle_id, last_incident_code=None, last_incident_kind=None,
                        last_incident_at=None)


class _Tx:
    def __init__(self, conn):
        self.conn = conn

    def __enter__(self):
        self.conn.execute("BEGIN IMMEDIATE")
        return self

    def __exit__(self, exc_type, exc, tb):
        if exc_type is None:
            self.conn.execute("COMMIT")
        else:
            try:
                self.conn.execute("ROLLBACK")
            except sqlite3.Error:
                pass
        return False


class _setup_lock:
    """Serialises the one-time set-up of the database between engine runs.

    Two first runs that both find the new database in its rollback journal and switch it to WAL at the
    same moment deadlock on its locks, and SQLite refuses one of them at once ("database is locked")
    instead of waiting out the busy time-out. So every run checks the journal mode and the migrations
    while it holds this lock: one run sets the database up and the others find it done. Once the
    database is set up the check takes a moment, and the OS drops the lock when a run dies.
    """

    def __init__(self, path):
        self.path = path
        self.fd = None

    def __enter__(self):
        import fcntl
        self.fd = os.open(self.path, os.O_RDWR | os.O_CREAT, 0o600)
        try:
            fcntl.flock(self.fd, fcntl.LOCK_EX)
        except OSError:
            os.close(self.fd)
            raise
        return self

    def __exit__(self, *exc):
        os.close(self.fd)
        return False


def connect():
    """Open the database, creating and migrating it when needed."""
    common.ensure_dir(common.data_dir())
    path = common.db_path()
    try:
        conn = sqlite3.connect(path, timeout=30, isolation_level=None)
        conn.row_factory = sqlite3.Row
        conn.execute("PRAGMA busy_timeout=30000")
    except sqlite3.DatabaseError as exc:
        raise common.EngineError("The VARNO database at %s can't be opened (%s)." % (path, exc))
    store = Store(conn)
    try:
        with _setup_lock(os.path.join(common.data_dir(), ".database.lock")):
            try:
                mode = conn.execute("PRAGMA journal_mode").fetchone()[0]
                if str(mode).lower() != "wal":
                    conn.execute("PRAGMA journal_mode=WAL")
                conn.execute("PRAGMA synchronous=NORMAL")
            except sqlite3.DatabaseError as exc:
                raise common.EngineError("The VARNO database at %s can't be opened (%s)." % (path, exc))
            try:
                migrate(store)
            except sqlite3.DatabaseError as exc:
                raise common.EngineError("The VARNO database at %s can't be prepared (%s)." % (path, exc))
    except OSError as exc:
        store.close()
        raise common.EngineError("The VARNO database at %s can't be opened (%s)." % (path, exc.strerror or exc))
    except common.EngineError:
        store.close()
        raise
    try:
        os.chmod(path, 0o600)
    except OSError:
        pass
    return store


def migrate(store):
    """Apply every missing migration; returns the names applied now."""
    store.execute("CREATE TABLE IF NOT EXISTS schema_version (name TEXT PRIMARY KEY, applied_at TEXT)")
    done = {r[0] for r in store.query("SELECT name FROM schema_version")}
    applied = []
    for name, statements in MIGRATIONS:
        if name in done:
            continue
        with store.write():
            if name in {r[0] for r in store.query("SELECT name FROM schema_version")}:
                continue
            for sql in statements:
                store.execute(sql)
            store.execute("INSERT INTO schema_version(name, applied_at) VALUES(?, ?)",
                          (name, common.iso_utc()))
        applied.append(name)
    return applied


def record(row):
    """The JSON record of one apps row: bundle_id first, NULLs dropped, 0/1 as booleans."""
    rec = {}
    for name, kind in APP_FIELDS:
        value = row[name]
        if value is None:
            continue
        if kind == "bool":
            rec[name] = bool(value)
        elif kind == "int":
            try:
                rec[name] = int(value)
            except (TypeError, ValueError):
                continue
        else:
            rec[name] = str(value)
    if "update_mode" not in rec:
        rec["update_mode"] = "auto"
    return rec

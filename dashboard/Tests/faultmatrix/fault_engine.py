# A fake engine that misbehaves in one way, chosen by FAULT (the test writes
# the line below). Every process it starts is noted in ~/pids, and each
# carries the test's home folder in its command line, so that the test can
# tell whether anything of the run is left.
import json, os, resource, signal, subprocess, sys, time

FAULT = "@FAULT@"
HOME = os.environ["HOME"]
ARGS = sys.argv[3:]
COMMAND = ARGS[0] if ARGS else ""
STREAM = COMMAND == "update" and os.environ.get("VARNO_EVENTS") == "1"
MIB = 1 << 20
NAME = "Café Crème" if FAULT == "split_char" else "Kettle"
ID = "org.fake.kettle"


def note(pid):
    with open(os.path.join(HOME, "pids"), "a") as f:
        f.write("%d " % pid)


def write(fd, data):
    view = memoryview(data)
    while view:
        view = view[os.write(fd, view):]


def out(data):
    write(1, data)


def err(data):
    write(2, data)


def line(value):
    return json.dumps(value, ensure_ascii=False).encode("utf-8") + b"\n"


def events(name=NAME):
    return (line({"event": "queue_start", "count": 1, "apps": [{"bundle_id": ID, "app_name": name}]})
            + line({"event": "app_start", "bundle_id": ID, "app_name": name, "index": 1, "total": 1,
                    "status": "installing"})
            + line({"event": "app_done", "bundle_id": ID, "success": True, "new_version": "2.0"})
            + line({"event": "queue_done", "updated": 1, "failed": 0, "skipped": 0}))


def record_bytes(name=NAME):
    """What a sound engine prints for the command (on stdout; events on stderr)."""
    if STREAM:
        return events(name)
    if COMMAND == "list":
        return line([{"bundle_id": ID, "app_name": name, "current_version": "1.0", "latest_version": "2.0",
                      "update_mechanism": "brew_cask"}])
    if COMMAND == "seal":
        return line({"bundle_id": name, "green_seal": True, "verified_path": True})
    if COMMAND in ("fix", "scan"):
        return ("Repaired %s.\n" % name).encode("utf-8")
    return b""


def reply(data=None):
    data = record_bytes() if data is None else data
    (err if STREAM else out)(data)


def split_write(send, data, marker):
    """Writes data in two writes that cut the first multi-byte character after marker."""
    cut = data.index(marker) + len(marker) + 1
    send(data[:cut])
    time.sleep(0.2)
    send(data[cut:])


def sleep_forever():
    while True:
        time.sleep(3600)


def garbage(kind):
    """Records (or events) that are not what the contract promises."""
    if STREAM:
        return {
            "malformed": b'{"event": "queue_start", "count": 1, "apps": [\n{"event": "app_done" "bundle_id"}\n',
            "wrong_types": line({"event": "queue_start", "count": "one", "apps": ID})
            + line({"event": "app_done", "bundle_id": 7, "success": "yes"}) + line({"event": 5}),
            "nulls": line({"event": "app_start", "bundle_id": None, "status": None}) + line({"event": None}),
            "missing": line({"event": "app_done"}) + line({}),
        }[kind]
    if COMMAND == "seal":
        return {
            "malformed": b'{"bundle_id": "org.fake.kettle", "green_seal": tr',
            "wrong_types": line({"bundle_id": 7, "green_seal": "yes", "verified_path": 1}),
            "nulls": line({"bundle_id": None, "green_seal": None, "verified_path": None}),
            "missing": line({}),
        }[kind]
    return {
        "malformed": b'[{"bundle_id": "org.fake.kettle", "app_name": ',
        "wrong_types": line([{"bundle_id": 7, "app_name": ["Kettle"], "current_version": 1.0}]),
        "nulls": line([{"bundle_id": None, "app_name": None, "current_version": None}]),
        "missing": line([{}]),
    }[kind]


def main():
    note(os.getpid())
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
    fault = FAULT
    if fault == "hang":
        sleep_forever()
    elif fault == "ignores_term":
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        sleep_forever()
    elif fault == "grandchild":
        # Inherits both pipes and outlives the engine.
        child = subprocess.Popen([sys.executable, "-c", "import time; time.sleep(600)", HOME])
        note(child.pid)
        reply()
        os._exit(0)
    elif fault == "crash":
        os.kill(os.getpid(), signal.SIGSEGV)
    elif fault.startswith("exit"):
        code = int(fault[4:].split("_")[0])
        if fault.endswith("_json"):
            err(line({"error": "The library database is locked by another process.", "code": "db_locked"}))
        sys.exit(code)
    elif fault == "stdout_12mib":
        chunk = b"x" * 1023 + b"\n"
        for _ in range(12 * 1024):
            out(chunk)
        reply()
    elif fault == "stderr_11mib":
        chunk = b"".join(b"noise line %07d from a chatty engine ....................................\n" % i
                         for i in range(1024))
        sent = 0
        while sent < 11 * MIB:
            err(chunk)
            sent += len(chunk)
        sys.exit(2)
    elif fault == "endless":
        chunk = b"y" * 65535 + b"\n"
        while True:
            out(chunk)
            if not STREAM:
                err(chunk)
    elif fault in ("malformed", "wrong_types", "nulls", "missing"):
        reply(garbage(fault))
    elif fault == "split_char":
        # The setup steps print no record: they say it on standard error.
        data = record_bytes() or ("Prepared %s.\n" % NAME).encode("utf-8")
        split_write(err if STREAM or not record_bytes() else out, data, b"Caf")
    elif fault == "split_char_error":
        split_write(err, "\u00c9chec : la base est verrouill\u00e9e.\n".encode("utf-8"), b"")
        sys.exit(1)
    elif fault == "invalid_utf8":
        bad = NAME.encode("utf-8") + b"\xff\xfe\xc3("
        data = record_bytes()
        reply(data.replace(NAME.encode("utf-8"), bad))
        err(b"warning: \xff\xfe\n")
    elif fault == "event_5mib":
        reply(record_bytes(NAME + " " + "E" * (5 * MIB)))
        if STREAM:
            reply()
    elif fault == "silence":
        if STREAM:
            err(events().split(b"\n")[0] + b"\n")
        else:
            out(b"working...\n")
        sleep_forever()
    else:
        reply()


main()

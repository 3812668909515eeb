"""The streamed update queue: JSON events on stderr, control words on stdin.

One event is one JSON object on one stderr line. stderr stays ASCII and every
write is a whole line, so that no reader ever sees half a character. Control
words ("pause", "resume", "skip", "abort") arrive on stdin, one per line, and
are read on a thread of their own so that they take effect at once.
"""

import json
import os
import threading
import time
import unicodedata

from . import actions, common, store, world

QUEUE_START_LIMIT = 60000       # bytes; readers keep only the last 64 KiB of a line
DEFAULT_HEARTBEAT = 25.0        # seconds of quiet before a bare newline is written
SLICE = 0.05


def ascii_text(text):
    text = text.replace("\u2026", "...").replace("\u2014", "-").replace("\u2019", "'")
    text = unicodedata.normalize("NFKD", text).encode("ascii", "ignore").decode("ascii")
    return " ".join(text.split())


class Emitter:
    def __init__(self, heartbeat):
        self.lock = threading.Lock()
        self.last = time.monotonic()
        self.silenced = False
        self.heartbeat = heartbeat
        self.closed = False

    def raw(self, data):
        with self.lock:
            if self.closed:
                return
            view = memoryview(data)
            try:
                while view:
                    n = os.write(2, view)
                    view = view[n:]
            except OSError:
                self.closed = True
            self.last = time.monotonic()

    def event(self, name, **fields):
        obj = {"event": name}
        obj.update(fields)
        self.raw((json.dumps(obj, ensure_ascii=True, separators=(",", ":")) + "\n").encode("ascii"))

    def text(self, line):
        self.raw((ascii_text(line) + "\n").encode("ascii"))

    def beat_forever(self):
        while True:
            time.sleep(min(0.25, max(0.02, self.heartbeat / 2)))
            if self.heartbeat <= 0 or self.silenced:
                continue
            with self.lock:
                due = time.monotonic() - self.last >= self.heartbeat
            if due:
                self.raw(b"\n")


class Controls:
    def __init__(self, emitter, ack):
        self.cond = threading.Condition()
        self.paused = False
        self.skip = False
        self.abort = False
        self.emitter = emitter
        self.ack = ack
        self.warned = False

    def read_forever(self, fd):
        """Read control words from a raw descriptor (a buffered stdin held by a
        daemon thread would abort the interpreter at exit)."""
        pending = b""
        while True:
            try:
                chunk = os.read(fd, 4096)
            except InterruptedError:
                continue
            except OSError:
                return
            if not chunk:
                return
            pending += chunk
            while b"\n" in pending:
                raw, pending = pending.split(b"\n", 1)
                self.handle(raw.decode("utf-8", "replace").strip())
            pending = pending[-4096:]

    def handle(self, word):
        if not word:
            return
        with self.cond:
            if word == "pause":
                if not self.paused:
                    self.paused = True
                    if self.ack:
                        self.emitter.event("queue_paused")
            elif word == "resume":
                if self.paused:
                    self.paused = False
                    if self.ack:
                        self.emitter.event("queue_resumed")
            elif word == "skip":
                self.skip = True
            elif word == "abort":
                self.abort = True
            elif not self.warned:
                self.warned = True
                self.emitter.text("Ignoring unknown control word: %s" % word[:40])
            self.cond.notify_all()

    def checkpoint(self):
        """Block while paused; then raise for a pending skip or abort."""
        with self.cond:
            while self.paused and not self.abort:
                self.cond.wait(0.25)
            self.raise_pending()

    def raise_pending(self):
        if self.abort:
            raise actions.StopApp("Stopped at your request", abort=True)
        if self.skip:
            self.skip = False
            raise actions.StopApp("Skipped at your request")

    def sleep(self, seconds, interruptible=True):
        """Wait out a phase; a skip or abort ends it at once (only an abort, quietly,
        when the app is already installed)."""
        end = time.monotonic() + seconds
        while True:
            with self.cond:
                if interruptible:
                    self.raise_pending()
                elif self.abort:
                    return
                left = end - time.monotonic()
                if left <= 0:
                    return
                self.cond.wait(min(left, SLICE))


def _queue_entries(rows, limit):
    full = [{"bundle_id": r["bundle_id"], "app_name": r["app_name"],
             "current_version": r["current_version"], "latest_version": r["latest_version"],
             "update_mechanism": r["update_mechanism"]} for r in rows]
    full = [{k: v for k, v in e.items() if v is not None} for e in full]
    if len(json.dumps(full, ensure_ascii=True)) <= limit:
        return full
    slim = [{"bundle_id": e["bundle_id"], "app_name": e["app_name"]} for e in full]
    while slim and len(json.dumps(slim, ensure_ascii=True)) > limit:
        slim = slim[: max(1, int(len(slim) * 0.9))] if len(slim) > 1 else []
    return slim


def run(knobs, only, approved=False):
    heartbeat = knobs.get("heartbeat", DEFAULT_HEARTBEAT)
    if not isinstance(heartbeat, (int, float)) or isinstance(heartbeat, bool) or heartbeat < 0:
        heartbeat = DEFAULT_HEARTBEAT
    world.ensure()
    lock = actions.UpdateLock().acquire()       # exits 75 before any event when held
    emitter = Emitter(float(heartbeat))
    threading.Thread(target=emitter.beat_forever, daemon=True).start()
    controls = Controls(emitter, ack=not knobs.get("no_pause_ack"))
    if not knobs.get("ignore_controls"):
        threading.Thread(target=controls.read_forever, args=(0,), daemon=True).start()
    try:
        return _run(knobs, only, approved, emitter, controls)
    finally:
        lock.release()


def _run(knobs, only, approved, emitter, controls):
    free = knobs.get("free_text")
    if isinstance(free, int) and not isinstance(free, bool) and free > 0:
        for i in range(free):
            emitter.text("engine log line %d of %d: resolving update sources" % (i + 1, free))
    then_exit = knobs.get("then_exit")
    if isinstance(then_exit, int) and not isinstance(then_exit, bool):
        return then_exit

    with store.connect() as db:
        if only:
            rows, seen = [], set()
            for bid in only:
                if bid in seen:
                    continue
                seen.add(bid)
                row = db.app(bid)
                if row is None:
                    emitter.text("Skipping %s: it is not in the library." % bid)
                else:
                    rows.append(row)
        else:
            rows = actions.queue_candidates(db)
        entries = _queue_entries(rows, QUEUE_START_LIMIT)
        if len(entries) < len(rows):
            emitter.text("The queue holds %d apps; this run takes the first %d." % (len(rows), len(entries)))
        queued = [e["bundle_id"] for e in entries]
        emitter.event("queue_start", count=len(queued), apps=entries)
        common.say("Updating %d app(s)." % len(queued))
        if knobs.get("noise"):
            _noise(emitter)

        silence = knobs.get("silence")
        silence_left = float(silence) if isinstance(silence, (int, float)) and not isinstance(silence, bool) \
            and silence > 0 else 0.0
        updated = failed = skipped = 0
        total = len(queued)
        aborted = False

        for index, bid in enumerate(queued, start=1):
            def phase(app_id, status, seconds, scaled, _index=index):
                nonlocal silence_left
                if status != "cleaning":
                    controls.checkpoint()
                emitter.event("app_start", bundle_id=app_id, index=_index, total=total, status=status)
                if silence_left > 0:
                    emitter.silenced = True
                    try:
                        controls.sleep(silence_left)
                    finally:
                        emitter.silenced = False
                        silence_left = 0.0
                duration = knobs.scaled(seconds) if scaled else seconds
                controls.sleep(duration, interruptible=status != "cleaning")

            if aborted:
                emitter.event("app_done", bundle_id=bid, success=False, skipped=True,
                              error="Stopped at your request")
                skipped += 1
                continue
            try:
                controls.checkpoint()
                outcome = actions.attempt_update(db, bid, knobs, approved=approved, headless=True, phase=phase)
            except actions.StopApp as stop:
                emitter.event("app_done", bundle_id=bid, success=False, skipped=True, error=stop.reason)
                common.say("%s: %s" % (bid, stop.reason))
                skipped += 1
                aborted = stop.abort
                continue
            except Exception as exc:   # one app's trouble must not strand the rest of the queue
                message = exc.message if isinstance(exc, common.EngineError) else \
                    "The engine hit an unexpected error (%s: %s)." % (type(exc).__name__, exc)
                emitter.event("app_done", bundle_id=bid, success=False, skipped=False,
                              error=ascii_text(common.one_line(message)))
                failed += 1
                try:
                    actions.record_outcome(db, bid, actions.Outcome("failed", message))
                except Exception:
                    pass
                continue
            fields = {"bundle_id": bid, "success": outcome.kind == "done",
                      "skipped": outcome.kind == "skipped"}
            if outcome.kind == "done":
                updated += 1
                if outcome.new_version:
                    fields["new_version"] = outcome.new_version
            else:
                if outcome.kind == "failed":
                    failed += 1
                else:
                    skipped += 1
                fields["error"] = outcome.error or ("skipped" if outcome.kind == "skipped" else "update failed")
                if outcome.code:
                    fields["error_code"] = outcome.code
            emitter.event("app_done", **fields)
            common.say("%s: %s" % (bid, outcome))
            with controls.cond:
                if controls.abort:
                    aborted = True

        done = {"updated": updated, "failed": failed, "skipped": skipped}
        if aborted:
            done["reason"] = "aborted"
        emitter.event("queue_done", **done)
        if knobs.get("noise"):
            time.sleep(0.05)
            emitter.raw(b'{"event":"queue_resumed"}')
    return 0


def _noise(emitter):
    emitter.text("Resolving mirrors (this line is plain text)")
    emitter.raw(b'{"event":"app_start","bundle_id":\n')
    emitter.raw(b"[1,2,3]\n")
    emitter.raw(b'"just a string"\n')
    emitter.raw(b'{"event":"queue_warming","detail":"unknown event"}\n')
    emitter.raw(b'{"event":"Queue_Paused"}\n')
    emitter.raw(b'{"event":"app_start","status":"fetching"}\n')
    time.sleep(0.1)
    emitter.raw(b"\xff\xfe not UTF-8 \xc3\n")
    time.sleep(0.1)

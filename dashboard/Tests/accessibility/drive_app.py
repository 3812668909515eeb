#!/usr/bin/env python3
"""Drives the staged app on a real X display through its accessibility tree, as a person would.

    drive_app.py <build folder> [--artifacts DIR] [--keep]

Starts Xvfb, a private session bus (dbus-run-session) and the accessibility bus, starts
<build folder>/VARNO.app on a fresh home folder with the engine stand-in set fast, and then, only
through AT-SPI: gets past the first run, finds the Workshop window and the menu-bar panel (Window >
Show Menu-Bar Panel), checks that every window is announced as one, that every interactive element
that shows has a name and that no stand-in or placeholder text shows, scans (and sees the scan in the engine's journal), updates all
(pausing and resuming on the way) and follows the queue to its end, opens an app's drawer and
Settings, quits, and checks that no process the app started is left. Screenshots of the windows on
the way go to the artifacts folder (default <build folder>/Testing/accessibility).

Exits 0 when every step passed, 1 with the reason otherwise, also when a tool or package it needs
is missing (scripts/setup.sh installs them).
"""

import argparse
import ctypes
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

PACKAGES = "scripts/setup.sh installs xvfb, dbus, at-spi2-core, python3-pyatspi and python3-pil"

# Generous: the machine that runs this may be busy with other builds, and the sanitizer build is slow.
# Nothing here is a timing assertion; a deadline only ends a wait that would otherwise never end.
START_DEADLINE = 120.0
STEP_DEADLINE = 90.0
QUEUE_DEADLINE = 240.0

# The engine stand-in's time scale: scans and updates take a small share of their realistic
# time, long enough that a person could pause the queue while it runs.
SIM_SPEED = "0.25"

PLACEHOLDER = re.compile(r"stand-?in|placeholder|lorem|ipsum|\btodo\b|\bfixme\b|\btbd\b|\bxxx\b", re.I)


class Failure(Exception):
    pass


STARTED = time.monotonic()


def log(message):
    print("[%6.1f] %s" % (time.monotonic() - STARTED, message), flush=True)


# --- preflight ---------------------------------------------------------------------------------

def system_python():
    """pyatspi is a Debian package: it lives in the system interpreter's dist-packages, which a
    python3 earlier on PATH (a virtual environment, pyenv) may not see."""
    candidates = [sys.executable, shutil.which("python3") or "", "/usr/bin/python3"]
    for candidate in candidates:
        if not candidate or not os.access(candidate, os.X_OK):
            continue
        probe = subprocess.run([candidate, "-c", "import pyatspi, PIL.ImageGrab"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if probe.returncode == 0:
            return candidate
    return None


def find_libexec(name):
    for folder in ("/usr/libexec", "/usr/lib/at-spi2-core", "/usr/lib/x86_64-linux-gnu/at-spi2-core",
                   "/usr/lib/aarch64-linux-gnu/at-spi2-core"):
        path = os.path.join(folder, name)
        if os.access(path, os.X_OK):
            return path
    return shutil.which(name)


def preflight(build):
    missing = []
    for tool, package in (("Xvfb", "xvfb"), ("dbus-run-session", "dbus"), ("dbus-daemon", "dbus")):
        if not shutil.which(tool):
            missing.append("%s (package %s)" % (tool, package))
    if not find_libexec("at-spi-bus-launcher"):
        missing.append("at-spi-bus-launcher (package at-spi2-core)")
    if not find_libexec("at-spi2-registryd"):
        missing.append("at-spi2-registryd (package at-spi2-core)")
    python = system_python()
    if not python:
        missing.append("a python3 that imports pyatspi and PIL.ImageGrab (packages python3-pyatspi, python3-pil)")
    app = os.path.join(build, "VARNO.app", "Contents", "MacOS", "VARNO")
    if not os.access(app, os.X_OK):
        missing.append("the staged app %s (build the VARNO target)" % app)
    if missing:
        raise Failure("missing: %s. %s." % ("; ".join(missing), PACKAGES))
    return python, app


# --- processes ---------------------------------------------------------------------------------

PR_SET_CHILD_SUBREAPER = 36


def become_subreaper():
    """Whatever the app starts and leaves behind is handed to us when its parent ends, so that
    nothing it leaves can hide by being orphaned."""
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        raise Failure("cannot become a subreaper (errno %d)" % ctypes.get_errno())


def process_table():
    """pid -> (ppid, command line) of every process we can see."""
    table = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry, "rb") as fh:
                stat = fh.read().decode("utf-8", "replace")
            ppid = int(stat[stat.rindex(")") + 2:].split()[1])
            with open("/proc/%s/cmdline" % entry, "rb") as fh:
                cmdline = fh.read().replace(b"\0", b" ").decode("utf-8", "replace").strip()
            state = stat[stat.rindex(")") + 2:].split()[0]
        except (OSError, ValueError):
            continue
        if state != "Z" or True:
            table[int(entry)] = (ppid, cmdline, state)
    return table


def descendants(table, roots):
    found = set()
    todo = list(roots)
    while todo:
        pid = todo.pop()
        for child, (ppid, _, _) in table.items():
            if ppid == pid and child not in found:
                found.add(child)
                todo.append(child)
    return found


def end_process(proc, grace=10.0):
    if proc is None or proc.poll() is not None:
        return
    proc.terminate()
    try:
        proc.wait(grace)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def wait_until(what, predicate, deadline, interval=0.1):
    """Polls predicate until it returns something true; fails after deadline seconds."""
    end = time.monotonic() + deadline
    last_error = None
    while True:
        try:
            value = predicate()
            if value:
                return value
        except Failure:
            raise
        except Exception as error:  # the tree changes under our feet: ask again
            last_error = error
        if time.monotonic() > end:
            detail = " (last error: %s)" % last_error if last_error else ""
            raise Failure("gave up waiting %.0f s for %s%s" % (deadline, what, detail))
        time.sleep(interval)


# --- the accessibility tree ---------------------------------------------------------------------

class Tree:
    def __init__(self, pyatspi, app_pid):
        self.at = pyatspi
        self.app_pid = app_pid
        self.roles_interactive = {
            pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX,
            pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_PASSWORD_TEXT,
            pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_SPIN_BUTTON, pyatspi.ROLE_SLIDER, pyatspi.ROLE_LINK,
            pyatspi.ROLE_MENU_ITEM, pyatspi.ROLE_CHECK_MENU_ITEM, pyatspi.ROLE_RADIO_MENU_ITEM,
            pyatspi.ROLE_MENU, pyatspi.ROLE_PAGE_TAB, pyatspi.ROLE_SPLIT_PANE, pyatspi.ROLE_SCROLL_BAR,
        }

    def application(self):
        desktop = self.at.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is None:
                continue
            try:
                if app.get_process_id() == self.app_pid:
                    return app
            except Exception:
                continue
        return None

    def windows(self):
        app = self.application()
        if app is None:
            return []
        return [app.getChildAtIndex(i) for i in range(app.childCount)]

    def states(self, node):
        return node.getState()

    def showing(self, node):
        state = node.getState()
        return state.contains(self.at.STATE_SHOWING) and state.contains(self.at.STATE_VISIBLE)

    def walk(self, node, only_showing=True, depth=0, path=()):
        """(node, path) of node and everything under it; hidden branches are left out."""
        if node is None or depth > 60:
            return
        try:
            if only_showing and depth > 0 and not self.showing(node):
                return
            label = "%s %r" % (node.getRoleName(), node.name)
            count = node.childCount
        except Exception:
            return
        here = path + (label,)
        yield node, here
        for i in range(min(count, 2000)):
            try:
                child = node.getChildAtIndex(i)
            except Exception:
                continue
            yield from self.walk(child, only_showing, depth + 1, here)

    def window(self, name, role=None):
        for window in self.windows():
            try:
                if window.name == name and (role is None or window.getRole() == role) and self.showing(window):
                    return window
            except Exception:
                continue
        return None

    def find(self, root, role, name=None, pattern=None):
        for node, _ in self.walk(root):
            try:
                if node.getRole() != role:
                    continue
                if name is not None and node.name != name:
                    continue
                if pattern is not None and not re.search(pattern, node.name or ""):
                    continue
                return node
            except Exception:
                continue
        return None

    def labelled(self, node):
        try:
            for relation in node.getRelationSet():
                if relation.getRelationType() == self.at.RELATION_LABELLED_BY:
                    for i in range(relation.getNTargets()):
                        target = relation.getTarget(i)
                        if target is not None and (target.name or "").strip():
                            return True
        except Exception:
            return False
        return False

    def value_of(self, node):
        """What the element holds: a combo box's choice, its text, else its numeric value as shown."""
        if node.getRole() == self.at.ROLE_COMBO_BOX:
            choices = {item.name for item, _ in self.walk(node, only_showing=False)
                       if item is not node and item.getRole() in (self.at.ROLE_LIST_ITEM, self.at.ROLE_MENU_ITEM)}
            if node.name in choices:
                return node.name
        text = self.text_of(node).strip()
        if text:
            return text
        try:
            value = node.queryValue().currentValue
            return ("%d" % value) if float(value).is_integer() else ("%g" % value)
        except Exception:
            return ""

    def text_of(self, node):
        try:
            text = node.queryText()
            return text.getText(0, -1)
        except Exception:
            return ""

    def texts(self, root):
        """Every name, description and text that shows under root."""
        out = []
        for node, path in self.walk(root):
            try:
                for value in (node.name, node.description, self.text_of(node)):
                    if value:
                        out.append((value, path))
            except Exception:
                continue
        return out

    def act(self, node, *names):
        """Runs the first of the named actions the node offers (Qt names them Press, Toggle,
        ShowMenu, SetFocus)."""
        action = node.queryAction()
        offered = [action.getName(i) for i in range(action.nActions)]
        for wanted in names:
            for i, offered_name in enumerate(offered):
                if offered_name.lower() == wanted.lower():
                    if not action.doAction(i):
                        raise Failure("%s %r refused the action %s" % (node.getRoleName(), node.name, wanted))
                    return
        raise Failure("%s %r offers none of %s (it offers %s)" % (node.getRoleName(), node.name, names, offered))

    def dump(self, root, limit=4000):
        lines = []
        for node, path in self.walk(root, only_showing=False):
            try:
                states = node.getState()
                state = ("showing" if self.showing(node) else "hidden") + "".join(
                    " " + word for word, value in (("checked", self.at.STATE_CHECKED),
                                                   ("selected", self.at.STATE_SELECTED),
                                                   ("focused", self.at.STATE_FOCUSED),
                                                   ("disabled", None))
                    if (states.contains(value) if value is not None
                        else not states.contains(self.at.STATE_ENABLED)))
                lines.append("%s%s %r [%s]%s" % ("  " * (len(path) - 1), node.getRoleName(), node.name, state,
                                                 (" text=%r" % self.text_of(node)[:80]) if self.text_of(node) else ""))
            except Exception:
                continue
            if len(lines) >= limit:
                lines.append("…")
                break
        return "\n".join(lines)


# --- the drive ---------------------------------------------------------------------------------

class Drive:
    def __init__(self, args):
        self.args = args
        self.build = os.path.abspath(args.build)
        self.artifacts = os.path.abspath(args.artifacts or os.path.join(self.build, "Testing", "accessibility"))
        self.tmp = tempfile.mkdtemp(prefix="varno-a11y-")
        self.home = os.path.join(self.tmp, "home")
        self.helpers = []  # Xvfb, the accessibility bus launcher
        self.app = None
        self.display = None
        self.shots = 0
        self.faults = []

    # set-up

    def environment(self):
        home = self.home
        for folder in (".config", ".cache", ".local/share", ".runtime"):
            os.makedirs(os.path.join(home, folder), exist_ok=True)
        os.chmod(os.path.join(home, ".runtime"), 0o700)
        env = dict(os.environ)
        for name in ("VARNO_SIM_ROOT", "VARNO_SIM_KNOBS", "VARNO_SIM_SEED", "VARNO_APPEARANCE", "WAYLAND_DISPLAY",
                     "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "SESSION_MANAGER", "XAUTHORITY"):
            env.pop(name, None)
        env.update({
            "HOME": home,
            "XDG_CONFIG_HOME": os.path.join(home, ".config"),
            "XDG_CACHE_HOME": os.path.join(home, ".cache"),
            "XDG_DATA_HOME": os.path.join(home, ".local/share"),
            "XDG_RUNTIME_DIR": os.path.join(home, ".runtime"),
            "VARNO_SETTINGS_FILE": os.path.join(home, ".config/VARNO/org.varno.workshop.ini"),
            "VARNO_SIM_SPEED": SIM_SPEED,
            "VARNO_APPEARANCE": "light",
            "QT_QPA_PLATFORM": "xcb",
            "QT_ACCESSIBILITY": "1",
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
            "NO_AT_BRIDGE": "0",
        })
        return env

    def start_display(self, env):
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1600x1000x24",
                                 "-nolisten", "tcp", "-noreset"],
                                pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                                stderr=open(os.path.join(self.artifacts, "xvfb.log"), "wb"))
        os.close(write_end)
        self.helpers.append(xvfb)
        number = b""
        end = time.monotonic() + START_DEADLINE
        while not number.endswith(b"\n"):
            if time.monotonic() > end or xvfb.poll() is not None:
                raise Failure("Xvfb did not start (see xvfb.log)")
            chunk = os.read(read_end, 16)
            if not chunk:
                raise Failure("Xvfb did not start (see xvfb.log)")
            number += chunk
        os.close(read_end)
        self.display = ":" + number.decode().strip()
        env["DISPLAY"] = self.display
        os.environ["DISPLAY"] = self.display
        log("display %s" % self.display)

    def start_accessibility_bus(self, env):
        launcher = subprocess.Popen([find_libexec("at-spi-bus-launcher"), "--launch-immediately"], env=env,
                                    stdout=subprocess.DEVNULL,
                                    stderr=open(os.path.join(self.artifacts, "at-spi.log"), "wb"))
        self.helpers.append(launcher)

        def answers():
            if launcher.poll() is not None:
                raise Failure("at-spi-bus-launcher ended at start (see at-spi.log)")
            # Asks whether the name is taken, which (unlike a call to it) starts nothing.
            probe = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                                    "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                                    "string:org.a11y.Bus"],
                                   env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=30)
            return probe.returncode == 0 and b"boolean true" in probe.stdout
        wait_until("the accessibility bus", answers, START_DEADLINE, 0.2)

    def start_app(self, env, app):
        self.app_log = os.path.join(self.artifacts, "app.log")
        self.app = subprocess.Popen([app], env=env, stdin=subprocess.DEVNULL,
                                    stdout=open(self.app_log, "wb"), stderr=subprocess.STDOUT)
        log("app pid %d" % self.app.pid)

    def check_app_alive(self):
        if self.app.poll() is not None:
            raise Failure("the app ended (status %s); see app.log:\n%s" % (self.app.returncode, self.app_log_tail()))

    def app_log_tail(self, lines=40):
        try:
            with open(self.app_log, encoding="utf-8", errors="replace") as fh:
                return "".join(fh.readlines()[-lines:])
        except OSError:
            return ""

    # helpers over the tree

    def wait(self, what, predicate, deadline=STEP_DEADLINE):
        def checked():
            self.check_app_alive()
            return predicate()
        return wait_until(what, checked, deadline)

    def wait_window(self, name, deadline=STEP_DEADLINE):
        return self.wait("the window %r" % name, lambda: self.tree.window(name), deadline)

    def wait_node(self, root_of, role, name=None, pattern=None, deadline=STEP_DEADLINE):
        what = "%s %r" % (role, name or pattern)

        def look():
            root = root_of() if callable(root_of) else root_of
            return root is not None and self.tree.find(root, role, name, pattern)
        return self.wait(what, look, deadline)

    def screenshot(self, name, window=None):
        """The screen, or the window's part of it, as artifacts/NN-name.png."""
        from PIL import ImageGrab
        self.shots += 1
        path = os.path.join(self.artifacts, "%02d-%s.png" % (self.shots, name))
        try:
            image = ImageGrab.grab(xdisplay=self.display)
            if window is not None:
                x, y, w, h = window.queryComponent().getExtents(self.at.DESKTOP_COORDS)
                if w > 0 and h > 0:
                    image = image.crop((max(0, x), max(0, y), min(image.width, x + w), min(image.height, y + h)))
            image.save(path)
        except Exception as error:
            raise Failure("screenshot %s failed: %s" % (name, error))
        log("screenshot %s" % os.path.basename(path))

    def audit(self, root, where):
        """Every interactive element that shows has a name; no stand-in or placeholder text shows."""
        unnamed, placeholders = [], []
        for node, path in self.tree.walk(root):
            try:
                role = node.getRole()
                name = (node.name or "").strip()
            except Exception:
                continue
            if role in self.tree.roles_interactive and role not in (self.at.ROLE_SCROLL_BAR,
                                                                   self.at.ROLE_SPLIT_PANE) and not name:
                unnamed.append(" > ".join(path))
            elif role in (self.at.ROLE_COMBO_BOX, self.at.ROLE_SPIN_BUTTON) \
                    and name == self.tree.value_of(node) and not self.tree.labelled(node):
                # Here a combo box's name is its current value: what it is for has to come from
                # the label that names it.
                unnamed.append(" > ".join(path) + " (named only by its value, and no label names it)")
        for text, path in self.tree.texts(root):
            if PLACEHOLDER.search(text):
                placeholders.append("%r at %s" % (text[:120], " > ".join(path)))
        for entry in unnamed:
            self.faults.append("%s: an interactive element without a name: %s" % (where, entry))
        for entry in placeholders:
            self.faults.append("%s: stand-in or placeholder text shows: %s" % (where, entry))
        log("audit %s: %d unnamed, %d placeholder texts" % (where, len(unnamed), len(placeholders)))

    def audit_windows(self):
        """Every window that shows is announced as one (frame, window or dialog) and has a name."""
        kinds = (self.at.ROLE_FRAME, self.at.ROLE_WINDOW, self.at.ROLE_DIALOG, self.at.ROLE_ALERT,
                 self.at.ROLE_FILE_CHOOSER)
        for window in self.tree.windows():
            try:
                if not self.tree.showing(window):
                    continue
                role, name = window.getRole(), (window.name or "").strip()
                role_name = window.getRoleName()
            except Exception:
                continue
            if role in (self.at.ROLE_MENU, self.at.ROLE_POPUP_MENU, self.at.ROLE_TOOL_TIP):
                continue
            fault = None
            if role not in kinds:
                fault = "the window %r is announced as a %s, not as a window" % (name, role_name)
            elif not name:
                fault = "a %s without a name shows" % role_name
            if fault and fault not in self.faults:
                self.faults.append(fault)
        log("audit of the windows: %s" % ", ".join(
            "%s %r" % (w.getRoleName(), w.name) for w in self.tree.windows() if self.tree.showing(w)))

    def press(self, node):
        self.tree.act(node, "Press", "Toggle", "Click", "Activate")

    def menu_item(self, window_name, menu_name, item_name):
        """Opens a menu of the window's menu bar and presses one of its items, as a person would."""
        window = self.wait_window(window_name)
        bar_menu = self.wait_node(window, self.at.ROLE_MENU_ITEM, menu_name)
        self.tree.act(bar_menu, "ShowMenu", "Press")

        def item():
            for popup in self.tree.windows():
                try:
                    if popup.getRole() in (self.at.ROLE_WINDOW, self.at.ROLE_MENU, self.at.ROLE_POPUP_MENU) \
                            and self.tree.showing(popup):
                        found = self.tree.find(popup, self.at.ROLE_MENU_ITEM, item_name)
                        if found:
                            return found
                except Exception:
                    continue
            return self.tree.find(window, self.at.ROLE_MENU_ITEM, item_name)
        found = self.wait("the menu item %s > %s" % (menu_name, item_name), item)
        self.press(found)

    # the journal of the engine stand-in

    def journal(self):
        path = os.path.join(self.home, "Library", "Application Support", "VARNO", "sim", "journal.log")
        entries = []
        try:
            with open(path, encoding="utf-8") as fh:
                for line in fh:
                    parts = line.rstrip("\n").split("\t", 3)
                    if len(parts) == 4:
                        try:
                            entries.append((parts[1], json.loads(parts[3])))
                        except ValueError:
                            continue
        except OSError:
            pass
        return entries

    # the steps

    def run(self, python):
        os.makedirs(self.artifacts, exist_ok=True)
        for name in os.listdir(self.artifacts):
            if name.endswith(".png") or name.endswith(".log") or name.endswith(".txt"):
                os.unlink(os.path.join(self.artifacts, name))
        become_subreaper()
        env = self.environment()
        self.start_display(env)
        os.environ["HOME"] = self.home  # the accessibility client keeps nothing of the caller's
        self.start_accessibility_bus(env)
        import pyatspi
        self.at = pyatspi
        _, app = preflight(self.build)
        # Asking for the desktop starts the accessibility registry; what runs now is ours, not the app's.
        wait_until("the accessibility registry", lambda: pyatspi.Registry.getDesktop(0) is not None, START_DEADLINE)
        table = process_table()
        self.before_app = descendants(table, [os.getpid()])
        self.start_app(env, app)
        self.tree = Tree(pyatspi, self.app.pid)
        started = time.monotonic()
        try:
            self.steps()
        except Exception:
            self.save_dump()
            raise
        finally:
            log("drive took %.1f s" % (time.monotonic() - started))

    def save_dump(self):
        try:
            with open(os.path.join(self.artifacts, "tree.txt"), "w", encoding="utf-8") as fh:
                app = self.tree.application()
                fh.write(self.tree.dump(app) if app else "(the app is not on the accessibility bus)\n")
            log("the accessibility tree at the failure is in tree.txt")
        except Exception as error:
            log("could not save the tree: %s" % error)

    def steps(self):
        at = self.at
        self.wait("the app on the accessibility bus", self.tree.application, START_DEADLINE)
        log("the app is on the accessibility bus")
        # 1. The first run: the Workshop window opens under the welcome overlay.
        workshop = self.wait_window("VARNO Workshop", START_DEADLINE)
        self.screenshot("first-run", workshop)
        open_button = self.wait_node(lambda: self.tree.window("VARNO Workshop"), at.ROLE_PUSH_BUTTON,
                                     "Open the Workshop", deadline=START_DEADLINE)
        self.audit(workshop, "first run")
        self.screenshot("first-run-summary", workshop)
        self.press(open_button)
        self.wait("the welcome overlay to go",
                  lambda: not self.tree.find(self.tree.window("VARNO Workshop"), at.ROLE_PUSH_BUTTON,
                                             "Open the Workshop"))
        log("past the first run")

        # 2. The Workshop window and the menu-bar panel, reached without a tray through
        #    Window > Show Menu-Bar Panel.
        workshop = self.wait_window("VARNO Workshop")
        self.audit(workshop, "Workshop window")
        self.screenshot("workshop", workshop)
        self.audit_menus("VARNO Workshop")
        # The Simple/Details switch: two radio buttons, the chosen one checked.
        simple = self.wait_node(lambda: self.tree.window("VARNO Workshop"), at.ROLE_RADIO_BUTTON, "Simple")
        if not self.selected(simple):
            self.faults.append("the Simple/Details switch does not tell that Simple is chosen")
        details = self.wait_node(lambda: self.tree.window("VARNO Workshop"), at.ROLE_RADIO_BUTTON, "Details")
        self.press(details)
        self.wait("the Details pill to tell that it is chosen", lambda: self.selected(
            self.tree.find(self.tree.window("VARNO Workshop"), at.ROLE_RADIO_BUTTON, "Details")))
        self.audit(self.tree.window("VARNO Workshop"), "Workshop window, details")
        self.screenshot("workshop-details", self.tree.window("VARNO Workshop"))
        self.press(self.wait_node(lambda: self.tree.window("VARNO Workshop"), at.ROLE_RADIO_BUTTON, "Simple"))
        self.wait("the Simple pill to tell that it is chosen", lambda: self.selected(
            self.tree.find(self.tree.window("VARNO Workshop"), at.ROLE_RADIO_BUTTON, "Simple")))
        self.menu_item("VARNO Workshop", "Window", "Show Menu-Bar Panel")
        panel = self.wait_window("VARNO")
        self.audit(panel, "menu-bar panel")
        self.audit_windows()
        self.screenshot("panel", panel)

        # 3. Scan, and see the scan in the engine's journal.
        scans_before = self.count_runs("scan")
        scan = self.wait_node(lambda: self.tree.window("VARNO Workshop"), at.ROLE_PUSH_BUTTON, "Scan")
        self.press(scan)
        self.wait("a scan in the engine's journal", lambda: self.count_runs("scan", status="0") > scans_before)
        log("the engine's journal shows the scan")
        self.wait("the Scan button to be ready again", lambda: self.enabled(
            self.tree.find(self.tree.window("VARNO Workshop"), at.ROLE_PUSH_BUTTON, "Scan")))
        self.screenshot("after-scan", self.tree.window("VARNO Workshop"))

        # 4. Update all, pause and resume on the way, and follow the queue to its end.
        updates_before = self.count_runs("update")
        update_all = self.wait_node(lambda: self.tree.window("VARNO Workshop"), at.ROLE_PUSH_BUTTON, "Update All")
        self.press(update_all)
        sheet = self.wait_window("Update run")
        pause = self.wait_node(lambda: self.tree.window("VARNO"), at.ROLE_PUSH_BUTTON, "Pause")
        self.audit(sheet, "update sheet")
        self.audit_windows()
        self.screenshot("update-running", sheet)
        self.press(pause)
        self.wait_node(lambda: self.tree.window("VARNO"), at.ROLE_PUSH_BUTTON, "Resume")
        self.wait_node(lambda: self.tree.window("Update run"), at.ROLE_LABEL, "Queue paused.")
        log("the queue is paused")
        self.screenshot("update-paused", self.tree.window("Update run"))
        self.screenshot("panel-paused", self.tree.window("VARNO"))
        # A pause waits for the update that runs: when that was the queue's last,
        # the queue ends while paused and there is nothing left to resume.
        def resume_or_end():
            resume = self.tree.find(self.tree.window("VARNO"), at.ROLE_PUSH_BUTTON, "Resume")
            if resume is not None:
                return ("resume", resume)
            if self.tree.find(self.tree.window("Update run"), at.ROLE_LABEL, "All done."):
                return ("done", None)
            return None
        state, resume = self.wait("Resume, or the end of the queue", resume_or_end)
        if state == "resume":
            self.press(resume)
            self.wait("the queue to run again", lambda: not self.tree.find(self.tree.window("Update run"),
                                                                           at.ROLE_LABEL, "Queue paused."))
            log("the queue runs again")
        else:
            log("the paused update was the queue's last; the queue ended while paused")
        self.wait_node(lambda: self.tree.window("Update run"), at.ROLE_LABEL, "All done.", deadline=QUEUE_DEADLINE)
        if self.count_runs("update") <= updates_before:
            self.faults.append("the update queue ended without an update run in the engine's journal")
        log("the queue ran to its end")
        sheet = self.wait_window("Update run")
        self.audit(sheet, "update sheet at the end")
        self.screenshot("update-done", sheet)
        self.press(self.wait_node(lambda: self.tree.window("Update run"), at.ROLE_PUSH_BUTTON, "Done"))
        self.wait("the update sheet to close", lambda: not self.tree.window("Update run"))

        # 5. An app's drawer.
        card = self.wait_node(lambda: self.tree.window("VARNO Workshop"), at.ROLE_PUSH_BUTTON, pattern=r"^Harborlight, ")
        self.press(card)
        close = self.wait("the drawer's Close button", self.drawer_close)
        workshop = self.wait_window("VARNO Workshop")
        self.audit(workshop, "provenance drawer")
        self.screenshot("drawer", workshop)
        self.press(close)
        self.wait("the drawer to close", lambda: not self.drawer_close())

        # 6. Settings.
        self.menu_item("VARNO Workshop", "Edit", "Settings…")
        settings = self.wait_window("Settings")
        self.audit_windows()
        tabs = self.wait("the Settings tabs", lambda: [node for node, _ in self.tree.walk(self.tree.window("Settings"))
                                                       if node.getRole() == at.ROLE_PAGE_TAB])
        for name in [tab.name for tab in tabs]:
            tab = self.wait_node(lambda: self.tree.window("Settings"), at.ROLE_PAGE_TAB, name)
            self.tree.act(tab, "Press", "Click", "Activate", "SetFocus")
            self.wait("the %s tab" % name, lambda: self.tab_chosen(name))
            settings = self.wait_window("Settings")
            self.audit(settings, "Settings, %s" % name)
            self.screenshot("settings-%s" % name.lower(), settings)

        # 7. Quit, and nothing of the app is left.
        self.quit_and_check()

    def drawer_close(self):
        """The Close button beside the drawer's Restore button."""
        restore = self.tree.find(self.tree.window("VARNO Workshop"), self.at.ROLE_PUSH_BUTTON,
                                 pattern=r"^Restore previous version")
        return restore is not None and self.tree.find(restore.parent, self.at.ROLE_PUSH_BUTTON, "Close")

    def selected(self, node):
        if node is None:
            return False
        state = node.getState()
        return state.contains(self.at.STATE_SELECTED) or state.contains(self.at.STATE_CHECKED)

    def tab_chosen(self, name):
        tab = self.tree.find(self.tree.window("Settings"), self.at.ROLE_PAGE_TAB, name)
        # Qt names a tab bar after its current tab.
        return tab is not None and (self.selected(tab) or (tab.parent is not None and tab.parent.name == name))

    def audit_menus(self, window_name):
        """Opens each menu of the window's menu bar in turn and audits what it shows."""
        window = self.wait_window(window_name)
        bar = self.wait("the menu bar", lambda: self.tree.find(self.tree.window(window_name), self.at.ROLE_MENU_BAR))
        names = [bar.getChildAtIndex(i).name for i in range(bar.childCount)]
        for name in names:
            item = self.wait_node(lambda: self.tree.window(window_name), self.at.ROLE_MENU_ITEM, name)
            self.tree.act(item, "ShowMenu", "Press")
            popup = self.wait("the %s menu to open" % name, lambda: self.open_menu(item))
            self.audit(popup, "%s menu" % name)
            self.screenshot("menu-%s" % name.lower(), window)
            self.tree.act(item, "ShowMenu", "Press")
            self.wait("the %s menu to close" % name, lambda: not self.open_menu(item))

    def open_menu(self, item):
        for i in range(item.childCount):
            child = item.getChildAtIndex(i)
            if child is not None and child.getRole() in (self.at.ROLE_MENU, self.at.ROLE_POPUP_MENU) \
                    and self.tree.showing(child):
                return child
        return None

    def enabled(self, node):
        return node is not None and node.getState().contains(self.at.STATE_ENABLED)

    def count_runs(self, command, status=None):
        def command_of(argv):
            if argv[:1] == ["--engine-contract-version"]:
                argv = argv[2:]
            return argv[0] if argv else None
        return sum(1 for run_status, argv in self.journal()
                   if command_of(argv) == command and (status is None or run_status == status))

    def quit_and_check(self):
        table = process_table()
        helper_pids = {h.pid for h in self.helpers}
        self.menu_item("VARNO Workshop", "VARNO", "Quit VARNO")
        try:
            status = self.app.wait(STEP_DEADLINE)
        except subprocess.TimeoutExpired:
            raise Failure("the app did not end within %.0f s of Quit" % STEP_DEADLINE)
        log("the app ended with status %d" % status)
        if status != 0:
            self.faults.append("the app ended with status %d after Quit" % status)

        def leftovers():
            table = process_table()
            ours = descendants(table, [os.getpid()])
            keep = helper_pids | descendants(table, helper_pids) | self.before_app
            return {pid: table[pid] for pid in ours - keep
                    if pid in table and table[pid][2] != "Z"}
        # A child that is ending gets a moment to end; one that stays is a fault.
        end = time.monotonic() + 15.0
        left = leftovers()
        while left and time.monotonic() < end:
            time.sleep(0.2)
            left = leftovers()
        for pid, (_, cmdline, _) in sorted(left.items()):
            self.faults.append("a process of the app is left after Quit: %d %s" % (pid, cmdline[:200]))
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        log("processes left after Quit: %d" % len(left))

    # tear-down

    def finish(self):
        end_process(self.app, 10.0)
        for helper in reversed(self.helpers):
            end_process(helper, 5.0)
        # Whatever is still ours (a failed drive leaves the app's children) ends with us.
        for pid in descendants(process_table(), [os.getpid()]):
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        if not self.args.keep:
            shutil.rmtree(self.tmp, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("build")
    parser.add_argument("--artifacts")
    parser.add_argument("--keep", action="store_true", help="keep the temporary home folder")
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()

    if not args.inside:
        # A private session bus of our own, which ends with the drive.
        try:
            python, _ = preflight(os.path.abspath(args.build))
        except Failure as failure:
            log("FAIL: %s" % failure)
            return 1
        command = ["dbus-run-session", "--", python, os.path.abspath(__file__), "--inside"] + sys.argv[1:]
        return subprocess.call(command)

    drive = Drive(args)
    try:
        drive.run(sys.executable)
    except Failure as failure:
        log("FAIL: %s" % failure)
        tail = drive.app_log_tail() if drive.app else ""
        if tail:
            log("--- the end of app.log ---\n" + tail)
        drive.finish()
        return 1
    except Exception:
        traceback.print_exc()
        drive.finish()
        return 1
    drive.finish()
    if drive.faults:
        log("FAIL: %d faults:\n  %s" % (len(drive.faults), "\n  ".join(drive.faults)))
        return 1
    log("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())

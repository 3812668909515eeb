#!/usr/bin/env python3
"""VARNO engine: keeps the apps of this Mac up to date (simulated library).

Usage: varno.py [--engine-contract-version 1] <command> [arguments]
Run `varno.py --help` for the commands.
"""

import marshal
import os
import sys

sys.dont_write_bytecode = True   # the installed tree is checked file by file (see BytecodeCache)
if sys.version_info < (3, 9):
    sys.stderr.write("VARNO needs Python 3.9 or newer.\n")
    sys.exit(1)

ENGINE_ROOT = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, ENGINE_ROOT)


class BytecodeCache:
    """Loads the engine package's modules from bytecode kept with the engine's data.

    Compiling the engine's sources was most of what a quick command cost (the first compile of a process
    alone sets up the whole syntax tree machinery), and no bytecode may be written into the installed
    tree. So each module is compiled once and kept in <data>/bytecode/<interpreter tag>/<module>.bin with
    the exact source and path it came from; it is used only while its source is byte for byte the same
    file at the same path, under the same interpreter. A cache that can't be read or written is passed
    over, and the module is compiled as before. The app removes the whole cache whenever it installs or
    repairs the engine, so that no code compiled earlier, or put there, outlives a verified install. This
    class lives here, in the script itself, because the interpreter runs a script without that set-up.
    """

    FORMAT = "varno-bytecode 1"
    PACKAGE = "engine"

    def __init__(self):
        try:
            # The import system's own modules, loaded with the interpreter: the importlib package that
            # re-exports them would import warnings and itself on every run.
            from _frozen_importlib import ModuleSpec
            from _frozen_importlib_external import SourceFileLoader
        except ImportError:
            from importlib.machinery import ModuleSpec, SourceFileLoader
        self.spec_class = ModuleSpec
        self.package_dir = os.path.join(ENGINE_ROOT, self.PACKAGE)
        self.key = "%s\n%s" % (self.FORMAT, sys.version)
        cache = self

        class Loader(SourceFileLoader):
            def get_code(self, fullname):
                return cache.code(self, fullname)

        self.loader_class = Loader

    @staticmethod
    def data_dir():
        return os.path.join(os.path.expanduser("~"), "Library", "Application Support", "VARNO")

    def folder(self):
        return os.path.join(self.data_dir(), "bytecode", sys.implementation.cache_tag or "python")

    def find_spec(self, name, path=None, target=None):
        head, _, leaf = name.rpartition(".")
        if name == self.PACKAGE:
            filename = os.path.join(self.package_dir, "__init__.py")
        elif head == self.PACKAGE and leaf.isidentifier():
            filename = os.path.join(self.package_dir, leaf + ".py")
        else:
            return None
        if not os.path.isfile(filename):
            return None
        spec = self.spec_class(name, self.loader_class(name, filename), origin=filename,
                               is_package=name == self.PACKAGE)
        if name == self.PACKAGE:
            spec.submodule_search_locations = [self.package_dir]
        spec.has_location = True
        return spec

    def code(self, loader, fullname):
        path = loader.get_filename(fullname)
        source = loader.get_data(path)
        cached = os.path.join(self.folder(), fullname + ".bin")
        try:
            with open(cached, "rb") as fh:
                stored = marshal.loads(fh.read())
            if stored[0] == self.key and stored[1] == path and stored[2] == source:
                return stored[3]
        except Exception:   # missing, unreadable or damaged: compile it again
            pass
        code = loader.source_to_code(source, path)
        self.store(cached, marshal.dumps((self.key, path, source, code)))
        return code

    def store(self, path, data):
        tmp = "%s.tmp-%d" % (path, os.getpid())
        try:
            folder = os.path.dirname(path)
            for level in (self.data_dir(), os.path.dirname(folder), folder):   # each private, as the engine's
                os.makedirs(level, mode=0o700, exist_ok=True)
            with open(tmp, "wb") as fh:
                fh.write(data)
            os.replace(tmp, path)
        except OSError:
            try:
                os.unlink(tmp)
            except OSError:
                pass


sys.meta_path.insert(0, BytecodeCache())

from engine.cli import main  # noqa: E402

if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

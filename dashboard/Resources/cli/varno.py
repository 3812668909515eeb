#!/usr/bin/env python3
"""VARNO engine: keeps the apps of this Mac up to date (simulated library).

Usage: varno.py [--engine-contract-version 1] <command> [arguments]
Run `varno.py --help` for the commands.
"""

import os
import sys

sys.dont_write_bytecode = True   # the installed tree is checked file by file
if sys.version_info < (3, 9):
    sys.stderr.write("VARNO needs Python 3.9 or newer.\n")
    sys.exit(1)

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from engine.cli import main  # noqa: E402

if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

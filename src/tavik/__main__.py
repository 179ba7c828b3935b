"""``python -m tavik``: the command line of tavik.cli."""

import sys

from .cli import main

if __name__ == "__main__":
    sys.exit(main())

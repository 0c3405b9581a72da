#!/usr/bin/python3
"""Draw the icons again and require the same bytes as the committed files.

    check_regenerate.py MAKE_ICONS COMMITTED_DIR SCRATCH_DIR
"""

import os
import shutil
import subprocess
import sys


def main():
    if len(sys.argv) != 4:
        print(__doc__.strip())
        return 2
    make_icons, committed, scratch = sys.argv[1:]
    shutil.rmtree(scratch, ignore_errors=True)
    subprocess.run([sys.executable, make_icons, "--out", scratch], check=True)

    made = sorted(os.listdir(scratch))
    kept = sorted(os.listdir(committed))
    failures = []
    if made != kept:
        failures.append("make-icons writes %s but %s holds %s" % (made, committed, kept))
    for name in made:
        if name not in kept:
            continue
        with open(os.path.join(scratch, name), "rb") as a, \
                open(os.path.join(committed, name), "rb") as b:
            new, old = a.read(), b.read()
        if new != old:
            at = next((i for i, (x, y) in enumerate(zip(new, old)) if x != y),
                      min(len(new), len(old)))
            failures.append("%s: regenerated file differs from the committed one "
                            "(%d vs %d bytes, first difference at offset %d)"
                            % (name, len(new), len(old), at))
    for f in failures:
        print("FAIL:", f)
    if failures:
        print("run res/make-icons (or build the 'icons' target) and commit res/icons/")
        return 1
    print("OK: %d files in %s regenerate identically" % (len(made), committed))
    return 0


if __name__ == "__main__":
    sys.exit(main())

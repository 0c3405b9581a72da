"""Which Windows build runs on this machine, and under which Wine, for the
benchmarks and the tests: the i686 build under 32-bit Wine, or the x86_64
build under wine64 where this machine cannot run 32-bit code.  The choice is
scripts/wine-arch's (KAVRELO_WINE_ARCH forces it)."""

import os
import subprocess

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# Each architecture's CMake preset (its programs are in build/PRESET/bin) and
# the Wine that runs them, as scripts/wine-arch names them.
PRESETS = {"i686": "mingw32", "x86_64": "mingw64"}
WINE_NAMES = {"i686": "32-bit Wine", "x86_64": "wine64"}


class NoWine(Exception):
    """Neither Wine can run here, or the one asked for cannot."""


def arch():
    """"i686" or "x86_64": KAVRELO_WINE_ARCH when set (CTest sets it to the
    build's), else what scripts/wine-arch picks for this machine, which then
    goes into the environment for scripts/wine-run and its callers."""
    value = os.environ.get("KAVRELO_WINE_ARCH")
    if not value:
        r = subprocess.run(["bash", os.path.join(REPO, "scripts", "wine-arch")], capture_output=True,
                           text=True, stdin=subprocess.DEVNULL)
        if r.returncode != 0:
            raise NoWine(r.stderr.strip() or "scripts/wine-arch failed")
        value = os.environ["KAVRELO_WINE_ARCH"] = r.stdout.strip()
    return value


def bin_dir(which=None):
    """The bin folder of the Windows build of the given architecture
    (default: arch(), the one whose programs run here)."""
    return os.path.join(REPO, "build", PRESETS[which or arch()], "bin")


# What scripts/wine-run --env prints (and so what it sets or clears for Wine).
WINE_VARIABLES = ("WINEPREFIX", "WINEARCH", "WINELOADER", "WINESERVER", "WINEDEBUG", "WINEDLLOVERRIDES",
                  "LANG", "LC_ALL")


def wine_env(env, which=None):
    """env (a dict, changed in place) set up to run programs of the given
    architecture (default: arch()) exactly as scripts/wine-run runs them, in
    the prefix env's KAVRELO_WINEPREFIX names; returns the loader to start
    them with.  wine-run --env makes the prefix ready and starts its server
    first, as for a program, and prints the environment."""
    which = which or arch()
    env["KAVRELO_WINE_ARCH"] = which
    r = subprocess.run(["bash", os.path.join(REPO, "scripts", "wine-run"), "--env"], env=env,
                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True, timeout=600)
    seen = dict(line.split("=", 1) for line in r.stdout.splitlines() if "=" in line)
    loader = seen.pop("WINE", None)
    if r.returncode != 0 or not loader:
        raise NoWine("scripts/wine-run --env failed (exit code %d)" % r.returncode)
    for name in WINE_VARIABLES + ("LANGUAGE",):
        env.pop(name, None)
    env.update(seen)
    return loader

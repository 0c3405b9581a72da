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


def wine_env(env, which=None):
    """env (a dict, changed in place) set up to run programs of the given
    architecture (default: arch()) as scripts/wine-run does; returns the
    loader to start them with.  /usr/bin/wine would pick the 32-bit loader
    whenever it is installed, also where it cannot run."""
    which = which or arch()
    env["KAVRELO_WINE_ARCH"] = which
    if which == "x86_64":
        loader = "/usr/lib/wine/wine64"
        env.update(WINEARCH="win64", WINELOADER=loader, WINESERVER="/usr/lib/wine/wineserver64")
        return loader
    env["WINEARCH"] = "win32"
    env.pop("WINELOADER", None)
    env.pop("WINESERVER", None)
    return "wine"

"""Which Windows build the tests run, as scripts/wine-arch decides it: the i686
one where the 32-bit loader runs, the x86_64 one where it does not (a machine
without 32-bit support, played by a loader that fails), a forced route that
cannot run fails at once and says why, and a bad value is refused."""

import os
import subprocess

import pytest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "wine-arch")


@pytest.mark.parametrize("loader, forced, args, status, output", [
    ("/bin/true", None, [], 0, "i686"),
    ("/bin/false", None, [], 0, "x86_64"),
    ("/nonexistent/wine", None, [], 0, "x86_64"),
    ("/bin/false", None, ["--why"], 0, "as x86_64 under wine64: this machine cannot run 32-bit code"),
    ("/bin/false", None, ["--preset"], 0, "mingw64"),
    ("/bin/true", None, ["--preset"], 0, "mingw32"),
    ("/bin/true", "x86_64", ["--why"], 0, "as x86_64 under wine64: KAVRELO_WINE_ARCH=x86_64 asks for it"),
    ("/bin/false", "i686", [], 1, "KAVRELO_WINE_ARCH=i686, but this machine cannot run 32-bit Wine"),
    ("/bin/true", "win32", [], 1, "KAVRELO_WINE_ARCH must be i686 or x86_64"),
])
def test_wine_arch(loader, forced, args, status, output):
    assert os.access("/usr/lib/wine/wine64", os.X_OK), "wine64 is not installed (scripts/setup.sh installs it)"
    env = {k: v for k, v in os.environ.items() if k != "KAVRELO_WINE_ARCH"}
    env["KAVRELO_WINE32_LOADER"] = loader
    if forced:
        env["KAVRELO_WINE_ARCH"] = forced
    r = subprocess.run(["bash", SCRIPT] + args, env=env, capture_output=True, text=True)
    assert r.returncode == status
    assert (r.stdout.strip() == output) if status == 0 else (output in r.stderr)

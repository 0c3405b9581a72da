"""scripts/setup.sh. The 32-bit program it writes and runs to find out whether
this machine runs 32-bit code is scripts/uname32.S, assembled: its embedded
bytes are compared with what the GNU assembler makes of the source. Against
package tools played by scripts (nothing of the machine is changed): a failing
package index is a warning naming it where apt can still install what is
missing, and an error with its own status where it cannot; apt-get update
runs once; no architecture is added where no 32-bit Wine is installed; a lock
of the package manager is waited for within a bound, naming its holder."""

import base64
import os
import re
import subprocess
import time

SCRIPTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts")


def test_embedded_probe_is_the_assembled_source(tmp_path):
    with open(os.path.join(SCRIPTS, "setup.sh"), encoding="utf-8") as f:
        embedded = re.search(r"^UNAME32_BASE64=(\S+)$", f.read(), re.M)
    assert embedded, "setup.sh has no UNAME32_BASE64= line"
    obj, flat = tmp_path / "uname32.o", tmp_path / "uname32"
    subprocess.run(["as", "--32", "-o", obj, os.path.join(SCRIPTS, "uname32.S")], check=True)
    subprocess.run(["objcopy", "-O", "binary", "-j", ".text", obj, flat], check=True)
    assembled = flat.read_bytes()
    assert base64.b64decode(embedded.group(1)).hex() == assembled.hex()
    # The header's sizes follow the code: the file is loaded whole.
    assert len(assembled) == int.from_bytes(assembled[68:72], "little")


# The package tools that setup.sh calls, played by scripts that log every call:
# nothing is installed but locales-all (so that no locale is made), i386 is no
# foreign architecture, and apt-get behaves as FAKE_APT says.
FAKES = {
    "dpkg-query": 'for a; do p=$a; done; [ "$p" = locales-all ] && printf "ii "; exit 0',
    "dpkg": '[ "$1" = --print-foreign-architectures ] && exit 0; echo "dpkg $*" >>"$FAKE_LOG"',
    "sudo": '[ "$1" = -n ] && shift; [ "$1" = true ] && exit 0; exec "$@"',
    "apt-get": r'''echo "apt-get $*" >>"$FAKE_LOG"
case " $* " in
  *" update "*)
    echo "Hit:1 http://deb.example bookworm InRelease"
    [ "$FAKE_APT" = ok ] && exit 0
    echo "Err:2 http://deb.example bookworm-security/main i386 Packages"
    echo "  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 192.0.2.1 80]"
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
    exit 100 ;;
  *" -s install "*)
    [ "$FAKE_APT" = installable ] && exit 0
    echo "E: Unable to locate package cmake" >&2
    exit 100 ;;
esac
exit 0''',
}


def setup_sh(tmp_path, fake_apt, extra_env=None, timeout=60):
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir(exist_ok=True)
    for name, body in FAKES.items():
        (bin_dir / name).write_text("#!/bin/sh\n" + body + "\n")
        (bin_dir / name).chmod(0o755)
    log = tmp_path / "calls.log"
    log.write_text("")
    env = {k: v for k, v in os.environ.items() if not k.startswith("KAVRELO_")}
    env.update(PATH=f"{bin_dir}:{os.environ['PATH']}", FAKE_APT=fake_apt, FAKE_LOG=str(log),
               KAVRELO_APT_LOCKS=str(tmp_path / "no-lock"))
    env.update(extra_env or {})
    r = subprocess.run(["bash", os.path.join(SCRIPTS, "setup.sh")], env=env, stdin=subprocess.DEVNULL,
                       capture_output=True, text=True, timeout=timeout)
    return r, log.read_text().splitlines()


def test_an_index_that_fails_is_named_and_setup_goes_on_where_apt_can_still_install(tmp_path):
    r, calls = setup_sh(tmp_path, "installable")
    assert r.returncode == 0, r.stderr
    assert "warning: apt-get update could not fetch:\n" \
           "  http://deb.example bookworm-security/main i386 Packages: File has unexpected size" in r.stderr
    assert [c.split()[-1] for c in calls if " update" in c] == ["update"], calls
    installs = [c for c in calls if " install -y " in c]
    assert len(installs) == 1, calls
    assert " cmake " in installs[0]


def test_an_index_that_fails_stops_setup_where_apt_cannot_install_without_it(tmp_path):
    r, calls = setup_sh(tmp_path, "not-installable")
    assert r.returncode == 5, r.stderr
    assert "http://deb.example bookworm-security/main i386 Packages: File has unexpected size" in r.stderr
    assert "  E: Unable to locate package cmake" in r.stderr
    assert "run make again in a few minutes" in r.stderr
    assert [c for c in calls if " install -y " in c] == []


def test_no_architecture_is_added_where_no_32_bit_wine_is_installed(tmp_path):
    r, calls = setup_sh(tmp_path, "ok")
    assert r.returncode == 0, r.stderr
    wine32 = [c for c in calls if " install -y " in c and "wine32:i386 " in c + " "]
    added = [c for c in calls if c.startswith("dpkg --add-architecture")]
    # Either both (a machine that runs 32-bit code) or neither.
    assert len(added) == len(wine32), calls


def test_a_held_lock_is_waited_for_within_the_bound_and_its_holder_named(tmp_path):
    lock = tmp_path / "lock-frontend"
    holder = subprocess.Popen(["/usr/bin/python3", "-c", "import fcntl, sys, time\n"
                               "f = open(sys.argv[1], 'w'); fcntl.lockf(f, fcntl.LOCK_EX)\n"
                               "print('held', flush=True); time.sleep(60)", str(lock)],
                              stdout=subprocess.PIPE, text=True)
    try:
        assert holder.stdout.readline() == "held\n"
        started = time.monotonic()
        r, calls = setup_sh(tmp_path, "ok", {"KAVRELO_APT_LOCKS": str(lock), "KAVRELO_APT_LOCK_WAIT": "5"})
        waited = time.monotonic() - started
    finally:
        holder.kill()
        holder.wait()
    assert r.returncode == 4, r.stderr
    assert f"still locked after 5 s, by: {holder.pid} (/usr/bin/python3 -c import fcntl" in r.stderr
    assert waited >= 5
    assert calls == []

"""scripts/with-xvfb: the command runs on a display of its own, with its exit
status; an Xvfb that fails, or that gives no display within the deadline, is
ended and reported with its log, which is kept."""

import glob
import os
import signal
import subprocess

import pytest

REPO = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
SCRIPT = os.path.join(REPO, "scripts", "with-xvfb")


def run(env_extra, *cmd, timeout=60):
    env = {k: v for k, v in os.environ.items() if not k.startswith("KAVRELO_") and k != "DISPLAY"}
    env.update(env_extra)
    # In a session of its own: what it started is ended with it, however it ends.
    p = subprocess.Popen(["bash", SCRIPT, *cmd], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                         start_new_session=True)
    try:
        out, err = p.communicate(timeout=timeout)
    finally:
        try:
            os.killpg(p.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        p.wait()
    return subprocess.CompletedProcess(p.args, p.returncode, out, err)


def test_runs_the_command_on_a_display_of_its_own():
    r = run({}, "sh", "-c", 'xdpyinfo -display "$DISPLAY" | grep dimensions; exit 7')
    assert r.returncode == 7, r.stderr
    assert "1280x800 pixels" in r.stdout


@pytest.mark.parametrize("body, message", [
    ('echo "no screens found" >&2; exit 1', "Xvfb did not start"),
    ('echo "waiting for nothing" >&2; exec sleep 60', "Xvfb gave no display within 2 s"),
])
def test_an_xvfb_that_gives_no_display_is_reported_with_its_log(tmp_path, body, message):
    fake = tmp_path / "Xvfb"
    fake.write_text("#!/bin/sh\n" + body + "\n")
    fake.chmod(0o755)
    before = set(glob.glob(os.path.join(REPO, "build", "xvfb-*.log")))
    r = run({"PATH": f"{tmp_path}:{os.environ['PATH']}", "KAVRELO_XVFB_WAIT": "2"}, "true", timeout=30)
    assert r.returncode == 2
    assert message in r.stderr
    kept = set(glob.glob(os.path.join(REPO, "build", "xvfb-*.log"))) - before
    assert len(kept) == 1, r.stderr
    log = kept.pop()
    try:
        assert os.path.basename(log) in r.stderr
        assert body.split('"')[1] in open(log).read()
    finally:
        os.remove(log)

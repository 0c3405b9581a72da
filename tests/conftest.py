"""Fixtures of the Python suites: a session (a private Xvfb, the test's Wine
prefix and everything started in it, scripts/pylib/driver.py) per test file.
Whatever a test starts ends with its fixture, whether the test passes,
fails, runs past its time limit (pytest-timeout) or is interrupted (Ctrl+C,
SIGTERM or SIGHUP)."""

import os
import signal
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "pylib"))

import driver  # noqa: E402


def _interrupted(signum, frame):
    raise KeyboardInterrupt("signal %d" % signum)


for _sig in (signal.SIGTERM, signal.SIGHUP):
    signal.signal(_sig, _interrupted)


@pytest.fixture(scope="module")
def session():
    with driver.Session() as s:
        yield s


@pytest.fixture(autouse=True)
def _ends_what_the_test_started(session):
    """Ends the programs a test started itself (its fixtures end theirs),
    however it ended."""
    before = set(session.live)
    yield
    session.end_since(before)

"""Starting and ending the processes that the tests and the benchmarks run.

Each process started here runs in a session (and process group) of its own,
led by the process started, and is ended by that id with its whole group:
when the caller ends it, and at the latest when this Python process ends
(normally, or on SIGTERM or SIGHUP), never by name.  A Wine prefix's server,
and with it every program and service of that prefix, is ended by
scripts/wine-stop PREFIX.
"""

import atexit
import os
import signal
import subprocess
import sys

_live = []      # every process started here that may still run
_at_end = []    # what else to end on the way out (Wine servers, say)


def start(argv, env=None, **kw):
    """Starts a process in a session of its own; stdin is /dev/null unless
    given."""
    kw.setdefault("stdin", subprocess.DEVNULL)
    proc = subprocess.Popen([str(a) for a in argv], env=env, start_new_session=True, **kw)
    _live.append(proc)
    return proc


def end(proc, grace=0):
    """Ends a process started here with its process group and reaps it:
    SIGTERM first when a grace period (seconds) is given, SIGKILL after it
    (at once without one).  Closes the pipes to it."""
    if proc in _live:
        _live.remove(proc)
    if proc.poll() is None:
        steps = ((signal.SIGTERM, grace),) if grace > 0 else ()
        for sig, wait in steps + ((signal.SIGKILL, 10),):
            try:
                os.killpg(proc.pid, sig)
            except (ProcessLookupError, PermissionError):
                try:
                    proc.send_signal(sig)
                except ProcessLookupError:
                    pass
            try:
                proc.wait(timeout=wait)
                break
            except subprocess.TimeoutExpired:
                continue
    for pipe in (proc.stdin, proc.stdout, proc.stderr):
        if pipe is not None:
            try:
                pipe.close()
            except OSError:
                pass


def wait(proc, timeout):
    """Waits for a process started here to end and returns its exit code;
    raises subprocess.TimeoutExpired when it does not within the timeout."""
    code = proc.wait(timeout=timeout)
    if proc in _live:
        _live.remove(proc)
    return code


def end_all():
    """Ends every process started here, the last started first."""
    while _live:
        end(_live[-1])


WINE_STOP = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "wine-stop")


def stop_wine(prefix):
    """Ends the Wine server of a prefix (and every program and service of the
    prefix with it) and waits until it has gone: scripts/wine-stop PREFIX.
    Nothing when the prefix does not exist or no server of it runs."""
    if not prefix or not os.path.isdir(prefix):
        return
    try:
        subprocess.run(["bash", WINE_STOP, prefix], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=90)
    except (OSError, subprocess.TimeoutExpired):
        pass


def at_end(fn, *args):
    """Calls fn(*args) on the way out, after every process started here has
    been ended."""
    _at_end.append((fn, args))


def _finish():
    end_all()
    while _at_end:
        fn, args = _at_end.pop()
        try:
            fn(*args)
        except Exception:  # noqa: BLE001 -- the way out goes on
            pass


def exit_on_signal(signum, frame):
    """A signal handler: ends everything as on the way out, then exits."""
    _finish()
    sys.exit(128 + signum)


atexit.register(_finish)
for _sig in (signal.SIGTERM, signal.SIGHUP):
    signal.signal(_sig, exit_on_signal)

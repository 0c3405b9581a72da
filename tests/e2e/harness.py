"""Shared helpers for the end-to-end tests of Kavrelo under Wine.

The tests run on an X display (scripts/with-display gives them a private Xvfb)
and in a Wine prefix of their own.  Everything started here is recorded and
killed by process id on every way out (unittest's cleanups, try/finally,
atexit and SIGTERM: scripts/pylib/procs.py), never by name.

Environment (set by tests/e2e/CMakeLists.txt):
  KAVRELO_WINE_RUN        scripts/wine-run
  KAVRELO_WINEPREFIX      the tests' Wine prefix
  KAVRELO_PROBE           probe.exe
  KAVRELO_TARGET          target.exe
  KAVRELO_EXE             Kavrelo.exe
  KAVRELO_BROKENBIND_EXE  Kavrelo-brokenbind.exe (optional)
  KAVRELO_BROKENCREATE_EXE  Kavrelo-brokencreate.exe (optional)
  KAVRELO_NOLAYERED_EXE   Kavrelo-nolayered.exe (optional)
  KAVRELO_E2E_OUT         folder for screenshots and logs
  KAVRELO_WINE_VERSION    the Windows version the prefix reports (winxp, win7,
                          win10); Wine's default when unset
"""

import json
import os
import queue
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "scripts", "pylib"))

import procs  # noqa: E402
import procsample  # noqa: E402
import winbuild  # noqa: E402
import xwin  # noqa: E402

# Window styles and messages used by the tests.
WS_CAPTION = 0x00C00000
WS_BORDER = 0x00800000
WS_DLGFRAME = 0x00400000
WS_SYSMENU = 0x00080000
WS_THICKFRAME = 0x00040000
WS_MINIMIZEBOX = 0x00020000
WS_MAXIMIZEBOX = 0x00010000
WS_TABSTOP = 0x00010000
WS_VSCROLL = 0x00200000
WS_HSCROLL = 0x00100000
WS_CHILD = 0x40000000
WS_VISIBLE = 0x10000000
WS_EX_TOPMOST = 0x00000008
WS_EX_LAYERED = 0x00080000
WS_EX_DLGMODALFRAME = 0x00000001
SBS_VERT = 0x0001
ES_MULTILINE = 0x0004
ES_READONLY = 0x0800
ES_AUTOVSCROLL = 0x0040
LWA_ALPHA = 0x2
WM_CLOSE = 0x0010
WM_SYSCOMMAND = 0x0112
SC_CLOSE = 0xF060

# How long the tests wait for things that normally take a fraction of a second
# (generous: a busy 2-core machine running Wine can be slow).
DEADLINE = float(os.environ.get("KAVRELO_E2E_DEADLINE", "15"))


def env_path(name, required=True):
    value = os.environ.get(name)
    if required and not value:
        raise unittest.SkipTest("%s is not set (run the tests through CTest)" % name)
    return value


def out_dir():
    path = os.environ.get("KAVRELO_E2E_OUT") or tempfile.mkdtemp(prefix="kavrelo-e2e-")
    os.makedirs(path, exist_ok=True)
    return path


def log(*parts):
    print("[e2e %.2f]" % (time.monotonic() - _T0), *parts, file=sys.stderr, flush=True)


_T0 = time.monotonic()


class Timeout(AssertionError):
    pass


def poll(fn, timeout=DEADLINE, interval=0.05, what="condition"):
    """Calls fn until it returns a truthy value and returns that value; fails
    with the last value seen when the deadline passes."""
    deadline = time.monotonic() + timeout
    last = None
    while True:
        last = fn()
        if last:
            return last
        if time.monotonic() > deadline:
            raise Timeout("timed out after %.1f s waiting for %s; last value: %r" % (timeout, what, last))
        time.sleep(interval)


def stays(fn, duration, interval=0.05, what="condition"):
    """Checks that fn() stays truthy for the whole duration."""
    deadline = time.monotonic() + duration
    while time.monotonic() < deadline:
        value = fn()
        if not value:
            raise AssertionError("%s stopped holding: %r" % (what, value))
        time.sleep(interval)


# --- processes -------------------------------------------------------------

def kill_all():
    procs.end_all()


def wine_arch():
    """The architecture of the Windows programs run here (scripts/wine-arch)."""
    try:
        return winbuild.arch()
    except winbuild.NoWine as e:
        raise AssertionError(str(e))


def windows_bin_dir():
    """The bin folder of the Windows build whose programs run here."""
    return winbuild.bin_dir(wine_arch())


def wine_env():
    env = dict(os.environ)
    env.setdefault("WINEDEBUG", "-all")
    return env


def wine_run():
    return env_path("KAVRELO_WINE_RUN", required=False) or os.path.join(REPO, "scripts", "wine-run")


def start(program, *args, stdin=subprocess.DEVNULL, stdout=None, stderr=None, env=None):
    """Starts a Windows program under wine-run (wine-run execs wine, which
    is the program), with env's variables added to the environment; the
    process is killed at the latest when the tests end."""
    proc = procs.start([wine_run(), program] + list(args), env=dict(wine_env(), **(env or {})), stdin=stdin,
                       stdout=stdout, stderr=stderr)
    log("started", os.path.basename(program), *args, "pid", proc.pid)
    return proc


def stop(proc):
    procs.end(proc)


def wait_exit(proc, timeout=DEADLINE):
    """Waits for a process to end; returns its exit code or fails."""
    try:
        return procs.wait(proc, timeout)
    except subprocess.TimeoutExpired:
        raise Timeout("process %d did not end within %.1f s" % (proc.pid, timeout))


def shutdown_wine():
    """Ends the Wine server of the tests' own prefix (and so its desktop,
    which is bound to the X display it was started on)."""
    procs.stop_wine(os.environ.get("KAVRELO_WINEPREFIX"), wine_env())


# Also on the way out, after every program started here.
procs.at_end(shutdown_wine)


# --- programs that answer in lines of JSON ---------------------------------

class LineProgram:
    """A program started here that answers in JSON, one object a line, read
    on a thread of its own; its first line is kept in self.first."""

    what = "program"

    def __init__(self, program, *args, first_timeout=60):
        self.proc = start(program, *args, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        self.first = self._answer(timeout=first_timeout)

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line)
        self.lines.put(None)

    def _answer(self, timeout):
        try:
            line = self.lines.get(timeout=timeout)
        except queue.Empty:
            raise Timeout("%s gave no answer within %.1f s" % (self.what, timeout))
        if line is None:
            raise AssertionError("%s ended (exit code %r)" % (self.what, self.proc.poll()))
        return json.loads(line.decode("utf-8"))

    def send(self, line):
        self.proc.stdin.write((line + "\n").encode("utf-8"))
        self.proc.stdin.flush()

    def stop(self):
        stop(self.proc)


class Probe(LineProgram):
    """probe.exe in serve mode (or a program of the same line protocol):
    one command a line, one JSON answer a line."""

    def __init__(self, program=None, what="probe"):
        self.what = what
        super().__init__(program or env_path("KAVRELO_PROBE"), "serve")
        if not self.first.get("ready"):
            raise AssertionError("%s did not start: %r" % (what, self.first))

    def call(self, *args, timeout=20):
        self.send("\t".join(str(a) for a in args))
        return self._answer(timeout)

    # Conveniences.
    def info(self, hwnd):
        return self.call("info", hwnd)

    def find(self, title=None, cls=None, owner=None):
        args = ["find"]
        if title is not None:
            args += ["--title", title]
        if cls is not None:
            args += ["--class", cls]
        if owner is not None:
            args += ["--owner", owner]
        return self.call(*args)["windows"]

    def from_point(self, x, y):
        return self.call("from-point", x, y)

    def cursor(self):
        return self.call("cursor")

    def post(self, hwnd, msg, wparam=0, lparam=0):
        return self.call("post", hwnd, msg, wparam, lparam)["ok"]

    def move(self, hwnd, x, y, width=None, height=None):
        size = () if width is None else (width, height)
        return self.call("move", hwnd, x, y, *size)["ok"]

    def exists(self, hwnd):
        return self.call("exists", hwnd)["exists"]

    def close(self):
        if self.proc.poll() is None:
            try:
                self.send("quit")
                self.proc.wait(timeout=5)
            except (OSError, subprocess.TimeoutExpired):
                pass
        stop(self.proc)


def child(info, ctrl_id):
    """The child with that control id from a probe answer."""
    for c in info["children"]:
        if c["id"] == ctrl_id:
            return c
    raise AssertionError("no child with id %d in %r" % (ctrl_id, [c["id"] for c in info["children"]]))


def client_to_screen(info, x, y):
    return info["client"]["x"] + x, info["client"]["y"] + y


def child_center(parent_info, c):
    r = c["rect"]
    return client_to_screen(parent_info, (r["left"] + r["right"]) // 2, (r["top"] + r["bottom"]) // 2)


def handle_text(hwnd):
    """How the tool shows a handle: a signed 32-bit decimal."""
    value = int(hwnd) & 0xFFFFFFFF
    return str(value - 0x100000000 if value & 0x80000000 else value)


# --- X: pointer, keyboard, screenshots, properties -------------------------

def xdotool(*args, timeout=10):
    subprocess.run(["xdotool"] + [str(a) for a in args], check=True, timeout=timeout,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)


def xdisplay():
    """The tests' connection to the X display (one for the process)."""
    return xwin.display()


def mouse_location():
    return xdisplay().pointer()


def mousemove(x, y):
    # Not "mousemove --sync": it waits for a motion that never comes when the
    # pointer is already there.
    x, y = int(x), int(y)
    xdotool("mousemove", x, y)
    poll(lambda: mouse_location() == (x, y), what="the pointer at %d,%d" % (x, y))


def warp(x, y):
    """Moves the pointer at once, as an input device would (XTEST), without
    starting a program: for moves many times a second.  Does not wait."""
    import Xlib.X
    import Xlib.ext.xtest
    d = xdisplay().d
    Xlib.ext.xtest.fake_input(d, Xlib.X.MotionNotify, x=int(x), y=int(y))
    d.sync()


def click(x, y, button=1):
    mousemove(x, y)
    xdotool("click", button)


def key(*keys):
    xdotool("key", *keys)


def keydown(k):
    xdotool("keydown", k)


def keyup(k):
    xdotool("keyup", k)


def type_text(text):
    xdotool("type", "--delay", 30, text)


def screenshot(name):
    path = os.path.join(out_dir(), name + ".png")
    subprocess.run(["import", "-window", "root", path], check=True, timeout=30,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    log("screenshot", path)
    return path


def pixel(path, x, y):
    """The (r, g, b) of one pixel of a screenshot."""
    r = subprocess.run(["convert", path, "-crop", "1x1+%d+%d" % (x, y), "-depth", "8",
                        "-format", "%[fx:int(255*r)] %[fx:int(255*g)] %[fx:int(255*b)]", "info:-"],
                       capture_output=True, text=True, timeout=30, check=True)
    return tuple(int(v) for v in r.stdout.split())


def start_native(*args, stderr=subprocess.DEVNULL):
    """Starts a Linux program (not under Wine); killed like the others."""
    proc = procs.start(args, stdout=subprocess.DEVNULL, stderr=stderr)
    log("started", *args, "pid", proc.pid)
    return proc


def have_compositor():
    return shutil.which("xcompmgr") is not None


def start_compositor():
    """Starts a compositing manager (xcompmgr) on the display, so that the
    opacity Wine gives a layered window's X window shows in the pixels
    (Xvfb alone draws every window opaque).  It paints the root window grey.
    Returns the process, or None when xcompmgr is not installed.  (A root
    background set with ImageMagick's "display -window root" makes it fail
    with BadMatch: leave the root as it is.)"""
    if not have_compositor():
        return None
    proc = start_native("xcompmgr")
    # Whether it composites shows in the pixels only: callers poll for that.
    stays(lambda: proc.poll() is None, 0.5, what="xcompmgr running")
    return proc


def start_notepad(probe, at, timeout=60):
    """Starts Wine's notepad, waits for its window and moves it to `at` (a
    screen point); returns the process and the window's handle."""
    proc = start("notepad")
    hwnd = poll(lambda: [w for w in probe.find(cls="Notepad") if w["visible"]],
                what="the notepad window", timeout=timeout)[0]["hwnd"]
    probe.move(hwnd, *at)
    return proc, hwnd


def xid_for(info, pid):
    """The X window of a top-level Wine window: the one of the process's X
    windows (by _NET_WM_PID, which Wine sets to the process id of the Windows
    program) with the window's name that lies nearest to it (a managed
    window's X window covers its client area, an unmanaged one its whole
    frame)."""
    origins = [(info["client"]["x"], info["client"]["y"]), (info["window"]["left"], info["window"]["top"])]
    best = None
    for xid in xdisplay().windows_of(pid):
        if xdisplay().name(xid) != info["caption"]:
            continue
        g = xdisplay().geometry(xid)
        if g is None:
            continue  # gone meanwhile
        distance = min(abs(g["x"] - ox) + abs(g["y"] - oy) for ox, oy in origins)
        if best is None or distance < best[0]:
            best = (distance, xid)
    return best[1] if best else None


def group_pids(proc):
    """The process ids of a program's process group (the one start() made),
    the one started first.  "wine notepad" runs notepad.exe in another
    process of the group."""
    return [proc.pid] + [pid for pid in procsample.group(proc.pid) if pid != proc.pid]


def xid_of(info, proc):
    """The X window of a top-level window of a program started here."""
    for pid in group_pids(proc):
        xid = xid_for(info, pid)
        if xid:
            return xid
    return None


def x_opacity(xid):
    """_NET_WM_WINDOW_OPACITY of an X window, or None when it is not set."""
    return xdisplay().opacity(xid)


def x_focus():
    """The X window that has the keyboard focus."""
    return xdisplay().focus()


def x_focus_window(xid):
    """Gives an X window the keyboard focus and waits until it has it."""
    if x_focus() == xid:
        return
    xdotool("windowfocus", xid)
    poll(lambda: x_focus() == xid, what="X focus on window %d" % xid)


# --- the tool window -------------------------------------------------------

KAVRELO_CAPTION = "Kavrelo"
DIALOG_CLASS = "#32770"

ID_HSCROLL1 = 100
ID_LABEL1 = 101
ID_LABEL2 = 102
ID_LABEL3 = 103
ID_LABEL4 = 104
ID_LABEL5 = 105
ID_LABEL6 = 106
ID_TEXT1 = 107


def tool_windows(probe):
    """Top-level windows captioned "Kavrelo" that are not message boxes."""
    return [w for w in probe.find(title=KAVRELO_CAPTION) if w["class"] != DIALOG_CLASS]


class Tool:
    """A running Kavrelo.exe and its main window."""

    def __init__(self, probe, exe=None, env=None):
        self.probe = probe
        self.exe = exe or env_path("KAVRELO_EXE")
        if tool_windows(probe):
            raise AssertionError("a Kavrelo window is already open")
        self.proc = start(self.exe, env=env)
        found = poll(lambda: self._visible_window(), what="the Kavrelo window", timeout=max(DEADLINE, 30))
        self.hwnd = found["hwnd"]
        log("Kavrelo window", self.hwnd)

    def _visible_window(self):
        if self.proc.poll() is not None:
            raise AssertionError("Kavrelo ended early with exit code %r" % self.proc.returncode)
        ws = [w for w in tool_windows(self.probe) if w["visible"]]
        return ws[0] if ws else None

    def info(self):
        return self.probe.info(self.hwnd)

    def child(self, ctrl_id, info=None):
        return child(info or self.info(), ctrl_id)

    def text(self, ctrl_id):
        return self.child(ctrl_id)["text"]

    def wait_text(self, ctrl_id, expected, timeout=DEADLINE):
        def check():
            c = self.child(ctrl_id)
            return c if c["text"] == expected else False
        try:
            return poll(check, timeout=timeout, what="control %d to show %r" % (ctrl_id, expected))
        except Timeout:
            raise Timeout("control %d shows %r, expected %r" % (ctrl_id, self.text(ctrl_id), expected))

    def capture_with_f1(self, hwnd, timeout=DEADLINE):
        """Holds F1 until Label3 shows hwnd's handle text, then lets it go;
        returns Label3 as the probe sees it."""
        keydown("F1")
        try:
            return self.wait_text(ID_LABEL3, handle_text(hwnd), timeout=timeout)
        finally:
            keyup("F1")

    def capture_window(self, hwnd, x=300, y=170):
        """Rests the pointer on a window, at (x, y) of its client area, waits
        until Label2 shows it and captures it with F1."""
        client = self.probe.info(hwnd)["client"]
        x, y = client["x"] + x, client["y"] + y
        mousemove(x, y)
        if self.probe.from_point(x, y)["hwnd"] != hwnd:
            raise AssertionError("window %d is not under the pointer at %d,%d" % (hwnd, x, y))
        self.wait_text(ID_LABEL2, handle_text(hwnd))
        return self.capture_with_f1(hwnd)

    def screen_point(self, x, y):
        return client_to_screen(self.info(), x, y)

    def empty_point(self):
        """A client point (screen coordinates) over none of the children."""
        info = self.info()
        rects = [c["rect"] for c in info["children"]]
        w, h = info["client"]["width"], info["client"]["height"]
        for y in range(h - 3, 2, -2):
            for x in range(w - 3, 2, -7):
                if all(not (r["left"] - 2 <= x < r["right"] + 2 and r["top"] - 2 <= y < r["bottom"] + 2)
                       for r in rects):
                    return client_to_screen(info, x, y)
        raise AssertionError("no empty point in the client area")

    def stop(self):
        stop(self.proc)


class Target(LineProgram):
    """A running target.exe: a window with a button and an edit field."""

    what = "target.exe"

    def __init__(self, caption="KavreloTarget", x=None, y=None):
        args = [caption]
        if x is not None:
            args += ["--pos", x, y]
        super().__init__(env_path("KAVRELO_TARGET"), *args, first_timeout=max(DEADLINE, 30))
        handles = self.first
        self.hwnd, self.button, self.edit = handles["hwnd"], handles["button"], handles["edit"]
        self.wide = handles["wide"]  # a child with a handle text of six digits or more
        if not self.hwnd:
            raise AssertionError("target.exe could not create its window (no display for Wine?)")


# The Windows versions the tests run under, and what RtlGetVersion then
# reports (major, minor).
WINDOWS_VERSIONS = {"winxp": (5, 1), "win7": (6, 1), "win10": (10, 0)}


def wine_version():
    """The Windows version asked for (KAVRELO_WINE_VERSION), or None."""
    version = os.environ.get("KAVRELO_WINE_VERSION") or None
    if version is not None and version not in WINDOWS_VERSIONS:
        raise AssertionError("KAVRELO_WINE_VERSION=%r is not one of %s" % (version, sorted(WINDOWS_VERSIONS)))
    return version


def _reg_add(key, name, value, kind="REG_SZ"):
    r = subprocess.run([wine_run(), "reg", "add", key, "/v", name, "/t", kind, "/d", str(value), "/f"],
                       env=wine_env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120)
    if r.returncode != 0:
        raise AssertionError("could not set up the Wine prefix (reg add %s %s: %d)" % (key, name, r.returncode))


# The stand-in for SimSun (see prepare_prefix).
SIMSUN = "WenQuanYi Micro Hei"


def prepare_prefix(dpi=96):
    """Settings of the tests' prefix, made once (again when they change).

    Managed=N: there is no window manager on the test display, and Wine then
    waits 2 s (its time-out) for every managed top-level window it hides or
    destroys to be withdrawn by one.  Unmanaged windows go at once, so that
    "the process ends at once" can be checked tightly and the tests run fast.

    Version: the Windows version that Wine reports in this prefix, from
    KAVRELO_WINE_VERSION (each version has a prefix of its own).

    LogPixels: the DPI that Wine tells every program started afterwards
    (GetDeviceCaps of the screen, LOGPIXELSY), as Windows XP to 7 do; 96
    unless a test asks for another.

    SimSun, the font the tool asks for: Windows has it on every locale, Wine
    has none.  Wine's stand-in depends on the locale: under zh_CN.UTF-8 it is
    WenQuanYi Micro Hei, under en_US.UTF-8 Droid Sans Fallback, which has no
    Latin letters or digits (they would show as boxes).  The prefix names
    WenQuanYi Micro Hei (fonts-wqy-microhei) as SimSun for every locale.
    """
    prefix = os.environ.get("KAVRELO_WINEPREFIX")
    if not prefix:
        return
    version = wine_version()
    settings = ("Managed=N\nSimSun=%s\n" % SIMSUN + ("Version=%s\n" % version if version else "") +
                "LogPixels=%d\n" % dpi)
    marker = os.path.join(prefix, ".kavrelo-e2e-settings")
    try:
        with open(marker) as f:
            if f.read() == settings:
                return
    except OSError:
        pass
    _reg_add(r"HKCU\Software\Wine\X11 Driver", "Managed", "N")
    _reg_add(r"HKCU\Software\Wine\Fonts\Replacements", "SimSun", SIMSUN)
    if version:
        _reg_add(r"HKCU\Software\Wine", "Version", version)
    _reg_add(r"HKCU\Control Panel\Desktop", "LogPixels", dpi, "REG_DWORD")
    shutdown_wine()  # writes the registry out
    with open(marker, "w") as f:
        f.write(settings)


def check_version(probe):
    """Fails unless Wine reports the Windows version asked for; returns what
    the probe saw."""
    seen = probe.call("version")
    version = wine_version()
    if version:
        rtl = seen.get("rtlGetVersion") or {}
        if (rtl.get("major"), rtl.get("minor")) != WINDOWS_VERSIONS[version]:
            raise AssertionError("the prefix was set to %s, but Wine reports %r" % (version, seen))
    log("Windows version", version or "(Wine's default)", seen)
    return seen


class WineTestCase(unittest.TestCase):
    """Base class: a fresh Wine server for the prefix, a probe, and cleanup of
    everything on the way out."""

    dpi = 96  # the DPI the prefix tells programs during the class's tests
    probe_type = Probe  # a subclass of Probe for more conveniences

    @classmethod
    def setUpClass(cls):
        # A desktop left from an earlier run would be bound to another display.
        shutdown_wine()
        prepare_prefix(cls.dpi)
        cls.addClassCleanup(shutdown_wine)
        cls.addClassCleanup(kill_all)
        cls.probe = cls.probe_type()
        cls.addClassCleanup(cls.probe.close)
        cls.windows_version = check_version(cls.probe)

    def assertNear(self, a, b, tolerance, msg=None):
        if abs(a - b) > tolerance:
            self.fail(msg or "%r is not within %r of %r" % (a, tolerance, b))


def main():
    unittest.main(verbosity=2)

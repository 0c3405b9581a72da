"""Drives the real Kavrelo.exe under Wine on a private X display, as a user
would, and reads it back from outside: for the end-to-end and reliability
tests, the soak, the demonstration and the benchmarks.

A Session owns one Xvfb, one Wine prefix (and so one wineserver and desktop)
and every program started in it; closing it (a `with` block, or a pytest
fixture around one) ends them all, by process id, and the prefix's server,
whether what ran passed, failed, hung past its time limit or was
interrupted.  Input goes through XTEST (python-xlib), as a device's would;
windows are read through probe.exe, another Win32 process.

Nothing here restates a fact of the program: the control ids come from
app/form1_ids.h, and every point on the scroll bar is computed from the live
control (GetScrollBarInfo through the probe), so that it holds at any DPI.

Environment (CTest sets it; the defaults suit a run by hand):
  KAVRELO_WINE_ARCH     the Windows build whose programs run (scripts/wine-arch)
  KAVRELO_BIN           where Kavrelo.exe and the test programs are
                        (default: that build's build/PRESET/bin)
  KAVRELO_WINEPREFIX    the session's Wine prefix
  KAVRELO_WINE_VERSION  the Windows version Wine reports (winxp, win7, win10)
  KAVRELO_E2E_OUT       folder for screenshots and findings
"""

import json
import os
import queue
import re
import subprocess
import sys
import tempfile
import threading
import time

import Xlib.X
import Xlib.XK
import Xlib.ext.xtest

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)

import procs  # noqa: E402
import procsample  # noqa: E402
import winbuild  # noqa: E402
import xwin  # noqa: E402

# Window styles, messages and codes the callers look for.
WS_CAPTION = 0x00C00000
WS_SYSMENU = 0x00080000
WS_THICKFRAME = 0x00040000
WS_MINIMIZEBOX = 0x00020000
WS_MAXIMIZEBOX = 0x00010000
WS_TABSTOP = 0x00010000
WS_VSCROLL = 0x00200000
WS_HSCROLL = 0x00100000
WS_EX_TOPMOST = 0x00000008
WS_EX_LAYERED = 0x00080000
SBS_VERT = 0x0001
ES_MULTILINE = 0x0004
ES_READONLY = 0x0800
LWA_ALPHA = 0x2
LWA_COLORKEY = 0x1
WM_CLOSE = 0x0010
WM_SYSCOMMAND = 0x0112
WM_HSCROLL = 0x0114
SC_CLOSE = 0xF060
SB_LINERIGHT = 1
HTCAPTION = 2
HTCLOSE = 20
DIALOG_CLASS = "#32770"
DESKTOP_CLASS = "#32769"
MENU_CLASS = "#32768"
CAPTION = "Kavrelo"
NO_TARGET = "未设置窗口"

# How long to wait for what normally takes a fraction of a second (generous:
# a busy 2-core machine running Wine can be slow).
DEADLINE = float(os.environ.get("KAVRELO_E2E_DEADLINE", "15"))
# The screen of the private display; the tool opens at its top left.
SCREEN = (1280, 800)
# A corner of the screen where only the desktop lies.
PARKED = (1270, 790)
_T0 = time.monotonic()


def log(*parts):
    print("[kavrelo %.2f]" % (time.monotonic() - _T0), *parts, file=sys.stderr, flush=True)


class Timeout(AssertionError):
    pass


def poll(fn, timeout=DEADLINE, interval=0.05, what="condition"):
    """Calls fn until it returns a truthy value and returns that value; fails
    with the last value seen when the deadline passes."""
    deadline = time.monotonic() + timeout
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


def handle_text(hwnd):
    """How the tool shows a handle: its signed 32-bit value in decimal."""
    value = int(hwnd) & 0xFFFFFFFF
    return str(value - 0x100000000 if value & 0x80000000 else value)


def control_ids():
    """The tool window's control ids by control name ("HScroll1": 100, ...),
    read from the header the program is built with."""
    with open(os.path.join(REPO, "app", "form1_ids.h"), encoding="utf-8") as f:
        ids = {m.group(1): int(m.group(2)) for m in re.finditer(r"\bkId(\w+)\s*=\s*(\d+)", f.read())}
    if not ids:
        raise AssertionError("no control ids in app/form1_ids.h")
    return ids


ID = control_ids()


def out_dir():
    path = os.environ.get("KAVRELO_E2E_OUT") or os.path.join(tempfile.gettempdir(), "kavrelo-out")
    os.makedirs(path, exist_ok=True)
    return path


def program(name):
    """A Windows program of the build that runs here (Kavrelo.exe, probe.exe, ...)."""
    bin_dir = os.environ.get("KAVRELO_BIN") or winbuild.bin_dir(arch())
    path = os.path.join(bin_dir, name)
    if not os.path.exists(path):
        raise AssertionError("%s not found (build it first: make windows)" % path)
    return path


def arch():
    try:
        return winbuild.arch()
    except winbuild.NoWine as e:
        raise AssertionError(str(e))


WINE_RUN = os.path.join(REPO, "scripts", "wine-run")


# --- the X display and input ---------------------------------------------------

class Xvfb:
    """A private X server; Xvfb picks a free display number and writes it to
    the pipe -displayfd names once it accepts clients."""

    def __init__(self, screen=SCREEN):
        r, w = os.pipe()
        self.proc = procs.start(["Xvfb", "-displayfd", str(w), "-screen", "0", "%dx%dx24" % screen,
                                 "-nolisten", "tcp", "-noreset"], pass_fds=(w,),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        with os.fdopen(r) as f:
            number = f.readline().strip()
        if not number.isdigit():
            procs.end(self.proc)
            raise AssertionError("could not start Xvfb")
        self.name = ":" + number

    def close(self):
        procs.end(self.proc, grace=2)


class Input:
    """Pointer and keyboard through XTEST, on one connection to the display.
    Key names are X keysyms ("F1", "Next", "Right", "a"), combinations joined
    by "+" ("ctrl+v", "shift+Tab", "alt+F4")."""

    MODIFIERS = {"ctrl": "Control_L", "shift": "Shift_L", "alt": "Alt_L"}

    def __init__(self, x):
        self.x = x
        self.d = x.d

    def _fake(self, kind, detail=0, **kw):
        Xlib.ext.xtest.fake_input(self.d, kind, detail, **kw)

    def _code(self, name):
        name = self.MODIFIERS.get(name.lower(), name)
        keysym = Xlib.XK.string_to_keysym(name)
        code = self.d.keysym_to_keycode(keysym) if keysym else 0
        if not code:
            raise ValueError("no key for %r" % name)
        return code

    def warp(self, x, y):
        """Moves the pointer at once, without waiting: for many moves a second."""
        self._fake(Xlib.X.MotionNotify, x=int(x), y=int(y))
        self.d.sync()

    def move(self, x, y):
        x, y = int(x), int(y)
        self.warp(x, y)
        poll(lambda: self.x.pointer() == (x, y), what="the pointer at %d,%d" % (x, y))

    def press(self, button=1):
        self._fake(Xlib.X.ButtonPress, button)
        self.d.sync()

    def release(self, button=1):
        self._fake(Xlib.X.ButtonRelease, button)
        self.d.sync()

    def click(self, x=None, y=None, count=1, button=1):
        if x is not None:
            self.move(x, y)
        for _ in range(count):
            self.press(button)
            self.release(button)

    def keydown(self, name):
        self._fake(Xlib.X.KeyPress, self._code(name))
        self.d.sync()

    def keyup(self, name):
        self._fake(Xlib.X.KeyRelease, self._code(name))
        self.d.sync()

    def key(self, *combos, delay=0.012):
        for combo in combos:
            codes = [self._code(part) for part in combo.split("+")]
            for code in codes:
                self._fake(Xlib.X.KeyPress, code)
            for code in reversed(codes):
                self._fake(Xlib.X.KeyRelease, code)
            self.d.sync()
            time.sleep(delay)

    def type_text(self, text, delay_ms=30):
        """Types any text, control characters and all: xdotool maps a spare
        key code to each character that the keyboard map lacks, which XTEST
        alone cannot do."""
        subprocess.run(["xdotool", "type", "--delay", str(delay_ms), text], check=True, timeout=120,
                       env=dict(os.environ, DISPLAY=self.x.display_name), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL)


# --- programs that answer in lines of JSON -------------------------------------

class LineProgram:
    """A Windows program that answers in JSON, one object a line, read on a
    thread of its own; its first line is kept in self.first."""

    what = "program"

    def __init__(self, session, exe, *args, first_timeout=max(DEADLINE, 30)):
        self.session = session
        self.proc = session.start(exe, *args, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        self.first = self.answer(first_timeout)

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line)
        self.lines.put(None)

    def answer(self, timeout=DEADLINE):
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

    def close(self):
        self.session.end(self.proc)


class Probe(LineProgram):
    """probe.exe in serve mode: one command a line, one JSON answer a line
    (see tests/e2e/probe.cpp for the commands)."""

    what = "probe"

    def __init__(self, session):
        super().__init__(session, program("probe.exe"), "serve")
        if not self.first.get("ready"):
            raise AssertionError("the probe did not start: %r" % self.first)

    def call(self, *args, timeout=20):
        self.send("\t".join(str(a) for a in args))
        return self.answer(timeout)

    def info(self, hwnd):
        return self.call("info", hwnd)

    def find(self, title=None, cls=None, owner=None):
        args = ["find"]
        for flag, value in (("--title", title), ("--class", cls), ("--owner", owner)):
            if value is not None:
                args += [flag, value]
        return self.call(*args)["windows"]

    def at(self, x, y):
        """WindowFromPoint as another process sees it: {"hwnd", "class", "root"}."""
        return self.call("from-point", x, y)

    def foreground(self):
        return self.call("foreground")["hwnd"]

    def post(self, hwnd, msg, wparam=0, lparam=0):
        return self.call("post", hwnd, msg, wparam, lparam)["ok"]

    def exists(self, hwnd):
        return self.call("exists", hwnd)["exists"]

    def layered(self, hwnd):
        """{"exists", "exstyle", "layered": {key, alpha, flags} or None}."""
        return self.call("layered", hwnd)

    def boxes(self, win_pid):
        """The message boxes (dialog-class windows) of a Windows process."""
        return self.call("boxes", win_pid)["boxes"]

    def close(self):
        if self.proc.poll() is None:
            try:
                self.send("quit")
                self.proc.wait(timeout=5)
            except (OSError, subprocess.TimeoutExpired):
                pass
        super().close()


def child(info, ctrl_id):
    """The child with that control id in a probe answer."""
    for c in info["children"]:
        if c["id"] == ctrl_id:
            return c
    raise AssertionError("no child with id %d in %r" % (ctrl_id, [c["id"] for c in info["children"]]))


def client_point(info, x, y):
    """A point of a window's client area (probe answer) on the screen."""
    return info["client"]["x"] + x, info["client"]["y"] + y


def child_center(info, c):
    r = c["rect"]
    return client_point(info, (r["left"] + r["right"]) // 2, (r["top"] + r["bottom"]) // 2)


class Target(LineProgram):
    """target.exe: a window with a button (id 1), an edit field (2) and a
    child whose handle text is six digits or more (3)."""

    what = "target.exe"

    def __init__(self, session, caption, at):
        super().__init__(session, program("target.exe"), caption, "--pos", *at)
        self.hwnd, self.button, self.edit = self.first["hwnd"], self.first["button"], self.first["edit"]
        self.wide = self.first["wide"]
        if not self.hwnd:
            raise AssertionError("target.exe could not create its window")


class HangTarget(LineProgram):
    """hang_target.exe: a window whose thread stops pumping messages on
    hang() and goes on after release()."""

    what = "hang_target"

    def __init__(self, session, caption, at):
        super().__init__(session, program("hang_target.exe"), caption, "--pos", *at)
        self.hwnd = self.first["hwnd"]

    def _expect(self, command, key):
        self.send(command)
        answer = self.answer()
        if not answer.get(key):
            raise AssertionError("hang_target: %r" % answer)

    def hang(self):
        self._expect("hang", "hung")

    def release(self):
        self._expect("release", "released")


class Notepad:
    """Wine's notepad, moved to a place on the screen."""

    def __init__(self, session, at):
        self.proc = session.start("notepad")
        probe = session.probe
        self.hwnd = poll(lambda: [w for w in probe.find(cls="Notepad") if w["visible"]],
                         what="the notepad window", timeout=60)[0]["hwnd"]
        probe.call("move", self.hwnd, *at)
        poll(lambda: probe.info(self.hwnd)["window"]["left"] == at[0], what="notepad moved")
        self.session = session

    def menu_bar_point(self, dx=300):
        """A point just above the client area: the top-level window itself
        (the middle of the client is notepad's edit child)."""
        return client_point(self.session.probe.info(self.hwnd), dx, -5)

    def close(self):
        self.session.end(self.proc)


# --- the tool ------------------------------------------------------------------

class Tool:
    """A running Kavrelo.exe (or a build of it with a planted fault) and its
    window, read through the session's probe."""

    def __init__(self, session, exe="Kavrelo.exe", env=None, park=True):
        self.session = session
        self.probe = session.probe
        self.input = session.input
        if session.tool_windows():
            raise AssertionError("a Kavrelo window is already open")
        if park:
            # Away from where the window opens, so that Label2 shows a
            # window that is not the tool's.
            self.input.move(*PARKED)
        self.proc = session.start(program(exe), env=env)

        def window():
            if self.proc.poll() is not None:
                raise AssertionError("Kavrelo ended early with exit code %r" % self.proc.returncode)
            found = [w for w in session.tool_windows() if w["visible"]]
            return found[0] if found else None
        first = poll(window, what="the Kavrelo window", timeout=max(DEADLINE, 30))
        self.hwnd, self.pid = first["hwnd"], first["pid"]
        self.bar = Bar(self)
        log("Kavrelo window", self.hwnd)

    # What the tool shows.
    def info(self):
        return self.probe.info(self.hwnd)

    def child(self, name, info=None):
        return child(info or self.info(), ID[name])

    def text(self, name):
        return self.child(name)["text"]

    def wait_text(self, name, expected, timeout=DEADLINE):
        """Waits until the control shows the text; returns it as the probe saw it."""
        def check():
            c = self.child(name)
            return c if c["text"] == expected else False
        try:
            return poll(check, timeout=timeout, what="%s to show %r" % (name, expected))
        except Timeout:
            raise Timeout("%s shows %r, expected %r" % (name, self.text(name), expected))

    def state(self):
        """The window in one look: texts by control id, the bar's value, the
        text box's length, the window's size, whether it answers."""
        s = self.probe.call("state", self.hwnd)
        if "error" in s:
            raise AssertionError("probe state: %r" % s)
        return s

    def value(self):
        return self.state()["bar"]

    def windows(self):
        """How many windows the tool's thread has, top-level and children."""
        w = self.probe.call("thread-windows", self.hwnd)
        return w["top"] + w["children"]

    def running(self):
        return self.proc.poll() is None

    def quiet(self):
        """Running, with no message box of its own."""
        return self.running() and not self.probe.boxes(self.pid)

    # Where to point.
    def empty_point(self):
        """A screen point of the client area over none of the controls."""
        info = self.info()
        rects = [c["rect"] for c in info["children"]]
        w, h = info["client"]["width"], info["client"]["height"]
        for y in range(h - 3, 2, -2):
            for x in range(w - 3, 2, -7):
                if all(not (r["left"] - 2 <= x < r["right"] + 2 and r["top"] - 2 <= y < r["bottom"] + 2)
                       for r in rects):
                    return client_point(info, x, y)
        raise AssertionError("no empty point in the client area")

    def point_at(self, x, y, timeout=DEADLINE):
        """Rests the pointer at (x, y) and waits until Label2 shows the window
        there, as another process's WindowFromPoint sees it; returns it."""
        self.input.move(x, y)
        seen = self.probe.at(x, y)["hwnd"]
        self.wait_text("Label2", handle_text(seen), timeout=timeout)
        return seen

    def hold_f1_until_captured(self, hwnd, timeout=DEADLINE):
        """Holds F1 until Label3 shows hwnd's handle text, then lets it go;
        returns Label3 as the probe saw it."""
        self.input.keydown("F1")
        try:
            return self.wait_text("Label3", handle_text(hwnd), timeout=timeout)
        finally:
            self.input.keyup("F1")

    def capture_at(self, x, y, expect=None):
        """Rests the pointer at (x, y), waits until Label2 shows the window
        there and holds F1 until it is the target; returns its handle.  With
        expect, that window must be the one there."""
        seen = self.point_at(x, y)
        if expect is not None and seen != expect:
            self.session.screenshot("capture-failed")
            raise AssertionError("the window at %d,%d is %d, not %d" % (x, y, seen, expect))
        self.hold_f1_until_captured(seen)
        return seen

    def capture(self, hwnd, dx=None, dy=None):
        """Captures a window by a point of its client area (dx, dy from its
        origin; two thirds of the way in by default)."""
        return self.capture_at(*self.session.point_in(hwnd, dx, dy), expect=hwnd)

    # Bringing it to the front.
    def activate(self, x=None, y=None):
        """Makes the tool the foreground window as a user would, by a click
        on it (on an empty point of the client area by default); the X focus
        goes with it as a window manager would give it."""
        self.input.click(*((x, y) if x is not None else self.empty_point()))
        poll(lambda: self.probe.foreground() == self.hwnd, what="the tool in front")
        self.session.x_focus(self)

    def focus_bar(self):
        """The tool in front with the keyboard on the bar: a click on the
        thumb, which moves nothing."""
        before = self.value()
        self.activate(*self.bar.point("thumb"))
        bar = self.child("HScroll1")["hwnd"]
        poll(lambda: self.info()["focus"] == bar, what="the focus on the bar")
        if self.value() != before:
            raise AssertionError("a click on the thumb moved the bar from %d to %d" % (before, self.value()))

    def settled(self, value=None, target=None, timeout=DEADLINE):
        """Waits until Label1 and the bar agree (on value, when given) and the
        target (when given and still there) is layered with the alpha
        255 - value; returns the value."""
        def check():
            s = self.state()
            if s["texts"].get(str(ID["Label1"])) != str(s["bar"]) or value not in (None, s["bar"]):
                return False
            if target is not None:
                l = self.probe.layered(target)
                if l["exists"] and not (l["exstyle"] & WS_EX_LAYERED and l["layered"] and
                                        l["layered"]["alpha"] == 255 - s["bar"]):
                    return False
            return ("value", s["bar"])
        try:
            return poll(check, timeout=timeout, what="the bar's value applied")[1]
        except Timeout:
            s = self.state()
            raise AssertionError("Label1 %r, bar %r, expected %r; target %r: %r" % (
                s["texts"].get(str(ID["Label1"])), s["bar"], value, target,
                self.probe.layered(target) if target else None))

    def close(self):
        self.session.end(self.proc)


class Bar:
    """The tool's scroll bar on the screen, from the live control: its
    rectangle, arrows and thumb as GetScrollBarInfo reports them."""

    def __init__(self, tool):
        self.tool = tool
        self.hwnd = tool.child("HScroll1")["hwnd"]

    def geometry(self):
        g = self.tool.probe.call("scrollbar", self.hwnd)
        if "error" in g:
            raise AssertionError("scroll bar geometry: %r" % g)
        return g

    def point(self, part, g=None):
        """The screen point of a part: "left_arrow", "right_arrow", "thumb",
        "trough_left" and "trough_right" (the trough between the thumb and an
        arrow, halfway)."""
        g = g or self.geometry()
        r, arrow, thumb = g["rect"], g["arrow"], g["thumb"]
        y = (r["top"] + r["bottom"]) // 2
        x = {"left_arrow": r["left"] + arrow // 2,
             "right_arrow": r["right"] - 1 - arrow // 2,
             "thumb": (thumb["left"] + thumb["right"]) // 2,
             "trough_left": (r["left"] + arrow + thumb["left"]) // 2,
             "trough_right": (thumb["right"] + r["right"] - arrow) // 2}[part]
        return x, y

    @staticmethod
    def _track(g):
        """Where the thumb's middle lies at the minimum, and how far it
        travels to the maximum."""
        r, arrow, thumb = g["rect"], g["arrow"], g["thumb"]
        width = thumb["right"] - thumb["left"]
        return r["left"] + arrow + width // 2, r["width"] - 2 * arrow - width

    def thumb_x(self, value, g=None):
        """Where the thumb's middle lies when the bar is at value."""
        g = g or self.geometry()
        start, track = self._track(g)
        return start + round((value - g["min"]) * track / (g["max"] - g["min"]))

    def value_at(self, x, g=None):
        """The value whose thumb lies at x: thumb_x's inverse, within range."""
        g = g or self.geometry()
        start, track = self._track(g)
        value = g["min"] + round((x - start) * (g["max"] - g["min"]) / track)
        return max(g["min"], min(g["max"], value))

    def click(self, part, count=1):
        self.tool.input.click(*self.point(part), count=count)

    def drag(self, to_x, steps=5, while_held=None):
        """Drags the thumb to x in steps, as a hand would; while_held (when
        given) runs with the button still down, before the release."""
        sx, y = self.point("thumb")
        inp = self.tool.input
        inp.move(sx, y)
        inp.press()
        try:
            for step in range(1, steps + 1):
                inp.move(sx + step * (to_x - sx) // steps, y)
            if while_held:
                while_held()
        finally:
            inp.release()


# --- a session -------------------------------------------------------------------

# The Windows versions the tests run under, and what RtlGetVersion then
# reports (major, minor).
WINDOWS_VERSIONS = {"winxp": (5, 1), "win7": (6, 1), "win10": (10, 0)}
# The stand-in for SimSun (see Session.prepare).
SIMSUN = "WenQuanYi Micro Hei"


class Session:
    """One private display, one Wine prefix and everything started in them.

        with Session() as s:
            tool = s.tool()
            ...

    Closing ends every program started here (the last first), the probe,
    the prefix's Wine server and the display."""

    def __init__(self, prefix=None, dpi=96, windows_version=None):
        self.prefix = prefix or os.environ.get("KAVRELO_WINEPREFIX") or os.path.join(
            REPO, "build", "wineprefix-driver-" + arch())
        self.windows_version = windows_version or os.environ.get("KAVRELO_WINE_VERSION") or None
        if self.windows_version not in (None,) + tuple(WINDOWS_VERSIONS):
            raise AssertionError("unknown Windows version %r" % self.windows_version)
        self.dpi = dpi
        self.live = []
        self.display = self.x = self.input = self.probe = None
        self.env = dict(os.environ, KAVRELO_WINEPREFIX=self.prefix, KAVRELO_WINE_ARCH=arch())
        self.env.setdefault("WINEDEBUG", "-all")

    def __enter__(self):
        try:
            self.open()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()

    def open(self):
        self.display = Xvfb()
        self.env["DISPLAY"] = self.display.name
        self.x = xwin.Display(self.display.name)
        self.input = Input(self.x)
        self.restart(self.dpi)

    def restart(self, dpi):
        """Ends every program and the prefix's server, sets the prefix up for
        dpi and starts the probe afresh."""
        self.end_all()
        stop_wine(self.prefix)  # also one left bound to an earlier display
        self.dpi = dpi
        self.prepare()
        self.probe = Probe(self)
        seen = self.probe.call("version")
        if self.windows_version:
            rtl = seen.get("rtlGetVersion") or {}
            if (rtl.get("major"), rtl.get("minor")) != WINDOWS_VERSIONS[self.windows_version]:
                raise AssertionError("the prefix was set to %s, but Wine reports %r" % (self.windows_version, seen))
        self.version = seen
        self.input.move(*PARKED)

    def prepare(self):
        """Settings of the prefix, written when they change.

        Managed=N: there is no window manager on the display, and Wine then
        waits 2 s for every managed window it hides or destroys to be
        withdrawn by one; unmanaged windows go at once.
        Version: the Windows version that Wine reports in this prefix.
        LogPixels: the DPI Wine tells every program started afterwards
        (GetDeviceCaps of the screen), as Windows XP to 7 do.
        SimSun, the font the tool asks for: Windows has it on every locale,
        Wine none; its stand-in under en_US.UTF-8 has no Latin letters.  The
        prefix names WenQuanYi Micro Hei (fonts-wqy-microhei) as SimSun."""
        settings = [(r"HKCU\Software\Wine\X11 Driver", "Managed", "N", "REG_SZ"),
                    (r"HKCU\Software\Wine\Fonts\Replacements", "SimSun", SIMSUN, "REG_SZ"),
                    (r"HKCU\Control Panel\Desktop", "LogPixels", self.dpi, "REG_DWORD")]
        if self.windows_version:
            settings.append((r"HKCU\Software\Wine", "Version", self.windows_version, "REG_SZ"))
        marker = os.path.join(self.prefix, ".kavrelo-settings")
        wanted = json.dumps(settings)
        try:
            with open(marker) as f:
                if f.read() == wanted:
                    return
        except OSError:
            pass
        for key, name, value, kind in settings:
            r = subprocess.run([WINE_RUN, "reg", "add", key, "/v", name, "/t", kind, "/d", str(value), "/f"],
                               env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, timeout=120)
            if r.returncode != 0:
                raise AssertionError("could not set up the Wine prefix (reg add %s %s)" % (key, name))
        stop_wine(self.prefix)  # writes the registry out
        with open(marker, "w") as f:
            f.write(wanted)

    def close(self):
        self.end_all()
        self.probe = None
        stop_wine(self.prefix)
        if self.x is not None:
            self.x.close()
            self.x = None
        if self.display is not None:
            self.display.close()
            self.display = None

    # Programs.
    def start(self, exe, *args, env=None, **kw):
        """Starts a Windows program under scripts/wine-run (which execs Wine:
        the process is the program); ended at the latest with the session."""
        kw.setdefault("stdin", subprocess.DEVNULL)
        proc = procs.start([WINE_RUN, exe] + [str(a) for a in args], env=dict(self.env, **(env or {})), **kw)
        self.live.append(proc)
        log("started", os.path.basename(exe), *args, "pid", proc.pid)
        return proc

    def start_native(self, *argv):
        """Starts a Linux program on the display (xcompmgr, say)."""
        proc = procs.start(list(argv), env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.live.append(proc)
        return proc

    def end(self, proc):
        if proc in self.live:
            self.live.remove(proc)
        procs.end(proc)

    def end_since(self, before):
        """Ends the programs started since `before` (a set of live ones),
        the probe aside."""
        for proc in [p for p in self.live if p not in before and p is not getattr(self.probe, "proc", None)]:
            self.end(proc)

    def end_all(self):
        if self.probe is not None:
            probe, self.probe = self.probe, None
            probe.close()
        while self.live:
            self.end(self.live[-1])

    def wait_exit(self, proc, timeout=DEADLINE):
        """Waits for a program to end; returns its exit code or fails."""
        try:
            code = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Timeout("process %d did not end within %.1f s" % (proc.pid, timeout))
        self.end(proc)
        return code

    def tool(self, exe="Kavrelo.exe", env=None, park=True):
        return Tool(self, exe, env, park)

    def target(self, caption, at):
        return Target(self, caption, at)

    def hang_target(self, caption, at):
        return HangTarget(self, caption, at)

    def notepad(self, at):
        return Notepad(self, at)

    def tool_windows(self):
        """Top-level windows captioned "Kavrelo" that are not message boxes."""
        return [w for w in self.probe.find(title=CAPTION) if w["class"] != DIALOG_CLASS]

    # Looking.
    def point_in(self, hwnd, dx=None, dy=None):
        """A screen point of a window's client area (two thirds of the way in
        by default)."""
        c = self.probe.info(hwnd)["client"]
        return (c["x"] + (c["width"] * 2 // 3 if dx is None else dx),
                c["y"] + (c["height"] * 2 // 3 if dy is None else dy))

    def wait_foreground(self, hwnd, what="the window in front"):
        poll(lambda: self.probe.foreground() == hwnd, what=what)

    def screenshot(self, name):
        from PIL import ImageGrab
        path = os.path.join(out_dir(), name + ".png")
        ImageGrab.grab(xdisplay=self.display.name).save(path)
        log("screenshot", path)
        return path

    def xid(self, info, proc):
        """The X window of a top-level window of a program started here: of
        the X windows of its process group (by _NET_WM_PID, which Wine sets
        to the Windows program's process id; "wine notepad" runs notepad.exe
        in another process of the group) the one with the window's name that
        lies nearest to it."""
        origins = [(info["client"]["x"], info["client"]["y"]), (info["window"]["left"], info["window"]["top"])]
        best = None
        for pid in [proc.pid] + [p for p in procsample.group(proc.pid) if p != proc.pid]:
            for xid in self.x.windows_of(pid):
                g = self.x.geometry(xid)
                if self.x.name(xid) != info["caption"] or g is None:
                    continue
                distance = min(abs(g["x"] - ox) + abs(g["y"] - oy) for ox, oy in origins)
                if best is None or distance < best[0]:
                    best = (distance, xid)
        return best[1] if best else None

    def x_focus(self, tool):
        """Gives a program's X window the keyboard focus, as a window manager
        does on a click: without one, X keeps the keyboard on the window Wine
        last gave it to (a program started later)."""
        xid = self.xid(tool.info(), tool.proc)
        if xid is None:
            raise AssertionError("no X window for window %d" % tool.hwnd)
        if self.x.focus() != xid:
            self.x.window(xid).set_input_focus(Xlib.X.RevertToParent, Xlib.X.CurrentTime)
            self.x.d.sync()
            poll(lambda: self.x.focus() == xid, what="X focus on window %d" % xid)


def stop_wine(prefix):
    """Ends a prefix's Wine server, and every program and service of the
    prefix with it (scripts/wine-stop)."""
    procs.stop_wine(prefix)

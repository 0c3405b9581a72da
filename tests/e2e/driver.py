"""Drives Kavrelo.exe under Wine on scripts/with-xvfb's display as a user
would (XTEST pointer and keys) and reads windows back from another process,
probe.exe (probe.cpp lists its commands). A Session owns the prefix's server
and every program it starts, and ends them by process id. Of the program only
its caption is restated: the control ids come from app/form1_layout.h.
Environment (CTest sets it): KAVRELO_BIN (Kavrelo.exe and probe.exe; default
build/PRESET/bin), KAVRELO_WINEPREFIX (default build/wineprefix-ARCH) and
KAVRELO_E2E_OUT (screenshots; default build/e2e-output)."""

import json
import os
import re
import signal
import subprocess
import time

import Xlib.X
import Xlib.XK
import Xlib.display
import Xlib.ext.xtest
from PIL import ImageGrab

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPTS = os.path.join(REPO, "scripts")
DEADLINE = 20.0       # for what takes a fraction of a second on an idle machine
PARKED = (1270, 790)  # a corner of with-xvfb's screen where only the desktop lies
CAPTION = "Kavrelo"   # the tool window's caption
WS_EX_LAYERED = 0x80000
LWA_ALPHA = 2
LWA_COLORKEY = 1
WM_CLOSE = 0x10

with open(os.path.join(REPO, "app", "form1_layout.h"), encoding="utf-8") as _f:
    ID = {m[1]: int(m[2]) for m in re.finditer(r"\bkId(\w+)\s*=\s*(\d+)", _f.read())}


def poll(fn, what, timeout=DEADLINE, interval=0.05):
    """fn's first true answer; fails with the last one at the deadline."""
    deadline = time.monotonic() + timeout
    while True:
        last = fn()
        if last:
            return last
        if time.monotonic() > deadline:
            raise AssertionError("waited %.0f s for %s; last seen: %r" % (timeout, what, last))
        time.sleep(interval)


def stays(fn, seconds, what):
    """Checks that fn() stays true for that long."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        assert fn(), "%s stopped holding" % what
        time.sleep(0.05)


def alpha_of(value):
    """The layered attributes [key, alpha, flags] the bar at value gives."""
    return [0, 255 - value, LWA_ALPHA]


def program(name):
    bin_dir = os.environ.get("KAVRELO_BIN") or os.path.join(REPO, "build", subprocess.run(
        ["bash", os.path.join(SCRIPTS, "wine-arch"), "--preset"], capture_output=True, text=True,
        check=True).stdout.strip(), "bin")
    path = os.path.join(bin_dir, name)
    assert os.path.exists(path), "%s is not built" % path
    return path


class Session:
    """The prefix's Wine server and every program started here."""

    def __init__(self):
        self.procs = []
        self.prefix = os.environ.get("KAVRELO_WINEPREFIX")
        self.out = os.environ.get("KAVRELO_E2E_OUT") or os.path.join(REPO, "build", "e2e-output")
        os.makedirs(self.out, exist_ok=True)
        self.x = None
        try:
            self._open()
        except BaseException:
            self.close()
            raise

    def _open(self):
        self.display = os.environ.get("DISPLAY")
        assert self.display, "no display: run under scripts/with-xvfb"
        self.x = Xlib.display.Display(self.display)
        self.env = dict(os.environ)
        if self.prefix:
            self.env["KAVRELO_WINEPREFIX"] = self.prefix
        self.stop_wine()  # a server of an earlier run keeps the display it met first
        out = subprocess.run([os.path.join(SCRIPTS, "wine-run"), "--env"], env=self.env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, text=True, check=True, timeout=300).stdout
        self.env.update(line.split("=", 1) for line in out.splitlines() if "=" in line)
        self.prefix = self.env["WINEPREFIX"]
        self.probe = Probe(self)
        self.move(*PARKED)

    def close(self):
        for proc in reversed(self.procs):
            self.end(proc)
        self.stop_wine()
        if self.x:
            self.x.close()

    def stop_wine(self):
        if self.prefix:
            subprocess.run(["bash", os.path.join(SCRIPTS, "wine-stop"), self.prefix], stdin=subprocess.DEVNULL,
                           timeout=120)

    # Programs: each in a process group of its own, ended by its id.
    def start(self, *argv, **kw):
        kw.setdefault("stdin", subprocess.DEVNULL)
        kw.setdefault("stdout", subprocess.DEVNULL)
        proc = subprocess.Popen([str(a) for a in argv], env=self.env, start_new_session=True, **kw)
        self.procs.append(proc)
        return proc

    def wine(self, *args, **kw):
        """A Windows program: the process is the program (Wine's loader execs)."""
        return self.start(self.env["WINE"], *args, **kw)

    def end(self, proc):
        if proc.poll() is None:
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            proc.wait(30)
        for pipe in (proc.stdin, proc.stdout):
            if pipe:
                pipe.close()
        if proc in self.procs:
            self.procs.remove(proc)

    def target(self, caption, x, y):
        return self.probe("target", caption, x, y)

    def notepad(self, x, y):
        before = set(self.probe("find", "Notepad")["windows"])
        self.wine("notepad")
        hwnd = poll(lambda: set(self.probe("find", "Notepad")["windows"]) - before, "notepad", 60).pop()
        assert self.probe("move", hwnd, x, y)["ok"]
        poll(lambda: self.probe("info", hwnd)["x"] > x, "notepad moved")
        return hwnd

    # Input through XTEST, as a device's.
    def _fake(self, kind, detail=0, **kw):
        Xlib.ext.xtest.fake_input(self.x, kind, detail, **kw)
        self.x.sync()

    def warp(self, x, y):
        self._fake(Xlib.X.MotionNotify, x=int(x), y=int(y))

    def move(self, x, y):
        self.warp(x, y)
        pointer = lambda: (lambda p: (p.root_x, p.root_y))(self.x.screen().root.query_pointer())  # noqa: E731
        poll(lambda: pointer() == (int(x), int(y)), "the pointer at %d,%d" % (x, y))

    def click(self, x, y):
        self.move(x, y)
        self._fake(Xlib.X.ButtonPress, 1)
        self._fake(Xlib.X.ButtonRelease, 1)

    def give_keyboard(self, caption):
        """Gives the X keyboard focus to the one viewable top-level X window
        with that caption (Wine names its windows so), as a window manager
        does for the window clicked. XTEST keys go to the window with the X
        focus. Without a window manager Wine moves that focus itself, and
        Wine 10 can leave it on another program's window after a click has
        made the tool Wine's foreground window (seen with the tool layered,
        after it was its own target): the keys then go to that program.
        (Wine 8 passed every key on to its foreground window.)"""
        def window():
            found = [child for child in self.x.screen().root.query_tree().children
                     if child.get_wm_name() == caption and child.get_attributes().map_state == Xlib.X.IsViewable]
            return found[0] if len(found) == 1 else None

        target = poll(window, "one X window named %r" % caption)
        self.x.set_input_focus(target, Xlib.X.RevertToPointerRoot, Xlib.X.CurrentTime)
        self.x.sync()
        poll(lambda: self.x.get_input_focus().focus == target, "the X keyboard focus on %r" % caption)

    def key(self, name, down=None):
        """Presses and releases a key (an X keysym: "F1"), or only one of both."""
        code = self.x.keysym_to_keycode(Xlib.XK.string_to_keysym(name))
        assert code, "no key %r" % name
        if down in (None, True):
            self._fake(Xlib.X.KeyPress, code)
        if down in (None, False):
            self._fake(Xlib.X.KeyRelease, code)

    def center(self, rect):
        return rect["x"] + rect["w"] // 2, rect["y"] + rect["h"] // 2

    def screenshot(self, name):
        path = os.path.join(self.out, name + ".png")
        ImageGrab.grab(xdisplay=self.display).save(path)
        return path


class Probe:
    """probe.exe: one command a line, one JSON answer a line."""

    def __init__(self, session):
        self.proc = session.wine(program("probe.exe"), stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        assert self.answer() == {"ready": True}

    def answer(self):
        line = self.proc.stdout.readline()
        assert line, "the probe ended (exit code %r)" % self.proc.poll()
        return json.loads(line)

    def send(self, *words):
        self.proc.stdin.write((" ".join(str(w) for w in words) + "\n").encode())
        self.proc.stdin.flush()

    def __call__(self, *words):
        self.send(*words)
        answer = self.answer()
        assert "error" not in answer, answer
        return answer


class Tool:
    """A running Kavrelo.exe, started by the Wine arguments given, and its window."""

    def __init__(self, session, *wine_args):
        self.s, self.probe = session, session.probe
        before = set(self.probe("find", CAPTION)["windows"])
        self.proc = session.wine(*(wine_args or (program("Kavrelo.exe"),)))
        self.hwnd = poll(lambda: set(self.probe("find", CAPTION)["windows"]) - before, "the tool window", 60).pop()
        self.pid = self.info()["pid"]  # the Windows process id, for its message boxes

    def info(self):
        return self.probe("info", self.hwnd)

    def child(self, name, info=None):
        return [c for c in (info or self.info())["children"] if c["id"] == ID[name]][0]

    def text(self, name):
        return self.child(name)["text"]

    def wait_text(self, name, text, timeout=DEADLINE):
        poll(lambda: self.text(name) == text, "%s to show %r (it shows %r)" % (name, text, self.text(name)), timeout)

    def empty_point(self):
        """A screen point of the client area over none of the controls."""
        info = self.info()
        rects = [c for c in info["children"]]
        for y in range(info["h"] - 3, 0, -3):
            for x in range(info["w"] - 3, 0, -5):
                sx, sy = info["x"] + x, info["y"] + y
                if all(not (r["x"] - 2 <= sx < r["x"] + r["w"] + 2 and r["y"] - 2 <= sy < r["y"] + r["h"] + 2)
                       for r in rects):
                    return sx, sy
        raise AssertionError("no empty point in the tool window")

    def point_at(self, x, y):
        """Rests the pointer there until Label2 shows the window another
        process finds there; returns it."""
        self.s.move(x, y)
        seen = self.probe("at", x, y)["hwnd"]
        self.wait_text("Label2", str(seen))
        return seen

    def capture(self, x, y):
        """Points at (x, y) and holds F1 until Label3 shows the window there."""
        seen = self.point_at(x, y)
        self.s.key("F1", down=True)
        try:
            self.wait_text("Label3", str(seen))
        finally:
            self.s.key("F1", down=False)
        return seen

    def activate(self):
        """The tool in front with the keyboard on the bar (where its focus
        starts and comes back to), by a click on an empty point."""
        self.s.click(*self.empty_point())
        self.s.give_keyboard(CAPTION)
        bar = self.child("HScroll1")["hwnd"]
        poll(lambda: self.probe("foreground")["hwnd"] == self.hwnd, "the tool in front")
        poll(lambda: self.info()["focus"] == bar, "the focus on the bar")

    def press(self, key, value, target=None):
        """Presses a key on the bar; waits until Label1 shows value and the
        target (when given) has the alpha 255 - value."""
        self.s.key(key)
        self.wait_text("Label1", str(value))
        if target is not None:
            self.wait_alpha(target, value)

    def wait_alpha(self, target, value):
        def applied():
            info = self.probe("info", target)
            return info["exstyle"] & WS_EX_LAYERED and info["layered"] == alpha_of(value)
        poll(applied, "the alpha of %d on %d (it has %r)" % (255 - value, target, self.probe("info", target)))

    def alive(self):
        """Running, and no message box of its own."""
        return self.proc.poll() is None and self.probe("boxes", self.pid)["count"] == 0

    def close(self):
        """WM_CLOSE; returns the exit code."""
        assert self.probe("post", self.hwnd, WM_CLOSE, 0, 0)["ok"]
        code = self.proc.wait(DEADLINE)
        self.s.end(self.proc)
        return code

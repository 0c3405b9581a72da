"""Shared pieces of the reliability tests, on top of the end-to-end harness
(tests/e2e/harness.py): the probe's client with what these tests read, the
hang target, the Wine server of the suite's prefix, and the scroll bar's parts
on screen.  Readings
of a process's memory and objects come from procsample (scripts/pylib), which
the benchmarks use too.

Run through CTest, the environment names the programs and the Wine prefix.
Run by hand (soak.py), defaults() fills in the build tree's programs and a
prefix of the suite's own under build/.
"""

import os
import statistics
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "e2e"))

import harness as h  # noqa: E402
import procsample  # noqa: E402  (on the path the harness sets)

NO_TARGET = "未设置窗口"

# Windows the system may give the tool's thread after it has opened (an input
# method window when it first takes keys, say): no leak.
WINDOWS_ALLOWED = 3

# The bar (HScroll1) in the tool's client area: 8,32, 401 x 17.  Its arrows
# are as wide as it is high.
BAR_X, BAR_Y, BAR_W, BAR_H = 8, 32, 401, 17
ARROW = BAR_H


def defaults():
    """Fills in the environment for a run outside CTest."""
    bin_dir = h.windows_bin_dir()
    for name, value in (("KAVRELO_EXE", os.path.join(bin_dir, "Kavrelo.exe")),
                        ("KAVRELO_PROBE", os.path.join(bin_dir, "probe.exe")),
                        ("KAVRELO_TARGET", os.path.join(bin_dir, "target.exe")),
                        ("KAVRELO_HANG_TARGET", os.path.join(bin_dir, "hang_target.exe")),
                        ("KAVRELO_WINE_RUN", os.path.join(REPO, "scripts", "wine-run")),
                        ("KAVRELO_WINEPREFIX", os.path.join(REPO, "build", "wineprefix-soak-" + h.wine_arch())),
                        ("KAVRELO_E2E_OUT", os.path.join(REPO, "build", "soak-output"))):
        os.environ.setdefault(name, value)


class Helper(h.Probe):
    """probe.exe in serve mode, with what the reliability tests read."""

    def state(self, hwnd):
        s = self.call("state", hwnd)
        if "error" in s:
            raise AssertionError("probe state: %r" % s)
        return s

    def layered(self, hwnd):
        return self.call("layered", hwnd)

    def boxes(self, win_pid):
        return self.call("boxes", win_pid)["boxes"]


class HangTarget(h.LineProgram):
    """A running hang_target.exe: a window whose thread stops pumping
    messages on "hang" and goes on after "release"."""

    what = "hang_target"

    def __init__(self, caption="KavreloHangTarget", x=None, y=None):
        args = [caption]
        if x is not None:
            args += ["--pos", x, y]
        super().__init__(h.env_path("KAVRELO_HANG_TARGET"), *args, first_timeout=max(h.DEADLINE, 30))
        self.hwnd, self.button, self.pid = self.first["hwnd"], self.first["button"], self.first["pid"]

    def _expect(self, command, key):
        self.send(command)
        answer = self._answer(h.DEADLINE)
        if not answer.get(key):
            raise AssertionError("hang_target: %r" % answer)

    def hang(self):
        self._expect("hang", "hung")

    def release(self):
        self._expect("release", "released")


# --- readings of a process from outside -------------------------------------

def wineserver_pid():
    """The wineserver of the suite's prefix: the one whose working folder is
    the server folder Wine derives from the prefix's device and inode."""
    return procsample.find_wineserver(os.environ.get("KAVRELO_WINEPREFIX"))


def median(values):
    return statistics.median(values) if values else None


# --- the bar on screen -------------------------------------------------------

def bar_points(client_x, client_y):
    """Screen points of the bar's parts, from the tool's client origin."""
    x0, y = client_x + BAR_X, client_y + BAR_Y + BAR_H // 2
    return {
        "left_arrow": (x0 + ARROW // 2, y),
        "right_arrow": (x0 + BAR_W - ARROW // 2 - 1, y),
        "trough_left": (x0 + ARROW + 4, y),
        "trough_right": (x0 + BAR_W - ARROW - 5, y),
        "y": y,
        "x0": x0,
    }


def thumb_x(client_x, value, thumb=ARROW):
    """Where the thumb's middle is for a value (the trough lies between the
    arrows; the thumb is as wide as an arrow)."""
    trough = BAR_W - 2 * ARROW
    return client_x + BAR_X + ARROW + thumb // 2 + round(value * (trough - thumb) / 255)


def thumb_value(client_x, x, thumb=ARROW):
    """The value of a thumb whose middle is at x: thumb_x's inverse, within
    the bar's range."""
    trough = BAR_W - 2 * ARROW
    value = round((x - (client_x + BAR_X + ARROW + thumb // 2)) * 255 / (trough - thumb))
    return max(0, min(255, value))


# --- a test case around one running tool ---------------------------------------

class ToolCase(h.WineTestCase):
    """A tool window and a target.exe, started once for a class; the probe
    with the reliability tests' readings (self.helper, also self.probe)."""

    TARGET_AT = (480, 40)
    probe_type = Helper

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.helper = cls.probe
        h.mousemove(1270, 790)
        cls.target = h.Target("RelTarget", *cls.TARGET_AT)
        cls.addClassCleanup(cls.target.stop)
        cls.tool = h.Tool(cls.probe)
        cls.addClassCleanup(cls.tool.stop)
        info = cls.tool.info()
        cls.win_pid = info["pid"]
        cls.client = (info["client"]["x"], info["client"]["y"])
        cls.bar = bar_points(*cls.client)
        cls.tool_xid = h.xid_for(info, cls.tool.proc.pid)
        cls.tool_size = (info["window"]["width"], info["window"]["height"])
        cls.windows_at_start = cls.thread_windows()

    @classmethod
    def thread_windows(cls):
        """How many windows the tool's thread has, top-level and children."""
        w = cls.helper.call("thread-windows", cls.tool.hwnd)
        return w["top"] + w["children"]

    # The tool as seen from outside.
    def state(self):
        return self.helper.state(self.tool.hwnd)

    def assert_alive(self):
        """The process runs, shows no message box and still ticks: Label2
        follows the pointer to a window and back; and it has no more windows
        than when it opened, but for a few the system may add once (a window
        left behind on every tick, ten a second, shows here at once)."""
        self.assertIsNone(self.tool.proc.poll(), "Kavrelo ended")
        self.assertEqual(self.helper.boxes(self.win_pid), [], "no message box")
        for x, y in (self.point_in(self.target.hwnd), self.tool.empty_point()):
            self.point_at(x, y)
        self.assertEqual(self.helper.boxes(self.win_pid), [], "no message box")
        self.assertLessEqual(self.thread_windows(), self.windows_at_start + WINDOWS_ALLOWED,
                             "the tool's windows grow")

    def point_in(self, hwnd, dx=None, dy=None):
        c = self.probe.info(hwnd)["client"]
        return (c["x"] + (c["width"] * 2 // 3 if dx is None else dx),
                c["y"] + (c["height"] * 2 // 3 if dy is None else dy))

    def point_at(self, x, y, timeout=h.DEADLINE):
        h.mousemove(x, y)
        seen = self.probe.from_point(x, y)["hwnd"]
        self.tool.wait_text(h.ID_LABEL2, h.handle_text(seen), timeout=timeout)
        return seen

    def capture_at(self, x, y):
        """Pointer there, F1 down until Label3 shows the window, F1 up."""
        seen = self.point_at(x, y)
        self.tool.capture_with_f1(seen)
        return seen

    def focus_tool(self):
        """A click on the tool (not on the bar) brings it to the front; the X
        focus goes with it as a window manager would give it."""
        h.click(*self.tool.empty_point())
        h.poll(lambda: self.probe.call("foreground")["hwnd"] == self.tool.hwnd, what="the tool in front")
        h.x_focus_window(self.tool_xid)

    def click_bar(self, part, n=1):
        h.mousemove(*self.bar[part])
        for _ in range(n):
            h.xdotool("click", 1)

    def settled(self, value=None, target=None, timeout=h.DEADLINE):
        """Waits until Label1 and the bar agree (on value, when given) and the
        target (when given and still there) has alpha 255 - value; returns
        the value."""
        def check():
            s = self.state()
            label = s["texts"].get(str(h.ID_LABEL1))
            if label != str(s["bar"]) or (value is not None and s["bar"] != value):
                return False
            if target is not None:
                l = self.helper.layered(target)
                if l["exists"] and not (l["layered"] and l["layered"]["alpha"] == 255 - s["bar"]):
                    return False
            return ("v", s["bar"])
        try:
            return h.poll(check, timeout=timeout, what="the bar's value applied")[1]
        except h.Timeout:
            s = self.state()
            raise AssertionError("Label1 %r, bar %r, expected %r; target %r: %r" % (
                s["texts"].get(str(h.ID_LABEL1)), s["bar"], value, target,
                self.helper.layered(target) if target else None))

    def value(self):
        return self.state()["bar"]

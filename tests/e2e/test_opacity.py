"""Opacity: moving the bar makes the captured window layered with the alpha
255 minus the bar's value, for windows of other processes (target.exe and a
Wine notepad) and for the tool window itself.  Every change is checked from
outside: the window's extended style and layered attributes as another
process reads them.  Also: nothing happens to other windows before a
capture, a thumb drag takes effect on release, a closed target raises
nothing, the focus comes back to its control when the tool is activated
again, and the tool made invisible by its own bar still follows the
pointer."""

import harness as h

TARGET_A_AT = (520, 40)
TARGET_B_AT = (40, 300)
TARGET_C_AT = (40, 540)
NOTEPAD_AT = (460, 330)
SMALL = (360, 200)

# The scroll bar's geometry in the tool's client area (see test_layout).
BAR_LEFT, BAR_TOP, BAR_WIDTH, BAR_HEIGHT = 8, 32, 401, 17
# Wine draws a horizontal bar's arrows and its thumb (no page size) as wide as
# the bar is high.
ARROW = BAR_HEIGHT
THUMB = BAR_HEIGHT
MAX = 255

HTCAPTION = 2
NOTEPAD_TEXT = "Kavrelo makes this window transparent."


def expected_layered(value):
    return {"key": 0, "alpha": 255 - value, "flags": h.LWA_ALPHA}


class Opacity(h.WineTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        h.mousemove(1270, 790)
        cls.target = h.Target("KavreloTargetA", *TARGET_A_AT)
        cls.addClassCleanup(cls.target.stop)
        cls.other = h.Target("KavreloTargetB", *TARGET_B_AT)
        cls.addClassCleanup(cls.other.stop)
        cls.notepad, cls.notepad_hwnd = h.start_notepad(cls.probe, NOTEPAD_AT)
        cls.addClassCleanup(h.stop, cls.notepad)
        cls.tool = h.Tool(cls.probe)
        cls.addClassCleanup(cls.tool.stop)
        cls.bar = cls.tool.child(h.ID_HSCROLL1)["hwnd"]
        cls.text1 = cls.tool.child(h.ID_TEXT1)["hwnd"]

    # --- helpers -----------------------------------------------------------

    def value(self):
        return self.tool.child(h.ID_HSCROLL1)["scroll"]["pos"]

    def bar_point(self, x):
        """Screen point at x pixels from the bar's left end, on its middle."""
        return self.tool.screen_point(BAR_LEFT + x, BAR_TOP + BAR_HEIGHT // 2)

    def thumb_x(self, value):
        """The thumb's middle, in pixels from the bar's left end."""
        track = BAR_WIDTH - 2 * ARROW - THUMB
        return ARROW + track * value // MAX + THUMB // 2

    def focus_bar(self):
        """Makes the tool the foreground window with the keyboard focus on
        the bar, as a user would: a click on the thumb (which moves nothing)."""
        before = self.value()
        h.click(*self.bar_point(self.thumb_x(before)))
        h.poll(lambda: self.probe.call("foreground")["hwnd"] == self.tool.hwnd and
               self.tool.info()["focus"] == self.bar, what="the tool in front with the focus on the bar")
        self.assertEqual(self.value(), before, "a click on the thumb moves nothing")

    def capture(self, hwnd, x, y):
        """Points at (x, y), which must be over hwnd, and holds F1 until Label3
        shows hwnd's handle."""
        h.mousemove(x, y)
        seen = self.probe.from_point(x, y)
        if seen["hwnd"] != hwnd:
            h.screenshot("opacity-capture-failed")
            self.fail("the window at %d,%d is %r (%r), not %d" % (x, y, seen, self.probe.info(seen["hwnd"])["caption"], hwnd))
        self.tool.wait_text(h.ID_LABEL2, h.handle_text(hwnd))
        self.tool.capture_with_f1(hwnd)

    def empty_client_point(self, hwnd, dx, dy):
        c = self.probe.info(hwnd)["client"]
        return c["x"] + dx, c["y"] + dy

    def capture_target(self, target):
        """Captures a target.exe top-level window by an empty part of its client."""
        self.capture(target.hwnd, *self.empty_client_point(target.hwnd, 300, 170))

    def capture_notepad(self):
        """Captures notepad's top-level window by its menu bar, just above
        its client area (the middle of the client is its edit child)."""
        c = self.probe.info(self.notepad_hwnd)["client"]
        self.capture(self.notepad_hwnd, c["x"] + 300, c["y"] - 5)

    def expect(self, value, hwnd=None):
        """Label1 shows value, the bar is at value, and hwnd (when given) is
        layered with the alpha 255 - value."""
        self.tool.wait_text(h.ID_LABEL1, str(value))
        self.assertEqual(self.value(), value)
        if hwnd is None:
            return
        want = expected_layered(value)

        def applied():
            info = self.probe.info(hwnd)
            return info if info["layered"] == want and info["exstyle"] & h.WS_EX_LAYERED else False
        try:
            h.poll(applied, what="alpha %d on %d" % (want["alpha"], hwnd))
        except h.Timeout:
            info = self.probe.info(hwnd)
            self.fail("after the bar went to %d, window %d has exstyle 0x%x, layered %r; expected %r"
                      % (value, hwnd, info["exstyle"], info["layered"], want))

    def untouched(self, hwnd):
        info = self.probe.info(hwnd)
        self.assertFalse(info["exstyle"] & h.WS_EX_LAYERED, "window %d (%s) got WS_EX_LAYERED"
                         % (hwnd, info["caption"]))
        self.assertIsNone(info["layered"])

    def press(self, keyname, value, hwnd=None):
        with self.subTest(key=keyname, value=value):
            h.key(keyname)
            self.expect(value, hwnd)

    # --- the tests, in the order of their names ----------------------------

    def test_01_a_change_before_any_capture_touches_no_window(self):
        self.assertEqual(self.tool.text(h.ID_LABEL3), "未设置窗口")
        self.focus_bar()
        self.press("Right", 1)
        self.press("Next", 11)
        self.press("End", 255)
        h.click(*self.bar_point(BAR_WIDTH - ARROW // 2))  # right arrow, at the end already
        self.press("Home", 0)
        self.assertEqual(self.tool.text(h.ID_LABEL3), "未设置窗口")
        for hwnd in (self.target.hwnd, self.other.hwnd, self.notepad_hwnd, self.tool.hwnd):
            self.untouched(hwnd)

    def test_02_target_window_by_arrows_trough_and_keys(self):
        t = self.target.hwnd
        self.focus_bar()
        self.capture_target(self.target)
        self.untouched(t)  # the capture alone changes nothing
        self.focus_bar()
        with self.subTest("right arrow: +1"):
            h.click(*self.bar_point(BAR_WIDTH - ARROW // 2))
            self.expect(1, t)
        with self.subTest("trough right of the thumb: +10"):
            h.click(*self.bar_point((self.thumb_x(1) + BAR_WIDTH - ARROW) // 2))
            self.expect(11, t)
        with self.subTest("left arrow: -1"):
            h.click(*self.bar_point(ARROW // 2))
            self.expect(10, t)
        self.press("Right", 11, t)
        self.press("Next", 21, t)
        self.press("Next", 31, t)
        self.press("Prior", 21, t)
        self.press("Left", 20, t)
        self.press("End", 255, t)
        self.assertEqual(self.probe.info(t)["layered"]["alpha"], 0, "fully transparent")
        with self.subTest("trough left of the thumb: -10"):
            h.click(*self.bar_point((ARROW + self.thumb_x(255)) // 2))
            self.expect(245, t)
        # Back to 0: opaque, and the layered style stays.
        self.press("Home", 0, t)
        info = self.probe.info(t)
        self.assertTrue(info["exstyle"] & h.WS_EX_LAYERED)
        self.assertEqual(info["layered"], expected_layered(0))
        # The target.exe window reads its own state back and shows it.
        self.assertTrue(self.probe.exists(t))
        self.untouched(self.other.hwnd)
        self.untouched(self.notepad_hwnd)

    def test_03_thumb_drag_takes_effect_on_release(self):
        t = self.target.hwnd
        self.focus_bar()
        self.press("Next", 10, t)
        start_x = self.thumb_x(10)
        sx, sy = self.bar_point(start_x)
        h.mousemove(sx, sy)
        h.xdotool("mousedown", 1)
        released = False
        try:
            # Drag to about 100, in steps, as a hand would.
            for step in range(1, 6):
                h.mousemove(sx + step * (self.thumb_x(100) - start_x) // 5, sy)
            track = h.poll(lambda: (lambda s: s["trackPos"] if s["trackPos"] != 10 else None)(
                self.tool.child(h.ID_HSCROLL1)["scroll"]), what="the thumb to follow the drag")
            h.log("tracking at", track)
            self.assertNear(track, 100, 3)

            # While the button is down: no change, neither in Label1 nor on
            # the target.
            def unchanged():
                return (self.tool.text(h.ID_LABEL1) == "10" and
                        self.probe.info(t)["layered"] == expected_layered(10))
            h.stays(unchanged, 1.0, what="Label1 and the alpha unchanged during the drag")
            h.xdotool("mouseup", 1)
            released = True
        finally:
            if not released:
                h.xdotool("mouseup", 1)
        self.expect(track, t)
        # The keyboard goes on from there.
        self.press("Right", track + 1, t)
        self.press("Home", 0, t)

    def test_04_notepad(self):
        n = self.notepad_hwnd
        # Type a line into notepad first, as a user would: click, then type.
        c = self.probe.info(n)["client"]
        h.click(c["x"] + 100, c["y"] + 60)
        h.poll(lambda: self.probe.call("foreground")["hwnd"] == n, what="notepad in front")
        h.type_text(NOTEPAD_TEXT)
        edit = [w for w in self.probe.info(n)["children"] if w["class"].lower() == "edit"][0]
        h.poll(lambda: self.probe.info(edit["hwnd"])["caption"] == NOTEPAD_TEXT, what="the text in notepad")

        # F1 goes to the foreground window (notepad would open its help):
        # bring the tool to the front before pointing at notepad.
        self.focus_bar()
        self.capture_notepad()
        self.press("Right", 1, n)
        self.press("Next", 11, n)
        self.press("End", 255, n)
        self.press("Left", 254, n)
        self.press("Prior", 244, n)
        self.press("Home", 0, n)
        info = self.probe.info(n)
        self.assertTrue(info["exstyle"] & h.WS_EX_LAYERED, "still layered at 0")
        # The previous target keeps what it was given last.
        self.assertEqual(self.probe.info(self.target.hwnd)["layered"], expected_layered(0))

    def test_05_recapture_applies_the_new_value(self):
        a, b = self.target.hwnd, self.other.hwnd
        self.focus_bar()
        self.capture_target(self.target)
        self.focus_bar()
        for _ in range(4):
            h.key("Next")
        self.expect(40, a)

        self.capture_target(self.other)
        self.untouched(b)
        self.press("Right", 41, b)
        self.assertEqual(self.probe.info(a)["layered"], expected_layered(40), "A keeps 40")
        # A value applied before, to another window, applies again.
        self.press("Left", 40, b)
        self.press("Left", 39, b)

        self.capture_target(self.target)
        self.assertEqual(self.probe.info(a)["layered"], expected_layered(40), "the capture alone changes nothing")
        self.press("Right", 40, a)  # the same value as A already had
        self.press("Right", 41, a)
        self.assertEqual(self.probe.info(b)["layered"], expected_layered(39), "B keeps 39")
        self.press("Home", 0, a)

    def test_06_closed_target_raises_nothing(self):
        gone = h.Target("KavreloTargetC", *TARGET_C_AT)
        self.addCleanup(gone.stop)
        self.focus_bar()
        self.capture_target(gone)
        self.press("Right", 1, gone.hwnd)
        self.assertTrue(self.probe.post(gone.hwnd, h.WM_CLOSE))
        h.wait_exit(gone.proc)
        h.poll(lambda: not self.probe.exists(gone.hwnd), what="the target window gone")
        self.assertEqual(self.tool.text(h.ID_LABEL3), h.handle_text(gone.hwnd))

        self.focus_bar()
        for keyname, value in (("Right", 2), ("Next", 12), ("End", 255), ("Prior", 245), ("Home", 0)):
            self.press(keyname, value)
        h.click(*self.bar_point(BAR_WIDTH - ARROW // 2))
        self.expect(1)

        def quiet():
            boxes = [w for w in self.probe.find(cls=h.DIALOG_CLASS)
                     if w["pid"] == self.tool.info()["pid"] or w["owner"] == self.tool.hwnd]
            return not boxes and self.tool.proc.poll() is None
        h.stays(quiet, 1.0, what="no message box and the tool running")
        self.assertTrue(self.probe.exists(self.tool.hwnd))
        self.press("Home", 0)

    def test_07_focus_comes_back_to_its_control(self):
        def activate_other():
            h.click(*self.empty_client_point(self.target.hwnd, 300, 170))
            h.poll(lambda: self.probe.call("foreground")["hwnd"] == self.target.hwnd,
                   what="target.exe in front")
            self.assertNotEqual(self.tool.info()["focus"], self.text1)

        def activate_tool_by_caption():
            w = self.tool.info()["window"]
            for y in range(w["top"] + 2, w["top"] + 30, 2):
                x = w["left"] + 150
                if self.probe.call("hit-test", self.tool.hwnd, x, y)["code"] == HTCAPTION:
                    h.click(x, y)
                    break
            else:
                self.fail("no caption on the tool window (%r)" % w)
            h.poll(lambda: self.probe.call("foreground")["hwnd"] == self.tool.hwnd, what="the tool in front")

        with self.subTest("the text box"):
            info = self.tool.info()
            h.click(*h.child_center(info, h.child(info, h.ID_TEXT1)))
            h.poll(lambda: self.tool.info()["focus"] == self.text1, what="the focus on Text1")
            activate_other()
            activate_tool_by_caption()
            h.poll(lambda: self.tool.info()["focus"] == self.text1, what="the focus back on Text1")
        with self.subTest("the scroll bar"):
            self.focus_bar()
            activate_other()
            activate_tool_by_caption()
            h.poll(lambda: self.tool.info()["focus"] == self.bar, what="the focus back on the bar")
            # And the keys go to it again.
            self.press("Right", 1)
            self.press("Home", 0)

    def test_08_the_tool_window_as_its_own_target(self):
        t = self.tool.hwnd
        self.focus_bar()
        self.capture(t, *self.tool.empty_point())
        self.press("End", 255, t)
        self.assertEqual(self.probe.info(t)["layered"]["alpha"], 0)
        h.stays(lambda: self.tool.proc.poll() is None and self.probe.exists(t), 0.5,
                what="the invisible tool window still open")
        self.assertEqual(self.probe.call("foreground")["hwnd"], t)
        # Invisible, it still ticks: Label2 follows the pointer to another
        # window and back.
        for x, y in (self.empty_client_point(self.target.hwnd, 300, 170), self.tool.empty_point()):
            h.mousemove(x, y)
            self.tool.wait_text(h.ID_LABEL2, h.handle_text(self.probe.from_point(x, y)["hwnd"]))
        self.assertEqual(self.tool.text(h.ID_LABEL2), h.handle_text(t))
        # The bar still has the keyboard: bring it back by keys.
        self.press("Left", 254, t)
        self.press("Left", 253, t)
        self.press("Home", 0, t)
        self.assertEqual(self.probe.info(t)["layered"]["alpha"], 255)
        self.assertTrue(self.probe.info(t)["visible"])


if __name__ == "__main__":
    h.main()

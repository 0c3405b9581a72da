"""Faults around the tool: targets that go away or stop answering, the desktop
and an open menu under the pointer, F1 pressed hundreds of times, a burst of
keys on the bar.  Each time, seen from outside: the process keeps running and
ticking (Label2 follows the pointer), no message box appears, Label1 and the
bar agree, and changes reach the captured window while it exists.  (A target
closed after a change, and the tool as its own target: tests/e2e/test_opacity.py.)"""

import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import rel  # noqa: E402

h = rel.h

NOTEPAD_AT = (480, 380)
HANG_AT = (20, 300)
WM_HSCROLL = 0x0114
SB_LINERIGHT = 1
MENU_CLASS = "#32768"
# How long the hung target is kept hung (longer by hand, to see whether the
# tool ever gives up waiting on it).
HANG_SECONDS = float(os.environ.get("KAVRELO_HANG_SECONDS", "2"))


def record(name, data):
    """Keeps a finding for the report (output folder, one JSON file)."""
    path = os.path.join(h.out_dir(), "findings.json")
    try:
        with open(path) as f:
            findings = json.load(f)
    except (OSError, ValueError):
        findings = {}
    findings[name] = data
    with open(path, "w") as f:
        json.dump(findings, f, indent=1)
    h.log("finding", name, data)


class Faults(rel.ToolCase):
    def test_destroyed_target(self):
        with self.subTest("destroyed between capture and change"):
            t = h.Target("Doomed", 480, 300)
            self.addCleanup(t.stop)
            self.focus_tool()
            captured = self.capture_at(*self.point_in(t.hwnd))
            self.assertEqual(captured, t.hwnd)
            self.assertTrue(self.probe.post(t.hwnd, h.WM_CLOSE))
            h.wait_exit(t.proc)
            h.poll(lambda: not self.probe.exists(t.hwnd), what="the target gone")
            v = self.value()
            self.click_bar("right_arrow", 3)
            self.settled(min(255, v + 3))
            self.assertEqual(self.tool.text(h.ID_LABEL3), h.handle_text(t.hwnd), "the capture stays")
            self.assert_alive()

        with self.subTest("a captured child whose window is destroyed"):
            t = h.Target("Doomed3", 480, 300)
            self.addCleanup(t.stop)
            self.focus_tool()
            info = self.probe.info(t.hwnd)
            self.assertEqual(self.capture_at(*h.child_center(info, h.child(info, 1))), t.button)
            v = self.value()
            self.click_bar("left_arrow", 1)
            self.settled(v - 1, target=t.button)
            self.probe.post(t.hwnd, h.WM_CLOSE)
            h.wait_exit(t.proc)
            self.click_bar("left_arrow", 1)
            self.settled(v - 2)
            self.assert_alive()

    def test_hung_target(self):
        """SetWindowLongA on a window of another process is a message sent
        to that window's thread; Wine sends it without a time-out, so a
        target that does not pump messages holds the change handler until
        it answers or its process ends.  Handlers never overlap: no tick
        runs meanwhile, and every change queued meanwhile is applied after."""
        for how in ("answers again", "killed while hung"):
            with self.subTest(how):
                ht = rel.HangTarget("HangTarget", *HANG_AT)
                self.addCleanup(ht.stop)
                self.focus_tool()
                self.assertEqual(self.capture_at(*self.point_in(ht.hwnd)), ht.hwnd)
                v = self.value()
                if v > 200:
                    self.click_bar("trough_left", 5)
                    v = self.settled(v - 50)
                self.click_bar("right_arrow", 1)
                self.settled(v + 1, target=ht.hwnd)

                ht.hang()
                # Three arrow clicks: the first change waits on the target;
                # the other two wait in the tool's queue.
                self.click_bar("right_arrow", 3)
                # Label1 is written before the target is touched.
                self.tool.wait_text(h.ID_LABEL1, str(v + 2))
                # No tick while the handler waits: Label2 stays as it was
                # although the pointer moves over another window.
                a = self.tool.empty_point()
                elsewhere = h.handle_text(self.probe.from_point(a[0], a[1] - 30)["hwnd"])
                self.assertNotEqual(self.tool.text(h.ID_LABEL2), elsewhere)
                h.mousemove(a[0], a[1] - 30)
                h.stays(lambda: self.tool.text(h.ID_LABEL2) != elsewhere, HANG_SECONDS,
                        what="no tick while the change handler waits on the hung target")
                self.assertEqual(self.tool.text(h.ID_LABEL1), str(v + 2))
                h.screenshot("hung-target-%s" % how.split()[0])

                if how == "answers again":
                    ht.release()
                else:
                    ht.stop()
                # Back: it ticks again, and all three changes are applied.
                self.tool.wait_text(h.ID_LABEL2, elsewhere)
                if how == "answers again":
                    self.settled(v + 4, target=ht.hwnd)
                    self.assertTrue(self.helper.layered(ht.hwnd)["exstyle"] & h.WS_EX_LAYERED)
                else:
                    self.settled(v + 4)
                    h.poll(lambda: not self.probe.exists(ht.hwnd), what="the hung window gone")
                self.assert_alive()
                ht.stop()

    def test_pointer_over_the_desktop(self):
        self.focus_tool()
        x, y = 1275, 795
        seen = self.probe.from_point(x, y)
        self.assertEqual(seen["class"], "#32769", "nothing but the desktop at %d,%d" % (x, y))
        self.point_at(x, y)
        record("desktop under the pointer", {"Label2": self.tool.text(h.ID_LABEL2), "probe": seen})
        self.assertEqual(self.tool.text(h.ID_LABEL2), h.handle_text(seen["hwnd"]))
        self.assertNotEqual(seen["hwnd"], 0)
        # Captured and changed: nothing breaks.
        self.capture_at(x, y)
        v = self.value()
        self.click_bar("right_arrow" if v < 250 else "left_arrow", 2)
        self.settled(v + 2 if v < 250 else v - 2)
        record("desktop captured", {"layered": self.helper.layered(seen["hwnd"])})
        self.assert_alive()

    def test_pointer_over_an_open_menu(self):
        notepad, np = h.start_notepad(self.probe, NOTEPAD_AT)
        self.addCleanup(h.stop, notepad)
        h.poll(lambda: self.probe.info(np)["window"]["left"] == NOTEPAD_AT[0], what="notepad moved")
        c = self.probe.info(np)["client"]
        # Its menu bar lies just above the client area: open the first menu.
        h.click(c["x"] + 20, c["y"] - 8)
        menus = h.poll(lambda: [w for w in self.probe.find(cls=MENU_CLASS) if w["visible"]],
                       what="an open menu")
        menu = menus[0]
        mx = (menu["window"]["left"] + menu["window"]["right"]) // 2
        my = (menu["window"]["top"] + menu["window"]["bottom"]) // 2
        seen = self.point_at(mx, my)
        self.assertEqual(seen, menu["hwnd"], "the menu's window is under the pointer")
        record("menu under the pointer", {"Label2": self.tool.text(h.ID_LABEL2), "menu": menu["hwnd"]})
        self.assertEqual(self.capture_at(mx, my), menu["hwnd"])
        # A change while the menu is open (it holds the mouse and the
        # keyboard, so the change comes as the bar's own scroll message).
        v = self.value()
        if v >= 255:
            h.key("Escape")
        bar = h.child(self.tool.info(), h.ID_HSCROLL1)["hwnd"]
        self.assertTrue(self.probe.post(self.tool.hwnd, WM_HSCROLL, SB_LINERIGHT, bar))
        self.settled(min(255, v + 1), target=menu["hwnd"])
        record("menu captured", {"layered": self.helper.layered(menu["hwnd"])})
        # The menu closes; the capture now names a window that is gone or
        # hidden; further changes do nothing harmful.
        h.key("Escape")
        h.key("Escape")
        h.poll(lambda: not [w for w in self.probe.find(cls=MENU_CLASS) if w["visible"]], what="the menu closed")
        self.focus_tool()
        self.click_bar("left_arrow", 2)
        self.settled(max(0, min(255, v + 1) - 2))
        self.assert_alive()
        h.stop(notepad)

    def test_rapid_f1(self):
        self.focus_tool()
        ti = self.probe.info(self.target.hwnd)
        points = [self.point_in(self.target.hwnd), h.child_center(ti, h.child(ti, 1)),
                  self.tool.empty_point(), h.child_center(ti, h.child(ti, 2))]
        windows = {h.handle_text(self.probe.from_point(x, y)["hwnd"]) for x, y in points}
        presses = 0
        for round_ in range(6):
            chain = []
            for i in range(50):
                x, y = points[(round_ * 50 + i) % len(points)]
                chain += ["mousemove", x + i % 5, y, "keydown", "F1", "sleep", "0.005", "keyup", "F1"]
                presses += 1
            h.xdotool(*chain, timeout=60)
            self.assertIsNone(self.tool.proc.poll())
        # Label3 holds one of the windows the pointer went over.
        label3 = self.tool.text(h.ID_LABEL3)
        self.assertIn(label3, windows)
        # A last, held press captures the window under the pointer.
        self.assertEqual(self.capture_at(*self.point_in(self.target.hwnd)), self.target.hwnd)
        v = self.value()
        self.click_bar("right_arrow" if v < 255 else "left_arrow", 1)
        self.settled(v + 1 if v < 255 else v - 1, target=self.target.hwnd)
        record("rapid F1", {"presses": presses, "Label3 after": label3})
        self.assert_alive()

    def test_burst_of_keys_on_the_bar(self):
        """Forty key presses at once, then fifteen the other way: every
        change is applied, and value, label and alpha agree at the end."""
        self.focus_tool()
        self.capture_at(*self.point_in(self.target.hwnd))
        self.focus_tool()
        h.key("Home")
        self.settled(0)
        h.x_focus_window(self.tool_xid)
        h.xdotool("key", "--delay", 1, *["Right"] * 40, timeout=60)
        self.settled(40, target=self.target.hwnd)
        h.xdotool("key", "--delay", 1, *["Left"] * 15, timeout=60)
        self.settled(25, target=self.target.hwnd)
        self.assert_alive()


if __name__ == "__main__":
    h.main()

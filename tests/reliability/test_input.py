"""Bad input into the tool's text box (Text1): very long texts (set by
message, pasted with Ctrl+V from the clipboard), typed text, control keys and
control characters.  The text box holds what it was given; nothing else
changes (Label1, Label3, the bar, the target's alpha, the window's size); the
tool keeps ticking and shows no message box."""

import os
import random
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import rel  # noqa: E402

h = rel.h

LONG = 70000       # characters: more than 64 KiB
PASTED = 66000


class Input(rel.ToolCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.text1 = h.child(cls.tool.info(), h.ID_TEXT1)["hwnd"]

    def setUp(self):
        # A captured target and a bar away from its ends, so that a change
        # of either would show.
        if self.tool.text(h.ID_LABEL3) != h.handle_text(self.target.hwnd):
            self.focus_tool()
            self.capture_at(*self.point_in(self.target.hwnd))
            self.focus_tool()
            self.click_bar("trough_right", 3)
            self.click_bar("right_arrow", 7)
            self.settled(37, target=self.target.hwnd)
        self.before = self.snapshot()

    def snapshot(self):
        s = self.state()
        l = self.helper.layered(self.target.hwnd)
        return {"Label1": s["texts"][str(h.ID_LABEL1)], "Label3": s["texts"][str(h.ID_LABEL3)],
                "bar": s["bar"], "window": (s["window"]["width"], s["window"]["height"]),
                "client": (s["client"]["width"], s["client"]["height"]),
                "alpha": l["layered"]["alpha"] if l["layered"] else None}

    def assert_nothing_else_changed(self):
        self.assertEqual(self.snapshot(), self.before)
        self.assert_alive()
        self.assertEqual(self.snapshot(), self.before)

    def text(self):
        s = self.helper.call("textsum", self.text1)
        self.assertTrue(s["ok"], "the text box answers")
        n = self.helper.call("textlen", self.text1)
        self.assertEqual(n["length"], s["length"], "WM_GETTEXTLENGTH and WM_GETTEXT agree")
        return s

    def wait_length(self, length):
        return h.poll(lambda: (lambda s: s if s["length"] == length else False)(
            self.helper.call("textsum", self.text1)), what="a text of %d characters" % length)

    def into_text1(self):
        """A click into the text box, keyboard focus on it."""
        info = self.tool.info()
        h.click(*h.child_center(info, h.child(info, h.ID_TEXT1)))
        h.poll(lambda: self.tool.info()["focus"] == self.text1, what="focus in the text box")
        h.x_focus_window(self.tool_xid)

    def test_1_long_text_by_message(self):
        r = self.helper.call("settext", self.text1, LONG, 1)
        self.assertTrue(r["ok"] and r["result"], r)
        s = self.text()
        self.assertEqual((s["length"], s["sum"]), (LONG, r["sum"]))
        # And as much again, as a replacement of the selection.
        r2 = self.helper.call("replacesel", self.text1, LONG, 2)
        self.assertTrue(r2["ok"], r2)
        self.assertEqual(self.text()["length"], 2 * LONG)
        self.assert_nothing_else_changed()

    def test_2_paste_from_the_clipboard(self):
        clip = self.helper.call("clip-set", PASTED, 5)
        self.assertTrue(clip["ok"])
        self.assertEqual(self.helper.call("clip-get")["length"], PASTED)
        self.helper.call("settext", self.text1, 0, 0)
        self.into_text1()
        h.key("ctrl+v")
        s = self.wait_length(PASTED)
        self.assertEqual(s["sum"], clip["sum"], "the pasted text is the clipboard's")
        h.key("ctrl+v")
        self.wait_length(2 * PASTED)
        self.assert_nothing_else_changed()

    def test_3_typed_text_and_control_keys(self):
        self.helper.call("settext", self.text1, 0, 0)
        self.into_text1()
        h.type_text("abc")
        self.assertEqual(self.wait_length(3)["head"], "abc")
        h.key("Return")  # the box takes Return as a line break
        self.assertEqual(self.wait_length(5)["head"], "abc\r\n")
        h.key("BackSpace")
        self.assertEqual(self.wait_length(3)["head"], "abc")
        h.key("Home", "Delete")
        self.assertEqual(self.wait_length(2)["head"], "bc")
        # Keys the box may or may not act on: whatever it does, it holds a
        # text and nothing else changes.
        for k in ("ctrl+a", "ctrl+z", "ctrl+y", "Tab", "Escape", "ctrl+Return", "shift+Tab", "Insert"):
            h.key(k)
            self.assertIsNone(self.tool.proc.poll(), "after %s" % k)
        # Every control character but Tab, which moves the focus to the bar.
        h.type_text("".join(chr(c) for c in range(1, 32) if c != 9) + "\x7f")
        h.type_text("xyz")
        h.poll(lambda: "xyz" in self.helper.call("textsum", self.text1)["tail"], what="typed text after them")
        self.text()
        self.assert_nothing_else_changed()

    def test_4_key_storm(self):
        """Hundreds of editing keys at random, a long typed text and pastes
        in between: the state of everything else stays."""
        self.helper.call("clip-set", 500, 9)
        self.helper.call("settext", self.text1, 1000, 3)
        self.into_text1()
        rng = random.Random(4)
        keys = ["ctrl+a", "ctrl+z", "ctrl+y", "ctrl+x", "ctrl+c", "ctrl+v", "Return", "BackSpace",
                "Delete", "Escape", "ctrl+BackSpace", "ctrl+Delete", "shift+Return", "Insert", "ctrl+b",
                "ctrl+h", "ctrl+i", "ctrl+m", "ctrl+j"]
        sent = 0
        for _ in range(6):
            # The keyboard stays in the text box: none of these keys leaves
            # it (Tab and Shift+Tab move to the bar, test_layout; arrow keys
            # and Home/End would then move the bar).
            self.assertEqual(self.tool.info()["focus"], self.text1)
            chunk = [rng.choice(keys) for _ in range(50)]
            h.xdotool("key", "--delay", 8, *chunk, timeout=60)
            sent += len(chunk)
            self.assertEqual(self.tool.info()["focus"], self.text1)
            h.key("ctrl+End")
            h.xdotool("type", "--delay", 5, "Typed text %d " % sent * 3, timeout=60)
            self.assertIsNone(self.tool.proc.poll())
            self.assertEqual(self.helper.boxes(self.win_pid), [])
        s = self.text()
        h.log("after %d keys the text box holds %d characters" % (sent, s["length"]))
        self.assertIn("Typed text %d" % sent, s["tail"], "the last text typed is at its end")
        self.assert_nothing_else_changed()


if __name__ == "__main__":
    h.main()

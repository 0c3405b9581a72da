"""Errors reported to the user.

An untrapped error in the tick handler (a build that cannot bind
GetCursorPos): one message box owned by the tool window names the error in
Chinese; once it is dismissed the process ends with a non-zero exit code.

An error while the tool window is being built (a build whose text box cannot
be created, after the tool window and the controls before it exist): the
report names what failed, in Chinese, and stays up until it is dismissed; the
process then ends with the exit code of an untrapped error.

An error the change handler's trap catches (a build that cannot bind
SetLayeredWindowAttributes, as on a system without it): every change still
shows in Label1 and gives the target the layered style; its alpha is never
set, nothing is shown and the tool keeps running and ticking."""

import re

import harness as h


class ErrorBoxCase(h.WineTestCase):
    def message_of(self, box):
        """The text of a message box (as the probe reports it), logged."""
        message = "\n".join(c["text"] for c in box["children"]
                            if c["class"].lower() == "static" and c["text"])
        h.log("message box text:", repr(message))
        return message

    def dismiss(self, box, proc):
        """Clicks the box's one button, as a user would, and waits for the
        process to end and the box with it; returns the exit code."""
        buttons = [c for c in box["children"] if c["class"].lower() == "button"]
        self.assertEqual(len(buttons), 1, "one button: %r" % [b["text"] for b in buttons])
        h.click(*h.child_center(self.probe.info(box["hwnd"]), buttons[0]))
        code = h.wait_exit(proc, timeout=10)
        h.log("exit code", code)
        self.assertFalse(self.probe.exists(box["hwnd"]))
        return code


class BrokenBinding(ErrorBoxCase):
    def test_error_box_then_exit(self):
        h.mousemove(1270, 790)
        tool = h.Tool(self.probe, exe=h.env_path("KAVRELO_BROKENBIND_EXE"))
        self.addCleanup(tool.stop)

        boxes = h.poll(lambda: self.probe.find(cls=h.DIALOG_CLASS, owner=tool.hwnd),
                       what="a message box owned by the tool window")
        self.assertEqual(len(boxes), 1)
        box = boxes[0]
        self.assertEqual(box["caption"], "Kavrelo")
        message = self.message_of(box)
        self.assertIn("GetCursorPos", message)
        self.assertIn("user32", message.lower())
        self.assertTrue(re.search(r"[\u4e00-\u9fff]", message), "Chinese text: %r" % message)
        h.screenshot("brokenbind-message")

        # While it is shown no further tick runs: it stays the only one.
        def only_one():
            owned = self.probe.find(cls=h.DIALOG_CLASS, owner=tool.hwnd)
            all_boxes = [w for w in self.probe.find(cls=h.DIALOG_CLASS) if w["pid"] == box["pid"]]
            return len(owned) == 1 and len(all_boxes) == 1
        h.stays(only_one, 1.5, what="a single message box")
        self.assertIsNone(tool.proc.poll(), "the process waits for the message box")

        self.assertNotEqual(self.dismiss(box, tool.proc), 0)


class TrappedBinding(h.WineTestCase):
    def test_changes_end_quietly_at_the_alpha(self):
        h.mousemove(1270, 790)
        target = h.Target("KavreloTrapTarget", 480, 300)
        self.addCleanup(target.stop)
        tool = h.Tool(self.probe, exe=h.env_path("KAVRELO_NOLAYERED_EXE"))
        self.addCleanup(tool.stop)
        pid = tool.info()["pid"]
        tool.capture_window(target.hwnd)
        x, y = h.mouse_location()  # over the target
        self.assertFalse(self.probe.info(target.hwnd)["exstyle"] & h.WS_EX_LAYERED)

        h.click(*tool.empty_point())
        h.poll(lambda: self.probe.call("foreground")["hwnd"] == tool.hwnd, what="the tool in front")
        for keyname, value in (("Right", 1), ("Next", 11), ("Left", 10)):
            h.key(keyname)
            tool.wait_text(h.ID_LABEL1, str(value))
            self.assertEqual(tool.child(h.ID_HSCROLL1)["scroll"]["pos"], value)
            h.poll(lambda: self.probe.info(target.hwnd)["exstyle"] & h.WS_EX_LAYERED,
                   what="the layered style on the target")
        # The alpha was never set: a layered window without attributes has
        # none to read back.
        self.assertIsNone(self.probe.info(target.hwnd)["layered"])

        def quiet():
            boxes = [w for w in self.probe.find(cls=h.DIALOG_CLASS) if w["pid"] == pid]
            return not boxes and tool.proc.poll() is None
        h.stays(quiet, 1.0, what="no message box and the tool running")
        # Still ticking: Label2 follows the pointer to the tool and back.
        for px, py in (tool.empty_point(), (x, y)):
            h.mousemove(px, py)
            tool.wait_text(h.ID_LABEL2, h.handle_text(self.probe.from_point(px, py)["hwnd"]))
        self.assertTrue(quiet())
        self.assertIsNone(self.probe.info(target.hwnd)["layered"])


# The exit code of a run ended by an untrapped error (kExitUntrappedError).
EXIT_UNTRAPPED_ERROR = 2


class BrokenCreation(ErrorBoxCase):
    def test_error_box_stays_until_dismissed(self):
        exe = h.env_path("KAVRELO_BROKENCREATE_EXE")
        h.mousemove(1270, 790)
        proc = h.start(exe)
        self.addCleanup(h.stop, proc)

        def the_box():
            if proc.poll() is not None:
                raise AssertionError("the program ended (exit code %r) with no report on the screen"
                                     % proc.returncode)
            return [w for w in self.probe.find(cls=h.DIALOG_CLASS, title=h.KAVRELO_CAPTION)
                    if w["visible"]]
        boxes = h.poll(the_box, what="the error box", timeout=max(h.DEADLINE, 30))
        self.assertEqual(len(boxes), 1)
        box = self.probe.info(boxes[0]["hwnd"])
        message = self.message_of(box)
        # The error number of a window or control that cannot be created, what
        # failed (the text box), and that the program will end.
        self.assertIn("运行时错误 7", message)
        self.assertIn("无法创建文本框", message)
        self.assertIn("程序将退出", message)
        # Nothing half-built is left: the tool window is gone (it was never
        # shown), and the report has no owner.
        self.assertEqual(h.tool_windows(self.probe), [])
        self.assertEqual(box["owner"], 0)
        h.screenshot("brokencreate-message")

        # It stays until the user dismisses it, and so does the process.
        def still_up():
            info = self.probe.info(box["hwnd"])
            return proc.poll() is None and "error" not in info and info["visible"]
        h.stays(still_up, 3.0, what="the error box on the screen")

        self.assertEqual(self.dismiss(box, proc), EXIT_UNTRAPPED_ERROR)


if __name__ == "__main__":
    h.main()

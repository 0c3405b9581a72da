"""An untrapped error in the tick handler (a build that cannot bind
GetCursorPos): one message box owned by the tool window names the error in
Chinese; once it is dismissed the process ends with a non-zero exit code."""

import re

import harness as h


class BrokenBinding(h.WineTestCase):
    def test_error_box_then_exit(self):
        h.mousemove(1270, 790)
        tool = h.Tool(self.probe, exe=h.env_path("KAVRELO_BROKENBIND_EXE"))
        self.addCleanup(tool.stop)

        boxes = h.poll(lambda: self.probe.find(cls=h.DIALOG_CLASS, owner=tool.hwnd),
                       what="a message box owned by the tool window")
        self.assertEqual(len(boxes), 1)
        box = boxes[0]
        self.assertEqual(box["caption"], "Kavrelo")
        statics = [c["text"] for c in box["children"] if c["class"].lower() == "static" and c["text"]]
        message = "\n".join(statics)
        h.log("message box text:", repr(message))
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

        # Dismiss it with its OK button, as a user would.
        buttons = [c for c in box["children"] if c["class"].lower() == "button"]
        self.assertEqual(len(buttons), 1, "one button: %r" % [b["text"] for b in buttons])
        h.click(*h.child_center(self.probe.info(box["hwnd"]), buttons[0]))
        code = h.wait_exit(tool.proc, timeout=10)
        h.log("exit code", code)
        self.assertNotEqual(code, 0)
        self.assertFalse(self.probe.exists(box["hwnd"]))


if __name__ == "__main__":
    h.main()

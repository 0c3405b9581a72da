"""Closing the tool window ends the process at once with exit code 0: by
WM_CLOSE, by the system menu's Close command, by Alt+F4 and by a click on
the close box.  The window the tool made transparent keeps the style and
alpha it was given last."""

import time

import harness as h

# "At once": the process is gone this soon after the request (generous for a
# busy machine; it normally takes well under a second).
PROMPT = 5.0
HTCLOSE = 20


class Closing(h.WineTestCase):
    def close_and_check(self, close):
        h.mousemove(1270, 790)
        tool = h.Tool(self.probe)
        self.addCleanup(tool.stop)
        # The tool is up and ticking before it is closed: Label2 shows the
        # window under the pointer.
        tool.wait_text(h.ID_LABEL2, h.handle_text(self.probe.from_point(1270, 790)["hwnd"]))
        started = time.monotonic()
        close(tool)
        code = h.wait_exit(tool.proc, timeout=PROMPT)
        h.log("ended %.2f s after the request, exit code %d" % (time.monotonic() - started, code))
        self.assertEqual(code, 0)
        self.assertFalse(self.probe.exists(tool.hwnd))
        self.assertEqual(h.tool_windows(self.probe), [])

    def test_target_keeps_style_and_alpha(self):
        h.mousemove(1270, 790)
        target = h.Target("KavreloClosingTarget", 480, 300)
        self.addCleanup(target.stop)
        tool = h.Tool(self.probe)
        self.addCleanup(tool.stop)
        tool.capture_window(target.hwnd)
        # The bar has the focus in the tool: bring the tool to the front by a
        # click on it, then three pages and one step to the right.
        h.click(*tool.empty_point())
        h.poll(lambda: self.probe.call("foreground")["hwnd"] == tool.hwnd, what="the tool in front")
        h.key("Next", "Next", "Next", "Right")
        given = {"key": 0, "alpha": 255 - 31, "flags": h.LWA_ALPHA}
        tool.wait_text(h.ID_LABEL1, "31")
        h.poll(lambda: self.probe.info(target.hwnd)["layered"] == given, what="alpha %d on the target" % given["alpha"])

        self.assertTrue(self.probe.post(tool.hwnd, h.WM_CLOSE))
        self.assertEqual(h.wait_exit(tool.proc, timeout=PROMPT), 0)
        info = self.probe.info(target.hwnd)
        self.assertTrue(info["exstyle"] & h.WS_EX_LAYERED, "exstyle 0x%x" % info["exstyle"])
        self.assertEqual(info["layered"], given)
        self.assertTrue(info["visible"])

    def test_wm_close(self):
        self.close_and_check(lambda tool: self.assertTrue(self.probe.post(tool.hwnd, h.WM_CLOSE)))

    def test_system_menu_close(self):
        self.close_and_check(
            lambda tool: self.assertTrue(self.probe.post(tool.hwnd, h.WM_SYSCOMMAND, h.SC_CLOSE)))

    def test_alt_f4(self):
        def alt_f4(tool):
            # Make it the foreground window as a user would: click on it.
            h.click(*tool.empty_point())
            h.poll(lambda: self.probe.call("foreground")["hwnd"] == tool.hwnd, what="the tool in front")
            h.key("alt+F4")
        self.close_and_check(alt_f4)

    def test_close_box(self):
        def click_close_box(tool):
            w = tool.info()["window"]
            # Look for the close box along the caption row, from the right.
            for y in range(w["top"] + 2, w["top"] + 40, 2):
                for x in range(w["right"] - 2, w["right"] - 60, -2):
                    if self.probe.call("hit-test", tool.hwnd, x, y)["code"] == HTCLOSE:
                        h.click(x, y)
                        return
            self.fail("no close box on the caption (window %r)" % w)
        self.close_and_check(click_close_box)


if __name__ == "__main__":
    h.main()

"""Closing the tool window ends the process at once with exit code 0: by
WM_CLOSE, by the system menu's Close command, by Alt+F4 and by a click on
the close box.  The window the tool made transparent keeps the style and
alpha it was given last."""

import time

import pytest

import driver as d

# "At once": the process is gone this soon after the request (generous for a
# busy machine; it normally takes well under a second).
PROMPT = 5.0


def post(message, wparam=0):
    def close(session, tool):
        assert session.probe.post(tool.hwnd, message, wparam)
    return close


def alt_f4(session, tool):
    tool.activate()
    session.input.key("alt+F4")


def close_box(session, tool):
    w = tool.info()["window"]
    # Look for the close box along the caption row, from the right.
    for y in range(w["top"] + 2, w["top"] + 40, 2):
        for x in range(w["right"] - 2, w["right"] - 60, -2):
            if session.probe.call("hit-test", tool.hwnd, x, y)["code"] == d.HTCLOSE:
                session.input.click(x, y)
                return
    pytest.fail("no close box on the caption (window %r)" % w)


@pytest.mark.parametrize("close", [post(d.WM_CLOSE), post(d.WM_SYSCOMMAND, d.SC_CLOSE), alt_f4, close_box],
                         ids=["WM_CLOSE", "system menu", "Alt+F4", "close box"])
def test_closing_ends_the_process_at_once(session, close):
    tool = session.tool()
    # Up and ticking before it is closed: Label2 shows the window under the
    # pointer.
    tool.wait_text("Label2", d.handle_text(session.probe.at(*d.PARKED)["hwnd"]))
    started = time.monotonic()
    close(session, tool)
    code = session.wait_exit(tool.proc, timeout=PROMPT)
    d.log("ended %.2f s after the request, exit code %d" % (time.monotonic() - started, code))
    assert code == 0
    assert not session.probe.exists(tool.hwnd)
    assert session.tool_windows() == []


def test_target_keeps_style_and_alpha(session):
    target = session.target("KavreloClosingTarget", (480, 300))
    tool = session.tool()
    tool.capture(target.hwnd)
    # Three pages and one step to the right, with the tool in front.
    tool.activate()
    session.input.key("Next", "Next", "Next", "Right")
    given = {"key": 0, "alpha": 255 - 31, "flags": d.LWA_ALPHA}
    tool.wait_text("Label1", "31")
    d.poll(lambda: session.probe.info(target.hwnd)["layered"] == given, what="alpha 224 on the target")

    assert session.probe.post(tool.hwnd, d.WM_CLOSE)
    assert session.wait_exit(tool.proc, timeout=PROMPT) == 0
    info = session.probe.info(target.hwnd)
    assert info["exstyle"] & d.WS_EX_LAYERED, "exstyle 0x%x" % info["exstyle"]
    assert info["layered"] == given
    assert info["visible"]

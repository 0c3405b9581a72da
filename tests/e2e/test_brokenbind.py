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

import driver as d

# The exit code of a run ended by an untrapped error (kExitUntrappedError).
EXIT_UNTRAPPED_ERROR = 2


def message_of(box):
    """The text of a message box (as the probe reports it), logged."""
    message = "\n".join(c["text"] for c in box["children"] if c["class"].lower() == "static" and c["text"])
    d.log("message box text:", repr(message))
    return message


def dismiss(session, box, proc):
    """Clicks the box's one button, as a user would, and waits for the
    process to end and the box with it; returns the exit code."""
    buttons = [c for c in box["children"] if c["class"].lower() == "button"]
    assert len(buttons) == 1, "one button: %r" % [b["text"] for b in buttons]
    session.input.click(*d.child_center(session.probe.info(box["hwnd"]), buttons[0]))
    code = session.wait_exit(proc, timeout=10)
    d.log("exit code", code)
    assert not session.probe.exists(box["hwnd"])
    return code


def test_untrapped_error_box_then_exit(session):
    probe = session.probe
    tool = session.tool("Kavrelo-brokenbind.exe")
    boxes = d.poll(lambda: probe.find(cls=d.DIALOG_CLASS, owner=tool.hwnd),
                   what="a message box owned by the tool window")
    assert len(boxes) == 1
    box = boxes[0]
    assert box["caption"] == "Kavrelo"
    message = message_of(box)
    assert "GetCursorPos" in message
    assert "user32" in message.lower()
    assert re.search(r"[\u4e00-\u9fff]", message), "Chinese text: %r" % message
    session.screenshot("brokenbind-message")

    # While it is shown no further tick runs: it stays the only one.
    def only_one():
        owned = probe.find(cls=d.DIALOG_CLASS, owner=tool.hwnd)
        return len(owned) == 1 and len(probe.boxes(tool.pid)) == 1
    d.stays(only_one, 1.5, what="a single message box")
    assert tool.running(), "the process waits for the message box"
    assert dismiss(session, box, tool.proc) != 0


def test_trapped_error_ends_changes_quietly_at_the_alpha(session):
    probe = session.probe
    target = session.target("KavreloTrapTarget", (480, 300))
    tool = session.tool("Kavrelo-nolayered.exe")
    tool.capture(target.hwnd)
    over_target = session.x.pointer()
    assert not probe.info(target.hwnd)["exstyle"] & d.WS_EX_LAYERED

    tool.activate()
    for keyname, value in (("Right", 1), ("Next", 11), ("Left", 10)):
        session.input.key(keyname)
        tool.wait_text("Label1", str(value))
        assert tool.value() == value
        d.poll(lambda: probe.info(target.hwnd)["exstyle"] & d.WS_EX_LAYERED, what="the layered style on the target")
    # The alpha was never set: a layered window without attributes has none
    # to read back.
    assert probe.info(target.hwnd)["layered"] is None
    d.stays(tool.quiet, 1.0, what="no message box and the tool running")
    # Still ticking: Label2 follows the pointer to the tool and back.
    for point in (tool.empty_point(), over_target):
        tool.point_at(*point)
    assert tool.quiet()
    assert probe.info(target.hwnd)["layered"] is None


def test_error_while_building_the_window_stays_until_dismissed(session):
    probe = session.probe
    proc = session.start(d.program("Kavrelo-brokencreate.exe"))

    def the_box():
        if proc.poll() is not None:
            raise AssertionError("the program ended (exit code %r) with no report on the screen" % proc.returncode)
        return [w for w in probe.find(cls=d.DIALOG_CLASS, title=d.CAPTION) if w["visible"]]
    boxes = d.poll(the_box, what="the error box", timeout=max(d.DEADLINE, 30))
    assert len(boxes) == 1
    box = probe.info(boxes[0]["hwnd"])
    message = message_of(box)
    # The error number of a window or control that cannot be created, what
    # failed (the text box), and that the program will end.
    assert "运行时错误 7" in message
    assert "无法创建文本框" in message
    assert "程序将退出" in message
    # Nothing half-built is left: the tool window is gone (it was never
    # shown), and the report has no owner.
    assert session.tool_windows() == []
    assert box["owner"] == 0
    session.screenshot("brokencreate-message")

    # It stays until the user dismisses it, and so does the process.
    def still_up():
        info = probe.info(box["hwnd"])
        return proc.poll() is None and "error" not in info and info["visible"]
    d.stays(still_up, 3.0, what="the error box on the screen")
    assert dismiss(session, box, proc) == EXIT_UNTRAPPED_ERROR

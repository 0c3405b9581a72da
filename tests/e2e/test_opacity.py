"""Opacity: moving the bar makes the captured window layered with the alpha
255 minus the bar's value, for windows of other processes (target.exe and a
Wine notepad) and for the tool window itself.  Every change is checked from
outside: the window's extended style and layered attributes as another
process reads them.  Also: nothing happens to other windows before a
capture, a thumb drag takes effect on release, a closed target raises
nothing, the focus comes back to its control when the tool is activated
again, and the tool made invisible by its own bar keeps the keyboard."""

from types import SimpleNamespace

import pytest

import driver as d

NOTEPAD_TEXT = "Kavrelo makes this window transparent."


@pytest.fixture(scope="module")
def w(session):
    """Two target.exe windows, a notepad with a line typed into it, and the tool."""
    a = session.target("KavreloTargetA", (520, 40))
    b = session.target("KavreloTargetB", (40, 300))
    notepad = session.notepad((460, 330))
    session.input.click(*session.point_in(notepad.hwnd, 100, 60))
    session.wait_foreground(notepad.hwnd, "notepad in front")
    session.input.type_text(NOTEPAD_TEXT)
    edit = [c for c in session.probe.info(notepad.hwnd)["children"] if c["class"].lower() == "edit"][0]
    d.poll(lambda: session.probe.info(edit["hwnd"])["caption"] == NOTEPAD_TEXT, what="the text in notepad")
    tool = session.tool()
    yield SimpleNamespace(a=a, b=b, notepad=notepad, tool=tool, probe=session.probe, input=session.input,
                          session=session)
    tool.close()


def layered(value):
    return {"key": 0, "alpha": 255 - value, "flags": d.LWA_ALPHA}


def expect(w, value, hwnd=None):
    """Label1 shows value, the bar is at value, and hwnd (when given) is
    layered with the alpha 255 - value."""
    w.tool.wait_text("Label1", str(value))
    assert w.tool.value() == value
    if hwnd is None:
        return

    def applied():
        info = w.probe.info(hwnd)
        return info["exstyle"] & d.WS_EX_LAYERED and info["layered"] == layered(value)
    try:
        d.poll(applied, what="alpha %d on %d" % (255 - value, hwnd))
    except d.Timeout:
        info = w.probe.info(hwnd)
        pytest.fail("after the bar went to %d, window %d has exstyle 0x%x, layered %r; expected %r"
                    % (value, hwnd, info["exstyle"], info["layered"], layered(value)))


def press(w, keyname, value, hwnd=None):
    w.input.key(keyname)
    expect(w, value, hwnd)


def untouched(w, hwnd):
    info = w.probe.info(hwnd)
    assert not info["exstyle"] & d.WS_EX_LAYERED, "window %d (%s) got WS_EX_LAYERED" % (hwnd, info["caption"])
    assert info["layered"] is None


def test_a_change_before_any_capture_touches_no_window(w):
    assert w.tool.text("Label3") == d.NO_TARGET
    w.tool.focus_bar()
    press(w, "Right", 1)
    press(w, "Next", 11)
    press(w, "End", 255)
    w.tool.bar.click("right_arrow")  # at the end already
    press(w, "Home", 0)
    assert w.tool.text("Label3") == d.NO_TARGET
    for hwnd in (w.a.hwnd, w.b.hwnd, w.notepad.hwnd, w.tool.hwnd):
        untouched(w, hwnd)


def test_target_window_by_arrows_trough_and_keys(w):
    t, bar = w.a.hwnd, w.tool.bar
    w.tool.focus_bar()
    w.tool.capture(t)
    untouched(w, t)  # the capture alone changes nothing
    w.tool.focus_bar()
    bar.click("right_arrow")
    expect(w, 1, t)
    bar.click("trough_right")
    expect(w, 11, t)
    bar.click("left_arrow")
    expect(w, 10, t)
    for keyname, value in (("Right", 11), ("Next", 21), ("Next", 31), ("Prior", 21), ("Left", 20),
                           ("End", 255)):
        press(w, keyname, value, t)
    assert w.probe.info(t)["layered"]["alpha"] == 0, "fully transparent"
    bar.click("trough_left")
    expect(w, 245, t)
    # Back to 0: opaque, and the layered style stays.
    press(w, "Home", 0, t)
    info = w.probe.info(t)
    assert info["exstyle"] & d.WS_EX_LAYERED
    assert info["layered"] == layered(0)
    untouched(w, w.b.hwnd)
    untouched(w, w.notepad.hwnd)


def test_thumb_drag_takes_effect_on_release(w):
    t, bar = w.a.hwnd, w.tool.bar
    w.tool.focus_bar()
    press(w, "Next", 10, t)
    seen = {}

    def while_held():
        # The thumb follows the pointer, but neither Label1 nor the target
        # changes until the button is released.
        seen["track"] = d.poll(lambda: (lambda s: s["trackPos"] if abs(s["trackPos"] - 100) <= 3 else None)(
            bar.geometry()), what="the thumb to follow the drag to about 100")
        d.stays(lambda: w.tool.text("Label1") == "10" and w.probe.info(t)["layered"] == layered(10), 1.0,
                what="Label1 and the alpha unchanged during the drag")
    bar.drag(bar.thumb_x(100), while_held=while_held)
    d.log("tracking at", seen["track"])
    expect(w, seen["track"], t)
    # The keyboard goes on from there.
    press(w, "Right", seen["track"] + 1, t)
    press(w, "Home", 0, t)


def test_notepad(w):
    n = w.notepad.hwnd
    # F1 goes to the foreground window (notepad would open its help): bring
    # the tool to the front before pointing at notepad.
    w.tool.focus_bar()
    w.tool.capture_at(*w.notepad.menu_bar_point(), expect=n)
    for keyname, value in (("Right", 1), ("Next", 11), ("End", 255), ("Left", 254), ("Prior", 244), ("Home", 0)):
        press(w, keyname, value, n)
    assert w.probe.info(n)["exstyle"] & d.WS_EX_LAYERED, "still layered at 0"
    # The previous target keeps what it was given last.
    assert w.probe.info(w.a.hwnd)["layered"] == layered(0)


def test_recapture_applies_the_new_value(w):
    a, b = w.a.hwnd, w.b.hwnd
    w.tool.focus_bar()
    w.tool.capture(a)
    w.tool.focus_bar()
    w.input.key("Next", "Next", "Next", "Next")
    expect(w, 40, a)

    w.tool.capture(b)
    untouched(w, b)
    press(w, "Right", 41, b)
    assert w.probe.info(a)["layered"] == layered(40), "A keeps 40"
    # A value applied before, to another window, applies again.
    press(w, "Left", 40, b)
    press(w, "Left", 39, b)

    w.tool.capture(a)
    assert w.probe.info(a)["layered"] == layered(40), "the capture alone changes nothing"
    press(w, "Right", 40, a)  # the same value as A already had
    press(w, "Right", 41, a)
    assert w.probe.info(b)["layered"] == layered(39), "B keeps 39"
    press(w, "Home", 0, a)


def test_closed_target_raises_nothing(session, w):
    gone = session.target("KavreloTargetC", (40, 540))
    w.tool.focus_bar()
    w.tool.capture(gone.hwnd)
    press(w, "Right", 1, gone.hwnd)
    assert w.probe.post(gone.hwnd, d.WM_CLOSE)
    session.wait_exit(gone.proc)
    d.poll(lambda: not w.probe.exists(gone.hwnd), what="the target window gone")
    assert w.tool.text("Label3") == d.handle_text(gone.hwnd)

    w.tool.focus_bar()
    for keyname, value in (("Right", 2), ("Next", 12), ("End", 255), ("Prior", 245), ("Home", 0)):
        press(w, keyname, value)
    w.tool.bar.click("right_arrow")
    expect(w, 1)
    d.stays(w.tool.quiet, 1.0, what="no message box and the tool running")
    press(w, "Home", 0)


def test_a_colour_key_gives_way_to_the_alpha(session, w):
    """A target that made one colour see-through (LWA_COLORKEY) loses that:
    the alpha is set alone (LWA_ALPHA), which replaces the flags, as on
    Windows."""
    keyed = session.target("KavreloTargetKeyed", (40, 540))
    assert w.probe.call("colorkey", keyed.hwnd, 0xFF00FF)["ok"]
    before = w.probe.info(keyed.hwnd)["layered"]
    assert (before["key"], before["flags"]) == (0xFF00FF, d.LWA_COLORKEY)
    w.tool.focus_bar()
    w.tool.capture(keyed.hwnd)
    press(w, "Right", 1, keyed.hwnd)
    press(w, "Home", 0, keyed.hwnd)


def test_focus_comes_back_to_its_control(w):
    text1 = w.tool.child("Text1")["hwnd"]

    def away_and_back():
        w.input.click(*w.session.point_in(w.a.hwnd, 300, 170))
        d.poll(lambda: w.probe.foreground() == w.a.hwnd, what="target.exe in front")
        d.poll(lambda: w.tool.info()["focus"] != text1, what="the tool's focus gone with its activation")
        # Back by a click on the tool's caption.
        win = w.tool.info()["window"]
        for y in range(win["top"] + 2, win["top"] + 30, 2):
            if w.probe.call("hit-test", w.tool.hwnd, win["left"] + 150, y)["code"] == d.HTCAPTION:
                w.input.click(win["left"] + 150, y)
                break
        else:
            pytest.fail("no caption on the tool window (%r)" % win)
        d.poll(lambda: w.probe.foreground() == w.tool.hwnd, what="the tool in front")

    info = w.tool.info()
    w.input.click(*d.child_center(info, d.child(info, d.ID["Text1"])))
    d.poll(lambda: w.tool.info()["focus"] == text1, what="the focus on Text1")
    away_and_back()
    d.poll(lambda: w.tool.info()["focus"] == text1, what="the focus back on Text1")

    w.tool.focus_bar()
    away_and_back()
    d.poll(lambda: w.tool.info()["focus"] == w.tool.bar.hwnd, what="the focus back on the bar")
    # And the keys go to it again.
    press(w, "Right", 1)
    press(w, "Home", 0)


def test_the_tool_window_as_its_own_target(w):
    """Invisible at 255, the tool stays open, in front and ticking, and its bar
    keeps the keyboard, so that Left or Home brings it back.  (Windows lets
    the mouse through a window whose alpha is 0, and does not document what
    WindowFromPoint then reports there; Wine hit-tests it as opaque.  So
    the ticks are seen over another window, not over the invisible tool.)"""
    t = w.tool.hwnd
    w.tool.focus_bar()
    w.tool.capture_at(*w.tool.empty_point(), expect=t)
    press(w, "End", 255, t)
    assert w.probe.info(t)["layered"]["alpha"] == 0
    d.stays(lambda: w.tool.running() and w.probe.exists(t), 0.5, what="the invisible tool window still open")
    assert w.probe.foreground() == t
    # Still ticking: Label2 follows the pointer onto another window.
    w.tool.point_at(*w.session.point_in(w.a.hwnd, 300, 170))
    press(w, "Left", 254, t)
    press(w, "Left", 253, t)
    press(w, "Home", 0, t)
    assert w.probe.info(t)["layered"]["alpha"] == 255
    assert w.probe.info(t)["visible"]

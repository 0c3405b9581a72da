"""Bad input into the tool's text box (Text1): very long texts (set by
message, pasted with Ctrl+V from the clipboard), typed text, control keys and
control characters.  The text box holds what it was given; nothing else
changes (Label1, Label3, the bar, the target's alpha, the window's size); the
tool keeps ticking and shows no message box."""

import random

import pytest

import driver as d
from driver import ID

LONG = 70000       # characters: more than 64 KiB
PASTED = 66000


@pytest.fixture
def box(session, rel):
    """A captured target and a bar away from its ends, so that a change of
    either would show; the text box; and what else the tool showed before."""
    tool = rel.tool
    if tool.text("Label3") != d.handle_text(rel.target.hwnd):
        tool.activate()
        tool.capture(rel.target.hwnd)
        tool.activate()
        tool.bar.click("trough_right", 3)
        tool.bar.click("right_arrow", 7)
        tool.settled(37, target=rel.target.hwnd)
    text1 = tool.child("Text1")["hwnd"]
    before = snapshot(session, rel)
    yield text1
    assert snapshot(session, rel) == before
    rel.assert_alive()
    assert snapshot(session, rel) == before


def snapshot(session, rel):
    s = rel.tool.state()
    l = session.probe.layered(rel.target.hwnd)
    return {"Label1": s["texts"][str(ID["Label1"])], "Label3": s["texts"][str(ID["Label3"])],
            "bar": s["bar"], "window": (s["window"]["width"], s["window"]["height"]),
            "client": (s["client"]["width"], s["client"]["height"]),
            "alpha": l["layered"]["alpha"] if l["layered"] else None}


def text_of(probe, text1):
    s = probe.call("textsum", text1)
    assert s["ok"], "the text box answers"
    assert probe.call("textlen", text1)["length"] == s["length"], "WM_GETTEXTLENGTH and WM_GETTEXT agree"
    return s


def wait_length(probe, text1, length):
    return d.poll(lambda: (lambda s: s if s["length"] == length else False)(probe.call("textsum", text1)),
                  what="a text of %d characters" % length)


def into(session, rel, text1):
    """A click into the text box, keyboard focus on it."""
    info = rel.tool.info()
    session.input.click(*d.child_center(info, d.child(info, ID["Text1"])))
    d.poll(lambda: rel.tool.info()["focus"] == text1, what="focus in the text box")
    session.x_focus(rel.tool)


def test_long_text_by_message(session, box):
    probe = session.probe
    r = probe.call("settext", box, LONG, 1)
    assert r["ok"] and r["result"], r
    s = text_of(probe, box)
    assert (s["length"], s["sum"]) == (LONG, r["sum"])
    # And as much again, as a replacement of the selection.
    assert probe.call("replacesel", box, LONG, 2)["ok"]
    assert text_of(probe, box)["length"] == 2 * LONG


def test_paste_from_the_clipboard(session, rel, box):
    probe = session.probe
    clip = probe.call("clip-set", PASTED, 5)
    assert clip["ok"]
    assert probe.call("clip-get")["length"] == PASTED
    probe.call("settext", box, 0, 0)
    into(session, rel, box)
    session.input.key("ctrl+v")
    assert wait_length(probe, box, PASTED)["sum"] == clip["sum"], "the pasted text is the clipboard's"
    session.input.key("ctrl+v")
    wait_length(probe, box, 2 * PASTED)


def test_typed_text_and_control_keys(session, rel, box):
    probe, inp = session.probe, session.input
    probe.call("settext", box, 0, 0)
    into(session, rel, box)
    inp.type_text("abc")
    assert wait_length(probe, box, 3)["head"] == "abc"
    inp.key("Return")  # the box takes Return as a line break
    assert wait_length(probe, box, 5)["head"] == "abc\r\n"
    inp.key("BackSpace")
    assert wait_length(probe, box, 3)["head"] == "abc"
    inp.key("Home", "Delete")
    assert wait_length(probe, box, 2)["head"] == "bc"
    # Keys the box may or may not act on: whatever it does, it holds a text
    # and nothing else changes.
    for k in ("ctrl+a", "ctrl+z", "ctrl+y", "Tab", "Escape", "ctrl+Return", "shift+Tab", "Insert"):
        inp.key(k)
        assert rel.tool.running(), "after %s" % k
    # Every control character but Tab, which moves the focus to the bar.
    inp.type_text("".join(chr(c) for c in range(1, 32) if c != 9) + "\x7f")
    inp.type_text("xyz")
    d.poll(lambda: "xyz" in probe.call("textsum", box)["tail"], what="typed text after them")
    text_of(probe, box)


def test_key_storm(session, rel, box):
    """Hundreds of editing keys at random, a long typed text and pastes in
    between: the state of everything else stays."""
    probe, inp, tool = session.probe, session.input, rel.tool
    probe.call("clip-set", 500, 9)
    probe.call("settext", box, 1000, 3)
    into(session, rel, box)
    rng = random.Random(4)
    keys = ["ctrl+a", "ctrl+z", "ctrl+y", "ctrl+x", "ctrl+c", "ctrl+v", "Return", "BackSpace", "Delete",
            "Escape", "ctrl+BackSpace", "ctrl+Delete", "shift+Return", "Insert", "ctrl+b", "ctrl+h", "ctrl+i",
            "ctrl+m", "ctrl+j"]
    sent = 0
    for _ in range(6):
        # The keyboard stays in the text box: none of these keys leaves it
        # (Tab and Shift+Tab move to the bar; arrow keys and Home/End would
        # then move the bar).
        assert tool.info()["focus"] == box
        chunk = [rng.choice(keys) for _ in range(50)]
        inp.key(*chunk, delay=0.008)
        sent += len(chunk)
        assert tool.info()["focus"] == box
        inp.key("ctrl+End")
        inp.type_text("Typed text %d " % sent * 3, delay_ms=5)
        assert tool.quiet()
    s = text_of(probe, box)
    d.log("after %d keys the text box holds %d characters" % (sent, s["length"]))
    assert "Typed text %d" % sent in s["tail"], "the last text typed is at its end"

"""The tool window as it opens: caption, size, styles, every control, the
labels' sizes in the window's font, the initial focus; typing into the text
box; Tab and Shift+Tab between the tab stops; and the same layout at 120 and
144 dpi, scaled from its twips."""

import re

import pytest

import driver as d
from driver import ID

TEXT1 = ("声明：本软件仅用作交流使用，禁止用于其他用途，若因使用不当造成的一切后果自负。\r\n"
         "邮箱：kavrelo@example.com\r\n"
         "官方网站：https://www.example.com/kavrelo\r\n"
         "感谢下载！\r\n"
         "    Pelloria\r\n")

# In tab (and z) order: name, class, x, y, initial text (client coordinates
# at 96 dpi).
CONTROLS = [
    ("HScroll1", "scrollbar", 8, 32, ""),
    ("Label1", "static", 16, 64, "0"),
    ("Label2", "static", 8, 8, "0"),
    ("Label4", "static", 384, 64, "255"),
    ("Label5", "static", 56, 64, "请将鼠标移至欲调整的窗口上，按F1后调整滚动条。"),
    ("Label3", "static", 360, 8, "未设置窗口"),
    ("Label6", "static", 8, 88, "版本：1.0"),
    ("Text1", "edit", 8, 112, TEXT1),
]
LABELS = ["Label1", "Label2", "Label4", "Label5", "Label3", "Label6"]

# The layout as stored, in twips (15 to a pixel at 96 dpi): the client area,
# and the boxes that do not size themselves to a text.
CLIENT_TWIPS = (6405, 3090)
TWIPS = {"HScroll1": (120, 480, 6015, 255), "Text1": (120, 1680, 6135, 1215),
         "Label1": (240, 960), "Label2": (120, 120), "Label3": (5400, 120),
         "Label4": (5760, 960), "Label5": (840, 960), "Label6": (120, 1320)}


def pixels(twips, dpi):
    """Twips to pixels at a DPI, to the nearest pixel (halves up)."""
    return (twips * dpi + 720) // 1440


@pytest.fixture(scope="module")
def tool(session):
    tool = session.tool()
    yield tool
    tool.close()


@pytest.fixture(scope="module")
def first(tool):
    """The window as it opened, before any test touched it."""
    return tool.info()


def test_initial_focus_is_on_the_scroll_bar(first):
    assert first["focus"] == d.child(first, ID["HScroll1"])["hwnd"]


def test_window(tool):
    info = tool.info()
    assert info["caption"] == "Kavrelo"
    assert (info["client"]["width"], info["client"]["height"]) == (427, 206)
    style = info["style"]
    assert style & d.WS_CAPTION == d.WS_CAPTION, "caption"
    assert style & d.WS_SYSMENU, "system menu"
    assert not style & d.WS_THICKFRAME, "sizing border"
    assert not style & d.WS_MINIMIZEBOX, "minimize box"
    assert not style & d.WS_MAXIMIZEBOX, "maximize box"
    assert not info["exstyle"] & d.WS_EX_TOPMOST, "topmost"
    assert info["visible"]
    assert info["layered"] is None, "the tool window itself is not layered"
    assert info["owner"] == 0


def test_controls_in_order(tool):
    info = tool.info()
    assert [(c["id"], c["class"].lower()) for c in info["children"]] == \
        [(ID[name], cls) for name, cls, _, _, _ in CONTROLS], "children in z/tab order"
    for name, _, x, y, text in CONTROLS:
        c = d.child(info, ID[name])
        assert (c["rect"]["left"], c["rect"]["top"]) == (x, y), name
        assert c["visible"], name
        if name != "Label2":  # follows the pointer
            assert c["text"] == text, name


def test_scroll_bar(tool):
    bar = tool.child("HScroll1")
    assert (bar["rect"]["width"], bar["rect"]["height"]) == (401, 17)
    assert not bar["style"] & d.SBS_VERT, "horizontal"
    assert bar["style"] & d.WS_TABSTOP
    assert (bar["scroll"]["min"], bar["scroll"]["max"], bar["scroll"]["pos"]) == (0, 255, 0)


def test_text_box(tool):
    text = tool.child("Text1")
    assert (text["rect"]["width"], text["rect"]["height"]) == (409, 81)
    assert text["style"] & d.ES_MULTILINE, "multi-line"
    assert not text["style"] & d.ES_READONLY, "editable"
    assert not text["style"] & (d.WS_VSCROLL | d.WS_HSCROLL), "no scroll bars"
    assert text["style"] & d.WS_TABSTOP
    assert text["text"] == TEXT1


def test_labels_fit_their_text(tool):
    info = tool.info()
    for name in LABELS:
        c = d.child(info, ID[name])
        m = c["measured"]
        assert m["width"] > 0
        assert (c["rect"]["width"], c["rect"]["height"]) == (m["width"], m["tmHeight"]), \
            "%s sized to %r" % (name, c["text"])


def test_pointer_handle_and_no_target_yet(tool):
    tool.wait_text("Label3", d.NO_TARGET)
    assert d.poll(lambda: re.fullmatch(r"-?\d+", tool.text("Label2")), what="a number in Label2")
    assert tool.text("Label1") == "0"


def test_text_box_takes_typing(session, tool):
    info = tool.info()
    r = d.child(info, ID["Text1"])["rect"]
    # Click at the end of the last line ("    Pelloria"), then type there.
    session.input.click(*d.client_point(info, r["right"] - 10, r["bottom"] - 6))
    text1 = tool.child("Text1")["hwnd"]
    d.poll(lambda: tool.info()["focus"] == text1, what="focus on the text box")
    session.input.type_text("xyz")
    now = d.poll(lambda: (lambda c: c if "xyz" in c["text"] else None)(tool.child("Text1")),
                 what="typed text in the text box")
    assert now["text"].replace("xyz", "", 1) == TEXT1
    after = tool.info()
    assert d.child(after, ID["Label1"])["text"] == "0"
    assert d.child(after, ID["Label3"])["text"] == d.NO_TARGET
    assert d.child(after, ID["HScroll1"])["scroll"]["pos"] == 0
    session.screenshot("layout-typed")


def test_tab_and_shift_tab_from_every_tab_stop(session, tool):
    """The keyboard moves between the bar and the text box both ways, from
    either one, and the labels never take the focus."""
    info = tool.info()
    bar, text1 = d.child(info, ID["HScroll1"])["hwnd"], d.child(info, ID["Text1"])["hwnd"]
    # The tool in front with the focus in the text box, as a user leaves it
    # after a click there.
    session.input.click(*d.child_center(info, d.child(info, ID["Text1"])))
    d.poll(lambda: tool.info()["focus"] == text1, what="focus in the text box")
    for keys, expected in (("Tab", bar), ("Tab", text1), ("shift+Tab", bar), ("shift+Tab", text1),
                           ("shift+Tab", bar), ("Tab", text1)):
        before = tool.info()["focus"]
        session.input.key(keys)
        d.poll(lambda: tool.info()["focus"] == expected,
               what="%s from %d to move the focus to %d" % (keys, before, expected))
    # Tab typed nothing into the text box and moved nothing else.
    after = tool.info()
    assert "\t" not in d.child(after, ID["Text1"])["text"]
    assert d.child(after, ID["HScroll1"])["scroll"]["pos"] == 0
    assert d.child(after, ID["Label1"])["text"] == "0"


@pytest.mark.parametrize("dpi", [120, 144])
def test_layout_follows_the_dpi(session, dpi):
    """At a DPI other than 96, as Windows XP to 7 and Wine tell it: every box
    its twips at that DPI, the font 9 points at that DPI, the labels sized to
    their texts in it, nothing clipped or overlapping."""
    session.restart(dpi)  # ends the tool of the tests above
    info = session.tool().info()
    assert info["dpi"] == dpi, "the prefix tells programs %d dpi" % dpi
    client = (info["client"]["width"], info["client"]["height"])
    assert client == tuple(pixels(t, dpi) for t in CLIENT_TWIPS), "client area"
    for name, twips in TWIPS.items():
        r = d.child(info, ID[name])["rect"]
        want = tuple(pixels(t, dpi) for t in twips)
        assert (r["left"], r["top"], r["width"], r["height"])[:len(want)] == want, name
    for name in LABELS:
        c = d.child(info, ID[name])
        m, r = c["measured"], c["rect"]
        # The font is 9 points at this DPI: its characters are at least that
        # high (they were 12 pixels at any DPI before).
        assert m["tmHeight"] >= (9 * dpi + 36) // 72, "the font's height"
        assert (r["width"], r["height"]) == (m["width"], m["tmHeight"]), "%s sized to its text" % name
        assert 0 <= r["left"] and r["right"] <= client[0] and 0 <= r["top"] and r["bottom"] <= client[1], \
            "%r inside the client area: %r" % (c["text"], r)
    boxes = [d.child(info, ID[name])["rect"] for name in LABELS + ["HScroll1", "Text1"]]
    for i, a in enumerate(boxes):
        for b in boxes[i + 1:]:
            assert not (a["left"] < b["right"] and b["left"] < a["right"] and
                        a["top"] < b["bottom"] and b["top"] < a["bottom"]), "%r overlaps %r" % (a, b)
    assert d.child(info, ID["Text1"])["text"] == TEXT1
    session.screenshot("layout-%ddpi" % dpi)

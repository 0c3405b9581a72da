"""The tool window as it opens: caption, size, styles, every control, the
labels' sizes in the window's font, the initial focus; typing into the text
box; Tab and Shift+Tab between the tab stops; and the same layout at 120 and
144 dpi, scaled from its twips."""

import re

import harness as h

TEXT1 = ("声明：本软件仅用作交流使用，禁止用于其他用途，若因使用不当造成的一切后果自负。\r\n"
         "邮箱：kavrelo@example.com\r\n"
         "官方网站：https://www.example.com/kavrelo\r\n"
         "感谢下载！\r\n"
         "    Pelloria\r\n")

# id, class, x, y, initial text (positions in client coordinates at 96 dpi).
CONTROLS = [
    (h.ID_HSCROLL1, "ScrollBar", 8, 32, ""),
    (h.ID_LABEL1, "Static", 16, 64, "0"),
    (h.ID_LABEL2, "Static", 8, 8, "0"),
    (h.ID_LABEL4, "Static", 384, 64, "255"),
    (h.ID_LABEL5, "Static", 56, 64, "请将鼠标移至欲调整的窗口上，按F1后调整滚动条。"),
    (h.ID_LABEL3, "Static", 360, 8, "未设置窗口"),
    (h.ID_LABEL6, "Static", 8, 88, "版本：1.0"),
    (h.ID_TEXT1, "Edit", 8, 112, TEXT1),
]
LABELS = [h.ID_LABEL1, h.ID_LABEL2, h.ID_LABEL4, h.ID_LABEL5, h.ID_LABEL3, h.ID_LABEL6]

# The layout as stored, in twips (15 to a pixel at 96 dpi): the client area,
# and the boxes that do not size themselves to a text.
CLIENT_TWIPS = (6405, 3090)
TWIPS = {h.ID_HSCROLL1: (120, 480, 6015, 255), h.ID_TEXT1: (120, 1680, 6135, 1215),
         h.ID_LABEL1: (240, 960), h.ID_LABEL2: (120, 120), h.ID_LABEL3: (5400, 120),
         h.ID_LABEL4: (5760, 960), h.ID_LABEL5: (840, 960), h.ID_LABEL6: (120, 1320)}


def pixels(twips, dpi):
    """Twips to pixels at a DPI, to the nearest pixel (halves up)."""
    return (twips * dpi + 720) // 1440


def start_tool(case):
    # Keep the pointer away from where the window opens, so that Label2
    # keeps showing a handle that is not the tool's.
    h.mousemove(1270, 790)
    case.tool = h.Tool(case.probe)
    case.addClassCleanup(case.tool.stop)
    case.first = case.tool.info()


class Layout(h.WineTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        start_tool(cls)

    # The tests run in the order of their names.
    def test_01_initial_focus_is_on_the_scroll_bar(self):
        bar = h.child(self.first, h.ID_HSCROLL1)
        self.assertEqual(self.first["focus"], bar["hwnd"])

    def test_02_window(self):
        info = self.tool.info()
        self.assertEqual(info["caption"], "Kavrelo")
        self.assertEqual((info["client"]["width"], info["client"]["height"]), (427, 206))
        style, ex = info["style"], info["exstyle"]
        self.assertEqual(style & h.WS_CAPTION, h.WS_CAPTION, "caption")
        self.assertTrue(style & h.WS_SYSMENU, "system menu")
        self.assertFalse(style & h.WS_THICKFRAME, "sizing border")
        self.assertFalse(style & h.WS_MINIMIZEBOX, "minimize box")
        self.assertFalse(style & h.WS_MAXIMIZEBOX, "maximize box")
        self.assertFalse(ex & h.WS_EX_TOPMOST, "topmost")
        self.assertFalse(info["topmost"])
        self.assertTrue(info["visible"])
        self.assertIsNone(info["layered"], "the tool window itself is not layered")
        self.assertEqual(info["owner"], 0)

    def test_03_controls_in_order(self):
        info = self.tool.info()
        got = [(c["id"], c["class"].lower()) for c in info["children"]]
        want = [(i, cls.lower()) for i, cls, _, _, _ in CONTROLS]
        self.assertEqual(got, want, "children in z/tab order")
        for ctrl_id, cls, x, y, text in CONTROLS:
            with self.subTest(ctrl_id=ctrl_id):
                c = h.child(info, ctrl_id)
                self.assertEqual((c["rect"]["left"], c["rect"]["top"]), (x, y), "position")
                self.assertTrue(c["visible"])
                if ctrl_id != h.ID_LABEL2:  # follows the pointer
                    self.assertEqual(c["text"], text)

    def test_04_scroll_bar(self):
        bar = h.child(self.tool.info(), h.ID_HSCROLL1)
        self.assertEqual((bar["rect"]["width"], bar["rect"]["height"]), (401, 17))
        self.assertFalse(bar["style"] & h.SBS_VERT, "horizontal")
        self.assertTrue(bar["style"] & h.WS_TABSTOP)
        self.assertEqual((bar["scroll"]["min"], bar["scroll"]["max"], bar["scroll"]["pos"]), (0, 255, 0))

    def test_05_text_box(self):
        text = h.child(self.tool.info(), h.ID_TEXT1)
        self.assertEqual((text["rect"]["width"], text["rect"]["height"]), (409, 81))
        self.assertTrue(text["style"] & h.ES_MULTILINE, "multi-line")
        self.assertFalse(text["style"] & h.ES_READONLY, "editable")
        self.assertFalse(text["style"] & (h.WS_VSCROLL | h.WS_HSCROLL), "no scroll bars")
        self.assertTrue(text["style"] & h.WS_TABSTOP)
        self.assertEqual(text["text"], TEXT1)
        self.assertEqual(text["text"].count("\r\n"), 5)

    def test_06_labels_fit_their_text(self):
        info = self.tool.info()
        for ctrl_id in LABELS:
            with self.subTest(ctrl_id=ctrl_id):
                c = h.child(info, ctrl_id)
                m = c["measured"]
                self.assertGreater(m["width"], 0)
                self.assertEqual(c["rect"]["width"], m["width"], "width of %r" % c["text"])
                self.assertEqual(c["rect"]["height"], m["tmHeight"], "height of %r" % c["text"])

    def test_07_pointer_handle_and_no_target_yet(self):
        # Label2 shows a handle number; no capture has happened.
        self.tool.wait_text(h.ID_LABEL3, "未设置窗口")
        label2 = h.poll(lambda: re.fullmatch(r"-?\d+", self.tool.text(h.ID_LABEL2)), what="a number in Label2")
        self.assertTrue(label2)
        self.assertEqual(self.tool.text(h.ID_LABEL1), "0")

    def test_09_text_box_takes_typing(self):
        info = self.tool.info()
        text1 = h.child(info, h.ID_TEXT1)
        # Click at the end of the last line ("    Pelloria"), then type there.
        r = text1["rect"]
        h.click(*h.client_to_screen(info, r["right"] - 10, r["bottom"] - 6))
        h.poll(lambda: self.tool.info()["focus"] == text1["hwnd"], what="focus on the text box")
        h.type_text("xyz")
        now = h.poll(lambda: (lambda c: c if "xyz" in c["text"] else None)(self.tool.child(h.ID_TEXT1)),
                     what="typed text in the text box")
        self.assertEqual(now["text"].replace("xyz", "", 1), TEXT1)
        after = self.tool.info()
        self.assertEqual(h.child(after, h.ID_LABEL1)["text"], "0")
        self.assertEqual(h.child(after, h.ID_LABEL3)["text"], "未设置窗口")
        self.assertEqual(h.child(after, h.ID_HSCROLL1)["scroll"]["pos"], 0)
        h.screenshot("layout-typed")

    def test_10_tab_and_shift_tab_from_every_tab_stop(self):
        """The keyboard moves between the bar and the text box both ways,
        from either one, and the labels never take the focus."""
        info = self.tool.info()
        bar, text1 = h.child(info, h.ID_HSCROLL1)["hwnd"], h.child(info, h.ID_TEXT1)["hwnd"]
        # The tool in front with the focus in the text box, as a user leaves
        # it after a click there.
        h.click(*h.child_center(info, h.child(info, h.ID_TEXT1)))
        h.poll(lambda: self.tool.info()["focus"] == text1, what="focus in the text box")
        for keys, expected in (("Tab", bar), ("Tab", text1), ("shift+Tab", bar), ("shift+Tab", text1),
                               ("shift+Tab", bar), ("Tab", text1)):
            before = self.tool.info()["focus"]
            h.key(keys)
            h.poll(lambda: self.tool.info()["focus"] == expected,
                   what="%s from %d to move the focus to %d" % (keys, before, expected))
        # Tab typed nothing into the text box and moved nothing else.
        after = self.tool.info()
        self.assertNotIn("\t", h.child(after, h.ID_TEXT1)["text"])
        self.assertEqual(h.child(after, h.ID_HSCROLL1)["scroll"]["pos"], 0)
        self.assertEqual(h.child(after, h.ID_LABEL1)["text"], "0")


class LayoutAt120Dpi(h.WineTestCase):
    """The layout at a DPI other than 96, as Windows XP to 7 and Wine tell it:
    every box its twips at that DPI, the font 9 points at that DPI, the labels
    sized to their texts in it, nothing clipped."""

    dpi = 120

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        start_tool(cls)

    def test_layout_follows_the_dpi(self):
        info = self.first
        dpi = self.dpi
        self.assertEqual(info["dpi"], dpi, "the prefix tells programs %d dpi" % dpi)
        client = (info["client"]["width"], info["client"]["height"])
        self.assertEqual(client, tuple(pixels(t, dpi) for t in CLIENT_TWIPS), "client area")
        for ctrl_id, twips in TWIPS.items():
            with self.subTest(ctrl_id=ctrl_id):
                r = h.child(info, ctrl_id)["rect"]
                want = tuple(pixels(t, dpi) for t in twips)
                self.assertEqual((r["left"], r["top"], r["width"], r["height"])[:len(want)], want)
        labels = [h.child(info, i) for i in LABELS]
        for c in labels:
            with self.subTest(label=c["text"]):
                m = c["measured"]
                # The font is 9 points at this DPI: its characters are at
                # least that high (they were 12 pixels at any DPI before).
                self.assertGreaterEqual(m["tmHeight"], (9 * dpi + 36) // 72, "the font's height")
                self.assertEqual((c["rect"]["width"], c["rect"]["height"]), (m["width"], m["tmHeight"]),
                                 "sized to its text")
                r = c["rect"]
                self.assertTrue(0 <= r["left"] and r["right"] <= client[0] and 0 <= r["top"] and
                                r["bottom"] <= client[1], "%r inside the client area: %r" % (c["text"], r))
        # No label overlaps another or a control: each text is whole.
        boxes = [h.child(info, i)["rect"] for i in LABELS + [h.ID_HSCROLL1, h.ID_TEXT1]]
        for i, a in enumerate(boxes):
            for b in boxes[i + 1:]:
                overlap = (a["left"] < b["right"] and b["left"] < a["right"] and
                           a["top"] < b["bottom"] and b["top"] < a["bottom"])
                self.assertFalse(overlap, "%r overlaps %r" % (a, b))
        self.assertEqual(h.child(info, h.ID_TEXT1)["text"], TEXT1)
        h.screenshot("layout-%ddpi" % dpi)


class LayoutAt144Dpi(LayoutAt120Dpi):
    dpi = 144


if __name__ == "__main__":
    h.main()

"""The texts render on any system locale: run under en_US.UTF-8 (an English
locale, whose code page has no Chinese characters), the tool shows the same
texts as under zh_CN.UTF-8, and the font it asks for has a glyph for every
character of them (none shows as a box).  The screenshots of both runs are
kept side by side."""

import re
import subprocess

import harness as h

ENGLISH = "en_US.UTF-8"
TEXTS = [h.ID_LABEL1, h.ID_LABEL2, h.ID_LABEL3, h.ID_LABEL4, h.ID_LABEL5, h.ID_LABEL6, h.ID_TEXT1]


class Locale(h.WineTestCase):
    def helper(self, lang, *args):
        """probe.exe run once under lang (None: the default locale)."""
        env = dict(h.wine_env())
        if lang:
            env["KAVRELO_LANG"] = lang
        r = subprocess.run([h.wine_run(), h.env_path("KAVRELO_PROBE")] + [str(a) for a in args],
                           env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        self.assertEqual(r.returncode, 0, "probe %r: %r" % (args, r.stdout))
        return h.json.loads(r.stdout.decode("utf-8").strip().splitlines()[-1])

    def run_tool(self, lang):
        """Starts the tool under lang with the pointer over the desktop;
        returns its texts (Label2's after the first tick) and the characters
        its font has no glyph for under lang, then closes it."""
        h.mousemove(1270, 790)
        tool = h.Tool(self.probe, env={"KAVRELO_LANG": lang} if lang else None)
        self.addCleanup(tool.stop)
        tool.wait_text(h.ID_LABEL2, h.handle_text(self.probe.from_point(1270, 790)["hwnd"]))
        h.screenshot("locale-%s" % (lang or "default"))
        info = tool.info()
        texts = {i: h.child(info, i)["text"] for i in TEXTS}
        missing = {i: self.helper(lang, "missing-glyphs", h.child(info, i)["hwnd"])["missing"] for i in TEXTS}
        self.assertTrue(self.probe.post(tool.hwnd, h.WM_CLOSE))
        self.assertEqual(h.wait_exit(tool.proc), 0)
        return texts, missing

    def test_english_locale_shows_the_same_texts(self):
        # The setting reaches Wine: its own programs answer in English.
        env = dict(h.wine_env(), KAVRELO_LANG=ENGLISH)
        r = subprocess.run([h.wine_run(), "cmd.exe", "/c", "chcp"], env=env, stdin=subprocess.DEVNULL,
                           capture_output=True, timeout=120)
        self.assertIn(b"Active code page", r.stdout, "cmd under %s: %r" % (ENGLISH, r.stdout))

        default_texts, default_missing = self.run_tool(None)
        texts, missing = self.run_tool(ENGLISH)
        self.assertEqual(texts, default_texts)
        self.assertTrue(re.search(r"[\u4e00-\u9fff]", texts[h.ID_LABEL5]), texts[h.ID_LABEL5])
        self.assertEqual(default_missing, {i: "" for i in TEXTS})
        self.assertEqual(missing, {i: "" for i in TEXTS}, "characters with no glyph under %s" % ENGLISH)


if __name__ == "__main__":
    h.main()

"""The texts render on any system locale: run under en_US.UTF-8 (an English
locale, whose code page has no Chinese characters), the tool shows the same
texts as under zh_CN.UTF-8, and the font it asks for has a glyph for every
character of them (none shows as a box).  The screenshots of both runs are
kept side by side."""

import json
import re
import subprocess

import driver as d
from driver import ID

ENGLISH = "en_US.UTF-8"
TEXTS = ["Label1", "Label2", "Label3", "Label4", "Label5", "Label6", "Text1"]


def run_once(session, lang, *args):
    """A Windows program run to its end under lang (None: the default
    locale); returns its output."""
    env = dict(session.env, **({"KAVRELO_LANG": lang} if lang else {}))
    r = subprocess.run([d.WINE_RUN] + [str(a) for a in args], env=env, stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=120)
    assert r.returncode == 0, "%r: %r" % (args, r.stdout)
    return r.stdout


def run_tool(session, lang):
    """Starts the tool under lang with the pointer over the desktop; returns
    its texts (Label2's after the first tick) and the characters its font has
    no glyph for under lang, then closes it."""
    tool = session.tool(env={"KAVRELO_LANG": lang} if lang else None)
    tool.wait_text("Label2", d.handle_text(session.probe.at(*d.PARKED)["hwnd"]))
    session.screenshot("locale-%s" % (lang or "default"))
    info = tool.info()
    texts = {name: d.child(info, ID[name])["text"] for name in TEXTS}
    missing = {}
    for name in TEXTS:
        out = run_once(session, lang, d.program("probe.exe"), "missing-glyphs", d.child(info, ID[name])["hwnd"])
        missing[name] = json.loads(out.decode("utf-8").strip().splitlines()[-1])["missing"]
    assert session.probe.post(tool.hwnd, d.WM_CLOSE)
    assert session.wait_exit(tool.proc) == 0
    return texts, missing


def test_english_locale_shows_the_same_texts(session):
    # The setting reaches Wine: its own programs answer in English.
    assert b"Active code page" in run_once(session, ENGLISH, "cmd.exe", "/c", "chcp")
    default_texts, default_missing = run_tool(session, None)
    texts, missing = run_tool(session, ENGLISH)
    assert texts == default_texts
    assert re.search(r"[\u4e00-\u9fff]", texts["Label5"]), texts["Label5"]
    assert default_missing == {name: "" for name in TEXTS}
    assert missing == {name: "" for name in TEXTS}, "characters with no glyph under %s" % ENGLISH

#!/usr/bin/env python3
"""The headless demonstration: Kavrelo makes a Wine notepad half transparent.

    demo.py --exe build/mingw32/bin/Kavrelo.exe --out build/demo

Runs in a session of the driver (scripts/pylib/driver.py): a private Xvfb
and a Wine prefix of its own (build/wineprefix-demo-ARCH), and every program
it starts, all ended on every way out.  It starts notepad and types a line
into it, starts Kavrelo, points at notepad and holds F1 (the tool takes
notepad as its target), then moves the bar to 128 with the keyboard.  It
reads the alpha back from notepad's window, from another process, and from
its X window, and saves a screenshot at each step in the output folder; the
last one, cropped, is kavrelo-demo.png.

Xvfb draws every window opaque: the transparency shows in the screenshots
only when a compositing manager (xcompmgr) is installed, which the demo then
starts.  Without one it says so; the alpha is verified by reading it back.
"""

import argparse
import os
import shutil
import signal
import sys
import time

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "scripts", "pylib"))

import driver  # noqa: E402

VALUE = 128
NOTEPAD_AT = (360, 200, 600, 380)  # x, y, width, height: its corner behind the tool window
TEXT = "Hello from Kavrelo: this notepad is half transparent."
CROP = (0, 0, 980, 600)  # x, y, width, height of the picture for the README


def say(*parts):
    print("demo:", *parts, flush=True)


def pixel(path, x, y):
    """The (r, g, b) of one pixel of a screenshot."""
    with Image.open(path) as image:
        return image.convert("RGB").getpixel((x, y))


def interrupted(signum, frame):
    raise KeyboardInterrupt("signal %d" % signum)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--exe", required=True, help="Kavrelo.exe (probe.exe and target.exe beside it)")
    parser.add_argument("--out", required=True, help="folder for the screenshots")
    args = parser.parse_args()
    for sig in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, interrupted)
    exe = os.path.abspath(args.exe)
    os.environ["KAVRELO_BIN"] = os.path.dirname(exe)
    os.environ["KAVRELO_E2E_OUT"] = os.path.abspath(args.out)
    for name in ("probe.exe", "target.exe"):
        driver.program(name)  # fails when it is not built
    # Each architecture needs a prefix of its own (scripts/wine-run).
    prefix = os.path.join(driver.REPO, "build", "wineprefix-demo-" + driver.arch())
    say("Wine prefix", prefix, "(created on first use: 10-20 s)")
    with driver.Session(prefix=prefix) as s:
        return demo(s, exe)


def demo(s, exe):
    probe = s.probe
    compositor = None
    if shutil.which("xcompmgr"):
        # A compositing manager, so that the opacity Wine gives a layered
        # window's X window shows in the pixels (Xvfb alone draws every
        # window opaque).  It paints the root window grey.
        compositor = s.start_native("xcompmgr")
        driver.stays(lambda: compositor.poll() is None, 0.5, what="xcompmgr running")
    say("compositing manager:", "xcompmgr started" if compositor else
        "none installed (xcompmgr): Xvfb will draw every window opaque")

    notepad = s.notepad(NOTEPAD_AT)
    n = notepad.hwnd
    c = probe.info(n)["client"]
    s.input.click(c["x"] + 200, c["y"] + 100)
    s.wait_foreground(n, what="notepad in front")
    s.input.type_text(TEXT)
    edit = [w for w in probe.info(n)["children"] if w["class"].lower() == "edit"][0]["hwnd"]
    driver.poll(lambda: probe.info(edit)["caption"] == TEXT, what="the text in notepad")
    say("notepad started (window %d) and the line %r typed into it" % (n, TEXT))
    s.screenshot("1-notepad")

    tool = s.tool(exe)
    tool.wait_text("Label3", driver.NO_TARGET)
    say("Kavrelo started (window %d); Label3 shows %r" % (tool.hwnd, tool.text("Label3")))
    s.screenshot("2-kavrelo")

    # Point at notepad's menu bar (its top-level window, not the edit child)
    # and hold F1 until the tool shows the handle.
    tool.capture_at(*notepad.menu_bar_point(420), expect=n)
    say("pointed at notepad and held F1: Label3 shows %s, notepad's handle" % tool.text("Label3"))
    shot_opaque = s.screenshot("3-captured")

    # The bar has the keyboard focus (the tool came up last, with the X
    # focus: kept there): Page Down steps 10, Right steps 1.
    s.x_focus(tool)
    s.input.key(*["Next"] * (VALUE // 10) + ["Right"] * (VALUE % 10))
    tool.wait_text("Label1", str(VALUE))
    info = driver.poll(lambda: (lambda i: i if i["layered"] and i["layered"]["alpha"] == 255 - VALUE else None)(
        probe.info(n)), what="notepad's alpha")
    layered = info["layered"]
    xid = s.xid(info, notepad.proc)
    opacity = s.x.opacity(xid) if xid else None
    say("moved the bar to %s (Label1 shows %s)" % (VALUE, tool.text("Label1")))
    say("read back from notepad's window: exstyle 0x%08X (WS_EX_LAYERED %s), alpha %d, key %d, flags %d"
        % (info["exstyle"], "set" if info["exstyle"] & driver.WS_EX_LAYERED else "NOT set",
           layered["alpha"], layered["key"], layered["flags"]))
    say("its X window's _NET_WM_WINDOW_OPACITY: %s (alpha %d * 0x01010101 = 0x%08X)"
        % ("0x%08X" % opacity if opacity is not None else "not set", 255 - VALUE, (255 - VALUE) * 0x01010101))

    # Does the screen show it?  A point of notepad's text area.
    probe_point = (c["x"] + 400, c["y"] + 250)
    before = pixel(shot_opaque, *probe_point)
    deadline = time.monotonic() + (10 if compositor else 1)
    while True:
        shot = s.screenshot("4-half-transparent")
        after = pixel(shot, *probe_point)
        if after != before or time.monotonic() > deadline:
            break
        time.sleep(0.3)
    if after != before:
        say("the screen shows it: notepad's white %r is now %r, blended with what lies behind" % (before, after))
    else:
        say("the screen does not show it: Xvfb draws no transparency without a compositing manager "
            "(pixel %r before and after); the alpha was verified by reading it back" % (before,))
    cropped = os.path.join(driver.out_dir(), "kavrelo-demo.png")
    with Image.open(shot) as image:
        image.crop((CROP[0], CROP[1], CROP[0] + CROP[2], CROP[1] + CROP[3])).save(cropped)
    say("screenshots in", driver.out_dir(), "; the last one cropped:", cropped)
    ok = (info["exstyle"] & driver.WS_EX_LAYERED and layered == {"key": 0, "alpha": 255 - VALUE,
                                                                 "flags": driver.LWA_ALPHA}
          and opacity == (255 - VALUE) * 0x01010101)
    say("verified" if ok else "NOT as expected")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())

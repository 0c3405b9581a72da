#!/usr/bin/env python3
"""The headless demonstration: Kavrelo makes a Wine notepad half transparent.

    demo.py --exe build/mingw32/bin/Kavrelo.exe --out build/demo

Runs on the current X display (scripts/with-display gives it a private Xvfb)
in a Wine prefix of its own (build/wineprefix-demo).  It starts notepad and
types a line into it, starts Kavrelo, points at notepad and holds F1 (the
tool takes notepad as its target), then moves the bar to 128 with the
keyboard.  It reads the alpha back from notepad's window, from another
process, and from its X window, and saves a screenshot at each step in the
output folder; the last one, cropped, is kavrelo-demo.png.

Xvfb draws every window opaque: the transparency shows in the screenshots
only when a compositing manager (xcompmgr) is installed, which the demo then
starts.  Without one it says so; the alpha is verified by reading it back.
"""

import argparse
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))

VALUE = 128
NOTEPAD_AT = (360, 200, 600, 380)  # x, y, width, height: its corner behind the tool window
TEXT = "Hello from Kavrelo: this notepad is half transparent."
CROP = (0, 0, 980, 600)  # x, y, width, height of the picture for the README


def say(*parts):
    print("demo:", *parts, flush=True)


def setup_env(exe, out):
    exe = os.path.abspath(exe)
    bin_dir = os.path.dirname(exe)
    env = {
        "KAVRELO_EXE": exe,
        "KAVRELO_PROBE": os.path.join(bin_dir, "probe.exe"),
        "KAVRELO_TARGET": os.path.join(bin_dir, "target.exe"),
        "KAVRELO_WINE_RUN": os.path.join(REPO, "scripts", "wine-run"),
        # Each architecture needs a prefix of its own (scripts/wine-run).
        "KAVRELO_WINEPREFIX": os.path.join(REPO, "build", "wineprefix-demo-" + h.wine_arch()),
        "KAVRELO_E2E_OUT": os.path.abspath(out),
    }
    for name in ("KAVRELO_EXE", "KAVRELO_PROBE", "KAVRELO_TARGET", "KAVRELO_WINE_RUN"):
        if not os.path.exists(env[name]):
            sys.exit("demo: %s not found (build it first: make windows)" % env[name])
    os.environ.update(env)
    os.makedirs(env["KAVRELO_E2E_OUT"], exist_ok=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--exe", required=True, help="Kavrelo.exe (probe.exe and target.exe beside it)")
    parser.add_argument("--out", required=True, help="folder for the screenshots")
    args = parser.parse_args()
    if not os.environ.get("DISPLAY"):
        sys.exit("demo: no X display (run it through scripts/with-display)")
    setup_env(args.exe, args.out)

    say("Wine prefix", os.environ["KAVRELO_WINEPREFIX"], "(created on first use: 10-20 s)")
    h.shutdown_wine()
    h.prepare_prefix()
    probe = None
    try:
        probe = h.Probe()
        compositor = h.start_compositor()
        say("compositing manager:", "xcompmgr started" if compositor else
            "none installed (xcompmgr): Xvfb will draw every window opaque")
        h.mousemove(1270, 790)

        notepad, n = h.start_notepad(probe, NOTEPAD_AT)
        c = probe.info(n)["client"]
        h.click(c["x"] + 200, c["y"] + 100)
        h.poll(lambda: probe.call("foreground")["hwnd"] == n, what="notepad in front")
        h.type_text(TEXT)
        edit = [w for w in probe.info(n)["children"] if w["class"].lower() == "edit"][0]["hwnd"]
        h.poll(lambda: probe.info(edit)["caption"] == TEXT, what="the text in notepad")
        say("notepad started (window %d) and the line %r typed into it" % (n, TEXT))
        h.screenshot("1-notepad")

        tool = h.Tool(probe)
        tool.wait_text(h.ID_LABEL3, "未设置窗口")
        say("Kavrelo started (window %d); Label3 shows %r" % (tool.hwnd, tool.text(h.ID_LABEL3)))
        h.screenshot("2-kavrelo")

        # Point at notepad's menu bar (its top-level window, not the edit
        # child) and hold F1 until the tool shows the handle.
        x, y = c["x"] + 420, c["y"] - 5
        h.mousemove(x, y)
        if probe.from_point(x, y)["hwnd"] != n:
            raise AssertionError("the point %d,%d is not over notepad's window" % (x, y))
        tool.wait_text(h.ID_LABEL2, h.handle_text(n))
        tool.capture_with_f1(n)
        say("pointed at notepad and held F1: Label3 shows %s, notepad's handle" % tool.text(h.ID_LABEL3))
        shot_opaque = h.screenshot("3-captured")

        # The bar has the keyboard focus: Page Down steps 10, Right steps 1.
        for _ in range(VALUE // 10):
            h.key("Next")
        for _ in range(VALUE % 10):
            h.key("Right")
        tool.wait_text(h.ID_LABEL1, str(VALUE))
        info = h.poll(lambda: (lambda i: i if i["layered"] and i["layered"]["alpha"] == 255 - VALUE else None)(
            probe.info(n)), what="notepad's alpha")
        layered = info["layered"]
        xid = h.xid_of(info, notepad)
        opacity = h.x_opacity(xid) if xid else None
        say("moved the bar to %s (Label1 shows %s)" % (VALUE, tool.text(h.ID_LABEL1)))
        say("read back from notepad's window: exstyle 0x%08X (WS_EX_LAYERED %s), alpha %d, key %d, flags %d"
            % (info["exstyle"], "set" if info["exstyle"] & h.WS_EX_LAYERED else "NOT set",
               layered["alpha"], layered["key"], layered["flags"]))
        say("its X window's _NET_WM_WINDOW_OPACITY: %s (alpha %d * 0x01010101 = 0x%08X)"
            % ("0x%08X" % opacity if opacity is not None else "not set", 255 - VALUE, (255 - VALUE) * 0x01010101))

        # Does the screen show it?  A point of notepad's text area.
        probe_point = (c["x"] + 400, c["y"] + 250)
        before = h.pixel(shot_opaque, *probe_point)
        shot = None
        deadline = time.monotonic() + (10 if compositor else 1)
        while True:
            shot = h.screenshot("4-half-transparent")
            after = h.pixel(shot, *probe_point)
            if after != before or time.monotonic() > deadline:
                break
            time.sleep(0.3)
        if after != before:
            say("the screen shows it: notepad's white %r is now %r, blended with what lies behind" % (before, after))
        else:
            say("the screen does not show it: Xvfb draws no transparency without a compositing manager "
                "(pixel %r before and after); the alpha was verified by reading it back" % (before,))
        cropped = os.path.join(h.out_dir(), "kavrelo-demo.png")
        subprocess.run(["convert", shot, "-crop", "%dx%d+%d+%d" % (CROP[2], CROP[3], CROP[0], CROP[1]),
                        "+repage", cropped], check=True, timeout=30)
        say("screenshots in", h.out_dir(), "; the last one cropped:", cropped)
        ok = (info["exstyle"] & h.WS_EX_LAYERED and layered == {"key": 0, "alpha": 255 - VALUE, "flags": h.LWA_ALPHA}
              and opacity == (255 - VALUE) * 0x01010101)
        say("verified" if ok else "NOT as expected")
        return 0 if ok else 1
    finally:
        if probe is not None:
            probe.close()
        h.kill_all()
        h.shutdown_wine()


if __name__ == "__main__":
    sys.exit(main())

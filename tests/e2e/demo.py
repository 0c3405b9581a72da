"""The headless demonstration of `make run` (scripts/run-kavrelo): on a private
Xvfb, Kavrelo takes a Wine notepad as its target and makes it half
transparent; the alpha is read back from notepad's window by another process,
and a screenshot is saved at each step (KAVRELO_E2E_OUT). With xcompmgr
installed the transparency shows in the pictures; Xvfb alone draws every
window opaque."""

import shutil
import sys

import driver

VALUE = 128


def demo(s):
    if shutil.which("xcompmgr"):
        s.start("xcompmgr")
    notepad = s.notepad(360, 200)
    tool = driver.Tool(s)
    print("demo: notepad (window %d) and Kavrelo (window %d) started" % (notepad, tool.hwnd))
    s.screenshot("1-started")
    # Notepad's menu bar is its top-level window (its middle is the edit child).
    info = s.probe("info", notepad)
    tool.activate()
    tool.capture(info["x"] + 300, info["y"] - 5)
    print("demo: pointed at notepad and held F1: Label3 shows", tool.text("Label3"))
    s.screenshot("2-captured")
    for _ in range(VALUE // 10):
        s.key("Next")
    for _ in range(VALUE % 10):
        s.key("Right")
    tool.wait_text("Label1", str(VALUE))
    tool.wait_alpha(notepad, VALUE)
    print("demo: the bar at %d; notepad's layered attributes read back: %r" % (
        VALUE, s.probe("info", notepad)["layered"]))
    print("demo: screenshots in", s.out, "(the last:", s.screenshot("3-half-transparent") + ")")


if __name__ == "__main__":
    session = driver.Session()
    try:
        demo(session)
    finally:
        session.close()
    sys.exit(0)

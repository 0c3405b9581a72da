#!/usr/bin/env python3
"""Soak: Kavrelo under Wine for a while, used as a user would use it.

    soak.py [--minutes N | --seconds N] [--seed S]

A driver moves the pointer across several real windows (three target.exe and
Wine's notepad, top-level windows and their children), holds F1 down to
capture one of them (sometimes sweeping over several while F1 is held), and
moves the bar in batches: arrow clicks, trough clicks, arrow keys, Page Up /
Page Down, Home / End, thumb drags.  Now and then a target is closed (while
it is the captured one, and the bar is moved with it gone) and opened again.

After every batch: the process still runs, no message box has appeared,
Label1 and the bar show the value the inputs lead to, and the captured
window's alpha is 255 - that value.  Every capture checks that the tool still
ticks (Label2 follows the pointer before F1 is pressed).

Samples of the tool process (VmRSS, VmHWM, private memory, open fds, threads,
its thread's windows, and GetGuiResources / GetProcessHandleCount where Wine
reports them) are taken at a fixed number of points over the run; the run
fails when a late window of samples has grown beyond an allowance over an
early window taken after a warm-up.

Outside CTest it starts its own Xvfb (scripts/with-display) and uses a Wine
prefix of its own under build/.  Exit code 0 when every check held.
"""

import argparse
import json
import os
import random
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import rel  # noqa: E402

h = rel.h
procsample = h.procsample

# Growth allowed between the early and the late window of samples (medians).
# Measured over a 10-minute run (8700 bar inputs, 635 captures): the tool's
# private memory moved within 280 KiB either way, VmRSS by 4 KiB; open fds,
# threads and the thread's windows never moved.  The allowances are about
# twice the swing seen, and exact for the window count.
ALLOWANCE = {
    "private": 512,     # KiB
    "rss": 512,         # KiB
    "fds": 2,
    "threads": 1,
    "windows": 0,       # the tool thread's windows (top-level + children)
    "user": 5,          # USER objects, when Wine reports them
    "gdi": 5,           # GDI objects, when Wine reports them
    "handles": 5,       # process handles, when Wine reports them
}

# Where the windows go on the 1280 x 800 screen (the tool sits at 0,0).
TARGET_AT = [(460, 10), (460, 280), (20, 290)]
NOTEPAD_AT = (880, 300)


class SoakFailure(AssertionError):
    pass


class Soak:
    def __init__(self, seconds, seed):
        self.seconds = seconds
        self.rng = random.Random(seed)
        self.seed = seed
        self.counts = {"inputs": 0, "value_changes": 0, "batches": 0, "captures": 0, "sweeps": 0,
                       "closed": 0, "reopened": 0, "changes_without_target": 0, "checks": 0,
                       "child_captures": 0, "notepad_captures": 0}
        self.samples = []
        self.targets = [None] * len(TARGET_AT)
        self.value = 0
        self.captured = None  # handle of the captured window, or None
        self.trace = []  # the last batches, for a failure's report
        # True from a capture until the bar's value next changes: a click
        # that leaves the value as it is (an arrow at its end) changes
        # nothing, so the new capture has not been given the value yet.
        self.fresh_capture = False

    # --- set-up -------------------------------------------------------------

    def start(self):
        h.shutdown_wine()
        h.prepare_prefix()
        # One probe: the end-to-end harness's reads and the reliability ones.
        self.probe = self.helper = rel.Helper()
        h.mousemove(1270, 790)
        for i in range(len(TARGET_AT)):
            self.open_target(i)
        self.notepad, self.notepad_hwnd = h.start_notepad(self.probe, NOTEPAD_AT)
        self.tool = h.Tool(self.probe)
        info = self.tool.info()
        self.win_pid = info["pid"]
        self.unix_pid = self.tool.proc.pid
        if procsample.name(self.unix_pid) != "Kavrelo.exe":
            raise SoakFailure("process %d is %r, not Kavrelo.exe" % (self.unix_pid, procsample.name(self.unix_pid)))
        self.client = (info["client"]["x"], info["client"]["y"])
        self.bar = rel.bar_points(*self.client)
        self.server_pid = rel.wineserver_pid()
        self.tool_xid = h.xid_for(info, self.unix_pid)
        if not self.tool_xid:
            raise SoakFailure("no X window for the tool")
        self.focus_tool()

    def open_target(self, i):
        t = h.Target("SoakTarget%d" % i, *TARGET_AT[i])
        self.targets[i] = t
        return t

    def focus_tool(self):
        """Brings the tool to the front as a user would, with a click on the
        bar's left arrow (a change like any other)."""
        self.click_batch("left_arrow", 1)
        h.poll(lambda: self.probe.call("foreground")["hwnd"] == self.tool.hwnd, what="the tool in front")

    # --- checks -------------------------------------------------------------

    def check_alive(self):
        if self.tool.proc.poll() is not None:
            raise SoakFailure("Kavrelo ended with exit code %r" % self.tool.proc.returncode)
        boxes = self.helper.boxes(self.win_pid)
        if boxes:
            h.screenshot("soak-message-box")
            raise SoakFailure("a message box appeared: %r" % [self.probe.info(b) for b in boxes])

    def check_value(self):
        """Label1 and the bar show the expected value; the captured window
        (when it still exists) has alpha 255 - value."""
        expected = str(self.value)

        def agrees():
            s = self.helper.state(self.tool.hwnd)
            if s["texts"].get("101") != expected or s["bar"] != self.value:
                return False
            if self.captured is None or self.fresh_capture:
                return s
            l = self.helper.layered(self.captured)
            if not l["exists"]:
                return s
            return s if (l["layered"] and l["layered"]["alpha"] == 255 - self.value
                         and l["exstyle"] & h.WS_EX_LAYERED) else False
        try:
            h.poll(agrees, what="value %d applied" % self.value)
        except h.Timeout:
            s = self.helper.state(self.tool.hwnd)
            l = self.helper.layered(self.captured) if self.captured else None
            h.screenshot("soak-value-mismatch")
            i = self.tool.info()
            h.log("at the mismatch: focus", i["focus"], "active", i["active"], "foreground", i["foreground"],
                  "cursor", self.probe.cursor(), "bar", h.child(i, h.ID_HSCROLL1)["hwnd"])
            h.log("X focus", h.x_focus(), "tool X window", self.tool_xid)
            raise SoakFailure("expected value %d: Label1 %r, bar %r, target %r layered %r; last batches %s" % (
                self.value, s["texts"].get("101"), s["bar"], self.captured, l, self.trace))
        self.counts["checks"] += 1

    # --- bar changes ----------------------------------------------------------

    def predict(self, step):
        before = self.value
        self.value = max(0, min(255, self.value + step))
        if self.value != before:
            self.counts["value_changes"] += 1
            self.fresh_capture = False

    def click_batch(self, part, n):
        x, y = self.bar[part]
        h.mousemove(x, y)
        step = {"left_arrow": -1, "right_arrow": 1, "trough_left": -10, "trough_right": 10}[part]
        for _ in range(n):
            # One click at a time, spaced beyond the double-click time: the
            # bar takes a double click as a single press.
            h.xdotool("click", 1)
            self.predict(step)
            self.counts["inputs"] += 1

    def key_batch(self, name, n):
        # Without a window manager, X keeps the keyboard on the window Wine
        # last gave it to (a program started later), and keys typed there do
        # not reach the tool: give the tool the X focus, as a window manager
        # does when the user clicks on it.
        h.x_focus_window(self.tool_xid)
        step = {"Right": 1, "Left": -1, "Next": 10, "Prior": -10, "Home": -255, "End": 255}[name]
        h.xdotool("key", "--repeat", n, "--delay", 20, name)
        for _ in range(n):
            self.predict(step)
            self.counts["inputs"] += 1

    def drag(self):
        x = rel.thumb_x(self.client[0], self.value)
        to = self.rng.randint(self.bar["x0"] + rel.ARROW, self.bar["x0"] + rel.BAR_W - rel.ARROW)
        y = self.bar["y"]
        h.mousemove(x, y)
        h.xdotool("mousedown", 1)
        try:
            h.mousemove((x + to) // 2, y)
            h.mousemove(to, y)
        finally:
            h.xdotool("mouseup", 1)
        self.counts["inputs"] += 1

        # The value the drag leads to is read back (it depends on where the
        # thumb was grabbed, to a few steps); it must then agree everywhere.
        # Until the tool has taken the release, Label1 and the bar still
        # agree on the value before the drag: wait for one near the drop.
        near = rel.thumb_value(self.client[0], to)

        def settled():
            s = self.helper.state(self.tool.hwnd)
            return s if s["texts"].get("101") == str(s["bar"]) and abs(s["bar"] - near) <= 4 else False
        s = h.poll(settled, what="Label1 to agree with the bar near %d after a drag" % near)
        before, self.value = self.value, s["bar"]
        if self.value != before:
            self.counts["value_changes"] += 1
            self.fresh_capture = False

    def change_batch(self):
        kind = self.rng.choice(["arrows", "arrows", "trough", "keys", "keys", "pages", "ends", "drag"])
        v = self.value
        if kind == "arrows":
            part = "right_arrow" if (v < 128) == (self.rng.random() < 0.8) else "left_arrow"
            self.click_batch(part, self.rng.randint(1, 6))
        elif kind == "trough":
            # Clicks on the trough away from the thumb: each pages by 10 and
            # the thumb never reaches the point clicked.
            if v < 128:
                self.click_batch("trough_right", self.rng.randint(1, max(1, (235 - v) // 10)))
            else:
                self.click_batch("trough_left", self.rng.randint(1, max(1, (v - 20) // 10)))
        elif kind == "keys":
            self.key_batch("Right" if (v < 128) == (self.rng.random() < 0.8) else "Left",
                           self.rng.randint(3, 25))
        elif kind == "pages":
            self.key_batch("Next" if v < 128 else "Prior", self.rng.randint(1, 6))
        elif kind == "ends":
            self.key_batch("End" if v < 128 else "Home", 1)
        else:
            self.drag()
        self.counts["batches"] += 1
        self.trace.append("%s %d->%d" % (kind, v, self.value))
        del self.trace[:-12]
        if self.captured is not None and not self.probe.exists(self.captured):
            self.counts["changes_without_target"] += 1
        self.check_value()
        self.check_alive()

    # --- capture --------------------------------------------------------------

    def candidates(self):
        """(kind, screen point) of windows to capture."""
        out = []
        for t in self.targets:
            if t is None:
                continue
            info = self.probe.info(t.hwnd)
            if "error" in info:
                continue
            c = info["client"]
            out.append(("target", (c["x"] + self.rng.randint(150, c["width"] - 10),
                                   c["y"] + self.rng.randint(140, c["height"] - 10))))
            out.append(("child", h.child_center(info, h.child(info, self.rng.choice([1, 2, 3])))))
        info = self.probe.info(self.notepad_hwnd)
        c = info["client"]
        out.append(("notepad", (c["x"] + self.rng.randint(20, 200), c["y"] + self.rng.randint(20, 200))))
        out.append(("notepad-frame", (c["x"] + self.rng.randint(80, 200), c["y"] - 3)))
        return out

    def point_at(self, x, y):
        """Moves the pointer and waits until Label2 shows the window there:
        the tool keeps ticking."""
        h.mousemove(x, y)
        seen = self.probe.from_point(x, y)
        if seen["class"] == "#32769":
            # Only windows of programs are captured here (the desktop is one
            # of the fault checks).
            raise SoakFailure("the point %d,%d is over the desktop" % (x, y))
        self.tool.wait_text(h.ID_LABEL2, h.handle_text(seen["hwnd"]))
        return seen["hwnd"]

    def capture(self):
        kind, point = self.rng.choice(self.candidates())
        seen = self.point_at(*point)
        self.tool.capture_with_f1(seen)
        self.captured = seen
        self.fresh_capture = True
        self.trace.append("capture %s at %d,%d" % (kind, point[0], point[1]))
        self.counts["captures"] += 1
        if kind == "child":
            self.counts["child_captures"] += 1
        if kind.startswith("notepad"):
            self.counts["notepad_captures"] += 1
        # The capture is a new target: the next change applies the bar's
        # value to it.  Nothing was applied yet.

    def sweep(self):
        """F1 held while the pointer goes over several windows: Label3
        follows; the last one stays captured."""
        points = [p for _, p in self.rng.sample(self.candidates(), 3)]
        h.mousemove(*points[0])
        h.keydown("F1")
        try:
            for x, y in points:
                h.mousemove(x, y)
                seen = self.probe.from_point(x, y)["hwnd"]
                self.tool.wait_text(h.ID_LABEL3, h.handle_text(seen))
                self.counts["captures"] += 1
        finally:
            h.keyup("F1")
        self.captured = seen
        self.fresh_capture = True
        self.counts["sweeps"] += 1

    # --- closing and reopening --------------------------------------------------

    def close_reopen(self):
        i = self.rng.randrange(len(self.targets))
        t = self.targets[i]
        if self.rng.random() < 0.6:
            # Capture it first, so that the bar moves while it is gone.
            info = self.probe.info(t.hwnd)
            c = info["client"]
            seen = self.point_at(c["x"] + 300, c["y"] + 180)
            self.tool.capture_with_f1(seen)
            self.captured = seen
            self.fresh_capture = True
            self.counts["captures"] += 1
        if self.rng.random() < 0.5:
            self.probe.post(t.hwnd, h.WM_CLOSE)
            h.wait_exit(t.proc)
        else:
            t.stop()
        h.poll(lambda: not self.probe.exists(t.hwnd), what="the target's window gone")
        self.targets[i] = None
        self.counts["closed"] += 1
        for _ in range(2):
            self.change_batch()
        self.open_target(i)
        self.counts["reopened"] += 1
        # A program started later comes to the front: back to the tool.
        self.focus_tool()
        self.check_value()

    # --- samples ----------------------------------------------------------------

    def sample(self):
        m = procsample.memory(self.unix_pid)
        if m is None:
            raise SoakFailure("the tool process is gone")
        r = self.helper.call("res", self.win_pid)
        w = self.helper.call("thread-windows", self.tool.hwnd)
        s = dict(m)
        s.update({"user": r.get("user"), "gdi": r.get("gdi"), "handles": r.get("handles"),
                  "windows": w["top"] + w["children"], "t": round(time.monotonic() - self.t0, 1),
                  "inputs": self.counts["inputs"]})
        if self.server_pid:
            sm = procsample.memory(self.server_pid)
            s["server_rss"] = sm["rss"] if sm else None
        self.samples.append(s)

    def growth(self):
        n = len(self.samples)
        width = max(3, n // 5)
        warm = max(1, n // 5)
        early = self.samples[warm:warm + width]
        late = self.samples[-width:]
        result = {}
        for metric, allowance in ALLOWANCE.items():
            e = [x[metric] for x in early if x.get(metric) is not None]
            l = [x[metric] for x in late if x.get(metric) is not None]
            if not e or not l:
                result[metric] = {"reported": False}
                continue
            reported = any(v for v in e + l)
            g = rel.median(l) - rel.median(e)
            result[metric] = {"early": rel.median(e), "late": rel.median(l), "growth": g,
                              "allowance": allowance, "reported": reported,
                              "ok": (not reported) or g <= allowance}
        if any(x.get("server_rss") for x in self.samples):
            e = [x["server_rss"] for x in early if x.get("server_rss")]
            l = [x["server_rss"] for x in late if x.get("server_rss")]
            if e and l:
                result["server_rss"] = {"early": rel.median(e), "late": rel.median(l),
                                        "growth": rel.median(l) - rel.median(e), "informational": True}
        return result

    # --- the run ------------------------------------------------------------------

    def run(self):
        self.t0 = time.monotonic()
        end = self.t0 + self.seconds
        # Samples at fixed points of the run: about 15 in a short run, one
        # every 10 s in a long one.
        sample_every = max(2.0, min(10.0, self.seconds / 15.0))
        next_sample = self.t0
        rounds = 0
        while time.monotonic() < end:
            if time.monotonic() >= next_sample:
                self.sample()
                next_sample += sample_every
            rounds += 1
            if rounds % 7 == 0:
                self.close_reopen()
            elif rounds % 5 == 0:
                self.sweep()
            else:
                self.capture()
            for _ in range(self.rng.randint(1, 4)):
                self.change_batch()
        self.sample()
        self.elapsed = time.monotonic() - self.t0
        # The tool still follows the pointer at the end.
        self.point_at(*self.tool.empty_point())
        self.check_alive()

    def summary(self, ok, error=None):
        growth = self.growth() if len(self.samples) >= 2 else {}
        elapsed = getattr(self, "elapsed", time.monotonic() - getattr(self, "t0", time.monotonic()))
        return {
            "ok": ok, "error": error, "seed": self.seed,
            "minutes": round(elapsed / 60.0, 2),
            "ticks_approx": int(elapsed * 10),
            "counts": self.counts,
            "final_value": self.value,
            "samples": len(self.samples),
            "first_sample": self.samples[0] if self.samples else None,
            "last_sample": self.samples[-1] if self.samples else None,
            "growth": growth,
        }


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--minutes", type=float, default=None)
    parser.add_argument("--seconds", type=float, default=None)
    parser.add_argument("--seed", type=int, default=None)
    args = parser.parse_args()
    seconds = args.seconds if args.seconds is not None else 60.0 * (args.minutes if args.minutes else 10)

    if os.environ.get("KAVRELO_XVFB") != "1":
        # By hand: a private Xvfb, the same way CTest runs it.
        env = dict(os.environ, KAVRELO_XVFB="1")
        cmd = [os.path.join(rel.REPO, "scripts", "with-display"), sys.executable, os.path.abspath(__file__)]
        return subprocess.call(cmd + sys.argv[1:], env=env)

    rel.defaults()
    seed = args.seed if args.seed is not None else int(time.time()) % 100000
    soak = Soak(seconds, seed)
    ok, error = False, None
    try:
        soak.start()
        soak.run()
        ok = True
    except AssertionError as e:  # SoakFailure and the harness's Timeout
        error = str(e)
    finally:
        summary = soak.summary(ok, error)
        h.kill_all()
        h.shutdown_wine()
    failed_growth = [m for m, g in summary["growth"].items() if g.get("ok") is False]
    if failed_growth:
        summary["ok"] = False
        summary["error"] = (summary["error"] or "") + " growth beyond the allowance: %s" % failed_growth
    with open(os.path.join(h.out_dir(), "soak-summary.json"), "w") as f:
        json.dump({"summary": summary, "samples": soak.samples}, f, indent=1)

    c = summary["counts"]
    print("soak: %s" % ("PASS" if summary["ok"] else "FAIL: %s" % summary["error"]))
    print("  seed %d, %.2f minutes, ticks ~%d" % (seed, summary["minutes"], summary["ticks_approx"]))
    print("  bar inputs %d (value changes %d, %d batches, %d checked), %d with the captured target gone"
          % (c["inputs"], c["value_changes"], c["batches"], c["checks"], c["changes_without_target"]))
    print("  captures %d (%d children, %d notepad, %d F1 sweeps), targets closed %d / reopened %d"
          % (c["captures"], c["child_captures"], c["notepad_captures"], c["sweeps"], c["closed"], c["reopened"]))
    print("  samples %d" % summary["samples"])
    for metric, g in summary["growth"].items():
        if g.get("reported") is False and "early" not in g:
            print("    %-10s not reported" % metric)
        elif g.get("informational"):
            print("    %-10s %s -> %s (growth %+d, informational)" % (metric, g["early"], g["late"], g["growth"]))
        elif not g.get("reported"):
            print("    %-10s 0 (Wine does not report it)" % metric)
        else:
            print("    %-10s %s -> %s (growth %+g, allowed %d) %s" % (
                metric, g["early"], g["late"], g["growth"], g["allowance"], "ok" if g["ok"] else "GROWN"))
    sys.stdout.flush()
    return 0 if summary["ok"] else 1


if __name__ == "__main__":
    sys.exit(main())

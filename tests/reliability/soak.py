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

It runs in a session of the driver (scripts/pylib/driver.py): a private
Xvfb, a Wine prefix and every program started in them, all ended on every way
out (done, failed, Ctrl+C, SIGTERM or SIGHUP).  Outside CTest the prefix is
build/wineprefix-soak-ARCH and the summary goes to build/soak-output (the
driver's environment variables name others).  Exit code 0 when every check
held.
"""

import argparse
import json
import os
import random
import signal
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "pylib"))

import driver  # noqa: E402
import procsample  # noqa: E402
from driver import ID  # noqa: E402

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


# How each input moves the bar: arrows and arrow keys by 1, the trough and
# Page Up / Page Down by 10, Home and End to the ends.
CLICK_STEP = {"left_arrow": -1, "right_arrow": 1, "trough_left": -10, "trough_right": 10}
KEY_STEP = {"Right": 1, "Left": -1, "Next": 10, "Prior": -10, "Home": -255, "End": 255}


def median(values):
    return statistics.median(values) if values else None


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

    def start(self, session):
        self.session = session
        self.probe = session.probe
        self.input = session.input
        for i in range(len(TARGET_AT)):
            self.open_target(i)
        self.notepad = session.notepad(NOTEPAD_AT)
        self.tool = session.tool()
        self.unix_pid = self.tool.proc.pid
        if procsample.name(self.unix_pid) != "Kavrelo.exe":
            raise SoakFailure("process %d is %r, not Kavrelo.exe" % (self.unix_pid, procsample.name(self.unix_pid)))
        self.server_pid = procsample.find_wineserver(session.prefix)
        self.focus_tool()

    def open_target(self, i):
        t = self.session.target("SoakTarget%d" % i, TARGET_AT[i])
        self.targets[i] = t
        return t

    def focus_tool(self):
        """Brings the tool to the front as a user would, with a click on the
        bar's left arrow (a change like any other); the X focus goes with
        it."""
        self.tool.activate(*self.tool.bar.point("left_arrow"))
        self.predict(CLICK_STEP["left_arrow"])
        self.counts["inputs"] += 1

    # --- checks -------------------------------------------------------------

    def check_alive(self):
        if not self.tool.running():
            raise SoakFailure("Kavrelo ended with exit code %r" % self.tool.proc.returncode)
        boxes = self.probe.boxes(self.tool.pid)
        if boxes:
            self.session.screenshot("soak-message-box")
            raise SoakFailure("a message box appeared: %r" % [self.probe.info(b) for b in boxes])

    def check_value(self):
        """Label1 and the bar show the expected value; the captured window
        (when it still exists) has alpha 255 - value."""
        expected = str(self.value)
        label1 = str(ID["Label1"])

        def agrees():
            s = self.tool.state()
            if s["texts"].get(label1) != expected or s["bar"] != self.value:
                return False
            if self.captured is None or self.fresh_capture:
                return s
            l = self.probe.layered(self.captured)
            if not l["exists"]:
                return s
            return s if (l["layered"] and l["layered"]["alpha"] == 255 - self.value
                         and l["exstyle"] & driver.WS_EX_LAYERED) else False
        try:
            driver.poll(agrees, what="value %d applied" % self.value)
        except driver.Timeout:
            s = self.tool.state()
            l = self.probe.layered(self.captured) if self.captured else None
            self.session.screenshot("soak-value-mismatch")
            i = self.tool.info()
            driver.log("at the mismatch: focus", i["focus"], "active", i["active"], "foreground", i["foreground"],
                       "cursor", self.probe.call("cursor"), "bar", self.tool.bar.hwnd)
            driver.log("X focus", self.session.x.focus(), "tool X window",
                       self.session.xid(i, self.tool.proc))
            raise SoakFailure("expected value %d: Label1 %r, bar %r, target %r layered %r; last batches %s" % (
                self.value, s["texts"].get(label1), s["bar"], self.captured, l, self.trace))
        self.counts["checks"] += 1

    # --- bar changes ----------------------------------------------------------

    def predict(self, step):
        before = self.value
        self.value = max(0, min(255, self.value + step))
        if self.value != before:
            self.counts["value_changes"] += 1
            self.fresh_capture = False

    def click_batch(self, part, n):
        """n clicks at one point of the bar."""
        bar = self.tool.bar
        g = bar.geometry()
        step = CLICK_STEP[part]
        if part.startswith("trough"):
            # Each click on the trough pages once.  The point lies halfway
            # between where the thumb ends up and the arrow on that side, so
            # that every click of the batch lands beside the thumb.
            arrow = bar.point("right_arrow" if step > 0 else "left_arrow", g)
            end = bar.thumb_x(max(0, min(255, self.value + n * step)), g)
            point = ((end + arrow[0]) // 2, arrow[1])
        else:
            point = bar.point(part, g)
        self.input.move(*point)
        for _ in range(n):
            self.input.click()
            self.predict(step)
            self.counts["inputs"] += 1

    def key_batch(self, name, n):
        # Without a window manager, X keeps the keyboard on the window Wine
        # last gave it to (a program started later), and keys typed there do
        # not reach the tool: give the tool the X focus, as a window manager
        # does when the user clicks on it.
        self.session.x_focus(self.tool)
        self.input.key(*[name] * n, delay=0.02)
        for _ in range(n):
            self.predict(KEY_STEP[name])
            self.counts["inputs"] += 1

    def drag(self):
        bar = self.tool.bar
        g = bar.geometry()
        to = self.rng.randint(bar.thumb_x(g["min"], g), bar.thumb_x(g["max"], g))
        bar.drag(to, steps=2)
        self.counts["inputs"] += 1

        # The value the drag leads to is read back (it depends on where the
        # thumb was grabbed, to a few steps); it must then agree everywhere.
        # Until the tool has taken the release, Label1 and the bar still
        # agree on the value before the drag: wait for one near the drop.
        near = bar.value_at(to, g)
        label1 = str(ID["Label1"])

        def settled():
            s = self.tool.state()
            return s if s["texts"].get(label1) == str(s["bar"]) and abs(s["bar"] - near) <= 4 else False
        s = driver.poll(settled, what="Label1 to agree with the bar near %d after a drag" % near)
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
            # Clicks on the trough away from the thumb, which stays between
            # 20 and 235: each pages by 10.
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
            kids = [k for k in info["children"] if k["hwnd"] in (t.button, t.edit, t.wide)]
            out.append(("child", driver.child_center(info, self.rng.choice(kids))))
        c = self.probe.info(self.notepad.hwnd)["client"]
        out.append(("notepad", (c["x"] + self.rng.randint(20, 200), c["y"] + self.rng.randint(20, 200))))
        out.append(("notepad-frame", self.notepad.menu_bar_point(self.rng.randint(80, 200))))
        return out

    def point_at(self, x, y):
        """Moves the pointer and waits until Label2 shows the window there:
        the tool keeps ticking."""
        if self.probe.at(x, y)["class"] == driver.DESKTOP_CLASS:
            # Only windows of programs are captured here (the desktop is one
            # of the fault checks).
            raise SoakFailure("the point %d,%d is over the desktop" % (x, y))
        return self.tool.point_at(x, y)

    def captured_now(self, hwnd):
        self.captured = hwnd
        self.fresh_capture = True
        self.counts["captures"] += 1

    def capture(self):
        kind, point = self.rng.choice(self.candidates())
        seen = self.point_at(*point)
        self.tool.hold_f1_until_captured(seen)
        self.captured_now(seen)
        self.trace.append("capture %s at %d,%d" % (kind, point[0], point[1]))
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
        self.input.move(*points[0])
        self.input.keydown("F1")
        try:
            for x, y in points:
                self.input.move(x, y)
                seen = self.probe.at(x, y)["hwnd"]
                self.tool.wait_text("Label3", driver.handle_text(seen))
                self.counts["captures"] += 1
        finally:
            self.input.keyup("F1")
        self.captured = seen
        self.fresh_capture = True
        self.counts["sweeps"] += 1

    # --- closing and reopening --------------------------------------------------

    def close_reopen(self):
        i = self.rng.randrange(len(self.targets))
        t = self.targets[i]
        if self.rng.random() < 0.6:
            # Capture it first, so that the bar moves while it is gone.
            seen = self.point_at(*self.session.point_in(t.hwnd, 300, 180))
            self.tool.hold_f1_until_captured(seen)
            self.captured_now(seen)
        if self.rng.random() < 0.5:
            self.probe.post(t.hwnd, driver.WM_CLOSE)
            self.session.wait_exit(t.proc)
        else:
            t.close()
        driver.poll(lambda: not self.probe.exists(t.hwnd), what="the target's window gone")
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
        r = self.probe.call("res", self.tool.pid)
        s = dict(m)
        s.update({"user": r.get("user"), "gdi": r.get("gdi"), "handles": r.get("handles"),
                  "windows": self.tool.windows(), "t": round(time.monotonic() - self.t0, 1),
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
            g = median(l) - median(e)
            result[metric] = {"early": median(e), "late": median(l), "growth": g,
                              "allowance": allowance, "reported": reported,
                              "ok": (not reported) or g <= allowance}
        if any(x.get("server_rss") for x in self.samples):
            e = [x["server_rss"] for x in early if x.get("server_rss")]
            l = [x["server_rss"] for x in late if x.get("server_rss")]
            if e and l:
                result["server_rss"] = {"early": median(e), "late": median(l),
                                        "growth": median(l) - median(e), "informational": True}
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

    # Ctrl+C, SIGTERM and SIGHUP end the run the same way: the session ends
    # everything it started on the way out.  Signals that come while it does
    # so are ignored, so that the clean-up runs to its end.
    def interrupted(signum, frame):
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            signal.signal(sig, signal.SIG_IGN)
        raise KeyboardInterrupt("signal %d" % signum)
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, interrupted)

    prefix = os.environ.get("KAVRELO_WINEPREFIX") or os.path.join(
        driver.REPO, "build", "wineprefix-soak-" + driver.arch())
    os.environ.setdefault("KAVRELO_E2E_OUT", os.path.join(driver.REPO, "build", "soak-output"))
    seed = args.seed if args.seed is not None else int(time.time()) % 100000
    soak = Soak(seconds, seed)
    ok, error, stopped = False, None, False
    try:
        with driver.Session(prefix=prefix) as session:
            soak.start(session)
            soak.run()
        ok = True
    except AssertionError as e:  # SoakFailure and the driver's Timeout
        error = str(e)
    except KeyboardInterrupt as e:
        error, stopped = "interrupted (%s)" % e, True
    summary = soak.summary(ok, error)
    failed_growth = [m for m, g in summary["growth"].items() if g.get("ok") is False]
    if failed_growth:
        summary["ok"] = False
        summary["error"] = (summary["error"] or "") + " growth beyond the allowance: %s" % failed_growth
    with open(os.path.join(driver.out_dir(), "soak-summary.json"), "w") as f:
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
    if stopped:
        return 130
    return 0 if summary["ok"] else 1


if __name__ == "__main__":
    sys.exit(main())

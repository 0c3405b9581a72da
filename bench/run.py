#!/usr/bin/python3
"""Kavrelo's benchmarks under Wine (bench/run): idle CPU, start-up and memory
against the reference program bench/floor.cpp in the same run, the size and
imports, and the behaviours natively (core_bench). BENCHMARKS.md explains all."""

import argparse
import collections
import itertools
import json
import os
import signal
import statistics
import subprocess
import sys
import threading
import time

import pefile
import psutil
from PIL import Image, ImageChops
from Xlib import X, display, error
from Xlib.ext import xtest

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TICK = 0.1                # both programs' timer, seconds
FLOOR_AT = (0, 300)       # the floor's window, below Kavrelo's (which the system places)
SPOT = (200, 100)         # a blank spot of either client area, from its top-left corner
REST = (1100, 700)        # the desktop, away from both windows
NAMES = ("floor", "Kavrelo")
SETTLE, WATCH = 3, 1.5    # seconds after start before measuring; a new window is looked at
SHARED_FILES = (".ttf", ".ttc", ".otf", ".fon", ".msstyles")


def run(*argv, **kw):
    return subprocess.run(argv, check=True, capture_output=True, text=True, cwd=REPO, **kw).stdout.strip()


class Bench:
    def __init__(self):
        preset = run("bash", "scripts/wine-arch", "--preset")
        self.arch = run("bash", "scripts/wine-arch")
        self.exe = {"floor": os.path.join(REPO, "build", preset, "bin", "floor.exe"),
                    "Kavrelo": os.path.join(REPO, "build", preset, "bin", "Kavrelo.exe")}
        self.prefix = os.path.join(REPO, "build", preset, "bench", "wineprefix")
        # The prefix made ready and its server started, to stay while we run.
        env = dict(os.environ, KAVRELO_WINEPREFIX=self.prefix, KAVRELO_WINESERVER_LINGER="600")
        pairs = dict(line.split("=", 1) for line in run("bash", "scripts/wine-run", "--env", env=env).splitlines())
        self.wine, self.env = pairs.pop("WINE"), dict(os.environ, **pairs)
        self.procs, self.x = [], display.Display()

    def start(self, name):
        args = [str(v) for v in FLOOR_AT] if name == "floor" else []
        p = subprocess.Popen([self.wine, self.exe[name]] + args, env=self.env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(p)
        return p

    def end(self, p):
        p.kill()
        p.wait()
        self.procs.remove(p)

    def shutdown(self):
        for p in list(self.procs):
            self.end(p)
        subprocess.run(["bash", "scripts/wine-stop", self.prefix], cwd=REPO)

    def window(self, p):
        """The process's viewable top-level X window (Wine sets _NET_WM_PID)."""
        deadline, pid_atom = time.monotonic() + 60, self.x.intern_atom("_NET_WM_PID")
        while time.monotonic() < deadline:
            if p.poll() is not None:
                raise SystemExit("bench: %s ended early" % p.args[1])
            for w in self.x.screen().root.query_tree().children:
                try:  # a window may go away while it is looked at
                    prop = w.get_full_property(pid_atom, X.AnyPropertyType)
                    if prop and prop.value[0] == p.pid and w.get_attributes().map_state == X.IsViewable:
                        g = w.get_geometry()
                        if g.width >= 100 and g.height >= 100:
                            return w
                except (error.BadWindow, error.BadMatch, error.BadDrawable):
                    pass
            time.sleep(0.005)
        raise SystemExit("bench: no window of %s within 60 s" % p.args[1])


def move(x, spots, stop):
    """The pointer (XTEST) over the spots in turn, two thirds of a tick each:
    two ticks never find it over the same one of three windows."""
    for i in itertools.count():
        xtest.fake_input(x, X.MotionNotify, x=spots[i % len(spots)][0], y=spots[i % len(spots)][1])
        x.sync()
        if stop.wait(TICK * 2 / 3):
            return


def cpu(pid):
    """Seconds of CPU of the process's threads so far, to the nanosecond
    (the scheduler's own count), where user + system time comes in clock
    ticks of 10 ms."""
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
                total += int(f.read().split()[0])
        except OSError:  # a thread that ended meanwhile
            pass
    return total / 1e9


def idle(b, opts, out):
    """Both programs side by side: ms of CPU per 1000 ticks at rest and with
    the pointer moving, then their memory."""
    procs = {name: b.start(name) for name in NAMES}
    root = b.x.screen().root  # the spots from each window's corner to the screen's
    spots = [(a.x, a.y) for a in (root.translate_coords(b.window(p), *SPOT) for p in procs.values())] + [REST]
    time.sleep(SETTLE)
    for scenario in ("rest", "moving"):
        stop, x = threading.Event(), display.Display()
        mover = threading.Thread(target=move, args=(x, spots if scenario == "moving" else [REST], stop))
        mover.start()
        try:
            time.sleep(0.5)
            t0, c0 = time.monotonic(), {n: cpu(p.pid) for n, p in procs.items()}
            time.sleep(opts.duration)
            ticks = (time.monotonic() - t0) / TICK
            for n, p in procs.items():
                out[scenario][n].append((cpu(p.pid) - c0[n]) * 1e6 / ticks)
        finally:
            stop.set()
            mover.join()
            x.close()
    for n, p in procs.items():
        with open("/proc/%d/status" % p.pid) as f:  # psutil does not give the peak
            out["hwm"][n].append(next(int(l.split()[1]) for l in f if l[:6] == "VmHWM:"))
        out["uss"][n].append(psutil.Process(p.pid).memory_full_info().uss / 1024)
        out["ussown"][n].append(out["uss"][n][-1] - shared_files(p.pid))
        b.end(p)


def shared_files(pid):
    """KiB of the process's unique memory that are pages of font and theme
    files: on Windows the system reads fonts (its font driver) and maps the
    theme once for every program, so that no program holds them alone."""
    kib, shared = 0, False
    with open("/proc/%d/smaps" % pid) as f:
        for line in f:
            fields = line.split()
            if "-" in fields[0] and len(fields) >= 5:  # a mapping's first line
                shared = len(fields) > 5 and fields[5].lower().endswith(SHARED_FILES)
            elif shared and fields[0] in ("Private_Clean:", "Private_Dirty:"):
                kib += int(fields[1])
    return kib


def startup(b, name, out):
    """Process start to the window mapped, and to the first look from which on
    it stays as it ends (within 0.5 % of its pixels: the thumb blinks, and
    Label2 changes at the first tick)."""
    t0 = time.monotonic()
    p = b.start(name)
    w = b.window(p)
    mapped = time.monotonic()
    g = w.get_geometry()
    looks = []
    while time.monotonic() < mapped + WATCH:
        raw = w.get_image(0, 0, g.width, g.height, X.ZPixmap, 0xFFFFFFFF).data
        looks.append((time.monotonic(), Image.frombytes("RGB", (g.width, g.height), raw, "raw", "BGRX")))
        time.sleep(0.01)
    b.end(p)
    limit, ready = g.width * g.height // 200, len(looks) - 1
    while ready > 0 and g.width * g.height - ImageChops.difference(
            looks[ready - 1][1], looks[-1][1]).convert("L").histogram()[0] <= limit:
        ready -= 1
    out["mapped"][name].append((mapped - t0) * 1000)
    out["drawn"][name].append((looks[ready][0] - t0) * 1000)


def core():
    """core_bench's medians of 5 repetitions, ns of CPU per call."""
    report = json.loads(run(os.path.join(REPO, "build", "native", "bin", "core_bench"), "--benchmark_format=json",
                            "--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true"))
    return [(r["run_name"].split("/")[1], r["cpu_time"]) for r in report["benchmarks"]
            if r.get("aggregate_name") == "median"]


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    for flag, kind, default, what in (("--runs", int, 3, "idle runs"), ("--duration", float, 60, "seconds per scenario and run"),
                                      ("--startup-runs", int, 7, "start-ups per program")):
        p.add_argument(flag, type=kind, default=default, help="%s (default %s)" % (what, default))
    opts = p.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    b = Bench()
    res = collections.defaultdict(lambda: collections.defaultdict(list))
    try:
        for _ in range(opts.runs):
            idle(b, opts, res)
        for r in range(opts.startup_runs):
            for name in NAMES if r % 2 == 0 else NAMES[::-1]:
                startup(b, name, res)
    finally:
        b.shutdown()

    print("Kavrelo benchmarks, %s build under Wine: %d idle run(s) of %g s per scenario, %d start-up(s); medians"
          % (b.arch, opts.runs, opts.duration, opts.startup_runs))
    for title, key, fmt in (("Idle CPU, ms per 1000 ticks", "", ""), ("pointer at rest", "rest", "%10.1f"),
                            ("pointer moving", "moving", "%10.1f"), ("Start-up, ms from process start", "", ""),
                            ("window mapped", "mapped", "%10.0f"), ("window drawn", "drawn", "%10.0f"),
                            ("Memory after the idle runs, KiB", "", ""), ("peak resident (VmHWM)", "hwm", "%10.0f"),
                            ("unique to the process (USS)", "uss", "%10.0f"),
                            ("  without font and theme files", "ussown", "%10.0f")):
        if not key:
            print("%-34s%10s%10s%10s" % (title, "floor", "Kavrelo", "K/floor"))
            continue
        f, k = statistics.median(res[key]["floor"]), statistics.median(res[key]["Kavrelo"])
        print("%-34s" % title + fmt % f + fmt % k + "%9.2fx" % (k / f))
    print("Executable, bytes and imports")
    for name in NAMES:
        pe = pefile.PE(b.exe[name])
        dlls = sorted(e.dll.decode().lower() for e in pe.DIRECTORY_ENTRY_IMPORT)
        print("%-12s %8d  %s" % (os.path.basename(b.exe[name]), os.path.getsize(b.exe[name]), ", ".join(dlls)))
    print("Core natively (core_bench, median of 5), ns of CPU per call")
    for name, ns in core():
        print("%-34s%10.1f" % (name, ns))


if __name__ == "__main__":
    main()

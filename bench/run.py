#!/usr/bin/python3
"""Kavrelo's benchmarks under Wine on an X display: idle CPU, start-up time,
memory and the executable, each against the reference programs floor_bare.exe
(floor 1) and floor_tick.exe (floor 2) measured in the same run, plus the cost
of the behaviours on their own from the native core_bench.

Run it through bench/run (which builds what is needed and provides a display);
BENCHMARKS.md explains every figure. Besides the standard library: psutil
and python-xlib through scripts/pylib (python3-psutil, python3-xlib), pefile
(python3-pefile) for the executable's resources.

Every process started here is recorded and ended by its id on every way out.
"""

import argparse
import json
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(REPO, "scripts", "pylib"))

import procs  # noqa: E402
import procsample  # noqa: E402
import winbuild  # noqa: E402
import xwin  # noqa: E402

TICK_S = 0.100  # the timer interval of all three programs

# Where the windows go. Kavrelo places itself (the system's default: the top
# left corner); the floors are put below it, so that no two windows overlap
# and the pointer can visit each one.
SCREEN = (1280, 800)
ORIGINS = {"kavrelo": (0, 0), "bare": (0, 260), "tick": (0, 520)}
# A blank spot of each client area (no child window there), relative to the
# window's top-left corner, and a spot of the desktop away from every window.
CLIENT_SPOT = (253, 117)
REST_POINT = (1100, 700)
# The pointer's dwell on each window: two thirds of a tick, so that with
# three windows visited in turn two successive ticks (anywhere from 67 to
# 133 ms apart) never find the pointer over the same window.
DWELL_S = TICK_S * 2 / 3

NAMES = {"bare": "floor 1 (bare)", "tick": "floor 2 (tick)", "kavrelo": "Kavrelo"}
ORDER = ("bare", "tick", "kavrelo")
# CPU from /proc/PID/stat, and the same from the scheduler's run times.
SCENARIOS = ("rest", "moving", "rest_ns", "moving_ns")


def log(*parts):
    print("[bench %6.1f]" % (time.monotonic() - T0), *parts, file=sys.stderr, flush=True)


T0 = time.monotonic()


class BenchError(Exception):
    pass


# ---- processes ---------------------------------------------------------------

def spawn(argv, env=None, **kw):
    """Starts a process, its output to /dev/null unless given (procs)."""
    kw.setdefault("stdout", subprocess.DEVNULL)
    kw.setdefault("stderr", subprocess.DEVNULL)
    return procs.start(argv, env=env, **kw)


def end(proc):
    """Ends a process started here, with its process group, and reaps it."""
    procs.end(proc, grace=3)


# ---- the processes' CPU time and memory ---------------------------------------

def _measured(value, what, pid):
    if value is None:
        raise BenchError("process %d ended before its %s was read" % (pid, what))
    return value


def cpu_seconds(pid):
    """User + system CPU of the process (all its threads), in the kernel's
    clock ticks (/proc/PID/stat, through psutil)."""
    return _measured(procsample.cpu_seconds(pid), "CPU time", pid)


def run_seconds(pid):
    """The same CPU time to the nanosecond: the scheduler's run time of each
    thread. /proc/PID/stat counts in clock ticks (10 ms), which over a minute
    of a nearly idle program is coarse."""
    return _measured(procsample.run_seconds(pid), "run time", pid)


def memory_kib(pid):
    m = _measured(procsample.memory(pid), "memory", pid)
    return {"VmHWM": m["hwm"], "VmRSS": m["rss"], "RssAnon": m["anon"],
            "Private_Clean": m["private_clean"], "Private_Dirty": m["private_dirty"]}


# ---- X ---------------------------------------------------------------------

# Green below this is "dark": text drawn in the window text colour (black).
DARK = 0x60
_DARK_TABLE = bytes(1 if i < DARK else 0 for i in range(256))


def dark_count(green):
    return green.translate(_DARK_TABLE).count(1)


# ---- Wine --------------------------------------------------------------------

class Wine:
    """The benchmarks' own Wine prefix and its server.  The environment Wine
    runs under is scripts/wine-run's (through winbuild.wine_env)."""

    def __init__(self, prefix, arch):
        self.prefix = prefix
        self.arch = arch
        self.env = self.loader = self.server_pid = None

    def prepare(self):
        """Creates the prefix when needed, starts its server detached and
        takes the environment to run programs under (scripts/wine-run --env);
        finds the server."""
        os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
        if not os.path.isdir(os.path.join(self.prefix, "drive_c")):
            log("creating the Wine prefix (once; scripts/wine-run does it)")
        env = dict(os.environ, KAVRELO_WINEPREFIX=self.prefix)
        # The services the first program of the server starts need no display.
        display = env.pop("DISPLAY", None)
        try:
            self.loader = winbuild.wine_env(env, self.arch)
        except (winbuild.NoWine, subprocess.TimeoutExpired) as e:
            raise BenchError("the Wine prefix could not be prepared: %s" % e)
        if display is not None:
            env["DISPLAY"] = display
        self.env = env
        self.server_pid = procsample.find_wineserver(self.prefix)
        if self.server_pid is None:
            raise BenchError("the Wine server of %s was not found" % self.prefix)
        # Let the services that wineboot starts settle before measuring.
        time.sleep(1.0)

    def start(self, exe, *args):
        # The loader itself, not through wine-run: the script's own start-up
        # (a shell, locale -a) would be counted otherwise.
        return spawn([self.loader, exe] + [str(a) for a in args], env=self.env)

    def shutdown(self):
        if self.server_pid is None:
            return
        # Ends the server of this prefix and every process of the prefix.
        procs.stop_wine(self.prefix)
        # When the prefix went away meanwhile, wine-stop cannot find its
        # server: end the one found at the start by its id (its clients
        # follow it).
        if (procsample.name(self.server_pid) or "").startswith("wineserver"):
            try:
                os.kill(self.server_pid, signal.SIGTERM)
            except OSError:
                pass
        self.server_pid = None


def wait_window(xd, proc, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            raise BenchError("%s ended early with status %s" % (proc.args[1], proc.returncode))
        w, width, height = xd.mapped_window_of(proc.pid)
        if w:
            return w, width, height
        time.sleep(0.02)
    raise BenchError("no window of %s appeared within %.0f s" % (proc.args[1], timeout))


def xdotool(*args):
    subprocess.run(["xdotool"] + [str(a) for a in args], stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30, check=True)


# ---- the programs --------------------------------------------------------------

class Programs:
    def __init__(self, bin_dir, kavrelo_exe=None):
        self.exe = {
            "bare": os.path.join(bin_dir, "floor_bare.exe"),
            "tick": os.path.join(bin_dir, "floor_tick.exe"),
            "kavrelo": kavrelo_exe or os.path.join(bin_dir, "Kavrelo.exe"),
        }
        for path in self.exe.values():
            if not os.path.isfile(path):
                raise BenchError("%s is missing: build it first (make windows)" % path)

    def start(self, wine, key, decoy=False):
        exe = self.exe["bare" if decoy else key]
        if key == "kavrelo" and not decoy:
            return wine.start(exe)
        x, y = ORIGINS[key]
        if decoy:
            return wine.start(exe, x, y, "decoy_" + key, "decoy")
        return wine.start(exe, x, y)


def pointer_script(path, seconds, spots):
    """An xdotool script that moves the pointer over the spots in turn."""
    steps = int(seconds / DWELL_S) + 1
    with open(path, "w") as f:
        for i in range(steps):
            x, y = spots[i % len(spots)]
            f.write("mousemove %d %d\nsleep %.3f\n" % (x, y, DWELL_S))


def spots():
    # The pointer visits the three windows in this order.
    out = []
    for key in ("kavrelo", "bare", "tick"):
        ox, oy = ORIGINS[key]
        out.append((ox + CLIENT_SPOT[0], oy + CLIENT_SPOT[1]))
    return out


def measure_idle(wine, xd, programs, opts, run_dir, result, real=ORDER):
    """One run: the programs named in real side by side (a decoy window
    without a timer stands in for each of the others), the pointer at rest,
    then moving between the three windows. Appends to result[scenario][key],
    and the server's share to result[scenario]["wineserver"]."""
    procs, decoys = {}, []
    try:
        xdotool("mousemove", *REST_POINT)
        for key in ORDER:
            proc = programs.start(wine, key, decoy=key not in real)
            if key in real:
                procs[key] = proc
            else:
                decoys.append(proc)
            wait_window(xd, proc, opts.window_timeout)
        time.sleep(opts.settle)
        for scenario in ("rest", "moving"):
            mover = None
            if scenario == "moving":
                script = os.path.join(run_dir, "pointer.xdo")
                pointer_script(script, opts.duration + opts.settle + 2, spots())
                mover = spawn(["xdotool", script])
                time.sleep(min(1.0, opts.settle))
            else:
                xdotool("mousemove", *REST_POINT)
            pids = {k: p.pid for k, p in procs.items()}
            pids["wineserver"] = wine.server_pid
            t0 = time.monotonic()
            c0 = {k: cpu_seconds(pid) for k, pid in pids.items()}
            r0 = {k: run_seconds(pid) for k, pid in pids.items()}
            time.sleep(opts.duration)
            c1 = {k: cpu_seconds(pid) for k, pid in pids.items()}
            r1 = {k: run_seconds(pid) for k, pid in pids.items()}
            wall = time.monotonic() - t0
            if mover is not None:
                if mover.poll() is not None:
                    raise BenchError("xdotool stopped moving the pointer early (status %s)" % mover.returncode)
                end(mover)
                xdotool("mousemove", *REST_POINT)
            ticks = wall / TICK_S
            for k in pids:
                # ms per 1000 ticks
                result.setdefault(scenario, {}).setdefault(k, []).append((c1[k] - c0[k]) * 1e6 / ticks)
                result.setdefault(scenario + "_ns", {}).setdefault(k, []).append((r1[k] - r0[k]) * 1e6 / ticks)
            for k, p in procs.items():
                if p.poll() is not None:
                    raise BenchError("%s ended during the measurement" % NAMES[k])
            if any(d.poll() is not None for d in decoys):
                raise BenchError("a decoy window ended during the measurement")
        for k, p in procs.items():
            for field, value in memory_kib(p.pid).items():
                result.setdefault("memory", {}).setdefault(k, {}).setdefault(field, []).append(value)
    finally:
        for p in list(procs.values()) + decoys:
            end(p)
        # A moment for the server to forget the windows.
        time.sleep(0.5)


def measure_startup(wine, xd, programs, opts, result):
    """Process start to the window mapped and its content drawn, one program
    at a time with the server already running and the pointer away."""
    xdotool("mousemove", *REST_POINT)
    for r in range(opts.startup_runs):
        for key in (ORDER if r % 2 == 0 else tuple(reversed(ORDER))):
            t0 = time.monotonic()
            proc = programs.start(wine, key)
            try:
                deadline = t0 + opts.window_timeout
                w = None
                while w is None:
                    if proc.poll() is not None:
                        raise BenchError("%s ended early" % NAMES[key])
                    if time.monotonic() > deadline:
                        raise BenchError("no window of %s within %.0f s" % (NAMES[key], opts.window_timeout))
                    w, width, height = xd.mapped_window_of(proc.pid)
                    if w is None:
                        time.sleep(0.005)
                t_map = time.monotonic()
                # Look at the pixels until well after everything is drawn.
                samples = []
                end_at = t_map + opts.startup_watch
                while time.monotonic() < end_at:
                    try:
                        g = xd.green(w, width, height)
                    except ValueError as e:
                        raise BenchError(str(e))
                    t = time.monotonic()
                    if g is not None:
                        samples.append((t, g))
                    time.sleep(0.01)
                if not samples:
                    raise BenchError("the window of %s could not be read" % NAMES[key])
                t_ready = ready_time(samples)
                result.setdefault("map", {}).setdefault(key, []).append((t_map - t0) * 1000)
                result.setdefault("ready", {}).setdefault(key, []).append((t_ready - t0) * 1000)
            finally:
                end(proc)
            time.sleep(0.3)


def ready_time(samples):
    """The time of the first look from which on the window shows what it
    shows in the end: nearly every pixel as in the last look, and nearly as
    many dark (text) pixels as it ever had. Nearly: the focused scroll bar of
    the tool window blinks its thumb, and a label may change on the first
    tick."""
    final = samples[-1][1][::7]
    looks = []
    for _, g in samples:
        part = g[::7]
        same = sum(1 for a, b in zip(part, final) if a == b) / len(final) if len(part) == len(final) else 0
        looks.append((same >= 0.95, dark_count(g)))
    most = max(d for similar, d in looks if similar)  # the last look at least
    ok = [similar and d >= 0.85 * most for similar, d in looks]
    first = len(ok)
    while first > 0 and ok[first - 1]:
        first -= 1
    if first == len(ok):
        raise BenchError("the window did not settle while it was looked at")
    return samples[first][0]


# ---- the executable -----------------------------------------------------------

def executable_facts(path):
    facts = {"size": os.path.getsize(path)}
    try:
        import pefile
    except ImportError:
        facts["error"] = "pefile is missing (install python3-pefile; run with /usr/bin/python3)"
        return facts
    pe = pefile.PE(path)
    sizes = {}

    def walk(entry, top_type):
        for e in getattr(entry, "entries", []):
            t = top_type if top_type is not None else e.struct.Id
            if hasattr(e, "directory"):
                walk(e.directory, t)
            elif hasattr(e, "data"):
                sizes[t] = sizes.get(t, 0) + e.data.struct.Size

    if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        walk(pe.DIRECTORY_ENTRY_RESOURCE, None)
    facts["icons"] = sizes.get(3, 0) + sizes.get(14, 0)  # RT_ICON + RT_GROUP_ICON
    facts["version"] = sizes.get(16, 0)  # RT_VERSION
    facts["resources_other"] = sum(v for k, v in sizes.items() if k not in (3, 14, 16))
    facts["imports"] = sorted({e.dll.decode().lower() for e in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])})
    pe.close()
    return facts


SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll", "advapi32.dll", "shell32.dll",
               "comctl32.dll", "ntdll.dll", "ole32.dll", "oleaut32.dll", "uxtheme.dll", "imm32.dll"}


# ---- the core, natively ---------------------------------------------------------

def core_figures(native_bin, smoke):
    exe = os.path.join(native_bin, "core_bench")
    if not os.path.isfile(exe):
        return {"error": "%s is missing: build the native preset" % exe}
    args = [exe, "--benchmark_format=json"]
    if smoke:
        args.append("--benchmark_min_time=0.01")
    else:
        args += ["--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true"]
    proc = subprocess.run(args, capture_output=True, text=True, timeout=600)
    try:
        data = json.loads(proc.stdout)
    except ValueError:
        return {"error": "core_bench printed no results (status %d): %s" % (proc.returncode, proc.stderr[-400:])}
    out = {"status": proc.returncode, "rows": {}}
    for b in data.get("benchmarks", []):
        name = b.get("run_name", b["name"])
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        out["rows"][name] = {"ns": b["cpu_time"], "new": b.get("new_per_call"),
                             "malloc": b.get("malloc_per_call"), "error": b.get("error_message")}
    return out


# ---- the table ------------------------------------------------------------------

def med(values):
    return statistics.median(values) if values else float("nan")


def ratio(a, b):
    return a / b if b else float("nan")


def render(opts, idle, start, exe_facts, floor_facts, core):
    lines = []
    add = lines.append
    add("Kavrelo benchmarks: %d run(s) of %.0f s of ticking per scenario (programs %s), "
        "%d start-up run(s); medians." % (opts.runs, opts.duration,
                                          "one at a time" if opts.alone else "side by side",
                                          opts.startup_runs))
    add("Build measured: %s (%s), under %s." % (
        opts.arch, os.path.relpath(opts.bin_dir, REPO) if opts.bin_dir.startswith(REPO) else opts.bin_dir,
        winbuild.WINE_NAMES[opts.arch]))
    if opts.kavrelo_exe:
        add("Kavrelo measured from " + os.path.basename(opts.kavrelo_exe))
    add("")
    add("Idle CPU, ms of CPU (user + system) per 1000 ticks of the program's own process")
    add("%-26s %10s %10s %10s %9s %9s" % ("", "floor 1", "floor 2", "Kavrelo", "K/floor1", "K/floor2"))
    for scenario, title in (("rest", "pointer at rest"), ("moving", "pointer moving"),
                            ("rest_ns", "at rest (schedstat)"), ("moving_ns", "moving (schedstat)")):
        v = {k: med(idle.get(scenario, {}).get(k, [])) for k in ORDER}
        add("%-26s %10.1f %10.1f %10.1f %8.2fx %8.2fx" % (title, v["bare"], v["tick"], v["kavrelo"],
                                                        ratio(v["kavrelo"], v["bare"]),
                                                        ratio(v["kavrelo"], v["tick"])))
    for scenario, title in (("rest", "at rest"), ("moving", "moving"), ("rest_ns", "at rest (schedstat)"),
                            ("moving_ns", "moving (schedstat)")):
        if opts.alone:
            v = {k: med(idle.get("ws_share", {}).get(scenario, {}).get(k, [])) for k in ORDER}
            add("%-26s %10.1f %10.1f %10.1f %8.2fx %8.2fx" % ("server, " + title, v["bare"],
                                                            v["tick"], v["kavrelo"],
                                                            ratio(v["kavrelo"], v["bare"]),
                                                            ratio(v["kavrelo"], v["tick"])))
        else:
            w = med(idle.get(scenario, {}).get("wineserver", []))
            add("%-26s %10.1f   (the three programs together: not attributable to one)"
                % ("server, " + title, w))
    if opts.alone:
        add("%-26s %10.1f %10.1f   (rest, moving, schedstat; subtracted above)" % (
            "server, decoys only", med(idle.get("baseline", {}).get("rest_ns", [])),
            med(idle.get("baseline", {}).get("moving_ns", []))))
    add("")
    add("Start-up, ms from process start (server already running)")
    add("%-26s %10s %10s %10s %9s" % ("", "floor 1", "floor 2", "Kavrelo", "K/floor1"))
    for key, title in (("map", "window mapped"), ("ready", "window drawn, texts shown")):
        v = {k: med(start.get(key, {}).get(k, [])) for k in ORDER}
        add("%-26s %10.0f %10.0f %10.0f %8.2fx" % (title, v["bare"], v["tick"], v["kavrelo"],
                                                  ratio(v["kavrelo"], v["bare"])))
    add("")
    add("Memory of the process after the idle runs, KiB")
    add("%-26s %10s %10s %10s %9s" % ("", "floor 1", "floor 2", "Kavrelo", "K/floor1"))
    mem = idle.get("memory", {})
    for field, title in (("VmHWM", "peak resident (VmHWM)"), ("RssAnon", "anonymous (RssAnon)"),
                         ("Private_Dirty", "private dirty"), ("Private_Clean", "private clean")):
        v = {k: med(mem.get(k, {}).get(field, [])) for k in ORDER}
        add("%-26s %10.0f %10.0f %10.0f %8.2fx" % (title, v["bare"], v["tick"], v["kavrelo"],
                                                  ratio(v["kavrelo"], v["bare"])))
    add("")
    add("Executable")
    add("%-26s %10d bytes (%.1f KiB); floor 1: %d bytes" % ("Kavrelo.exe", exe_facts["size"],
                                                            exe_facts["size"] / 1024, floor_facts["size"]))
    if "error" in exe_facts:
        add("  " + exe_facts["error"])
    else:
        add("%-26s %10d bytes" % ("  icon resources", exe_facts["icons"]))
        add("%-26s %10d bytes" % ("  version resource", exe_facts["version"]))
        if exe_facts["resources_other"]:
            add("%-26s %10d bytes" % ("  other resources", exe_facts["resources_other"]))
        others = [d for d in exe_facts["imports"] if d not in SYSTEM_DLLS]
        add("%-26s %s%s" % ("  imports", ", ".join(exe_facts["imports"]),
                            "" if not others else "  (not system DLLs: %s)" % ", ".join(others)))
    add("")
    add("Core natively (core_bench, Google Benchmark%s)" % ("" if opts.smoke else ", median of 5"))
    if "error" in core:
        add("  " + core["error"])
    else:
        add("%-30s %10s %13s %16s" % ("", "ns/call", "new/call", "malloc/call"))
        for name, row in core["rows"].items():
            add("%-30s %10.1f %13s %16s%s" % (name.replace("BM_", ""), row["ns"], fmt(row["new"]),
                                               fmt(row["malloc"]),
                                               "  " + row["error"] if row.get("error") else ""))
    return "\n".join(lines)


def fmt(v):
    return "-" if v is None else ("%.3g" % v)


# ---- main -----------------------------------------------------------------------

def parse_args(argv):
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--runs", type=int, default=3, help="idle runs (default 3)")
    p.add_argument("--duration", type=float, default=60.0,
                   help="seconds of ticking per scenario and run (default 60)")
    p.add_argument("--startup-runs", type=int, default=7, help="start-ups per program (default 7)")
    p.add_argument("--settle", type=float, default=3.0, help="seconds after start before measuring")
    p.add_argument("--startup-watch", type=float, default=1.5,
                   help="seconds the window is looked at after it appears")
    p.add_argument("--window-timeout", type=float, default=60.0)
    p.add_argument("--smoke", action="store_true",
                   help="a few seconds of everything, for CI: fails only when something cannot be measured")
    p.add_argument("--bin-dir", help="the Windows programs (default: the bin folder of the build that "
                                     "runs here, build/mingw32 or build/mingw64)")
    p.add_argument("--native-bin-dir", default=os.path.join(REPO, "build", "native", "bin"))
    p.add_argument("--work-dir", help="the Wine prefix and scratch files go here (default: bench/ in the "
                                      "build of --bin-dir)")
    p.add_argument("--alone", action="store_true",
                   help="run the programs one at a time (with decoy windows), which attributes the Wine "
                        "server's CPU to each; four times as long")
    p.add_argument("--kavrelo-exe", help="measure this build of the program instead (a variant)")
    p.add_argument("--json", help="also write every measured value to this file")
    opts = p.parse_args(argv)
    if opts.smoke:
        opts.runs, opts.duration, opts.startup_runs, opts.settle, opts.startup_watch = 1, 3.0, 1, 1.0, 0.8
    if opts.runs < 1 or opts.duration <= 0 or opts.startup_runs < 1:
        p.error("runs, duration and startup-runs must be positive")
    return opts


def check_complete(idle, start, exe_facts, core, opts):
    """What a smoke run insists on: every figure was measured."""
    missing = []
    for scenario in SCENARIOS:
        for k in ORDER + (() if opts.alone else ("wineserver",)):
            if len(idle.get(scenario, {}).get(k, [])) != opts.runs:
                missing.append("idle %s %s" % (scenario, k))
    for key in ("map", "ready"):
        for k in ORDER:
            if len(start.get(key, {}).get(k, [])) != opts.startup_runs:
                missing.append("start-up %s %s" % (key, k))
    for k in ORDER:
        m = idle.get("memory", {}).get(k, {})
        if not all(m.get(f) and min(m[f]) > 0 for f in ("VmHWM", "RssAnon", "Private_Dirty")):
            missing.append("memory %s" % k)
    if "error" in exe_facts:
        missing.append("executable: " + exe_facts["error"])
    if "error" in core and "missing" not in core["error"]:
        missing.append("core: " + core["error"])
    return missing


def main(argv):
    opts = parse_args(argv)
    # SIGTERM and SIGHUP end everything already (procs); so does Ctrl+C here.
    signal.signal(signal.SIGINT, procs.exit_on_signal)
    if not os.environ.get("DISPLAY"):
        raise BenchError("no X display: run through bench/run or scripts/with-display")
    try:
        arch = opts.arch = winbuild.arch()
    except winbuild.NoWine as e:
        raise BenchError(str(e))
    if opts.bin_dir is None:
        opts.bin_dir = winbuild.bin_dir(arch)
    if opts.work_dir is None:
        opts.work_dir = os.path.join(os.path.dirname(os.path.abspath(opts.bin_dir)), "bench")
    log("measuring the %s build (%s) under %s" % (arch, opts.bin_dir, winbuild.WINE_NAMES[arch]))
    os.makedirs(opts.work_dir, exist_ok=True)
    programs = Programs(opts.bin_dir, opts.kavrelo_exe)
    wine = Wine(os.path.join(os.path.abspath(opts.work_dir), "wineprefix"), arch)
    procs.at_end(wine.shutdown)
    # One benchmark at a time on this prefix.
    lock = open(os.path.join(opts.work_dir, "bench.lock"), "w")
    import fcntl
    fcntl.flock(lock, fcntl.LOCK_EX)
    try:
        xd = xwin.Display()
    except (xwin.Xlib.error.DisplayError, OSError) as e:
        raise BenchError("cannot open the X display %r: %s" % (os.environ.get("DISPLAY"), e))
    idle, start = {}, {}
    try:
        wine.prepare()
        log("Wine server pid %d; display %s" % (wine.server_pid, os.environ["DISPLAY"]))
        with tempfile.TemporaryDirectory(prefix="kavrelo-bench-") as run_dir:
            for r in range(opts.runs):
                log("idle run %d of %d (%.0f s at rest, %.0f s moving)" % (r + 1, opts.runs, opts.duration,
                                                                           opts.duration))
                if not opts.alone:
                    measure_idle(wine, xd, programs, opts, run_dir, idle)
                    continue
                # One program at a time, then the decoys alone: the server's
                # share of a program is what it does beyond the decoys' share.
                for key in ORDER + (None,):
                    part = {}
                    measure_idle(wine, xd, programs, opts, run_dir, part, real=(key,) if key else ())
                    for scenario in SCENARIOS:
                        sc = part.get(scenario, {})
                        ws = sc.pop("wineserver")[0]
                        if key is None:
                            idle.setdefault("baseline", {}).setdefault(scenario, []).append(ws)
                        else:
                            idle.setdefault(scenario, {}).setdefault(key, []).extend(sc[key])
                            idle.setdefault("ws_alone", {}).setdefault(scenario, {})[key] = ws
                    for k, m in part.get("memory", {}).items():
                        for field, values in m.items():
                            idle.setdefault("memory", {}).setdefault(k, {}).setdefault(field, []).extend(values)
                for scenario in SCENARIOS:
                    base = idle["baseline"][scenario][-1]
                    for key in ORDER:
                        idle.setdefault("ws_share", {}).setdefault(scenario, {}).setdefault(key, []).append(
                            idle["ws_alone"][scenario][key] - base)
        log("start-up, %d run(s) per program" % opts.startup_runs)
        measure_startup(wine, xd, programs, opts, start)
    finally:
        procs.end_all()
        wine.shutdown()
        xd.close()
    exe_facts = executable_facts(programs.exe["kavrelo"])
    floor_facts = executable_facts(programs.exe["bare"])
    log("core_bench")
    core = core_figures(opts.native_bin_dir, opts.smoke)
    print(render(opts, idle, start, exe_facts, floor_facts, core))
    if opts.json:
        with open(opts.json, "w") as f:
            json.dump({"idle": idle, "startup": start, "executable": exe_facts, "floor_executable": floor_facts,
                       "core": core}, f, indent=1)
    missing = check_complete(idle, start, exe_facts, core, opts)
    if missing:
        print("bench: not measured: " + "; ".join(missing), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except BenchError as e:
        procs.end_all()
        print("bench: " + str(e), file=sys.stderr)
        sys.exit(1)

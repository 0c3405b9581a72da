"""Readings of a running process from outside, for the benchmarks and the
tests: CPU time, memory, open files, threads, children, and the Wine server
of a prefix.  Built on psutil (python3-psutil).

Two readings psutil does not offer are taken from the kernel directly:
- run_seconds(): the scheduler's run time of every thread, in nanoseconds
  (/proc/PID/task/TID/schedstat).  psutil's per-thread times come from the
  same clock ticks (10 ms) as cpu_seconds(), which over a minute of a nearly
  idle program is coarse.
- the peak resident size (VmHWM of /proc/PID/status), in memory().

Every reading of a process that has ended returns None (or is skipped for a
thread that ended), so that a sampler never fails on a race with an exit.
"""

import os

import psutil

_GONE = (psutil.NoSuchProcess, psutil.ZombieProcess, psutil.AccessDenied)


def _process(pid):
    try:
        return psutil.Process(pid)
    except _GONE:
        return None


def name(pid):
    """The process's name (its comm: a Wine program's is the exe's name, cut
    at 15 characters), or None when it is gone."""
    p = _process(pid)
    try:
        return p.name() if p else None
    except _GONE:
        return None


def cpu_seconds(pid):
    """User + system CPU time of the process, all its threads (clock ticks
    of the kernel, 10 ms); None when it is gone."""
    p = _process(pid)
    try:
        t = p.cpu_times() if p else None
    except _GONE:
        return None
    return None if t is None else t.user + t.system


def run_seconds(pid):
    """The same CPU time to the nanosecond: the sum of the scheduler's run
    time of each thread; None when the process is gone."""
    p = _process(pid)
    try:
        threads = p.threads() if p else None
    except _GONE:
        return None
    if threads is None:
        return None
    total = 0
    for t in threads:
        try:
            with open("/proc/%d/task/%d/schedstat" % (pid, t.id)) as f:
                total += int(f.read().split()[0])
        except (OSError, ValueError, IndexError):
            continue  # a thread that just ended
    return total / 1e9


def _peak_rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return None


def memory(pid):
    """Memory and objects of a process, in KiB and counts, or None when it
    is gone:
      rss, hwm        resident size now and at its peak
      anon            resident memory that belongs to no file
      private_dirty   pages only this process has written
      private_clean   file pages only this process maps
      private         the two together
      fds, threads    open file descriptors, threads"""
    p = _process(pid)
    if p is None:
        return None
    try:
        with p.oneshot():
            rss = p.memory_info().rss
            maps = p.memory_maps(grouped=True)
            fds = p.num_fds()
            threads = p.num_threads()
        hwm = _peak_rss_kib(pid)
    except _GONE + (OSError,):
        return None
    dirty = sum(m.private_dirty for m in maps)
    clean = sum(m.private_clean for m in maps)
    return {"rss": rss // 1024, "hwm": hwm, "anon": sum(m.anonymous for m in maps) // 1024,
            "private_dirty": dirty // 1024, "private_clean": clean // 1024,
            "private": (dirty + clean) // 1024, "fds": fds, "threads": threads}


def group(pgid):
    """The process ids of a process group (psutil does not give a process's
    group: os.getpgid asks the kernel)."""
    out = []
    for pid in psutil.pids():
        try:
            if os.getpgid(pid) == pgid:
                out.append(pid)
        except OSError:
            continue  # ended meanwhile
    return out


def find_wineserver(prefix):
    """The Wine server of a prefix, or None: the wineserver process whose
    working folder is the server folder Wine names after the prefix's device
    and inode numbers."""
    if not prefix or not os.path.isdir(prefix):
        return None
    st = os.stat(prefix)
    want = "server-%x-%x" % (st.st_dev, st.st_ino)
    for p in psutil.process_iter(["name"]):
        if not (p.info["name"] or "").startswith("wineserver"):
            continue
        try:
            if os.path.basename(p.cwd()) == want:
                return p.pid
        except _GONE:
            continue
    return None

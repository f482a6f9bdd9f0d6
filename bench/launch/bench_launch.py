#!/usr/bin/env python3
"""Launch-screen benchmark: what the still launch screen costs against the game after it.

  drovik-player --trace startup --trace-file - --duration 10 --home <fresh dir> SAMPLE, in a window
  (960 x 640) on an Xvfb of the harness's own, on the real clock. The sample calls loadingWillStart
  and loadingWillEnd in loadInitialScene, so its game view is made, and its clock started, under the
  launch screen. The process's processor time (user + system, every thread, from /proc) is read
  over two spans timed from the trace lines as they arrive: the launch screen, from 0.3 s after
  "gameReady" for 2.5 s (the intro ends 5 s after launch), and the game, from 1 s after "start" for
  2.5 s. Prints each span's processor time per second (100 % is one core), median and range over
  --runs runs, and the launch screen's over the game's.

  With --writes (needs strace), one more run under `strace -f -e trace=writev` counts the writes
  to the display (the X socket) in each span; strace slows the process, so no time is taken there.

  bench_launch [--runs N] [--writes]
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(HERE, "..", "common"))
from xvfb import Xvfb  # noqa: E402

TICK = os.sysconf("SC_CLK_TCK")
SPAN = 2.5


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK  # utime, stime


def run_once(args, display, wrap=None):
    """Spawns the player; returns {span: (start, end) in seconds since spawn, cpu per second}."""
    home = tempfile.mkdtemp(prefix="bench-launch-")
    cmd = [args.player, "--trace", "startup", "--trace-file", "-", "--duration", "10", "--home", home, args.sample]
    env = dict(os.environ, DISPLAY=display)
    env.pop("WAYLAND_DISPLAY", None)
    start = time.perf_counter()
    proc = subprocess.Popen((wrap or []) + cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    arrived = {}

    def read():
        for raw in proc.stdout:
            line = raw.decode(errors="replace")
            for word in ("gameReady", "start"):
                if line.rstrip().endswith("startup " + word) and word not in arrived:
                    arrived[word] = time.perf_counter() - start

    reader = threading.Thread(target=read, daemon=True)
    reader.start()
    spans = {}
    pid = proc.pid
    for name, after, delay in (("launch", "gameReady", 0.3), ("game", "start", 1.0)):
        while after not in arrived and proc.poll() is None:
            time.sleep(0.01)
        if after not in arrived:
            break
        begin = arrived[after] + delay
        time.sleep(max(0.0, begin - (time.perf_counter() - start)))
        before = cpu_seconds(pid) if not wrap else 0
        time.sleep(SPAN)
        spent = (cpu_seconds(pid) - before) if not wrap else 0
        spans[name] = (begin, begin + SPAN, spent / SPAN)
    proc.wait()
    reader.join()
    subprocess.run(["rm", "-rf", home])
    return spans


def count_writes(args, display):
    """Writes to sockets in each span, from one run under strace (its times are strace's own)."""
    with tempfile.NamedTemporaryFile(prefix="bench-launch-", suffix=".strace") as log:
        wrap = ["strace", "-f", "-qq", "-ttt", "-e", "trace=writev", "-o", log.name]
        began = time.time()
        spans = run_once(args, display, wrap)
        stamps = []
        with open(log.name) as f:
            for line in f:
                parts = line.split()
                if len(parts) > 2 and parts[2].startswith("writev("):
                    stamps.append(float(parts[1]) - began)
    return {name: sum(1 for t in stamps if b <= t < e) for name, (b, e, _) in spans.items()}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--player", required=True)
    parser.add_argument("--sample", required=True)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--writes", action="store_true")
    args = parser.parse_args()
    x = Xvfb()
    try:
        runs = [run_once(args, x.display) for _ in range(args.runs)]
        writes = count_writes(args, x.display) if args.writes else None
    finally:
        x.close()
    figures = {}
    for name in ("launch", "game"):
        values = [r[name][2] * 100 for r in runs if name in r]
        if not values:
            sys.exit(f"no {name} span: the player ended early")
        figures[name] = statistics.median(values)
        print(f"{name:7s} processor time {figures[name]:6.1f} % of a core [{min(values):.1f}-{max(values):.1f}]"
              + (f", {writes.get(name, 0)} writev in {SPAN:g} s" if writes else ""))
    print(f"launch / game {figures['launch'] / figures['game']:.2f}")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Start-up benchmark: real time from the spawn to the first game frame.

  player  drovik-player --headless --frames 1 --trace launch,frame --trace-file - --home <fresh dir>
          GAME, timed to its "launch firstFrame" line (the first game frame presented) and to its
          first "frame DK_Update" line: the whole start-up road (application, start-up screen, game
          view, engine). Headless the road runs on the virtual clock, so the start-up screen's intro
          takes no real time; the figure is wall-clock time all the same. GAME is trivial.lua (a
          clear and a square, LÖVE's trivial game's counterpart) in a bundle made from the sample's
          Info.plist, and the sample itself (whose first scene starts music; on the virtual clock
          the player opens it, loading FFmpeg, once the first frame is on screen).
  engine  dk-engine-cli --frames 1 first_update.lua SAMPLE, the wrapper running the sample's engine
          script and printing "update" at its first update: the engine alone.
  LOVE    love/ (a trivial LÖVE 11.4 game, every module on, a 320x480 window) on an Xvfb of the
          benchmark's own, started once, timed to the line it prints after its first present.
The player runs on a returning launch (a home it has started in before), and on a first launch
(a fresh home: the analytics stores are created then). Runs interleave (player, engine, LOVE, ...)
after warm-up runs, so the file cache is warm; each
figure is the median (and range) of --runs runs; player / LOVE is taken run by run.

The breakdown comes from further runs that trace more (startup, engine and frame categories for the
player; the wrapper's own lines for the engine), each line stamped as it arrives on the pipe, and from
"--help" runs: spawn to exit of a program that only loads, parses its options and leaves, i.e. the
cost of getting to main (dynamic loading and static constructors).

  bench_startup [--runs N] [--no-breakdown] [--no-love]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(HERE, "..", "common"))
from xvfb import Xvfb  # noqa: E402


def timed_lines(cmd, env=None):
    """Spawns cmd and returns [(seconds since spawn, line)] for its stdout lines, and its exit code."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    lines = []
    for raw in proc.stdout:
        lines.append((time.perf_counter() - start, raw.decode(errors="replace").rstrip("\n")))
    code = proc.wait()
    return lines, code, time.perf_counter() - start


def first(lines, pred):
    for t, line in lines:
        if pred(line):
            return t
    return None


def strip_stamp(line):
    """A trace line without its "t=..." stamp: "category word ..."."""
    return line.split(" ", 1)[1] if line.startswith("t=") and " " in line else line


class Runner:
    def __init__(self, args, tmp):
        self.args = args
        self.tmp = tmp
        self.count = 0
        self.env = dict(os.environ, SB_ENGINE=os.path.join(args.sample, "engine32.luo"),
                        ALSOFT_DRIVERS=os.environ.get("ALSOFT_DRIVERS", "null"))

    def home(self):
        self.count += 1
        path = os.path.join(self.tmp, "home%d" % self.count)
        os.mkdir(path)
        return path

    def trivial(self):
        """A bundle whose engine script is trivial.lua."""
        bundle = os.path.join(self.tmp, "Trivial.app")
        if not os.path.isdir(bundle):
            os.makedirs(os.path.join(bundle, "Game.gameproj"))
            shutil.copy(os.path.join(self.args.sample, "Info.plist"), bundle)
            shutil.copy(os.path.join(HERE, "trivial.lua"), os.path.join(bundle, "engine32.luo"))
        return bundle

    def player(self, categories="launch,frame", game=None, home=None):
        cmd = [self.args.player, "--headless", "--frames", "1", "--drain-seconds", "0", "--trace", categories,
               "--trace-file", "-", "--home", home or self.home(), game or self.args.sample]
        lines, code, total = timed_lines(cmd, self.env)
        if code != 0:
            sys.exit("drovik-player exited with %d: %s" % (code, " ".join(cmd)))
        return lines, total

    def engine(self):
        cmd = [self.args.cli, "--frames", "1", "--save", os.path.join(self.home(), "save"),
               os.path.join(HERE, "first_update.lua"), os.path.join(self.args.sample, "Sample.gameproj")]
        lines, code, total = timed_lines(cmd, self.env)
        if code != 0:
            sys.exit("dk-engine-cli exited with %d: %s" % (code, " ".join(cmd)))
        return lines, total

    def love(self, display):
        lines, code, total = timed_lines(["love", os.path.join(HERE, "love")], dict(self.env, DISPLAY=display))
        if code != 0:
            sys.exit("love exited with %d" % code)
        return lines, total

    def help(self, program, option="--help"):
        start = time.perf_counter()
        subprocess.run([program, option], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=self.env)
        return time.perf_counter() - start


def ms(values):
    values = [v * 1000 for v in values if v is not None]
    if not values:
        return "-"
    return "%7.1f ms  [%.1f-%.1f]" % (statistics.median(values), min(values), max(values))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--player", required=True)
    ap.add_argument("--cli", required=True)
    ap.add_argument("--sample", required=True)
    ap.add_argument("--runs", type=int, default=20)
    ap.add_argument("--warmup", type=int, default=3)
    ap.add_argument("--no-breakdown", action="store_true")
    ap.add_argument("--no-love", action="store_true")
    args = ap.parse_args()

    tmp = tempfile.mkdtemp(prefix="bench_startup.")
    xvfb = None if args.no_love else Xvfb()
    try:
        r = Runner(args, tmp)
        is_update = lambda line: " frame DK_Update" in line
        is_frame = lambda line: line.endswith(" launch firstFrame") or line == "firstFrame"
        # A returning launch, as players mostly meet it: a home each game has started in once. A
        # first launch (a fresh home) also creates the analytics stores, synced to disk table by
        # table; it has its own row.
        homes = {"sample": r.home(), "trivial": r.home()}
        for _ in range(max(1, args.warmup)):
            r.player(home=homes["sample"])
            r.player(game=r.trivial(), home=homes["trivial"])
            r.engine()
            if xvfb:
                r.love(xvfb.display)

        player, player_update, engine, love, player_total, engine_total = [], [], [], [], [], []
        trivial, first_launch = [], []
        for _ in range(args.runs):
            lines, _ = r.player(game=r.trivial(), home=homes["trivial"])
            trivial.append(first(lines, is_frame))
            lines, _ = r.player(game=r.trivial())
            first_launch.append(first(lines, is_frame))
            lines, total = r.player(home=homes["sample"])
            player.append(first(lines, is_frame))
            player_update.append(first(lines, is_update))
            player_total.append(total)
            lines, total = r.engine()
            engine.append(first(lines, lambda line: line == "update"))
            engine_total.append(total)
            if xvfb:
                lines, _ = r.love(xvfb.display)
                love.append(first(lines, is_frame))

        print("spawn to the first game frame (real time; median [min-max] of %d runs, warm cache)" % args.runs)
        print("  drovik-player, trivial game, first frame presented  %s" % ms(trivial))
        print("  drovik-player, trivial game, first launch           %s" % ms(first_launch))
        print("  drovik-player, sample, first frame presented        %s" % ms(player))
        print("  drovik-player, sample, first DK_Update              %s" % ms(player_update))
        print("  dk-engine-cli, sample, first update                 %s" % ms(engine))
        if xvfb:
            print("  LOVE trivial game, first present                    %s" % ms(love))
            for name, values in (("trivial", trivial), ("sample", player)):
                if None not in values + love:
                    ratios = sorted(p / l for p, l in zip(values, love))
                    print("  player (%s) / LOVE, run by run   %.2f  [%.2f-%.2f]   (target: at most 1.00)" %
                          (name.ljust(7), statistics.median(ratios), ratios[0], ratios[-1]))
        if None not in player_update + engine:
            print("  player's own part (medians' difference, first DK_Update)  %.1f ms" %
                  ((statistics.median(player_update) - statistics.median(engine)) * 1000))
        print("  spawn to exit, player / engine        %s / %s" % (ms(player_total).split("[")[0].strip(),
                                                               ms(engine_total).split("[")[0].strip()))
        sys.stdout.flush()
        if args.no_breakdown:
            return

        # Breakdown: each step's first line, in the order they come.
        steps, order = {}, []
        helps_player, helps_cli, helps_love = [], [], []
        for _ in range(args.runs):
            lines, _ = r.player("startup,engine,frame,launch")
            seen, playing = set(), False
            for t, line in lines:
                if not line.startswith("t="):
                    continue  # the engine's own prints, flushed late
                words = strip_stamp(line).split()
                key = " ".join(words[:2])
                if key == "engine DK_Play":
                    playing = True
                elif playing and key == "frame DK_Update":
                    key = "frame DK_Update after DK_Play"
                if key in seen:
                    continue
                seen.add(key)
                if key not in steps:
                    steps[key] = []
                    order.append(key)
                steps[key].append(t)
                if key == "launch firstFrame":
                    break
            helps_player.append(r.help(args.player))
            helps_cli.append(r.help(args.cli))
            if xvfb:
                helps_love.append(r.help("love", "--version"))
        print("\ndrovik-player, spawn to each step's first trace line (startup,engine,frame,launch traced)")
        print("  %-44s %s" % ("--help: spawn to exit (loading, to main)", ms(helps_player)))
        for key in order:
            print("  %-44s %s" % (key[:44], ms(steps[key])))

        marks = {}
        for _ in range(args.runs):
            lines, _ = r.engine()
            for name in ("script", "loadProject", "loadInitialScene", "update"):
                marks.setdefault(name, []).append(first(lines, lambda line, n=name: line == n))
        print("\ndk-engine-cli, spawn to each step (the wrapper's lines)")
        print("  %-44s %s" % ("--help: spawn to exit (loading, to main)", ms(helps_cli)))
        for name in ("script", "loadProject", "loadInitialScene", "update"):
            print("  %-44s %s" % (name, ms(marks[name])))
        if xvfb:
            print("\nLOVE: --version, spawn to exit (loading, to main)   %s" % ms(helps_love))
    finally:
        if xvfb:
            xvfb.close()
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Frame benchmark of a Lua-driven game against LÖVE 11.4 and the one-draw GL floor.

The same scenes (8x8 sprites of one texture at the same places; static, moving, rotated,
particles; 1,000 / 5,000 / 20,000 sprites) run as
  engine  frame.lua, an engine script run by dk-engine-cli at 320x240, moving its sprites with
          sprite.x:setValue(...) through "scenegraph"; it times its frames with
          platformWrappers.getSystemTime (start of one update to the start of the next, so the
          render and the host's end of frame are in it);
  LOVE    love/main.lua under xvfb-run at 320x240 (static through a SpriteBatch), timed the same
          way with love.timer.getTime around love.graphics.present;
  floor   lua_frame_floor: the same quads in one draw call per blend state, glFinish per frame.
Rounds interleave the three (engine, LÖVE, floor, engine, ...), with LP_NUM_THREADS=1 and with
Mesa's default. Each round gives every scene's median and p95 frame time; the ratios engine/LÖVE
and engine/floor are taken within a round and summarised as min / median / max over the rounds.
The CPU runs draw the same scenes on a 1x1 surface (the engine's 320x240 ortho space and LÖVE's
320x240 world scaled onto 1x1), so neither side culls what the other draws and rasterising costs
next to nothing; the figure is the process's CPU time per frame (median) per sprite.

  bench_lua_frame [--quick | --full] [--rounds N] [--frames N] [--unpaced]

The host ends each frame with glFlush, which on llvmpipe does not wait for the frame; a preloaded
shim (pace.cpp) makes it glFinish so the engine's frames are finished one by one like the others'.
--unpaced leaves the host as it is.

The default is --quick: one round, Mesa's default threads, few frames.
"""
import argparse
import os
import statistics
import struct
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
WORKLOADS = ["static", "moving", "rotated", "particles"]
COUNTS = [1000, 5000, 20000]


def write_png(path):
    """The 8x8 soft disc the LÖVE scene and the floor make in memory."""
    rows = b""
    for py in range(8):
        row = bytearray([0])
        for px in range(8):
            d = ((px - 3.5) ** 2 + (py - 3.5) ** 2) ** 0.5 / 4
            a = max(0.0, min(1.0, 1 - d))
            row += bytes(int(v * 255 + 0.5) for v in (px / 7, py / 7, 1.0, a))
        rows += bytes(row)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 8, 8, 8, 6, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def read_results(path):
    out = {}
    with open(path) as f:
        for line in f:
            w, n, median, p95, cpu = line.split()
            out[(w, int(n))] = (float(median), float(p95), float(cpu))
    return out


def run(kind, args, env, tmp, size):
    out = os.path.join(tmp, "result.txt")
    if os.path.exists(out):
        os.remove(out)
    env = dict(env, LF_OUT=out, LF_SIZE="1" if size == 1 else "320")
    if kind == "engine":
        scenes = len(WORKLOADS) * len(COUNTS)
        frames = scenes * (int(env["LF_FRAMES"]) + int(env["LF_WARMUP"]) + 3)
        side = "1x1" if size == 1 else "320x240"
        cmd = [args.cli, "--size", side, "--frames", str(frames), "--dt", str(1 / 60),
               "--screenshot", os.path.join(tmp, "engine.png"), os.path.join(HERE, "frame.lua")]
        if not args.unpaced:
            env["LD_PRELOAD"] = args.pace
    elif kind == "love":
        cmd = ["timeout", "1800", "xvfb-run", "-a", "-s", "-screen 0 640x480x24", "love",
               os.path.join(HERE, "love")]
    else:
        cmd = [args.floor]
    proc = subprocess.run(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if proc.returncode != 0 or not os.path.exists(out):
        sys.exit("bench_lua_frame: %s failed (%d): %s" % (kind, proc.returncode, proc.stderr[-2000:]))
    return read_results(out)


def spread(values):
    return "%5.2f %5.2f %5.2f" % (min(values), statistics.median(values), max(values))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--cli", required=True)
    p.add_argument("--floor", required=True)
    p.add_argument("--pace", required=True)
    p.add_argument("--unpaced", action="store_true")
    p.add_argument("--quick", action="store_true")
    p.add_argument("--full", action="store_true")
    p.add_argument("--rounds", type=int)
    p.add_argument("--frames", type=int)
    args = p.parse_args()
    full = args.full and not args.quick
    rounds = args.rounds or (5 if full else 1)
    frames = args.frames or (40 if full else 10)
    threads = ["1", "default"] if full else ["default"]

    tmp = tempfile.mkdtemp(prefix="bench_lua_frame_")
    image = os.path.join(tmp, "dot.png")
    write_png(image)
    base = dict(os.environ, ALSOFT_DRIVERS="null", LF_IMAGE=image, LF_FRAMES=str(frames), LF_WARMUP="5",
                LF_WORKLOADS=" ".join(WORKLOADS), LF_COUNTS=" ".join(map(str, COUNTS)))
    # Mesa allocates large vertex blocks per draw; keep them on the heap for all three programs
    # (see bench/es2).
    base.setdefault("GLIBC_TUNABLES",
                    "glibc.malloc.mmap_threshold=268435456:glibc.malloc.trim_threshold=1073741824")

    print("lua-frame: %d round(s) of %d frames per scene; frame ms from one frame's start to the next's"
          % (rounds, frames))
    print("frames finished before the next begins: engine %s; LOVE: love.graphics.present (the swap on "
          "Xvfb copies the finished frame out); floor: glFinish" %
          ("NOT (--unpaced: the host's glFlush as is)" if args.unpaced else
           "(the host's end-of-frame glFlush made a glFinish by a preloaded shim)"))
    print("the engine script moves its sprites through the scenegraph Lua module (bench/es2 drives"
          " the graph from C++)")
    for t in threads:
        env = dict(base)
        if t == "default":
            env.pop("LP_NUM_THREADS", None)
        else:
            env["LP_NUM_THREADS"] = t
        per = {k: [] for k in ("engine", "love", "floor", "engine1", "love1")}
        for _ in range(rounds):
            per["engine"].append(run("engine", args, env, tmp, 320))
            per["love"].append(run("love", args, env, tmp, 320))
            per["floor"].append(run("floor", args, env, tmp, 320))
            per["engine1"].append(run("engine", args, env, tmp, 1))
            per["love1"].append(run("love", args, env, tmp, 1))
        print("\nLP_NUM_THREADS=%s, 320x240: medians over rounds of each program's median / p95 ms;"
              " ratios per round, min med max" % t)
        print("%-9s %5s | %-13s | %-13s | %-13s | %-17s | %-17s | %-17s" %
              ("workload", "n", "engine", "LOVE", "floor", "eng/LOVE median", "eng/LOVE p95",
               "eng/floor median"))
        for w in WORKLOADS:
            for n in COUNTS:
                key = (w, n)
                med = {k: statistics.median(r[key][0] for r in per[k]) for k in ("engine", "love", "floor")}
                p95 = {k: statistics.median(r[key][1] for r in per[k]) for k in ("engine", "love", "floor")}
                rm = [e[key][0] / l[key][0] for e, l in zip(per["engine"], per["love"])]
                rp = [e[key][1] / l[key][1] for e, l in zip(per["engine"], per["love"])]
                rf = [e[key][0] / f[key][0] for e, f in zip(per["engine"], per["floor"])]
                print("%-9s %5d | %5.2f / %5.2f | %5.2f / %5.2f | %5.2f / %5.2f | %s | %s | %s" %
                      (w, n, med["engine"], p95["engine"], med["love"], p95["love"], med["floor"],
                       p95["floor"], spread(rm), spread(rp), spread(rf)))
        print("\nLP_NUM_THREADS=%s, 1x1: process CPU per sprite per frame, microseconds (median over"
              " rounds); ratio per round, min med max" % t)
        print("%-9s %5s | %7s | %7s | %-17s" % ("workload", "n", "engine", "LOVE", "eng/LOVE"))
        for w in WORKLOADS:
            for n in COUNTS:
                key = (w, n)
                e = [r[key][2] * 1000 / n for r in per["engine1"]]
                lv = [r[key][2] * 1000 / n for r in per["love1"]]
                print("%-9s %5d | %7.3f | %7.3f | %s" % (w, n, statistics.median(e), statistics.median(lv),
                                                         spread([a / b for a, b in zip(e, lv)])))
        sys.stdout.flush()


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Frame benchmark of a Lua-driven game against LÖVE 11.4, the one-draw GL floor and the player.

The same scenes (8x8 sprites of one texture at the same places; static, moving, rotated,
particles; 1,000 / 5,000 / 20,000 sprites) run as
  engine  frame.lua, an engine script run by dk-engine-cli at 320x240, moving its sprites with
          sprite.x:setValue(...) through "scenegraph"; it times its frames with
          platformWrappers.getSystemTime (start of one update to the start of the next, so the
          render and the host's end of frame are in it);
  LOVE    love/main.lua under xvfb-run at 320x240 (static through a SpriteBatch), timed the same
          way with love.timer.getTime around love.graphics.present; twice: with glibc as shipped
          ("LOVE") and with the malloc thresholds the hosts set for themselves ("LOVE+thr");
  floor   lua_frame_floor: the same quads in one draw call per blend state, glFinish per frame;
  player  frame.lua as a bundle's engine script, run by drovik-player headless on the smallest
          device, a 480x320 screen (--player): the player's whole frame loop (display link,
          game view, compositor). On its virtual clock the script's frame times are the clock's,
          so only the process's CPU per frame is reported, beside the engine's at 320x240.
Every scene runs in a process of its own (a 20,000-sprite scene left the next one's heap and
caches disturbed). Rounds interleave the programs scene by scene. Each round gives every scene's
median and p95 frame time; the ratios engine/LÖVE are taken within a round and summarised as
min / median / max over the rounds.
The CPU runs draw the same scenes on a 1x1 surface (the engine's 320x240 ortho space and LÖVE's
320x240 world scaled onto 1x1), so neither side culls what the other draws and rasterising costs
next to nothing; the figure is the process's CPU time per frame (median) per sprite. There the
engine also runs "still", the moving scene's loop computing the same values without writing
them: moving minus still is what the two port writes cost in a real frame (with the graph's
work for the sprites they dirty). "loop" is the CPU time of the script's loop over the sprites
alone (for LÖVE: its loop of love.graphics.draw calls).

  bench_lua_frame [--quick | --full] [--rounds N] [--frames N] [--threads 1,4]
                  [--workloads moving,rotated] [--counts 1000,5000] [--cpu-counts 5000,20000]
                  [--player PATH] [--unpaced]
  bench_lua_frame --cpu [--cpu-rounds 7] [--cpu-counts 20000] [--threads 1,4]
  bench_lua_frame --gl-calls [--cpu-counts 20000] [--threads 1,4]

--cpu runs the CPU-per-sprite comparison alone, the engine's moving and still scenes against LÖVE's
moving one, in many interleaved rounds, and splits each program's CPU into its main thread's and the
rest (Mesa's rasteriser threads, sound mixers): on a shared machine single rounds differ by a
third, so a few rounds do not tell a gap from the load. --gl-calls runs each program once under
Mesa's trace driver (GALLIUM_TRACE) and says what one frame hands the driver: draw calls, index
size, vertex strides and whether the vertices are read from the program's memory, uploads, maps,
flushes and waits.

The host ends each frame with glFlush, which on llvmpipe does not wait for the frame; a preloaded
shim (pace.cpp) makes it glFinish so the engine's frames are finished one by one like the others'.
--unpaced leaves the host as it is. The engine and the player run as they are (the hosts set the
malloc thresholds themselves); the floor runs with the thresholds given through GLIBC_TUNABLES.

The default is --quick: one round, Mesa's default threads, few frames, 1,000 and 5,000 sprites (the CPU
runs at 5,000 only).
"""
import argparse
import os
import re
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(HERE, "..", "common"))
from xvfb import Xvfb  # noqa: E402
WORKLOADS = ["static", "moving", "rotated", "particles"]
COUNTS = [1000, 5000, 20000]
# What the hosts set with mallopt (platform/gl keepFrameMemoryMapped), as glibc tunables.
THRESHOLDS = "glibc.malloc.mmap_threshold=33554432:glibc.malloc.trim_threshold=134217728"


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
    """(median, p95, cpu, loop, main) per scene; main (the main thread's CPU) is -1 when not told."""
    out = {}
    with open(path) as f:
        for line in f:
            w, n, *figures = line.split()
            figures = [float(x) for x in figures] + [-1.0] * (5 - len(figures))
            out[(w, int(n))] = tuple(figures[:5])
    return out


def make_bundle(tmp):
    """A bundle whose engine script is frame.lua, for the player."""
    bundle = os.path.join(tmp, "Frame.app")
    if not os.path.isdir(bundle):
        sample = os.path.join(HERE, "..", "..", "games", "sample", "Sample.app")
        os.makedirs(bundle)
        shutil.copy(os.path.join(sample, "Info.plist"), bundle)
        shutil.copytree(os.path.join(sample, "Sample.gameproj"), os.path.join(bundle, "Sample.gameproj"))
        shutil.copy(os.path.join(HERE, "frame.lua"), os.path.join(bundle, "engine32.luo"))
    return bundle


GL_DRIVER = ("libLLVM", "swrast_dri", "libgallium", "libz3", "libglapi", "libGLdispatch", "libEGL", "libGLES",
             "libGLX", "libdrm", "libelf", "libsensors")


def resident(pid):
    """{part: KiB} of a process's resident memory from /proc/PID/smaps: the GL driver's libraries,
    the program's own file, other libraries, and the heap with anonymous mappings (malloc's arenas,
    LuaJIT's, Mesa's and the threads' stacks)."""
    parts = {"GL driver libraries": 0, "program file": 0, "other libraries": 0, "heap and anonymous": 0}
    exe = os.path.realpath("/proc/%d/exe" % pid)
    name = None
    with open("/proc/%d/smaps" % pid) as f:
        for line in f:
            fields = line.split()
            if fields and "-" in fields[0] and not fields[0].endswith(":"):
                name = fields[5] if len(fields) > 5 else ""
            elif fields and fields[0] == "Rss:":
                kb = int(fields[1])
                if name == exe:
                    parts["program file"] += kb
                elif name.startswith("/") and any(lib in name for lib in GL_DRIVER):
                    parts["GL driver libraries"] += kb
                elif name.startswith("/"):
                    parts["other libraries"] += kb
                else:
                    parts["heap and anonymous"] += kb
    return parts


def sample_peak(pid, into, done):
    """Keeps in `into` the breakdown of the largest resident total seen until `done` is set."""
    best = 0
    while not done.wait(0.05):
        try:
            parts = resident(pid)
        except (OSError, ValueError, IndexError):
            continue
        if sum(parts.values()) > best:
            best = sum(parts.values())
            into.clear()
            into.update(parts)


def run(kind, args, env, tmp, size, workload, n, memory=None, breakdown=None):
    """One scene in a fresh process; returns (median, p95, cpu, loop, main). With `memory`, a list,
    the process's peak resident size in MiB is appended to it; with `breakdown`, a dict, the parts
    of its largest resident size sampled (resident())."""
    out = os.path.join(tmp, "result.txt")
    if os.path.exists(out):
        os.remove(out)
    env = dict(env, LF_OUT=out, LF_SIZE="1" if size == 1 else "320", LF_WORKLOADS=workload, LF_COUNTS=str(n))
    frames = int(env["LF_FRAMES"]) + int(env["LF_WARMUP"]) + 3
    if kind == "engine":
        side = {1: "1x1", 320: "320x240", 480: "480x320"}[size]
        cmd = [args.cli, "--size", side, "--frames", str(frames), "--dt", str(1 / 60),
               "--screenshot", os.path.join(tmp, "engine.png"), os.path.join(HERE, "frame.lua")]
        if not args.unpaced:
            env["LD_PRELOAD"] = args.pace
    elif kind in ("player", "player-window"):
        cmd = [args.player, "--device", "phone", "--frames", str(frames), "--drain-seconds", "0",
               "--home", os.path.join(tmp, "home-" + kind), make_bundle(tmp)]
        if kind == "player":
            cmd.insert(1, "--headless")
        else:
            env["DISPLAY"] = args.display
    elif kind in ("love", "love+thr"):
        if kind == "love+thr":
            env["GLIBC_TUNABLES"] = THRESHOLDS
        if args.display:
            env["DISPLAY"] = args.display
            cmd = ["love", os.path.join(HERE, "love")]
        else:
            cmd = ["timeout", "1800", "xvfb-run", "-a", "-s", "-screen 0 640x480x24", "love",
                   os.path.join(HERE, "love")]
    else:
        env["GLIBC_TUNABLES"] = THRESHOLDS
        cmd = [args.floor]
    proc = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    done = threading.Event()
    sampler = None
    if breakdown is not None:
        sampler = threading.Thread(target=sample_peak, args=(proc.pid, breakdown, done))
        sampler.start()
    err = proc.stderr.read()
    done.set()
    if sampler:
        sampler.join()
    _, status, usage = os.wait4(proc.pid, 0)
    code = os.waitstatus_to_exitcode(status)
    if code != 0 or not os.path.exists(out):
        sys.exit("bench_lua_frame: %s %s %d failed (%d): %s" % (kind, workload, n, code, err[-2000:]))
    if memory is not None:
        memory.append(usage.ru_maxrss / 1024)
    return read_results(out)[(workload, n)]


def spread(values):
    return "%5.2f %5.2f %5.2f" % (min(values), statistics.median(values), max(values))


def csv(text, kind=str):
    return [kind(x) for x in text.split(",") if x]


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--cli", required=True)
    p.add_argument("--floor", required=True)
    p.add_argument("--pace", required=True)
    p.add_argument("--player")
    p.add_argument("--unpaced", action="store_true")
    p.add_argument("--quick", action="store_true")
    p.add_argument("--full", action="store_true")
    p.add_argument("--rounds", type=int)
    p.add_argument("--frames", type=int)
    p.add_argument("--threads")
    p.add_argument("--workloads", default=",".join(WORKLOADS))
    p.add_argument("--counts")
    p.add_argument("--cpu-counts")
    p.add_argument("--report", action="store_true")
    p.add_argument("--startup", help="the start-up benchmark's wrapper, run by --report")
    p.add_argument("--no-startup", action="store_true", help="--report without the start-up runs")
    p.add_argument("--cpu", action="store_true",
                   help="only CPU per moving sprite at 1x1 against LÖVE (--cpu-rounds, --cpu-counts, --threads)")
    p.add_argument("--cpu-rounds", type=int, help="rounds of the CPU-per-sprite runs of --cpu and --report (7)")
    p.add_argument("--gl-calls", action="store_true",
                   help="what the engine and LÖVE hand Mesa in one frame of moving sprites at 1x1 (--cpu-counts), "
                        "read from Mesa's gallium trace")
    args = p.parse_args()
    args.display = None
    if args.report:
        report(args)
        return
    if args.cpu or args.gl_calls:
        cpu_only(args)
        return
    full = args.full and not args.quick
    rounds = args.rounds or (5 if full else 1)
    frames = args.frames or (40 if full else 10)
    threads = csv(args.threads) if args.threads else (["1", "default"] if full else ["default"])
    workloads = csv(args.workloads)
    counts = csv(args.counts, int) if args.counts else (COUNTS if full else [1000, 5000])
    cpu_counts = csv(args.cpu_counts, int) if args.cpu_counts else (counts if full else [5000])
    cpu_workloads = workloads + (["still"] if "moving" in workloads else [])
    frame_kinds = ["engine", "love", "love+thr", "floor"] + (["player"] if args.player else [])
    cpu_kinds = ["engine", "love", "love+thr"]

    tmp = tempfile.mkdtemp(prefix="bench_lua_frame_")
    xvfb = Xvfb()
    args.display = xvfb.display
    try:
        frames_run(args, rounds, frames, threads, workloads, counts, cpu_counts, cpu_workloads, frame_kinds, cpu_kinds,
                   tmp)
    finally:
        xvfb.close()
        shutil.rmtree(tmp, ignore_errors=True)


def frames_run(args, rounds, frames, threads, workloads, counts, cpu_counts, cpu_workloads, frame_kinds, cpu_kinds,
               tmp):
    image = os.path.join(tmp, "dot.png")
    write_png(image)
    base = dict(os.environ, ALSOFT_DRIVERS="null", LF_IMAGE=image, LF_FRAMES=str(frames), LF_WARMUP="5")
    base.pop("GLIBC_TUNABLES", None)

    print("lua-frame: %d round(s) of %d frames per scene, each scene in a process of its own; frame ms from"
          " one frame's start to the next's" % (rounds, frames))
    print("frames finished before the next begins: engine %s; LOVE: love.graphics.present (the swap on "
          "Xvfb copies the finished frame out); floor: glFinish" %
          ("NOT (--unpaced: the host's glFlush as is)" if args.unpaced else
           "(the host's end-of-frame glFlush made a glFinish by a preloaded shim)"))
    print("LOVE: glibc as shipped; LOVE+thr: with %s (what the hosts set)" % THRESHOLDS)
    for t in threads:
        env = dict(base)
        if t == "default":
            env.pop("LP_NUM_THREADS", None)
        else:
            env["LP_NUM_THREADS"] = t
        res = {}  # (kind, size, workload, n) -> [per round]
        for _ in range(rounds):
            for w in workloads:
                for n in counts:
                    for k in frame_kinds:
                        res.setdefault((k, 320, w, n), []).append(run(k, args, env, tmp, 320, w, n))
            for w in cpu_workloads:
                for n in cpu_counts:
                    for k in cpu_kinds:
                        if k.startswith("love") and w == "still":
                            continue
                        res.setdefault((k, 1, w, n), []).append(run(k, args, env, tmp, 1, w, n))
        print("\nLP_NUM_THREADS=%s, 320x240: medians over rounds of each program's median / p95 ms;"
              " ratios per round, min med max" % t)
        print("%-9s %5s | %-13s | %-13s | %-13s | %-13s | %-17s | %-17s | %-17s | %-17s | %s" %
              ("workload", "n", "engine", "LOVE", "LOVE+thr", "floor", "eng/LOVE median", "eng/LOVE p95",
               "eng/LOVE+thr med", "eng/floor median", "CPU ms engine / player"))
        for w in workloads:
            for n in counts:
                r = {k: res[(k, 320, w, n)] for k in frame_kinds}
                med = {k: statistics.median(x[0] for x in r[k]) for k in frame_kinds}
                p95 = {k: statistics.median(x[1] for x in r[k]) for k in frame_kinds}

                def ratios(other, i):
                    return [e[i] / o[i] for e, o in zip(r["engine"], r[other])]
                cpu = {k: statistics.median(x[2] for x in r[k]) for k in frame_kinds}
                print("%-9s %5d | %5.2f / %5.2f | %5.2f / %5.2f | %5.2f / %5.2f | %5.2f / %5.2f | %s | %s | %s | %s"
                      " | %5.2f / %s" %
                      (w, n, med["engine"], p95["engine"], med["love"], p95["love"], med["love+thr"],
                       p95["love+thr"], med["floor"], p95["floor"], spread(ratios("love", 0)),
                       spread(ratios("love", 1)), spread(ratios("love+thr", 0)), spread(ratios("floor", 0)),
                       cpu["engine"], "%5.2f" % cpu["player"] if "player" in cpu else "-"))
        print("\nLP_NUM_THREADS=%s, 1x1: process CPU per sprite per frame, ns (median over rounds); eng/LOVE"
              " per round, min med max; loop: the script's loop over the sprites alone, ns per sprite" % t)
        print("%-9s %5s | %6s | %6s | %8s | %-17s | %-17s | %9s | %9s" %
              ("workload", "n", "engine", "LOVE", "LOVE+thr", "eng/LOVE", "eng/LOVE+thr", "eng loop", "LOVE loop"))
        for w in cpu_workloads:
            for n in cpu_counts:
                def per(k, i=2):
                    return [x[i] * 1e6 / n for x in res.get((k, 1, w, n), [])]

                def med(values):
                    return "%6.0f" % statistics.median(values) if values else "     -"
                e, lv, lt = per("engine"), per("love"), per("love+thr")
                print("%-9s %5d | %s | %s | %8s | %-17s | %-17s | %9s | %9s" %
                      (w, n, med(e), med(lv), med(lt).strip(),
                       spread([a / b for a, b in zip(e, lv)]) if lv else "-",
                       spread([a / b for a, b in zip(e, lt)]) if lt else "-",
                       med(per("engine", 3)).strip(), med(per("love", 3)).strip()))
            if w == "still":
                for n in cpu_counts:
                    diff = [(m[2] - s_[2]) * 1e6 / n for m, s_ in zip(res[("engine", 1, "moving", n)],
                                                                   res[("engine", 1, "still", n)])]
                    print("  the two port writes in a real frame at %d (moving - still, per round): %s ns per sprite"
                          % (n, " ".join("%.0f" % d for d in diff)))
        sys.stdout.flush()

def median_or_dash(values, fmt="%6.2f"):
    values = [v for v in values if v is not None and v >= 0]
    return fmt % statistics.median(values) if values else "-".rjust(len(fmt % 0))


def cpu_per_sprite(args, base, tmp, rounds, counts, threads, still=True):
    """CPU per moving sprite on a 1x1 surface, the engine against LÖVE, each scene in a fresh process, the
    programs interleaved round by round (their order alternating): the process's CPU and its main
    thread's (the rest is Mesa's rasteriser threads and the programs' helpers, the engine's sound
    mixer among them). With `still`, the engine's still scene too: moving - still is what the two
    port writes cost."""
    pairs = [("engine", "moving"), ("love", "moving")] + ([("engine", "still")] if still else [])
    for t in threads:
        env = dict(base, LP_NUM_THREADS=t)
        cpu = {}
        for r in range(rounds):
            for n in counts:
                for k, w in (pairs if r % 2 == 0 else pairs[::-1]):
                    cpu.setdefault((k, w, n), []).append(run(k, args, env, tmp, 1, w, n))
        print("\nLP_NUM_THREADS=%s, 1x1, %d rounds: CPU ns per sprite per frame, medians over rounds of each"
              " run's median frame: process = main thread + the rest; engine/LOVE per round, min med max" % (t, rounds))
        for n in counts:
            e, lv = cpu[("engine", "moving", n)], cpu[("love", "moving", n)]

            def ns(runs, i):
                return [x[i] * 1e6 / n for x in runs]

            def split(runs):
                main = [x[4] * 1e6 / n for x in runs if x[4] >= 0]
                rest = [(x[2] - x[4]) * 1e6 / n for x in runs if x[4] >= 0]
                return "%4.0f = %4.0f + %3.0f" % (statistics.median(ns(runs, 2)), statistics.median(main) if main else -1,
                                                 statistics.median(rest) if rest else -1)
            ratios = [a / b for a, b in zip(ns(e, 2), ns(lv, 2))]
            main_ratios = [a[4] / b[4] for a, b in zip(e, lv) if a[4] > 0 and b[4] > 0]
            print("  moving %6d: engine %s, LOVE %s; ratio process %s, main thread %s" %
                  (n, split(e), split(lv), spread(ratios), spread(main_ratios) if main_ratios else "-"))
            if still:
                st = cpu[("engine", "still", n)]
                print("    the two port writes (moving - still) per round: %s ns" %
                      " ".join("%.0f" % (a - b) for a, b in zip(ns(e, 2), ns(st, 2))))
        sys.stdout.flush()


TRACE_CALL = re.compile(r"<call no='\d+' class='[a-z_]+' method='([a-z_0-9]+)'>(.*?)</call>", re.S)


def trace_field(body, name):
    """The first integer argument or member called `name` in a traced call (or the call's time, µs), or None."""
    pattern = r"<time><int>(\d+)<" if name == "time" else r"<(?:arg|member) name='%s'><(?:u?int|bool)>(-?\d+)<" % name
    m = re.search(pattern, body)
    return int(m.group(1)) if m else None


def trace_frames(path):
    """The gallium calls of each whole frame of a trace (a frame starts at a clear), as lists of
    (method, body) pairs; the last, cut short by the end of the scene, is left out."""
    with open(path, errors="replace") as f:
        calls = TRACE_CALL.findall(f.read())
    clears = [i for i, (method, _) in enumerate(calls) if method == "clear"]
    return [calls[a:b] for a, b in zip(clears, clears[1:])]


def describe_frame(calls):
    """What a frame hands the driver: its draws (index size, indices, the vertex buffers' strides and
    whether they are the program's own memory), bytes written into buffers through the driver, maps,
    flushes and waits."""
    draws, buffers, lines = [], "", []
    uploaded = maps = flushes = waits = 0
    for method, body in calls:
        if method == "set_vertex_buffers":
            strides = re.findall(r"<member name='stride'><uint>(\d+)<", body)
            user = re.findall(r"<member name='is_user_buffer'><(?:uint|bool)>(\d+)<", body)
            buffers = "+".join("%s%s" % (st, " (program memory)" if u == "1" else "") for st, u in zip(strides, user))
        elif method == "draw_vbo":
            vertices = (trace_field(body, "max_index") or 0) - (trace_field(body, "min_index") or 0) + 1
            draws.append("%d-byte indices x %d, vertex buffers' strides %s%s" %
                         (trace_field(body, "index_size") or 0, trace_field(body, "count") or 0, buffers,
                          " over %d vertices" % vertices if 0 < vertices < 1 << 31 else ""))
        elif method in ("buffer_subdata", "texture_subdata"):
            uploaded += trace_field(body, "size") or 0
        elif method in ("buffer_map", "texture_map"):
            maps += 1
        elif method == "flush":
            flushes += 1
        elif method == "fence_finish":
            waits += 1
    lines.append("%d draw call(s): %s" % (len(draws), "; ".join(draws)))
    lines.append("bytes given through the driver %d, maps %d, flushes %d, fence waits %d" %
                 (uploaded, maps, flushes, waits))
    return lines


def gl_calls(args, base, tmp, counts, threads):
    """One traced run each of the engine and LÖVE (GALLIUM_TRACE, Mesa's trace driver): what a frame
    of moving sprites at 1x1 hands the driver, and the time the trace saw in its draws (the median
    over the frames after the first five; the trace's own writing slows every call alike)."""
    for n, t in ((n, t) for t in threads for n in counts):
        for kind in ("engine", "love"):
            path = os.path.join(tmp, "trace-%s.xml" % kind)
            env = dict(base, GALLIUM_TRACE=path, LF_FRAMES="20", LF_WARMUP="2", LP_NUM_THREADS=t)
            run(kind, args, env, tmp, 1, "moving", n)
            frames = trace_frames(path)[5:]
            print("%s, %d moving sprites at 1x1, LP_NUM_THREADS=%s, a frame:" %
                  ("engine" if kind == "engine" else "LOVE", n, t))
            if not frames:
                print("  no frames in the trace (is Mesa's trace driver there?)")
                continue
            for line in describe_frame(frames[-2]):
                print("  " + line)
            times = [sum(trace_field(body, "time") or 0 for method, body in f if method == "draw_vbo") for f in frames]
            print("  draws' traced time over %d frames: median %.2f ms [%.2f-%.2f]" %
                  (len(times), statistics.median(times) / 1000, min(times) / 1000, max(times) / 1000))
        sys.stdout.flush()


def harness_env(tmp, frames):
    """The environment of the report's and --cpu's runs: the sprite image written into `tmp`, 10
    frames of warm-up, the null sound device, Mesa's own thread count and glibc as shipped unless
    a run says otherwise."""
    image = os.path.join(tmp, "dot.png")
    write_png(image)
    env = dict(os.environ, ALSOFT_DRIVERS="null", LF_IMAGE=image, LF_FRAMES=str(frames), LF_WARMUP="10")
    env.pop("GLIBC_TUNABLES", None)
    env.pop("LP_NUM_THREADS", None)
    return env


def cpu_only(args):
    """--cpu and --gl-calls: the CPU-per-sprite comparison with LÖVE alone, and what each hands Mesa."""
    counts = csv(args.cpu_counts, int) if args.cpu_counts else [20000]
    threads = csv(args.threads) if args.threads else ["1", "4"]
    tmp = tempfile.mkdtemp(prefix="bench_lua_frame_")
    xvfb = Xvfb()
    args.display = xvfb.display
    try:
        base = harness_env(tmp, args.frames or 60)
        if args.gl_calls:
            gl_calls(args, base, tmp, counts, threads)
        if args.cpu:
            cpu_per_sprite(args, base, tmp, args.cpu_rounds or 7, counts, threads)
    finally:
        xvfb.close()
        shutil.rmtree(tmp, ignore_errors=True)


def report(args):
    """The player's standing in one run: the player in a window and headless beside dk-engine-cli
    (process and main-thread CPU per frame, moving and still, 1,000 / 5,000 / 20,000 sprites), CPU
    per sprite against LÖVE at 1x1, peak memory of the three on 1,000 moving sprites, and start-up."""
    rounds = args.rounds or 3
    frames = args.frames or 60
    counts = csv(args.counts, int) if args.counts else COUNTS
    cpu_counts = csv(args.cpu_counts, int) if args.cpu_counts else [5000, 20000]
    threads = csv(args.threads) if args.threads else ["1", "4"]
    tmp = tempfile.mkdtemp(prefix="bench_lua_frame_")
    xvfb = Xvfb()
    args.display = xvfb.display
    try:
        base = harness_env(tmp, frames)
        print("report: %d round(s), %d frames per scene after 10, each scene in a process of its own, rounds"
              " interleaved; LP_NUM_THREADS as Mesa chooses unless said" % (rounds, frames))
        sys.stdout.flush()

        kinds = ["engine", "player", "player-window"]
        res, memory = {}, {k: [] for k in kinds + ["love"]}
        for _ in range(rounds):
            for n in counts:
                for w in ("moving", "still"):
                    for k in kinds:
                        mem = memory[k] if (n, w) == (1000, "moving") else None
                        res.setdefault((k, w, n), []).append(run(k, args, base, tmp, 480, w, n, mem))
            run("love", args, base, tmp, 320, "moving", 1000, memory["love"])
        print("\nCPU ms per frame at 480x320 (the player: --device phone; dk-engine-cli: --size 480x320), medians"
              " over rounds of each run's median;\nratios to the CLI taken per round, min / median / max")
        print("%-7s %6s | %-13s | %-13s | %-13s | %-17s | %-17s" %
              ("scene", "n", "CLI proc/main", "headless", "window", "window/CLI proc", "headless/CLI main"))
        for n in counts:
            for w in ("moving", "still"):
                e, h, win = res[("engine", w, n)], res[("player", w, n)], res[("player-window", w, n)]

                def pm(r):
                    return "%s / %s" % (median_or_dash([x[2] for x in r], "%5.2f"), median_or_dash([x[4] for x in r], "%5.2f"))
                window_ratio = [a[2] / b[2] for a, b in zip(win, e)]
                main_ratio = [a[4] / b[4] for a, b in zip(h, e) if a[4] > 0 and b[4] > 0]
                print("%-7s %6d | %-13s | %-13s | %-13s | %-17s | %-17s" %
                      (w, n, pm(e), pm(h), pm(win), spread(window_ratio), spread(main_ratio) if main_ratio else "-"))
        print("targets: window/CLI process CPU <= 1.25 (moving); headless/CLI main-thread CPU <= 1.10 (moving and"
              " still)")
        print("\npeak resident memory, 1,000 moving sprites (MiB, median [min-max] over rounds): " + ", ".join(
            "%s %s [%s-%s]" % (k, median_or_dash(memory[k], "%.0f"), "%.0f" % min(memory[k]), "%.0f" % max(memory[k]))
            for k in ("player", "player-window", "engine", "love")))
        print("target: the player at most LÖVE's + 20 MiB")
        print("where it is (MiB, resident at the largest total sampled every 50 ms, one more run each):")
        for k in ("player", "engine", "love"):
            parts = {}
            run(k, args, base, tmp, 480 if k != "love" else 320, "moving", 1000, breakdown=parts)
            print("  %-8s %s" % (k, ", ".join("%s %.1f" % (part, kb / 1024) for part, kb in parts.items())))
        sys.stdout.flush()

        cpu_per_sprite(args, base, tmp, args.cpu_rounds or 7, cpu_counts, threads)
    finally:
        xvfb.close()
        shutil.rmtree(tmp, ignore_errors=True)
    if args.startup and not args.no_startup:
        print("\nstart-up (bench_startup --runs 10 --no-breakdown):")
        sys.stdout.flush()
        subprocess.run([args.startup, "--runs", "10", "--no-breakdown"], check=False)


if __name__ == "__main__":
    main()

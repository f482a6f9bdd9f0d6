#!/usr/bin/env python3
"""The URL cache killed at random instants: dk-kiosk-cli (real clock) stores, evicts and removes in
a loop until SIGKILL; after each kill a new process must find a parsable index, no stray file,
"diskUsage" the sum of the sizes, and serve every body it has exactly as the server sent it.
At the end, flipped and cut bytes must give a miss, never a wrong body.

    cache_kill.py DK_KIOSK_CLI RECORDING_SERVER [--runs N] [--seed N]
"""
import argparse
import hashlib
import json
import os
import plistlib
import random
import signal
import subprocess
import sys
import tempfile
import time

URLS = 300
CAPACITY = 60000  # a few dozen entries: eviction runs too


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def start_server(server, out, body):
    script = os.path.join(out, "script.json")
    with open(script, "w") as f:
        json.dump({"default": {"headers": [["Cache-Control", "max-age=3600"]], "body": body}}, f)
    proc = subprocess.Popen([sys.executable, server, "--out", out, "--script", script, "--max-seconds", "300"],
                            stdout=subprocess.PIPE, text=True)
    line = proc.stdout.readline()
    if not line.startswith("PORT "):
        fail("recording server did not start")
    return proc, int(line.split()[1])


def cli(tool, home, commands, **kw):
    return subprocess.run([tool, "--home", home, "--clock", "real", "--pasteboards", home + "/boards"],
                          input=commands, capture_output=True, text=True, **kw)


def check_store(tool, home, base, body_sha1):
    # A new process loads (and reconciles) the index, and saves it.
    result = cli(tool, home, "cache usage\ncache maintain\n")
    if result.returncode != 0:
        fail("verifier failed: " + result.stdout + result.stderr)
    usage = int(result.stdout.split()[0].split("=")[1])
    directory = os.path.join(home, "Library/Caches/SDURLCache")
    if not os.path.isdir(directory):
        return 0
    files = sorted(os.listdir(directory))
    keys = [f for f in files if f != "cacheInfo.plist"]
    if "cacheInfo.plist" not in files and keys:
        fail("files without an index: %s" % keys)
    if keys:
        with open(os.path.join(directory, "cacheInfo.plist"), "rb") as f:
            index = plistlib.load(f)
        sizes = {k: os.path.getsize(os.path.join(directory, k)) for k in keys}
        if sorted(index["sizes"]) != keys or sorted(index["accesses"]) != keys:
            fail("index keys %s, files %s" % (sorted(index["sizes"]), keys))
        if index["sizes"] != sizes:
            fail("index sizes differ from the files")
        if index["diskUsage"] != sum(sizes.values()) or usage != index["diskUsage"]:
            fail("diskUsage %d, files %d, process %d" % (index["diskUsage"], sum(sizes.values()), usage))
    # Every body served is the server's.
    gets = "".join("cache get %s/%d 3\n" % (base, i) for i in range(URLS))
    lines = cli(tool, home, gets).stdout.splitlines()
    served = 0
    for i, line in enumerate(lines):
        if line.startswith("failed -1008"):
            continue
        if "sha1=" + body_sha1 not in line or "source=cache" not in line:
            fail("url %d served %s" % (i, line))
        served += 1
    if served != len(keys):
        fail("%d entries on disk, %d served" % (len(keys), served))
    return served


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("tool")
    parser.add_argument("server")
    parser.add_argument("--runs", type=int, default=8)
    parser.add_argument("--seed", type=int, default=38)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    body = "".join(chr(ord("a") + (i * 7) % 26) for i in range(2500))
    body_sha1 = hashlib.sha1(body.encode()).hexdigest()
    with tempfile.TemporaryDirectory() as tmp:
        server, port = start_server(args.server, tmp, body)
        base = "http://127.0.0.1:%d" % port
        home = os.path.join(tmp, "home")
        try:
            loop = ["cache install 1048576 %d" % CAPACITY]
            for i in range(URLS):
                loop.append("cache get %s/%d" % (base, i))
                if i % 7 == 6:
                    loop.append("cache maintain")
                if i % 11 == 10:
                    loop.append("cache remove %s/%d" % (base, i - 5))
            commands = "\n".join(loop) + "\n"
            for run in range(args.runs):
                child = subprocess.Popen([args.tool, "--home", home, "--clock", "real", "--pasteboards",
                                          home + "/boards"], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
                child.stdin.write(commands.encode())
                child.stdin.close()
                time.sleep(rng.uniform(0.02, 0.8))
                child.send_signal(signal.SIGKILL)
                child.wait()
                served = check_store(args.tool, home, base, body_sha1)
                print("run %d: %d entries whole after the kill" % (run, served))

            # Damage: a flipped byte and a cut file are misses, never another body.
            directory = os.path.join(home, "Library/Caches/SDURLCache")
            by_key = {"V3_" + hashlib.md5(("%s/%d" % (base, i)).encode()).hexdigest(): i for i in range(URLS)}
            keys = [k for k in sorted(os.listdir(directory)) if k in by_key][:2]
            if len(keys) < 2:
                fail("too few entries left to damage")
            path = os.path.join(directory, keys[0])
            data = bytearray(open(path, "rb").read())
            data[len(data) // 2] ^= 0x01
            open(path, "wb").write(bytes(data))
            path = os.path.join(directory, keys[1])
            data = open(path, "rb").read()
            open(path, "wb").write(data[: len(data) - 3])
            out = cli(args.tool, home, "".join("cache get %s/%d 3\n" % (base, by_key[k]) for k in keys)).stdout
            if out != "failed -1008 resource unavailable\n" * 2:
                fail("damaged entries gave: " + out)
            check_store(args.tool, home, base, body_sha1)
        finally:
            server.terminate()
            server.wait()
    print("ok")


if __name__ == "__main__":
    main()

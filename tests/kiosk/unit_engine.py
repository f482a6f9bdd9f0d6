#!/usr/bin/env python3
"""dk-kiosk-cli's units on the real page engine, driven a line at a time.

    unit_engine.py DK_KIOSK_CLI KIOSK_API_SERVER

A solid-colour dialog unit served by the content-API peer is shown without animation; once its
page has drawn, a screenshot is checked at a few pixels (inside the dialog, on its border, and
outside it), and a tap on the page's button reaches the page (its click navigates to an
unregistered "ks:" address, which the view refuses). The tool runs on the real clock and is turned
in short steps until what is awaited has happened, for 60 seconds at most.
"""
import json
import os
import struct
import subprocess
import sys
import tempfile
import time
import zlib

GREEN = (0, 255, 0)


def read_png(path):
    """RGBA rows of an 8-bit, non-interlaced RGBA PNG (what the tool writes)."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, width, height = 8, b"", 0, 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            assert (depth, colour) == (8, 6), "expected 8-bit RGBA"
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw, stride, rows, prev = zlib.decompress(idat), width * 4, [], bytearray(width * 4)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b, c = prev[i], prev[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(line)
        prev = line
    return width, height, rows


class Tool:
    def __init__(self, argv):
        self.proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.seen = []

    def send(self, line, answers=("ok",)):
        """Sends a command; returns its answer line, keeping the happenings before it."""
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        while True:
            out = self.proc.stdout.readline()
            if not out:
                raise RuntimeError("the tool ended during: " + line)
            out = out.rstrip("\n")
            if out in answers or out.startswith("error ") or out.startswith("view "):
                return out
            self.seen.append(out)

    def turn_until(self, wanted, seconds=60):
        end = time.monotonic() + seconds
        while not wanted():
            if time.monotonic() > end:
                return False
            self.send("run 0.1")
        return True

    def close(self):
        self.proc.stdin.close()
        return self.proc.wait(30)


def main():
    cli, server_program = sys.argv[1], sys.argv[2]
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        page = ("<html><body style='margin:0;background:#00ff00'>"
                "<button style='position:absolute;left:0;top:0;width:100%;height:40px;opacity:0' "
                "onclick=\"location.href='ks://tapped'\">b</button></body></html>")
        script = {"paths": {"/unit.html": {"headers": [["Content-Type", "text/html"]], "body": page}},
                  "default": {"status": "HTTP/1.1 404 Not Found"}}
        with open(os.path.join(tmp, "script.json"), "w") as f:
            json.dump(script, f)
        os.mkdir(os.path.join(tmp, "server"))
        server = subprocess.Popen([sys.executable, server_program, "--out", os.path.join(tmp, "server"),
                                   "--script", os.path.join(tmp, "script.json"), "--max-seconds", "120"],
                                  stdout=subprocess.PIPE, text=True)
        port = int(server.stdout.readline().split()[1])
        tool = Tool([cli, "--home", os.path.join(tmp, "home"), "--web", "wpe", "--clock", "real"])
        try:
            unit = {"url": f"http://127.0.0.1:{port}/unit.html", "transition": "KS_DIALOG",
                    "frame": {"KS_PORTRAIT": {"x": 40, "y": 80, "w": 200, "h": 120}}}
            if tool.send("unit show 0 " + json.dumps(unit), ("shown", "nil")) != "shown":
                failures.append("the unit was not shown")
            if not tool.turn_until(lambda: "delegate contentViewDidLoad:" in tool.seen):
                failures.append("the template did not load: %s" % tool.seen)
            frames = tool.send("unit frames")
            view_w = float(frames.split()[1].split(",")[2])

            shot = os.path.join(tmp, "shot.png")

            inside = [(140, 140), (45, 85), (235, 195)]

            def page_shown():
                # The first frames may be of the page at another size, drawn stretched.
                tool.send("screenshot " + shot)
                width, _, rows = read_png(shot)
                s = width / view_w
                return all(tuple(rows[int(y * s)][int(x * s) * 4:int(x * s) * 4 + 3]) == GREEN for x, y in inside)

            if not tool.turn_until(page_shown):
                failures.append("the page never filled the dialog")
            width, height, rows = read_png(shot)
            s = width / view_w

            def pixel(x, y):
                return tuple(rows[int(y * s)][int(x * s) * 4:int(x * s) * 4 + 3])

            expected = [((x, y), GREEN, "inside the dialog") for x, y in inside]
            expected.append(((40.25, 140), (0, 0, 0), "on the dialog's black border"))
            for (x, y), colour, where in expected:
                if pixel(x, y) != colour:
                    failures.append("%s: %s at (%s, %s), expected %s" % (where, pixel(x, y), x, y, colour))
            outside = pixel(20, 300)
            if outside == GREEN or max(outside) > 40:
                failures.append("outside the dialog: %s, expected the dimmed backdrop" % (outside,))

            tool.seen.clear()
            if tool.send("tap 140 100") != "ok":
                failures.append("the tap was refused")
            if not tool.turn_until(lambda: "nav refuse ks://tapped" in tool.seen):
                failures.append("the tap did not press the page's button: %s" % tool.seen)
            tool.send("unit dismiss 0")
        finally:
            status = tool.close()
            server.terminate()
            server.wait(30)
        if status != 0:
            failures.append("exit status %d" % status)
    for failure in failures:
        print("FAIL:", failure)
    print("%d passed, %d failed" % (1 if not failures else 0, 1 if failures else 0))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

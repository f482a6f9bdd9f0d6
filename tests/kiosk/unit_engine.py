#!/usr/bin/env python3
"""dk-kiosk-cli's units on the real page engine, driven a line at a time.

    unit_engine.py DK_KIOSK_CLI KIOSK_API_SERVER

A solid-colour dialog unit served by the content-API peer is shown without animation; once its
page has drawn, a screenshot is checked at a few pixels (inside the dialog, on its border, and
outside it), and a tap on the page's button reaches the page (its click navigates to an
unregistered "ks:" address, which the view refuses). On screens of scale 1 and 2, a full-screen
unit's small buttons in each corner are tapped where they show, the page recording what it heard;
in an interface turned to landscape, a full-screen unit shown there and a dialog turned there lie
upright in its bounds, each corner's colour in that corner of a screenshot and pressed by a tap; and
a page that turns its colour after loading, once it says so, is shown by a single screenshot
as it is now, at its full size. The tool runs on the real clock and is turned in short steps until
what is awaited has happened, for 60 seconds at most.
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
WHITE = (255, 255, 255)

# A 20-point button in each corner; the document records each click with the element clicked and
# the page's own coordinates.
CORNERS = ("<html><head><style>body{margin:0} b{position:fixed;width:20px;height:20px;background:#00f}</style>"
           "</head><body><b id=tl style='left:0;top:0'></b><b id=tr style='right:0;top:0'></b>"
           "<b id=bl style='left:0;bottom:0'></b><b id=br style='right:0;bottom:0'></b><script>"
           "var got = [];"
           "document.addEventListener('click', function (e) {"
           " got.push((e.target.id || 'page') + ' ' + e.clientX + ',' + e.clientY); });"
           "</script></body></html>")

# The same buttons, each corner in a colour of its own.
COLOURED = CORNERS.replace("</style>", "#tl{background:#f00} #tr{background:#0f0} #bl{background:#ff0} "
                           "#br{background:#0ff}</style>")
CORNER_COLOURS = [(255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 255, 255)]

# White with a red box over the top left quarter, turned green after the load; once a frame with
# the green box has gone out, the page says so by asking for an address the view refuses.
TURNING = ("<html><body style='margin:0;background:#fff'>"
           "<div id=box style='position:fixed;left:0;top:0;width:50%;height:50%;background:#f00'></div><script>"
           "window.onload = function () { setTimeout(function () {"
           " document.getElementById('box').style.background = '#0f0';"
           " requestAnimationFrame(function () { requestAnimationFrame(function () {"
           " location.href = 'ks://turned'; }); }); }, 300); };"
           "</script></body></html>")


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

    def eval(self, script):
        """The page's answer to `script` (which holds no double quotes), read after the tool says
        it hands the script over."""
        self.proc.stdin.write('unit eval "%s"\n' % script)
        self.proc.stdin.flush()
        handed = False
        while True:
            out = self.proc.stdout.readline()
            if not out:
                raise RuntimeError("the tool ended during: unit eval " + script)
            out = out.rstrip("\n")
            if handed:
                return out
            if out == "js " + script:
                handed = True
            elif out.startswith("error "):
                return out
            else:
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


def show_full_screen(tool, url, failures):
    """Shows a modal full-screen unit at `url` without animation; its web view's frame once loaded."""
    unit = {"url": url, "transition": "KS_MODAL", "frame": "KS_FULLSCREEN"}
    if tool.send("unit show 0 " + json.dumps(unit), ("shown", "nil")) != "shown":
        failures.append("%s was not shown" % url)
    if not tool.turn_until(lambda: "delegate contentViewDidLoad:" in tool.seen):
        failures.append("%s did not load: %s" % (url, tool.seen))
    return [float(v) for v in tool.send("unit frames").split()[3].split(",")]


def corners(cli, home, device, base):
    """Each corner button of a full-screen unit, tapped where it shows on a `device` screen."""
    failures = []
    tool = Tool([cli, "--home", home, "--web", "wpe", "--clock", "real", "--device", device])
    try:
        x, y, w, h = show_full_screen(tool, base + "/corners.html", failures)
        targets = [("tl", 10, 10), ("tr", w - 10, 10), ("bl", 10, h - 10), ("br", w - 10, h - 10),
                   ("page", w / 2, h / 2)]
        for _, px, py in targets:
            if tool.send("tap %g %g" % (x + px, y + py)) != "ok":
                failures.append("%s: a tap was refused" % device)
        if not tool.turn_until(lambda: tool.eval("String(got.length)") == "5"):
            failures.append("%s: the page did not hear five clicks" % device)
        heard = tool.eval("JSON.stringify(got)")
        wanted = json.dumps(["%s %d,%d" % t for t in targets], separators=(",", ":"))
        if heard != wanted:
            failures.append("%s: the page heard %s, expected %s" % (device, heard, wanted))
        tool.send("unit dismiss 0")
    finally:
        if tool.close() != 0:
            failures.append("%s: the tool failed" % device)
    return failures


def landscape(cli, home, device, base, shot):
    """Units in an interface turned to landscape with the device: a full-screen unit shown there and
    a dialog unit turned there after it was shown each lie upright in the interface's bounds (the
    view not turned again inside the turned window), each corner's colour in that corner of the
    screenshot, and a tap there pressing its button."""
    failures = []
    tool = Tool([cli, "--home", home, "--web", "wpe", "--clock", "real", "--device", device])
    dialog = {"KS_PORTRAIT": {"x": 20, "y": 40, "w": 240, "h": 300},
              "KS_LANDSCAPE": {"x": 70, "y": 20, "w": 250, "h": 120}}
    cases = [("full-screen in 3", 3, False, {"transition": "KS_MODAL", "frame": "KS_FULLSCREEN"}, (0, 0, 480, 320)),
             ("dialog turned to 4", 4, True, {"transition": "KS_DIALOG", "frame": dialog}, (70, 20, 250, 120))]
    try:
        for name, orientation, turned_after, unit, (x, y, w, h) in cases:
            what = "%s %s" % (device, name)
            tool.seen.clear()
            tool.send("rotate %d" % (1 if turned_after else orientation))
            unit = dict(unit, url=base + "/coloured.html")
            if tool.send("unit show 0 " + json.dumps(unit), ("shown", "nil")) != "shown":
                failures.append("%s: not shown" % what)
            if not tool.turn_until(lambda: "delegate contentViewDidLoad:" in tool.seen):
                failures.append("%s: did not load: %s" % (what, tool.seen))
            if turned_after:
                tool.send("rotate %d" % orientation)
            frames = " ".join(tool.send("unit frames").split()[:4])
            wanted = "view 0,0,480,320 web %d,%d,%d,%d" % (x, y, w, h)
            if frames != wanted:
                failures.append("%s: frames %s, expected %s" % (what, frames, wanted))
            targets = [("tl", 10, 10), ("tr", w - 10, 10), ("bl", 10, h - 10), ("br", w - 10, h - 10),
                       ("page", w / 2, h / 2)]

            def corners_shown():
                # Until the page has drawn at its size and the turn has run its course.
                if tool.send("screenshot " + shot) != "ok":
                    return False
                width, height, rows = read_png(shot)
                s = width / 480.0
                return (width, height) == (int(480 * s), int(320 * s)) and all(
                    tuple(rows[int((y + py) * s)][int((x + px) * s) * 4:int((x + px) * s) * 4 + 3]) == colour
                    for (_, px, py), colour in zip(targets, CORNER_COLOURS))

            if not tool.turn_until(corners_shown):
                failures.append("%s: the corners never showed their colours in the screen's corners" % what)
            for _, px, py in targets:
                if tool.send("tap %g %g" % (x + px, y + py)) != "ok":
                    failures.append("%s: a tap was refused" % what)
            if not tool.turn_until(lambda: tool.eval("String(got.length)") == "5"):
                failures.append("%s: the page did not hear five clicks: %s" % (what, tool.eval("got.join()")))
            heard = tool.eval("JSON.stringify(got)")
            wanted = json.dumps(["%s %d,%d" % t for t in targets], separators=(",", ":"))
            if heard != wanted:
                failures.append("%s: the page heard %s, expected %s" % (what, heard, wanted))
            tool.send("unit dismiss 0")
            if failures:
                break  # each case that fails waits out its caps: one is enough to tell
    finally:
        if tool.close() != 0:
            failures.append("%s: the landscape tool failed" % device)
    return failures


def latest_frame(cli, home, base, shot):
    """One screenshot once the page says it turned green: the green box over its top left
    quarter, white elsewhere."""
    failures = []
    tool = Tool([cli, "--home", home, "--web", "wpe", "--clock", "real", "--device", "phone-retina"])
    try:
        x, y, w, h = show_full_screen(tool, base + "/turning.html", failures)
        if not tool.turn_until(lambda: "nav refuse ks://turned" in tool.seen):
            failures.append("the page never said it turned: %s" % tool.seen)
        if tool.send("screenshot " + shot) != "ok":
            failures.append("the screenshot failed")
        else:
            width, _, rows = read_png(shot)
            s = width / 320.0
            expected = [((x + 10, y + 10), GREEN, "the box's top left"),
                        ((x + w / 2 - 10, y + h / 2 - 10), GREEN, "the box's bottom right"),
                        ((x + w / 2 + 10, y + 10), WHITE, "right of the box"),
                        ((x + 10, y + h / 2 + 10), WHITE, "below the box"),
                        ((x + w - 10, y + h - 10), WHITE, "the page's bottom right")]
            for (px, py), colour, where in expected:
                got = tuple(rows[int(py * s)][int(px * s) * 4:int(px * s) * 4 + 3])
                if got != colour:
                    failures.append("%s: %s at (%s, %s), expected %s" % (where, got, px, py, colour))
        tool.send("unit dismiss 0")
    finally:
        if tool.close() != 0:
            failures.append("the turning page's tool failed")
    return failures


def main():
    cli, server_program = sys.argv[1], sys.argv[2]
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        page = ("<html><body style='margin:0;background:#00ff00'>"
                "<button style='position:absolute;left:0;top:0;width:100%;height:40px;opacity:0' "
                "onclick=\"location.href='ks://tapped'\">b</button></body></html>")
        html = {"headers": [["Content-Type", "text/html"]]}
        script = {"paths": {"/unit.html": dict(html, body=page), "/corners.html": dict(html, body=CORNERS),
                            "/coloured.html": dict(html, body=COLOURED),
                            "/turning.html": dict(html, body=TURNING)},
                  "default": {"status": "HTTP/1.1 404 Not Found"}}
        with open(os.path.join(tmp, "script.json"), "w") as f:
            json.dump(script, f)
        os.mkdir(os.path.join(tmp, "server"))
        server = subprocess.Popen([sys.executable, server_program, "--out", os.path.join(tmp, "server"),
                                   "--script", os.path.join(tmp, "script.json"), "--max-seconds", "540"],
                                  stdout=subprocess.PIPE, text=True)
        port = int(server.stdout.readline().split()[1])
        tool = Tool([cli, "--home", os.path.join(tmp, "home"), "--web", "wpe", "--clock", "real"])
        base = f"http://127.0.0.1:{port}"
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
        if status != 0:
            failures.append("exit status %d" % status)
        try:
            for device in ("phone", "phone-retina"):
                failures += corners(cli, os.path.join(tmp, "home-" + device), device, base)
                failures += landscape(cli, os.path.join(tmp, "home-landscape-" + device), device, base,
                                      os.path.join(tmp, "landscape.png"))
            failures += latest_frame(cli, os.path.join(tmp, "home-turning"), base, os.path.join(tmp, "turning.png"))
        finally:
            server.terminate()
            server.wait(30)
    for failure in failures:
        print("FAIL:", failure)
    print("%d passed, %d failed" % (1 if not failures else 0, 1 if failures else 0))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

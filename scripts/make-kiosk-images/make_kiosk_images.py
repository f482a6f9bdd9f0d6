#!/usr/bin/env python3
"""Draws the content-ads client's built-in images and writes them as embedded image records
(little-endian 32-bit width, height and byte count, then premultiplied RGBA rows, top first) into
kiosk/content/KSEmbeddedImagesData.cpp. Pixels are ours: shapes sampled 4 x 4 per pixel.

    scripts/make-kiosk-images/make_kiosk_images.py > kiosk/content/KSEmbeddedImagesData.cpp
"""
import math
import struct
import sys

SAMPLES = 4


def render(width, height, shade):
    """shade(x, y) -> (r, g, b, a) in 0..1 at a point; averaged over each pixel's samples."""
    out = bytearray()
    for py in range(height):
        for px in range(width):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    r, g, b, a = shade(px + (sx + 0.5) / SAMPLES, py + (sy + 0.5) / SAMPLES)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SAMPLES * SAMPLES
            out += bytes(min(255, int(round(v / n * 255))) for v in acc)
    return struct.pack("<III", width, height, len(out)) + bytes(out)


def close_button(highlighted):
    cx = cy = 14.5
    fill = (0.55, 0.55, 0.55) if highlighted else (0.1, 0.1, 0.1)

    def shade(x, y):
        d = math.hypot(x - cx, y - cy)
        if d > 14:
            return (0, 0, 0, 0)
        if d > 12:
            return (1, 1, 1, 1)
        # The cross: two bars 3 points wide, 12 long, through the centre.
        u, v = (x - cx + y - cy) / math.sqrt(2), (x - cx - y + cy) / math.sqrt(2)
        if (abs(u) < 1.5 and abs(v) < 6) or (abs(v) < 1.5 and abs(u) < 6):
            return (1, 1, 1, 1)
        return fill + (0.9,)

    return render(29, 29, shade)


def badge(fine):
    # A red pill with a white rim; the finer one (for two pixels a point) has a thinner rim.
    rim = 1.5 if fine else 2.0

    def shade(x, y):
        # Rounded rectangle 1..28 x 2..33, radius 13.
        rx0, rx1, ry0, ry1, r = 1.0, 28.0, 4.0, 31.0, 13.5
        qx = min(max(x, rx0 + r), rx1 - r)
        qy = min(max(y, ry0 + r), ry1 - r)
        d = math.hypot(x - qx, y - qy)
        if d > r:
            return (0, 0, 0, 0)
        if d > r - rim:
            return (1, 1, 1, 1)
        top = 0.85 - 0.25 * (y - ry0) / (ry1 - ry0)
        return (top, 0.05, 0.05, 1)

    return render(29, 35, shade)


def c_array(name, data):
    lines = ["const std::uint8_t %s[] = {" % name]
    for i in range(0, len(data), 16):
        lines.append("    " + ", ".join(str(b) for b in data[i:i + 16]) + ",")
    lines.append("};")
    return "\n".join(lines)


def main():
    if len(sys.argv) > 1:
        print(__doc__.strip(), file=sys.stdout if sys.argv[1] in ("-h", "--help") else sys.stderr)
        return 0 if sys.argv[1] in ("-h", "--help") else 2
    print("// Written by scripts/make-kiosk-images/make_kiosk_images.py: do not edit.")
    print('#include "kiosk/content/KSEmbeddedImages.h"')
    print()
    print("namespace kiosk::images {")
    print()
    print(c_array("kCloseNormal", close_button(False)))
    print("const std::size_t kCloseNormalSize = sizeof kCloseNormal;")
    print(c_array("kCloseHighlighted", close_button(True)))
    print("const std::size_t kCloseHighlightedSize = sizeof kCloseHighlighted;")
    print(c_array("kBadge", badge(False)))
    print("const std::size_t kBadgeSize = sizeof kBadge;")
    print(c_array("kBadge2x", badge(True)))
    print("const std::size_t kBadge2xSize = sizeof kBadge2x;")
    print()
    print("}  // namespace kiosk::images")


if __name__ == "__main__":
    sys.exit(main())

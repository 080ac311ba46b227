#!/usr/bin/env python3
"""Draws Ventrix's images: the eight resource PNGs, and the application icon at the sizes
of the desktop's icon theme (icons/ventrix-SIZE.png).

Only the Python 3 standard library is used, so the images can be regenerated on any
build machine:  python3 resources/draw_icons.py [output-folder]

Every shape is a signed distance function (negative inside) in pixel coordinates.
Pixels whose centre lies well away from every hard edge take one sample; pixels on an
edge are supersampled, which gives the anti-aliasing without paying for it everywhere.
"""

import math
import os
import struct
import sys
import zlib

# ---------------------------------------------------------------------------
# Signed distance functions


def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def ellipse(cx, cy, rx, ry):
    # Not an exact distance, but never larger than it, which is all the edge test needs.
    m = min(rx, ry)
    return lambda x, y: (math.hypot((x - cx) / rx, (y - cy) / ry) - 1.0) * m


def rounded_box(x0, y0, x1, y1, r):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hw, hh = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def f(x, y):
        qx, qy = abs(x - cx) - hw, abs(y - cy) - hh
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - r

    return f


def capsule(ax, ay, bx, by, r):
    ex, ey = bx - ax, by - ay
    ee = ex * ex + ey * ey

    def f(x, y):
        wx, wy = x - ax, y - ay
        t = min(max((wx * ex + wy * ey) / ee, 0.0), 1.0)
        return math.hypot(wx - ex * t, wy - ey * t) - r

    return f


def polygon(pts, r=0.0):
    """Exact distance to a simple polygon; r > 0 rounds it outwards."""
    n = len(pts)
    xs = [p[0] for p in pts]
    ys = [p[1] for p in pts]

    def f(x, y):
        d = (x - xs[0]) ** 2 + (y - ys[0]) ** 2
        s = 1.0
        j = n - 1
        for i in range(n):
            ex, ey = xs[j] - xs[i], ys[j] - ys[i]
            wx, wy = x - xs[i], y - ys[i]
            t = min(max((wx * ex + wy * ey) / (ex * ex + ey * ey), 0.0), 1.0)
            bx, by = wx - ex * t, wy - ey * t
            d = min(d, bx * bx + by * by)
            c1 = y >= ys[i]
            c2 = y < ys[j]
            c3 = ex * wy > ey * wx
            if (c1 and c2 and c3) or not (c1 or c2 or c3):
                s = -s
            j = i
        return s * math.sqrt(d) - r

    return f


def union(*fs):
    return lambda x, y: min(f(x, y) for f in fs)


def intersect(*fs):
    return lambda x, y: max(f(x, y) for f in fs)


def subtract(a, b):
    return lambda x, y: max(a(x, y), -b(x, y))


def inset(f, w):
    return lambda x, y: f(x, y) + w


def shift(f, dx, dy):
    return lambda x, y: f(x - dx, y - dy)


# ---------------------------------------------------------------------------
# Paints: each returns (r, g, b, a) with colour in 0..255 and alpha in 0..1


def mix(c0, c1, t):
    return tuple(a + (b - a) * t for a, b in zip(c0, c1))


def ramp(stops, t):
    t = min(max(t, 0.0), 1.0)
    for (t0, c0), (t1, c1) in zip(stops, stops[1:]):
        if t <= t1:
            return mix(c0, c1, (t - t0) / (t1 - t0) if t1 > t0 else 0.0)
    return stops[-1][1]


def rgba(c, a=1.0):
    return (c[0], c[1], c[2], a)


def solid(c, a=1.0):
    col = rgba(c, a)
    return lambda x, y, d: col


def linear(x0, y0, x1, y1, stops, a=1.0):
    ex, ey = x1 - x0, y1 - y0
    ee = ex * ex + ey * ey
    return lambda x, y, d: rgba(ramp(stops, ((x - x0) * ex + (y - y0) * ey) / ee), a)


def radial(cx, cy, r, stops, a=1.0):
    return lambda x, y, d: rgba(ramp(stops, math.hypot(x - cx, y - cy) / r), a)


def fading(c, y0, a0, y1, a1):
    """A colour whose alpha fades linearly from a0 at y0 to a1 at y1 (a gloss)."""

    def f(x, y, d):
        t = min(max((y - y0) / (y1 - y0), 0.0), 1.0)
        return rgba(c, a0 + (a1 - a0) * t)

    return f


def blur_falloff(alpha, blur):
    """Soft shadow: full alpha well inside the shape, fading to nothing blur px outside."""

    def f(x, y, d):
        t = min(max((d + blur * 0.5) / (blur * 1.5), 0.0), 1.0)
        return (0.0, 0.0, 0.0, alpha * (1.0 - t * t * (3 - 2 * t)))

    return f


# ---------------------------------------------------------------------------
# Layers and the renderer


class Layer:
    def __init__(self, sdf, paint, soft=False, reach=0.0):
        self.sdf = sdf
        self.paint = paint
        self.soft = soft  # no hard edge: painted wherever d <= reach, alpha from paint
        self.reach = reach


def scaled(layers, k):
    """The same picture k times larger: distances, reaches and paints scale with it."""

    def sdf(f):
        return lambda x, y: f(x / k, y / k) * k

    def paint(p):
        return lambda x, y, d: p(x / k, y / k, d / k)

    return [Layer(sdf(la.sdf), paint(la.paint), la.soft, la.reach * k) for la in layers]


def shadow(sdf, alpha, blur):
    return Layer(sdf, blur_falloff(alpha, blur), soft=True, reach=blur)


def composite(layers, x, y):
    r = g = b = a = 0.0
    for layer in layers:
        d = layer.sdf(x, y)
        if d > (layer.reach if layer.soft else 0.0):
            continue
        sr, sg, sb, sa = layer.paint(x, y, d)
        k = 1.0 - sa
        r, g, b, a = sr * sa + r * k, sg * sa + g * k, sb * sa + b * k, sa + a * k
    return r, g, b, a


def render(size, layers, ss):
    hard = [layer.sdf for layer in layers if not layer.soft]
    out = bytearray(size * size * 4)
    offsets = [(k + 0.5) / ss for k in range(ss)]
    for j in range(size):
        for i in range(size):
            cx, cy = i + 0.5, j + 0.5
            if all(abs(f(cx, cy)) > 1.0 for f in hard):
                r, g, b, a = composite(layers, cx, cy)
            else:
                r = g = b = a = 0.0
                for oy in offsets:
                    for ox in offsets:
                        sr, sg, sb, sa = composite(layers, i + ox, j + oy)
                        r, g, b, a = r + sr, g + sg, b + sb, a + sa
                n = ss * ss
                r, g, b, a = r / n, g / n, b / n, a / n
            o = (j * size + i) * 4
            if a > 0.0:
                out[o] = min(255, int(r / a + 0.5))
                out[o + 1] = min(255, int(g / a + 0.5))
                out[o + 2] = min(255, int(b / a + 0.5))
                out[o + 3] = min(255, int(a * 255 + 0.5))
    return out


# ---------------------------------------------------------------------------
# File formats


def png_bytes(size, pixels):
    """8-bit RGBA (colour type 6), not interlaced, with the Sub filter on every row."""
    stride = size * 4
    raw = bytearray()
    for j in range(size):
        row = pixels[j * stride : (j + 1) * stride]
        raw.append(1)
        raw.extend(row[:4])
        raw.extend((row[k] - row[k - 4]) & 0xFF for k in range(4, stride))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (
        b"\x89PNG\r\n\x1a\n"
        + chunk(b"IHDR", ihdr)
        + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
        + chunk(b"IEND", b"")
    )


# ---------------------------------------------------------------------------
# The round buttons (32 x 32)

PALETTES = {
    #        rim            dark           base           light
    "blue": ((22, 58, 128), (28, 88, 180), (48, 128, 222), (138, 196, 252)),
    "green": ((22, 92, 26), (34, 128, 40), (62, 176, 60), (160, 230, 128)),
    "red": ((124, 18, 18), (168, 30, 28), (218, 58, 46), (252, 150, 128)),
    "grey": ((40, 40, 42), (64, 64, 66), (96, 96, 98), (158, 158, 160)),
}
WHITE = (255, 255, 255)
GLYPH_DISABLED = (208, 208, 210)


def button(palette, glyph, glyph_colour=WHITE):
    rim, dark, base, light = PALETTES[palette]
    c = 16.0
    outer = circle(c, c, 14.6)
    inner = inset(outer, 1.1)
    layers = [
        shadow(shift(outer, 0.0, 0.8), 0.35, 1.4),
        Layer(outer, linear(c, 1.4, c, 30.6, [(0.0, mix(rim, light, 0.25)), (1.0, rim)])),
        Layer(inner, radial(c, 10.5, 20.0, [(0.0, light), (0.45, base), (1.0, dark)])),
        # A glow from below, as light passing through a glass bead.
        Layer(intersect(inner, ellipse(c, 26.5, 9.0, 4.5)), radial(c, 27.5, 9.0, [(0.0, light), (1.0, base)], 0.45)),
        Layer(intersect(inner, ellipse(c, 9.6, 10.2, 6.6)), fading(WHITE, 3.0, 0.62, 15.5, 0.04)),
    ]
    layers.append(Layer(shift(glyph, 0.0, 0.8), solid((0, 0, 0), 0.28)))
    layers.append(Layer(glyph, solid(glyph_colour)))
    return layers


GLYPH_I = union(
    circle(16.0, 8.9, 2.35),
    rounded_box(14.0, 12.6, 18.0, 23.6, 0.9),  # stem
    rounded_box(12.4, 12.6, 16.0, 14.6, 0.7),  # flag at the top left of the stem
    rounded_box(12.6, 22.0, 19.4, 24.1, 0.8),  # foot
)
GLYPH_PLAY = polygon([(12.9, 10.7), (12.9, 21.3), (22.2, 16.0)], r=1.1)
GLYPH_STOP = rounded_box(10.6, 10.6, 21.4, 21.4, 1.6)

# ---------------------------------------------------------------------------
# The 256 x 256 pictures

PAGE_RIM = (112, 120, 134)
PAGE_LINE = (168, 178, 196)


def page(x0, y0, x1, y1, fold):
    """A sheet with its top right corner folded over; returns its layers."""
    r = 5.0
    outline = [(x0 + r, y0 + r), (x1 - fold, y0 + r), (x1 - r, y0 + fold), (x1 - r, y1 - r), (x0 + r, y1 - r)]
    sheet = polygon(outline, r)
    flap = polygon([(x1 - fold, y0 + r), (x1 - fold, y0 + fold), (x1 - r, y0 + fold)], r)
    rim = 5.0
    layers = [
        shadow(shift(sheet, 5.0, 7.0), 0.30, 12.0),
        Layer(sheet, solid(PAGE_RIM)),
        Layer(inset(sheet, rim), linear(x0, y0, x1, y1, [(0.0, (255, 255, 255)), (1.0, (222, 228, 238))])),
    ]
    # Lines of text; those at the top stop short of the fold.
    ty = y0 + 42.0
    lengths = [0.55, 0.62, 0.9, 0.8, 0.92, 0.7, 0.88, 0.6]
    k = 0
    while ty + 8 < y1 - 22 and k < len(lengths):
        right = x1 - 24 if ty > y0 + fold + 6 else x1 - fold - 12
        left = x0 + 24
        right = left + (right - left) * lengths[k]
        layers.append(Layer(rounded_box(left, ty, right, ty + 9.0, 4.5), solid(PAGE_LINE)))
        ty += 22.0
        k += 1
    layers += [
        # The fold throws a little shadow on the sheet below it.
        shadow(intersect(shift(flap, -4.0, 4.0), inset(sheet, rim)), 0.22, 6.0),
        Layer(flap, solid(PAGE_RIM)),
        Layer(
            inset(flap, rim),
            linear(x1 - fold, y0 + fold, x1 - fold * 0.5, y0 + fold * 0.5, [(0.0, (246, 248, 252)), (1.0, (196, 204, 218))]),
        ),
    ]
    return layers


def preview():
    layers = page(28, 14, 196, 236, 52)
    cx, cy, ro = 138.0, 136.0, 60.0
    ring = circle(cx, cy, ro)
    hole = circle(cx, cy, ro - 18.0)
    handle = capsule(cx + 50, cy + 50, 224, 224, 15.0)
    collar = capsule(cx + 42, cy + 42, cx + 56, cy + 56, 18.0)
    orange_rim = (148, 66, 4)
    layers += [
        shadow(shift(union(ring, handle), 6.0, 8.0), 0.32, 12.0),
        # Handle first, so that the ring overlaps its end.
        Layer(handle, solid(orange_rim)),
        Layer(
            inset(handle, 4.0),
            linear(196, 210, 214, 192, [(0.0, (170, 78, 8)), (0.5, (238, 132, 30)), (1.0, (184, 88, 12))]),
        ),
        Layer(collar, solid(orange_rim)),
        Layer(inset(collar, 4.0), linear(176, 196, 196, 176, [(0.0, (196, 96, 10)), (0.5, (252, 172, 60)), (1.0, (206, 110, 16))])),
        # The glass: faintly blue, clear enough to show the page behind it.
        Layer(hole, radial(cx - 14, cy - 14, ro, [(0.0, (236, 246, 255)), (1.0, (150, 196, 236))], 0.45)),
        Layer(
            intersect(hole, ellipse(cx - 12, cy - 18, 28.0, 18.0)),
            fading(WHITE, cy - 40, 0.85, cy - 2, 0.0),
        ),
        Layer(subtract(ring, hole), solid(orange_rim)),
        Layer(
            subtract(inset(ring, 4.0), inset(hole, -4.0)),
            linear(cx - ro, cy - ro, cx + ro, cy + ro, [(0.0, (255, 196, 92)), (0.45, (246, 146, 28)), (1.0, (198, 96, 8))]),
        ),
        # A sheen along the ring's upper left.
        Layer(
            intersect(subtract(inset(ring, 7.0), inset(hole, -7.0)), ellipse(cx - 26, cy - 26, 40.0, 40.0)),
            fading(WHITE, cy - ro, 0.55, cy, 0.0),
        ),
    ]
    return layers


def clear():
    layers = page(28, 14, 196, 236, 52)
    cx, cy, arm, r = 168.0, 170.0, 50.0, 19.0
    cross = union(capsule(cx - arm, cy - arm, cx + arm, cy + arm, r), capsule(cx + arm, cy - arm, cx - arm, cy + arm, r))
    layers += [
        shadow(shift(cross, 5.0, 7.0), 0.33, 11.0),
        Layer(cross, solid((120, 8, 8))),
        Layer(
            inset(cross, 5.0),
            linear(cx, cy - arm - r, cx, cy + arm + r, [(0.0, (252, 104, 88)), (0.5, (222, 40, 32)), (1.0, (170, 16, 14))]),
        ),
        Layer(intersect(inset(cross, 9.0), ellipse(cx, cy - arm, arm * 1.5, arm)), fading(WHITE, cy - arm - r, 0.55, cy, 0.0)),
    ]
    return layers


def folder():
    yrim = (172, 110, 8)
    back = union(
        rounded_box(18, 50, 232, 218, 10),
        polygon([(28, 40), (90, 40), (108, 60), (28, 60)], 10.0),  # the tab
    )
    sheet = rounded_box(42, 66, 214, 180, 4)
    sheet2 = polygon([(50, 70), (206, 58), (214, 170), (58, 182)], 3.0)
    front = polygon([(62, 108), (240, 108), (226, 214), (22, 214)], 8.0)
    return [
        shadow(shift(union(back, front), 4.0, 8.0), 0.32, 12.0),
        Layer(back, solid(yrim)),
        Layer(inset(back, 5.0), linear(0, 34, 0, 222, [(0.0, (246, 192, 72)), (1.0, (206, 138, 24))])),
        Layer(sheet2, solid((150, 156, 166))),
        Layer(inset(sheet2, 3.0), solid((236, 240, 246))),
        Layer(sheet, solid((150, 156, 166))),
        Layer(inset(sheet, 3.0), linear(0, 66, 0, 180, [(0.0, (255, 255, 255)), (1.0, (226, 230, 238))])),
        shadow(intersect(shift(front, 0.0, -6.0), inset(back, 5.0)), 0.20, 10.0),
        Layer(front, solid(yrim)),
        Layer(
            inset(front, 5.0),
            linear(0, 108, 0, 216, [(0.0, (255, 232, 124)), (0.6, (252, 206, 74)), (1.0, (240, 180, 42))]),
        ),
        # Light catching the front flap's upper edge.
        Layer(intersect(inset(front, 5.0), lambda x, y: y - 126.0), fading(WHITE, 110, 0.6, 126, 0.0)),
    ]


# ---------------------------------------------------------------------------


ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    outdir = sys.argv[1] if len(sys.argv) > 1 else here
    images = os.path.join(outdir, "images")
    os.makedirs(images, exist_ok=True)

    pictures = [
        ("app_icon", 32, 6, button("blue", GLYPH_I)),
        ("play", 32, 6, button("green", GLYPH_PLAY)),
        ("stop", 32, 6, button("red", GLYPH_STOP)),
        ("play_dis", 32, 6, button("grey", GLYPH_PLAY, GLYPH_DISABLED)),
        ("stop_dis", 32, 6, button("grey", GLYPH_STOP, GLYPH_DISABLED)),
        ("preview", 256, 4, preview()),
        ("clear", 256, 4, clear()),
        ("folder", 256, 4, folder()),
    ]
    for name, size, ss, layers in pictures:
        pixels = render(size, layers, ss)
        data = png_bytes(size, pixels)
        with open(os.path.join(images, name + ".png"), "wb") as f:
            f.write(data)

    # The application icon for menus and software centres, drawn anew at each size.
    icons = os.path.join(outdir, "icons")
    os.makedirs(icons, exist_ok=True)
    for size in ICON_SIZES:
        layers = scaled(button("blue", GLYPH_I), size / 32.0)
        with open(os.path.join(icons, "ventrix-%d.png" % size), "wb") as f:
            f.write(png_bytes(size, render(size, layers, 6 if size <= 64 else 4)))


if __name__ == "__main__":
    main()

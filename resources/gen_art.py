#!/usr/bin/env python3
"""Draws the installer's pictures and writes them as Windows image files.

    gen_art.py OUTDIR

writes into OUTDIR:
  program.ico  - the program icon: 32x32 and 16x16, 16 colours, with AND masks
  welcome.bmp  - the welcome picture: 130x194, 8 bits per pixel, 128-entry palette
  drive.bmp    - the drive picture: 31x20, 24 bits per pixel

Everything is drawn procedurally with the standard library only, so the same
script always produces the same bytes.
"""

import math
import os
import struct
import sys

# ---------------------------------------------------------------------------
# File writers
# ---------------------------------------------------------------------------

# The standard 16-colour palette in the order of the Windows system palette.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def _bitmapinfoheader(width, height, bpp, clr_used, image_size):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bpp, 0,
                       image_size, 2835, 2835, clr_used, 0)


def _palette_bytes(palette):
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)


def _stride(width, bpp):
    return ((width * bpp + 31) // 32) * 4


def bmp_8bpp(width, height, indices, palette):
    """indices: rows top to bottom, each a list of palette indices."""
    stride = _stride(width, 8)
    rows = []
    for row in reversed(indices):
        data = bytes(row)
        rows.append(data + b"\0" * (stride - len(data)))
    bits = b"".join(rows)
    pal = _palette_bytes(palette)
    offset = 14 + 40 + len(pal)
    header = struct.pack("<2sIHHI", b"BM", offset + len(bits), 0, 0, offset)
    return header + _bitmapinfoheader(width, height, 8, len(palette), len(bits)) + pal + bits


def bmp_24bpp(width, height, pixels):
    """pixels: rows top to bottom, each a list of (r, g, b)."""
    stride = _stride(width, 24)
    rows = []
    for row in reversed(pixels):
        data = b"".join(struct.pack("<BBB", b, g, r) for (r, g, b) in row)
        rows.append(data + b"\0" * (stride - len(data)))
    bits = b"".join(rows)
    offset = 14 + 40
    header = struct.pack("<2sIHHI", b"BM", offset + len(bits), 0, 0, offset)
    return header + _bitmapinfoheader(width, height, 24, 0, len(bits)) + bits


def _icon_image(size, pixels):
    """pixels: rows top to bottom of palette indices 0-15, or None for transparent."""
    xor_stride = _stride(size, 4)
    and_stride = _stride(size, 1)
    xor_rows, and_rows = [], []
    for row in reversed(pixels):
        xor = bytearray(xor_stride)
        mask = bytearray(and_stride)
        for x, p in enumerate(row):
            if p is None:
                mask[x // 8] |= 0x80 >> (x % 8)
                p = 0
            xor[x // 2] |= p << (4 if x % 2 == 0 else 0)
        xor_rows.append(bytes(xor))
        and_rows.append(bytes(mask))
    bits = b"".join(xor_rows) + b"".join(and_rows)
    # Icon images store twice the height: the colour bits followed by the mask.
    return _bitmapinfoheader(size, size * 2, 4, 0, len(bits)) + _palette_bytes(VGA16) + bits


def ico(images):
    """images: list of (size, pixels)."""
    blobs = [_icon_image(size, pixels) for size, pixels in images]
    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for (size, _), blob in zip(images, blobs):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blobs)


# ---------------------------------------------------------------------------
# Program icon: a computer beside an opened software box
# ---------------------------------------------------------------------------

class Grid:
    """A small indexed canvas with pixel-exact drawing primitives."""

    def __init__(self, size):
        self.size = size
        self.px = [[None] * size for _ in range(size)]

    def put(self, x, y, c):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.px[y][x] = c

    def rect(self, x0, y0, x1, y1, c):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, c)

    def hline(self, x0, x1, y, c):
        self.rect(x0, y, x1, y, c)

    def vline(self, x, y0, y1, c):
        self.rect(x, y0, x, y1, c)

    def line(self, x0, y0, x1, y1, c):
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
        err = dx + dy
        while True:
            self.put(x0, y0, c)
            if x0 == x1 and y0 == y1:
                return
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy

    def poly(self, pts, fill, outline=None):
        """Fills a polygon by pixel centres, then draws its outline."""
        ys = [p[1] for p in pts]
        for y in range(max(0, min(ys)), min(self.size, max(ys) + 1)):
            cy = y + 0.5
            xs = []
            for i in range(len(pts)):
                (ax, ay), (bx, by) = pts[i], pts[(i + 1) % len(pts)]
                ay, by = ay + 0.5, by + 0.5
                ax, bx = ax + 0.5, bx + 0.5
                if (ay <= cy < by) or (by <= cy < ay):
                    xs.append(ax + (cy - ay) * (bx - ax) / (by - ay))
            xs.sort()
            for i in range(0, len(xs) - 1, 2):
                for x in range(int(math.ceil(xs[i] - 0.5)), int(math.floor(xs[i + 1] - 0.5)) + 1):
                    self.put(x, y, fill)
        if outline is not None:
            for i in range(len(pts)):
                (ax, ay), (bx, by) = pts[i], pts[(i + 1) % len(pts)]
                self.line(ax, ay, bx, by, outline)

    def pixels(self):
        return self.px


K, DRED, DGRN, OLIVE, NAVY, PURP, TEAL, SILV = range(8)
GREY, RED, LIME, YEL, BLUE, MAG, CYAN, WHITE = range(8, 16)


def icon32():
    g = Grid(32)
    # Monitor casing with a raised bevel.
    g.rect(0, 2, 19, 19, SILV)
    g.hline(0, 19, 2, WHITE)
    g.vline(0, 2, 19, WHITE)
    g.hline(1, 19, 19, GREY)
    g.vline(19, 3, 19, GREY)
    g.hline(0, 19, 20, K)
    g.vline(20, 2, 20, K)
    # Screen, sunk into the bezel.
    g.rect(2, 4, 17, 15, GREY)
    g.hline(3, 17, 16, WHITE)
    g.vline(18, 4, 16, WHITE)
    g.rect(3, 5, 17, 15, K)
    g.rect(4, 6, 16, 14, TEAL)
    # A small window on the desktop.
    g.rect(6, 7, 14, 12, WHITE)
    g.hline(6, 14, 7, NAVY)
    g.put(14, 7, SILV)
    g.hline(7, 12, 9, GREY)
    g.hline(7, 11, 11, GREY)
    g.hline(7, 14, 13, K)
    g.vline(15, 8, 13, K)
    # Power light and drive slot.
    g.put(3, 18, LIME)
    g.hline(9, 16, 18, K)
    g.hline(9, 16, 17, GREY)
    # Stand and base.
    g.rect(7, 21, 13, 22, GREY)
    g.hline(7, 13, 21, K)
    g.rect(3, 23, 17, 25, SILV)
    g.hline(3, 17, 23, WHITE)
    g.hline(3, 17, 25, GREY)
    g.hline(3, 18, 26, K)
    g.vline(18, 23, 26, K)

    # Opened software box, standing in front of the monitor's right side.
    # Its flaps are folded outwards; their light grey inner faces show.
    g.poly([(21, 13), (22, 5), (31, 5), (30, 13)], SILV, K)          # back flap
    g.line(23, 6, 30, 6, WHITE)
    g.vline(22, 7, 12, WHITE)
    g.poly([(16, 17), (21, 13), (16, 9), (11, 13)], SILV, K)         # left flap
    g.line(13, 13, 16, 10, WHITE)
    g.poly([(16, 17), (21, 13), (30, 13), (25, 17)], K)               # opening
    g.poly([(20, 15), (22, 14), (28, 14), (27, 15)], GREY)            # inner wall
    g.poly([(25, 17), (30, 13), (30, 27), (25, 31)], OLIVE, K)        # right side
    g.poly([(16, 17), (25, 17), (25, 31), (16, 31)], YEL, K)          # front
    g.poly([(25, 17), (30, 13), (31, 16), (27, 20)], SILV, K)         # right flap
    # Label on the front: a red band with a disc, and stripes on the side.
    g.rect(17, 20, 24, 22, RED)
    g.hline(17, 24, 23, DRED)
    g.rect(18, 25, 23, 29, NAVY)
    g.rect(19, 26, 22, 28, CYAN)
    g.put(20, 27, WHITE)
    g.line(26, 24, 29, 21, K)
    g.line(26, 27, 29, 24, K)
    return g.pixels()


def icon16():
    g = Grid(16)
    # Monitor.
    g.rect(0, 1, 10, 10, SILV)
    g.hline(0, 10, 1, WHITE)
    g.vline(0, 1, 10, WHITE)
    g.hline(0, 11, 11, K)
    g.vline(11, 1, 11, K)
    g.hline(1, 10, 10, GREY)
    g.vline(10, 2, 10, GREY)
    g.rect(2, 3, 8, 8, K)
    g.rect(3, 4, 8, 8, TEAL)
    g.rect(4, 5, 7, 7, WHITE)
    g.hline(4, 7, 5, NAVY)
    g.put(2, 9, LIME)
    g.rect(2, 12, 9, 13, SILV)
    g.hline(2, 9, 12, WHITE)
    g.hline(2, 10, 14, K)
    g.vline(10, 12, 14, K)
    # Box.
    g.poly([(8, 9), (11, 7), (15, 7), (13, 9)], K)
    g.poly([(11, 7), (12, 3), (15, 3), (15, 7)], SILV, K)
    g.poly([(8, 9), (11, 7), (9, 5), (6, 7)], SILV, K)
    g.poly([(8, 9), (13, 9), (13, 15), (8, 15)], YEL, K)
    g.poly([(13, 9), (15, 7), (15, 13), (13, 15)], OLIVE, K)
    g.hline(9, 12, 11, RED)
    g.hline(9, 12, 12, DRED)
    return g.pixels()


# ---------------------------------------------------------------------------
# Welcome picture: a hand holding a compact disc in front of a monitor and keyboard
# ---------------------------------------------------------------------------

W_WIDTH, W_HEIGHT = 130, 194
SUPER = 3  # samples per pixel along each axis


def clamp01(v):
    return 0.0 if v < 0.0 else (1.0 if v > 1.0 else v)


def mix(a, b, t):
    return (a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t, a[2] + (b[2] - a[2]) * t)


def scale(c, k):
    return (c[0] * k, c[1] * k, c[2] * k)


def rounded_box_sd(x, y, x0, y0, x1, y1, r):
    """Signed distance to a rounded rectangle (negative inside)."""
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r
    qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - r


class Capsule:
    """A shaded rounded limb (finger, thumb) from a to b with radii ra and rb."""

    def __init__(self, ax, ay, bx, by, ra, rb, base):
        self.a = (ax, ay)
        self.b = (bx, by)
        self.ra, self.rb = ra, rb
        self.base = base
        r = max(ra, rb)
        self.bbox = (min(ax, bx) - r, min(ay, by) - r, max(ax, bx) + r, max(ay, by) + r)

    def sample(self, x, y):
        if not (self.bbox[0] <= x <= self.bbox[2] and self.bbox[1] <= y <= self.bbox[3]):
            return None
        ax, ay = self.a
        bx, by = self.b
        dx, dy = bx - ax, by - ay
        length2 = dx * dx + dy * dy
        t = clamp01(((x - ax) * dx + (y - ay) * dy) / length2)
        px, py = ax + t * dx, ay + t * dy
        r = self.ra + (self.rb - self.ra) * t
        ox, oy = x - px, y - py
        d = math.hypot(ox, oy)
        if d > r:
            return None
        nx, ny = ox / r, oy / r
        nz = math.sqrt(max(0.0, 1.0 - nx * nx - ny * ny))
        # Light from the upper left and somewhat in front.
        light = clamp01(-0.45 * nx - 0.55 * ny + 0.70 * nz)
        shade = 0.45 + 0.65 * light
        c = scale(self.base, shade)
        # A darker rim gives the limb an outline against similar tones.
        if d > r - 0.9:
            c = scale(c, 0.72)
        return c


SKIN = (176, 164, 170)
BG_TOP = (46, 56, 78)
BG_BOTTOM = (104, 118, 142)
CASE = (182, 190, 204)
SCREEN_DARK = (22, 36, 70)
SCREEN_GLOW = (92, 128, 178)
DESK = (120, 132, 152)

CD_CX, CD_CY, CD_R = 63.0, 116.0, 41.0


class Chain:
    """A limb made of joined capsules (a bent finger)."""

    def __init__(self, points, radii, base):
        self.parts = [Capsule(points[i][0], points[i][1], points[i + 1][0], points[i + 1][1],
                              radii[i], radii[i + 1], base) for i in range(len(points) - 1)]

    def sample(self, x, y):
        for part in self.parts:
            c = part.sample(x, y)
            if c is not None:
                return c
        return None


class Nail:
    """A lighter ellipse on a finger tip."""

    def __init__(self, cx, cy, rx, ry, angle):
        self.cx, self.cy, self.rx, self.ry = cx, cy, rx, ry
        self.cos, self.sin = math.cos(angle), math.sin(angle)

    def sample(self, x, y):
        dx, dy = x - self.cx, y - self.cy
        u = (dx * self.cos + dy * self.sin) / self.rx
        v = (-dx * self.sin + dy * self.cos) / self.ry
        d = u * u + v * v
        if d > 1.0:
            return None
        return mix((214, 206, 214), (160, 150, 160), clamp01(d ** 2))


SKIN_BACK = scale(SKIN, 0.9)
HAND_BEHIND = [
    # Fingers curled round the far side of the disc: tips hidden behind it,
    # the bent middle joints showing beyond its rim.
    Chain([(96, 90), (109, 93), (121, 116)], [5.6, 6.2, 7.0], SKIN),
    Chain([(98, 103), (113, 106), (124, 128)], [5.8, 6.4, 7.2], SKIN),
    Chain([(98, 117), (114, 120), (125, 140)], [5.8, 6.4, 7.2], SKIN),
    Chain([(96, 131), (110, 135), (123, 151)], [5.0, 5.6, 6.6], SKIN),
    # Back of the hand and the wrist.
    Capsule(127, 124, 128, 160, 14.0, 16.0, SKIN_BACK),
    Capsule(129, 162, 138, 200, 16.0, 16.0, SKIN_BACK),
]
HAND_FRONT = [
    # Thumb pressing on the front of the disc, with its nail.
    Nail(88.5, 141.0, 4.2, 3.0, 0.85),
    Chain([(87, 140), (101, 152), (119, 166)], [6.4, 7.6, 10.0], SKIN),
]


def keyboard_sample(x, y):
    top, bottom = 146.0, 186.0
    if not (top <= y <= bottom):
        return None
    t = (y - top) / (bottom - top)
    left = 20.0 - 16.0 * t
    right = 112.0 + 14.0 * t
    if not (left <= x <= right):
        return None
    if y > bottom - 4.0:
        return (70, 78, 96)  # front edge in shadow
    # Keys: four rows in perspective, separated by dark gaps.
    u = (x - left) / (right - left)
    v = (y - top - 2.0) / (bottom - top - 8.0)
    body = mix((150, 158, 176), (176, 184, 200), t)
    if v < 0 or v > 1:
        return body
    row = int(v * 4.0)
    fv = v * 4.0 - row
    cols = 14 if row < 3 else 10
    shift = (0.0, 0.03, 0.06, 0.0)[row]
    fu = ((u - shift) * cols) % 1.0
    if row == 3 and 0.30 < u < 0.72:
        fu = 0.5  # the space bar
    if fv < 0.18 or fu < 0.12:
        return scale(body, 0.55)
    key = mix((196, 204, 218), (160, 168, 186), fv)
    if fv < 0.32:
        key = (214, 222, 234)
    return key


def monitor_sample(x, y):
    # Stand below the casing.
    if 52 <= x <= 78 and 100 <= y <= 124:
        k = 0.75 + 0.25 * (1.0 - abs(x - 65) / 13.0)
        return scale(CASE, 0.62 * k)
    d = (x - 65) / 34.0
    if ((y - 127) / 6.0) ** 2 + d * d <= 1.0:
        return scale(CASE, 0.7 + 0.12 * (127 - y) / 6.0)
    sd = rounded_box_sd(x, y, 10, 14, 120, 110, 7)
    if sd > 0:
        return None
    # Casing: soft vertical gradient, lighter at the upper left.
    shade = 1.04 - 0.28 * (y - 14) / 96.0 - 0.08 * (x - 10) / 110.0
    c = scale(CASE, shade)
    if sd > -1.2:
        return scale(c, 0.6)
    if sd > -2.4 and (x < 30 or y < 24):
        c = scale(c, 1.08)
    ssd = rounded_box_sd(x, y, 22, 24, 108, 92, 6)
    if ssd <= 0:
        if ssd > -1.5:
            return (40, 46, 60)
        # The screen: a glow brighter towards the upper middle, with text lines.
        g = math.exp(-(((x - 58) / 46.0) ** 2 + ((y - 46) / 36.0) ** 2))
        c = mix(SCREEN_DARK, SCREEN_GLOW, g)
        if 30 <= x <= 96 and 32 <= y <= 84 and int(y) % 6 in (0, 1):
            width = 96 - 22 * ((int(y) // 6) % 3)
            if x <= width:
                c = mix(c, (190, 214, 240), 0.35)
        # A diagonal reflection across the glass.
        if 0 <= (x - 26) - (y - 26) * 0.9 <= 10:
            c = mix(c, (200, 214, 236), 0.18)
        return c
    if ssd < 2.5:
        return scale(c, 0.82)  # the inner bezel edge
    # Badge and power button at the bottom of the casing.
    if 92 <= x <= 104 and 99 <= y <= 103:
        return (214, 222, 236) if y < 101 else (120, 130, 150)
    if ((x - 28) ** 2 + (y - 101) ** 2) <= 5.0:
        return (110, 190, 150)
    return c


def cd_sample(x, y):
    dx, dy = x - CD_CX, y - CD_CY
    r = math.hypot(dx, dy)
    if r > CD_R:
        return None
    rr = r / CD_R
    if rr < 0.095:
        return None  # the hole shows what lies behind
    if rr < 0.16:
        return (214, 222, 234) if rr < 0.13 else (150, 160, 178)
    if rr < 0.36:
        # Clear plastic ring, with a faint darker circle at its outer edge.
        base = (166, 178, 198)
        if rr > 0.33:
            base = (120, 132, 154)
        return base
    angle = math.atan2(dy, dx)
    # The bright fans of the reflecting surface, two opposite sectors.
    sheen = 0.5 + 0.5 * math.cos(2.0 * (angle + 0.85))
    sheen = sheen ** 3
    ring = 0.04 * math.sin(rr * 70.0)
    base = mix((120, 134, 162), (236, 242, 250), clamp01(0.35 + 0.6 * sheen + ring))
    # A faint cool iridescence along the bright fans.
    tint = math.sin(rr * 9.0 + angle)
    base = (base[0] - 10 * tint * sheen, base[1] + 4 * tint * sheen, base[2] + 10 * sheen)
    if rr > 0.975:
        return scale(base, 0.62)
    return base


def background_sample(x, y):
    t = y / W_HEIGHT
    c = mix(BG_TOP, BG_BOTTOM, t)
    if y > 132:
        # The desk surface under the keyboard.
        c = mix(DESK, (150, 160, 178), (y - 132) / 62.0)
    vignette = 1.0 - 0.25 * (((x - 65) / 80.0) ** 2)
    return scale(c, vignette)


def welcome_color(x, y):
    for layer in HAND_FRONT:
        c = layer.sample(x, y)
        if c is not None:
            return c
    c = cd_sample(x, y)
    if c is not None:
        return c
    for layer in HAND_BEHIND:
        c = layer.sample(x, y)
        if c is not None:
            return c
    c = keyboard_sample(x, y)
    if c is not None:
        return c
    c = monitor_sample(x, y)
    if c is not None:
        return c
    return background_sample(x, y)


def render_welcome():
    pixels = []
    n = SUPER * SUPER
    for py in range(W_HEIGHT):
        row = []
        for px in range(W_WIDTH):
            r = g = b = 0.0
            for sy in range(SUPER):
                for sx in range(SUPER):
                    c = welcome_color(px + (sx + 0.5) / SUPER, py + (sy + 0.5) / SUPER)
                    r += c[0]
                    g += c[1]
                    b += c[2]
            row.append(tuple(max(0, min(255, int(round(v / n)))) for v in (r, g, b)))
        pixels.append(row)
    return pixels


def median_cut(colors, count):
    """Reduces a list of (colour, weight) to `count` palette entries."""
    boxes = [colors]
    while len(boxes) < count:
        best, best_range, best_axis = None, -1, 0
        for i, box in enumerate(boxes):
            if len(box) < 2:
                continue
            for axis in range(3):
                vals = [c[0][axis] for c in box]
                rng = max(vals) - min(vals)
                if rng > best_range:
                    best, best_range, best_axis = i, rng, axis
        if best is None:
            break
        box = sorted(boxes.pop(best), key=lambda c: (c[0][best_axis], c[0]))
        total = sum(w for _, w in box)
        acc, cut = 0, 1
        for j, (_, w) in enumerate(box):
            acc += w
            if acc * 2 >= total:
                cut = max(1, min(len(box) - 1, j + 1))
                break
        boxes.insert(best, box[cut:])
        boxes.insert(best, box[:cut])
    palette = []
    for box in boxes:
        total = sum(w for _, w in box)
        palette.append(tuple(int(round(sum(c[k] * w for c, w in box) / total)) for k in range(3)))
    while len(palette) < count:
        palette.append((0, 0, 0))
    return palette


def quantize(pixels, count):
    hist = {}
    for row in pixels:
        for c in row:
            hist[c] = hist.get(c, 0) + 1
    palette = median_cut(sorted(hist.items()), count)
    palette.sort(key=lambda c: (c[0] * 30 + c[1] * 59 + c[2] * 11, c))
    cache = {}
    out = []
    for row in pixels:
        line = []
        for c in row:
            idx = cache.get(c)
            if idx is None:
                idx = min(range(count), key=lambda i: (
                    (palette[i][0] - c[0]) ** 2 * 3 + (palette[i][1] - c[1]) ** 2 * 4 +
                    (palette[i][2] - c[2]) ** 2 * 2, i))
                cache[c] = idx
            line.append(idx)
        out.append(line)
    return out, palette


def welcome_bmp():
    pixels = render_welcome()
    indices, palette = quantize(pixels, 128)
    return bmp_8bpp(W_WIDTH, W_HEIGHT, indices, palette)


# ---------------------------------------------------------------------------
# Drive picture: the front of a disk drive
# ---------------------------------------------------------------------------

def drive_bmp():
    w, h = 31, 20
    light, dark = (192, 192, 192), (128, 128, 128)
    white, black = (255, 255, 255), (0, 0, 0)
    px = [[light] * w for _ in range(h)]
    for x in range(w):
        px[0][x] = white
        px[h - 1][x] = black
    for y in range(h):
        px[y][0] = white
        px[y][w - 1] = black
    px[h - 1][0] = black
    px[0][w - 1] = black
    # Inner shadow line along the bottom and right edge.
    for x in range(1, w - 1):
        px[h - 2][x] = dark
    for y in range(1, h - 1):
        px[y][w - 2] = dark
    # A dark grey recessed panel holding the two stripes (the drive's slots).
    for y in range(4, 15):
        for x in range(3, 27):
            px[y][x] = dark
    for x in range(3, 27):
        px[4][x] = black
        px[14][x] = white
    for y in range(4, 15):
        px[y][3] = black
        px[y][27] = white
    for sy in (7, 11):
        for x in range(5, 26):
            px[sy][x] = black
            px[sy + 1][x] = white
    # Busy light at the lower right.
    px[16][25] = black
    px[16][26] = black
    return bmp_24bpp(w, h, px)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: gen_art.py OUTDIR\n")
        return 2
    outdir = argv[1]
    os.makedirs(outdir, exist_ok=True)
    files = {
        "program.ico": ico([(32, icon32()), (16, icon16())]),
        "drive.bmp": drive_bmp(),
        "welcome.bmp": welcome_bmp(),
    }
    for name, data in files.items():
        path = os.path.join(outdir, name)
        tmp = path + ".tmp"
        with open(tmp, "wb") as f:
            f.write(data)
        os.replace(tmp, path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

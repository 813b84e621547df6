#!/usr/bin/env python3
"""Draws the program's icon set and About banner.

    python3 assets/make_assets.py [OUTDIR]

writes icon/tibrok.ico, icon/hicolor/<N>x<N>/tibrok-flv-player.png,
about_banner.bmp and its double-size twin about_banner@2x.bmp (for screens
with two device pixels to the pixel) into OUTDIR (this script's own folder
when omitted).

The outputs are committed, and the test suite reruns this script and demands
identical bytes, so everything here must stay deterministic: no clocks, no
randomness, no dictionary-order dependence, standard library only.
"""

import math
import os
import struct
import sys
import zlib

# ---------------------------------------------------------------------------
# The icon picture: a blue tile, four white arrows out to its corners and a
# white diamond in the middle.  Geometry is in tile units: (0, 0) is the top
# left of the image and (1, 1) the bottom right.

TILE_TOP = (74, 144, 236)
TILE_BOTTOM = (22, 84, 196)
TILE_RIM = (14, 52, 132)
WHITE = (255, 255, 255)


def _lerp(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def _icon_geometry(size):
    """Shape measurements for one icon size.

    Strokes that look right at 256 pixels vanish into grey smudges at 16, so
    every width has a floor of about one and a bit pixels at small sizes.
    """
    px = 1.0 / size
    # A whole number of pixels, so the tile's straight edges come out sharp
    # instead of as a half-tone line.
    margin = round(0.03 * size) * px
    half = 0.5 - margin
    return {
        'half': half,                                  # tile half-width
        'radius': 0.17,                                # corner radius
        'rim': max(0.028, 1.0 * px),                   # dark outline
        'diamond': max(0.115, 2.6 * px),               # centre to vertex
        'shaft_from': max(0.125, 2.9 * px),            # along the diagonal
        'shaft_to': 0.37,
        'shaft_half': max(0.042, 0.72 * px),
        'head_base': 0.285,
        'head_tip': 0.54,
        'head_half': max(0.115, 2.4 * px),
    }


_SQRT_HALF = math.sqrt(0.5)


def _in_rounded_square(ax, ay, half, radius):
    # ax, ay: distances from the centre, already folded into one quadrant.
    if ax > half or ay > half:
        return False
    qx = ax - (half - radius)
    qy = ay - (half - radius)
    if qx <= 0.0 or qy <= 0.0:
        return True
    return qx * qx + qy * qy <= radius * radius


def _icon_sample(x, y, g):
    """Colour at one point, or None outside the tile."""
    # The picture is mirror-symmetric about both axes (apart from the
    # gradient), so fold into one quadrant and test a single arrow.
    ax = abs(x - 0.5)
    ay = abs(y - 0.5)
    half = g['half']
    radius = g['radius']
    if not _in_rounded_square(ax, ay, half, radius):
        return None
    rim = g['rim']
    if not _in_rounded_square(ax, ay, half - rim, max(radius - rim, 0.0)):
        return TILE_RIM
    if ax + ay <= g['diamond']:
        return WHITE
    u = (ax + ay) * _SQRT_HALF  # along the diagonal, outwards
    v = abs(ax - ay) * _SQRT_HALF  # across it
    if g['shaft_from'] <= u <= g['shaft_to'] and v <= g['shaft_half']:
        return WHITE
    base, tip = g['head_base'], g['head_tip']
    if base <= u <= tip and v <= g['head_half'] * (tip - u) / (tip - base):
        return WHITE
    # Light from above: the tile darkens towards the bottom.
    t = (y - (0.5 - half)) / (2.0 * half)
    return _lerp(TILE_TOP, TILE_BOTTOM, min(max(t, 0.0), 1.0))


def render_icon(size):
    """Anti-aliased RGBA rows (straight alpha) of the icon at size x size."""
    g = _icon_geometry(size)
    # Small sizes get more samples per pixel: their edges are a larger share
    # of the picture and every blended pixel shows.
    ss = 8 if size <= 64 else 4
    n = ss * ss
    offsets = [(i + 0.5) / ss for i in range(ss)]
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = gg = b = 0.0
            hits = 0
            for oy in offsets:
                y = (py + oy) / size
                for ox in offsets:
                    c = _icon_sample((px + ox) / size, y, g)
                    if c is not None:
                        r += c[0]
                        gg += c[1]
                        b += c[2]
                        hits += 1
            if hits == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((int(r / hits + 0.5), int(gg / hits + 0.5),
                            int(b / hits + 0.5), (hits * 255 + n // 2) // n))
        rows.append(row)
    return rows


# ---------------------------------------------------------------------------
# Palette reduction for the 4- and 8-bit icon images.  Palette index 0 stays
# black: it is what the transparent pixels hold, so that the AND mask plus a
# zero XOR pixel leaves the screen untouched.

def _median_cut(colours, count):
    """Splits (colour, weight) pairs into at most `count` boxes."""
    boxes = [sorted(colours)]
    while len(boxes) < count:
        best = None
        for i, box in enumerate(boxes):
            if len(box) < 2:
                continue
            ranges = [max(c[0][k] for c in box) - min(c[0][k] for c in box)
                      for k in range(3)]
            weight = sum(w for _, w in box)
            score = max(ranges) * weight
            if score > 0 and (best is None or score > best[0]):
                best = (score, i, ranges.index(max(ranges)))
        if best is None:
            break
        _, i, axis = best
        box = sorted(boxes[i], key=lambda cw: (cw[0][axis], cw[0]))
        total = sum(w for _, w in box)
        acc = 0
        cut = 1
        for j, (_, w) in enumerate(box[:-1]):
            acc += w
            cut = j + 1
            if acc * 2 >= total:
                break
        boxes[i:i + 1] = [box[:cut], box[cut:]]
    return boxes


def _nearest(palette, c):
    best = 0
    best_d = None
    for i, p in enumerate(palette):
        d = (p[0] - c[0]) ** 2 + (p[1] - c[1]) ** 2 + (p[2] - c[2]) ** 2
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


def quantise(rows, bits):
    """Maps an RGBA image onto a palette of 2**bits colours.

    Returns (palette, index rows, opaque rows).  Low-depth icons have no
    partial transparency, so alpha is cut at one half.
    """
    counts = {}
    for row in rows:
        for r, g, b, a in row:
            if a >= 128:
                counts[(r, g, b)] = counts.get((r, g, b), 0) + 1
    slots = (1 << bits) - 1
    colours = sorted(counts.items())
    if len(colours) <= slots:
        chosen = [c for c, _ in colours]
    else:
        boxes = _median_cut(colours, slots)
        chosen = []
        for box in boxes:
            total = sum(w for _, w in box)
            chosen.append(tuple(int(sum(c[k] * w for c, w in box) / total + 0.5)
                                for k in range(3)))
        # A few rounds of k-means pull the entries onto the colours that
        # matter most (flat white, the tile body) instead of box averages.
        for _ in range(6):
            sums = [[0, 0, 0, 0] for _ in chosen]
            for c, w in colours:
                s = sums[_nearest(chosen, c)]
                s[0] += c[0] * w
                s[1] += c[1] * w
                s[2] += c[2] * w
                s[3] += w
            chosen = [tuple(int(s[k] / s[3] + 0.5) for k in range(3))
                      if s[3] else old for s, old in zip(sums, chosen)]
        # A cluster dominated by one flat colour gets that exact colour, so
        # white stays pure white rather than the average of white and its
        # anti-aliased fringe.
        members = [[] for _ in chosen]
        for c, w in colours:
            members[_nearest(chosen, c)].append((w, c))
        for i, group in enumerate(members):
            if group:
                w, c = max(group, key=lambda wc: (wc[0], wc[1]))
                if 2 * w > sum(x for x, _ in group):
                    chosen[i] = c
    palette = [(0, 0, 0)] + chosen
    palette += [(0, 0, 0)] * ((1 << bits) - len(palette))
    lookup = {}
    indices = []
    opaque = []
    for row in rows:
        irow = []
        orow = []
        for r, g, b, a in row:
            if a >= 128:
                key = (r, g, b)
                if key not in lookup:
                    lookup[key] = 1 + _nearest(chosen, key)
                irow.append(lookup[key])
                orow.append(True)
            else:
                irow.append(0)
                orow.append(False)
        indices.append(irow)
        opaque.append(orow)
    return palette, indices, opaque


# ---------------------------------------------------------------------------
# ICO writing: each image is a BMP without its file header, whose height
# counts the XOR picture and the AND mask together.

def _pad4(data):
    return data + b'\0' * (-len(data) % 4)


def _and_mask(opaque):
    out = b''
    for row in reversed(opaque):  # bottom-up like the rest of the bitmap
        bits = bytearray((len(row) + 7) // 8)
        for x, solid in enumerate(row):
            if not solid:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += _pad4(bytes(bits))
    return out


def _bitmap_header(size, bits, image_bytes):
    return struct.pack('<IiiHHIIiiII', 40, size, 2 * size, 1, bits, 0,
                       image_bytes, 0, 0, 0, 0)


def ico_image(rows, bits):
    size = len(rows)
    if bits == 32:
        xor = b''
        for row in reversed(rows):
            xor += b''.join(bytes((b, g, r, a)) if a else b'\0\0\0\0'
                            for r, g, b, a in row)
        mask = _and_mask([[a >= 128 for _, _, _, a in row] for row in rows])
        table = b''
    else:
        palette, indices, opaque = quantise(rows, bits)
        table = b''.join(bytes((b, g, r, 0)) for r, g, b in palette)
        xor = b''
        for row in reversed(indices):
            if bits == 4:
                packed = bytes((row[x] << 4) | (row[x + 1] if x + 1 < len(row) else 0)
                               for x in range(0, len(row), 2))
            else:
                packed = bytes(row)
            xor += _pad4(packed)
        mask = _and_mask(opaque)
    return _bitmap_header(size, bits, len(xor) + len(mask)) + table + xor + mask


ICO_LAYOUT = [(size, bits) for bits in (4, 8, 32) for size in (48, 32, 16)]


def ico_file(renders):
    images = [(size, bits, ico_image(renders[size], bits)) for size, bits in ICO_LAYOUT]
    head = struct.pack('<HHH', 0, 1, len(images))
    offset = len(head) + 16 * len(images)
    entries = b''
    for size, bits, data in images:
        entries += struct.pack('<BBBBHHII', size % 256, size % 256,
                               16 if bits == 4 else 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    return head + entries + b''.join(data for _, _, data in images)


# ---------------------------------------------------------------------------
# PNG writing, for desktop environments that want one file per size.

def _png_chunk(kind, data):
    return (struct.pack('>I', len(data)) + kind + data
            + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff))


def png_file(rows):
    height = len(rows)
    width = len(rows[0])
    raw = b''.join(b'\0' + b''.join(bytes(p) for p in row) for row in rows)
    return (b'\x89PNG\r\n\x1a\n'
            + _png_chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 6, 0, 0, 0))
            + _png_chunk(b'IDAT', zlib.compress(raw, 9))
            + _png_chunk(b'IEND', b''))


# ---------------------------------------------------------------------------
# The About banner: the program's name in a little bitmap face, smoothed and
# scaled up.  Glyph rows run from the cap line (row 0) through the baseline
# (after row 10) to the bottom of the descenders (row 13); '#' is ink.

GLYPH_ROWS = 14
_X = 3  # first row of the x-height

_GLYPH_ART = {
    'T': ['##########',
          '##########'] + ['....##....'] * 9,
    'F': ['#######',
          '#######',
          '##.....',
          '##.....',
          '##.....',
          '######.',
          '######.',
          '##.....',
          '##.....',
          '##.....',
          '##.....'],
    'P': ['######.',
          '#######',
          '##...##',
          '##...##',
          '##...##',
          '#######',
          '######.',
          '##.....',
          '##.....',
          '##.....',
          '##.....'],
    'i': ['##', '##', '..'] + ['##'] * 8,
    'l': ['##'] * 11,
    'b': ['##.....',
          '##.....',
          '##.....',
          '##.###.',
          '#######',
          '###..##',
          '##...##',
          '##...##',
          '###..##',
          '#######',
          '##.###.'],
    'k': ['##.....',
          '##.....',
          '##.....',
          '##...##',
          '##..##.',
          '##.##..',
          '####...',
          '####...',
          '##.##..',
          '##..##.',
          '##...##'],
    'r': ['.....',
          '.....',
          '.....',
          '##.##',
          '#####',
          '###..',
          '##...',
          '##...',
          '##...',
          '##...',
          '##...'],
    'o': ['.......'] * _X + [
          '.#####.',
          '#######',
          '##...##',
          '##...##',
          '##...##',
          '##...##',
          '#######',
          '.#####.'],
    'v': ['........'] * _X + [
          '##....##',
          '##....##',
          '.##..##.',
          '.##..##.',
          '.##..##.',
          '..####..',
          '..####..',
          '...##...'],
    'y': ['........'] * _X + [
          '##....##',
          '##....##',
          '.##..##.',
          '.##..##.',
          '.##..##.',
          '..####..',
          '..####..',
          '...##...',
          '..##....',
          '###.....',
          '##......'],
    'a': ['.......'] * _X + [
          '.#####.',
          '.######',
          '.....##',
          '.######',
          '#######',
          '##...##',
          '#######',
          '.######'],
    'e': ['.......'] * _X + [
          '.#####.',
          '#######',
          '##...##',
          '#######',
          '#######',
          '##.....',
          '#######',
          '.######'],
    ' ': ['....'],
}

BANNER_TEXT = 'Tibrok Flv Player'
BANNER_WIDTH = 290
BANNER_HEIGHT = 56
BANNER_INK_TOP = (32, 96, 200)
BANNER_INK_BOTTOM = (10, 50, 140)
BANNER_SHADOW = (170, 170, 170)
BANNER_BACKGROUND = (255, 255, 255)
SHADOW_OFFSET = 2  # pixels, down and right
LETTER_GAP = 2  # glyph columns between letters


def _glyph(ch):
    art = _GLYPH_ART[ch]
    width = len(art[0])
    art = art + ['.' * width] * (GLYPH_ROWS - len(art))
    return [[1.0 if c == '#' else 0.0 for c in line] for line in art]


def _text_grid(text):
    """The whole line set in glyph cells, as one grid of 0/1 values."""
    glyphs = [_glyph(ch) for ch in text]
    width = sum(len(g[0]) for g in glyphs) + LETTER_GAP * (len(glyphs) - 1)
    grid = [[0.0] * width for _ in range(GLYPH_ROWS)]
    x = 0
    for g in glyphs:
        for row in range(GLYPH_ROWS):
            grid[row][x:x + len(g[0])] = g[row]
        x += len(g[0]) + LETTER_GAP
    return grid


def _text_coverage(grid, scale, left, top, width, height, ss):
    """Fraction of each banner pixel covered by ink.

    Scaling the glyph cells up as squares gives a blocky pixel-art look.
    Interpolating the cell values bilinearly and keeping what is above one
    half instead rounds the corners and turns stair steps into slopes, so
    the face reads as lettering rather than as a grid.
    """
    rows = len(grid)
    cols = len(grid[0])

    def cell(r, c):
        if 0 <= r < rows and 0 <= c < cols:
            return grid[r][c]
        return 0.0

    offsets = [(i + 0.5) / ss for i in range(ss)]
    n = ss * ss
    cover = []
    for py in range(height):
        line = []
        for px in range(width):
            hits = 0
            for oy in offsets:
                gy = (py + oy - top) / scale - 0.5
                if gy < -1.0 or gy > rows:
                    continue
                r0 = math.floor(gy)
                fy = gy - r0
                for ox in offsets:
                    gx = (px + ox - left) / scale - 0.5
                    if gx < -1.0 or gx > cols:
                        continue
                    c0 = math.floor(gx)
                    fx = gx - c0
                    top_mix = cell(r0, c0) * (1 - fx) + cell(r0, c0 + 1) * fx
                    bottom_mix = cell(r0 + 1, c0) * (1 - fx) + cell(r0 + 1, c0 + 1) * fx
                    if top_mix * (1 - fy) + bottom_mix * fy > 0.5:
                        hits += 1
            line.append(hits / n)
        cover.append(line)
    return cover


def render_banner(factor=1):
    """The banner drawn with `factor` pixels to each of its pixels.

    Drawn afresh at that size rather than scaled up, so the lettering stays
    sharp on a screen of twice the pixel density; the samples per pixel
    shrink with the pixels, so each size costs the same.
    """
    width, height = BANNER_WIDTH * factor, BANNER_HEIGHT * factor
    shadow_offset = SHADOW_OFFSET * factor
    grid = _text_grid(BANNER_TEXT)
    cols = len(grid[0])
    # Fill the width, leaving a margin and room for the shadow; the height
    # then follows from the face's proportions.
    scale = (width - 16 * factor - shadow_offset) / cols
    text_w = cols * scale
    text_h = GLYPH_ROWS * scale
    left = round((width - shadow_offset - text_w) / 2)
    top = round((height - shadow_offset - text_h) / 2)
    ink = _text_coverage(grid, scale, left, top, width, height, 4 // factor)
    cap_top = top
    baseline = top + 11 * scale
    pixels = []
    for y in range(height):
        t = min(max((y + 0.5 - cap_top) / (baseline - cap_top), 0.0), 1.0)
        ink_colour = _lerp(BANNER_INK_TOP, BANNER_INK_BOTTOM, t)
        row = []
        for x in range(width):
            sy, sx = y - shadow_offset, x - shadow_offset
            shade = ink[sy][sx] if sy >= 0 and sx >= 0 else 0.0
            colour = _lerp(BANNER_BACKGROUND, BANNER_SHADOW, shade)
            colour = _lerp(colour, ink_colour, ink[y][x])
            row.append(tuple(int(v + 0.5) for v in colour))
        pixels.append(row)
    return pixels


def bmp_file(rows):
    height = len(rows)
    width = len(rows[0])
    stride = (width * 3 + 3) & ~3
    body = b''
    for row in reversed(rows):
        line = b''.join(bytes((b, g, r)) for r, g, b in row)
        body += line + b'\0' * (stride - len(line))
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(body),
                       3780, 3780, 0, 0)
    head = struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(body), 0, 0, 14 + len(info))
    return head + info + body


# ---------------------------------------------------------------------------

PNG_SIZES = (16, 32, 48, 64, 128, 256)


def outputs():
    """Every generated file, as {relative path: bytes}."""
    renders = {size: render_icon(size) for size in sorted(set(PNG_SIZES) | {48, 32, 16})}
    files = {'icon/tibrok.ico': ico_file(renders)}
    for size in PNG_SIZES:
        files['icon/hicolor/%dx%d/tibrok-flv-player.png' % (size, size)] = png_file(renders[size])
    files['about_banner.bmp'] = bmp_file(render_banner())
    files['about_banner@2x.bmp'] = bmp_file(render_banner(2))
    return files


def main(argv):
    if len(argv) > 2:
        sys.stderr.write('usage: make_assets.py [OUTDIR]\n')
        return 2
    outdir = argv[1] if len(argv) == 2 else os.path.dirname(os.path.abspath(__file__))
    for name, data in sorted(outputs().items()):
        path = os.path.join(outdir, *name.split('/'))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(data)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))

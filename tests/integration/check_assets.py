#!/usr/bin/env python3
"""Checks the committed icon, PNGs and About banner.

    check_assets.py SRC_DIR

The files are read back with decoders written here, not with the generator's
own code, so a writer bug cannot hide behind a matching reader bug.
"""

import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

SRC = None  # set from the command line
ICO_ORDER = [(48, 4), (32, 4), (16, 4), (48, 8), (32, 8), (16, 8), (48, 32), (32, 32), (16, 32)]
PNG_SIZES = [16, 32, 48, 64, 128, 256]


def asset(*parts):
    return os.path.join(SRC, 'assets', *parts)


def read(path):
    with open(path, 'rb') as f:
        return f.read()


def stride(width, bits):
    return (width * bits + 31) // 32 * 4


def decode_ico(data):
    """[(entry, header, rows of RGBA with alpha 0/255 or real alpha)]."""
    reserved, kind, count = struct.unpack_from('<HHH', data)
    assert (reserved, kind) == (0, 1), 'not an icon file'
    images = []
    for i in range(count):
        entry = struct.unpack_from('<BBBBHHII', data, 6 + 16 * i)
        w, h, colours, _, planes, bits, size, offset = entry
        header = struct.unpack_from('<IiiHHIIiiII', data, offset)
        ncol = header[9] or (1 << bits if bits <= 8 else 0)
        palette = [struct.unpack_from('<BBBB', data, offset + 40 + 4 * k) for k in range(ncol)]
        xor_at = offset + 40 + 4 * ncol
        and_at = xor_at + stride(w, bits) * h
        rows = []
        for y in range(h):
            xrow = xor_at + stride(w, bits) * (h - 1 - y)
            arow = and_at + stride(w, 1) * (h - 1 - y)
            row = []
            for x in range(w):
                masked = data[arow + x // 8] >> (7 - x % 8) & 1
                if bits == 32:
                    b, g, r, a = data[xrow + 4 * x:xrow + 4 * x + 4]
                else:
                    v = data[xrow + x * bits // 8]
                    index = (v >> (4 - 4 * (x % 2)) & 15) if bits == 4 else v
                    b, g, r, _ = palette[index]
                    a = 0 if masked else 255
                row.append((r, g, b, a, masked))
            rows.append(row)
        images.append((entry, header, ncol, rows))
    return images


def decode_png(data):
    assert data[:8] == b'\x89PNG\r\n\x1a\n', 'no PNG signature'
    pos, chunks = 8, {}
    while pos < len(data):
        length, kind = struct.unpack_from('>I4s', data, pos)
        body = data[pos + 8:pos + 8 + length]
        crc, = struct.unpack_from('>I', data, pos + 8 + length)
        assert zlib.crc32(kind + body) & 0xffffffff == crc, 'bad CRC in %r' % kind
        chunks[kind] = chunks.get(kind, b'') + body
        pos += 12 + length
    w, h, depth, ctype = struct.unpack_from('>IIBB', chunks[b'IHDR'])
    assert (depth, ctype) == (8, 6), 'expected 8-bit RGBA'
    raw = zlib.decompress(chunks[b'IDAT'])
    assert len(raw) == h * (1 + 4 * w)
    rows = []
    for y in range(h):
        line = raw[y * (1 + 4 * w):(y + 1) * (1 + 4 * w)]
        # make_assets.py writes unfiltered scanlines; anything else is a change
        # of writer that this reader should be taught about.
        assert line[0] == 0, 'row %d uses filter %d' % (y, line[0])
        rows.append([tuple(line[x:x + 4]) for x in range(1, len(line), 4)])
    return w, h, rows


def is_white(p):
    return min(p[:3]) >= 235


def is_blue(p):
    return p[2] > p[0] + 60 and p[2] > p[1] + 30


class GeneratorReproducesCommittedFiles(unittest.TestCase):
    def test_fresh_run_matches_byte_for_byte(self):
        with tempfile.TemporaryDirectory() as out:
            subprocess.run([sys.executable, asset('make_assets.py'), out], check=True)
            made = sorted(os.path.relpath(os.path.join(d, f), out)
                          for d, _, files in os.walk(out) for f in files)
            self.assertIn(os.path.join('icon', 'tibrok.ico'), made)
            self.assertIn('about_banner.bmp', made)
            self.assertIn('about_banner@2x.bmp', made)
            self.assertEqual(len(made), 3 + len(PNG_SIZES))
            for name in made:
                with self.subTest(name):
                    self.assertTrue(read(os.path.join(out, name)) == read(asset(name)),
                                    '%s differs from what make_assets.py produces' % name)


class IconFile(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.data = read(asset('icon', 'tibrok.ico'))
        cls.images = decode_ico(cls.data)

    def test_directory_lists_nine_images_in_order(self):
        self.assertEqual([(e[0], e[5]) for e, _, _, _ in self.images], ICO_ORDER)
        for (w, h, colours, reserved, planes, bits, _, _), _, _, _ in self.images:
            self.assertEqual((h, reserved, planes), (w, 0, 1))
            self.assertEqual(colours, 16 if bits == 4 else 0)

    def test_images_tile_the_file_exactly(self):
        pos = 6 + 16 * len(self.images)
        for entry, header, ncol, _ in self.images:
            w, bits, size, offset = entry[0], entry[5], entry[6], entry[7]
            self.assertEqual(offset, pos)
            self.assertEqual(size, 40 + 4 * ncol + (stride(w, bits) + stride(w, 1)) * w)
            pos += size
        self.assertEqual(pos, len(self.data))

    def test_bitmap_headers_agree_with_entries(self):
        for entry, header, ncol, _ in self.images:
            w, bits = entry[0], entry[5]
            self.assertEqual(header[:6], (40, w, 2 * w, 1, bits, 0))
            self.assertEqual(ncol, {4: 16, 8: 256, 32: 0}[bits])

    def test_picture_is_white_centre_on_blue_tile_with_clear_corners(self):
        for (w, *_rest, bits, _, _), _, _, rows in self.images:
            with self.subTest(size=w, bits=bits):
                self.assertTrue(rows[0][0][4] and rows[0][0][3] < 128, 'corner not transparent')
                self.assertTrue(is_white(rows[w // 2][w // 2]))
                top, bottom = rows[w // 5][w // 2], rows[w - 1 - w // 5][w // 2]
                self.assertTrue(is_blue(top) and is_blue(bottom))
                # Lit from above: a flipped bitmap would be darker on top.
                self.assertGreater(sum(top[:3]), sum(bottom[:3]))

    def test_mask_and_transparent_pixels_agree(self):
        for (w, *_rest, bits, _, _), _, _, rows in self.images:
            for row in rows:
                for r, g, b, a, masked in row:
                    self.assertEqual(bool(masked), a < 128)
                    if masked and bits != 32:
                        self.assertEqual((r, g, b), (0, 0, 0), 'masked pixel would tint the screen')

    def test_palette_images_follow_the_true_colour_ones(self):
        true_colour = {e[0]: rows for e, _, _, rows in self.images if e[5] == 32}
        for (w, *_rest, bits, _, _), _, _, rows in self.images:
            if bits == 32:
                continue
            diff = sum(abs(p[k] - q[k]) for rp, rq in zip(rows, true_colour[w])
                       for p, q in zip(rp, rq) if not p[4] for k in range(3))
            self.assertLess(diff / (3 * w * w), 12 if bits == 4 else 3, '%d-bit %dpx' % (bits, w))


class HicolorPngs(unittest.TestCase):
    def test_each_size_decodes_to_the_icon(self):
        for n in PNG_SIZES:
            with self.subTest(size=n):
                w, h, rows = decode_png(read(asset('icon', 'hicolor', '%dx%d' % (n, n),
                                                   'tibrok-flv-player.png')))
                self.assertEqual((w, h), (n, n))
                self.assertLess(rows[0][0][3], 64, 'corner not clear')
                self.assertTrue(is_white(rows[n // 2][n // 2]) and rows[n // 2][n // 2][3] == 255)
                self.assertTrue(is_blue(rows[n // 5][n // 2]))


class AboutBanner(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.data = read(asset('about_banner.bmp'))
        cls.width, cls.height = struct.unpack_from('<ii', cls.data, 18)
        row_bytes = stride(cls.width, 24)
        cls.rows = []
        for y in range(abs(cls.height)):
            at = 54 + row_bytes * (cls.height - 1 - y)
            cls.rows.append([tuple(cls.data[at + 3 * x + 2 - k] for k in range(3))
                             for x in range(cls.width)])

    def test_headers(self):
        magic, size, _, _, offset = struct.unpack_from('<2sIHHI', self.data)
        self.assertEqual((magic, size, offset, len(self.data)), (b'BM', 48886, 54, 48886))
        info = struct.unpack_from('<IiiHHI', self.data, 14)
        self.assertEqual(info, (40, 290, 56, 1, 24, 0))

    def test_row_padding_is_zero(self):
        for y in range(56):
            self.assertEqual(self.data[54 + 872 * y + 870:54 + 872 * (y + 1)], b'\0\0')

    def test_blue_text_with_grey_shadow_on_white(self):
        pixels = [p for row in self.rows for p in row]
        grey = [p for p in pixels if max(p) - min(p) < 12 and 100 < p[0] < 225]
        self.assertGreater(sum(map(is_white, pixels)), 0.6 * len(pixels))
        self.assertGreater(sum(map(is_blue, pixels)), 0.08 * len(pixels))
        self.assertGreater(len(grey), 0.02 * len(pixels))

    def test_text_fills_the_width_without_touching_the_edges(self):
        ink = [x for row in self.rows for x, p in enumerate(row) if not is_white(p)]
        self.assertGreater(max(ink) - min(ink), 0.85 * self.width)
        for edge in (self.rows[0], self.rows[-1], [r[0] for r in self.rows], [r[-1] for r in self.rows]):
            self.assertTrue(all(map(is_white, edge)))

    def test_shadow_falls_down_and_right(self):
        def shadow_below_right(rows):
            count = 0
            for y in range(2, len(rows)):
                for x in range(2, self.width):
                    p = rows[y][x]
                    count += max(p) - min(p) < 12 and p[0] < 225 and is_blue(rows[y - 2][x - 2])
            return count
        # Upside-down storage would throw the shadow upwards instead.
        self.assertGreater(shadow_below_right(self.rows), 2 * shadow_below_right(self.rows[::-1]))


class DoubleSizeBanner(unittest.TestCase):
    """The banner for screens of twice the density: the same picture, drawn
    at twice the size rather than blown up."""

    @staticmethod
    def rows_of(data):
        width, height = struct.unpack_from('<ii', data, 18)
        row_bytes = stride(width, 24)
        return [[tuple(data[54 + row_bytes * (height - 1 - y) + 3 * x + 2 - k] for k in range(3))
                 for x in range(width)] for y in range(height)]

    @classmethod
    def setUpClass(cls):
        cls.data = read(asset('about_banner@2x.bmp'))
        cls.rows = cls.rows_of(cls.data)
        cls.small = cls.rows_of(read(asset('about_banner.bmp')))

    def test_headers(self):
        info = struct.unpack_from('<IiiHHI', self.data, 14)
        self.assertEqual(info, (40, 580, 112, 1, 24, 0))
        self.assertEqual(len(self.data), 54 + stride(580, 24) * 112)

    def test_each_block_of_four_averages_to_the_small_banners_pixel(self):
        worst = 0
        for y in range(56):
            for x in range(290):
                block = [self.rows[2 * y + dy][2 * x + dx] for dy in (0, 1) for dx in (0, 1)]
                mean = [sum(p[k] for p in block) / 4 for k in range(3)]
                worst = max(worst, max(abs(mean[k] - self.small[y][x][k]) for k in range(3)))
        # Edges land a little differently at the finer size; shapes do not.
        self.assertLess(worst, 160)
        differing = sum(
            1 for y in range(56) for x in range(290)
            if max(abs(sum(self.rows[2 * y + dy][2 * x + dx][k] for dy in (0, 1) for dx in (0, 1)) / 4
                       - self.small[y][x][k]) for k in range(3)) > 48)
        self.assertLess(differing, 0.05 * 290 * 56)

    def test_sharper_than_the_small_one_blown_up(self):
        # Blown up, every 2x2 block is one colour; drawn afresh, edges fall
        # inside blocks.
        split = sum(1 for y in range(0, 112, 2) for x in range(0, 580, 2)
                    if len({self.rows[y + dy][x + dx] for dy in (0, 1) for dx in (0, 1)}) > 1)
        self.assertGreater(split, 500)


if __name__ == '__main__':
    if len(sys.argv) < 2:
        sys.exit('usage: check_assets.py SRC_DIR [unittest args]')
    SRC = os.path.abspath(sys.argv.pop(1))
    unittest.main()

#!/usr/bin/env python3
"""Compiles the Windows resource script and reads the compiled resources back.

    check_windows_resources.py SRC_DIR [unittest args]

mingw-w64's windres compiles app/tibrok-flv-player.rc to a .res file, which is
then walked with the reader below rather than with binutils, so the check sees
the bytes Windows would see. The expected version details come from the C++
constants in app/app_description.h and the project version in CMakeLists.txt,
which keeps the program, its build and its Windows resources in step.
"""

import functools
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

SRC = None  # set from the command line

RT_ICON, RT_GROUP_ICON, RT_VERSION = 3, 14, 16
VS_FIXEDFILEINFO_SIGNATURE = 0xFEEF04BD
VS_FIXEDFILEINFO_VERSION = 0x00010000
VOS_NT_WINDOWS32 = 0x40004
VFT_APP = 1
BITMAPINFOHEADER_SIZE = 40

# The strings Explorer's Details tab reads, and the app_description.h
# constant each has to equal.
VERSION_STRINGS = {
    'CompanyName': 'kCompanyName', 'FileDescription': 'kDescription',
    'FileVersion': 'kFileVersion', 'InternalName': 'kInternalName',
    'OriginalFilename': 'kOriginalFilename', 'ProductName': 'kProductName',
    'ProductVersion': 'kProductVersion',
}
# Old shells pick the first image that suits the display, so the low colour
# depths come first and every depth lists the large size first.
ICON_SIZES = (48, 32, 16)
ICON_DEPTHS = (4, 8, 32)


class ResError(Exception):
    pass


def src(*parts):
    return os.path.join(SRC, *parts)


def read(path):
    with open(path, 'rb') as f:
        return f.read()


def align4(n):
    return (n + 3) & ~3


def u16(buf, off):
    if off + 2 > len(buf):
        raise ResError('read past the end at %d' % off)
    return struct.unpack_from('<H', buf, off)[0]


# --- the C++ description and the project version

def read_description(text):
    """{name: value} for the constants of app_description.h."""
    values = {}
    for m in re.finditer(r'inline constexpr char (k\w+)\[\] = "([^"\\]*)";', text):
        values[m.group(1)] = m.group(2)
    for m in re.finditer(r'inline constexpr int (k\w+) = (0[xX][0-9a-fA-F]+|\d+);', text):
        values[m.group(1)] = int(m.group(2), 0)
    return values


def project_version(cmake_text):
    m = re.search(r'project\(\s*\w+\s+VERSION\s+(\d+)\.(\d+)\.(\d+)(?:\.(\d+))?', cmake_text)
    if not m:
        raise ResError('no project VERSION in CMakeLists.txt')
    return tuple(int(p or 0) for p in m.groups())


# --- the .res file

def read_name(buf, off):
    """A resource type or name: 0xFFFF then a number, or a UTF-16 string."""
    if u16(buf, off) == 0xFFFF:
        return u16(buf, off + 2), off + 4
    end = off
    while u16(buf, end):
        end += 2
    return buf[off:end].decode('utf-16-le'), end + 2


def read_res(data):
    """{(type, name, language): data} of a 32-bit .res file."""
    records, off = [], 0
    while off < len(data):
        if len(data) - off < 32:
            raise ResError('truncated resource header at %d' % off)
        size, header_size = struct.unpack_from('<II', data, off)
        if off + header_size + size > len(data):
            raise ResError('resource at %d runs past the end' % off)
        kind, p = read_name(data, off + 8)
        name, p = read_name(data, p)
        p = align4(p)
        _, _, lang, _, _ = struct.unpack_from('<IHHII', data, p)
        if p + 16 != off + header_size:
            raise ResError('header at %d is %d bytes, its fields %d' % (off, header_size, p + 16 - off))
        records.append((kind, name, lang, data[off + header_size:off + header_size + size]))
        off = align4(off + header_size + size)
    # A 32-bit .res opens with an empty entry that tells it from a 16-bit one.
    if not records or records[0] != (0, 0, 0, b''):
        raise ResError('missing the empty leading entry of a 32-bit .res')
    table = {}
    for kind, name, lang, body in records[1:]:
        if (kind, name, lang) in table:
            raise ResError('duplicate resource %r' % ((kind, name, lang),))
        table[(kind, name, lang)] = body
    return table


# --- VS_VERSIONINFO

class Node:
    def __init__(self, key, is_text, value, children):
        self.key, self.is_text, self.value, self.children = key, is_text, value, children

    def child_map(self):
        keys = [c.key for c in self.children]
        if len(set(keys)) != len(keys):
            raise ResError('duplicate keys under %s: %s' % (self.key, keys))
        return {c.key: c for c in self.children}

    def text(self):
        if not self.is_text:
            raise ResError(self.key + ' holds binary data, not text')
        s = self.value.decode('utf-16-le')
        if not s.endswith('\0') or '\0' in s[:-1]:
            raise ResError(self.key + ' is not one NUL-terminated string')
        return s[:-1]


def read_node(buf, off, limit):
    """One version-information node (wLength, wValueLength, wType, szKey,
    Value, Children), offsets relative to the resource data."""
    if off + 6 > limit:
        raise ResError('node at %d does not fit' % off)
    length, value_length, kind = struct.unpack_from('<HHH', buf, off)
    end = off + length
    if length < 6 or end > limit:
        raise ResError('node at %d claims %d bytes, %d are left' % (off, length, limit - off))
    if kind not in (0, 1):
        raise ResError('node at %d has type %d' % (off, kind))
    p = off + 6
    while True:
        if p + 2 > end:
            raise ResError('key of the node at %d is not terminated' % off)
        if u16(buf, p) == 0:
            break
        p += 2
    key = buf[off + 6:p].decode('utf-16-le')
    p = align4(p + 2)
    # A text value's length counts UTF-16 units, a binary one bytes.
    size = value_length * 2 if kind == 1 else value_length
    if p + size > end:
        raise ResError('value of %s runs past its node' % key)
    value = buf[p:p + size]
    p = align4(p + size)
    children = []
    while p < end:
        child, child_end = read_node(buf, p, end)
        children.append(child)
        p = align4(child_end)
    return Node(key, kind == 1, value, children), end


def read_version_info(body):
    root, end = read_node(body, 0, len(body))
    if root.key != 'VS_VERSION_INFO' or root.is_text:
        raise ResError('root node is %r' % root.key)
    if end != len(body):
        raise ResError('%d bytes after VS_VERSION_INFO' % (len(body) - end))
    if len(root.value) != 52:
        raise ResError('VS_FIXEDFILEINFO is %d bytes' % len(root.value))
    f = struct.unpack('<13I', root.value)
    if f[0] != VS_FIXEDFILEINFO_SIGNATURE or f[1] != VS_FIXEDFILEINFO_VERSION:
        raise ResError('bad VS_FIXEDFILEINFO signature or version')
    fixed = {
        'FileVersion': (f[2] >> 16, f[2] & 0xFFFF, f[3] >> 16, f[3] & 0xFFFF),
        'ProductVersion': (f[4] >> 16, f[4] & 0xFFFF, f[5] >> 16, f[5] & 0xFFFF),
        'FileFlagsMask': f[6], 'FileFlags': f[7], 'FileOS': f[8], 'FileType': f[9],
    }
    return fixed, root.child_map()


# --- icons

def read_group_icon(body):
    """[(width, height, colours, planes, bits, bytes, id)] of a GRPICONDIR."""
    reserved, kind, count = struct.unpack_from('<HHH', body)
    if (reserved, kind) != (0, 1):
        raise ResError('not an icon group')
    if len(body) != 6 + 14 * count:
        raise ResError('icon group of %d entries is %d bytes' % (count, len(body)))
    entries = []
    for i in range(count):
        w, h, colours, _, planes, bits, size, ident = struct.unpack_from('<BBBBHHIH', body, 6 + 14 * i)
        entries.append((w or 256, h or 256, colours, planes, bits, size, ident))
    return entries


def read_ico_images(data):
    reserved, kind, count = struct.unpack_from('<HHH', data)
    if (reserved, kind) != (0, 1):
        raise ResError('not an icon file')
    images = []
    for i in range(count):
        size, offset = struct.unpack_from('<II', data, 6 + 16 * i + 8)
        images.append(data[offset:offset + size])
    return images


def dib_size(width, height, bits):
    """Bytes of an icon image: header, palette, colour rows, mask rows."""
    palette = 4 << bits if bits <= 8 else 0
    row = lambda b: (width * b + 31) // 32 * 4
    return BITMAPINFOHEADER_SIZE + palette + (row(bits) + row(1)) * height


# --- compiling

def windres_command():
    windres = os.environ.get('WINDRES') or shutil.which('x86_64-w64-mingw32-windres')
    if not windres:
        # CI installs binutils-mingw-w64-x86-64: a missing tool is a fault, not a skip.
        raise ResError('x86_64-w64-mingw32-windres is not installed')
    command = [windres]
    # Without a mingw-w64 compiler windres has no preprocessor of its own; the
    # host's does the same job for a script that includes no Windows headers.
    if not shutil.which('x86_64-w64-mingw32-gcc'):
        command += ['--preprocessor=cpp', '--preprocessor-arg=-xc',
                    '--preprocessor-arg=-DRC_INVOKED']
    return command


@functools.lru_cache(maxsize=None)
def compiled_res():
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, 'tibrok-flv-player.res')
        subprocess.run(windres_command() + ['-J', 'rc', '-O', 'res', '-i', 'tibrok-flv-player.rc',
                                            '-o', out], cwd=src('app'), check=True)
        return read(out)


class CompiledResources(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.res = read_res(compiled_res())
        cls.want = read_description(read(src('app', 'app_description.h')).decode('utf-8'))
        cls.version = project_version(read(src('CMakeLists.txt')).decode('utf-8'))
        cls.lang = cls.want['kLocale']

    def resource(self, kind, name):
        key = (kind, name, self.lang)
        self.assertIn(key, self.res, 'no resource type %d name %r language %#x' % key)
        return self.res[key]

    def test_only_the_icon_and_version_resources(self):
        kinds = sorted({(k, n) for k, n, _ in self.res if k != RT_ICON})
        self.assertEqual(kinds, [(RT_GROUP_ICON, 1), (RT_VERSION, 1)])
        self.assertEqual({lang for _, _, lang in self.res}, {self.lang})

    def test_fixed_file_info(self):
        fixed, _ = read_version_info(self.resource(RT_VERSION, 1))
        self.assertEqual(fixed['FileVersion'], self.version)
        self.assertEqual(fixed['ProductVersion'], self.version)
        self.assertEqual(fixed['FileType'], VFT_APP)
        self.assertEqual(fixed['FileOS'], VOS_NT_WINDOWS32)
        # A release: not marked debug, patched, pre-release or private.
        self.assertEqual(fixed['FileFlags'] & fixed['FileFlagsMask'], 0)

    def test_string_table_matches_the_program_description(self):
        _, blocks = read_version_info(self.resource(RT_VERSION, 1))
        self.assertEqual(sorted(blocks), ['StringFileInfo', 'VarFileInfo'])
        tables = blocks['StringFileInfo'].children
        self.assertEqual(len(tables), 1)
        table = tables[0]
        self.assertEqual(table.key.upper(), '%04X%04X' % (self.lang, self.want['kCodePage']))
        strings = {k: node.text() for k, node in table.child_map().items()}
        self.assertEqual(sorted(strings), sorted(VERSION_STRINGS))
        for key, constant in VERSION_STRINGS.items():
            with self.subTest(key):
                self.assertEqual(strings[key], self.want[constant])

    def test_version_strings_agree_with_the_fixed_numbers(self):
        fixed, blocks = read_version_info(self.resource(RT_VERSION, 1))
        table = blocks['StringFileInfo'].children[0].child_map()
        for key in ('FileVersion', 'ProductVersion'):
            with self.subTest(key):
                major, minor = table[key].text().split('.')
                self.assertEqual((int(major), int(minor)), fixed[key][:2])

    def test_translation(self):
        _, blocks = read_version_info(self.resource(RT_VERSION, 1))
        var = blocks['VarFileInfo'].child_map()
        self.assertEqual(sorted(var), ['Translation'])
        self.assertFalse(var['Translation'].is_text)
        self.assertEqual(struct.unpack('<HH', var['Translation'].value),
                         (self.want['kLocale'], self.want['kCodePage']))

    def test_icon_group_order(self):
        entries = read_group_icon(self.resource(RT_GROUP_ICON, 1))
        self.assertEqual([(e[0], e[1], e[4]) for e in entries],
                         [(s, s, d) for d in ICON_DEPTHS for s in ICON_SIZES])
        for w, h, colours, planes, bits, _, _ in entries:
            with self.subTest(size=w, bits=bits):
                self.assertEqual(colours, 1 << bits if bits < 8 else 0)
                self.assertEqual(planes, 1)

    def test_every_group_entry_is_its_icon(self):
        entries = read_group_icon(self.resource(RT_GROUP_ICON, 1))
        ico_images = read_ico_images(read(src('assets', 'icon', 'tibrok.ico')))
        self.assertEqual(len(ico_images), len(entries))
        ids = [e[6] for e in entries]
        self.assertEqual(len(set(ids)), len(ids), 'icon ids repeat')
        self.assertEqual(sorted(n for k, n, _ in self.res if k == RT_ICON), sorted(ids),
                         'icons outside the group, or group entries without an icon')
        for (w, h, _, _, bits, size, ident), from_ico in zip(entries, ico_images):
            with self.subTest(size=w, bits=bits):
                image = self.resource(RT_ICON, ident)
                self.assertEqual(len(image), size)
                hdr_size, width, height, planes, bitcount = struct.unpack_from('<IiiHH', image)
                self.assertEqual(hdr_size, BITMAPINFOHEADER_SIZE)
                # The height counts the colour rows and the mask rows.
                self.assertEqual((width, height, planes, bitcount), (w, 2 * h, 1, bits))
                self.assertEqual(len(image), dib_size(w, h, bits))
                self.assertEqual(image, from_ico, 'differs from the image in tibrok.ico')


class ReaderRejectsDamage(unittest.TestCase):
    """The reader must fail on broken input, or a broken .res could pass."""

    @classmethod
    def setUpClass(cls):
        cls.raw = compiled_res()
        cls.version = next(body for (kind, _, _), body in read_res(cls.raw).items()
                           if kind == RT_VERSION)

    def test_broken_res_files(self):
        raw = self.raw
        header_size = struct.unpack_from('<I', raw, 36)[0]
        cases = {
            'truncated': raw[:-1],
            'no leading entry': raw[32:],
            'header size off by four': raw[:36] + struct.pack('<I', header_size + 4) + raw[40:],
            'size past the end': raw[:32] + struct.pack('<I', len(raw)) + raw[36:],
        }
        for name, data in cases.items():
            with self.subTest(name), self.assertRaises(ResError):
                read_res(data)

    def test_broken_version_blocks(self):
        body = self.version
        sig = body.index(struct.pack('<I', VS_FIXEDFILEINFO_SIGNATURE))
        cases = {
            'bad signature': body[:sig] + b'\0\0\0\0' + body[sig + 4:],
            'root longer than the data': struct.pack('<H', len(body) + 4) + body[2:],
            'trailing bytes': body + b'\0\0\0\0',
            'fixed info too short': body[:2] + struct.pack('<H', 48) + body[4:],
        }
        for name, data in cases.items():
            with self.subTest(name), self.assertRaises(ResError):
                read_version_info(data)

    def test_string_without_terminator(self):
        body = bytearray(self.version)
        # Overwrite the NUL that ends the CompanyName value.
        key = 'CompanyName\0'.encode('utf-16-le')
        at = body.index(key) + len(key)
        at = align4(at)
        while body[at:at + 2] != b'\0\0':
            at += 2
        body[at:at + 2] = 'x'.encode('utf-16-le')
        _, blocks = read_version_info(bytes(body))
        table = blocks['StringFileInfo'].children[0].child_map()
        with self.assertRaises(ResError):
            table['CompanyName'].text()


class DescriptionReader(unittest.TestCase):
    def test_reads_strings_and_numbers(self):
        text = ('inline constexpr char kA[] = "x y.exe";\n'
                'inline constexpr int kB = 0x04B0;\ninline constexpr int kC = 12;\n')
        self.assertEqual(read_description(text), {'kA': 'x y.exe', 'kB': 0x4B0, 'kC': 12})

    def test_project_version(self):
        self.assertEqual(project_version('project(X VERSION 2.3.4 LANGUAGES CXX)'), (2, 3, 4, 0))
        self.assertEqual(project_version('project(X\n  VERSION 1.2.3.5)'), (1, 2, 3, 5))
        with self.assertRaises(ResError):
            project_version('project(X LANGUAGES CXX)')


if __name__ == '__main__':
    if len(sys.argv) < 2:
        sys.exit('usage: check_windows_resources.py SRC_DIR [unittest args]')
    SRC = os.path.abspath(sys.argv.pop(1))
    unittest.main()

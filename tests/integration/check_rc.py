#!/usr/bin/env python3
"""Checks the Windows resource script's icon and version details.

    check_rc.py SRC_DIR

The script is parsed the way the resource compiler reads it (numeric
#defines, comments, BEGIN/END or braces, expressions in constants), so a value
that only looks right in the text but would compile to something else fails.
"""

import os
import re
import sys
import unittest

SRC = None  # set from the command line
RC_PATH = ('app', 'tibrok-flv-player.rc')

TOKEN = re.compile(r'''\s+|//[^\n]*|/\*.*?\*/|^[ \t]*\#[^\n]*
                       |(?P<str>"(?:[^"]|"")*")|(?P<num>0[xX][0-9a-fA-F]+[lL]?|\d+[lL]?)
                       |(?P<word>[A-Za-z_][A-Za-z0-9_]*)|(?P<op>[,|+(){}~-])''',
                   re.S | re.M | re.X)


class RcError(Exception):
    pass


def tokenize(text, macros):
    pos, out = 0, []
    for m in TOKEN.finditer(text):
        if m.start() != pos:
            raise RcError('unexpected text: %r' % text[pos:m.start() + 10])
        pos = m.end()
        line = m.group(0).strip()
        if line.startswith('#'):
            d = line.split(None, 2)
            if d[0] != '#define' or len(d) != 3:
                raise RcError('unsupported directive: ' + line)
            macros[d[1]] = tokenize(d[2], macros)
        elif m.group('str'):
            out.append(('str', m.group('str')[1:-1].replace('""', '"')))
        elif m.group('num'):
            out.append(('num', int(m.group('num').rstrip('lL'), 0)))
        elif m.group('word'):
            w = m.group('word')
            out.extend(macros.get(w, [('word', {'BEGIN': '{', 'END': '}'}.get(w, w))]))
        elif m.group('op'):
            op = m.group('op')
            out.append(('op', op) if op not in '{}' else ('word', op))
    if pos != len(text):
        raise RcError('unexpected text at end')
    return out


class Parser:
    def __init__(self, tokens):
        self.t, self.i = tokens, 0

    def peek(self):
        return self.t[self.i] if self.i < len(self.t) else (None, None)

    def take(self, kind=None, value=None):
        tok = self.peek()
        if tok[0] is None or (kind and tok[0] != kind) or (value and tok[1] != value):
            raise RcError('expected %s %s, got %r' % (kind, value, tok))
        self.i += 1
        return tok[1]

    def number(self):
        # The resource compiler's constants: +, -, |, ~ and parentheses.
        v = self.operand()
        while self.peek()[0] == 'op' and self.peek()[1] in '|+-':
            op, rhs = self.take(), self.operand()
            v = v | rhs if op == '|' else v + rhs if op == '+' else v - rhs
        return v

    def operand(self):
        if self.peek() == ('op', '('):
            self.take()
            v = self.number()
            self.take('op', ')')
            return v
        if self.peek() == ('op', '~'):
            self.take()
            return ~self.operand()
        return self.take('num')

    def values(self):
        vals = [self.take() if self.peek()[0] == 'str' else self.number()]
        while self.peek() == ('op', ','):
            self.take()
            vals.append(self.take() if self.peek()[0] == 'str' else self.number())
        return vals

    def block(self):
        """{ BLOCK "name" {...} | VALUE "name", v... } -> {name: dict or list}."""
        self.take('word', '{')
        items = {}
        while self.peek() != ('word', '}'):
            keyword = self.take('word')
            name = self.take('str')
            if name in items:
                raise RcError('duplicate ' + name)
            if keyword == 'BLOCK':
                items[name] = self.block()
            elif keyword == 'VALUE':
                self.take('op', ',')
                items[name] = self.values()
            else:
                raise RcError('unknown statement ' + keyword)
        self.take('word', '}')
        return items

    def resources(self):
        res = {}
        while self.peek()[0] is not None:
            name = self.number() if self.peek()[0] == 'num' else self.take('word')
            kind = self.take('word')
            if kind == 'ICON':
                res[(kind, name)] = self.take('str')
            elif kind == 'VERSIONINFO':
                fixed = {}
                while self.peek() != ('word', '{'):
                    key = self.take('word')
                    fixed[key] = self.values()
                res[(kind, name)] = (fixed, self.block())
            else:
                raise RcError('unsupported resource type ' + kind)
        return res


def parse_rc(text):
    return Parser(tokenize(text, {})).resources()


class ParserRejectsWhatRcWould(unittest.TestCase):
    def test_broken_scripts(self):
        for bad in ['1 ICON', '1 VERSIONINFO FILEVERSION 1 BEGIN VALUE "A" "b" END',
                    '1 VERSIONINFO BEGIN BLOCK "x" BEGIN END', '#include <winver.h>\n1 ICON "a"',
                    '1 ICON "a" @']:
            with self.subTest(bad), self.assertRaises(RcError):
                parse_rc(bad)


class ApplicationResources(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        path = os.path.join(SRC, *RC_PATH)
        with open(path, 'rb') as f:
            raw = f.read()
        cls.ascii = all(b < 128 for b in raw)
        cls.res = parse_rc(raw.decode('latin-1'))
        cls.fixed, cls.body = cls.res[('VERSIONINFO', 1)]

    def test_plain_ascii(self):
        self.assertTrue(self.ascii)

    def test_icon_points_at_the_icon_file(self):
        icon = self.res[('ICON', 1)]
        path = os.path.join(SRC, RC_PATH[0], *icon.split('/'))
        with open(path, 'rb') as f:
            self.assertEqual(f.read(4), b'\0\0\1\0', icon + ' is not an icon file')

    def test_fixed_info(self):
        f = self.fixed
        self.assertEqual(f['FILEVERSION'], [1, 0, 0, 0])
        self.assertEqual(f['PRODUCTVERSION'], [1, 0, 0, 0])
        self.assertEqual(f['FILETYPE'], [0x1])  # application
        self.assertIn(f['FILEOS'], ([0x40004], [0x4]))  # 32-bit Windows (on NT)

    def test_strings(self):
        self.assertEqual(list(self.body['StringFileInfo']), ['040904B0'])
        strings = self.body['StringFileInfo']['040904B0']
        self.assertEqual(strings, {
            'CompanyName': ['ZoriruVozuvozuzero'], 'ProductName': ['Tibrok flv player'],
            'FileVersion': ['1.00'], 'ProductVersion': ['1.00'],
            'InternalName': ['Tibrok flv player'],
            'OriginalFilename': ['Tibrok flv player.exe'],
            'FileDescription': ['Tibrok flv player']})
        for key in ('FileVersion', 'ProductVersion'):
            major, minor = (int(p) for p in strings[key][0].split('.'))
            self.assertEqual([major, minor], self.fixed[key.upper()][:2])

    def test_translation_names_the_string_block(self):
        lang, codepage = self.body['VarFileInfo']['Translation']
        self.assertEqual((lang, codepage), (0x409, 0x4B0))
        self.assertIn('%04X%04X' % (lang, codepage), self.body['StringFileInfo'])


if __name__ == '__main__':
    if len(sys.argv) < 2:
        sys.exit('usage: check_rc.py SRC_DIR [unittest args]')
    SRC = os.path.abspath(sys.argv.pop(1))
    unittest.main()

#!/usr/bin/env python3
"""check_layering.py against small made-up trees: it must name a cycle among
the files of one folder (through a .h or a .cpp), and must not take a chain
within a folder, or a file of the same name in another folder, for one."""
import os
import subprocess
import sys
import tempfile

checker = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'check_layering.py')


def run(files):
    with tempfile.TemporaryDirectory() as root:
        for path, includes in files.items():
            os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
            with open(os.path.join(root, path), 'w', encoding='utf-8') as out:
                out.write(''.join(f'#include "{name}"\n' for name in includes))
        done = subprocess.run([sys.executable, checker, root], capture_output=True, text=True)
        return done.returncode, done.stdout


failures = []


def expect(name, files, code, needle=None):
    got, output = run(files)
    if got != code or (needle and needle not in output):
        failures.append(f'{name}: exit {got}, wanted {code} and {needle!r}:\n{output}')


# a.h -> b.h, b.cpp -> a.h: the units a and b reach each other.
expect('cycle through a .cpp', {
    'components/net/a.h': ['net/b.h'],
    'components/net/a.cpp': ['net/a.h'],
    'components/net/b.h': [],
    'components/net/b.cpp': ['net/b.h', 'net/a.h'],
}, 1, 'file cycle in components/net: a -> b -> a')
expect('three units in a ring', {
    'components/media/flv/x.h': ['media/flv/y.h'],
    'components/media/flv/y.h': ['media/flv/z.h'],
    'components/media/flv/z.h': [],
    'components/media/flv/z.cpp': ['media/flv/x.h'],
}, 1, 'x -> y -> z -> x')
expect('a chain, each unit including its own header', {
    'components/net/a.h': ['net/b.h'],
    'components/net/a.cpp': ['net/a.h', 'net/b.h'],
    'components/net/b.h': [],
    'components/net/b.cpp': ['net/b.h'],
}, 0)
# media/flv's walker and media/mp4's walker are different units.
expect('same name, other folder', {
    'components/media/flv/walker.h': [],
    'components/media/flv/walker.cpp': ['media/flv/walker.h'],
    'components/media/mp4/walker.h': ['media/flv/walker.h'],
    'components/media/mp4/walker.cpp': ['media/mp4/walker.h'],
}, 0)

for failure in failures:
    print(failure)
sys.exit(1 if failures else 0)

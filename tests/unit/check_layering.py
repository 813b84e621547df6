#!/usr/bin/env python3
"""The folders of the program depend one way.

Reads every #include "..." of the production code, maps the including file
and the included one to their folders, and fails when the folders' graph has
a cycle, when an include names no folder, when a folder reaches one it must
not (ALLOWED below), or when anything but the engine sees libmpv.

Inside a folder, the files depend one way too: a file's .h and .cpp are one
unit (its path without the extension), and a cycle among the units of one
folder fails, named file by file.
"""
import os
import re
import sys

root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', '..')
root = os.path.abspath(root)

# What each folder may include besides itself. Adding an edge here is a
# design decision: say why in the commit.
ALLOWED = {
    'base': set(),
    'net': set(),
    'interfaces': set(),
    'media/flv': set(),
    # The MP4 reader shares the FLV reader's byte sources and text formats;
    # the Matroska view is made from the FLV reader's tags.
    'media/mp4': {'media/flv'},
    'media/mkv': {'media/flv'},
    'media': {'media/flv', 'media/mp4', 'media/mkv', 'net'},
    'engine': {'media', 'media/flv', 'media/mkv', 'net'},
    'player_model': {'media', 'media/flv'},
    'player_ui': {'player_model', 'media', 'media/flv'},
    'player': {'player_model', 'player_ui', 'engine', 'media', 'media/flv', 'media/mp4', 'interfaces',
               'base', 'net'},
    'desktop': {'player_model', 'media', 'base'},
    'qt': {'interfaces', 'media'},
    'assets': set(),
    'about_box': {'interfaces', 'qt', 'assets'},
    'player_window': {'interfaces', 'qt', 'assets'},
    'app': None,  # the composition root: anything
}


def folder_of(path):
    parts = path.split('/')
    if parts[0] == 'components':
        parts = parts[1:]
    if parts[:2] in (['media', 'flv'], ['media', 'mp4'], ['media', 'mkv']):
        return '/'.join(parts[:2])
    return parts[0] if len(parts) > 1 else None


include = re.compile(r'^\s*#\s*include\s+([<"])([^>"]+)[>"]', re.M)
errors = []
edges = {}
# Within one folder: unit -> the units of the same folder it includes.
unit_edges = {}
for top in ['components', 'app', 'player_window', 'about_box', 'assets']:
    for dirpath, _, names in os.walk(os.path.join(root, top)):
        for name in names:
            if not name.endswith(('.h', '.cpp')):
                continue
            rel = os.path.relpath(os.path.join(dirpath, name), root)
            here = folder_of(rel)
            unit = os.path.splitext(rel)[0]
            unit_edges.setdefault(unit, set())
            text = open(os.path.join(root, rel), encoding='utf-8').read()
            for kind, target in include.findall(text):
                if kind == '<':
                    if target.startswith('mpv/') and here != 'engine':
                        errors.append(f'{rel}: only the engine sees libmpv ({target})')
                    continue
                if target.endswith('.moc'):
                    continue
                there = folder_of(target)
                if there is None or not os.path.exists(
                        os.path.join(root, 'components', target)) and not os.path.exists(
                        os.path.join(root, target)):
                    errors.append(f'{rel}: include "{target}" does not name its folder')
                    continue
                if there == here:
                    target_path = target if os.path.exists(os.path.join(root, target)) else (
                        'components/' + target)
                    other = os.path.splitext(target_path)[0]
                    if other != unit and os.path.dirname(other) == os.path.dirname(unit):
                        unit_edges[unit].add(other)
                    continue
                edges.setdefault(here, set()).add(there)
                allowed = ALLOWED.get(here, set())
                if allowed is not None and there not in allowed:
                    errors.append(f'{rel}: {here} may not include {there} ("{target}")')

# A cycle among folders, whatever ALLOWED says.
state = {}


def visit(node, stack):
    state[node] = 1
    for nxt in sorted(edges.get(node, ())):
        if state.get(nxt) == 1:
            errors.append('folder cycle: ' + ' -> '.join(stack + [node, nxt]))
        elif nxt not in state:
            visit(nxt, stack + [node])
    state[node] = 2


for node in sorted(edges):
    if node not in state:
        visit(node, [])



def strong_components(graph):
    """Tarjan's, without recursion: the sets of nodes that reach each other."""
    index, low, on_stack, stack, found = {}, {}, set(), [], []
    counter = 0
    for start in sorted(graph):
        if start in index:
            continue
        work = [(start, iter(sorted(graph.get(start, ()))))]
        index[start] = low[start] = counter
        counter += 1
        stack.append(start)
        on_stack.add(start)
        while work:
            node, successors = work[-1]
            advanced = False
            for nxt in successors:
                if nxt not in index:
                    index[nxt] = low[nxt] = counter
                    counter += 1
                    stack.append(nxt)
                    on_stack.add(nxt)
                    work.append((nxt, iter(sorted(graph.get(nxt, ())))))
                    advanced = True
                    break
                if nxt in on_stack:
                    low[node] = min(low[node], index[nxt])
            if advanced:
                continue
            work.pop()
            if work:
                low[work[-1][0]] = min(low[work[-1][0]], low[node])
            if low[node] == index[node]:
                component = set()
                while True:
                    member = stack.pop()
                    on_stack.discard(member)
                    component.add(member)
                    if member == node:
                        break
                found.append(component)
    return found


def cycle_in(graph, component):
    """One cycle through the component's first unit, as a list of units."""
    start = min(component)
    paths = {start: [start]}
    queue = [start]
    while queue:
        node = queue.pop(0)
        for nxt in sorted(graph.get(node, ())):
            if nxt == start:
                return paths[node] + [start]
            if nxt in component and nxt not in paths:
                paths[nxt] = paths[node] + [nxt]
                queue.append(nxt)
    return sorted(component)


# A cycle among the files of one folder: the units cannot be read, built or
# replaced one at a time.
for component in strong_components(unit_edges):
    if len(component) > 1:
        units = cycle_in(unit_edges, component)
        others = len(component) - len(set(units))
        errors.append('file cycle in ' + os.path.dirname(units[0]) + ': ' +
                      ' -> '.join(os.path.basename(u) for u in units) +
                      (f' (and {others} more units in the same knot)' if others else ''))

for error in errors:
    print(error)
print('folders:', ', '.join(f'{k} -> {{{", ".join(sorted(v))}}}' for k, v in sorted(edges.items())))
sys.exit(1 if errors else 0)

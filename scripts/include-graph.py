#!/usr/bin/python3
"""The source tree's include graph by folder: prints each folder's arrows and
fails (status 1) on a cycle between folders of the library and the tool, on
a file-level cycle anywhere, or on a private api/ header included from
outside api/. The module's folders reach host/ both ways by design (its entry
on top, its run-time at the bottom): host/runtime.h and host/hostConversions.h
count as a folder of their own, "host-runtime"."""
import os
import re
import sys

ROOT = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..'))
FOLDERS = ['api', 'common', 'description', 'formats', 'builtins', 'cli', 'bridges/lua', 'python/src',
           'model', 'codegen', 'membership', 'numeric', 'host']
INCLUDE_DIRS = ['', 'api/include', 'orvane/include', 'bridges/lua/include']
HOST_RUNTIME = {'host/runtime.h', 'host/hostConversions.h', 'host/hostConversions.cpp'}


def folder_of(path):
    if path.startswith('api/include/'):
        return 'api-public'
    if path.startswith('orvane/'):
        return 'orvane'
    if path in HOST_RUNTIME:
        return 'host-runtime'
    for f in FOLDERS:
        if path.startswith(f + '/'):
            return f
    return path.split('/')[0]


def reach(graph, start):
    seen, todo = set(), [start]
    while todo:
        for nxt in graph.get(todo.pop(), ()):
            if nxt not in seen:
                seen.add(nxt)
                todo.append(nxt)
    return seen


files = []
for folder in FOLDERS:
    for dirpath, _, names in os.walk(os.path.join(ROOT, folder)):
        files += [os.path.relpath(os.path.join(dirpath, n), ROOT) for n in names if n.endswith(('.cpp', '.h'))]
file_graph, folder_graph = {}, {}
for f in files:
    with open(os.path.join(ROOT, f), errors='replace') as text:
        for line in text:
            m = re.match(r'\s*#\s*include\s*[<"]([^">]+)[">]', line)
            if not m:
                continue
            for base in [os.path.dirname(f)] + INCLUDE_DIRS:
                target = os.path.normpath(os.path.join(base, m.group(1)))
                if os.path.isfile(os.path.join(ROOT, target)):
                    file_graph.setdefault(f, set()).add(target)
                    if folder_of(f) != folder_of(target):
                        folder_graph.setdefault(folder_of(f), set()).add(folder_of(target))
                    break
for folder in sorted(folder_graph):
    print(folder, '->', ' '.join(sorted(folder_graph[folder])))
problems = []
problems += ['folder cycle: %s <-> %s' % (a, b) for a in folder_graph for b in folder_graph[a]
             if a < b and a in reach(folder_graph, b)]
problems += ['file cycle through %s' % f for f in file_graph if f in reach(file_graph, f)]
problems += ['%s includes the private %s' % (f, t) for f in file_graph for t in file_graph[f]
             if folder_of(t) == 'api' and folder_of(f) != 'api']
for p in problems:
    print(p, file=sys.stderr)
sys.exit(1 if problems else 0)

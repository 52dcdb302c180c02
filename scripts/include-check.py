#!/usr/bin/env python3
"""Checks the include graph of the program's folders: a folder includes only its own files and
those of lower floors, and no two files include each other (directly or round a longer loop)."""
import os
import re
import sys

# Lowest first; a folder may include its own floor and the floors below.
FLOORS = [["core"], ["db", "link"], ["models"], ["dialogs"], ["import"], ["app"]]
# Callers above every floor: they may include anything but are never included.
TOP = ["tools", "bench", "tests"]

root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
floor_of = {d: i for i, ds in enumerate(FLOORS) for d in ds}
include_re = re.compile(r'^\s*#\s*include\s+"([^"]+)"')

graph = {}
for top in list(floor_of) + TOP:
    for dirpath, _, files in os.walk(os.path.join(root, top)):
        for name in files:
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.relpath(os.path.join(dirpath, name), root)
            with open(os.path.join(root, path), encoding="utf-8") as f:
                graph[path] = [m.group(1) for m in map(include_re.match, f) if m]

problems = []
for path, includes in sorted(graph.items()):
    folder = path.split(os.sep)[0]
    for inc in includes:
        target = inc.split("/")[0]
        if "/" not in inc or target not in floor_of and target not in TOP:
            continue  # generated (ui_*.h, *.moc) or a sibling of the tests' own folders
        if target in TOP:
            problems.append(f"{path} includes {inc}: nothing includes {target}/")
        elif folder in floor_of and floor_of[target] > floor_of[folder]:
            problems.append(f"{path} includes {inc}: {target}/ is above {folder}/")

# Loops among the project's own headers and sources (a .cpp counts as its header's file).
def unit(path):
    return re.sub(r"\.(h|cpp)$", "", path)

edges = {}
for path, includes in graph.items():
    for inc in includes:
        if inc in graph and unit(inc) != unit(path):
            edges.setdefault(unit(path), set()).add(unit(inc))

state = {}
def visit(node, trail):
    state[node] = 1
    for nxt in sorted(edges.get(node, ())):
        if state.get(nxt) == 1:
            problems.append("loop: " + " -> ".join(trail[trail.index(nxt):] + [nxt]))
        elif nxt not in state:
            visit(nxt, trail + [nxt])
    state[node] = 2

for node in sorted(edges):
    if node not in state:
        visit(node, [node])

for p in problems:
    print(p)
print(f"{len(graph)} files, {sum(map(len, edges.values()))} links between them, {len(problems)} problems")
sys.exit(1 if problems else 0)

#!/usr/bin/env python3
"""Holds the rule that the sources include each other without a circle.

A unit is a header with its source file (config/messages_win.h and .cpp are
one unit); a unit depends on every unit whose header it includes. Any set of
units that reach each other is printed and the check fails.

    scripts/check-include-cycles.py [--graph]   --graph also prints every edge
"""
import os
import re
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
TREES = ["src", "tools/kernopack"]
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def units():
    """{unit: set of units it includes}, units named by path from ROOT."""
    files = {}
    for tree in TREES:
        for directory, _, names in os.walk(os.path.join(ROOT, tree)):
            for name in names:
                if name.endswith((".h", ".cpp")):
                    path = os.path.relpath(os.path.join(directory, name), ROOT)
                    files[path] = directory
    graph = {os.path.splitext(p)[0]: set() for p in files}
    for path, directory in files.items():
        unit = os.path.splitext(path)[0]
        with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as f:
            text = f.read()
        for included in INCLUDE.findall(text):
            # Beside the including file first, then from src/, as the build does.
            for base in (directory, os.path.join(ROOT, "src")):
                target = os.path.relpath(os.path.join(base, included), ROOT)
                if target in files:
                    dep = os.path.splitext(target)[0]
                    if dep != unit:
                        graph[unit].add(dep)
                    break
    return graph


def circles(graph):
    """Strongly connected sets of more than one unit (Tarjan, iterative)."""
    index, low, stack, on_stack, found = {}, {}, [], set(), []
    counter = 0
    for root in sorted(graph):
        if root in index:
            continue
        work = [(root, iter(sorted(graph[root])))]
        index[root] = low[root] = counter
        counter += 1
        stack.append(root)
        on_stack.add(root)
        while work:
            node, children = work[-1]
            child = next(children, None)
            if child is not None:
                if child not in index:
                    index[child] = low[child] = counter
                    counter += 1
                    stack.append(child)
                    on_stack.add(child)
                    work.append((child, iter(sorted(graph[child]))))
                elif child in on_stack:
                    low[node] = min(low[node], index[child])
                continue
            work.pop()
            if work:
                low[work[-1][0]] = min(low[work[-1][0]], low[node])
            if low[node] == index[node]:
                members = []
                while True:
                    top = stack.pop()
                    on_stack.discard(top)
                    members.append(top)
                    if top == node:
                        break
                if len(members) > 1:
                    found.append(sorted(members))
    return found


def main():
    if any(a in ("-h", "--help") for a in sys.argv[1:]):
        print(__doc__.strip())
        return 0
    graph = units()
    if "--graph" in sys.argv[1:]:
        for unit in sorted(graph):
            for dep in sorted(graph[unit]):
                print(f"{unit} -> {dep}")
    found = circles(graph)
    for members in found:
        print(f"include circle of {len(members)} units: " + " ".join(members), file=sys.stderr)
    if found:
        return 1
    print(f"include graph: no circle ({len(graph)} units)")
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Holds the include rules of the sources: layers that read top-down, and no
circle among units.

The folders of src/ are layers, from the top down:

    startup > service > launch > jvm > files > config > common

An include may point to the same layer or down the stack, never up. The
packer (tools/kernopack) sits above them all, with layers of its own:

    kernopack (main.cpp) > msi, import > description > image > io

It and may include the pure code of
src/ (and, from its own *_win glue, the glue of src/ too); nothing in src/
may include tools/. A unit is a header with its source file (config/messages_win.h
and .cpp are one unit); a unit depends on every unit whose header it
includes, and no set of units may reach each other.

    scripts/check-include-cycles.py [--graph] [--root DIR]
      --graph     also print every edge between units
      --root DIR  check the tree at DIR (default: this repository)
"""
import os
import re
import sys

# Folder, rank: a higher rank may include a lower one, never the reverse.
LAYERS = [
    ("tools/kernopack/msi", 12),
    ("tools/kernopack/import", 12),
    ("tools/kernopack/description", 11),
    ("tools/kernopack/image", 10),
    ("tools/kernopack/io", 9),
    ("tools/kernopack", 13),
    ("src/startup", 7),
    ("src/service", 6),
    ("src/launch", 5),
    ("src/jvm", 4),
    ("src/files", 3),
    ("src/config", 2),
    ("src/common", 1),
]
RANK = dict(LAYERS)
TREES = ["src", "tools/kernopack"]
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def layer_of(path):
    """The layer folder that holds path (from the root), or None."""
    for folder, _ in LAYERS:
        if path.startswith(folder + "/"):
            return folder
    return None


def is_glue(path):
    return os.path.splitext(path)[0].endswith("_win")


def scan(root):
    """({unit: set of units it includes}, [(file, line, target)]) for the tree
    at root; paths are relative to root."""
    files = {}
    for tree in TREES:
        for directory, _, names in os.walk(os.path.join(root, tree)):
            for name in names:
                if name.endswith((".h", ".cpp")):
                    path = os.path.relpath(os.path.join(directory, name), root)
                    files[path.replace(os.sep, "/")] = directory
    graph = {os.path.splitext(p)[0]: set() for p in files}
    includes = []
    for path, directory in sorted(files.items()):
        unit = os.path.splitext(path)[0]
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            lines = f.read().split("\n")
        for number, text in enumerate(lines, 1):
            match = INCLUDE.match(text)
            if not match:
                continue
            # Beside the including file first, then from src/ and from the
            # packer's top folder, as the build does; then from the root,
            # which no build offers, so that a way into tools/ is seen too.
            for base in (directory, os.path.join(root, "src"),
                         os.path.join(root, "tools/kernopack"), root):
                target = os.path.relpath(os.path.join(base, match.group(1)), root)
                target = target.replace(os.sep, "/")
                if os.path.isfile(os.path.join(root, target)):
                    includes.append((path, number, target))
                    dep = os.path.splitext(target)[0]
                    if dep in graph and dep != unit:
                        graph[unit].add(dep)
                    break
    return graph, includes


def layer_faults(includes):
    """One message for each include that breaks the order of the layers."""
    def order(tree):
        return " > ".join(folder.split("/")[-1] for folder, _ in
                          sorted(LAYERS, key=lambda layer: -layer[1]) if folder.startswith(tree))
    faults = []
    for path, number, target in includes:
        source, dest = layer_of(path), layer_of(target)
        where = f"{path}:{number}: includes {target}"
        if source is None:
            faults.append(f"{where}: {os.path.dirname(path)} is not in the layer table "
                          "(scripts/check-include-cycles.py, LAYERS)")
        elif dest is None:
            if target.startswith("src/") or target.startswith("tools/"):
                faults.append(f"{where}: {os.path.dirname(target)} is not in the layer table")
        elif source.startswith("src/") and dest.startswith("tools/"):
            faults.append(f"{where}: nothing in src/ may include the packer ({dest})")
        elif RANK[dest] > RANK[source]:
            faults.append(f"{where}: layer {source} (rank {RANK[source]}) may not include "
                          f"the higher layer {dest} (rank {RANK[dest]}); the order is "
                          f"{order(source.split('/')[0] + '/')}")
        elif RANK[dest] == RANK[source] and dest != source:
            faults.append(f"{where}: layers {source} and {dest} share rank {RANK[source]}: "
                          "neither may include the other")
        elif (source.startswith("tools/") and dest.startswith("src/") and is_glue(target)
              and not is_glue(path)):
            faults.append(f"{where}: the packer's pure code may include only the pure "
                          "code of src/ (its *_win glue may include src/ glue too)")
    return faults


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


def main(argv):
    if any(a in ("-h", "--help") for a in argv):
        print(__doc__.strip())
        return 0
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    if "--root" in argv:
        at = argv.index("--root")
        if at + 1 >= len(argv):
            print("--root needs a directory", file=sys.stderr)
            return 2
        root = argv[at + 1]
    graph, includes = scan(root)
    if "--graph" in argv:
        for unit in sorted(graph):
            for dep in sorted(graph[unit]):
                print(f"{unit} -> {dep}")
    faults = layer_faults(includes)
    for fault in faults:
        print(f"upward include: {fault}", file=sys.stderr)
    found = circles(graph)
    for members in found:
        print(f"include circle of {len(members)} units: " + " ".join(members), file=sys.stderr)
    if faults or found:
        return 1
    print(f"include graph: {len(graph)} units, every include points down the layers, no circle")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

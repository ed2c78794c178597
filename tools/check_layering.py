#!/usr/bin/env python3
"""Fails when a file under src/ includes a folder above its own, a sibling
folder of the same floor, or when headers include each other in a circle.

The floors, lowest first: what a folder may include is its own files and
those of the floors below it.
"""
import argparse
import os
import re
import sys

# Folder (longest prefix wins) -> floor.
FLOORS = {
    "format": 0,
    "common": 1,
    "store": 2,
    "output/pst": 2,
    "messaging": 3,
    "check": 4,
    "output": 4,
    "engine": 5,
    "cli": 6,
    "ui": 6,
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def folder_of(path):
    """The folder of FLOORS a path below src/ belongs to, or None."""
    best = None
    for folder in FLOORS:
        if path == folder or path.startswith(folder + "/"):
            if best is None or len(folder) > len(best):
                best = folder
    return best


def main(src):
    problems = []
    graph = {}
    for root, _, files in os.walk(src):
        for name in files:
            if not name.endswith((".h", ".cpp")):
                continue
            full = os.path.join(root, name)
            rel = os.path.relpath(full, src)
            own = folder_of(rel)
            with open(full, encoding="utf-8", errors="replace") as f:
                includes = INCLUDE.findall(f.read())
            graph[rel] = [i for i in includes if os.path.exists(os.path.join(src, i))]
            if own is None:
                continue
            for inc in includes:
                other = folder_of(inc)
                if other is None or other == own:
                    continue
                # output/mime and output share the output floor and folder.
                if own.startswith("output") and other.startswith("output") and FLOORS[own] == FLOORS[other]:
                    continue
                if FLOORS[other] >= FLOORS[own]:
                    problems.append(f"{rel}: includes {inc} ({other} is not below {own})")

    # Circles among the headers: a depth-first walk that meets a file it is
    # still inside of.
    state = {}

    def visit(node, trail):
        state[node] = 1
        trail.append(node)
        for nxt in graph.get(node, []):
            if state.get(nxt) == 1:
                problems.append("include circle: " + " -> ".join(trail[trail.index(nxt):] + [nxt]))
            elif nxt not in state:
                visit(nxt, trail)
        trail.pop()
        state[node] = 2

    for node in sorted(graph):
        if node not in state:
            visit(node, [])

    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] + " " + " ".join(__doc__.splitlines()[1:2]))
    parser.add_argument("src", nargs="?", default=os.path.join(os.path.dirname(__file__), "..", "src"),
                        help="the source folder to look through (default: the project's src/)")
    sys.exit(main(parser.parse_args().src))

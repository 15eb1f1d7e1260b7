#!/usr/bin/env python3
"""Fails when the libraries stop following their layers.

Checks three things against one table:
  - every #include "folder/..." of a library's source names a folder the
    library may use (its own, or one of a lower layer it is allowed);
  - every library's USES in CMakeLists.txt names only libraries it may use;
  - every unit (.cpp) in a library folder is listed in that library;
  - no header includes itself around a ring of headers.
Front-ends and libraries of the same layer may not use each other, so a
cycle between libraries cannot form.

  tools/check-layers.py [SOURCE_DIR]
"""
import os
import re
import sys

# folder -> folders (libraries) it may include from, besides its own
ALLOWED = {
    "platform": set(),
    "config": {"platform"},
    "backup": {"platform", "config"},
    "startup": {"platform", "config"},
    "online": {"platform", "config"},
    "engine": {"platform", "config", "backup", "startup", "online"},
    "app": {"platform", "config", "backup", "startup", "online", "engine"},
    "ui": {"platform", "config", "backup", "startup", "online", "engine", "app"},
    "cli": {"platform", "config", "backup", "startup", "online", "engine", "app"},
    # The tray program carries no engine: it starts postponed programs and the
    # main program, nothing more.
    "tray": {"platform", "config", "startup", "online"},
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([A-Za-z0-9_]+)/', re.M)


def check_includes(top):
    errors = []
    for folder, allowed in ALLOWED.items():
        base = os.path.join(top, folder)
        if not os.path.isdir(base):
            continue
        for root, _, files in os.walk(base):
            for name in sorted(files):
                if not name.endswith((".cpp", ".h", ".inc", ".rc")):
                    continue
                path = os.path.join(root, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    text = f.read()
                for m in INCLUDE.finditer(text):
                    target = m.group(1)
                    if target == folder or target not in ALLOWED:
                        continue
                    if target not in allowed:
                        line = text.count("\n", 0, m.start()) + 1
                        rel = os.path.relpath(path, top)
                        errors.append(f"{rel}:{line}: {folder} may not include {target}/ "
                                      f"(allowed: {', '.join(sorted(allowed)) or 'Win32 only'})")
    return errors


def cmake_libraries(top):
    """name -> (sources, uses) from every tovu_library(...) call of the tree."""
    libs = {}
    for root, dirs, files in os.walk(top):
        dirs[:] = [d for d in dirs if not d.startswith((".", "build"))]
        if "CMakeLists.txt" not in files:
            continue
        path = os.path.join(root, "CMakeLists.txt")
        text = open(path, encoding="utf-8").read()
        text = re.sub(r"#[^\n]*", "", text)
        for m in re.finditer(r"\btovu_library\(\s*([A-Za-z0-9_]+)(.*?)\)", text, re.S):
            words = m.group(2).split()
            sources, uses, mode = [], [], None
            for w in words:
                if w in ("SOURCES", "USES"):
                    mode = w
                elif mode == "SOURCES":
                    rel = os.path.relpath(os.path.join(root, w), top)
                    sources.append(rel.replace(os.sep, "/"))
                elif mode == "USES":
                    uses.append(w)
            libs[m.group(1)] = (sources, uses)
        # Units linked into every user of a library rather than kept in it.
        for m in re.finditer(r"\btarget_sources\(\s*([A-Za-z0-9_]+)\s+INTERFACE(.*?)\)", text, re.S):
            if m.group(1) in libs:
                for w in m.group(2).split():
                    w = w.replace("${CMAKE_SOURCE_DIR}/", "")
                    libs[m.group(1)][0].append(w)
    return libs


def program_sources(top):
    """Sources named by add_executable(...): a program's entry unit belongs
    to its program, not to a library."""
    found = set()
    for root, dirs, files in os.walk(top):
        dirs[:] = [d for d in dirs if not d.startswith((".", "build"))]
        if "CMakeLists.txt" not in files:
            continue
        text = open(os.path.join(root, "CMakeLists.txt"), encoding="utf-8").read()
        text = re.sub(r"#[^\n]*", "", text)
        for m in re.finditer(r"\badd_executable\(\s*[A-Za-z0-9_]+(.*?)\)", text, re.S):
            for w in m.group(1).split():
                if w.endswith(".cpp"):
                    found.add(os.path.relpath(os.path.join(root, w), top).replace(os.sep, "/"))
    return found


def check_cmake(top):
    errors = []
    libs = cmake_libraries(top)
    programs = program_sources(top)
    for name, (sources, uses) in libs.items():
        folder = name[len("tovu_"):] if name.startswith("tovu_") else name
        if folder not in ALLOWED:
            errors.append(f"CMake: library {name} has no layer in tools/check-layers.py")
            continue
        for used in uses:
            if not used.startswith("tovu_"):
                continue  # a system library
            target = used[len("tovu_"):]
            if target == folder or target not in ALLOWED[folder]:
                errors.append(f"CMake: {name} may not use {used}")
        listed = set(sources) | programs
        base = os.path.join(top, folder)
        for root, _, files in os.walk(base):
            for f in files:
                if f.endswith(".cpp"):
                    rel = os.path.relpath(os.path.join(root, f), top).replace(os.sep, "/")
                    if rel not in listed:
                        errors.append(f"CMake: {rel} is in no library (list it in {name})")
    return errors


def check_header_cycles(top):
    """Headers that include each other, directly or around a ring."""
    graph = {}
    for folder in ALLOWED:
        base = os.path.join(top, folder)
        if not os.path.isdir(base):
            continue
        for name in os.listdir(base):
            if name.endswith((".h", ".inc")):
                text = open(os.path.join(base, name), encoding="utf-8", errors="replace").read()
                graph[f"{folder}/{name}"] = re.findall(r'^\s*#\s*include\s+"([A-Za-z0-9_]+/[A-Za-z0-9_]+\.(?:h|inc))"',
                                                       text, re.M)
    errors, state = [], {}

    def visit(node, path):
        state[node] = 1
        for nxt in graph.get(node, []):
            if state.get(nxt) == 1:
                ring = path[path.index(nxt):] + [nxt]
                errors.append("include cycle: " + " -> ".join(ring))
            elif nxt in graph and not state.get(nxt):
                visit(nxt, path + [nxt])
        state[node] = 2

    for node in sorted(graph):
        if not state.get(node):
            visit(node, [node])
    return errors


def main():
    top = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                          os.path.join(os.path.dirname(__file__), ".."))
    errors = check_includes(top) + check_cmake(top) + check_header_cycles(top)
    for e in errors:
        print(e)
    if errors:
        print(f"layer check: {len(errors)} problem(s)")
        return 1
    print("layer check: every include and library follows its layer")
    return 0


if __name__ == "__main__":
    sys.exit(main())

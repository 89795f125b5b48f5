#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Compares the dynamic symbols libklv exports with what the public headers
declare, so that a symbol exported by accident (a helper that only a private
header declares, a class that should stay inside) fails the build.

Usage: check_exports.py LIBRARY INCLUDE_DIR

A symbol is declared when it is a function or variable marked KLV_API in a
header under INCLUDE_DIR/klv, or belongs to a class marked KLV_API there
(members, vtable, typeinfo). Instantiations of the standard library's
templates, which the compiler emits with default visibility, are skipped."""
import re
import subprocess
import sys
from pathlib import Path


def strip_comments(text):
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    return re.sub(r"//[^\n]*", " ", text)


def declarations(include_dir):
    classes, names = set(), set()
    for header in sorted(Path(include_dir, "klv").glob("*.h")):
        text = strip_comments(header.read_text())
        for m in re.finditer(r"\b(?:class|struct)\s+KLV_API\s+(\w+)", text):
            classes.add(m.group(1))
        # Everything from KLV_API to the declaration's end: the name is the
        # last identifier before the first '(' (functions) or before ';'.
        for m in re.finditer(r"\bKLV_API\b([^;{]*)", text):
            decl = m.group(1)
            if re.match(r"\s*\w+\s*[:{]", decl) and "(" not in decl:
                continue  # a class head
            head = decl.split("(", 1)[0]
            ids = re.findall(r"[A-Za-z_]\w*", head)
            if ids:
                names.add(ids[-1])
    return classes, names


def split_top(text, sep):
    """Splits at sep outside <...> and (...)."""
    parts, depth, cur, i = [], 0, "", 0
    while i < len(text):
        c = text[i]
        if c in "<(":
            depth += 1
        elif c in ">)":
            depth -= 1
        if depth == 0 and text.startswith(sep, i):
            parts.append(cur)
            cur = ""
            i += len(sep)
            continue
        cur += c
        i += 1
    parts.append(cur)
    return parts


def components(symbol):
    """The scope components of a demangled name, without template arguments,
    parameters or return type."""
    for prefix in ("vtable for ", "typeinfo name for ", "typeinfo for ", "VTT for ",
                   "guard variable for ", "non-virtual thunk to ", "virtual thunk to "):
        if symbol.startswith(prefix):
            symbol = symbol[len(prefix):]
    if symbol.startswith("construction vtable for "):
        symbol = symbol[len("construction vtable for "):].split("-in-")[-1]
    # Cut the parameter list: the first '(' outside template arguments.
    depth = 0
    for i, c in enumerate(symbol):
        if c == "<":
            depth += 1
        elif c == ">":
            depth -= 1
        elif c == "(" and depth == 0 and not symbol[:i].endswith("operator"):
            symbol = symbol[:i]
            break
    symbol = split_top(symbol.strip(), " ")[-1]  # drop a return type
    parts = []
    for p in split_top(symbol, "::"):
        p = re.sub(r"\[abi:\w+\]", "", p)
        p = re.sub(r"<.*>$", "", p)
        parts.append(p.strip())
    return parts


def main():
    library, include_dir = sys.argv[1], sys.argv[2]
    classes, names = declarations(include_dir)
    out = subprocess.run(["nm", "-D", "--defined-only", "-C", library], check=True,
                         capture_output=True, text=True).stdout
    stray = []
    for line in out.splitlines():
        fields = line.split(" ", 2)
        if len(fields) < 3:
            continue
        symbol = fields[2]
        if symbol in ("_init", "_fini") or re.match(r"^(\w+ )*(std|__gnu_cxx|__cxxabiv1)::", symbol):
            continue
        if re.match(r"^(vtable|typeinfo|typeinfo name|VTT) for (std|__gnu_cxx)::", symbol):
            continue
        parts = components(symbol)
        if parts and parts[0] in ("std", "__gnu_cxx"):
            continue
        if any(p in classes for p in parts) or (parts and parts[-1] in names):
            continue
        stray.append(symbol)
    if stray:
        print("exported but declared in no public header (mark it hidden, or declare it "
              "in include/klv with KLV_API):")
        for s in sorted(set(stray)):
            print("  " + s)
        return 1
    print(f"{len(out.splitlines())} exported symbols, all declared in include/klv")
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Checks the public headers under INCLUDE_DIR/klv:
- every header that klv/klv.h reaches is a C header: it compiles alone as C11;
- klv/klv.h compiled as C++ pulls in no C++ standard library header;
- every header, C or C++, compiles alone as C++20 (it is self-contained).

Usage: check_headers.py INCLUDE_DIR C_COMPILER CXX_COMPILER"""
import re
import subprocess
import sys
from pathlib import Path


def reached(include_dir, name, seen):
    if name in seen:
        return seen
    seen.add(name)
    text = Path(include_dir, "klv", name).read_text()
    for m in re.finditer(r'#\s*include\s+"klv/([\w.]+)"', text):
        reached(include_dir, m.group(1), seen)
    return seen


def compile_one(compiler, lang, std, include_dir, header, extra=()):
    cmd = [compiler, "-x", lang, f"-std={std}", "-Wall", "-Wextra", "-Werror", "-fsyntax-only",
           f"-I{include_dir}", *extra, "-"]
    return subprocess.run(cmd, input=f'#include "klv/{header}"\n', capture_output=True,
                          text=True)


def main():
    include_dir, cc, cxx = sys.argv[1:4]
    failures = []
    c_headers = sorted(reached(include_dir, "klv.h", set()))
    for h in c_headers:
        r = compile_one(cc, "c", "c11", include_dir, h)
        if r.returncode:
            failures.append(f"{h} does not compile as C:\n{r.stderr}")
    r = compile_one(cxx, "c++", "c++20", include_dir, "klv.h", ["-H"])
    if r.returncode:
        failures.append(f"klv.h does not compile as C++:\n{r.stderr}")
    pulled = [l.lstrip(". ") for l in r.stderr.splitlines() if re.match(r"^\.+ .*/c\+\+/", l)]
    if pulled:
        failures.append("klv.h pulls in C++ standard headers:\n  " + "\n  ".join(pulled))
    for header in sorted(p.name for p in Path(include_dir, "klv").glob("*.h")):
        r = compile_one(cxx, "c++", "c++20", include_dir, header)
        if r.returncode:
            failures.append(f"{header} does not compile alone as C++:\n{r.stderr}")
    if failures:
        print("\n".join(failures))
        return 1
    print(f"{len(c_headers)} C headers behind klv.h, all headers self-contained")
    return 0


if __name__ == "__main__":
    sys.exit(main())

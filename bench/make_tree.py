#!/usr/bin/env python3
"""Writes the benchmarks' source trees, the same names and sizes on every call:
the standard tree, 10,000 files in 500 folders (20 each, two levels deep), sizes from 100 bytes
to about 40 KB; with --tiny, 50,000 files in 2,500 folders (20 each, two levels deep), sizes
from 10 to 200 bytes.

    bench/make_tree.py ROOT [--tiny]
"""
import os
import random
import sys

root = sys.argv[1]
tiny = "--tiny" in sys.argv[2:]
folders, smallest, largest = (2500, 10, 200) if tiny else (500, 100, 40000)
random.seed(1)
for f in range(folders):
    folder = os.path.join(root, "d%02d" % (f // 25), "s%04d" % f if tiny else "s%03d" % f)
    os.makedirs(folder, exist_ok=True)
    for i in range(20):
        with open(os.path.join(folder, "file%02d.html" % i), "wb") as out:
            out.write(os.urandom(random.randint(smallest, largest)))

#!/usr/bin/env python3
"""Writes the benchmarks' source tree: 10,000 files in 500 folders (20 each, two levels deep),
sizes from 100 bytes to about 40 KB, the same names and sizes on every call.

    bench/make_tree.py ROOT
"""
import os
import random
import sys

root = sys.argv[1]
random.seed(1)
for f in range(500):
    folder = os.path.join(root, "d%02d" % (f // 25), "s%03d" % f)
    os.makedirs(folder, exist_ok=True)
    for i in range(20):
        with open(os.path.join(folder, "file%02d.html" % i), "wb") as out:
            out.write(os.urandom(random.randint(100, 40000)))

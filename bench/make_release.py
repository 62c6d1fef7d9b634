#!/usr/bin/env python3
"""Writes the data files of a synthetic release folder for bench/update_vs_rsync.sh.

  make_release.py small DIR   500 files of 1-10 KB (text and random bytes) in a few folders, ~2.4 MB
  make_release.py mixed DIR   ~800 files, ~200 MB: small files, shared libraries copied from
                              /usr/lib/x86_64-linux-gnu (links resolved), random (incompressible)
                              data, compressible text and one 40 MB file

The contents come from a fixed seed, so a run writes the same bytes each time (the copied
libraries are this machine's). The main program and ZORSys.ini are added by the caller.
Prints the number of files and bytes written.
"""

import os
import random
import shutil
import sys

SEED = 880
FOLDERS = ["", "bpls/", "Graphs/", "Defines/", "Coms/", "SunRpt/deep/"]
WORDS = ("order stock price client report ledger amount total branch invoice account "
         "balance supplier warehouse item quantity journal payment tax period").split()
LIB_DIR = "/usr/lib/x86_64-linux-gnu"


class Writer:
    def __init__(self, root):
        self.root = root
        self.files = 0
        self.bytes = 0

    def write(self, name, data):
        path = os.path.join(self.root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        self.files += 1
        self.bytes += len(data)


def text(rng, size):
    """Compressible text: lines of words and numbers, like a report or a settings file."""
    lines = []
    total = 0
    while total < size:
        line = "%s=%d;%s %s %.2f\r\n" % (rng.choice(WORDS), rng.randrange(100000), rng.choice(WORDS),
                                         rng.choice(WORDS), rng.random() * 1000)
        lines.append(line)
        total += len(line)
    return "".join(lines).encode()[:size]


def small_files(out, rng, count, low, high):
    for i in range(count):
        folder = FOLDERS[i % len(FOLDERS)]
        size = rng.randrange(low, high)
        if i % 2:
            out.write("%sdata%04d.dat" % (folder, i), rng.randbytes(size))
        else:
            out.write("%stext%04d.txt" % (folder, i), text(rng, size))


def libraries(out, budget, limit):
    """Real ELF shared objects, each at most `limit` bytes, until `budget` bytes are copied."""
    names = sorted(n for n in os.listdir(LIB_DIR) if ".so" in n)
    seen = set()
    copied = 0
    for name in names:
        real = os.path.realpath(os.path.join(LIB_DIR, name))
        if real in seen or not os.path.isfile(real):
            continue
        seen.add(real)
        size = os.path.getsize(real)
        if size > limit or size < 4096 or copied + size > budget:
            continue
        with open(real, "rb") as f:
            if f.read(4) != b"\x7fELF":
                continue
        target = os.path.join(out.root, "Libs", os.path.basename(real))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(real, target)
        out.files += 1
        out.bytes += size
        copied += size


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("small", "mixed"):
        sys.exit(__doc__)
    profile, root = sys.argv[1], sys.argv[2]
    rng = random.Random(SEED)
    out = Writer(root)
    if profile == "small":
        small_files(out, rng, 500, 1024, 8800)
    else:
        small_files(out, rng, 400, 1024, 10240)
        libraries(out, 60 << 20, 6 << 20)
        for i in range(60):  # random data: what compression cannot shrink
            out.write("Data/blob%03d.bin" % i, rng.randbytes(rng.randrange(200 << 10, 1400 << 10)))
        for i in range(120):  # reports and tables: what compression shrinks well
            out.write("Reports/report%03d.txt" % i, text(rng, rng.randrange(100 << 10, 600 << 10)))
        out.write("Data/archive.big", rng.randbytes(40 << 20))
    print(out.files, out.bytes)


if __name__ == "__main__":
    main()

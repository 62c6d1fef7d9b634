#!/usr/bin/env python3
"""Writes the data files of a synthetic release folder for the benchmarks in bench/.

  make_release.py small DIR   500 files of 1-10 KB (text and random bytes) in a few folders, ~2.4 MB
  make_release.py mixed DIR   ~800 files, ~200 MB: small files, shared libraries copied from
                              /usr/lib/x86_64-linux-gnu (links resolved), random (incompressible)
                              data, compressible text and one 40 MB file
  make_release.py revise OLD NEW
                              the next release: a copy of the folder OLD in which 10% of the
                              files have a few small edits in place (what a rebuilt library
                              looks like: a build id, a date, a few constants; sizes unchanged),
                              five files are removed and five new ones are added. The main
                              program, the core library, ZORSys.ini and the manifest stay as
                              they are (the caller stamps and signs NEW).

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


# Files revise() leaves alone: the caller writes them.
KEPT = {"IClient", "ZORCore.dll", "bpls/ZORMain.bpl", "ZORSys.ini", "ZORRelease.manifest"}


def edit_in_place(path, rng):
    """A few short runs of bytes overwritten at random places; the size stays."""
    with open(path, "r+b") as f:
        size = os.fstat(f.fileno()).st_size
        for _ in range(rng.randrange(1, 9)):
            length = min(size, rng.randrange(1, 65))
            if length == 0:
                break
            f.seek(rng.randrange(0, size - length + 1))
            f.write(rng.randbytes(length))


def revise(old, new):
    rng = random.Random(SEED + 1)
    shutil.copytree(old, new)
    out = Writer(new)
    files = []
    for folder, _, names in os.walk(new):
        for name in names:
            rel = os.path.relpath(os.path.join(folder, name), new)
            if rel not in KEPT:
                files.append(rel)
    files.sort()
    changed = rng.sample(files, len(files) // 10)
    for rel in changed:
        edit_in_place(os.path.join(new, rel), rng)
    rest = sorted(set(files) - set(changed))
    for rel in rng.sample(rest, 5):
        os.remove(os.path.join(new, rel))
    for i in range(5):
        if i % 2:
            out.write("Added/data%02d.dat" % i, rng.randbytes(rng.randrange(4 << 10, 400 << 10)))
        else:
            out.write("Added/text%02d.txt" % i, text(rng, rng.randrange(4 << 10, 400 << 10)))
    print(len(changed), 5, out.files)


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "revise":
        revise(sys.argv[2], sys.argv[3])
        return
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

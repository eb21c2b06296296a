"""Writes a deterministic folder tree for the tar benchmark: a few thousand
files of mixed sizes (empty to a few MB, mostly small) in nested folders.

    make_tree.py <root> <files> <megabytes> [seed]
"""
import os
import random
import sys


def main():
    root, files, megabytes = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    rng = random.Random(int(sys.argv[4]) if len(sys.argv) > 4 else 4242)
    # Sizes follow a long-tailed spread, scaled to the requested total.
    raw = [rng.paretovariate(1.2) for _ in range(files)]
    scale = megabytes * 1000 * 1000 / sum(raw)
    sizes = [min(int(r * scale), 8 * 1000 * 1000) for r in raw]
    for i in range(0, files, 97):
        sizes[i] = 0
    folders = [""]
    for i in range(files // 25):
        parent = rng.choice(folders)
        folders.append(os.path.join(parent, "dir%03d" % i) if len(parent) < 60 else "dir%03d" % i)
    for folder in folders:
        os.makedirs(os.path.join(root, folder), exist_ok=True)
    chunk = rng.randbytes(1 << 20)
    text = (" ".join("word%d" % rng.randint(0, 5000) for _ in range(200000))).encode()
    for i, size in enumerate(sizes):
        folder = rng.choice(folders)
        path = os.path.join(root, folder, "file%05d.%s" % (i, rng.choice(["so", "txt", "dat", "bin"])))
        source = text if i % 2 else chunk
        with open(path, "wb") as out:
            left = size
            offset = rng.randrange(len(source))
            while left > 0:
                piece = source[offset:offset + left]
                out.write(piece)
                left -= len(piece)
                offset = 0
        os.utime(path, (1500000000 + i * 61, 1500000000 + i * 61))


main()

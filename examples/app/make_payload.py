#!/usr/bin/env python3
"""Writes the example application's payload tree: a few hundred files of
text and binary data in nested folders, the same bytes and file times on
every machine (a fixed seed, fixed times)."""
import os
import random
import sys

WORDS = ("quill ink page line word letter margin paper folio draft copy proof "
         "chapter verse index table figure note sketch plan scale grid frame").split()

def text_file(rng, lines):
    out = []
    for _ in range(lines):
        out.append(" ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 14))))
    return ("\r\n".join(out) + "\r\n").encode("ascii")

def binary_file(rng, size):
    return bytes(rng.getrandbits(8) for _ in range(size))

def main(root):
    rng = random.Random(20261210)
    layout = {
        "bin": 24, "lib": 40, "lib\\plugins": 30, "share\\doc": 60, "share\\doc\\examples": 45,
        "share\\fonts": 12, "share\\locale\\en": 20, "share\\locale\\fr": 20, "templates": 35, "": 1,
    }
    base_time = 1700000000  # fixed file times, one minute apart
    count = 0
    for folder, files in layout.items():
        path = os.path.join(root, *folder.split("\\")) if folder else root
        os.makedirs(path, exist_ok=True)
        for i in range(files):
            if folder in ("bin", "lib", "lib\\plugins", "share\\fonts"):
                name, data = "part%03d.bin" % i, binary_file(rng, rng.randint(1000, 90000))
            else:
                name, data = "text%03d.txt" % i, text_file(rng, rng.randint(5, 400))
            if i == 0 and folder == "":
                name, data = "readme.txt", b"Quillmar example application.\r\n"
            target = os.path.join(path, name)
            with open(target, "wb") as f:
                f.write(data)
            t = base_time + 60 * count
            os.utime(target, (t, t))
            count += 1
    # One empty file: extraction must create it too.
    empty = os.path.join(root, "share", "doc", "empty.txt")
    open(empty, "wb").close()
    os.utime(empty, (base_time, base_time))

if __name__ == "__main__":
    main(sys.argv[1])

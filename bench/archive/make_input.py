"""Writes a deterministic mixed input of a given size: text, random binary,
repeated records and runs, in alternating sections, like a software package.

    make_input.py <output> <megabytes> [seed]
"""
import random
import sys


def section_text(rng, size):
    words = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 10)))
             for _ in range(3000)]
    out = []
    length = 0
    while length < size:
        line = " ".join(rng.choices(words, k=rng.randint(3, 14))) + "\n"
        out.append(line)
        length += len(line)
    return "".join(out).encode()[:size]


def section_binary(rng, size):
    return rng.randbytes(size)


def section_records(rng, size):
    out = bytearray()
    counter = rng.randint(0, 1 << 20)
    while len(out) < size:
        counter += rng.randint(1, 3)
        out += counter.to_bytes(4, "little") + b"\x00\x00\x01\x7fREC" + rng.randbytes(2)
    return bytes(out[:size])


def section_run(rng, size):
    return bytes([rng.randint(0, 255)]) * size


def main():
    path, megabytes = sys.argv[1], int(sys.argv[2])
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 20240601)
    total = megabytes * 1000 * 1000
    kinds = [section_text, section_text, section_binary, section_records, section_run]
    written = 0
    with open(path, "wb") as out:
        while written < total:
            size = min(total - written, rng.randint(4096, 1 << 20))
            data = rng.choice(kinds)(rng, size)
            out.write(data)
            written += len(data)


main()

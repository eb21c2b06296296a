"""Writes the benchmark's download mirror: a live distribution tar, an
anti-virus package (.Z) and an identities archive, shaped like the real ones
and deterministic for a given seed and size. Manifests are signed afterwards
by bench/make-data with rscdc-publish.

    make_mirror.py OUT_FOLDER --dist-mb N [--seed S]

OUT_FOLDER/tools/rscd/CorvexLive-SLAX.tar
    ustar, directory entries before their content, every name within 100
    bytes, fixed times and owners: the real boot loader files (so that the image
    boots), an empty slax/rootcopy/, slax/tools/WIN/mkisofs.exe, a few large
    compressed modules and a few thousand files of long-tailed sizes in nested
    folders; about N * 10^6 bytes.
OUT_FOLDER/dp/full/linux.intel.libc6.glibc.2.2.tar.Z
    a tar of about 85 MB (programs, libraries, signature data, documents and
    a nested nxv/data/engine/vdl-4.42.dat) compressed with `compress` (about
    60 MB).
OUT_FOLDER/downloads/ide/442_ides.zip
    the identities for data version 4.42.
"""
import argparse
import io
import os
import random
import subprocess
import sys
import tarfile
import tempfile
import zipfile

EPOCH = 1229990400  # 23 December 2008, as in the demo mirror
ISOLINUX_BIN = "/usr/lib/ISOLINUX/isolinux.bin"
SYSLINUX_BIOS = "/usr/lib/syslinux/modules/bios"
BOOT_MODULES = ["ldlinux.c32", "ls.c32", "libcom32.c32", "libutil.c32", "poweroff.c32"]
ISOLINUX_CFG = b"""SERIAL 0 115200
PROMPT 0
TIMEOUT 1
DEFAULT ls
ONTIMEOUT poweroff
LABEL ls
  COM32 ls.c32
  APPEND /slax/rootcopy/
LABEL poweroff
  COM32 poweroff.c32
"""
DATA_VERSION = (4, 42)


class Pools:
    """Source bytes of three kinds, sliced by every generated file: random
    (already compressed data), text, and program-like binary."""

    def __init__(self, rng):
        self.random = rng.randbytes(16 << 20)
        words = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 11)))
                 for _ in range(6000)]
        lines = []
        size = 0
        while size < (6 << 20):
            line = " ".join(rng.choices(words, k=rng.randint(2, 16))) + "\n"
            lines.append(line)
            size += len(line)
        self.text = "".join(lines).encode()
        # Code and tables: short repeated op patterns with varying operands,
        # zero runs and embedded strings, which is how executables compress.
        out = bytearray()
        ops = [rng.randbytes(rng.randint(2, 7)) for _ in range(400)]
        operands = [rng.randbytes(rng.choice((1, 2, 4))) for _ in range(300)]
        while len(out) < (8 << 20):
            kind = rng.random()
            if kind < 0.72:
                for _ in range(rng.randint(8, 64)):
                    out += rng.choice(ops)
                    if rng.random() < 0.6:
                        out += rng.choice(operands)
            elif kind < 0.84:
                out += bytes(rng.randint(16, 600))
            elif kind < 0.97:
                start = rng.randrange(len(self.text) - 4096)
                out += self.text[start:start + rng.randint(16, 2048)] + b"\0"
            else:
                out += rng.randbytes(rng.randint(64, 4096))
        self.binary = bytes(out)

    def source(self, kind):
        return {"random": self.random, "text": self.text, "binary": self.binary}[kind]


class Content(io.RawIOBase):
    """A file's bytes, read on demand from one pool from a given offset on,
    wrapping around: large files need no memory of their own."""

    def __init__(self, pool, offset, size):
        super().__init__()
        self.pool, self.offset, self.left = pool, offset % len(pool), size

    def readable(self):
        return True

    def read(self, n=-1):
        if n is None or n < 0:
            n = self.left
        n = min(n, self.left)
        out = bytearray()
        while len(out) < n:
            piece = self.pool[self.offset:self.offset + (n - len(out))]
            out += piece
            self.offset = (self.offset + len(piece)) % len(self.pool)
        self.left -= n
        return bytes(out)


class Tree:
    """Entries of one archive: folders and files, written in an order where
    every folder comes before what it holds."""

    def __init__(self):
        self.folders = set()
        self.files = {}  # name -> (size, kind, offset, mode) or (bytes, mode)

    def add_folder(self, name):
        parts = name.split("/")
        for i in range(1, len(parts) + 1):
            self.folders.add("/".join(parts[:i]))

    def add(self, name, spec):
        if name in self.files:
            raise SystemExit("make_mirror: duplicate name %s" % name)
        folder = name.rpartition("/")[0]
        if folder:
            self.add_folder(folder)
        self.files[name] = spec

    def total(self):
        return sum(len(s[0]) if isinstance(s[0], bytes) else s[0] for s in self.files.values())

    def write(self, path, pools):
        entries = [(tuple(f.split("/")), f, None) for f in self.folders]
        entries += [(tuple(f.split("/")), f, s) for f, s in self.files.items()]
        entries.sort()
        with tarfile.open(path, "w", format=tarfile.USTAR_FORMAT) as tar:
            for _, name, spec in entries:
                # The tool reads the name field only; a name that ustar would
                # split into a prefix must not occur.
                if len(name) + (1 if spec is None else 0) > 100:
                    raise SystemExit("make_mirror: name longer than 100 bytes: %s" % name)
                info = tarfile.TarInfo(name)
                info.mtime = EPOCH
                info.uid = info.gid = 0
                info.uname = info.gname = ""
                if spec is None:
                    info.type = tarfile.DIRTYPE
                    info.mode = 0o755
                    tar.addfile(info)
                elif isinstance(spec[0], bytes):
                    info.size, info.mode = len(spec[0]), spec[1]
                    tar.addfile(info, io.BytesIO(spec[0]))
                else:
                    size, kind, offset, mode = spec
                    info.size, info.mode = size, mode
                    tar.addfile(info, Content(pools.source(kind), offset, size))


def long_tail(rng, count, total, cap):
    """`count` sizes of a long-tailed spread, none above `cap`, summing to
    about `total`; every 53rd file is empty."""
    raw = [rng.paretovariate(1.1) for _ in range(count)]
    for i in range(0, count, 53):
        raw[i] = 0
    sizes = [0] * count
    for _ in range(8):  # what the cap cuts off goes to the files below it
        free = [i for i in range(count) if sizes[i] < cap and raw[i] > 0]
        left = total - sum(sizes)
        weight = sum(raw[i] for i in free)
        if left <= 0 or weight == 0:
            break
        for i in free:
            sizes[i] = min(cap, sizes[i] + int(raw[i] * left / weight))
    return sizes


def distribution(rng, total):
    t = Tree()
    t.add("boot/isolinux/isolinux.bin", (open(ISOLINUX_BIN, "rb").read(), 0o644))
    for m in BOOT_MODULES:
        t.add("boot/isolinux/" + m, (open(os.path.join(SYSLINUX_BIOS, m), "rb").read(), 0o644))
    t.add("boot/isolinux/isolinux.cfg", (ISOLINUX_CFG, 0o644))
    t.add("boot/vmlinuz", (5_600_000, "binary", rng.randrange(1 << 30), 0o644))
    t.add("boot/initrd.gz", (total // 30, "random", rng.randrange(1 << 30), 0o644))
    t.add_folder("slax/rootcopy")
    t.add("slax/tools/WIN/mkisofs.exe", (412_160, "binary", rng.randrange(1 << 30), 0o755))
    t.add("slax/tools/WIN/cygwin1.dll", (1_872_000, "binary", rng.randrange(1 << 30), 0o755))
    t.add("slax/tools/make_iso.bat", (b"@ECHO OFF\r\ntools\\WIN\\mkisofs.exe -o %1 .\r\n", 0o644))
    t.add("slax/tools/make_iso.sh", (b"#!/bin/sh\nmkisofs -o \"$1\" .\n", 0o755))
    t.add("README.txt", (b"CorvexLive-SLAX benchmark distribution\n", 0o644))
    t.add("slax/base/etc/corvexlive-release", (b"corvexlive-bench 1.0\n", 0o644))
    # Compressed system modules: the bulk of a live distribution.
    modules = ["001-core.lzm", "002-xorg.lzm", "003-desktop.lzm", "004-kde.lzm", "005-koffice.lzm",
               "006-devel.lzm", "007-av-tools.lzm"]
    module_share = [0.22, 0.16, 0.08, 0.12, 0.06, 0.05, 0.03]
    for m, share in zip(modules, module_share):
        t.add("slax/base/" + m, (int(total * share), "random", rng.randrange(1 << 30), 0o644))
    # Optional modules unpacked as trees: a few thousand files, mostly small.
    count = 3000
    left = total - t.total()
    sizes = long_tail(rng, count, left, 4_000_000)
    packages = ["%03d-%s" % (i, rng.choice(["utils", "net", "fonts", "locale", "rescue", "drivers", "docs",
                                             "python", "perl", "firmware"])) for i in range(60)]
    # Folder, name ending and kind of content, as in an unpacked package.
    subdirs = [("usr/bin", "", "binary"), ("usr/lib", ".so.1", "binary"), ("usr/share/doc", ".txt", "text"),
               ("usr/share/man/man1", ".1.gz", "random"), ("etc", ".conf", "text"),
               ("usr/share/locale/de", ".mo", "text"), ("usr/lib/firmware", ".bin", "random"),
               ("usr/share/fonts/truetype", ".ttf", "random")]
    for i, size in enumerate(sizes):
        sub, ext, kind = rng.choice(subdirs)
        mode = 0o755 if sub == "usr/bin" else 0o644
        name = "slax/optional/%s/%s/file%04d%s" % (rng.choice(packages), sub, i, ext)
        t.add(name, (size, kind, rng.randrange(1 << 30), mode))
    return t


def package(rng):
    t = Tree()
    t.add("nxv/bin/nxvscan", (6_000_000, "binary", rng.randrange(1 << 30), 0o755))
    t.add("nxv/bin/nxvupdate", (1_200_000, "binary", rng.randrange(1 << 30), 0o755))
    t.add("nxv/lib/libnxv.so.4", (9_000_000, "binary", rng.randrange(1 << 30), 0o755))
    for i in range(24):
        t.add("nxv/lib/plugins/nxv-%02d.so" % i, (rng.randint(100_000, 600_000), "binary",
                                                  rng.randrange(1 << 30), 0o755))
    # Signature data: tables that compress well, and packed parts that do not.
    t.add("nxv/data/avvscan.dat", (20_000_000, "binary", rng.randrange(1 << 30), 0o644))
    t.add("nxv/data/avvclean.dat", (10_000_000, "binary", rng.randrange(1 << 30), 0o644))
    t.add("nxv/data/avvnames.dat", (10_000_000, "text", rng.randrange(1 << 30), 0o644))
    t.add("nxv/data/packed.dat", (6_000_000, "random", rng.randrange(1 << 30), 0o644))
    major, minor = DATA_VERSION
    t.add("nxv/data/engine/vdl-%d.%02d.dat" % (major, minor), (2_400_000, "binary", rng.randrange(1 << 30), 0o644))
    for i in range(300):
        t.add("nxv/doc/%s/page%03d.html" % (rng.choice(["en", "de", "fr", "ja"]), i),
              (rng.randint(400, 40_000), "text", rng.randrange(1 << 30), 0o644))
    for i in range(120):
        t.add("nxv/data/engine/rules/r%04d.rul" % i, (rng.randint(1_000, 60_000), "binary",
                                                      rng.randrange(1 << 30), 0o644))
    return t


def identities(path, rng, pools):
    major, minor = DATA_VERSION
    with zipfile.ZipFile(path, "w") as z:
        for i in range(12):
            name = "ides/%d%d-%03d.ide" % (major, minor, i)
            info = zipfile.ZipInfo(name, date_time=(2008, 12, 23, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o100644 << 16
            info.create_system = 3
            size = rng.randint(200_000, 600_000)
            z.writestr(info, Content(pools.source(rng.choice(["binary", "random"])), rng.randrange(1 << 30),
                                     size).read())


def mirror_layout():
    """The server's file layout, from the file every mirror script reads."""
    listed = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "demo", "mirror-layout")
    with open(listed, encoding="utf-8") as f:
        return dict(line.strip().split("=", 1) for line in f if line.strip() and not line.startswith("#"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--dist-mb", type=int, default=300)
    parser.add_argument("--seed", type=int, default=20081223)
    args = parser.parse_args()

    rng = random.Random(args.seed)
    pools = Pools(rng)
    layout = mirror_layout()
    for sub in (os.path.dirname(layout["MIRROR_DISTRIBUTION"]), os.path.dirname(layout["MIRROR_PACKAGE"]),
                layout["MIRROR_IDENTITIES"]):
        os.makedirs(os.path.join(args.out, sub), exist_ok=True)

    distribution(random.Random(args.seed + 1), args.dist_mb * 1_000_000).write(
        os.path.join(args.out, layout["MIRROR_DISTRIBUTION"]), pools)

    with tempfile.TemporaryDirectory(dir=args.out) as stage:
        plain = os.path.join(stage, "linux.intel.libc6.glibc.2.2.tar")
        package(random.Random(args.seed + 2)).write(plain, pools)
        target = os.path.join(args.out, layout["MIRROR_PACKAGE"])
        with open(target, "wb") as out:
            subprocess.run(["compress", "-c", plain], stdout=out, check=True)

    major, minor = DATA_VERSION
    identities(os.path.join(args.out, layout["MIRROR_IDENTITIES"], "%d%d_ides.zip" % (major, minor)),
               random.Random(args.seed + 3), pools)
    return 0


if __name__ == "__main__":
    sys.exit(main())

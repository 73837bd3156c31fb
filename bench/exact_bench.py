#!/usr/bin/env python3
"""The exact mode against the floor of reading every file.

Generates an installation of real-shaped archives (PACK directories at the end, maps with
valid headers and entity lumps, incompressible filler) and loose map files, optionally with
a zip archive (*.pk3) of deflated maps, then times `mapsweep --exact` and `cat` over the
same files alternately, reports the medians and their ratio, the bytes mapsweep read (by
strace, when it is there) and its peak resident memory (GNU time).

    bench/exact_bench.py [--mapsweep build/bench/mapsweep] [--mib 300] [--pk3-mib 0]
                         [--map-kib 1024] [--pairs 7] [--keep DIR]
"""
import argparse
import os
import random
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import zipfile



def entity_text(title):
    return (
        '{\n"classname" "worldspawn"\n"message" "%s"\n}\n'
        '{\n"classname" "info_player_start"\n"origin" "0 0 24"\n}\n' % title
    ).encode() + b"\0"


def map_bytes(title, size, filler):
    """A version-29 map: its lump table, the entity lump right after it, filler after."""
    text = entity_text(title)
    table_at = 4
    lumps = 15
    text_at = table_at + 8 * lumps
    header = struct.pack("<i", 29) + struct.pack("<ii", text_at, len(text))
    header += struct.pack("<ii", 0, 0) * (lumps - 1)
    body = header + text
    return body + filler[: max(0, size - len(body))]


def pack_archive(files):
    """PACK: header, file data, then the directory, as real archives lay it out."""
    data = bytearray()
    entries = []
    for name, content in files:
        entries.append((name, 12 + len(data), len(content)))
        data += content
    directory = b"".join(
        name.encode().ljust(56, b"\0") + struct.pack("<ii", offset, size)
        for name, offset, size in entries
    )
    header = b"PACK" + struct.pack("<ii", 12 + len(data), len(directory))
    return header + bytes(data) + directory


def build(base, mib, pk3_mib, map_size):
    rnd = random.Random(1)
    filler = rnd.randbytes(map_size)
    maps_per_archive = 24
    total = 0
    folder = 0
    while total < mib << 20:
        game = os.path.join(base, "mod%02d" % folder)
        os.makedirs(os.path.join(game, "maps"))
        for a in range(2):
            files = [("sound/s%d.wav" % i, filler[: 4096]) for i in range(40)]
            for m in range(maps_per_archive):
                files.append(("maps/m%dx%d.bsp" % (a, m),
                              map_bytes("Map %d-%d-%d" % (folder, a, m), map_size, filler)))
            archive = pack_archive(files)
            with open(os.path.join(game, "pak%d.pak" % a), "wb") as f:
                f.write(archive)
            total += len(archive)
        for m in range(8):
            data = map_bytes("Loose %d" % m, map_size, filler)
            with open(os.path.join(game, "maps", "loose%d.bsp" % m), "wb") as f:
                f.write(data)
            total += len(data)
        folder += 1
    if pk3_mib:
        # Maps of 8 MiB whose filler deflates to about half, so the archive holds real work.
        game = os.path.join(base, "zipped")
        os.makedirs(game)
        half = rnd.randbytes(4 << 20)
        big_filler = bytes(b for pair in zip(half, bytes(len(half))) for b in pair)
        path = os.path.join(game, "maps.pk3")
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
            m = 0
            while os.path.getsize(path) < pk3_mib << 20:
                z.writestr("maps/z%03d.bsp" % m, map_bytes("Zipped %d" % m, 8 << 20, big_filler))
                m += 1
        total += os.path.getsize(path)
    return total


def all_files(base):
    for root, _, names in os.walk(base):
        for name in sorted(names):
            yield os.path.join(root, name)


def timed(command):
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mapsweep", default="build/bench/mapsweep")
    parser.add_argument("--mib", type=int, default=300)
    parser.add_argument("--pk3-mib", type=int, default=0)
    parser.add_argument("--map-kib", type=int, default=1024, help="size of each map file")
    parser.add_argument("--pairs", type=int, default=7)
    parser.add_argument("--keep")
    args = parser.parse_args()
    mapsweep = os.path.abspath(args.mapsweep)
    base = args.keep or tempfile.mkdtemp(prefix="mapsweep-exact-bench.")
    try:
        if not os.listdir(base):
            total = build(base, args.mib, args.pk3_mib, args.map_kib << 10)
        else:
            total = sum(os.path.getsize(f) for f in all_files(base) if not f.endswith(".lst"))
        files = [f for f in all_files(base) if not f.endswith(".lst")]
        run = [mapsweep, "--exact", "--yes", "--quiet", base]
        cat = ["sh", "-c", 'cat "$@" > /dev/null', "cat"] + files
        timed(cat)
        timed(run)  # the page cache warm for both
        runs, cats = [], []
        for _ in range(args.pairs):
            runs.append(timed(run))
            cats.append(timed(cat))
        run_ms = statistics.median(runs) * 1000
        cat_ms = statistics.median(cats) * 1000
        print("installation: %d MiB in %d files" % (total >> 20, len(files)))
        print("mapsweep --exact: %.1f ms   cat: %.1f ms   ratio %.3f (medians of %d pairs)"
              % (run_ms, cat_ms, run_ms / cat_ms, args.pairs))
        if shutil.which("strace"):
            trace = subprocess.run(
                ["strace", "-f", "-e", "trace=read,pread64", "-o", "/dev/stdout", "-qq"] + run,
                check=True, capture_output=True, text=True).stdout
            read = 0
            for line in trace.splitlines():
                result = line.rsplit("= ", 1)[-1].split()[0] if "= " in line else ""
                if result.isdigit():
                    read += int(result)
            print("bytes read: %d of %d (%.3f %%)" % (read, total, 100.0 * read / total))
        rss = subprocess.run(["/usr/bin/time", "-f", "%M"] + run, check=True,
                             capture_output=True, text=True).stderr.strip().splitlines()[-1]
        print("peak resident memory: %.1f MiB" % (int(rss) / 1024))
    finally:
        if not args.keep:
            shutil.rmtree(base, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())

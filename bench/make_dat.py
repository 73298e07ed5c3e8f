#!/usr/bin/env python3
"""Writes a DAT file (Logiqx XML) for bench/dat.sh: the entry of an image, hashed here with
Python's zlib and hashlib, hidden among decoy entries that look like a system's full DAT.

Usage: make_dat.py IMAGE NAME FIRST_SECTORS OUT.dat [--decoys N]
  FIRST_SECTORS  each track's first sector in the image, comma-separated; the last track runs
                 to the image's last whole sector
"""
import argparse
import hashlib
import random
import zlib

SECTOR = 2352


def track_hashes(image, starts):
    with open(image, "rb") as f:
        f.seek(0, 2)
        end = f.tell() // SECTOR * SECTOR
        bounds = [s * SECTOR for s in starts] + [end]
        roms = []
        for first, last in zip(bounds, bounds[1:]):
            f.seek(first)
            crc, md5, sha1 = 0, hashlib.md5(), hashlib.sha1()
            left = last - first
            while left:
                block = f.read(min(left, 1 << 22))
                crc = zlib.crc32(block, crc)
                md5.update(block)
                sha1.update(block)
                left -= len(block)
            roms.append((last - first, "%08x" % crc, md5.hexdigest(), sha1.hexdigest()))
    return roms


def game(name, roms):
    lines = ['\t<game name="%s">' % name, "\t\t<category>Games</category>",
             "\t\t<description>%s</description>" % name,
             '\t\t<rom name="%s.cue" size="%d" crc="%08x" md5="%s" sha1="%s"/>' % (
                 name, 80 * len(roms), zlib.crc32(name.encode()),
                 hashlib.md5(name.encode()).hexdigest(), hashlib.sha1(name.encode()).hexdigest())]
    for n, (size, crc, md5, sha1) in enumerate(roms, 1):
        track = " (Track %0*d)" % (2 if len(roms) > 9 else 1, n) if len(roms) > 1 else ""
        lines.append('\t\t<rom name="%s%s.bin" size="%d" crc="%s" md5="%s" sha1="%s"/>' % (
            name, track, size, crc, md5, sha1))
    lines.append("\t</game>")
    return "\n".join(lines) + "\n"


def decoy(rng, n, sizes):
    regions = ["USA", "Europe", "Japan", "Germany", "France", "USA, Europe"]
    name = "Decoy Title %05d - The %s Chapter (%s) (Disc %d)" % (
        n, rng.choice(["Lost", "Final", "Second", "Hidden"]), rng.choice(regions), 1 + n % 3)
    # Some decoys have the image's own track sizes with other hashes.
    if n % 50 == 0:
        track_sizes = sizes
    else:
        track_sizes = [rng.randrange(300, 300000) * SECTOR for _ in range(rng.choice([1, 1, 1, 1, 2, 2, 3, 5, 8]))]
    roms = [(size, "%08x" % rng.getrandbits(32), "%032x" % rng.getrandbits(128),
             "%040x" % rng.getrandbits(160)) for size in track_sizes]
    return game(name, roms)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("image")
    parser.add_argument("name")
    parser.add_argument("starts")
    parser.add_argument("out")
    parser.add_argument("--decoys", type=int, default=0)
    args = parser.parse_args()
    roms = track_hashes(args.image, [int(s) for s in args.starts.split(",")])
    rng = random.Random(13)
    entries = [decoy(rng, n, [r[0] for r in roms]) for n in range(args.decoys)]
    entries.insert(len(entries) * 2 // 3, game(args.name, roms))
    with open(args.out, "w") as f:
        f.write('<?xml version="1.0"?>\n<!DOCTYPE datafile PUBLIC "-//Logiqx//DTD ROM Management '
                'Datafile//EN" "http://www.logiqx.com/Dats/datafile.dtd">\n<datafile>\n'
                "\t<header>\n\t\t<name>Bench - Discs</name>\n\t\t<version>1</version>\n"
                "\t</header>\n")
        f.writelines(entries)
        f.write("</datafile>\n")


if __name__ == "__main__":
    main()

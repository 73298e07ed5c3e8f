#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets: realistic control files and hostile ones.

Run from anywhere; it rewrites the seed-*.bin files of fuzz/corpus/<target>/ and leaves the
regression files (regress-*) alone.
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def header(tracks, data_first):
    text = "[CloneCD]\r\nVersion=3\r\n[Disc]\r\nTocEntries=%d\r\nSessions=1\r\n" % (
        len(tracks) + 3)
    text += "DataTracksScrambled=0\r\nCDTextLength=0\r\n[Session 1]\r\n"
    text += "PreGapMode=%d\r\nPreGapSubC=0\r\n" % (1 if data_first else 0)
    for n, (mode, start, _) in enumerate(tracks):
        text += ("[Entry %d]\r\nSession=1\r\nPoint=0x%02x\r\nADR=0x01\r\nControl=0x%02x\r\n"
                 "TrackNo=0\r\nAMin=0\r\nASec=0\r\nAFrame=0\r\nALBA=-150\r\nZero=0\r\n"
                 "PMin=0\r\nPSec=2\r\nPFrame=0\r\nPLBA=%d\r\n") % (
                     n, n + 1, 4 if mode else 0, start)
    return text


def control_file(tracks, eol="\r\n"):
    """tracks: (mode, index1, index0 or None)"""
    text = header(tracks, tracks[0][0] != 0)
    for n, (mode, start, pregap) in enumerate(tracks, 1):
        text += "[TRACK %d]\r\nMODE=%d\r\n" % (n, mode)
        if pregap is not None:
            text += "INDEX 0=%d\r\n" % pregap
        text += "INDEX 1=%d\r\n" % start
    return text.replace("\r\n", eol).encode("latin-1")


def realistic(scale):
    s = scale
    return {
        "audio-disc": control_file([(0, 0, None), (0, 30 * s, None), (0, 70 * s, 65 * s)]),
        "mixed-mode": control_file([(1, 0, None), (0, 45 * s, 30 * s), (0, 60 * s, 55 * s)]),
        "audio-then-data": control_file([(0, 0, None), (0, 20 * s, None), (2, 90 * s, 80 * s)]),
        "audio-data-audio": control_file([(0, 0, None), (1, 30 * s, None), (0, 60 * s, 50 * s),
                                          (2, 90 * s, None)]),
        "data-only": control_file([(1, 0, None), (2, 40 * s, None)]),
        "lf-endings": control_file([(1, 0, None), (0, 40 * s, 35 * s)], "\n"),
        "cr-endings": control_file([(0, 0, None), (1, 50 * s, 45 * s)], "\r"),
        "lower-case": control_file([(1, 0, None), (0, 40 * s, None)]).lower(),
        "same-sector-twice": b"[TRACK 1]\r\nMODE=0\r\nINDEX 1=5\r\n[TRACK 2]\r\nMODE=1\r\n"
                             b"INDEX 1=5\r\n[TRACK 3]\r\nMODE=0\r\nINDEX 1=5\r\n",
        "backwards": b"[TRACK 1]\r\nMODE=0\r\nINDEX 1=%d\r\n[TRACK 2]\r\nMODE=1\r\nINDEX 1=%d\r\n"
                     % (90 * s, 10 * s),
    }


def hostile(scale):
    s = scale
    many = "".join("[TRACK %d]\r\nMODE=%d\r\nINDEX 1=%d\r\n" % (n, n % 2, n * s // 4)
                   for n in range(1, 301))
    tokens = " ".join("T%d" % n for n in range(20))
    long_line = "[TRACK 1]\r\nMODE=0\r\n" + "x" * 1018 + "INDEX 1=7\r\nINDEX 1=3\r\n"
    return {
        "no-newline": b"[TRACK 1] MODE=0 INDEX 1=0",
        "single-line": b"[TRACK 1]\nMODE 0\nINDEX 1 0 [TRACK 2] MODE=1 INDEX 1=9",
        "twenty-tokens": ("[TRACK 1]\r\nMODE=0 " + tokens + "\r\nINDEX 1=%d " % (3 * s) + tokens
                          + "\r\nMODE=1\r\nINDEX 1=%d\r\n" % (9 * s)).encode(),
        "300-tracks": ("[CloneCD]\r\n" + many).encode(),
        "huge-numbers": b"[TRACK 1]\r\nMODE=0\r\nINDEX 1=99999999999999999999\r\n"
                        b"[TRACK 2]\r\nMODE=4294967296\r\nINDEX 1=2147483647\r\n"
                        b"[TRACK 3]\r\nMODE=0\r\nINDEX 1=2147483648\r\n",
        "negative-numbers": b"[TRACK 1]\r\nMODE=-1\r\nINDEX 1=-150\r\n[TRACK 2]\r\nMODE=0\r\n"
                            b"INDEX 0=-2147483648\r\nINDEX 1=-5\r\n[TRACK 3]\r\nMODE=-0\r\n"
                            b"INDEX 1=-1\r\n",
        "nul-bytes": b"[TRACK 1]\r\nMODE=1\r\nINDEX 1=0\r\n\x00[TRACK 2]\r\nMODE=0\r\n"
                     b"INDEX 1=4\r\n",
        "nul-in-line": b"[TRACK 1]\r\nMODE=0\r\nINDEX 1=2\x00\r\nMODE=1\r\nINDEX 1=8\r\n",
        "non-ascii": "[Disc]\r\nTítulo=Ünïcödé ♪\r\n[TRACK 1]\r\nMODE=0\r\nINDEX 1=0\r\n"
                     "[TRACK\xa02]\r\nMODE=1\r\nINDEX 1=12\r\n".encode("utf-8")
                     + b"\xff\xfe[TRACK 3]\x80MODE=0\r\n\xe9INDEX 1=20\r\n",
        "long-line": long_line.encode(),
        "line-1023": (b"[TRACK 1]\r\nMODE=0\r\n" + b"=" * 1014 + b"INDEX 1=5\r\nMODE=1\r\n"
                      b"INDEX 1=9\r\n"),
        "line-3000": b"[TRACK 1]\n" + (b"INDEX 1=4 " * 300) + b"\nMODE=1\nINDEX 1=6\n",
        "missing-values": b"[TRACK 1]\r\nMODE=0\r\nINDEX 1=3\r\nMODE\r\nINDEX\r\nINDEX 1\r\n"
                          b"MODE=1\r\nINDEX 1\r\nINDEX 1=7\r\n",
        "near-keywords": b"TRACKS 1\r\nMODE2=0\r\n[TRACK]\r\nMODE=0x\r\nINDEX1=4\r\nINDEXES 1=5\r\n"
                         b"INDEX 1=6\r\nmOdE=2\r\niNdEx 0=9\r\n",
        "before-track": b"MODE=0\r\nINDEX 1=0\r\n[TRACK 1]\r\nMODE=1\r\nINDEX 1=0\r\n",
        "separators-only": b"\r\n\r\n===\r\n[]\r\n\t \r\n[TRACK 1]\r\n\r\nINDEX 1=2\r\n",
        "empty": b"",
    }


def entry(n, session, point, adr, pmin, plba):
    return ("[Entry %d]\r\nSession=%d\r\nPoint=0x%02x\r\nADR=0x%02x\r\nControl=0x00\r\n"
            "TrackNo=0\r\nAMin=0\r\nASec=0\r\nAFrame=0\r\nALBA=-150\r\nZero=0\r\n"
            "PMin=%d\r\nPSec=0\r\nPFrame=0\r\nPLBA=%d\r\n") % (n, session, point, adr, pmin, plba)


def multi_session(sessions, lead_outs, adr5=True):
    """sessions: per session a list of tracks (mode, index1, index0 or None)."""
    entries = []
    number = 1
    for k, tracks in enumerate(sessions, 1):
        first, last = number, number + len(tracks) - 1
        entries.append((k, 0xa0, 1, first, first * 4500 - 150))
        entries.append((k, 0xa1, 1, last, last * 4500 - 150))
        entries.append((k, 0xa2, 1, 0, lead_outs[k - 1]))
        if k == 1 and adr5:
            entries.append((k, 0xb0, 5, 79, 359849))
            entries.append((k, 0xc0, 5, 97, -11634))
        for mode, start, _ in tracks:
            entries.append((k, number, 1, 0, start))
            number += 1
    text = "[CloneCD]\r\nVersion=3\r\n[Disc]\r\nTocEntries=%d\r\nSessions=%d\r\n" % (
        len(entries), len(sessions))
    for k in range(1, len(sessions) + 1):
        text += "[Session %d]\r\nPreGapMode=0\r\nPreGapSubC=0\r\n" % k
    text += "".join(entry(n, *e) for n, e in enumerate(entries))
    number = 1
    for tracks in sessions:
        for mode, start, pregap in tracks:
            text += "[TRACK %d]\r\nMODE=%d\r\n" % (number, mode)
            if pregap is not None:
                text += "INDEX 0=%d\r\n" % pregap
            text += "INDEX 1=%d\r\n" % start
            number += 1
    return text.encode("latin-1")


GAP = 6750 + 4500 + 150


def sessions():
    """Multi-session control files with the whole sectors of an image that fits them (or not)."""
    extra = GAP + 40
    cd_extra = multi_session([[(0, 0, None), (0, 20, None)], [(2, extra, extra - 150)]],
                             [40, extra + 30])
    stored = multi_session([[(0, 0, None), (0, 20, None)], [(2, 100, 80)]], [40, 130])
    audio = GAP + 30
    audio_session = multi_session([[(1, 0, None)], [(0, audio, audio - 150), (0, audio + 20, None)]],
                                  [30, audio + 50])
    audio_stored = multi_session([[(1, 0, None)], [(0, 70, 60), (0, 90, None)]], [30, 120])
    three = multi_session([[(0, 0, None)], [(1, 100, None)], [(0, 200, 190), (0, 220, None)]],
                          [50, 150, 250])
    nine = multi_session([[(1, k * 1000, None)] for k in range(9)],
                         [k * 1000 + 10 for k in range(9)])
    adr5 = cd_extra.replace(b"[TRACK 1]", entry(99, 1, 3, 5, 0, 99).encode() + b"[TRACK 1]")
    return {
        "cd-extra": (cd_extra, 70),
        "cd-extra-gap-stored": (stored, 130),
        "cd-extra-size-mismatch": (cd_extra, 71),
        "cd-extra-adr5-track-point": (adr5, 70),
        "cd-extra-lower-case": (cd_extra.lower(), 70),
        "cd-extra-contradictory": (cd_extra.replace(b"INDEX 1=%d" % extra, b"INDEX 1=%d" % (extra + 1)),
                                   70),
        "audio-session": (audio_session, 80),
        "audio-session-gap-stored": (audio_stored, 120),
        "three-sessions": (three, 50 + 50 + 50),
        "three-sessions-gap-stored": (three, 250),
        "nine-sessions": (nine, 90),
    }


def dats():
    """DAT files as preservation projects publish them, and broken ones."""
    doctype = ('<?xml version="1.0"?>\n<!DOCTYPE datafile PUBLIC "-//Logiqx//DTD ROM Management '
               'Datafile//EN" "http://www.logiqx.com/Dats/datafile.dtd">\n')

    def rom(name, size, crc, md5="0123456789abcdef0123456789abcdef",
            sha1="0123456789abcdef0123456789abcdef01234567"):
        return '\t\t<rom name="%s" size="%s" crc="%s" md5="%s" sha1="%s"/>\n' % (
            name, size, crc, md5, sha1)

    def game(name, roms, element="game"):
        return ('\t<%s name="%s">\n\t\t<category>Games</category>\n\t\t<description>%s'
                '</description>\n%s\t</%s>\n' % (element, name, name, "".join(roms), element))

    mixed = game("Mixed &amp; Matched (Europe)", [
        rom("Mixed &amp; Matched (Europe).cue", 300, "a1b2c3d4"),
        rom("Mixed &amp; Matched (Europe) (Track 1).bin", 2822400, "1c2d3e4f"),
        rom("Mixed &amp; Matched (Europe) (Track 2).bin", 352800, "DEADBEEF"),
        rom("Mixed &amp; Matched (Europe) (Track 3).bin", 3528000, "00000000")])
    audio = game("Tunes (Japan)", [rom("Tunes (Japan) (Track %02d).bin" % n, 2352 * (300 + n),
                                       "%08x" % (n * 0x01010101)) for n in range(1, 13)])
    header = '\t<header>\n\t\t<name>Sample - Discs</name>\n\t\t<version>1</version>\n\t</header>\n'
    whole = doctype + "<datafile>\n" + header + mixed + audio + "</datafile>\n"
    return {
        "redump-style": whole,
        "single-game": game("Alone", [rom("Alone.bin", 2352, "12345678")]),
        "machine": "<datafile>" + game("M", [rom("M.BIN", 4704, "ffffffff")], "machine") + "</datafile>",
        "bad-hashes": "<datafile>" + game("Bad", [rom("Bad.bin", "12x", "123", "xyz", "0" * 41),
                                                    rom("Bad 2.bin", "", "", "", "")]) + "</datafile>",
        "nested-games": "<datafile><game name=\"a\"><game name=\"b\"><rom name=\"b.bin\" "
                        "size=\"1\" crc=\"00000001\"/></game></game></datafile>",
        "rom-outside-game": '<datafile><rom name="x.bin" size="1" crc="00000001"/></datafile>',
        "entities": '<!DOCTYPE d [<!ENTITY a "aaaaaaaa"><!ENTITY b "&a;&a;&a;">]><d>&b;</d>',
        "cut-short": whole[:len(whole) // 2],
        "comments-cdata": "<datafile><!-- c --><game name=\"c\"><![CDATA[<rom>]]>"
                          + rom("c.bin", 1, "00000002") + "</game></datafile>",
        "unicode": "<datafile>" + game("Ünïcödé ♪ 音楽", [rom("音楽 (Track 1).bin", 2352, "abcdef01")])
                   + "</datafile>",
        "no-entries": doctype + "<datafile>" + header + "</datafile>",
        "empty": "",
    }


def cue_sheets():
    """Sheets of each layout that must place ("|" ends a line), and one for each refusal."""
    redump = ('FILE "G (Track 1).bin" BINARY|  TRACK 01 MODE1/2352|    INDEX 01 00:00:00|'
              'FILE "G (Track 2).bin" BINARY|  TRACK 02 AUDIO|    FLAGS DCP|    ISRC X|'
              '    INDEX 00 00:00:00|    INDEX 01 00:02:00|')
    two = "FILE a BINARY|TRACK 1 AUDIO|INDEX 1 00:02:00|TRACK 2 AUDIO|"
    sheets = {
        "redump-mixed": "CATALOG 1|TITLE t|PERFORMER p|SONGWRITER s|REM GENRE x|" + redump,
        "single-file": "FILE disc.bin MOTOROLA|TRACK 1 CDI/2352|INDEX 1 0:0:0|TRACK 2 AUDIO|"
        "PREGAP 0:2:0|INDEX 0 0:16:0|INDEX 1 0:18:0|POSTGAP 0:0:10|",
        "gaps-appended": two + "INDEX 0 0:20:0|FILE b BINARY|INDEX 1 0:0:0|",
        "cd-extra": "REM SESSION 01|" + redump.replace("MODE1/2352", "AUDIO") + "REM SESSION 02|"
        "FILE c BINARY|TRACK 03 MODE2/2352|INDEX 01 00:00:00|",
        "other-size-alone": "FILE d.iso BINARY|TRACK 1 MODE1/2048|INDEX 1 0:0:0|",
        "audio-in-wave": "FILE a.wav WAVE|TRACK 1 AUDIO|INDEX 1 0:0:0|",
        "audio-beside-cdg": "FILE k BINARY|TRACK 1 CDG|INDEX 1 0:0:0|TRACK 2 AUDIO|INDEX 1 0:2:0|",
        "unknown-type": "FILE u BINARY|TRACK 1 MODE9/1|INDEX 1 0:0:0|",
        "no-track": "FILE a BINARY|",
        "track-before-file": "TRACK 1 AUDIO|INDEX 1 0:0:0|",
        "track-numbers-fall": two.replace("TRACK 2", "TRACK 1"),
        "bad-index": two + "INDEX 1 00:60:75|",
        "index-out-of-order": two + "INDEX 1 0:3:0|INDEX 0 0:4:0|",
        "two-tracks-one-sector": two + "INDEX 1 00:02:00|",
        "no-index-1": two + "INDEX 0 0:3:0|",
        "index-before-track": "FILE a BINARY|INDEX 01 00:00:00|",
        "bad-gap": two + "PREGAP 2s|",
        "bad-session": "REM SESSION 02|REM SESSION 01|",
        "name-too-long": 'FILE "%s" BINARY|' % ("n" * 1100),
        "unclosed-quote": 'FILE "a.bin BINARY|',
    }
    texts = {name: text.replace("|", "\n") for name, text in sheets.items()}
    texts["crlf-bom"] = "\ufeff" + sheets["redump-mixed"].replace("|", "\r\n")
    texts["cr-lower-case"] = sheets["single-file"].lower().replace("|", "\r")
    texts["nul-byte"] = texts["redump-mixed"] + "\0" + "FILE x BINARY\n"
    return texts


def write(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "seed-" + name + ".bin"), "wb") as f:
        f.write(data)


def main():
    scan = os.path.join(HERE, "corpus", "control_scan")
    for name, data in {**realistic(150), **hostile(150)}.items():
        write(scan, name, data)
    written = set()
    for name, (data, _) in sessions().items():
        if data not in written:
            write(scan, name, data)
            written.add(data)

    job = os.path.join(HERE, "corpus", "shift_job")
    offsets = [b"-30", b"30", b"0", b"2348", b"-2348", b"2349", b"-2349", b"abc", b"",
               b" \t+12", b"99999999999", b"-588", b"1176x"]
    controls = {**realistic(1), **hostile(1)}
    for n, (name, control) in enumerate(sorted(controls.items())):
        sectors = (40 + n * 7) % 256
        tail = [0, 5, 130, 255][n % 4]
        offset = offsets[n % len(offsets)]
        write(job, name, bytes([sectors, tail, 0, n]) + offset + b"\n" + control)
    base = controls["audio-data-audio"]
    cases = {
        "backup-present": (90, 0, 1, b"-30"),
        "image-missing": (90, 0, 2, b"-30"),
        "control-missing": (90, 0, 4, b"-30"),
        "control-folder": (90, 0, 8, b"12"),
        "empty-image": (0, 0, 0, b"-30"),
        "partial-sector-only": (0, 5, 0, b"-30"),
        "largest-shift-short-region": (255, 0, 0, b"-2348"),
    }
    for name, (sectors, tail, flags, offset) in cases.items():
        write(job, name, bytes([sectors, tail, flags, 7]) + offset + b"\n" + base)
    for n, (name, (control, sectors)) in enumerate(sorted(sessions().items())):
        offset = [b"-30", b"2348", b"-2348", b"588"][n % 4]
        write(job, name, bytes([sectors, [0, 9][n % 2], 0, n]) + offset + b"\n" + control)
    write(job, "short-regions", bytes([40, 0, 0, 9]) + b"2348\n"
          + b"[TRACK 1]\nMODE=0\nINDEX 1=1\n[TRACK 2]\nMODE=1\nINDEX 1=8\n"
          + b"[TRACK 3]\nMODE=0\nINDEX 1=9\n[TRACK 4]\nMODE=1\nINDEX 1=10\n"
          + b"[TRACK 5]\nMODE=0\nINDEX 1=30\n")

    for name, text in cue_sheets().items():
        write(os.path.join(HERE, "corpus", "cue_sheet"), name,
              text.encode("utf-8"))

    for name, text in dats().items():
        write(os.path.join(HERE, "corpus", "dat"), name, text.encode("utf-8"))
    for name, data in responses().items():
        write(os.path.join(HERE, "corpus", "accuraterip"), name, data)


def responses():
    """Saved AccurateRip responses: chunks of a 13-byte header and 9 bytes per track."""
    import struct

    def chunk(ids, tracks, count=None):
        data = struct.pack("<BIII", len(tracks) if count is None else count, *ids)
        for confidence, checksum, frame in tracks:
            data += struct.pack("<BII", confidence, checksum, frame)
        return data

    ids = (0x0002189A, 0x00087F33, 0x1F02E004)
    four = [(12, 0xE6CFAD25, 0x2810BFE3), (0, 0, 0), (200, 0xB7CB77BA, 0xAEF2336D),
            (3, 0x7181354C, 0x2C775CD4)]
    good = chunk(ids, four)
    return {
        "one-chunk": good,
        "three-pressings": good + chunk(ids, four[::-1]) + chunk(ids, four[1:] + four[:1]),
        "no-tracks": chunk(ids, []),
        "ninety-nine-tracks": chunk(ids, [(n, n * 7919, n * 104729) for n in range(99)]),
        "cut-in-header": good + good[:7],
        "cut-in-track": good[:-4],
        "count-too-large": chunk(ids, four, 5),
        "second-disc": good + chunk((1, 2, 3), four),
        "empty": b"",
    }


if __name__ == "__main__":
    main()

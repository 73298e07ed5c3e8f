// Finds the DAT entry that an image is a dump of, and the shift that makes its audio tracks
// match that entry's.
#pragma once

#include <stdint.h>

#include <vector>

#include "dat.h"
#include "image_scan.h"

namespace verify {

enum class Verdict {
    NoEntryFits,     // no entry has the image's track sizes and data tracks
    AlreadyMatches,  // every track matches an entry as the image is
    NoAudioMatch,    // an entry fits, but no shift makes any of its audio tracks match
    NotCertain,      // another shift matches as many audio tracks as the best one
    ShiftFound,      // one shift matches more audio tracks than any other
};

struct TrackMatch {
    bool sizeFits = false;
    bool asIs = false;     // size, CRC32 and SHA-1 equal as the image is
    bool shifted = false;  // the same after the best shift (ShiftFound only)
};

struct ShiftFinding {
    Verdict verdict = Verdict::NoEntryFits;
    int32_t entry = -1;   // the entry found, or the closest one when none fits
    int32_t shift = 0;    // the best shift
    int32_t matched = 0;  // audio tracks that match after it
    int32_t audioTracks = 0;
    std::vector<int32_t> tiedShifts;  // NotCertain: shifts that match as many as `shift`
    std::vector<TrackMatch> tracks;   // against `entry`, one per image track
};

// True when the track's size and hashes equal the DAT's: the CRC32, and the SHA-1 where the
// DAT gives one.
bool RomMatches(const DatRom& rom, int64_t size, const TrackHashes& hashes);

// Searches every shift from `minShift` to `maxShift` (within what `scan` was run for) over the
// entries of `dat` that fit the image. Hits by CRC32 are confirmed by SHA-1, reading the
// shifted tracks from the image. Fails only when that read fails.
ScanResult FindShift(const Dat& dat, const ImageScan& scan, int32_t minShift, int32_t maxShift,
                     ShiftFinding& finding);

}  // namespace verify

// The evidence that an image holds of the offset it was dumped with: the scrambled tail of a
// data sector at the start of the audio after it, data sync patterns near the audio's edges,
// and the shifts that leave its stored pregaps silent.
#pragma once

#include <stdint.h>

#include <utility>
#include <vector>

#include "image_scan.h"
#include "job_layout.h"

namespace verify {

// ECMA-130's scrambler over bytes 12..2351 of a sector: 2340 bytes.
const uint8_t* ScramblerTable();

// The audio region of `track` begins with the last `bytes` bytes of the data sector before it,
// scrambled: the drive read the audio late.
struct ScrambledTail {
    int32_t track;
    int64_t bytes;
    int32_t shift;  // -bytes / 4
};

// A data sector's sync pattern at byte `position` of the image, in the audio, whose header
// gives disc address `address`.
struct SyncFound {
    int64_t position;
    int64_t address;
    int32_t shift;  // the shift that puts it where the address says
};

struct OffsetEvidence {
    int32_t dataBeforeAudio = 0;  // audio regions that follow a data sector
    std::vector<ScrambledTail> tails;
    std::vector<SyncFound> syncs;
    int32_t pregaps = 0;                                    // stored pregaps of audio tracks
    std::vector<std::pair<int32_t, int32_t>> silentShifts;  // ranges that leave them all silent
};

// Reads only the sectors around each audio region's edges and its tracks' pregaps.
ScanResult DetectOffsets(const JobLayout& job, OffsetEvidence& evidence);

}  // namespace verify

// BIN/CUE sets for tests: random sectors held in one file, one file per track (redump) or files
// that break between INDEX 00 and INDEX 01 (gaps appended), with their cue sheet, and what
// shifting them must give by the image model applied to the stream of the files.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "image_model.h"

namespace testing_support {

struct CueTrack {
    bool audio;
    int64_t sectors;      // in the files: from its first index to the next track's
    int64_t index0 = 0;   // of those, the sectors before INDEX 01 (an INDEX 00 line when > 0)
    int32_t session = 1;  // a REM SESSION line where it changes
    int64_t pregap = 0;   // a PREGAP line: sectors on the disc that no file holds
};

enum class CueLayout { Split, SingleFile, GapsAppended };

struct CueSet {
    model::Bytes stream;                                   // the files one after the other
    std::vector<std::string> files;                        // their names, in stream order
    std::vector<std::pair<int64_t, int64_t>> fileSectors;  // [first, end) of each in the stream
    std::vector<std::pair<int64_t, int64_t>> runs;  // audio runs: cut at data, sessions, gaps
};

// Writes the set as STEM.cue and its files in `folder`.
CueSet PlaceCueSet(const std::string& folder, const std::string& stem,
                   const std::vector<CueTrack>& tracks, CueLayout layout, uint32_t seed);

// The stream after shifting by `shift` samples: the image model applied to each audio run alone.
model::Bytes ExpectedStream(const CueSet& set, int32_t shift);

// File `file` of the set cut from `stream`.
model::Bytes FileBytes(const CueSet& set, const model::Bytes& stream, size_t file);

}  // namespace testing_support

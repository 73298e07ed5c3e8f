// An independent model of a shifted image, for checking what the rewriter writes.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace model {

using Bytes = std::vector<uint8_t>;

// Which of the first `sectors` sectors are audio when the boundaries (audio start, data start,
// ...) are passed at most one per sector, each once its sector number is reached.
std::vector<bool> AudioSectors(const std::vector<int32_t>& boundaries, int64_t sectors);

// The same from audio regions given as [first, end) sector ranges.
std::vector<bool> AudioSectorsFromRanges(const std::vector<std::pair<int64_t, int64_t>>& ranges,
                                         int64_t sectors);

// A session of a multi-session disc, by disc addresses: where its first track starts (INDEX 1)
// and where its lead-out starts.
struct Session {
    int64_t firstTrack;
    int64_t leadOut;
};

// Where disc address `address` lies in an image that leaves out what lies between sessions: the
// image holds the first session from address 0 to its lead-out, then each further session from
// its first track's start to its lead-out, one after the other. An address between two sessions
// lies where the session after it starts.
int64_t SectorWithoutGaps(const std::vector<Session>& sessions, int64_t address);

// The image expected after moving the audio of `source` by `shiftSamples`: only the sectors
// that `audio` covers are written (a shorter `audio` models a cancelled job), each run of audio
// sectors moved within itself and filled with silence, data sectors unchanged.
Bytes ExpectedImage(const Bytes& source, const std::vector<bool>& audio, int32_t shiftSamples);

Bytes ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const Bytes& bytes);

}  // namespace model

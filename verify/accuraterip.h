// AccurateRip: the disc id, a saved response of the database, and the checksums of each audio
// track at every offset of a range from one read of the image.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "digest.h"
#include "image_scan.h"
#include "job_layout.h"
#include "shift_search.h"

namespace verify {

struct DiscId {
    int32_t audioTracks = 0;
    uint32_t id1 = 0;
    uint32_t id2 = 0;
    uint32_t cddb = 0;
};

bool operator==(const DiscId& a, const DiscId& b);

// A track by the address of its INDEX 1 on the disc.
struct DiscAddress {
    bool audio;
    int64_t address;
};

// The id of a disc of `tracks` in order whose last lead-out starts at `leadOut`.
DiscId ComputeDiscId(const std::vector<DiscAddress>& tracks, int64_t leadOut);
// "004-0002189a-00087f33-1f02e004"
std::string DiscIdText(const DiscId& id);
// "dBAR-004-0002189a-00087f33-1f02e004.bin"
std::string ResponseFileName(const DiscId& id);
// Where the database keeps it: "a/9/8/" from id1's last three hex digits, last first.
std::string ResponseFolder(const DiscId& id);

// One pressing's checksums in a response, per audio track.
struct ResponseTrack {
    uint8_t confidence;
    uint32_t checksum;  // v1 or v2, unlabelled
    uint32_t frame450;
};

struct ResponseChunk {
    DiscId id;
    std::vector<ResponseTrack> tracks;
};

enum class ResponseStatus {
    Loaded,
    CannotOpen,
    ReadFailed,
    Empty,
    Truncated,    // a chunk ends early, at `offset`
    Mislabelled,  // a chunk's disc id differs from the first one's or from the file's name
    TooLarge,     // more than a response holds
};

struct ResponseLoad {
    ResponseStatus status = ResponseStatus::Loaded;
    int systemError = 0;
    int64_t offset = 0;
    DiscId expected;  // Mislabelled: the id that the chunk at `offset` should carry
    DiscId found;
};

// Reads the chunks of a response; `named` (when given) is the id that the file's name carries.
// Keeps nothing from a response it refuses.
ResponseLoad ParseResponse(const uint8_t* bytes, size_t size, const DiscId* named,
                           std::vector<ResponseChunk>& chunks);
ResponseLoad LoadResponse(const char* path, std::vector<ResponseChunk>& chunks);
// The id that a "dBAR-NNN-xxxxxxxx-xxxxxxxx-xxxxxxxx.bin" name carries; false for other names.
bool IdFromFileName(const char* path, DiscId& id);

// A track from its INDEX 1 to the next track's, the last one of an audio region to its end.
struct ChecksumTrack {
    int32_t number;
    bool audio;
    int64_t first;  // samples of the image
    int64_t end;
    int64_t regionFirst;  // audio: the audio region that the shift job moves it in
    int64_t regionEnd;
    int64_t countFirst;  // the multipliers that count: 2940 on the disc's first audio track
    int64_t countLast;   // and n - 2940 on its last
};

// What one read of the image gives of a track at offset 0, with `withHashes`.
struct TrackSums {
    uint32_t crc = 0;
    uint32_t v2 = 0;
};

class ChecksumScan {
  public:
    // Places the tracks as `job` gives them and reads their audio once, keeping the running sums
    // near every edge that an offset of up to `maxShift` samples either way reaches. With
    // `withHashes` it also takes each track's CRC32 and v2 and the offset-free SHA-1 of the audio.
    ScanResult Run(const JobLayout& job, int32_t maxShift, bool withHashes);

    const std::vector<ChecksumTrack>& Tracks() const { return tracks_; }
    const DiscId& Id() const { return id_; }
    const TrackSums& Sums(size_t track) const { return sums_[track]; }
    const Sha1& AudioSha1() const { return audioSha1_; }
    bool HasAudio() const { return hasAudio_; }

    // The checksums of track `track` read `offset` samples later in the image (|offset| <=
    // maxShift): silence where that leaves its audio region, as the shift job by -offset makes it.
    uint32_t V1(size_t track, int32_t offset) const;
    uint32_t Frame450(size_t track, int32_t offset) const;
    // v2 at each of `offsets`, reading the track.
    ScanResult V2(size_t track, const std::vector<int32_t>& offsets,
                  std::vector<uint32_t>& v2) const;

  private:
    struct SumWindow {
        int64_t first;
        std::vector<uint32_t> sum;          // Σ x over samples before first + k
        std::vector<uint32_t> weightedSum;  // Σ i·x
    };

    ScanResult PlaceTracks(const JobLayout& job);
    void PlanWindows();
    ScanResult ReadAudio(bool withHashes);
    // Σ (i - base)·x over samples [from, to) of the region, clamped to it.
    uint32_t WeightedRange(const ChecksumTrack& track, int64_t from, int64_t to,
                           int64_t base) const;

    ImageSource image_;
    int64_t reach_ = 0;  // samples
    std::vector<ChecksumTrack> tracks_;
    std::vector<SectorRange> regions_;  // samples
    std::vector<SumWindow> windows_;
    std::vector<TrackSums> sums_;
    DiscId id_;
    Sha1 audioSha1_{};
    bool hasAudio_ = false;
};

// How an audio track matches a response at one shift.
struct ArMatch {
    bool matched = false;
    bool v2 = false;         // by its v2 checksum, else by its v1
    int32_t confidence = 0;  // the highest of the chunks that it matches
};

struct ArFinding {
    Verdict verdict = Verdict::NoAudioMatch;  // never NoEntryFits
    int32_t shift = 0;                        // the best shift
    int32_t matched = 0;                      // audio tracks that match after it
    int32_t audioTracks = 0;
    int64_t confidence = 0;           // summed over the tracks that match
    std::vector<int32_t> tiedShifts;  // NotCertain: other shifts that match as many (a few)
    int32_t tiedCount = 0;            // how many other shifts match as many
    std::vector<ArMatch> asIs;        // per track of the scan
    std::vector<ArMatch> shifted;     // after `shift`
};

// Searches every shift from `minShift` to `maxShift` (within what `scan` was run for): the v1
// of each audio track at every shift from the running sums, its v2 where its v1 or its
// frame-450 checksum points. The response must be the disc's (ids compared before).
ScanResult FindArShift(const std::vector<ResponseChunk>& response, const ChecksumScan& scan,
                       int32_t minShift, int32_t maxShift, ArFinding& finding);

}  // namespace verify

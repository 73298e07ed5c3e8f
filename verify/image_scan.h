// Reads a raw image once and keeps what it takes to know the CRC32 of every track file as the
// shift job would write it, for every shift of a range, without reading the image again.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "digest.h"

class File;

namespace verify {

// Where a track begins in the image: its first index (INDEX 0 when present, else INDEX 1).
struct TrackStart {
    int32_t number;
    bool audio;
    int64_t firstSector;
    bool opensSession = false;  // the first track of a later session: the gap lies before it
};

// Sectors [first, end) of the image.
struct SectorRange {
    int64_t first;
    int64_t end;
};

// One file of an image held in several, one after the other.
struct ImageFile {
    std::string path;
    int64_t sectors;
};

// The tracks in image order and the runs of audio sectors that the shift job moves, and the files
// that hold the image (none: the one file that the readers are given).
struct ImageLayout {
    std::vector<TrackStart> tracks;
    std::vector<SectorRange> audioRegions;
    std::vector<ImageFile> files = {};
};

// A track file as DAT files cut the image: from its track's first index to the next track's,
// the last one to the image's last whole sector.
struct ImageTrack {
    int32_t number;
    bool audio;
    int64_t first;  // bytes
    int64_t end;
    int32_t region;  // the audio region that moves it, or -1: the shift job leaves it alone
    bool opensSession;
    TrackHashes asIs;  // MD5 only when the scan was asked for it
};

enum class ScanStatus {
    Done,
    CannotOpen,
    ReadFailed,  // a read failed or the image became shorter while it was read
    NoTracks,
    TracksOutOfOrder,   // `track` starts at or before the track before it
    TrackPastEnd,       // `track` starts at or past the image's last whole sector
    CrossesRegionEdge,  // `track` lies partly in an audio region, partly outside
    DataInAudioRegion,  // the shift job would move data track `track`
};

struct ScanResult {
    ScanStatus status = ScanStatus::Done;
    int systemError = 0;
    int32_t track = 0;
};

// Receives image bytes [position, position + size) in order.
using ChunkReader = std::function<void(const uint8_t* bytes, int64_t position, int32_t size)>;

// Where an image's bytes are: the one file at `path`, or `files` one after the other.
struct ImageSource {
    std::string path;
    std::vector<ImageFile> files;
};

// Reads bytes [first, end) of the image in chunks, each passed to `take`: the one place where the
// image commands read image bytes, across the files of a set through the core's stream of them.
// Fails when the image cannot be opened or read, or holds fewer bytes.
ScanResult ReadImageBytes(const ImageSource& image, int64_t first, int64_t end,
                          const ChunkReader& take);
// The whole sectors of the image, or the failure to open it.
ScanResult MeasureImage(const ImageSource& image, int64_t* sectors);

// Silence that a shift writes into a track, in bytes: at its start (when the audio moves toward
// the end) or at its end (when it moves toward the start).
struct TrackSilence {
    int64_t atStart;
    int64_t atEnd;
};

class ImageScan {
  public:
    // Splits the image at `imagePath` into track files and reads it once: each track's CRC32
    // and SHA-1 (and MD5 when `withMd5`), and the running CRC around every track edge that a
    // shift of up to `maxShift` samples either way moves across.
    ScanResult Run(const std::string& imagePath, const ImageLayout& layout, int32_t maxShift,
                   bool withMd5);

    const std::vector<ImageTrack>& Tracks() const { return tracks_; }
    int64_t ImageBytes() const { return imageBytes_; }
    // The audio region of the track, in bytes.
    SectorRange RegionBytes(size_t track) const { return regions_[tracks_[track].region]; }

    // The CRC32 of track `track` as the shift job writes it with `shift` (|shift| <= maxShift).
    uint32_t ShiftedCrc(size_t track, int32_t shift) const;
    TrackSilence Silence(size_t track, int32_t shift) const;
    // Reads track `track` as the shift job writes it with `shift`; its CRC32 and SHA-1.
    ScanResult HashShifted(size_t track, int32_t shift, TrackHashes& hashes) const;

  private:
    // The running CRC of the image at every fourth byte of [first, first + 4 × (size - 1)].
    struct CrcWindow {
        int64_t first;
        std::vector<uint32_t> prefix;
    };
    // Where the bytes of a shifted track come from: silence, image bytes [from, to), silence.
    struct Source {
        int64_t silenceBefore;
        int64_t from;
        int64_t to;
        int64_t silenceAfter;
    };

    ScanResult CheckLayout(const ImageLayout& layout, int64_t imageSectors);
    void PlanWindows();
    ScanResult ReadImage(bool withMd5);
    uint32_t PrefixAt(int64_t position) const;
    uint32_t LengthOperator(size_t track, int64_t length) const;
    Source SourceOf(size_t track, int32_t shift) const;

    ImageSource image_;
    int64_t imageBytes_ = 0;
    int64_t reach_ = 0;  // bytes that the largest shift moves
    std::vector<ImageTrack> tracks_;
    std::vector<SectorRange> regions_;  // bytes
    std::vector<CrcWindow> windows_;
    // Per moved track: the CRC operators for its length less 0, 4, 8, ... bytes.
    std::vector<std::vector<uint32_t>> lengthOperators_;
    // For 0, 4, 8, ... zero bytes: their CRC and the operator for their length.
    std::vector<uint32_t> zeroCrc_;
    std::vector<uint32_t> zeroOperator_;
};

}  // namespace verify

// DAT files as disc preservation projects publish them (Logiqx XML): entries (<game> or
// <machine>) with one <rom> per file, each with its size, CRC32, MD5 and SHA-1.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "digest.h"

namespace verify {

// One track file of an entry. A hash the DAT does not give, or gives malformed, is absent.
struct DatRom {
    std::string name;
    int64_t size = -1;  // -1 when absent or not a number
    bool hasCrc = false;
    bool hasMd5 = false;
    bool hasSha1 = false;
    TrackHashes hashes;
};

// An entry keeps only its track files (names ending in ".bin"), in the DAT's order.
struct DatEntry {
    std::string name;
    std::vector<DatRom> tracks;
};

struct Dat {
    std::vector<DatEntry> entries;  // those with at least one track file
};

enum class DatStatus {
    Loaded,
    CannotOpen,  // `systemError` says why; anything but a regular file is refused unopened
    ReadFailed,
    Cancelled,         // `cancelled` said so between two pieces
    NotWellFormed,     // `line`, `column` and `detail` say where and what
    DeclaresEntities,  // refused: entity expansion is not needed and only costs memory
    NoEntries,         // well-formed, but no entry lists a track file
};

struct DatLoad {
    DatStatus status = DatStatus::Loaded;
    int systemError = 0;
    int64_t line = 0;
    int64_t column = 0;
    std::string detail;
};

// Parses a whole DAT held in memory.
DatLoad ParseDat(const char* text, size_t size, Dat& dat);
// Reads and parses the DAT file at `path`, streaming it; `cancelled` (when given) is asked between
// pieces, and stops the load when it says true.
DatLoad LoadDat(const std::string& path, Dat& dat,
                const std::function<bool()>& cancelled = nullptr);

// True for the names of track files: ".bin" at the end, in any case.
bool IsTrackFileName(const std::string& name);

}  // namespace verify

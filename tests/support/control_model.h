// An independent reading of a control file, for judging what the program makes of it: the lines
// as the program reads them (at most 1023 bytes each, up to the first NUL byte), their words, the
// audio and data regions that the track sections give, the table of contents, and where all of
// it lies in an image of a given size.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

namespace model {

// A word of a line: a run of ASCII letters and digits.
struct Word {
    std::string text;
    bool minus;  // written right after a minus sign
};

// One track section: from its TRACK line to the next.
struct ControlTrack {
    int32_t number;                                  // from its TRACK line, 0 without one
    std::vector<std::pair<int32_t, int32_t>> index;  // (index number, address) in file order
    bool negative;                                   // an address written with a minus sign
};

// One [Entry n] section; -1 for a value that it does not give.
struct TocEntry {
    int32_t session = -1;
    int32_t point = -1;
    int32_t adr = -1;
    int32_t pMin = -1;
    int32_t pLba = -1;
    bool unreadable = false;  // a value that is not a decimal or 0x number of 32 bits
};

struct ControlReading {
    // Disc addresses where audio regions (even entries) and data regions (odd entries) begin.
    std::vector<int32_t> boundaries;
    bool regionLeftOut = false;  // an audio region after the 99th
    std::vector<ControlTrack> tracks;
    bool hasEntries = false;
    std::vector<TocEntry> entries;
    int32_t declaredSessions = -1;  // [Disc] Sessions=; 0 when not a number
};

// The lines of a control file as the program reads them: a line ends at LF, CR or CR LF, at the
// first NUL byte (which also ends the file) or after 1023 bytes, whichever comes first.
std::vector<std::string> ControlLines(const std::string& bytes);

// The words of a line, the first 16 of them.
std::vector<Word> ControlWords(const std::string& line);

ControlReading ReadControl(const std::string& bytes);

enum class Placement {
    SingleSession,
    GapLeftOut,
    GapStored,
    SizeMismatch,
    Contradictory,
    IndexPastImage,  // single-session, yet an INDEX of one of its first 99 tracks is past the image
};

struct PlacedReading {
    Placement placement;
    std::vector<int32_t> boundaries;  // as image sectors, when placed
};

// Where the reading puts its regions in an image of `sectors` whole sectors. A file whose table of
// contents names no session after the first is read as a single session: its addresses are image
// sectors, all of which must lie in the image. Otherwise the sessions (first track's start F and
// lead-out L of each) must agree with themselves and the tracks, and the image must hold either
// every sector up to the last lead-out or only the sessions, one after the other (see
// SectorWithoutGaps).
PlacedReading PlaceReading(const ControlReading& reading, int64_t sectors);

}  // namespace model

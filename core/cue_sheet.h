// Reads a cue sheet (the text beside BIN/CUE images) into fixed tables: the files that hold the
// disc, their tracks with indexes relative to their file, the unstored gaps and the sessions, and
// places them in the stream of sectors that the files make one after the other.
#pragma once

#include <stdint.h>

#include "control_scan.h"  // MAX_TRACKS, NOT_GIVEN
#include "text.h"

class File;
class JobHost;

// One file per track at most, as split sets have them.
constexpr int32_t MAX_SHEET_FILES = MAX_TRACKS;

// What the FILE line says of the bytes: raw sectors, little-endian (BINARY) or big-endian
// (MOTOROLA) audio, or a kind that is not raw sectors (WAVE, MP3, AIFF, ...).
enum class SheetFileType { Binary, Motorola, Other };

// What the TRACK line says: its kind and how many bytes each of its sectors takes in its file.
enum class SheetTrackType {
    Audio,      // AUDIO: 2352
    Mode1,      // MODE1/2352
    Mode2,      // MODE2/2352
    Cdi,        // CDI/2352
    OtherSize,  // MODE1/2048, MODE2/2336, CDG (2448), CDI/2336, ...: `sectorSize` says
    Unknown,    // a type the reader does not know
};

struct SheetFile {
    char name[PATH_BUFFER_SIZE];  // as the sheet writes it, quotes removed
    SheetFileType type;
    int32_t line;            // of its FILE line, from 1
    int32_t lastIndex;       // its last (highest) INDEX value; NOT_GIVEN without any
    int32_t lastIndexTrack;  // the number of the track that INDEX belongs to; 0 without
};

struct SheetTrack {
    int32_t number;  // from its TRACK line
    SheetTrackType type;
    int32_t sectorSize;  // bytes per sector in its file; 0 when unknown
    int32_t file;        // the index in `files` of the FILE line its first INDEX follows
    int32_t session;     // from the last REM SESSION before it; 1 without any
    int32_t index0;      // sectors from the start of its file; NOT_GIVEN without the index
    int32_t index1;
    int32_t index1File;  // the file of INDEX 01: the next file where the files break between
                         // INDEX 00 and INDEX 01 ("gaps appended"), else `file`
    int32_t pregap;      // PREGAP and POSTGAP: sectors on the disc that no file stores; 0 without
    int32_t postgap;
    int32_t line;  // of its TRACK line
};

enum class SheetProblem {
    None,
    ReadFailed,        // the sheet could not be read to its end
    NoTracks,          // no TRACK line
    TooManyFiles,      // more than MAX_SHEET_FILES FILE lines
    TooManyTracks,     // more than MAX_TRACKS TRACK lines
    TrackBeforeFile,   // a TRACK line before any FILE line
    BadTrackNumber,    // not 1..99, or not above the track before it
    BadIndex,          // an INDEX line that is not "INDEX nn mm:ss:ff" with ss < 60, ff < 75
    IndexOutOfOrder,   // INDEX values of one file that go backwards, or two tracks on a sector
    NoIndex1,          // a track without INDEX 01
    IndexBeforeTrack,  // INDEX, PREGAP or POSTGAP before any TRACK line
    BadGap,            // a PREGAP or POSTGAP that is not mm:ss:ff
    BadSession,        // REM SESSION that is not a number above the one before
    NameTooLong,       // a file name that does not fit the path buffers
    BadFile,           // a FILE line without a name or a type, or with an unclosed quote
};

struct CueSheet {
    SheetFile files[MAX_SHEET_FILES];
    int32_t fileCount;
    SheetTrack tracks[MAX_TRACKS];
    int32_t trackCount;
    int32_t sessions;  // the highest REM SESSION, 1 without any
    SheetProblem problem;
    int32_t problemLine;  // where the problem is, from 1; 0 when it is not on one line
    bool cancelled;       // the host's busy flag was clear: the scan stopped before the end
};

// Reads the cue sheet from `file` through the TEXT_BUFFER_SIZE `buffer` (a BOM, LF, CR LF and CR
// line ends, quoted and unquoted names, keywords in any case; CATALOG, ISRC, FLAGS, TITLE,
// PERFORMER, SONGWRITER and other REM lines are skipped). With a `host`, stops where its busy
// flag is clear, as the control-file scan does.
void ReadCueSheet(File& file, char* buffer, CueSheet& sheet, JobHost* host = nullptr);

// Why a sheet cannot be placed in its files; `file` or `track` of the placement names which.
enum class PlacementProblem {
    None,
    NotWholeSectors,  // a file of 2352-byte sectors whose size is not a multiple of them
    IndexPastEnd,     // a track whose INDEX lies at or past the end of its file
    AudioNotRaw,      // audio in a file that is not raw sectors (WAVE, ...), or in a file that
                      // also holds sectors of another size (CDG, MODE1/2048, ...)
    OtherSectorSize,  // a file of other sector sizes: cannot be placed sector for sector
    Overlap,          // two tracks claim one sector
};

// The sheet's files laid one after the other as one stream of 2352-byte sectors (the image).
struct CuePlacement {
    int64_t fileFirst[MAX_SHEET_FILES];    // stream sector where each file begins
    int64_t fileSectors[MAX_SHEET_FILES];  // its whole sectors
    int64_t trackFirst[MAX_TRACKS];  // stream sector of each track's first index (INDEX 0 when
                                     // given, else INDEX 1)
    int64_t trackIndex1[MAX_TRACKS];
    int64_t streamSectors;
    PlacementProblem problem;
    int32_t file;   // the file the problem is in, or -1
    int32_t track;  // the track number it is in, or 0
};

// Places a sheet read without a problem, given each file's size in bytes (in `files` order).
// Returns true when every track fits; otherwise `placement.problem` says why.
bool PlaceCueSheet(const CueSheet& sheet, const int64_t* fileBytes, CuePlacement& placement);

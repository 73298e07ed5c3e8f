// Reads a control file line by line and finds where the image switches between data and audio,
// which tracks it holds and, for a multi-session disc, where each session lies.
#pragma once

#include <stdint.h>

#include "text.h"

class File;
class JobHost;

// Sector numbers where audio and data regions begin, alternately, closed by END_SENTINEL.
constexpr int32_t BOUNDARY_LIST_SIZE = 200;
constexpr int32_t END_SENTINEL = 0x7FFFFFFF;
using BoundaryList = int32_t[BOUNDARY_LIST_SIZE];

constexpr int32_t TOKEN_TABLE_SIZE = 16;
// Room for 99 audio regions, each closed, and the sentinel behind them.
constexpr int32_t MAX_BOUNDARIES = BOUNDARY_LIST_SIZE - 2;

// A disc holds at most 99 tracks; a multi-session one is placed only up to this many sessions.
constexpr int32_t MAX_TRACKS = 99;
constexpr int32_t MAX_SESSIONS = 8;
// A value that the control file does not give.
constexpr int32_t NOT_GIVEN = -1;
// A scan given a host looks at its busy flag every this many lines.
constexpr int32_t CANCEL_CHECK_LINES = 1024;

// One track section as the file gives it: addresses on the disc, not yet placed in the image.
struct ScannedTrack {
    int32_t number;  // from its TRACK line; 0 without one
    int32_t mode;    // in effect at its first INDEX line (0 is audio), at its end without one
    int32_t index0;  // the first INDEX 0 and INDEX 1 values, NOT_GIVEN without
    int32_t index1;
    int32_t lowest;  // the lowest and highest of its INDEX values; lowest > highest without any
    int32_t highest;
};

// What the table of contents ([Entry n] sections with ADR 1) says of one session.
struct TocSession {
    int32_t firstTrack;  // point 0xA0: the number of its first track; NOT_GIVEN when not listed
    int32_t leadOut;     // point 0xA2: where its lead-out starts; NOT_GIVEN when not listed
};

// What the table of contents says of one track (points 1 to 99).
struct TocTrack {
    int32_t session;  // 0 when the table of contents does not list the track
    int32_t start;
};

// Everything the scan takes from a control file, in fixed tables.
struct ControlScan {
    BoundaryList boundaries;  // the disc addresses where audio and data regions begin
    int32_t boundaryCount;
    bool boundariesDropped;  // a boundary that the list had no room for was left out
    ScannedTrack tracks[MAX_TRACKS];
    int32_t trackCount;
    bool tracksDropped;  // track sections beyond MAX_TRACKS were left out of `tracks`
    bool negativeIndex;  // an INDEX value written with a minus sign, which the list records without

    bool hasEntries;           // the file has [Entry n] sections
    int32_t declaredSessions;  // [Disc] Sessions=; NOT_GIVEN when absent, 0 when not a number
    int32_t lastSession;       // the highest session that an entry with ADR 1 names
    bool entriesContradict;    // entries that disagree, lack a value or give one out of range
    TocSession sessions[MAX_SESSIONS + 1];  // by session number; entry 0 unused
    TocTrack toc[MAX_TRACKS + 1];           // by track number; entry 0 unused

    bool cancelled;  // the host's busy flag was clear: the scan stopped before the file's end
};

// Reads one line into the TEXT_BUFFER_SIZE buffer, ended by NUL in place of LF, CR or CR LF, and
// leaves the file at the byte after the line. Returns the bytes consumed from the file, 0 at the
// end of the file or at a NUL byte in it.
int32_t ReadControlLine(File& file, char* buffer);

// Cuts the line in place into runs of ASCII letters and digits; fills `table` with their
// positions, at most TOKEN_TABLE_SIZE of them, and `minus` (when given) with whether each comes
// right after a minus sign, which the cut may overwrite. Returns how many it holds.
int32_t SplitTokens(char* line, char** table, bool* minus = nullptr);

// Reads the control file from its start to its end through `buffer` and fills `scan`. The
// boundaries are the sector numbers where audio regions (even entries) and data regions (odd
// entries) begin, as the INDEX lines give them, closed by END_SENTINEL. With a `host`, a scan
// stops where it finds the host's busy flag clear (it pumps no messages), so that a very long
// file can be cancelled; a scan that reads the file to its end gives the same either way.
void ScanControlFile(File& file, char* buffer, ControlScan& scan, JobHost* host = nullptr);

// The same scan, keeping only the boundaries. Returns their number.
int32_t ScanControlFile(File& file, char* buffer, BoundaryList& list);

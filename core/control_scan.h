// Reads a control file line by line and finds where the image switches between data and audio.
#pragma once

#include <stdint.h>

#include "text.h"

class File;

// Sector numbers where audio and data regions begin, alternately, closed by END_SENTINEL.
constexpr int32_t BOUNDARY_LIST_SIZE = 200;
constexpr int32_t END_SENTINEL = 0x7FFFFFFF;
using BoundaryList = int32_t[BOUNDARY_LIST_SIZE];

constexpr int32_t TOKEN_TABLE_SIZE = 16;
// Room for 99 audio regions, each closed, and the sentinel behind them.
constexpr int32_t MAX_BOUNDARIES = BOUNDARY_LIST_SIZE - 2;

// Reads one line into the TEXT_BUFFER_SIZE buffer, ended by NUL in place of LF, CR or CR LF, and
// leaves the file at the byte after the line. Returns the bytes consumed from the file, 0 at the
// end of the file or at a NUL byte in it.
int32_t ReadControlLine(File& file, char* buffer);

// Cuts the line in place into runs of ASCII letters and digits; fills `table` with their
// positions, at most TOKEN_TABLE_SIZE of them. Returns how many it holds.
int32_t SplitTokens(char* line, char** table);

// Reads the control file from its start to its end through `buffer` and fills `list` with the
// sector numbers where audio regions (even entries) and data regions (odd entries) begin,
// closed by END_SENTINEL. Returns the number of boundaries.
int32_t ScanControlFile(File& file, char* buffer, BoundaryList& list);

// Copies the image sector by sector, moving the audio of every audio region by the byte shift.
#pragma once

#include <stdint.h>

#include "sector.h"

class File;
class JobHost;

// Sectors read into user memory per system call; a divisor of PROGRESS_INTERVAL. Larger reads
// are cheaper, but on Windows jobs can nest inside the message pump on a 1 MiB stack.
#ifdef _WIN32
constexpr int32_t CHUNK_SECTORS = 64;
#else
constexpr int32_t CHUNK_SECTORS = 256;
#endif
// Room before the sectors read, for the audio that a positive shift (negative byte shift) holds
// back from one read to the next.
constexpr int32_t LEAD_IN_SIZE = 4 * SECTOR_SIZE;

struct WorkArea {
    uint8_t bytes[LEAD_IN_SIZE + CHUNK_SECTORS * SECTOR_SIZE];
};

enum class RewriteStatus { Finished, Cancelled, ReadFailed, WriteFailed };

struct RewriteOutcome {
    RewriteStatus status;
    int32_t sectors;       // sectors processed, and so whole sectors in the target
    int32_t totalSectors;  // whole sectors in the source
    int32_t audioRegions;  // runs of audio sectors met
    int32_t error;         // the system's code when a read or write failed
};

// Rewrites `source` (open at its start) into `target` (open, empty). Within each run of audio
// sectors the output is the run's bytes from `byteShift` on followed by silence (byteShift > 0),
// or silence followed by the run without its last -byteShift bytes (byteShift < 0). Data
// sectors are copied unchanged. A trailing partial sector is not copied. Every
// PROGRESS_INTERVAL sectors it shows progress, pumps messages and stops if the host's busy flag
// is clear. `chunkSectors` (1..CHUNK_SECTORS) is for tests that force small reads.
RewriteOutcome RewriteSectors(File& source, File& target, int32_t byteShift,
                              const BoundaryList& list, WorkArea& work, JobHost& host,
                              int32_t chunkSectors = CHUNK_SECTORS);

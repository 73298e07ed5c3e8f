// Copies the image sector by sector, moving the audio of every audio region by the byte shift.
#pragma once

#include <stdint.h>

#include "control_scan.h"
#include "disc_plan.h"
#include "job_host.h"
#include "sector.h"
#include "shift_job.h"  // MAX_BYTE_SHIFT

class DiscReader;
class File;

// The most whole sectors that an image may hold: sector numbers stay below END_SENTINEL and are
// counted in 32 bits (about 5 TB).
constexpr int64_t MAX_IMAGE_SECTORS = END_SENTINEL - 1;

// Most sectors that one copy between the files covers; runs end at progress points anyway.
constexpr int32_t CHUNK_SECTORS = PROGRESS_INTERVAL;
// Copies go through this buffer where the system cannot copy between the files itself; the
// bytes that a shift drops from a region are read into it, so that every byte is read.
constexpr int32_t WORK_SECTORS = 64;

struct WorkArea {
    uint8_t bytes[WORK_SECTORS * SECTOR_SIZE];
};
static_assert(sizeof(WorkArea) >= MAX_BYTE_SHIFT, "the dropped bytes of a region must fit");

// The runs of audio sectors that `list` makes of an image of `totalSectors` whole sectors, in
// image order: boundary k is passed at the first sector that reaches its number and lies after
// the sector where boundary k - 1 was passed; END_SENTINEL is never passed. Returns how many
// there are, at most MAX_AUDIO_RUNS.
int32_t ListAudioRuns(const BoundaryList& list, int64_t totalSectors,
                      AudioRun (&runs)[MAX_AUDIO_RUNS]);

enum class RewriteStatus { Finished, Cancelled, ReadFailed, WriteFailed };

struct RewriteOutcome {
    RewriteStatus status;
    int32_t sectors;       // sectors processed, and so whole sectors in the target
    int32_t totalSectors;  // whole sectors in the source
    int32_t audioRegions;  // runs of audio sectors met
    int32_t error;         // the system's code when a read or write failed
};

// Rewrites `source` into `target` (open, empty), which is written from start to end; where the
// source's file position stands does not matter. |byteShift| is at most MAX_BYTE_SHIFT. Within each
// run of audio sectors the output is the run's bytes from `byteShift` on followed by silence
// (byteShift > 0), or silence followed by the run without its last -byteShift bytes
// (byteShift < 0). Data sectors are copied unchanged. A trailing partial sector is not copied.
// Every PROGRESS_INTERVAL sectors it shows progress, pumps messages and stops if the host's busy
// flag is clear. A source whose size is not the same at the end as at the start fails as a
// read. `chunkSectors` (1..CHUNK_SECTORS) is for tests that force small copies.
RewriteOutcome RewriteSectors(File& source, File& target, int32_t byteShift,
                              const BoundaryList& list, WorkArea& work, JobHost& host,
                              int32_t chunkSectors = CHUNK_SECTORS);

// Writes file `file` of `plan` into `target` (open, empty) from start to end, reading the stream
// through `source`: within each audio run, output byte x of the stream holds byte x + byteShift
// of the stream where that lies in the run and silence where it does not, so that audio crosses
// from file to file; data sectors are copied unchanged. The bytes that the shift drops at a run's
// cut edge are read as well. Shows progress as `doneBefore` plus the sectors written, with the
// progress points, cancel and failures of RewriteSectors; `sectors` of the outcome counts those
// written to this file.
RewriteOutcome RewriteDiscFile(DiscReader& source, const DiscPlan& plan, int32_t file, File& target,
                               WorkArea& work, JobHost& host, int64_t doneBefore);

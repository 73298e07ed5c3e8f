// One plan for a disc image, whichever sheet describes it: the files that hold the image one
// after the other as one stream of 2352-byte sectors, its tracks and sessions, and the runs of
// audio sectors that the shift moves. The control-file reader and the cue-sheet reader each fill
// it; the shift, the dry run, undo and the readers of verify/ read it.
#pragma once

#include <stdint.h>

#include "disc_layout.h"
#include "text.h"

// Audio sectors [first, end) of the stream: one run that the rewriter shifts as a whole.
struct AudioRun {
    int64_t first;
    int64_t end;
};

// Every audio run has a boundary list entry of its own.
constexpr int32_t MAX_AUDIO_RUNS = BOUNDARY_LIST_SIZE / 2;

// A split set has one file per track at most.
constexpr int32_t MAX_DISC_FILES = MAX_TRACKS;

enum class SheetKind : int32_t {
    ControlFile,  // FILE.ccd beside one FILE.img
    CueSheet,     // FILE.cue naming the files that hold the disc
};

// One file of the image.
struct DiscFile {
    char path[PATH_BUFFER_SIZE];
    char backupPath[PATH_BUFFER_SIZE];  // NAME.old beside it, where its original goes
    int64_t first;                      // the stream sector where it begins
    int64_t sectors;                    // its whole sectors
    bool audio;  // an audio run covers some of it: it is rewritten; otherwise never touched
};

struct DiscPlan {
    int32_t shift;      // in samples
    int32_t byteShift;  // -SAMPLE_SIZE * shift
    SheetKind sheet;
    // A control file's image and its backup; for a cue sheet, the sheet itself and nothing.
    char imagePath[PATH_BUFFER_SIZE];
    char backupPath[PATH_BUFFER_SIZE];
    int64_t imageSectors;  // whole sectors in the stream; -1 when a size cannot be read
    SessionLayout layout;
    int32_t sessions;
    BoundaryList boundaries;  // control files: stream sectors where audio and data regions begin
    TrackTable tracks;        // stream sectors where the tracks begin
    int32_t controlError;     // why the sheet did not open (it then reads as empty), or 0

    DiscFile files[MAX_DISC_FILES];
    int32_t fileCount;
    // Cue sheets: the runs themselves, cut at data tracks, sessions and gaps that no file stores.
    // Control files list them from `boundaries`.
    AudioRun runs[MAX_AUDIO_RUNS];
    int32_t runCount;
};

// True when `path` ends in ".cue", any case.
bool IsCueSheetPath(const char* path);

// The runs of audio sectors that the shift of `plan` moves, in stream order. Returns how many.
int32_t PlanAudioRuns(const DiscPlan& plan, AudioRun (&runs)[MAX_AUDIO_RUNS]);

// Undoing a job: the backup goes back under the image name, replacing what a finished, cancelled
// or stopped job wrote there.
#pragma once

#include <stdint.h>

#include "text.h"

enum class UndoResult {
    Done,
    // Refusals: nothing on disk was touched.
    PathTooLong,
    NotControlFile,
    NoBackup,  // `error` says why the backup does not open
    Failed,    // the rename failed (`error`); both names hold what they held
};

struct UndoReport {
    UndoResult result;
    int32_t error;          // the system's code
    bool imageFound;        // something is under the image name, to be replaced
    int64_t imageSectors;   // its whole sectors, when it is a file that opens
    int64_t backupSectors;  // the backup's whole sectors
    char imagePath[PATH_BUFFER_SIZE];
    char backupPath[PATH_BUFFER_SIZE];
};

// Checks what undoing the job of `controlPath` would do, touching nothing: Done when it can.
UndoResult PrepareUndo(const char* controlPath, UndoReport* report);

// Puts the backup back under the image name in one rename, so that the original is under one of
// the two names at every moment.
UndoResult UndoShiftJob(const char* controlPath, UndoReport* report);

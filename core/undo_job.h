// Undoing a job: the backup goes back under the image name, replacing what a finished, cancelled
// or stopped job wrote there.
#pragma once

#include <stdint.h>

#include "shift_job.h"
#include "text.h"

enum class UndoResult {
    Done,
    // Refusals: nothing on disk was touched.
    PathTooLong,
    NotControlFile,
    NoBackup,  // `error` says why the backup does not open
    // No job leaves a backup like these, and putting one back could lose the image.
    BackupIsLink,   // a symbolic link
    BackupIsImage,  // a second name of the image (a hard link)
    BackupEmpty,    // no whole sector
    BackupShorterThanImage,
    BackupDoesNotFit,  // the control file's layout does not fit it: an INDEX of `track` lies past
                       // its last whole sector, or (`track` 0) its sessions do not add up to it
    Failed,            // the rename failed (`error`); both names hold what they held
    SetRefused,        // a cue sheet whose set cannot be planned: `plan` says why
};

struct UndoReport {
    UndoResult result;
    int32_t error;          // the system's code
    bool imageFound;        // something is under the image name, to be replaced
    int64_t imageSectors;   // its whole sectors, when it is a file that opens
    int64_t backupSectors;  // the backup's whole sectors
    int32_t track;
    char imagePath[PATH_BUFFER_SIZE];
    char backupPath[PATH_BUFFER_SIZE];
    // Sets of files (cue sheets): the backups found, the others counted in the figures above;
    // after a failure the names above are those of the file that failed.
    int32_t files;
    JobReport plan;
};

// For a cue sheet, every file of the set that the job rewrites and whose NAME.old is there is put
// back, one after the other.

// Checks what undoing the job of `controlPath` would do, touching nothing: Done when it can.
UndoResult PrepareUndo(const char* controlPath, UndoReport* report);

// Puts the backup back under the image name in one rename, so that the original is under one of
// the two names at every moment.
UndoResult UndoShiftJob(const char* controlPath, UndoReport* report);

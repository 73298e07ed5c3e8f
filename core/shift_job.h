// One job: check the shift and the names, scan the control file, keep the image as its backup
// and write the shifted image under its name.
#pragma once

#include <stdint.h>

#include "sector.h"
#include "text.h"

class JobHost;

// The shift in samples as the user types it; the byte shift is -4 times that.
constexpr int32_t MIN_SHIFT = -2348;
constexpr int32_t MAX_SHIFT = 2348;
constexpr int32_t MAX_BYTE_SHIFT = -SAMPLE_SIZE * MIN_SHIFT;  // 9392

enum class ShiftResult {
    Done,
    Cancelled,  // stopped at a progress point: the image holds the sectors done, the backup all
    // Refusals: nothing on disk was touched.
    OffsetOutOfRange,
    PathTooLong,
    NotControlFile,
    ImageMissing,
    BackupExists,
    ControlReadFailed,  // the control file opened but could not be read to its end
    RenameFailed,
    // The rename failed half way: the image is unchanged, but the backup name, made as a second
    // name of it, could not be removed again (`restoreError` says why).
    BackupNameLeft,
    // Failures after the rename: the original is put back under the image name (see `restored`).
    SourceOpenFailed,
    TargetCreateFailed,
    ReadFailed,
    WriteFailed,
};

struct JobReport {
    ShiftResult result;
    int32_t shift;  // in samples, as read from the offset text
    int32_t sectors;
    int32_t totalSectors;
    int32_t audioRegions;
    int32_t error;         // the system's code for a failure
    bool restored;         // after a failure: the original is back under the image name
    int32_t restoreError;  // why it is not, when it is not: it then stays at the backup name
    char imagePath[PATH_BUFFER_SIZE];
    char backupPath[PATH_BUFFER_SIZE];
};

// True for the results that leave the image and the backup as they were before the job.
bool IsRefusal(ShiftResult result);

// Runs one job for the control file at `controlPath`, reading the offset text from `host` and
// showing progress through it. `report`, when given, receives the details.
ShiftResult RunShiftJob(JobHost& host, const char* controlPath, JobReport* report = nullptr);

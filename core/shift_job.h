// One job: check the shift and the names, scan the control file, keep the image as its backup
// and write the shifted image under its name.
#pragma once

#include <stdint.h>

#include "cue_sheet.h"
#include "disc_layout.h"
#include "disc_plan.h"
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
    ImageMissing,   // `error` says why: not there, a folder, not readable
    ImageTooLarge,  // more whole sectors than MAX_IMAGE_SECTORS
    BackupExists,   // beside an image at least as long: an earlier job finished
    UnfinishedJob,  // the backup beside a shorter or missing image: an earlier job was stopped
                    // (`sectors` of `totalSectors` in the image; its `error` when it is missing)
    ControlReadFailed,      // the control file opened but could not be read to its end
    SessionLayoutMismatch,  // a multi-session layout whose sessions do not add up to the image
    SessionLayoutInvalid,   // a multi-session table of contents that contradicts itself
    TrackPastImage,    // a single-session file with an INDEX of `track` past the image's last whole
                       // sector: it does not describe this image
    SheetInvalid,      // a cue sheet that cannot be read as one (`sheetProblem`, `sheetLine`)
    SheetUnplaceable,  // a cue sheet that its files do not hold (`placementProblem`; the file
                       // in `imagePath`, the track in `sheetTrack`)
    BackupNamesShared,  // two files of a set would keep their originals under one name:
                        // `imagePath` and `otherPath`, both as `backupPath`
    GapTooShort,        // an unstored gap inside audio (`sheetTrack`) shorter than the shift: the
                        // disc's audio would cross it, which no file can hold
    CancelledBeforeRename,  // the host's busy flag was clear before the image was renamed
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
    int32_t trailingBytes;  // past the image's last whole sector: they stay only in the backup
    int32_t audioRegions;
    int32_t track;         // the track that a refusal names
    int32_t error;         // the system's code for a failure
    bool restored;         // after a failure: the original is back under the image name
    int32_t restoreError;  // why it is not, when it is not: it then stays at the backup name
    char imagePath[PATH_BUFFER_SIZE];  // for a set: the file that a refusal or failure names
    char backupPath[PATH_BUFFER_SIZE];
    // Sets of files (cue sheets).
    int32_t filesReplaced;  // files rewritten, each original kept as its NAME.old
    SheetProblem sheetProblem;
    PlacementProblem placementProblem;
    int32_t sheetLine;
    int32_t sheetTrack;
    char otherPath[PATH_BUFFER_SIZE];
};

// What a job will do, as its preparation found it: no heap, fixed size.
using JobPlan = DiscPlan;

// True for the results that leave the image and the backup as they were before the job.
bool IsRefusal(ShiftResult result);

// Checks that `controlPath` names a control file and fits the path buffers, and derives the
// image's and the backup's names from it (PATH_BUFFER_SIZE each). Returns Done, PathTooLong or
// NotControlFile.
ShiftResult DeriveNames(const char* controlPath, char* imagePath, char* backupPath);

// Makes every check of a job for the control file at `controlPath` and scans it, touching no
// file: the shift read from `host`, the names, the image present, the backup absent, the
// control file read and its sessions placed in the image. Returns Done when the job can run,
// with `plan` filled; otherwise the refusal. `report`, when given, receives the details as
// RunShiftJob would give them.
ShiftResult PrepareShiftJob(JobHost& host, const char* controlPath, JobPlan* plan,
                            JobReport* report = nullptr);

// The part of the preparation that neither the shift nor a finished job's backup matters to, for
// hosts that only read the image: the names, the image readable and not left by an unfinished job,
// the control file read and its sessions placed in the image. Returns Done with `plan` filled (its
// shift 0), or the refusal.
ShiftResult PlanImageLayout(const char* controlPath, JobPlan* plan, JobReport* report = nullptr);

// PlanImageLayout for an image of `imageSectors` whole sectors, which is not measured: whether
// the control file's layout fits another file of the set, such as the backup.
ShiftResult PlanLayoutInSectors(const char* controlPath, int64_t imageSectors, JobPlan* plan,
                                JobReport* report = nullptr);

// Runs the job that PrepareShiftJob planned and found possible, with the `report` it filled.
ShiftResult RunPreparedShiftJob(JobHost& host, const JobPlan& plan, JobReport* report);

// Runs one job for the control file at `controlPath`, reading the offset text from `host` and
// showing progress through it. `report`, when given, receives the details.
ShiftResult RunShiftJob(JobHost& host, const char* controlPath, JobReport* report = nullptr);

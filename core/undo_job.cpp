#include "undo_job.h"

#include <string.h>

#include "cue_plan.h"
#include "file.h"
#include "sector.h"
#include "shift_job.h"

static UndoResult End(UndoReport* report, UndoResult result) {
    report->result = result;
    return result;
}

// Checks the backup of one file against what stands under the file's name, adding what it
// measures to the report's figures; `*sectors` (when given) receives the backup's whole sectors.
// Returns Done, NoBackup (`error` says why), or the refusal of a backup that no job leaves.
static UndoResult CheckBackup(const char* imagePath, const char* backupPath, UndoReport* report,
                              int64_t* sectors) {
    // Looked at before it is opened, which follows a link.
    if (IsSymbolicLink(backupPath)) {
        return UndoResult::BackupIsLink;
    }
    File backup;
    if (!backup.OpenForReading(backupPath)) {
        report->error = backup.LastError();
        return UndoResult::NoBackup;
    }
    int64_t backupSize = backup.Size();
    int64_t backupSectors = backupSize < 0 ? 0 : backupSize / SECTOR_SIZE;
    report->backupSectors += backupSectors;
    if (sectors != nullptr) {
        *sectors = backupSectors;
    }
    File image;
    int64_t imageSectors = 0;
    if (image.OpenForReading(imagePath)) {
        int64_t imageSize = image.Size();
        report->imageFound = true;
        imageSectors = imageSize < 0 ? 0 : imageSize / SECTOR_SIZE;
        report->imageSectors += imageSectors;
    } else {
        report->imageFound = report->imageFound || !IsMissingFileError(image.LastError());
    }
    if (image.IsOpen() && backup.IsSameFileAs(image)) {
        return UndoResult::BackupIsImage;
    }
    if (backupSectors == 0) {
        return UndoResult::BackupEmpty;
    }
    // A job keeps the sector count; one that stopped leaves fewer.
    if (image.IsOpen() && imageSectors > backupSectors) {
        return UndoResult::BackupShorterThanImage;
    }
    return UndoResult::Done;
}

// Plans the set of a cue sheet and finds the backups to put back; `restore` puts them back.
static UndoResult UndoSet(const char* cuePath, UndoReport* report, bool restore) {
    DiscPlan plan;
    memset(&plan, 0, sizeof(plan));
    ShiftResult planned = PlanCueSet(cuePath, &plan, report->plan, nullptr, false);
    CopyString(report->imagePath, cuePath);
    if (planned == ShiftResult::PathTooLong) {
        return End(report, UndoResult::PathTooLong);
    }
    if (planned != ShiftResult::Done) {
        return End(report, UndoResult::SetRefused);
    }
    int error = 0;
    for (int32_t f = 0; f < plan.fileCount; ++f) {
        const DiscFile& file = plan.files[f];
        if (!file.audio) {
            continue;
        }
        if (report->files == 0) {
            CopyString(report->backupPath, file.backupPath);
        }
        // Every backup of the set is checked as the backup of an image is, before any goes back.
        int64_t sectors = 0;
        UndoResult checked = CheckBackup(file.path, file.backupPath, report, &sectors);
        if (checked == UndoResult::Done && sectors != file.sectors) {
            checked = UndoResult::BackupDoesNotFit;
        }
        if (checked == UndoResult::Done) {
            ++report->files;
        } else if (checked != UndoResult::NoBackup) {
            CopyString(report->imagePath, file.path);
            CopyString(report->backupPath, file.backupPath);
            return End(report, checked);
        } else if (!IsMissingFileError(report->error)) {
            error = report->error;
        }
    }
    if (report->files == 0) {
        report->error = error != 0 ? error : report->error;
        return End(report, UndoResult::NoBackup);
    }
    report->error = 0;
    for (int32_t f = 0; f < plan.fileCount && restore; ++f) {
        const DiscFile& file = plan.files[f];
        File backup;
        if (!file.audio || !backup.OpenForReading(file.backupPath)) {
            continue;
        }
        backup.Close();
        int failed = RestoreBackup(file.backupPath, file.path);
        if (failed != 0) {
            report->error = failed;
            CopyString(report->imagePath, file.path);
            CopyString(report->backupPath, file.backupPath);
            return End(report, UndoResult::Failed);
        }
    }
    return End(report, UndoResult::Done);
}

UndoResult PrepareUndo(const char* controlPath, UndoReport* report) {
    memset(report, 0, sizeof(*report));
    if (IsCueSheetPath(controlPath)) {
        return UndoSet(controlPath, report, false);
    }
    switch (DeriveNames(controlPath, report->imagePath, report->backupPath)) {
        case ShiftResult::Done:
            break;
        case ShiftResult::PathTooLong:
            return End(report, UndoResult::PathTooLong);
        default:
            return End(report, UndoResult::NotControlFile);
    }
    UndoResult checked = CheckBackup(report->imagePath, report->backupPath, report, nullptr);
    if (checked != UndoResult::Done) {
        return End(report, checked);
    }
    // A control file that cannot be read or placed at all says nothing about the backup.
    JobPlan plan;
    JobReport placed;
    ShiftResult fits = PlanLayoutInSectors(controlPath, report->backupSectors, &plan, &placed);
    if (fits == ShiftResult::TrackPastImage || fits == ShiftResult::SessionLayoutMismatch) {
        report->track = placed.track;
        return End(report, UndoResult::BackupDoesNotFit);
    }
    return End(report, UndoResult::Done);
}

UndoResult UndoShiftJob(const char* controlPath, UndoReport* report) {
    if (IsCueSheetPath(controlPath)) {
        memset(report, 0, sizeof(*report));
        return UndoSet(controlPath, report, true);
    }
    if (PrepareUndo(controlPath, report) != UndoResult::Done) {
        return report->result;
    }
    int error = RestoreBackup(report->backupPath, report->imagePath);
    if (error != 0) {
        report->error = error;
        return End(report, UndoResult::Failed);
    }
    return End(report, UndoResult::Done);
}

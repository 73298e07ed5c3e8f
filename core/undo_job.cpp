#include "undo_job.h"

#include <string.h>

#include "file.h"
#include "sector.h"
#include "shift_job.h"

static UndoResult End(UndoReport* report, UndoResult result) {
    report->result = result;
    return result;
}

UndoResult PrepareUndo(const char* controlPath, UndoReport* report) {
    memset(report, 0, sizeof(*report));
    switch (DeriveNames(controlPath, report->imagePath, report->backupPath)) {
        case ShiftResult::Done:
            break;
        case ShiftResult::PathTooLong:
            return End(report, UndoResult::PathTooLong);
        default:
            return End(report, UndoResult::NotControlFile);
    }
    // Looked at before it is opened, which follows a link.
    if (IsSymbolicLink(report->backupPath)) {
        return End(report, UndoResult::BackupIsLink);
    }
    File backup;
    if (!backup.OpenForReading(report->backupPath)) {
        report->error = backup.LastError();
        return End(report, UndoResult::NoBackup);
    }
    int64_t backupSize = backup.Size();
    report->backupSectors = backupSize < 0 ? 0 : backupSize / SECTOR_SIZE;
    File image;
    if (image.OpenForReading(report->imagePath)) {
        int64_t imageSize = image.Size();
        report->imageFound = true;
        report->imageSectors = imageSize < 0 ? 0 : imageSize / SECTOR_SIZE;
    } else {
        report->imageFound = !IsMissingFileError(image.LastError());
    }
    if (image.IsOpen() && backup.IsSameFileAs(image)) {
        return End(report, UndoResult::BackupIsImage);
    }
    if (report->backupSectors == 0) {
        return End(report, UndoResult::BackupEmpty);
    }
    // A job keeps the sector count; one that stopped leaves fewer.
    if (image.IsOpen() && report->imageSectors > report->backupSectors) {
        return End(report, UndoResult::BackupShorterThanImage);
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

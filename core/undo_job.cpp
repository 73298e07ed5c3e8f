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

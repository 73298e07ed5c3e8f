#include "shift_job.h"

#include <string.h>

#include "control_scan.h"
#include "file.h"
#include "job_host.h"
#include "sector_rewriter.h"
#include "text.h"

bool IsRefusal(ShiftResult result) {
    return result >= ShiftResult::OffsetOutOfRange && result <= ShiftResult::RenameFailed;
}

// Copies the control path into `buffer` with its extension replaced by `extension`.
static void DerivePath(char* buffer, const char* controlPath, const char* extension) {
    CopyString(buffer, controlPath);
    CopyString(FindExtension(buffer), extension);
}

// After the rename: give the image name back to the original.
static void PutBackOriginal(JobReport& report, bool targetCreated) {
    int error = targetCreated ? RestoreBackup(report.backupPath, report.imagePath)
                              : RenameNoReplace(report.backupPath, report.imagePath);
    report.restored = error == 0;
    report.restoreError = error;
}

static ShiftResult Fail(JobReport& report, ShiftResult result, int error, File& source,
                        File& target, bool targetCreated) {
    source.Close();
    target.Close();
    report.result = result;
    report.error = error;
    PutBackOriginal(report, targetCreated);
    return result;
}

static ShiftResult End(JobReport& report, ShiftResult result) {
    report.result = result;
    return result;
}

ShiftResult PrepareShiftJob(JobHost& host, const char* controlPath, JobPlan* plan,
                            JobReport* reportOut) {
    JobReport localReport;
    JobReport& report = reportOut != nullptr ? *reportOut : localReport;
    memset(&report, 0, sizeof(report));
    memset(plan, 0, sizeof(*plan));

    char text[TEXT_BUFFER_SIZE];
    host.ReadOffsetText(text);
    text[TEXT_BUFFER_SIZE - 1] = '\0';
    int32_t shift = 0;
    bool fits = ParseDecimal(text, &shift);
    report.shift = shift;
    plan->shift = shift;
    if (!fits || shift < MIN_SHIFT || shift > MAX_SHIFT) {
        return End(report, ShiftResult::OffsetOutOfRange);
    }
    plan->byteShift = -SAMPLE_SIZE * shift;

    if (BoundedLength(controlPath, PATH_BUFFER_SIZE) > MAX_PATH_LENGTH) {
        return End(report, ShiftResult::PathTooLong);
    }
    if (CompareNoCase(FindExtension(controlPath), ".CCD") != 0) {
        return End(report, ShiftResult::NotControlFile);
    }
    DerivePath(plan->imagePath, controlPath, ".img");
    DerivePath(plan->backupPath, controlPath, ".old");
    CopyString(report.imagePath, plan->imagePath);
    {
        File image;
        if (!image.OpenForReading(plan->imagePath)) {
            return End(report, ShiftResult::ImageMissing);
        }
        int64_t size = image.Size();
        plan->imageSectors = size < 0 ? -1 : size / SECTOR_SIZE;
    }
    CopyString(report.backupPath, plan->backupPath);
    if (FileExists(plan->backupPath)) {
        return End(report, ShiftResult::BackupExists);
    }

    ControlScan scan;
    {
        // A control file that cannot be read reads as empty: every sector is data.
        File control;
        control.OpenForReading(controlPath);
        ScanControlFile(control, text, scan);
        // Regions cut short by a read error would shift data or leave audio unshifted.
        if (control.IsOpen() && control.LastError() != 0) {
            report.error = control.LastError();
            return End(report, ShiftResult::ControlReadFailed);
        }
    }
    plan->layout = PlaceInImage(scan, plan->imageSectors, plan->boundaries, plan->tracks);
    plan->sessions = plan->layout == SessionLayout::SingleSession ? 1 : scan.lastSession;
    if (plan->layout == SessionLayout::SizeMismatch) {
        return End(report, ShiftResult::SessionLayoutMismatch);
    }
    if (plan->layout == SessionLayout::Contradictory) {
        return End(report, ShiftResult::SessionLayoutInvalid);
    }
    return End(report, ShiftResult::Done);
}

// Renames the image to the backup name and writes the shifted image under the image name.
static ShiftResult RunPlannedJob(JobHost& host, const JobPlan& plan, JobReport& report) {
    WorkArea work;
    memset(&work, 0, sizeof(work));

    int leftError = 0;
    int renameError = RenameNoReplace(report.imagePath, report.backupPath, &leftError);
    if (renameError != 0) {
        report.error = renameError;
        report.restoreError = leftError;
        return End(report,
                   leftError != 0 ? ShiftResult::BackupNameLeft : ShiftResult::RenameFailed);
    }

    File source;
    File target;
    if (!source.OpenForReading(report.backupPath)) {
        return Fail(report, ShiftResult::SourceOpenFailed, source.LastError(), source, target,
                    false);
    }
    if (!target.CreateForWriting(report.imagePath)) {
        return Fail(report, ShiftResult::TargetCreateFailed, target.LastError(), source, target,
                    false);
    }

    RewriteOutcome outcome =
        RewriteSectors(source, target, plan.byteShift, plan.boundaries, work, host);
    report.sectors = outcome.sectors;
    report.totalSectors = outcome.totalSectors;
    report.audioRegions = outcome.audioRegions;

    if (outcome.status == RewriteStatus::ReadFailed) {
        return Fail(report, ShiftResult::ReadFailed, outcome.error, source, target, true);
    }
    if (outcome.status == RewriteStatus::WriteFailed) {
        return Fail(report, ShiftResult::WriteFailed, outcome.error, source, target, true);
    }
    source.Close();
    if (!target.Close()) {
        return Fail(report, ShiftResult::WriteFailed, target.LastError(), source, target, true);
    }
    return End(report, outcome.status == RewriteStatus::Cancelled ? ShiftResult::Cancelled
                                                                  : ShiftResult::Done);
}

ShiftResult RunShiftJob(JobHost& host, const char* controlPath, JobReport* reportOut) {
    JobReport localReport;
    JobReport& report = reportOut != nullptr ? *reportOut : localReport;
    JobPlan plan;
    ShiftResult result = PrepareShiftJob(host, controlPath, &plan, &report);
    if (result != ShiftResult::Done) {
        return result;
    }
    return RunPlannedJob(host, plan, report);
}

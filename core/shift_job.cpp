#include "shift_job.h"

#include <string.h>

#include "control_scan.h"
#include "cue_plan.h"
#include "disc_reader.h"
#include "file.h"
#include "job_host.h"
#include "sector_rewriter.h"
#include "text.h"

bool IsRefusal(ShiftResult result) {
    return result >= ShiftResult::OffsetOutOfRange && result <= ShiftResult::RenameFailed;
}

// Copies the control path into `buffer` with its extension replaced by `extension`, or by
// `capitals` where the control file's extension is written in capitals and the platform keeps
// that case.
static void DerivePath(char* buffer, const char* controlPath, const char* extension,
                       const char* capitals) {
    CopyString(buffer, controlPath);
    char* at = FindExtension(buffer);
    CopyString(at, DerivedNamesFollowCapitals() && strcmp(at, ".CCD") == 0 ? capitals : extension);
}

ShiftResult DeriveNames(const char* controlPath, char* imagePath, char* backupPath) {
    if (BoundedLength(controlPath, PATH_BUFFER_SIZE) > MAX_PATH_LENGTH) {
        return ShiftResult::PathTooLong;
    }
    if (CompareNoCase(FindExtension(controlPath), ".CCD") != 0) {
        return ShiftResult::NotControlFile;
    }
    DerivePath(imagePath, controlPath, ".img", ".IMG");
    DerivePath(backupPath, controlPath, ".old", ".OLD");
    return ShiftResult::Done;
}

// Derives the image's and the backup's names into the plan and the report.
static ShiftResult NamePlan(const char* controlPath, JobPlan* plan, JobReport& report) {
    ShiftResult named = DeriveNames(controlPath, plan->imagePath, plan->backupPath);
    CopyString(report.imagePath, plan->imagePath);
    CopyString(report.backupPath, plan->backupPath);
    return named;
}

// Whole sectors as the report counts them: none when unknown, at most INT32_MAX.
static int32_t ReportedSectors(int64_t sectors) {
    return sectors < 0 ? 0 : sectors > INT32_MAX ? INT32_MAX : static_cast<int32_t>(sectors);
}

// Opens the image to measure it: false when it does not open (`*error` says why). `*sectors`
// is its whole sectors, or -1 when its size cannot be read.
static bool MeasureImage(const char* imagePath, int64_t* sectors, int* error) {
    File image;
    bool opened = image.OpenForReading(imagePath);
    *error = opened ? 0 : image.LastError();
    int64_t size = opened ? image.Size() : -1;
    *sectors = size < 0 ? -1 : size / SECTOR_SIZE;
    return opened;
}

// The image and its backup before the job: refuses unless the image can be read and no backup
// exists, and tells a backup that an earlier job left unfinished from one it finished.
static ShiftResult CheckImageAndBackup(JobReport& report, int64_t* imageSectors) {
    int imageError = 0;
    bool imageRead = MeasureImage(report.imagePath, imageSectors, &imageError);
    File backup;
    if (backup.OpenForReading(report.backupPath)) {
        // A finished job leaves every whole sector of the original in the image.
        int32_t backupSectors = ReportedSectors(backup.Size() / SECTOR_SIZE);
        int32_t sectors = ReportedSectors(*imageSectors);
        if ((!imageRead && IsMissingFileError(imageError)) ||
            (imageRead && sectors < backupSectors)) {
            report.sectors = sectors;
            report.totalSectors = backupSectors;
            report.error = imageError;
            return ShiftResult::UnfinishedJob;
        }
        if (imageRead) {
            return ShiftResult::BackupExists;
        }
    }
    if (!imageRead) {
        report.error = imageError;
        return ShiftResult::ImageMissing;
    }
    return ShiftResult::Done;
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

// The control file read through `text` and its sessions placed in the image. A `host` whose
// busy flag is found clear during the scan or after it cancels the job.
static ShiftResult PlaceTracks(const char* controlPath, char* text, JobPlan* plan,
                               JobReport& report, JobHost* host) {
    ControlScan scan;
    {
        // A control file that cannot be read reads as empty: every sector is data.
        File control;
        if (!control.OpenForReading(controlPath)) {
            plan->controlError = control.LastError();
        }
        ScanControlFile(control, text, scan, host);
        // Regions cut short by a read error would shift data or leave audio unshifted.
        if (control.IsOpen() && control.LastError() != 0) {
            report.error = control.LastError();
            return End(report, ShiftResult::ControlReadFailed);
        }
    }
    if (scan.cancelled || (host != nullptr && host->BusyFlag() == 0)) {
        return End(report, ShiftResult::CancelledBeforeRename);
    }
    plan->layout =
        PlaceInImage(scan, plan->imageSectors, plan->boundaries, plan->tracks, &report.track);
    plan->sessions = plan->layout == SessionLayout::SingleSession ? 1 : scan.lastSession;
    if (plan->layout == SessionLayout::IndexPastImage) {
        report.sectors = ReportedSectors(plan->imageSectors);
        return End(report, ShiftResult::TrackPastImage);
    }
    if (plan->layout == SessionLayout::SizeMismatch) {
        return End(report, ShiftResult::SessionLayoutMismatch);
    }
    if (plan->layout == SessionLayout::Contradictory) {
        return End(report, ShiftResult::SessionLayoutInvalid);
    }
    // The image is the set's one file.
    AudioRun runs[MAX_AUDIO_RUNS];
    DiscFile& image = plan->files[0];
    CopyString(image.path, plan->imagePath);
    CopyString(image.backupPath, plan->backupPath);
    image.first = 0;
    image.sectors = plan->imageSectors;
    image.audio = PlanAudioRuns(*plan, runs) > 0;
    plan->fileCount = 1;
    return End(report, ShiftResult::Done);
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
    if (IsCueSheetPath(controlPath)) {
        return PlanCueSet(controlPath, plan, report, &host, true);
    }

    ShiftResult checked = NamePlan(controlPath, plan, report);
    if (checked == ShiftResult::Done) {
        checked = CheckImageAndBackup(report, &plan->imageSectors);
    }
    // Cut silently at the limit, it would lose its end.
    if (checked == ShiftResult::Done && plan->imageSectors > MAX_IMAGE_SECTORS) {
        checked = ShiftResult::ImageTooLarge;
    }
    if (checked != ShiftResult::Done) {
        return End(report, checked);
    }

    return PlaceTracks(controlPath, text, plan, report, &host);
}

// The names and the layout placed in `imageSectors`, measured from the image when negative.
static ShiftResult PlanLayout(const char* controlPath, int64_t imageSectors, JobPlan* plan,
                              JobReport* reportOut) {
    JobReport localReport;
    JobReport& report = reportOut != nullptr ? *reportOut : localReport;
    memset(&report, 0, sizeof(report));
    memset(plan, 0, sizeof(*plan));
    if (IsCueSheetPath(controlPath)) {
        // What an unfinished job left is not the set, whether it is shifted or read; a finished
        // job's backups do not matter to reading it.
        ShiftResult planned = PlanCueSet(controlPath, plan, report, nullptr, true);
        if (planned != ShiftResult::BackupExists) {
            return planned;
        }
        CopyString(report.imagePath, controlPath);
        return End(report, ShiftResult::Done);
    }

    ShiftResult checked = NamePlan(controlPath, plan, report);
    if (checked != ShiftResult::Done) {
        return End(report, checked);
    }
    plan->imageSectors = imageSectors;
    if (imageSectors < 0) {
        // What an unfinished job left is not the image, whether it is shifted or read; a finished
        // job's backup does not matter to reading the image.
        checked = CheckImageAndBackup(report, &plan->imageSectors);
        if (checked != ShiftResult::Done && checked != ShiftResult::BackupExists) {
            return End(report, checked);
        }
    }
    char text[TEXT_BUFFER_SIZE];
    return PlaceTracks(controlPath, text, plan, report, nullptr);
}

ShiftResult PlanImageLayout(const char* controlPath, JobPlan* plan, JobReport* report) {
    return PlanLayout(controlPath, -1, plan, report);
}

ShiftResult PlanLayoutInSectors(const char* controlPath, int64_t imageSectors, JobPlan* plan,
                                JobReport* report) {
    return PlanLayout(controlPath, imageSectors < 0 ? 0 : imageSectors, plan, report);
}

// Gives every file of a set whose original was renamed, among the first `renamed` files, its
// name back: over its new file among the first `created`, otherwise into the free name.
static void PutBackSet(const DiscPlan& plan, JobReport& report, int32_t renamed, int32_t created) {
    report.restored = true;
    for (int32_t f = 0; f < renamed; ++f) {
        const DiscFile& file = plan.files[f];
        if (!file.audio) {
            continue;
        }
        int error = f < created ? RestoreBackup(file.backupPath, file.path)
                                : RenameNoReplace(file.backupPath, file.path);
        if (error != 0 && report.restored) {
            report.restored = false;
            report.restoreError = error;
            CopyString(report.backupPath, file.backupPath);
        }
    }
}

// Ends a set's job that failed after its renames: every original back under its name.
static ShiftResult FailSet(const DiscPlan& plan, JobReport& report, ShiftResult result, int error,
                           DiscReader& source, int32_t file, int32_t created) {
    source.Close();
    CopyString(report.imagePath, plan.files[file].path);
    CopyString(report.backupPath, plan.files[file].backupPath);
    report.error = error;
    PutBackSet(plan, report, plan.fileCount, created);
    return End(report, result);
}

// Renames every file of the set that holds audio to its backup name, then writes each anew
// from the stream of the originals; data files are only read. All or nothing: a failure or a
// cancel gives every original its name back.
static ShiftResult RunPlannedSet(JobHost& host, const DiscPlan& plan, JobReport& report) {
    WorkArea work;
    memset(&work, 0, sizeof(work));
    if (host.BusyFlag() == 0) {
        return End(report, ShiftResult::CancelledBeforeRename);
    }
    for (int32_t f = 0; f < plan.fileCount; ++f) {
        const DiscFile& file = plan.files[f];
        int leftError = 0;
        int renameError = file.audio ? RenameNoReplace(file.path, file.backupPath, &leftError) : 0;
        if (renameError != 0) {
            PutBackSet(plan, report, f, 0);
            CopyString(report.imagePath, file.path);
            CopyString(report.backupPath, file.backupPath);
            report.error = renameError;
            report.restoreError = leftError;
            return End(report,
                       leftError != 0 ? ShiftResult::BackupNameLeft : ShiftResult::RenameFailed);
        }
    }
    DiscReader source;
    if (!source.Open(plan, true)) {
        return FailSet(
            plan, report,
            source.LastError() != 0 ? ShiftResult::SourceOpenFailed : ShiftResult::ReadFailed,
            source.LastError(), source, source.FailedFile(), 0);
    }
    int64_t total = 0;
    for (int32_t f = 0; f < plan.fileCount; ++f) {
        total += plan.files[f].audio ? plan.files[f].sectors : 0;
    }
    host.RewriteStarting(total);
    report.totalSectors = static_cast<int32_t>(total);
    report.audioRegions = plan.runCount;
    for (int32_t f = 0; f < plan.fileCount; ++f) {
        if (!plan.files[f].audio) {
            continue;
        }
        File target;
        if (!target.CreateForWriting(plan.files[f].path)) {
            return FailSet(plan, report, ShiftResult::TargetCreateFailed, target.LastError(),
                           source, f, f);
        }
        target.TakeAccessOf(source.FileAt(f));
        RewriteOutcome outcome =
            RewriteDiscFile(source, plan, f, target, work, host, report.sectors);
        report.sectors += outcome.sectors;
        bool closed = target.Close();
        ShiftResult failure = outcome.status == RewriteStatus::ReadFailed ? ShiftResult::ReadFailed
                              : outcome.status == RewriteStatus::WriteFailed
                                  ? ShiftResult::WriteFailed
                              : outcome.status == RewriteStatus::Cancelled ? ShiftResult::Cancelled
                              : !closed ? ShiftResult::WriteFailed
                                        : ShiftResult::Done;
        if (failure != ShiftResult::Done) {
            int error =
                outcome.status != RewriteStatus::Finished ? outcome.error : target.LastError();
            return FailSet(plan, report, failure, error, source, f, f + 1);
        }
        ++report.filesReplaced;
    }
    CopyString(report.imagePath, plan.imagePath);
    return End(report, ShiftResult::Done);
}

// Renames the image to the backup name and writes the shifted image under the image name.
static ShiftResult RunPlannedJob(JobHost& host, const JobPlan& plan, JobReport& report) {
    if (plan.sheet == SheetKind::CueSheet) {
        return RunPlannedSet(host, plan, report);
    }
    WorkArea work;
    memset(&work, 0, sizeof(work));

    // The last moment at which a cancel can leave every file as it was.
    if (host.BusyFlag() == 0) {
        return End(report, ShiftResult::CancelledBeforeRename);
    }
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
    // The regions were placed for the image the preparation measured; another size is not it.
    int64_t sourceSize = source.Size();
    if (sourceSize < 0 || sourceSize / SECTOR_SIZE != plan.imageSectors) {
        return Fail(report, ShiftResult::ReadFailed, sourceSize < 0 ? source.LastError() : 0,
                    source, target, false);
    }
    if (!target.CreateForWriting(report.imagePath)) {
        return Fail(report, ShiftResult::TargetCreateFailed, target.LastError(), source, target,
                    false);
    }
    // Where the bits cannot be set, the new image stays readable by its owner only.
    target.TakeAccessOf(source);
    report.trailingBytes = static_cast<int32_t>(sourceSize % SECTOR_SIZE);

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

ShiftResult RunPreparedShiftJob(JobHost& host, const JobPlan& plan, JobReport* report) {
    return RunPlannedJob(host, plan, *report);
}

#include "cue_plan.h"

#include <string.h>

#include "cue_sheet.h"
#include "file.h"
#include "job_host.h"
#include "sector.h"
#include "sector_rewriter.h"

namespace {

// Between two sessions: the lead-out, the next lead-in and the pregap of its first track.
constexpr int64_t SESSION_GAP_SECTORS = 6750 + 4500 + 150;

ShiftResult End(JobReport& report, ShiftResult result) {
    report.result = result;
    return result;
}

// The sheet's name for a file, taken in the sheet's folder unless it is a full path. False when
// the result does not fit the path buffer.
bool PathInFolder(const char* cuePath, const char* name, char* path) {
    bool absolute = IsDirectorySeparator(name[0]) || (name[0] != '\0' && name[1] == ':');
    int32_t folder = 0;
    for (int32_t i = 0; cuePath[i] != '\0' && !absolute; ++i) {
        folder = IsDirectorySeparator(cuePath[i]) ? i + 1 : folder;
    }
    if (folder + BoundedLength(name, PATH_BUFFER_SIZE) > MAX_PATH_LENGTH) {
        return false;
    }
    memcpy(path, cuePath, static_cast<size_t>(folder));
    CopyString(path + folder, name);
    return true;
}

// NAME.old beside `path`, or NAME.OLD where its extension is in capitals and names keep case.
bool BackupPathOf(const char* path, char* backup) {
    const char* extension = FindExtension(path);
    bool capitals = extension[0] == '.' && extension[1] != '\0' && DerivedNamesFollowCapitals();
    for (const char* p = extension + 1; *p != '\0' && capitals; ++p) {
        capitals = !(*p >= 'a' && *p <= 'z');
    }
    int32_t stem = static_cast<int32_t>(extension - path);
    if (stem + 4 > MAX_PATH_LENGTH) {
        return false;
    }
    memcpy(backup, path, static_cast<size_t>(stem));
    CopyString(backup + stem, capitals ? ".OLD" : ".old");
    return true;
}

// The size of a file in bytes, or -1 when it does not open (`*error` says why).
int64_t Measure(const char* path, int* error) {
    File file;
    if (!file.OpenForReading(path)) {
        *error = file.LastError();
        return -1;
    }
    int64_t size = file.Size();
    *error = size < 0 ? file.LastError() : 0;
    return size;
}

// Whether a run ends before track `t`: another kind, another session, or a gap that no file
// stores between them. Such a gap shorter than the shift is refused in `*shortGap`.
bool RunBreaksBefore(const CueSheet& sheet, int32_t t, int32_t byteShift, bool* shortGap) {
    const SheetTrack& track = sheet.tracks[t];
    const SheetTrack& before = sheet.tracks[t - 1];
    if (before.type != SheetTrackType::Audio || before.session != track.session) {
        return true;
    }
    int64_t gap = static_cast<int64_t>(before.postgap) + track.pregap;
    int64_t reach = byteShift < 0 ? -byteShift : byteShift;
    *shortGap = gap > 0 && gap * SECTOR_SIZE < reach;
    return gap > 0;
}

}  // namespace

ShiftResult PlanCueSet(const char* cuePath, DiscPlan* plan, JobReport& report, JobHost* host,
                       bool checkBackups) {
    plan->sheet = SheetKind::CueSheet;
    if (BoundedLength(cuePath, PATH_BUFFER_SIZE) > MAX_PATH_LENGTH) {
        return End(report, ShiftResult::PathTooLong);
    }
    CopyString(plan->imagePath, cuePath);
    CopyString(report.imagePath, cuePath);

    CueSheet sheet;
    {
        char text[TEXT_BUFFER_SIZE];
        File cue;
        if (!cue.OpenForReading(cuePath)) {
            report.error = cue.LastError();
            return End(report, ShiftResult::ImageMissing);
        }
        ReadCueSheet(cue, text, sheet, host);
    }
    if (sheet.cancelled || (host != nullptr && host->BusyFlag() == 0)) {
        return End(report, ShiftResult::CancelledBeforeRename);
    }
    if (sheet.problem == SheetProblem::ReadFailed) {
        return End(report, ShiftResult::ControlReadFailed);
    }
    if (sheet.problem != SheetProblem::None) {
        report.sheetProblem = sheet.problem;
        report.sheetLine = sheet.problemLine;
        return End(report, ShiftResult::SheetInvalid);
    }

    // Each file measured as it is, or by its backup where a stopped job left it short.
    int64_t bytes[MAX_SHEET_FILES];
    int64_t fileBytes[MAX_SHEET_FILES];    // -1 when it does not open (`fileErrors` says why)
    int64_t backupBytes[MAX_SHEET_FILES];  // -1 when there is no backup
    bool shortOrMissing[MAX_SHEET_FILES];
    int fileErrors[MAX_SHEET_FILES];
    plan->fileCount = sheet.fileCount;
    for (int32_t f = 0; f < sheet.fileCount; ++f) {
        DiscFile& file = plan->files[f];
        if (!PathInFolder(cuePath, sheet.files[f].name, file.path) ||
            !BackupPathOf(file.path, file.backupPath)) {
            CopyString(report.imagePath, sheet.files[f].name);
            return End(report, ShiftResult::PathTooLong);
        }
        fileBytes[f] = Measure(file.path, &fileErrors[f]);
        int backupError = 0;
        backupBytes[f] = Measure(file.backupPath, &backupError);
        shortOrMissing[f] =
            backupBytes[f] >= 0 && fileBytes[f] / SECTOR_SIZE < backupBytes[f] / SECTOR_SIZE;
        bytes[f] = shortOrMissing[f] ? backupBytes[f] : fileBytes[f];
        if (bytes[f] < 0) {
            CopyString(report.imagePath, file.path);
            report.error = fileErrors[f];
            return End(report, ShiftResult::ImageMissing);
        }
    }

    CuePlacement placement;
    if (!PlaceCueSheet(sheet, bytes, placement)) {
        report.placementProblem = placement.problem;
        report.sheetTrack = placement.track;
        if (placement.file >= 0) {
            CopyString(report.imagePath, plan->files[placement.file].path);
        }
        return End(report, ShiftResult::SheetUnplaceable);
    }
    plan->imageSectors = placement.streamSectors;
    if (plan->imageSectors > MAX_IMAGE_SECTORS) {
        return End(report, ShiftResult::ImageTooLarge);
    }

    plan->sessions = sheet.sessions;
    plan->layout = sheet.sessions > 1 ? SessionLayout::GapLeftOut : SessionLayout::SingleSession;
    plan->boundaries[0] = END_SENTINEL;
    plan->tracks.count = sheet.trackCount;
    plan->tracks.complete = true;
    plan->tracks.leadOut = NOT_GIVEN;
    plan->runCount = 0;
    // Disc addresses: the stream and what no file stores before each INDEX 01, the sectors
    // between two sessions (less a pregap that the files hold) and PREGAP and POSTGAP.
    int64_t unstored = 0;
    for (int32_t t = 0; t < sheet.trackCount; ++t) {
        const SheetTrack& track = sheet.tracks[t];
        const bool audio = track.type == SheetTrackType::Audio;
        if (t > 0 && track.session != sheet.tracks[t - 1].session) {
            unstored += SESSION_GAP_SECTORS - (placement.trackIndex1[t] - placement.trackFirst[t]);
        }
        unstored += track.pregap;
        plan->tracks.tracks[t] =
            TrackInfo{track.number,
                      audio ? 0 : 1,
                      track.session,
                      static_cast<int32_t>(placement.trackFirst[t]),
                      static_cast<int32_t>(placement.trackIndex1[t]),
                      static_cast<int32_t>(placement.trackIndex1[t] + unstored)};
        unstored += track.postgap;
        if (!audio) {
            continue;
        }
        const int64_t end =
            t + 1 < sheet.trackCount ? placement.trackFirst[t + 1] : placement.streamSectors;
        bool shortGap = false;
        if (plan->runCount == 0 || t == 0 ||
            RunBreaksBefore(sheet, t, plan->byteShift, &shortGap)) {
            if (shortGap) {
                report.sheetTrack = track.number;
                return End(report, ShiftResult::GapTooShort);
            }
            plan->runs[plan->runCount++] = AudioRun{placement.trackFirst[t], end};
        } else {
            plan->runs[plan->runCount - 1].end = end;
        }
    }
    plan->tracks.leadOut =
        sheet.sessions > 1 ? static_cast<int32_t>(plan->imageSectors + unstored) : NOT_GIVEN;

    // The files that an audio run reaches are rewritten; the others are never touched.
    for (int32_t f = 0; f < plan->fileCount; ++f) {
        DiscFile& file = plan->files[f];
        file.first = placement.fileFirst[f];
        file.sectors = placement.fileSectors[f];
        file.audio = false;
        for (int32_t r = 0; r < plan->runCount; ++r) {
            file.audio = file.audio || (plan->runs[r].first < file.first + file.sectors &&
                                        file.first < plan->runs[r].end);
        }
    }
    for (int32_t f = 0; f < plan->fileCount; ++f) {
        for (int32_t g = 0; g < f; ++g) {
            if (plan->files[f].audio && plan->files[g].audio &&
                CompareNoCase(plan->files[f].backupPath, plan->files[g].backupPath) == 0) {
                CopyString(report.imagePath, plan->files[g].path);
                CopyString(report.otherPath, plan->files[f].path);
                CopyString(report.backupPath, plan->files[f].backupPath);
                return End(report, ShiftResult::BackupNamesShared);
            }
        }
    }
    if (!checkBackups) {
        return End(report, ShiftResult::Done);
    }
    // A stopped job names itself by any file it left short; a finished one by its backups.
    ShiftResult found = ShiftResult::Done;
    for (int32_t f = 0; f < plan->fileCount; ++f) {
        const DiscFile& file = plan->files[f];
        if (!file.audio || (backupBytes[f] < 0 && !shortOrMissing[f])) {
            continue;
        }
        if (shortOrMissing[f] || found == ShiftResult::Done) {
            CopyString(report.imagePath, file.path);
            CopyString(report.backupPath, file.backupPath);
            const int64_t have = fileBytes[f];
            report.sectors = static_cast<int32_t>(have < 0 ? 0 : have / SECTOR_SIZE);
            report.totalSectors = static_cast<int32_t>(file.sectors);
            report.error = have < 0 ? fileErrors[f] : 0;
        }
        if (shortOrMissing[f]) {
            return End(report, ShiftResult::UnfinishedJob);
        }
        found = ShiftResult::BackupExists;
    }
    if (found == ShiftResult::Done) {
        report.imagePath[0] = '\0';
        CopyString(report.imagePath, cuePath);
        report.backupPath[0] = '\0';
    }
    return End(report, found);
}

// kestran: shifts the audio of CloneCD-layout images and BIN/CUE sets from the command line.
#include <errno.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <chrono>
#include <string>

#include "collection.h"
#include "console.h"
#include "dat_command.h"
#include "file.h"
#include "job_host.h"
#include "job_preview.h"
#include "sector.h"
#include "sector_rewriter.h"
#include "shift_job.h"
#include "undo_job.h"

namespace {

constexpr int EXIT_DONE = 0;
constexpr int EXIT_NOT_DONE = 1;
constexpr int EXIT_USAGE = 2;

// 0, or the exit status of the signal that asked to cancel.
volatile sig_atomic_t cancelRequested = 0;

void RequestCancel(int exitStatus) {
    cancelRequested = exitStatus;
}

const char kUsage[] =
    "Usage: kestran [-o N | --drive-offset N] [-n] [-q] [-r] [--json] [--] FILE.ccd|.cue...\n"
    "       kestran --undo [-n] [-q] [-r] [--json] [--] FILE.ccd|.cue...\n"
    "       kestran --dat FILE.dat [-n] [-q] [-r] [--json] [--] FILE.ccd|.cue...\n"
    "       kestran --hash [-r] [--json] [--] FILE.ccd|.cue...\n"
    "       kestran --accuraterip dBAR-....bin [-n] [-q] [-r] [--json] [--] FILE.ccd|.cue...\n"
    "       kestran --checksums | --detect [-r] [--json] [--] FILE.ccd|.cue...\n"
    "       kestran --help | --version\n"
    "\n"
    "Moves the audio of each CloneCD-layout image (FILE.img beside FILE.ccd) or\n"
    "BIN/CUE set (the files that FILE.cue names) by a number of samples. Data\n"
    "sectors are copied unchanged. The original image is kept as FILE.old, each\n"
    "rewritten file of a set as NAME.old; a job is refused when a backup already\n"
    "exists or the sheet lists no audio track.\n"
    "\n"
    "  -o, --offset N        shift by N samples (4 bytes each), -2348 to 2348;\n"
    "                        default -30. Negative moves the audio toward the start\n"
    "                        of the image, positive toward its end.\n"
    "      --drive-offset N  the drive's read offset as offset lists and rippers\n"
    "                        give it: +N drops the first N samples; shifts by -N\n"
    "  -n, --dry-run         say what would be done, touch nothing\n"
    "      --undo            put FILE.old back as FILE.img (each NAME.old of a set)\n"
    "      --dat FILE.dat    find the shift that makes each image match its entry in\n"
    "                        the DAT file (Logiqx XML), apply it and check the result;\n"
    "                        with -n only report\n"
    "      --hash            print each image's track files as a DAT entry\n"
    "      --accuraterip F   the same with F, a saved AccurateRip response for the\n"
    "                        disc (dBAR-....bin): the shift that makes its audio\n"
    "                        tracks match\n"
    "      --checksums       print each track's CRC32 and AccurateRip checksums, the\n"
    "                        disc id and the name of the response file to fetch\n"
    "      --detect          report the shifts the image itself points to (scrambled\n"
    "                        data, sync patterns, silent pregaps); changes nothing\n"
    "  -r, --recursive       a folder stands for the .ccd and .cue files under it\n"
    "      --json            one JSON line per image on stdout instead of the prose:\n"
    "                        image, verdict, entry, shift, reason, tracks\n"
    "  -q, --quiet           no progress and no success lines; refusals still show\n"
    "  -h, --help            this text\n"
    "      --version         the version\n"
    "\n"
    "N is an optional sign and decimal digits. The same shift, two ways:\n"
    "  kestran -o -6 game.ccd\n"
    "  kestran --drive-offset 6 game.ccd\n"
    "\n"
    "Exit status: 0 every file done (with --dat: every image matches), 1 a file\n"
    "refused, failed or not matching, 2 usage error;\n"
    "130 Ctrl-C, 143 SIGTERM, 129 SIGHUP: the job stops, the original stays whole.\n";

void SayList(FILE* out, const char* format, va_list arguments) {
    fputs("kestran: ", out);
    vfprintf(out, format, arguments);
}

// A diagnostic on ImageErr(): "kestran: " and the text.
void Say(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    SayList(ImageErr(), format, arguments);
    va_end(arguments);
}

// A usage error, said once, before any file is touched.
int UsageError(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    SayList(stderr, format, arguments);
    va_end(arguments);
    fputs("\nTry 'kestran --help'.\n", stderr);
    return EXIT_USAGE;
}

const char* Plural(int64_t count) {
    return count == 1 ? "" : "s";
}

// The path as a shell reads it back: quoted unless it is made of safe characters only.
void PrintShellWord(FILE* out, const char* path) {
    bool plain = path[0] != '\0';
    for (const char* p = path; *p != '\0'; ++p) {
        plain = plain && (strchr("+,-./:=@_%", *p) != nullptr || (*p >= '0' && *p <= '9') ||
                          (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z'));
    }
    if (plain) {
        fputs(path, out);
        return;
    }
    fputc('\'', out);
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '\'') {
            fputs("'\\''", out);
        } else {
            fputc(*p, out);
        }
    }
    fputc('\'', out);
}

// "kestran --undo FILE.ccd", ready to paste.
void PrintUndoCommand(FILE* out, const char* controlPath) {
    fputs("kestran --undo ", out);
    if (controlPath[0] == '-') {
        fputs("-- ", out);
    }
    PrintShellWord(out, controlPath);
}

// The shift in words: "30 samples (120 bytes) toward the start".
void PrintShift(FILE* out, int32_t shift) {
    int32_t samples = shift < 0 ? -shift : shift;
    if (shift == 0) {
        fputs("0 samples (the audio stays where it is)", out);
        return;
    }
    fprintf(out, "%d sample%s (%d bytes) toward the %s", samples, Plural(samples),
            samples * SAMPLE_SIZE, shift < 0 ? "start" : "end");
}

// Why a name did not open as a file: "not found", "is a folder", "cannot be read: ...".
void PrintOpenErrorWords(FILE* out, int error) {
    if (IsMissingFileError(error)) {
        fputs("not found", out);
    } else if (IsFolderError(error)) {
        fputs("is a folder", out);
    } else if (IsNotFileError(error)) {
        fputs("is not a regular file", out);
    } else {
        fprintf(out, "cannot be read: %s", SystemErrorText(error));
    }
}

void PrintOpenError(FILE* out, const char* path, int error) {
    fprintf(out, "%s ", path);
    PrintOpenErrorWords(out, error);
}

// The command line's job host: the offset from the arguments, a progress line on a terminal,
// and Ctrl-C as the cancel request.
class CliHost : public NullJobHost {
  public:
    CliHost(const char* offsetText, bool showProgress)
        : NullJobHost(offsetText), showProgress_(showProgress) {}

    void RewriteStarting(int64_t totalSectors) override {
        total_ = totalSectors;
        start_ = std::chrono::steady_clock::now();
        DrawBar(0);
    }

    void ShowProgress(int32_t count) override { DrawBar(count); }

    int32_t BusyFlag() override { return cancelRequested ? 0 : 1; }

    // Clears the progress line before the file's own line is printed.
    void EndProgress() { ClearProgressLine(); }

  private:
    // One line that never reaches the terminal's last column, so that it never wraps: the
    // figures first, then as much of the bar as fits in front of them.
    void DrawBar(int32_t count) {
        if (!showProgress_) {
            return;
        }
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        double megabytes = static_cast<double>(count) * SECTOR_SIZE / 1e6;
        double rate = seconds > 0 ? megabytes / seconds : 0.0;
        int percent = total_ > 0 ? static_cast<int>(count * 100LL / total_) : 100;
        char figures[96];
        int length = snprintf(figures, sizeof(figures), "%d/%lld sectors %3d%% %7.1f MB/s", count,
                              static_cast<long long>(total_), percent, rate);
        const std::string run = RunProgressText();
        int room = TerminalWidth(stderr);
        room = (room > 0 ? room : 80) - 1 - static_cast<int>(run.size());
        constexpr int kBarWidth = 30;
        constexpr int kShortestBar = 10;
        int barWidth = room - length - 3;
        barWidth = barWidth > kBarWidth ? kBarWidth : barWidth;
        char bar[kBarWidth + 4] = "";
        if (barWidth >= kShortestBar) {
            int filled = percent * barWidth / 100;
            bar[0] = '[';
            for (int i = 0; i < barWidth; ++i) {
                bar[1 + i] = i < filled ? '#' : '.';
            }
            bar[barWidth + 1] = ']';
            bar[barWidth + 2] = ' ';
            bar[barWidth + 3] = '\0';
        }
        char line[256];
        snprintf(line, sizeof(line), "%s%s%.*s", run.c_str(), bar, room > 0 ? room : 0, figures);
        DrawProgressLine(line);
    }

    bool showProgress_;
    int64_t total_ = 0;
    std::chrono::steady_clock::time_point start_;
};

// What happened to the original after a failure past the rename.
void PrintAftermath(const JobReport& r, const char* controlPath) {
    if (r.restored && IsCueSheetPath(controlPath)) {
        fprintf(ImageErr(), "; every file is back as it was\n");
    } else if (r.restored) {
        fprintf(ImageErr(), "; the image is back as it was\n");
    } else {
        fprintf(ImageErr(), "; could not put the original back (%s): it is kept whole as %s\n",
                SystemErrorText(r.restoreError), r.backupPath);
    }
}

void PrintShifted(const JobReport& r) {
    fprintf(ImageOut(), "%s: the audio moved ", r.imagePath);
    PrintShift(ImageOut(), r.shift);
    fprintf(ImageOut(), ", %d audio region%s, %d sector%s; original kept as %s", r.audioRegions,
            Plural(r.audioRegions), r.sectors, Plural(r.sectors), r.backupPath);
    if (r.trailingBytes > 0) {
        fprintf(ImageOut(), "; the %d byte%s past the last whole sector stay only in %s",
                r.trailingBytes, Plural(r.trailingBytes), r.backupPath);
    }
    fputc('\n', ImageOut());
}

const char* SheetProblemText(SheetProblem problem) {
    switch (problem) {
        case SheetProblem::None:
        case SheetProblem::ReadFailed:
            return "cannot be read";
        case SheetProblem::NoTracks:
            return "no TRACK line";
        case SheetProblem::TooManyFiles:
            return "more FILE lines than a disc has tracks";
        case SheetProblem::TooManyTracks:
            return "more than 99 tracks";
        case SheetProblem::TrackBeforeFile:
            return "a TRACK line before any FILE line";
        case SheetProblem::BadTrackNumber:
            return "a track number that is not 1 to 99 or not above the one before";
        case SheetProblem::BadIndex:
            return "an INDEX line that is not INDEX nn mm:ss:ff";
        case SheetProblem::IndexOutOfOrder:
            return "INDEX values out of order";
        case SheetProblem::NoIndex1:
            return "a track without INDEX 01";
        case SheetProblem::IndexBeforeTrack:
            return "INDEX, PREGAP or POSTGAP before any TRACK line";
        case SheetProblem::BadGap:
            return "a PREGAP or POSTGAP that is not mm:ss:ff";
        case SheetProblem::BadSession:
            return "a REM SESSION that is not a number above the one before";
        case SheetProblem::NameTooLong:
            return "a file name longer than kestran's paths";
        case SheetProblem::BadFile:
            return "a FILE line without a name or a type, or with an unclosed quote";
    }
    return "";
}

const char* PlacementProblemText(PlacementProblem problem) {
    switch (problem) {
        case PlacementProblem::None:
            break;
        case PlacementProblem::NotWholeSectors:
            return "a file that is not a whole number of 2352-byte sectors";
        case PlacementProblem::IndexPastEnd:
            return "an INDEX past the end of its file";
        case PlacementProblem::AudioNotRaw:
            return "audio in a file that is not raw 2352-byte sectors";
        case PlacementProblem::OtherSectorSize:
            return "sectors of another size than 2352 bytes";
        case PlacementProblem::Overlap:
            return "two tracks on one sector";
    }
    return "";
}

// The line of a set's job that ended: the files it replaced, or that every file is back.
void PrintShiftedSet(const JobReport& r) {
    fprintf(ImageOut(), "%s: the audio moved ", r.imagePath);
    PrintShift(ImageOut(), r.shift);
    fprintf(ImageOut(),
            ", %d audio region%s, %d sector%s in %d file%s; each original kept beside it as "
            "NAME.old\n",
            r.audioRegions, Plural(r.audioRegions), r.sectors, Plural(r.sectors), r.filesReplaced,
            Plural(r.filesReplaced));
}

void PrintRefusalOrFailure(const JobReport& r, const char* controlPath) {
    switch (r.result) {
        case ShiftResult::Done:
            return;
        case ShiftResult::Cancelled:
            if (IsCueSheetPath(controlPath)) {
                Say("%s: cancelled after %d of %d sectors", controlPath, r.sectors, r.totalSectors);
                break;
            }
            Say("%s: cancelled after %d of %d sectors; it holds only those sectors, shifted; the "
                "original is kept whole as %s; undo with: ",
                r.imagePath, r.sectors, r.totalSectors, r.backupPath);
            PrintUndoCommand(ImageErr(), controlPath);
            fputc('\n', ImageErr());
            return;
        case ShiftResult::OffsetOutOfRange:
            // The command line checks the offset before any job.
            Say("%s: offset %d is outside %d..%d\n", controlPath, r.shift, MIN_SHIFT, MAX_SHIFT);
            return;
        case ShiftResult::PathTooLong:
            Say("%.60s...: the path is longer than %d bytes\n", controlPath, MAX_PATH_LENGTH);
            return;
        case ShiftResult::NotControlFile:
            Say("%s: not a .ccd control file or .cue sheet\n", controlPath);
            return;
        case ShiftResult::ImageMissing:
            Say("");
            PrintOpenError(ImageErr(), r.imagePath, r.error);
            fputc('\n', ImageErr());
            return;
        case ShiftResult::ImageTooLarge:
            Say("%s: more than %lld sectors (about 5 TB), more than kestran can shift; nothing "
                "was changed\n",
                r.imagePath, static_cast<long long>(MAX_IMAGE_SECTORS));
            return;
        case ShiftResult::BackupExists:
            Say("%s already exists: move it away first\n", r.backupPath);
            return;
        case ShiftResult::UnfinishedJob:
            Say("a previous job did not finish: ");
            if (r.error != 0) {
                fprintf(ImageErr(), "%s is missing", r.imagePath);
            } else {
                fprintf(ImageErr(), "%s holds %d of %d sectors", r.imagePath, r.sectors,
                        r.totalSectors);
            }
            fprintf(ImageErr(), ", the original is %s; put it back with ", r.backupPath);
            PrintUndoCommand(ImageErr(), controlPath);
            fputc('\n', ImageErr());
            return;
        case ShiftResult::ControlReadFailed:
            Say("%s: cannot read it (%s); nothing was changed\n", controlPath,
                SystemErrorText(r.error));
            return;
        case ShiftResult::SessionLayoutMismatch:
            Say("%s: multi-session layout does not match the image size; nothing was changed\n",
                controlPath);
            return;
        case ShiftResult::SessionLayoutInvalid:
            Say("%s: multi-session layout contradicts itself or has more than %d sessions or %d "
                "tracks; nothing was changed\n",
                controlPath, MAX_SESSIONS, MAX_TRACKS);
            return;
        case ShiftResult::TrackPastImage:
            Say("%s: track %d lies past the last of the %d whole sectors of %s: the control file "
                "does not describe this image; nothing was changed\n",
                controlPath, r.track, r.sectors, r.imagePath);
            return;
        case ShiftResult::SheetInvalid:
            Say("%s", controlPath);
            if (r.sheetLine > 0) {
                fprintf(ImageErr(), ":%d", r.sheetLine);
            }
            fprintf(ImageErr(), ": %s; nothing was changed\n", SheetProblemText(r.sheetProblem));
            return;
        case ShiftResult::SheetUnplaceable:
            Say("%s: %s", controlPath, PlacementProblemText(r.placementProblem));
            if (r.sheetTrack > 0) {
                fprintf(ImageErr(), " (track %d)", r.sheetTrack);
            }
            if (strcmp(r.imagePath, controlPath) != 0) {
                fprintf(ImageErr(), " in %s", r.imagePath);
            }
            fputs("; nothing was changed\n", ImageErr());
            return;
        case ShiftResult::BackupNamesShared:
            Say("%s: %s and %s would both keep their original as %s; nothing was changed\n",
                controlPath, r.imagePath, r.otherPath, r.backupPath);
            return;
        case ShiftResult::GapTooShort:
            Say("%s: the gap before track %d is on the disc but in no file, and shorter than the "
                "shift: the audio would cross it; nothing was changed\n",
                controlPath, r.sheetTrack);
            return;
        case ShiftResult::CancelledBeforeRename:
            Say("%s: cancelled; nothing was changed\n", controlPath);
            return;
        case ShiftResult::RenameFailed:
            Say("%s: cannot rename it to %s (%s); nothing was changed\n", r.imagePath, r.backupPath,
                SystemErrorText(r.error));
            return;
        case ShiftResult::BackupNameLeft:
            Say("%s: cannot rename it to %s (%s); the image is unchanged, but %s stays as a second "
                "name of it (%s): remove %s\n",
                r.imagePath, r.backupPath, SystemErrorText(r.error), r.backupPath,
                SystemErrorText(r.restoreError), r.backupPath);
            return;
        case ShiftResult::SourceOpenFailed:
            Say("%s: cannot read %s (%s)", r.imagePath, r.backupPath, SystemErrorText(r.error));
            break;
        case ShiftResult::TargetCreateFailed:
            Say("%s: cannot create the new image (%s)", r.imagePath, SystemErrorText(r.error));
            break;
        case ShiftResult::ReadFailed:
            Say("%s: read failed after %d sectors (%s)", r.imagePath, r.sectors,
                r.error != 0 ? SystemErrorText(r.error) : "its size changed while it was read");
            break;
        case ShiftResult::WriteFailed:
            Say("%s: write failed after %d sectors (%s)", r.imagePath, r.sectors,
                SystemErrorText(r.error));
            break;
    }
    PrintAftermath(r, controlPath);
}

struct Options {
    char offsetText[16] = "-30";
    const char* offsetOption = nullptr;  // the option that gave the shift, if one did
    bool quiet = false;
    bool dryRun = false;
    bool undo = false;
    const char* datPath = nullptr;  // --dat FILE.dat
    bool hash = false;
    const char* responsePath = nullptr;  // --accuraterip dBAR-....bin
    bool checksums = false;
    bool detect = false;
    bool recursive = false;  // -r: a folder stands for the control files under it
    bool json = false;       // --json: one JSON line per image instead of the prose
};

// Nothing to shift: the control file lists no audio track.
void PrintNoAudio(const JobPlan& plan, const char* controlPath) {
    Say("no audio track in %s", controlPath);
    if (IsMissingFileError(plan.controlError)) {
        fputs(" (not found)", ImageErr());
    } else if (plan.controlError != 0) {
        fputs(" (it ", ImageErr());
        PrintOpenErrorWords(ImageErr(), plan.controlError);
        fputc(')', ImageErr());
    }
    fputs("; nothing changed\n", ImageErr());
}

// What the job would do: the shift, then each audio region with its tracks and its cut edge.
Verdict PrintPreview(const JobPlan& plan, const Options& options) {
    JobPreview preview;
    if (!PreviewShiftJob(plan, &preview)) {
        Say("");
        PrintOpenError(ImageErr(), plan.imagePath, preview.error);
        fputc('\n', ImageErr());
        return Verdict::Failed;
    }
    if (options.quiet) {
        return Verdict::WouldShift;
    }
    fprintf(ImageOut(), "%s: would move the audio ", plan.imagePath);
    PrintShift(ImageOut(), plan.shift);
    fprintf(ImageOut(), ", %d audio region%s, %lld sector%s; nothing changed\n",
            preview.regionCount, Plural(preview.regionCount),
            static_cast<long long>(plan.imageSectors), Plural(plan.imageSectors));
    if (plan.sheet == SheetKind::CueSheet) {
        int32_t rewritten = 0;
        for (int32_t f = 0; f < plan.fileCount; ++f) {
            rewritten += plan.files[f].audio ? 1 : 0;
        }
        fprintf(ImageOut(),
                "  %d of %d file%s would be rewritten; the others hold no audio and stay as they "
                "are\n",
                rewritten, plan.fileCount, Plural(plan.fileCount));
    }
    for (int32_t r = 0; r < preview.regionCount; ++r) {
        const AudioRegion& region = preview.regions[r];
        fprintf(ImageOut(), "  sectors %lld-%lld", static_cast<long long>(region.firstSector),
                static_cast<long long>(region.endSector - 1));
        if (region.firstTrack == region.lastTrack && region.firstTrack != 0) {
            fprintf(ImageOut(), ", track %d", region.firstTrack);
        } else if (region.firstTrack != 0) {
            fprintf(ImageOut(), ", tracks %d-%d", region.firstTrack, region.lastTrack);
        }
        if (region.droppedSamples == 0) {
            fprintf(ImageOut(), ": nothing dropped\n");
            continue;
        }
        fprintf(ImageOut(), ": its %s %d sample%s would be dropped, %d of them not silence\n",
                plan.shift < 0 ? "first" : "last", region.droppedSamples,
                Plural(region.droppedSamples), region.droppedNonZero);
    }
    return Verdict::WouldShift;
}

// Ends a job's lines: the progress line goes, then the result line or why there is none.
void ReportJob(CliHost& host, ShiftResult result, const JobReport& report, const char* controlPath,
               bool quiet) {
    host.EndProgress();
    if (result == ShiftResult::Done) {
        if (!quiet && IsCueSheetPath(controlPath)) {
            PrintShiftedSet(report);
        } else if (!quiet) {
            PrintShifted(report);
        }
        return;
    }
    PrintRefusalOrFailure(report, controlPath);
}

// Shifts one file, or says what that would do.
void ShiftFile(CliHost& host, const char* controlPath, const Options& options, ImageResult& image) {
    JobPlan plan;
    JobReport report;
    ShiftResult result = PrepareShiftJob(host, controlPath, &plan, &report);
    image.hasShift = ParseDecimal(options.offsetText, &image.shift);
    if (result == ShiftResult::Done) {
        AudioRegion first;
        if (ListAudioRegions(plan, &first, 1) == 0) {
            PrintNoAudio(plan, controlPath);
            image.verdict = Verdict::Refused;
            return;
        }
        if (options.dryRun) {
            image.verdict = PrintPreview(plan, options);
            return;
        }
        result = RunPreparedShiftJob(host, plan, &report);
        image.bytesRead = static_cast<int64_t>(report.sectors) * SECTOR_SIZE;
    }
    ReportJob(host, result, report, controlPath, options.quiet);
    image.verdict = VerdictOfJob(result);
}

// The DAT command's jobs, run with this command line's host and messages.
class CliJobRunner : public JobRunner {
  public:
    ShiftResult RunJob(const char* controlPath, const char* offsetText, bool quiet,
                       JobReport& report) override {
        if (cancelRequested) {
            return ShiftResult::Cancelled;
        }
        CliHost host(offsetText, !quiet && IsTerminal(stderr));
        ShiftResult result = RunShiftJob(host, controlPath, &report);
        ReportJob(host, result, report, controlPath, quiet);
        fflush(ImageOut());
        return result;
    }

    void PrintRefusal(const JobReport& report, const char* controlPath) override {
        PrintRefusalOrFailure(report, controlPath);
    }

    int CancelStatus() override { return cancelRequested; }
};

// Puts one file's backup back, or says what that would do.
void UndoFile(const char* controlPath, const Options& options, ImageResult& image) {
    UndoReport report;
    UndoResult result =
        options.dryRun ? PrepareUndo(controlPath, &report) : UndoShiftJob(controlPath, &report);
    image.verdict = result == UndoResult::Failed ? Verdict::Failed : Verdict::Refused;
    switch (result) {
        case UndoResult::Done:
            image.verdict = options.dryRun ? Verdict::WouldPutBack : Verdict::PutBack;
            if (options.quiet) {
                return;
            }
            if (report.files > 0) {
                fprintf(ImageOut(), "%s: %d file%s %s from NAME.old (%lld sector%s)",
                        report.imagePath, report.files, Plural(report.files),
                        options.dryRun ? "would be put back" : "put back",
                        static_cast<long long>(report.backupSectors), Plural(report.backupSectors));
            } else {
                fprintf(ImageOut(), "%s: %s from %s (%lld sector%s)", report.imagePath,
                        options.dryRun ? "would be put back" : "put back", report.backupPath,
                        static_cast<long long>(report.backupSectors), Plural(report.backupSectors));
            }
            if (report.imageFound && report.files > 0) {
                fprintf(ImageOut(), ", %s the files of %lld sector%s that stood there",
                        options.dryRun ? "replacing" : "replaced",
                        static_cast<long long>(report.imageSectors), Plural(report.imageSectors));
            } else if (report.imageFound) {
                fprintf(ImageOut(), ", %s the image of %lld sector%s that stood there",
                        options.dryRun ? "replacing" : "replaced",
                        static_cast<long long>(report.imageSectors), Plural(report.imageSectors));
            }
            fprintf(ImageOut(), options.dryRun ? "; nothing changed\n" : "\n");
            return;
        case UndoResult::PathTooLong:
            Say("%.60s...: the path is longer than %d bytes\n", controlPath, MAX_PATH_LENGTH);
            break;
        case UndoResult::NotControlFile:
            Say("%s: not a .ccd control file or .cue sheet\n", controlPath);
            break;
        case UndoResult::NoBackup:
            Say("nothing to put back: ");
            PrintOpenError(ImageErr(), report.backupPath, report.error);
            fputc('\n', ImageErr());
            break;
        case UndoResult::BackupIsLink:
            Say("%s is a symbolic link, which no job leaves; nothing was changed\n",
                report.backupPath);
            break;
        case UndoResult::BackupIsImage:
            Say("%s is a second name of %s, not a backup of it; nothing was changed\n",
                report.backupPath, report.imagePath);
            break;
        case UndoResult::BackupEmpty:
            Say("%s holds no whole sector, so it is not the original of %s; nothing was "
                "changed\n",
                report.backupPath, report.imagePath);
            break;
        case UndoResult::BackupShorterThanImage:
            Say("%s (%lld sector%s) is shorter than %s (%lld), so it is not its original; nothing "
                "was changed\n",
                report.backupPath, static_cast<long long>(report.backupSectors),
                Plural(report.backupSectors), report.imagePath,
                static_cast<long long>(report.imageSectors));
            break;
        case UndoResult::BackupDoesNotFit:
            Say("%s (%lld sector%s) is not the original of %s: ", report.backupPath,
                static_cast<long long>(report.backupSectors), Plural(report.backupSectors),
                controlPath);
            if (report.track != 0) {
                fprintf(stderr, "track %d lies past its end", report.track);
            } else {
                fputs("its sessions do not add up to it", stderr);
            }
            fputs("; nothing was changed\n", stderr);
            break;
        case UndoResult::Failed:
            Say("%s: cannot put %s back (%s)%s\n", report.imagePath, report.backupPath,
                SystemErrorText(report.error),
                IsCueSheetPath(controlPath) ? "; the files before it are back"
                                            : "; nothing was changed");
            break;
        case UndoResult::SetRefused:
            PrintRefusalOrFailure(report.plan, controlPath);
            break;
    }
}

// Takes an optional sign and decimal digits, nothing else, within the job's range.
bool ParseShift(const char* text, int32_t* shift) {
    const char* p = text;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') {
        ++p;
    }
    if (*p == '\0') {
        return false;
    }
    int32_t magnitude = 0;
    for (; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            return false;
        }
        // Past the range the digits still count, but the magnitude stops growing.
        magnitude = magnitude > MAX_SHIFT ? magnitude : magnitude * 10 + (*p - '0');
    }
    *shift = negative ? -magnitude : magnitude;
    return true;
}

enum class OptionName {
    Help,
    Version,
    Quiet,
    DryRun,
    Undo,
    Offset,
    DriveOffset,
    Dat,
    Hash,
    Recursive,
    Json,
    AccurateRip,
    Checksums,
    Detect,
};

struct KnownOption {
    const char* shortName;  // "-o", or nullptr
    const char* longName;   // "--offset"
    const char* value;      // what its value is, for a message; nullptr when it takes none
    OptionName name;
};

const KnownOption kOptions[] = {
    {"-h", "--help", nullptr, OptionName::Help},
    {nullptr, "--version", nullptr, OptionName::Version},
    {"-q", "--quiet", nullptr, OptionName::Quiet},
    {"-n", "--dry-run", nullptr, OptionName::DryRun},
    {nullptr, "--undo", nullptr, OptionName::Undo},
    {"-o", "--offset", "shift", OptionName::Offset},
    {nullptr, "--drive-offset", "drive offset", OptionName::DriveOffset},
    {nullptr, "--dat", "DAT file", OptionName::Dat},
    {nullptr, "--hash", nullptr, OptionName::Hash},
    {"-r", "--recursive", nullptr, OptionName::Recursive},
    {nullptr, "--json", nullptr, OptionName::Json},
    {nullptr, "--accuraterip", "response file", OptionName::AccurateRip},
    {nullptr, "--checksums", nullptr, OptionName::Checksums},
    {nullptr, "--detect", nullptr, OptionName::Detect},
};

// Finds the option that `arg` spells: "-o", "-oVALUE", "--offset", "--offset=VALUE". Sets
// `*inlineValue` to a value written into the same argument.
const KnownOption* FindOption(const char* arg, const char** inlineValue) {
    *inlineValue = nullptr;
    for (const KnownOption& option : kOptions) {
        size_t length = strlen(option.longName);
        if (strncmp(arg, option.longName, length) == 0) {
            if (arg[length] == '\0') {
                return &option;
            }
            if (arg[length] == '=' && option.value != nullptr) {
                *inlineValue = arg + length + 1;
                return &option;
            }
        }
        if (option.shortName != nullptr && strncmp(arg, option.shortName, 2) == 0) {
            if (arg[2] == '\0') {
                return &option;
            }
            if (option.value != nullptr) {
                *inlineValue = arg + 2;
                return &option;
            }
        }
    }
    return nullptr;
}

// Sets the shift from the value of -o or --drive-offset.
int TakeShift(Options* options, const char* option, const char* value, bool driveOffset) {
    if (options->offsetOption != nullptr) {
        return UsageError("the shift is given twice (%s and %s)", options->offsetOption, option);
    }
    int32_t shift = 0;
    if (!ParseShift(value, &shift)) {
        return UsageError(
            "%s takes a whole number of samples (a sign and decimal digits), not '%s'", option,
            value);
    }
    if (shift < MIN_SHIFT || shift > MAX_SHIFT) {
        return UsageError("%s %s is outside %d..%d", option, value, MIN_SHIFT, MAX_SHIFT);
    }
    options->offsetOption = option;
    snprintf(options->offsetText, sizeof(options->offsetText), "%d", driveOffset ? -shift : shift);
    return EXIT_DONE;
}

// Reads the options; gathers the file names at the front of argv and counts them in `*files`.
// Returns -1 to go on, or the exit status to end with at once.
int ParseArguments(int argc, char** argv, Options* options, int* files) {
    *files = 0;
    bool namesOnly = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (namesOnly || arg[0] != '-' || arg[1] == '\0') {
            argv[(*files)++] = argv[i];
            continue;
        }
        if (strcmp(arg, "--") == 0) {
            namesOnly = true;
            continue;
        }
        const char* value = nullptr;
        const KnownOption* known = FindOption(arg, &value);
        if (known == nullptr) {
            return UsageError("unknown option %s", arg);
        }
        if (known->value != nullptr && value == nullptr) {
            if (i + 1 >= argc) {
                return UsageError("missing %s after %s", known->value, arg);
            }
            value = argv[++i];
        }
        int status = -1;
        switch (known->name) {
            case OptionName::Help:
                fputs(kUsage, stdout);
                return EXIT_DONE;
            case OptionName::Version:
                printf("kestran %s\n", KESTRAN_VERSION);
                return EXIT_DONE;
            case OptionName::Quiet:
                options->quiet = true;
                break;
            case OptionName::DryRun:
                options->dryRun = true;
                break;
            case OptionName::Undo:
                options->undo = true;
                break;
            case OptionName::Offset:
            case OptionName::DriveOffset:
                status = TakeShift(options, arg[1] == '-' ? known->longName : known->shortName,
                                   value, known->name == OptionName::DriveOffset);
                break;
            case OptionName::Dat:
                options->datPath = value;
                break;
            case OptionName::Hash:
                options->hash = true;
                break;
            case OptionName::Recursive:
                options->recursive = true;
                break;
            case OptionName::Json:
                options->json = true;
                break;
            case OptionName::AccurateRip:
                options->responsePath = value;
                break;
            case OptionName::Checksums:
                options->checksums = true;
                break;
            case OptionName::Detect:
                options->detect = true;
                break;
        }
        if (status > EXIT_DONE) {
            return status;
        }
    }
    if (options->undo && options->offsetOption != nullptr) {
        return UsageError("--undo takes no shift (%s)", options->offsetOption);
    }
    const char* commands[] = {
        options->datPath != nullptr ? "--dat" : nullptr, options->hash ? "--hash" : nullptr,
        options->responsePath != nullptr ? "--accuraterip" : nullptr,
        options->checksums ? "--checksums" : nullptr, options->detect ? "--detect" : nullptr};
    const char* command = nullptr;
    for (const char* given : commands) {
        if (given != nullptr && command != nullptr) {
            return UsageError("%s and %s do not go together", command, given);
        }
        command = given != nullptr ? given : command;
    }
    const bool readsOnly = options->hash || options->checksums || options->detect;
    if (command != nullptr && options->undo) {
        return UsageError("--undo does not go with %s", command);
    }
    if (command != nullptr && options->offsetOption != nullptr) {
        return UsageError(
            readsOnly ? "%s shifts nothing: drop %s" : "%s finds the shift itself: drop %s",
            command, options->offsetOption);
    }
    if (readsOnly && options->dryRun) {
        return UsageError("%s changes nothing anyway: drop -n", command);
    }
    if (*files == 0) {
        return UsageError("no control file given");
    }
    return -1;
}

// Ends like the standard tools: output that could not be written is a failure.
int FinishOutput(int status) {
    if (fflush(stdout) != 0 || ferror(stdout)) {
        Say("cannot write the output: %s\n", strerror(errno));
        return status == EXIT_DONE ? EXIT_NOT_DONE : status;
    }
    return status;
}

int CancelStatus() {
    return cancelRequested;
}

}  // namespace

int main(int argc, char** argv) {
    argv = Utf8Arguments(&argc, argv);
    InstallCancelHandler(RequestCancel);
    Options options;
    int files = 0;
    int status = ParseArguments(argc, argv, &options, &files);
    if (status >= 0) {
        return FinishOutput(status);
    }
    const std::vector<ListedFile> listed = ListFiles(argv, files, options.recursive);
    RunOptions run = {options.json, options.quiet, !options.quiet && IsTerminal(stderr),
                      options.json || options.recursive};
    if (options.datPath != nullptr || options.hash || options.responsePath != nullptr ||
        options.checksums || options.detect) {
        CliJobRunner runner;
        DatCommand command = {options.datPath, options.hash,         options.dryRun,
                              options.quiet,   options.responsePath, options.checksums,
                              options.detect};
        status = RunDatCommand(command, listed, run, runner);
    } else {
        CliHost host(options.offsetText, run.progress);
        status = RunCollection(
            listed, run,
            [&](const char* path, ImageResult& image) {
                if (options.undo) {
                    UndoFile(path, options, image);
                } else {
                    ShiftFile(host, path, options, image);
                }
            },
            CancelStatus);
    }
    // A cancel that came as the last file ended still ends with its status.
    status = FinishOutput(status);
    return cancelRequested ? cancelRequested : status;
}

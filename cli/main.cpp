// kestran: shifts the audio of CloneCD-layout images from the command line.
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include <chrono>

#include "console.h"
#include "file.h"
#include "job_host.h"
#include "sector.h"
#include "shift_job.h"

namespace {

constexpr int EXIT_SHIFTED = 0;
constexpr int EXIT_NOT_SHIFTED = 1;
constexpr int EXIT_USAGE = 2;

// 0, or the exit status of the signal that asked to cancel.
volatile sig_atomic_t cancelRequested = 0;

void RequestCancel(int exitStatus) {
    cancelRequested = exitStatus;
}

const char kUsage[] =
    "Usage: kestran [-o N | --offset N | --offset=N] [-q] [--] FILE.ccd...\n"
    "       kestran --help | --version\n"
    "\n"
    "Moves the audio of each CloneCD-layout image (FILE.img beside FILE.ccd) by N samples\n"
    "(default -30; from -2348 to 2348). Negative moves the audio toward the start of the\n"
    "image, positive toward its end. Data sectors are copied unchanged. The original image is\n"
    "kept as FILE.old; a job is refused when FILE.old already exists.\n"
    "\n"
    "  -o, --offset N   the shift in samples (4 bytes each)\n"
    "  -q, --quiet      print nothing\n"
    "\n"
    "Exit status: 0 every file shifted, 1 a file refused or failed, 2 usage error,\n"
    "130 cancelled (Ctrl-C).\n";

// The command line's job host: the offset from the arguments, a progress line on a terminal,
// and Ctrl-C as the cancel request.
class CliHost : public NullJobHost {
  public:
    CliHost(const char* offsetText, bool showProgress)
        : NullJobHost(offsetText), showProgress_(showProgress) {}

    void RewriteStarting(int64_t totalSectors) override {
        total_ = totalSectors;
        start_ = std::chrono::steady_clock::now();
        progressShown_ = false;
        DrawBar(0);
    }

    void ShowProgress(int32_t count) override { DrawBar(count); }

    int32_t BusyFlag() override { return cancelRequested ? 0 : 1; }

    // Clears the progress line before the file's own line is printed.
    void EndProgress() {
        if (progressShown_) {
            fprintf(stderr, "\r\033[K");
            fflush(stderr);
            progressShown_ = false;
        }
    }

  private:
    void DrawBar(int32_t count) {
        if (!showProgress_) {
            return;
        }
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        double megabytes = static_cast<double>(count) * SECTOR_SIZE / 1e6;
        double rate = seconds > 0 ? megabytes / seconds : 0.0;
        int percent = total_ > 0 ? static_cast<int>(count * 100LL / total_) : 100;
        constexpr int kBarWidth = 30;
        char bar[kBarWidth + 1];
        int filled = percent * kBarWidth / 100;
        for (int i = 0; i < kBarWidth; ++i) {
            bar[i] = i < filled ? '#' : '.';
        }
        bar[kBarWidth] = '\0';
        fprintf(stderr, "\r[%s] %d/%lld sectors %3d%% %7.1f MB/s", bar, count,
                static_cast<long long>(total_), percent, rate);
        fflush(stderr);
        progressShown_ = true;
    }

    bool showProgress_;
    int64_t total_ = 0;
    bool progressShown_ = false;
    std::chrono::steady_clock::time_point start_;
};

// What happened to the original after a failure past the rename.
void PrintAftermath(FILE* out, const JobReport& r) {
    if (r.restored) {
        fprintf(out, "; the image is back as it was\n");
    } else {
        fprintf(out, "; could not put the original back (%s): it is kept whole as %s\n",
                SystemErrorText(r.restoreError), r.backupPath);
    }
}

void PrintResult(const JobReport& r, const char* controlPath, const char* offsetText) {
    FILE* out = stderr;
    switch (r.result) {
        case ShiftResult::Done:
            fprintf(stdout,
                    "%s: shifted by %d samples, %d audio region%s, %d sectors; "
                    "original kept as %s\n",
                    r.imagePath, r.shift, r.audioRegions, r.audioRegions == 1 ? "" : "s", r.sectors,
                    r.backupPath);
            break;
        case ShiftResult::Cancelled:
            fprintf(out,
                    "%s: cancelled after %d of %d sectors; it holds only those sectors, "
                    "shifted; the original is kept whole as %s\n",
                    r.imagePath, r.sectors, r.totalSectors, r.backupPath);
            break;
        case ShiftResult::OffsetOutOfRange:
            fprintf(out, "%s: offset %s is outside %d..%d\n", controlPath, offsetText, MIN_SHIFT,
                    MAX_SHIFT);
            break;
        case ShiftResult::PathTooLong:
            fprintf(out, "%.60s...: the path is longer than %d bytes\n", controlPath,
                    MAX_PATH_LENGTH);
            break;
        case ShiftResult::NotControlFile:
            fprintf(out, "%s: not a .ccd control file\n", controlPath);
            break;
        case ShiftResult::ImageMissing:
            fprintf(out, "%s not found\n", r.imagePath);
            break;
        case ShiftResult::BackupExists:
            fprintf(out, "%s already exists: move it away first\n", r.backupPath);
            break;
        case ShiftResult::ControlReadFailed:
            fprintf(out, "%s: cannot read it (%s); nothing was changed\n", controlPath,
                    SystemErrorText(r.error));
            break;
        case ShiftResult::SessionLayoutMismatch:
            fprintf(out,
                    "%s: multi-session layout does not match the image size; nothing was "
                    "changed\n",
                    controlPath);
            break;
        case ShiftResult::SessionLayoutInvalid:
            fprintf(out,
                    "%s: multi-session layout contradicts itself or has more than %d sessions "
                    "or %d tracks; nothing was changed\n",
                    controlPath, MAX_SESSIONS, MAX_TRACKS);
            break;
        case ShiftResult::RenameFailed:
            fprintf(out, "%s: cannot rename it to %s (%s); nothing was changed\n", r.imagePath,
                    r.backupPath, SystemErrorText(r.error));
            break;
        case ShiftResult::BackupNameLeft:
            fprintf(out,
                    "%s: cannot rename it to %s (%s); the image is unchanged, but %s stays as a "
                    "second name of it (%s): remove %s\n",
                    r.imagePath, r.backupPath, SystemErrorText(r.error), r.backupPath,
                    SystemErrorText(r.restoreError), r.backupPath);
            break;
        case ShiftResult::SourceOpenFailed:
            fprintf(out, "%s: cannot read %s (%s)", r.imagePath, r.backupPath,
                    SystemErrorText(r.error));
            break;
        case ShiftResult::TargetCreateFailed:
            fprintf(out, "%s: cannot create the new image (%s)", r.imagePath,
                    SystemErrorText(r.error));
            break;
        case ShiftResult::ReadFailed:
            fprintf(out, "%s: read failed after %d sectors (%s)", r.imagePath, r.sectors,
                    r.error != 0 ? SystemErrorText(r.error) : "its size changed while it was read");
            break;
        case ShiftResult::WriteFailed:
            fprintf(out, "%s: write failed after %d sectors (%s)", r.imagePath, r.sectors,
                    SystemErrorText(r.error));
            break;
    }
    // Any other outcome is a failure after the rename: say where the original is now.
    if (r.result != ShiftResult::Done && r.result != ShiftResult::Cancelled &&
        r.result != ShiftResult::BackupNameLeft && !IsRefusal(r.result)) {
        PrintAftermath(out, r);
    }
}

int UsageError(const char* message, const char* argument) {
    fprintf(stderr, "kestran: %s%s\n", message, argument);
    fprintf(stderr, "Try 'kestran --help'.\n");
    return EXIT_USAGE;
}

}  // namespace

int main(int argc, char** argv) {
    const char* offsetText = "-30";
    bool quiet = false;
    // File names are gathered at the front of argv; options may stand anywhere before "--".
    int files = 0;
    bool namesOnly = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (namesOnly || arg[0] != '-' || arg[1] == '\0') {
            argv[files++] = argv[i];
        } else if (strcmp(arg, "--") == 0) {
            namesOnly = true;
        } else if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
            fputs(kUsage, stdout);
            return EXIT_SHIFTED;
        } else if (strcmp(arg, "--version") == 0) {
            printf("kestran %s\n", KESTRAN_VERSION);
            return EXIT_SHIFTED;
        } else if (strcmp(arg, "-q") == 0 || strcmp(arg, "--quiet") == 0) {
            quiet = true;
        } else if (strcmp(arg, "-o") == 0 || strcmp(arg, "--offset") == 0) {
            if (i + 1 >= argc) {
                return UsageError("missing value after ", arg);
            }
            offsetText = argv[++i];
        } else if (strncmp(arg, "--offset=", 9) == 0) {
            offsetText = arg + 9;
        } else if (strncmp(arg, "-o", 2) == 0) {
            offsetText = arg + 2;
        } else {
            return UsageError("unknown option ", arg);
        }
    }
    if (files == 0) {
        return UsageError("no control file given", "");
    }
    InstallCancelHandler(RequestCancel);

    CliHost host(offsetText, !quiet && IsTerminal(stderr));
    int status = EXIT_SHIFTED;
    JobReport report;
    for (int i = 0; i < files && !cancelRequested; ++i) {
        ShiftResult result = RunShiftJob(host, argv[i], &report);
        host.EndProgress();
        if (!quiet) {
            PrintResult(report, argv[i], offsetText);
        }
        if (result == ShiftResult::Cancelled) {
            return cancelRequested;
        }
        if (result != ShiftResult::Done) {
            status = EXIT_NOT_SHIFTED;
        }
    }
    return cancelRequested ? cancelRequested : status;
}

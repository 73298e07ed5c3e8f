#include "shift_report.h"

#include <stdio.h>
#include <string.h>

#include "control_scan.h"
#include "file.h"

void PrintScanProblem(const char* controlPath, const std::string& imagePath,
                      const verify::ScanResult& scan, const char* after) {
    fprintf(ImageErr(), "kestran: %s: ", controlPath);
    switch (scan.status) {
        case verify::ScanStatus::Done:
            break;
        case verify::ScanStatus::CannotOpen:
            fprintf(ImageErr(), "cannot open %s (%s)", imagePath.c_str(),
                    SystemErrorText(scan.systemError));
            break;
        case verify::ScanStatus::ReadFailed:
            fprintf(ImageErr(), "cannot read %s (%s)", imagePath.c_str(),
                    scan.systemError != 0 ? SystemErrorText(scan.systemError)
                                          : "the file became shorter");
            break;
        case verify::ScanStatus::NoTracks:
            fprintf(ImageErr(), "the control file lists no track");
            break;
        case verify::ScanStatus::TracksOutOfOrder:
            fprintf(ImageErr(), "track %d starts before the track before it ends", scan.track);
            break;
        case verify::ScanStatus::TrackPastEnd:
            fprintf(ImageErr(), "track %d starts past the end of %s", scan.track,
                    imagePath.c_str());
            break;
        case verify::ScanStatus::CrossesRegionEdge:
            fprintf(ImageErr(), "track %d lies partly in an audio region and partly outside",
                    scan.track);
            break;
        case verify::ScanStatus::DataInAudioRegion:
            fprintf(ImageErr(), "data track %d lies in an audio region", scan.track);
            break;
    }
    if (after != nullptr) {
        fprintf(ImageErr(), "; it was shifted but cannot be checked; the original is kept as %s\n",
                after);
        return;
    }
    fprintf(ImageErr(), "; nothing changed\n");
}

std::string Shown(const std::string& name) {
    constexpr size_t kShownName = 200;
    if (name.size() <= kShownName) {
        return name;
    }
    size_t end = kShownName;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) {
        --end;
    }
    return name.substr(0, end) + "...";
}

bool SaidCancelled(const char* controlPath, JobRunner& runner, ImageResult& result) {
    if (runner.CancelStatus() == 0) {
        return false;
    }
    JobReport report;
    memset(&report, 0, sizeof(report));
    report.result = ShiftResult::CancelledBeforeRename;
    runner.PrintRefusal(report, controlPath);
    result.verdict = Verdict::Cancelled;
    return true;
}

std::string ShiftText(int32_t shift) {
    char text[16];
    snprintf(text, sizeof(text), shift > 0 ? "+%d" : "%d", shift);
    return text;
}

// "-30: the audio moves 30 samples toward the start"
std::string ShiftInWords(int32_t shift) {
    if (shift == 0) {
        return "0: the audio stays where it is";
    }
    int32_t samples = shift < 0 ? -shift : shift;
    return ShiftText(shift) + ": the audio moves " + std::to_string(samples) +
           (samples == 1 ? " sample" : " samples") +
           (shift < 0 ? " toward the start" : " toward the end");
}

// The tracks that differ, as "2, 5 and 7".
std::string TrackList(const std::vector<int32_t>& numbers) {
    std::string text;
    for (size_t i = 0; i < numbers.size(); ++i) {
        if (i > 0) {
            text += i + 1 == numbers.size() ? " and " : ", ";
        }
        text += std::to_string(numbers[i]);
    }
    return text;
}

// Reads the layout of the image as the shift job places it; false, said why, when it cannot.
bool ReadLayout(const char* controlPath, JobRunner& runner, verify::JobLayout& job) {
    job = verify::ReadJobLayout(controlPath);
    if (job.result != ShiftResult::Done) {
        runner.PrintRefusal(job.report, controlPath);
        return false;
    }
    switch (job.problem) {
        case verify::LayoutProblem::None:
            return true;
        case verify::LayoutProblem::TrackWithoutIndex:
            fprintf(ImageErr(), "kestran: %s: track %d has no INDEX line", controlPath, job.track);
            break;
        case verify::LayoutProblem::TooManyTracks:
            fprintf(ImageErr(), "kestran: %s: more than %d tracks", controlPath, MAX_TRACKS);
            break;
    }
    fprintf(ImageErr(), "; nothing changed\n");
    return false;
}

// The verdict on an image that could not be read as its control file lays it out.
Verdict ScanVerdict(const verify::ScanResult& scanned) {
    return scanned.status == verify::ScanStatus::CannotOpen ? Verdict::Refused : Verdict::Damaged;
}

Verdict LayoutVerdict(const verify::JobLayout& job) {
    return job.result != ShiftResult::Done ? VerdictOfJob(job.result) : Verdict::Damaged;
}

// What the search found, as a verdict, before any job runs; with -n, the verdict that the apply
// would end with (`tracksDiffer`: some tracks would still differ after the shift).
static Verdict FindingVerdict(verify::Verdict found, int32_t shift, bool dryRun,
                              bool tracksDiffer) {
    switch (found) {
        case verify::Verdict::NoEntryFits:
            return Verdict::NoEntry;
        case verify::Verdict::AlreadyMatches:
            return Verdict::Matches;
        case verify::Verdict::NoAudioMatch:
            return Verdict::NoMatch;
        case verify::Verdict::NotCertain:
            return Verdict::NotCertain;
        case verify::Verdict::ShiftFound:
            if (shift == 0) {
                return Verdict::NoMatch;
            }
            return dryRun && tracksDiffer ? Verdict::Failed : Verdict::ShiftFound;
    }
    return Verdict::NoMatch;
}

// Prints what the verdict means for the image; returns true when it is to be shifted.
static bool PrintVerdict(const char* controlPath, const SearchOutcome& outcome, bool quiet) {
    const char* against = outcome.against.c_str();
    switch (outcome.verdict) {
        case verify::Verdict::NoEntryFits:
            return false;
        case verify::Verdict::AlreadyMatches:
            if (!quiet) {
                fprintf(ImageOut(), "%s: already matches %s; nothing changed\n", controlPath,
                        against);
            }
            return false;
        case verify::Verdict::NoAudioMatch:
            fprintf(ImageErr(),
                    "kestran: %s: no shift from %d to %d makes any audio track match %s; "
                    "nothing changed\n",
                    controlPath, MIN_SHIFT, MAX_SHIFT, against);
            return false;
        case verify::Verdict::NotCertain: {
            std::vector<int32_t> shifts = {outcome.shift};
            shifts.insert(shifts.end(), outcome.tiedShifts.begin(), outcome.tiedShifts.end());
            std::string list;
            for (size_t i = 0; i < shifts.size(); ++i) {
                list += (i == 0                   ? ""
                         : i + 1 == shifts.size() ? " and "
                                                  : ", ") +
                        ShiftText(shifts[i]);
            }
            fprintf(ImageErr(),
                    "kestran: %s: not certain: shifts %s%s match %d of %d audio tracks alike "
                    "(silence looks the same under every shift); nothing changed\n",
                    controlPath, list.c_str(), outcome.moreTied ? " (and others)" : "",
                    outcome.matched, outcome.audioTracks);
            return false;
        }
        case verify::Verdict::ShiftFound:
            if (outcome.shift == 0) {
                fprintf(ImageErr(),
                        "kestran: %s: best as it is, yet track %s differs from %s; nothing "
                        "changed\n",
                        controlPath, TrackList(outcome.differing).c_str(), against);
                return false;
            }
            return true;
    }
    return false;
}

bool ReportVerdict(const char* controlPath, const SearchOutcome& outcome, bool quiet, bool dryRun,
                   Verdict* verdict) {
    const bool shift = PrintVerdict(controlPath, outcome, quiet);
    const bool differs = shift && !outcome.differing.empty();
    if (dryRun && differs) {
        fprintf(ImageErr(), "kestran: %s: track %s would still differ from %s\n", controlPath,
                TrackList(outcome.differing).c_str(), outcome.against.c_str());
    }
    *verdict = FindingVerdict(outcome.verdict, outcome.shift, dryRun, differs);
    return shift;
}

void ApplyFound(const char* controlPath, int32_t shift, const DatCommand& options,
                JobRunner& runner, JobReport& report, ImageResult& result,
                const std::function<Verdict()>& check) {
    if (options.dryRun || shift == 0) {
        return;
    }
    ShiftResult ran = runner.RunJob(controlPath, ShiftText(shift).c_str(), options.quiet, report);
    if (ran != ShiftResult::Done) {
        result.verdict = VerdictOfJob(ran);
        return;
    }
    result.verdict = check();
}

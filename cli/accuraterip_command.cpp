#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "accuraterip.h"
#include "dat_command.h"
#include "file.h"
#include "offset_detect.h"
#include "sector.h"
#include "shift_report.h"

namespace {

const char kAgainst[] = "the AccurateRip response";

void PrintResponseProblem(const char* path, const verify::ResponseLoad& load) {
    fprintf(ImageErr(), "kestran: %s: ", path);
    switch (load.status) {
        case verify::ResponseStatus::Loaded:
            break;
        case verify::ResponseStatus::CannotOpen:
            fprintf(ImageErr(), "cannot open it (%s)", SystemErrorText(load.systemError));
            break;
        case verify::ResponseStatus::ReadFailed:
            fprintf(ImageErr(), "cannot read it (%s)", SystemErrorText(load.systemError));
            break;
        case verify::ResponseStatus::Empty:
            fprintf(ImageErr(), "empty: not an AccurateRip response");
            break;
        case verify::ResponseStatus::TooLarge:
            fprintf(ImageErr(), "too large for an AccurateRip response");
            break;
        case verify::ResponseStatus::Truncated:
            fprintf(ImageErr(), "cut short: the chunk at byte %lld ends early",
                    static_cast<long long>(load.offset));
            break;
        case verify::ResponseStatus::Mislabelled:
            fprintf(ImageErr(), "mislabelled: the chunk at byte %lld is for disc %s, not %s",
                    static_cast<long long>(load.offset), verify::DiscIdText(load.found).c_str(),
                    verify::DiscIdText(load.expected).c_str());
            break;
    }
    fprintf(ImageErr(), "; nothing changed\n");
}

// Reads the image's checksums for shifts up to `maxShift`; false, said why and given its verdict,
// when it cannot.
bool ScanImage(const char* controlPath, JobRunner& runner, int32_t maxShift, bool withHashes,
               verify::JobLayout& job, verify::ChecksumScan& scan, ImageResult& result,
               const char* after = nullptr) {
    if (!ReadLayout(controlPath, runner, job)) {
        result.verdict = LayoutVerdict(job);
        return false;
    }
    verify::ScanResult scanned = scan.Run(job, maxShift, withHashes);
    result.bytesRead += job.imageSectors * SECTOR_SIZE;
    if (scanned.status != verify::ScanStatus::Done) {
        PrintScanProblem(controlPath, job.report.imagePath, scanned, after);
        result.verdict = ScanVerdict(scanned);
        return false;
    }
    if (!scan.HasAudio()) {
        fprintf(ImageErr(), "kestran: %s: no audio track; nothing changed\n", controlPath);
        result.verdict = Verdict::Refused;
        return false;
    }
    return true;
}

// The image's tracks for the run's result: each matched with the response as it is, or not
// compared (`matches` empty).
void TakeTracks(const verify::ChecksumScan& scan, const std::vector<verify::ArMatch>& matches,
                bool withCrc, ImageResult& result) {
    result.tracks.clear();
    for (size_t t = 0; t < scan.Tracks().size(); ++t) {
        const verify::ChecksumTrack& track = scan.Tracks()[t];
        const int8_t matched = matches.empty() || !track.audio ? -1 : matches[t].matched;
        result.tracks.push_back({track.number, track.audio, (track.end - track.first) * SAMPLE_SIZE,
                                 withCrc ? verify::CrcText(scan.Sums(t).crc) : "", "", "",
                                 matched});
    }
}

int64_t Sectors(const verify::ChecksumTrack& track) {
    return (track.end - track.first) * SAMPLE_SIZE / SECTOR_SIZE;
}

void PrintChecksums(const char* controlPath, JobRunner& runner, ImageResult& result) {
    verify::JobLayout job;
    verify::ChecksumScan scan;
    if (!ScanImage(controlPath, runner, 0, true, job, scan, result)) {
        return;
    }
    result.verdict = Verdict::Hashed;
    TakeTracks(scan, {}, true, result);
    const verify::DiscId& id = scan.Id();
    const std::string file = verify::ResponseFileName(id);
    fprintf(ImageOut(), "%s: AccurateRip disc id %s\n", controlPath,
            verify::DiscIdText(id).c_str());
    fprintf(ImageOut(), "  response file %s, in the database under accuraterip/%s\n", file.c_str(),
            verify::ResponseFolder(id).c_str());
    fprintf(ImageOut(), "  audio SHA-1 %s (first to last sound: the same at any offset)\n",
            verify::HexText(scan.AudioSha1().data(), scan.AudioSha1().size()).c_str());
    fprintf(ImageOut(), "  track  type    sectors  crc32     v1        v2        frame450\n");
    for (size_t t = 0; t < scan.Tracks().size(); ++t) {
        const verify::ChecksumTrack& track = scan.Tracks()[t];
        fprintf(ImageOut(), "  %5d  %-5s  %8lld  %s", track.number, track.audio ? "audio" : "data",
                static_cast<long long>(Sectors(track)), verify::CrcText(scan.Sums(t).crc).c_str());
        if (track.audio) {
            fprintf(ImageOut(), "  %08x  %08x  %08x\n", scan.V1(t, 0), scan.Sums(t).v2,
                    scan.Frame450(t, 0));
        } else {
            fprintf(ImageOut(), "  -         -         -\n");
        }
    }
}

std::string MatchText(const verify::ArMatch& match) {
    return match.matched ? std::string(match.v2 ? "v2" : "v1") + ", confidence " +
                               std::to_string(match.confidence)
                         : "differs";
}

std::vector<int32_t> Differing(const verify::ChecksumScan& scan,
                               const std::vector<verify::ArMatch>& matches) {
    std::vector<int32_t> numbers;
    for (size_t t = 0; t < scan.Tracks().size(); ++t) {
        if (scan.Tracks()[t].audio && !matches[t].matched) {
            numbers.push_back(scan.Tracks()[t].number);
        }
    }
    return numbers;
}

bool Report(const char* controlPath, const verify::ChecksumScan& scan, size_t pressings,
            const verify::ArFinding& finding, bool quiet, bool dryRun, Verdict* verdict) {
    const bool found = finding.verdict == verify::Verdict::ShiftFound;
    if (!quiet) {
        fprintf(ImageOut(), "%s: AccurateRip disc %s, %zu pressing%s in the response\n",
                controlPath, verify::DiscIdText(scan.Id()).c_str(), pressings,
                pressings == 1 ? "" : "s");
        fprintf(ImageOut(), "  track  type    sectors  as is%s\n",
                found ? ("                after " + ShiftText(finding.shift)).c_str() : "");
        for (size_t t = 0; t < scan.Tracks().size(); ++t) {
            const verify::ChecksumTrack& track = scan.Tracks()[t];
            fprintf(ImageOut(), "  %5d  %-5s  %8lld  ", track.number,
                    track.audio ? "audio" : "data", static_cast<long long>(Sectors(track)));
            if (!track.audio) {
                fprintf(ImageOut(), "-\n");
            } else if (found) {
                fprintf(ImageOut(), "%-19s  %s\n", MatchText(finding.asIs[t]).c_str(),
                        MatchText(finding.shifted[t]).c_str());
            } else {
                fprintf(ImageOut(), "%s\n", MatchText(finding.asIs[t]).c_str());
            }
        }
        if (found) {
            fprintf(ImageOut(),
                    "  shift %s; %d of %d audio tracks match (confidence %lld), no other shift "
                    "as many\n",
                    ShiftInWords(finding.shift).c_str(), finding.matched, finding.audioTracks,
                    static_cast<long long>(finding.confidence));
        }
    }
    SearchOutcome outcome = {
        finding.verdict,    finding.shift,
        finding.matched,    finding.audioTracks,
        finding.tiedShifts, finding.tiedCount > static_cast<int32_t>(finding.tiedShifts.size()),
        kAgainst,           Differing(scan, finding.shifted)};
    return ReportVerdict(controlPath, outcome, quiet, dryRun, verdict);
}

// Reads the shifted image and matches every audio track as it now is; returns the exit status.
Verdict CheckShifted(const char* controlPath, const std::vector<verify::ResponseChunk>& response,
                     const char* backupPath, JobRunner& runner, bool quiet, ImageResult& result) {
    verify::JobLayout job;
    verify::ChecksumScan after;
    verify::ArFinding finding;
    if (!ScanImage(controlPath, runner, 0, false, job, after, result, backupPath)) {
        return Verdict::Failed;
    }
    verify::ScanResult read = verify::FindArShift(response, after, 0, 0, finding);
    if (read.status != verify::ScanStatus::Done) {
        PrintScanProblem(controlPath, job.report.imagePath, read, job.report.backupPath);
        return Verdict::Failed;
    }
    TakeTracks(after, finding.asIs, false, result);
    if (!quiet) {
        fprintf(ImageOut(), "  track  checked\n");
        for (size_t t = 0; t < after.Tracks().size(); ++t) {
            if (after.Tracks()[t].audio) {
                fprintf(ImageOut(), "  %5d  %s\n", after.Tracks()[t].number,
                        MatchText(finding.asIs[t]).c_str());
            }
        }
    }
    const std::vector<int32_t> differing = Differing(after, finding.asIs);
    const char* imagePath = job.report.imagePath;
    if (differing.empty()) {
        if (!quiet) {
            fprintf(ImageOut(), "%s: all %d audio tracks match %s\n", imagePath,
                    finding.audioTracks, kAgainst);
        }
        return Verdict::Shifted;
    }
    fprintf(ImageErr(), "kestran: %s: %zu of %d audio tracks match %s; track %s still differs\n",
            imagePath, finding.audioTracks - differing.size(), finding.audioTracks, kAgainst,
            TrackList(differing).c_str());
    return Verdict::Failed;
}

void CheckImage(const char* controlPath, const std::vector<verify::ResponseChunk>& response,
                const std::string& responseName, const DatCommand& options, JobRunner& runner,
                ImageResult& result) {
    if (SaidCancelled(controlPath, runner, result)) {
        return;
    }
    verify::JobLayout job;
    verify::ChecksumScan scan;
    if (!ScanImage(controlPath, runner, MAX_SHIFT, false, job, scan, result)) {
        return;
    }
    if (!(scan.Id() == response.front().id)) {
        fprintf(ImageErr(),
                "kestran: %s: the response is for disc %s, this image is disc %s (its response "
                "is %s); nothing changed\n",
                controlPath, verify::DiscIdText(response.front().id).c_str(),
                verify::DiscIdText(scan.Id()).c_str(), verify::ResponseFileName(scan.Id()).c_str());
        result.verdict = Verdict::NoEntry;
        return;
    }
    verify::ArFinding finding;
    verify::ScanResult read = verify::FindArShift(response, scan, MIN_SHIFT, MAX_SHIFT, finding);
    if (read.status != verify::ScanStatus::Done) {
        PrintScanProblem(controlPath, job.report.imagePath, read);
        result.verdict = ScanVerdict(read);
        return;
    }
    if (SaidCancelled(controlPath, runner, result)) {
        return;
    }
    const bool shift = Report(controlPath, scan, response.size(), finding, options.quiet,
                              options.dryRun, &result.verdict);
    result.entry = responseName;
    result.hasShift = true;
    result.shift = finding.verdict == verify::Verdict::AlreadyMatches ? 0 : finding.shift;
    TakeTracks(scan, finding.asIs, false, result);
    ApplyFound(controlPath, shift ? finding.shift : 0, options, runner, job.report, result, [&] {
        return CheckShifted(controlPath, response, job.report.backupPath, runner, options.quiet,
                            result);
    });
}

// Prints the evidence that the image holds of its dump offset, touching nothing.
void DetectOffset(const char* controlPath, JobRunner& runner, ImageResult& result) {
    verify::JobLayout job;
    if (!ReadLayout(controlPath, runner, job)) {
        result.verdict = LayoutVerdict(job);
        return;
    }
    verify::OffsetEvidence evidence;
    verify::ScanResult read = verify::DetectOffsets(job, evidence);
    if (read.status != verify::ScanStatus::Done) {
        PrintScanProblem(controlPath, job.report.imagePath, read);
        result.verdict = ScanVerdict(read);
        return;
    }
    result.verdict = Verdict::Detected;
    fprintf(ImageOut(), "%s: the shifts that the image itself points to (nothing changed)\n",
            controlPath);
    std::vector<int32_t> points;
    if (evidence.dataBeforeAudio > 0) {
        fprintf(ImageOut(), "  scrambled data at the start of the audio:");
        if (evidence.tails.empty()) {
            fprintf(ImageOut(),
                    " none: the audio after the data does not begin with its scrambled tail\n");
        }
        for (const verify::ScrambledTail& tail : evidence.tails) {
            fprintf(ImageOut(),
                    " track %d begins with the last %lld bytes of the data before it, scrambled: "
                    "shift %s\n",
                    tail.track, static_cast<long long>(tail.bytes), ShiftText(tail.shift).c_str());
            points.push_back(tail.shift);
        }
    }
    if (evidence.syncs.empty()) {
        fprintf(ImageOut(), "  data sync in the audio: none near its edges\n");
    }
    for (const verify::SyncFound& sync : evidence.syncs) {
        fprintf(ImageOut(),
                "  data sync in the audio at byte %lld, its header sector %lld: shift %s\n",
                static_cast<long long>(sync.position), static_cast<long long>(sync.address),
                ShiftText(sync.shift).c_str());
        points.push_back(sync.shift);
    }
    bool inRange = true;
    if (evidence.pregaps > 0) {
        std::string ranges;
        for (const auto& range : evidence.silentShifts) {
            ranges += (ranges.empty() ? "" : ", ") + ShiftText(range.first) +
                      (range.second != range.first ? " to " + ShiftText(range.second) : "");
        }
        fprintf(ImageOut(), "  silent pregaps: %s leave%s the %d stored pregap%s silent\n",
                ranges.empty() ? "no shift" : ("shifts " + ranges).c_str(),
                ranges.empty() ? "s" : "", evidence.pregaps, evidence.pregaps == 1 ? "" : "s");
        for (int32_t point : points) {
            bool silent = false;
            for (const auto& range : evidence.silentShifts) {
                silent = silent || (range.first <= point && point <= range.second);
            }
            inRange = inRange && silent;
        }
    }
    if (points.empty() && evidence.pregaps == 0) {
        fprintf(ImageOut(),
                "  nothing: no data track before the audio, no sync pattern in it and no stored "
                "pregap\n");
    } else if (points.empty()) {
        fprintf(ImageOut(), "  only the pregaps: they bound the shift, they do not name it\n");
    } else if (std::equal(points.begin() + 1, points.end(), points.begin()) && inRange) {
        fprintf(ImageOut(), "  they agree: shift %s\n", ShiftInWords(points.front()).c_str());
        result.hasShift = true;
        result.shift = points.front();
    } else {
        fprintf(ImageOut(), "  they disagree: apply none of them without other proof\n");
    }
}

}  // namespace

int RunAccurateRipCommand(const DatCommand& options, const std::vector<ListedFile>& files,
                          const RunOptions& run, JobRunner& runner) {
    auto cancelStatus = [&] { return runner.CancelStatus(); };
    if (options.checksums || options.detect) {
        return RunCollection(
            files, run,
            [&](const char* path, ImageResult& result) {
                if (options.checksums) {
                    PrintChecksums(path, runner, result);
                } else {
                    DetectOffset(path, runner, result);
                }
            },
            cancelStatus);
    }
    std::vector<verify::ResponseChunk> response;
    verify::ResponseLoad load = verify::LoadResponse(options.responsePath, response);
    if (load.status != verify::ResponseStatus::Loaded) {
        PrintResponseProblem(options.responsePath, load);
        return EXIT_NOT_MATCHED;
    }
    const std::string path = options.responsePath;
    const std::string name = path.substr(path.find_last_of('/') + 1);
    return RunCollection(
        files, run,
        [&](const char* controlPath, ImageResult& result) {
            CheckImage(controlPath, response, name, options, runner, result);
        },
        // Each image says a cancel itself, so that the line that says it is never left out.
        [] { return 0; });
}

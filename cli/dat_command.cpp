#include "dat_command.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "control_scan.h"
#include "dat.h"
#include "file.h"
#include "image_scan.h"
#include "job_layout.h"
#include "shift_report.h"
#include "shift_search.h"

namespace {

const char* DatProblem(const verify::DatLoad& load) {
    switch (load.status) {
        case verify::DatStatus::Loaded:
            return "";
        case verify::DatStatus::CannotOpen:
            return IsNotFileError(load.systemError) ? "not a regular file" : "cannot open it";
        case verify::DatStatus::Cancelled:
            return "cancelled";
        case verify::DatStatus::ReadFailed:
            return "cannot read it";
        case verify::DatStatus::NotWellFormed:
            return "not well-formed XML";
        case verify::DatStatus::DeclaresEntities:
            return "it declares XML entities, which a DAT file has no use for";
        case verify::DatStatus::NoEntries:
            return "no entry in it lists a track file (.bin)";
    }
    return "";
}

void PrintDatProblem(const char* path, const verify::DatLoad& load) {
    fprintf(ImageErr(), "kestran: %s: %s", path, DatProblem(load));
    if (load.status == verify::DatStatus::NotWellFormed) {
        fprintf(ImageErr(), " at line %lld, column %lld: %s", static_cast<long long>(load.line),
                static_cast<long long>(load.column), load.detail.c_str());
    } else if (load.systemError != 0 && !IsNotFileError(load.systemError)) {
        fprintf(ImageErr(), " (%s)", SystemErrorText(load.systemError));
    }
    fprintf(ImageErr(), load.status == verify::DatStatus::Cancelled ? "; nothing was changed\n"
                                                                    : "; nothing changed\n");
}

// Why a track next to the edge of its audio region may differ under the right shift, or "".
std::string EdgeReason(const verify::ImageScan& scan, size_t track, int32_t shift) {
    if (scan.Tracks()[track].region < 0) {
        return "";
    }
    const std::vector<verify::ImageTrack>& tracks = scan.Tracks();
    verify::TrackSilence silence = scan.Silence(track, shift);
    verify::SectorRange region = scan.RegionBytes(track);
    if (silence.atStart > 0) {
        return "its first " + std::to_string(silence.atStart) +
               " bytes are silence after the shift, where the disc holds bytes " +
               (tracks[track].opensSession ? "of the gap between the sessions"
                : region.first == 0        ? "from before the image's first sector"
                                           : "of the data track before it") +
               " that the image never had";
    }
    if (silence.atEnd > 0) {
        const bool sessionEnds = track + 1 < tracks.size() && tracks[track + 1].opensSession;
        return "its last " + std::to_string(silence.atEnd) +
               " bytes are silence after the shift, where the disc holds bytes " +
               (region.end == scan.ImageBytes() || sessionEnds ? "of the lead-out"
                                                               : "of the data track after it") +
               " that the image never had";
    }
    return "";
}

const char* StateText(bool sizeFits, bool matches) {
    return !sizeFits ? "size differs" : matches ? "matches" : "differs";
}

void PrintTable(const verify::ImageScan& scan, const verify::ShiftFinding& finding,
                bool withShift) {
    const std::vector<verify::ImageTrack>& tracks = scan.Tracks();
    fprintf(ImageOut(), "  track  type    sectors  crc32     as is%s\n",
            withShift ? ("         after " + ShiftText(finding.shift)).c_str() : "");
    for (size_t t = 0; t < tracks.size(); ++t) {
        const verify::TrackMatch& match = finding.tracks[t];
        fprintf(ImageOut(), "  %5d  %-5s  %8lld  %s  ", tracks[t].number,
                tracks[t].audio ? "audio" : "data",
                static_cast<long long>((tracks[t].end - tracks[t].first) / SECTOR_SIZE),
                verify::CrcText(tracks[t].asIs.crc).c_str());
        if (withShift) {
            fprintf(ImageOut(), "%-12s  %s\n", StateText(match.sizeFits, match.asIs),
                    StateText(match.sizeFits, match.shifted));
        } else {
            fprintf(ImageOut(), "%s\n", StateText(match.sizeFits, match.asIs));
        }
    }
}

std::vector<int32_t> DifferingTracks(const verify::ImageScan& scan,
                                     const verify::ShiftFinding& finding, bool shifted) {
    std::vector<int32_t> numbers;
    for (size_t t = 0; t < scan.Tracks().size(); ++t) {
        if (!(shifted ? finding.tracks[t].shifted : finding.tracks[t].asIs)) {
            numbers.push_back(scan.Tracks()[t].number);
        }
    }
    return numbers;
}

// Prints the finding and sets the image's verdict (see ReportVerdict); returns true when the image
// is to be shifted.
bool Report(const char* controlPath, const verify::Dat& dat, const verify::ImageScan& scan,
            const verify::ShiftFinding& finding, bool quiet, bool dryRun, Verdict* verdict) {
    const std::string name = finding.entry >= 0 ? Shown(dat.entries[finding.entry].name) : "";
    const bool found = finding.verdict == verify::Verdict::ShiftFound;
    if (!quiet) {
        if (finding.verdict == verify::Verdict::NoEntryFits) {
            fprintf(ImageOut(), "%s: no entry fits; the closest is %s\n", controlPath,
                    name.c_str());
        } else {
            fprintf(ImageOut(), "%s: %s\n", controlPath, name.c_str());
        }
        PrintTable(scan, finding, found);
        if (found) {
            fprintf(ImageOut(), "  shift %s; %d of %d audio tracks match, no other shift as many\n",
                    ShiftInWords(finding.shift).c_str(), finding.matched, finding.audioTracks);
            for (size_t t = 0; t < scan.Tracks().size(); ++t) {
                std::string reason = EdgeReason(scan, t, finding.shift);
                if (!finding.tracks[t].shifted && !reason.empty()) {
                    fprintf(ImageOut(), "  track %d: %s\n", scan.Tracks()[t].number,
                            reason.c_str());
                }
            }
        }
    }
    if (finding.verdict == verify::Verdict::NoEntryFits) {
        const size_t entryTracks =
            finding.entry >= 0 ? dat.entries[finding.entry].tracks.size() : 0;
        const std::vector<int32_t> differing = DifferingTracks(scan, finding, false);
        // An entry with other tracks than the image may differ in none of those they share.
        const std::string how = entryTracks != scan.Tracks().size() && differing.empty()
                                    ? "has " + std::to_string(entryTracks) +
                                          " track files where the image has " +
                                          std::to_string(scan.Tracks().size())
                                    : "differs in track " + TrackList(differing);
        fprintf(ImageErr(),
                "kestran: %s: no entry of the DAT has its track sizes and data tracks; the "
                "closest, %s, %s; nothing changed\n",
                controlPath, name.c_str(), how.c_str());
        *verdict = Verdict::NoEntry;
        return false;
    }
    SearchOutcome outcome = {finding.verdict,
                             finding.shift,
                             finding.matched,
                             finding.audioTracks,
                             finding.tiedShifts,
                             finding.tiedShifts.empty(),
                             name,
                             DifferingTracks(scan, finding, true)};
    return ReportVerdict(controlPath, outcome, quiet, dryRun, verdict);
}

// Hashes the shifted image and compares every track with the entry.
Verdict CheckShifted(const char* controlPath, const JobReport& report,
                     const verify::ImageLayout& layout, const verify::DatEntry& entry,
                     const verify::ImageScan& before, int32_t shift, bool quiet,
                     ImageResult& result) {
    const std::string imagePath = report.imagePath;
    verify::ImageScan after;
    verify::ScanResult scanned = after.Run(imagePath, layout, 0, false);
    if (scanned.status != verify::ScanStatus::Done) {
        PrintScanProblem(controlPath, imagePath, scanned, report.backupPath);
        return Verdict::Failed;
    }
    result.bytesRead += after.ImageBytes();
    const std::vector<verify::ImageTrack>& tracks = after.Tracks();
    std::vector<int32_t> differing;
    if (!quiet) {
        fprintf(ImageOut(), "  track  crc32     checked\n");
    }
    for (size_t t = 0; t < tracks.size(); ++t) {
        const verify::DatRom& rom = entry.tracks[t];
        bool matches = verify::RomMatches(rom, tracks[t].end - tracks[t].first, tracks[t].asIs);
        if (!matches) {
            differing.push_back(tracks[t].number);
        }
        result.tracks[t].crc = verify::CrcText(tracks[t].asIs.crc);
        result.tracks[t].matches = matches;
        if (!quiet) {
            fprintf(ImageOut(), "  %5d  %s  %s\n", tracks[t].number,
                    verify::CrcText(tracks[t].asIs.crc).c_str(), matches ? "matches" : "differs");
        }
    }
    if (differing.empty()) {
        if (!quiet) {
            fprintf(ImageOut(), "%s: all %zu tracks match %s\n", imagePath.c_str(), tracks.size(),
                    Shown(entry.name).c_str());
        }
        return Verdict::Shifted;
    }
    fprintf(ImageErr(), "kestran: %s: %zu of %zu tracks match %s; track %s still differs\n",
            imagePath.c_str(), tracks.size() - differing.size(), tracks.size(),
            Shown(entry.name).c_str(), TrackList(differing).c_str());
    for (size_t t = 0; t < tracks.size(); ++t) {
        std::string reason = EdgeReason(before, t, shift);
        if (!reason.empty() &&
            std::find(differing.begin(), differing.end(), tracks[t].number) != differing.end()) {
            fprintf(ImageErr(), "kestran: track %d: %s\n", tracks[t].number, reason.c_str());
        }
    }
    return Verdict::Failed;
}

// The image's tracks as they now are: each compared with the entry that `finding` found, or,
// without a finding (--hash), with its MD5 and SHA-1.
void TakeTracks(const verify::ImageScan& scan, const verify::ShiftFinding* finding,
                ImageResult& result) {
    const std::vector<verify::ImageTrack>& tracks = scan.Tracks();
    for (size_t t = 0; t < tracks.size(); ++t) {
        const verify::ImageTrack& track = tracks[t];
        int8_t matches = -1;
        if (finding != nullptr && finding->entry >= 0) {
            matches = finding->tracks[t].asIs;
        }
        result.tracks.push_back(
            {track.number, track.audio, track.end - track.first, verify::CrcText(track.asIs.crc),
             finding == nullptr ? verify::HexText(track.asIs.md5.data(), track.asIs.md5.size())
                                : "",
             finding == nullptr ? verify::HexText(track.asIs.sha1.data(), track.asIs.sha1.size())
                                : "",
             matches});
    }
}

// One image against the DAT.
void CheckImage(const char* controlPath, const verify::Dat& dat, const DatCommand& options,
                JobRunner& runner, ImageResult& result) {
    if (SaidCancelled(controlPath, runner, result)) {
        return;
    }
    verify::JobLayout job;
    if (!ReadLayout(controlPath, runner, job)) {
        result.verdict = LayoutVerdict(job);
        return;
    }
    const std::string imagePath = job.report.imagePath;
    const verify::ImageLayout& layout = job.layout;
    JobReport& report = job.report;
    verify::ImageScan scan;
    verify::ScanResult scanned = scan.Run(imagePath, layout, MAX_SHIFT, false);
    result.bytesRead = scan.ImageBytes();
    if (scanned.status != verify::ScanStatus::Done) {
        PrintScanProblem(controlPath, imagePath, scanned);
        result.verdict = ScanVerdict(scanned);
        return;
    }
    verify::ShiftFinding finding;
    scanned = verify::FindShift(dat, scan, MIN_SHIFT, MAX_SHIFT, finding);
    if (scanned.status != verify::ScanStatus::Done) {
        PrintScanProblem(controlPath, imagePath, scanned);
        result.verdict = ScanVerdict(scanned);
        return;
    }
    if (SaidCancelled(controlPath, runner, result)) {
        return;
    }
    bool shift =
        Report(controlPath, dat, scan, finding, options.quiet, options.dryRun, &result.verdict);
    result.entry = finding.entry >= 0 ? dat.entries[finding.entry].name : "";
    result.hasShift = finding.verdict != verify::Verdict::NoEntryFits;
    result.shift = finding.verdict == verify::Verdict::AlreadyMatches ? 0 : finding.shift;
    TakeTracks(scan, &finding, result);
    ApplyFound(controlPath, shift ? finding.shift : 0, options, runner, report, result, [&] {
        result.bytesRead += scan.ImageBytes();
        return CheckShifted(controlPath, report, layout, dat.entries[finding.entry], scan,
                            finding.shift, options.quiet, result);
    });
}

// Text safe inside an XML attribute.
std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// A path's name without its folder.
std::string FileName(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The control file's name without its folder and extension.
std::string BaseName(const char* controlPath) {
    std::string name = FileName(controlPath);
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

// One image as a <game> entry.
void HashImage(const char* controlPath, JobRunner& runner, ImageResult& result) {
    if (SaidCancelled(controlPath, runner, result)) {
        return;
    }
    verify::JobLayout job;
    if (!ReadLayout(controlPath, runner, job)) {
        result.verdict = LayoutVerdict(job);
        return;
    }
    const std::string imagePath = job.report.imagePath;
    verify::ImageScan scan;
    verify::ScanResult scanned = scan.Run(imagePath, job.layout, 0, true);
    result.bytesRead = scan.ImageBytes();
    if (scanned.status != verify::ScanStatus::Done) {
        PrintScanProblem(controlPath, imagePath, scanned);
        result.verdict = ScanVerdict(scanned);
        return;
    }
    if (SaidCancelled(controlPath, runner, result)) {
        return;
    }
    result.verdict = Verdict::Hashed;
    TakeTracks(scan, nullptr, result);
    const std::string name = Escaped(BaseName(controlPath));
    fprintf(ImageOut(), "\t<game name=\"%s\">\n\t\t<description>%s</description>\n", name.c_str(),
            name.c_str());
    const std::vector<verify::ImageTrack>& tracks = scan.Tracks();
    // A set of one file per track, each from its track's first index, names its roms itself.
    const std::vector<verify::ImageFile>& files = job.layout.files;
    bool ownNames = files.size() == tracks.size();
    for (size_t t = 0, first = 0; ownNames && t < files.size(); first += files[t++].sectors) {
        ownNames = static_cast<int64_t>(first) * SECTOR_SIZE == tracks[t].first;
    }
    for (size_t t = 0; t < tracks.size(); ++t) {
        const verify::ImageTrack& track = tracks[t];
        char trackName[32];
        snprintf(trackName, sizeof(trackName), " (Track %02d)", track.number);
        std::string rom = ownNames ? Escaped(FileName(files[t].path)) : name + trackName + ".bin";
        fprintf(ImageOut(),
                "\t\t<rom name=\"%s\" size=\"%lld\" crc=\"%s\" md5=\"%s\" "
                "sha1=\"%s\"/>\n",
                rom.c_str(), static_cast<long long>(track.end - track.first),
                verify::CrcText(track.asIs.crc).c_str(),
                verify::HexText(track.asIs.md5.data(), track.asIs.md5.size()).c_str(),
                verify::HexText(track.asIs.sha1.data(), track.asIs.sha1.size()).c_str());
    }
    fprintf(ImageOut(), "\t</game>\n");
}

}  // namespace

int RunDatCommand(const DatCommand& options, const std::vector<ListedFile>& files,
                  const RunOptions& run, JobRunner& runner) {
    if (options.responsePath != nullptr || options.checksums || options.detect) {
        return RunAccurateRipCommand(options, files, run, runner);
    }
    // Each image says a cancel itself, so that the line that says it is never left out.
    auto cancelStatus = [] { return 0; };
    if (options.hash) {
        // With --json each image is a line of its own instead.
        if (!run.json) {
            fprintf(ImageOut(), "<?xml version=\"1.0\"?>\n<datafile>\n");
        }
        int status = RunCollection(
            files, run,
            [&](const char* path, ImageResult& result) { HashImage(path, runner, result); },
            cancelStatus);
        if (!run.json) {
            fprintf(ImageOut(), "</datafile>\n");
        }
        return status;
    }
    verify::Dat dat;
    verify::DatLoad load =
        verify::LoadDat(options.datPath, dat, [&runner] { return runner.CancelStatus() != 0; });
    if (load.status != verify::DatStatus::Loaded) {
        PrintDatProblem(options.datPath, load);
        return load.status == verify::DatStatus::Cancelled ? runner.CancelStatus()
                                                           : EXIT_NOT_MATCHED;
    }
    return RunCollection(
        files, run,
        [&](const char* path, ImageResult& result) {
            CheckImage(path, dat, options, runner, result);
        },
        cancelStatus);
}

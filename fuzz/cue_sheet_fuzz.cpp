// Any bytes as a cue sheet: the reader must stay inside its tables, give tracks that rise in
// number, lie in the files the sheet lists and keep their indexes in order, name a line within
// the sheet for a refusal, and read LF, CR and CR LF alike. Placed in files of several sizes,
// every placed track must lie inside its files, in order, and a refusal must never leave a track
// placed past the stream.
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "cue_sheet.h"
#include "file.h"
#include "fuzz_folder.h"
#include "sector.h"

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        fuzzing::Finding("cue_sheet", what);
    }
}

// The bytes as an in-memory file, by a path that opens a fresh handle.
const char* SheetPath(const uint8_t* data, size_t size) {
    static int fd = memfd_create("sheet", MFD_CLOEXEC);
    Check(fd >= 0, "memfd_create failed");
    Check(ftruncate(fd, 0) == 0 && pwrite(fd, data, size, 0) == static_cast<ssize_t>(size),
          "cannot write the sheet bytes");
    static char path[64];
    snprintf(path, sizeof(path), "/proc/self/fd/%d", fd);
    return path;
}

// Reads the bytes with the buffer and the tables allocated at their exact sizes, so that the
// sanitizer catches any write past them.
std::unique_ptr<CueSheet> Read(const uint8_t* data, size_t size) {
    File file;
    Check(file.OpenForReading(SheetPath(data, size)), "cannot open the sheet bytes");
    std::unique_ptr<char[]> buffer(new char[TEXT_BUFFER_SIZE]);
    std::unique_ptr<CueSheet> sheet(new CueSheet);
    ReadCueSheet(file, buffer.get(), *sheet);
    return sheet;
}

void CheckSheet(const CueSheet& sheet, const uint8_t* data, size_t size) {
    Check(sheet.fileCount >= 0 && sheet.fileCount <= MAX_SHEET_FILES && sheet.trackCount >= 0 &&
              sheet.trackCount <= MAX_TRACKS && sheet.sessions >= 1,
          "counts out of range");
    Check(sheet.problemLine <=
              1 + std::count(data, data + size, '\n') + std::count(data, data + size, '\r'),
          "a problem named on a line the sheet does not have");
    Check(sheet.problem != SheetProblem::None || sheet.trackCount > 0, "read without a track");
    for (int32_t t = 0; t < sheet.trackCount; ++t) {
        const SheetTrack& track = sheet.tracks[t];
        const SheetTrack* before = t > 0 ? &sheet.tracks[t - 1] : nullptr;
        Check(track.number > (before ? before->number : 0) && track.number <= MAX_TRACKS,
              "track numbers not rising");
        Check(track.file >= 0 && track.file <= track.index1File &&
                  track.index1File < sheet.fileCount && track.session >= 1 &&
                  track.session <= sheet.sessions && track.pregap >= 0 && track.postgap >= 0,
              "a track in a file or session the sheet does not have");
        if (sheet.problem == SheetProblem::None || t + 1 < sheet.trackCount) {
            Check(
                track.index1 >= 0 && (track.index0 < track.index1 || track.index1File > track.file),
                "a track without INDEX 01, or INDEX 00 not before it");
            Check(!before || track.file > before->index1File ||
                      (track.index0 != NOT_GIVEN ? track.index0 : track.index1) > before->index1,
                  "two tracks on one sector");
        }
    }
}

void CheckPlacement(const CueSheet& sheet, const std::vector<int64_t>& bytes) {
    std::unique_ptr<CuePlacement> placement(new CuePlacement);
    bool placed = PlaceCueSheet(sheet, bytes.data(), *placement);
    Check(placed == (placement->problem == PlacementProblem::None), "result and problem differ");
    if (!placed) {
        Check(placement->file >= 0 && placement->file < sheet.fileCount, "a refusal names no file");
        for (int32_t t = 0; t < MAX_TRACKS; ++t) {
            Check(placement->trackFirst[t] == NOT_GIVEN ||
                      placement->trackIndex1[t] < placement->streamSectors,
                  "a refusal left a track placed past the stream");
        }
        return;
    }
    int64_t stream = 0;
    for (int32_t f = 0; f < sheet.fileCount; ++f) {
        Check(placement->fileFirst[f] == stream &&
                  placement->fileSectors[f] * SECTOR_SIZE == bytes[f],
              "files not one after the other, whole");
        stream += placement->fileSectors[f];
    }
    Check(stream == placement->streamSectors, "stream length differs from its files");
    int64_t previous = -1;
    for (int32_t t = 0; t < sheet.trackCount; ++t) {
        const SheetTrack& track = sheet.tracks[t];
        int64_t first = placement->trackFirst[t];
        int64_t index1 = placement->trackIndex1[t];
        int64_t start = placement->fileFirst[track.file];
        int64_t index1Start = placement->fileFirst[track.index1File];
        Check(first > previous && index1 >= first && first >= start &&
                  first < start + placement->fileSectors[track.file] && index1 >= index1Start &&
                  index1 < index1Start + placement->fileSectors[track.index1File],
              "a track placed out of order or outside its file");
        Check(track.sectorSize == SECTOR_SIZE, "a track of another sector size placed");
        previous = index1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<CueSheet> sheet = Read(data, size);
    CheckSheet(*sheet, data, size);

    // LF, CR and CR LF end lines alike (where no line is long enough to be cut in pieces).
    if (!fuzzing::HasLongLine(data, size)) {
        std::vector<uint8_t> lf = fuzzing::WithLfEndings(data, size);
        std::unique_ptr<CueSheet> unix = Read(lf.data(), lf.size());
        Check(unix->problem == sheet->problem && unix->problemLine == sheet->problemLine &&
                  unix->trackCount == sheet->trackCount && unix->fileCount == sheet->fileCount,
              "line endings changed the reading");
    }

    if (sheet->problem != SheetProblem::None) {
        return 0;
    }
    // Files just long enough for their last index, one sector short of it, longer, and cut.
    const int64_t extraSectors[] = {1, 0, 76, 1};
    for (int32_t variant = 0; variant < 4; ++variant) {
        std::vector<int64_t> bytes;
        for (int32_t f = 0; f < sheet->fileCount; ++f) {
            int64_t last = sheet->files[f].lastIndex;
            int64_t sectors = (last == NOT_GIVEN ? 0 : last) + extraSectors[variant];
            bytes.push_back(sectors * SECTOR_SIZE + (variant == 3 ? 1 : 0));
        }
        CheckPlacement(*sheet, bytes);
    }
    return 0;
}

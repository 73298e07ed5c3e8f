// Any bytes as a control file: the scan must stay inside its buffers, close the list with
// END_SENTINEL and record nothing that the file cannot account for; placed in images of several
// sizes, a single-session file must keep its boundaries as scanned and a multi-session one must
// land where the image model's address mapping puts it, or be refused whole. The scan and every
// placement must agree with the model's own reading of the file.
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "control_model.h"
#include "control_scan.h"
#include "disc_layout.h"
#include "file.h"
#include "fuzz_folder.h"
#include "image_model.h"

namespace {

constexpr int32_t kCanary = -0x5A5A5A5A;

struct Scan {
    int32_t count;
    std::vector<int32_t> entries;  // the boundaries and the sentinel
};

void Check(bool ok, const char* what) {
    if (!ok) {
        fuzzing::Finding("control_scan", what);
    }
}

// The bytes as an in-memory file, by a path that opens a fresh handle.
const char* ControlPath(const uint8_t* data, size_t size) {
    static int fd = memfd_create("control", MFD_CLOEXEC);
    Check(fd >= 0, "memfd_create failed");
    Check(ftruncate(fd, 0) == 0 && pwrite(fd, data, size, 0) == static_cast<ssize_t>(size),
          "cannot write the control bytes");
    static char path[64];
    snprintf(path, sizeof(path), "/proc/self/fd/%d", fd);
    return path;
}

// Scans the bytes with the line buffer and the list allocated at their exact sizes so that any
// overrun is caught.
Scan ScanBytes(const uint8_t* data, size_t size) {
    const char* path = ControlPath(data, size);

    std::unique_ptr<char[]> buffer(new char[TEXT_BUFFER_SIZE]);
    std::unique_ptr<int32_t[]> storage(new int32_t[BOUNDARY_LIST_SIZE]);
    for (int32_t i = 0; i < BOUNDARY_LIST_SIZE; ++i) {
        storage[i] = kCanary;
    }
    BoundaryList& list = *reinterpret_cast<BoundaryList*>(storage.get());

    File file;
    Check(file.OpenForReading(path), "cannot open the control bytes");
    Scan scan;
    scan.count = ScanControlFile(file, buffer.get(), list);
    Check(scan.count >= 0 && scan.count <= MAX_BOUNDARIES, "count outside 0..MAX_BOUNDARIES");
    Check(list[scan.count] == END_SENTINEL, "list not closed by END_SENTINEL");
    for (int32_t i = 0; i < scan.count; ++i) {
        // A minus sign separates tokens, so no recorded sector number is negative.
        Check(list[i] >= 0, "negative boundary");
    }
    for (int32_t i = scan.count + 1; i < BOUNDARY_LIST_SIZE; ++i) {
        Check(list[i] == kCanary, "list written past the sentinel");
    }
    scan.entries.assign(list, list + scan.count + 1);
    return scan;
}

// Case-insensitive occurrences of `word` in the bytes before the first NUL.
size_t Occurrences(const uint8_t* data, size_t size, const char* word) {
    const size_t length = strlen(word);
    size_t found = 0;
    for (size_t i = 0; i + length <= size && data[i] != 0; ++i) {
        size_t j = 0;
        while (j < length && (data[i + j] | 0x20) == word[j]) {
            ++j;
        }
        found += j == length;
    }
    return found;
}

// The sessions as the model takes them, when the table of contents gives them in order.
bool ModelSessions(const ControlScan& scan, std::vector<model::Session>* sessions) {
    if (scan.lastSession < 2 || scan.lastSession > MAX_SESSIONS) {
        return false;
    }
    for (int32_t k = 1; k <= scan.lastSession; ++k) {
        const TocSession& toc = scan.sessions[k];
        if (toc.firstTrack == NOT_GIVEN || toc.leadOut == NOT_GIVEN) {
            return false;
        }
        sessions->push_back({scan.toc[toc.firstTrack].start, toc.leadOut});
    }
    return true;
}

model::Placement AsPlacement(SessionLayout layout) {
    switch (layout) {
        case SessionLayout::SingleSession:
            return model::Placement::SingleSession;
        case SessionLayout::GapLeftOut:
            return model::Placement::GapLeftOut;
        case SessionLayout::GapStored:
            return model::Placement::GapStored;
        case SessionLayout::SizeMismatch:
            return model::Placement::SizeMismatch;
        case SessionLayout::IndexPastImage:
            return model::Placement::IndexPastImage;
        case SessionLayout::Contradictory:
            break;
    }
    return model::Placement::Contradictory;
}

// Places the scan in images of the sizes that its sessions call for, and of others.
void CheckPlacement(const uint8_t* data, size_t size) {
    File file;
    Check(file.OpenForReading(ControlPath(data, size)), "cannot open the control bytes");
    std::unique_ptr<char[]> buffer(new char[TEXT_BUFFER_SIZE]);
    std::unique_ptr<ControlScan> scan(new ControlScan);
    ScanControlFile(file, buffer.get(), *scan);
    Check(scan->trackCount >= 0 && scan->trackCount <= MAX_TRACKS, "track count out of range");
    Check(!scan->tracksDropped || scan->trackCount == MAX_TRACKS, "tracks dropped early");
    Check(scan->boundaryCount >= 0 && scan->boundaryCount <= MAX_BOUNDARIES,
          "boundary count out of range");

    std::vector<model::Session> sessions;
    const bool modelled = ModelSessions(*scan, &sessions);
    std::vector<int64_t> sizes = {0, 1, 1000};
    if (modelled && sessions.back().leadOut > sessions.front().firstTrack) {
        const int64_t last = sessions.back().leadOut;
        sizes.push_back(last);
        sizes.push_back(last + 1);
        // The gap left out: where the last sector before the last lead-out lies, and one more.
        bool ordered = true;
        for (size_t k = 0; k < sessions.size(); ++k) {
            int64_t floor = k == 0 ? 0 : sessions[k - 1].leadOut;
            ordered = ordered && sessions[k].firstTrack >= floor &&
                      sessions[k].firstTrack < sessions[k].leadOut;
        }
        if (ordered) {
            sizes.push_back(model::SectorWithoutGaps(sessions, last - 1) + 1);
        }
    }

    const model::ControlReading reading =
        model::ReadControl(std::string(reinterpret_cast<const char*>(data), size));
    Check(std::vector<int32_t>(scan->boundaries, scan->boundaries + scan->boundaryCount) ==
              reading.boundaries,
          "the scan's boundaries differ from the model's reading");

    std::unique_ptr<int32_t[]> list(new int32_t[BOUNDARY_LIST_SIZE]);
    std::unique_ptr<TrackTable> tracks(new TrackTable);
    for (int64_t sectors : sizes) {
        SessionLayout layout =
            PlaceInImage(*scan, sectors, *reinterpret_cast<BoundaryList*>(list.get()), *tracks);
        const model::PlacedReading placed = model::PlaceReading(reading, sectors);
        Check(AsPlacement(layout) == placed.placement, "placed otherwise than the model places it");
        Check(!IsPlaced(layout) ||
                  std::vector<int32_t>(list.get(), list.get() + scan->boundaryCount) ==
                      placed.boundaries,
              "boundaries placed otherwise than the model places them");
        if (!IsPlaced(layout)) {
            Check(list[0] == END_SENTINEL && tracks->count == 0, "a refusal placed something");
            continue;
        }
        Check(tracks->count == scan->trackCount, "tracks lost in placing");
        Check(list[scan->boundaryCount] == END_SENTINEL, "placed list not closed");
        if (layout == SessionLayout::SingleSession) {
            for (int32_t i = 0; i < scan->boundaryCount; ++i) {
                Check(list[i] == scan->boundaries[i], "a single-session boundary moved");
            }
            continue;
        }
        Check(modelled, "a multi-session layout placed without its sessions");
        Check(!scan->tracksDropped && !scan->boundariesDropped, "a cut layout was placed");
        const bool gapLeftOut = layout == SessionLayout::GapLeftOut;
        Check(gapLeftOut || sectors == sessions.back().leadOut, "gap stored in the wrong size");
        for (int32_t i = 0; i < scan->boundaryCount; ++i) {
            const int64_t address = scan->boundaries[i];
            Check(address < sessions.back().leadOut, "a boundary after the last lead-out");
            const int64_t expected =
                gapLeftOut ? model::SectorWithoutGaps(sessions, address) : address;
            Check(list[i] == expected, "a boundary placed where the model does not put it");
            Check(list[i] >= 0 && list[i] < sectors, "a boundary outside the image");
        }
        for (int32_t i = 0; i < tracks->count; ++i) {
            const TrackInfo& track = tracks->tracks[i];
            Check(track.session >= 1 && track.session <= scan->lastSession,
                  "a track in no session");
            Check(track.firstSector == NOT_GIVEN ||
                      (track.firstSector >= 0 && track.firstSector < sectors),
                  "a track starting outside the image");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Scan scan = ScanBytes(data, size);
    CheckPlacement(data, size);

    // Every boundary comes from its own INDEX line after a TRACK line.
    Check(static_cast<size_t>(scan.count) <= Occurrences(data, size, "index"),
          "more boundaries than INDEX keywords");
    if (Occurrences(data, size, "track") == 0) {
        Check(scan.count == 0, "boundaries without any TRACK keyword");
    }

    // A NUL byte ends the scan: what follows it changes nothing.
    const uint8_t* nul = size > 0 ? static_cast<const uint8_t*>(memchr(data, 0, size)) : nullptr;
    if (nul != nullptr) {
        Scan prefix = ScanBytes(data, static_cast<size_t>(nul - data));
        Check(prefix.entries == scan.entries, "bytes after a NUL changed the list");
    }

    // LF, CR and CR LF end lines alike (where no line is long enough to be cut in pieces).
    if (!fuzzing::HasLongLine(data, size)) {
        std::vector<uint8_t> unix = fuzzing::WithLfEndings(data, size);
        Scan lf = ScanBytes(unix.data(), unix.size());
        Check(lf.entries == scan.entries, "line endings changed the list");
    }
    return 0;
}

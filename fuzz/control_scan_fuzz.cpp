// Any bytes as a control file: the scan must stay inside its buffers, close the list with
// END_SENTINEL and record nothing that the file cannot account for.
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "control_scan.h"
#include "file.h"
#include "fuzz_folder.h"

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

// Writes the bytes to an in-memory file and scans it through a fresh handle, with the line
// buffer and the list allocated at their exact sizes so that any overrun is caught.
Scan ScanBytes(const uint8_t* data, size_t size) {
    static int fd = memfd_create("control", MFD_CLOEXEC);
    Check(fd >= 0, "memfd_create failed");
    Check(ftruncate(fd, 0) == 0 && pwrite(fd, data, size, 0) == static_cast<ssize_t>(size),
          "cannot write the control bytes");
    char path[64];
    snprintf(path, sizeof(path), "/proc/self/fd/%d", fd);

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

bool HasLongLine(const uint8_t* data, size_t size) {
    size_t run = 0;
    for (size_t i = 0; i < size; ++i) {
        run = (data[i] == '\n' || data[i] == '\r') ? 0 : run + 1;
        if (run > 1000) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Scan scan = ScanBytes(data, size);

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
    if (!HasLongLine(data, size)) {
        std::vector<uint8_t> unix;
        for (size_t i = 0; i < size; ++i) {
            if (data[i] == '\r') {
                unix.push_back('\n');
                if (i + 1 < size && data[i + 1] == '\n') {
                    ++i;
                }
            } else {
                unix.push_back(data[i]);
            }
        }
        Scan lf = ScanBytes(unix.data(), unix.size());
        Check(lf.entries == scan.entries, "line endings changed the list");
    }
    return 0;
}

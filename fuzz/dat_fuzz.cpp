// Any bytes as a DAT file: the reader must stay inside its buffers, keep nothing from a text it
// refuses, keep only entries with track files, and read a file in pieces as it reads the text
// whole.
#include <stdint.h>
#include <stdio.h>
#include <sys/mman.h>
#include <unistd.h>

#include "dat.h"
#include "fuzz_folder.h"

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        fuzzing::Finding("dat", what);
    }
}

bool SameRom(const verify::DatRom& a, const verify::DatRom& b) {
    return a.name == b.name && a.size == b.size && a.hasCrc == b.hasCrc && a.hasMd5 == b.hasMd5 &&
           a.hasSha1 == b.hasSha1 && a.hashes.crc == b.hashes.crc && a.hashes.md5 == b.hashes.md5 &&
           a.hashes.sha1 == b.hashes.sha1;
}

bool SameDat(const verify::Dat& a, const verify::Dat& b) {
    if (a.entries.size() != b.entries.size()) {
        return false;
    }
    for (size_t e = 0; e < a.entries.size(); ++e) {
        const verify::DatEntry& x = a.entries[e];
        const verify::DatEntry& y = b.entries[e];
        if (x.name != y.name || x.tracks.size() != y.tracks.size()) {
            return false;
        }
        for (size_t t = 0; t < x.tracks.size(); ++t) {
            if (!SameRom(x.tracks[t], y.tracks[t])) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    verify::Dat dat;
    verify::DatLoad load = verify::ParseDat(reinterpret_cast<const char*>(data), size, dat);
    if (load.status == verify::DatStatus::Loaded) {
        Check(!dat.entries.empty(), "loaded without entries");
    } else {
        Check(dat.entries.empty(), "entries kept from a refused text");
    }
    for (const verify::DatEntry& entry : dat.entries) {
        Check(!entry.tracks.empty(), "an entry without track files");
        for (const verify::DatRom& rom : entry.tracks) {
            Check(verify::IsTrackFileName(rom.name), "a rom that is not a track file");
            Check(rom.size >= -1, "a negative size");
        }
    }

    static int fd = memfd_create("dat", MFD_CLOEXEC);
    Check(fd >= 0, "memfd_create failed");
    Check(ftruncate(fd, 0) == 0 && pwrite(fd, data, size, 0) == static_cast<ssize_t>(size),
          "cannot write the DAT bytes");
    char path[64];
    snprintf(path, sizeof(path), "/proc/self/fd/%d", fd);
    verify::Dat streamed;
    verify::DatLoad fromFile = verify::LoadDat(path, streamed);
    Check(fromFile.status == load.status, "the file read otherwise than the text");
    Check(fromFile.line == load.line && fromFile.column == load.column,
          "the file's fault placed otherwise than the text's");
    Check(SameDat(dat, streamed), "the file gave other entries than the text");
    return 0;
}

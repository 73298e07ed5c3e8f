// unshared-bytes: how many bytes of a file's blocks it does not share with another file, from the
// physical extents that FIEMAP reports for both (written out first).
#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace {

const char kUsage[] =
    "Usage: unshared-bytes FILE OTHER\n"
    "Prints the bytes of FILE's blocks that OTHER does not share, then all bytes of FILE's\n"
    "blocks: \"UNSHARED ALLOCATED\". Exit status: 0, or 2 when either file cannot be mapped.\n";

struct Extent {
    uint64_t physical;
    uint64_t length;
};

// All extents of the file at `path`, or false with a message.
bool MapFile(const char* path, std::vector<Extent>* extents) {
    int fd = open(path, O_RDONLY);
    if (fd < 0) {
        perror(path);
        return false;
    }
    constexpr uint32_t kBatch = 256;
    std::vector<uint8_t> buffer(sizeof(fiemap) + kBatch * sizeof(fiemap_extent));
    fiemap* map = reinterpret_cast<fiemap*>(buffer.data());
    uint64_t start = 0;
    bool last = false;
    while (!last) {
        std::fill(buffer.begin(), buffer.end(), 0);
        map->fm_start = start;
        map->fm_length = FIEMAP_MAX_OFFSET - start;
        map->fm_flags = FIEMAP_FLAG_SYNC;
        map->fm_extent_count = kBatch;
        if (ioctl(fd, FS_IOC_FIEMAP, map) != 0) {
            perror(path);
            close(fd);
            return false;
        }
        if (map->fm_mapped_extents == 0) {
            break;
        }
        for (uint32_t i = 0; i < map->fm_mapped_extents; ++i) {
            const fiemap_extent& e = map->fm_extents[i];
            // Data kept inside the file system's records, or not yet placed, is the file's own.
            const bool placed = (e.fe_flags & (FIEMAP_EXTENT_UNKNOWN | FIEMAP_EXTENT_DATA_INLINE |
                                               FIEMAP_EXTENT_NOT_ALIGNED)) == 0;
            extents->push_back({placed ? e.fe_physical : UINT64_MAX, e.fe_length});
            start = e.fe_logical + e.fe_length;
            last = (e.fe_flags & FIEMAP_EXTENT_LAST) != 0;
        }
    }
    close(fd);
    return true;
}

// Bytes of the extent's blocks that any of `ranges` covers (at most all of them).
uint64_t Covered(const std::vector<Extent>& ranges, const Extent& extent) {
    if (extent.physical == UINT64_MAX) {
        return 0;
    }
    uint64_t covered = 0;
    const uint64_t end = extent.physical + extent.length;
    for (const Extent& r : ranges) {
        const uint64_t from = std::max(r.physical, extent.physical);
        const uint64_t to = std::min(r.physical + r.length, end);
        if (from < to) {
            covered += to - from;
        }
    }
    return std::min(covered, extent.length);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fputs(kUsage, stderr);
        return 2;
    }
    std::vector<Extent> file;
    std::vector<Extent> other;
    if (!MapFile(argv[1], &file) || !MapFile(argv[2], &other)) {
        return 2;
    }
    uint64_t unshared = 0;
    uint64_t allocated = 0;
    for (const Extent& e : file) {
        allocated += e.length;
        unshared += e.length - Covered(other, e);
    }
    printf("%llu %llu\n", static_cast<unsigned long long>(unshared),
           static_cast<unsigned long long>(allocated));
    return 0;
}

#include "sector_rewriter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "fake_host.h"
#include "file.h"
#include "image_model.h"
#include "scratch_dir.h"

namespace {

using model::Bytes;
using testing_support::ScratchDir;

struct RewriteRun {
    RewriteOutcome outcome;
    Bytes target;
};

// Writes `bytes` leaving a hole wherever a 4 KiB block of them is all zeros.
void WriteSparse(const std::string& path, const Bytes& bytes) {
    const size_t kBlock = 4096;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    for (size_t at = 0; at < bytes.size(); at += kBlock) {
        size_t n = std::min(kBlock, bytes.size() - at);
        if (std::any_of(bytes.begin() + at, bytes.begin() + at + n, [](uint8_t b) { return b; })) {
            ASSERT_EQ(pwrite(fd, bytes.data() + at, n, static_cast<off_t>(at)), ssize_t(n));
        }
    }
    EXPECT_EQ(ftruncate(fd, static_cast<off_t>(bytes.size())), 0);
    close(fd);
}

// Writes `source` to a file and rewrites it into another with the given list and shift.
RewriteRun Rewrite(const Bytes& source, const std::vector<int32_t>& boundaries, int32_t shift,
                   FakeHost& host, int32_t chunkSectors = CHUNK_SECTORS, bool sparse = false) {
    ScratchDir dir;
    if (sparse) {
        WriteSparse(dir / "in", source);
    } else {
        model::WriteFileBytes(dir / "in", source);
    }
    BoundaryList list;
    size_t n = std::min(boundaries.size(), static_cast<size_t>(BOUNDARY_LIST_SIZE - 1));
    std::copy(boundaries.begin(), boundaries.begin() + n, list);
    list[n] = END_SENTINEL;
    // Big enough that a test's recursion or a stray write past it would show under ASan.
    auto work = std::make_unique<WorkArea>();
    memset(work.get(), 0, sizeof(WorkArea));
    File in;
    File out;
    EXPECT_TRUE(in.OpenForReading((dir / "in").c_str()));
    EXPECT_TRUE(out.CreateForWriting((dir / "out").c_str()));
    RewriteRun run;
    run.outcome = RewriteSectors(in, out, -4 * shift, list, *work, host, chunkSectors);
    in.Close();
    out.Close();
    run.target = model::ReadFileBytes(dir / "out");
    return run;
}

Bytes Expected(const Bytes& source, const std::vector<int32_t>& boundaries, int32_t shift,
               int64_t sectors) {
    return model::ExpectedImage(source, model::AudioSectors(boundaries, sectors), shift);
}

// A boundary list as a control file could give: mostly rising, sometimes repeated, backwards
// or beyond the end of the image.
std::vector<int32_t> RandomBoundaries(std::mt19937& random, int32_t sectors) {
    std::vector<int32_t> list;
    int32_t count = static_cast<int32_t>(random() % 7);
    int32_t at = 0;
    for (int32_t i = 0; i < count; ++i) {
        switch (random() % 6) {
            case 0:
                break;  // the same sector again
            case 1:
                at = static_cast<int32_t>(random() % (sectors + 2));  // anywhere, maybe back
                break;
            case 2:
                at = sectors + static_cast<int32_t>(random() % 5);  // past the end
                break;
            default:
                at += 1 + static_cast<int32_t>(random() % 9);
        }
        list.push_back(at);
    }
    return list;
}

int32_t RandomShift(std::mt19937& random) {
    static const int32_t kEdges[] = {0,    1,    -1,   -30,  30,   587,   588,   589,   -588,
                                     1175, 1176, 1764, 2347, 2348, -2348, -2347, -1176, -1764};
    if (random() % 2 == 0) {
        return kEdges[random() % (sizeof(kEdges) / sizeof(kEdges[0]))];
    }
    return static_cast<int32_t>(random() % 4697) - 2348;
}

TEST(RewriteSectors, MatchesTheModelOnRandomImages) {
    std::mt19937 random(20261207);
    for (int iteration = 0; iteration < 400; ++iteration) {
        int32_t sectors = static_cast<int32_t>(random() % 40);
        int32_t tail = random() % 4 == 0 ? static_cast<int32_t>(random() % SECTOR_SIZE) : 0;
        Bytes source = testing_support::RandomBytes(random, sectors * SECTOR_SIZE + tail);
        std::vector<int32_t> boundaries = RandomBoundaries(random, sectors);
        int32_t shift = RandomShift(random);
        int32_t chunk = random() % 3 == 0 ? CHUNK_SECTORS : 1 + static_cast<int32_t>(random() % 9);
        FakeHost host;
        RewriteRun run = Rewrite(source, boundaries, shift, host, chunk);
        SCOPED_TRACE("iteration " + std::to_string(iteration) + ", " + std::to_string(sectors) +
                     " sectors + " + std::to_string(tail) + ", shift " + std::to_string(shift) +
                     ", chunk " + std::to_string(chunk) + ", boundaries " +
                     testing::PrintToString(boundaries));
        EXPECT_EQ(RewriteStatus::Finished, run.outcome.status);
        EXPECT_EQ(sectors, run.outcome.sectors);
        ASSERT_EQ(Expected(source, boundaries, shift, sectors), run.target);
    }
}

struct LayoutCase {
    const char* name;
    int32_t sectors;
    std::vector<int32_t> boundaries;
    int32_t shift;
};

TEST(RewriteSectors, Layouts) {
    const std::vector<LayoutCase> cases = {
        {"all audio, default offset", 20, {0}, -30},
        {"all audio, moved toward the end", 20, {0}, 30},
        {"shift 0 copies", 20, {0}, 0},
        {"single-sector region before data", 6, {2, 3}, -30},
        {"single-sector region at the end", 6, {5}, 30},
        {"data, audio, data, audio", 30, {4, 10, 16}, -500},
        {"data, audio, data, audio, moved toward the end", 30, {4, 10, 16}, 500},
        {"7-sector region, largest byte shift", 12, {2, 9}, -2348},
        {"7-sector region, largest shift toward the end", 12, {2, 9}, 2348},
        {"region shorter than the shift", 8, {2, 3}, -2348},
        {"first boundary beyond the end", 10, {50}, -30},
        {"equal boundaries", 10, {3, 3, 3}, -100},
        {"backwards list", 12, {9, 1}, -100},
        {"regions of 5, 6, 7 sectors with the flush past the work area",
         40,
         {1, 6, 7, 13, 14, 21},
         -2000},
        {"many sectors in one region", 300, {0}, -1},
    };
    for (const auto& c : cases) {
        std::mt19937 random(c.sectors);
        Bytes source = testing_support::RandomBytes(random, c.sectors * SECTOR_SIZE);
        for (int32_t chunk : {1, 3, 4, 8, CHUNK_SECTORS}) {
            FakeHost host;
            RewriteRun run = Rewrite(source, c.boundaries, c.shift, host, chunk);
            EXPECT_EQ(Expected(source, c.boundaries, c.shift, c.sectors), run.target)
                << c.name << ", chunk " << chunk;
        }
    }
}

TEST(RewriteSectors, AudioStaysInsideItsRegion) {
    // Data sectors of 0xDD around audio of 0xAA: no audio byte may land in a data sector, and
    // the silence stands at the right edge of each region.
    Bytes source(10 * SECTOR_SIZE, 0xDD);
    std::fill(source.begin() + 2 * SECTOR_SIZE, source.begin() + 9 * SECTOR_SIZE, 0xAA);
    FakeHost host;
    RewriteRun run = Rewrite(source, {2, 9}, -2348, host);
    ASSERT_EQ(source.size(), run.target.size());
    const size_t start = 2 * SECTOR_SIZE;
    const size_t end = 9 * SECTOR_SIZE;
    EXPECT_TRUE(std::all_of(run.target.begin(), run.target.begin() + start,
                            [](uint8_t b) { return b == 0xDD; }));
    EXPECT_TRUE(std::all_of(run.target.begin() + end, run.target.end(),
                            [](uint8_t b) { return b == 0xDD; }));
    EXPECT_TRUE(std::all_of(run.target.begin() + start, run.target.begin() + end - 9392,
                            [](uint8_t b) { return b == 0xAA; }));
    EXPECT_TRUE(std::all_of(run.target.begin() + end - 9392, run.target.begin() + end,
                            [](uint8_t b) { return b == 0; }));
}

// Sectors that were never written read as zeros, and must come out so whether the file system
// shares the hole or copies it: data and audio across holes, and holes at the image's ends.
TEST(RewriteSectors, HolesInTheSourceReadAsZeros) {
    std::mt19937 random(5);
    const int32_t sectors = 2100;
    Bytes source = testing_support::RandomBytes(random, sectors * SECTOR_SIZE);
    for (auto hole : {std::make_pair(0, 7), std::make_pair(20, 1500), std::make_pair(1600, 1700),
                      std::make_pair(2080, sectors)}) {
        std::fill(source.begin() + hole.first * SECTOR_SIZE,
                  source.begin() + hole.second * SECTOR_SIZE, 0);
    }
    const std::vector<int32_t> boundaries = {1400, 1650, 2090};
    for (int32_t chunk : {5, CHUNK_SECTORS}) {
        FakeHost host;
        RewriteRun run = Rewrite(source, boundaries, -30, host, chunk, true);
        EXPECT_EQ(RewriteStatus::Finished, run.outcome.status);
        EXPECT_EQ(Expected(source, boundaries, -30, sectors), run.target) << "chunk " << chunk;
    }
}

TEST(RewriteSectors, PartialLastSectorIsNotCopied) {
    std::mt19937 random(7);
    Bytes source = testing_support::RandomBytes(random, 5 * SECTOR_SIZE + 1000);
    FakeHost host;
    RewriteRun run = Rewrite(source, {0}, -30, host);
    EXPECT_EQ(5u * SECTOR_SIZE, run.target.size());
    EXPECT_EQ(5, run.outcome.totalSectors);
}

TEST(RewriteSectors, ProgressEvery1024Sectors) {
    struct Case {
        int32_t sectors;
        std::vector<int32_t> boundaries;
        std::vector<int32_t> progress;
    };
    const Case cases[] = {
        {1023, {0}, {}},
        {1024, {}, {1024}},
        {3000, {0}, {1024, 2048}},
        {3072, {100, 2000}, {1024, 2048, 3072}},
    };
    for (const auto& c : cases) {
        Bytes source(static_cast<size_t>(c.sectors) * SECTOR_SIZE, 1);
        FakeHost host;
        RewriteRun run = Rewrite(source, c.boundaries, -30, host);
        EXPECT_EQ(c.progress, host.progress) << c.sectors;
        EXPECT_EQ(c.sectors, host.total);
        // Each progress point shows the count, pumps up to 16 messages, then asks to go on.
        ASSERT_EQ(3 * c.progress.size(), host.events.size());
        for (size_t i = 0; i < c.progress.size(); ++i) {
            EXPECT_EQ("show " + std::to_string(c.progress[i]), host.events[3 * i]);
            EXPECT_EQ("pump 16", host.events[3 * i + 1]);
            EXPECT_EQ("busy", host.events[3 * i + 2]);
        }
    }
}

TEST(RewriteSectors, CancelFlushesAndEndsAtTheProgressPoint) {
    std::mt19937 random(11);
    const int32_t sectors = 3500;
    Bytes source = testing_support::RandomBytes(random, sectors * SECTOR_SIZE);
    struct Case {
        std::vector<int32_t> boundaries;
        int32_t shift;
        int32_t cancelAt;
    };
    const Case cases[] = {
        {{0}, -30, 1024},             // inside one long audio region
        {{0}, 2348, 2048},            // the held-back audio is dropped at the cut
        {{1020, 1030}, -2000, 1024},  // data at the cut
        {{2040}, -2348, 2048},        // a region of 8 sectors cut at its end
        {{10, 3000}, -100, 3072},     // the last progress point before the end
    };
    for (const auto& c : cases) {
        FakeHost host;
        host.cancelAt = c.cancelAt;
        RewriteRun run = Rewrite(source, c.boundaries, c.shift, host, 7);
        int32_t done = c.cancelAt <= sectors ? c.cancelAt : sectors;
        EXPECT_EQ(done < sectors ? RewriteStatus::Cancelled : RewriteStatus::Finished,
                  run.outcome.status);
        EXPECT_EQ(done, run.outcome.sectors);
        ASSERT_EQ(static_cast<size_t>(done) * SECTOR_SIZE, run.target.size());
        EXPECT_EQ(Expected(source, c.boundaries, c.shift, done), run.target)
            << "cancel at " << c.cancelAt;
    }
}

TEST(RewriteSectors, CancelAtTheLastSectorIsAFinishedJob) {
    Bytes source(2048 * SECTOR_SIZE, 3);
    FakeHost host;
    host.cancelAt = 2048;
    RewriteRun run = Rewrite(source, {0}, -30, host);
    EXPECT_EQ(RewriteStatus::Finished, run.outcome.status);
    EXPECT_EQ(source.size(), run.target.size());
}

TEST(RewriteSectors, CountsAudioRegions) {
    Bytes source(40 * SECTOR_SIZE, 5);
    FakeHost host;
    EXPECT_EQ(2, Rewrite(source, {4, 10, 16, 20}, -30, host).outcome.audioRegions);
    EXPECT_EQ(0, Rewrite(source, {}, -30, host).outcome.audioRegions);
    EXPECT_EQ(1, Rewrite(source, {0}, -30, host, 1).outcome.audioRegions);
}

}  // namespace

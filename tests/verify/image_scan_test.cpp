#include "image_scan.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "hash_check.h"
#include "image_model.h"
#include "scratch_dir.h"

namespace {

using model::Bytes;
using testing_support::ScratchDir;
using verify::ImageLayout;
using verify::ImageScan;
using verify::ScanStatus;

constexpr int64_t kSector = 2352;
constexpr int32_t kMaxShift = 2348;

struct LayoutCase {
    const char* name;
    ImageLayout layout;
    int64_t sectors;
};

// Tracks shorter than the largest shift, regions at the image's start and end, a region that
// runs past the image, and an audio track that no region moves.
const LayoutCase kLayouts[] = {
    {"data, short audio, data, audio to the end",
     {{{1, false, 0}, {2, true, 3}, {3, true, 5}, {4, false, 10}, {5, true, 12}},
      {{3, 10}, {12, 0x7FFFFFFF}}},
     18},
    {"audio from the start, data at the end",
     {{{1, true, 0}, {2, true, 1}, {3, true, 7}, {4, false, 9}}, {{0, 9}}},
     11},
    {"audio track outside every region",
     {{{1, true, 0}, {2, false, 2}, {3, true, 4}}, {{0, 2}}},
     8},
};

void PrintTo(const LayoutCase& c, std::ostream* out) {
    *out << c.name;
}

class ImageScanTest : public testing::TestWithParam<LayoutCase> {};

// Every track's CRC32 for every shift, against the model's shifted image hashed directly.
TEST_P(ImageScanTest, ShiftedTracksHashAsTheModelsBytes) {
    const LayoutCase& c = GetParam();
    ScratchDir dir;
    std::mt19937 random(static_cast<uint32_t>(c.sectors));
    // A partial sector at the end belongs to no track.
    Bytes image = testing_support::RandomBytes(random, c.sectors * kSector + 1000);
    model::WriteFileBytes(dir / "disc.img", image);
    std::vector<std::pair<int64_t, int64_t>> ranges;
    for (const verify::SectorRange& r : c.layout.audioRegions) {
        ranges.push_back({r.first, r.end});
    }
    const std::vector<bool> audio = model::AudioSectorsFromRanges(ranges, c.sectors);

    ImageScan scan;
    ASSERT_EQ(ScanStatus::Done, scan.Run(dir / "disc.img", c.layout, kMaxShift, true).status);
    const std::vector<verify::ImageTrack>& tracks = scan.Tracks();
    ASSERT_EQ(c.layout.tracks.size(), tracks.size());
    EXPECT_EQ(c.sectors * kSector, scan.ImageBytes());
    EXPECT_EQ(c.sectors * kSector, tracks.back().end);
    for (size_t t = 0; t < tracks.size(); ++t) {
        verify::TrackHashes expected = hash_check::HashesOf(image, tracks[t].first, tracks[t].end);
        EXPECT_EQ(expected.crc, tracks[t].asIs.crc) << t;
        EXPECT_EQ(expected.md5, tracks[t].asIs.md5) << t;
        EXPECT_EQ(expected.sha1, tracks[t].asIs.sha1) << t;
    }

    for (int32_t shift = -kMaxShift; shift <= kMaxShift; ++shift) {
        const Bytes shifted = model::ExpectedImage(image, audio, shift);
        const bool readBack = shift % 293 == 0 || shift == kMaxShift || shift == -kMaxShift ||
                              shift == 1 || shift == -1;
        for (size_t t = 0; t < tracks.size(); ++t) {
            verify::TrackHashes expected =
                hash_check::HashesOf(shifted, tracks[t].first, tracks[t].end);
            ASSERT_EQ(expected.crc, scan.ShiftedCrc(t, shift))
                << "track " << t << " shift " << shift;
            if (readBack) {
                verify::TrackHashes read;
                ASSERT_EQ(ScanStatus::Done, scan.HashShifted(t, shift, read).status);
                EXPECT_EQ(expected.crc, read.crc) << "track " << t << " shift " << shift;
                EXPECT_EQ(expected.sha1, read.sha1) << "track " << t << " shift " << shift;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, ImageScanTest, testing::ValuesIn(kLayouts),
                         [](const testing::TestParamInfo<LayoutCase>& info) {
                             return "Layout" + std::to_string(info.index);
                         });

TEST(ImageScanErrorTest, RefusesLayoutsThatDoNotCutTheImageIntoTracks) {
    struct Case {
        ImageLayout layout;
        ScanStatus status;
        int32_t track;
    };
    const Case cases[] = {
        {{{}, {}}, ScanStatus::NoTracks, 0},
        {{{{1, false, 0}, {2, true, 4}, {3, true, 4}}, {{4, 10}}}, ScanStatus::TracksOutOfOrder, 3},
        {{{{1, false, 0}, {2, true, 10}}, {{10, 11}}}, ScanStatus::TrackPastEnd, 2},
        {{{{1, true, 0}, {2, true, 3}}, {{0, 5}}}, ScanStatus::CrossesRegionEdge, 2},
        {{{{1, true, 0}, {2, false, 2}}, {{0, 10}}}, ScanStatus::DataInAudioRegion, 2},
    };
    ScratchDir dir;
    model::WriteFileBytes(dir / "disc.img", Bytes(10 * kSector));
    for (const Case& c : cases) {
        ImageScan scan;
        verify::ScanResult result = scan.Run(dir / "disc.img", c.layout, kMaxShift, false);
        EXPECT_EQ(c.status, result.status) << c.track;
        EXPECT_EQ(c.track, result.track);
    }
    ImageScan scan;
    verify::ScanResult missing = scan.Run(dir / "none.img", kLayouts[0].layout, kMaxShift, false);
    EXPECT_EQ(ScanStatus::CannotOpen, missing.status);
    EXPECT_NE(0, missing.systemError);
}

}  // namespace

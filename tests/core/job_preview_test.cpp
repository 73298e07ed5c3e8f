#include "job_preview.h"

#include <gtest/gtest.h>
#include <string.h>

#include <random>
#include <vector>

#include "fake_host.h"
#include "image_model.h"
#include "scratch_dir.h"
#include "test_disc.h"

namespace {

using model::Bytes;
using testing_support::ScratchDir;

// The regions must cover exactly the sectors that the image model calls audio, for boundary
// lists of every shape: ascending, repeated, going backwards, past the end.
TEST(ListAudioRegions, CoversTheSectorsTheModelCallsAudio) {
    std::mt19937 random(12);
    for (int round = 0; round < 2000; ++round) {
        JobPlan plan;
        memset(&plan, 0, sizeof(plan));
        plan.imageSectors = random() % 80;
        std::vector<int32_t> boundaries(random() % 8);
        for (size_t i = 0; i < boundaries.size(); ++i) {
            boundaries[i] = static_cast<int32_t>(random() % 90);
            plan.boundaries[i] = boundaries[i];
        }
        plan.boundaries[boundaries.size()] = END_SENTINEL;
        AudioRegion regions[MAX_AUDIO_REGIONS];
        int32_t count = ListAudioRegions(plan, regions, MAX_AUDIO_REGIONS);
        std::vector<bool> audio(static_cast<size_t>(plan.imageSectors), false);
        int64_t previousEnd = -1;
        for (int32_t r = 0; r < count; ++r) {
            // Runs, not pieces: each region ends at a data sector or the image's end.
            EXPECT_LT(previousEnd, regions[r].firstSector);
            EXPECT_LT(regions[r].firstSector, regions[r].endSector);
            for (int64_t s = regions[r].firstSector; s < regions[r].endSector; ++s) {
                audio[static_cast<size_t>(s)] = true;
            }
            previousEnd = regions[r].endSector;
        }
        EXPECT_EQ(model::AudioSectors(boundaries, plan.imageSectors), audio)
            << testing::PrintToString(boundaries) << " in " << plan.imageSectors;
    }
}

TEST(PreviewShiftJob, NamesTheTracksAndCountsWhatTheCutEdgeDrops) {
    ScratchDir dir;
    testing_support::Disc disc =
        testing_support::PlaceDisc(dir.path(), "disc", testing_support::MixedRuns(), 7);
    // Silence where the first region starts and a few non-zero samples in it, at known places.
    Bytes image = disc.image;
    const size_t first = 10 * 2352;  // the first audio region is sectors 10-29, tracks 2
    const size_t lastEnd = 60 * 2352;
    memset(&image[first], 0, 120);
    image[first + 8] = 1;
    image[first + 117] = 1;
    memset(&image[30 * 2352 - 120], 0, 120);
    memset(&image[lastEnd - 120], 0, 120);
    model::WriteFileBytes(dir / "disc.img", image);

    for (const char* offset : {"-30", "30", "0"}) {
        FakeHost host(offset);
        JobPlan plan;
        ASSERT_EQ(ShiftResult::Done, PrepareShiftJob(host, (dir / "disc.ccd").c_str(), &plan));
        JobPreview preview;
        ASSERT_TRUE(PreviewShiftJob(plan, &preview));
        ASSERT_EQ(2, preview.regionCount);
        EXPECT_EQ(10, preview.regions[0].firstSector);
        EXPECT_EQ(30, preview.regions[0].endSector);
        EXPECT_EQ(40, preview.regions[1].firstSector);
        EXPECT_EQ(60, preview.regions[1].endSector);
        int32_t shift = atoi(offset);
        EXPECT_EQ(shift < 0 ? -shift : shift, preview.regions[0].droppedSamples) << offset;
        // Toward the end the second region's tail is cut: silence there.
        // Toward the start the first region's head is cut: two samples there are not silence.
        EXPECT_EQ(shift < 0 ? 2 : 0, preview.regions[0].droppedNonZero) << offset;
        EXPECT_EQ(shift < 0 ? 30 : 0, preview.regions[1].droppedNonZero) << offset;
        EXPECT_EQ(2, preview.regions[0].firstTrack);
        EXPECT_EQ(2, preview.regions[0].lastTrack);
        EXPECT_EQ(4, preview.regions[1].firstTrack);
    }
    // Nothing was touched.
    EXPECT_EQ((std::vector<std::string>{"disc.ccd", "disc.img"}), dir.Names());
    EXPECT_EQ(image, model::ReadFileBytes(dir / "disc.img"));
}

}  // namespace

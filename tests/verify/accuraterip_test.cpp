#include "accuraterip.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image_model.h"
#include "scratch_dir.h"
#include "test_disc.h"

namespace {

using model::Bytes;
using testing_support::ScratchDir;

TEST(DiscIdTest, MatchesTheKnownVector) {
    const verify::DiscId id =
        verify::ComputeDiscId({{true, 0}, {true, 11413}, {true, 25024}, {true, 45713}}, 55220);
    EXPECT_EQ("004-0002189a-00087f33-1f02e004", verify::DiscIdText(id));
    EXPECT_EQ("a/9/8/", verify::ResponseFolder(id));
}

verify::ChecksumScan Scan(const std::string& control, int32_t maxShift) {
    verify::JobLayout job = verify::ReadJobLayout(control.c_str());
    EXPECT_EQ(ShiftResult::Done, job.result);
    verify::ChecksumScan scan;
    EXPECT_EQ(verify::ScanStatus::Done, scan.Run(job, maxShift, true).status);
    return scan;
}

// Three audio tracks of 600, 700 and 800 sectors of the LCG signal, nothing else on the disc.
TEST(ChecksumScanTest, GivesTheVectorsOfTheSignalDisc) {
    ScratchDir dir;
    const std::string control = testing_support::PlaceSignalDisc(dir.path());
    const verify::ChecksumScan scan = Scan(control, 2348);
    const uint32_t expected[3][5] = {
        {0xe6cfad25, 0x2749c78b, 0x2810bfe3, 0x0141a51f, 0x3d27fcf3},
        {0xc3d8e902, 0x9e225062, 0x2c775cd4, 0x7495ac1d, 0xb4b61d33},
        {0xb7cb77ba, 0x7181354c, 0xaef2336d, 0xdb7e8209, 0xf526fd13},
    };
    ASSERT_EQ(3u, scan.Tracks().size());
    for (size_t t = 0; t < 3; ++t) {
        SCOPED_TRACE(t + 1);
        std::vector<uint32_t> v2;
        ASSERT_EQ(verify::ScanStatus::Done, scan.V2(t, {0}, v2).status);
        const uint32_t got[5] = {scan.V1(t, 0), scan.Sums(t).v2, scan.Frame450(t, 0),
                                 scan.V1(t, 48), scan.V1(t, -1164)};
        for (int k = 0; k < 5; ++k) {
            EXPECT_EQ(expected[t][k], got[k]) << "checksum " << k;
        }
        EXPECT_EQ(got[1], v2[0]);
    }
}

// The checksums at offset o of an image are those at 0 of the image that the model shifts by -o.
TEST(ChecksumScanTest, AnOffsetReadsAsTheModelsShiftedImage) {
    ScratchDir dir;
    using testing_support::Run;
    const testing_support::Disc disc = testing_support::PlaceDisc(
        dir.path(), "disc", {{false, 30}, {true, 500}, {true, 3}, {true, 460}}, 9);
    const verify::ChecksumScan scan = Scan(dir / "disc.ccd", 2348);
    for (int32_t offset : {1, -1, 48, -1164, 2348, -2348, 588}) {
        SCOPED_TRACE(offset);
        testing_support::WriteDisc(
            {disc.control, testing_support::Expected(disc, -offset), disc.audio, disc.sectors},
            dir / "shifted.ccd", dir / "shifted.img");
        const verify::ChecksumScan shifted = Scan(dir / "shifted.ccd", 0);
        for (size_t t = 1; t < scan.Tracks().size(); ++t) {
            std::vector<uint32_t> v2;
            ASSERT_EQ(verify::ScanStatus::Done, scan.V2(t, {offset, 0}, v2).status);
            EXPECT_EQ(shifted.V1(t, 0), scan.V1(t, offset)) << t;
            EXPECT_EQ(shifted.Frame450(t, 0), scan.Frame450(t, offset)) << t;
            EXPECT_EQ(shifted.Sums(t).v2, v2[0]) << t;
            EXPECT_EQ(scan.Sums(t).v2, v2[1]) << t;
        }
    }
}

}  // namespace

#include "shift_search.h"

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
using verify::Verdict;

constexpr int64_t kSector = 2352;
constexpr int32_t kMaxShift = 2348;

// A data track, then three audio tracks whose region starts and ends with four sectors of
// silence, more than the largest shift moves: shifting it there and back gives it back whole.
const verify::ImageLayout kLayout = {{{1, false, 0}, {2, true, 4}, {3, true, 10}, {4, true, 15}},
                                     {{4, 0x7FFFFFFF}}};
constexpr int64_t kSectors = 21;
const int64_t kEnds[] = {4, 10, 15, 21};

std::vector<bool> AudioSectors() {
    return model::AudioSectorsFromRanges({{4, kSectors}}, kSectors);
}

Bytes TrueImage(uint32_t seed) {
    std::mt19937 random(seed);
    Bytes image = testing_support::RandomBytes(random, kSectors * kSector);
    std::fill(image.begin() + 4 * kSector, image.begin() + 8 * kSector, 0);
    std::fill(image.begin() + 17 * kSector, image.end(), 0);
    return image;
}

// The DAT entry of an image, hashed directly from its bytes.
std::string Entry(const std::string& name, const Bytes& image) {
    std::string text = "<game name=\"" + name + "\">";
    for (size_t t = 0; t < kLayout.tracks.size(); ++t) {
        int64_t first = kLayout.tracks[t].firstSector * kSector;
        int64_t end = kEnds[t] * kSector;
        text += hash_check::RomLine(name + " (Track " + std::to_string(t + 1) + ").bin",
                                    end - first, hash_check::HashesOf(image, first, end));
    }
    return text + "</game>\n";
}

verify::Dat ParseDat(const std::string& entries) {
    std::string text = "<datafile>" + entries + "</datafile>";
    verify::Dat dat;
    EXPECT_EQ(verify::DatStatus::Loaded, verify::ParseDat(text.data(), text.size(), dat).status);
    return dat;
}

verify::ShiftFinding Find(const ScratchDir& dir, const Bytes& dump, const verify::Dat& dat) {
    model::WriteFileBytes(dir / "dump.img", dump);
    verify::ImageScan scan;
    EXPECT_EQ(verify::ScanStatus::Done,
              scan.Run(dir / "dump.img", kLayout, kMaxShift, false).status);
    verify::ShiftFinding finding;
    EXPECT_EQ(verify::ScanStatus::Done,
              verify::FindShift(dat, scan, -kMaxShift, kMaxShift, finding).status);
    return finding;
}

TEST(ShiftSearchTest, FindsTheShiftOfADumpAmongDecoysAndConfirmsHitsBySha1) {
    const Bytes truth = TrueImage(1);
    ScratchDir dir;
    for (int32_t shift : {-kMaxShift, -30, 1, 588, kMaxShift}) {
        const Bytes dump = model::ExpectedImage(truth, AudioSectors(), -shift);
        // Decoys: same track sizes with other hashes; and one whose audio CRCs are those of
        // the dump under a wrong shift, nearer to 0 so that it is tried first, with other SHA-1s.
        std::string entries = Entry("Other disc", TrueImage(2));
        const int32_t wrong = shift > 0 ? shift - 1 : shift + 1;
        Bytes collider = model::ExpectedImage(dump, AudioSectors(), wrong);
        std::string forged = Entry("Collider", collider);
        for (size_t at = forged.find("sha1=\""); at != std::string::npos;
             at = forged.find("sha1=\"", at + 1)) {
            forged[at + 6] = forged[at + 6] == '0' ? '1' : '0';
        }
        // Its data track must still fit: take it from the truth.
        std::string truthEntry = Entry("Truth", truth);
        forged.replace(forged.find("<rom"), forged.find("/>") + 2 - forged.find("<rom"),
                       truthEntry.substr(truthEntry.find("<rom"),
                                         truthEntry.find("/>") + 2 - truthEntry.find("<rom")));
        entries += forged + truthEntry;
        const verify::Dat dat = ParseDat(entries);

        verify::ShiftFinding finding = Find(dir, dump, dat);
        EXPECT_EQ(Verdict::ShiftFound, finding.verdict) << shift;
        EXPECT_EQ(shift, finding.shift);
        EXPECT_EQ(2, finding.entry);
        EXPECT_EQ(3, finding.matched);
        EXPECT_EQ(3, finding.audioTracks);
        ASSERT_EQ(4u, finding.tracks.size());
        for (size_t t = 0; t < 4; ++t) {
            EXPECT_TRUE(finding.tracks[t].sizeFits);
            EXPECT_EQ(t == 0, finding.tracks[t].asIs) << t;
            EXPECT_TRUE(finding.tracks[t].shifted) << t;
        }
    }
}

TEST(ShiftSearchTest, TellsWhatItCannotBeSureOf) {
    const Bytes truth = TrueImage(3);
    ScratchDir dir;
    const Bytes dump = model::ExpectedImage(truth, AudioSectors(), 30);

    // As it is, the truth matches; with a damaged track the shift still shows in the others.
    EXPECT_EQ(Verdict::AlreadyMatches, Find(dir, truth, ParseDat(Entry("Truth", truth))).verdict);
    Bytes damaged = dump;
    damaged[12 * kSector] ^= 1;
    verify::ShiftFinding partial = Find(dir, damaged, ParseDat(Entry("Truth", truth)));
    EXPECT_EQ(Verdict::ShiftFound, partial.verdict);
    EXPECT_EQ(-30, partial.shift);
    EXPECT_EQ(2, partial.matched);
    EXPECT_FALSE(partial.tracks[2].shifted);

    // Another disc of the same sizes whose data matches, but none of its audio.
    Bytes other = TrueImage(4);
    std::copy(truth.begin(), truth.begin() + 4 * kSector, other.begin());
    EXPECT_EQ(Verdict::NoAudioMatch, Find(dir, dump, ParseDat(Entry("Other", other))).verdict);

    // Only a silent track matches, and it matches under many shifts alike.
    Bytes silent = truth;
    std::fill(silent.begin() + 4 * kSector, silent.begin() + 10 * kSector, 0);
    Bytes silentDump = model::ExpectedImage(silent, AudioSectors(), 30);
    silentDump[12 * kSector] ^= 1;
    silentDump[16 * kSector] ^= 1;
    verify::ShiftFinding tied = Find(dir, silentDump, ParseDat(Entry("Silent", silent)));
    EXPECT_EQ(Verdict::NotCertain, tied.verdict);
    EXPECT_EQ(1, tied.matched);
    EXPECT_FALSE(tied.tiedShifts.empty());

    // Nothing fits: the data track differs, or the sizes do. The closest entry is named.
    Bytes otherData = truth;
    otherData[100] ^= 1;
    std::string sizes = Entry("Sizes", truth);
    sizes.replace(sizes.find("size=\"14112\""), 12, "size=\"14113\"");
    verify::ShiftFinding none =
        Find(dir, dump, ParseDat(Entry("Decoy", TrueImage(5)) + Entry("Data", otherData) + sizes));
    EXPECT_EQ(Verdict::NoEntryFits, none.verdict);
    EXPECT_EQ(2, none.entry);
    EXPECT_TRUE(none.tracks[0].asIs);
    EXPECT_FALSE(none.tracks[1].sizeFits);
    EXPECT_TRUE(none.tracks[2].sizeFits);
}

}  // namespace

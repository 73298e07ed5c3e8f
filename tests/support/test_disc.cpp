#include "test_disc.h"

#include <string.h>

#include <random>
#include <utility>

namespace testing_support {

namespace {
constexpr int64_t kSector = 2352;
}

Disc MakeDisc(const std::vector<Run>& runs, uint32_t seed, int32_t tail) {
    Disc disc;
    disc.sectors = 0;
    std::vector<std::pair<int64_t, int64_t>> ranges;
    std::string tracks;
    std::string entries;
    int number = 0;
    for (size_t r = 0; r < runs.size(); ++r) {
        const Run& run = runs[r];
        const int64_t start = disc.sectors;
        if (run.audio) {
            ranges.emplace_back(start, start + run.sectors);
        }
        ++number;
        // A track after one of the other kind has a pregap: the kind changes at its index 0.
        const bool pregap = r > 0 && runs[r - 1].audio != run.audio && run.sectors > 1;
        const std::string mode = run.audio ? "0" : std::to_string(run.dataMode);
        tracks += "[TRACK " + std::to_string(number) + "]\r\nMODE=" + mode + "\r\n";
        if (pregap) {
            tracks += "INDEX 0=" + std::to_string(start) + "\r\n";
        }
        tracks += "INDEX 1=" + std::to_string(start + (pregap ? 1 : 0)) + "\r\n";
        entries += "[Entry " + std::to_string(number + 2) + "]\r\nSession=1\r\nPoint=0x" +
                   std::to_string(number) + "\r\nADR=0x01\r\nControl=0x0" +
                   (run.audio ? "0" : "4") + "\r\nPLBA=" + std::to_string(start) + "\r\n";
        disc.sectors += run.sectors;
    }
    disc.control = "[CloneCD]\r\nVersion=3\r\n[Disc]\r\nTocEntries=" + std::to_string(number + 3) +
                   "\r\nSessions=1\r\nDataTracksScrambled=0\r\nCDTextLength=0\r\n"
                   "[Session 1]\r\nPreGapMode=1\r\nPreGapSubC=0\r\n" +
                   entries + tracks;
    disc.audio = model::AudioSectorsFromRanges(ranges, disc.sectors);

    std::mt19937_64 random(seed);
    disc.image.resize(static_cast<size_t>(disc.sectors * kSector + tail));
    for (size_t i = 0; i + 8 <= disc.image.size(); i += 8) {
        uint64_t word = random();
        memcpy(&disc.image[i], &word, 8);
    }
    for (size_t i = disc.image.size() / 8 * 8; i < disc.image.size(); ++i) {
        disc.image[i] = static_cast<uint8_t>(random());
    }
    return disc;
}

std::vector<Run> MixedRuns(int64_t sectors) {
    return {{false, 10}, {true, 20}, {false, 10, 2}, {true, sectors - 40}};
}

void WriteDisc(const Disc& disc, const std::string& controlPath, const std::string& imagePath) {
    model::WriteFileBytes(controlPath, model::Bytes(disc.control.begin(), disc.control.end()));
    model::WriteFileBytes(imagePath, disc.image);
}

Disc PlaceDisc(const std::string& folder, const std::string& stem, const std::vector<Run>& runs,
               uint32_t seed, int32_t tail) {
    Disc disc = MakeDisc(runs, seed, tail);
    WriteDisc(disc, folder + "/" + stem + ".ccd", folder + "/" + stem + ".img");
    return disc;
}

model::Bytes Expected(const Disc& disc, int32_t shift) {
    return model::ExpectedImage(disc.image, disc.audio, shift);
}

}  // namespace testing_support

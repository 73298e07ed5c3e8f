// `kestran --accuraterip`, `--checksums` and `--detect` end to end: dumps that the sample-disc
// tool makes with a known offset, responses built from the known-good image's checksums summed
// directly, and every image judged by the image model.
#include <gtest/gtest.h>
#include <stdint.h>

#include <regex>
#include <string>
#include <vector>

#include "image_model.h"
#include "program_run.h"
#include "scratch_dir.h"
#include "test_disc.h"

namespace {

using model::Bytes;
using testing_support::Outcome;
using testing_support::ScratchDir;

constexpr int64_t kSector = 2352;
constexpr int64_t kData = 40, kTracks = 3, kLength = 500, kAudioFirst = kData + 150;

Outcome Start(const std::string& program, std::vector<std::string> args) {
    return testing_support::RunProgram(program, std::move(args));
}

Bytes MakeDisc(const std::string& control, int32_t dumpOffset, int64_t data = kData) {
    Outcome made = Start(SAMPLE_DISC_TOOL_PATH,
                         {"--data", std::to_string(data), "--tracks", std::to_string(kTracks),
                          "--track-length", std::to_string(kLength), "--edge-silence", "2348",
                          "--dump-offset", std::to_string(dumpOffset), control});
    EXPECT_EQ(0, made.status) << made.err;
    return model::ReadFileBytes(control.substr(0, control.size() - 4) + ".img");
}

// v1, v2 and frame 450 of audio track `t` (0-based) of `image`, read `offset` samples later
// (silence outside the audio), summed sample by sample.
std::vector<uint32_t> Checksums(const Bytes& image, int64_t t, int64_t offset) {
    const int64_t first = (kAudioFirst + t * kLength) * 588;
    const int64_t n = kLength * 588;
    const int64_t audioFirst = kData * 588, audioEnd = static_cast<int64_t>(image.size()) / 4;
    auto sample = [&](int64_t i) -> uint64_t {
        i += offset;
        const uint8_t* p = image.data() + 4 * i;
        return i < audioFirst || i >= audioEnd
                   ? 0
                   : p[0] | p[1] << 8 | p[2] << 16 | uint64_t{p[3]} << 24;
    };
    uint32_t v1 = 0, v2 = 0, frame = 0;
    for (int64_t m = 1; m <= n; ++m) {
        const uint64_t product = m * sample(first + m - 1);
        if ((t > 0 || m >= 2940) && (t < kTracks - 1 || m <= n - 2940)) {
            v1 += static_cast<uint32_t>(product);
            v2 += static_cast<uint32_t>(product) + static_cast<uint32_t>(product >> 32);
        }
        if (m <= 588) {
            frame += static_cast<uint32_t>(m * sample(first + 450 * 588 + m - 1));
        }
    }
    return {v1, v2, frame};
}

void Put32(std::string& out, uint32_t value) {
    for (int b = 0; b < 4; ++b) {
        out += static_cast<char>(value >> (8 * b));
    }
}

// One chunk: per track the confidence and the v1 (or v2) of `image` read `offsets[t]` later.
std::string Chunk(const std::string& id, const Bytes& image, std::vector<int64_t> offsets, bool v2,
                  int confidence) {
    std::string chunk(1, static_cast<char>(kTracks));
    for (int part = 0; part < 3; ++part) {
        Put32(chunk, static_cast<uint32_t>(std::stoul(id.substr(9 + 9 * part, 8), nullptr, 16)));
    }
    for (int64_t t = 0; t < kTracks; ++t) {
        const std::vector<uint32_t> sums = Checksums(image, t, offsets[t]);
        chunk += static_cast<char>(confidence);
        Put32(chunk, sums[v2 ? 1 : 0]);
        Put32(chunk, sums[2]);
    }
    return chunk;
}

struct Case {
    const char* name;
    int32_t dumpOffset;  // the dump's audio lies this many samples late
    const char* response;
    int dryStatus;
    int status;
    const char* says;
    int32_t applied;  // the shift that the image must have been given
};

// Find, apply and check, and every refusal, judged by the bytes the model gives.
TEST(AccurateRipCommandTest, FindsAppliesAndRefusesAsTheResponseSays) {
    const Case cases[] = {
        {"late, decoy pressing", 30, "decoy+good", 0, 0, "all 3 audio tracks match", -30},
        {"early, v2 only", -1200, "v2", 0, 0, "shift +1200: the audio moves", 1200},
        {"already right", 0, "good", 0, 0, "already matches the AccurateRip response", 0},
        {"two pressings tie", 30, "good+other", 1, 1, "not certain: shifts -30 and +270", 0},
        {"damaged track", 45, "good", 1, 1, "2 of 3 audio tracks match", -45},
        {"another disc", 30, "wrong id", 1, 1, "the response is for disc 003-", 0},
        {"cut short", 30, "truncated", 1, 1, "cut short: the chunk at byte 0 ends early", 0},
        {"mislabelled", 30, "mislabelled", 1, 1, "mislabelled: the chunk at byte 0 is for", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const Bytes truth = MakeDisc(dir / "truth.ccd", 0);
        Bytes dump = MakeDisc(dir / "disc.ccd", c.dumpOffset);
        const std::string response = c.response;
        if (c.name == std::string("damaged track")) {
            dump[(kAudioFirst + 2 * kLength + 100) * kSector + 7] ^= 0x40;  // track 4
            model::WriteFileBytes(dir / "disc.img", dump);
        }
        Outcome sums = Start(KESTRAN_CLI_PATH, {"--checksums", dir / "truth.ccd"});
        std::smatch found;
        ASSERT_TRUE(std::regex_search(sums.out, found, std::regex("id (\\d{3}(-[0-9a-f]{8}){3})")));
        std::string id = "dBAR-" + found[1].str() + ".bin";
        std::string bytes = Chunk(id, truth, {0, 0, 0}, response == "v2", 7);
        if (response == "decoy+good") {
            bytes = Chunk(id, truth, {-300, 11, 12}, false, 200) + bytes;
        } else if (response == "good+other") {
            bytes += Chunk(id, truth, {-300, -300, -300}, false, 3);
        } else if (response == "wrong id") {
            id[16] = id[16] == '0' ? '1' : '0';
            bytes = Chunk(id, truth, {0, 0, 0}, false, 7);
        } else if (response == "truncated") {
            bytes.resize(bytes.size() - 4);
        } else if (response == "mislabelled") {
            bytes[3] ^= 1;
        }
        testing_support::WriteText(dir / id, bytes);
        const Bytes expected =
            model::ExpectedImage(dump,
                                 model::AudioSectorsFromRanges({{kData, truth.size() / kSector}},
                                                               truth.size() / kSector),
                                 c.applied);
        std::string said;
        for (bool dryRun : {true, false}) {
            std::vector<std::string> args = {"--accuraterip", dir / id, dir / "disc.ccd"};
            if (dryRun) {
                args.insert(args.begin(), "-n");
            }
            Outcome outcome = Start(KESTRAN_CLI_PATH, args);
            said += outcome.out + outcome.err;
            EXPECT_EQ(dryRun ? c.dryStatus : c.status, outcome.status)
                << outcome.out << outcome.err;
            EXPECT_TRUE(model::ReadFileBytes(dir / "disc.img") == (dryRun ? dump : expected));
            EXPECT_EQ(!dryRun && c.applied != 0, testing_support::Exists(dir / "disc.old"));
        }
        EXPECT_NE(std::string::npos, said.find(c.says)) << said;
        if (c.applied != 0 && c.status == 0) {
            EXPECT_TRUE(expected == truth);
        }
    }
}

// What the image itself shows of the offset it was dumped with, on dumps of a known offset.
TEST(AccurateRipCommandTest, DetectNamesTheDumpOffset) {
    const struct {
        int32_t dumpOffset;
        int64_t data;
        std::vector<std::string> says;
    } cases[] = {
        {30,
         kData,
         {"track 2 begins with the last 120 bytes", "shifts -31 to -30 leave the 1",
          "they agree: shift -30:"}},
        {700, kData, {"last 2800 bytes", "its header sector 39: shift -700", "agree: shift -700"}},
        {-45,
         kData,
         {"does not begin with its scrambled tail", "shifts +44 to +2348", "only the pregaps"}},
        {0, 0, {"nothing: no data track before the audio"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dumpOffset);
        ScratchDir dir;
        const Bytes dump = MakeDisc(dir / "disc.ccd", c.dumpOffset, c.data);
        Outcome detected = Start(KESTRAN_CLI_PATH, {"--detect", dir / "disc.ccd"});
        EXPECT_EQ(0, detected.status) << detected.err;
        for (const std::string& line : c.says) {
            EXPECT_NE(std::string::npos, detected.out.find(line)) << line << "\n" << detected.out;
        }
        EXPECT_TRUE(model::ReadFileBytes(dir / "disc.img") == dump);
        EXPECT_EQ((std::vector<std::string>{"disc.ccd", "disc.img"}), dir.Names());
    }
}

// The vectors of the signal disc, as --checksums prints them.
TEST(AccurateRipCommandTest, ChecksumsPrintsTheSignalDiscsVectors) {
    ScratchDir dir;
    const std::string control = testing_support::PlaceSignalDisc(dir.path());
    Outcome sums = Start(KESTRAN_CLI_PATH, {"--checksums", control});
    EXPECT_EQ(0, sums.status) << sums.err;
    for (const char* line : {"    1  audio       600  ", "  e6cfad25  2749c78b  2810bfe3\n",
                             "    2  audio       700  ", "  c3d8e902  9e225062  2c775cd4\n",
                             "    3  audio       800  ", "  b7cb77ba  7181354c  aef2336d\n"}) {
        EXPECT_NE(std::string::npos, sums.out.find(line)) << line << "\n" << sums.out;
    }
}

// The disc id leaves a data track before the audio out, and counts the real lead-out of a disc
// whose data track follows in a second session (ids worked out by hand from the tracks' starts).
TEST(AccurateRipCommandTest, ChecksumsNamesTheDiscIdOfMixedDiscs) {
    const std::pair<const char*, const char*> cases[] = {
        {"--data", "003-00003840-0000a9ec-0e004e04"},      // data 0, audio at 1350, 2850, 4350
        {"--cd-extra", "003-00005460-00013a11-1300e404"},  // audio at 0, 1500, 3000, data 15900
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        std::vector<std::string> args = {"--data", "1200", dir / "disc.ccd"};
        if (c.first != std::string("--data")) {
            args.insert(args.begin(), c.first);
        }
        ASSERT_EQ(0, Start(SAMPLE_DISC_TOOL_PATH, args).status);
        Outcome sums = Start(KESTRAN_CLI_PATH, {"--checksums", dir / "disc.ccd"});
        EXPECT_NE(std::string::npos, sums.out.find(std::string("disc id ") + c.second)) << sums.out;
        EXPECT_NE(std::string::npos, sums.out.find(std::string("dBAR-") + c.second + ".bin"));
    }
}

}  // namespace

// `kestran --dat` and `kestran --hash` end to end: known-good sample discs hashed directly into
// DAT files, dumps made from them by the image model, and every result judged by the model.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cue_set.h"
#include "hash_check.h"
#include "image_model.h"
#include "program_run.h"
#include "scratch_dir.h"

namespace {

using model::Bytes;
using testing_support::Exists;
using testing_support::ScratchDir;

constexpr int64_t kSector = 2352;
constexpr int64_t kPregap = 150;

using testing_support::Outcome;

std::string ReadText(const std::string& path) {
    const Bytes bytes = model::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

Outcome Kestran(std::vector<std::string> args) {
    return testing_support::RunProgram(KESTRAN_CLI_PATH, std::move(args));
}

// A known-good disc from the sample-disc tool, with its track files as DAT files cut them.
struct Sample {
    std::string control;
    std::string image;
    Bytes truth;
    std::vector<std::pair<int64_t, int64_t>> tracks;  // bytes [first, end)
    std::vector<bool> audio;                          // which sectors are audio
};

// With `sessions` "--cd-extra", the audio tracks come first and the data track follows in a second
// session; with "--audio-session" the audio tracks follow in a second session;
// whose gap the image leaves out.
Sample MakeSample(const ScratchDir& dir, const std::string& stem, int64_t data, int64_t tracks,
                  int64_t length, int32_t edgeSilence = 2348, const std::string& sessions = "") {
    const bool cdExtra = sessions == "--cd-extra";
    Sample sample;
    sample.control = dir / (stem + ".ccd");
    sample.image = dir / (stem + ".img");
    std::vector<std::string> args = {
        "--data",         std::to_string(data),   "--tracks",       std::to_string(tracks),
        "--track-length", std::to_string(length), "--edge-silence", std::to_string(edgeSilence),
        sample.control};
    if (!sessions.empty()) {
        args.insert(args.begin(), sessions);
    }
    Outcome made = testing_support::RunProgram(SAMPLE_DISC_TOOL_PATH, args);
    EXPECT_EQ(0, made.status) << made.err;
    sample.truth = model::ReadFileBytes(sample.image);
    // Data first: track 1, and the first audio track after it has a pregap.
    const int64_t audioFirst = cdExtra ? 0 : data;
    int64_t sector = audioFirst;
    if (data > 0 && !cdExtra) {
        sample.tracks.push_back({0, data * kSector});
    }
    for (int64_t t = 0; t < tracks; ++t) {
        // The pregap of an audio session lies in the gap, which the image leaves out.
        int64_t end =
            sector + length + (t == 0 && audioFirst > 0 && sessions.empty() ? kPregap : 0);
        sample.tracks.push_back({sector * kSector, end * kSector});
        sector = end;
    }
    const int64_t audioEnd = sector;
    if (cdExtra) {
        sample.tracks.push_back({sector * kSector, (sector + data) * kSector});
        sector += data;
    }
    EXPECT_EQ(static_cast<size_t>(sector * kSector), sample.truth.size());
    sample.audio = model::AudioSectorsFromRanges({{audioFirst, audioEnd}}, sector);
    return sample;
}

// The DAT entry of `bytes` cut as `sample`'s tracks, hashed directly.
std::string Entry(const std::string& name, const Sample& sample, const Bytes& bytes) {
    std::string text = "\t<game name=\"" + name + "\">\n\t\t<rom name=\"" + name +
                       ".cue\" size=\"100\" crc=\"00000000\"/>\n";
    for (size_t t = 0; t < sample.tracks.size(); ++t) {
        const auto& track = sample.tracks[t];
        text += "\t\t" +
                hash_check::RomLine(name + " (Track " + std::to_string(t + 1) + ").bin",
                                    track.second - track.first,
                                    hash_check::HashesOf(bytes, track.first, track.second)) +
                "\n";
    }
    return text + "\t</game>\n";
}

// An entry with the sample's track sizes and made-up hashes.
std::string Decoy(const std::string& name, const Sample& sample, std::mt19937& random) {
    Bytes noise = testing_support::RandomBytes(random, sample.truth.size());
    return Entry(name, sample, noise);
}

std::string WriteDat(const ScratchDir& dir, const std::string& entries) {
    std::string path = dir / "discs.dat";
    testing_support::WriteText(path,
                               "<?xml version=\"1.0\"?>\n<datafile>\n" + entries + "</datafile>\n");
    return path;
}

std::string Direction(int32_t shift) {
    int32_t samples = shift < 0 ? -shift : shift;
    return (shift > 0 ? "+" : "") + std::to_string(shift) + ": the audio moves " +
           std::to_string(samples) + (samples == 1 ? " sample" : " samples") + " toward the " +
           (shift < 0 ? "start" : "end");
}

struct ShiftCase {
    const char* name;
    int64_t data;
    int64_t tracks;
    int64_t length;
    int32_t shift;  // the shift that corrects the dump
    bool cdExtra = false;
};

void PrintTo(const ShiftCase& c, std::ostream* out) {
    *out << c.name;
}

class DatShiftTest : public testing::TestWithParam<ShiftCase> {};

// The dump is the known-good image shifted the other way: kestran must find the shift, touch
// nothing with -n, and without it give back the known-good image byte for byte.
TEST_P(DatShiftTest, FindsAppliesAndChecksTheShift) {
    const ShiftCase& c = GetParam();
    ScratchDir dir;
    Sample sample =
        MakeSample(dir, "disc", c.data, c.tracks, c.length, 2348, c.cdExtra ? "--cd-extra" : "");
    std::mt19937 random(static_cast<uint32_t>(c.shift + 5000));
    const std::string dat = WriteDat(dir, Decoy("Same Sizes", sample, random) +
                                              Entry("Known Good (Europe)", sample, sample.truth));
    const Bytes dump = model::ExpectedImage(sample.truth, sample.audio, -c.shift);
    ASSERT_NE(dump, sample.truth);
    model::WriteFileBytes(sample.image, dump);

    Outcome dry = Kestran({"--dat", dat, "-n", sample.control});
    EXPECT_EQ(0, dry.status) << dry.out << dry.err;
    EXPECT_NE(std::string::npos, dry.out.find("Known Good (Europe)")) << dry.out;
    EXPECT_NE(std::string::npos, dry.out.find("shift " + Direction(c.shift))) << dry.out;
    EXPECT_EQ(dump, model::ReadFileBytes(sample.image));
    EXPECT_FALSE(Exists(dir / "disc.old"));

    Outcome applied = Kestran({"--dat", dat, sample.control});
    EXPECT_EQ(0, applied.status) << applied.out << applied.err;
    const Bytes result = model::ReadFileBytes(sample.image);
    EXPECT_TRUE(result == model::ExpectedImage(dump, sample.audio, c.shift));
    EXPECT_TRUE(result == sample.truth);
    EXPECT_TRUE(model::ReadFileBytes(dir / "disc.old") == dump);
    EXPECT_NE(std::string::npos, applied.out.find("all " + std::to_string(sample.tracks.size()) +
                                                  " tracks match Known Good (Europe)"))
        << applied.out;

    // Checked again, with the backup in place, the image needs nothing.
    Outcome again = Kestran({"--dat", dat, sample.control});
    EXPECT_EQ(0, again.status) << again.out << again.err;
    EXPECT_NE(std::string::npos, again.out.find("already matches Known Good (Europe)"))
        << again.out;
}

const ShiftCase kShiftCases[] = {
    {"mixed, -30", 60, 3, 40, -30},
    {"mixed, +30", 60, 3, 40, 30},
    {"mixed, -2348", 60, 3, 40, -2348},
    {"mixed, +2348", 60, 3, 40, 2348},
    {"audio only, -588", 0, 4, 30, -588},
    {"audio only, +2348", 0, 4, 30, 2348},
    {"98 audio tracks, +1234", 30, 98, 6, 1234},
    {"one sample", 20, 2, 20, 1},
    {"CD-Extra, data in a second session, -2000", 50, 3, 30, -2000, true},
};

INSTANTIATE_TEST_SUITE_P(Dumps, DatShiftTest, testing::ValuesIn(kShiftCases),
                         [](const testing::TestParamInfo<ShiftCase>& info) {
                             return "Case" + std::to_string(info.index);
                         });

TEST(DatCommandTest, FindsTheEntryAmongThousandsOfDecoys) {
    ScratchDir dir;
    Sample sample = MakeSample(dir, "disc", 50, 3, 30);
    std::mt19937 random(7);
    std::string entries;
    for (int i = 0; i < 3000; ++i) {
        const std::string name = "Decoy " + std::to_string(i);
        if (i % 100 == 0) {
            entries += Decoy(name, sample, random);  // the same sizes, other hashes
        } else {
            entries += "\t<game name=\"" + name + "\"><rom name=\"" + name + ".bin\" size=\"" +
                       std::to_string(kSector * (1 + i)) + "\" crc=\"" +
                       std::to_string(10000000 + i) + "\"/></game>\n";
        }
        if (i == 2000) {
            entries += Entry("The One", sample, sample.truth);
        }
    }
    const std::string dat = WriteDat(dir, entries);
    const Bytes dump = model::ExpectedImage(sample.truth, sample.audio, 700);
    model::WriteFileBytes(sample.image, dump);

    Outcome applied = Kestran({"--dat", dat, sample.control});
    EXPECT_EQ(0, applied.status) << applied.out << applied.err;
    EXPECT_NE(std::string::npos, applied.out.find("shift " + Direction(-700))) << applied.out;
    EXPECT_NE(std::string::npos, applied.out.find("all 4 tracks match The One")) << applied.out;
    EXPECT_TRUE(model::ReadFileBytes(sample.image) == sample.truth);
}

// Whatever kestran cannot be sure of, it says, and leaves every file as it was.
TEST(DatCommandTest, LeavesWhatItCannotBeSureOfUntouched) {
    struct Case {
        const char* name;
        int status;  // with and without -n alike
        const char* says;
    };
    const Case cases[] = {
        {"already matches", 0, "already matches Disc"},
        {"no audio track matches", 1, "no shift from -2348 to 2348 makes any audio track match"},
        {"only silence matches", 1, "not certain"},
        {"no entry fits", 1, "no entry of the DAT has its track sizes and data tracks"},
        {"shift 0 best, a track damaged", 1, "best as it is, yet track 3 differs"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        Sample sample = MakeSample(dir, "disc", 40, 3, 30);
        const std::string name = c.name;
        Bytes known = sample.truth;
        Bytes dump = model::ExpectedImage(sample.truth, sample.audio, 45);
        if (name == "already matches") {
            dump = known;
        } else if (name == "no audio track matches") {
            // Another disc with the same data track and other audio.
            for (int64_t i = 40 * kSector; i < static_cast<int64_t>(known.size()); ++i) {
                known[i] ^= 0x5A;
            }
        } else if (name == "only silence matches") {
            // Track 2 is silence; tracks 3 and 4 of the dump are damaged.
            std::fill(known.begin() + 40 * kSector, known.begin() + 220 * kSector, 0);
            dump = model::ExpectedImage(known, sample.audio, 45);
            dump[240 * kSector] ^= 1;
            dump[260 * kSector] ^= 1;
        } else if (name == "no entry fits") {
            known[100] ^= 1;  // the data track differs
        } else {
            dump = known;
            dump[240 * kSector] ^= 1;
        }
        const std::string dat = WriteDat(dir, Entry("Disc", sample, known));
        model::WriteFileBytes(sample.image, dump);
        for (bool dryRun : {true, false}) {
            std::vector<std::string> args = {"--dat", dat, sample.control};
            if (dryRun) {
                args.insert(args.begin(), "-n");
            }
            Outcome outcome = Kestran(args);
            EXPECT_EQ(c.status, outcome.status) << outcome.out << outcome.err;
            EXPECT_NE(std::string::npos, (outcome.out + outcome.err).find(c.says))
                << outcome.out << outcome.err;
            EXPECT_TRUE(model::ReadFileBytes(sample.image) == dump);
            EXPECT_EQ((std::vector<std::string>{"disc.ccd", "disc.img", "discs.dat"}), dir.Names());
        }
    }
}

// A damaged track cannot match, but the others still show the shift: it is applied and the
// damaged track named.
TEST(DatCommandTest, AppliesTheShiftAndNamesADamagedTrack) {
    ScratchDir dir;
    Sample sample = MakeSample(dir, "disc", 40, 3, 30);
    // A name of any length is shown cut.
    const std::string name = "Disc " + std::string(100000, 'x');
    const std::string shown = "Disc " + std::string(195, 'x') + "...";
    const std::string dat = WriteDat(dir, Entry(name, sample, sample.truth));
    Bytes dump = model::ExpectedImage(sample.truth, sample.audio, 30);
    dump[230 * kSector + 77] ^= 0xFF;  // track 3
    model::WriteFileBytes(sample.image, dump);

    // -n ends as the apply does.
    Outcome dry = Kestran({"--dat", dat, "-n", sample.control});
    EXPECT_EQ(1, dry.status) << dry.out << dry.err;
    EXPECT_NE(std::string::npos, dry.out.find("2 of 3 audio tracks match")) << dry.out;
    EXPECT_EQ("kestran: " + sample.control + ": track 3 would still differ from " + shown + "\n",
              dry.err);

    Outcome applied = Kestran({"--dat", dat, sample.control});
    EXPECT_EQ(1, applied.status) << applied.out << applied.err;
    EXPECT_NE(std::string::npos,
              applied.err.find("3 of 4 tracks match " + shown + "; track 3 still differs"))
        << applied.err;
    EXPECT_LT(applied.out.size() + applied.err.size(), 4000u);
    EXPECT_TRUE(model::ReadFileBytes(sample.image) ==
                model::ExpectedImage(dump, sample.audio, -30));
    EXPECT_TRUE(model::ReadFileBytes(dir / "disc.old") == dump);
}

// A cancel between two images ends the command, saying so; a check after the apply that cannot
// read the image is a failure, and says that the image was shifted. Each run is held in its first
// write of stdout, on a pipe that the test has filled, while the test acts.
TEST(DatCommandTest, ACancelOrAFailedCheckIsSaid) {
    ScratchDir dir;
    Sample sample = MakeSample(dir, "disc", 40, 2, 30);
    const std::string dat = WriteDat(dir, Entry("Disc", sample, sample.truth));
    const Bytes dump = model::ExpectedImage(sample.truth, sample.audio, 30);
    model::WriteFileBytes(sample.image, dump);

    using testing_support::ReadAll;
    int out = -1;
    int err = -1;
    pid_t pid = testing_support::StartHeldAtOutput(
        KESTRAN_CLI_PATH, {"--dat", dat, "-n", sample.control, sample.control}, &out, &err);
    EXPECT_TRUE(testing_support::WaitUntilAsleep(pid, [] { return true; }));
    kill(pid, SIGINT);
    std::string printed = ReadAll(out);
    EXPECT_EQ("kestran: " + sample.control + ": cancelled; nothing was changed\n", ReadAll(err));
    EXPECT_EQ(130, testing_support::ExitStatus(pid)) << printed;
    EXPECT_EQ(printed.find("shift -30"), printed.rfind("shift -30")) << printed;

    pid = testing_support::StartHeldAtOutput(KESTRAN_CLI_PATH, {"--dat", dat, sample.control}, &out,
                                             &err);
    EXPECT_TRUE(testing_support::WaitUntilAsleep(pid, [&] { return Exists(dir / "disc.old"); }));
    ASSERT_EQ(0, unlink(sample.image.c_str()));
    printed = ReadAll(out);
    EXPECT_EQ("kestran: " + sample.control + ": cannot open " + sample.image +
                  " (No such file or directory); it was shifted but cannot be checked; the "
                  "original is kept as " +
                  (dir / "disc.old") + "\n",
              ReadAll(err));
    EXPECT_EQ(1, testing_support::ExitStatus(pid)) << printed;
    EXPECT_TRUE(model::ReadFileBytes(dir / "disc.old") == dump);
}

// Without silence at the end of the disc, the dump lost bytes that the shift cannot bring back:
// the last track is applied, found to differ, and why is said.
TEST(DatCommandTest, SaysWhyTheLastTrackDiffersAtTheLeadOut) {
    ScratchDir dir;
    Sample sample = MakeSample(dir, "disc", 40, 3, 30, 0);
    const std::string dat = WriteDat(dir, Entry("Disc", sample, sample.truth));
    const Bytes dump = model::ExpectedImage(sample.truth, sample.audio, 30);
    model::WriteFileBytes(sample.image, dump);

    Outcome applied = Kestran({"--dat", dat, sample.control});
    EXPECT_EQ(1, applied.status) << applied.out << applied.err;
    EXPECT_NE(std::string::npos, applied.err.find("track 4 still differs")) << applied.err;
    EXPECT_NE(std::string::npos,
              applied.err.find("track 4: its last 120 bytes are silence after the shift, where "
                               "the disc holds bytes of the lead-out"))
        << applied.err;
    EXPECT_TRUE(model::ReadFileBytes(sample.image) ==
                model::ExpectedImage(dump, sample.audio, -30));
}

// An audio session after the data track: with silence at its edges the dump is put right; without,
// the track that opens the session misses bytes of the gap between the sessions, and says so.
TEST(DatCommandTest, AnAudioSessionNamesTheGapBeforeIt) {
    for (int32_t silence : {2348, 0}) {
        ScratchDir dir;
        Sample sample = MakeSample(dir, "disc", 40, 2, 30, silence, "--audio-session");
        const std::string dat = WriteDat(dir, Entry("Disc", sample, sample.truth));
        const Bytes dump = model::ExpectedImage(sample.truth, sample.audio, -30);
        model::WriteFileBytes(sample.image, dump);
        Outcome applied = Kestran({"--dat", dat, sample.control});
        EXPECT_EQ(silence == 0 ? 1 : 0, applied.status) << applied.out << applied.err;
        EXPECT_EQ(silence == 0, applied.err.find("track 2: its first 120 bytes are silence after "
                                                 "the shift, where the disc holds bytes of the "
                                                 "gap between the sessions") != std::string::npos)
            << applied.err;
        EXPECT_TRUE(model::ReadFileBytes(sample.image) ==
                    model::ExpectedImage(dump, sample.audio, 30));
    }
}

// --hash prints what the DAT would say: each rom checked against the model's bytes hashed
// directly, and the output read back as a DAT matches the image.
TEST(DatCommandTest, HashPrintsEntriesThatMatchBack) {
    ScratchDir dir;
    Sample sample = MakeSample(dir, "Tom & \"Jerry\" <1>", 30, 2, 20);
    Outcome hashed = Kestran({"--hash", sample.control});
    ASSERT_EQ(0, hashed.status) << hashed.err;
    const std::string name = "Tom &amp; &quot;Jerry&quot; &lt;1&gt;";
    EXPECT_NE(std::string::npos, hashed.out.find("<game name=\"" + name + "\">")) << hashed.out;
    for (size_t t = 0; t < sample.tracks.size(); ++t) {
        const auto& track = sample.tracks[t];
        char number[24];
        snprintf(number, sizeof(number), "%02zu", t + 1);
        std::string rom =
            hash_check::RomLine(name + " (Track " + number + ").bin", track.second - track.first,
                                hash_check::HashesOf(sample.truth, track.first, track.second));
        EXPECT_NE(std::string::npos, hashed.out.find(rom)) << rom << "\n" << hashed.out;
    }
    testing_support::WriteText(dir / "mine.dat", hashed.out);
    Outcome checked = Kestran({"--dat", dir / "mine.dat", sample.control});
    EXPECT_EQ(0, checked.status) << checked.out << checked.err;
    EXPECT_NE(std::string::npos, checked.out.find("already matches Tom & \"Jerry\" <1>"))
        << checked.out;
}

// Whichever files hold a BIN/CUE set, --hash gives the track files of a split set, and --dat
// finds the set matching its own entry.
TEST(DatCommandTest, HashesEveryLayoutOfASetAsItsSplitFiles) {
    using testing_support::CueLayout;
    const std::vector<testing_support::CueTrack> tracks = {
        {false, 40}, {true, 20}, {true, 25, 5}, {false, 10, 0, 2}};
    for (CueLayout layout : {CueLayout::Split, CueLayout::SingleFile, CueLayout::GapsAppended}) {
        ScratchDir dir;
        testing_support::CueSet set =
            testing_support::PlaceCueSet(dir.path(), "disc", tracks, layout, 3);
        Outcome hashed = Kestran({"--hash", dir / "disc.cue"});
        ASSERT_EQ(0, hashed.status) << hashed.err;
        int64_t first = 0;
        for (size_t t = 0; t < tracks.size(); ++t) {
            const int64_t end = first + tracks[t].sectors * kSector;
            std::string rom =
                hash_check::RomLine("disc (Track 0" + std::to_string(t + 1) + ").bin", end - first,
                                    hash_check::HashesOf(set.stream, first, end));
            EXPECT_NE(std::string::npos, hashed.out.find(rom)) << rom << "\n" << hashed.out;
            first = end;
        }
        testing_support::WriteText(dir / "mine.dat", hashed.out);
        Outcome checked = Kestran({"--dat", dir / "mine.dat", dir / "disc.cue"});
        EXPECT_EQ(0, checked.status) << checked.out << checked.err;
        EXPECT_NE(std::string::npos, checked.out.find("already matches disc")) << checked.out;
    }
}

TEST(DatCommandTest, RefusesBadDatsBackupsAndUsage) {
    ScratchDir dir;
    Sample sample = MakeSample(dir, "disc", 40, 2, 30);
    const Bytes dump = model::ExpectedImage(sample.truth, sample.audio, 30);
    model::WriteFileBytes(sample.image, dump);
    testing_support::WriteText(
        dir / "broken.dat", "<datafile>\n<game name=\"x\">\n<rom name=\"x.bin\"/>\n</datafile>\n");
    testing_support::WriteText(
        dir / "good.dat", "<datafile>\n" + Entry("Disc", sample, sample.truth) + "</datafile>\n");
    testing_support::WriteText(dir / "disc.old", "taken");
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {{"--dat", dir / "broken.dat", sample.control}, 1, "not well-formed XML at line 4"},
        {{"--dat", dir / "none.dat", sample.control}, 1, "none.dat: cannot open it"},
        {{"--dat", dir / "good.dat", sample.control}, 1, "disc.old already exists"},
        {{sample.control, "--dat"}, 2, "missing DAT file after --dat"},
        {{"--dat", dir / "good.dat", "-o", "30", sample.control}, 2, "finds the shift itself"},
        {{"--dat", dir / "good.dat"}, 2, "no control file given"},
        {{"--hash", "--dat", dir / "good.dat", sample.control}, 2, "do not go together"},
    };
    for (const Case& c : cases) {
        Outcome outcome = Kestran(c.args);
        EXPECT_EQ(c.status, outcome.status) << c.says << outcome.err;
        EXPECT_NE(std::string::npos, outcome.err.find(c.says)) << outcome.err;
        EXPECT_TRUE(model::ReadFileBytes(sample.image) == dump) << c.says;
        EXPECT_EQ("taken", ReadText(dir / "disc.old"));
    }
    // A FIFO is refused without waiting for a writer.
    ASSERT_EQ(0, mkfifo((dir / "fifo.dat").c_str(), 0600));
    Outcome fifo = Kestran({"--dat", dir / "fifo.dat", sample.control});
    EXPECT_EQ(1, fifo.status);
    EXPECT_EQ("kestran: " + dir / "fifo.dat" + ": not a regular file; nothing changed\n", fifo.err);

    // What an unfinished job left is neither hashed nor checked.
    ASSERT_EQ(0, rename(sample.image.c_str(), (dir / "disc.old").c_str()));
    model::WriteFileBytes(sample.image, Bytes(dump.begin(), dump.begin() + 24 * kSector));
    for (const char* command : {"--hash", "--dat"}) {
        std::vector<std::string> args = {command, sample.control};
        if (command == std::string("--dat")) {
            args.insert(args.begin() + 1, dir / "good.dat");
        }
        Outcome unfinished = Kestran(args);
        EXPECT_EQ(1, unfinished.status) << command;
        EXPECT_EQ(std::string::npos, unfinished.out.find("<game")) << command;
        EXPECT_EQ("kestran: a previous job did not finish: " + sample.image + " holds 24 of " +
                      std::to_string(dump.size() / kSector) + " sectors, the original is " +
                      (dir / "disc.old") + "; put it back with kestran --undo " + sample.control +
                      "\n",
                  unfinished.err)
            << command;
    }
    EXPECT_TRUE(model::ReadFileBytes(dir / "disc.old") == dump);
    ASSERT_EQ(0, rename((dir / "disc.old").c_str(), sample.image.c_str()));
    testing_support::WriteText(dir / "disc.old", "taken");

    Outcome help = Kestran({"--dat", dir / "good.dat", "--help"});
    EXPECT_EQ(0, help.status);
    EXPECT_NE(std::string::npos, help.out.find("kestran --dat FILE.dat")) << help.out;

    // With -n the backup does not matter: nothing is to be written.
    Outcome dry = Kestran({"--dat=" + dir / "good.dat", "-n", sample.control});
    EXPECT_EQ(0, dry.status) << dry.out << dry.err;
    EXPECT_NE(std::string::npos, dry.out.find("shift " + Direction(-30))) << dry.out;
}

}  // namespace

// A collection checked and corrected in one run: `--dat -r --json` over a tree of nested
// folders, upper-case names, a link loop and a folder that cannot be read, one image for each
// verdict. Every JSON line, the order, the summary and the exit status are checked, and every
// image against the model afterwards.
TEST(DatCommandTest, ChecksAndCorrectsACollection) {
    struct Row {
        const char* path;
        const char* verdict;
        int shift;  // the shift applied to the image, or 0 when it must stay as it was
    };
    // In sorted path order, as the lines must come; no "cancelled", which takes a Ctrl-C.
    const Row rows[] = {
        {"Matches.ccd", "matches", 0},
        {"a/SHIFTED.CCD", "shifted", -30},
        {"a/b/failed.ccd", "failed", -30},
        {"c/damaged.ccd", "damaged", 0},
        {"c/no-entry.ccd", "no-entry", 0},
        {"c/no-match.ccd", "no-match", 0},
        {"c/not-certain.ccd", "not-certain", 0},
        {"c/refused.ccd", "refused", 0},
        {"locked", "failed", 0},
    };
    ScratchDir dir;
    const std::string root = dir / "ARCHIVE";
    auto ImageOf = [](const std::string& control) {
        return control.substr(0, control.size() - 4) + (control.back() == 'D' ? ".IMG" : ".img");
    };
    std::vector<Bytes> dumps;
    Sample sample;
    Bytes silent;
    for (const Row& row : rows) {
        const std::string path = row.path;
        const std::string folder = root + "/" + path.substr(0, path.find_last_of('/') + 1);
        ASSERT_EQ(0, system(("mkdir -p '" + folder + "'").c_str()));
        sample = MakeSample(dir, "disc", 40, 3, 30);
        silent = sample.truth;  // track 2 silence: every shift alike
        std::fill(silent.begin() + 40 * kSector, silent.begin() + 220 * kSector, 0);
        Bytes dump = model::ExpectedImage(sample.truth, sample.audio, 30);
        const std::string verdict = row.verdict;
        if (verdict == "matches") {
            dump = sample.truth;
        } else if (verdict == "failed") {
            dump[230 * kSector + 77] ^= 0xFF;  // track 3 damaged
        } else if (verdict == "damaged") {
            dump.resize(10 * kSector);
        } else if (verdict == "no-entry") {
            dump[100] ^= 1;  // the data track differs
        } else if (verdict == "no-match") {
            for (size_t i = 40 * kSector; i < dump.size(); ++i) {
                dump[i] ^= 0x5A;
            }
        } else if (verdict == "not-certain") {
            dump = model::ExpectedImage(silent, sample.audio, 30);
            dump[240 * kSector] ^= 1;
            dump[260 * kSector] ^= 1;
        } else if (verdict == "refused") {
            testing_support::WriteText(root + "/c/refused.old", "earlier");
        }
        dumps.push_back(dump);
        if (path == "locked") {
            continue;
        }
        rename(sample.control.c_str(), (root + "/" + path).c_str());
        model::WriteFileBytes(ImageOf(root + "/" + path), dump);
    }
    const std::string dat =
        WriteDat(dir, Entry("Disc", sample, sample.truth) + Entry("Silent", sample, silent));
    testing_support::WriteText(root + "/a/notes.txt", "not a control file");
    // Beside a control file of its name, a cue sheet is the same image: not taken again.
    testing_support::WriteText(root + "/a/SHIFTED.cue", "FILE \"SHIFTED.IMG\" BINARY\n");
    ASSERT_EQ(0, system(("mkdir '" + root + "/locked'").c_str()));
    testing_support::WriteText(root + "/locked/hidden.ccd", "");
    ASSERT_EQ(0, symlink("../..", (root + "/a/b/loop").c_str()));
    chmod((root + "/locked").c_str(), 0);
    // Root reads any folder: the run is then made as nobody, who owns the tree.
    testing_support::RunSetup setup;
    setup.unprivileged = true;
    ASSERT_EQ(0, system(("chown -R 65534 '" + dir.path() + "' 2>/dev/null || true").c_str()));

    Outcome run = testing_support::RunProgram(KESTRAN_CLI_PATH,
                                              {"--dat", dat, "-r", "--json", root + "/"}, setup);
    chmod((root + "/locked").c_str(), 0755);
    EXPECT_EQ(1, run.status) << run.err;
    std::istringstream lines(run.out);
    std::string line;
    for (size_t r = 0; r < std::size(rows); ++r) {
        SCOPED_TRACE(rows[r].path);
        ASSERT_TRUE(std::getline(lines, line));
        const nlohmann::json json = nlohmann::json::parse(line);
        EXPECT_EQ(root + "/" + rows[r].path, json["image"]);
        EXPECT_EQ(rows[r].verdict, json["verdict"]) << line;
        const std::string verdict = rows[r].verdict;
        EXPECT_EQ(verdict == "matches" || verdict == "shifted", json["reason"].is_null()) << line;
        if (rows[r].shift != 0) {
            EXPECT_EQ(rows[r].shift, json["shift"]);
            EXPECT_EQ("Disc", json["entry"]);
            ASSERT_EQ(4u, json["tracks"].size());
            for (const nlohmann::json& track : json["tracks"]) {
                EXPECT_EQ(track["number"] != 3 || verdict == "shifted", track["matches"]);
            }
        }
        if (verdict != "failed" || rows[r].shift != 0) {
            const std::string image = ImageOf(root + "/" + rows[r].path);
            EXPECT_TRUE(model::ReadFileBytes(image) ==
                        (rows[r].shift == 0
                             ? dumps[r]
                             : model::ExpectedImage(dumps[r], sample.audio, rows[r].shift)));
        }
    }
    EXPECT_FALSE(std::getline(lines, line)) << line;
    EXPECT_NE(std::string::npos,
              run.err.find("9 images: 1 matches, 1 shifted, 1 not-certain, 1 "
                           "no-match, 1 no-entry, 1 damaged, 1 refused, 2 failed"))
        << run.err;
}

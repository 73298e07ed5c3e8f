// BIN/CUE sets shifted by the job: every file as the image model's shift of the stream of the
// files gives it when cut at the same places; data files never touched; refusals touch nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "cue_set.h"
#include "fake_host.h"
#include "scratch_dir.h"
#include "shift_job.h"
#include "undo_job.h"

namespace {

using model::Bytes;
using testing_support::CueLayout;
using testing_support::CueSet;
using testing_support::CueTrack;
using testing_support::ScratchDir;

// Bytes, inode and modification time of every name in the folder.
using FileState = std::tuple<Bytes, ino_t, int64_t>;
std::map<std::string, FileState> Snapshot(const ScratchDir& dir) {
    std::map<std::string, FileState> files;
    for (const auto& name : dir.Names()) {
        struct stat info = {};
        stat((dir / name).c_str(), &info);
        files[name] = {model::ReadFileBytes(dir / name), info.st_ino,
                       info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec};
    }
    return files;
}

bool HoldsAudio(const CueSet& set, size_t file) {
    const auto& sectors = set.fileSectors[file];
    return std::any_of(set.runs.begin(), set.runs.end(), [&](const auto& run) {
        return run.first < sectors.second && sectors.first < run.second;
    });
}

struct SetCase {
    const char* name;
    std::vector<CueTrack> tracks;
    CueLayout layout;
};

const std::vector<CueTrack> kMixed = {{false, 300}, {true, 100}, {true, 100, 30}, {true, 90, 30}};

const SetCase kSets[] = {
    {"redump split set, data first", kMixed, CueLayout::Split},
    {"single file", kMixed, CueLayout::SingleFile},
    {"gaps appended", kMixed, CueLayout::GapsAppended},
    {"CD-Extra", {{true, 100}, {true, 80, 20}, {false, 200, 0, 2}}, CueLayout::Split},
    {"audio session after data",
     {{false, 150}, {true, 60, 0, 2}, {true, 70, 10, 2}},
     CueLayout::SingleFile},
    {"unstored pregap inside audio",
     {{true, 100}, {true, 100, 0, 1, 150}, {true, 50}},
     CueLayout::Split},
};

TEST(CueSetJob, EveryFileIsTheModelsShiftOfTheStreamCutAtItsPlaces) {
    uint32_t seed = 1;
    for (const SetCase& c : kSets) {
        for (int32_t shift : {-2348, -30, 1, 588, 2348}) {
            SCOPED_TRACE(std::string(c.name) + ", shift " + std::to_string(shift));
            ScratchDir dir;
            CueSet set =
                testing_support::PlaceCueSet(dir.path(), "disc", c.tracks, c.layout, ++seed);
            auto before = Snapshot(dir);
            FakeHost host(std::to_string(shift).c_str());
            JobReport report;
            ASSERT_EQ(ShiftResult::Done, RunShiftJob(host, (dir / "disc.cue").c_str(), &report));
            const Bytes expected = testing_support::ExpectedStream(set, shift);
            auto after = Snapshot(dir);
            EXPECT_TRUE(before.at("disc.cue") == after.at("disc.cue"));
            int32_t rewritten = 0;
            for (size_t f = 0; f < set.files.size(); ++f) {
                const std::string& name = set.files[f];
                const std::string backup = name.substr(0, name.size() - 4) + ".old";
                if (!HoldsAudio(set, f)) {
                    EXPECT_TRUE(before.at(name) == after.at(name)) << name << " was touched";
                    EXPECT_EQ(0u, after.count(backup)) << backup;
                    continue;
                }
                ++rewritten;
                EXPECT_TRUE(testing_support::FileBytes(set, expected, f) ==
                            std::get<0>(after.at(name)))
                    << name << " is not the model's";
                EXPECT_TRUE(std::get<0>(before.at(name)) == std::get<0>(after.at(backup)))
                    << backup;
            }
            EXPECT_EQ(rewritten, report.filesReplaced);

            UndoReport undo;
            ASSERT_EQ(UndoResult::Done, UndoShiftJob((dir / "disc.cue").c_str(), &undo));
            auto undone = Snapshot(dir);
            ASSERT_EQ(before.size(), undone.size());
            for (const auto& entry : before) {
                EXPECT_TRUE(std::get<0>(entry.second) == std::get<0>(undone.at(entry.first)))
                    << entry.first;
            }
        }
    }
}

// Each refusal leaves every file of the folder as it was: names, bytes, inodes and times.
TEST(CueSetJob, RefusalsLeaveEveryFileAsItWas) {
    struct Refusal {
        const char* name;
        std::string file;  // written with `text`, or removed without
        const char* text;
        ShiftResult result;
    };
    const Refusal kRefusals[] = {
        {"a backup name taken", "disc (Track 04).old", "x", ShiftResult::BackupExists},
        {"one file named twice: two originals for one backup name", "disc.cue",
         "FILE \"disc (Track 02).bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n"
         "FILE \"disc (Track 02).bin\" BINARY\n TRACK 02 AUDIO\n  INDEX 01 00:00:00\n",
         ShiftResult::BackupNamesShared},
        {"a file missing", "disc (Track 03).bin", nullptr, ShiftResult::ImageMissing},
        {"a file of part of a sector", "disc (Track 02).bin", "x", ShiftResult::SheetUnplaceable},
        {"a sheet without tracks", "disc.cue", "FILE \"disc (Track 01).bin\" BINARY\n",
         ShiftResult::SheetInvalid},
        {"an unstored gap shorter than the shift", "disc.cue",
         "FILE \"disc (Track 02).bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n"
         " TRACK 02 AUDIO\n  PREGAP 00:00:01\n  INDEX 01 00:00:50\n",
         ShiftResult::GapTooShort},
    };
    for (const Refusal& r : kRefusals) {
        ScratchDir dir;
        testing_support::PlaceCueSet(dir.path(), "disc", kMixed, CueLayout::Split, 5);
        if (r.text != nullptr) {
            testing_support::WriteText(dir / r.file, r.text);
        } else {
            unlink((dir / r.file).c_str());
        }
        auto before = Snapshot(dir);
        FakeHost host("-1000");
        EXPECT_EQ(r.result, RunShiftJob(host, (dir / "disc.cue").c_str())) << r.name;
        EXPECT_TRUE(before == Snapshot(dir)) << r.name;
    }
}

// Undo checks every backup of the set before any goes back: one that no job leaves refuses all.
TEST(CueSetJob, UndoRefusesASetWithOneBackupThatNoJobLeaves) {
    ScratchDir dir;
    testing_support::PlaceCueSet(dir.path(), "disc", kMixed, CueLayout::Split, 7);
    FakeHost host("-30");
    ASSERT_EQ(ShiftResult::Done, RunShiftJob(host, (dir / "disc.cue").c_str()));
    testing_support::WriteText(dir / "disc (Track 04).old", "");
    auto before = Snapshot(dir);
    UndoReport undo;
    EXPECT_EQ(UndoResult::BackupEmpty, UndoShiftJob((dir / "disc.cue").c_str(), &undo));
    EXPECT_TRUE(before == Snapshot(dir));
}

}  // namespace

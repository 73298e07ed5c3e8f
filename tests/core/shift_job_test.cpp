#include "shift_job.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "fake_host.h"
#include "image_model.h"
#include "scratch_dir.h"
#include "test_disc.h"

namespace {

using model::Bytes;
using testing_support::Disc;
using testing_support::Exists;
using testing_support::Expected;
using testing_support::ScratchDir;

// Every file of a folder with its bytes.
std::map<std::string, Bytes> Snapshot(const ScratchDir& dir) {
    std::map<std::string, Bytes> files;
    for (const auto& name : dir.Names()) {
        struct stat info;
        if (stat((dir / name).c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            files[name] = model::ReadFileBytes(dir / name);
        } else {
            files[name] = Bytes();
        }
    }
    return files;
}

// The mixed-mode disc, written as STEM.ccd and STEM.img.
Disc MakeMixedDisc(const ScratchDir& dir, const std::string& stem = "disc", int32_t tail = 0) {
    return testing_support::PlaceDisc(dir.path(), stem, testing_support::MixedRuns(),
                                      static_cast<uint32_t>(stem.size() + tail), tail);
}

TEST(RunShiftJob, ShiftsAndKeepsTheOriginal) {
    ScratchDir dir;
    Disc disc = MakeMixedDisc(dir);
    FakeHost host("-30");
    JobReport report;
    EXPECT_EQ(ShiftResult::Done, RunShiftJob(host, (dir / "disc.ccd").c_str(), &report));
    EXPECT_EQ(disc.image, model::ReadFileBytes(dir / "disc.old"));
    EXPECT_EQ(Expected(disc, -30), model::ReadFileBytes(dir / "disc.img"));
    EXPECT_EQ(-30, report.shift);
    EXPECT_EQ(60, report.sectors);
    EXPECT_EQ(2, report.audioRegions);
    EXPECT_EQ(dir / "disc.img", report.imagePath);
    EXPECT_EQ(dir / "disc.old", report.backupPath);
    EXPECT_EQ((std::vector<std::string>{"disc.ccd", "disc.img", "disc.old"}), dir.Names());
}

TEST(RunShiftJob, AcceptedOffsetTexts) {
    struct Case {
        const char* text;
        int32_t shift;
    };
    const Case cases[] = {
        {"-30", -30}, {"2348", 2348}, {"-2348", -2348}, {"0", 0},  {"", 0},
        {"abc", 0},   {"  +12", 12},  {"7samples", 7},  {"-0", 0}, {"\t-5", -5},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        Disc disc = MakeMixedDisc(dir);
        FakeHost host(c.text);
        JobReport report;
        ASSERT_EQ(ShiftResult::Done, RunShiftJob(host, (dir / "disc.ccd").c_str(), &report))
            << c.text;
        EXPECT_EQ(c.shift, report.shift);
        EXPECT_EQ(Expected(disc, c.shift), model::ReadFileBytes(dir / "disc.img")) << c.text;
        EXPECT_EQ(disc.image, model::ReadFileBytes(dir / "disc.old"));
    }
}

struct RefusalCase {
    const char* name;
    std::string offset;
    std::string controlName;  // relative to the folder
    ShiftResult result;
    void (*prepare)(const ScratchDir& dir);
};

void NoPreparation(const ScratchDir&) {}
void BackupFile(const ScratchDir& dir) {
    testing_support::WriteText(dir / "disc.old", "an earlier backup");
}
void NoImage(const ScratchDir& dir) {
    unlink((dir / "disc.img").c_str());
}
void ImageIsDirectory(const ScratchDir& dir) {
    unlink((dir / "disc.img").c_str());
    mkdir((dir / "disc.img").c_str(), 0755);
}
void ImageIsFifo(const ScratchDir& dir) {
    unlink((dir / "disc.img").c_str());
    mkfifo((dir / "disc.img").c_str(), 0644);
}
void ImageShorterThanTracks(const ScratchDir& dir) {
    truncate((dir / "disc.img").c_str(), 35 * SECTOR_SIZE);
}

TEST(RunShiftJob, RefusalsChangeNothing) {
    const std::vector<RefusalCase> cases = {
        {"offset above the range", "2349", "disc.ccd", ShiftResult::OffsetOutOfRange,
         NoPreparation},
        {"offset below the range", "-2349", "disc.ccd", ShiftResult::OffsetOutOfRange,
         NoPreparation},
        {"offset too large for 32 bits", "99999999999", "disc.ccd", ShiftResult::OffsetOutOfRange,
         NoPreparation},
        {"offset wrapping to -30 in 32 bits", "4294967266", "disc.ccd",
         ShiftResult::OffsetOutOfRange, NoPreparation},
        {"negative offset too large", "-99999999999", "disc.ccd", ShiftResult::OffsetOutOfRange,
         NoPreparation},
        {"cue sheet not there", "-30", "disc.cue", ShiftResult::ImageMissing, NoPreparation},
        {"no extension", "-30", "disc", ShiftResult::NotControlFile, NoPreparation},
        {"dot only in a folder name", "-30", "discs.new/disc", ShiftResult::NotControlFile,
         NoPreparation},
        {"a blank after the extension", "-30", "disc.ccd ", ShiftResult::NotControlFile,
         NoPreparation},
        {"image missing", "-30", "disc.ccd", ShiftResult::ImageMissing, NoImage},
        {"image is a folder", "-30", "disc.ccd", ShiftResult::ImageMissing, ImageIsDirectory},
        {"image is a FIFO without a writer", "-30", "disc.ccd", ShiftResult::ImageMissing,
         ImageIsFifo},
        {"backup present", "-30", "disc.ccd", ShiftResult::BackupExists, BackupFile},
        {"an INDEX past the image", "-30", "disc.ccd", ShiftResult::TrackPastImage,
         ImageShorterThanTracks},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        MakeMixedDisc(dir);
        c.prepare(dir);
        auto before = Snapshot(dir);
        FakeHost host(c.offset.c_str());
        EXPECT_EQ(c.result, RunShiftJob(host, (dir / c.controlName).c_str())) << c.name;
        EXPECT_TRUE(IsRefusal(c.result));
        EXPECT_EQ(before, Snapshot(dir)) << c.name;
        EXPECT_TRUE(host.progress.empty()) << c.name;
    }
}

// Opening a device or a FIFO acts on it (a link to /dev/ptmx makes a new terminal, opening a
// FIFO sets its writer going): a name of another kind must be turned down without an open.
TEST(RunShiftJob, NamesOfOtherKindsAreNeverOpened) {
    for (const char* name : {"disc.img", "disc.ccd"}) {
        ScratchDir dir;
        MakeMixedDisc(dir);
        ASSERT_EQ(0, mkfifo((dir / "fifo").c_str(), 0644));
        unlink((dir / name).c_str());
        ASSERT_EQ(0, symlink("fifo", (dir / name).c_str()));
        int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_GE(watch, 0);
        ASSERT_GE(inotify_add_watch(watch, (dir / "fifo").c_str(), IN_OPEN), 0);
        FakeHost host;
        RunShiftJob(host, (dir / "disc.ccd").c_str());
        char events[4096];
        EXPECT_LT(read(watch, events, sizeof(events)), 0) << name << " was opened";
        close(watch);
    }
}

TEST(RunShiftJob, OffsetIsReadBeforeTheNameIsLookedAt) {
    FakeHost host("5000");
    EXPECT_EQ(ShiftResult::OffsetOutOfRange, RunShiftJob(host, "no such folder/x.cue"));
    EXPECT_EQ(1, host.offsetReads);
}

TEST(RunShiftJob, PathsOf1024BytesAreRefused) {
    ScratchDir dir;
    MakeMixedDisc(dir);
    auto before = Snapshot(dir);
    // "./" repeated keeps the path valid while making it long.
    std::string prefix = dir.path() + "/";
    std::string path = prefix;
    while (path.size() + 2 + 8 < 1024) {
        path += "./";
    }
    path += "disc.ccd";
    ASSERT_EQ(1024u, path.size() + (path.size() < 1024 ? 1024 - path.size() : 0));
    while (path.size() < 1024) {
        path.insert(prefix.size(), "/");
    }
    ASSERT_EQ(1024u, path.size());
    FakeHost host;
    EXPECT_EQ(ShiftResult::PathTooLong, RunShiftJob(host, path.c_str()));
    EXPECT_EQ(before, Snapshot(dir));
    // One byte less fits the buffers and is processed.
    path.erase(prefix.size(), 1);
    EXPECT_EQ(ShiftResult::Done, RunShiftJob(host, path.c_str()));
}

TEST(RunShiftJob, DerivedNames) {
    struct Case {
        const char* control;
        const char* stem;
    };
    const Case cases[] = {{"Disc.CcD", "Disc"}, {"x.tar.ccd", "x.tar"}, {".ccd", ""}};
    for (const auto& c : cases) {
        ScratchDir dir;
        std::string stem = c.stem;
        Disc disc = MakeMixedDisc(dir, stem);
        rename((dir / (stem + ".ccd")).c_str(), (dir / c.control).c_str());
        FakeHost host;
        EXPECT_EQ(ShiftResult::Done, RunShiftJob(host, (dir / c.control).c_str())) << c.control;
        EXPECT_EQ(disc.image, model::ReadFileBytes(dir / (stem + ".old"))) << c.control;
        EXPECT_TRUE(Exists(dir / (stem + ".img"))) << c.control;
    }
}

TEST(RunShiftJob, UnreadableControlFileGivesAnUnchangedCopy) {
    ScratchDir dir;
    Disc disc = MakeMixedDisc(dir);
    unlink((dir / "disc.ccd").c_str());
    mkdir((dir / "disc.ccd").c_str(), 0755);
    FakeHost host("-30");
    JobReport report;
    EXPECT_EQ(ShiftResult::Done, RunShiftJob(host, (dir / "disc.ccd").c_str(), &report));
    EXPECT_EQ(disc.image, model::ReadFileBytes(dir / "disc.img"));
    EXPECT_EQ(disc.image, model::ReadFileBytes(dir / "disc.old"));
    EXPECT_EQ(0, report.audioRegions);
}

TEST(RunShiftJob, TrailingPartialSectorStaysOnlyInTheBackup) {
    ScratchDir dir;
    Disc disc = MakeMixedDisc(dir, "disc", 1000);
    FakeHost host("-30");
    EXPECT_EQ(ShiftResult::Done, RunShiftJob(host, (dir / "disc.ccd").c_str()));
    Bytes whole(disc.image.begin(), disc.image.end() - 1000);
    EXPECT_EQ(model::ExpectedImage(whole, disc.audio, -30), model::ReadFileBytes(dir / "disc.img"));
    EXPECT_EQ(disc.image, model::ReadFileBytes(dir / "disc.old"));
}

TEST(RunShiftJob, BackupNameTakenByADanglingLinkIsNeverReplaced) {
    ScratchDir dir;
    Disc disc = MakeMixedDisc(dir);
    ASSERT_EQ(0, symlink("nowhere", (dir / "disc.old").c_str()));
    FakeHost host;
    JobReport report;
    EXPECT_EQ(ShiftResult::RenameFailed, RunShiftJob(host, (dir / "disc.ccd").c_str(), &report));
    EXPECT_NE(0, report.error);
    EXPECT_EQ(disc.image, model::ReadFileBytes(dir / "disc.img"));
    char target[64] = {};
    EXPECT_GT(readlink((dir / "disc.old").c_str(), target, sizeof(target) - 1), 0);
    EXPECT_STREQ("nowhere", target);
}

TEST(RunShiftJob, CancelKeepsTheBackupWhole) {
    ScratchDir dir;
    std::mt19937 random(3);
    Bytes image = testing_support::RandomBytes(random, 2500 * SECTOR_SIZE);
    model::WriteFileBytes(dir / "a.img", image);
    testing_support::WriteText(dir / "a.ccd", "[TRACK 1]\nMODE=0\nINDEX 1=0\n");
    FakeHost host("-30");
    host.cancelAt = 1024;
    JobReport report;
    EXPECT_EQ(ShiftResult::Cancelled, RunShiftJob(host, (dir / "a.ccd").c_str(), &report));
    EXPECT_EQ(1024, report.sectors);
    EXPECT_EQ(2500, report.totalSectors);
    EXPECT_EQ(image, model::ReadFileBytes(dir / "a.old"));
    EXPECT_EQ(model::ExpectedImage(image, model::AudioSectors({0}, 1024), -30),
              model::ReadFileBytes(dir / "a.img"));
}

// A cancel that comes before the image is renamed leaves every file as it was. A job with a short
// control file looks at the busy flag after its scan and again right before the rename.
TEST(RunShiftJob, ACancelBeforeTheRenameTouchesNothing) {
    for (int32_t look : {1, 2}) {
        ScratchDir dir;
        MakeMixedDisc(dir);
        auto before = Snapshot(dir);
        FakeHost host;
        host.cancelAtLook = look;
        JobReport report;
        EXPECT_EQ(ShiftResult::CancelledBeforeRename,
                  RunShiftJob(host, (dir / "disc.ccd").c_str(), &report))
            << "cancelled at look " << look;
        EXPECT_TRUE(IsRefusal(report.result));
        EXPECT_EQ(before, Snapshot(dir)) << "cancelled at look " << look;
        EXPECT_EQ(-1, host.total) << "the rewrite started";
    }
}

// The regions were placed for the image as the preparation measured it: an image that changed
// size before the run is not that image, and the job puts it back as it found it.
TEST(RunShiftJob, AnImageThatChangedSizeSincePreparationIsPutBack) {
    for (int32_t change : {SECTOR_SIZE, -SECTOR_SIZE}) {
        ScratchDir dir;
        Disc disc = MakeMixedDisc(dir);
        FakeHost host("-30");
        JobPlan plan;
        JobReport report;
        ASSERT_EQ(ShiftResult::Done,
                  PrepareShiftJob(host, (dir / "disc.ccd").c_str(), &plan, &report));
        Bytes changed = disc.image;
        changed.resize(changed.size() + change, 0x5A);
        model::WriteFileBytes(dir / "disc.img", changed);
        EXPECT_EQ(ShiftResult::ReadFailed, RunPreparedShiftJob(host, plan, &report));
        EXPECT_TRUE(report.restored);
        EXPECT_EQ(changed, model::ReadFileBytes(dir / "disc.img"));
        EXPECT_FALSE(Exists(dir / "disc.old"));
        EXPECT_EQ(-1, host.total) << "the rewrite started";
    }
}

TEST(RunShiftJob, OffsetIsReadAfreshForEveryJob) {
    ScratchDir dir;
    Disc first = MakeMixedDisc(dir, "one");
    Disc second = MakeMixedDisc(dir, "two");
    FakeHost host("-30");
    EXPECT_EQ(ShiftResult::Done, RunShiftJob(host, (dir / "one.ccd").c_str()));
    host.SetOffsetText("100");
    EXPECT_EQ(ShiftResult::Done, RunShiftJob(host, (dir / "two.ccd").c_str()));
    EXPECT_EQ(Expected(first, -30), model::ReadFileBytes(dir / "one.img"));
    EXPECT_EQ(Expected(second, 100), model::ReadFileBytes(dir / "two.img"));
}

using testing_support::SessionDisc;

// Multi-session discs, judged by the image model's address mapping. A stored gap is shorter than
// on a real disc, to keep the images small: the rule is the same.
struct SessionLayoutCase {
    const char* name;
    SessionDisc disc;
    bool gapStored;
};

const SessionLayoutCase kSessionLayouts[] = {
    {"CD-Extra, gap left out", testing_support::CdExtra(), false},
    {"CD-Extra, gap stored", testing_support::CdExtra(600), true},
    {"data first, audio session, gap left out", testing_support::AudioSession(), false},
    {"data first, audio session, gap stored", testing_support::AudioSession(600), true},
};

Disc PlaceSessionDisc(const ScratchDir& dir, const SessionDisc& sessions, bool gapStored,
                      int32_t tail = 0) {
    Disc disc = testing_support::MakeSessionDisc(sessions, gapStored, 9, tail);
    testing_support::WriteDisc(disc, dir / "disc.ccd", dir / "disc.img");
    return disc;
}

TEST(MultiSessionJob, OnlyTheAudioMoves) {
    for (const auto& layout : kSessionLayouts) {
        for (const char* shift : {"-2348", "-30", "1", "30", "1234", "2348"}) {
            ScratchDir dir;
            Disc disc =
                PlaceSessionDisc(dir, layout.disc, layout.gapStored, shift[0] == '1' ? 9 : 0);
            FakeHost host(shift);
            JobReport report;
            ASSERT_EQ(ShiftResult::Done, RunShiftJob(host, (dir / "disc.ccd").c_str(), &report))
                << layout.name << ", " << shift;
            EXPECT_EQ(disc.image, model::ReadFileBytes(dir / "disc.old"));
            EXPECT_TRUE(Expected(disc, report.shift) == model::ReadFileBytes(dir / "disc.img"))
                << layout.name << ", shift " << shift;
            EXPECT_EQ(1, report.audioRegions) << layout.name;
        }
    }
}

TEST(MultiSessionJob, ThePreparationPlacesTheTracksAndTouchesNothing) {
    ScratchDir dir;
    PlaceSessionDisc(dir, testing_support::CdExtra(), false);
    auto before = Snapshot(dir);
    FakeHost host("-30");
    JobPlan plan;
    ASSERT_EQ(ShiftResult::Done, PrepareShiftJob(host, (dir / "disc.ccd").c_str(), &plan));
    EXPECT_EQ(before, Snapshot(dir));
    EXPECT_EQ(120, plan.byteShift);
    EXPECT_EQ(1100, plan.imageSectors);
    EXPECT_EQ(SessionLayout::GapLeftOut, plan.layout);
    EXPECT_EQ(2, plan.sessions);
    EXPECT_EQ(dir / "disc.old", plan.backupPath);
    EXPECT_EQ((std::vector<int32_t>{0, 800, END_SENTINEL}),
              std::vector<int32_t>(plan.boundaries, plan.boundaries + 3));
    ASSERT_EQ(3, plan.tracks.count);
    EXPECT_EQ(800, plan.tracks.tracks[2].firstSector);
    EXPECT_EQ(2, plan.tracks.tracks[2].session);

    // Reading the image needs no shift and no free backup name: the same layout without them.
    testing_support::WriteText(dir / "disc.old", "taken");
    JobPlan readOnly;
    EXPECT_EQ(ShiftResult::BackupExists,
              PrepareShiftJob(host, (dir / "disc.ccd").c_str(), &readOnly));
    ASSERT_EQ(ShiftResult::Done, PlanImageLayout((dir / "disc.ccd").c_str(), &readOnly));
    EXPECT_EQ(0, readOnly.shift);
    EXPECT_EQ(plan.imageSectors, readOnly.imageSectors);
    EXPECT_EQ(0, memcmp(plan.boundaries, readOnly.boundaries, sizeof(plan.boundaries)));
    EXPECT_EQ(0, memcmp(&plan.tracks, &readOnly.tracks, sizeof(plan.tracks)));
    EXPECT_EQ(ShiftResult::ImageMissing, PlanImageLayout((dir / "none.ccd").c_str(), &readOnly));
}

TEST(MultiSessionJob, LayoutsThatDoNotFitAreRefusedUntouched) {
    struct Case {
        const char* name;
        int64_t sectors;  // of the CD-Extra's image, which fits 1100 or 12500
        int32_t tail;
        const char* edit;  // replaces the data track's INDEX 1
        ShiftResult result;
    };
    const Case cases[] = {
        {"a sector short", 1099, 2351, nullptr, ShiftResult::SessionLayoutMismatch},
        {"a sector more", 1101, 0, nullptr, ShiftResult::SessionLayoutMismatch},
        {"a sector short of the gap stored", 12499, 0, nullptr, ShiftResult::SessionLayoutMismatch},
        {"a sector more than the gap stored", 12501, 0, nullptr,
         ShiftResult::SessionLayoutMismatch},
        {"an empty image", 0, 0, nullptr, ShiftResult::SessionLayoutMismatch},
        {"contradictory entries", 1100, 0, "INDEX 1=12201", ShiftResult::SessionLayoutInvalid},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        Disc disc = testing_support::MakeSessionDisc(testing_support::CdExtra(), false, 5);
        disc.image.resize(static_cast<size_t>(c.sectors * SECTOR_SIZE + c.tail), 7);
        if (c.edit != nullptr) {
            disc.control.replace(disc.control.find("INDEX 1=12200"), 13, c.edit);
        }
        testing_support::WriteDisc(disc, dir / "disc.ccd", dir / "disc.img");
        auto before = Snapshot(dir);
        FakeHost host("-30");
        JobReport report;
        EXPECT_EQ(c.result, RunShiftJob(host, (dir / "disc.ccd").c_str(), &report)) << c.name;
        EXPECT_TRUE(IsRefusal(c.result));
        EXPECT_EQ(c.result, report.result);
        EXPECT_EQ(before, Snapshot(dir)) << c.name;
        EXPECT_TRUE(host.progress.empty()) << c.name;
    }
}

}  // namespace

// The real command-line tool killed (SIGKILL) at random moments of a long job, many times: after
// each kill every original must be whole under its own name or under its backup name, and a
// second run must refuse to touch a backup that a killed run left. Over a CloneCD image and over
// a BIN/CUE split set, whose files the job renames all before it writes any.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>

#include "cue_set.h"
#include "fault_support.h"

namespace {

using fault::Bytes;
using fault::Disc;
using fault::Folder;

constexpr int kRounds = 50;

// The files that a job rewrites, by name, with their backups, originals and expected contents;
// every other name of the folder stays as it is.
struct KillCase {
    std::string control;
    std::vector<std::string> names;
    std::vector<std::string> backups;
    std::vector<Bytes> originals;
    std::vector<Bytes> expected;
};

// About 24 MB: data, audio, data, audio, and a partial sector.
KillCase CloneCdCase(const Folder& folder) {
    Disc disc =
        fault::MakeDisc({{false, 1500}, {true, 4000}, {false, 700}, {true, 4000}}, 41, 1234);
    fault::WriteDisc(disc, folder / "disc.ccd", folder / "disc.img");
    return {"disc.ccd", {"disc.img"}, {"disc.old"}, {disc.image}, {fault::Expected(disc, -30)}};
}

// As much as a split set: a data track and eight audio tracks, around a second data track.
KillCase SplitSetCase(const Folder& folder) {
    using testing_support::CueTrack;
    std::vector<CueTrack> tracks = {{false, 1500}};
    for (int i = 0; i < 8; ++i) {
        tracks.push_back(i == 4 ? CueTrack{false, 700} : CueTrack{true, 1000, i == 0 ? 0 : 150});
    }
    testing_support::CueSet set = testing_support::PlaceCueSet(
        folder.path(), "disc", tracks, testing_support::CueLayout::Split, 41);
    const Bytes shifted = testing_support::ExpectedStream(set, -30);
    KillCase c{"disc.cue", {}, {}, {}, {}};
    for (size_t f = 0; f < set.files.size(); ++f) {
        if (f == 0 || f == 5) {
            continue;  // the data tracks' files: never renamed
        }
        c.names.push_back(set.files[f]);
        c.backups.push_back(set.files[f].substr(0, set.files[f].size() - 4) + ".old");
        c.originals.push_back(testing_support::FileBytes(set, set.stream, f));
        c.expected.push_back(testing_support::FileBytes(set, shifted, f));
    }
    return c;
}

pid_t StartCli(const Folder& folder, const std::string& control) {
    pid_t child = fork();
    if (child == 0) {
        int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, 0);
        dup2(devNull, 1);
        dup2(devNull, 2);
        if (chdir(folder.path().c_str()) != 0) {
            _exit(127);
        }
        execl(KESTRAN_CLI, KESTRAN_CLI, "-q", control.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return child;
}

void SleepMicroseconds(int64_t micros) {
    struct timespec pause = {static_cast<time_t>(micros / 1000000),
                             static_cast<long>(micros % 1000000) * 1000};
    while (nanosleep(&pause, &pause) != 0) {
    }
}

using Clock = std::chrono::steady_clock;

int64_t MicrosSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
}

// Waits until the backup appears or the child ends; true when the backup was seen while the
// child still ran, false when the child ended (and was reaped) before the backup was seen.
bool AwaitBackup(const Folder& folder, const KillCase& c, pid_t child, int* status) {
    const std::string backup = folder / c.backups[0];
    while (!fault::Exists(backup)) {
        if (waitpid(child, status, WNOHANG) == child) {
            return false;
        }
    }
    return true;
}

// Puts the originals back under their names for the next round.
void Reset(const Folder& folder, const KillCase& c) {
    for (size_t i = 0; i < c.names.size(); ++i) {
        if (fault::Exists(folder / c.backups[i])) {
            unlink((folder / c.names[i]).c_str());
            rename((folder / c.backups[i]).c_str(), (folder / c.names[i]).c_str());
        }
    }
}

void KillAtRandom(const Folder& folder, const KillCase& c) {
    const std::vector<std::string> names = folder.Names();
    auto everyName = [&](const std::vector<Bytes>& bytes, bool backups) {
        for (size_t i = 0; i < c.names.size(); ++i) {
            if (!fault::Holds(folder / (backups ? c.backups[i] : c.names[i]), bytes[i])) {
                return false;
            }
        }
        return true;
    };

    // Three timed runs to the end: how long the tool takes to reach the rename, and the rewrite
    // after it; and what a finished job must leave. A run that ends before the backup is seen
    // (the poll did not get the processor meanwhile) is checked but cannot be timed.
    int64_t startMicros[3];
    int64_t rewriteMicros[3];
    int timed = 0;
    for (int run = 0; timed < 3; ++run) {
        ASSERT_LT(run, 20) << "only " << timed << " of 20 runs could be timed";
        auto start = Clock::now();
        pid_t child = StartCli(folder, c.control);
        int status = 0;
        if (AwaitBackup(folder, c, child, &status)) {
            startMicros[timed] = MicrosSince(start);
            auto renamed = Clock::now();
            waitpid(child, &status, 0);
            rewriteMicros[timed++] = MicrosSince(renamed);
        }
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        ASSERT_TRUE(everyName(c.expected, false));
        ASSERT_TRUE(everyName(c.originals, true));
        Reset(folder, c);
    }
    std::sort(startMicros, startMicros + 3);
    std::sort(rewriteMicros, rewriteMicros + 3);

    // Even rounds kill at any moment from the start; odd rounds at a moment of the rewrite.
    std::mt19937 random(42);
    std::uniform_int_distribution<int64_t> fromStart(0, startMicros[1] + rewriteMicros[1]);
    std::uniform_int_distribution<int64_t> fromRename(0, rewriteMicros[0] / 2);
    int beforeRename = 0;
    int duringRewrite = 0;
    int finished = 0;
    int undone = 0;
    // A loaded machine may let runs finish before their kill: then more rounds kill in the
    // rewrite, until enough have landed there.
    for (int round = 0; round < kRounds || (duringRewrite < kRounds / 4 && round < 3 * kRounds);
         ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        pid_t child = StartCli(folder, c.control);
        ASSERT_GT(child, 0);
        int status = 0;
        bool running = true;
        if (round % 2 == 0 && round < kRounds) {
            SleepMicroseconds(fromStart(random));
        } else {
            running = AwaitBackup(folder, c, child, &status);
            SleepMicroseconds(fromRename(random));
        }
        if (running) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
        }

        bool anyBackup = false;
        bool anyShort = false;
        std::vector<struct stat> before(c.names.size());
        std::vector<bool> present(c.names.size());
        for (size_t i = 0; i < c.names.size(); ++i) {
            ASSERT_TRUE(fault::Holds(folder / c.names[i], c.originals[i]) ||
                        fault::Holds(folder / c.backups[i], c.originals[i]))
                << "the original of " << c.names[i] << " is under neither name";
            present[i] = stat((folder / c.names[i]).c_str(), &before[i]) == 0;
            const bool backup = fault::Exists(folder / c.backups[i]);
            anyBackup = anyBackup || backup;
            anyShort =
                anyShort ||
                (backup && (!present[i] || before[i].st_size / 2352 <
                                               static_cast<int64_t>(c.originals[i].size() / 2352)));
        }
        for (const std::string& name : folder.Names()) {
            EXPECT_TRUE(std::count(names.begin(), names.end(), name) +
                        std::count(c.backups.begin(), c.backups.end(), name))
                << name;
        }

        if (WIFEXITED(status)) {
            ++finished;
            EXPECT_EQ(WEXITSTATUS(status), 0);
            EXPECT_TRUE(everyName(c.expected, false));
        } else if (!anyBackup) {
            ++beforeRename;
            EXPECT_TRUE(everyName(c.originals, false));
        } else {
            ++duringRewrite;
            // A backup left by a killed run is never overwritten by the next one, nor is an
            // unfinished file touched.
            std::string said;
            EXPECT_EQ(fault::RunCli({"-q", c.control}, folder.path(), &said), 1);
            for (size_t i = 0; i < c.names.size(); ++i) {
                EXPECT_TRUE(!fault::Exists(folder / c.backups[i]) ||
                            fault::Holds(folder / c.backups[i], c.originals[i]));
                struct stat after = {};
                EXPECT_EQ(stat((folder / c.names[i]).c_str(), &after) == 0, present[i]);
                EXPECT_EQ(after.st_ino, present[i] ? before[i].st_ino : 0);
                EXPECT_EQ(after.st_size, present[i] ? before[i].st_size : 0);
            }
            // A file short of its last whole sector is what a stopped job left: the refusal
            // says so and the way back, which gives every original back under its name.
            if (anyShort) {
                EXPECT_NE(said.find("a previous job did not finish: "), std::string::npos) << said;
                EXPECT_NE(said.find("; put it back with kestran --undo " + c.control + "\n"),
                          std::string::npos)
                    << said;
                EXPECT_EQ(fault::RunCli({"-q", "--undo", c.control}, folder.path()), 0);
                EXPECT_TRUE(everyName(c.originals, false));
                EXPECT_EQ(names, folder.Names());
                ++undone;
            }
        }
        Reset(folder, c);
    }
    printf(
        "kills: %d (before the rename %d, during the rewrite %d, undone %d), runs that finished "
        "first %d; %lld files, %lld us to the rename, %lld us of rewrite\n",
        beforeRename + duringRewrite, beforeRename, duringRewrite, undone, finished,
        static_cast<long long>(names.size()), static_cast<long long>(startMicros[1]),
        static_cast<long long>(rewriteMicros[1]));
    ::testing::Test::RecordProperty("kills_during_rewrite", duringRewrite);
    // Most kills must land inside the rewrite, or the test proves little.
    EXPECT_GE(duringRewrite, kRounds / 4);
}

TEST(KilledProcess, TheOriginalSurvivesEveryKill) {
    Folder folder;
    KillAtRandom(folder, CloneCdCase(folder));
}

TEST(KilledProcess, EveryOriginalOfASplitSetSurvivesEveryKill) {
    Folder folder;
    KillAtRandom(folder, SplitSetCase(folder));
}

}  // namespace

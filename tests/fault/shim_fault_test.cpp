// Faults that the operating system cannot be made to give on cue: an I/O error on the nth read,
// splice, copy_file_range, write or close of a job, interrupted calls and short transfers,
// splicing or copy_file_range that the system declines. Failures must put the original back under
// the image name; interruptions, short transfers and a declined splice or preallocation must change
// nothing in the result.
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>

#include "fault_support.h"
#include "sector.h"
#include "sector_rewriter.h"
#include "shift_job.h"
#include "syscall_shim.h"

namespace {

using fault::Bytes;
using fault::Disc;
using fault::Folder;
using shim::Call;
using shim::Fault;

const std::vector<std::string> kDiscOnly = {"disc.ccd", "disc.img"};
const std::vector<std::string> kDiscAndBackup = {"disc.ccd", "disc.img", "disc.old"};

// Data, audio, data, audio, a partial sector: every kind of call happens a few times.
const std::vector<fault::Run> kTestRuns = {{false, 40}, {true, 200}, {false, 30}, {true, 90}};
// Data runs that end at progress points and between them: five copies at the same offset.
const std::vector<fault::Run> kDataRuns = {
    {false, 1100}, {true, 60}, {false, 40}, {true, 30}, {false, 1000}};

// Writes a disc of `runs` as disc.ccd and disc.img.
Disc PlaceTestDisc(const Folder& folder, const std::vector<fault::Run>& runs = kTestRuns) {
    return testing_support::PlaceDisc(folder.path(), "disc", runs, 61, 500);
}

// As where the file system shares blocks or cannot tell: copy_file_range then carries the whole
// blocks of every data run. (Where it is seen to copy, as on ext4, it carries only the first.)
const shim::Injection kSharing = {Call::ShareProbe, 1, Fault::Fail, EOPNOTSUPP};

struct JobRun {
    ShiftResult result;
    JobReport report;
    bool delivered;
};

JobRun JobWith(const Folder& folder, const std::vector<shim::Injection>& injections,
               const char* offset = "-30") {
    fault::TestHost host(offset);
    JobRun run;
    shim::Arm(injections, folder / "disc.img", folder / "disc.ccd");
    run.result = RunShiftJob(host, (folder / "disc.ccd").c_str(), &run.report);
    shim::Disarm();
    run.delivered = shim::Delivered();
    return run;
}

// The job failed as `expected`, reporting `error`, and the original is back under its name, alone.
void ExpectPutBack(const JobRun& run, const Folder& folder, const Disc& disc, ShiftResult expected,
                   int error) {
    EXPECT_EQ(run.result, expected);
    EXPECT_EQ(run.report.error, error);
    EXPECT_TRUE(run.report.restored);
    EXPECT_TRUE(fault::Contents(folder / "disc.img") == disc.image);
    EXPECT_EQ(folder.Names(), kDiscOnly);
}

const char* Name(Call call) {
    switch (call) {
        case Call::Read:
            return "source read";
        case Call::SpliceIn:
            return "splice from the source";
        case Call::SpliceOut:
            return "splice to the target";
        case Call::Write:
            return "target write";
        case Call::CopyRange:
            return "copy_file_range";
        case Call::ShareProbe:
            return "FIEMAP";
        case Call::PipeResize:
            return "F_SETPIPE_SZ";
        case Call::Preallocate:
            return "fallocate";
        case Call::Release:
            return "ftruncate";
        case Call::Close:
            return "close";
        case Call::ControlRead:
            return "control read";
        case Call::SourceOpen:
            return "source open";
        case Call::TargetCreate:
            return "target create";
        case Call::Rename:
            return "rename";
        default:
            return "?";
    }
}

// How many calls of a kind a job with `offset` makes on a disc of `runs` with `injections`.
int CleanCalls(Call call, const char* offset = "-30",
               const std::vector<fault::Run>& runs = kTestRuns,
               const std::vector<shim::Injection>& injections = {}) {
    Folder folder;
    Disc disc = PlaceTestDisc(folder, runs);
    JobWith(folder, injections, offset);
    return shim::Calls(call);
}

TEST(InjectedFaults, AFailedCallAnywherePutsTheImageBack) {
    struct Case {
        Call call;
        int error;
        ShiftResult expected;
        const char* offset = "-30";
    };
    const Case cases[] = {
        // The bytes that the shift drops are read too: at a region's start for -30, its end for 30.
        {Call::Read, EIO, ShiftResult::ReadFailed},
        {Call::Read, EIO, ShiftResult::ReadFailed, "30"},
        {Call::SpliceIn, EIO, ShiftResult::ReadFailed},
        {Call::SpliceOut, EIO, ShiftResult::WriteFailed},
        {Call::SpliceOut, ENOSPC, ShiftResult::WriteFailed},
        {Call::Write, EIO, ShiftResult::WriteFailed},
        {Call::Write, ENOSPC, ShiftResult::WriteFailed},
        {Call::Close, EIO, ShiftResult::WriteFailed},
        {Call::SourceOpen, EMFILE, ShiftResult::SourceOpenFailed},
        {Call::TargetCreate, ENOSPC, ShiftResult::TargetCreateFailed},
        {Call::TargetCreate, EDQUOT, ShiftResult::TargetCreateFailed},
    };
    int tried = 0;
    for (const Case& c : cases) {
        const int calls = CleanCalls(c.call, c.offset);
        ASSERT_GE(calls, 1) << Name(c.call) << " at " << c.offset;
        // The first call, one in the middle, the last.
        for (int nth : std::set<int>{1, (calls + 1) / 2, calls}) {
            SCOPED_TRACE(std::string(Name(c.call)) + " " + std::to_string(nth) + " of " +
                         std::to_string(calls) + " fails with " + strerror(c.error) + " at " +
                         c.offset);
            Folder folder;
            Disc disc = PlaceTestDisc(folder);

            JobRun run = JobWith(folder, {{c.call, nth, Fault::Fail, c.error}}, c.offset);
            EXPECT_TRUE(run.delivered);
            ExpectPutBack(run, folder, disc, c.expected, c.error);
            ++tried;
        }
    }
    printf("injected failures tried: %d\n", tried);
}

TEST(InjectedFaults, InterruptedAndShortCallsGiveTheSameImage) {
    struct Case {
        Call call;
        Fault fault;
        int nth;
        bool plainCopy = false;  // splicing declined from the start: the image goes through memory
    };
    const Case cases[] = {
        {Call::Read, Fault::Interrupt, 2},        {Call::SpliceIn, Fault::Interrupt, 3},
        {Call::SpliceOut, Fault::Interrupt, 2},   {Call::Write, Fault::Interrupt, 2},
        {Call::Close, Fault::Interrupt, 1},       {Call::CopyRange, Fault::Interrupt, 1},
        {Call::CopyRange, Fault::Short, 1},       {Call::Read, Fault::Short, 1},
        {Call::SpliceIn, Fault::Short, 1},        {Call::SpliceOut, Fault::Short, 1},
        {Call::Write, Fault::Short, 1},           {Call::ControlRead, Fault::Short, 1},
        {Call::ControlRead, Fault::Interrupt, 2}, {Call::Read, Fault::Interrupt, 2, true},
        {Call::Write, Fault::Interrupt, 2, true}, {Call::Read, Fault::Short, 1, true},
        {Call::Write, Fault::Short, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(Name(c.call)) +
                     (c.fault == Fault::Short ? " moves a third" : " interrupted") +
                     (c.plainCopy ? ", splicing declined" : ""));
        Folder folder;
        Disc disc = PlaceTestDisc(folder);

        std::vector<shim::Injection> injections = {{c.call, c.nth, c.fault, 0}};
        if (c.plainCopy) {
            injections.push_back({Call::SpliceIn, 1, Fault::Fail, EINVAL});
        }
        JobRun run = JobWith(folder, injections);
        EXPECT_TRUE(run.delivered);
        EXPECT_EQ(run.result, ShiftResult::Done);
        EXPECT_TRUE(fault::Contents(folder / "disc.img") == fault::Expected(disc, -30));
        EXPECT_TRUE(fault::Contents(folder / "disc.old") == disc.image);
        EXPECT_EQ(folder.Names(), kDiscAndBackup);
    }
}

// A splice declined at the first call, in the middle or at the last, on either side, and part way
// through a range: the copy goes on through memory from the byte where splicing stopped, what the
// pipe held included.
TEST(InjectedFaults, ASpliceThatIsNotOfferedFallsBackToPlainCopying) {
    for (Call call : {Call::SpliceIn, Call::SpliceOut}) {
        SCOPED_TRACE(std::string(Name(call)) + " moves a third, then is declined");
        Folder folder;
        Disc disc = PlaceTestDisc(folder);

        // The first call moved a third of the first range: the second is part way through it.
        JobRun run = JobWith(folder, {{call, 2, Fault::Fail, EINVAL}, {call, 1, Fault::Short, 0}});
        EXPECT_TRUE(run.delivered);
        EXPECT_EQ(run.result, ShiftResult::Done);
        EXPECT_TRUE(fault::Contents(folder / "disc.img") == fault::Expected(disc, -30));
    }
    for (Call call : {Call::SpliceIn, Call::SpliceOut}) {
        const int calls = CleanCalls(call);
        ASSERT_GE(calls, 3) << Name(call);
        for (int error : {ENOSYS, EXDEV, EOPNOTSUPP, EINVAL}) {
            for (int nth : std::set<int>{1, (calls + 1) / 2, calls}) {
                SCOPED_TRACE(std::string(Name(call)) + " " + std::to_string(nth) + " of " +
                             std::to_string(calls) + " declined: " + strerror(error));
                Folder folder;
                Disc disc = PlaceTestDisc(folder);

                JobRun run = JobWith(folder, {{call, nth, Fault::Fail, error}});
                EXPECT_TRUE(run.delivered);
                EXPECT_EQ(run.result, ShiftResult::Done);
                EXPECT_TRUE(fault::Contents(folder / "disc.img") == fault::Expected(disc, -30));
                EXPECT_TRUE(fault::Contents(folder / "disc.old") == disc.image);
            }
        }
    }
}

// Once splicing is declined, reads and writes through memory carry the image, and their
// failures must still put it back.
TEST(InjectedFaults, AFailedCallOfThePlainCopyPutsTheImageBack) {
    struct Case {
        Call call;
        int error;
        ShiftResult expected;
    };
    const Case cases[] = {
        {Call::Read, EIO, ShiftResult::ReadFailed},
        {Call::Write, EIO, ShiftResult::WriteFailed},
        {Call::Write, ENOSPC, ShiftResult::WriteFailed},
    };
    for (const Case& c : cases) {
        // The reads and writes that a job declined from its first splice makes.
        int calls = 0;
        {
            Folder folder;
            Disc disc = PlaceTestDisc(folder);
            JobWith(folder, {{Call::SpliceIn, 1, Fault::Fail, EINVAL}});
            calls = shim::Calls(c.call);
        }
        ASSERT_GE(calls, 3) << Name(c.call);
        for (int nth : std::set<int>{1, (calls + 1) / 2, calls}) {
            SCOPED_TRACE(std::string(Name(c.call)) + " " + std::to_string(nth) + " of " +
                         std::to_string(calls) + " fails with " + strerror(c.error));
            Folder folder;
            Disc disc = PlaceTestDisc(folder);

            JobRun run = JobWith(folder, {{Call::SpliceIn, 1, Fault::Fail, EINVAL},
                                          {c.call, nth, Fault::Fail, c.error}});
            EXPECT_TRUE(run.delivered);
            ExpectPutBack(run, folder, disc, c.expected, c.error);
        }
    }
}

// copy_file_range failing at its first, a middle or its last call, after sharing or copying some
// of a data run: the job fails, and the original is back whichever side the error belongs to.
// So too when it was declined and the splicing that took over fails.
TEST(InjectedFaults, AFailedCopyFileRangePutsTheImageBack) {
    const int calls = CleanCalls(Call::CopyRange, "-30", kDataRuns, {kSharing});
    ASSERT_GE(calls, 5);
    const shim::Injection declined = {Call::CopyRange, 2, Fault::Fail, EXDEV};
    const int splices = CleanCalls(Call::SpliceOut, "-30", kDataRuns, {kSharing, declined});
    struct Case {
        std::vector<shim::Injection> injections;
        int error;
        ShiftResult expected;
    };
    std::vector<Case> cases;
    for (int nth : std::set<int>{1, (calls + 1) / 2, calls}) {
        cases.push_back({{{Call::CopyRange, nth, Fault::Fail, EIO}}, EIO, ShiftResult::ReadFailed});
        cases.push_back(
            {{{Call::CopyRange, nth, Fault::Fail, ENOSPC}}, ENOSPC, ShiftResult::WriteFailed});
    }
    cases.push_back(
        {{{Call::CopyRange, calls, Fault::Fail, EDQUOT}}, EDQUOT, ShiftResult::WriteFailed});
    // Where faults of a kind overlap, the first one listed is given.
    cases.push_back(
        {{{Call::CopyRange, 3, Fault::Fail, EIO}, {Call::CopyRange, 1, Fault::Short, 0}},
         EIO,
         ShiftResult::ReadFailed});
    cases.push_back({{{Call::SpliceOut, splices, Fault::Fail, ENOSPC}, declined},
                     ENOSPC,
                     ShiftResult::WriteFailed});
    for (Case& c : cases) {
        const shim::Injection failure = c.injections.front();
        SCOPED_TRACE(std::string(Name(failure.call)) + " " + std::to_string(failure.nth) + " of " +
                     std::to_string(failure.call == Call::CopyRange ? calls : splices) +
                     " fails with " + strerror(c.error) + ", with " +
                     std::to_string(c.injections.size() - 1) + " other fault(s)");
        Folder folder;
        Disc disc = PlaceTestDisc(folder, kDataRuns);

        c.injections.push_back(kSharing);
        JobRun run = JobWith(folder, c.injections);
        // The probe that follows a successful copy_file_range may not come.
        EXPECT_TRUE(shim::Delivered(failure.call));
        ExpectPutBack(run, folder, disc, c.expected, c.error);
    }
}

// copy_file_range interrupted, moving a third at a time, or declined at its first, a middle or its
// last call: the same image. A decline is final: the pipe carries the rest of the job.
TEST(InjectedFaults, CopyFileRangeInterruptedShortOrDeclinedGivesTheSameImage) {
    const int calls = CleanCalls(Call::CopyRange, "-30", kDataRuns, {kSharing});
    ASSERT_GE(calls, 5);
    struct Case {
        Fault fault;
        int error;
    };
    const Case cases[] = {{Fault::Interrupt, 0},    {Fault::Short, 0},     {Fault::Fail, ENOSYS},
                          {Fault::Fail, EXDEV},     {Fault::Fail, EINVAL}, {Fault::Fail, EPERM},
                          {Fault::Fail, EOPNOTSUPP}};
    for (const Case& c : cases) {
        for (int nth : std::set<int>{1, (calls + 1) / 2, calls}) {
            SCOPED_TRACE("copy_file_range " + std::to_string(nth) + " of " + std::to_string(calls) +
                         (c.fault == Fault::Fail    ? std::string(" declined: ") + strerror(c.error)
                          : c.fault == Fault::Short ? " on moves a third"
                                                    : " interrupted"));
            Folder folder;
            Disc disc = PlaceTestDisc(folder, kDataRuns);

            JobRun run = JobWith(folder, {kSharing, {Call::CopyRange, nth, c.fault, c.error}});
            EXPECT_TRUE(shim::Delivered(Call::CopyRange));
            EXPECT_EQ(run.result, ShiftResult::Done);
            EXPECT_TRUE(fault::Contents(folder / "disc.img") == fault::Expected(disc, -30));
            EXPECT_TRUE(fault::Contents(folder / "disc.old") == disc.image);
            if (c.fault == Fault::Fail) {
                EXPECT_EQ(shim::Calls(Call::CopyRange), nth);
            }
            if (c.fault == Fault::Interrupt) {
                EXPECT_EQ(shim::Calls(Call::CopyRange), calls + 1);
            }
        }
    }
}

// Preallocating the image and enlarging the pipe are for speed: without them the job writes the
// same image (through a pipe of the system's default size, in more steps).
TEST(InjectedFaults, AFailedSpeedUpChangesNothing) {
    struct Case {
        Call call;
        int error;
    };
    const Case cases[] = {
        {Call::Preallocate, EOPNOTSUPP}, {Call::Preallocate, ENOSPC},
        {Call::Preallocate, EIO},        {Call::PipeResize, EPERM},
        {Call::PipeResize, EBUSY},       {Call::ShareProbe, EOPNOTSUPP},
        {Call::ShareProbe, EIO},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(Name(c.call)) + " fails with " + strerror(c.error));
        Folder folder;
        Disc disc = PlaceTestDisc(folder);

        JobRun run = JobWith(folder, {{c.call, 1, Fault::Fail, c.error}});
        EXPECT_TRUE(run.delivered);
        EXPECT_EQ(run.result, ShiftResult::Done);
        EXPECT_TRUE(fault::Contents(folder / "disc.img") == fault::Expected(disc, -30));
        EXPECT_TRUE(fault::Contents(folder / "disc.old") == disc.image);
    }
}

// Stops the job at the first progress point, as a close request would.
class CancellingHost : public fault::TestHost {
  public:
    CancellingHost() : TestHost("-30") {}
    void ShowProgress(int32_t) override { busy_ = 0; }
    int32_t BusyFlag() override { return busy_; }

  private:
    int32_t busy_ = 1;
};

// A cancelled job keeps the image it wrote so far, which is shorter than the room allocated for
// the whole image ahead of the writes: that room must be given back, and failing to give it back
// must not change the image.
TEST(InjectedFaults, ACancelledJobKeepsNoRoomPastItsImage) {
    struct Case {
        const char* name;
        std::vector<fault::Run> runs;
        std::vector<shim::Injection> injections;
    };
    const Case cases[] = {
        {"cut in audio", {{false, 100}, {true, 1900}}, {}},
        {"cut in audio, ftruncate fails",
         {{false, 100}, {true, 1900}},
         {{Call::Release, 1, Fault::Fail, EIO}}},
        {"cut in data that copy_file_range carries", {{false, 1900}, {true, 100}}, {kSharing}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Folder folder;
        Disc disc = testing_support::PlaceDisc(folder.path(), "disc", c.runs, 5);

        CancellingHost host;
        shim::Arm(c.injections, folder / "disc.img", folder / "disc.ccd");
        ShiftResult result = RunShiftJob(host, (folder / "disc.ccd").c_str(), nullptr);
        shim::Disarm();
        EXPECT_TRUE(shim::Delivered());
        EXPECT_EQ(result, ShiftResult::Cancelled);

        const size_t kept = static_cast<size_t>(PROGRESS_INTERVAL) * SECTOR_SIZE;
        Disc head = disc;
        head.image.resize(kept);
        head.audio.resize(PROGRESS_INTERVAL);
        EXPECT_TRUE(fault::Contents(folder / "disc.img") == fault::Expected(head, -30));
        EXPECT_TRUE(fault::Contents(folder / "disc.old") == disc.image);
        struct stat info;
        ASSERT_EQ(stat((folder / "disc.img").c_str(), &info), 0);
        if (c.injections.empty() || c.injections[0].call != Call::Release) {
            // Blocks of the image itself, and at most a few for the file system's own records.
            EXPECT_LT(info.st_blocks * 512, static_cast<int64_t>(kept) + 64 * 1024);
        }
    }
}

// The rewriter counts sectors in 32 bits: an image of more whole sectors (about 5 TB) would lose
// its end, so it is refused before anything is renamed; one of exactly that many is shifted. The
// image is sparse; room for it is never set aside (the shim fails the preallocation should the
// job get that far) and the host cancels at the first progress point.
TEST(InjectedFaults, AnImageTooLargeToCountIsRefused) {
    for (int64_t sectors : {MAX_IMAGE_SECTORS + 1, MAX_IMAGE_SECTORS}) {
        SCOPED_TRACE(std::to_string(sectors) + " sectors");
        Folder folder;
        fault::WriteText(folder / "disc.ccd", "[TRACK 1]\nMODE=1\nINDEX 1=0\n");
        fault::WriteText(folder / "disc.img", "");
        if (truncate((folder / "disc.img").c_str(), sectors * SECTOR_SIZE) != 0) {
            GTEST_SKIP() << "no sparse file of " << sectors << " sectors here";
        }

        CancellingHost host;
        JobReport report;
        shim::Arm({{Call::Preallocate, 1, Fault::Fail, ENOSPC}}, folder / "disc.img",
                  folder / "disc.ccd");
        ShiftResult result = RunShiftJob(host, (folder / "disc.ccd").c_str(), &report);
        shim::Disarm();
        struct stat info;
        ASSERT_EQ(stat((folder / "disc.img").c_str(), &info), 0);
        if (sectors > MAX_IMAGE_SECTORS) {
            EXPECT_EQ(result, ShiftResult::ImageTooLarge);
            EXPECT_TRUE(IsRefusal(result));
            EXPECT_EQ(info.st_size, sectors * SECTOR_SIZE);
            EXPECT_EQ(folder.Names(), kDiscOnly);
        } else {
            EXPECT_EQ(result, ShiftResult::Cancelled);
            EXPECT_EQ(report.totalSectors, MAX_IMAGE_SECTORS);
            EXPECT_EQ(info.st_size, int64_t{PROGRESS_INTERVAL} * SECTOR_SIZE);
        }
    }
}

// A control file that cannot be read to its end gives an incomplete list of regions; shifting
// with it would treat data as audio or leave audio unshifted and still report success.
TEST(InjectedFaults, AControlFileReadErrorRefusesTheJob) {
    const int calls = CleanCalls(Call::ControlRead);
    ASSERT_GE(calls, 2);
    for (int nth : std::set<int>{1, calls / 2, calls - 1}) {
        SCOPED_TRACE("control read " + std::to_string(nth) + " of " + std::to_string(calls));
        Folder folder;
        Disc disc = PlaceTestDisc(folder);

        JobRun run = JobWith(folder, {{Call::ControlRead, nth, Fault::Fail, EIO}});
        EXPECT_TRUE(run.delivered);
        EXPECT_TRUE(IsRefusal(run.result));
        EXPECT_EQ(run.report.error, EIO);
        EXPECT_TRUE(fault::Contents(folder / "disc.img") == disc.image);
        EXPECT_EQ(folder.Names(), kDiscOnly);
    }
}

// Whatever takes the image name between the rename and the creation of the new image (another
// program's file, a link to one) is never written to, nor replaced by the put-back.
TEST(InjectedFaults, ANameTakenBeforeTheNewImageIsCreatedIsLeftAlone) {
    for (bool link : {false, true}) {
        SCOPED_TRACE(link ? "a link to another file" : "another file");
        Folder folder;
        Disc disc = PlaceTestDisc(folder);
        const Bytes theirs = {'t', 'h', 'e', 'i', 'r', 's'};

        fault::TestHost host("-30");
        JobReport report;
        shim::Arm({}, folder / "disc.img", folder / "disc.ccd");
        shim::Before(Call::TargetCreate, [&] {
            model::WriteFileBytes(folder / "theirs", theirs);
            if (link) {
                symlink("theirs", (folder / "disc.img").c_str());
            } else {
                rename((folder / "theirs").c_str(), (folder / "disc.img").c_str());
            }
        });
        ShiftResult result = RunShiftJob(host, (folder / "disc.ccd").c_str(), &report);
        shim::Disarm();
        EXPECT_EQ(result, ShiftResult::TargetCreateFailed);
        EXPECT_EQ(report.error, EEXIST);
        EXPECT_FALSE(report.restored);
        EXPECT_TRUE(fault::Contents(folder / "disc.img") == theirs);
        EXPECT_TRUE(fault::Contents(folder / "disc.old") == disc.image);
    }
}

TEST(InjectedFaults, AFailedFirstRenameTouchesNothing) {
    Folder folder;
    Disc disc = PlaceTestDisc(folder);

    JobRun run = JobWith(folder, {{Call::Rename, 1, Fault::Fail, EIO}});
    EXPECT_TRUE(run.delivered);
    EXPECT_EQ(run.result, ShiftResult::RenameFailed);
    EXPECT_TRUE(fault::Contents(folder / "disc.img") == disc.image);
    EXPECT_EQ(folder.Names(), kDiscOnly);
}

// Where the system has no rename that refuses to replace, the image is given the backup name as
// a second name and then loses its own. If it cannot lose its own, the second name must go again:
// left behind, it would pass for a backup and refuse the next job; if it cannot go, the job says
// so instead of "nothing was changed".
TEST(InjectedFaults, ARenameThatFailsHalfWayIsUndoneOrSaidSo) {
    struct Case {
        const char* what;
        int unlinkFailures;
        ShiftResult expected;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"the image loses its name", 0, ShiftResult::Done, kDiscAndBackup},
        {"the image keeps its name", 1, ShiftResult::RenameFailed, kDiscOnly},
        {"the second name cannot be removed", 2, ShiftResult::BackupNameLeft, kDiscAndBackup},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Folder folder;
        Disc disc = PlaceTestDisc(folder);

        std::vector<shim::Injection> injections = {{Call::Rename, 1, Fault::Fail, EINVAL}};
        for (int nth = 1; nth <= c.unlinkFailures; ++nth) {
            injections.push_back({Call::Unlink, nth, Fault::Fail, EPERM});
        }
        JobRun run = JobWith(folder, injections);
        EXPECT_TRUE(run.delivered);
        EXPECT_EQ(run.result, c.expected);
        EXPECT_EQ(folder.Names(), c.names);
        if (c.expected == ShiftResult::Done) {
            EXPECT_TRUE(fault::Contents(folder / "disc.img") == fault::Expected(disc, -30));
            EXPECT_TRUE(fault::Contents(folder / "disc.old") == disc.image);
            continue;
        }
        EXPECT_EQ(run.report.error, EPERM);
        EXPECT_EQ(run.report.restoreError, c.unlinkFailures == 2 ? EPERM : 0);
        EXPECT_TRUE(fault::Contents(folder / "disc.img") == disc.image);
    }
}

// When the original cannot even be put back under its name, it must stay whole as the backup.
TEST(InjectedFaults, WhenPuttingTheImageBackFailsTooTheBackupHoldsTheOriginal) {
    struct Case {
        Call call;
        int error;
        ShiftResult expected;
    };
    const Case cases[] = {
        {Call::SourceOpen, EMFILE, ShiftResult::SourceOpenFailed},
        {Call::TargetCreate, ENOSPC, ShiftResult::TargetCreateFailed},
        {Call::Read, EIO, ShiftResult::ReadFailed},
        {Call::Write, ENOSPC, ShiftResult::WriteFailed},
        {Call::Close, EIO, ShiftResult::WriteFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(Name(c.call)) + " fails, then the rename back");
        Folder folder;
        Disc disc = PlaceTestDisc(folder);

        JobRun run = JobWith(
            folder, {{c.call, 1, Fault::Fail, c.error}, {Call::Rename, 2, Fault::Fail, EIO}});
        EXPECT_TRUE(run.delivered);
        EXPECT_EQ(run.result, c.expected);
        EXPECT_FALSE(run.report.restored);
        EXPECT_EQ(run.report.restoreError, EIO);
        EXPECT_TRUE(fault::Contents(folder / "disc.old") == disc.image);
        for (const std::string& name : folder.Names()) {
            EXPECT_TRUE(name == "disc.ccd" || name == "disc.img" || name == "disc.old") << name;
        }
    }
}

}  // namespace

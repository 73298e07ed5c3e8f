// Real failures of the operating system during a job: the file-size limit cuts writes at chosen
// points (as a full disk would), and the backup changes size while it is being read. Afterwards the
// original must be back under the image name, byte for byte, and nothing else left behind.
#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include "fault_support.h"
#include "sector.h"
#include "shift_job.h"

namespace {

using fault::Bytes;
using fault::Disc;
using fault::Folder;
using fault::Outcome;

const std::vector<std::string> kDiscOnly = {"disc.ccd", "disc.img"};
const std::vector<std::string> kDiscAndBackup = {"disc.ccd", "disc.img", "disc.old"};

// Data 0-59, audio 60-209, data 210-289, audio 290-389.
const std::vector<fault::Run> kLayout = {{false, 60}, {true, 150}, {false, 80}, {true, 100}};
constexpr int64_t kSectors = 390;

struct LimitCase {
    const char* point;
    int64_t limit;        // bytes the new image may reach
    int32_t firstSector;  // where the job may stand when the write fails
    int32_t lastSector;
};

const LimitCase kLimitCases[] = {
    {"at the start", 0, 0, 0},
    {"inside the first audio region", (60 + 75) * SECTOR_SIZE + 1000, 60, 209},
    {"inside the data run", (210 + 40) * SECTOR_SIZE + 17, 210, 289},
    {"at the final flush", kSectors* SECTOR_SIZE - 60, 290, 390},
};

// Runs the job under a file-size limit in a child, which ignores SIGXFSZ so that the write
// fails with EFBIG instead of killing it.
Outcome JobUnderLimit(const Folder& folder, const std::string& offset, int64_t limit) {
    std::string bytes;
    bool ended = fault::RunInChild(
        [&] {
            signal(SIGXFSZ, SIG_IGN);
            struct rlimit rlimit = {static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
            setrlimit(RLIMIT_FSIZE, &rlimit);
            fault::TestHost host(offset);
            JobReport report;
            RunShiftJob(host, (folder / "disc.ccd").c_str(), &report);
            return fault::Pack(fault::OutcomeOf(report));
        },
        &bytes);
    Outcome outcome{};
    EXPECT_TRUE(ended && fault::Unpack(bytes, &outcome)) << "the child did not report";
    return outcome;
}

class FileSizeLimit : public ::testing::TestWithParam<const char*> {};

TEST_P(FileSizeLimit, WriteFailureAnywherePutsTheImageBack) {
    const std::string offset = GetParam();
    for (const LimitCase& c : kLimitCases) {
        SCOPED_TRACE(std::string("write fails ") + c.point);
        Folder folder;
        Disc disc = fault::MakeDisc(kLayout, 11, 700);
        fault::WriteDisc(disc, folder / "disc.ccd", folder / "disc.img");

        Outcome outcome = JobUnderLimit(folder, offset, c.limit);
        EXPECT_EQ(outcome.result, ShiftResult::WriteFailed);
        EXPECT_EQ(outcome.error, EFBIG);
        EXPECT_TRUE(outcome.restored);
        EXPECT_GE(outcome.sectors, c.firstSector);
        EXPECT_LE(outcome.sectors, c.lastSector);
        EXPECT_TRUE(fault::Contents(folder / "disc.img") == disc.image);
        EXPECT_EQ(folder.Names(), kDiscOnly);
    }
}

TEST_P(FileSizeLimit, ALimitOfExactlyTheImageIsEnough) {
    const std::string offset = GetParam();
    Folder folder;
    Disc disc = fault::MakeDisc(kLayout, 12, 700);
    fault::WriteDisc(disc, folder / "disc.ccd", folder / "disc.img");

    Outcome outcome = JobUnderLimit(folder, offset, kSectors * SECTOR_SIZE);
    EXPECT_EQ(outcome.result, ShiftResult::Done);
    EXPECT_TRUE(fault::Contents(folder / "disc.img") ==
                fault::Expected(disc, atoi(offset.c_str())));
    EXPECT_TRUE(fault::Contents(folder / "disc.old") == disc.image);
    EXPECT_EQ(folder.Names(), kDiscAndBackup);
}

INSTANTIATE_TEST_SUITE_P(Shifts, FileSizeLimit, ::testing::Values("-30", "30", "-2348", "2348"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             return name[0] == '-' ? "minus" + name.substr(1) : "plus" + name;
                         });

TEST(FileSizeLimit, TheCommandLineSaysTheImageIsBackAndExitsWithOne) {
    Folder folder;
    Disc disc = fault::MakeDisc(kLayout, 13);
    fault::WriteDisc(disc, folder / "disc.ccd", folder / "disc.img");

    std::string bytes;
    std::string output;
    ASSERT_TRUE(fault::RunInChild(
        [&] {
            struct rlimit rlimit = {100000, 100000};
            setrlimit(RLIMIT_FSIZE, &rlimit);
            return fault::Pack(fault::RunCli({"disc.ccd"}, folder.path(), &output)) + output;
        },
        &bytes));
    int status = -1;
    ASSERT_TRUE(fault::Unpack(bytes.substr(0, sizeof(int)), &status));
    output = bytes.substr(sizeof(int));
    EXPECT_EQ(status, 1) << output;
    EXPECT_NE(output.find("write failed"), std::string::npos) << output;
    EXPECT_NE(output.find("back as it was"), std::string::npos) << output;
    EXPECT_TRUE(fault::Contents(folder / "disc.img") == disc.image);
    EXPECT_EQ(folder.Names(), kDiscOnly);
}

// The backup is cut short or grows at the first progress point, as if the disk lost it under the
// job or another program went on writing it. Either way the copy is not of the image measured at
// the start: a read failure, which puts back what the backup holds.
struct ResizeCase {
    const char* how;
    int64_t length;
};

TEST(SourceChangingSize, AReadFailurePutsBackWhatTheBackupHolds) {
    // Data 0-299, audio 300-1799, data 1800-2199, and a partial sector.
    const std::vector<fault::Run> layout = {{false, 300}, {true, 1500}, {false, 400}};
    const int64_t whole = 2200 * SECTOR_SIZE;
    const ResizeCase cases[] = {
        {"cut inside the audio region", 1500 * SECTOR_SIZE + 100},
        {"cut inside the last data run", 2000 * SECTOR_SIZE},
        {"cut to nothing", 0},
        {"cut by the partial sector", whole},
        {"grown inside the partial sector", whole + 1001},
        {"grown by sectors", whole + 3 * SECTOR_SIZE},
    };
    for (const ResizeCase& c : cases) {
        SCOPED_TRACE(c.how);
        Folder folder;
        Disc disc = fault::MakeDisc(layout, 21, 1000);
        fault::WriteDisc(disc, folder / "disc.ccd", folder / "disc.img");
        const std::string backup = folder / "disc.old";

        fault::TestHost host("-30");
        int resizes = 0;
        host.onProgress = [&](int32_t count) {
            if (count == 1024) {
                ASSERT_EQ(truncate(backup.c_str(), c.length), 0);
                ++resizes;
            }
        };
        JobReport report;
        EXPECT_EQ(RunShiftJob(host, (folder / "disc.ccd").c_str(), &report),
                  ShiftResult::ReadFailed);
        EXPECT_EQ(resizes, 1);
        Bytes kept = disc.image;
        kept.resize(static_cast<size_t>(c.length));
        EXPECT_TRUE(report.restored);
        EXPECT_GE(report.sectors, 1024);
        EXPECT_TRUE(fault::Contents(folder / "disc.img") == kept);
        EXPECT_EQ(folder.Names(), kDiscOnly);
    }
}

}  // namespace

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utmp.h>

#include <functional>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "image_model.h"
#include "program_run.h"
#include "scratch_dir.h"
#include "test_disc.h"

namespace {

using model::Bytes;
using testing_support::Disc;
using testing_support::Exists;
using testing_support::Expected;
using testing_support::ScratchDir;

constexpr int32_t kSector = 2352;

using testing_support::ExitStatus;
using testing_support::kNobody;
using testing_support::Outcome;
using testing_support::ReadAll;
using testing_support::RunSetup;

std::vector<char*> Argv(std::vector<std::string>& args) {
    static std::string program = KESTRAN_CLI_PATH;
    return testing_support::ArgumentVector(program, args);
}

// Runs kestran with pipes for its output.
Outcome RunCli(std::vector<std::string> args, const RunSetup& setup = {}) {
    return testing_support::RunProgram(KESTRAN_CLI_PATH, std::move(args), setup);
}

// The mixed-mode disc, written as STEM.ccd and STEM.img.
Disc MakeMixedDisc(const ScratchDir& dir, const std::string& stem, int32_t sectors = 60) {
    return testing_support::PlaceDisc(dir.path(), stem, testing_support::MixedRuns(sectors),
                                      static_cast<uint32_t>(sectors + stem.size()));
}

// The result line of a shifted disc of the mixed layout.
std::string ShiftedLine(const ScratchDir& dir, const std::string& stem, const std::string& moved,
                        const std::string& image = ".img", const std::string& backup = ".old") {
    return dir / stem + image + ": the audio moved " + moved +
           ", 2 audio regions, 60 sectors; original kept as " + (dir / stem) + backup + "\n";
}

TEST(Cli, ShiftsWithEachOffsetSpelling) {
    struct Case {
        std::vector<std::string> options;
        int32_t shift;
        std::string moved;
    };
    const Case cases[] = {
        {{}, -30, "30 samples (120 bytes) toward the start"},
        {{"-o", "12"}, 12, "12 samples (48 bytes) toward the end"},
        {{"-o", "+1"}, 1, "1 sample (4 bytes) toward the end"},
        {{"-o", "-2348"}, -2348, "2348 samples (9392 bytes) toward the start"},
        {{"--offset", "-007"}, -7, "7 samples (28 bytes) toward the start"},
        {{"--offset=588"}, 588, "588 samples (2352 bytes) toward the end"},
        {{"-o-5"}, -5, "5 samples (20 bytes) toward the start"},
        {{"-o", "0"}, 0, "0 samples (the audio stays where it is)"},
        // A drive offset of +N drops the first N samples: the audio moves toward the start.
        {{"--drive-offset", "30"}, -30, "30 samples (120 bytes) toward the start"},
        {{"--drive-offset=-2348"}, 2348, "2348 samples (9392 bytes) toward the end"},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        Disc disc = MakeMixedDisc(dir, "disc");
        std::vector<std::string> args = c.options;
        args.push_back(dir / "disc.ccd");
        Outcome o = RunCli(args);
        EXPECT_EQ(0, o.status) << o.err;
        EXPECT_EQ(ShiftedLine(dir, "disc", c.moved), o.out);
        EXPECT_EQ("", o.err);
        EXPECT_EQ(Expected(disc, c.shift), model::ReadFileBytes(dir / "disc.img"));
        EXPECT_EQ(disc.image, model::ReadFileBytes(dir / "disc.old"));
    }
}

// Every malformed or out-of-range shift is one usage error, said once, before any file.
TEST(Cli, BadShiftsAreUsageErrorsThatTouchNothing) {
    const std::vector<std::vector<std::string>> cases = {
        {"-o", "abc"},
        {"-o", ""},
        {"-o=30"},
        {"--30"},
        {"-o", "0x10"},
        {"-o", "- 5"},
        {"-o",
         "\xe2\x88\x92"
         "5"},  // a Unicode minus
        {"-o", "1e3"},
        {"-o", "1.9"},
        {"-o", "30abc"},
        {"-o", " 5"},
        {"-o", "+"},
        {"-o", "2349"},
        {"-o", "-2349"},
        {"--offset=99999999999"},
        {"--drive-offset", "2349"},
        {"--drive-offset=x"},
        {"-o", "3", "--drive-offset", "-3"},
        {"-o", "3", "-o", "3"},
        {"--undo", "-o", "3"},
    };
    ScratchDir dir;
    Disc one = MakeMixedDisc(dir, "one");
    Disc two = MakeMixedDisc(dir, "two");
    const std::vector<std::string> names = dir.Names();
    for (const auto& options : cases) {
        std::vector<std::string> args = {dir / "one.ccd"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(dir / "two.ccd");
        Outcome o = RunCli(args);
        EXPECT_EQ(2, o.status) << testing::PrintToString(options);
        EXPECT_EQ("", o.out);
        // One line that says what is wrong, one that points to the help.
        EXPECT_EQ(0u, o.err.find("kestran: ")) << o.err;
        EXPECT_EQ(o.err.find('\n') + 1, o.err.find("Try 'kestran --help'.\n")) << o.err;
        EXPECT_EQ(names, dir.Names());
        EXPECT_EQ(one.image, model::ReadFileBytes(dir / "one.img"));
        EXPECT_EQ(two.image, model::ReadFileBytes(dir / "two.img"));
    }
}

TEST(Cli, UsageErrorsExitWith2) {
    ScratchDir dir;
    MakeMixedDisc(dir, "disc");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"-o"},
        {"--bogus", "x.ccd"},
        {"-q"},
        {"--offset"},
        // The value missing at the very end, after a file.
        {dir / "disc.ccd", "-o"},
        {dir / "disc.ccd", "--drive-offset"},
    };
    for (const auto& args : cases) {
        Outcome o = RunCli(args);
        EXPECT_EQ(2, o.status) << testing::PrintToString(args);
        EXPECT_EQ(0u, o.err.find("kestran: ")) << o.err;
        EXPECT_NE(std::string::npos, o.err.find("kestran --help"));
        EXPECT_EQ("", o.out);
    }
    EXPECT_EQ((std::vector<std::string>{"disc.ccd", "disc.img"}), dir.Names());
}

TEST(Cli, HelpAndVersion) {
    Outcome help = RunCli({"--help"});
    EXPECT_EQ(0, help.status);
    EXPECT_EQ(0u, help.out.find("Usage: kestran"));
    for (const char* word : {"--drive-offset", "--dry-run", "--undo", "kestran -o -6 game.ccd",
                             "kestran --drive-offset 6 game.ccd"}) {
        EXPECT_NE(std::string::npos, help.out.find(word)) << word;
    }
    Outcome version = RunCli({"--version"});
    EXPECT_EQ(0, version.status);
    EXPECT_EQ("kestran " KESTRAN_VERSION "\n", version.out);
}

TEST(Cli, RefusalsSayWhyAndChangeNothing) {
    ScratchDir dir;
    Disc taken = MakeMixedDisc(dir, "taken");
    model::WriteFileBytes(dir / "taken.old", taken.image);
    MakeMixedDisc(dir, "fine");
    testing_support::WriteText(dir / "lonely.ccd", taken.control);
    testing_support::WriteText(dir / "notes.txt", "x");
    testing_support::WriteText(dir / "folder.ccd", taken.control);
    ASSERT_EQ(0, mkdir((dir / "folder.img").c_str(), 0755));

    Outcome o = RunCli({dir / "taken.ccd", dir / "lonely.ccd", dir / "notes.txt",
                        dir / "folder.ccd", dir / "fine.ccd"});
    EXPECT_EQ(1, o.status);
    EXPECT_EQ("kestran: " + (dir / "taken.old") + " already exists: move it away first\n" +
                  "kestran: " + (dir / "lonely.img") + " not found\n" +
                  "kestran: " + (dir / "notes.txt") + ": not a .ccd control file or .cue sheet\n" +
                  "kestran: " + (dir / "folder.img") + " is a folder\n",
              o.err);
    // The files after a refused one are still processed, in order.
    EXPECT_EQ(ShiftedLine(dir, "fine", "30 samples (120 bytes) toward the start"), o.out);
    EXPECT_EQ(taken.image, model::ReadFileBytes(dir / "taken.img"));
    EXPECT_EQ((std::vector<std::string>{"fine.ccd", "fine.img", "fine.old", "folder.ccd",
                                        "folder.img", "lonely.ccd", "notes.txt", "taken.ccd",
                                        "taken.img", "taken.old"}),
              dir.Names());
}

TEST(Cli, AnUnreadableImageIsNamedAsSuch) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to run as another user";
    }
    ScratchDir dir;
    ASSERT_EQ(0, chmod(dir.path().c_str(), 0777));
    Disc disc = MakeMixedDisc(dir, "disc");
    ASSERT_EQ(0, chmod((dir / "disc.img").c_str(), 0600));
    RunSetup asNobody;
    asNobody.unprivileged = true;
    Outcome o = RunCli({dir / "disc.ccd"}, asNobody);
    EXPECT_EQ(1, o.status);
    EXPECT_EQ("kestran: " + (dir / "disc.img") + " cannot be read: Permission denied\n", o.err);
    // An unreadable control file reads as one without audio, and says why.
    ASSERT_EQ(0, chmod((dir / "disc.img").c_str(), 0644));
    ASSERT_EQ(0, chmod((dir / "disc.ccd").c_str(), 0600));
    o = RunCli({dir / "disc.ccd"}, asNobody);
    EXPECT_EQ(1, o.status);
    EXPECT_EQ("kestran: no audio track in " + (dir / "disc.ccd") +
                  " (it cannot be read: Permission denied); nothing changed\n",
              o.err);
    EXPECT_EQ((std::vector<std::string>{"disc.ccd", "disc.img"}), dir.Names());
}

TEST(Cli, CapitalExtensionsGiveCapitalNames) {
    ScratchDir dir;
    Disc upper = testing_support::PlaceDisc(dir.path(), "UP", testing_support::MixedRuns(), 3);
    ASSERT_EQ(0, rename((dir / "UP.ccd").c_str(), (dir / "UP.CCD").c_str()));
    ASSERT_EQ(0, rename((dir / "UP.img").c_str(), (dir / "UP.IMG").c_str()));
    Disc mixed = testing_support::PlaceDisc(dir.path(), "Mixed", testing_support::MixedRuns(), 4);
    ASSERT_EQ(0, rename((dir / "Mixed.ccd").c_str(), (dir / "Mixed.CcD").c_str()));
    Outcome o = RunCli({dir / "UP.CCD", dir / "Mixed.CcD"});
    EXPECT_EQ(0, o.status) << o.err;
    const std::string moved = "30 samples (120 bytes) toward the start";
    EXPECT_EQ(ShiftedLine(dir, "UP", moved, ".IMG", ".OLD") + ShiftedLine(dir, "Mixed", moved),
              o.out);
    EXPECT_EQ(Expected(upper, -30), model::ReadFileBytes(dir / "UP.IMG"));
    EXPECT_EQ(upper.image, model::ReadFileBytes(dir / "UP.OLD"));
    EXPECT_EQ(Expected(mixed, -30), model::ReadFileBytes(dir / "Mixed.img"));
    EXPECT_EQ((std::vector<std::string>{"Mixed.CcD", "Mixed.img", "Mixed.old", "UP.CCD", "UP.IMG",
                                        "UP.OLD"}),
              dir.Names());
}

TEST(Cli, TheNewImageKeepsTheOriginalsPermissionsAndOwner) {
    struct Case {
        mode_t mode;
        bool givenAway;  // owned by nobody, as root can arrange
    };
    for (const Case& c : {Case{0400, false}, Case{0640, false}, Case{0604, true}}) {
        if (c.givenAway && geteuid() != 0) {
            continue;
        }
        ScratchDir dir;
        Disc disc = MakeMixedDisc(dir, "disc");
        ASSERT_EQ(0, chmod((dir / "disc.img").c_str(), c.mode));
        if (c.givenAway) {
            ASSERT_EQ(0, chown((dir / "disc.img").c_str(), kNobody, kNobody));
        }
        struct stat before;
        ASSERT_EQ(0, stat((dir / "disc.img").c_str(), &before));
        Outcome o = RunCli({dir / "disc.ccd"});
        EXPECT_EQ(0, o.status) << o.err;
        struct stat after;
        ASSERT_EQ(0, stat((dir / "disc.img").c_str(), &after));
        EXPECT_EQ(c.mode, after.st_mode & 07777) << std::oct << c.mode;
        EXPECT_EQ(before.st_uid, after.st_uid);
        EXPECT_EQ(before.st_gid, after.st_gid);
        EXPECT_EQ(Expected(disc, -30), model::ReadFileBytes(dir / "disc.img"));
    }
}

TEST(Cli, BytesPastTheLastWholeSectorAreSaidToStayInTheBackup) {
    ScratchDir dir;
    Disc disc =
        testing_support::PlaceDisc(dir.path(), "disc", testing_support::MixedRuns(), 5, 1000);
    Outcome o = RunCli({dir / "disc.ccd"});
    EXPECT_EQ(0, o.status) << o.err;
    EXPECT_NE(std::string::npos,
              o.out.find("; the 1000 bytes past the last whole sector stay only in " +
                         (dir / "disc.old") + "\n"))
        << o.out;
    EXPECT_EQ(Expected(disc, -30), model::ReadFileBytes(dir / "disc.img"));
    EXPECT_EQ(disc.image, model::ReadFileBytes(dir / "disc.old"));
}

TEST(Cli, OneOfEachIsSingular) {
    ScratchDir dir;
    Disc disc = testing_support::PlaceDisc(dir.path(), "one", {{true, 1}}, 6);
    Outcome o = RunCli({"-o", "-1", dir / "one.ccd"});
    EXPECT_EQ(0, o.status) << o.err;
    EXPECT_EQ(dir / "one.img" +
                  ": the audio moved 1 sample (4 bytes) toward the start, 1 audio region, 1 "
                  "sector; original kept as " +
                  (dir / "one.old") + "\n",
              o.out);
}

TEST(Cli, NamesAfterDoubleDashMayBeginWithADash) {
    ScratchDir dir;
    Disc disc = MakeMixedDisc(dir, "-disc");
    ASSERT_EQ(0, chdir(dir.path().c_str()));
    Outcome o = RunCli({"-o", "3", "--", "-disc.ccd"});
    ASSERT_EQ(0, chdir("/"));
    EXPECT_EQ(0, o.status) << o.err;
    EXPECT_EQ(Expected(disc, 3), model::ReadFileBytes(dir / "-disc.img"));
}

TEST(Cli, QuietHidesSuccessButNeverARefusal) {
    ScratchDir dir;
    MakeMixedDisc(dir, "disc");
    Outcome ok = RunCli({"-q", dir / "disc.ccd"});
    EXPECT_EQ(0, ok.status);
    EXPECT_EQ("", ok.out + ok.err);
    Outcome refused = RunCli({"-q", dir / "disc.ccd"});
    EXPECT_EQ(1, refused.status);
    EXPECT_EQ("", refused.out);
    EXPECT_EQ("kestran: " + (dir / "disc.old") + " already exists: move it away first\n",
              refused.err);
}

// With both streams in one pipe, each file's line comes in the order of the files.
TEST(Cli, LinesComeInTheOrderOfTheFiles) {
    ScratchDir dir;
    MakeMixedDisc(dir, "a");
    MakeMixedDisc(dir, "c");
    RunSetup merged;
    merged.merged = true;
    Outcome o = RunCli({dir / "a.ccd", dir / "b.ccd", dir / "c.ccd", dir / "d.txt"}, merged);
    EXPECT_EQ(1, o.status);
    const std::string moved = "30 samples (120 bytes) toward the start";
    EXPECT_EQ(ShiftedLine(dir, "a", moved) + "kestran: " + (dir / "b.img") + " not found\n" +
                  ShiftedLine(dir, "c", moved) + "kestran: " + (dir / "d.txt") +
                  ": not a .ccd control file or .cue sheet\n",
              o.out);
}

TEST(Cli, AnOutputThatCannotBeWrittenFails) {
    ScratchDir dir;
    Disc disc = MakeMixedDisc(dir, "disc");
    RunSetup full;
    full.stdoutPath = "/dev/full";
    Outcome o = RunCli({dir / "disc.ccd"}, full);
    EXPECT_EQ(1, o.status);
    EXPECT_EQ("kestran: cannot write the output: No space left on device\n", o.err);
    // The job itself was done.
    EXPECT_EQ(Expected(disc, -30), model::ReadFileBytes(dir / "disc.img"));
    Outcome help = RunCli({"--help"}, full);
    EXPECT_EQ(1, help.status);
}

TEST(Cli, WithoutATerminalOnlyTheFinalLines) {
    ScratchDir dir;
    MakeMixedDisc(dir, "disc", 3000);
    Outcome o = RunCli({dir / "disc.ccd"});
    EXPECT_EQ(0, o.status);
    EXPECT_EQ("", o.err);
    EXPECT_EQ(std::string::npos, o.out.find('\r'));
}

// Runs kestran on a terminal; `onOutput` sees the output so far and may signal the process.
struct TerminalRun {
    int status;
    std::string output;
};

// With `onHeld`, the terminal's output is stopped (as Ctrl-S does) until the process sleeps in its
// first write to it; `onHeld` then acts on it, and the output goes on.
template <typename Watch>
TerminalRun RunOnTerminal(std::vector<std::string> args, Watch onOutput,
                          unsigned short columns = 100,
                          const std::function<void(pid_t)>& onHeld = nullptr) {
    std::vector<char*> argv = Argv(args);
    int master = -1;
    int slave = -1;
    struct winsize size = {};
    size.ws_row = 24;
    size.ws_col = columns;
    if (openpty(&master, &slave, nullptr, nullptr, &size) != 0) {
        return {-1, ""};
    }
    if (onHeld) {
        tcflow(slave, TCOOFF);
    }
    pid_t pid = fork();
    if (pid == 0) {
        close(master);
        login_tty(slave);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (onHeld) {
        EXPECT_TRUE(testing_support::WaitUntilAsleep(pid, [] { return true; }));
        onHeld(pid);
        tcflow(slave, TCOON);
    }
    close(slave);
    TerminalRun run{-1, ""};
    char buffer[4096];
    for (;;) {
        ssize_t n = read(master, buffer, sizeof(buffer));
        if (n <= 0) {
            break;  // EIO once the child has closed the terminal
        }
        run.output.append(buffer, static_cast<size_t>(n));
        onOutput(pid, run.output);
    }
    close(master);
    run.status = ExitStatus(pid);
    return run;
}

TEST(Cli, ProgressBarOnATerminal) {
    ScratchDir dir;
    MakeMixedDisc(dir, "disc", 3000);
    TerminalRun run = RunOnTerminal({dir / "disc.ccd"}, [](pid_t, const std::string&) {});
    EXPECT_EQ(0, run.status);
    std::regex bar(R"(\r\[[#.]{30}\] 1024/3000 sectors  34% +[0-9.]+ MB/s)");
    EXPECT_NE(std::string::npos,
              run.output.find("\r[" + std::string(30, '.') + "] 0/3000 sectors"));
    EXPECT_TRUE(std::regex_search(run.output, bar)) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("2048/3000 sectors  68%"));
    // The bar is wiped before the file's line.
    EXPECT_NE(std::string::npos,
              run.output.find("\r\033[K" + (dir / "disc.img") + ": the audio moved"));
}

// On a narrow terminal the line never reaches the last column, so it never wraps: the bar
// shrinks, then goes, then the figures are cut.
TEST(Cli, TheProgressLineFitsANarrowTerminal) {
    for (unsigned short columns : {60, 40, 20}) {
        ScratchDir dir;
        MakeMixedDisc(dir, "disc", 3000);
        TerminalRun run = RunOnTerminal(
            {"-o", "0", dir / "disc.ccd"}, [](pid_t, const std::string&) {}, columns);
        EXPECT_EQ(0, run.status) << run.output;
        std::string lines = run.output.substr(0, run.output.find(dir / "disc.img"));
        std::regex erase("\033\\[K");
        lines = std::regex_replace(lines, erase, "");
        size_t drawn = 0;
        for (size_t start = lines.find('\r'); start != std::string::npos;) {
            size_t end = lines.find('\r', start + 1);
            std::string line =
                lines.substr(start + 1, end == std::string::npos ? end : end - start - 1);
            EXPECT_LT(line.size(), columns) << "'" << line << "'";
            drawn += line.empty() ? 0 : 1;
            start = end;
        }
        EXPECT_EQ(3u, drawn) << lines;  // at 0, 1024 and 2048 sectors
        if (columns == 60) {
            EXPECT_NE(std::string::npos, lines.find("] 2048/3000 sectors")) << lines;
        }
    }
}

TEST(Cli, InterruptCancelsAtTheNextProgressPoint) {
    // Ctrl-C, a request to terminate and a closed terminal, each told apart by the exit status.
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        ScratchDir dir;
        const int32_t sectors = 30000;
        // Sectors that all differ, made quickly: a random block repeated with a running count.
        std::mt19937 random(static_cast<uint32_t>(signal_number));
        Bytes block = testing_support::RandomBytes(random, kSector);
        Bytes image(static_cast<size_t>(sectors) * kSector);
        for (int32_t s = 0; s < sectors; ++s) {
            std::copy(block.begin(), block.end(), image.begin() + static_cast<size_t>(s) * kSector);
            memcpy(&image[static_cast<size_t>(s) * kSector], &s, sizeof(s));
        }
        model::WriteFileBytes(dir / "long.img", image);
        testing_support::WriteText(dir / "long.ccd", "[TRACK 1]\nMODE=0\nINDEX 1=0\n");
        MakeMixedDisc(dir, "next");
        // Held in drawing the bar at the rewrite's start, the job gets the request before it
        // copies a sector.
        bool sent = false;
        TerminalRun run = RunOnTerminal(
            {dir / "long.ccd", dir / "next.ccd"}, [](pid_t, const std::string&) {}, 100,
            [&](pid_t pid) { sent = kill(pid, signal_number) == 0; });
        ASSERT_TRUE(sent) << run.output;
        EXPECT_NE(std::string::npos, run.output.find("] 0/30000 sectors")) << run.output;
        EXPECT_EQ(128 + signal_number, run.status) << run.output;
        std::smatch match;
        std::regex line(R"(long\.img: cancelled after ([0-9]+) of 30000 sectors)");
        ASSERT_TRUE(std::regex_search(run.output, match, line)) << run.output;
        int32_t done = std::stoi(match[1]);
        EXPECT_EQ(0, done % 1024);
        EXPECT_GE(done, 1024);
        EXPECT_LT(done, sectors);
        EXPECT_NE(std::string::npos,
                  run.output.find("kept whole as " + (dir / "long.old") +
                                  "; undo with: kestran --undo " + (dir / "long.ccd") + "\r\n"))
            << run.output;
        EXPECT_EQ(image, model::ReadFileBytes(dir / "long.old"));
        EXPECT_EQ(model::ExpectedImage(image, model::AudioSectors({0}, done), -30),
                  model::ReadFileBytes(dir / "long.img"));
        // No further file is started after a cancel.
        EXPECT_EQ(std::string::npos, run.output.find("next.img"));
    }
}

// A Ctrl-C that lands after the last file's job has ended still ends the run as cancelled. The
// run is held in the write of its last line, on a pipe that the test has filled.
TEST(Cli, ACancelAsTheLastFileEndsStillExitsCancelled) {
    ScratchDir dir;
    MakeMixedDisc(dir, "disc");
    int out = -1;
    int err = -1;
    pid_t pid =
        testing_support::StartHeldAtOutput(KESTRAN_CLI_PATH, {dir / "disc.ccd"}, &out, &err);
    // The job has ended once the process sleeps with the backup made: only the write is left.
    EXPECT_TRUE(testing_support::WaitUntilAsleep(pid, [&] { return Exists(dir / "disc.old"); }));
    kill(pid, SIGINT);
    std::string output = ReadAll(out);
    close(out);
    close(err);
    EXPECT_EQ(130, ExitStatus(pid));
    EXPECT_NE(std::string::npos, output.find("disc.img: the audio moved"));
}

// The backup cut short while it is read: the job fails and says that the image is back.
TEST(Cli, AReadFailureSaysTheImageIsBack) {
    ScratchDir dir;
    Disc disc = MakeMixedDisc(dir, "long", 30000);
    bool cut = false;
    TerminalRun run = RunOnTerminal({dir / "long.ccd"}, [&](pid_t pid, const std::string& output) {
        if (!cut && output.find("] 0/30000 sectors") != std::string::npos) {
            kill(pid, SIGSTOP);
            cut = truncate((dir / "long.old").c_str(), 2000 * kSector) == 0;
            kill(pid, SIGCONT);
        }
    });
    ASSERT_TRUE(cut) << run.output;
    EXPECT_EQ(1, run.status) << run.output;
    std::regex line(
        "kestran: " + dir.path() +
        "/long\\.img: read failed after [0-9]+ sectors \\(its size changed while it was read\\); "
        "the image is back as it was\r\n");
    EXPECT_TRUE(std::regex_search(run.output, line)) << run.output;
    EXPECT_EQ((std::vector<std::string>{"long.ccd", "long.img"}), dir.Names());
    EXPECT_EQ(Bytes(disc.image.begin(), disc.image.begin() + 2000 * kSector),
              model::ReadFileBytes(dir / "long.img"));
}

// A job stopped before its end (killed, or a closed terminal with the signal lost) leaves a short
// image beside the backup: the next run says so and how to get back, and touches nothing.
TEST(Cli, AnUnfinishedEarlierJobIsNamedWithTheWayBack) {
    ScratchDir dir;
    Disc disc = MakeMixedDisc(dir, "my disc");
    ASSERT_EQ(0, rename((dir / "my disc.img").c_str(), (dir / "my disc.old").c_str()));
    model::WriteFileBytes(dir / "my disc.img",
                          Bytes(disc.image.begin(), disc.image.begin() + 24 * kSector));
    Disc gone = MakeMixedDisc(dir, "gone");
    ASSERT_EQ(0, rename((dir / "gone.img").c_str(), (dir / "gone.old").c_str()));
    const std::vector<std::string> names = dir.Names();

    Outcome o = RunCli({dir / "my disc.ccd", dir / "gone.ccd"});
    EXPECT_EQ(1, o.status);
    EXPECT_EQ("kestran: a previous job did not finish: " + (dir / "my disc.img") +
                  " holds 24 of 60 sectors, the original is " + (dir / "my disc.old") +
                  "; put it back with kestran --undo '" + (dir / "my disc.ccd") + "'\n" +
                  "kestran: a previous job did not finish: " + (dir / "gone.img") +
                  " is missing, the original is " + (dir / "gone.old") +
                  "; put it back with kestran --undo " + (dir / "gone.ccd") + "\n",
              o.err);
    EXPECT_EQ(names, dir.Names());
    EXPECT_EQ(disc.image, model::ReadFileBytes(dir / "my disc.old"));

    // The way back it names, then the job again.
    Outcome undo = RunCli({"--undo", dir / "my disc.ccd", dir / "gone.ccd"});
    EXPECT_EQ(0, undo.status) << undo.err;
    EXPECT_EQ(dir / "my disc.img" + ": put back from " + (dir / "my disc.old") +
                  " (60 sectors), replaced the image of 24 sectors that stood there\n" +
                  (dir / "gone.img") + ": put back from " + (dir / "gone.old") + " (60 sectors)\n",
              undo.out);
    Outcome again = RunCli({dir / "my disc.ccd"});
    EXPECT_EQ(0, again.status) << again.err;
    EXPECT_EQ(Expected(disc, -30), model::ReadFileBytes(dir / "my disc.img"));
    EXPECT_EQ(disc.image, model::ReadFileBytes(dir / "my disc.old"));
}

TEST(Cli, UndoPutsTheOriginalBackOrSaysWhyNot) {
    ScratchDir dir;
    Disc disc = MakeMixedDisc(dir, "disc");
    MakeMixedDisc(dir, "never");
    ASSERT_EQ(0, RunCli({"-o", "100", dir / "disc.ccd"}).status);
    const std::vector<std::string> shifted = dir.Names();

    // -n says what would be done and touches nothing.
    Outcome dry = RunCli({"--undo", "-n", dir / "disc.ccd"});
    EXPECT_EQ(0, dry.status) << dry.err;
    EXPECT_EQ(dir / "disc.img" + ": would be put back from " + (dir / "disc.old") +
                  " (60 sectors), replacing the image of 60 sectors that stood there; nothing "
                  "changed\n",
              dry.out);
    EXPECT_EQ(shifted, dir.Names());
    EXPECT_EQ(Expected(disc, 100), model::ReadFileBytes(dir / "disc.img"));

    Outcome o = RunCli({"--undo", dir / "never.ccd", dir / "disc.ccd", dir / "x.txt"});
    EXPECT_EQ(1, o.status);
    EXPECT_EQ("kestran: nothing to put back: " + (dir / "never.old") + " not found\n" +
                  "kestran: " + (dir / "x.txt") + ": not a .ccd control file or .cue sheet\n",
              o.err);
    EXPECT_EQ(disc.image, model::ReadFileBytes(dir / "disc.img"));
    EXPECT_EQ((std::vector<std::string>{"disc.ccd", "disc.img", "never.ccd", "never.img"}),
              dir.Names());

    // A second undo finds nothing to put back.
    Outcome twice = RunCli({"--undo", "-q", dir / "disc.ccd"});
    EXPECT_EQ(1, twice.status);
    EXPECT_EQ("kestran: nothing to put back: " + (dir / "disc.old") + " not found\n", twice.err);
}

// Undo puts back only what a job could have left: anything else is refused, with and without -n,
// and the original stays whole under one of the two names.
TEST(Cli, UndoRefusesABackupThatIsNotTheOriginal) {
    struct Case {
        const char* stem;
        std::string error;  // after "kestran: " and the backup's name; empty when it is put back
    };
    const std::string nothing = "; nothing was changed\n";
    const Case cases[] = {
        {"normal", ""},
        {"link", " is a symbolic link, which no job leaves" + nothing},
        {"hard", " is a second name of @.img, not a backup of it" + nothing},
        {"empty", " holds no whole sector, so it is not the original of @.img" + nothing},
        {"short", " (24 sectors) is shorter than @.img (60), so it is not its original" + nothing},
        {"foreign",
         " (30 sectors) is not the original of @.ccd: track 3 lies past its end" + nothing},
        {"folder", ""},
    };
    for (const Case& c : cases) {
        for (const char* dryRun : {"-n", "-q"}) {
            ScratchDir dir;
            const std::string stem = dir / c.stem;
            Disc disc = MakeMixedDisc(dir, c.stem);
            const std::string image = stem + ".img";
            const std::string backup = stem + ".old";
            if (c.stem == std::string("normal")) {
                ASSERT_EQ(0, RunCli({"-q", stem + ".ccd"}).status);
            } else if (c.stem == std::string("link")) {
                ASSERT_EQ(0, symlink(image.c_str(), backup.c_str()));
            } else if (c.stem == std::string("hard")) {
                ASSERT_EQ(0, link(image.c_str(), backup.c_str()));
            } else if (c.stem == std::string("short")) {
                model::WriteFileBytes(backup,
                                      Bytes(disc.image.begin(), disc.image.begin() + 24 * kSector));
            } else if (c.stem == std::string("foreign")) {
                ASSERT_EQ(0, rename(image.c_str(), (dir / "kept").c_str()));
                model::WriteFileBytes(backup, Bytes(30 * kSector, 7));
            } else if (c.stem == std::string("folder")) {
                ASSERT_EQ(0, mkdir(backup.c_str(), 0755));
            } else {
                model::WriteFileBytes(backup, {});
            }
            const std::vector<std::string> names = dir.Names();
            Outcome o = RunCli({"--undo", dryRun, stem + ".ccd"});
            std::string error = c.error;
            for (size_t at = error.find('@'); at != std::string::npos; at = error.find('@')) {
                error.replace(at, 1, stem);
            }
            if (c.stem == std::string("folder")) {
                error = "kestran: nothing to put back: " + backup + " is a folder\n";
            } else if (!error.empty()) {
                error = "kestran: " + backup + error;
            }
            EXPECT_EQ(error, o.err) << c.stem << dryRun;
            EXPECT_EQ(error.empty() ? 0 : 1, o.status) << c.stem << dryRun;
            const bool putBack = error.empty() && dryRun == std::string("-q");
            if (!putBack) {
                EXPECT_EQ(names, dir.Names()) << c.stem << dryRun;
            }
            // The original, whole under one of the two names (or aside, for the foreign file).
            const std::string original = c.stem == std::string("foreign") ? dir / "kept"
                                         : c.stem == std::string("normal") && !putBack ? backup
                                                                                       : image;
            struct stat info;
            EXPECT_TRUE(lstat(original.c_str(), &info) == 0 && S_ISREG(info.st_mode)) << c.stem;
            EXPECT_EQ(disc.image, model::ReadFileBytes(original)) << c.stem << dryRun;
        }
    }
}

// Nothing to shift is a refusal: no file is touched, no backup name used up.
TEST(Cli, AControlFileWithoutAudioIsRefused) {
    ScratchDir dir;
    Disc disc = MakeMixedDisc(dir, "template");
    struct Case {
        std::string stem;
        std::string control;  // empty: no control file at all
        std::string cause;
    };
    const std::string dataOnly = "[CloneCD]\nVersion=3\n[TRACK 1]\nMODE=1\nINDEX 1=0\n";
    const std::vector<Case> cases = {
        {"missing", "", " (not found)"},
        {"empty", " ", ""},
        {"garbage", std::string("\x7f\x45\x4c\x46\x02\x01\x01\x00\xff\xfe", 10), ""},
        {"data", dataOnly, ""},
        {"folder", "", " (it is a folder)"},
    };
    for (const Case& c : cases) {
        model::WriteFileBytes(dir / (c.stem + ".img"), disc.image);
        if (!c.control.empty()) {
            testing_support::WriteText(dir / (c.stem + ".ccd"), c.control);
        }
    }
    ASSERT_EQ(0, mkdir((dir / "folder.ccd").c_str(), 0755));
    const std::vector<std::string> names = dir.Names();
    for (const Case& c : cases) {
        for (const char* dryRun : {"-q", "-n"}) {
            Outcome o = RunCli({dryRun, dir / (c.stem + ".ccd")});
            EXPECT_EQ(1, o.status) << c.stem;
            EXPECT_EQ("", o.out);
            EXPECT_EQ("kestran: no audio track in " + (dir / (c.stem + ".ccd")) + c.cause +
                          "; nothing changed\n",
                      o.err);
        }
    }
    EXPECT_EQ(names, dir.Names());
    EXPECT_EQ(disc.image, model::ReadFileBytes(dir / "data.img"));
}

TEST(Cli, DryRunSaysWhatTheJobWouldDoAndTouchesNothing) {
    ScratchDir dir;
    Disc disc = MakeMixedDisc(dir, "disc");
    // Silence at the head of the first region, so that only the second one drops sound.
    Bytes image = disc.image;
    std::fill(image.begin() + 10 * kSector, image.begin() + 10 * kSector + 120, 0);
    image[10 * kSector + 50] = 7;
    model::WriteFileBytes(dir / "disc.img", image);
    Outcome o = RunCli({"-n", "--drive-offset", "30", dir / "disc.ccd"});
    EXPECT_EQ(0, o.status) << o.err;
    EXPECT_EQ(dir / "disc.img" +
                  ": would move the audio 30 samples (120 bytes) toward the start, 2 audio "
                  "regions, 60 sectors; nothing changed\n"
                  "  sectors 10-29, track 2: its first 30 samples would be dropped, 1 of them "
                  "not silence\n"
                  "  sectors 40-59, track 4: its first 30 samples would be dropped, 30 of them "
                  "not silence\n",
              o.out);
    EXPECT_EQ("", o.err);
    EXPECT_EQ((std::vector<std::string>{"disc.ccd", "disc.img"}), dir.Names());
    EXPECT_EQ(image, model::ReadFileBytes(dir / "disc.img"));

    // Toward the end the regions' tails are cut; a refusal is said as the job would say it.
    model::WriteFileBytes(dir / "other.img", disc.image);
    testing_support::WriteText(dir / "other.ccd", disc.control);
    testing_support::WriteText(dir / "other.old", "x");
    Outcome both = RunCli({"--dry-run", "-o", "+1", dir / "disc.ccd", dir / "other.ccd"});
    EXPECT_EQ(1, both.status);
    EXPECT_NE(std::string::npos, both.out.find("  sectors 40-59, track 4: its last 1 sample would "
                                               "be dropped, 1 of them not silence\n"))
        << both.out;
    EXPECT_EQ("kestran: " + (dir / "other.old") + " already exists: move it away first\n",
              both.err);
    EXPECT_EQ(
        (std::vector<std::string>{"disc.ccd", "disc.img", "other.ccd", "other.img", "other.old"}),
        dir.Names());
}

// True once process `pid` has the file at `path` open.
bool HasOpen(pid_t pid, const std::string& path) {
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    for (const std::string& name : testing_support::NamesIn(folder)) {
        char target[4096];
        ssize_t n = readlink((folder + "/" + name).c_str(), target, sizeof(target));
        if (n > 0 && std::string(target, static_cast<size_t>(n)) == path) {
            return true;
        }
    }
    return false;
}

// Starts kestran with its output `stream` (1 or 2) going into the pipe `ends`, whose writing end
// it then closes here; returns the process id.
pid_t StartCli(std::vector<std::string> args, int stream, int ends[2]) {
    std::vector<char*> argv = Argv(args);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(ends[1], stream);
        close(ends[0]);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(ends[1]);
    return pid;
}

// Reading a very long control file takes minutes: Ctrl-C then stops the job before anything is
// renamed. The signal comes while the control file is open, long before its end.
TEST(Cli, InterruptDuringTheControlFileScanChangesNothing) {
    ScratchDir dir;
    Disc disc = MakeMixedDisc(dir, "disc");
    const std::string control = std::string(16 << 20, '\n') + disc.control;
    testing_support::WriteText(dir / "disc.ccd", control);
    MakeMixedDisc(dir, "next");

    int err[2];
    ASSERT_EQ(0, pipe(err));
    pid_t pid = StartCli({dir / "disc.ccd", dir / "next.ccd"}, 2, err);
    bool sent = false;
    for (int i = 0; i < 60000 && !sent; ++i) {
        if (HasOpen(pid, dir / "disc.ccd")) {
            sent = kill(pid, SIGINT) == 0;
        } else {
            usleep(1000);
        }
    }
    std::string output = ReadAll(err[0]);
    close(err[0]);
    int status = ExitStatus(pid);
    ASSERT_TRUE(sent) << output;
    EXPECT_EQ(130, status) << output;
    EXPECT_EQ("kestran: " + (dir / "disc.ccd") + ": cancelled; nothing was changed\n", output);
    EXPECT_EQ((std::vector<std::string>{"disc.ccd", "disc.img", "next.ccd", "next.img"}),
              dir.Names());
    EXPECT_EQ(disc.image, model::ReadFileBytes(dir / "disc.img"));
    EXPECT_EQ(control.size(), model::ReadFileBytes(dir / "disc.ccd").size());
}

TEST(Cli, SampleDiscShiftsAsTheModelSays) {
    ScratchDir dir;
    std::string tool = SAMPLE_DISC_TOOL_PATH;
    std::string command = tool + " --data 300 --tracks 2 --track-length 400 '" +
                          (dir / "sample.ccd") + "' >/dev/null";
    ASSERT_EQ(0, system(command.c_str()));
    Bytes image = model::ReadFileBytes(dir / "sample.img");
    ASSERT_EQ(static_cast<size_t>(300 + 150 + 800) * kSector, image.size());
    Outcome o = RunCli({dir / "sample.ccd"});
    EXPECT_EQ(0, o.status) << o.err;
    // The pregap and both tone tracks make one audio region after the data track.
    EXPECT_EQ(model::ExpectedImage(image, model::AudioSectorsFromRanges({{300, 1250}}, 1250), -30),
              model::ReadFileBytes(dir / "sample.img"));
}

// The sample-disc tool's discs of two sessions have the layouts of the test discs CdExtra() and
// AudioSession(): the model says where their audio lies.
TEST(Cli, SampleDiscsOfTwoSessionsShiftOnlyTheirAudio) {
    struct Case {
        const char* options;
        testing_support::SessionDisc layout;
        bool gapStored;
        const char* shift;
    };
    const Case cases[] = {
        {"--cd-extra", testing_support::CdExtra(), false, "-30"},
        {"--cd-extra --store-gap", testing_support::CdExtra(), true, "2348"},
        {"--audio-session", testing_support::AudioSession(), false, "-2348"},
        {"--audio-session --store-gap", testing_support::AudioSession(), true, "30"},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        std::string command = std::string(SAMPLE_DISC_TOOL_PATH) + " --data 300 --tracks 2 " +
                              "--track-length 400 " + c.options + " '" + (dir / "two.ccd") +
                              "' >/dev/null";
        ASSERT_EQ(0, system(command.c_str())) << c.options;
        Bytes image = model::ReadFileBytes(dir / "two.img");
        std::vector<bool> audio = testing_support::MakeSessionDisc(c.layout, c.gapStored, 0).audio;
        ASSERT_EQ(audio.size() * kSector, image.size()) << c.options;
        Outcome o = RunCli({"-o", c.shift, dir / "two.ccd"});
        EXPECT_EQ(0, o.status) << o.err;
        EXPECT_TRUE(model::ExpectedImage(image, audio, std::stoi(c.shift)) ==
                    model::ReadFileBytes(dir / "two.img"))
            << c.options;
        EXPECT_EQ(image, model::ReadFileBytes(dir / "two.old"));
    }
}

TEST(Cli, MultiSessionLayoutsThatDoNotFitAreRefused) {
    ScratchDir dir;
    std::string command = std::string(SAMPLE_DISC_TOOL_PATH) +
                          " --data 300 --tracks 2 --track-length 400 --cd-extra '" +
                          (dir / "short.ccd") + "' >/dev/null";
    ASSERT_EQ(0, system(command.c_str()));
    Bytes image = model::ReadFileBytes(dir / "short.img");
    image.resize(image.size() - kSector);
    model::WriteFileBytes(dir / "short.img", image);
    Bytes control = model::ReadFileBytes(dir / "short.ccd");
    testing_support::WriteText(dir / "odd.ccd",
                               "[Entry 99]\r\nSession=2\r\nPoint=0x03\r\n"
                               "ADR=0x01\r\nPLBA=5\r\n" +
                                   std::string(control.begin(), control.end()));
    model::WriteFileBytes(dir / "odd.img", image);
    // Without its entries, the file reads as one session whose data track lies past the image.
    const std::string text(control.begin(), control.end());
    testing_support::WriteText(dir / "bare.ccd", text.substr(text.find("[TRACK 1]")));
    model::WriteFileBytes(dir / "bare.img", image);

    Outcome o = RunCli({dir / "short.ccd", dir / "odd.ccd", dir / "bare.ccd"});
    EXPECT_EQ(1, o.status);
    EXPECT_EQ("kestran: " + (dir / "short.ccd") +
                  ": multi-session layout does not match the image size; nothing was changed\n" +
                  "kestran: " + (dir / "odd.ccd") +
                  ": multi-session layout contradicts itself or has more than 8 sessions or 99 "
                  "tracks; nothing was changed\n" +
                  "kestran: " + (dir / "bare.ccd") +
                  ": track 3 lies past the last of the 1099 whole sectors of " +
                  (dir / "bare.img") +
                  ": the control file does not describe this image; nothing was changed\n",
              o.err);
    EXPECT_EQ(image, model::ReadFileBytes(dir / "short.img"));
    EXPECT_EQ(image, model::ReadFileBytes(dir / "bare.img"));
    EXPECT_EQ((std::vector<std::string>{"bare.ccd", "bare.img", "odd.ccd", "odd.img", "short.ccd",
                                        "short.img"}),
              dir.Names());
}

}  // namespace

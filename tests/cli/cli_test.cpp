#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdint.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <regex>
#include <string>
#include <vector>

#include "image_model.h"
#include "scratch_dir.h"
#include "test_disc.h"

namespace {

using model::Bytes;
using testing_support::Disc;
using testing_support::Exists;
using testing_support::Expected;
using testing_support::ScratchDir;

constexpr int32_t kSector = 2352;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof(buffer))) > 0) {
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

std::vector<char*> Argv(std::vector<std::string>& args) {
    std::vector<char*> argv;
    static std::string program = KESTRAN_CLI_PATH;
    argv.push_back(&program[0]);
    for (auto& a : args) {
        argv.push_back(&a[0]);
    }
    argv.push_back(nullptr);
    return argv;
}

int ExitStatus(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs kestran with pipes for its output.
Outcome RunCli(std::vector<std::string> args) {
    int out[2];
    int err[2];
    EXPECT_EQ(0, pipe(out));
    EXPECT_EQ(0, pipe(err));
    std::vector<char*> argv = Argv(args);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    Outcome outcome;
    // The outputs are small: read stderr fully after stdout without fear of a full pipe.
    outcome.out = ReadAll(out[0]);
    outcome.err = ReadAll(err[0]);
    close(out[0]);
    close(err[0]);
    outcome.status = ExitStatus(pid);
    return outcome;
}

// The mixed-mode disc, written as STEM.ccd and STEM.img.
Disc MakeMixedDisc(const ScratchDir& dir, const std::string& stem, int32_t sectors = 60) {
    return testing_support::PlaceDisc(dir.path(), stem, testing_support::MixedRuns(sectors),
                                      static_cast<uint32_t>(sectors + stem.size()));
}

TEST(Cli, ShiftsWithEachOffsetSpelling) {
    struct Case {
        std::vector<std::string> options;
        int32_t shift;
    };
    const Case cases[] = {
        {{}, -30},
        {{"-o", "12"}, 12},
        {{"-o", "-2348"}, -2348},
        {{"--offset", "-7"}, -7},
        {{"--offset=588"}, 588},
        {{"-o-5"}, -5},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        Disc disc = MakeMixedDisc(dir, "disc");
        std::vector<std::string> args = c.options;
        args.push_back(dir / "disc.ccd");
        Outcome o = RunCli(args);
        EXPECT_EQ(0, o.status) << o.err;
        EXPECT_EQ(dir / "disc.img" + ": shifted by " + std::to_string(c.shift) +
                      " samples, 2 audio regions, 60 sectors; original kept as " +
                      (dir / "disc.old") + "\n",
                  o.out);
        EXPECT_EQ("", o.err);
        EXPECT_EQ(Expected(disc, c.shift), model::ReadFileBytes(dir / "disc.img"));
        EXPECT_EQ(disc.image, model::ReadFileBytes(dir / "disc.old"));
    }
}

TEST(Cli, UsageErrorsExitWith2) {
    const std::vector<std::vector<std::string>> cases = {
        {}, {"-o"}, {"--bogus", "x.ccd"}, {"-q"}, {"--offset"},
    };
    for (const auto& args : cases) {
        Outcome o = RunCli(args);
        EXPECT_EQ(2, o.status) << testing::PrintToString(args);
        EXPECT_NE(std::string::npos, o.err.find("kestran --help"));
        EXPECT_EQ("", o.out);
    }
}

TEST(Cli, HelpAndVersion) {
    Outcome help = RunCli({"--help"});
    EXPECT_EQ(0, help.status);
    EXPECT_EQ(0u, help.out.find("Usage: kestran"));
    Outcome version = RunCli({"--version"});
    EXPECT_EQ(0, version.status);
    EXPECT_EQ("kestran " KESTRAN_VERSION "\n", version.out);
}

TEST(Cli, RefusalsSayWhyAndChangeNothing) {
    ScratchDir dir;
    Disc taken = MakeMixedDisc(dir, "taken");
    testing_support::WriteText(dir / "taken.old", "older");
    MakeMixedDisc(dir, "fine");
    testing_support::WriteText(dir / "lonely.ccd", taken.control);
    testing_support::WriteText(dir / "notes.txt", "x");

    Outcome o =
        RunCli({dir / "taken.ccd", dir / "lonely.ccd", dir / "notes.txt", dir / "fine.ccd"});
    EXPECT_EQ(1, o.status);
    EXPECT_EQ(dir / "taken.old" + " already exists: move it away first\n" + (dir / "lonely.img") +
                  " not found\n" + (dir / "notes.txt") + ": not a .ccd control file\n",
              o.err);
    // The files after a refused one are still processed, in order.
    EXPECT_NE(std::string::npos, o.out.find(dir / "fine.img" + ": shifted by -30 samples"));
    EXPECT_EQ(taken.image, model::ReadFileBytes(dir / "taken.img"));
    EXPECT_FALSE(Exists(dir / "lonely.old"));

    Outcome range = RunCli({"-o", "5000", dir / "taken.ccd"});
    EXPECT_EQ(1, range.status);
    EXPECT_EQ(dir / "taken.ccd" + ": offset 5000 is outside -2348..2348\n", range.err);
    Outcome huge = RunCli({"--offset=99999999999", dir / "taken.ccd"});
    EXPECT_EQ(1, huge.status);
    EXPECT_NE(std::string::npos, huge.err.find("offset 99999999999 is outside"));

    EXPECT_EQ((std::vector<std::string>{"fine.ccd", "fine.img", "fine.old", "lonely.ccd",
                                        "notes.txt", "taken.ccd", "taken.img", "taken.old"}),
              dir.Names());
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

TEST(Cli, QuietPrintsNothing) {
    ScratchDir dir;
    MakeMixedDisc(dir, "disc");
    Outcome ok = RunCli({"-q", dir / "disc.ccd"});
    EXPECT_EQ(0, ok.status);
    Outcome refused = RunCli({"-q", dir / "disc.ccd"});
    EXPECT_EQ(1, refused.status);
    EXPECT_EQ("", ok.out + ok.err + refused.out + refused.err);
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

template <typename Watch>
TerminalRun RunOnTerminal(std::vector<std::string> args, Watch onOutput) {
    std::vector<char*> argv = Argv(args);
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
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
    EXPECT_NE(std::string::npos, run.output.find("\r\033[K" + (dir / "disc.img") + ": shifted"));
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
        bool sent = false;
        TerminalRun run = RunOnTerminal(
            {dir / "long.ccd", dir / "next.ccd"}, [&](pid_t pid, const std::string& output) {
                if (!sent && output.find("] 0/30000 sectors") != std::string::npos) {
                    // The bar appears as the rewrite starts: hold the job still so that the
                    // request lands long before its end.
                    kill(pid, SIGSTOP);
                    kill(pid, signal_number);
                    kill(pid, SIGCONT);
                    sent = true;
                }
            });
        ASSERT_TRUE(sent) << run.output;
        EXPECT_EQ(128 + signal_number, run.status) << run.output;
        std::smatch match;
        std::regex line(R"(long\.img: cancelled after ([0-9]+) of 30000 sectors)");
        ASSERT_TRUE(std::regex_search(run.output, match, line)) << run.output;
        int32_t done = std::stoi(match[1]);
        EXPECT_EQ(0, done % 1024);
        EXPECT_GE(done, 1024);
        EXPECT_LT(done, sectors);
        EXPECT_NE(std::string::npos, run.output.find("kept whole as " + (dir / "long.old")));
        EXPECT_EQ(image, model::ReadFileBytes(dir / "long.old"));
        EXPECT_EQ(model::ExpectedImage(image, model::AudioSectors({0}, done), -30),
                  model::ReadFileBytes(dir / "long.img"));
        // No further file is started after a cancel.
        EXPECT_EQ(std::string::npos, run.output.find("next.img"));
    }
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

    Outcome o = RunCli({dir / "short.ccd", dir / "odd.ccd"});
    EXPECT_EQ(1, o.status);
    EXPECT_EQ(dir / "short.ccd" +
                  ": multi-session layout does not match the image size; nothing was changed\n" +
                  (dir / "odd.ccd") +
                  ": multi-session layout contradicts itself or has more than 8 sessions or 99 "
                  "tracks; nothing was changed\n",
              o.err);
    EXPECT_EQ(image, model::ReadFileBytes(dir / "short.img"));
    EXPECT_EQ((std::vector<std::string>{"odd.ccd", "odd.img", "short.ccd", "short.img"}),
              dir.Names());
}

}  // namespace

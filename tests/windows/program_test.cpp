// Starts kestran.exe with literal command lines, as a shell or a shortcut would, and judges what
// it leaves on disk and how it ends.
#include <stdio.h>
#include <windows.h>

#include <string>

#include "disc_fixture.h"
#include "gtest/gtest.h"

namespace {

using fixture::Disc;

std::string Program;  // the quoted path of kestran.exe, as the start of every command line

struct Started {
    PROCESS_INFORMATION process;
    bool ok;
};

Started Start(const std::string& arguments) {
    std::string line = Program + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    Started started = {};
    started.ok = CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                                &started.process) != 0;
    return started;
}

// Waits for the process to end on its own; returns its exit code, or -1 after the timeout
// (the process is then ended).
long WaitForExit(Started& started, DWORD milliseconds) {
    DWORD code = 0;
    if (WaitForSingleObject(started.process.hProcess, milliseconds) != WAIT_OBJECT_0) {
        TerminateProcess(started.process.hProcess, 99);
        WaitForSingleObject(started.process.hProcess, 5000);
        code = static_cast<DWORD>(-1);
    } else {
        GetExitCodeProcess(started.process.hProcess, &code);
    }
    CloseHandle(started.process.hThread);
    CloseHandle(started.process.hProcess);
    return static_cast<long>(code);
}

long RunKestran(const std::string& arguments) {
    Started started = Start(arguments);
    EXPECT_TRUE(started.ok) << Program << arguments;
    return started.ok ? WaitForExit(started, 60000) : -2;
}

struct Search {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<Search*>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char title[64];
    if (owner == search->processId && GetWindowTextA(window, title, sizeof(title)) > 0 &&
        strcmp(title, "KESTRAN") == 0 && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND WaitForWindow(DWORD processId) {
    for (int i = 0; i < 200; ++i) {
        Search search = {processId, NULL};
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found != NULL) {
            return search.found;
        }
        Sleep(50);
    }
    return NULL;
}

class ProgramRun : public ::testing::Test {
  protected:
    void SetUp() override { folder_ = fixture::MakeScratchFolder("my discs"); }
    Disc MakeDisc(const std::string& name, uint32_t seed) {
        return fixture::MakeDisc(folder_, name, 1500, 200, 1400, seed, 7);
    }
    std::string folder_;
};

TEST_F(ProgramRun, AQuotedPathWithBlanksIsShiftedAndTheProcessEnds) {
    Disc disc = MakeDisc("disc one", 1);
    EXPECT_EQ(RunKestran(" \"" + disc.controlPath + "\""), 0);
    fixture::ExpectShifted(disc, -30);
}

TEST_F(ProgramRun, AnUnquotedPathWithBlanksIsTakenWhole) {
    Disc disc = MakeDisc("disc two", 2);
    EXPECT_EQ(RunKestran(" \t" + disc.controlPath), 0);
    fixture::ExpectShifted(disc, -30);
}

TEST_F(ProgramRun, ATrailingBlankBelongsToThePathAndIsRefused) {
    Disc disc = MakeDisc("plain", 3);
    EXPECT_EQ(RunKestran(" " + disc.controlPath + " "), 0);
    fixture::ExpectUntouched(disc);
}

TEST_F(ProgramRun, OfTwoQuotedPathsOnlyTheFirstIsUsed) {
    Disc first = MakeDisc("first", 4);
    Disc second = MakeDisc("second", 5);
    EXPECT_EQ(RunKestran(" \"" + first.controlPath + "\" \"" + second.controlPath + "\""), 0);
    fixture::ExpectShifted(first, -30);
    fixture::ExpectUntouched(second);
}

TEST_F(ProgramRun, AMultiSessionDiscShiftsOnlyItsAudioAndOneThatDoesNotFitIsLeftAlone) {
    Disc extra =
        fixture::MakeSessionDisc(folder_, "cd extra", testing_support::CdExtra(), false, 8);
    EXPECT_EQ(RunKestran(" \"" + extra.controlPath + "\""), 0);
    fixture::ExpectShifted(extra, -30);
    Disc misfit =
        fixture::MakeSessionDisc(folder_, "misfit", testing_support::CdExtra(), false, 9, 2352);
    EXPECT_EQ(RunKestran(" \"" + misfit.controlPath + "\""), 0);
    fixture::ExpectUntouched(misfit);
}

// A cue sheet naming the same image is shifted as its control file would be.
TEST_F(ProgramRun, ACueSheetOnTheCommandLineIsShiftedAsItsControlFile) {
    Disc disc = fixture::MakeDisc(folder_, "cue disc", 1500, 200, 1400, 12);
    std::string cue = folder_ + "\\cue disc.cue";
    FILE* sheet = fopen(cue.c_str(), "wb");
    ASSERT_NE(sheet, nullptr);
    fputs(
        "FILE \"cue disc.img\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
        "  TRACK 02 AUDIO\n    INDEX 01 00:02:50\n  TRACK 03 MODE1/2352\n    INDEX 01 00:18:50\n",
        sheet);
    fclose(sheet);
    EXPECT_EQ(RunKestran(" \"" + cue + "\""), 0);
    fixture::ExpectShifted(disc, -30);
}

TEST_F(ProgramRun, AnEmptyPairOfQuotesEndsTheProcess) {
    EXPECT_EQ(RunKestran(" \"\""), 0);
}

TEST_F(ProgramRun, APathOverTheLimitIsRefused) {
    Disc disc = MakeDisc("disc", 6);
    // Names a real file once the detours are resolved, but has more than 1023 bytes.
    std::string path = folder_;
    while (path.size() < 3000) {
        path += "\\x\\..";
    }
    path += "\\disc.ccd";
    EXPECT_EQ(RunKestran(" \"" + path + "\""), 0);
    fixture::ExpectUntouched(disc);
}

TEST_F(ProgramRun, WithoutAPathTheWindowStaysUntilClosed) {
    for (const char* arguments : {"", "   \t "}) {
        Started started = Start(arguments);
        ASSERT_TRUE(started.ok);
        HWND window = WaitForWindow(started.process.dwProcessId);
        ASSERT_NE(window, nullptr) << "no window for [" << arguments << "]";
        EXPECT_EQ(WaitForSingleObject(started.process.hProcess, 1000), (DWORD)WAIT_TIMEOUT)
            << "the process ended without a close request";
        PostMessageA(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(WaitForExit(started, 20000), 0);
    }
}

}  // namespace

// The first argument is kestran.exe; a Unix path from the test driver is reached through Z:.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        fprintf(stderr, "usage: program_test PATH\\kestran.exe\n");
        return 2;
    }
    std::string path = argv[1];
    if (!path.empty() && path[0] == '/') {
        path = "Z:" + path;
    }
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    Program = "\"" + path + "\"";
    return RUN_ALL_TESTS();
}

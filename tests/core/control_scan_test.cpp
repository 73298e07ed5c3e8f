#include "control_scan.h"

#include <gtest/gtest.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "fake_host.h"
#include "file.h"
#include "scratch_dir.h"

namespace {

using testing_support::ScratchDir;

// Scans `text` as a control file; returns the boundaries and checks the sentinel behind them.
std::vector<int32_t> Scan(const std::string& text) {
    ScratchDir dir;
    testing_support::WriteText(dir / "disc.ccd", text);
    File file;
    EXPECT_TRUE(file.OpenForReading((dir / "disc.ccd").c_str()));
    char buffer[TEXT_BUFFER_SIZE];
    BoundaryList list;
    for (auto& entry : list) {
        entry = -7;
    }
    int32_t count = ScanControlFile(file, buffer, list);
    EXPECT_GE(count, 0);
    EXPECT_LT(count, BOUNDARY_LIST_SIZE);
    if (count < 0 || count >= BOUNDARY_LIST_SIZE) {
        return {};
    }
    EXPECT_EQ(END_SENTINEL, list[count]);
    for (int32_t i = count + 1; i < BOUNDARY_LIST_SIZE; ++i) {
        EXPECT_EQ(-7, list[i]) << "entry " << i << " written past the sentinel";
    }
    return std::vector<int32_t>(list, list + count);
}

std::string Join(const std::vector<std::string>& lines, const std::string& ending) {
    std::string text;
    for (const auto& line : lines) {
        text += line + ending;
    }
    return text;
}

const std::vector<std::string> kWorkedExample = {
    "[Disc]",      "[TRACK 1]",   "MODE=1",      "INDEX 1=0", "[TRACK 2]",
    "MODE=0",      "INDEX 0=300", "INDEX 1=450", "[TRACK 3]", "MODE=0",
    "INDEX 0=600", "INDEX 1=750", "[TRACK 4]",   "MODE=2",    "INDEX 1=900",
};

TEST(ScanControlFile, WorkedExampleWithEveryLineEnding) {
    for (const char* ending : {"\n", "\r", "\r\n", "\n\n", "\r\n\r\n"}) {
        EXPECT_EQ((std::vector<int32_t>{300, 900}), Scan(Join(kWorkedExample, ending)))
            << "ending " << testing::PrintToString(std::string(ending));
    }
    // No newline after the last line.
    std::string text = Join(kWorkedExample, "\r\n");
    text.resize(text.size() - 2);
    EXPECT_EQ((std::vector<int32_t>{300, 900}), Scan(text));
}

struct ScanCase {
    const char* name;
    std::vector<std::string> lines;
    std::vector<int32_t> expected;
};

TEST(ScanControlFile, Layouts) {
    const std::vector<ScanCase> cases = {
        {"audio disc",
         {"[TRACK 1]", "MODE=0", "INDEX 1=0", "[TRACK 2]", "MODE=0", "INDEX 0=1000",
          "INDEX 1=1150"},
         {0}},
        {"data then audio with pregap",
         {"[TRACK 1]", "MODE=1", "INDEX 1=0", "[TRACK 2]", "MODE=0", "INDEX 0=600", "INDEX 1=750"},
         {600}},
        {"audio then data",
         {"[TRACK 1]", "INDEX 1=0", "[TRACK 2]", "MODE=1", "INDEX 1=900"},
         {0, 900}},
        {"audio, data, audio",
         {"[TRACK 1]", "MODE=0", "INDEX 1=0", "[TRACK 2]", "MODE=2", "INDEX 1=500", "[TRACK 3]",
          "MODE=0", "INDEX 1=800"},
         {0, 500, 800}},
        {"data only",
         {"[TRACK 1]", "MODE=1", "INDEX 1=0", "[TRACK 2]", "MODE=2", "INDEX 1=99"},
         {}},
        {"keywords before the first track are ignored",
         {"MODE=0", "INDEX 1=5", "[Session 1]", "[TRACK 1]", "MODE=1", "INDEX 1=0", "[TRACK 2]",
          "MODE=0", "INDEX 1=20"},
         {20}},
        {"mixed and lower case keywords",
         {"[track 1]", "mode=1", "index 1=0", "[Track 2]", "Mode=0", "InDeX 1=40"},
         {40}},
        {"keywords must be whole tokens",
         {"[TRACKS 1]", "[TRACK 1]", "MODE2=1", "INDEXES 1=3", "INDEX 1=7"},
         {7}},
        {"a negative value loses its sign", {"[TRACK 1]", "MODE=0", "INDEX 1=-150"}, {150}},
        {"data pregap closes at index 0",
         {"[TRACK 1]", "MODE=0", "INDEX 1=0", "[TRACK 2]", "MODE=1", "INDEX 0=700", "INDEX 1=850"},
         {0, 700}},
        {"empty and separator-only lines",
         {"", "[TRACK 1]", "   ", "==[]--", "\t", "MODE=0", "", "INDEX 1=3"},
         {3}},
        {"a MODE without value is skipped",
         {"[TRACK 1]", "MODE=1", "INDEX 1=0", "[TRACK 2]", "MODE=", "INDEX 1=10"},
         {}},
        {"an INDEX without sector is skipped",
         {"[TRACK 1]", "MODE=0", "INDEX 1", "INDEX=", "INDEX 1=30"},
         {30}},
        {"a MODE that is not a number means audio",
         {"[TRACK 1]", "MODE=1", "INDEX 1=0", "[TRACK 2]", "MODE=AUDIO", "INDEX 1=12"},
         {12}},
        {"a sector number too large for 32 bits",
         {"[TRACK 1]", "MODE=0", "INDEX 1=99999999999"},
         {END_SENTINEL}},
        {"a mode too large for 32 bits is data",
         {"[TRACK 1]", "MODE=0", "INDEX 1=0", "[TRACK 2]", "MODE=99999999999", "INDEX 1=8"},
         {0, 8}},
        {"tokens end at non-ASCII bytes",
         {"[TRACK\xe9 1]", "MODE\xc3\xa9=0",
          "INDEX 1=\xff"
          "5"},
         {5}},
        {"values keep only their leading digits", {"[TRACK 1]", "INDEX 1=12ab"}, {12}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, Scan(Join(c.lines, "\r\n"))) << c.name;
    }
}

TEST(ScanControlFile, NulByteEndsTheScan) {
    std::string text = "[TRACK 1]\nMODE=1\nINDEX 1=0\n[TRACK 2]\nMODE=0\nINDEX 1=40\n";
    std::string tail = "[TRACK 3]\nMODE=1\nINDEX 1=90\n";
    EXPECT_EQ((std::vector<int32_t>{40, 90}), Scan(text + tail));
    EXPECT_EQ((std::vector<int32_t>{40}), Scan(text + std::string(1, '\0') + tail));
    // A NUL inside a line ends that line, which still counts, and the scan.
    EXPECT_EQ((std::vector<int32_t>{4}),
              Scan("[TRACK 1]\nINDEX 1=4" + std::string(1, '\0') + "0\n"));
}

TEST(ScanControlFile, EmptyOrUnreadableFileGivesOnlyTheSentinel) {
    EXPECT_EQ(std::vector<int32_t>{}, Scan(""));
    File closed;
    char buffer[TEXT_BUFFER_SIZE];
    BoundaryList list;
    EXPECT_EQ(0, ScanControlFile(closed, buffer, list));
    EXPECT_EQ(END_SENTINEL, list[0]);
}

// A very long file takes minutes to read: given a host, a scan stops where it finds the busy flag
// clear, and reads a file to its end as without a host while the flag stays set.
TEST(ScanControlFile, AClearBusyFlagStopsALongScan) {
    ScratchDir dir;
    testing_support::WriteText(
        dir / "disc.ccd", std::string(3 * CANCEL_CHECK_LINES, '\n') + Join(kWorkedExample, "\n"));
    for (int32_t busy : {1, 0}) {
        File file;
        ASSERT_TRUE(file.OpenForReading((dir / "disc.ccd").c_str()));
        char buffer[TEXT_BUFFER_SIZE];
        ControlScan scan;
        FakeHost host;
        host.busy = busy;
        ScanControlFile(file, buffer, scan, &host);
        EXPECT_EQ(busy == 0, scan.cancelled);
        // Every CANCEL_CHECK_LINES lines while the flag is set; once when it is found clear.
        EXPECT_EQ(busy == 0 ? 1u : 3u, host.events.size());
        std::vector<int32_t> boundaries(scan.boundaries, scan.boundaries + scan.boundaryCount);
        EXPECT_EQ(busy == 0 ? std::vector<int32_t>{} : Scan(Join(kWorkedExample, "\n")),
                  boundaries);
    }
}

TEST(ScanControlFile, LongLinesAreTakenIn1023BytePieces) {
    // The padding fills exactly one piece, so "INDEX 1=77" starts the next piece as a line.
    std::string padding = "[TRACK 1]" + std::string(1023 - 9, ' ');
    EXPECT_EQ((std::vector<int32_t>{77}), Scan(padding + "INDEX 1=77\n"));
    // One byte more and the keyword is cut: "I" ends the first piece.
    std::string cut = "[TRACK 1]\n" + std::string(1022, ' ') + "INDEX 1=77\n";
    EXPECT_EQ(std::vector<int32_t>{}, Scan(cut));
    // A CR at the end of a piece and its LF at the start of the next count as an empty line.
    std::string crlf = "[TRACK 1]\n" + std::string(1022, ' ') + "\r\nINDEX 1=5\n";
    EXPECT_EQ((std::vector<int32_t>{5}), Scan(crlf));
}

TEST(ScanControlFile, ManyTokensOnALine) {
    std::string line = "INDEX 1=66";
    for (int i = 0; i < 30; ++i) {
        line += " t" + std::to_string(i);
    }
    EXPECT_EQ((std::vector<int32_t>{66}), Scan("[TRACK 1]\n" + line + "\n"));
}

TEST(ScanControlFile, MoreRegionsThanTheListHoldsLeaveTheRestAsData) {
    std::string text;
    for (int track = 0; track < 300; ++track) {
        text += "[TRACK " + std::to_string(track + 1) + "]\nMODE=" + (track % 2 == 0 ? "0" : "1") +
                "\nINDEX 1=" + std::to_string(track * 10) + "\n";
    }
    std::vector<int32_t> list = Scan(text);
    ASSERT_EQ(static_cast<size_t>(MAX_BOUNDARIES), list.size());
    for (size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(static_cast<int32_t>(i * 10), list[i]);
    }
    // Every audio region that was opened is closed again.
    EXPECT_EQ(0u, list.size() % 2);
}

TEST(SplitTokens, CutsInPlaceAndNeverFillsMoreThanTheTable) {
    struct Case {
        std::string line;
        std::vector<std::string> tokens;
        std::vector<bool> minus;  // right after a minus sign, even one that the cut overwrote
    };
    const Case cases[] = {
        {"[TRACK 2]", {"TRACK", "2"}, {false, false}},
        {"MODE=0", {"MODE", "0"}, {false, false}},
        {"INDEX 1=300", {"INDEX", "1", "300"}, {false, false, false}},
        {"Name=abc-1", {"Name", "abc", "1"}, {false, false, true}},
        {"PLBA=-150 -x", {"PLBA", "150", "x"}, {false, true, true}},
        {"  ==  ", {}, {}},
    };
    for (const auto& c : cases) {
        std::string line = c.line;
        char* table[TOKEN_TABLE_SIZE + 1];
        bool minus[TOKEN_TABLE_SIZE];
        int32_t count = SplitTokens(&line[0], table, minus);
        ASSERT_EQ(c.tokens.size(), static_cast<size_t>(count)) << c.line;
        for (int32_t i = 0; i < count; ++i) {
            EXPECT_EQ(c.tokens[i], table[i]);
            EXPECT_EQ(c.minus[i], minus[i]) << c.line << " token " << i;
        }
    }
    std::string many;
    for (int i = 0; i < 40; ++i) {
        many += "a" + std::to_string(i) + " ";
    }
    char* table[TOKEN_TABLE_SIZE + 1];
    table[TOKEN_TABLE_SIZE] = nullptr;
    EXPECT_EQ(TOKEN_TABLE_SIZE, SplitTokens(&many[0], table));
    EXPECT_EQ(nullptr, table[TOKEN_TABLE_SIZE]);
    EXPECT_STREQ("a15", table[15]);
}

}  // namespace

#include "cue_sheet.h"

#include <gtest/gtest.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "file.h"
#include "scratch_dir.h"

namespace {

using testing_support::ScratchDir;

constexpr int64_t S = 2352;

struct SheetCase {
    const char* name;
    std::string text;
    std::vector<int64_t> fileBytes;
    // What the sheet gives: "SHEET problem@line", "PLACE problem file track", or for each track
    // "first/index1" in the stream, with "sN" for a session above 1 and "pN"/"qN" for gaps.
    std::string expected;
};

std::string Describe(const CueSheet& sheet, const std::vector<int64_t>& fileBytes) {
    if (sheet.problem != SheetProblem::None) {
        return "SHEET " + std::to_string(static_cast<int>(sheet.problem)) + "@" +
               std::to_string(sheet.problemLine);
    }
    std::unique_ptr<CuePlacement> placement(new CuePlacement);
    std::vector<int64_t> sizes = fileBytes;
    sizes.resize(sheet.fileCount, 0);
    if (!PlaceCueSheet(sheet, sizes.data(), *placement)) {
        return "PLACE " + std::to_string(static_cast<int>(placement->problem)) + " " +
               std::to_string(placement->file) + " " + std::to_string(placement->track);
    }
    std::string text;
    for (int32_t t = 0; t < sheet.trackCount; ++t) {
        const SheetTrack& track = sheet.tracks[t];
        text += (t == 0 ? "" : " ") + std::to_string(placement->trackFirst[t]) + "/" +
                std::to_string(placement->trackIndex1[t]);
        text += track.session > 1 ? "s" + std::to_string(track.session) : "";
        text += track.pregap > 0 ? "p" + std::to_string(track.pregap) : "";
        text += track.postgap > 0 ? "q" + std::to_string(track.postgap) : "";
    }
    return text;
}

std::string Lines(const std::vector<std::string>& lines, const char* ending = "\n") {
    std::string text;
    for (const auto& line : lines) {
        text += line + ending;
    }
    return text;
}

std::string ManyFiles(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += "FILE \"t" + std::to_string(i) + ".bin\" BINARY\n";
    }
    return text;
}

const std::vector<std::string> kRedump = {
    "REM a mixed-mode disc as redump cuts it",
    "CATALOG 0000000000000",
    "FILE \"Game (Track 1).bin\" BINARY",
    "  TRACK 01 MODE1/2352",
    "    INDEX 01 00:00:00",
    "FILE \"Game (Track 2).bin\" BINARY",
    "  TRACK 02 AUDIO",
    "    FLAGS DCP",
    "    ISRC USXXX0000001",
    "    TITLE \"Tone\"",
    "    PERFORMER \"Someone\"",
    "    SONGWRITER \"Someone\"",
    "    INDEX 00 00:00:00",
    "    INDEX 01 00:02:00",
    "FILE \"Game (Track 3).bin\" BINARY",
    "  TRACK 03 AUDIO",
    "    INDEX 00 00:00:00",
    "    INDEX 01 00:02:00",
};
const std::string kRedumpText = Lines(kRedump);

TEST(CueSheet, ReadsAndPlacesEveryLayoutAndRefusesWithTheLineOrFile) {
    const std::vector<SheetCase> cases = {
        {"redump split set",
         kRedumpText,
         {1200 * S, 1650 * S, 1650 * S},
         "0/0 1200/1350 2850/3000"},
        {"CR LF",
         Lines(kRedump, "\r\n"),
         {1200 * S, 1650 * S, 1650 * S},
         "0/0 1200/1350 2850/3000"},
        {"CR", Lines(kRedump, "\r"), {1200 * S, 1650 * S, 1650 * S}, "0/0 1200/1350 2850/3000"},
        {"one file, BOM, lower case, unquoted name with blanks, MOTOROLA, gaps",
         "\xEF\xBB\xBF" + Lines({"file My Disc.bin  motorola ", "track 1 audio", "pregap 00:02:00",
                                 "index 1 0:0:0", "\tTRACK 2 AUDIO", "INDEX 0 00:20:00",
                                 "INDEX 01 00:22:00", "INDEX 02 00:30:00", "POSTGAP 00:00:10"},
                                "\r\n"),
         {3000 * S},
         "0/0p150 1500/1650q10"},
        {"gaps appended",
         Lines({"FILE \"a.bin\" BINARY", "TRACK 01 AUDIO", "INDEX 01 00:00:00", "TRACK 02 AUDIO",
                "INDEX 00 00:18:00", "FILE \"b.bin\" BINARY", "INDEX 01 00:00:00",
                "FILE \"c.bin\" BINARY", "TRACK 03 AUDIO", "INDEX 01 00:00:00"}),
         {1500 * S, 900 * S, 600 * S},
         "0/0 1350/1500 2400/2400"},
        {"CD-Extra",
         Lines({"REM SESSION 01", "FILE \"x (Track 1).bin\" BINARY", "TRACK 01 AUDIO",
                "INDEX 01 00:00:00", "FILE \"x (Track 2).bin\" BINARY", "TRACK 02 AUDIO",
                "INDEX 00 00:00:00", "INDEX 01 00:02:00", "REM SESSION 02",
                "FILE \"x (Track 3).bin\" BINARY", "TRACK 03 MODE2/2352", "INDEX 01 00:00:00"}),
         {1500 * S, 1650 * S, 1200 * S},
         "0/0 1500/1650 3150/3150s2"},
        {"data-first disc in one file, other sector data after audio",
         Lines({"FILE disc.bin BINARY", "TRACK 01 CDI/2352", "INDEX 01 00:00:00", "TRACK 02 AUDIO",
                "INDEX 00 00:16:00", "INDEX 01 00:18:00", "TRACK 03 MODE2/2352",
                "INDEX 01 00:40:00"}),
         {3600 * S},
         "0/0 1200/1350 3000/3000"},
        // Refusals of the sheet, with the line they name (BOM or not, line 1 is the first).
        {"no track", "FILE a.bin BINARY\n", {}, "SHEET 2@0"},
        {"too many files", ManyFiles(100) + "TRACK 01 AUDIO\n", {}, "SHEET 3@100"},
        {"track before file", "TRACK 01 AUDIO\n", {}, "SHEET 5@1"},
        {"track 00", "FILE a BINARY\nTRACK 00 AUDIO\n", {}, "SHEET 6@2"},
        {"track 100", "FILE a BINARY\nTRACK 100 AUDIO\n", {}, "SHEET 6@2"},
        {"track numbers not rising",
         "FILE a BINARY\nTRACK 02 AUDIO\nINDEX 01 00:00:00\nTRACK 2 AUDIO\n",
         {},
         "SHEET 6@4"},
        {"seconds 60", "FILE a BINARY\nTRACK 01 AUDIO\nINDEX 01 00:60:00\n", {}, "SHEET 7@3"},
        {"frames 75", "FILE a BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:75\n", {}, "SHEET 7@3"},
        {"two parts", "FILE a BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00\n", {}, "SHEET 7@3"},
        {"minutes too large",
         "FILE a BINARY\nTRACK 1 AUDIO\nINDEX 1 999999:00:00\n",
         {},
         "SHEET 7@3"},
        {"index 00 after 01",
         "FILE a BINARY\nTRACK 01 AUDIO\nINDEX 01 00:02:00\nINDEX 00 00:03:00\n",
         {},
         "SHEET 8@4"},
        {"next track before the one before it",
         "FILE a BINARY\nTRACK 1 AUDIO\nINDEX 1 00:02:00\nTRACK 2 AUDIO\nINDEX 1 00:01:00\n",
         {},
         "SHEET 8@5"},
        {"two tracks on one sector",
         "FILE a BINARY\nTRACK 1 AUDIO\nINDEX 1 00:02:00\nTRACK 2 AUDIO\nINDEX 1 00:02:00\n",
         {},
         "SHEET 8@5"},
        {"no INDEX 01 before the next track",
         "FILE a BINARY\nTRACK 1 AUDIO\nINDEX 0 0:0:0\nTRACK 2 AUDIO\nINDEX 1 0:2:0\n",
         {},
         "SHEET 9@2"},
        {"no INDEX 01 at the end",
         "FILE a BINARY\n\nTRACK 1 AUDIO\nINDEX 0 0:0:0\n",
         {},
         "SHEET 9@3"},
        {"index before track", "FILE a BINARY\nINDEX 01 00:00:00\n", {}, "SHEET 10@2"},
        {"pregap before track", "FILE a BINARY\nPREGAP 00:02:00\n", {}, "SHEET 10@2"},
        {"pregap in words", "FILE a BINARY\nTRACK 1 AUDIO\nPREGAP 2 seconds\n", {}, "SHEET 11@3"},
        {"sessions going back", "REM SESSION 02\nREM SESSION 01\n", {}, "SHEET 12@2"},
        {"session not a number", "REM SESSION two\n", {}, "SHEET 12@1"},
        {"name too long", "FILE \"" + std::string(1100, 'n') + "\" BINARY\n", {}, "SHEET 13@1"},
        {"unclosed quote", "FILE \"a.bin BINARY\n", {}, "SHEET 14@1"},
        {"no type",
         "\xEF\xBB\xBF"
         "FILE a.bin\n",
         {},
         "SHEET 14@1"},
        {"NUL byte", kRedumpText + std::string(1, '\0') + "FILE d BINARY\n", {}, "SHEET 1@0"},
        // Refusals of the placement, with the file (from 0) and track they name.
        {"not whole sectors", kRedumpText, {1200 * S, 1650 * S + 4, 1650 * S}, "PLACE 1 1 0"},
        {"index at the end of its file", kRedumpText, {1200 * S, 150 * S, 1650 * S}, "PLACE 2 1 2"},
        {"index 00 of a gaps-appended track past the end of the file before",
         Lines({"FILE a BINARY", "TRACK 1 AUDIO", "INDEX 1 0:0:0", "TRACK 2 AUDIO",
                "INDEX 0 0:20:0", "FILE b BINARY", "INDEX 1 0:0:0"}),
         {1500 * S, 100 * S},
         "PLACE 2 0 2"},
        {"audio in a WAVE file",
         "FILE a.wav WAVE\nTRACK 1 AUDIO\nINDEX 1 0:0:0\n",
         {100 * S},
         "PLACE 3 0 1"},
        {"audio beside CDG",
         "FILE a BINARY\nTRACK 1 CDG\nINDEX 1 0:0:0\nTRACK 2 AUDIO\nINDEX 1 0:2:0\n",
         {300 * S},
         "PLACE 3 0 2"},
        {"audio and MODE1/2048 across a gaps-appended break",
         Lines({"FILE a BINARY", "TRACK 1 MODE1/2048", "INDEX 1 0:0:0", "FILE b BINARY",
                "TRACK 2 AUDIO", "INDEX 1 0:0:0"}),
         {300 * 2048, 300 * S},
         "PLACE 4 0 1"},
        {"unknown track type",
         Lines({"FILE a BINARY", "TRACK 1 AUDIO", "INDEX 1 0:0:0", "FILE b BINARY",
                "TRACK 2 MODE3/9999", "INDEX 1 0:0:0"}),
         {300 * S, 300 * S},
         "PLACE 4 1 2"},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        testing_support::WriteText(dir / "disc.cue", c.text);
        File file;
        ASSERT_TRUE(file.OpenForReading((dir / "disc.cue").c_str()));
        char buffer[TEXT_BUFFER_SIZE];
        std::unique_ptr<CueSheet> sheet(new CueSheet);
        ReadCueSheet(file, buffer, *sheet);
        EXPECT_EQ(c.expected, Describe(*sheet, c.fileBytes)) << c.name;
    }
}

// The names and types as the lines write them, and the files the tracks lie in.
TEST(CueSheet, KeepsNamesTypesAndFiles) {
    ScratchDir dir;
    testing_support::WriteText(
        dir / "disc.cue",
        Lines({"FILE \"Game (Track 1).bin\" BINARY", "TRACK 01 MODE1/2048", "INDEX 01 00:00:00",
               "TRACK 02 AUDIO", "INDEX 00 00:10:00", "FILE Game Track 2.bin MOTOROLA",
               "INDEX 01 00:00:00", "FILE 'c.wav' WAVE", "TRACK 3 CDG", "INDEX 1 00:00:00"}));
    File file;
    ASSERT_TRUE(file.OpenForReading((dir / "disc.cue").c_str()));
    char buffer[TEXT_BUFFER_SIZE];
    std::unique_ptr<CueSheet> sheet(new CueSheet);
    ReadCueSheet(file, buffer, *sheet);
    ASSERT_EQ(SheetProblem::None, sheet->problem);
    ASSERT_EQ(3, sheet->fileCount);
    EXPECT_STREQ("Game (Track 1).bin", sheet->files[0].name);
    EXPECT_STREQ("Game Track 2.bin", sheet->files[1].name);
    EXPECT_STREQ("'c.wav'", sheet->files[2].name);
    EXPECT_EQ(SheetFileType::Motorola, sheet->files[1].type);
    EXPECT_EQ(SheetFileType::Other, sheet->files[2].type);
    EXPECT_EQ(6, sheet->files[1].line);
    const SheetTrack& first = sheet->tracks[0];
    const SheetTrack& second = sheet->tracks[1];
    EXPECT_EQ(SheetTrackType::OtherSize, first.type);
    EXPECT_EQ(2048, first.sectorSize);
    EXPECT_EQ(2448, sheet->tracks[2].sectorSize);
    EXPECT_EQ((std::vector<int32_t>{0, 750, 1, 0, 4}),
              (std::vector<int32_t>{second.file, second.index0, second.index1File, second.index1,
                                    second.line}));
}

}  // namespace

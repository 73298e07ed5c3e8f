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

struct SheetCase {
    const char* name;
    std::string text;                  // "|" ends a line
    std::vector<int64_t> fileSectors;  // -1: one byte past the last whole sector of the file before
    // "SHEET problem@line", "PLACE problem file track", or for each track "first/index1" in the
    // stream, with "sN" for a session above 1 and "pN"/"qN" for PREGAP/POSTGAP sectors.
    const char* expected;
};

// The sheet as the reader and the placement take it, in the terms of SheetCase::expected.
std::string Describe(const CueSheet& sheet, std::vector<int64_t> bytes) {
    if (sheet.problem != SheetProblem::None) {
        return "SHEET " + std::to_string(int(sheet.problem)) + "@" +
               std::to_string(sheet.problemLine);
    }
    std::unique_ptr<CuePlacement> placed(new CuePlacement);
    bytes.resize(sheet.fileCount, 0);
    if (!PlaceCueSheet(sheet, bytes.data(), *placed)) {
        return "PLACE " + std::to_string(int(placed->problem)) + " " +
               std::to_string(placed->file) + " " + std::to_string(placed->track);
    }
    std::string text;
    for (int32_t t = 0; t < sheet.trackCount; ++t) {
        const SheetTrack& track = sheet.tracks[t];
        text += (t == 0 ? "" : " ") + std::to_string(placed->trackFirst[t]) + "/" +
                std::to_string(placed->trackIndex1[t]);
        text += track.session > 1 ? "s" + std::to_string(track.session) : "";
        text += track.pregap > 0 ? "p" + std::to_string(track.pregap) : "";
        text += track.postgap > 0 ? "q" + std::to_string(track.postgap) : "";
    }
    return text;
}

std::unique_ptr<CueSheet> ReadText(const ScratchDir& dir, std::string text, const char* ending) {
    for (size_t at = 0; (at = text.find('|', at)) != std::string::npos;) {
        text.replace(at, 1, ending);
    }
    testing_support::WriteText(dir / "disc.cue", text);
    File file;
    EXPECT_TRUE(file.OpenForReading((dir / "disc.cue").c_str()));
    char buffer[TEXT_BUFFER_SIZE];
    std::unique_ptr<CueSheet> sheet(new CueSheet);
    ReadCueSheet(file, buffer, *sheet);
    return sheet;
}

std::string Repeat(const std::string& text, int times) {
    return times == 0 ? "" : text + Repeat(text, times - 1);
}

const std::string kRedump =
    "REM a mixed-mode disc as redump cuts it|CATALOG 0000000000000|"
    "FILE \"Game (Track 1).bin\" BINARY|  TRACK 01 MODE1/2352|    INDEX 01 00:00:00|"
    "FILE \"Game (Track 2).bin\" BINARY|  TRACK 02 AUDIO|    FLAGS DCP|    ISRC USXXX0000001|"
    "    TITLE \"Tone\"|    PERFORMER \"A\"|    SONGWRITER \"B\"|    INDEX 00 00:00:00|"
    "    INDEX 01 00:02:00|FILE \"Game (Track 3).bin\" BINARY|  TRACK 03 AUDIO|"
    "    INDEX 00 00:00:00|    INDEX 01 00:02:00|";
const std::string kAppended = "FILE a BINARY|TRACK 1 AUDIO|INDEX 1 0:0:0|TRACK 2 AUDIO|";
const std::string kTwoTracks = "FILE a BINARY|TRACK 1 AUDIO|INDEX 1 00:02:00|TRACK 2 AUDIO|";

TEST(CueSheet, ReadsAndPlacesEveryLayoutAndRefusesWithTheLineOrFile) {
    const std::vector<SheetCase> cases = {
        {"redump split set", kRedump, {1200, 1650, 1650}, "0/0 1200/1350 2850/3000"},
        {"one file, BOM, lower case, unquoted name with blanks, MOTOROLA, gaps",
         "\xEF\xBB\xBF"
         "file My Disc.bin  motorola |track 1 audio|pregap 00:02:00|index 1 0:0:0|"
         "\tTRACK 2 AUDIO|INDEX 0 00:20:00|INDEX 01 00:22:00|INDEX 02 00:30:00|POSTGAP 0:0:10",
         {3000},
         "0/0p150 1500/1650q10"},
        {"gaps appended",
         kAppended + "INDEX 00 00:18:00|FILE \"b\" BINARY|INDEX 01 00:00:00|"
                     "FILE c BINARY|TRACK 03 AUDIO|INDEX 01 00:00:00",
         {1500, 900, 600},
         "0/0 1350/1500 2400/2400"},
        {"CD-Extra",
         "REM SESSION 01|FILE a BINARY|TRACK 01 AUDIO|INDEX 01 00:00:00|FILE b BINARY|"
         "TRACK 02 AUDIO|INDEX 00 00:00:00|INDEX 01 00:02:00|REM SESSION 02|FILE c BINARY|"
         "TRACK 03 MODE2/2352|INDEX 01 00:00:00",
         {1500, 1650, 1200},
         "0/0 1500/1650 3150/3150s2"},
        {"data-first CD-i disc in one file",
         "FILE d BINARY|TRACK 01 CDI/2352|INDEX 01 00:00:00|"
         "TRACK 02 AUDIO|INDEX 00 00:16:00|INDEX 01 00:18:00|TRACK 03 MODE2/2352|INDEX 01 0:40:0",
         {3600},
         "0/0 1200/1350 3000/3000"},
        // Refusals of the sheet, with the line they name.
        {"NUL byte", kRedump + std::string(1, '\0') + "FILE d BINARY|", {}, "SHEET 1@0"},
        {"no track", "FILE a.bin BINARY|", {}, "SHEET 2@0"},
        {"too many files", Repeat("FILE a BINARY|", 100), {}, "SHEET 3@100"},
        {"track before file", "TRACK 01 AUDIO|", {}, "SHEET 5@1"},
        {"track 00", "FILE a BINARY|TRACK 00 AUDIO|", {}, "SHEET 6@2"},
        {"track 100", "FILE a BINARY|TRACK 100 AUDIO|", {}, "SHEET 6@2"},
        {"track numbers not rising", kTwoTracks + "INDEX 1 0:3:0|TRACK 2 AUDIO", {}, "SHEET 6@6"},
        {"seconds 60", kAppended + "INDEX 01 00:60:00", {}, "SHEET 7@5"},
        {"frames 75", kAppended + "INDEX 01 00:00:75", {}, "SHEET 7@5"},
        {"two parts", kAppended + "INDEX 01 01:00", {}, "SHEET 7@5"},
        {"minutes too large", kAppended + "INDEX 1 999999:00:00", {}, "SHEET 7@5"},
        {"index 00 after 01", kTwoTracks + "INDEX 01 0:3:0|INDEX 00 0:4:0", {}, "SHEET 8@6"},
        {"a track before the one before", kTwoTracks + "INDEX 1 00:01:00", {}, "SHEET 8@5"},
        {"two tracks on one sector", kTwoTracks + "INDEX 1 00:02:00", {}, "SHEET 8@5"},
        {"no INDEX 01 before the next track",
         kTwoTracks + "INDEX 0 0:3:0|TRACK 3 AUDIO",
         {},
         "SHEET 9@4"},
        {"no INDEX 01 at the end", kTwoTracks + "|INDEX 0 0:3:0", {}, "SHEET 9@4"},
        {"index before track", "FILE a BINARY|INDEX 01 00:00:00", {}, "SHEET 10@2"},
        {"pregap before track", "FILE a BINARY|PREGAP 00:02:00", {}, "SHEET 10@2"},
        {"pregap in words", kAppended + "PREGAP 2 seconds", {}, "SHEET 11@5"},
        {"sessions going back", "REM SESSION 02|REM SESSION 01|", {}, "SHEET 12@2"},
        {"session not a number", "REM SESSION two", {}, "SHEET 12@1"},
        {"name too long", "FILE \"" + Repeat("n", 1100) + "\" BINARY", {}, "SHEET 13@1"},
        {"unclosed quote", "FILE \"a.bin BINARY", {}, "SHEET 14@1"},
        {"no type",
         "\xEF\xBB\xBF"
         "FILE a.bin",
         {},
         "SHEET 14@1"},
        // Refusals of the placement, with the file (from 0) and track they name.
        {"not whole sectors", kRedump, {1200, 1650, -1, 1650}, "PLACE 1 1 0"},
        {"index at the end of its file", kRedump, {1200, 150, 1650}, "PLACE 2 1 2"},
        {"gaps-appended INDEX 00 past the end of the file before",
         kAppended + "INDEX 0 0:20:0|FILE b BINARY|INDEX 1 0:0:0",
         {1500, 100},
         "PLACE 2 0 2"},
        {"audio in a WAVE file",
         "FILE a.wav WAVE|TRACK 1 AUDIO|INDEX 1 0:0:0",
         {100},
         "PLACE 3 0 1"},
        {"audio beside CDG",
         "FILE a BINARY|TRACK 1 CDG|INDEX 1 0:0:0|TRACK 2 AUDIO|INDEX 1 0:2:0",
         {300},
         "PLACE 3 0 2"},
        {"MODE1/2048 alone",
         "FILE a BINARY|TRACK 1 MODE1/2048|INDEX 1 0:0:0|FILE b BINARY|"
         "TRACK 2 AUDIO|INDEX 1 0:0:0",
         {300, 300},
         "PLACE 4 0 1"},
        {"unknown track type",
         "FILE a BINARY|TRACK 1 AUDIO|INDEX 1 0:0:0|FILE b BINARY|"
         "TRACK 2 MODE3/9999|INDEX 1 0:0:0",
         {300, 300},
         "PLACE 4 1 2"},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        std::vector<int64_t> bytes;
        for (int64_t sectors : c.fileSectors) {
            if (sectors < 0) {
                bytes.back() += 1;
            } else {
                bytes.push_back(sectors * 2352);
            }
        }
        for (const char* ending : {"\n", "\r\n", "\r"}) {
            EXPECT_EQ(c.expected, Describe(*ReadText(dir, c.text, ending), bytes)) << c.name;
        }
    }
}

// The names and types as the lines write them, and the files that hold a gaps-appended track.
TEST(CueSheet, KeepsNamesTypesAndFiles) {
    ScratchDir dir;
    std::unique_ptr<CueSheet> sheet = ReadText(
        dir,
        "FILE \"Game (Track 1).bin\" BINARY|TRACK 01 MODE1/2048|INDEX 01 00:00:00|TRACK 02 AUDIO|"
        "INDEX 00 00:10:00|FILE Game Track 2.bin MOTOROLA|INDEX 01 00:00:00|FILE 'c.wav' WAVE|"
        "TRACK 3 CDG|INDEX 1 00:00:00",
        "\n");
    ASSERT_EQ(SheetProblem::None, sheet->problem);
    ASSERT_EQ(3, sheet->fileCount);
    EXPECT_STREQ("Game (Track 1).bin", sheet->files[0].name);
    EXPECT_STREQ("Game Track 2.bin", sheet->files[1].name);
    EXPECT_STREQ("'c.wav'", sheet->files[2].name);
    EXPECT_EQ(SheetFileType::Motorola, sheet->files[1].type);
    EXPECT_EQ(SheetFileType::Other, sheet->files[2].type);
    const SheetTrack& second = sheet->tracks[1];
    EXPECT_EQ((std::vector<int32_t>{2048, 2448, 6, 0, 750, 1, 0, 4}),
              (std::vector<int32_t>{sheet->tracks[0].sectorSize, sheet->tracks[2].sectorSize,
                                    sheet->files[1].line, second.file, second.index0,
                                    second.index1File, second.index1, second.line}));
}

}  // namespace

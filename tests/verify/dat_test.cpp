#include "dat.h"

#include <gtest/gtest.h>

#include <string>

#include "scratch_dir.h"

namespace {

using testing_support::ScratchDir;
using verify::Dat;
using verify::DatLoad;
using verify::DatStatus;

verify::DatLoad Parse(const std::string& text, Dat& dat) {
    return verify::ParseDat(text.data(), text.size(), dat);
}

const char kRedumpStyle[] =
    "<?xml version=\"1.0\"?>\n"
    "<!DOCTYPE datafile PUBLIC \"-//Logiqx//DTD ROM Management Datafile//EN\" "
    "\"http://www.logiqx.com/Dats/datafile.dtd\">\n"
    "<datafile>\n"
    "\t<header><name>Sample - Discs</name><version>2024</version></header>\n"
    "\t<game name=\"Tom &amp; Jerry (Europe)\">\n"
    "\t\t<category>Games</category>\n"
    "\t\t<description>Tom &amp; Jerry (Europe)</description>\n"
    "\t\t<rom name=\"Tom &amp; Jerry (Europe).cue\" size=\"300\" crc=\"11111111\"/>\n"
    "\t\t<rom name=\"Tom &amp; Jerry (Europe) (Track 1).bin\" size=\"2822400\" "
    "crc=\"A1B2C3D4\" md5=\"00112233445566778899AABBCCDDEEFF\" "
    "sha1=\"00112233445566778899aabbccddeeff00112233\"/>\n"
    "\t\t<rom name=\"Tom &amp; Jerry (Europe) (Track 2).BIN\" size=\"352800\" crc=\"0000000f\" "
    "md5=\"short\" sha1=\"zz112233445566778899aabbccddeeff00112233\"/>\n"
    "\t</game>\n"
    "\t<game name=\"Only a cue\"><rom name=\"x.cue\" size=\"1\" crc=\"00000000\"/></game>\n"
    "\t<machine name=\"Second\"><rom name=\"Second.bin\" size=\"-5\" crc=\"123\"/></machine>\n"
    "</datafile>\n";

TEST(DatTest, ReadsEntriesTrackFilesAndHashesAsRedumpWritesThem) {
    Dat dat;
    DatLoad load = Parse(kRedumpStyle, dat);
    ASSERT_EQ(DatStatus::Loaded, load.status);
    // The entry without track files is left out; <machine> counts as an entry.
    ASSERT_EQ(2u, dat.entries.size());
    const verify::DatEntry& first = dat.entries[0];
    EXPECT_EQ("Tom & Jerry (Europe)", first.name);
    ASSERT_EQ(2u, first.tracks.size());
    const verify::DatRom& one = first.tracks[0];
    EXPECT_EQ("Tom & Jerry (Europe) (Track 1).bin", one.name);
    EXPECT_EQ(2822400, one.size);
    EXPECT_TRUE(one.hasCrc && one.hasMd5 && one.hasSha1);
    EXPECT_EQ(0xA1B2C3D4u, one.hashes.crc);
    EXPECT_EQ("00112233445566778899aabbccddeeff", verify::HexText(one.hashes.md5.data(), 16));
    EXPECT_EQ("00112233445566778899aabbccddeeff00112233",
              verify::HexText(one.hashes.sha1.data(), 20));
    // Malformed hashes are absent rather than misread.
    const verify::DatRom& two = first.tracks[1];
    EXPECT_TRUE(two.hasCrc);
    EXPECT_EQ(15u, two.hashes.crc);
    EXPECT_FALSE(two.hasMd5);
    EXPECT_FALSE(two.hasSha1);
    const verify::DatRom& second = dat.entries[1].tracks[0];
    EXPECT_EQ(-1, second.size);
    EXPECT_FALSE(second.hasCrc);
}

TEST(DatTest, RefusesWhatIsNotAUsableDat) {
    struct Case {
        const char* text;
        DatStatus status;
        int64_t line;
    };
    const Case cases[] = {
        {"", DatStatus::NotWellFormed, 1},
        {"<datafile>\n<game name=\"a\">\n<rom name=\"a.bin\" size=\"1\"/>\n</datafile>\n",
         DatStatus::NotWellFormed, 4},
        {"<datafile><game name=\"a\"><rom name=\"a.bin\"/></game></datafile><x/>",
         DatStatus::NotWellFormed, 1},
        {"not xml at all", DatStatus::NotWellFormed, 1},
        {"<!DOCTYPE d [<!ENTITY a \"aaaaaaaaaa\">]><d>&a;</d>", DatStatus::DeclaresEntities, 1},
        {"<datafile><header/></datafile>", DatStatus::NoEntries, 0},
        {"<datafile><game name=\"a\"><rom name=\"a.cue\"/></game></datafile>", DatStatus::NoEntries,
         0},
    };
    for (const Case& c : cases) {
        Dat dat;
        dat.entries.resize(3);
        DatLoad load = Parse(c.text, dat);
        EXPECT_EQ(c.status, load.status) << c.text;
        EXPECT_EQ(c.line, load.line) << c.text;
        EXPECT_TRUE(dat.entries.empty()) << c.text;
        if (c.status == DatStatus::NotWellFormed) {
            EXPECT_FALSE(load.detail.empty()) << c.text;
        }
    }
}

TEST(DatTest, LoadsAFileInPiecesAsItParsesText) {
    ScratchDir dir;
    // Well past the reader's buffer, so that elements straddle the pieces it reads.
    std::string text = "<datafile>\n";
    for (int i = 0; i < 20000; ++i) {
        text += "<game name=\"Entry " + std::to_string(i) + "\"><rom name=\"Entry " +
                std::to_string(i) + " (Track 1).bin\" size=\"" + std::to_string(2352 * (i + 1)) +
                "\" crc=\"" + std::string(8, "0123456789abcdef"[i % 16]) + "\"/></game>\n";
    }
    text += "</datafile>\n";
    ASSERT_GT(text.size(), 1u << 20);
    testing_support::WriteText(dir / "big.dat", text);

    Dat fromFile;
    ASSERT_EQ(DatStatus::Loaded, verify::LoadDat(dir / "big.dat", fromFile).status);
    ASSERT_EQ(20000u, fromFile.entries.size());
    EXPECT_EQ("Entry 19999", fromFile.entries.back().name);
    EXPECT_EQ(2352 * 20000, fromFile.entries.back().tracks[0].size);

    testing_support::WriteText(dir / "cut.dat", text.substr(0, text.size() - 5));
    DatLoad cut = verify::LoadDat(dir / "cut.dat", fromFile);
    EXPECT_EQ(DatStatus::NotWellFormed, cut.status);
    EXPECT_EQ(20002, cut.line);

    DatLoad cancelled = verify::LoadDat(dir / "big.dat", fromFile, [] { return true; });
    EXPECT_EQ(DatStatus::Cancelled, cancelled.status);
    EXPECT_TRUE(fromFile.entries.empty());

    DatLoad missing = verify::LoadDat(dir / "none.dat", fromFile);
    EXPECT_EQ(DatStatus::CannotOpen, missing.status);
    EXPECT_NE(0, missing.systemError);
}

}  // namespace

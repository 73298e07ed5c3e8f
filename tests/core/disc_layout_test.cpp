#include "disc_layout.h"

#include <gtest/gtest.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "file.h"
#include "scratch_dir.h"
#include "test_disc.h"

namespace {

using testing_support::ScratchDir;
using testing_support::SessionControl;

struct Placed {
    SessionLayout layout;
    std::vector<int32_t> list;
    std::vector<std::string> tracks;  // "number mode session firstSector"
    bool complete;
    int32_t trackPastImage = 0;
};

Placed Place(const std::string& text, int64_t imageSectors) {
    ScratchDir dir;
    testing_support::WriteText(dir / "disc.ccd", text);
    File file;
    EXPECT_TRUE(file.OpenForReading((dir / "disc.ccd").c_str()));
    char buffer[TEXT_BUFFER_SIZE];
    ControlScan scan;
    ScanControlFile(file, buffer, scan);
    BoundaryList list;
    TrackTable tracks;
    Placed placed;
    placed.layout = PlaceInImage(scan, imageSectors, list, tracks, &placed.trackPastImage);
    int32_t count = 0;
    while (count < BOUNDARY_LIST_SIZE && list[count] != END_SENTINEL) {
        ++count;
    }
    EXPECT_LT(count, BOUNDARY_LIST_SIZE);
    placed.list.assign(list, list + count);
    EXPECT_LE(tracks.count, MAX_TRACKS);
    for (int32_t i = 0; i < tracks.count; ++i) {
        const TrackInfo& t = tracks.tracks[i];
        placed.tracks.push_back(std::to_string(t.number) + " " + std::to_string(t.mode) + " " +
                                std::to_string(t.session) + " " + std::to_string(t.firstSector));
    }
    placed.complete = tracks.complete;
    return placed;
}

// `text` with its first `from` after `after` replaced by `to`.
std::string Edit(std::string text, const std::string& after, const std::string& from,
                 const std::string& to) {
    size_t start = text.find(after);
    size_t at = start == std::string::npos ? start : text.find(from, start);
    EXPECT_NE(std::string::npos, at) << after << " / " << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// CD-Extra: audio 0 and 400, lead-out 800; data INDEX 0 12050, INDEX 1 12200, lead-out 12500.
// Data first: data 0, lead-out 300; audio INDEX 0 11550, INDEX 1 11700, audio 12100, lead-out
// 12500. Each image holds 1100 sectors without the gap, 12500 with it.
const std::string kCdExtra = SessionControl(testing_support::CdExtra());
const std::string kAudioSession = SessionControl(testing_support::AudioSession());

TEST(PlaceInImage, MultiSessionLayouts) {
    struct Case {
        const char* name;
        const std::string& text;
        int64_t sectors;
        SessionLayout layout;
        std::vector<int32_t> list;
        std::vector<std::string> tracks;
    };
    const std::string adr5Track =
        Edit(kCdExtra, "[TRACK 1]", "[TRACK 1]",
             "[Entry 11]\r\nSession=1\r\nPoint=0x03\r\nADR=0x05\r\nPMin=0\r\nPLBA=99\r\n"
             "[TRACK 1]");
    const std::string lowerCaseHex = Edit(kCdExtra, "[Entry 7]", "Point=0xa0", "point=0XA0");
    const std::string undeclared = Edit(kCdExtra, "[Disc]", "Sessions=2\r\n", "");
    const Case cases[] = {
        {"CD-Extra, gap left out",
         kCdExtra,
         1100,
         SessionLayout::GapLeftOut,
         {0, 800},
         {"1 0 1 0", "2 0 1 400", "3 2 2 800"}},
        {"CD-Extra, gap stored",
         kCdExtra,
         12500,
         SessionLayout::GapStored,
         {0, 12050},
         {"1 0 1 0", "2 0 1 400", "3 2 2 12050"}},
        {"data first, audio session, gap left out",
         kAudioSession,
         1100,
         SessionLayout::GapLeftOut,
         {300},
         {"1 1 1 0", "2 0 2 300", "3 0 2 700"}},
        {"data first, audio session, gap stored",
         kAudioSession,
         12500,
         SessionLayout::GapStored,
         {11550},
         {"1 1 1 0", "2 0 2 11550", "3 0 2 12100"}},
        {"an ADR 5 entry at a track's point is not its start",
         adr5Track,
         1100,
         SessionLayout::GapLeftOut,
         {0, 800},
         {"1 0 1 0", "2 0 1 400", "3 2 2 800"}},
        {"entries of two sessions without Sessions=",
         undeclared,
         1100,
         SessionLayout::GapLeftOut,
         {0, 800},
         {"1 0 1 0", "2 0 1 400", "3 2 2 800"}},
        {"keys and hexadecimal digits in any case",
         lowerCaseHex,
         1100,
         SessionLayout::GapLeftOut,
         {0, 800},
         {"1 0 1 0", "2 0 1 400", "3 2 2 800"}},
    };
    for (const auto& c : cases) {
        Placed placed = Place(c.text, c.sectors);
        EXPECT_EQ(c.layout, placed.layout) << c.name;
        EXPECT_EQ(c.list, placed.list) << c.name;
        EXPECT_EQ(c.tracks, placed.tracks) << c.name;
        EXPECT_TRUE(placed.complete) << c.name;
    }
}

TEST(PlaceInImage, SizesThatFitNeitherLayoutAreRefused) {
    for (int64_t sectors : {1099, 1101, 12499, 12501, 0, -1, 800}) {
        for (const std::string* text : {&kCdExtra, &kAudioSession}) {
            Placed placed = Place(*text, sectors);
            EXPECT_EQ(SessionLayout::SizeMismatch, placed.layout) << sectors;
            EXPECT_TRUE(placed.list.empty());
            EXPECT_TRUE(placed.tracks.empty());
        }
    }
}

std::string ManySessions(int32_t sessions) {
    testing_support::SessionDisc disc;
    for (int32_t k = 1; k <= sessions; ++k) {
        disc.tracks.push_back({k, false, (k - 1) * 20000, -1, 1});
        disc.leadOuts.push_back((k - 1) * 20000 + 100);
    }
    return SessionControl(disc);
}

TEST(PlaceInImage, ContradictoryLayoutsAreRefused) {
    std::string hundredTracks = kCdExtra;
    for (int32_t n = 4; n <= 100; ++n) {
        hundredTracks += "[TRACK " + std::to_string(n) + "]\r\nMODE=2\r\nINDEX 1=12300\r\n";
    }
    std::string singleEntries = SessionControl({{{1, true, 0}, {1, false, 50, -1, 1}}, {90}});
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"more sessions declared than listed",
         Edit(kCdExtra, "[Disc]", "Sessions=2", "Sessions=3")},
        {"a second session declared, none listed",
         Edit(singleEntries, "[Disc]", "Sessions=1", "Sessions=2")},
        {"a session without its lead-out (listed with ADR 5)",
         Edit(kCdExtra, "[Entry 9]", "ADR=0x01", "ADR=0x05")},
        {"a session whose first track lies in another session",
         Edit(kCdExtra, "[Entry 7]", "PMin=3", "PMin=2")},
        {"a first track not listed at all", Edit(kCdExtra, "[Entry 7]", "PMin=3", "PMin=4")},
        {"an INDEX 1 that differs from its entry",
         Edit(kCdExtra, "[TRACK 3]", "INDEX 1=12200", "INDEX 1=12201")},
        {"a track listed twice with other starts",
         Edit(kCdExtra, "[TRACK 1]", "[TRACK 1]",
              "[Entry 11]\r\nSession=2\r\nPoint=0x03\r\nADR=0x01\r\nPLBA=12210\r\n[TRACK 1]")},
        {"a track listed in both sessions",
         Edit(kCdExtra, "[TRACK 1]", "[TRACK 1]",
              "[Entry 11]\r\nSession=1\r\nPoint=0x03\r\nADR=0x01\r\nPLBA=12200\r\n[TRACK 1]")},
        {"a session starting before the previous lead-out",
         Edit(kCdExtra, "[Entry 2]", "PLBA=800", "PLBA=12300")},
        {"a track starting after its session's lead-out",
         Edit(kCdExtra, "[Entry 9]", "PLBA=12500", "PLBA=12200")},
        {"an index after its session's lead-out",
         Edit(kCdExtra, "[TRACK 3]", "INDEX 1=12200", "INDEX 1=12200\r\nINDEX 2=12500")},
        {"an index of session 1 in the gap",
         Edit(kCdExtra, "[TRACK 2]", "INDEX 1=400", "INDEX 1=400\r\nINDEX 2=900")},
        {"a track not first in its session beginning in the gap",
         Edit(kAudioSession, "[TRACK 3]", "INDEX 1=12100", "INDEX 0=11600\r\nINDEX 1=12100")},
        {"a negative index", Edit(kCdExtra, "[TRACK 3]", "INDEX 0=12050", "INDEX 0=-12050")},
        {"a negative lead-out", Edit(kCdExtra, "[Entry 2]", "PLBA=800", "PLBA=-800")},
        {"an unreadable start", Edit(kCdExtra, "[Entry 10]", "PLBA=12200", "PLBA=12x00")},
        {"an entry without its session", Edit(kCdExtra, "[Entry 10]", "Session=2", "Sessionx=2")},
        {"session 0", Edit(kCdExtra, "[Entry 10]", "Session=2", "Session=0")},
        {"track numbers out of order", Edit(kCdExtra, "[TRACK 3]", "[TRACK 3]", "[TRACK 2]")},
        {"a track neither listed nor indexed",
         Edit(kCdExtra, "[TRACK 3]", "INDEX 1=12200", "INDEX 1=12200\r\n[TRACK 4]\r\nMODE=2")},
        {"100 tracks", hundredTracks},
        {"9 sessions", ManySessions(9)},
    };
    for (const auto& c : cases) {
        for (int64_t sectors : {1100, 12500, 8 * 20000 + 100, 9 * 100}) {
            Placed placed = Place(c.text, sectors);
            EXPECT_EQ(SessionLayout::Contradictory, placed.layout) << c.name << ", " << sectors;
            EXPECT_TRUE(placed.list.empty()) << c.name;
            EXPECT_TRUE(placed.tracks.empty()) << c.name;
        }
    }
    // Eight sessions are placed.
    EXPECT_EQ(SessionLayout::GapLeftOut, Place(ManySessions(8), 8 * 100).layout);
    EXPECT_EQ(SessionLayout::GapStored, Place(ManySessions(8), 7 * 20000 + 100).layout);
}

// In an image that holds every INDEX; one whose last sector is short of the highest is not the
// image that the file describes, and is refused naming that track.
TEST(PlaceInImage, SingleSessionFilesAreTakenAsTheyStand) {
    std::string singleEntries = SessionControl({{{1, true, 0}, {1, false, 50, 40, 1}}, {90}});
    struct Case {
        const char* name;
        std::string text;
        std::vector<int32_t> list;
        std::vector<std::string> tracks;
        int32_t highest;  // INDEX value
        int32_t highestTrack;
    };
    const Case cases[] = {
        {"entries of one session", singleEntries, {0, 40}, {"1 0 1 0", "2 1 1 40"}, 50, 2},
        {"entries of one session that contradict each other",
         Edit(singleEntries, "[Entry 2]", "PLBA=90", "PLBA=-5"),
         {0, 40},
         {"1 0 1 0", "2 1 1 40"},
         50,
         2},
        {"two sessions declared, no entries",
         "[Disc]\r\nSessions=2\r\n[TRACK 1]\r\nMODE=1\r\nINDEX 1=0\r\n[TRACK 2]\r\nMODE=0\r\n"
         "INDEX 1=12000\r\n",
         {12000},
         {"1 1 1 0", "2 0 1 12000"},
         12000,
         2},
        {"the worked example",
         "[Disc]\r\n[TRACK 1]\r\nMODE=1\r\nINDEX 1=0\r\n[TRACK 2]\r\nMODE=0\r\nINDEX 0=300\r\n"
         "INDEX 1=450\r\n[TRACK 3]\r\nMODE=0\r\nINDEX 0=600\r\nINDEX 1=750\r\n[TRACK 4]\r\n"
         "MODE=2\r\nINDEX 1=900\r\n",
         {300, 900},
         {"1 1 1 0", "2 0 1 300", "3 0 1 600", "4 2 1 900"},
         900,
         4},
        {"a track's mode is the one in effect at its first index",
         "[TRACK 1]\nINDEX 1=0\nMODE=1\n[TRACK 2]\nINDEX 1=5\n[TRACK 3]\n[TRACK 7]\nMODE=0\n",
         {0, 5},
         {"1 0 1 0", "2 1 1 5", "3 1 1 -1", "7 0 1 -1"},
         5,
         2},
        {"CD-Extra without its entries: the data track lies past the image",
         "[Disc]\r\nSessions=2\r\n" + kCdExtra.substr(kCdExtra.find("[TRACK 1]")),
         {0, 12050},
         {"1 0 1 0", "2 0 1 400", "3 2 1 12050"},
         12200,
         3},
    };
    for (const auto& c : cases) {
        for (int64_t sectors : {int64_t{c.highest} + 1, int64_t{12500}, int64_t{-1}}) {
            Placed placed = Place(c.text, sectors);
            EXPECT_EQ(SessionLayout::SingleSession, placed.layout) << c.name;
            EXPECT_EQ(c.list, placed.list) << c.name;
            EXPECT_EQ(c.tracks, placed.tracks) << c.name;
            EXPECT_TRUE(placed.complete);
        }
        Placed past = Place(c.text, c.highest);
        EXPECT_EQ(SessionLayout::IndexPastImage, past.layout) << c.name;
        EXPECT_EQ(c.highestTrack, past.trackPastImage) << c.name;
        EXPECT_TRUE(past.list.empty() && past.tracks.empty()) << c.name;
    }
}

TEST(PlaceInImage, TheTrackTableHoldsTheFirst99Tracks) {
    std::string text;
    for (int track = 1; track <= 120; ++track) {
        text += "[TRACK " + std::to_string(track) +
                "]\nMODE=0\nINDEX 1=" + std::to_string(track * 10) + "\n";
    }
    Placed placed = Place(text, 5000);
    EXPECT_EQ(SessionLayout::SingleSession, placed.layout);
    EXPECT_EQ(std::vector<int32_t>{10}, placed.list);
    ASSERT_EQ(static_cast<size_t>(MAX_TRACKS), placed.tracks.size());
    EXPECT_EQ("99 0 1 990", placed.tracks.back());
    EXPECT_FALSE(placed.complete);
}

}  // namespace

// Hostile names: paths at the length limit, blanks, quotes, leading dashes, bytes that are not
// UTF-8, and a control "file" that is a folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fault_support.h"
#include "shift_job.h"

namespace {

using fault::Bytes;
using fault::Disc;
using fault::Folder;

Disc SmallDisc(uint32_t seed) {
    return fault::MakeDisc({{false, 12}, {true, 30}, {false, 5}, {true, 9}}, seed, 300);
}

// The image name beside a control name: the last four bytes become ".img" or ".old".
std::string Beside(const std::string& control, const char* extension) {
    return control.substr(0, control.size() - 4) + extension;
}

struct NameCase {
    const char* what;
    std::string name;
};

TEST(HostileNames, TheCommandLineShiftsEveryOneOfThem) {
    const NameCase cases[] = {
        {"blanks", "my disc  (1) .ccd"},
        {"leading blank", " disc.ccd"},
        {"quotes", "it's \"the\" disc.ccd"},
        {"leading dash", "-disc.ccd"},
        {"looks like an option", "-o.ccd"},
        {"double dash", "--.ccd"},
        {"non-UTF-8 bytes", "\xff\xfe\x80 disc \xe9.ccd"},
        {"line break", "two\nlines.ccd"},
        {"backslash", "back\\slash.ccd"},
        {"glob characters", "*?[x].ccd"},
        {"mixed-case extension", "Disc.CcD"},
        {"two dots", "x.tar.ccd"},
        {"only the extension", ".ccd"},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.what);
        Folder folder;
        Disc disc = SmallDisc(51);
        fault::WriteDisc(disc, folder / c.name, folder / Beside(c.name, ".img"));

        std::string output;
        EXPECT_EQ(fault::RunCli({"-q", "--", c.name}, folder.path(), &output), 0) << output;
        EXPECT_TRUE(fault::Contents(folder / Beside(c.name, ".img")) == fault::Expected(disc, -30));
        EXPECT_TRUE(fault::Contents(folder / Beside(c.name, ".old")) == disc.image);
        EXPECT_EQ(folder.Names().size(), 3u);
    }
}

TEST(HostileNames, ALeadingDashWithoutDoubleDashIsAUsageErrorThatTouchesNothing) {
    Folder folder;
    Disc disc = SmallDisc(52);
    fault::WriteDisc(disc, folder / "-disc.ccd", folder / "-disc.img");

    EXPECT_EQ(fault::RunCli({"-disc.ccd"}, folder.path()), 2);
    EXPECT_TRUE(fault::Contents(folder / "-disc.img") == disc.image);
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"-disc.ccd", "-disc.img"}));
}

TEST(HostileNames, AControlNameThatIsAFolderCopiesTheImageUnchanged) {
    Folder folder;
    Disc disc = SmallDisc(53);
    ASSERT_EQ(mkdir((folder / "disc.ccd").c_str(), 0755), 0);
    model::WriteFileBytes(folder / "disc.img", disc.image);

    fault::TestHost host("-30");
    EXPECT_EQ(RunShiftJob(host, (folder / "disc.ccd").c_str()), ShiftResult::Done);
    const Bytes whole(disc.image.begin(), disc.image.end() - 300);
    EXPECT_TRUE(fault::Contents(folder / "disc.img") == whole);
    EXPECT_TRUE(fault::Contents(folder / "disc.old") == disc.image);
}

// Makes folders under `base` so that base + "/" + folders + name is exactly `length` bytes long,
// and returns the part after `base` + "/".
std::string PathOfLength(const std::string& base, size_t length, const std::string& name) {
    std::string relative;
    size_t need = length - base.size() - 1 - name.size();
    char letter = 'a';
    while (need > 0) {
        // Each folder takes its name and a '/'; never leave a single byte over.
        size_t part = std::min<size_t>(200, need - 1);
        if (need - (part + 1) == 1) {
            --part;
        }
        relative += std::string(part, letter++) + "/";
        need -= part + 1;
        mkdir((base + "/" + relative).c_str(), 0755);
    }
    return relative + name;
}

struct LengthCase {
    size_t length;
    bool accepted;
};

const LengthCase kLengths[] = {{1023, true}, {1024, false}};

TEST(LongPaths, TheJobTakesAPathOf1023BytesAndRefuses1024) {
    for (const LengthCase& c : kLengths) {
        SCOPED_TRACE(std::to_string(c.length) + " bytes");
        Folder folder;
        const std::string control = folder / PathOfLength(folder.path(), c.length, "disc.ccd");
        ASSERT_EQ(control.size(), c.length);
        Disc disc = SmallDisc(54);
        fault::WriteDisc(disc, control, Beside(control, ".img"));

        fault::TestHost host("-30");
        JobReport report;
        ShiftResult result = RunShiftJob(host, control.c_str(), &report);
        if (c.accepted) {
            EXPECT_EQ(result, ShiftResult::Done);
            EXPECT_EQ(report.imagePath, Beside(control, ".img"));
            EXPECT_TRUE(fault::Contents(Beside(control, ".img")) == fault::Expected(disc, -30));
            EXPECT_TRUE(fault::Contents(Beside(control, ".old")) == disc.image);
        } else {
            EXPECT_EQ(result, ShiftResult::PathTooLong);
            EXPECT_TRUE(fault::Contents(Beside(control, ".img")) == disc.image);
            EXPECT_FALSE(fault::Exists(Beside(control, ".old")));
        }
    }
}

TEST(LongPaths, TheCommandLineTakesARelativePathOf1023BytesAndRefuses1024) {
    for (const LengthCase& c : kLengths) {
        SCOPED_TRACE(std::to_string(c.length) + " bytes");
        Folder folder;
        // Relative to the folder: as if the base were the empty string before a '/'.
        const std::string relative =
            PathOfLength(folder.path(), folder.path().size() + 1 + c.length, "disc.ccd");
        ASSERT_EQ(relative.size(), c.length);
        const std::string control = folder / relative;
        Disc disc = SmallDisc(55);
        fault::WriteDisc(disc, control, Beside(control, ".img"));

        std::string output;
        int status = fault::RunCli({relative}, folder.path(), &output);
        if (c.accepted) {
            EXPECT_EQ(status, 0) << output;
            EXPECT_TRUE(fault::Contents(Beside(control, ".img")) == fault::Expected(disc, -30));
            EXPECT_TRUE(fault::Contents(Beside(control, ".old")) == disc.image);
        } else {
            EXPECT_EQ(status, 1);
            EXPECT_NE(output.find("longer than 1023 bytes"), std::string::npos) << output;
            EXPECT_TRUE(fault::Contents(Beside(control, ".img")) == disc.image);
            EXPECT_FALSE(fault::Exists(Beside(control, ".old")));
        }
    }
}

}  // namespace

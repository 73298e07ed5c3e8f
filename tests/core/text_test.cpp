#include "text.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <string>

namespace {

struct ExtensionCase {
    const char* path;
    const char* extension;
};

TEST(FindExtension, TakesTheLastDotUnlessASeparatorFollows) {
    const ExtensionCase cases[] = {
        {"disc.ccd", ".ccd"},
        {"x.tar.ccd", ".ccd"},
        {".ccd", ".ccd"},
        {"dir/.ccd", ".ccd"},
        {"C:\\discs.new\\game", ""},
        {"discs.new/game", ""},
        {"game", ""},
        {"", ""},
        {"game.", "."},
        {"game.cue", ".cue"},
        {"a.b\\c.CcD", ".CcD"},
        {"caf\xc3\xa9.ccd", ".ccd"},
    };
    for (const auto& c : cases) {
        std::string path = c.path;
        const char* found = FindExtension(path.c_str());
        EXPECT_STREQ(c.extension, found) << c.path;
        EXPECT_EQ(path.c_str() + path.size(), found + strlen(found)) << c.path;
    }
}

TEST(CompareNoCase, FoldsOnlyAsciiLetters) {
    EXPECT_EQ(0, CompareNoCase(".ccd", ".CCD"));
    EXPECT_EQ(0, CompareNoCase(".cCd", ".CCD"));
    EXPECT_EQ(0, CompareNoCase("track", "TRACK"));
    EXPECT_NE(0, CompareNoCase("TRACKS", "TRACK"));
    EXPECT_NE(0, CompareNoCase("TRAC", "TRACK"));
    EXPECT_NE(0, CompareNoCase("", "TRACK"));
    // Bytes above 0x7F and punctuation are not folded: 0xE9 is not 0xC9, '{' is not '['.
    EXPECT_NE(0, CompareNoCase("\xe9", "\xc9"));
    EXPECT_NE(0, CompareNoCase("{", "["));
    EXPECT_NE(0, CompareNoCase(".ccd ", ".CCD"));
}

struct DecimalCase {
    const char* text;
    int32_t value;
    bool fits;
};

TEST(ParseDecimal, ConvertsLikeAtolAndFlagsOverflow) {
    const DecimalCase cases[] = {
        {"-30", -30, true},
        {"  +42xyz", 42, true},
        {"\t\n-7 8", -7, true},
        {"", 0, true},
        {"abc", 0, true},
        {"-", 0, true},
        {"- 5", 0, true},
        {"0", 0, true},
        {"2147483647", INT32_MAX, true},
        {"-2147483648", INT32_MIN, true},
        {"2147483648", INT32_MAX, false},
        {"-2147483649", INT32_MIN, false},
        {"00000000000000000000012", 12, true},
        {"99999999999", INT32_MAX, false},
        {"4294967296", INT32_MAX, false},
        {"-4294967266", INT32_MIN, false},
    };
    for (const auto& c : cases) {
        int32_t value = 12345;
        EXPECT_EQ(c.fits, ParseDecimal(c.text, &value)) << c.text;
        EXPECT_EQ(c.value, value) << c.text;
    }
}

TEST(CopyString, ReturnsThePositionOfTheCopiedNul) {
    char buffer[16];
    memset(buffer, 'x', sizeof(buffer));
    char* end = CopyString(buffer, "abc");
    EXPECT_EQ(buffer + 3, end);
    EXPECT_STREQ("abc", buffer);
    EXPECT_EQ('x', buffer[4]);
    CopyString(end, ".img");
    EXPECT_STREQ("abc.img", buffer);
}

TEST(BoundedLength, StopsAtTheLimit) {
    std::string long_text(2000, 'a');
    EXPECT_EQ(1024, BoundedLength(long_text.c_str(), 1024));
    EXPECT_EQ(5, BoundedLength("hello", 1024));
    EXPECT_EQ(0, BoundedLength("", 1024));
}

TEST(HexDigitValue, ReadsEitherCaseAndNothingElse) {
    const std::string digits = "0123456789abcdef";
    for (int c = 0; c < 256; ++c) {
        size_t lower = digits.find(static_cast<char>(c | 0x20));
        bool letter = (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        bool digit = c >= '0' && c <= '9';
        int32_t expected = digit || letter ? static_cast<int32_t>(lower) : 16;
        EXPECT_EQ(expected, HexDigitValue(static_cast<char>(c))) << c;
    }
}

}  // namespace

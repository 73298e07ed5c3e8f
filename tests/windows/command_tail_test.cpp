#include "command_tail.h"

#include <string>

#include "gtest/gtest.h"

namespace {

struct TailCase {
    const char* commandLine;
    const char* tail;
    const char* path;  // what the job gets, for a non-empty tail
};

const TailCase kCases[] = {
    {"kestran.exe D:\\discs\\game.ccd", "D:\\discs\\game.ccd", "D:\\discs\\game.ccd"},
    {"\"C:\\Program Files\\kestran.exe\" \"D:\\my discs\\game.ccd\"", "\"D:\\my discs\\game.ccd\"",
     "D:\\my discs\\game.ccd"},
    // Unquoted: the whole tail, blanks inside and behind it included.
    {"kestran.exe D:\\my discs\\game.ccd", "D:\\my discs\\game.ccd", "D:\\my discs\\game.ccd"},
    {"kestran.exe D:\\game.ccd ", "D:\\game.ccd ", "D:\\game.ccd "},
    {"kestran.exe \t \tD:\\game.ccd", "D:\\game.ccd", "D:\\game.ccd"},
    {"  \t kestran.exe D:\\game.ccd", "D:\\game.ccd", "D:\\game.ccd"},
    // Only the first quoted path counts.
    {"kestran.exe \"D:\\a.ccd\" \"D:\\b.ccd\"", "\"D:\\a.ccd\" \"D:\\b.ccd\"", "D:\\a.ccd"},
    {"kestran.exe \"\"", "\"\"", ""},
    {"kestran.exe \"D:\\open quote.ccd", "\"D:\\open quote.ccd", "D:\\open quote.ccd"},
    // The program's name ends at its closing quote even without a blank behind it.
    {"\"kestran.exe\"D:\\game.ccd", "D:\\game.ccd", "D:\\game.ccd"},
    {"\"C:\\a b\\kestran.exe", "", nullptr},
    {"kestran.exe", "", nullptr},
    {"kestran.exe   \t ", "", nullptr},
    {"\"kestran.exe\"", "", nullptr},
    {"", "", nullptr},
};

TEST(CommandTail, CutsTheProgramNameAndTakesOnePath) {
    for (const TailCase& c : kCases) {
        std::string line = c.commandLine;
        char* tail = CommandTail(&line[0]);
        EXPECT_STREQ(tail, c.tail) << "command line: " << c.commandLine;
        if (c.path != nullptr) {
            EXPECT_STREQ(TakeCommandPath(tail), c.path) << "command line: " << c.commandLine;
        }
    }
}

TEST(CommandTail, TheClosingQuoteBecomesTheEndOfThePathInPlace) {
    std::string line = "kestran.exe \"D:\\a.ccd\" rest";
    char* tail = CommandTail(&line[0]);
    char* path = TakeCommandPath(tail);
    EXPECT_EQ(path, tail + 1);
    EXPECT_EQ(line[21], '\0');
    EXPECT_STREQ(path + 9, " rest");
}

}  // namespace

// Reading rules of the three input files, one example each. The seed
// replays compare the readers with the fuzz targets' models over whole
// files; these rows pin down rules those models restate.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "support.h"

namespace {

// `reader`: 'h' a token header; 'l' a listing; 't' a trace line read with
// state 2 shown, return state 1 and token 11 in a listing of 10 states;
// 'n' the name of the token before '|' with the header after it.
// `read` is what the reader made of the input (see Read).
struct FormatRow {
    char reader;
    std::string input;
    std::string read;
};

const FormatRow kFormatRows[] = {
    {'h', "#define IDENT 257\n#DEFINE NUMBER\t  258\n", "IDENT=257 NUMBER=258"},
    {'h', "#define\tTAB 1\n  #define INDENTED 2\n#define GUARD\n#define TYPE int\n", ""},
    {'h', "#define HEX 0x10\n#define NEG -5 /* c */\n", "HEX=0 NEG=-5"},
    {'h', "#define BIG 2147483648\n#define MIN -2147483648\n", "MIN=-2147483648"},
    {'h', "#define " + std::string(23, 'N') + "XYZ 1\n#define " + std::string(23, 'M') + "42 2\n",
     std::string(23, 'M') + "=42"},
    {'l', StateHeader(7) + "\n+---" + std::string(27, '-') + "STATE \n", "2 states"},
    {'l', "+--x" + StateHeader(7).substr(4) + "\n " + StateHeader(7) + "\n+---short STATE \n", "0 states"},
    {'t', "at state 5, next token 257", "state 5 token 257 return 2"},
    {'t', "at   state\t3,next token   +43 and more", "state 3 token 43 return 2"},
    {'t', "at state 2, next token 44", "state 2 token 44 return 2"},
    {'t', "error: pop state 7, recover state 3", "state 3 token 11 return 2"},
    {'t', "at state 0, next token 257", "state 2 token 11 return 1"},
    {'t', "at state 10, next token 257", "state 2 token 11 return 1"},
    {'t', "at state 4294967301, next token 257", "state 2 token 11 return 1"},
    {'t', "at state 5 , next token 257", "state 2 token 11 return 1"},
    {'t', "error: pop state 7, recover state 0", "state 2 token 11 return 1"},
    {'n', "257|#define IDENT 257\n#define OTHER 257\n", "IDENT"},
    {'n', "-1|#define IDENT 257\n", "EOF"},
    {'n', "0|#define IDENT 257\n", "NULL"},
    {'n', "-1|#define END -1\n", "END"},
    {'n', "10|#define IDENT 257\n", "'^J'"},
    {'n', "-2|#define IDENT 257\n", "'^>'"},
    {'n', "556|#define IDENT 257\n", "','"},
    {'n', "-2147483648|#define IDENT 257\n", "'^@'"},
};

std::string Read(const FormatRow& row, const TempDir& dir) {
    ResetProgramState();
    std::string read;
    if (row.reader == 'h') {
        ReadInclude(dir.Write("yytab.h", row.input).c_str());
        for (uint16_t i = 0; i < sSymbols; ++i) {
            read += (i > 0 ? " " : "") + std::string(szSymbol[i].data()) + "=" + std::to_string(nSymbol[i]);
        }
    } else if (row.reader == 'n') {
        ReadInclude(dir.Write("yytab.h", row.input.substr(row.input.find('|') + 1)).c_str());
        nToken = std::stoi(row.input);
        read = TokenName();
    } else {
        testing::internal::CaptureStdout();
        OpenLRT(dir.Write("yy.lrt", row.reader == 'l' ? row.input : Listing(std::vector<int>(10, 2))).c_str());
        testing::internal::GetCapturedStdout();
        if (row.reader == 'l') return std::to_string(nStates) + " states";
        nState = 2, nCurrentState = 1, nToken = 11;
        std::snprintf(szTrace.data(), szTrace.size(), "%s", row.input.c_str());
        ParseTrace();
        read = "state " + std::to_string(nState) + " token " + std::to_string(nToken) + " return " +
               std::to_string(nCurrentState);
        if (szLRT[0].data() != StateHeader(int(nState)) && nState != 2) read += " (window not loaded)";
    }
    return read;
}

TEST(Readers, FormatRules) {
    TempDir dir;
    for (const FormatRow& row : kFormatRows) EXPECT_EQ(Read(row, dir), row.read) << row.reader << ": " << row.input;
    ResetProgramState();
}

TEST(Readers, OpenFailuresLeaveTheReason) {
    TempDir dir;
    errno = 0;
    EXPECT_EQ(TextOpen(dir.Path("missing").c_str()), nullptr);
    EXPECT_EQ(errno, ENOENT);
    errno = 0;
    EXPECT_EQ(TextOpen(dir.Path().c_str()), nullptr);
    EXPECT_EQ(errno, EISDIR);  // Windows refuses with EACCES
}

TEST(Readers, AListingCutShortWhileOpenLoadsNoLinesOfOtherStates) {
    TempDir dir;
    for (const std::string& shorter : {Listing({3, 4}), std::string()}) {
        ResetProgramState();
        testing::internal::CaptureStdout();
        ASSERT_TRUE(OpenLRT(dir.Write("yy.lrt", Listing({3, 40, 5})).c_str()));
        testing::internal::GetCapturedStdout();
        dir.Write("yy.lrt", shorter);
        nState = 1;
        LoadLRT();
        EXPECT_LE(nLRTLines, 40u);
        for (uint32_t i = 0; i < nLRTLines; ++i) {
            EXPECT_EQ(szLRT[i].data(), i == 0 ? StateHeader(1) : "state 1 line " + std::to_string(i));
        }
    }
    ResetProgramState();
}

}  // namespace

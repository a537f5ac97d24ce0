#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kwt.h"
#include "program_state.h"
#include "test_files.h"

namespace {

class Readers : public ::testing::Test {
protected:
    void SetUp() override { ResetProgramState(); }
    void TearDown() override { ResetProgramState(); }

    void OpenListing(const std::string& content) {
        ASSERT_TRUE(OpenListingQuietly(dir.Write("yy.lrt", content)));
    }
    void LoadState(uint32_t state) {
        nState = state;
        LoadLRT();
    }
    uint16_t ReadHeader(const std::string& content) {
        return ReadInclude(dir.Write("yytab.h", content).c_str());
    }
    void OpenTraceText(const std::string& content) {
        ASSERT_TRUE(OpenTrace(dir.Write("kwt.err", content).c_str()));
    }
    const char* NameOf(int32_t token) {
        nToken = token;
        return TokenName();
    }

    TempDir dir;
};

// ---- the state listing ------------------------------------------------------

TEST_F(Readers, StateHeadersNeedTheDashesAndTheWordAtOffset31) {
    const std::string header = StateHeader(0);
    ASSERT_EQ(header.compare(31, 6, "STATE "), 0);
    std::string noBlank = header;
    noBlank[36] = '7';  // "STATE7"
    std::string threeDashes = header;
    threeDashes[3] = ' ';  // "+-- "
    std::string movedWord = " " + header;
    OpenListing("preamble\n" + header + "\n" + noBlank + "\n" + threeDashes + "\n" + movedWord +
                "\n+---short STATE \n" + StateHeader(1) + "\n");
    EXPECT_EQ(nStates, 2u);
}

TEST_F(Readers, EachStateLoadsItsWholeBlock) {
    OpenListing(Listing({30, 1, 5, 2}, "grammar preamble\nmore preamble\n"));
    ASSERT_EQ(nStates, 4u);
    LoadState(0);
    EXPECT_EQ(nLRTLines, 30u);
    EXPECT_EQ(LoadedLine(0), StateHeader(0));
    EXPECT_EQ(LoadedLine(29), "state 0 line 29");
    LoadState(1);  // a header directly followed by the next header
    EXPECT_EQ(nLRTLines, 1u);
    EXPECT_EQ(LoadedLine(0), StateHeader(1));
    LoadState(3);  // the last state runs to the end of the file
    EXPECT_EQ(nLRTLines, 2u);
    EXPECT_EQ(LoadedLine(1), "state 3 line 1");
    LoadState(2);
    EXPECT_EQ(nLRTLines, 5u);
}

TEST_F(Readers, LongListingLinesAreSplitIntoWindowLines) {
    const std::string exactly80(80, 'e');
    const std::string long170(170, 'L');
    OpenListing(StateHeader(0) + "\n" + exactly80 + "\n" + long170 + "\n" + StateHeader(1) + "\n");
    LoadState(0);
    ASSERT_EQ(nLRTLines, 6u);
    EXPECT_EQ(LoadedLine(1), exactly80);
    EXPECT_EQ(LoadedLine(2), "");
    EXPECT_EQ(LoadedLine(3), std::string(80, 'L'));
    EXPECT_EQ(LoadedLine(5), std::string(10, 'L'));
}

TEST_F(Readers, CrlfListingLoadsTheSameWindow) {
    std::string crlf;
    for (char c : Listing({3, 4})) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    OpenListing(crlf + "\x1a" + StateHeader(2) + "\n");
    EXPECT_EQ(nStates, 2u);  // nothing after the Ctrl+Z counts
    LoadState(1);
    ASSERT_EQ(nLRTLines, 4u);
    EXPECT_EQ(LoadedLine(3), "state 1 line 3");
}

TEST_F(Readers, AWindowHoldsAtMost512Lines) {
    OpenListing(Listing({600, 2}));
    LoadState(0);
    EXPECT_EQ(nLRTLines, 512u);
    EXPECT_EQ(LoadedLine(511), "state 0 line 511");
}

TEST_F(Readers, IndexingStopsAtTheTableLimitAndBoundsTheLastState) {
    std::vector<int> blocks(kStatesMax + 3, 2);
    blocks[kStatesMax - 1] = 4;
    OpenListing(Listing(blocks));
    ASSERT_EQ(nStates, kStatesMax);
    LoadState(kStatesMax - 1);
    ASSERT_EQ(nLRTLines, 4u);  // its own block only, not the states after it
    EXPECT_EQ(LoadedLine(0), StateHeader(static_cast<int>(kStatesMax) - 1));
    EXPECT_EQ(LoadedLine(3), "state 4095 line 3");

    ResetProgramState();
    OpenListing(Listing(std::vector<int>(kStatesMax, 3)));
    ASSERT_EQ(nStates, kStatesMax);
    LoadState(kStatesMax - 1);
    EXPECT_EQ(nLRTLines, 3u);  // exactly full: bounded by the end of the file
}

TEST_F(Readers, AListingWithoutStatesLoadsNothing) {
    OpenListing("no states here\nat all\n");
    EXPECT_EQ(nStates, 0u);
    LoadState(0);
    EXPECT_EQ(nLRTLines, 0u);
}

TEST_F(Readers, LoadingAStateThatDoesNotExistLoadsNothing) {
    OpenListing(Listing({3}));
    LoadState(1);
    EXPECT_EQ(nLRTLines, 0u);
    LoadState(UINT32_MAX);
    EXPECT_EQ(nLRTLines, 0u);
}

TEST_F(Readers, ProgressIsCountedInTens) {
    testing::internal::CaptureStdout();
    OpenLRT(dir.Write("a.lrt", Listing(std::vector<int>(25, 1))).c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Reading the state file...\nState   10\rState   20\rState   25\n");
    ResetProgramState();
    testing::internal::CaptureStdout();
    OpenLRT(dir.Write("b.lrt", Listing(std::vector<int>(9, 1))).c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Reading the state file...\nState    9\n");
}

// ---- the token header -------------------------------------------------------

TEST_F(Readers, DefinitionsAreMatchedLikeTheCompilerWouldNot) {
    const uint16_t count = ReadHeader(
        "#ifndef YYTAB_H\n"
        "#define YYTAB_H\n"          // no number: passed over
        "#define IDENT 257\n"
        "#DEFINE NUMBER\t  258\n"    // keyword in capitals counts
        "#define\tTABBED 259\n"      // a tab after the keyword does not
        "  #define INDENTED 260\n"   // neither does anything before it
        "#define TYPE int\n"
        "#define HEX 0x10\n"         // the number stops at the x
        "#define NEG -5 /* comment */\n"
        "#endif\n");
    ASSERT_EQ(count, 4u);
    EXPECT_STREQ(szSymbol[0].data(), "IDENT");
    EXPECT_EQ(nSymbol[0], 257);
    EXPECT_STREQ(szSymbol[1].data(), "NUMBER");
    EXPECT_EQ(nSymbol[1], 258);
    EXPECT_STREQ(szSymbol[2].data(), "HEX");
    EXPECT_EQ(nSymbol[2], 0);
    EXPECT_EQ(nSymbol[3], -5);
}

TEST_F(Readers, NamesLongerThan23CharactersLeaveTheRestToTheNumber) {
    const std::string name23(23, 'N');
    ASSERT_EQ(ReadHeader("#define " + name23 + " 300\n"
                         "#define " + name23 + "XYZ 301\n"
                         "#define " + name23 + "42 302\n"),
              2u);
    EXPECT_EQ(szSymbol[0].data(), name23);
    EXPECT_EQ(szSymbol[1].data(), name23);
    EXPECT_EQ(nSymbol[1], 42);
}

TEST_F(Readers, NumbersOutside32BitsAreNotConverted) {
    ASSERT_EQ(ReadHeader("#define BIG 2147483648\n"
                         "#define HUGE 99999999999999999999\n"
                         "#define MAX 2147483647\n"
                         "#define MIN -2147483648\n"),
              2u);
    EXPECT_EQ(nSymbol[0], INT32_MAX);
    EXPECT_EQ(nSymbol[1], INT32_MIN);
}

TEST_F(Readers, TheTableKeepsTheFirst512Definitions) {
    std::string header;
    for (int i = 0; i < 600; ++i) header += "#define T" + std::to_string(i) + " " + std::to_string(1000 + i) + "\n";
    EXPECT_EQ(ReadHeader(header), kSymbolsMax);
    EXPECT_STREQ(szSymbol[kSymbolsMax - 1].data(), "T511");
    EXPECT_EQ(nSymbol[kSymbolsMax - 1], 1511);
}

TEST_F(Readers, HeaderLinesLongerThanTheBufferArriveInPieces) {
    const std::string padding(600, 'x');
    // The second piece of the long line starts with "#define ".
    const std::string longLine = "// " + std::string(508, 'x') + "#define PIECE 7\n";
    EXPECT_EQ(ReadHeader(longLine + "// " + padding + "\n"), 1u);
    EXPECT_STREQ(szSymbol[0].data(), "PIECE");
}

TEST_F(Readers, HeaderWithoutDefinitionsAndMissingHeaderGiveZero) {
    EXPECT_EQ(ReadHeader("/* nothing */\n"), 0u);
    testing::internal::CaptureStderr();
    EXPECT_EQ(ReadInclude(dir.Path("absent.h").c_str()), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Cannot open file!: No such file or directory\n");
}

TEST_F(Readers, TokenNamesFallBackToCharacterForms) {
    ASSERT_EQ(ReadHeader("#define IDENT 257\n#define FIRST 300\n#define SECOND 300\n"), 3u);
    EXPECT_STREQ(NameOf(257), "IDENT");
    EXPECT_STREQ(NameOf(300), "FIRST");  // the earlier line wins
    EXPECT_STREQ(NameOf(-1), "EOF");
    EXPECT_STREQ(NameOf(0), "NULL");
    EXPECT_STREQ(NameOf(10), "'^J'");
    EXPECT_STREQ(NameOf(-2), "'^>'");
    EXPECT_STREQ(NameOf(43), "'+'");
    EXPECT_STREQ(NameOf(300 + 256), "','");  // only the low byte prints
    EXPECT_STREQ(NameOf(INT32_MIN), "'^@'");
    EXPECT_STREQ(NameOf(256), "'^@'");  // byacc's and bison's error token, unnamed
    EXPECT_STREQ(NameOf(256 + 10), "'^J'");
}

TEST_F(Readers, NamedEndOfInputAndNoTokenWin) {
    ASSERT_EQ(ReadHeader("#define END_OF_INPUT -1\n#define NOTHING 0\n"), 2u);
    EXPECT_STREQ(NameOf(-1), "END_OF_INPUT");
    EXPECT_STREQ(NameOf(0), "NOTHING");
}

// ---- the trace --------------------------------------------------------------

class Trace : public Readers {
protected:
    void SetUp() override {
        Readers::SetUp();
        OpenListing(Listing(std::vector<int>(10, 3)));
    }
    // Interprets one trace line with state `from` on display.
    void Interpret(const std::string& line, uint32_t from = 2) {
        nState = from;
        std::snprintf(szTrace.data(), szTrace.size(), "%s", line.c_str());
        ParseTrace();
    }
};

TEST_F(Trace, AtStateLinesMoveTheDisplayAndSetTheToken) {
    Interpret("at state 5, next token 257");
    EXPECT_EQ(nState, 5u);
    EXPECT_EQ(nToken, 257);
    EXPECT_EQ(nCurrentState, 2u);
    EXPECT_EQ(nLRTLines, 3u);
    EXPECT_EQ(LoadedLine(0), StateHeader(5));

    Interpret("at state 7,next token -1 and more text", 5);
    EXPECT_EQ(nState, 7u);
    EXPECT_EQ(nToken, -1);
    Interpret("at   state\t3,   next token   +43", 7);
    EXPECT_EQ(nState, 3u);
    EXPECT_EQ(nToken, 43);
}

TEST_F(Trace, ErrorRecoveryMovesTheDisplayButKeepsTheToken) {
    nToken = 59;
    Interpret("error: pop state 7, recover state 3");
    EXPECT_EQ(nState, 3u);
    EXPECT_EQ(nCurrentState, 2u);
    EXPECT_EQ(nToken, 59);
}

TEST_F(Trace, LinesThatNameNoValidStateChangeNothing) {
    const std::vector<std::string> ignored = {
        "at state 0, next token 257",           // state 0 is never entered
        "at state 10, next token 257",          // equal to the number of states
        "at state -3, next token 257",
        " at state 5, next token 257",          // the words must start the line
        "at state 5 , next token 257",          // no blank before the comma in the form
        "at state 5, next token",
        "at state 4294967301, next token 257",  // would wrap to 5 in 32 bits
        "at state 5, next token 99999999999999999999",
        "error: pop state 7, recover state 0",
        "error: pop state 7, recover state 10",
        "shift token NUMBER (257), go to state 5",
        "",
    };
    for (const std::string& line : ignored) {
        nToken = 11;
        nCurrentState = 1;
        Interpret(line);
        EXPECT_EQ(nState, 2u) << line;
        EXPECT_EQ(nToken, 11) << line;
        EXPECT_EQ(nCurrentState, 1u) << line;
    }
}

TEST_F(Trace, NamingTheDisplayedStateStillSetsTheReturnState) {
    nCurrentState = 1;
    Interpret("at state 2, next token 44");
    EXPECT_EQ(nState, 2u);
    EXPECT_EQ(nCurrentState, 2u);
}

TEST_F(Trace, ReadingSplitsLongLinesAndKeepsTheLastLineAtTheEnd) {
    OpenTraceText(std::string(80, 'a') + "\n" + std::string(85, 'b') + "\nlast\n");
    const std::vector<std::string> expected = {std::string(80, 'a'), "", std::string(80, 'b'),
                                               "bbbbb", "last"};
    for (const std::string& line : expected) {
        ASSERT_TRUE(ReadTrace());
        EXPECT_EQ(std::string(szTrace.data()), line);
    }
    EXPECT_FALSE(ReadTrace());
    EXPECT_STREQ(szTrace.data(), "last");
}

TEST_F(Trace, MissingTraceIsReported) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(OpenTrace(dir.Path("absent.err").c_str()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Cannot open YACC Trace file!: No such file or directory\n");
}

}  // namespace

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

// byacc's and bison's listings: the first header of any kind decides the
// file's kind; a block runs to the next block (byacc's conflict lines for a
// state open its block).
TEST_F(Readers, GeneratorListingsAreIndexedByTheirOwnHeaders) {
    struct Row {
        std::string listing;
        uint32_t states;
        uint32_t load;
        std::vector<std::string> block;
    };
    const std::string conflict = "14: shift/reduce conflict (shift 27, reduce 18) on '%'";
    const std::vector<Row> rows = {
        {"  0  $accept : program $end\n\f\nstate 0\n\tA\n\n1: " + conflict.substr(4) + "\nstate 1\n\tB", 2, 1,
         {"1: " + conflict.substr(4), "state 1", "\tB"}},
        {"state 0\n\n" + conflict + "\n14: reduce/reduce conflict (reduce 1, reduce 2) on X\nstate 14\nC\n", 2, 0,
         {"state 0", ""}},
        // A conflict line of another state, or not right before the header, stays put.
        {"state 0\n3: shift/reduce conflict (shift 1, reduce 2) on Y\nstate 4\nstate 5\n" + conflict +
             "\n\nstate 14\n", 4, 0, {"state 0", "3: shift/reduce conflict (shift 1, reduce 2) on Y"}},
        {"State 15 conflicts: 1 shift/reduce\nGrammar\nState 0\n\n    0 $accept: . program $end\n"
         "State 1 \r\nstate 2\nState 14 contains 1 shift/reduce conflict.\n", 2, 1,
         {"State 1 ", "state 2", "State 14 contains 1 shift/reduce conflict."}},
        // Near misses are no headers of any kind.
        {"state\nstate x\nstate 1x\nstate -1\n state 1\nstates 1\nState  1\nstate 1234567890\n"
         "State 3 conflicts: 1\nstate 0 ", 1, 0, {"state 0 "}},
        // Mixed kinds: only the first kind's headers count.
        {StateHeader(0) + "\nstate 1\nState 2\n" + StateHeader(1) + "\n", 2, 0,
         {StateHeader(0), "state 1", "State 2"}},
        {"state 0\n" + StateHeader(1) + "\nState 2\nstate 1\n", 2, 0, {"state 0", StateHeader(1), "State 2"}},
        // A header is a whole line, never the rest of a long one.
        {"State 0\n" + std::string(80, '-') + "State 1\n", 1, 0, {"State 0", std::string(80, '-'), "State 1"}},
    };
    for (const Row& row : rows) {
        ResetProgramState();
        OpenListing(row.listing);
        EXPECT_EQ(nStates, row.states) << row.listing;
        LoadState(row.load);
        std::vector<std::string> block;
        for (uint32_t i = 0; i < nLRTLines; ++i) block.push_back(LoadedLine(i));
        EXPECT_EQ(block, row.block) << row.listing;
    }
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

TEST_F(Readers, AWindowHoldsAtMostItsTableOfLines) {
    OpenListing(Listing({static_cast<int>(kLRTLinesMax) + 88, 2}));
    LoadState(0);
    EXPECT_EQ(nLRTLines, kLRTLinesMax);
    EXPECT_EQ(LoadedLine(kLRTLinesMax - 1), "state 0 line " + std::to_string(kLRTLinesMax - 1));
}

TEST_F(Readers, IndexingStopsAtTheTableLimitAndBoundsTheLastState) {
    std::vector<int> blocks(kStatesMax + 3, 2);
    blocks[kStatesMax - 1] = 4;
    OpenListing(Listing(blocks));
    ASSERT_EQ(nStates, kStatesMax);
    LoadState(kStatesMax - 1);
    ASSERT_EQ(nLRTLines, 4u);  // its own block only, not the states after it
    EXPECT_EQ(LoadedLine(0), StateHeader(static_cast<int>(kStatesMax) - 1));
    EXPECT_EQ(LoadedLine(3), "state " + std::to_string(kStatesMax - 1) + " line 3");

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

TEST_F(Readers, EnumEntriesAreDefinitionsToo) {
    ASSERT_EQ(ReadHeader("  enum yytokentype\n  {\n"
                         "    YYEMPTY = -2,\n"
                         "    YYEOF = 0,                     /* \"end of file\"  */\n"
                         "    NUMBER = 258,                  /* NUMBER  */\n"
                         "        TOK_PLUS=259 // \"+\"\n"
                         "    LAST = 267\r\n"
                         "    STATEMENT = 5;\n"
                         "    SUM = a + 1,\n"
                         "    HEX = 0x10,\n"
                         "    TRAILING = 12 more,\n"
                         "    = 4,\n"
                         "    1X = 4,\n"
                         "    BIG = 2147483648,\n"
                         "  };\n#define IDENT 300\n"),
              6u);
    const std::vector<std::pair<std::string, int32_t>> expected = {
        {"YYEMPTY", -2}, {"YYEOF", 0}, {"NUMBER", 258}, {"TOK_PLUS", 259}, {"LAST", 267}, {"IDENT", 300}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(szSymbol[i].data(), expected[i].first);
        EXPECT_EQ(nSymbol[i], expected[i].second);
    }
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

TEST_F(Readers, TheTableKeepsTheFirstDefinitionsItHasRoomFor) {
    std::string header;
    for (std::size_t i = 0; i < kSymbolsMax + 88; ++i) {
        header += (i % 2 ? "#define T" : "  T") + std::to_string(i) + (i % 2 ? " " : " = ") +
                  std::to_string(1000 + i) + "\n";
    }
    EXPECT_EQ(ReadHeader(header), kSymbolsMax);
    EXPECT_EQ(szSymbol[kSymbolsMax - 1].data(), "T" + std::to_string(kSymbolsMax - 1));
    EXPECT_EQ(nSymbol[kSymbolsMax - 1], static_cast<int32_t>(1000 + kSymbolsMax - 1));
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

// byacc's and bison's traces: the kind is told from the first lines; each
// row's lines follow a line of its kind, with state 2 shown, return state 1,
// and no token read yet. The listing's bison terminals give tokens numbers.
TEST_F(Trace, GeneratorTraceLinesMoveTheDisplayAndNameTheToken) {
    struct Row {
        const char* kindLine;
        std::string lines;
        uint32_t state;
        const char* token;
        int32_t number;
    };
    const char* byacc = "yydebug[0]: state 0, shifting to state 3";
    const char* bison = "Starting parse";
    const std::string cut = "yydebug[2]: after reduction, result is <" + std::string(18, 'v') +
                            ">, shifting from state 3 to state 7";
    const std::string deep = "Stack now 0 1" + std::string(60, ' ') + "2 3 4 6";  // 80 columns
    const std::vector<Row> rows = {
        {byacc, "yydebug[3]: state 5, reading token 257 (NUMBER)", 5, "NUMBER", 257},
        {byacc, "yydebug: state 5, reading 41 (')') <1.5>", 5, "')'", 41},
        {byacc, "yydebug[1]: state 0, reading token 0 ($end)", 0, "$end", 0},
        {byacc, "yydebug: state 4, reading 0 (end-of-file)", 4, "$end", 0},
        {byacc, "yydebug[9]: state 12, reading token 40 ('(')", 2, "'('", 40},
        {byacc, "yydebug[1]: state 4, reading token 300 (NO_CLOSE", 4, "','", 300},
        {byacc, "calcdebug[2]: after reduction, shifting from state 3 to state 7", 7, "(none)", 11},
        {byacc, "yydebug: after reduction, shifting from state 0 to final state 1", 1, "(none)", 11},
        {byacc, "yydebug: after reduction, result is <to state 9>, shifting from 0 to state 1", 1, "(none)", 11},
        {byacc, "yydebug[5]: error recovery discarding state 3", 3, "(none)", 11},
        {byacc, "yydebug[4]: state 3, error recovery shifting to state 1", 3, "(none)", 11},
        {byacc, "yydebug[1]: state 6, error recovery discarding token 42 ('*')", 6, "(none)", 11},
        {byacc, "state 5, reading token 257 (NUMBER)\nline 3: syntax error\nyydebug[3]: state -1, x\n"
                "yydebug[3]: state 5 shifting", 2, "(none)", 11},
        {byacc, "yydebug[3]: state 4294967301, reading token 257 (N)\nEntering state 5\nat state 5, next token 1", 2, "(none)", 11},
        {byacc, cut + "5\nyydebug[5]: error recovery discarding state 3x", 2, "(none)", 11},
        {bison, "Entering state 5 ", 5, "(none)", 11},
        {bison, "Entering state 0", 0, "(none)", 11},
        {bison, "Stack now 0 4 6", 6, "(none)", 11},
        {bison, "Stack now 0 4 6x\nEntering state 10\nEntering state 99999999999", 2, "(none)", 11},
        {bison, deep + "7\n" + deep.substr(0, 79), 4, "(none)", 11},  // the first is cut in 67
        {bison, std::string(80, 'x') + "Entering state 5\nLAC: checking lookahead ';': R7 G5 S3", 2, "(none)", 11},
        {bison, "Reducing stack by rule 5 (line 7):\n   $1 = token NUMBER (5)\nat state 5, next token 1", 2, "(none)", 11},
        {bison, "Next token is token NUMBER (3.5)", 2, "NUMBER", 258},
        {bison, "Next token is token \"==\" (x)", 2, "\"==\"", 261},
        {bison, "Next token is token == (x)", 2, "==", 261},
        {bison, "Next token is token '(' ())", 2, "'('", 40},
        {bison, "Next token is token \"end of file\" ()", 2, "$end", 0},
        {bison, "Next token is token NUMBER (1)\nNow at end of input.", 2, "$end", 0},
        {bison, "Next token is token \"a b\" (x) y)", 2, "\"a b\"", 11},
        {bison, "Next token is token some name (x (y))", 2, "some name", 11},
        {bison, "Next token is token unclosed", 2, "unclosed", 11},
        // kwt's own format keeps its rules: a trace that starts in it reads no other kind.
        {"at state 1, next token 3", "Entering state 5\nyydebug[1]: state 6, reading token 1 (A)", 2, "$end", 0},
    };
    for (const Row& row : rows) {
        ResetProgramState();
        OpenListing(Listing(std::vector<int>(10, 3),
                            "Terminals, with rules where they appear\n\n    $end (0) 0\n    '(' (40) 7 8\n"
                            "    NUMBER <value> (258) 11\n    \"==\" (261) 12\n\n"
                            "Nonterminals, with rules where they appear\n    NOT_A_TERMINAL (300)\n"));
        OpenTraceText(std::string(row.kindLine) + "\n" + row.lines + "\n");
        ASSERT_TRUE(ReadTrace());
        nState = 2;
        nCurrentState = 1;
        if (std::string(TokenName()) == "(none)") nToken = 11;
        while (ReadTrace()) ParseTrace();
        EXPECT_EQ(nState, row.state) << row.lines;
        EXPECT_STREQ(TokenName(), row.token) << row.lines;
        EXPECT_EQ(nToken, row.number) << row.lines;
        // Naming the shown state changes nothing, so the return state stays.
        EXPECT_EQ(nCurrentState, row.state == 2 ? 1u : 2u) << row.lines;
    }
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

// Search (/ n N), next error (e) and go to state (g) through the key loop,
// on the in-memory console. Every jump is checked against stepping there
// with keypad plus from the first line.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "kwt.h"
#include "memory_console.h"
#include "program_state.h"
#include "test_files.h"

namespace mc = memory_console;
namespace vk = VirtualKey;

namespace {

// kwt's own trace. Line 7 is three pieces: "split" straddles the first two
// and so lies in no piece, "after" is in the third. Line 10 ends in CR LF.
// The two last matches cannot be seen: one after a NUL byte, one past 0x1A.
const std::string kOwnTrace = std::string(
    "at state 1, next token 258\n"               // 0
    "at state 2, next token 257\n"               // 1
    "reading IDENT alpha\n"                      // 2
    "at state 3, next token 43\n"                // 3
    "error: pop state 3, recover state 2\n"      // 4
    "error: pop state 2, recover state 1\n"      // 5
    "at state 2, next token 258\n") +            // 6
    std::string(77, '.') + "split" + std::string(78, '-') + "after\n" +  // 7, 8, 9
    "at state 1, next token 257 alpha\r\n"       // 10
    "line 3: syntax error\n"                     // 11
    "at state 3, next token 0\n"                 // 12
    "hidden" + std::string(1, '\0') + "alpha\n"  // 13
    "\x1a" "alpha\n";

const std::string kByaccTrace =
    "yydebug[0]: state 0, reading token 257 (NUMBER)\n"
    "yydebug[0]: state 0, shifting to state 3\n"
    "yydebug[1]: state 3, reducing by rule 5 (expr : NUMBER)\n"
    "yydebug[1]: after reduction, shifting from state 0 to state 4\n"
    "yydebug[1]: state 4, reading token 41 (')')\n"
    "line 1: syntax error\n"                                      // 5
    "yydebug[1]: error recovery discarding state 4\n"
    "yydebug[0]: state 0, error recovery shifting to state 1\n"
    "yydebug[1]: state 1, error recovery discarding token 41 (')')\n"
    "yydebug[1]: state 1, reading token 0 (end-of-file)\n";       // 9

const std::string kBisonTrace =
    "Starting parse\nEntering state 0\nStack now 0\nReading a token\n"
    "Next token is token NUMBER (1)\nShifting token NUMBER (1)\n"
    "Entering state 1\nStack now 0 1\nReading a token\n"          // 6, 7, 8
    "Next token is token ')' ()\n"
    "Error: popping nterm expr ()\nStack now 0\n"                  // 10, 11
    "Shifting token error ()\nEntering state 2\nStack now 0 2\n"
    "Error: discarding token ')' ()\n"                             // 15
    "Reading a token\nNow at end of input.\n";

struct Outcome {
    uint32_t state = 0;
    int32_t token = 0;
    uint32_t returnState = 0;
    std::string line;
};

bool operator==(const Outcome& a, const Outcome& b) {
    return a.state == b.state && a.token == b.token && a.returnState == b.returnState &&
           a.line == b.line;
}

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    return out << "state " << o.state << " token " << o.token << " return " << o.returnState
               << " line '" << o.line << "'";
}

Outcome Now() { return Outcome{nState, nToken, nCurrentState, szTrace.data()}; }

// The bottom row when the program waited for the `back`-th last key.
std::string BottomRowAtRead(std::size_t back) {
    const auto& screens = mc::ScreensAtReads();
    return screens.size() < back ? "" : screens[screens.size() - back].back();
}

class Search : public ::testing::Test {
protected:
    void TearDown() override { ResetProgramState(); }

    void Open(const std::string& trace) {
        ResetProgramState();
        mc::Reset();
        ASSERT_TRUE(OpenListingQuietly(dir.Write("yy.lrt", Listing({3, 3, 3, 3}))));
        ASSERT_TRUE(OpenTrace(dir.Write("kwt.err", trace).c_str()));
        ASSERT_EQ(ReadInclude(dir.Write("yytab.h", "#define IDENT 257\n").c_str()), 1);
    }

    // What pressing keypad plus `steps` times from the start shows.
    Outcome Stepped(const std::string& trace, int steps) {
        Open(trace);
        uint16_t scroll = 0;
        BeginSteps(mc::Output(), scroll);
        for (int i = 0; i < steps; ++i) NextStep(mc::Output(), scroll);
        return Now();
    }

    // Types `keys` into the key loop and ends it with Esc. Enter, Esc and
    // Backspace are \r, \x1b and \b; + - > are keypad plus, minus and PgDn.
    void Type(const std::string& trace, const std::string& keys) {
        Open(trace);
        for (char key : keys) {
            switch (key) {
            case '\r': mc::PushKey(vk::kEnter); break;
            case '\x1b': mc::PushKey(vk::kEscape); break;
            case '\b': mc::PushKey(vk::kBack); break;
            case '+': mc::PushKey(vk::kAdd); break;
            case '-': mc::PushKey(vk::kSubtract); break;
            case '>': mc::PushKey(vk::kPageDown); break;
            default: mc::PushCharacter(key); break;
            }
        }
        mc::PushKey(vk::kEscape);
        Process(mc::Input(), mc::Output());
    }

    TempDir dir;
};

TEST_F(Search, JumpsLandWhereSteppingWouldAndMissesChangeNothing) {
    struct Row {
        const std::string* trace;
        std::string keys;
        int step;           // the step that ends up shown, counted from the first line
        bool replayed;      // shown by keypad minus: only its state and line are recorded
        unsigned beeps;
        std::string note;   // on the bottom row afterwards
    };
    const std::vector<Row> rows = {
        {&kOwnTrace, "/alpha\r", 2, false, 0, ""},
        {&kOwnTrace, "/alpha\rn", 10, false, 0, ""},
        {&kOwnTrace, "/alpha\rnn", 10, false, 1, "Not found after this step: alpha"},
        {&kOwnTrace, "/split\r", 0, false, 1, "Not found after this step: split"},
        {&kOwnTrace, "/after\r", 9, false, 0, ""},
        {&kOwnTrace, "/alpha\rN", 2, false, 1, "Not found before this step: alpha"},
        {&kOwnTrace, "/alpha\rnN", 2, false, 0, ""},
        {&kOwnTrace, "+++/alpha\r", 10, false, 0, ""},
        {&kOwnTrace, "+++--/alpha\r", 2, false, 0, ""},  // from an older step
        {&kOwnTrace, "e", 4, false, 0, ""},
        {&kOwnTrace, "ee", 11, false, 0, ""},  // 5 follows an error line
        {&kOwnTrace, "eee", 11, false, 1, "No syntax error after this step"},
        {&kOwnTrace, "e-", 0, true, 0, ""},
        {&kOwnTrace, "e+", 5, false, 0, ""},
        {&kOwnTrace, "e-+", 4, false, 0, ""},
        {&kOwnTrace, "/alx\bpha\r", 2, false, 0, ""},
        {&kOwnTrace, "/alpha\x1bn", 0, false, 1, "Nothing to find again yet: / asks for a text"},
        {&kOwnTrace, "N", 0, false, 1, "Nothing to find again yet: / asks for a text"},
        {&kOwnTrace, "g12\r", 0, false, 1, "No state 12: the states are 0 to 3"},
        {&kOwnTrace, "g\x1b", 0, false, 0, ""},
        {&kByaccTrace, "e", 5, false, 0, ""},
        {&kByaccTrace, "ee", 5, false, 1, "No syntax error after this step"},
        {&kByaccTrace, "/(')')\rn", 8, false, 0, ""},
        {&kBisonTrace, "e", 10, false, 0, ""},
        {&kBisonTrace, "e+e", 15, false, 0, ""},
        {&kBisonTrace, "/Stack now 0 1\r/Entering\r", 13, false, 0, ""},
        {&kBisonTrace, "/end of input\rN", 17, false, 1, "Not found before this step: end of input"},
    };
    for (const Row& row : rows) {
        Type(*row.trace, row.keys);
        const Outcome got = Now();
        const std::string lastBottom = BottomRowAtRead(1);
        const unsigned beeps = static_cast<unsigned>(mc::Beeps().size());
        const Outcome want = Stepped(*row.trace, row.step);
        const std::string keys = "keys \"" + row.keys + "\"";
        if (row.replayed) {
            EXPECT_EQ(got.state, want.state) << keys;
            EXPECT_EQ(got.line, want.line) << keys;
        } else {
            EXPECT_EQ(got, want) << keys;
        }
        EXPECT_EQ(beeps, row.beeps) << keys;
        if (!row.note.empty()) {
            EXPECT_EQ(lastBottom.substr(0, row.note.size()), row.note) << keys;
        }
    }
}

TEST_F(Search, GoToStateShowsItWithoutAStep) {
    Type(kOwnTrace, "+g2\r");
    EXPECT_EQ(nState, 2u);
    EXPECT_EQ(std::string(szTrace.data()), "at state 2, next token 257");
    EXPECT_EQ(sStateCursor, 1);
    EXPECT_TRUE(mc::Beeps().empty());
}

TEST_F(Search, ThePromptShowsWhatIsTyped) {
    Type(kOwnTrace, "/ab\bc\x1b");
    EXPECT_EQ(BottomRowAtRead(2).substr(0, 9), "Find: ac ");  // before the Esc
    EXPECT_EQ(BottomRowAtRead(1).substr(0, 6), "State ");     // cancelled
    EXPECT_EQ(sStateCursor, 0);
}

// F1 or ? on the first help page turns to the second; other keys leave.
TEST_F(Search, HelpHasASecondPageWithTheJumpKeys) {
    const std::string first = pszHelp[0];
    const std::string second = "ZORVEX DEBUGGER: getting to the step that matters";
    const std::string browsing = StateHeader(0);
    struct Row {
        std::string keys;
        std::vector<std::string> topRows;  // at each read after the first
    };
    const std::vector<Row> rows = {{"??x", {first, second, browsing}},
                                   {"?x", {first, browsing}},
                                   {"?\x1b", {first}}};  // that Esc ends the loop
    for (const Row& row : rows) {
        Type(kOwnTrace, row.keys);
        const auto& screens = mc::ScreensAtReads();
        ASSERT_GE(screens.size(), row.topRows.size() + 1) << row.keys;
        for (std::size_t i = 0; i < row.topRows.size(); ++i) {
            EXPECT_EQ(screens[i + 1][0].substr(0, row.topRows[i].size()), row.topRows[i])
                << row.keys << " read " << i + 1;
        }
    }
}

// Esc read while the search runs, in its scan of a trace of several blocks
// and in its walk through many lines to a match: nothing changes.
TEST_F(Search, EscDuringALongSearchLeavesEverythingAsItWas) {
    struct Row {
        int lines;
        std::string keys;
    };
    const std::vector<Row> rows = {{40000, "+/target\r\x1b"}, {6000, "+/target\r\x1b"},
                                   {6000, "+e\x1b"}};
    for (const Row& row : rows) {
        std::string trace;
        for (int k = 0; k < row.lines; ++k) trace += "at state " + std::to_string(1 + k % 3) + ", next token 257\n";
        trace += "error: pop state 1, recover state 2 target\n";
        Type(trace, row.keys);
        const Outcome got = Now();
        EXPECT_EQ(sStateCursor, 1) << row.lines;
        EXPECT_EQ(sStateTop, 2) << row.lines;
        EXPECT_EQ(TextTell(pfileTrace), 2 * 27) << row.lines;
        EXPECT_TRUE(mc::Beeps().empty()) << row.lines;
        const auto& events = mc::Events();
        EXPECT_NE(std::find(events.begin(), events.end(), "poll"), events.end()) << row.lines;
        EXPECT_EQ(got, Stepped(trace, 1)) << row.lines;
    }
}

}  // namespace

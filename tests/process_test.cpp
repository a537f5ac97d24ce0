// The browsing screen, the step history, the key loop, the console stages
// around it and the failure report, on the in-memory console.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "fake_console.h"
#include "kwt.h"
#include "platform/error_text.h"
#include "support.h"

namespace {

// Rows above the status row as the screen leaves them: all 80 columns. The status row never writes
// column 79.
std::string Field(const std::string& text, std::size_t width = 80) {
    return (text + std::string(width, ' ')).substr(0, width);
}
std::string Shown(const fake::Screen& screen, int row) {
    return screen.Row(row).substr(0, row == StatusRow() ? 79 : 80);
}
std::string Shown(int row) { return Shown(fake::Now(), row); }
std::string Line(int state, int line) {
    return line == 0 ? StateHeader(state)
                     : "state " + std::to_string(state) + " line " + std::to_string(line);
}
std::string Status(int state, const char* token) {
    char text[80];
    std::snprintf(text, sizeof text, "State %4d of    3: Next Token: %s    Help:[F1]^[Sp]", state,
                  token);
    return Field(text, 79);
}

// Shown first but never interpreted, then: a move with a token, a line
// naming state 0 (ignored), an error recovery (token kept), another move.
const std::vector<std::string> kTrace = {
    "at state 1, next token 258", "at state 2, next token 257", "at state 0, next token 43",
    "error: pop state 2, recover state 3", "at state 1, next token 258"};

// Token 258's name: the status row cuts it so that the row still fits.
const std::string kLongName(63, 'N');

class Process : public ::testing::Test {
protected:
    void SetUp() override { Open({30, 23, 24, 2}, kTrace); }
    void TearDown() override { ResetProgramState(); }

    void Open(const std::vector<int>& states, const std::vector<std::string>& trace,
              const std::string& listing = "") {
        ResetProgramState();
        fake::Reset();
        std::string text;
        for (const std::string& line : trace) text += line + "\n";
        ASSERT_TRUE(OpenListingQuietly(dir.Write("yy.lrt", listing + Listing(states))));
        ASSERT_TRUE(OpenTrace(dir.Write("kwt.err", text).c_str()));
        ASSERT_EQ(
            ReadInclude(
                dir.Write("yytab.h", "#define IDENT 257\n#define " + kLongName + " 258\n").c_str()),
            2);
    }
    // Runs the key loop over `keys` (see fake::PushText) and a final Esc; gives the screen
    // shown while the program waited for that Esc.
    const fake::Screen& Run(const std::string& keys) {
        fake::PushText(keys + "\x1b");
        ::Process(fake::Input(), fake::Output());
        return fake::Waits().back();
    }
    void Next(int times = 1) {
        while (times-- > 0) NextStep(fake::Output(), scroll);
    }
    void Prev(int times = 1) {
        while (times-- > 0) PrevStep(fake::Output(), scroll);
    }

    TempDir dir;
    uint16_t scroll = 0;
};

// Text of an earlier screen everywhere, in a console wider than 80 columns: each repaint writes
// every cell of rows 0-23 up to column 79, and from 100 columns on the stack pane beside rows 0-22,
// nothing else, nor the bottom-right cell of the 80-column screen.
void FillWithHashes(int width) {
    fake::Reset(width, 25);
    MeasureScreen(fake::Output());
    uint32_t filled = 0;
    ConsoleFillCharacter(fake::Output(), '#', uint32_t(width * 25), 0, 0, &filled);
}
void ExpectNoHashLeft() {
    const int width = fake::Now().width;
    for (int row = 0; row < kScreenRows; ++row) {
        const std::string right = fake::Now().Row(row).substr(80);
        EXPECT_EQ(fake::Now().Row(row).substr(0, 80).find('#'), row < 24 ? std::string::npos : 79u);
        EXPECT_EQ(std::count(right.begin(), right.end(), '#'),
                  width < 100 || row > 22 ? width - 80 : 0)
            << row;
    }
    if (width >= 100) {
        EXPECT_EQ(fake::Now().Row(1).substr(80, 18), "|No stack recorded");
    }
}

TEST_F(Process, EveryRepaintCoversRows0To23InAll80ColumnsAndThePane) {
    for (const int width : {99, 120}) {
        // The first screen: state 0 and the first line, all 80 characters of its piece, not
        // interpreted.
        Open({30, 3, 4, 2}, {kTrace[0] + std::string(54, 'x')});
        FillWithHashes(width);
        scroll = 9;
        BeginSteps(fake::Output(), scroll);
        EXPECT_EQ(std::make_tuple(scroll, Shown(22), Shown(23), Shown(24)),
                  std::make_tuple(0, Field("state 0 line 22"), kTrace[0] + std::string(54, 'x'),
                                  Status(0, "(none)")));
        ExpectNoHashLeft();
        Open({30, 23, 24, 2}, kTrace);
        BeginSteps(fake::Output(), scroll);
        Next(2);  // state 0 is never entered
        FillWithHashes(width);
        Next();  // error recovery: the token stays; the repaint covers every row
        EXPECT_EQ(std::make_tuple(Shown(24), Shown(2)),
                  std::make_tuple(Status(3, "IDENT"), Field("")));
        ExpectNoHashLeft();
        Next();
        EXPECT_EQ(Shown(24), Status(1, kLongName.substr(0, 29).c_str()));
    }
    Open({30, 3, 4, 2}, {});
    EXPECT_EQ(Shown(Run(""), 24).substr(0, 18), "The trace is empty");
    Open({30, 3, 4, 2}, {});
    EXPECT_EQ(std::make_pair(Shown(Run("G"), 24).substr(0, 18), fake::state.beeps),
              std::make_pair(std::string("The trace is empty"), 1));
    // Each entry: its state, the symbol that leads there and its first item, blanks before it cut.
    Open({}, {"Starting parse", "Entering state 1"},
         StateHeader(0) + "\n" + StateHeader(1) + "\n\t e : e '+' .  (2)\n");
    Run("+s\x1b");
    EXPECT_EQ(Shown(fake::Waits()[2], 0), Field("The parser's stack: 1 state, top first"));
    EXPECT_EQ(Shown(fake::Waits()[2], 1), Field("     1  '+'                   e : e '+' .  (2)"));
    // An entry shifted with a reduction pending has no state: a dash stands for it.
    Open({30, 3, 4, 2}, {"p: Input 'A' in state 0", "p: Shift 'A', pending reduce 1"});
    Run("+s\x1b");
    EXPECT_EQ(Shown(fake::Waits()[2], 1).substr(0, 9), "     -  A");
    // The stack page: PgDn a window less one row on, End to the bottom, PgUp and Home back.
    std::string stack = "Stack now";
    for (int k = 0; k <= 60; ++k) stack += " " + std::to_string(k);
    Open({30, 3, 4, 2}, {"Starting parse", stack});
    Run("+++s}]{[\x1b");
    for (const auto& [wait, top] : {std::pair{4, 60}, {5, 39}, {6, 21}, {7, 42}, {8, 60}}) {
        EXPECT_EQ(std::stoi(Shown(fake::Waits()[std::size_t(wait)], 1).substr(0, 6)), top) << wait;
    }
}

// The trace around the step: lines of one piece each but the 21st, of three. From 40 rows the pane
// above the trace row shows the pieces before the step, oldest on top; `t` shows them on a page,
// the step's row two thirds down and marked, and the pieces after it. A resize brings the pane and
// takes it away.
TEST_F(Process, TheTraceAroundTheStep) {
    std::vector<std::string> trace, pieces;
    for (int k = 1; k <= 100; ++k) trace.push_back("line " + std::to_string(k));
    trace[20] = std::string(170, 'x');
    for (const std::string& line : trace) {
        for (std::size_t at = 0; at < line.size(); at += 80) pieces.push_back(line.substr(at, 80));
    }
    const auto piece = [&pieces](int k) {  // blank before the first and after the last
        return Field(k >= 0 && k < int(pieces.size()) ? pieces[std::size_t(k)] : "");
    };
    const std::string steps(24, '+');  // on piece 24, "line 23"
    for (const auto& [width, height] : {std::pair{80, 25}, {80, 40}, {120, 50}, {200, 60}}) {
        SCOPED_TRACE(height);
        Open({30, 23, 24, 2}, trace);
        fake::Reset(width, height);
        fake::state.attributesShow = height != 50;  // else a mark in column 0
        const auto& waits = fake::Waits();
        // On the page: PgDn, End (the trace's last piece on the last row), Home, PgUp (a beep).
        Run(steps + "t" + (height == 25 ? "@80x50@80x25" : "") + "}][{" + "\x1b");
        const int pane = height >= 40 ? height / 4 : 0, listing = height - 2 - (pane + 1) * !!pane;
        for (int row = listing + 1; row < height - 2; ++row) {
            EXPECT_EQ(Shown(waits[24], row), piece(24 - (height - 2 - row)));
        }
        const int step = 1 + (listing - 1) * 2 / 3;
        const fake::Screen& page = waits[25];
        EXPECT_EQ(Shown(page, 0), Field("Trace line 23 of the file"));
        for (int row = 1; row < listing; ++row) {
            const bool marked = row == step && fake::state.attributesShow;
            const std::string text = piece(24 + row - step);
            EXPECT_EQ(Shown(page, row), row == step && !marked ? ">" + text.substr(1) : text)
                << row;
            EXPECT_EQ(page.At(row, 3).attribute, marked ? 0x70 : 0x07) << row;
        }
        const std::size_t moves = height == 25 ? 28 : 26;
        const int rows = listing - 1, last = int(pieces.size()) - rows;
        EXPECT_EQ(Shown(waits[moves], 1), piece(std::min(std::max(25 - step, 0) + rows - 1, last)));
        EXPECT_EQ(Shown(waits[moves + 1], listing - 1), piece(int(pieces.size()) - 1)) << "End";
        EXPECT_EQ(Shown(waits[moves + 2], 1), piece(0)) << "Home";
        EXPECT_EQ(fake::state.beeps, 1);
        if (height != 25) continue;
        EXPECT_EQ(Shown(waits[26], 35).substr(0, 31), "-- the trace before this step -");
        EXPECT_EQ(Shown(waits[27], 22), Shown(page, 22));
    }
    // A trace without locations: the input page says how to get them.
    Open({30, 23, 24, 2}, trace);
    ASSERT_TRUE(OpenInput(dir.Write("input", "x\n").c_str()));
    Run("i\x1b");
    EXPECT_EQ(Shown(fake::Waits()[1], 0).substr(0, 17), "No location here:");
    CloseInput();
    // With one: its line a third down; PgDn, End, Home and PgUp (a beep) move the page.
    Open({30, 23, 24, 2}, {"Starting parse", "Next token is token IDENT (1050.1-3: abc)"});
    std::string input;
    for (int k = 1; k <= 1100; ++k) input += "line " + std::to_string(k) + "\n";
    input.pop_back();  // the last line has no line feed
    ASSERT_TRUE(OpenInput(dir.Write("input", input).c_str()));
    Run("+i}][{\x1b\x1b");
    for (const auto& [wait, first] : {std::pair{2, 1043}, {3, 1064}, {4, 1079}, {5, 1}, {6, 1}}) {
        const std::string row = Shown(fake::Waits()[std::size_t(wait)], 1);
        EXPECT_EQ(std::stoi(row.substr(0, 6)), first);
        EXPECT_NE(row.find("line " + std::to_string(first) + " "), std::string::npos) << row;
    }
    EXPECT_EQ(fake::state.beeps, 1);
    // The last reduction's result is underlined, not an older one's.
    Open({30, 23, 24, 2}, {"Starting parse", "-> $$ = nterm e (1.1-4: )",
                           "-> $$ = nterm e (2.1-2: )", "Next token is token IDENT (2.5-6: abc)"});
    Run("+++i\x1b");
    for (const auto& [row, underlined] : {std::pair{1, false}, {2, true}}) {
        const fake::Cell cell = fake::Waits()[4].At(row, 7);  // the first column after the number
        EXPECT_EQ((cell.attribute & 0x8000) != 0, underlined) << row;  // underlined
    }
    // A location past the input's last line: the input does not fit the trace.
    Open({30, 23, 24, 2}, {"Starting parse", "Next token is token IDENT (5000.1-3: abc)"});
    Run("+i\x1b");
    EXPECT_EQ(
        Shown(fake::Waits()[2], 1),
        Field("Line 5000 is past the input's end (1100 lines): is it the file the parser read?"));
    // At the end of input, which has no location, the page shows no line: PgDn cannot move it.
    Open({30, 23, 24, 2},
         {"Starting parse", "Next token is token IDENT (3.1-2: x)", "Now at end of input."});
    Run("++i}\x1b");
    EXPECT_EQ(fake::state.beeps, 1);
    CloseInput();
}

TEST_F(Process, TheRingKeepsTheNewest65535StepsAcrossTheWrap) {
    constexpr int kSteps = 70000, kKept = 65535;
    std::vector<std::string> trace;
    for (int k = 0; k <= kSteps; ++k)
        trace.push_back("at state " + std::to_string(1 + k % 3) + ", next token 257 step " +
                        std::to_string(k));
    Open({2, 2, 2, 2}, trace);
    BeginSteps(fake::Output(), scroll);
    Next(kSteps);
    Prev(kKept);  // one more than the ring keeps
    EXPECT_EQ(Shown(23), Field(trace[kSteps - kKept + 1]));
    EXPECT_EQ(nState, 1u + (kSteps - kKept + 1) % 3);
    Next(kKept - 1);
    EXPECT_EQ(Shown(23), Field(trace[kSteps]));
    EXPECT_EQ(fake::state.beeps, 0);
    Next();
    EXPECT_EQ(fake::state.beeps, 1);
    // The trace grows: its first new line is the next step.
    std::ofstream(dir.Path("kwt.err"), std::ios::app) << "at state 3, next token 257 grown\n";
    Next();
    EXPECT_EQ(Shown(23), Field("at state 3, next token 257 grown"));
}

// States of 30, 23, 24 and 2 lines; the trace is kTrace; the window 80 x 25 until resized (@).
// After the keys (see fake::PushText), state and scroll show on the first and the status row, or
// the window says it is too small; `traceLine` is the kTrace line on the trace row (-1: not
// checked; -2: a listing without states); `bells` counts the beeps.
struct KeyRow {
    const char* keys;
    uint32_t state;
    int scroll, bells, traceLine = -1;
};

const KeyRow kKeyRows[] = {
    // State keys stop at both ends with a beep.
    {"{", 0, 0, 1},
    {"9", 0, 0, 1},
    {"}}}}", 3, 0, 1},
    {"339", 1, 0, 0},
    {"]3", 3, 0, 1},
    {"]]1", 3, 0, 0},  // End is silent where it stands
    {"[", 0, 0, 1},
    {"7", 0, 0, 1},
    {"}7", 0, 0, 0},
    {"1[", 0, 0, 0},
    // Enter goes back to the state the trace stands in, once.
    {"\r", 0, 0, 1},
    {"}\r", 0, 0, 0},
    {"+++[\r\r", 2, 0, 1},
    // At the end a step key changes nothing: - goes back to the line before the last.
    {"++++++-", 3, 0, 2, 3},
    // G jumps to the last line, and there beeps; - comes back to where it jumped from.
    {"+GG-", 2, 0, 1, 1},
    // Home and End restart the history at the line on display.
    {"+++[-", 0, 0, 0, 3},
    {"+++[+", 1, 0, 0, 4},
    {"+++[+--", 3, 0, 0, 3},
    {"+++--]+", 3, 0, 0, 2},
    {"+++--1+-", 2, 0, 0, 1},
    {"+++71-", 3, 0, 0, 3},
    // Scrolling stops when the last line reaches the last listing row.
    {"_______", 0, 7, 0},
    {"_______2", 0, 7, 1},
    {"@80x24_________", 0, 8, 1},
    {"_______@80x30", 0, 2, 0},  // a resize keeps the scroll where it fits, else the last that does
    {"^", 0, 0, 1},
    {"22888", 0, 0, 1},
    {"}_", 1, 0, 1},
    {"}}__", 2, 1, 1},
    {"__}{", 0, 0, 0},
    {"__]", 3, 0, 0},
    // Help comes back to the same place; the key closing it does not act. In 10 rows it has three
    // parts: any key shows the next.
    {"__?}", 0, 2, 0, 0},
    {"__?@80x10  }", 0, 2, 0, 0},
    // A resize is no key: the prompt and its text stay. In too small a window keys do nothing until
    // it is resized; Esc ends kwt there, even at a prompt or in help.
    {"g1@80x10\r", 1, 0, 0},
    {"gx2\r", 2, 0, 0},  // the State: prompt takes digits only
    {"}@79x25}@80x25}", 2, 0, 0},
    {"g1@79x25", 0, 0, 0},
    {">@80x20}", 1, 0, 1},  // the bell of a jump that finds nothing takes the resize in
    {"?@80x9", 0, 0, 0},
    // A bison trace that names a state past the listing's last: no state's text shows for it, and
    // PgUp goes to the last.
    {"+", 7, 0, 0, -3},
    {"+9", 3, 0, 0, -3},
    // Without states no key moves off state 0.
    {"]", 0, 0, 0, -2},
    {"1", 0, 0, 0, -2},
    {"}", 0, 0, 1, -2},
    {"_", 0, 0, 1, -2},
    {"[", 0, 0, 1, -2},
};

TEST_F(Process, KeyTable) {
    for (const KeyRow& row : kKeyRows) {
        SCOPED_TRACE(row.keys);
        if (row.traceLine == -2) Open({}, kTrace, "no state headers here\n");
        if (row.traceLine == -3) Open({30, 23, 24, 2}, {"Starting parse", "Entering state 7"});
        if (row.traceLine > -2) Open({30, 23, 24, 2}, kTrace);
        fake::state.answers.assign(9, true);  // a console failure is asked about: none may come
        const fake::Screen& shown = Run(row.keys);
        EXPECT_EQ(fake::state.questions, std::vector<std::string>{});
        EXPECT_EQ(nState, row.state);
        EXPECT_EQ(fake::state.beeps, row.bells);
        if (!ScreenFits()) {
            EXPECT_EQ(shown.Row(0).substr(0, 36), "kwt needs a window of at least 80 x ");
            continue;
        }
        const bool past = row.traceLine == -3 && row.state >= nStates;
        const std::string status = row.traceLine == -2 ? "No states: the listing"
                                   : past ? "The trace names state 7; the listing has 4"
                                          : Status(int(row.state), "");
        const std::size_t compared = past ? 42 : 18;
        EXPECT_EQ(shown.Row(StatusRow()).substr(0, compared), status.substr(0, compared));
        EXPECT_EQ(Shown(shown, 0), row.traceLine == -2 || past
                                       ? Field("")
                                       : Field(Line(int(row.state), row.scroll)));
        if (row.traceLine >= 0) {
            EXPECT_EQ(Shown(shown, TraceRow()), Field(kTrace[std::size_t(row.traceLine)]));
        }
    }
}

TEST_F(Process, OnlyKeyDownOfEscEndsAndKeysTypedDuringThePauseAreDropped) {
    fake::PushKey(VirtualKey::kPageDown);
    fake::PushKey(VirtualKey::kPageDown, false, true);
    fake::PushKey(VirtualKey::kPageDown, true, true);
    fake::PushKey(VirtualKey::kPageDown, false);  // a release after the pause: no second press
    fake::state.input.push_back({});
    fake::PushKey(VirtualKey::kEscape, false);
    Run("");
    EXPECT_EQ(nState, 1u);
    EXPECT_EQ(fake::Waits().size(), 5u);
}

// The discards at help's pause and end and the loop's pause and end all fail: each is reported with
// its own line.
TEST_F(Process, TheEscThatClosesHelpEndsTheLoopAndEachDiscardHasItsLine) {
    fake::state.failingDiscards = 4;
    fake::state.answers.assign(4, true);
    Run("?\x1b>");  // the Esc closes help; PgDn and the last Esc are never read
    EXPECT_EQ(nState, 0u);
    EXPECT_EQ(fake::Waits().size(), 2u);
    EXPECT_EQ(Shown(fake::Waits()[1], 0), Field("ZORVEX DEBUGGER"));
    ASSERT_EQ(fake::state.questions.size(), 4u);
    std::set<std::string> lines;
    for (const std::string& report : fake::state.questions) {
        EXPECT_EQ(report.rfind("process: Error 9 from FlushConsoleInputBuffer on line ", 0), 0u)
            << report;
        lines.insert(report.substr(0, report.find(':', 50)));
    }
    EXPECT_EQ(lines.size(), 4u);
}

TEST_F(Process, OtherKeysShowTheHintBarThenBlackOnWhiteStaysAndTheConsoleColoursComeBack) {
    fake::Reset(80, 25, 0x1E);
    fake::PushText("} { \x1b");
    RunConsole(fake::Input(), fake::Output());
    const fake::Screen& shown = fake::Waits().back();
    // The bar takes the whole row: nothing of the status text stays.
    EXPECT_EQ(shown.Row(24).substr(0, 79),
              Field("PgUp/PgDn: Change State  Up/Down: Scroll  Keypad +/-: Program Step", 79));
    std::string colours;  // b: the bar's grey on cyan, w: black on white, n: never written
    for (int column = 0; column < 80; ++column) {
        colours += "bwn?"[std::string("\x37\xF0\x1E").find(char(shown.At(24, column).attribute))];
    }
    const std::string b23(23, 'b'), b15(15, 'b'), b24(24, 'b'), w13(13, 'w');
    EXPECT_EQ(colours, b23 + "ww" + b15 + "ww" + b24 + w13 + "n");
    EXPECT_EQ(shown.At(0, 0).attribute, 0xF0);  // repainted after the bar
    EXPECT_EQ(shown.At(23, 79).attribute, 0xF0);
    // The loop ends on a clear screen in the colours it left; the console's own come back after.
    EXPECT_EQ(fake::Now().Row(24), std::string(80, ' '));
    EXPECT_EQ(fake::Now().At(24, 79).attribute, 0xF0);
    RestoreConsole(fake::Input(), fake::Output());
    EXPECT_EQ(fake::state.attribute, 0x1E);
}

// The report names the call and gives the system's text, wrapped at blanks into 40 columns, or
// says there is none; a label of any length still leaves the question at its end.
TEST(Report, NamesTheCallAndGivesTheSystemTextThenAsks) {
    fake::Reset();
    for (const bool systemText : {true, false}) {
        fake::state.systemText = systemText;
        fake::state.answers.assign(2, true);
        perr("unit", 12, "ReadConsoleInput", 5);
        perr("unit", 12, std::string(3000, 'L').c_str(), 5);
    }
    const std::vector<std::string>& asked = fake::state.questions;
    ASSERT_EQ(asked.size(), 4u);
    EXPECT_EQ(asked[0], "unit: Error 5 from ReadConsoleInput on line 12:\n" +
                            WrapText(std::strerror(5)) + "\n\nContinue execution?");
    EXPECT_NE(asked[2].find("\nUnable to obtain error message text! \nkwt: Error "),
              std::string::npos);
    for (const std::string& report : {asked[1], asked[3]}) {
        EXPECT_LT(report.size(), kReportSize);
        EXPECT_EQ(report.substr(report.size() - 21), "\n\nContinue execution?");
    }
    const std::string a38(38, 'a'), a39(39, 'a'), a45(45, 'a');
    const std::pair<std::string, std::string> wraps[] = {
        {a38 + " b", a38 + " b"},
        {a39 + " b", a39 + "\nb"},
        {"x " + a45 + " y", "x\n" + a45.substr(0, 40) + "\naaaaa y"},
        {" \tone\r\ntwo  ", "one two"}};
    for (const auto& [text, wrapped] : wraps) EXPECT_EQ(WrapText(text.c_str()), wrapped) << text;
}

}  // namespace

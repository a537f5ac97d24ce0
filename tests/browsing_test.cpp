// Browsing the example files with the real program in a terminal: the
// first screen, steps through the trace, paging, scrolling, help, and the
// terminal as the program leaves it.
#include <gtest/gtest.h>
#include <termios.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "pty_terminal.h"

namespace {

namespace fs = std::filesystem;

#ifdef KWT_EXAMPLES_DIR
const fs::path kExamples = KWT_EXAMPLES_DIR;
#else
// The example files beside the tests' sources.
const fs::path kExamples = fs::path(__FILE__).parent_path().parent_path() / "examples";
#endif

constexpr int kListingRows = 23;
constexpr int kTraceRow = 23;
constexpr int kStatusRow = 24;
constexpr std::size_t kShownWidth = 79;

std::vector<std::string> FileLines(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
}

// A line as a row shows it: tabs run to the next multiple of eight, at most
// 79 cells, trailing blanks dropped.
std::string Shown(const std::string& line) {
    std::string row;
    for (char c : line) row += c == '\t' ? std::string(8 - row.size() % 8, ' ') : std::string(1, c);
    row.resize(std::min(row.size(), kShownWidth));
    return row.erase(row.find_last_not_of(' ') + 1);
}

// The lines of the example listing's block for `state`, its header first.
std::vector<std::string> ExampleBlock(int state) {
    const std::string word = "STATE " + std::to_string(state) + " ";
    std::vector<std::string> block;
    for (const std::string& line : FileLines(kExamples / "yy.lrt")) {
        const bool header = line.rfind("+---", 0) == 0 && line.size() > 37 &&
                            line.compare(31, 6, "STATE ") == 0;
        if (header && !block.empty()) break;
        if (!block.empty() || (header && line.compare(31, word.size(), word) == 0)) {
            block.push_back(line);
        }
    }
    return block;
}

// Rows 0-22 show `block` from its line `first` on, blank below its end.
void ExpectListing(const PtyTerminal& terminal, const std::vector<std::string>& block,
                   std::size_t first = 0) {
    for (int row = 0; row < kListingRows; ++row) {
        const std::size_t line = first + static_cast<std::size_t>(row);
        const std::string expected = line < block.size() ? Shown(block[line]) : "";
        EXPECT_EQ(terminal.Row(row), expected) << "row " << row;
    }
}

std::string Status(int state, const std::string& token) {
    char line[96];
    std::snprintf(line, sizeof line, "State %4d of   31: Next Token: %s    Help:[F1]^[Sp]", state,
                  token.c_str());
    return line;
}

// Types a key and waits until the program has acted on it and reads again.
void Key(PtyTerminal& terminal, const std::string& bytes) {
    terminal.Press(bytes);
    EXPECT_TRUE(terminal.WaitUntilReading()) << "after key " << testing::PrintToString(bytes)
                                             << "\n" << terminal.Dump();
}

void ExpectModesAsAtStart(const PtyTerminal& terminal) {
    const termios before = terminal.ModesAtStart();
    const termios after = terminal.CurrentModes();
    EXPECT_NE(after.c_lflag & ECHO, 0u);
    EXPECT_NE(after.c_lflag & ICANON, 0u);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
}

// A key and what follows it: the trace line on row 23, the state and token
// on the status line (and the state's header on row 0), the bells so far.
struct Move {
    const char* key;
    std::size_t traceLine;
    int state;
    const char* token;
    int bells;
};

class BrowsingTest : public ::testing::Test {
protected:
    std::vector<std::string> ExampleArguments() const {
        return {KWT_BINARY, (kExamples / "kwt.err").string(), (kExamples / "yy.lrt").string(),
                (kExamples / "yytab.h").string()};
    }

    std::unique_ptr<PtyTerminal> RunExample(PtyTerminal::Options options = {}) {
        auto terminal = std::make_unique<PtyTerminal>(options);
        EXPECT_TRUE(terminal->Start(ExampleArguments()));
        EXPECT_TRUE(terminal->WaitForText(kStatusRow, "State    0 of   31")) << terminal->Dump();
        return terminal;
    }

    void Walk(PtyTerminal& terminal, const std::vector<Move>& moves) const {
        for (std::size_t i = 0; i < moves.size(); ++i) {
            const Move& move = moves[i];
            SCOPED_TRACE("move " + std::to_string(i) + ": " + testing::PrintToString(move.key));
            Key(terminal, move.key);
            EXPECT_EQ(terminal.Row(kTraceRow), Shown(trace_.at(move.traceLine)));
            EXPECT_EQ(terminal.Row(kStatusRow), Status(move.state, move.token));
            EXPECT_EQ(terminal.Row(0), Shown(ExampleBlock(move.state).at(0)));
            EXPECT_EQ(terminal.Bells(), move.bells);
        }
    }

    const std::vector<std::string> trace_ = FileLines(kExamples / "kwt.err");
};

TEST_F(BrowsingTest, StepsFollowTheTraceAndEnterGoesBackToTheStateShownBefore) {
    auto terminal = RunExample();
    Walk(*terminal, {
        // Lines that name no state are steps of their own.
        {"+", 1, 0, "NULL", 0}, {"+", 2, 0, "NULL", 0}, {"+", 3, 0, "NULL", 0},
        {"+", 4, 0, "NULL", 0}, {"+", 5, 2, "IDENT", 0},
        // Back a step: its state and line again; the token stays the newest.
        {"-", 4, 0, "IDENT", 0}, {"+", 5, 2, "IDENT", 0}, {"+", 6, 2, "IDENT", 0},
        {"+", 7, 2, "IDENT", 0}, {"+", 8, 4, "'='", 0},
        // Enter: the state shown before the trace's latest change; there
        // already, a bell.
        {"\r", 8, 2, "'='", 0}, {"\r", 8, 2, "'='", 1},
        // End and Home start the history again at the step on screen:
        // nothing to go back to, and the next step is the line after it.
        {"\x1b[F", 8, 31, "'='", 1}, {"-", 8, 31, "'='", 1}, {"+", 9, 31, "'='", 1},
        {"+", 10, 31, "'='", 1}, {"+", 11, 13, "NUMBER", 1}, {"\r", 11, 31, "NUMBER", 1},
        {"\x1b[H", 11, 0, "NUMBER", 1}, {"-", 11, 0, "NUMBER", 1}, {"+", 12, 0, "NUMBER", 1},
    });
    terminal->Press("\x1b");
    EXPECT_EQ(terminal->WaitForExit().code, 0);
}

TEST_F(BrowsingTest, FirstScreenPagingHomeAndEndAndTheStartUpLinesLeftBehind) {
    auto terminal = RunExample();
    EXPECT_TRUE(terminal->AlternateScreen());
    ExpectListing(*terminal, ExampleBlock(0));
    EXPECT_EQ(terminal->Row(kTraceRow), "calc: parser debug trace, input file prog.calc");
    EXPECT_EQ(terminal->Row(kStatusRow), "State    0 of   31: Next Token: NULL    Help:[F1]^[Sp]");
    EXPECT_EQ(terminal->Bells(), 0);

    // Keys that cannot act ring; End at the last state is silent.
    Walk(*terminal, {
        {"\r", 0, 0, "NULL", 1}, {"\x1b[5~", 0, 0, "NULL", 2}, {"\x1b[6~", 0, 1, "NULL", 2},
        {"3", 0, 2, "NULL", 2}, {"\x1b[5~", 0, 1, "NULL", 2}, {"9", 0, 0, "NULL", 2},
        {"\x1b[F", 0, 31, "NULL", 2}, {"\x1b[F", 0, 31, "NULL", 2}, {"1", 0, 31, "NULL", 2},
    });
    // The last state runs to the end of the file.
    ExpectListing(*terminal, ExampleBlock(31));
    Walk(*terminal, {
        {"\x1b[6~", 0, 31, "NULL", 3}, {"9", 0, 30, "NULL", 3}, {"7", 0, 0, "NULL", 3},
        {"\x1b[H", 0, 0, "NULL", 4},
    });

    terminal->Press("\x1b");
    EXPECT_EQ(terminal->WaitForExit().code, 0);
    const std::vector<std::string> startUp = {
        "Zorvex DeBugger [KWT], Version 2.0",
        "Replays an LR parser's debug trace against its state listing.", "",
        "Reading the state file...", "State   32"};
    for (std::size_t row = 0; row < startUp.size(); ++row) {
        EXPECT_EQ(terminal->Row(static_cast<int>(row)), startUp[row]) << terminal->Dump();
    }
}

// State 2 is the longest: 43 lines in the file, among them one of exactly
// 80 characters (an empty piece follows it) and one of 125 (two pieces).
TEST_F(BrowsingTest, ScrollingReachesTheLastLineOfTheLongestStateAndHelpKeepsThePlace) {
    const std::vector<std::string> block = ExampleBlock(2);
    ASSERT_EQ(block.size(), 43u);
    const std::string eighty = block[40];
    const std::string long125 = block[41];
    ASSERT_EQ(eighty.size(), 80u);
    ASSERT_EQ(long125.size(), 125u);
    // The 45 lines as loaded; 22 lines down, the last one stands on row 22.
    std::vector<std::string> window(block.begin(), block.begin() + 40);
    window.insert(window.end(), {eighty, "", long125.substr(0, 80), long125.substr(80), ""});
    constexpr std::size_t kLastScroll = 45 - kListingRows;

    auto terminal = RunExample();
    Key(*terminal, "\x1b[6~");
    Key(*terminal, "\x1b[6~");
    Key(*terminal, "8");  // already at the top
    EXPECT_EQ(terminal->Bells(), 1);
    for (std::size_t scroll = 1; scroll <= kLastScroll; ++scroll) {
        Key(*terminal, scroll % 2 == 0 ? "2" : "\x1bOB");
        ASSERT_EQ(terminal->Row(0), Shown(window[scroll])) << "scroll " << scroll;
    }
    EXPECT_EQ(terminal->Bells(), 1);
    ExpectListing(*terminal, window, kLastScroll);
    EXPECT_EQ(terminal->Row(21), long125.substr(80));
    EXPECT_EQ(terminal->Row(kStatusRow), Status(2, "NULL"));
    Key(*terminal, "\x1bOB");
    EXPECT_EQ(terminal->Bells(), 2);

    Key(*terminal, "\x1bOP");
    EXPECT_EQ(terminal->Row(0), "ZORVEX DEBUGGER");
    EXPECT_EQ(terminal->Row(kStatusRow), "Press any key to exit help");
    Key(*terminal, "x");
    ExpectListing(*terminal, window, kLastScroll);
    EXPECT_EQ(terminal->Row(kStatusRow), Status(2, "NULL"));
    Key(*terminal, "\x1bOA");
    EXPECT_EQ(terminal->Row(kListingRows - 1), long125.substr(80));
    terminal->Press("\x1b");
    EXPECT_EQ(terminal->WaitForExit().code, 0);
}

// Terminals that do not switch their cursor keys to the application form
// the program asks for send the arrows in their normal form.
TEST_F(BrowsingTest, ArrowsInTheirNormalFormScrollToo) {
    const std::vector<std::string> block = ExampleBlock(2);
    auto terminal = RunExample();
    Key(*terminal, "\x1b[6~");
    Key(*terminal, "\x1b[6~");
    Key(*terminal, "\x1b[B");
    Key(*terminal, "\x1b[B");
    EXPECT_EQ(terminal->Row(0), Shown(block.at(2))) << terminal->Dump();
    Key(*terminal, "\x1b[A");
    EXPECT_EQ(terminal->Row(0), Shown(block.at(1))) << terminal->Dump();
    EXPECT_EQ(terminal->Row(kStatusRow), Status(2, "NULL"));
    terminal->Press("\x1b");
    EXPECT_EQ(terminal->WaitForExit().code, 0);
}

// Keys typed while the program finishes are not left for the shell, which
// here reads a line after it.
TEST_F(BrowsingTest, EscLeavesTheTerminalAsFoundWithNothingTypedLeftOver) {
    std::vector<std::string> arguments = {
        "/bin/bash", "-c",
        "\"$0\" \"$@\"; status=$?; read -r -t 0.5 line; echo \"STATUS:$status LEFT:[$line]\""};
    for (const std::string& argument : ExampleArguments()) arguments.push_back(argument);
    PtyTerminal terminal;
    ASSERT_TRUE(terminal.Start(arguments));
    ASSERT_TRUE(terminal.WaitForText(kStatusRow, "State    0 of   31")) << terminal.Dump();
    // The harness watches the shell, not the program, so keys go out as the
    // screen shows the program ready for them. Esc shows the hint bar while
    // the program pauses after it; the line goes out then.
    terminal.Send("\x1b");
    ASSERT_TRUE(terminal.WaitForText(kStatusRow, "PgUp/PgDn: Change State")) << terminal.Dump();
    terminal.Send("abc\n");
    ASSERT_TRUE(terminal.WaitFor([&] { return terminal.ScreenContains("STATUS:"); }))
        << terminal.Dump();
    EXPECT_TRUE(terminal.ScreenContains("STATUS:0 LEFT:[]")) << terminal.Dump();
    EXPECT_FALSE(terminal.ScreenContains("abc")) << terminal.Dump();
    ASSERT_TRUE(terminal.WaitForExit().ended);
    EXPECT_FALSE(terminal.AlternateScreen());
    ExpectModesAsAtStart(terminal);
}

// Twenty rows are too few for the screen: every failing call is reported,
// and after a yes the program goes on to the next one.
TEST_F(BrowsingTest, OnTwentyRowsYesGoesOnToTheNextReportAndNoEndsWithStatusOne) {
    PtyTerminal::Options small;
    small.rows = 20;
    PtyTerminal terminal(small);
    ASSERT_TRUE(terminal.Start(ExampleArguments()));
    ASSERT_TRUE(terminal.WaitFor([&] { return terminal.ScreenContains("Yes (y) / No (n)"); }))
        << terminal.Dump();
    EXPECT_TRUE(terminal.ScreenContains(" Console API Error "));
    const int firstReport = terminal.Bells();
    EXPECT_GE(firstReport, 1);

    terminal.Press("y");
    ASSERT_TRUE(terminal.WaitFor([&] {
        return terminal.Bells() > firstReport && terminal.ScreenContains("Yes (y) / No (n)");
    })) << terminal.Dump();
    EXPECT_TRUE(terminal.ScreenContains("SetConsoleCursorPosition")) << terminal.Dump();

    terminal.Press("n");
    const ExitStatus status = terminal.WaitForExit();
    ASSERT_TRUE(status.ended);
    EXPECT_TRUE(status.exited);
    EXPECT_EQ(status.code, 1);
    EXPECT_FALSE(terminal.AlternateScreen());
    ExpectModesAsAtStart(terminal);
}

}  // namespace

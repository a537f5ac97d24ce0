// Browsing the example files with the real program in a terminal: the
// first screen, steps through the trace, paging, scrolling, help, and the
// terminal as the program leaves it.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "terminal_fixture.h"

namespace {

const InputFiles kExampleFiles = {KWT_EXAMPLES_DIR "/kwt.err", KWT_EXAMPLES_DIR "/yy.lrt",
                                  KWT_EXAMPLES_DIR "/yytab.h"};

std::vector<std::string> FileLines(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
}

// A line as a row shows it: tabs run to the next multiple of eight, at most
// 80 cells, trailing blanks dropped.
std::string Shown(const std::string& line) {
    std::string row;
    for (char c : line) row += c == '\t' ? std::string(8 - row.size() % 8, ' ') : std::string(1, c);
    row.resize(std::min<std::size_t>(row.size(), 80));
    return row.erase(row.find_last_not_of(' ') + 1);
}

// The lines of the example listing's block for `state`, its header first.
std::vector<std::string> ExampleBlock(int state) {
    const std::string word = "STATE " + std::to_string(state) + " ";
    std::vector<std::string> block;
    for (const std::string& line : FileLines(kExampleFiles.listing)) {
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
        EXPECT_EQ(terminal.Row(row), line < block.size() ? Shown(block[line]) : "")
            << "row " << row;
    }
}

std::string Status(int state, const std::string& token) {
    char line[96];
    std::snprintf(line, sizeof line, "State %4d of   31: Next Token: %s    Help:[F1]^[Sp]", state,
                  token.c_str());
    return line;
}

// A key and what follows it: the trace line on row 23, the state and token
// on the status line (and the state's header on row 0), the bells so far.
struct Move { const char* key; std::size_t traceLine; int state; const char* token; int bells; };

class BrowsingTest : public TerminalFixture {
protected:
    std::unique_ptr<PtyTerminal> RunExample(std::vector<std::string> wrapper = {}) const {
        return Browse("State    0 of   31", kExampleFiles, {}, std::move(wrapper));
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

    const std::vector<std::string> trace_ = FileLines(kExampleFiles.trace);
};

TEST_F(BrowsingTest, FirstScreenPagingStepsAndTheStartUpLinesLeftBehind) {
    auto terminal = RunExample();
    EXPECT_TRUE(terminal->AlternateScreen());
    ExpectListing(*terminal, ExampleBlock(0));
    EXPECT_EQ(terminal->Row(kTraceRow), "calc: parser debug trace, input file prog.calc");
    EXPECT_EQ(terminal->Row(kStatusRow), Status(0, "NULL"));
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
        // Lines that name no state are steps of their own.
        {"+", 1, 0, "NULL", 4}, {"+", 2, 0, "NULL", 4}, {"+", 3, 0, "NULL", 4},
        {"+", 4, 0, "NULL", 4}, {"+", 5, 2, "IDENT", 4},
        // Back a step: its state and line again; the token stays the newest.
        {"-", 4, 0, "IDENT", 4}, {"+", 5, 2, "IDENT", 4}, {"+", 6, 2, "IDENT", 4},
        {"+", 7, 2, "IDENT", 4}, {"+", 8, 4, "'='", 4},
        // Enter: the state shown before the trace's latest change; there
        // already, a bell.
        {"\r", 8, 2, "'='", 4}, {"\r", 8, 2, "'='", 5},
    });

    EndWithEsc(*terminal);
    int row = 0;
    for (const char* line : {"Zorvex DeBugger [KWT], Version 2.0",
                             "Replays an LR parser's debug trace against its state listing.", "",
                             "Reading the state file...", "State   32"}) {
        EXPECT_EQ(terminal->Row(row++), line) << terminal->Dump();
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
    EndWithEsc(*terminal);
}

// Keys typed while the program finishes are not left for the shell, which
// here reads a line after it.
TEST_F(BrowsingTest, EscLeavesTheTerminalAsFoundWithNothingTypedLeftOver) {
    auto terminal = RunExample({"/bin/bash", "-c",
                                "\"$0\" \"$@\"; status=$?; read -r -t 0.5 line; "
                                "echo \"STATUS:$status LEFT:[$line]\""});
    // The harness watches the shell, not the program, so keys go out as the
    // screen shows the program ready for them. Esc shows the hint bar while
    // the program pauses after it; the line goes out then.
    terminal->Send("\x1b");
    ASSERT_TRUE(terminal->WaitForText(kStatusRow, "PgUp/PgDn: Change State")) << terminal->Dump();
    terminal->Send("abc\n");
    ASSERT_TRUE(terminal->WaitFor([&] { return terminal->ScreenContains("STATUS:"); }))
        << terminal->Dump();
    EXPECT_TRUE(terminal->ScreenContains("STATUS:0 LEFT:[]")) << terminal->Dump();
    EXPECT_FALSE(terminal->ScreenContains("abc")) << terminal->Dump();
    ExpectExit(*terminal, 0);
}

}  // namespace

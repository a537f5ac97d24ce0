// The real program in a pseudo-terminal: what a user's terminal shows,
// keys as terminals send them, and the terminal left as it was found
// however the program ends.
#include <gtest/gtest.h>
#include <termios.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "pty_terminal.h"

namespace {

namespace fs = std::filesystem;

constexpr char kStatusAtStart[] = "State    0 of    2: Next Token: NULL    Help:[F1]^[Sp]";
constexpr char kHelpPrompt[] = "Press any key to exit help";
constexpr int kListingRows = 23;
constexpr int kTraceRow = 23;
constexpr int kStatusRow = 24;

// A state header as the listing has it: "STATE " at offset 31.
std::string StateHeader(int state) {
    std::string line = "+" + std::string(29, '-') + " STATE " + std::to_string(state) + " ";
    return line + std::string(77 - line.size(), '-') + "+";
}

std::vector<std::string> DefaultListing() {
    std::vector<std::string> lines = {"test grammar: state listing", "", StateHeader(0)};
    for (int i = 1; i <= 28; ++i) lines.push_back("  state 0 line " + std::to_string(i));
    lines.push_back(StateHeader(1));
    lines.push_back("  NUMBER  shift 2");
    lines.push_back(StateHeader(2));
    lines.push_back("  PLUS  reduce 1");
    return lines;
}

class TerminalTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(StateHeader(0).find("STATE "), 31u);
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/kwt-pty-XXXXXX";
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        directory_ = pattern;
        WriteFile("tokens.h", "#define NUMBER 257\n#define PLUS 258\n");
        WriteFile("trace.txt",
                  "parser trace begins\n"
                  "at state 1, next token 257\n"
                  "at state 2, next token 258\n");
        WriteListing(DefaultListing());
    }

    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(directory_, ignored);
    }

    void WriteFile(const std::string& name, const std::string& contents) {
        std::ofstream file(directory_ / name, std::ios::binary);
        file << contents;
    }

    void WriteListing(const std::vector<std::string>& lines) {
        std::string contents;
        for (const std::string& line : lines) contents += line + "\n";
        WriteFile("listing.lrt", contents);
    }

    std::unique_ptr<PtyTerminal> Launch(PtyTerminal::Options options = {}) {
        auto terminal = std::make_unique<PtyTerminal>(options);
        const bool started = terminal->Start({KWT_BINARY, (directory_ / "trace.txt").string(),
                                              (directory_ / "listing.lrt").string(),
                                              (directory_ / "tokens.h").string()});
        EXPECT_TRUE(started);
        return terminal;
    }

    // Runs the program and waits for its first browsing screen.
    std::unique_ptr<PtyTerminal> RunToFirstScreen(PtyTerminal::Options options = {}) {
        auto terminal = Launch(options);
        EXPECT_TRUE(terminal->WaitForText(kStatusRow, "State    0 of    2")) << terminal->Dump();
        return terminal;
    }

    fs::path directory_;
};

// Line mode, echo and the rest as they were before the program ran.
void ExpectModesRestored(const PtyTerminal& terminal) {
    const termios before = terminal.ModesAtStart();
    const termios after = terminal.CurrentModes();
    EXPECT_TRUE((after.c_lflag & ECHO) != 0);
    EXPECT_TRUE((after.c_lflag & ICANON) != 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
}

TEST_F(TerminalTest, BrowsesOnTheAlternateScreenAndEscLeavesTheTerminalAsFound) {
    auto terminal = RunToFirstScreen();
    EXPECT_TRUE(terminal->AlternateScreen());
    const std::vector<std::string> listing = DefaultListing();
    for (int row = 0; row < kListingRows; ++row) {
        EXPECT_EQ(terminal->Row(row), listing[static_cast<std::size_t>(row) + 2]) << "row " << row;
    }
    EXPECT_EQ(terminal->Row(kTraceRow), "parser trace begins");
    EXPECT_EQ(terminal->Row(kStatusRow), kStatusAtStart);
    // Drawn in the terminal's own colours.
    EXPECT_EQ(terminal->Foreground(0, 0), CellColour::Default());
    EXPECT_EQ(terminal->Background(kStatusRow, 0), CellColour::Default());

    terminal->Press("\x1b");
    const ExitStatus status = terminal->WaitForExit();
    ASSERT_TRUE(status.ended);
    EXPECT_TRUE(status.exited);
    EXPECT_EQ(status.code, 0);
    EXPECT_FALSE(terminal->AlternateScreen());
    // The lines printed before the key loop stayed on the normal screen.
    EXPECT_EQ(terminal->Row(0), "Zorvex DeBugger [KWT], Version 2.0");
    EXPECT_TRUE(terminal->ScreenContains("Reading the state file...")) << terminal->Dump();
    EXPECT_TRUE(terminal->ScreenContains("State    3")) << terminal->Dump();
    ExpectModesRestored(*terminal);
}

// Each key in the forms terminals send it, and where it leads.
TEST_F(TerminalTest, KeysInTheFormsTerminalsSendThem) {
    struct Step {
        const char* name;
        const char* bytes;
        const char* status;
        const char* traceLine;  // null: not checked
    };
    const Step steps[] = {
        {"plus", "+", "State    1 of    2: Next Token: NUMBER", "at state 1, next token 257"},
        {"keypad plus", "\x1bOk", "State    2 of    2: Next Token: PLUS",
         "at state 2, next token 258"},
        // Going back replays the step's state and trace line, not its token.
        {"minus", "-", "State    1 of    2: Next Token: PLUS", "at state 1, next token 257"},
        {"keypad minus", "\x1bOm", "State    0 of    2", "parser trace begins"},
        {"PgDn", "\x1b[6~", "State    1 of    2", nullptr},
        {"keypad 3", "\x1bOs", "State    2 of    2", nullptr},
        {"PgUp", "\x1b[5~", "State    1 of    2", nullptr},
        {"keypad 9", "\x1bOy", "State    0 of    2", nullptr},
        {"vt220 End", "\x1b[4~", "State    2 of    2", nullptr},
        {"application Home", "\x1bOH", "State    0 of    2", nullptr},
        {"ANSI End", "\x1b[F", "State    2 of    2", nullptr},
        {"vt220 Home", "\x1b[1~", "State    0 of    2", nullptr},
    };
    auto terminal = RunToFirstScreen();
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        terminal->Press(step.bytes);
        ASSERT_TRUE(terminal->WaitForText(kStatusRow, step.status)) << terminal->Dump();
        if (step.traceLine != nullptr) {
            EXPECT_EQ(terminal->Row(kTraceRow), step.traceLine);
        }
    }
    EXPECT_EQ(terminal->Row(0), StateHeader(0));
    terminal->Press("\x1b");
    EXPECT_EQ(terminal->WaitForExit().code, 0);
}

TEST_F(TerminalTest, HintBarHelpScreenAndTheirColours) {
    auto terminal = RunToFirstScreen();
    // A key curses does not know must not act as Esc.
    terminal->Press("\x1b[99~");
    ASSERT_TRUE(terminal->WaitForText(kStatusRow, "PgUp/PgDn: Change State")) << terminal->Dump();
    EXPECT_EQ(terminal->Foreground(kStatusRow, 0), CellColour::Indexed(7));  // grey
    EXPECT_EQ(terminal->Background(kStatusRow, 0), CellColour::Indexed(6));  // on cyan

    // Help clears the screen in black on bright white, the last cell too.
    terminal->Press("\x1bOP");
    ASSERT_TRUE(terminal->WaitForText(kStatusRow, kHelpPrompt)) << terminal->Dump();
    EXPECT_EQ(terminal->Row(0), "ZORVEX DEBUGGER");
    EXPECT_EQ(terminal->Foreground(0, 0), CellColour::Indexed(0));
    EXPECT_EQ(terminal->Background(0, 0), CellColour::Indexed(15));
    EXPECT_EQ(terminal->Background(kStatusRow, 79), CellColour::Indexed(15));

    terminal->Press("x");
    ASSERT_TRUE(terminal->WaitForText(kStatusRow, "State    0 of    2")) << terminal->Dump();
    EXPECT_EQ(terminal->Row(0), StateHeader(0));

    terminal->Press("?");
    ASSERT_TRUE(terminal->WaitForText(kStatusRow, kHelpPrompt)) << terminal->Dump();
    // The key that closes help counts as pressed: Esc there ends the program.
    terminal->Press("\x1b");
    const ExitStatus status = terminal->WaitForExit();
    EXPECT_TRUE(status.exited);
    EXPECT_EQ(status.code, 0);
}

TEST_F(TerminalTest, ListingBytesNeverReachTheTerminalRaw) {
    std::vector<std::string> listing = DefaultListing();
    listing[3] = "\fAB\x1b[31mCD\x1b]0;pwned\x07" "EF\x1b[2J\x01\x7f\xb0\xdb\tI";
    WriteListing(listing);
    struct Case {
        const char* locale;
        const char* row;  // every byte one cell; the tab runs to column 32
    };
    const Case cases[] = {
        {"C.UTF-8", "\u2640AB\u2190[31mCD\u2190]0;pwned\u2022EF\u2190[2J"
                    "\u263A\u2302\u2591\u2588  I"},
        // Where the locale cannot show the pictures, a placeholder each.
        {"C", "?AB?[31mCD?]0;pwned?EF?[2J????  I"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.locale);
        PtyTerminal::Options options;
        options.locale = c.locale;
        auto terminal = RunToFirstScreen(options);
        EXPECT_EQ(terminal->Row(1), c.row);
        EXPECT_EQ(terminal->Character(1, 32), U'I');
        EXPECT_EQ(terminal->Foreground(1, 8), CellColour::Default());
        EXPECT_EQ(terminal->Title(), "");
        const std::string& output = terminal->Output();
        for (const char* raw : {"\x1b]0;pwned", "\x1b[31mCD", "EF\x1b[2J", "\x07" "EF", "\f"}) {
            EXPECT_EQ(output.find(raw), std::string::npos) << "raw bytes reached the terminal";
        }
        terminal->Press("\x1b");
        EXPECT_EQ(terminal->WaitForExit().code, 0);
    }
}

// The hint bar is grey on cyan and help black on bright white: with fewer
// colours they come as near as the terminal allows.
TEST_F(TerminalTest, ColoursOnTerminalsWithFewerColours) {
    struct Case {
        const char* term;
        CellColour helpForeground;
        CellColour helpBackground;
        bool helpReversed;
    };
    const Case cases[] = {
        {"xterm", CellColour::Indexed(0), CellColour::Indexed(7), false},  // eight colours
        {"vt100", CellColour::Default(), CellColour::Default(), true},     // none
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.term);
        PtyTerminal::Options options;
        options.term = c.term;
        auto terminal = RunToFirstScreen(options);
        terminal->Press("x");
        ASSERT_TRUE(terminal->WaitForText(kStatusRow, "PgUp/PgDn: Change State"));
        EXPECT_FALSE(terminal->Reverse(kStatusRow, 0));
        terminal->Press("?");
        ASSERT_TRUE(terminal->WaitForText(kStatusRow, kHelpPrompt));
        EXPECT_EQ(terminal->Foreground(0, 0), c.helpForeground);
        EXPECT_EQ(terminal->Background(0, 0), c.helpBackground);
        EXPECT_EQ(terminal->Reverse(0, 0), c.helpReversed);
        terminal->Press("\x1b");
        EXPECT_EQ(terminal->WaitForExit().code, 0);
    }
}

TEST_F(TerminalTest, EndingSignalsRestoreTheTerminalAndEndTheProcessBySignal) {
    struct Ending {
        const char* name;
        int signal;
        const char* typed;  // sent as keys instead of by kill()
    };
    const Ending endings[] = {
        {"SIGTERM", SIGTERM, nullptr},
        {"SIGHUP", SIGHUP, nullptr},
        {"Ctrl+C", SIGINT, "\x03"},
    };
    for (const Ending& ending : endings) {
        SCOPED_TRACE(ending.name);
        auto terminal = RunToFirstScreen();
        ASSERT_TRUE(terminal->WaitUntilReading());
        if (ending.typed != nullptr) {
            terminal->Send(ending.typed);
        } else {
            terminal->Signal(ending.signal);
        }
        const ExitStatus status = terminal->WaitForExit();
        ASSERT_TRUE(status.ended);
        EXPECT_FALSE(status.exited);
        EXPECT_EQ(status.signal, ending.signal);
        EXPECT_FALSE(terminal->AlternateScreen());
        ExpectModesRestored(*terminal);
    }
}

TEST_F(TerminalTest, TooSmallATerminalAsksWhetherToGoOnAndNoEndsWithStatusOne) {
    PtyTerminal::Options small;
    small.rows = 20;
    auto terminal = Launch(small);
    ASSERT_TRUE(terminal->WaitFor([&] { return terminal->ScreenContains("Yes (y) / No (n)"); }))
        << terminal->Dump();
    EXPECT_TRUE(terminal->ScreenContains(" Console API Error ")) << terminal->Dump();
    EXPECT_TRUE(terminal->ScreenContains("Error 22 from SetConsoleCursorPosition"));
    EXPECT_TRUE(terminal->ScreenContains("Invalid argument"));
    EXPECT_TRUE(terminal->ScreenContains("Continue execution?"));
    EXPECT_GE(terminal->Bells(), 1);

    // Only y or n answers.
    terminal->Press("\r");
    ASSERT_TRUE(terminal->WaitUntilReading());
    EXPECT_TRUE(terminal->ScreenContains("Yes (y) / No (n)"));

    terminal->Press("n");
    const ExitStatus status = terminal->WaitForExit();
    ASSERT_TRUE(status.ended);
    EXPECT_TRUE(status.exited);
    EXPECT_EQ(status.code, 1);
    EXPECT_FALSE(terminal->AlternateScreen());
    ExpectModesRestored(*terminal);
}

// Where the report's box does not fit, the question takes the bottom line.
TEST_F(TerminalTest, ANarrowTerminalAsksOnTheBottomLine) {
    PtyTerminal::Options narrow;
    narrow.rows = 20;
    narrow.columns = 40;
    auto terminal = Launch(narrow);
    ASSERT_TRUE(terminal->WaitForText(19, "Continue execution? (y/n)")) << terminal->Dump();
    EXPECT_EQ(terminal->Row(19).substr(0, 3), "...");
    EXPECT_FALSE(terminal->ScreenContains("Yes (y) / No (n)"));
    terminal->Press("n");
    const ExitStatus status = terminal->WaitForExit();
    ASSERT_TRUE(status.ended);
    EXPECT_EQ(status.code, 1);
    ExpectModesRestored(*terminal);
}

// Keys come from a terminal, the screen goes to a file: the question is
// asked on standard error and answered with one key, no Enter needed.
TEST_F(TerminalTest, WithoutATerminalForOutputTheQuestionGoesToStandardError) {
    auto terminal = std::make_unique<PtyTerminal>();
    ASSERT_TRUE(terminal->Start({"/bin/sh", "-c", "exec \"$0\" \"$@\" >/dev/null", KWT_BINARY,
                                 (directory_ / "trace.txt").string(),
                                 (directory_ / "listing.lrt").string(),
                                 (directory_ / "tokens.h").string()}));
    ASSERT_TRUE(terminal->WaitFor([&] { return terminal->ScreenContains("Yes (y) / No (n)"); }))
        << terminal->Dump();
    EXPECT_TRUE(terminal->ScreenContains("Console API Error"));
    EXPECT_TRUE(terminal->ScreenContains("Bad file descriptor"));
    EXPECT_FALSE(terminal->AlternateScreen());
    terminal->Press("x");
    ASSERT_TRUE(terminal->WaitUntilReading());
    terminal->Send("n");
    const ExitStatus status = terminal->WaitForExit();
    ASSERT_TRUE(status.ended);
    EXPECT_EQ(status.code, 1);
    ExpectModesRestored(*terminal);
}

// With no terminal to read keys from, nothing can be asked: the answer is no.
TEST_F(TerminalTest, WithoutATerminalForInputTheAnswerIsNo) {
    auto terminal = std::make_unique<PtyTerminal>();
    ASSERT_TRUE(terminal->Start({"/bin/sh", "-c", "exec \"$0\" \"$@\" </dev/null", KWT_BINARY,
                                 (directory_ / "trace.txt").string(),
                                 (directory_ / "listing.lrt").string(),
                                 (directory_ / "tokens.h").string()}));
    const ExitStatus status = terminal->WaitForExit();
    ASSERT_TRUE(status.ended);
    EXPECT_EQ(status.code, 1);
    EXPECT_FALSE(terminal->AlternateScreen());
    EXPECT_TRUE(terminal->ScreenContains("NULL handle, process error")) << terminal->Dump();
    ExpectModesRestored(*terminal);
}

TEST_F(TerminalTest, AResizeIsNoKeyAndTheScreenSizeFollowsTheTerminal) {
    auto terminal = RunToFirstScreen();
    ASSERT_TRUE(terminal->WaitUntilReading());
    terminal->Resize(30, 100);
    ASSERT_TRUE(terminal->WaitUntilReading());
    terminal->Press("\x1b[6~");
    ASSERT_TRUE(terminal->WaitForText(kStatusRow, "State    1 of    2")) << terminal->Dump();

    // Shrunk below the 25 rows the screen needs: drawing row 20 fails.
    terminal->Resize(20, 80);
    terminal->Press("\x1b[5~");
    ASSERT_TRUE(terminal->WaitFor([&] { return terminal->ScreenContains("Yes (y) / No (n)"); }))
        << terminal->Dump();
    terminal->Press("n");
    EXPECT_EQ(terminal->WaitForExit().code, 1);
}

TEST_F(TerminalTest, EndOfInputEndsTheProgramInsteadOfWaitingForever) {
    PtyTerminal::Options options;
    options.ignoreHangup = true;
    auto terminal = RunToFirstScreen(options);
    ASSERT_TRUE(terminal->WaitUntilReading());
    terminal->HangUp();
    const ExitStatus status = terminal->WaitForExit();
    ASSERT_TRUE(status.ended) << "the program went on after its input ended";
    EXPECT_TRUE(status.exited);
    EXPECT_EQ(status.code, 1);
}

}  // namespace

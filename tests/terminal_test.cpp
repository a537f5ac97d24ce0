// The real program in a pseudo-terminal: what a user's terminal shows,
// keys as terminals send them, and the terminal left as it was found
// however the program ends.
#include <csignal>
#include <string>

#include "terminal_fixture.h"

namespace {

constexpr char kFirstStatus[] = "State    0 of    2";
constexpr char kHintBar[] = "PgUp/PgDn: Change State";
constexpr char kHelpPrompt[] = "Press any key to exit help";
constexpr char kQuestion[] = "Yes (y) / No (n)";

// Three states, the first longer than the listing's rows.
class TerminalTest : public TerminalFixture {
protected:
    void SetUp() override {
        Write("tokens.h", "#define NUMBER 257\n#define PLUS 258\n");
        Write("trace.txt",
              "parser trace begins\nat state 1, next token 257\nat state 2, next token 258\n");
        Write("listing.lrt", Listing({29, 2, 2}, "test grammar: state listing\n\n"));
    }

    std::unique_ptr<PtyTerminal> Run(PtyTerminal::Options options = {}) const {
        return Browse(kFirstStatus, {}, std::move(options));
    }

    // Waits for the question that follows a failure report.
    static bool Asked(PtyTerminal& terminal) {
        return terminal.WaitFor([&] { return terminal.ScreenContains(kQuestion); });
    }
};

// The browsing screen comes on the alternate screen, where the terminal has
// one, in the terminal's own colours; the hint bar is grey on cyan and help
// black on bright white, the last cell too. With fewer colours they come as
// near as the terminal allows.
TEST_F(TerminalTest, BrowsesOnTheAlternateScreenWithColoursAsTheTerminalAllows) {
    using C = CellColour;
    struct Case {
        const char* term;
        bool alternate;
        C barFore, barBack, helpFore, helpBack;
        bool helpReversed;
    };
    const C black = C::Indexed(0), cyan = C::Indexed(6), grey = C::Indexed(7), none = C::Default();
    const Case cases[] = {
        {"xterm-256color", true, grey, cyan, black, C::Indexed(15), false},
        {"xterm", true, grey, cyan, black, grey, false},  // eight colours
        {"vt100", false, none, none, none, none, true},   // none
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.term);
        PtyTerminal::Options options;
        options.term = c.term;
        auto terminal = Run(options);
        EXPECT_EQ(terminal->AlternateScreen(), c.alternate);
        EXPECT_EQ(terminal->Foreground(0, 0), none);
        EXPECT_EQ(terminal->Background(kStatusRow, 0), none);

        // A key the program does not know must not act as Esc.
        terminal->Press("\x1b[99~");
        ASSERT_TRUE(terminal->WaitForText(kStatusRow, kHintBar)) << terminal->Dump();
        EXPECT_EQ(terminal->Foreground(kStatusRow, 0), c.barFore);
        EXPECT_EQ(terminal->Background(kStatusRow, 0), c.barBack);
        EXPECT_FALSE(terminal->Reverse(kStatusRow, 0));

        terminal->Press("\x1bOP");
        ASSERT_TRUE(terminal->WaitForText(kStatusRow, kHelpPrompt)) << terminal->Dump();
        EXPECT_EQ(terminal->Row(0), "ZORVEX DEBUGGER");
        EXPECT_EQ(terminal->Foreground(0, 0), c.helpFore);
        EXPECT_EQ(terminal->Background(0, 0), c.helpBack);
        EXPECT_EQ(terminal->Background(kStatusRow, 79), c.helpBack);
        EXPECT_EQ(terminal->Reverse(0, 0), c.helpReversed);

        terminal->Press("x");
        ASSERT_TRUE(terminal->WaitForText(kStatusRow, kFirstStatus)) << terminal->Dump();
        EXPECT_EQ(terminal->Row(0), StateHeader(0));
        terminal->Press("?");
        ASSERT_TRUE(terminal->WaitForText(kStatusRow, kHelpPrompt)) << terminal->Dump();
        // The key that closes help counts as pressed: Esc there ends the program.
        EndWithEsc(*terminal);
    }
}

// Each key in the forms terminals send it, and where it leads: the status
// line's start and one row.
TEST_F(TerminalTest, KeysInTheFormsTerminalsSendThem) {
    struct Step {
        const char* name, *bytes, *status;
        int row;
        std::string text;
    };
    const Step steps[] = {
        {"plus", "+", "State    1 of    2: Next Token: NUMBER", kTraceRow,
         "at state 1, next token 257"},
        {"keypad plus", "\x1bOk", "State    2 of    2: Next Token: PLUS", kTraceRow,
         "at state 2, next token 258"},
        // Going back replays the step's state and trace line, not its token.
        {"minus", "-", "State    1 of    2: Next Token: PLUS", kTraceRow,
         "at state 1, next token 257"},
        {"keypad minus", "\x1bOm", "State    0 of    2", kTraceRow, "parser trace begins"},
        {"PgDn", "\x1b[6~", "State    1 of    2", 0, StateHeader(1)},
        {"keypad 3", "\x1bOs", "State    2 of    2", 0, StateHeader(2)},
        {"PgUp", "\x1b[5~", "State    1 of    2", 0, StateHeader(1)},
        {"keypad 9", "\x1bOy", "State    0 of    2", 0, StateHeader(0)},
        {"vt220 End", "\x1b[4~", "State    2 of    2", 0, StateHeader(2)},
        {"application Home", "\x1bOH", "State    0 of    2", 0, StateHeader(0)},
        {"ANSI End", "\x1b[F", "State    2 of    2", 0, StateHeader(2)},
        {"vt220 Home", "\x1b[1~", "State    0 of    2", 0, StateHeader(0)},
        // Terminals that do not switch their cursor keys to the application
        // form the program asks for send the arrows in their normal form.
        {"normal Down", "\x1b[B", "State    0 of    2", 0, "state 0 line 1"},
        {"application Down", "\x1bOB", "State    0 of    2", 0, "state 0 line 2"},
        {"normal Up", "\x1b[A", "State    0 of    2", 0, "state 0 line 1"},
        {"application Up", "\x1bOA", "State    0 of    2", 0, StateHeader(0)},
        // Esc followed at once by a key is that key with Alt, not Esc.
        {"Alt+x", "\x1bx", "PgUp/PgDn: Change State", 0, StateHeader(0)},
        {"Alt+PgDn", "\x1b\x1b[6~", "PgUp/PgDn: Change State", 0, StateHeader(0)},
    };
    auto terminal = Run();
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        Key(*terminal, step.bytes);
        EXPECT_EQ(terminal->Row(kStatusRow).rfind(step.status, 0), 0u) << terminal->Dump();
        EXPECT_EQ(terminal->Row(step.row), step.text);
    }
    EndWithEsc(*terminal);
}

TEST_F(TerminalTest, EndingSignalsRestoreTheTerminalAndEndTheProcessBySignal) {
    struct Ending { const char* name; int signal; const char* typed; };  // typed: sent as keys
    const Ending endings[] = {
        {"SIGTERM", SIGTERM, nullptr}, {"SIGHUP", SIGHUP, nullptr}, {"Ctrl+C", SIGINT, "\x03"}};
    for (const Ending& ending : endings) {
        SCOPED_TRACE(ending.name);
        auto terminal = Run();
        ASSERT_TRUE(terminal->WaitUntilReading());
        if (ending.typed != nullptr) {
            terminal->Send(ending.typed);
        } else {
            terminal->Signal(ending.signal);
        }
        ExpectExit(*terminal, 0, ending.signal);
    }
}

// Twenty rows are too few for the screen: every failing call is reported
// with a bell, only y or n answers, y goes on to the next report and n
// ends with status 1.
TEST_F(TerminalTest, OnTwentyRowsEachFailureAsksWhetherToGoOn) {
    PtyTerminal::Options small;
    small.rows = 20;
    auto terminal = Launch({}, small);
    ASSERT_TRUE(Asked(*terminal)) << terminal->Dump();
    for (const char* text : {" Console API Error ", "Error 22 from SetConsoleCursorPosition",
                             "Invalid argument", "Continue execution?"}) {
        EXPECT_TRUE(terminal->ScreenContains(text)) << text << "\n" << terminal->Dump();
    }
    const int firstReport = terminal->Bells();
    EXPECT_GE(firstReport, 1);

    Key(*terminal, "\r");
    EXPECT_TRUE(terminal->ScreenContains(kQuestion));
    terminal->Press("y");
    ASSERT_TRUE(terminal->WaitFor([&] {
        return terminal->Bells() > firstReport && terminal->ScreenContains(kQuestion);
    })) << terminal->Dump();
    EXPECT_TRUE(terminal->ScreenContains("SetConsoleCursorPosition")) << terminal->Dump();
    terminal->Press("n");
    ExpectExit(*terminal, 1);
}

// Where the report's box does not fit, the question takes the bottom line.
TEST_F(TerminalTest, ANarrowTerminalAsksOnTheBottomLine) {
    PtyTerminal::Options narrow;
    narrow.rows = 20;
    narrow.columns = 40;
    auto terminal = Launch({}, narrow);
    ASSERT_TRUE(terminal->WaitForText(19, "Continue execution? (y/n)")) << terminal->Dump();
    EXPECT_EQ(terminal->Row(19).substr(0, 3), "...");
    EXPECT_FALSE(terminal->ScreenContains(kQuestion));
    terminal->Press("n");
    ExpectExit(*terminal, 1);
}

// Keys come from a terminal, the screen goes to a file: the question is
// asked on standard error and answered with one key, no Enter needed.
TEST_F(TerminalTest, WithoutATerminalForOutputTheQuestionGoesToStandardError) {
    auto terminal = Launch({}, {}, {"/bin/sh", "-c", "exec \"$0\" \"$@\" >/dev/null"});
    ASSERT_TRUE(Asked(*terminal)) << terminal->Dump();
    EXPECT_TRUE(terminal->ScreenContains("Console API Error"));
    EXPECT_TRUE(terminal->ScreenContains("Bad file descriptor"));
    EXPECT_FALSE(terminal->AlternateScreen());
    Key(*terminal, "x");
    terminal->Press("n");
    ExpectExit(*terminal, 1);
}

// With no terminal to read keys from, nothing can be asked: the answer is no.
TEST_F(TerminalTest, WithoutATerminalForInputTheAnswerIsNo) {
    auto terminal = Launch({}, {}, {"/bin/sh", "-c", "exec \"$0\" \"$@\" </dev/null"});
    ExpectExit(*terminal, 1);
    EXPECT_TRUE(terminal->ScreenContains("NULL handle, process error")) << terminal->Dump();
}

TEST_F(TerminalTest, AResizeIsNoKeyAndTheScreenSizeFollowsTheTerminal) {
    Write("trace.txt", "\t\t\t\t\t\t\t\t\t\tZ\n");
    auto terminal = Run();
    ASSERT_TRUE(terminal->WaitUntilReading());
    terminal->Resize(30, 100);
    ASSERT_TRUE(terminal->WaitUntilReading());
    terminal->Press("\x1b[6~");
    ASSERT_TRUE(terminal->WaitForText(kStatusRow, "State    1 of    2")) << terminal->Dump();
    // Wider than 80 columns, the tabs still stop at column 79.
    EXPECT_EQ(terminal->Row(kTraceRow), "") << terminal->Dump();

    // Shrunk below the 25 rows the screen needs: drawing row 20 fails.
    terminal->Resize(20, 80);
    terminal->Press("\x1b[5~");
    ASSERT_TRUE(Asked(*terminal)) << terminal->Dump();
    terminal->Press("n");
    ExpectExit(*terminal, 1);
}

TEST_F(TerminalTest, EndOfInputEndsTheProgramInsteadOfWaitingForever) {
    PtyTerminal::Options options;
    options.ignoreHangup = true;
    auto terminal = Run(options);
    ASSERT_TRUE(terminal->WaitUntilReading());
    terminal->HangUp();
    const ExitStatus status = terminal->WaitForExit();
    ASSERT_TRUE(status.ended) << "the program went on after its input ended";
    EXPECT_TRUE(status.exited);
    EXPECT_EQ(status.code, 1);
}

}  // namespace

// The real program. Without a terminal: start-up order, messages on the right stream and exit
// statuses, one row per run. In a pseudo-terminal, what only a terminal shows: key forms, colours
// per terminal type, file bytes a terminal would act on, resizes, the failure question, the
// terminal restored.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "pty_terminal.h"
#include "support.h"

namespace {

const std::string kBanner =
    "Zorvex DeBugger [KWT], Version 2.0\n"
    "Replays an LR parser's debug trace against its state listing.\n\n";
const std::string kUsage = kBanner +
                           "Need the name of the YACC include file. Exiting\nexample: " KWT_BINARY
                           " kwt.err yy.lrt yytab.h\n";
const std::string kIndexed = kBanner + "Reading the state file...\nState    3\n";
const std::string kNoHeader = kBanner + "Cannot read YACC include file. Exiting\n";

// Arguments, run by bash after the program ($K where it stands elsewhere), use $T (a trace), $L (a
// listing of 3 states), $H (a header), $D (a directory, in `err` too), $E (the examples directory);
// stdin is /dev/null. `out`: all of stdout, or its start when it ends with "..."; `err`: a part of
// stderr.
struct ProgramRow {
    const char* arguments;
    int status;
    std::string out, err;
};

const std::string kHelp =
    "Usage: kwt TRACE LISTING HEADER [INPUT]\n       kwt -h | --help | --version\n...";
const ProgramRow kProgramRows[] = {
    {"", 1, kUsage, ""},
    {"$T $L", 1, kUsage, ""},
    {"--help", 0, kHelp, ""},
    {"$T -h", 0, kHelp, ""},
    {"--version $T", 0, "kwt 2.0\n", ""},
    {"$T $L $H -x", 1, "", "kwt: unknown option -x (kwt --help shows the usage)\n"},
    {"--foo --help", 1, "", "kwt: unknown option --foo"},
    {"$T $L $D/absent.h", 2, kNoHeader,
     "Cannot open file!: No such file or directory\nkwt: $D/absent.h: No such file or directory\n"},
    {"$T $L $D/empty.h", 2, kNoHeader, ""},
    {"$T $L $D", 2, kNoHeader, "Is a directory"},
    {"$T $D/absent.lrt $H", 3, kBanner,
     "Cannot open YACC LRT file! Use '-v' flag with YACC: No such file or directory\n"},
    {"$T $D $H", 3, kBanner, "Use '-v' flag with YACC: Is a directory\nkwt: $D: Is a directory\n"},
    {"$D/absent.err $L $H", 4, kIndexed,
     "Cannot open YACC Trace file!: No such file or directory\nkwt: $D/absent.err: No such file"},
    {"TMPDIR=$D/absent $K <(cat $T) $L $H", 4, kIndexed,
     "be read twice, so it is read from a copy: the copy in $TMPDIR ($D/absent) failed: No such"},
    {"$D $L $H", 4, kIndexed, "Is a directory"},
    {"$D $H $H", 4, kBanner + "Reading the state file...\nState    0\n", "No states found in "},
    // No terminal: one line says so, before the key loop.
    {"$T $L $H $T", 1, kIndexed + "NULL handle, process error\n",
     "kwt: standard output is not a terminal: kwt needs one for its screen\n"},
    {"$T $L $H $D/absent.in", 5, kIndexed,
     "Cannot open the parser's input file: No such file or directory\nkwt: $D/absent.in: No"},
    // Pipes are read from copies, so that search and stepping back can go back in them.
    {"<(cat $T; head -c 70000 /dev/zero) <(cat $L) $H", 1,
     kBanner + "The state file is a pipe: read from a copy (270 bytes)\nReading the state file...\n"
               "State    3\nThe trace is a pipe: read from a copy (70036 bytes)\nNULL...",
     "not a terminal"},
    {"$E/kwt.err $E/yy.lrt $E/yytab.h", 1,
     kBanner + "Reading the state file...\nState   10\rState   20\r...", "not a terminal"},
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(Program, StartUpTable) {
    TempDir dir;
    dir.Write("kwt.err", "starting\nat state 1, next token 257\n");
    dir.Write("yy.lrt", Listing({2, 3, 2}));
    dir.Write("yytab.h", "#define IDENT 257\n");
    dir.Write("empty.h", "#define GUARD\n\x01\x02\xff");
    const std::string names[][2] = {{"$D", dir.Path().substr(0, dir.Path().size() - 1)},
                                    {"$T", dir.Path("kwt.err")},
                                    {"$L", dir.Path("yy.lrt")},
                                    {"$H", dir.Path("yytab.h")},
                                    {"$E", KWT_EXAMPLES_DIR},
                                    {"$K", KWT_BINARY}};
    const auto expand = [&names](std::string text, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            for (std::size_t at; (at = text.find(names[i][0])) != std::string::npos;)
                text.replace(at, 2, names[i][1]);
        }
        return text;
    };
    for (const ProgramRow& row : kProgramRows) {
        SCOPED_TRACE(row.arguments);
        const std::string arguments = row.arguments, expected = expand(row.err, 1);
        const bool placed = arguments.find("$K") != std::string::npos;
        const std::string command = expand(placed ? arguments : "$K " + arguments, 6);
        const int wait = std::system(
            ("bash -c '" + command + "' </dev/null >" + dir.Path("out") + " 2>" + dir.Path("err"))
                .c_str());
        EXPECT_EQ(WIFEXITED(wait) ? WEXITSTATUS(wait) : -1, row.status);
        const std::string out = ReadAll(dir.Path("out")), err = ReadAll(dir.Path("err"));
        const bool prefix =
            row.out.size() > 3 && row.out.compare(row.out.size() - 3, 3, "...") == 0;
        const std::size_t compared =
            prefix ? row.out.size() - 3 : std::string::npos;  // npos: all of it
        EXPECT_EQ(out.substr(0, compared), row.out.substr(0, compared));
        EXPECT_NE(err.find(expected), std::string::npos) << err;
        EXPECT_TRUE(!row.err.empty() || err.empty()) << err;  // no row.err: nothing on stderr
    }
}

constexpr int kTraceRow = 23, kStatusRow = 24;
constexpr char kFirstStatus[] = "State    0 of    2";
constexpr char kHintBar[] = "PgUp/PgDn: Change State";
constexpr char kQuestion[] = "Yes (y) / No (n)";

// Each test drives `terminal`; a failure shows its screen.
class Terminal : public ::testing::Test {
protected:
    void SetUp() override {
        dir.Write("tokens.h", "#define NUMBER 257\n#define PLUS 258\n");
        dir.Write("trace.txt",
                  "parser trace begins\nat state 1, next token 257\nat state 2, next token 258\n");
        dir.Write("listing.lrt", "test grammar\n\n" + Listing({29, 2, 2}));
    }
    void TearDown() override {
        if (HasFailure() && terminal) std::cerr << terminal->Dump();
    }
    // The program on the test's files, after `wrapper` (a shell, say); without one, up to its first
    // screen.
    void Launch(PtyTerminal::Options options = {}, std::vector<std::string> wrapper = {},
                const char* status = kFirstStatus) {
        const bool browse = wrapper.empty();
        wrapper.insert(wrapper.end(), {KWT_BINARY, dir.Path("trace.txt"), dir.Path("listing.lrt"),
                                       dir.Path("tokens.h")});
        terminal = std::make_unique<PtyTerminal>(options);
        ASSERT_TRUE(terminal->Start(wrapper) &&
                    (!browse || terminal->WaitForText(options.rows - 1, status)));
    }
    bool Asked() {
        return terminal->WaitFor([&] { return terminal->ScreenContains(kQuestion); });
    }
    // Ends with `status` (minus a signal's number), on the normal screen in the modes it found,
    // leaving nothing typed for the shell.
    void ExpectExit(int status) {
        EXPECT_EQ(terminal->WaitForExit(), status);
        EXPECT_FALSE(terminal->AlternateScreen());
        const termios before = terminal->ModesAtStart(), after = terminal->CurrentModes();
        EXPECT_EQ(
            std::make_tuple(after.c_lflag, after.c_iflag, after.c_oflag, after.c_cc[VMIN]),
            std::make_tuple(before.c_lflag, before.c_iflag, before.c_oflag, before.c_cc[VMIN]));
        EXPECT_EQ(terminal->LeftForTheShell(), "");
    }

    TempDir dir;
    std::unique_ptr<PtyTerminal> terminal;
};

// The alternate screen where the terminal has one, in its own colours; the hint bar grey on cyan
// and help black on bright white, or as near as the terminal allows. The start-up lines stay on the
// normal screen.
TEST_F(Terminal, ColoursAsTheTerminalAllows) {
    const struct {
        const char* term;
        bool alternate;
        int barFore, barBack, helpFore, helpBack;
    } rows[] = {{"xterm-256color", true, 7, 6, 0, 15},
                {"xterm", true, 7, 6, 0, 7},
                {"vt100", false, -1, -1, -1, -1}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.term);
        Launch({25, 80, row.term});
        EXPECT_EQ(terminal->AlternateScreen(), row.alternate);
        EXPECT_EQ(terminal->Colour(0, 0, false), -1);
        terminal->Press("\x1b[99~");  // an unknown key must not act as Esc
        ASSERT_TRUE(terminal->WaitForText(kStatusRow, kHintBar));
        EXPECT_EQ(std::make_tuple(terminal->Colour(kStatusRow, 0, false),
                                  terminal->Colour(kStatusRow, 0, true)),
                  std::make_tuple(row.barFore, row.barBack));
        terminal->Press("t");  // the step's row marked in reverse video, with no '>'
        ASSERT_TRUE(terminal->WaitForText(0, "Trace line") && terminal->WaitUntilReading());
        for (int r = 1; r < kStatusRow; ++r) EXPECT_NE(terminal->Row(r).rfind('>', 0), 0u) << r;
        terminal->Press("\x1bOP");
        ASSERT_TRUE(terminal->WaitForText(kStatusRow, "Press any key to exit help"));
        EXPECT_EQ(
            std::make_tuple(terminal->Colour(0, 0, false), terminal->Colour(kStatusRow, 79, true)),
            std::make_tuple(row.helpFore, row.helpBack));
        terminal->Press("\x1b");  // closes help, and counts as pressed
        ExpectExit(0);
        EXPECT_EQ(terminal->ScreenContains(kBanner.substr(0, 34)), row.alternate);
    }
}

// Keys as terminals send them, typed in this order: the status line's start, one row, after each.
struct KeyForm {
    const char *name, *bytes, *status;
    int row;
    std::string text;
};

const KeyForm kKeyForms[] = {
    {"plus", "+", "State    1 of    2: Next Token: NUMBER", kTraceRow,
     "at state 1, next token 257"},
    {"keypad plus", "\x1bOk", "State    2 of    2: Next Token: PLUS", kTraceRow,
     "at state 2, next token 258"},
    {"minus", "-", "State    1 of    2: Next Token: NUMBER", kTraceRow,
     "at state 1, next token 257"},
    {"keypad minus", "\x1bOm", "State    0 of    2", kTraceRow, "parser trace begins"},
    {"PgDn", "\x1b[6~", "State    1", 0, StateHeader(1)},
    {"keypad 3", "\x1bOs", "State    2", 0, StateHeader(2)},
    {"PgUp", "\x1b[5~", "State    1", 0, StateHeader(1)},
    {"keypad 9", "\x1bOy", "State    0", 0, StateHeader(0)},
    {"vt220 End", "\x1b[4~", "State    2", 0, StateHeader(2)},
    {"app Home", "\x1bOH", "State    0", 0, StateHeader(0)},
    {"ANSI End", "\x1b[F", "State    2", 0, StateHeader(2)},
    {"vt220 Home", "\x1b[1~", "State    0", 0, StateHeader(0)},
    {"Down", "\x1b[B", "State    0", 0, "state 0 line 1"},
    {"app Down", "\x1bOB", "State    0", 0, "state 0 line 2"},
    {"Up", "\x1b[A", "State    0", 0, "state 0 line 1"},
    {"app Up", "\x1bOA", "State    0", 0, StateHeader(0)},
    {"plain 3", "3", "State    1", 0, StateHeader(1)},
    {"plain 9", "9", "State    0", 0, StateHeader(0)},
    {"plain 1", "1", "State    2", 0, StateHeader(2)},
    {"plain 7", "7", "State    0", 0, StateHeader(0)},
    {"plain 2", "2", "State    0", 0, "state 0 line 1"},
    {"plain 8", "8", "State    0", 0, StateHeader(0)},
    {"CR as Enter", "\r", "State    0", 0, StateHeader(0)},  // the step's return state
    // Esc followed at once by a key is that key with Alt, not Esc.
    {"Alt+x", "\x1bx", kHintBar, 0, StateHeader(0)},
    {"Alt+PgDn", "\x1b\x1b[6~", kHintBar, 0, StateHeader(0)},
    // The keys that act by their character never show the hint bar; Backspace edits a prompt.
    {"find",
     "/ab\x7f"
     "c",
     "Find: ac", 0, StateHeader(0)},
    {"Esc at the prompt", "\x1b", "State    0", 0, StateHeader(0)},
    {"next error", "e", "No syntax error after this step", 0, StateHeader(0)},
    {"go to state", "g", "State:", 0, StateHeader(0)},
    {"keypad 2 types 2", "\x1bOr\r", "State    2", 0, StateHeader(2)},
    {"no step: minus stays", "-", "State    2", 0, StateHeader(2)},  // already at the oldest step
    {"help", "?", "Press any key", 0, "ZORVEX DEBUGGER"},
    {"closing help", " ", "State    2", 0, StateHeader(2)},
    {"help", "?", "Press any key", 0, "ZORVEX DEBUGGER"},
    {"help's second page", "?", "Press any key", 0,
     "ZORVEX DEBUGGER: getting to the step that matters"},
    {"closing help", "x", "State    2", 0, StateHeader(2)},
    {"enters state 2 ahead", ">", "State    2 of    2: Next Token: PLUS", kTraceRow,
     "at state 2, next token 258"},
    {"keypad 1 types 1", "g\x1bOq\r", "State    1", 0, StateHeader(1)},
    {"entered state 1 before", "<", "State    1 of    2: Next Token: NUMBER", kTraceRow,
     "at state 1, next token 257"},
    {"stack page", "s", "State    1", 0,
     "No stack: kwt's own trace format does not record the parser's stack"},
    {"the state again", "s", "State    1", 0, StateHeader(1)},
    {"trace page", "t", "State    1", 0, "Trace line 2 of the file"},
    {"Esc leaves a page", "\x1b", "State    1", 0, StateHeader(1)},
    {"input page", "i", "State    1", 0,
     "No input: give kwt the file the parser read, as kwt TRACE LISTING HEADER INPUT"},
    {"the state again", "i", "State    1", 0, StateHeader(1)},
};

TEST_F(Terminal, KeyForms) {
    Launch();
    for (const KeyForm& form : kKeyForms) {
        terminal->Press(form.bytes);
        ASSERT_TRUE(terminal->WaitUntilReading()) << form.name;
        EXPECT_EQ(terminal->Row(kStatusRow).rfind(form.status, 0), 0u) << form.name;
        EXPECT_EQ(terminal->Row(form.row), form.text) << form.name;
    }
    terminal->Press("\x1b");
    ExpectExit(0);
}

// A signal during the pause after a key ends it, and what was typed meanwhile is thrown away. The
// end of input (0 here: the program ignores SIGHUP) ends it too, instead of a wait for ever.
TEST_F(Terminal, EndingSignalsAndTheEndOfInput) {
    for (const int signal : {SIGTERM, SIGHUP, SIGINT, 0}) {
        Launch({25, 80, "xterm-256color", "C.UTF-8", signal == 0});
        terminal->Press("\x1b[6~");
        signal == SIGINT ? terminal->Send("typed\n\x03") : terminal->Send("typed\n");
        if (signal == 0) terminal->HangUp();
        if (signal == SIGTERM || signal == SIGHUP) terminal->Signal(signal);
        if (signal == 0) {
            EXPECT_EQ(terminal->WaitForExit(), 1);
        } else {
            ExpectExit(-signal);
        }
    }
}

// The screen follows the window, a resize is no key, and nothing fails: 24 rows; 132 x 43 with the
// stack pane, on bison's forms; below 80 x 10 one line says so and keys do nothing until the
// window is large enough again. Tabs stop at multiples of 8.
TEST_F(Terminal, TheScreenFollowsTheWindow) {
    dir.Write("tokens.h", "  NUMBER = 258,\n");
    dir.Write("listing.lrt", "State 0\n\nx\t\tZ\nState 1\n\nState 2\n");
    dir.Write("trace.txt",
              "Starting parse\nEntering state 0\nStack now 0\nEntering state 1\n"
              "Stack now 0 1\nEntering state 2\nStack now 0 1 2\n");
    Launch({24, 80});
    EXPECT_EQ(terminal->Row(2), "x" + std::string(15, ' ') + "Z");
    terminal->Send("+");  // a resize while a key is at work is not lost
    terminal->Resize(43, 132);
    ASSERT_TRUE(terminal->WaitForText(41, "Entering state 0"));
    for (int step = 0; step < 5; ++step) terminal->Press("+");
    ASSERT_TRUE(terminal->WaitForText(41, "Stack now 0 1 2"));
    std::string pane;
    for (int row = 0; row < 4; ++row) pane += terminal->Row(row).substr(80);
    EXPECT_EQ(pane, "|Stack, top first|    2|    1|    0");
    terminal->Resize(8, 60);
    ASSERT_TRUE(
        terminal->WaitForText(0, "kwt needs a window of at least 80 x 10; this one is 60 x 8"));
    terminal->Press("-");
    terminal->Resize(25, 80);
    ASSERT_TRUE(terminal->WaitForText(kStatusRow, "State    2 of    2"));
    EXPECT_EQ(terminal->Row(kTraceRow), "Stack now 0 1 2");
    EXPECT_FALSE(terminal->ScreenContains(kQuestion) || terminal->ScreenContains("Change State"));
    EXPECT_EQ(terminal->Bells(), 0);
    terminal->Press("\x1b");
    ExpectExit(0);
}

// A terminal curses does not know: the question goes to stderr and takes one key, no Enter.
TEST_F(Terminal, WithoutAKnownTerminalTheQuestionGoesToStandardError) {
    Launch({25, 80, "no-such-terminal"}, {"/usr/bin/env"});
    ASSERT_TRUE(Asked());
    EXPECT_TRUE(terminal->ScreenContains("Bad file descriptor"));
    terminal->Press("x");
    ASSERT_TRUE(terminal->WaitUntilReading());
    terminal->Press("n");
    ExpectExit(1);
}

// File bytes a terminal would act on show as one cell each: a picture where
// the locale has one, '?' where it does not; none reaches the terminal raw.
TEST_F(Terminal, ControlBytesAndEscapeSequencesShowAsText) {
    const std::vector<std::string> lines = {
        "\fAB\x1b[31mCD\x1b]0;pwned\x07"
        "EF\x1b[2J\x01\x7f\xb0\xdb I",
        "clip \x1b]52;c;aGk=\x07 end",
        "c1 \x9b"
        "2J end",
        // UTF-8: characters of one cell; a C1 control, an overlong form, a surrogate, a wide
        // character, a combining mark, a non-character, a direction override, a cut sequence.
        "u8 \xe2\x80\xa2\xce\xb5\xf0\x9d\x90\x80|\xc2\x9b|\xe0\x82\xa2|\xed\xa0\x80|\xe4\xb8\xad|"
        "\xcc\x81|\xef\xbf\xbe|\xe2\x80\xae|\xe2\x80x",
        "osc \x1b]0;trace\x07 c1 \x9b"
        "31m \xff\xfe\x02 end"};
    const std::string utf8Row =
        "u8 \u2022\u03b5\U0001D400|\u252c\u00a2|\u03b1\u00e9\u00f3|\u03c6\u00e1\u00c7|"
        "\u03a3\u2555\u00a1|\u2560\u00fc|\u2229\u2510\u255b|\u0393\u00c7\u00ab|\u0393\u00c7x";
    dir.Write("listing.lrt", StateHeader(0) + "\n" + lines[0] + "\n" + lines[1] + "\n" + lines[2] +
                                 "\n" + lines[3] + "\n");
    dir.Write("trace.txt", lines[4] + "\n");
    for (const std::string locale : {"C.UTF-8", "C"}) {
        Launch({25, 80, "xterm-256color", locale}, {}, "State    0 of    0: Next Token: (none)");
        for (std::size_t line = 0; line < lines.size(); ++line) {
            const int row = line < 4 ? int(line) + 1 : kTraceRow;
            if (row == 4 && locale != "C") {
                EXPECT_EQ(terminal->Row(row), utf8Row);
                continue;
            }
            for (std::size_t column = 0; column < lines[line].size(); ++column) {
                const unsigned char byte = static_cast<unsigned char>(lines[line][column]);
                const char32_t shown = terminal->Character(row, int(column));
                const bool plain = byte >= 0x20 && byte < 0x7f, c = locale == "C";
                EXPECT_TRUE(plain ? shown == byte
                            : c   ? shown == U'?'
                                  : shown >= 0xA0)
                    << locale << " row " << row << " column " << column;
            }
        }
        EXPECT_EQ(terminal->Colour(1, 8, false), -1);  // "CD" after the CSI
        for (const char* raw : {"\x1b]0;pwned", "\x1b[31mCD", "EF\x1b[2J",
                                "\x07"
                                "EF",
                                "\f", "\x1b]52;",
                                "\x9b"
                                "2J",
                                "\x1b]0;trace",
                                "\x9b"
                                "31m",
                                "\xc2\x9b", "\xe2\x80\xae"}) {
            EXPECT_EQ(terminal->Output().find(raw), std::string::npos)
                << testing::PrintToString(std::string(raw));
        }
        terminal->Press("\x1b");
        ExpectExit(0);
    }
}

}  // namespace

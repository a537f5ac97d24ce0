// The browsing screen, the step history, the key loop and the console stages
// around it, through the in-memory console.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "console_report.h"
#include "kwt.h"
#include "memory_console.h"
#include "program_state.h"
#include "test_files.h"

namespace mc = memory_console;
namespace vk = VirtualKey;

namespace {

using Keys = std::vector<uint16_t>;

// A row as the screen leaves it: the text cut or padded to 80 columns.
std::string Field(const std::string& text) {
    std::string field = text.substr(0, 80);
    field.resize(80, ' ');
    return field;
}
std::string Shown(int row) { return mc::Row(row).substr(0, 80); }

// Shown first but never interpreted, then: a move with a token, a line
// naming state 0 (ignored), an error recovery (token kept), another move.
const std::vector<std::string> kTrace = {
    "at state 1, next token 258", "at state 2, next token 257", "at state 0, next token 43",
    "error: pop state 2, recover state 3", "at state 1, next token 258"};

class Browser : public ::testing::Test {
protected:
    void SetUp() override { Fresh(); }
    void TearDown() override { ResetProgramState(); }

    void Fresh(const std::vector<int>& states = {30, 3, 4, 2},
               const std::vector<std::string>& trace = kTrace) {
        ResetProgramState();
        mc::Reset();
        std::string text;
        for (const std::string& line : trace) text += line + "\n";
        ASSERT_TRUE(OpenListingQuietly(dir.Write("yy.lrt", Listing(states))));
        ASSERT_TRUE(OpenTrace(dir.Write("kwt.err", text).c_str()));
        ASSERT_EQ(ReadInclude(dir.Write("yytab.h", "#define IDENT 257\n#define NUMBER 258\n").c_str()), 2);
    }
    void Begin() { BeginSteps(mc::Output(), scroll); }
    void Next(int times = 1) {
        for (int i = 0; i < times; ++i) NextStep(mc::Output(), scroll);
    }
    void Prev(int times = 1) {
        for (int i = 0; i < times; ++i) PrevStep(mc::Output(), scroll);
    }

    // Runs the key loop over `keys` and a final Esc key-down; unless told
    // otherwise the screen is kept readable (see RunPushed).
    void Run(const Keys& keys, bool keepScreen = true) {
        int helpScreens = 0;
        for (uint16_t key : keys) {
            mc::PushKey(key);
            if (key == vk::kF1) ++helpScreens;
        }
        RunPushed(keepScreen ? 1 + helpScreens : 0);
    }
    // Runs the key loop over the pushed input and a final Esc key-down. The
    // first `keptClears` clears fail to fill, answered Yes, so that the last
    // screen stays readable in characters and attributes.
    void RunPushed(int keptClears) {
        mc::PushKey(vk::kEscape);
        mc::FailNext(mc::Operation::kFillCharacter, keptClears, EIO);
        mc::FailNext(mc::Operation::kFillAttribute, keptClears, EIO);
        for (int i = 0; i < 2 * keptClears; ++i) mc::AnswerNext(true);
        Process(mc::Input(), mc::Output());
        if (keptClears > 0) {
            EXPECT_EQ(mc::Questions().size(), 2u * static_cast<unsigned>(keptClears));
        }
    }

    TempDir dir;
    uint16_t scroll = 0;
};

using BrowserDeathTest = Browser;

// ---- the screen and the step history -----------------------------------------

TEST_F(Browser, FirstScreenShowsState0AndTheFirstTraceLineUninterpreted) {
    const std::string fullPiece = "at state 1, next token 258" + std::string(54, 'x');
    Fresh({30, 3, 4, 2}, {fullPiece, "unused"});
    // Text of an earlier screen everywhere, in a console wider than 80 columns.
    mc::Reset(100, 25);
    ASSERT_TRUE(ConsoleFillCharacter(mc::Output(), '#', 100 * 25, 0, 0, nullptr));
    scroll = 9;
    Begin();
    EXPECT_EQ(scroll, 0);
    EXPECT_EQ(Shown(0), Field(StateHeader(0)));
    EXPECT_EQ(Shown(22), Field("state 0 line 22"));
    EXPECT_EQ(Shown(23), fullPiece);  // all 80 characters of the piece
    const std::string status = "State    0 of    3: Next Token: NULL    Help:[F1]^[Sp]";
    EXPECT_EQ(Shown(24), Field(status).substr(0, 79) + "#");
    // Every cell of rows 0-23 up to column 79 is written; nothing past it,
    // nor the bottom-right cell of the 80-column screen.
    for (int row = 0; row < kScreenRows; ++row) {
        EXPECT_EQ(Shown(row).find('#'), row < kStatusRow ? std::string::npos : 79u) << row;
        EXPECT_EQ(mc::Row(row).substr(80), std::string(20, '#')) << row;
    }
    EXPECT_EQ(nState, 0u);
    EXPECT_EQ(nToken, 0);
    EXPECT_TRUE(mc::Beeps().empty());
}

TEST_F(Browser, StepsInterpretTheTraceAndStepsBackReplayIt) {
    Begin();
    Next();
    EXPECT_EQ(nState, 2u);
    EXPECT_EQ(Shown(23), Field(kTrace[1]));
    EXPECT_EQ(Shown(24), Field("State    2 of    3: Next Token: IDENT    Help:[F1]^[Sp]"));
    Next();  // state 0 is never entered
    EXPECT_EQ(nState, 2u);
    // Back to the first step and forward again: the next new step reads on
    // after the newest step's line, not after the last replayed one.
    Prev(2);
    EXPECT_EQ(nState, 0u);
    EXPECT_EQ(Shown(23), Field(kTrace[0]));
    Next(2);
    EXPECT_EQ(Shown(23), Field(kTrace[2]));
    // The repaint covers whatever an earlier screen left in rows 0-23.
    ASSERT_TRUE(ConsoleFillCharacter(mc::Output(), '#', 80 * 24, 0, 0, nullptr));
    Next();  // error recovery: the token stays
    EXPECT_EQ(nState, 3u);
    EXPECT_EQ(Shown(24), Field("State    3 of    3: Next Token: IDENT    Help:[F1]^[Sp]"));
    EXPECT_EQ(Shown(1), Field("state 3 line 1"));
    for (int row = 2; row < kListingRows; ++row) EXPECT_EQ(Shown(row), Field("")) << row;
    Next();
    EXPECT_EQ(nState, 1u);
    EXPECT_TRUE(mc::Beeps().empty());

    // The end of the trace: a beep and no repaint, yet each is a step.
    Text(mc::Output(), 5, 0, "marker");
    Next(2);
    ASSERT_EQ(mc::Beeps().size(), 2u);
    EXPECT_EQ(mc::Beeps()[0].frequency, 4096u);
    EXPECT_EQ(mc::Beeps()[0].milliseconds, 300u);
    EXPECT_EQ(mc::Row(5).substr(0, 6), "marker");
    Prev(2);  // the step that read the last line
    EXPECT_EQ(nState, 1u);
    EXPECT_EQ(Shown(23), Field(kTrace[4]));
    Prev();  // the state comes back, the token stays the newest one
    EXPECT_EQ(nState, 3u);
    EXPECT_EQ(Shown(23), Field(kTrace[3]));
    EXPECT_EQ(Shown(24), Field("State    3 of    3: Next Token: NUMBER    Help:[F1]^[Sp]"));
    Prev(3);
    EXPECT_EQ(nState, 0u);
    EXPECT_EQ(Shown(23), Field(kTrace[0]));

    // At the oldest step: nothing happens, not even a beep.
    Text(mc::Output(), 5, 0, "marker");
    Prev();
    EXPECT_EQ(nState, 0u);
    EXPECT_EQ(mc::Row(5).substr(0, 6), "marker");
    EXPECT_EQ(mc::Beeps().size(), 2u);
    // Forward through the recorded steps replays silently, then reads on.
    Next(6);
    EXPECT_EQ(mc::Beeps().size(), 2u);
    Next();
    EXPECT_EQ(mc::Beeps().size(), 3u);
}

TEST_F(Browser, TheRingKeepsTheNewest65535StepsAcrossTheWrap) {
    constexpr int kRing = 65535;
    constexpr int kLast = kRing + 905;
    std::vector<std::string> trace;
    for (int k = 0; k <= kLast; ++k) {
        trace.push_back("at state " + std::to_string(1 + k % 3) + ", next token 257 step " +
                        std::to_string(k));
    }
    Fresh({2, 2, 2, 2}, trace);
    const auto kept = [] { return static_cast<uint16_t>(sStateTop - sStateBottom); };
    Begin();
    for (int k = 1; k <= kLast; ++k) {
        Next();
        ASSERT_EQ(kept(), std::min(k + 1, kRing)) << "step " << k;
        ASSERT_EQ(sStateCursor, static_cast<uint16_t>(sStateTop - 1)) << "step " << k;
    }
    Prev(kRing - 1);
    EXPECT_EQ(sStateCursor, sStateBottom);
    EXPECT_EQ(Shown(23), Field(trace[kLast - (kRing - 1)]));
    EXPECT_EQ(nState, 1u + (kLast - (kRing - 1)) % 3);
    Prev();  // the oldest kept step stays
    EXPECT_EQ(sStateCursor, sStateBottom);
    EXPECT_EQ(Shown(23), Field(trace[kLast - (kRing - 1)]));
    Next(kRing - 1);
    EXPECT_EQ(Shown(23), Field(trace[kLast]));
    EXPECT_TRUE(mc::Beeps().empty());
    Next();
    EXPECT_EQ(mc::Beeps().size(), 1u);
    EXPECT_EQ(kept(), kRing);
}

// ---- keys ------------------------------------------------------------------------

TEST_F(Browser, StateKeysStopAtBothEndsWithABeep) {
    struct Case { Keys keys; uint32_t state; std::size_t beeps; };
    const std::vector<Case> cases = {
        {{vk::kPageUp}, 0, 1},
        {{vk::kNumpad9}, 0, 1},
        {{vk::kPageDown, vk::kPageDown, vk::kPageDown, vk::kPageDown}, 3, 1},
        {{vk::kNumpad3, vk::kNumpad3, vk::kNumpad9}, 1, 0},
        {{vk::kEnd, vk::kNumpad3}, 3, 1},
        {{vk::kEnd, vk::kEnd, vk::kNumpad1}, 3, 0},  // silent when already there
        {{vk::kHome}, 0, 1},
        {{vk::kNumpad7}, 0, 1},
        {{vk::kPageDown, vk::kNumpad7}, 0, 0},
        {{vk::kNumpad1, vk::kHome}, 0, 0},
        {{vk::kEnter}, 0, 1},  // the return state is on display
        // Error recovery 2 -> 3 makes 2 the return state; Enter goes once.
        {{vk::kAdd, vk::kAdd, vk::kAdd, vk::kHome, vk::kEnter, vk::kEnter}, 2, 1},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        Fresh();
        Run(cases[i].keys);
        EXPECT_EQ(nState, cases[i].state) << "case " << i;
        EXPECT_EQ(mc::Beeps().size(), cases[i].beeps) << "case " << i;
        EXPECT_EQ(Shown(0), Field(StateHeader(static_cast<int>(cases[i].state)))) << "case " << i;
    }
}

TEST_F(Browser, HomeAndEndRestartTheHistoryAtTheLineOnDisplay) {
    struct Case { Keys keys; uint32_t state; std::size_t line; };  // the line on row 23
    const Keys three = {vk::kAdd, vk::kAdd, vk::kAdd};
    const auto then = [&three](Keys more) {
        Keys keys = three;
        keys.insert(keys.end(), more.begin(), more.end());
        return keys;
    };
    const std::vector<Case> cases = {
        {then({vk::kHome, vk::kSubtract}), 0, 3},
        {then({vk::kHome, vk::kAdd}), 1, 4},
        {then({vk::kHome, vk::kAdd, vk::kSubtract, vk::kSubtract}), 0, 3},
        // Restarted from a replayed step, reading goes on after its line.
        {then({vk::kSubtract, vk::kSubtract, vk::kEnd, vk::kAdd}), 3, 2},
        {then({vk::kSubtract, vk::kSubtract, vk::kNumpad1, vk::kAdd, vk::kSubtract}), 3, 1},
        {then({vk::kNumpad7, vk::kNumpad1, vk::kSubtract}), 3, 3},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        Fresh();
        Run(cases[i].keys);
        EXPECT_EQ(nState, cases[i].state) << "case " << i;
        EXPECT_EQ(Shown(23), Field(kTrace[cases[i].line])) << "case " << i;
        EXPECT_TRUE(mc::Beeps().empty()) << "case " << i;
    }
}

TEST_F(Browser, ScrollingStopsWhenTheLastLineReachesTheLastListingRow) {
    struct Case { Keys keys; std::string top, bottom; std::size_t beeps; };  // rows 0 and 22
    const Keys seven(7, vk::kDown);
    Keys eight = seven;
    eight.push_back(vk::kNumpad2);
    const std::vector<Case> cases = {
        {seven, "state 0 line 7", "state 0 line 29", 0},
        {eight, "state 0 line 7", "state 0 line 29", 1},
        {{vk::kUp}, StateHeader(0), "state 0 line 22", 1},
        {{vk::kNumpad2, vk::kNumpad2, vk::kNumpad8, vk::kNumpad8, vk::kNumpad8},
         StateHeader(0), "state 0 line 22", 1},
        {{vk::kPageDown, vk::kDown}, StateHeader(1), "state 1 line 22", 1},  // exactly 23 lines
        {{vk::kPageDown, vk::kPageDown, vk::kDown, vk::kDown}, "state 2 line 1", "state 2 line 23", 1},
        {{vk::kDown, vk::kDown, vk::kPageDown, vk::kPageUp}, StateHeader(0), "state 0 line 22", 0},
        {{vk::kDown, vk::kDown, vk::kEnd}, StateHeader(3), "", 0},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        Fresh({30, 23, 24, 2});
        Run(cases[i].keys);
        EXPECT_EQ(Shown(0), Field(cases[i].top)) << "case " << i;
        EXPECT_EQ(Shown(22), Field(cases[i].bottom)) << "case " << i;
        EXPECT_EQ(mc::Beeps().size(), cases[i].beeps) << "case " << i;
    }
}

TEST_F(Browser, HelpComesBackToTheSameScrollAndItsClosingEscEndsTheLoop) {
    mc::PushKey(vk::kDown);
    mc::PushKey(vk::kDown);
    mc::PushKeyPress(vk::kF1);               // its release passes in the pause
    mc::PushTypedDuringPause(vk::kSpace);    // so does this
    mc::PushNonKey();                        // help waits for a key record
    RunPushed(2);
    EXPECT_EQ(Shown(0), Field("state 0 line 2"));
    EXPECT_EQ(Shown(23), Field(kTrace[0]));
    // No hint bar: the Esc that closed help was not acted on.
    EXPECT_EQ(Shown(24), Field("State    0 of    3: Next Token: NULL    Help:[F1]^[Sp]"));
    EXPECT_EQ(mc::CurrentAttribute(), 0x07);
    EXPECT_EQ(mc::PendingEvents(), 0u);
    std::vector<std::string> events;
    for (const std::string& event : mc::Events()) {
        if (event != "question") events.push_back(event);
    }
    const std::vector<std::string> expected = {
        "read", "sleep 300", "discard", "read", "sleep 300", "discard",        // Down, Down
        "read", "sleep 300", "discard", "read", "read", "discard",             // F1, help
        "sleep 300", "discard", "discard"};
    EXPECT_EQ(events, expected);
}

void SayWhetherHelpIsOnDisplay() {
    bool shown = true;
    for (std::size_t row = 0; row < kHelpLines; ++row) {
        shown = shown && mc::Row(static_cast<int>(row)) == Field(pszHelp[row]);
    }
    shown = shown && mc::Row(kStatusRow) == Field("Press any key to exit help");
    const bool readFailed = !mc::Questions().empty() &&
                            mc::Questions().back().text.find("from ReadConsoleInput") != std::string::npos;
    std::fprintf(stderr, "%s\n", shown && readFailed ? "help on display" : "help not on display");
}

TEST_F(BrowserDeathTest, HelpFillsTheScreenAndADeclinedReadFailureEndsWithStatus1) {
    EXPECT_EXIT(
        {
            std::atexit(SayWhetherHelpIsOnDisplay);
            mc::PushKey(vk::kPageDown);
            mc::PushKey(vk::kF1);  // then the queue runs dry and the answer is No
            Process(mc::Input(), mc::Output());
        },
        ::testing::ExitedWithCode(1), "help on display");
}

TEST_F(Browser, OtherKeysShowTheHintBarThenBlackOnWhiteStays) {
    Run({vk::kPageDown, vk::kSpace, vk::kPageUp});  // Esc shows the bar last
    EXPECT_EQ(Shown(24).substr(0, 23), "PgUp/PgDn: Change State");
    EXPECT_EQ(Shown(24).substr(25, 15), "Up/Down: Scroll");
    EXPECT_EQ(Shown(24).substr(42), Field("Keypad +/-: Program Step").substr(0, 80 - 42));
    for (int column = 0; column < 79; ++column) {
        const bool inBar = column < 23 || (column >= 25 && column < 40) || (column >= 42 && column < 66);
        EXPECT_EQ(mc::At(24, column).attribute, inBar ? 0x37 : 0xF0) << column;
    }
    EXPECT_EQ(mc::At(0, 0).attribute, 0xF0);   // repainted after the bar
    EXPECT_EQ(mc::At(23, 79).attribute, 0xF0);
    EXPECT_EQ(mc::At(24, 79).attribute, 0x07);  // never written

    Fresh();
    Run({vk::kOther}, false);
    for (int row = 0; row < kScreenRows; ++row) {
        EXPECT_EQ(mc::Row(row), std::string(80, ' '));
        EXPECT_EQ(mc::At(row, 0).attribute, 0xF0);
        EXPECT_EQ(mc::At(row, 79).attribute, 0xF0);
    }
    EXPECT_EQ(mc::CursorRow(), 1);
    EXPECT_EQ(mc::CursorColumn(), 1);
}

TEST_F(Browser, EveryKeyRecordPausesAndDiscardsOnlyEscDownEnds) {
    mc::PushKeyPress(vk::kPageDown);
    mc::PushTypedDuringPause(vk::kPageDown);
    mc::PushNonKey();
    mc::PushKey(vk::kEscape, false);
    Run({}, false);
    const std::vector<std::string> expected = {
        "read", "sleep 300", "discard", "read", "read", "sleep 300", "discard",
        "read", "sleep 300", "discard", "discard"};
    EXPECT_EQ(mc::Events(), expected);
    EXPECT_EQ(nState, 1u);
    EXPECT_TRUE(mc::Beeps().empty());
    EXPECT_TRUE(mc::Questions().empty());
}

// ---- failures --------------------------------------------------------------------

TEST_F(Browser, FailuresInTheLoopAreReportedAndTheUserCanGoOn) {
    mc::FailNext(mc::Operation::kReadEvent, 1, EIO);
    mc::AnswerNext(true);
    mc::PushKeyPress(vk::kPageDown);
    Run({}, false);
    ASSERT_EQ(mc::Questions().size(), 1u);
    ExpectReport(0, "process", "ReadConsoleInput", EIO, "ConsoleReadEvent");
    EXPECT_EQ(nState, 1u);  // the failed read acted on nothing

    Fresh();
    mc::FailNext(mc::Operation::kDiscardInput, 1, EBADF);
    mc::AnswerNext(true);
    mc::PushKeyPress(vk::kPageDown);  // the release stays and acts too
    Run({}, false);
    ASSERT_EQ(mc::Questions().size(), 1u);
    ExpectReport(0, "process", "FlushConsoleInputBuffer", EBADF, "ConsoleDiscardInput");
    EXPECT_EQ(nState, 2u);

    // Each of the four discards (help's pause and end, the loop's pause and
    // end) names a line of its own.
    Fresh();
    mc::FailNext(mc::Operation::kDiscardInput, 4, EBADF);
    for (int i = 0; i < 4; ++i) mc::AnswerNext(true);
    Run({vk::kF1}, false);
    ASSERT_EQ(mc::Questions().size(), 4u);
    std::vector<int> lines;
    for (std::size_t i = 0; i < 4; ++i) {
        ExpectReport(i, "process", "FlushConsoleInputBuffer", EBADF, "ConsoleDiscardInput");
        lines.push_back(ParseReport(mc::Questions()[i].text).line);
    }
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(std::unique(lines.begin(), lines.end()), lines.end());

    Fresh();
    mc::FailNext(mc::Operation::kSetAttribute, 1, EPERM);
    mc::AnswerNext(true);
    Run({}, false);
    ASSERT_EQ(mc::Questions().size(), 1u);
    ExpectReport(0, "process", "SetConsoleTextAttribute", EPERM, "ConsoleSetAttribute");
    EXPECT_EQ(mc::CurrentAttribute(), 0xF0);
}

// ---- the console stages around the loop ------------------------------------------

TEST_F(Browser, TheAttributeBeforeTheLoopComesBackOnlyIfItWasRead) {
    mc::Reset(80, 25, 0x1E);
    mc::PushKey(vk::kEscape);
    RunConsole(mc::Input(), mc::Output());
    EXPECT_EQ(mc::CurrentAttribute(), 0xF0);
    const int discards = mc::Discards();
    RestoreConsole(mc::Input(), mc::Output());
    EXPECT_EQ(mc::CurrentAttribute(), 0x1E);
    EXPECT_EQ(mc::Discards(), discards + 1);
    EXPECT_TRUE(mc::Questions().empty());

    Fresh();
    mc::Reset(80, 25, 0x1E);
    mc::FailNext(mc::Operation::kGetBufferInfo, 1, ENODEV);
    mc::AnswerNext(true);
    mc::PushKey(vk::kEscape);
    RunConsole(mc::Input(), mc::Output());
    RestoreConsole(mc::Input(), mc::Output());
    ASSERT_EQ(mc::Questions().size(), 1u);
    ExpectReport(0, "kwt", "GetConsoleScreenBufferInfo", ENODEV, "ConsoleGetBufferInfo");
    EXPECT_EQ(mc::CurrentAttribute(), 0xF0);
}

TEST_F(Browser, FailuresAfterTheLoopAreReported) {
    mc::PushKey(vk::kEscape);
    RunConsole(mc::Input(), mc::Output());
    mc::FailNext(mc::Operation::kSetAttribute, 1, EACCES);
    mc::FailNext(mc::Operation::kDiscardInput, 1, EBUSY);
    mc::AnswerNext(true);
    mc::AnswerNext(true);
    RestoreConsole(mc::Input(), mc::Output());
    ASSERT_EQ(mc::Questions().size(), 2u);
    ExpectReport(0, "kwt", "SetConsoleTextAttribute", EACCES, "ConsoleSetAttribute");
    ExpectReport(1, "kwt", "FlushConsoleInputBuffer", EBUSY, "ConsoleDiscardInput");
}

std::string capturedStdout;

void EchoCapturedStdout() {
    std::fflush(stdout);
    std::fprintf(stderr, "stdout was [%s]\n", ReadWholeFile(capturedStdout).c_str());
}

TEST_F(BrowserDeathTest, NullHandlesAreAnnouncedOnStandardOutput) {
    capturedStdout = dir.Path("stdout");
    EXPECT_EXIT(
        {
            std::atexit(EchoCapturedStdout);
            if (std::freopen(capturedStdout.c_str(), "wb", stdout) == nullptr) std::abort();
            mc::UseNullHandles();
            RunConsole(mc::Input(), mc::Output());  // the first report is declined
        },
        ::testing::ExitedWithCode(1), "stdout was \\[NULL handle, process error\n\\]");
}

}  // namespace

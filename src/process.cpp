// The browsing screen, the step history and the key loop with its help
// screen.
#include <cstdio>

#include "kwt.h"

std::array<uint32_t, kStepSlots> nPrevStates{};
std::array<int64_t, kStepSlots> lTrace{};
uint16_t sStateBottom = 0;
uint16_t sStateTop = 0;
uint16_t sStateCursor = 0;

const std::array<const char*, kHelpLines> pszHelp = {
    "ZORVEX DEBUGGER",
    "Replays an LR parser's debug trace against its state listing.",
    "",
    "F1 key: ZORVEX DEBUGGER help message",
    "Add key: Next program step",
    "Substract key: Previous program step",
    "Home key or Numeric keypad 7 key: First program state",
    "End key or Numeric keypad 1: Last program state",
    "Enter key : Restore to current position",
    "PgUp key or Numeric keypad 9 key: Previous State",
    "PgDn key or Numeric keypad 3 key: Next State",
    "Up Arrow or Numeric keypad 8 key: Scroll up a line of text",
    "Dn Arrow or Numeric keypad 2 key: Scroll down a line of text",
    "Keypad +: Next Program Step",
    "Keypad -: Previous Program Step",
    "Esc key: exit the YACC DEBUGGER",
    "",
    "Last Line of output displayed at screen bottom less 1 line",
    "State Position and Next Token are displayed at screen bottom",
    "",
    "Program command line should have:",
    "  kwt.err: output of parser with -DYYDEBUG switch on",
    "  yy.lrt: YACC generated parsing table file with -v switch on",
    "  yytab.h: YACC generated include file with -c switch on",
};

namespace {

constexpr char kUnit[] = "process";
constexpr unsigned kBeepFrequency = 4096;
constexpr unsigned kBeepMilliseconds = 300;
constexpr unsigned kKeyPauseMilliseconds = 300;
constexpr ConsoleAttribute kHintBarAttribute = 0x37;  // grey on cyan
constexpr ConsoleAttribute kAfterHintAttribute = 0xF0;  // black on bright white
constexpr int kHintGap = 2;
constexpr char kReadLabel[] = "ReadConsoleInput";
constexpr char kDiscardLabel[] = "FlushConsoleInputBuffer";
constexpr char kAttributeLabel[] = "SetConsoleTextAttribute";
constexpr uint16_t kSlotMask = kStepSlots - 1;

uint16_t NextSlot(uint16_t slot) { return static_cast<uint16_t>((slot + 1) & kSlotMask); }
uint16_t PreviousSlot(uint16_t slot) { return static_cast<uint16_t>((slot - 1) & kSlotMask); }

int64_t TraceOffset() { return pfileTrace != nullptr ? TextTell(pfileTrace) : 0; }

void Repaint(ConsoleHandle output, uint16_t& scroll) {
    scroll = 0;
    ShowScreen(output, scroll);
}

void ShowState(ConsoleHandle output, uint16_t& scroll, uint32_t state) {
    nState = state;
    LoadLRT();
    Repaint(output, scroll);
}

// Shows the recorded step under the cursor again, from its trace offset.
void ReplayStep(ConsoleHandle output, uint16_t& scroll) {
    nState = nPrevStates[sStateCursor];
    LoadLRT();
    if (pfileTrace != nullptr) TextSeek(pfileTrace, lTrace[sStateCursor]);
    ReadTrace();
    Repaint(output, scroll);
}

void ShowHintBar(ConsoleHandle output) {
    Checked(ConsoleSetAttribute(output, kHintBarAttribute), kUnit, __LINE__, kAttributeLabel);
    int column = 0;
    column += Textf(output, kStatusRow, column, "%s", "PgUp/PgDn: Change State") + kHintGap;
    column += Textf(output, kStatusRow, column, "%s", "Up/Down: Scroll") + kHintGap;
    Textf(output, kStatusRow, column, "%s", "Keypad +/-: Program Step");
    Checked(ConsoleSetAttribute(output, kAfterHintAttribute), kUnit, __LINE__, kAttributeLabel);
}

// The key that closes the help screen replaces the one that opened it.
void ShowHelp(ConsoleHandle input, ConsoleHandle output, uint16_t scroll, ConsoleEvent& event) {
    cls(output);
    for (std::size_t line = 0; line < pszHelp.size(); ++line) {
        Textf(output, static_cast<int>(line), 0, "%-80.80s", pszHelp[line]);
    }
    Textf(output, kStatusRow, 0, "%-79.79s", "Press any key to exit help");
    ConsoleSleep(kKeyPauseMilliseconds);
    Checked(ConsoleDiscardInput(input), kUnit, __LINE__, kDiscardLabel);
    do {
        Checked(ConsoleReadEvent(input, &event), kUnit, __LINE__, kReadLabel);
    } while (!event.isKey);
    ShowScreen(output, scroll);
    Checked(ConsoleDiscardInput(input), kUnit, __LINE__, kDiscardLabel);
}

void ActOnKey(ConsoleHandle input, ConsoleHandle output, ConsoleEvent& event, uint16_t& scroll) {
    switch (event.virtualKey) {
    case VirtualKey::kEnter:
        if (nCurrentState != nState) {
            ShowState(output, scroll, nCurrentState);
        } else {
            BeepCannotAct();
        }
        break;
    case VirtualKey::kPageUp:
    case VirtualKey::kNumpad9:
        if (nState > 0) {
            ShowState(output, scroll, nState - 1);
        } else {
            BeepCannotAct();
        }
        break;
    case VirtualKey::kPageDown:
    case VirtualKey::kNumpad3:
        if (nState + 1 < nStates) {
            ShowState(output, scroll, nState + 1);
        } else {
            BeepCannotAct();
        }
        break;
    case VirtualKey::kEnd:
    case VirtualKey::kNumpad1:
        // Already at the last state: nothing happens, and no beep.
        if (nStates > 0 && nState != nStates - 1) {
            ShowState(output, scroll, nStates - 1);
            RestartSteps();
        }
        break;
    case VirtualKey::kHome:
    case VirtualKey::kNumpad7:
        if (nState > 0) {
            ShowState(output, scroll, 0);
            RestartSteps();
        } else {
            BeepCannotAct();
        }
        break;
    case VirtualKey::kUp:
    case VirtualKey::kNumpad8:
        if (scroll > 0) {
            --scroll;
            ShowScreen(output, scroll);
        } else {
            BeepCannotAct();
        }
        break;
    case VirtualKey::kDown:
    case VirtualKey::kNumpad2:
        // Scrolls until the last loaded line stands on the last listing row.
        if (scroll + static_cast<uint32_t>(kListingRows) < nLRTLines) {
            ++scroll;
            ShowScreen(output, scroll);
        } else {
            BeepCannotAct();
        }
        break;
    case VirtualKey::kAdd:
        NextStep(output, scroll);
        break;
    case VirtualKey::kSubtract:
        PrevStep(output, scroll);
        break;
    case VirtualKey::kF1:
        ShowHelp(input, output, scroll, event);
        break;
    default:
        ShowHintBar(output);
        break;
    }
}

bool IsEscapePressed(const ConsoleEvent& event) {
    return event.isKey && event.keyDown && event.virtualKey == VirtualKey::kEscape;
}

// Rows 0-23 are written in all 80 columns, so nothing of an earlier screen
// stays behind. The row is blanked first: where the console shows a UTF-8
// sequence as one character, a line takes fewer cells than it has bytes.
void ShowTextRow(ConsoleHandle output, int row, const char* text) {
    Textf(output, row, 0, "%80s", "");
    Textf(output, row, 0, "%.80s", text);
}

}  // namespace

void BeepCannotAct() { ConsoleBeep(kBeepFrequency, kBeepMilliseconds); }

void ShowScreen(ConsoleHandle output, uint16_t scroll) {
    int row = 0;
    for (uint32_t line = scroll; line < nLRTLines && row < kListingRows; ++line, ++row) {
        ShowTextRow(output, row, szLRT[line].data());
    }
    for (; row < kListingRows; ++row) Textf(output, row, 0, "%80s", "");
    ShowTextRow(output, kTraceRow, szTrace.data());
    // The bottom-right cell stays unwritten: writing it would scroll some consoles.
    Textf(output, kStatusRow, 0, "%79s", "");
    Textf(output, kStatusRow, 0, "State %4d of %4d: Next Token: %s    Help:[F1]^[Sp]",
          static_cast<int>(nState), static_cast<int>(nStates) - 1, TokenName());
}

void ResetSteps() {
    sStateBottom = 0;
    sStateTop = 0;
    sStateCursor = 0;
    nPrevStates.fill(0);
    lTrace.fill(0);
}

void BeginSteps(ConsoleHandle output, uint16_t& scroll) {
    nPrevStates[sStateCursor] = nState;
    lTrace[sStateCursor] = TraceOffset();
    sStateTop = NextSlot(sStateCursor);
    LoadLRT();
    // The first line is shown but not interpreted.
    ReadTrace();
    Repaint(output, scroll);
}

void NextStep(ConsoleHandle output, uint16_t& scroll) {
    sStateCursor = NextSlot(sStateCursor);
    if (sStateCursor != sStateTop) {
        ReplayStep(output, scroll);
        return;
    }
    sStateTop = NextSlot(sStateTop);
    if (sStateTop == sStateBottom) sStateBottom = NextSlot(sStateBottom);
    lTrace[sStateCursor] = TraceOffset();
    if (ReadTrace()) {
        ParseTrace();
        Repaint(output, scroll);
    } else {
        // The end of the trace still counts as a step.
        BeepCannotAct();
    }
    nPrevStates[sStateCursor] = nState;
}

void PrevStep(ConsoleHandle output, uint16_t& scroll) {
    if (sStateBottom == sStateTop || sStateCursor == sStateBottom) return;
    sStateCursor = PreviousSlot(sStateCursor);
    ReplayStep(output, scroll);
}

void RestartSteps() {
    // The step on display becomes the only recorded step; reading goes on
    // after the trace line it shows.
    const int64_t offset = lTrace[sStateCursor];
    sStateBottom = 0;
    sStateCursor = 0;
    sStateTop = NextSlot(sStateCursor);
    lTrace[sStateCursor] = offset;
    nPrevStates[sStateCursor] = nState;
}

void Process(ConsoleHandle input, ConsoleHandle output) {
    uint16_t scroll = 0;
    BeginSteps(output, scroll);
    ConsoleEvent event;
    for (;;) {
        Checked(ConsoleReadEvent(input, &event), kUnit, __LINE__, kReadLabel);
        if (event.isKey) {
            ActOnKey(input, output, event, scroll);
            // Let the key's release and auto-repeats pass, then drop them.
            ConsoleSleep(kKeyPauseMilliseconds);
            Checked(ConsoleDiscardInput(input), kUnit, __LINE__, kDiscardLabel);
        }
        if (IsEscapePressed(event)) break;
    }
    Checked(ConsoleDiscardInput(input), kUnit, __LINE__, kDiscardLabel);
    cls(output);
    ConsoleSetCursor(output, 1, 1);
}

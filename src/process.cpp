// The browsing screen, the step history and the key loop with its help
// screen.
#include <cstdio>
#include <cstring>

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

// The second help page, shown by F1 or ? on the first.
const std::array<const char*, kHelpLines> pszHelpSearch = {
    "ZORVEX DEBUGGER: getting to the step that matters",
    "",
    "/ key: Find a text in the trace lines after this step",
    "n key: Find the same text again, forward",
    "N key: Find the same text backward, in the lines before this step",
    "e key: Next syntax error: the first error line after a line that is not one",
    "g key: Go to a state by its number (as PgUp/PgDn do: not a program step)",
    "",
    "At the Find: and State: prompts on the bottom line:",
    "  type the text, Backspace erases, Enter goes, Esc cancels",
    "",
    "A jump is one program step. The lines passed over are interpreted as if",
    "stepped through, so state, token and return state are what stepping gives;",
    "Keypad - goes back to the step before the jump, Keypad + on after the line.",
    "A backward search works the state out from the first line of the trace.",
    "",
    "A long search shows how much of the trace it has read; Esc stops it and",
    "leaves everything as it was. Nothing found: a beep, and the bottom line",
    "says so until the next key.",
    "",
    "Error lines: error: (kwt), ... error recovery ... (byacc), Error: (bison),",
    "and every line that contains syntax error.",
    "",
    "",
};

namespace {

constexpr char kUnit[] = "process";
constexpr unsigned kBeepFrequency = 4096;
constexpr unsigned kBeepMilliseconds = 300;
constexpr unsigned kKeyPauseMilliseconds = 300;
constexpr ConsoleAttribute kHintBarAttribute = 0x37;    // grey on cyan
constexpr ConsoleAttribute kAfterHintAttribute = 0xF0;  // black on bright white
constexpr int kHintGap = 2;
constexpr char kReadLabel[] = "ReadConsoleInput";
constexpr char kDiscardLabel[] = "FlushConsoleInputBuffer";
constexpr char kAttributeLabel[] = "SetConsoleTextAttribute";
constexpr uint16_t kSlotMask = kStepSlots - 1;

uint16_t NextSlot(uint16_t slot) { return static_cast<uint16_t>((slot + 1) & kSlotMask); }
uint16_t PreviousSlot(uint16_t slot) { return static_cast<uint16_t>((slot - 1) & kSlotMask); }

int64_t TraceOffset() { return pfileTrace != nullptr ? TextTell(pfileTrace) : 0; }

// Makes the slot after the cursor the newest step, read from `offset`; steps
// after the cursor are dropped, and in a full ring the oldest gives way.
void PushStep(int64_t offset) {
    sStateCursor = NextSlot(sStateCursor);
    sStateTop = NextSlot(sStateCursor);
    if (sStateTop == sStateBottom) sStateBottom = NextSlot(sStateBottom);
    lTrace[sStateCursor] = offset;
}

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

// A note on the status row that stays until the next key.
bool noteShown = false;

void ShowNote(ConsoleHandle output, const char* note) {
    Textf(output, kStatusRow, 0, "%-79.79s", note);
    noteShown = true;
}

void ShowHintBar(ConsoleHandle output) {
    Checked(ConsoleSetAttribute(output, kHintBarAttribute), kUnit, __LINE__, kAttributeLabel);
    int column = 0;
    column += Textf(output, kStatusRow, column, "%s", "PgUp/PgDn: Change State") + kHintGap;
    column += Textf(output, kStatusRow, column, "%s", "Up/Down: Scroll") + kHintGap;
    Textf(output, kStatusRow, column, "%s", "Keypad +/-: Program Step");
    Checked(ConsoleSetAttribute(output, kAfterHintAttribute), kUnit, __LINE__, kAttributeLabel);
}

void ShowHelpPage(ConsoleHandle input, ConsoleHandle output,
                  const std::array<const char*, kHelpLines>& lines, ConsoleEvent& event) {
    cls(output);
    for (std::size_t line = 0; line < lines.size(); ++line) {
        Textf(output, static_cast<int>(line), 0, "%-80.80s", lines[line]);
    }
    Textf(output, kStatusRow, 0, "%-79.79s", "Press any key to exit help");
    ConsoleSleep(kKeyPauseMilliseconds);
    Checked(ConsoleDiscardInput(input), kUnit, __LINE__, kDiscardLabel);
    do {
        Checked(ConsoleReadEvent(input, &event), kUnit, __LINE__, kReadLabel);
    } while (!event.isKey);
}

// The key that closes the help screen replaces the one that opened it.
void ShowHelp(ConsoleHandle input, ConsoleHandle output, uint16_t scroll, ConsoleEvent& event) {
    ShowHelpPage(input, output, pszHelp, event);
    // A press of F1 or ? turns to the second page; a release still leaves.
    if (event.keyDown && (event.virtualKey == VirtualKey::kF1 || event.character == '?')) {
        ShowHelpPage(input, output, pszHelpSearch, event);
    }
    ShowScreen(output, scroll);
    Checked(ConsoleDiscardInput(input), kUnit, __LINE__, kDiscardLabel);
}

// ---- jumps -----------------------------------------------------------------------

constexpr int kPromptRoom = kScreenColumns - 1;
using PromptText = std::array<char, kPromptRoom + 1>;

// The text of the last search, for n and N.
PromptText lastSearch{};

// Reads a text on the status row after `label`: characters as typed
// (digits only when `digitsOnly`), Backspace erases, Enter takes it, Esc
// cancels (false). Key releases and other keys are passed over.
bool AskText(ConsoleHandle input, ConsoleHandle output, const char* label, bool digitsOnly,
             PromptText& text) {
    const int column = static_cast<int>(std::strlen(label));
    const std::size_t room = static_cast<std::size_t>(kPromptRoom - column);
    std::size_t length = 0;
    text.fill('\0');
    for (;;) {
        char row[kPromptRoom + 1];
        std::snprintf(row, sizeof row, "%s%s", label, text.data());
        Textf(output, kStatusRow, 0, "%-79.79s", row);
        const int cursor = column + static_cast<int>(length);
        Checked(ConsoleSetCursor(output, cursor, kStatusRow), kUnit, __LINE__,
                "SetConsoleCursorPosition");
        ConsoleEvent event;
        Checked(ConsoleReadEvent(input, &event), kUnit, __LINE__, kReadLabel);
        if (!event.isKey || !event.keyDown) continue;
        if (event.virtualKey == VirtualKey::kEscape) return false;
        if (event.virtualKey == VirtualKey::kEnter) return true;
        if (event.virtualKey == VirtualKey::kBack) {
            if (length > 0) text[--length] = '\0';
            continue;
        }
        const char typed = event.character;
        const bool digit = typed >= '0' && typed <= '9';
        if (typed == '\0' || (digitsOnly && !digit) || length >= room) continue;
        text[length++] = typed;
    }
}

void Jump(ConsoleHandle input, ConsoleHandle output, uint16_t& scroll, SearchKind kind) {
    const char* text = lastSearch.data();
    const SearchOutcome outcome = SearchTrace(input, output, kind, text);
    if (outcome == SearchOutcome::kFound) {
        Repaint(output, scroll);
        return;
    }
    ShowScreen(output, scroll);
    if (outcome == SearchOutcome::kStopped) return;
    BeepCannotAct();
    char note[2 * kLineSize];
    if (kind == SearchKind::kError) {
        std::snprintf(note, sizeof note, "No syntax error after this step");
    } else {
        std::snprintf(note, sizeof note, "Not found %s: %s",
                      kind == SearchKind::kForward ? "after this step" : "before this step", text);
    }
    ShowNote(output, note);
}

void Find(ConsoleHandle input, ConsoleHandle output, uint16_t& scroll) {
    PromptText text;
    if (!AskText(input, output, "Find: ", false, text) || text[0] == '\0') {
        ShowScreen(output, scroll);
        return;
    }
    lastSearch = text;
    Jump(input, output, scroll, SearchKind::kForward);
}

void FindAgain(ConsoleHandle input, ConsoleHandle output, uint16_t& scroll, SearchKind kind) {
    if (lastSearch[0] != '\0') {
        Jump(input, output, scroll, kind);
        return;
    }
    BeepCannotAct();
    ShowNote(output, "Nothing to find again yet: / asks for a text");
}

void GoToState(ConsoleHandle input, ConsoleHandle output, uint16_t& scroll) {
    PromptText text;
    if (!AskText(input, output, "State: ", true, text) || text[0] == '\0') {
        ShowScreen(output, scroll);
        return;
    }
    uint64_t state = 0;
    for (const char* digit = text.data(); *digit != '\0' && state < kStatesMax; ++digit) {
        state = state * 10 + static_cast<uint64_t>(*digit - '0');
    }
    if (state < nStates) {
        ShowState(output, scroll, static_cast<uint32_t>(state));
        return;
    }
    ShowScreen(output, scroll);
    BeepCannotAct();
    char note[kLineSize];
    std::snprintf(note, sizeof note, "No state %.12s: the states are 0 to %d", text.data(),
                  static_cast<int>(nStates) - 1);
    ShowNote(output, nStates > 0 ? note : "No state: the listing has none");
}

// Keys that act by the character they type, on their press only, so that a
// late release does not search again. Every other key shows the hint bar.
void ActOnCharacter(ConsoleHandle input, ConsoleHandle output, ConsoleEvent& event,
                    uint16_t& scroll) {
    const char typed = event.character;
    if (std::strchr("/nNeg?", typed) == nullptr || typed == '\0') {
        ShowHintBar(output);
        return;
    }
    if (!event.keyDown) return;
    switch (typed) {
    case '/': Find(input, output, scroll); break;
    case 'n': FindAgain(input, output, scroll, SearchKind::kForward); break;
    case 'N': FindAgain(input, output, scroll, SearchKind::kBackward); break;
    case 'e': Jump(input, output, scroll, SearchKind::kError); break;
    case 'g': GoToState(input, output, scroll); break;
    case '?': ShowHelp(input, output, scroll, event); break;
    default: break;
    }
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
    case VirtualKey::kAdd: NextStep(output, scroll); break;
    case VirtualKey::kSubtract: PrevStep(output, scroll); break;
    case VirtualKey::kF1: ShowHelp(input, output, scroll, event); break;
    default: ActOnCharacter(input, output, event, scroll); break;
    }
}

// Shift, Ctrl and Alt on their own neither act nor pause, so that the key
// typed with them (N, ?) is not thrown away by the pause.
bool IsModifier(const ConsoleEvent& event) {
    return event.virtualKey == VirtualKey::kShift || event.virtualKey == VirtualKey::kControl ||
           event.virtualKey == VirtualKey::kAlt;
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
    MarkTraceStart();
    lastSearch.fill('\0');
    noteShown = false;
    nPrevStates[sStateCursor] = nState;
    lTrace[sStateCursor] = TraceOffset();
    sStateTop = NextSlot(sStateCursor);
    LoadLRT();
    // The first line is shown but not interpreted.
    ReadTrace();
    Repaint(output, scroll);
}

void NextStep(ConsoleHandle output, uint16_t& scroll) {
    if (NextSlot(sStateCursor) != sStateTop) {
        sStateCursor = NextSlot(sStateCursor);
        ReplayStep(output, scroll);
        return;
    }
    PushStep(TraceOffset());
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

void RecordJump(int64_t offset) {
    PushStep(offset);
    nPrevStates[sStateCursor] = nState;
}

void Process(ConsoleHandle input, ConsoleHandle output) {
    uint16_t scroll = 0;
    BeginSteps(output, scroll);
    ConsoleEvent event;
    for (;;) {
        Checked(ConsoleReadEvent(input, &event), kUnit, __LINE__, kReadLabel);
        if (event.isKey && !IsModifier(event)) {
            if (noteShown) {
                noteShown = false;
                ShowScreen(output, scroll);
            }
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

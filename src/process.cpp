// The browsing screen, the key loop with its help screen, and the page that
// shows the parser's stack.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "kwt.h"

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
    "n key: Find the same text again, forward; N key: backward, before this step",
    "e key: Next syntax error; one error lasts until the parser shifts a real token",
    "> key: Forward to the next step where the parser enters the state on screen",
    "< key: Back to the last step before this where it entered that state",
    "G key: To the trace's last step, where the parse accepted or gave up",
    "g key: Go to a state by its number (as PgUp/PgDn do: not a program step)",
    "s key: The parser's stack at this step; t: the trace around it; i: the input",
    "  the same key again, Esc or a state key: the state's text",
    "",
    "At the Find: and State: prompts: Backspace erases, Enter goes, Esc cancels",
    "",
    "A jump is one program step. The lines passed over are interpreted as if",
    "stepped through, so state, token, return state and stack are what stepping",
    "gives; Keypad - goes back to the step before the jump, Keypad + on after it.",
    "A long search shows how much of the trace it has read; Esc stops it and",
    "leaves everything as it was. Nothing found: a beep, and the bottom line",
    "says so until the next key.",
    "",
    "Error lines: error: (kwt), ... error recovery ... (byacc), Error: (bison),",
    "and every line with syntax error in them; Syntax Error! in lemon's traces.",
    "On a page (s, t, i): PgUp/PgDn move it a window, Home/End to its top, bottom",
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
// What the listing window shows: the state's text or a page. Step and jump
// keys keep a page; state keys and Esc show the state's text again.
enum class Page { kState, kStack, kTrace, kInput };
Page shownPage = Page::kState;
// Esc took the listing window back to the state's text: it does not end kwt.
bool escapeLeftPage = false;
// Where PgUp, PgDn, Home and End moved the trace page (its first row's
// piece) and the input page (its first line); until then, and after each
// step, they show what is around the step.
int64_t tracePageTop = -1;
uint32_t inputPageTop = 0;
// Esc pressed where the window is too small for the screen: kwt ends.
bool endAsked = false;

// A state key browses the listing: the window shows the state's text again.
void ShowState(ConsoleHandle output, uint16_t& scroll, uint32_t state) {
    shownPage = Page::kState;
    nState = state;
    LoadLRT();
    Repaint(output, scroll);
}

// Below 80 x 10 this line stands in the window instead of the screen, cut
// at the window's right edge.
void ShowTooSmall(ConsoleHandle output) {
    if (nScreenRows < 1 || nScreenColumns < 1) return;
    Textf(output, 0, 0, "kwt needs a window of at least %d x %d; this one is %d x %d (Esc quits)",
          kScreenColumns, kLeastScreenRows, nScreenColumns, nScreenRows);
}

// A note on the status row that stays until the next key, through resizes.
bool noteShown = false;
TextLine noteText{};

void ShowNoteRow(ConsoleHandle output) {
    if (ScreenFits()) Textf(output, StatusRow(), 0, "%-79.79s", noteText.data());
}

// Keeps `note` for the status row until the next key. A note longer than
// the row is cut: the row shows 79 characters of it.
void KeepNote(const char* note) {
    const int length = std::snprintf(noteText.data(), noteText.size(), "%s", note);
    noteShown = length >= 0;
}

// A key that cannot act: the bell, then the screen with `note` on the
// status row. The screen is drawn after the bell, whose refresh may take in
// a new window size on a terminal.
void CannotAct(ConsoleHandle output, uint16_t& scroll, const char* note) {
    BeepCannotAct();
    KeepNote(note);
    ShowScreen(output, scroll);
    ShowNoteRow(output);
}

// The bar takes the whole row: the status text behind it goes.
void ShowHintBar(ConsoleHandle output) {
    const int row = StatusRow();
    Textf(output, row, 0, "%79s", "");
    Checked(ConsoleSetAttribute(output, kHintBarAttribute), kUnit, __LINE__, kAttributeLabel);
    int column = 0;
    column += Textf(output, row, column, "%s", "PgUp/PgDn: Change State") + kHintGap;
    column += Textf(output, row, column, "%s", "Up/Down: Scroll") + kHintGap;
    Textf(output, row, column, "%s", "Keypad +/-: Program Step");
    Checked(ConsoleSetAttribute(output, kAfterHintAttribute), kUnit, __LINE__, kAttributeLabel);
}

bool IsEscapePressed(const ConsoleEvent& event) {
    return event.isKey && event.keyDown && event.virtualKey == VirtualKey::kEscape;
}

// Reads the next input event into `event`. A resize is no key and is not
// handed on: the window is measured again and `repaint` shows what was on
// screen at the new size. In a window too small for the screen, keys other
// than Esc are passed over, and Esc ends kwt.
template <typename Redraw>
void ReadEvent(ConsoleHandle input, ConsoleHandle output, ConsoleEvent& event, Redraw repaint) {
    for (;;) {
        event = ConsoleEvent{};
        Checked(ConsoleReadEvent(input, &event), kUnit, __LINE__, kReadLabel);
        if (event.resized) {
            if (TakeResize(output)) repaint();
        } else if (ScreenFits()) {
            return;
        } else if (IsEscapePressed(event)) {
            endAsked = true;
            return;
        }
    }
}

// ---- help ------------------------------------------------------------------------

using HelpPage = std::array<const char*, kHelpLines>;

// A help page is shown in parts, from line `first`, in the rows above the
// status row, which says whether more follows.
std::size_t HelpRows() { return static_cast<std::size_t>(StatusRow()); }

bool IsLastHelpPart(std::size_t first) { return first + HelpRows() >= kHelpLines; }

void ShowHelpPart(ConsoleHandle output, const HelpPage& lines, std::size_t first) {
    cls(output);
    for (std::size_t row = 0; row < HelpRows() && first + row < kHelpLines; ++row) {
        Textf(output, static_cast<int>(row), 0, "%-80.80s", lines[first + row]);
    }
    Textf(output, StatusRow(), 0, "%-79.79s",
          IsLastHelpPart(first) ? "Press any key to exit help" : "Press any key for more help");
}

// Any key shows the next part; the key read on the last part is left in
// `event`.
void ShowHelpPage(ConsoleHandle input, ConsoleHandle output, const HelpPage& lines,
                  ConsoleEvent& event) {
    std::size_t first = 0;
    const auto show = [&] { ShowHelpPart(output, lines, first); };
    for (;;) {
        show();
        ConsoleSleep(kKeyPauseMilliseconds);
        Checked(ConsoleDiscardInput(input), kUnit, __LINE__, kDiscardLabel);
        do {
            ReadEvent(input, output, event, show);
        } while (!endAsked && (!event.isKey || !event.keyDown));
        if (endAsked || IsLastHelpPart(first)) return;
        first += HelpRows();
    }
}

// The key that closes the help screen replaces the one that opened it.
void ShowHelp(ConsoleHandle input, ConsoleHandle output, uint16_t& scroll, ConsoleEvent& event) {
    ShowHelpPage(input, output, pszHelp, event);
    // F1 or ? turns to the second page; any other key leaves.
    if (!endAsked && (event.virtualKey == VirtualKey::kF1 || event.character == '?')) {
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
// cancels (false). Key releases and other keys are passed over; a resize
// repaints the screen under the prompt.
bool AskText(ConsoleHandle input, ConsoleHandle output, uint16_t& scroll, const char* label,
             bool digitsOnly, PromptText& text) {
    const int column = static_cast<int>(std::strlen(label));
    const std::size_t room = static_cast<std::size_t>(kPromptRoom - column);
    std::size_t length = 0;
    text.fill('\0');
    const auto showPrompt = [&] {
        char row[kPromptRoom + 1];
        std::snprintf(row, sizeof row, "%s%s", label, text.data());
        Textf(output, StatusRow(), 0, "%-79.79s", row);
        const int cursor = column + static_cast<int>(length);
        Checked(ConsoleSetCursor(output, cursor, StatusRow()), kUnit, __LINE__,
                "SetConsoleCursorPosition");
    };
    for (;;) {
        showPrompt();
        ConsoleEvent event;
        ReadEvent(input, output, event, [&] {
            ShowScreen(output, scroll);
            showPrompt();
        });
        if (endAsked) return false;
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

constexpr char kEmptyTraceNote[] = "The trace is empty: there is no step to show";
constexpr char kLastStepNote[] = "This is the trace's last step";

// The step on display shows no piece only where the trace has no line.
bool TraceIsEmpty() {
    TracePiece piece;
    return !ReadTracePiece(lTrace[sStepCursor], &piece);
}

void Jump(ConsoleHandle input, ConsoleHandle output, uint16_t& scroll, SearchKind kind) {
    const char* text = lastSearch.data();
    const uint32_t state = nState;
    const SearchOutcome outcome = SearchTrace(input, output, kind, text, state);
    if (outcome == SearchOutcome::kFound) {
        Repaint(output, scroll);
        return;
    }
    if (outcome == SearchOutcome::kStopped) {
        ShowScreen(output, scroll);
        return;
    }
    char note[2 * kLineSize];
    switch (kind) {
    case SearchKind::kError:
        std::snprintf(note, sizeof note, "No syntax error after this step");
        break;
    case SearchKind::kEnterForward:
        std::snprintf(note, sizeof note, "No step after this one enters state %u", state);
        break;
    case SearchKind::kEnterBackward:
        std::snprintf(note, sizeof note, "No step before this one enters state %u", state);
        break;
    case SearchKind::kEnd:
        std::snprintf(note, sizeof note, "%s", TraceIsEmpty() ? kEmptyTraceNote : kLastStepNote);
        break;
    default:
        std::snprintf(note, sizeof note, "Not found %s: %s",
                      kind == SearchKind::kForward ? "after this step" : "before this step", text);
        break;
    }
    CannotAct(output, scroll, note);
}

void Find(ConsoleHandle input, ConsoleHandle output, uint16_t& scroll) {
    PromptText text;
    if (!AskText(input, output, scroll, "Find: ", false, text) || text[0] == '\0') {
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
    CannotAct(output, scroll, "Nothing to find again yet: / asks for a text");
}

void GoToState(ConsoleHandle input, ConsoleHandle output, uint16_t& scroll) {
    PromptText text;
    if (!AskText(input, output, scroll, "State: ", true, text) || text[0] == '\0') {
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
    char note[kLineSize];
    std::snprintf(note, sizeof note, "No state %.12s: the states are 0 to %d", text.data(),
                  static_cast<int>(nStates) - 1);
    CannotAct(output, scroll, nStates > 0 ? note : "No state: the listing has none");
}

// `s` shows the parser's stack at the step in the listing window, `t` the
// trace around it, `i` the input under it; the same key again shows the
// state's text.
void TogglePage(ConsoleHandle output, uint16_t& scroll, Page page) {
    shownPage = shownPage == page ? Page::kState : page;
    Repaint(output, scroll);
}

// `>` and `<`: on to the nearest step where the parser enters the state on
// screen, as a breakpoint on that state.
void JumpToEntry(ConsoleHandle input, ConsoleHandle output, uint16_t& scroll, bool forward) {
    const SearchKind kind = forward ? SearchKind::kEnterForward : SearchKind::kEnterBackward;
    Jump(input, output, scroll, kind);
}

// Keys that act by the character they type. Every other key shows the hint
// bar.
void ActOnCharacter(ConsoleHandle input, ConsoleHandle output, ConsoleEvent& event,
                    uint16_t& scroll) {
    const char typed = event.character;
    if (std::strchr("/nNegstiG<>?", typed) == nullptr || typed == '\0') {
        ShowHintBar(output);
        return;
    }
    switch (typed) {
    case '/': Find(input, output, scroll); break;
    case 'n': FindAgain(input, output, scroll, SearchKind::kForward); break;
    case 'N': FindAgain(input, output, scroll, SearchKind::kBackward); break;
    case 'e': Jump(input, output, scroll, SearchKind::kError); break;
    case 'g': GoToState(input, output, scroll); break;
    case 's': TogglePage(output, scroll, Page::kStack); break;
    case 't': TogglePage(output, scroll, Page::kTrace); break;
    case 'i': TogglePage(output, scroll, Page::kInput); break;
    case '>': JumpToEntry(input, output, scroll, true); break;
    case '<': JumpToEntry(input, output, scroll, false); break;
    case 'G': Jump(input, output, scroll, SearchKind::kEnd); break;
    case '?': ShowHelp(input, output, scroll, event); break;
    default: break;
    }
}

// Rows of the listing window left for what it lists: a page has a header row.
int WindowRows() { return shownPage == Page::kState ? ListingRows() : ListingRows() - 1; }

// Up and Down scroll what the listing window shows: a state's text until its
// last line stands on the last row, or the stack until its bottom does. The
// trace page follows the step and does not scroll.
uint32_t WindowLines() {
    switch (shownPage) {
    case Page::kStack: return StackPageLines();
    case Page::kTrace:
    case Page::kInput: return static_cast<uint32_t>(WindowRows());
    default: return nLRTLines;
    }
}

// On a page, PgUp and PgDn move it by a window less one row, Home and End to
// its top and its bottom; true where `key` is one of them.
bool MovePage(ConsoleHandle output, uint16_t& scroll, uint16_t key) {
    PageMove move = PageMove::kBack;
    switch (key) {
    case VirtualKey::kPageUp:
    case VirtualKey::kNumpad9: move = PageMove::kBack; break;
    case VirtualKey::kPageDown:
    case VirtualKey::kNumpad3: move = PageMove::kOn; break;
    case VirtualKey::kHome:
    case VirtualKey::kNumpad7: move = PageMove::kFirst; break;
    case VirtualKey::kEnd:
    case VirtualKey::kNumpad1: move = PageMove::kLast; break;
    default: return false;
    }
    bool moved = false;
    if (shownPage == Page::kStack) {
        const auto rows = static_cast<uint32_t>(WindowRows());
        const uint32_t lines = WindowLines();
        const uint32_t bottom = lines > rows ? lines - rows : 0;
        uint32_t to = scroll;
        if (move == PageMove::kBack) to = scroll > rows - 1 ? scroll - (rows - 1) : 0;
        if (move == PageMove::kOn) to = std::min(scroll + rows - 1, bottom);
        if (move == PageMove::kFirst) to = 0;
        if (move == PageMove::kLast) to = bottom;
        moved = to != scroll;
        scroll = static_cast<uint16_t>(to);
    } else if (shownPage == Page::kTrace) {
        const int64_t top = MoveTracePage(tracePageTop, move);
        moved = top >= 0;
        if (moved) tracePageTop = top;
    } else {
        const uint32_t top = MoveInputPage(inputPageTop, move);
        moved = top > 0;
        if (moved) inputPageTop = top;
    }
    if (moved) {
        ShowScreen(output, scroll);
    } else {
        BeepCannotAct();
    }
    return true;
}

void ActOnKey(ConsoleHandle input, ConsoleHandle output, ConsoleEvent& event, uint16_t& scroll) {
    const uint32_t returnState = ShownView().returnState;
    if (shownPage != Page::kState && MovePage(output, scroll, event.virtualKey)) return;
    switch (event.virtualKey) {
    case VirtualKey::kEnter:
        if (returnState != nState) {
            ShowState(output, scroll, returnState);
        } else {
            BeepCannotAct();
        }
        break;
    case VirtualKey::kPageUp:
    case VirtualKey::kNumpad9:
        // From a state past the listing's last (a step of another grammar's
        // trace), the last.
        if (nState > 0) {
            ShowState(output, scroll, nState <= nStates ? nState - 1 : nStates - 1);
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
        if (scroll + static_cast<uint32_t>(WindowRows()) < WindowLines()) {
            ++scroll;
            ShowScreen(output, scroll);
        } else {
            BeepCannotAct();
        }
        break;
    case VirtualKey::kAdd: NextStep(output, scroll); break;
    case VirtualKey::kSubtract: PrevStep(output, scroll); break;
    case VirtualKey::kF1: ShowHelp(input, output, scroll, event); break;
    case VirtualKey::kEscape:
        // On a page, Esc shows the state's text again; on that text it ends kwt.
        escapeLeftPage = shownPage != Page::kState;
        if (escapeLeftPage) TogglePage(output, scroll, shownPage);
        break;
    default: ActOnCharacter(input, output, event, scroll); break;
    }
}

// Shift, Ctrl and Alt on their own neither act nor pause, so that the key
// typed with them (N, ?) is not thrown away by the pause.
bool IsModifier(const ConsoleEvent& event) {
    return event.virtualKey == VirtualKey::kShift || event.virtualKey == VirtualKey::kControl ||
           event.virtualKey == VirtualKey::kAlt;
}

// Keys act when pressed; a release is passed over, however late it comes.
bool IsKeyPressed(const ConsoleEvent& event) {
    return event.isKey && event.keyDown && !IsModifier(event);
}

void ShowListing(ConsoleHandle output, uint16_t scroll) {
    int row = 0;
    for (uint32_t line = scroll; line < nLRTLines && row < ListingRows(); ++line, ++row) {
        ShowTextRow(output, row, szLRT[line].data());
    }
    for (; row < ListingRows(); ++row) Textf(output, row, 0, "%80s", "");
}

// The status row: the state on screen, the last state and the lookahead,
// whose name is cut so that the row fits.
void ShowStatus(ConsoleHandle output) {
    // The bottom-right cell of the 80 x 25 screen stays unwritten: writing
    // it would scroll some consoles.
    const int row = StatusRow();
    Textf(output, row, 0, "%79s", "");
    if (nStates == 0) {
        Textf(output, row, 0, "%s", "No states: the listing has no state header");
        return;
    }
    if (nState == kUnknownEntry) {
        Textf(output, row, 0, "%s",
              "The parser's state is not known here: kwt keeps no more than 4 split stacks");
        return;
    }
    if (nState >= nStates) {
        // Only a step can name such a state: the listing is of another grammar.
        char note[2 * kLineSize];
        std::snprintf(note, sizeof note,
                      "The trace names state %u; the listing has %u states: files of two runs?",
                      nState, nStates);
        Textf(output, row, 0, "%.79s", note);
        return;
    }
    constexpr char kHelpHint[] = "    Help:[F1]^[Sp]";
    char start[kLineSize];
    const int used = std::snprintf(start, sizeof start,
                                   "State %4d of %4d: Next Token: ", static_cast<int>(nState),
                                   static_cast<int>(nStates) - 1);
    const int room = kScreenColumns - 1 - used - static_cast<int>(sizeof kHelpHint - 1);
    Textf(output, row, 0, "%s%.*s%s", start, room > 0 ? room : 0, TokenName(ShownView()),
          kHelpHint);
}

}  // namespace

void BeepCannotAct() { ConsoleBeep(kBeepFrequency, kBeepMilliseconds); }

int nScreenRows = kScreenRows;
int nScreenColumns = kScreenColumns;

bool ScreenFits() { return nScreenColumns >= kScreenColumns && nScreenRows >= kLeastScreenRows; }
int TracePaneRows() { return nScreenRows >= kTracePaneWindow ? nScreenRows / 4 : 0; }
int ListingRows() {
    const int pane = TracePaneRows();
    return nScreenRows - 2 - (pane > 0 ? pane + 1 : 0);
}
int TraceRow() { return nScreenRows - 2; }
int StatusRow() { return nScreenRows - 1; }

// The window's size, not its buffer's: the screen must stand where it shows.
bool MeasureScreen(ConsoleHandle output) {
    ConsoleBufferInfo info;
    if (Checked(ConsoleGetBufferInfo(output, &info), kUnit, __LINE__,
                "GetConsoleScreenBufferInfo")) {
        nScreenRows = info.windowHeight;
        nScreenColumns = info.windowWidth;
    }
    return ScreenFits();
}

// All is cleared: what stood in columns or rows the new layout does not
// write (the pane after a narrowing, say) must go.
bool TakeResize(ConsoleHandle output) {
    const bool fits = MeasureScreen(output);
    cls(output);
    if (!fits) ShowTooSmall(output);
    return fits;
}

void Repaint(ConsoleHandle output, uint16_t& scroll) {
    scroll = 0;
    tracePageTop = -1;
    inputPageTop = 0;
    ShowScreen(output, scroll);
}

void ShowScreen(ConsoleHandle output, uint16_t& scroll) {
    // A bell or a pause lets a terminal take in a new window size before
    // the resize is read as an event (and a discard after a key may throw
    // the event away): it is taken in before drawing, so that nothing is
    // written where the window no longer reaches. A query that fails
    // changes nothing; the drawing reports its own failures.
    ConsoleBufferInfo info;
    if (ConsoleGetBufferInfo(output, &info) &&
        (info.windowWidth != nScreenColumns || info.windowHeight != nScreenRows)) {
        TakeResize(output);
    }
    if (!ScreenFits()) {
        ShowTooSmall(output);
        return;
    }
    const uint32_t rows = static_cast<uint32_t>(WindowRows());
    const uint32_t lines = WindowLines();
    if (scroll + rows > lines) scroll = static_cast<uint16_t>(lines > rows ? lines - rows : 0);
    switch (shownPage) {
    case Page::kStack: ShowStackPage(output, scroll); break;
    case Page::kTrace: ShowTracePage(output, tracePageTop); break;
    case Page::kInput: ShowInputPage(output, inputPageTop); break;
    default: ShowListing(output, scroll); break;
    }
    if (nScreenColumns >= kStackPaneWindow) ShowStackPane(output);
    ShowTracePane(output);
    ShowTextRow(output, TraceRow(), szTrace.data());
    ShowStatus(output);
}

void Process(ConsoleHandle input, ConsoleHandle output) {
    uint16_t scroll = 0;
    lastSearch.fill('\0');
    noteShown = false;
    shownPage = Page::kState;
    endAsked = false;
    MeasureScreen(output);
    if (!BeginSteps(output, scroll)) {
        KeepNote(kEmptyTraceNote);
        ShowNoteRow(output);
    }
    const auto repaint = [&] {
        ShowScreen(output, scroll);
        if (noteShown) ShowNoteRow(output);
    };
    ConsoleEvent event;
    while (!endAsked) {
        ReadEvent(input, output, event, repaint);
        if (IsKeyPressed(event) && !endAsked) {
            if (noteShown) {
                noteShown = false;
                ShowScreen(output, scroll);
            }
            escapeLeftPage = false;
            ActOnKey(input, output, event, scroll);
            // Let the key's release and auto-repeats pass, then drop them.
            ConsoleSleep(kKeyPauseMilliseconds);
            Checked(ConsoleDiscardInput(input), kUnit, __LINE__, kDiscardLabel);
        }
        if (IsEscapePressed(event) && !escapeLeftPage) break;
    }
    Checked(ConsoleDiscardInput(input), kUnit, __LINE__, kDiscardLabel);
    cls(output);
    ConsoleSetCursor(output, 1, 1);
}

// Program-wide state of kwt and the routines that cross units.
//
// Every table has a fixed size and lives for the whole run. Data flows one
// way: the readers fill the tables, the screen painter reads them, and the
// key loop moves between states and trace steps.
//
// What interpreting the trace knows is one value, the parser view
// (ParserView): the parser's state, lookahead, return state and stacks after
// a line. InterpretLine turns the view before a line into the view after it;
// stepping, replays and jumps all go through it, and every step of the
// history keeps its view. The state on screen, nState, is apart: a step
// shows its view's state there, and the state keys browse the listing.
//
// Each kind of input (kwt's own format, byacc's and btyacc's, bison's,
// lemon's) lives in a file of its own, kind_*.cpp, behind the entry points
// of kinds.h: the readers tell a file's kind from its content and then read
// it by that kind's forms alone.
#pragma once

#include <array>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/console.h"
#include "platform/layout.h"
#include "platform/textfile.h"

constexpr int kVersionMajor = 2;
constexpr int kVersionMinor = 0;

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;  // also: no terminal, or the user stopped after a console failure
constexpr int kExitNoTokens = 2;
constexpr int kExitNoListing = 3;
constexpr int kExitNoTrace = 4;
constexpr int kExitNoInput = 5;

// A text line: one piece of a file line (see CutLinePiece), at most 80
// characters, and a terminating zero.
constexpr std::size_t kLineSize = kPieceColumns + 1;
using TextLine = std::array<char, kLineSize>;

// ---- include: token header -------------------------------------------------
// The token table holds the header's definitions and, after them, the
// terminals a listing names with their numbers (bison's `Terminals` section).
constexpr std::size_t kSymbolsMax = 4096;
constexpr std::size_t kSymbolNameSize = 64;  // 63 characters and a zero
constexpr std::size_t kIncludeLineSize = 512;

extern std::array<std::array<char, kSymbolNameSize>, kSymbolsMax> szSymbol;
extern std::array<int32_t, kSymbolsMax> nSymbol;
extern uint16_t sSymbols;
static_assert(kSymbolsMax <= UINT16_MAX, "sSymbols counts the token table");

uint16_t ReadInclude(const char* path);
// Adds a name and number to the token table; false when the table is full.
bool AddSymbol(const char* name, std::size_t length, int32_t number);
// Counts the changes to the token table, so that what was worked out from it
// is known to stand.
uint32_t SymbolsVersion();
// The number of the first token in the table named by the `length`
// characters at `name`; with `bareAllowed` a double-quoted name also matches
// without its quotes. False when none is.
bool FindSymbol(const char* name, std::size_t length, bool bareAllowed, int32_t* number);
// The end of the symbol name at `text`: a quoted name ("==", '+', with
// backslash escapes) after its closing quote, any other name at the first
// blank.
const char* SkipSymbolName(const char* text);
struct ParserView;
// The display name of a view's lookahead token: the name the trace gave, or
// the table's name for its number, or a character form of the number.
const char* TokenName(const ParserView& view);

// ---- lrt: state listing ------------------------------------------------------
constexpr uint32_t kStatesMax = 65536;
constexpr std::size_t kLRTLinesMax = 8192;

extern TextFile* pfileLRT;
// lState[k] is the offset where state k's block starts (its header line, or
// the conflict lines byacc writes just before it); lState[nStates] bounds the
// last state (the next block after it, or the end of the file).
extern std::array<int64_t, kStatesMax + 1> lState;
extern uint32_t nStates;
// The state on screen: the step keys show the parser's state there, the
// state keys browse the listing.
extern uint32_t nState;
extern std::array<TextLine, kLRTLinesMax> szLRT;
extern uint32_t nLRTLines;

// Indexes the listing; false (with a message) when it cannot be opened.
bool OpenLRT(const char* path);
// Loads the text of state nState into szLRT.
void LoadLRT();
// A state's first item is the first line after its header that is an LR
// item with a grammar symbol before its dot (bison's item sets can list
// closure items before it), or in the start state, where every item has
// the dot first, its first item line. Its accessing symbol is the symbol
// before that dot: `stmt_list` in `    1 program: stmt_list •`,
// `\tprogram : stmt_list .  (1)` and `    program : stmt_list .   rule  1`.
// "" where there is none (the start state) or the state is unknown.
const char* AccessingSymbol(uint32_t state);
// Reads the first piece of the state's first item line into `line`; false,
// with `line` unchanged, when the state has none.
bool ReadFirstItem(uint32_t state, TextLine& line);

// The number of symbols on the right side of grammar rule `rule`, from the
// rules the listing writes before its states; -1 when it does not say or no
// listing is open.
constexpr uint32_t kRulesMax = 65536;
int RuleLength(uint32_t rule);

// ---- stack: the parser's stacks ----------------------------------------------
// All stacks live in one pool of entries (a state, its depth, the entry
// below, and the symbol the trace named for it, where it names one), so
// stacks that share their bottom share its entries; a stack is the handle
// of its top entry. A depth the trace never named has no entry: the stack
// shows a gap there.
using StackHandle = uint32_t;
constexpr StackHandle kEmptyStack = 0;
// A stack the trace does not tell (kwt's own format), or not all of it.
constexpr StackHandle kUnknownStack = UINT32_MAX;
constexpr uint32_t kUnknownEntry = UINT32_MAX;
// An entry of no numbered state: a lemon parser's symbol shifted with a
// reduction pending.
constexpr uint32_t kNoStateEntry = UINT32_MAX - 1;
constexpr uint32_t kStackDepthMax = 65536;
constexpr uint32_t kStackEntriesMax = uint32_t{1} << 19;

void ResetStacks();
// `state` at `depth` on top of what `stack` holds below that depth;
// `symbol`, where the trace names one, is its name (TraceTokenName).
StackHandle StackPut(StackHandle stack, uint32_t depth, uint32_t state, uint16_t symbol = 0);
StackHandle StackPush(StackHandle stack, uint32_t state, uint16_t symbol = 0);
// Takes `count` states off; unknown when the stack holds fewer.
StackHandle StackPop(StackHandle stack, uint32_t count);
// The number of states (the top's depth + 1); 0 for an empty or unknown one.
uint32_t StackDepth(StackHandle stack);
// The top entry's state, depth and symbol, and the entry below it.
uint32_t StackState(StackHandle stack);
uint16_t StackSymbol(StackHandle stack);
uint32_t StackEntryDepth(StackHandle stack);
StackHandle StackBelow(StackHandle stack);
// The symbols of the stack's entries by depth (0 where the trace never
// named one); gives the stack's depth.
uint32_t StackSymbols(StackHandle stack, std::array<uint16_t, kStackDepthMax>& symbols);
// Whether `stack` holds exactly the `count` states at `states`, bottom first,
// each at its depth. `held` has, at the depths below `known`, entries that
// hold those states there: where the stack holds one of them, the entries
// below it are not looked at. The entries looked at are noted in `held` by
// depth.
bool StackHolds(StackHandle stack, const uint32_t* states, uint32_t count, StackHandle* held,
                uint32_t known);
// Counts the collections, and the resets, of the pool: an entry is the same
// entry only as long as the count is.
uint32_t StackCollections();
// Collecting: mark every stack still held, then collect the rest.
uint32_t StackEntriesFree();
void MarkStack(StackHandle stack);
void CollectStacks();

// ---- trace -------------------------------------------------------------------
constexpr std::size_t kTokenNameSize = 64;  // 63 characters and a zero
constexpr std::size_t kLineHeadSize = 4096;
// A GLR parser's split stacks that a view keeps; the view of a higher one
// follows its state only.
constexpr uint32_t kSplitStacksMax = 4;
constexpr uint8_t kNoStackFollowed = 0xFF;

// What interpreting the trace knows of the parser after a line.
struct ParserView {
    uint32_t state = 0;        // the state the parser is in
    uint32_t returnState = 0;  // the state it was in before its latest change
    int32_t token = 0;         // the lookahead token's number
    uint16_t tokenName = 0;    // its name as the trace gave it (TraceTokenName); 0: none
    uint16_t pendingPops = 0;  // states the reduction being read takes off
    uint8_t flags = 0;         // the reader's own
    uint8_t followed = 0;      // the stack of stacks[] the view follows
    uint8_t pendingStack = 0;  // the stack the awaited push goes to
    std::array<StackHandle, kSplitStacksMax> stacks{kUnknownStack, kUnknownStack, kUnknownStack,
                                                    kUnknownStack};
};

// A whole line of the trace: where it lies and its first bytes.
struct TraceLine {
    int64_t start = 0;
    int64_t length = 0;  // bytes, the line feed not counted
    // Its first bytes, up to kLineHeadSize - 1, and a zero; a NUL among them
    // ends the text the kinds read, but all of them may be read.
    const char* head = nullptr;
    // The line holds neither of the texts every error line holds
    // (TraceErrorKeys), so it is no error line: a walk that found the texts
    // in the raw trace says so, and spares looking for an error line.
    bool holdsNoErrorKey = false;
};

// One piece of a trace line, as a step shows it.
struct TracePiece {
    int64_t start = 0;      // where it starts in the trace
    int64_t next = 0;       // where the piece after it starts
    int64_t lineStart = 0;  // where its line starts
    std::size_t length = 0;
    bool endsLine = true;  // the last piece of its line, where the line takes effect
    TextLine text{};
};

extern TextFile* pfileTrace;
// The piece of the step on display.
extern TextLine szTrace;

// Opens the trace and tells its kind from its content.
bool OpenTrace(const char* path);
// Closes the trace; the reader forgets its kind and the names it read.
void CloseTrace();
// Whether the trace's kind tells the parser's stack (kwt's own does not).
bool TraceHasStacks();
// The view before the first line.
ParserView FirstView();
// The line at the trace's current position is the first: shown, never
// interpreted.
void MarkFirstLine();
int64_t FirstLineStart();
// Reads the piece that starts at `offset`; false at the end of the trace.
bool ReadTracePiece(int64_t offset, TracePiece* piece);
// Turns `view` into the view after `piece`: when the piece ends its line,
// the whole line is interpreted.
void FollowPiece(ParserView& view, const TracePiece& piece, uint32_t screen);
// Reads the whole line that starts at `offset`; `next` gets where the line
// after it starts. False at the end of the trace.
bool ReadTraceLine(int64_t offset, TraceLine& line, int64_t* next);
// A stretch of the parser's input as the trace places it: lines and columns
// from 1, the end column inclusive (as bison prints them); line 0: none.
struct InputSpan {
    uint32_t line = 0;
    uint32_t column = 0;
    uint32_t endLine = 0;
    uint32_t endColumn = 0;
};
// Where in the parser's input the lookahead at the end of the trace's line
// that holds the byte before `end` lies, and the result of the last
// reduction by then, read back through the trace (no further than the parse's
// start); false where no line read gave a location.
bool FindInputSpans(int64_t end, InputSpan* lookahead, InputSpan* result);

// Reads up to `count` pieces that come right before the piece at `offset`,
// from the trace's first line on, into `pieces`, in the trace's order; gives
// how many.
std::size_t ReadPiecesBefore(int64_t offset, TracePiece* pieces, std::size_t count);
// The number, from 1, of the trace line that starts at `lineStart`.
int64_t TraceLineNumber(int64_t lineStart);
// Turns the view before `line` into the view after it. kwt's own format
// also reads `screen`, the state on screen: a line that names no state
// keeps it. Other trace kinds ignore it.
void InterpretLine(ParserView& view, const TraceLine& line, uint32_t screen);
// Whether `line` is an error line that starts a new error after `before`.
bool StartsNewError(const ParserView& before, const TraceLine& line);
// Bytes that every error line of the trace's kind holds: the first, and a
// second (or null).
void TraceErrorKeys(const char** key, const char** otherKey);
// The name a trace gave a token; "" for 0 or an index not in use.
const char* TraceTokenName(uint16_t index);

// Character tests and prefix matching shared by the readers.
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
inline bool IsIdentifierStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_';
}
inline bool IsIdentifierPart(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}
// Most texts differ from `start` in their first byte: that costs no call.
inline bool StartsWith(const char* text, const char* start) {
    return *start == '\0' ||
           (*text == *start && std::strncmp(text, start, std::strlen(start)) == 0);
}
// A hash of `length` bytes for the tables of names, of every byte but 8 at
// a time: a short name (the most) costs one multiplication. Loads that
// overlap cover the bytes a whole word would pass.
inline uint32_t HashBytes(const char* bytes, std::size_t length) {
    constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15u;
    uint64_t hash = length;
    const auto mix = [&hash](uint64_t word) { hash = (hash ^ word) * kMultiplier; };
    if (length >= 8) {
        uint64_t word = 0;
        for (std::size_t at = 0; at + 8 < length; at += 8) {
            std::memcpy(&word, bytes + at, 8);
            mix(word);
        }
        std::memcpy(&word, bytes + length - 8, 8);
        mix(word);
    } else if (length >= 4) {
        uint32_t first = 0;
        uint32_t last = 0;
        std::memcpy(&first, bytes, 4);
        std::memcpy(&last, bytes + length - 4, 4);
        mix(uint64_t{first} << 32 | last);
    } else if (length > 0) {
        const auto byte = [bytes](std::size_t at) {
            return uint64_t{static_cast<unsigned char>(bytes[at])};
        };
        mix(byte(0) | byte(length / 2) << 8 | byte(length - 1) << 16);
    }
    return static_cast<uint32_t>(hash >> 32);
}

// Reads a decimal number as scanf's %d does: leading white space, an
// optional sign, digits. Fails (returns false) when there are no digits or
// the number does not fit 32 bits. On success `text` moves past it.
bool ScanInt32(const char*& text, int32_t* value);

// Opens `path` for one of the readers: where it cannot, says `failure` and
// why; where it reads a copy of it (a pipe, which cannot be read twice),
// says so on the start-up lines, calling the file `what`. Null on failure.
TextFile* OpenReaderFile(const char* path, const char* failure, const char* what);

// ---- input: the file the parser read ---------------------------------------
extern TextFile* pfileInput;

// Opens the input; false, with a message, when it cannot be opened.
bool OpenInput(const char* path);
void CloseInput();
// The path the input was opened by; "" without one.
const char* InputName();
// Where line `number` (from 1) of the input starts; -1 past the text's end.
int64_t InputLineStart(uint32_t number);
// The number of lines of the input: a last line without a line feed counts.
uint32_t InputLineCount();

// ---- process: step history -------------------------------------------------
// The ring holds at most 65,535 steps; its 16-bit indices wrap by themselves.
// Each step keeps where its piece starts in the trace and the parser's view
// after it. The indices are of steps in the ring: the oldest, one past the
// newest, and the step on display.
constexpr uint32_t kStepSlots = 65536;
static_assert(kStepSlots == uint32_t{UINT16_MAX} + 1, "ring indices are uint16_t");

extern std::array<int64_t, kStepSlots> lTrace;
extern std::array<ParserView, kStepSlots> stepViews;
extern uint16_t sStepBottom;
extern uint16_t sStepTop;
extern uint16_t sStepCursor;

void ResetSteps();
// Shows the first step; false when the trace has no line at all.
bool BeginSteps(ConsoleHandle output, uint16_t& scroll);
void NextStep(ConsoleHandle output, uint16_t& scroll);
void PrevStep(ConsoleHandle output, uint16_t& scroll);
void RestartSteps();
// The view of the step on display.
const ParserView& ShownView();
// Makes the piece at `offset`, with `view`, the step after the cursor and
// the newest one.
void RecordJump(int64_t offset, const ParserView& view);
// Checkpoints: views at line starts along the trace, so that the view at
// any line is found by interpreting from the nearest one before it.
void NoteCheckpoint(int64_t lineStart, const ParserView& view);
// NoteCheckpoint takes none at a line start before this, as long as no
// checkpoint is noted and KeepStackRoom collects nothing: a walk through
// millions of lines need not ask at each.
int64_t CheckpointDue();
// The last checkpoint at or before `offset`.
void FindCheckpoint(int64_t offset, int64_t* lineStart, ParserView* view);
// Before a line is interpreted: makes sure the stacks' pool has room for a
// line's entries, collecting what no step, checkpoint or `working` view
// holds. Gives whether it collected (and checkpoints may have gone).
bool KeepStackRoom(const ParserView* working, std::size_t count);

// ---- search: jumps to a trace line -------------------------------------------
enum class SearchKind { kForward, kBackward, kError, kEnterForward, kEnterBackward, kEnd };
enum class SearchOutcome { kFound, kNotFound, kStopped };

// Forward: the next piece after the current step that contains `text`.
// Backward: the nearest piece before it that does. Error: the next error
// line that starts a new error. Enter: the nearest step after (or before)
// the current one where the parser enters state `state`, from another. End:
// the trace's last step, the last piece of its last line, where the parse
// accepted or gave up; not found where the current step is that one. When
// found, the step found is the newest step, with its view as stepping there
// gives it; otherwise (or when Esc stopped it) everything is as it was.
// Shows progress on the status row meanwhile.
SearchOutcome SearchTrace(ConsoleHandle input, ConsoleHandle output, SearchKind kind,
                          const char* text, uint32_t state = 0);

// ---- process: screen and key loop ------------------------------------------
// The screen follows the window's size, H rows: the listing window takes
// rows 0 to H-3, the trace line row H-2 and the status line row H-1, all 80
// columns wide; a window 100 columns wide or more also shows the parser's
// stack in a pane beside the listing window, after a divider in column 80,
// and one 40 rows high or more the trace before the step in a pane of H/4
// rows above the trace line, under a divider row (the listing window ends
// above it).
// 80 x 25 is the screen kwt was made for; below 80 x 10 the window shows one
// line that says so instead.
constexpr int kScreenRows = 25;
constexpr int kScreenColumns = 80;
constexpr int kLeastScreenRows = 10;
constexpr int kStackPaneWindow = 100;  // the least window width with the stack pane
constexpr int kStackPaneColumn = kScreenColumns + 1;
constexpr std::size_t kHelpLines = 24;

extern const std::array<const char*, kHelpLines> pszHelp;

// The window's size, measured when the key loop starts and at every resize.
extern int nScreenRows;
extern int nScreenColumns;

// Measures the window's size again; false when the screen does not fit it.
bool MeasureScreen(ConsoleHandle output);
bool ScreenFits();
int ListingRows();
int TraceRow();
int StatusRow();
// After a resize: measures the window and clears it. False when the screen
// does not fit any more: the line that says so is shown.
bool TakeResize(ConsoleHandle output);

// Shows the step on display, `scroll` lines into the listing window; a
// scroll that no longer fits the window (after a resize) comes back to the
// last that does.
void ShowScreen(ConsoleHandle output, uint16_t& scroll);
// Shows the screen from the top of the listing window: a step newly on
// display, a state browsed to.
void Repaint(ConsoleHandle output, uint16_t& scroll);
void Process(ConsoleHandle input, ConsoleHandle output);

// The tone sounded where a key cannot act.
void BeepCannotAct();

// The rows of the trace pane above the trace row: a quarter of a window of
// 40 rows or more (a divider row above them), none in a smaller one.
constexpr int kTracePaneWindow = 40;
int TracePaneRows();

// ---- pages: what the listing window shows besides a state's text -----------
// The stack page: a header row, then the parser's stack from the top down,
// one entry a row; the lines Up and Down scroll through are its entries.
uint32_t StackPageLines();
void ShowStackPage(ConsoleHandle output, uint16_t scroll);
// The trace page: a header row that says where the step's line is, then
// the steps around it, one row per piece, the step's row marked about two
// thirds of the way down.
// `top` is where its first row starts; negative: around the step.
void ShowTracePage(ConsoleHandle output, int64_t top);
// PgUp and PgDn move a page by a window less one row, Home and End to its
// top and its bottom.
enum class PageMove { kBack, kOn, kFirst, kLast };
// Where the trace page's first row starts after `move` from `top`; -1
// where it cannot move that way.
int64_t MoveTracePage(int64_t top, PageMove move);
// The input page: a header row with the input's name and where its
// lookahead lies, then the input's lines around it, each with its number,
// the lookahead's characters marked and the last reduction's underlined.
// `top` is its first line; 0: around the lookahead.
void ShowInputPage(ConsoleHandle output, uint32_t top);
// The input page's first line after `move` from `top`; 0 where it cannot
// move that way.
uint32_t MoveInputPage(uint32_t top, PageMove move);
// The stack pane beside the listing window and the trace pane below it: the
// steps just before the step on display, oldest on top.
void ShowStackPane(ConsoleHandle output);
void ShowTracePane(ConsoleHandle output);

// ---- text: positioned output -----------------------------------------------
constexpr std::size_t kTextfBufferSize = 128;

void Text(ConsoleHandle output, int row, int column, const char* text);
int Textf(ConsoleHandle output, int row, int column, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 4, 5)))
#endif
    ;
int myPuts(ConsoleHandle output, const char* text);
// Writes `text` on a row in all 80 columns, blanked first, so that nothing
// of an earlier screen stays behind: where the console shows a UTF-8
// sequence as one character, a line takes fewer cells than it has bytes.
void ShowTextRow(ConsoleHandle output, int row, const char* text);

// ---- kwt: program entry, screen clearing, failure report -------------------
constexpr std::size_t kReportSize = 1024;

void cls(ConsoleHandle output);
// Reports a failed console call and asks whether to go on; does not return
// when the answer is no (the program ends with status 1).
void perr(const char* unit, int line, const char* label, int code);

// Gives back `succeeded`; where it is false, reports the failed console call
// `label` with the error code it left. `line` is the line of the call
// itself: callers write the call and __LINE__ on one line, so that each
// call site can be told apart.
inline bool Checked(bool succeeded, const char* unit, int line, const char* label) {
    if (!succeeded) perr(unit, line, label, ConsoleLastError());
    return succeeded;
}

// Console stages around the key loop: save the attribute, clear, run the
// loop; then put the attribute back and discard pending input. Without a
// console for input or output, says so and runs no loop (false).
bool RunConsole(ConsoleHandle input, ConsoleHandle output);
void RestoreConsole(ConsoleHandle input, ConsoleHandle output);

int KwtMain(int argc, char* argv[]);

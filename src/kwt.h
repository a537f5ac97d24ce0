// Program-wide state of kwt and the routines that cross units.
//
// Every table has a fixed size and lives for the whole run. Data flows one
// way: the readers fill the tables, the screen painter reads them, and the
// key loop moves between states and trace steps.
#pragma once

#include <array>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/console.h"
#include "platform/textfile.h"

constexpr int kVersionMajor = 2;
constexpr int kVersionMinor = 0;

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;  // also: the user stopped after a console failure
constexpr int kExitNoTokens = 2;
constexpr int kExitNoListing = 3;
constexpr int kExitNoTrace = 4;

// A text line: at most 80 characters and a terminating zero.
constexpr std::size_t kLineSize = 81;
using TextLine = std::array<char, kLineSize>;

// ---- include: token header -------------------------------------------------
// The token table holds the header's definitions and, after them, the
// terminals a listing names with their numbers (bison's `Terminals` section).
constexpr std::size_t kSymbolsMax = 4096;
constexpr std::size_t kSymbolNameSize = 64;  // 63 characters and a zero
constexpr std::size_t kDefineNameMax = 23;   // a `#define` name is cut at 23 characters
constexpr std::size_t kIncludeLineSize = 512;

extern std::array<std::array<char, kSymbolNameSize>, kSymbolsMax> szSymbol;
extern std::array<int32_t, kSymbolsMax> nSymbol;
extern uint16_t sSymbols;
static_assert(kSymbolsMax <= UINT16_MAX, "sSymbols counts the token table");

uint16_t ReadInclude(const char* path);
// Adds a name and number to the token table; false when the table is full.
bool AddSymbol(const char* name, std::size_t length, int32_t number);
// The end of the symbol name at `text`: a quoted name ("==", '+', with
// backslash escapes) after its closing quote, any other name at the first
// blank.
const char* SkipSymbolName(const char* text);
// The display name of the lookahead token: the name the trace gave, or the
// table's name for nToken, or a character form of its number.
const char* TokenName();

// ---- lrt: state listing ------------------------------------------------------
constexpr uint32_t kStatesMax = 65536;
constexpr std::size_t kLRTLinesMax = 8192;

extern TextFile* pfileLRT;
// lState[k] is the offset where state k's block starts (its header line, or
// the conflict lines byacc writes just before it); lState[nStates] bounds the
// last state (the next block after it, or the end of the file).
extern std::array<int64_t, kStatesMax + 1> lState;
extern uint32_t nStates;
extern uint32_t nState;
extern std::array<TextLine, kLRTLinesMax> szLRT;
extern uint32_t nLRTLines;

// Indexes the listing; false (with a message) when it cannot be opened.
bool OpenLRT(const char* path);
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

// ---- trace -------------------------------------------------------------------
constexpr std::size_t kTokenNameSize = 64;  // 63 characters and a zero

extern TextFile* pfileTrace;
extern TextLine szTrace;
extern int32_t nToken;
// The lookahead's name as the trace gave it (byacc and bison traces name
// their tokens); empty when the trace names none, as kwt's own format.
extern std::array<char, kTokenNameSize> szToken;
extern uint32_t nCurrentState;

bool OpenTrace(const char* path);
// Closes the trace; the reader forgets its kind and its lookahead's name.
void CloseTrace();
bool ReadTrace();
void ParseTrace();

// What interpreting the trace has set: the state shown, the lookahead, the
// return state and the trace line. A jump saves it to put it back when it
// is stopped, and starts from the one saved at the first line.
struct TraceState {
    uint32_t state = 0;
    int32_t token = 0;
    uint32_t returnState = 0;
    TextLine line{};
    std::array<char, kTokenNameSize> tokenName{};
};
TraceState SaveTraceState();
void RestoreTraceState(const TraceState& saved);

// Character tests and prefix matching shared by the readers.
inline bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }
inline bool IsIdentifierStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_';
}
inline bool IsIdentifierPart(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}
inline bool StartsWith(const char* text, const char* start) {
    return std::strncmp(text, start, std::strlen(start)) == 0;
}

// Reads a decimal number as scanf's %d does: leading white space, an
// optional sign, digits. Fails (returns false) when there are no digits or
// the number does not fit 32 bits. On success `text` moves past it.
bool ScanInt32(const char*& text, int32_t* value);

// Reads the next piece of a file line into `line` (see TextReadPiece).
// False, with `line` unchanged, when nothing could be read. When `endsLine`
// is given it tells whether the piece ends its file line.
bool ReadTextLine(TextFile* file, TextLine& line, bool* endsLine = nullptr);

// ---- process: step history -------------------------------------------------
// The ring holds at most 65,535 steps; its 16-bit indices wrap by themselves.
constexpr uint32_t kStepSlots = 65536;
static_assert(kStepSlots == uint32_t{UINT16_MAX} + 1, "ring indices are uint16_t");

extern std::array<uint32_t, kStepSlots> nPrevStates;
extern std::array<int64_t, kStepSlots> lTrace;
extern uint16_t sStateBottom;
extern uint16_t sStateTop;
extern uint16_t sStateCursor;

void ResetSteps();
void BeginSteps(ConsoleHandle output, uint16_t& scroll);
void NextStep(ConsoleHandle output, uint16_t& scroll);
void PrevStep(ConsoleHandle output, uint16_t& scroll);
void RestartSteps();
// Makes the trace line at `offset`, already read and interpreted, the step
// after the cursor and the newest one.
void RecordJump(int64_t offset);

// ---- search: jumps to a trace line -------------------------------------------
enum class SearchKind { kForward, kBackward, kError };
enum class SearchOutcome { kFound, kNotFound, kStopped };

// Remembers where the trace starts and the state it starts in.
void MarkTraceStart();
// Forward: the next line after the current step that contains `text`.
// Backward: the nearest line before it that does. Error: the next error
// line that follows a line that is not one (`text` unused). When found,
// every line passed over has been interpreted, the line found is the newest
// step and its state's text is loaded; otherwise (or when Esc stopped it)
// everything is as it was. Shows progress on the status row meanwhile.
SearchOutcome SearchTrace(ConsoleHandle input, ConsoleHandle output, SearchKind kind,
                          const char* text);

// ---- process: screen and key loop ------------------------------------------
constexpr int kScreenRows = 25;
constexpr int kScreenColumns = 80;
constexpr int kListingRows = 23;  // rows 0-22
constexpr int kTraceRow = 23;
constexpr int kStatusRow = 24;
constexpr std::size_t kHelpLines = 24;

extern const std::array<const char*, kHelpLines> pszHelp;

void ShowScreen(ConsoleHandle output, uint16_t scroll);
void Process(ConsoleHandle input, ConsoleHandle output);

// The tone sounded where a key cannot act.
void BeepCannotAct();

// ---- text: positioned output -----------------------------------------------
constexpr std::size_t kTextfBufferSize = 128;

void Text(ConsoleHandle output, int row, int column, const char* text);
int Textf(ConsoleHandle output, int row, int column, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 4, 5)))
#endif
    ;
int myPuts(ConsoleHandle output, const char* text);

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
// loop; then put the attribute back and discard pending input.
void RunConsole(ConsoleHandle input, ConsoleHandle output);
void RestoreConsole(ConsoleHandle input, ConsoleHandle output);

int KwtMain(int argc, char* argv[]);

// Program-wide state of kwt and the routines that cross units.
//
// Every table has a fixed size and lives for the whole run. Data flows one
// way: the readers fill the tables, the screen painter reads them, and the
// key loop moves between states and trace steps.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/console.h"
#include "platform/textfile.h"

constexpr int kVersionMajor = 2;
constexpr int kVersionMinor = 0;

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;       // also: the user stopped after a console failure
constexpr int kExitNoTokens = 2;
constexpr int kExitNoListing = 3;
constexpr int kExitNoTrace = 4;

// A text line: at most 80 characters and a terminating zero.
constexpr std::size_t kLineSize = 81;
using TextLine = std::array<char, kLineSize>;

// ---- include: token header -------------------------------------------------
constexpr std::size_t kSymbolsMax = 512;
constexpr std::size_t kSymbolNameSize = 24;  // 23 characters and a zero
constexpr std::size_t kIncludeLineSize = 512;

extern std::array<std::array<char, kSymbolNameSize>, kSymbolsMax> szSymbol;
extern std::array<int32_t, kSymbolsMax> nSymbol;
extern uint16_t sSymbols;

uint16_t ReadInclude(const char* path);
const char* TokenName();

// ---- lrt: state listing ------------------------------------------------------
constexpr uint32_t kStatesMax = 4096;
constexpr std::size_t kLRTLinesMax = 512;

extern TextFile* pfileLRT;
// lState[k] is the offset of state k's header line; lState[nStates] bounds
// the last state (the next header line after it, or the end of the file).
extern std::array<int32_t, kStatesMax + 1> lState;
extern uint32_t nStates;
extern uint32_t nState;
extern std::array<TextLine, kLRTLinesMax> szLRT;
extern uint32_t nLRTLines;

bool OpenLRT(const char* path);
void LoadLRT();

// ---- trace -------------------------------------------------------------------
extern TextFile* pfileTrace;
extern TextLine szTrace;
extern int32_t nToken;
extern uint32_t nCurrentState;

bool OpenTrace(const char* path);
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
};
TraceState SaveTraceState();
void RestoreTraceState(const TraceState& saved);

// Reads a decimal number as scanf's %d does: leading white space, an
// optional sign, digits. Fails (returns false) when there are no digits or
// the number does not fit 32 bits. On success `text` moves past it.
bool ScanInt32(const char*& text, int32_t* value);

// Reads one line of a text file into `line` and cuts it at its first line
// feed. False, with `line` unchanged, when nothing could be read.
bool ReadTextLine(TextFile* file, TextLine& line);

// ---- process: step history -------------------------------------------------
// The ring holds at most 65,535 steps; its 16-bit indices wrap by themselves.
constexpr uint32_t kStepSlots = 65536;
static_assert(kStepSlots == uint32_t{UINT16_MAX} + 1, "ring indices are uint16_t");

extern std::array<uint32_t, kStepSlots> nPrevStates;
extern std::array<int32_t, kStepSlots> lTrace;
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
constexpr int kListingRows = 23;   // rows 0-22
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

// Console stages around the key loop: save the attribute, clear, run the
// loop; then put the attribute back and discard pending input.
void RunConsole(ConsoleHandle input, ConsoleHandle output);
void RestoreConsole(ConsoleHandle input, ConsoleHandle output);

int KwtMain(int argc, char* argv[]);

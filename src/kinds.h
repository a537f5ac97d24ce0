// The kinds of input kwt reads: its own format, byacc's and btyacc's,
// bison's (C, C++ and GLR parsers) and lemon's. Each kind lives in a file
// of its own (kind_own.cpp, kind_byacc.cpp, kind_bison.cpp, kind_lemon.cpp)
// and gives one row of kKinds: the forms of its trace lines, of its state
// listing and of its token header. A reader tells its file's kind by the
// rows, in their order, and then reads the file by that kind's row alone,
// so a new generator is one new file and one row.
//
// Below the rows: what the trace reader offers the kinds to interpret a
// line with (the view's moves, words and numbers, names of tokens).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kwt.h"

// ---- the rows ------------------------------------------------------------------------------

// What a line says of the parser's place in its input.
enum class SpanLine {
    kNone,       // nothing
    kLookahead,  // the lookahead, and where it lies (or no location: the end of input)
    kResult,     // a reduction's result, and where it lies
    kStart,      // a parse starts: nothing before counts
};

struct TraceForms {
    // Whether `line` is in a form only this kind writes. The first such line
    // decides a trace's kind; the kind may learn from it how it writes its
    // lines (lemon: the prefix the program chose).
    bool (*Recognise)(const char* line);
    // The view before the first line.
    ParserView (*FirstView)();
    // Turns the view before `line` into the view after it (see InterpretLine).
    void (*Interpret)(ParserView& view, const TraceLine& line, uint32_t screen);
    // Whether the first bytes of a line (its head) make it an error line.
    // One error lasts until Interpret allows a new one (kNewErrorAllowed).
    bool (*IsErrorLine)(const TraceLine& line);
    // Every error line holds the first of these, or the second (or null).
    const char* errorKey;
    const char* otherErrorKey;
    // Whether the lines tell the parser's stack.
    bool hasStacks;
    // Whether a line that names no state keeps the state on screen, so that
    // every piece of a line reads it (kwt's own format).
    bool readsScreen;
    // Whether the first line is shown but never interpreted (kwt's own
    // format); a generator's first line is a line like any other.
    bool skipsFirstLine;
    // What a line says of where the parser is in its input (see SpanLine);
    // null for a kind whose traces give no locations.
    SpanLine (*ReadSpan)(const char* head, InputSpan* span);
};

struct ListingForms {
    // Whether `piece`, the first piece of a line, is one of the kind's state
    // headers; `number` gets the number it writes.
    bool (*IsHeader)(const char* piece, uint32_t* number);
    // Once the listing is known to be of this kind: whether a line that
    // starts with `first` may be a header or matter to NoteLine or EndsStates.
    bool (*MayMatter)(unsigned char first);
    // Whether a header may start any piece of a line, not only its first.
    bool headersInEveryPiece;
    // Reads a line before the first state, while the listing's kind is not
    // yet known: the first piece and up to 4 KB of its text. May be null.
    void (*NoteBeforeStates)(const char* piece, const char* text);
    // Reads a line's first piece where it may matter: at `offset`, with the
    // next line at `next`, or -1 when the line has more pieces. May be null.
    void (*NoteLine)(const char* piece, int64_t offset, int64_t next);
    // Where the block of state `state`, whose header is at `header`, starts.
    // May be null: at its header.
    int64_t (*BlockStart)(uint32_t state, int64_t header);
    // Whether `line` is an LR item; `symbol` and `length` get the symbol
    // before its dot (length 0 when the dot comes first).
    bool (*ParseItem)(const char* line, const char** symbol, std::size_t* length);
    // Whether a line's first piece ends the states: no state's text follows.
    // May be null.
    bool (*EndsStates)(const char* piece);
    // Forgets what NoteBeforeStates and NoteLine learned. May be null.
    void (*Forget)();
};

struct Kind {
    const char* name;
    TraceForms trace;
    ListingForms listing;
    // Reads a token definition in a form beyond `#define NAME NUMBER`, which
    // every header may hold. May be null.
    bool (*ReadTokenLine)(const char* line, const char** name, std::size_t* length,
                          int32_t* number);
};

extern const Kind kKindOwn;
extern const Kind kKindByacc;
extern const Kind kKindBison;
extern const Kind kKindLemon;
// The kinds in the order the readers try them; kwt's own format first, as a
// trace of no other kind's form is read as its.
extern const std::array<const Kind*, 4> kKinds;

// ---- what the kinds share --------------------------------------------------------------

// The view's flags.
constexpr uint8_t kNewErrorAllowed = 1;  // the next error line starts a new error
constexpr uint8_t kPushPending = 2;      // a shift or reduction awaits the state it enters

// What a generator's trace shows before the parser has read a token, and
// after it took the one it read: the name NameIndex always gives first.
constexpr char kNoTokenYet[] = "(none)";
constexpr uint16_t kNoTokenName = 1;

// Moves `text` past `start` when it starts with it.
inline bool Take(const char*& text, const char* start) {
    if (!StartsWith(text, start)) return false;
    text += std::strlen(start);
    return true;
}
// An unsigned number of digits only, moving `text` past it; false for none
// and for one past 2^31 - 1. Inline: every trace line has one or more.
inline bool ScanCount(const char*& text, uint32_t* value) {
    if (!IsDigit(*text)) return false;
    uint64_t number = 0;
    const char* p = text;
    for (; IsDigit(*p); ++p) {
        number = number * 10 + static_cast<uint64_t>(*p - '0');
        if (number > INT32_MAX) return false;
    }
    *value = static_cast<uint32_t>(number);
    text = p;
    return true;
}
// A number that ends the line (blanks and a CR may follow).
bool ScanFinalCount(const char* text, uint32_t* value);
// The parser is now in `state`; the state it leaves becomes the return state.
// A state the listing lacks is taken as well: the screen says so.
void MoveTo(ParserView& view, uint32_t state);
// The lookahead is token `number`, named by the `length` bytes at `name`.
void SetToken(ParserView& view, int32_t number, const char* name, std::size_t length);
void SetEndOfInput(ParserView& view);
bool IsEndOfInputName(const char* name, std::size_t length);
// A shift or a reduction on stack `number` is under way: the next state it
// enters is pushed, after `pops` states are taken off.
void AwaitPush(ParserView& view, uint8_t number, uint16_t pops);
// Error recovery takes the top state of stack `number` off: the parser is in
// the one below, or, where the trace never named that one, still shown in
// `popped`.
void PopState(ParserView& view, uint32_t number, uint32_t popped);
// The view before the first line of a generator's trace: no token read yet,
// an empty stack that awaits the first state.
ParserView FirstViewWithStack();
// byacc's, btyacc's, bison's and kwt's own error lines: those that start
// with `error:` or `Error:` and those that contain `error recovery`, `ERROR
// recovery` or `syntax error`.
bool IsYaccErrorLine(const TraceLine& line);

// Feeds `consume` the bytes of `line` from `from` (a place in its head) to
// its end, in runs, reading from the trace what the head does not hold; up
// to a NUL. `consume(bytes, length)` gives false to stop.
// Reads up to `size` bytes of the trace from `at`: `got` gets those before
// a NUL; false when a NUL came.
bool ReadLineBytes(int64_t at, char* buffer, std::size_t size, std::size_t* got);

template <typename Consume>
void FeedRestOfLine(const TraceLine& line, const char* from, Consume consume) {
    const std::size_t inHead = std::strlen(line.head);
    const std::size_t fromHead = std::strlen(from);
    if (!consume(from, fromHead)) return;
    // The head stops at a NUL or at its size; only in the second case does
    // the line go on in the file.
    if (inHead < kLineHeadSize - 1 || static_cast<int64_t>(inHead) >= line.length) return;
    int64_t at = line.start + static_cast<int64_t>(inHead);
    const int64_t end = line.start + line.length;
    char chunk[4096];
    while (at < end) {
        const auto want = static_cast<std::size_t>(end - at < 4096 ? end - at : 4096);
        std::size_t got = 0;
        const bool more = ReadLineBytes(at, chunk, want, &got);
        if (got == 0 || !consume(chunk, got) || !more) return;
        at += static_cast<int64_t>(got);
    }
}

// The index of `name` in the table of names the trace gives its tokens,
// added when new; 0 when it is empty or the table is full.
uint16_t NameIndex(const char* name, std::size_t length);
// Whether the name at `index` is the `length` bytes at `name` (as far as
// the table keeps names).
bool IsTraceTokenName(uint16_t index, const char* name, std::size_t length);
// Writes the name at `index` to `out`, which has room for kTokenNameSize
// bytes, and gives its length; 0 where there is none, or where the table
// keeps only its first bytes.
std::size_t WriteTraceTokenName(uint16_t index, char* out);

// ---- the yacc-style listing ----------------------------------------------------------------

// An item as kwt's own format, byacc and bison write it: a rule, its number
// first or not, with the dot (`.`, or bison's `•`) among its right side's
// symbols: `    1 program: stmt_list •`, `\tprogram : stmt_list .  (1)`.
bool ParseYaccItem(const char* line, const char** symbol, std::size_t* length);

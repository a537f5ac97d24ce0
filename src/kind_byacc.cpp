// byacc's and btyacc's files. The trace's lines start with a prefix that
// ends in `debug` and may give the depth of the state the line names
// (`yydebug[D]: state S, ...`); the listing opens a state's block with the
// line `state N`, after the conflict lines it writes for that state.
#include <cstring>

#include "kinds.h"

namespace {

// ---- the trace ---------------------------------------------------------------------------

// What the prefix of a line says: the depth of the state it names, when it
// gives one.
struct Prefix {
    bool hasDepth = false;
    uint32_t depth = 0;
};

// `[D]`, `[D,E]` or `[D,trial]`; gives the text after it, or null. What
// follows the comma is not read (a backtracking parser may write any number
// there).
const char* SkipDepth(const char* text, Prefix* prefix) {
    if (*text != '[') return nullptr;
    ++text;
    if (!ScanCount(text, &prefix->depth)) return nullptr;
    if (*text == ',') {
        for (++text; IsIdentifierPart(*text) || *text == '-';) ++text;
    }
    if (*text != ']') return nullptr;
    prefix->hasDepth = true;
    return text + 1;
}

// `yydebug[D]: `, `yydebug: `, `yydebug(trial)[D]: `, `yydebug[D,E]: ` or
// another prefix ending in `debug` (`-p calc` makes it `calcdebug`). Gives
// the text after it, or null for a line without one: the program's own.
const char* SkipDebugPrefix(const char* line, Prefix* prefix) {
    const char* p = line;
    while (IsIdentifierPart(*p)) ++p;
    if (p - line < 5 || std::strncmp(p - 5, "debug", 5) != 0) return nullptr;
    Take(p, "(trial)");
    if (*p == '[') p = SkipDepth(p, prefix);
    if (p == nullptr || !Take(p, ": ")) return nullptr;
    return p;
}

bool Recognise(const char* line) {
    Prefix prefix;
    const char* text = SkipDebugPrefix(line, &prefix);
    return text != nullptr &&
           (StartsWith(text, "state ") || StartsWith(text, "after reduction") ||
            StartsWith(text, "error recovery") || StartsWith(text, "ERROR recovery"));
}

// `reading [token] T (NAME)[ <value>]`: the name runs to the last `)` before
// the value, so `(')')` is the name `')'`.
void ReadToken(ParserView& view, const char* text) {
    Take(text, "token ");
    int32_t token = 0;
    if (!IsDigit(*text) || !ScanInt32(text, &token)) return;
    if (token == 0) return SetEndOfInput(view);
    const char* name = nullptr;
    std::size_t length = 0;
    if (Take(text, " (")) {
        name = text;
        const char* value = std::strstr(name, " <");
        const char* end = value != nullptr ? value : name + std::strlen(name);
        while (end > name && end[-1] != ')') --end;
        if (end > name) length = static_cast<std::size_t>(end - 1 - name);
    }
    if (length > 0 && IsEndOfInputName(name, length)) return SetEndOfInput(view);
    SetToken(view, token, name, length);  // no name: the token table names it
}

// How many symbols the rule in `(lhs : rhs)` has on its right-hand side.
uint16_t RightHandSymbols(const char* text) {
    const char* colon = std::strstr(text, " : ");
    const char* end = std::strrchr(text, ')');
    if (colon == nullptr || end == nullptr || end < colon) return 0;
    uint16_t count = 0;
    for (const char* p = colon + 3; p < end;) {
        while (p < end && *p == ' ') ++p;
        if (p >= end) break;
        p = SkipSymbolName(p);
        ++count;
    }
    return count;
}

// The depth of the state a line names: given by the prefix, or, in the
// classic form without depths, the top of the stack.
uint32_t NamedDepth(const ParserView& view, const Prefix& prefix) {
    if (prefix.hasDepth) return prefix.depth;
    const uint32_t depth = StackDepth(view.stacks[0]);
    return depth > 0 ? depth - 1 : 0;
}

void PutState(ParserView& view, uint32_t depth, uint32_t state) {
    view.stacks[0] = StackPut(view.stacks[0], depth, state);
}

// Whether the text of `text` before `at` ends with `end`.
bool EndsBefore(const char* text, const char* at, const char* end) {
    const std::size_t length = std::strlen(end);
    return static_cast<std::size_t>(at - text) >= length &&
           std::strncmp(at - length, end, length) == 0;
}

// `after reduction, [result is <v>, ]shifting from state X to [final ]state Y`:
// the parser is in Y, X the state the reduction uncovered. The value may hold
// any text, so the states are read from the end of the line.
void ReadReduction(ParserView& view, const char* text, const Prefix& prefix) {
    const char* last = nullptr;
    for (const char* at = std::strstr(text, "state "); at != nullptr;
         at = std::strstr(at + 1, "state ")) {
        last = at;
    }
    uint32_t to = 0;
    if (last == nullptr ||
        (!EndsBefore(text, last, " to ") && !EndsBefore(text, last, " to final "))) {
        return;
    }
    const char* number = last + std::strlen("state ");
    if (!ScanFinalCount(number, &to)) return;
    // X, when the line gives it: the last "from state X" before Y.
    uint32_t from = kUnknownEntry;
    const char* before = nullptr;
    for (const char* at = std::strstr(text, "from state "); at != nullptr && at < last;
         at = std::strstr(at + 1, "from state ")) {
        before = at;
    }
    if (before == nullptr || !Take(before, "from state ") || !ScanCount(before, &from)) {
        from = kUnknownEntry;
    }
    if (!prefix.hasDepth) view.stacks[0] = StackPop(view.stacks[0], view.pendingPops);
    view.pendingPops = 0;
    const uint32_t depth = NamedDepth(view, prefix);
    if (from != kUnknownEntry) PutState(view, depth, from);
    PutState(view, depth + 1, to);
    MoveTo(view, to);
}

// `state S, ...`: S is at the line's depth; what follows says what it does.
void ReadState(ParserView& view, const char* text, const Prefix& prefix) {
    uint32_t state = 0;
    if (!ScanCount(text, &state) || *text != ',') return;
    const bool reading = Take(text, ", reading ");
    if (reading) ReadToken(view, text);
    const uint32_t depth = NamedDepth(view, prefix);
    PutState(view, depth, state);
    MoveTo(view, state);
    if (reading) return;
    uint32_t target = 0;
    if (Take(text, ", shifting to state ")) {
        if (!ScanFinalCount(text, &target)) return;
        PutState(view, depth + 1, target);
        MoveTo(view, target);
        view.flags = static_cast<uint8_t>(view.flags | kNewErrorAllowed);
    } else if (Take(text, ", error recovery shifting to state ") ||
               Take(text, ", ERROR recovery shifts to state ")) {
        if (!ScanFinalCount(text, &target)) return;
        PutState(view, depth + 1, target);
        MoveTo(view, target);
    } else if (Take(text, ", reducing by rule ")) {
        view.pendingPops = RightHandSymbols(text);
    }
}

void Interpret(ParserView& view, const TraceLine& line, uint32_t /*screen*/) {
    Prefix prefix;
    const char* text = SkipDebugPrefix(line.head, &prefix);
    if (text == nullptr) return;
    uint32_t popped = 0;
    if (Take(text, "state ")) {
        ReadState(view, text, prefix);
    } else if (StartsWith(text, "after reduction, ")) {
        ReadReduction(view, text, prefix);
    } else if (Take(text, "error recovery discarding state ") ||
               Take(text, "ERROR recovery discards state ")) {
        if (!ScanFinalCount(text, &popped)) return;
        if (prefix.hasDepth) {
            PutState(view, prefix.depth, popped);
            PopState(view, 0, popped);
        } else {
            // Without depths the trace cannot say which state lies below.
            view.stacks[0] = StackPop(view.stacks[0], 1);
            MoveTo(view, popped);
        }
    }
}

// ---- the listing -------------------------------------------------------------------------

// Reads the digits at `text` into `number`; gives the text after them, or
// null when there are none or too many.
const char* ReadNumber(const char* text, uint32_t* number) {
    constexpr int kDigitsMax = 9;
    uint32_t value = 0;
    int digits = 0;
    for (; IsDigit(*text); ++text, ++digits) {
        if (digits == kDigitsMax) return nullptr;
        value = value * 10 + static_cast<uint32_t>(*text - '0');
    }
    if (digits == 0) return nullptr;
    *number = value;
    return text;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// A line that is exactly `state N`, blanks or a carriage return allowed after.
bool IsHeader(const char* piece, uint32_t* number) {
    if (std::strncmp(piece, "state ", 6) != 0) return false;
    const char* rest = ReadNumber(piece + 6, number);
    if (rest == nullptr) return false;
    while (IsBlank(*rest)) ++rest;
    return *rest == '\0';
}

bool MayMatter(unsigned char first) { return first == 's' || IsDigit(static_cast<char>(first)); }

// byacc writes a state's conflicts just before its header,
// `14: shift/reduce conflict (shift 27, reduce 18) on '%'`; they belong to
// that state's block when each is one piece and they run on, one line after
// the other, up to its header.
struct ConflictRun {
    bool active = false;
    uint32_t state = 0;
    int64_t start = 0;
    int64_t end = 0;  // the start of the line after the run's last
};

ConflictRun conflicts;

void NoteLine(const char* piece, int64_t offset, int64_t next) {
    uint32_t state = 0;
    const char* rest = ReadNumber(piece, &state);
    const bool conflict = rest != nullptr && (StartsWith(rest, ": shift/reduce conflict") ||
                                              StartsWith(rest, ": reduce/reduce conflict"));
    if (!conflict || next < 0) return;
    if (!conflicts.active || conflicts.state != state || conflicts.end != offset) {
        conflicts = {true, state, offset, next};
    }
    conflicts.end = next;
}

int64_t BlockStart(uint32_t state, int64_t header) {
    const bool first = conflicts.active && conflicts.state == state && conflicts.end == header;
    conflicts.active = false;
    return first ? conflicts.start : header;
}

void Forget() { conflicts = ConflictRun{}; }

}  // namespace

const Kind kKindByacc{
    "byacc",
    {Recognise, FirstViewWithStack, Interpret, IsYaccErrorLine, "rror", "RROR", true, false, false,
     nullptr},
    {IsHeader, MayMatter, false, nullptr, NoteLine, BlockStart, ParseYaccItem, nullptr, Forget},
    nullptr,
};

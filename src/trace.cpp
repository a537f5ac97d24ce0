// The parser's debug trace: read piece by piece for the screen, and line by
// line into the parser's view: the state it is in, its lookahead, the state
// it came from and its stacks.
//
// Three kinds of trace are read as they stand: kwt's own (`at state S, next
// token T`), byacc's and btyacc's (`yydebug[D]: state S, ...`) and bison's
// (`Entering state N`, `Stack now ...`, and its GLR parsers' `Stack N ...`).
// OpenTrace tells the kind from the first line that only one kind writes;
// each line is then read by that kind's forms alone.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "kwt.h"

TextFile* pfileTrace = nullptr;
TextLine szTrace{};

namespace {

enum class TraceKind { kOwn, kByacc, kBison };

TraceKind kind = TraceKind::kOwn;

// Where the piece in szTrace lies: whether it starts and ends a line of the
// file, and where its line starts. A line takes effect at its last piece.
bool pieceStartsLine = true;
bool pieceEndsLine = true;
int64_t pieceStart = 0;
int64_t lastPieceEnd = 0;
int64_t pieceLineStart = 0;
// The first line is shown but never interpreted.
int64_t firstLineStart = 0;
std::array<char, kLineHeadSize> lineHead{};

constexpr uint8_t kNewErrorAllowed = 1;  // the next error line starts a new error
constexpr uint8_t kPushPending = 2;      // a shift or reduction awaits the state it enters

constexpr char kEndOfInput[] = "$end";
// What a byacc or bison trace shows before the parser has read a token.
constexpr char kNoTokenYet[] = "(none)";

// ---- names the trace gives its tokens ------------------------------------------------

constexpr std::size_t kTraceNamesMax = 1024;
constexpr std::size_t kNameSlots = 2 * kTraceNamesMax;

std::array<std::array<char, kTokenNameSize>, kTraceNamesMax + 1> szTraceName{};
uint16_t traceNames = 0;
std::array<uint16_t, kNameSlots> nameSlots{};

void ForgetNames() {
    traceNames = 0;
    nameSlots.fill(0);
}

// The index of `name` in the table of names, added when new; 0 when it is
// empty or the table is full, and the token is then named by its number.
uint16_t NameIndex(const char* name, std::size_t length) {
    if (length == 0) return 0;
    if (length > kTokenNameSize - 1) length = kTokenNameSize - 1;
    const uint32_t hash = HashBytes(name, length);
    for (std::size_t probe = 0; probe < kNameSlots; ++probe) {
        uint16_t& slot = nameSlots[(hash + probe) % kNameSlots];
        if (slot == 0) {
            if (traceNames >= kTraceNamesMax) return 0;
            slot = ++traceNames;
            std::memcpy(szTraceName[slot].data(), name, length);
            szTraceName[slot][length] = '\0';
            return slot;
        }
        const char* known = szTraceName[slot].data();
        if (std::strncmp(known, name, length) == 0 && known[length] == '\0') return slot;
    }
    return 0;
}

// ---- reading words and numbers -------------------------------------------------------

// Moves `text` past `start` when it starts with it.
bool Take(const char*& text, const char* start) {
    if (!StartsWith(text, start)) return false;
    text += std::strlen(start);
    return true;
}

// Matches `pattern` at the start of `text` the way a scanf format's literal
// text does: characters must be equal, and a blank in the pattern matches
// any run of white space, none included.
bool MatchWords(const char*& text, const char* pattern) {
    const char* p = text;
    for (; *pattern != '\0'; ++pattern) {
        if (*pattern == ' ') {
            while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
        } else if (*p == *pattern) {
            ++p;
        } else {
            return false;
        }
    }
    text = p;
    return true;
}

// Scans "<first>%d<second>%d" from the start of `line`.
bool ScanTwoNumbers(const char* line, const char* first, const char* second, int32_t* a,
                    int32_t* b) {
    const char* p = line;
    return MatchWords(p, first) && ScanInt32(p, a) && MatchWords(p, second) && ScanInt32(p, b);
}

bool IsLineEnd(const char* text) {
    while (*text == ' ' || *text == '\t' || *text == '\r') ++text;
    return *text == '\0';
}

// An unsigned number of digits only, moving `text` past it.
bool ScanCount(const char*& text, uint32_t* value) {
    int32_t number = 0;
    if (!IsDigit(*text) || !ScanInt32(text, &number)) return false;
    *value = static_cast<uint32_t>(number);
    return true;
}

// A number that ends the line.
bool ScanFinalCount(const char* text, uint32_t* value) {
    return ScanCount(text, value) && IsLineEnd(text);
}

bool IsState(uint32_t state) { return state < nStates; }

// ---- the view ---------------------------------------------------------------------------

// The parser is now in `state`; the state it leaves becomes the return state.
void MoveTo(ParserView& view, uint32_t state) {
    if (!IsState(state) || state == view.state) return;
    view.returnState = view.state;
    view.state = state;
}

void SetToken(ParserView& view, int32_t number, const char* name, std::size_t length) {
    view.token = number;
    view.tokenName = NameIndex(name, length);
}

void SetEndOfInput(ParserView& view) { SetToken(view, 0, kEndOfInput, sizeof kEndOfInput - 1); }

bool IsEndOfInputName(const char* name, std::size_t length) {
    for (const char* end : {"$end", "end-of-file", "\"end of file\"", "end of file"}) {
        if (std::strlen(end) == length && std::strncmp(name, end, length) == 0) return true;
    }
    return false;
}

// A shift or a reduction on stack `number` is under way: the next state it
// enters is pushed, after `pops` states are taken off.
void AwaitPush(ParserView& view, uint8_t number, uint16_t pops) {
    view.flags = static_cast<uint8_t>(view.flags | kPushPending);
    view.pendingStack = number;
    view.pendingPops = pops;
}

void ClearPending(ParserView& view) {
    view.flags = static_cast<uint8_t>(view.flags & ~kPushPending);
    view.pendingPops = 0;
}

void FollowStack(ParserView& view, uint32_t number) {
    view.followed = number < kSplitStacksMax ? static_cast<uint8_t>(number) : kNoStackFollowed;
}

// A line about stack `number` of a GLR parser's: the view follows that stack,
// and the parser's state is the one on its top.
void FollowNamedStack(ParserView& view, uint32_t number) {
    FollowStack(view, number);
    if (number >= kSplitStacksMax) return;
    const StackHandle stack = view.stacks[number];
    if (StackDepth(stack) > 0) MoveTo(view, StackState(stack));
}

// The parser enters `state` on stack `number`: pushed after a shift or a
// reduction, otherwise the state already on top (a GLR parser names it again
// each time it looks at a stack).
void Enter(ParserView& view, uint32_t number, uint32_t state) {
    FollowStack(view, number);
    MoveTo(view, state);
    if (number >= kSplitStacksMax) return;
    StackHandle& stack = view.stacks[number];
    if ((view.flags & kPushPending) != 0 && view.pendingStack == number) {
        stack = StackPush(StackPop(stack, view.pendingPops), state);
        ClearPending(view);
    } else if (stack == kEmptyStack) {
        stack = StackPush(stack, state);
    } else if (StackState(stack) != state) {
        stack = StackPush(StackPop(stack, 1), state);
    }
}

// Error recovery takes the top state off: the parser is in the one below,
// or, where the trace never named that one, still shown in `popped`.
void PopState(ParserView& view, uint32_t number, uint32_t popped) {
    if (number >= kSplitStacksMax) return;
    StackHandle& stack = view.stacks[number];
    const uint32_t depth = StackDepth(stack);
    stack = StackPop(stack, 1);
    const bool named = depth > 1 && StackState(stack) != kUnknownEntry;
    MoveTo(view, named ? StackState(stack) : popped);
}

// ---- kwt's own format --------------------------------------------------------------------

// A line that names no state keeps the state on screen; one that names a
// state (never state 0) makes the state on screen its return state.
void InterpretOwnLine(ParserView& view, const char* line, uint32_t screen) {
    view.state = screen;
    int32_t state = 0;
    int32_t token = 0;
    if (ScanTwoNumbers(line, "at state ", ", next token ", &state, &token) && state > 0 &&
        static_cast<uint32_t>(state) < nStates) {
        view.returnState = screen;
        view.state = static_cast<uint32_t>(state);
        view.token = token;
    }
    int32_t popped = 0;
    int32_t recovery = 0;
    if (ScanTwoNumbers(line, "error: pop state ", ", recover state ", &popped, &recovery) &&
        recovery > 0 && static_cast<uint32_t>(recovery) < nStates) {
        view.returnState = screen;
        view.state = static_cast<uint32_t>(recovery);
    }
}

// ---- byacc and btyacc ----------------------------------------------------------------

// What the prefix of a byacc line says: the depth of the state it names,
// when it gives one.
struct ByaccPrefix {
    bool hasDepth = false;
    uint32_t depth = 0;
};

// `[D]`, `[D,E]` or `[D,trial]`; gives the text after it, or null. What
// follows the comma is not read (a backtracking parser may write any number
// there).
const char* SkipDepth(const char* text, ByaccPrefix* prefix) {
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
const char* SkipDebugPrefix(const char* line, ByaccPrefix* prefix) {
    const char* p = line;
    while (IsIdentifierPart(*p)) ++p;
    if (p - line < 5 || std::strncmp(p - 5, "debug", 5) != 0) return nullptr;
    Take(p, "(trial)");
    if (*p == '[') p = SkipDepth(p, prefix);
    if (p == nullptr || !Take(p, ": ")) return nullptr;
    return p;
}

// `reading [token] T (NAME)[ <value>]`: the name runs to the last `)` before
// the value, so `(')')` is the name `')'`.
void ReadByaccToken(ParserView& view, const char* text) {
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
uint32_t NamedDepth(const ParserView& view, const ByaccPrefix& prefix) {
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
void ReadByaccReduction(ParserView& view, const char* text, const ByaccPrefix& prefix) {
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
    if (!ScanFinalCount(number, &to) || !IsState(to)) return;
    // X, when the line gives it: the last "from state X" before Y.
    uint32_t from = kUnknownEntry;
    const char* before = nullptr;
    for (const char* at = std::strstr(text, "from state "); at != nullptr && at < last;
         at = std::strstr(at + 1, "from state ")) {
        before = at;
    }
    if (before != nullptr && Take(before, "from state ") && ScanCount(before, &from) &&
        !IsState(from)) {
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
void ReadByaccState(ParserView& view, const char* text, const ByaccPrefix& prefix) {
    uint32_t state = 0;
    if (!ScanCount(text, &state) || *text != ',') return;
    // The lookahead is taken even from a line whose state the listing lacks.
    const bool reading = Take(text, ", reading ");
    if (reading) ReadByaccToken(view, text);
    if (!IsState(state)) return;
    const uint32_t depth = NamedDepth(view, prefix);
    PutState(view, depth, state);
    MoveTo(view, state);
    if (reading) return;
    uint32_t target = 0;
    if (Take(text, ", shifting to state ")) {
        if (!ScanFinalCount(text, &target) || !IsState(target)) return;
        PutState(view, depth + 1, target);
        MoveTo(view, target);
        view.flags = static_cast<uint8_t>(view.flags | kNewErrorAllowed);
    } else if (Take(text, ", error recovery shifting to state ") ||
               Take(text, ", ERROR recovery shifts to state ")) {
        if (!ScanFinalCount(text, &target) || !IsState(target)) return;
        PutState(view, depth + 1, target);
        MoveTo(view, target);
    } else if (Take(text, ", reducing by rule ")) {
        view.pendingPops = RightHandSymbols(text);
    }
}

void InterpretByaccLine(ParserView& view, const char* line) {
    ByaccPrefix prefix;
    const char* text = SkipDebugPrefix(line, &prefix);
    if (text == nullptr) return;
    uint32_t popped = 0;
    if (Take(text, "state ")) {
        ReadByaccState(view, text, prefix);
    } else if (StartsWith(text, "after reduction, ")) {
        ReadByaccReduction(view, text, prefix);
    } else if (Take(text, "error recovery discarding state ") ||
               Take(text, "ERROR recovery discards state ")) {
        if (!ScanFinalCount(text, &popped) || !IsState(popped)) return;
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

// ---- bison ----------------------------------------------------------------------------

// The length of the known terminal that `text` starts with, followed by
// " (", quoted as in the listing or without its double quotes; the longest
// one wins, since a name can hold blanks. 0 when none is known.
std::size_t MatchTerminal(const char* text, int32_t* number) {
    std::size_t best = 0;
    const bool bareAllowed = text[0] != '"';
    for (std::size_t length = 1; length < kSymbolNameSize && text[length - 1] != '\0'; ++length) {
        if (StartsWith(text + length, " (") && FindSymbol(text, length, bareAllowed, number)) {
            best = length;
        }
    }
    return best;
}

// The length of the symbol name a bison line starts with: a known terminal,
// a quoted name up to its closing quote, any other up to its value's `(`.
std::size_t BisonNameLength(const char* text, int32_t* number) {
    const std::size_t known = MatchTerminal(text, number);
    if (known > 0) return known;
    const bool quoted = text[0] == '"' || text[0] == '\'';
    const char* end = quoted ? SkipSymbolName(text) : std::strstr(text, " (");
    return end != nullptr ? static_cast<std::size_t>(end - text) : std::strlen(text);
}

// `Next token is token NAME (VALUE)`: bison names its tokens without their
// numbers; the number comes from the listing's terminals or the header.
void ReadBisonToken(ParserView& view, const char* text) {
    int32_t number = view.token;
    const std::size_t length = BisonNameLength(text, &number);
    if (IsEndOfInputName(text, length)) return SetEndOfInput(view);
    SetToken(view, number, text, length);
}

// `Shifting token NAME (VALUE)`: a real token, unless it is `error`.
void ReadBisonShift(ParserView& view, uint32_t number, const char* name) {
    AwaitPush(view, static_cast<uint8_t>(number), 0);
    if (!StartsWith(name, "error (")) {
        view.flags = static_cast<uint8_t>(view.flags | kNewErrorAllowed);
    }
}

// The states of a `Stack now` line, bottom first, read whole however long
// the line: its head holds the first bytes, the rest is read from the file.
struct StackLine {
    std::array<uint32_t, kStackDepthMax> states{};
    uint32_t count = 0;
    uint32_t number = 0;
    bool inNumber = false;
    bool valid = true;

    void Feed(const char* bytes, std::size_t length) {
        for (std::size_t i = 0; i < length && valid; ++i) {
            const char c = bytes[i];
            if (IsDigit(c)) {
                if (number > (UINT32_MAX - 9) / 10) valid = false;
                number = number * 10 + static_cast<uint32_t>(c - '0');
                inNumber = true;
            } else if (c == ' ' || c == '\r' || c == '\t') {
                End();
            } else {
                valid = false;
            }
        }
    }
    void End() {
        if (!inNumber) return;
        if (count == kStackDepthMax) valid = false;
        if (valid) states[count++] = number;
        number = 0;
        inNumber = false;
    }
};

StackLine stackLine;
std::array<StackHandle, kStackDepthMax> stackEntries{};

bool ReadStackLine(const TraceLine& line, const char* numbers) {
    stackLine.count = 0;
    stackLine.number = 0;
    stackLine.inNumber = false;
    stackLine.valid = true;
    const std::size_t inHead = std::strlen(line.head);
    stackLine.Feed(numbers, std::strlen(numbers));
    // The head stops at a NUL or at its size; only in the second case does
    // the line go on in the file.
    int64_t at = line.start + static_cast<int64_t>(inHead);
    const bool cut = static_cast<int64_t>(inHead) < line.length && inHead == kLineHeadSize - 1;
    const int64_t end = line.start + line.length;
    char chunk[4096];
    while (cut && stackLine.valid && at < end) {
        const std::size_t want = static_cast<std::size_t>(std::min<int64_t>(end - at, 4096));
        const std::size_t got = TextReadAt(pfileTrace, at, chunk, want);
        if (got == 0) break;
        const void* nul = std::memchr(chunk, '\0', got);
        const std::size_t used =
            nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - chunk) : got;
        stackLine.Feed(chunk, used);
        if (nul != nullptr) break;
        at += static_cast<int64_t>(got);
    }
    stackLine.End();
    return stackLine.valid && stackLine.count > 0;
}

// `Stack now 0 1 5 12`: stack 0 is exactly these states, its top the last.
// Entries that are already there are kept, so that views share them.
void ReadBisonStack(ParserView& view, const TraceLine& line, const char* numbers) {
    if (!ReadStackLine(line, numbers)) return;
    // The entries of stack 0 by depth; a depth in a gap the trace left has none.
    StackHandle stack = view.stacks[0];
    const uint32_t depth = stack == kUnknownStack ? 0 : StackDepth(stack);
    for (uint32_t i = depth; i > 0; --i) {
        const bool here = stack != kUnknownStack && StackEntryDepth(stack) == i - 1;
        stackEntries[i - 1] = here ? stack : kUnknownStack;
        if (here) stack = StackBelow(stack);
    }
    uint32_t same = 0;
    while (same < depth && same < stackLine.count && stackEntries[same] != kUnknownStack &&
           StackState(stackEntries[same]) == stackLine.states[same]) {
        ++same;
    }
    stack = same > 0 ? stackEntries[same - 1] : kEmptyStack;
    for (uint32_t i = same; i < stackLine.count; ++i) stack = StackPush(stack, stackLine.states[i]);
    view.stacks[0] = stack;
    FollowStack(view, 0);
    ClearPending(view);
    MoveTo(view, stackLine.states[stackLine.count - 1]);
}

// `Stack N ...`, `On stack N, ...`, `Reducing stack N ...`: a GLR parser's
// stack number, moving `text` past it.
bool ScanStackNumber(const char*& text, uint32_t* number) { return ScanCount(text, number); }

// `Reduced stack N by rule R (line L); action deferred.  Now in state M.`
void ReadDeferredReduction(ParserView& view, const char* text) {
    uint32_t number = 0;
    uint32_t rule = 0;
    uint32_t state = 0;
    if (!ScanStackNumber(text, &number) || !Take(text, " by rule ") || !ScanCount(text, &rule)) {
        return;
    }
    const char* now = std::strstr(text, "Now in state ");
    if (now == nullptr || !Take(now, "Now in state ") || !ScanCount(now, &state) ||
        !IsState(state)) {
        return;
    }
    FollowStack(view, number);
    MoveTo(view, state);
    if (number >= kSplitStacksMax) return;
    const int length = RuleLength(rule);
    StackHandle& stack = view.stacks[number];
    stack = length < 0 ? kUnknownStack : StackPush(StackPop(stack, length), state);
}

// The GLR parser's lines about its stacks.
void ReadGlrLine(ParserView& view, const char* text) {
    uint32_t number = 0;
    uint32_t other = 0;
    uint32_t state = 0;
    if (Take(text, "Stack ")) {
        if (!ScanStackNumber(text, &number)) return;
        if ((Take(text, " Entering state ") || Take(text, " now in state ")) &&
            ScanFinalCount(text, &state) && IsState(state)) {
            Enter(view, number, state);
        }
    } else if (Take(text, "On stack ")) {
        if (ScanStackNumber(text, &number) && Take(text, ", shifting token ")) {
            FollowNamedStack(view, number);
            ReadBisonShift(view, number, text);
        }
    } else if (Take(text, "Reduced stack ")) {
        ReadDeferredReduction(view, text);
    } else if (Take(text, "Splitting off stack ")) {
        if (ScanStackNumber(text, &number) && Take(text, " from ") && ScanCount(text, &other) &&
            number < kSplitStacksMax && other < kSplitStacksMax) {
            view.stacks[number] = view.stacks[other];
        }
    } else if (Take(text, "Rename stack ")) {
        if (ScanStackNumber(text, &number) && Take(text, " -> ") && ScanCount(text, &other) &&
            number < kSplitStacksMax && other < kSplitStacksMax) {
            view.stacks[other] = view.stacks[number];
            if (view.followed == number) view.followed = static_cast<uint8_t>(other);
        }
    } else if (StartsWith(text, "Returning to deterministic operation.")) {
        FollowStack(view, 0);
    }
}

void InterpretBisonLine(ParserView& view, const TraceLine& line) {
    const char* text = line.head;
    uint32_t state = 0;
    uint32_t number = 0;
    if (Take(text, "Entering state ")) {
        if (ScanFinalCount(text, &state) && IsState(state)) Enter(view, 0, state);
    } else if (Take(text, "Stack now ")) {
        ReadBisonStack(view, line, text);
    } else if (Take(text, "Next token is token ")) {
        ReadBisonToken(view, text);
    } else if (StartsWith(text, "Now at end of input.")) {
        SetEndOfInput(view);
    } else if (Take(text, "Shifting token ")) {
        FollowStack(view, 0);
        ReadBisonShift(view, 0, text);
    } else if (Take(text, "Reducing stack ")) {
        // `Reducing stack by rule R (line L):`, or `Reducing stack N by ...` in
        // a GLR parser; the `$i = ` lines after it count the states it pops.
        if (!ScanStackNumber(text, &number)) number = 0;
        if (number < kSplitStacksMax) AwaitPush(view, static_cast<uint8_t>(number), 0);
    } else if (StartsWith(text, "   $") && (view.flags & kPushPending) != 0) {
        ++view.pendingPops;
    } else if (Take(text, "Error: popping ") || Take(text, "Cleanup: popping ")) {
        PopState(view, 0, view.state);
    } else if (StartsWith(text, "Starting parse")) {
        view.stacks.fill(kUnknownStack);
        view.stacks[0] = kEmptyStack;
        FollowStack(view, 0);
        AwaitPush(view, 0, 0);
    } else {
        ReadGlrLine(view, text);
    }
}

// ---- telling the kind --------------------------------------------------------------------

// The kind only `line` could come from, or false when any could write it.
bool KindOfLine(const char* line, TraceKind* found) {
    int32_t a = 0;
    int32_t b = 0;
    if (ScanTwoNumbers(line, "at state ", ", next token ", &a, &b) ||
        ScanTwoNumbers(line, "error: pop state ", ", recover state ", &a, &b)) {
        *found = TraceKind::kOwn;
        return true;
    }
    if (std::strcmp(line, "Starting parse") == 0 || StartsWith(line, "Entering state ") ||
        StartsWith(line, "Stack now ") || StartsWith(line, "Stack 0 Entering state ")) {
        *found = TraceKind::kBison;
        return true;
    }
    ByaccPrefix prefix;
    const char* text = SkipDebugPrefix(line, &prefix);
    if (text != nullptr &&
        (StartsWith(text, "state ") || StartsWith(text, "after reduction") ||
         StartsWith(text, "error recovery") || StartsWith(text, "ERROR recovery"))) {
        *found = TraceKind::kByacc;
        return true;
    }
    return false;
}

// The kind of the first line of any kind's form, however far into the file
// (a program may print much before it parses); kwt's own when there is none.
TraceKind TellKind(TextFile* file) {
    TraceKind found = TraceKind::kOwn;
    int64_t start = 0;
    int64_t length = 0;
    while (TextReadLine(file, lineHead.data(), lineHead.size(), &start, &length)) {
        if (KindOfLine(lineHead.data(), &found)) break;
    }
    TextSeek(file, 0);
    return found;
}

// Where the line that holds the byte at `at` starts.
int64_t LineStartBefore(TextFile* file, int64_t at) {
    char chunk[4096];
    while (at > 0) {
        const int64_t from = at > 4096 ? at - 4096 : 0;
        const std::size_t got = TextReadAt(file, from, chunk, static_cast<std::size_t>(at - from));
        if (got == 0) return at;
        for (std::size_t i = got; i > 0; --i) {
            if (chunk[i - 1] == '\n') return from + static_cast<int64_t>(i);
        }
        at = from;
    }
    return 0;
}

}  // namespace

bool IsErrorLine(const char* text) {
    return std::strncmp(text, "error:", 6) == 0 || std::strncmp(text, "Error:", 6) == 0 ||
           std::strstr(text, "error recovery") != nullptr ||
           std::strstr(text, "ERROR recovery") != nullptr ||
           std::strstr(text, "syntax error") != nullptr;
}

bool OpenTrace(const char* path) {
    pfileTrace = TextOpen(path);
    if (pfileTrace == nullptr) {
        TextSayOpenFailed(path, "Cannot open YACC Trace file!");
        return false;
    }
    SayWhenCopied(pfileTrace, "trace");
    kind = TellKind(pfileTrace);
    pieceStartsLine = true;
    pieceEndsLine = true;
    pieceStart = 0;
    lastPieceEnd = 0;
    pieceLineStart = 0;
    firstLineStart = 0;
    ForgetNames();
    return true;
}

void CloseTrace() {
    TextClose(pfileTrace);
    pfileTrace = nullptr;
    kind = TraceKind::kOwn;
    ForgetNames();
}

bool TraceHasStacks() { return kind != TraceKind::kOwn; }

ParserView FirstView() {
    ParserView view;
    if (kind == TraceKind::kOwn) return view;
    view.tokenName = NameIndex(kNoTokenYet, sizeof kNoTokenYet - 1);
    view.stacks[0] = kEmptyStack;
    view.flags = kNewErrorAllowed;
    AwaitPush(view, 0, 0);
    return view;
}

void MarkFirstLine() { firstLineStart = pfileTrace != nullptr ? TextTell(pfileTrace) : 0; }

int64_t FirstLineStart() { return firstLineStart; }

bool ReadTrace() {
    if (pfileTrace == nullptr) return false;
    const int64_t at = TextTell(pfileTrace);
    bool endsLine = true;
    if (!ReadTextLine(pfileTrace, szTrace, &endsLine)) return false;
    // Reading on from the last piece, that piece says whether a new line
    // starts here; after a seek (a replayed step, a jump) the file does.
    if (at == lastPieceEnd) {
        pieceStartsLine = pieceEndsLine;
    } else {
        pieceLineStart = LineStartBefore(pfileTrace, at);
        pieceStartsLine = pieceLineStart == at;
    }
    if (pieceStartsLine) pieceLineStart = at;
    pieceStart = at;
    pieceEndsLine = endsLine;
    lastPieceEnd = TextTell(pfileTrace);
    return true;
}

bool TracePieceEndsLine() { return pieceEndsLine; }

int64_t TracePieceLineStart() { return pieceLineStart; }

int64_t TraceLineStartBefore(int64_t at) {
    return pfileTrace != nullptr ? LineStartBefore(pfileTrace, at) : 0;
}

bool TraceStandsAfter(int64_t offset) {
    return pfileTrace != nullptr && pieceStart == offset && TextTell(pfileTrace) == lastPieceEnd;
}

void FollowPiece(ParserView& view, uint32_t screen) {
    if (!pieceEndsLine) {
        // kwt's own format keeps the state on screen at a line that names none.
        if (kind == TraceKind::kOwn && pieceLineStart != firstLineStart) view.state = screen;
        return;
    }
    TraceLine line;
    line.start = pieceLineStart;
    line.length = pieceStart - pieceLineStart + static_cast<int64_t>(std::strlen(szTrace.data()));
    const std::size_t want =
        static_cast<std::size_t>(std::min<int64_t>(line.length, kLineHeadSize - 1));
    const std::size_t got =
        pieceStartsLine ? want : TextReadAt(pfileTrace, line.start, lineHead.data(), want);
    if (pieceStartsLine) std::memcpy(lineHead.data(), szTrace.data(), want);
    lineHead[got] = '\0';
    line.head = lineHead.data();
    InterpretLine(view, line, screen);
}

bool ReadTraceLine(TraceLine& line) {
    if (pfileTrace == nullptr) return false;
    if (!TextReadLine(pfileTrace, lineHead.data(), lineHead.size(), &line.start, &line.length)) {
        return false;
    }
    line.head = lineHead.data();
    return true;
}

void InterpretLine(ParserView& view, const TraceLine& line, uint32_t screen) {
    if (line.start == firstLineStart) return;
    const bool error = IsErrorLine(line.head);
    switch (kind) {
    case TraceKind::kOwn:
        InterpretOwnLine(view, line.head, screen);
        // A run of error lines is one error.
        view.flags = error ? 0 : kNewErrorAllowed;
        return;
    case TraceKind::kByacc: InterpretByaccLine(view, line.head); break;
    case TraceKind::kBison: InterpretBisonLine(view, line); break;
    }
    // One error lasts until the parser shifts a real token.
    if (error) view.flags = static_cast<uint8_t>(view.flags & ~kNewErrorAllowed);
}

bool StartsNewError(const ParserView& before, const TraceLine& line) {
    return line.start != firstLineStart && (before.flags & kNewErrorAllowed) != 0 &&
           IsErrorLine(line.head);
}

const char* TraceTokenName(uint16_t index) {
    return index > 0 && index <= traceNames ? szTraceName[index].data() : "";
}

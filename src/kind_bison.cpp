// bison's files: the trace of its C, C++ and GLR parsers (`Entering state
// N`, `Stack now ...`, and a GLR parser's `Stack N ...` lines), its listing
// (`State N`, or the word a translated listing writes for it, and the
// `Terminals` section that numbers the tokens the trace names) and the enum
// entries of its token header.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "kinds.h"

namespace {

// ---- the trace ---------------------------------------------------------------------------

bool Recognise(const char* line) {
    return std::strcmp(line, "Starting parse") == 0 || StartsWith(line, "Entering state ") ||
           StartsWith(line, "Stack now ") || StartsWith(line, "Stack 0 Entering state ");
}

void ClearPending(ParserView& view) {
    view.flags = static_cast<uint8_t>(view.flags & ~kPushPending);
    view.pendingPops = 0;
}

void FollowStack(ParserView& view, uint32_t number) {
    view.followed = number < kSplitStacksMax ? static_cast<uint8_t>(number) : kNoStackFollowed;
}

// Stack `number` as the view keeps it: one past those it keeps is not known.
StackHandle KeptStack(const ParserView& view, uint32_t number) {
    return number < kSplitStacksMax ? view.stacks[number] : kUnknownStack;
}

// A line about stack `number` of a GLR parser's that names no state: the view
// follows that stack, and the parser's state is the one on its top, not
// known where kwt does not know the stack.
void FollowNamedStack(ParserView& view, uint32_t number) {
    FollowStack(view, number);
    const StackHandle stack = KeptStack(view, number);
    MoveTo(view, StackDepth(stack) > 0 ? StackState(stack) : kUnknownEntry);
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

// The length of the known terminal that `text` starts with, followed by
// " (", quoted as in the listing or without its double quotes; the longest
// one wins, since a name can hold blanks. 0 when none is known.
std::size_t MatchTerminal(const char* text, int32_t* number) {
    std::size_t best = 0;
    const bool bareAllowed = text[0] != '"';
    for (std::size_t length = 1; length < kSymbolNameSize && text[length - 1] != '\0'; ++length) {
        const bool beforeValue = text[length] == ' ' && text[length + 1] == '(';
        if (beforeValue && FindSymbol(text, length, bareAllowed, number)) {
            best = length;
        }
    }
    return best;
}

// The length of the symbol name a line starts with: a known terminal, which
// MatchTerminal found `known` bytes long, a quoted name up to its closing
// quote, any other up to its value's `(`.
std::size_t NameLength(const char* text, std::size_t known) {
    if (known > 0) return known;
    const bool quoted = text[0] == '"' || text[0] == '\'';
    const char* end = quoted ? SkipSymbolName(text) : std::strstr(text, " (");
    return end != nullptr ? static_cast<std::size_t>(end - text) : std::strlen(text);
}

// The bytes `a` and `b` have the same from their start, of `length`.
std::size_t CommonStart(const char* a, const char* b, std::size_t length) {
    std::size_t i = 0;
    for (uint64_t x = 0, y = 0; i + sizeof x <= length; i += sizeof x) {
        std::memcpy(&x, a + i, sizeof x);
        std::memcpy(&y, b + i, sizeof y);
        if (x == y) continue;
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        return i + static_cast<std::size_t>(__builtin_ctzll(x ^ y)) / 8;
#else
        break;
#endif
    }
    while (i < length && a[i] == b[i]) ++i;
    return i;
}

// Most tokens are named twice, around the reductions they lead to, and a walk
// to the trace's end reads millions of these lines: the last one read is
// kept, the text after `token ` and what it came to, and taken again for the
// same text while the token table stands and the trace's table of names
// still has the name where it was.
struct TokenBefore {
    std::array<char, kLineHeadSize> text{};
    std::size_t length = 0;  // the head's bytes from the text on
    std::size_t nameLength = 0;
    int32_t number = 0;
    bool numbered = false;  // the table gave the number; else the lookahead's stays
    bool endOfInput = false;
    uint16_t name = 0;
    uint32_t symbols = 0;  // SymbolsVersion() then
    uint16_t symbolCount = 0;
    bool known = false;
};

TokenBefore tokenBefore;

// The same text: the same bytes up to the end of the head (a NUL in it
// included, though what comes after one does not count).
bool TakeTokenBefore(ParserView& view, const char* text, std::size_t length) {
    const TokenBefore& before = tokenBefore;
    if (!before.known || before.symbols != SymbolsVersion() || before.symbolCount != sSymbols ||
        before.length != length || CommonStart(text, before.text.data(), length) != length) {
        return false;
    }
    if (before.endOfInput) {
        SetEndOfInput(view);
        return true;
    }
    if (!IsTraceTokenName(before.name, text, before.nameLength)) return false;
    if (before.numbered) view.token = before.number;
    view.tokenName = before.name;
    return true;
}

// `Next token is token NAME (VALUE)`: bison names its tokens without their
// numbers; the number comes from the listing's terminals or the header.
[[gnu::noinline]] void ReadToken(ParserView& view, const char* text, std::size_t left) {
    if (TakeTokenBefore(view, text, left)) return;
    int32_t number = view.token;
    const std::size_t known = MatchTerminal(text, &number);
    const std::size_t length = NameLength(text, known);
    const bool endOfInput = IsEndOfInputName(text, length);
    if (endOfInput) {
        SetEndOfInput(view);
    } else {
        SetToken(view, number, text, length);
    }
    TokenBefore& before = tokenBefore;
    std::memcpy(before.text.data(), text, left);
    before.length = left;
    before.nameLength = length;
    before.number = number;
    before.numbered = known > 0;
    before.endOfInput = endOfInput;
    before.name = view.tokenName;
    before.symbols = SymbolsVersion();
    before.symbolCount = sSymbols;
    before.known = true;
}

// `Shifting token NAME (VALUE)`: a real token, unless it is `error`.
void ReadShift(ParserView& view, uint32_t number, const char* name) {
    AwaitPush(view, static_cast<uint8_t>(number), 0);
    if (!StartsWith(name, "error (")) {
        view.flags = static_cast<uint8_t>(view.flags | kNewErrorAllowed);
    }
}

// The states of a `Stack now` line, bottom first, read whole however long
// the line.
struct StackLine {
    std::array<uint32_t, kStackDepthMax> states{};
    uint32_t count = 0;
    uint32_t number = 0;
    bool inNumber = false;
    bool valid = true;

    bool Feed(const char* bytes, std::size_t length) {
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
        return valid;
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
    FeedRestOfLine(line, numbers, [](const char* bytes, std::size_t length) {
        return stackLine.Feed(bytes, length);
    });
    stackLine.End();
    return stackLine.valid && stackLine.count > 0;
}

// A walk to the trace's end reads millions of `Stack now` lines, and each is
// mostly the one before it with a number or two changed at its end. So the
// last one read that its head held whole is kept: its numbers' text, where
// each number ends in it, and the entries of the stack it named, by depth.
// The numbers a line shares with it in their common start are not read
// again (their states are still in stackLine), and where the stack holds the
// very entry it held after that line at a depth those numbers cover, the
// entries below are the same and are not looked at. Entries stay the same
// only until a collection may hand them out again.
constexpr std::size_t kHeldNumbersMax = kLineHeadSize / 2;
static_assert(kHeldNumbersMax * 2 >= kLineHeadSize, "a number and a blank after it take two bytes");

struct StackLineBefore {
    std::array<char, kLineHeadSize> text{};
    std::size_t length = 0;
    std::array<uint16_t, kHeldNumbersMax> ends{};  // where each number ends in the text
    std::array<StackHandle, kHeldNumbersMax> entries{};
    uint32_t count = 0;
    uint32_t collections = 0;  // StackCollections() when the entries were taken
    bool known = false;
};

StackLineBefore stackBefore;

// Reads the `length` bytes of `numbers`, the rest of a line its head holds
// whole, as ReadStackLine does, from where it first differs from the line
// before; `settled` gets the numbers read there, which it shares.
bool ReadHeldStackLine(const char* numbers, std::size_t length, uint32_t* settled) {
    StackLineBefore& before = stackBefore;
    uint32_t count = 0;
    if (before.known) {
        const std::size_t common =
            CommonStart(numbers, before.text.data(), std::min(length, before.length));
        count = before.count;
        while (count > 0 && before.ends[count - 1] >= common) --count;
    }
    *settled = count;
    std::size_t at = count > 0 ? before.ends[count - 1] : 0;
    uint32_t value = 0;
    bool digits = false;
    // The head ends with a zero, after the line or at a NUL in it; the text
    // is kept up to there.
    for (;; ++at) {
        const char c = numbers[at];
        before.text[at] = c;
        if (IsDigit(c)) {
            if (value > (UINT32_MAX - 9) / 10) return false;
            value = value * 10 + static_cast<uint32_t>(c - '0');
            digits = true;
        } else if (c != ' ' && c != '\r' && c != '\t' && c != '\0') {
            return false;
        } else if (digits) {
            stackLine.states[count] = value;
            before.ends[count++] = static_cast<uint16_t>(at);
            value = 0;
            digits = false;
        }
        if (c == '\0') break;
    }
    before.length = at + 1;
    stackLine.count = count;
    before.count = count;
    return count > 0;
}

// `Stack now 0 1 5 12`: stack 0 is exactly these states, its top the last.
// Entries that are already there are kept, so that views share them.
[[gnu::noinline]] void ReadStack(ParserView& view, const TraceLine& line, const char* numbers) {
    const auto inHead = static_cast<std::size_t>(numbers - line.head);
    const bool whole = line.length < static_cast<int64_t>(kLineHeadSize - 1);
    uint32_t settled = 0;
    const bool read =
        whole ? ReadHeldStackLine(numbers, static_cast<std::size_t>(line.length) - inHead, &settled)
              : ReadStackLine(line, numbers);
    // Where the line was read otherwise, or not read, stackLine no longer
    // holds the states of the line before.
    const bool kept = whole && read;
    if (!kept) stackBefore.known = false;
    if (!read) return;
    FollowStack(view, 0);
    ClearPending(view);
    MoveTo(view, stackLine.states[stackLine.count - 1]);
    // Mostly the line names the stack as it stands: it is looked at from its
    // top down to where it holds an entry it held after the line before, at
    // a depth of the numbers the two lines share.
    StackLineBefore& before = stackBefore;
    const bool sameEntries = before.known && before.collections == StackCollections();
    if (kept && StackHolds(view.stacks[0], stackLine.states.data(), stackLine.count,
                           before.entries.data(), sameEntries ? settled : 0)) {
        before.collections = StackCollections();
        before.known = true;
        return;
    }
    before.known = false;
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
    for (uint32_t i = same; i < stackLine.count; ++i) {
        stack = StackPush(stack, stackLine.states[i]);
        stackEntries[i] = stack;
    }
    view.stacks[0] = stack;
    if (!kept || stack == kUnknownStack) return;
    std::copy(stackEntries.begin(), stackEntries.begin() + stackLine.count, before.entries.begin());
    before.collections = StackCollections();
    before.known = true;
}

// `Reduced stack N by rule R (line L); action deferred.  Now in state M.`
void ReadDeferredReduction(ParserView& view, const char* text) {
    uint32_t number = 0;
    uint32_t rule = 0;
    uint32_t state = 0;
    if (!ScanCount(text, &number) || !Take(text, " by rule ") || !ScanCount(text, &rule)) return;
    const char* now = std::strstr(text, "Now in state ");
    if (now == nullptr || !Take(now, "Now in state ") || !ScanCount(now, &state)) return;
    FollowStack(view, number);
    MoveTo(view, state);
    if (number >= kSplitStacksMax) return;
    const int length = RuleLength(rule);
    StackHandle& stack = view.stacks[number];
    stack = length < 0 ? kUnknownStack : StackPush(StackPop(stack, length), state);
}

// Where Interpret has got to in a line's head, and how many of the head's
// bytes are left from there.
struct Head {
    const char* text;
    std::size_t left;
};

// Moves past `word` where the head goes on with it. The word is compared
// whole, as the bytes are there to compare: a walk to the trace's end reads
// millions of lines, and a loop over the bytes costs it dearly.
template <std::size_t kSize>
bool TakeWord(Head& head, const char (&word)[kSize]) {
    constexpr std::size_t length = kSize - 1;
    if (head.left < length || std::memcmp(head.text, word, length) != 0) return false;
    head.text += length;
    head.left -= length;
    return true;
}

// The GLR parser's lines about its stacks: `Stack N ...`, `On stack N, ...`.
void ReadGlrLine(ParserView& view, Head head) {
    uint32_t number = 0;
    uint32_t other = 0;
    uint32_t state = 0;
    const char*& text = head.text;
    if (TakeWord(head, "Stack ")) {
        if (!ScanCount(text, &number)) return;
        if ((Take(text, " Entering state ") || Take(text, " now in state ")) &&
            ScanFinalCount(text, &state)) {
            Enter(view, number, state);
        }
    } else if (TakeWord(head, "On stack ")) {
        if (ScanCount(text, &number) && Take(text, ", shifting token ")) {
            FollowNamedStack(view, number);
            ReadShift(view, number, text);
        }
    } else if (TakeWord(head, "Reduced stack ")) {
        ReadDeferredReduction(view, text);
    } else if (TakeWord(head, "Splitting off stack ")) {
        if (ScanCount(text, &number) && Take(text, " from ") && ScanCount(text, &other) &&
            number < kSplitStacksMax) {
            view.stacks[number] = KeptStack(view, other);
        }
    } else if (TakeWord(head, "Rename stack ")) {
        if (ScanCount(text, &number) && Take(text, " -> ") && ScanCount(text, &other) &&
            other < kSplitStacksMax) {
            view.stacks[other] = KeptStack(view, number);
            if (view.followed == number) view.followed = static_cast<uint8_t>(other);
        }
    } else if (TakeWord(head, "Merging stack ")) {
        // Stack N reached a state another stack holds: it is gone, and the
        // parse goes on in that one.
        if (ScanCount(text, &number) && Take(text, " into stack ") && ScanCount(text, &other) &&
            view.followed == number) {
            FollowNamedStack(view, other);
        }
    } else if (TakeWord(head, "Returning to deterministic operation.")) {
        FollowStack(view, 0);
    }
}

// A line's form is told by its first byte, and then by its first words.
void Interpret(ParserView& view, const TraceLine& line, uint32_t /*screen*/) {
    Head head{line.head,
              static_cast<std::size_t>(std::min<int64_t>(line.length, kLineHeadSize - 1))};
    uint32_t state = 0;
    uint32_t number = 0;
    // Older parsers write the read and the lookahead on one line.
    TakeWord(head, "Reading a token: ");
    const Head form = head;
    switch (*head.text) {
    case 'E':
        if (TakeWord(head, "Entering state ")) {
            if (ScanFinalCount(head.text, &state)) Enter(view, 0, state);
            return;
        }
        if (TakeWord(head, "Error: popping ")) PopState(view, 0, view.state);
        return;
    case 'S':
        if (TakeWord(head, "Stack now ")) return ReadStack(view, line, head.text);
        if (TakeWord(head, "Shifting token ")) {
            FollowStack(view, 0);
            return ReadShift(view, 0, head.text);
        }
        if (TakeWord(head, "Starting parse")) {
            view.stacks.fill(kUnknownStack);
            view.stacks[0] = kEmptyStack;
            FollowStack(view, 0);
            return AwaitPush(view, 0, 0);
        }
        break;
    case 'N':
        if (TakeWord(head, "Next token is token ")) return ReadToken(view, head.text, head.left);
        if (TakeWord(head, "Now at end of input.")) SetEndOfInput(view);
        return;
    case 'R':
        if (TakeWord(head, "Reducing stack ")) {
            // `Reducing stack by rule R (line L):`, or `Reducing stack N by ...`
            // in a GLR parser; the `$i = ` lines after it count the states it
            // pops. `Reducing stack -1 by ...` runs a deferred action on the
            // way back to one stack: it changes no stack.
            const char* text = head.text;
            if (!ScanCount(text, &number)) number = *text == '-' ? kSplitStacksMax : 0;
            if (number < kSplitStacksMax) AwaitPush(view, static_cast<uint8_t>(number), 0);
            return;
        }
        break;
    case ' ':
        if ((view.flags & kPushPending) != 0 && TakeWord(head, "   $")) ++view.pendingPops;
        return;
    case 'C':
        if (TakeWord(head, "Cleanup: popping ")) PopState(view, 0, view.state);
        return;
    case 'O':
    case 'M': break;
    // No other line is in a form of bison's.
    default: return;
    }
    // A GLR parser's lines about its stacks start with S, O, R or M.
    ReadGlrLine(view, form);
}

// ---- locations ----------------------------------------------------------------------------

// `L.C`, `L.C-E` or `L.C-L2.E`, and the `: ` after it, in a value `(LOC: VALUE)`;
// the C++ parser may write a file name and a colon first.
bool ReadLocation(const char* text, InputSpan* span) {
    const char* open = std::strstr(text, " (");
    if (open == nullptr) return false;
    const char* p = open + 2;
    const char* colon = std::strstr(p, ": ");
    if (colon == nullptr) return false;
    // A file name ends at the last colon before the numbers.
    for (const char* q = p; q < colon; ++q) {
        if (*q == ':') p = q + 1;
    }
    uint32_t first = 0;
    uint32_t second = 0;
    if (!ScanCount(p, &span->line) || !Take(p, ".") || !ScanCount(p, &span->column)) return false;
    span->endLine = span->line;
    span->endColumn = span->column;
    if (Take(p, "-")) {
        if (!ScanCount(p, &first)) return false;
        if (Take(p, ".")) {
            if (!ScanCount(p, &second)) return false;
            span->endLine = first;
            span->endColumn = second;
        } else {
            span->endColumn = first;
        }
    }
    return p == colon && span->line > 0;
}

SpanLine ReadSpan(const char* head, InputSpan* span) {
    const char* text = head;
    Take(text, "Reading a token: ");
    if (Take(text, "Next token is token ")) {
        *span = InputSpan{};
        ReadLocation(text, span);
        return SpanLine::kLookahead;
    }
    if (StartsWith(text, "Now at end of input.")) {
        *span = InputSpan{};
        return SpanLine::kLookahead;
    }
    if (Take(text, "-> $$ = nterm ") && ReadLocation(text, span)) return SpanLine::kResult;
    if (StartsWith(text, "Starting parse")) return SpanLine::kStart;
    return SpanLine::kNone;
}

// ---- the listing -------------------------------------------------------------------------

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

const char* SkipBlanks(const char* text) {
    while (IsBlank(*text)) ++text;
    return text;
}

// The word a listing writes before a state's number, a blank after it, once
// learned from its first state's header ("" until then).
constexpr std::size_t kStateWordSize = 64;
std::array<char, kStateWordSize> szStateWord{};
bool afterStartRule = false;  // the start rule seen: the state word may come

// A line that is exactly `<word>N`, blanks or a carriage return allowed after.
bool IsNumberedHeader(const char* line, const char* word, uint32_t* number) {
    constexpr int kDigitsMax = 9;
    const std::size_t wordLength = std::strlen(word);
    if (std::strncmp(line, word, wordLength) != 0) return false;
    uint32_t value = 0;
    int digits = 0;
    const char* p = line + wordLength;
    for (; IsDigit(*p); ++p, ++digits) {
        if (digits == kDigitsMax) return false;
        value = value * 10 + static_cast<uint32_t>(*p - '0');
    }
    if (digits == 0 || *SkipBlanks(p) != '\0') return false;
    *number = value;
    return true;
}

// After bison's start rule, the first line `<word> 0` is the header of state
// 0 in the listing's language; `<word>` is learned for the headers after it.
void LearnStateWord(const char* line) {
    const char* blank = std::strchr(line, ' ');
    if (blank == nullptr || blank == line || blank[1] != '0') return;
    for (const char* p = line; p < blank; ++p) {
        if (IsBlank(*p)) return;
    }
    const std::size_t length = static_cast<std::size_t>(blank - line) + 1;
    if (length >= szStateWord.size() || *SkipBlanks(blank + 2) != '\0') return;
    std::memcpy(szStateWord.data(), line, length);
    szStateWord[length] = '\0';
}

bool IsHeader(const char* piece, uint32_t* number) {
    if (afterStartRule && szStateWord[0] == '\0') LearnStateWord(piece);
    return IsNumberedHeader(piece, "State ", number) ||
           (szStateWord[0] != '\0' && IsNumberedHeader(piece, szStateWord.data(), number));
}

bool MayMatter(unsigned char first) {
    return first == 'S' || first == static_cast<unsigned char>(szStateWord[0]);
}

// bison's rule 0 as its grammar writes it, `    0 $accept: program $end`,
// which is never translated (byacc and kwt's own write `$accept :`).
bool IsStartRule(const char* line) {
    const char* p = SkipBlanks(line);
    if (p[0] != '0' || !IsBlank(p[1])) return false;
    return StartsWith(SkipBlanks(p + 1), "$accept:");
}

// The `Terminals, with rules where they appear` section lists every
// terminal under the name its trace uses, with its number:
// `    NUMBER <value> (258) 20`, `    '+' (43) 7`, `    "==" (261) 12`.
bool IsLine(const char* line, const char* text) {
    const std::size_t length = std::strlen(text);
    if (std::strncmp(line, text, length) != 0) return false;
    return *SkipBlanks(line + length) == '\0';
}

void ReadTerminal(const char* line) {
    if (line[0] != ' ') return;
    const char* name = line;
    while (*name == ' ') ++name;
    const char* p = SkipSymbolName(name);
    const std::size_t length = static_cast<std::size_t>(p - name);
    if (length == 0) return;
    while (*p == ' ') ++p;
    if (*p == '<') {
        p = std::strchr(p, '>');
        if (p == nullptr) return;
        for (++p; *p == ' '; ++p) {}
    }
    int32_t number = 0;
    if (*p != '(' || !ScanInt32(++p, &number) || *p != ')') return;
    AddSymbol(name, length, number);
}

// Where the terminals are, before the first state: after the English heading
// up to the nonterminals' heading, and in any language the section that the
// first heading after the grammar opens, up to the next heading.
struct TerminalSection {
    bool inside = false;
    bool toNextHeading = false;
    bool afterGrammar = false;  // the start rule seen, no heading since
    void Note(const char* line) {
        const bool heading = line[0] != '\0' && !IsBlank(line[0]);
        if (inside) {
            if (IsLine(line, "Nonterminals, with rules where they appear") ||
                (toNextHeading && heading)) {
                inside = false;
            } else {
                ReadTerminal(line);
            }
        } else if (line[0] == 'T' && IsLine(line, "Terminals, with rules where they appear")) {
            inside = true;
            toNextHeading = false;
        } else if (afterGrammar && heading) {
            inside = true;
            toNextHeading = true;
        }
        if (heading) afterGrammar = false;
    }
};

TerminalSection terminals;

void NoteBeforeStates(const char* piece, const char* text) {
    terminals.Note(piece);
    if (IsStartRule(text)) afterStartRule = terminals.afterGrammar = true;
}

void Forget() {
    szStateWord[0] = '\0';
    afterStartRule = false;
    terminals = TerminalSection{};
}

// ---- the token header --------------------------------------------------------------------

// An enum entry alone on its line: `NAME = NUMBER`, a comma or not, and
// nothing after it but a `/* */` or `//` comment.
bool ReadEnumEntry(const char* text, const char** name, std::size_t* length, int32_t* number) {
    while (std::isspace(static_cast<unsigned char>(*text)) != 0) ++text;
    if (!IsIdentifierStart(*text)) return false;
    *name = text;
    while (IsIdentifierPart(*text)) ++text;
    *length = static_cast<std::size_t>(text - *name);
    while (std::isspace(static_cast<unsigned char>(*text)) != 0) ++text;
    if (*text++ != '=' || !ScanInt32(text, number)) return false;
    while (std::isspace(static_cast<unsigned char>(*text)) != 0) ++text;
    if (*text == ',') ++text;
    while (std::isspace(static_cast<unsigned char>(*text)) != 0) ++text;
    return *text == '\0' || std::strncmp(text, "/*", 2) == 0 || std::strncmp(text, "//", 2) == 0;
}

}  // namespace

const Kind kKindBison{
    "bison",
    {Recognise, FirstViewWithStack, Interpret, IsYaccErrorLine, "rror", "RROR", true, false, false,
     ReadSpan},
    {IsHeader, MayMatter, false, NoteBeforeStates, nullptr, nullptr, ParseYaccItem, nullptr,
     Forget},
    ReadEnumEntry,
};

// lemon's files. Its parser writes every trace line after a prefix the
// program chose (`ParseTrace(stderr, "parser: ")`, any text or none), names
// symbols rather than numbering them (`Input 'PLUS' in state 11`, `Return.
// Stack=[stmts IDENT ASSIGN]`), and may shift a symbol with a reduction
// pending, which leaves the parser in no numbered state until the `Reduce`
// line. Its listing opens a state's block with `State N:` and ends the
// states with a line of dashes; an item's dot is a standalone `*`.
#include <algorithm>
#include <cstring>

#include "kinds.h"

namespace {

// ---- the trace lines ---------------------------------------------------------------------

enum class Form {
    kNone,
    kInput,         // Input 'X' in state N
    kInputPending,  // Input 'X' with pending reduce R
    kShift,         // Shift 'X', go to state N
    kShiftPending,  // Shift 'X', pending reduce R
    kGoto,          // ... then shift 'X', go to state N
    kGotoPending,   // ... then shift 'X', pending reduce R (-2: accept)
    kReduce,        // Reduce R [L ::= s1 .. sk][ without external action], pop back to state N.
    kReduceEmpty,   // Reduce R [L ::=][ without external action].
    kStackGrows,    // Stack grows from A to B entries.
    kPopping,       // Popping X
    kAccept,        // Accept!
    kSyntaxError,   // Syntax Error!
    kDropToken,     // Discard input token X, Fail!, Stack Overflow!: no lookahead after it
    kReturn,        // Return. Stack=[s1 .. sk] or Return. Stack=]
};

// The text of a line after its prefix: the bytes up to `end` may all be
// read, and a zero ends the text, at `end` or before it. Every line is read,
// so its forms are compared whole against the bytes left, which costs no
// call (a zero differs from every form's bytes); what is scanned stops at
// the zero. Nothing moves `at` past the zero.
struct Words {
    const char* at = nullptr;
    const char* end = nullptr;
    std::size_t Left() const { return static_cast<std::size_t>(end - at); }
};

// What a line says, after its prefix.
struct Line {
    Form form = Form::kNone;
    const char* name = nullptr;  // the symbol it names
    std::size_t length = 0;
    uint32_t number = 0;   // the state it names
    uint32_t symbols = 0;  // the symbols a reduction takes off
    Words rest;            // what follows `Return. Stack=`
};

Words WordsOf(const char* text) { return {text, text + std::strlen(text)}; }

// The listing's lines are read by the same names, as zero-ended texts.
using ::StartsWith;
using ::Take;

template <std::size_t N>
bool StartsWith(const Words& words, const char (&word)[N]) {
    return words.Left() >= N - 1 && std::memcmp(words.at, word, N - 1) == 0;
}

// Moves past `word` where the words start with it.
template <std::size_t N>
bool Take(Words& words, const char (&word)[N]) {
    if (!StartsWith(words, word)) return false;
    words.at += N - 1;
    return true;
}

bool AtLineEnd(const char* text) {
    while (*text == ' ' || *text == '\t' || *text == '\r') ++text;
    return *text == '\0';
}

bool AtLineEnd(const Words& words) { return AtLineEnd(words.at); }

// A count that ends the line.
bool TakeFinalCount(Words& words, uint32_t* value) {
    return ScanCount(words.at, value) && AtLineEnd(words);
}

// A rule's number that ends the line; -2 stands for the accepting one.
bool TakeFinalRule(Words& words) {
    uint32_t rule = 0;
    Take(words, "-");
    return TakeFinalCount(words, &rule);
}

// `'X'`: the name runs to the next quote.
bool TakeQuotedName(Words& words, Line& line) {
    if (*words.at != '\'') return false;
    const char* name = words.at + 1;
    const char* end = name;
    while (*end != '\'' && *end != '\0') ++end;
    if (*end != '\'' || end == name) return false;
    line.name = name;
    line.length = static_cast<std::size_t>(end - name);
    words.at = end + 1;
    return true;
}

// `go to state N` or `pending reduce R` to the end of the line.
bool TakeTarget(Words& words, Form going, Form pending, Line& line) {
    if (Take(words, "go to state ")) {
        line.form = going;
        return TakeFinalCount(words, &line.number);
    }
    line.form = pending;
    return Take(words, "pending reduce ") && TakeFinalRule(words);
}

// `[L ::= s1 .. sk]`: counts the symbols of the right side.
bool TakeRule(Words& words, Line& line) {
    if (*words.at != '[') return false;
    const auto ends = [](const char* p) { return *p == ']' || *p == '\0'; };
    const char* p = words.at + 1;
    while (!ends(p) && !(p[0] == ':' && p[1] == ':' && p[2] == '=')) ++p;
    if (ends(p)) return false;
    line.symbols = 0;
    for (p += 3; !ends(p);) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        ++line.symbols;
        while (!ends(p) && *p != ' ') ++p;
    }
    if (*p != ']') return false;
    words.at = p + 1;
    return true;
}

// `R [rule][ without external action]` and what follows it.
bool ReadReduce(Words& words, Line& line) {
    uint32_t rule = 0;
    if (!ScanCount(words.at, &rule) || !Take(words, " ") || !TakeRule(words, line)) return false;
    Take(words, " without external action");
    if (Take(words, ", pop back to state ")) {
        line.form = Form::kReduce;
        return ScanCount(words.at, &line.number) && Take(words, ".") && AtLineEnd(words);
    }
    line.form = Form::kReduceEmpty;
    return Take(words, ".") && AtLineEnd(words);
}

bool ReadStackGrows(Words& words, Line& line) {
    uint32_t from = 0;
    uint32_t to = 0;
    line.form = Form::kStackGrows;
    return ScanCount(words.at, &from) && Take(words, " to ") && ScanCount(words.at, &to) &&
           Take(words, " entries.") && AtLineEnd(words);
}

bool ReadInput(Words& words, Line& line) {
    if (!Take(words, "Input ") || !TakeQuotedName(words, line)) return false;
    if (Take(words, " in state ")) {
        line.form = Form::kInput;
        return TakeFinalCount(words, &line.number);
    }
    line.form = Form::kInputPending;
    return Take(words, " with pending reduce ") && TakeFinalRule(words);
}

bool ReadShift(Words& words, Line& line) {
    return TakeQuotedName(words, line) && Take(words, ", ") &&
           TakeTarget(words, Form::kShift, Form::kShiftPending, line);
}

bool ReadGoto(Words& words, Line& line) {
    return TakeQuotedName(words, line) && Take(words, ", ") &&
           TakeTarget(words, Form::kGoto, Form::kGotoPending, line);
}

// The forms only lemon writes, which tell a trace's kind and its prefix.
bool ReadTellingForm(Words words, Line& line) {
    switch (*words.at) {
    case 'I': return ReadInput(words, line);
    case 'S':
        if (Take(words, "Shift ")) return ReadShift(words, line);
        return Take(words, "Stack grows from ") && ReadStackGrows(words, line);
    case '.': return Take(words, "... then shift ") && ReadGoto(words, line);
    case 'R': return Take(words, "Reduce ") && ReadReduce(words, line);
    default: return false;
    }
}

// Whether the line names the symbol `name`.
bool Names(const Line& line, const char* name) {
    return line.length == std::strlen(name) && std::strncmp(line.name, name, line.length) == 0;
}

// The other forms, which a program might also write.
Form OtherForm(Words words, Line& line) {
    switch (*words.at) {
    case 'P':
        if (!Take(words, "Popping ")) return Form::kNone;
        line.name = words.at;
        line.length = std::strcspn(words.at, " \t\r");
        return Form::kPopping;
    case 'A': return StartsWith(words, "Accept!") ? Form::kAccept : Form::kNone;
    case 'S':
        if (StartsWith(words, "Syntax Error!")) return Form::kSyntaxError;
        return StartsWith(words, "Stack Overflow!") ? Form::kDropToken : Form::kNone;
    case 'D':
    case 'F':
        if (StartsWith(words, "Discard input token ") || StartsWith(words, "Fail!")) {
            return Form::kDropToken;
        }
        return Form::kNone;
    case 'R':
        if (!Take(words, "Return. Stack=")) return Form::kNone;
        line.rest = words;
        return Form::kReturn;
    default: return Form::kNone;
    }
}

// What the words say: a form of either kind, or none.
bool ReadLine(const Words& words, Line& line) {
    if (ReadTellingForm(words, line)) return true;
    line = Line{};
    line.form = OtherForm(words, line);
    return line.form != Form::kNone;
}

// ---- the stack a Return line lists -------------------------------------------------------

// A whole line lists no more entries than this.
constexpr uint32_t kWrittenDepthMax = kLineHeadSize / 2;

// The names of the stack last written out, as a `Return` list writes them
// (`s1 s2 .. sk`, above state 0's entry). A parser changes its stack at the
// top, so the next stack is written again only above the entries the two
// share: the pool reuses an entry only when it collects, so until then the
// same entry stands for the same names.
struct WrittenStack {
    uint32_t collections = 0;  // StackCollections() when written
    uint32_t depth = 0;        // 0: none written
    std::array<StackHandle, kWrittenDepthMax> entries{};
    std::array<uint16_t, kWrittenDepthMax> ends{};  // where each entry's name ends in text
    std::array<char, kLineHeadSize + kTokenNameSize> text{};
};
WrittenStack written;

// Writes out the names of `stack`, `depth` entries deep; false where an
// entry has no name the table holds whole, or the entries skip a depth.
bool WriteStack(StackHandle stack, uint32_t depth) {
    const bool sameEntries = written.depth > 0 && written.collections == StackCollections();
    uint32_t shared = depth;  // the entries below this depth are written already
    for (StackHandle entry = stack; shared > 0; entry = StackBelow(entry)) {
        const uint32_t at = shared - 1;
        if (sameEntries && at < written.depth && written.entries[at] == entry) break;
        if (StackEntryDepth(entry) != at) {
            written.depth = 0;
            return false;
        }
        written.entries[at] = entry;
        --shared;
    }
    written.depth = 0;
    std::size_t end = shared > 1 ? written.ends[shared - 1] : 0;
    written.ends[0] = 0;
    for (uint32_t at = std::max(shared, 1u); at < depth; ++at) {
        if (at > 1) written.text[end++] = ' ';
        const std::size_t length =
            WriteTraceTokenName(StackSymbol(written.entries[at]), written.text.data() + end);
        end += length;
        if (length == 0 || end > kLineHeadSize) return false;
        written.ends[at] = static_cast<uint16_t>(end);
    }
    written.depth = depth;
    written.collections = StackCollections();
    return true;
}

// ---- the prefix --------------------------------------------------------------------------

constexpr std::size_t kPrefixSize = 256;
std::array<char, kPrefixSize> szPrefix{};
std::size_t prefixLength = 0;

// The words of `trace` after the prefix; false for a line without it: the
// program's own. The head holds the line's first bytes up to its size (a
// zero among them ends the text, and differs from every byte of the prefix).
bool AfterPrefix(const TraceLine& trace, Words* words) {
    const auto length =
        static_cast<std::size_t>(std::min<int64_t>(trace.length, kLineHeadSize - 1));
    if (length < prefixLength) return false;
    if (std::memcmp(trace.head, szPrefix.data(), prefixLength) != 0) return false;
    *words = {trace.head + prefixLength, trace.head + length};
    return true;
}

// A line in a form only lemon writes, after any text: that text is the
// prefix of every line of the trace.
bool Recognise(const char* line) {
    for (const char* key : {"Input '", "Shift '", "... then shift '", "Reduce ", "Stack grows "}) {
        const char* at = std::strstr(line, key);
        Line read;
        if (at == nullptr || !ReadTellingForm(WordsOf(at), read)) continue;
        const auto length = static_cast<std::size_t>(at - line);
        if (length >= kPrefixSize) return false;
        std::memcpy(szPrefix.data(), line, length);
        szPrefix[length] = '\0';
        prefixLength = length;
        written.depth = 0;
        return true;
    }
    return false;
}

// ---- the view ----------------------------------------------------------------------------

// The state of the top entry that has one: the parser's, where the top
// entry waits for its reduction.
uint32_t NumberedTop(StackHandle stack) {
    while (StackDepth(stack) > 0 && StackState(stack) == kNoStateEntry) stack = StackBelow(stack);
    return StackDepth(stack) > 0 ? StackState(stack) : kUnknownEntry;
}

// The stack of a parser that starts: state 0 alone.
StackHandle StartStack() { return StackPush(kEmptyStack, 0); }

ParserView StartView() {
    ParserView view;
    view.tokenName = kNoTokenName;
    view.stacks[0] = StartStack();
    view.flags = kNewErrorAllowed;
    return view;
}

void DropToken(ParserView& view) {
    view.token = 0;
    view.tokenName = kNoTokenName;
}

// The lookahead the line names: `$` is the end of input, token 0. The trace
// names every token it reads, so the number of another is not looked up
// (with `%token_prefix` the header names it otherwise).
void ReadToken(ParserView& view, const Line& line) {
    SetToken(view, Names(line, "$") ? 0 : view.token, line.name, line.length);
}

// The stack holds what the trace says it is at its top, or is not known.
void ExpectTop(StackHandle& stack, uint32_t state) {
    if (StackState(stack) != state) stack = kUnknownStack;
}

void Push(ParserView& view, const Line& line, uint32_t state) {
    StackHandle& stack = view.stacks[0];
    stack = StackPush(stack, state, NameIndex(line.name, line.length));
    if (state != kNoStateEntry) MoveTo(view, state);
}

void Pop(ParserView& view, uint32_t count) {
    StackHandle& stack = view.stacks[0];
    stack = StackPop(stack, count);
    const uint32_t top = NumberedTop(stack);
    if (top != kUnknownEntry) MoveTo(view, top);
}

// `Return. Stack=[s1 .. sk]`: the symbols above state 0's entry, bottom
// first. A stack that holds others is not what kwt took it for.

// The stack's symbols by depth, state 0's entry first.
std::array<uint16_t, kStackDepthMax> stackSymbols{};

// Whether `list`, `s1 .. sk]` (its `[` passed), names the stack's symbols,
// name by name as the file gives them: a list longer than a line's head, or
// one with a name the table keeps only the start of.
bool ListsStackByName(StackHandle stack, const TraceLine& trace, const char* list) {
    const uint32_t depth = StackSymbols(stack, stackSymbols);
    uint32_t index = 1;  // the next symbol to meet; state 0's entry names none
    std::array<char, kTokenNameSize> name{};
    std::size_t length = 0;
    bool same = true;
    bool ended = false;
    FeedRestOfLine(trace, list, [&](const char* bytes, std::size_t count) {
        for (std::size_t i = 0; i < count && same && !ended; ++i) {
            if (bytes[i] != ' ' && bytes[i] != ']') {
                if (length < name.size() - 1) name[length++] = bytes[i];
                continue;
            }
            if (length > 0) {
                same = index < depth && IsTraceTokenName(stackSymbols[index], name.data(), length);
                ++index;
                length = 0;
            }
            ended = bytes[i] == ']';
        }
        return same && !ended;
    });
    return same && ended && index == depth;
}

// The same for a list the head holds whole: against the stack's names
// written out.
bool ListsStack(StackHandle stack, const TraceLine& trace, const Words& list) {
    // The list ends the line: its `]` is the last byte before the blanks
    // that may follow. A zero in the list differs from every name's bytes.
    const char* close = list.end;
    while (close > list.at && (close[-1] == ' ' || close[-1] == '\t' || close[-1] == '\r')) --close;
    if (close == list.at || *--close != ']') return false;
    const uint32_t depth = StackDepth(stack);
    if (depth > kWrittenDepthMax) return false;
    if (!WriteStack(stack, depth)) return ListsStackByName(stack, trace, list.at);
    const std::size_t length = written.ends[depth - 1];
    return length == static_cast<std::size_t>(close - list.at) &&
           std::memcmp(written.text.data(), list.at, length) == 0;
}

void CheckStack(ParserView& view, const TraceLine& trace, Words list) {
    StackHandle& stack = view.stacks[0];
    if (StackDepth(stack) == 0) return;
    Take(list, "[");
    const bool whole = static_cast<int64_t>(list.end - trace.head) == trace.length;
    const bool same =
        whole ? ListsStack(stack, trace, list) : ListsStackByName(stack, trace, list.at);
    if (!same) stack = kUnknownStack;
}

void Interpret(ParserView& view, const TraceLine& trace, uint32_t /*screen*/) {
    Words words;
    Line line;
    if (!AfterPrefix(trace, &words) || !ReadLine(words, line)) return;
    StackHandle& stack = view.stacks[0];
    switch (line.form) {
    case Form::kInput:
        ReadToken(view, line);
        MoveTo(view, line.number);
        if (line.number == 0) {
            // A parse starts here, or the parser came back to its first state.
            if (StackDepth(stack) != 1 || StackState(stack) != 0) stack = StartStack();
        } else {
            ExpectTop(stack, line.number);
        }
        break;
    case Form::kInputPending: ReadToken(view, line); break;
    case Form::kShift:
    case Form::kShiftPending:
        Push(view, line, line.form == Form::kShift ? line.number : kNoStateEntry);
        // A real token is taken: the lookahead is gone, and an error after it is a new one.
        if (!Names(line, "error")) {
            DropToken(view);
            view.flags = static_cast<uint8_t>(view.flags | kNewErrorAllowed);
        }
        break;
    case Form::kGoto: Push(view, line, line.number); break;
    case Form::kGotoPending: Push(view, line, kNoStateEntry); break;
    case Form::kReduce:
        Pop(view, line.symbols);
        ExpectTop(stack, line.number);
        MoveTo(view, line.number);
        break;
    case Form::kPopping:
        if (!IsTraceTokenName(StackSymbol(stack), line.name, line.length)) stack = kUnknownStack;
        Pop(view, 1);
        break;
    case Form::kAccept:
        Pop(view, 1);
        DropToken(view);
        break;
    case Form::kDropToken: DropToken(view); break;
    case Form::kReturn: CheckStack(view, trace, line.rest); break;
    default: break;
    }
}

bool IsErrorLine(const TraceLine& trace) {
    // Most lines differ in the two bytes after the prefix, which the head
    // holds (or its zero) where the line is longer than the prefix.
    const char* form = trace.head + prefixLength;
    if (trace.length <= static_cast<int64_t>(prefixLength) || form[0] != 'S' || form[1] != 'y') {
        return false;
    }
    Words words;
    return AfterPrefix(trace, &words) && StartsWith(words, "Syntax Error!");
}

// ---- the listing -------------------------------------------------------------------------

// `State N:`, blanks or a carriage return allowed after.
bool IsHeader(const char* piece, uint32_t* number) {
    const char* text = piece;
    return Take(text, "State ") && ScanCount(text, number) && Take(text, ":") && AtLineEnd(text);
}

bool MayMatter(unsigned char first) { return first == 'S' || first == '-'; }

// The line of dashes before the symbols and rules.
bool EndsStates(const char* piece) {
    constexpr std::size_t kLeastDashes = 20;
    const std::size_t dashes = std::strspn(piece, "-");
    return dashes >= kLeastDashes && AtLineEnd(piece + dashes);
}

// `     (11) program ::= stmts *`, `          stmts ::= stmts * stmt`: a rule
// number in parentheses where the item is complete, the left side, `::=`,
// and the right side's symbols with the dot among them.
bool ParseItem(const char* line, const char** symbol, std::size_t* length) {
    const char* p = line;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '(') {
        p = std::strchr(p, ')');
        if (p == nullptr) return false;
        for (++p; *p == ' ';) ++p;
    }
    const char* left = p;
    while (IsIdentifierPart(*p)) ++p;
    if (p == left || !Take(p, " ::=")) return false;
    *symbol = p;
    *length = 0;
    for (;;) {
        while (*p == ' ') ++p;
        if (*p == '\0' || *p == '\r') return false;
        const char* end = p;
        while (*end != '\0' && *end != ' ' && *end != '\r') ++end;
        if (end - p == 1 && *p == '*') return true;
        *symbol = p;
        *length = static_cast<std::size_t>(end - p);
        p = end;
    }
}

}  // namespace

const Kind kKindLemon{
    "lemon",
    {Recognise, StartView, Interpret, IsErrorLine, "rror", nullptr, true, false, false, nullptr},
    {IsHeader, MayMatter, false, nullptr, nullptr, nullptr, ParseItem, EndsStates, nullptr},
    nullptr,
};

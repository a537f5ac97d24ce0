// lemon's files. Its parser writes every trace line after a prefix the
// program chose (`ParseTrace(stderr, "parser: ")`, any text or none), names
// symbols rather than numbering them (`Input 'PLUS' in state 11`, `Return.
// Stack=[stmts IDENT ASSIGN]`), and may shift a symbol with a reduction
// pending, which leaves the parser in no numbered state until the `Reduce`
// line. Its listing opens a state's block with `State N:` and ends the
// states with a line of dashes; an item's dot is a standalone `*`.
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

// What a line says, after its prefix.
struct Line {
    Form form = Form::kNone;
    const char* name = nullptr;  // the symbol it names
    std::size_t length = 0;
    uint32_t number = 0;   // the state it names
    uint32_t symbols = 0;  // the symbols a reduction takes off
    const char* rest = nullptr;
};

bool AtLineEnd(const char* text) {
    while (*text == ' ' || *text == '\t' || *text == '\r') ++text;
    return *text == '\0';
}

// `'X'`: the name runs to the first quote.
bool TakeQuotedName(const char*& text, Line& line) {
    if (*text != '\'') return false;
    const char* end = std::strchr(text + 1, '\'');
    if (end == nullptr || end == text + 1) return false;
    line.name = text + 1;
    line.length = static_cast<std::size_t>(end - line.name);
    text = end + 1;
    return true;
}

// `go to state N` or `pending reduce R` to the end of the line.
bool TakeTarget(const char* text, Form going, Form pending, Line& line) {
    if (Take(text, "go to state ") && ScanFinalCount(text, &line.number)) {
        line.form = going;
        return true;
    }
    int32_t rule = 0;
    if (!Take(text, "pending reduce ") || !ScanInt32(text, &rule) || !AtLineEnd(text)) return false;
    line.form = pending;
    return true;
}

// `[L ::= s1 .. sk]`: counts the symbols of the right side.
bool TakeRule(const char*& text, Line& line) {
    if (*text != '[') return false;
    const char* end = std::strchr(text, ']');
    const char* arrow = std::strstr(text, "::=");
    if (end == nullptr || arrow == nullptr || arrow > end) return false;
    line.symbols = 0;
    for (const char* p = arrow + 3; p < end;) {
        while (p < end && *p == ' ') ++p;
        if (p == end) break;
        ++line.symbols;
        while (p < end && *p != ' ') ++p;
    }
    text = end + 1;
    return true;
}

// `R [rule][ without external action]` and what follows it.
bool ReadReduce(const char* text, Line& line) {
    uint32_t rule = 0;
    if (!ScanCount(text, &rule) || *text++ != ' ' || !TakeRule(text, line)) return false;
    Take(text, " without external action");
    if (Take(text, ", pop back to state ")) {
        uint32_t state = 0;
        if (!ScanCount(text, &state) || !Take(text, ".") || !AtLineEnd(text)) return false;
        line.number = state;
        line.form = Form::kReduce;
        return true;
    }
    line.form = Form::kReduceEmpty;
    return Take(text, ".") && AtLineEnd(text);
}

bool ReadStackGrows(const char* text, Line& line) {
    uint32_t from = 0;
    uint32_t to = 0;
    if (!ScanCount(text, &from) || !Take(text, " to ") || !ScanCount(text, &to) ||
        !Take(text, " entries.") || !AtLineEnd(text)) {
        return false;
    }
    line.form = Form::kStackGrows;
    return true;
}

// The forms only lemon writes, which tell a trace's kind and its prefix.
bool ReadTellingForm(const char* text, Line& line) {
    switch (text[0]) {
    case 'I': {
        if (!Take(text, "Input ") || !TakeQuotedName(text, line)) return false;
        if (Take(text, " in state ")) {
            line.form = Form::kInput;
            return ScanFinalCount(text, &line.number);
        }
        line.form = Form::kInputPending;
        int32_t rule = 0;
        return Take(text, " with pending reduce ") && ScanInt32(text, &rule) && AtLineEnd(text);
    }
    case 'S':
        if (Take(text, "Shift ")) {
            return TakeQuotedName(text, line) && Take(text, ", ") &&
                   TakeTarget(text, Form::kShift, Form::kShiftPending, line);
        }
        return Take(text, "Stack grows from ") && ReadStackGrows(text, line);
    case '.':
        return Take(text, "... then shift ") && TakeQuotedName(text, line) && Take(text, ", ") &&
               TakeTarget(text, Form::kGoto, Form::kGotoPending, line);
    case 'R': return Take(text, "Reduce ") && ReadReduce(text, line);
    default: return false;
    }
}

// Whether the line names the symbol `name`.
bool Names(const Line& line, const char* name) {
    return line.length == std::strlen(name) && std::strncmp(line.name, name, line.length) == 0;
}

// The other forms, which a program might also write.
bool ReadOtherForm(const char* text, Line& line) {
    switch (text[0]) {
    case 'P':
        if (Take(text, "Popping ")) {
            line.form = Form::kPopping;
            line.name = text;
            line.length = std::strcspn(text, " \t\r");
        }
        break;
    case 'A':
        if (StartsWith(text, "Accept!")) line.form = Form::kAccept;
        break;
    case 'S':
        if (StartsWith(text, "Syntax Error!")) line.form = Form::kSyntaxError;
        if (StartsWith(text, "Stack Overflow!")) line.form = Form::kDropToken;
        break;
    case 'D':
    case 'F':
        if (StartsWith(text, "Discard input token ") || StartsWith(text, "Fail!")) {
            line.form = Form::kDropToken;
        }
        break;
    case 'R':
        if (Take(text, "Return. Stack=")) {
            line.form = Form::kReturn;
            line.rest = text;
        }
        break;
    default: break;
    }
    return line.form != Form::kNone;
}

// ---- the prefix --------------------------------------------------------------------------

constexpr std::size_t kPrefixSize = 256;
std::array<char, kPrefixSize> szPrefix{};
std::size_t prefixLength = 0;

// The text after the prefix, or null for a line without it: the program's own.
const char* AfterPrefix(const char* line) {
    return std::strncmp(line, szPrefix.data(), prefixLength) == 0 ? line + prefixLength : nullptr;
}

// A line in a form only lemon writes, after any text: that text is the
// prefix of every line of the trace.
bool Recognise(const char* line) {
    for (const char* key : {"Input '", "Shift '", "... then shift '", "Reduce ", "Stack grows "}) {
        const char* at = std::strstr(line, key);
        Line read;
        if (at == nullptr || !ReadTellingForm(at, read)) continue;
        const auto length = static_cast<std::size_t>(at - line);
        if (length >= kPrefixSize) return false;
        std::memcpy(szPrefix.data(), line, length);
        szPrefix[length] = '\0';
        prefixLength = length;
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

// Whether `list`, `s1 .. sk]` (its `[` passed) and whole, names the
// stack's symbols: read from its end, as the stack from its top.
bool ListsStack(StackHandle stack, const char* list) {
    const char* end = std::strchr(list, ']');
    if (end == nullptr || !AtLineEnd(end + 1)) return false;
    bool more = end > list;
    for (; StackDepth(stack) > 1; stack = StackBelow(stack)) {
        const char* start = end;
        while (start > list && start[-1] != ' ') --start;
        const auto length = static_cast<std::size_t>(end - start);
        if (!more || length == 0 || !IsTraceTokenName(StackSymbol(stack), start, length)) {
            return false;
        }
        more = start > list;
        end = more ? start - 1 : list;
    }
    return !more;
}

// The same, for a list longer than a line's head: read from the file, from
// its start, against the stack's symbols by depth.
std::array<uint16_t, kStackDepthMax> stackSymbols{};

bool ListsStackAtLength(StackHandle stack, const TraceLine& trace, const char* list) {
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

void CheckStack(ParserView& view, const TraceLine& trace, const char* list) {
    StackHandle& stack = view.stacks[0];
    if (StackDepth(stack) == 0) return;
    if (*list == '[') ++list;
    const bool whole = static_cast<int64_t>(std::strlen(trace.head)) == trace.length;
    const bool same = whole ? ListsStack(stack, list) : ListsStackAtLength(stack, trace, list);
    if (!same) stack = kUnknownStack;
}

void Interpret(ParserView& view, const TraceLine& trace, uint32_t /*screen*/) {
    const char* text = AfterPrefix(trace.head);
    Line line;
    if (text == nullptr || (!ReadTellingForm(text, line) && !ReadOtherForm(text, line))) return;
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

bool IsErrorLine(const char* head) {
    const char* text = AfterPrefix(head);
    return text != nullptr && text[0] == 'S' && StartsWith(text, "Syntax Error!");
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

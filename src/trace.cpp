// The parser's debug trace: read one line per step; the lines that name a
// parser state move the display to that state, and the lines that name the
// lookahead token set it.
//
// Three kinds of trace are read as they stand: kwt's own (`at state S, next
// token T`), byacc's (`yydebug[D]: state S, ...`) and bison's (`Entering
// state N`). OpenTrace tells the kind from the first lines that only one kind
// writes; each line is then read by that kind's forms alone.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "kwt.h"

TextFile* pfileTrace = nullptr;
TextLine szTrace{};
int32_t nToken = 0;
std::array<char, kTokenNameSize> szToken{};
uint32_t nCurrentState = 0;

namespace {

enum class TraceKind { kOwn, kByacc, kBison };

// What a kind of trace means by the states it names.
struct TraceRules {
    TraceKind kind;
    // In byacc and bison traces state 0 is a real state (the first token is
    // read there, error recovery can return to it); kwt's own never enters it.
    int32_t lowestState;
    // kwt's own format counts a line naming the shown state as a change (the
    // return state becomes that state); the generators name each state more
    // than once, so there such a line changes nothing.
    bool sameStateIsChange;
};

constexpr TraceRules kOwnRules{TraceKind::kOwn, 1, true};
constexpr TraceRules kByaccRules{TraceKind::kByacc, 0, false};
constexpr TraceRules kBisonRules{TraceKind::kBison, 0, false};

// The first lines looked at to tell the kind; all within the text file's
// first read, so that going back to the start needs no seek of the stream.
constexpr int kKindProbeLines = 1000;
constexpr int64_t kKindProbeBytes = int64_t{32} * 1024;

constexpr char kEndOfInput[] = "$end";
// What a byacc or bison trace shows before the parser has read a token.
constexpr char kNoTokenYet[] = "(none)";

TraceRules rules = kOwnRules;
// Whether the piece in szTrace starts and ends a line of the file; a long
// line arrives in 80-character pieces, and a number cut at a piece's end is
// no number.
bool pieceStartsLine = true;
bool pieceEndsLine = true;
// The offset just after the last piece read.
int64_t lastPieceEnd = 0;

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

// A number that ends the line: only trusted when the line was read whole.
bool ScanFinalNumber(const char* text, int32_t* value) {
    if (!pieceEndsLine || !ScanInt32(text, value)) return false;
    while (*text == ' ' || *text == '\t' || *text == '\r') ++text;
    return *text == '\0';
}

void EnterState(int32_t state) {
    nCurrentState = nState;
    nState = static_cast<uint32_t>(state);
    LoadLRT();
}

// Moves the display to a state the trace names, when it is a known state.
void ShowNamedState(int32_t state) {
    if (state < rules.lowestState || static_cast<uint32_t>(state) >= nStates) return;
    if (static_cast<uint32_t>(state) == nState && !rules.sameStateIsChange) return;
    EnterState(state);
}

void SetToken(int32_t number, const char* name, std::size_t length) {
    nToken = number;
    if (length > szToken.size() - 1) length = szToken.size() - 1;
    std::memcpy(szToken.data(), name, length);
    szToken[length] = '\0';
}

void SetEndOfInput() { SetToken(0, kEndOfInput, sizeof kEndOfInput - 1); }

bool IsEndOfInputName(const char* name, std::size_t length) {
    for (const char* end : {"$end", "end-of-file", "\"end of file\"", "end of file"}) {
        if (std::strlen(end) == length && std::strncmp(name, end, length) == 0) return true;
    }
    return false;
}

// ---- kwt's own format ------------------------------------------------------

void ParseOwnLine(const char* line) {
    int32_t state = 0;
    int32_t token = 0;
    if (ScanTwoNumbers(line, "at state ", ", next token ", &state, &token) && state > 0 &&
        static_cast<uint32_t>(state) < nStates) {
        ShowNamedState(state);
        nToken = token;
    }
    int32_t popped = 0;
    int32_t recovery = 0;
    if (ScanTwoNumbers(line, "error: pop state ", ", recover state ", &popped, &recovery)) {
        ShowNamedState(recovery);
    }
}

// ---- byacc -------------------------------------------------------------------

// `yydebug[D]: `, `yydebug: ` or another prefix ending in `debug` (`-p calc`
// makes it `calcdebug`). D is a stack depth, never a state. Gives the text
// after the prefix, or null when the line has none: the program's own output.
const char* SkipDebugPrefix(const char* line) {
    const char* p = line;
    while (IsIdentifierPart(*p)) ++p;
    if (p - line < 5 || std::strncmp(p - 5, "debug", 5) != 0) return nullptr;
    if (*p == '[') {
        for (++p; IsDigit(*p); ++p) {}
        if (*p++ != ']') return nullptr;
    }
    if (p[0] != ':' || p[1] != ' ') return nullptr;
    return p + 2;
}

// `reading [token] T (NAME)[ <value>]`: the name runs to the last `)` before
// the value, so `(')')` is the name `')'`.
void ReadByaccToken(const char* text) {
    Take(text, "token ");
    int32_t token = 0;
    if (!IsDigit(*text) || !ScanInt32(text, &token)) return;
    if (token == 0) {
        SetEndOfInput();
        return;
    }
    const char* name = nullptr;
    std::size_t length = 0;
    if (Take(text, " (")) {
        name = text;
        const char* value = std::strstr(name, " <");
        const char* end = value != nullptr ? value : name + std::strlen(name);
        while (end > name && end[-1] != ')') --end;
        if (end > name) length = static_cast<std::size_t>(end - 1 - name);
    }
    if (length == 0) {
        SetToken(token, "", 0);  // no name given: the token table names it
    } else if (IsEndOfInputName(name, length)) {
        SetEndOfInput();
    } else {
        SetToken(token, name, length);
    }
}

// Whether the text of `text` before `at` ends with `end`.
bool EndsBefore(const char* text, const char* at, const char* end) {
    const std::size_t length = std::strlen(end);
    return static_cast<std::size_t>(at - text) >= length &&
           std::strncmp(at - length, end, length) == 0;
}

// `after reduction, [result is <v>, ]shifting from state X to [final ]state Y`.
void ReadByaccReduction(const char* text) {
    const char* last = nullptr;
    for (const char* at = std::strstr(text, "state "); at != nullptr;
         at = std::strstr(at + 1, "state ")) {
        last = at;
    }
    if (last == nullptr) return;
    if (!EndsBefore(text, last, " to ") && !EndsBefore(text, last, " to final ")) return;
    int32_t state = 0;
    if (Take(last, "state ") && ScanFinalNumber(last, &state)) ShowNamedState(state);
}

void ParseByaccLine(const char* line) {
    const char* text = SkipDebugPrefix(line);
    if (text == nullptr) return;
    int32_t state = 0;
    if (Take(text, "state ")) {
        if (!IsDigit(*text) || !ScanInt32(text, &state) || *text != ',') return;
        if (Take(text, ", reading ")) ReadByaccToken(text);
        ShowNamedState(state);
    } else if (StartsWith(text, "after reduction, ")) {
        ReadByaccReduction(text);
    } else if (Take(text, "error recovery discarding state ")) {
        if (ScanFinalNumber(text, &state)) ShowNamedState(state);
    }
}

// ---- bison -------------------------------------------------------------------

// The length of the known terminal that `text` starts with, followed by
// " (", quoted as in the listing or without its double quotes; the longest
// one wins, since a name can hold blanks. 0 when none is known.
std::size_t MatchTerminal(const char* text, int32_t* number) {
    std::size_t best = 0;
    for (uint16_t i = 0; i < sSymbols; ++i) {
        const char* name = szSymbol[i].data();
        std::size_t length = std::strlen(name);
        if (length > 2 && name[0] == '"' && name[length - 1] == '"' && text[0] != '"') {
            ++name;
            length -= 2;
        }
        if (length > best && std::strncmp(text, name, length) == 0 &&
            StartsWith(text + length, " (")) {
            best = length;
            *number = nSymbol[i];
        }
    }
    return best;
}

// `Next token is token NAME (VALUE)`: bison names its tokens without their
// numbers; the number comes from the listing's terminals or the header.
void ReadBisonToken(const char* text) {
    int32_t number = nToken;
    std::size_t length = MatchTerminal(text, &number);
    if (length == 0) {
        // Not a known terminal: a quoted name ends at its closing quote, any
        // other at the value's opening parenthesis.
        const bool quoted = text[0] == '"' || text[0] == '\'';
        const char* end = quoted ? SkipSymbolName(text) : std::strstr(text, " (");
        length = end != nullptr ? static_cast<std::size_t>(end - text) : std::strlen(text);
    }
    if (IsEndOfInputName(text, length)) {
        SetEndOfInput();
    } else {
        SetToken(number, text, length);
    }
}

// `Stack now 0 1 5 12`: the last number is the current state, when the line
// was read whole (a deep stack's first piece ends in a cut number).
void ReadBisonStack(const char* text) {
    int32_t state = 0;
    bool any = false;
    while (ScanInt32(text, &state)) any = true;
    while (*text == ' ' || *text == '\r') ++text;
    if (any && *text == '\0' && pieceEndsLine) ShowNamedState(state);
}

void ParseBisonLine(const char* line) {
    int32_t state = 0;
    if (Take(line, "Entering state ")) {
        if (ScanFinalNumber(line, &state)) ShowNamedState(state);
    } else if (Take(line, "Stack now ")) {
        ReadBisonStack(line);
    } else if (Take(line, "Next token is token ")) {
        ReadBisonToken(line);
    } else if (StartsWith(line, "Now at end of input.")) {
        SetEndOfInput();
    }
}

// ---- telling the kind --------------------------------------------------------

// The kind only `line` could come from, or false when any could write it.
bool KindOfLine(const char* line, TraceRules* found) {
    int32_t a = 0;
    int32_t b = 0;
    if (ScanTwoNumbers(line, "at state ", ", next token ", &a, &b) ||
        ScanTwoNumbers(line, "error: pop state ", ", recover state ", &a, &b)) {
        *found = kOwnRules;
        return true;
    }
    if (std::strcmp(line, "Starting parse") == 0 || StartsWith(line, "Entering state ") ||
        StartsWith(line, "Stack now ")) {
        *found = kBisonRules;
        return true;
    }
    const char* text = SkipDebugPrefix(line);
    if (text != nullptr && (StartsWith(text, "state ") || StartsWith(text, "after reduction") ||
                            StartsWith(text, "error recovery"))) {
        *found = kByaccRules;
        return true;
    }
    return false;
}

// Looks at the first lines, then goes back to the start; a trace that shows
// no kind's line there is read as kwt's own.
TraceRules TellKind(TextFile* file) {
    TraceRules found = kOwnRules;
    TextLine line{};
    bool startsLine = true;
    for (int i = 0; i < kKindProbeLines && TextTell(file) < kKindProbeBytes; ++i) {
        bool endsLine = true;
        if (!ReadTextLine(file, line, &endsLine)) break;
        if (startsLine && KindOfLine(line.data(), &found)) break;
        startsLine = endsLine;
    }
    TextSeek(file, 0);
    return found;
}

bool StartsFileLine(TextFile* file, int64_t at) {
    char before = '\n';
    return at == 0 || (TextReadAt(file, at - 1, &before, 1) == 1 && before == '\n');
}

}  // namespace

bool OpenTrace(const char* path) {
    pfileTrace = TextOpen(path);
    if (pfileTrace == nullptr) {
        std::perror("Cannot open YACC Trace file!");
        return false;
    }
    SayWhenCopied(pfileTrace, "trace");
    rules = TellKind(pfileTrace);
    pieceStartsLine = true;
    pieceEndsLine = true;
    lastPieceEnd = 0;
    szToken[0] = '\0';
    if (rules.kind != TraceKind::kOwn) SetToken(nToken, kNoTokenYet, sizeof kNoTokenYet - 1);
    return true;
}

void CloseTrace() {
    TextClose(pfileTrace);
    pfileTrace = nullptr;
    rules = kOwnRules;
    szToken[0] = '\0';
}

bool ReadTrace() {
    const int64_t at = TextTell(pfileTrace);
    bool endsLine = true;
    if (!ReadTextLine(pfileTrace, szTrace, &endsLine)) return false;
    // Reading on from the last piece, that piece says whether a new line
    // starts here; after a seek (a replayed step, a jump) the byte before does.
    pieceStartsLine = at == lastPieceEnd ? pieceEndsLine : StartsFileLine(pfileTrace, at);
    pieceEndsLine = endsLine;
    lastPieceEnd = TextTell(pfileTrace);
    return true;
}

void ParseTrace() {
    const char* line = szTrace.data();
    switch (rules.kind) {
    case TraceKind::kOwn: ParseOwnLine(line); break;
    case TraceKind::kByacc:
        if (pieceStartsLine) ParseByaccLine(line);
        break;
    case TraceKind::kBison:
        if (pieceStartsLine) ParseBisonLine(line);
        break;
    }
}

TraceState SaveTraceState() { return TraceState{nState, nToken, nCurrentState, szTrace, szToken}; }

void RestoreTraceState(const TraceState& saved) {
    nState = saved.state;
    nToken = saved.token;
    nCurrentState = saved.returnState;
    szTrace = saved.line;
    szToken = saved.tokenName;
}

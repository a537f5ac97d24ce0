// The state listing: indexed once by the offsets where its state blocks
// start, then re-read one state's block at a time into the window `szLRT`.
//
// Three kinds of listing are read as they stand, each told by its state
// header line: kwt's own (`+---` ... `STATE ` at offset 31), byacc's
// (`state N`) and bison's (`State N`). The first header of any kind decides
// the file's kind; after it only headers of that kind open blocks.
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "kwt.h"

TextFile* pfileLRT = nullptr;
std::array<int64_t, kStatesMax + 1> lState{};
uint32_t nStates = 0;
uint32_t nState = 0;
std::array<TextLine, kLRTLinesMax> szLRT{};
uint32_t nLRTLines = 0;

namespace {

enum class ListingKind { kUnknown, kOwn, kByacc, kBison };

constexpr char kHeaderStart[] = "+---";
constexpr std::size_t kHeaderStartLength = sizeof kHeaderStart - 1;
constexpr char kHeaderWord[] = "STATE ";
constexpr std::size_t kHeaderWordLength = sizeof kHeaderWord - 1;
constexpr std::size_t kHeaderWordColumn = 31;
constexpr uint32_t kProgressEvery = 10;
constexpr int kStateDigitsMax = 9;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

bool IsOwnHeader(const char* line) {
    if (std::strncmp(line, kHeaderStart, kHeaderStartLength) != 0) return false;
    if (std::strlen(line) < kHeaderWordColumn + kHeaderWordLength) return false;
    return std::strncmp(line + kHeaderWordColumn, kHeaderWord, kHeaderWordLength) == 0;
}

// Reads the digits at `text` into `number`; gives the text after them, or
// null when there are none or too many.
const char* ReadStateNumber(const char* text, uint32_t* number) {
    uint32_t value = 0;
    int digits = 0;
    for (; IsDigit(*text); ++text, ++digits) {
        if (digits == kStateDigitsMax) return nullptr;
        value = value * 10 + static_cast<uint32_t>(*text - '0');
    }
    if (digits == 0) return nullptr;
    *number = value;
    return text;
}

// A line that is exactly `<word>N`, blanks or a carriage return allowed after.
bool IsNumberedHeader(const char* line, const char* word, uint32_t* number) {
    const std::size_t wordLength = std::strlen(word);
    if (std::strncmp(line, word, wordLength) != 0) return false;
    const char* rest = ReadStateNumber(line + wordLength, number);
    if (rest == nullptr) return false;
    while (IsBlank(*rest)) ++rest;
    return *rest == '\0';
}

// The kind of state header `line` is, or kUnknown. Nearly every line fails
// on its first character. A generator's header is a whole file line, never
// the rest of a longer one; kwt's own format takes any piece.
ListingKind HeaderKind(const char* line, bool startsLine, uint32_t* number) {
    switch (line[0]) {
    case '+': return IsOwnHeader(line) ? ListingKind::kOwn : ListingKind::kUnknown;
    case 's':
        return startsLine && IsNumberedHeader(line, "state ", number) ? ListingKind::kByacc
                                                                      : ListingKind::kUnknown;
    case 'S':
        return startsLine && IsNumberedHeader(line, "State ", number) ? ListingKind::kBison
                                                                      : ListingKind::kUnknown;
    default: return ListingKind::kUnknown;
    }
}

// byacc writes a state's conflicts just before its header,
// `14: shift/reduce conflict (shift 27, reduce 18) on '%'`; they belong to
// that state's block.
struct ConflictRun {
    bool active = false;
    uint32_t state = 0;
    int64_t start = 0;
};

bool IsConflictLine(const char* line, uint32_t* state) {
    const char* rest = ReadStateNumber(line, state);
    return rest != nullptr && (StartsWith(rest, ": shift/reduce conflict") ||
                               StartsWith(rest, ": reduce/reduce conflict"));
}

void NoteConflictLine(const char* line, bool startsLine, int64_t offset, ConflictRun& run) {
    uint32_t state = 0;
    if (!startsLine || !IsDigit(line[0]) || !IsConflictLine(line, &state)) {
        run.active = false;
    } else if (!run.active || run.state != state) {
        run = {true, state, offset};
    }
}

// bison's `Terminals, with rules where they appear` section lists every
// terminal under the name its trace uses, with its number:
// `    NUMBER <value> (258) 20`, `    '+' (43) 7`, `    "==" (261) 12`.
bool IsLine(const char* line, const char* text) {
    const std::size_t length = std::strlen(text);
    if (std::strncmp(line, text, length) != 0) return false;
    for (line += length; IsBlank(*line); ++line) {}
    return *line == '\0';
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

// Where a bison listing's terminals are, before its first state.
struct TerminalSection {
    bool inside = false;
    void Note(const char* line, bool startsLine) {
        if (!startsLine) return;
        if (inside) {
            if (IsLine(line, "Nonterminals, with rules where they appear")) {
                inside = false;
            } else {
                ReadTerminal(line);
            }
        } else if (line[0] == 'T') {
            inside = IsLine(line, "Terminals, with rules where they appear");
        }
    }
};

void ShowProgress(const char* format, uint32_t count) {
    std::printf(format, static_cast<int>(count));
    std::fflush(stdout);
}

}  // namespace

bool ReadTextLine(TextFile* file, TextLine& line, bool* endsLine) {
    // Straight into the line, which is left as it was when nothing is read;
    // the bytes after the terminator are cleared, so that nothing of an
    // earlier line stays behind.
    std::size_t length = 0;
    bool ends = true;
    if (!TextReadPiece(line.data(), file, &length, &ends)) return false;
    std::memset(line.data() + length, 0, line.size() - length);
    if (endsLine != nullptr) *endsLine = ends;
    return true;
}

void SayWhenCopied(const TextFile* file, const char* what) {
    const int64_t copied = TextCopiedLength(file);
    if (copied < 0) return;
    std::printf("The %s is a pipe: read from a copy (%" PRId64 " bytes)\n", what, copied);
}

bool OpenLRT(const char* path) {
    pfileLRT = TextOpen(path);
    if (pfileLRT == nullptr) {
        std::perror("Cannot open YACC LRT file! Use '-v' flag with YACC");
        return false;
    }
    SayWhenCopied(pfileLRT, "state file");
    std::printf("Reading the state file...\n");
    nState = 0;
    nStates = 0;
    ListingKind kind = ListingKind::kUnknown;
    ConflictRun conflicts;
    TerminalSection terminals;
    TextLine& line = szLRT[0];
    bool startsLine = true;
    for (;;) {
        const int64_t offset = TextTell(pfileLRT);
        bool endsLine = true;
        if (!ReadTextLine(pfileLRT, line, &endsLine)) {
            lState[nStates] = offset;
            break;
        }
        uint32_t number = 0;
        const ListingKind header = HeaderKind(line.data(), startsLine, &number);
        if (header != ListingKind::kUnknown && (kind == ListingKind::kUnknown || header == kind)) {
            kind = header;
            // byacc's conflict lines for this very state open its block.
            const bool conflictsFirst =
                kind == ListingKind::kByacc && conflicts.active && conflicts.state == number;
            const int64_t start = conflictsFirst ? conflicts.start : offset;
            conflicts.active = false;
            // One header past a full index only bounds the last state.
            lState[nStates] = start;
            if (nStates == kStatesMax) break;
            ++nStates;
            if (nStates % kProgressEvery == 0) ShowProgress("State %4d\r", nStates);
        } else if (kind == ListingKind::kByacc || kind == ListingKind::kUnknown) {
            NoteConflictLine(line.data(), startsLine, offset, conflicts);
            if (kind == ListingKind::kUnknown) terminals.Note(line.data(), startsLine);
        }
        startsLine = endsLine;
    }
    ShowProgress("State %4d\n", nStates);
    return true;
}

void LoadLRT() {
    nLRTLines = 0;
    if (pfileLRT == nullptr || nState >= nStates) return;
    const int64_t end = lState[nState + 1];
    if (!TextSeek(pfileLRT, lState[nState])) return;
    // A line belongs to the block when it starts before the next block.
    while (nLRTLines < kLRTLinesMax) {
        if (TextTell(pfileLRT) >= end) break;
        if (!ReadTextLine(pfileLRT, szLRT[nLRTLines])) break;
        ++nLRTLines;
    }
}

// Until the listing's items and grammar are read.
const char* AccessingSymbol(uint32_t) { return ""; }
bool ReadFirstItem(uint32_t, TextLine&) { return false; }
int RuleLength(uint32_t) { return -1; }

// The state listing: indexed once by the offsets where its state blocks
// start, then re-read one state's block at a time into the window `szLRT`.
//
// Three kinds of listing are read as they stand, each told by its state
// header line: kwt's own (`+---` ... `STATE ` at offset 31), byacc's
// (`state N`) and bison's (`State N`, or the word a translated listing
// writes for it). The first header of any kind decides the file's kind;
// after it only headers of that kind open blocks.
//
// The index is built from large raw blocks of the file. Each line is found
// by its line feed and looked at from its start, as the line reader would
// give its first piece (a CR before the line feed dropped, byte 0x1A ending
// the text); the rest of a line is cut into pieces only where kwt's own
// header could start one. On the way the index notes each state's first
// item and accessing symbol and the lengths of the grammar's rules.
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "kwt.h"
#include "platform/layout.h"

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
constexpr unsigned char kEndOfText = 0x1A;

// The index reads the file in blocks of this size. Of a line it reads at
// most kLineKeep bytes as text (rules and items longer than that are not
// read); to cut a piece it needs 80 bytes and a CR LF after them.
constexpr std::size_t kBlockSize = std::size_t{256} * 1024;
constexpr std::size_t kLineKeep = 4096;
constexpr std::size_t kPieceKeep = kLineSize + 1;
static_assert(kLineKeep < kBlockSize && kPieceKeep < kLineKeep, "a line's start fits a block");

unsigned char block[kBlockSize];

// Accessing symbols are kept once each, back to back with a zero after
// each, in a pool that a 16-bit index reaches; index 0 is "". A small hash
// table finds a name already kept.
constexpr std::size_t kNamesSize = std::size_t{UINT16_MAX} + 1;
constexpr std::size_t kNameSlots = 8192;
constexpr std::size_t kNamesMax = kNameSlots / 4 * 3;

// Of each state: where its first item line starts, counted from the start
// of its block (0: none, as the header comes before it), and its accessing
// symbol.
std::array<uint32_t, kStatesMax> nFirstItem{};
std::array<uint16_t, kStatesMax> sAccessing{};
std::array<char, kNamesSize> szNames{};
std::size_t nNamesUsed = 1;
std::array<uint16_t, kNameSlots> sNameSlots{};
std::size_t nNames = 0;

// The length of each rule plus one (0: not given); nRules is one past the
// highest rule noted.
std::array<uint16_t, kRulesMax> sRuleLength{};
uint32_t nRules = 0;

// The word a bison listing writes before a state's number, a blank after
// it, once learned from its first state's header ("" until then).
constexpr std::size_t kStateWordSize = 64;
std::array<char, kStateWordSize> szStateWord{};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

const char* SkipBlanks(const char* text) {
    while (IsBlank(*text)) ++text;
    return text;
}

// Rules and items are read as symbols between white space, as SkipSymbolName
// cuts them.
bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

const char* SkipSpaces(const char* text) {
    while (IsSpace(*text)) ++text;
    return text;
}

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
    return *SkipBlanks(rest) == '\0';
}

// The kind of state header the first piece of a line is, or kUnknown. A
// generator's header is a whole file line, never the rest of a longer one;
// kwt's own format takes any piece (see WalkPieces).
ListingKind HeaderKind(const char* line, uint32_t* number) {
    if (line[0] == '+') return IsOwnHeader(line) ? ListingKind::kOwn : ListingKind::kUnknown;
    if (line[0] == 's') {
        return IsNumberedHeader(line, "state ", number) ? ListingKind::kByacc
                                                        : ListingKind::kUnknown;
    }
    const bool bison =
        IsNumberedHeader(line, "State ", number) ||
        (szStateWord[0] != '\0' && IsNumberedHeader(line, szStateWord.data(), number));
    return bison ? ListingKind::kBison : ListingKind::kUnknown;
}

// bison's rule 0 as its grammar writes it, `    0 $accept: program $end`,
// which is never translated (byacc and kwt's own write `$accept :`).
bool IsBisonStartRule(const char* line) {
    const char* p = SkipBlanks(line);
    if (p[0] != '0' || !IsBlank(p[1])) return false;
    return StartsWith(SkipBlanks(p + 1), "$accept:");
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

// byacc writes a state's conflicts just before its header,
// `14: shift/reduce conflict (shift 27, reduce 18) on '%'`; they belong to
// that state's block when each is one piece.
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

void NoteConflictLine(const char* line, int64_t offset, ConflictRun& run) {
    uint32_t state = 0;
    if (!IsDigit(line[0]) || !IsConflictLine(line, &state)) {
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

// Where a bison listing's terminals are, before its first state: after the
// English heading up to the nonterminals' heading, and in any language the
// section that the first heading after the grammar opens, up to the next
// heading.
struct TerminalSection {
    bool inside = false;
    bool toNextHeading = false;
    bool afterGrammar = false;  // bison's start rule seen, no heading since
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

// ---- rules and items -------------------------------------------------------------

// The empty right side as bison writes it (`%empty`, or `ε` under UTF-8).
bool IsEmptyMark(const char* symbol, std::size_t length) {
    return (length == 6 && std::strncmp(symbol, "%empty", 6) == 0) ||
           (length == 2 && std::strncmp(symbol, "\xCE\xB5", 2) == 0);
}

// The item's dot: `.`, or `•` in bison's UTF-8 listings, a symbol of its own.
bool IsDot(const char* text) {
    std::size_t length = 0;
    if (text[0] == '.') {
        length = 1;
    } else if (StartsWith(text, "\xE2\x80\xA2")) {
        length = 3;
    }
    return length > 0 && (text[length] == '\0' || IsSpace(text[length]));
}

// Skips a rule's left side, `program:` or `program :`, or bison's `|` that
// stands for the one before; null when the text does not start with one.
const char* SkipLeftSide(const char* text) {
    if (text[0] == '|') return IsSpace(text[1]) || text[1] == '\0' ? text + 1 : nullptr;
    const char* p = text;
    while (*p != '\0' && *p != ':' && !IsSpace(*p)) ++p;
    if (p == text) return nullptr;
    p = SkipSpaces(p);
    if (*p != ':' || (p[1] != '\0' && !IsSpace(p[1]))) return nullptr;
    return p + 1;
}

// Skips blanks and, where digits and a blank follow, the rule number bison
// writes first.
const char* SkipRuleNumber(const char* text) {
    const char* p = SkipSpaces(text);
    const char* digits = p;
    while (IsDigit(*p)) ++p;
    return p > digits && IsSpace(*p) ? SkipSpaces(p) : digits;
}

// A rule of the grammar written before the states: `    7 statement: IF '('
// expr ')' statement` (bison), `   7  statement : IF ...` (byacc, kwt's own),
// `    8          | ...` for the same left side again. An empty right side is
// `%empty`, `ε`, `/* empty */` or nothing.
void ReadRule(const char* line, bool whole) {
    uint32_t rule = 0;
    const char* p = ReadStateNumber(SkipSpaces(line), &rule);
    if (p == nullptr || !IsSpace(*p) || rule >= kRulesMax) return;
    p = SkipLeftSide(SkipSpaces(p));
    if (p == nullptr || !whole) return;
    uint32_t symbols = 0;
    for (p = SkipSpaces(p); *p != '\0'; p = SkipSpaces(p)) {
        const char* end = StartsWith(p, "/*") ? std::strstr(p + 2, "*/") : nullptr;
        if (end != nullptr) {
            p = end + 2;
            continue;
        }
        end = SkipSymbolName(p);
        if (!IsEmptyMark(p, static_cast<std::size_t>(end - p))) ++symbols;
        p = end;
    }
    sRuleLength[rule] = static_cast<uint16_t>(symbols + 1);
    if (rule >= nRules) nRules = rule + 1;
}

// An LR item: a rule (see ReadRule) with the dot among its right side's
// symbols. Gives whether `line` is one and, in `symbol`, the symbol before
// the dot (length 0 when the dot comes first).
bool ParseItem(const char* line, const char** symbol, std::size_t* length) {
    const char* p = SkipLeftSide(SkipRuleNumber(line));
    if (p == nullptr) return false;
    *symbol = p;
    *length = 0;
    for (p = SkipSpaces(p); *p != '\0'; p = SkipSpaces(p)) {
        if (IsDot(p)) {
            if (IsEmptyMark(*symbol, *length)) *length = 0;
            return true;
        }
        const char* end = SkipSymbolName(p);
        *symbol = p;
        *length = static_cast<std::size_t>(end - p);
        p = end;
    }
    return false;
}

// The pool index of `name` (cut to a token name's length), kept there if it
// is new; 0 ("") when the pool is full.
uint16_t KeepName(const char* name, std::size_t length) {
    if (length > kSymbolNameSize - 1) length = kSymbolNameSize - 1;
    uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < length; ++i) {
        hash = (hash ^ static_cast<unsigned char>(name[i])) * 16777619u;
    }
    std::size_t slot = hash % kNameSlots;
    for (; sNameSlots[slot] != 0; slot = (slot + 1) % kNameSlots) {
        const char* kept = &szNames[sNameSlots[slot]];
        if (std::strncmp(kept, name, length) == 0 && kept[length] == '\0') {
            return sNameSlots[slot];
        }
    }
    if (nNames == kNamesMax || nNamesUsed + length + 1 > kNamesSize) return 0;
    const auto index = static_cast<uint16_t>(nNamesUsed);
    std::memcpy(&szNames[index], name, length);
    szNames[index + length] = '\0';
    nNamesUsed += length + 1;
    sNameSlots[slot] = index;
    ++nNames;
    return index;
}

void ShowProgress(const char* format, uint32_t count) {
    std::printf(format, static_cast<int>(count));
    std::fflush(stdout);
}

// ---- the raw blocks --------------------------------------------------------------

// The bytes [start, start + length) of the file are in `block`.
struct Window {
    TextFile* file = nullptr;
    int64_t start = 0;
    std::size_t length = 0;
    bool last = false;  // the text ends at the window's end
};

int64_t WindowEnd(const Window& window) {
    return window.start + static_cast<int64_t>(window.length);
}

const unsigned char* InWindow(const Window& window, int64_t offset) {
    return block + (offset - window.start);
}

// Makes the window hold `want` bytes from `offset` (in the window) on, or
// all that the text has from there: the bytes from `offset` on move to the
// block's start and the file is read after them. The text ends at the end
// of the file, at a failed read or at the first byte 0x1A.
void Reach(Window& window, int64_t offset, std::size_t want) {
    if (window.last || offset + static_cast<int64_t>(want) <= WindowEnd(window)) return;
    const auto kept = static_cast<std::size_t>(WindowEnd(window) - offset);
    std::memmove(block, InWindow(window, offset), kept);
    window.start = offset;
    window.length = kept;
    while (window.length < kBlockSize && !window.last) {
        unsigned char* into = block + window.length;
        const std::size_t got =
            TextReadAt(window.file, WindowEnd(window), into, kBlockSize - window.length);
        const void* mark = std::memchr(into, kEndOfText, got);
        window.last = got == 0 || mark != nullptr;
        window.length +=
            mark != nullptr
                ? static_cast<std::size_t>(static_cast<const unsigned char*>(mark) - into)
                : got;
    }
}

// The start of the line after the one that holds `offset`.
int64_t SkipLine(Window& window, int64_t offset) {
    for (;;) {
        Reach(window, offset, 1);
        const auto left = static_cast<std::size_t>(WindowEnd(window) - offset);
        const void* feed = std::memchr(InWindow(window, offset), '\n', left);
        if (feed != nullptr) {
            return window.start + (static_cast<const unsigned char*>(feed) - block) + 1;
        }
        offset = WindowEnd(window);
        if (window.last) return offset;
    }
}

// ---- the index -------------------------------------------------------------------

enum class ItemSearch { kDone, kLooking, kInItems };

struct Indexer {
    Window window;
    ListingKind kind = ListingKind::kUnknown;
    ConflictRun conflicts;
    TerminalSection terminals;
    bool afterStartRule = false;  // bison's start rule seen: its state word may come
    bool full = false;            // a header came past a full index
    ItemSearch search = ItemSearch::kDone;
};

void AcceptHeader(Indexer& index, ListingKind kind, uint32_t number, int64_t offset) {
    index.kind = kind;
    // byacc's conflict lines for this very state open its block.
    const bool conflictsFirst =
        kind == ListingKind::kByacc && index.conflicts.active && index.conflicts.state == number;
    const int64_t start = conflictsFirst ? index.conflicts.start : offset;
    index.conflicts.active = false;
    // The state before keeps a first item only inside its block.
    if (nStates > 0 && nFirstItem[nStates - 1] != 0 &&
        lState[nStates - 1] + nFirstItem[nStates - 1] >= start) {
        nFirstItem[nStates - 1] = 0;
        sAccessing[nStates - 1] = 0;
    }
    // One header past a full index only bounds the last state.
    lState[nStates] = start;
    if (nStates == kStatesMax) {
        index.full = true;
        return;
    }
    nFirstItem[nStates] = 0;
    sAccessing[nStates] = 0;
    index.search = ItemSearch::kLooking;
    ++nStates;
    if (nStates % kProgressEvery == 0) ShowProgress("State %4d\r", nStates);
}

// The first piece of a line: a header of the file's kind (or the first
// header), else what the kind reads from other lines. True for a header.
bool NoteFirstPiece(Indexer& index, const char* piece, int64_t offset) {
    const bool unknown = index.kind == ListingKind::kUnknown;
    if (unknown && index.afterStartRule && szStateWord[0] == '\0') LearnStateWord(piece);
    uint32_t number = 0;
    const ListingKind header = HeaderKind(piece, &number);
    if (header != ListingKind::kUnknown && (unknown || header == index.kind)) {
        AcceptHeader(index, header, number, offset);
        return true;
    }
    if (unknown || index.kind == ListingKind::kByacc) {
        NoteConflictLine(piece, offset, index.conflicts);
    }
    if (unknown) index.terminals.Note(piece);
    return false;
}

// Whether the kind has anything to read in a line that starts with `first`.
bool MayMatter(ListingKind kind, unsigned char first) {
    switch (kind) {
    case ListingKind::kOwn: return first == '+';
    case ListingKind::kByacc: return first == 's' || IsDigit(static_cast<char>(first));
    case ListingKind::kBison:
        return first == 'S' || first == static_cast<unsigned char>(szStateWord[0]);
    default: return true;
    }
}

// A line after a state's header: its first item is the first item line
// with a symbol before the dot, or the first item line where the item lines
// that follow it have none.
void NoteItem(Indexer& index, const char* text, int64_t offset) {
    const char* symbol = nullptr;
    std::size_t length = 0;
    if (!ParseItem(text, &symbol, &length)) {
        if (index.search == ItemSearch::kInItems) index.search = ItemSearch::kDone;
        return;
    }
    const uint32_t state = nStates - 1;
    const int64_t distance = offset - lState[state];
    if (distance <= 0 || distance > int64_t{UINT32_MAX}) return;
    if (index.search == ItemSearch::kLooking || length > 0) {
        nFirstItem[state] = static_cast<uint32_t>(distance);
    }
    index.search = ItemSearch::kInItems;
    if (length > 0) {
        sAccessing[state] = KeepName(symbol, length);
        index.search = ItemSearch::kDone;
    }
}

// Cuts a line into pieces from `offset`, where its second piece starts, and
// indexes those that are kwt's own headers; gives the next line's start.
int64_t WalkPieces(Indexer& index, int64_t offset) {
    Window& window = index.window;
    for (;;) {
        Reach(window, offset, kPieceKeep);
        const unsigned char* piece = InWindow(window, offset);
        const auto left = static_cast<std::size_t>(WindowEnd(window) - offset);
        std::size_t count = 0;
        std::size_t feed = 0;  // the bytes after the piece that end its line
        for (int column = 0; count < left; ++count) {
            if (piece[count] == '\n') {
                feed = 1;
                break;
            }
            if (piece[count] == '\r' && count + 1 < left && piece[count + 1] == '\n') {
                feed = 2;
                break;
            }
            const int columns = ColumnsOf(piece[count], column);
            if (column + columns > kPieceColumns) break;
            column += columns;
        }
        if (piece[0] == '+' && count >= kHeaderWordColumn + kHeaderWordLength) {
            TextLine text;
            std::memcpy(text.data(), piece, count);
            text[count] = '\0';
            if (IsOwnHeader(text.data())) {
                AcceptHeader(index, ListingKind::kOwn, 0, offset);
                if (index.full) return offset;
            }
        }
        offset += static_cast<int64_t>(count + feed);
        // Short of a piece and its line's end only where the text ends.
        if (feed > 0 || count == left) return offset;
    }
}

// A line seen from its start: `length` bytes of its text are in the window,
// the line feed and a CR before it left out. When `whole`, that is all of
// it and the next line starts at `next`.
struct LineStart {
    int64_t offset;
    const unsigned char* text;
    std::size_t length;
    bool whole;
    int64_t next;
};

// Indexes one line; gives the next line's start.
int64_t IndexLine(Indexer& index, const LineStart& line) {
    // The line is cut into pieces only where a piece after the first may matter.
    std::size_t pieceLength = 0;
    bool cut = false;
    const auto cutFirstPiece = [&] {
        if (!cut) pieceLength = FirstPieceLength(line.text, line.length);
        cut = true;
        return pieceLength;
    };
    bool header = false;
    if (line.length > 0 && MayMatter(index.kind, line.text[0])) {
        TextLine piece;
        std::memcpy(piece.data(), line.text, cutFirstPiece());
        piece[pieceLength] = '\0';
        header = NoteFirstPiece(index, piece.data(), line.offset);
        if (index.full) return line.offset;
    } else {
        index.conflicts.active = false;  // not one of byacc's conflict lines
    }
    if (!header && (index.search != ItemSearch::kDone || index.kind == ListingKind::kUnknown)) {
        char text[kLineKeep];
        const std::size_t length = line.length < kLineKeep ? line.length : kLineKeep - 1;
        std::memcpy(text, line.text, length);
        text[length] = '\0';
        if (index.search != ItemSearch::kDone) NoteItem(index, text, line.offset);
        if (index.kind == ListingKind::kUnknown) {
            ReadRule(text, line.whole && length == line.length);
            if (IsBisonStartRule(text)) index.afterStartRule = index.terminals.afterGrammar = true;
        }
    }
    // A line of more than one piece breaks a run of byacc's conflict lines.
    if (index.conflicts.active && (!line.whole || cutFirstPiece() < line.length)) {
        index.conflicts.active = false;
    }
    const bool ownHeaders = index.kind == ListingKind::kOwn || index.kind == ListingKind::kUnknown;
    if (!line.whole) {
        const int64_t rest = line.offset + static_cast<int64_t>(cutFirstPiece());
        return ownHeaders ? WalkPieces(index, rest) : SkipLine(index.window, rest);
    }
    // A piece after the first starts 10 bytes in or later (a byte takes 8 columns at most).
    constexpr std::size_t kShortest = kPieceColumns / kTabWidth;
    if (ownHeaders && line.length > kShortest &&
        std::memchr(line.text + kShortest, '+', line.length - kShortest) != nullptr &&
        cutFirstPiece() < line.length) {
        return WalkPieces(index, line.offset + static_cast<int64_t>(pieceLength));
    }
    return line.next;
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
        TextSayOpenFailed(path, "Cannot open YACC LRT file! Use '-v' flag with YACC");
        return false;
    }
    SayWhenCopied(pfileLRT, "state file");
    std::printf("Reading the state file...\n");
    nState = 0;
    nStates = 0;
    std::memset(sRuleLength.data(), 0, nRules * sizeof sRuleLength[0]);
    nRules = 0;
    sNameSlots.fill(0);
    nNamesUsed = 1;
    nNames = 0;
    szStateWord[0] = '\0';
    Indexer index;
    index.window.file = pfileLRT;
    int64_t offset = 0;
    while (!index.full) {
        Window& window = index.window;
        Reach(window, offset, kLineKeep);
        if (offset >= WindowEnd(window)) break;
        const unsigned char* text = InWindow(window, offset);
        const auto left = static_cast<std::size_t>(WindowEnd(window) - offset);
        const auto* feed = static_cast<const unsigned char*>(std::memchr(text, '\n', left));
        if (feed == nullptr && !window.last && window.start < offset) {
            Reach(window, offset, kBlockSize);  // the line goes on past the block
            continue;
        }
        LineStart line{offset, text, left, window.last, WindowEnd(window)};
        if (feed != nullptr) {
            line = {offset, text, static_cast<std::size_t>(feed - text), true,
                    window.start + (feed - block) + 1};
            if (line.length > 0 && text[line.length - 1] == '\r') --line.length;
        }
        offset = IndexLine(index, line);
    }
    if (!index.full) lState[nStates] = offset;
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

const char* AccessingSymbol(uint32_t state) {
    return state < nStates ? &szNames[sAccessing[state]] : "";
}

bool ReadFirstItem(uint32_t state, TextLine& line) {
    if (pfileLRT == nullptr || state >= nStates || nFirstItem[state] == 0) return false;
    return TextSeek(pfileLRT, lState[state] + nFirstItem[state]) && ReadTextLine(pfileLRT, line);
}

int RuleLength(uint32_t rule) {
    if (pfileLRT == nullptr || rule >= nRules || sRuleLength[rule] == 0) return -1;
    return sRuleLength[rule] - 1;
}

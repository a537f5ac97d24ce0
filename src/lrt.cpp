// The state listing: indexed once by the offsets where its state blocks
// start, then re-read one state's block at a time into the window `szLRT`.
//
// Each kind of listing is told by its state header line (kinds.h): the
// first header of any kind decides the file's kind; after it only headers
// of that kind open blocks, and only that kind reads the lines.
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

#include "kinds.h"

TextFile* pfileLRT = nullptr;
std::array<int64_t, kStatesMax + 1> lState{};
uint32_t nStates = 0;
uint32_t nState = 0;
std::array<TextLine, kLRTLinesMax> szLRT{};
uint32_t nLRTLines = 0;

namespace {

constexpr uint32_t kProgressEvery = 10;
constexpr int kStateDigitsMax = 9;
constexpr unsigned char kEndOfText = 0x1A;

// The index reads the file in blocks of this size. Of a line it reads at
// most kLineKeep bytes as text (rules and items longer than that are not
// read); to cut a piece it needs 80 bytes and a CR LF after them.
constexpr std::size_t kBlockSize = std::size_t{256} * 1024;
constexpr std::size_t kLineKeep = 4096;
static_assert(kLineKeep < kBlockSize && kPieceLookahead < kLineKeep, "a line's start fits a block");

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

// Rules and items are read as symbols between white space, as SkipSymbolName
// cuts them.
bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

const char* SkipSpaces(const char* text) {
    while (IsSpace(*text)) ++text;
    return text;
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

}  // namespace

// An LR item: a rule (see ReadRule) with the dot among its right side's
// symbols.
bool ParseYaccItem(const char* line, const char** symbol, std::size_t* length) {
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

namespace {

// The pool index of `name` (cut to a token name's length), kept there if it
// is new; 0 ("") when the pool is full.
uint16_t KeepName(const char* name, std::size_t length) {
    if (length > kSymbolNameSize - 1) length = kSymbolNameSize - 1;
    std::size_t slot = HashBytes(name, length) % kNameSlots;
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
    const ListingForms* kind = nullptr;  // null until the first header
    bool done = false;                   // a header came past a full index, or the states ended
    ItemSearch search = ItemSearch::kDone;
};

void AcceptHeader(Indexer& index, const ListingForms* kind, uint32_t number, int64_t offset) {
    index.kind = kind;
    const int64_t start = kind->BlockStart != nullptr ? kind->BlockStart(number, offset) : offset;
    // The state before keeps a first item only inside its block.
    if (nStates > 0 && nFirstItem[nStates - 1] != 0 &&
        lState[nStates - 1] + nFirstItem[nStates - 1] >= start) {
        nFirstItem[nStates - 1] = 0;
        sAccessing[nStates - 1] = 0;
    }
    // One header past a full index only bounds the last state.
    lState[nStates] = start;
    if (nStates == kStatesMax) {
        index.done = true;
        return;
    }
    nFirstItem[nStates] = 0;
    sAccessing[nStates] = 0;
    index.search = ItemSearch::kLooking;
    ++nStates;
    if (nStates % kProgressEvery == 0) ShowProgress("State %4d\r", nStates);
}

// The kind whose state header `piece` is: the file's kind, or while that is
// not known yet, the first kind whose header it is. Null for none.
const ListingForms* HeaderOf(const Indexer& index, const char* piece, uint32_t* number) {
    if (index.kind != nullptr) return index.kind->IsHeader(piece, number) ? index.kind : nullptr;
    for (const Kind* each : kKinds) {
        if (each->listing.IsHeader(piece, number)) return &each->listing;
    }
    return nullptr;
}

// The first piece of a line: a header of the file's kind (or the first
// header), or the line that ends the states, or what the kind (or, before
// the first header, every kind) reads from other lines. `next` is the next
// line's start, or -1 when the line has more pieces. True for a header.
bool NoteFirstPiece(Indexer& index, const char* piece, int64_t offset, int64_t next) {
    uint32_t number = 0;
    const ListingForms* header = HeaderOf(index, piece, &number);
    if (header != nullptr) {
        AcceptHeader(index, header, number, offset);
        return true;
    }
    if (index.kind != nullptr && index.kind->EndsStates != nullptr &&
        index.kind->EndsStates(piece)) {
        lState[nStates] = offset;
        index.done = true;
        return false;
    }
    for (const Kind* each : kKinds) {
        const ListingForms& kind = each->listing;
        if ((index.kind == nullptr || index.kind == &kind) && kind.NoteLine != nullptr) {
            kind.NoteLine(piece, offset, next);
        }
    }
    return false;
}

// Whether the file's kind has anything to read in a line that starts with
// `first`; before the first header every line may matter.
bool MayMatter(const Indexer& index, unsigned char first) {
    return index.kind == nullptr || index.kind->MayMatter(first);
}

// A line after a state's header: its first item is the first item line
// with a symbol before the dot, or the first item line where the item lines
// that follow it have none.
void NoteItem(Indexer& index, const char* text, int64_t offset) {
    const char* symbol = nullptr;
    std::size_t length = 0;
    if (!index.kind->ParseItem(text, &symbol, &length)) {
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

// Whether headers may start any piece of a line: the file's kind says, and
// before the first header any kind's may.
bool HeadersInEveryPiece(const Indexer& index) {
    if (index.kind != nullptr) return index.kind->headersInEveryPiece;
    for (const Kind* each : kKinds) {
        if (each->listing.headersInEveryPiece) return true;
    }
    return false;
}

// The kind whose header a piece after a line's first is: one whose headers
// may start any piece. Null for none.
const ListingForms* PieceHeaderOf(const Indexer& index, const unsigned char* piece,
                                  std::size_t length) {
    TextLine text;
    std::memcpy(text.data(), piece, length);
    text[length] = '\0';
    for (const Kind* each : kKinds) {
        const ListingForms& kind = each->listing;
        uint32_t number = 0;
        if (kind.headersInEveryPiece && (index.kind == nullptr || index.kind == &kind) &&
            kind.MayMatter(piece[0]) && kind.IsHeader(text.data(), &number)) {
            return &kind;
        }
    }
    return nullptr;
}

// Cuts a line into pieces from `offset`, where its second piece starts, and
// indexes those that are headers; gives the next line's start.
int64_t WalkPieces(Indexer& index, int64_t offset) {
    Window& window = index.window;
    for (;;) {
        Reach(window, offset, kPieceLookahead);
        const unsigned char* piece = InWindow(window, offset);
        const auto left = static_cast<std::size_t>(WindowEnd(window) - offset);
        const PieceCut cut = CutLinePiece(piece, left);
        const ListingForms* header =
            cut.length > 0 ? PieceHeaderOf(index, piece, cut.length) : nullptr;
        if (header != nullptr) {
            AcceptHeader(index, header, 0, offset);
            if (index.done) return offset;
        }
        offset += static_cast<int64_t>(cut.next);
        // Short of a piece and its line's end only where the text ends.
        if (cut.endsLine || cut.next == left) return offset;
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
        if (!cut) pieceLength = CutLinePiece(line.text, line.length).length;
        cut = true;
        return pieceLength;
    };
    bool header = false;
    if (line.length > 0 && MayMatter(index, line.text[0])) {
        TextLine piece;
        std::memcpy(piece.data(), line.text, cutFirstPiece());
        piece[pieceLength] = '\0';
        const bool onePiece = line.whole && pieceLength == line.length;
        header = NoteFirstPiece(index, piece.data(), line.offset, onePiece ? line.next : -1);
        if (index.done) return line.offset;
    }
    const bool unknown = index.kind == nullptr;
    if (!header && (index.search != ItemSearch::kDone || unknown)) {
        char text[kLineKeep];
        const std::size_t length = line.length < kLineKeep ? line.length : kLineKeep - 1;
        std::memcpy(text, line.text, length);
        text[length] = '\0';
        if (index.search != ItemSearch::kDone) NoteItem(index, text, line.offset);
        if (unknown) {
            ReadRule(text, line.whole && length == line.length);
            TextLine piece;
            const std::size_t first = cutFirstPiece();
            std::memcpy(piece.data(), line.text, first);
            piece[first] = '\0';
            for (const Kind* each : kKinds) {
                if (each->listing.NoteBeforeStates != nullptr) {
                    each->listing.NoteBeforeStates(piece.data(), text);
                }
            }
        }
    }
    const bool everyPiece = HeadersInEveryPiece(index);
    if (!line.whole) {
        const int64_t rest = line.offset + static_cast<int64_t>(cutFirstPiece());
        return everyPiece ? WalkPieces(index, rest) : SkipLine(index.window, rest);
    }
    // A piece after the first starts 10 bytes in or later (a byte takes 8 columns at most).
    constexpr std::size_t kShortest = kPieceColumns / kTabWidth;
    if (everyPiece && line.length > kShortest && cutFirstPiece() < line.length) {
        return WalkPieces(index, line.offset + static_cast<int64_t>(pieceLength));
    }
    return line.next;
}

// Says on the start-up lines that `file` is read from a copy.
void SayWhenCopied(const TextFile* file, const char* what) {
    const int64_t copied = TextCopiedLength(file);
    if (copied < 0) return;
    std::printf("The %s is a pipe: read from a copy (%" PRId64 " bytes)\n", what, copied);
}

}  // namespace

TextFile* OpenReaderFile(const char* path, const char* failure, const char* what) {
    TextFile* file = TextOpen(path);
    if (file == nullptr) {
        TextSayOpenFailed(path, failure);
        return nullptr;
    }
    SayWhenCopied(file, what);
    return file;
}

bool OpenLRT(const char* path) {
    pfileLRT =
        OpenReaderFile(path, "Cannot open YACC LRT file! Use '-v' flag with YACC", "state file");
    if (pfileLRT == nullptr) return false;
    std::printf("Reading the state file...\n");
    nState = 0;
    nStates = 0;
    std::memset(sRuleLength.data(), 0, nRules * sizeof sRuleLength[0]);
    nRules = 0;
    sNameSlots.fill(0);
    nNamesUsed = 1;
    nNames = 0;
    for (const Kind* each : kKinds) {
        if (each->listing.Forget != nullptr) each->listing.Forget();
    }
    Indexer index;
    index.window.file = pfileLRT;
    int64_t offset = 0;
    while (!index.done) {
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
    if (!index.done) lState[nStates] = offset;
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
        if (!TextReadPiece(szLRT[nLRTLines].data(), pfileLRT)) break;
        ++nLRTLines;
    }
}

const char* AccessingSymbol(uint32_t state) {
    return state < nStates ? &szNames[sAccessing[state]] : "";
}

bool ReadFirstItem(uint32_t state, TextLine& line) {
    if (pfileLRT == nullptr || state >= nStates || nFirstItem[state] == 0) return false;
    return TextSeek(pfileLRT, lState[state] + nFirstItem[state]) &&
           TextReadPiece(line.data(), pfileLRT);
}

int RuleLength(uint32_t rule) {
    if (pfileLRT == nullptr || rule >= nRules || sRuleLength[rule] == 0) return -1;
    return sRuleLength[rule] - 1;
}

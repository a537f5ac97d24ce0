// Jumps through the trace: a text forward or backward, the next syntax
// error, and the next or last step that enters a state.
//
// Stepping interprets every line, which is far too slow to reach a line
// millions of steps away. So the trace is first scanned in large raw
// blocks for the bytes a wanted line must hold. A text is matched within
// whole lines, so it may run across the pieces the reader makes of a line;
// the step found is the piece it starts in. Once the piece is known, the
// lines up to it are read whole and interpreted (InterpretLine) from the
// view of a step or a checkpoint before it, so the view comes out exactly as
// stepping there would leave it.
#include <algorithm>
#include <chrono>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "kwt.h"

namespace {

// Kept before the scan position when a block is read, so that the start of
// the line a candidate lies in is usually in the block too.
constexpr int64_t kBehind = 4096;
// Needed after a candidate before it can be judged: the rest of its piece
// and a CR LF that may end it.
constexpr auto kAhead = static_cast<int64_t>(kPieceLookahead);
constexpr std::size_t kBlockSize = std::size_t{256} * 1024;
constexpr unsigned char kEndOfText = 0x1A;
constexpr auto kProgressEvery = std::chrono::milliseconds(200);
// A search back scans stretches of the trace from this length, doubled up to
// the longest.
constexpr int64_t kFirstBackStretch = int64_t{1} << 20;
constexpr int64_t kLongestBackStretch = int64_t{64} << 20;
constexpr uint32_t kWalkLinesPerCheck = 4096;

unsigned char block[kBlockSize];

// ---- finding a key in raw bytes ----------------------------------------------

// Keys are found by the rarest of their bytes in the trace where it is rare
// enough (memchr runs far faster than any loop of ours), else by Horspool's
// search, which skips on the byte under the key's last position.
struct Finder {
    const unsigned char* key = nullptr;
    std::size_t length = 0;
    std::size_t shift[256] = {};
    bool byAnchor = false;
    std::size_t anchor = 0;  // the key's rarest byte, by its index in the key
};

// An anchor byte rarer than this share of the trace's bytes is taken.
constexpr std::size_t kAnchorShareDivisor = 256;
// Otherwise, in a sample of a whole block, the costs decide, in bytes that
// memchr passes over: each byte it stops at costs about kStopCost, a step of
// Horspool's search kStepCost. (Measured on traces of hundreds of megabytes:
// a stop 6-8 ns, a step 4-5 ns, a byte passed 0.2 ns.) A trace shorter than a
// block is searched in well under a millisecond either way.
constexpr double kStopCost = 40;
constexpr double kStepCost = 20;

void PrepareFinder(Finder& finder, const char* key) {
    finder.key = reinterpret_cast<const unsigned char*>(key);
    finder.length = std::strlen(key);
    for (std::size_t& shift : finder.shift) shift = finder.length;
    for (std::size_t i = 0; i + 1 < finder.length; ++i) {
        finder.shift[finder.key[i]] = finder.length - 1 - i;
    }
}

// Picks the anchor from how often each byte occurs in a sample of the trace,
// and whether to search by it: where it is rare, or where memchr's stops at
// it cost less than the steps Horspool's search would take over the sample.
void ChooseAnchor(Finder& finder, const unsigned char* sample, std::size_t length) {
    std::size_t count[256] = {};
    for (std::size_t i = 0; i < length; ++i) ++count[sample[i]];
    for (std::size_t i = 0; i < finder.length; ++i) {
        if (count[finder.key[i]] < count[finder.key[finder.anchor]]) finder.anchor = i;
    }
    const std::size_t stops = count[finder.key[finder.anchor]];
    // The sample's length over the steps Horspool's search takes through it.
    double shifted = 0;
    for (std::size_t byte = 0; byte < 256; ++byte) {
        shifted += static_cast<double>(count[byte]) * static_cast<double>(finder.shift[byte]);
    }
    const auto bytes = static_cast<double>(length);
    const double byAnchor = bytes + kStopCost * static_cast<double>(stops);
    const double byShifts = shifted > 0 ? kStepCost * bytes * bytes / shifted : 0;
    finder.byAnchor =
        stops <= length / kAnchorShareDivisor || (length == kBlockSize && byAnchor < byShifts);
}

// The first place in [from, end) where the whole key lies, or null.
const unsigned char* FindKey(const Finder& finder, const unsigned char* from,
                             const unsigned char* end) {
    const std::size_t length = finder.length;
    if (end - from < static_cast<std::ptrdiff_t>(length)) return nullptr;
    if (finder.byAnchor) {
        const std::size_t before = finder.anchor;
        const std::size_t after = length - 1 - before;
        const unsigned char byte = finder.key[before];
        for (const unsigned char* p = from + before; p < end - after; ++p) {
            p = static_cast<const unsigned char*>(
                std::memchr(p, byte, static_cast<std::size_t>(end - after - p)));
            if (p == nullptr) return nullptr;
            if (std::memcmp(p - before, finder.key, length) == 0) return p - before;
        }
        return nullptr;
    }
    const unsigned char last = finder.key[length - 1];
    const unsigned char* lastEnd = end - (length - 1);
    for (const unsigned char* p = from; p < lastEnd;) {
        const unsigned char byte = p[length - 1];
        if (byte == last && std::memcmp(p, finder.key, length - 1) == 0) return p;
        p += finder.shift[byte];
    }
    return nullptr;
}

// ---- progress and Esc ----------------------------------------------------------

// The share shown is of `length` bytes, `bias` + the offset reached; a scan
// back from the cursor sets both to count the bytes it has read.
struct Progress {
    ConsoleHandle input = nullptr;
    ConsoleHandle output = nullptr;
    int64_t length = 0;
    int64_t bias = 0;
    std::chrono::steady_clock::time_point shown{};
};

void ShowProgress(Progress& progress, int64_t offset) {
    progress.shown = std::chrono::steady_clock::now();
    if (!ScreenFits()) return;
    const int64_t share =
        progress.length > 0 ? (progress.bias + offset) * 100 / progress.length : 0;
    Textf(progress.output, StatusRow(), 0, "%-79.79s", "");
    Textf(progress.output, StatusRow(), 0, "Searching: %3d%% of the trace read   (Esc stops)",
          static_cast<int>(share < 100 ? share : 100));
}

// Shows how far the search has read, now and then, and looks for Esc among
// the keys typed meanwhile (the others are dropped). A resize clears the
// window for the progress alone: the screen comes back when the search
// ends. False on Esc.
bool GoOn(Progress& progress, int64_t offset) {
    if (std::chrono::steady_clock::now() - progress.shown >= kProgressEvery) {
        ShowProgress(progress, offset);
    }
    ConsoleEvent event;
    while (ConsolePollEvent(progress.input, &event)) {
        if (event.resized) {
            TakeResize(progress.output);
            ShowProgress(progress, offset);
        }
        if (event.isKey && event.keyDown && event.virtualKey == VirtualKey::kEscape) return false;
    }
    return true;
}

// ---- cutting the trace into pieces ---------------------------------------------

// One step's piece of a trace line, as ReadTracePiece gives it.
struct Piece {
    int64_t start = 0;
    int64_t end = 0;  // where the next piece starts
    bool endsLine = true;
    TextLine text{};
};

// Scans pieces where a key starts, in file order, from `from` to pieces
// starting before `until`.
struct Scan {
    std::array<Finder, 2> finders;
    std::size_t keys = 0;
    int64_t from = 0;
    int64_t until = 0;
    int64_t position = 0;  // the keys have been looked for before this
    int64_t blockStart = 0;
    int64_t blockEnd = 0;
    bool loaded = false;
    bool atEnd = false;  // the block reaches the end of the text
    Piece last;          // the last piece cut, so that a line is cut once
    bool haveLast = false;
    Progress* progress = nullptr;
};

enum class ScanStep { kPiece, kEnd, kStopped };

void StartScan(Scan& scan, const char* key, const char* otherKey, int64_t from, int64_t until,
               Progress* progress) {
    scan.keys = 0;
    for (const char* each : {key, otherKey}) {
        if (each != nullptr) PrepareFinder(scan.finders[scan.keys++], each);
    }
    scan.from = from;
    scan.until = until;
    scan.position = from;
    scan.progress = progress;
}

// Reads the block that goes on from the scan position; false on Esc.
bool LoadBlock(Scan& scan) {
    const bool first = !scan.loaded;
    if (!first && !GoOn(*scan.progress, scan.position)) return false;
    scan.loaded = true;
    scan.blockStart = scan.position > kBehind ? scan.position - kBehind : 0;
    std::size_t length = TextReadAt(pfileTrace, scan.blockStart, block, kBlockSize);
    scan.atEnd = length < kBlockSize;
    // The text ends at its first 0x1A, as it does for the reader.
    const void* mark = std::memchr(block, kEndOfText, length);
    if (mark != nullptr) {
        length = static_cast<std::size_t>(static_cast<const unsigned char*>(mark) - block);
        scan.atEnd = true;
    }
    scan.blockEnd = scan.blockStart + static_cast<int64_t>(length);
    if (first) {
        for (std::size_t k = 0; k < scan.keys; ++k) ChooseAnchor(scan.finders[k], block, length);
    }
    return true;
}

const unsigned char* InBlock(const Scan& scan, int64_t offset) {
    return block + (offset - scan.blockStart);
}

// Cuts the piece that starts at `start` from the block, as the reader does.
void CutPiece(const Scan& scan, int64_t start, Piece& piece) {
    const unsigned char* from = InBlock(scan, start);
    const PieceCut cut = CutLinePiece(from, static_cast<std::size_t>(scan.blockEnd - start));
    std::memcpy(piece.text.data(), from, cut.length);
    piece.text[cut.length] = '\0';
    piece.endsLine = cut.endsLine;
    piece.start = start;
    piece.end = start + static_cast<int64_t>(cut.next);
}

// The same, read through the trace's reader, for a line that starts before
// the block.
void CutPieceFromFile(int64_t start, Piece& piece) {
    piece.start = start;
    piece.text[0] = '\0';
    piece.endsLine = true;
    if (TextSeek(pfileTrace, start)) TextReadPiece(piece.text.data(), pfileTrace, &piece.endsLine);
    piece.end = TextTell(pfileTrace);
}

// The start of the line that holds `offset`.
int64_t LineStartOf(const Scan& scan, int64_t offset) {
    for (int64_t at = offset; at > scan.blockStart; --at) {
        if (*InBlock(scan, at - 1) == '\n') return at;
    }
    return scan.blockStart == 0 ? 0 : TextLineStart(pfileTrace, offset);
}

// The piece that holds the byte at `at`, cut from the start of its line (or
// from the last piece cut, in the same line).
void PieceHolding(Scan& scan, int64_t at, Piece& piece) {
    int64_t start = 0;
    if (scan.haveLast && at >= scan.last.start && at < scan.last.end) {
        piece = scan.last;
        return;
    }
    if (scan.haveLast && !scan.last.endsLine && at >= scan.last.end) {
        start = scan.last.end;
    } else {
        start = LineStartOf(scan, at);
    }
    for (;;) {
        if (start >= scan.blockStart) {
            CutPiece(scan, start, piece);
        } else {
            CutPieceFromFile(start, piece);
        }
        if (at < piece.end || piece.end <= start) break;
        start = piece.end;
    }
    scan.last = piece;
    scan.haveLast = true;
}

// The first place from `from` on where one of the first `keys` finders' keys
// lies whole, before `end`; null when none does.
const unsigned char* FindAnyKey(const std::array<Finder, 2>& finders, std::size_t keys,
                                const unsigned char* from, const unsigned char* end) {
    const unsigned char* first = nullptr;
    for (std::size_t k = 0; k < keys; ++k) {
        const unsigned char* found = FindKey(finders[k], from, first != nullptr ? first : end);
        if (found != nullptr) first = found;
    }
    return first;
}

ScanStep NextPiece(Scan& scan, Piece& piece) {
    for (;;) {
        if (scan.position >= scan.until) return ScanStep::kEnd;
        const int64_t limit = scan.atEnd ? scan.blockEnd : scan.blockEnd - kAhead;
        if (!scan.loaded || (scan.position >= limit && !scan.atEnd)) {
            if (!LoadBlock(scan)) return ScanStep::kStopped;
            continue;
        }
        if (scan.position >= limit) return ScanStep::kEnd;
        // Keys that start before the limit, whole.
        std::size_t longest = 0;
        for (std::size_t k = 0; k < scan.keys; ++k) {
            longest = std::max(longest, scan.finders[k].length);
        }
        const int64_t keyEnd = limit + static_cast<int64_t>(longest) - 1;
        const unsigned char* found =
            FindAnyKey(scan.finders, scan.keys, InBlock(scan, scan.position),
                       InBlock(scan, keyEnd < scan.blockEnd ? keyEnd : scan.blockEnd));
        if (found == nullptr || found >= InBlock(scan, limit)) {
            scan.position = limit;
            continue;
        }
        const int64_t at = scan.blockStart + (found - block);
        PieceHolding(scan, at, piece);
        scan.position = piece.end > at ? piece.end : at + 1;
        // A key is matched within its whole line, so one that runs on into
        // the next piece belongs to the piece it starts in; but not one after
        // a NUL byte in its piece, which the piece's text ends at.
        if (std::strlen(piece.text.data()) <= static_cast<std::size_t>(at - piece.start)) continue;
        return piece.start < scan.until ? ScanStep::kPiece : ScanStep::kEnd;
    }
}

// ---- lines for a walk ------------------------------------------------------------

// A walk takes line after line, millions of them on the way to the trace's
// end, so it reads the trace in raw blocks of its own and cuts them into lines
// by the rules of the trace's reader (ReadTraceLine): a line ends at its line
// feed, a carriage return right before that is no part of it, and the text
// ends at its first 0x1A. A line's head is ended by a zero written into the
// block, after at most kLineHeadSize - 1 bytes, instead of being copied; the
// byte it covers is put back before the next line is cut, so that a line can
// be read again. A line longer than the largest block is read by
// ReadTraceLine. The texts every error line holds (TraceErrorKeys) are looked
// for in the block, and a line that holds neither is marked so.
//
// Most walks are short: a walk's first block is small, and each block read
// after it twice as large, up to kBlockSize. What is seldom done (reading a
// block, looking for the keys) is kept out of line ([[gnu::noinline]]), so
// that what is done for every line stays small.
constexpr std::size_t kFirstLineBlock = std::size_t{16} * 1024;

// One byte past the block: the zero after a line that ends the text there.
unsigned char lineBlock[kBlockSize + 1];

struct LineSource {
    int64_t start = 0;                   // where lineBlock[0] lies in the trace
    std::size_t length = 0;              // the text in the block
    std::size_t size = kFirstLineBlock;  // the bytes the next read asks for
    bool loaded = false;
    bool atEnd = false;  // the block reaches the end of the text
    // The byte the zero after the last line's head covers, and where.
    std::size_t covered = 0;
    unsigned char coveredByte = 0;
    bool covering = false;
    std::array<Finder, 2> finders;
    std::size_t keys = 0;
    bool chosen = false;  // the finders chose how to search on a whole block
    // No error key starts from keyFrom up to keyAt, where one does (or the
    // block ends); keyFrom > keyAt: not looked for.
    int64_t keyFrom = 1;
    int64_t keyAt = 0;
};

void StartLines(LineSource& source) {
    source.loaded = false;
    source.covering = false;
    source.size = kFirstLineBlock;
    source.chosen = false;
    source.keys = 0;
    const char* key = nullptr;
    const char* otherKey = nullptr;
    TraceErrorKeys(&key, &otherKey);
    for (const char* each : {key, otherKey}) {
        if (each != nullptr) PrepareFinder(source.finders[source.keys++], each);
    }
}

void Uncover(LineSource& source) {
    if (source.covering) lineBlock[source.covered] = source.coveredByte;
    source.covering = false;
}

// Reads the block that starts at `at`, twice as large as the one before.
[[gnu::noinline]] void LoadLines(LineSource& source, int64_t at) {
    Uncover(source);
    source.loaded = true;
    source.start = at;
    source.length = TextReadAt(pfileTrace, at, lineBlock, source.size);
    source.atEnd = source.length < source.size;
    const void* mark = std::memchr(lineBlock, kEndOfText, source.length);
    if (mark != nullptr) {
        source.length =
            static_cast<std::size_t>(static_cast<const unsigned char*>(mark) - lineBlock);
        source.atEnd = true;
    }
    if (!source.chosen) {
        for (std::size_t k = 0; k < source.keys; ++k) {
            ChooseAnchor(source.finders[k], lineBlock, source.length);
        }
        source.chosen = source.length == kBlockSize;
    }
    source.size = std::min(source.size * 2, kBlockSize);
    source.keyFrom = 1;
    source.keyAt = 0;
}

int64_t BlockEnd(const LineSource& source) {
    return source.start + static_cast<int64_t>(source.length);
}

#if defined(__SSE2__)
// Whether one of the keys lies whole at `at`, before `end`.
bool KeyAt(const LineSource& source, const unsigned char* at, const unsigned char* end) {
    for (std::size_t k = 0; k < source.keys; ++k) {
        const Finder& finder = source.finders[k];
        if (static_cast<std::size_t>(end - at) >= finder.length &&
            std::memcmp(at, finder.key, finder.length) == 0) {
            return true;
        }
    }
    return false;
}
#endif

// The first place in [from, end) where a key lies whole; null when none does.
// A walk looks at every byte of the trace for the keys, which are mostly
// nowhere: where the processor has SSE2, 16 places at a time are tried for
// the first two bytes of a key together (a pair rare in any text, as `rr` and
// `RR` are), and only a place that has them for the whole key. Keys whose
// first two bytes differ only in the bit that tells a letter's case (`rr`
// and `RR`) are tried for at once, that bit set in the bytes compared.
const unsigned char* FindKeyInLines(const LineSource& source, const unsigned char* from,
                                    const unsigned char* end) {
#if defined(__SSE2__)
    constexpr unsigned char kCaseBit = 0x20;
    const std::size_t other = source.keys > 1 ? 1 : 0;
    const unsigned char* first = source.finders[0].key;
    const unsigned char* second = source.finders[other].key;
    if (source.keys > 0 && source.finders[0].length > 1 && source.finders[other].length > 1) {
        const bool folded = (first[0] | kCaseBit) == (second[0] | kCaseBit) &&
                            (first[1] | kCaseBit) == (second[1] | kCaseBit);
        const __m128i fold = _mm_set1_epi8(static_cast<char>(folded ? kCaseBit : 0));
        const __m128i first0 = _mm_set1_epi8(static_cast<char>(first[0] | (folded ? kCaseBit : 0)));
        const __m128i first1 = _mm_set1_epi8(static_cast<char>(first[1] | (folded ? kCaseBit : 0)));
        const __m128i second0 = _mm_set1_epi8(static_cast<char>(second[0]));
        const __m128i second1 = _mm_set1_epi8(static_cast<char>(second[1]));
        // The places among the 16 from `at` where a key's first two bytes are.
        const auto places = [&](const unsigned char* at) {
            const __m128i here =
                _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), fold);
            const __m128i after =
                _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 1)), fold);
            __m128i pairs =
                _mm_and_si128(_mm_cmpeq_epi8(here, first0), _mm_cmpeq_epi8(after, first1));
            if (!folded) {
                pairs = _mm_or_si128(pairs, _mm_and_si128(_mm_cmpeq_epi8(here, second0),
                                                          _mm_cmpeq_epi8(after, second1)));
            }
            return static_cast<unsigned>(_mm_movemask_epi8(pairs));
        };
        // 64 places at a time: there is mostly nothing to look at in them.
        for (; end - from > 64; from += 64) {
            const uint64_t found = uint64_t{places(from)} | uint64_t{places(from + 16)} << 16 |
                                   uint64_t{places(from + 32)} << 32 |
                                   uint64_t{places(from + 48)} << 48;
            for (uint64_t rest = found; rest != 0; rest &= rest - 1) {
                const unsigned char* place = from + __builtin_ctzll(rest);
                if (KeyAt(source, place, end)) return place;
            }
        }
        for (; end - from > 16; from += 16) {
            for (unsigned found = places(from); found != 0; found &= found - 1) {
                const unsigned char* place = from + __builtin_ctz(found);
                if (KeyAt(source, place, end)) return place;
            }
        }
    }
#endif
    return FindAnyKey(source.finders, source.keys, from, end);
}

// Looks for the first error key from `at` on in the block.
[[gnu::noinline]] void FindNextKey(LineSource& source, int64_t at) {
    const unsigned char* found =
        FindKeyInLines(source, lineBlock + (at - source.start), lineBlock + source.length);
    source.keyFrom = at;
    source.keyAt = found != nullptr ? source.start + (found - lineBlock) : BlockEnd(source);
}

// Where the first error key at or after `at` starts in the block, or the
// block's end.
int64_t NextKeyAt(LineSource& source, int64_t at) {
    if (source.keyFrom > at || at > source.keyAt) FindNextKey(source, at);
    return source.keyAt;
}

// The first line feed in [from, end), or null. Most lines are short: where
// the processor has SSE2 they are looked through 16 bytes at a time here,
// which costs less than a call to memchr.
const unsigned char* FindFeed(const unsigned char* from, const unsigned char* end) {
#if defined(__SSE2__)
    const __m128i feed = _mm_set1_epi8('\n');
    for (; end - from >= 16; from += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        const auto found = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, feed)));
        if (found != 0) return from + __builtin_ctz(found);
    }
#endif
    return static_cast<const unsigned char*>(
        std::memchr(from, '\n', static_cast<std::size_t>(end - from)));
}

// Makes the line at `at`, which the block holds whole, the line read:
// `feed` is its line feed, or null where the text ends with it.
void CutLine(LineSource& source, int64_t at, const unsigned char* feed, TraceLine& line,
             int64_t* next) {
    const auto offset = static_cast<std::size_t>(at - source.start);
    unsigned char* from = lineBlock + offset;
    const auto run =
        static_cast<std::size_t>(feed != nullptr ? feed - from : source.length - offset);
    const bool crlf = feed != nullptr && run > 0 && from[run - 1] == '\r';
    const std::size_t length = crlf ? run - 1 : run;
    line.start = at;
    line.length = static_cast<int64_t>(length);
    line.holdsNoErrorKey = NextKeyAt(source, at) >= at + static_cast<int64_t>(run);
    const std::size_t head = std::min(length, kLineHeadSize - 1);
    source.covered = offset + head;
    source.coveredByte = from[head];
    source.covering = true;
    from[head] = '\0';
    line.head = reinterpret_cast<const char*>(from);
    *next = at + static_cast<int64_t>(feed != nullptr ? run + 1 : run);
}

enum class Found { kInBlock, kRead, kEnd };

// TakeLine where the block does not hold the line and the byte after it: a
// block is read, or the line ends the text (`feed` gets null), or it is
// longer than the largest block (and ReadTraceLine reads it).
[[gnu::noinline]] Found FindLineAnew(LineSource& source, int64_t at, const unsigned char** feed,
                                     TraceLine& line, int64_t* next) {
    for (;;) {
        if (!source.loaded || at < source.start || at > BlockEnd(source)) LoadLines(source, at);
        const auto offset = static_cast<std::size_t>(at - source.start);
        const std::size_t left = source.length - offset;
        *feed = static_cast<const unsigned char*>(std::memchr(lineBlock + offset, '\n', left));
        const bool whole =
            source.atEnd || (*feed != nullptr && *feed + 1 < lineBlock + source.length);
        if (whole) return left > 0 ? Found::kInBlock : Found::kEnd;
        // The line runs on past the block: the block is read again from the
        // line's start, larger where it can be.
        if (offset == 0 && source.length == kBlockSize) {
            return ReadTraceLine(at, line, next) ? Found::kRead : Found::kEnd;
        }
        LoadLines(source, at);
    }
}

// Reads the line that starts at `at` as ReadTraceLine does; `next` gets
// where the line after it starts. False at the end of the text. A line is
// cut from the block only where the block also holds the byte after its
// line feed, or ends the text: whether another line follows is then known.
bool TakeLine(LineSource& source, int64_t at, TraceLine& line, int64_t* next) {
    Uncover(source);
    const unsigned char* feed = nullptr;
    if (source.loaded && at >= source.start && at < BlockEnd(source)) {
        feed = FindFeed(lineBlock + (at - source.start), lineBlock + source.length);
    }
    if (feed == nullptr || feed + 1 >= lineBlock + source.length) {
        const Found found = FindLineAnew(source, at, &feed, line, next);
        if (found != Found::kInBlock) return found == Found::kRead;
    }
    CutLine(source, at, feed, line, next);
    return true;
}

// Whether another line starts at `at`, where a line taken ends. A line cut
// from the block ends before the block does, or with the text.
bool MoreLines(LineSource& source, int64_t at) {
    if (source.loaded && at >= source.start && at < BlockEnd(source)) return true;
    if (source.loaded && at == BlockEnd(source) && source.atEnd) return false;
    // Only after a line ReadTraceLine read, whose head is not in the block.
    LoadLines(source, at);
    return source.length > 0;
}

// ---- walking through lines -------------------------------------------------------

// Reads whole lines from a line start with the view after the lines before
// it, interpreting each as stepping would.
struct Walk {
    int64_t next = 0;  // the start of the next line
    LineSource source;
    ParserView view;
    // kwt's own format reads the state on screen, which stepping sets to
    // each step's state.
    uint32_t screen = 0;
    uint32_t lines = 0;
    Progress* progress = nullptr;
    // A view to keep while walking on, for a jump back.
    ParserView kept;
    bool keeping = false;
    int64_t checkpointDue = 0;  // CheckpointDue()
};

void StartWalk(Walk& walk, int64_t lineStart, const ParserView& view, uint32_t screen,
               Progress& progress) {
    walk.next = lineStart;
    walk.view = view;
    walk.screen = screen;
    walk.lines = 0;
    walk.progress = &progress;
    walk.keeping = false;
    walk.checkpointDue = CheckpointDue();
    StartLines(walk.source);
}

enum class WalkStep { kLine, kEnd, kStopped };

// Reads the line at walk.next into `line`, without interpreting it.
WalkStep ReadWalkLine(Walk& walk, TraceLine& line) {
    if (++walk.lines % kWalkLinesPerCheck == 0 && !GoOn(*walk.progress, walk.next)) {
        return WalkStep::kStopped;
    }
    if (!TakeLine(walk.source, walk.next, line, &walk.next)) return WalkStep::kEnd;
    return WalkStep::kLine;
}

void Interpret(Walk& walk, const TraceLine& line) {
    bool collected = false;
    if (walk.keeping) {
        const ParserView held[2] = {walk.view, walk.kept};
        collected = KeepStackRoom(held, 2);
    } else {
        collected = KeepStackRoom(&walk.view, 1);
    }
    if (collected) walk.checkpointDue = CheckpointDue();
    InterpretLine(walk.view, line, walk.screen);
    walk.screen = walk.view.state;
    if (walk.next >= walk.checkpointDue) {
        NoteCheckpoint(walk.next, walk.view);
        walk.checkpointDue = CheckpointDue();
    }
}

// Whether the piece at `target` lies in `line`.
bool Holds(const TraceLine& line, int64_t target) {
    return target >= line.start && target < line.start + std::max<int64_t>(line.length, 1);
}

// Walks on to the line that holds the piece at `target`, interpreting every
// line before it; walk.next is then that line's start.
WalkStep WalkToLineOf(Walk& walk, int64_t target) {
    TraceLine line;
    for (;;) {
        const int64_t start = walk.next;
        const WalkStep step = ReadWalkLine(walk, line);
        if (step != WalkStep::kLine) return step;
        if (Holds(line, target)) {
            walk.next = start;
            return WalkStep::kLine;
        }
        Interpret(walk, line);
    }
}

// The start of the last piece of `line`, where the line takes effect.
int64_t LastPieceStart(const TraceLine& line) {
    int64_t start = line.start;
    bool endsLine = false;
    TextLine piece{};
    if (!TextSeek(pfileTrace, start)) return start;
    while (TextReadPiece(piece.data(), pfileTrace, &endsLine) && !endsLine) {
        start = TextTell(pfileTrace);
    }
    return start;
}

// Makes the piece at `target` the newest step, with `before`, the view
// before its line: the view after it is what stepping onto it gives.
void Land(int64_t target, const ParserView& before, uint32_t screen) {
    ParserView view = before;
    KeepStackRoom(&view, 1);
    TracePiece piece;
    if (ReadTracePiece(target, &piece)) {
        szTrace = piece.text;
        FollowPiece(view, piece, screen);
    }
    RecordJump(target, view);
    nState = view.state;
    LoadLRT();
}

// ---- the searches ------------------------------------------------------------------------

// The cursor step: its piece, and where walking on from it starts.
struct Cursor {
    int64_t piece = 0;
    int64_t lineStart = 0;  // the start of the line of its piece
    int64_t walkFrom = 0;   // the first line that has not yet taken effect
    ParserView view;
};

Cursor CursorStep() {
    Cursor cursor;
    cursor.piece = lTrace[sStepCursor];
    cursor.view = ShownView();
    cursor.lineStart = cursor.piece;
    cursor.walkFrom = cursor.piece;
    TracePiece piece;
    if (ReadTracePiece(cursor.piece, &piece)) {
        cursor.lineStart = piece.lineStart;
        cursor.walkFrom = piece.endsLine ? piece.next : piece.lineStart;
    }
    return cursor;
}

// `/` and `n`: the first piece after the cursor that holds `text`.
SearchOutcome FindForward(const Cursor& cursor, const char* text, Progress& progress) {
    Scan scan;
    Piece piece;
    StartScan(scan, text, nullptr, cursor.lineStart, INT64_MAX, &progress);
    for (;;) {
        const ScanStep step = NextPiece(scan, piece);
        if (step == ScanStep::kStopped) return SearchOutcome::kStopped;
        if (step == ScanStep::kEnd) return SearchOutcome::kNotFound;
        if (piece.start > cursor.piece) break;
    }
    Walk walk;
    StartWalk(walk, cursor.walkFrom, cursor.view, nState, progress);
    const WalkStep step = WalkToLineOf(walk, piece.start);
    if (step != WalkStep::kLine) {
        return step == WalkStep::kStopped ? SearchOutcome::kStopped : SearchOutcome::kNotFound;
    }
    Land(piece.start, walk.view, walk.screen);
    return SearchOutcome::kFound;
}

// Walks from the checkpoint before `target` to it and lands there.
SearchOutcome WalkFromCheckpoint(int64_t target, Progress& progress) {
    int64_t start = 0;
    ParserView view;
    FindCheckpoint(target, &start, &view);
    Walk walk;
    StartWalk(walk, start, view, view.state, progress);
    const WalkStep step = WalkToLineOf(walk, target);
    if (step != WalkStep::kLine) {
        return step == WalkStep::kStopped ? SearchOutcome::kStopped : SearchOutcome::kNotFound;
    }
    Land(target, walk.view, walk.screen);
    return SearchOutcome::kFound;
}

// `N`: the last piece before the cursor that holds `text`. The trace is
// scanned back from the cursor in stretches that double in length, each one
// forward: a piece found in a stretch holds the text after the stretch's
// start, so it lies after any piece of the stretches before it, and the last
// one found in the first stretch that has any is the piece wanted. A text
// near the cursor is found without reading the trace from its start.
SearchOutcome FindBackward(const Cursor& cursor, const char* text, Progress& progress) {
    const int64_t first = FirstLineStart();
    int64_t end = cursor.piece;
    int64_t length = kFirstBackStretch;
    int64_t found = -1;
    progress.length = cursor.piece - first;
    while (found < 0 && end > first) {
        const int64_t start = end - first > length ? end - length : first;
        Scan scan;
        Piece piece;
        progress.bias = cursor.piece - end - start;
        StartScan(scan, text, nullptr, start, end, &progress);
        for (;;) {
            const ScanStep step = NextPiece(scan, piece);
            if (step == ScanStep::kStopped) return SearchOutcome::kStopped;
            if (step == ScanStep::kEnd) break;
            found = piece.start;
        }
        end = start;
        length = std::min(length * 2, kLongestBackStretch);
    }
    if (found < 0) return SearchOutcome::kNotFound;
    progress.length = TextLength(pfileTrace);
    progress.bias = 0;
    return WalkFromCheckpoint(found, progress);
}

// `e`: the first line after the cursor's that starts a new error. Lines that
// can be error lines are found in the raw trace; the walk to each says
// whether the parser has shifted a real token since the error before it.
SearchOutcome FindError(const Cursor& cursor, Progress& progress) {
    Scan scan;
    Piece piece;
    const char* key = nullptr;
    const char* otherKey = nullptr;
    TraceErrorKeys(&key, &otherKey);
    StartScan(scan, key, otherKey, cursor.lineStart, INT64_MAX, &progress);
    Walk walk;
    StartWalk(walk, cursor.walkFrom, cursor.view, nState, progress);
    TraceLine line;
    for (;;) {
        const ScanStep found = NextPiece(scan, piece);
        if (found == ScanStep::kStopped) return SearchOutcome::kStopped;
        if (found == ScanStep::kEnd) return SearchOutcome::kNotFound;
        if (piece.start < walk.next) continue;  // in a line already passed
        WalkStep step = WalkToLineOf(walk, piece.start);
        const int64_t lineStart = walk.next;
        if (step == WalkStep::kLine) step = ReadWalkLine(walk, line);
        if (step != WalkStep::kLine) {
            return step == WalkStep::kStopped ? SearchOutcome::kStopped : SearchOutcome::kNotFound;
        }
        if (lineStart > cursor.piece && StartsNewError(walk.view, line)) {
            Land(lineStart, walk.view, walk.screen);
            return SearchOutcome::kFound;
        }
        Interpret(walk, line);
    }
}

// Whether interpreting `line` takes the parser into `state` from another.
bool Enters(const Walk& walk, const TraceLine& line, uint32_t state, ParserView* after) {
    *after = walk.view;
    InterpretLine(*after, line, walk.screen);
    return after->state == state && walk.view.state != state;
}

// `>`: the first step after the cursor where the parser enters `state`.
SearchOutcome FindEntryForward(const Cursor& cursor, uint32_t state, Progress& progress) {
    Walk walk;
    StartWalk(walk, cursor.walkFrom, cursor.view, nState, progress);
    TraceLine line;
    ParserView after;
    for (;;) {
        const WalkStep step = ReadWalkLine(walk, line);
        if (step != WalkStep::kLine) {
            return step == WalkStep::kStopped ? SearchOutcome::kStopped : SearchOutcome::kNotFound;
        }
        KeepStackRoom(&walk.view, 1);
        if (Enters(walk, line, state, &after)) {
            Land(LastPieceStart(line), walk.view, walk.screen);
            return SearchOutcome::kFound;
        }
        walk.view = after;
        walk.screen = after.state;
        NoteCheckpoint(walk.next, walk.view);
    }
}

// `<`: the last step before the cursor where the parser enters `state`. The
// stretches between checkpoints are walked from the nearest back.
SearchOutcome FindEntryBackward(const Cursor& cursor, uint32_t state, Progress& progress) {
    int64_t end = cursor.lineStart;
    while (end > FirstLineStart()) {
        int64_t start = 0;
        ParserView view;
        FindCheckpoint(end - 1, &start, &view);
        Walk walk;
        StartWalk(walk, start, view, view.state, progress);
        TraceLine line;
        ParserView after;
        int64_t entry = -1;
        while (walk.next < end) {
            const WalkStep step = ReadWalkLine(walk, line);
            if (step == WalkStep::kStopped) return SearchOutcome::kStopped;
            if (step == WalkStep::kEnd) break;
            walk.keeping = entry >= 0;
            ParserView held[2] = {walk.view, walk.kept};
            KeepStackRoom(held, walk.keeping ? 2 : 1);
            if (Enters(walk, line, state, &after)) {
                entry = LastPieceStart(line);
                walk.kept = walk.view;
            }
            walk.view = after;
            walk.screen = after.state;
        }
        if (entry >= 0) {
            Land(entry, walk.kept, walk.kept.state);
            return SearchOutcome::kFound;
        }
        end = start;
    }
    return SearchOutcome::kNotFound;
}

// `G`: the trace's last step, the last piece of its last line. Every line
// after the cursor's takes effect on the way; the last is left to Land, which
// takes it as a step onto its last piece does.
SearchOutcome FindEnd(const Cursor& cursor, Progress& progress) {
    Walk walk;
    StartWalk(walk, cursor.walkFrom, cursor.view, nState, progress);
    TraceLine line;
    for (;;) {
        if (++walk.lines % kWalkLinesPerCheck == 0 && !GoOn(*walk.progress, walk.next)) {
            return SearchOutcome::kStopped;
        }
        // Only before the first line: the cursor's step is the last.
        if (!TakeLine(walk.source, walk.next, line, &walk.next)) return SearchOutcome::kNotFound;
        if (!MoreLines(walk.source, walk.next)) break;
        Interpret(walk, line);
    }
    Land(LastPieceStart(line), walk.view, walk.screen);
    return SearchOutcome::kFound;
}

}  // namespace

SearchOutcome SearchTrace(ConsoleHandle input, ConsoleHandle output, SearchKind kind,
                          const char* text, uint32_t state) {
    if (pfileTrace == nullptr) return SearchOutcome::kNotFound;
    const bool byText = kind == SearchKind::kForward || kind == SearchKind::kBackward;
    const std::size_t length = byText ? std::strlen(text) : 1;
    if (length == 0 || length > static_cast<std::size_t>(kPieceColumns)) {
        return SearchOutcome::kNotFound;
    }
    Progress progress;
    progress.input = input;
    progress.output = output;
    progress.length = TextLength(pfileTrace);
    ShowProgress(progress, 0);
    const Cursor cursor = CursorStep();
    switch (kind) {
    case SearchKind::kForward: return FindForward(cursor, text, progress);
    case SearchKind::kBackward: return FindBackward(cursor, text, progress);
    case SearchKind::kError: return FindError(cursor, progress);
    case SearchKind::kEnterForward: return FindEntryForward(cursor, state, progress);
    case SearchKind::kEnterBackward: return FindEntryBackward(cursor, state, progress);
    case SearchKind::kEnd: return FindEnd(cursor, progress);
    }
    return SearchOutcome::kNotFound;
}

// Jumps through the trace: a text forward or backward, and the next syntax
// error.
//
// Stepping interprets every line, which is far too slow to reach a line
// millions of steps away. So the trace is first scanned in large raw
// blocks for the bytes a wanted line must hold, and only those candidates
// are cut into the 80-character pieces the reader makes of a line, to be
// checked as a step would show them. Once the line is known, the lines up to
// it are read and interpreted by the reader itself (ReadTrace, ParseTrace),
// with the listing loaded once at the end, so the state, the lookahead and
// the return state come out exactly as stepping there would leave them.
#include <chrono>
#include <cstring>

#include "kwt.h"

namespace {

constexpr std::size_t kPieceLength = kLineSize - 1;
// Kept before the scan position when a block is read: the start of the
// piece a candidate lies in.
constexpr int64_t kBehind = static_cast<int64_t>(kPieceLength) + 1;
// Needed after a candidate before it can be judged: the rest of its piece
// and a CR LF that may end it.
constexpr int64_t kAhead = static_cast<int64_t>(kPieceLength) + 2;
constexpr std::size_t kBlockSize = std::size_t{256} * 1024;
constexpr unsigned char kEndOfText = 0x1A;
// Every error line holds this: "error:", "Error:", "error recovery", "syntax error".
constexpr char kErrorKey[] = "rror";
constexpr auto kProgressEvery = std::chrono::milliseconds(200);
constexpr uint32_t kWalkLinesPerCheck = 4096;

unsigned char block[kBlockSize];

// Where the trace starts and the state it starts in, for jumps that are
// computed from the first line.
int64_t traceStartOffset = 0;
TraceState traceStart{};

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

// An anchor byte must be rarer than this share of the trace's bytes.
constexpr std::size_t kAnchorShareDivisor = 256;

void PrepareFinder(Finder& finder, const char* key) {
    finder.key = reinterpret_cast<const unsigned char*>(key);
    finder.length = std::strlen(key);
    for (std::size_t& shift : finder.shift) shift = finder.length;
    for (std::size_t i = 0; i + 1 < finder.length; ++i) {
        finder.shift[finder.key[i]] = finder.length - 1 - i;
    }
}

// Picks the anchor from how often each byte occurs in a sample of the trace.
void ChooseAnchor(Finder& finder, const unsigned char* sample, std::size_t length) {
    std::size_t count[256] = {};
    for (std::size_t i = 0; i < length; ++i) ++count[sample[i]];
    for (std::size_t i = 0; i < finder.length; ++i) {
        if (count[finder.key[i]] < count[finder.key[finder.anchor]]) finder.anchor = i;
    }
    finder.byAnchor = count[finder.key[finder.anchor]] <= length / kAnchorShareDivisor;
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

struct Progress {
    ConsoleHandle input = nullptr;
    ConsoleHandle output = nullptr;
    int64_t length = 0;
    std::chrono::steady_clock::time_point shown{};
};

void ShowProgress(Progress& progress, int64_t offset) {
    const int64_t share = progress.length > 0 ? offset * 100 / progress.length : 0;
    Textf(progress.output, kStatusRow, 0, "%-79.79s", "");
    Textf(progress.output, kStatusRow, 0, "Searching: %3d%% of the trace read   (Esc stops)",
          static_cast<int>(share < 100 ? share : 100));
    progress.shown = std::chrono::steady_clock::now();
}

// Shows how far the search has read, now and then, and looks for Esc among
// the keys typed meanwhile (the others are dropped). False on Esc.
bool GoOn(Progress& progress, int64_t offset) {
    if (std::chrono::steady_clock::now() - progress.shown >= kProgressEvery) {
        ShowProgress(progress, offset);
    }
    ConsoleEvent event;
    while (ConsolePollEvent(progress.input, &event)) {
        if (event.isKey && event.keyDown && event.virtualKey == VirtualKey::kEscape) return false;
    }
    return true;
}

// ---- cutting the trace into pieces ---------------------------------------------

// One step's piece of a trace line, as ReadTrace gives it.
struct Piece {
    int64_t start = 0;
    int64_t end = 0;  // where the next piece starts
    TextLine text{};
};

// Scans pieces that hold the key, in file order, from `from` (a piece start,
// which the scan takes as a line start) to pieces starting before `until`.
struct Scan {
    Finder finder;
    int64_t from = 0;
    int64_t until = 0;
    int64_t position = 0;   // the key has been looked for before this
    int64_t lineStart = 0;  // the start of the line that holds `position`
    int64_t blockStart = 0;
    int64_t blockEnd = 0;
    bool loaded = false;
    bool atEnd = false;  // the block reaches the end of the text
    Progress* progress = nullptr;
};

enum class ScanStep { kPiece, kEnd, kStopped };

void StartScan(Scan& scan, const char* key, int64_t from, int64_t until, Progress* progress) {
    PrepareFinder(scan.finder, key);
    scan.from = from;
    scan.until = until;
    scan.position = from;
    scan.lineStart = from;
    scan.progress = progress;
}

// Reads the block that goes on from the scan position; false on Esc.
bool LoadBlock(Scan& scan) {
    const bool first = !scan.loaded;
    if (!first && !GoOn(*scan.progress, scan.position)) return false;
    scan.loaded = true;
    scan.blockStart = scan.position - kBehind > scan.from ? scan.position - kBehind : scan.from;
    std::size_t length = TextReadAt(pfileTrace, scan.blockStart, block, kBlockSize);
    scan.atEnd = length < kBlockSize;
    // The text ends at its first 0x1A, as it does for the reader.
    const void* mark = std::memchr(block, kEndOfText, length);
    if (mark != nullptr) {
        length = static_cast<std::size_t>(static_cast<const unsigned char*>(mark) - block);
        scan.atEnd = true;
    }
    scan.blockEnd = scan.blockStart + static_cast<int64_t>(length);
    if (first) ChooseAnchor(scan.finder, block, length);
    return true;
}

const unsigned char* InBlock(const Scan& scan, int64_t offset) {
    return block + (offset - scan.blockStart);
}

// The start of the line that holds `offset`, at or after the scan position.
int64_t LineStartOf(const Scan& scan, int64_t offset) {
    for (int64_t at = offset; at > scan.position; --at) {
        if (*InBlock(scan, at - 1) == '\n') return at;
    }
    return scan.lineStart;
}

// Cuts the piece that starts at `start` as the reader does: at most 80
// characters, up to and including a line feed; CR LF counts as one.
// Gives true when the piece ends its line.
bool CutPiece(const Scan& scan, int64_t start, Piece& piece) {
    const unsigned char* p = InBlock(scan, start);
    const unsigned char* end = InBlock(scan, scan.blockEnd);
    std::size_t count = 0;
    bool endsLine = false;
    while (count < kPieceLength && p < end) {
        if (*p == '\n' || (*p == '\r' && p + 1 < end && p[1] == '\n')) {
            p += *p == '\n' ? 1 : 2;
            endsLine = true;
            break;
        }
        piece.text[count++] = static_cast<char>(*p++);
    }
    piece.text[count] = '\0';
    piece.start = start;
    piece.end = scan.blockStart + (p - block);
    return endsLine;
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
        const int64_t keyEnd = limit + static_cast<int64_t>(scan.finder.length) - 1;
        const unsigned char* found =
            FindKey(scan.finder, InBlock(scan, scan.position),
                    InBlock(scan, keyEnd < scan.blockEnd ? keyEnd : scan.blockEnd));
        if (found == nullptr || found >= InBlock(scan, limit)) {
            scan.lineStart = LineStartOf(scan, limit);
            scan.position = limit;
            continue;
        }
        const int64_t at = scan.blockStart + (found - block);
        const int64_t lineStart = LineStartOf(scan, at);
        const int64_t pieceLength = static_cast<int64_t>(kPieceLength);
        const int64_t start = lineStart + (at - lineStart) / pieceLength * pieceLength;
        const bool endsLine = CutPiece(scan, start, piece);
        scan.lineStart = endsLine ? piece.end : lineStart;
        scan.position = piece.end;
        return start < scan.until ? ScanStep::kPiece : ScanStep::kEnd;
    }
}

bool IsErrorLine(const char* text) {
    return std::strncmp(text, "error:", 6) == 0 || std::strncmp(text, "Error:", 6) == 0 ||
           std::strstr(text, "error recovery") != nullptr ||
           std::strstr(text, "syntax error") != nullptr;
}

// The start of the piece the search lands on; -1 when there is none, -2
// when Esc stopped the scan.
constexpr int64_t kNoPiece = -1;
constexpr int64_t kStoppedScan = -2;

int64_t FindPiece(SearchKind kind, const char* text, int64_t cursorPiece, Progress& progress) {
    Scan scan;
    Piece piece;
    int64_t found = kNoPiece;
    int64_t errorEnd = kNoPiece;  // where the last error line seen ends
    if (kind == SearchKind::kBackward) {
        StartScan(scan, text, traceStartOffset, cursorPiece, &progress);
    } else {
        StartScan(scan, kind == SearchKind::kError ? kErrorKey : text, cursorPiece, INT64_MAX,
                  &progress);
    }
    for (;;) {
        const ScanStep step = NextPiece(scan, piece);
        if (step == ScanStep::kStopped) return kStoppedScan;
        if (step == ScanStep::kEnd) return found;
        const char* line = piece.text.data();
        switch (kind) {
        case SearchKind::kBackward:
            // The last one before the current step is the nearest.
            if (std::strstr(line, text) != nullptr) found = piece.start;
            break;
        case SearchKind::kForward:
            if (piece.start > cursorPiece && std::strstr(line, text) != nullptr) {
                return piece.start;
            }
            break;
        case SearchKind::kError:
            if (!IsErrorLine(line)) break;
            // The current step's own line counts as the line before.
            if (piece.start > cursorPiece && piece.start != errorEnd) return piece.start;
            errorEnd = piece.end;
            break;
        }
    }
}

// ---- stepping to the piece found -----------------------------------------------

enum class WalkEnd { kArrived, kStopped, kLost };

// Reads the piece at `from` as the shown step, then reads and interprets
// every piece up to and including the one at `target`, as pressing keypad
// plus would. The listing is closed meanwhile, so no state change loads
// its text.
WalkEnd WalkTo(int64_t from, int64_t target, Progress& progress) {
    TextFile* listing = pfileLRT;
    pfileLRT = nullptr;
    WalkEnd end = WalkEnd::kLost;
    if (TextSeek(pfileTrace, from) && ReadTrace()) {
        end = from == target ? WalkEnd::kArrived : WalkEnd::kLost;
        for (uint32_t lines = 1; end == WalkEnd::kLost; ++lines) {
            const int64_t offset = TextTell(pfileTrace);
            if (lines % kWalkLinesPerCheck == 0 && !GoOn(progress, offset)) {
                end = WalkEnd::kStopped;
                break;
            }
            if (offset > target || !ReadTrace()) break;
            ParseTrace();
            if (offset == target) end = WalkEnd::kArrived;
        }
    }
    pfileLRT = listing;
    return end;
}

}  // namespace

void MarkTraceStart() {
    traceStartOffset = pfileTrace != nullptr ? TextTell(pfileTrace) : 0;
    traceStart = SaveTraceState();
}

SearchOutcome SearchTrace(ConsoleHandle input, ConsoleHandle output, SearchKind kind,
                          const char* text) {
    if (pfileTrace == nullptr) return SearchOutcome::kNotFound;
    const std::size_t length = kind == SearchKind::kError ? 1 : std::strlen(text);
    if (length == 0 || length > kPieceLength) return SearchOutcome::kNotFound;
    Progress progress;
    progress.input = input;
    progress.output = output;
    progress.length = TextLength(pfileTrace);
    ShowProgress(progress, 0);

    const int64_t cursorPiece = lTrace[sStateCursor];
    const int64_t found = FindPiece(kind, text, cursorPiece, progress);
    if (found == kStoppedScan) return SearchOutcome::kStopped;
    if (found == kNoPiece) return SearchOutcome::kNotFound;

    // From the newest step, a forward jump goes on from the state shown, as
    // keypad plus would; otherwise the state is worked out from the first
    // line on.
    const TraceState before = SaveTraceState();
    const int64_t resumeAt = TextTell(pfileTrace);
    const bool fromCursor =
        kind != SearchKind::kBackward && static_cast<uint16_t>(sStateCursor + 1) == sStateTop;
    if (!fromCursor) RestoreTraceState(traceStart);
    const WalkEnd end = WalkTo(fromCursor ? cursorPiece : traceStartOffset, found, progress);
    if (end != WalkEnd::kArrived) {
        RestoreTraceState(before);
        TextSeek(pfileTrace, resumeAt);
        LoadLRT();
        return end == WalkEnd::kStopped ? SearchOutcome::kStopped : SearchOutcome::kNotFound;
    }
    RecordJump(found);
    LoadLRT();
    return SearchOutcome::kFound;
}

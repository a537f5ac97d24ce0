// The parser's debug trace: read piece by piece for the screen, and line by
// line into the parser's view: the state it is in, its lookahead, the state
// it came from and its stacks.
//
// OpenTrace tells the trace's kind from the first line that only one kind
// writes (kinds.h); each line is then interpreted by that kind alone. What
// the kinds share to interpret a line with lives here too.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "kinds.h"

TextFile* pfileTrace = nullptr;
TextLine szTrace{};

const std::array<const Kind*, 4> kKinds{&kKindOwn, &kKindByacc, &kKindBison, &kKindLemon};

namespace {

const TraceForms* kind = &kKindOwn.trace;

// The first line of kwt's own format is shown but never interpreted.
int64_t firstLineStart = 0;

bool IsShownOnly(int64_t lineStart) { return kind->skipsFirstLine && lineStart == firstLineStart; }

// The lines before countedTo: countedLines - 1 of them.
int64_t countedTo = 0;
int64_t countedLines = 1;
std::array<char, std::size_t{64} * 1024> countBlock{};
std::array<char, kLineHeadSize> lineHead{};

constexpr char kEndOfInput[] = "$end";

// ---- names the trace gives its tokens ------------------------------------------------

constexpr std::size_t kTraceNamesMax = 1024;
constexpr std::size_t kNameSlots = 2 * kTraceNamesMax;

std::array<std::array<char, kTokenNameSize>, kTraceNamesMax + 1> szTraceName{};
std::array<uint8_t, kTraceNamesMax + 1> nameLengths{};
uint16_t traceNames = 0;
std::array<uint16_t, kNameSlots> nameSlots{};

void ForgetNames() {
    traceNames = 0;
    nameSlots.fill(0);
    NameIndex(kNoTokenYet, sizeof kNoTokenYet - 1);
}

// The kind only `line` could come from, or null when any could write it.
const TraceForms* KindOfLine(const char* line) {
    for (const Kind* each : kKinds) {
        if (each->trace.Recognise(line)) return &each->trace;
    }
    return nullptr;
}

// The kind of the first line of any kind's form, however far into the file
// (a program may print much before it parses); kwt's own when there is none.
const TraceForms* TellKind(TextFile* file) {
    const TraceForms* found = nullptr;
    int64_t start = 0;
    int64_t length = 0;
    while (found == nullptr &&
           TextReadLine(file, lineHead.data(), lineHead.size(), &start, &length)) {
        found = KindOfLine(lineHead.data());
    }
    TextSeek(file, 0);
    return found != nullptr ? found : &kKindOwn.trace;
}

// ---- what the kinds share ----------------------------------------------------------------

// Names are short: compared byte by byte, they cost no call.
bool SameBytes(const char* a, const char* b, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

}  // namespace

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
            nameLengths[slot] = static_cast<uint8_t>(length);
            return slot;
        }
        if (nameLengths[slot] == length && SameBytes(szTraceName[slot].data(), name, length)) {
            return slot;
        }
    }
    return 0;
}

bool ScanFinalCount(const char* text, uint32_t* value) {
    if (!ScanCount(text, value)) return false;
    while (*text == ' ' || *text == '\t' || *text == '\r') ++text;
    return *text == '\0';
}

void MoveTo(ParserView& view, uint32_t state) {
    if (state == view.state) return;
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

void AwaitPush(ParserView& view, uint8_t number, uint16_t pops) {
    view.flags = static_cast<uint8_t>(view.flags | kPushPending);
    view.pendingStack = number;
    view.pendingPops = pops;
}

void PopState(ParserView& view, uint32_t number, uint32_t popped) {
    if (number >= kSplitStacksMax) return;
    StackHandle& stack = view.stacks[number];
    const uint32_t depth = StackDepth(stack);
    stack = StackPop(stack, 1);
    const bool named = depth > 1 && StackState(stack) != kUnknownEntry;
    MoveTo(view, named ? StackState(stack) : popped);
}

ParserView FirstViewWithStack() {
    ParserView view;
    view.tokenName = kNoTokenName;
    view.stacks[0] = kEmptyStack;
    view.flags = kNewErrorAllowed;
    AwaitPush(view, 0, 0);
    return view;
}

bool IsYaccErrorLine(const TraceLine& line) {
    const char* head = line.head;
    return std::strncmp(head, "error:", 6) == 0 || std::strncmp(head, "Error:", 6) == 0 ||
           std::strstr(head, "error recovery") != nullptr ||
           std::strstr(head, "ERROR recovery") != nullptr ||
           std::strstr(head, "syntax error") != nullptr;
}

bool ReadLineBytes(int64_t at, char* buffer, std::size_t size, std::size_t* got) {
    *got = TextReadAt(pfileTrace, at, buffer, size);
    const void* nul = std::memchr(buffer, '\0', *got);
    if (nul == nullptr) return true;
    *got = static_cast<std::size_t>(static_cast<const char*>(nul) - buffer);
    return false;
}

// ---- the trace ---------------------------------------------------------------------------

bool OpenTrace(const char* path) {
    pfileTrace = OpenReaderFile(path, "Cannot open YACC Trace file!", "trace");
    if (pfileTrace == nullptr) return false;
    ForgetNames();
    kind = TellKind(pfileTrace);
    firstLineStart = 0;
    countedTo = 0;
    countedLines = 1;
    return true;
}

void CloseTrace() {
    TextClose(pfileTrace);
    pfileTrace = nullptr;
    kind = &kKindOwn.trace;
    ForgetNames();
}

bool TraceHasStacks() { return kind->hasStacks; }

ParserView FirstView() { return kind->FirstView(); }

void MarkFirstLine() { firstLineStart = pfileTrace != nullptr ? TextTell(pfileTrace) : 0; }

int64_t FirstLineStart() { return firstLineStart; }

bool ReadTracePiece(int64_t offset, TracePiece* piece) {
    if (pfileTrace == nullptr || !TextSeek(pfileTrace, offset)) return false;
    if (!TextReadPiece(piece->text.data(), pfileTrace, &piece->endsLine, &piece->length)) {
        return false;
    }
    piece->start = offset;
    piece->next = TextTell(pfileTrace);
    piece->lineStart = TextLineStart(pfileTrace, offset);
    return true;
}

void FollowPiece(ParserView& view, const TracePiece& piece, uint32_t screen) {
    if (!piece.endsLine) {
        // kwt's own format keeps the state on screen at a line that names none.
        if (kind->readsScreen && !IsShownOnly(piece.lineStart)) view.state = screen;
        return;
    }
    TraceLine line;
    line.start = piece.lineStart;
    line.length = piece.start - piece.lineStart + static_cast<int64_t>(piece.length);
    const auto want = static_cast<std::size_t>(std::min<int64_t>(line.length, kLineHeadSize - 1));
    std::size_t got = want;
    if (piece.lineStart == piece.start) {
        std::memcpy(lineHead.data(), piece.text.data(), want);
    } else {
        got = TextReadAt(pfileTrace, line.start, lineHead.data(), want);
    }
    lineHead[got] = '\0';
    line.head = lineHead.data();
    InterpretLine(view, line, screen);
}

std::size_t ReadPiecesBefore(int64_t offset, TracePiece* pieces, std::size_t count) {
    // Line by line back from `offset`: each line's pieces are cut from its
    // start, and those nearest `offset` fill the array from its end.
    std::size_t found = 0;
    TracePiece piece;
    for (int64_t end = offset; found < count && end > firstLineStart;) {
        const int64_t lineStart = std::max(TextLineStart(pfileTrace, end - 1), firstLineStart);
        std::size_t inLine = 0;
        for (int64_t at = lineStart; at < end && ReadTracePiece(at, &piece); at = piece.next) {
            ++inLine;
        }
        const std::size_t kept = std::min(inLine, count - found);
        std::size_t skipped = inLine - kept;
        std::size_t into = count - found - kept;
        for (int64_t at = lineStart; at < end && ReadTracePiece(at, &piece); at = piece.next) {
            if (skipped > 0) {
                --skipped;
            } else {
                pieces[into++] = piece;
            }
        }
        found += kept;
        end = lineStart;
    }
    std::copy(pieces + (count - found), pieces + count, pieces);
    return found;
}

bool FindInputSpans(int64_t end, InputSpan* lookahead, InputSpan* result) {
    // Lines back from the step's, no more of them than a parse's usual
    // stretch between two tokens.
    constexpr uint32_t kLinesBack = 20000;
    *lookahead = InputSpan{};
    *result = InputSpan{};
    if (pfileTrace == nullptr || kind->ReadSpan == nullptr) return false;
    bool lookaheadKnown = false;
    bool resultKnown = false;
    bool located = false;
    for (uint32_t lines = 0; lines < kLinesBack && end > firstLineStart; ++lines) {
        const int64_t start = std::max(TextLineStart(pfileTrace, end - 1), firstLineStart);
        const auto want =
            static_cast<std::size_t>(std::min<int64_t>(end - start, kLineHeadSize - 1));
        const std::size_t got = TextReadAt(pfileTrace, start, lineHead.data(), want);
        lineHead[got] = '\0';
        lineHead[std::strcspn(lineHead.data(), "\r\n")] = '\0';
        InputSpan span;
        switch (kind->ReadSpan(lineHead.data(), &span)) {
        case SpanLine::kLookahead:
            if (!lookaheadKnown) *lookahead = span;
            lookaheadKnown = true;
            located = located || span.line > 0;
            break;
        case SpanLine::kResult:
            if (!resultKnown) *result = span;
            resultKnown = true;
            located = true;
            break;
        case SpanLine::kStart: return located;
        default: break;
        }
        if (lookaheadKnown && resultKnown) break;
        end = start;
    }
    return located;
}

int64_t TraceLineNumber(int64_t lineStart) {
    // Counting goes on from the line asked for last, where that lies before.
    if (lineStart < countedTo) {
        countedTo = 0;
        countedLines = 1;
    }
    while (countedTo < lineStart) {
        const auto want = static_cast<std::size_t>(
            std::min<int64_t>(lineStart - countedTo, static_cast<int64_t>(countBlock.size())));
        const std::size_t got = TextReadAt(pfileTrace, countedTo, countBlock.data(), want);
        if (got == 0) break;
        countedLines += std::count(countBlock.data(), countBlock.data() + got, '\n');
        countedTo += static_cast<int64_t>(got);
    }
    return countedLines;
}

bool ReadTraceLine(int64_t offset, TraceLine& line, int64_t* next) {
    // A walk reads line after line: the reader mostly stands where it must.
    const bool there =
        pfileTrace != nullptr && TextTell(pfileTrace) == offset && !TextEof(pfileTrace);
    if (pfileTrace == nullptr || (!there && !TextSeek(pfileTrace, offset)) ||
        !TextReadLine(pfileTrace, lineHead.data(), lineHead.size(), &line.start, &line.length)) {
        return false;
    }
    line.head = lineHead.data();
    line.holdsNoErrorKey = false;
    *next = TextTell(pfileTrace);
    return true;
}

void InterpretLine(ParserView& view, const TraceLine& line, uint32_t screen) {
    if (IsShownOnly(line.start)) return;
    kind->Interpret(view, line, screen);
    // An error line ends what allows a new error: one error lasts until the
    // kind allows the next (a generator's parser shifts a real token).
    if (!line.holdsNoErrorKey && kind->IsErrorLine(line)) {
        view.flags = static_cast<uint8_t>(view.flags & ~kNewErrorAllowed);
    }
}

bool StartsNewError(const ParserView& before, const TraceLine& line) {
    return !IsShownOnly(line.start) && (before.flags & kNewErrorAllowed) != 0 &&
           !line.holdsNoErrorKey && kind->IsErrorLine(line);
}

void TraceErrorKeys(const char** key, const char** otherKey) {
    *key = kind->errorKey;
    *otherKey = kind->otherErrorKey;
}

bool IsTraceTokenName(uint16_t index, const char* name, std::size_t length) {
    if (length > kTokenNameSize - 1) length = kTokenNameSize - 1;
    return index > 0 && index <= traceNames && nameLengths[index] == length &&
           SameBytes(szTraceName[index].data(), name, length);
}

std::size_t WriteTraceTokenName(uint16_t index, char* out) {
    if (index == 0 || index > traceNames) return 0;
    const std::size_t length = nameLengths[index];
    if (length == kTokenNameSize - 1) return 0;
    // A fixed size is copied without a loop: a row is two halves.
    constexpr std::size_t kHalf = kTokenNameSize / 2;
    std::memcpy(out, szTraceName[index].data(), kHalf);
    if (length > kHalf) std::memcpy(out + kHalf, szTraceName[index].data() + kHalf, kHalf);
    return length;
}

const char* TraceTokenName(uint16_t index) {
    return index > 0 && index <= traceNames ? szTraceName[index].data() : "";
}

// What the listing window shows besides a state's text, and the panes
// around it: the parser's stack (the stack page, and the pane beside the
// listing window from 100 columns), the trace around the step (the trace
// page, and the pane below the listing window from 40 rows).
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "kwt.h"

namespace {

// ---- the stack ---------------------------------------------------------------------

// The stack the shown step's view follows; a GLR parser may have several.
StackHandle FollowedStack(const ParserView& view) {
    return view.followed < kSplitStacksMax ? view.stacks[view.followed] : kUnknownStack;
}

// Calls show(row, state, symbol) for the entries of `stack` from the top
// down, the first `skip` passed over, on rows from `row` up to `end`;
// `state` is kUnknownEntry for a depth the trace never named, kNoStateEntry
// for a symbol a lemon parser shifted with a reduction pending, which only
// its `symbol` names (TraceTokenName). Gives the row after the last.
template <typename Show>
int WalkStack(StackHandle stack, uint32_t skip, int row, int end, Show show) {
    const uint32_t depth = StackDepth(stack);
    for (uint32_t index = 0; index < depth && row < end; ++index) {
        const uint32_t at = depth - 1 - index;
        const bool known = stack != kUnknownStack && StackEntryDepth(stack) == at;
        if (index >= skip) {
            show(row++, known ? StackState(stack) : kUnknownEntry, known ? StackSymbol(stack) : 0);
        }
        if (known) stack = StackBelow(stack);
    }
    return row;
}

void ShowStackHeader(ConsoleHandle output, const ParserView& view, StackHandle stack) {
    char header[2 * kLineSize];
    if (!TraceHasStacks()) {
        std::snprintf(header, sizeof header, "%s",
                      "No stack: kwt's own trace format does not record the parser's stack");
    } else if (stack == kUnknownStack) {
        std::snprintf(header, sizeof header, "%s", "The parser's stack is not known at this step");
    } else {
        const uint32_t depth = StackDepth(stack);
        const char* states = depth == 1 ? "state" : "states";
        if (view.followed > 0) {
            std::snprintf(header, sizeof header, "Stack %u of the split parser: %u %s, top first",
                          static_cast<unsigned>(view.followed), depth, states);
        } else {
            std::snprintf(header, sizeof header, "The parser's stack: %u %s, top first", depth,
                          states);
        }
    }
    ShowTextRow(output, 0, header);
}

// One entry: its state, the symbol that leads there, and its first item.
void ShowStackEntry(ConsoleHandle output, int row, uint32_t state) {
    TextLine item{};
    const char* text = "";
    if (ReadFirstItem(state, item)) {
        text = item.data();
        while (*text == ' ' || *text == '\t') ++text;
    }
    char line[2 * kLineSize];
    std::snprintf(line, sizeof line, "%6u  %-20.20s  %s", state, AccessingSymbol(state), text);
    ShowTextRow(output, row, line);
}

// ---- the trace ---------------------------------------------------------------------

// The row above the trace pane.
constexpr char kTracePaneDivider[] =
    "-- the trace before this step ------------------------------------------------";

// The pieces around the step that a page or pane shows at once.
constexpr std::size_t kPiecesMax = 1024;
std::array<TracePiece, kPiecesMax> pieces{};

// Lines before this offset are counted for the page's header; past it the
// header gives the byte offset instead.
constexpr int64_t kCountedBytes = int64_t{64} << 20;

// The step's line: "Trace line L of the file", or where counting the lines
// before it would read too much, its byte offset.
void ShowTraceHeader(ConsoleHandle output, const TracePiece& step) {
    char header[2 * kLineSize];
    if (step.lineStart <= kCountedBytes) {
        std::snprintf(header, sizeof header, "Trace line %lld of the file",
                      static_cast<long long>(TraceLineNumber(step.lineStart)));
    } else {
        std::snprintf(header, sizeof header, "Trace byte offset %lld",
                      static_cast<long long>(step.lineStart));
    }
    ShowTextRow(output, 0, header);
}

// The step's row stands out: in reverse video where the console shows
// attributes, else with a mark in its first column.
void MarkRow(ConsoleHandle output, int row) {
    if (!ConsoleShowsAttributes()) {
        Text(output, row, 0, ">");
        return;
    }
    ConsoleBufferInfo info;
    if (!ConsoleGetBufferInfo(output, &info)) return;
    const auto reverse = static_cast<ConsoleAttribute>(((info.attribute & 0x0F) << 4) |
                                                       ((info.attribute >> 4) & 0x0F));
    uint32_t filled = 0;
    ConsoleFillAttribute(output, reverse, kScreenColumns, 0, row, &filled);
}

// Rows `first` to `end` show the pieces before the step's, the nearest on
// the last of them, blank rows where the trace has no more.
void ShowPiecesBefore(ConsoleHandle output, const TracePiece& step, int first, int end) {
    const auto rows = static_cast<std::size_t>(end > first ? end - first : 0);
    const std::size_t count =
        ReadPiecesBefore(step.start, pieces.data(), std::min(rows, kPiecesMax));
    int row = first;
    for (std::size_t blank = rows - count; blank > 0; --blank) ShowTextRow(output, row++, "");
    for (std::size_t i = 0; i < count; ++i) ShowTextRow(output, row++, pieces[i].text.data());
}

// The piece of the step on display.
bool ReadStepPiece(TracePiece* step) { return ReadTracePiece(lTrace[sStepCursor], step); }

// The trace page's row of the step, around it: about two-thirds down, so
// that more shows of what led to the step than of what follows.
int StepRow() { return 1 + (ListingRows() - 1) * 2 / 3; }

// ---- the input ---------------------------------------------------------------------

// The attributes of the lookahead's characters (reverse video) and of the
// last reduction's (underlined) in `normal` text.
ConsoleAttribute Reversed(ConsoleAttribute normal) {
    return static_cast<ConsoleAttribute>((normal & ~0xFF) | ((normal & 0x0F) << 4) |
                                         ((normal >> 4) & 0x0F));
}
constexpr ConsoleAttribute kUnderline = 0x8000;

// An input line's number, then its text from the cell that keeps the
// lookahead in view.
constexpr int kNumberColumns = 7;
constexpr int kInputColumns = kScreenColumns - kNumberColumns;

// Of a line, up to this many bytes are read.
constexpr std::size_t kInputLineKeep = std::size_t{16} * 1024;
std::array<char, kInputLineKeep + 1> inputLine{};

// Reads line `number` of the input into inputLine, up to its line feed (a
// CR before it dropped) or the text's end; its length, or -1 past the end.
long ReadInputLine(uint32_t number) {
    const int64_t start = InputLineStart(number);
    if (start < 0) return -1;
    const std::size_t got = TextReadAt(pfileInput, start, inputLine.data(), kInputLineKeep);
    std::size_t length = 0;
    while (length < got && inputLine[length] != '\n' && inputLine[length] != 0x1A) ++length;
    if (length > 0 && length < got && inputLine[length - 1] == '\r') --length;
    if (got == 0 && number > 1) return -1;
    inputLine[length] = '\0';
    return static_cast<long>(length);
}

// Calls cell(first, count, bytes, size) for each character of a line (a
// UTF-8 sequence is one, as the lexer counts them): the cells it starts at
// and takes as the console lays them out (a tab runs to the next multiple
// of 8; a UTF-8 sequence takes one cell where the console shows it as one
// character, else one a byte), and its bytes.
template <typename Cell>
void ForEachCharacter(const char* text, std::size_t length, Cell cell) {
    const auto oneCell = ConsoleOneCellTest();
    int at = 0;
    for (std::size_t i = 0; i < length;) {
        char32_t character = 0;
        std::size_t size = DecodeUtf8(text + i, length - i, &character);
        int cells = static_cast<int>(size);
        if (size == 0) {
            size = 1;
            cells = ColumnsOf(static_cast<unsigned char>(text[i]), at);
        } else if (oneCell != nullptr && oneCell(character)) {
            cells = 1;
        }
        cell(at, cells, text + i, size);
        at += cells;
        i += size;
    }
}

// The cell where character `column` (from 1) of the line starts; past the
// line's end a column takes one cell.
int CellOf(const char* text, std::size_t length, uint32_t column) {
    uint32_t character = 1;
    int found = -1;
    int end = 0;
    ForEachCharacter(text, length, [&](int at, int cells, const char*, std::size_t) {
        if (character++ == column) found = at;
        end = at + cells;
    });
    return found >= 0 ? found : end + static_cast<int>(column - character);
}

// `12.5-9`, `12.5-13.2` or `12.5`.
void FormatSpan(const InputSpan& span, char* text, std::size_t size) {
    if (span.endLine != span.line) {
        std::snprintf(text, size, "%u.%u-%u.%u", span.line, span.column, span.endLine,
                      span.endColumn);
    } else if (span.endColumn != span.column) {
        std::snprintf(text, size, "%u.%u-%u", span.line, span.column, span.endColumn);
    } else {
        std::snprintf(text, size, "%u.%u", span.line, span.column);
    }
}

// Whether character `column` of line `line` lies in `span`.
bool InSpan(const InputSpan& span, uint32_t line, uint32_t column) {
    if (span.line == 0 || line < span.line || line > span.endLine) return false;
    return (line > span.line || column >= span.column) &&
           (line < span.endLine || column <= span.endColumn);
}

// The first line the page shows around `focus`: it stands a third down.
uint32_t FirstLineAround(const InputSpan& focus) {
    const auto third = static_cast<uint32_t>((ListingRows() - 1) / 3);
    return focus.line > third ? focus.line - third : 1;
}

// The input's lines the page shows around the step: the first, or 0 where
// the page shows none.
uint32_t InputPageFirstLine() {
    TracePiece step;
    InputSpan lookahead;
    InputSpan result;
    if (pfileInput == nullptr || !ReadStepPiece(&step) ||
        !FindInputSpans(step.endsLine ? step.next : step.lineStart, &lookahead, &result)) {
        return 0;
    }
    const InputSpan& focus = lookahead.line > 0 ? lookahead : result;
    return focus.line > 0 ? FirstLineAround(focus) : 0;
}

// One line of the input on `row`: its number, its cells from `first` on,
// the lookahead's characters reversed and the reduction's underlined.
void ShowInputLine(ConsoleHandle output, int row, uint32_t number, int first,
                   const InputSpan& lookahead, const InputSpan& result, bool marks) {
    const long length = ReadInputLine(number);
    if (length < 0) {
        ShowTextRow(output, row, "");
        return;
    }
    char shown[2 * kLineSize * 4];
    int used = std::snprintf(shown, sizeof shown, "%6u ", number);
    const auto size = static_cast<std::size_t>(length);
    ForEachCharacter(
        inputLine.data(), size, [&](int at, int cells, const char* bytes, std::size_t count) {
            if (at < first || at + cells > first + kInputColumns) return;
            for (int i = 0; *bytes == '\t' && i < cells && used + 1 < int(sizeof shown); ++i) {
                shown[used++] = ' ';
            }
            if (*bytes == '\t' || used + int(count) >= int(sizeof shown)) return;
            std::memcpy(shown + used, bytes, count);
            used += static_cast<int>(count);
        });
    shown[used] = '\0';
    ShowTextRow(output, row, shown);
    ConsoleBufferInfo info;
    if (!marks || !ConsoleGetBufferInfo(output, &info)) return;
    uint32_t column = 1;
    ForEachCharacter(inputLine.data(), size, [&](int at, int cells, const char*, std::size_t) {
        const bool token = InSpan(lookahead, number, column);
        const bool reduced = InSpan(result, number, column++);
        if ((!token && !reduced) || at < first || at + cells > first + kInputColumns) return;
        ConsoleAttribute attribute = token ? Reversed(info.attribute) : info.attribute;
        if (reduced) attribute = static_cast<ConsoleAttribute>(attribute | kUnderline);
        uint32_t filled = 0;
        ConsoleFillAttribute(output, attribute, static_cast<uint32_t>(cells),
                             kNumberColumns + at - first, row, &filled);
    });
}

// A row of the pane beside the listing window: the divider in column 80,
// then `text` in the columns from 81 to the window's right edge, blanked
// first in runs of at most 80.
void ShowPaneRow(ConsoleHandle output, int row, const char* text) {
    const int width = nScreenColumns - kStackPaneColumn;
    Text(output, row, kScreenColumns, "|");
    for (int done = 0; done < width; done += kScreenColumns) {
        const int run = width - done < kScreenColumns ? width - done : kScreenColumns;
        Textf(output, row, kStackPaneColumn + done, "%*s", run, "");
    }
    Textf(output, row, kStackPaneColumn, "%.*s", width, text);
}

}  // namespace

uint32_t StackPageLines() { return StackDepth(FollowedStack(ShownView())); }

// The stack from the top down, `scroll` entries passed over; a depth the
// trace never named shows as a question mark, an entry of no state as a
// dash and its symbol.
void ShowStackPage(ConsoleHandle output, uint16_t scroll) {
    const ParserView& view = ShownView();
    const StackHandle stack = FollowedStack(view);
    ShowStackHeader(output, view, stack);
    const auto show = [output](int at, uint32_t state, uint16_t symbol) {
        char line[2 * kLineSize];
        if (state == kUnknownEntry) {
            ShowTextRow(output, at, "     ?  (a state the trace does not name)");
        } else if (state == kNoStateEntry) {
            std::snprintf(line, sizeof line, "%6s  %-20.20s  %s", "-", TraceTokenName(symbol),
                          "(shifted with a reduction pending: in no state)");
            ShowTextRow(output, at, line);
        } else {
            ShowStackEntry(output, at, state);
        }
    };
    int row = WalkStack(stack, scroll, 1, ListingRows(), show);
    for (; row < ListingRows(); ++row) Textf(output, row, 0, "%80s", "");
}

// The shown step's stack from the top down, one entry a row: its state and
// the symbol that leads there; "..." on the last row when more entries
// remain than rows.
void ShowStackPane(ConsoleHandle output) {
    const ParserView& view = ShownView();
    const StackHandle stack = FollowedStack(view);
    char line[2 * kLineSize];
    if (view.followed > 0 && view.followed < kSplitStacksMax) {
        std::snprintf(line, sizeof line, "Stack %u, top first",
                      static_cast<unsigned>(view.followed));
    } else {
        std::snprintf(line, sizeof line, "%s", "Stack, top first");
    }
    ShowPaneRow(output, 0, line);
    const int end = ListingRows();
    int row = 1;
    if (!TraceHasStacks() || stack == kUnknownStack) {
        ShowPaneRow(output, row++, TraceHasStacks() ? "Stack not known" : "No stack recorded");
    } else {
        const bool cut = StackDepth(stack) > static_cast<uint32_t>(end - row);
        const auto show = [&line, output](int at, uint32_t state, uint16_t symbol) {
            if (state == kUnknownEntry) {
                std::snprintf(line, sizeof line, "%5s", "?");
            } else if (state == kNoStateEntry) {
                std::snprintf(line, sizeof line, "%5s %s", "-", TraceTokenName(symbol));
            } else {
                std::snprintf(line, sizeof line, "%5u %s", state, AccessingSymbol(state));
            }
            ShowPaneRow(output, at, line);
        };
        row = WalkStack(stack, 0, row, cut ? end - 1 : end, show);
        if (cut) ShowPaneRow(output, row++, "...");
    }
    for (; row < end; ++row) ShowPaneRow(output, row, "");
}

void ShowTracePage(ConsoleHandle output, int64_t top) {
    TracePiece step;
    const int end = ListingRows();
    if (!ReadStepPiece(&step)) {
        ShowTextRow(output, 0, "The trace is empty");
        for (int row = 1; row < end; ++row) ShowTextRow(output, row, "");
        return;
    }
    ShowTraceHeader(output, step);
    int row = 1;
    if (top < 0) {
        // About two-thirds down: more of what led to the step than of what follows.
        row = StepRow();
        ShowPiecesBefore(output, step, 1, row);
        top = step.start;
    }
    TracePiece piece;
    for (int64_t at = top; row < end && ReadTracePiece(at, &piece); at = piece.next, ++row) {
        ShowTextRow(output, row, piece.text.data());
        if (piece.start == step.start) MarkRow(output, row);
    }
    for (; row < end; ++row) ShowTextRow(output, row, "");
}

int64_t MoveTracePage(int64_t top, PageMove move) {
    const int rows = ListingRows() - 1;
    TracePiece step;
    if (rows < 1 || !ReadStepPiece(&step)) return -1;
    const auto before = static_cast<std::size_t>(std::min(StepRow() - 1, int(kPiecesMax)));
    if (top < 0) {
        // The piece on the page's first row, where the trace has one there.
        const std::size_t count = ReadPiecesBefore(step.start, pieces.data(), before);
        top = count > 0 ? pieces[0].start : step.start;
    }
    // The last page puts the trace's last piece on the last row.
    const auto window = static_cast<std::size_t>(std::min(rows, int(kPiecesMax)));
    const std::size_t tail = ReadPiecesBefore(TextLength(pfileTrace), pieces.data(), window);
    const int64_t last = tail > 0 ? pieces[0].start : FirstLineStart();
    int64_t moved = top;
    switch (move) {
    case PageMove::kFirst: moved = FirstLineStart(); break;
    case PageMove::kLast: moved = std::max(last, FirstLineStart()); break;
    case PageMove::kBack:
        if (ReadPiecesBefore(top, pieces.data(), window - 1) > 0) moved = pieces[0].start;
        break;
    case PageMove::kOn: {
        TracePiece piece;
        for (int i = 0; i < rows - 1 && ReadTracePiece(moved, &piece); ++i) moved = piece.next;
        moved = std::min(moved, last);
        break;
    }
    }
    const bool forward = move == PageMove::kOn || move == PageMove::kLast;
    if (forward) return moved > top ? moved : -1;
    return moved < top ? moved : -1;
}

uint32_t MoveInputPage(uint32_t top, PageMove move) {
    const int rows = ListingRows() - 1;
    const uint32_t first = top > 0 ? top : InputPageFirstLine();
    if (first == 0 || rows < 1) return 0;
    const uint32_t lines = InputLineCount();
    const uint32_t last = lines > uint32_t(rows) ? lines - uint32_t(rows) + 1 : 1;
    uint32_t moved = first;
    switch (move) {
    case PageMove::kFirst: moved = 1; break;
    case PageMove::kLast: moved = last; break;
    case PageMove::kBack:
        moved = first > uint32_t(rows - 1) ? first - uint32_t(rows - 1) : 1;
        break;
    case PageMove::kOn: moved = std::min(first + uint32_t(rows - 1), std::max(last, first)); break;
    }
    return moved == first ? 0 : moved;
}

void ShowInputPage(ConsoleHandle output, uint32_t top) {
    const int end = ListingRows();
    TracePiece step;
    InputSpan lookahead;
    InputSpan result;
    const bool read = ReadStepPiece(&step);
    const bool located =
        read && FindInputSpans(step.endsLine ? step.next : step.lineStart, &lookahead, &result);
    char header[4 * kLineSize];
    if (pfileInput == nullptr) {
        std::snprintf(header, sizeof header, "%s",
                      "No input: give kwt the file the parser read, as kwt TRACE LISTING HEADER "
                      "INPUT");
    } else if (!located) {
        std::snprintf(header, sizeof header, "%s",
                      "No location here: bison writes them where the grammar has %locations and "
                      "the lexer sets yylloc");
    } else {
        char where[96] = "no lookahead";
        if (lookahead.line > 0) {
            char span[48];
            FormatSpan(lookahead, span, sizeof span);
            std::snprintf(where, sizeof where, "%.24s at %s", TokenName(ShownView()), span);
        }
        std::snprintf(header, sizeof header, "%s: %s", InputName(), where);
    }
    ShowTextRow(output, 0, header);
    const InputSpan& focus = lookahead.line > 0 ? lookahead : result;
    if (pfileInput == nullptr || !located || focus.line == 0) {
        for (int row = 1; row < end; ++row) ShowTextRow(output, row, "");
        return;
    }
    // The lookahead's line a third of the way down (or the lines from
    // `top`), and its characters in view: a line too long for the window
    // shows from a cell before them.
    const uint32_t firstLine = top > 0 ? top : FirstLineAround(focus);
    const long length = ReadInputLine(focus.line);
    if (length < 0) {
        // The trace's location is not in this input: from another run, most likely.
        char note[2 * kLineSize];
        std::snprintf(note, sizeof note,
                      "Line %u is past the input's end (%u lines): is it the file the parser read?",
                      focus.line, InputLineCount());
        ShowTextRow(output, 1, note);
        for (int row = 2; row < end; ++row) ShowTextRow(output, row, "");
        return;
    }
    const auto size = static_cast<std::size_t>(length);
    const int from = CellOf(inputLine.data(), size, focus.column);
    const int to = CellOf(inputLine.data(), size,
                          focus.endLine == focus.line ? focus.endColumn : focus.column);
    const int first = to >= kInputColumns ? std::max(0, from - kInputColumns / 3) : 0;
    const bool marks = ConsoleShowsAttributes();
    for (int row = 1; row < end; ++row) {
        const uint32_t number = firstLine + uint32_t(row - 1);
        ShowInputLine(output, row, number, first, lookahead, result, marks);
        if (!marks && number == focus.line) Text(output, row, 0, ">");
    }
}

void ShowTracePane(ConsoleHandle output) {
    const int rows = TracePaneRows();
    if (rows == 0) return;
    const int divider = TraceRow() - rows - 1;
    ShowTextRow(output, divider, kTracePaneDivider);
    TracePiece step;
    if (!ReadStepPiece(&step)) {
        for (int row = divider + 1; row < TraceRow(); ++row) ShowTextRow(output, row, "");
        return;
    }
    ShowPiecesBefore(output, step, divider + 1, TraceRow());
}

// How bytes written at the cursor take up the cells of one row, the same
// on every console: a tab fills blanks up to the next multiple of 8 columns,
// every other byte (control bytes and bytes of 0x80 or more included) takes
// exactly one cell, and nothing goes past the end of the row. Where the
// console can show Unicode, a well-formed UTF-8 sequence of a character it
// accepts takes one cell instead of one per byte.
#pragma once

#include <cstddef>

constexpr int kTabWidth = 8;

// The columns a byte takes when it starts at `column`: a tab runs to the
// next multiple of 8, every other byte takes one.
constexpr int ColumnsOf(unsigned char byte, int column) {
    return byte == '\t' ? kTabWidth - column % kTabWidth : 1;
}

// A file line is shown in pieces, one row each: a piece is the longest run
// of the line's bytes that takes at most 80 columns, so that every byte of
// it shows. A line of exactly 80 columns is one piece. Every reader, the
// search and the screen cut lines by CutLinePiece alone, so that a piece
// found by one is the very piece the others show.
constexpr int kPieceColumns = 80;

// How a piece lies in the bytes from its start: `length` bytes of text,
// then, where `endsLine`, the line feed (or CR LF) that ends its line;
// `next` bytes after its start the next piece starts.
struct PieceCut {
    std::size_t length = 0;
    std::size_t next = 0;
    bool endsLine = true;
};

// The bytes a cut may look at: a piece's 80 and a CR LF after them.
constexpr std::size_t kPieceLookahead = kPieceColumns + 2;

// Cuts the piece that starts at `text`, where `size` bytes are at hand:
// all that is left of the text, or at least kPieceLookahead of it. A line
// feed, or a carriage return right before one, ends the line; a line feed
// right after 80 columns still belongs to the piece. Where the bytes run
// out, the text ends, and so does the line.
constexpr PieceCut CutLinePiece(const unsigned char* text, std::size_t size) {
    PieceCut cut;
    int column = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const bool crlf = text[i] == '\r' && i + 1 < size && text[i + 1] == '\n';
        if (text[i] == '\n' || crlf) {
            cut.length = i;
            cut.next = i + (crlf ? 2 : 1);
            return cut;
        }
        const int columns = ColumnsOf(text[i], column);
        if (column + columns > kPieceColumns) {
            cut.length = cut.next = i;
            cut.endsLine = false;
            return cut;
        }
        column += columns;
    }
    cut.length = cut.next = size;
    return cut;
}

// The program's screen is 80 columns wide, and a write that starts in it
// never goes past column 79, however wide the console: a line cannot spill
// into the stack pane beside it. A write that starts at column 80 or further
// (the pane) runs to the end of the row.
constexpr int kLayoutColumns = 80;

constexpr int RowEnd(int consoleWidth, int column) {
    return consoleWidth < kLayoutColumns || column >= kLayoutColumns ? consoleWidth
                                                                     : kLayoutColumns;
}

// The code point of the well-formed UTF-8 sequence at the start of `text`
// and its length in bytes (2 to 4); 0 where the bytes there are not one:
// a lone or stray byte, a sequence cut short, an overlong form, a surrogate
// or a value past U+10FFFF. ASCII bytes are never a sequence here.
inline std::size_t DecodeUtf8(const char* text, std::size_t length, char32_t* character) {
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t size = 0;
    char32_t value = 0;
    char32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        size = 2;
        value = lead & 0x1Fu;
        least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        size = 3;
        value = lead & 0x0Fu;
        least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        size = 4;
        value = lead & 0x07u;
        least = 0x10000;
    } else {
        return 0;
    }
    if (size > length) return 0;
    for (std::size_t i = 1; i < size; ++i) {
        const auto next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0u) != 0x80u) return 0;
        value = (value << 6) | (next & 0x3Fu);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *character = value;
    return size;
}

// Says whether a decoded character may show as itself in one cell.
using OneCellTest = bool (*)(char32_t character);

// Calls placeByte(column, byte) for every cell a single byte takes and,
// when `oneCell` is given, placeCharacter(column, character) for every
// UTF-8 sequence of a character it accepts, from `column` on, in a row that
// ends at `width`; returns the column after the last cell.
template <typename PlaceByte, typename PlaceCharacter>
int LayOutRow(const char* text, std::size_t length, int column, int width, OneCellTest oneCell,
              PlaceByte placeByte, PlaceCharacter placeCharacter) {
    std::size_t i = 0;
    while (i < length && column < width) {
        const auto byte = static_cast<unsigned char>(text[i]);
        char32_t character = 0;
        const std::size_t size =
            oneCell != nullptr && byte >= 0x80 ? DecodeUtf8(text + i, length - i, &character) : 0;
        if (size > 0 && oneCell(character)) {
            placeCharacter(column++, character);
            i += size;
            continue;
        }
        if (byte == '\t') {
            int stop = (column / kTabWidth + 1) * kTabWidth;
            if (stop > width) stop = width;
            while (column < stop) placeByte(column++, static_cast<unsigned char>(' '));
        } else {
            placeByte(column++, byte);
        }
        ++i;
    }
    return column;
}

// The same, every byte its own cell.
template <typename PlaceByte>
int LayOutRow(const char* text, std::size_t length, int column, int width, PlaceByte place) {
    return LayOutRow(text, length, column, width, nullptr, place, [](int, char32_t) {});
}

// True for a byte that a terminal would take as a control rather than a
// character: C0 controls, DEL and the C1 range.
constexpr bool IsControlByte(unsigned char byte) {
    return byte < 0x20 || (byte >= 0x7F && byte < 0xA0);
}

// How bytes written at the cursor take up the cells of one row, the same
// on every console: a tab fills blanks up to the next multiple of 8 columns,
// every other byte (control bytes and bytes of 0x80 or more included) takes
// exactly one cell, and nothing goes past the end of the row.
#pragma once

#include <cstddef>

constexpr int kTabWidth = 8;

// Calls place(column, byte) for every cell the text takes, from `column` on,
// in a row `width` cells wide; returns the column after the last cell.
template <typename PlaceCell>
int LayOutRow(const char* text, std::size_t length, int column, int width, PlaceCell place) {
    for (std::size_t i = 0; i < length && column < width; ++i) {
        const unsigned char byte = static_cast<unsigned char>(text[i]);
        if (byte == '\t') {
            int stop = (column / kTabWidth + 1) * kTabWidth;
            if (stop > width) stop = width;
            while (column < stop) place(column++, static_cast<unsigned char>(' '));
        } else {
            place(column++, byte);
        }
    }
    return column;
}

// True for a byte that a terminal would take as a control rather than a
// character: C0 controls, DEL and the C1 range.
constexpr bool IsControlByte(unsigned char byte) {
    return byte < 0x20 || (byte >= 0x7F && byte < 0xA0);
}

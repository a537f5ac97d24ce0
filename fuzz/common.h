// Shared by the reader fuzz targets: file bytes for an input, readers reading memory, a model of
// text mode.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kwt.h"

// A failed check traps, which libFuzzer records.
#define FUZZ_CHECK(c)                                                                              \
    ((c) ? void(0)                                                                                 \
         : (std::fprintf(stderr, "\n*** fuzz check failed: %s (%s:%d)\n", #c, __FILE__, __LINE__), \
            __builtin_trap()))

namespace fuzz {

// The file bytes for a seed. A leading mark makes a large file of a small seed: 0xFE b c rest is
// 64 KB of filler lines (line length from c), so that the reader's chunk boundary falls `256 - b`
// bytes into `rest`. Once StartFuzzing ran, inputs are taken as they are, which keeps runs fast.
std::string Expand(const uint8_t* data, std::size_t size);
int StartFuzzing();  // also sends stdout, the readers' progress, to /dev/null

#ifdef KWT_TEXT_FROM_MEMORY
inline void Serve(const std::string& text) { TextOpenNextFromMemory(text.data(), text.size()); }
#endif

// A piece as the 80-character line reader gives it: text up to a NUL or line feed.
struct Piece {
    int64_t offset;
    std::string text;
};

// Text mode by hand: CR right before LF dropped, 0x1A ends the text (at `end`).
std::vector<Piece> ModelPieces(const std::string& bytes, int64_t* end);

inline void CheckPiece(const TextLine& line, const Piece& piece) {
    FUZZ_CHECK(std::memchr(line.data(), '\0', line.size()) != nullptr && piece.text == line.data());
}

void ResetReaders();  // closes the files, zeroes the readers' tables

}  // namespace fuzz

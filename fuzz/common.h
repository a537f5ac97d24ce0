// Shared pieces of the reader fuzz targets: turning a fuzz input into file
// bytes, handing them to the readers from memory, a plain in-memory model
// of the text-mode line reading, and putting the readers' tables back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/textfile.h"

namespace fuzz {

// Reports `what` on stderr and stops with a trap that libFuzzer records.
[[noreturn]] void Fail(const char* what, const char* file, int line);

#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::fuzz::Fail(#condition, __FILE__, __LINE__))

// The file bytes for a fuzz input. Two leading marks make large files out of
// small inputs, so that reads cross the reader's 64 KB chunk and tables fill:
//   0xFE b c rest: about 64 KB of filler lines first (line length from c),
//                  placed so that the chunk boundary falls `256 - b` bytes
//                  into `rest`;
//   0xFD rest:     `rest` repeated to at least `repeatTo` bytes.
// Anything else is written as it is. Large files are slow to read under the
// sanitizers, so each target asks for no more than its tables need.
std::string Expand(const uint8_t* data, std::size_t size, std::size_t repeatTo);

// Makes the next reader that opens a file read `content` instead (which
// must stay alive while it is open).
#ifdef KWT_TEXT_FROM_MEMORY
inline void Serve(const std::string& content) { TextOpenNextFromMemory(content.data(), content.size()); }
#endif

// Sends stdout to /dev/null for the rest of the process.
void SilenceStdout();

// libFuzzer start-up: no progress output, and inputs taken as they are. The
// marks of Expand only shape seeds, which the replay driver runs: expanded
// inputs are what makes a fuzzing run slow.
void StartFuzzing();

// One line as a text-mode read into `limit + 1` bytes gives it: up to
// `limit` characters ending at a line feed; a carriage return right before a
// line feed reads as the line feed; byte 0x1A ends the text.
struct Piece {
    int32_t offset;    // byte offset in the file where the read starts
    std::string text;  // the characters read, line feed and NULs included
};

// Splits `bytes` into the pieces successive reads give. `end` is the offset
// a reader stands at once the text has ended.
std::vector<Piece> SplitPieces(const std::string& bytes, std::size_t limit, int32_t* end);

// The piece as a C string: up to its first NUL.
std::string AsCString(const std::string& piece);

// The piece as the line readers keep it: up to its first NUL or line feed.
std::string AsLine(const std::string& piece);

// A decimal number as %d reads it, by way of strtoll: false when there are
// no digits or the number does not fit 32 bits; otherwise `text` moves past it.
bool ReferenceScanInt32(const char*& text, int32_t* value);

// Closes the open files and zeroes the tables the readers fill.
void ResetReaders();

}  // namespace fuzz

// A text-mode line reader that behaves the same on every platform.
//
// It reads a file in binary and gives what a C runtime's read-text mode
// gives on the console's home platform: a carriage return right before a
// line feed is dropped, byte 0x1A ends the file, and positions are byte
// offsets in the file. Reads go through a buffer of our own, so asking for
// the position costs no system call.
#pragma once

#include <cstddef>
#include <cstdint>

struct TextFile;

// Opens `path` for reading. Returns null and leaves errno set on failure;
// a directory fails with EISDIR.
TextFile* TextOpen(const char* path);

#ifdef KWT_TEXT_FROM_MEMORY
// Fuzz builds: the next TextOpen, whatever its path, reads the `size` bytes
// at `data` (which must outlive the file) instead of a file.
void TextOpenNextFromMemory(const void* data, std::size_t size);
#endif

// Closes the file; null is allowed and does nothing.
void TextClose(TextFile* file);

// Reads like fgets into `size` bytes: at most size - 1 characters, up to and
// including a line feed. Returns `buffer`, or null when nothing was read
// because the file (or its readable part) has ended or a read failed; the
// buffer is then left as it was.
char* TextGets(char* buffer, int size, TextFile* file);

// As TextGets, but gives the number of characters read (the terminator not
// counted), and 0, with the buffer left as it was, when nothing was read.
int TextRead(char* buffer, int size, TextFile* file);

// The byte offset of the next character to be read.
int32_t TextTell(const TextFile* file);

// Moves to byte offset `offset` from the start of the file and clears the
// end-of-file state. Returns false (nothing moved) for a negative offset or
// when the system cannot seek.
bool TextSeek(TextFile* file, int32_t offset);

// True once a read has met the end of the file.
bool TextEof(const TextFile* file);

// Offsets are 32-bit signed numbers, so reading stops before the byte at
// this offset: a larger file reads as if it ended there.
constexpr int64_t kTextFileMaxOffset = INT32_MAX;

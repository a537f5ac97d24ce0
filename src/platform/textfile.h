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
// a directory fails with EISDIR. A file the system cannot seek (a pipe, a
// terminal) is read to its end at once into a scratch file, which is read
// instead and which the system removes however the program ends.
TextFile* TextOpen(const char* path);

// The number of bytes copied when the file is read from such a copy; -1
// when it is read itself.
int64_t TextCopiedLength(const TextFile* file);

// Says on standard error why the last TextOpen, of `path`, failed: `message`
// and the system's reason, as perror writes them, then a line that names
// the file (`kwt: calc.output: No such file or directory`). Where the file
// could not be read twice and its copy could not be made, one line says
// instead that the copy failed, where it was to go, and why.
void TextSayOpenFailed(const char* path, const char* message);

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

// Reads the piece of a line that starts at the file's position (see
// CutLinePiece) into `buffer`, which must hold 81 bytes: its bytes, the
// line feed (or CR LF) that may end it dropped, then zeros up to the
// buffer's end. False, with the buffer left as it was, when nothing was
// read. `endsLine` gets whether the piece ends its line (a line feed or the
// end of the text came with it), `length` the bytes stored.
bool TextReadPiece(char* buffer, TextFile* file, bool* endsLine = nullptr,
                   std::size_t* length = nullptr);

// Reads the next whole line: its first `headSize` - 1 bytes into `head`,
// zero-terminated, and the rest passed over. `start` gets where the line
// starts and `length` its bytes, the line feed (or CR LF) not counted.
// False at the end of the text.
bool TextReadLine(TextFile* file, char* head, std::size_t headSize, int64_t* start,
                  int64_t* length);

// The byte offset of the next character to be read; 64 bits, so files past
// 2 GiB (long traces, listings of large grammars) are read whole.
int64_t TextTell(const TextFile* file);

// Moves to byte offset `offset` from the start of the file and clears the
// end-of-file state. Returns false (nothing moved) for a negative offset or
// when the system cannot seek.
bool TextSeek(TextFile* file, int64_t offset);

// True once a read has met the end of the file.
bool TextEof(const TextFile* file);

// Raw access for searching: copies up to `size` bytes from byte `offset` on
// into `buffer`, exactly as they stand in the file (no line rules), and
// gives the number copied (0 at the end or on a failure). The position of
// the line reader is not moved.
std::size_t TextReadAt(TextFile* file, int64_t offset, void* buffer, std::size_t size);

// Where the line that holds the byte at `at` starts: after the line
// feed before it, or at 0.
int64_t TextLineStart(TextFile* file, int64_t at);

// The size of the file in bytes, or 0 when the system cannot tell.
int64_t TextLength(TextFile* file);

// 64-bit offsets for fseeko where off_t would otherwise have 32 bits.
#if !defined(_WIN32) && !defined(_FILE_OFFSET_BITS)
#define _FILE_OFFSET_BITS 64  // NOLINT(bugprone-reserved-identifier): the C library reads this name
#endif

#include "textfile.h"

#include "layout.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#ifdef KWT_TEXT_FROM_MEMORY
// Fuzz builds: the bytes given to TextOpenNextFromMemory if there are any,
// else the file (textfile_memory.cpp).
std::FILE* OpenTextStream(const char* path);
#else
static std::FILE* OpenTextStream(const char* path) { return std::fopen(path, "rb"); }
#endif

namespace {

constexpr std::size_t kChunkSize = std::size_t{64} * 1024;
constexpr unsigned char kEndOfFileMark = 0x1A;
// A piece and its terminator.
constexpr std::size_t kPieceSize = kPieceColumns + 1;

// Whether the last TextOpen failed at the copy of a file that cannot seek,
// and where the copy was to go: a directory's name, with the variable that
// named it.
constexpr std::size_t kPathSize = 4096;
bool copyFailed = false;
char copyPlace[kPathSize + sizeof "$TMPDIR ()"] = "";

}  // namespace

struct TextFile {
    std::FILE* stream = nullptr;
    int64_t chunkStart = 0;  // file offset of chunk[0]
    std::size_t chunkLength = 0;
    std::size_t next = 0;  // index in chunk of the next byte to read
    bool atEnd = false;
    int64_t copiedLength = -1;  // bytes copied from a file that cannot seek; -1: none
    unsigned char chunk[kChunkSize];
};

namespace {

bool IsDirectory(std::FILE* stream) {
    struct stat info {};
    return fstat(fileno(stream), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsDirectoryPath(const char* path) {
    struct stat info {};
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

// A seek that reaches past 2 GiB wherever `long` has 32 bits.
int SeekStream(std::FILE* stream, int64_t offset) {
#ifdef _WIN32
    return _fseeki64(stream, offset, SEEK_SET);
#else
    static_assert(sizeof(off_t) >= sizeof(int64_t), "build with 64-bit file offsets");
    return fseeko(stream, static_cast<off_t>(offset), SEEK_SET);
#endif
}

// Whether the system can go back in the file: not in a pipe, a terminal
// or a socket.
bool CanSeek(std::FILE* stream) {
#ifdef _WIN32
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    return GetFileType(handle) == FILE_TYPE_DISK;
#else
    return lseek(fileno(stream), 0, SEEK_CUR) != -1;
#endif
}

// An unbuffered stream over `descriptor`, which it closes when it cannot.
std::FILE* OpenScratchStream(int descriptor) {
    std::FILE* stream = descriptor >= 0 ? fdopen(descriptor, "w+b") : nullptr;
    if (stream == nullptr) {
        const int reason = errno;
        if (descriptor >= 0) close(descriptor);
        errno = reason;
        return nullptr;
    }
    std::setvbuf(stream, nullptr, _IONBF, 0);
    return stream;
}

// A new empty file for reading and writing that has no name left, or loses
// it when closed: the system removes it however the program ends, by a
// signal or a crash as well.
std::FILE* OpenScratchFile() {
#ifdef _WIN32
    char directory[MAX_PATH + 1];
    char name[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof directory, directory);
    std::snprintf(copyPlace, sizeof copyPlace, "%s",
                  length > 0 ? directory : "the temporary folder");
    if (length == 0 || length > MAX_PATH - 14 || GetTempFileNameA(directory, "kwt", 0, name) == 0) {
        errno = ENOENT;
        return nullptr;
    }
    const HANDLE handle =
        CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DeleteFileA(name);
        errno = EACCES;
        return nullptr;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
    if (descriptor < 0) CloseHandle(handle);
    return OpenScratchStream(descriptor);
#else
    const char* variable = std::getenv("TMPDIR");
    const bool named = variable != nullptr && variable[0] != '\0';
    const char* directory = named ? variable : "/tmp";
    std::snprintf(copyPlace, sizeof copyPlace, "%s%s%s", named ? "$TMPDIR (" : "", directory,
                  named ? ")" : "");
#ifdef O_TMPFILE
    const int unnamed = open(directory, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (unnamed >= 0) return OpenScratchStream(unnamed);
#endif
    // Where the file system has no unnamed files: a name removed at once.
    char name[kPathSize];
    const int length = std::snprintf(name, sizeof name, "%s/kwt-XXXXXX", directory);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof name) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    const int descriptor = mkstemp(name);
    if (descriptor >= 0) unlink(name);
    return OpenScratchStream(descriptor);
#endif
}

// Copies what is left of `source` to a scratch file through `buffer`; gives
// the copy at its start, or null with errno set.
std::FILE* CopyToScratchFile(std::FILE* source, unsigned char* buffer, std::size_t size,
                             int64_t* copied) {
    std::FILE* copy = OpenScratchFile();
    if (copy == nullptr) return nullptr;
    errno = 0;
    for (*copied = 0;;) {
        const std::size_t got = std::fread(buffer, 1, size, source);
        if (got > 0 && std::fwrite(buffer, 1, got, copy) != got) break;
        *copied += static_cast<int64_t>(got);
        if (got == size) continue;
        if (std::ferror(source) == 0 && SeekStream(copy, 0) == 0) return copy;
        break;
    }
    const int reason = errno != 0 ? errno : EIO;
    std::fclose(copy);
    errno = reason;
    return nullptr;
}

bool IsSpecialByte(unsigned char byte) {
    return byte == '\n' || byte == '\r' || byte == kEndOfFileMark;
}

// Reads on from the stream's position into `into`. A file may grow while it
// is read: an end met before does not stop the read.
std::size_t ReadMore(TextFile* file, unsigned char* into, std::size_t size) {
    std::clearerr(file->stream);
    return std::fread(into, 1, size, file->stream);
}

// Makes sure a byte is waiting at `next`; false at the end of the data.
bool FillChunk(TextFile* file) {
    if (file->next < file->chunkLength) return true;
    file->chunkStart += static_cast<int64_t>(file->chunkLength);
    file->chunkLength = 0;
    file->next = 0;
    file->chunkLength = ReadMore(file, file->chunk, kChunkSize);
    return file->chunkLength > 0;
}

// The next byte of the text, or -1 at its end (a 0x1A byte included).
int PeekByte(TextFile* file) {
    if (!FillChunk(file)) return -1;
    const unsigned char byte = file->chunk[file->next];
    return byte == kEndOfFileMark ? -1 : byte;
}

// Makes at least `want` bytes wait at `next`, or all that the file has
// left, and gives how many of at most `want` of them are text: the text
// ends at the end of the file and at a 0x1A byte.
std::size_t GatherText(TextFile* file, std::size_t want) {
    std::size_t waiting = file->chunkLength - file->next;
    if (waiting < want) {
        // The waiting bytes move to the chunk's start, and the file is read
        // on after them.
        std::memmove(file->chunk, file->chunk + file->next, waiting);
        file->chunkStart += static_cast<int64_t>(file->next);
        file->chunkLength = waiting;
        file->next = 0;
        while (file->chunkLength < want) {
            const std::size_t got =
                ReadMore(file, file->chunk + file->chunkLength, kChunkSize - file->chunkLength);
            if (got == 0) break;
            file->chunkLength += got;
        }
        waiting = file->chunkLength;
    }
    const std::size_t looked = std::min(waiting, want);
    const unsigned char* from = file->chunk + file->next;
    const void* mark = std::memchr(from, kEndOfFileMark, looked);
    return mark != nullptr
               ? static_cast<std::size_t>(static_cast<const unsigned char*>(mark) - from)
               : looked;
}

}  // namespace

TextFile* TextOpen(const char* path) {
    copyFailed = false;
    std::FILE* stream = OpenTextStream(path);
    if (stream == nullptr) {
        // Windows refuses to open a directory at all, with EACCES.
        const int reason = errno;
        errno = reason == EACCES && IsDirectoryPath(path) ? EISDIR : reason;
        return nullptr;
    }
    if (IsDirectory(stream)) {
        std::fclose(stream);
        errno = EISDIR;
        return nullptr;
    }
    // Our own chunk is the only buffer needed.
    std::setvbuf(stream, nullptr, _IONBF, 0);
    TextFile* file = new TextFile;
    if (!CanSeek(stream)) {
        // The readers go back in their files: a pipe is read from a copy.
        std::FILE* copy = CopyToScratchFile(stream, file->chunk, kChunkSize, &file->copiedLength);
        const int reason = errno;
        std::fclose(stream);
        stream = copy;
        if (stream == nullptr) {
            delete file;
            copyFailed = true;
            errno = reason;
            return nullptr;
        }
    }
    file->stream = stream;
    return file;
}

void TextClose(TextFile* file) {
    if (file == nullptr) return;
    std::fclose(file->stream);
    delete file;
}

int TextRead(char* buffer, int size, TextFile* file) {
    if (file == nullptr || buffer == nullptr || size < 2 || file->atEnd) return 0;
    const std::size_t room = static_cast<std::size_t>(size) - 1;
    std::size_t count = 0;
    while (count < room) {
        if (!FillChunk(file)) {
            file->atEnd = true;
            break;
        }
        // Plain bytes are copied as a run; only a line feed, a carriage
        // return or the end mark needs a look of its own.
        const unsigned char* from = file->chunk + file->next;
        const std::size_t waiting = std::min(file->chunkLength - file->next, room - count);
        std::size_t plain = 0;
        while (plain < waiting && !IsSpecialByte(from[plain])) ++plain;
        std::memcpy(buffer + count, from, plain);
        count += plain;
        file->next += plain;
        if (plain == waiting) continue;
        int byte = from[plain];
        if (byte == kEndOfFileMark) {
            file->atEnd = true;
            break;
        }
        ++file->next;
        if (byte == '\r' && PeekByte(file) == '\n') {
            ++file->next;
            byte = '\n';
        }
        buffer[count++] = static_cast<char>(byte);
        if (byte == '\n') break;
    }
    if (count > 0) buffer[count] = '\0';
    return static_cast<int>(count);
}

bool TextReadPiece(char* buffer, TextFile* file, bool* endsLine, std::size_t* length) {
    if (file == nullptr || buffer == nullptr || file->atEnd) return false;
    const std::size_t size = GatherText(file, kPieceLookahead);
    if (size == 0) {
        file->atEnd = true;
        return false;
    }
    const unsigned char* from = file->chunk + file->next;
    const PieceCut cut = CutLinePiece(from, size);
    std::memcpy(buffer, from, cut.length);
    // Nothing of an earlier piece stays behind the terminator.
    std::memset(buffer + cut.length, 0, kPieceSize - cut.length);
    file->next += cut.next;
    // A piece that ran into the end of the text has read it all.
    if (cut.endsLine && cut.next == cut.length) file->atEnd = true;
    if (endsLine != nullptr) *endsLine = cut.endsLine;
    if (length != nullptr) *length = cut.length;
    return true;
}

bool TextReadLine(TextFile* file, char* head, std::size_t headSize, int64_t* start,
                  int64_t* length) {
    if (file == nullptr || head == nullptr || headSize == 0 || file->atEnd || PeekByte(file) < 0) {
        if (file != nullptr) file->atEnd = true;
        return false;
    }
    *start = TextTell(file);
    std::size_t stored = 0;
    int64_t count = 0;
    bool lastWasCr = false;
    while (FillChunk(file)) {
        const unsigned char* from = file->chunk + file->next;
        const std::size_t waiting = file->chunkLength - file->next;
        const void* feed = std::memchr(from, '\n', waiting);
        std::size_t run =
            feed != nullptr
                ? static_cast<std::size_t>(static_cast<const unsigned char*>(feed) - from)
                : waiting;
        const void* mark = std::memchr(from, kEndOfFileMark, run);
        const bool ends = mark != nullptr;
        if (ends) run = static_cast<std::size_t>(static_cast<const unsigned char*>(mark) - from);
        const std::size_t copied = std::min(run, headSize - 1 - stored);
        std::memcpy(head + stored, from, copied);
        stored += copied;
        count += static_cast<int64_t>(run);
        if (run > 0) lastWasCr = from[run - 1] == '\r';
        file->next += run;
        if (ends) {
            file->atEnd = true;
            break;
        }
        if (feed != nullptr) {
            ++file->next;
            // A carriage return right before the line feed is no part of the line.
            if (lastWasCr) {
                --count;
                if (static_cast<int64_t>(stored) > count) stored = static_cast<std::size_t>(count);
            }
            break;
        }
    }
    head[stored] = '\0';
    *length = count;
    return true;
}

char* TextGets(char* buffer, int size, TextFile* file) {
    return TextRead(buffer, size, file) > 0 ? buffer : nullptr;
}

int64_t TextTell(const TextFile* file) {
    return file->chunkStart + static_cast<int64_t>(file->next);
}

bool TextSeek(TextFile* file, int64_t offset) {
    if (file == nullptr || offset < 0) return false;
    const int64_t target = offset;
    const int64_t chunkEnd = file->chunkStart + static_cast<int64_t>(file->chunkLength);
    if (target >= file->chunkStart && target <= chunkEnd) {
        file->next = static_cast<std::size_t>(target - file->chunkStart);
    } else {
        if (SeekStream(file->stream, offset) != 0) return false;
        file->chunkStart = target;
        file->chunkLength = 0;
        file->next = 0;
    }
    file->atEnd = false;
    return true;
}

bool TextEof(const TextFile* file) { return file == nullptr || file->atEnd; }

std::size_t TextReadAt(TextFile* file, int64_t offset, void* buffer, std::size_t size) {
    if (file == nullptr || buffer == nullptr || offset < 0) return 0;
    std::size_t got = 0;
    if (SeekStream(file->stream, offset) == 0) got = std::fread(buffer, 1, size, file->stream);
    // The line reader's next fill reads on from the end of its chunk.
    std::clearerr(file->stream);
    SeekStream(file->stream, file->chunkStart + static_cast<int64_t>(file->chunkLength));
    return got;
}

int64_t TextLineStart(TextFile* file, int64_t at) {
    if (file == nullptr || at <= 0) return 0;
    // The bytes before `at` that the chunk holds are looked at first: a step
    // reads the piece after one just read.
    const int64_t chunkEnd = file->chunkStart + static_cast<int64_t>(file->chunkLength);
    if (at > file->chunkStart && at <= chunkEnd) {
        for (auto i = static_cast<std::size_t>(at - file->chunkStart); i > 0; --i) {
            if (file->chunk[i - 1] == '\n') return file->chunkStart + static_cast<int64_t>(i);
        }
        at = file->chunkStart;
    }
    unsigned char block[4096];
    while (at > 0) {
        const int64_t from = at > 4096 ? at - 4096 : 0;
        const std::size_t got = TextReadAt(file, from, block, static_cast<std::size_t>(at - from));
        if (got == 0) return at;
        for (std::size_t i = got; i > 0; --i) {
            if (block[i - 1] == '\n') return from + static_cast<int64_t>(i);
        }
        at = from;
    }
    return 0;
}

int64_t TextLength(TextFile* file) {
    if (file == nullptr) return 0;
#ifdef _WIN32
    struct _stati64 info {};
    if (_fstati64(_fileno(file->stream), &info) != 0) return 0;
#else
    struct stat info {};
    if (fstat(fileno(file->stream), &info) != 0) return 0;
#endif
    return static_cast<int64_t>(info.st_size);
}

int64_t TextCopiedLength(const TextFile* file) { return file != nullptr ? file->copiedLength : -1; }

void TextSayOpenFailed(const char* path, const char* message) {
    const int reason = errno;
    if (copyFailed) {
        std::fprintf(stderr,
                     "kwt: %s cannot be read twice, so it is read from a copy: "
                     "the copy in %s failed: %s\n",
                     path, copyPlace, std::strerror(reason));
        return;
    }
    std::perror(message);
    std::fprintf(stderr, "kwt: %s: %s\n", path, std::strerror(reason));
}

#include "textfile.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

#ifdef KWT_TEXT_FROM_MEMORY
// Fuzz builds: the bytes given to TextOpenNextFromMemory if there are any,
// else the file (textfile_memory.cpp).
std::FILE* OpenTextStream(const char* path);
#else
static std::FILE* OpenTextStream(const char* path) { return std::fopen(path, "rb"); }
#endif

namespace {

constexpr std::size_t kChunkSize = 64 * 1024;
constexpr unsigned char kEndOfFileMark = 0x1A;

}  // namespace

struct TextFile {
    std::FILE* stream = nullptr;
    int64_t chunkStart = 0;   // file offset of chunk[0]
    std::size_t chunkLength = 0;
    std::size_t next = 0;     // index in chunk of the next byte to read
    bool atEnd = false;
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

// Makes sure a byte is waiting at `next`; false at the end of the data.
bool FillChunk(TextFile* file) {
    if (file->next < file->chunkLength) return true;
    file->chunkStart += static_cast<int64_t>(file->chunkLength);
    file->chunkLength = 0;
    file->next = 0;
    const int64_t room = kTextFileMaxOffset - file->chunkStart;
    if (room <= 0) return false;
    const std::size_t want = room < static_cast<int64_t>(kChunkSize)
                                 ? static_cast<std::size_t>(room)
                                 : kChunkSize;
    file->chunkLength = std::fread(file->chunk, 1, want, file->stream);
    return file->chunkLength > 0;
}

// The next byte of the text, or -1 at its end (a 0x1A byte included).
int PeekByte(TextFile* file) {
    if (!FillChunk(file)) return -1;
    const unsigned char byte = file->chunk[file->next];
    return byte == kEndOfFileMark ? -1 : byte;
}

}  // namespace

TextFile* TextOpen(const char* path) {
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
    int count = 0;
    while (count < size - 1) {
        int byte = PeekByte(file);
        if (byte < 0) {
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
    return count;
}

char* TextGets(char* buffer, int size, TextFile* file) {
    return TextRead(buffer, size, file) > 0 ? buffer : nullptr;
}

int32_t TextTell(const TextFile* file) {
    return static_cast<int32_t>(file->chunkStart + static_cast<int64_t>(file->next));
}

bool TextSeek(TextFile* file, int32_t offset) {
    if (file == nullptr || offset < 0) return false;
    const int64_t target = offset;
    const int64_t chunkEnd = file->chunkStart + static_cast<int64_t>(file->chunkLength);
    if (target >= file->chunkStart && target <= chunkEnd) {
        file->next = static_cast<std::size_t>(target - file->chunkStart);
    } else {
        if (std::fseek(file->stream, static_cast<long>(offset), SEEK_SET) != 0) return false;
        file->chunkStart = target;
        file->chunkLength = 0;
        file->next = 0;
    }
    std::clearerr(file->stream);
    file->atEnd = false;
    return true;
}

bool TextEof(const TextFile* file) { return file == nullptr || file->atEnd; }

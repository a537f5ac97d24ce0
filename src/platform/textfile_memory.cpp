// Fuzz builds only: lets the readers read bytes held in memory as if they
// were the file they open, so that a fuzz input needs no file of its own.
#include <sys/mman.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>

#include "textfile.h"

namespace {
const void* nextData = nullptr;
std::size_t nextSize = 0;
}  // namespace

void TextOpenNextFromMemory(const void* data, std::size_t size) {
    nextData = data;
    nextSize = size;
}

// An anonymous file in memory, read through the same calls as one on disk.
std::FILE* OpenTextStream(const char* path) {
    if (nextData == nullptr) return std::fopen(path, "rb");
    const int descriptor = memfd_create("kwt-text", MFD_CLOEXEC);
    const char* bytes = static_cast<const char*>(nextData);
    for (std::size_t done = 0; descriptor >= 0 && done < nextSize;) {
        const ssize_t written = write(descriptor, bytes + done, nextSize - done);
        if (written <= 0) std::abort();
        done += static_cast<std::size_t>(written);
    }
    nextData = nullptr;
    lseek(descriptor, 0, SEEK_SET);
    return descriptor >= 0 ? fdopen(descriptor, "rb") : nullptr;
}

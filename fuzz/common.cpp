#include "common.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <unistd.h>

#include "kwt.h"

namespace fuzz {

namespace {

constexpr std::size_t kChunk = 64 * 1024;  // the reader's chunk size
constexpr unsigned char kPadMark = 0xFE;
constexpr unsigned char kRepeatMark = 0xFD;

std::map<std::string, std::string>& ScratchPaths() {
    static std::map<std::string, std::string> paths;
    return paths;
}

void RemoveScratchFiles() {
    for (const auto& entry : ScratchPaths()) std::remove(entry.second.c_str());
}

std::string ScratchDirectory() {
    const char* base = std::getenv("TMPDIR");
    if (base != nullptr && *base != '\0') return base;
    return access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
}

}  // namespace

void Fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "\n*** fuzz check failed: %s (%s:%d)\n", what, file, line);
    std::fflush(stderr);
    __builtin_trap();
}

std::string Expand(const uint8_t* data, std::size_t size, std::size_t repeatTo) {
    const char* bytes = reinterpret_cast<const char*>(data);
    if (size >= 3 && data[0] == kPadMark) {
        const std::size_t padLength = kChunk - 256 + data[1];
        const std::size_t lineLength = data[2] % 97;  // 96: one line without an end
        std::string text;
        text.reserve(padLength + size);
        while (text.size() < padLength) {
            if (lineLength < 96 && text.size() % (lineLength + 1) == lineLength) {
                text += '\n';
            } else {
                text += 'p';
            }
        }
        text.append(bytes + 3, size - 3);
        return text;
    }
    if (size >= 2 && data[0] == kRepeatMark) {
        const std::string unit(bytes + 1, size - 1);
        std::string text;
        text.reserve(repeatTo + unit.size());
        do {
            text += unit;
        } while (text.size() < repeatTo);
        return text;
    }
    return std::string(bytes, size);
}

const char* WriteScratch(const char* tag, const std::string& content) {
    auto& paths = ScratchPaths();
    auto found = paths.find(tag);
    if (found == paths.end()) {
        if (paths.empty()) std::atexit(RemoveScratchFiles);
        const std::string path = ScratchDirectory() + "/kwt-fuzz-" + std::to_string(getpid()) +
                                 "-" + tag;
        found = paths.emplace(tag, path).first;
    }
    std::FILE* out = std::fopen(found->second.c_str(), "wb");
    if (out == nullptr) {
        std::perror(found->second.c_str());
        std::abort();
    }
    if (!content.empty() && std::fwrite(content.data(), 1, content.size(), out) != content.size()) {
        std::perror(found->second.c_str());
        std::abort();
    }
    std::fclose(out);
    return found->second.c_str();
}

void SilenceStdout() {
    std::fflush(stdout);
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
}

std::vector<Piece> SplitPieces(const std::string& bytes, std::size_t limit, int32_t* end) {
    std::size_t stop = bytes.find('\x1a');
    if (stop == std::string::npos) stop = bytes.size();
    std::vector<Piece> pieces;
    std::size_t at = 0;
    while (at < stop) {
        Piece piece{static_cast<int32_t>(at), std::string()};
        while (piece.text.size() < limit && at < stop) {
            char c = bytes[at++];
            if (c == '\r' && at < stop && bytes[at] == '\n') {
                ++at;
                c = '\n';
            }
            piece.text += c;
            if (c == '\n') break;
        }
        pieces.push_back(std::move(piece));
    }
    *end = static_cast<int32_t>(stop);
    return pieces;
}

std::string AsCString(const std::string& piece) { return std::string(piece.c_str()); }

std::string AsLine(const std::string& piece) {
    const std::string text = AsCString(piece);
    return text.substr(0, text.find('\n'));
}

bool ReferenceScanInt32(const char*& text, int32_t* value) {
    char* after = nullptr;
    errno = 0;
    const long long number = std::strtoll(text, &after, 10);
    if (after == text || errno == ERANGE || number < INT32_MIN || number > INT32_MAX) return false;
    *value = static_cast<int32_t>(number);
    text = after;
    return true;
}

void ResetReaders() {
    TextClose(pfileLRT);
    pfileLRT = nullptr;
    TextClose(pfileTrace);
    pfileTrace = nullptr;
    lState.fill(0);
    nStates = 0;
    nState = 0;
    nLRTLines = 0;
    for (auto& line : szLRT) line.fill('\0');
    szTrace.fill('\0');
    nToken = 0;
    nCurrentState = 0;
    sSymbols = 0;
}

}  // namespace fuzz

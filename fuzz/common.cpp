#include "common.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kwt.h"

namespace fuzz {

namespace {

constexpr std::size_t kChunk = 64 * 1024;  // the reader's chunk size
constexpr unsigned char kPadMark = 0xFE;
constexpr unsigned char kRepeatMark = 0xFD;

bool expandMarks = true;

}  // namespace

void Fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "\n*** fuzz check failed: %s (%s:%d)\n", what, file, line);
    std::fflush(stderr);
    __builtin_trap();
}

std::string Expand(const uint8_t* data, std::size_t size, std::size_t repeatTo) {
    const char* bytes = reinterpret_cast<const char*>(data);
    if (!expandMarks) return std::string(bytes, size);
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

void SilenceStdout() {
    std::fflush(stdout);
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
}

void StartFuzzing() {
    SilenceStdout();
    expandMarks = false;
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
    // memset: loops here would be instrumented, and slow every fuzz run.
    std::memset(lState.data(), 0, sizeof lState);
    nStates = 0;
    nState = 0;
    nLRTLines = 0;
    std::memset(szLRT.data(), 0, sizeof szLRT);
    std::memset(szTrace.data(), 0, sizeof szTrace);
    nToken = 0;
    nCurrentState = 0;
    sSymbols = 0;
}

}  // namespace fuzz

#include "common.h"

#include <algorithm>

static bool expandMarks = true;

std::string fuzz::Expand(const uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    if (!expandMarks || size < 3 || data[0] != 0xFE) return bytes;
    std::string text;
    const std::size_t lineLength = data[2] % 97u;  // 96: one line without an end
    while (text.size() < 64u * 1024 - 256 + data[1]) {
        text += lineLength < 96 && text.size() % (lineLength + 1) == lineLength ? '\n' : 'p';
    }
    return text + bytes.substr(3);
}

int fuzz::StartFuzzing() {
    expandMarks = false;
    return std::freopen("/dev/null", "w", stdout) == nullptr;
}

std::vector<fuzz::Piece> fuzz::ModelPieces(const std::string& bytes, int64_t* end) {
    const std::size_t stop = std::min(bytes.find('\x1a'), bytes.size());
    std::vector<Piece> pieces;
    for (std::size_t at = 0; at < stop;) {
        std::string raw;
        const int64_t offset = static_cast<int64_t>(at);
        while (raw.size() < kLineSize - 1 && at < stop && (raw.empty() || raw.back() != '\n')) {
            const bool crlf = bytes[at] == '\r' && at + 1 < stop && bytes[at + 1] == '\n';
            at += crlf ? 2 : 1;
            raw += crlf ? '\n' : bytes[at - 1];
        }
        pieces.push_back({offset, raw.substr(0, raw.find_first_of(std::string("\n\0", 2)))});
    }
    *end = static_cast<int64_t>(stop);
    return pieces;
}

void fuzz::ResetReaders() {
    TextClose(pfileLRT), pfileLRT = nullptr;
    CloseTrace();
    nStates = nState = nLRTLines = nCurrentState = nToken = sSymbols = 0;
    std::memset(lState.data(), 0, sizeof lState);
    std::memset(szLRT.data(), 0, sizeof szLRT);
    std::memset(szTrace.data(), 0, sizeof szTrace);
}

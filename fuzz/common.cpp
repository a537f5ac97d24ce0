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
    for (std::size_t line = 0; line < stop;) {
        // The line's text: up to a line feed, the CR before it dropped.
        std::size_t next = std::min(bytes.find('\n', line), stop);
        std::size_t length = next - line;
        if (next < stop && length > 0 && bytes[next - 1] == '\r') --length;
        // The line's text in pieces as every reader cuts them.
        std::size_t at = 0;
        do {
            const auto* text = reinterpret_cast<const unsigned char*>(bytes.data()) + line + at;
            const std::string piece =
                bytes.substr(line + at, CutLinePiece(text, length - at).length);
            pieces.push_back({int64_t(line + at), piece.substr(0, piece.find('\0'))});
            at += piece.size();
        } while (at < length);
        line = next + 1;
    }
    *end = static_cast<int64_t>(stop);
    return pieces;
}

void fuzz::ResetReaders() {
    TextClose(pfileLRT), pfileLRT = nullptr;
    CloseTrace();
    nStates = nState = nLRTLines = sSymbols = 0;
    std::memset(lState.data(), 0, sizeof lState);
    std::memset(szLRT.data(), 0, sizeof szLRT);
    std::memset(szTrace.data(), 0, sizeof szTrace);
}

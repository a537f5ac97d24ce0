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
        // Pieces of at most 80 columns, a tab to the next multiple of 8.
        std::size_t at = 0;
        do {
            std::string text;
            for (int column = 0; at < length; ++at) {
                const char byte = bytes[line + at];
                const int width = byte == '\t' ? 8 - column % 8 : 1;
                if (column + width > 80) break;
                text += byte, column += width;
            }
            pieces.push_back({int64_t(line + at - text.size()), text.substr(0, text.find('\0'))});
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

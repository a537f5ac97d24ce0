// The file the parser read, for the input page: found line by line. A
// sparse index of line starts grows as lines further in are asked for, so
// that a line deep in a large input is found without reading it from its
// start each time.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "kwt.h"

TextFile* pfileInput = nullptr;

namespace {

// Every kLinesPerMark-th line's start is kept, as far as the input was read.
constexpr uint32_t kLinesPerMark = 1024;
constexpr std::size_t kMarksMax = 65536;
std::array<int64_t, kMarksMax> lMarks{};
std::size_t nMarks = 0;

constexpr std::size_t kBlockSize = std::size_t{64} * 1024;
std::array<char, kBlockSize> block{};

// The input's file name, for the page's header.
std::array<char, 256> szInputName{};

}  // namespace

bool OpenInput(const char* path) {
    pfileInput = OpenReaderFile(path, "Cannot open the parser's input file", "input");
    if (pfileInput == nullptr) return false;
    std::snprintf(szInputName.data(), szInputName.size(), "%s", path);
    lMarks[0] = 0;
    nMarks = 1;
    return true;
}

void CloseInput() {
    TextClose(pfileInput);
    pfileInput = nullptr;
    nMarks = 0;
}

const char* InputName() { return pfileInput != nullptr ? szInputName.data() : ""; }

uint32_t InputLineCount() {
    if (pfileInput == nullptr || nMarks == 0) return 0;
    // From the last line start known: its line feeds, and a last line
    // without one.
    uint32_t lines = static_cast<uint32_t>(nMarks - 1) * kLinesPerMark;
    char last = '\n';
    for (int64_t at = lMarks[nMarks - 1];;) {
        const std::size_t got = TextReadAt(pfileInput, at, block.data(), block.size());
        const auto* mark = static_cast<const char*>(std::memchr(block.data(), 0x1A, got));
        const std::size_t text =
            mark != nullptr ? static_cast<std::size_t>(mark - block.data()) : got;
        lines += static_cast<uint32_t>(std::count(block.data(), block.data() + text, '\n'));
        if (text > 0) last = block[text - 1];
        if (text < block.size()) break;
        at += static_cast<int64_t>(text);
    }
    return last == '\n' ? lines : lines + 1;
}

int64_t InputLineStart(uint32_t number) {
    if (pfileInput == nullptr || number == 0 || nMarks == 0) return -1;
    const std::size_t mark = std::min<std::size_t>((number - 1) / kLinesPerMark, nMarks - 1);
    uint32_t line = static_cast<uint32_t>(mark) * kLinesPerMark + 1;
    int64_t at = lMarks[mark];
    // Line feeds counted in raw blocks, up to the text's end (a 0x1A byte).
    while (line < number) {
        const std::size_t got = TextReadAt(pfileInput, at, block.data(), block.size());
        const std::size_t text =
            std::min(got, static_cast<std::size_t>(
                              std::find(block.data(), block.data() + got, 0x1A) - block.data()));
        const char* p = block.data();
        const char* end = block.data() + text;
        while (line < number && p < end) {
            const auto* feed =
                static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            if (feed == nullptr) break;
            p = feed + 1;
            ++line;
            const int64_t start = at + (p - block.data());
            if ((line - 1) % kLinesPerMark == 0 && (line - 1) / kLinesPerMark == nMarks &&
                nMarks < kMarksMax) {
                lMarks[nMarks++] = start;
            }
        }
        if (line == number) return at + (p - block.data());
        if (text < got || got < block.size()) return -1;  // the text ended before the line
        at += static_cast<int64_t>(got);
    }
    return at;
}

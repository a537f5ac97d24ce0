// The system's text for an error code, shaped as the Windows message
// service shapes it when given a line width: words run together and broken
// into lines of at most 40 characters.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

constexpr std::size_t kErrorTextWidth = 40;

// Breaks `text` at blanks into lines of at most `width` characters joined by
// line feeds; a word longer than a line is cut.
inline std::string WrapText(const char* text, std::size_t width = kErrorTextWidth) {
    std::string wrapped;
    std::size_t lineLength = 0;
    const char* p = text;
    for (;;) {
        while (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t') ++p;
        if (*p == '\0') break;
        const char* word = p;
        while (*p != '\0' && *p != ' ' && *p != '\n' && *p != '\r' && *p != '\t') ++p;
        std::size_t length = static_cast<std::size_t>(p - word);
        if (lineLength > 0 && lineLength + 1 + length <= width) {
            wrapped += ' ';
            wrapped.append(word, length);
            lineLength += 1 + length;
            continue;
        }
        if (lineLength > 0) wrapped += '\n';
        // A word longer than a line fills whole lines first.
        while (length > width) {
            wrapped.append(word, width);
            wrapped += '\n';
            word += width;
            length -= width;
        }
        wrapped.append(word, length);
        lineLength = length;
    }
    return wrapped;
}

// A copy of `text` in storage the caller frees with delete[].
inline char* CopyToNewText(const std::string& text) {
    char* copy = new char[text.size() + 1];
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

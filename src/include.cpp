// The token header: `#define NAME NUMBER` lines read into a table, and the
// display name of the lookahead token.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "kwt.h"

std::array<std::array<char, kSymbolNameSize>, kSymbolsMax> szSymbol{};
std::array<int32_t, kSymbolsMax> nSymbol{};
uint16_t sSymbols = 0;

namespace {

constexpr char kDefineKeyword[] = "#define ";
constexpr std::size_t kDefineLength = sizeof kDefineKeyword - 1;

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

void SkipBlanks(const char*& text) {
    while (*text != '\0' && IsBlank(*text)) ++text;
}

bool StartsWithDefine(const char* line) {
    for (std::size_t i = 0; i < kDefineLength; ++i) {
        if (std::tolower(static_cast<unsigned char>(line[i])) != kDefineKeyword[i]) return false;
    }
    return true;
}

// "%23s %d" over the text after the keyword: a name of at most 23
// non-blank characters, then a number.
bool ScanDefinition(const char* text, std::array<char, kSymbolNameSize>& name, int32_t* number) {
    SkipBlanks(text);
    std::size_t length = 0;
    while (length < kSymbolNameSize - 1 && text[length] != '\0' && !IsBlank(text[length])) {
        ++length;
    }
    if (length == 0) return false;
    std::memcpy(name.data(), text, length);
    name[length] = '\0';
    text += length;
    return ScanInt32(text, number);
}

}  // namespace

bool ScanInt32(const char*& text, int32_t* value) {
    const char* p = text;
    SkipBlanks(p);
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
    int64_t magnitude = 0;
    bool tooLarge = false;
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
        if (!tooLarge) magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > int64_t{INT32_MAX} + 1) tooLarge = true;
    }
    const int64_t result = negative ? -magnitude : magnitude;
    if (tooLarge || result > INT32_MAX || result < INT32_MIN) return false;
    *value = static_cast<int32_t>(result);
    text = p;
    return true;
}

uint16_t ReadInclude(const char* path) {
    TextFile* file = TextOpen(path);
    if (file == nullptr) {
        std::perror("Cannot open file!");
        return 0;
    }
    sSymbols = 0;
    char line[kIncludeLineSize];
    // Definitions past the table's end are passed over.
    while (!TextEof(file) && TextGets(line, sizeof line, file) != nullptr) {
        if (sSymbols >= kSymbolsMax) continue;
        if (StartsWithDefine(line) &&
            ScanDefinition(line + kDefineLength, szSymbol[sSymbols], &nSymbol[sSymbols])) {
            ++sSymbols;
        }
    }
    TextClose(file);
    return sSymbols;
}

const char* TokenName() {
    for (uint16_t i = 0; i < sSymbols; ++i) {
        if (nSymbol[i] == nToken) return szSymbol[i].data();
    }
    static char unnamed[8];
    if (nToken == -1) return "EOF";
    if (nToken == 0) return "NULL";
    // Only the low byte prints; control characters, a NUL included, in
    // caret notation.
    const unsigned lowByte = static_cast<unsigned>(nToken) & 0xFFu;
    if (nToken < 32 || lowByte < 32) {
        std::snprintf(unnamed, sizeof unnamed, "'^%c'", static_cast<char>((lowByte + 64) & 0xFFu));
    } else {
        std::snprintf(unnamed, sizeof unnamed, "'%c'", static_cast<char>(lowByte));
    }
    return unnamed;
}

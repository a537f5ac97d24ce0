// The token header: `#define NAME NUMBER` lines, and the forms a kind's
// header adds (bison's enum entries), read into a table; and the display
// name of the lookahead token.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "kinds.h"

std::array<std::array<char, kSymbolNameSize>, kSymbolsMax> szSymbol{};
std::array<int32_t, kSymbolsMax> nSymbol{};
uint16_t sSymbols = 0;

namespace {

uint32_t symbolsVersion = 0;

// ---- the table's index by name ---------------------------------------------------------
// Open addressing, a slot holding a symbol's place plus one; a name given
// twice keeps its first place. Double-quoted names are also indexed bare.
constexpr std::size_t kSymbolSlots = 2 * kSymbolsMax;
using SymbolSlots = std::array<uint16_t, kSymbolSlots>;
SymbolSlots byName{};
SymbolSlots byBareName{};

// A symbol's name as indexed: whole, or bare (without its double quotes).
bool NameOf(uint16_t symbol, bool bare, const char** name, std::size_t* length) {
    *name = szSymbol[symbol].data();
    *length = std::strlen(*name);
    if (!bare) return true;
    if (*length <= 2 || (*name)[0] != '"' || (*name)[*length - 1] != '"') return false;
    ++*name;
    *length -= 2;
    return true;
}

bool SameName(uint16_t symbol, bool bare, const char* name, std::size_t length) {
    const char* known = nullptr;
    std::size_t knownLength = 0;
    return NameOf(symbol, bare, &known, &knownLength) && knownLength == length &&
           std::memcmp(known, name, length) == 0;
}

// The symbol's place, or kSymbolsMax when no symbol has that name; `at` is
// the name's HashBytes.
uint16_t LookUp(const SymbolSlots& slots, const char* name, std::size_t length, bool bare,
                std::size_t at) {
    for (std::size_t probe = 0; probe < kSymbolSlots; ++probe) {
        const uint16_t slot = slots[(at + probe) % kSymbolSlots];
        if (slot == 0) break;
        if (SameName(static_cast<uint16_t>(slot - 1), bare, name, length)) return slot - 1;
    }
    return kSymbolsMax;
}

void Insert(SymbolSlots& slots, uint16_t symbol, bool bare) {
    const char* name = nullptr;
    std::size_t length = 0;
    if (!NameOf(symbol, bare, &name, &length)) return;
    const std::size_t at = HashBytes(name, length);
    for (std::size_t probe = 0; probe < kSymbolSlots; ++probe) {
        uint16_t& slot = slots[(at + probe) % kSymbolSlots];
        if (slot == 0) {
            slot = static_cast<uint16_t>(symbol + 1);
            return;
        }
        if (SameName(static_cast<uint16_t>(slot - 1), bare, name, length)) return;
    }
}

void ClearSymbolIndex() {
    byName.fill(0);
    byBareName.fill(0);
}

void IndexSymbol(uint16_t symbol) {
    Insert(byName, symbol, false);
    Insert(byBareName, symbol, true);
}

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

// `NAME NUMBER` after the keyword: the name runs to the first blank, however
// long (the table keeps its first 63 characters), then a number. Without a
// name there is no number either.
bool ScanDefinition(const char* text, int32_t* number, const char** name, std::size_t* length) {
    SkipBlanks(text);
    *name = text;
    while (*text != '\0' && !IsBlank(*text)) ++text;
    *length = static_cast<std::size_t>(text - *name);
    return ScanInt32(text, number);
}

void ReadDefinitionLine(const char* line) {
    int32_t number = 0;
    const char* name = nullptr;
    std::size_t length = 0;
    bool defined = false;
    if (StartsWithDefine(line)) {
        defined = ScanDefinition(line + kDefineLength, &number, &name, &length);
    } else {
        // The forms beyond `#define` that a kind's header writes.
        for (const Kind* each : kKinds) {
            defined = each->ReadTokenLine != nullptr &&
                      each->ReadTokenLine(line, &name, &length, &number);
            if (defined) break;
        }
    }
    if (defined) AddSymbol(name, length, number);
}

}  // namespace

bool ScanInt32(const char*& text, int32_t* value) {
    const char* p = text;
    SkipBlanks(p);
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    if (!IsDigit(*p)) return false;
    int64_t magnitude = 0;
    bool tooLarge = false;
    for (; IsDigit(*p); ++p) {
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
        TextSayOpenFailed(path, "Cannot open file!");
        return 0;
    }
    sSymbols = 0;
    ++symbolsVersion;
    char line[kIncludeLineSize];
    // Definitions past the table's end are passed over.
    while (!TextEof(file) && TextGets(line, sizeof line, file) != nullptr) {
        if (sSymbols < kSymbolsMax) ReadDefinitionLine(line);
    }
    TextClose(file);
    return sSymbols;
}

bool AddSymbol(const char* name, std::size_t length, int32_t number) {
    if (sSymbols >= kSymbolsMax) return false;
    // The table is emptied by setting its count to 0: its index goes with it.
    if (sSymbols == 0) ClearSymbolIndex();
    ++symbolsVersion;
    if (length > kSymbolNameSize - 1) length = kSymbolNameSize - 1;
    std::memcpy(szSymbol[sSymbols].data(), name, length);
    szSymbol[sSymbols][length] = '\0';
    nSymbol[sSymbols] = number;
    IndexSymbol(sSymbols);
    ++sSymbols;
    return true;
}

uint32_t SymbolsVersion() { return symbolsVersion; }

bool FindSymbol(const char* name, std::size_t length, bool bareAllowed, int32_t* number) {
    const std::size_t at = HashBytes(name, length);
    uint16_t found = LookUp(byName, name, length, false, at);
    if (bareAllowed) found = std::min(found, LookUp(byBareName, name, length, true, at));
    if (found >= sSymbols) return false;
    *number = nSymbol[found];
    return true;
}

const char* SkipSymbolName(const char* text) {
    const char quote = *text;
    if (quote != '"' && quote != '\'') {
        while (*text != '\0' && !IsBlank(*text)) ++text;
        return text;
    }
    for (++text; *text != '\0'; ++text) {
        if (*text == '\\' && text[1] != '\0') {
            ++text;
        } else if (*text == quote) {
            return text + 1;
        }
    }
    return text;
}

const char* TokenName(const ParserView& view) {
    const char* named = TraceTokenName(view.tokenName);
    if (*named != '\0') return named;
    const int32_t token = view.token;
    for (uint16_t i = 0; i < sSymbols; ++i) {
        if (nSymbol[i] == token) return szSymbol[i].data();
    }
    static char unnamed[8];
    if (token == -1) return "EOF";
    if (token == 0) return "NULL";
    // Only the low byte prints; control characters, a NUL included, in
    // caret notation.
    const unsigned lowByte = static_cast<unsigned>(token) & 0xFFu;
    if (token < 32 || lowByte < 32) {
        std::snprintf(unnamed, sizeof unnamed, "'^%c'", static_cast<char>((lowByte + 64) & 0xFFu));
    } else {
        std::snprintf(unnamed, sizeof unnamed, "'%c'", static_cast<char>(lowByte));
    }
    return unnamed;
}

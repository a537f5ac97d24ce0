// Fuzzes the token header reader: ReadInclude on the input as a file, then
// TokenName for a spread of token numbers. The table must match a plain
// model of the reading, and every name must stay inside its slot.
#include <cctype>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "common.h"
#include "kwt.h"

namespace {

// Room for more than the table's 512 definitions of a dozen bytes.
constexpr std::size_t kRepeatTo = 16 * 1024;

struct Definition {
    std::string name;
    int32_t number;
};

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// What the table should hold: the first 512 lines (pieces of at most 511
// characters) that start with "#define " in any case, then a name of at most
// 23 non-blank characters, then a number.
std::vector<Definition> ModelDefinitions(const std::string& bytes) {
    int32_t end = 0;
    std::vector<Definition> table;
    for (const fuzz::Piece& piece : fuzz::SplitPieces(bytes, kIncludeLineSize - 1, &end)) {
        if (table.size() >= kSymbolsMax) break;
        const std::string line = fuzz::AsCString(piece.text);
        if (line.size() < 8) continue;
        std::string keyword = line.substr(0, 8);
        for (char& c : keyword) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (keyword != "#define ") continue;
        std::size_t at = 8;
        while (at < line.size() && IsBlank(line[at])) ++at;
        std::size_t length = 0;
        while (length < kSymbolNameSize - 1 && at + length < line.size() &&
               !IsBlank(line[at + length])) {
            ++length;
        }
        if (length == 0) continue;
        const char* rest = line.c_str() + at + length;
        int32_t number = 0;
        if (!fuzz::ReferenceScanInt32(rest, &number)) continue;
        table.push_back({line.substr(at, length), number});
    }
    return table;
}

// The first name defined for each number.
using Names = std::map<int32_t, std::string>;

std::string ModelTokenName(const Names& names, int32_t token) {
    const auto found = names.find(token);
    if (found != names.end()) return found->second;
    if (token == -1) return "EOF";
    if (token == 0) return "NULL";
    const unsigned lowByte = static_cast<unsigned>(token) & 0xFFu;
    std::string name = token < 32 ? "'^" : "'";
    name += static_cast<char>(token < 32 ? (lowByte + 64) & 0xFFu : lowByte);
    name += '\'';
    return fuzz::AsCString(name);
}

void CheckTokenName(const Names& names, int32_t token) {
    nToken = token;
    const char* name = TokenName();
    FUZZ_CHECK(name != nullptr);
    FUZZ_CHECK(std::strlen(name) < kSymbolNameSize);
    FUZZ_CHECK(ModelTokenName(names, token) == name);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::StartFuzzing();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string bytes = fuzz::Expand(data, size, kRepeatTo);
    sSymbols = 0;
    std::memset(szSymbol.data(), 0x7f, sizeof szSymbol);  // so a missing terminator shows
    fuzz::Serve(bytes);

    const uint16_t count = ReadInclude("yytab.h");
    FUZZ_CHECK(count == sSymbols);
    FUZZ_CHECK(sSymbols <= kSymbolsMax);
    const std::vector<Definition> model = ModelDefinitions(bytes);
    FUZZ_CHECK(sSymbols == model.size());
    for (uint16_t i = 0; i < sSymbols; ++i) {
        FUZZ_CHECK(std::memchr(szSymbol[i].data(), '\0', kSymbolNameSize) != nullptr);
        FUZZ_CHECK(model[i].name == szSymbol[i].data());
        FUZZ_CHECK(model[i].number == nSymbol[i]);
    }

    Names names;
    for (const Definition& definition : model) names.emplace(definition.number, definition.name);
    static const int32_t kSpread[] = {INT32_MIN, -2, -1, 0, 1, 10, 31, 32, 43, 127, 255,
                                      256, 300, INT32_MAX};
    for (int32_t token : kSpread) CheckTokenName(names, token);
    for (uint16_t i = 0; i < sSymbols; ++i) {
        CheckTokenName(names, nSymbol[i]);
        if (nSymbol[i] != INT32_MAX) CheckTokenName(names, nSymbol[i] + 1);
    }
    return 0;
}

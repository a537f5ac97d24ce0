// Fuzzes the token header reader (`#define` lines, enum entries): the table stays in bounds, its
// names are terminated, non-empty and from the file; a token's name is the first defined for its
// number, or bounded.
#include "common.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return fuzz::StartFuzzing(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string bytes = fuzz::Expand(data, size);
    std::memset(szSymbol.data(), 0x7f, sizeof szSymbol);  // so a missing terminator shows
    fuzz::Serve(bytes);
    FUZZ_CHECK(ReadInclude("yytab.h") == sSymbols && sSymbols <= kSymbolsMax);
    for (uint16_t i = 0; i < sSymbols; ++i) {
        FUZZ_CHECK(std::memchr(szSymbol[i].data(), '\0', kSymbolNameSize) != nullptr &&
                   szSymbol[i][0] != '\0');
        FUZZ_CHECK(bytes.find(szSymbol[i].data()) != std::string::npos);
        uint16_t first = 0;
        ParserView view;
        for (view.token = nSymbol[i]; nSymbol[first] != view.token; ++first) {}
        FUZZ_CHECK(TokenName(view) == szSymbol[first].data());
    }
    for (int32_t token :
         {INT32_MIN, -2, -1, 0, 1, 10, 31, 32, 127, 255, 256, 266, 300, INT32_MAX}) {
        ParserView view;
        view.token = token;
        FUZZ_CHECK(TokenName(view)[0] != '\0' &&
                   strnlen(TokenName(view), kSymbolNameSize) < kSymbolNameSize);
    }
    return 0;
}

// Fuzzes the state listing reader, whatever the listing's kind: the index rises within the file,
// each state's block is exactly the text-mode model's pieces from its start to the next state's,
// at most a window, and holds the state's first item and accessing symbol.
#include <algorithm>

#include "common.h"

static void CheckBlock(const std::string& bytes, const std::vector<fuzz::Piece>& pieces,
                       uint32_t state) {
    for (std::size_t i = 0; i < 4; ++i) szLRT[i].fill('\x7f');  // so a missing terminator shows
    nState = state;
    LoadLRT();
    if (state >= nStates) return FUZZ_CHECK(nLRTLines == 0);
    FUZZ_CHECK(nLRTLines > 0 && nLRTLines <= kLRTLinesMax);
    auto piece = std::lower_bound(pieces.begin(), pieces.end(), lState[state],
                                  [](const fuzz::Piece& p, int64_t at) { return p.offset < at; });
    FUZZ_CHECK(piece != pieces.end() && piece->offset == lState[state]);
    for (uint32_t i = 0; i < nLRTLines; ++i, ++piece) {
        FUZZ_CHECK(piece != pieces.end() && piece->offset < lState[state + 1]);
        fuzz::CheckPiece(szLRT[i], *piece);
    }
    FUZZ_CHECK(nLRTLines == kLRTLinesMax || piece == pieces.end() ||
               piece->offset >= lState[state + 1]);
    // The first item is a line of the block after its first; the accessing symbol is in the block.
    TextLine item;
    const std::string symbol = AccessingSymbol(state);
    if (!ReadFirstItem(state, item)) return FUZZ_CHECK(symbol.empty());
    FUZZ_CHECK(nLRTLines == kLRTLinesMax ||
               std::find(szLRT.begin() + 1, szLRT.begin() + nLRTLines, item) != szLRT.end());
    FUZZ_CHECK(bytes.find(symbol, std::size_t(lState[state])) < std::size_t(lState[state + 1]));
}

extern "C" int LLVMFuzzerInitialize(int*, char***) { return fuzz::StartFuzzing(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string bytes = fuzz::Expand(data, size);
    int64_t end = 0;
    const std::vector<fuzz::Piece> pieces = fuzz::ModelPieces(bytes, &end);
    TextClose(pfileLRT);  // the tables need no clearing: OpenLRT starts them anew
    fuzz::Serve(bytes);
    FUZZ_CHECK(OpenLRT("yy.lrt") && nStates <= kStatesMax && nState == 0 && lState[nStates] <= end);
    for (uint32_t k = 0; k < nStates; ++k) FUZZ_CHECK(lState[k] < lState[k + 1]);
    // The first and last states, then out of range and back, so seeks go both ways.
    for (uint32_t k = 0; k < nStates && k < 40; ++k) CheckBlock(bytes, pieces, k);
    for (uint32_t k = std::max(nStates, 50u) - 10; k < nStates; ++k) CheckBlock(bytes, pieces, k);
    for (uint32_t k : {nStates, UINT32_MAX, nStates / 2, 0u, size > 0 ? data[size - 1] : 0u})
        CheckBlock(bytes, pieces, k);
    return 0;
}

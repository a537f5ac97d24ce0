// Fuzzes the trace reader over a bison listing of 12 states: read to the end as the step keys do,
// then steps again from recorded offsets. Every piece is the text-mode model's; after every step a
// known state shows with its own block, the return state is known and the token name bounded.
#include "common.h"

static void CheckShown() {
    FUZZ_CHECK(nState < nStates && nCurrentState < nStates);
    FUZZ_CHECK(nLRTLines == 3 && "State " + std::to_string(nState) == szLRT[0].data());
    FUZZ_CHECK(strnlen(TokenName(), kTokenNameSize) < kTokenNameSize);
}

extern "C" int LLVMFuzzerInitialize(int*, char***) { return fuzz::StartFuzzing(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static std::string listing =
        "Terminals, with rules where they appear\n    $end (0) 0\n    NUMBER <v> (258) 1\n"
        "    \"==\" (261) 2\n    '(' (40) 3\nNonterminals, with rules where they appear\n";
    for (int k = 0; pfileLRT == nullptr && k < 12; ++k)
        listing += "State " + std::to_string(k) + "\n\n  x\n";
    if (pfileLRT == nullptr)
        fuzz::Serve(listing), FUZZ_CHECK(OpenLRT("calc.output") && sSymbols == 4);
    const std::string bytes = fuzz::Expand(data, size);
    int64_t end = 0;
    const std::vector<fuzz::Piece> pieces = fuzz::ModelPieces(bytes, &end);
    CloseTrace();
    nState = nCurrentState = 0;
    fuzz::Serve(bytes);
    FUZZ_CHECK(OpenTrace("trace"));
    LoadLRT();
    CheckShown();
    for (std::size_t i = 0; i < pieces.size() + (pieces.empty() ? 0 : 8); ++i) {
        // After the end, steps read again from their recorded offsets.
        const std::size_t step =
            i < pieces.size() ? i : (data[i * 7919 % size] * 131u + i) % pieces.size();
        if (i == pieces.size()) FUZZ_CHECK(TextTell(pfileTrace) == end && !ReadTrace());
        szTrace.fill('\x7f');  // so a missing terminator shows
        const bool seek = i < pieces.size() || TextSeek(pfileTrace, pieces[step].offset);
        FUZZ_CHECK(seek && TextTell(pfileTrace) == pieces[step].offset && ReadTrace());
        fuzz::CheckPiece(szTrace, pieces[step]);
        ParseTrace();
        CheckShown();
    }
    return 0;
}

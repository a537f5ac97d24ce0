// Fuzzes the trace reader over a bison listing of 12 states: read to the end as the step keys do,
// then pieces again from recorded offsets. Every piece is the text-mode model's; after every step
// the parser's state shows with its own block (none past the listing's last), the token name is
// bounded, and every stack well formed.
#include "common.h"

static void CheckShown(const ParserView& view) {
    // A state past the listing's last (the trace names it) shows no text.
    nState = view.state;
    LoadLRT();
    FUZZ_CHECK(view.state < nStates
                   ? nLRTLines == 3 && "State " + std::to_string(nState) == szLRT[0].data()
                   : nLRTLines == 0);
    FUZZ_CHECK(strnlen(TokenName(view), kTokenNameSize) < kTokenNameSize);
    // Each stack's entries lie at depths that fall towards the bottom.
    for (StackHandle stack : view.stacks) {
        uint32_t depth = StackDepth(stack);
        FUZZ_CHECK(depth <= kStackDepthMax);
        for (; stack != kEmptyStack && stack != kUnknownStack; stack = StackBelow(stack)) {
            FUZZ_CHECK(StackEntryDepth(stack) < depth);
            depth = StackEntryDepth(stack);
        }
    }
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
    ResetStacks();
    fuzz::Serve(bytes);
    FUZZ_CHECK(OpenTrace("trace"));
    MarkFirstLine();
    ParserView view = FirstView();
    CheckShown(view);
    TracePiece piece;
    int64_t next = 0;
    for (std::size_t i = 0; i < pieces.size() + (pieces.empty() ? 0 : 8); ++i) {
        // After the end, steps read again from their recorded offsets.
        const std::size_t step =
            i < pieces.size() ? i : (data[i * 7919 % size] * 131u + i) % pieces.size();
        if (i == pieces.size()) FUZZ_CHECK(next == end && !ReadTracePiece(next, &piece));
        piece.text.fill('\x7f');  // so a missing terminator shows
        const int64_t at = i < pieces.size() ? next : pieces[step].offset;
        FUZZ_CHECK(at == pieces[step].offset && ReadTracePiece(at, &piece));
        if (i < pieces.size()) next = piece.next;
        fuzz::CheckPiece(piece.text, pieces[step]);
        FollowPiece(view, piece, view.state);
        CheckShown(view);
    }
    return 0;
}

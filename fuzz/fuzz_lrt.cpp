// Fuzzes the state listing reader: OpenLRT indexes the input as a file, then
// LoadLRT loads states in both directions and out of range. Every loaded
// window must match a plain model of the listing's lines.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common.h"
#include "kwt.h"

namespace {

constexpr uint32_t kFirstStatesChecked = 40;
constexpr uint32_t kLastStatesChecked = 10;
// Room for more than the index's 4096 headers of at least 38 bytes, each with a body line.
constexpr std::size_t kRepeatTo = 200 * 1024;

bool IsHeader(const std::string& line) {
    return line.compare(0, 4, "+---") == 0 && line.size() >= 37 &&
           line.compare(31, 6, "STATE ") == 0;
}

struct Model {
    std::vector<fuzz::Piece> pieces;
    std::vector<std::size_t> headers;  // indexes in `pieces` of the state headers
    int32_t end = 0;
};

Model MakeModel(const std::string& bytes) {
    Model model;
    model.pieces = fuzz::SplitPieces(bytes, kLineSize - 1, &model.end);
    for (std::size_t i = 0; i < model.pieces.size(); ++i) {
        if (IsHeader(fuzz::AsLine(model.pieces[i].text))) model.headers.push_back(i);
    }
    return model;
}

void CheckState(const Model& model, uint32_t state) {
    const bool inRange = state < nStates;
    std::size_t first = 0;
    std::size_t expected = 0;
    if (inRange) {
        first = model.headers[state];
        const std::size_t last =
            state + 1 < model.headers.size() ? model.headers[state + 1] : model.pieces.size();
        expected = last - first < kLRTLinesMax ? last - first : kLRTLinesMax;
    }
    for (std::size_t i = 0; i <= expected && i < kLRTLinesMax; ++i) {
        szLRT[i].fill('\x7f');  // so a missing terminator shows
    }
    nState = state;
    LoadLRT();
    FUZZ_CHECK(nState == state);
    FUZZ_CHECK(nLRTLines <= kLRTLinesMax);
    FUZZ_CHECK(nLRTLines == expected);
    for (uint32_t i = 0; i < nLRTLines; ++i) {
        FUZZ_CHECK(std::memchr(szLRT[i].data(), '\0', kLineSize) != nullptr);
        FUZZ_CHECK(fuzz::AsLine(model.pieces[first + i].text) == szLRT[i].data());
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::StartFuzzing();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string bytes = fuzz::Expand(data, size, kRepeatTo);
    fuzz::ResetReaders();
    fuzz::Serve(bytes);
    const Model model = MakeModel(bytes);

    FUZZ_CHECK(OpenLRT("yy.lrt"));
    FUZZ_CHECK(pfileLRT != nullptr);
    FUZZ_CHECK(nStates <= kStatesMax);
    FUZZ_CHECK(nState == 0);
    const std::size_t headers = model.headers.size();
    FUZZ_CHECK(nStates == (headers < kStatesMax ? headers : kStatesMax));
    for (uint32_t k = 0; k < nStates; ++k) {
        FUZZ_CHECK(lState[k] <= lState[k + 1]);
        FUZZ_CHECK(lState[k] == model.pieces[model.headers[k]].offset);
    }
    if (nStates < headers) {
        FUZZ_CHECK(lState[nStates] == model.pieces[model.headers[nStates]].offset);
    } else {
        FUZZ_CHECK(lState[nStates] == model.end);
    }

    std::vector<uint32_t> order;
    for (uint32_t k = 0; k < nStates && k < kFirstStatesChecked; ++k) order.push_back(k);
    const uint32_t tail = nStates > kLastStatesChecked ? nStates - kLastStatesChecked : 0;
    for (uint32_t k = tail > kFirstStatesChecked ? tail : kFirstStatesChecked; k < nStates; ++k) {
        order.push_back(k);
    }
    for (uint32_t state : order) CheckState(model, state);
    // Out of range, then back to states before, so that seeks go both ways.
    CheckState(model, nStates);
    CheckState(model, UINT32_MAX);
    if (nStates > 0) {
        CheckState(model, nStates - 1);
        CheckState(model, nStates / 2);
        CheckState(model, 0);
        CheckState(model, data[size / 2] % nStates);
        CheckState(model, data[size - 1] % nStates);
    }

    fuzz::ResetReaders();
    return 0;
}

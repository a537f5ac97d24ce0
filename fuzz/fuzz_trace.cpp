// Fuzzes the trace reader: a fixed listing of 12 states is indexed once, the
// input is opened as the trace, and it is read and interpreted line by line
// to its end as the step keys do. Each step must match a plain model of the
// trace lines and of the two line forms that name states; recorded steps
// must read back the same after a seek.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common.h"
#include "kwt.h"

namespace {

// Lines per state, the header included.
const std::vector<int> kBlocks = {4, 1, 2, 7, 3, 1, 5, 2, 9, 1, 3, 6};
constexpr std::size_t kStepLimit = 300000;
constexpr std::size_t kReplays = 8;
constexpr std::size_t kRepeatTo = 16 * 1024;

std::string Header(int state) {
    char line[96];
    std::snprintf(line, sizeof line,
                  "+----------------------------- STATE %d -----------------------------+", state);
    return line;
}

std::string BodyLine(int state, int line) {
    return "state " + std::to_string(state) + " line " + std::to_string(line);
}

// Indexes the listing once per process: the trace's states are loaded from
// it by seeks, so it serves every input.
void OpenListingOnce() {
    if (pfileLRT != nullptr) return;
    static const std::string text = [] {
        std::string listing = "grammar preamble\n\n";
        for (std::size_t state = 0; state < kBlocks.size(); ++state) {
            listing += Header(static_cast<int>(state)) + "\n";
            for (int line = 1; line < kBlocks[state]; ++line) {
                listing += BodyLine(static_cast<int>(state), line) + "\n";
            }
        }
        return listing;
    }();
    fuzz::Serve(text);
    FUZZ_CHECK(OpenLRT("yy.lrt"));
    FUZZ_CHECK(nStates == kBlocks.size());
}

// "<first>%d<second>%d" by sscanf for the words (forms ending in %n) and
// strtoll for the numbers.
bool ModelScan(const std::string& line, const char* firstForm, const char* secondForm, int32_t* a,
               int32_t* b) {
    const char* p = line.c_str();
    int used = -1;
    if (std::sscanf(p, firstForm, &used) != 0 || used < 0) return false;
    p += used;
    if (!fuzz::ReferenceScanInt32(p, a)) return false;
    used = -1;
    if (std::sscanf(p, secondForm, &used) != 0 || used < 0) return false;
    p += used;
    return fuzz::ReferenceScanInt32(p, b);
}

struct ModelState {
    uint32_t state = 0;
    uint32_t current = 0;
    int32_t token = 0;

    void Interpret(const std::string& line) {
        int32_t a = 0;
        int32_t b = 0;
        if (ModelScan(line, "at state %n", ", next token %n", &a, &b) && Enterable(a)) {
            current = state;
            state = static_cast<uint32_t>(a);
            token = b;
        }
        if (ModelScan(line, "error: pop state %n", ", recover state %n", &a, &b) && Enterable(b)) {
            current = state;
            state = static_cast<uint32_t>(b);
        }
    }
    static bool Enterable(int32_t state) {
        return state > 0 && static_cast<std::size_t>(state) < kBlocks.size();
    }
};

void CheckWindow() {
    FUZZ_CHECK(nState < nStates);
    FUZZ_CHECK(nCurrentState < nStates);
    FUZZ_CHECK(nLRTLines == static_cast<uint32_t>(kBlocks[nState]));
    FUZZ_CHECK(Header(static_cast<int>(nState)) == szLRT[0].data());
    if (nLRTLines > 1) {
        FUZZ_CHECK(BodyLine(static_cast<int>(nState), static_cast<int>(nLRTLines) - 1) ==
                   szLRT[nLRTLines - 1].data());
    }
}

struct Step {
    int32_t offset;
    bool read;
    std::string text;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::StartFuzzing();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string bytes = fuzz::Expand(data, size, kRepeatTo);
    TextClose(pfileTrace);
    pfileTrace = nullptr;
    nState = nCurrentState = 0;
    nToken = 0;
    OpenListingOnce();
    fuzz::Serve(bytes);
    FUZZ_CHECK(OpenTrace("kwt.err"));

    int32_t end = 0;
    const std::vector<fuzz::Piece> pieces = fuzz::SplitPieces(bytes, kLineSize - 1, &end);
    ModelState model;
    std::vector<Step> steps;

    // The first line is shown but not interpreted.
    LoadLRT();
    CheckWindow();
    for (std::size_t i = 0; i <= pieces.size() && i < kStepLimit; ++i) {
        const int32_t offset = TextTell(pfileTrace);
        FUZZ_CHECK(offset == (i < pieces.size() ? pieces[i].offset : end));
        szTrace.fill('\x7f');  // so a missing terminator shows
        const bool read = ReadTrace();
        FUZZ_CHECK(read == (i < pieces.size()));
        if (!read) {
            steps.push_back({offset, false, std::string()});
            break;
        }
        FUZZ_CHECK(std::memchr(szTrace.data(), '\0', kLineSize) != nullptr);
        const std::string line = fuzz::AsLine(pieces[i].text);
        FUZZ_CHECK(line == szTrace.data());
        steps.push_back({offset, true, line});
        if (i == 0) continue;
        ParseTrace();
        model.Interpret(line);
        FUZZ_CHECK(nState == model.state);
        FUZZ_CHECK(nCurrentState == model.current);
        FUZZ_CHECK(nToken == model.token);
        CheckWindow();
    }

    // Steps read back the same from their recorded offsets.
    for (std::size_t r = 0; r < kReplays && !steps.empty(); ++r) {
        std::size_t index = 0;
        if (r == 1) index = steps.size() - 1;
        if (r == 2) index = steps.size() / 2;
        if (r > 2) {
            if (size == 0) break;
            index = (data[(r * 7919) % size] * 131u + r) % steps.size();
        }
        const Step& step = steps[index];
        FUZZ_CHECK(TextSeek(pfileTrace, step.offset));
        szTrace.fill('\0');
        FUZZ_CHECK(ReadTrace() == step.read);
        if (step.read) FUZZ_CHECK(step.text == szTrace.data());
    }

    return 0;
}

// Search (/ n N), next error (e) and go to state (g) through the key loop, on kwt's own trace and real
// byacc and bison traces. Every jump must show what stepping there with keypad plus from the start shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <tuple>

#include "fake_console.h"
#include "support.h"

namespace {

// kwt's own trace. Line 7 is three pieces: "split" straddles the first two
// and so lies in no piece, "after" is in the third. Line 10 ends in CR LF.
// Two matches of alpha cannot be seen: one after a NUL byte, one past 0x1A.
const std::string kOwnTrace = std::string(
    "at state 1, next token 258\nat state 2, next token 257\nreading IDENT alpha\n"
    "at state 3, next token 43\nerror: pop state 3, recover state 2\nerror: pop state 2, recover state 1\n"
    "at state 2, next token 258\n") + std::string(77, '.') + "split" + std::string(78, '-') + "after\n" +
    "at state 1, next token 257 alpha\r\nline 3: syntax error\nhidden" + std::string(1, '\0') + "alpha\n" +
    "at state 3, next token 43\n\x1a" "alpha\n";

TraceFiles OwnFiles(const TempDir& dir, const std::string& trace) {
    return {dir.Write("yy.lrt", Listing({3, 3, 3, 3})), dir.Write("yytab.h", "#define IDENT 257\n"),
            dir.Write("kwt.err", trace)};
}

// What a step shows (state, line, where the trace is read on) and what the
// newest step read leaves (return state, lookahead, its name).
using Outcome = std::pair<std::tuple<uint32_t, std::string, int64_t>, std::tuple<uint32_t, int32_t, std::string>>;
Outcome Now() { return {{nState, szTrace.data(), TextTell(pfileTrace)}, {nCurrentState, nToken, TokenName()}}; }

// What keypad plus shows at each step from the first line, to the end of the trace or for `most` steps.
std::vector<Outcome> Walk(const TraceFiles& files, std::size_t most = SIZE_MAX) {
    OpenFiles(files);
    uint16_t scroll = 0;
    BeginSteps(fake::Output(), scroll);
    std::vector<Outcome> steps{Now()};
    while (steps.size() <= most && (NextStep(fake::Output(), scroll), fake::Beeps() == 0)) steps.push_back(Now());
    return steps;
}

// `keys`, then an Esc typed while the last of them is at work where `busyEsc`.
void Type(const TraceFiles& files, const std::string& keys, bool busyEsc = false) {
    OpenFiles(files);
    fake::PushText(keys);
    if (busyEsc) fake::PushTypedDuringPause(VirtualKey::kEscape);
    fake::PushText("\x1b");
    Process(fake::Input(), fake::Output());
}

// What keys should do, worked out on the lines stepping shows: the steps
// recorded and the one shown, the beeps, and the note the last key leaves.
struct Expected {
    const std::vector<Outcome>& steps;
    std::vector<std::size_t> history{0};
    std::size_t at = 0;
    int beeps = 0;
    std::string text{}, note{};
    void Miss(const std::string& why) { ++beeps, note = why; }
    void Land(std::size_t step) { history.resize(at + 1), history.push_back(step), ++at; }
    const std::string& Line(std::size_t step) const { return std::get<1>(steps[step].first); }
    static bool IsError(const std::string& line) {
        return line.rfind("error:", 0) == 0 || line.rfind("Error:", 0) == 0 ||
               line.find("error recovery") != line.npos || line.find("syntax error") != line.npos;
    }
    void Find(bool forward, bool error) {
        for (std::size_t i = 1; i < steps.size(); ++i) {
            const std::size_t step = forward ? history[at] + i : history[at] - i;  // wraps past the first
            if (step < steps.size() && (error ? IsError(Line(step)) && !IsError(Line(step - 1))
                                              : Line(step).find(text) != std::string::npos)) return Land(step);
        }
        Miss(error ? "No syntax error after this step"
                   : std::string("Not found ") + (forward ? "after" : "before") + " this step: " + text);
    }
    void Press(const std::string& keys) {
        for (std::size_t k = 0; k < keys.size(); ++k) {
            const char key = keys[k];
            std::string typed;  // at a prompt, up to its Enter or Esc
            while ((key == '/' || key == 'g') && keys[++k] != '\r' && keys[k] != '\x1b') {
                keys[k] == '\b' ? typed.pop_back() : typed.push_back(keys[k]);
            }
            const bool entered = keys[k] == '\r' && !typed.empty();
            note.clear();
            if (key == '/' && entered) text = typed, Find(true, false);
            if (key == 'g' && entered) {  // the rows name no state that exists
                Miss("No state " + typed.substr(0, 12) + ": the states are 0 to " + std::to_string(nStates - 1));
            }
            if ((key == 'n' || key == 'N') && text.empty()) Miss("Nothing to find again yet: / asks for a text");
            if ((key == 'n' || key == 'N') && !text.empty()) Find(key == 'n', false);
            if (key == 'e') Find(true, true);
            if (key == '+') at + 1 < history.size() ? void(++at) : Land(history[at] + 1);
            if (key == '-' && at > 0) --at;
        }
    }
};

const char* const kKeyRows[] = {
    "/alpha\r", "/alpha\rn", "/alpha\rnn", "/split\r", "/after\r", "/alpha\rN", "/alpha\rnN", "+++/alpha\r",
    "+++--/alpha\r", "/alx\bpha\r", "/alpha\x1bn", "N", "/token 43\rn", "e", "ee", "eee", "e-", "e+", "e-+", "e+e",
    "/syntax error\r", "/syntax error\rnN", "/syntax errx\bor\r-", "/token\rnnnNN", "/state 1\rnn-N",
    "++/Stack\rN", "/zzz\r", "g99999\r", "g4294967297\r", "g\x1b", "/\r",
};

TEST(Search, JumpsLandWhereSteppingWouldAndMissesChangeNothing) {
    const TempDir dir;
    std::vector<TraceFiles> traces{OwnFiles(dir, kOwnTrace)};
    for (int i = 0; i < kGeneratorCount * kErrorInputCount; ++i)
        traces.push_back(RealTrace(dir, i / kErrorInputCount, kErrorInputs[i % kErrorInputCount]));
    for (const TraceFiles& files : traces) {
        const std::vector<Outcome> steps = Walk(files);
        for (const std::string keys : kKeyRows) {
            SCOPED_TRACE(files.trace + ", keys " + keys);
            Type(files, keys);
            Expected want{steps};
            want.Press(keys);
            // A step back shows its step; the lookahead and the return state stay the newest step's.
            EXPECT_EQ(Now(), std::make_pair(steps[want.history[want.at]].first, steps[want.history.back()].second));
            EXPECT_EQ(fake::Beeps(), want.beeps);
            EXPECT_EQ(fake::Waits().back().Row(kStatusRow).substr(0, want.note.size()), want.note);
        }
    }
}

// The Find prompt shows what is typed; going to a state is no step; F1 or
// ? on the first help page turns to the second, other keys leave.
TEST(Search, PromptsAndHelp) {
    const TempDir dir;
    Type(OwnFiles(dir, kOwnTrace), "/ab\bc\x1b");
    const std::vector<fake::Screen>& waits = fake::Waits();
    EXPECT_EQ(waits[waits.size() - 2].Row(kStatusRow).substr(0, 9), "Find: ac ");  // before the Esc
    EXPECT_EQ(waits.back().Row(kStatusRow).substr(0, 6), "State ");                // cancelled
    Type(OwnFiles(dir, kOwnTrace), "+g2\r");
    EXPECT_EQ(std::make_tuple(nState, std::string(szTrace.data()), sStateCursor, fake::Beeps()),
              std::make_tuple(2u, "at state 2, next token 257", 1, 0));
    Type(OwnFiles(dir, kOwnTrace), "??x?x");
    const std::string top[] = {pszHelp[0], "ZORVEX DEBUGGER: getting to the step that matters", StateHeader(0),
                               pszHelp[0], StateHeader(0)};
    ASSERT_EQ(waits.size(), 6u);
    for (int read = 1; read < 6; ++read) {
        EXPECT_EQ(waits[std::size_t(read)].Row(0).substr(0, top[read - 1].size()), top[read - 1]) << read;
    }
}

// Esc read while the search runs, in its scan of a trace of several blocks
// and in its walk through many lines to a match: nothing changes. The traces
// repeat kwt's own lines (generator -1) or a generator's trace.
TEST(Search, EscDuringALongSearchLeavesEverythingAsItWas) {
    const TempDir dir;
    const std::tuple<int, std::size_t, const char*> rows[] = {
        {-1, 40000, "+/target\r"}, {-1, 6000, "+/target\r"}, {-1, 6000, "+e"}, {0, 40000, "+/target\r"},
        {1, 6000, "+/target\r"}};
    for (const auto& [generator, lines, keys] : rows) {
        TraceFiles files = generator < 0 ? OwnFiles(dir, "") : RealTrace(dir, generator, kErrorInputs[2]);
        std::ifstream real(files.trace);
        std::string copy(std::istreambuf_iterator<char>(real), {}), trace;
        if (generator < 0) copy = "at state 1, next token 257\nat state 2, next token 258\n";
        const auto copyLines = std::size_t(std::count(copy.begin(), copy.end(), '\n'));
        for (std::size_t copied = 0; copied < lines; copied += copyLines) trace += copy;
        files.trace = dir.Write("long.trace", trace + "error: pop state 1, recover state 2 target\n");
        Type(files, keys, true);
        const auto got = std::make_tuple(Now(), sStateCursor, sStateTop, fake::Beeps());  // before Walk reopens
        EXPECT_EQ(got, std::make_tuple(Walk(files, 1)[1], 1, 2, 0)) << keys << " on " << lines << " lines";
    }
}

}  // namespace

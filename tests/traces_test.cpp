// kwt on real traces: byacc, bison and bison -y build the example calculator, whose traces kwt
// steps through state by state and back; search (/ n N), next error (e) and go to state (g) must
// land where stepping with keypad plus from the start lands. Also files past 2 GiB.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <tuple>

#include "fake_console.h"
#include "support.h"

namespace {

// The command that writes `stem`.tab.c, .tab.h and .output from calc.y.
struct Generator {
    const char *name, *command, *stem;
};
const Generator kGenerators[] = {{"byacc", "byacc -t -v -d calc.y", "y"},
                                 {"bison", "bison -t -v -d calc.y", "calc"},
                                 {"bison_y", "bison -y -Wno-yacc -t -v -d calc.y", "y"}};
constexpr int kGeneratorCount = 3;
// Recovered by popping several states (with a stack deep enough for bison's `Stack now` lines to
// pass 80 columns), at the end of the input, back to state 0, and some 1,500 tokens in.
const char* const kErrorInputs[] = {"error-pops.calc", "error-at-end.calc", "error-to-state-0.calc",
                                    "error-late.calc"};

struct TraceFiles {
    std::string listing, header, trace;
};

// Builds the calculator with `generator` in a directory of `dir` (once per `dir`) and traces it on
// examples/`input`.
TraceFiles RealTrace(const TempDir& dir, int generator, const std::string& input) {
    const Generator& made = kGenerators[generator];
    const std::string work = dir.Path(made.name) + "/", stem = work + made.stem;
    std::string command = "cd '" + work + "' && (cp '" KWT_EXAMPLES_DIR "/calc.y' . && " +
                          made.command + " && cc -o calc " + stem + ".tab.c) >log 2>&1";
    if (std::filesystem::create_directory(work)) {
        EXPECT_EQ(std::system(command.c_str()), 0) << command << "\n"
                                                   << std::ifstream(work + "log").rdbuf();
    }
    // byacc's parsers trace when YYDEBUG=1; the calculator exits 1 after a syntax error, which is
    // no failure.
    command = "YYDEBUG=1 '" + work + "calc' <'" KWT_EXAMPLES_DIR "/" + input + "' >/dev/null 2>'" +
              work + input + ".trace'";
    EXPECT_NE(std::system(command.c_str()), -1) << command;
    return {stem + ".output", stem + ".tab.h", work + input + ".trace"};
}

// The program as it starts, on a blank in-memory console, with the files opened in its order.
void OpenFiles(const TraceFiles& files) {
    ResetProgramState();
    fake::Reset();
    EXPECT_TRUE(ReadInclude(files.header.c_str()) > 0 && OpenListingQuietly(files.listing) &&
                OpenTrace(files.trace.c_str()))
        << files.trace;
}

// What a step shows (state, line, where the trace is read on, the block's header after byacc's
// conflict line) and what the newest step read leaves (return state, lookahead, its name).
using Outcome = std::pair<std::tuple<uint32_t, std::string, int64_t, std::string>,
                          std::tuple<uint32_t, int32_t, std::string>>;
Outcome Now() {
    const char* header = szLRT[std::strstr(szLRT[0].data(), "conflict") != nullptr].data();
    return {{nState, szTrace.data(), TextTell(pfileTrace), header},
            {nCurrentState, nToken, TokenName()}};
}

// What keypad plus shows at each step from the first line, to the end of the trace or for `most`
// steps.
std::vector<Outcome> Walk(const TraceFiles& files, std::size_t most = SIZE_MAX) {
    OpenFiles(files);
    uint16_t scroll = 0;
    BeginSteps(fake::Output(), scroll);
    std::vector<Outcome> steps{Now()};
    while (steps.size() <= most && (NextStep(fake::Output(), scroll), fake::state.beeps == 0))
        steps.push_back(Now());
    return steps;
}

// What a trace line says, read with regular expressions: the state shown
// after it (-1: none) and the lookahead's name (empty: none).
using Meaning = std::pair<long, std::string>;
Meaning Interpret(const std::string& line) {
    static const std::regex byacc(
        R"(^\w*debug(\[\d+\])?: state (\d+),( reading token (\d+) \((.*)\)$)?)");
    static const std::regex entered(
        R"(^(\w*debug(\[\d+\])?: (after reduction, .* to (final )?state|error )"
        R"(recovery discarding state)|Entering state|Stack now( \d+)*) (\d+)$)");
    static const std::regex bisonToken(R"(^Next token is token (.*) \(.*\)$)");
    std::smatch m;
    if (std::regex_search(line, m, byacc))
        return {std::stol(m[2]), m[4] == "0" ? "$end" : m[5].str()};
    if (std::regex_search(line, m, entered)) return {std::stol(m[6]), ""};
    if (std::regex_search(line, m, bisonToken))
        return {-1, m[1] == "\"end of file\"" ? "$end" : m[1].str()};
    return {-1, line == "Now at end of input." ? "$end" : ""};
}

TEST(RealTraces, KwtFollowsEveryTraceStateByState) {
    const TempDir dir;
    for (int generator = 0; generator < kGeneratorCount; ++generator)
        for (const char* input : kErrorInputs) {
            const TraceFiles files = RealTrace(dir, generator, input);
            // The 80-character pieces kwt steps through (a line of exactly 80 is followed by an
            // empty one) with the state and lookahead each leaves; the first line is not
            // interpreted, nor one longer than a piece.
            std::vector<std::pair<std::string, Meaning>> pieces;
            Meaning now{0, "(none)"};
            std::ifstream in(files.trace);
            for (std::string line; std::getline(in, line);) {
                const bool whole = line.size() <= 80;
                const Meaning says = whole && !pieces.empty() ? Interpret(line) : Meaning{-1, ""};
                now = {says.first < 0 ? now.first : says.first,
                       says.second.empty() ? now.second : says.second};
                for (std::size_t at = 0; at < std::max<std::size_t>(line.size(), 1); at += 80) {
                    pieces.emplace_back(line.substr(at, 80), now);
                }
            }
            const std::vector<Outcome> steps = Walk(files);
            ASSERT_EQ(steps.size(), pieces.size()) << files.trace;
            for (std::size_t i = 0; i < pieces.size(); ++i) {
                const auto& [line, says] = pieces[i];
                const auto& [shown, read] = steps[i];
                const std::string header =
                    (generator ? "State " : "state ") + std::to_string(says.first);
                ASSERT_EQ(std::make_tuple(std::get<1>(shown), long(std::get<0>(shown)),
                                          std::get<3>(shown), std::get<2>(read)),
                          std::make_tuple(line, says.first, header, says.second))
                    << files.trace << " step " << i;
            }
            // Back to the first step (the walk ended with a step past the end): each replays its
            // line, state and block; the lookahead stays the newest.
            uint16_t scroll = 0;
            for (std::size_t i = pieces.size(); i-- > 0;) {
                PrevStep(fake::Output(), scroll);
                ASSERT_EQ(Now(), std::make_pair(steps[i].first, steps.back().second))
                    << files.trace << " step " << i;
            }
        }
}

// kwt's own trace. Line 7 is three pieces: "split" straddles the first two and so lies in no piece,
// "after" is in the third. Line 10 ends in CR LF. Two matches of alpha cannot be seen: one after a
// NUL byte, one past 0x1A.
const std::string kOwnTrace =
    std::string(
        "at state 1, next token 258\nat state 2, next token 257\nreading IDENT alpha\n"
        "at state 3, next token 43\nerror: pop state 3, recover state 2\nerror: pop state 2, "
        "recover state 1\n"
        "at state 2, next token 258\n") +
    std::string(77, '.') + "split" + std::string(78, '-') + "after\n" +
    "at state 1, next token 257 alpha\r\nline 3: syntax error\nhidden" + std::string(1, '\0') +
    "alpha\n" +
    "at state 3, next token 43\n\x1a"
    "alpha\n";

TraceFiles OwnFiles(const TempDir& dir, const std::string& trace) {
    return {dir.Write("yy.lrt", Listing({3, 3, 3, 3})), dir.Write("yytab.h", "#define IDENT 257\n"),
            dir.Write("kwt.err", trace)};
}

// `keys`, then an Esc typed while the last of them is at work where `busyEsc`.
void Type(const TraceFiles& files, const std::string& keys, bool busyEsc = false) {
    OpenFiles(files);
    fake::PushText(keys);
    if (busyEsc) fake::PushKey(VirtualKey::kEscape, true, true);
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
            const std::size_t step =
                forward ? history[at] + i : history[at] - i;  // wraps past the first
            if (step < steps.size() && (error ? IsError(Line(step)) && !IsError(Line(step - 1))
                                              : Line(step).find(text) != std::string::npos))
                return Land(step);
        }
        Miss(error ? "No syntax error after this step"
                   : std::string("Not found ") + (forward ? "after" : "before") +
                         " this step: " + text);
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
                Miss("No state " + typed.substr(0, 12) + ": the states are 0 to " +
                     std::to_string(nStates - 1));
            }
            if ((key == 'n' || key == 'N') && text.empty())
                Miss("Nothing to find again yet: / asks for a text");
            if ((key == 'n' || key == 'N') && !text.empty()) Find(key == 'n', false);
            if (key == 'e') Find(true, true);
            if (key == '+') at + 1 < history.size() ? void(++at) : Land(history[at] + 1);
            if (key == '-' && at > 0) --at;
        }
    }
};

const char* const kKeyRows[] = {
    "/alpha\r",
    "/alpha\rn",
    "/alpha\rnn",
    "/split\r",
    "/after\r",
    "/alpha\rN",
    "/alpha\rnN",
    "+++/alpha\r",
    "+++--/alpha\r",
    "/alx\bpha\r",
    "/alpha\x1bn",
    "N",
    "/token 43\rn",
    "e",
    "ee",
    "eee",
    "e-",
    "e+",
    "e-+",
    "e+e",
    "/syntax error\r",
    "/syntax error\rnN",
    "/syntax errx\bor\r-",
    "/token\rnnnNN",
    "/state 1\rnn-N",
    "++/Stack\rN",
    "/zzz\r",
    "g99999\r",
    "g4294967297\r",
    "g\x1b",
    "/\r",
};

TEST(Search, JumpsLandWhereSteppingWouldAndMissesChangeNothing) {
    const TempDir dir;
    std::vector<TraceFiles> traces{OwnFiles(dir, kOwnTrace)};
    for (int generator = 0; generator < kGeneratorCount; ++generator)
        for (const char* input : kErrorInputs) traces.push_back(RealTrace(dir, generator, input));
    for (const TraceFiles& files : traces) {
        const std::vector<Outcome> steps = Walk(files);
        for (const std::string keys : kKeyRows) {
            SCOPED_TRACE(files.trace + ", keys " + keys);
            Type(files, keys);
            Expected want{steps};
            want.Press(keys);
            // A step back shows its step; the lookahead and the return state stay the newest
            // step's.
            EXPECT_EQ(Now(), std::make_pair(steps[want.history[want.at]].first,
                                            steps[want.history.back()].second));
            EXPECT_EQ(fake::state.beeps, want.beeps);
            EXPECT_EQ(fake::Waits().back().Row(kStatusRow).substr(0, want.note.size()), want.note);
        }
    }
}

// Esc read while the search runs, in its scan of a trace of several blocks
// and in its walk through many lines to a match: nothing changes.
TEST(Search, EscDuringALongSearchLeavesEverythingAsItWas) {
    const TempDir dir;
    for (const auto& [lines, keys] :
         {std::make_pair(40000, "+/target\r"), {6000, "+/target\r"}, {6000, "+e"}}) {
        std::string trace;
        for (int copied = 0; copied < lines; copied += 2)
            trace += "at state 1, next token 257\nat state 2, next token 2\n";
        const TraceFiles files =
            OwnFiles(dir, trace + "error: pop state 1, recover state 2 target\n");
        Type(files, keys, true);
        const auto got = std::make_tuple(Now(), sStateCursor, sStateTop,
                                         fake::state.beeps);  // before Walk reopens
        EXPECT_EQ(got, std::make_tuple(Walk(files, 1)[1], 1, 2, 0))
            << keys << " on " << lines << " lines";
    }
}

// A sparse file with lines just before and past 2 GiB: the listing's and the step history's
// offsets, load and replay.
TEST(FilesPast2GiB, IndexStepAndReplay) {
    const TempDir dir;
    const int64_t base = (int64_t{1} << 31) - 8;
    const std::string path = dir.Write("big", "");
    std::filesystem::resize_file(path, std::uintmax_t(base));
    std::ofstream(path, std::ios::app) << "State 7\nbefore\nafter 2 GiB\nEntering state 0\nlast\n";
    ResetProgramState();
    fake::Reset();
    pfileLRT = TextOpen(path.c_str()), pfileTrace = TextOpen(path.c_str());
    nStates = 1, lState[0] = base, lState[1] = base + 27;  // up to "Entering state 0"
    ASSERT_TRUE(TextSeek(pfileTrace, base + 8));
    uint16_t scroll = 0;
    BeginSteps(fake::Output(), scroll);  // loads state 0's block
    EXPECT_EQ(std::make_tuple(nLRTLines, std::string(szLRT[2].data())),
              std::make_tuple(3u, "after 2 GiB"));
    for (const char* keys : {"+++", "--", "++"}) {
        for (const char key : std::string(keys))
            (key == '+' ? NextStep : PrevStep)(fake::Output(), scroll);
        EXPECT_STREQ(szTrace.data(), *keys == '-' ? "after 2 GiB" : "last");
    }
    EXPECT_EQ(lTrace[uint16_t(sStateCursor - 2)], base + 15);
}

}  // namespace

// Real parser generators: byacc, bison and bison -y build parsers from
// examples/calc.y, the parsers trace the example inputs with syntax errors,
// and kwt is stepped through every trace against the listing and header of
// the same run.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "kwt.h"
#include "memory_console.h"
#include "program_state.h"
#include "test_files.h"

namespace mc = memory_console;

namespace {

struct Generator {
    const char* name;
    const char* generate;  // run in a directory holding calc.y
    const char* parser;
    const char* listing;
    const char* header;
    const char* environment;  // byacc's parsers trace when YYDEBUG=1
    const char* stateWord;    // the listing's state header: `state N` or `State N`
};

void PrintTo(const Generator& generator, std::ostream* out) { *out << generator.name; }

const Generator kGenerators[] = {
    {"byacc", "byacc -t -v -d calc.y", "y.tab.c", "y.output", "y.tab.h", "YYDEBUG=1 ", "state "},
    {"bison", "bison -t -v -d calc.y", "calc.tab.c", "calc.output", "calc.tab.h", "", "State "},
    {"bison_y", "bison -y -Wno-yacc -t -v -d calc.y", "y.tab.c", "y.output", "y.tab.h", "",
     "State "},
};

// Recovered by popping several states (with a stack deep enough for
// bison's `Stack now` lines to pass 80 columns), at the end of the input,
// and back to state 0.
const char* const kInputs[] = {"error-pops.calc", "error-at-end.calc", "error-to-state-0.calc"};

std::string Example(const std::string& name) { return std::string(KWT_EXAMPLES_DIR) + "/" + name; }

// The calculator exits 1 when its input ends in an error: the status is not ours to check.
void Shell(const std::string& command) { ASSERT_NE(std::system(command.c_str()), -1) << command; }

// What a trace line says, read with regular expressions: the state shown
// after it and the lookahead's name (empty when the line says nothing).
struct Meaning {
    long state = -1;
    std::string token;
};

Meaning Interpret(const std::string& line) {
    static const std::regex byaccReading(
        R"(^\w*debug(\[\d+\])?: state (\d+), reading token (\d+) \((.*)\)$)");
    static const std::regex byaccState(R"(^\w*debug(\[\d+\])?: state (\d+),)");
    static const std::regex byaccTarget(
        R"(^\w*debug(\[\d+\])?: )"
        R"((after reduction, .* to (final )?state|error recovery discarding state) (\d+)$)");
    static const std::regex bisonState(R"(^(Entering state|Stack now( \d+)*) (\d+)$)");
    static const std::regex bisonToken(R"(^Next token is token (.*) \(.*\)$)");
    std::smatch match;
    Meaning meaning;
    if (std::regex_search(line, match, byaccReading)) {
        meaning.state = std::stol(match[2]);
        meaning.token = match[3] == "0" ? "$end" : match[4].str();
    } else if (std::regex_search(line, match, byaccState)) {
        meaning.state = std::stol(match[2]);
    } else if (std::regex_search(line, match, byaccTarget)) {
        meaning.state = std::stol(match[4]);
    } else if (std::regex_search(line, match, bisonState)) {
        meaning.state = std::stol(match[3]);
    } else if (std::regex_search(line, match, bisonToken)) {
        meaning.token = match[1] == "\"end of file\"" ? "$end" : match[1].str();
    } else if (line == "Now at end of input.") {
        meaning.token = "$end";
    }
    return meaning;
}

// The pieces kwt steps through: lines cut into 80-character pieces (a line
// of exactly 80 is followed by an empty piece). Only a line that fits in
// one piece says anything.
std::vector<std::pair<std::string, Meaning>> Steps(const std::string& trace) {
    std::vector<std::pair<std::string, Meaning>> steps;
    std::ifstream in(trace);
    for (std::string line; std::getline(in, line);) {
        if (line.size() < 80) {
            steps.emplace_back(line, Interpret(line));
            continue;
        }
        for (std::size_t at = 0; at <= line.size(); at += 80) {
            steps.emplace_back(line.substr(at, 80), Meaning{});
        }
    }
    return steps;
}

// The header line that opens the loaded block, after byacc's conflict lines.
std::string BlockHeader() {
    static const std::regex conflict(R"(^\d+: (shift|reduce)/reduce conflict)");
    for (uint32_t i = 0; i < nLRTLines; ++i) {
        if (!std::regex_search(LoadedLine(i), conflict)) return LoadedLine(i);
    }
    return "";
}

std::string StatusToken() {
    const std::string row = mc::Row(kStatusRow);
    const std::size_t from = row.find("Next Token: ");
    if (from == std::string::npos) return "?";
    const std::size_t start = from + 12;
    return row.substr(start, row.find("    Help", start) - start);
}

class Generators : public ::testing::TestWithParam<Generator> {
protected:
    void TearDown() override { ResetProgramState(); }
    TempDir dir;
};

TEST_P(Generators, KwtFollowsEveryRealTraceStateByState) {
    const Generator& generator = GetParam();
    const std::string work = dir.path();
    dir.Write("calc.y", ReadWholeFile(Example("calc.y")));
    Shell("cd '" + work + "' && " + generator.generate + " 2>generate.log && cc -o calc " +
        generator.parser + " 2>>generate.log");
    ASSERT_TRUE(std::ifstream(dir.Path("calc")).good()) << ReadWholeFile(dir.Path("generate.log"));
    const std::string word = generator.stateWord;

    for (const char* input : kInputs) {
        SCOPED_TRACE(std::string(generator.name) + " on " + input);
        const std::string trace = dir.Path(std::string(input) + ".trace");
        Shell("cd '" + work + "' && " + generator.environment + "./calc < '" + Example(input) +
            "' >/dev/null 2>'" + trace + "'");
        ResetProgramState();
        mc::Reset();
        ASSERT_GT(ReadInclude(dir.Path(generator.header).c_str()), 0);
        ASSERT_TRUE(OpenListingQuietly(dir.Path(generator.listing)));
        ASSERT_TRUE(OpenTrace(trace.c_str()));
        const auto steps = Steps(trace);
        ASSERT_GT(steps.size(), 20u);
        ASSERT_LT(steps.size(), static_cast<std::size_t>(kStepSlots));

        uint16_t scroll = 0;
        BeginSteps(mc::Output(), scroll);  // the first line is shown, not interpreted
        long state = 0;
        std::string token = "(none)";
        std::vector<uint32_t> shown;
        for (std::size_t i = 0; i < steps.size(); ++i) {
            if (i > 0) NextStep(mc::Output(), scroll);
            if (i > 0 && steps[i].second.state >= 0) state = steps[i].second.state;
            if (i > 0 && !steps[i].second.token.empty()) token = steps[i].second.token;
            ASSERT_EQ(std::string(szTrace.data()), steps[i].first) << "step " << i;
            ASSERT_EQ(nState, static_cast<uint32_t>(state)) << steps[i].first;
            ASSERT_EQ(BlockHeader(), word + std::to_string(state)) << steps[i].first;
            ASSERT_EQ(StatusToken(), token) << steps[i].first;
            shown.push_back(nState);
        }
        // Back to the first step: each step replays its state, block and line.
        for (std::size_t i = steps.size() - 1; i-- > 0;) {
            PrevStep(mc::Output(), scroll);
            ASSERT_EQ(nState, shown[i]) << "step " << i;
            ASSERT_EQ(BlockHeader(), word + std::to_string(shown[i]));
            ASSERT_EQ(std::string(szTrace.data()), steps[i].first);
        }
    }
}

// A sparse file with lines just before and past 2 GiB: the listing's
// offsets and the step history's index, load and replay there.
TEST(FilesPast2GiB, IndexStepAndReplay) {
    TempDir dir;
    const int64_t base = (int64_t{1} << 31) - 8;
    const std::string lines = "State 7\nbefore\nafter 2 GiB\nEntering state 0\nlast\n";
    const std::string path = dir.Path("big");
    {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(fseeko(file, static_cast<off_t>(base), SEEK_SET), 0);
        ASSERT_EQ(std::fwrite(lines.data(), 1, lines.size(), file), lines.size());
        std::fclose(file);
    }
    ResetProgramState();
    mc::Reset();
    pfileLRT = TextOpen(path.c_str());
    nStates = 1;
    lState[0] = base;
    lState[1] = base + 27;  // up to "Entering state 0"
    LoadLRT();
    ASSERT_EQ(nLRTLines, 3u);
    EXPECT_EQ(LoadedLine(2), "after 2 GiB");

    pfileTrace = TextOpen(path.c_str());
    ASSERT_TRUE(TextSeek(pfileTrace, base + 8));
    uint16_t scroll = 0;
    BeginSteps(mc::Output(), scroll);
    EXPECT_STREQ(szTrace.data(), "before");
    NextStep(mc::Output(), scroll);
    EXPECT_EQ(TextTell(pfileTrace), base + 27);
    NextStep(mc::Output(), scroll);
    NextStep(mc::Output(), scroll);
    EXPECT_STREQ(szTrace.data(), "last");
    PrevStep(mc::Output(), scroll);
    PrevStep(mc::Output(), scroll);
    EXPECT_STREQ(szTrace.data(), "after 2 GiB");
    EXPECT_EQ(lTrace[sStateCursor], base + 15);
    NextStep(mc::Output(), scroll);
    NextStep(mc::Output(), scroll);
    EXPECT_STREQ(szTrace.data(), "last");
}

INSTANTIATE_TEST_SUITE_P(RealRuns, Generators, ::testing::ValuesIn(kGenerators),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

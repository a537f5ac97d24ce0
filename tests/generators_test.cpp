// Real parser generators: kwt steps through every trace of the example calculator against the
// listing and header of the same run, and back; and files past 2 GiB.
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
struct Generator { const char *name, *command, *stem; };
const Generator kGenerators[kGeneratorCount] = {
    {"byacc", "byacc -t -v -d calc.y", "y"}, {"bison", "bison -t -v -d calc.y", "calc"},
    {"bison_y", "bison -y -Wno-yacc -t -v -d calc.y", "y"}};

// What a trace line says, read with regular expressions: the state shown
// after it (-1: none) and the lookahead's name (empty: none).
using Meaning = std::pair<long, std::string>;
Meaning Interpret(const std::string& line) {
    static const std::regex byacc(R"(^\w*debug(\[\d+\])?: state (\d+),( reading token (\d+) \((.*)\)$)?)");
    static const std::regex entered(R"(^(\w*debug(\[\d+\])?: (after reduction, .* to (final )?state|error )"
                                    R"(recovery discarding state)|Entering state|Stack now( \d+)*) (\d+)$)");
    static const std::regex bisonToken(R"(^Next token is token (.*) \(.*\)$)");
    std::smatch m;
    if (std::regex_search(line, m, byacc)) return {std::stol(m[2]), m[4] == "0" ? "$end" : m[5].str()};
    if (std::regex_search(line, m, entered)) return {std::stol(m[6]), ""};
    if (std::regex_search(line, m, bisonToken)) return {-1, m[1] == "\"end of file\"" ? "$end" : m[1].str()};
    return {-1, line == "Now at end of input." ? "$end" : ""};
}

class Generators : public ::testing::TestWithParam<int> {};

TEST_P(Generators, KwtFollowsEveryRealTraceStateByState) {
    const TempDir dir;
    for (const char* input : kErrorInputs) {
        const TraceFiles files = RealTrace(dir, GetParam(), input);
        OpenFiles(files);
        // The 80-character pieces kwt steps through (a line of exactly 80 is followed by an empty one) with
        // the state and lookahead each leaves; the first line is not interpreted, nor one longer than a piece.
        std::vector<std::pair<std::string, Meaning>> pieces;
        Meaning now{0, "(none)"};
        std::ifstream in(files.trace);
        for (std::string line; std::getline(in, line);) {
            const bool whole = line.size() < 80;
            const Meaning says = whole && !pieces.empty() ? Interpret(line) : Meaning{-1, ""};
            now = {says.first < 0 ? now.first : says.first, says.second.empty() ? now.second : says.second};
            for (std::size_t at = 0; at <= (whole ? 0 : line.size()); at += 80) {
                pieces.emplace_back(line.substr(at, 80), now);
            }
        }
        ASSERT_GT(pieces.size(), 20u);
        const auto shows = [&](std::size_t i, const std::string& token) {
            const std::string state = std::to_string(pieces[i].second.first);
            return std::make_tuple(pieces[i].first, state, (GetParam() ? "State " : "state ") + state, token);
        };
        const auto shown = [] {  // the line, the status row's state and lookahead, the block's header
            const std::string status = fake::Now().Row(kStatusRow);  // (after byacc's conflict line)
            const std::size_t token = status.find("Token: ") + 7;
            const char* header = szLRT[std::strstr(szLRT[0].data(), "conflict") != nullptr].data();
            return std::make_tuple(szTrace.data(), std::to_string(std::stol(status.substr(6))), std::string(header),
                                   status.substr(token, status.find("    Help", token) - token));
        };
        uint16_t scroll = 0;
        BeginSteps(fake::Output(), scroll);
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            if (i > 0) NextStep(fake::Output(), scroll);
            ASSERT_EQ(shown(), shows(i, pieces[i].second.second)) << input << " step " << i;
        }
        // Back to the first step: each replays its line, state and block; the lookahead stays the newest.
        for (std::size_t i = pieces.size() - 1; i-- > 0;) {
            PrevStep(fake::Output(), scroll);
            ASSERT_EQ(shown(), shows(i, pieces.back().second.second)) << input << " step " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(RealRuns, Generators, ::testing::Range(0, kGeneratorCount),
                         [](const auto& info) { return std::string(kGenerators[info.param].name); });

// A sparse file with lines just before and past 2 GiB: the listing's
// offsets and the step history's, load and replay there.
TEST(FilesPast2GiB, IndexStepAndReplay) {
    const TempDir dir;
    const int64_t base = (int64_t{1} << 31) - 8;
    const std::string path = dir.Write("big", "");
    std::filesystem::resize_file(path, std::uintmax_t(base));
    std::ofstream(path, std::ios::app) << "State 7\nbefore\nafter 2 GiB\nEntering state 0\nlast\n";
    ResetProgramState();
    fake::Reset();
    pfileLRT = TextOpen(path.c_str());
    nStates = 1;
    lState[0] = base;
    lState[1] = base + 27;  // up to "Entering state 0"
    pfileTrace = TextOpen(path.c_str());
    ASSERT_TRUE(TextSeek(pfileTrace, base + 8));
    uint16_t scroll = 0;
    BeginSteps(fake::Output(), scroll);  // loads state 0's block
    EXPECT_EQ(std::make_tuple(nLRTLines, std::string(szLRT[2].data())), std::make_tuple(3u, "after 2 GiB"));
    for (const char* keys : {"+++", "--", "++"}) {
        for (const char key : std::string(keys)) (key == '+' ? NextStep : PrevStep)(fake::Output(), scroll);
        EXPECT_STREQ(szTrace.data(), *keys == '-' ? "after 2 GiB" : "last");
    }
    EXPECT_EQ(lTrace[uint16_t(sStateCursor - 2)], base + 15);
}

}  // namespace

TraceFiles RealTrace(const TempDir& dir, int generator, const std::string& input) {
    const Generator& made = kGenerators[generator];
    const std::string work = dir.Path(made.name) + "/", stem = work + made.stem;
    std::string command = "cd '" + work + "' && (cp '" KWT_EXAMPLES_DIR "/calc.y' . && " + made.command +
                          " && cc -o calc " + stem + ".tab.c) >log 2>&1";
    if (std::filesystem::create_directory(work)) {
        EXPECT_EQ(std::system(command.c_str()), 0) << command << "\n" << std::ifstream(work + "log").rdbuf();
    }
    // byacc's parsers trace when YYDEBUG=1; the calculator exits 1 after a syntax error, which is no failure.
    command = "YYDEBUG=1 '" + work + "calc' <'" KWT_EXAMPLES_DIR "/" + input + "' >/dev/null 2>'" + work + input +
              ".trace'";
    EXPECT_NE(std::system(command.c_str()), -1) << command;
    return {stem + ".output", stem + ".tab.h", work + input + ".trace"};
}

void OpenFiles(const TraceFiles& files) {
    ResetProgramState();
    fake::Reset();
    testing::internal::CaptureStdout();  // the listing reader's progress
    const bool opened = ReadInclude(files.header.c_str()) > 0 && OpenLRT(files.listing.c_str()) &&
                        OpenTrace(files.trace.c_str());
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(opened) << files.trace;
}

// kwt on real traces: the generators build the example calculator, and kwt steps through each
// trace in a window of 120 x 40; every step must show what a model read from the trace text says
// (state, lookahead, return state, the stack in the pane beside the listing window), and back (-)
// and jumps (/ n N e > < g G) must land where stepping does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <tuple>

#include "fake_console.h"
#include "support.h"

namespace {

// How each generator builds the calculator in its directory from the example grammar ($E is the
// examples directory), the files it writes, and where the parser writes its trace (byacc's parsers
// trace when YYDEBUG=1; the calculator exits 1 after a syntax error).
struct Generator {
    const char *name, *build, *listing, *header, *run;
};
const Generator kGenerators[] = {
    {"byacc", "cp $E/calc.y . && byacc -t -v -d calc.y && cc -o calc y.tab.c", "y.output",
     "y.tab.h", "2>"},
    {"bison", "cp $E/calc.y . && bison -t -v -d calc.y && cc -o calc calc.tab.c", "calc.output",
     "calc.tab.h", "2>"},
    {"bison_y", "cp $E/calc.y . && bison -y -Wno-yacc -t -v -d calc.y && cc -o calc y.tab.c",
     "y.output", "y.tab.h", "2>"},
    {"bison_cc", "cp $E/calc.yy . && bison -t -v -d calc.yy && c++ -o calc calc.tab.cc",
     "calc.output", "calc.tab.hh", "2>"},
    {"bison_glr",
     "sed '/^%expect 1/i %glr-parser' $E/calc.y >calc.y && bison -t -v -d calc.y && "
     "cc -o calc calc.tab.c",
     "calc.output", "calc.tab.h", "2>"},
    {"byacc_b", "cp $E/calc.y . && byacc -B -t -v -d calc.y && cc -o calc y.tab.c", "y.output",
     "y.tab.h", "2>"},
    {"btyacc",
     "sed '/^%expect/d' $E/calc.y >calc.y && btyacc -t -v -d calc.y && "
     "c++ -fpermissive -w -include y.tab.h -o calc y.tab.c",
     "y.output", "y.tab.h", ">"},
    // lemon's calculator with an error rule, and one of unit rules and none; -c: no compression.
    {"lemon", "cp $E/lemon/calc.y . && lemon calc.y && cc -o calc calc.c", "calc.out", "calc.h",
     "2>"},
    {"lemon_c", "cp $E/lemon/calc.y . && lemon -c calc.y && cc -o calc calc.c", "calc.out",
     "calc.h", "2>"},
    {"lemon_units", "cp $E/lemon/units.y calc.y && lemon calc.y && cc -o calc calc.c", "calc.out",
     "calc.h", "2>"},
    {"lemon_units_c", "cp $E/lemon/units.y calc.y && lemon -c calc.y && cc -o calc calc.c",
     "calc.out", "calc.h", "2>"},
};
// A GLR parser whose stacks split two and six ways, and whose deferred actions run on the way back
// to one stack.
const Generator kSplits = {"bison_glr_splits",
                           "cp $E/glr/splits.y . && bison -t -v -d splits.y && cc -o calc "
                           "splits.tab.c",
                           "splits.output", "splits.tab.h", "2>"};
// Recovered by popping several states (with a stack deep enough for bison's `Stack now` lines to
// pass 80 columns), at the end of the input, back to state 0, some 1,500 tokens in; and no error
// but 100 nested parentheses (which overflow the stack of lemon's unit-rule parser).
const char* const kErrorInputs[] = {"error-pops.calc", "error-at-end.calc", "error-to-state-0.calc",
                                    "error-late.calc", "nested-100.calc"};
// Each generator's parser on each input of its grammar.
std::vector<std::pair<const Generator*, std::string>> Runs() {
    std::vector<std::pair<const Generator*, std::string>> runs;
    for (const Generator& made : kGenerators) {
        for (const char* input : kErrorInputs) runs.emplace_back(&made, input);
    }
    for (const char* input : {"glr/pair.in", "glr/six.in"}) runs.emplace_back(&kSplits, input);
    return runs;
}
struct TraceFiles {
    std::string listing, header, trace;
};

TraceFiles RealTrace(const TempDir& dir, const Generator& made, const std::string& input) {
    const std::string work = dir.Path(made.name) + "/";
    std::string build = made.build;
    for (std::size_t at; (at = build.find("$E")) != std::string::npos;) {
        build.replace(at, 2, KWT_EXAMPLES_DIR);
    }
    std::string command = "cd '" + work + "' && (" + build + ") >log 2>&1";
    if (std::filesystem::create_directory(work)) {
        EXPECT_EQ(std::system(command.c_str()), 0)
            << command << std::ifstream(work + "log").rdbuf();
    }
    std::string trace = input + ".trace";
    std::replace(trace.begin(), trace.end(), '/', '_');
    command = "cd '" + work + "' && YYDEBUG=1 ./calc <'" KWT_EXAMPLES_DIR "/" + input + "' " +
              made.run + "'" + trace + "' " + (made.run[0] == '>' ? "2" : "") + ">/dev/null";
    EXPECT_NE(std::system(command.c_str()), -1) << command;
    return {work + made.listing, work + made.header, work + trace};
}

void OpenFiles(const TraceFiles& files) {
    ResetProgramState();
    fake::Reset(120, 40);
    MeasureScreen(fake::Output());
    EXPECT_TRUE(ReadInclude(files.header.c_str()) > 0 && OpenListingQuietly(files.listing) &&
                OpenTrace(files.trace.c_str()))
        << files.trace;
}

// Stacks bottom first: "?" for a depth never named, "*" not judged. What is `shown` may be cut:
// "..." and the top entries, where more than one entry remained for the pane's last row.
bool SameStack(const std::string& stack, const std::string& shown) {
    const std::string top = shown.rfind("...", 0) == 0 ? shown.substr(3) : "";
    return stack == "*" || shown == "*" || stack == shown ||
           (!top.empty() && stack.size() > top.size() &&
            stack.substr(stack.size() - top.size()) == top &&
            std::count(stack.begin(), stack.end(), ' ') > std::count(top.begin(), top.end(), ' '));
}

// What a step shows (on the left of ==), or what the model says it must: the piece on the trace
// row, the state, the return state, the lookahead and the stack.
struct Step {
    std::string line;
    long state, back;
    std::string token, stack;
    // A model's -1 or "*" is not judged.
    bool operator==(const Step& o) const {
        const auto same = [](long a, long b) { return a == b || a < 0 || b < 0; };
        return std::tie(line, token) == std::tie(o.line, o.token) && same(state, o.state) &&
               same(back, o.back) && SameStack(o.stack, stack);
    }
};
void PrintTo(const Step& s, std::ostream* out) {
    *out << s.line << " | " << s.state << " back " << s.back << " " << s.token << " [" << s.stack
         << "]";
}

// The stack as the pane shows it, from its rows' first words: a state, "?" or "..."; "unknown"
// where the pane says so in words.
std::string PaneStack(const fake::Screen& screen) {
    std::string text, entry;
    for (int row = ListingRows() - 1; row > 0; --row) {
        if (std::istringstream(screen.Row(row).substr(81)) >> entry)
            text += (text.empty() ? "" : " ") + entry;
    }
    return text.find_first_not_of("0123456789?.- ") == std::string::npos ? text : "unknown";
}

Step Now(const fake::Screen& screen = fake::Now()) {
    const ParserView& view = ShownView();
    return {szTrace.data(), long(nState), long(view.returnState), TokenName(view),
            PaneStack(screen)};
}

// What keypad plus shows at each step from the first line, to the end of the trace or for
// `most` steps.
std::vector<Step> Walk(const TraceFiles& files, std::size_t most = SIZE_MAX) {
    OpenFiles(files);
    uint16_t scroll = 0;
    BeginSteps(fake::Output(), scroll);
    std::vector<Step> steps{Now()};
    while (steps.size() <= most && (NextStep(fake::Output(), scroll), fake::state.beeps == 0)) {
        steps.push_back(Now());
    }
    return steps;
}

// The parser as the trace's text says it is, line by line: byacc's states by the depth its
// prefix gives; bison's stack as its `Stack now` lines give it.
struct Model {
    long state = 0, back = 0;
    std::string token = "(none)", stack = "*";
    std::vector<long> states;

    void Move(long to) {
        if (to != state || to < 0) back = to < 0 ? to : state, state = to;
    }
    void Put(std::size_t depth, long to) {
        states.resize(depth + 1, -1);  // -1: a depth never named
        states[depth] = to;
    }
    std::string Join() const {
        std::string text;
        for (std::size_t i = 0; i < states.size(); ++i) {
            const long each = states[i];
            text += (i > 0 ? " " : "") + (each == -2 ? "-" : each < 0 ? "?" : std::to_string(each));
        }
        return text;
    }
    void Byacc(std::size_t depth, const std::string& text) {
        static const std::regex state(R"(^state (\d+), (.*)$)"),
            read(R"(^reading (token )?(\d+) \((.*)\)( <.*>)?$)"),
            shift(R"(^(shifting|error recovery shifting|ERROR recovery shifts) to state (\d+)$)"),
            reduced(R"(^after reduction, .*from state (\d+) to (final )?state (\d+)$)"),
            popped(R"(^(error recovery discarding|ERROR recovery discards) state (\d+)$)");
        std::smatch m, t;
        if (std::regex_match(text, m, state)) {
            Put(depth, std::stol(m[1]));
            Move(std::stol(m[1]));
            const std::string rest = m[2];
            if (std::regex_match(rest, t, read)) token = t[2] == "0" ? "$end" : t[3].str();
            if (std::regex_match(rest, t, shift))
                Put(depth + 1, std::stol(t[2])), Move(states.back());
        } else if (std::regex_match(text, m, reduced)) {
            Put(depth, std::stol(m[1]));
            Put(depth + 1, std::stol(m[3]));
            Move(states.back());
        } else if (std::regex_match(text, m, popped)) {
            states.resize(depth, -1);
            Move(depth > 0 && states.back() >= 0 ? states.back() : std::stol(m[2]));
        }
        stack = Join();
    }
    // bison's; a GLR parser's split stacks are each in the state their lines last named. Until
    // stacks first split, `Entering state` after a shift pushes its state on the stack, after a
    // reduction as well, having popped as many states as the reduction listed `$i` lines.
    std::map<long, long> lastOf;
    std::size_t pops = 0;
    bool pushing = false, split = false;
    bool lost = false;  // stack 0 is one kwt did not keep: it is shown as not known
    void Push(long to) {
        if (!split && (pushing || states.empty())) {
            states.resize(states.size() - std::min(pops, states.size()));
            states.push_back(to);
        }
        if (!split && states.back() == to) stack = Join();
        pops = 0, pushing = false;
    }
    void Split() {  // the stacks that split are not followed: their states are unknown
        split = true;
        states.clear();
    }
    void Bison(const std::string& line) {
        static const std::regex entered(R"(^(Stack (\d+) )?(Entering|now in) state (\d+)$|)"
                                        R"(^Reduced stack (\d+) .*Now in state (\d+)\.$)"),
            now(R"(^Stack now((?: \d+)+)$)"), named(R"(^Next token is token (.*) \(.*\)$)"),
            glr(R"(^On stack (\d+), shifting|^Splitting off stack (\d+) from (\d+)|)"
                R"(^Rename stack (\d+) -> (\d+))"),
            reduction(R"(^Reducing stack (\d+ )?by rule)"), value(R"(^   \$\d+ = )");
        std::smatch m;
        stack = "*";
        if (std::regex_search(line, m, reduction)) pushing = true, pops = 0;
        if (line.rfind("Shifting token", 0) == 0) pushing = true;
        if (pushing && std::regex_search(line, m, value)) ++pops;
        if (std::regex_search(line, m, entered)) {
            const bool named = m[2].matched || m[5].matched;
            if (named) Split();
            Move(lastOf[named ? std::stol(m[2].matched ? m[2] : m[5]) : 0] =
                     std::stol(m[4].matched ? m[4] : m[6]));
            if (m[3] == "Entering") Push(state);
        }
        // kwt keeps the first kSplitStacksMax stacks: the state of another is not known.
        const long unknown = kUnknownEntry;
        const auto kept = [&](const std::string& n) {
            return std::stoul(n) < kSplitStacksMax ? lastOf[std::stol(n)] : unknown;
        };
        if (std::regex_search(line, m, glr)) {
            Split();
            if (m[1].matched) Move(kept(m[1]));
            if (m[2].matched) lastOf[std::stol(m[2])] = kept(m[3]);
            if (m[4].matched) lastOf[std::stol(m[5])] = kept(m[4]);
            if (m[4].matched && m[5] == "0") lost = kept(m[4]) == unknown;
        }
        if (line == "Starting parse") lost = false;
        if (std::regex_match(line, m, named)) {
            token = m[1] == "\"end of file\"" ? "$end" : m[1].str();
        }
        if (line == "Now at end of input.") token = "$end";
        if (std::regex_match(line, m, now)) {
            std::istringstream numbers(m[1]);
            states.clear();
            for (long s; numbers >> s;) states.push_back(s);
            Move(states.back());
            stack = Join();
        }
        // A pop the trace confirms with `Stack now`; a GLR parser's is not judged.
        if (line.rfind("Error: popping", 0) == 0 || line.rfind("Cleanup: popping", 0) == 0) {
            if (!states.empty()) states.pop_back();
            Move(states.empty() ? -1 : states.back());
        }
        if (lost) stack = "unknown";
    }
    // lemon's, after its prefix: a shift pushes its state, or "-" (-2) where a reduction is
    // pending; a reduction takes off the symbols its rule's right side lists, whatever the stack
    // holds there. The parser's state is the top entry's that has one.
    void Lemon(const std::string& line) {
        static const std::regex input(R"(^Input '(.*)' (in state (\d+)|with pending))"),
            shift(R"(^(Shift|\.\.\. then shift) '(.*)', (go to state (\d+)|pending))"),
            reduce(R"(^Reduce \d+ \[\S+ ::=(.*)\].*, pop back to state (\d+)\.$)"),
            dropped(R"(^(Accept!|Discard input token|Fail!|Stack Overflow!))");
        std::smatch m;
        if (states.empty()) states = {0};
        if (std::regex_search(line, m, input)) {
            token = m[1];
            if (m[3].matched && std::stol(m[3]) == 0) states = {0};
            if (m[3].matched) Move(std::stol(m[3]));
        } else if (std::regex_search(line, m, shift)) {
            states.push_back(m[4].matched ? std::stol(m[4]) : -2);
            if (m[1] == "Shift" && m[2] != "error") token = "(none)";
        } else if (std::regex_search(line, m, reduce)) {
            std::istringstream words(m[1]);
            for (std::string word; words >> word;) states.pop_back();
        } else if (line.rfind("Popping", 0) == 0 || line == "Accept!") {
            states.pop_back();
        }
        if (std::regex_search(line, m, dropped)) token = "(none)";
        const auto top =
            std::find_if(states.rbegin(), states.rend(), [](long s) { return s >= 0; });
        Move(*top);
        stack = Join();
    }
    void Read(const std::string& line) {
        static const std::regex byacc(R"(^\w*debug(\(trial\))?\[(\d+)(,-?\w+)?\]: (.*)$)");
        std::smatch m;
        if (std::regex_match(line, m, byacc)) return Byacc(std::stoul(m[2]), m[4]);
        if (line.rfind("parser: ", 0) == 0) return Lemon(line.substr(8));
        if (line.rfind("yydebug", 0) != 0) Bison(line);
    }
};

// The steps the model says the trace has: its lines in pieces of 80 columns, each line taking
// effect at its last piece.
std::vector<Step> Expect(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    Model model;
    std::vector<Step> steps;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const Step before{"", model.state, model.back, model.token, "*"};
        model.Read(line);
        for (std::size_t at = 0; at < std::max<std::size_t>(line.size(), 1); at += 80) {
            const bool last = at + 80 >= line.size();
            Step step = last ? Step{"", model.state, model.back, model.token, model.stack} : before;
            step.line = line.substr(at, 80);
            steps.push_back(step);
        }
    }
    return steps;
}

TEST(RealTraces, EveryStepShowsWhatTheTraceSaysBothWays) {
    const TempDir dir;
    for (const auto& [made, input] : Runs()) {
        const TraceFiles files = RealTrace(dir, *made, input);
        const std::vector<Step> want = Expect(files.trace);
        const std::vector<Step> steps = Walk(files);
        ASSERT_EQ(steps.size(), want.size()) << files.trace;
        for (std::size_t i = 0; i < steps.size(); ++i) {
            ASSERT_EQ(steps[i], want[i]) << files.trace << " step " << i;
            // A known stack has the parser's state on top (where it has one) and state 0 at its
            // bottom (where the pane shows it).
            const std::string& stack = steps[i].stack;
            const std::string top = stack.substr(stack.rfind(' ') + 1);
            if (stack == "unknown" || stack.empty()) continue;
            if (top != "?" && top != "-") {
                ASSERT_EQ(top, std::to_string(steps[i].state)) << files.trace << " step " << i;
            }
            if (stack.rfind("...", 0) != 0) {
                ASSERT_EQ(stack.substr(0, stack.find(' ')), "0") << files.trace << " step " << i;
            }
        }
        // Back to the first step: each step shows its own view again. A + at the end took no step.
        uint16_t scroll = 0;
        for (std::size_t i = steps.size() - 1; i-- > 0;) {
            PrevStep(fake::Output(), scroll);
            ASSERT_EQ(Now(), steps[i]) << files.trace << " step " << i;
        }
    }
}

// A parse with errors, a tab, a UTF-8 name and a line longer than the window, by bison's C and C++
// parsers with %locations: at every step the input page marks the lookahead's characters, which
// the trace prints as the token's value (a character token is its name).
TEST(RealTraces, TheInputPageMarksTheLookahead) {
    const TempDir dir;
    const Generator located[] = {
        {"located", "cp $E/locations/calc.y . && bison -t -v -d calc.y && cc -o calc calc.tab.c",
         "calc.output", "calc.tab.h", "2>"},
        {"located_cc",
         "cp $E/locations/calc.yy . && bison -t -v -d calc.yy && c++ -o calc calc.tab.cc",
         "calc.output", "calc.tab.hh", "2>"}};
    for (const Generator& made : located) {
        const TraceFiles files = RealTrace(dir, made, "locations/errors.in");
        OpenFiles(files);
        ASSERT_TRUE(OpenInput(KWT_EXAMPLES_DIR "/locations/errors.in"));
        std::ifstream in(files.trace);
        static const std::regex next(R"(^Next token is token ('(.)'|\S+) \([\d.-]+: (.*)\)$)");
        std::smatch m;
        std::string want;
        uint16_t scroll = 0;
        BeginSteps(fake::Output(), scroll);
        for (std::string line; std::getline(in, line); NextStep(fake::Output(), scroll)) {
            if (std::regex_match(line, m, next)) want = m[2].matched ? m[2] : m[3];
            if (line == "Now at end of input." || line.find("\"end of file\"") == 20) want.clear();
            ShowInputPage(fake::Output(), 0);
            std::string marked;
            for (int row = 1; row < ListingRows(); ++row) {
                for (int column = 0; column < 80; ++column) {
                    const fake::Cell cell = fake::Now().At(row, column);
                    if ((cell.attribute & 0xFF) == 0x70) marked += char(cell.character);
                }
            }
            ASSERT_EQ(marked, want) << made.name << ": " << line;
        }
        CloseInput();
    }
}

// kwt's own trace. Line 7 is three pieces: "split" straddles the first two and is found in the
// first, "after" is in the third. Line 10 ends in CR LF; line 11, an error, is two pieces. Two
// matches of alpha cannot be seen: one after a NUL byte, one past 0x1A.
const std::string kOwnTrace =
    "at state 1, next token 258\nat state 2, next token 257\nreading IDENT alpha\n"
    "at state 3, next token 43\nerror: pop state 3, recover state 2\n"
    "error: pop state 2, recover state 1\nat state 2, next token 258\n" +
    std::string(77, '.') + "split" + std::string(78, '-') + "after\n" +
    "at state 1, next token 257 alpha\r\nline 3: syntax error" + std::string(70, '.') + "\nhidden" +
    std::string(1, '\0') +
    "alpha\nat state 3, next token 43\n\x1a"
    "alpha\n";

TraceFiles OwnFiles(const TempDir& dir, const std::string& trace,
                    const std::string& name = "kwt.err") {
    return {dir.Write("yy.lrt", Listing({3, 3, 3, 3})), dir.Write("yytab.h", "#define IDENT 257\n"),
            dir.Write(name, trace)};
}

// `keys`, then an Esc typed while the last of them is at work where `busyEsc`.
void Type(const TraceFiles& files, const std::string& keys, bool busyEsc = false) {
    OpenFiles(files);
    fake::PushText(keys);
    if (busyEsc) fake::PushKey(VirtualKey::kEscape, true, true);
    fake::PushText("\x1b");
    Process(fake::Input(), fake::Output());
}

bool IsError(const std::string& line) {
    static const std::regex error(
        R"(^(error|Error):|error recovery|ERROR recovery|syntax error|^parser: Syntax Error!)");
    return std::regex_search(line, error);
}

// What keys should do, worked out on the steps stepping shows: the steps recorded and the one
// shown, the beeps, and the note the last key leaves.
struct Expected {
    const std::vector<Step>& steps;
    std::vector<bool> newError;  // the step is the first piece of a line that starts a new error
    std::vector<std::string> wholeLine;  // the line the step is a piece of
    std::vector<std::size_t> column;     // where the piece starts in it
    std::vector<std::size_t> history{0};
    std::size_t at = 0;
    int beeps = 0;
    long screen = 0;  // the state on screen: the step's, or one g went to
    std::string text{}, note{};

    Expected(const std::vector<Step>& shown, const std::string& path, bool own)
        : steps(shown), newError(shown.size()), wholeLine(shown.size()), column(shown.size()) {
        // One error lasts until a real token is shifted; in kwt's own format, a run of error lines.
        static const std::regex shift(
            R"(: state \d+, shifting to|^(On stack \d+, s|S)hifting token )"
            R"((?!error )|^parser: Shift '(?!error'))");
        std::ifstream in(path);
        bool allowed = true;
        std::size_t step = 0;
        for (std::string line; std::getline(in, line) && step < steps.size();
             step += std::max<std::size_t>((line.size() + 79) / 80, 1)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            for (std::size_t k = 0; k * 80 < std::max<std::size_t>(line.size(), 1); ++k) {
                if (step + k < steps.size()) wholeLine[step + k] = line, column[step + k] = k * 80;
            }
            if (step == 0 && own) continue;  // kwt's own first line is never interpreted
            newError[step] = allowed && IsError(line);
            allowed = !IsError(line) && (own || allowed || std::regex_search(line, shift));
        }
    }
    void Miss(const std::string& why) { ++beeps, note = why; }
    void Land(std::size_t step) {
        history.resize(at + 1), history.push_back(step), ++at;
        screen = steps[step].state;
    }
    const std::string& Line(std::size_t step) const { return steps[step].line; }
    // A text is matched within the whole line, in the piece it starts in, up to a NUL byte.
    bool MatchStartsIn(std::size_t step) const {
        const std::string& line = wholeLine[step];
        const std::size_t from = column[step];
        return line.find(text, from) < std::min(from + 80, line.find('\0', from));
    }
    bool Enters(std::size_t step, long state) const {
        return steps[step].state == state && steps[step - 1].state != state;
    }
    void Find(bool forward, char key, long state) {
        for (std::size_t i = 1; i < steps.size(); ++i) {
            const std::size_t step = forward ? history[at] + i : history[at] - i;  // wraps past 0
            if (step >= steps.size()) break;
            if (key == 'e'                 ? newError[step]
                : key == '>' || key == '<' ? step > 0 && Enters(step, state)
                                           : MatchStartsIn(step)) {
                return Land(step);
            }
        }
        const std::string where = forward ? "after" : "before";
        if (key == 'e') return Miss("No syntax error after this step");
        if (key == '>' || key == '<') {
            return Miss("No step " + where + " this one enters state " + std::to_string(state));
        }
        Miss("Not found " + where + " this step: " + text);
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
            if (key == '/' && entered) text = typed, Find(true, key, 0);
            if (key == 'g' && entered && std::stoul(typed) >= nStates) {
                Miss("No state " + typed.substr(0, 12) + ": the states are 0 to " +
                     std::to_string(nStates - 1));
            }
            if (key == 'g' && entered && std::stoul(typed) < nStates) screen = std::stol(typed);
            if ((key == 'n' || key == 'N') && text.empty()) {
                Miss("Nothing to find again yet: / asks for a text");
            }
            if ((key == 'n' || key == 'N') && !text.empty()) Find(key == 'n', key, 0);
            if (key == 'e' || key == '>' || key == '<') Find(key != '<', key, screen);
            // G: the last step; at it, the bell and nothing else.
            if (key == 'G' && history[at] + 1 < steps.size()) {
                Land(steps.size() - 1);
            } else if (key == 'G') {
                Miss("This is the trace's last step");
            }
            // + on a recorded step replays it; at the trace's end it beeps and takes no step.
            if (key == '+' && at + 1 < history.size()) {
                ++at;
            } else if (key == '+') {
                history[at] + 1 < steps.size() ? Land(history[at] + 1) : Miss("");
            }
            if (key == '-' && at > 0) --at, screen = steps[history[at]].state;
            if (key == '+') screen = steps[history[at]].state;
        }
    }
};

const char* const kKeyRows[] = {
    "/alpha\r",
    "/alpha\rn",
    "/alpha\rnn",
    "/split\r",
    "/split\rn",
    "/-af\r",
    "/after\r",
    "/t\rnnnnnnnnnnnnNN",
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
    "ee+",
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
    "g1\r>",
    "g1\r>>",
    "g1\r>><",
    "eee<<",
    "g7\r>-",
    "g2\r<",
    "++++g0\r<",
    "++g2\r+",
    "G",
    "G-",
    "+G",
    "GG",
    "G-+",
    "G<",
};

TEST(Search, JumpsLandWhereSteppingWouldAndMissesChangeNothing) {
    const TempDir dir;
    // kwt's own traces, the second with an error run on its second line, the last, of two pieces
    // and no line feed.
    std::vector<TraceFiles> traces{
        OwnFiles(dir, kOwnTrace),
        OwnFiles(dir,
                 "at state 1, next token 258\nerror: pop state 1, recover state 2" +
                     std::string(50, '.'),
                 "own.err")};
    for (const auto& [made, input] : Runs()) traces.push_back(RealTrace(dir, *made, input));
    for (const TraceFiles& files : traces) {
        const std::vector<Step> steps = Walk(files);
        for (const std::string keys : kKeyRows) {
            SCOPED_TRACE(files.trace + ", keys " + keys);
            Type(files, keys);
            Expected want{steps, files.trace, &files < &traces[2]};
            want.Press(keys);
            Step shown = steps[want.history[want.at]];
            shown.state = want.screen;
            EXPECT_EQ(Now(fake::Waits().back()), shown);
            EXPECT_EQ(fake::state.beeps, want.beeps);
            EXPECT_EQ(fake::Waits().back().Row(StatusRow()).substr(0, want.note.size()), want.note);
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
        for (int copied = 0; copied < lines; copied += 2) {
            trace += "at state 1, next token 257\nat state 2, next token 2\n";
        }
        const TraceFiles files =
            OwnFiles(dir, trace + "error: pop state 1, recover state 2 target\n");
        Type(files, keys, true);
        const auto got =
            std::make_tuple(Now(fake::Waits().back()), sStepCursor, sStepTop, fake::state.beeps);
        EXPECT_EQ(got, std::make_tuple(Walk(files, 1)[1], 1, 2, 0)) << keys << " on " << lines;
    }
}

// The pool's collection frees what no step holds and hands it out again, never a held entry; it
// runs whenever the room is short.
TEST(StackPool, ACollectionReusesOnlyWhatIsNotHeldAndRunsWheneverTheRoomIsShort) {
    ResetStacks();
    StackHandle held = kEmptyStack;
    StackHandle dropped = kEmptyStack;
    for (uint32_t state = 1; state <= 3; ++state) {
        held = StackPush(held, state);
        dropped = StackPush(dropped, state + 10);
    }
    const uint32_t free = StackEntriesFree();
    MarkStack(held);
    CollectStacks();
    StackHandle fresh = kEmptyStack;
    for (uint32_t state = 21; state <= 26; ++state) fresh = StackPush(fresh, state);
    std::string states;
    for (StackHandle entry = held; entry != kEmptyStack; entry = StackBelow(entry)) {
        states += std::to_string(StackState(entry)) + " ";
    }
    EXPECT_EQ(states, "3 2 1 ");
    EXPECT_EQ(StackEntriesFree(), free - 3);
    // The pool's every entry is handed out, its last one too; then none is left.
    ResetStacks();
    StackHandle stack = kEmptyStack;
    for (uint32_t entry = 0; entry < kStackEntriesMax; ++entry) {
        stack = StackPush(entry % kStackDepthMax == 0 ? kEmptyStack : stack, entry);
    }
    EXPECT_EQ(std::make_tuple(StackDepth(stack), StackState(stack), StackPush(stack, 0)),
              std::make_tuple(kStackDepthMax, kStackEntriesMax - 1, kUnknownStack));
    // Stacks of 55,000 states that share no entry, jumped through: the steps come to hold the
    // pool, and after Home the next line's stack is known again. Each line is longer than the
    // walk's largest block, so the walk reads it through the trace's reader.
    std::string trace = "Starting parse\n";
    for (int line = 0; line < 12; ++line) {
        trace += "Stack now";
        for (int depth = 0; depth < 55000; ++depth) trace += line % 2 ? " 1    " : " 2    ";
        trace += "\n";
    }
    const TempDir dir;
    Type(OwnFiles(dir, trace), "/Stack\r" + std::string(10, 'n') + "[n");
    EXPECT_EQ(PaneStack(fake::Waits().back()).substr(0, 5), "... 2");
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
        for (const char key : std::string(keys)) {
            (key == '+' ? NextStep : PrevStep)(fake::Output(), scroll);
        }
        EXPECT_STREQ(szTrace.data(), *keys == '-' ? "after 2 GiB" : "last");
    }
    EXPECT_EQ(lTrace[uint16_t(sStepCursor - 2)], base + 15);
}

}  // namespace

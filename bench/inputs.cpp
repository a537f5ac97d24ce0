// The benchmarks' inputs: a survey of the generated listing, and traces in
// the form bison's parsers write, of any length.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "bench.h"

namespace bench {
namespace {

// A small deterministic generator, so that every run writes the same trace.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    std::size_t Below(std::size_t bound) {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<std::size_t>(state_ >> 33) % bound;
    }

private:
    uint64_t state_;
};

constexpr std::size_t kUsualStack = 16;
constexpr std::size_t kDeepestStack = 60;  // deep stacks make "Stack now" lines long
constexpr uint64_t kBlockLines = 10000;

// Lines of blocks after the stretch that nests deep.
constexpr uint64_t kRoomAfterNest = 20000;

constexpr char kHead[] = "Starting parse\nEntering state 0\nStack now 0\n";
constexpr uint64_t kHeadLines = 3;

// About `lines` lines of a parse: tokens read, reductions and shifts on a
// stack of states drawn at random.
class BlockWriter {
public:
    BlockWriter(int states, const std::vector<std::string>& tokens)
        : states_(states > 1 ? states : 2), tokens_(tokens) {}

    std::string Write(uint64_t lines) {
        while (lines_ < lines) Token(tokens_[random_.Below(tokens_.size())]);
        return std::move(text_);
    }
    uint64_t lines() const { return lines_; }
    const std::vector<int>& stack() const { return stack_; }

private:
    void Line(const std::string& text) {
        text_ += text;
        text_ += '\n';
        ++lines_;
    }
    int AnyState() {
        return 1 + static_cast<int>(random_.Below(static_cast<std::size_t>(states_ - 1)));
    }
    void Enter(int state) {
        if (stack_.size() < kDeepestStack) {
            stack_.push_back(state);
        } else {
            stack_.back() = state;
        }
        Line("Entering state " + std::to_string(state));
        std::string now = "Stack now";
        for (int s : stack_) now += " " + std::to_string(s);
        Line(now);
    }
    void Reduce(const std::string& lookahead) {
        const std::size_t symbols = 1 + random_.Below(std::min<std::size_t>(3, stack_.size() - 1));
        Line("Reducing stack by rule " + std::to_string(1 + random_.Below(1700)) + " (line " +
             std::to_string(40 + random_.Below(1700)) + "):");
        for (std::size_t i = 1; i <= symbols; ++i)
            Line("   $" + std::to_string(i) + " = nterm expr ()");
        Line("-> $$ = nterm expr ()");
        stack_.resize(stack_.size() - symbols);
        Enter(AnyState());
        Line("Next token is token " + lookahead + " ()");
    }
    void Token(const std::string& token) {
        Line("Reading a token");
        Line("Next token is token " + token + " ()");
        // More reductions on a deep stack, so that it stays mostly shallow.
        const std::size_t most = stack_.size() > kUsualStack ? 4 : 3;
        for (std::size_t reductions = random_.Below(most); reductions > 0 && stack_.size() > 1;
             --reductions) {
            Reduce(token);
        }
        Line("Shifting token " + token + " ()");
        Enter(AnyState());
    }

    int states_;
    const std::vector<std::string>& tokens_;
    Random random_{6237};
    std::vector<int> stack_{0};
    std::string text_;
    uint64_t lines_ = 0;
};

// A stretch where the parser nests deep, written straight to a file (or only
// counted, with no file): tokens shifted one on another down to a depth,
// then back up, a token at a time, by reductions of up to kUnnestSymbols
// symbols. The values name the depth, `(open D)` down and `(close D)` up, so
// that a search finds one place in it.
constexpr std::size_t kUnnestSymbols = 20;

class NestWriter {
public:
    NestWriter(int states, const std::vector<std::string>& tokens, const std::vector<int>& stack,
               std::FILE* out, uint64_t at)
        : states_(states > 1 ? states : 2), tokens_(tokens), out_(out), at_(at) {
        for (int state : stack) Push(state);
    }

    void Write(std::size_t depth) {
        const std::size_t start = ends_.size();
        while (ends_.size() < depth) {
            if (ends_.size() + 3 == depth) approach_ = at_;
            const std::string& token = Token();
            Line("Reading a token");
            Line("Next token is token " + token + " (open " + std::to_string(ends_.size() + 1) +
                 ")");
            Line("Shifting token " + token + " ()");
            Enter(AnyState());
        }
        while (ends_.size() > start) {
            const std::size_t depthNow = ends_.size();
            const std::string& token = Token();
            const std::string lookahead =
                "Next token is token " + token + " (close " + std::to_string(depthNow) + ")";
            Line("Reading a token");
            Line(lookahead);
            const std::size_t symbols = std::min(kUnnestSymbols, depthNow - start + 1);
            Line("Reducing stack by rule " + std::to_string(1 + random_.Below(1700)) + " (line " +
                 std::to_string(40 + random_.Below(1700)) + "):");
            for (std::size_t i = 1; i <= symbols; ++i) {
                Line("   $" + std::to_string(i) + " = nterm expr ()");
            }
            Line("-> $$ = nterm expr ()");
            Pop(symbols);
            Enter(AnyState());
            closes_.push_back(static_cast<uint32_t>(depthNow));
            if (ends_.size() == start) break;
            Line(lookahead);
            Line("Shifting token " + token + " ()");
            Enter(AnyState());
        }
    }
    uint64_t lines() const { return lines_; }
    uint64_t end() const { return at_; }
    uint64_t approach() const { return approach_; }
    uint64_t deepestLine() const { return deepestLine_; }
    uint64_t deepestLineBytes() const { return deepestLineBytes_; }
    const std::vector<uint32_t>& closes() const { return closes_; }

private:
    const std::string& Token() { return tokens_[random_.Below(tokens_.size())]; }
    int AnyState() {
        return 1 + static_cast<int>(random_.Below(static_cast<std::size_t>(states_ - 1)));
    }
    void Put(const char* text, std::size_t length) {
        if (out_ != nullptr) std::fwrite(text, 1, length, out_);
        at_ += length;
    }
    void Line(const std::string& text) {
        Put(text.data(), text.size());
        Put("\n", 1);
        ++lines_;
    }
    // The `Stack now` line is kept as the stack changes, not rebuilt.
    void Push(int state) {
        ends_.push_back(now_.size());
        now_ += " " + std::to_string(state);
    }
    void Pop(std::size_t count) {
        now_.resize(ends_[ends_.size() - count]);
        ends_.resize(ends_.size() - count);
    }
    void Enter(int state) {
        Push(state);
        Line("Entering state " + std::to_string(state));
        if (ends_.size() > deepest_) {
            deepest_ = ends_.size();
            deepestLine_ = at_;
            deepestLineBytes_ = now_.size();
        }
        Line(now_);
    }

    int states_;
    const std::vector<std::string>& tokens_;
    std::FILE* out_;
    uint64_t at_;
    Random random_{1729};
    std::string now_ = "Stack now";
    std::vector<std::size_t> ends_;  // the length of now_ up to each depth's state
    std::vector<uint32_t> closes_;
    std::size_t deepest_ = 0;
    uint64_t deepestLine_ = 0, deepestLineBytes_ = 0, approach_ = 0;
    uint64_t lines_ = 0;
};

// Writes `count` lines of `block`, repeated whole and then cut; gives the bytes.
uint64_t WriteBlockLines(std::FILE* out, const std::string& block, uint64_t blockLines,
                         uint64_t count) {
    uint64_t bytes = 0;
    for (; count >= blockLines; count -= blockLines) {
        std::fwrite(block.data(), 1, block.size(), out);
        bytes += block.size();
    }
    std::size_t end = 0;
    for (; count > 0; --count) end = block.find('\n', end) + 1;
    std::fwrite(block.data(), 1, end, out);
    return bytes + end;
}

}  // namespace

Listing SurveyListing(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    Listing listing;
    listing.path = path;
    std::string line;
    while (std::getline(in, line)) {
        ++listing.lines;
        listing.bytes += line.size() + 1;
        int state = 0;
        char rest = 0;
        if (line.compare(0, 6, "State ") == 0 &&
            std::sscanf(line.c_str(), "State %d %c", &state, &rest) == 1) {
            ++listing.states;
        }
    }
    return listing;
}

Offset Trace::DeepestStart(uint64_t room) const {
    const uint64_t body = lines > kHeadLines + room ? lines - kHeadLines - room : 0;
    return BlockStart(body / blockLines);
}

namespace {

// The fields every trace has: its path and length, and the block it repeats.
void DescribeBlocks(Trace& trace, const std::string& path, uint64_t lines, uint64_t blockLines,
                    const std::string& block) {
    trace.path = path;
    trace.lines = lines;
    trace.blockLines = blockLines;
    trace.headBytes = sizeof kHead - 1;
    trace.blockBytes = block.size();
}

}  // namespace

bool WriteGeneratorTraces(const std::string& directory, const std::string& examples,
                          GeneratedTrace* bison, GeneratedTrace* lemon) {
    // Statements of every kind, an error among them now and then.
    const char* const statements[] = {"x = (1 + 2) * y;\n",
                                      "print x - 3 / (2 + 1);\n",
                                      "if (x > 1) print x; else print 0;\n",
                                      "{ y = x * (3 + 4); z = -y ^ 2; }\n",
                                      "print ((x));\n",
                                      "z = 1 + * 2;\n"};
    constexpr int kStatements = 40000;
    const std::string work = directory + "generators/";
    const std::string input = work + "input.calc";
    if (std::system(("mkdir -p '" + work + "lemon'").c_str()) != 0) return false;
    {
        std::ofstream out(input);
        for (int i = 0; i < kStatements; ++i) out << statements[i % 49 == 48 ? 5 : i % 5];
    }
    const std::string in = "cd '" + work + "' && ";
    const std::string built = in + "cp '" + examples +
                              "/calc.y' . && bison -t -v -d calc.y && cc -O2 -o calc calc.tab.c" +
                              " && cd lemon && cp '" + examples +
                              "/lemon/calc.y' . && lemon calc.y && " + "cc -O2 -o calc calc.c";
    if (std::system((built + " >build.log 2>&1").c_str()) != 0) return false;
    // The calculators end with status 1 after an error they cannot recover from.
    std::system((in + "./calc <input.calc >/dev/null 2>bison.trace").c_str());
    std::system((in + "lemon/calc <input.calc >/dev/null 2>lemon.trace").c_str());
    *bison = {work + "bison.trace", work + "calc.output", work + "calc.tab.h"};
    *lemon = {work + "lemon.trace", work + "lemon/calc.out", work + "lemon/calc.h"};
    // Both the size of the smaller, each up to its last line feed within it.
    std::ifstream bisonText(bison->trace, std::ios::binary);
    std::ifstream lemonText(lemon->trace, std::ios::binary);
    const std::string texts[] = {{std::istreambuf_iterator<char>(bisonText), {}},
                                 {std::istreambuf_iterator<char>(lemonText), {}}};
    const std::size_t smaller = std::min(texts[0].size(), texts[1].size());
    GeneratedTrace* traces[] = {bison, lemon};
    for (int k = 0; k < 2 && smaller > 0; ++k) {
        const std::size_t size = texts[k].rfind('\n', smaller - 1) + 1;
        std::ofstream(traces[k]->trace, std::ios::binary) << texts[k].substr(0, size);
        traces[k]->bytes = size;
        traces[k]->lines = static_cast<uint64_t>(std::count(
            texts[k].begin(), texts[k].begin() + static_cast<std::ptrdiff_t>(size), '\n'));
    }
    return smaller > 0;
}

Trace WriteTrace(const std::string& path, uint64_t lines, int states,
                 const std::vector<std::string>& tokens) {
    if (tokens.empty()) throw std::runtime_error("no token names for the trace");
    BlockWriter writer(states, tokens);
    const std::string block = writer.Write(kBlockLines);
    Trace trace;
    DescribeBlocks(trace, path, lines, writer.lines(), block);

    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) throw std::runtime_error("cannot write " + path);
    std::fwrite(kHead, 1, trace.headBytes, out);
    trace.bytes = trace.headBytes + WriteBlockLines(out, block, trace.blockLines,
                                                    lines - std::min(lines, kHeadLines));
    if (std::fclose(out) != 0) throw std::runtime_error("cannot finish " + path);
    return trace;
}

DeepTrace WriteDeepTrace(const std::string& path, uint64_t lines, int states,
                         const std::vector<std::string>& tokens, uint32_t depth) {
    if (tokens.empty()) throw std::runtime_error("no token names for the trace");
    BlockWriter writer(states, tokens);
    const std::string block = writer.Write(kBlockLines);
    NestWriter counted(states, tokens, writer.stack(), nullptr, 0);
    counted.Write(depth);
    DeepTrace trace;
    DescribeBlocks(trace, path, lines, writer.lines(), block);
    trace.depth = depth;
    // Whole blocks before the stretch, and at least kRoomAfterNest lines after it.
    const uint64_t body = lines - std::min(lines, kHeadLines + counted.lines() + kRoomAfterNest);
    trace.blocksBefore = body / trace.blockLines;

    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) throw std::runtime_error("cannot write " + path);
    std::fwrite(kHead, 1, trace.headBytes, out);
    trace.bytes = trace.headBytes + WriteBlockLines(out, block, trace.blockLines,
                                                    trace.blocksBefore * trace.blockLines);
    NestWriter nest(states, tokens, writer.stack(), out, trace.bytes);
    nest.Write(depth);
    trace.nestStart = static_cast<Offset>(trace.bytes);
    trace.approach = static_cast<Offset>(nest.approach());
    trace.deepestLine = static_cast<Offset>(nest.deepestLine());
    trace.deepestLineBytes = nest.deepestLineBytes();
    trace.nestEnd = static_cast<Offset>(nest.end());
    trace.closes = nest.closes();
    const uint64_t written = kHeadLines + trace.blocksBefore * trace.blockLines + nest.lines();
    trace.bytes = nest.end() + WriteBlockLines(out, block, trace.blockLines, lines - written);
    if (std::fclose(out) != 0) throw std::runtime_error("cannot finish " + path);
    return trace;
}

}  // namespace bench

// The benchmarks' inputs: a survey of the generated listing, and traces in
// the form bison's parsers write, of any length.
#include <algorithm>
#include <cstdio>
#include <fstream>
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

Trace WriteTrace(const std::string& path, uint64_t lines, int states,
                 const std::vector<std::string>& tokens) {
    if (tokens.empty()) throw std::runtime_error("no token names for the trace");
    BlockWriter writer(states, tokens);
    const std::string block = writer.Write(kBlockLines);
    Trace trace;
    trace.path = path;
    trace.lines = lines;
    trace.blockLines = writer.lines();
    trace.headBytes = sizeof kHead - 1;
    trace.blockBytes = block.size();

    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) throw std::runtime_error("cannot write " + path);
    std::fwrite(kHead, 1, trace.headBytes, out);
    uint64_t left = lines - std::min(lines, kHeadLines);
    trace.bytes = trace.headBytes;
    for (; left >= trace.blockLines; left -= trace.blockLines) {
        std::fwrite(block.data(), 1, block.size(), out);
        trace.bytes += block.size();
    }
    // The first `left` lines of one more block.
    std::size_t end = 0;
    for (; left > 0; --left) end = block.find('\n', end) + 1;
    std::fwrite(block.data(), 1, end, out);
    trace.bytes += end;
    if (std::fclose(out) != 0) throw std::runtime_error("cannot finish " + path);
    return trace;
}

}  // namespace bench

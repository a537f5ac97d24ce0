#include "inputs.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace bench {
namespace {

// A small deterministic generator, so that every run writes the same files.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed * 2654435761u + 1) {}
    uint32_t Next() {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state_ >> 33);
    }
    int Between(int low, int high) {  // inclusive
        return low + static_cast<int>(Next() % static_cast<uint32_t>(high - low + 1));
    }

private:
    uint64_t state_;
};

// Writes lines through a large buffer and counts what it wrote.
class LineWriter {
public:
    explicit LineWriter(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {
        if (file_ == nullptr) throw std::runtime_error("cannot write " + path);
        std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
    }
    ~LineWriter() {
        if (file_ != nullptr) std::fclose(file_);
    }
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;

    // Writes one formatted line and its line feed.
    __attribute__((format(printf, 2, 3))) void Line(const char* format, ...) {
        char text[256];
        va_list arguments;
        va_start(arguments, format);
        int length = std::vsnprintf(text, sizeof text, format, arguments);
        va_end(arguments);
        if (length < 0) length = 0;
        if (length > static_cast<int>(sizeof text) - 1) length = static_cast<int>(sizeof text) - 1;
        std::fwrite(text, 1, static_cast<std::size_t>(length), file_);
        std::fputc('\n', file_);
        bytes_ += static_cast<uint64_t>(length) + 1;
        ++lines_;
    }
    void Close() {
        if (std::fclose(file_) != 0) throw std::runtime_error("cannot finish writing a file");
        file_ = nullptr;
    }
    uint64_t bytes() const { return bytes_; }
    uint64_t lines() const { return lines_; }

private:
    std::FILE* file_;
    uint64_t bytes_ = 0;
    uint64_t lines_ = 0;
};

const char* const kNonterminals[] = {"program", "stmt_list", "stmt",   "expr",
                                     "term",    "factor",    "args",   "arg_list",
                                     "decl",    "type_name", "block",  "opt_else"};
constexpr int kNonterminalCount = sizeof kNonterminals / sizeof kNonterminals[0];

const char* const kSections[] = {"  kernel items", "  closure items", "  actions", "  gotos"};

// One body line of a state block: section titles, items, actions and
// gotos, the way a parser generator's verbose listing lays them out.
void BodyLine(LineWriter& out, Random& random, int state, int line, int lines) {
    // Lines 1 .. body form four sections, each a blank line, a title and
    // its entries; the block ends with a blank line.
    const int body = lines > 2 ? lines - 2 : 1;
    const int section = (line - 1) * 4 / body;
    const int sectionStart = 1 + (section * body + 3) / 4;
    if (line == lines - 1 || line == sectionStart) {
        out.Line("%s", "");
        return;
    }
    if (line == sectionStart + 1) {
        out.Line("%s", kSections[section < 4 ? section : 3]);
        return;
    }
    const char* left = kNonterminals[random.Next() % kNonterminalCount];
    const char* right = kNonterminals[random.Next() % kNonterminalCount];
    switch (section) {
    case 0:
    case 1:
        if (random.Next() % 5 == 0) {
            out.Line("        lookahead { $end error TOK%d TOK%d '%c' }", 257 + random.Between(0, 511),
                     257 + random.Between(0, 511), "+-*/();="[random.Next() % 8]);
        } else {
            char item[64];
            std::snprintf(item, sizeof item, "%s : %s . TOK%d %s", left, right,
                          257 + random.Between(0, 511), left);
            out.Line("    %-36s rule %3d", item, random.Between(0, 999));
        }
        break;
    case 2:
        if (random.Next() % 3 == 0) {
            out.Line("    TOK%-6d   reduce by rule %d (%s : %s %s)", 257 + random.Between(0, 511),
                     random.Between(0, 999), left, right, left);
        } else {
            out.Line("    TOK%-6d   shift, go to state %d", 257 + random.Between(0, 511),
                     random.Between(1, 4095));
        }
        break;
    default:
        out.Line("    %-10s go to state %d", left, (state * 7 + line) % 4096);
        break;
    }
}

}  // namespace

ListingFacts WriteListing(const std::string& path, const ListingShape& shape) {
    LineWriter out(path);
    Random random(17);
    out.Line("gram.y -- grammar and LALR(1) state listing (verbose output)");
    out.Line("%s", "");
    for (int rule = 0; rule < 40; ++rule) {
        out.Line("  %3d  %s : %s TOK%d", rule, kNonterminals[rule % kNonterminalCount],
                 kNonterminals[(rule * 5) % kNonterminalCount], 257 + rule);
    }
    out.Line("%s", "");
    for (int state = 0; state < shape.states; ++state) {
        bool big = false;
        for (int chosen : shape.bigStates) big = big || chosen == state;
        const int lines = big ? shape.bigLines : random.Between(shape.minLines, shape.maxLines);
        out.Line("+----------------------------- STATE %d ---------------------------------------+",
                 state);
        for (int line = 1; line < lines; ++line) BodyLine(out, random, state, line, lines);
    }
    out.Close();
    ListingFacts facts;
    facts.bytes = out.bytes();
    facts.lines = out.lines();
    facts.states = shape.states;
    return facts;
}

TraceFacts WriteTrace(const std::string& path, const TraceShape& shape,
                      const std::vector<uint64_t>& marks) {
    LineWriter out(path);
    TraceFacts facts;
    facts.offsets.assign(marks.size(), -1);
    const auto mark = [&](uint64_t line) {
        for (std::size_t i = 0; i < marks.size(); ++i) {
            if (marks[i] == line) facts.offsets[i] = static_cast<int32_t>(out.bytes());
        }
    };
    const int cycle = shape.namesStates ? 5 : 4;
    for (uint64_t line = 0; line < shape.lines; ++line) {
        mark(line);
        // Within a period the content depends on the position alone.
        const uint64_t place = line % shape.period;
        const uint64_t group = place / static_cast<uint64_t>(cycle);
        Random random(group + 1);
        const int state = random.Between(1, shape.states - 1);
        const int next = random.Between(1, shape.states - 1);
        const int token = shape.firstToken + random.Between(0, shape.tokens - 1);
        const int rule = random.Between(0, 999);
        const unsigned long inputLine = static_cast<unsigned long>(place / 40 + 1);
        int kind = static_cast<int>(place % static_cast<uint64_t>(cycle));
        if (!shape.namesStates && kind >= 1) ++kind;  // no "at state" line
        switch (kind) {
        case 0:
            out.Line("read token TOK%d (%d) \"v%d\" at line %lu", token, token, rule, inputLine);
            break;
        case 1:
            out.Line("at state %d, next token %d", state, token);
            break;
        case 2:
            out.Line("shift token TOK%d (%d), go to state %d", token, token, next);
            break;
        case 3:
            out.Line("state %d: default reduction, no lookahead read", next);
            break;
        default:
            out.Line("reduce by rule %d (%s : %s %s), uncover state %d, go to state %d", rule,
                     kNonterminals[rule % kNonterminalCount],
                     kNonterminals[(rule / 7) % kNonterminalCount],
                     kNonterminals[(rule / 3) % kNonterminalCount], state, next);
            break;
        }
    }
    out.Close();
    facts.bytes = out.bytes();
    facts.lines = out.lines();
    return facts;
}

void WriteHeader(const std::string& path, int count, int first) {
    LineWriter out(path);
    out.Line("/* gram_tab.h -- token numbers, written by the parser generator */");
    out.Line("#ifndef GRAM_TAB_H");
    out.Line("#define GRAM_TAB_H");
    for (int i = 0; i < count; ++i) out.Line("#define TOK%d %d", first + i, first + i);
    out.Line("#endif");
    out.Close();
}

ScratchDir::ScratchDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/kwt-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string MachineDescription() {
    std::string model = "unknown processor";
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    }
    return std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " x " + model;
}

}  // namespace bench

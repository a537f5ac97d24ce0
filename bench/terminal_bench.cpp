// Measures the real program on a pseudo-terminal: the bytes it sends for
// one repaint (after a step and after a change of state) against a full
// screen of cells, and its peak memory on the largest inputs.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "inputs.h"
#include "pty_terminal.h"

namespace {

constexpr int kRows = 25;
constexpr int kColumns = 80;
constexpr int kFullScreenCells = kRows * kColumns;
constexpr int kSteps = 20;
constexpr int kStateChanges = 10;
constexpr long kMemoryTargetKiB = 8 * 1024;

const std::string kPlus = "+";
const std::string kMinus = "-";
const std::string kPageDown = "\033[6~";
const std::string kPageUp = "\033[5~";
const std::string kEscape = "\033";

using Milliseconds = PtyTerminal::Milliseconds;

// Waits until the program has acted on what was typed and sent all of it:
// it is reading its terminal again, and nothing more comes for a while.
void Settle(PtyTerminal& terminal) {
    terminal.WaitUntilReading(Milliseconds(30000));
    terminal.WaitForQuiet(Milliseconds(80), Milliseconds(5000));
}

// The bytes the program sends in answer to one key.
std::size_t BytesForKey(PtyTerminal& terminal, const std::string& key) {
    Settle(terminal);
    const std::size_t before = terminal.Output().size();
    terminal.Press(key);
    Settle(terminal);
    return terminal.Output().size() - before;
}

struct Spread {
    double mean = 0;
    std::size_t low = 0;
    std::size_t high = 0;
};

Spread SpreadOf(const std::vector<std::size_t>& values) {
    Spread spread;
    if (values.empty()) return spread;
    spread.low = *std::min_element(values.begin(), values.end());
    spread.high = *std::max_element(values.begin(), values.end());
    double total = 0;
    for (std::size_t value : values) total += static_cast<double>(value);
    spread.mean = total / static_cast<double>(values.size());
    return spread;
}

// Fields of /proc/<pid>/status such as VmHWM and VmRSS, in KiB.
std::map<std::string, long> StatusOf(pid_t pid) {
    std::map<std::string, long> fields;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos || line.rfind("Vm", 0) != 0) continue;
        fields[line.substr(0, colon)] = std::atol(line.c_str() + colon + 1);
    }
    return fields;
}

// A line that starts a mapping: its first word is "start-end" in hex.
bool IsMappingHeader(const std::string& line) {
    const std::string word = line.substr(0, line.find(' '));
    if (word.find('-') == std::string::npos) return false;
    for (char c : word) {
        if (c != '-' && std::isxdigit(static_cast<unsigned char>(c)) == 0) return false;
    }
    return true;
}

// The resident set by what is mapped: the largest contributors, in KiB.
std::vector<std::pair<long, std::string>> ResidentByMapping(pid_t pid, long* anonymous,
                                                            long* fileBacked) {
    std::ifstream smaps("/proc/" + std::to_string(pid) + "/smaps");
    std::map<std::string, long> byName;
    std::string line;
    std::string name;
    *anonymous = 0;
    *fileBacked = 0;
    while (std::getline(smaps, line)) {
        if (IsMappingHeader(line)) {
            // "start-end perms offset device inode [path]"
            std::istringstream fields(line);
            std::string range, perms, offset, device, inode;
            fields >> range >> perms >> offset >> device >> inode;
            std::getline(fields, name);
            name.erase(0, name.find_first_not_of(' '));
            if (name.empty()) name = "[anonymous]";
            const std::size_t slash = name.rfind('/');
            if (slash != std::string::npos) name = name.substr(slash + 1);
            continue;
        }
        if (line.rfind("Rss:", 0) == 0) {
            const long kib = std::atol(line.c_str() + 4);
            byName[name] += kib;
        } else if (line.rfind("Anonymous:", 0) == 0) {
            *anonymous += std::atol(line.c_str() + 10);
        }
    }
    long total = 0;
    std::vector<std::pair<long, std::string>> sorted;
    for (const auto& entry : byName) {
        sorted.emplace_back(entry.second, entry.first);
        total += entry.second;
    }
    *fileBacked = total - *anonymous;
    std::sort(sorted.rbegin(), sorted.rend());
    return sorted;
}

long OwnPeakKiB() { return StatusOf(getpid())["VmHWM"]; }

// ---- repaint bytes --------------------------------------------------------------

bool MeasureRepaints(const std::string& binary, const bench::ScratchDir& dir) {
    // A small listing and a trace none of whose lines names a state: a step
    // changes the trace line alone.
    bench::ListingShape shape;
    shape.states = 64;
    const std::string listing = dir.Path("small.lrt");
    const std::string trace = dir.Path("small.err");
    const std::string header = dir.Path("small_tab.h");
    bench::WriteListing(listing, shape);
    bench::TraceShape traceShape;
    traceShape.lines = 1000;
    traceShape.namesStates = false;
    traceShape.states = shape.states;
    bench::WriteTrace(trace, traceShape, {});
    bench::WriteHeader(header, 512);

    PtyTerminal terminal;
    if (!terminal.Start({binary, trace, listing, header})) {
        std::printf("repaint: cannot start %s\n", binary.c_str());
        return false;
    }
    Settle(terminal);
    const std::size_t firstPaint = terminal.Output().size();
    // The screen proper starts where the program switches to the alternate screen.
    const std::size_t screenStart = terminal.Output().find("\033[?1049h");
    const std::size_t firstScreen =
        screenStart == std::string::npos ? firstPaint : firstPaint - screenStart;
    const std::string statusBefore = terminal.Row(24);

    std::vector<std::size_t> steps;
    std::vector<std::string> shownLines;
    for (int i = 0; i < kSteps; ++i) {
        steps.push_back(BytesForKey(terminal, kPlus));
        shownLines.push_back(terminal.Row(23));
    }
    // What the steps changed, checked on the emulator's screen.
    const bool statusKept = terminal.Row(24) == statusBefore;
    std::size_t distinct = 0;
    for (std::size_t i = 1; i < shownLines.size(); ++i) distinct += shownLines[i] != shownLines[i - 1];

    std::vector<std::size_t> replays;
    for (int i = 0; i < kSteps / 2; ++i) replays.push_back(BytesForKey(terminal, kMinus));

    std::vector<std::size_t> stateChanges;
    std::vector<std::size_t> stateChangesBack;
    for (int i = 0; i < kStateChanges; ++i) stateChanges.push_back(BytesForKey(terminal, kPageDown));
    const bool stateMoved = terminal.Row(24).find("State   10") != std::string::npos;
    for (int i = 0; i < kStateChanges; ++i) stateChangesBack.push_back(BytesForKey(terminal, kPageUp));

    terminal.Press(kEscape);
    const ExitStatus status = terminal.WaitForExit(Milliseconds(10000));

    const Spread step = SpreadOf(steps);
    const Spread replay = SpreadOf(replays);
    const Spread change = SpreadOf(stateChanges);
    const Spread changeBack = SpreadOf(stateChangesBack);
    std::printf("repaint: first screen %zu bytes from the switch to the alternate screen (%zu "
                "with the start-up lines); a full screen is %d cells\n",
                firstScreen, firstPaint, kFullScreenCells);
    std::printf("repaint after a step: %.0f bytes mean (min %zu, max %zu) over %d steps, "
                "%.1f%% of %d cells (target < 10%% = %d bytes: %s)\n",
                step.mean, step.low, step.high, kSteps, 100.0 * step.mean / kFullScreenCells,
                kFullScreenCells, kFullScreenCells / 10,
                static_cast<double>(step.high) < kFullScreenCells / 10.0 ? "met" : "MISSED");
    std::printf("  checks: trace line changed on %zu of %d steps, status line unchanged: %s\n",
                distinct, kSteps - 1, statusKept ? "yes" : "NO");
    std::printf("repaint after a step back (replay): %.0f bytes mean (min %zu, max %zu), %.1f%%\n",
                replay.mean, replay.low, replay.high, 100.0 * replay.mean / kFullScreenCells);
    std::printf("repaint after a state change (PgDn): %.0f bytes mean (min %zu, max %zu) over %d, "
                "%.1f%% of %d cells; PgUp: %.0f bytes mean (min %zu, max %zu)\n",
                change.mean, change.low, change.high, kStateChanges,
                100.0 * change.mean / kFullScreenCells, kFullScreenCells, changeBack.mean,
                changeBack.low, changeBack.high);
    std::printf("  checks: PgDn reached state 10: %s; program ended with status %d\n",
                stateMoved ? "yes" : "NO", status.exited ? status.code : -1);
    return true;
}

// ---- peak memory ------------------------------------------------------------------

bool MeasureMemory(const std::string& binary, const bench::ScratchDir& dir) {
    bench::ListingShape shape;
    shape.states = 4096;
    shape.bigStates = {1000, 3000};
    const std::string listing = dir.Path("large.lrt");
    const std::string trace = dir.Path("large.err");
    const std::string header = dir.Path("large_tab.h");
    const bench::ListingFacts listingFacts = bench::WriteListing(listing, shape);
    bench::TraceShape traceShape;
    traceShape.lines = 2000000;
    const bench::TraceFacts traceFacts = bench::WriteTrace(trace, traceShape, {});
    bench::WriteHeader(header, 512);

    const long ownPeak = OwnPeakKiB();
    PtyTerminal terminal;
    if (!terminal.Start({binary, trace, listing, header})) {
        std::printf("memory: cannot start %s\n", binary.c_str());
        return false;
    }
    Settle(terminal);
    const pid_t pid = terminal.Pid();
    const long afterStart = StatusOf(pid)["VmHWM"];
    for (const std::string& key : {kPlus, kPlus, kPlus, kPageDown, kPageDown, kMinus, kPlus,
                                   std::string("\033OP"), std::string(" "), kPlus}) {
        terminal.Press(key);
        Settle(terminal);
    }
    std::map<std::string, long> status = StatusOf(pid);
    long anonymous = 0;
    long fileBacked = 0;
    const auto mappings = ResidentByMapping(pid, &anonymous, &fileBacked);

    terminal.Press(kEscape);
    const ExitStatus exit = terminal.WaitForExit(Milliseconds(10000));
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);

    const long peak = status["VmHWM"];
    std::printf("memory: inputs listing %.1f MB (%d states), trace %.1f MB (%llu lines), "
                "header 512 definitions\n",
                static_cast<double>(listingFacts.bytes) / 1e6, listingFacts.states,
                static_cast<double>(traceFacts.bytes) / 1e6,
                static_cast<unsigned long long>(traceFacts.lines));
    std::printf("memory: peak RSS %ld KiB (%.2f MiB; VmHWM of the program, after start-up %ld KiB) "
                "(target < 8 MiB: %s)\n",
                peak, peak / 1024.0, afterStart, peak < kMemoryTargetKiB ? "met" : "MISSED");
    std::printf("  ru_maxrss of the child (RUSAGE_CHILDREN) %ld KiB; this process had %ld KiB "
                "resident when it forked, which a child's figure includes until it runs the "
                "program; exit status %d\n",
                children.ru_maxrss, ownPeak, exit.exited ? exit.code : -1);
    std::printf("  resident now %ld KiB: anonymous %ld KiB, file-backed %ld KiB; data+heap %ld KiB, "
                "stack %ld KiB\n",
                status["VmRSS"], anonymous, fileBacked, status["VmData"], status["VmStk"]);
    std::printf("  largest resident mappings:");
    for (std::size_t i = 0; i < mappings.size() && i < 8; ++i) {
        std::printf("%s %s %ld KiB", i == 0 ? "" : ",", mappings[i].second.c_str(), mappings[i].first);
    }
    std::printf("\n");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string binary = argc > 1 ? argv[1] : KWT_BINARY;
    std::printf("machine: %s\n", bench::MachineDescription().c_str());
    bench::ScratchDir dir;
    // The memory run comes first, while this process is at its smallest.
    const bool memory = MeasureMemory(binary, dir);
    const bool repaint = MeasureRepaints(binary, dir);
    return memory && repaint ? 0 : 1;
}

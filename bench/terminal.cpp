// The program itself in a pseudo-terminal (TERM=xterm-256color): the bytes
// it sends for one repaint in 80x25, against the screen's 2000 cells, and
// in 200x60, with the stack pane, against the same bytes at 80x25; and its
// peak memory on the largest inputs, against that on the smallest.
#include <poll.h>
#include <pty.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench.h"

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const std::string kStep = "+";
const std::string kStepBack = "-";
const std::string kPageDown = "\033[6~";
const std::string kEnd = "\033OF";
const std::string kHome = "\033OH";
const std::string kEscape = "\033";
constexpr int kSteps = 40;
constexpr long kMemoryLimitKiB = 8 * 1024;
constexpr long kDeepMemoryLimitKiB = 16000000 / 1024;

struct Size {
    unsigned short rows, columns;
};
constexpr Size kDesignSize{25, 80};
constexpr Size kWideSize{60, 200};

// One run of the program on a pseudo-terminal.
class Terminal {
public:
    bool Start(const std::vector<std::string>& arguments, Size window = kDesignSize) {
        winsize size{};
        size.ws_row = window.rows;
        size.ws_col = window.columns;
        pid_ = forkpty(&master_, nullptr, nullptr, &size);
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            setenv("TERM", "xterm-256color", 1);
            setenv("LC_ALL", "C.UTF-8", 1);
            std::vector<char*> argv;
            for (const std::string& argument : arguments)
                argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        return AwaitKeyRead(true);
    }
    ~Terminal() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) close(master_);
    }

    // The bytes the program sends in answer to `key`, up to its next wait
    // for a key; -1 when it did not get there.
    long Press(const std::string& key) {
        const std::size_t before = output_.size();
        if (write(master_, key.data(), key.size()) != static_cast<ssize_t>(key.size())) return -1;
        return AwaitKeyRead(false) ? static_cast<long>(output_.size() - before) : -1;
    }
    const std::string& Output() const { return output_; }
    // After a key that starts a long search: the search looks for Esc in a
    // read of the terminal that does not wait, which can pass for the wait
    // for a key. Waits until the program sleeps in a read of its terminal,
    // quiet, twice over 50 ms.
    bool Settle() {
        for (int asleep = 0; asleep < 2;) {
            if (Ended() || !AwaitKeyRead(true)) return false;
            asleep = Sleeping() ? asleep + 1 : 0;
            if (Pump(50) > 0) asleep = 0;
        }
        return true;
    }
    // The peak resident set so far (VmHWM), in KiB.
    long PeakKiB() const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        std::string key;
        for (long value = 0; status >> key;) {
            if (key == "VmHWM:" && status >> value) return value;
        }
        return -1;
    }
    // Esc; the exit status, or -1.
    int Stop() {
        Press(kEscape);
        return exitStatus_;
    }

private:
    // Reads what has come, waiting at most `timeout` ms for the first byte.
    std::size_t Pump(int timeout) {
        std::size_t total = 0;
        pollfd ready{master_, POLLIN, 0};
        char buffer[4096];
        while (poll(&ready, 1, total == 0 ? timeout : 0) > 0) {
            const ssize_t got = read(master_, buffer, sizeof buffer);
            if (got <= 0) break;
            output_.append(buffer, static_cast<std::size_t>(got));
            total += static_cast<std::size_t>(got);
        }
        return total;
    }
    enum class Activity { kReadingKeys, kBusy, kUnknown };
    Activity Now() const {
        std::ifstream file("/proc/" + std::to_string(pid_) + "/syscall");
        std::string number, firstArgument;
        if (!(file >> number >> firstArgument)) return Activity::kUnknown;
        const bool readingKeys =
            number == std::to_string(SYS_read) && (firstArgument == "0x0" || firstArgument == "0");
        return readingKeys ? Activity::kReadingKeys : Activity::kBusy;
    }
    bool Sleeping() const {
        std::ifstream file("/proc/" + std::to_string(pid_) + "/stat");
        std::string text;
        std::getline(file, text);
        const std::size_t name = text.rfind(')');
        return name != std::string::npos && text.compare(name, 4, ") S ") == 0 &&
               Now() == Activity::kReadingKeys;
    }
    bool Ended() {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = -1;
        return true;
    }
    // Waits until the program has acted on what it was sent and waits in a
    // read of its terminal again. It pauses for 300 ms after every key, so
    // it is seen busy first. Where its system call cannot be seen, it is
    // taken to be waiting once it has been quiet for longer than the pause.
    bool AwaitKeyRead(bool seenBusy) {
        auto lastOutput = Clock::now();
        for (const auto deadline = lastOutput + milliseconds(60000); Clock::now() < deadline;) {
            if (Pump(5) > 0) lastOutput = Clock::now();
            if (Ended()) return false;
            const Activity now = Now();
            seenBusy = seenBusy || now == Activity::kBusy;
            const bool waiting = now == Activity::kUnknown
                                     ? Clock::now() - lastOutput > milliseconds(400)
                                     : seenBusy && now == Activity::kReadingKeys;
            if (waiting && Pump(20) == 0) return true;
        }
        return false;
    }

    pid_t pid_ = -1;
    int master_ = -1;
    int exitStatus_ = -1;
    std::string output_;
};

struct Spread {
    double median = 0, mean = 0;
    long high = 0;
};

Spread SpreadOf(std::vector<long> values) {
    Spread spread;
    if (values.empty()) return spread;
    std::sort(values.begin(), values.end());
    spread.median = static_cast<double>(values[values.size() / 2]);
    for (long value : values)
        spread.mean += static_cast<double>(value) / static_cast<double>(values.size());
    spread.high = values.back();
    return spread;
}

// The step median, or -1 when the run failed.
double ReportRepaints(const std::string& program, const Listing& listing, const std::string& header,
                      const Trace& trace, Size window) {
    Terminal terminal;
    if (!terminal.Start({program, trace.path, listing.path, header}, window)) return -1;
    // The screen proper starts where the program switches to the alternate screen.
    const std::size_t screenStart = terminal.Output().find("\033[?1049h");
    const long firstScreen = static_cast<long>(
        terminal.Output().size() - (screenStart == std::string::npos ? 0 : screenStart));
    std::vector<long> steps, replays, pages;
    for (int i = 0; i < kSteps; ++i) steps.push_back(terminal.Press(kStep));
    for (int i = 0; i < kSteps / 2; ++i) replays.push_back(terminal.Press(kStepBack));
    for (int i = 0; i < 5; ++i) pages.push_back(terminal.Press(kPageDown));
    const int status = terminal.Stop();
    const Spread step = SpreadOf(steps), replay = SpreadOf(replays), page = SpreadOf(pages);
    const int cells = window.rows * window.columns;
    const auto share = [cells](double bytes) { return bytes / cells; };
    std::printf("repaint %dx%d: first screen %ld bytes, %.3f of the %d cells\n", window.columns,
                window.rows, firstScreen, share(static_cast<double>(firstScreen)), cells);
    std::printf(
        "repaint %dx%d: step (+) median %.0f bytes, %.3f of the cells; mean %.0f, max %ld, over "
        "%d steps\n",
        window.columns, window.rows, step.median, share(step.median), step.mean, step.high, kSteps);
    std::printf("repaint %dx%d: replay (-) median %.0f bytes, %.3f; mean %.0f, max %ld\n",
                window.columns, window.rows, replay.median, share(replay.median), replay.mean,
                replay.high);
    std::printf("repaint %dx%d: next state (PgDn) median %.0f bytes, %.3f; max %ld%s\n",
                window.columns, window.rows, page.median, share(page.median), page.high,
                page.high <= 1 ? " (a beep: no state was indexed)" : "");
    std::printf("repaint %dx%d: the program ended with status %d\n", window.columns, window.rows,
                status);
    const bool ran = status == 0 && *std::min_element(steps.begin(), steps.end()) >= 0;
    return ran ? step.median : -1;
}

// The peak memory of a run that starts, steps, pages and jumps to the last
// state and back.
long PeakOfRun(const std::string& program, const std::string& trace, const std::string& listing,
               const std::string& header,
               const std::vector<std::string>& keys = {kStep, kStep, kStep, kPageDown, kEnd, kStep,
                                                       kHome, kStepBack, kStep},
               bool settle = false) {
    Terminal terminal;
    if (!terminal.Start({program, trace, listing, header})) return -1;
    for (const std::string& key : keys) {
        if (terminal.Press(key) < 0 || (settle && !terminal.Settle())) return -1;
    }
    const long peak = terminal.PeakKiB();
    return terminal.Stop() == 0 ? peak : -1;
}

// The keys of a run on the trace that nests deep: steps, then a search to the
// token that takes the stack to its greatest depth and steps there, the
// stack page, steps back and forward, jumps back and forward to the state on
// screen, a search to near the trace's end, a search back (N), and `e`,
// which finds no error.
std::vector<std::string> DeepKeys(const DeepTrace& trace) {
    const std::string nearEnd =
        "(close " + std::to_string(trace.closes[trace.closes.size() - 40]) + ")";
    return {kStep,     kStep, "/(open " + std::to_string(trace.depth) + ")\r",
            kStep,     kStep, kStep,
            "s",       kStep, kStepBack,
            kStepBack, kStep, "<",
            ">",       "s",   "/" + nearEnd + "\r",
            kStep,     kStep, "N",
            "e"};
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// The peak memory of a run on the smallest inputs: one state, one trace line, one token.
long PeakOnTinyFiles(const std::string& program, const std::string& directory) {
    const std::string listing = directory + "tiny.output", trace = directory + "tiny-trace",
                      header = directory + "tiny.h";
    WriteFile(listing, "State 0\n\n    0 $accept: . x $end\n");
    WriteFile(trace, "Starting parse\n");
    WriteFile(header, "#define X 258\n");
    return PeakOfRun(program, trace, listing, header);
}

}  // namespace

bool ReportDeepMemory(const std::string& program, const std::string& directory,
                      const Listing& listing, const std::string& header, const DeepTrace& trace) {
    const long small = PeakOnTinyFiles(program, directory);
    const auto start = Clock::now();
    const long deep = PeakOfRun(program, trace.path, listing.path, header, DeepKeys(trace), true);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf(
        "memory, deep: peak (VmHWM) %ld KiB on a %.1f MB listing and a %llu-line, %.1f MB trace "
        "whose stack goes %u deep (%zu keys, %.0f s); %ld KiB on one-line files; ratio %.2f; "
        "%.2f of the %ld KiB (16 MB) limit\n",
        deep, static_cast<double>(listing.bytes) / 1e6,
        static_cast<unsigned long long>(trace.lines), static_cast<double>(trace.bytes) / 1e6,
        trace.depth, DeepKeys(trace).size(), seconds, small,
        static_cast<double>(deep) / static_cast<double>(small),
        static_cast<double>(deep) / kDeepMemoryLimitKiB, kDeepMemoryLimitKiB);
    return small > 0 && deep > 0;
}

bool ReportTerminalFigures(const std::string& program, const std::string& directory,
                           const Listing& listing, const std::string& header, const Trace& trace) {
    const long small = PeakOnTinyFiles(program, directory);
    const long large = PeakOfRun(program, trace.path, listing.path, header);
    std::printf(
        "memory: peak (VmHWM) %ld KiB on a %.1f MB listing and a %llu-line trace; %ld KiB on "
        "one-line files; ratio %.2f; %.2f of the %ld KiB limit\n",
        large, static_cast<double>(listing.bytes) / 1e6,
        static_cast<unsigned long long>(trace.lines), small,
        static_cast<double>(large) / static_cast<double>(small),
        static_cast<double>(large) / kMemoryLimitKiB, kMemoryLimitKiB);
    const double design = ReportRepaints(program, listing, header, trace, kDesignSize);
    const double wide = ReportRepaints(program, listing, header, trace, kWideSize);
    std::printf(
        "repaint: step median at 200x60 (6x the cells, with the stack pane) %.2fx that at "
        "80x25\n",
        design > 0 ? wide / design : 0.0);
    return small > 0 && large > 0 && design >= 0 && wide >= 0;
}

}  // namespace bench

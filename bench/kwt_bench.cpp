// The benchmarks, each a figure set against a baseline measured in the
// same iterations, so that a change in the machine's speed falls on both:
//
//   indexing   OpenLRT over a bison listing, against counting the lines of
//              the same file with plain reads and memchr (and, for
//              reference, with the program's line reader);
//   step       a step that reads a new trace line, in a trace of 10^7
//              lines against one of 10^5;
//   replay     steps back and forward over recorded steps, likewise.
//
// Then the program itself runs in a pseudo-terminal for the bytes a repaint
// sends and its peak memory (terminal.cpp). Nothing here asserts a time.
//
//   kwt_bench LISTING HEADER [benchmark flags]
//
// LISTING and HEADER are bison's output for a large grammar; the traces are
// written next to LISTING.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "bench.h"

namespace {

constexpr uint64_t kShortTraceLines = 100000;
constexpr uint64_t kLongTraceLines = 10000000;
constexpr int kStepsPerBlock = 10000;
// Replays walk this far back through the recorded steps and forward again,
// well past what the reader's buffer holds.
constexpr int kReplayWalk = kStepSlots - 2 < 8000 ? kStepSlots - 2 : 8000;
constexpr uint64_t kRoomAfterStart = 20000;

struct Inputs {
    bench::Listing listing;
    std::string header;
    bench::Trace shortTrace;
    bench::Trace longTrace;
};
Inputs inputs;

double ProcessorSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

template <typename Work>
double Seconds(Work work) {
    const double start = ProcessorSeconds();
    work();
    return ProcessorSeconds() - start;
}

// Bytes this process has read from files so far.
uint64_t BytesRead() {
    std::ifstream io("/proc/self/io");
    std::string key;
    uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") return value;
    }
    return 0;
}

// Standard output goes to /dev/null while this lives: the indexer's progress.
class QuietStandardOutput {
public:
    QuietStandardOutput() : saved_(dup(STDOUT_FILENO)) {
        std::fflush(stdout);
        const int sink = open("/dev/null", O_WRONLY);
        dup2(sink, STDOUT_FILENO);
        close(sink);
    }
    ~QuietStandardOutput() {
        std::fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }
    QuietStandardOutput(const QuietStandardOutput&) = delete;
    QuietStandardOutput& operator=(const QuietStandardOutput&) = delete;

private:
    int saved_;
};

// ---- indexing ----------------------------------------------------------------

void IndexListing() {
    OpenLRT(inputs.listing.path.c_str());
    TextClose(pfileLRT);
    pfileLRT = nullptr;
}

// For reference: every line read with the program's line reader.
void CountLinesWithTextGets() {
    TextFile* file = TextOpen(inputs.listing.path.c_str());
    TextLine line;
    uint64_t lines = 0;
    while (TextGets(line.data(), static_cast<int>(line.size()), file) != nullptr) ++lines;
    TextClose(file);
    benchmark::DoNotOptimize(lines);
}

// The floor of any indexer: reads of the indexer's block size and a search
// for line feeds.
void CountLinesWithReadAndMemchr() {
    static char buffer[256 * 1024];
    const int fd = open(inputs.listing.path.c_str(), O_RDONLY);
    uint64_t lines = 0;
    for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) {
        const char* end = buffer + got;
        for (const char* p = buffer; (p = static_cast<const char*>(std::memchr(
                                          p, '\n', static_cast<std::size_t>(end - p)))) != nullptr;
             ++p) {
            ++lines;
        }
    }
    close(fd);
    benchmark::DoNotOptimize(lines);
}

void Indexing(benchmark::State& state) {
    QuietStandardOutput quiet;
    double subject = 0, baseline = 0, reference = 0;
    for (auto _ : state) {
        // Each goes first in every other iteration.
        const bool subjectFirst = state.iterations() % 2 == 0;
        if (!subjectFirst) baseline += Seconds(CountLinesWithReadAndMemchr);
        const double indexing = Seconds(IndexListing);
        if (subjectFirst) baseline += Seconds(CountLinesWithReadAndMemchr);
        reference += Seconds(CountLinesWithTextGets);
        subject += indexing;
        state.SetIterationTime(indexing);
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["states"] = nStates;
    state.counters["MB/s"] = static_cast<double>(inputs.listing.bytes) * runs / subject / 1e6;
    state.counters["memchr_ms"] = baseline / runs * 1e3;
    state.counters["ratio"] = subject / baseline;
    state.counters["textgets_ms"] = reference / runs * 1e3;
}

// ---- steps and replays ---------------------------------------------------------

// The step history in one trace, started deep in it as if the user had
// stepped there. The program's tables hold one history at a time.
class Stepper {
public:
    explicit Stepper(const bench::Trace& trace) : trace_(trace) {}

    bool Start() {
        if (pfileLRT == nullptr) {
            QuietStandardOutput quiet;
            OpenLRT(inputs.listing.path.c_str());
        }
        TextClose(pfileTrace);
        pfileTrace = nullptr;
        if (!OpenTrace(trace_.path.c_str()) ||
            !TextSeek(pfileTrace, trace_.DeepestStart(kRoomAfterStart))) {
            return false;
        }
        nState = 0;
        LoadLRT();
        ResetSteps();
        BeginSteps(output_, scroll_);
        return true;
    }
    void Forward(int steps) {
        for (int i = 0; i < steps; ++i) NextStep(output_, scroll_);
    }
    void Back(int steps) {
        for (int i = 0; i < steps; ++i) PrevStep(output_, scroll_);
    }

private:
    const bench::Trace& trace_;
    ConsoleHandle output_ = ConsoleOutputHandle();
    uint16_t scroll_ = 0;
};

// One timed block at each length, the longer trace first in every other
// iteration; the iteration's time is the long trace's, per operation.
struct LengthPair {
    Stepper shortSteps{inputs.shortTrace};
    Stepper longSteps{inputs.longTrace};
    double shortSeconds = 0, longSeconds = 0;
    uint64_t shortBytes = 0, longBytes = 0;

    template <typename Prepare, typename Work>
    void Run(benchmark::State& state, Prepare prepare, Work work) {
        const bool longFirst = state.iterations() % 2 == 0;
        for (int turn = 0; turn < 2; ++turn) {
            const bool isLong = (turn == 0) == longFirst;
            Stepper& stepper = isLong ? longSteps : shortSteps;
            if (!stepper.Start()) {
                state.SkipWithError("cannot open a trace");
                return;
            }
            prepare(stepper);
            const uint64_t before = BytesRead();
            const double seconds = Seconds([&] { work(stepper); });
            (isLong ? longSeconds : shortSeconds) += seconds;
            (isLong ? longBytes : shortBytes) += BytesRead() - before;
            if (isLong) state.SetIterationTime(seconds);
        }
    }
    void Report(benchmark::State& state, int operations) const {
        const double ops = static_cast<double>(state.iterations()) * operations;
        state.counters["1e5_us"] = shortSeconds / ops * 1e6;
        state.counters["1e7_us"] = longSeconds / ops * 1e6;
        state.counters["ratio"] = longSeconds / shortSeconds;
        state.counters["1e5_read_B"] = static_cast<double>(shortBytes) / ops;
        state.counters["1e7_read_B"] = static_cast<double>(longBytes) / ops;
    }
};

void StepToNewLine(benchmark::State& state) {
    LengthPair pair;
    const uint64_t beeps = bench::Beeps();
    for (auto _ : state) {
        pair.Run(
            state, [](Stepper&) {}, [](Stepper& stepper) { stepper.Forward(kStepsPerBlock); });
    }
    if (bench::Beeps() != beeps) state.SkipWithError("stepped past the end of a trace");
    pair.Report(state, kStepsPerBlock);
}

void Replay(benchmark::State& state) {
    LengthPair pair;
    bool onlyReplays = true;
    for (auto _ : state) {
        decltype(sStateTop) newest = 0;
        pair.Run(
            state,
            [&](Stepper& stepper) {
                stepper.Forward(kReplayWalk + 1);
                newest = sStateTop;
            },
            [&](Stepper& stepper) {
                stepper.Back(kReplayWalk);
                stepper.Forward(kReplayWalk);
                onlyReplays = onlyReplays && sStateTop == newest;
            });
    }
    if (!onlyReplays) state.SkipWithError("a replay read a new line");
    pair.Report(state, 2 * kReplayWalk);
}

std::vector<std::string> TerminalNames() {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < sSymbols; ++i) {
        if (nSymbol[i] > 257) names.emplace_back(szSymbol[i].data());
    }
    return names;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> arguments = {argv[0]};
    std::string defaults[] = {"--benchmark_repetitions=5",
                              "--benchmark_report_aggregates_only=true"};
    for (std::string& flag : defaults) arguments.push_back(flag.data());
    for (int i = 3; i < argc; ++i) arguments.push_back(argv[i]);
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    if (argc < 3 || benchmark::ReportUnrecognizedArguments(count, arguments.data())) {
        std::fprintf(stderr, "usage: kwt_bench LISTING HEADER [benchmark flags]\n");
        return 2;
    }
    inputs.listing = bench::SurveyListing(argv[1]);
    inputs.header = argv[2];
    if (ReadInclude(argv[2]) == 0)
        std::printf("(the header gave no token names the program reads)\n");
    std::vector<std::string> tokens = TerminalNames();
    if (tokens.empty()) tokens = {"IDENT"};
    const std::string directory =
        inputs.listing.path.substr(0, inputs.listing.path.find_last_of('/') + 1);
    std::printf("writing traces of %llu and %llu lines...\n",
                static_cast<unsigned long long>(kShortTraceLines),
                static_cast<unsigned long long>(kLongTraceLines));
    std::fflush(stdout);
    inputs.shortTrace =
        bench::WriteTrace(directory + "trace-1e5", kShortTraceLines, inputs.listing.states, tokens);
    inputs.longTrace =
        bench::WriteTrace(directory + "trace-1e7", kLongTraceLines, inputs.listing.states, tokens);
    std::printf(
        "listing: %.1f MB, %llu lines, %d states; %zu token names; traces %.1f and %.1f MB\n",
        static_cast<double>(inputs.listing.bytes) / 1e6,
        static_cast<unsigned long long>(inputs.listing.lines), inputs.listing.states, tokens.size(),
        static_cast<double>(inputs.shortTrace.bytes) / 1e6,
        static_cast<double>(inputs.longTrace.bytes) / 1e6);

    benchmark::RegisterBenchmark("indexing", Indexing)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("step", StepToNewLine)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("replay", Replay)->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\n");
    return bench::ReportTerminalFigures(KWT_PROGRAM, directory, inputs.listing, inputs.header,
                                        inputs.longTrace)
               ? 0
               : 1;
}

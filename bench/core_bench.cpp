// Time benchmarks of the readers and the step history, run in one process
// against baselines: indexing the state listing against plain line-counting
// loops over the same file, loading one large state, and stepping forward
// and back in traces of two lengths. The screen goes to the in-memory
// console, so no terminal is involved. The usual benchmark table comes
// first; then each subject is run in turn with its baseline, round after
// round, for the ratios; a summary against the targets ends the output.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "inputs.h"
#include "kwt.h"
#include "memory_console.h"
#include "program_state.h"

namespace {

// ---- inputs --------------------------------------------------------------------

constexpr int kListingStates = 4096;
// Two states of the largest size a state's window holds, far apart in the file.
constexpr int kBigStateA = 1000;
constexpr int kBigStateB = 3000;
constexpr uint64_t kShortTraceLines = 200000;
constexpr uint64_t kLongTraceLines = 2000000;
// Stepping starts this far into a trace (90%), and goes on for at most this
// many lines (9%) before it starts again from the same place.
constexpr uint64_t DeepLine(uint64_t lines) { return lines / 10 * 9; }
constexpr uint64_t StepWindow(uint64_t lines) { return lines / 100 * 9; }

struct Inputs {
    bench::ScratchDir dir;
    std::string listing = dir.Path("gram.lrt");
    std::string header = dir.Path("gram_tab.h");
    std::string shortTrace = dir.Path("short.err");
    std::string longTrace = dir.Path("long.err");
    bench::ListingFacts listingFacts;
    bench::TraceFacts shortFacts;
    bench::TraceFacts longFacts;
};

Inputs* inputs = nullptr;

void MakeInputs() {
    inputs = new Inputs;
    bench::ListingShape listing;
    listing.states = kListingStates;
    listing.bigStates = {kBigStateA, kBigStateB};
    inputs->listingFacts = bench::WriteListing(inputs->listing, listing);
    bench::WriteHeader(inputs->header, static_cast<int>(kSymbolsMax));
    bench::TraceShape trace;
    trace.states = kListingStates;
    trace.lines = kShortTraceLines;
    inputs->shortFacts = bench::WriteTrace(inputs->shortTrace, trace, {DeepLine(kShortTraceLines)});
    trace.lines = kLongTraceLines;
    inputs->longFacts = bench::WriteTrace(inputs->longTrace, trace, {DeepLine(kLongTraceLines)});
}

// ---- helpers -------------------------------------------------------------------

// Sends standard output to /dev/null while it lives (the indexer's progress).
class QuietStandardOutput {
public:
    QuietStandardOutput() {
        std::fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
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
    int saved_ = -1;
};

// Bytes this process has read from files so far (read system calls).
uint64_t BytesRead() {
    std::ifstream io("/proc/self/io");
    std::string key;
    uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") return value;
    }
    return 0;
}

bool listingIndexed = false;

// The listing and header as the program has them after starting.
bool EnsureListing(benchmark::State& state) {
    if (listingIndexed) return true;
    ResetProgramState();
    if (!OpenListingQuietly(inputs->listing) || nStates != kListingStates ||
        ReadInclude(inputs->header.c_str()) != kSymbolsMax) {
        state.SkipWithError("cannot read the generated listing or header");
        return false;
    }
    listingIndexed = true;
    return true;
}

// ---- 1. indexing the listing -----------------------------------------------------

// One indexing as the program does it at start-up; the number of states.
uint32_t IndexOnce() {
    if (!OpenLRT(inputs->listing.c_str())) return 0;
    const uint32_t states = nStates;
    TextClose(pfileLRT);
    pfileLRT = nullptr;
    return states;
}

// The least an indexer must do: read every line, here with the same reader.
uint64_t CountLinesWithTextGets() {
    TextFile* file = TextOpen(inputs->listing.c_str());
    TextLine line;
    uint64_t lines = 0;
    while (TextGets(line.data(), static_cast<int>(line.size()), file) != nullptr) ++lines;
    TextClose(file);
    return lines;
}

// For reference: the C library's buffered line reader.
uint64_t CountLinesWithFgets() {
    std::FILE* file = std::fopen(inputs->listing.c_str(), "rb");
    char line[kLineSize];
    uint64_t lines = 0;
    while (std::fgets(line, sizeof line, file) != nullptr) ++lines;
    std::fclose(file);
    return lines;
}

// For reference: the floor, large reads and a search for line feeds.
uint64_t CountLinesWithReadAndMemchr() {
    static std::vector<char> buffer(64 * 1024);
    const int fd = open(inputs->listing.c_str(), O_RDONLY);
    uint64_t lines = 0;
    ssize_t got = 0;
    while ((got = read(fd, buffer.data(), buffer.size())) > 0) {
        const char* p = buffer.data();
        const char* end = p + got;
        while ((p = static_cast<const char*>(
                    std::memchr(p, '\n', static_cast<std::size_t>(end - p)))) != nullptr) {
            ++lines;
            ++p;
        }
    }
    close(fd);
    return lines;
}

void IndexListing(benchmark::State& state) {
    listingIndexed = false;
    QuietStandardOutput quiet;
    uint32_t states = 0;
    for (auto _ : state) states = IndexOnce();
    if (states != kListingStates) state.SkipWithError("the listing did not index");
}

template <uint64_t (*Count)()>
void CountLines(benchmark::State& state) {
    uint64_t lines = 0;
    for (auto _ : state) {
        lines = Count();
        benchmark::DoNotOptimize(lines);
    }
    if (lines < inputs->listingFacts.lines) state.SkipWithError("short count");
}

// ---- 2. loading one state -----------------------------------------------------------

// The same state again: the block is still in the reader's buffer.
void LoadStateFromBuffer(benchmark::State& state) {
    if (!EnsureListing(state)) return;
    nState = kBigStateA;
    LoadLRT();
    for (auto _ : state) {
        LoadLRT();
        benchmark::DoNotOptimize(nLRTLines);
    }
    if (nLRTLines != kLRTLinesMax) state.SkipWithError("the state did not load whole");
}

// Two states far apart in turn: every load seeks and reads the file.
void LoadStateWithSeek(benchmark::State& state) {
    if (!EnsureListing(state)) return;
    const uint64_t readBefore = BytesRead();
    bool first = true;
    for (auto _ : state) {
        nState = first ? kBigStateA : kBigStateB;
        first = !first;
        LoadLRT();
        benchmark::DoNotOptimize(nLRTLines);
    }
    if (nLRTLines != kLRTLinesMax) state.SkipWithError("the state did not load whole");
    state.counters["read_B/op"] = benchmark::Counter(
        static_cast<double>(BytesRead() - readBefore), benchmark::Counter::kAvgIterations);
}

// ---- 3. steps ---------------------------------------------------------------------

struct TraceChoice {
    const std::string* path;
    int32_t deepOffset;
    uint64_t window;
};

TraceChoice ShortTrace() {
    return {&inputs->shortTrace, inputs->shortFacts.offsets[0], StepWindow(kShortTraceLines)};
}
TraceChoice LongTrace() {
    return {&inputs->longTrace, inputs->longFacts.offsets[0], StepWindow(kLongTraceLines)};
}

constexpr int kRingWalks = 4;
// Moves from the newest recorded step to the oldest, or back.
constexpr int kRingMoves = kStepSlots - 2;
constexpr int kNeighbourSteps = 100;

uint16_t NextSlotOf(uint16_t slot) { return static_cast<uint16_t>((slot + 1) & (kStepSlots - 1)); }

// The step history in one trace, at a position deep in it, as if the user
// had stepped there; the program's tables hold one such history at a time.
class Stepper {
public:
    explicit Stepper(TraceChoice trace) : trace_(trace) {}

    // Opens the trace and starts the history at the deep position.
    bool Start() {
        TextClose(pfileTrace);
        pfileTrace = nullptr;
        if (!OpenTrace(trace_.path->c_str()) || !TextSeek(pfileTrace, trace_.deepOffset)) {
            return false;
        }
        nState = 0;
        ResetSteps();
        BeginSteps(output_, scroll_);
        used_ = 0;
        back_ = true;
        return true;
    }
    // Starts again when fewer than `count` new lines are left in the window.
    bool MakeRoom(uint64_t count) { return used_ + count <= trace_.window || Start(); }

    // A step forward past the newest step: reads and shows a new trace line.
    void NewLine() {
        NextStep(output_, scroll_);
        ++used_;
    }
    // Steps back and forward in turn, both replays.
    void Neighbour() {
        if (back_) {
            PrevStep(output_, scroll_);
        } else {
            NextStep(output_, scroll_);
        }
        back_ = !back_;
    }
    // Fills the ring so that it wraps, ready for RingMove.
    void FillRing() {
        for (int i = 0; i < kStepSlots + 1000; ++i) NewLine();
        back_ = true;
    }
    // One replay on a walk through the whole ring, back to the oldest step
    // and forward to the newest, so that replays also reach lines outside
    // the reader's buffer.
    void RingMove() {
        if (back_ && sStateCursor == sStateBottom) back_ = false;
        if (!back_ && NextSlotOf(sStateCursor) == sStateTop) back_ = true;
        if (back_) {
            PrevStep(output_, scroll_);
        } else {
            NextStep(output_, scroll_);
        }
    }
    // False once a step that should have been a replay read a new line.
    bool OnlyReplayed(uint16_t top) const { return sStateTop == top; }
    uint64_t window() const { return trace_.window; }

private:
    TraceChoice trace_;
    ConsoleHandle output_ = memory_console::Output();
    uint16_t scroll_ = 0;
    uint64_t used_ = 0;
    bool back_ = true;
};

void StepToNewLine(benchmark::State& state, TraceChoice trace) {
    if (!EnsureListing(state)) return;
    Stepper stepper(trace);
    if (!stepper.Start()) {
        state.SkipWithError("cannot open the trace");
        return;
    }
    const uint64_t readBefore = BytesRead();
    uint64_t used = 0;
    for (auto _ : state) {
        if (used == stepper.window()) {
            state.PauseTiming();
            stepper.Start();
            used = 0;
            state.ResumeTiming();
        }
        stepper.NewLine();
        ++used;
    }
    if (!memory_console::Beeps().empty()) state.SkipWithError("stepped past the end of the trace");
    state.counters["read_B/op"] = benchmark::Counter(
        static_cast<double>(BytesRead() - readBefore), benchmark::Counter::kAvgIterations);
}

void ReplayNeighbours(benchmark::State& state, TraceChoice trace) {
    if (!EnsureListing(state)) return;
    Stepper stepper(trace);
    if (!stepper.Start()) {
        state.SkipWithError("cannot open the trace");
        return;
    }
    for (int i = 0; i < kNeighbourSteps; ++i) stepper.NewLine();
    const uint16_t top = sStateTop;
    const uint64_t readBefore = BytesRead();
    for (auto _ : state) stepper.Neighbour();
    if (!stepper.OnlyReplayed(top)) state.SkipWithError("a step read a new line");
    state.counters["read_B/op"] = benchmark::Counter(
        static_cast<double>(BytesRead() - readBefore), benchmark::Counter::kAvgIterations);
}

void ReplayAcrossRing(benchmark::State& state, TraceChoice trace) {
    if (!EnsureListing(state)) return;
    Stepper stepper(trace);
    if (!stepper.Start()) {
        state.SkipWithError("cannot open the trace");
        return;
    }
    stepper.FillRing();
    const uint16_t top = sStateTop;
    const uint64_t readBefore = BytesRead();
    for (auto _ : state) stepper.RingMove();
    if (!stepper.OnlyReplayed(top)) state.SkipWithError("a step read a new line");
    state.counters["read_B/op"] = benchmark::Counter(
        static_cast<double>(BytesRead() - readBefore), benchmark::Counter::kAvgIterations);
}

// ---- paired runs ----------------------------------------------------------------------

// A subject and its baseline measured in turn, round after round, so that a
// change in the machine's speed falls on both alike; each round gives a
// ratio, and the medians are kept. Times are this process's processor time.
struct Paired {
    double subject = 0;   // nanoseconds per operation
    double baseline = 0;
    double ratio = 0;
    int rounds = 0;
};

double ProcessorNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// `prepare` runs untimed before each block; `block` runs `operations` operations.
struct Side {
    std::function<bool()> prepare;
    std::function<void()> block;
    int operations;
};

double TimeSide(const Side& side) {
    if (!side.prepare()) return -1;
    const double start = ProcessorNanoseconds();
    side.block();
    return (ProcessorNanoseconds() - start) / side.operations;
}

Paired RunPaired(int rounds, const Side& subject, const Side& baseline) {
    std::vector<double> subjects;
    std::vector<double> baselines;
    std::vector<double> ratios;
    TimeSide(subject);  // warm-up
    TimeSide(baseline);
    for (int round = 0; round < rounds; ++round) {
        // Each goes first in every other round.
        double a = 0;
        double b = 0;
        if (round % 2 == 0) {
            a = TimeSide(subject);
            b = TimeSide(baseline);
        } else {
            b = TimeSide(baseline);
            a = TimeSide(subject);
        }
        if (a <= 0 || b <= 0) return Paired{};
        subjects.push_back(a);
        baselines.push_back(b);
        ratios.push_back(a / b);
    }
    return Paired{Median(subjects), Median(baselines), Median(ratios), rounds};
}

struct PairedResults {
    Paired indexing;
    Paired newLine;
    Paired neighbours;
    Paired ring;
};

constexpr int kIndexingRounds = 31;
constexpr int kStepRounds = 15;
constexpr int kRingRounds = 7;
constexpr int kStepBlock = 2000;

PairedResults RunPairedMeasurements() {
    PairedResults results;
    const auto always = [] { return true; };
    {
        QuietStandardOutput quiet;
        results.indexing = RunPaired(kIndexingRounds, Side{always, [] { IndexOnce(); }, 1},
                                     Side{always, [] { CountLinesWithTextGets(); }, 1});
    }
    listingIndexed = false;
    ResetProgramState();
    if (!OpenListingQuietly(inputs->listing) || ReadInclude(inputs->header.c_str()) == 0) {
        return results;
    }
    listingIndexed = true;

    Stepper longSteps(LongTrace());
    Stepper shortSteps(ShortTrace());
    // The program keeps one history: each block starts its trace afresh.
    const auto newLines = [](Stepper& stepper) {
        return Side{[&stepper] { return stepper.Start(); },
                    [&stepper] {
                        for (int i = 0; i < kStepBlock; ++i) stepper.NewLine();
                    },
                    kStepBlock};
    };
    results.newLine = RunPaired(kStepRounds, newLines(longSteps), newLines(shortSteps));

    const auto neighbours = [](Stepper& stepper) {
        return Side{[&stepper] {
                        if (!stepper.Start()) return false;
                        for (int i = 0; i < kNeighbourSteps; ++i) stepper.NewLine();
                        return true;
                    },
                    [&stepper] {
                        for (int i = 0; i < kStepBlock; ++i) stepper.Neighbour();
                    },
                    kStepBlock};
    };
    results.neighbours = RunPaired(kStepRounds, neighbours(longSteps), neighbours(shortSteps));

    const auto ring = [](Stepper& stepper) {
        return Side{[&stepper] {
                        if (!stepper.Start()) return false;
                        stepper.FillRing();
                        return true;
                    },
                    [&stepper] {
                        for (int i = 0; i < 2 * kRingMoves; ++i) stepper.RingMove();
                    },
                    2 * kRingMoves};
    };
    results.ring = RunPaired(kRingRounds, ring(longSteps), ring(shortSteps));
    return results;
}

// ---- results ------------------------------------------------------------------------

// Keeps each benchmark's median (or, run once, its only result) while the
// usual table is printed.
class Collector : public benchmark::ConsoleReporter {
public:
    struct Result {
        double nanoseconds = 0;     // real time per iteration
        double cpuNanoseconds = 0;  // this process's processor time per iteration
        std::map<std::string, double> counters;
        bool fromMedian = false;
    };

    using ConsoleReporter::ConsoleReporter;

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const bool single = run.run_type == Run::RT_Iteration;
            if (!median && !single) continue;
            Result& result = results_[run.run_name.function_name];
            if (result.fromMedian && !median) continue;
            result.fromMedian = median;
            result.nanoseconds =
                run.GetAdjustedRealTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
            result.cpuNanoseconds =
                run.GetAdjustedCPUTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
            for (const auto& counter : run.counters) result.counters[counter.first] = counter.second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    const Result* Find(const std::string& name) const {
        const auto found = results_.find(name);
        return found == results_.end() ? nullptr : &found->second;
    }

private:
    std::map<std::string, Result> results_;
};

// The summary gives processor time (user and system) of this process per
// operation, what the program itself costs; wall-clock times, which also
// count time lost to other processes on a busy machine, are in the table.
// Ratios come from the paired runs.
void PrintSummary(const Collector& results, const PairedResults& paired) {
    const auto find = [&](const char* name) {
        const Collector::Result* result = results.Find(name);
        static const Collector::Result kNone;
        return result != nullptr ? *result : kNone;
    };
    const auto counter = [&](const char* name, const char* key) {
        const Collector::Result result = find(name);
        const auto found = result.counters.find(key);
        return found == result.counters.end() ? 0.0 : found->second;
    };
    const double megabytes = static_cast<double>(inputs->listingFacts.bytes) / 1e6;

    std::printf("\n==== summary (processor time per operation; machine: %s) ====\n",
                bench::MachineDescription().c_str());
    std::printf("inputs: listing %.1f MB, %llu lines, %d states; traces %llu and %llu lines "
                "(%.1f and %.1f MB); header %zu definitions\n",
                megabytes, static_cast<unsigned long long>(inputs->listingFacts.lines),
                inputs->listingFacts.states, static_cast<unsigned long long>(kShortTraceLines),
                static_cast<unsigned long long>(kLongTraceLines),
                static_cast<double>(inputs->shortFacts.bytes) / 1e6,
                static_cast<double>(inputs->longFacts.bytes) / 1e6, kSymbolsMax);

    const Paired& indexing = paired.indexing;
    if (indexing.rounds > 0) {
        std::printf("indexing: %.1f ms, baseline %.1f ms, ratio %.2fx (target <= 1.5x: %s), "
                    "%.0f MB/s (baseline %.0f MB/s); medians of %d paired runs\n",
                    indexing.subject / 1e6, indexing.baseline / 1e6, indexing.ratio,
                    indexing.ratio <= 1.5 ? "met" : "MISSED", megabytes / (indexing.subject / 1e9),
                    megabytes / (indexing.baseline / 1e9), indexing.rounds);
    }
    const Collector::Result openLrt = find("indexing/OpenLRT");
    const Collector::Result viaTextGets = find("indexing/baseline_TextGets_count_lines");
    const Collector::Result viaFgets = find("indexing/reference_fgets_count_lines");
    const Collector::Result viaRead = find("indexing/reference_read_memchr_count_lines");
    if (openLrt.cpuNanoseconds > 0) {
        std::printf("  benchmark medians: OpenLRT %.1f ms, TextGets line count %.1f ms, fgets line "
                    "count %.1f ms, read+memchr line count %.1f ms (indexing is %.2fx, %.2fx, "
                    "%.2fx of these)\n",
                    openLrt.cpuNanoseconds / 1e6, viaTextGets.cpuNanoseconds / 1e6,
                    viaFgets.cpuNanoseconds / 1e6, viaRead.cpuNanoseconds / 1e6,
                    viaTextGets.cpuNanoseconds > 0 ? openLrt.cpuNanoseconds / viaTextGets.cpuNanoseconds : 0.0,
                    viaFgets.cpuNanoseconds > 0 ? openLrt.cpuNanoseconds / viaFgets.cpuNanoseconds : 0.0,
                    viaRead.cpuNanoseconds > 0 ? openLrt.cpuNanoseconds / viaRead.cpuNanoseconds : 0.0);
    }

    const Collector::Result loadBuffered = find("LoadLRT/512_lines_in_buffer");
    const Collector::Result loadSeek = find("LoadLRT/512_lines_seek_and_read");
    if (loadBuffered.cpuNanoseconds > 0 && loadSeek.cpuNanoseconds > 0) {
        std::printf("LoadLRT of a 512-line state: %.1f us from the reader's buffer (%.0f ns per "
                    "line), %.1f us with seek and read (%.0f bytes read per load)\n",
                    loadBuffered.cpuNanoseconds / 1e3,
                    loadBuffered.cpuNanoseconds / static_cast<double>(kLRTLinesMax),
                    loadSeek.cpuNanoseconds / 1e3,
                    counter("LoadLRT/512_lines_seek_and_read", "read_B/op"));
    }

    struct StepFigure {
        const char* label;
        const Paired* paired;
        const char* shortName;
        const char* longName;
    };
    const StepFigure steps[] = {
        {"step forward (new line)", &paired.newLine, "step/new_line/trace_200k",
         "step/new_line/trace_2M"},
        {"step back/forward (replays of neighbours)", &paired.neighbours,
         "step/replay_neighbours/trace_200k", "step/replay_neighbours/trace_2M"},
        {"replays across the whole ring", &paired.ring, "step/replay_across_ring/trace_200k",
         "step/replay_across_ring/trace_2M"},
    };
    for (const StepFigure& step : steps) {
        if (step.paired->rounds == 0) continue;
        const double shortRead = counter(step.shortName, "read_B/op");
        const double longRead = counter(step.longName, "read_B/op");
        // A scan would read in proportion to the trace's length, ten times as
        // much in the longer trace, and take ten times as long; seeking and
        // reading reads the same at both lengths.
        const bool sameReads = longRead <= shortRead * 1.25 + 64;
        const bool sameTime = step.paired->ratio < 1.25;
        std::printf("%s: %.2f us at 200k lines, %.2f us at 2M lines, ratio %.2fx; %.0f B and "
                    "%.0f B read per op (target: independent of the trace's length: %s)\n",
                    step.label, step.paired->baseline / 1e3, step.paired->subject / 1e3,
                    step.paired->ratio, shortRead, longRead,
                    sameReads && sameTime ? "met" : "MISSED");
    }
}

void Register() {
    const auto unit = [](benchmark::internal::Benchmark* b, benchmark::TimeUnit u) {
        b->Unit(u)->UseRealTime();
    };
    unit(benchmark::RegisterBenchmark("indexing/OpenLRT", IndexListing), benchmark::kMillisecond);
    unit(benchmark::RegisterBenchmark("indexing/baseline_TextGets_count_lines",
                                      CountLines<CountLinesWithTextGets>),
         benchmark::kMillisecond);
    unit(benchmark::RegisterBenchmark("indexing/reference_fgets_count_lines",
                                      CountLines<CountLinesWithFgets>),
         benchmark::kMillisecond);
    unit(benchmark::RegisterBenchmark("indexing/reference_read_memchr_count_lines",
                                      CountLines<CountLinesWithReadAndMemchr>),
         benchmark::kMillisecond);
    unit(benchmark::RegisterBenchmark("LoadLRT/512_lines_in_buffer", LoadStateFromBuffer),
         benchmark::kMicrosecond);
    unit(benchmark::RegisterBenchmark("LoadLRT/512_lines_seek_and_read", LoadStateWithSeek),
         benchmark::kMicrosecond);
    const std::pair<const char*, TraceChoice (*)()> traces[] = {{"trace_200k", ShortTrace},
                                                                 {"trace_2M", LongTrace}};
    for (const auto& trace : traces) {
        unit(benchmark::RegisterBenchmark(("step/new_line/" + std::string(trace.first)).c_str(),
                                          StepToNewLine, trace.second()),
             benchmark::kMicrosecond);
    }
    for (const auto& trace : traces) {
        unit(benchmark::RegisterBenchmark(
                 ("step/replay_neighbours/" + std::string(trace.first)).c_str(), ReplayNeighbours,
                 trace.second()),
             benchmark::kMicrosecond);
    }
    for (const auto& trace : traces) {
        // Whole walks to the oldest step and back, so that every run reads
        // the same lines.
        unit(benchmark::RegisterBenchmark(
                 ("step/replay_across_ring/" + std::string(trace.first)).c_str(), ReplayAcrossRing,
                 trace.second())
                 ->Iterations(kRingWalks * 2 * kRingMoves),
             benchmark::kMicrosecond);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Defaults that the command line can override (later flags win).
    std::vector<char*> arguments = {argv[0]};
    std::string repetitions = "--benchmark_repetitions=5";
    std::string aggregates = "--benchmark_report_aggregates_only=true";
    std::string minTime = "--benchmark_min_time=0.2";
    // Repetitions of different benchmarks take turns, so that a change in
    // the machine's load falls on the subject and its baseline alike.
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    arguments.push_back(repetitions.data());
    arguments.push_back(interleave.data());
    arguments.push_back(aggregates.data());
    arguments.push_back(minTime.data());
    for (int i = 1; i < argc; ++i) arguments.push_back(argv[i]);
    int count = static_cast<int>(arguments.size());
    arguments.push_back(nullptr);
    benchmark::Initialize(&count, arguments.data());
    if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) return 1;

    std::printf("writing the inputs...\n");
    std::fflush(stdout);
    MakeInputs();
    memory_console::Reset();
    Register();

    Collector collector(isatty(STDOUT_FILENO) != 0 ? benchmark::ConsoleReporter::OO_ColorTabular
                                                   : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&collector);
    std::printf("\npaired runs (each subject in turn with its baseline)...\n");
    std::fflush(stdout);
    const PairedResults paired = RunPairedMeasurements();
    PrintSummary(collector, paired);
    std::fflush(stdout);

    ResetProgramState();
    delete inputs;
    benchmark::Shutdown();
    return 0;
}

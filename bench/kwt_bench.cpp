// The benchmarks, each a figure set against a baseline measured in the
// same iterations, so that a change in the machine's speed falls on both:
//
//   indexing   OpenLRT over a bison listing, against counting the lines of
//              the same file with plain reads and memchr (and, for
//              reference, with the program's line reader);
//   step       a step that reads a new trace line, in a trace of 10^7
//              lines against one of 10^5;
//   replay     steps back and forward over recorded steps, likewise;
//   deep_*     steps, steps back and replays where the stack is 10,000
//              states deep, and a step that must collect the stack pool,
//              against the same in the shallow part of the same trace; and
//              the bytes a step back and the backward jumps read near the
//              end of that trace, against its size;
//   end        G from the first step of the 10^7-line trace to its last,
//              against `grep -c ''` over the same file; and - after it;
//   generators every line of a real lemon trace interpreted, as a jump over
//              it does, against a real bison trace of the same size.
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
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
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

constexpr uint32_t kDeepDepth = 10000;
// Steps from bench::DeepTrace::approach: through the three deepest `Stack
// now` lines (about 608 pieces each) and the first reduction and shift after.
constexpr int kDeepSteps = 3600;

struct Inputs {
    bench::Listing listing;
    std::string header;
    bench::Trace shortTrace;
    bench::Trace longTrace;
    bench::DeepTrace deepTrace;
    bench::GeneratedTrace bison;
    bench::GeneratedTrace lemon;
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

    bool Start() { return Start(trace_.DeepestStart(kRoomAfterStart)); }
    bool Start(bench::Offset at) {
        if (pfileLRT == nullptr) {
            QuietStandardOutput quiet;
            OpenLRT(inputs.listing.path.c_str());
        }
        TextClose(pfileTrace);
        pfileTrace = nullptr;
        if (!OpenTrace(trace_.path.c_str()) || !TextSeek(pfileTrace, at)) {
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

    ConsoleHandle output() const { return output_; }

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
        decltype(sStepTop) newest = 0;
        pair.Run(
            state,
            [&](Stepper& stepper) {
                stepper.Forward(kReplayWalk + 1);
                newest = sStepTop;
            },
            [&](Stepper& stepper) {
                stepper.Back(kReplayWalk);
                stepper.Forward(kReplayWalk);
                onlyReplays = onlyReplays && sStepTop == newest;
            });
    }
    if (!onlyReplays) state.SkipWithError("a replay read a new line");
    pair.Report(state, 2 * kReplayWalk);
}

// ---- the parser view at depth ---------------------------------------------------

// Each step of a pass timed on its own, and the bytes it read, by the slot of
// the step it shows.
struct Pass {
    std::vector<double> seconds = std::vector<double>(kStepSlots, -1);
    std::vector<uint64_t> bytes = std::vector<uint64_t>(kStepSlots, 0);

    template <typename Step>
    void Time(int count, Step step) {
        for (int i = 0; i < count; ++i) {
            const uint64_t before = BytesRead();
            const double start = ProcessorSeconds();
            step();
            const double took = ProcessorSeconds() - start;
            seconds[sStepCursor] = took;
            bytes[sStepCursor] = BytesRead() - before;
        }
    }
};

// What reading /proc/self/io adds to the bytes read.
uint64_t ReadingOverhead() {
    const uint64_t first = BytesRead();
    return BytesRead() - first;
}

enum class DeepKind { kStep, kBack, kReplay };

// Steps from `at`; the pass of `kind` is timed, the passes before it not.
Pass DeepPass(Stepper& stepper, bench::Offset at, DeepKind kind) {
    Pass pass;
    if (!stepper.Start(at)) return pass;
    if (kind == DeepKind::kStep) {
        pass.Time(kDeepSteps, [&] { stepper.Forward(1); });
        return pass;
    }
    stepper.Forward(kDeepSteps);
    if (kind == DeepKind::kBack) {
        pass.Time(kDeepSteps - 1, [&] { stepper.Back(1); });
        return pass;
    }
    stepper.Back(kDeepSteps - 1);
    pass.Time(kDeepSteps - 1, [&] { stepper.Forward(1); });
    return pass;
}

// Each step's least time over the iterations (the same steps every time, so
// that a pause of the machine in one of them does not count as the step's
// cost), and the slowest single time seen.
struct Best {
    std::vector<double> seconds = std::vector<double>(kStepSlots, -1);
    double sum = 0, worst = 0;
    std::size_t worstSlot = 0;
    uint64_t bytes = 0;
    int passes = 0, steps = 0;

    void Add(const Pass& pass, uint64_t overhead) {
        ++passes;
        steps = 0;
        for (std::size_t slot = 0; slot < pass.seconds.size(); ++slot) {
            const double took = pass.seconds[slot];
            if (took < 0) continue;
            ++steps;
            sum += took;
            if (took > worst) {
                worst = took;
                worstSlot = slot;
            }
            bytes += pass.bytes[slot] - overhead;
            if (seconds[slot] < 0 || took < seconds[slot]) seconds[slot] = took;
        }
    }
    std::vector<double> Sorted() const {
        std::vector<double> times;
        for (double took : seconds) {
            if (took >= 0) times.push_back(took);
        }
        std::sort(times.begin(), times.end());
        return times;
    }
    double Median() const {
        const std::vector<double> times = Sorted();
        return times.empty() ? 0 : times[times.size() / 2];
    }
    double Max() const {
        const std::vector<double> times = Sorted();
        return times.empty() ? 0 : times.back();
    }
    double Mean() const { return steps > 0 ? sum / passes / steps : 0; }
};

// The slot of the step that shows the last piece of the deepest `Stack now`
// line, the piece where that line takes effect; -1 when no step did.
int LastPieceSlot() {
    const bench::DeepTrace& trace = inputs.deepTrace;
    const bench::Offset last =
        trace.deepestLine + static_cast<bench::Offset>((trace.deepestLineBytes - 1) / 80 * 80);
    for (uint32_t slot = 0; slot < kStepSlots; ++slot) {
        if (lTrace[slot] == last && slot != sStepBottom) return static_cast<int>(slot);
    }
    return -1;
}

void Deep(benchmark::State& state, DeepKind kind) {
    const bench::DeepTrace& trace = inputs.deepTrace;
    // The shallow baseline: the last block before the stretch, at most 60 deep.
    const bench::Offset shallowStart = trace.BlockStart(trace.blocksBefore - 1);
    Stepper stepper{trace};
    const uint64_t overhead = ReadingOverhead();
    Best deep, shallow;
    int lastSlot = -1;
    uint64_t lastPieceBytes = 0;
    uint32_t depth = 0;
    for (auto _ : state) {
        const bool deepFirst = state.iterations() % 2 == 0;
        for (int turn = 0; turn < 2; ++turn) {
            const bool isDeep = (turn == 0) == deepFirst;
            const Pass pass = DeepPass(stepper, isDeep ? trace.approach : shallowStart, kind);
            (isDeep ? deep : shallow).Add(pass, overhead);
            if (!isDeep) continue;
            lastSlot = LastPieceSlot();
            if (lastSlot < 0 || pass.seconds[static_cast<std::size_t>(lastSlot)] < 0) {
                state.SkipWithError("no step showed the deepest line's last piece");
                return;
            }
            const auto slot = static_cast<std::size_t>(lastSlot);
            depth = std::max(depth, StackDepth(stepViews[slot].stacks[0]));
            lastPieceBytes = pass.bytes[slot] - overhead;
            double took = 0;
            for (double each : pass.seconds) took += std::max(each, 0.0);
            state.SetIterationTime(took);
        }
    }
    if (deep.steps == 0 || shallow.steps == 0) return;
    state.counters["depth"] = depth;
    state.counters["steps"] = deep.steps;
    state.counters["med_us"] = deep.Median() * 1e6;
    state.counters["mean_us"] = deep.Mean() * 1e6;
    state.counters["max_us"] = deep.Max() * 1e6;
    state.counters["worst_us"] = deep.worst * 1e6;
    // The least time of the step that took worst_us once: a pause of the
    // machine shows as a worst time far above it.
    state.counters["worst_step_us"] = deep.seconds[deep.worstSlot] * 1e6;
    state.counters["last_piece_us"] = deep.seconds[static_cast<std::size_t>(lastSlot)] * 1e6;
    state.counters["last_piece_read_KB"] = static_cast<double>(lastPieceBytes) / 1e3;
    state.counters["read_B"] = static_cast<double>(deep.bytes) / deep.passes / deep.steps;
    state.counters["shallow_med_us"] = shallow.Median() * 1e6;
    state.counters["shallow_mean_us"] = shallow.Mean() * 1e6;
    state.counters["shallow_max_us"] = shallow.Max() * 1e6;
    state.counters["ratio"] = deep.Mean() / shallow.Mean();
}

// ---- a step that collects the stack pool ----------------------------------------

// With the ring full of steps through the deepest part of the trace (or, for
// the baseline, through the shallow part), the pool is filled with entries
// no view holds until a line of the greatest depth would not fit, so that the
// next step must collect them first. That step is timed.
double CollectingStep(Stepper& stepper, bench::Offset at, bool* collected) {
    *collected = false;
    if (!stepper.Start(at)) return -1;
    stepper.Forward(static_cast<int>(kStepSlots));
    StackHandle garbage = kEmptyStack;
    while (StackEntriesFree() > kStackDepthMax) {
        garbage = StackPush(garbage, 1);
        if (StackDepth(garbage) >= 1000) garbage = kEmptyStack;
    }
    const uint32_t before = StackEntriesFree();
    const double start = ProcessorSeconds();
    stepper.Forward(1);
    const double took = ProcessorSeconds() - start;
    *collected = StackEntriesFree() > before;
    return took;
}

void DeepCollect(benchmark::State& state) {
    const bench::DeepTrace& trace = inputs.deepTrace;
    const bench::Offset shallowStart = trace.BlockStart(trace.blocksBefore - 7);
    Stepper stepper{trace};
    double deep = 0, shallow = 0, deepMax = 0;
    for (auto _ : state) {
        const bool deepFirst = state.iterations() % 2 == 0;
        for (int turn = 0; turn < 2; ++turn) {
            const bool isDeep = (turn == 0) == deepFirst;
            bool collected = false;
            const double took =
                CollectingStep(stepper, isDeep ? trace.approach : shallowStart, &collected);
            if (!collected) {
                state.SkipWithError("the step did not collect the pool");
                return;
            }
            if (isDeep) {
                deep += took;
                deepMax = std::max(deepMax, took);
                state.SetIterationTime(took);
            } else {
                shallow += took;
            }
        }
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["step_us"] = deep / runs * 1e6;
    state.counters["max_us"] = deepMax * 1e6;
    state.counters["shallow_us"] = shallow / runs * 1e6;
    state.counters["ratio"] = deep / shallow;
}

// ---- jumps back near the end of the deep trace ---------------------------------

double MilliSince(double start) { return (ProcessorSeconds() - start) * 1e3; }

// From the first step, a search forward to the end of the stretch that nests
// deep, near the end of the trace, interprets every line on the way and
// leaves checkpoints. From there a step back, a search back (N) and a jump
// back to a state (<) are each timed, with the bytes they read against the
// trace's size: none may read the trace from its start.
void DeepJumps(benchmark::State& state) {
    const bench::DeepTrace& trace = inputs.deepTrace;
    const std::string cursorText = "(close " + std::to_string(trace.closes.back()) + ")";
    const std::string backText =
        "(close " + std::to_string(trace.closes[trace.closes.size() - 40]) + ")";
    Stepper stepper{trace};
    const ConsoleHandle input = ConsoleInputHandle();
    const ConsoleHandle output = stepper.output();
    const uint64_t overhead = ReadingOverhead();
    for (auto _ : state) {
        if (!stepper.Start(0)) {
            state.SkipWithError("cannot open the deep trace");
            return;
        }
        uint64_t before = BytesRead();
        double start = ProcessorSeconds();
        if (SearchTrace(input, output, SearchKind::kForward, cursorText.c_str()) !=
            SearchOutcome::kFound) {
            state.SkipWithError("the search forward found nothing");
            return;
        }
        const double walk = ProcessorSeconds() - start;
        const uint64_t walkBytes = BytesRead() - before - overhead;
        state.SetIterationTime(walk);
        const int64_t cursor = lTrace[sStepCursor];

        before = BytesRead();
        start = ProcessorSeconds();
        stepper.Back(1);
        const double backMs = MilliSince(start);
        const uint64_t backBytes = BytesRead() - before - overhead;
        stepper.Forward(1);

        before = BytesRead();
        start = ProcessorSeconds();
        const SearchOutcome found =
            SearchTrace(input, output, SearchKind::kBackward, backText.c_str());
        const double findMs = MilliSince(start);
        const uint64_t findBytes = BytesRead() - before - overhead;
        const int64_t landed = lTrace[sStepCursor];
        const uint32_t landedState = ShownView().state;
        stepper.Back(1);

        nState = landedState;  // as the state keys would show it
        before = BytesRead();
        start = ProcessorSeconds();
        const SearchOutcome entered =
            SearchTrace(input, output, SearchKind::kEnterBackward, nullptr, landedState);
        const double enterMs = MilliSince(start);
        const uint64_t enterBytes = BytesRead() - before - overhead;
        const int64_t enteredAt = lTrace[sStepCursor];
        if (found != SearchOutcome::kFound || entered != SearchOutcome::kFound ||
            landed >= cursor || enteredAt >= cursor) {
            state.SkipWithError("a jump back did not land before the cursor");
            return;
        }
        const double size = static_cast<double>(trace.bytes);
        state.counters["trace_MB"] = size / 1e6;
        state.counters["cursor_at"] = static_cast<double>(cursor) / size;
        state.counters["walk_s"] = walk;
        state.counters["walk_read_MB"] = static_cast<double>(walkBytes) / 1e6;
        state.counters["back_ms"] = backMs;
        state.counters["back_read_KB"] = static_cast<double>(backBytes) / 1e3;
        state.counters["N_at"] = static_cast<double>(landed) / size;
        state.counters["N_ms"] = findMs;
        state.counters["N_read_KB"] = static_cast<double>(findBytes) / 1e3;
        state.counters["N_share"] = static_cast<double>(findBytes) / size;
        state.counters["lt_at"] = static_cast<double>(enteredAt) / size;
        state.counters["lt_ms"] = enterMs;
        state.counters["lt_read_KB"] = static_cast<double>(enterBytes) / 1e3;
        state.counters["lt_share"] = static_cast<double>(enterBytes) / size;
    }
}

// ---- the end of the trace ---------------------------------------------------------

double WallSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Processor time of the children that have ended: the shell, grep and cat.
double ChildrenSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval& time) {
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * 1e-6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Times {
    double wall = 0;
    double processor = 0;
};

// `grep -c ''` counts every line of the file: like G it must find the end of
// every line, and it does no more. The count goes to a pipe: with its output
// on /dev/null grep would stop at the first match.
void CountLinesWithGrep(const std::string& path, Times& times) {
    const std::string command = "grep -c '' -- '" + path + "' | cat >/dev/null";
    const double wall = WallSeconds();
    const double processor = ChildrenSeconds();
    if (std::system(command.c_str()) != 0) std::perror("grep");
    times.wall += WallSeconds() - wall;
    times.processor += ChildrenSeconds() - processor;
}

// From the first step of the 10^7-line trace, G to its last step: every line
// interpreted on the way, against grep -c '' over the same file, each first in
// every other iteration. Then - from there, which must be a replay: it
// records no step and reads no new line. + after G must beep: nothing follows.
void End(benchmark::State& state) {
    const bench::Trace& trace = inputs.longTrace;
    Stepper stepper{trace};
    const ConsoleHandle input = ConsoleInputHandle();
    const uint64_t overhead = ReadingOverhead();
    Times walk, grep;
    double back = 0;
    uint64_t backBytes = 0;
    for (auto _ : state) {
        const bool walkFirst = state.iterations() % 2 == 0;
        if (!walkFirst) CountLinesWithGrep(trace.path, grep);
        if (!stepper.Start(0)) {
            state.SkipWithError("cannot open the trace");
            return;
        }
        const double wall = WallSeconds();
        const double processor = ProcessorSeconds();
        const SearchOutcome outcome = SearchTrace(input, stepper.output(), SearchKind::kEnd, "");
        walk.processor += ProcessorSeconds() - processor;
        walk.wall += WallSeconds() - wall;
        state.SetIterationTime(ProcessorSeconds() - processor);
        if (walkFirst) CountLinesWithGrep(trace.path, grep);
        TracePiece piece;
        const bool read = ReadTracePiece(lTrace[sStepCursor], &piece);
        if (outcome != SearchOutcome::kFound || !read ||
            piece.next != static_cast<int64_t>(trace.bytes)) {
            state.SkipWithError("G did not land on the trace's last piece");
            return;
        }
        const uint64_t beeps = bench::Beeps();
        stepper.Forward(1);
        const uint16_t newest = sStepTop;
        const uint64_t before = BytesRead();
        const double start = ProcessorSeconds();
        stepper.Back(1);
        back += ProcessorSeconds() - start;
        backBytes += BytesRead() - before - overhead;
        if (bench::Beeps() != beeps + 1 || sStepTop != newest || sStepCursor != sStepBottom) {
            state.SkipWithError("a step after G, or - after it was not a replay");
            return;
        }
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["lines"] = static_cast<double>(trace.lines);
    state.counters["G_s"] = walk.processor / runs;
    state.counters["grep_s"] = grep.processor / runs;
    state.counters["ratio"] = walk.processor / grep.processor;
    state.counters["G_wall_s"] = walk.wall / runs;
    state.counters["grep_wall_s"] = grep.wall / runs;
    state.counters["wall_ratio"] = walk.wall / grep.wall;
    state.counters["back_us"] = back / runs * 1e6;
    state.counters["back_read_B"] = static_cast<double>(backBytes) / runs;
}

// ---- each generator's trace ------------------------------------------------------

// Interprets every line of a trace, line after line through the trace's
// reader; or, `byJump`, as G does from its first step, through the walk
// every jump takes. Gives the seconds.
double InterpretWholeTrace(const bench::GeneratedTrace& trace, bool byJump) {
    {
        QuietStandardOutput quiet;
        ReadInclude(trace.header.c_str());
        OpenLRT(trace.listing.c_str());
    }
    TextClose(pfileTrace);
    pfileTrace = nullptr;
    OpenTrace(trace.trace.c_str());
    ResetSteps();
    double seconds = 0;
    if (byJump) {
        const ConsoleHandle output = ConsoleOutputHandle();
        uint16_t scroll = 0;
        nState = 0;
        LoadLRT();
        BeginSteps(output, scroll);
        seconds = Seconds([&] { SearchTrace(ConsoleInputHandle(), output, SearchKind::kEnd, ""); });
    } else {
        MarkFirstLine();
        ParserView view = FirstView();
        TraceLine line;
        seconds = Seconds([&] {
            int64_t next = 0;
            for (int64_t at = 0; ReadTraceLine(at, line, &next); at = next) {
                KeepStackRoom(&view, 1);
                InterpretLine(view, line, view.state);
            }
        });
        benchmark::DoNotOptimize(view);
    }
    CloseTrace();
    TextClose(pfileLRT);
    pfileLRT = nullptr;
    return seconds;
}

void Generators(benchmark::State& state) {
    // Seconds for bison's and lemon's traces, line by line and by G.
    std::array<double, 2> bison{}, lemon{};
    for (auto _ : state) {
        const bool bisonFirst = state.iterations() % 2 == 0;
        for (const bool byJump : {false, true}) {
            if (bisonFirst) bison[byJump] += InterpretWholeTrace(inputs.bison, byJump);
            const double lemonSeconds = InterpretWholeTrace(inputs.lemon, byJump);
            if (!bisonFirst) bison[byJump] += InterpretWholeTrace(inputs.bison, byJump);
            lemon[byJump] += lemonSeconds;
            if (!byJump) state.SetIterationTime(lemonSeconds);
        }
    }
    // The steppers' tables as they were: the large grammar's header.
    ReadInclude(inputs.header.c_str());
    const double runs = static_cast<double>(state.iterations());
    const auto perLine = [runs](double seconds, const bench::GeneratedTrace& trace) {
        return seconds / runs / static_cast<double>(trace.lines) * 1e9;
    };
    state.counters["MB"] = static_cast<double>(inputs.lemon.bytes) / 1e6;
    state.counters["bison_ns_line"] = perLine(bison[0], inputs.bison);
    state.counters["lemon_ns_line"] = perLine(lemon[0], inputs.lemon);
    state.counters["ratio_line"] =
        perLine(lemon[0], inputs.lemon) / perLine(bison[0], inputs.bison);
    state.counters["ratio_byte"] = lemon[0] / bison[0];
    state.counters["G_bison_ns_line"] = perLine(bison[1], inputs.bison);
    state.counters["G_lemon_ns_line"] = perLine(lemon[1], inputs.lemon);
    state.counters["G_ratio_line"] =
        perLine(lemon[1], inputs.lemon) / perLine(bison[1], inputs.bison);
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
    inputs.deepTrace = bench::WriteDeepTrace(directory + "trace-deep", kLongTraceLines,
                                             inputs.listing.states, tokens, kDeepDepth);
    std::printf(
        "listing: %.1f MB, %llu lines, %d states; %zu token names; traces %.1f and %.1f MB\n"
        "deep trace: %.1f MB; the stretch where the stack nests %u deep spans %.1f%%-%.1f%% of its "
        "bytes; the deepest `Stack now` line has %llu bytes\n",
        static_cast<double>(inputs.listing.bytes) / 1e6,
        static_cast<unsigned long long>(inputs.listing.lines), inputs.listing.states, tokens.size(),
        static_cast<double>(inputs.shortTrace.bytes) / 1e6,
        static_cast<double>(inputs.longTrace.bytes) / 1e6,
        static_cast<double>(inputs.deepTrace.bytes) / 1e6, inputs.deepTrace.depth,
        100.0 * static_cast<double>(inputs.deepTrace.nestStart) /
            static_cast<double>(inputs.deepTrace.bytes),
        100.0 * static_cast<double>(inputs.deepTrace.nestEnd) /
            static_cast<double>(inputs.deepTrace.bytes),
        static_cast<unsigned long long>(inputs.deepTrace.deepestLineBytes));

    benchmark::RegisterBenchmark("indexing", Indexing)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("step", StepToNewLine)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("replay", Replay)->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("deep_step", Deep, DeepKind::kStep)
        ->UseManualTime()
        ->Iterations(5)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("deep_back", Deep, DeepKind::kBack)
        ->UseManualTime()
        ->Iterations(5)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("deep_replay", Deep, DeepKind::kReplay)
        ->UseManualTime()
        ->Iterations(5)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("deep_collect", DeepCollect)
        ->UseManualTime()
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("deep_jumps", DeepJumps)
        ->UseManualTime()
        ->Iterations(1)
        ->Repetitions(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("end", End)
        ->UseManualTime()
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
    if (bench::WriteGeneratorTraces(directory, KWT_EXAMPLES_DIR, &inputs.bison, &inputs.lemon)) {
        std::printf("bison and lemon traces of %.1f MB: %llu and %llu lines\n",
                    static_cast<double>(inputs.lemon.bytes) / 1e6,
                    static_cast<unsigned long long>(inputs.bison.lines),
                    static_cast<unsigned long long>(inputs.lemon.lines));
        benchmark::RegisterBenchmark("generators", Generators)
            ->UseManualTime()
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond);
    } else {
        std::printf("(no generator traces: bison, lemon or cc failed)\n");
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\n");
    const bool terminal = bench::ReportTerminalFigures(KWT_PROGRAM, directory, inputs.listing,
                                                       inputs.header, inputs.longTrace);
    const bool deep = bench::ReportDeepMemory(KWT_PROGRAM, directory, inputs.listing, inputs.header,
                                              inputs.deepTrace);
    return terminal && deep ? 0 : 1;
}

// What the benchmark programs share: the input files and how they were made.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kwt.h"

namespace bench {

// A file offset, of whatever width the program's text reader uses.
using Offset = decltype(TextTell(static_cast<const TextFile*>(nullptr)));

struct Listing {
    std::string path;
    uint64_t bytes = 0;
    uint64_t lines = 0;
    int states = 0;  // lines that are exactly "State N"
};

// Counts the lines, bytes and state headers of a generator's listing.
Listing SurveyListing(const std::string& path);

struct Trace {
    std::string path;
    uint64_t lines = 0;
    uint64_t bytes = 0;
    // The trace repeats a block of lines after a short start; blockStart(k)
    // is where the k-th repetition begins, so traces of any length read the
    // same lines there.
    uint64_t blockLines = 0;
    uint64_t headBytes = 0;
    uint64_t blockBytes = 0;
    Offset BlockStart(uint64_t block) const {
        return static_cast<Offset>(headBytes + block * blockBytes);
    }
    // The last block start with at least `room` lines after it.
    Offset DeepestStart(uint64_t room) const;
};

// Writes a bison-style debug trace of `lines` lines, naming states below
// `states` and the tokens in `tokens`.
Trace WriteTrace(const std::string& path, uint64_t lines, int states,
                 const std::vector<std::string>& tokens);

// A trace of blocks as above, with a stretch in it where the stack nests
// `depth` states deep and comes back, about kRoomAfterNest lines from the end.
struct DeepTrace : Trace {
    uint32_t depth = 0;
    uint64_t blocksBefore = 0;  // whole blocks before the stretch
    Offset nestStart = 0;       // where the stretch starts
    Offset approach = 0;        // the first line of the third token before the deepest point
    Offset deepestLine = 0;     // the `Stack now` line at the greatest depth
    uint64_t deepestLineBytes = 0;
    Offset nestEnd = 0;  // where the blocks go on after it
    // The depths the stretch climbs back from, in the trace's order; each
    // token on the way up has the value `(close D)`.
    std::vector<uint32_t> closes;
};

DeepTrace WriteDeepTrace(const std::string& path, uint64_t lines, int states,
                         const std::vector<std::string>& tokens, uint32_t depth);

// A real trace of the example calculator, with the listing and header of
// the same run.
struct GeneratedTrace {
    std::string trace, listing, header;
    uint64_t lines = 0;
    uint64_t bytes = 0;
};

// Builds the example calculator (`examples/calc.y`) with bison and its lemon
// version (`examples/lemon/calc.y`), runs both on one long input in
// `directory` and cuts the longer trace, at a line's end, to the other's
// size. False when a generator or the compiler failed.
bool WriteGeneratorTraces(const std::string& directory, const std::string& examples,
                          GeneratedTrace* bison, GeneratedTrace* lemon);

// Beeps of the benchmarks' console so far: a step past the end of a trace beeps.
uint64_t Beeps();

// Runs the program in a pseudo-terminal on the listing and the header with
// traces of its own, and prints the bytes a repaint sends and the program's
// peak memory. False when the program could not be run.
bool ReportTerminalFigures(const std::string& program, const std::string& directory,
                           const Listing& listing, const std::string& header, const Trace& trace);

// The program's peak memory in a pseudo-terminal on the trace that nests
// deep, with keys that take it to the greatest depth and jump about there.
bool ReportDeepMemory(const std::string& program, const std::string& directory,
                      const Listing& listing, const std::string& header, const DeepTrace& trace);

}  // namespace bench

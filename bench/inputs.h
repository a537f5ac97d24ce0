// Input files for the benchmarks, written once into a temporary directory:
// a state listing, parser debug traces and a token header, in the forms the
// program reads, with sizes chosen by the caller. Everything is streamed to
// disk, so that making a large input costs the writing process no memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct ListingShape {
    int states = 4096;
    // Lines per ordinary state (the header line included) are drawn evenly
    // from this range.
    int minLines = 30;
    int maxLines = 89;
    // States whose block has exactly `bigLines` lines.
    std::vector<int> bigStates;
    int bigLines = 512;
};

struct ListingFacts {
    uint64_t bytes = 0;
    uint64_t lines = 0;
    int states = 0;
};

// Writes a listing: a short preamble, then one block per state, each
// opened by a header line the indexer recognises.
ListingFacts WriteListing(const std::string& path, const ListingShape& shape);

struct TraceShape {
    uint64_t lines = 0;
    // Whether the trace has the lines that move the display to a state
    // ("at state S, next token T"); without them a step only changes the
    // trace line on the screen.
    bool namesStates = true;
    int states = 4096;        // states named lie in 1 .. states - 1
    int firstToken = 257;     // tokens named lie in firstToken .. firstToken + tokens - 1
    int tokens = 512;
    // The trace's content repeats with this period (in lines), so that
    // equal positions modulo the period read the same lines in traces of
    // any length.
    uint64_t period = 20000;
};

struct TraceFacts {
    uint64_t bytes = 0;
    uint64_t lines = 0;
    // offsets[i] is the byte offset of line marks[i] (0-based).
    std::vector<int32_t> offsets;
};

// Writes the first `shape.lines` lines of the trace to `path`. `marks`
// are line numbers whose offsets are wanted.
TraceFacts WriteTrace(const std::string& path, const TraceShape& shape,
                      const std::vector<uint64_t>& marks);

// Writes a token header of `count` definitions, numbered from `first`.
void WriteHeader(const std::string& path, int count, int first = 257);

// A directory of its own under $TMPDIR (or /tmp), removed with everything
// in it when the object goes.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string Path(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The machine, for the reports: the number of processors online and the
// processor's model name.
std::string MachineDescription();

}  // namespace bench

// Helpers shared by the tests: input files in a directory of their own,
// listings, and the program's tables put back between cases.
#pragma once

#include <string>
#include <vector>

#include "../fuzz/common.h"
#include "kwt.h"

// A new directory under the system's temporary directory, removed with its
// files at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    // Writes `content` byte for byte to `name` in the directory; gives its path.
    std::string Write(const std::string& name, const std::string& content) const;
    std::string Path(const std::string& name = "") const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string StateHeader(int number);  // "+---" at the start and "STATE <number>" at offset 31
// States of the given line counts, header included; body lines read "state S line L".
std::string Listing(const std::vector<int>& linesPerState);

inline void ResetProgramState() { fuzz::ResetReaders(), ResetSteps(); }  // files, tables, step history

// The files the program reads, from real parser generators: byacc, bison
// and bison -y build the example calculator, which traces an example input.
struct TraceFiles { std::string listing, header, trace; };

constexpr int kGeneratorCount = 3;  // byacc, bison, bison -y
// Recovered by popping several states (with a stack deep enough for bison's
// `Stack now` lines to pass 80 columns), at the end of the input, and back
// to state 0.
// The last has its syntax error some 1,500 tokens in.
inline const char* const kErrorInputs[] = {"error-pops.calc", "error-at-end.calc", "error-to-state-0.calc",
                                           "error-late.calc"};
constexpr int kErrorInputCount = 4;

// Builds the calculator with `generator` in a directory of `dir` (once per
// `dir`) and traces it on examples/`input`.
TraceFiles RealTrace(const TempDir& dir, int generator, const std::string& input);
// The program as it starts, on a blank in-memory console, with the files
// opened in the program's order.
void OpenFiles(const TraceFiles& files);

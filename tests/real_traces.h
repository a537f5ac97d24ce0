// The files the program reads, from real parser generators: byacc, bison
// and bison -y build the example calculator, which traces an example input.
#pragma once

#include <string>

#include "support.h"

struct TraceFiles { std::string listing, header, trace; };

constexpr int kGeneratorCount = 3;  // byacc, bison, bison -y
// Recovered by popping several states (with a stack deep enough for bison's
// `Stack now` lines to pass 80 columns), at the end of the input, and back
// to state 0.
inline const char* const kErrorInputs[] = {"error-pops.calc", "error-at-end.calc", "error-to-state-0.calc"};

// Builds the calculator with `generator` in a directory of `dir` (once per
// `dir`) and traces it on examples/`input`.
TraceFiles RealTrace(const TempDir& dir, int generator, const std::string& input);
// The program as it starts, on a blank in-memory console, with the files
// opened in the program's order.
void OpenFiles(const TraceFiles& files);

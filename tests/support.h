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

// Helpers shared by the tests: input files in a directory of their own,
// listings, and the program's tables put back between cases.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "../fuzz/common.h"
#include "kwt.h"

// A new directory under the system's temporary directory, removed with its files at the end.
class TempDir {
public:
    TempDir() {
        std::random_device seed;
        do
            path_ =
                (std::filesystem::temp_directory_path() / ("kwt-test-" + std::to_string(seed())))
                    .string();
        while (!std::filesystem::create_directory(path_));
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    // Writes `content` byte for byte to `name` in the directory; gives its path.
    std::string Write(const std::string& name, const std::string& content) const {
        std::ofstream out(Path(name), std::ios::binary);
        if (!(out << content)) throw std::runtime_error("cannot write " + Path(name));
        return Path(name);
    }
    std::string Path(const std::string& name = "") const { return path_ + "/" + name; }

private:
    std::string path_;
};

// "+---" at the start and "STATE <number>" at offset 31.
inline std::string StateHeader(int number) {
    char line[96];
    std::snprintf(line, sizeof line,
                  "+----------------------------- STATE %d -----------------------------+", number);
    return line;
}

// States of the given line counts, header included; body lines read "state S line L".
inline std::string Listing(const std::vector<int>& linesPerState) {
    std::string text;
    for (std::size_t state = 0; state < linesPerState.size(); ++state) {
        text += StateHeader(static_cast<int>(state)) + "\n";
        for (int line = 1; line < linesPerState[state]; ++line)
            text += "state " + std::to_string(state) + " line " + std::to_string(line) + "\n";
    }
    return text;
}

// Opens a listing without the reader's progress lines on the test's output.
inline bool OpenListingQuietly(const std::string& path) {
    testing::internal::CaptureStdout();
    const bool opened = OpenLRT(path.c_str());
    return testing::internal::GetCapturedStdout(), opened;
}

inline void ResetProgramState() {  // files, tables, step history, an 80 x 25 window
    fuzz::ResetReaders(), ResetSteps(), nScreenRows = kScreenRows, nScreenColumns = kScreenColumns;
}

#include "support.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::random_device seed;
    do {
        path_ = (fs::temp_directory_path() / ("kwt-test-" + std::to_string(seed()))).string();
    } while (!fs::create_directory(path_));
}

TempDir::~TempDir() { std::error_code ignored; fs::remove_all(path_, ignored); }

std::string TempDir::Write(const std::string& name, const std::string& content) const {
    std::ofstream out(Path(name), std::ios::binary);
    if (!(out << content)) throw std::runtime_error("cannot write " + Path(name));
    return Path(name);
}

std::string StateHeader(int number) {
    char line[96];
    std::snprintf(line, sizeof line, "+----------------------------- STATE %d -----------------------------+", number);
    return line;
}

std::string Listing(const std::vector<int>& linesPerState) {
    std::string text;
    for (std::size_t state = 0; state < linesPerState.size(); ++state) {
        text += StateHeader(static_cast<int>(state)) + "\n";
        for (int line = 1; line < linesPerState[state]; ++line)
            text += "state " + std::to_string(state) + " line " + std::to_string(line) + "\n";
    }
    return text;
}

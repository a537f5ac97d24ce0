#include "test_files.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

// A new directory under the system's temporary directory (TMPDIR, or TMP
// and TEMP on Windows); a name already taken is never reused.
TempDir::TempDir() {
    const fs::path base = fs::temp_directory_path();
    std::random_device seed;
    std::mt19937_64 random((static_cast<uint64_t>(seed()) << 32) ^ seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = base / ("kwt-test-" + std::to_string(random()));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path_ = candidate.string();
            return;
        }
        if (error) throw std::runtime_error("cannot make a test directory: " + error.message());
    }
    throw std::runtime_error("cannot find a free name for a test directory");
}

TempDir::~TempDir() {
    std::error_code error;
    fs::remove_all(path_, error);
    if (error) std::fprintf(stderr, "removing a test directory: %s\n", error.message().c_str());
}

std::string TempDir::Path(const std::string& name) const { return path_ + "/" + name; }

std::string TempDir::Write(const std::string& name, const std::string& content) const {
    const std::string path = Path(name);
    std::ofstream out(path, std::ios::binary);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + path);
    return path;
}

std::string StateHeader(int number) {
    char line[96];
    std::snprintf(line, sizeof line, "+----------------------------- STATE %d -----------------------------+",
                  number);
    return line;
}

std::string Listing(const std::vector<int>& linesPerState, const std::string& preamble) {
    std::string text = preamble;
    for (std::size_t state = 0; state < linesPerState.size(); ++state) {
        text += StateHeader(static_cast<int>(state)) + "\n";
        for (int line = 1; line < linesPerState[state]; ++line) {
            text += "state " + std::to_string(state) + " line " + std::to_string(line) + "\n";
        }
    }
    return text;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

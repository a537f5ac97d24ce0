#include "test_files.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/kwt-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    const std::string command = "rm -rf '" + path_ + "'";
    if (std::system(command.c_str()) != 0) std::perror("removing a test directory");
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

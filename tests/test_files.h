// Input files written by tests into a temporary directory of their own.
#pragma once

#include <string>
#include <vector>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Writes `content` byte for byte to `name` in the directory; gives its path.
    std::string Write(const std::string& name, const std::string& content) const;
    std::string Path(const std::string& name) const;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A state header line for state `number`: "+---" at the start and
// "STATE " at offset 31.
std::string StateHeader(int number);

// A listing of states whose blocks have the given numbers of lines, the
// header line included; body lines read "state S line L".
std::string Listing(const std::vector<int>& linesPerState, const std::string& preamble = "");

std::string ReadWholeFile(const std::string& path);

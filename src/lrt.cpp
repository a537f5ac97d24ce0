// The state listing: indexed once by the offsets of its state header lines,
// then re-read one state's block at a time into the window `szLRT`.
#include <cstdio>
#include <cstring>

#include "kwt.h"

TextFile* pfileLRT = nullptr;
std::array<int32_t, kStatesMax + 1> lState{};
uint32_t nStates = 0;
uint32_t nState = 0;
std::array<TextLine, kLRTLinesMax> szLRT{};
uint32_t nLRTLines = 0;

namespace {

constexpr char kHeaderStart[] = "+---";
constexpr std::size_t kHeaderStartLength = sizeof kHeaderStart - 1;
constexpr char kHeaderWord[] = "STATE ";
constexpr std::size_t kHeaderWordLength = sizeof kHeaderWord - 1;
constexpr std::size_t kHeaderWordColumn = 31;
constexpr uint32_t kProgressEvery = 10;

bool IsStateHeader(const char* line) {
    // Nearly every line fails on its first character: decide those without a call.
    if (line[0] != kHeaderStart[0]) return false;
    if (std::strncmp(line, kHeaderStart, kHeaderStartLength) != 0) return false;
    if (std::strlen(line) < kHeaderWordColumn + kHeaderWordLength) return false;
    return std::strncmp(line + kHeaderWordColumn, kHeaderWord, kHeaderWordLength) == 0;
}

void ShowProgress(const char* format, uint32_t count) {
    std::printf(format, static_cast<int>(count));
    std::fflush(stdout);
}

// Finds the offset where the block of the last indexed state ends: the next
// header line, or the end of the file. Only needed when the index is full.
int32_t FindEndOfLastState() {
    TextLine& line = szLRT[0];
    for (;;) {
        const int32_t offset = TextTell(pfileLRT);
        if (!ReadTextLine(pfileLRT, line) || IsStateHeader(line.data())) return offset;
    }
}

}  // namespace

bool ReadTextLine(TextFile* file, TextLine& line) {
    // Straight into the line, which TextRead leaves as it was when it reads
    // nothing; the bytes after the terminator are cleared, so that nothing
    // of an earlier line stays behind.
    const int count = TextRead(line.data(), static_cast<int>(line.size()), file);
    if (count == 0) return false;
    const std::size_t used = static_cast<std::size_t>(count) + 1;
    std::memset(line.data() + used, 0, line.size() - used);
    char* newline = std::strchr(line.data(), '\n');
    if (newline != nullptr) *newline = '\0';
    return true;
}

bool OpenLRT(const char* path) {
    pfileLRT = TextOpen(path);
    if (pfileLRT == nullptr) {
        std::perror("Cannot open YACC LRT file! Use '-v' flag with YACC");
        return false;
    }
    std::printf("Reading the state file...\n");
    nState = 0;
    nStates = 0;
    bool ended = false;
    while (nStates < kStatesMax) {
        lState[nStates] = TextTell(pfileLRT);
        if (!ReadTextLine(pfileLRT, szLRT[0])) {
            ended = true;
            break;
        }
        if (IsStateHeader(szLRT[0].data())) {
            ++nStates;
            if (nStates % kProgressEvery == 0) ShowProgress("State %4d\r", nStates);
        }
    }
    if (!ended) lState[nStates] = FindEndOfLastState();
    ShowProgress("State %4d\n", nStates);
    return true;
}

void LoadLRT() {
    nLRTLines = 0;
    if (pfileLRT == nullptr || nState >= nStates) return;
    const int32_t end = lState[nState + 1];
    if (!TextSeek(pfileLRT, lState[nState])) return;
    // A line belongs to the block when it starts before the next header.
    while (nLRTLines < kLRTLinesMax) {
        if (TextTell(pfileLRT) >= end) break;
        if (!ReadTextLine(pfileLRT, szLRT[nLRTLines])) break;
        ++nLRTLines;
    }
}

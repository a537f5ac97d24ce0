// Times a forward search with no match through a large trace against
// `grep -c` for the same text over the same file, in the same run, and a
// jump to a syntax error at the trace's end (every line interpreted). The
// screen goes to a console that shows nothing. Prints the ratio and the peak memory.
//
//   kwt_search_bench TRACE LISTING HEADER TEXT [ROUNDS]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "kwt.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double TimeGrep(const std::string& text, const std::string& trace) {
    const std::string command = "grep -c -F -- '" + text + "' '" + trace + "' >/dev/null";
    const Clock::time_point start = Clock::now();
    if (std::system(command.c_str()) == -1) std::perror("grep");
    return Seconds(start);
}

// Opens the three files and shows the first step, as the program does.
bool Begin(const char* trace, const char* listing, const char* header) {
    CloseTrace();
    TextClose(pfileLRT);
    pfileLRT = nullptr;
    ResetSteps();
    if (ReadInclude(header) == 0 || !OpenLRT(listing) || !OpenTrace(trace)) return false;
    uint16_t scroll = 0;
    BeginSteps(ConsoleOutputHandle(), scroll);
    return true;
}

double TimeSearch(SearchKind kind, const char* text, SearchOutcome* outcome) {
    const Clock::time_point start = Clock::now();
    *outcome = SearchTrace(ConsoleInputHandle(), ConsoleOutputHandle(), kind, text);
    return Seconds(start);
}

long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s TRACE LISTING HEADER TEXT [ROUNDS]\n", argv[0]);
        return 1;
    }
    const char* text = argv[4];
    const int rounds = argc > 5 ? std::atoi(argv[5]) : 3;
    double grep = 1e9;
    double search = 1e9;
    double error = 1e9;
    const long before = PeakKilobytes();
    for (int round = 0; round < rounds; ++round) {
        grep = std::min(grep, TimeGrep(text, argv[1]));
        SearchOutcome outcome{};
        if (!Begin(argv[1], argv[2], argv[3])) return 1;
        search = std::min(search, TimeSearch(SearchKind::kForward, text, &outcome));
        if (outcome != SearchOutcome::kNotFound) std::fprintf(stderr, "the text was found\n");
        if (!Begin(argv[1], argv[2], argv[3])) return 1;
        error = std::min(error, TimeSearch(SearchKind::kError, nullptr, &outcome));
        if (outcome != SearchOutcome::kFound) std::fprintf(stderr, "no error line found\n");
    }
    const double ratio = search / grep;
    std::printf("grep -c, no match:              %8.3f s\n", grep);
    std::printf("forward search, no match:       %8.3f s\n", search);
    std::printf("ratio search / grep -c:         %8.2f  (target <= 2.00: %s)\n", ratio,
                ratio <= 2.0 ? "met" : "MISSED");
    std::printf("e to the error at the end:      %8.3f s  (every line interpreted)\n", error);
    std::printf("peak memory: %ld kB before the searches, %ld kB after\n", before, PeakKilobytes());
    return 0;
}

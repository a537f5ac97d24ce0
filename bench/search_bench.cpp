// Times, through a large trace, against `grep -c` over the same file in the
// same run: a forward search with no match; `e` past the trace's only error,
// near its start, which finds no further one; and a forward search for a
// text near the trace's end, which interprets every line on the way. The
// screen goes to a console that shows nothing. Prints the ratios and the
// peak memory.
//
//   kwt_search_bench TRACE LISTING HEADER TEXT [ROUNDS [END_TEXT]]
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

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

// `texts` is one text or more, each given as `-e TEXT`. The count goes to a
// pipe: with its output on /dev/null grep would stop at the first match.
double TimeGrep(const std::string& texts, const std::string& trace) {
    const std::string command = "grep -c -F " + texts + " -- '" + trace + "' | cat >/dev/null";
    const Clock::time_point start = Clock::now();
    if (std::system(command.c_str()) == -1) std::perror("grep");
    return Seconds(start);
}

// Opens the three files and shows the first step, as the program does; the
// lines the listing's reader prints go to /dev/null.
bool Begin(const char* trace, const char* listing, const char* header) {
    CloseTrace();
    TextClose(pfileLRT);
    pfileLRT = nullptr;
    ResetSteps();
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int sink = open("/dev/null", O_WRONLY);
    dup2(sink, STDOUT_FILENO);
    close(sink);
    const bool opened = ReadInclude(header) != 0 && OpenLRT(listing) && OpenTrace(trace);
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    if (!opened) return false;
    uint16_t scroll = 0;
    BeginSteps(ConsoleOutputHandle(), scroll);
    return true;
}

std::string GrepText(const std::string& text) { return "-e '" + text + "'"; }

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

void PrintRatio(const char* what, double seconds, double grep, double target) {
    const double ratio = seconds / grep;
    std::printf("%-32s %8.3f s   grep -c %6.3f s   ratio %6.2f", what, seconds, grep, ratio);
    if (target > 0)
        std::printf("  (target <= %.2f: %s)", target, ratio <= target ? "met" : "MISSED");
    std::printf("\n");
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s TRACE LISTING HEADER TEXT [ROUNDS [END_TEXT]]\n", argv[0]);
        return 1;
    }
    const char* text = argv[4];
    const int rounds = argc > 5 ? std::atoi(argv[5]) : 3;
    const char* endText = argc > 6 ? argv[6] : "Now at end of input";
    double grep = 1e9, search = 1e9, grepError = 1e9, error = 1e9, grepEnd = 1e9, end = 1e9;
    const long before = PeakKilobytes();
    for (int round = 0; round < rounds; ++round) {
        grep = std::min(grep, TimeGrep(GrepText(text), argv[1]));
        SearchOutcome outcome{};
        if (!Begin(argv[1], argv[2], argv[3])) return 1;
        search = std::min(search, TimeSearch(SearchKind::kForward, text, &outcome));
        if (outcome != SearchOutcome::kNotFound) std::fprintf(stderr, "the text was found\n");

        // The same keys as `e` finds, each error line holds one of them.
        grepError =
            std::min(grepError, TimeGrep(GrepText("rror") + " " + GrepText("RROR"), argv[1]));
        if (!Begin(argv[1], argv[2], argv[3])) return 1;
        TimeSearch(SearchKind::kError, nullptr, &outcome);
        if (outcome != SearchOutcome::kFound) std::fprintf(stderr, "no error line found\n");
        error = std::min(error, TimeSearch(SearchKind::kError, nullptr, &outcome));
        if (outcome != SearchOutcome::kNotFound) std::fprintf(stderr, "a second error found\n");

        grepEnd = std::min(grepEnd, TimeGrep(GrepText(endText), argv[1]));
        if (!Begin(argv[1], argv[2], argv[3])) return 1;
        end = std::min(end, TimeSearch(SearchKind::kForward, endText, &outcome));
        if (outcome != SearchOutcome::kFound) std::fprintf(stderr, "the end text was not found\n");
    }
    PrintRatio("forward search, no match:", search, grep, 2.0);
    PrintRatio("e past the only error, no more:", error, grepError, 2.0);
    PrintRatio("search found at the end:", end, grepEnd, 0);
    std::printf("  (the last interprets every line of the trace on the way)\n");
    std::printf("peak memory: %ld kB before the searches, %ld kB after\n", before, PeakKilobytes());
    return 0;
}

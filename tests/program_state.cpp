#include "program_state.h"

#include <cstdio>
#include <unistd.h>

#include "kwt.h"

#ifdef _WIN32
constexpr char kNullDevice[] = "NUL";
#else
constexpr char kNullDevice[] = "/dev/null";
#endif

void ResetProgramState() {
    TextClose(pfileLRT);
    pfileLRT = nullptr;
    CloseTrace();
    lState.fill(0);
    nStates = 0;
    nState = 0;
    nLRTLines = 0;
    for (auto& line : szLRT) line.fill('\0');
    szTrace.fill('\0');
    nToken = 0;
    nCurrentState = 0;
    sSymbols = 0;
    ResetSteps();
}

bool OpenListingQuietly(const std::string& listing) {
    std::fflush(stdout);
    const int saved = dup(1);
    std::FILE* sink = std::fopen(kNullDevice, "w");
    dup2(fileno(sink), 1);
    const bool opened = OpenLRT(listing.c_str());
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::fclose(sink);
    return opened;
}

std::string LoadedLine(unsigned index) { return szLRT[index].data(); }

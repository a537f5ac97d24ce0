// Program entry and start-up order, the console stages around the key loop,
// screen clearing and the report of a failed console call.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kwt.h"

namespace {

constexpr char kUnit[] = "kwt";
constexpr ConsoleAttribute kDefaultAttribute = 0x07;
constexpr char kReportTail[] = "\n\nContinue execution?";
constexpr char kQueryLabel[] = "GetConsoleScreenBufferInfo";

// The console's state before the key loop, put back after it.
ConsoleBufferInfo savedBufferInfo;
bool bufferInfoSaved = false;

// Appends at most `limit` characters of `text` to the report.
void AppendToReport(char* report, std::size_t& used, std::size_t limit, const char* text) {
    while (*text != '\0' && used < limit) report[used++] = *text++;
    report[used] = '\0';
}

void AppendFormatted(char* report, std::size_t& used, std::size_t limit, const char* format,
                     const char* unit, int code, const char* label, int line) {
    char piece[kReportSize];
    std::snprintf(piece, sizeof piece, format, unit, code, label, line);
    AppendToReport(report, used, limit, piece);
}

}  // namespace

void perr(const char* unit, int line, const char* label, int code) {
    char report[kReportSize];
    std::size_t used = 0;
    report[0] = '\0';
    // The question always ends the report: the body is shortened to leave room.
    const std::size_t bodyLimit = sizeof report - sizeof kReportTail;
    AppendFormatted(report, used, bodyLimit, "%s: Error %d from %s on line %d:\n", unit, code,
                    label, line);
    char* message = ConsoleErrorText(code);
    const int requestLine = __LINE__;
    if (message != nullptr) {
        AppendToReport(report, used, bodyLimit, message);
    } else {
        AppendFormatted(report, used, bodyLimit,
                        "Unable to obtain error message text! \n%s: Error %d from %s on line %d",
                        kUnit, ConsoleLastError(), "FormatMessage", requestLine);
    }
    AppendToReport(report, used, sizeof report - 1, kReportTail);
    ConsoleWarningTone();
    const bool goOn = ConsoleAskYesNo(report, "Console API Error");
    if (message != nullptr) ConsoleFreeErrorText(message);
    if (!goOn) std::exit(kExitUsage);
}

// Clears the whole buffer, not just the window that shows it: on a Windows
// console the window can be scrolled over the buffer or made larger, and no
// text from before kwt (or from a larger layout) may show there.
void cls(ConsoleHandle output) {
    // Without a size from the console, clear the screen the layout uses.
    ConsoleBufferInfo size{kScreenColumns, kScreenRows, kDefaultAttribute};
    if (!Checked(ConsoleGetBufferInfo(output, &size), kUnit, __LINE__, kQueryLabel)) {
        size = ConsoleBufferInfo{kScreenColumns, kScreenRows, kDefaultAttribute};
    }
    const uint32_t width = size.width > 0 ? static_cast<uint32_t>(size.width) : 0;
    const uint32_t height = size.height > 0 ? static_cast<uint32_t>(size.height) : 0;
    const uint32_t cells = width * height;
    uint32_t filled = 0;
    Checked(ConsoleFillCharacter(output, ' ', cells, 0, 0, &filled), kUnit, __LINE__,
            "FillConsoleOutputCharacter");
    ConsoleBufferInfo colours = size;
    if (!Checked(ConsoleGetBufferInfo(output, &colours), kUnit, __LINE__, kQueryLabel)) {
        colours = size;
    }
    const ConsoleAttribute colour = colours.attribute;
    Checked(ConsoleFillAttribute(output, colour, cells, 0, 0, &filled), kUnit, __LINE__,
            "FillConsoleOutputAttribute");
    Checked(ConsoleSetCursor(output, 0, 0), kUnit, __LINE__, "SetConsoleCursorPosition");
}

void RunConsole(ConsoleHandle input, ConsoleHandle output) {
    if (input == nullptr || output == nullptr) {
        std::printf("NULL handle, process error\n");
        std::fflush(stdout);
    }
    bufferInfoSaved =
        Checked(ConsoleGetBufferInfo(output, &savedBufferInfo), kUnit, __LINE__, kQueryLabel);
    cls(output);
    Process(input, output);
}

void RestoreConsole(ConsoleHandle input, ConsoleHandle output) {
    // When the query before the loop failed there is nothing to put back.
    const ConsoleAttribute saved = savedBufferInfo.attribute;
    if (bufferInfoSaved) {
        Checked(ConsoleSetAttribute(output, saved), kUnit, __LINE__, "SetConsoleTextAttribute");
    }
    Checked(ConsoleDiscardInput(input), kUnit, __LINE__, "FlushConsoleInputBuffer");
}

int KwtMain(int argc, char* argv[]) {
    ConsoleHandle input = ConsoleInputHandle();
    ConsoleHandle output = ConsoleOutputHandle();

    std::printf("Zorvex DeBugger [KWT], Version %d.%d\n", kVersionMajor, kVersionMinor);
    std::printf("Replays an LR parser's debug trace against its state listing.\n\n");

    if (argc < 4) {
        std::printf("Need the name of the YACC include file. Exiting\n");
        std::printf("example: %s kwt.err yy.lrt yytab.h\n", argv[0] != nullptr ? argv[0] : "kwt");
        return kExitUsage;
    }

    ResetSteps();

    if (ReadInclude(argv[3]) == 0) {
        std::printf("Cannot read YACC include file. Exiting\n");
        return kExitNoTokens;
    }
    if (!OpenLRT(argv[2])) return kExitNoListing;
    if (nStates == 0) {
        std::fprintf(stderr,
                     "No states found in %s: is it a byacc, bison, lemon or kwt state listing?\n",
                     argv[2]);
    }
    if (!OpenTrace(argv[1])) {
        TextClose(pfileLRT);
        pfileLRT = nullptr;
        return kExitNoTrace;
    }

    RunConsole(input, output);

    TextClose(pfileLRT);
    pfileLRT = nullptr;
    TextClose(pfileTrace);
    pfileTrace = nullptr;

    RestoreConsole(input, output);
    return kExitOk;
}

#ifndef KWT_NO_MAIN
int main(int argc, char* argv[]) { return KwtMain(argc, argv); }
#endif

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

// What `kwt --help` prints.
constexpr char kUsage[] =
    "Usage: kwt TRACE LISTING HEADER [INPUT]\n"
    "       kwt -h | --help | --version\n"
    "\n"
    "Replays an LR parser's debug trace against its state listing, on a terminal.\n"
    "\n"
    "  TRACE         the parser's debug trace (a pipe is read from a copy in $TMPDIR)\n"
    "  LISTING       the parser generator's state listing\n"
    "  HEADER        the generator's token header\n"
    "  INPUT         the file the parser read: the i key shows where it is in it, from\n"
    "                the locations of a bison grammar with %locations\n"
    "  -h, --help    show this text\n"
    "  --version     show kwt's version\n"
    "\n"
    "The files from each generator, for a grammar calc.y built into ./calc whose\n"
    "parser writes its trace to standard error (./calc <input 2>trace):\n"
    "  byacc -t -v -d calc.y, run with YYDEBUG=1: kwt trace y.output y.tab.h\n"
    "  bison -t -v -d calc.y, yydebug = 1 set: kwt trace calc.output calc.tab.h\n"
    "  lemon calc.y, ParseTrace(stderr, \"parser: \") called: kwt trace calc.out calc.h\n"
    "\n"
    "Keys: keypad + and - (or + and -) the next and the previous step; PgUp and PgDn\n"
    "(9, 3) the state before and after, Home and End (7, 1) the first and the last;\n"
    "Enter the step's return state; Up and Down (8, 2) scroll; / find a text, n and\n"
    "N again forward and back; e the next syntax error; > and < the next and the\n"
    "last step that enters the state on screen; G the trace's last step; g go to a\n"
    "state; s the stack, t the trace, i the input around the step; F1 or ? help;\n"
    "Esc quits.\n";

// Options may stand anywhere among the files. The first one decides: -h and
// --help print the usage, --version the version, and any other argument
// that starts with '-' is an error of usage. Gives the status to end with,
// or -1 where no option was given.
int TakeOptions(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (argument[0] != '-') continue;
        if (std::strcmp(argument, "-h") == 0 || std::strcmp(argument, "--help") == 0) {
            std::fputs(kUsage, stdout);
            return kExitOk;
        }
        if (std::strcmp(argument, "--version") == 0) {
            std::printf("kwt %d.%d\n", kVersionMajor, kVersionMinor);
            return kExitOk;
        }
        std::fprintf(stderr, "kwt: unknown option %s (kwt --help shows the usage)\n", argument);
        return kExitUsage;
    }
    return -1;
}

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

bool RunConsole(ConsoleHandle input, ConsoleHandle output) {
    if (input == nullptr || output == nullptr) {
        std::printf("NULL handle, process error\n");
        std::fflush(stdout);
        // Every console call would fail there, each with a report of its own.
        std::fprintf(stderr, "kwt: standard %s is not a terminal: kwt needs one for its screen\n",
                     output == nullptr ? "output" : "input");
        return false;
    }
    bufferInfoSaved =
        Checked(ConsoleGetBufferInfo(output, &savedBufferInfo), kUnit, __LINE__, kQueryLabel);
    cls(output);
    Process(input, output);
    return true;
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
    const int optionStatus = TakeOptions(argc, argv);
    if (optionStatus >= 0) return optionStatus;
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
    if (argc > 4 && !OpenInput(argv[4])) {
        TextClose(pfileLRT);
        pfileLRT = nullptr;
        CloseTrace();
        return kExitNoInput;
    }

    const bool ran = RunConsole(input, output);

    TextClose(pfileLRT);
    pfileLRT = nullptr;
    TextClose(pfileTrace);
    pfileTrace = nullptr;
    CloseInput();

    if (!ran) return kExitUsage;
    RestoreConsole(input, output);
    return kExitOk;
}

#ifndef KWT_NO_MAIN
int main(int argc, char* argv[]) { return KwtMain(argc, argv); }
#endif

// A console that keeps nothing, for timing the program's own work in
// process: the screen is composed as always and then dropped. Key input is
// never asked for.
#include "bench.h"

namespace {
int placeholder = 0;
uint64_t beeps = 0;
}  // namespace

uint64_t bench::Beeps() { return beeps; }

ConsoleHandle ConsoleInputHandle() { return &placeholder; }
ConsoleHandle ConsoleOutputHandle() { return &placeholder; }

bool ConsoleGetBufferInfo(ConsoleHandle, ConsoleBufferInfo* info) {
    *info = ConsoleBufferInfo{kScreenColumns, kScreenRows, 0x07, kScreenColumns, kScreenRows};
    return true;
}
bool ConsoleSetCursor(ConsoleHandle, int, int) { return true; }
bool ConsoleWrite(ConsoleHandle, const char*, std::size_t) { return true; }
bool ConsoleFillCharacter(ConsoleHandle, char, uint32_t count, int, int, uint32_t* filled) {
    *filled = count;
    return true;
}
bool ConsoleFillAttribute(ConsoleHandle, ConsoleAttribute, uint32_t count, int, int,
                          uint32_t* filled) {
    *filled = count;
    return true;
}
bool ConsoleSetAttribute(ConsoleHandle, ConsoleAttribute) { return true; }
bool ConsoleShowsAttributes() { return true; }
bool (*ConsoleOneCellTest())(char32_t) { return nullptr; }
bool ConsoleReadEvent(ConsoleHandle, ConsoleEvent*) { return false; }
bool ConsolePollEvent(ConsoleHandle, ConsoleEvent*) { return false; }
bool ConsoleDiscardInput(ConsoleHandle) { return true; }
void ConsoleSleep(unsigned) {}
void ConsoleBeep(unsigned, unsigned) { ++beeps; }
int ConsoleLastError() { return 0; }
char* ConsoleErrorText(int) { return nullptr; }
void ConsoleFreeErrorText(char*) {}
void ConsoleWarningTone() {}
bool ConsoleAskYesNo(const char*, const char*) { return false; }

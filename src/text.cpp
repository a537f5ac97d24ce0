// Positioned console output. Text takes the console's current attribute.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "kwt.h"

namespace {
constexpr char kUnit[] = "text";
}

void Text(ConsoleHandle output, int row, int column, const char* text) {
    Checked(ConsoleSetCursor(output, column, row), kUnit, __LINE__, "SetConsoleCursorPosition");
    Checked(myPuts(output, text) != 0, kUnit, __LINE__, "myPuts");
}

int Textf(ConsoleHandle output, int row, int column, const char* format, ...) {
    char buffer[kTextfBufferSize];
    va_list arguments;
    va_start(arguments, format);
    const int wanted = std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    if (wanted < 0) buffer[0] = '\0';
    Text(output, row, column, buffer);
    // The length of what was written, never more than the buffer held.
    if (wanted < 0) return 0;
    return wanted < static_cast<int>(sizeof buffer) ? wanted : static_cast<int>(sizeof buffer) - 1;
}

int myPuts(ConsoleHandle output, const char* text) {
    const bool written =
        Checked(ConsoleWrite(output, text, std::strlen(text)), kUnit, __LINE__, "WriteConsole");
    return written ? 1 : 0;
}

void ShowTextRow(ConsoleHandle output, int row, const char* text) {
    Textf(output, row, 0, "%80s", "");
    Textf(output, row, 0, "%.80s", text);
}

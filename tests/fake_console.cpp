#include "fake_console.h"

#include <cerrno>
#include <cstring>

#include "platform/error_text.h"
#include "platform/layout.h"

using fake::state;

static bool Inside(int column, int row) {
    return column >= 0 && row >= 0 && column < state.screen.width && row < state.height;
}

// Paints `count` cells from (column, row) on, across rows, to the buffer's end.
template <typename Paint>
static bool Fill(uint32_t count, int column, int row, uint32_t* filled, Paint paint) {
    if (!Inside(column, row)) return errno = EINVAL, false;
    std::size_t at = std::size_t(row * state.screen.width + column);
    for (*filled = 0; *filled < count && at < state.screen.cells.size(); ++*filled)
        paint(state.screen.cells[at++]);
    return true;
}

ConsoleHandle ConsoleInputHandle() { return fake::Input(); }
ConsoleHandle ConsoleOutputHandle() { return fake::Output(); }
bool ConsoleGetBufferInfo(ConsoleHandle, ConsoleBufferInfo* info) {
    const int width = state.screen.width, height = state.height;
    return *info = ConsoleBufferInfo{width, height, state.attribute, width, height}, true;
}

bool ConsoleSetCursor(ConsoleHandle, int column, int row) {
    if (!Inside(column, row)) return errno = EINVAL, false;
    return state.row = row, state.column = column, true;
}

bool ConsoleWrite(ConsoleHandle, const char* text, std::size_t length) {
    const auto place = [](int column, unsigned char c) {
        state.screen.cells[std::size_t(state.row * state.screen.width + column)] = {
            c, state.attribute};
    };
    const int end = RowEnd(state.screen.width, state.column);
    state.column = LayOutRow(text, length, state.column, end, place);
    return true;
}

bool ConsoleFillCharacter(ConsoleHandle, char c, uint32_t count, int column, int row,
                          uint32_t* filled) {
    return Fill(count, column, row, filled,
                [c](fake::Cell& cell) { cell.character = (unsigned char)c; });
}
bool ConsoleFillAttribute(ConsoleHandle, ConsoleAttribute attribute, uint32_t count, int column,
                          int row, uint32_t* filled) {
    return Fill(count, column, row, filled,
                [attribute](fake::Cell& cell) { cell.attribute = attribute; });
}
bool ConsoleSetAttribute(ConsoleHandle, ConsoleAttribute attribute) {
    return state.attribute = attribute, true;
}
bool ConsoleShowsAttributes() { return state.attributesShow; }
bool (*ConsoleOneCellTest())(char32_t) { return nullptr; }

// A resize at the front of the input leaves a blank buffer of the new size.
static void Resize() {
    const fake::Record& record = state.input.front();
    const std::size_t cells = std::size_t(record.width * record.height);
    state.screen = fake::Screen{record.width, std::vector<fake::Cell>(cells)};
    state.height = record.height;
}
static bool TakeInput(ConsoleEvent* event) {
    if (state.input.empty()) return false;
    if (state.input.front().event.resized) Resize();
    return *event = state.input.front().event, state.input.pop_front(), true;
}

// While the program is busy it sees only what was typed meanwhile.
bool ConsolePollEvent(ConsoleHandle, ConsoleEvent* event) {
    return !state.input.empty() && state.input.front().typedDuringPause && TakeInput(event);
}

bool ConsoleReadEvent(ConsoleHandle, ConsoleEvent* event) {
    state.waits.push_back(state.screen);
    return TakeInput(event) || (errno = EIO, false);
}

bool ConsoleDiscardInput(ConsoleHandle) {
    if (state.failingDiscards > 0) return --state.failingDiscards, errno = EBADF, false;
    while (!state.input.empty() && state.input.front().typedDuringPause) state.input.pop_front();
    return true;
}

void ConsoleSleep(unsigned) {}
// The bell takes in a resize that came meanwhile, as a terminal's refresh does; it is read after.
void ConsoleBeep(unsigned, unsigned) {
    if (++state.beeps, !state.input.empty() && state.input.front().event.resized) Resize();
}
int ConsoleLastError() { return errno; }
char* ConsoleErrorText(int code) {
    return state.systemText ? CopyToNewText(WrapText(std::strerror(code))) : nullptr;
}
void ConsoleFreeErrorText(char* text) { delete[] text; }
void ConsoleWarningTone() {}

bool ConsoleAskYesNo(const char* text, const char*) {
    state.questions.push_back(text);
    const bool yes = !state.answers.empty() && state.answers.front();
    if (!state.answers.empty()) state.answers.pop_front();
    return yes;
}

#include "fake_console.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <deque>

#include "platform/error_text.h"
#include "platform/layout.h"

namespace fake {
namespace {

struct Record { ConsoleEvent event; bool typedDuringPause; };

struct State {
    Screen screen;
    int height = 25, row = 0, column = 0, beeps = 0, failingDiscards = 0;
    ConsoleAttribute attribute = 0x07;
    bool systemText = true;
    std::deque<Record> input;
    std::deque<bool> answers;
    std::vector<std::string> questions;
    std::vector<Screen> waits;
} state;

int inputObject, outputObject;  // only their addresses matter

bool Inside(int column, int row) { return column >= 0 && row >= 0 && column < state.screen.width && row < state.height; }

// Paints `count` cells from (column, row) on, across rows, to the buffer's end.
template <typename Paint>
bool Fill(uint32_t count, int column, int row, uint32_t* filled, Paint paint) {
    if (!Inside(column, row)) return errno = EINVAL, false;
    std::size_t at = std::size_t(row * state.screen.width + column);
    for (*filled = 0; *filled < count && at < state.screen.cells.size(); ++*filled) paint(state.screen.cells[at++]);
    return true;
}

}  // namespace

void Reset(int width, int height, ConsoleAttribute attribute) {
    state = State{};
    state.screen = Screen{width, std::vector<Cell>(std::size_t(width * height), Cell{' ', attribute})};
    state.height = height, state.attribute = attribute;
}

ConsoleHandle Input() { return &inputObject; }
ConsoleHandle Output() { return &outputObject; }
const Screen& Now() { return state.screen; }
const std::vector<Screen>& Waits() { return state.waits; }
ConsoleAttribute CurrentAttribute() { return state.attribute; }
int Beeps() { return state.beeps; }
void PushKey(uint16_t key, bool down, bool typedDuringPause) { state.input.push_back({{true, down, key}, typedDuringPause}); }
void PushNonKey() { state.input.push_back({{}, false}); }

void PushText(const std::string& text) {
    namespace vk = VirtualKey;
    static const std::string typed = "\r\x1b\b\x7f +-?123789<>[]^_";
    static const uint16_t keys[] = {vk::kEnter, vk::kEscape, vk::kBack, vk::kBack, vk::kSpace, vk::kAdd, vk::kSubtract,
        vk::kF1, vk::kNumpad1, vk::kNumpad2, vk::kNumpad3, vk::kNumpad7, vk::kNumpad8, vk::kNumpad9, vk::kPageUp,
        vk::kPageDown, vk::kHome, vk::kEnd, vk::kUp, vk::kDown};
    for (const char c : text) {
        const auto letter = static_cast<unsigned char>(c);
        uint16_t key = std::isalnum(letter) ? uint16_t(std::toupper(letter)) : vk::kOther;
        if (typed.find(c) != std::string::npos) key = keys[typed.find(c)];
        state.input.push_back({{true, true, key, c >= 0x20 && c <= 0x7E ? c : '\0'}, false});
    }
}
void AnswerNext(bool yes) { state.answers.push_back(yes); }
const std::vector<std::string>& Questions() { return state.questions; }
void WithoutSystemText() { state.systemText = false; }
void FailDiscards(int count) { state.failingDiscards = count; }

}  // namespace fake

using fake::state;

ConsoleHandle ConsoleInputHandle() { return fake::Input(); }
ConsoleHandle ConsoleOutputHandle() { return fake::Output(); }
bool ConsoleGetBufferInfo(ConsoleHandle, ConsoleBufferInfo* info) {
    return *info = ConsoleBufferInfo{state.screen.width, state.height, state.attribute}, true;
}

bool ConsoleSetCursor(ConsoleHandle, int column, int row) {
    if (!fake::Inside(column, row)) return errno = EINVAL, false;
    return state.row = row, state.column = column, true;
}

bool ConsoleWrite(ConsoleHandle, const char* text, std::size_t length) {
    const auto place = [](int column, unsigned char c) {
        state.screen.cells[std::size_t(state.row * state.screen.width + column)] = {c, state.attribute};
    };
    state.column = LayOutRow(text, length, state.column, state.screen.width, place);
    return true;
}

bool ConsoleFillCharacter(ConsoleHandle, char c, uint32_t count, int column, int row, uint32_t* filled) {
    return fake::Fill(count, column, row, filled, [c](fake::Cell& cell) { cell.character = (unsigned char)c; });
}
bool ConsoleFillAttribute(ConsoleHandle, ConsoleAttribute attribute, uint32_t count, int column, int row,
                          uint32_t* filled) {
    return fake::Fill(count, column, row, filled, [attribute](fake::Cell& cell) { cell.attribute = attribute; });
}
bool ConsoleSetAttribute(ConsoleHandle, ConsoleAttribute attribute) { return state.attribute = attribute, true; }

static bool TakeInput(ConsoleEvent* event) {
    if (state.input.empty()) return false;
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
void ConsoleBeep(unsigned, unsigned) { ++state.beeps; }
int ConsoleLastError() { return errno; }
char* ConsoleErrorText(int code) { return state.systemText ? CopyToNewText(WrapText(std::strerror(code))) : nullptr; }
void ConsoleFreeErrorText(char* text) { delete[] text; }
void ConsoleWarningTone() {}

bool ConsoleAskYesNo(const char* text, const char*) {
    state.questions.push_back(text);
    const bool yes = !state.answers.empty() && state.answers.front();
    if (!state.answers.empty()) state.answers.pop_front();
    return yes;
}

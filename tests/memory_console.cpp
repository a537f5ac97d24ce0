#include "memory_console.h"

#include <cerrno>
#include <cstring>
#include <deque>

#include "platform/error_text.h"
#include "platform/layout.h"

namespace memory_console {
namespace {

struct ScriptedEvent {
    ConsoleEvent event;
    bool arrivesDuringPause;
};

struct Failure {
    int remaining = 0;
    int code = 0;
};

// The single handle objects the fake hands out; only their addresses matter.
int inputObject;
int outputObject;

struct State {
    int width = 80;
    int height = 25;
    std::vector<Cell> cells;
    int cursorRow = 0;
    int cursorColumn = 0;
    ConsoleAttribute attribute = 0x07;
    bool nullHandles = false;
    int lastError = 0;
    std::deque<ScriptedEvent> input;
    Failure failures[static_cast<int>(Operation::kCount)];
    std::deque<bool> answers;
    std::vector<Question> questions;
    std::vector<Beep> beeps;
    std::vector<unsigned> sleeps;
    int discards = 0;
    int warningTones = 0;
    std::vector<std::string> events;
    std::vector<std::vector<std::string>> screens;
};

State state;

bool Fails(Operation operation) {
    Failure& failure = state.failures[static_cast<int>(operation)];
    if (failure.remaining == 0) return false;
    --failure.remaining;
    state.lastError = failure.code;
    return true;
}

bool Refuse(int code) {
    state.lastError = code;
    return false;
}

bool IsOutput(ConsoleHandle handle) { return handle != nullptr && handle == Output(); }
bool IsInput(ConsoleHandle handle) { return handle != nullptr && handle == Input(); }

bool Inside(int column, int row) {
    return column >= 0 && row >= 0 && column < state.width && row < state.height;
}

Cell& CellAt(int row, int column) {
    return state.cells[static_cast<std::size_t>(row) * static_cast<std::size_t>(state.width) +
                       static_cast<std::size_t>(column)];
}

// Runs `paint` over `count` cells from (column, row) on, across rows, up to
// the end of the buffer; gives the number of cells painted.
template <typename Paint>
bool FillRun(Operation operation, ConsoleHandle output, uint32_t count, int column, int row,
             uint32_t* filled, Paint paint) {
    if (filled != nullptr) *filled = 0;
    if (Fails(operation)) return false;
    if (!IsOutput(output)) return Refuse(EBADF);
    if (!Inside(column, row)) return Refuse(EINVAL);
    std::size_t index = static_cast<std::size_t>(row) * static_cast<std::size_t>(state.width) +
                        static_cast<std::size_t>(column);
    uint32_t done = 0;
    for (; done < count && index < state.cells.size(); ++done, ++index) paint(state.cells[index]);
    if (filled != nullptr) *filled = done;
    return true;
}

}  // namespace

void Reset(int width, int height, ConsoleAttribute attribute) {
    state = State{};
    state.width = width;
    state.height = height;
    state.attribute = attribute;
    state.cells.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
                       Cell{' ', attribute});
}

ConsoleHandle Input() { return state.nullHandles ? nullptr : &inputObject; }
ConsoleHandle Output() { return state.nullHandles ? nullptr : &outputObject; }
void UseNullHandles() { state.nullHandles = true; }

Cell At(int row, int column) { return CellAt(row, column); }

std::string Row(int row) {
    std::string text;
    for (int column = 0; column < state.width; ++column) {
        text += static_cast<char>(CellAt(row, column).character);
    }
    return text;
}

int CursorRow() { return state.cursorRow; }
int CursorColumn() { return state.cursorColumn; }
ConsoleAttribute CurrentAttribute() { return state.attribute; }

void PushKey(uint16_t virtualKey, bool keyDown) {
    state.input.push_back({ConsoleEvent{true, keyDown, virtualKey}, false});
}

void PushKeyPress(uint16_t virtualKey) {
    state.input.push_back({ConsoleEvent{true, true, virtualKey}, false});
    state.input.push_back({ConsoleEvent{true, false, virtualKey}, true});
}

void PushTypedDuringPause(uint16_t virtualKey) {
    state.input.push_back({ConsoleEvent{true, true, virtualKey}, true});
}

void PushCharacter(char character) {
    uint16_t virtualKey = VirtualKey::kOther;
    if ((character >= '0' && character <= '9') || (character >= 'A' && character <= 'Z')) {
        virtualKey = static_cast<uint16_t>(character);
    } else if (character >= 'a' && character <= 'z') {
        virtualKey = static_cast<uint16_t>(character - 'a' + 'A');
    }
    state.input.push_back({ConsoleEvent{true, true, virtualKey, character}, false});
}

void PushText(const std::string& text) {
    for (char character : text) PushCharacter(character);
}

void PushNonKey() { state.input.push_back({ConsoleEvent{false, false, 0}, false}); }

std::size_t PendingEvents() { return state.input.size(); }

void FailNext(Operation operation, int count, int code) {
    state.failures[static_cast<int>(operation)] = Failure{count, code};
}

void AnswerNext(bool yes) { state.answers.push_back(yes); }

const std::vector<Question>& Questions() { return state.questions; }
const std::vector<Beep>& Beeps() { return state.beeps; }
const std::vector<unsigned>& Sleeps() { return state.sleeps; }
int Discards() { return state.discards; }
int WarningTones() { return state.warningTones; }
const std::vector<std::string>& Events() { return state.events; }
const std::vector<std::vector<std::string>>& ScreensAtReads() { return state.screens; }

}  // namespace memory_console

using namespace memory_console;

ConsoleHandle ConsoleInputHandle() { return Input(); }
ConsoleHandle ConsoleOutputHandle() { return Output(); }

bool ConsoleGetBufferInfo(ConsoleHandle output, ConsoleBufferInfo* info) {
    if (Fails(Operation::kGetBufferInfo)) return false;
    if (!IsOutput(output)) return Refuse(EBADF);
    *info = ConsoleBufferInfo{state.width, state.height, state.attribute};
    return true;
}

bool ConsoleSetCursor(ConsoleHandle output, int column, int row) {
    if (Fails(Operation::kSetCursor)) return false;
    if (!IsOutput(output)) return Refuse(EBADF);
    if (!Inside(column, row)) return Refuse(EINVAL);
    state.cursorColumn = column;
    state.cursorRow = row;
    return true;
}

bool ConsoleWrite(ConsoleHandle output, const char* text, std::size_t length) {
    if (Fails(Operation::kWrite)) return false;
    if (!IsOutput(output)) return Refuse(EBADF);
    const int row = state.cursorRow;
    state.cursorColumn =
        LayOutRow(text, length, state.cursorColumn, RowEnd(state.width), [row](int column, unsigned char c) {
            CellAt(row, column) = Cell{c, state.attribute};
        });
    return true;
}

bool ConsoleFillCharacter(ConsoleHandle output, char character, uint32_t count, int column,
                          int row, uint32_t* filled) {
    return FillRun(Operation::kFillCharacter, output, count, column, row, filled,
                   [character](Cell& cell) { cell.character = static_cast<unsigned char>(character); });
}

bool ConsoleFillAttribute(ConsoleHandle output, ConsoleAttribute attribute, uint32_t count,
                          int column, int row, uint32_t* filled) {
    return FillRun(Operation::kFillAttribute, output, count, column, row, filled,
                   [attribute](Cell& cell) { cell.attribute = attribute; });
}

bool ConsoleSetAttribute(ConsoleHandle output, ConsoleAttribute attribute) {
    if (Fails(Operation::kSetAttribute)) return false;
    if (!IsOutput(output)) return Refuse(EBADF);
    state.attribute = attribute;
    return true;
}

bool ConsoleReadEvent(ConsoleHandle input, ConsoleEvent* event) {
    state.events.push_back("read");
    state.screens.emplace_back();
    for (int row = 0; row < state.height; ++row) state.screens.back().push_back(Row(row));
    if (Fails(Operation::kReadEvent)) return false;
    if (!IsInput(input)) return Refuse(EBADF);
    if (state.input.empty()) return Refuse(EIO);
    *event = state.input.front().event;
    state.input.pop_front();
    return true;
}

bool ConsolePollEvent(ConsoleHandle input, ConsoleEvent* event) {
    state.events.push_back("poll");
    if (!IsInput(input) || state.input.empty()) return false;
    *event = state.input.front().event;
    state.input.pop_front();
    return true;
}

bool ConsoleDiscardInput(ConsoleHandle input) {
    state.events.push_back("discard");
    if (Fails(Operation::kDiscardInput)) return false;
    if (!IsInput(input)) return Refuse(EBADF);
    ++state.discards;
    while (!state.input.empty() && state.input.front().arrivesDuringPause) state.input.pop_front();
    return true;
}

void ConsoleSleep(unsigned milliseconds) {
    state.sleeps.push_back(milliseconds);
    state.events.push_back("sleep " + std::to_string(milliseconds));
}

void ConsoleBeep(unsigned frequency, unsigned milliseconds) {
    state.beeps.push_back(Beep{frequency, milliseconds});
    state.events.push_back("beep");
}

int ConsoleLastError() { return state.lastError; }

char* ConsoleErrorText(int code) {
    if (Fails(Operation::kErrorText)) return nullptr;
    return CopyToNewText(WrapText(std::strerror(code)));
}

void ConsoleFreeErrorText(char* text) { delete[] text; }

void ConsoleWarningTone() { ++state.warningTones; }

bool ConsoleAskYesNo(const char* text, const char* caption) {
    state.events.push_back("question");
    state.questions.push_back(Question{caption, text});
    if (state.answers.empty()) return false;
    const bool yes = state.answers.front();
    state.answers.pop_front();
    return yes;
}

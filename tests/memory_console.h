// An in-memory console for tests: a buffer of cells with the Windows
// console's rules, scripted input events, injectable failures and a record
// of everything the program asked of the console.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/console.h"

namespace memory_console {

enum class Operation {
    kGetBufferInfo,
    kSetCursor,
    kWrite,
    kFillCharacter,
    kFillAttribute,
    kSetAttribute,
    kReadEvent,
    kDiscardInput,
    kErrorText,
    kCount
};

struct Cell {
    unsigned char character = ' ';
    ConsoleAttribute attribute = 0x07;
};

struct Question {
    std::string caption;
    std::string text;
};

struct Beep {
    unsigned frequency;
    unsigned milliseconds;
};

// Starts afresh: a blank buffer of `width` x `height` cells in `attribute`,
// the cursor at (0, 0), no input, no failures, nothing recorded, and
// non-null handles.
void Reset(int width = 80, int height = 25, ConsoleAttribute attribute = 0x07);

ConsoleHandle Input();
ConsoleHandle Output();
// Makes ConsoleInputHandle / ConsoleOutputHandle give null.
void UseNullHandles();

Cell At(int row, int column);
// The characters of a row, trailing blanks kept.
std::string Row(int row);
int CursorRow();
int CursorColumn();
ConsoleAttribute CurrentAttribute();

// Scripted input. Records are read in order. A record pushed as arriving
// during a pause is thrown away by the next discard of pending input (if
// nothing read it first); the others wait for the program to read them.
void PushKey(uint16_t virtualKey, bool keyDown = true);
// A key pressed and released within the pause after it: the key-down, then
// a key-up that the pause's discard throws away.
void PushKeyPress(uint16_t virtualKey);
// A key typed while the program pauses: thrown away by the next discard.
void PushTypedDuringPause(uint16_t virtualKey);
// A key-down that types `character`, with the virtual-key code a Windows
// console gives it (letters and digits their own, others kOther).
void PushCharacter(char character);
void PushText(const std::string& text);
void PushNonKey();
std::size_t PendingEvents();

// The next `count` calls of `operation` fail with error code `code`.
void FailNext(Operation operation, int count, int code);
// Queues the answer to the next question; unanswered questions get No.
void AnswerNext(bool yes);

const std::vector<Question>& Questions();
const std::vector<Beep>& Beeps();
const std::vector<unsigned>& Sleeps();
int Discards();
int WarningTones();
// The rows of the buffer as they stood at each read of an event.
const std::vector<std::vector<std::string>>& ScreensAtReads();
// Everything that happens in time order: "read", "sleep 300", "discard",
// "beep", "question", "poll", one entry each.
const std::vector<std::string>& Events();

}  // namespace memory_console

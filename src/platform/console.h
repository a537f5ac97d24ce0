// The console operations the program needs, one function each.
//
// Three implementations are chosen at link time: a terminal one (curses),
// a Windows console one, and an in-memory one for tests. Every operation
// that can fail returns true on success and otherwise leaves an error code
// that ConsoleLastError gives back, as the Windows console does.
#pragma once

#include <cstddef>
#include <cstdint>

// A console input or output handle; null where there is no console for it.
using ConsoleHandle = void*;

// Attribute bytes: low nibble foreground, high nibble background;
// bit 0 blue, bit 1 green, bit 2 red, bit 3 bright.
using ConsoleAttribute = uint16_t;

// A Windows console's buffer may be larger than the window that shows it;
// on a terminal the two are the same.
struct ConsoleBufferInfo {
    int width = 0;                   // columns of the screen buffer
    int height = 0;                  // rows of the screen buffer
    ConsoleAttribute attribute = 0;  // the attribute text is written in
    int windowWidth = 0;             // columns of the window, from column 0
    int windowHeight = 0;            // rows of the window, from row 0
};

struct ConsoleEvent {
    bool isKey = false;       // false for resizes, mouse and other events
    bool keyDown = false;     // for a key: pressed (true) or released
    uint16_t virtualKey = 0;  // for a key: its virtual-key code
    char character = 0;       // for a key: the printable ASCII character it types, else 0
    bool resized = false;     // the window changed its size: no key
};

// Virtual-key codes the key loop acts on.
namespace VirtualKey {
constexpr uint16_t kBack = 8;
constexpr uint16_t kEnter = 13;
// Modifier keys, which a Windows console reports as keys of their own.
constexpr uint16_t kShift = 16;
constexpr uint16_t kControl = 17;
constexpr uint16_t kAlt = 18;
constexpr uint16_t kEscape = 27;
constexpr uint16_t kSpace = 32;
constexpr uint16_t kPageUp = 33;
constexpr uint16_t kPageDown = 34;
constexpr uint16_t kEnd = 35;
constexpr uint16_t kHome = 36;
constexpr uint16_t kUp = 38;
constexpr uint16_t kDown = 40;
constexpr uint16_t kNumpad1 = 97;
constexpr uint16_t kNumpad2 = 98;
constexpr uint16_t kNumpad3 = 99;
constexpr uint16_t kNumpad7 = 103;
constexpr uint16_t kNumpad8 = 104;
constexpr uint16_t kNumpad9 = 105;
constexpr uint16_t kAdd = 107;
constexpr uint16_t kSubtract = 109;
constexpr uint16_t kF1 = 112;
// A key that has no code of its own on this console.
constexpr uint16_t kOther = 0xFF;
}  // namespace VirtualKey

ConsoleHandle ConsoleInputHandle();
ConsoleHandle ConsoleOutputHandle();

bool ConsoleGetBufferInfo(ConsoleHandle output, ConsoleBufferInfo* info);
bool ConsoleSetCursor(ConsoleHandle output, int column, int row);
// Writes `length` bytes at the cursor in the current attribute and moves
// the cursor past them. Bytes from files never act as terminal controls:
// a tab moves to the next multiple of 8 columns, any other byte takes one
// cell (on a UTF-8 terminal, a sequence of a printable character takes one
// cell). A write that starts left of column 80 ends there at the latest,
// one that starts further right at the end of the row (see RowEnd).
bool ConsoleWrite(ConsoleHandle output, const char* text, std::size_t length);
// Fill `count` cells from (column, row) onwards, running on across rows and
// stopping at the end of the buffer; `filled` gets the number of cells.
bool ConsoleFillCharacter(ConsoleHandle output, char character, uint32_t count, int column, int row,
                          uint32_t* filled);
bool ConsoleFillAttribute(ConsoleHandle output, ConsoleAttribute attribute, uint32_t count,
                          int column, int row, uint32_t* filled);
bool ConsoleSetAttribute(ConsoleHandle output, ConsoleAttribute attribute);
// Whether text in another attribute looks different on this console (in
// colour or in reverse video): where not, a row is marked otherwise.
bool ConsoleShowsAttributes();
// Which UTF-8 characters this console shows in one cell each (see
// LayOutRow); null where every byte takes a cell of its own.
bool (*ConsoleOneCellTest())(char32_t character);

// Waits for and reads one input event.
bool ConsoleReadEvent(ConsoleHandle input, ConsoleEvent* event);
// Reads one input event if one is waiting, without waiting; false when
// none is (or the input cannot be read).
bool ConsolePollEvent(ConsoleHandle input, ConsoleEvent* event);
// Throws away all input that is waiting; a resize among it is still
// reported by the next read.
bool ConsoleDiscardInput(ConsoleHandle input);

void ConsoleSleep(unsigned milliseconds);
void ConsoleBeep(unsigned frequency, unsigned milliseconds);

// The error code the last failed operation left.
int ConsoleLastError();

// The system's text for `code`, broken into lines of at most 40
// characters, in storage that ConsoleFreeErrorText releases; null when the
// system has no text for it (ConsoleLastError then says why).
char* ConsoleErrorText(int code);
void ConsoleFreeErrorText(char* text);

void ConsoleWarningTone();

// Shows `text` under `caption` and waits for a yes or no. Where the
// question cannot be asked at all, the answer is no.
bool ConsoleAskYesNo(const char* text, const char* caption);

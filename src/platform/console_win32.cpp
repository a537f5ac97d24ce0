// The console operations on the Win32 console API, one call each.
//
// Text written at the cursor is laid out by LayOutRow first, so the bytes
// the console receives never act on it: tabs are expanded here, C0 control
// bytes and DEL become a placeholder cell, and nothing runs past the row.
// Bytes of 0x80 and above go to the console as they are, one cell each, and
// show as glyphs of its output code page: the console acts on none of them,
// and a UTF-8 sequence is not decoded into one character.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/console.h"
#include "platform/layout.h"

namespace {

constexpr int kDefaultWidth = 80;
// Shown in place of a byte the console would act on.
constexpr char kPlaceholder = '?';
// Allocated text from the system's table, in lines of at most 40
// characters. Inserts such as %1 are left as they stand: without them a
// message that has inserts would read arguments that were never passed.
constexpr DWORD kErrorTextFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                  FORMAT_MESSAGE_IGNORE_INSERTS | 40;
static_assert(kErrorTextFlags == 0x1328, "allocate, from system, no inserts, lines of 40");
constexpr DWORD kErrorTextLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
constexpr DWORD kErrorTextMinimumSize = 512;
constexpr UINT kQuestionStyle = MB_YESNO | MB_ICONEXCLAMATION | MB_SETFOREGROUND;

// Where the next write lands in its row, and where rows end: at the
// window's right edge, so that nothing is written where the window does not
// show it. The console is asked only when the program asks it; in between
// these follow the cursor moves and the cells written.
int cursorColumn = 0;
int rowWidth = kDefaultWidth;

HANDLE AsHandle(ConsoleHandle handle) { return static_cast<HANDLE>(handle); }

// A resize seen among the input that a discard threw away, still to be
// reported.
bool resizeUnreported = false;

// The console reports changes of its size only in window input mode: it is
// set before the first read and the mode found is put back at exit.
HANDLE modeInput = nullptr;
DWORD modeFound = 0;

void PutModeBack() { SetConsoleMode(modeInput, modeFound); }

void AskForResizes(HANDLE input) {
    if (modeInput != nullptr || !GetConsoleMode(input, &modeFound)) return;
    modeInput = input;
    if (SetConsoleMode(input, modeFound | ENABLE_WINDOW_INPUT)) std::atexit(PutModeBack);
}

bool TakeUnreportedResize(ConsoleEvent* event) {
    if (!resizeUnreported) return false;
    resizeUnreported = false;
    *event = ConsoleEvent{};
    event->resized = true;
    return true;
}

// A buffer position as the console takes it; false when it cannot be one.
bool ToCoord(int column, int row, COORD* position) {
    if (column < SHRT_MIN || column > SHRT_MAX || row < SHRT_MIN || row > SHRT_MAX) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    position->X = static_cast<SHORT>(column);
    position->Y = static_cast<SHORT>(row);
    return true;
}

void StoreFilled(uint32_t* filled, DWORD count) {
    if (filled != nullptr) *filled = static_cast<uint32_t>(count);
}

ConsoleEvent ToEvent(const INPUT_RECORD& record) {
    ConsoleEvent event;
    event.resized = record.EventType == WINDOW_BUFFER_SIZE_EVENT;
    if (record.EventType != KEY_EVENT) return event;
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    event.isKey = true;
    event.keyDown = key.bKeyDown != 0;
    event.virtualKey = key.wVirtualKeyCode;
    // The character the key types on the current layout; prompts take
    // printable ASCII only.
    const char typed = key.uChar.AsciiChar;
    event.character = typed >= 0x20 && typed <= 0x7E ? typed : '\0';
    return event;
}

}  // namespace

// A standard handle that is no console (a file or a pipe) gives null:
// GetConsoleMode succeeds on console handles only.
ConsoleHandle ConsoleInputHandle() {
    const HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) ? handle : nullptr;
}

ConsoleHandle ConsoleOutputHandle() {
    const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) ? handle : nullptr;
}

// The window may show a part of a larger buffer: the screen is laid out in
// the window's size, from the buffer's top-left cell, which is where the
// window stands once the cursor has been there (cls puts it there).
bool ConsoleGetBufferInfo(ConsoleHandle output, ConsoleBufferInfo* info) {
    CONSOLE_SCREEN_BUFFER_INFO buffer{};
    if (!GetConsoleScreenBufferInfo(AsHandle(output), &buffer)) return false;
    info->width = buffer.dwSize.X;
    info->height = buffer.dwSize.Y;
    info->windowWidth = buffer.srWindow.Right - buffer.srWindow.Left + 1;
    info->windowHeight = buffer.srWindow.Bottom - buffer.srWindow.Top + 1;
    info->attribute = buffer.wAttributes;
    const int shown =
        buffer.srWindow.Right + 1 < buffer.dwSize.X ? buffer.srWindow.Right + 1 : buffer.dwSize.X;
    rowWidth = shown > 0 ? shown : kDefaultWidth;
    cursorColumn = buffer.dwCursorPosition.X;
    return true;
}

bool ConsoleSetCursor(ConsoleHandle output, int column, int row) {
    COORD position{};
    if (!ToCoord(column, row, &position)) return false;
    if (!SetConsoleCursorPosition(AsHandle(output), position)) return false;
    cursorColumn = column;
    return true;
}

bool ConsoleWrite(ConsoleHandle output, const char* text, std::size_t length) {
    std::string cells;
    const int start = cursorColumn;
    LayOutRow(text, length, start, RowEnd(rowWidth, start), [&cells](int, unsigned char byte) {
        // Bytes of 0x80 and above are glyphs of the code page.
        const bool acts = byte < 0x80 && IsControlByte(byte);
        cells += acts ? kPlaceholder : static_cast<char>(byte);
    });
    DWORD written = 0;
    if (!WriteConsoleA(AsHandle(output), cells.data(), static_cast<DWORD>(cells.size()), &written,
                       nullptr)) {
        return false;
    }
    cursorColumn = start + static_cast<int>(written);
    return true;
}

bool ConsoleFillCharacter(ConsoleHandle output, char character, uint32_t count, int column, int row,
                          uint32_t* filled) {
    COORD position{};
    if (!ToCoord(column, row, &position)) return false;
    DWORD done = 0;
    const bool ok =
        FillConsoleOutputCharacterA(AsHandle(output), character, count, position, &done) != 0;
    StoreFilled(filled, done);
    return ok;
}

bool ConsoleFillAttribute(ConsoleHandle output, ConsoleAttribute attribute, uint32_t count,
                          int column, int row, uint32_t* filled) {
    COORD position{};
    if (!ToCoord(column, row, &position)) return false;
    DWORD done = 0;
    const bool ok =
        FillConsoleOutputAttribute(AsHandle(output), attribute, count, position, &done) != 0;
    StoreFilled(filled, done);
    return ok;
}

bool ConsoleSetAttribute(ConsoleHandle output, ConsoleAttribute attribute) {
    return SetConsoleTextAttribute(AsHandle(output), attribute) != 0;
}

bool ConsoleShowsAttributes() { return true; }

// The console shows each byte in a cell of its own: its code page's glyph.
bool (*ConsoleOneCellTest())(char32_t) { return nullptr; }

bool ConsoleReadEvent(ConsoleHandle input, ConsoleEvent* event) {
    AskForResizes(AsHandle(input));
    if (TakeUnreportedResize(event)) return true;
    INPUT_RECORD record{};
    DWORD read = 0;
    if (!ReadConsoleInputA(AsHandle(input), &record, 1, &read)) return false;
    *event = read == 1 ? ToEvent(record) : ConsoleEvent{};
    return true;
}

bool ConsolePollEvent(ConsoleHandle input, ConsoleEvent* event) {
    AskForResizes(AsHandle(input));
    if (TakeUnreportedResize(event)) return true;
    DWORD waiting = 0;
    if (!GetNumberOfConsoleInputEvents(AsHandle(input), &waiting) || waiting == 0) return false;
    INPUT_RECORD record{};
    DWORD read = 0;
    if (!ReadConsoleInputA(AsHandle(input), &record, 1, &read) || read != 1) return false;
    *event = ToEvent(record);
    return true;
}

// A resize among the first records waiting survives the discard; more
// keys than these are not typed in the pause after a key.
bool ConsoleDiscardInput(ConsoleHandle input) {
    std::array<INPUT_RECORD, 128> waiting{};
    DWORD count = 0;
    if (PeekConsoleInputA(AsHandle(input), waiting.data(), waiting.size(), &count)) {
        for (DWORD i = 0; i < count; ++i) {
            if (waiting[i].EventType == WINDOW_BUFFER_SIZE_EVENT) resizeUnreported = true;
        }
    }
    return FlushConsoleInputBuffer(AsHandle(input)) != 0;
}

void ConsoleSleep(unsigned milliseconds) { Sleep(milliseconds); }

void ConsoleBeep(unsigned frequency, unsigned milliseconds) { Beep(frequency, milliseconds); }

int ConsoleLastError() { return static_cast<int>(GetLastError()); }

char* ConsoleErrorText(int code) {
    char* text = nullptr;
    const DWORD length =
        FormatMessageA(kErrorTextFlags, nullptr, static_cast<DWORD>(code), kErrorTextLanguage,
                       reinterpret_cast<LPSTR>(&text), kErrorTextMinimumSize, nullptr);
    return length != 0 ? text : nullptr;
}

void ConsoleFreeErrorText(char* text) { LocalFree(text); }

void ConsoleWarningTone() { MessageBeep(MB_ICONEXCLAMATION); }

bool ConsoleAskYesNo(const char* text, const char* caption) {
    const int answer = MessageBoxA(nullptr, text, caption, kQuestionStyle);
    // Where no box can be shown MessageBoxA gives 0 (Wine without a display
    // gives -1): that is a no too, and the report still says on standard
    // error what went wrong.
    if (answer != IDYES && answer != IDNO) {
        std::fprintf(stderr, "\n%s\n%s\nNo window to answer in: stopping.\n", caption, text);
        std::fflush(stderr);
    }
    return answer == IDYES;
}

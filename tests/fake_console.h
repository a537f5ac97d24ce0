// An in-memory console for tests: cells laid out as the real consoles lay them out, scripted input
// records, yes/no answers, and a copy of the screen taken whenever the program waits for input.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/console.h"

namespace fake {

struct Cell { unsigned char character = ' '; ConsoleAttribute attribute = 0x07; };

struct Screen {
    int width = 80;
    std::vector<Cell> cells;
    Cell At(int row, int column) const { return cells[std::size_t(row * width + column)]; }
    std::string Row(int row) const {  // the characters of a row, trailing blanks kept
        std::string text;
        for (int column = 0; column < width; ++column) text += char(At(row, column).character);
        return text;
    }
};

// A blank buffer of `width` x `height` cells in `attribute`, the cursor at
// (0, 0), no input, no answers, nothing recorded.
void Reset(int width = 80, int height = 25, ConsoleAttribute attribute = 0x07);
ConsoleHandle Input();
ConsoleHandle Output();
const Screen& Now();
const std::vector<Screen>& Waits();  // the screen at each read of an input record, oldest first
ConsoleAttribute CurrentAttribute();
int Beeps();

// Input records, read in order. One typed during a pause after a key is
// thrown away by the discard that ends the pause, unless read first.
void PushKey(uint16_t virtualKey, bool keyDown = true, bool typedDuringPause = false);
void PushNonKey();
// Key presses for typed text, decoded as the terminal console decodes them: \r Enter, \x1b Esc, \b Backspace, + - ?
// and 1 2 3 7 8 9 their keypad and F1 keys, letters and other digits their own keys; printable characters also carry
// the character they type. For tests only: < > PgUp and PgDn, [ ] Home and End, ^ _ Up and Down.
void PushText(const std::string& text);

void AnswerNext(bool yes);  // the answer to the next question; unanswered ones get no
const std::vector<std::string>& Questions();
void WithoutSystemText();      // the system has no text for error codes
void FailDiscards(int count);  // the next `count` input discards fail with EBADF

}  // namespace fake

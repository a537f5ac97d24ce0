// An in-memory console for tests: cells laid out as the real consoles lay them out, scripted input
// records, yes/no answers, and a copy of the screen taken whenever the program waits for input.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "platform/console.h"

namespace fake {

struct Cell {
    unsigned char character = ' ';
    ConsoleAttribute attribute = 0x07;
};

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

// Input records are read in order. One typed during a pause after a key is thrown away by the
// discard that ends the pause, unless read first. A resize takes effect when it is read, or at a
// bell before.
struct Record {
    ConsoleEvent event;
    bool typedDuringPause;
    int width = 0, height = 0;  // a resize's new size
};

inline struct State {
    Screen screen;
    int height = 25, row = 0, column = 0, beeps = 0, failingDiscards = 0;  // failing: with EBADF
    ConsoleAttribute attribute = 0x07;
    bool systemText = true;      // false: the system has no text for error codes
    bool attributesShow = true;  // false: a console of one look, as a dumb terminal
    std::deque<Record> input;
    std::deque<bool> answers;  // to the next questions; unanswered ones get no
    std::vector<std::string> questions;
    std::vector<Screen> waits;  // the screen at each read of an input record, oldest first
} state;

// A blank buffer of `width` x `height` cells in `attribute`, the cursor at (0, 0), no input, no
// answers, nothing recorded.
inline void Reset(int width = 80, int height = 25, ConsoleAttribute attribute = 0x07) {
    State fresh;
    std::swap(state, fresh);
    state.screen.width = width;
    state.screen.cells.assign(std::size_t(width * height), Cell{' ', attribute});
    state.height = height, state.attribute = attribute;
}
inline ConsoleHandle Input() {
    static int object;
    return &object;
}  // only the addresses matter
inline ConsoleHandle Output() {
    static int object;
    return &object;
}
inline const Screen& Now() { return state.screen; }
inline const std::vector<Screen>& Waits() { return state.waits; }
inline void PushKey(uint16_t key, bool down = true, bool typedDuringPause = false) {
    state.input.push_back({{true, down, key}, typedDuringPause});
}

// Key presses for typed text, decoded as the terminal console decodes them: \r Enter, \x1b Esc, \b
// Backspace, + - ? and 1 2 3 7 8 9 their keypad and F1 keys, letters and other digits their own
// keys; printable characters also carry the character they type. For tests only: { } PgUp and PgDn,
// [ ] Home and End, ^ _ Up and Down, @WxH a resize to W columns and H rows.
inline void PushText(const std::string& text) {
    namespace vk = VirtualKey;
    static const std::string typed = "\r\x1b\b\x7f +-?123789{}[]^_";
    static const uint16_t keys[] = {vk::kEnter,   vk::kEscape,  vk::kBack,     vk::kBack,
                                    vk::kSpace,   vk::kAdd,     vk::kSubtract, vk::kF1,
                                    vk::kNumpad1, vk::kNumpad2, vk::kNumpad3,  vk::kNumpad7,
                                    vk::kNumpad8, vk::kNumpad9, vk::kPageUp,   vk::kPageDown,
                                    vk::kHome,    vk::kEnd,     vk::kUp,       vk::kDown};
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        int width = 0, height = 0, length = 0;
        if (c == '@' && std::sscanf(&text[at], "@%dx%d%n", &width, &height, &length) == 2) {
            state.input.push_back({{false, false, 0, 0, true}, false, width, height});
            at += std::size_t(length) - 1;
            continue;
        }
        const auto letter = static_cast<unsigned char>(c);
        uint16_t key = std::isalnum(letter) ? uint16_t(std::toupper(letter)) : vk::kOther;
        if (typed.find(c) != std::string::npos) key = keys[typed.find(c)];
        state.input.push_back({{true, true, key, c >= 0x20 && c <= 0x7E ? c : '\0'}, false});
    }
}

}  // namespace fake

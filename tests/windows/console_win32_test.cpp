// The Windows console layer on the console this test runs in: cells written and read back, fills,
// attributes, the window's size, key and resize records. (scripts/windows-test.sh: the report and
// its question.)
#include <gtest/gtest.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>
#include <tuple>

#include "platform/console.h"

namespace {

ConsoleHandle Out() { return ConsoleOutputHandle(); }
ConsoleHandle In() { return ConsoleInputHandle(); }

std::string Cells(int row, int column, int count) {
    std::string text(std::size_t(count), '\0');
    DWORD read = 0;
    ReadConsoleOutputCharacterA(Out(), &text[0], DWORD(count), COORD{SHORT(column), SHORT(row)},
                                &read);
    return text.substr(0, read);
}

WORD AttributeAt(int row, int column) {
    WORD attribute = 0;
    DWORD read = 0;
    ReadConsoleOutputAttribute(Out(), &attribute, 1, COORD{SHORT(column), SHORT(row)}, &read);
    return attribute;
}

TEST(ConsoleWin32, CellsFillsAndAttributes) {
    // One cell per byte, tabs to the next eighth column, nothing past the row's end.
    uint32_t filled = 0;
    ASSERT_TRUE(ConsoleFillCharacter(Out(), 'z', 80, 0, 3, &filled));
    ASSERT_TRUE(ConsoleSetCursor(Out(), 70, 2));
    const std::string text =
        "a\tb\x1b[2J\x07\x7f\xb0"
        "cdefgh";
    ASSERT_TRUE(ConsoleWrite(Out(), text.data(), text.size()));
    EXPECT_EQ(Cells(2, 70, 10) + Cells(3, 0, 1), "a b?[2J??\xb0z");
    // Fills run across rows; attributes written stay.
    ASSERT_TRUE(ConsoleFillCharacter(Out(), 'x', 85, 75, 4, &filled));
    EXPECT_EQ(Cells(4, 75, 5) + Cells(5, 0, 80), std::string(filled, 'x'));
    ASSERT_TRUE(ConsoleFillAttribute(Out(), 0x1E, 85, 75, 4, &filled));
    EXPECT_EQ(std::make_tuple(AttributeAt(5, 79), AttributeAt(6, 0) == 0x1E),
              std::make_tuple(0x1E, false));
    // The screen follows the 80 x 25 window, not a larger buffer behind it.
    ConsoleBufferInfo info;
    ASSERT_TRUE(SetConsoleScreenBufferSize(Out(), COORD{120, 300}));
    ASSERT_TRUE(ConsoleSetAttribute(Out(), 0x2F) && ConsoleGetBufferInfo(Out(), &info));
    EXPECT_EQ(std::make_tuple(info.attribute, info.width, info.height, info.windowWidth,
                              info.windowHeight),
              std::make_tuple(0x2F, 120, 300, 80, 25));
    ASSERT_TRUE(ConsoleSetCursor(Out(), 3, 7) && ConsoleWrite(Out(), "q", 1));
    EXPECT_EQ(AttributeAt(7, 3), 0x2F);
    ConsoleSetAttribute(Out(), 0x07);
}

void WriteKey(WORD key, bool down, DWORD type = KEY_EVENT, char typed = 0) {
    INPUT_RECORD record = {};
    record.EventType = static_cast<WORD>(type);  // another type takes no notice of the key's fields
    record.Event.KeyEvent.bKeyDown = down;
    record.Event.KeyEvent.wVirtualKeyCode = key;
    record.Event.KeyEvent.uChar.AsciiChar = typed;
    record.Event.KeyEvent.wRepeatCount = 1;
    DWORD written = 0;
    ASSERT_TRUE(WriteConsoleInputA(In(), &record, 1, &written));
}

// The next event this test wrote. Answers of the terminal to Wine's queries arrive as key events
// too, at any time: keys other than ours are passed over. A lost record fails rather than hangs.
ConsoleEvent NextOwnEvent() {
    ConsoleEvent event;
    do {
        if (WaitForSingleObject(In(), 10000) != WAIT_OBJECT_0)
            return ADD_FAILURE() << "no input record", event;
        EXPECT_TRUE(ConsoleReadEvent(In(), &event));
    } while (event.isKey && event.virtualKey != VirtualKey::kNumpad9 &&
             event.virtualKey != VirtualKey::kF1);
    return event;
}

TEST(ConsoleWin32, KeyRecordsDownAndUpAndOtherEvents) {
    ASSERT_TRUE(ConsoleDiscardInput(In()));
    WriteKey(VK_NUMPAD9, true, KEY_EVENT, '>');  // the character a key types, for > < s / and n
    WriteKey(VK_NUMPAD9, false);
    WriteKey(0, false, FOCUS_EVENT);
    WriteKey(VK_NUMPAD9, true);
    WriteKey(0, false, WINDOW_BUFFER_SIZE_EVENT);
    for (const ConsoleEvent expected :
         {ConsoleEvent{true, true, VirtualKey::kNumpad9},
          ConsoleEvent{true, false, VirtualKey::kNumpad9}, ConsoleEvent{}}) {
        const ConsoleEvent event = NextOwnEvent();
        EXPECT_EQ(std::make_tuple(event.isKey, event.keyDown, event.virtualKey, event.resized),
                  std::make_tuple(expected.isKey, expected.keyDown, expected.virtualKey, false));
        EXPECT_EQ(event.character, expected.keyDown ? '>' : '\0');
    }
    ASSERT_TRUE(ConsoleDiscardInput(In()));  // drops the last key-down, keeps the resize
    WriteKey(VK_F1, true);
    EXPECT_TRUE(NextOwnEvent().resized);
    EXPECT_EQ(NextOwnEvent().virtualKey, VirtualKey::kF1);
}

}  // namespace

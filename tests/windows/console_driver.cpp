// Drives a console program through the Windows console API: it starts the
// program on the console it runs on itself, writes key records into that
// console's input with exact virtual-key codes (keypad keys included, which
// no terminal can send through Wine), and reads the screen buffer back cell
// by cell.
//
//   console_driver run OUTDIR ACTION... -- PROGRAM [ARGUMENT...]
//     ACTION is key:VK (a key pressed and released, VK in decimal) or
//     shot:NAME (the top 25 rows of the screen into OUTDIR/NAME.txt, a line
//     each, and their attributes into OUTDIR/NAME.attr as runs of equal
//     cells, "07x80" or "37x23 07x2 ...").
//     After the actions the driver waits for the program to end and writes
//     OUTDIR/result.txt: "status N", "attribute-before XX", "attribute-after XX".
//   console_driver keys OUTFILE
//     Writes one line per key record read from the console until Esc is
//     pressed: what a terminal's keys arrive as.
//
// The program acts on a key, pauses, then discards pending input, so a key
// sent during that pause would be lost. The driver therefore sends a key's
// press and release in one write, waits until the input is empty (the
// release was discarded), then writes a non-key record and waits until
// that is gone too: read by the program, or discarded by a later discard
// of the same key. Either way the program is then waiting for the next key.
// Waits are bounded; a program that stops taking input fails the run.
// Files are written in binary, with LF line ends, for the Unix side to read.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kWaitLimitMs = 30000;
constexpr DWORD kPollMs = 5;
constexpr SHORT kRows = 25;

std::FILE* logFile = nullptr;
// The program under test while it runs; a failing driver ends it.
HANDLE runningChild = nullptr;

__attribute__((format(printf, 1, 2))) void Log(const char* format, ...) {
    if (logFile == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(logFile, format, arguments);
    va_end(arguments);
    std::fputc('\n', logFile);
    std::fflush(logFile);
}

[[noreturn]] void Fail(const std::string& what) {
    const DWORD error = GetLastError();
    Log("FAILED: %s (last error %lu)", what.c_str(), error);
    std::fprintf(stderr, "console_driver: %s (last error %lu)\n", what.c_str(), error);
    if (runningChild != nullptr) TerminateProcess(runningChild, 255);
    std::exit(2);
}

HANDLE OpenConsole(const char* name) {
    HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    if (handle == INVALID_HANDLE_VALUE) Fail(std::string("no console to open as ") + name);
    return handle;
}

// The character a key carries, where kwt's keys have one.
char KeyCharacter(WORD vk) {
    if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD9) return static_cast<char>('0' + (vk - VK_NUMPAD0));
    switch (vk) {
    case VK_RETURN: return '\r';
    case VK_ESCAPE: return 27;
    case VK_SPACE: return ' ';
    case VK_ADD: return '+';
    case VK_SUBTRACT: return '-';
    case VK_OEM_PLUS: return '=';
    default: return 0;
    }
}

bool IsKeypad(WORD vk) {
    return (vk >= VK_NUMPAD0 && vk <= VK_DIVIDE);
}

class Driver {
public:
    Driver() : input_(OpenConsole("CONIN$")), output_(OpenConsole("CONOUT$")) {}

    DWORD PendingInput() {
        DWORD count = 0;
        if (!GetNumberOfConsoleInputEvents(input_, &count)) Fail("GetNumberOfConsoleInputEvents");
        return count;
    }

    bool Ended() { return child_ != nullptr && WaitForSingleObject(child_, 0) == WAIT_OBJECT_0; }

    // Waits until every input record has been read or discarded; false if
    // the program ended first.
    bool WaitForEmptyInput(const std::string& after) {
        const DWORD start = GetTickCount();
        while (PendingInput() != 0) {
            if (Ended()) return false;
            if (GetTickCount() - start > kWaitLimitMs) Fail("input not taken after " + after);
            Sleep(kPollMs);
        }
        return true;
    }

    void Write(const INPUT_RECORD* records, DWORD count) {
        DWORD written = 0;
        if (!WriteConsoleInputA(input_, records, count, &written) || written != count) {
            Fail("WriteConsoleInputA");
        }
    }

    bool Settle(const std::string& after) {
        if (!WaitForEmptyInput(after)) return false;
        INPUT_RECORD probe{};
        probe.EventType = FOCUS_EVENT;
        probe.Event.FocusEvent.bSetFocus = TRUE;
        Write(&probe, 1);
        return WaitForEmptyInput(after + " (probe)");
    }

    void PressKey(WORD vk) {
        INPUT_RECORD records[2]{};
        for (int i = 0; i < 2; ++i) {
            KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
            records[i].EventType = KEY_EVENT;
            key.bKeyDown = i == 0 ? TRUE : FALSE;
            key.wRepeatCount = 1;
            key.wVirtualKeyCode = vk;
            key.wVirtualScanCode = 0;
            key.uChar.AsciiChar = KeyCharacter(vk);
            key.dwControlKeyState = IsKeypad(vk) ? NUMLOCK_ON : 0;
        }
        Write(records, 2);
    }

    WORD Attribute() {
        CONSOLE_SCREEN_BUFFER_INFO info{};
        if (!GetConsoleScreenBufferInfo(output_, &info)) Fail("GetConsoleScreenBufferInfo");
        return info.wAttributes;
    }

    void Shot(const std::string& directory, const std::string& name) {
        CONSOLE_SCREEN_BUFFER_INFO info{};
        if (!GetConsoleScreenBufferInfo(output_, &info)) Fail("GetConsoleScreenBufferInfo");
        const SHORT width = info.dwSize.X;
        Log("shot %s: buffer of %d x %d cells", name.c_str(), width, info.dwSize.Y);
        std::FILE* text = std::fopen((directory + "/" + name + ".txt").c_str(), "wb");
        std::FILE* attributes = std::fopen((directory + "/" + name + ".attr").c_str(), "wb");
        if (text == nullptr || attributes == nullptr) Fail("cannot write the shot " + name);
        std::vector<char> characters(static_cast<std::size_t>(width));
        std::vector<WORD> cells(static_cast<std::size_t>(width));
        for (SHORT row = 0; row < kRows && row < info.dwSize.Y; ++row) {
            DWORD read = 0;
            if (!ReadConsoleOutputCharacterA(output_, characters.data(), width, COORD{0, row},
                                             &read) ||
                read != static_cast<DWORD>(width)) {
                Fail("ReadConsoleOutputCharacterA");
            }
            if (!ReadConsoleOutputAttribute(output_, cells.data(), width, COORD{0, row}, &read) ||
                read != static_cast<DWORD>(width)) {
                Fail("ReadConsoleOutputAttribute");
            }
            std::fwrite(characters.data(), 1, characters.size(), text);
            std::fputc('\n', text);
            // Runs of equal attributes: "07x80", or "37x23 07x2 ...".
            for (std::size_t start = 0; start < cells.size();) {
                std::size_t end = start;
                while (end < cells.size() && cells[end] == cells[start]) ++end;
                std::fprintf(attributes, "%s%02Xx%u", start == 0 ? "" : " ", cells[start] & 0xFF,
                             static_cast<unsigned>(end - start));
                start = end;
            }
            std::fputc('\n', attributes);
        }
        std::fclose(text);
        std::fclose(attributes);
    }

    void Start(const std::string& program, const std::vector<std::string>& arguments) {
        std::string commandLine = Quote(program);
        for (const std::string& argument : arguments) commandLine += " " + Quote(argument);
        Log("starting %s", commandLine.c_str());
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        std::vector<char> line(commandLine.begin(), commandLine.end());
        line.push_back('\0');
        if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            nullptr, &startup, &process)) {
            Fail("CreateProcessA " + program);
        }
        CloseHandle(process.hThread);
        child_ = process.hProcess;
        runningChild = child_;
    }

    // Waits for the program to end and gives its exit status.
    DWORD Finish() {
        if (WaitForSingleObject(child_, kWaitLimitMs) != WAIT_OBJECT_0) {
            Fail("the program did not end");
        }
        runningChild = nullptr;
        DWORD status = 0;
        GetExitCodeProcess(child_, &status);
        return status;
    }

private:
    static std::string Quote(const std::string& argument) {
        if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) {
            return argument;
        }
        std::string quoted = "\"";
        for (char c : argument) {
            if (c == '"') quoted += '\\';
            quoted += c;
        }
        return quoted + "\"";
    }

    HANDLE input_;
    HANDLE output_;
    HANDLE child_ = nullptr;
};

int Run(int argc, char** argv) {
    if (argc < 5) return 64;
    const std::string directory = argv[2];
    logFile = std::fopen((directory + "/driver.log").c_str(), "wb");
    std::vector<std::string> actions;
    int next = 3;
    for (; next < argc && std::strcmp(argv[next], "--") != 0; ++next) actions.push_back(argv[next]);
    if (next + 1 >= argc) return 64;
    const std::string program = argv[next + 1];
    const std::vector<std::string> arguments(argv + next + 2, argv + argc);

    Driver driver;
    const WORD before = driver.Attribute();
    // Nothing discards input before the program first reads it: once this
    // record is gone, the first screen stands and the program waits for keys.
    driver.Start(program, arguments);
    bool running = driver.Settle("start");
    for (const std::string& action : actions) {
        if (action.rfind("shot:", 0) == 0) {
            driver.Shot(directory, action.substr(5));
        } else if (action.rfind("key:", 0) == 0) {
            if (!running) Fail("the program ended before " + action);
            const WORD vk = static_cast<WORD>(std::strtoul(action.c_str() + 4, nullptr, 10));
            Log("%s", action.c_str());
            driver.PressKey(vk);
            running = driver.Settle(action);
        } else {
            Fail("unknown action " + action);
        }
    }
    const DWORD status = driver.Finish();
    driver.Shot(directory, "final");
    std::FILE* result = std::fopen((directory + "/result.txt").c_str(), "wb");
    if (result == nullptr) Fail("cannot write result.txt");
    std::fprintf(result, "status %lu\nattribute-before %02X\nattribute-after %02X\n", status,
                 before & 0xFF, driver.Attribute() & 0xFF);
    std::fclose(result);
    Log("ended with status %lu", status);
    return 0;
}

int Keys(int argc, char** argv) {
    if (argc < 3) return 64;
    std::FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr) return 2;
    HANDLE input = OpenConsole("CONIN$");
    SetConsoleMode(input, 0);
    for (;;) {
        if (WaitForSingleObject(input, 60000) != WAIT_OBJECT_0) break;
        INPUT_RECORD record{};
        DWORD read = 0;
        if (!ReadConsoleInputA(input, &record, 1, &read) || read != 1) break;
        if (record.EventType != KEY_EVENT) {
            std::fprintf(out, "event type %u\n", record.EventType);
        } else {
            const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
            std::fprintf(out, "%s vk=%u scan=%u char=%u state=0x%lX\n", key.bKeyDown ? "down" : "up",
                         key.wVirtualKeyCode, key.wVirtualScanCode,
                         static_cast<unsigned char>(key.uChar.AsciiChar), key.dwControlKeyState);
            if (key.bKeyDown && key.wVirtualKeyCode == VK_ESCAPE) break;
        }
        std::fflush(out);
    }
    std::fclose(out);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "run") == 0) return Run(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "keys") == 0) return Keys(argc, argv);
    std::fprintf(stderr,
                 "usage: console_driver run OUTDIR ACTION... -- PROGRAM [ARGUMENT...]\n"
                 "       console_driver keys OUTFILE\n");
    return 64;
}

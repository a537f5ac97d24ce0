// Runs a program in a pseudo-terminal and keeps a terminal emulator's
// picture of what it drew, so that tests can type keys as a terminal sends
// them and read back the screen's cells and colours.
#pragma once

#include <termios.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct VTerm;
struct VTermScreen;

// A cell's colour as the emulator holds it.
struct CellColour {
    enum class Kind { kDefault, kIndexed, kRgb };
    Kind kind = Kind::kDefault;
    int index = 0;  // for kIndexed: the palette index (0-7 normal, 8-15 bright)
    uint8_t red = 0, green = 0, blue = 0;  // for kRgb

    static CellColour Default() { return CellColour{}; }
    static CellColour Indexed(int index) { return CellColour{Kind::kIndexed, index, 0, 0, 0}; }
    bool operator==(const CellColour& other) const;
    bool operator!=(const CellColour& other) const { return !(*this == other); }
    std::string Describe() const;
};

struct ExitStatus {
    bool ended = false;   // false when the wait timed out
    bool exited = false;  // ended by returning or calling exit
    int code = 0;         // the exit status when `exited`
    int signal = 0;       // the signal that ended it otherwise
};

class PtyTerminal {
public:
    using Clock = std::chrono::steady_clock;
    using Milliseconds = std::chrono::milliseconds;

    struct Options {
        int rows = 25;
        int columns = 80;
        std::string directory;        // where the program runs; empty: here
        std::string term = "xterm-256color";
        std::string locale = "C.UTF-8";  // LANG and LC_ALL
        bool ignoreHangup = false;    // start the program with SIGHUP ignored
    };

    explicit PtyTerminal(Options options);
    PtyTerminal() : PtyTerminal(Options{}) {}
    ~PtyTerminal();
    PtyTerminal(const PtyTerminal&) = delete;
    PtyTerminal& operator=(const PtyTerminal&) = delete;

    // Starts `arguments[0]` with the rest as its arguments.
    bool Start(const std::vector<std::string>& arguments);

    // Types bytes as the terminal would send them.
    void Send(const std::string& bytes);
    // Waits until the program blocks reading its terminal, then types.
    // Keys typed while the program pauses after a key would be dropped.
    void Press(const std::string& bytes, Milliseconds timeout = Milliseconds(5000));
    bool WaitUntilReading(Milliseconds timeout = Milliseconds(5000));

    // Reads what the program writes until `holds` is true or time runs out.
    bool WaitFor(const std::function<bool()>& holds, Milliseconds timeout = Milliseconds(5000));
    bool WaitForText(int row, const std::string& text, Milliseconds timeout = Milliseconds(5000));
    // Reads until nothing has come for `quiet`.
    bool WaitForQuiet(Milliseconds quiet = Milliseconds(120),
                      Milliseconds timeout = Milliseconds(5000));

    ExitStatus WaitForExit(Milliseconds timeout = Milliseconds(5000));
    void Signal(int signalNumber);
    void Resize(int rows, int columns);
    // Closes the terminal's master side: the program's input ends.
    void HangUp();

    // The screen as the emulator shows it.
    int Rows() const { return rows_; }
    int Columns() const { return columns_; }
    std::string Row(int row) const;                 // UTF-8, trailing blanks dropped
    bool ScreenContains(const std::string& text) const;
    char32_t Character(int row, int column) const;  // 0 for an empty cell
    CellColour Foreground(int row, int column) const;
    CellColour Background(int row, int column) const;
    bool Reverse(int row, int column) const;
    bool AlternateScreen() const { return alternateScreen_; }
    const std::string& Title() const { return title_; }
    int Bells() const { return bells_; }
    std::string Dump() const;  // the whole screen, for failure messages

    // Every byte the program wrote.
    const std::string& Output() const { return output_; }

    // The terminal's modes when the program started and now (readable
    // after it has ended, while the master side stays open).
    const termios& ModesAtStart() const { return modesAtStart_; }
    termios CurrentModes() const;

    pid_t Pid() const { return pid_; }

private:
    // Reads what is waiting, waiting at most `timeout`; the bytes read.
    std::size_t Pump(Milliseconds timeout);
    void Feed(const char* bytes, std::size_t length);
    bool ReapIfEnded(bool wait);

    friend struct PtyTerminalCallbacks;

    Options options_;
    int rows_;
    int columns_;
    VTerm* vterm_ = nullptr;
    VTermScreen* screen_ = nullptr;
    int master_ = -1;
    pid_t pid_ = -1;
    bool reaped_ = false;
    int waitStatus_ = 0;
    bool masterClosed_ = false;  // the program's side is gone (read gave EIO)
    termios modesAtStart_{};
    std::string output_;
    std::string title_;
    bool alternateScreen_ = false;
    int bells_ = 0;
    // How often the program had gone to sleep when the last key was sent.
    long switchesAtSend_ = -1;
};

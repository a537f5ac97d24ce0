// Runs a program in a pseudo-terminal and keeps a terminal emulator's picture of what it drew, so
// that tests can type keys as a terminal sends them and read back the screen's cells and colours.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <functional>
#include <string>
#include <vector>

struct VTerm;

class PtyTerminal {
public:
    struct Options {
        int rows = 25, columns = 80;
        std::string term = "xterm-256color", locale = "C.UTF-8";  // TERM; LANG and LC_ALL
        bool ignoreHangup = false;  // start the program with SIGHUP ignored
    };
    static constexpr int kNoExit = -1000;  // WaitForExit: still running after 5 s

    explicit PtyTerminal(Options options);
    ~PtyTerminal();
    PtyTerminal(const PtyTerminal&) = delete;  // one owner of the child and the pty
    void operator=(const PtyTerminal&) = delete;

    bool Start(const std::vector<std::string>& arguments);  // arguments[0]: the program
    void Send(const std::string& bytes);                    // typed as the terminal sends them
    // Waits until the program blocks reading its terminal, having slept since the last key.
    bool WaitUntilReading();
    // Types once the program reads: keys typed during its pause after a key are dropped.
    void Press(const std::string& bytes);
    bool WaitFor(const std::function<bool()>& holds);  // at most 5 s, reading the screen on
    bool WaitForText(int row, const std::string& text) {
        return WaitFor([&] { return Row(row).find(text) != std::string::npos; });
    }
    int WaitForExit();  // the exit status, or minus the number of the signal that ended it
    void Signal(int number);
    void Resize(int rows, int columns);
    void HangUp();  // closes the master side: the program's input ends
    // Typed but never read: what a shell would read next, once the program has ended.
    std::string LeftForTheShell() const;

    std::string Row(int row) const;  // UTF-8, trailing blanks dropped
    std::string Dump() const;        // the whole screen, for failure messages
    bool ScreenContains(const std::string& text) const { return Dump().find(text) != std::string::npos; }
    char32_t Character(int row, int column) const;  // 0 for an empty cell
    // A palette index (0-7 normal, 8-15 bright), -1 for the terminal's own.
    int Colour(int row, int column, bool background) const;
    bool AlternateScreen() const { return alternateScreen_; }
    int Bells() const { return bells_; }
    const std::string& Output() const { return output_; }  // every byte written
    // The modes when the program started and now (after it ended too).
    const termios& ModesAtStart() const { return modesAtStart_; }
    termios CurrentModes() const;

private:
    std::size_t Pump(int milliseconds);  // reads what comes; gives the byte count
    bool Reaped();
    bool Cell(int row, int column, void* cell) const;
    friend struct PtyCallbacks;

    Options options_;
    VTerm* vterm_ = nullptr;
    int master_ = -1, slave_ = -1, waitStatus_ = 0, bells_ = 0;
    pid_t pid_ = -1;
    bool reaped_ = false, alternateScreen_ = false;
    termios modesAtStart_{};
    std::string output_;
    long switchesAtSend_ = -1;  // the program's voluntary sleeps when a key went out
};

// Runs a program in a pseudo-terminal and keeps a terminal emulator's picture of what it drew, so
// that tests can type keys as a terminal sends them and read back the screen's cells and colours.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>
#include <vterm.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

class PtyTerminal {
public:
    struct Options {
        int rows = 25, columns = 80;
        std::string term = "xterm-256color", locale = "C.UTF-8";  // TERM; LANG and LC_ALL
        bool ignoreHangup = false;  // start the program with SIGHUP ignored
    };
    static constexpr int kNoExit = -1000;  // WaitForExit: still running after 5 s

    explicit PtyTerminal(Options options)
        : options_(std::move(options)), vterm_(vterm_new(options_.rows, options_.columns)) {
        static VTermScreenCallbacks callbacks{};
        callbacks.settermprop = [](VTermProp prop, VTermValue* value, void* self) {
            if (prop == VTERM_PROP_ALTSCREEN)
                static_cast<PtyTerminal*>(self)->alternateScreen_ = value->boolean != 0;
            return 1;
        };
        callbacks.bell = [](void* self) { return ++static_cast<PtyTerminal*>(self)->bells_, 1; };
        vterm_set_utf8(vterm_, 1);
        VTermScreen* screen = vterm_obtain_screen(vterm_);
        vterm_screen_set_callbacks(screen, &callbacks, this);
        vterm_screen_enable_altscreen(screen, 1);
        // Answers to the program's queries go back as terminal input.
        vterm_output_set_callback(
            vterm_,
            [](const char* b, std::size_t n, void* self) {
                static_cast<PtyTerminal*>(self)->Send({b, n});
            },
            this);
        vterm_screen_reset(screen, 1);
    }
    ~PtyTerminal() {
        if (pid_ > 0 && !reaped_ && kill(pid_, SIGKILL) == 0) waitpid(pid_, nullptr, 0);
        for (int fd : {master_, slave_})
            if (fd >= 0) close(fd);
        vterm_free(vterm_);
    }
    PtyTerminal(const PtyTerminal&) = delete;  // one owner of the child and the pty
    void operator=(const PtyTerminal&) = delete;

    bool Start(const std::vector<std::string>& arguments) {  // arguments[0]: the program
        winsize size{static_cast<unsigned short>(options_.rows),
                     static_cast<unsigned short>(options_.columns), 0, 0};
        if (openpty(&master_, &slave_, nullptr, nullptr, &size) != 0) return false;
        tcgetattr(slave_, &modesAtStart_);
        fcntl(master_, F_SETFD, FD_CLOEXEC);
        std::vector<char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        if ((pid_ = fork()) == 0) {
            if (login_tty(slave_) != 0) _exit(126);
            sigset_t none;
            sigprocmask(SIG_SETMASK, (sigemptyset(&none), &none), nullptr);
            for (int number : {SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGPIPE, SIGWINCH})
                signal(number, SIG_DFL);
            if (options_.ignoreHangup) signal(SIGHUP, SIG_IGN);
            for (const char* name : {"LINES", "COLUMNS", "ESCDELAY", "TERMINFO", "LC_CTYPE"})
                unsetenv(name);
            setenv("TERM", options_.term.c_str(), 1);
            for (const char* name : {"LANG", "LC_ALL"}) setenv(name, options_.locale.c_str(), 1);
            execv(argv[0], argv.data());
            _exit(127);
        }
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        return pid_ > 0;
    }
    void Send(const std::string& bytes) {  // typed as the terminal sends them
        for (std::size_t done = 0; master_ >= 0 && done < bytes.size(); Pump(0)) {
            const ssize_t written = write(master_, bytes.data() + done, bytes.size() - done);
            if (written < 0 && errno != EAGAIN && errno != EINTR) break;
            if (written > 0) done += std::size_t(written);
        }
    }
    // Waits until the program blocks reading its terminal, having slept since the last key.
    bool WaitUntilReading() {
        bool reading = false;
        WaitFor([&] {
            long switches = -1;
            reading = !Reaped() && ReadingInput(&switches) && switches > switchesAtSend_;
            return reading || reaped_;
        });
        Pump(0);
        return reading;
    }
    // Types once the program reads: keys typed during its pause after a key are dropped.
    void Press(const std::string& bytes) {
        WaitUntilReading();
        ReadingInput(&switchesAtSend_);
        Send(bytes);
    }
    bool WaitFor(const std::function<bool()>& holds) {  // at most 5 s, reading the screen on
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!holds() && std::chrono::steady_clock::now() < deadline) Pump(5);
        return holds();
    }
    bool WaitForText(int row, const std::string& text) {
        return WaitFor([&] { return Row(row).find(text) != std::string::npos; });
    }
    int WaitForExit() {  // the exit status, or minus the number of the signal that ended it
        // Reading on, so that the program never blocks on a full terminal.
        if (!WaitFor([this] { return Reaped(); })) return kNoExit;
        while (Pump(0) > 0) continue;
        return WIFEXITED(waitStatus_) ? WEXITSTATUS(waitStatus_) : -WTERMSIG(waitStatus_);
    }
    void Signal(int number) {
        if (pid_ > 0 && !reaped_) kill(pid_, number);
    }
    void Resize(int rows, int columns) {
        options_.rows = rows, options_.columns = columns;
        winsize size{static_cast<unsigned short>(rows), static_cast<unsigned short>(columns), 0, 0};
        ReadingInput(&switchesAtSend_);  // it wakes for SIGWINCH, then reads again
        vterm_set_size(vterm_, rows, columns);
        ioctl(master_, TIOCSWINSZ, &size);
    }
    void HangUp() { close(master_), master_ = -1; }  // the program's input ends
    // Typed but never read: what a shell would read next, once the program has ended.
    std::string LeftForTheShell() const {
        char buffer[256];
        fcntl(slave_, F_SETFL, fcntl(slave_, F_GETFL) | O_NONBLOCK);
        const ssize_t got = read(slave_, buffer, sizeof buffer);
        return got > 0 ? std::string(buffer, std::size_t(got)) : "";
    }

    std::string Row(int row) const {  // UTF-8, trailing blanks dropped
        std::string text(std::size_t(options_.columns) * 4, '\0');
        text.resize(vterm_screen_get_text(vterm_obtain_screen(vterm_), &text[0], text.size(),
                                          VTermRect{row, row + 1, 0, options_.columns}));
        return text.erase(text.find_last_not_of(' ') + 1);
    }
    std::string Dump() const {  // the whole screen, for failure messages
        std::string dump;
        for (int row = 0; row < options_.rows; ++row)
            dump += std::to_string(row) + "|" + Row(row) + "\n";
        return dump;
    }
    bool ScreenContains(const std::string& text) const {
        return Dump().find(text) != std::string::npos;
    }
    char32_t Character(int row, int column) const {
        return Cell(row, column).chars[0];
    }  // 0: empty
    // A palette index (0-7 normal, 8-15 bright), -1 for the terminal's own.
    int Colour(int row, int column, bool background) const {
        const VTermScreenCell cell = Cell(row, column);
        const VTermColor& colour = background ? cell.bg : cell.fg;
        const bool isDefault =
            background ? VTERM_COLOR_IS_DEFAULT_BG(&colour) : VTERM_COLOR_IS_DEFAULT_FG(&colour);
        return !VTERM_COLOR_IS_INDEXED(&colour) || isDefault ? -1 : colour.indexed.idx;
    }
    bool AlternateScreen() const { return alternateScreen_; }
    int Bells() const { return bells_; }
    const std::string& Output() const { return output_; }  // every byte written
    // The modes when the program started and now (after it ended too).
    const termios& ModesAtStart() const { return modesAtStart_; }
    termios CurrentModes() const {
        termios modes{};
        tcgetattr(slave_, &modes);
        return modes;
    }

private:
    // Whether the program is blocked in read(0); `switches`: how often it has slept.
    bool ReadingInput(long* switches) const {
        std::ifstream syscallFile("/proc/" + std::to_string(pid_) + "/syscall");
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        std::string number, argument, line;
        syscallFile >> number >> argument;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                *switches = std::stol(line.substr(24));
        }
        return number == std::to_string(SYS_read) && (argument == "0x0" || argument == "0");
    }
    std::size_t Pump(int milliseconds) {  // reads what comes; gives the byte count
        pollfd ready{master_, POLLIN, 0};
        if (master_ < 0 || poll(&ready, 1, milliseconds) <= 0) return 0;
        std::size_t total = 0;
        char buffer[4096];
        for (ssize_t got;
             (got = read(master_, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR);) {
            if (got < 0) continue;
            output_.append(buffer, std::size_t(got));
            vterm_input_write(vterm_, buffer, std::size_t(got));
            total += std::size_t(got);
        }
        if (total == 0) poll(nullptr, 0, milliseconds);  // hung up: no busy waiting
        return total;
    }
    bool Reaped() {
        if (!reaped_ && pid_ > 0) reaped_ = waitpid(pid_, &waitStatus_, WNOHANG) == pid_;
        return reaped_;
    }
    VTermScreenCell Cell(int row, int column) const {
        VTermScreenCell cell{};
        if (row >= 0 && column >= 0 && row < options_.rows && column < options_.columns) {
            vterm_screen_get_cell(vterm_obtain_screen(vterm_), VTermPos{row, column}, &cell);
        }
        return cell;
    }

    Options options_;
    VTerm* vterm_ = nullptr;
    int master_ = -1, slave_ = -1, waitStatus_ = 0, bells_ = 0;
    pid_t pid_ = -1;
    bool reaped_ = false, alternateScreen_ = false;
    termios modesAtStart_{};
    std::string output_;
    long switchesAtSend_ = -1;  // the program's voluntary sleeps when a key went out
};

#include "pty_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utmp.h>
#include <vterm.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>

namespace {

// Whether the process is blocked in read(0); `switches`: how often it has slept.
bool ReadingInput(pid_t pid, long* switches) {
    std::ifstream syscallFile("/proc/" + std::to_string(pid) + "/syscall");
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string number, argument, line;
    syscallFile >> number >> argument;
    while (std::getline(status, line))
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0) *switches = std::stol(line.substr(24));
    return number == std::to_string(SYS_read) && (argument == "0x0" || argument == "0");
}

}  // namespace

struct PtyCallbacks {
    static int SetTermProp(VTermProp prop, VTermValue* value, void* user) {
        if (prop == VTERM_PROP_ALTSCREEN) static_cast<PtyTerminal*>(user)->alternateScreen_ = value->boolean != 0;
        return 1;
    }
    static int Bell(void* user) { return ++static_cast<PtyTerminal*>(user)->bells_, 1; }
    // Answers to the program's queries go back as terminal input.
    static void Output(const char* b, std::size_t n, void* user) { static_cast<PtyTerminal*>(user)->Send({b, n}); }
};

PtyTerminal::PtyTerminal(Options options) : options_(std::move(options)) {
    vterm_ = vterm_new(options_.rows, options_.columns);
    vterm_set_utf8(vterm_, 1);
    static VTermScreenCallbacks callbacks{};
    callbacks.settermprop = PtyCallbacks::SetTermProp;
    callbacks.bell = PtyCallbacks::Bell;
    VTermScreen* screen = vterm_obtain_screen(vterm_);
    vterm_screen_set_callbacks(screen, &callbacks, this);
    vterm_screen_enable_altscreen(screen, 1);
    vterm_output_set_callback(vterm_, PtyCallbacks::Output, this);
    vterm_screen_reset(screen, 1);
}

PtyTerminal::~PtyTerminal() {
    if (pid_ > 0 && !reaped_ && kill(pid_, SIGKILL) == 0) waitpid(pid_, nullptr, 0);
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
    vterm_free(vterm_);
}

bool PtyTerminal::Start(const std::vector<std::string>& arguments) {
    winsize size{static_cast<unsigned short>(options_.rows), static_cast<unsigned short>(options_.columns), 0, 0};
    if (openpty(&master_, &slave_, nullptr, nullptr, &size) != 0) return false;
    tcgetattr(slave_, &modesAtStart_);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        if (login_tty(slave_) != 0) _exit(126);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int number : {SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGPIPE, SIGWINCH}) signal(number, SIG_DFL);
        if (options_.ignoreHangup) signal(SIGHUP, SIG_IGN);
        for (const char* name : {"LINES", "COLUMNS", "ESCDELAY", "TERMINFO", "LC_CTYPE"}) unsetenv(name);
        setenv("TERM", options_.term.c_str(), 1);
        for (const char* name : {"LANG", "LC_ALL"}) setenv(name, options_.locale.c_str(), 1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    return pid_ > 0;
}

void PtyTerminal::Send(const std::string& bytes) {
    for (std::size_t done = 0; master_ >= 0 && done < bytes.size(); Pump(0)) {
        const ssize_t written = write(master_, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno != EAGAIN && errno != EINTR) break;
        if (written > 0) done += std::size_t(written);
    }
}

bool PtyTerminal::WaitUntilReading() {
    bool reading = false;
    WaitFor([&] {
        long switches = -1;
        reading = !Reaped() && ReadingInput(pid_, &switches) && switches > switchesAtSend_;
        return reading || reaped_;
    });
    Pump(0);
    return reading;
}

void PtyTerminal::Press(const std::string& bytes) {
    WaitUntilReading();
    ReadingInput(pid_, &switchesAtSend_);
    Send(bytes);
}

std::size_t PtyTerminal::Pump(int milliseconds) {
    pollfd ready{master_, POLLIN, 0};
    if (master_ < 0 || poll(&ready, 1, milliseconds) <= 0) return 0;
    std::size_t total = 0;
    char buffer[4096];
    for (ssize_t got; (got = read(master_, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR);) {
        if (got < 0) continue;
        output_.append(buffer, std::size_t(got));
        vterm_input_write(vterm_, buffer, std::size_t(got));
        total += std::size_t(got);
    }
    if (total == 0) poll(nullptr, 0, milliseconds);  // hung up: no busy waiting
    return total;
}

bool PtyTerminal::WaitFor(const std::function<bool()>& holds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (; !holds(); Pump(5))
        if (std::chrono::steady_clock::now() >= deadline) return false;
    return true;
}

bool PtyTerminal::Reaped() {
    if (!reaped_ && pid_ > 0) reaped_ = waitpid(pid_, &waitStatus_, WNOHANG) == pid_;
    return reaped_;
}

int PtyTerminal::WaitForExit() {
    // Reading on, so that the program never blocks on a full terminal.
    if (!WaitFor([this] { return Reaped(); })) return kNoExit;
    while (Pump(0) > 0) continue;
    return WIFEXITED(waitStatus_) ? WEXITSTATUS(waitStatus_) : -WTERMSIG(waitStatus_);
}

void PtyTerminal::Signal(int number) { if (pid_ > 0 && !reaped_) kill(pid_, number); }
void PtyTerminal::Resize(int rows, int columns) {
    winsize size{static_cast<unsigned short>(options_.rows = rows),
                 static_cast<unsigned short>(options_.columns = columns), 0, 0};
    ReadingInput(pid_, &switchesAtSend_);  // it wakes for SIGWINCH, then reads again
    vterm_set_size(vterm_, rows, columns);
    ioctl(master_, TIOCSWINSZ, &size);
}

void PtyTerminal::HangUp() { close(master_), master_ = -1; }
std::string PtyTerminal::LeftForTheShell() const {
    char buffer[256];
    fcntl(slave_, F_SETFL, fcntl(slave_, F_GETFL) | O_NONBLOCK);
    const ssize_t got = read(slave_, buffer, sizeof buffer);
    return got > 0 ? std::string(buffer, std::size_t(got)) : "";
}
termios PtyTerminal::CurrentModes() const {
    termios modes{};  // on a master, the mode requests act on the slave side
    tcgetattr(master_, &modes);
    return modes;
}

bool PtyTerminal::Cell(int row, int column, void* cell) const {
    if (row < 0 || column < 0 || row >= options_.rows || column >= options_.columns) return false;
    return vterm_screen_get_cell(vterm_obtain_screen(vterm_), VTermPos{row, column}, static_cast<VTermScreenCell*>(cell));
}

char32_t PtyTerminal::Character(int row, int column) const {
    VTermScreenCell cell{};
    return Cell(row, column, &cell) ? char32_t(cell.chars[0]) : 0;
}

std::string PtyTerminal::Row(int row) const {
    std::string text(std::size_t(options_.columns) * 4, '\0');
    text.resize(vterm_screen_get_text(vterm_obtain_screen(vterm_), &text[0], text.size(),
                                      VTermRect{row, row + 1, 0, options_.columns}));
    return text.erase(text.find_last_not_of(' ') + 1);
}

int PtyTerminal::Colour(int row, int column, bool background) const {
    VTermScreenCell cell{};
    const VTermColor& colour = background ? cell.bg : cell.fg;
    if (!Cell(row, column, &cell) || !VTERM_COLOR_IS_INDEXED(&colour)) return -1;
    const bool isDefault = background ? VTERM_COLOR_IS_DEFAULT_BG(&colour) : VTERM_COLOR_IS_DEFAULT_FG(&colour);
    return isDefault ? -1 : colour.indexed.idx;
}

std::string PtyTerminal::Dump() const {
    std::string dump;
    for (int row = 0; row < options_.rows; ++row) dump += std::to_string(row) + "|" + Row(row) + "\n";
    return dump;
}

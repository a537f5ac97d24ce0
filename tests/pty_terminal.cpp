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

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

using Milliseconds = PtyTerminal::Milliseconds;

// Variables that would change how the program sees its terminal.
bool IsTerminalVariable(const std::string& name) {
    static const char* const kNames[] = {"TERM", "LANG", "LINES", "COLUMNS", "ESCDELAY",
                                         "TERMINFO", "TERMINFO_DIRS", "TERMCAP"};
    for (const char* known : kNames) {
        if (name == known) return true;
    }
    return name.rfind("LC_", 0) == 0 || name.rfind("NCURSES", 0) == 0;
}

std::vector<std::string> ChildEnvironment(const PtyTerminal::Options& options) {
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable = *entry;
        if (!IsTerminalVariable(variable.substr(0, variable.find('=')))) {
            variables.push_back(variable);
        }
    }
    variables.push_back("TERM=" + options.term);
    variables.push_back("LANG=" + options.locale);
    variables.push_back("LC_ALL=" + options.locale);
    return variables;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) pointers.push_back(&s[0]);
    pointers.push_back(nullptr);
    return pointers;
}

void AppendUtf8(std::string& text, uint32_t code) {
    if (code < 0x80) {
        text += static_cast<char>(code);
    } else if (code < 0x800) {
        text += static_cast<char>(0xC0 | (code >> 6));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        text += static_cast<char>(0xE0 | (code >> 12));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (code >> 18));
        text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    }
}

CellColour FromVTerm(const VTermColor& colour, bool isDefault) {
    if (isDefault) return CellColour::Default();
    if (VTERM_COLOR_IS_INDEXED(&colour)) return CellColour::Indexed(colour.indexed.idx);
    CellColour rgb;
    rgb.kind = CellColour::Kind::kRgb;
    rgb.red = colour.rgb.red;
    rgb.green = colour.rgb.green;
    rgb.blue = colour.rgb.blue;
    return rgb;
}

// What /proc says the process is doing: blocked in read(0) or not, and how
// often it has gone to sleep of its own accord.
struct ProcessActivity {
    bool known = false;
    bool readingStandardInput = false;
    long voluntarySwitches = -1;
};

ProcessActivity ActivityOf(pid_t pid) {
    ProcessActivity activity;
    const std::string base = "/proc/" + std::to_string(pid);
    std::ifstream syscallFile(base + "/syscall");
    std::string number;
    std::string firstArgument;
    if (!(syscallFile >> number)) return activity;
    activity.known = true;
    syscallFile >> firstArgument;
    activity.readingStandardInput =
        number == std::to_string(SYS_read) && (firstArgument == "0x0" || firstArgument == "0");
    std::ifstream statusFile(base + "/status");
    std::string line;
    while (std::getline(statusFile, line)) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
            activity.voluntarySwitches = std::stol(line.substr(line.find(':') + 1));
        }
    }
    return activity;
}

}  // namespace

// ---- CellColour ----------------------------------------------------------------

bool CellColour::operator==(const CellColour& other) const {
    if (kind != other.kind) return false;
    switch (kind) {
    case Kind::kDefault: return true;
    case Kind::kIndexed: return index == other.index;
    case Kind::kRgb: return red == other.red && green == other.green && blue == other.blue;
    }
    return false;
}

std::string CellColour::Describe() const {
    switch (kind) {
    case Kind::kDefault: return "default";
    case Kind::kIndexed: return "index " + std::to_string(index);
    case Kind::kRgb:
        return "rgb(" + std::to_string(red) + "," + std::to_string(green) + "," +
               std::to_string(blue) + ")";
    }
    return "?";
}

// ---- emulator callbacks --------------------------------------------------------

struct PtyTerminalCallbacks {
    static int SetTermProp(VTermProp prop, VTermValue* value, void* user) {
        auto* terminal = static_cast<PtyTerminal*>(user);
        if (prop == VTERM_PROP_ALTSCREEN) terminal->alternateScreen_ = value->boolean != 0;
        if (prop == VTERM_PROP_TITLE && value->string != nullptr) terminal->title_ = value->string;
        return 1;
    }
    static int Bell(void* user) {
        ++static_cast<PtyTerminal*>(user)->bells_;
        return 1;
    }
    // Answers to the program's queries go back as terminal input.
    static void Output(const char* bytes, std::size_t length, void* user) {
        static_cast<PtyTerminal*>(user)->Send(std::string(bytes, length));
    }
};

// ---- PtyTerminal ---------------------------------------------------------------

PtyTerminal::PtyTerminal(Options options)
    : options_(std::move(options)), rows_(options_.rows), columns_(options_.columns) {
    vterm_ = vterm_new(rows_, columns_);
    vterm_set_utf8(vterm_, 1);
    screen_ = vterm_obtain_screen(vterm_);
    static VTermScreenCallbacks callbacks = [] {
        VTermScreenCallbacks c{};
        c.settermprop = PtyTerminalCallbacks::SetTermProp;
        c.bell = PtyTerminalCallbacks::Bell;
        return c;
    }();
    vterm_screen_set_callbacks(screen_, &callbacks, this);
    vterm_screen_enable_altscreen(screen_, 1);
    vterm_output_set_callback(vterm_, PtyTerminalCallbacks::Output, this);
    vterm_screen_reset(screen_, 1);
}

PtyTerminal::~PtyTerminal() {
    if (pid_ > 0 && !reaped_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &waitStatus_, 0);
    }
    if (master_ >= 0) close(master_);
    vterm_free(vterm_);
}

bool PtyTerminal::Start(const std::vector<std::string>& arguments) {
    if (arguments.empty() || pid_ > 0) return false;
    winsize size{};
    size.ws_row = static_cast<unsigned short>(rows_);
    size.ws_col = static_cast<unsigned short>(columns_);
    int slave = -1;
    if (openpty(&master_, &slave, nullptr, nullptr, &size) != 0) return false;
    tcgetattr(slave, &modesAtStart_);
    // Programs started later from this process must not hold this terminal.
    fcntl(master_, F_SETFD, FD_CLOEXEC);

    // Everything the child needs is made before the fork.
    std::vector<std::string> argumentStrings = arguments;
    std::vector<std::string> environmentStrings = ChildEnvironment(options_);
    std::vector<char*> argv = Pointers(argumentStrings);
    std::vector<char*> envp = Pointers(environmentStrings);
    const char* directory = options_.directory.empty() ? nullptr : options_.directory.c_str();

    pid_ = fork();
    if (pid_ < 0) {
        close(slave);
        return false;
    }
    if (pid_ == 0) {
        close(master_);
        if (login_tty(slave) != 0) _exit(126);
        if (directory != nullptr && chdir(directory) != 0) _exit(126);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int signalNumber : {SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGPIPE, SIGWINCH}) {
            signal(signalNumber, SIG_DFL);
        }
        if (options_.ignoreHangup) signal(SIGHUP, SIG_IGN);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(slave);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    return true;
}

void PtyTerminal::Send(const std::string& bytes) {
    std::size_t done = 0;
    while (master_ >= 0 && done < bytes.size()) {
        const ssize_t written = write(master_, bytes.data() + done, bytes.size() - done);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
        } else if (written < 0 && (errno == EAGAIN || errno == EINTR)) {
            Pump(Milliseconds(5));
        } else {
            break;
        }
    }
}

bool PtyTerminal::WaitUntilReading(Milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        Pump(Milliseconds(5));
        if (ReapIfEnded(false)) return false;
        const ProcessActivity activity = ActivityOf(pid_);
        if (!activity.known) {
            // No view into the process: fall back on its output going quiet
            // for longer than it pauses after a key.
            return WaitForQuiet(Milliseconds(400), timeout);
        }
        if (activity.readingStandardInput) {
            // Keys already sent are taken once the process has slept since.
            if (activity.voluntarySwitches > switchesAtSend_) {
                Pump(Milliseconds(0));
                return true;
            }
        }
        if (Clock::now() >= deadline) return false;
    }
}

void PtyTerminal::Press(const std::string& bytes, Milliseconds timeout) {
    WaitUntilReading(timeout);
    switchesAtSend_ = ActivityOf(pid_).voluntarySwitches;
    Send(bytes);
}

std::size_t PtyTerminal::Pump(Milliseconds timeout) {
    if (master_ < 0 || masterClosed_) {
        std::this_thread::sleep_for(std::min(timeout, Milliseconds(10)));
        return 0;
    }
    pollfd ready{master_, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(timeout.count())) <= 0) return 0;
    std::size_t total = 0;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(master_, buffer, sizeof buffer);
        if (got > 0) {
            Feed(buffer, static_cast<std::size_t>(got));
            total += static_cast<std::size_t>(got);
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        // EIO: no process holds the terminal any more.
        if (got == 0 || errno != EAGAIN) masterClosed_ = true;
        break;
    }
    return total;
}

void PtyTerminal::Feed(const char* bytes, std::size_t length) {
    output_.append(bytes, length);
    vterm_input_write(vterm_, bytes, length);
}

bool PtyTerminal::WaitFor(const std::function<bool()>& holds, Milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (holds()) return true;
        if (Clock::now() >= deadline) return false;
        Pump(Milliseconds(10));
    }
}

bool PtyTerminal::WaitForText(int row, const std::string& text, Milliseconds timeout) {
    return WaitFor([&] { return Row(row).find(text) != std::string::npos; }, timeout);
}

bool PtyTerminal::WaitForQuiet(Milliseconds quiet, Milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    auto lastOutput = Clock::now();
    for (;;) {
        if (Pump(Milliseconds(10)) > 0) lastOutput = Clock::now();
        const auto now = Clock::now();
        if (now - lastOutput >= quiet) return true;
        if (now >= deadline) return false;
    }
}

bool PtyTerminal::ReapIfEnded(bool wait) {
    if (reaped_) return true;
    if (pid_ <= 0) return false;
    const pid_t done = waitpid(pid_, &waitStatus_, wait ? 0 : WNOHANG);
    if (done == pid_) reaped_ = true;
    return reaped_;
}

ExitStatus PtyTerminal::WaitForExit(Milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    // Keep reading, so that the program never blocks on a full terminal.
    while (!ReapIfEnded(false)) {
        if (Clock::now() >= deadline) return ExitStatus{};
        Pump(Milliseconds(10));
    }
    while (Pump(Milliseconds(0)) > 0) {
    }
    ExitStatus status;
    status.ended = true;
    status.exited = WIFEXITED(waitStatus_);
    status.code = status.exited ? WEXITSTATUS(waitStatus_) : 0;
    status.signal = WIFSIGNALED(waitStatus_) ? WTERMSIG(waitStatus_) : 0;
    return status;
}

void PtyTerminal::Signal(int signalNumber) {
    if (pid_ > 0 && !reaped_) kill(pid_, signalNumber);
}

void PtyTerminal::Resize(int rows, int columns) {
    winsize size{};
    size.ws_row = static_cast<unsigned short>(rows);
    size.ws_col = static_cast<unsigned short>(columns);
    rows_ = rows;
    columns_ = columns;
    // The program wakes for SIGWINCH: it is ready for keys once it has gone
    // back to reading.
    if (pid_ > 0 && !reaped_) switchesAtSend_ = ActivityOf(pid_).voluntarySwitches;
    vterm_set_size(vterm_, rows, columns);
    // The kernel sends SIGWINCH to the terminal's foreground process group.
    if (master_ >= 0) ioctl(master_, TIOCSWINSZ, &size);
}

void PtyTerminal::HangUp() {
    if (master_ >= 0) close(master_);
    master_ = -1;
}

termios PtyTerminal::CurrentModes() const {
    // On a master, the terminal mode requests act on the slave side.
    termios modes{};
    if (master_ >= 0) tcgetattr(master_, &modes);
    return modes;
}

// ---- reading the screen --------------------------------------------------------

namespace {

bool GetCell(VTermScreen* screen, int rows, int columns, int row, int column,
             VTermScreenCell* cell) {
    if (row < 0 || column < 0 || row >= rows || column >= columns) return false;
    VTermPos position{};
    position.row = row;
    position.col = column;
    return vterm_screen_get_cell(screen, position, cell) != 0;
}

}  // namespace

char32_t PtyTerminal::Character(int row, int column) const {
    VTermScreenCell cell{};
    if (!GetCell(screen_, rows_, columns_, row, column, &cell)) return 0;
    return static_cast<char32_t>(cell.chars[0]);
}

std::string PtyTerminal::Row(int row) const {
    std::string text;
    for (int column = 0; column < columns_; ++column) {
        VTermScreenCell cell{};
        if (!GetCell(screen_, rows_, columns_, row, column, &cell)) break;
        if (cell.chars[0] == static_cast<uint32_t>(-1)) continue;  // right half of a wide one
        if (cell.chars[0] == 0) {
            text += ' ';
            continue;
        }
        for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && cell.chars[i] != 0; ++i) {
            AppendUtf8(text, cell.chars[i]);
        }
    }
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

bool PtyTerminal::ScreenContains(const std::string& text) const {
    for (int row = 0; row < rows_; ++row) {
        if (Row(row).find(text) != std::string::npos) return true;
    }
    return false;
}

CellColour PtyTerminal::Foreground(int row, int column) const {
    VTermScreenCell cell{};
    if (!GetCell(screen_, rows_, columns_, row, column, &cell)) return CellColour::Default();
    return FromVTerm(cell.fg, VTERM_COLOR_IS_DEFAULT_FG(&cell.fg));
}

CellColour PtyTerminal::Background(int row, int column) const {
    VTermScreenCell cell{};
    if (!GetCell(screen_, rows_, columns_, row, column, &cell)) return CellColour::Default();
    return FromVTerm(cell.bg, VTERM_COLOR_IS_DEFAULT_BG(&cell.bg));
}

bool PtyTerminal::Reverse(int row, int column) const {
    VTermScreenCell cell{};
    return GetCell(screen_, rows_, columns_, row, column, &cell) && cell.attrs.reverse != 0;
}

std::string PtyTerminal::Dump() const {
    std::ostringstream dump;
    for (int row = 0; row < rows_; ++row) {
        dump << (row < 10 ? " " : "") << row << "|" << Row(row) << "\n";
    }
    return dump.str();
}

// What the terminal tests share: the real program started in a
// pseudo-terminal on input files of the test's own directory, keys typed
// one at a time, and the terminal checked as the program leaves it.
#pragma once

#include <gtest/gtest.h>
#include <termios.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pty_terminal.h"
#include "test_files.h"

// The browsing screen: the listing on rows 0-22, then the trace line and
// the status line.
constexpr int kListingRows = 23;
constexpr int kTraceRow = 23;
constexpr int kStatusRow = 24;

// The three files the program reads: names in the test's directory, or
// absolute paths.
struct InputFiles {
    std::string trace = "trace.txt";
    std::string listing = "listing.lrt";
    std::string header = "tokens.h";
};

class TerminalFixture : public ::testing::Test {
protected:
    void Write(const std::string& name, const std::string& text) const { dir_.Write(name, text); }
    std::string Path(const std::string& name) const {
        return name.rfind('/', 0) == 0 ? name : dir_.Path(name);
    }

    // Starts the program on `files`; with a `wrapper` (a shell command,
    // say), starts that with the program and its arguments after it.
    std::unique_ptr<PtyTerminal> Launch(const InputFiles& files = {},
                                        PtyTerminal::Options options = {},
                                        std::vector<std::string> wrapper = {}) const {
        wrapper.insert(wrapper.end(), {KWT_BINARY, Path(files.trace), Path(files.listing),
                                       Path(files.header)});
        auto terminal = std::make_unique<PtyTerminal>(std::move(options));
        EXPECT_TRUE(terminal->Start(wrapper));
        return terminal;
    }

    // Launches and waits until the status line shows `status`.
    std::unique_ptr<PtyTerminal> Browse(const std::string& status, const InputFiles& files = {},
                                        PtyTerminal::Options options = {},
                                        std::vector<std::string> wrapper = {}) const {
        auto terminal = Launch(files, std::move(options), std::move(wrapper));
        EXPECT_TRUE(terminal->WaitForText(kStatusRow, status)) << terminal->Dump();
        return terminal;
    }

    TempDir dir_;
};

// Types a key and waits until the program has acted on it and reads again.
inline void Key(PtyTerminal& terminal, const std::string& bytes) {
    terminal.Press(bytes);
    EXPECT_TRUE(terminal.WaitUntilReading())
        << "after key " << testing::PrintToString(bytes) << "\n" << terminal.Dump();
}

// The program ends with exit status `code`, or by `signal` when one is
// given, back on the normal screen with line mode, echo and the rest of the
// terminal's modes as they were before it ran.
inline void ExpectExit(PtyTerminal& terminal, int code, int signal = 0) {
    const ExitStatus status = terminal.WaitForExit();
    ASSERT_TRUE(status.ended) << terminal.Dump();
    EXPECT_EQ(status.exited, signal == 0);
    EXPECT_EQ(signal == 0 ? status.code : status.signal, signal == 0 ? code : signal);
    EXPECT_FALSE(terminal.AlternateScreen());
    const termios before = terminal.ModesAtStart();
    const termios after = terminal.CurrentModes();
    EXPECT_NE(after.c_lflag & ECHO, 0u);
    EXPECT_NE(after.c_lflag & ICANON, 0u);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
}

inline void EndWithEsc(PtyTerminal& terminal) {
    terminal.Press("\x1b");
    ExpectExit(terminal, 0);
}

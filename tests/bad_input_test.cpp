// Broken, huge and hostile input files through the real program in a
// terminal: no crash and no hang, the files' bytes shown as cells of text,
// and the terminal left as it was found.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "pty_terminal.h"

namespace {

namespace fs = std::filesystem;

constexpr int kListingRows = 23;
constexpr int kTraceRow = 23;
constexpr int kStatusRow = 24;
constexpr std::size_t kShownWidth = 79;

constexpr char kHeader[] = "#define NUMBER 257\n#define IDENT 258\n";

std::string StateHeader(int state) {
    std::string line = "+" + std::string(29, '-') + " STATE " + std::to_string(state) + " ";
    return line + std::string(77 - line.size(), '-') + "+";
}

std::string BodyLine(int state, int line) {
    return "state " + std::to_string(state) + " line " + std::to_string(line);
}

// `states` blocks of `lines` lines each, the header line included.
std::string Listing(int states, int lines) {
    std::string text = "a listing\n";
    for (int state = 0; state < states; ++state) {
        text += StateHeader(state) + "\n";
        for (int line = 1; line < lines; ++line) text += BodyLine(state, line) + "\n";
    }
    return text;
}

// A whole status line from its start.
std::string Status(const std::string& start) { return start + "    Help:[F1]^[Sp]"; }

// Text with NUL bytes in it, as written.
template <std::size_t N>
std::string WithNuls(const char (&text)[N]) {
    return std::string(text, N - 1);
}

// Bytes from a fixed-seed generator, the same on every run.
unsigned char RandomByte(uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<unsigned char>(state >> 11);
}

// Lines of random bytes, each opened by bytes a terminal would act on, one
// with a NUL. The random bytes are never a line feed, tab, carriage return
// or NUL, the text's end mark 0x1A, nor a '#' or '+' that could begin a
// definition or a state header.
std::vector<std::string> BinaryLines() {
    const std::vector<std::string> openers = {
        "\x1b[2J", "\x9b" "2J", "\xff\xfe", "\x1b]0;bin\x07", "\x1b[31m", WithNuls("x\0\x7f")};
    const std::string excluded = WithNuls("\n\t\r\x1a#+\0");
    uint32_t seed = 2463534242u;
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < 12; ++i) {
        std::string line = openers[i % openers.size()];
        for (int length = 30 + RandomByte(seed) % 40; length > 0;) {
            const char byte = static_cast<char>(RandomByte(seed));
            if (excluded.find(byte) == std::string::npos) {
                line += byte;
                --length;
            }
        }
        lines.push_back(line);
    }
    return lines;
}

// The lines, then the end mark and bytes of every value.
std::string BinaryFile() {
    std::string file;
    for (const std::string& line : BinaryLines()) file += line + "\n";
    file += '\x1a';
    uint32_t seed = 88675123u;
    for (int k = 0; k < 300; ++k) file += static_cast<char>(RandomByte(seed));
    return file;
}

// Every byte of `line` before any NUL is one cell of `row`: printable
// ASCII as itself, any other byte as a printable character of its own,
// never as the terminal would take the byte.
void ExpectCells(const PtyTerminal& terminal, int row, const std::string& line) {
    const std::size_t end = std::min({line.find('\0'), line.size(), kShownWidth});
    for (std::size_t column = 0; column < 80; ++column) {
        const char32_t shown = terminal.Character(row, static_cast<int>(column));
        const int byte = column < end ? static_cast<unsigned char>(line[column]) : ' ';
        SCOPED_TRACE("row " + std::to_string(row) + " column " + std::to_string(column));
        if (byte == ' ') {
            EXPECT_TRUE(shown == U' ' || shown == 0);
        } else if (byte > 0x20 && byte < 0x7f) {
            EXPECT_EQ(shown, static_cast<char32_t>(byte));
        } else {
            EXPECT_GE(shown, 0xA0u) << "byte " << byte;
        }
    }
}

// Rows 0-22 show nothing but lines of `state`'s own block, or nothing.
void ExpectOnlyState(const PtyTerminal& terminal, int state) {
    for (int row = 0; row < kListingRows; ++row) {
        const std::string shown = terminal.Row(row);
        const std::string own = row == 0 ? StateHeader(state) : BodyLine(state, row);
        EXPECT_TRUE(shown.empty() || shown == own) << "row " << row << ": " << shown;
    }
}

void Key(PtyTerminal& terminal, const std::string& bytes) {
    terminal.Press(bytes);
    EXPECT_TRUE(terminal.WaitUntilReading()) << "after key " << testing::PrintToString(bytes)
                                             << "\n" << terminal.Dump();
}

// Esc ends with status 0 and the terminal as it was.
void EndWithEsc(PtyTerminal& terminal) {
    terminal.Press("\x1b");
    const ExitStatus status = terminal.WaitForExit();
    ASSERT_TRUE(status.ended) << terminal.Dump();
    EXPECT_TRUE(status.exited);
    EXPECT_EQ(status.code, 0);
    EXPECT_FALSE(terminal.AlternateScreen());
    EXPECT_EQ(terminal.CurrentModes().c_lflag, terminal.ModesAtStart().c_lflag);
    EXPECT_EQ(terminal.CurrentModes().c_iflag, terminal.ModesAtStart().c_iflag);
}

class BadInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/kwt-bad-XXXXXX";
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        directory_ = pattern;
        Write("tokens.h", kHeader);
        Write("listing.lrt", Listing(4, 5));
        Write("trace.txt",
              "trace begins\nat state 1, next token 257\nat state 2, next token 258\n");
    }

    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(directory_, ignored);
    }

    std::string Path(const std::string& name) const { return (directory_ / name).string(); }

    void Write(const std::string& name, const std::string& contents) const {
        std::ofstream file(directory_ / name, std::ios::binary);
        file << contents;
        ASSERT_TRUE(file.good()) << name;
    }

    std::unique_ptr<PtyTerminal> Launch(const std::string& trace = "trace.txt",
                                        const std::string& listing = "listing.lrt",
                                        const std::string& header = "tokens.h") const {
        auto terminal = std::make_unique<PtyTerminal>();
        EXPECT_TRUE(terminal->Start({KWT_BINARY, Path(trace), Path(listing), Path(header)}));
        return terminal;
    }

    // Runs the program until its status line starts with `status`.
    std::unique_ptr<PtyTerminal> Browse(const std::string& status,
                                        const std::string& trace = "trace.txt",
                                        const std::string& listing = "listing.lrt") const {
        auto terminal = Launch(trace, listing);
        EXPECT_TRUE(terminal->WaitForText(kStatusRow, status)) << terminal->Dump();
        return terminal;
    }

    fs::path directory_;
};

TEST_F(BadInputTest, FilesThatCannotServeEndWithTheirOwnStatus) {
    Write("binary.h", BinaryFile());
    Write("big.h", "#define BIG 99999999999999999999\n");
    fs::create_directory(directory_ / "folder");
    const struct {
        const char* trace;
        const char* listing;
        const char* header;
        int status;
        const char* message;
    } cases[] = {
        {"trace.txt", "listing.lrt", "binary.h", 2, "Cannot read YACC include file. Exiting"},
        {"trace.txt", "listing.lrt", "big.h", 2, "Cannot read YACC include file. Exiting"},
        {"trace.txt", "listing.lrt", "folder", 2, "Cannot open file!: Is a directory"},
        {"trace.txt", "folder", "tokens.h", 3, "Cannot open YACC LRT file!"},
        {"folder", "listing.lrt", "tokens.h", 4, "Cannot open YACC Trace file!: Is a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.trace) + " " + c.listing + " " + c.header);
        auto terminal = Launch(c.trace, c.listing, c.header);
        const ExitStatus status = terminal->WaitForExit();
        ASSERT_TRUE(status.ended);
        EXPECT_EQ(status.code, c.status);
        EXPECT_TRUE(terminal->ScreenContains(c.message)) << terminal->Dump();
        EXPECT_FALSE(terminal->AlternateScreen());
    }
}

TEST_F(BadInputTest, ABinaryListingHasNoStatesAndStillBrowses) {
    Write("binary.lrt", BinaryFile());
    auto terminal = Browse("State    0 of   -1: Next Token: NULL", "trace.txt", "binary.lrt");
    for (int row = 0; row < kListingRows; ++row) EXPECT_EQ(terminal->Row(row), "") << row;
    // The trace names states the listing does not have: none is entered.
    Key(*terminal, "+");
    EXPECT_EQ(terminal->Row(kTraceRow), "at state 1, next token 257");
    EXPECT_EQ(terminal->Row(kStatusRow), Status("State    0 of   -1: Next Token: NULL"));
    Key(*terminal, "\x1b[6~");
    Key(*terminal, "\x1bOB");
    Key(*terminal, "\x1b[F");
    EXPECT_EQ(terminal->Bells(), 2);  // End rings for nothing
    EndWithEsc(*terminal);
}

TEST_F(BadInputTest, ABinaryTraceShowsEachByteAsACell) {
    const std::vector<std::string> lines = BinaryLines();
    Write("binary.txt", BinaryFile());
    auto terminal = Browse("State    0 of    3: Next Token: NULL", "binary.txt");
    ExpectCells(*terminal, kTraceRow, lines[0]);
    for (std::size_t step = 1; step <= 5; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        Key(*terminal, "+");
        ExpectCells(*terminal, kTraceRow, lines[step]);
        EXPECT_EQ(terminal->Row(0), StateHeader(0));
        EXPECT_EQ(terminal->Row(1), BodyLine(0, 1));
        EXPECT_EQ(terminal->Row(kStatusRow), Status("State    0 of    3: Next Token: NULL"));
    }
    EXPECT_EQ(terminal->Title(), "");
    for (const char* raw : {"\x1b]0;bin", "\x9b" "2J"}) {
        EXPECT_EQ(terminal->Output().find(raw), std::string::npos)
            << testing::PrintToString(std::string(raw)) << " reached the terminal";
    }
    EndWithEsc(*terminal);
}

TEST_F(BadInputTest, ANulByteEndsTheLineAsShown) {
    Write("listing.lrt", "a listing\n" + StateHeader(0) + "\n" + WithNuls("shown\0hidden\n") +
                             "  next\n" + StateHeader(1) + "\n" + StateHeader(2) + "\n");
    Write("trace.txt", WithNuls("first\0hidden\n"
                                "at state 2, next token 258\0 and more\n"
                                "at state\0 1, next token 257\n"));
    auto terminal = Browse("State    0 of    2: Next Token: NULL");
    EXPECT_EQ(terminal->Row(1), "shown");
    EXPECT_EQ(terminal->Row(2), "  next");
    EXPECT_EQ(terminal->Row(kTraceRow), "first");
    Key(*terminal, "+");
    EXPECT_EQ(terminal->Row(kTraceRow), "at state 2, next token 258");
    EXPECT_EQ(terminal->Row(kStatusRow), Status("State    2 of    2: Next Token: IDENT"));
    Key(*terminal, "+");
    EXPECT_EQ(terminal->Row(kTraceRow), "at state");
    EXPECT_EQ(terminal->Row(kStatusRow), Status("State    2 of    2: Next Token: IDENT"));
    EndWithEsc(*terminal);
}

// The trace is read a line per step, never in advance: two million lines
// start as quickly as three.
TEST_F(BadInputTest, ATwoMillionLineTraceStartsAtOnceAndSteps) {
    auto line = [](int number) {
        if (number == 0) return std::string("two million lines");
        if (number % 4 != 0) return std::to_string(number);
        return "at state " + std::to_string(1 + number / 4 % 3) + ", next token 257";
    };
    {
        std::string trace;
        trace.reserve(26u << 20);
        for (int number = 0; number < 2000000; ++number) trace += line(number) + "\n";
        Write("long.txt", trace);
    }
    auto terminal = Browse("State    0 of    3: Next Token: NULL", "long.txt");
    int state = 0;
    for (int step = 1; step <= 8; ++step) {
        Key(*terminal, "+");
        if (step % 4 == 0) state = 1 + step / 4 % 3;
        ASSERT_EQ(terminal->Row(kTraceRow), line(step));
        ASSERT_EQ(terminal->Row(kStatusRow).substr(0, 36),
                  "State    " + std::to_string(state) + " of    3: Next Token: " +
                      (step < 4 ? "NULL" : "NUMB"));
    }
    Key(*terminal, "-");
    EXPECT_EQ(terminal->Row(kTraceRow), line(7));
    Key(*terminal, "+");
    Key(*terminal, "+");
    EXPECT_EQ(terminal->Row(kTraceRow), line(9));
    EndWithEsc(*terminal);
}

TEST_F(BadInputTest, OnlyTheFirst4096StatesOfALongerListingAreKept) {
    Write("listing.lrt", Listing(5000, 3));
    auto terminal = Browse("State    0 of 4095");
    Key(*terminal, "\x1b[F");
    EXPECT_EQ(terminal->Row(kStatusRow), Status("State 4095 of 4095: Next Token: NULL"));
    // The last state kept ends where the next one's header begins.
    EXPECT_EQ(terminal->Row(0), StateHeader(4095));
    EXPECT_EQ(terminal->Row(2), BodyLine(4095, 2));
    EXPECT_EQ(terminal->Row(3), "");
    EXPECT_FALSE(terminal->ScreenContains("STATE 4096")) << terminal->Dump();
    EndWithEsc(*terminal);
    EXPECT_EQ(terminal->Row(4), "State 4096") << terminal->Dump();  // the count at start-up
}

TEST_F(BadInputTest, DefinitionsPastThe512thAreNotNamed) {
    // Numbered so that the 513th has the low byte of 'A'.
    std::string header;
    for (int i = 0; i < 600; ++i) {
        header += "#define T" + std::to_string(i) + " " + std::to_string(321 + i) + "\n";
    }
    Write("tokens.h", header);
    Write("trace.txt", "tokens\nat state 1, next token 832\nat state 2, next token 833\n");
    auto terminal = Browse("State    0 of    3");
    Key(*terminal, "+");
    EXPECT_EQ(terminal->Row(kStatusRow), Status("State    1 of    3: Next Token: T511"));
    Key(*terminal, "+");
    EXPECT_EQ(terminal->Row(kStatusRow), Status("State    2 of    3: Next Token: 'A'"));
    EndWithEsc(*terminal);
}

TEST_F(BadInputTest, AListingDeletedOrEmptiedWhileBrowsing) {
    // Larger than the reader's chunk, so that far states are read afresh.
    Write("listing.lrt", Listing(1000, 10));
    ASSERT_GT(fs::file_size(directory_ / "listing.lrt"), 3u * 64 * 1024);
    auto terminal = Browse("State    0 of  999");
    Key(*terminal, "\x1b[6~");
    const int file = open(Path("listing.lrt").c_str(), O_RDWR);
    ASSERT_GE(file, 0);
    fs::remove(directory_ / "listing.lrt");

    // Deleted, the file is still there for the program that holds it open.
    Key(*terminal, "\x1b[6~");
    EXPECT_EQ(terminal->Row(9), BodyLine(2, 9));
    ExpectOnlyState(*terminal, 2);
    Key(*terminal, "\x1b[F");
    EXPECT_EQ(terminal->Row(0), StateHeader(999));
    EXPECT_EQ(terminal->Row(9), BodyLine(999, 9));

    // Emptied, it has nothing more to show.
    ASSERT_EQ(ftruncate(file, 0), 0);
    close(file);
    const struct {
        const char* key;
        int state;
    } moves[] = {{"\x1b[H", 0}, {"\x1b[6~", 1}, {"\x1b[F", 999}, {"\x1b[5~", 998}};
    for (const auto& move : moves) {
        Key(*terminal, move.key);
        char status[32];
        std::snprintf(status, sizeof status, "State %4d of  999", move.state);
        EXPECT_EQ(terminal->Row(kStatusRow).substr(0, 18), status);
        ExpectOnlyState(*terminal, move.state);
    }
    Key(*terminal, "+");
    EXPECT_EQ(terminal->Row(kStatusRow), Status("State    1 of  999: Next Token: NUMBER"));
    EndWithEsc(*terminal);
}

// Were the numbers cut down to 32 bits, BIG would be -1 (saturated) or
// 1661992959 (wrapped), and HUGE 0.
TEST_F(BadInputTest, NumbersTooLargeForThirtyTwoBitsAreNotTaken) {
    Write("tokens.h", "#define BIG 99999999999999999999\n#define HUGE -99999999999999999999\n" +
                          std::string(kHeader));
    Write("trace.txt",
          "twenty digits\n"
          "at state 99999999999999999999, next token 257\n"
          "at state 2, next token 99999999999999999999\n"
          "error: pop state 1, recover state 99999999999999999999\n"
          "at state 1, next token -1\n"
          "at state 2, next token 1661992959\n"
          "at state 1, next token 0\n");
    auto terminal = Browse("State    0 of    3");
    for (const char* status :
         {"State    0 of    3: Next Token: NULL", "State    0 of    3: Next Token: NULL",
          "State    0 of    3: Next Token: NULL", "State    1 of    3: Next Token: EOF",
          "State    2 of    3: Next Token: '\u00a0'", "State    1 of    3: Next Token: NULL"}) {
        Key(*terminal, "+");
        EXPECT_EQ(terminal->Row(kStatusRow), Status(status));
    }
    EndWithEsc(*terminal);
}

TEST_F(BadInputTest, EscapeSequencesInTheFilesShowAsText) {
    const std::vector<std::string> hostile = {
        "title \x1b]0;pwned\x07 end", "clip \x1b]52;c;aGk=\x07 end", "clear \x1b[2J end",
        "red \x1b[31mred end", "c1 \x9b" "2J end"};
    std::string listing = "a listing\n" + StateHeader(0) + "\n";
    for (const std::string& line : hostile) listing += line + "\n";
    Write("listing.lrt", listing + "after\n" + StateHeader(1) + "\n");
    const std::string traceLine = "osc \x1b]0;trace\x07 c1 \x9b" "31m end";
    Write("trace.txt", traceLine + "\n");

    auto terminal = Browse("State    0 of    1: Next Token: NULL");
    EXPECT_EQ(terminal->Row(0), StateHeader(0));
    for (std::size_t i = 0; i < hostile.size(); ++i) {
        ExpectCells(*terminal, static_cast<int>(i) + 1, hostile[i]);
    }
    EXPECT_EQ(terminal->Row(6), "after");
    ExpectCells(*terminal, kTraceRow, traceLine);
    EXPECT_EQ(terminal->Row(kStatusRow), Status("State    0 of    1: Next Token: NULL"));
    EXPECT_EQ(terminal->Foreground(4, 10), CellColour::Default());  // "red" after the CSI
    EXPECT_EQ(terminal->Title(), "");
    for (const char* raw : {"\x1b]0;pwned", "\x1b]52;", "\x1b[2J end", "\x1b[31mred", "\x9b" "2J",
                            "\x1b]0;trace", "\x9b" "31m"}) {
        EXPECT_EQ(terminal->Output().find(raw), std::string::npos)
            << testing::PrintToString(std::string(raw)) << " reached the terminal";
    }
    EndWithEsc(*terminal);
}

}  // namespace

// Broken, huge and hostile input files through the real program in a
// terminal: no crash and no hang, the files' bytes shown as cells of text,
// and the terminal left as it was found.
#include <fcntl.h>
#include <locale.h>
#include <unistd.h>

#include <algorithm>
#include <cwchar>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "terminal_fixture.h"

namespace {

namespace fs = std::filesystem;

constexpr char kHeader[] = "#define NUMBER 257\n#define IDENT 258\n";

// A body line of test_files' listings.
std::string BodyLine(int state, int line) {
    return "state " + std::to_string(state) + " line " + std::to_string(line);
}

// A whole status line from its start.
std::string Status(const std::string& start) { return start + "    Help:[F1]^[Sp]"; }

// Text with NUL bytes in it, as written.
template <std::size_t N>
std::string WithNuls(const char (&text)[N]) {
    return std::string(text, N - 1);
}

// Lines of random bytes from a fixed seed, each opened by bytes a terminal
// would act on, one with a NUL. The random bytes are never a line feed,
// tab, carriage return or NUL, the text's end mark 0x1A, nor a '#' or '+'
// that could begin a definition or a state header.
std::vector<std::string> BinaryLines() {
    const std::vector<std::string> openers = {
        "\x1b[2J", "\x9b" "2J", "\xff\xfe", "\x1b]0;bin\x07", "\x1b[31m", WithNuls("x\0\x7f")};
    const std::string excluded = WithNuls("\n\t\r\x1a#+\0");
    std::mt19937 random(2463534242u);
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < 12; ++i) {
        std::string line = openers[i % openers.size()];
        for (std::size_t length = 30 + random() % 40; line.size() < length;) {
            const char byte = static_cast<char>(random());
            if (excluded.find(byte) == std::string::npos) line += byte;
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
    std::mt19937 random(88675123u);
    for (int k = 0; k < 300; ++k) file += static_cast<char>(random());
    return file;
}

// The character of the UTF-8 sequence at `text`, as the C library decodes
// it, and its length; 0 where the bytes there are no such sequence.
std::size_t Utf8At(const std::string& text, std::size_t at, char32_t* character) {
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    const locale_t previous = uselocale(utf8);
    std::mbstate_t state{};
    wchar_t wide = 0;
    const std::size_t size = std::mbrtowc(&wide, text.data() + at, text.size() - at, &state);
    uselocale(previous);
    *character = static_cast<char32_t>(wide);
    return size >= 2 && size <= 4 ? size : 0;
}

// The bytes of `line` before any NUL fill the 80 cells of `row`: printable
// ASCII as itself, any other byte as `placeholder` or, without one, as a
// printable character of its own, or a UTF-8 sequence as its character in
// one cell; never as the terminal would take the bytes.
void ExpectCells(const PtyTerminal& terminal, int row, const std::string& line,
                 char32_t placeholder = 0) {
    const std::size_t end = std::min<std::size_t>(line.find('\0'), line.size());
    std::size_t at = 0;
    for (int column = 0; column < 80; ++column) {
        const char32_t shown = terminal.Character(row, column);
        const int byte = at < end ? static_cast<unsigned char>(line[at]) : ' ';
        SCOPED_TRACE("row " + std::to_string(row) + " column " + std::to_string(column));
        std::size_t taken = 1;
        char32_t decoded = 0;
        if (byte == ' ') {
            EXPECT_TRUE(shown == U' ' || shown == 0);
        } else if (byte > 0x20 && byte < 0x7f) {
            EXPECT_EQ(shown, static_cast<char32_t>(byte));
        } else if (placeholder != 0) {
            EXPECT_EQ(shown, placeholder) << "byte " << byte;
        } else {
            EXPECT_GE(shown, 0xA0u) << "byte " << byte;
            const std::size_t size = Utf8At(line.substr(0, end), at, &decoded);
            if (size > 0 && shown == decoded) taken = size;
        }
        at += taken;
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

// Four states of five lines.
class BadInputTest : public TerminalFixture {
protected:
    void SetUp() override {
        Write("tokens.h", kHeader);
        Write("listing.lrt", Listing({5, 5, 5, 5}, "a listing\n"));
        Write("trace.txt",
              "trace begins\nat state 1, next token 257\nat state 2, next token 258\n");
    }
};

TEST_F(BadInputTest, FilesThatCannotServeEndWithTheirOwnStatus) {
    Write("binary.h", BinaryFile());
    Write("big.h", "#define BIG 99999999999999999999\n");
    fs::create_directory(Path("folder"));
    const struct { InputFiles files; int status; const char* message; } cases[] = {
        {{"trace.txt", "listing.lrt", "binary.h"}, 2, "Cannot read YACC include file. Exiting"},
        {{"trace.txt", "listing.lrt", "big.h"}, 2, "Cannot read YACC include file. Exiting"},
        {{"trace.txt", "listing.lrt", "folder"}, 2, "Cannot open file!: Is a directory"},
        {{"trace.txt", "folder"}, 3, "Cannot open YACC LRT file!"},
        {{"folder"}, 4, "Cannot open YACC Trace file!: Is a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.files.trace + " " + c.files.listing + " " + c.files.header);
        auto terminal = Launch(c.files);
        ExpectExit(*terminal, c.status);
        EXPECT_TRUE(terminal->ScreenContains(c.message)) << terminal->Dump();
    }
}

TEST_F(BadInputTest, ABinaryListingHasNoStatesAndStillBrowses) {
    Write("binary.lrt", BinaryFile());
    auto terminal = Browse("State    0 of   -1: Next Token: NULL", {"trace.txt", "binary.lrt"});
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
    auto terminal = Browse("State    0 of    3: Next Token: NULL", {"binary.txt"});
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
    std::string trace;
    trace.reserve(26u << 20);
    for (int number = 0; number < 2000000; ++number) trace += line(number) + "\n";
    Write("long.txt", trace);
    auto terminal = Browse("State    0 of    3: Next Token: NULL", {"long.txt"});
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

TEST_F(BadInputTest, OnlyTheFirst65536StatesOfALongerListingAreKept) {
    Write("listing.lrt", Listing(std::vector<int>(66000, 3), "a listing\n"));
    auto terminal = Browse("State    0 of 65535");
    Key(*terminal, "\x1b[F");
    EXPECT_EQ(terminal->Row(kStatusRow), Status("State 65535 of 65535: Next Token: NULL"));
    // The last state kept ends where the next one's header begins.
    EXPECT_EQ(terminal->Row(0), StateHeader(65535));
    EXPECT_EQ(terminal->Row(2), BodyLine(65535, 2));
    EXPECT_EQ(terminal->Row(3), "");
    EXPECT_FALSE(terminal->ScreenContains("STATE 65536")) << terminal->Dump();
    EndWithEsc(*terminal);
    EXPECT_EQ(terminal->Row(4), "State 65536") << terminal->Dump();  // the count at start-up
}

TEST_F(BadInputTest, DefinitionsPastThe4096thAreNotNamed) {
    // Numbered so that the 4097th has the low byte of 'A'.
    std::string header;
    for (int i = 0; i < 4200; ++i) {
        header += "#define T" + std::to_string(i) + " " + std::to_string(321 + i) + "\n";
    }
    Write("tokens.h", header);
    Write("trace.txt", "tokens\nat state 1, next token 4416\nat state 2, next token 4417\n");
    auto terminal = Browse("State    0 of    3");
    Key(*terminal, "+");
    EXPECT_EQ(terminal->Row(kStatusRow), Status("State    1 of    3: Next Token: T4095"));
    Key(*terminal, "+");
    EXPECT_EQ(terminal->Row(kStatusRow), Status("State    2 of    3: Next Token: 'A'"));
    EndWithEsc(*terminal);
}

TEST_F(BadInputTest, AListingDeletedOrEmptiedWhileBrowsing) {
    // Larger than the reader's chunk, so that far states are read afresh.
    Write("listing.lrt", Listing(std::vector<int>(1000, 10), "a listing\n"));
    ASSERT_GT(fs::file_size(Path("listing.lrt")), 3u * 64 * 1024);
    auto terminal = Browse("State    0 of  999");
    Key(*terminal, "\x1b[6~");
    const int file = open(Path("listing.lrt").c_str(), O_RDWR);
    ASSERT_GE(file, 0);
    fs::remove(Path("listing.lrt"));

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
    const struct { const char* key; int state; } moves[] = {
        {"\x1b[H", 0}, {"\x1b[6~", 1}, {"\x1b[F", 999}, {"\x1b[5~", 998}};
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

// Control bytes and escape sequences in the listing and the trace show as
// characters of their own: pictures where the locale has them, a
// placeholder each where it does not.
TEST_F(BadInputTest, ControlBytesAndEscapeSequencesShowAsText) {
    const std::vector<std::string> hostile = {
        "\fAB\x1b[31mCD\x1b]0;pwned\x07" "EF\x1b[2J\x01\x7f\xb0\xdb\tI",
        "clip \x1b]52;c;aGk=\x07 end", "c1 \x9b" "2J end",
        // UTF-8: printable characters of one cell; then a C1 control, an
        // overlong form, a surrogate, a wide character, a combining mark, a
        // non-character, a direction override and a sequence cut short.
        "u8 \xe2\x80\xa2\xce\xb5\xf0\x9d\x90\x80|\xc2\x9b|\xe0\x82\xa2|\xed\xa0\x80|\xe4\xb8\xad|"
        "\xcc\x81|\xef\xbf\xbe|\xe2\x80\xae|\xe2\x80x"};
    std::string listing = "a listing\n" + StateHeader(0) + "\n";
    for (const std::string& line : hostile) listing += line + "\n";
    Write("listing.lrt", listing + "after\n" + StateHeader(1) + "\n");
    const std::string traceLine = "osc \x1b]0;trace\x07 c1 \x9b" "31m end";
    Write("trace.txt", traceLine + "\n");
    // Every byte of the first line one cell; its tab runs to column 32.
    const struct { const char* locale; const char* first, *utf8; char32_t placeholder; } cases[] = {
        {"C.UTF-8",
         "\u2640AB\u2190[31mCD\u2190]0;pwned\u2022EF\u2190[2J\u263A\u2302\u2591\u2588  I",
         "u8 \u2022\u03b5\U0001D400|\u252c\u00a2|\u03b1\u00e9\u00f3|\u03c6\u00e1\u00c7|"
         "\u03a3\u2555\u00a1|\u2560\u00fc|\u2229\u2510\u255b|\u0393\u00c7\u00ab|\u0393\u00c7x",
         0},
        {"C", "?AB?[31mCD?]0;pwned?EF?[2J????  I", nullptr, U'?'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale);
        PtyTerminal::Options options;
        options.locale = c.locale;
        auto terminal = Browse("State    0 of    1: Next Token: NULL", {}, options);
        EXPECT_EQ(terminal->Row(0), StateHeader(0));
        EXPECT_EQ(terminal->Row(1), c.first);
        EXPECT_EQ(terminal->Character(1, 32), U'I');
        EXPECT_EQ(terminal->Foreground(1, 8), CellColour::Default());  // "CD" after the CSI
        ExpectCells(*terminal, 2, hostile[1], c.placeholder);
        ExpectCells(*terminal, 3, hostile[2], c.placeholder);
        if (c.utf8 != nullptr) {
            EXPECT_EQ(terminal->Row(4), c.utf8);
        } else {
            ExpectCells(*terminal, 4, hostile[3], c.placeholder);
        }
        EXPECT_EQ(terminal->Row(5), "after");
        ExpectCells(*terminal, kTraceRow, traceLine, c.placeholder);
        EXPECT_EQ(terminal->Row(kStatusRow), Status("State    0 of    1: Next Token: NULL"));
        EXPECT_EQ(terminal->Title(), "");
        for (const char* raw : {"\x1b]0;pwned", "\x1b[31mCD", "EF\x1b[2J", "\x07" "EF", "\f",
                                "\x1b]52;", "\x9b" "2J", "\x1b]0;trace", "\x9b" "31m",
                                "\xc2\x9b", "\xe2\x80\xae"}) {
            EXPECT_EQ(terminal->Output().find(raw), std::string::npos)
                << testing::PrintToString(std::string(raw)) << " reached the terminal";
        }
        EndWithEsc(*terminal);
    }
}

}  // namespace

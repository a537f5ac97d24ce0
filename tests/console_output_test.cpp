// Positioned output, screen clearing and the failure report, through the
// in-memory console.
#include <gtest/gtest.h>

#include <cerrno>
#include <regex>
#include <string>
#include <vector>

#include "console_report.h"
#include "kwt.h"
#include "memory_console.h"
#include "platform/error_text.h"

namespace mc = memory_console;

namespace {

class ConsoleOutput : public ::testing::Test {
protected:
    void SetUp() override { mc::Reset(); }
    ConsoleHandle Out() { return mc::Output(); }
};

TEST_F(ConsoleOutput, TextfPadsAndCutsToTheFieldAndGivesItsLength) {
    const std::string hundred(100, 'h');
    EXPECT_EQ(Textf(Out(), 3, 0, "%-79.79s", hundred.c_str()), 79);
    EXPECT_EQ(mc::Row(3), std::string(79, 'h') + " ");
    EXPECT_EQ(Textf(Out(), 4, 5, "%-79.79s", "ab"), 79);
    EXPECT_EQ(mc::Row(4).substr(0, 8), "     ab ");
    EXPECT_EQ(mc::CursorRow(), 4);
    EXPECT_EQ(Textf(Out(), 5, 0, "%s", "PgUp"), 4);
    EXPECT_TRUE(mc::Questions().empty());
}

TEST_F(ConsoleOutput, TextfNeverWritesPastItsBuffer) {
    mc::Reset(300, 25);
    const std::string longText(400, 'z');
    EXPECT_EQ(Textf(Out(), 0, 0, "%s", longText.c_str()), static_cast<int>(kTextfBufferSize) - 1);
    // However wide the console, nothing goes past column 79.
    EXPECT_EQ(mc::Row(0).find_first_not_of('z'), 80u);
}

TEST_F(ConsoleOutput, FileBytesBecomeSingleCells) {
    const std::string hostile = "a\x1b[2Jb\x07\x08\r\nc\x9b\xff\x7f" "d";
    Text(Out(), 2, 0, hostile.c_str());
    const std::string row = mc::Row(2);
    EXPECT_EQ(row.substr(0, hostile.size()), hostile);  // one cell per byte, in place
    EXPECT_EQ(mc::CursorColumn(), static_cast<int>(hostile.size()));
    for (int other : {1, 3}) EXPECT_EQ(mc::Row(other), std::string(80, ' '));
}

TEST_F(ConsoleOutput, TabsMoveToTheNextMultipleOfEightWithinTheRow) {
    Text(Out(), 0, 0, "a\tb\t\tc");
    EXPECT_EQ(mc::Row(0).substr(0, 25), "a       b               c");
    Text(Out(), 1, 76, "x\ty");
    EXPECT_EQ(mc::Row(1).substr(76), "x   ");
    EXPECT_EQ(mc::Row(2), std::string(80, ' '));
    // In a wider console too, tabs and text stop at column 79.
    mc::Reset(100, 25);
    Text(Out(), 0, 0, "\t\t\t\t\t\t\t\t\t\tZ");
    EXPECT_EQ(mc::Row(0), std::string(100, ' '));
}

TEST_F(ConsoleOutput, ClsBlanksTheWholeBufferInTheCurrentAttribute) {
    mc::Reset(80, 50, 0x07);  // a buffer taller than the screen
    Text(Out(), 0, 0, "top");
    Text(Out(), 49, 70, "bottom");
    ASSERT_TRUE(ConsoleSetAttribute(Out(), 0xF0));
    cls(Out());
    for (int row : {0, 24, 49}) {
        EXPECT_EQ(mc::Row(row), std::string(80, ' '));
        EXPECT_EQ(mc::At(row, 79).attribute, 0xF0);
        EXPECT_EQ(mc::At(row, 0).attribute, 0xF0);
    }
    EXPECT_EQ(mc::CursorRow(), 0);
    EXPECT_EQ(mc::CursorColumn(), 0);
    EXPECT_TRUE(mc::Questions().empty());
}

TEST_F(ConsoleOutput, ClsAfterAFailedSizeQueryClearsTheStandardScreen) {
    mc::Reset(100, 30, 0x1E);
    ASSERT_TRUE(ConsoleFillCharacter(Out(), '#', 100 * 30, 0, 0, nullptr));
    mc::FailNext(mc::Operation::kGetBufferInfo, 1, 6);
    mc::AnswerNext(true);
    cls(Out());
    ASSERT_EQ(mc::Questions().size(), 1u);
    ExpectReport(0, "kwt", "GetConsoleScreenBufferInfo", 6, "ConsoleGetBufferInfo");
    // 80 x 25 cells counted from the top-left run on across the wider rows.
    EXPECT_EQ(mc::Row(0), std::string(100, ' '));
    EXPECT_EQ(mc::Row(19), std::string(100, ' '));
    EXPECT_EQ(mc::Row(20), std::string(100, '#'));
    EXPECT_EQ(mc::At(0, 0).attribute, 0x1E);
}

TEST_F(ConsoleOutput, EveryFailingCallIsReportedWithItsUnitLabelLineAndCode) {
    struct Case {
        mc::Operation operation;
        std::string unit, label, call;
        bool viaCls;
    };
    const std::vector<Case> cases = {
        {mc::Operation::kSetCursor, "text", "SetConsoleCursorPosition", "ConsoleSetCursor", false},
        {mc::Operation::kFillCharacter, "kwt", "FillConsoleOutputCharacter", "ConsoleFillCharacter", true},
        {mc::Operation::kFillAttribute, "kwt", "FillConsoleOutputAttribute", "ConsoleFillAttribute", true},
        {mc::Operation::kSetCursor, "kwt", "SetConsoleCursorPosition", "ConsoleSetCursor", true},
    };
    for (const Case& c : cases) {
        mc::Reset();
        mc::FailNext(c.operation, 1, 31);
        mc::AnswerNext(true);
        if (c.viaCls) {
            cls(Out());
        } else {
            Text(Out(), 1, 1, "x");
        }
        ASSERT_EQ(mc::Questions().size(), 1u) << c.label;
        ExpectReport(0, c.unit, c.label, 31, c.call);
        EXPECT_EQ(mc::WarningTones(), 1);
    }
}

TEST_F(ConsoleOutput, AFailedWriteIsReportedTwice) {
    mc::FailNext(mc::Operation::kWrite, 1, 5);
    mc::AnswerNext(true);
    mc::AnswerNext(true);
    Text(Out(), 0, 0, "lost");
    ASSERT_EQ(mc::Questions().size(), 2u);
    ExpectReport(0, "text", "WriteConsole", 5, "ConsoleWrite");
    ExpectReport(1, "text", "myPuts", 5, "myPuts(");
}

TEST_F(ConsoleOutput, APositionOutsideTheBufferFails) {
    mc::Reset(80, 20);
    mc::AnswerNext(true);
    Text(Out(), 22, 0, "beyond");
    ASSERT_EQ(mc::Questions().size(), 1u);
    ExpectReport(0, "text", "SetConsoleCursorPosition", EINVAL, "ConsoleSetCursor");
}

TEST_F(ConsoleOutput, TheReportCarriesTheSystemTextInFortyColumnLines) {
    mc::AnswerNext(true);
    perr("process", 42, "ReadConsoleInput", ENOENT);
    ASSERT_EQ(mc::Questions().size(), 1u);
    EXPECT_EQ(mc::Questions()[0].text,
              "process: Error " + std::to_string(ENOENT) +
                  " from ReadConsoleInput on line 42:\nNo such file or directory\n\nContinue execution?");
#ifdef ELIBMAX  // the Windows C runtime has no text longer than a line
    mc::AnswerNext(true);
    perr("kwt", 7, "GetConsoleScreenBufferInfo", ELIBMAX);
    ASSERT_EQ(mc::Questions().size(), 2u);
    const Report report = ParseReport(mc::Questions()[1].text);
    EXPECT_EQ(report.rest,
              "Attempting to link in too many shared\nlibraries\n\nContinue execution?");
#endif
}

TEST(ErrorText, WrapsAtBlanksAndCutsWordsLongerThanALine) {
    EXPECT_EQ(WrapText("  one  two\r\nthree "), "one two three");
    EXPECT_EQ(WrapText(std::string(39, 'a').append(" b c").c_str()), std::string(39, 'a') + "\nb c");
    EXPECT_EQ(WrapText(std::string(40, 'a').append(" b").c_str()), std::string(40, 'a') + "\nb");
    EXPECT_EQ(WrapText(std::string(90, 'w').c_str()),
              std::string(40, 'w') + "\n" + std::string(40, 'w') + "\n" + std::string(10, 'w'));
    EXPECT_EQ(WrapText(""), "");
}

TEST_F(ConsoleOutput, WithoutSystemTextTheReportSaysSo) {
    mc::FailNext(mc::Operation::kErrorText, 1, 317);
    mc::AnswerNext(true);
    perr("text", 12, "WriteConsole", 6);
    ASSERT_EQ(mc::Questions().size(), 1u);
    const Report report = ParseReport(mc::Questions()[0].text);
    EXPECT_EQ(report.unit, "text");
    const std::regex fallback(
        R"(^Unable to obtain error message text! \nkwt: Error 317 from FormatMessage on line (\d+)\n\nContinue execution\?$)");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(report.rest, match, fallback)) << report.rest;
    EXPECT_NE(SourceLine("kwt", std::stoi(match[1])).find("ConsoleErrorText"), std::string::npos);
}

TEST_F(ConsoleOutput, ALongLabelIsCutSoTheQuestionAlwaysEndsTheReport) {
    const std::string huge(3000, 'L');
    mc::AnswerNext(true);
    perr("kwt", 1, huge.c_str(), 2);
    ASSERT_EQ(mc::Questions().size(), 1u);
    const std::string& text = mc::Questions()[0].text;
    EXPECT_EQ(text.size(), kReportSize - 1);
    EXPECT_EQ(text.substr(text.size() - 21), "\n\nContinue execution?");
}

TEST(ErrorTextDeath, ADeclinedReportEndsTheProgramWithStatus1) {
    EXPECT_EXIT(
        {
            mc::Reset();
            mc::AnswerNext(false);
            perr("kwt", 1, "SetConsoleTextAttribute", 6);
        },
        ::testing::ExitedWithCode(1), "");
}

}  // namespace

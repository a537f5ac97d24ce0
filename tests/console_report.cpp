#include "console_report.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "memory_console.h"

namespace mc = memory_console;

Report ParseReport(const std::string& text) {
    static const std::regex first(R"(^(\w+): Error (-?\d+) from (\w+) on line (\d+):\n)");
    std::smatch match;
    Report report;
    if (std::regex_search(text, match, first)) {
        report.unit = match[1];
        report.code = std::stoi(match[2]);
        report.label = match[3];
        report.line = std::stoi(match[4]);
        report.rest = match.suffix();
    }
    return report;
}

std::string SourceLine(const std::string& unit, int line) {
    std::ifstream source(std::string(KWT_SOURCE_DIR) + "/" + unit + ".cpp");
    std::string text;
    for (int i = 0; i < line && std::getline(source, text); ++i) {
    }
    return text;
}

void ExpectReport(std::size_t index, const std::string& unit, const std::string& label, int code,
                  const std::string& call) {
    ASSERT_LT(index, mc::Questions().size());
    EXPECT_EQ(mc::Questions()[index].caption, "Console API Error");
    const Report report = ParseReport(mc::Questions()[index].text);
    EXPECT_EQ(report.unit, unit);
    EXPECT_EQ(report.label, label);
    EXPECT_EQ(report.code, code);
    // The line named is the failing call's own.
    const std::string reportLine = SourceLine(unit, report.line);
    EXPECT_NE(reportLine.find(call), std::string::npos)
        << unit << ".cpp line " << report.line << ": " << reportLine;
    EXPECT_NE(reportLine.find("__LINE__"), std::string::npos)
        << unit << ".cpp line " << report.line << ": " << reportLine;
}

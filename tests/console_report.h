// Reading back the failure reports the program put to the in-memory
// console's question.
#pragma once

#include <cstddef>
#include <string>

struct Report {
    std::string unit;
    int code = 0;
    std::string label;
    int line = 0;
    std::string rest;  // everything after the first line
};

// Splits "<unit>: Error <code> from <label> on line <line>:\n<rest>";
// an empty unit when the text does not start that way.
Report ParseReport(const std::string& text);

// Line `line` (counted from 1) of src/<unit>.cpp.
std::string SourceLine(const std::string& unit, int line);

// Question `index` reports a failure of `label` in `unit` with `code`,
// under the caption "Console API Error", and its line is that of `call`,
// the failing console operation itself.
void ExpectReport(std::size_t index, const std::string& unit, const std::string& label, int code,
                  const std::string& call);

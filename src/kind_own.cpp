// kwt's own format. Its trace names the state and the token by number
// (`at state S, next token T`, `error: pop state P, recover state R`) and
// records no stack; its listing opens each state's block with a framed
// header, `+---` ... `STATE N` at column 32.
#include <cctype>
#include <cstring>

#include "kinds.h"

namespace {

// ---- the trace ---------------------------------------------------------------------------

// Matches `pattern` at the start of `text` the way a scanf format's literal
// text does: characters must be equal, and a blank in the pattern matches
// any run of white space, none included.
bool MatchWords(const char*& text, const char* pattern) {
    const char* p = text;
    for (; *pattern != '\0'; ++pattern) {
        if (*pattern == ' ') {
            while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
        } else if (*p == *pattern) {
            ++p;
        } else {
            return false;
        }
    }
    text = p;
    return true;
}

// Scans "<first>%d<second>%d" from the start of `line`.
bool ScanTwoNumbers(const char* line, const char* first, const char* second, int32_t* a,
                    int32_t* b) {
    const char* p = line;
    return MatchWords(p, first) && ScanInt32(p, a) && MatchWords(p, second) && ScanInt32(p, b);
}

bool Recognise(const char* line) {
    int32_t a = 0;
    int32_t b = 0;
    return ScanTwoNumbers(line, "at state ", ", next token ", &a, &b) ||
           ScanTwoNumbers(line, "error: pop state ", ", recover state ", &a, &b);
}

// No lookahead read yet, and an error on the first line read is a new one.
ParserView NoView() {
    ParserView view;
    view.tokenName = kNoTokenName;
    view.flags = kNewErrorAllowed;
    return view;
}

// A line that names no state keeps the state on screen; one that names a
// state (never state 0) makes the state on screen its return state. A run
// of error lines is one error.
void Interpret(ParserView& view, const TraceLine& line, uint32_t screen) {
    view.state = screen;
    int32_t state = 0;
    int32_t token = 0;
    if (ScanTwoNumbers(line.head, "at state ", ", next token ", &state, &token) && state > 0 &&
        static_cast<uint32_t>(state) < nStates) {
        view.returnState = screen;
        view.state = static_cast<uint32_t>(state);
        view.token = token;
        view.tokenName = 0;  // the header names it
    }
    int32_t popped = 0;
    int32_t recovery = 0;
    if (ScanTwoNumbers(line.head, "error: pop state ", ", recover state ", &popped, &recovery) &&
        recovery > 0 && static_cast<uint32_t>(recovery) < nStates) {
        view.returnState = screen;
        view.state = static_cast<uint32_t>(recovery);
    }
    view.flags = !line.holdsNoErrorKey && IsYaccErrorLine(line) ? 0 : kNewErrorAllowed;
}

// ---- the listing -------------------------------------------------------------------------

constexpr char kHeaderStart[] = "+---";
constexpr std::size_t kHeaderStartLength = sizeof kHeaderStart - 1;
constexpr char kHeaderWord[] = "STATE ";
constexpr std::size_t kHeaderWordLength = sizeof kHeaderWord - 1;
constexpr std::size_t kHeaderWordColumn = 31;

// The states are numbered by the order of their headers, not by what the
// header writes.
bool IsHeader(const char* piece, uint32_t* number) {
    *number = 0;
    if (std::strncmp(piece, kHeaderStart, kHeaderStartLength) != 0) return false;
    if (std::strlen(piece) < kHeaderWordColumn + kHeaderWordLength) return false;
    return std::strncmp(piece + kHeaderWordColumn, kHeaderWord, kHeaderWordLength) == 0;
}

bool MayMatter(unsigned char first) { return first == '+'; }

}  // namespace

const Kind kKindOwn{
    "kwt",
    {Recognise, NoView, Interpret, IsYaccErrorLine, "rror", "RROR", false, true, true, nullptr},
    {IsHeader, MayMatter, true, nullptr, nullptr, nullptr, ParseYaccItem, nullptr, nullptr},
    nullptr,
};

// The parser's debug trace: read one line per step, and the two line forms
// that name a parser state move the display to that state.
#include <cctype>
#include <cstdio>

#include "kwt.h"

TextFile* pfileTrace = nullptr;
TextLine szTrace{};
int32_t nToken = 0;
uint32_t nCurrentState = 0;

namespace {

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

// States named by the trace must be known states; state 0 is never entered.
bool IsStateToEnter(int32_t state) {
    return state > 0 && static_cast<uint32_t>(state) < nStates;
}

void EnterState(int32_t state) {
    nCurrentState = nState;
    nState = static_cast<uint32_t>(state);
    LoadLRT();
}

}  // namespace

bool OpenTrace(const char* path) {
    pfileTrace = TextOpen(path);
    if (pfileTrace == nullptr) {
        std::perror("Cannot open YACC Trace file!");
        return false;
    }
    return true;
}

bool ReadTrace() { return ReadTextLine(pfileTrace, szTrace); }

void ParseTrace() {
    int32_t state = 0;
    int32_t token = 0;
    if (ScanTwoNumbers(szTrace.data(), "at state ", ", next token ", &state, &token) &&
        IsStateToEnter(state)) {
        EnterState(state);
        nToken = token;
    }
    int32_t popped = 0;
    int32_t recovery = 0;
    if (ScanTwoNumbers(szTrace.data(), "error: pop state ", ", recover state ", &popped,
                       &recovery) &&
        IsStateToEnter(recovery)) {
        EnterState(recovery);
    }
}

TraceState SaveTraceState() { return TraceState{nState, nToken, nCurrentState, szTrace}; }

void RestoreTraceState(const TraceState& saved) {
    nState = saved.state;
    nToken = saved.token;
    nCurrentState = saved.returnState;
    szTrace = saved.line;
}

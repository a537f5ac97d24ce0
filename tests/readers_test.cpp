// Reading rules of the three input files, one row each (the fuzz seeds check invariants over whole
// files).
#include <gtest/gtest.h>

#include <string>

#include "support.h"

namespace {

// `reader`: 'h' a token header; 'l' a listing (every state's block); 't' a trace whose first line
// is shown, then, with state 2 shown, return state 1 and token 11, the rest read and interpreted
// (the last line once more as a replay reads it), over 10 states after bison's terminals; 'n' the
// name of the token before '|' with the header after it; 'a' a listing's accessing symbols and
// first items, rule lengths and terminals. `read` is what the reader made of it.
struct FormatRow {
    char reader;
    std::string input, read;
};

// `count` lines made by `line`, built in code so that tables fill cheaply.
std::string Lines(std::size_t count, std::string (*line)(std::size_t)) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += line(i);
    return text;
}

const std::string kOwn = "at state 1, next token 3\n";
const std::string kByacc = "yydebug[0]: state 0, shifting to state 3\n";
const std::string kBison = "Starting parse\n";
const std::string kConflict = "14: shift/reduce conflict (shift 27, reduce 18) on '%'";
const std::string kDeep = "Stack now 0 1" + std::string(60, ' ') + "2 3 4 6";  // 80 columns
const std::string kLemon = "p: Input 'A' in state 0\n";  // tells the prefix: "p: "
const std::string kDashes(52, '-');
const std::string kMoved = " back 2 token 11 (none)";  // byacc and bison: no token read yet
const std::string kStill = "2 back 1 token 11 (none)";

const FormatRow kFormatRows[] = {
    {'h',
     "#define IDENT 257\n#DEFINE NUMBER\t  258\n#define HEX 0x10\n#define NEG -5 /* c */\n#define "
     "BIG 2147483648\n"
     "#define MIN -2147483648\n",
     "IDENT=257 NUMBER=258 HEX=0 NEG=-5 MIN=-2147483648"},
    {'h', "#define\tTAB 1\n  #define INDENTED 2\n#define GUARD\n#define TYPE int\n", ""},
    {'h', "#define " + std::string(23, 'N') + "XYZ 1\n#define " + std::string(64, 'M') + "42 2\n",
     std::string(23, 'N') + "XYZ=1 " + std::string(63, 'M') + "=2"},
    {'h',
     "  enum yytokentype\n  {\n    YYEMPTY = -2,\n    YYEOF = 0,   /* \"end of file\"  */\n"
     "    NUMBER = 258,  /* NUMBER  */\n        TOK_PLUS=259 // \"+\"\n    LAST = 267\r\n"
     "    STATEMENT = 5;\n    SUM = a + 1,\n    HEX = 0x10,\n    TRAILING = 12 more,\n    = 4,\n"
     "    1X = 4,\n    BIG = 2147483648,\n  };\n#define IDENT 300\n",
     "YYEMPTY=-2 YYEOF=0 NUMBER=258 TOK_PLUS=259 LAST=267 IDENT=300"},
    {'h', std::string(64, 'E') + " = 7\n", std::string(63, 'E') + "=7"},
    {'h', std::string(511, 'x') + "#define CUT 5\n",
     "CUT=5"},  // a line's rest past 511 reads as a line
    {'h',
     Lines(kSymbolsMax + 88,
           [](std::size_t i) {
               return (i % 2 ? "#define T" : "  T") + std::to_string(i) + (i % 2 ? " " : " = ") +
                      std::to_string(1000 + i) + "\n";
           }),
     "T0=1000 .. T4095=5095 (4096)"},
    {'l', StateHeader(7) + "\n+---" + std::string(27, '-') + "STATE \n",
     StateHeader(7) + " / +---" + std::string(27, '-') + "STATE "},
    {'l', "+--x" + StateHeader(7).substr(4) + "\n " + StateHeader(7) + "\n+---short STATE \n", ""},
    {'l',
     "  0  $accept : program $end\n\f\nstate 0\n\tA\n\n1" + kConflict.substr(2) + "\nstate 1\n\tB",
     "state 0|\tA| / 1" + kConflict.substr(2) + "|state 1|\tB"},
    {'l',
     "state 0\n\n" + kConflict +
         "\n14: reduce/reduce conflict (reduce 1, reduce 2) on X\nstate 14\nC\n",
     "state 0| / " + kConflict +
         "|14: reduce/reduce conflict (reduce 1, reduce 2) on X|state 14|C"},
    {'l', "state 0\n" + kConflict + std::string(30, 'x') + "\nstate 14\n",
     "state 0|" + kConflict + std::string(26, 'x') + "|xxxx / state 14"},
    {'l', "state 0\n3: shift/reduce conflict\n" + kConflict + "\nstate 14\n",
     "state 0|3: shift/reduce conflict / " + kConflict + "|state 14"},
    {'l', "state 0\n3: shift/reduce conflict\nstate 4\nstate 5\n" + kConflict + "\n\nstate 14\n",
     "state 0|3: shift/reduce conflict / state 4 / state 5|" + kConflict + "| / state 14"},
    {'l',
     "State 15 conflicts: 1 shift/reduce\nGrammar\nState 0\n\n    0 $accept: . program $end\n"
     "State 1 \r\nstate 2\nState 14 contains 1 shift/reduce conflict.\n",
     "State 0||    0 $accept: . program $end / State 1 |state 2|State 14 contains 1 shift/reduce "
     "conflict."},
    {'l',
     "state\nstate x\nstate 1x\nstate -1\n state 1\nstates 1\nState  1\nstate 1234567890\n"
     "State 3 conflicts: 1\nstate 0 ",
     "state 0 "},
    {'l', StateHeader(0) + "\nstate 1\nState 2\n" + StateHeader(1) + "\n",
     StateHeader(0) + "|state 1|State 2 / " + StateHeader(1)},
    {'l', "state 0\n" + StateHeader(1) + "\nState 2\nstate 1\n",
     "state 0|" + StateHeader(1) + "|State 2 / state 1"},
    {'l', "State 0\n" + std::string(80, '-') + "State 1\n",
     "State 0|" + std::string(80, '-') + "|State 1"},
    {'l', std::string(80, '-') + StateHeader(0) + "\n", StateHeader(0)},  // kwt's own: any piece
    {'l',
     std::string(10, '\t') + std::string(80, '=') + StateHeader(0) + std::string(20, '-') + "\nx\n",
     StateHeader(0) + std::string(11, '-') + "|" + std::string(9, '-') + "|x"},
    {'l',
     Lines(kStatesMax + 64, [](std::size_t i) { return "state " + std::to_string(i) + "\nx\n"; }),
     "state 0|x / .. / state 65535|x (65536)"},
    {'l',
     "state 0\n" +
         Lines(kLRTLinesMax + 88, [](std::size_t i) { return "l" + std::to_string(i) + "\n"; }),
     "state 0|..|l8190 (8192)"},
    {'a',
     "Zustand 3 Konflikte: 1\n\nGrammatik\n\n    0 $accept: s $end\n\n    1 s: %empty\n"
     "    2  | s 'a' \"b c\"\n\nTerminale\n\n    $end (0) 0\n    'a' (97) 2\n\nNicht-Terminal\n\n"
     "    $accept (5)\n\nZustand 0\n\n    0 $accept: • s $end\n    1 s: ε •\n\nZustand 1\n\n"
     "    1 s: ε •\n    2  | s • 'a' \"b c\"\nZustand 2x\n",
     "[]    0 $accept: • s $end / [s]    2  | s • 'a' \"b c\" rules 203 tokens 2"},
    {'a',
     "   0  $accept : s $end\n\n   1  s :\n   2    | s '+' \"==\"\n\f\nstate 0\n"
     "\t$accept : . s $end  (0)\n\ts : .  (1)\n\n\t.  reduce 1\n\n"
     "1: shift/reduce conflict (shift 3, reduce 1) on '+'\nstate 1\n\t$accept : s . $end  (0)\n",
     "[]\t$accept : . s $end  (0) / [s]\t$accept : s . $end  (0) rules 203 tokens 0"},
    {'a',
     "    0  $accept : s $end\n    1  s : /* empty */\n    65536  s : x\n" + StateHeader(0) +
         "\n  kernel items\n    $accept : . s $end   rule  0\n" + StateHeader(1) +
         "\n  The start: nothing.\n    s : s '+' .   rule  2\n",
     "[]    $accept : . s $end   rule  0 / ['+']    s : s '+' .   rule  2 rules 20 tokens 0"},
    // Terminals past the token table's end are passed over.
    {'a',
     "Grammar\n\n    0 $accept: s $end\n\nTerminals, with rules where they appear\n\n" +
         Lines(4097,
               [](std::size_t i) {
                   return "    T" + std::to_string(i) + " (" + std::to_string(i + 258) + ") 1\n";
               }) +
         "\nState 0\n\n    0 $accept: • s $end\n",
     "[]    0 $accept: • s $end rules 2 tokens 4096"},
    {'l', "State 0:\nA\n" + kDashes + "\nState 1:\n", "State 0:|A"},
    {'a',
     "State 0:\n          program ::= * s\n     (19) s ::= *\n\n           s shift    2\n"
     "State 1:\n     (11) program ::= s *\n" +
         kDashes + "\nState 2:\n",
     "[]          program ::= * s / [s]     (11) program ::= s * rules  tokens 0"},
    {'a', std::string(5000, 'y') + "\nstate 0\n14: shift/reduce conflict . x\nstate 14\n",
     "[]- / []- rules  tokens 0"},  // state 14's conflict line is no item of state 0
    {'t', kOwn + "at state 5, next token 257", "5 back 2 token 257 '^A'"},
    {'t', kOwn + "at   state\t3,next token   +43 and more", "3 back 2 token 43 '+'"},
    {'t', kOwn + "at state 2, next token 44", "2 back 2 token 44 ','"},
    {'t', kOwn + "error: pop state 7, recover state 3", "3 back 2 token 11 (none)"},
    {'t',
     kOwn + "at state 0, next token 257\nat state 10, next token 257\nat state 5 , next token 257",
     "2 back 1 token 11 (none)"},
    {'t',
     kOwn + "at state 4294967301, next token 257\nerror: pop state 7, recover state 0\n3, next "
            "token 43",
     "2 back 1 token 11 (none)"},
    {'t', kOwn + "Entering state 5\nyydebug[1]: state 6, reading token 1 (A)",
     "2 back 1 token 11 (none)"},
    {'t', kByacc + "yydebug: state 5, reading 41 (')') <1.5>", "5 back 2 token 41 ')' [5]"},
    // A state past the listing's last is taken as the trace says.
    {'t', kByacc + "yydebug[9]: state 12, reading token 40 ('(')", "12 back 2 token 40 '(' [12]"},
    // A depth that names another state than the stack held there: the trace's holds.
    {'t', kByacc + "yydebug[1]: state 3, reading 40 ('(')\nyydebug[1]: state 5, reading 40 ('(')",
     "5 back 3 token 40 '(' [5]"},
    {'t', kByacc + "yydebug[9,trial]: state 12, reading token 40 ('(')",
     "12 back 2 token 40 '(' [12]"},
    {'t', kByacc + "yydebug[9,-1]: state 12, reading token 40 ('(')",
     "12 back 2 token 40 '(' [12]"},
    {'t', kByacc + "yydebug[1]: state 4, reading token 300 (NO_CLOSE",
     "4 back 2 token 300 ',' [4]"},
    {'t', kByacc + "calcdebug[2]: after reduction, shifting from state 3 to state 7",
     "7" + kMoved + " [3 7]"},
    {'t', kByacc + "yydebug: after reduction, result is <to state 9>, shifting from 0 to state 1",
     "1" + kMoved + " [1]"},
    // Without depths, a reduction pops as many states as its rule has symbols.
    {'t',
     kByacc + "yydebug: state 0, reading 257 (N)\nyydebug: state 0, shifting to state 3\n"
              "yydebug: state 3, reducing by rule 2 (e : N)\n"
              "yydebug: after reduction, shifting from state 0 to state 7\n"
              "yydebug: error recovery discarding state 7",
     "7 back 3 token 257 N [0]"},
    {'t',
     kByacc + "state 5, reading token 257 (NUMBER)\nline 3: syntax error\nyydebug[3]: state -1, x\n"
              "yydebug[3]: state 5 shifting\nyydebug[3]: state 4294967301, reading token 257 (N)\n"
              "Entering state 5\nat state 5, next token 1",
     kStill},
    {'t',
     kByacc + "yydebug[2]: after reduction, result is <" + std::string(18, 'v') +
         ">, shifting from state 3 to state 75\nyydebug[5]: error recovery discarding state 3x",
     "75" + kMoved + " [3 75]"},
    {'t', kBison + "Entering state 5 ", "5" + kMoved + " [5]"},
    {'t',
     kBison + "Stack now 0 4 6x\nStack now \nEntering state 10\nEntering state "
              "99999999999\nEntering state -1",
     "10" + kMoved + " [10]"},
    {'t', kBison + kDeep + "7\n" + kDeep.substr(0, 79), "4 back 67 token 11 (none) [0 1 2 3 4]"},
    // A short line after one longer than a head (not a stack: it ends in x) shares nothing with
    // the short one before it.
    {'t',
     kBison + "Stack now 0 1 2\nStack now 0" +
         Lines(3000, [](std::size_t) { return std::string(" 5"); }) + "x\nStack now 0 1 2 3",
     "3 back 2 token 11 (none) [0 1 2 3]"},
    // A deep stack's line of many kilobytes is read whole, up to its CR LF.
    {'t',
     kBison + "Stack now 0" + Lines(3000, [](std::size_t) { return std::string(" 9"); }) + "\r",
     "9" + kMoved + " [0" + Lines(3000, [](std::size_t) { return std::string(" 9"); }) + "]"},
    {'t',
     kBison + "LAC: checking lookahead ';': R7 G5 S3\n" + std::string(80, 'x') + "Entering state 5",
     kStill},
    // The kind is the first line's of any kind's form, however far in.
    {'t', Lines(20000, [](std::size_t) { return std::string("x\n"); }) + "Entering state 5",
     "5" + kMoved + " [5]"},
    {'t',
     kBison +
         "Reducing stack by rule 5 (line 7):\n   $1 = token NUMBER (5)\nat state 5, next token 1",
     kStill},
    // A rule past the listing's: its length is not known, and no table is read for it.
    {'t', kBison + "Reduced stack 0 by rule 2147483647 (line 7); action deferred.  Now in state 5.",
     "5 back 2 token 11 (none)"},
    {'t', kBison + "Next token is token \"==\" (x)", "2 back 1 token 261 \"==\""},
    {'t', kBison + "Reading a token: Next token is token \"==\" (x)", "2 back 1 token 261 \"==\""},
    // A merged stack is gone: the view follows the one it merged into.
    {'t',
     kBison + "Entering state 5\nSplitting off stack 1 from 0.\nStack 1 Entering state 6\n"
              "Merging stack 1 into stack 0.",
     "5 back 6 token 11 (none) [5]"},
    {'t', kBison + "Next token is token \"a\\\"b\" (x)", "2 back 1 token 262 \"a\\\"b\""},
    {'t', kBison + "Next token is token == (x)", "2 back 1 token 261 =="},
    {'t', kBison + "Next token is token '(' ())", "2 back 1 token 40 '('"},
    {'t', kBison + "Next token is token \"a b\" (x) y)", "2 back 1 token 11 \"a b\""},
    {'t', kBison + "Next token is token some name (x (y))", "2 back 1 token 11 some name"},
    {'t', kBison + "Next token is token unclosed", "2 back 1 token 11 unclosed"},
    // lemon: a stack that disagrees with the trace is not known; a line without the prefix is the
    // program's own; a Return line is read whole, past its first 4 KB.
    {'t', kLemon + "p: Shift 'A', go to state 3\np: Return. Stack=[B]", "3 back 2 token 0 (none)"},
    {'t', kLemon + "p: Input 'B' in state 0\np: Shift 'B', go to state 3\np: Popping A\nPopping B",
     "3 back 0 token 0 (none)"},
    {'t', kLemon + "p: Input 'A' in state 4", "4 back 2 token 11 A"},
    {'t', kLemon + "p: Input 'A' in state 4\nq: Input 'B' in state 5", "4 back 2 token 11 A"},
    // A line that starts in one of lemon's forms but ends otherwise is the program's own.
    {'t', kLemon + "p: Input 'A' in state 4\np: Input 'B' in state 5x", "4 back 2 token 11 A"},
    // A parse that starts again starts with a stack of state 0 alone.
    {'t',
     kLemon + "p: Shift 'A', go to state 3\np: Input 'B' in state 0\np: Shift 'B', go to state 5",
     "5 back 0 token 0 (none) [0 5]"},
    {'t', kLemon + "p: Shift 'A', go to state 3\np: Return. Stack=[A A]",
     "3 back 2 token 0 (none)"},
    // The names written out for one Return line are kept for the next only below its new top.
    {'t',
     kLemon + "p: Shift 'A', go to state 3\np: Shift 'B', go to state 4\np: Return. Stack=[A B]\n"
              "p: Popping B\np: Shift 'C', go to state 5\np: Return. Stack=[A C]",
     "5 back 3 token 0 (none) [0 3 5]"},
    {'t',
     kLemon + "p: Shift 'A', go to state 3\np: Shift 'B', go to state 4\np: Return. Stack=[A B]\n"
              "p: Popping B\np: Shift 'C', go to state 5\np: Return. Stack=[A B]",
     "5 back 3 token 0 (none)"},
    // A name longer than the table keeps is compared as far as it keeps it.
    {'t',
     kLemon + "p: Shift '" + std::string(70, 'A') + "', go to state 3\np: Return. Stack=[" +
         std::string(70, 'A') + "]",
     "3 back 2 token 0 (none) [0 3]"},
    {'t', "Input 'A' in state 0\nShift 'A', go to state 3\nShift 'A', pending reduce 1",
     "3 back 2 token 0 (none) [0 3 4294967294]"},
    {'t',
     kLemon +
         Lines(2100, [](std::size_t) { return std::string("p: Shift 'A', go to state 3\n"); }) +
         "p: Return. Stack=[" + Lines(2100, [](std::size_t) { return std::string("A "); }) + "]",
     "3 back 2 token 0 (none) [0" + Lines(2100, [](std::size_t) { return std::string(" 3"); }) +
         "]"},
    {'t',
     kLemon +
         Lines(2100, [](std::size_t) { return std::string("p: Shift 'A', go to state 3\n"); }) +
         "p: Return. Stack=[" + Lines(2099, [](std::size_t) { return std::string("A "); }) + "B]",
     "3 back 2 token 0 (none)"},
    {'n', "257|#define IDENT 257\n#define OTHER 257\n", "IDENT"},
    {'n', "-1|#define IDENT 257\n", "EOF"},
    {'n', "0|#define IDENT 257\n", "NULL"},
    {'n', "-1|#define END -1\n", "END"},
    {'n', "266|", "'^J'"},
    {'n', "10|#define IDENT 257\n", "'^J'"},
    {'n', "256|", "'^@'"},
    {'n', "32|", "' '"},
    {'n', "-2|#define IDENT 257\n", "'^>'"},
    {'n', "556|#define IDENT 257\n", "','"},
    {'n', "-2147483648|#define IDENT 257\n", "'^@'"},
};

// The items joined; more than eight as the first, the last and the count.
std::string Join(const std::vector<std::string>& items, const std::string& separator) {
    const std::string count = " (" + std::to_string(items.size()) + ")";
    if (items.size() > 8) return items[0] + separator + ".." + separator + items.back() + count;
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) text += (i > 0 ? separator : "") + items[i];
    return text;
}

std::string Read(const FormatRow& row, const TempDir& dir) {
    ResetProgramState();
    std::vector<std::string> read;
    if (row.reader == 'h' || row.reader == 'n') {
        ReadInclude(
            dir.Write("yytab.h", row.input.substr(row.reader == 'n' ? row.input.find('|') + 1 : 0))
                .c_str());
        ParserView view;
        if (row.reader == 'n') return view.token = std::stoi(row.input), TokenName(view);
        for (uint16_t i = 0; i < sSymbols; ++i)
            read.push_back(szSymbol[i].data() + ("=" + std::to_string(nSymbol[i])));
        return Join(read, " ");
    }
    if (row.reader == 'a') {
        OpenListingQuietly(dir.Write("yy.lrt", row.input));
        for (uint32_t k = 0; k < nStates; ++k) {
            TextLine item{};
            read.push_back("[" + std::string(AccessingSymbol(k)) + "]" +
                           (ReadFirstItem(k, item) ? item.data() : "-"));
        }
        std::string rules;
        for (uint32_t rule = 0; RuleLength(rule) >= 0; ++rule)
            rules += std::to_string(RuleLength(rule));
        return Join(read, " / ") + " rules " + rules + " tokens " + std::to_string(sSymbols);
    }
    if (row.reader == 'l') {
        OpenListingQuietly(dir.Write("yy.lrt", row.input));
        for (nState = 0; nState < nStates; ++nState) {
            LoadLRT();
            std::vector<std::string> block;
            for (uint32_t i = 0; i < nLRTLines; ++i) block.push_back(szLRT[i].data());
            read.push_back(Join(block, "|"));
        }
        return Join(read, " / ");
    }
    const std::string terminals =
        "Terminals, with rules where they appear\n\n    $end (0) 0\n    '(' (40) 7 8\n"
        "    \"a\\\"b\" (262) 9\n    NUMBER <value> (258) 11\n    \"==\" (261) 12\n\n"
        "Nonterminals, with rules where they appear\n    NOT_A_TERMINAL (300)\n";
    OpenListingQuietly(dir.Write("yy.lrt", terminals + Listing(std::vector<int>(10, 2))));
    OpenTrace(dir.Write("trace", row.input + "\n").c_str());
    TracePiece piece;
    ReadTracePiece(0, &piece);
    ParserView view = FirstView(), before;
    view.state = nState = 2, view.returnState = 1, view.token = 11;
    int64_t last = 0;
    for (int64_t at = piece.next; ReadTracePiece(at, &piece); at = piece.next) {
        last = at, before = view;
        FollowPiece(view, piece, view.state);
    }
    const auto shown = [](const ParserView& seen) {
        std::string stack;
        for (StackHandle entry = seen.stacks[0]; entry != kEmptyStack && entry != kUnknownStack;
             entry = StackBelow(entry)) {
            stack = std::to_string(StackState(entry)) + (stack.empty() ? "" : " ") + stack;
        }
        return std::to_string(seen.state) + " back " + std::to_string(seen.returnState) +
               " token " + std::to_string(seen.token) + " " + TokenName(seen) +
               (stack.empty() ? "" : " [" + stack + "]");
    };
    const std::string result = shown(view);
    // The last step again as a replay does it: from its offset, with the view before it.
    if (ReadTracePiece(last, &piece)) FollowPiece(before, piece, before.state);
    return shown(before) == result ? result : result + ", replayed " + shown(before);
}

TEST(Readers, FormatRules) {
    TempDir dir;
    for (const FormatRow& row : kFormatRows) {
        EXPECT_EQ(Read(row, dir), row.read) << row.reader << ": " << row.input.substr(0, 300);
    }
    ResetProgramState();
}

}  // namespace

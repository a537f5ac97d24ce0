// The program without a terminal: start-up order, messages on the right
// stream and exit statuses, one row per run.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "support.h"

namespace {

const std::string kBanner = "Zorvex DeBugger [KWT], Version 2.0\n"
    "Replays an LR parser's debug trace against its state listing.\n\n";
const std::string kUsage = kBanner +
    "Need the name of the YACC include file. Exiting\nexample: " KWT_BINARY " kwt.err yy.lrt yytab.h\n";
const std::string kIndexed = kBanner + "Reading the state file...\nState    3\n";

// Arguments use $T (a trace), $L (a listing of 3 states), $H (a header),
// $D (a directory), $E (the examples directory); stdin is /dev/null.
// `out`: all of stdout, or its start when it ends with "..."; `err`: a part of stderr.
struct ProgramRow { const char* arguments; int status; std::string out, err; };

const ProgramRow kProgramRows[] = {
    {"", 1, kUsage, ""}, {"$T $L", 1, kUsage, ""},
    {"$T $L $D/absent.h", 2, kBanner + "Cannot read YACC include file. Exiting\n",
     "Cannot open file!: No such file or directory\n"},
    {"$T $L $D/empty.h", 2, kBanner + "Cannot read YACC include file. Exiting\n", ""},
    {"$T $L $D", 2, kBanner + "Cannot read YACC include file. Exiting\n", "Is a directory"},
    {"$T $D/absent.lrt $H", 3, kBanner,
     "Cannot open YACC LRT file! Use '-v' flag with YACC: No such file or directory\n"},
    {"$T $D $H", 3, kBanner, "Cannot open YACC LRT file! Use '-v' flag with YACC: Is a directory\n"},
    {"$D/absent.err $L $H", 4, kIndexed, "Cannot open YACC Trace file!: No such file or directory\n"},
    {"$D $L $H", 4, kIndexed, "Is a directory"},
    // No terminal: the first console call fails and the report, declined, ends it.
    {"$T $L $H extra", 1, kIndexed + "NULL handle, process error\n",
     "kwt: Error 9 from GetConsoleScreenBufferInfo on line "},
    {"$E/kwt.err $E/yy.lrt $E/yytab.h", 1,
     kBanner + "Reading the state file...\nState   10\rState   20\r...", "Continue execution?"},
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(Program, StartUpTable) {
    TempDir dir;
    dir.Write("kwt.err", "starting\nat state 1, next token 257\n");
    dir.Write("yy.lrt", Listing({2, 3, 2}));
    dir.Write("yytab.h", "#define IDENT 257\n");
    dir.Write("empty.h", "#define GUARD\n\x01\x02\xff");
    const std::string names[][2] = {{"$T", dir.Path("kwt.err")}, {"$L", dir.Path("yy.lrt")}, {"$H", dir.Path("yytab.h")},
                                    {"$D", dir.Path().substr(0, dir.Path().size() - 1)}, {"$E", KWT_EXAMPLES_DIR}};
    for (const ProgramRow& row : kProgramRows) {
        SCOPED_TRACE(row.arguments);
        std::string command = std::string(KWT_BINARY " ") + row.arguments;
        for (const auto& [name, path] : names) {
            for (std::size_t at; (at = command.find(name)) != std::string::npos;) command.replace(at, 2, path);
        }
        const int wait = std::system((command + " </dev/null >" + dir.Path("out") + " 2>" + dir.Path("err")).c_str());
        EXPECT_EQ(WIFEXITED(wait) ? WEXITSTATUS(wait) : -1, row.status);
        const std::string out = ReadAll(dir.Path("out")), err = ReadAll(dir.Path("err"));
        const bool prefix = row.out.size() > 3 && row.out.compare(row.out.size() - 3, 3, "...") == 0;
        const std::size_t compared = prefix ? row.out.size() - 3 : std::string::npos;  // npos: all of it
        EXPECT_EQ(out.substr(0, compared), row.out.substr(0, compared));
        EXPECT_NE(err.find(row.err), std::string::npos) << err;
        EXPECT_TRUE(!row.err.empty() || err.empty()) << err;  // no row.err: nothing on stderr
    }
}

}  // namespace

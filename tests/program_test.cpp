// The real program as a subprocess without a terminal: start-up order,
// messages on the right stream and exit statuses.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "test_files.h"

namespace {

const std::string kBanner =
    "Zorvex DeBugger [KWT], Version 2.0\n"
    "Replays an LR parser's debug trace against its state listing.\n\n";

struct Outcome {
    int status = -1;  // exit status, or -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Runs kwt with `arguments`, standard input from /dev/null and both output
// streams into files; gives up (and fails) after `seconds`.
Outcome RunKwt(const std::vector<std::string>& arguments, int seconds = 20) {
    TempDir scratch;
    const std::string outPath = scratch.Path("out");
    const std::string errPath = scratch.Path("err");
    const pid_t child = fork();
    if (child == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(KWT_BINARY));
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(KWT_BINARY, argv.data());
        _exit(127);
    }
    Outcome run;
    int waitStatus = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (waitpid(child, &waitStatus, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &waitStatus, 0);
            ADD_FAILURE() << "kwt did not end within " << seconds << " s";
            return run;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(waitStatus)) run.status = WEXITSTATUS(waitStatus);
    run.out = ReadWholeFile(outPath);
    run.err = ReadWholeFile(errPath);
    return run;
}

class Program : public ::testing::Test {
protected:
    void SetUp() override {
        trace = dir.Write("kwt.err", "starting\nat state 1, next token 257\n");
        listing = dir.Write("yy.lrt", Listing({2, 3, 2}));
        header = dir.Write("yytab.h", "#define IDENT 257\n");
    }
    TempDir dir;
    std::string trace, listing, header;
};

TEST_F(Program, WithoutThreeFilesItShowsUsage) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{}, std::vector<std::string>{"a", "b"}}) {
        const Outcome run = RunKwt(arguments);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, kBanner + "Need the name of the YACC include file. Exiting\n"
                                     "example: " KWT_BINARY " kwt.err yy.lrt yytab.h\n");
        EXPECT_EQ(run.err, "");
    }
}

TEST_F(Program, AMissingHeaderEndsWith2BeforeTheListingIsRead) {
    const Outcome run = RunKwt({trace, listing, dir.Path("absent.h")});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, kBanner + "Cannot read YACC include file. Exiting\n");
    EXPECT_EQ(run.err, "Cannot open file!: No such file or directory\n");
}

TEST_F(Program, AHeaderWithoutDefinitionsEndsWith2) {
    const Outcome run = RunKwt({trace, listing, dir.Write("empty.h", "#define GUARD\n")});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, kBanner + "Cannot read YACC include file. Exiting\n");
    EXPECT_EQ(run.err, "");
}

TEST_F(Program, AMissingListingEndsWith3) {
    const Outcome run = RunKwt({trace, dir.Path("absent.lrt"), header});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, kBanner);
    EXPECT_EQ(run.err,
              "Cannot open YACC LRT file! Use '-v' flag with YACC: No such file or directory\n");
}

TEST_F(Program, AMissingTraceEndsWith4AfterTheListingIsRead) {
    const Outcome run = RunKwt({dir.Path("absent.err"), listing, header});
    EXPECT_EQ(run.status, 4);
    EXPECT_EQ(run.out, kBanner + "Reading the state file...\nState    3\n");
    EXPECT_EQ(run.err, "Cannot open YACC Trace file!: No such file or directory\n");
}

TEST_F(Program, DirectoriesAreRefusedWithTheirInputsStatus) {
    EXPECT_EQ(RunKwt({trace, listing, dir.path()}).status, 2);
    const Outcome listingRun = RunKwt({trace, dir.path(), header});
    EXPECT_EQ(listingRun.status, 3);
    EXPECT_EQ(listingRun.err,
              "Cannot open YACC LRT file! Use '-v' flag with YACC: Is a directory\n");
    EXPECT_EQ(RunKwt({dir.path(), listing, header}).status, 4);
}

TEST_F(Program, WithoutATerminalItStopsAtTheFirstConsoleFailure) {
    // Extra arguments change nothing.
    const Outcome run = RunKwt({trace, listing, header, "extra", "more"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, kBanner + "Reading the state file...\nState    3\nNULL handle, process error\n");
    EXPECT_NE(run.err.find("kwt: Error 9 from GetConsoleScreenBufferInfo on line "), std::string::npos)
        << run.err;
}

TEST_F(Program, TheExampleFilesIndexWithProgress) {
    const std::string examples = KWT_EXAMPLES_DIR;
    const Outcome run = RunKwt({examples + "/kwt.err", examples + "/yy.lrt", examples + "/yytab.h"});
    EXPECT_EQ(run.out.rfind(kBanner + "Reading the state file...\nState   10\rState   20\r", 0), 0u)
        << run.out;
    EXPECT_EQ(run.status, 1);  // no terminal to browse on
}

}  // namespace

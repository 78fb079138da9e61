// The command line: which mode runs, what is echoed, and the exit codes.
// Each case runs vrxpr-sim on an empty storage (the description also the
// Linux build) and checks that a rejected command line never reaches a
// device.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run.h"
#include "texts.h"

namespace {

const char kEmpty[] = "{}";

}  // namespace

TEST(Options, HelpInEitherCase)
{
    for (const char* opt : {"-h", "-H"}) {
        SimRun run = RunSim({opt}, kEmpty);
        EXPECT_EQ(run.r.code, 0) << opt;
        EXPECT_EQ(run.r.out, kHelpEn) << opt;
        EXPECT_TRUE(OpenedDevices(run.stateText).empty());
    }
}

TEST(Options, DescriptionWaitsForOneCharacter)
{
    // The simulated storage's build and the Linux build, each in English.
    struct Build {
        const char* name;
        std::string exe;
    } const builds[] = {{"vrxpr-sim", SimExe()}, {"vrxpr", LinuxExe()}};
    for (const Build& b : builds) {
        std::string dir = MakeTempDir();
        WriteFile(dir + "/state.json", kEmpty);
        RunOptions base;
        base.env = {{"VRXPR_SIM_STATE", dir + "/state.json"}};
        base.unsetEnv = {"LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE"};
        base.timeoutSec = 20;

        // At end of input the read returns at once; a key already typed
        // is read the same.
        for (const char* input : {"", "k\n"}) {
            RunOptions opt = base;
            opt.input = input;
            RunResult r = RunProgram(b.exe, {}, opt);
            EXPECT_EQ(r.code, 0) << b.name << " input \"" << input << '"';
            EXPECT_EQ(r.out, kDescriptionEn) << b.name;
        }

        // The key typed only once the whole text is out: the program is
        // still running then, and ends on that one character with input
        // left open.
        RunOptions opt = base;
        opt.closeInput = false;
        opt.steps = {{kDescriptionEn, "k"}};
        opt.answerDelayMs = 500;
        RunResult r = RunProgram(b.exe, {}, opt);
        EXPECT_EQ(r.outAtAnswer, std::vector<std::string>{kDescriptionEn}) << b.name;
        EXPECT_EQ(r.runningAtAnswer, std::vector<bool>{true}) << b.name;
        EXPECT_FALSE(r.timedOut) << b.name;
        EXPECT_EQ(r.code, 0) << b.name;
        EXPECT_EQ(r.out, kDescriptionEn) << b.name;
    }
}

TEST(Options, ConflictingAndRepeatedOptionsEchoWhatWasTyped)
{
    struct Case {
        std::vector<std::string> args;
        std::string echo;
    } cases[] = {
        {{"-c", "-d"}, "-c -d"},
        {{"-d", "-d"}, "-d -d"},
        {{"-D", "-d"}, "-D -d"},
        {{"-h", "-C"}, "-h -C"},
        {{"-c", "-d", "-h"}, "-c -d -h"},
        {{"-c", "-c", "-c"}, "-c -c -c"},
    };
    for (const Case& c : cases) {
        SimRun run = RunSim(c.args, kEmpty);
        EXPECT_EQ(run.r.code, 2) << c.echo;
        EXPECT_EQ(run.r.out, MsgConflict(c.echo));
        EXPECT_TRUE(OpenedDevices(run.stateText).empty()) << c.echo;
    }
}

TEST(Options, UnrecognisedArgumentWinsAndStopsParsing)
{
    struct Case {
        std::vector<std::string> args;
        std::string bad;
    } cases[] = {
        {{"-d", "-x"}, "-x"},  {{"-x", "-d"}, "-x"},  {{"-cd"}, "-cd"},
        {{"c"}, "c"},          {{"-c", "-d", "d"}, "d"}, {{"-x", "-y"}, "-x"},
        {{""}, ""},            {{"-d "}, "-d "},
    };
    for (const Case& c : cases) {
        SimRun run = RunSim(c.args, kEmpty);
        EXPECT_EQ(run.r.code, 2) << c.bad;
        EXPECT_EQ(run.r.out, MsgInvalid(c.bad));
        EXPECT_TRUE(OpenedDevices(run.stateText).empty()) << c.bad;
    }
}

TEST(Options, HugeArgumentIsPrintedWhole)
{
    std::string big(100 * 1024, 'A');
    big[0] = '-';
    SimRun run = RunSim({"-d", big}, kEmpty);
    EXPECT_EQ(run.r.code, 2);
    EXPECT_EQ(run.r.out, MsgInvalid(big));
}

TEST(Options, EchoKeepsOnlyWhatFitsItsBuffer)
{
    // Each further "-d" adds three characters; the echo stops at 1022.
    std::vector<std::string> args(400, "-d");
    std::string echo = "-d";
    while (echo.size() + 2 < 1023) echo += " -d";
    ASSERT_EQ(echo.size(), 1022u);
    SimRun run = RunSim(args, kEmpty);
    EXPECT_EQ(run.r.code, 2);
    EXPECT_EQ(run.r.out, MsgConflict(echo));
}

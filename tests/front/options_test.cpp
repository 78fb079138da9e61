// The command line: which mode runs, what is echoed, and the exit codes.
// Each case runs vrxpr-sim on an empty storage and checks that a rejected
// command line never reaches a device.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run.h"
#include "texts.h"

namespace {

const char kDescriptionFirstLine[] =
    "This utility is for releasing a Persistent Reserve existing on an LU.\n";
const char kDescriptionLastLine[] =
    "release operation. To view details on how to use the utility, execute\n"
    "\"vrxpr -h\".\n";

const char kEmpty[] = "{}";

std::string Conflict(const std::string& echo)
{
    return "ROVT10644-W The specified parameters cannot be specified at the same time. parameter = " +
           echo + "\n";
}

std::string Invalid(const std::string& arg)
{
    return "ROVT10646-W A parameter is invalid. parameter = " + arg + "\n";
}

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
    // At end of input the read returns at once.
    SimRun eof = RunSim({}, kEmpty);
    EXPECT_EQ(eof.r.code, 0);
    ASSERT_GT(eof.r.out.size(), sizeof kDescriptionLastLine);
    EXPECT_EQ(eof.r.out.rfind(kDescriptionFirstLine, 0), 0u);
    EXPECT_EQ(eof.r.out.substr(eof.r.out.size() - (sizeof kDescriptionLastLine - 1)),
              kDescriptionLastLine);
    EXPECT_EQ(eof.r.out.size(), 560u);

    SimRun key = RunSim({}, kEmpty, "k\n");
    EXPECT_EQ(key.r.code, 0);
    EXPECT_EQ(key.r.out, eof.r.out);

    // With nothing typed yet the process is still waiting for the key.
    std::string dir = MakeTempDir();
    WriteFile(dir + "/state.json", kEmpty);
    RunOptions opt;
    opt.env = {{"VRXPR_SIM_STATE", dir + "/state.json"}};
    opt.closeInput = false;
    opt.timeoutSec = 2;
    RunResult waiting = RunProgram(SimExe(), {}, opt);
    EXPECT_TRUE(waiting.timedOut);
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
        EXPECT_EQ(run.r.out, Conflict(c.echo));
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
        EXPECT_EQ(run.r.out, Invalid(c.bad));
        EXPECT_TRUE(OpenedDevices(run.stateText).empty()) << c.bad;
    }
}

TEST(Options, HugeArgumentIsPrintedWhole)
{
    std::string big(100 * 1024, 'A');
    big[0] = '-';
    SimRun run = RunSim({"-d", big}, kEmpty);
    EXPECT_EQ(run.r.code, 2);
    EXPECT_EQ(run.r.out, Invalid(big));
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
    EXPECT_EQ(run.r.out, Conflict(echo));
}

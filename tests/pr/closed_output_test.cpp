// A reader that went away before the run wrote a byte, with SIGPIPE at its
// default action as a shell leaves it: each run still ends through the exit
// routine with its own code, and the storage keeps what the run did. Output
// that cannot be written for any other reason (a full disk) ends the run
// with code 3 and says so on standard error.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pr_storage.h"

namespace {

const char* const kRegs = R"([{"host": "node-b", "key": "0x4E4F44454230303F"}])";
const char* const kResv = R"({"host": "node-b", "type": 5})";

SimRun RunClosed(const std::vector<std::string>& args, const std::string& storage,
                 const std::string& input)
{
    RunOptions opt;
    opt.input = input;
    opt.defaultSigpipe = true;
    opt.outputClosed = true;
    return RunSimWith(args, storage, opt);
}

// Enough rows that the listing is written while the run goes on, not only
// at its end.
std::string ManyLus(int count)
{
    std::vector<TestLu> lus;
    for (int i = 0; i < count; ++i)
        lus.push_back({"lu" + std::to_string(i), 1, i, i, Managed(kRegs, kResv)});
    return Storage(lus);
}

std::vector<std::string> Cdbs(const std::string& stateText)
{
    std::vector<std::string> out;
    for (const PrRequest& r : PrRequests(stateText)) out.push_back(r.cdb);
    return out;
}

const std::string one = Storage({{"quorum", 1, 0, 4, Managed(kRegs, kResv)}});
const std::vector<std::string> in = {kCdbReadKeys, kCdbReadResv};
// The clear mode reads the LU's identity before READ KEYS and each change.
const std::vector<std::string> clearIn = {kCdbIdentity, kCdbReadKeys, kCdbReadResv};
// The survey of ManyLus(120).
std::vector<std::string> ManyIn()
{
    std::vector<std::string> many;
    for (int i = 0; i < 120; ++i) many.insert(many.end(), in.begin(), in.end());
    return many;
}

TEST(PrClosedOutput, EveryRunKeepsItsExitCodeAndItsCommands)
{
    // The LU's drive reports another port: no drive reaches it.
    std::string noDrive = one;
    const std::string from = "{\"drive\": 4, \"port\": 2";
    noDrive.replace(noDrive.find(from), from.size(), "{\"drive\": 4, \"port\": 3");
    struct {
        const char* Name;
        std::vector<std::string> Args;
        std::string Storage;
        std::string Input;
        int Code;
        std::vector<std::string> Sent;
    } const rows[] = {
        {"display", {"-d"}, one, "", 0, in},
        {"display past the output buffer", {"-d"}, ManyLus(120), "", 0, ManyIn()},
        // The LU is read again after the last answer, before REGISTER.
        {"clear", {"-c"}, one, "0\ny\ny\n", 0,
         {kCdbIdentity, kCdbReadKeys, kCdbReadResv, kCdbIdentity, kCdbReadKeys, kCdbReadResv,
          kCdbIdentity, kCdbRegister, kCdbIdentity, kCdbClear}},
        {"clear cancelled", {"-c"}, one, "0\nn\n", 1, clearIn},
        {"clear at end of input", {"-c"}, one, "", 3, clearIn},
        {"help", {"-h"}, one, "", 0, {}},
        {"no drive for the LU", {"-d"}, noDrive, "", 3, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        SimRun run = RunClosed(row.Args, row.Storage, row.Input);
        EXPECT_EQ(run.r.signal, 0);
        EXPECT_EQ(run.r.code, row.Code) << run.r.err;
        EXPECT_EQ(run.r.err, "");
        EXPECT_EQ(Cdbs(run.stateText), row.Sent);
    }
}

TEST(PrFullOutput, RunEndsWithCodeThreeAndNoQuestionIsActedOn)
{
    struct {
        const char* Name;
        std::vector<std::string> Args;
        std::string Storage;
        std::string Input;
        std::vector<std::string> Sent;
    } const rows[] = {
        {"display", {"-d"}, one, "", in},
        {"display past the output buffer", {"-d"}, ManyLus(120), "", ManyIn()},
        // The listing and the question never showed: the answers are not
        // taken, and nothing past the survey is sent.
        {"clear answered yes", {"-c"}, one, "0\ny\ny\n", clearIn},
        {"clear cancelled", {"-c"}, one, "0\nn\n", clearIn},
        {"no LU", {"-d"}, Storage({}), "", {}},
        {"help", {"-h"}, one, "", {}},
        {"description", {}, one, "\n", {}},
        {"bad option", {"-x"}, one, "", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        RunOptions opt;
        opt.input = row.Input;
        opt.defaultSigpipe = true;
        opt.outputPath = "/dev/full";
        SimRun run = RunSimWith(row.Args, row.Storage, opt);
        EXPECT_EQ(run.r.signal, 0);
        EXPECT_EQ(run.r.code, 3);
        EXPECT_EQ(run.r.err, "vrxpr: cannot write standard output: No space left on device\n");
        EXPECT_EQ(Cdbs(run.stateText), row.Sent);
    }
}

TEST(PrClosedOutput, ClearedLuStaysClearedInTheStorage)
{
    SimRun run = RunClosed({"-c"}, Storage({{"quorum", 1, 0, 4, Managed(kRegs, kResv)}}),
                           "0\ny\ny\n");
    EXPECT_EQ(run.r.code, 0);
    SimRun after = RunSim({"-d"}, run.stateText);
    EXPECT_EQ(after.r.out, kHeader + std::string("000000 0002.0000.0000000000000001.0000     0    "
                                                 "---------------- None\n") +
                               kDone);
    EXPECT_EQ(after.r.code, 0);
}

}  // namespace

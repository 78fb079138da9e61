// Out of memory: each of the utility's own allocations made to fail in
// turn (vrxpr-sim-nomem) ends the run with message 15 and exit code 3,
// before anything is listed and with no reservation changed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pr_storage.h"
#include "run.h"

namespace {

// a (PathID 0, drive 4) registered and reserved, b (1, drive 6) registered.
std::string TwoLus()
{
    return Storage({{"a", 1, 0, 4,
                     Managed(R"([{"host": "node-b", "key": "0x4E4F44454230303F"}])",
                             R"({"host": "node-b", "type": 5})")},
                    {"b", 1, 1, 6, Managed(R"([{"host": "node-c", "key": "0x0000000000000002"}])")}});
}

// failAt 0: nothing fails.
SimRun RunFailing(const std::string& exe, const std::vector<std::string>& args, int failAt)
{
    std::string dir = MakeTempDir();
    WriteFile(dir + "/state.json", TwoLus());
    RunOptions opt;
    opt.input = "0\ny\ny\n";
    opt.cwd = dir;
    opt.env = {{"VRXPR_SIM_STATE", dir + "/state.json"},
               {"VRXPR_TEST_FAIL_ALLOC", std::to_string(failAt)}};
    SimRun run;
    run.r = RunProgram(exe, args, opt);
    run.stateText = ReadFile(dir + "/state.json");
    return run;
}

// "LU CDB" of each command sent, in order.
std::vector<std::string> Sent(const std::string& stateText)
{
    std::vector<std::string> sent;
    for (const PrRequest& r : PrRequests(stateText)) sent.push_back(r.lu + " " + r.cdb);
    return sent;
}

bool DriveOpened(const std::string& stateText)
{
    for (const std::string& name : OpenedDevices(stateText))
        if (name.find("PhysicalDrive") != std::string::npos) return true;
    return false;
}

std::string Cmd(const char* lu, const char* cdb) { return std::string(lu) + " " + cdb; }

}  // namespace

TEST(NoMemory, EveryAllocationThatFailsEndsWithMessage15)
{
    const std::vector<std::string> clear = {"-c"}, display = {"-d"};
    struct Row {
        const char* what;
        std::vector<std::string> args;
        int failAt;  // the utility's own allocations, counted from 1
        bool drivesScanned;
        std::vector<std::string> sent;
    } const rows[] = {
        {"port 2's data area", clear, 1, false, {}},
        {"port 2's marks of records seen", clear, 2, false, {}},
        {"the first LU's node", clear, 3, false, {}},
        {"the second LU's node", clear, 4, false, {}},
        {"the reservation table", clear, 5, true, {}},
        {"the reservation table, display mode", display, 5, true, {}},
        {"the first LU's identity", clear, 6, true, {Cmd("a", kCdbIdentity), Cmd("a", kCdbReadKeys)}},
        {"the second LU's identity", clear, 7, true,
         {Cmd("a", kCdbIdentity), Cmd("a", kCdbReadKeys), Cmd("a", kCdbReadResv), Cmd("b", kCdbIdentity),
          Cmd("b", kCdbReadKeys)}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        SimRun run = RunFailing(SimNoMemExe(), row.args, row.failAt);
        EXPECT_EQ(run.r.out, kNoMemory);
        EXPECT_EQ(run.r.code, 3) << run.r.err;
        EXPECT_EQ(run.r.err, "");
        EXPECT_EQ(DriveOpened(run.stateText), row.drivesScanned);
        EXPECT_EQ(Sent(run.stateText), row.sent);
    }

    // One past the last row, nothing fails: the run is the utility's own,
    // so the rows above are every allocation it makes.
    for (const auto& [args, past] : {std::pair{clear, 8}, std::pair{display, 6}}) {
        SCOPED_TRACE(args[0]);
        SimRun whole = RunFailing(SimExe(), args, 0);
        ASSERT_EQ(whole.r.code, 0) << whole.r.out;
        SimRun run = RunFailing(SimNoMemExe(), args, past);
        EXPECT_EQ(run.r.out, whole.r.out);
        EXPECT_EQ(run.r.code, 0);
        EXPECT_EQ(Sent(run.stateText), Sent(whole.stateText));
    }
}

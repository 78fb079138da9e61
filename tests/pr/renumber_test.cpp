// Drives renumbered while a clear waits for the operator: the clear reaches
// the LU that was listed and chosen, or nothing at all.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pr_storage.h"
#include "run.h"
#include "sim.h"

namespace {

const char* const kLus[] = {"quorum", "archive", "sqldata", "backup"};
const char* const kQuorumName = "0002.0000.0000000000000001.0000";

// Moves drives as a host does when disks come and go; run under the
// storage's own lock, as any other user of the file.
const char* const kRenumber = R"PY(import json, sys
path, how = sys.argv[1], sys.argv[2]
with open(path) as f:
    state = json.load(f)
drives = {d["drive"]: d for d in state["drives"]}
addr = ("port", "path", "target", "lun", "lu")
def swap(a, b):
    for k in addr:
        drives[a][k], drives[b][k] = drives[b][k], drives[a][k]
if how == "unmanaged":
    swap(1, 2)
elif how == "managed":
    swap(1, 3)
elif how == "others":
    swap(2, 3)
elif how == "noaddress":
    for k in addr:
        del drives[1][k]
    drives[1]["address_error"] = 1
elif how == "gone":
    state["drives"] = [d for d in state["drives"] if d["drive"] != 1]
with open(path, "w") as f:
    json.dump(state, f)
)PY";

struct RenumberCase {
    const char* how;
    int at;
    int code;
    std::string tail;  // what follows the second confirmation
};

class PrRenumbered : public ::testing::TestWithParam<RenumberCase> {};

TEST_P(PrRenumbered, ReachesTheChosenLuOrNothing)
{
    const RenumberCase& c = GetParam();
    SimRun listed = RunSim({"-d"}, SimSampleText());
    ASSERT_EQ(listed.r.code, 0);
    const std::string done = kDone;
    std::string listing = listed.r.out.substr(0, listed.r.out.size() - done.size());

    std::string dir = MakeTempDir();
    WriteFile(dir + "/state.json", SimSampleText());
    RunResult r = RunClearChanging(dir, kRenumber, c.how, c.at);
    ASSERT_FALSE(r.timedOut);
    ASSERT_EQ(r.out, std::to_string(c.code) + "\n") << r.err << ReadFile(dir + "/err");

    EXPECT_EQ(ReadFile(dir + "/out"),
              listing +
                  "ROVT10655-I Specify the PathID of the LU for which you want to clear persistent "
                  "reservation information. (To cancel, press the x key):"
                  "ROVT10656-I The persistent reservation information of PathID = 0 will be "
                  "cleared. Is this OK? [y/n]:"
                  "ROVT10657-I If you continue this process, the reservation of the LU you "
                  "specified will be cleared. Please confirm that no other servers are accessing "
                  "this LU. [y/n]:" +
                  c.tail);

    std::string after = ReadFile(dir + "/state.json");
    std::vector<std::string> outs;
    for (const PrRequest& q : PrRequests(after))
        if (q.cdb.rfind("5F", 0) == 0) outs.push_back(std::to_string(q.drive) + ":" + q.lu + ":" + q.cdb);
    for (const char* lu : kLus) {
        if (c.code == 0 && std::string(lu) == "quorum") continue;
        EXPECT_EQ(PrState(after, lu), PrState(SimSampleText(), lu)) << lu;
    }
    if (c.code == 0) {
        EXPECT_EQ(outs, (std::vector<std::string>{"1:quorum:" + std::string(kCdbRegister),
                                                  "1:quorum:" + std::string(kCdbClear)}));
        EXPECT_EQ(PrState(after, "quorum"), "registrations: reservation:");
    } else {
        EXPECT_TRUE(outs.empty());
    }
}

const std::string kNoDrive =
    std::string("ROVT10667-C An attempt to the get physical drive number failed. LU = ") + kQuorumName +
    "\n";

INSTANTIATE_TEST_SUITE_P(
    Clear, PrRenumbered,
    ::testing::Values(
        RenumberCase{"unmanaged", 1, 3, kNoDrive}, RenumberCase{"unmanaged", 2, 3, kNoDrive},
        RenumberCase{"unmanaged", 3, 3, kNoDrive}, RenumberCase{"managed", 1, 3, kNoDrive},
        RenumberCase{"managed", 2, 3, kNoDrive}, RenumberCase{"managed", 3, 3, kNoDrive},
        RenumberCase{"noaddress", 1, 3, kNoDrive}, RenumberCase{"noaddress", 3, 3, kNoDrive},
        // A drive that no longer exists fails to open, as before.
        RenumberCase{"gone", 2, 3,
                     "ROVT10668-E An attempt to open a device failed. Device name = "
                     "\\\\.\\PhysicalDrive1\n"},
        RenumberCase{"others", 2, 0,
                     "ROVT10658-I The persistent reservation information of PathID = 0 was "
                     "cleared.\n" +
                         std::string(kDone)}),
    [](const ::testing::TestParamInfo<RenumberCase>& info) {
        return std::string(info.param.how) + "AtPrompt" + std::to_string(info.param.at);
    });

}  // namespace

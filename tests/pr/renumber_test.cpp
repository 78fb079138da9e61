// The storage changed while a clear waits for the operator, drives
// renumbered or another LU presented at the listed address: the clear
// reaches the LU that was listed and chosen, or nothing at all.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json.h"
#include "pr_storage.h"
#include "run.h"
#include "sim.h"

namespace {

const char* const kLus[] = {"quorum", "archive", "sqldata", "backup"};
const char* const kQuorumName = "0002.0000.0000000000000001.0000";
const std::string kPrompts = kAskPathId + MsgConfirm1(0) + kConfirm2;
const std::string kNoDrive = MsgNoDrive(kQuorumName);
const std::string kCleared = MsgCleared(0) + kDone;

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

// "LU:TARGET:LUN": that LU now answers at port 2's TARGET and LUN, as when
// an array maps another LU at the same LUN. "plain" has no identity pages.
const char* const kPresent = R"PY(import json, sys
path, how = sys.argv[1], sys.argv[2]
with open(path) as f:
    state = json.load(f)
lu, target, lun = how.split(":")
if lu == "plain":
    state["lus"]["plain"] = {"vendor": "ZORBELT", "product": "TQ22PLAIN", "vpd": False}
at = lambda e: e.get("target") == int(target) and e.get("lun") == int(lun)
for d in state["drives"]:
    if d.get("port") == 2 and at(d):
        d["lu"] = lu
for p in state["ports"]:
    if p["port"] == 2:
        for r in p["buses"][0]:
            if at(r):
                r["lu"] = lu
with open(path, "w") as f:
    json.dump(state, f)
)PY";

struct ChangeCase {
    const char* script;  // kRenumber or kPresent
    const char* how;     // its argument
    int at;              // the prompt before whose answer it runs
    int code;
    std::string tail;      // what follows the second confirmation
    const char* lus = "";  // JSON members given to every LU of the sample
    const char* tag = "";
};

std::string SampleWith(const std::string& members)
{
    SIM_JSON state, add;
    std::string error;
    EXPECT_TRUE(SimParseJson(SimSampleText(), &state, &error)) << error;
    EXPECT_TRUE(SimParseJson("{" + members + "}", &add, &error)) << error;
    for (SIM_JSON& lu : state["lus"])
        for (auto it = add.begin(); it != add.end(); ++it) lu[it.key()] = it.value();
    return SimFormatJson(state);
}

class PrChanged : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(PrChanged, ClearReachesTheChosenLuOrNothing)
{
    const ChangeCase& c = GetParam();
    const std::string sample = SampleWith(c.lus);
    SimRun listed = RunSim({"-d"}, sample);
    ASSERT_EQ(listed.r.code, 0);
    std::string listing = listed.r.out.substr(0, listed.r.out.size() - std::string(kDone).size());
    // The display mode reads no identity.
    for (const PrRequest& q : PrRequests(listed.stateText)) EXPECT_NE(q.cdb, kCdbIdentity);

    std::string dir = MakeTempDir();
    WriteFile(dir + "/state.json", sample);
    RunResult r = RunClearChanging(dir, c.script, c.how, c.at);
    ASSERT_FALSE(r.timedOut);
    ASSERT_EQ(r.out, std::to_string(c.code) + "\n") << r.err << ReadFile(dir + "/err");
    EXPECT_EQ(ReadFile(dir + "/out"), listing + kPrompts + c.tail);

    std::string after = ReadFile(dir + "/state.json");
    for (const char* lu : kLus) {
        if (c.code == 0 && std::string(lu) == "quorum") continue;
        EXPECT_EQ(PrState(after, lu), PrState(sample, lu)) << lu;
    }
    // Every PERSISTENT RESERVE OUT comes right after an identity read on
    // the same open of its drive.
    std::vector<std::string> log = LogLines(after), outs;
    for (size_t i = 0; i < log.size(); ++i) {
        if (log[i].find(" 5F") == std::string::npos) continue;
        outs.push_back(log[i]);
        ASSERT_GE(i, 2u);
        EXPECT_EQ(log[i - 1], "request 1 quorum " + std::string(kCdbIdentity));
        EXPECT_EQ(log[i - 2], "open \\\\.\\PhysicalDrive1 ok");
    }
    if (c.code == 0) {
        EXPECT_EQ(outs, (std::vector<std::string>{"request 1 quorum " + std::string(kCdbRegister),
                                                  "request 1 quorum " + std::string(kCdbClear)}));
        EXPECT_EQ(PrState(after, "quorum"), "registrations: reservation:");
    } else {
        EXPECT_TRUE(outs.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Clear, PrChanged,
    ::testing::Values(
        ChangeCase{kRenumber, "unmanaged", 1, 3, kNoDrive}, ChangeCase{kRenumber, "unmanaged", 2, 3, kNoDrive},
        ChangeCase{kRenumber, "unmanaged", 3, 3, kNoDrive}, ChangeCase{kRenumber, "managed", 1, 3, kNoDrive},
        ChangeCase{kRenumber, "managed", 2, 3, kNoDrive}, ChangeCase{kRenumber, "managed", 3, 3, kNoDrive},
        ChangeCase{kRenumber, "noaddress", 1, 3, kNoDrive}, ChangeCase{kRenumber, "noaddress", 3, 3, kNoDrive},
        // A drive that no longer exists fails to open, as before.
        ChangeCase{kRenumber, "gone", 2, 3, MsgOpenFailed("\\\\.\\PhysicalDrive1")},
        ChangeCase{kRenumber, "others", 2, 0, kCleared},
        ChangeCase{kPresent, "sqldata:1:0", 1, 3, kNoDrive}, ChangeCase{kPresent, "sqldata:1:0", 2, 3, kNoDrive},
        ChangeCase{kPresent, "sqldata:1:0", 3, 3, kNoDrive}, ChangeCase{kPresent, "archive:1:0", 1, 3, kNoDrive},
        ChangeCase{kPresent, "archive:1:0", 3, 3, kNoDrive}, ChangeCase{kPresent, "plain:1:0", 2, 3, kNoDrive},
        ChangeCase{kPresent, "plain:1:0", 3, 3, kNoDrive},
        // An identity only an SPC-2 reading of the CDB gives, and one past
        // the first read's bytes.
        ChangeCase{kPresent, "sqldata:1:0", 3, 3, kNoDrive, R"("spc": 2)", "Spc2"},
        ChangeCase{kPresent, "sqldata:1:0", 3, 3, kNoDrive, R"("port_designators": 40)", "LongPage"},
        // Another address re-presented: the chosen LU is where it was.
        ChangeCase{kPresent, "backup:2:0", 2, 0, kCleared}),
    [](const ::testing::TestParamInfo<ChangeCase>& info) {
        std::string how = info.param.how;
        return std::string(info.param.script == kRenumber ? "Renumbered" : "Presented") +
               how.substr(0, how.find(':')) + "AtPrompt" + std::to_string(info.param.at) + info.param.tag;
    });

}  // namespace

// The LU's reservations changed by other hosts while a clear waits at its
// second confirmation: the clear goes on only for the state the operator
// was shown, and otherwise sends nothing that changes the LU.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pr_storage.h"
#include "run.h"

namespace {

const char* const kB = R"({"host": "node-b", "key": "0x4E4F44454230303F"})";
const char* const kC = R"({"host": "node-c", "key": "0x0000000000000002"})";
const char* const kD = R"({"host": "node-d", "key": "0x0000000000000044"})";
const char* const kE = R"({"host": "node-e", "key": "0x0000000000000045"})";
// This host, registered through its port under a key it no longer knows.
const char* const kLocal = R"({"host": "local:2", "key": "0x1111111111111111"})";
const char* const kResvB5 = R"({"host": "node-b", "type": 5})";

std::string List(std::initializer_list<const char*> regs)
{
    std::string s;
    for (const char* r : regs) s += (s.empty() ? "" : ", ") + std::string(r);
    return "[" + s + "]";
}

// Replaces the members of the LU's entry by those given, as the other
// hosts' commands would leave them (null removes a member).
const char* const kChange = R"PY(import json, sys
path, how = sys.argv[1], sys.argv[2]
with open(path) as f:
    state = json.load(f)
lu = state["lus"]["quorum"]
for k, v in json.loads(how).items():
    if v is None:
        lu.pop(k, None)
    else:
        lu[k] = v
with open(path, "w") as f:
    json.dump(state, f)
)PY";

const std::string kPrompts = std::string(kAskPathId) + MsgConfirm1(0) + kConfirm2;
const std::string kChanged = MsgChanged(0);
const std::string kCleared = MsgCleared(0) + kDone;

struct ChangeCase {
    const char* name;
    std::string listed;  // the LU's members at the listing
    std::string change;  // the members the other hosts leave while -c waits
    int code;
    std::string tail;                // what follows the second confirmation
    std::vector<std::string> reread;  // the commands after the listing's
};

// Identity read, then READ KEYS; READ RESERVATION when keys came back.
const std::vector<std::string> kReread = {kCdbIdentity, kCdbReadKeys, kCdbReadResv};
const std::vector<std::string> kRereadNoKeys = {kCdbIdentity, kCdbReadKeys};
std::vector<std::string> ThenClear(std::vector<std::string> v, const std::vector<std::string>& outs)
{
    for (const std::string& c : outs) {
        v.push_back(kCdbIdentity);
        v.push_back(c);
    }
    return v;
}

std::string Members(const std::string& regs, const std::string& resv, int generation)
{
    std::string s = R"({"registrations": )" + regs + R"(, "reservation": )" + (resv.empty() ? "null" : resv);
    if (generation >= 0) s += R"(, "generation": )" + std::to_string(generation);
    return s + "}";
}

class PrChangedWhileWaiting : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(PrChangedWhileWaiting, ClearsOnlyWhatWasListed)
{
    const ChangeCase& c = GetParam();
    std::string dir = MakeTempDir();
    WriteFile(dir + "/change.py", kChange);
    WriteFile(dir + "/state.json", Storage({{"quorum", 1, 0, 4, Managed("")}}));
    ASSERT_EQ(SimShell("python3 \"$1/change.py\" \"$1/state.json\" '" + c.listed + "'", dir).code, 0);
    std::string listedState = ReadFile(dir + "/state.json");
    SimRun listed = RunSim({"-d"}, listedState);
    ASSERT_EQ(listed.r.code, 0);
    const std::string listing = listed.r.out.substr(0, listed.r.out.size() - std::string(kDone).size());
    // What the other hosts leave, read back the way the run's result is.
    WriteFile(dir + "/changed.json", listedState);
    ASSERT_EQ(SimShell("python3 \"$1/change.py\" \"$1/changed.json\" '" + c.change + "'", dir).code, 0);
    const std::string changedState = ReadFile(dir + "/changed.json");

    RunResult r = RunClearChanging(dir, kChange, c.change, 3);
    ASSERT_FALSE(r.timedOut);
    ASSERT_EQ(r.out, std::to_string(c.code) + "\n") << r.err << ReadFile(dir + "/err");
    EXPECT_EQ(ReadFile(dir + "/out"), listing + kPrompts + c.tail);
    EXPECT_EQ(ReadFile(dir + "/err"), "");

    const std::string after = ReadFile(dir + "/state.json");
    std::vector<std::string> cdbs;
    for (const PrRequest& q : PrRequests(after)) {
        EXPECT_EQ(q.drive, 4);
        cdbs.push_back(q.cdb);
    }
    // The listing's identity read, READ KEYS and READ RESERVATION first.
    ASSERT_GE(cdbs.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(cdbs.begin(), cdbs.begin() + 3), kReread);
    EXPECT_EQ(std::vector<std::string>(cdbs.begin() + 3, cdbs.end()), c.reread);
    if (c.code == 0)
        EXPECT_EQ(PrState(after, "quorum"), "registrations: reservation:");
    else
        EXPECT_EQ(PrState(after, "quorum"), PrState(changedState, "quorum"));
}

const std::string kBC = List({kB, kC});

INSTANTIATE_TEST_SUITE_P(
    Clear, PrChangedWhileWaiting,
    ::testing::Values(
        // An array whose PRGENERATION stays zero: the keys and the
        // reservation decide.
        ChangeCase{"AnotherHostRegisters", Members(kBC, kResvB5, -1), Members(List({kB, kC, kD}), kResvB5, -1),
                   3, kChanged, kReread},
        ChangeCase{"AnotherHostReserves", Members(kBC, "", -1),
                   Members(kBC, R"({"host": "node-c", "type": 5})", -1), 3, kChanged, kReread},
        ChangeCase{"TheHolderReleases", Members(kBC, kResvB5, -1), Members(kBC, "", -1), 3, kChanged, kReread},
        ChangeCase{"TheHolderReservesAnotherType", Members(kBC, kResvB5, -1),
                   Members(kBC, R"({"host": "node-b", "type": 6})", -1), 3, kChanged, kReread},
        ChangeCase{"KeysReplacedByAsMany", Members(kBC, "", -1), Members(List({kD, kE}), "", -1), 3, kChanged,
                   kReread},
        ChangeCase{"OwnOldRegistrationRemoved", Members(List({kB, kLocal}), kResvB5, -1),
                   Members(List({kB}), kResvB5, -1), 3, kChanged, kReread},
        // Keys and reservation as listed, but a host came and went.
        ChangeCase{"OnlyTheGenerationMoved", Members(kBC, kResvB5, 7), Members(kBC, kResvB5, 9), 3, kChanged,
                   kReread},
        ChangeCase{"NothingChanged", Members(kBC, kResvB5, 7), Members(kBC, kResvB5, 7), 0, kCleared,
                   ThenClear(kReread, {kCdbRegister, kCdbClear})},
        // The reading again follows the survey's rules.
        ChangeCase{"CheckConditionsThenAsListed", Members(kBC, kResvB5, 7),
                   R"({"faults": [{"command": "READ KEYS", "status": 2, "times": 2}]})", 0, kCleared,
                   ThenClear({kCdbIdentity, kCdbReadKeys, kCdbIdentity, kCdbReadKeys, kCdbIdentity, kCdbReadKeys,
                              kCdbReadResv},
                             {kCdbRegister, kCdbClear})},
        ChangeCase{"ConflictOnReadKeys", Members(kBC, kResvB5, 7),
                   R"({"faults": [{"command": "READ KEYS", "status": 24}]})", 3, kChanged, kRereadNoKeys},
        ChangeCase{"BusyOnReadReservation", Members(kBC, kResvB5, 7),
                   R"({"faults": [{"command": "READ RESERVATION", "status": 8}]})", 3,
                   MsgScsiFailed(0x5e, 0x1, 0x8, 0x0, "0002.0000.0000000000000001.0000"),
                   kReread}),
    [](const ::testing::TestParamInfo<ChangeCase>& info) { return std::string(info.param.name); });

}  // namespace

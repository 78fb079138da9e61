// Another LU presented at the listed address while a clear waits, and LUs
// whose identity cannot be read: the clear reaches the LU the operator
// chose, or nothing at all.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json.h"
#include "pr_storage.h"
#include "run.h"
#include "sim.h"

namespace {

const char* const kLus[] = {"quorum", "archive", "sqldata", "backup"};
const std::string kNoDrive =
    "ROVT10667-C An attempt to the get physical drive number failed. LU = 0002.0000.0000000000000001.0000\n";
const std::string kCleared =
    "ROVT10658-I The persistent reservation information of PathID = 0 was cleared.\n" + std::string(kDone);
const std::string kPrompts =
    "ROVT10655-I Specify the PathID of the LU for which you want to clear persistent reservation "
    "information. (To cancel, press the x key):"
    "ROVT10656-I The persistent reservation information of PathID = 0 will be cleared. Is this OK? [y/n]:"
    "ROVT10657-I If you continue this process, the reservation of the LU you specified will be cleared. "
    "Please confirm that no other servers are accessing this LU. [y/n]:";

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

struct PresentCase {
    const char* how;
    int at;
    int code;
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

class PrPresented : public ::testing::TestWithParam<PresentCase> {};

TEST_P(PrPresented, ClearReachesTheChosenLuOrNothing)
{
    const PresentCase& c = GetParam();
    const std::string sample = SampleWith(c.lus);
    SimRun listed = RunSim({"-d"}, sample);
    ASSERT_EQ(listed.r.code, 0);
    std::string listing = listed.r.out.substr(0, listed.r.out.size() - std::string(kDone).size());
    // The display mode reads no identity.
    for (const PrRequest& q : PrRequests(listed.stateText)) EXPECT_NE(q.cdb, kCdbIdentity);

    std::string dir = MakeTempDir();
    WriteFile(dir + "/state.json", sample);
    RunResult r = RunClearChanging(dir, kPresent, c.how, c.at);
    ASSERT_FALSE(r.timedOut);
    ASSERT_EQ(r.out, std::to_string(c.code) + "\n") << r.err << ReadFile(dir + "/err");
    EXPECT_EQ(ReadFile(dir + "/out"), listing + kPrompts + (c.code == 0 ? kCleared : kNoDrive));

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
    Clear, PrPresented,
    ::testing::Values(PresentCase{"sqldata:1:0", 1, 3}, PresentCase{"sqldata:1:0", 2, 3},
                      PresentCase{"sqldata:1:0", 3, 3}, PresentCase{"archive:1:0", 1, 3},
                      PresentCase{"archive:1:0", 3, 3}, PresentCase{"plain:1:0", 2, 3},
                      PresentCase{"plain:1:0", 3, 3},
                      // An identity only an SPC-2 reading of the CDB gives,
                      // and one past the first read's bytes.
                      PresentCase{"sqldata:1:0", 3, 3, R"("spc": 2)", "Spc2"},
                      PresentCase{"sqldata:1:0", 3, 3, R"("port_designators": 40)", "LongPage"},
                      // Another address re-presented: the chosen LU is where it was.
                      PresentCase{"backup:2:0", 2, 0}),
    [](const ::testing::TestParamInfo<PresentCase>& info) {
        std::string how = info.param.how;
        return how.substr(0, how.find(':')) + "AtPrompt" + std::to_string(info.param.at) + info.param.tag;
    });

struct IdentCase {
    const char* name;
    std::string body;  // after the LU's managed vendor and product
    int code;
    std::string tail;  // how the output ends
    int inquiries;     // identity reads in the whole run
    int longer = 0;    // of which read again at the page's own length
};

// "first" after 40 target port designators: a page of 341 bytes.
const char* const kCdbIdentityLong = "120183015500";

class PrIdentity : public ::testing::TestWithParam<IdentCase> {};

TEST_P(PrIdentity, UnreadableIdentitiesAsTheRulesSay)
{
    const IdentCase& c = GetParam();
    std::string storage = Storage({{"first", 1, 0, 3,
                                    Managed(R"([{"host": "node-b", "key": "0x4E4F44454230303F"}])",
                                            R"({"host": "node-b", "type": 5})") + c.body}});
    SimRun run = RunSim({"-c"}, storage, "0\ny\ny\n");
    EXPECT_EQ(run.r.code, c.code) << run.r.err;
    ASSERT_GE(run.r.out.size(), c.tail.size());
    EXPECT_EQ(run.r.out.substr(run.r.out.size() - c.tail.size()), c.tail) << run.r.out;
    // Only an identity that could be read decides before the listing.
    EXPECT_EQ(run.r.out.find(kHeader) == 0, c.inquiries != 1);
    int inquiries = 0, longer = 0;
    std::vector<std::string> outs;
    for (const PrRequest& q : PrRequests(run.stateText)) {
        inquiries += q.cdb.rfind("12", 0) == 0;
        if (q.cdb.rfind("12", 0) == 0 && q.cdb != kCdbIdentity) {
            EXPECT_EQ(q.cdb, kCdbIdentityLong);
            longer++;
        }
        if (q.cdb.rfind("5F", 0) == 0) outs.push_back(q.cdb);
    }
    EXPECT_EQ(inquiries, c.inquiries);
    EXPECT_EQ(longer, c.longer);
    if (c.code == 0) {
        EXPECT_EQ(outs, (std::vector<std::string>{kCdbRegister, kCdbClear}));
        EXPECT_EQ(PrState(run.stateText, "first"), "registrations: reservation:");
    } else {
        EXPECT_TRUE(outs.empty());
    }
}

const char* const kLu = "LU = 0002.0000.0000000000000001.0000\n";
const std::string kClearedPath0 =
    "ROVT10658-I The persistent reservation information of PathID = 0 was cleared.\n" + std::string(kDone);

INSTANTIATE_TEST_SUITE_P(
    Clear, PrIdentity,
    ::testing::Values(
        // No identity pages at all: the address alone protects the clear.
        IdentCase{"NoPages", R"(, "vpd": false)", 0, kClearedPath0, 64},
        IdentCase{"NaaIdentity", R"(, "naa": "6001405ABCDEF0123456789ABCDEF012")", 0, kClearedPath0, 4},
        IdentCase{"Spc2", R"(, "spc": 2)", 0, kClearedPath0, 4},
        // The LU's own designator past the first read's 252 bytes.
        IdentCase{"LongPage", R"(, "port_designators": 40)", 0, kClearedPath0, 4 + 4, 4},
        // The longer read refused 15 times each: the first read's identity
        // (none here) at every read.
        IdentCase{"LongPageSpc2", R"(, "port_designators": 40, "spc": 2)", 0, kClearedPath0, 4 + 60, 60},
        // No identity at the survey, one at the clear: not the LU listed.
        IdentCase{"NoneAtSurveyOnly", R"(, "faults": [{"command": "INQUIRY", "status": 2, "times": 16}])",
                  3, std::string("ROVT10667-C An attempt to the get physical drive number failed. ") + kLu,
                  17},
        IdentCase{"FifteenCheckConditions",
                  R"(, "faults": [{"command": "INQUIRY", "status": 2, "times": 15}])", 0, kClearedPath0,
                  19},
        IdentCase{"BusyAtTheSurvey",
                  R"(, "faults": [{"command": "INQUIRY", "status": 8, "times": 1}])", 3,
                  std::string("ROVT10661-E The SCSI command failed. SCSI Code=0x12, Service Action = 0x0, "
                              "Status Code = 0x8, Error Code = 0x0, ") + kLu,
                  1},
        IdentCase{"RequestFails", R"(, "faults": [{"command": "INQUIRY", "error": 31}])", 3,
                  std::string("ROVT10661-E The SCSI command failed. SCSI Code=0x12, Service Action = 0x0, "
                              "Status Code = 0x0, Error Code = 0x1f, ") + kLu,
                  1}),
    [](const ::testing::TestParamInfo<IdentCase>& info) { return std::string(info.param.name); });

}  // namespace

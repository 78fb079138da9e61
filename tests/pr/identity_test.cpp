// LUs whose identity cannot be read, or reads only in part: the clear
// reaches the LU the operator chose, or nothing at all.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pr_storage.h"
#include "run.h"

namespace {

const char* const kQuorumName = "0002.0000.0000000000000001.0000";
const std::string kNoDrive = MsgNoDrive(kQuorumName);
const std::string kCleared = MsgCleared(0) + kDone;

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

INSTANTIATE_TEST_SUITE_P(
    Clear, PrIdentity,
    ::testing::Values(
        // No identity pages at all: the address alone protects the clear.
        IdentCase{"NoPages", R"(, "vpd": false)", 0, kCleared, 64},
        IdentCase{"NaaIdentity", R"(, "naa": "6001405ABCDEF0123456789ABCDEF012")", 0, kCleared, 4},
        IdentCase{"Spc2", R"(, "spc": 2)", 0, kCleared, 4},
        // The LU's own designator past the first read's 252 bytes.
        IdentCase{"LongPage", R"(, "port_designators": 40)", 0, kCleared, 4 + 4, 4},
        // The longer read refused 15 times each: the first read's identity
        // (none here) at every read.
        IdentCase{"LongPageSpc2", R"(, "port_designators": 40, "spc": 2)", 0, kCleared, 4 + 60, 60},
        // No identity at the survey, one at the clear: not the LU listed.
        IdentCase{"NoneAtSurveyOnly", R"(, "faults": [{"command": "INQUIRY", "status": 2, "times": 16}])",
                  3, kNoDrive,
                  17},
        IdentCase{"FifteenCheckConditions",
                  R"(, "faults": [{"command": "INQUIRY", "status": 2, "times": 15}])", 0, kCleared,
                  19},
        IdentCase{"BusyAtTheSurvey",
                  R"(, "faults": [{"command": "INQUIRY", "status": 8, "times": 1}])", 3,
                  MsgScsiFailed(0x12, 0x0, 0x8, 0x0, kQuorumName),
                  1},
        IdentCase{"RequestFails", R"(, "faults": [{"command": "INQUIRY", "error": 31}])", 3,
                  MsgScsiFailed(0x12, 0x0, 0x0, 0x1f, kQuorumName),
                  1}),
    [](const ::testing::TestParamInfo<IdentCase>& info) { return std::string(info.param.name); });

}  // namespace

// Display mode against the simulated storage: the survey, the listing bytes
// and the commands the survey sends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pr_storage.h"

namespace {

const char* const kNodeB = R"({"host": "node-b", "key": "0x4E4F44454230303F"})";
const char* const kNodeC = R"({"host": "node-c", "key": "0x0000000000000001"})";

std::string Regs(const std::vector<std::string>& items)
{
    std::string s = "[";
    for (size_t i = 0; i < items.size(); ++i) s += (i ? ", " : "") + items[i];
    return s + "]";
}

std::string Resv(const std::string& host, int type)
{
    return "{\"host\": \"" + host + "\", \"type\": " + std::to_string(type) + "}";
}

std::string Fault(const std::string& command, const std::string& what, int times = 1)
{
    return "[{\"command\": \"" + command + "\", " + what + ", \"times\": " + std::to_string(times) +
           "}]";
}

// The display mode must never change anything, whatever the storage
// answers; the clear mode's survey also reads identities.
void ExpectOnlyPrIn(const std::string& stateText, bool identity = false)
{
    for (const PrRequest& r : PrRequests(stateText)) {
        if (identity && r.cdb == kCdbIdentity) {
            EXPECT_EQ(r.transferLength, 252);
            continue;
        }
        EXPECT_TRUE(r.cdb == kCdbReadKeys || r.cdb == kCdbReadResv) << r.cdb;
        EXPECT_EQ(r.direction, "in");
        EXPECT_EQ(r.transferLength, 264);
        EXPECT_EQ(r.dataOut, "");
    }
}

// "drive:lu:cdb" for each request, in order.
std::vector<std::string> Sent(const std::string& stateText)
{
    std::vector<std::string> out;
    for (const PrRequest& r : PrRequests(stateText))
        out.push_back(std::to_string(r.drive) + ":" + r.lu + ":" + r.cdb);
    return out;
}

TEST(PrDisplay, ListsEveryManagedLuThroughItsOwnDrive)
{
    std::string storage = Storage(
        {{"quorum", 1, 0, 4, Managed(Regs({kNodeB, kNodeC}), Resv("node-b", 5))},
         {"keysonly", 1, 1, 7, Managed(Regs({kNodeC}))},
         {"other", 3, 0, 12, R"("vendor": "ACME", "product": "DISK", "registrations": [)" +
                                std::string(kNodeB) + "]"},
         {"empty", 2, 3, 9, Managed("")}});
    SimRun run = RunSim({"-d"}, storage);
    EXPECT_EQ(run.r.code, 0) << run.r.err;
    EXPECT_EQ(run.r.out, std::string(kHeader) +
                             "000000 0002.0000.0000000000000001.0000     2    4E4F44454230303F WriteExclusiveRegistrantOnly\n"
                             "000001 0002.0000.0000000000000001.0001     1    ---------------- None\n"
                             "000002 0002.0000.0000000000000002.0003     0    ---------------- None\n" +
                             kDone);
    ExpectOnlyPrIn(run.stateText);
    // READ RESERVATION only where keys are registered; the unmanaged LU
    // gets nothing.
    EXPECT_EQ(Sent(run.stateText),
              (std::vector<std::string>{"4:quorum:" + std::string(kCdbReadKeys),
                                        "4:quorum:" + std::string(kCdbReadResv),
                                        "7:keysonly:" + std::string(kCdbReadKeys),
                                        "7:keysonly:" + std::string(kCdbReadResv),
                                        "9:empty:" + std::string(kCdbReadKeys)}));
    // Each command opens its LU's drive afresh, right before the request.
    std::vector<std::string> log = LogLines(run.stateText);
    int requests = 0;
    for (size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i].find("PhysicalDrive12"), std::string::npos) << log[i];
        if (log[i].rfind("request ", 0) != 0) continue;
        ++requests;
        ASSERT_GT(i, 0u);
        std::string drive = log[i].substr(8, log[i].find(' ', 8) - 8);
        EXPECT_EQ(log[i - 1], "open \\\\.\\PhysicalDrive" + drive + " ok");
    }
    EXPECT_EQ(requests, 5);
}

TEST(PrDisplay, TypeNamesAndKeys)
{
    std::string many;
    for (int i = 0; i < 50; ++i) {
        char key[19];
        std::snprintf(key, sizeof key, "0x%016X", 0x1000 + i);
        many += std::string(i ? ", " : "") + "{\"host\": \"h" + std::to_string(i) + "\", \"key\": \"" +
                key + "\"}";
    }
    std::string storage = Storage(
        {{"t1", 0, 0, 1, Managed(Regs({kNodeB}), Resv("node-b", 1))},
         {"t3", 0, 1, 2, Managed(Regs({kNodeB}), Resv("node-b", 3))},
         {"t6", 0, 2, 3, Managed(Regs({kNodeC, kNodeB}), Resv("node-c", 6))},
         // All-registrants types report key 0: the key alone decides.
         {"t7", 0, 3, 4, Managed(Regs({kNodeB}), Resv("node-b", 7))},
         {"t15", 0, 4, 5, Managed(Regs({kNodeB}), Resv("node-b", 15))},
         {"many", 255, 255, 6, Managed("[" + many + "]", Resv("h3", 5))}});
    SimRun run = RunSim({"-d"}, storage);
    EXPECT_EQ(run.r.code, 0) << run.r.err;
    EXPECT_EQ(run.r.out, std::string(kHeader) +
                             "000000 0002.0000.0000000000000000.0000     1    4E4F44454230303F WriteExclusive\n"
                             "000001 0002.0000.0000000000000000.0001     1    4E4F44454230303F ExclusiveAccess\n"
                             "000002 0002.0000.0000000000000000.0002     2    0000000000000001 ExclusiveAccessRegistrantOnly\n"
                             "000003 0002.0000.0000000000000000.0003     1    ---------------- None\n"
                             "000004 0002.0000.0000000000000000.0004     1    4E4F44454230303F Undefined(0x0F)\n"
                             "000005 0002.0000.00000000000000FF.00FF    32    0000000000001003 WriteExclusiveRegistrantOnly\n" +
                             kDone);
    ExpectOnlyPrIn(run.stateText);
}

struct SurveyCase {
    const char* name;
    std::string faults;  // on the first LU
    int code;
    std::string out;     // "LIST" stands for the listing with the first LU's row
    std::vector<std::string> firstLuCdbs;
    std::vector<std::string> args = {"-d"};
};

std::string Row0(const char* count, const char* key, const char* type)
{
    return std::string("000000 0002.0000.0000000000000001.0000 ") + count + "    " + key + " " + type + "\n";
}

const char* const kRow1 = "000001 0002.0000.0000000000000001.0001     1    0000000000000001 WriteExclusive\n";
const char* const kLu0 = "0002.0000.0000000000000001.0000";

std::vector<std::string> Cdbs(std::initializer_list<std::pair<const char*, int>> runs)
{
    std::vector<std::string> out;
    for (const auto& run : runs)
        for (int i = 0; i < run.second; ++i) out.push_back(run.first);
    return out;
}

class PrSurveyAnswers : public ::testing::TestWithParam<SurveyCase> {};

TEST_P(PrSurveyAnswers, EndAsTheRulesSay)
{
    const SurveyCase& c = GetParam();
    std::string storage =
        Storage({{"first", 1, 0, 3, Managed(Regs({kNodeB}), Resv("node-b", 5), c.faults)},
                 {"second", 1, 1, 5, Managed(Regs({kNodeC}), Resv("node-c", 1))}});
    SimRun run = RunSim(c.args, storage);
    EXPECT_EQ(run.r.code, c.code) << run.r.err;
    EXPECT_EQ(run.r.out, c.out);
    bool clear = c.args == std::vector<std::string>{"-c"};
    ExpectOnlyPrIn(run.stateText, clear);
    std::vector<std::string> expected;
    for (const std::string& cdb : c.firstLuCdbs) {
        // The clear mode reads the identity before every READ KEYS.
        if (clear && cdb == kCdbReadKeys) expected.push_back(kCdbIdentity);
        expected.push_back(cdb);
    }
    std::vector<std::string> first;
    bool secondSurveyed = false;
    for (const PrRequest& r : PrRequests(run.stateText)) {
        if (r.lu == "first") first.push_back(r.cdb);
        secondSurveyed |= r.lu == "second";
    }
    EXPECT_EQ(first, expected);
    EXPECT_EQ(secondSurveyed, c.code == 0);
}

const std::string kFull = Row0("    1", "4E4F44454230303F", "WriteExclusiveRegistrantOnly");
const std::string kNoKeys = Row0("    0", "----------------", "None");
const std::string kNeverAnswered0 = MsgScsiFailed(0x5e, 0x0, 0x2, 0x0, kLu0);
const std::string kNeverAnswered1 = MsgScsiFailed(0x5e, 0x1, 0x2, 0x0, kLu0);

INSTANTIATE_TEST_SUITE_P(
    Survey, PrSurveyAnswers,
    ::testing::Values(
        SurveyCase{"ReadKeysBusy", Fault("READ KEYS", "\"status\": 8"), 3,
                   MsgScsiFailed(0x5e, 0x0, 0x8, 0x0, kLu0),
                   Cdbs({{kCdbReadKeys, 1}})},
        SurveyCase{"ReadKeysRequestFails", Fault("READ KEYS", "\"error\": 5"), 3,
                   MsgScsiFailed(0x5e, 0x0, 0x0, 0x5, kLu0),
                   Cdbs({{kCdbReadKeys, 1}})},
        SurveyCase{"ReadKeysConflict", Fault("READ KEYS", "\"status\": 24"), 0,
                   kHeader + kNoKeys + kRow1 + kDone, Cdbs({{kCdbReadKeys, 1}})},
        SurveyCase{"ReadKeysIoDevice", Fault("READ KEYS", "\"error\": 1117"), 0,
                   kHeader + kNoKeys + kRow1 + kDone, Cdbs({{kCdbReadKeys, 1}})},
        SurveyCase{"ReadKeys15CheckConditions", Fault("READ KEYS", "\"status\": 2", 15), 0,
                   kHeader + kFull + kRow1 + kDone,
                   Cdbs({{kCdbReadKeys, 16}, {kCdbReadResv, 1}})},
        // The LU never answered: nothing is listed, nothing is asked.
        SurveyCase{"ReadKeys16CheckConditions", Fault("READ KEYS", "\"status\": 2", 16), 3,
                   kNeverAnswered0, Cdbs({{kCdbReadKeys, 16}})},
        SurveyCase{"ReadKeys16CheckConditionsClear", Fault("READ KEYS", "\"status\": 2", 16), 3,
                   kNeverAnswered0, Cdbs({{kCdbReadKeys, 16}}), {"-c"}},
        SurveyCase{"ReadResvConflict", Fault("READ RESERVATION", "\"status\": 24"), 3,
                   MsgScsiFailed(0x5e, 0x1, 0x18, 0x0, kLu0),
                   Cdbs({{kCdbReadKeys, 1}, {kCdbReadResv, 1}})},
        SurveyCase{"ReadResvIoDevice", Fault("READ RESERVATION", "\"error\": 1117"), 3,
                   MsgScsiFailed(0x5e, 0x1, 0x18, 0x0, kLu0),
                   Cdbs({{kCdbReadKeys, 1}, {kCdbReadResv, 1}})},
        SurveyCase{"ReadResvRequestFails", Fault("READ RESERVATION", "\"error\": 31"), 3,
                   MsgScsiFailed(0x5e, 0x1, 0x0, 0x1f, kLu0),
                   Cdbs({{kCdbReadKeys, 1}, {kCdbReadResv, 1}})},
        SurveyCase{"ReadResv15CheckConditions", Fault("READ RESERVATION", "\"status\": 2", 15), 0,
                   kHeader + kFull + kRow1 + kDone,
                   Cdbs({{kCdbReadKeys, 1}, {kCdbReadResv, 16}})},
        SurveyCase{"ReadResv16CheckConditions", Fault("READ RESERVATION", "\"status\": 2", 16), 3,
                   kNeverAnswered1,
                   Cdbs({{kCdbReadKeys, 1}, {kCdbReadResv, 16}})},
        SurveyCase{"ReadResv16CheckConditionsClear", Fault("READ RESERVATION", "\"status\": 2", 16),
                   3, kNeverAnswered1,
                   Cdbs({{kCdbReadKeys, 1}, {kCdbReadResv, 16}}), {"-c"}}),
    [](const ::testing::TestParamInfo<SurveyCase>& info) { return std::string(info.param.name); });

TEST(PrDisplay, DriveThatNoLongerOpensStopsTheSurvey)
{
    // Discovery reads the address; the transport's open then fails.
    std::string storage = Storage({{"first", 1, 0, 3, Managed(Regs({kNodeB}))}});
    storage.replace(storage.find("{\"drive\": 3,"), 12,
                    "{\"drive\": 3, \"open_error\": 5, \"opens_before_error\": 1,");
    SimRun run = RunSim({"-d"}, storage);
    EXPECT_EQ(run.r.code, 3) << run.r.err;
    EXPECT_EQ(run.r.out, MsgOpenFailed("\\\\.\\PhysicalDrive3"));
    EXPECT_TRUE(PrRequests(run.stateText).empty());
}

TEST(PrDisplay, KeysAreReadFromDriveZeroToo)
{
    std::string storage = Storage({{"only", 7, 2, 0, Managed(Regs({kNodeC}), Resv("node-c", 3))}});
    SimRun run = RunSim({"-d"}, storage);
    EXPECT_EQ(run.r.code, 0) << run.r.err;
    EXPECT_EQ(run.r.out, std::string(kHeader) +
                             "000000 0002.0000.0000000000000007.0002     1    0000000000000001 ExclusiveAccess\n" +
                             kDone);
    EXPECT_EQ(Sent(run.stateText), (std::vector<std::string>{"0:only:" + std::string(kCdbReadKeys),
                                                             "0:only:" + std::string(kCdbReadResv)}));
}

}  // namespace

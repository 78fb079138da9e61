// Clear mode against the simulated storage: which commands change the
// storage, when, and what the state machine does with every answer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pr/pr.h"
#include "pr_storage.h"

namespace {

const char* const kQuorumRegs =
    R"([{"host": "node-b", "key": "0x4E4F44454230303F"}, {"host": "node-c", "key": "0x0000000000000002"}])";
// This host already registered through its port under a key it no longer knows.
const char* const kQuorumRegsLocal =
    R"([{"host": "node-b", "key": "0x4E4F44454230303F"}, {"host": "local:2", "key": "0x1111111111111111"}])";
const char* const kQuorumResv = R"({"host": "node-b", "type": 5})";
const char* const kDataRegs = R"([{"host": "node-c", "key": "0x0000000000000002"}])";
const char* const kDataResv = R"({"host": "node-c", "type": 1})";

const char* const kListing =
    "PathID PathName                        KeyCount ReservedKey      Type\n"
    "000000 0002.0000.0000000000000001.0000     2    4E4F44454230303F WriteExclusiveRegistrantOnly\n"
    "000001 0002.0000.0000000000000001.0001     1    0000000000000002 WriteExclusive\n"
    "000002 0002.0000.0000000000000002.0000     0    ---------------- None\n";
const std::string kAsk = kAskPathId;
const std::string kConfirm1 = MsgConfirm1(0);
const std::string kCleared = MsgCleared(0);

// quorum (PathID 0, drive 4) reserved, data (1, drive 6) with a key and a
// reservation, empty (2, drive 8) without keys.
std::string ThreeLus(const std::string& quorumRegs = kQuorumRegs, const std::string& quorumFaults = "",
                     const std::string& extraDrives = "")
{
    return Storage({{"quorum", 1, 0, 4, Managed(quorumRegs, kQuorumResv, quorumFaults)},
                    {"data", 1, 1, 6, Managed(kDataRegs, kDataResv)},
                    {"empty", 2, 0, 8, Managed("")}},
                   extraDrives);
}

std::vector<PrRequest> OutRequests(const std::string& stateText)
{
    std::vector<PrRequest> out;
    for (const PrRequest& r : PrRequests(stateText))
        if (r.cdb.rfind("5F", 0) == 0) out.push_back(r);
    return out;
}

std::vector<std::string> OutCdbs(const std::string& stateText)
{
    std::vector<std::string> out;
    for (const PrRequest& r : OutRequests(stateText)) out.push_back(r.cdb);
    return out;
}

std::vector<std::string> Repeat(const char* cdb, int n) { return std::vector<std::string>(n, cdb); }

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string Msg14(unsigned action, unsigned status, unsigned error = 0)
{
    return MsgScsiFailed(0x5f, action, status, error, "0002.0000.0000000000000001.0000");
}

// Every PERSISTENT RESERVE OUT: the chosen LU's drive, the exact CDB, a
// 24-byte transfer equal to the parameter list length, the key in place.
void ExpectOutLayout(const std::string& stateText)
{
    for (const PrRequest& r : OutRequests(stateText)) {
        EXPECT_EQ(r.drive, 4);
        EXPECT_EQ(r.lu, "quorum");
        EXPECT_EQ(r.direction, "out");
        EXPECT_EQ(r.transferLength, 24);
        EXPECT_EQ(r.dataOut, r.cdb == kCdbClear ? ClearParams() : RegisterParams()) << r.cdb;
    }
}

TEST(PrClear, RegistrantKeyIsSevenCapitalsAndAZero)
{
    for (int i = 0; i < 7; ++i) EXPECT_TRUE(g_RegistrantKey[i] >= 'A' && g_RegistrantKey[i] <= 'Z') << i;
    EXPECT_EQ(g_RegistrantKey[7], 0);
}

TEST(PrClear, ClearsTheChosenLuOnlyAfterBothConfirmations)
{
    std::string storage = ThreeLus();
    SimRun before = RunSim({"-d"}, storage);
    SimRun run = RunSim({"-c"}, storage, "0\ny\ny\n");
    EXPECT_EQ(run.r.code, 0) << run.r.err;
    EXPECT_EQ(run.r.out, kListing + kAsk + kConfirm1 + kConfirm2 + kCleared + kDone);
    EXPECT_EQ(OutCdbs(run.stateText), (std::vector<std::string>{kCdbRegister, kCdbClear}));
    ExpectOutLayout(run.stateText);
    EXPECT_EQ(PrState(run.stateText, "quorum"), "registrations: reservation:");
    EXPECT_EQ(PrState(run.stateText, "data"), PrState(before.stateText, "data"));
    EXPECT_EQ(PrState(run.stateText, "empty"), PrState(before.stateText, "empty"));

    // The next listing shows the LU free; the others as they were.
    SimRun after = RunSim({"-d"}, run.stateText);
    EXPECT_EQ(after.r.out, std::string(kHeader) +
                               "000000 0002.0000.0000000000000001.0000     0    ---------------- None\n" +
                               std::string(kListing).substr(std::string(kListing).find("\n000001 ") + 1) + kDone);
}

TEST(PrClear, HostRegisteredUnderAnotherKeyIsTakenOver)
{
    std::string storage = ThreeLus(kQuorumRegsLocal);
    SimRun run = RunSim({"-c"}, storage, "0\ny\ny\n");
    EXPECT_EQ(run.r.code, 0) << run.r.err;
    EXPECT_EQ(run.r.out.substr(run.r.out.size() - std::string(kCleared).size() - std::string(kDone).size()),
              std::string(kCleared) + kDone);
    std::vector<PrRequest> out = OutRequests(run.stateText);
    ASSERT_EQ(OutCdbs(run.stateText),
              (std::vector<std::string>{kCdbRegister, kCdbRegisterIgnore, kCdbClear}));
    EXPECT_EQ(out[0].status, 0x18);
    ExpectOutLayout(run.stateText);
    EXPECT_EQ(PrState(run.stateText, "quorum"), "registrations: reservation:");
}

struct SequenceCase {
    const char* name;
    std::string faults;
    bool local;  // this host registered under another key
    int code;
    std::string tail;  // what follows the second confirmation
    std::vector<std::string> cdbs;
};

std::string Fault(const char* command, const std::string& what, int times = 1)
{
    return std::string("{\"command\": \"") + command + "\", " + what +
           ", \"times\": " + std::to_string(times) + "}";
}

class PrClearSequence : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(PrClearSequence, SendsAndEndsAsTheStateMachineSays)
{
    const SequenceCase& c = GetParam();
    std::string storage = ThreeLus(c.local ? kQuorumRegsLocal : kQuorumRegs, "[" + c.faults + "]");
    SimRun run = RunSim({"-c"}, storage, "0\ny\ny\n");
    EXPECT_EQ(run.r.code, c.code) << run.r.err;
    EXPECT_EQ(run.r.out, std::string(kListing) + kAsk + kConfirm1 + kConfirm2 + c.tail);
    EXPECT_EQ(OutCdbs(run.stateText), c.cdbs);
    ExpectOutLayout(run.stateText);
    if (c.code == 0) {
        EXPECT_EQ(PrState(run.stateText, "quorum"), "registrations: reservation:");
    }
}

const std::string kSuccess = std::string(kCleared) + kDone;

INSTANTIATE_TEST_SUITE_P(
    Clear, PrClearSequence,
    ::testing::Values(
        SequenceCase{"IoDeviceOnRegisterActsAsConflict", Fault("REGISTER", "\"error\": 1117"), false, 0,
                     kSuccess, {kCdbRegister, kCdbRegisterIgnore, kCdbClear}},
        // CLEAR gets its own 16 attempts after REGISTER used eleven.
        SequenceCase{"TenCheckConditionsOnRegister",
                     Fault("REGISTER", "\"status\": 2", 10) + ", " + Fault("CLEAR", "\"status\": 2", 15),
                     false, 0, kSuccess, Join(Repeat(kCdbRegister, 11), Repeat(kCdbClear, 16))},
        SequenceCase{"SixteenCheckConditionsOnClear", Fault("CLEAR", "\"status\": 2", 16), false, 3,
                     Msg14(0x3, 0x2), Join({kCdbRegister}, Repeat(kCdbClear, 16))},
        SequenceCase{"SixteenCheckConditionsOnRegister", Fault("REGISTER", "\"status\": 2", 16), false, 3,
                     Msg14(0x0, 0x2), Repeat(kCdbRegister, 16)},
        SequenceCase{"SixteenCheckConditionsOnRegisterIgnore",
                     Fault("REGISTER AND IGNORE EXISTING KEY", "\"status\": 2", 16), true, 3,
                     Msg14(0x6, 0x2), Join({kCdbRegister}, Repeat(kCdbRegisterIgnore, 16))},
        // No third registration is tried.
        SequenceCase{"ConflictOnRegisterIgnore",
                     Fault("REGISTER AND IGNORE EXISTING KEY", "\"status\": 24"), true, 3,
                     Msg14(0x6, 0x18), {kCdbRegister, kCdbRegisterIgnore}},
        SequenceCase{"IoDeviceOnRegisterIgnore",
                     Fault("REGISTER AND IGNORE EXISTING KEY", "\"error\": 1117"), true, 3,
                     Msg14(0x6, 0x18), {kCdbRegister, kCdbRegisterIgnore}},
        SequenceCase{"ConflictOnClear", Fault("CLEAR", "\"status\": 24"), false, 3, Msg14(0x3, 0x18),
                     {kCdbRegister, kCdbClear}},
        SequenceCase{"BusyOnRegister", Fault("REGISTER", "\"status\": 8"), false, 3, Msg14(0x0, 0x8),
                     {kCdbRegister}},
        // A failed request names the system error.
        SequenceCase{"RequestFailsOnRegisterIgnore",
                     Fault("REGISTER AND IGNORE EXISTING KEY", "\"error\": 5"), true, 3,
                     Msg14(0x6, 0x0, 0x5), {kCdbRegister, kCdbRegisterIgnore}}),
    [](const ::testing::TestParamInfo<SequenceCase>& info) { return std::string(info.param.name); });

TEST(PrClear, DriveThatNoLongerOpensForRegister)
{
    // Discovery, READ KEYS and READ RESERVATION, both twice, open drive 4;
    // REGISTER cannot.
    std::string storage = ThreeLus();
    storage.replace(storage.find("{\"drive\": 4,"), 12,
                    "{\"drive\": 4, \"open_error\": 5, \"opens_before_error\": 5,");
    SimRun run = RunSim({"-c"}, storage, "0\ny\ny\n");
    EXPECT_EQ(run.r.code, 3) << run.r.err;
    EXPECT_EQ(run.r.out, std::string(kListing) + kAsk + kConfirm1 + kConfirm2 +
                             MsgOpenFailed("\\\\.\\PhysicalDrive4"));
    EXPECT_TRUE(OutRequests(run.stateText).empty());
    // The open that failed is REGISTER's, after the LU was read again.
    std::vector<std::string> log = LogLines(run.stateText);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], std::string("request 4 quorum ") + kCdbReadResv);
    EXPECT_EQ(log.back(), "open \\\\.\\PhysicalDrive4 5");
}

struct NoClearCase {
    const char* name;
    std::string storage;
    std::string input;
    int code;
    std::string out;
};


std::string NoKeys()
{
    return Storage({{"a", 1, 0, 4, Managed("")}, {"b", 1, 1, 6, Managed("", R"({"host": "node-b", "type": 5})")}});
}

class PrClearNotSent : public ::testing::TestWithParam<NoClearCase> {};

TEST_P(PrClearNotSent, LeavesTheStorageAsItWas)
{
    const NoClearCase& c = GetParam();
    SimRun before = RunSim({"-d"}, c.storage);
    SimRun run = RunSim({"-c"}, c.storage, c.input);
    EXPECT_EQ(run.r.code, c.code) << run.r.err;
    EXPECT_EQ(run.r.out, c.out);
    EXPECT_TRUE(OutRequests(run.stateText).empty());
    for (const char* lu : {"quorum", "data", "empty", "a", "b"}) {
        if (c.storage.find(std::string("\"") + lu + "\": {") == std::string::npos) continue;
        EXPECT_EQ(PrState(run.stateText, lu), PrState(before.stateText, lu)) << lu;
    }
}

const std::string kThree = ThreeLus();
const std::string kPrompted = std::string(kListing) + kAsk;

INSTANTIATE_TEST_SUITE_P(
    Clear, PrClearNotSent,
    ::testing::Values(
        // The answers' rules, on a storage with and without reservations,
        // are the prompt tests' (tests/operator/prompt_test.cpp).
        NoClearCase{"LuWithoutKeys", kThree, "2\ny\ny\n", 0,
                    kPrompted + MsgNoPrOnLu(2)},
        // KeyCount alone decides: a reservation without keys is not offered.
        NoClearCase{"NoLuWithKeys", NoKeys(), "0\ny\ny\n", 0,
                    std::string(kHeader) +
                        "000000 0002.0000.0000000000000001.0000     0    ---------------- None\n"
                        "000001 0002.0000.0000000000000001.0001     0    ---------------- None\n" +
                        std::string(kNoPrLu)},
        NoClearCase{"SurveyFailsFirst",
                    ThreeLus(kQuorumRegs, R"([{"command": "READ RESERVATION", "status": 24}])"), "0\ny\ny\n", 3,
                    MsgScsiFailed(0x5e, 0x1, 0x18, 0x0, "0002.0000.0000000000000001.0000")}),
    [](const ::testing::TestParamInfo<NoClearCase>& info) { return std::string(info.param.name); });

TEST(PrClear, ChoosingTheSecondLuTouchesOnlyIt)
{
    std::string storage = ThreeLus();
    SimRun before = RunSim({"-d"}, storage);
    SimRun run = RunSim({"-c"}, storage, "1\ny\ny\n");
    EXPECT_EQ(run.r.code, 0) << run.r.err;
    EXPECT_NE(run.r.out.find("PathID = 1 was cleared.\n"), std::string::npos) << run.r.out;
    for (const PrRequest& r : OutRequests(run.stateText)) {
        EXPECT_EQ(r.drive, 6);
        EXPECT_EQ(r.lu, "data");
    }
    EXPECT_EQ(OutCdbs(run.stateText), (std::vector<std::string>{kCdbRegister, kCdbClear}));
    EXPECT_EQ(PrState(run.stateText, "data"), "registrations: reservation:");
    EXPECT_EQ(PrState(run.stateText, "quorum"), PrState(before.stateText, "quorum"));
}

}  // namespace

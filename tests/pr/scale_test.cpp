// A thousand managed LUs on one port of the simulated storage: the port's
// inquiry records need three growing requests, every LU is listed, and a
// clear of the last one reaches its own drive only.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "pr_storage.h"

namespace {

const int kLus = 1000;
const char* const kLastResv = R"({"host": "node-b", "type": 5})";
const char* const kLastRegs = R"([{"host": "node-b", "key": "0x4E4F44454230303F"}])";
const char* const kPrevRegs = R"([{"host": "node-c", "key": "0x0000000000000002"}])";

// LU i at target i / 250, LUN i % 250, drive i + 1; the last one reserved
// by another node, the one before it registered.
std::string ThousandLus(int areaError)
{
    std::vector<TestLu> lus;
    for (int i = 0; i < kLus; ++i) {
        std::string body = i == kLus - 1   ? Managed(kLastRegs, kLastResv)
                           : i == kLus - 2 ? Managed(kPrevRegs)
                                           : Managed("");
        lus.push_back({"lu" + std::to_string(i), i / 250, i % 250, i + 1, body});
    }
    std::string s = Storage(lus);
    const std::string port = "{\"port\": 2, ";
    s.replace(s.find(port), port.size(), port + "\"area_error\": " + std::to_string(areaError) + ", ");
    return s;
}

std::string Listing()
{
    std::string out = kHeader;
    char row[128];
    for (int i = 0; i < kLus; ++i) {
        const char* state = i == kLus - 1   ? "1    4E4F44454230303F WriteExclusiveRegistrantOnly"
                            : i == kLus - 2 ? "1    ---------------- None"
                                            : "0    ---------------- None";
        std::snprintf(row, sizeof row, "%06d 0002.0000.%016X.%04X     %s\n", i, i / 250, i % 250,
                      state);
        out += row;
    }
    return out;
}

TEST(PrScale, ThousandLusOnOnePortAreListedExactly)
{
    for (int areaError : {234, 122}) {
        SCOPED_TRACE(areaError);
        SimRun run = RunSim({"-d"}, ThousandLus(areaError));
        EXPECT_EQ(run.r.out, Listing() + kDone);
        EXPECT_EQ(run.r.code, 0);
        for (const PrRequest& r : PrRequests(run.stateText))
            EXPECT_EQ(r.cdb.substr(0, 2), "5E") << r.lu;
    }
}

TEST(PrScale, ClearOfTheLastPathIdReachesOnlyItsOwnDrive)
{
    std::string storage = ThousandLus(234);
    SimRun before = RunSim({"-d"}, storage);
    SimRun run = RunSim({"-c"}, storage, "999\ny\ny\n");
    EXPECT_EQ(run.r.out,
              Listing() + kAskPathId + MsgConfirm1(999) + kConfirm2 + MsgCleared(999) + kDone);
    EXPECT_EQ(run.r.code, 0);

    std::vector<std::string> outs;
    for (const PrRequest& r : PrRequests(run.stateText)) {
        if (r.cdb.substr(0, 2) != "5F") continue;
        outs.push_back(r.cdb);
        EXPECT_EQ(r.drive, 1000);
        EXPECT_EQ(r.lu, "lu999");
        EXPECT_EQ(r.status, 0);
    }
    EXPECT_EQ(outs, (std::vector<std::string>{kCdbRegister, kCdbClear}));
    EXPECT_EQ(PrState(run.stateText, "lu999"), PrState(run.stateText, "lu0"));
    for (const char* lu : {"lu0", "lu997", "lu998"})
        EXPECT_EQ(PrState(run.stateText, lu), PrState(before.stateText, lu)) << lu;
    EXPECT_NE(PrState(before.stateText, "lu999"), PrState(before.stateText, "lu0"));
}

TEST(PrScale, PortTooSmallAtEverySizeEndsWithMessage17)
{
    // 65 records of 64 KiB of INQUIRY data each: past 4 MiB.
    std::string hex;
    for (int i = 0; i < 65536; ++i) hex += i < 8 ? "00" : "41";
    std::string records;
    for (int i = 0; i < 65; ++i)
        records += std::string(i ? ", " : "") + "{\"target\": 0, \"lun\": " + std::to_string(i) +
                   ", \"lu\": \"huge\"}";
    for (int areaError : {234, 122}) {
        SCOPED_TRACE(areaError);
        std::string storage = "{\"ports\": [{\"port\": 2, \"area_error\": " +
                              std::to_string(areaError) + ", \"buses\": [[" + records +
                              "]]}],\n \"lus\": {\"huge\": {\"inquiry_hex\": \"" + hex + "\"}}}\n";
        SimRun run = RunSim({"-d"}, storage);
        EXPECT_EQ(run.r.out, MsgInquiryFailed(2, (unsigned)areaError));
        EXPECT_EQ(run.r.code, 3);
        EXPECT_TRUE(PrRequests(run.stateText).empty());
    }
}

}  // namespace

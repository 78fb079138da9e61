// LUs on ports above 9, as on a server with many HBA ports and NVMe
// controllers: every port from 0 to 255 is tried once, named in decimal as
// Windows names it; the LUs come in port order, and the LU name keeps its
// hexadecimal port field.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "pr_storage.h"

namespace {

struct PORT_CASE {
    int port;
    int drive;
    const char* pathName;
};

// In the state file out of port order, drives numbered otherwise again.
const PORT_CASE kPorts[] = {
    {255, 1, "00FF.0000.0000000000000001.0000"},
    {16, 3, "0010.0000.0000000000000001.0000"},
    {9, 5, "0009.0000.0000000000000001.0000"},
    {15, 7, "000F.0000.0000000000000001.0000"},
    {10, 9, "000A.0000.0000000000000001.0000"},
};
// Where each of kPorts comes in the listing.
const int kListOrder[] = {4, 3, 0, 2, 1};
const char* const kRegs = R"([{"host": "node-b", "key": "0x4E4F44454230303F"}])";
const char* const kResv = R"({"host": "node-b", "type": 5})";

std::string LuOf(int port)
{
    return "lu" + std::to_string(port);
}

std::string HighPorts(const std::string& extraPort = "")
{
    std::string ports = extraPort, drives, lus;
    for (const PORT_CASE& c : kPorts) {
        std::string port = std::to_string(c.port), lu = "\"" + LuOf(c.port) + "\"";
        if (!ports.empty()) ports += ",";
        if (!drives.empty()) drives += ",";
        if (!lus.empty()) lus += ",";
        ports += "{\"port\": " + port + ", \"buses\": [[{\"target\": 1, \"lun\": 0, \"lu\": " + lu + "}]]}";
        drives += "{\"drive\": " + std::to_string(c.drive) + ", \"port\": " + port +
                  ", \"path\": 0, \"target\": 1, \"lun\": 0, \"lu\": " + lu + "}";
        lus += lu + ": {" + Managed(kRegs, kResv) + "}";
    }
    return "{\"ports\": [" + ports + "], \"drives\": [" + drives + "], \"lus\": {" + lus + "}}";
}

std::string Listing()
{
    std::string rows[5];
    for (size_t i = 0; i < 5; ++i) {
        char row[128];
        std::snprintf(row, sizeof row, "%06d %s     1    4E4F44454230303F WriteExclusiveRegistrantOnly\n",
                      kListOrder[i], kPorts[i].pathName);
        rows[kListOrder[i]] = row;
    }
    std::string out = kHeader;
    for (const std::string& r : rows) out += r;
    return out;
}

// The port names a run opened, in order.
std::vector<std::string> PortOpens(const std::string& stateText)
{
    std::vector<std::string> ports;
    for (const std::string& name : OpenedDevices(stateText))
        if (name.rfind("\\\\.\\Scsi", 0) == 0) ports.push_back(name);
    return ports;
}

std::vector<std::string> PortNames(int last)
{
    std::vector<std::string> names;
    for (int port = 0; port <= last; ++port) names.push_back("\\\\.\\Scsi" + std::to_string(port) + ":");
    return names;
}

}  // namespace

TEST(HighPorts, ListedInPortOrderWithEveryPortNameTriedOnce)
{
    SimRun run = RunSim({"-d"}, HighPorts());
    EXPECT_EQ(run.r.code, 0);
    EXPECT_EQ(run.r.out, Listing() + kDone);
    EXPECT_EQ(PortOpens(run.stateText), PortNames(255));
}

TEST(HighPorts, FailedInquiryOnPort200NamesItInHexadecimal)
{
    SimRun run = RunSim({"-d"}, HighPorts("{\"port\": 200, \"inquiry_error\": 31}"));
    EXPECT_EQ(run.r.code, 3);
    EXPECT_EQ(run.r.out,
              MsgInquiryFailed(200, 31));
    // The scan stopped there: no later port, no drive, no command.
    EXPECT_EQ(PortOpens(run.stateText), PortNames(200));
    EXPECT_EQ(OpenedDevices(run.stateText).size(), 201u);
    EXPECT_TRUE(PrRequests(run.stateText).empty());
}

TEST(HighPorts, ClearOnPort255ReachesThatLuOnly)
{
    std::string state = HighPorts();
    SimRun run = RunSim({"-c"}, state, "4\ny\ny\n");
    EXPECT_EQ(run.r.code, 0);
    EXPECT_EQ(run.r.out.substr(0, Listing().size()), Listing());
    const std::string cleared =
        MsgCleared(4) + kDone;
    ASSERT_GE(run.r.out.size(), cleared.size());
    EXPECT_EQ(run.r.out.substr(run.r.out.size() - cleared.size()), cleared);

    int outs = 0;
    for (const PrRequest& r : PrRequests(run.stateText)) {
        if (r.cdb.rfind("5F", 0) != 0) continue;
        ++outs;
        EXPECT_EQ(r.drive, 1) << r.cdb;
        EXPECT_EQ(r.lu, "lu255") << r.cdb;
    }
    EXPECT_EQ(outs, 2);  // REGISTER, CLEAR
    EXPECT_EQ(PrState(run.stateText, "lu255"), "registrations: reservation:");
    for (const PORT_CASE& c : kPorts) {
        if (c.port == 255) continue;
        EXPECT_EQ(PrState(run.stateText, LuOf(c.port)), PrState(state, LuOf(c.port))) << c.port;
    }
}

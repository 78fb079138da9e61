// Discovery in the Linux layer's test build (vrxpr-linux-test) against a
// made-up /sys and /dev (VRXPR_TEST_ROOT): SCSI hosts as ports, their
// devices as inquiry records. No sg device exists under the fake /dev, so
// the first LU in discovery order is the one that message 20 names.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "fake_root.h"
#include "run.h"

namespace {

TEST(LinuxPorts, RecordsFollowTargetThenLunNumerically)
{
    // Enough managed LUs that the folder's own order cannot pass for the
    // right one, and names that sort differently as text ("12" before "3").
    FAKE_ROOT r = MakeRoot();
    AddHost(r, 2);
    for (const char* hctl : {"2:0:10:0", "2:0:0:12", "2:0:2:1", "2:0:1:0", "2:0:0:30", "2:0:9:9",
                             "2:0:0:3", "2:0:3:0", "2:0:1:10", "2:0:0:4", "2:0:5:5", "2:0:0:7"})
        AddDevice(r, hctl, "LOX", "KAMBERLON");
    AddDevice(r, "2:0:0:1", "ACME", "DISK");
    AddDevice(r, "2:0:0:2", "LOX", "KAMBERLON2");  // unmanaged: row 8 compares 24 bytes
    ExpectFirstLu(r, "0002.0000.0000000000000000.0003");
}

TEST(LinuxPorts, ChannelIsTheBusPosition)
{
    FAKE_ROOT r = MakeRoot();
    AddHost(r, 1);
    AddDevice(r, "1:2:5:1", "ZORBELT", "TQ11");
    AddDevice(r, "1:0:0:0", "ACME", "DISK");
    ExpectFirstLu(r, "0001.0002.0000000000000005.0001");
}

TEST(LinuxPorts, HostsFromSixteenOnArePortsOfTheirOwnNumber)
{
    for (unsigned host : {16u, 17u, 255u}) {
        SCOPED_TRACE(host);
        FAKE_ROOT r = MakeRoot();
        AddHost(r, 2);
        AddHost(r, host);
        AddHost(r, 4000);  // no devices
        AddDevice(r, "2:0:0:0", "ACME", "DISK");
        AddDevice(r, std::to_string(host) + ":0:1:5", "MRB", "NOVA");
        char name[32];
        std::snprintf(name, sizeof name, "%04X.0000.0000000000000001.0005", host);
        ExpectFirstLu(r, name);
    }
}

TEST(LinuxPorts, EachPortListsOnlyItsOwnHostsDevices)
{
    FAKE_ROOT r = MakeRoot();
    AddHost(r, 1);
    AddHost(r, 12);
    AddHost(r, 16);  // scanned after port 12
    AddDevice(r, "16:0:0:0", "ZORBELT", "TQ22");
    AddDevice(r, "12:0:4:0", "ZORBELT", "TQ33");
    AddDevice(r, "1:0:1:0", "ACME", "DISK");
    ExpectFirstLu(r, "000C.0000.0000000000000004.0000");

    // A device whose host has no port entry is not reached either.
    FAKE_ROOT r2 = MakeRoot();
    AddDevice(r2, "4:0:0:0", "ZORBELT", "TQ22");
    RunResult res = RunDisplay(r2);
    EXPECT_EQ(res.out, kNoLu);
    EXPECT_EQ(res.code, 0);
}

TEST(LinuxPorts, ShortInquiryDataSelectsNothing)
{
    FAKE_ROOT r = MakeRoot();
    AddHost(r, 0);
    AddDevice(r, "0:0:0:0", "ZORBELT", "TQ22", 14);  // cut inside the product
    AddDevice(r, "0:0:0:1", "ZORBELT", "TQ44", 0);
    AddDevice(r, "0:0:0:2", "ZORBELT", "TQ44", 36);
    ExpectFirstLu(r, "0000.0000.0000000000000000.0002");
}

TEST(LinuxPorts, PortPastSixteenKilobytesIsReadToItsLastRecord)
{
    // 400 devices with 255 bytes of INQUIRY data each; only the last one
    // is managed, so message 20 naming it shows the whole port was walked.
    FAKE_ROOT r = MakeRoot();
    AddHost(r, 5);
    for (int t = 0; t < 2; ++t)
        for (int l = 0; l < 200; ++l)
            if (t != 1 || l != 199)
                AddDevice(r, "5:0:" + std::to_string(t) + ":" + std::to_string(l), "ACME", "DISK",
                          255);
    AddDevice(r, "5:0:1:199", "ZORBELT", "TQ22", 255);
    ExpectFirstLu(r, "0005.0000.0000000000000001.00C7");
}

TEST(LinuxPorts, NoHostsAndNoDrivesEndWithNoLu)
{
    FAKE_ROOT r = MakeRoot();
    RunResult res = RunDisplay(r);
    EXPECT_EQ(res.out, kNoLu);
    EXPECT_EQ(res.code, 0);

    // A host without the SCSI bus folder has no devices.
    FAKE_ROOT r2 = MakeRoot();
    AddHost(r2, 0);
    fs::remove_all(r2.Dir + "/sys/bus");
    res = RunDisplay(r2);
    EXPECT_EQ(res.out, kNoLu);
    EXPECT_EQ(res.code, 0);
}

TEST(LinuxPorts, NumbersAsWideAsLinuxGivesThemAreListedWhole)
{
    // Each managed LU in discovery order, with the drive of every LU before
    // it mapped: message 20 names it, whole; with every drive mapped the
    // first READ KEYS is sent (it fails on a node that is no sg device).
    // An unmanaged tape library beside them ends nothing.
    const std::vector<std::pair<std::string, std::string>> lus = {
        {"0:0:0:0", "0000.0000.0000000000000000.0000"},
        {"0:0:0:255", "0000.0000.0000000000000000.00FF"},
        {"0:0:0:256", "0000.0000.0000000000000000.0100"},
        {"2:0:1:16384", "0002.0000.0000000000000001.4000"},
        {"300:0:300:0", "012C.0000.000000000000012C.0000"},
        {"70000:0:0:1099511627777", "11170.0000.0000000000000000.10000000001"},
    };
    std::vector<PTY> drives(lus.size());
    for (size_t mapped = 0; mapped <= lus.size(); ++mapped) {
        SCOPED_TRACE(mapped);
        FAKE_ROOT r = MakeRoot();
        for (unsigned h : {0u, 2u, 5u, 300u, 70000u}) AddHost(r, h);
        for (auto it = lus.rbegin(); it != lus.rend(); ++it) AddDevice(r, it->first, "ZORBELT", "TQ22");
        AddDevice(r, "5:0:0:300", "ACME", "TAPELIB");
        for (size_t i = 0; i < mapped; ++i) AddDrive(r, (int)i, drives[i].Slave, lus[i].first);
        RunResult res = RunDisplay(r);
        EXPECT_EQ(res.out, (mapped < lus.size() ? kNoDrive + lus[mapped].second
                                                : kReadKeysFailed + lus[0].second) + "\n");
        EXPECT_EQ(res.code, 3);
    }

    // A host whose devices cannot be laid out at all still says so.
    FAKE_ROOT r = MakeRoot();
    AddHost(r, 4);
    AddDevice(r, "4:70000:0:0", "ACME", "DISK");
    RunResult res = RunDisplay(r);
    EXPECT_EQ(res.out, "ROVT10664-E An attempt to acquire Inquiry data failed. PortNo = 0x4, "
                       "Error Code = 0x32\n");
    EXPECT_EQ(res.code, 3);
}

}  // namespace

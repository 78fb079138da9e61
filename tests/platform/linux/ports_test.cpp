// The Linux layer's test build (vrxpr-linux-test) against a made-up /sys,
// /dev and /lib/modules (VRXPR_TEST_ROOT): SCSI hosts as ports, their
// devices as inquiry records, and kernel modules standing in for the
// service keys. No sg device exists under the fake /dev, so the first LU in
// discovery order is the one that message 20 names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

#include "fake_root.h"
#include "run.h"

namespace {

const char kInstalled[] =
    "ROVT10669-W The utility for clearing VORX persistent reservation (vrxpr) cannot be "
    "executed because VORX is installed.\n";

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

TEST(LinuxDrives, AddressIsTheOpenNodesWholeSysfsName)
{
    // Managed LU 2:0:1:44. A drive whose name differs only past the low
    // byte (or past the low 32 bits of the LUN) is not its drive; the one
    // that names it is, and its READ KEYS fails there (the node is no sg
    // device).
    struct {
        const char* Address;
        bool Maps;
    } const rows[] = {
        {"2:0:1:44", true},
        {"2:0:1:4294967340", false},  // LUN 2^32 + 44
        {"2:0:1:300", false},
        {"258:0:1:44", false},
        {"2:256:1:44", false},
        {"2:0:1", false},
    };
    const std::string lu = "0002.0000.0000000000000001.002C";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Address);
        FAKE_ROOT r = MakeRoot();
        AddHost(r, 2);
        AddDevice(r, "2:0:1:44", "ZORBELT", "TQ44");
        AddDrive(r, 0, "/dev/null", row.Address);
        AddDrive(r, 1, "/dev/zero", "2:0:1:45");
        RunResult res = RunDisplay(r);
        EXPECT_EQ(res.out, (row.Maps ? kReadKeysFailed : kNoDrive) + lu + "\n");
        EXPECT_EQ(res.code, 3);
    }
}

TEST(LinuxDrives, ClosedStandardDescriptorsNeverBecomeDrives)
{
    // The drive is a terminal here, so whatever the run writes into it can
    // be read back from the other side. Its READ KEYS fails: message 14.
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    std::string slave = ptsname(master);
    int held = open(slave.c_str(), O_RDWR | O_NOCTTY);  // keeps the buffer readable
    ASSERT_GE(held, 0);
    const std::string lu = "0002.0000.0000000000000001.002C";
    struct {
        const char* Redirect;
        std::string Out;
    } const rows[] = {
        {"<&-", kReadKeysFailed + lu + "\n"},
        {">&-", ""},
        {"2>&-", kReadKeysFailed + lu + "\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Redirect);
        FAKE_ROOT r = MakeRoot();
        AddHost(r, 2);
        AddDevice(r, "2:0:1:44", "ZORBELT", "TQ44");
        AddDrive(r, 0, slave, "2:0:1:44");
        RunOptions opt;
        opt.unsetEnv = {"LC_ALL", "LC_MESSAGES", "LANG"};
        opt.env = {{"VRXPR_TEST_ROOT", r.Dir}};
        RunResult res = RunProgram("/bin/sh", {"-c", std::string("exec \"$0\" -d ") + row.Redirect,
                                               LinuxTestExe()},
                                   opt);
        EXPECT_EQ(res.out, row.Out);
        EXPECT_EQ(res.code, 3);
        char buf[256];
        ssize_t n = read(master, buf, sizeof buf);
        EXPECT_EQ(n, -1) << std::string(buf, n > 0 ? (size_t)n : 0);
    }
    close(held);
    close(master);
}

TEST(LinuxGuard, LoadedModuleOfAServiceNameMeansInstalled)
{
    for (const char* name : {"VORXdsm", "vorxdsm", "vrxfdrv", "VRXFDRV"}) {
        SCOPED_TRACE(name);
        FAKE_ROOT r = MakeRoot();
        fs::create_directories(r.Dir + "/sys/module/" + name);
        RunResult res = RunDisplay(r);
        EXPECT_EQ(res.out, kInstalled);
        EXPECT_EQ(res.code, 2);
    }
}

TEST(LinuxGuard, ModuleFileForTheRunningKernelMeansInstalled)
{
    for (const char* line : {"kernel/drivers/scsi/vrxfdrv.ko:\n",
                             "updates/dkms/VORXdsm.ko.xz: kernel/drivers/scsi/scsi_mod.ko.xz\n",
                             "extra/vrxfdrv.ko.zst:\n", "extra/vorxdsm.ko.gz:\n"}) {
        SCOPED_TRACE(line);
        FAKE_ROOT r = MakeRoot();
        WriteFile(ModulesDir(r) + "/modules.dep",
                  std::string("kernel/fs/configfs/configfs.ko:\n") + line);
        RunResult res = RunDisplay(r);
        EXPECT_EQ(res.out, kInstalled);
        EXPECT_EQ(res.code, 2);
    }
}

TEST(LinuxGuard, OtherModulesDoNotCount)
{
    FAKE_ROOT r = MakeRoot();
    fs::create_directories(r.Dir + "/sys/module/vrxfdrv2");
    fs::create_directories(r.Dir + "/sys/module/scsi_mod");
    WriteFile(ModulesDir(r) + "/modules.dep",
              "kernel/drivers/vrxfdrv/helper.ko: kernel/drivers/vrxfdrv.ko\n"
              "kernel/drivers/vorxdsm.ko.bak:\n"
              "kernel/drivers/xvrxfdrv.ko:\n");
    RunResult res = RunDisplay(r);
    EXPECT_EQ(res.out, kNoLu);
    EXPECT_EQ(res.code, 0);

    // No module tree at all for the running kernel: nothing installed.
    FAKE_ROOT r2 = MakeRoot();
    res = RunDisplay(r2);
    EXPECT_EQ(res.out, kNoLu);
    EXPECT_EQ(res.code, 0);
}

TEST(LinuxGuard, UncheckableModuleListIsAnInternalError)
{
    FAKE_ROOT r = MakeRoot();
    fs::create_directories(ModulesDir(r) + "/modules.dep");  // a folder: cannot be read
    RunResult res = RunDisplay(r);
    EXPECT_EQ(res.out, "ROVT10648-E An internal error occurred in the vrxpr command. "
                       "Error Code = QelVRXPR_ChkVORXReg()001\n");
    EXPECT_EQ(res.code, 4);
}

TEST(LinuxProduct, InstalledUtilityTakesNoRootFromTheEnvironment)
{
    std::string product = ReadFile(LinuxExe());
    std::string testBuild = ReadFile(LinuxTestExe());
    const std::string name = "VRXPR_TEST_ROOT";
    EXPECT_NE(std::search(testBuild.begin(), testBuild.end(), name.begin(), name.end()),
              testBuild.end());
    EXPECT_EQ(std::search(product.begin(), product.end(), name.begin(), name.end()), product.end());

    // A made-up root where the guard module is loaded stops the test build
    // only; the installed utility looks at the system's own /sys.
    FAKE_ROOT r = MakeRoot();
    fs::create_directories(r.Dir + "/sys/module/vrxfdrv");
    EXPECT_EQ(RunDisplay(r).out, kInstalled);
    RunResult res = RunDisplay(r, LinuxExe());
    EXPECT_NE(res.out, kInstalled);
    EXPECT_NE(res.code, 2);
}

}  // namespace

// Drive mapping in the Linux layer's test build on a made-up root: which
// sg node is a managed LU's drive, and what never becomes one.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "fake_root.h"
#include "run.h"

namespace {

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

}  // namespace

// A drive's address, called in-process over a made-up sysfs and /dev: read
// again on every open, whole.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "platform/linux/pf_linux.h"
#include "run.h"

namespace {

namespace fs = std::filesystem;

struct ROOT {
    std::string Dir;
};

ROOT NewRoot()
{
    ROOT r{MakeTempDir()};
    fs::create_directories(r.Dir + "/sys/dev/char");
    fs::create_directories(r.Dir + "/dev");
    setenv("VRXPR_TEST_ROOT", r.Dir.c_str(), 1);
    return r;
}

// The sysfs entry of dev's device number names SCSI device hctl.
void SetEntry(const ROOT& r, const std::string& dev, const std::string& hctl)
{
    struct stat st;
    ASSERT_EQ(stat(dev.c_str(), &st), 0);
    std::string link = r.Dir + "/sys/dev/char/" + std::to_string(major(st.st_rdev)) + ":" +
                       std::to_string(minor(st.st_rdev));
    fs::remove(link);
    fs::create_symlink("../../devices/platform/host0/target0:0:1/" + hctl + "/scsi_generic/sg0",
                       link);
}

void SetNode(const ROOT& r, const std::string& dev)
{
    fs::remove(r.Dir + "/dev/sg0");
    fs::create_symlink(dev, r.Dir + "/dev/sg0");
}

// "P:B:T:L" of /dev/sg0 as a new open reads it, or "error N".
std::string Address()
{
    HANDLE h = QelVRXPR_OpenDevice("/dev/sg0");
    if (h == INVALID_HANDLE_VALUE) return "no open";
    SCSI_ADDRESS a;
    DWORD n = 0;
    int ok = QelVRXPR_RequestDevice(h, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &a, sizeof a, &n);
    std::string got = ok ? std::to_string(a.PortNumber) + ":" + std::to_string(a.PathId) + ":" +
                               std::to_string(a.TargetId) + ":" + std::to_string(a.Lun)
                         : "error " + std::to_string(QelVRXPR_GetLastErr());
    QelVRXPR_CloseDevice(h);
    return got;
}

TEST(LinuxDriveAddress, EveryOpenAnswersForTheDeviceItReachesNow)
{
    // A node outlives its device when devtmpfs did not make it (mknod, a
    // bind mount): the sg number then passes to the next device, and only
    // a read on the open descriptor tells which device that is. The test
    // nodes are no sg devices, so their address comes from sysfs.
    ROOT r = NewRoot();
    SetNode(r, "/dev/null");
    struct {
        const char* Entry;
        const char* Address;
    } const rows[] = {
        {"2:0:1:44", "2:0:1:44"},
        {"2:0:1:45", "2:0:1:45"},
        {"70000:3:300:1099511627777", "70000:3:300:1099511627777"},
        {"4294967295:0:0:18446744073709551615", "4294967295:0:0:18446744073709551615"},
        {"4294967296:0:0:0", "error 50"},
        {"2:0:1", "error 1"},
        {"2:0:1:44", "2:0:1:44"},
    };
    for (const auto& row : rows) {
        SetEntry(r, "/dev/null", row.Entry);
        EXPECT_EQ(Address(), row.Address) << row.Entry;
    }
}

TEST(LinuxDriveAddress, StateFilesKeptUnderAnotherRootSayNothingOfThisOne)
{
    // Under the first root device 2:0:1:44's state file is kept, as
    // discovery keeps it. Under the second, sg0 reaches 2:0:1:4294967340,
    // whose LUN is 44 in its low 32 bits: the first root's file still
    // reads, and only the moved root tells that it is not this device's.
    ROOT first = NewRoot();
    std::string dev = first.Dir + "/sys/devices/platform/host0/target0:0:1/2:0:1:44";
    fs::create_directories(dev);
    WriteFile(dev + "/state", "running\n");
    int dir = open(dev.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(dir, 0);
    const uint64_t hctl[4] = {2, 0, 1, 44};
    QelVRXPR_KeepDeviceState(dir, hctl);
    close(dir);
    SetNode(first, "/dev/null");
    SetEntry(first, "/dev/null", "2:0:1:44");
    EXPECT_EQ(Address(), "2:0:1:44");

    ROOT second = NewRoot();
    SetNode(second, "/dev/null");
    SetEntry(second, "/dev/null", "2:0:1:4294967340");
    EXPECT_EQ(Address(), "2:0:1:4294967340");
}

}  // namespace

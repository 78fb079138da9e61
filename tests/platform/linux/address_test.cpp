// A drive's address, called in-process over a made-up sysfs and /dev: read
// from sysfs, and taken again without it only for the very node read
// before, on a devtmpfs mount.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "platform/platform.h"
#include "run.h"

namespace {

namespace fs = std::filesystem;

struct ROOT {
    std::string Dir;
};

// mountinfo names the file system that holds the real /dev/null and
// /dev/zero with the type given.
ROOT NewRoot(const std::string& devFsType)
{
    ROOT r{MakeTempDir()};
    fs::create_directories(r.Dir + "/sys/dev/char");
    fs::create_directories(r.Dir + "/dev");
    fs::create_directories(r.Dir + "/proc/self");
    struct stat st;
    EXPECT_EQ(stat("/dev/null", &st), 0);
    std::string devNo = std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
    WriteFile(r.Dir + "/proc/self/mountinfo",
              "22 1 0:21 / /proc rw,nosuid - proc proc rw\n"
              "23 1 " + devNo + " / /dev rw,nosuid shared:2 - " + devFsType + " udev rw,mode=755\n");
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

TEST(LinuxDriveAddress, SameNodeOnDevtmpfsKeepsTheAddressReadFirst)
{
    // The entry changes under the same node: on devtmpfs that cannot happen
    // to a real device (its node goes with it), so the first read stands.
    ROOT r = NewRoot("devtmpfs");
    SetNode(r, "/dev/null");
    SetEntry(r, "/dev/null", "2:0:1:44");
    EXPECT_EQ(Address(), "2:0:1:44");
    SetEntry(r, "/dev/null", "2:0:1:45");
    EXPECT_EQ(Address(), "2:0:1:44");

    // Another node under the name: read again, and that read stands next.
    SetNode(r, "/dev/zero");
    SetEntry(r, "/dev/zero", "3:0:2:7");
    EXPECT_EQ(Address(), "3:0:2:7");
    SetEntry(r, "/dev/zero", "3:0:2:8");
    EXPECT_EQ(Address(), "3:0:2:7");

    // Back to the first node: what was remembered for the name was the
    // other node, so sysfs is read.
    SetNode(r, "/dev/null");
    EXPECT_EQ(Address(), "2:0:1:45");

    // An entry that cannot be read is never remembered.
    SetNode(r, "/dev/zero");
    SetEntry(r, "/dev/zero", "3:0:2:300");
    EXPECT_EQ(Address(), "error 50");
    SetEntry(r, "/dev/zero", "3:0:2:9");
    EXPECT_EQ(Address(), "3:0:2:9");
}

TEST(LinuxDriveAddress, NodesElsewhereAreReadFromSysfsEveryTime)
{
    for (const char* type : {"tmpfs", "devtmpfs2", "devpts"}) {
        SCOPED_TRACE(type);
        ROOT r = NewRoot(type);
        SetNode(r, "/dev/null");
        SetEntry(r, "/dev/null", "2:0:1:44");
        EXPECT_EQ(Address(), "2:0:1:44");
        SetEntry(r, "/dev/null", "2:0:1:45");
        EXPECT_EQ(Address(), "2:0:1:45");
    }

    // No mount table at all.
    ROOT r = NewRoot("devtmpfs");
    fs::remove(r.Dir + "/proc/self/mountinfo");
    SetNode(r, "/dev/null");
    SetEntry(r, "/dev/null", "2:0:1:44");
    EXPECT_EQ(Address(), "2:0:1:44");
    SetEntry(r, "/dev/null", "2:0:1:46");
    EXPECT_EQ(Address(), "2:0:1:46");
}

}  // namespace

// A made-up /sys, /dev and /lib/modules for the Linux layer's test build
// (vrxpr-linux-test, VRXPR_TEST_ROOT), shared by the tests that run it.
#ifndef VRXPR_TEST_LINUX_FAKE_ROOT_H
#define VRXPR_TEST_LINUX_FAKE_ROOT_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "run.h"

namespace fs = std::filesystem;

inline const char kNoDrive[] = "ROVT10667-C An attempt to the get physical drive number failed. LU = ";
inline const char kNoLu[] = "ROVT10660-I There is no LU managed by VORX.\n";
inline const char kReadKeysFailed[] =
    "ROVT10661-E The SCSI command failed. SCSI Code=0x5e, Service Action = 0x0, "
    "Status Code = 0x0, Error Code = 0x1f, LU = ";

struct FAKE_ROOT {
    std::string Dir;
};

inline FAKE_ROOT MakeRoot()
{
    FAKE_ROOT r{MakeTempDir()};
    fs::create_directories(r.Dir + "/sys/class/scsi_host");
    fs::create_directories(r.Dir + "/sys/bus/scsi/devices");
    fs::create_directories(r.Dir + "/sys/module");
    fs::create_directories(r.Dir + "/dev");
    return r;
}

inline void AddHost(const FAKE_ROOT& r, unsigned host)
{
    fs::create_directories(r.Dir + "/sys/class/scsi_host/host" + std::to_string(host));
}

// 96 bytes of standard INQUIRY data, as the kernel keeps it, or fewer.
inline void AddDevice(const FAKE_ROOT& r, const std::string& hctl, const std::string& vendor,
               const std::string& product, size_t length = 96)
{
    std::string inq(96, '\0');
    inq[2] = 0x06;
    inq[3] = 0x02;
    inq[4] = 91;
    std::string id = (vendor + std::string(8, ' ')).substr(0, 8) +
                     (product + std::string(16, ' ')).substr(0, 16) + "4.0 ";
    inq.replace(8, id.size(), id);
    // As the kernel lays it out: the bus folder links into the device tree.
    std::string dir = r.Dir + "/sys/devices/platform/host0/target0:0:1/" + hctl;
    fs::create_directories(dir);
    fs::create_symlink("../../../devices/platform/host0/target0:0:1/" + hctl,
                       r.Dir + "/sys/bus/scsi/devices/" + hctl);
    WriteFile(dir + "/inquiry", inq.substr(0, length));
}

inline std::string ModulesDir(const FAKE_ROOT& r)
{
    utsname u;
    uname(&u);
    std::string dir = r.Dir + "/lib/modules/" + u.release;
    fs::create_directories(dir);
    return dir;
}

inline std::string LinuxTestExe()
{
    return (fs::path(LinuxExe()).parent_path() / "vrxpr-linux-test").string();
}

inline RunResult RunDisplay(const FAKE_ROOT& r, const std::string& exe = LinuxTestExe())
{
    RunOptions opt;
    opt.unsetEnv = {"LC_ALL", "LC_MESSAGES", "LANG"};
    opt.env = {{"VRXPR_TEST_ROOT", r.Dir}};
    return RunProgram(exe, {"-d"}, opt);
}

inline void ExpectFirstLu(const FAKE_ROOT& r, const std::string& luName)
{
    RunResult res = RunDisplay(r);
    EXPECT_EQ(res.out, kNoDrive + luName + "\n");
    EXPECT_EQ(res.code, 3);
}

// Drive N of the fake /dev is the host's character device dev, and the
// kernel's entry for that device number is the sg node of SCSI device hctl.
inline void AddDrive(const FAKE_ROOT& r, int n, const std::string& dev, const std::string& hctl)
{
    struct stat st;
    ASSERT_EQ(stat(dev.c_str(), &st), 0) << dev;
    std::string num = std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
    fs::create_directories(r.Dir + "/sys/dev/char");
    fs::create_symlink("../../devices/platform/host0/target0:0:1/" + hctl + "/scsi_generic/sg" +
                           std::to_string(n),
                       r.Dir + "/sys/dev/char/" + num);
    fs::create_symlink(dev, r.Dir + "/dev/sg" + std::to_string(n));
}

// The state attribute of SCSI device hctl, where drive n's sg node reaches
// it ("device" of the node is the SCSI device); returns the file's path.
inline std::string SetDeviceState(const FAKE_ROOT& r, int n, const std::string& hctl, const std::string& state)
{
    std::string dev = r.Dir + "/sys/devices/platform/host0/target0:0:1/" + hctl;
    std::string node = dev + "/scsi_generic/sg" + std::to_string(n);
    fs::create_directories(node);
    if (!fs::is_symlink(node + "/device")) fs::create_symlink("../..", node + "/device");
    WriteFile(dev + "/state", state + "\n");
    return dev + "/state";
}

// A terminal pair: its slave side is a character device of its own, and no
// sg device, for a made-up drive.
struct PTY {
    int Master = -1;
    std::string Slave;
    PTY()
    {
        Master = posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(Master, 0);
        EXPECT_EQ(grantpt(Master), 0);
        EXPECT_EQ(unlockpt(Master), 0);
        Slave = ptsname(Master);
    }
    ~PTY() { close(Master); }
    PTY(const PTY&) = delete;
    PTY& operator=(const PTY&) = delete;
};

#endif

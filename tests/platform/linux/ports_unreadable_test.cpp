// Discovery where the made-up /sys cannot be read whole: no sysfs, too few
// descriptors, no permission. Each ends the run with message 17 naming the
// port; none lists fewer LUs as if the rest were not there.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include "fake_root.h"
#include "run.h"

namespace {

// The statfs magic of the filesystem dir is on: the test build then takes
// the made-up sys/ for a mounted sysfs.
std::string FsMagic(const std::string& dir)
{
    struct statfs st;
    EXPECT_EQ(statfs(dir.c_str(), &st), 0);
    char text[32];
    std::snprintf(text, sizeof text, "%#lx", (unsigned long)st.f_type);
    return text;
}

// Host 2 with five managed LUs and no drive: a run that reads them all
// names the first, 2:0:0:1, in message 20.
void AddFiveLus(const FAKE_ROOT& r)
{
    AddHost(r, 2);
    for (int lun = 1; lun <= 5; ++lun) {
        std::string hctl = "2:0:0:" + std::to_string(lun);
        AddDevice(r, hctl, "ZORBELT", "TQ22");
        SetDeviceState(r, lun, hctl, "running");
    }
}

const char kFirstOfFive[] = "0002.0000.0000000000000000.0001";

TEST(LinuxPorts, SysfsThatCannotBeReadWholeEndsTheRun)
{
    enum { NO_SYS, EMPTY_SYS, HOSTS_A_FILE, FIVE_LUS };
    const std::string devices = "/sys/devices/platform/host0/target0:0:1/";
    struct {
        const char* Name;
        int Layout;
        bool Sysfs;  // sys/ stands for a mounted sysfs
        int FileLimit;
        const char* Denied;  // made unreadable (root passes permission bits: run as nobody)
        std::string Out;
        int Code;
    } const rows[] = {
        {"no sys/ at all", NO_SYS, false, 0, "", MsgInquiryFailed(0x0, 0x3), 3},
        {"sys/ a plain folder", EMPTY_SYS, false, 0, "", MsgInquiryFailed(0x0, 0x3), 3},
        {"sysfs without SCSI", EMPTY_SYS, true, 0, "", kNoLu, 0},
        {"class folder a file", HOSTS_A_FILE, true, 0, "", MsgInquiryFailed(0x0, 0x1f), 3},
        // 0-2, the devices folder and one device's folder: its INQUIRY data
        // finds no descriptor (under so low a limit no state file is kept).
        {"INQUIRY data past the file limit", FIVE_LUS, false, 5, "", MsgInquiryFailed(0x2, 0x4), 3},
        {"room for every file", FIVE_LUS, false, 64, "", MsgNoDrive(kFirstOfFive), 3},
        {"every folder readable", FIVE_LUS, false, 0, "-", MsgNoDrive(kFirstOfFive), 3},
        {"class folder", FIVE_LUS, false, 0, "/sys/class/scsi_host", MsgInquiryFailed(0x0, 0x5), 3},
        {"devices folder", FIVE_LUS, false, 0, "/sys/bus/scsi/devices", MsgInquiryFailed(0x2, 0x5), 3},
        {"a device's folder", FIVE_LUS, false, 0, "2:0:0:3", MsgInquiryFailed(0x2, 0x5), 3},
        {"a device's INQUIRY data", FIVE_LUS, false, 0, "2:0:0:4/inquiry", MsgInquiryFailed(0x2, 0x5), 3},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        FAKE_ROOT r = MakeRoot();
        switch (row.Layout) {
        case NO_SYS:
            fs::remove_all(r.Dir + "/sys");
            break;
        case EMPTY_SYS:
            fs::remove_all(r.Dir + "/sys/class");
            break;
        case HOSTS_A_FILE:
            fs::remove_all(r.Dir + "/sys/class/scsi_host");
            WriteFile(r.Dir + "/sys/class/scsi_host", "");
            break;
        case FIVE_LUS:
            AddFiveLus(r);
            break;
        }
        std::string denied;
        if (row.Denied[0] == '/')
            denied = r.Dir + row.Denied;
        else if (row.Denied[0] != '\0' && row.Denied[0] != '-')
            denied = r.Dir + devices + row.Denied;
        if (!denied.empty()) {
            ASSERT_EQ(chmod(denied.c_str(), 0), 0);
        }
        ASSERT_EQ(chmod(r.Dir.c_str(), 0755), 0);
        bool drop = row.Denied[0] != '\0' && geteuid() == 0;
        RunOptions opt;
        opt.unsetEnv = {"LC_ALL", "LC_MESSAGES", "LANG", "VRXPR_TEST_SYSFS_MAGIC"};
        opt.env = {{"VRXPR_TEST_ROOT", r.Dir},
                   {"LIMIT", std::to_string(row.FileLimit)},
                   {"DROP", drop ? "setpriv --reuid=65534 --regid=65534 --clear-groups --" : ""}};
        if (row.Sysfs) opt.env.push_back({"VRXPR_TEST_SYSFS_MAGIC", FsMagic(r.Dir)});
        RunResult res = RunProgram(
            "/bin/sh",
            {"-c",
             "exec 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9>&-; [ $LIMIT = 0 ] || ulimit -n $LIMIT; "
             "exec $DROP \"$0\" -d",
             LinuxTestExe()},
            opt);
        EXPECT_EQ(res.out, row.Out);
        EXPECT_EQ(res.code, row.Code);
        EXPECT_EQ(res.err, "");
        if (!denied.empty()) chmod(denied.c_str(), 0755);
    }
}

}  // namespace

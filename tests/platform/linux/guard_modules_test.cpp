// The check for an installed VORX in the Linux layer's test build: kernel
// modules under a made-up /sys/module and /lib/modules stand in for the
// service keys. The installed utility takes no made-up root at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "fake_root.h"
#include "run.h"

namespace {

const char kInstalled[] =
    "ROVT10669-W The utility for clearing VORX persistent reservation (vrxpr) cannot be "
    "executed because VORX is installed.\n";

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

// The Linux layer's test build on a made-up root: how a run ends when its
// output has no reader or cannot be written, and numbers wider than a byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "linux_root.h"
#include "run.h"

namespace {

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

TEST(LinuxOutput, ReaderGoneLeavesTheExitCodeAndFullDeviceEndsWithThree)
{
    // SIGPIPE at its default action, as a shell starts the utility.
    FAKE_ROOT none = MakeRoot();
    FAKE_ROOT unmapped = MakeRoot();
    AddHost(unmapped, 2);
    AddDevice(unmapped, "2:0:1:44", "ZORBELT", "TQ44");
    FAKE_ROOT guarded = MakeRoot();
    fs::create_directories(guarded.Dir + "/sys/module/vrxfdrv");
    struct {
        const FAKE_ROOT& Root;
        const char* Option;
        int Code;
    } const rows[] = {
        {none, "-d", 0}, {none, "-c", 0}, {none, "-h", 0},
        {unmapped, "-d", 3}, {guarded, "-d", 2}, {none, "-x", 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.Option) + " " + row.Root.Dir);
        RunOptions opt;
        opt.unsetEnv = {"LC_ALL", "LC_MESSAGES", "LANG"};
        opt.env = {{"VRXPR_TEST_ROOT", row.Root.Dir}};
        opt.defaultSigpipe = true;
        opt.outputClosed = true;
        RunResult res = RunProgram(LinuxTestExe(), {row.Option}, opt);
        EXPECT_EQ(res.signal, 0);
        EXPECT_EQ(res.code, row.Code);
        EXPECT_EQ(res.err, "");

        // Output that cannot be written is no success, whatever the run's
        // own end; an internal error would keep its 4.
        opt.outputClosed = false;
        opt.outputPath = "/dev/full";
        opt.input = "0\ny\ny\n";
        res = RunProgram(LinuxTestExe(), {row.Option}, opt);
        EXPECT_EQ(res.signal, 0);
        EXPECT_EQ(res.code, 3);
        EXPECT_EQ(res.err, "vrxpr: cannot write standard output: No space left on device\n");
    }
}

}  // namespace

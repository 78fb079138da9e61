// The Linux layer's test build on a made-up root: how a run ends when its
// output has no reader, and hosts numbered past 16 bits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "linux_root.h"
#include "run.h"

namespace {

TEST(LinuxPorts, HostsPastSixteenBitsAreReachedAndFailTheirPort)
{
    // Such a host's devices cannot be addressed: the run ends at it, alone
    // or after another host's LU, never with that LU listed and this one
    // left out. Hosts without devices hide nothing.
    struct {
        std::vector<unsigned> Hosts;
        std::vector<std::string> Devices;
        std::string Out;
        int Code;
    } const rows[] = {
        {{70000}, {"70000:0:1:5"}, "PortNo = 0x11170", 3},
        {{2, 70000}, {"2:0:0:0", "70000:0:1:5"}, "PortNo = 0x11170", 3},
        {{2, 65536, 70000}, {"2:0:0:0", "70000:0:0:0"}, "PortNo = 0x11170", 3},
        {{2, 65535}, {"2:0:0:0", "65535:0:0:0"}, "PortNo = 0xffff", 3},
        {{3, 4294967294u}, {"4294967294:0:0:0"}, "PortNo = 0xfffffffe", 3},
        {{2, 70000}, {"2:0:0:0"}, "", 3},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Out + " " + row.Devices.back());
        FAKE_ROOT r = MakeRoot();
        for (unsigned h : row.Hosts) AddHost(r, h);
        for (const std::string& d : row.Devices) AddDevice(r, d, "ZORBELT", "TQ22");
        RunResult res = RunDisplay(r);
        EXPECT_EQ(res.out,
                  row.Out.empty()
                      ? kNoDrive + std::string("0002.0000.0000000000000000.0000\n")
                      : "ROVT10664-E An attempt to acquire Inquiry data failed. " + row.Out +
                            ", Error Code = 0x32\n");
        EXPECT_EQ(res.code, row.Code);
    }
}

TEST(LinuxOutput, ReaderGoneBeforeTheFirstByteLeavesTheExitCode)
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
    }
}

}  // namespace

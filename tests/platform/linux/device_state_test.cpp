// A drive whose SCSI device does not run (its transport in recovery, or set
// offline) gets no command: the layer waits the command's own time-out for
// it to run again, then fails the request with ERROR_NOT_READY. The drive
// is a host character device here, on which SG_IO fails with Error Code
// 0x1f: 0x15 shows that the command never went out.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "fake_root.h"
#include "run.h"

namespace {

std::string M14(const char* opCode, const char* error)
{
    return std::string("ROVT10661-E The SCSI command failed. SCSI Code=") + opCode +
           ", Service Action = 0x0, Status Code = 0x0, Error Code = " + error +
           ", LU = 0002.0000.0000000000000001.002C\n";
}

// With AGAIN set, "running" goes into that state file once the run sleeps
// waiting for the device (clock_nanosleep or nanosleep on x86-64).
const char kRun[] = R"SH("$0" $MODE &
c=$!
if [ -n "$AGAIN" ]; then
  n=0
  until case "$(cat /proc/$c/syscall 2>/dev/null)" in 230\ *|35\ *) true ;; *) false ;; esac; do
    n=$((n + 1)); [ $n -lt 500 ] || break
    sleep 0.01
  done
  echo running > "$AGAIN"
fi
wait $c
)SH";

TEST(LinuxDeviceState, ADeviceThatDoesNotRunGetsNoCommand)
{
    struct {
        const char* State;
        const char* Mode;
        bool Again;
        std::string Out;
    } const rows[] = {
        {"blocked", "-d", false, M14("0x5e", "0x15")},
        {"offline", "-d", false, M14("0x5e", "0x15")},
        {"transport-offline", "-d", false, M14("0x5e", "0x15")},
        // -c reads the LU's identity first.
        {"blocked", "-c", false, M14("0x12", "0x15")},
        // Running again within the wait, or all along: the command goes out.
        {"blocked", "-d", true, M14("0x5e", "0x1f")},
        {"running", "-d", false, M14("0x5e", "0x1f")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.State) + " " + row.Mode + (row.Again ? ", running again" : ""));
        FAKE_ROOT r = MakeRoot();
        AddHost(r, 2);
        AddDevice(r, "2:0:1:44", "ZORBELT", "TQ44");
        AddDrive(r, 0, "/dev/null", "2:0:1:44");
        std::string state = SetDeviceState(r, 0, "2:0:1:44", row.State);
        RunOptions opt;
        opt.unsetEnv = {"LC_ALL", "LC_MESSAGES", "LANG"};
        opt.env = {{"VRXPR_TEST_ROOT", r.Dir}, {"MODE", row.Mode}, {"AGAIN", row.Again ? state : ""}};
        opt.timeoutSec = 30;
        auto start = std::chrono::steady_clock::now();
        RunResult res = RunProgram("/bin/sh", {"-c", kRun, LinuxTestExe()}, opt);
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        ASSERT_FALSE(res.timedOut);
        EXPECT_EQ(res.out, row.Out);
        EXPECT_EQ(res.code, 3);
        // The wait is the command's 2-second time-out, not the transport's.
        if (row.Out.find("Error Code = 0x15") != std::string::npos) {
            EXPECT_GE(took.count(), 2.0);
            EXPECT_LT(took.count(), 15.0);
        }
    }
}

}  // namespace

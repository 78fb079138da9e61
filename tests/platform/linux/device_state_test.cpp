// What a command meets on its path. A device or host that does not run
// holds a command back for minutes without starting its time-out, and the
// kernel sends it once the run has given up: every command but READ KEYS
// and READ RESERVATION waits the command's own time-out for the path to run,
// then fails with ERROR_NOT_READY, nothing sent. Those two go out at once
// and are given up, with ERROR_SEM_TIMEOUT, when no answer came within the
// time-out and its 2-second margin. The made-up root's sg stand-in logs
// each command written (ROOT/sg-sent) and answers as ROOT/sg/H:C:T:L says;
// without that file it refuses the command, Error Code 0x1f.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "fake_root.h"
#include "run.h"

namespace {

const char kLu[] = "0002.0000.0000000000000001.002C";
const char kInquiry[] = "2:0:1:44 12018300fc00 in 252 2000 24\n";
const char kReadKeys[] = "2:0:1:44 5e000000000000010800 in 264 2000 24\n";
const char kNoKeys[] = "PathID PathName                        KeyCount ReservedKey      Type\n"
                       "000000 0002.0000.0000000000000001.002C     0    ---------------- None\n"
                       "ROVT10640-I The vrxpr utility completed normally.\n";

std::string M14(const char* opCode, const char* error, const char* lu = kLu)
{
    return std::string("ROVT10661-E The SCSI command failed. SCSI Code=") + opCode +
           ", Service Action = 0x0, Status Code = 0x0, Error Code = " + error + ", LU = " + lu + "\n";
}

// Once the run sits in one of the system calls WHEN names (x86-64 numbers:
// 230 clock_nanosleep and 35 nanosleep while it waits for the path, 7 poll
// while it waits for an answer), THEN runs with $c the run's process.
const char kRun[] = R"SH("$0" $MODE &
c=$!
if [ -n "$WHEN" ]; then
  n=0
  until grep -Eq "^($WHEN) " /proc/$c/syscall 2>/dev/null; do
    n=$((n + 1)); [ $n -lt 500 ] || break
    sleep 0.01
  done
  eval "$THEN"
fi
wait $c
)SH";

// How the made-up root's device at hctl answers the next command.
void SetAnswer(const FAKE_ROOT& r, const std::string& hctl, const std::string& answer)
{
    fs::create_directories(r.Dir + "/sg");
    WriteFile(r.Dir + "/sg/" + hctl, answer);
}

struct PATH_RUN {
    RunResult Res;
    double Took;
    std::string Sent;
};

PATH_RUN RunOnPath(const FAKE_ROOT& r, const char* mode, const std::string& when,
                   const std::string& then, const std::string& again)
{
    RunOptions opt;
    opt.unsetEnv = {"LC_ALL", "LC_MESSAGES", "LANG"};
    opt.env = {{"VRXPR_TEST_ROOT", r.Dir}, {"MODE", mode}, {"WHEN", when}, {"THEN", then},
               {"AGAIN", again}};
    opt.timeoutSec = 30;
    auto start = std::chrono::steady_clock::now();
    PATH_RUN run;
    run.Res = RunProgram("/bin/sh", {"-c", kRun, LinuxTestExe()}, opt);
    run.Took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.Sent = fs::exists(r.Dir + "/sg-sent") ? ReadFile(r.Dir + "/sg-sent") : "";
    return run;
}

TEST(LinuxPathState, ACommandWaitsForItsPathOrItsAnswerAndIsSentOnce)
{
    const std::string blocked = "blocked", running = "running";
    const std::string sleeping = "230|35", polling = "7";
    const std::string again = "echo running > \"$AGAIN\"";
    struct {
        std::string Device, Host;  // state files; empty: none
        const char* Mode;
        std::string Answer;        // the device's answer; empty: none
        std::string When, Then;    // what happens while the run waits
        bool AgainHost;            // "running" goes to the host's file, else the device's
        std::string Out;
        int Code;
        std::string Sent;
        double MinSec;             // the wait the run must have made
        // The kept state file reads nothing, and the state found anew
        // through the drive's device number is this one.
        std::string Refound = "";
    } const rows[] = {
        // -c reads the LU's identity first: nothing goes out on a path
        // that does not run.
        {"blocked", "", "-c", "", "", "", false, M14("0x12", "0x15"), 3, "", 2.0},
        {"offline", "", "-c", "", "", "", false, M14("0x12", "0x15"), 3, "", 2.0},
        {"transport-offline", "", "-c", "", "", "", false, M14("0x12", "0x15"), 3, "", 2.0},
        {"running", "recovery", "-c", "", "", "", false, M14("0x12", "0x15"), 3, "", 2.0},
        {"running", "cancel/recovery", "-c", "", "", "", false, M14("0x12", "0x15"), 3, "", 2.0},
        {"running", "deleted", "-c", "", "", "", false, M14("0x12", "0x15"), 3, "", 2.0},
        {"", "", "-c", "", "", "", false, M14("0x12", "0x15"), 3, "", 2.0, "blocked"},
        // Running again within the wait: the command goes out, once.
        {"blocked", "running", "-c", "", sleeping, again, false, M14("0x12", "0x1f"), 3, kInquiry, 0},
        {"running", "recovery", "-c", "", sleeping, again, true, M14("0x12", "0x1f"), 3, kInquiry, 0},
        // READ KEYS goes out whatever the path's state, and its answer,
        // held back where the path does not run, is waited for 2 + 2 s.
        {"running", "recovery", "-d", "after=never", "", "", false, M14("0x5e", "0x79"), 3, kReadKeys, 4.0},
        {"blocked", "", "-d", "after=never", "", "", false, M14("0x5e", "0x79"), 3, kReadKeys, 4.0},
        {"running", "running", "-d", "", "", "", false, M14("0x5e", "0x1f"), 3, kReadKeys, 0},
        // An answer within the margin is taken.
        {"running", "running", "-d", "after=3000 data=0000000100000000", "", "", false, kNoKeys, 0,
         kReadKeys, 3.0},
        // Stopped and continued while it waits: the wait goes on, the
        // command is not sent again.
        {"running", "running", "-d", "after=1500 data=0000000100000000", polling,
         "kill -STOP $c; sleep 0.3; kill -CONT $c", false, kNoKeys, 0, kReadKeys, 1.5},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Device + " / host " + row.Host + " " + row.Mode + " " + row.Answer + " " + row.Then);
        FAKE_ROOT r = MakeRoot();
        AddHost(r, 2);
        AddDevice(r, "2:0:1:44", "ZORBELT", "TQ44");
        AddDrive(r, 0, "/dev/null", "2:0:1:44");
        std::string state = SetDeviceState(r, 0, "2:0:1:44", row.Device);
        if (!row.Refound.empty()) {
            WriteFile(state, "");
            std::string node = r.Dir + "/sys/devices/platform/host0/target0:0:1/2:0:1:44/scsi_generic/sg0";
            fs::remove(node + "/device");
            fs::create_symlink("../../../elsewhere", node + "/device");
            fs::create_directories(r.Dir + "/sys/devices/platform/host0/target0:0:1/elsewhere");
            WriteFile(r.Dir + "/sys/devices/platform/host0/target0:0:1/elsewhere/state", row.Refound + "\n");
        }
        if (!row.Host.empty()) WriteFile(r.Dir + "/sys/class/scsi_host/host2/state", row.Host + "\n");
        if (!row.Answer.empty()) SetAnswer(r, "2:0:1:44", row.Answer);
        std::string againFile = row.AgainHost ? r.Dir + "/sys/class/scsi_host/host2/state" : state;
        PATH_RUN run = RunOnPath(r, row.Mode, row.When, row.Then, againFile);
        ASSERT_FALSE(run.Res.timedOut);
        EXPECT_EQ(run.Res.out, row.Out);
        EXPECT_EQ(run.Res.code, row.Code);
        EXPECT_EQ(run.Sent, row.Sent);
        EXPECT_GE(run.Took, row.MinSec);
        // Never the transport's minutes, nor a wait beyond the deadline.
        EXPECT_LT(run.Took, row.MinSec + 3.0);
    }
}

TEST(LinuxPathState, TheListedDeviceGoneItsDrivesNewcomerIsRefusedByItsWholeLun)
{
    // LUs 44 and 45 are listed; while the first READ KEYS waits for its
    // answer, LU 45 goes away (its kept state file reads no more) and
    // another device takes its sg number. SG_GET_SCSI_ID gives the LUN's
    // low 32 bits: 2^32 + 45 looks like 45 there, and is refused as LU 46
    // is. Without a file limit the state files are kept; under a limit of
    // 12 none is, and each command reads the address from sysfs.
    const char* lu45 = "0002.0000.0000000000000001.002D";
    const std::string noDrive45 = kNoDrive + std::string(lu45) + "\n";
    const std::string readKeys45 = "2:0:1:45 5e000000000000010800 in 264 2000 24\n";
    const std::string both = "PathID PathName                        KeyCount ReservedKey      Type\n"
                             "000000 0002.0000.0000000000000001.002C     0    ---------------- None\n"
                             "000001 0002.0000.0000000000000001.002D     0    ---------------- None\n"
                             "ROVT10640-I The vrxpr utility completed normally.\n";
    struct {
        const char* Newcomer;  // empty: LU 45 stays
        const char* Limit;
        std::string Out;
        int Code;
        std::string Sent;
    } const rows[] = {
        {"", "", both, 0, std::string(kReadKeys) + readKeys45},
        {"2:0:1:46", "", noDrive45, 3, kReadKeys},
        {"2:0:1:4294967341", "", noDrive45, 3, kReadKeys},
        {"2:0:1:4294967341", "12", noDrive45, 3, kReadKeys},
        {"", "12", both, 0, std::string(kReadKeys) + readKeys45},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.Newcomer) + " limit " + row.Limit);
        FAKE_ROOT r = MakeRoot();
        AddHost(r, 2);
        PTY second;
        for (const char* hctl : {"2:0:1:44", "2:0:1:45"}) AddDevice(r, hctl, "ZORBELT", "TQ44");
        AddDrive(r, 0, "/dev/null", "2:0:1:44");
        AddDrive(r, 1, second.Slave, "2:0:1:45");
        SetDeviceState(r, 0, "2:0:1:44", "running");
        std::string state45 = SetDeviceState(r, 1, "2:0:1:45", "running");
        SetAnswer(r, "2:0:1:44", "after=500 data=0000000100000000");
        SetAnswer(r, "2:0:1:45", "data=0000000100000000");
        std::string then;
        if (row.Newcomer[0] != '\0') {
            std::string link = fs::read_symlink(r.Dir + "/dev/sg1").string();
            struct stat st;
            ASSERT_EQ(stat(link.c_str(), &st), 0);
            std::string entry = r.Dir + "/sys/dev/char/" + std::to_string(major(st.st_rdev)) + ":" +
                                std::to_string(minor(st.st_rdev));
            SetAnswer(r, row.Newcomer, "data=0000000100000000");
            // Truncated, then removed: the kept descriptor reads nothing.
            then = ": > '" + state45 + "'; rm -f '" + state45 + "' '" + entry +
                   "'; ln -s ../../devices/platform/host0/target0:0:1/" + row.Newcomer +
                   "/scsi_generic/sg1 '" + entry + "'";
        }
        RunOptions opt;
        opt.unsetEnv = {"LC_ALL", "LC_MESSAGES", "LANG"};
        std::string limit = row.Limit[0] != '\0' ? std::string("ulimit -n ") + row.Limit + "; " : "";
        opt.env = {{"VRXPR_TEST_ROOT", r.Dir}, {"WHEN", then.empty() ? "" : "7"}, {"THEN", then},
                   {"MODE", "-d"}, {"AGAIN", ""}};
        RunResult res = RunProgram("/bin/sh", {"-c", limit + kRun, LinuxTestExe()}, opt);
        std::string sent = ReadFile(r.Dir + "/sg-sent");
        EXPECT_EQ(res.out, row.Out);
        EXPECT_EQ(res.code, row.Code);
        EXPECT_EQ(sent, row.Sent);
    }
}

}  // namespace

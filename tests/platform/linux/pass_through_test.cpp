// The pass-through request as the logic hands it over, through the sg
// driver and back, called in-process over a made-up root whose sg
// stand-in logs each command written (ROOT/sg-sent) and answers as
// ROOT/sg/H:C:T:L says.
#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "platform/linux/pf_linux.h"
#include "run.h"

namespace {

namespace fs = std::filesystem;

// As the logic lays its request out: the sense area after a filler.
struct BLOCK {
    SCSI_PASS_THROUGH_DIRECT Sptd;
    ULONG Filler;
    UCHAR Sense[32];
};

std::string Hex(const uint8_t* p, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

std::string Pattern(size_t n, uint8_t seed)
{
    std::string s;
    for (size_t i = 0; i < n; ++i) s += (char)(uint8_t)(seed + i * 7);
    return s;
}

std::string PatternHex(size_t n, uint8_t seed)
{
    std::string p = Pattern(n, seed);
    return Hex(reinterpret_cast<const uint8_t*>(p.data()), n);
}

struct ROW {
    const char* Name = "";
    // The request: CDB (hex), data length and direction, time-out; the
    // sense room and where it lies (0: the logic's place), the block's
    // sizes (0: the whole block), no data buffer.
    std::string Cdb = "";
    ULONG Length = 264;
    bool In = true;
    ULONG TimeOut = 2;
    UCHAR SenseRoom = 24;
    ULONG SenseAt = 0;
    DWORD InSize = 0, OutSize = 0;
    bool NoBuffer = false;
    // The device's answer file (empty: none) and the host's state file.
    std::string Answer = "";
    std::string HostState = "";
    // What comes back: the result, the last error on failure, the block's
    // status, data length and sense length; the commands written; the
    // least time the call must have taken.
    int Ok = 1;
    DWORD Error = 0;
    UCHAR Status = 0;
    ULONG LengthAfter = 264;
    UCHAR SenseAfter = 0;
    std::string Sent = "";
    double MinSec = 0;
};

TEST(LinuxPassThrough, EachRequestIsWrittenOnceAndItsAnswerComesBackIntoTheBlock)
{
    std::string root = MakeTempDir();
    setenv("VRXPR_TEST_ROOT", root.c_str(), 1);
    std::string dev = root + "/sys/devices/platform/host0/target0:0:1/2:0:1:44";
    fs::create_directories(dev + "/scsi_generic/sg0");
    fs::create_directories(root + "/sys/dev/char");
    fs::create_directories(root + "/sys/class/scsi_host/host2");
    fs::create_directories(root + "/dev");
    fs::create_directories(root + "/sg");
    struct stat st;
    ASSERT_EQ(stat("/dev/null", &st), 0);
    fs::create_symlink("../../devices/platform/host0/target0:0:1/2:0:1:44/scsi_generic/sg0",
                       root + "/sys/dev/char/" + std::to_string(major(st.st_rdev)) + ":" +
                           std::to_string(minor(st.st_rdev)));
    fs::create_symlink("/dev/null", root + "/dev/sg0");

    const std::string readKeys = "5e000000000000010800";
    const std::string register_ = "5f000000000000001800";
    const std::string sense40 = PatternHex(40, 0x70);
    const ULONG senseEnd = (ULONG)sizeof(BLOCK);
    const std::string rk = "2:0:1:44 " + readKeys + " in 264 ";
    const ROW rows[] = {
        // Data in, with the residual taken off the length moved.
        {.Name = "read keys", .Cdb = readKeys, .Answer = "resid=200 data=" + PatternHex(64, 1),
         .LengthAfter = 64, .Sent = rk + "2000 24\n"},
        {.Name = "residual past the length", .Cdb = readKeys, .Answer = "resid=300",
         .Sent = rk + "2000 24\n"},
        // Sense up to the room the block gives, never past the block.
        {.Name = "check condition", .Cdb = readKeys, .Answer = "status=2 driver=8 sense=" + sense40,
         .Status = 2, .SenseAfter = 24, .Sent = rk + "2000 24\n"},
        {.Name = "sense at the block's end", .Cdb = readKeys, .SenseAt = senseEnd - 10,
         .Answer = "status=2 sense=" + sense40, .Status = 2, .SenseAfter = 10, .Sent = rk + "2000 10\n"},
        {.Name = "sense past the block", .Cdb = readKeys, .SenseAt = senseEnd + 4,
         .Answer = "status=2 sense=" + sense40, .Status = 2, .Sent = rk + "2000 0\n"},
        // Direction, length and time-out as the block gives them.
        {.Name = "data out", .Cdb = register_, .Length = 24, .In = false, .Answer = "status=0",
         .HostState = "running", .LengthAfter = 24,
         .Sent = "2:0:1:44 " + register_ + " out 24 2000 24 " + PatternHex(24, 9) + "\n"},
        {.Name = "no data", .Cdb = "00000000000000000000", .Length = 0, .TimeOut = 7,
         .Answer = "status=0", .LengthAfter = 0, .Sent = "2:0:1:44 00000000000000000000 none 0 7000 24\n"},
        // The device's status before the host byte; the host byte alone
        // gives 1117.
        {.Name = "conflict as status", .Cdb = readKeys, .Answer = "status=0x18 host=0x11",
         .Status = 0x18, .Sent = rk + "2000 24\n"},
        {.Name = "conflict on the host byte", .Cdb = readKeys, .Answer = "host=0x11", .Ok = 0,
         .Error = 1117, .Sent = rk + "2000 24\n"},
        {.Name = "device gone", .Cdb = readKeys, .Answer = "errno=6", .Ok = 0, .Error = 55,
         .SenseAfter = 24, .Sent = rk + "2000 24\n"},
        // No answer within the time-out and its 2-second margin; one within
        // them.
        {.Name = "answer late", .Cdb = readKeys, .TimeOut = 1, .Answer = "after=never", .Ok = 0,
         .Error = 121, .SenseAfter = 24, .Sent = rk + "1000 24\n", .MinSec = 3.0},
        {.Name = "answer within the margin", .Cdb = readKeys, .TimeOut = 1, .Answer = "after=2500",
         .Sent = rk + "1000 24\n", .MinSec = 2.5},
        // A host in error recovery: READ KEYS goes out (refused here: no
        // answer file), anything else waits for the host the command's
        // time-out, then is not sent.
        {.Name = "host in recovery, in", .Cdb = readKeys, .TimeOut = 1, .HostState = "recovery",
         .Ok = 0, .Error = 31, .SenseAfter = 24, .Sent = rk + "1000 24\n"},
        {.Name = "host in recovery, out", .Cdb = register_, .Length = 24, .In = false, .TimeOut = 1,
         .HostState = "recovery", .Ok = 0, .Error = 21, .LengthAfter = 24, .SenseAfter = 24,
         .MinSec = 1.0},
        // Requests refused before anything is sent.
        {.Name = "block too short", .Cdb = readKeys, .InSize = sizeof(SCSI_PASS_THROUGH_DIRECT) - 1,
         .Ok = 0, .Error = 87, .SenseAfter = 24},
        {.Name = "answer block too short", .Cdb = readKeys,
         .OutSize = sizeof(SCSI_PASS_THROUGH_DIRECT) - 1, .Ok = 0, .Error = 122, .SenseAfter = 24},
        {.Name = "no CDB", .Cdb = "", .Ok = 0, .Error = 87, .SenseAfter = 24},
        {.Name = "CDB too long", .Cdb = std::string(34, '0'), .Ok = 0, .Error = 87, .SenseAfter = 24},
        {.Name = "no buffer", .Cdb = readKeys, .NoBuffer = true, .Ok = 0, .Error = 87, .SenseAfter = 24},
    };
    for (const ROW& row : rows) {
        SCOPED_TRACE(row.Name);
        fs::remove(root + "/sg-sent");
        fs::remove(root + "/sg/2:0:1:44");
        fs::remove(root + "/sys/class/scsi_host/host2/state");
        if (!row.Answer.empty()) WriteFile(root + "/sg/2:0:1:44", row.Answer);
        if (!row.HostState.empty())
            WriteFile(root + "/sys/class/scsi_host/host2/state", row.HostState + "\n");

        BLOCK b;
        std::memset(&b, 0, sizeof b);
        uint8_t data[264];
        std::string out = Pattern(sizeof data, 9);
        std::memcpy(data, out.data(), sizeof data);
        SCSI_PASS_THROUGH_DIRECT& s = b.Sptd;
        s.Length = sizeof s;
        s.CdbLength = (UCHAR)(row.Cdb.size() / 2);
        for (size_t i = 0; i < row.Cdb.size() / 2 && i < sizeof s.Cdb; ++i)
            s.Cdb[i] = (UCHAR)std::stoul(row.Cdb.substr(2 * i, 2), nullptr, 16);
        s.SenseInfoLength = row.SenseRoom;
        s.SenseInfoOffset = row.SenseAt != 0 ? row.SenseAt : (ULONG)offsetof(BLOCK, Sense);
        s.DataIn = row.In ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT;
        s.DataTransferLength = row.Length;
        s.TimeOutValue = row.TimeOut;
        s.DataBuffer = row.NoBuffer ? nullptr : data;

        HANDLE h = QelVRXPR_OpenDevice("/dev/sg0");
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        SCSI_ADDRESS a;
        ASSERT_TRUE(QelVRXPR_RequestDevice(h, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &a, sizeof a, nullptr));
        DWORD returned = 0;
        auto start = std::chrono::steady_clock::now();
        int ok = QelVRXPR_RequestDevice(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &b,
                                        row.InSize != 0 ? row.InSize : sizeof b, &b,
                                        row.OutSize != 0 ? row.OutSize : sizeof b, &returned);
        double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        DWORD err = QelVRXPR_GetLastErr();
        QelVRXPR_CloseDevice(h);

        EXPECT_EQ(ok, row.Ok);
        if (!row.Ok) {
            EXPECT_EQ(err, row.Error);
        }
        EXPECT_EQ(ok ? returned : 0u, ok ? (DWORD)sizeof b : 0u);
        EXPECT_EQ(s.ScsiStatus, row.Status);
        EXPECT_EQ(s.DataTransferLength, row.LengthAfter);
        EXPECT_EQ(s.SenseInfoLength, row.SenseAfter);
        EXPECT_EQ(fs::exists(root + "/sg-sent") ? ReadFile(root + "/sg-sent") : "", row.Sent);
        EXPECT_GE(took, row.MinSec);
        EXPECT_LT(took, row.MinSec + 1.5);
        // What the device sent, and nothing past it; the sense bytes where
        // the block put their room.
        if (row.Name == std::string("read keys")) {
            EXPECT_EQ(Hex(data, 64), PatternHex(64, 1));
            EXPECT_EQ(Hex(data + 64, 8), PatternHex(72, 9).substr(128));
        }
        if (ok && row.SenseAfter == 24) {
            EXPECT_EQ(Hex(b.Sense, 24), sense40.substr(0, 48));
            EXPECT_EQ(Hex(b.Sense + 24, 8), "0000000000000000");
        }
        if (row.SenseAfter == 10) {
            EXPECT_EQ(Hex(reinterpret_cast<uint8_t*>(&b) + senseEnd - 10, 10), sense40.substr(0, 20));
        }
    }
    unsetenv("VRXPR_TEST_ROOT");
}

}  // namespace

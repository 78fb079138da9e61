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
    const char* Name;
    std::string Cdb;        // hex
    ULONG Length;           // DataTransferLength
    bool In;
    ULONG TimeOut;
    std::string Answer;     // the device's answer file; empty: none
    std::string HostState;  // empty: no file
    // The block as handed over: sense room and where it lies (0: the
    // logic's place), sizes (0: the block's), no data buffer.
    UCHAR SenseRoom = 24;
    ULONG SenseAt = 0;
    DWORD InSize = 0, OutSize = 0;
    bool NoBuffer = false;
    // What comes back.
    int Ok = 1;
    DWORD Error = 0;
    UCHAR Status = 0;
    ULONG LengthAfter = 0;
    UCHAR SenseAfter = 0;
    std::string Sent;
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
    const std::string sent = "2:0:1:44 " + readKeys + " in 264 2000 ";
    const ULONG senseEnd = (ULONG)sizeof(BLOCK);
    ROW rows[] = {
        // Data in, with the residual taken off the length moved.
        {"read keys", readKeys, 264, true, 2, "resid=200 data=" + PatternHex(64, 1), "", 24, 0, 0, 0,
         false, 1, 0, 0, 64, 0, sent + "24\n"},
        {"residual past the length", readKeys, 264, true, 2, "resid=300", "", 24, 0, 0, 0, false, 1, 0,
         0, 264, 0, sent + "24\n"},
        // Sense up to the room the block gives, never past the block.
        {"check condition", readKeys, 264, true, 2, "status=2 driver=8 sense=" + sense40, "", 24, 0,
         0, 0, false, 1, 0, 2, 264, 24, sent + "24\n"},
        {"sense at the block's end", readKeys, 264, true, 2, "status=2 sense=" + sense40, "", 24,
         senseEnd - 10, 0, 0, false, 1, 0, 2, 264, 10, sent + "10\n"},
        {"sense past the block", readKeys, 264, true, 2, "status=2 sense=" + sense40, "", 24,
         senseEnd + 4, 0, 0, false, 1, 0, 2, 264, 0, sent + "0\n"},
        // Direction, length and time-out as the block gives them.
        {"data out", register_, 24, false, 2, "status=0", "running", 24, 0, 0, 0, false, 1, 0, 0, 24, 0,
         "2:0:1:44 " + register_ + " out 24 2000 24 " + PatternHex(24, 9) + "\n"},
        {"no data", "00000000000000000000", 0, true, 7, "status=0", "", 24, 0, 0, 0, false, 1, 0, 0, 0, 0,
         "2:0:1:44 00000000000000000000 none 0 7000 24\n"},
        // The device's status before the host byte; the host byte alone
        // gives 1117.
        {"conflict as status", readKeys, 264, true, 2, "status=0x18 host=0x11", "", 24, 0, 0, 0, false,
         1, 0, 0x18, 264, 0, sent + "24\n"},
        {"conflict on the host byte", readKeys, 264, true, 2, "host=0x11", "", 24, 0, 0, 0, false, 0,
         1117, 0, 264, 0, sent + "24\n"},
        {"device gone", readKeys, 264, true, 2, "errno=6", "", 24, 0, 0, 0, false, 0, 55, 0, 264, 24,
         sent + "24\n"},
        // No answer within the time-out and its 2-second margin; one
        // within them.
        {"answer late", "5e000000000000010800", 264, true, 1, "after=never", "", 24, 0, 0, 0, false, 0,
         121, 0, 264, 24, "2:0:1:44 " + readKeys + " in 264 1000 24\n", 3.0},
        {"answer within the margin", readKeys, 264, true, 1, "after=2500", "", 24, 0, 0, 0, false, 1,
         0, 0, 264, 0, "2:0:1:44 " + readKeys + " in 264 1000 24\n", 2.5},
        // A host in error recovery: READ KEYS goes out, anything else
        // waits for the host the command's time-out, then is not sent.
        {"host in recovery, in", readKeys, 264, true, 1, "", "recovery", 24, 0, 0, 0, false, 0, 31, 0,
         264, 24, "2:0:1:44 " + readKeys + " in 264 1000 24\n"},
        {"host in recovery, out", register_, 24, false, 1, "", "recovery", 24, 0, 0, 0, false, 0, 21,
         0, 24, 24, "", 1.0},
        // Requests refused before anything is sent.
        {"block too short", readKeys, 264, true, 2, "", "", 24, 0, sizeof(SCSI_PASS_THROUGH_DIRECT) - 1,
         0, false, 0, 87, 0, 264, 24, ""},
        {"answer block too short", readKeys, 264, true, 2, "", "", 24, 0, 0,
         sizeof(SCSI_PASS_THROUGH_DIRECT) - 1, false, 0, 122, 0, 264, 24, ""},
        {"no CDB", "", 264, true, 2, "", "", 24, 0, 0, 0, false, 0, 87, 0, 264, 24, ""},
        {"CDB too long", std::string(34, '0'), 264, true, 2, "", "", 24, 0, 0, 0, false, 0, 87, 0, 264,
         24, ""},
        {"no buffer", readKeys, 264, true, 2, "", "", 24, 0, 0, 0, true, 0, 87, 0, 264, 24, ""},
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

// The Linux layer's port inquiry data, called in-process over a made-up
// sysfs: the bytes a caller gets are the Windows port driver's layout with
// Linux's numbers whole (a 4-byte bus count; 32-bit channel and target and
// a 64-bit LUN in each record's 28-byte head).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "run.h"

namespace {

namespace fs = std::filesystem;

std::string g_Root;

std::string Inquiry(size_t length, char fill)
{
    std::string inq(length, fill);
    for (size_t i = 0; i < length; ++i) inq[i] = (char)(fill + i);
    return inq;
}

void AddDevice(const std::string& hctl, const std::string& inquiry, bool claimed = false)
{
    std::string dir = g_Root + "/sys/bus/scsi/devices/" + hctl;
    fs::create_directories(dir);
    WriteFile(dir + "/inquiry", inquiry);
    if (claimed) fs::create_directories(dir + "/driver");
}

void NewRoot(unsigned host)
{
    g_Root = MakeTempDir();
    fs::create_directories(g_Root + "/sys/class/scsi_host/host" + std::to_string(host));
    fs::create_directories(g_Root + "/sys/bus/scsi/devices");
    setenv("VRXPR_TEST_ROOT", g_Root.c_str(), 1);
}

struct ANSWER {
    int Ok;
    DWORD Error;
    DWORD Returned;
    std::vector<uint8_t> Area;
};

ANSWER Ask(unsigned host, DWORD size)
{
    std::string name = "/sys/class/scsi_host/host" + std::to_string(host);
    HANDLE h = QelVRXPR_OpenDevice(name.c_str());
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    ANSWER a;
    a.Area.assign(size, 0xAB);
    a.Returned = 0xFFFFFFFFu;
    a.Ok = QelVRXPR_RequestDevice(h, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, a.Area.data(), size,
                                  &a.Returned);
    a.Error = a.Ok ? 0 : QelVRXPR_GetLastErr();
    QelVRXPR_CloseDevice(h);
    return a;
}

void Put(std::vector<uint8_t>& v, size_t at, uint64_t x, int bytes = 4)
{
    for (int i = 0; i < bytes; ++i) v[at + i] = (uint8_t)(x >> (8 * i));
}

uint64_t Get(const std::vector<uint8_t>& v, size_t at, int bytes = 4)
{
    uint64_t x = 0;
    for (int i = bytes; i-- > 0;) x = (x << 8) | v[at + i];
    return x;
}

// One record: channel, target, LUN, claimed, length, next; then room for 36
// bytes of INQUIRY data.
void PutRecord(std::vector<uint8_t>& v, size_t at, uint32_t path, uint32_t target, uint64_t lun,
               bool claimed, const std::string& inquiry, uint32_t next)
{
    v.resize(at + 64, 0);
    Put(v, at, path);
    Put(v, at + 4, target);
    Put(v, at + 8, lun, 8);
    v[at + 16] = claimed ? 1 : 0;
    size_t kept = inquiry.size() < 36 ? inquiry.size() : 36;
    Put(v, at + 20, (uint32_t)kept);
    Put(v, at + 24, next);
    std::memcpy(v.data() + at + 28, inquiry.data(), kept);
}

TEST(LinuxInquiryArea, RecordsHoldThe36FirstBytesOnEightByteBoundaries)
{
    NewRoot(3);
    std::string longInq = Inquiry(255, 'A'), midInq = Inquiry(96, 'a'), shortInq = Inquiry(20, '0');
    AddDevice("3:0:1:0", longInq, true);
    AddDevice("3:0:0:7", shortInq);
    AddDevice("3:1:300:1099511627777", midInq, true);
    AddDevice("3:0:0:9", "");
    AddDevice("3:0:0:256", shortInq);
    AddDevice("4:0:0:0", longInq);  // another host's

    // Head: bus count, then two bus entries (20 bytes); records from 24,
    // in channel, target and LUN order, compared as numbers.
    std::vector<uint8_t> want(24, 0);
    want[0] = 2;
    want[4] = 4;
    Put(want, 8, 24);
    want[12] = 1;
    Put(want, 16, 280);
    PutRecord(want, 24, 0, 0, 7, false, shortInq, 88);
    PutRecord(want, 88, 0, 0, 9, false, "", 152);
    PutRecord(want, 152, 0, 0, 256, false, shortInq, 216);
    // A bound driver does not show: discovery selects by INQUIRY data alone.
    PutRecord(want, 216, 0, 1, 0, false, longInq, 0);
    PutRecord(want, 280, 1, 300, 1099511627777ull, false, midInq, 0);

    ANSWER a = Ask(3, 16384);
    ASSERT_EQ(a.Ok, 1);
    ASSERT_EQ(a.Returned, want.size());
    EXPECT_EQ(std::vector<uint8_t>(a.Area.begin(), a.Area.begin() + a.Returned), want);
}

TEST(LinuxInquiryArea, AreaOneByteShortFailsWithMoreDataAndReturnsNothing)
{
    NewRoot(0);
    for (int l = 0; l < 3; ++l) AddDevice("0:0:0:" + std::to_string(l), Inquiry(96, 'k'));
    const DWORD exact = 16 + 3 * 64;
    ANSWER fits = Ask(0, exact);
    EXPECT_EQ(fits.Ok, 1);
    EXPECT_EQ(fits.Returned, exact);

    ANSWER shortA = Ask(0, exact - 1);
    EXPECT_EQ(shortA.Ok, 0);
    EXPECT_EQ(shortA.Error, (DWORD)ERROR_MORE_DATA);
    EXPECT_EQ(shortA.Returned, 0u);
    EXPECT_EQ(shortA.Area, std::vector<uint8_t>(exact - 1, 0xAB));
}

TEST(LinuxInquiryArea, FourHundredLongInquiriesTakeFortyEightBytesEach)
{
    // 255 bytes of INQUIRY data each once filled 16 KB with 61 devices.
    NewRoot(1);
    for (int t = 0; t < 2; ++t)
        for (int l = 0; l < 200; ++l)
            AddDevice("1:0:" + std::to_string(t) + ":" + std::to_string(l), Inquiry(255, 'Z'));
    const DWORD size = 16 + 400 * 64;
    ANSWER a = Ask(1, 32768);
    ASSERT_EQ(a.Ok, 1);
    ASSERT_EQ(a.Returned, size);
    EXPECT_EQ(a.Area[4], 0xFF);  // the unit count stops at a byte's largest value
    // The chain visits every record once, in address order, and ends.
    uint32_t at = 16, n = 0;
    while (at != 0 && n < 401) {
        EXPECT_EQ(at, 16 + n * 64);
        EXPECT_EQ(Get(a.Area, at + 4), n / 200);
        EXPECT_EQ(Get(a.Area, at + 8, 8), n % 200);
        EXPECT_EQ(a.Area[at + 20], 36);
        at = (uint32_t)Get(a.Area, at + 24);
        ++n;
    }
    EXPECT_EQ(n, 400u);
    EXPECT_EQ(Ask(1, 16384).Error, (DWORD)ERROR_MORE_DATA);
}

TEST(LinuxInquiryArea, AskingAgainOnTheSameOpenReusesTheFirstGathering)
{
    // The host's devices are read once per open: a device that appears
    // between a refused request and the larger one shows up on the next
    // open only.
    NewRoot(2);
    AddDevice("2:0:0:0", Inquiry(96, 'q'));
    HANDLE h = QelVRXPR_OpenDevice("/sys/class/scsi_host/host2");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    uint8_t area[256];
    DWORD returned = 0;
    EXPECT_EQ(QelVRXPR_RequestDevice(h, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, area, 16,
                                     &returned),
              0);
    EXPECT_EQ(QelVRXPR_GetLastErr(), (DWORD)ERROR_MORE_DATA);
    AddDevice("2:0:0:1", Inquiry(96, 'r'));
    EXPECT_EQ(QelVRXPR_RequestDevice(h, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, area,
                                     sizeof area, &returned),
              1);
    EXPECT_EQ(returned, 16u + 64u);
    QelVRXPR_CloseDevice(h);
    EXPECT_EQ(Ask(2, 256).Returned, 16u + 2 * 64u);
}

}  // namespace

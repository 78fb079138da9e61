// Ports, drives, registry, locale and console of the simulated storage,
// driven in-process through the platform operations.
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/platform.h"
#include "sim.h"

namespace {

void Load(const std::string& text)
{
    std::string error;
    ASSERT_TRUE(SimLoadText(text, "", &error)) << error;
}

ULONG GetULong(const std::vector<uint8_t>& a, size_t at)
{
    ULONG v;
    std::memcpy(&v, &a[at], sizeof v);
    return v;
}

struct INQUIRY_RESULT {
    int Ok = 0;
    DWORD Error = 0;
    DWORD Returned = 0;
    std::vector<uint8_t> Area;
};

INQUIRY_RESULT GetInquiry(const char* port, DWORD size = 16384)
{
    INQUIRY_RESULT r;
    HANDLE h = QelVRXPR_OpenDevice(port);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << port;
    r.Area.assign(size, 0xEE);
    r.Ok = QelVRXPR_RequestDevice(h, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, r.Area.data(), size, &r.Returned);
    r.Error = r.Ok ? 0 : QelVRXPR_GetLastErr();
    QelVRXPR_CloseDevice(h);
    return r;
}

std::string Text(const std::vector<uint8_t>& a, size_t at, size_t n)
{
    return std::string(reinterpret_cast<const char*>(&a[at]), n);
}

// An area one byte short gets the error and nothing written; one of the
// answer's size gets all of it.
void ExpectAreaEdge(const char* port, DWORD size, DWORD error)
{
    INQUIRY_RESULT r = GetInquiry(port, size - 1);
    EXPECT_EQ(r.Ok, 0) << port;
    EXPECT_EQ(r.Error, error) << port;
    EXPECT_EQ(r.Returned, 0u) << port;
    EXPECT_EQ(r.Area, std::vector<uint8_t>(size - 1, 0xEE)) << port;
    r = GetInquiry(port, size);
    EXPECT_EQ(r.Ok, 1) << port;
    EXPECT_EQ(r.Returned, size) << port;
}

class SimDevicesTest : public ::testing::Test {
protected:
    void TearDown() override { SimResetState(); }
};

const char* const PORTS_STATE = R"({
  "ports": [
    { "port": 2, "buses": [
        [ { "target": 1, "lun": 0, "lu": "quorum" }, { "target": 4, "lun": 7, "lu": "short" } ],
        [],
        [ { "target": 9, "lun": 3, "lu": "quorum" } ] ] },
    { "port": 10, "buses": [] },
    { "port": 255, "buses": [] },
    { "port": 3, "inquiry_error": 31 },
    { "port": 4, "inquiry_data_hex": "0301000000000000" },
    { "port": 5, "buses": [ [ { "target": 1, "lun": 0, "lu": "quorum" } ] ] } ],
  "drives": [ { "drive": 1, "port": 2, "path": 0, "target": 1, "lun": 0, "lu": "quorum" } ],
  "lus": { "quorum": { "vendor": "ZORBELT", "product": "TQ22QUORUM" },
           "short": { "inquiry_hex": "000005" } } })";

TEST_F(SimDevicesTest, PortInquiryDataIsTheAdapterBusInfoWithRecordChains)
{
    Load(PORTS_STATE);
    INQUIRY_RESULT r = GetInquiry("\\\\.\\Scsi2:");
    ASSERT_EQ(r.Ok, 1);
    const std::vector<uint8_t>& a = r.Area;
    EXPECT_EQ(a[0], 3);  // NumberOfBuses
    // Bus data: 8 bytes a bus from offset 4; records from offset 32 on.
    EXPECT_EQ(a[4], 2);
    EXPECT_EQ(GetULong(a, 8), 32u);
    EXPECT_EQ(a[12], 0);
    EXPECT_EQ(GetULong(a, 16), 0u);  // the empty bus
    EXPECT_EQ(a[20], 1);

    // First record of bus 0: PathId, TargetId, Lun, DeviceClaimed, length, next.
    EXPECT_EQ(a[32], 0);
    EXPECT_EQ(a[33], 1);
    EXPECT_EQ(a[34], 0);
    EXPECT_EQ(a[35], 1);  // a drive reports this address
    EXPECT_EQ(GetULong(a, 36), 36u);
    EXPECT_EQ(GetULong(a, 40), 32u + 48u);
    EXPECT_EQ(Text(a, 44, 36), std::string("\x00\x00\x05\x02\x1f\x00\x00\x00", 8) +
                                   "ZORBELT TQ22QUORUM      4.0 ");
    // Second record: the LU's INQUIRY data as given, 3 bytes; end of chain.
    EXPECT_EQ(a[80], 0);
    EXPECT_EQ(a[81], 4);
    EXPECT_EQ(a[82], 7);
    EXPECT_EQ(a[83], 0);
    EXPECT_EQ(GetULong(a, 84), 3u);
    EXPECT_EQ(GetULong(a, 88), 0u);
    EXPECT_EQ(Text(a, 92, 3), std::string("\x00\x00\x05", 3));
    // Bus 2's record comes after, on the next 8-byte boundary.
    EXPECT_EQ(GetULong(a, 24), 96u);
    EXPECT_EQ(a[96], 2);
    EXPECT_EQ(a[97], 9);
    EXPECT_EQ(a[98], 3);
    EXPECT_EQ(a[99], 0);
    EXPECT_EQ(GetULong(a, 104), 0u);
    EXPECT_EQ(r.Returned, 96u + 48u);
    EXPECT_EQ(a[r.Returned], 0xEE);

    // A port with no bus answers just the count.
    r = GetInquiry("\\\\.\\Scsi10:");
    ASSERT_EQ(r.Ok, 1);
    EXPECT_EQ(r.Area[0], 0);
    EXPECT_EQ(r.Returned, 8u);
}

TEST_F(SimDevicesTest, InquiryDataFailuresAndRawAreas)
{
    Load(PORTS_STATE);
    // Does not fit the caller's area: more data.
    ExpectAreaEdge("\\\\.\\Scsi5:", 64, 234);

    INQUIRY_RESULT r = GetInquiry("\\\\.\\Scsi3:");
    EXPECT_EQ(r.Ok, 0);
    EXPECT_EQ(r.Error, 31u);

    // Raw data: used as given, its own length; a smaller area gets nothing.
    r = GetInquiry("\\\\.\\Scsi4:");
    ASSERT_EQ(r.Ok, 1);
    EXPECT_EQ(r.Returned, 8u);
    EXPECT_EQ(Text(r.Area, 0, 9), std::string("\x03\x01\0\0\0\0\0\0\xEE", 9));
    ExpectAreaEdge("\\\\.\\Scsi4:", 8, 234);
}

TEST_F(SimDevicesTest, PortsThatRefuseTheOpenOrAnswerAnotherAreaError)
{
    Load(R"({
      "ports": [
        { "port": 1, "open_error": 5, "buses": [ [ { "target": 0, "lun": 0, "lu": "q" } ] ] },
        { "port": 2, "area_error": 122, "buses": [ [ { "target": 0, "lun": 0, "lu": "q" } ] ] },
        { "port": 3, "area_error": 122, "inquiry_data_hex": "01000000000000000000" } ],
      "lus": { "q": { "vendor": "ZORBELT", "product": "TQ22" } } })");
    EXPECT_EQ(QelVRXPR_OpenDevice("\\\\.\\Scsi1:"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(QelVRXPR_GetLastErr(), 5u);

    ExpectAreaEdge("\\\\.\\Scsi2:", 64, 122);
    ExpectAreaEdge("\\\\.\\Scsi3:", 10, 122);

    std::string error;
    EXPECT_FALSE(SimLoadText(R"({ "ports": [ { "port": 1, "open_eror": 5 } ] })", "", &error));
    EXPECT_EQ(error, "ports[0]: unknown key \"open_eror\"");
    EXPECT_FALSE(SimLoadText(R"({ "ports": [ { "port": 1, "area_error": 0 } ] })", "", &error));
    EXPECT_EQ(error, "ports[0].area_error: expected an integer from 1 to 4294967295");
}

TEST_F(SimDevicesTest, AThousandLUsOnOneBusChainInOrder)
{
    std::string recs;
    for (int i = 0; i < 1000; i++)
        recs += std::string(i ? ", " : "") + "{ \"target\": " + std::to_string(i / 8) + ", \"lun\": " +
                std::to_string(i % 8) + ", \"lu\": \"q\" }";
    Load(R"({ "ports": [ { "port": 0, "buses": [ [ )" + recs +
         R"( ] ] } ], "lus": { "q": { "vendor": "ZORBELT", "product": "TQ22" } } })");
    const DWORD need = 16 + 1000 * 48;
    ExpectAreaEdge("\\\\.\\Scsi0:", need, 234);
    INQUIRY_RESULT r = GetInquiry("\\\\.\\Scsi0:", 4 << 20);
    ASSERT_EQ(r.Ok, 1);
    ASSERT_EQ(r.Returned, need);
    EXPECT_EQ(r.Area[0], 1);
    EXPECT_EQ(r.Area[4], 255);  // the count is one byte; the chain holds them all
    ULONG at = GetULong(r.Area, 8);
    for (int i = 0; i < 1000; i++) {
        ASSERT_EQ(at, 16u + 48u * i);
        EXPECT_EQ(r.Area[at + 1], i / 8);
        EXPECT_EQ(r.Area[at + 2], i % 8);
        EXPECT_EQ(GetULong(r.Area, at + 4), 36u);
        EXPECT_EQ(Text(r.Area, at + 12 + 8, 12), "ZORBELT TQ22");
        at = GetULong(r.Area, at + 8);
    }
    EXPECT_EQ(at, 0u);
}

TEST_F(SimDevicesTest, DeviceNamesAreTheWindowsOnes)
{
    Load(PORTS_STATE);
    char name[64];
    std::snprintf(name, sizeof name, g_PfPortNameFmt, 10u);
    EXPECT_STREQ(name, "\\\\.\\Scsi10:");
    std::snprintf(name, sizeof name, g_PfPortNameFmt, 255u);
    EXPECT_STREQ(name, "\\\\.\\Scsi255:");
    std::snprintf(name, sizeof name, g_PfDriveNameFmt, 4);
    EXPECT_STREQ(name, "\\\\.\\PhysicalDrive4");
    std::snprintf(name, sizeof name, g_PfDriveNameFmtLong, 4ul);
    EXPECT_STREQ(name, "\\\\.\\PhysicalDrive4");

    const char* const opening[] = {"\\\\.\\Scsi2:", "\\\\.\\SCSI10:", "\\\\.\\scsi4:", "\\\\.\\Scsi255:",
                                   "\\\\.\\PhysicalDrive1", "\\\\.\\physicaldrive1"};
    for (const char* n : opening) {
        HANDLE h = QelVRXPR_OpenDevice(n);
        EXPECT_NE(h, INVALID_HANDLE_VALUE) << n;
        QelVRXPR_CloseDevice(h);
    }
    // Decimal as Windows writes it: no hexadecimal digit, no leading zero,
    // nothing past the one byte of a port number.
    const char* const missing[] = {"\\\\.\\Scsi1:", "\\\\.\\Scsia:", "\\\\.\\ScsiA:", "\\\\.\\Scsi010:",
                                   "\\\\.\\Scsi0255:", "\\\\.\\Scsi256:", "\\\\.\\Scsi1010:", "\\\\.\\Scsi:",
                                   "\\\\.\\Scsi+2:", "\\\\.\\Scsi2", "\\\\.\\Scsi02:",
                                   "\\\\.\\PhysicalDrive01", "\\\\.\\PhysicalDrive2", "\\\\.\\PhysicalDrive",
                                   "Scsi2:", ""};
    for (const char* n : missing) {
        EXPECT_EQ(QelVRXPR_OpenDevice(n), INVALID_HANDLE_VALUE) << n;
        EXPECT_EQ(QelVRXPR_GetLastErr(), 2u) << n;
    }
}

TEST_F(SimDevicesTest, DrivesOpenFailAndReportTheirAddress)
{
    Load(R"({ "drives": [
        { "drive": 0, "port": 2, "path": 1, "target": 5, "lun": 9, "lu": "q" },
        { "drive": 3, "open_error": 5 },
        { "drive": 4, "port": 2, "target": 1, "lun": 0, "lu": "q", "open_error": 1117, "opens_before_error": 2 },
        { "drive": 7, "address_error": 50 } ],
      "lus": { "q": {} } })");
    HANDLE h = QelVRXPR_OpenDevice("\\\\.\\PhysicalDrive0");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::vector<uint8_t> out(2048, 0xEE);
    DWORD n = 0;
    ASSERT_EQ(QelVRXPR_RequestDevice(h, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, out.data(), 2048, &n), 1);
    EXPECT_EQ(n, 8u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data()), 9), std::string("\x08\0\0\0\x02\x01\x05\x09\xEE", 9));
    QelVRXPR_CloseDevice(h);

    EXPECT_EQ(QelVRXPR_OpenDevice("\\\\.\\PhysicalDrive3"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(QelVRXPR_GetLastErr(), 5u);

    // The first two opens succeed, the later ones fail.
    for (int i = 0; i < 2; i++) {
        h = QelVRXPR_OpenDevice("\\\\.\\PhysicalDrive4");
        EXPECT_NE(h, INVALID_HANDLE_VALUE) << i;
        QelVRXPR_CloseDevice(h);
    }
    for (int i = 0; i < 2; i++) {
        EXPECT_EQ(QelVRXPR_OpenDevice("\\\\.\\PhysicalDrive4"), INVALID_HANDLE_VALUE);
        EXPECT_EQ(QelVRXPR_GetLastErr(), 1117u);
    }

    h = QelVRXPR_OpenDevice("\\\\.\\PhysicalDrive7");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(QelVRXPR_RequestDevice(h, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, out.data(), 2048, &n), 0);
    EXPECT_EQ(QelVRXPR_GetLastErr(), 50u);
    QelVRXPR_CloseDevice(h);
}

TEST_F(SimDevicesTest, RegistryKeysCompareWithoutCaseAndGiveTheirDefaultValue)
{
    Load(R"({ "registry": {
        "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORXdsm": { "default": "abc" },
        "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\vrxfdrv": { "default": "abcd" },
        "hkey_local_machine\\SYSTEM\\Nodefault\\": {},
        "HKEY_CURRENT_USER\\Locked": { "open_error": 5, "default": "x" } } })");
    HKEY key = nullptr;
    ASSERT_EQ(QelVRXPR_OpenRegKey(HKEY_LOCAL_MACHINE, "system\\currentcontrolset\\SERVICES\\vorxDSM", &key), 0);
    BYTE data[4];
    DWORD type = 0, size = sizeof data;
    EXPECT_EQ(QelVRXPR_QueryRegValue(key, "", &type, data, &size), 0);
    EXPECT_EQ(type, 1u);  // REG_SZ
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 4), std::string("abc", 4));
    size = sizeof data;
    EXPECT_EQ(QelVRXPR_QueryRegValue(key, "ImagePath", &type, data, &size), 2);
    QelVRXPR_CloseRegKey(key);

    // One byte more than the caller's 4-byte area.
    ASSERT_EQ(QelVRXPR_OpenRegKey(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\vrxfdrv", &key), 0);
    size = sizeof data;
    EXPECT_EQ(QelVRXPR_QueryRegValue(key, "", &type, data, &size), 234);
    EXPECT_EQ(size, 5u);
    QelVRXPR_CloseRegKey(key);

    ASSERT_EQ(QelVRXPR_OpenRegKey(HKEY_LOCAL_MACHINE, "SYSTEM\\NoDefault", &key), 0);
    size = sizeof data;
    EXPECT_EQ(QelVRXPR_QueryRegValue(key, "", &type, data, &size), 2);
    QelVRXPR_CloseRegKey(key);

    EXPECT_EQ(QelVRXPR_OpenRegKey(HKEY_CURRENT_USER, "Locked", &key), 5);
    // The same path under another root, a parent, a child: no such key.
    EXPECT_EQ(QelVRXPR_OpenRegKey(HKEY_CURRENT_USER, "SYSTEM\\CurrentControlSet\\Services\\VORXdsm", &key), 2);
    EXPECT_EQ(QelVRXPR_OpenRegKey(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services", &key), 2);
    EXPECT_EQ(QelVRXPR_OpenRegKey(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\VORXdsm\\Enum", &key),
              2);
}

TEST_F(SimDevicesTest, LanguageComesFromTheFile)
{
    char buf[64];
    Load("{}");
    ASSERT_EQ(QelVRXPR_GetSysLangName(buf, sizeof buf), 1);
    EXPECT_STREQ(buf, "English");
    Load(R"({ "language": "Japanese" })");
    ASSERT_EQ(QelVRXPR_GetSysLangName(buf, sizeof buf), 1);
    EXPECT_STREQ(buf, "Japanese");
    EXPECT_EQ(QelVRXPR_GetSysLangName(buf, 8), 0);  // no room for the terminating zero
    Load(R"({ "language": null })");
    EXPECT_EQ(QelVRXPR_GetSysLangName(buf, sizeof buf), 0);
}

TEST_F(SimDevicesTest, BeforeAnyStateTheStorageIsEmpty)
{
    SimResetState();
    EXPECT_EQ(QelVRXPR_OpenDevice("\\\\.\\Scsi0:"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(QelVRXPR_GetLastErr(), 2u);
    EXPECT_EQ(QelVRXPR_OpenDevice("\\\\.\\PhysicalDrive0"), INVALID_HANDLE_VALUE);
    HKEY key;
    EXPECT_EQ(QelVRXPR_OpenRegKey(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\VORXdsm", &key), 2);
    char buf[64];
    ASSERT_EQ(QelVRXPR_GetSysLangName(buf, sizeof buf), 1);
    EXPECT_STREQ(buf, "English");
    EXPECT_EQ(SimFormatState(), "");
}

TEST_F(SimDevicesTest, ReadLineDropsOnlyTheCarriageReturnBeforeTheLineFeed)
{
    int saved = dup(0);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const char input[] = "1\r\nab\rc\r\n\r\nlast\r";
    ASSERT_EQ(write(fds[1], input, sizeof input - 1), static_cast<ssize_t>(sizeof input - 1));
    close(fds[1]);
    dup2(fds[0], 0);
    close(fds[0]);
    clearerr(stdin);

    char buf[16];
    std::vector<std::string> lines;
    while (QelVRXPR_ReadLine(buf, sizeof buf) != nullptr) lines.push_back(buf);
    std::strcpy(buf, "kept");
    EXPECT_EQ(QelVRXPR_ReadLine(buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "kept");

    dup2(saved, 0);
    close(saved);
    clearerr(stdin);
    EXPECT_EQ(lines, (std::vector<std::string>{"1\n", "ab\rc\n", "\n", "last\r"}));
}

}  // namespace

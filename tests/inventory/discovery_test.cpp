// Discovery: which port and drive names are tried, which LUs are kept, in
// which order, and how malformed port data is survived.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "inventory/discovery.h"
#include "records/records.h"
#include "run.h"
#include "texts.h"

namespace {

const char kHeader[] = "PathID PathName                        KeyCount ReservedKey      Type\n";

std::string Row(int pathId, const std::string& name)
{
    char buf[128];
    std::snprintf(buf, sizeof buf, "%06d %s %5d    %s %s\n", pathId, name.c_str(), 0,
                  "----------------", "None");
    return buf;
}

std::string Lu(const std::string& name, const std::string& vendor, const std::string& product)
{
    return "\"" + name + "\": {\"vendor\": \"" + vendor + "\", \"product\": \"" + product + "\"}";
}

std::string Drive(int drive, int port, int path, int target, int lun, const std::string& lu)
{
    char buf[200];
    std::snprintf(buf, sizeof buf,
                  "{\"drive\": %d, \"port\": %d, \"path\": %d, \"target\": %d, \"lun\": %d, \"lu\": \"%s\"}",
                  drive, port, path, target, lun, lu.c_str());
    return buf;
}

std::string Rec(int target, int lun, const std::string& lu)
{
    char buf[120];
    std::snprintf(buf, sizeof buf, "{\"target\": %d, \"lun\": %d, \"lu\": \"%s\"}", target, lun,
                  lu.c_str());
    return buf;
}

std::string Port(int port, const std::string& buses)
{
    return "{\"port\": " + std::to_string(port) + ", \"buses\": " + buses + "}";
}

std::string State(const std::string& ports, const std::string& drives, const std::string& lus)
{
    return "{\"ports\": [" + ports + "], \"drives\": [" + drives + "], \"lus\": {" + lus + "}}";
}

std::string Scsi(int port)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "\\\\.\\Scsi%d:", port);
    return buf;
}

std::string Phys(int drive)
{
    return "\\\\.\\PhysicalDrive" + std::to_string(drive);
}

std::vector<std::string> DriveOpens(const std::string& stateText)
{
    std::vector<std::string> drives;
    for (const std::string& name : OpenedDevices(stateText))
        if (name.rfind("\\\\.\\PhysicalDrive", 0) == 0) drives.push_back(name);
    return drives;
}

}  // namespace

TEST(Discovery, PortsAreNamedInDecimalUpTo255)
{
    SimRun run = RunSim({"-d"}, State(Port(10, "[]") + "," + Port(15, "[[]]") + "," + Port(255, "[]"), "", ""));
    EXPECT_EQ(run.r.code, 0);
    EXPECT_EQ(run.r.out, kNoLu);
    std::vector<std::string> opened = OpenedDevices(run.stateText);
    ASSERT_GE(opened.size(), 256u);
    for (int port = 0; port < 256; ++port) EXPECT_EQ(opened[port], Scsi(port));
    EXPECT_EQ(opened[10], "\\\\.\\Scsi10:");
    EXPECT_EQ(opened[15], "\\\\.\\Scsi15:");
    EXPECT_EQ(opened[255], "\\\\.\\Scsi255:");
    // No LU and no drive that answers: every drive name is tried.
    EXPECT_EQ(opened.size(), 256u + 32768u);
    EXPECT_EQ(opened.back(), Phys(32767));
}

TEST(Discovery, EmptyListScanEndsAtFirstDriveThatAnswers)
{
    std::string drives = "{\"drive\": 1, \"open_error\": 5}, {\"drive\": 2, \"address_error\": 50}," +
                         Drive(4, 0, 0, 0, 0, "none");
    SimRun run = RunSim({"-d"}, State("", drives, Lu("none", "OTHER", "DISK")));
    EXPECT_EQ(run.r.code, 0);
    EXPECT_EQ(run.r.out, kNoLu);
    std::vector<std::string> expected;
    for (int d = 0; d <= 4; ++d) expected.push_back(Phys(d));
    EXPECT_EQ(DriveOpens(run.stateText), expected);
}

TEST(Discovery, ModelTableSelectsByteForByte)
{
    struct Case {
        const char* vendor;
        const char* product;
        bool managed;
    } cases[] = {
        {"ZORBELT", "TQ22", true},
        {"ZORBELT", "TQ22ANYTHING ELS", true},
        {"KN", "VELA", true},
        {"MRB", "NOVA-9", true},
        {"LOX", "KAMBERLON", true},
        {"LOX", "KAMBERLON2", false},
        {"LOX", "KAMBERLO", false},
        {"zorbelt", "TQ22", false},
        {"ZORBELT", "tq22", false},
        {"ZORBELT", "TQ2", false},
        {"ZORBELTX", "TQ22", false},
        {"ZORBELT", "TQ55", false},
    };
    for (const Case& c : cases) {
        std::string state = State(Port(1, "[[" + Rec(0, 0, "lu") + "]]"), Drive(0, 1, 0, 0, 0, "lu"),
                                  Lu("lu", c.vendor, c.product));
        SimRun run = RunSim({"-d"}, state);
        EXPECT_EQ(run.r.code, 0) << c.vendor << "/" << c.product;
        std::string expected =
            c.managed ? kHeader + Row(0, "0001.0000.0000000000000000.0000") + kDone : kNoLu;
        EXPECT_EQ(run.r.out, expected) << c.vendor << "/" << c.product;
    }
}

TEST(Discovery, OrderAcrossPortsBusesAndChains)
{
    // Port 3 bus 1 and port 5 bus 0 see the same two LUs; an unmanaged LU
    // sits between them in the chain and is never opened.
    std::string ports = Port(5, "[[" + Rec(2, 7, "a") + "]]") + "," +
                        Port(3, "[[], [" + Rec(1, 0, "a") + "," + Rec(1, 1, "other") + "," +
                                    Rec(1, 2, "b") + "]]");
    std::string drives = Drive(0, 3, 1, 1, 2, "b") + "," + Drive(1, 3, 1, 1, 1, "other") + "," +
                         Drive(2, 5, 0, 2, 7, "a") + "," + Drive(3, 3, 1, 1, 0, "a") + "," +
                         Drive(4, 9, 9, 9, 9, "b");
    std::string lus = Lu("a", "ZORBELT", "TQ11") + "," + Lu("b", "LOX", "KAMBERLON") + "," +
                      Lu("other", "ZORBELT", "ZZ99");
    SimRun run = RunSim({"-d"}, State(ports, drives, lus));
    EXPECT_EQ(run.r.code, 0);
    EXPECT_EQ(run.r.out, kHeader + Row(0, "0003.0001.0000000000000001.0000") +
                             Row(1, "0003.0001.0000000000000001.0002") +
                             Row(2, "0005.0000.0000000000000002.0007") + kDone);
    // The scan stopped at the drive that mapped the last LU; only the
    // managed LUs' drives were opened again for their commands.
    std::vector<std::string> drivesOpened = DriveOpens(run.stateText);
    std::vector<std::string> expected = {Phys(0), Phys(1), Phys(2), Phys(3),
                                         Phys(3), Phys(0), Phys(2)};
    EXPECT_EQ(drivesOpened, expected);
}

TEST(Discovery, UnmappedLuEndsTheRunNamingTheFirst)
{
    std::string ports = Port(2, "[[" + Rec(0, 1, "a") + "," + Rec(0, 2, "b") + "," + Rec(0, 3, "c") + "]]");
    std::string lus = Lu("a", "ZORBELT", "TQ33") + "," + Lu("b", "ZORBELT", "TQ33") + "," +
                      Lu("c", "ZORBELT", "TQ33");
    // Only the middle LU has a drive.
    SimRun one = RunSim({"-d"}, State(ports, Drive(6, 2, 0, 0, 2, "b"), lus));
    EXPECT_EQ(one.r.code, 3);
    EXPECT_EQ(one.r.out,
              MsgNoDrive("0002.0000.0000000000000000.0001"));
    EXPECT_TRUE(Requests(one.stateText).empty());

    // Two drives report the first LU's address: the count runs out while the
    // third LU still has no drive.
    std::string twice = Drive(0, 2, 0, 0, 1, "a") + "," + Drive(1, 2, 0, 0, 2, "b") + "," +
                        Drive(2, 2, 0, 0, 1, "a") + "," + Drive(3, 2, 0, 0, 3, "c");
    SimRun dup = RunSim({"-d"}, State(ports, twice, lus));
    EXPECT_EQ(dup.r.code, 3);
    EXPECT_EQ(dup.r.out,
              MsgNoDrive("0002.0000.0000000000000000.0003"));
    std::vector<std::string> expected = {Phys(0), Phys(1), Phys(2)};
    EXPECT_EQ(DriveOpens(dup.stateText), expected);
}

TEST(Discovery, InquiryFailureEndsTheRunEvenAfterLusWereFound)
{
    std::string ports = Port(1, "[[" + Rec(0, 0, "a") + "]]") + ",{\"port\": 12, \"inquiry_error\": 31}";
    SimRun run = RunSim({"-d"}, State(ports, Drive(0, 1, 0, 0, 0, "a"), Lu("a", "ZORBELT", "TQ44")));
    EXPECT_EQ(run.r.code, 3);
    EXPECT_EQ(run.r.out,
              MsgInquiryFailed(12, 31));
    EXPECT_TRUE(DriveOpens(run.stateText).empty());
}

// Without administrator rights every port refuses; the run must say so
// rather than report that there is no LU. Other open failures pass the port
// over, and drives keep their rule.
TEST(Discovery, PortRefusedForLackOfRightsEndsTheRun)
{
    std::string ports = "{\"port\": 0, \"open_error\": 32}," + Port(1, "[[" + Rec(0, 0, "a") + "]]") +
                        ",{\"port\": 3, \"open_error\": 5}";
    SimRun run = RunSim({"-d"}, State(ports, Drive(0, 1, 0, 0, 0, "a"), Lu("a", "ZORBELT", "TQ44")));
    EXPECT_EQ(run.r.code, 3);
    EXPECT_EQ(run.r.out, MsgOpenFailed("\\\\.\\Scsi3:"));
    std::vector<std::string> opened = OpenedDevices(run.stateText);
    std::vector<std::string> expected = {Scsi(0), Scsi(1), Scsi(2), Scsi(3)};
    EXPECT_EQ(opened, expected);

    // Refused by every port: the same, at the first one.
    std::string allRefused;
    // Appended piece by piece: g++ 12 at -O3 warns (-Wrestrict) inside
    // operator+(const char*, std::string&&).
    for (int port = 0; port < 16; ++port) {
        if (port)
            allRefused += ",";
        allRefused += "{\"port\": ";
        allRefused += std::to_string(port);
        allRefused += ", \"open_error\": 5}";
    }
    SimRun none = RunSim({"-d"}, State(allRefused, "", ""));
    EXPECT_EQ(none.r.code, 3);
    EXPECT_EQ(none.r.out, MsgOpenFailed("\\\\.\\Scsi0:"));
}

TEST(Discovery, RefusedDriveIsPassedOverWhileAnotherReachesTheLu)
{
    std::string ports = Port(2, "[[" + Rec(0, 0, "a") + "]]");
    std::string lus = Lu("a", "ZORBELT", "TQ44");
    std::string refused = "{\"drive\": 0, \"open_error\": 5}";
    SimRun other = RunSim({"-d"}, State(ports, refused + "," + Drive(1, 2, 0, 0, 0, "a"), lus));
    EXPECT_EQ(other.r.code, 0);
    EXPECT_EQ(other.r.out, kHeader + Row(0, "0002.0000.0000000000000000.0000") + kDone);

    // No drive reaches the LU: a drive that refused for lack of rights
    // (the first of them) is named, before any command; any other failure
    // to open leaves the LU without a drive.
    const std::string kNoDrive = MsgNoDrive("0002.0000.0000000000000000.0000");
    struct {
        const char* Drives;
        std::string Out;
    } const rows[] = {
        {"{\"drive\": 0, \"open_error\": 5}",
         MsgOpenFailed("\\\\.\\PhysicalDrive0")},
        {"{\"drive\": 2, \"open_error\": 32}, {\"drive\": 3, \"address_error\": 50},"
         "{\"drive\": 7, \"open_error\": 5}, {\"drive\": 9, \"open_error\": 5}",
         MsgOpenFailed("\\\\.\\PhysicalDrive7")},
        {"{\"drive\": 0, \"open_error\": 32}, {\"drive\": 1, \"open_error\": 2}", kNoDrive},
        {"", kNoDrive},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Drives);
        SimRun alone = RunSim({"-d"}, State(ports, row.Drives, lus));
        EXPECT_EQ(alone.r.code, 3);
        EXPECT_EQ(alone.r.out, row.Out);
        EXPECT_TRUE(Requests(alone.stateText).empty());
        // Every drive name was tried first.
        EXPECT_EQ(DriveOpens(alone.stateText).size(), 32768u);
    }
}

// Port data built by hand: header, bus table, records.
namespace {

std::string Le32(uint32_t v)
{
    char b[9];
    std::snprintf(b, sizeof b, "%02X%02X%02X%02X", v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF, v >> 24);
    return b;
}

std::string Hex(const std::string& bytes)
{
    std::string out;
    char b[3];
    for (unsigned char c : bytes) {
        std::snprintf(b, sizeof b, "%02X", c);
        out += b;
    }
    return out;
}

// A record at some offset: path, target, lun, claimed, length, next, data.
std::string Record(int target, int lun, uint32_t next, const std::string& inquiry)
{
    char b[9];
    std::snprintf(b, sizeof b, "00%02X%02X00", target, lun);
    return b + Le32((uint32_t)inquiry.size()) + Le32(next) + Hex(inquiry);
}

const std::string kInquiry = std::string("\0\0\5\2\37\0\0\0", 8) + "ZORBELT TQ22            0001";

std::string HexState(const std::string& hex)
{
    return "{\"ports\": [{\"port\": 0, \"inquiry_data_hex\": \"" + hex + "\"}]," +
           "\"drives\": [" + Drive(0, 0, 0, 1, 0, "x") + "," + Drive(1, 0, 0, 2, 0, "x") + "," +
           Drive(2, 0, 1, 1, 0, "x") + "]," + "\"lus\": {" + Lu("x", "ZORBELT", "TQ22") + "}}";
}

}  // namespace

TEST(Discovery, MalformedPortDataIsSurvived)
{
    const uint32_t rec0 = 12;                       // one bus: header 4 + 8
    const uint32_t recLen = 12 + (uint32_t)kInquiry.size();
    const std::string oneBus = "01000000" "0000" "0000" + Le32(rec0);
    const std::string row10 = Row(0, "0000.0000.0000000000000001.0000");
    const std::string row20 = Row(1, "0000.0000.0000000000000002.0000");
    struct Case {
        const char* what;
        std::string hex;
        std::string out;
    } cases[] = {
        {"well formed chain of two", oneBus + Record(1, 0, rec0 + recLen, kInquiry) + Record(2, 0, 0, kInquiry),
         kHeader + row10 + row20 + kDone},
        {"no bus", "00000000", kNoLu},
        {"empty answer", "", kNoLu},
        {"bus table cut short", "02000000" "0000" "0000" + Le32(rec0), kNoLu},
        {"first offset zero", "01000000" "0000" "0000" "00000000", kNoLu},
        {"first offset past the end", "01000000" "0000" "0000" + Le32(5000), kNoLu},
        {"next offset past the end", oneBus + Record(1, 0, 0xFFFFFFF0u, kInquiry),
         kHeader + Row(0, "0000.0000.0000000000000001.0000") + kDone},
        {"chain that loops back to itself", oneBus + Record(1, 0, rec0, kInquiry),
         kHeader + row10 + kDone},
        {"chain of two that loops", oneBus + Record(1, 0, rec0 + recLen, kInquiry) + Record(2, 0, rec0, kInquiry),
         kHeader + row10 + row20 + kDone},
        {"record header cut short", oneBus + Record(1, 0, 0, kInquiry).substr(0, 16), kNoLu},
        {"inquiry cut at 31 bytes", oneBus + Record(1, 0, 0, kInquiry).substr(0, 2 * (12 + 31)), kNoLu},
        {"inquiry cut at 32 bytes", oneBus + Record(1, 0, 0, kInquiry).substr(0, 2 * (12 + 32)),
         kHeader + row10 + kDone},
        {"inquiry length says 20", oneBus + Record(1, 0, 0, kInquiry.substr(0, 20)) + Hex(kInquiry.substr(20)),
         kNoLu},
        {"255 buses announced, one present", "FF000000" "0000" "0000" + Le32(12) + Record(1, 0, 0, kInquiry),
         kHeader + row10 + kDone},
    };
    for (const Case& c : cases) {
        SimRun run = RunSim({"-d"}, HexState(c.hex));
        EXPECT_EQ(run.r.code, 0) << c.what;
        EXPECT_EQ(run.r.out, c.out) << c.what;
    }
}

TEST(Discovery, ScanKeepsWithinTheBytesReturned)
{
    // The same port data in a buffer of exactly its size: every cut point
    // must be survived (the sanitizer build catches a read past it).
    const uint32_t recLen = 12 + (uint32_t)kInquiry.size();
    std::string data = std::string("\2\0\0\0", 4) + std::string("\0\0\0\0", 4) +
                       std::string("\x14\0\0\0", 4) + std::string("\0\0\0\0", 4) +
                       std::string("\x14\0\0\0", 4);
    std::string rec(12, '\0');
    rec[1] = 1;
    rec[4] = (char)kInquiry.size();
    uint32_t next = 20 + recLen;
    std::memcpy(&rec[8], &next, 4);
    data += rec + kInquiry;
    rec[1] = 2;
    next = 20;  // back to the first record
    std::memcpy(&rec[8], &next, 4);
    data += rec + kInquiry;
    for (size_t cut = 0; cut <= data.size(); ++cut) {
        std::vector<uint8_t> exact(data.begin(), data.begin() + (long)cut);
        QelVRXPR_ScanInquiryData(7, exact.data(), exact.size());
        int nodes = 0;
        for (LU_INFO* p = g_LuHead; p != nullptr; p = p->pNext) {
            EXPECT_EQ(p->SeqNo, nodes + 1);
            EXPECT_EQ(p->PortNo, 7u);
            EXPECT_EQ(p->PhysDriveNo, -1);
            EXPECT_STREQ(p->VendorProduct, "ZORBELT TQ22            ");
            ++nodes;
        }
        // Both buses start at the first record; each walks the two-record
        // loop once.
        if (cut == data.size()) {
            EXPECT_EQ(nodes, 4);
        }
        if (cut < 20 + 32 + 12) {
            EXPECT_EQ(nodes, 0) << cut;
        }
        QelVRXPR_FreeRecords();
    }
}

// The simulated LU driven in-process through the platform operations, the
// way the transport drives it: persistent reservation rules, answer bytes,
// sense data, scripted faults and the log.
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "json.h"
#include "platform/platform.h"
#include "pr/pr.h"
#include "sim.h"

namespace {

const uint8_t SENTINEL = 0xEE;

// Two paths (ports 2 and 3) to one LU, as two nexuses of this host.
std::string State(const std::string& luBody)
{
    return R"({ "drives": [
        { "drive": 1, "port": 2, "path": 0, "target": 1, "lun": 0, "lu": "q" },
        { "drive": 5, "port": 3, "path": 0, "target": 1, "lun": 0, "lu": "q" } ],
      "lus": { "q": )" + luBody + " } }";
}

void Load(const std::string& text)
{
    std::string error;
    ASSERT_TRUE(SimLoadText(text, "", &error)) << error;
}

struct SENT {
    int Ok = 0;
    DWORD Error = 0;
    PR_REQUEST Req;
    std::vector<uint8_t> Data;  // the whole data buffer after the request
};

std::vector<uint8_t> PrIn(uint8_t sa, unsigned alloc)
{
    return {0x5E, sa, 0, 0, 0, 0, 0, static_cast<uint8_t>(alloc >> 8), static_cast<uint8_t>(alloc), 0};
}

std::vector<uint8_t> PrOut(uint8_t sa, unsigned paramLen)
{
    return {0x5F, sa, 0, 0, 0, 0, 0, static_cast<uint8_t>(paramLen >> 8), static_cast<uint8_t>(paramLen), 0};
}

std::vector<uint8_t> Param(uint64_t resKey, uint64_t sarKey)
{
    std::vector<uint8_t> p(24, 0);
    for (int i = 0; i < 8; i++) {
        p[i] = static_cast<uint8_t>(resKey >> (56 - 8 * i));
        p[8 + i] = static_cast<uint8_t>(sarKey >> (56 - 8 * i));
    }
    return p;
}

// One request as the transport builds it; the data buffer is filled with a
// sentinel so that every byte the layer writes shows.
SENT Send(unsigned long drive, const std::vector<uint8_t>& cdb, UCHAR dataIn, ULONG transferLength,
          const std::vector<uint8_t>& dataOut = {}, UCHAR senseLength = 24)
{
    SENT s;
    char name[64];
    std::snprintf(name, sizeof name, g_PfDriveNameFmtLong, drive);
    HANDLE h = QelVRXPR_OpenDevice(name);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << name;
    s.Data.assign(transferLength > 264 ? transferLength : 264, SENTINEL);
    std::copy(dataOut.begin(), dataOut.end(), s.Data.begin());
    std::memset(&s.Req, 0, sizeof s.Req);
    s.Req.Sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    s.Req.Sptd.CdbLength = static_cast<UCHAR>(cdb.size());
    s.Req.Sptd.SenseInfoLength = senseLength;
    s.Req.Sptd.DataIn = dataIn;
    s.Req.Sptd.DataTransferLength = transferLength;
    s.Req.Sptd.TimeOutValue = 2;
    s.Req.Sptd.DataBuffer = s.Data.data();
    s.Req.Sptd.SenseInfoOffset = offsetof(PR_REQUEST, SenseBuf);
    std::memcpy(s.Req.Sptd.Cdb, cdb.data(), cdb.size());
    std::memset(s.Req.SenseBuf, SENTINEL, sizeof s.Req.SenseBuf);
    DWORD returned = 0;
    s.Ok = QelVRXPR_RequestDevice(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &s.Req, sizeof s.Req, &s.Req, sizeof s.Req,
                                  &returned);
    s.Error = s.Ok ? 0 : QelVRXPR_GetLastErr();
    QelVRXPR_CloseDevice(h);
    s.Req.Sptd.DataBuffer = nullptr;
    return s;
}

SENT ReadKeys(unsigned long drive = 1, unsigned alloc = 264)
{
    return Send(drive, PrIn(0, alloc), SCSI_IOCTL_DATA_IN, 264);
}

SENT ReadResv(unsigned long drive = 1)
{
    return Send(drive, PrIn(1, 264), SCSI_IOCTL_DATA_IN, 264);
}

uint8_t Out(unsigned long drive, uint8_t sa, uint64_t resKey, uint64_t sarKey)
{
    SENT s = Send(drive, PrOut(sa, 24), SCSI_IOCTL_DATA_OUT, 24, Param(resKey, sarKey));
    EXPECT_EQ(s.Ok, 1);
    return s.Req.Sptd.ScsiStatus;
}

std::string Hex(const std::vector<uint8_t>& v, size_t n)
{
    std::string s;
    char b[3];
    for (size_t i = 0; i < n && i < v.size(); i++) {
        std::snprintf(b, sizeof b, "%02X", v[i]);
        s += b;
    }
    return s;
}

// The LU's keys as READ KEYS reports them, and its generation.
std::string Keys(unsigned long drive = 1)
{
    SENT s = ReadKeys(drive);
    EXPECT_EQ(s.Req.Sptd.ScsiStatus, 0);
    return Hex(s.Data, s.Req.Sptd.DataTransferLength);
}

SIM_JSON SavedState()
{
    SIM_JSON v;
    std::string error;
    EXPECT_TRUE(SimParseJson(SimFormatState(), &v, &error)) << error;
    return v;
}

std::string SavedLu(const char* member)
{
    SIM_JSON state = SavedState();
    const SIM_JSON* lus = SimMember(state, "lus");
    const SIM_JSON* q = lus ? SimMember(*lus, "q") : nullptr;
    const SIM_JSON* m = q ? SimMember(*q, member) : nullptr;
    return m ? SimFormatJson(*m) : "absent";
}

const uint64_t KEY_B = 0x4E4F44454230303FULL;
const uint64_t KEY_OLD = 0x1111111111111111ULL;
const uint64_t KEY_NEW = 0x5652585052434C00ULL;

class SimLuTest : public ::testing::Test {
protected:
    void TearDown() override { SimResetState(); }
};

TEST_F(SimLuTest, ReadKeysGivesGenerationLengthAndKeysInOrderCutAtTheAllocationLength)
{
    Load(State(R"({ "vendor": "ZORBELT", "product": "TQ22", "generation": 7,
        "registrations": [ { "host": "node-b", "key": "0x4E4F44454230303F" },
                           { "host": "local:2", "key": "1111111111111111" } ] })"));
    SENT s = ReadKeys();
    ASSERT_EQ(s.Ok, 1);
    EXPECT_EQ(s.Req.Sptd.ScsiStatus, 0);
    EXPECT_EQ(s.Req.Sptd.DataTransferLength, 24u);
    EXPECT_EQ(Hex(s.Data, 25), "0000000700000010" "4E4F44454230303F" "1111111111111111" "EE");
    EXPECT_EQ(s.Req.Sptd.SenseInfoLength, 0);
    EXPECT_EQ(s.Req.SenseBuf[0], SENTINEL);

    s = ReadKeys(1, 12);
    EXPECT_EQ(Hex(s.Data, 13), "00000007000000104E4F4445EE");

    // The transfer length bounds the answer too.
    s = Send(1, PrIn(0, 264), SCSI_IOCTL_DATA_IN, 10);
    EXPECT_EQ(Hex(s.Data, 11), "00000007000000104E4FEE");

    Load(State(R"({ "generation": 4294967295 })"));
    EXPECT_EQ(Keys(), "FFFFFFFF00000000");
}

TEST_F(SimLuTest, ReadReservationGivesHolderKeyAndTypeOrNothing)
{
    Load(State(R"({ "generation": 3,
        "registrations": [ { "host": "node-b", "key": "0x4E4F44454230303F" } ] })"));
    SENT s = ReadResv();
    EXPECT_EQ(s.Req.Sptd.ScsiStatus, 0);
    EXPECT_EQ(Hex(s.Data, 9), "0000000300000000EE");

    Load(State(R"({ "generation": 3,
        "registrations": [ { "host": "node-a", "key": "0x0000000000000001" },
                           { "host": "node-b", "key": "0x4E4F44454230303F" } ],
        "reservation": { "host": "node-b", "type": 5 } })"));
    s = ReadResv();
    EXPECT_EQ(Hex(s.Data, 25), "0000000300000010" "4E4F44454230303F" "00000000" "0005" "0000" "EE");

    // All-registrants types carry no holder key.
    Load(State(R"({ "registrations": [ { "host": "node-b", "key": "0x4E4F44454230303F" } ],
        "reservation": { "host": "node-b", "type": 7 } })"));
    EXPECT_EQ(Hex(ReadResv().Data, 24), "0000000000000010" "0000000000000000" "00000000" "0007" "0000");
}

TEST_F(SimLuTest, RegisterFollowsTheReservationKeyRules)
{
    Load(State(R"({ "generation": 7,
        "registrations": [ { "host": "node-b", "key": "0x4E4F44454230303F" } ],
        "reservation": { "host": "node-b", "type": 5 } })"));
    // Not registered: a non-zero RESERVATION KEY conflicts and changes nothing.
    EXPECT_EQ(Out(1, 0x00, KEY_B, KEY_NEW), 0x18);
    // A zero SERVICE ACTION RESERVATION KEY from an unregistered nexus is a no-op.
    EXPECT_EQ(Out(1, 0x00, 0, 0), 0x00);
    EXPECT_EQ(Keys(), "00000007000000084E4F44454230303F");
    // Registering appends the key and adds 1 to the generation.
    EXPECT_EQ(Out(1, 0x00, 0, KEY_NEW), 0x00);
    EXPECT_EQ(Keys(), "0000000800000010" "4E4F44454230303F" "5652585052434C00");
    // Registered: the RESERVATION KEY must be the nexus's own key.
    EXPECT_EQ(Out(1, 0x00, 0, KEY_OLD), 0x18);
    EXPECT_EQ(Out(1, 0x00, KEY_B, KEY_OLD), 0x18);
    EXPECT_EQ(Out(1, 0x00, KEY_NEW, KEY_OLD), 0x00);
    EXPECT_EQ(Keys(), "0000000900000010" "4E4F44454230303F" "1111111111111111");
    // The other path is another nexus, not registered.
    EXPECT_EQ(Out(5, 0x00, KEY_OLD, KEY_NEW), 0x18);
    // Unregistering with a zero new key.
    EXPECT_EQ(Out(1, 0x00, KEY_OLD, 0), 0x00);
    EXPECT_EQ(Keys(), "0000000A000000084E4F44454230303F");
    EXPECT_EQ(SavedLu("reservation"), R"({ "host": "node-b", "type": 5 })");
}

TEST_F(SimLuTest, UnregisteringTheHolderReleasesItsReservation)
{
    Load(State(R"({ "registrations": [ { "host": "local:2", "key": "0x1111111111111111" },
                                       { "host": "node-b", "key": "0x4E4F44454230303F" } ],
        "reservation": { "host": "local:2", "type": 1 } })"));
    EXPECT_EQ(Out(1, 0x00, KEY_OLD, 0), 0x00);
    EXPECT_EQ(Hex(ReadResv().Data, 8), "0000000100000000");
    EXPECT_EQ(SavedLu("reservation"), "absent");
    EXPECT_EQ(SavedLu("registrations"), R"([
  { "host": "node-b", "key": "0x4E4F44454230303F" }
])");

    // An all-registrants reservation stays while anyone is registered.
    Load(State(R"({ "registrations": [ { "host": "local:2", "key": "0x1111111111111111" },
                                       { "host": "node-b", "key": "0x4E4F44454230303F" } ],
        "reservation": { "host": "local:2", "type": 8 } })"));
    EXPECT_EQ(Out(1, 0x00, KEY_OLD, 0), 0x00);
    EXPECT_EQ(Hex(ReadResv().Data, 8), "0000000100000010");
}

TEST_F(SimLuTest, RegisterAndIgnoreReplacesAnExistingKeyWithoutTheCheck)
{
    Load(State(R"({ "generation": 2,
        "registrations": [ { "host": "local:2", "key": "0x1111111111111111" } ] })"));
    EXPECT_EQ(Out(1, 0x00, 0, KEY_NEW), 0x18);  // registered under another key
    EXPECT_EQ(Out(1, 0x06, 0, KEY_NEW), 0x00);
    EXPECT_EQ(Keys(), "00000003000000085652585052434C00");
    EXPECT_EQ(Out(5, 0x06, KEY_B, KEY_NEW), 0x00);  // unregistered nexus: registers
    EXPECT_EQ(Keys(), "0000000400000010" "5652585052434C00" "5652585052434C00");
    EXPECT_EQ(Out(5, 0x06, 0, 0), 0x00);  // zero new key: unregisters
    EXPECT_EQ(Keys(), "00000005000000085652585052434C00");
}

TEST_F(SimLuTest, ClearNeedsTheNexusOwnKeyAndRemovesEverything)
{
    Load(State(R"({ "generation": 7,
        "registrations": [ { "host": "node-b", "key": "0x4E4F44454230303F" },
                           { "host": "local:2", "key": "0x5652585052434C00" } ],
        "reservation": { "host": "node-b", "type": 5 } })"));
    EXPECT_EQ(Out(5, 0x03, KEY_NEW, 0), 0x18);  // port 3 is not registered
    EXPECT_EQ(Out(1, 0x03, KEY_B, 0), 0x18);    // not this nexus's key
    EXPECT_EQ(Out(1, 0x03, 0, 0), 0x18);
    EXPECT_EQ(Keys(), "0000000700000010" "4E4F44454230303F" "5652585052434C00");
    EXPECT_EQ(Out(1, 0x03, KEY_NEW, 0), 0x00);
    EXPECT_EQ(Keys(), "0000000800000000");
    EXPECT_EQ(Hex(ReadResv().Data, 9), "0000000800000000EE");
    EXPECT_EQ(SavedLu("generation"), "8");
    EXPECT_EQ(SavedLu("registrations"), "[]");
    EXPECT_EQ(SavedLu("reservation"), "absent");
}

TEST_F(SimLuTest, ParameterListLengthMismatchGivesCheckConditionWithSense)
{
    Load(State(R"({ "generation": 1 })"));
    // The 264-byte transfer of a 24-byte parameter list is refused.
    SENT s = Send(1, PrOut(0x00, 24), SCSI_IOCTL_DATA_OUT, 264, Param(0, KEY_NEW));
    ASSERT_EQ(s.Ok, 1);
    EXPECT_EQ(s.Req.Sptd.ScsiStatus, 0x02);
    EXPECT_EQ(s.Req.Sptd.SenseInfoLength, 18);
    std::vector<uint8_t> sense(s.Req.SenseBuf, s.Req.SenseBuf + sizeof s.Req.SenseBuf);
    EXPECT_EQ(Hex(sense, 19), "700005000000000A000000001A0000000000" "EE");
    EXPECT_EQ(Keys(), "0000000100000000");

    // A parameter list length other than 24, even when the transfer matches.
    s = Send(1, PrOut(0x00, 16), SCSI_IOCTL_DATA_OUT, 16, Param(0, KEY_NEW), 8);
    EXPECT_EQ(s.Req.Sptd.ScsiStatus, 0x02);
    // Sense data stops at the sense length the request allows.
    EXPECT_EQ(s.Req.Sptd.SenseInfoLength, 8);
    sense.assign(s.Req.SenseBuf, s.Req.SenseBuf + sizeof s.Req.SenseBuf);
    EXPECT_EQ(Hex(sense, 9), "700005000000000A" "EE");

    // A PR OUT sent as data-in carries no parameter list.
    s = Send(1, PrOut(0x00, 24), SCSI_IOCTL_DATA_IN, 24);
    EXPECT_EQ(s.Req.Sptd.ScsiStatus, 0x02);
    EXPECT_EQ(s.Req.SenseBuf[12], 0x1A);
    EXPECT_EQ(Keys(), "0000000100000000");
}

TEST_F(SimLuTest, OtherCommandsAndServiceActionsAreInvalidFieldInCdb)
{
    Load(State(R"({ "registrations": [ { "host": "local:2", "key": "0x1111111111111111" } ] })"));
    const std::vector<std::vector<uint8_t>> cdbs = {
        PrIn(0x02, 264), PrIn(0x03, 264), PrOut(0x01, 24), PrOut(0x04, 24), {0x12, 0, 0x83, 0, 36, 0},
        {0x5E, 0x00, 0, 0, 0, 0},  // cut short
    };
    for (const auto& cdb : cdbs) {
        bool out = cdb[0] == 0x5F;
        SENT s = Send(1, cdb, out ? SCSI_IOCTL_DATA_OUT : SCSI_IOCTL_DATA_IN, 24,
                      out ? Param(KEY_OLD, KEY_NEW) : std::vector<uint8_t>());
        ASSERT_EQ(s.Ok, 1);
        EXPECT_EQ(s.Req.Sptd.ScsiStatus, 0x02) << Hex(cdb, cdb.size());
        EXPECT_EQ(s.Req.SenseBuf[2], 0x05);
        EXPECT_EQ(s.Req.SenseBuf[12], 0x24);
        if (!out) {
            EXPECT_EQ(s.Data[0], SENTINEL);
        }
    }
    EXPECT_EQ(Keys(), "00000000000000081111111111111111");
}

// What INQUIRY answers, cut at the allocation length; "CC" for CHECK
// CONDITION with INVALID FIELD IN CDB.
TEST_F(SimLuTest, InquiryGivesStandardDataAndIdentityPages)
{
    auto inquiry = [](uint8_t evpd, uint8_t page, unsigned alloc) {
        SENT s = Send(1, {0x12, evpd, page, static_cast<uint8_t>(alloc >> 8), static_cast<uint8_t>(alloc), 0},
                      SCSI_IOCTL_DATA_IN, 300);
        EXPECT_EQ(s.Ok, 1);
        if (s.Req.Sptd.ScsiStatus == 0x02 && s.Req.SenseBuf[2] == 0x05 && s.Req.SenseBuf[12] == 0x24)
            return std::string("CC");
        return Hex(s.Data, s.Req.Sptd.DataTransferLength);
    };
    Load(State(R"({ "vendor": "ZORBELT", "product": "TQ22" })"));
    EXPECT_EQ(inquiry(0, 0, 36), "000005021F000000" "5A4F5242454C5420" "5451323220202020" "2020202020202020" "342E3020");
    EXPECT_EQ(inquiry(0, 0, 10), "000005021F0000005A4F");
    EXPECT_EQ(inquiry(0, 0x83, 36), "CC");
    EXPECT_EQ(inquiry(1, 0x00, 255), "00000003008083");
    EXPECT_EQ(inquiry(1, 0x80, 255), "00800001" "71");
    // T10 vendor identification, then the LU's name.
    EXPECT_EQ(inquiry(1, 0x83, 255), "0083000D" "0201000" "9" "5A4F5242454C5420" "71");
    EXPECT_EQ(inquiry(1, 0x83, 6), "0083000D0201");
    EXPECT_EQ(inquiry(1, 0xB0, 255), "CC");
    Load(State(R"({ "inquiry_hex": "00000502", "naa": "6001405ABCDEF012" })"));
    EXPECT_EQ(inquiry(0, 0, 36), "00000502");
    EXPECT_EQ(inquiry(1, 0x83, 255), "0083000C" "01030008" "6001405ABCDEF012");
    Load(State(R"({ "vpd": false, "faults": [ { "command": "INQUIRY", "status": 8 } ] })"));
    EXPECT_EQ(inquiry(0, 0, 4), "00000502");  // the fault waits for a page request
    EXPECT_EQ(Send(1, {0x12, 1, 0x83, 0, 255, 0}, SCSI_IOCTL_DATA_IN, 255).Req.Sptd.ScsiStatus, 8);
    EXPECT_EQ(inquiry(1, 0x83, 255), "CC");
    EXPECT_EQ(inquiry(1, 0x00, 255), "CC");
}

TEST_F(SimLuTest, FaultsAnswerFirstInListOrderThenAreUsedUp)
{
    Load(State(R"({ "generation": 2,
        "faults": [ { "command": "READ KEYS", "status": 2, "times": 2 },
                    { "command": "REGISTER", "error": 1117 },
                    { "command": "READ KEYS", "status": 24 },
                    { "command": "CLEAR", "status": 8, "times": 5 } ] })"));
    SENT s = ReadKeys();
    EXPECT_EQ(s.Req.Sptd.ScsiStatus, 0x02);
    EXPECT_EQ(s.Data[0], SENTINEL);  // no data with a scripted status
    EXPECT_EQ(s.Req.SenseBuf[2], 0x06);
    EXPECT_EQ(SavedLu("faults"), R"([
  { "command": "READ KEYS", "status": 2, "times": 1 },
  { "command": "REGISTER", "error": 1117 },
  { "command": "READ KEYS", "status": 24 },
  { "command": "CLEAR", "status": 8, "times": 5 }
])");
    EXPECT_EQ(ReadKeys().Req.Sptd.ScsiStatus, 0x02);
    EXPECT_EQ(ReadKeys().Req.Sptd.ScsiStatus, 0x18);
    EXPECT_EQ(Keys(), "0000000200000000");

    s = Send(1, PrOut(0x00, 24), SCSI_IOCTL_DATA_OUT, 24, Param(0, KEY_NEW));
    EXPECT_EQ(s.Ok, 0);
    EXPECT_EQ(s.Error, 1117u);
    EXPECT_EQ(s.Req.Sptd.ScsiStatus, 0);  // nothing written on a failed request
    EXPECT_EQ(Keys(), "0000000200000000");
    EXPECT_EQ(Out(1, 0x00, 0, KEY_NEW), 0x00);  // the fault is used up
    EXPECT_EQ(Keys(), "00000003000000085652585052434C00");
    EXPECT_EQ(SavedLu("faults"), R"([
  { "command": "CLEAR", "status": 8, "times": 5 }
])");
}

TEST_F(SimLuTest, LogHoldsEveryOpenAndRequestInTheStateFileForm)
{
    Load(R"({ "ports": [ { "port": 2, "buses": [] } ],
      "drives": [ { "drive": 1, "port": 2, "target": 1, "lun": 0, "lu": "q" },
                  { "drive": 3, "open_error": 5 }, { "drive": 4, "address_error": 50 } ],
      "lus": { "q": { "faults": [ { "command": "CLEAR", "error": 31 } ] } },
      "log": [ { "open": "earlier run", "result": "ok" } ] })");
    QelVRXPR_CloseDevice(QelVRXPR_OpenDevice("\\\\.\\Scsi2:"));
    QelVRXPR_CloseDevice(QelVRXPR_OpenDevice("\\\\.\\Scsi3:"));
    EXPECT_EQ(QelVRXPR_OpenDevice("\\\\.\\PhysicalDrive3"), INVALID_HANDLE_VALUE);
    ReadKeys();
    Out(1, 0x00, 0, KEY_NEW);
    Send(1, PrOut(0x03, 24), SCSI_IOCTL_DATA_OUT, 24, Param(KEY_NEW, 0));
    // Neither address nor inquiry requests are logged.
    HANDLE h = QelVRXPR_OpenDevice("\\\\.\\PhysicalDrive4");
    SCSI_ADDRESS a;
    DWORD n;
    EXPECT_EQ(QelVRXPR_RequestDevice(h, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &a, sizeof a, &n), 0);
    QelVRXPR_CloseDevice(h);

    SIM_JSON state = SavedState();
    const SIM_JSON* log = SimMember(state, "log");
    ASSERT_NE(log, nullptr);
    std::string text = SimFormatJson(*log);
    EXPECT_EQ(text, R"([
  { "open": "earlier run", "result": "ok" },
  { "open": "\\\\.\\Scsi2:", "result": "ok" },
  { "open": "\\\\.\\Scsi3:", "result": 2 },
  { "open": "\\\\.\\PhysicalDrive3", "result": 5 },
  { "open": "\\\\.\\PhysicalDrive1", "result": "ok" },
  { "drive": 1, "lu": "q", "cdb": "5E000000000000010800", "direction": "in", "transfer_length": 264, "status": 0 },
  { "open": "\\\\.\\PhysicalDrive1", "result": "ok" },
  { "drive": 1, "lu": "q", "cdb": "5F000000000000001800", "direction": "out", "transfer_length": 24, "data_out": "00000000000000005652585052434C000000000000000000", "status": 0 },
  { "open": "\\\\.\\PhysicalDrive1", "result": "ok" },
  { "drive": 1, "lu": "q", "cdb": "5F030000000000001800", "direction": "out", "transfer_length": 24, "data_out": "5652585052434C0000000000000000000000000000000000", "error": 31 },
  { "open": "\\\\.\\PhysicalDrive4", "result": "ok" }
])");
}

TEST_F(SimLuTest, MalformedRequestBlocksFailWithoutTouchingTheCaller)
{
    Load(State(R"({ "registrations": [ { "host": "local:2", "key": "0x1111111111111111" } ] })"));
    HANDLE h = QelVRXPR_OpenDevice("\\\\.\\PhysicalDrive1");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::vector<uint8_t> data(264, SENTINEL);
    PR_REQUEST req;
    std::memset(&req, 0, sizeof req);
    req.Sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    req.Sptd.CdbLength = 10;
    req.Sptd.SenseInfoLength = 24;
    req.Sptd.DataIn = SCSI_IOCTL_DATA_IN;
    req.Sptd.DataTransferLength = 264;
    req.Sptd.DataBuffer = data.data();
    req.Sptd.SenseInfoOffset = offsetof(PR_REQUEST, SenseBuf);
    std::vector<uint8_t> cdb = PrIn(0, 264);
    std::memcpy(req.Sptd.Cdb, cdb.data(), cdb.size());
    DWORD n = 99;

    // Input or output area smaller than the structure.
    EXPECT_EQ(QelVRXPR_RequestDevice(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &req, sizeof req.Sptd - 1, &req, sizeof req, &n), 0);
    EXPECT_EQ(QelVRXPR_GetLastErr(), 87u);
    EXPECT_EQ(n, 0u);
    // Sense area reaching past the output area.
    EXPECT_EQ(QelVRXPR_RequestDevice(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &req, sizeof req, &req,
                                     offsetof(PR_REQUEST, SenseBuf) + 23, &n), 0);
    EXPECT_EQ(QelVRXPR_GetLastErr(), 87u);
    // A wrong structure length.
    req.Sptd.Length = 44 + 56;
    EXPECT_EQ(QelVRXPR_RequestDevice(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &req, sizeof req, &req, sizeof req, &n), 0);
    req.Sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    EXPECT_EQ(data[0], SENTINEL);
    EXPECT_EQ(req.Sptd.ScsiStatus, 0);

    // A port request on a drive handle.
    EXPECT_EQ(QelVRXPR_RequestDevice(h, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, data.data(), 264, &n), 0);
    EXPECT_EQ(QelVRXPR_GetLastErr(), 1u);

    // The whole block fits: the request goes through.
    EXPECT_EQ(QelVRXPR_RequestDevice(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &req, sizeof req, &req, sizeof req, &n), 1);
    EXPECT_EQ(Hex(data, 17), "00000000000000081111111111111111EE");
    QelVRXPR_CloseDevice(h);

    // A closed handle is no handle.
    EXPECT_EQ(QelVRXPR_RequestDevice(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &req, sizeof req, &req, sizeof req, &n), 0);
    EXPECT_EQ(QelVRXPR_GetLastErr(), 6u);
}

}  // namespace

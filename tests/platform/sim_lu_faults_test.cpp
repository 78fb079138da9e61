// The simulated LU's INQUIRY answers, scripted faults, the log and
// malformed requests, driven in-process as the transport drives them.
#include "sim_lu.h"

namespace {

using namespace simlu;

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
    // Target port designators first; the page length is the whole page's.
    Load(State(R"({ "naa": "6001405ABCDEF012", "port_designators": 2 })"));
    EXPECT_EQ(inquiry(1, 0x83, 256), "0083001C" "01140004" "00000001" "01140004" "00000002" "01030008"
                                     "6001405ABCDEF012");
    EXPECT_EQ(inquiry(1, 0x83, 22), "0083001C" "01140004" "00000001" "01140004" "00000002" "0103");
    // SPC-2: byte 3 is reserved, the allocation length is byte 4 alone.
    Load(State(R"({ "naa": "6001405ABCDEF012", "spc": 2 })"));
    EXPECT_EQ(inquiry(1, 0x83, 255), "0083000C" "01030008" "6001405ABCDEF012");
    EXPECT_EQ(inquiry(1, 0x83, 256), "CC");
    EXPECT_EQ(inquiry(0, 0, 0x0124), "CC");
    EXPECT_EQ(inquiry(0, 0, 4), "00000502");
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

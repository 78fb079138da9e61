// The simulated LU driven in-process through the platform operations, the
// way the transport drives it: what the tests of its answers share.
#ifndef VRXPR_TEST_SIM_LU_H
#define VRXPR_TEST_SIM_LU_H

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

namespace simlu {


inline const uint8_t SENTINEL = 0xEE;

// Two paths (ports 2 and 3) to one LU, as two nexuses of this host.
inline std::string State(const std::string& luBody)
{
    return R"({ "drives": [
        { "drive": 1, "port": 2, "path": 0, "target": 1, "lun": 0, "lu": "q" },
        { "drive": 5, "port": 3, "path": 0, "target": 1, "lun": 0, "lu": "q" } ],
      "lus": { "q": )" + luBody + " } }";
}

inline void Load(const std::string& text)
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

inline std::vector<uint8_t> PrIn(uint8_t sa, unsigned alloc)
{
    return {0x5E, sa, 0, 0, 0, 0, 0, static_cast<uint8_t>(alloc >> 8), static_cast<uint8_t>(alloc), 0};
}

inline std::vector<uint8_t> PrOut(uint8_t sa, unsigned paramLen)
{
    return {0x5F, sa, 0, 0, 0, 0, 0, static_cast<uint8_t>(paramLen >> 8), static_cast<uint8_t>(paramLen), 0};
}

inline std::vector<uint8_t> Param(uint64_t resKey, uint64_t sarKey)
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
inline SENT Send(unsigned long drive, const std::vector<uint8_t>& cdb, UCHAR dataIn, ULONG transferLength,
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

inline SENT ReadKeys(unsigned long drive = 1, unsigned alloc = 264)
{
    return Send(drive, PrIn(0, alloc), SCSI_IOCTL_DATA_IN, 264);
}

inline SENT ReadResv(unsigned long drive = 1)
{
    return Send(drive, PrIn(1, 264), SCSI_IOCTL_DATA_IN, 264);
}

inline uint8_t Out(unsigned long drive, uint8_t sa, uint64_t resKey, uint64_t sarKey)
{
    SENT s = Send(drive, PrOut(sa, 24), SCSI_IOCTL_DATA_OUT, 24, Param(resKey, sarKey));
    EXPECT_EQ(s.Ok, 1);
    return s.Req.Sptd.ScsiStatus;
}

inline std::string Hex(const std::vector<uint8_t>& v, size_t n)
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
inline std::string Keys(unsigned long drive = 1)
{
    SENT s = ReadKeys(drive);
    EXPECT_EQ(s.Req.Sptd.ScsiStatus, 0);
    return Hex(s.Data, s.Req.Sptd.DataTransferLength);
}

inline SIM_JSON SavedState()
{
    SIM_JSON v;
    std::string error;
    EXPECT_TRUE(SimParseJson(SimFormatState(), &v, &error)) << error;
    return v;
}

inline std::string SavedLu(const char* member)
{
    SIM_JSON state = SavedState();
    const SIM_JSON* lus = SimMember(state, "lus");
    const SIM_JSON* q = lus ? SimMember(*lus, "q") : nullptr;
    const SIM_JSON* m = q ? SimMember(*q, member) : nullptr;
    return m ? SimFormatJson(*m) : "absent";
}

inline const uint64_t KEY_B = 0x4E4F44454230303FULL;
inline const uint64_t KEY_OLD = 0x1111111111111111ULL;
inline const uint64_t KEY_NEW = 0x5652585052434C00ULL;

class SimLuTest : public ::testing::Test {
protected:
    void TearDown() override { SimResetState(); }
};

}  // namespace simlu

#endif

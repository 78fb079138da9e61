#include "pr/pr.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "inventory/discovery.h"
#include "records/records.h"
#include "operator/msg.h"
#include "operator/operator.h"

#define PR_OP_IN 0x5E
#define PR_SA_MASK 0x1F
#define PR_SA_CLEAR 0x03
#define PR_CDB_LEN 10
#define PR_SENSE_INFO_LEN 24
#define PR_DRIVE_PATH_LEN 64
#define PR_INQUIRY_EVPD 0x01
#define PR_INQUIRY_CDB_LEN 6

// The driver takes the sense area's position from SenseInfoOffset, so the
// filler must keep it where the 32-bit layout puts it.
static_assert(offsetof(PR_REQUEST, Sptd) == 0, "request block layout");
static_assert(offsetof(PR_REQUEST, Filler) == sizeof(SCSI_PASS_THROUGH_DIRECT),
              "request block layout");
static_assert(offsetof(PR_REQUEST, SenseBuf) == sizeof(SCSI_PASS_THROUGH_DIRECT) + 4,
              "request block layout");
static_assert(sizeof(PR_REQUEST::SenseBuf) == 32, "request block layout");
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(PR_REQUEST) == 80, "32-bit request block");
static_assert(offsetof(PR_REQUEST, SenseBuf) == 48, "32-bit request block");
#else
static_assert(sizeof(PR_REQUEST) == 96, "64-bit request block");
static_assert(offsetof(PR_REQUEST, SenseBuf) == 60, "64-bit request block");
#endif
static_assert(alignof(PR_DATA) == PR_DATA_ALIGN, "pass-through data alignment");
static_assert(PR_OUT_PARAM_LEN <= PR_DATA_LEN, "parameter list fits the data buffer");
static_assert(PR_IDENT_ALLOC <= 0xFFFF, "INQUIRY's allocation length has two bytes");
static_assert(PR_IDENT_FIRST_ALLOC <= 0xFF && PR_IDENT_FIRST_ALLOC < PR_IDENT_ALLOC,
              "the first identity read leaves byte 3 zero");

const PR_CMD g_PrCmdTable[PR_CMD_COUNT] = {
    {0x5E, 0x00},  // PERSISTENT RESERVE IN, READ KEYS
    {0x5E, 0x01},  // PERSISTENT RESERVE IN, READ RESERVATION
    {0x5F, 0x00},  // PERSISTENT RESERVE OUT, REGISTER
    {0x5F, 0x03},  // PERSISTENT RESERVE OUT, CLEAR
    {0x5F, 0x06},  // PERSISTENT RESERVE OUT, REGISTER AND IGNORE EXISTING KEY
};

// Letters that an operator reading another tool's key listing can tie back
// to this utility.
const uint8_t g_RegistrantKey[8] = {'V', 'R', 'X', 'P', 'R', 'C', 'L', 0x00};

// What every request to the LU shares: its address on the port, the sense
// area, the time-out, and a data buffer that reads as zero wherever the
// device leaves it alone.
static void QelVRXPR_FillRequest(uint32_t PathID, PR_REQUEST* pReq, uint8_t* data, ULONG dataLen,
                                 bool dataIn, UCHAR cdbLen)
{
    const LU_INFO* pLu = g_PrTable[PathID].pLuInfo;
    std::memset(pReq, 0, sizeof(*pReq));
    std::memset(data, 0, dataLen);

    SCSI_PASS_THROUGH_DIRECT& s = pReq->Sptd;
    s.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    s.ScsiStatus = 0;
    s.PathId = (UCHAR)(pLu->PathId & 0xFF);
    s.TargetId = (UCHAR)(pLu->TargetId & 0xFF);
    s.Lun = (UCHAR)(pLu->Lun & 0xFF);
    s.CdbLength = cdbLen;
    s.SenseInfoLength = PR_SENSE_INFO_LEN;
    s.DataIn = dataIn ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT;
    s.TimeOutValue = PR_TIMEOUT_SEC;
    s.DataBuffer = data;
    s.SenseInfoOffset = offsetof(PR_REQUEST, SenseBuf);
}

void QelVRXPR_BuildPRCmd(uint32_t PathID, int command, PR_REQUEST* pReq, uint8_t* data)
{
    const PR_CMD& cmd = g_PrCmdTable[command];
    const uint8_t sa = cmd.ServiceAction & PR_SA_MASK;
    const bool dataIn = cmd.OpCode == PR_OP_IN;

    QelVRXPR_FillRequest(PathID, pReq, data, PR_DATA_LEN, dataIn, PR_CDB_LEN);
    SCSI_PASS_THROUGH_DIRECT& s = pReq->Sptd;
    // A data-out longer than the parameter list is rejected by targets that
    // check it (PARAMETER LIST LENGTH ERROR), so OUT moves exactly 24 bytes.
    s.DataTransferLength = dataIn ? PR_DATA_LEN : PR_OUT_PARAM_LEN;

    s.Cdb[0] = cmd.OpCode;
    s.Cdb[1] = sa;
    if (dataIn) {
        s.Cdb[7] = (UCHAR)((PR_DATA_LEN >> 8) & 0xFF);
        s.Cdb[8] = (UCHAR)(PR_DATA_LEN & 0xFF);
    } else {
        s.Cdb[7] = (UCHAR)((PR_OUT_PARAM_LEN >> 8) & 0xFF);
        s.Cdb[8] = (UCHAR)(PR_OUT_PARAM_LEN & 0xFF);
        // CLEAR proves registration through RESERVATION KEY; the two
        // registrations name the new key in SERVICE ACTION RESERVATION KEY.
        std::memcpy(data + (sa == PR_SA_CLEAR ? 0 : 8), g_RegistrantKey, sizeof(g_RegistrantKey));
    }
}

void QelVRXPR_BuildIdentCmd(uint32_t PathID, uint16_t alloc, PR_REQUEST* pReq, uint8_t* data)
{
    if (alloc > PR_IDENT_ALLOC) alloc = PR_IDENT_ALLOC;
    QelVRXPR_FillRequest(PathID, pReq, data, PR_IDENT_ALLOC, true, PR_INQUIRY_CDB_LEN);
    SCSI_PASS_THROUGH_DIRECT& s = pReq->Sptd;
    s.DataTransferLength = alloc;
    s.Cdb[0] = PR_OP_INQUIRY;
    s.Cdb[1] = PR_INQUIRY_EVPD;
    s.Cdb[2] = PR_PAGE_DEVICE_ID;
    s.Cdb[3] = (UCHAR)((alloc >> 8) & 0xFF);
    s.Cdb[4] = (UCHAR)(alloc & 0xFF);
}

// The drive no longer reaches the LU that was listed: nothing may be sent.
[[noreturn]] static void QelVRXPR_FailDrive(HANDLE h, uint32_t PathID)
{
    QelVRXPR_CloseDevice(h);
    char name[LU_NAME_LEN];
    QelVRXPR_MakeLUName(PathID, name);
    QelVRXPR_PutMsg(MSG_NO_DRIVE, name);
    QelVRXPR_Exit(EXIT_FAILURE_IO);
}

uint8_t QelVRXPR_IssuePRCmd(uint32_t PathID, int command, uint8_t* data)
{
    const LU_INFO* pLu = g_PrTable[PathID].pLuInfo;
    char path[PR_DRIVE_PATH_LEN];
    std::snprintf(path, sizeof(path), g_PfDriveNameFmtLong,
                  (unsigned long)(uint32_t)pLu->PhysDriveNo);

    HANDLE h = QelVRXPR_OpenDevice(path);
    if (h == INVALID_HANDLE_VALUE) {
        QelVRXPR_PutMsg(MSG_OPEN_FAILED, path);
        QelVRXPR_Exit(EXIT_FAILURE_IO);
    }

    // Drives are renumbered as disks come and go, also while the operator
    // reads the listing; the handle stays with the device it opened, so
    // what its address says now is where the command would go.
    SCSI_ADDRESS addr;
    if (!QelVRXPR_ReadDriveAddress(h, &addr) || !QelVRXPR_ChkLUAddress(pLu, &addr))
        QelVRXPR_FailDrive(h, PathID);

    // Another LU can be presented at the same address (a LUN re-mapped on
    // the array): only its identity tells. A survey's READ KEYS records the
    // identity; every command that changes the LU, and the reading again
    // of what was listed, must meet it.
    if (g_PrIdentMode != PR_IDENT_OFF && command != PR_CMD_READ_RESERVATION) {
        QelVRXPR_ReadLUIdent(h, PathID);
        if ((command != PR_CMD_READ_KEYS || g_PrIdentMode == PR_IDENT_MATCH) &&
            !QelVRXPR_ChkLUIdent(PathID))
            QelVRXPR_FailDrive(h, PathID);
    }

    PR_REQUEST req;
    QelVRXPR_BuildPRCmd(PathID, command, &req, data);

    DWORD returned = 0;
    int ok = QelVRXPR_RequestDevice(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &req, sizeof(req), &req,
                                    sizeof(req), &returned);
    DWORD err = QelVRXPR_GetLastErr();

    if (ok) {
        QelVRXPR_CloseDevice(h);
        return req.Sptd.ScsiStatus;
    }
    // Some port drivers report a reservation conflict as a failed request.
    if (err == (DWORD)ERROR_IO_DEVICE) {
        QelVRXPR_CloseDevice(h);
        return SCSI_STAT_RESERVATION_CONFLICT;
    }

    char name[LU_NAME_LEN];
    QelVRXPR_MakeLUName(PathID, name);
    QelVRXPR_FailPRCmd(command, req.Sptd.ScsiStatus, err, name);
}

[[noreturn]] void QelVRXPR_FailPRCmd(int command, uint8_t status, DWORD error, const char* luName)
{
    QelVRXPR_FailSCSICmd(g_PrCmdTable[command].OpCode, g_PrCmdTable[command].ServiceAction, status,
                         error, luName);
}

[[noreturn]] void QelVRXPR_FailSCSICmd(uint8_t opCode, uint8_t serviceAction, uint8_t status,
                                       DWORD error, const char* luName)
{
    QelVRXPR_PutMsg(MSG_SCSI_FAILED, (unsigned)opCode, (unsigned)(serviceAction & PR_SA_MASK),
                    (unsigned)status, (unsigned)error, luName);
    QelVRXPR_Exit(EXIT_FAILURE_IO);
}

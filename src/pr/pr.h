// Persistent reservation commands, the survey, the listing and the clear.
#ifndef VRXPR_PR_H
#define VRXPR_PR_H

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

#define PR_DATA_LEN 264
#define PR_RETRY_MAX 16
#define PR_OUT_PARAM_LEN 24
#define PR_SENSE_LEN 32
#define PR_TIMEOUT_SEC 2
// Windows fails a pass-through whose buffer misses the adapter's alignment
// mask; a page boundary meets every mask.
#define PR_DATA_ALIGN 4096

#define SCSI_STAT_GOOD 0x00
#define SCSI_STAT_CHECK_CONDITION 0x02
#define SCSI_STAT_RESERVATION_CONFLICT 0x18

enum {
    PR_CMD_READ_KEYS = 0,
    PR_CMD_READ_RESERVATION = 1,
    PR_CMD_REGISTER = 2,
    PR_CMD_CLEAR = 3,
    PR_CMD_REGISTER_IGNORE = 4,
    PR_CMD_COUNT = 5
};

struct PR_CMD {
    uint8_t OpCode;
    uint8_t ServiceAction;
};

extern const PR_CMD g_PrCmdTable[PR_CMD_COUNT];
extern const uint8_t g_RegistrantKey[8];

struct PR_REQUEST {
    SCSI_PASS_THROUGH_DIRECT Sptd;
    ULONG Filler;
    UCHAR SenseBuf[PR_SENSE_LEN];
};

struct alignas(PR_DATA_ALIGN) PR_DATA {
    uint8_t Bytes[PR_DATA_LEN];
};

#define PR_OP_INQUIRY 0x12
#define PR_PAGE_DEVICE_ID 0x83
// The first read of the device identification page: below 256 the
// allocation length is byte 4 alone, all an SPC-2 device server reads (it
// refuses a non-zero byte 3 or takes the length as 0); the highest multiple
// of 4 there, for adapters that move data in 4-byte units.
#define PR_IDENT_FIRST_ALLOC 252
// The longest page read, when the page says it is longer than the first read.
#define PR_IDENT_ALLOC 1024

struct alignas(PR_DATA_ALIGN) PR_IDENT_DATA {
    uint8_t Bytes[PR_IDENT_ALLOC];
};

// The logical-unit designators of one identification page, as sent; Len 0
// when the LU gave none.
struct PR_IDENT {
    uint32_t Len;
    uint8_t Bytes[PR_IDENT_ALLOC];
};

// Clear mode: before every READ KEYS and PERSISTENT RESERVE OUT the
// transport reads the LU's identity on the command's own handle. The
// survey keeps it with the entry; after the listing every such command
// must meet it.
enum { PR_IDENT_OFF, PR_IDENT_KEEP, PR_IDENT_MATCH };
extern int g_PrIdentMode;
// The identity read by the latest such command.
extern PR_IDENT g_PrLastIdent;

// Fills the request block and the data buffer for one command (everything
// the driver is handed), without sending it.
void QelVRXPR_BuildPRCmd(uint32_t PathID, int command, PR_REQUEST* pReq, uint8_t* data);
uint8_t QelVRXPR_IssuePRCmd(uint32_t PathID, int command, uint8_t* data);
// Message 14 for a command that failed on the named LU, then exit code 3.
[[noreturn]] void QelVRXPR_FailPRCmd(int command, uint8_t status, DWORD error, const char* luName);
[[noreturn]] void QelVRXPR_FailSCSICmd(uint8_t opCode, uint8_t serviceAction, uint8_t status,
                                       DWORD error, const char* luName);

// The request block of INQUIRY for the device identification page, alloc
// bytes (at most PR_IDENT_ALLOC) into data (PR_IDENT_ALLOC bytes).
void QelVRXPR_BuildIdentCmd(uint32_t PathID, uint16_t alloc, PR_REQUEST* pReq, uint8_t* data);
// Reads the LU's identity through the open drive into g_PrLastIdent: the
// page with PR_IDENT_FIRST_ALLOC bytes, then once more at its own length
// when it says it is longer. CHECK CONDITION is tried again on the same
// handle, 16 sends in all for both reads; after the last one the LU has the
// identity of the first read if it answered, else none. Any other failure
// ends the run (message 14).
void QelVRXPR_ReadLUIdent(HANDLE h, uint32_t PathID);
// The logical-unit designators of an identification page of which len
// bytes were returned, into *pIdent.
void QelVRXPR_ParseLUIdent(const uint8_t* page, size_t len, PR_IDENT* pIdent);
// Keeps g_PrLastIdent as the entry's identity.
void QelVRXPR_StoreLUIdent(uint32_t PathID);
// Non-zero when g_PrLastIdent is the entry's identity.
int QelVRXPR_ChkLUIdent(uint32_t PathID);

// Stores a READ KEYS answer into entry (count cut to PR_MAX_KEYS).
void QelVRXPR_StoreKeys(uint32_t PathID, uint32_t KeyCount, const uint8_t* data);
// Stores a READ RESERVATION answer into entry.
void QelVRXPR_StoreResv(uint32_t PathID, const uint8_t* data);
// Reads one LU's keys and reservation into its entry, by the survey's
// rules; every failure ends the run.
void QelVRXPR_ReadPRInfo(uint32_t PathID);
void QelVRXPR_GetPRInfo();

void QelVRXPR_ViewPRHeader();
void QelVRXPR_ViewPRList_OneLU(uint32_t PathID);
void QelVRXPR_ViewPRList();
void QelVRXPR_ChkPRExist();
[[noreturn]] void QelVRXPR_ExecDisplay();

void QelVRXPR_ClearPR(uint32_t PathID);
[[noreturn]] void QelVRXPR_ExecClear();

#endif

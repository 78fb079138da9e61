// The LU list and the reservation table kept for the whole run.
#ifndef VRXPR_RECORDS_H
#define VRXPR_RECORDS_H

#include <cstdint>

#define PR_MAX_KEYS 32
// "%04X.%04X.%016X.%04X" with its widths as the least: 31 characters for
// every Windows number, 51 at most for Linux's (32-bit host, channel and
// target, 64-bit LUN).
#define LU_NAME_LEN 52
#define VENDOR_PRODUCT_LEN 25   // vendor (8) + product (16) + zero

struct LU_INFO {
    LU_INFO* pPrev;
    LU_INFO* pNext;
    int32_t SeqNo;
    uint32_t PortNo;
    uint32_t PathId;
    uint32_t TargetId;
    uint64_t Lun;
    int32_t PhysDriveNo;
    char VendorProduct[VENDOR_PRODUCT_LEN];
};

struct PR_INFO {
    LU_INFO* pLuInfo;
    uint8_t ResvType : 4;
    uint8_t ResvKey[8];
    uint32_t KeyCount;
    uint8_t RegKey[PR_MAX_KEYS][8];
    // PRGENERATION of the READ KEYS answer the entry keeps: with the keys
    // and the reservation, what the operator was shown.
    uint32_t Generation;
    // The LU's device identification (its logical-unit designators, as
    // sent) from the READ KEYS the entry keeps; clear mode only. IdentLen 0:
    // the LU gave none.
    uint32_t IdentLen;
    uint8_t* pIdent;
};

extern LU_INFO* g_LuHead;
extern LU_INFO* g_LuTail;
extern PR_INFO* g_PrTable;
extern uint32_t g_PrCount;

// LU name of table entry PathID into an LU_NAME_LEN-character buffer. PathID must be
// a valid index whose pLuInfo is set.
void QelVRXPR_MakeLUName(uint32_t PathID, char* buffer);
// The same text straight from a node (before the table exists).
void QelVRXPR_MakeLUName_Node(const LU_INFO* pLuInfo, char* buffer);

// Releases the reservation table and every node of the list.
void QelVRXPR_FreeRecords();

#endif

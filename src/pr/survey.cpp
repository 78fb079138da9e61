#include "pr/pr.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "inventory/discovery.h"
#include "records/records.h"
#include "operator/msg.h"
#include "operator/operator.h"

#define PR_HEADER_LEN 8
#define PR_KEY_LEN 8
#define PR_RESV_TYPE_BYTE 21
#define PR_RESV_TYPE_MASK 0x0F

static_assert(PR_HEADER_LEN + PR_MAX_KEYS * PR_KEY_LEN == PR_DATA_LEN,
              "the data buffer holds exactly the header and the key list");
static_assert(PR_RESV_TYPE_BYTE < PR_DATA_LEN, "reservation descriptor fits");

// Static storage: some Windows compilers ignore over-alignment on the stack.
static PR_DATA s_KeysData;
static PR_DATA s_ResvData;

static uint32_t QelVRXPR_GetBE32(const uint8_t* p)
{
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | (uint32_t)p[3];
}

void QelVRXPR_StoreKeys(uint32_t PathID, uint32_t KeyCount, const uint8_t* data)
{
    PR_INFO* pEntry = &g_PrTable[PathID];
    // The LU may announce more keys than the buffer could carry.
    if (KeyCount > PR_MAX_KEYS) {
        KeyCount = PR_MAX_KEYS;
    }
    pEntry->KeyCount = KeyCount;
    pEntry->Generation = QelVRXPR_GetBE32(data);
    for (uint32_t k = 0; k < KeyCount; k++) {
        std::memcpy(pEntry->RegKey[k], data + PR_HEADER_LEN + PR_KEY_LEN * k, PR_KEY_LEN);
    }
    if (KeyCount == 0) {
        pEntry->ResvType = 0;
        std::memset(pEntry->ResvKey, 0, sizeof(pEntry->ResvKey));
    }
}

void QelVRXPR_StoreResv(uint32_t PathID, const uint8_t* data)
{
    PR_INFO* pEntry = &g_PrTable[PathID];
    pEntry->ResvType = data[PR_RESV_TYPE_BYTE] & PR_RESV_TYPE_MASK;
    std::memcpy(pEntry->ResvKey, data + PR_HEADER_LEN, sizeof(pEntry->ResvKey));
}

// READ KEYS; returns the number of keys the LU announced.
static uint32_t QelVRXPR_ReadKeys(uint32_t PathID, const char* name)
{
    for (int attempt = 0; attempt < PR_RETRY_MAX; attempt++) {
        uint8_t status = QelVRXPR_IssuePRCmd(PathID, PR_CMD_READ_KEYS, s_KeysData.Bytes);
        switch (status) {
        case SCSI_STAT_GOOD:
            if (g_PrIdentMode == PR_IDENT_KEEP) QelVRXPR_StoreLUIdent(PathID);
            return QelVRXPR_GetBE32(s_KeysData.Bytes + 4) / PR_KEY_LEN;
        case SCSI_STAT_CHECK_CONDITION:
            break;
        case SCSI_STAT_RESERVATION_CONFLICT:
            if (g_PrIdentMode == PR_IDENT_KEEP) QelVRXPR_StoreLUIdent(PathID);
            return 0;
        default:
            QelVRXPR_FailPRCmd(PR_CMD_READ_KEYS, status, 0, name);
        }
    }
    // An LU that never answered has no state we could list.
    QelVRXPR_FailPRCmd(PR_CMD_READ_KEYS, SCSI_STAT_CHECK_CONDITION, 0, name);
}

static void QelVRXPR_ReadResv(uint32_t PathID, const char* name)
{
    for (int attempt = 0; attempt < PR_RETRY_MAX; attempt++) {
        uint8_t status = QelVRXPR_IssuePRCmd(PathID, PR_CMD_READ_RESERVATION, s_ResvData.Bytes);
        if (status == SCSI_STAT_GOOD) {
            QelVRXPR_StoreResv(PathID, s_ResvData.Bytes);
            return;
        }
        if (status != SCSI_STAT_CHECK_CONDITION) {
            QelVRXPR_FailPRCmd(PR_CMD_READ_RESERVATION, status, 0, name);
        }
    }
    // What comes with CHECK CONDITION is no answer: some targets leave
    // stray bytes in the buffer that would read as a reservation.
    QelVRXPR_FailPRCmd(PR_CMD_READ_RESERVATION, SCSI_STAT_CHECK_CONDITION, 0, name);
}

void QelVRXPR_ReadPRInfo(uint32_t PathID)
{
    char name[LU_NAME_LEN];
    QelVRXPR_MakeLUName(PathID, name);

    uint32_t keyCount = QelVRXPR_ReadKeys(PathID, name);
    QelVRXPR_StoreKeys(PathID, keyCount, s_KeysData.Bytes);
    if (g_PrTable[PathID].KeyCount != 0) {
        QelVRXPR_ReadResv(PathID, name);
    }
}

void QelVRXPR_GetPRInfo()
{
    QelVRXPR_GetLUList();

    g_PrCount = 0;
    for (const LU_INFO* p = g_LuHead; p != nullptr; p = p->pNext) {
        g_PrCount++;
    }
    if (g_PrCount == 0) {
        QelVRXPR_PutMsg(MSG_NO_LU);
        QelVRXPR_Exit(EXIT_DONE);
    }

    if ((size_t)g_PrCount > SIZE_MAX / sizeof(PR_INFO)) {
        QelVRXPR_PutMsg(MSG_NO_MEMORY);
        QelVRXPR_Exit(EXIT_FAILURE_IO);
    }
    // Cleared, so that the exit routine can free the identities of a table
    // the survey did not finish.
    g_PrTable = (PR_INFO*)std::calloc((size_t)g_PrCount, sizeof(PR_INFO));
    if (g_PrTable == nullptr) {
        QelVRXPR_PutMsg(MSG_NO_MEMORY);
        QelVRXPR_Exit(EXIT_FAILURE_IO);
    }

    LU_INFO* pNode = g_LuHead;
    for (uint32_t i = 0; i < g_PrCount; i++, pNode = pNode->pNext) {
        g_PrTable[i].pLuInfo = pNode;
        QelVRXPR_ReadPRInfo(i);
    }
}

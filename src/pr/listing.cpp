#include "pr/pr.h"

#include <cstdint>
#include <cstdio>

#include "guard/guard.h"
#include "records/records.h"
#include "operator/msg.h"
#include "operator/operator.h"

#define PR_TYPE_NONE 16
#define PR_KEY_TEXT_LEN 17
#define PR_ROW_LEN 160

static const char* const s_ResvTypeName[PR_TYPE_NONE + 1] = {
    "Undefined(0x00)",
    "WriteExclusive",
    "Undefined(0x02)",
    "ExclusiveAccess",
    "Undefined(0x04)",
    "WriteExclusiveRegistrantOnly",
    "ExclusiveAccessRegistrantOnly",
    "Undefined(0x07)",
    "Undefined(0x08)",
    "Undefined(0x09)",
    "Undefined(0x0A)",
    "Undefined(0x0B)",
    "Undefined(0x0C)",
    "Undefined(0x0D)",
    "Undefined(0x0E)",
    "Undefined(0x0F)",
    "None",
};

void QelVRXPR_ViewPRHeader()
{
    QelVRXPR_WriteOut("PathID PathName                        KeyCount ReservedKey      Type\n");
}

void QelVRXPR_ViewPRList_OneLU(uint32_t PathID)
{
    if (PathID >= g_PrCount) {
        QelVRXPR_PutMsg(MSG_INTERNAL_ERROR, "QelVRXPR_ViewPRList_OneLU()001");
        QelVRXPR_Exit(EXIT_INTERNAL);
    }
    const PR_INFO* pEntry = &g_PrTable[PathID];

    // The device sends the key most significant byte first.
    uint64_t key = 0;
    for (int i = 0; i < 8; i++) {
        key = (key << 8) | pEntry->ResvKey[i];
    }
    char keyText[PR_KEY_TEXT_LEN] = "----------------";
    unsigned typeIndex = PR_TYPE_NONE;
    // A zero key means nobody holds the LU, whatever the type byte says.
    if (key != 0) {
        std::snprintf(keyText, sizeof(keyText), "%016llX", (unsigned long long)key);
        typeIndex = pEntry->ResvType;
    }

    char name[LU_NAME_LEN];
    QelVRXPR_MakeLUName(PathID, name);

    char row[PR_ROW_LEN];
    std::snprintf(row, sizeof(row), "%06d %s %5d    %s %s\n", (int)PathID, name,
                  (int)pEntry->KeyCount, keyText, s_ResvTypeName[typeIndex]);
    QelVRXPR_WriteOut(row);
}

void QelVRXPR_ViewPRList()
{
    QelVRXPR_ViewPRHeader();
    for (uint32_t p = 0; p < g_PrCount; p++) {
        QelVRXPR_ViewPRList_OneLU(p);
    }
}

void QelVRXPR_ChkPRExist()
{
    for (uint32_t p = 0; p < g_PrCount; p++) {
        if (g_PrTable[p].KeyCount != 0) {
            return;
        }
    }
    QelVRXPR_PutMsg(MSG_NO_PR_LU);
    QelVRXPR_Exit(EXIT_DONE);
}

[[noreturn]] void QelVRXPR_ExecDisplay()
{
    QelVRXPR_ChkNotInstalled();
    QelVRXPR_GetPRInfo();
    QelVRXPR_ViewPRList();
    QelVRXPR_PutMsg(MSG_COMPLETED);
    QelVRXPR_Exit(EXIT_DONE);
}

#include "records/records.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

LU_INFO* g_LuHead = nullptr;
LU_INFO* g_LuTail = nullptr;
PR_INFO* g_PrTable = nullptr;
uint32_t g_PrCount = 0;

void QelVRXPR_MakeLUName_Node(const LU_INFO* pLuInfo, char* buffer)
{
    // Numbers wider than a field are printed whole, never cut: a name that
    // names another LU would be worse than a longer one.
    std::snprintf(buffer, LU_NAME_LEN, "%04X.%04X.%016X.%04" PRIX64, (unsigned)pLuInfo->PortNo,
                  (unsigned)pLuInfo->PathId, (unsigned)pLuInfo->TargetId, pLuInfo->Lun);
}

void QelVRXPR_MakeLUName(uint32_t PathID, char* buffer)
{
    QelVRXPR_MakeLUName_Node(g_PrTable[PathID].pLuInfo, buffer);
}

void QelVRXPR_FreeRecords()
{
    for (uint32_t i = 0; g_PrTable != nullptr && i < g_PrCount; i++) std::free(g_PrTable[i].pIdent);
    std::free(g_PrTable);
    g_PrTable = nullptr;
    g_PrCount = 0;
    LU_INFO* p = g_LuHead;
    while (p != nullptr) {
        LU_INFO* next = p->pNext;
        std::free(p);
        p = next;
    }
    g_LuHead = nullptr;
    g_LuTail = nullptr;
}

// The LU's identity: the logical-unit designators of its device
// identification page. Designators of the target port differ from path to
// path and say nothing about which LU answers, so they do not count.
#include "pr/pr.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "records/records.h"
#include "operator/msg.h"
#include "operator/operator.h"

#define PR_PAGE_HEAD_LEN 4
#define PR_DESIG_HEAD_LEN 4
#define PR_ASSOC_SHIFT 4
#define PR_ASSOC_MASK 0x03
#define PR_ASSOC_LU 0x00

int g_PrIdentMode = PR_IDENT_OFF;
PR_IDENT g_PrLastIdent;

// Static storage: some Windows compilers ignore over-alignment on the stack.
static PR_IDENT_DATA s_IdentData;

// The whole page as its header gives it; 0 when fewer than its header's
// bytes came in or it is another page.
static size_t QelVRXPR_IdentPageLen(const uint8_t* page, size_t len)
{
    if (len < PR_PAGE_HEAD_LEN || page[1] != PR_PAGE_DEVICE_ID) return 0;
    return PR_PAGE_HEAD_LEN + (((size_t)page[2] << 8) | page[3]);
}

void QelVRXPR_ParseLUIdent(const uint8_t* page, size_t len, PR_IDENT* pIdent)
{
    pIdent->Len = 0;
    size_t end = QelVRXPR_IdentPageLen(page, len);
    if (end == 0) return;
    if (end > len) end = len;
    if (end > sizeof pIdent->Bytes) end = sizeof pIdent->Bytes;
    // A designator cut short by the allocation length is left out, the
    // same way at every read.
    for (size_t at = PR_PAGE_HEAD_LEN; end - at >= PR_DESIG_HEAD_LEN;) {
        size_t size = PR_DESIG_HEAD_LEN + page[at + 3];
        if (size > end - at) break;
        if (((page[at + 1] >> PR_ASSOC_SHIFT) & PR_ASSOC_MASK) == PR_ASSOC_LU) {
            std::memcpy(pIdent->Bytes + pIdent->Len, page + at, size);
            pIdent->Len += (uint32_t)size;
        }
        at += size;
    }
}

// One INQUIRY for the page: true with *pGot the bytes that came in when the
// LU answered GOOD, false on CHECK CONDITION; anything else ends the run.
static bool QelVRXPR_InquireIdent(HANDLE h, uint32_t PathID, size_t alloc, size_t* pGot)
{
    PR_REQUEST req;
    QelVRXPR_BuildIdentCmd(PathID, (uint16_t)alloc, &req, s_IdentData.Bytes);
    DWORD returned = 0;
    int ok = QelVRXPR_RequestDevice(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &req, sizeof(req), &req,
                                    sizeof(req), &returned);
    DWORD err = QelVRXPR_GetLastErr();
    uint8_t status = req.Sptd.ScsiStatus;
    if (ok && status == SCSI_STAT_GOOD) {
        // The driver leaves the count of bytes that came in.
        size_t got = req.Sptd.DataTransferLength;
        *pGot = got < alloc ? got : alloc;
        return true;
    }
    if (ok && status == SCSI_STAT_CHECK_CONDITION) return false;
    char name[LU_NAME_LEN];
    QelVRXPR_MakeLUName(PathID, name);
    QelVRXPR_FailSCSICmd(PR_OP_INQUIRY, 0, status, ok ? 0 : err, name);
}

void QelVRXPR_ReadLUIdent(HANDLE h, uint32_t PathID)
{
    // An LU without identification pages answers every such INQUIRY with
    // CHECK CONDITION: no identity.
    g_PrLastIdent.Len = 0;
    size_t alloc = PR_IDENT_FIRST_ALLOC;
    for (int attempt = 0; attempt < PR_RETRY_MAX; attempt++) {
        size_t got;
        if (!QelVRXPR_InquireIdent(h, PathID, alloc, &got)) continue;
        QelVRXPR_ParseLUIdent(s_IdentData.Bytes, got, &g_PrLastIdent);
        size_t whole = QelVRXPR_IdentPageLen(s_IdentData.Bytes, got);
        if (alloc > PR_IDENT_FIRST_ALLOC || whole <= PR_IDENT_FIRST_ALLOC) return;
        // The longer read is what CHECK CONDITION repeats now. If it never
        // answers (an SPC-2 device server refuses a non-zero byte 3), the
        // first read's identity stands, the same at every read.
        alloc = whole < PR_IDENT_ALLOC ? whole : PR_IDENT_ALLOC;
    }
}

void QelVRXPR_StoreLUIdent(uint32_t PathID)
{
    PR_INFO* pEntry = &g_PrTable[PathID];
    std::free(pEntry->pIdent);
    pEntry->pIdent = nullptr;
    pEntry->IdentLen = 0;
    if (g_PrLastIdent.Len == 0) return;
    pEntry->pIdent = static_cast<uint8_t*>(std::malloc(g_PrLastIdent.Len));
    if (pEntry->pIdent == nullptr) {
        QelVRXPR_PutMsg(MSG_NO_MEMORY);
        QelVRXPR_Exit(EXIT_FAILURE_IO);
    }
    std::memcpy(pEntry->pIdent, g_PrLastIdent.Bytes, g_PrLastIdent.Len);
    pEntry->IdentLen = g_PrLastIdent.Len;
}

int QelVRXPR_ChkLUIdent(uint32_t PathID)
{
    const PR_INFO* pEntry = &g_PrTable[PathID];
    return pEntry->IdentLen == g_PrLastIdent.Len &&
           (g_PrLastIdent.Len == 0 ||
            std::memcmp(pEntry->pIdent, g_PrLastIdent.Bytes, g_PrLastIdent.Len) == 0);
}

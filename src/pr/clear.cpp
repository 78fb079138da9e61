#include "pr/pr.h"

#include <cstdint>
#include <cstring>

#include "guard/guard.h"
#include "records/records.h"
#include "operator/msg.h"
#include "operator/operator.h"

static PR_DATA s_ClearData;

void QelVRXPR_ClearPR(uint32_t PathID)
{
    if (PathID >= g_PrCount) {
        QelVRXPR_PutMsg(MSG_INTERNAL_ERROR, "QelVRXPR_ClearPR()001");
        QelVRXPR_Exit(EXIT_INTERNAL);
    }

    int command = PR_CMD_REGISTER;
    int attemptsLeft = PR_RETRY_MAX;
    uint8_t status;
    for (;;) {
        status = QelVRXPR_IssuePRCmd(PathID, command, s_ClearData.Bytes);
        attemptsLeft--;
        if (status == SCSI_STAT_GOOD) {
            if (command == PR_CMD_CLEAR) {
                QelVRXPR_PutMsg(MSG_CLEARED, (unsigned long)PathID);
                return;
            }
            command = PR_CMD_CLEAR;
            attemptsLeft = PR_RETRY_MAX;
        } else if (status == SCSI_STAT_CHECK_CONDITION) {
            if (attemptsLeft == 0) {
                break;
            }
        } else if (status == SCSI_STAT_RESERVATION_CONFLICT && command == PR_CMD_REGISTER) {
            // This host is registered under a key we do not know: take it over.
            command = PR_CMD_REGISTER_IGNORE;
            attemptsLeft = PR_RETRY_MAX;
        } else {
            break;
        }
    }

    // Nothing undoes a registration that succeeded before the failure.
    char name[LU_NAME_LEN];
    QelVRXPR_MakeLUName(PathID, name);
    QelVRXPR_FailPRCmd(command, status, 0, name);
}

// Minutes can pass between the listing and the last answer, and a node
// that comes back meanwhile registers and reserves again: CLEAR would take
// a live node's reservation. So the LU is read again and the clear goes on
// only while it is as the operator saw it.
static void QelVRXPR_ChkPRUnchanged(uint32_t PathID)
{
    const PR_INFO listed = g_PrTable[PathID];
    QelVRXPR_ReadPRInfo(PathID);
    const PR_INFO& now = g_PrTable[PathID];
    if (now.Generation == listed.Generation && now.KeyCount == listed.KeyCount &&
        std::memcmp(now.RegKey, listed.RegKey, sizeof(now.RegKey[0]) * now.KeyCount) == 0 &&
        std::memcmp(now.ResvKey, listed.ResvKey, sizeof(now.ResvKey)) == 0 &&
        now.ResvType == listed.ResvType)
        return;
    QelVRXPR_PutMsg(MSG_PR_CHANGED, (unsigned long)PathID);
    QelVRXPR_Exit(EXIT_FAILURE_IO);
}

[[noreturn]] void QelVRXPR_ExecClear()
{
    QelVRXPR_ChkNotInstalled();
    g_PrIdentMode = PR_IDENT_KEEP;
    QelVRXPR_GetPRInfo();
    g_PrIdentMode = PR_IDENT_MATCH;
    QelVRXPR_ViewPRList();
    QelVRXPR_ChkPRExist();

    QelVRXPR_PutMsg(MSG_ASK_PATHID);
    uint32_t p = QelVRXPR_InputPathID();
    if (g_PrTable[p].KeyCount == 0) {
        QelVRXPR_PutMsg(MSG_NO_PR_ON_LU, (unsigned long)p);
        QelVRXPR_Exit(EXIT_DONE);
    }

    QelVRXPR_PutMsg(MSG_CONFIRM_1, (unsigned long)p);
    QelVRXPR_InputYesNo();
    QelVRXPR_PutMsg(MSG_CONFIRM_2);
    QelVRXPR_InputYesNo();

    QelVRXPR_ChkPRUnchanged(p);
    QelVRXPR_ClearPR(p);
    QelVRXPR_PutMsg(MSG_COMPLETED);
    QelVRXPR_Exit(EXIT_DONE);
}

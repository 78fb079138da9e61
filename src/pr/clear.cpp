#include "pr/pr.h"

#include <cstdint>

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

[[noreturn]] void QelVRXPR_ExecClear()
{
    QelVRXPR_ChkNotInstalled();
    g_PrCheckIdent = true;
    QelVRXPR_GetPRInfo();
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

    QelVRXPR_ClearPR(p);
    QelVRXPR_PutMsg(MSG_COMPLETED);
    QelVRXPR_Exit(EXIT_DONE);
}

#include <cstdlib>
#include <cstring>

#include "records/records.h"
#include "operator/msg.h"
#include "operator/operator.h"
#include "platform/platform.h"

namespace {

#define INPUT_LEN 1024
#define INPUT_TRIES 3
#define PATHID_MAX_DIGITS 9

// One attempt's answer, without its line feed. End of input gives an empty
// answer: it is judged as invalid rather than leaving an unread buffer.
size_t ReadAnswer(char* buf)
{
    QelVRXPR_ChkOutput();
    if (QelVRXPR_ReadLine(buf, INPUT_LEN) == nullptr) {
        buf[0] = '\0';
        return 0;
    }
    size_t len = std::strlen(buf);
    if (len > 0 && buf[len - 1] == '\n') buf[--len] = '\0';
    return len;
}

}  // namespace

void QelVRXPR_InputYesNo()
{
    char buf[INPUT_LEN];
    for (int attempt = 1;; ++attempt) {
        ReadAnswer(buf);
        if (QelVRXPR_EqualNoCase(buf, "y")) return;
        if (QelVRXPR_EqualNoCase(buf, "n")) {
            QelVRXPR_PutMsg(MSG_USER_CANCEL);
            QelVRXPR_Exit(EXIT_CANCELLED);
        }
        if (attempt == INPUT_TRIES) {
            QelVRXPR_PutMsg(MSG_INPUT_STOP);
            QelVRXPR_Exit(EXIT_FAILURE_IO);
        }
        QelVRXPR_PutMsg(MSG_REENTER_YN);
    }
}

uint32_t QelVRXPR_InputPathID()
{
    char buf[INPUT_LEN];
    for (int attempt = 1;; ++attempt) {
        size_t len = ReadAnswer(buf);
        if (len >= 1 && len <= PATHID_MAX_DIGITS) {
            if (QelVRXPR_EqualNoCase(buf, "x")) {
                QelVRXPR_PutMsg(MSG_USER_CANCEL);
                QelVRXPR_Exit(EXIT_CANCELLED);
            }
            if (std::strspn(buf, "0123456789") >= len) {
                // Nine digits at most: the value stays below 10^9.
                unsigned long value = std::strtoul(buf, nullptr, 10);
                if (value < g_PrCount) return (uint32_t)value;
            }
        }
        if (attempt == INPUT_TRIES) {
            QelVRXPR_PutMsg(MSG_INPUT_STOP);
            QelVRXPR_Exit(EXIT_FAILURE_IO);
        }
        QelVRXPR_PutMsg(MSG_REENTER_PATHID);
    }
}

// The two-language message catalogue and the routine that prints from it.
#ifndef VRXPR_MSG_H
#define VRXPR_MSG_H

#define MSG_COUNT 25
#define LANG_NAME_LEN 64
#define MSG_BUF_LEN 1024

enum {
    MSG_COMPLETED = 0,
    MSG_PARAM_CONFLICT = 1,
    MSG_PARAM_ALONE = 2,
    MSG_PARAM_INVALID = 3,
    MSG_INTERNAL_ERROR = 4,
    MSG_USER_CANCEL = 5,
    MSG_REENTER_YN = 6,
    MSG_INPUT_STOP = 7,
    MSG_ASK_PATHID = 8,
    MSG_CONFIRM_1 = 9,
    MSG_CONFIRM_2 = 10,
    MSG_CLEARED = 11,
    MSG_NO_PR_LU = 12,
    MSG_NO_LU = 13,
    MSG_SCSI_FAILED = 14,
    MSG_NO_MEMORY = 15,
    MSG_REENTER_PATHID = 16,
    MSG_INQUIRY_FAILED = 17,
    MSG_OPEN_FAILED = 18,
    MSG_NO_PR_ON_LU = 19,
    MSG_NO_DRIVE = 20,
    MSG_INSTALLED = 21,
    MSG_HELP = 22,
    MSG_DESCRIPTION = 23,
    MSG_PR_CHANGED = 24
};

// Language index 0 is Japanese (code page 932 bytes), 1 English.
extern const char* const g_MsgText[2][MSG_COUNT];
extern const char* const g_LangNameTable[];

void QelVRXPR_PutMsg(int id, ...);
// ASCII case-insensitive comparison of two whole texts.
bool QelVRXPR_EqualNoCase(const char* a, const char* b);
const char* QelVRXPR_GetLangName();

#endif

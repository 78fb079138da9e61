#include <cstring>

#include "guard/guard.h"
#include "operator/msg.h"
#include "operator/operator.h"

namespace {

#define REG_PATH_LEN 1024
#define REG_VALUE_BUF_LEN 4

struct ROOT_KEY_DEF {
    const char* Name;
    HKEY Key;
};

const ROOT_KEY_DEF g_RootKeyTable[] = {
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
    {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", HKEY_USERS},
};

const char* const g_VorxProbePath[2] = {
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORXdsm\\",
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\vrxfdrv\\",
};

const char* const g_VorxProbeErrCode[2] = {
    "QelVRXPR_ChkVORXReg()001",
    "QelVRXPR_ChkVORXReg()002",
};

}  // namespace

int QelVRXPR_SplitRegPath(const char* path, HKEY* pRoot, char* subkey, char* valueName)
{
    char copy[REG_PATH_LEN];
    std::strncpy(copy, path, sizeof copy - 1);
    copy[sizeof copy - 1] = '\0';

    char* sep = std::strchr(copy, '\\');
    if (sep == nullptr) return 1;
    *sep = '\0';

    const ROOT_KEY_DEF* root = nullptr;
    for (const ROOT_KEY_DEF& def : g_RootKeyTable) {
        if (QelVRXPR_EqualNoCase(copy, def.Name)) {
            root = &def;
            break;
        }
    }
    if (root == nullptr) return 1;

    std::strcpy(subkey, sep + 1);
    char* last = std::strrchr(subkey, '\\');
    if (last == nullptr) return 1;
    *last = '\0';
    std::strcpy(valueName, last + 1);
    *pRoot = root->Key;
    return 0;
}

int QelVRXPR_ReadReg(const char* path, DWORD* pType, BYTE* data, DWORD* pSize, LONG* pError)
{
    HKEY root;
    char subkey[REG_PATH_LEN];
    char valueName[REG_PATH_LEN];
    if (QelVRXPR_SplitRegPath(path, &root, subkey, valueName) != 0) return REG_BAD_PATH;

    HKEY key;
    LONG status = QelVRXPR_OpenRegKey(root, subkey, &key);
    if (pError != nullptr) *pError = status;
    if (status == ERROR_FILE_NOT_FOUND) return REG_NO_KEY;
    if (status != ERROR_SUCCESS) return REG_OPEN_FAILED;

    status = QelVRXPR_QueryRegValue(key, valueName, pType, data, pSize);
    if (pError != nullptr) *pError = status;
    QelVRXPR_CloseRegKey(key);
    if (status == ERROR_SUCCESS) return REG_OK;
    if (status == ERROR_FILE_NOT_FOUND) return REG_NO_VALUE;
    return REG_QUERY_FAILED;
}

int QelVRXPR_ChkVORXReg()
{
    for (int probe = 0; probe < 2; ++probe) {
        DWORD type = 0;
        BYTE data[REG_VALUE_BUF_LEN];
        DWORD size = sizeof data;
        LONG error = 0;
        switch (QelVRXPR_ReadReg(g_VorxProbePath[probe], &type, data, &size, &error)) {
        case REG_OK:
        case REG_NO_VALUE:
        case REG_QUERY_FAILED:
            // The service key exists; its value does not matter.
            return 0;
        case REG_NO_KEY:
            break;
        default:
            QelVRXPR_PutMsg(MSG_INTERNAL_ERROR, g_VorxProbeErrCode[probe]);
            QelVRXPR_Exit(EXIT_INTERNAL);
        }
    }
    return 1;
}

void QelVRXPR_ChkNotInstalled()
{
    if (QelVRXPR_ChkVORXReg() == 0) {
        QelVRXPR_PutMsg(MSG_INSTALLED);
        QelVRXPR_Exit(EXIT_USAGE);
    }
}

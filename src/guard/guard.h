// Refuses to run while VORX is installed.
#ifndef VRXPR_GUARD_H
#define VRXPR_GUARD_H

#include "platform/platform.h"

enum {
    REG_OK = 0,          // value read
    REG_BAD_PATH = 1,    // the path cannot be split
    REG_NO_KEY = 2,      // the key does not exist
    REG_NO_VALUE = 3,    // the key exists, the value does not
    REG_OPEN_FAILED = 4, // opening the key failed otherwise
    REG_QUERY_FAILED = 5 // the key exists, the query failed otherwise
};

void QelVRXPR_ChkNotInstalled();
int QelVRXPR_ChkVORXReg();
int QelVRXPR_ReadReg(const char* path, DWORD* pType, BYTE* data, DWORD* pSize, LONG* pError);
// root receives the predefined key; subkey and valueName need 1024 bytes each.
int QelVRXPR_SplitRegPath(const char* path, HKEY* pRoot, char* subkey, char* valueName);

#endif

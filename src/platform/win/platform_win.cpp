// The platform operations on Windows: kernel32 and advapi32. Standard input
// and output are in console_win.cpp.
#include "platform/platform.h"

#include <climits>

const char g_PfPortNameFmt[] = "\\\\.\\Scsi%u:";
const char g_PfDriveNameFmt[] = "\\\\.\\PhysicalDrive%d";
const char g_PfDriveNameFmtLong[] = "\\\\.\\PhysicalDrive%lu";

void QelVRXPR_StartPlatform()
{
}

void QelVRXPR_EndPlatform()
{
}

// Every port driver links \DosDevices\Scsi%d: with the lowest free number,
// and SCSI_ADDRESS.PortNumber is one byte: each name is tried.
int QelVRXPR_GetNextPort(unsigned* pPort)
{
    return *pPort < 256;
}

HANDLE QelVRXPR_OpenDevice(const char* name)
{
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       NULL, OPEN_EXISTING, 0, NULL);
}

int QelVRXPR_RequestDevice(HANDLE h, DWORD code, void* in, DWORD inSize, void* out,
                           DWORD outSize, DWORD* pReturned)
{
    // Without an OVERLAPPED the byte count must point somewhere.
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(h, code, in, inSize, out, outSize, &returned, NULL);
    if (pReturned != nullptr) {
        *pReturned = returned;
    }
    return ok ? 1 : 0;
}

void QelVRXPR_CloseDevice(HANDLE h)
{
    CloseHandle(h);
}

DWORD QelVRXPR_GetLastErr()
{
    return GetLastError();
}

LONG QelVRXPR_OpenRegKey(HKEY root, const char* subkey, HKEY* pKey)
{
    return RegOpenKeyExA(root, subkey, 0, KEY_READ, pKey);
}

LONG QelVRXPR_QueryRegValue(HKEY key, const char* name, DWORD* pType, BYTE* data, DWORD* pSize)
{
    return RegQueryValueExA(key, name, NULL, pType, data, pSize);
}

void QelVRXPR_CloseRegKey(HKEY key)
{
    RegCloseKey(key);
}

int QelVRXPR_GetSysLangName(char* buf, size_t size)
{
    if (buf == nullptr || size == 0) {
        return 0;
    }
    int room = size > (size_t)INT_MAX ? INT_MAX : (int)size;
    if (GetLocaleInfoA(GetUserDefaultLCID(), LOCALE_SENGLANGUAGE, buf, room) <= 0) {
        buf[0] = '\0';
        return 0;
    }
    return 1;
}

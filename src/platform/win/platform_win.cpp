// The platform operations on Windows: kernel32 and advapi32, and the C
// runtime's standard streams in text mode.
#include "platform/platform.h"

#include <climits>
#include <cstdio>
#include <io.h>

const char g_PfPortNameFmt[] = "\\\\.\\Scsi%1x:";
const char g_PfDriveNameFmt[] = "\\\\.\\PhysicalDrive%d";
const char g_PfDriveNameFmtLong[] = "\\\\.\\PhysicalDrive%lu";

void QelVRXPR_StartPlatform()
{
}

void QelVRXPR_EndPlatform()
{
}

// "\\.\Scsi%1x:" names a port with one hexadecimal digit.
int QelVRXPR_GetNextPort(unsigned* pPort)
{
    return *pPort < 16;
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

// The console shows the catalogue's code page 932 bytes as they are.
const char* QelVRXPR_LocalText(const char* text)
{
    return text;
}

void QelVRXPR_WriteOut(const char* text)
{
    // Text mode turns "\n" into "\r\n"; code page 932 bytes pass unchanged.
    std::fputs(text, stdout);
    if (_isatty(_fileno(stdout))) {
        std::fflush(stdout);
    }
}

char* QelVRXPR_ReadLine(char* buf, int size)
{
    // Text mode already drops the carriage return before the line feed.
    return std::fgets(buf, size, stdin);
}

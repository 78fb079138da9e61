// Linux has no registry. A service key under
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services stands for a kernel
// module of the service's name: the key exists (with no default value) when
// that module is loaded or installed for the running kernel. Nothing else
// exists.
#include "platform/linux/pf_linux.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/utsname.h>

struct VRX_HKEY_ {
    int Used;
};

namespace {

#define PF_SERVICES_KEY "SYSTEM\\CurrentControlSet\\Services\\"
#define PF_ERROR_INVALID_HANDLE 6L
#define PF_KEY_SLOTS 4

VRX_HKEY_ g_PfKeys[PF_KEY_SLOTS];

enum { PF_MOD_ABSENT = 0, PF_MOD_PRESENT = 1, PF_MOD_ERROR = 2 };

// Module names compare as the kernel compares them: '-' and '_' alike; the
// registry's names compare without regard to letter case.
bool QelVRXPR_EqualModName(const char* a, size_t aLen, const char* b, size_t bLen)
{
    if (aLen != bLen) return false;
    for (size_t i = 0; i < aLen; ++i) {
        char ca = a[i] == '-' ? '_' : a[i];
        char cb = b[i] == '-' ? '_' : b[i];
        if (ca >= 'A' && ca <= 'Z') ca = (char)(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z') cb = (char)(cb - 'A' + 'a');
        if (ca != cb) return false;
    }
    return true;
}

bool QelVRXPR_StartsNoCase(const char* text, const char* prefix)
{
    for (; *prefix != '\0'; ++text, ++prefix) {
        char a = *text, b = *prefix;
        if (a >= 'A' && a <= 'Z') a = (char)(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = (char)(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

LONG QelVRXPR_CheckFailure(int err)
{
    DWORD code = QelVRXPR_MapErrno(err);
    // Never "not found": the caller would take it for "not installed".
    if (code == 0 || code == (DWORD)ERROR_FILE_NOT_FOUND) return PF_ERROR_GEN_FAILURE;
    return (LONG)code;
}

int QelVRXPR_ChkModLoaded(const char* name, LONG* pErr)
{
    char buf[PF_PATH_LEN];
    const char* path = QelVRXPR_MakeRootPath("/sys/module", buf);
    DIR* dir = path != nullptr ? opendir(path) : nullptr;
    if (dir == nullptr) {
        if (errno == ENOENT) return PF_MOD_ABSENT;
        *pErr = QelVRXPR_CheckFailure(errno);
        return PF_MOD_ERROR;
    }
    int found = PF_MOD_ABSENT;
    size_t nameLen = std::strlen(name);
    while (dirent* e = readdir(dir)) {
        if (QelVRXPR_EqualModName(e->d_name, std::strlen(e->d_name), name, nameLen)) {
            found = PF_MOD_PRESENT;
            break;
        }
    }
    closedir(dir);
    return found;
}

// The module a modules.dep line is about: the file name before the colon,
// without its .ko and compression suffix.
bool QelVRXPR_DepLineNames(const char* line, size_t lineLen, const char* name, size_t nameLen)
{
    const char* colon = static_cast<const char*>(std::memchr(line, ':', lineLen));
    if (colon == nullptr) return false;
    const char* start = line;
    for (const char* p = line; p < colon; ++p)
        if (*p == '/') start = p + 1;
    static const char* const suffixes[] = {".ko.xz", ".ko.zst", ".ko.gz", ".ko"};
    size_t len = (size_t)(colon - start);
    for (const char* suffix : suffixes) {
        size_t sLen = std::strlen(suffix);
        if (len > sLen && std::memcmp(start + len - sLen, suffix, sLen) == 0)
            return QelVRXPR_EqualModName(start, len - sLen, name, nameLen);
    }
    return false;
}

int QelVRXPR_ChkModInstalled(const char* name, LONG* pErr)
{
    utsname u;
    if (uname(&u) != 0) {
        *pErr = QelVRXPR_CheckFailure(errno);
        return PF_MOD_ERROR;
    }
    char dep[PF_PATH_LEN];
    char buf[PF_PATH_LEN];
    const char* path = nullptr;
    int len = std::snprintf(dep, sizeof dep, "/lib/modules/%s/modules.dep", u.release);
    if (len < 0 || len >= (int)sizeof dep)
        errno = ENAMETOOLONG;
    else
        path = QelVRXPR_MakeRootPath(dep, buf);
    FILE* f = path != nullptr ? std::fopen(path, "re") : nullptr;
    if (f == nullptr) {
        // No module tree for this kernel: nothing is installed for it.
        if (errno == ENOENT || errno == ENOTDIR) return PF_MOD_ABSENT;
        *pErr = QelVRXPR_CheckFailure(errno);
        return PF_MOD_ERROR;
    }
    int found = PF_MOD_ABSENT;
    size_t nameLen = std::strlen(name);
    char* line = nullptr;
    size_t cap = 0;
    ssize_t n;
    errno = 0;
    while ((n = getline(&line, &cap, f)) >= 0) {
        if (QelVRXPR_DepLineNames(line, (size_t)n, name, nameLen)) {
            found = PF_MOD_PRESENT;
            break;
        }
    }
    if (found == PF_MOD_ABSENT && std::ferror(f)) {
        *pErr = QelVRXPR_CheckFailure(errno);
        found = PF_MOD_ERROR;
    }
    std::free(line);
    std::fclose(f);
    return found;
}

}  // namespace

LONG QelVRXPR_OpenRegKey(HKEY root, const char* subkey, HKEY* pKey)
{
    if (root != HKEY_LOCAL_MACHINE || subkey == nullptr ||
        !QelVRXPR_StartsNoCase(subkey, PF_SERVICES_KEY))
        return ERROR_FILE_NOT_FOUND;
    const char* name = subkey + sizeof(PF_SERVICES_KEY) - 1;
    if (name[0] == '\0' || std::strchr(name, '\\') != nullptr) return ERROR_FILE_NOT_FOUND;

    LONG err = 0;
    int state = QelVRXPR_ChkModLoaded(name, &err);
    if (state == PF_MOD_ABSENT) state = QelVRXPR_ChkModInstalled(name, &err);
    if (state == PF_MOD_ERROR) return err;
    if (state == PF_MOD_ABSENT) return ERROR_FILE_NOT_FOUND;

    for (VRX_HKEY_& k : g_PfKeys) {
        if (!k.Used) {
            k.Used = 1;
            *pKey = &k;
            return ERROR_SUCCESS;
        }
    }
    return PF_ERROR_TOO_MANY_OPEN_FILES;
}

LONG QelVRXPR_QueryRegValue(HKEY key, const char*, DWORD*, BYTE*, DWORD*)
{
    for (VRX_HKEY_& k : g_PfKeys)
        if (key == &k && k.Used) return ERROR_FILE_NOT_FOUND;  // a module has no value
    return PF_ERROR_INVALID_HANDLE;
}

void QelVRXPR_CloseRegKey(HKEY key)
{
    for (VRX_HKEY_& k : g_PfKeys)
        if (key == &k) k.Used = 0;
}

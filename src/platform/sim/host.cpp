// The host side of the simulated storage: the state file's life over a
// run, the registry, the user's language and the console.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "sim.h"
#include "simstate.h"

namespace {

const DWORD SIM_ERROR_INVALID_HANDLE = 6;
const DWORD SIM_ERROR_INVALID_PARAMETER = 87;
const DWORD SIM_REG_SZ = 1;
const uintptr_t SIM_KEY_BASE = 0x100000;

const char* const SIM_STATE_DEFAULT_FILE = "vrxpr-sim-storage.json";

struct SIM_ROOT_KEY {
    HKEY Key;
    const char* Name;
};

const SIM_ROOT_KEY g_SimRootKeys[] = {
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},   {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"}, {HKEY_USERS, "HKEY_USERS"},
    {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG"},
};

const char* SimRootKeyName(HKEY root)
{
    for (const SIM_ROOT_KEY& r : g_SimRootKeys)
        if (r.Key == root) return r.Name;
    return nullptr;
}

// The path of an open or predefined key; false for an unknown handle.
bool SimGetKeyPath(HKEY key, std::string* path)
{
    if (const char* root = SimRootKeyName(key)) {
        *path = root;
        return true;
    }
    uintptr_t v = reinterpret_cast<uintptr_t>(key);
    if (v < SIM_KEY_BASE || (v - SIM_KEY_BASE) % 16 != 0) return false;
    size_t slot = (v - SIM_KEY_BASE) / 16;
    if (slot >= g_SimState.OpenKeys.size() || !g_SimState.OpenKeyUsed[slot]) return false;
    *path = g_SimState.OpenKeys[slot];
    return true;
}

const SIM_REGKEY* SimFindRegKey(const std::string& path)
{
    for (const SIM_REGKEY& k : g_SimState.Registry)
        if (SimSameTextNoCase(k.Path, path)) return &k;
    return nullptr;
}

[[noreturn]] void SimQuit(const std::string& path, const std::string& reason)
{
    std::fprintf(stderr, "vrxpr-sim: %s: %s\n", path.c_str(), reason.c_str());
    std::exit(4);
}

// Before the operator is asked: the storage goes back to the file and the
// lock is let go, so that other runs go on meanwhile. A failed write keeps
// the lock and the run's changes; the write-back at the end tries again.
bool SimLetOthersIn()
{
    std::string error;
    if (!g_SimState.Loaded || !SimSaveState(&error)) return false;
    SimUnlockState();
    return true;
}

// After the answer: the lock again, and the file as the others left it.
void SimTakeBack()
{
    std::string path = g_SimState.Path, error;
    if (!SimLockState(path, &error) || !SimReloadState(&error)) SimQuit(path, error);
}

// The first failure to write standard output, as errno gave it; 0 when none.
int g_SimOutErrno;

void SimNoteOut(int result)
{
    if (result == EOF && g_SimOutErrno == 0) g_SimOutErrno = errno != 0 ? errno : EIO;
}

}  // namespace

// As on Linux: a closed output pipe leaves the exit code and the write-back
// of the storage to the run.
void QelVRXPR_StartPlatform()
{
    (void)std::signal(SIGPIPE, SIG_IGN);
    const char* env = std::getenv("VRXPR_SIM_STATE");
    bool named = env != nullptr && *env != '\0';
    std::string path = named ? env : SIM_STATE_DEFAULT_FILE;
    std::string error;
    struct stat st;
    // A file that is not there gets no lock file beside it.
    if (named && stat(path.c_str(), &st) != 0) SimQuit(path, std::string("cannot open: ") + std::strerror(errno));
    if (!SimLockState(path, &error)) SimQuit(path, error);
    // First run in this directory: start from the sample storage.
    if (!named && stat(path.c_str(), &st) != 0 && !SimWriteFile(path, SimSampleText(), &error))
        SimQuit(path, error);
    if (!SimLoadState(path, &error)) SimQuit(path, error);
}

// What the run did is kept only when the file was replaced; otherwise the
// run ends with code 4.
void QelVRXPR_EndPlatform()
{
    if (!g_SimState.Loaded) return;
    std::string error;
    bool saved = SimSaveState(&error);
    SimUnlockState();
    if (!saved) SimQuit(g_SimState.Path, error);
}

LONG QelVRXPR_OpenRegKey(HKEY root, const char* subkey, HKEY* pKey)
{
    const char* rootName = SimRootKeyName(root);
    if (rootName == nullptr) return SIM_ERROR_INVALID_HANDLE;
    if (pKey == nullptr) return SIM_ERROR_INVALID_PARAMETER;
    std::string path = rootName;
    if (subkey != nullptr && *subkey != '\0') path += std::string("\\") + subkey;
    while (path.back() == '\\') path.pop_back();
    if (path != rootName) {
        const SIM_REGKEY* k = SimFindRegKey(path);
        if (k == nullptr) return ERROR_FILE_NOT_FOUND;
        if (k->OpenError != 0) return static_cast<LONG>(k->OpenError);
    }
    size_t slot = 0;
    while (slot < g_SimState.OpenKeys.size() && g_SimState.OpenKeyUsed[slot]) slot++;
    if (slot == g_SimState.OpenKeys.size()) {
        g_SimState.OpenKeys.emplace_back();
        g_SimState.OpenKeyUsed.push_back(false);
    }
    g_SimState.OpenKeys[slot] = path;
    g_SimState.OpenKeyUsed[slot] = true;
    *pKey = reinterpret_cast<HKEY>(SIM_KEY_BASE + slot * 16);
    return ERROR_SUCCESS;
}

LONG QelVRXPR_QueryRegValue(HKEY key, const char* name, DWORD* pType, BYTE* data, DWORD* pSize)
{
    std::string path;
    if (!SimGetKeyPath(key, &path)) return SIM_ERROR_INVALID_HANDLE;
    // Only default values exist in the simulated registry.
    if (name != nullptr && *name != '\0') return ERROR_FILE_NOT_FOUND;
    const SIM_REGKEY* k = SimFindRegKey(path);
    if (k == nullptr || !k->HasDefault) return ERROR_FILE_NOT_FOUND;
    DWORD needed = static_cast<DWORD>(k->Default.size() + 1);
    if (pType) *pType = SIM_REG_SZ;
    if (data == nullptr) {
        if (pSize) *pSize = needed;
        return ERROR_SUCCESS;
    }
    if (pSize == nullptr) return SIM_ERROR_INVALID_PARAMETER;
    if (*pSize < needed) {
        *pSize = needed;
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, k->Default.c_str(), needed);
    *pSize = needed;
    return ERROR_SUCCESS;
}

void QelVRXPR_CloseRegKey(HKEY key)
{
    uintptr_t v = reinterpret_cast<uintptr_t>(key);
    if (v < SIM_KEY_BASE || (v - SIM_KEY_BASE) % 16 != 0) return;
    size_t slot = (v - SIM_KEY_BASE) / 16;
    if (slot < g_SimState.OpenKeyUsed.size()) g_SimState.OpenKeyUsed[slot] = false;
}

int QelVRXPR_GetSysLangName(char* buf, size_t size)
{
    if (g_SimState.LangKind == SIM_LANG_NULL || buf == nullptr) return 0;
    std::string lang = g_SimState.LangKind == SIM_LANG_TEXT ? g_SimState.Language : "English";
    if (lang.size() + 1 > size) return 0;
    std::memcpy(buf, lang.c_str(), lang.size() + 1);
    return 1;
}

// The catalogue's bytes are what the simulated console shows.
const char* QelVRXPR_LocalText(const char* text)
{
    return text;
}

void QelVRXPR_WriteOut(const char* text)
{
    errno = 0;
    SimNoteOut(std::fputs(text, stdout));
    if (isatty(fileno(stdout))) SimNoteOut(std::fflush(stdout));
}

int QelVRXPR_OutFailed(char* why, size_t size)
{
    errno = 0;
    SimNoteOut(std::fflush(stdout));
    if (g_SimOutErrno == 0 || g_SimOutErrno == EPIPE) return 0;
    (void)std::snprintf(why, size, "%s", std::strerror(g_SimOutErrno));
    return 1;
}

char* QelVRXPR_ReadLine(char* buf, int size)
{
    errno = 0;
    SimNoteOut(std::fflush(stdout));
    if (buf == nullptr || size <= 0) return nullptr;
    std::vector<char> line(static_cast<size_t>(size));
    bool waited = SimLetOthersIn();
    char* got = std::fgets(line.data(), size, stdin);
    if (waited) SimTakeBack();
    if (got == nullptr) return nullptr;
    size_t len = std::strlen(line.data());
    if (len >= 2 && line[len - 2] == '\r' && line[len - 1] == '\n') {
        line[len - 2] = '\n';
        line[len - 1] = '\0';
        len--;
    }
    std::memcpy(buf, line.data(), len + 1);
    return buf;
}

// The platform operations answered from the simulated storage, with the
// device names, structures and system error codes of Windows.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "platform/platform.h"
#include "sim.h"
#include "simstate.h"

const char g_PfPortNameFmt[] = "\\\\.\\Scsi%1x:";
const char g_PfDriveNameFmt[] = "\\\\.\\PhysicalDrive%d";
const char g_PfDriveNameFmtLong[] = "\\\\.\\PhysicalDrive%lu";

namespace {

const DWORD SIM_ERROR_INVALID_FUNCTION = 1;
const DWORD SIM_ERROR_INVALID_HANDLE = 6;
const DWORD SIM_ERROR_INVALID_PARAMETER = 87;
const DWORD SIM_ERROR_INSUFFICIENT_BUFFER = 122;
const DWORD SIM_REG_SZ = 1;

// Larger transfers than a port driver takes are refused, and a garbage
// length never makes the layer read far into the caller's memory.
const DWORD SIM_MAX_TRANSFER = 0x10000;

const char* const SIM_STATE_DEFAULT_FILE = "vrxpr-sim-storage.json";

DWORD g_SimLastError = 0;

struct SIM_ROOT_KEY {
    HKEY Key;
    const char* Name;
};

const SIM_ROOT_KEY g_SimRootKeys[] = {
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},   {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"}, {HKEY_USERS, "HKEY_USERS"},
    {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG"},
};

const uintptr_t SIM_HANDLE_BASE = 0x1000;
const uintptr_t SIM_KEY_BASE = 0x100000;

bool QelVRXPR_StartsNoCase(const std::string& s, size_t pos, const char* prefix)
{
    size_t n = std::strlen(prefix);
    return s.size() >= pos + n && QelVRXPR_SameTextNoCase(s.substr(pos, n), prefix);
}

// "\\.\Scsi<one hex digit>:" gives the port number, or -1.
long QelVRXPR_ParsePortName(const std::string& name)
{
    if (name.size() != 10 || name.compare(0, 4, "\\\\.\\") != 0 || !QelVRXPR_StartsNoCase(name, 4, "Scsi") ||
        name[9] != ':')
        return -1;
    char c = name[8];
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "\\.\PhysicalDrive<decimal>" gives the drive number, or -1.
long long QelVRXPR_ParseDriveName(const std::string& name)
{
    const size_t prefix = 4 + 13;
    if (name.compare(0, 4, "\\\\.\\") != 0 || !QelVRXPR_StartsNoCase(name, 4, "PhysicalDrive") ||
        name.size() == prefix || name.size() > prefix + 10)
        return -1;
    if (name[prefix] == '0' && name.size() > prefix + 1) return -1;
    long long v = 0;
    for (size_t i = prefix; i < name.size(); i++) {
        if (name[i] < '0' || name[i] > '9') return -1;
        v = v * 10 + (name[i] - '0');
    }
    return v;
}

HANDLE QelVRXPR_AddSimHandle(bool isPort, size_t index)
{
    std::vector<SIM_HANDLE>& t = g_SimState.Handles;
    size_t slot = 0;
    while (slot < t.size() && t[slot].InUse) slot++;
    if (slot == t.size()) t.emplace_back();
    t[slot].InUse = true;
    t[slot].IsPort = isPort;
    t[slot].Index = index;
    return reinterpret_cast<HANDLE>(SIM_HANDLE_BASE + slot * 16);
}

SIM_HANDLE* QelVRXPR_FindSimHandle(HANDLE h)
{
    uintptr_t v = reinterpret_cast<uintptr_t>(h);
    if (v < SIM_HANDLE_BASE || (v - SIM_HANDLE_BASE) % 16 != 0) return nullptr;
    size_t slot = (v - SIM_HANDLE_BASE) / 16;
    if (slot >= g_SimState.Handles.size() || !g_SimState.Handles[slot].InUse) return nullptr;
    return &g_SimState.Handles[slot];
}

void QelVRXPR_PutULong(uint8_t* p, ULONG v)
{
    std::memcpy(p, &v, sizeof v);
}

size_t QelVRXPR_Align8(size_t n)
{
    return (n + 7) & ~static_cast<size_t>(7);
}

bool QelVRXPR_IsSimClaimed(unsigned port, unsigned bus, const SIM_RECORD& rec)
{
    for (const SIM_DRIVE& d : g_SimState.Drives)
        if (d.HasAddress && d.PortNo == port && d.PathId == bus && d.TargetId == rec.TargetId && d.Lun == rec.Lun)
            return true;
    return false;
}

// SCSI_ADAPTER_BUS_INFO with its bus array, then the records of bus 0,
// bus 1 and so on, each on an 8-byte boundary.
std::vector<uint8_t> QelVRXPR_BuildInquiryData(const SIM_PORT& port)
{
    size_t nb = port.Buses.size();
    std::vector<uint8_t> area(QelVRXPR_Align8(4 + 8 * nb), 0);
    area[0] = static_cast<uint8_t>(nb);
    for (size_t b = 0; b < nb; b++) {
        const std::vector<SIM_RECORD>& recs = port.Buses[b];
        uint8_t* busData = &area[4 + 8 * b];
        busData[0] = static_cast<uint8_t>(recs.size() > 255 ? 255 : recs.size());
        busData[1] = 7;  // the adapter's own id on the bus
        size_t prevNext = 0;  // where the previous record's next-offset lives
        for (size_t i = 0; i < recs.size(); i++) {
            const SIM_LU* lu = QelVRXPR_FindSimLU(recs[i].Lu);
            size_t inqLen = lu ? lu->Inquiry.size() : 0;
            size_t at = area.size();
            area.resize(QelVRXPR_Align8(at + 12 + inqLen), 0);
            if (i == 0)
                QelVRXPR_PutULong(&area[4 + 8 * b + 4], static_cast<ULONG>(at));
            else
                QelVRXPR_PutULong(&area[prevNext], static_cast<ULONG>(at));
            area[at] = static_cast<uint8_t>(b);
            area[at + 1] = static_cast<uint8_t>(recs[i].TargetId);
            area[at + 2] = static_cast<uint8_t>(recs[i].Lun);
            area[at + 3] = QelVRXPR_IsSimClaimed(port.PortNo, static_cast<unsigned>(b), recs[i]) ? 1 : 0;
            QelVRXPR_PutULong(&area[at + 4], static_cast<ULONG>(inqLen));
            if (inqLen > 0) std::memcpy(&area[at + 12], lu->Inquiry.data(), inqLen);
            prevNext = at + 8;
        }
    }
    return area;
}

int QelVRXPR_FailSimRequest(DWORD error)
{
    g_SimLastError = error;
    return 0;
}

int QelVRXPR_GetInquiryData(const SIM_PORT& port, void* out, DWORD outSize, DWORD* pReturned)
{
    if (port.InquiryError != 0) return QelVRXPR_FailSimRequest(port.InquiryError);
    if (out == nullptr && outSize > 0) return QelVRXPR_FailSimRequest(SIM_ERROR_INVALID_PARAMETER);
    // Malformed data on purpose is the whole answer, as given.
    std::vector<uint8_t> area = port.HasDataHex ? port.DataHex : QelVRXPR_BuildInquiryData(port);
    if (area.size() > outSize) return QelVRXPR_FailSimRequest(port.AreaError);
    if (!area.empty()) std::memcpy(out, area.data(), area.size());
    if (pReturned) *pReturned = static_cast<DWORD>(area.size());
    return 1;
}

int QelVRXPR_GetAddress(const SIM_DRIVE& d, void* out, DWORD outSize, DWORD* pReturned)
{
    if (!d.HasAddress) return QelVRXPR_FailSimRequest(d.AddressError);
    if (out == nullptr || outSize < sizeof(SCSI_ADDRESS)) return QelVRXPR_FailSimRequest(SIM_ERROR_INSUFFICIENT_BUFFER);
    SCSI_ADDRESS a;
    std::memset(&a, 0, sizeof a);
    a.Length = sizeof(SCSI_ADDRESS);
    a.PortNumber = static_cast<UCHAR>(d.PortNo);
    a.PathId = static_cast<UCHAR>(d.PathId);
    a.TargetId = static_cast<UCHAR>(d.TargetId);
    a.Lun = static_cast<UCHAR>(d.Lun);
    std::memcpy(out, &a, sizeof a);
    if (pReturned) *pReturned = sizeof a;
    return 1;
}

int QelVRXPR_PassThrough(const SIM_DRIVE& d, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* pReturned)
{
    const size_t sptdSize = sizeof(SCSI_PASS_THROUGH_DIRECT);
    JSON_VALUE entry;
    entry.Kind = JSON_OBJECT;
    QelVRXPR_SetJsonMember(&entry, "drive", QelVRXPR_MakeJsonNumber(static_cast<double>(d.DriveNo)));
    QelVRXPR_SetJsonMember(&entry, "lu", d.Lu.empty() ? JSON_VALUE() : QelVRXPR_MakeJsonString(d.Lu));

    DWORD error = 0;
    SCSI_PASS_THROUGH_DIRECT s;
    std::memset(&s, 0, sizeof s);
    if (in == nullptr || inSize < sptdSize || out == nullptr || outSize < sptdSize) {
        error = SIM_ERROR_INVALID_PARAMETER;
    } else {
        std::memcpy(&s, in, sptdSize);
        if (s.Length != sptdSize || s.CdbLength == 0 || s.CdbLength > sizeof s.Cdb || s.DataIn > 2 ||
            (s.SenseInfoLength > 0 &&
             (s.SenseInfoOffset < sptdSize ||
              static_cast<uint64_t>(s.SenseInfoOffset) + s.SenseInfoLength > outSize)) ||
            (s.DataTransferLength > 0 && s.DataBuffer == nullptr) || s.DataTransferLength > SIM_MAX_TRANSFER)
            error = SIM_ERROR_INVALID_PARAMETER;
    }
    if (error == 0 || s.CdbLength > 0) {
        size_t cdbLen = s.CdbLength <= sizeof s.Cdb ? s.CdbLength : sizeof s.Cdb;
        QelVRXPR_SetJsonMember(&entry, "cdb", QelVRXPR_MakeJsonString(QelVRXPR_FormatSimHex(s.Cdb, cdbLen)));
        const char* dir = s.DataIn == SCSI_IOCTL_DATA_OUT ? "out" : s.DataIn == SCSI_IOCTL_DATA_IN ? "in" : "none";
        QelVRXPR_SetJsonMember(&entry, "direction", QelVRXPR_MakeJsonString(dir));
        QelVRXPR_SetJsonMember(&entry, "transfer_length", QelVRXPR_MakeJsonNumber(s.DataTransferLength));
        if (error == 0 && s.DataIn == SCSI_IOCTL_DATA_OUT)
            QelVRXPR_SetJsonMember(&entry, "data_out",
                                   QelVRXPR_MakeJsonString(QelVRXPR_FormatSimHex(
                                       static_cast<const uint8_t*>(s.DataBuffer), s.DataTransferLength)));
    }
    SIM_LU* lu = d.Lu.empty() ? nullptr : QelVRXPR_FindSimLU(d.Lu);
    if (error == 0 && lu == nullptr) error = ERROR_NOT_SUPPORTED;  // a drive with nothing behind it

    SIM_ANSWER a;
    if (error == 0) {
        bool dataOut = s.DataIn == SCSI_IOCTL_DATA_OUT;
        QelVRXPR_AnswerSimCdb(lu, "local:" + std::to_string(d.PortNo), s.Cdb, s.CdbLength,
                              dataOut ? static_cast<const uint8_t*>(s.DataBuffer) : nullptr,
                              dataOut ? s.DataTransferLength : 0, &a);
        if (a.Failed) error = a.Error;
    }
    if (error != 0) {
        QelVRXPR_SetJsonMember(&entry, "error", QelVRXPR_MakeJsonNumber(error));
        QelVRXPR_AddSimLog(entry);
        return QelVRXPR_FailSimRequest(error);
    }

    // The block comes back as the driver left it: status, the data-in
    // count and the sense data filled in.
    uint8_t* block = static_cast<uint8_t*>(out);
    if (out != in) std::memmove(out, in, inSize < outSize ? inSize : outSize);
    s.ScsiStatus = a.Status;
    if (s.DataIn == SCSI_IOCTL_DATA_IN) {
        size_t n = a.DataIn.size() < s.DataTransferLength ? a.DataIn.size() : s.DataTransferLength;
        if (n > 0) std::memcpy(s.DataBuffer, a.DataIn.data(), n);
        s.DataTransferLength = static_cast<ULONG>(n);
    }
    DWORD returned = static_cast<DWORD>(sptdSize);
    if (a.HasSense && s.SenseInfoLength > 0) {
        uint8_t sense[18] = {0};
        sense[0] = 0x70;  // current error, fixed format
        sense[2] = a.SenseKey;
        sense[7] = 10;    // additional sense length
        sense[12] = a.Asc;
        sense[13] = a.Ascq;
        size_t n = s.SenseInfoLength < sizeof sense ? s.SenseInfoLength : sizeof sense;
        std::memcpy(block + s.SenseInfoOffset, sense, n);
        s.SenseInfoLength = static_cast<UCHAR>(n);
        returned = static_cast<DWORD>(s.SenseInfoOffset + n);
    } else {
        s.SenseInfoLength = 0;
    }
    std::memcpy(block, &s, sptdSize);
    if (pReturned) *pReturned = returned;

    QelVRXPR_SetJsonMember(&entry, "status", QelVRXPR_MakeJsonNumber(a.Status));
    QelVRXPR_AddSimLog(entry);
    return 1;
}

const char* QelVRXPR_RootKeyName(HKEY root)
{
    for (const SIM_ROOT_KEY& r : g_SimRootKeys)
        if (r.Key == root) return r.Name;
    return nullptr;
}

// The path of an open or predefined key; false for an unknown handle.
bool QelVRXPR_GetSimKeyPath(HKEY key, std::string* path)
{
    if (const char* root = QelVRXPR_RootKeyName(key)) {
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

const SIM_REGKEY* QelVRXPR_FindSimRegKey(const std::string& path)
{
    for (const SIM_REGKEY& k : g_SimState.Registry)
        if (QelVRXPR_SameTextNoCase(k.Path, path)) return &k;
    return nullptr;
}

}  // namespace

void QelVRXPR_StartPlatform()
{
    const char* env = std::getenv("VRXPR_SIM_STATE");
    std::string path = env != nullptr && *env != '\0' ? env : SIM_STATE_DEFAULT_FILE;
    std::string error;
    if (env == nullptr || *env == '\0') {
        // First run in this directory: start from the sample storage.
        std::FILE* f = std::fopen(path.c_str(), "wbx");
        if (f != nullptr) {
            std::string sample = QelVRXPR_SimSampleText();
            bool ok = std::fwrite(sample.data(), 1, sample.size(), f) == sample.size();
            ok = std::fclose(f) == 0 && ok;
            if (!ok) {
                std::fprintf(stderr, "vrxpr-sim: %s: cannot create: %s\n", path.c_str(), std::strerror(errno));
                std::exit(4);
            }
        } else if (errno != EEXIST) {
            std::fprintf(stderr, "vrxpr-sim: %s: cannot create: %s\n", path.c_str(), std::strerror(errno));
            std::exit(4);
        }
    }
    if (!QelVRXPR_SimLoadState(path, &error)) {
        std::fprintf(stderr, "vrxpr-sim: %s: %s\n", path.c_str(), error.c_str());
        std::exit(4);
    }
}

void QelVRXPR_EndPlatform()
{
    if (!g_SimState.Loaded) return;
    std::string error;
    if (!QelVRXPR_SimSaveState(&error))
        std::fprintf(stderr, "vrxpr-sim: %s: %s\n", g_SimState.Path.c_str(), error.c_str());
}

HANDLE QelVRXPR_OpenDevice(const char* name)
{
    std::string n = name != nullptr ? name : "";
    DWORD error = ERROR_FILE_NOT_FOUND;
    HANDLE h = INVALID_HANDLE_VALUE;
    long portNo = QelVRXPR_ParsePortName(n);
    long long driveNo = portNo < 0 ? QelVRXPR_ParseDriveName(n) : -1;
    if (portNo >= 0) {
        for (size_t i = 0; i < g_SimState.Ports.size(); i++) {
            if (g_SimState.Ports[i].PortNo != static_cast<unsigned>(portNo)) continue;
            if (g_SimState.Ports[i].OpenError != 0)
                error = g_SimState.Ports[i].OpenError;
            else
                h = QelVRXPR_AddSimHandle(true, i);
        }
    } else if (driveNo >= 0) {
        for (size_t i = 0; i < g_SimState.Drives.size(); i++) {
            SIM_DRIVE& d = g_SimState.Drives[i];
            if (d.DriveNo != static_cast<unsigned long long>(driveNo)) continue;
            d.Opens++;
            if (d.OpenError != 0 && (d.OpensBeforeError < 0 || d.Opens > d.OpensBeforeError))
                error = d.OpenError;
            else
                h = QelVRXPR_AddSimHandle(false, i);
        }
    }

    JSON_VALUE entry;
    entry.Kind = JSON_OBJECT;
    QelVRXPR_SetJsonMember(&entry, "open", QelVRXPR_MakeJsonString(n));
    QelVRXPR_SetJsonMember(&entry, "result", h != INVALID_HANDLE_VALUE ? QelVRXPR_MakeJsonString("ok")
                                                                        : QelVRXPR_MakeJsonNumber(error));
    QelVRXPR_AddSimLog(entry);
    if (h == INVALID_HANDLE_VALUE) g_SimLastError = error;
    return h;
}

int QelVRXPR_RequestDevice(HANDLE h, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                           DWORD* pReturned)
{
    if (pReturned) *pReturned = 0;
    SIM_HANDLE* sh = QelVRXPR_FindSimHandle(h);
    if (sh == nullptr) return QelVRXPR_FailSimRequest(SIM_ERROR_INVALID_HANDLE);
    if (sh->IsPort) {
        if (code != IOCTL_SCSI_GET_INQUIRY_DATA) return QelVRXPR_FailSimRequest(SIM_ERROR_INVALID_FUNCTION);
        return QelVRXPR_GetInquiryData(g_SimState.Ports[sh->Index], out, outSize, pReturned);
    }
    const SIM_DRIVE& d = g_SimState.Drives[sh->Index];
    if (code == IOCTL_SCSI_GET_ADDRESS) return QelVRXPR_GetAddress(d, out, outSize, pReturned);
    if (code == IOCTL_SCSI_PASS_THROUGH_DIRECT) return QelVRXPR_PassThrough(d, in, inSize, out, outSize, pReturned);
    return QelVRXPR_FailSimRequest(SIM_ERROR_INVALID_FUNCTION);
}

void QelVRXPR_CloseDevice(HANDLE h)
{
    if (SIM_HANDLE* sh = QelVRXPR_FindSimHandle(h)) sh->InUse = false;
}

DWORD QelVRXPR_GetLastErr()
{
    return g_SimLastError;
}

LONG QelVRXPR_OpenRegKey(HKEY root, const char* subkey, HKEY* pKey)
{
    const char* rootName = QelVRXPR_RootKeyName(root);
    if (rootName == nullptr) return SIM_ERROR_INVALID_HANDLE;
    if (pKey == nullptr) return SIM_ERROR_INVALID_PARAMETER;
    std::string path = rootName;
    if (subkey != nullptr && *subkey != '\0') path += std::string("\\") + subkey;
    while (path.back() == '\\') path.pop_back();
    if (path != rootName) {
        const SIM_REGKEY* k = QelVRXPR_FindSimRegKey(path);
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
    if (!QelVRXPR_GetSimKeyPath(key, &path)) return SIM_ERROR_INVALID_HANDLE;
    // Only default values exist in the simulated registry.
    if (name != nullptr && *name != '\0') return ERROR_FILE_NOT_FOUND;
    const SIM_REGKEY* k = QelVRXPR_FindSimRegKey(path);
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
    std::fputs(text, stdout);
    if (isatty(fileno(stdout))) std::fflush(stdout);
}

char* QelVRXPR_ReadLine(char* buf, int size)
{
    if (buf == nullptr || size <= 0) return nullptr;
    std::vector<char> line(static_cast<size_t>(size));
    if (std::fgets(line.data(), size, stdin) == nullptr) return nullptr;
    size_t len = std::strlen(line.data());
    if (len >= 2 && line[len - 2] == '\r' && line[len - 1] == '\n') {
        line[len - 2] = '\n';
        line[len - 1] = '\0';
        len--;
    }
    std::memcpy(buf, line.data(), len + 1);
    return buf;
}

// The platform operations answered from the simulated storage, with the
// device names, structures and system error codes of Windows.
#include <cstring>

#include "platform/platform.h"
#include "simstate.h"

const char g_PfPortNameFmt[] = "\\\\.\\Scsi%u:";
const char g_PfDriveNameFmt[] = "\\\\.\\PhysicalDrive%d";
const char g_PfDriveNameFmtLong[] = "\\\\.\\PhysicalDrive%lu";

namespace {

const DWORD SIM_ERROR_INVALID_FUNCTION = 1;
const DWORD SIM_ERROR_INVALID_HANDLE = 6;
const DWORD SIM_ERROR_INVALID_PARAMETER = 87;
const DWORD SIM_ERROR_INSUFFICIENT_BUFFER = 122;

// Larger transfers than a port driver takes are refused, and a garbage
// length never makes the layer read far into the caller's memory.
const DWORD SIM_MAX_TRANSFER = 0x10000;

DWORD g_SimLastError = 0;

const uintptr_t SIM_HANDLE_BASE = 0x1000;

bool SimStartsNoCase(const std::string& s, size_t pos, const char* prefix)
{
    size_t n = std::strlen(prefix);
    return s.size() >= pos + n && SimSameTextNoCase(s.substr(pos, n), prefix);
}

// "\\.\Scsi<decimal>:" gives the port number, or -1. Windows never names a
// port with a leading zero or above 255, so neither name exists here.
long SimParsePortName(const std::string& name)
{
    const size_t prefix = 4 + 4;
    if (name.size() < prefix + 2 || name.size() > prefix + 4 || name.compare(0, 4, "\\\\.\\") != 0 ||
        !SimStartsNoCase(name, 4, "Scsi") || name.back() != ':')
        return -1;
    size_t end = name.size() - 1;
    if (name[prefix] == '0' && end > prefix + 1) return -1;
    long v = 0;
    for (size_t i = prefix; i < end; i++) {
        if (name[i] < '0' || name[i] > '9') return -1;
        v = v * 10 + (name[i] - '0');
    }
    return v <= 255 ? v : -1;
}

// "\\.\PhysicalDrive<decimal>" gives the drive number, or -1.
long long SimParseDriveName(const std::string& name)
{
    const size_t prefix = 4 + 13;
    if (name.compare(0, 4, "\\\\.\\") != 0 || !SimStartsNoCase(name, 4, "PhysicalDrive") ||
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

HANDLE SimAddHandle(bool isPort, size_t index)
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

SIM_HANDLE* SimFindHandle(HANDLE h)
{
    uintptr_t v = reinterpret_cast<uintptr_t>(h);
    if (v < SIM_HANDLE_BASE || (v - SIM_HANDLE_BASE) % 16 != 0) return nullptr;
    size_t slot = (v - SIM_HANDLE_BASE) / 16;
    if (slot >= g_SimState.Handles.size() || !g_SimState.Handles[slot].InUse) return nullptr;
    // The file read again may list fewer ports or drives than at the open.
    SIM_HANDLE* sh = &g_SimState.Handles[slot];
    size_t count = sh->IsPort ? g_SimState.Ports.size() : g_SimState.Drives.size();
    return sh->Index < count ? sh : nullptr;
}

void SimPutULong(uint8_t* p, ULONG v)
{
    std::memcpy(p, &v, sizeof v);
}

size_t SimAlign8(size_t n)
{
    return (n + 7) & ~static_cast<size_t>(7);
}

bool SimIsClaimed(unsigned port, unsigned bus, const SIM_RECORD& rec)
{
    for (const SIM_DRIVE& d : g_SimState.Drives)
        if (d.HasAddress && d.PortNo == port && d.PathId == bus && d.TargetId == rec.TargetId && d.Lun == rec.Lun)
            return true;
    return false;
}

// SCSI_ADAPTER_BUS_INFO with its bus array, then the records of bus 0,
// bus 1 and so on, each on an 8-byte boundary.
std::vector<uint8_t> SimBuildInquiryData(const SIM_PORT& port)
{
    size_t nb = port.Buses.size();
    std::vector<uint8_t> area(SimAlign8(4 + 8 * nb), 0);
    area[0] = static_cast<uint8_t>(nb);
    for (size_t b = 0; b < nb; b++) {
        const std::vector<SIM_RECORD>& recs = port.Buses[b];
        uint8_t* busData = &area[4 + 8 * b];
        busData[0] = static_cast<uint8_t>(recs.size() > 255 ? 255 : recs.size());
        busData[1] = 7;  // the adapter's own id on the bus
        size_t prevNext = 0;  // where the previous record's next-offset lives
        for (size_t i = 0; i < recs.size(); i++) {
            const SIM_LU* lu = SimFindLU(recs[i].Lu);
            size_t inqLen = lu ? lu->Inquiry.size() : 0;
            size_t at = area.size();
            area.resize(SimAlign8(at + 12 + inqLen), 0);
            if (i == 0)
                SimPutULong(&area[4 + 8 * b + 4], static_cast<ULONG>(at));
            else
                SimPutULong(&area[prevNext], static_cast<ULONG>(at));
            area[at] = static_cast<uint8_t>(b);
            area[at + 1] = static_cast<uint8_t>(recs[i].TargetId);
            area[at + 2] = static_cast<uint8_t>(recs[i].Lun);
            area[at + 3] = SimIsClaimed(port.PortNo, static_cast<unsigned>(b), recs[i]) ? 1 : 0;
            SimPutULong(&area[at + 4], static_cast<ULONG>(inqLen));
            if (inqLen > 0) std::memcpy(&area[at + 12], lu->Inquiry.data(), inqLen);
            prevNext = at + 8;
        }
    }
    return area;
}

int SimFailRequest(DWORD error)
{
    g_SimLastError = error;
    return 0;
}

int SimGetInquiryData(const SIM_PORT& port, void* out, DWORD outSize, DWORD* pReturned)
{
    if (port.InquiryError != 0) return SimFailRequest(port.InquiryError);
    if (out == nullptr && outSize > 0) return SimFailRequest(SIM_ERROR_INVALID_PARAMETER);
    // Malformed data on purpose is the whole answer, as given.
    std::vector<uint8_t> area = port.HasDataHex ? port.DataHex : SimBuildInquiryData(port);
    if (area.size() > outSize) return SimFailRequest(port.AreaError);
    if (!area.empty()) std::memcpy(out, area.data(), area.size());
    if (pReturned) *pReturned = static_cast<DWORD>(area.size());
    return 1;
}

int SimGetAddress(const SIM_DRIVE& d, void* out, DWORD outSize, DWORD* pReturned)
{
    if (!d.HasAddress) return SimFailRequest(d.AddressError);
    if (out == nullptr || outSize < sizeof(SCSI_ADDRESS)) return SimFailRequest(SIM_ERROR_INSUFFICIENT_BUFFER);
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

int SimPassThrough(const SIM_DRIVE& d, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* pReturned)
{
    const size_t sptdSize = sizeof(SCSI_PASS_THROUGH_DIRECT);
    SIM_JSON entry = {{"drive", d.DriveNo}, {"lu", d.Lu.empty() ? SIM_JSON() : SIM_JSON(d.Lu)}};

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
        entry["cdb"] = SimFormatHex(s.Cdb, cdbLen);
        const char* dir = s.DataIn == SCSI_IOCTL_DATA_OUT ? "out" : s.DataIn == SCSI_IOCTL_DATA_IN ? "in" : "none";
        entry["direction"] = dir;
        entry["transfer_length"] = s.DataTransferLength;
        if (error == 0 && s.DataIn == SCSI_IOCTL_DATA_OUT)
            entry["data_out"] = SimFormatHex(static_cast<const uint8_t*>(s.DataBuffer), s.DataTransferLength);
    }
    SIM_LU* lu = d.Lu.empty() ? nullptr : SimFindLU(d.Lu);
    if (error == 0 && lu == nullptr) error = ERROR_NOT_SUPPORTED;  // a drive with nothing behind it

    SIM_ANSWER a;
    if (error == 0) {
        bool dataOut = s.DataIn == SCSI_IOCTL_DATA_OUT;
        SimAnswerCdb(lu, "local:" + std::to_string(d.PortNo), s.Cdb, s.CdbLength,
                              dataOut ? static_cast<const uint8_t*>(s.DataBuffer) : nullptr,
                              dataOut ? s.DataTransferLength : 0, &a);
        if (a.Failed) error = a.Error;
    }
    if (error != 0) {
        entry["error"] = error;
        SimAddLog(entry);
        return SimFailRequest(error);
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

    entry["status"] = a.Status;
    SimAddLog(entry);
    return 1;
}

}  // namespace

// The Windows port numbers: one byte, each name tried.
int QelVRXPR_GetNextPort(unsigned* pPort)
{
    return *pPort < 256;
}

HANDLE QelVRXPR_OpenDevice(const char* name)
{
    std::string n = name != nullptr ? name : "";
    DWORD error = ERROR_FILE_NOT_FOUND;
    HANDLE h = INVALID_HANDLE_VALUE;
    long portNo = SimParsePortName(n);
    long long driveNo = portNo < 0 ? SimParseDriveName(n) : -1;
    if (portNo >= 0) {
        for (size_t i = 0; i < g_SimState.Ports.size(); i++) {
            if (g_SimState.Ports[i].PortNo != static_cast<unsigned>(portNo)) continue;
            if (g_SimState.Ports[i].OpenError != 0)
                error = g_SimState.Ports[i].OpenError;
            else
                h = SimAddHandle(true, i);
        }
    } else if (driveNo >= 0) {
        for (size_t i = 0; i < g_SimState.Drives.size(); i++) {
            SIM_DRIVE& d = g_SimState.Drives[i];
            if (d.DriveNo != static_cast<unsigned long long>(driveNo)) continue;
            d.Opens++;
            if (d.OpenError != 0 && (d.OpensBeforeError < 0 || d.Opens > d.OpensBeforeError))
                error = d.OpenError;
            else
                h = SimAddHandle(false, i);
        }
    }

    SimAddLog({{"open", n}, {"result", h != INVALID_HANDLE_VALUE ? SIM_JSON("ok") : SIM_JSON(error)}});
    if (h == INVALID_HANDLE_VALUE) g_SimLastError = error;
    return h;
}

int QelVRXPR_RequestDevice(HANDLE h, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                           DWORD* pReturned)
{
    if (pReturned) *pReturned = 0;
    SIM_HANDLE* sh = SimFindHandle(h);
    if (sh == nullptr) return SimFailRequest(SIM_ERROR_INVALID_HANDLE);
    if (sh->IsPort) {
        if (code != IOCTL_SCSI_GET_INQUIRY_DATA) return SimFailRequest(SIM_ERROR_INVALID_FUNCTION);
        return SimGetInquiryData(g_SimState.Ports[sh->Index], out, outSize, pReturned);
    }
    const SIM_DRIVE& d = g_SimState.Drives[sh->Index];
    if (code == IOCTL_SCSI_GET_ADDRESS) return SimGetAddress(d, out, outSize, pReturned);
    if (code == IOCTL_SCSI_PASS_THROUGH_DIRECT) return SimPassThrough(d, in, inSize, out, outSize, pReturned);
    return SimFailRequest(SIM_ERROR_INVALID_FUNCTION);
}

void QelVRXPR_CloseDevice(HANDLE h)
{
    if (SIM_HANDLE* sh = SimFindHandle(h)) sh->InUse = false;
}

DWORD QelVRXPR_GetLastErr()
{
    return g_SimLastError;
}

bool SimSameTextNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

SIM_LU* SimFindLU(const std::string& name)
{
    for (SIM_LU& lu : g_SimState.Lus)
        if (lu.Name == name) return &lu;
    return nullptr;
}

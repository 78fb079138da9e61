// Ports are SCSI hosts, drives are sg devices, and the pass-through is SG_IO.
#include "platform/linux/pf_linux.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

const char g_PfPortNameFmt[] = "/sys/class/scsi_host/host%u";
const char g_PfDriveNameFmt[] = "/dev/sg%d";
const char g_PfDriveNameFmtLong[] = "/dev/sg%lu";

namespace {

#define PF_HOST_DIR "/sys/class/scsi_host"
#define PF_PORT_PREFIX PF_HOST_DIR "/host"
#define PF_SCSI_DEVICES "/sys/bus/scsi/devices"
#define PF_CHAR_DEVICES "/sys/dev/char"
#define PF_HANDLE_SLOTS 8
// As a Windows port driver does: each record has room for the first 36
// bytes of INQUIRY data (zeros past what the device gave), whatever the
// device keeps beyond them.
#define PF_INQUIRY_KEEP 36
#define PF_RECORD_ALIGN 8
#define PF_BUS_MAX 255
#define PF_BYTE_MAX 0xFF
#define PF_PORT_LIMIT 0x10000  // the LU name holds four hexadecimal digits of it

enum { PF_HANDLE_FREE = 0, PF_HANDLE_PORT = 1, PF_HANDLE_DRIVE = 2 };

struct PF_HANDLE {
    int Kind;
    int Fd;
    unsigned Host;
    // A port's records as first gathered: a caller asking again with a
    // larger area gets them without the host's devices being read again.
    bool HasArea;
    uint8_t* Area;
    size_t AreaLen;
};

// A fixed table: a handle left open on a fatal path is no leak.
PF_HANDLE g_PfHandles[PF_HANDLE_SLOTS];
DWORD g_PfLastErr;

struct PF_SCSI_DEV {
    uint64_t Channel;
    uint64_t Target;
    uint64_t Lun;
    bool Claimed;
    size_t InquiryLen;
    uint8_t Inquiry[PF_INQUIRY_KEEP];
};

PF_HANDLE* QelVRXPR_AllocHandle()
{
    for (PF_HANDLE& h : g_PfHandles)
        if (h.Kind == PF_HANDLE_FREE) return &h;
    return nullptr;
}

PF_HANDLE* QelVRXPR_FindHandle(HANDLE h)
{
    for (PF_HANDLE& slot : g_PfHandles)
        if (h == &slot && slot.Kind != PF_HANDLE_FREE) return &slot;
    return nullptr;
}

int QelVRXPR_FailWith(DWORD err)
{
    g_PfLastErr = err;
    return 0;
}

// Decimal digits only, no sign, no leading space: what strtoul accepts
// beyond that is not a sysfs name. A value past 64 bits reads as the
// largest one, which fits no field either.
bool QelVRXPR_ParseNumber(const char*& p, uint64_t* pValue)
{
    if (*p < '0' || *p > '9') return false;
    uint64_t v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        unsigned d = (unsigned)(*p - '0');
        v = v > (UINT64_MAX - d) / 10 ? UINT64_MAX : v * 10 + d;
    }
    *pValue = v;
    return true;
}

// "H:C:T:L" with the whole LUN; anything else in the folder (targets,
// hosts) is not a device.
bool QelVRXPR_ParseDeviceName(const char* name, uint64_t* hctl)
{
    const char* p = name;
    for (int i = 0; i < 4; ++i) {
        if (!QelVRXPR_ParseNumber(p, &hctl[i])) return false;
        if (i < 3) {
            if (*p != ':') return false;
            ++p;
        }
    }
    return *p == '\0';
}

bool QelVRXPR_ReadInquiry(int devFd, PF_SCSI_DEV* pDev)
{
    int fd = openat(devFd, "inquiry", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    size_t len = 0;
    while (len < sizeof pDev->Inquiry) {
        ssize_t n = read(fd, pDev->Inquiry + len, sizeof pDev->Inquiry - len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        len += (size_t)n;
    }
    close(fd);
    pDev->InquiryLen = len;
    return true;
}

// The host's devices, in the order the records are chained, into an array
// the caller frees.
int QelVRXPR_ListHostDevices(unsigned host, PF_SCSI_DEV** pDevs, size_t* pCount)
{
    *pDevs = nullptr;
    *pCount = 0;
    char buf[PF_PATH_LEN];
    const char* base = QelVRXPR_MakeRootPath(PF_SCSI_DEVICES, buf);
    DIR* dir = base != nullptr ? opendir(base) : nullptr;
    if (dir == nullptr) {
        // No SCSI bus registered at all: no devices, not an error.
        return errno == ENOENT ? 1 : QelVRXPR_FailWith(QelVRXPR_MapErrno(errno));
    }
    PF_SCSI_DEV* found = nullptr;
    size_t count = 0, cap = 0;
    while (dirent* e = readdir(dir)) {
        uint64_t hctl[4];
        if (!QelVRXPR_ParseDeviceName(e->d_name, hctl) || hctl[0] != host) continue;
        // The port's records have a byte for each number: such a device
        // cannot be listed, and leaving it out would hide an LU.
        if (hctl[0] > PF_BYTE_MAX || hctl[1] >= PF_BUS_MAX || hctl[2] > PF_BYTE_MAX ||
            hctl[3] > PF_BYTE_MAX) {
            closedir(dir);
            std::free(found);
            return QelVRXPR_FailWith(ERROR_NOT_SUPPORTED);
        }
        if (count == cap) {
            cap = cap == 0 ? 64 : cap * 2;
            void* grown = std::realloc(found, cap * sizeof *found);
            if (grown == nullptr) {
                closedir(dir);
                std::free(found);
                return QelVRXPR_FailWith(PF_ERROR_NOT_ENOUGH_MEMORY);
            }
            found = static_cast<PF_SCSI_DEV*>(grown);
        }
        PF_SCSI_DEV& dev = found[count];
        dev.Channel = hctl[1];
        dev.Target = hctl[2];
        dev.Lun = hctl[3];
        // The entry leads deep into the device tree: walked once per device.
        // A device going away between the listing and the read is skipped.
        int devFd = openat(dirfd(dir), e->d_name, O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (devFd < 0) continue;
        struct stat st;
        bool read = QelVRXPR_ReadInquiry(devFd, &dev);
        dev.Claimed = fstatat(devFd, "driver", &st, AT_SYMLINK_NOFOLLOW) == 0;
        close(devFd);
        if (read) ++count;
    }
    closedir(dir);
    // Channel, target and LUN each fit a byte here, so one number orders them.
    std::sort(found, found + count, [](const PF_SCSI_DEV& a, const PF_SCSI_DEV& b) {
        return ((a.Channel << 16) | (a.Target << 8) | a.Lun) <
               ((b.Channel << 16) | (b.Target << 8) | b.Lun);
    });
    *pDevs = found;
    *pCount = count;
    return 1;
}

void QelVRXPR_PutU32(uint8_t* area, size_t at, uint32_t v)
{
    std::memcpy(area + at, &v, sizeof v);
}

size_t QelVRXPR_AlignRecord(size_t at)
{
    return (at + PF_RECORD_ALIGN - 1) / PF_RECORD_ALIGN * PF_RECORD_ALIGN;
}

bool QelVRXPR_BuildInquiryData(PF_HANDLE* ph)
{
    PF_SCSI_DEV* devs;
    size_t count;
    if (!QelVRXPR_ListHostDevices(ph->Host, &devs, &count)) return false;

    size_t buses = count == 0 ? 0 : devs[count - 1].Channel + 1;
    size_t head = offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + buses * sizeof(SCSI_BUS_DATA);
    head = std::max(head, sizeof(SCSI_ADAPTER_BUS_INFO));
    const size_t record = offsetof(SCSI_INQUIRY_DATA, InquiryData) + PF_INQUIRY_KEEP;
    size_t size = head;
    for (size_t i = 0; i < count; ++i) size = QelVRXPR_AlignRecord(size) + record;
    uint8_t* area = static_cast<uint8_t*>(std::calloc(size, 1));
    if (area == nullptr) {
        std::free(devs);
        return QelVRXPR_FailWith(PF_ERROR_NOT_ENOUGH_MEMORY);
    }
    area[offsetof(SCSI_ADAPTER_BUS_INFO, NumberOfBuses)] = (uint8_t)buses;

    size_t end = head;
    size_t prevNext = 0;  // where the previous record of this bus keeps its link
    uint64_t prevChannel = UINT64_MAX;
    for (size_t i = 0; i < count; ++i) {
        const PF_SCSI_DEV& d = devs[i];
        size_t at = QelVRXPR_AlignRecord(end);
        end = at + record;

        uint8_t* rec = area + at;
        rec[offsetof(SCSI_INQUIRY_DATA, PathId)] = (uint8_t)d.Channel;
        rec[offsetof(SCSI_INQUIRY_DATA, TargetId)] = (uint8_t)d.Target;
        rec[offsetof(SCSI_INQUIRY_DATA, Lun)] = (uint8_t)d.Lun;
        rec[offsetof(SCSI_INQUIRY_DATA, DeviceClaimed)] = d.Claimed ? 1 : 0;
        QelVRXPR_PutU32(area, at + offsetof(SCSI_INQUIRY_DATA, InquiryDataLength),
                        (uint32_t)d.InquiryLen);
        std::memcpy(rec + offsetof(SCSI_INQUIRY_DATA, InquiryData), d.Inquiry, d.InquiryLen);

        size_t bus = offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + d.Channel * sizeof(SCSI_BUS_DATA);
        if (d.Channel != prevChannel) {
            QelVRXPR_PutU32(area, bus + offsetof(SCSI_BUS_DATA, InquiryDataOffset), (uint32_t)at);
            prevChannel = d.Channel;
        } else {
            QelVRXPR_PutU32(area, prevNext, (uint32_t)at);
        }
        uint8_t& units = area[bus + offsetof(SCSI_BUS_DATA, NumberOfLogicalUnits)];
        if (units < 0xFF) ++units;
        prevNext = at + offsetof(SCSI_INQUIRY_DATA, NextInquiryDataOffset);
    }
    std::free(devs);
    ph->Area = area;
    ph->AreaLen = size;
    ph->HasArea = true;
    return true;
}

int QelVRXPR_GetInquiryData(PF_HANDLE* ph, void* out, DWORD outSize, DWORD* pReturned)
{
    if (!ph->HasArea && !QelVRXPR_BuildInquiryData(ph)) return 0;
    if (out == nullptr || ph->AreaLen > outSize) return QelVRXPR_FailWith(ERROR_MORE_DATA);
    std::memcpy(out, ph->Area, ph->AreaLen);
    if (pReturned != nullptr) *pReturned = (DWORD)ph->AreaLen;
    return 1;
}

// /sys/dev/char, kept open: every command reads an address there, and a
// guest under emulation feels each path walk. Opened again when the root
// it stands under changes (tests).
int QelVRXPR_OpenCharDir()
{
    static int s_Fd = -1;
    static char s_Path[PF_PATH_LEN];
    char buf[PF_PATH_LEN];
    const char* path = QelVRXPR_MakeRootPath(PF_CHAR_DEVICES, buf);
    if (path == nullptr) return -1;
    if (s_Fd >= 0 && std::strcmp(path, s_Path) == 0) return s_Fd;
    if (s_Fd >= 0) close(s_Fd);
    s_Fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::snprintf(s_Path, sizeof s_Path, "%s", path);
    return s_Fd;
}

// The address of the device the descriptor is open on, from the sysfs
// entry of its device number, ".../H:C:T:L/scsi_generic/sgN": SG_GET_SCSI_ID
// keeps only 32 bits of the LUN. The link is read without following it,
// which would cost a walk through the device tree on every command. Once
// the device is removed its number names another device or none, and the
// descriptor's own requests fail, so an address read here never sends a
// command to an LU it does not belong to.
int QelVRXPR_GetAddress(const PF_HANDLE* ph, void* out, DWORD outSize, DWORD* pReturned)
{
    if (out == nullptr || outSize < sizeof(SCSI_ADDRESS))
        return QelVRXPR_FailWith(PF_ERROR_INSUFFICIENT_BUFFER);
    struct stat st;
    if (fstat(ph->Fd, &st) != 0) return QelVRXPR_FailWith(QelVRXPR_MapErrno(errno));
    if (!S_ISCHR(st.st_mode)) return QelVRXPR_FailWith(PF_ERROR_INVALID_FUNCTION);
    char rel[64];
    std::snprintf(rel, sizeof rel, "%u:%u", major(st.st_rdev), minor(st.st_rdev));
    int dir = QelVRXPR_OpenCharDir();
    if (dir < 0) return QelVRXPR_FailWith(QelVRXPR_MapErrno(errno));
    char link[PATH_MAX];
    ssize_t n = readlinkat(dir, rel, link, sizeof link - 1);
    if (n < 0) return QelVRXPR_FailWith(QelVRXPR_MapErrno(errno));
    link[n] = '\0';
    // The device is the folder that holds the class folder of the node.
    char* end = link + n;
    for (int up = 0; up < 2 && end != nullptr; ++up) {
        *end = '\0';
        end = std::strrchr(link, '/');
    }
    if (end == nullptr) return QelVRXPR_FailWith(PF_ERROR_INVALID_FUNCTION);
    *end = '\0';
    const char* base = std::strrchr(link, '/');
    uint64_t hctl[4];
    if (!QelVRXPR_ParseDeviceName(base != nullptr ? base + 1 : link, hctl))
        return QelVRXPR_FailWith(PF_ERROR_INVALID_FUNCTION);
    for (uint64_t v : hctl)
        if (v > PF_BYTE_MAX) return QelVRXPR_FailWith(ERROR_NOT_SUPPORTED);
    SCSI_ADDRESS a;
    a.Length = sizeof a;
    a.PortNumber = (UCHAR)hctl[0];
    a.PathId = (UCHAR)hctl[1];
    a.TargetId = (UCHAR)hctl[2];
    a.Lun = (UCHAR)hctl[3];
    std::memcpy(out, &a, sizeof a);
    if (pReturned != nullptr) *pReturned = sizeof a;
    return 1;
}

int QelVRXPR_PassThrough(const PF_HANDLE* ph, void* in, DWORD inSize, void* out, DWORD outSize,
                         DWORD* pReturned)
{
    if (in == nullptr || inSize < sizeof(SCSI_PASS_THROUGH_DIRECT))
        return QelVRXPR_FailWith(PF_ERROR_INVALID_PARAMETER);
    // The driver answers in the output block; the request is read from the input.
    uint8_t* blk = static_cast<uint8_t*>(out != nullptr ? out : in);
    DWORD blkSize = out != nullptr ? outSize : inSize;
    if (blkSize < sizeof(SCSI_PASS_THROUGH_DIRECT))
        return QelVRXPR_FailWith(PF_ERROR_INSUFFICIENT_BUFFER);
    SCSI_PASS_THROUGH_DIRECT req;
    std::memcpy(&req, in, sizeof req);
    if (req.CdbLength == 0 || req.CdbLength > sizeof req.Cdb)
        return QelVRXPR_FailWith(PF_ERROR_INVALID_PARAMETER);
    if (req.DataTransferLength != 0 && req.DataBuffer == nullptr)
        return QelVRXPR_FailWith(PF_ERROR_INVALID_PARAMETER);
    if (out != nullptr && out != in) std::memmove(out, in, std::min(inSize, outSize));

    // Sense goes where the block says, never past the block.
    size_t senseMax = 0;
    if (req.SenseInfoOffset < blkSize)
        senseMax = std::min<size_t>(req.SenseInfoLength, blkSize - req.SenseInfoOffset);
    unsigned char sense[255];
    senseMax = std::min(senseMax, sizeof sense);

    sg_io_hdr_t hdr;
    std::memset(&hdr, 0, sizeof hdr);
    hdr.interface_id = 'S';
    hdr.cmdp = req.Cdb;
    hdr.cmd_len = req.CdbLength;
    hdr.dxferp = req.DataBuffer;
    hdr.dxfer_len = req.DataTransferLength;
    if (req.DataTransferLength == 0)
        hdr.dxfer_direction = SG_DXFER_NONE;
    else
        hdr.dxfer_direction = req.DataIn == SCSI_IOCTL_DATA_IN ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
    hdr.sbp = sense;
    hdr.mx_sb_len = (unsigned char)senseMax;
    hdr.timeout = req.TimeOutValue > 0xFFFFFFFFu / 1000 ? 0xFFFFFFFFu : req.TimeOutValue * 1000;

    if (ioctl(ph->Fd, SG_IO, &hdr) != 0) return QelVRXPR_FailWith(QelVRXPR_MapErrno(errno));
    DWORD failure = QelVRXPR_MapSgResult(hdr.status, hdr.host_status, hdr.driver_status);

    SCSI_PASS_THROUGH_DIRECT* res = reinterpret_cast<SCSI_PASS_THROUGH_DIRECT*>(blk);
    size_t senseLen = std::min<size_t>(hdr.sb_len_wr, senseMax);
    if (senseLen != 0) std::memcpy(blk + req.SenseInfoOffset, sense, senseLen);
    res->SenseInfoLength = (UCHAR)senseLen;
    if (hdr.resid > 0 && (unsigned)hdr.resid <= req.DataTransferLength)
        res->DataTransferLength = req.DataTransferLength - (ULONG)hdr.resid;
    res->ScsiStatus = hdr.status;
    if (failure != 0) return QelVRXPR_FailWith(failure);
    if (pReturned != nullptr) *pReturned = blkSize;
    return 1;
}

// "/sys/class/scsi_host/hostN", or "hostN" alone as the folder lists it.
bool QelVRXPR_ParsePortName(const char* name, unsigned* pHost, bool whole = true)
{
    const char* prefix = whole ? PF_PORT_PREFIX : "host";
    size_t n = std::strlen(prefix);
    if (std::strncmp(name, prefix, n) != 0) return false;
    const char* p = name + n;
    uint64_t host;
    if (!QelVRXPR_ParseNumber(p, &host) || *p != '\0' || host >= PF_PORT_LIMIT) return false;
    *pHost = (unsigned)host;
    return true;
}

}  // namespace

// The kernel numbers its hosts from 0 and gives a new one the lowest free
// number (older kernels counted on). Trying all 65536 names would cost a
// guest under emulation about 90 ms; one past the highest present costs a
// directory read.
unsigned QelVRXPR_GetPortCount()
{
    char buf[PF_PATH_LEN];
    const char* path = QelVRXPR_MakeRootPath(PF_HOST_DIR, buf);
    DIR* dir = path != nullptr ? opendir(path) : nullptr;
    // Unreadable: port 0's open then reports why.
    if (dir == nullptr) return errno == ENOENT ? 0 : 1;
    unsigned count = 0;
    while (dirent* e = readdir(dir)) {
        unsigned host;
        if (QelVRXPR_ParsePortName(e->d_name, &host, false) && host >= count) count = host + 1;
    }
    closedir(dir);
    return count;
}

HANDLE QelVRXPR_OpenDevice(const char* name)
{
    PF_HANDLE* ph = QelVRXPR_AllocHandle();
    if (ph == nullptr) {
        g_PfLastErr = PF_ERROR_TOO_MANY_OPEN_FILES;
        return INVALID_HANDLE_VALUE;
    }
    char buf[PF_PATH_LEN];
    const char* path = QelVRXPR_MakeRootPath(name, buf);
    if (path == nullptr) {
        g_PfLastErr = QelVRXPR_MapErrno(errno);
        return INVALID_HANDLE_VALUE;
    }
    unsigned host;
    if (QelVRXPR_ParsePortName(name, &host)) {
        struct stat st;
        if (stat(path, &st) != 0) {
            g_PfLastErr = QelVRXPR_MapErrno(errno);
            return INVALID_HANDLE_VALUE;
        }
        ph->Kind = PF_HANDLE_PORT;
        ph->Fd = -1;
        ph->Host = host;
        return ph;
    }
    int fd = open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        g_PfLastErr = QelVRXPR_MapErrno(errno);
        return INVALID_HANDLE_VALUE;
    }
    ph->Kind = PF_HANDLE_DRIVE;
    ph->Fd = fd;
    ph->Host = 0;
    return ph;
}

int QelVRXPR_RequestDevice(HANDLE h, DWORD code, void* in, DWORD inSize, void* out,
                           DWORD outSize, DWORD* pReturned)
{
    if (pReturned != nullptr) *pReturned = 0;
    PF_HANDLE* ph = QelVRXPR_FindHandle(h);
    if (ph == nullptr) return QelVRXPR_FailWith(PF_ERROR_INVALID_PARAMETER);
    switch (code) {
    case IOCTL_SCSI_GET_INQUIRY_DATA:
        if (ph->Kind != PF_HANDLE_PORT) break;
        return QelVRXPR_GetInquiryData(ph, out, outSize, pReturned);
    case IOCTL_SCSI_GET_ADDRESS:
        if (ph->Kind != PF_HANDLE_DRIVE) break;
        return QelVRXPR_GetAddress(ph, out, outSize, pReturned);
    case IOCTL_SCSI_PASS_THROUGH_DIRECT:
        if (ph->Kind != PF_HANDLE_DRIVE) break;
        return QelVRXPR_PassThrough(ph, in, inSize, out, outSize, pReturned);
    default:
        break;
    }
    return QelVRXPR_FailWith(PF_ERROR_INVALID_FUNCTION);
}

void QelVRXPR_CloseDevice(HANDLE h)
{
    PF_HANDLE* ph = QelVRXPR_FindHandle(h);
    if (ph == nullptr) return;
    if (ph->Fd >= 0) close(ph->Fd);
    ph->Kind = PF_HANDLE_FREE;
    ph->Fd = -1;
    ph->HasArea = false;
    std::free(ph->Area);
    ph->Area = nullptr;
    ph->AreaLen = 0;
}

DWORD QelVRXPR_GetLastErr()
{
    return g_PfLastErr;
}

// Each failure as the code Windows reports for the same condition; 1117
// stays the host byte's reservation conflict alone.
DWORD QelVRXPR_MapErrno(int err)
{
    switch (err) {
    case ETIMEDOUT:
        return PF_ERROR_SEM_TIMEOUT;
    case ENODEV:
    case ENXIO:
        return PF_ERROR_DEV_NOT_EXIST;
    case EACCES:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    case ENOMEM:
        return PF_ERROR_NOT_ENOUGH_MEMORY;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    default:
        return PF_ERROR_GEN_FAILURE;
    }
}

DWORD QelVRXPR_MapSgResult(unsigned status, unsigned hostStatus, unsigned driverStatus)
{
    // The device's own answer wins: a RESERVATION CONFLICT comes as status
    // 0x18, while older kernels flag it on the host byte with no status.
    if (status != 0) return 0;
    switch (hostStatus) {
    case 0:
        return (driverStatus & PF_DRIVER_ERROR_MASK) != 0 ? PF_ERROR_GEN_FAILURE : 0;
    case PF_DID_TIME_OUT:
        return PF_ERROR_SEM_TIMEOUT;
    case PF_DID_NO_CONNECT:
    case PF_DID_BAD_TARGET:
        return PF_ERROR_DEV_NOT_EXIST;
    case PF_DID_NEXUS_FAILURE:
        return ERROR_IO_DEVICE;
    default:
        return PF_ERROR_GEN_FAILURE;
    }
}

// Ports are SCSI hosts: which hosts there are, and each host's devices laid
// out as a Windows port driver's inquiry data.
#include "platform/linux/pf_linux.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace {

#define PF_SYS_DIR "/sys"
#define PF_HOST_DIR PF_SYS_DIR "/class/scsi_host"
#define PF_PORT_PREFIX PF_HOST_DIR "/host"
#define PF_SCSI_DEVICES "/sys/bus/scsi/devices"
// As a Windows port driver does: each record has room for the first 36
// bytes of INQUIRY data (zeros past what the device gave), whatever the
// device keeps beyond them.
#define PF_INQUIRY_KEEP 36
#define PF_RECORD_ALIGN 8
// No driver numbers its channels past a few; the bus table of a larger
// number would pass half a megabyte.
#define PF_CHANNEL_MAX 0xFFFFu
// Port numbers stop one short of the largest, so that the port after the
// last one is still a number.
#define PF_HOST_LIMIT 0xFFFFFFFFu

// Why the class folder could not be read, for the port discovery would
// have tried next to fail with.
DWORD g_PfHostsFailure;
unsigned g_PfHostsFailurePort;

struct PF_SCSI_DEV {
    uint64_t Channel;
    uint64_t Target;
    uint64_t Lun;
    size_t InquiryLen;
    uint8_t Inquiry[PF_INQUIRY_KEEP];
};

// "hostN" as the class folder lists it.
bool QelVRXPR_ParseHostEntry(const char* name, const char* prefix, unsigned* pHost)
{
    size_t n = std::strlen(prefix);
    if (std::strncmp(name, prefix, n) != 0) return false;
    const char* p = name + n;
    uint64_t host;
    if (!QelVRXPR_ParseNumber(p, &host) || *p != '\0' || host >= PF_HOST_LIMIT) return false;
    *pHost = (unsigned)host;
    return true;
}

// Only these say that a device went away. Any other failure (no
// descriptor left, no memory, no permission) would drop an LU unseen.
bool QelVRXPR_DeviceGone(int err)
{
    return err == ENOENT || err == ENODEV || err == ENXIO;
}

// 1 read; 0 the device went away; -1 failed, errno says why.
int QelVRXPR_ReadInquiry(int devFd, PF_SCSI_DEV* pDev)
{
    int fd = openat(devFd, "inquiry", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return QelVRXPR_DeviceGone(errno) ? 0 : -1;
    size_t len = 0;
    int rc = 1;
    while (len < sizeof pDev->Inquiry) {
        ssize_t n = read(fd, pDev->Inquiry + len, sizeof pDev->Inquiry - len);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) rc = QelVRXPR_DeviceGone(errno) ? 0 : -1;
        if (n <= 0) break;
        len += (size_t)n;
    }
    int err = errno;
    close(fd);
    errno = err;
    pDev->InquiryLen = len;
    return rc;
}

// Where sysfs is not mounted (a chroot, a rescue shell) or something else
// is, a missing class folder says nothing about the SCSI hosts.
bool QelVRXPR_SysfsMounted()
{
    char buf[PF_PATH_LEN];
    const char* sys = QelVRXPR_MakeRootPath(PF_SYS_DIR, buf);
    struct statfs st;
    return sys != nullptr && statfs(sys, &st) == 0 &&
           (unsigned long)st.f_type == QelVRXPR_SysfsMagic();
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
    int err = 0;
    for (;;) {
        errno = 0;
        dirent* e = readdir(dir);
        if (e == nullptr) {
            err = errno;
            break;
        }
        uint64_t hctl[4];
        if (!QelVRXPR_ParseDeviceName(e->d_name, hctl) || hctl[0] != host) continue;
        // The kernel numbers channels and targets in 32 bits; a name past
        // that is no device of its. The bus table has an entry for every
        // channel up to the highest, so a channel past what any area can
        // hold makes the host unreadable rather than hide an LU.
        if (hctl[1] > PF_CHANNEL_MAX || hctl[2] > UINT32_MAX) {
            closedir(dir);
            std::free(found);
            return QelVRXPR_FailWith(ERROR_NOT_SUPPORTED);
        }
        if (hctl[3] > INT32_MAX) g_PfWideLuns = true;
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
        // The entry leads deep into the device tree: walked once per device,
        // for its INQUIRY data and its state. A device going away between
        // the listing and the read is skipped.
        int devFd = openat(dirfd(dir), e->d_name, O_PATH | O_DIRECTORY | O_CLOEXEC);
        int rc = -1;
        if (devFd >= 0)
            rc = QelVRXPR_ReadInquiry(devFd, &dev);
        else if (QelVRXPR_DeviceGone(errno))
            rc = 0;
        if (rc < 0) {
            err = errno;
            if (devFd >= 0) close(devFd);
            break;
        }
        if (rc > 0) {
            QelVRXPR_KeepDeviceState(devFd, hctl);
            ++count;
        }
        if (devFd >= 0) close(devFd);
    }
    closedir(dir);
    if (err != 0) {
        std::free(found);
        return QelVRXPR_FailWith(QelVRXPR_MapErrno(err));
    }
    std::sort(found, found + count, [](const PF_SCSI_DEV& a, const PF_SCSI_DEV& b) {
        if (a.Channel != b.Channel) return a.Channel < b.Channel;
        if (a.Target != b.Target) return a.Target < b.Target;
        return a.Lun < b.Lun;
    });
    *pDevs = found;
    *pCount = count;
    return 1;
}

void QelVRXPR_PutU32(uint8_t* area, size_t at, uint32_t v)
{
    std::memcpy(area + at, &v, sizeof v);
}

#define PF_PUT_FIELD(area, at, type, field, v) \
    QelVRXPR_PutNumber((area) + (at) + offsetof(type, field), VRX_FIELD_SIZE(type, field), (v))

void QelVRXPR_PutNumber(uint8_t* p, size_t size, uint64_t v)
{
    for (size_t i = 0; i < size; ++i, v >>= 8) p[i] = (uint8_t)v;
}

size_t QelVRXPR_AlignRecord(size_t at)
{
    return (at + PF_RECORD_ALIGN - 1) / PF_RECORD_ALIGN * PF_RECORD_ALIGN;
}

// DeviceClaimed stays 0: discovery selects by the INQUIRY data alone.
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
    PF_PUT_FIELD(area, 0, SCSI_ADAPTER_BUS_INFO, NumberOfBuses, buses);

    size_t end = head;
    size_t prevNext = 0;  // where the previous record of this bus keeps its link
    uint64_t prevChannel = UINT64_MAX;
    for (size_t i = 0; i < count; ++i) {
        const PF_SCSI_DEV& d = devs[i];
        size_t at = QelVRXPR_AlignRecord(end);
        end = at + record;

        PF_PUT_FIELD(area, at, SCSI_INQUIRY_DATA, PathId, d.Channel);
        PF_PUT_FIELD(area, at, SCSI_INQUIRY_DATA, TargetId, d.Target);
        PF_PUT_FIELD(area, at, SCSI_INQUIRY_DATA, Lun, d.Lun);
        QelVRXPR_PutU32(area, at + offsetof(SCSI_INQUIRY_DATA, InquiryDataLength),
                        (uint32_t)d.InquiryLen);
        std::memcpy(area + at + offsetof(SCSI_INQUIRY_DATA, InquiryData), d.Inquiry, d.InquiryLen);

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

}  // namespace

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

// Anything else in the folder (targets, hosts) is not a device.
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

bool QelVRXPR_ParsePortName(const char* name, unsigned* pHost)
{
    return QelVRXPR_ParseHostEntry(name, PF_PORT_PREFIX, pHost);
}

// A host that went away since the class folder was read is passed over; one
// that cannot be looked at opens, and its inquiry says why.
int QelVRXPR_OpenPort(PF_HANDLE* ph, const char* path, unsigned host)
{
    DWORD failure = host == g_PfHostsFailurePort ? g_PfHostsFailure : 0;
    struct stat st;
    if (failure == 0 && stat(path, &st) != 0) {
        if (QelVRXPR_DeviceGone(errno)) return QelVRXPR_FailWith(QelVRXPR_MapErrno(errno));
        failure = QelVRXPR_MapErrno(errno);
    }
    ph->Kind = PF_HANDLE_PORT;
    ph->Fd = -1;
    ph->Host = host;
    ph->Failure = failure;
    return 1;
}

int QelVRXPR_GetInquiryData(PF_HANDLE* ph, void* out, DWORD outSize, DWORD* pReturned)
{
    if (ph->Failure != 0) return QelVRXPR_FailWith(ph->Failure);
    if (!ph->HasArea && !QelVRXPR_BuildInquiryData(ph)) return 0;
    if (out == nullptr || ph->AreaLen > outSize) return QelVRXPR_FailWith(ERROR_MORE_DATA);
    std::memcpy(out, ph->Area, ph->AreaLen);
    if (pReturned != nullptr) *pReturned = (DWORD)ph->AreaLen;
    return 1;
}

// Host numbers only grow on some kernels (iSCSI sessions, adapters coming
// back), and a host of any number may hold an LU: each step reads the
// class folder once and goes straight to the next host there, so the scan
// costs one folder read per host present, whatever their numbers.
int QelVRXPR_GetNextPort(unsigned* pPort)
{
    g_PfHostsFailure = 0;
    char buf[PF_PATH_LEN];
    const char* path = QelVRXPR_MakeRootPath(PF_HOST_DIR, buf);
    DIR* dir = path != nullptr ? opendir(path) : nullptr;
    int err = dir == nullptr ? errno : 0;
    bool found = false;
    unsigned next = 0;
    while (dir != nullptr) {
        errno = 0;
        dirent* e = readdir(dir);
        if (e == nullptr) {
            err = errno;
            break;
        }
        unsigned host;
        if (QelVRXPR_ParseHostEntry(e->d_name, "host", &host) && host >= *pPort &&
            (!found || host < next)) {
            next = host;
            found = true;
        }
    }
    if (dir != nullptr) closedir(dir);
    // No SCSI host (left) only where sysfs says so; otherwise the port
    // tried next opens to fail its inquiry with the reason.
    if (err == ENOENT && dir == nullptr && QelVRXPR_SysfsMounted()) return 0;
    if (err != 0) {
        g_PfHostsFailure = err == ENOENT ? PF_ERROR_PATH_NOT_FOUND : QelVRXPR_MapErrno(err);
        g_PfHostsFailurePort = *pPort;
        return 1;
    }
    if (found) *pPort = next;
    return found;
}

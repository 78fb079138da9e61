// The pass-through as SG_IO, and each failure as the code Windows reports.
#include "platform/linux/pf_linux.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

#define PF_DEVICE_STATE_FMT "/sys/dev/char/%u:%u/device/state"
#define PF_STATE_RUNNING "running"
#define PF_STATE_POLL_NS 100000000L
#define PF_NS_PER_SEC 1000000000LL

enum PF_DEVICE_STATE { PF_STATE_UNKNOWN, PF_STATE_RUNS, PF_STATE_STOPPED };

// The state of the SCSI device the descriptor is open on, found through the
// descriptor's own device number: an sg minor is not given to another
// device while a descriptor holds it. A state that cannot be read (the
// device gone from sysfs, no sysfs) holds nothing back: SG_IO's own result
// then says what became of the device.
PF_DEVICE_STATE QelVRXPR_ReadDeviceState(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return PF_STATE_UNKNOWN;
    char rel[64], buf[PF_PATH_LEN];
    std::snprintf(rel, sizeof rel, PF_DEVICE_STATE_FMT, major(st.st_rdev), minor(st.st_rdev));
    const char* path = QelVRXPR_MakeRootPath(rel, buf);
    int sfd = path != nullptr ? open(path, O_RDONLY | O_CLOEXEC) : -1;
    if (sfd < 0) return PF_STATE_UNKNOWN;
    char text[32];
    ssize_t n = read(sfd, text, sizeof text - 1);
    close(sfd);
    if (n <= 0) return PF_STATE_UNKNOWN;
    text[n] = '\0';
    text[std::strcspn(text, "\n")] = '\0';
    return std::strcmp(text, PF_STATE_RUNNING) == 0 ? PF_STATE_RUNS : PF_STATE_STOPPED;
}

long long QelVRXPR_NowNs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * PF_NS_PER_SEC + ts.tv_nsec;
}

// A device whose transport is in recovery (blocked) holds a command back
// without starting its time-out, until the transport gives up minutes
// later, and the sg driver still sends it if the run has ended meanwhile:
// such a device gets no command. False when it did not run again within
// the command's own time-out. (A path lost between the look and SG_IO is
// not caught; the look narrows that to the span of two system calls.)
bool QelVRXPR_WaitDeviceRuns(int fd, ULONG timeOutSec)
{
    long long deadline = QelVRXPR_NowNs() + (long long)timeOutSec * PF_NS_PER_SEC;
    for (;;) {
        if (QelVRXPR_ReadDeviceState(fd) != PF_STATE_STOPPED) return true;
        long long left = deadline - QelVRXPR_NowNs();
        if (left <= 0) return false;
        struct timespec nap = {0, left < PF_STATE_POLL_NS ? (long)left : PF_STATE_POLL_NS};
        nanosleep(&nap, nullptr);
    }
}

// SG_IO with the stop signals held back: a stop while it waits would end
// the wait and, at the continue, restart the ioctl, sending the command a
// second time. (SIGSTOP cannot be held back.)
int QelVRXPR_SendSgIo(int fd, sg_io_hdr_t* pHdr)
{
    sigset_t stops, old;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTSTP);
    sigaddset(&stops, SIGTTIN);
    sigaddset(&stops, SIGTTOU);
    sigprocmask(SIG_BLOCK, &stops, &old);
    int rc = ioctl(fd, SG_IO, pHdr);
    int err = errno;
    sigprocmask(SIG_SETMASK, &old, nullptr);
    errno = err;
    return rc;
}

}  // namespace

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

    if (!QelVRXPR_WaitDeviceRuns(ph->Fd, req.TimeOutValue)) return QelVRXPR_FailWith(PF_ERROR_NOT_READY);
    if (QelVRXPR_SendSgIo(ph->Fd, &hdr) != 0) return QelVRXPR_FailWith(QelVRXPR_MapErrno(errno));
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

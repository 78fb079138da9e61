// The pass-through through the sg driver, and each failure as the code
// Windows reports. The command is written to the drive once and its answer
// read when poll() says it is there: a signal that stops the process (a
// debugger, a tracer, SIGSTOP) only restarts the wait, where SG_IO would
// send the command again. The drive is open with O_NONBLOCK, so neither the
// open nor the write waits in the kernel for a host in error recovery.
#include "platform/linux/pf_linux.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <poll.h>

namespace {

#define PF_OP_PR_IN 0x5E
// The block layer rounds a request's time-out up to the next whole second
// before its timer runs, so the kernel's own answer to a command that timed
// out can come a second late; as much again for the completion to reach
// the process on a loaded machine.
#define PF_ANSWER_MARGIN_MS 2000LL
#define PF_MS_PER_SEC 1000LL

long long QelVRXPR_NowMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * PF_MS_PER_SEC + ts.tv_nsec / 1000000;
}

// The answer to the one request outstanding on fd, waited for until
// deadlineMs; 0 once hdr holds it, else the Windows code of the failure.
// Given up, the request stays with the kernel, which frees it when it ends.
DWORD QelVRXPR_AwaitAnswer(int fd, sg_io_hdr_t* pHdr, long long deadlineMs)
{
    for (;;) {
        ssize_t n = QelVRXPR_SgRead(fd, pHdr);
        if (n == (ssize_t)sizeof *pHdr) return 0;
        if (n >= 0) return PF_ERROR_GEN_FAILURE;
        if (errno != EAGAIN && errno != EINTR) return QelVRXPR_MapErrno(errno);
        short revents = 0;
        int rc;
        do {
            long long left = deadlineMs - QelVRXPR_NowMs();
            if (left <= 0) return PF_ERROR_SEM_TIMEOUT;
            rc = QelVRXPR_SgPoll(fd, (int)std::min<long long>(left, INT_MAX), &revents);
        } while (rc == 0 || (rc < 0 && errno == EINTR));
        if (rc < 0) return QelVRXPR_MapErrno(errno);
        // The device is being removed: its request ends without an answer.
        if ((revents & POLLIN) == 0 && (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            n = QelVRXPR_SgRead(fd, pHdr);
            return n == (ssize_t)sizeof *pHdr ? 0 : PF_ERROR_DEV_NOT_EXIST;
        }
    }
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

    // A late READ KEYS or READ RESERVATION changes nothing on the LU: it
    // waits out its deadline alone. Anything else waits for its path to
    // run first, so that it does not reach the LU after the run gave up.
    if (req.Cdb[0] != PF_OP_PR_IN && !QelVRXPR_WaitPathRuns(ph, req.TimeOutValue))
        return QelVRXPR_FailWith(PF_ERROR_NOT_READY);
    ssize_t written = QelVRXPR_SgWrite(ph->Fd, &hdr);
    if (written < 0) return QelVRXPR_FailWith(QelVRXPR_MapErrno(errno));
    if (written != (ssize_t)sizeof hdr) return QelVRXPR_FailWith(PF_ERROR_GEN_FAILURE);
    long long deadline = QelVRXPR_NowMs() + (long long)req.TimeOutValue * PF_MS_PER_SEC +
                         PF_ANSWER_MARGIN_MS;
    DWORD lost = QelVRXPR_AwaitAnswer(ph->Fd, &hdr, deadline);
    if (lost != 0) return QelVRXPR_FailWith(lost);
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

// The pass-through as SG_IO, and each failure as the code Windows reports.
#include "platform/linux/pf_linux.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <scsi/sg.h>
#include <sys/ioctl.h>

namespace {

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

    if (!QelVRXPR_WaitDeviceRuns(ph, req.TimeOutValue)) return QelVRXPR_FailWith(PF_ERROR_NOT_READY);
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
    case EMFILE:
    case ENFILE:
        return PF_ERROR_TOO_MANY_OPEN_FILES;
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

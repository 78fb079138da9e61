// The sg driver's own calls, for the installed layer.
#include "platform/linux/pf_linux.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

int QelVRXPR_SgGetScsiId(int fd, struct sg_scsi_id* pId)
{
    return ioctl(fd, SG_GET_SCSI_ID, pId);
}

ssize_t QelVRXPR_SgWrite(int fd, const sg_io_hdr_t* pHdr)
{
    return write(fd, pHdr, sizeof *pHdr);
}

int QelVRXPR_SgPoll(int fd, int timeoutMs, short* pRevents)
{
    struct pollfd p = {fd, POLLIN, 0};
    int rc = poll(&p, 1, timeoutMs);
    *pRevents = p.revents;
    return rc;
}

ssize_t QelVRXPR_SgRead(int fd, sg_io_hdr_t* pHdr)
{
    return read(fd, pHdr, sizeof *pHdr);
}

// Ports are SCSI hosts, drives are sg devices, and the pass-through is SG_IO:
// the handles the logic holds, and the requests on them.
#include "platform/linux/pf_linux.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

const char g_PfPortNameFmt[] = "/sys/class/scsi_host/host%u";
const char g_PfDriveNameFmt[] = "/dev/sg%d";
const char g_PfDriveNameFmtLong[] = "/dev/sg%lu";

namespace {

#define PF_HANDLE_SLOTS 8

// A fixed table: a handle left open on a fatal path is no leak.
PF_HANDLE g_PfHandles[PF_HANDLE_SLOTS];
DWORD g_PfLastErr;

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

}  // namespace

bool QelVRXPR_RootMoved(char* seen)
{
    char buf[PF_PATH_LEN];
    const char* root = QelVRXPR_MakeRootPath("/", buf);
    if (root == nullptr || std::strcmp(root, seen) == 0) return false;
    std::snprintf(seen, PF_PATH_LEN, "%s", root);
    return true;
}

int QelVRXPR_FailWith(DWORD err)
{
    g_PfLastErr = err;
    return 0;
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
    if (QelVRXPR_ParsePortName(name, &host))
        return QelVRXPR_OpenPort(ph, path, host) ? ph : INVALID_HANDLE_VALUE;
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
    ph->Failure = 0;
    ph->HasArea = false;
    ph->HasAddress = false;
    std::free(ph->Area);
    ph->Area = nullptr;
    ph->AreaLen = 0;
}

DWORD QelVRXPR_GetLastErr()
{
    return g_PfLastErr;
}

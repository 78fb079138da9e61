// A drive's SCSI address: that of the very device its descriptor is open
// on. The sg driver keeps a device's number while any descriptor holds it
// open, even after the device is gone, so the number the descriptor reports
// names that device and no other, whatever kind of node was opened (made by
// devtmpfs, by hand with mknod, or bind-mounted into a container).
#include "platform/linux/pf_linux.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

bool g_PfWideLuns;

namespace {

#define PF_CHAR_DEVICES "/sys/dev/char"

// /sys/dev/char, kept open: a guest under emulation feels each path walk.
int QelVRXPR_OpenCharDir()
{
    static int s_Fd = -1;
    static char s_Root[PF_PATH_LEN];
    bool moved = QelVRXPR_RootMoved(s_Root);
    if (s_Fd >= 0 && !moved) return s_Fd;
    if (s_Fd >= 0) close(s_Fd);
    char buf[PF_PATH_LEN];
    const char* path = QelVRXPR_MakeRootPath(PF_CHAR_DEVICES, buf);
    s_Fd = path != nullptr ? open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    return s_Fd;
}

// From the sysfs entry of the node's device number,
// ".../H:C:T:L/scsi_generic/sgN", with the whole LUN. The link is read
// without following it, which would cost a walk through the device tree.
// Once the device is removed the entry is gone, so the read fails.
int QelVRXPR_ReadSysfsAddress(const struct stat& st, SCSI_ADDRESS* pAddr)
{
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
    if (hctl[0] > UINT32_MAX || hctl[1] > UINT32_MAX || hctl[2] > UINT32_MAX)
        return QelVRXPR_FailWith(ERROR_NOT_SUPPORTED);
    pAddr->Length = sizeof *pAddr;
    pAddr->PortNumber = (ULONG)hctl[0];
    pAddr->PathId = (ULONG)hctl[1];
    pAddr->TargetId = (ULONG)hctl[2];
    pAddr->Lun = hctl[3];
    return 1;
}

}  // namespace

// SG_GET_SCSI_ID answers at the pace of one system call but keeps only the
// low 32 bits of the LUN. The rest is known without sysfs while the device
// discovery found at that address is still there (its kept state file
// reads): the descriptor holds the device it reaches, so that is the one.
// Otherwise, or when a LUN above 31 bits is about (one discovery listed, or
// this one), sysfs gives it whole: a newcomer whose LUN matches a listed
// one in its low 32 bits is told apart. Nodes that are no sg device have
// sysfs alone.
int QelVRXPR_GetAddress(PF_HANDLE* ph, void* out, DWORD outSize, DWORD* pReturned)
{
    if (out == nullptr || outSize < sizeof(SCSI_ADDRESS))
        return QelVRXPR_FailWith(PF_ERROR_INSUFFICIENT_BUFFER);
    SCSI_ADDRESS a;
    std::memset(&a, 0, sizeof a);
    struct sg_scsi_id id;
    std::memset(&id, 0, sizeof id);
    bool sg = QelVRXPR_SgGetScsiId(ph->Fd, &id) == 0;
    if (!sg && errno != ENOTTY && errno != EINVAL)
        return QelVRXPR_FailWith(QelVRXPR_MapErrno(errno));
    bool whole = false;
    if (sg) {
        a.Length = sizeof a;
        a.PortNumber = (ULONG)id.host_no;
        a.PathId = (ULONG)id.channel;
        a.TargetId = (ULONG)id.scsi_id;
        a.Lun = (uint32_t)id.lun;
        const uint64_t hctl[4] = {a.PortNumber, a.PathId, a.TargetId, a.Lun};
        whole = !g_PfWideLuns && id.lun >= 0 && QelVRXPR_KeptDeviceLives(hctl);
    }
    if (!whole) {
        struct stat st;
        if (fstat(ph->Fd, &st) != 0) return QelVRXPR_FailWith(QelVRXPR_MapErrno(errno));
        if (!S_ISCHR(st.st_mode)) return QelVRXPR_FailWith(PF_ERROR_INVALID_FUNCTION);
        SCSI_ADDRESS entry;
        if (!QelVRXPR_ReadSysfsAddress(st, &entry)) return 0;
        // Both answer for the device the descriptor holds; a difference
        // means the entry is not that device's.
        if (sg && (entry.PortNumber != a.PortNumber || entry.PathId != a.PathId ||
                   entry.TargetId != a.TargetId || (uint32_t)entry.Lun != (uint32_t)a.Lun))
            return QelVRXPR_FailWith(PF_ERROR_DEV_NOT_EXIST);
        a = entry;
    }
    ph->HasAddress = true;
    ph->Hctl[0] = a.PortNumber;
    ph->Hctl[1] = a.PathId;
    ph->Hctl[2] = a.TargetId;
    ph->Hctl[3] = a.Lun;
    std::memcpy(out, &a, sizeof a);
    if (pReturned != nullptr) *pReturned = sizeof a;
    return 1;
}

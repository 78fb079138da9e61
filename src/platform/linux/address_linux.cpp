// A drive's SCSI address: the whole H:C:T:L of the device its descriptor is
// open on, from sysfs (SG_GET_SCSI_ID keeps only 32 bits of the LUN).
#include "platform/linux/pf_linux.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

#define PF_CHAR_DEVICES "/sys/dev/char"
#define PF_MOUNT_INFO "/proc/self/mountinfo"
#define PF_DEVTMPFS_MAX 8

// The node a drive name led to when its address was read from sysfs.
struct PF_NODE_ADDRESS {
    bool Known;
    dev_t Dev;
    ino_t Ino;
    dev_t Rdev;
    SCSI_ADDRESS Address;
};

PF_NODE_ADDRESS* g_PfNodes;  // indexed by drive number
size_t g_PfNodeCount;

// Where a drive's name is looked up, and the table kept for it: a table
// from another root (tests) says nothing about this one.
char g_PfRootSeen[PF_PATH_LEN];

dev_t g_PfDevtmpfs[PF_DEVTMPFS_MAX];
size_t g_PfDevtmpfsCount;

// Opened or read again, and the table emptied, when the root the layer's
// paths stand under changes (tests).
bool QelVRXPR_SameRoot()
{
    char buf[PF_PATH_LEN];
    const char* path = QelVRXPR_MakeRootPath("/", buf);
    if (path == nullptr) return false;
    if (std::strcmp(path, g_PfRootSeen) == 0) return true;
    std::snprintf(g_PfRootSeen, sizeof g_PfRootSeen, "%s", path);
    return false;
}

// The file systems mounted as devtmpfs, by the device number their files
// report: read once.
void QelVRXPR_ReadDevtmpfs()
{
    g_PfDevtmpfsCount = 0;
    char buf[PF_PATH_LEN];
    const char* path = QelVRXPR_MakeRootPath(PF_MOUNT_INFO, buf);
    FILE* f = path != nullptr ? std::fopen(path, "re") : nullptr;
    if (f == nullptr) return;
    char* line = nullptr;
    size_t cap = 0;
    // "36 25 0:5 / /dev rw,nosuid shared:2 - devtmpfs udev rw,..."
    while (getline(&line, &cap, f) > 0 && g_PfDevtmpfsCount < PF_DEVTMPFS_MAX) {
        unsigned maj, min;
        const char* sep = std::strstr(line, " - ");
        if (sep == nullptr || std::strncmp(sep + 3, "devtmpfs ", 9) != 0) continue;
        if (std::sscanf(line, "%*u %*u %u:%u ", &maj, &min) != 2) continue;
        g_PfDevtmpfs[g_PfDevtmpfsCount++] = makedev(maj, min);
    }
    std::free(line);
    std::fclose(f);
}

bool QelVRXPR_IsOnDevtmpfs(dev_t dev)
{
    for (size_t i = 0; i < g_PfDevtmpfsCount; ++i)
        if (g_PfDevtmpfs[i] == dev) return true;
    return false;
}

// /sys/dev/char, kept open: every mapping step reads an address there, and
// a guest under emulation feels each path walk.
int QelVRXPR_OpenCharDir(bool sameRoot)
{
    static int s_Fd = -1;
    if (s_Fd >= 0 && sameRoot) return s_Fd;
    if (s_Fd >= 0) close(s_Fd);
    char buf[PF_PATH_LEN];
    const char* path = QelVRXPR_MakeRootPath(PF_CHAR_DEVICES, buf);
    s_Fd = path != nullptr ? open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    return s_Fd;
}

// From the sysfs entry of the node's device number,
// ".../H:C:T:L/scsi_generic/sgN". The link is read without following it,
// which would cost a walk through the device tree. Once the device is
// removed its number names another device or none, and the descriptor's
// own requests fail, so an address read here never sends a command to an
// LU it does not belong to.
int QelVRXPR_ReadSysfsAddress(const struct stat& st, bool sameRoot, SCSI_ADDRESS* pAddr)
{
    char rel[64];
    std::snprintf(rel, sizeof rel, "%u:%u", major(st.st_rdev), minor(st.st_rdev));
    int dir = QelVRXPR_OpenCharDir(sameRoot);
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
    pAddr->Length = sizeof *pAddr;
    pAddr->PortNumber = (UCHAR)hctl[0];
    pAddr->PathId = (UCHAR)hctl[1];
    pAddr->TargetId = (UCHAR)hctl[2];
    pAddr->Lun = (UCHAR)hctl[3];
    return 1;
}

PF_NODE_ADDRESS* QelVRXPR_GetNodeSlot(long drive)
{
    if (drive < 0) return nullptr;
    size_t at = (size_t)drive;
    if (at >= g_PfNodeCount) {
        size_t count = at + 1 > g_PfNodeCount * 2 ? at + 1 : g_PfNodeCount * 2;
        void* grown = std::realloc(g_PfNodes, count * sizeof *g_PfNodes);
        if (grown == nullptr) return nullptr;  // sysfs is read every time instead
        g_PfNodes = static_cast<PF_NODE_ADDRESS*>(grown);
        std::memset(g_PfNodes + g_PfNodeCount, 0, (count - g_PfNodeCount) * sizeof *g_PfNodes);
        g_PfNodeCount = count;
    }
    return &g_PfNodes[at];
}

}  // namespace

// The node the descriptor is open on is the very node an earlier read of
// this drive name found, and it lives on devtmpfs: the device is the one
// read then, since devtmpfs deletes a removed device's node and gives a
// new device a node of its own (a new inode, even under the same name).
// Anywhere else sysfs is read again, before every command.
int QelVRXPR_GetAddress(const PF_HANDLE* ph, void* out, DWORD outSize, DWORD* pReturned)
{
    if (out == nullptr || outSize < sizeof(SCSI_ADDRESS))
        return QelVRXPR_FailWith(PF_ERROR_INSUFFICIENT_BUFFER);
    struct stat st;
    if (fstat(ph->Fd, &st) != 0) return QelVRXPR_FailWith(QelVRXPR_MapErrno(errno));
    if (!S_ISCHR(st.st_mode)) return QelVRXPR_FailWith(PF_ERROR_INVALID_FUNCTION);
    bool sameRoot = QelVRXPR_SameRoot();
    if (!sameRoot) {
        for (size_t i = 0; i < g_PfNodeCount; ++i) g_PfNodes[i].Known = false;
        QelVRXPR_ReadDevtmpfs();
    }
    PF_NODE_ADDRESS* slot = QelVRXPR_GetNodeSlot(ph->Drive);
    SCSI_ADDRESS a;
    if (slot != nullptr && slot->Known && slot->Dev == st.st_dev && slot->Ino == st.st_ino &&
        slot->Rdev == st.st_rdev && QelVRXPR_IsOnDevtmpfs(st.st_dev)) {
        a = slot->Address;
    } else {
        if (slot != nullptr) slot->Known = false;
        if (!QelVRXPR_ReadSysfsAddress(st, sameRoot, &a)) return 0;
        if (slot != nullptr) *slot = PF_NODE_ADDRESS{true, st.st_dev, st.st_ino, st.st_rdev, a};
    }
    std::memcpy(out, &a, sizeof a);
    if (pReturned != nullptr) *pReturned = sizeof a;
    return 1;
}

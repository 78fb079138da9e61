// Whether the SCSI device behind a drive descriptor and its host run: a
// device whose transport is in recovery (blocked), or a host in error
// recovery, holds a command back without starting its time-out, for
// minutes, and the sg driver still sends it once the run has given up.
#include "platform/linux/pf_linux.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

#define PF_DEVICE_STATE_FMT "/sys/dev/char/%u:%u/device/state"
#define PF_HOST_STATE_FMT "/sys/class/scsi_host/host%u/state"
#define PF_STATE_RUNNING "running"
#define PF_STATE_POLL_NS 100000000L
#define PF_NS_PER_SEC 1000000000LL
// Kept state files may take at most this share of the descriptors the
// process may open beyond a reserve for the rest of the run: the standard
// streams, a host's folders and files during the walk, a drive, a state
// file found anew. Under a limit that low nothing is kept: a command then
// reads its device's address and state anew, where a kept file would have
// cost discovery a device.
#define PF_STATE_KEEP_SHARE 2
#define PF_STATE_FD_RESERVE 16

enum PF_DEVICE_STATE { PF_STATE_UNKNOWN, PF_STATE_RUNS, PF_STATE_STOPPED };

// The state file of each SCSI device, by its address, kept open: finding it
// walks the device tree, reading it again is one pread. Discovery walks
// there anyway and finds it for every device; a drive whose device it did
// not list has it found through the descriptor's device number. Once a
// device is gone the kernel removes the file and a kept one reads no more,
// so a file that still reads is that of the device at the address, which
// the drive's descriptor was checked to reach.
struct PF_STATE_FILE {
    uint64_t Hctl[4];
    int Fd;
};

PF_STATE_FILE* g_PfStateFiles;
size_t g_PfStateCount;
size_t g_PfStateCap;
size_t g_PfStateSorted;  // files [0, g_PfStateSorted) are in address order
size_t g_PfStateKeepMax;
char g_PfStateRoot[PF_PATH_LEN];  // the root the kept files were found under

// Room for a kept file for each path of a large array; without it the
// files are read each time.
size_t QelVRXPR_StateKeepMax()
{
    struct rlimit rl;
    if (getrlimit(RLIMIT_NOFILE, &rl) != 0) return 0;
    if (rl.rlim_cur < rl.rlim_max) {
        struct rlimit raised = {rl.rlim_max, rl.rlim_max};
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) rl = raised;
    }
    if (rl.rlim_cur == RLIM_INFINITY) return 1u << 20;
    if (rl.rlim_cur <= PF_STATE_FD_RESERVE) return 0;
    return (size_t)((rl.rlim_cur - PF_STATE_FD_RESERVE) / PF_STATE_KEEP_SHARE);
}

void QelVRXPR_ChkStateRoot()
{
    if (!QelVRXPR_RootMoved(g_PfStateRoot)) return;
    for (size_t i = 0; i < g_PfStateCount; ++i) close(g_PfStateFiles[i].Fd);
    g_PfStateCount = 0;
    g_PfStateSorted = 0;
}

bool QelVRXPR_StateFileLess(const PF_STATE_FILE& a, const PF_STATE_FILE& b)
{
    return std::lexicographical_compare(a.Hctl, a.Hctl + 4, b.Hctl, b.Hctl + 4);
}

PF_DEVICE_STATE QelVRXPR_ParseState(int fd)
{
    char text[32];
    ssize_t n = pread(fd, text, sizeof text - 1, 0);
    if (n <= 0) return PF_STATE_UNKNOWN;
    text[n] = '\0';
    text[std::strcspn(text, "\n")] = '\0';
    return std::strcmp(text, PF_STATE_RUNNING) == 0 ? PF_STATE_RUNS : PF_STATE_STOPPED;
}

// Every command looks its device up among hundreds: discovery appends in
// its walk's order, the first look after that sorts once. Of files kept
// twice for one address the later stays.
PF_STATE_FILE* QelVRXPR_FindStateFile(const uint64_t* hctl)
{
    if (g_PfStateSorted != g_PfStateCount) {
        PF_STATE_FILE* files = g_PfStateFiles;
        std::stable_sort(files, files + g_PfStateCount, QelVRXPR_StateFileLess);
        size_t kept = 0;
        for (size_t i = 0; i < g_PfStateCount; ++i) {
            if (i + 1 < g_PfStateCount &&
                std::memcmp(files[i].Hctl, files[i + 1].Hctl, sizeof files[i].Hctl) == 0) {
                close(files[i].Fd);
                continue;
            }
            files[kept++] = files[i];
        }
        g_PfStateCount = g_PfStateSorted = kept;
    }
    PF_STATE_FILE key;
    std::memcpy(key.Hctl, hctl, sizeof key.Hctl);
    key.Fd = -1;
    PF_STATE_FILE* end = g_PfStateFiles + g_PfStateCount;
    PF_STATE_FILE* at = std::lower_bound(g_PfStateFiles, end, key, QelVRXPR_StateFileLess);
    if (at == end || std::memcmp(at->Hctl, hctl, sizeof at->Hctl) != 0) return nullptr;
    return at;
}

void QelVRXPR_KeepStateFile(const uint64_t* hctl, int fd)
{
    QelVRXPR_ChkStateRoot();
    static bool s_Measured;
    if (!s_Measured) {
        g_PfStateKeepMax = QelVRXPR_StateKeepMax();
        s_Measured = true;
    }
    if (g_PfStateCount >= g_PfStateKeepMax) {
        close(fd);
        return;
    }
    if (g_PfStateCount == g_PfStateCap) {
        size_t cap = g_PfStateCap == 0 ? 64 : g_PfStateCap * 2;
        void* grown = std::realloc(g_PfStateFiles, cap * sizeof *g_PfStateFiles);
        if (grown == nullptr) {
            close(fd);
            return;
        }
        g_PfStateFiles = static_cast<PF_STATE_FILE*>(grown);
        g_PfStateCap = cap;
    }
    PF_STATE_FILE& f = g_PfStateFiles[g_PfStateCount++];
    std::memcpy(f.Hctl, hctl, sizeof f.Hctl);
    f.Fd = fd;
}

// The state of the SCSI device the drive is open on. Without a kept file it
// is found through the descriptor's own device number: an sg minor is not
// given to another device while a descriptor holds it. A state that cannot
// be read (the device gone from sysfs, no sysfs) holds nothing back: SG_IO's
// own result then says what became of the device.
PF_DEVICE_STATE QelVRXPR_ReadDeviceState(const PF_HANDLE* ph)
{
    QelVRXPR_ChkStateRoot();
    if (ph->HasAddress) {
        if (PF_STATE_FILE* kept = QelVRXPR_FindStateFile(ph->Hctl)) {
            PF_DEVICE_STATE state = QelVRXPR_ParseState(kept->Fd);
            if (state != PF_STATE_UNKNOWN) return state;
        }
    }
    struct stat st;
    if (fstat(ph->Fd, &st) != 0 || !S_ISCHR(st.st_mode)) return PF_STATE_UNKNOWN;
    // The kept file no longer reads. The drive's address was then read
    // whole from the same entry, so the file found here is that device's.
    char rel[64], buf[PF_PATH_LEN];
    std::snprintf(rel, sizeof rel, PF_DEVICE_STATE_FMT, major(st.st_rdev), minor(st.st_rdev));
    const char* path = QelVRXPR_MakeRootPath(rel, buf);
    int sfd = path != nullptr ? open(path, O_RDONLY | O_CLOEXEC) : -1;
    if (sfd < 0) return PF_STATE_UNKNOWN;
    PF_DEVICE_STATE state = QelVRXPR_ParseState(sfd);
    if (state != PF_STATE_UNKNOWN && ph->HasAddress)
        QelVRXPR_KeepStateFile(ph->Hctl, sfd);
    else
        close(sfd);
    return state;
}

// Looked at only before the commands that wait for their path: read anew
// each time. A host's number passes to another only once its devices are
// gone, and the drive's descriptor holds its device.
PF_DEVICE_STATE QelVRXPR_ReadHostState(const PF_HANDLE* ph)
{
    if (!ph->HasAddress) return PF_STATE_UNKNOWN;
    char rel[64], buf[PF_PATH_LEN];
    std::snprintf(rel, sizeof rel, PF_HOST_STATE_FMT, (unsigned)ph->Hctl[0]);
    const char* path = QelVRXPR_MakeRootPath(rel, buf);
    int fd = path != nullptr ? open(path, O_RDONLY | O_CLOEXEC) : -1;
    if (fd < 0) return PF_STATE_UNKNOWN;
    PF_DEVICE_STATE state = QelVRXPR_ParseState(fd);
    close(fd);
    return state;
}

long long QelVRXPR_NowNs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * PF_NS_PER_SEC + ts.tv_nsec;
}

}  // namespace

// Read first when a command looks it up.
void QelVRXPR_KeepDeviceState(int dirFd, const uint64_t* hctl)
{
    int fd = openat(dirFd, "state", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) QelVRXPR_KeepStateFile(hctl, fd);
}

bool QelVRXPR_KeptDeviceLives(const uint64_t* hctl)
{
    QelVRXPR_ChkStateRoot();
    PF_STATE_FILE* kept = QelVRXPR_FindStateFile(hctl);
    return kept != nullptr && QelVRXPR_ParseState(kept->Fd) != PF_STATE_UNKNOWN;
}

// False when the device or its host did not run again within the command's
// own time-out. (A path lost between the look and the write is not caught;
// the look narrows that to the span of a few system calls, and the wait for
// the answer ends at its deadline all the same.)
bool QelVRXPR_WaitPathRuns(const PF_HANDLE* ph, ULONG timeOutSec)
{
    long long deadline = QelVRXPR_NowNs() + (long long)timeOutSec * PF_NS_PER_SEC;
    for (;;) {
        if (QelVRXPR_ReadDeviceState(ph) != PF_STATE_STOPPED &&
            QelVRXPR_ReadHostState(ph) != PF_STATE_STOPPED)
            return true;
        long long left = deadline - QelVRXPR_NowNs();
        if (left <= 0) return false;
        struct timespec nap = {0, left < PF_STATE_POLL_NS ? (long)left : PF_STATE_POLL_NS};
        nanosleep(&nap, nullptr);
    }
}

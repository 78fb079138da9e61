// Linked only into the test build of the layer, in place of sgdev_linux.cpp:
// on a made-up root (VRXPR_TEST_ROOT) the drives are nodes of the host's
// own character devices, and this stands in for the sg driver on them.
// A node whose device number the made-up /sys/dev/char names as SCSI
// device H:C:T:L answers SG_GET_SCSI_ID as the kernel does (the LUN cut to
// 32 bits). Every command written to it is logged as a line of
// ROOT/sg-sent:
//   H:C:T:L CDB in|out|none LENGTH TIMEOUT-MS SENSE-ROOM [DATA-OUT]
// (hex for CDB and data) and answered as ROOT/sg/H:C:T:L says, words of
//   status= host= driver= resid= sense=HEX data=HEX after=MS|never errno=N
// (errno: the write fails so; after: the answer comes that late). Without
// that file the write fails as on a node that is no sg device (ENOTTY).
#include "platform/linux/pf_linux.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

#define PF_FAKE_SLOTS 8
#define PF_FAKE_NEVER LLONG_MAX

struct PF_FAKE_ANSWER {
    int FdPlus1;  // 0: free
    sg_io_hdr_t Hdr;
    long long ReadyMs;
    unsigned Status, Host, Driver;
    int Resid;
    uint8_t Sense[64];
    size_t SenseLen;
    uint8_t Data[1024];
    size_t DataLen;
};

PF_FAKE_ANSWER g_PfFake[PF_FAKE_SLOTS];

long long QelVRXPR_FakeNowMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

bool QelVRXPR_FakeRooted()
{
    const char* root = std::getenv("VRXPR_TEST_ROOT");
    return root != nullptr && root[0] != '\0';
}

// "H:C:T:L" of the device the made-up sysfs gives fd's device number.
bool QelVRXPR_FakeDevice(int fd, char* name, size_t size)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    char rel[64], buf[PF_PATH_LEN], link[PF_PATH_LEN];
    std::snprintf(rel, sizeof rel, "/sys/dev/char/%u:%u", major(st.st_rdev), minor(st.st_rdev));
    const char* path = QelVRXPR_MakeRootPath(rel, buf);
    ssize_t n = path != nullptr ? readlink(path, link, sizeof link - 1) : -1;
    if (n < 0) return false;
    link[n] = '\0';
    // .../H:C:T:L/scsi_generic/sgN
    for (int up = 0; up < 2; ++up) {
        char* slash = std::strrchr(link, '/');
        if (slash == nullptr) return false;
        *slash = '\0';
    }
    const char* base = std::strrchr(link, '/');
    std::snprintf(name, size, "%s", base != nullptr ? base + 1 : link);
    uint64_t hctl[4];
    return QelVRXPR_ParseDeviceName(name, hctl);
}

size_t QelVRXPR_FakeHex(const char* text, uint8_t* out, size_t size)
{
    size_t n = 0;
    for (; n < size && text[0] != '\0' && text[1] != '\0' && text[0] != ' '; text += 2) {
        char two[3] = {text[0], text[1], '\0'};
        out[n++] = (uint8_t)std::strtoul(two, nullptr, 16);
    }
    return n;
}

void QelVRXPR_FakeLog(const char* name, const sg_io_hdr_t* h)
{
    char buf[PF_PATH_LEN];
    const char* path = QelVRXPR_MakeRootPath("/sg-sent", buf);
    FILE* f = path != nullptr ? std::fopen(path, "a") : nullptr;
    if (f == nullptr) return;
    std::fprintf(f, "%s ", name);
    for (unsigned i = 0; i < h->cmd_len; ++i) std::fprintf(f, "%02x", h->cmdp[i]);
    const char* dir = h->dxfer_direction == SG_DXFER_FROM_DEV ? "in"
                      : h->dxfer_direction == SG_DXFER_TO_DEV ? "out"
                      : h->dxfer_direction == SG_DXFER_NONE   ? "none"
                                                              : "?";
    std::fprintf(f, " %s %u %u %u", dir, h->dxfer_len, h->timeout, (unsigned)h->mx_sb_len);
    if (h->dxfer_direction == SG_DXFER_TO_DEV) {
        std::fputc(' ', f);
        for (unsigned i = 0; i < h->dxfer_len; ++i)
            std::fprintf(f, "%02x", static_cast<const uint8_t*>(h->dxferp)[i]);
    }
    std::fputc('\n', f);
    std::fclose(f);
}

// False with errno set when the device refuses the command.
bool QelVRXPR_FakeReadAnswer(const char* name, PF_FAKE_ANSWER* a)
{
    char rel[PF_PATH_LEN + 8], buf[PF_PATH_LEN], text[4096];
    std::snprintf(rel, sizeof rel, "/sg/%s", name);
    const char* path = QelVRXPR_MakeRootPath(rel, buf);
    FILE* f = path != nullptr ? std::fopen(path, "r") : nullptr;
    if (f == nullptr) {
        errno = ENOTTY;
        return false;
    }
    size_t n = std::fread(text, 1, sizeof text - 1, f);
    std::fclose(f);
    text[n] = '\0';
    a->ReadyMs = QelVRXPR_FakeNowMs();
    for (const char* p = text; *p != '\0';) {
        while (*p == ' ' || *p == '\n') ++p;
        const char* eq = std::strchr(p, '=');
        if (eq == nullptr) break;
        std::string_view key(p, (size_t)(eq - p));
        const char* v = eq + 1;
        if (key == "errno") {
            errno = (int)std::strtol(v, nullptr, 0);
            return false;
        }
        if (key == "status") a->Status = (unsigned)std::strtoul(v, nullptr, 0);
        if (key == "host") a->Host = (unsigned)std::strtoul(v, nullptr, 0);
        if (key == "driver") a->Driver = (unsigned)std::strtoul(v, nullptr, 0);
        if (key == "resid") a->Resid = (int)std::strtol(v, nullptr, 0);
        if (key == "sense") a->SenseLen = QelVRXPR_FakeHex(v, a->Sense, sizeof a->Sense);
        if (key == "data") a->DataLen = QelVRXPR_FakeHex(v, a->Data, sizeof a->Data);
        if (key == "after")
            a->ReadyMs = std::strncmp(v, "never", 5) == 0
                             ? PF_FAKE_NEVER
                             : a->ReadyMs + std::strtoll(v, nullptr, 0);
        p = v + std::strcspn(v, " \n");
    }
    return true;
}

PF_FAKE_ANSWER* QelVRXPR_FakeFind(int fd)
{
    for (PF_FAKE_ANSWER& a : g_PfFake)
        if (a.FdPlus1 == fd + 1) return &a;
    return nullptr;
}

}  // namespace

int QelVRXPR_SgGetScsiId(int fd, struct sg_scsi_id* pId)
{
    if (!QelVRXPR_FakeRooted()) return ioctl(fd, SG_GET_SCSI_ID, pId);
    char name[PF_PATH_LEN];
    uint64_t hctl[4];
    if (!QelVRXPR_FakeDevice(fd, name, sizeof name) || !QelVRXPR_ParseDeviceName(name, hctl) ||
        hctl[0] > INT_MAX || hctl[1] > INT_MAX || hctl[2] > INT_MAX) {
        errno = ENOTTY;
        return -1;
    }
    std::memset(pId, 0, sizeof *pId);
    pId->host_no = (int)hctl[0];
    pId->channel = (int)hctl[1];
    pId->scsi_id = (int)hctl[2];
    pId->lun = (int)(uint32_t)hctl[3];
    return 0;
}

ssize_t QelVRXPR_SgWrite(int fd, const sg_io_hdr_t* pHdr)
{
    if (!QelVRXPR_FakeRooted()) return write(fd, pHdr, sizeof *pHdr);
    char name[PF_PATH_LEN];
    if (!QelVRXPR_FakeDevice(fd, name, sizeof name)) {
        errno = ENOTTY;
        return -1;
    }
    QelVRXPR_FakeLog(name, pHdr);
    PF_FAKE_ANSWER* a = QelVRXPR_FakeFind(fd);
    if (a == nullptr) a = QelVRXPR_FakeFind(-1);
    if (a == nullptr) {
        errno = EDOM;  // the sg driver's answer to a full queue
        return -1;
    }
    std::memset(a, 0, sizeof *a);
    a->Hdr = *pHdr;
    if (!QelVRXPR_FakeReadAnswer(name, a)) return -1;
    a->FdPlus1 = fd + 1;
    return (ssize_t)sizeof *pHdr;
}

int QelVRXPR_SgPoll(int fd, int timeoutMs, short* pRevents)
{
    *pRevents = 0;
    if (!QelVRXPR_FakeRooted()) {
        struct pollfd p = {fd, POLLIN, 0};
        int rc = poll(&p, 1, timeoutMs);
        *pRevents = p.revents;
        return rc;
    }
    PF_FAKE_ANSWER* a = QelVRXPR_FakeFind(fd);
    long long now = QelVRXPR_FakeNowMs();
    long long wait = a == nullptr || a->ReadyMs == PF_FAKE_NEVER ? timeoutMs : a->ReadyMs - now;
    if (wait > timeoutMs) wait = timeoutMs;
    // A real sleep, so that a signal ends it as it ends poll().
    if (wait > 0 && poll(nullptr, 0, (int)wait) < 0) return -1;
    if (a == nullptr || QelVRXPR_FakeNowMs() < a->ReadyMs) return 0;
    *pRevents = POLLIN;
    return 1;
}

ssize_t QelVRXPR_SgRead(int fd, sg_io_hdr_t* pHdr)
{
    if (!QelVRXPR_FakeRooted()) return read(fd, pHdr, sizeof *pHdr);
    PF_FAKE_ANSWER* a = QelVRXPR_FakeFind(fd);
    if (a == nullptr || QelVRXPR_FakeNowMs() < a->ReadyMs) {
        errno = EAGAIN;
        return -1;
    }
    sg_io_hdr_t h = a->Hdr;
    h.status = (unsigned char)a->Status;
    h.masked_status = (unsigned char)((a->Status >> 1) & 0x7F);
    h.host_status = (unsigned short)a->Host;
    h.driver_status = (unsigned short)a->Driver;
    h.resid = a->Resid;
    size_t sense = a->SenseLen < h.mx_sb_len ? a->SenseLen : h.mx_sb_len;
    if (sense != 0) std::memcpy(h.sbp, a->Sense, sense);
    h.sb_len_wr = (unsigned char)sense;
    if (h.dxfer_direction == SG_DXFER_FROM_DEV) {
        size_t moved = h.dxfer_len;
        if (a->Resid > 0) moved = (unsigned)a->Resid < moved ? moved - (unsigned)a->Resid : 0;
        if (moved > a->DataLen) moved = a->DataLen;
        if (moved != 0) std::memcpy(h.dxferp, a->Data, moved);
    }
    a->FdPlus1 = 0;
    *pHdr = h;
    return (ssize_t)sizeof h;
}

// The state file on disk: the lock beside it, reading it, and the
// write-back that replaces it whole with what the run did patched in.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sample_storage.h"
#include "sim.h"
#include "simstate.h"

namespace {

int g_SimLockFd = -1;

std::string SimReason(const char* what, int err)
{
    return std::string(what) + ": " + std::strerror(err);
}

// Every name of the file shares one lock, and the rename replaces the
// file itself rather than a link to it.
std::string SimRealPath(const std::string& path)
{
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) return path;
    std::string s = real;
    std::free(real);
    return s;
}

bool SimWriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string SimFormatKey(uint64_t key)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%016llX", static_cast<unsigned long long>(key));
    return buf;
}

// Brings the document in line with the storage: LU state, faults, log.
void SimPatchDoc()
{
    SIM_JSON& doc = g_SimState.Doc;
    if (!doc.is_object()) doc = SIM_JSON::object();
    for (SIM_LU& lu : g_SimState.Lus) {
        if (!doc.contains("lus") || !doc["lus"].contains(lu.Name)) continue;
        SIM_JSON& obj = doc["lus"][lu.Name];
        if (lu.PrChanged) {
            obj["generation"] = lu.Generation;
            SIM_JSON regs = SIM_JSON::array();
            for (const SIM_REGISTRATION& r : lu.Registrations)
                regs.push_back(SIM_JSON{{"host", r.Host}, {"key", SimFormatKey(r.Key)}});
            obj["registrations"] = regs;
            if (lu.Reserved)
                obj["reservation"] = SIM_JSON{{"host", lu.ResvHost}, {"type", lu.ResvType}};
            else
                obj.erase("reservation");
        }
        if (lu.FaultsChanged) {
            SIM_JSON faults = SIM_JSON::array();
            for (const SIM_FAULT& f : lu.Faults) {
                faults.push_back(f.Source);
                if (f.TimesChanged) faults.back()["times"] = f.Times;
            }
            obj["faults"] = faults;
        }
    }
    SIM_JSON& log = doc["log"];
    if (log.is_null()) log = SIM_JSON::array();
    for (SIM_JSON& e : g_SimState.NewLog) log.push_back(std::move(e));
    g_SimState.NewLog.clear();
}

}  // namespace

bool SimLockState(const std::string& path, std::string* error)
{
    if (g_SimLockFd >= 0) return true;
    std::string lockPath = SimRealPath(path) + ".lock";
    // Read access is enough for flock, so any user who may read the file may lock it.
    int fd = open(lockPath.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        *error = SimReason("cannot lock", errno);
        return false;
    }
    while (flock(fd, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        *error = SimReason("cannot lock", errno);
        close(fd);
        return false;
    }
    g_SimLockFd = fd;
    return true;
}

void SimUnlockState()
{
    if (g_SimLockFd < 0) return;
    close(g_SimLockFd);
    g_SimLockFd = -1;
}

bool SimWriteFile(const std::string& path, const std::string& text, std::string* error)
{
    std::string target = SimRealPath(path);
    std::string temp = target + ".tmp" + std::to_string(getpid());
    unlink(temp.c_str());
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        *error = SimReason("cannot write", errno);
        return false;
    }
    // The file keeps its mode and, where this process may give it, its owner
    // (a process that may not keeps the file as its own).
    struct stat st;
    bool known = stat(target.c_str(), &st) == 0;
    if (known && fchown(fd, st.st_uid, st.st_gid) != 0) {
    }
    bool ok = (!known || fchmod(fd, st.st_mode & 07777) == 0) && SimWriteAll(fd, text) && fsync(fd) == 0;
    int err = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        unlink(temp.c_str());
        *error = SimReason("cannot write", err);
        return false;
    }
    // The new name lasts only once the directory is on disk too.
    size_t slash = target.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return true;
}

void SimResetState()
{
    g_SimState = SIM_STATE();
}

bool SimLoadText(const std::string& text, const std::string& path, std::string* error)
{
    SimResetState();
    std::string err;
    if (!SimParseJson(text, &g_SimState.Doc, &err) || !SimLoadDoc(&err)) {
        SimResetState();
        if (error) *error = err;
        return false;
    }
    g_SimState.Path = path;
    g_SimState.Loaded = true;
    return true;
}

bool SimLoadState(const std::string& path, std::string* error)
{
    SimResetState();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        if (error) *error = SimReason("cannot open", errno);
        return false;
    }
    std::string text;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    bool readFailed = std::ferror(f) != 0;
    int readErrno = errno;
    std::fclose(f);
    if (readFailed) {
        if (error) *error = SimReason("cannot read", readErrno);
        return false;
    }
    return SimLoadText(text, path, error);
}

bool SimReloadState(std::string* error)
{
    SIM_STATE kept = std::move(g_SimState);
    if (!SimLoadState(kept.Path, error)) return false;
    // What this process opened stays open; its drives count their opens on.
    g_SimState.Handles = std::move(kept.Handles);
    g_SimState.OpenKeys = std::move(kept.OpenKeys);
    g_SimState.OpenKeyUsed = std::move(kept.OpenKeyUsed);
    for (SIM_DRIVE& d : g_SimState.Drives)
        for (const SIM_DRIVE& k : kept.Drives)
            if (k.DriveNo == d.DriveNo) d.Opens = k.Opens;
    return true;
}

std::string SimFormatState()
{
    if (!g_SimState.Loaded) return std::string();
    SimPatchDoc();
    return SimFormatJson(g_SimState.Doc) + "\n";
}

bool SimSaveState(std::string* error)
{
    if (!g_SimState.Loaded) return true;
    return SimWriteFile(g_SimState.Path, SimFormatState(), error);
}

std::string SimSampleText()
{
    return std::string(reinterpret_cast<const char*>(g_SimSampleBytes), g_SimSampleSize);
}

std::string SimFormatHex(const uint8_t* data, size_t len)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(len * 2);
    for (size_t i = 0; i < len; i++) {
        s.push_back(digits[data[i] >> 4]);
        s.push_back(digits[data[i] & 0x0F]);
    }
    return s;
}

void SimAddLog(const SIM_JSON& entry)
{
    if (g_SimState.Loaded) g_SimState.NewLog.push_back(entry);
}

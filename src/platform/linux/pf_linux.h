// Shared by the Linux layer's files only.
#ifndef VRXPR_PF_LINUX_H
#define VRXPR_PF_LINUX_H

#include <climits>
#include <scsi/sg.h>
#include <sys/types.h>

#include "platform/platform.h"

#define PF_ERROR_INVALID_FUNCTION 1L
#define PF_ERROR_TOO_MANY_OPEN_FILES 4L
#define PF_ERROR_NOT_READY 21L
#define PF_ERROR_NOT_ENOUGH_MEMORY 8L
#define PF_ERROR_GEN_FAILURE 31L
#define PF_ERROR_DEV_NOT_EXIST 55L
#define PF_ERROR_INVALID_PARAMETER 87L
#define PF_ERROR_SEM_TIMEOUT 121L
#define PF_ERROR_INSUFFICIENT_BUFFER 122L

// SG_IO's host byte
#define PF_DID_NO_CONNECT 0x01
#define PF_DID_TIME_OUT 0x03
#define PF_DID_BAD_TARGET 0x04
#define PF_DID_NEXUS_FAILURE 0x11
#define PF_DRIVER_ERROR_MASK 0x07  // DRIVER_SENSE (0x08) alone is no error

#define PF_PATH_LEN PATH_MAX

enum { PF_HANDLE_FREE = 0, PF_HANDLE_PORT = 1, PF_HANDLE_DRIVE = 2 };

struct PF_HANDLE {
    int Kind;
    int Fd;
    unsigned Host;
    // A port's records as first gathered: a caller asking again with a
    // larger area gets them without the host's devices being read again.
    bool HasArea;
    uint8_t* Area;
    size_t AreaLen;
    // A drive's address as this open last read it: host, channel, target, LUN.
    bool HasAddress;
    uint64_t Hctl[4];
};

// Where the layer finds /sys, /dev and /lib/modules: the path itself in the
// installed utility (root_linux.cpp); under a made-up root in the test build
// (root_test_linux.cpp), written into buf (PF_PATH_LEN bytes). nullptr with
// errno ENAMETOOLONG when it does not fit. The layer keeps to the C library:
// the C++ one would be loaded at every start for a few strings.
const char* QelVRXPR_MakeRootPath(const char* absPath, char* buf);

// A device listed by discovery has a LUN that needs more than 31 bits:
// SG_GET_SCSI_ID's 32 bits of it no longer tell the LUN by themselves.
extern bool g_PfWideLuns;

// True when the root the layer's paths stand under is no longer the one in
// seen (PF_PATH_LEN bytes; tests move it from run to run), which then takes
// the new one: what was kept under the old root says nothing of this one.
bool QelVRXPR_RootMoved(char* seen);

// Sets the last error; 0, the failed request's result.
int QelVRXPR_FailWith(DWORD err);

// Decimal digits only, advancing p; false when there is none.
bool QelVRXPR_ParseNumber(const char*& p, uint64_t* pValue);
// "H:C:T:L" of a SCSI device's sysfs name, with the whole LUN.
bool QelVRXPR_ParseDeviceName(const char* name, uint64_t* hctl);
// "/sys/class/scsi_host/hostN" as discovery names a port.
bool QelVRXPR_ParsePortName(const char* name, unsigned* pHost);

// The requests of a port or drive handle (hosts_linux.cpp,
// address_linux.cpp, sgio_linux.cpp), as DeviceIoControl answers them.
int QelVRXPR_GetInquiryData(PF_HANDLE* ph, void* out, DWORD outSize, DWORD* pReturned);
int QelVRXPR_GetAddress(PF_HANDLE* ph, void* out, DWORD outSize, DWORD* pReturned);
int QelVRXPR_PassThrough(const PF_HANDLE* ph, void* in, DWORD inSize, void* out, DWORD outSize,
                         DWORD* pReturned);

// Waits at most timeOutSec for the SCSI device behind the drive and its
// host to run (state_linux.cpp); false when they do not.
bool QelVRXPR_WaitPathRuns(const PF_HANDLE* ph, ULONG timeOutSec);
// Keeps the state file of the SCSI device H:C:T:L that discovery found,
// dirFd its sysfs folder.
void QelVRXPR_KeepDeviceState(int dirFd, const uint64_t* hctl);
// True when the state file kept for the device discovery found at hctl
// still reads: that device is still there.
bool QelVRXPR_KeptDeviceLives(const uint64_t* hctl);

// The sg driver on a drive descriptor: the system calls themselves in the
// installed layer (sgdev_linux.cpp); in the test build a stand-in that
// answers for the made-up root's devices (sgdev_test_linux.cpp). Each
// returns as the system call does, errno set on failure.
int QelVRXPR_SgGetScsiId(int fd, struct sg_scsi_id* pId);
ssize_t QelVRXPR_SgWrite(int fd, const sg_io_hdr_t* pHdr);
// poll() for an answer to read: 1, 0 when timeoutMs passed, -1.
int QelVRXPR_SgPoll(int fd, int timeoutMs, short* pRevents);
ssize_t QelVRXPR_SgRead(int fd, sg_io_hdr_t* pHdr);

// errno as the Windows code the logic expects for it.
DWORD QelVRXPR_MapErrno(int err);
// A pass-through that SG_IO carried out, by its status, host and driver
// bytes: 0 when the device answered, else the Windows code of the failure.
DWORD QelVRXPR_MapSgResult(unsigned status, unsigned hostStatus, unsigned driverStatus);

#endif

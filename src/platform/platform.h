// The operating-system operations the utility uses, and nothing else.
// One implementation is linked into each executable: Windows (win/),
// Linux (linux/) or the simulated storage (sim/). The data formats are the
// Windows ones everywhere, so the code that walks them is shared. The
// Linux build (VRXPR_SEAM_WIDE) widens the numbers in them: its hosts,
// channels and targets are 32-bit and its LUNs 64-bit, where Windows has a
// byte for each. The simulated storage keeps the Windows layout byte for
// byte, as its state file describes it.
#ifndef VRXPR_PLATFORM_H
#define VRXPR_PLATFORM_H

#include <cstddef>
#include <cstdint>

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#else  // equivalents of the Windows declarations: same fields, same layout but
       // for the wider numbers of VRXPR_SEAM_WIDE

typedef uint8_t UCHAR;
typedef uint8_t BYTE;
typedef uint8_t BOOLEAN;
typedef uint16_t USHORT;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef void* PVOID;
typedef void* HANDLE;

struct VRX_HKEY_;
typedef VRX_HKEY_* HKEY;

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

#define HKEY_CLASSES_ROOT ((HKEY)(uintptr_t)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)
#define HKEY_USERS ((HKEY)(uintptr_t)0x80000003u)
#define HKEY_CURRENT_CONFIG ((HKEY)(uintptr_t)0x80000005u)

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_MORE_DATA 234L
#define ERROR_IO_DEVICE 1117L

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define OPEN_EXISTING 3u
#define KEY_READ 0x20019u

#define IOCTL_SCSI_GET_INQUIRY_DATA 0x0004100Cu
#define IOCTL_SCSI_GET_ADDRESS 0x00041018u
#define IOCTL_SCSI_PASS_THROUGH_DIRECT 0x0004D014u

#define SCSI_IOCTL_DATA_OUT 0
#define SCSI_IOCTL_DATA_IN 1

typedef struct _SCSI_BUS_DATA {
    UCHAR NumberOfLogicalUnits;
    UCHAR InitiatorBusId;
    ULONG InquiryDataOffset;
} SCSI_BUS_DATA;

// The numbers of a SCSI address: a byte each on Windows, Linux's own
// widths in its build.
#ifdef VRXPR_SEAM_WIDE
typedef ULONG VRX_SCSI_NUMBER;
typedef uint64_t VRX_SCSI_LUN;
#else
typedef UCHAR VRX_SCSI_NUMBER;
typedef UCHAR VRX_SCSI_LUN;
#endif

// Buses are positions in this table; in the Linux build one for each
// channel up to the highest.
typedef struct _SCSI_ADAPTER_BUS_INFO {
    VRX_SCSI_NUMBER NumberOfBuses;
    SCSI_BUS_DATA BusData[1];
} SCSI_ADAPTER_BUS_INFO;

typedef struct _SCSI_INQUIRY_DATA {
    VRX_SCSI_NUMBER PathId;
    VRX_SCSI_NUMBER TargetId;
    VRX_SCSI_LUN Lun;
    BOOLEAN DeviceClaimed;
    ULONG InquiryDataLength;
    ULONG NextInquiryDataOffset;
    UCHAR InquiryData[1];
} SCSI_INQUIRY_DATA;

typedef struct _SCSI_ADDRESS {
    ULONG Length;
    VRX_SCSI_NUMBER PortNumber;
    VRX_SCSI_NUMBER PathId;
    VRX_SCSI_NUMBER TargetId;
    VRX_SCSI_LUN Lun;
} SCSI_ADDRESS;

typedef struct _SCSI_PASS_THROUGH_DIRECT {
    USHORT Length;
    UCHAR ScsiStatus;
    UCHAR PathId;
    UCHAR TargetId;
    UCHAR Lun;
    UCHAR CdbLength;
    UCHAR SenseInfoLength;
    UCHAR DataIn;
    ULONG DataTransferLength;
    ULONG TimeOutValue;
    PVOID DataBuffer;
    ULONG SenseInfoOffset;
    UCHAR Cdb[16];
} SCSI_PASS_THROUGH_DIRECT;

#endif  // _WIN32

// The layouts the walkers rely on. The walkers read each number with the
// size of its field, so one walker serves both.
#define VRX_FIELD_SIZE(type, field) sizeof(((type*)nullptr)->field)
static_assert(sizeof(SCSI_BUS_DATA) == 8, "SCSI_BUS_DATA layout");
static_assert(offsetof(SCSI_ADAPTER_BUS_INFO, BusData) == 4, "SCSI_ADAPTER_BUS_INFO layout");
static_assert(offsetof(SCSI_BUS_DATA, InquiryDataOffset) == 4, "SCSI_BUS_DATA layout");
#ifdef VRXPR_SEAM_WIDE
static_assert(offsetof(SCSI_INQUIRY_DATA, Lun) == 8, "wide SCSI_INQUIRY_DATA layout");
static_assert(offsetof(SCSI_INQUIRY_DATA, NextInquiryDataOffset) == 24, "wide SCSI_INQUIRY_DATA layout");
static_assert(offsetof(SCSI_INQUIRY_DATA, InquiryData) == 28, "wide SCSI_INQUIRY_DATA layout");
static_assert(sizeof(SCSI_ADDRESS) == 24, "wide SCSI_ADDRESS layout");
static_assert(offsetof(SCSI_ADDRESS, Lun) == 16, "wide SCSI_ADDRESS layout");
#else
static_assert(offsetof(SCSI_INQUIRY_DATA, NextInquiryDataOffset) == 8, "SCSI_INQUIRY_DATA layout");
static_assert(offsetof(SCSI_INQUIRY_DATA, InquiryData) == 12, "SCSI_INQUIRY_DATA layout");
static_assert(sizeof(SCSI_ADDRESS) == 8, "SCSI_ADDRESS layout");
static_assert(offsetof(SCSI_ADDRESS, PortNumber) == 4, "SCSI_ADDRESS layout");
#endif
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44, "32-bit pass-through layout");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 20, "32-bit pass-through layout");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 28, "32-bit pass-through layout");
#else
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 56, "64-bit pass-through layout");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 24, "64-bit pass-through layout");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 36, "64-bit pass-through layout");
#endif

// Device names. Windows and the simulated storage use the Windows names;
// the Linux layer supplies its own (its drives are /dev/sgN).
extern const char g_PfPortNameFmt[];       // one argument: unsigned port number
extern const char g_PfDriveNameFmt[];      // one argument: int drive number
extern const char g_PfDriveNameFmtLong[];  // one argument: unsigned long drive number

// Called once before anything else; may end the process (simulated storage
// with a bad state file).
void QelVRXPR_StartPlatform();
// Called by the exit routine just before the process ends.
void QelVRXPR_EndPlatform();

// The port discovery tries next: non-zero with *pPort moved to the lowest
// port number at or above it, zero when none is left. Every port from 0 to
// 255 where ports are named "\\.\Scsi%u:" (Windows, simulated storage:
// SCSI_ADDRESS.PortNumber is one byte); on Linux the SCSI hosts present,
// whatever their numbers.
int QelVRXPR_GetNextPort(unsigned* pPort);

// CreateFileA(name, GENERIC_READ|GENERIC_WRITE, FILE_SHARE_READ|FILE_SHARE_WRITE,
// NULL, OPEN_EXISTING, 0, NULL). INVALID_HANDLE_VALUE on failure.
HANDLE QelVRXPR_OpenDevice(const char* name);
// DeviceIoControl without overlapped I/O. Non-zero when the request was
// carried out; *pReturned then holds the bytes written to out.
int QelVRXPR_RequestDevice(HANDLE h, DWORD code, void* in, DWORD inSize, void* out,
                           DWORD outSize, DWORD* pReturned);
void QelVRXPR_CloseDevice(HANDLE h);
// The system error of the operation that just failed.
DWORD QelVRXPR_GetLastErr();

// RegOpenKeyExA(root, subkey, 0, KEY_READ, &key): 0 or a system error.
LONG QelVRXPR_OpenRegKey(HKEY root, const char* subkey, HKEY* pKey);
// RegQueryValueExA(key, name, NULL, type, data, size): 0 or a system error.
LONG QelVRXPR_QueryRegValue(HKEY key, const char* name, DWORD* pType, BYTE* data, DWORD* pSize);
void QelVRXPR_CloseRegKey(HKEY key);

// English name of the user's language into buf (at most size bytes with the
// terminating zero). Non-zero on success.
int QelVRXPR_GetSysLangName(char* buf, size_t size);

// A catalogue text (code page 932 for Japanese) in the output's character
// set, before anything is put into it, so that the operator's own text is
// never taken for code page 932. The result stays valid until the next call.
const char* QelVRXPR_LocalText(const char* text);
// A command-line argument, as the operator typed it, in that same character
// set (message 3 echoes one). The result stays valid until the next call.
#ifdef _WIN32
const char* QelVRXPR_LocalArg(const char* arg);
#else
// Linux and the simulated storage echo an argument in the bytes it came in:
// on Linux the locale's character set, the one LocalText converts into.
inline const char* QelVRXPR_LocalArg(const char* arg)
{
    return arg;
}
#endif
// Writes a zero-terminated text, in that character set, to standard output;
// flushes when standard output is a console. Elsewhere (a file, a pipe) the
// output stays block-buffered until the next read or the end of the run.
void QelVRXPR_WriteOut(const char* text);
// Flushes standard output and tells whether anything written to it since
// the start was lost: non-zero, with the system's words for the first such
// failure in why (one line, no line feed). A reader that went away (a
// closed pipe) is no failure here: that output was not wanted.
int QelVRXPR_OutFailed(char* why, size_t size);
// One line from standard input as fgets does, with the text-mode rule that
// a carriage return right before the line feed is dropped. Returns buf, or
// nullptr at end of input or on a read error (buf then unchanged).
// Standard output is flushed first, whatever it is: the operator behind a
// pipe (vrxpr -c | tee, ssh without a terminal) sees the question before
// the answer is awaited. Every read of standard input comes through here.
char* QelVRXPR_ReadLine(char* buf, int size);

#endif

// Companion of portdrv.sys, run under Wine:
//   portfeed add SERVICE DRIVE...  reads each \\.\PhysicalDriveN's SCSI
//       address and INQUIRY data through Wine's own pass-through and appends
//       its record to the service key's Records (PortNumber from the address)
//   portfeed start SERVICE         starts the driver
//   portfeed set SERVICE NAME N|-  sets a REG_DWORD of the service key, or
//       deletes it
//   portfeed areas SERVICE         prints the driver's Areas log in hex and
//       empties it
//   portfeed probe PORT SIZE       one IOCTL_SCSI_GET_INQUIRY_DATA on
//       \\.\ScsiN: (N in decimal) into SIZE bytes: "ok RETURNED" or "error CODE"
// (reg.exe and sc.exe would do the same, but in the guest, with explorer.exe
// disabled, each of their runs took several seconds against well under one.)
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define FEED_RECORD_LEN 40
#define INQUIRY_LEN 36
#define MAX_RECORDS 64

static HANDLE OpenDevice(const char* name)
{
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       NULL, OPEN_EXISTING, 0, NULL);
}

struct INQUIRY_REQUEST {
    SCSI_PASS_THROUGH_DIRECT Sptd;
    UCHAR Sense[32];
};

static int ReadDrive(unsigned drive, UCHAR* record, ULONG* port)
{
    char name[64];
    snprintf(name, sizeof name, "\\\\.\\PhysicalDrive%u", drive);
    HANDLE h = OpenDevice(name);
    if (h == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "%s: open failed, error %lu\n", name, GetLastError());
        return 0;
    }
    SCSI_ADDRESS addr;
    DWORD got = 0;
    if (!DeviceIoControl(h, IOCTL_SCSI_GET_ADDRESS, NULL, 0, &addr, sizeof addr, &got, NULL)) {
        fprintf(stderr, "%s: no SCSI address, error %lu\n", name, GetLastError());
        CloseHandle(h);
        return 0;
    }
    static UCHAR inquiry[INQUIRY_LEN];
    struct INQUIRY_REQUEST rq;
    memset(&rq, 0, sizeof rq);
    memset(inquiry, 0, sizeof inquiry);
    rq.Sptd.Length = sizeof rq.Sptd;
    rq.Sptd.CdbLength = 6;
    rq.Sptd.SenseInfoLength = sizeof rq.Sense;
    rq.Sptd.DataIn = SCSI_IOCTL_DATA_IN;
    rq.Sptd.DataTransferLength = INQUIRY_LEN;
    rq.Sptd.TimeOutValue = 5;
    rq.Sptd.DataBuffer = inquiry;
    rq.Sptd.SenseInfoOffset = offsetof(struct INQUIRY_REQUEST, Sense);
    rq.Sptd.Cdb[0] = 0x12;
    rq.Sptd.Cdb[4] = INQUIRY_LEN;
    if (!DeviceIoControl(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &rq, sizeof rq, &rq, sizeof rq, &got,
                         NULL) ||
        rq.Sptd.ScsiStatus != 0 || rq.Sptd.DataTransferLength != INQUIRY_LEN) {
        fprintf(stderr, "%s: INQUIRY failed, error %lu, status 0x%x, %lu bytes\n", name,
                GetLastError(), rq.Sptd.ScsiStatus, (unsigned long)rq.Sptd.DataTransferLength);
        CloseHandle(h);
        return 0;
    }
    CloseHandle(h);
    memset(record, 0, FEED_RECORD_LEN);
    record[0] = addr.PathId;
    record[1] = addr.TargetId;
    record[2] = addr.Lun;
    memcpy(record + 4, inquiry, INQUIRY_LEN);
    *port = addr.PortNumber;
    printf("PhysicalDrive%u: port %u path %u target %u lun %u %.24s\n", drive, addr.PortNumber,
           addr.PathId, addr.TargetId, addr.Lun, (const char*)inquiry + 8);
    return 1;
}

static int OpenServiceKey(const char* service, HKEY* key)
{
    char path[256];
    snprintf(path, sizeof path, "SYSTEM\\CurrentControlSet\\Services\\%s", service);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | KEY_WRITE, key) != ERROR_SUCCESS) {
        fprintf(stderr, "no service key %s\n", path);
        return 0;
    }
    return 1;
}

static int Add(const char* service, int count, char** drives)
{
    HKEY key;
    if (!OpenServiceKey(service, &key)) return 1;
    static UCHAR records[MAX_RECORDS * FEED_RECORD_LEN];
    DWORD size = sizeof records, type = 0;
    if (RegQueryValueExA(key, "Records", NULL, &type, records, &size) != ERROR_SUCCESS ||
        type != REG_BINARY)
        size = 0;
    DWORD port = 0, known = 0, portSize = sizeof port;
    if (RegQueryValueExA(key, "PortNumber", NULL, &type, (BYTE*)&port, &portSize) ==
        ERROR_SUCCESS)
        known = 1;
    int rc = 0;
    for (int i = 0; i < count && rc == 0; ++i) {
        ULONG drivePort = 0;
        if (size + FEED_RECORD_LEN > sizeof records ||
            !ReadDrive((unsigned)atoi(drives[i]), records + size, &drivePort)) {
            rc = 1;
        } else if (known && drivePort != port) {
            fprintf(stderr, "drive %s is on port %lu, not %lu: one port only\n", drives[i],
                    drivePort, port);
            rc = 1;
        } else {
            port = drivePort;
            known = 1;
            size += FEED_RECORD_LEN;
        }
    }
    if (rc == 0 &&
        (RegSetValueExA(key, "Records", 0, REG_BINARY, records, size) != ERROR_SUCCESS ||
         RegSetValueExA(key, "PortNumber", 0, REG_DWORD, (BYTE*)&port, sizeof port) !=
             ERROR_SUCCESS)) {
        fprintf(stderr, "cannot write the service key\n");
        rc = 1;
    }
    RegCloseKey(key);
    return rc;
}

static int Start(const char* service)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE svc = manager ? OpenServiceA(manager, service, SERVICE_START) : NULL;
    int ok = svc != NULL && StartServiceA(svc, 0, NULL);
    if (!ok) fprintf(stderr, "cannot start %s, error %lu\n", service, GetLastError());
    if (svc) CloseServiceHandle(svc);
    if (manager) CloseServiceHandle(manager);
    return ok ? 0 : 1;
}

static int Set(const char* service, const char* name, const char* value)
{
    HKEY key;
    if (!OpenServiceKey(service, &key)) return 1;
    DWORD v = (DWORD)strtoul(value, NULL, 0);
    LONG rc = strcmp(value, "-") == 0
                  ? RegDeleteValueA(key, name)
                  : RegSetValueExA(key, name, 0, REG_DWORD, (BYTE*)&v, sizeof v);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? 0 : 1;
}

static int Areas(const char* service)
{
    HKEY key;
    if (!OpenServiceKey(service, &key)) return 1;
    static BYTE log[4096];
    DWORD size = sizeof log, type = 0;
    if (RegQueryValueExA(key, "Areas", NULL, &type, log, &size) != ERROR_SUCCESS) size = 0;
    for (DWORD i = 0; i < size; ++i) printf("%02x", log[i]);
    printf("\n");
    RegDeleteValueA(key, "Areas");
    RegCloseKey(key);
    return 0;
}

static int Probe(unsigned port, DWORD size)
{
    char name[32];
    snprintf(name, sizeof name, "\\\\.\\Scsi%u:", port);
    HANDLE h = OpenDevice(name);
    if (h == INVALID_HANDLE_VALUE) {
        printf("open error %lu\n", GetLastError());
        return 1;
    }
    void* area = calloc(1, size ? size : 1);
    DWORD got = 0;
    if (DeviceIoControl(h, IOCTL_SCSI_GET_INQUIRY_DATA, NULL, 0, area, size, &got, NULL))
        printf("ok %lu\n", got);
    else
        printf("error %lu\n", GetLastError());
    free(area);
    CloseHandle(h);
    return 0;
}

int main(int argc, char** argv)
{
    if (argc >= 4 && strcmp(argv[1], "add") == 0) return Add(argv[2], argc - 3, argv + 3);
    if (argc == 3 && strcmp(argv[1], "start") == 0) return Start(argv[2]);
    if (argc == 5 && strcmp(argv[1], "set") == 0) return Set(argv[2], argv[3], argv[4]);
    if (argc == 3 && strcmp(argv[1], "areas") == 0) return Areas(argv[2]);
    if (argc == 4 && strcmp(argv[1], "probe") == 0)
        return Probe((unsigned)strtoul(argv[2], NULL, 10), (DWORD)strtoul(argv[3], NULL, 0));
    fprintf(stderr, "usage: portfeed add SERVICE DRIVE... | start SERVICE | set SERVICE NAME N|- | "
                    "areas SERVICE | probe PORT SIZE\n");
    return 2;
}

// Test-only SCSI port for Wine, which has none: one device,
// \DosDevices\Scsi<N>: (N in decimal, as Windows names its ports), answering IOCTL_SCSI_GET_INQUIRY_DATA with the LU
// records that portfeed.exe left in this driver's service key.
//
// Service key values:
//   PortNumber  REG_DWORD   N of the link (0 to 255)
//   Records     REG_BINARY  40 bytes per LU path: PathId, TargetId, Lun, 0,
//                           then the LU's 36 bytes of standard INQUIRY data
//   RefuseBelow REG_DWORD   optional: areas smaller than this are refused
//                           even when the answer would fit
//   TooSmall    REG_DWORD   optional: the NTSTATUS of a refusal (default
//                           STATUS_BUFFER_OVERFLOW, ERROR_MORE_DATA to callers)
//   Areas       REG_BINARY  written here: the area size of every request, in
//                           the order received
#include <ntddk.h>

#define IOCTL_SCSI_GET_INQUIRY_DATA 0x4100C
#define FEED_RECORD_LEN 40
#define INQUIRY_LEN 36
#define RECORD_HEAD 12          // PathId .. NextInquiryDataOffset
#define AREA_HEAD 4             // NumberOfBuses and its padding
#define BUS_DATA_LEN 8
#define ALIGN8(n) (((n) + 7u) & ~7u)
#define POOL_TAG 0x74727076     // "vprt"

static PDEVICE_OBJECT g_Device;
static UNICODE_STRING g_Link;
static WCHAR g_LinkText[] = L"\\DosDevices\\Scsi255:";
#define LINK_NUMBER_AT 16       // after "\DosDevices\Scsi"
static HANDLE g_Key;
static UCHAR* g_Area;
static ULONG g_AreaLen;

static void PutU32(UCHAR* p, ULONG v)
{
    RtlCopyMemory(p, &v, sizeof v);
}

// Reads one value into a pool buffer; the caller frees it.
static KEY_VALUE_PARTIAL_INFORMATION* QueryValue(const WCHAR* name)
{
    UNICODE_STRING n;
    ULONG size = 0;
    RtlInitUnicodeString(&n, name);
    NTSTATUS st = ZwQueryValueKey(g_Key, &n, KeyValuePartialInformation, NULL, 0, &size);
    if (st != STATUS_BUFFER_TOO_SMALL && st != STATUS_BUFFER_OVERFLOW) return NULL;
    KEY_VALUE_PARTIAL_INFORMATION* info = ExAllocatePoolWithTag(PagedPool, size, POOL_TAG);
    if (info == NULL) return NULL;
    if (!NT_SUCCESS(ZwQueryValueKey(g_Key, &n, KeyValuePartialInformation, info, size, &size))) {
        ExFreePoolWithTag(info, POOL_TAG);
        return NULL;
    }
    return info;
}

static ULONG QueryDword(const WCHAR* name, ULONG fallback)
{
    KEY_VALUE_PARTIAL_INFORMATION* info = QueryValue(name);
    ULONG v = fallback;
    if (info != NULL && info->Type == REG_DWORD && info->DataLength == sizeof v)
        RtlCopyMemory(&v, info->Data, sizeof v);
    if (info != NULL) ExFreePoolWithTag(info, POOL_TAG);
    return v;
}

static void LogArea(ULONG size)
{
    KEY_VALUE_PARTIAL_INFORMATION* info = QueryValue(L"Areas");
    ULONG old = info != NULL && info->Type == REG_BINARY ? info->DataLength : 0;
    UCHAR* all = ExAllocatePoolWithTag(PagedPool, old + sizeof size, POOL_TAG);
    if (all != NULL) {
        if (old != 0) RtlCopyMemory(all, info->Data, old);
        PutU32(all + old, size);
        UNICODE_STRING n;
        RtlInitUnicodeString(&n, L"Areas");
        ZwSetValueKey(g_Key, &n, 0, REG_BINARY, all, old + sizeof size);
        ExFreePoolWithTag(all, POOL_TAG);
    }
    if (info != NULL) ExFreePoolWithTag(info, POOL_TAG);
}

// The records sorted by path, target and LUN, as a port lists its scan.
static void SortRecords(UCHAR* rec, ULONG count)
{
    UCHAR tmp[FEED_RECORD_LEN];
    for (ULONG i = 1; i < count; ++i) {
        for (ULONG j = i; j > 0; --j) {
            UCHAR* a = rec + (j - 1) * FEED_RECORD_LEN;
            UCHAR* b = rec + j * FEED_RECORD_LEN;
            ULONG ka = (ULONG)a[0] << 16 | (ULONG)a[1] << 8 | a[2];
            ULONG kb = (ULONG)b[0] << 16 | (ULONG)b[1] << 8 | b[2];
            if (ka <= kb) break;
            RtlCopyMemory(tmp, a, FEED_RECORD_LEN);
            RtlCopyMemory(a, b, FEED_RECORD_LEN);
            RtlCopyMemory(b, tmp, FEED_RECORD_LEN);
        }
    }
}

// SCSI_ADAPTER_BUS_INFO with one SCSI_BUS_DATA per path id up to the
// highest, then the SCSI_INQUIRY_DATA records on 8-byte boundaries, each
// bus's records chained through NextInquiryDataOffset.
static NTSTATUS BuildArea(void)
{
    KEY_VALUE_PARTIAL_INFORMATION* info = QueryValue(L"Records");
    ULONG count = info != NULL ? info->DataLength / FEED_RECORD_LEN : 0;
    UCHAR* rec = count != 0 ? info->Data : NULL;
    ULONG buses = 0;
    SortRecords(rec, count);
    for (ULONG i = 0; i < count; ++i)
        if (rec[i * FEED_RECORD_LEN] + 1u > buses) buses = rec[i * FEED_RECORD_LEN] + 1u;
    ULONG first = ALIGN8(AREA_HEAD + buses * BUS_DATA_LEN);
    ULONG step = ALIGN8(RECORD_HEAD + INQUIRY_LEN);
    g_AreaLen = first + count * step;
    g_Area = ExAllocatePoolWithTag(NonPagedPool, g_AreaLen, POOL_TAG);
    if (g_Area == NULL) {
        if (info != NULL) ExFreePoolWithTag(info, POOL_TAG);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(g_Area, g_AreaLen);
    g_Area[0] = (UCHAR)buses;
    UCHAR* prevOnBus[256] = {0};
    for (ULONG i = 0; i < count; ++i) {
        const UCHAR* in = rec + i * FEED_RECORD_LEN;
        ULONG off = first + i * step;
        UCHAR* out = g_Area + off;
        UCHAR* bus = g_Area + AREA_HEAD + in[0] * BUS_DATA_LEN;
        out[0] = in[0];
        out[1] = in[1];
        out[2] = in[2];
        out[3] = TRUE;      // the disk class driver has it
        PutU32(out + 4, INQUIRY_LEN);
        RtlCopyMemory(out + RECORD_HEAD, in + 4, INQUIRY_LEN);
        bus[0]++;           // NumberOfLogicalUnits
        bus[1] = 7;         // InitiatorBusId
        if (prevOnBus[in[0]] == NULL)
            PutU32(bus + 4, off);
        else
            PutU32(prevOnBus[in[0]] + 8, off);
        prevOnBus[in[0]] = out;
    }
    if (info != NULL) ExFreePoolWithTag(info, POOL_TAG);
    return STATUS_SUCCESS;
}

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR info)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = info;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS WINAPI OpenClose(PDEVICE_OBJECT device, PIRP irp)
{
    (void)device;
    return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS WINAPI Control(PDEVICE_OBJECT device, PIRP irp)
{
    (void)device;
    IO_STACK_LOCATION* sp = IoGetCurrentIrpStackLocation(irp);
    if (sp->Parameters.DeviceIoControl.IoControlCode != IOCTL_SCSI_GET_INQUIRY_DATA)
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    ULONG size = sp->Parameters.DeviceIoControl.OutputBufferLength;
    LogArea(size);
    if (size < g_AreaLen || size < QueryDword(L"RefuseBelow", 0))
        return Complete(irp, (NTSTATUS)QueryDword(L"TooSmall", (ULONG)STATUS_BUFFER_OVERFLOW), 0);
    RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, g_Area, g_AreaLen);
    return Complete(irp, STATUS_SUCCESS, g_AreaLen);
}

static void WINAPI Unload(PDRIVER_OBJECT driver)
{
    (void)driver;
    IoDeleteSymbolicLink(&g_Link);
    IoDeleteDevice(g_Device);
    ExFreePoolWithTag(g_Area, POOL_TAG);
    ZwClose(g_Key);
}

NTSTATUS WINAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    OBJECT_ATTRIBUTES attr;
    InitializeObjectAttributes(&attr, registryPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               NULL, NULL);
    NTSTATUS st = ZwOpenKey(&g_Key, KEY_READ | KEY_WRITE, &attr);
    if (!NT_SUCCESS(st)) return st;
    st = BuildArea();
    if (!NT_SUCCESS(st)) {
        ZwClose(g_Key);
        return st;
    }

    UNICODE_STRING name;
    RtlInitUnicodeString(&name, L"\\Device\\VrxprTestPort0");
    st = IoCreateDevice(driver, 0, &name, FILE_DEVICE_CONTROLLER, 0, FALSE, &g_Device);
    if (NT_SUCCESS(st)) {
        ULONG port = QueryDword(L"PortNumber", 0) & 255;
        WCHAR* at = g_LinkText + LINK_NUMBER_AT;
        if (port >= 100) *at++ = (WCHAR)(L'0' + port / 100);
        if (port >= 10) *at++ = (WCHAR)(L'0' + port / 10 % 10);
        *at++ = (WCHAR)(L'0' + port % 10);
        *at++ = L':';
        *at = 0;
        RtlInitUnicodeString(&g_Link, g_LinkText);
        st = IoCreateSymbolicLink(&g_Link, &name);
        if (!NT_SUCCESS(st)) IoDeleteDevice(g_Device);
    }
    if (!NT_SUCCESS(st)) {
        ExFreePoolWithTag(g_Area, POOL_TAG);
        ZwClose(g_Key);
        return st;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = OpenClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = OpenClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = Control;
    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "inventory/discovery.h"
#include "records/records.h"
#include "operator/msg.h"
#include "operator/operator.h"
#include "platform/platform.h"

namespace {

#define DEVICE_NAME_LEN 64
#define INQUIRY_ID_OFFSET 8    // vendor identification starts here
#define INQUIRY_ID_LEN 24      // vendor (8) and product (16)
#define INQUIRY_MIN_LEN 32     // up to the end of the product identification
#define INQUIRY_RECORD_HEAD offsetof(SCSI_INQUIRY_DATA, InquiryData)

struct MODEL_DEF {
    const char* Text;
    size_t Length;
};

const MODEL_DEF g_ModelTable[] = {
    {"KN      VELA", 12},
    {"ZORBELT VELA", 12},
    {"ZORBELT TQ11", 12},
    {"ZORBELT TQ22", 12},
    {"ZORBELT TQ33", 12},
    {"ZORBELT TQ44", 12},
    {"MRB     NOVA", 12},
    {"LOX     KAMBERLON       ", 24},
};

uint32_t ReadU32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, sizeof v);  // the port driver's own (little-endian) layout
    return v;
}

// A number of the port's data, as wide as its field is on this platform.
uint64_t ReadNumber(const uint8_t* p, size_t size)
{
    uint64_t v = 0;
    for (size_t i = size; i-- > 0;) v = (v << 8) | p[i];
    return v;
}

#define READ_FIELD(p, type, field) ReadNumber((p) + offsetof(type, field), VRX_FIELD_SIZE(type, field))

void AppendNode(uint32_t PortNo, uint32_t PathId, uint32_t TargetId, uint64_t Lun,
                const uint8_t* inquiry8)
{
    LU_INFO* node = static_cast<LU_INFO*>(std::malloc(sizeof(LU_INFO)));
    if (node == nullptr) {
        QelVRXPR_PutMsg(MSG_NO_MEMORY);
        QelVRXPR_Exit(EXIT_FAILURE_IO);
    }
    node->pPrev = g_LuTail;
    node->pNext = nullptr;
    node->SeqNo = g_LuTail == nullptr ? 1 : g_LuTail->SeqNo + 1;
    node->PortNo = PortNo;
    node->PathId = PathId;
    node->TargetId = TargetId;
    node->Lun = Lun;
    node->PhysDriveNo = -1;
    std::memset(node->VendorProduct, 0, sizeof node->VendorProduct);
    for (size_t i = 0; i < INQUIRY_ID_LEN && inquiry8[i] != 0; ++i)
        node->VendorProduct[i] = (char)inquiry8[i];
    if (g_LuTail == nullptr)
        g_LuHead = node;
    else
        g_LuTail->pNext = node;
    g_LuTail = node;
}

// Walks one bus's record chain. A record whose header lies outside the data
// ends the chain; one whose INQUIRY data is cut short is passed over; a
// chain that comes back to a record already seen ends there, since the
// port would otherwise have us walk it forever.
void ScanBus(uint32_t PortNo, uint32_t PathId, uint32_t offset, const uint8_t* data, size_t len,
             uint8_t* seen)
{
    std::memset(seen, 0, (len + 7) / 8);
    while (offset != 0) {
        if (offset >= len || len - offset < INQUIRY_RECORD_HEAD) return;
        if (seen[offset / 8] & (1u << (offset % 8))) return;
        seen[offset / 8] |= (uint8_t)(1u << (offset % 8));

        const uint8_t* rec = data + offset;
        uint32_t inquiryLen = ReadU32(rec + offsetof(SCSI_INQUIRY_DATA, InquiryDataLength));
        size_t available = len - offset - INQUIRY_RECORD_HEAD;
        if (inquiryLen >= INQUIRY_MIN_LEN && available >= INQUIRY_MIN_LEN) {
            const uint8_t* inquiry8 = rec + INQUIRY_RECORD_HEAD + INQUIRY_ID_OFFSET;
            if (QelVRXPR_ChkModel(inquiry8, INQUIRY_ID_LEN) >= 0)
                AppendNode(PortNo, PathId, (uint32_t)READ_FIELD(rec, SCSI_INQUIRY_DATA, TargetId),
                           READ_FIELD(rec, SCSI_INQUIRY_DATA, Lun), inquiry8);
        }
        offset = ReadU32(rec + offsetof(SCSI_INQUIRY_DATA, NextInquiryDataOffset));
    }
}

void MapDrives()
{
    int remaining = 0;
    for (LU_INFO* p = g_LuHead; p != nullptr; p = p->pNext) ++remaining;

    char name[DEVICE_NAME_LEN];
    char refused[DEVICE_NAME_LEN] = "";  // the first drive that refused us
    for (int drive = 0; drive < PHYS_DRIVE_MAX; ++drive) {
        std::snprintf(name, sizeof name, g_PfDriveNameFmt, drive);
        HANDLE h = QelVRXPR_OpenDevice(name);
        if (h == INVALID_HANDLE_VALUE) {
            if (refused[0] == '\0' && QelVRXPR_GetLastErr() == ERROR_ACCESS_DENIED)
                std::snprintf(refused, sizeof refused, "%s", name);
            continue;
        }
        SCSI_ADDRESS addr;
        if (!QelVRXPR_ReadDriveAddress(h, &addr)) {
            QelVRXPR_CloseDevice(h);
            continue;
        }
        for (LU_INFO* p = g_LuHead; p != nullptr; p = p->pNext) {
            if (QelVRXPR_ChkLUAddress(p, &addr)) {
                p->PhysDriveNo = drive;
                --remaining;
                break;
            }
        }
        QelVRXPR_CloseDevice(h);
        if (remaining <= 0) break;
    }

    for (LU_INFO* p = g_LuHead; p != nullptr; p = p->pNext) {
        if (p->PhysDriveNo == -1) {
            // Without the rights to open drives (Linux: not root) every one
            // refuses: that, not a missing drive, is what the operator
            // must hear.
            if (refused[0] != '\0') {
                QelVRXPR_PutMsg(MSG_OPEN_FAILED, refused);
                QelVRXPR_Exit(EXIT_FAILURE_IO);
            }
            char luName[LU_NAME_LEN];
            QelVRXPR_MakeLUName_Node(p, luName);
            QelVRXPR_PutMsg(MSG_NO_DRIVE, luName);
            QelVRXPR_Exit(EXIT_FAILURE_IO);
        }
    }
}

// One request into 16 KB serves every port that fits; a port with more
// LUs says so, and is asked again with twice the area, as its driver's
// documentation tells callers to.
void ReadPort(unsigned port, HANDLE h)
{
    DWORD size = INQUIRY_BUF_LEN;
    for (;;) {
        uint8_t* area = static_cast<uint8_t*>(std::malloc(size));
        if (area == nullptr) {
            QelVRXPR_PutMsg(MSG_NO_MEMORY);
            QelVRXPR_Exit(EXIT_FAILURE_IO);
        }
        DWORD returned = 0;
        if (QelVRXPR_RequestDevice(h, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, area, size,
                                   &returned)) {
            QelVRXPR_ScanInquiryData(port, area, returned < size ? returned : size);
            std::free(area);
            return;
        }
        DWORD error = QelVRXPR_GetLastErr();
        std::free(area);
        if ((error != ERROR_INSUFFICIENT_BUFFER && error != ERROR_MORE_DATA) ||
            size >= INQUIRY_BUF_MAX) {
            QelVRXPR_PutMsg(MSG_INQUIRY_FAILED, port, (unsigned)error);
            QelVRXPR_Exit(EXIT_FAILURE_IO);
        }
        size *= 2;
    }
}

}  // namespace

int QelVRXPR_ReadDriveAddress(HANDLE h, SCSI_ADDRESS* pAddr)
{
    static uint8_t area[ADDRESS_BUF_LEN];
    DWORD returned = 0;
    if (!QelVRXPR_RequestDevice(h, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, area, sizeof area,
                                &returned) ||
        returned < sizeof(SCSI_ADDRESS))
        return 0;
    std::memcpy(pAddr, area, sizeof *pAddr);
    return 1;
}

int QelVRXPR_ChkLUAddress(const LU_INFO* pLuInfo, const SCSI_ADDRESS* pAddr)
{
    return pLuInfo->PortNo == pAddr->PortNumber && pLuInfo->PathId == pAddr->PathId &&
           pLuInfo->TargetId == pAddr->TargetId && pLuInfo->Lun == pAddr->Lun;
}

int QelVRXPR_ChkModel(const uint8_t* inquiry8, size_t len)
{
    for (size_t row = 0; row < sizeof g_ModelTable / sizeof g_ModelTable[0]; ++row) {
        const MODEL_DEF& m = g_ModelTable[row];
        if (len >= m.Length && std::memcmp(inquiry8, m.Text, m.Length) == 0) return (int)row;
    }
    return -1;
}

void QelVRXPR_ScanInquiryData(uint32_t PortNo, const uint8_t* data, size_t len)
{
    if (len < offsetof(SCSI_ADAPTER_BUS_INFO, BusData)) return;
    uint8_t* seen = static_cast<uint8_t*>(std::malloc((len + 7) / 8));
    if (seen == nullptr) {
        QelVRXPR_PutMsg(MSG_NO_MEMORY);
        QelVRXPR_Exit(EXIT_FAILURE_IO);
    }
    uint32_t buses = (uint32_t)READ_FIELD(data, SCSI_ADAPTER_BUS_INFO, NumberOfBuses);
    for (uint32_t bus = 0; bus < buses; ++bus) {
        size_t entry = offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + bus * sizeof(SCSI_BUS_DATA);
        if (entry + sizeof(SCSI_BUS_DATA) > len) break;
        uint32_t first = ReadU32(data + entry + offsetof(SCSI_BUS_DATA, InquiryDataOffset));
        ScanBus(PortNo, bus, first, data, len, seen);
    }
    std::free(seen);
}

void QelVRXPR_GetLUList()
{
    char name[DEVICE_NAME_LEN];
    for (unsigned port = 0; QelVRXPR_GetNextPort(&port); ++port) {
        std::snprintf(name, sizeof name, g_PfPortNameFmt, port);
        HANDLE h = QelVRXPR_OpenDevice(name);
        if (h == INVALID_HANDLE_VALUE) {
            // Without administrator rights every port refuses; "no LU" would
            // then be a lie told at the worst moment.
            if (QelVRXPR_GetLastErr() == ERROR_ACCESS_DENIED) {
                QelVRXPR_PutMsg(MSG_OPEN_FAILED, name);
                QelVRXPR_Exit(EXIT_FAILURE_IO);
            }
            continue;
        }
        ReadPort(port, h);
        QelVRXPR_CloseDevice(h);
    }
    MapDrives();
}

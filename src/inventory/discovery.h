// Finds the LUs of the managed models and maps each to its physical drive.
#ifndef VRXPR_DISCOVERY_H
#define VRXPR_DISCOVERY_H

#include <cstddef>
#include <cstdint>

#include "records/records.h"
#include "platform/platform.h"

#define INQUIRY_BUF_LEN 16384        // the first area a port is read into
#define INQUIRY_BUF_MAX 0x400000u    // the largest, after doubling
#define ADDRESS_BUF_LEN 2048
#define PHYS_DRIVE_MAX 32768

void QelVRXPR_GetLUList();

// The SCSI address of the device behind an open drive handle, read into the
// area that port drivers expect. Non-zero on success.
int QelVRXPR_ReadDriveAddress(HANDLE h, SCSI_ADDRESS* pAddr);
// Non-zero when the address is the node's port, path, target and LUN.
int QelVRXPR_ChkLUAddress(const LU_INFO* pLuInfo, const SCSI_ADDRESS* pAddr);

// Index of the model-table row that INQUIRY bytes 8 on (len bytes available)
// match, or -1.
int QelVRXPR_ChkModel(const uint8_t* inquiry8, size_t len);
// Appends a node for each managed LU in one port's inquiry data, of which
// only the first len bytes were returned. Ends the process when memory
// cannot be allocated.
void QelVRXPR_ScanInquiryData(uint32_t PortNo, const uint8_t* data, size_t len);

#endif

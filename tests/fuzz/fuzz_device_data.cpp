// Device answers are untrusted: the inquiry-data walk and the reservation
// answer and identification page parsing must neither crash, hang nor read
// past what was returned.
// The first input byte picks the parser; the rest is the device's answer,
// handed over in a buffer of exactly its own size.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "inventory/discovery.h"
#include "records/records.h"
#include "pr/pr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    if (size == 0) return 0;
    std::vector<uint8_t> answer(input + 1, input + size);
    const uint8_t* data = answer.empty() ? nullptr : answer.data();

    if (input[0] % 3 == 2) {
        // Only whole designators of the logical unit are kept.
        static PR_IDENT ident;
        QelVRXPR_ParseLUIdent(data, answer.size(), &ident);
        if (ident.Len > answer.size()) std::abort();
        for (uint32_t at = 0; at < ident.Len; at += 4u + ident.Bytes[at + 3]) {
            if (ident.Len - at < 4 || (ident.Bytes[at + 1] & 0x30) != 0) std::abort();
        }
    } else if (input[0] % 3 == 0) {
        QelVRXPR_ScanInquiryData(input[0] / 3 % 16, data, answer.size());
        for (LU_INFO* p = g_LuHead; p != nullptr; p = p->pNext) {
            if (p->VendorProduct[VENDOR_PRODUCT_LEN - 1] != '\0') std::abort();
            if (QelVRXPR_ChkModel(reinterpret_cast<const uint8_t*>(p->VendorProduct),
                                  std::strlen(p->VendorProduct)) < 0)
                std::abort();
        }
    } else {
        // The transport always hands the parser a full, zero-filled buffer.
        static PR_DATA buf;
        std::memset(buf.Bytes, 0, sizeof buf.Bytes);
        if (!answer.empty())
            std::memcpy(buf.Bytes, answer.data(), answer.size() < PR_DATA_LEN ? answer.size() : PR_DATA_LEN);
        static LU_INFO node;
        PR_INFO entry;
        std::memset(&entry, 0xA5, sizeof entry);
        entry.pLuInfo = &node;
        g_PrTable = &entry;
        g_PrCount = 1;
        uint32_t additional = (uint32_t)buf.Bytes[4] << 24 | (uint32_t)buf.Bytes[5] << 16 |
                              (uint32_t)buf.Bytes[6] << 8 | buf.Bytes[7];
        QelVRXPR_StoreKeys(0, additional / 8, buf.Bytes);
        if (entry.KeyCount > PR_MAX_KEYS) std::abort();
        if (entry.KeyCount != 0) QelVRXPR_StoreResv(0, buf.Bytes);
        g_PrTable = nullptr;
        g_PrCount = 0;
    }
    QelVRXPR_FreeRecords();
    return 0;
}

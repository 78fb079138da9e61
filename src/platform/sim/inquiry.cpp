// INQUIRY as an SPC-3 disk answers it: standard data, and the pages that
// give the LU an identity of its own wherever it is presented.
#include "simstate.h"

namespace {

const uint8_t SIM_PAGE_SUPPORTED = 0x00;
const uint8_t SIM_PAGE_SERIAL = 0x80;
const uint8_t SIM_PAGE_DEVICE_ID = 0x83;
const size_t SIM_DESIG_MAX = 255;  // a designator's length has one byte
const size_t SIM_T10_VENDOR_LEN = 8;

void SimInvalidField(SIM_ANSWER* a)
{
    SimSetCheck(a, 0x05, 0x24, 0x00);  // ILLEGAL REQUEST, INVALID FIELD IN CDB
}

void SimPutPage(std::vector<uint8_t>* d, uint8_t pdt, uint8_t page, const std::vector<uint8_t>& body)
{
    d->push_back(pdt);
    d->push_back(page);
    d->push_back(static_cast<uint8_t>(body.size() >> 8));
    d->push_back(static_cast<uint8_t>(body.size()));
    d->insert(d->end(), body.begin(), body.end());
}

// One designator of the logical unit: NAA when the file gives one, else
// the T10 vendor identification followed by the LU's name.
std::vector<uint8_t> SimDesignator(const SIM_LU& lu)
{
    std::vector<uint8_t> id;
    uint8_t codeSet, type;
    if (!lu.Naa.empty()) {
        codeSet = 0x01;  // binary
        type = 0x03;     // NAA
        id = lu.Naa;
    } else {
        codeSet = 0x02;  // ASCII
        type = 0x01;     // T10 vendor ID
        for (size_t i = 8; i < 8 + SIM_T10_VENDOR_LEN; i++) id.push_back(i < lu.Inquiry.size() ? lu.Inquiry[i] : ' ');
        id.insert(id.end(), lu.Name.begin(), lu.Name.end());
        if (id.size() > SIM_DESIG_MAX) id.resize(SIM_DESIG_MAX);
    }
    std::vector<uint8_t> d = {codeSet, type, 0x00, static_cast<uint8_t>(id.size())};
    d.insert(d.end(), id.begin(), id.end());
    return d;
}

// The target port designators the file asks for (relative target port
// identifiers 1 to N), then the LU's own.
std::vector<uint8_t> SimDeviceIdPage(const SIM_LU& lu)
{
    std::vector<uint8_t> body;
    for (uint32_t n = 1; n <= lu.PortDesignators; n++) {
        // code set binary; association target port, type relative target port
        const uint8_t d[] = {0x01, 0x14, 0x00, 0x04, static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
                             static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
        body.insert(body.end(), d, d + sizeof d);
    }
    std::vector<uint8_t> own = SimDesignator(lu);
    body.insert(body.end(), own.begin(), own.end());
    return body;
}

}  // namespace

void SimAnswerInquiry(const SIM_LU& lu, const uint8_t* cdb, SIM_ANSWER* a)
{
    // SPC-2 has a one-byte allocation length and checks the reserved byte 3.
    if (lu.Spc == 2 && cdb[3] != 0) return SimInvalidField(a);
    size_t alloc = (static_cast<size_t>(cdb[3]) << 8) | cdb[4];
    bool evpd = (cdb[1] & 0x01) != 0;
    uint8_t page = cdb[2];
    std::vector<uint8_t> d;
    if (!evpd) {
        if (page != 0) return SimInvalidField(a);
        d = lu.Inquiry;
    } else {
        if (!lu.Vpd) return SimInvalidField(a);
        uint8_t pdt = lu.Inquiry.empty() ? 0 : lu.Inquiry[0];
        if (page == SIM_PAGE_SUPPORTED) {
            SimPutPage(&d, pdt, page, {SIM_PAGE_SUPPORTED, SIM_PAGE_SERIAL, SIM_PAGE_DEVICE_ID});
        } else if (page == SIM_PAGE_SERIAL) {
            SimPutPage(&d, pdt, page, std::vector<uint8_t>(lu.Name.begin(), lu.Name.end()));
        } else if (page == SIM_PAGE_DEVICE_ID) {
            SimPutPage(&d, pdt, page, SimDeviceIdPage(lu));
        } else {
            return SimInvalidField(a);
        }
    }
    if (d.size() > alloc) d.resize(alloc);
    a->Status = 0x00;
    a->DataIn = d;
}

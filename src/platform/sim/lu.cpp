// The simulated LU: taken from the state file, and keeping persistent
// reservations as the Linux kernel's SCSI target does for the commands the
// utility sends.
#include <cstring>

#include "simstate.h"

namespace {

const uint8_t SIM_OP_INQUIRY = 0x12;
const uint8_t SIM_OP_PR_IN = 0x5E;
const uint8_t SIM_OP_PR_OUT = 0x5F;

const uint8_t SIM_STATUS_GOOD = 0x00;
const uint8_t SIM_STATUS_CHECK = 0x02;
const uint8_t SIM_STATUS_CONFLICT = 0x18;

const uint8_t SIM_KEY_ILLEGAL_REQUEST = 0x05;
const uint8_t SIM_KEY_UNIT_ATTENTION = 0x06;

struct SIM_CMD_NAME {
    uint8_t OpCode;
    uint8_t ServiceAction;
    const char* Name;
};

// INQUIRY's entry is any INQUIRY that asks for a page (EVPD 1).
const SIM_CMD_NAME g_SimCmdNames[] = {
    {SIM_OP_INQUIRY, 0x01, "INQUIRY"},
    {SIM_OP_PR_IN, 0x00, "READ KEYS"},
    {SIM_OP_PR_IN, 0x01, "READ RESERVATION"},
    {SIM_OP_PR_OUT, 0x00, "REGISTER"},
    {SIM_OP_PR_OUT, 0x03, "CLEAR"},
    {SIM_OP_PR_OUT, 0x06, "REGISTER AND IGNORE EXISTING KEY"},
};

uint64_t SimReadBE64(const uint8_t* p)
{
    uint64_t v = 0;
    for (int i = 0; i < 8; i++) v = (v << 8) | p[i];
    return v;
}

void SimPutBE(std::vector<uint8_t>* out, uint64_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; i--) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

SIM_REGISTRATION* SimFindReg(SIM_LU* lu, const std::string& nexus)
{
    for (SIM_REGISTRATION& r : lu->Registrations)
        if (r.Host == nexus) return &r;
    return nullptr;
}

bool SimIsAllRegistrantsType(unsigned type)
{
    return type == 7 || type == 8;
}

void SimChangeLU(SIM_LU* lu)
{
    lu->Generation++;
    lu->PrChanged = true;
}

void SimUnregister(SIM_LU* lu, const std::string& nexus)
{
    for (size_t i = 0; i < lu->Registrations.size(); i++) {
        if (lu->Registrations[i].Host == nexus) {
            lu->Registrations.erase(lu->Registrations.begin() + static_cast<long>(i));
            break;
        }
    }
    if (!lu->Reserved) return;
    // An all-registrants reservation lasts while anyone is registered.
    if (SimIsAllRegistrantsType(lu->ResvType) ? lu->Registrations.empty() : lu->ResvHost == nexus) {
        lu->Reserved = false;
        lu->ResvHost.clear();
        lu->ResvType = 0;
    }
}

void SimAnswerPrIn(SIM_LU* lu, uint8_t sa, const uint8_t* cdb, SIM_ANSWER* a)
{
    size_t alloc = (static_cast<size_t>(cdb[7]) << 8) | cdb[8];
    std::vector<uint8_t> d;
    SimPutBE(&d, lu->Generation, 4);
    if (sa == 0x00) {
        SimPutBE(&d, 8ull * lu->Registrations.size(), 4);
        for (const SIM_REGISTRATION& r : lu->Registrations) SimPutBE(&d, r.Key, 8);
    } else {
        if (!lu->Reserved) {
            SimPutBE(&d, 0, 4);
        } else {
            SimPutBE(&d, 16, 4);
            uint64_t key = 0;
            SIM_REGISTRATION* holder = SimFindReg(lu, lu->ResvHost);
            if (!SimIsAllRegistrantsType(lu->ResvType) && holder != nullptr) key = holder->Key;
            SimPutBE(&d, key, 8);
            SimPutBE(&d, 0, 4);       // obsolete scope-specific address
            d.push_back(0);                 // reserved
            d.push_back(static_cast<uint8_t>(lu->ResvType & 0x0F));  // scope LU_SCOPE, type
            SimPutBE(&d, 0, 2);       // obsolete
        }
    }
    if (d.size() > alloc) d.resize(alloc);
    a->Status = SIM_STATUS_GOOD;
    a->DataIn = d;
}

void SimAnswerPrOut(SIM_LU* lu, const std::string& nexus, uint8_t sa, const uint8_t* param,
                    SIM_ANSWER* a)
{
    uint64_t resKey = SimReadBE64(param);
    uint64_t sarKey = SimReadBE64(param + 8);
    SIM_REGISTRATION* reg = SimFindReg(lu, nexus);
    a->Status = SIM_STATUS_GOOD;

    if (sa == 0x03) {  // CLEAR
        if (reg == nullptr || reg->Key != resKey) {
            a->Status = SIM_STATUS_CONFLICT;
            return;
        }
        lu->Registrations.clear();
        lu->Reserved = false;
        lu->ResvHost.clear();
        lu->ResvType = 0;
        SimChangeLU(lu);
        return;
    }

    bool ignoreKey = sa == 0x06;
    if (reg == nullptr) {
        if (!ignoreKey && resKey != 0) {
            a->Status = SIM_STATUS_CONFLICT;
            return;
        }
        if (sarKey == 0) return;  // nothing to register; no change
        lu->Registrations.push_back(SIM_REGISTRATION{nexus, sarKey});
        SimChangeLU(lu);
        return;
    }
    if (!ignoreKey && reg->Key != resKey) {
        a->Status = SIM_STATUS_CONFLICT;
        return;
    }
    if (sarKey == 0)
        SimUnregister(lu, nexus);
    else
        reg->Key = sarKey;
    SimChangeLU(lu);
}

bool SimParseKey(const std::string& text, uint64_t* out)
{
    size_t start = text.compare(0, 2, "0x") == 0 || text.compare(0, 2, "0X") == 0 ? 2 : 0;
    if (text.size() - start != 16) return false;
    uint64_t v = 0;
    for (size_t i = start; i < text.size(); i++) {
        int d = SimHexValue(text[i]);
        if (d < 0) return false;
        v = v * 16 + static_cast<uint64_t>(d);
    }
    *out = v;
    return true;
}

bool SimLoadRegistrations(const SIM_JSON& regs, const std::string& rw, SIM_LU* lu, std::string* error)
{
    if (!regs.is_array()) return SimFail(error, rw, "expected an array");
    for (size_t i = 0; i < regs.size(); i++) {
        std::string ew = rw + "[" + std::to_string(i) + "]";
        const SIM_JSON& e = regs[i];
        if (!SimCheckKeys(e, ew, {"host", "key"}, error)) return false;
        SIM_REGISTRATION reg;
        std::string keyText;
        bool hasHost, hasKey;
        if (!SimGetString(e, ew, "host", &reg.Host, &hasHost, error) ||
            !SimGetString(e, ew, "key", &keyText, &hasKey, error))
            return false;
        if (!hasHost || !hasKey) return SimFail(error, ew, "needs host and key");
        if (!SimParseKey(keyText, &reg.Key))
            return SimFail(error, ew + ".key", SimQuoted(keyText) + " is not 16 hexadecimal digits");
        for (const SIM_REGISTRATION& r : lu->Registrations)
            if (r.Host == reg.Host) return SimFail(error, ew, "host " + SimQuoted(reg.Host) + " registered twice");
        lu->Registrations.push_back(reg);
    }
    return true;
}

bool SimLoadFaults(const SIM_JSON& faults, const std::string& fw, SIM_LU* lu, std::string* error)
{
    if (!faults.is_array()) return SimFail(error, fw, "expected an array");
    for (size_t i = 0; i < faults.size(); i++) {
        std::string ew = fw + "[" + std::to_string(i) + "]";
        const SIM_JSON& e = faults[i];
        if (!SimCheckKeys(e, ew, {"command", "status", "error", "times"}, error)) return false;
        SIM_FAULT f;
        f.Source = e;
        bool hasCommand, hasStatus, hasError;
        uint64_t status = 0, err = 0;
        if (!SimGetString(e, ew, "command", &f.Command, &hasCommand, error) ||
            !SimGetUInt(e, ew, "status", 0, 255, &status, &hasStatus, error) ||
            !SimGetUInt(e, ew, "error", 1, SIM_MAX_DWORD, &err, &hasError, error) ||
            !SimGetUInt(e, ew, "times", 1, SIM_MAX_COUNT, &f.Times, nullptr, error))
            return false;
        bool known = false;
        for (const SIM_CMD_NAME& c : g_SimCmdNames)
            if (f.Command == c.Name) known = true;
        if (!hasCommand || !known)
            return SimFail(error, ew + ".command",
                           "expected \"INQUIRY\", \"READ KEYS\", \"READ RESERVATION\", "
                           "\"REGISTER\", \"REGISTER AND IGNORE EXISTING KEY\" or \"CLEAR\"");
        if (hasStatus == hasError) return SimFail(error, ew, "needs either status or error");
        f.IsError = hasError;
        f.Value = static_cast<uint32_t>(hasError ? err : status);
        lu->Faults.push_back(f);
    }
    return true;
}

}  // namespace

void SimSetCheck(SIM_ANSWER* a, uint8_t key, uint8_t asc, uint8_t ascq)
{
    a->Status = SIM_STATUS_CHECK;
    a->HasSense = true;
    a->SenseKey = key;
    a->Asc = asc;
    a->Ascq = ascq;
}

void SimAnswerCdb(SIM_LU* lu, const std::string& nexus, const uint8_t* cdb, size_t cdbLen,
                  const uint8_t* dataOut, size_t dataOutLen, SIM_ANSWER* a)
{
    *a = SIM_ANSWER();
    const char* name = nullptr;
    uint8_t sa = 0;
    bool inquiry = cdbLen >= 6 && cdb[0] == SIM_OP_INQUIRY;
    if (inquiry) {
        if (cdb[1] & 0x01) name = "INQUIRY";
    } else if (cdbLen >= 10) {
        sa = cdb[1] & 0x1F;
        for (const SIM_CMD_NAME& c : g_SimCmdNames)
            if (c.OpCode == cdb[0] && c.ServiceAction == sa) name = c.Name;
    }
    if (name == nullptr && !inquiry) {
        SimSetCheck(a, SIM_KEY_ILLEGAL_REQUEST, 0x24, 0x00);  // INVALID FIELD IN CDB
        return;
    }

    // A scripted answer comes before the LU's own.
    for (size_t i = 0; name != nullptr && i < lu->Faults.size(); i++) {
        SIM_FAULT& f = lu->Faults[i];
        if (f.Command != name) continue;
        if (f.IsError) {
            a->Failed = true;
            a->Error = f.Value;
        } else {
            a->Status = static_cast<uint8_t>(f.Value);
            // What a real LU most often says with an unexpected CHECK
            // CONDITION: REPORTED LUNS DATA HAS CHANGED.
            if (a->Status == SIM_STATUS_CHECK) SimSetCheck(a, SIM_KEY_UNIT_ATTENTION, 0x3F, 0x0E);
        }
        f.Times--;
        f.TimesChanged = true;
        if (f.Times == 0) lu->Faults.erase(lu->Faults.begin() + static_cast<long>(i));
        lu->FaultsChanged = true;
        return;
    }

    if (inquiry) {
        SimAnswerInquiry(*lu, cdb, a);
        return;
    }
    if (cdb[0] == SIM_OP_PR_IN) {
        SimAnswerPrIn(lu, sa, cdb, a);
        return;
    }

    // Later revisions widened PARAMETER LIST LENGTH into bytes 5 and 6.
    uint32_t paramLen = (static_cast<uint32_t>(cdb[5]) << 24) | (static_cast<uint32_t>(cdb[6]) << 16) |
                        (static_cast<uint32_t>(cdb[7]) << 8) | cdb[8];
    if (paramLen != 24 || dataOutLen != paramLen || dataOut == nullptr) {
        SimSetCheck(a, SIM_KEY_ILLEGAL_REQUEST, 0x1A, 0x00);  // PARAMETER LIST LENGTH ERROR
        return;
    }
    SimAnswerPrOut(lu, nexus, sa, dataOut, a);
}

bool SimLoadLU(const std::string& name, const SIM_JSON& v, SIM_LU* lu, std::string* error)
{
    std::string where = "lus." + name;
    if (!SimCheckKeys(v, where,
                      {"vendor", "product", "inquiry_hex", "naa", "vpd", "spc", "port_designators", "generation",
                       "registrations", "reservation", "faults"},
                      error))
        return false;
    lu->Name = name;

    std::string vendor, product;
    bool hasVendor, hasProduct, hasHex;
    if (!SimGetString(v, where, "vendor", &vendor, &hasVendor, error) ||
        !SimGetString(v, where, "product", &product, &hasProduct, error) ||
        !SimGetHexBytes(v, where, "inquiry_hex", &lu->Inquiry, &hasHex, error))
        return false;
    if (hasHex && (hasVendor || hasProduct)) return SimFail(error, where, "inquiry_hex excludes vendor and product");
    if (vendor.size() > 8) return SimFail(error, where + ".vendor", "longer than 8 characters");
    if (product.size() > 16) return SimFail(error, where + ".product", "longer than 16 characters");
    if (!hasHex) {
        // Standard INQUIRY data of a disk as the kernel's target builds it.
        lu->Inquiry.assign(36, 0);
        lu->Inquiry[2] = 0x05;  // SPC-3
        lu->Inquiry[3] = 0x02;  // response data format
        lu->Inquiry[4] = 31;    // additional length
        std::string id = vendor + std::string(8 - vendor.size(), ' ') + product +
                         std::string(16 - product.size(), ' ') + "4.0 ";
        std::memcpy(&lu->Inquiry[8], id.data(), 28);
    }

    bool hasNaa;
    if (!SimGetHexBytes(v, where, "naa", &lu->Naa, &hasNaa, error)) return false;
    if (hasNaa && lu->Naa.size() != 8 && lu->Naa.size() != 16)
        return SimFail(error, where + ".naa", "expected 16 or 32 hexadecimal digits");
    if (const SIM_JSON* vpd = SimMember(v, "vpd")) {
        if (!vpd->is_boolean()) return SimFail(error, where + ".vpd", "expected true or false");
        lu->Vpd = vpd->get<bool>();
    }
    uint64_t spc = lu->Spc, ports = 0;
    if (!SimGetUInt(v, where, "spc", 2, 3, &spc, nullptr, error) ||
        !SimGetUInt(v, where, "port_designators", 0, SIM_MAX_PORT_DESIGNATORS, &ports, nullptr, error))
        return false;
    lu->Spc = static_cast<unsigned>(spc);
    lu->PortDesignators = static_cast<uint32_t>(ports);

    uint64_t gen = 0;
    if (!SimGetUInt(v, where, "generation", 0, SIM_MAX_DWORD, &gen, nullptr, error)) return false;
    lu->Generation = static_cast<uint32_t>(gen);
    if (const SIM_JSON* regs = SimMember(v, "registrations"))
        if (!SimLoadRegistrations(*regs, where + ".registrations", lu, error)) return false;

    const SIM_JSON* resv = SimMember(v, "reservation");
    if (resv != nullptr && !resv->is_null()) {
        std::string rw = where + ".reservation";
        if (!SimCheckKeys(*resv, rw, {"host", "type"}, error)) return false;
        bool hasHost, hasType;
        uint64_t type = 0;
        if (!SimGetString(*resv, rw, "host", &lu->ResvHost, &hasHost, error) ||
            !SimGetUInt(*resv, rw, "type", 0, 15, &type, &hasType, error))
            return false;
        if (!hasHost || !hasType) return SimFail(error, rw, "needs host and type");
        lu->Reserved = true;
        lu->ResvType = static_cast<unsigned>(type);
    }

    if (const SIM_JSON* faults = SimMember(v, "faults"))
        if (!SimLoadFaults(*faults, where + ".faults", lu, error)) return false;
    return true;
}

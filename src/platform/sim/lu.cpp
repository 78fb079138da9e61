// The simulated LU: persistent reservations as the Linux kernel's SCSI
// target keeps them, for the commands the utility sends.
#include <cstring>

#include "simstate.h"

namespace {

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

const SIM_CMD_NAME g_SimCmdNames[] = {
    {SIM_OP_PR_IN, 0x00, "READ KEYS"},
    {SIM_OP_PR_IN, 0x01, "READ RESERVATION"},
    {SIM_OP_PR_OUT, 0x00, "REGISTER"},
    {SIM_OP_PR_OUT, 0x03, "CLEAR"},
    {SIM_OP_PR_OUT, 0x06, "REGISTER AND IGNORE EXISTING KEY"},
};

void SimSetCheck(SIM_ANSWER* a, uint8_t key, uint8_t asc, uint8_t ascq)
{
    a->Status = SIM_STATUS_CHECK;
    a->HasSense = true;
    a->SenseKey = key;
    a->Asc = asc;
    a->Ascq = ascq;
}

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

}  // namespace

void SimAnswerCdb(SIM_LU* lu, const std::string& nexus, const uint8_t* cdb, size_t cdbLen,
                  const uint8_t* dataOut, size_t dataOutLen, SIM_ANSWER* a)
{
    *a = SIM_ANSWER();
    const char* name = nullptr;
    uint8_t sa = 0;
    if (cdbLen >= 10) {
        sa = cdb[1] & 0x1F;
        for (const SIM_CMD_NAME& c : g_SimCmdNames)
            if (c.OpCode == cdb[0] && c.ServiceAction == sa) name = c.Name;
    }
    if (name == nullptr) {
        SimSetCheck(a, SIM_KEY_ILLEGAL_REQUEST, 0x24, 0x00);  // INVALID FIELD IN CDB
        return;
    }

    // A scripted answer comes before the LU's own.
    for (size_t i = 0; i < lu->Faults.size(); i++) {
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

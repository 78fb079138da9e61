// Reading, checking and writing back the simulated storage's state file.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "sample_storage.h"
#include "sim.h"
#include "simstate.h"

SIM_STATE g_SimState;

namespace {

const char* const g_SimRootKeyNames[] = {
    "HKEY_CLASSES_ROOT", "HKEY_CURRENT_CONFIG", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS",
};

const char* const g_SimFaultCommands[] = {
    "READ KEYS", "READ RESERVATION", "REGISTER", "REGISTER AND IGNORE EXISTING KEY", "CLEAR",
};

bool QelVRXPR_FailSim(std::string* error, const std::string& where, const std::string& what)
{
    *error = where.empty() ? what : where + ": " + what;
    return false;
}

bool QelVRXPR_CheckSimKeys(const JSON_VALUE& obj, const std::string& where,
                           std::initializer_list<const char*> allowed, std::string* error)
{
    if (obj.Kind != JSON_OBJECT) return QelVRXPR_FailSim(error, where, "expected an object");
    for (const std::string& k : obj.Keys) {
        bool known = false;
        for (const char* a : allowed)
            if (k == a) known = true;
        if (!known) return QelVRXPR_FailSim(error, where, "unknown key \"" + k + "\"");
    }
    return true;
}

std::string QelVRXPR_SimMember(const std::string& where, const char* key)
{
    return where.empty() ? std::string(key) : where + "." + key;
}

bool QelVRXPR_GetSimUInt(const JSON_VALUE& v, const std::string& where, double lo, double hi, uint64_t* out,
                         std::string* error)
{
    if (v.Kind != JSON_NUMBER || !(v.Number >= lo && v.Number <= hi) || v.Number != std::floor(v.Number)) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "expected an integer from %.0f to %.0f", lo, hi);
        return QelVRXPR_FailSim(error, where, buf);
    }
    *out = static_cast<uint64_t>(v.Number);
    return true;
}

// Optional member: absent leaves *out as it is.
bool QelVRXPR_GetSimUIntMember(const JSON_VALUE& obj, const std::string& where, const char* key, double lo,
                               double hi, uint64_t* out, bool* present, std::string* error)
{
    const JSON_VALUE* v = QelVRXPR_FindJson(obj, key);
    if (present) *present = v != nullptr;
    if (v == nullptr) return true;
    return QelVRXPR_GetSimUInt(*v, QelVRXPR_SimMember(where, key), lo, hi, out, error);
}

bool QelVRXPR_GetSimString(const JSON_VALUE& obj, const std::string& where, const char* key, std::string* out,
                           bool* present, std::string* error)
{
    const JSON_VALUE* v = QelVRXPR_FindJson(obj, key);
    if (present) *present = v != nullptr;
    if (v == nullptr) return true;
    if (v->Kind != JSON_STRING) return QelVRXPR_FailSim(error, QelVRXPR_SimMember(where, key), "expected a string");
    *out = v->Str;
    return true;
}

int QelVRXPR_SimHexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool QelVRXPR_ParseSimHexBytes(const std::string& text, std::vector<uint8_t>* out)
{
    if (text.size() % 2 != 0) return false;
    out->clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        int hi = QelVRXPR_SimHexValue(text[i]), lo = QelVRXPR_SimHexValue(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out->push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    return true;
}

bool QelVRXPR_ParseSimKey(const std::string& text, uint64_t* out)
{
    size_t start = text.compare(0, 2, "0x") == 0 || text.compare(0, 2, "0X") == 0 ? 2 : 0;
    if (text.size() - start != 16) return false;
    uint64_t v = 0;
    for (size_t i = start; i < text.size(); i++) {
        int d = QelVRXPR_SimHexValue(text[i]);
        if (d < 0) return false;
        v = v * 16 + static_cast<uint64_t>(d);
    }
    *out = v;
    return true;
}

std::string QelVRXPR_FormatSimKey(uint64_t key)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%016llX", static_cast<unsigned long long>(key));
    return buf;
}

std::string QelVRXPR_Quoted(const std::string& s)
{
    JSON_VALUE v = QelVRXPR_MakeJsonString(s);
    return QelVRXPR_FormatJson(v);
}

bool QelVRXPR_LoadSimLU(const std::string& name, const JSON_VALUE& v, SIM_LU* lu, std::string* error)
{
    std::string where = "lus." + name;
    if (!QelVRXPR_CheckSimKeys(v, where,
                               {"vendor", "product", "inquiry_hex", "generation", "registrations", "reservation",
                                "faults"},
                               error))
        return false;
    lu->Name = name;

    std::string vendor, product, hex;
    bool hasVendor, hasProduct, hasHex;
    if (!QelVRXPR_GetSimString(v, where, "vendor", &vendor, &hasVendor, error) ||
        !QelVRXPR_GetSimString(v, where, "product", &product, &hasProduct, error) ||
        !QelVRXPR_GetSimString(v, where, "inquiry_hex", &hex, &hasHex, error))
        return false;
    if (hasHex && (hasVendor || hasProduct))
        return QelVRXPR_FailSim(error, where, "inquiry_hex excludes vendor and product");
    if (vendor.size() > 8) return QelVRXPR_FailSim(error, where + ".vendor", "longer than 8 characters");
    if (product.size() > 16) return QelVRXPR_FailSim(error, where + ".product", "longer than 16 characters");
    if (hasHex) {
        if (!QelVRXPR_ParseSimHexBytes(hex, &lu->Inquiry))
            return QelVRXPR_FailSim(error, where + ".inquiry_hex", "not an even number of hexadecimal digits");
    } else {
        // Standard INQUIRY data of a disk as the kernel's target builds it.
        lu->Inquiry.assign(36, 0);
        lu->Inquiry[2] = 0x05;  // SPC-3
        lu->Inquiry[3] = 0x02;  // response data format
        lu->Inquiry[4] = 31;    // additional length
        std::string id = vendor + std::string(8 - vendor.size(), ' ') + product +
                         std::string(16 - product.size(), ' ') + "4.0 ";
        std::memcpy(&lu->Inquiry[8], id.data(), 28);
    }

    uint64_t gen = 0;
    if (!QelVRXPR_GetSimUIntMember(v, where, "generation", 0, 4294967295.0, &gen, nullptr, error)) return false;
    lu->Generation = static_cast<uint32_t>(gen);

    if (const JSON_VALUE* regs = QelVRXPR_FindJson(v, "registrations")) {
        std::string rw = where + ".registrations";
        if (regs->Kind != JSON_ARRAY) return QelVRXPR_FailSim(error, rw, "expected an array");
        for (size_t i = 0; i < regs->Items.size(); i++) {
            std::string ew = rw + "[" + std::to_string(i) + "]";
            const JSON_VALUE& e = regs->Items[i];
            if (!QelVRXPR_CheckSimKeys(e, ew, {"host", "key"}, error)) return false;
            SIM_REGISTRATION reg;
            std::string keyText;
            bool hasHost, hasKey;
            if (!QelVRXPR_GetSimString(e, ew, "host", &reg.Host, &hasHost, error) ||
                !QelVRXPR_GetSimString(e, ew, "key", &keyText, &hasKey, error))
                return false;
            if (!hasHost || !hasKey) return QelVRXPR_FailSim(error, ew, "needs host and key");
            if (!QelVRXPR_ParseSimKey(keyText, &reg.Key))
                return QelVRXPR_FailSim(error, ew + ".key",
                                        QelVRXPR_Quoted(keyText) + " is not 16 hexadecimal digits");
            for (const SIM_REGISTRATION& r : lu->Registrations)
                if (r.Host == reg.Host)
                    return QelVRXPR_FailSim(error, ew, "host " + QelVRXPR_Quoted(reg.Host) + " registered twice");
            lu->Registrations.push_back(reg);
        }
    }

    if (const JSON_VALUE* resv = QelVRXPR_FindJson(v, "reservation")) {
        std::string rw = where + ".reservation";
        if (resv->Kind != JSON_NULL) {
            if (!QelVRXPR_CheckSimKeys(*resv, rw, {"host", "type"}, error)) return false;
            bool hasHost, hasType;
            uint64_t type = 0;
            if (!QelVRXPR_GetSimString(*resv, rw, "host", &lu->ResvHost, &hasHost, error) ||
                !QelVRXPR_GetSimUIntMember(*resv, rw, "type", 0, 15, &type, &hasType, error))
                return false;
            if (!hasHost || !hasType) return QelVRXPR_FailSim(error, rw, "needs host and type");
            lu->Reserved = true;
            lu->ResvType = static_cast<unsigned>(type);
        }
    }

    if (const JSON_VALUE* faults = QelVRXPR_FindJson(v, "faults")) {
        std::string fw = where + ".faults";
        if (faults->Kind != JSON_ARRAY) return QelVRXPR_FailSim(error, fw, "expected an array");
        for (size_t i = 0; i < faults->Items.size(); i++) {
            std::string ew = fw + "[" + std::to_string(i) + "]";
            const JSON_VALUE& e = faults->Items[i];
            if (!QelVRXPR_CheckSimKeys(e, ew, {"command", "status", "error", "times"}, error)) return false;
            SIM_FAULT f;
            f.Source = e;
            bool hasCommand, hasStatus, hasError;
            uint64_t status = 0, err = 0;
            if (!QelVRXPR_GetSimString(e, ew, "command", &f.Command, &hasCommand, error) ||
                !QelVRXPR_GetSimUIntMember(e, ew, "status", 0, 255, &status, &hasStatus, error) ||
                !QelVRXPR_GetSimUIntMember(e, ew, "error", 1, 4294967295.0, &err, &hasError, error) ||
                !QelVRXPR_GetSimUIntMember(e, ew, "times", 1, 9007199254740991.0, &f.Times, nullptr, error))
                return false;
            bool known = false;
            for (const char* c : g_SimFaultCommands)
                if (f.Command == c) known = true;
            if (!hasCommand || !known)
                return QelVRXPR_FailSim(error, ew + ".command",
                                        "expected \"READ KEYS\", \"READ RESERVATION\", \"REGISTER\", "
                                        "\"REGISTER AND IGNORE EXISTING KEY\" or \"CLEAR\"");
            if (hasStatus == hasError) return QelVRXPR_FailSim(error, ew, "needs either status or error");
            f.IsError = hasError;
            f.Value = static_cast<uint32_t>(hasError ? err : status);
            lu->Faults.push_back(f);
        }
    }
    return true;
}

bool QelVRXPR_LoadSimRecord(const JSON_VALUE& e, const std::string& where, SIM_RECORD* rec, std::string* error)
{
    if (!QelVRXPR_CheckSimKeys(e, where, {"target", "lun", "lu"}, error)) return false;
    uint64_t target = 0, lun = 0;
    bool hasTarget, hasLun, hasLu;
    if (!QelVRXPR_GetSimUIntMember(e, where, "target", 0, 255, &target, &hasTarget, error) ||
        !QelVRXPR_GetSimUIntMember(e, where, "lun", 0, 255, &lun, &hasLun, error) ||
        !QelVRXPR_GetSimString(e, where, "lu", &rec->Lu, &hasLu, error))
        return false;
    if (!hasTarget || !hasLun || !hasLu) return QelVRXPR_FailSim(error, where, "needs target, lun and lu");
    if (QelVRXPR_FindSimLU(rec->Lu) == nullptr)
        return QelVRXPR_FailSim(error, where + ".lu", "no LU named " + QelVRXPR_Quoted(rec->Lu));
    rec->TargetId = static_cast<unsigned>(target);
    rec->Lun = static_cast<unsigned>(lun);
    return true;
}

bool QelVRXPR_LoadSimPort(const JSON_VALUE& e, const std::string& where, SIM_PORT* port, std::string* error)
{
    if (!QelVRXPR_CheckSimKeys(e, where,
                               {"port", "buses", "open_error", "inquiry_error", "area_error", "inquiry_data_hex"},
                               error))
        return false;
    uint64_t portNo = 0, openError = 0, inqError = 0, areaError = ERROR_MORE_DATA;
    bool hasPort, hasError, hasHex;
    std::string hex;
    // Port names carry one hexadecimal digit: ports 0 to 15.
    if (!QelVRXPR_GetSimUIntMember(e, where, "port", 0, 15, &portNo, &hasPort, error) ||
        !QelVRXPR_GetSimUIntMember(e, where, "open_error", 1, 4294967295.0, &openError, nullptr, error) ||
        !QelVRXPR_GetSimUIntMember(e, where, "inquiry_error", 1, 4294967295.0, &inqError, &hasError, error) ||
        !QelVRXPR_GetSimUIntMember(e, where, "area_error", 1, 4294967295.0, &areaError, nullptr, error) ||
        !QelVRXPR_GetSimString(e, where, "inquiry_data_hex", &hex, &hasHex, error))
        return false;
    if (!hasPort) return QelVRXPR_FailSim(error, where, "needs port");
    const JSON_VALUE* buses = QelVRXPR_FindJson(e, "buses");
    if ((buses != nullptr) + hasError + hasHex > 1)
        return QelVRXPR_FailSim(error, where, "buses, inquiry_error and inquiry_data_hex exclude each other");
    port->PortNo = static_cast<unsigned>(portNo);
    port->OpenError = static_cast<DWORD>(openError);
    port->InquiryError = static_cast<DWORD>(inqError);
    port->AreaError = static_cast<DWORD>(areaError);
    if (hasHex) {
        port->HasDataHex = true;
        if (!QelVRXPR_ParseSimHexBytes(hex, &port->DataHex))
            return QelVRXPR_FailSim(error, where + ".inquiry_data_hex", "not an even number of hexadecimal digits");
    }
    if (buses != nullptr) {
        std::string bw = where + ".buses";
        if (buses->Kind != JSON_ARRAY) return QelVRXPR_FailSim(error, bw, "expected an array");
        if (buses->Items.size() > 255) return QelVRXPR_FailSim(error, bw, "more than 255 buses");
        for (size_t b = 0; b < buses->Items.size(); b++) {
            std::string w = bw + "[" + std::to_string(b) + "]";
            const JSON_VALUE& bus = buses->Items[b];
            if (bus.Kind != JSON_ARRAY) return QelVRXPR_FailSim(error, w, "expected an array");
            port->Buses.emplace_back();
            for (size_t i = 0; i < bus.Items.size(); i++) {
                SIM_RECORD rec;
                if (!QelVRXPR_LoadSimRecord(bus.Items[i], w + "[" + std::to_string(i) + "]", &rec, error))
                    return false;
                port->Buses.back().push_back(rec);
            }
        }
    }
    return true;
}

bool QelVRXPR_LoadSimDrive(const JSON_VALUE& e, const std::string& where, SIM_DRIVE* d, std::string* error)
{
    if (!QelVRXPR_CheckSimKeys(e, where,
                               {"drive", "port", "path", "target", "lun", "lu", "open_error", "opens_before_error",
                                "address_error"},
                               error))
        return false;
    uint64_t driveNo = 0, portNo = 0, path = 0, target = 0, lun = 0, openError = 0, before = 0, addrError = 0;
    bool hasDrive, hasPort, hasTarget, hasLun, hasLu, hasOpenError, hasBefore, hasAddrError;
    if (!QelVRXPR_GetSimUIntMember(e, where, "drive", 0, 2147483647.0, &driveNo, &hasDrive, error) ||
        !QelVRXPR_GetSimUIntMember(e, where, "port", 0, 255, &portNo, &hasPort, error) ||
        !QelVRXPR_GetSimUIntMember(e, where, "path", 0, 255, &path, nullptr, error) ||
        !QelVRXPR_GetSimUIntMember(e, where, "target", 0, 255, &target, &hasTarget, error) ||
        !QelVRXPR_GetSimUIntMember(e, where, "lun", 0, 255, &lun, &hasLun, error) ||
        !QelVRXPR_GetSimString(e, where, "lu", &d->Lu, &hasLu, error) ||
        !QelVRXPR_GetSimUIntMember(e, where, "open_error", 1, 4294967295.0, &openError, &hasOpenError, error) ||
        !QelVRXPR_GetSimUIntMember(e, where, "opens_before_error", 0, 9007199254740991.0, &before, &hasBefore,
                                   error) ||
        !QelVRXPR_GetSimUIntMember(e, where, "address_error", 1, 4294967295.0, &addrError, &hasAddrError, error))
        return false;
    if (!hasDrive) return QelVRXPR_FailSim(error, where, "needs drive");
    if (hasBefore && !hasOpenError) return QelVRXPR_FailSim(error, where, "opens_before_error needs open_error");
    bool opens = !hasOpenError || (hasBefore && before > 0);
    if (opens && !hasAddrError && (!hasPort || !hasTarget || !hasLun))
        return QelVRXPR_FailSim(error, where, "needs port, target and lun, or address_error");
    if (hasLu) {
        if (!hasPort) return QelVRXPR_FailSim(error, where, "lu needs port (the nexus)");
        if (QelVRXPR_FindSimLU(d->Lu) == nullptr)
            return QelVRXPR_FailSim(error, where + ".lu", "no LU named " + QelVRXPR_Quoted(d->Lu));
    }
    d->DriveNo = static_cast<unsigned long>(driveNo);
    d->HasAddress = !hasAddrError;
    d->PortNo = static_cast<unsigned>(portNo);
    d->PathId = static_cast<unsigned>(path);
    d->TargetId = static_cast<unsigned>(target);
    d->Lun = static_cast<unsigned>(lun);
    d->OpenError = static_cast<DWORD>(openError);
    d->OpensBeforeError = hasBefore ? static_cast<long long>(before) : -1;
    d->AddressError = static_cast<DWORD>(addrError);
    return true;
}

bool QelVRXPR_LoadSimRegistry(const JSON_VALUE& reg, std::string* error)
{
    if (reg.Kind != JSON_OBJECT) return QelVRXPR_FailSim(error, "registry", "expected an object");
    for (size_t i = 0; i < reg.Keys.size(); i++) {
        std::string where = "registry[" + QelVRXPR_Quoted(reg.Keys[i]) + "]";
        const JSON_VALUE& e = reg.Items[i];
        if (!QelVRXPR_CheckSimKeys(e, where, {"default", "open_error"}, error)) return false;
        SIM_REGKEY k;
        k.Path = reg.Keys[i];
        while (!k.Path.empty() && k.Path.back() == '\\') k.Path.pop_back();
        size_t slash = k.Path.find('\\');
        bool rootKnown = false;
        for (const char* root : g_SimRootKeyNames)
            if (QelVRXPR_SameTextNoCase(k.Path.substr(0, slash), root)) rootKnown = true;
        if (!rootKnown || slash == std::string::npos)
            return QelVRXPR_FailSim(error, where, "not a key path under one of HKEY_CLASSES_ROOT, "
                                                  "HKEY_CURRENT_CONFIG, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, "
                                                  "HKEY_USERS");
        uint64_t openError = 0;
        if (!QelVRXPR_GetSimString(e, where, "default", &k.Default, &k.HasDefault, error) ||
            !QelVRXPR_GetSimUIntMember(e, where, "open_error", 1, 4294967295.0, &openError, nullptr, error))
            return false;
        k.OpenError = static_cast<DWORD>(openError);
        for (const SIM_REGKEY& other : g_SimState.Registry)
            if (QelVRXPR_SameTextNoCase(other.Path, k.Path))
                return QelVRXPR_FailSim(error, where, "the same key is listed twice");
        g_SimState.Registry.push_back(k);
    }
    return true;
}

bool QelVRXPR_LoadSimDoc(std::string* error)
{
    const JSON_VALUE& doc = g_SimState.Doc;
    if (doc.Kind != JSON_OBJECT) return QelVRXPR_FailSim(error, "", "the state must be a JSON object");
    if (!QelVRXPR_CheckSimKeys(doc, "", {"language", "registry", "ports", "drives", "lus", "log"}, error))
        return false;

    if (const JSON_VALUE* lang = QelVRXPR_FindJson(doc, "language")) {
        if (lang->Kind == JSON_NULL) {
            g_SimState.LangKind = SIM_LANG_NULL;
        } else if (lang->Kind == JSON_STRING) {
            g_SimState.LangKind = SIM_LANG_TEXT;
            g_SimState.Language = lang->Str;
        } else {
            return QelVRXPR_FailSim(error, "language", "expected a string or null");
        }
    }

    if (const JSON_VALUE* lus = QelVRXPR_FindJson(doc, "lus")) {
        if (lus->Kind != JSON_OBJECT) return QelVRXPR_FailSim(error, "lus", "expected an object");
        for (size_t i = 0; i < lus->Keys.size(); i++) {
            g_SimState.Lus.emplace_back();
            if (!QelVRXPR_LoadSimLU(lus->Keys[i], lus->Items[i], &g_SimState.Lus.back(), error)) return false;
        }
    }

    if (const JSON_VALUE* reg = QelVRXPR_FindJson(doc, "registry"))
        if (!QelVRXPR_LoadSimRegistry(*reg, error)) return false;

    if (const JSON_VALUE* ports = QelVRXPR_FindJson(doc, "ports")) {
        if (ports->Kind != JSON_ARRAY) return QelVRXPR_FailSim(error, "ports", "expected an array");
        for (size_t i = 0; i < ports->Items.size(); i++) {
            std::string where = "ports[" + std::to_string(i) + "]";
            SIM_PORT port;
            if (!QelVRXPR_LoadSimPort(ports->Items[i], where, &port, error)) return false;
            for (const SIM_PORT& p : g_SimState.Ports)
                if (p.PortNo == port.PortNo) return QelVRXPR_FailSim(error, where, "port listed twice");
            g_SimState.Ports.push_back(port);
        }
    }

    if (const JSON_VALUE* drives = QelVRXPR_FindJson(doc, "drives")) {
        if (drives->Kind != JSON_ARRAY) return QelVRXPR_FailSim(error, "drives", "expected an array");
        for (size_t i = 0; i < drives->Items.size(); i++) {
            std::string where = "drives[" + std::to_string(i) + "]";
            SIM_DRIVE d;
            if (!QelVRXPR_LoadSimDrive(drives->Items[i], where, &d, error)) return false;
            for (const SIM_DRIVE& other : g_SimState.Drives)
                if (other.DriveNo == d.DriveNo) return QelVRXPR_FailSim(error, where, "drive listed twice");
            g_SimState.Drives.push_back(d);
        }
    }

    if (const JSON_VALUE* log = QelVRXPR_FindJson(doc, "log"))
        if (log->Kind != JSON_ARRAY) return QelVRXPR_FailSim(error, "log", "expected an array");
    return true;
}

void QelVRXPR_RemoveJsonMember(JSON_VALUE* obj, const std::string& key)
{
    for (size_t i = 0; i < obj->Keys.size(); i++) {
        if (obj->Keys[i] == key) {
            obj->Keys.erase(obj->Keys.begin() + static_cast<long>(i));
            obj->Items.erase(obj->Items.begin() + static_cast<long>(i));
            return;
        }
    }
}

JSON_VALUE* QelVRXPR_FindJsonMutable(JSON_VALUE* obj, const std::string& key)
{
    return const_cast<JSON_VALUE*>(QelVRXPR_FindJson(*obj, key));
}

// Brings the document in line with the storage: LU state, faults, log.
void QelVRXPR_PatchSimDoc()
{
    JSON_VALUE& doc = g_SimState.Doc;
    if (doc.Kind != JSON_OBJECT) doc.Kind = JSON_OBJECT;
    JSON_VALUE* lus = QelVRXPR_FindJsonMutable(&doc, "lus");
    for (SIM_LU& lu : g_SimState.Lus) {
        JSON_VALUE* obj = lus ? QelVRXPR_FindJsonMutable(lus, lu.Name) : nullptr;
        if (obj == nullptr) continue;
        if (lu.PrChanged) {
            QelVRXPR_SetJsonMember(obj, "generation", QelVRXPR_MakeJsonNumber(lu.Generation));
            JSON_VALUE regs;
            regs.Kind = JSON_ARRAY;
            for (const SIM_REGISTRATION& r : lu.Registrations) {
                JSON_VALUE e;
                e.Kind = JSON_OBJECT;
                QelVRXPR_SetJsonMember(&e, "host", QelVRXPR_MakeJsonString(r.Host));
                QelVRXPR_SetJsonMember(&e, "key", QelVRXPR_MakeJsonString(QelVRXPR_FormatSimKey(r.Key)));
                regs.Items.push_back(e);
            }
            QelVRXPR_SetJsonMember(obj, "registrations", regs);
            if (lu.Reserved) {
                JSON_VALUE resv;
                resv.Kind = JSON_OBJECT;
                QelVRXPR_SetJsonMember(&resv, "host", QelVRXPR_MakeJsonString(lu.ResvHost));
                QelVRXPR_SetJsonMember(&resv, "type", QelVRXPR_MakeJsonNumber(lu.ResvType));
                QelVRXPR_SetJsonMember(obj, "reservation", resv);
            } else {
                QelVRXPR_RemoveJsonMember(obj, "reservation");
            }
        }
        if (lu.FaultsChanged) {
            JSON_VALUE faults;
            faults.Kind = JSON_ARRAY;
            for (const SIM_FAULT& f : lu.Faults) {
                JSON_VALUE e = f.Source;
                if (f.TimesChanged) QelVRXPR_SetJsonMember(&e, "times", QelVRXPR_MakeJsonNumber(
                                                                          static_cast<double>(f.Times)));
                faults.Items.push_back(e);
            }
            QelVRXPR_SetJsonMember(obj, "faults", faults);
        }
    }
    JSON_VALUE* log = QelVRXPR_FindJsonMutable(&doc, "log");
    if (log == nullptr) {
        JSON_VALUE empty;
        empty.Kind = JSON_ARRAY;
        QelVRXPR_SetJsonMember(&doc, "log", empty);
        log = QelVRXPR_FindJsonMutable(&doc, "log");
    }
    for (JSON_VALUE& e : g_SimState.NewLog) log->Items.push_back(std::move(e));
    g_SimState.NewLog.clear();
}

}  // namespace

bool QelVRXPR_SameTextNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

JSON_VALUE QelVRXPR_MakeJsonNumber(double n)
{
    JSON_VALUE v;
    v.Kind = JSON_NUMBER;
    v.Number = n;
    return v;
}

JSON_VALUE QelVRXPR_MakeJsonString(const std::string& s)
{
    JSON_VALUE v;
    v.Kind = JSON_STRING;
    v.Str = s;
    return v;
}

void QelVRXPR_SetJsonMember(JSON_VALUE* obj, const std::string& key, const JSON_VALUE& value)
{
    for (size_t i = 0; i < obj->Keys.size(); i++) {
        if (obj->Keys[i] == key) {
            obj->Items[i] = value;
            return;
        }
    }
    obj->Keys.push_back(key);
    obj->Items.push_back(value);
}

SIM_LU* QelVRXPR_FindSimLU(const std::string& name)
{
    for (SIM_LU& lu : g_SimState.Lus)
        if (lu.Name == name) return &lu;
    return nullptr;
}

std::string QelVRXPR_FormatSimHex(const uint8_t* data, size_t len)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(len * 2);
    for (size_t i = 0; i < len; i++) {
        s.push_back(digits[data[i] >> 4]);
        s.push_back(digits[data[i] & 0x0F]);
    }
    return s;
}

void QelVRXPR_AddSimLog(const JSON_VALUE& entry)
{
    if (g_SimState.Loaded) g_SimState.NewLog.push_back(entry);
}

void QelVRXPR_SimResetState()
{
    g_SimState = SIM_STATE();
}

bool QelVRXPR_SimLoadText(const std::string& text, const std::string& path, std::string* error)
{
    QelVRXPR_SimResetState();
    std::string err;
    if (!QelVRXPR_ParseJson(text, &g_SimState.Doc, &err) || !QelVRXPR_LoadSimDoc(&err)) {
        QelVRXPR_SimResetState();
        if (error) *error = err;
        return false;
    }
    g_SimState.Path = path;
    g_SimState.Loaded = true;
    return true;
}

bool QelVRXPR_SimLoadState(const std::string& path, std::string* error)
{
    QelVRXPR_SimResetState();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        if (error) *error = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    std::string text;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    bool readFailed = std::ferror(f) != 0;
    int readErrno = errno;
    std::fclose(f);
    if (readFailed) {
        if (error) *error = std::string("cannot read: ") + std::strerror(readErrno);
        return false;
    }
    return QelVRXPR_SimLoadText(text, path, error);
}

std::string QelVRXPR_SimFormatState()
{
    if (!g_SimState.Loaded) return std::string();
    QelVRXPR_PatchSimDoc();
    return QelVRXPR_FormatJson(g_SimState.Doc) + "\n";
}

bool QelVRXPR_SimSaveState(std::string* error)
{
    if (!g_SimState.Loaded) return true;
    std::string text = QelVRXPR_SimFormatState();
    std::FILE* f = std::fopen(g_SimState.Path.c_str(), "wb");
    if (f == nullptr) {
        if (error) *error = std::string("cannot write: ") + std::strerror(errno);
        return false;
    }
    errno = 0;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = std::fflush(f) == 0 && ok;
    int writeErrno = errno;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        if (error) *error = std::string("cannot write: ") + std::strerror(writeErrno ? writeErrno : errno);
        return false;
    }
    return true;
}

std::string QelVRXPR_SimSampleText()
{
    return std::string(reinterpret_cast<const char*>(g_SimSampleBytes), g_SimSampleSize);
}

// Checking the state file and taking the simulated storage from it.
#include <cstdio>
#include <cstring>

#include "sim.h"
#include "simstate.h"

SIM_STATE g_SimState;

namespace {

std::string SimWhere(const std::string& where, const char* key)
{
    return where.empty() ? std::string(key) : where + "." + key;
}

}  // namespace

bool SimFail(std::string* error, const std::string& where, const std::string& what)
{
    *error = where.empty() ? what : where + ": " + what;
    return false;
}

bool SimCheckKeys(const SIM_JSON& obj, const std::string& where, std::initializer_list<const char*> allowed,
                  std::string* error)
{
    if (!obj.is_object()) return SimFail(error, where, "expected an object");
    for (auto it = obj.begin(); it != obj.end(); ++it) {
        bool known = false;
        for (const char* a : allowed)
            if (it.key() == a) known = true;
        if (!known) return SimFail(error, where, "unknown key " + SIM_JSON(it.key()).dump());
    }
    return true;
}


// Optional member: absent leaves *out as it is. Integral floating values
// such as 7.0 count as integers.
bool SimGetUInt(const SIM_JSON& obj, const std::string& where, const char* key, uint64_t lo, uint64_t hi,
                uint64_t* out, bool* present, std::string* error)
{
    const SIM_JSON* v = SimMember(obj, key);
    if (present) *present = v != nullptr;
    if (v == nullptr) return true;
    bool ok = false;
    uint64_t n = 0;
    if (v->is_number_unsigned()) {
        n = v->get<uint64_t>();
        ok = true;
    } else if (v->is_number_float()) {
        double d = v->get<double>();
        ok = d >= 0 && d <= static_cast<double>(SIM_MAX_COUNT) && d == static_cast<double>(static_cast<uint64_t>(d));
        if (ok) n = static_cast<uint64_t>(d);
    }
    if (!ok || n < lo || n > hi) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "expected an integer from %llu to %llu", static_cast<unsigned long long>(lo),
                      static_cast<unsigned long long>(hi));
        return SimFail(error, SimWhere(where, key), buf);
    }
    *out = n;
    return true;
}

bool SimGetString(const SIM_JSON& obj, const std::string& where, const char* key, std::string* out, bool* present,
                  std::string* error)
{
    const SIM_JSON* v = SimMember(obj, key);
    if (present) *present = v != nullptr;
    if (v == nullptr) return true;
    if (!v->is_string()) return SimFail(error, SimWhere(where, key), "expected a string");
    *out = v->get<std::string>();
    return true;
}

int SimHexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool SimGetHexBytes(const SIM_JSON& obj, const std::string& where, const char* key, std::vector<uint8_t>* out,
                    bool* present, std::string* error)
{
    std::string text;
    if (!SimGetString(obj, where, key, &text, present, error)) return false;
    out->clear();
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        int hi = SimHexValue(text[i]), lo = SimHexValue(text[i + 1]);
        if (hi < 0 || lo < 0) break;
        out->push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    if (out->size() * 2 != text.size())
        return SimFail(error, SimWhere(where, key), "not an even number of hexadecimal digits");
    return true;
}

std::string SimQuoted(const std::string& s)
{
    return SIM_JSON(s).dump(-1, ' ', false, SIM_JSON::error_handler_t::replace);
}

namespace {

const char* const g_SimRootKeyNames[] = {
    "HKEY_CLASSES_ROOT", "HKEY_CURRENT_CONFIG", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS",
};

bool SimLoadRecord(const SIM_JSON& e, const std::string& where, SIM_RECORD* rec, std::string* error)
{
    if (!SimCheckKeys(e, where, {"target", "lun", "lu"}, error)) return false;
    uint64_t target = 0, lun = 0;
    bool hasTarget, hasLun, hasLu;
    if (!SimGetUInt(e, where, "target", 0, 255, &target, &hasTarget, error) ||
        !SimGetUInt(e, where, "lun", 0, 255, &lun, &hasLun, error) ||
        !SimGetString(e, where, "lu", &rec->Lu, &hasLu, error))
        return false;
    if (!hasTarget || !hasLun || !hasLu) return SimFail(error, where, "needs target, lun and lu");
    if (SimFindLU(rec->Lu) == nullptr) return SimFail(error, where + ".lu", "no LU named " + SimQuoted(rec->Lu));
    rec->TargetId = static_cast<unsigned>(target);
    rec->Lun = static_cast<unsigned>(lun);
    return true;
}

bool SimLoadPort(const SIM_JSON& e, const std::string& where, SIM_PORT* port, std::string* error)
{
    if (!SimCheckKeys(e, where, {"port", "buses", "open_error", "inquiry_error", "area_error", "inquiry_data_hex"},
                      error))
        return false;
    uint64_t portNo = 0, openError = 0, inqError = 0, areaError = ERROR_MORE_DATA;
    bool hasPort, hasError;
    // SCSI_ADDRESS.PortNumber is one byte.
    if (!SimGetUInt(e, where, "port", 0, 255, &portNo, &hasPort, error) ||
        !SimGetUInt(e, where, "open_error", 1, SIM_MAX_DWORD, &openError, nullptr, error) ||
        !SimGetUInt(e, where, "inquiry_error", 1, SIM_MAX_DWORD, &inqError, &hasError, error) ||
        !SimGetUInt(e, where, "area_error", 1, SIM_MAX_DWORD, &areaError, nullptr, error) ||
        !SimGetHexBytes(e, where, "inquiry_data_hex", &port->DataHex, &port->HasDataHex, error))
        return false;
    if (!hasPort) return SimFail(error, where, "needs port");
    const SIM_JSON* buses = SimMember(e, "buses");
    if ((buses != nullptr) + hasError + port->HasDataHex > 1)
        return SimFail(error, where, "buses, inquiry_error and inquiry_data_hex exclude each other");
    port->PortNo = static_cast<unsigned>(portNo);
    port->OpenError = static_cast<DWORD>(openError);
    port->InquiryError = static_cast<DWORD>(inqError);
    port->AreaError = static_cast<DWORD>(areaError);
    if (buses == nullptr) return true;
    std::string bw = where + ".buses";
    if (!buses->is_array()) return SimFail(error, bw, "expected an array");
    if (buses->size() > 255) return SimFail(error, bw, "more than 255 buses");
    for (size_t b = 0; b < buses->size(); b++) {
        std::string w = bw + "[" + std::to_string(b) + "]";
        const SIM_JSON& bus = (*buses)[b];
        if (!bus.is_array()) return SimFail(error, w, "expected an array");
        port->Buses.emplace_back();
        for (size_t i = 0; i < bus.size(); i++) {
            SIM_RECORD rec;
            if (!SimLoadRecord(bus[i], w + "[" + std::to_string(i) + "]", &rec, error)) return false;
            port->Buses.back().push_back(rec);
        }
    }
    return true;
}

bool SimLoadDrive(const SIM_JSON& e, const std::string& where, SIM_DRIVE* d, std::string* error)
{
    if (!SimCheckKeys(e, where,
                      {"drive", "port", "path", "target", "lun", "lu", "open_error", "opens_before_error",
                       "address_error"},
                      error))
        return false;
    uint64_t driveNo = 0, portNo = 0, path = 0, target = 0, lun = 0, openError = 0, before = 0, addrError = 0;
    bool hasDrive, hasPort, hasTarget, hasLun, hasLu, hasOpenError, hasBefore, hasAddrError;
    if (!SimGetUInt(e, where, "drive", 0, 2147483647u, &driveNo, &hasDrive, error) ||
        !SimGetUInt(e, where, "port", 0, 255, &portNo, &hasPort, error) ||
        !SimGetUInt(e, where, "path", 0, 255, &path, nullptr, error) ||
        !SimGetUInt(e, where, "target", 0, 255, &target, &hasTarget, error) ||
        !SimGetUInt(e, where, "lun", 0, 255, &lun, &hasLun, error) ||
        !SimGetString(e, where, "lu", &d->Lu, &hasLu, error) ||
        !SimGetUInt(e, where, "open_error", 1, SIM_MAX_DWORD, &openError, &hasOpenError, error) ||
        !SimGetUInt(e, where, "opens_before_error", 0, SIM_MAX_COUNT, &before, &hasBefore, error) ||
        !SimGetUInt(e, where, "address_error", 1, SIM_MAX_DWORD, &addrError, &hasAddrError, error))
        return false;
    if (!hasDrive) return SimFail(error, where, "needs drive");
    if (hasBefore && !hasOpenError) return SimFail(error, where, "opens_before_error needs open_error");
    bool opens = !hasOpenError || (hasBefore && before > 0);
    if (opens && !hasAddrError && (!hasPort || !hasTarget || !hasLun))
        return SimFail(error, where, "needs port, target and lun, or address_error");
    if (hasLu) {
        if (!hasPort) return SimFail(error, where, "lu needs port (the nexus)");
        if (SimFindLU(d->Lu) == nullptr) return SimFail(error, where + ".lu", "no LU named " + SimQuoted(d->Lu));
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

bool SimLoadRegistry(const SIM_JSON& reg, std::string* error)
{
    if (!reg.is_object()) return SimFail(error, "registry", "expected an object");
    for (auto it = reg.begin(); it != reg.end(); ++it) {
        std::string where = "registry[" + SimQuoted(it.key()) + "]";
        if (!SimCheckKeys(*it, where, {"default", "open_error"}, error)) return false;
        SIM_REGKEY k;
        k.Path = it.key();
        while (!k.Path.empty() && k.Path.back() == '\\') k.Path.pop_back();
        size_t slash = k.Path.find('\\');
        bool rootKnown = false;
        for (const char* root : g_SimRootKeyNames)
            if (SimSameTextNoCase(k.Path.substr(0, slash), root)) rootKnown = true;
        if (!rootKnown || slash == std::string::npos)
            return SimFail(error, where, "not a key path under one of HKEY_CLASSES_ROOT, HKEY_CURRENT_CONFIG, "
                                         "HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS");
        uint64_t openError = 0;
        if (!SimGetString(*it, where, "default", &k.Default, &k.HasDefault, error) ||
            !SimGetUInt(*it, where, "open_error", 1, SIM_MAX_DWORD, &openError, nullptr, error))
            return false;
        k.OpenError = static_cast<DWORD>(openError);
        for (const SIM_REGKEY& other : g_SimState.Registry)
            if (SimSameTextNoCase(other.Path, k.Path)) return SimFail(error, where, "the same key is listed twice");
        g_SimState.Registry.push_back(k);
    }
    return true;
}

// The ports or drives list; number is where each entry keeps its number.
template <typename T, typename N>
bool SimLoadList(const char* name, bool (*load)(const SIM_JSON&, const std::string&, T*, std::string*),
                 N T::*number, std::vector<T>* list, std::string* error)
{
    const SIM_JSON* items = SimMember(g_SimState.Doc, name);
    if (items == nullptr) return true;
    if (!items->is_array()) return SimFail(error, name, "expected an array");
    for (size_t i = 0; i < items->size(); i++) {
        std::string where = std::string(name) + "[" + std::to_string(i) + "]";
        T item;
        if (!load((*items)[i], where, &item, error)) return false;
        for (const T& other : *list)
            if (other.*number == item.*number)
                return SimFail(error, where, std::string(name).substr(0, std::strlen(name) - 1) + " listed twice");
        list->push_back(item);
    }
    return true;
}

}  // namespace

bool SimLoadDoc(std::string* error)
{
    const SIM_JSON& doc = g_SimState.Doc;
    if (!doc.is_object()) return SimFail(error, "", "the state must be a JSON object");
    if (!SimCheckKeys(doc, "", {"language", "registry", "ports", "drives", "lus", "log"}, error)) return false;

    if (const SIM_JSON* lang = SimMember(doc, "language")) {
        if (lang->is_null()) {
            g_SimState.LangKind = SIM_LANG_NULL;
        } else if (lang->is_string()) {
            g_SimState.LangKind = SIM_LANG_TEXT;
            g_SimState.Language = lang->get<std::string>();
        } else {
            return SimFail(error, "language", "expected a string or null");
        }
    }
    if (const SIM_JSON* lus = SimMember(doc, "lus")) {
        if (!lus->is_object()) return SimFail(error, "lus", "expected an object");
        for (auto it = lus->begin(); it != lus->end(); ++it) {
            g_SimState.Lus.emplace_back();
            if (!SimLoadLU(it.key(), *it, &g_SimState.Lus.back(), error)) return false;
        }
    }
    if (const SIM_JSON* reg = SimMember(doc, "registry"))
        if (!SimLoadRegistry(*reg, error)) return false;
    if (!SimLoadList("ports", SimLoadPort, &SIM_PORT::PortNo, &g_SimState.Ports, error) ||
        !SimLoadList("drives", SimLoadDrive, &SIM_DRIVE::DriveNo, &g_SimState.Drives, error))
        return false;
    const SIM_JSON* log = SimMember(doc, "log");
    if (log != nullptr && !log->is_array()) return SimFail(error, "log", "expected an array");
    return true;
}

#include "pr_storage.h"

#include <cctype>
#include <cstdio>
#include <stdexcept>

#include "platform/sim/json.h"
#include "pr/pr.h"

const char* const kCdbReadKeys = "5E000000000000010800";
const char* const kCdbReadResv = "5E010000000000010800";
const char* const kCdbRegister = "5F000000000000001800";
const char* const kCdbClear = "5F030000000000001800";
const char* const kCdbRegisterIgnore = "5F060000000000001800";

const char* const kHeader = "PathID PathName                        KeyCount ReservedKey      Type\n";
const char* const kDone = "ROVT10640-I The vrxpr utility completed normally.\n";

namespace {

std::string Upper(std::string s)
{
    for (char& c : s) c = (char)std::toupper((unsigned char)c);
    return s;
}

std::string KeyHex()
{
    std::string hex;
    char two[3];
    for (uint8_t b : g_RegistrantKey) {
        std::snprintf(two, sizeof two, "%02X", b);
        hex += two;
    }
    return hex;
}

JSON_VALUE Parse(const std::string& text)
{
    JSON_VALUE v;
    std::string error;
    if (!QelVRXPR_ParseJson(text, &v, &error))
        throw std::runtime_error("state file does not parse: " + error);
    return v;
}

std::string Str(const JSON_VALUE& e, const char* key)
{
    const JSON_VALUE* v = QelVRXPR_FindJson(e, key);
    return v != nullptr && v->Kind == JSON_STRING ? v->Str : std::string();
}

int Num(const JSON_VALUE& e, const char* key)
{
    const JSON_VALUE* v = QelVRXPR_FindJson(e, key);
    return v != nullptr && v->Kind == JSON_NUMBER ? (int)v->Number : -1;
}

}  // namespace

std::string RegisterParams() { return std::string(16, '0') + KeyHex() + std::string(16, '0'); }
std::string ClearParams() { return KeyHex() + std::string(32, '0'); }

std::string Storage(const std::vector<TestLu>& lus, const std::string& extraDrives)
{
    std::string records, drives, bodies;
    for (const TestLu& lu : lus) {
        std::string sep = records.empty() ? "" : ", ";
        records += sep + "{\"target\": " + std::to_string(lu.target) +
                   ", \"lun\": " + std::to_string(lu.lun) + ", \"lu\": \"" + lu.name + "\"}";
        drives += sep + "{\"drive\": " + std::to_string(lu.drive) +
                  ", \"port\": 2, \"path\": 0, \"target\": " + std::to_string(lu.target) +
                  ", \"lun\": " + std::to_string(lu.lun) + ", \"lu\": \"" + lu.name + "\"}";
        bodies += sep + "\"" + lu.name + "\": {" + lu.body + "}";
    }
    if (!extraDrives.empty()) drives += (drives.empty() ? "" : ", ") + extraDrives;
    return "{\"ports\": [{\"port\": 2, \"buses\": [[" + records + "]]}],\n"
           " \"drives\": [" + drives + "],\n"
           " \"lus\": {" + bodies + "}}\n";
}

std::string Managed(const std::string& registrations, const std::string& reservation,
                    const std::string& faults)
{
    std::string body = "\"vendor\": \"ZORBELT\", \"product\": \"TQ22QUORUM\"";
    if (!registrations.empty()) body += ", \"registrations\": " + registrations;
    if (!reservation.empty()) body += ", \"reservation\": " + reservation;
    if (!faults.empty()) body += ", \"faults\": " + faults;
    return body;
}

std::vector<PrRequest> PrRequests(const std::string& stateText)
{
    JSON_VALUE state = Parse(stateText);
    std::vector<PrRequest> out;
    const JSON_VALUE* log = QelVRXPR_FindJson(state, "log");
    if (log == nullptr) return out;
    for (const JSON_VALUE& e : log->Items) {
        if (QelVRXPR_FindJson(e, "cdb") == nullptr) continue;
        PrRequest r;
        r.drive = Num(e, "drive");
        r.lu = Str(e, "lu");
        r.cdb = Upper(Str(e, "cdb"));
        r.direction = Str(e, "direction");
        r.transferLength = Num(e, "transfer_length");
        r.dataOut = Upper(Str(e, "data_out"));
        r.status = Num(e, "status");
        r.error = Num(e, "error");
        out.push_back(r);
    }
    return out;
}

std::vector<std::string> LogLines(const std::string& stateText)
{
    JSON_VALUE state = Parse(stateText);
    std::vector<std::string> out;
    const JSON_VALUE* log = QelVRXPR_FindJson(state, "log");
    if (log == nullptr) return out;
    for (const JSON_VALUE& e : log->Items) {
        if (const JSON_VALUE* open = QelVRXPR_FindJson(e, "open")) {
            const JSON_VALUE* result = QelVRXPR_FindJson(e, "result");
            std::string res = result == nullptr ? "?"
                              : result->Kind == JSON_STRING ? result->Str
                                                            : std::to_string((int)result->Number);
            out.push_back("open " + open->Str + " " + res);
        } else {
            out.push_back("request " + std::to_string(Num(e, "drive")) + " " + Str(e, "lu") + " " +
                          Upper(Str(e, "cdb")));
        }
    }
    return out;
}

std::string PrState(const std::string& stateText, const std::string& lu)
{
    JSON_VALUE state = Parse(stateText);
    const JSON_VALUE* lus = QelVRXPR_FindJson(state, "lus");
    const JSON_VALUE* entry = lus == nullptr ? nullptr : QelVRXPR_FindJson(*lus, lu);
    if (entry == nullptr) throw std::runtime_error("no LU " + lu + " in the state");
    // Absent and empty mean the same to the simulated LU.
    const JSON_VALUE* regs = QelVRXPR_FindJson(*entry, "registrations");
    const JSON_VALUE* resv = QelVRXPR_FindJson(*entry, "reservation");
    std::string text = "registrations:";
    if (regs != nullptr && !regs->Items.empty()) text += QelVRXPR_FormatJson(*regs);
    text += " reservation:";
    if (resv != nullptr && resv->Kind != JSON_NULL) text += QelVRXPR_FormatJson(*resv);
    return text;
}

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
const char* const kCdbIdentity = "12018300FC00";

const char* const kHeader = "PathID PathName                        KeyCount ReservedKey      Type\n";

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

SIM_JSON Parse(const std::string& text)
{
    SIM_JSON v;
    std::string error;
    if (!SimParseJson(text, &v, &error))
        throw std::runtime_error("state file does not parse: " + error);
    return v;
}

std::string Str(const SIM_JSON& e, const char* key)
{
    const SIM_JSON* v = SimMember(e, key);
    return v != nullptr && v->is_string() ? v->get<std::string>() : std::string();
}

int Num(const SIM_JSON& e, const char* key)
{
    const SIM_JSON* v = SimMember(e, key);
    return v != nullptr && v->is_number() ? v->get<int>() : -1;
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
    SIM_JSON state = Parse(stateText);
    std::vector<PrRequest> out;
    const SIM_JSON* log = SimMember(state, "log");
    if (log == nullptr) return out;
    for (const SIM_JSON& e : *log) {
        if (SimMember(e, "cdb") == nullptr) continue;
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
    SIM_JSON state = Parse(stateText);
    std::vector<std::string> out;
    const SIM_JSON* log = SimMember(state, "log");
    if (log == nullptr) return out;
    for (const SIM_JSON& e : *log) {
        if (const SIM_JSON* open = SimMember(e, "open")) {
            const SIM_JSON* result = SimMember(e, "result");
            std::string res = result == nullptr ? "?"
                              : result->is_string() ? result->get<std::string>()
                                                    : std::to_string(result->get<int>());
            out.push_back("open " + open->get<std::string>() + " " + res);
        } else {
            out.push_back("request " + std::to_string(Num(e, "drive")) + " " + Str(e, "lu") + " " +
                          Upper(Str(e, "cdb")));
        }
    }
    return out;
}

std::string PrState(const std::string& stateText, const std::string& lu)
{
    SIM_JSON state = Parse(stateText);
    const SIM_JSON* lus = SimMember(state, "lus");
    const SIM_JSON* entry = lus == nullptr ? nullptr : SimMember(*lus, lu.c_str());
    if (entry == nullptr) throw std::runtime_error("no LU " + lu + " in the state");
    // Absent and empty mean the same to the simulated LU.
    const SIM_JSON* regs = SimMember(*entry, "registrations");
    const SIM_JSON* resv = SimMember(*entry, "reservation");
    std::string text = "registrations:";
    if (regs != nullptr && !regs->empty()) text += SimFormatJson(*regs);
    text += " reservation:";
    if (resv != nullptr && !resv->is_null()) text += SimFormatJson(*resv);
    return text;
}

namespace {

// Waits for each prompt by the run blocking on its input after having read
// the previous answer.
const char* const kClearChanging = R"SH(set -u
mkfifo "$1/in"
"$0" -c <"$1/in" >"$1/out" 2>"$1/err" &
c=$!
exec 3>"$1/in"
reads() { sed -n 's/^syscr: //p' /proc/$c/io; }
blocked() { case "$(cat /proc/$c/syscall 2>/dev/null)" in "0 0x0 "*) return 0 ;; esac; return 1; }
last=-1
i=1
for a in 0 y y; do
  n=0
  until blocked && [ "$(reads)" -gt "$last" ]; do
    n=$((n + 1)); [ $n -lt 1200 ] || { echo "no prompt $i"; kill $c; exit 1; }
    sleep 0.05
  done
  if [ $i -eq "$AT" ]; then
    flock "$(readlink -f "$1/state.json").lock" python3 "$1/change.py" "$1/state.json" "$HOW" || exit 1
  fi
  last=$(reads)
  printf '%s\n' $a >&3
  i=$((i + 1))
done
exec 3>&-
wait $c
echo $?
)SH";

}  // namespace

RunResult RunClearChanging(const std::string& dir, const std::string& changePy, const std::string& how,
                           int at)
{
    WriteFile(dir + "/change.py", changePy);
    std::string script = "AT=" + std::to_string(at) + "\nHOW='" + how + "'\n" + kClearChanging;
    return SimShell(script, dir, 90);
}

// The simulated storage as the layer holds it between StartPlatform and
// EndPlatform.
#ifndef VRXPR_SIM_SIMSTATE_H
#define VRXPR_SIM_SIMSTATE_H

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "json.h"
#include "platform/platform.h"

struct SIM_RECORD {
    unsigned TargetId = 0;
    unsigned Lun = 0;
    std::string Lu;
};

struct SIM_PORT {
    unsigned PortNo = 0;
    std::vector<std::vector<SIM_RECORD>> Buses;
    DWORD OpenError = 0;               // 0: the port opens
    DWORD InquiryError = 0;            // 0: the request succeeds
    DWORD AreaError = ERROR_MORE_DATA; // the answer does not fit the caller's area
    bool HasDataHex = false;
    std::vector<uint8_t> DataHex;      // the whole output area, as given
};

struct SIM_DRIVE {
    unsigned long DriveNo = 0;
    bool HasAddress = false;
    unsigned PortNo = 0, PathId = 0, TargetId = 0, Lun = 0;
    std::string Lu;                    // empty: requests reach no LU
    DWORD OpenError = 0;
    long long OpensBeforeError = -1;   // -1: open_error applies from the first open
    long long Opens = 0;               // open attempts in this process
    DWORD AddressError = 0;
};

struct SIM_REGISTRATION {
    std::string Host;
    uint64_t Key = 0;
};

struct SIM_FAULT {
    std::string Command;
    bool IsError = false;
    uint32_t Value = 0;                // status byte or system error
    uint64_t Times = 1;
    bool TimesChanged = false;
    SIM_JSON Source;                   // as read, for the write-back
};

struct SIM_LU {
    std::string Name;
    std::vector<uint8_t> Inquiry;
    std::vector<uint8_t> Naa;          // empty: the identity comes from the name
    bool Vpd = true;                   // false: no identification pages
    unsigned Spc = 3;                  // 2: INQUIRY's byte 3 is reserved
    uint32_t PortDesignators = 0;      // target port designators before the LU's own
    uint32_t Generation = 0;
    std::vector<SIM_REGISTRATION> Registrations;
    bool Reserved = false;
    std::string ResvHost;
    unsigned ResvType = 0;
    std::vector<SIM_FAULT> Faults;
    bool PrChanged = false;
    bool FaultsChanged = false;
};

struct SIM_REGKEY {
    std::string Path;
    bool HasDefault = false;
    std::string Default;
    DWORD OpenError = 0;
};

struct SIM_HANDLE {
    bool InUse = false;
    bool IsPort = false;
    size_t Index = 0;                  // into Ports or Drives
};

enum SIM_LANG { SIM_LANG_ABSENT, SIM_LANG_NULL, SIM_LANG_TEXT };

struct SIM_STATE {
    bool Loaded = false;
    std::string Path;
    SIM_JSON Doc;                      // the file as read; patched on write-back
    SIM_LANG LangKind = SIM_LANG_ABSENT;
    std::string Language;
    std::vector<SIM_REGKEY> Registry;
    std::vector<SIM_PORT> Ports;
    std::vector<SIM_DRIVE> Drives;
    std::vector<SIM_LU> Lus;
    std::vector<SIM_JSON> NewLog;      // entries not written back yet
    std::vector<SIM_HANDLE> Handles;
    std::vector<std::string> OpenKeys; // open registry keys by path; empty: free slot
    std::vector<bool> OpenKeyUsed;
};

extern SIM_STATE g_SimState;

// Takes the storage from g_SimState.Doc; *error says what is wrong where.
bool SimLoadDoc(std::string* error);
bool SimLoadLU(const std::string& name, const SIM_JSON& v, SIM_LU* lu, std::string* error);

// Reading one member of the file. Each sets *error to "where: what is
// wrong" and returns false on failure; an absent optional member leaves
// *out as it is and *present false.
const uint64_t SIM_MAX_DWORD = 4294967295u;
const uint64_t SIM_MAX_COUNT = 9007199254740991u;  // exact in a double
// The page length has two bytes: 8 per port designator and at most 259 for
// the LU's own.
const uint64_t SIM_MAX_PORT_DESIGNATORS = (0xFFFF - 259) / 8;
bool SimFail(std::string* error, const std::string& where, const std::string& what);
bool SimCheckKeys(const SIM_JSON& obj, const std::string& where, std::initializer_list<const char*> allowed,
                  std::string* error);
bool SimGetUInt(const SIM_JSON& obj, const std::string& where, const char* key, uint64_t lo, uint64_t hi,
                uint64_t* out, bool* present, std::string* error);
bool SimGetString(const SIM_JSON& obj, const std::string& where, const char* key, std::string* out, bool* present,
                  std::string* error);
bool SimGetHexBytes(const SIM_JSON& obj, const std::string& where, const char* key, std::vector<uint8_t>* out,
                    bool* present, std::string* error);
int SimHexValue(char c);
// A JSON string literal, for naming a value in an error.
std::string SimQuoted(const std::string& s);

SIM_LU* SimFindLU(const std::string& name);
std::string SimFormatHex(const uint8_t* data, size_t len);
// ASCII case-insensitive equality, as Windows compares registry paths.
bool SimSameTextNoCase(const std::string& a, const std::string& b);
void SimAddLog(const SIM_JSON& entry);

// What the LU answers to one CDB from one I_T nexus.
struct SIM_ANSWER {
    bool Failed = false;
    DWORD Error = 0;
    uint8_t Status = 0;
    std::vector<uint8_t> DataIn;       // already cut at the allocation length
    bool HasSense = false;
    uint8_t SenseKey = 0, Asc = 0, Ascq = 0;
};

// CHECK CONDITION with fixed-format sense data.
void SimSetCheck(SIM_ANSWER* answer, uint8_t key, uint8_t asc, uint8_t ascq);
// INQUIRY (a CDB of at least 6 bytes), standard data or a page.
void SimAnswerInquiry(const SIM_LU& lu, const uint8_t* cdb, SIM_ANSWER* answer);
// dataOut is what the initiator sent (dataOutLen 0 for a data-in request).
void SimAnswerCdb(SIM_LU* lu, const std::string& nexus, const uint8_t* cdb, size_t cdbLen,
                  const uint8_t* dataOut, size_t dataOutLen, SIM_ANSWER* answer);

#endif

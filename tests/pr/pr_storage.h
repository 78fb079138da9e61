// Simulated storages for the reservation tests, and readers for what a run
// did to them (the log's pass-through requests, the LUs' reservation state).
#ifndef VRXPR_TEST_PR_STORAGE_H
#define VRXPR_TEST_PR_STORAGE_H

#include <string>
#include <vector>

#include "run.h"
#include "texts.h"

// One LU seen through port 2, bus 0, reached through its own drive. body is
// the JSON members of its "lus" entry (vendor, product, registrations, ...).
struct TestLu {
    std::string name;
    int target;
    int lun;
    int drive;
    std::string body;
};

// Storage with the LUs in discovery order; extraDrives are raw JSON objects
// appended to "drives" (for open failures and the like).
std::string Storage(const std::vector<TestLu>& lus, const std::string& extraDrives = "");

// Body of a managed LU with the given registrations and reservation (raw
// JSON, empty for none) and faults.
std::string Managed(const std::string& registrations, const std::string& reservation = "",
                    const std::string& faults = "");

struct PrRequest {
    int drive = -1;
    std::string lu;
    std::string cdb;
    std::string direction;
    int transferLength = -1;
    std::string dataOut;
    int status = -1;  // -1 when the request failed
    int error = -1;   // -1 when the request was carried out
};

std::vector<PrRequest> PrRequests(const std::string& stateText);
// The log in order, one text per entry: "open NAME RESULT" or
// "request DRIVE LU CDB".
std::vector<std::string> LogLines(const std::string& stateText);
// Registrations and reservation of one LU, as one comparable text.
std::string PrState(const std::string& stateText, const std::string& lu);

// Runs `vrxpr-sim -c` on dir/state.json and answers 0, y, y one at a time;
// right before the answer to prompt `at` (1 to 3), `python3 changePy STATE
// how` changes the storage under its lock, as any other user of the file.
// Standard output is dir/out; the result's output is the exit code's line.
RunResult RunClearChanging(const std::string& dir, const std::string& changePy, const std::string& how,
                           int at);

// The CDB of each command index, as the log writes it.
extern const char* const kCdbReadKeys;
extern const char* const kCdbReadResv;
extern const char* const kCdbRegister;
extern const char* const kCdbClear;
extern const char* const kCdbRegisterIgnore;
// INQUIRY for the device identification page, its first read.
extern const char* const kCdbIdentity;

// Parameter lists: the registrant key in SERVICE ACTION RESERVATION KEY
// (both registrations) or in RESERVATION KEY (CLEAR).
std::string RegisterParams();
std::string ClearParams();

// The reservation listing's header line.
extern const char* const kHeader;

#endif

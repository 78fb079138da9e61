// Entry, dispatch, the one exit routine and the operator prompts.
#ifndef VRXPR_FRONT_H
#define VRXPR_FRONT_H

#include <cstdint>

enum {
    EXIT_DONE = 0,       // completed, or nothing to do
    EXIT_CANCELLED = 1,  // the operator cancelled
    EXIT_USAGE = 2,      // bad command line, or VORX installed
    EXIT_FAILURE_IO = 3, // device, SCSI, memory or input failure
    EXIT_INTERNAL = 4    // internal error
};

[[noreturn]] void QelVRXPR_Main(int argc, char** argv);
[[noreturn]] void QelVRXPR_Exit(int code);

// Return only on a yes / a valid PathID; every other outcome ends the process.
void QelVRXPR_InputYesNo();
uint32_t QelVRXPR_InputPathID();

#endif

// What every module uses to talk to the operator and to end the run: the
// exit codes, the one exit routine and the operator prompts. Messages are
// in msg.h beside this file.
#ifndef VRXPR_OPERATOR_H
#define VRXPR_OPERATOR_H

#include <cstdint>

enum {
    EXIT_DONE = 0,       // completed, or nothing to do
    EXIT_CANCELLED = 1,  // the operator cancelled
    EXIT_USAGE = 2,      // bad command line, or VORX installed
    EXIT_FAILURE_IO = 3, // device, SCSI, memory or input failure
    EXIT_INTERNAL = 4    // internal error
};

[[noreturn]] void QelVRXPR_Exit(int code);
// Ends the run when standard output could not be written: a question the
// operator never saw must not be answered.
void QelVRXPR_ChkOutput();

// Return only on a yes / a valid PathID; every other outcome ends the process.
void QelVRXPR_InputYesNo();
uint32_t QelVRXPR_InputPathID();

#endif

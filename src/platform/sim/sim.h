// Entries of the simulated storage for driving the layer in-process (its
// own tests). vrxpr-sim itself goes through QelVRXPR_StartPlatform and
// QelVRXPR_EndPlatform only.
#ifndef VRXPR_SIM_SIM_H
#define VRXPR_SIM_SIM_H

#include <string>

// Replaces the whole storage with the state file at path. On failure the
// storage is left empty and *error holds the reason (without the file name).
bool QelVRXPR_SimLoadState(const std::string& path, std::string* error);
// The same from a text; path is where QelVRXPR_SimSaveState writes.
bool QelVRXPR_SimLoadText(const std::string& text, const std::string& path, std::string* error);
// Writes the storage back to its file. On failure *error holds the reason.
bool QelVRXPR_SimSaveState(std::string* error);
// The text QelVRXPR_SimSaveState would write.
std::string QelVRXPR_SimFormatState();
// Back to the empty storage, with no file behind it.
void QelVRXPR_SimResetState();
// The sample storage built into the program.
std::string QelVRXPR_SimSampleText();

#endif

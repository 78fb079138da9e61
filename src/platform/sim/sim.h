// The simulated storage's own entries: the state file and its lock, for
// the platform operations and for driving the layer in-process in tests.
#ifndef VRXPR_SIM_SIM_H
#define VRXPR_SIM_SIM_H

#include <string>

// Replaces the whole storage with the state file at path. On failure the
// storage is left empty and *error holds the reason (without the file name).
bool SimLoadState(const std::string& path, std::string* error);
// The same from a text; path is where SimSaveState writes.
bool SimLoadText(const std::string& text, const std::string& path, std::string* error);
// Reads the file again (what other processes did), keeping this process's
// open handles and counts.
bool SimReloadState(std::string* error);
// Replaces the file with the storage: a temporary file beside it, synced,
// renamed over it. On failure the file is as it was and *error holds the reason.
bool SimSaveState(std::string* error);
bool SimWriteFile(const std::string& path, const std::string& text, std::string* error);
// The text SimSaveState would write.
std::string SimFormatState();
// Back to the empty storage, with no file behind it.
void SimResetState();
// The sample storage built into the program.
std::string SimSampleText();

// An exclusive lock on "<file>.lock", which every process takes before it
// reads the file and holds until it has written it back.
bool SimLockState(const std::string& path, std::string* error);
void SimUnlockState();

#endif

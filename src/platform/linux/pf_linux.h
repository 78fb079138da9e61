// Shared by the Linux layer's files only.
#ifndef VRXPR_PF_LINUX_H
#define VRXPR_PF_LINUX_H

#include <string>

#include "platform/platform.h"

#define PF_ERROR_INVALID_FUNCTION 1L
#define PF_ERROR_TOO_MANY_OPEN_FILES 4L
#define PF_ERROR_NOT_ENOUGH_MEMORY 8L
#define PF_ERROR_INVALID_PARAMETER 87L
#define PF_ERROR_INSUFFICIENT_BUFFER 122L

// Where the layer finds /sys, /dev and /lib/modules: the path itself in the
// installed utility (root_linux.cpp); under a made-up root in the test build
// (root_test_linux.cpp).
std::string QelVRXPR_MakeRootPath(const char* absPath);

// errno as the Windows code the logic expects for it.
DWORD QelVRXPR_MapErrno(int err);

#endif

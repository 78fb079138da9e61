// Linked only into the test build of the layer: VRXPR_TEST_ROOT names a
// made-up tree that stands for /, so that tests can lay out hosts, devices
// and modules of their own.
#include "platform/linux/pf_linux.h"

#include <cstdlib>

std::string QelVRXPR_MakeRootPath(const char* absPath)
{
    const char* root = std::getenv("VRXPR_TEST_ROOT");
    if (root == nullptr || root[0] == '\0') return absPath;
    return std::string(root) + absPath;
}

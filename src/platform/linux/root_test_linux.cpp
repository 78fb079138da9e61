// Linked only into the test build of the layer: VRXPR_TEST_ROOT names a
// made-up tree that stands for /, so that tests can lay out hosts, devices
// and modules of their own. Its sys/ counts as a mounted sysfs only when
// VRXPR_TEST_SYSFS_MAGIC names the statfs magic of the filesystem it is on.
#include "platform/linux/pf_linux.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <linux/magic.h>

const char* QelVRXPR_MakeRootPath(const char* absPath, char* buf)
{
    const char* root = std::getenv("VRXPR_TEST_ROOT");
    if (root == nullptr || root[0] == '\0') return absPath;
    int n = std::snprintf(buf, PF_PATH_LEN, "%s%s", root, absPath);
    if (n < 0 || n >= PF_PATH_LEN) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    return buf;
}

unsigned long QelVRXPR_SysfsMagic()
{
    const char* root = std::getenv("VRXPR_TEST_ROOT");
    if (root == nullptr || root[0] == '\0') return SYSFS_MAGIC;
    const char* magic = std::getenv("VRXPR_TEST_SYSFS_MAGIC");
    return magic != nullptr && magic[0] != '\0' ? std::strtoul(magic, nullptr, 0) : 0;
}

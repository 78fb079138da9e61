// The installed utility works on the system's own /sys, /dev and /lib/modules.
#include "platform/linux/pf_linux.h"

#include <linux/magic.h>

const char* QelVRXPR_MakeRootPath(const char* absPath, char*)
{
    return absPath;
}

unsigned long QelVRXPR_SysfsMagic()
{
    return SYSFS_MAGIC;
}

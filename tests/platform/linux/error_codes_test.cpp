// The Linux layer reports each failure with the code Windows gives for the
// same condition, never a raw errno: message 14 prints it as it stands.
#include <gtest/gtest.h>

#include <cerrno>

#include "platform/linux/pf_linux.h"

namespace {

TEST(LinuxErrorCodes, EachFailureHasTheWindowsCodeOfItsCondition)
{
    // errno of the failed call (0: SG_IO ran), then status, host and driver
    // bytes; the code expected (0: the device answered).
    struct {
        int Errno;
        unsigned Status, Host, Driver;
        DWORD Code;
    } const rows[] = {
        {ETIMEDOUT, 0, 0, 0, 121},     {0, 0, 0x03, 0, 121},     // time-out
        {0, 0, 0x03, 0x06, 121},
        {ENODEV, 0, 0, 0, 55},         {ENXIO, 0, 0, 0, 55},     // device gone or offline
        {0, 0, 0x01, 0, 55},           {0, 0, 0x04, 0, 55},
        {EIO, 0, 0, 0, 31},            {0, 0, 0x07, 0, 31},      // host or transport
        {0, 0, 0x0E, 0, 31},           {0, 0, 0, 0x04, 31},
        {0, 0, 0, 0x06, 31},           {EBUSY, 0, 0, 0, 31},
        {ENOTTY, 0, 0, 0, 31},         {EMFILE, 0, 0, 0, 31},
        {EACCES, 0, 0, 0, 5},          {EPERM, 0, 0, 0, 5},      // permission
        {ENOMEM, 0, 0, 0, 8},          {ENOENT, 0, 0, 0, 2},
        {0, 0, 0x11, 0, 1117},                                   // conflict on the host byte
        {0, 0x18, 0x11, 0, 0},         {0, 0x02, 0, 0x08, 0},    // the device's own status
        {0, 0x18, 0, 0, 0},            {0, 0, 0, 0x08, 0},
        {0, 0, 0, 0, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "errno " << r.Errno << ", status " << r.Status
                                        << ", host " << r.Host << ", driver " << r.Driver);
        DWORD code = r.Errno != 0 ? QelVRXPR_MapErrno(r.Errno)
                                  : QelVRXPR_MapSgResult(r.Status, r.Host, r.Driver);
        EXPECT_EQ(code, r.Code);
    }
}

}  // namespace

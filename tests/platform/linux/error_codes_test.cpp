// The Linux layer reports each failure with the code Windows gives for the
// same condition, never a raw errno: message 14 prints it as it stands.
#include <gtest/gtest.h>

#include <string>

#include "fake_root.h"
#include "platform/linux/pf_linux.h"
#include "run.h"

namespace {

TEST(LinuxErrorCodes, TheDevicesStatusComesBeforeTheHostByte)
{
    // Older kernels flag a reservation conflict on the host byte as well:
    // the status byte is the device's answer, the host byte alone a failed
    // request that the transport takes for a conflict.
    struct {
        unsigned Status, Host, Driver;
        DWORD Code;
    } const rows[] = {
        {0x18, 0x11, 0, 0},
        {0x02, 0x07, 0x08, 0},
        {0, 0x11, 0, 1117},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "status " << r.Status << ", host " << r.Host);
        EXPECT_EQ(QelVRXPR_MapSgResult(r.Status, r.Host, r.Driver), r.Code);
    }
}

TEST(LinuxErrorCodes, MessageFourteenCarriesTheWindowsCodeOfTheFailure)
{
    // READ KEYS of -d answered as the made-up root's sg stand-in is told:
    // a failed write (errno) or an answer's status, host and driver bytes.
    const std::string m14 = "ROVT10661-E The SCSI command failed. SCSI Code=0x5e, Service Action = 0x0, "
                            "Status Code = 0x0, Error Code = ";
    const std::string lu = ", LU = 0002.0000.0000000000000001.002C\n";
    const std::string conflict = "PathID PathName                        KeyCount ReservedKey      Type\n"
                                 "000000 0002.0000.0000000000000001.002C     0    ---------------- None\n"
                                 "ROVT10640-I The vrxpr utility completed normally.\n";
    struct {
        const char* Answer;
        std::string Out;
        int Code;
    } const rows[] = {
        {"host=0x03", m14 + "0x79" + lu, 3},            // timed out in the kernel
        {"host=0x03 driver=0x06", m14 + "0x79" + lu, 3},
        {"host=0x01", m14 + "0x37" + lu, 3},            // no connection
        {"host=0x04", m14 + "0x37" + lu, 3},
        {"errno=19", m14 + "0x37" + lu, 3},             // the device is gone
        {"errno=6", m14 + "0x37" + lu, 3},
        {"host=0x07", m14 + "0x1f" + lu, 3},            // host or transport
        {"driver=0x06", m14 + "0x1f" + lu, 3},
        {"errno=5", m14 + "0x1f" + lu, 3},
        {"errno=13", m14 + "0x5" + lu, 3},              // permission
        {"errno=12", m14 + "0x8" + lu, 3},              // memory
        {"errno=110", m14 + "0x79" + lu, 3},
        // The same conflict either way: the survey's rule for it, no message 14.
        {"status=0x18", conflict, 0},
        {"host=0x11", conflict, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Answer);
        FAKE_ROOT r = MakeRoot();
        AddHost(r, 2);
        AddDevice(r, "2:0:1:44", "ZORBELT", "TQ44");
        AddDrive(r, 0, "/dev/null", "2:0:1:44");
        fs::create_directories(r.Dir + "/sg");
        WriteFile(r.Dir + "/sg/2:0:1:44", row.Answer);
        RunResult res = RunDisplay(r);
        EXPECT_EQ(res.out, row.Out);
        EXPECT_EQ(res.code, row.Code);
        EXPECT_EQ(ReadFile(r.Dir + "/sg-sent"), "2:0:1:44 5e000000000000010800 in 264 2000 24\n");
    }
}

}  // namespace

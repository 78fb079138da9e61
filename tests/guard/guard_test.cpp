// The installation guard: the existence of either service key stops the
// display and clear modes before any device is opened.
#include <gtest/gtest.h>

#include <string>

#include "guard/guard.h"
#include "run.h"
#include "texts.h"

namespace {

const char kDsm[] = "HKEY_LOCAL_MACHINE\\\\SYSTEM\\\\CurrentControlSet\\\\Services\\\\VORXdsm";
const char kFdrv[] = "HKEY_LOCAL_MACHINE\\\\SYSTEM\\\\CurrentControlSet\\\\Services\\\\vrxfdrv";

std::string Registry(const std::string& members)
{
    return "{\"registry\": {" + members + "}}";
}

std::string Key(const std::string& path, const std::string& body)
{
    return "\"" + path + "\": {" + body + "}";
}

}  // namespace

TEST(Guard, EitherServiceKeyMeansInstalled)
{
    const std::string cases[] = {
        Key(kDsm, "\"default\": \"abc\""),                  // value read
        Key(kDsm, ""),                                     // key without a default value
        Key(kDsm, "\"default\": \"longer than four\""),    // value too big for the buffer
        Key(kFdrv, "\"default\": \"x\""),                  // only the second key
        Key(kFdrv, ""),
        Key("hkey_local_machine\\\\system\\\\currentcontrolset\\\\services\\\\VORXDSM", ""),
    };
    for (const std::string& c : cases) {
        for (const char* mode : {"-d", "-c"}) {
            SimRun run = RunSim({mode}, Registry(c), "0\ny\ny\n");
            EXPECT_EQ(run.r.code, 2) << c;
            EXPECT_EQ(run.r.out, kInstalled) << c;
            EXPECT_TRUE(OpenedDevices(run.stateText).empty()) << c;
        }
    }
}

TEST(Guard, NeitherKeyLetsTheScanRun)
{
    SimRun run = RunSim({"-d"}, Registry(Key("HKEY_LOCAL_MACHINE\\\\SYSTEM\\\\Other", "")));
    EXPECT_EQ(run.r.code, 0);
    EXPECT_EQ(run.r.out, kNoLu);
    // 256 ports and the whole drive range were tried.
    EXPECT_EQ(OpenedDevices(run.stateText).size(), 256u + 32768u);
}

TEST(Guard, UnopenableKeyIsAnInternalErrorOfItsProbe)
{
    SimRun first = RunSim({"-d"}, Registry(Key(kDsm, "\"open_error\": 5") + "," +
                                           Key(kFdrv, "\"open_error\": 5")));
    EXPECT_EQ(first.r.code, 4);
    EXPECT_EQ(first.r.out, MsgInternal("QelVRXPR_ChkVORXReg()001"));
    EXPECT_TRUE(OpenedDevices(first.stateText).empty());

    SimRun second = RunSim({"-c"}, Registry(Key(kFdrv, "\"open_error\": 5")));
    EXPECT_EQ(second.r.code, 4);
    EXPECT_EQ(second.r.out, MsgInternal("QelVRXPR_ChkVORXReg()002"));

    // The first key's existence decides before the second is looked at.
    SimRun installed = RunSim({"-d"}, Registry(Key(kDsm, "") + "," + Key(kFdrv, "\"open_error\": 5")));
    EXPECT_EQ(installed.r.code, 2);
    EXPECT_EQ(installed.r.out, kInstalled);
}

TEST(RegistryPath, SplitsRootSubkeyAndValueName)
{
    HKEY root = nullptr;
    char subkey[1024], value[1024];
    ASSERT_EQ(QelVRXPR_SplitRegPath("hkey_local_machine\\SYSTEM\\X\\", &root, subkey, value), 0);
    EXPECT_EQ(root, HKEY_LOCAL_MACHINE);
    EXPECT_STREQ(subkey, "SYSTEM\\X");
    EXPECT_STREQ(value, "");

    ASSERT_EQ(QelVRXPR_SplitRegPath("HKEY_Users\\A\\B\\Name", &root, subkey, value), 0);
    EXPECT_EQ(root, HKEY_USERS);
    EXPECT_STREQ(subkey, "A\\B");
    EXPECT_STREQ(value, "Name");

    ASSERT_EQ(QelVRXPR_SplitRegPath("HKEY_CURRENT_CONFIG\\\\", &root, subkey, value), 0);
    EXPECT_EQ(root, HKEY_CURRENT_CONFIG);
    EXPECT_STREQ(subkey, "");

    EXPECT_EQ(QelVRXPR_SplitRegPath("HKEY_LOCAL_MACHINE", &root, subkey, value), 1);
    EXPECT_EQ(QelVRXPR_SplitRegPath("HKEY_LOCAL_MACHINES\\A\\", &root, subkey, value), 1);
    EXPECT_EQ(QelVRXPR_SplitRegPath("HKLM\\A\\", &root, subkey, value), 1);
    EXPECT_EQ(QelVRXPR_SplitRegPath("HKEY_USERS\\NoValueSeparator", &root, subkey, value), 1);

    DWORD type = 0, size = 4;
    BYTE data[4];
    LONG error = -1;
    EXPECT_EQ(QelVRXPR_ReadReg("nowhere", &type, data, &size, &error), REG_BAD_PATH);
    EXPECT_EQ(error, -1);
}

TEST(RegistryPath, OverlongPathIsCutNotOverrun)
{
    std::string path = "HKEY_USERS\\" + std::string(3000, 'k') + "\\v";
    HKEY root = nullptr;
    char subkey[1024], value[1024];
    // The copy keeps 1023 characters: the value separator is lost with the rest.
    EXPECT_EQ(QelVRXPR_SplitRegPath(path.c_str(), &root, subkey, value), 1);
}

// vrxpr-sim and its state file: refusing a bad file before anything else,
// the default file made from the built-in sample, the write-back, and the
// sample's story end to end.
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "json.h"
#include "run.h"
#include "sim.h"
#include "texts.h"

namespace {

RunResult RunOn(const std::string& path, const std::vector<std::string>& args, const std::string& input = "")
{
    RunOptions opt;
    opt.env = {{"VRXPR_SIM_STATE", path}};
    opt.input = input;
    return RunProgram(SimExe(), args, opt);
}

SIM_JSON Parse(const std::string& text)
{
    SIM_JSON v;
    std::string error;
    EXPECT_TRUE(SimParseJson(text, &v, &error)) << error;
    return v;
}

std::string Member(const std::string& stateText, const char* key)
{
    SIM_JSON v = Parse(stateText);
    const SIM_JSON* m = SimMember(v, key);
    return m ? SimFormatJson(*m) : "absent";
}

// A state that is refused: exit 4, the file and the reason on standard
// error, nothing on standard output, the file left as it was.
void ExpectRefused(const std::string& content, const std::string& reason)
{
    std::string path = MakeTempDir() + "/state.json";
    WriteFile(path, content);
    for (const char* mode : {"-d", "-c", "-h"}) {
        RunResult r = RunOn(path, {mode});
        EXPECT_EQ(r.code, 4) << mode << " " << reason;
        EXPECT_EQ(r.out, "") << mode;
        EXPECT_EQ(r.err, "vrxpr-sim: " + path + ": " + reason + "\n") << mode;
    }
    EXPECT_EQ(ReadFile(path), content);
}

TEST(SimStateFile, MissingOrMalformedFileEndsTheRunWithCode4)
{
    std::string dir = MakeTempDir();
    RunResult r = RunOn(dir + "/none.json", {"-d"});
    EXPECT_EQ(r.code, 4);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "vrxpr-sim: " + dir + "/none.json: cannot open: No such file or directory\n");

    ExpectRefused("", "line 1 column 1: syntax error while parsing value - unexpected end of input; expected '[', '{', "
                      "or a literal");
    ExpectRefused("{\n  \"ports\": [\n    { \"port\": 2, }\n  ]\n}\n", "line 3 column 18: syntax error while parsing object key - unexpected '}'; expected string literal");
    ExpectRefused("{ \"lus\": { \"a\": {}, \"a\": {} } }", "line 1 column 21: duplicate member \"a\"");
    ExpectRefused("[]", "the state must be a JSON object");
    ExpectRefused("{} {}", "line 1 column 4: syntax error while parsing value - unexpected '{'; expected end of input");
}

TEST(SimStateFile, UnknownKeysAreRefusedAtEveryLevel)
{
    ExpectRefused(R"({ "langauge": "English" })", "unknown key \"langauge\"");
    ExpectRefused(R"({ "registry": { "HKEY_USERS\\x": { "defualt": "1" } } })",
                  "registry[\"HKEY_USERS\\\\x\"]: unknown key \"defualt\"");
    ExpectRefused(R"({ "ports": [ { "port": 1, "bus": [] } ] })", "ports[0]: unknown key \"bus\"");
    ExpectRefused(R"({ "lus": { "q": {} }, "ports": [ { "port": 1, "buses": [ [], [ { "target": 1, "lun": 0, "lu": "q", "claimed": true } ] ] } ] })",
                  "ports[0].buses[1][0]: unknown key \"claimed\"");
    ExpectRefused(R"({ "drives": [ { "drive": 1, "address_error": 50 }, { "drive": 2, "open_eror": 5 } ] })",
                  "drives[1]: unknown key \"open_eror\"");
    ExpectRefused(R"({ "lus": { "quorum": { "vendor": "ZORBELT", "model": "TQ22" } } })",
                  "lus.quorum: unknown key \"model\"");
    ExpectRefused(R"({ "lus": { "q": { "registrations": [ { "host": "a", "key": "0x0000000000000001", "type": 5 } ] } } })",
                  "lus.q.registrations[0]: unknown key \"type\"");
    ExpectRefused(R"({ "lus": { "q": { "reservation": { "holder": "a", "type": 5 } } } })",
                  "lus.q.reservation: unknown key \"holder\"");
    ExpectRefused(R"({ "lus": { "q": { "faults": [ { "command": "CLEAR", "status": 2, "time": 3 } ] } } })",
                  "lus.q.faults[0]: unknown key \"time\"");
}

TEST(SimStateFile, KeysMustBeSixteenHexadecimalDigits)
{
    const char* const bad[] = {"0x123", "0x4E4F44454230303F0", "4E4F4445423030G0", "0x 4E4F44454230303", ""};
    for (const char* key : bad) {
        std::string json = std::string(R"({ "lus": { "q": { "registrations": [ { "host": "a", "key": ")") + key +
                           R"(" } ] } } })";
        ExpectRefused(json, std::string("lus.q.registrations[0].key: \"") + key + "\" is not 16 hexadecimal digits");
    }
}

TEST(SimStateFile, ValuesAndReferencesAreChecked)
{
    ExpectRefused(R"({ "lus": { "q": { "vendor": "ZORBELTXY" } } })", "lus.q.vendor: longer than 8 characters");
    ExpectRefused(R"({ "lus": { "q": { "generation": -1 } } })",
                  "lus.q.generation: expected an integer from 0 to 4294967295");
    ExpectRefused(R"({ "drives": [ { "drive": 1, "port": 2, "target": 1, "lun": 0, "lu": "nowhere" } ] })",
                  "drives[0].lu: no LU named \"nowhere\"");
    ExpectRefused(R"({ "ports": [ { "port": 256 } ] })", "ports[0].port: expected an integer from 0 to 255");
    ExpectRefused(R"({ "lus": { "q": { "faults": [ { "command": "RESERVE", "status": 2 } ] } } })",
                  "lus.q.faults[0].command: expected \"INQUIRY\", \"READ KEYS\", \"READ RESERVATION\", "
                  "\"REGISTER\", \"REGISTER AND IGNORE EXISTING KEY\" or \"CLEAR\"");
    ExpectRefused(R"({ "lus": { "q": { "faults": [ { "command": "CLEAR", "status": 2, "error": 5 } ] } } })",
                  "lus.q.faults[0]: needs either status or error");
    ExpectRefused(R"({ "lus": { "q": { "naa": "60014051234567" } } })",
                  "lus.q.naa: expected 16 or 32 hexadecimal digits");
    ExpectRefused(R"({ "lus": { "q": { "vpd": 0 } } })", "lus.q.vpd: expected true or false");
    ExpectRefused(R"({ "lus": { "q": { "spc": 4 } } })", "lus.q.spc: expected an integer from 2 to 3");
    ExpectRefused(R"({ "lus": { "q": { "port_designators": 8160 } } })",
                  "lus.q.port_designators: expected an integer from 0 to 8159");
    ExpectRefused(R"({ "registry": { "HKLM\\SYSTEM": {} } })",
                  "registry[\"HKLM\\\\SYSTEM\"]: not a key path under one of HKEY_CLASSES_ROOT, "
                  "HKEY_CURRENT_CONFIG, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS");
}

const char* const SAMPLE_LISTING =
    "PathID PathName                        KeyCount ReservedKey      Type\n"
    "000000 0002.0000.0000000000000001.0000     2    56524E4F44454202 WriteExclusiveRegistrantOnly\n"
    "000001 0002.0000.0000000000000002.0000     3    ---------------- None\n"
    "000002 0002.0000.0000000000000003.0000     0    ---------------- None\n"
    "000003 0003.0000.0000000000000001.0000     2    56524E4F44454202 WriteExclusiveRegistrantOnly\n"
    "000004 0003.0000.0000000000000002.0000     3    ---------------- None\n"
    "000005 0003.0000.0000000000000003.0000     0    ---------------- None\n";

TEST(SimStateFile, WithoutTheVariableTheSampleIsCopiedIntoTheCurrentDirectory)
{
    std::string dir = MakeTempDir();
    RunOptions opt;
    opt.cwd = dir;
    opt.unsetEnv = {"VRXPR_SIM_STATE"};
    RunResult r = RunProgram(SimExe(), {"-d"}, opt);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, std::string(SAMPLE_LISTING) + kDone);

    std::string made = ReadFile(dir + "/vrxpr-sim-storage.json");
    std::string sample = SimSampleText();
    for (const char* key : {"language", "registry", "ports", "drives", "lus"})
        EXPECT_EQ(Member(made, key), Member(sample, key)) << key;
    EXPECT_EQ(Member(sample, "log"), "[]");
    size_t firstRun = Parse(made)["log"].size();
    EXPECT_EQ(OpenedDevices(made).size() + Requests(made).size(), firstRun);
    EXPECT_EQ(Requests(made).size(), 10u);

    // The next run in the same directory goes on with the same file.
    r = RunProgram(SimExe(), {"-d"}, opt);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(Parse(ReadFile(dir + "/vrxpr-sim-storage.json"))["log"].size(), 2 * firstRun);
}

TEST(SimStateFile, ClearOfTheSampleQuorumRegistersThenClears)
{
    std::string dir = MakeTempDir();
    std::string path = dir + "/state.json";
    WriteFile(path, SimSampleText());
    RunResult r = RunOn(path, {"-c"}, "0\ny\ny\n");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "");
    std::string state = ReadFile(path);
    std::vector<std::string> out;
    for (const std::string& line : Requests(state))
        if (line.find("\"5F") != std::string::npos) out.push_back(line);
    ASSERT_EQ(out.size(), 2u);
    const std::string reg =
        R"({"drive":1,"lu":"quorum","cdb":"5F000000000000001800","direction":"out","transfer_length":24,"data_out":"0000000000000000)";
    const std::string clear =
        R"({"drive":1,"lu":"quorum","cdb":"5F030000000000001800","direction":"out","transfer_length":24,"data_out":")";
    EXPECT_EQ(out[0].rfind(reg, 0), 0u) << out[0];
    EXPECT_EQ(out[1].rfind(clear, 0), 0u) << out[1];
    EXPECT_NE(out[0].find(R"(,"status":0})"), std::string::npos) << out[0];
    EXPECT_NE(out[1].find(R"(,"status":0})"), std::string::npos) << out[1];
    // CLEAR carries the key REGISTER registered.
    EXPECT_EQ(out[1].substr(clear.size(), 16), out[0].substr(reg.size(), 16));

    SIM_JSON v = Parse(state);
    const SIM_JSON* quorum = SimMember(v["lus"], "quorum");
    ASSERT_NE(quorum, nullptr);
    EXPECT_EQ(SimFormatJson(*quorum), R"({
  "vendor": "ZORBELT",
  "product": "TQ2240",
  "generation": 14,
  "registrations": []
})");
    // The other LUs are as the sample has them.
    SIM_JSON sample = Parse(SimSampleText());
    for (const char* lu : {"sqldata", "backup", "archive", "system"})
        EXPECT_EQ(SimFormatJson(v["lus"][lu]), SimFormatJson(sample["lus"][lu])) << lu;
}

TEST(SimStateFile, AFailedWriteBackKeepsTheOldFileAndEndsWithCode4)
{
    std::string dir = MakeTempDir();
    std::string path = dir + "/state.json";
    const std::string state = R"({ "lus": { "q": {} } })";
    WriteFile(path, state);
    RunResult control = RunOn(path, {"-d"});
    ASSERT_EQ(control.err, "");
    EXPECT_EQ(control.code, 0);

    // No file may grow: the write-back fails even for root.
    WriteFile(path, state);
    RunOptions opt;
    opt.env = {{"VRXPR_SIM_STATE", path}};
    RunResult r = RunProgram("/bin/sh", {"-c", "trap '' XFSZ; ulimit -f 0; exec \"$0\" -d", SimExe()}, opt);
    EXPECT_EQ(r.code, 4);
    EXPECT_EQ(r.out, control.out);
    EXPECT_EQ(r.err, "vrxpr-sim: " + path + ": cannot write: File too large\n");
    EXPECT_EQ(ReadFile(path), state);

    // A run that failed on its own ends with 4 as well (drive open failure).
    const std::string failing = R"({ "ports": [ { "port": 0, "inquiry_error": 21 } ] })";
    WriteFile(path, failing);
    r = RunProgram("/bin/sh", {"-c", "trap '' XFSZ; ulimit -f 0; exec \"$0\" -d", SimExe()}, opt);
    EXPECT_EQ(r.code, 4);
    EXPECT_EQ(r.out, MsgInquiryFailed(0, 21));
    EXPECT_EQ(r.err, "vrxpr-sim: " + path + ": cannot write: File too large\n");
    EXPECT_EQ(ReadFile(path), failing);
    // Nothing but the file and its lock is left in the directory.
    EXPECT_EQ(RunProgram("/bin/ls", {"-A", dir}).out, "state.json\nstate.json.lock\n");
}

}  // namespace

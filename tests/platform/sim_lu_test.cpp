// The simulated LU driven in-process through the platform operations, the
// way the transport drives it: persistent reservation rules, answer bytes
// and sense data.
#include "sim_lu.h"

namespace {

using namespace simlu;

TEST_F(SimLuTest, ReadKeysGivesGenerationLengthAndKeysInOrderCutAtTheAllocationLength)
{
    Load(State(R"({ "vendor": "ZORBELT", "product": "TQ22", "generation": 7,
        "registrations": [ { "host": "node-b", "key": "0x4E4F44454230303F" },
                           { "host": "local:2", "key": "1111111111111111" } ] })"));
    SENT s = ReadKeys();
    ASSERT_EQ(s.Ok, 1);
    EXPECT_EQ(s.Req.Sptd.ScsiStatus, 0);
    EXPECT_EQ(s.Req.Sptd.DataTransferLength, 24u);
    EXPECT_EQ(Hex(s.Data, 25), "0000000700000010" "4E4F44454230303F" "1111111111111111" "EE");
    EXPECT_EQ(s.Req.Sptd.SenseInfoLength, 0);
    EXPECT_EQ(s.Req.SenseBuf[0], SENTINEL);

    s = ReadKeys(1, 12);
    EXPECT_EQ(Hex(s.Data, 13), "00000007000000104E4F4445EE");

    // The transfer length bounds the answer too.
    s = Send(1, PrIn(0, 264), SCSI_IOCTL_DATA_IN, 10);
    EXPECT_EQ(Hex(s.Data, 11), "00000007000000104E4FEE");

    Load(State(R"({ "generation": 4294967295 })"));
    EXPECT_EQ(Keys(), "FFFFFFFF00000000");
}

TEST_F(SimLuTest, ReadReservationGivesHolderKeyAndTypeOrNothing)
{
    Load(State(R"({ "generation": 3,
        "registrations": [ { "host": "node-b", "key": "0x4E4F44454230303F" } ] })"));
    SENT s = ReadResv();
    EXPECT_EQ(s.Req.Sptd.ScsiStatus, 0);
    EXPECT_EQ(Hex(s.Data, 9), "0000000300000000EE");

    Load(State(R"({ "generation": 3,
        "registrations": [ { "host": "node-a", "key": "0x0000000000000001" },
                           { "host": "node-b", "key": "0x4E4F44454230303F" } ],
        "reservation": { "host": "node-b", "type": 5 } })"));
    s = ReadResv();
    EXPECT_EQ(Hex(s.Data, 25), "0000000300000010" "4E4F44454230303F" "00000000" "0005" "0000" "EE");

    // All-registrants types carry no holder key.
    Load(State(R"({ "registrations": [ { "host": "node-b", "key": "0x4E4F44454230303F" } ],
        "reservation": { "host": "node-b", "type": 7 } })"));
    EXPECT_EQ(Hex(ReadResv().Data, 24), "0000000000000010" "0000000000000000" "00000000" "0007" "0000");
}

TEST_F(SimLuTest, RegisterFollowsTheReservationKeyRules)
{
    Load(State(R"({ "generation": 7,
        "registrations": [ { "host": "node-b", "key": "0x4E4F44454230303F" } ],
        "reservation": { "host": "node-b", "type": 5 } })"));
    // Not registered: a non-zero RESERVATION KEY conflicts and changes nothing.
    EXPECT_EQ(Out(1, 0x00, KEY_B, KEY_NEW), 0x18);
    // A zero SERVICE ACTION RESERVATION KEY from an unregistered nexus is a no-op.
    EXPECT_EQ(Out(1, 0x00, 0, 0), 0x00);
    EXPECT_EQ(Keys(), "00000007000000084E4F44454230303F");
    // Registering appends the key and adds 1 to the generation.
    EXPECT_EQ(Out(1, 0x00, 0, KEY_NEW), 0x00);
    EXPECT_EQ(Keys(), "0000000800000010" "4E4F44454230303F" "5652585052434C00");
    // Registered: the RESERVATION KEY must be the nexus's own key.
    EXPECT_EQ(Out(1, 0x00, 0, KEY_OLD), 0x18);
    EXPECT_EQ(Out(1, 0x00, KEY_B, KEY_OLD), 0x18);
    EXPECT_EQ(Out(1, 0x00, KEY_NEW, KEY_OLD), 0x00);
    EXPECT_EQ(Keys(), "0000000900000010" "4E4F44454230303F" "1111111111111111");
    // The other path is another nexus, not registered.
    EXPECT_EQ(Out(5, 0x00, KEY_OLD, KEY_NEW), 0x18);
    // Unregistering with a zero new key.
    EXPECT_EQ(Out(1, 0x00, KEY_OLD, 0), 0x00);
    EXPECT_EQ(Keys(), "0000000A000000084E4F44454230303F");
    EXPECT_EQ(SavedLu("reservation"), R"({ "host": "node-b", "type": 5 })");
}

TEST_F(SimLuTest, UnregisteringTheHolderReleasesItsReservation)
{
    Load(State(R"({ "registrations": [ { "host": "local:2", "key": "0x1111111111111111" },
                                       { "host": "node-b", "key": "0x4E4F44454230303F" } ],
        "reservation": { "host": "local:2", "type": 1 } })"));
    EXPECT_EQ(Out(1, 0x00, KEY_OLD, 0), 0x00);
    EXPECT_EQ(Hex(ReadResv().Data, 8), "0000000100000000");
    EXPECT_EQ(SavedLu("reservation"), "absent");
    EXPECT_EQ(SavedLu("registrations"), R"([
  { "host": "node-b", "key": "0x4E4F44454230303F" }
])");

    // An all-registrants reservation stays while anyone is registered.
    Load(State(R"({ "registrations": [ { "host": "local:2", "key": "0x1111111111111111" },
                                       { "host": "node-b", "key": "0x4E4F44454230303F" } ],
        "reservation": { "host": "local:2", "type": 8 } })"));
    EXPECT_EQ(Out(1, 0x00, KEY_OLD, 0), 0x00);
    EXPECT_EQ(Hex(ReadResv().Data, 8), "0000000100000010");
}

TEST_F(SimLuTest, RegisterAndIgnoreReplacesAnExistingKeyWithoutTheCheck)
{
    Load(State(R"({ "generation": 2,
        "registrations": [ { "host": "local:2", "key": "0x1111111111111111" } ] })"));
    EXPECT_EQ(Out(1, 0x00, 0, KEY_NEW), 0x18);  // registered under another key
    EXPECT_EQ(Out(1, 0x06, 0, KEY_NEW), 0x00);
    EXPECT_EQ(Keys(), "00000003000000085652585052434C00");
    EXPECT_EQ(Out(5, 0x06, KEY_B, KEY_NEW), 0x00);  // unregistered nexus: registers
    EXPECT_EQ(Keys(), "0000000400000010" "5652585052434C00" "5652585052434C00");
    EXPECT_EQ(Out(5, 0x06, 0, 0), 0x00);  // zero new key: unregisters
    EXPECT_EQ(Keys(), "00000005000000085652585052434C00");
}

TEST_F(SimLuTest, ClearNeedsTheNexusOwnKeyAndRemovesEverything)
{
    Load(State(R"({ "generation": 7,
        "registrations": [ { "host": "node-b", "key": "0x4E4F44454230303F" },
                           { "host": "local:2", "key": "0x5652585052434C00" } ],
        "reservation": { "host": "node-b", "type": 5 } })"));
    EXPECT_EQ(Out(5, 0x03, KEY_NEW, 0), 0x18);  // port 3 is not registered
    EXPECT_EQ(Out(1, 0x03, KEY_B, 0), 0x18);    // not this nexus's key
    EXPECT_EQ(Out(1, 0x03, 0, 0), 0x18);
    EXPECT_EQ(Keys(), "0000000700000010" "4E4F44454230303F" "5652585052434C00");
    EXPECT_EQ(Out(1, 0x03, KEY_NEW, 0), 0x00);
    EXPECT_EQ(Keys(), "0000000800000000");
    EXPECT_EQ(Hex(ReadResv().Data, 9), "0000000800000000EE");
    EXPECT_EQ(SavedLu("generation"), "8");
    EXPECT_EQ(SavedLu("registrations"), "[]");
    EXPECT_EQ(SavedLu("reservation"), "absent");
}

TEST_F(SimLuTest, ParameterListLengthMismatchGivesCheckConditionWithSense)
{
    Load(State(R"({ "generation": 1 })"));
    // The 264-byte transfer of a 24-byte parameter list is refused.
    SENT s = Send(1, PrOut(0x00, 24), SCSI_IOCTL_DATA_OUT, 264, Param(0, KEY_NEW));
    ASSERT_EQ(s.Ok, 1);
    EXPECT_EQ(s.Req.Sptd.ScsiStatus, 0x02);
    EXPECT_EQ(s.Req.Sptd.SenseInfoLength, 18);
    std::vector<uint8_t> sense(s.Req.SenseBuf, s.Req.SenseBuf + sizeof s.Req.SenseBuf);
    EXPECT_EQ(Hex(sense, 19), "700005000000000A000000001A0000000000" "EE");
    EXPECT_EQ(Keys(), "0000000100000000");

    // A parameter list length other than 24, even when the transfer matches.
    s = Send(1, PrOut(0x00, 16), SCSI_IOCTL_DATA_OUT, 16, Param(0, KEY_NEW), 8);
    EXPECT_EQ(s.Req.Sptd.ScsiStatus, 0x02);
    // Sense data stops at the sense length the request allows.
    EXPECT_EQ(s.Req.Sptd.SenseInfoLength, 8);
    sense.assign(s.Req.SenseBuf, s.Req.SenseBuf + sizeof s.Req.SenseBuf);
    EXPECT_EQ(Hex(sense, 9), "700005000000000A" "EE");

    // A PR OUT sent as data-in carries no parameter list.
    s = Send(1, PrOut(0x00, 24), SCSI_IOCTL_DATA_IN, 24);
    EXPECT_EQ(s.Req.Sptd.ScsiStatus, 0x02);
    EXPECT_EQ(s.Req.SenseBuf[12], 0x1A);
    EXPECT_EQ(Keys(), "0000000100000000");
}

TEST_F(SimLuTest, OtherCommandsAndServiceActionsAreInvalidFieldInCdb)
{
    Load(State(R"({ "registrations": [ { "host": "local:2", "key": "0x1111111111111111" } ] })"));
    const std::vector<std::vector<uint8_t>> cdbs = {
        PrIn(0x02, 264), PrIn(0x03, 264), PrOut(0x01, 24), PrOut(0x04, 24), {0x12, 0, 0x83, 0, 36, 0},
        {0x5E, 0x00, 0, 0, 0, 0},  // cut short
    };
    for (const auto& cdb : cdbs) {
        bool out = cdb[0] == 0x5F;
        SENT s = Send(1, cdb, out ? SCSI_IOCTL_DATA_OUT : SCSI_IOCTL_DATA_IN, 24,
                      out ? Param(KEY_OLD, KEY_NEW) : std::vector<uint8_t>());
        ASSERT_EQ(s.Ok, 1);
        EXPECT_EQ(s.Req.Sptd.ScsiStatus, 0x02) << Hex(cdb, cdb.size());
        EXPECT_EQ(s.Req.SenseBuf[2], 0x05);
        EXPECT_EQ(s.Req.SenseBuf[12], 0x24);
        if (!out) {
            EXPECT_EQ(s.Data[0], SENTINEL);
        }
    }
    EXPECT_EQ(Keys(), "00000000000000081111111111111111");
}

// What INQUIRY answers, cut at the allocation length; "CC" for CHECK
// CONDITION with INVALID FIELD IN CDB.

}  // namespace

// The operator's answers: what is accepted, how often one may retry, and
// that nothing is sent to the storage unless both confirmations say yes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "run.h"
#include "texts.h"

namespace {

const char kHeader[] = "PathID PathName                        KeyCount ReservedKey      Type\n";

// Three LUs on port 2, each registered by another node; reserved by it
// too, or not.
std::string ThreeLus(bool reserved = false)
{
    std::string ports = "[{\"port\": 2, \"buses\": [[";
    std::string drives, lus;
    for (int i = 0; i < 3; ++i) {
        std::string n = "lu" + std::to_string(i);
        ports += std::string(i ? "," : "") + "{\"target\": 0, \"lun\": " + std::to_string(i) +
                 ", \"lu\": \"" + n + "\"}";
        drives += std::string(i ? "," : "") + "{\"drive\": " + std::to_string(i + 1) +
                  ", \"port\": 2, \"path\": 0, \"target\": 0, \"lun\": " + std::to_string(i) +
                  ", \"lu\": \"" + n + "\"}";
        lus += std::string(i ? "," : "") + "\"" + n +
               "\": {\"vendor\": \"ZORBELT\", \"product\": \"TQ22\", \"registrations\": "
               "[{\"host\": \"node-b\", \"key\": \"0x4E4F444542303030\"}]" +
               (reserved ? ", \"reservation\": {\"host\": \"node-b\", \"type\": 5}" : "") + "}";
    }
    ports += "]]}]";
    return "{\"ports\": " + ports + ", \"drives\": [" + drives + "], \"lus\": {" + lus + "}}";
}

std::string Listing(bool reserved = false)
{
    std::string out = kHeader;
    for (int i = 0; i < 3; ++i) {
        char row[128];
        std::snprintf(row, sizeof row, "%06d 0002.0000.0000000000000000.%04X %5d    %s %s\n", i, i, 1,
                      reserved ? "4E4F444542303030" : "----------------",
                      reserved ? "WriteExclusiveRegistrantOnly" : "None");
        out += row;
    }
    return out;
}

bool SentPersistentReserveOut(const std::string& stateText)
{
    for (const std::string& r : Requests(stateText))
        if (r.find("\"cdb\":\"5F") != std::string::npos) return true;
    return false;
}

// The LUs' registrations and reservations as a state text holds them.
std::string LusOf(const std::string& stateText)
{
    return nlohmann::ordered_json::parse(stateText)["lus"].dump();
}

// Every rule is checked on both storages: the answers decide alone, and a
// run that clears nothing leaves each LU as it was.
const bool kReserved[] = {false, true};

std::string Repeat(const std::string& s, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

}  // namespace

TEST(PathIdPrompt, AcceptedAnswers)
{
    struct Case {
        const char* input;
        unsigned long pathId;
        int reprompts;
    } cases[] = {
        {"2\n", 2, 0},         {"0\n", 0, 0},          {"002\n", 2, 0},        {"000000001\n", 1, 0},
        {"1\r\n", 1, 0},       {"3\n2\n", 2, 1},       {"abc\n-1\n0\n", 0, 2}, {"0000000002\n1\n", 1, 1},
        {"\n 1\n1\n", 1, 2},   {"+1\n1 \n1\n", 1, 2},  {"1", 1, 0},
    };
    for (bool reserved : kReserved) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(reserved ? "reserved: " : "registered: ") + c.input);
            // The first confirmation is refused: this isolates the PathID prompt.
            std::string input = c.input;
            SimRun run = RunSim({"-c"}, ThreeLus(reserved), input + (input.back() != '\n' ? "" : "n\n"));
            std::string expected = Listing(reserved) + kAskPathId + Repeat(kReenterPathId, c.reprompts) +
                                   MsgConfirm1(c.pathId);
            if (input.back() == '\n') {
                EXPECT_EQ(run.r.code, 1);
                expected += kCancel;
            } else {
                // Input ended right after the PathID: the confirmation sees end of input.
                EXPECT_EQ(run.r.code, 3);
                expected += std::string(kReenterYn) + kReenterYn + kStop;
            }
            EXPECT_EQ(run.r.out, expected);
            EXPECT_FALSE(SentPersistentReserveOut(run.stateText));
            EXPECT_EQ(LusOf(run.stateText), LusOf(ThreeLus(reserved)));
        }
    }
}

TEST(PathIdPrompt, CancelAndGivingUp)
{
    for (bool reserved : kReserved) {
        std::string storage = ThreeLus(reserved), listing = Listing(reserved);
        for (const char* input : {"x\n", "X\n", "5\nX\n", "\n\nx\n"}) {
            SCOPED_TRACE(std::string(reserved ? "reserved: " : "registered: ") + input);
            SimRun run = RunSim({"-c"}, storage, input);
            int reprompts = input[0] == 'x' || input[0] == 'X' ? 0 : std::string(input) == "5\nX\n" ? 1 : 2;
            EXPECT_EQ(run.r.code, 1);
            EXPECT_EQ(run.r.out, listing + kAskPathId + Repeat(kReenterPathId, reprompts) + kCancel);
            EXPECT_FALSE(SentPersistentReserveOut(run.stateText));
            EXPECT_EQ(LusOf(run.stateText), LusOf(storage));
        }
        for (const char* input :
             {"3\n4\n5\n", "3\n-1\n0000000000\n", "x \n y\nxx\n", "", "9\n", "1234567890\n\n00000000003\n"}) {
            SCOPED_TRACE(std::string(reserved ? "reserved: " : "registered: ") + input);
            SimRun run = RunSim({"-c"}, storage, input);
            EXPECT_EQ(run.r.code, 3);
            EXPECT_EQ(run.r.out, listing + kAskPathId + Repeat(kReenterPathId, 2) + kStop);
            EXPECT_FALSE(SentPersistentReserveOut(run.stateText));
            EXPECT_EQ(LusOf(run.stateText), LusOf(storage));
        }
    }
}

TEST(PathIdPrompt, OverlongLineCountsOncePerPiece)
{
    // 2046 characters and a line feed: two full pieces of 1023, then the
    // line feed alone (an empty answer): three invalid attempts.
    SimRun run = RunSim({"-c"}, ThreeLus(), std::string(2046, '1') + "\n0\n");
    EXPECT_EQ(run.r.code, 3);
    EXPECT_EQ(run.r.out, Listing() + kAskPathId + Repeat(kReenterPathId, 2) + kStop);

    // 1024 characters: a piece of 1023, then "1" and its line feed.
    SimRun two = RunSim({"-c"}, ThreeLus(), std::string(1023, '7') + "1\nn\n");
    EXPECT_EQ(two.r.code, 1);
    EXPECT_EQ(two.r.out, Listing() + kAskPathId + kReenterPathId + MsgConfirm1(1) + kCancel);
}

TEST(YesNoPrompt, AnswersToTheTwoConfirmations)
{
    struct Case {
        const char* input;  // after the PathID line "1\n"
        int code;
        std::string tail;   // output after the first confirmation's question
        bool cleared;
    } cases[] = {
        {"y\ny\n", 0, std::string(kConfirm2) + MsgCleared(1) + kDone, true},
        {"Y\r\nY\r\n", 0, std::string(kConfirm2) + MsgCleared(1) + kDone, true},
        {"y\ny", 0, std::string(kConfirm2) + MsgCleared(1) + kDone, true},
        {"N\n", 1, kCancel, false},
        {"y\nn\n", 1, std::string(kConfirm2) + kCancel, false},
        {"y\nN\n", 1, std::string(kConfirm2) + kCancel, false},
        {"yes\n y\ny\ny\n", 0, std::string(kReenterYn) + kReenterYn + kConfirm2 + MsgCleared(1) + kDone, true},
        {"\nyes\nno\n", 3, std::string(kReenterYn) + kReenterYn + kStop, false},
        {"yes\n\n y\n", 3, std::string(kReenterYn) + kReenterYn + kStop, false},
        {"y\nY \nyy\n\n", 3, std::string(kConfirm2) + kReenterYn + kReenterYn + kStop, false},
        {"y\n", 3, std::string(kConfirm2) + kReenterYn + kReenterYn + kStop, false},
        {"", 3, std::string(kReenterYn) + kReenterYn + kStop, false},
    };
    for (bool reserved : kReserved) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(reserved ? "reserved: " : "registered: ") + c.input);
            SimRun run = RunSim({"-c"}, ThreeLus(reserved), std::string("1\n") + c.input);
            EXPECT_EQ(run.r.code, c.code);
            EXPECT_EQ(run.r.out, Listing(reserved) + kAskPathId + MsgConfirm1(1) + c.tail);
            EXPECT_EQ(SentPersistentReserveOut(run.stateText), c.cleared);
            if (!c.cleared) {
                EXPECT_EQ(LusOf(run.stateText), LusOf(ThreeLus(reserved)));
            }
        }
    }
}

// Standard output a pipe, as under tee or ssh without a terminal: every
// question, and the description, is out before its answer is read (the
// driver answers only then, and the program is still waiting for it);
// redirected bytes are the same as ever.
TEST(PromptsOnAPipe, EachQuestionArrivesBeforeItsAnswerIsRead)
{
    const std::string ask = Listing() + kAskPathId;
    struct Row {
        const char* name;
        std::string exe;
        std::vector<std::string> args;
        std::vector<RunStep> steps;
        std::string out;
        int code;
    } const rows[] = {
        {"clear",
         SimExe(),
         {"-c"},
         {{ask, "0\n"}, {MsgConfirm1(0), "y\n"}, {kConfirm2, "y\n"}},
         ask + MsgConfirm1(0) + kConfirm2 + MsgCleared(0) + kDone,
         0},
        {"clear with re-prompts",
         SimExe(),
         {"-c"},
         {{ask, "9\n"}, {kReenterPathId, "1\n"}, {MsgConfirm1(1), "y\n"}, {kConfirm2, "q\n"},
          {kReenterYn, "n\n"}},
         ask + kReenterPathId + MsgConfirm1(1) + kConfirm2 + kReenterYn + kCancel,
         1},
        {"display", SimExe(), {"-d"}, {}, Listing() + kDone, 0},
        {"description", SimExe(), {}, {{kDescriptionEn, "k\n"}}, kDescriptionEn, 0},
        {"description, Linux build", LinuxExe(), {}, {{kDescriptionEn, "k\n"}}, kDescriptionEn, 0},
    };
    std::string dir = MakeTempDir();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WriteFile(dir + "/state.json", ThreeLus());
        RunOptions opt;
        opt.env = {{"VRXPR_SIM_STATE", dir + "/state.json"}, {"LC_ALL", "C"}};
        opt.steps = row.steps;
        // Each answer held back a little: a program that would not wait
        // for it has ended by then.
        opt.answerDelayMs = 200;
        RunResult r = RunProgram(row.exe, row.args, opt);
        if (r.outAtAnswer.size() != row.steps.size()) {
            ADD_FAILURE() << "question " << r.outAtAnswer.size() + 1 << " never arrived; output:\n"
                          << r.out;
            continue;
        }
        // Nothing more and nothing less than the questions so far.
        std::string asked;
        for (size_t i = 0; i < row.steps.size(); ++i) {
            asked += row.steps[i].await;
            EXPECT_EQ(r.outAtAnswer[i], asked) << "answer " << i + 1;
            EXPECT_TRUE(r.runningAtAnswer[i]) << "ended before answer " << i + 1;
        }
        EXPECT_EQ(r.out, row.out);
        EXPECT_EQ(r.code, row.code) << r.err;
    }
}

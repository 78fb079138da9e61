// Several vrxpr-sim runs on one state file, and write-backs that cannot
// finish: nothing a run did is lost, and the file is always whole.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "json.h"
#include "run.h"
#include "sim.h"
#include "texts.h"

namespace {

// The log entries of a state text, each as one line.
std::vector<std::string> LogOf(const std::string& stateText)
{
    SIM_JSON v;
    std::string error;
    EXPECT_TRUE(SimParseJson(stateText, &v, &error)) << error;
    std::vector<std::string> lines;
    if (const SIM_JSON* log = SimMember(v, "log"))
        for (const SIM_JSON& e : *log) lines.push_back(e.dump());
    return lines;
}

std::vector<std::string> Slice(const std::vector<std::string>& v, size_t from, size_t n)
{
    if (from > v.size()) return {};
    return std::vector<std::string>(v.begin() + static_cast<long>(from),
                                    v.begin() + static_cast<long>(std::min(v.size(), from + n)));
}

// A -d run of the sample on a file of its own: what one run prints and logs.
RunResult ListAlone(std::vector<std::string>* log)
{
    SimRun run = RunSim({"-d"}, SimSampleText());
    EXPECT_EQ(run.r.code, 0);
    EXPECT_EQ(run.r.out.rfind("PathID PathName", 0), 0u);
    *log = LogOf(run.stateText);
    EXPECT_FALSE(log->empty());
    return run.r;
}

TEST(SimSharing, TwentyRunsAtOnceAllListAndAllAreLogged)
{
    std::vector<std::string> one;
    RunResult alone = ListAlone(&one);
    std::string dir = MakeTempDir();
    WriteFile(dir + "/state.json", SimSampleText());
    RunResult r = SimShell("for i in $(seq 20); do (\"$0\" -d >\"$1/out.$i\" 2>\"$1/err.$i\"; echo $? >\"$1/rc.$i\") & "
                        "done; wait",
                        dir);
    ASSERT_EQ(r.code, 0) << r.err;
    for (int i = 1; i <= 20; i++) {
        std::string n = std::to_string(i);
        EXPECT_EQ(ReadFile(dir + "/rc." + n), "0\n") << n;
        EXPECT_EQ(ReadFile(dir + "/out." + n), alone.out) << n;
        EXPECT_EQ(ReadFile(dir + "/err." + n), "") << n;
    }
    // Each run's entries together, one run after another.
    std::vector<std::string> log = LogOf(ReadFile(dir + "/state.json"));
    ASSERT_EQ(log.size(), 20 * one.size());
    for (size_t i = 0; i < 20; i++) EXPECT_EQ(Slice(log, i * one.size(), one.size()), one) << i;
}

TEST(SimSharing, AClearWaitingAtItsPromptHoldsNobodyUp)
{
    std::vector<std::string> one;
    RunResult alone = ListAlone(&one);
    std::string dir = MakeTempDir();
    WriteFile(dir + "/state.json", SimSampleText());
    // The clear waits at its first prompt (its listing is in the file by
    // then); a listing runs to its end meanwhile; then the clear is answered.
    RunResult r = SimShell(R"(mkfifo "$1/in"
"$0" -c <"$1/in" >"$1/c.out" 2>&1 &
c=$!
exec 3>"$1/in"
n=0
until grep -q '"open"' "$1/state.json"; do
  n=$((n + 1)); [ $n -lt 600 ] || { echo "the clear never reached its prompt"; exit 1; }
  sleep 0.05
done
cp "$1/state.json" "$1/at-prompt.json"
"$0" -d >"$1/d.out" 2>&1; echo "d $?"
printf '0\ny\ny\n' >&3
exec 3>&-
wait $c; echo "c $?"
"$0" -d >"$1/after.out" 2>&1; echo "after $?"
)",
                        dir, 60);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.out, "d 0\nc 0\nafter 0\n") << r.err;
    EXPECT_EQ(ReadFile(dir + "/d.out"), alone.out);
    std::string c = ReadFile(dir + "/c.out");
    EXPECT_EQ(c.rfind(alone.out.substr(0, alone.out.size() - std::string(kDone).size()), 0), 0u) << c;
    const std::string cleared = MsgCleared(0);
    EXPECT_EQ(c.substr(c.size() - cleared.size() - std::string(kDone).size()), cleared + kDone);
    // The listing after the clear sees it.
    std::string after = ReadFile(dir + "/after.out");
    EXPECT_NE(after.find("000000 0002.0000.0000000000000001.0000     0    ---------------- None\n"),
              std::string::npos)
        << after;

    // The clear's listing, the other run whole, then the clear's commands.
    std::vector<std::string> atPrompt = LogOf(ReadFile(dir + "/at-prompt.json"));
    std::vector<std::string> log = LogOf(ReadFile(dir + "/state.json"));
    ASSERT_GE(log.size(), atPrompt.size() + 2 * one.size());
    EXPECT_EQ(Slice(log, 0, atPrompt.size()), atPrompt);
    EXPECT_EQ(Slice(log, atPrompt.size(), one.size()), one);
    std::vector<std::string> rest = Slice(log, atPrompt.size() + one.size(), log.size());
    std::vector<std::string> outs;
    for (const std::string& e : rest)
        if (e.find("\"cdb\":\"5F") != std::string::npos)
            outs.push_back(e.substr(0, e.find(",\"direction\"")));
    EXPECT_EQ(outs, (std::vector<std::string>{R"({"drive":1,"lu":"quorum","cdb":"5F000000000000001800")",
                                              R"({"drive":1,"lu":"quorum","cdb":"5F030000000000001800")"}));
}

TEST(SimSharing, AFullFileSystemKeepsTheOldFile)
{
    // The test set-up runs as root; anyone else cannot mount.
    if (geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
    std::string dir = MakeTempDir();
    WriteFile(dir + "/sample.json", SimSampleText());
    // A tmpfs of its own, in a mount namespace of its own, filled up once
    // the state file is on it.
    RunResult r = SimShell(R"(mkdir "$1/fs"
unshare -m sh -c '
  mount -t tmpfs -o size=64k none "$1/fs" 2>"$1/mount.err" || exit 99
  cp "$1/sample.json" "$1/fs/state.json"
  dd if=/dev/zero of="$1/fs/fill" bs=4096 2>/dev/null
  VRXPR_SIM_STATE="$1/fs/state.json" "$0" -d >"$1/out" 2>"$1/err"; echo $? >"$1/rc"
  cp "$1/fs/state.json" "$1/after.json"
  ls -A "$1/fs" >"$1/files"
' "$0" "$1")",
                        dir);
    ASSERT_EQ(r.code, 0) << r.err << ReadFile(dir + "/mount.err");
    EXPECT_EQ(ReadFile(dir + "/rc"), "4\n");
    EXPECT_EQ(ReadFile(dir + "/err"),
              "vrxpr-sim: " + dir + "/fs/state.json: cannot write: No space left on device\n");
    std::vector<std::string> one;
    EXPECT_EQ(ReadFile(dir + "/out"), ListAlone(&one).out);
    EXPECT_EQ(ReadFile(dir + "/after.json"), SimSampleText());
    EXPECT_EQ(ReadFile(dir + "/files"), "fill\nstate.json\nstate.json.lock\n");
}

TEST(SimSharing, ARunKilledBeforeTheRenameLeavesTheOldFile)
{
    std::string dir = MakeTempDir();
    WriteFile(dir + "/state.json", SimSampleText());
    // The kill comes as the finished temporary file is about to be renamed.
    RunResult r = SimShell(R"(command -v strace >/dev/null || exit 98
strace -f -o "$1/trace" -e trace=rename,renameat,renameat2 -e inject=rename,renameat,renameat2:signal=KILL \
  "$0" -d >"$1/out" 2>"$1/err"
echo $?
grep -c "+++ killed by SIGKILL" "$1/trace"
)",
                        dir);
    // strace is part of the test set-up (tools/deps/sim.txt).
    ASSERT_NE(r.code, 98) << "strace is not installed";
    // A machine whose policy forbids tracing cannot run this; any other
    // way the kill did not come is a failure.
    std::string err = ReadFile(dir + "/err");
    if (err.find("ptrace") != std::string::npos && err.find("Operation not permitted") != std::string::npos)
        GTEST_SKIP() << "no process can be traced here: " << err;
    EXPECT_EQ(r.out, "137\n1\n");
    EXPECT_EQ(ReadFile(dir + "/state.json"), SimSampleText());

    // The next run reads it and writes its own back.
    std::vector<std::string> one;
    RunResult alone = ListAlone(&one);
    RunOptions opt;
    opt.env = {{"VRXPR_SIM_STATE", dir + "/state.json"}};
    RunResult next = RunProgram(SimExe(), {"-d"}, opt);
    EXPECT_EQ(next.code, 0);
    EXPECT_EQ(next.out, alone.out);
    EXPECT_EQ(LogOf(ReadFile(dir + "/state.json")), one);
}

}  // namespace

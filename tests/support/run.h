// Runs a built executable as a child process and captures what it did.
#ifndef VRXPR_TEST_RUN_H
#define VRXPR_TEST_RUN_H

#include <string>
#include <utility>
#include <vector>

struct RunResult {
    std::string out;  // standard output, byte for byte
    std::string err;  // standard error
    int code = -1;    // exit code; -1 when killed or timed out
    int signal = 0;   // the signal that ended the process, 0 when it exited
    bool timedOut = false;
    // The output as it stood when each step's answer was written, and
    // whether the process was still running then.
    std::vector<std::string> outAtAnswer;
    std::vector<bool> runningAtAnswer;
};

// An answer written only once the output read so far ends with await.
struct RunStep {
    std::string await;
    std::string answer;
};

struct RunOptions {
    std::string input;            // written to standard input, then closed
    bool closeInput = true;       // false: keep standard input open until exit
    std::vector<std::pair<std::string, std::string>> env;  // added or replaced
    std::vector<std::string> unsetEnv;
    std::string cwd;              // empty: inherit
    int timeoutSec = 60;
    // As a shell starts a program: SIGPIPE at its default action (this
    // process ignores it, and children would inherit that).
    bool defaultSigpipe = false;
    // Standard output a pipe whose reader is gone before the run starts.
    bool outputClosed = false;
    // Standard output opened for writing on this file (/dev/full) instead.
    std::string outputPath;
    // Written after input, one at a time; closeInput closes standard input
    // after the last. A step that waits longer than stepTimeoutSec ends
    // the run as timed out, so that output held back fails a test instead
    // of hanging it.
    std::vector<RunStep> steps;
    int stepTimeoutSec = 10;
    // How long each answer is held back once its question is out: time
    // for a program that would not wait for it to end first.
    int answerDelayMs = 0;
};

RunResult RunProgram(const std::string& exe, const std::vector<std::string>& args,
                     const RunOptions& opt = RunOptions());

// Paths of the executables under test, from the build.
std::string SimExe();    // vrxpr-sim
std::string LinuxExe();  // vrxpr (native Linux layer)
// vrxpr-sim whose Nth own allocation fails, N from VRXPR_TEST_FAIL_ALLOC.
std::string SimNoMemExe();

// One run of vrxpr-sim against a state file made from stateJson; the file
// as the run left it is parsed back (log, LU state).
struct SimRun {
    RunResult r;
    std::string stateText;
};
SimRun RunSim(const std::vector<std::string>& args, const std::string& stateJson,
              const std::string& input = "", int timeoutSec = 120);
// The same with options of the caller's; the state file's variable and the
// working directory are set here.
SimRun RunSimWith(const std::vector<std::string>& args, const std::string& stateJson,
                  RunOptions opt);
// A /bin/sh script with $0 the vrxpr-sim executable, $1 dir and the state
// file dir/state.json: for runs that share the storage with others.
RunResult SimShell(const std::string& script, const std::string& dir, int timeoutSec = 120);
// The log entries of a state text that name a device open, in order.
std::vector<std::string> OpenedDevices(const std::string& stateText);
// The pass-through entries of the log, each as its one-line JSON text.
std::vector<std::string> Requests(const std::string& stateText);
// The text converted from UTF-8 to another character set with iconv,
// independently of the program's own conversion.
std::string ConvertText(const std::string& utf8, const char* charset);
inline std::string ToCp932(const std::string& utf8) { return ConvertText(utf8, "CP932"); }

// A fresh temporary directory (removed at process exit is not needed: the
// build's test folder is used).
std::string MakeTempDir();
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

#endif

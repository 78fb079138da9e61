#include "run.h"

#include <iconv.h>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace {

double Now()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Ended or not, without reaping it: the exit status is read at the end.
bool Running(pid_t pid)
{
    siginfo_t info{};
    return waitid(P_PID, (id_t)pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

}  // namespace

RunResult RunProgram(const std::string& exe, const std::vector<std::string>& args,
                     const RunOptions& opt)
{
    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0 ||
        pipe2(errPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");

    // Closed before the child exists, so that its first write meets no reader.
    if (opt.outputClosed || !opt.outputPath.empty()) {
        close(outPipe[0]);
        outPipe[0] = -1;
    }
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(inPipe[0], 0);
        if (opt.outputPath.empty()) {
            dup2(outPipe[1], 1);
        } else {
            int fd = open(opt.outputPath.c_str(), O_WRONLY);
            if (fd < 0 || dup2(fd, 1) < 0) _exit(127);
        }
        dup2(errPipe[1], 2);
        if (opt.defaultSigpipe) signal(SIGPIPE, SIG_DFL);
        if (!opt.cwd.empty() && chdir(opt.cwd.c_str()) != 0) _exit(127);
        for (const auto& name : opt.unsetEnv) unsetenv(name.c_str());
        for (const auto& kv : opt.env) setenv(kv.first.c_str(), kv.second.c_str(), 1);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(exe.c_str()));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execve(exe.c_str(), argv.data(), environ);
        _exit(127);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    signal(SIGPIPE, SIG_IGN);

    RunResult r;
    std::string feed = opt.input;
    size_t written = 0, step = 0;
    int inFd = inPipe[1];
    if (opt.input.empty() && opt.steps.empty() && opt.closeInput) {
        close(inFd);
        inFd = -1;
    }
    fcntl(outPipe[0], F_SETFL, O_NONBLOCK);
    fcntl(errPipe[0], F_SETFL, O_NONBLOCK);
    if (inFd >= 0) fcntl(inFd, F_SETFL, O_NONBLOCK);
    int outFd = outPipe[0], errFd = errPipe[0];  // outFd -1 when output is closed
    double deadline = Now() + opt.timeoutSec;
    double stepDeadline = Now() + opt.stepTimeoutSec;
    char buf[65536];
    while (outFd >= 0 || errFd >= 0) {
        // The next answer goes in once its question is out, and the input
        // before it is written.
        if (inFd >= 0 && step < opt.steps.size() && written >= feed.size()) {
            const std::string& await = opt.steps[step].await;
            if (r.out.size() >= await.size() &&
                r.out.compare(r.out.size() - await.size(), await.size(), await) == 0) {
                if (opt.answerDelayMs > 0) usleep((useconds_t)opt.answerDelayMs * 1000);
                r.outAtAnswer.push_back(r.out);
                r.runningAtAnswer.push_back(Running(pid));
                feed += opt.steps[step++].answer;
                stepDeadline = Now() + opt.stepTimeoutSec;
            }
        }
        bool waitingStep = inFd >= 0 && step < opt.steps.size() && written >= feed.size();
        if (inFd >= 0 && !waitingStep && written >= feed.size() && opt.closeInput) {
            close(inFd);
            inFd = -1;
        }
        pollfd fds[3];
        int n = 0;
        int outIdx = -1, errIdx = -1, inIdx = -1;
        if (outFd >= 0) { outIdx = n; fds[n++] = {outFd, POLLIN, 0}; }
        if (errFd >= 0) { errIdx = n; fds[n++] = {errFd, POLLIN, 0}; }
        bool wantIn = inFd >= 0 && written < feed.size();
        if (wantIn) { inIdx = n; fds[n++] = {inFd, POLLOUT, 0}; }
        double end = waitingStep && stepDeadline < deadline ? stepDeadline : deadline;
        double left = end - Now();
        if (left <= 0) {
            kill(pid, SIGKILL);
            r.timedOut = true;
            break;
        }
        int rc = poll(fds, n, (int)(left * 1000) + 1);
        if (rc < 0 && errno != EINTR) break;
        if (inIdx >= 0 && fds[inIdx].revents) {
            ssize_t w = write(inFd, feed.data() + written, feed.size() - written);
            if (w > 0) written += (size_t)w;
            if (w < 0 && errno != EAGAIN) written = feed.size();
        }
        for (int which = 0; which < 2; ++which) {
            int idx = which == 0 ? outIdx : errIdx;
            int& fd = which == 0 ? outFd : errFd;
            std::string& dst = which == 0 ? r.out : r.err;
            if (idx < 0 || !fds[idx].revents) continue;
            ssize_t got = read(fd, buf, sizeof buf);
            if (got > 0) {
                dst.append(buf, (size_t)got);
            } else if (got == 0 || errno != EAGAIN) {
                close(fd);
                fd = -1;
            }
        }
    }
    if (outFd >= 0) close(outFd);
    if (errFd >= 0) close(errFd);
    if (inFd >= 0) close(inFd);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!r.timedOut && WIFEXITED(status)) r.code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
    return r;
}

std::string SimExe() { return VRXPR_SIM_EXE; }
std::string LinuxExe() { return VRXPR_LINUX_EXE; }
std::string SimNoMemExe() { return VRXPR_SIM_NOMEM_EXE; }

std::string MakeTempDir()
{
    std::string tmpl = std::string(VRXPR_TEST_TMP) + "/t.XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return buf.data();
}

std::string ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << content;
}

SimRun RunSim(const std::vector<std::string>& args, const std::string& stateJson,
              const std::string& input, int timeoutSec)
{
    RunOptions opt;
    opt.input = input;
    opt.timeoutSec = timeoutSec;
    return RunSimWith(args, stateJson, opt);
}

SimRun RunSimWith(const std::vector<std::string>& args, const std::string& stateJson,
                  RunOptions opt)
{
    std::string dir = MakeTempDir();
    std::string path = dir + "/state.json";
    WriteFile(path, stateJson);
    opt.env.push_back({"VRXPR_SIM_STATE", path});
    opt.cwd = dir;
    SimRun run;
    run.r = RunProgram(SimExe(), args, opt);
    run.stateText = ReadFile(path);
    return run;
}

namespace {

nlohmann::ordered_json ParseState(const std::string& stateText)
{
    try {
        return nlohmann::ordered_json::parse(stateText);
    } catch (const nlohmann::ordered_json::exception& e) {
        throw std::runtime_error(std::string("state file does not parse: ") + e.what());
    }
}

}  // namespace

RunResult SimShell(const std::string& script, const std::string& dir, int timeoutSec)
{
    RunOptions opt;
    opt.env = {{"VRXPR_SIM_STATE", dir + "/state.json"}};
    opt.timeoutSec = timeoutSec;
    return RunProgram("/bin/sh", {"-c", script, SimExe(), dir}, opt);
}

std::vector<std::string> OpenedDevices(const std::string& stateText)
{
    nlohmann::ordered_json state = ParseState(stateText);
    std::vector<std::string> names;
    for (const auto& e : state.value("log", nlohmann::ordered_json::array()))
        if (e.contains("open")) names.push_back(e["open"].get<std::string>());
    return names;
}

std::vector<std::string> Requests(const std::string& stateText)
{
    nlohmann::ordered_json state = ParseState(stateText);
    std::vector<std::string> lines;
    for (const auto& e : state.value("log", nlohmann::ordered_json::array()))
        if (e.contains("cdb")) lines.push_back(e.dump());
    return lines;
}

std::string ConvertText(const std::string& utf8, const char* charset)
{
    iconv_t cd = iconv_open(charset, "UTF-8");
    if (cd == (iconv_t)-1) throw std::runtime_error(std::string("no converter to ") + charset);
    std::string out(utf8.size() * 2 + 16, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* dst = out.data();
    size_t outLeft = out.size();
    size_t rc = iconv(cd, &in, &inLeft, &dst, &outLeft);
    iconv_close(cd);
    if (rc == (size_t)-1) throw std::runtime_error("iconv failed");
    out.resize(out.size() - outLeft);
    return out;
}

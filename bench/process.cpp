#include "process.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace {

// The children that may still run, for the signal handler: a fixed table it can read safely.
std::atomic<pid_t> children[16];

void remember(pid_t pid)
{
    for (std::atomic<pid_t> &slot : children) {
        pid_t empty = 0;
        if (slot.compare_exchange_strong(empty, pid))
            return;
    }
}

void forget(pid_t pid)
{
    for (std::atomic<pid_t> &slot : children) {
        pid_t mine = pid;
        if (slot.compare_exchange_strong(mine, 0))
            return;
    }
}

void killChildrenAndExit(int caught)
{
    for (std::atomic<pid_t> &slot : children)
        if (const pid_t pid = slot.load(); pid > 0)
            ::kill(pid, SIGKILL);
    ::signal(caught, SIG_DFL);
    ::raise(caught);
}

} // namespace

void killChildrenOnSignals()
{
    for (const int which : {SIGINT, SIGTERM, SIGHUP})
        ::signal(which, killChildrenAndExit);
}

pid_t spawnProcess(const std::vector<std::string> &argv,
                   const std::vector<std::string> &assignments, const std::string &workDir,
                   const std::string &logFile, int keepFd)
{
    std::vector<std::string> environment;
    for (char **e = environ; *e; ++e)
        environment.emplace_back(*e);
    for (const std::string &assignment : assignments) {
        const std::string name = assignment.substr(0, assignment.find('=') + 1);
        environment.erase(
            std::remove_if(environment.begin(), environment.end(),
                           [&](const std::string &e) { return e.rfind(name, 0) == 0; }),
            environment.end());
        if (assignment.size() > name.size())
            environment.push_back(assignment);
    }

    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char *> envp;
    for (const std::string &e : environment)
        envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (!workDir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    if (keepFd >= 0)
        ::fcntl(keepFd, F_SETFD, 0);

    pid_t pid = -1;
    const int error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(error));
    remember(pid);
    return pid;
}

bool isRunning(pid_t pid)
{
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == 0)
        return true;
    forget(pid);
    return false;
}

void stopProcess(pid_t pid, std::chrono::milliseconds grace)
{
    if (pid <= 0 || !isRunning(pid))
        return;
    ::kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!isRunning(pid))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    forget(pid);
}

namespace {

long statusField(const std::string &text, const char *name)
{
    const std::size_t at = text.find(name);
    if (at == std::string::npos)
        return 0;
    return std::strtol(text.c_str() + at + std::strlen(name), nullptr, 10);
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

ProcessStats readStats(pid_t pid)
{
    ProcessStats stats;
    const std::string base = "/proc/" + std::to_string(pid);
    const std::string stat = readFile(base + "/stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return stats;
    // After the command's closing parenthesis: state is field 3, utime 14, stime 15.
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int number = 3; fields >> field && number <= 15; ++number) {
        if (number == 14)
            utime = std::stoull(field);
        if (number == 15)
            stime = std::stoull(field);
    }
    stats.cpuSeconds = double(utime + stime) / double(::sysconf(_SC_CLK_TCK));

    const std::string status = readFile(base + "/status");
    stats.rssKiB = statusField(status, "VmRSS:");
    stats.peakKiB = statusField(status, "VmHWM:");

    if (DIR *tasks = ::opendir((base + "/task").c_str())) {
        while (const dirent *task = ::readdir(tasks)) {
            if (task->d_name[0] == '.')
                continue;
            const std::string taskStatus = readFile(base + "/task/" + task->d_name + "/status");
            stats.voluntarySwitches += statusField(taskStatus, "\nvoluntary_ctxt_switches:");
            stats.involuntarySwitches += statusField(taskStatus, "nonvoluntary_ctxt_switches:");
            ++stats.threads;
        }
        ::closedir(tasks);
    }
    stats.valid = !status.empty();
    return stats;
}

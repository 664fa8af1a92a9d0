#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

// Starts argv[0] (looked up in PATH when it has no slash) in workDir with the environment
// changed by assignments ("NAME=value", or "NAME=" to remove NAME), standard output and error
// appended to logFile. keepFd, when not -1, stays open in the child under its number. Returns
// the child's pid; throws std::runtime_error when it cannot start.
pid_t spawnProcess(const std::vector<std::string> &argv,
                   const std::vector<std::string> &assignments, const std::string &workDir,
                   const std::string &logFile, int keepFd = -1);

// On SIGINT, SIGTERM or SIGHUP, kills every child still running before the benchmark ends, so
// that no Xvfb or program is left behind.
void killChildrenOnSignals();

// Ends a child: SIGTERM, then SIGKILL if it is still there after grace; reaps it.
void stopProcess(pid_t pid, std::chrono::milliseconds grace = std::chrono::milliseconds(2000));

// Whether the child is still running (reaps it when it has ended).
[[nodiscard]] bool isRunning(pid_t pid);

// What /proc says about a process, summed over its threads where the kernel counts per thread.
struct ProcessStats
{
    bool valid = false;
    double cpuSeconds = 0;        // user + system, all threads
    long voluntarySwitches = 0;   // all threads: each is a wake-up after sleeping
    long involuntarySwitches = 0; // all threads
    long rssKiB = 0;              // VmRSS
    long peakKiB = 0;             // VmHWM
    int threads = 0;
};
[[nodiscard]] ProcessStats readStats(pid_t pid);

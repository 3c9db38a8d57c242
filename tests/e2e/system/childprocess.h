// A program started for an end-to-end test, with its standard output and error collected line by line.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ChildProcess {
public:
    // Starts program with args and extra environment entries ("NAME=value"), which replace inherited ones.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& environment = {});
    ~ChildProcess();  // kills the program if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool started() const { return pid_ > 0; }
    // Waits until a line satisfies the predicate; returns that line, or "" after the time limit.
    std::string waitForLine(const std::function<bool(const std::string&)>& predicate,
                            std::chrono::milliseconds limit);
    std::string waitForText(const std::string& text, std::chrono::milliseconds limit);
    // How many lines so far contain text.
    size_t countLines(const std::string& text);
    std::vector<std::string> lines();
    // The exit code once the program ended within limit; -1 when it did not end or was killed.
    int exitCode(std::chrono::milliseconds limit);
    void signal(int number) const;

private:
    void collect(int fd);

    pid_t pid_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;  // guarded by mutex_
    bool ended_ = false;              // guarded by mutex_: the output pipe closed
};

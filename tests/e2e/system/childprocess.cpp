#include "tests/e2e/system/childprocess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& environment) {
    std::vector<std::string> env = environment;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        bool replaced = false;
        for (const std::string& mine : environment) {
            replaced = replaced || entry.compare(0, mine.find('=') + 1, mine, 0, mine.find('=') + 1) == 0;
        }
        if (!replaced) env.push_back(entry);
    }
    std::vector<std::string> argStrings = {program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argStrings)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    reader_ = std::thread(&ChildProcess::collect, this, out[0]);
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (reader_.joinable()) reader_.join();
}

void ChildProcess::collect(int fd) {
    std::string partial;
    char chunk[4096];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof(chunk))) > 0) {
        partial.append(chunk, static_cast<size_t>(n));
        size_t end;
        std::lock_guard lock(mutex_);
        while ((end = partial.find('\n')) != std::string::npos) {
            lines_.push_back(partial.substr(0, end));
            partial.erase(0, end + 1);
        }
        changed_.notify_all();
    }
    close(fd);
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
}

std::string ChildProcess::waitForLine(const std::function<bool(const std::string&)>& predicate,
                                      std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    std::string found;
    changed_.wait_for(lock, limit, [&] {
        for (const std::string& line : lines_) {
            if (predicate(line)) {
                found = line;
                return true;
            }
        }
        return ended_;
    });
    return found;
}

std::string ChildProcess::waitForText(const std::string& text, std::chrono::milliseconds limit) {
    return waitForLine([&](const std::string& line) { return line.find(text) != std::string::npos; }, limit);
}

size_t ChildProcess::countLines(const std::string& text) {
    std::lock_guard lock(mutex_);
    size_t count = 0;
    for (const std::string& line : lines_)
        count += line.find(text) != std::string::npos;
    return count;
}

std::vector<std::string> ChildProcess::lines() {
    std::lock_guard lock(mutex_);
    return lines_;
}

int ChildProcess::exitCode(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (pid_ > 0) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

void ChildProcess::signal(int number) const {
    if (pid_ > 0) kill(pid_, number);
}

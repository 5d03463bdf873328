#pragma once
// A run of the crash writer (crashwriter) in a child process, its reports
// of completed changes read from a pipe, and its end by SIGKILL.
#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace querlin::crash {

// One run of the writer, its reports read from a pipe.
class Writer {
public:
    Writer(const std::string& kind, const std::string& path, bool once = false)
    {
        int fds[2];
        if (::pipe(fds) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::vector<std::string> args = {QUERLIN_CRASHWRITER, kind, path};
        if (once)
            args.push_back("once");
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&pid_, QUERLIN_CRASHWRITER, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        read_ = fds[0];
        if (rc != 0)
            throw std::runtime_error("posix_spawn");
    }
    ~Writer()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(read_);
    }

    // Waits up to the time-out for the next report; 0 when none came.
    char NextReport(std::chrono::milliseconds timeout)
    {
        pollfd p{read_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0)
            return 0;
        char c = 0;
        if (::read(read_, &c, 1) != 1)
            return 0;
        last_ = c;
        return c;
    }
    // Kills the writer and reads what it reported before dying; the last
    // state it completed, or 0 when it completed none.
    char Kill()
    {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        char c;
        while (::read(read_, &c, 1) == 1)
            last_ = c;
        return last_;
    }
    // Waits for a writer run with "once" to end; its exit status.
    int Wait()
    {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        char c;
        while (::read(read_, &c, 1) == 1)
            last_ = c;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    char Last() const { return last_; }

private:
    pid_t pid_ = -1;
    int read_ = -1;
    char last_ = 0;
};

} // namespace querlin::crash

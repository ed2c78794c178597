// Runs a piece of a test in a child process with a time limit, so a test of
// a hang fails instead of hanging itself.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <optional>
#include <thread>

namespace bmtest {

// The exit code of `work` run in a child process, or nullopt when it has
// not ended within `limit` (it is then killed) or ended by a signal.
inline std::optional<int> ExitCodeWithin(const std::function<int()>& work, std::chrono::seconds limit) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(work());
    if (pid < 0) return std::nullopt;
    const auto until = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > until) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? std::optional<int>(WEXITSTATUS(status)) : std::nullopt;
}

}  // namespace bmtest

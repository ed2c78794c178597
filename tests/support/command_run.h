// Runs a shell command and keeps what it writes to its standard output.
#pragma once

#include <cstdio>
#include <string>

namespace bmtest {

struct CommandRun {
    bool started = false;  // the shell could be started at all
    std::string output;
    int status = -1;  // pclose's wait status: 0 when the command exited 0
};

inline CommandRun RunCommand(const std::string& command) {
    CommandRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    run.started = true;
    char buf[4096];
    while (const std::size_t n = std::fread(buf, 1, sizeof buf, pipe)) run.output.append(buf, n);
    run.status = ::pclose(pipe);
    return run;
}

}  // namespace bmtest

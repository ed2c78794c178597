// Ctrl-C, SIGTERM and SIGHUP ask the running operation to stop, exactly
// like the Stop button: the handler only stores true in the operation's
// stop flag, and the run then closes its output the usual way. The handler
// is installed once per signal (SA_RESETHAND), so a second signal ends the
// program.
#pragma once

#include <atomic>

namespace bm::cli {

class InterruptStop {
public:
    explicit InterruptStop(std::atomic<bool>& stopFlag);
    ~InterruptStop();
    InterruptStop(const InterruptStop&) = delete;
    InterruptStop& operator=(const InterruptStop&) = delete;

    // Whether a stop signal arrived while any InterruptStop was in place.
    static bool Received();
};

}  // namespace bm::cli

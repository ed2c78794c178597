// Ctrl-C asks the running operation to stop, exactly like the Stop button:
// the handler only stores true in the operation's stop flag. The handler is
// installed once (SA_RESETHAND), so a second Ctrl-C ends the program.
#pragma once

#include <atomic>

namespace bm::cli {

class InterruptStop {
public:
    explicit InterruptStop(std::atomic<bool>& stopFlag);
    ~InterruptStop();
    InterruptStop(const InterruptStop&) = delete;
    InterruptStop& operator=(const InterruptStop&) = delete;
};

}  // namespace bm::cli

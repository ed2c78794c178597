#include "cli/interrupt.h"

#include <csignal>

namespace bm::cli {

namespace {

static_assert(std::atomic<bool>::is_always_lock_free, "the handler stores to the flag");
static_assert(std::atomic<std::atomic<bool>*>::is_always_lock_free, "the handler loads the target");

std::atomic<std::atomic<bool>*> stopTarget{nullptr};
std::atomic<bool> received{false};

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void OnInterrupt(int) {
    received.store(true);
    if (std::atomic<bool>* flag = stopTarget.load()) flag->store(true);
}

void Install(void (*handler)(int), int flags) {
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = flags;
    sigemptyset(&action.sa_mask);
    for (const int signal : kStopSignals) sigaction(signal, &action, nullptr);
}

}  // namespace

InterruptStop::InterruptStop(std::atomic<bool>& stopFlag) {
    stopTarget.store(&stopFlag);
    Install(OnInterrupt, SA_RESETHAND | SA_RESTART);
}

InterruptStop::~InterruptStop() {
    Install(SIG_DFL, 0);
    stopTarget.store(nullptr);
}

bool InterruptStop::Received() { return received.load(); }

}  // namespace bm::cli

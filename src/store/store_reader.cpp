#include "store/store_reader.h"

namespace bm {

void PauseGate::Suspend() {
    std::lock_guard lock(mutex_);
    ++count_;
}

void PauseGate::Resume() {
    {
        std::lock_guard lock(mutex_);
        if (count_ == 0) return;
        --count_;
        if (count_ != 0) return;
    }
    resumed_.notify_all();
}

void PauseGate::Pass() {
    std::unique_lock lock(mutex_);
    resumed_.wait(lock, [this] { return count_ == 0; });
}

int PauseGate::count() const {
    std::lock_guard lock(mutex_);
    return count_;
}

}  // namespace bm

#include "ui/saving_bridge.h"

namespace bmui {

SavingBridge::SavingBridge(QObject* parent) : QObject(parent) {}

void SavingBridge::OnProgressPosition(std::int32_t position) { emit positionReached(position); }

void SavingBridge::OnFinished(const bm::SavingFinish& finish) {
    emit finished(static_cast<int>(finish.outcome), QString::fromStdString(finish.message));
}

}  // namespace bmui

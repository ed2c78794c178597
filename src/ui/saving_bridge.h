// Hands the saving run's observer calls (made on its worker thread) to the
// user-interface thread as queued signals. Progress is not forwarded node
// by node to the page: the status dialog reads the run's status on its
// timer.
#pragma once

#include <QObject>
#include <QString>

#include "engine/saving_run.h"

namespace bmui {

class SavingBridge : public QObject, public bm::SavingObserver {
    Q_OBJECT
public:
    explicit SavingBridge(QObject* parent = nullptr);

    void OnProgressPosition(std::int32_t position) override;
    void OnFinished(const bm::SavingFinish& finish) override;

signals:
    // Emitted on the run's worker thread after each node read; only for
    // direct connections to thread-safe receivers (the page does not use it).
    void positionReached(int position);
    // outcome as bm::AnalysisOutcome; the message is the outcome text or
    // the failure.
    void finished(int outcome, const QString& message);
};

}  // namespace bmui

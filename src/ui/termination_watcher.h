// Ends the application in order when the process is asked to end (SIGTERM,
// SIGINT, SIGHUP): the signal handler only writes a byte into a pipe; the
// user-interface thread reads it and quits every event loop, so a page
// stops its runs on the way out and a saving run finishes its item and
// closes the output store instead of leaving it half written.
#pragma once

#include <QObject>

#include <array>
#include <csignal>

class QSocketNotifier;

namespace bmui {

class TerminationWatcher : public QObject {
    Q_OBJECT
public:
    // One watcher at a time; a second one stays inactive.
    explicit TerminationWatcher(QObject* parent = nullptr);
    ~TerminationWatcher() override;  // the earlier handlers come back
    TerminationWatcher(const TerminationWatcher&) = delete;
    TerminationWatcher& operator=(const TerminationWatcher&) = delete;

    bool active() const { return notifier_ != nullptr; }

signals:
    // Before the event loops are told to quit.
    void terminationRequested(int signal);

private:
    void OnSignal();

    QSocketNotifier* notifier_ = nullptr;
    std::array<struct sigaction, 3> previous_{};
};

}  // namespace bmui

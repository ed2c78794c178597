// Hands the analysis run's observer calls (made on its worker thread) to the
// user-interface thread as queued signals.
#pragma once

#include <QObject>
#include <QString>

#include "engine/analysis_observer.h"

namespace bmui {

class AnalysisBridge : public QObject, public bm::AnalysisObserver {
    Q_OBJECT
public:
    explicit AnalysisBridge(QObject* parent = nullptr);

    void OnSourcePath(const std::string& path) override;
    void OnProgressRange(std::int32_t maximum) override;
    void OnProgressPosition(std::int32_t position) override;
    void OnCountChanged(bm::WellKnownCategory category, std::int32_t count) override;
    void OnFolderFound(const std::string& path, const std::string& containerClass) override;
    void OnFinished(const bm::AnalysisFinish& finish) override;

signals:
    void sourcePath(const QString& path);
    void progressRange(int maximum);
    void progressPosition(int position);
    void countChanged(int category, int count);
    void folderFound(const QString& path, const QString& containerClass);
    // outcome as bm::AnalysisOutcome; page empty when the view stays.
    void finished(int outcome, const QString& page, bool treeHasItems, const QString& message);
};

}  // namespace bmui

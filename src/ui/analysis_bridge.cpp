#include "ui/analysis_bridge.h"

namespace bmui {

namespace {
QString Q(const std::string& text) { return QString::fromStdString(text); }
}  // namespace

AnalysisBridge::AnalysisBridge(QObject* parent) : QObject(parent) {}

void AnalysisBridge::OnSourcePath(const std::string& path) { emit sourcePath(Q(path)); }
void AnalysisBridge::OnProgressRange(std::int32_t maximum) { emit progressRange(maximum); }
void AnalysisBridge::OnProgressPosition(std::int32_t position) { emit progressPosition(position); }
void AnalysisBridge::OnCountChanged(bm::WellKnownCategory category, std::int32_t count) {
    emit countChanged(static_cast<int>(category), count);
}
void AnalysisBridge::OnFolderFound(const std::string& path, const std::string& containerClass) {
    emit folderFound(Q(path), Q(containerClass));
}
void AnalysisBridge::OnFinished(const bm::AnalysisFinish& finish) {
    emit finished(static_cast<int>(finish.outcome), Q(finish.page.string()), finish.treeHasItems, Q(finish.message));
}

}  // namespace bmui

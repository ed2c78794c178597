#include "ui/batch_summary.h"

#include <QStringList>

#include <algorithm>

#include "ui/ui_texts.h"

namespace bmui {

namespace {

QString OutcomeText(const BatchStoreResult& result) {
    const QString words = QString::fromStdString(result.words);
    switch (result.kind) {
    case BatchStoreResult::Kind::SavedWhole: return Text(kBatchSavedWhole);
    case BatchStoreResult::Kind::SavedPartly: return Text(kBatchSavedPartly).arg(words);
    case BatchStoreResult::Kind::Failed: return Text(kBatchFailed).arg(words);
    case BatchStoreResult::Kind::Stopped: return Text(kBatchStopped).arg(words);
    case BatchStoreResult::Kind::NotStarted: return Text(kBatchNotStarted);
    }
    return Text(kBatchFailed).arg(words);
}

}  // namespace

bool EveryStoreWhole(const std::vector<BatchStoreResult>& results) {
    return std::all_of(results.begin(), results.end(),
                       [](const BatchStoreResult& r) { return r.kind == BatchStoreResult::Kind::SavedWhole; });
}

QString BatchSummaryText(const std::vector<BatchStoreResult>& results, bool stopped) {
    const auto whole = std::count_if(results.begin(), results.end(), [](const BatchStoreResult& r) {
        return r.kind == BatchStoreResult::Kind::SavedWhole;
    });
    QStringList lines;
    lines << Text(kBatchHeadlineFormat).arg(whole).arg(results.size());
    if (stopped) lines << Text(kBatchHeadlineStopped);
    lines << QString();
    for (const BatchStoreResult& result : results) {
        lines << Text(kBatchEntryFormat).arg(QString::fromStdString(result.path), OutcomeText(result));
        for (const std::filesystem::path& output : result.outputs)
            lines << Text(kBatchOutputLine).arg(QString::fromStdString(output.string()));
        // A stopped store's new store is sound, but holds only part of it.
        if (result.kind == BatchStoreResult::Kind::Stopped && !result.outputs.empty())
            lines << Text(kBatchNoteLine).arg(Text(kPartialStoreNote));
        if (!result.report.empty()) lines << Text(kBatchReportLine).arg(QString::fromStdString(result.report.string()));
    }
    return lines.join(QLatin1Char('\n'));
}

}  // namespace bmui

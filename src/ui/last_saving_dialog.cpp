#include "ui/last_saving_dialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "ui/button_row.h"
#include "ui/icons.h"
#include "ui/skin.h"
#include "ui/ui_services.h"
#include "ui/ui_texts.h"
#include "ui/wizard_context.h"

namespace bmui {

namespace {

constexpr const char* kOpenReportButton = "Open Report";

QString Headline(const SavingResult& result) {
    if (result.outcome == bm::AnalysisOutcome::Aborted) return Text(kSavingAbortedLabel);
    // The wizard's own words for a whole save; the saving run's (the same
    // as the command line's and the report's) when items were lost.
    if (result.verdict == bm::SavingVerdict::AllSaved) return Text(kSavingCompleted);
    return result.headline;
}

// The account of the selection: a stopped run says how many items it did
// not come to rather than calling them all recovered.
QString Account(const SavingResult& result) {
    if (result.outcome != bm::AnalysisOutcome::Aborted)
        return Text(kSavingAccountFormat).arg(result.itemsSaved).arg(result.itemsNotRecovered);
    QString text = Text(kStoppedAccountFormat).arg(result.itemsSaved).arg(result.itemsNotReached);
    if (result.itemsNotRecovered > 0) text += Text(kStoppedLostFormat).arg(result.itemsNotRecovered);
    return text;
}

}  // namespace

Last_Saving_Dialog::Last_Saving_Dialog(WizardContext& context, const SavingResult& result, QWidget* parent)
    : QDialog(parent), context_(context), counts_(bm::kWellKnownCategoryCount, nullptr) {
    setWindowTitle(Text(kCaption));
    setWindowIcon(AppIcon());
    ApplySkin(*this, context.AppFile(kSkinMessage));
    setMinimumWidth(480);
    const bool aborted = result.outcome == bm::AnalysisOutcome::Aborted;

    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(Text(kOpenLogGroup), this);
    auto* inner = new QVBoxLayout(group);
    const bool lossy = result.verdict != bm::SavingVerdict::AllSaved;
    iconKind_ = lossy ? QMessageBox::Warning : QMessageBox::Information;
    resultIcon_ = new QLabel(group);
    const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    resultIcon_->setPixmap(
        style()
            ->standardIcon(lossy ? QStyle::SP_MessageBoxWarning : QStyle::SP_MessageBoxInformation, nullptr, this)
            .pixmap(iconSize, iconSize));
    result_ = new QLabel(Headline(result), group);
    result_->setWordWrap(true);
    QFont bold = result_->font();
    bold.setBold(true);
    result_->setFont(bold);
    auto* headline = new QHBoxLayout;
    headline->addWidget(resultIcon_, 0, Qt::AlignTop);
    headline->addWidget(result_, 1);
    inner->addLayout(headline);

    // Where the store went; after a stop the user learns that it holds only
    // part of the selection.
    QStringList stores;
    for (const std::filesystem::path& p : result.outputStores) stores << QString::fromStdString(p.string());
    QString where = stores.isEmpty() ? Text(kNoOutputStore)
                                     : Text(result.exported ? kExportFolderLabel : kOutputStoreLabel) +
                                           QLatin1Char('\n') + stores.join(QLatin1Char('\n'));
    if (aborted && !stores.isEmpty()) where += QLatin1Char('\n') + Text(kPartialStoreNote);
    stores_ = new QLabel(where, group);
    stores_->setWordWrap(true);
    stores_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    inner->addWidget(stores_);

    auto* grid = new QGridLayout;
    int at = 0;
    for (const bm::WellKnownCategory category : bm::SummaryOrder()) {
        const QString label = QString::fromUtf8(bm::CategoryLogLabel(category).data()).trimmed();
        auto* count = new QLabel(QString::number(result.saved[category]), group);
        counts_[static_cast<std::size_t>(category)] = count;
        // Two columns, each read from the top down in the summary's order.
        const int half = static_cast<int>(bm::kWellKnownCategoryCount) / 2;
        grid->addWidget(new QLabel(label, group), at % half, (at / half) * 2);
        grid->addWidget(count, at % half, (at / half) * 2 + 1);
        ++at;
    }
    inner->addLayout(grid);

    failed_ = new QLabel(Text(kItemsSkippedLabel) + QLatin1Char(' ') + QString::number(result.failedItems), group);
    failed_->setVisible(result.failedItems > 0);
    inner->addWidget(failed_);

    // Beside the category counts: the whole selection's account, so a run
    // that lost items never reads as complete.
    account_ = new QLabel(Account(result), group);
    account_->setWordWrap(true);
    if (lossy) account_->setFont(bold);
    inner->addWidget(account_);
    report_ = new QPushButton(QString::fromUtf8(kOpenReportButton), group);
    report_->setVisible(!result.report.empty());
    const QString reportPath = QString::fromStdString(result.report.string());
    connect(report_, &QPushButton::clicked, this, [this, reportPath] { context_.OpenFile(reportPath); });
    auto* reportRow = new QHBoxLayout;
    reportRow->addWidget(report_);
    reportRow->addStretch(1);
    inner->addLayout(reportRow);

    viewLog_ = new QCheckBox(Text(kViewLogFile), group);
    inner->addWidget(viewLog_);
    layout->addWidget(group);

    ok_ = new QPushButton(Text(kOkButton), this);
    ok_->setDefault(true);
    AddButtonRow(layout, {ok_});
    connect(ok_, &QPushButton::clicked, this, &Last_Saving_Dialog::Ok);
}

QLabel* Last_Saving_Dialog::countLabel(bm::WellKnownCategory category) const {
    return counts_[static_cast<std::size_t>(category)];
}

void Last_Saving_Dialog::Ok() {
    if (viewLog_->isChecked()) {
        context_.ViewLog();
        viewLog_->setChecked(false);
    }
    accept();
}

void Last_Saving_Dialog::reject() {
    // Closed other than by OK: the same as OK.
    QDialog::accept();
}

}  // namespace bmui

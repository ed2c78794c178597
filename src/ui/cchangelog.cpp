#include "ui/cchangelog.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <filesystem>
#include <system_error>

#include "engine/settings.h"
#include "ui/button_row.h"
#include "ui/skin.h"
#include "ui/ui_services.h"
#include "ui/ui_texts.h"
#include "ui/wizard_context.h"

namespace bmui {

namespace {

bool DirectoryExists(const QString& path) {
    std::error_code ec;
    return !path.isEmpty() && std::filesystem::exists(path.toStdString(), ec);
}

}  // namespace

Cchangelog::Cchangelog(WizardContext& context, QWidget* parent) : QDialog(parent), context_(context) {
    setWindowTitle(Text(kChangeLogTitle));
    ApplySkin(*this, context.AppFile(kSkinMessage));
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    edit_ = new QLineEdit(this);
    edit_->setMinimumWidth(320);
    browse_ = new QPushButton(Text(kBrowseButton), this);
    row->addWidget(edit_, 1);
    row->addWidget(browse_);
    layout->addLayout(row);
    apply_ = new QPushButton(Text(kApplyButton), this);
    auto* cancel = new QPushButton(Text(kCancelButton), this);
    AddButtonRow(layout, {apply_, cancel});

    const QString logPath = QString::fromStdString(context.settings().Value(bm::kSettingLogPath));
    edit_->setText(DirectoryExists(logPath) ? logPath
                                            : QString::fromStdString(context.settings().Value(bm::kSettingFilePath)));

    connect(browse_, &QPushButton::clicked, this, &Cchangelog::Browse);
    connect(apply_, &QPushButton::clicked, this, &Cchangelog::Apply);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void Cchangelog::Browse() {
    const QString chosen = context_.services().PickFolder(this, Text(kSelectFolderTitle), edit_->text());
    if (!chosen.isEmpty()) edit_->setText(chosen);
}

void Cchangelog::Apply() {
    const QString path = edit_->text();
    if (!DirectoryExists(path)) {
        context_.services().Show(this, BoxKind::Stop, Text(kPathDoesNotExist));
        reject();
        return;
    }
    context_.settings().SetValue(bm::kSettingLogPath, path.toStdString());
    accept();
}

}  // namespace bmui

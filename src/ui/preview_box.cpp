#include "ui/preview_box.h"

#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidgetItem>

#include <algorithm>
#include <initializer_list>

#include "engine/analysis_results.h"
#include "engine/item_preview.h"
#include "engine/shipped_pages.h"
#include "ui/icons.h"
#include "ui/item_list.h"
#include "ui/item_rows.h"
#include "ui/preview_pane.h"
#include "ui/ui_services.h"
#include "ui/ui_texts.h"
#include "ui/wizard_context.h"

namespace bmui {

PreviewBox::PreviewBox(WizardContext& context, QWidget* parent) : QWidget(parent), context_(context) {
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    from_ = new QLabel(this);
    to_ = new QLabel(this);
    subject_ = new QLabel(this);
    // What a mail says of itself is shown as text, never read as markup.
    for (QLabel* label : {from_, to_, subject_}) {
        label->setTextFormat(Qt::PlainText);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    captions_ = {new QLabel(Text(kFromLabel), this), new QLabel(Text(kToLabel), this),
                 new QLabel(Text(kSubjectLabel), this)};
    const std::array<QLabel*, 3> values = {from_, to_, subject_};
    for (int row = 0; row < 3; ++row) {
        layout->addWidget(captions_[static_cast<std::size_t>(row)], row, 0);
        layout->addWidget(values[static_cast<std::size_t>(row)], row, 1);
    }
    // The mail's header shows only above a mail, not above a card or a page.
    SetHeaderShown(false);
    pane_ = new PreviewPane(this);
    layout->addWidget(pane_, 3, 0, 1, 2);
    // The mail's attachments, by name (text, never markup); one chosen is
    // saved into a folder the user picks.
    attachmentsLabel_ = new QLabel(Text(kAttachmentsLabel), this);
    attachments_ = new QListWidget(this);
    attachments_->setMaximumHeight(72);
    saveAttachment_ = new QPushButton(Text(kSaveAttachmentButton), this);
    saveAttachment_->setAutoDefault(false);
    layout->addWidget(attachmentsLabel_, 4, 0, Qt::AlignTop);
    auto* attachmentRow = new QHBoxLayout;
    attachmentRow->addWidget(attachments_, 1);
    attachmentRow->addWidget(saveAttachment_, 0, Qt::AlignTop);
    layout->addLayout(attachmentRow, 4, 1);
    for (QWidget* w : std::initializer_list<QWidget*>{attachmentsLabel_, attachments_, saveAttachment_}) w->hide();
    layout->setColumnStretch(1, 1);
}

PreviewBox::~PreviewBox() = default;

void PreviewBox::ShowItem(const bm::AnalysisResults& results, const std::string& folderPath,
                          const QTreeWidgetItem* row, const std::filesystem::path& storePath, bool storeFree) {
    const bool mailList = bm::ListKindOf(folderPath) == bm::ListKind::Mail;
    if (mailList && row == nullptr) return;
    const int source = ItemList::SourceOf(row);
    const bm::CardTimeText timeText = [](std::int64_t fileTime) {
        return LocaleTime(fileTime, QLocale::LongFormat).toStdString();
    };
    const bm::ItemPreview preview = row == nullptr ? bm::ItemPreview{} : results.Read([&](const bm::AnalysisData& d) {
        return bm::PreviewItem(d, folderPath, source, timeText);
    });
    if (!preview.mail) {
        // A contact, appointment, task, note or journal item is shown as a
        // card of its fields; without one, the fixed page.
        Clear();
        if (preview.page.empty() || !WritePreviewPage(preview.page))
            ShowPage(context_.AppFileText(bm::kPreviewPage));
        return;
    }
    from_->setText(row->text(0));
    subject_->setText(row->text(1));
    to_->setText(row->text(2));
    SetHeaderShown(true);
    ListAttachments(preview.nid, storePath, storeFree);
    if (!preview.page.empty()) WritePreviewPage(preview.page);
}

void PreviewBox::Clear() {
    for (QLabel* label : {from_, to_, subject_}) label->clear();
    SetHeaderShown(false);
    ListAttachments(0, {}, false);
}

void PreviewBox::SetHeaderShown(bool shown) {
    for (QLabel* label : captions_) label->setVisible(shown);
    for (QLabel* label : {from_, to_, subject_}) label->setVisible(shown);
}

void PreviewBox::ListAttachments(std::uint32_t nid, const std::filesystem::path& storePath, bool storeFree) {
    listedNid_ = nid;
    attachments_->clear();
    std::optional<std::vector<AttachmentEntry>> listed;
    if (nid != 0 && storeFree) {
        if (!shelf_) shelf_ = std::make_unique<AttachmentShelf>(storePath, context_.deepScan, context_.recoverDeleted);
        listed = shelf_->List(nid);
    }
    const bool any = listed && !listed->empty();
    if (any) {
        for (const AttachmentEntry& entry : *listed) {
            auto* item = new QListWidgetItem(
                entry.size > 0 ? QStringLiteral("%1 (%2)").arg(entry.name, QLocale().formattedDataSize(entry.size))
                               : entry.name);
            item->setIcon(ListIconImage(kListMail));
            attachments_->addItem(item);
        }
        attachments_->setCurrentRow(0);
    }
    for (QWidget* w : std::initializer_list<QWidget*>{attachmentsLabel_, attachments_, saveAttachment_})
        w->setVisible(any);
}

void PreviewBox::SaveAttachment(bool storeFree) {
    const int index = attachments_->currentRow();
    if (index < 0 || listedNid_ == 0 || !shelf_ || !storeFree) return;
    UiServices& services = context_.services();
    const QString chosen = services.PickFolder(window(), Text(kAttachmentFolderTitle), QString());
    if (chosen.isEmpty()) return;
    const AttachmentSaved saved = shelf_->Save(listedNid_, static_cast<std::size_t>(index), chosen.toStdString());
    if (saved.ok)
        services.Show(window(), BoxKind::Information, Text(kAttachmentSaved) + QString::fromStdString(saved.path.string()));
    else
        services.Show(window(), BoxKind::Stop, Text(kAttachmentNotSaved) + saved.error);
}

void PreviewBox::ReleaseStore() {
    if (shelf_) shelf_->Release();
}

void PreviewBox::ForgetStore() {
    shelf_.reset();
    ListAttachments(0, {}, false);
}

void PreviewBox::ShowPage(const QString& path) {
    shownPage_ = path;
    pane_->Navigate(path);
}

bool PreviewBox::WritePreviewPage(const std::string& page) {
    const QString file = context_.AppFileText(bm::kMessagePreviewPage);
    if (!QFile::exists(file)) return false;
    QFile out(file);
    out.setPermissions(out.permissions() | QFile::WriteOwner);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    for (std::size_t at = 0; at < page.size(); at += 4096) {
        const std::size_t piece = std::min<std::size_t>(4096, page.size() - at);
        if (out.write(page.data() + at, static_cast<qint64>(piece)) != static_cast<qint64>(piece)) return false;
    }
    out.close();
    ShowPage(file);
    return true;
}

}  // namespace bmui

// The preview side of the analysis page: a mail's sender, recipients and
// subject (as text, never markup; shown only above a mail), the preview
// pane with the item's page (engine/item_preview.h: a mail's body or the
// card of another item), and the mail's attachments by name with "Save
// Attachment...", read from the store on demand.
#pragma once

#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/attachment_shelf.h"

class QLabel;
class QListWidget;
class QPushButton;
class QTreeWidgetItem;

namespace bm {
class AnalysisResults;
}

namespace bmui {

class PreviewPane;
class WizardContext;

class PreviewBox : public QWidget {
    Q_OBJECT
public:
    PreviewBox(WizardContext& context, QWidget* parent);
    ~PreviewBox() override;

    // Shows the item of list row `row` (nullptr: none) of the folder
    // `folderPath`; a mail's attachments are read from `storePath` unless
    // `storeFree` is false (the saving run has the file to itself).
    void ShowItem(const bm::AnalysisResults& results, const std::string& folderPath, const QTreeWidgetItem* row,
                  const std::filesystem::path& storePath, bool storeFree);
    // Nothing previewed: no header, no attachments.
    void Clear();
    // Shows a page of the application directory.
    void ShowPage(const QString& path);
    QString shownPage() const { return shownPage_; }
    // Saves the chosen attachment into a folder the user picks.
    void SaveAttachment(bool storeFree);
    // Closes the store, opened again by the next preview that lists
    // attachments; Forget also forgets which store it was.
    void ReleaseStore();
    void ForgetStore();

    PreviewPane* pane() const { return pane_; }
    QLabel* fromLabel() const { return from_; }
    QLabel* toLabel() const { return to_; }
    QLabel* subjectLabel() const { return subject_; }
    const std::array<QLabel*, 3>& headerCaptions() const { return captions_; }
    QListWidget* attachmentList() const { return attachments_; }
    QPushButton* saveAttachmentButton() const { return saveAttachment_; }

private:
    void SetHeaderShown(bool shown);
    void ListAttachments(std::uint32_t nid, const std::filesystem::path& storePath, bool storeFree);
    // Writes `page` into the preview page file and shows it; false when the
    // file is missing or cannot be written (the preview stays as it was).
    bool WritePreviewPage(const std::string& page);

    WizardContext& context_;
    QLabel* from_ = nullptr;
    QLabel* to_ = nullptr;
    QLabel* subject_ = nullptr;
    std::array<QLabel*, 3> captions_{};  // "From :", "To :", "Subject :"
    PreviewPane* pane_ = nullptr;        // 1118
    QLabel* attachmentsLabel_ = nullptr;
    QListWidget* attachments_ = nullptr;
    QPushButton* saveAttachment_ = nullptr;
    std::unique_ptr<AttachmentShelf> shelf_;  // opened by the first preview that lists attachments
    std::uint32_t listedNid_ = 0;             // the mail whose attachments are listed
    QString shownPage_;
};

}  // namespace bmui

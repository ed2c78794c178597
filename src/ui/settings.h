// The search page: looks for offline store files under a directory, lists
// them, and hands the chosen one to the analysis page, or saves every one
// listed into the saving path ("Save All Found", see BatchSave).
#pragma once

#include <QDialog>

#include <string>

#include "engine/file_finder.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace bmui {

class BatchProgressDialog;
class BatchSave;
class Repair_Recover;
class WizardContext;
class WizardMenu;

class Settings : public QDialog {
    Q_OBJECT
public:
    Settings(WizardContext& context, QWidget* parent);

    void Browse();
    void FindNow();
    void Convert();
    // Saves every listed store in the list's order, each with all its
    // folders, into the saving path's Repair folder, with a progress
    // dialog and Stop; one message box says at the end what became of each.
    void SaveAllFound();
    void Back();

    bool searching() const { return searching_; }
    const std::string& selectedPath() const { return selectedPath_; }

    QLineEdit* directoryEdit() const { return directory_; }
    QLineEdit* savingPathEdit() const { return savingPath_; }
    QCheckBox* subdirectoriesBox() const { return subdirectories_; }
    QPushButton* findButton() const { return find_; }
    QPushButton* convertButton() const { return convert_; }
    QPushButton* saveAllButton() const { return saveAll_; }
    QPushButton* backButton() const { return back_; }
    QPushButton* browseButton() const { return browse_; }
    QTreeWidget* resultList() const { return results_; }
    QLabel* statusLabel() const { return status_; }
    WizardMenu* menu() const { return menu_; }

signals:
    void analysisPageOpened(bmui::Repair_Recover* page);
    void fileFound(const QString& path);
    // Save All Found's dialog, before it runs (tests drive it from here).
    void batchSaveOpened(bmui::BatchProgressDialog* dialog, bmui::BatchSave* batch);

protected:
    void reject() override;

private:
    void SetBrowseEnabled(bool enabled);
    // Convert and Save All Found, as the list and the search allow.
    void SetListButtonsEnabled(bool enabled);
    void AddRow(const std::string& path);

    WizardContext& context_;
    bm::CFileFinder finder_;
    WizardMenu* menu_ = nullptr;
    QLineEdit* directory_ = nullptr;
    QLineEdit* savingPath_ = nullptr;
    QCheckBox* subdirectories_ = nullptr;
    QPushButton* browse_ = nullptr;
    QPushButton* find_ = nullptr;
    QPushButton* convert_ = nullptr;
    QPushButton* saveAll_ = nullptr;
    QPushButton* back_ = nullptr;
    QTreeWidget* results_ = nullptr;
    QLabel* status_ = nullptr;
    std::string selectedPath_;
    bool searching_ = false;
};

}  // namespace bmui

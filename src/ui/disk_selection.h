// Wizard step 1: choose the store file (Browse, or Search for one), then
// Convert opens the analysis page. The main window: leaving it ends the
// application.
#pragma once

#include <QDialog>

#include <string>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace bmui {

class Repair_Recover;
class Settings;
class TopButtons;
class WizardContext;
class WizardMenu;

class DiskSelection : public QDialog {
    Q_OBJECT
public:
    explicit DiskSelection(WizardContext& context, QWidget* parent = nullptr);

    QLineEdit* pathEdit() const { return pathEdit_; }
    QPushButton* browseButton() const { return browse_; }
    QPushButton* searchButton() const { return search_; }
    QPushButton* convertButton() const { return convert_; }
    QCheckBox* deepScanBox() const { return deepScan_; }
    QCheckBox* recoverDeletedBox() const { return recoverDeleted_; }
    TopButtons* topButtons() const { return top_; }
    WizardMenu* menu() const { return menu_; }

    void Browse();
    // Takes `path` as the store file (shown and logged as it is named).
    void ChooseSource(const QString& path);
    void Convert();
    void Search();
    // The exit rule: one question at a time; Yes ends the application.
    void ExitRequested();

signals:
    // A page opened by this step, before it runs (tests drive it from here).
    void analysisPageOpened(bmui::Repair_Recover* page);
    void searchPageOpened(bmui::Settings* page);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void SetButtonsEnabled(bool enabled);
    void LogSource();

    WizardContext& context_;
    WizardMenu* menu_ = nullptr;
    TopButtons* top_ = nullptr;
    QLineEdit* pathEdit_ = nullptr;  // 1020
    QPushButton* browse_ = nullptr;  // 1077
    QPushButton* search_ = nullptr;  // 1078
    QPushButton* convert_ = nullptr; // 1076
    QCheckBox* deepScan_ = nullptr;
    QCheckBox* recoverDeleted_ = nullptr;
    bool questionOpen_ = false;
    std::string loggedSource_;
};

// Runs a page modally over `below`, hiding `below` meanwhile; shows it again
// unless the application is ending.
void RunPageOver(QDialog& below, QDialog& page, const WizardContext& context);

// Whether the store path passes Convert's test (it ends in "OST").
bool EndsInOst(const std::string& upperPath);

}  // namespace bmui

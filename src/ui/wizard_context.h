// What every page of the wizard shares: the settings, the application
// directory, the activity log, the desktop services, and the run state that
// step 1 and the search page hand to the analysis page.
#pragma once

#include <QString>

#include <filesystem>
#include <string>
#include <string_view>

#include "engine/activity_log.h"
#include "engine/settings.h"

class QWidget;

namespace bmui {

class UiServices;

class WizardContext {
public:
    WizardContext(const std::filesystem::path& settingsFile, UiServices& services);
    WizardContext(const WizardContext&) = delete;
    WizardContext& operator=(const WizardContext&) = delete;

    bm::Settings& settings() { return settings_; }
    const std::filesystem::path& appDir() const { return appDir_; }
    const bm::ActivityLog& log() const { return log_; }
    UiServices& services() { return services_; }

    // A file of the application directory.
    std::filesystem::path AppFile(std::string_view name) const;
    QString AppFileText(std::string_view name) const;

    // Log menu, "View Report" and help.
    void ViewLog();
    void ClearLog(QWidget* parent);
    void ViewReport();
    // Whether "RPTFile" names an existing file ("View Report" is enabled).
    bool ReportAvailable() const;
    void ShowHelp();
    // Opens a local file with the desktop's program for it, or says that
    // none could be started.
    void OpenFile(const QString& path);

    // Ends the application; the pages stop their runs before they call it.
    void RequestExit();
    bool exitRequested() const { return exitRequested_; }

    // Store path chosen on step 1 and on the search page (as the file is
    // named; the pages show it upper-cased), and
    // where the analysis page was opened from (0 step 1, 1 search page).
    std::string sourcePath;
    std::string searchedSourcePath;
    int sourceKind = 0;
    // Step 1's "Deep scan" box: the runs scan the whole file for lost items
    // even when the store's index looks sound.
    bool deepScan = false;
    // Step 1's "Recover deleted items" box: the runs also bring back the
    // deleted items the file still holds, into "Recovered Items\Deleted".
    bool recoverDeleted = false;

private:
    bm::Settings settings_;
    std::filesystem::path appDir_;
    bm::ActivityLog log_;
    UiServices& services_;
    bool exitRequested_ = false;
};

// "EnglishA.dat", "FrenchA.dat", "DutchA.dat" or "GermanA.dat" when the
// value is one of them (without regard to case), else "EnglishA.dat".
std::string SettleLanguageFile(std::string_view value);

}  // namespace bmui

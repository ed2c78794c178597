#include "ui/wizard_context.h"

#include <QString>

#include <array>
#include <system_error>

#include "engine/log_texts.h"
#include "engine/shipped_pages.h"
#include "ui/ui_services.h"
#include "ui/ui_texts.h"

namespace bmui {

namespace fs = std::filesystem;

WizardContext::WizardContext(const fs::path& settingsFile, UiServices& services)
    : settings_(settingsFile), appDir_(bm::ResolveAppDir(settings_)), log_(settings_, appDir_), services_(services) {}

fs::path WizardContext::AppFile(std::string_view name) const { return appDir_ / fs::path(std::string(name)); }

QString WizardContext::AppFileText(std::string_view name) const {
    return QString::fromStdString(AppFile(name).string());
}

void WizardContext::OpenFile(const QString& path) {
    if (!services_.OpenLocalFile(path)) services_.Show(nullptr, BoxKind::Warning, Text(kNoOpener).arg(path));
}

void WizardContext::ViewLog() { OpenFile(QString::fromStdString(log_.PathOf(bm::LogChannel::ActivityLog).string())); }

void WizardContext::ClearLog(QWidget* parent) {
    if (services_.Ask(parent, Text(bm::kClearLogQuestion))) log_.ClearActivityLog();
}

void WizardContext::ViewReport() { OpenFile(QString::fromStdString(settings_.Value(bm::kSettingReportFile))); }

bool WizardContext::ReportAvailable() const {
    const std::string report = settings_.Value(bm::kSettingReportFile);
    std::error_code ec;
    return !report.empty() && fs::is_regular_file(report, ec);
}

void WizardContext::ShowHelp() { OpenFile(AppFileText(bm::kHelpPage)); }

void WizardContext::RequestExit() {
    exitRequested_ = true;
    services_.RequestExit();
}

std::string SettleLanguageFile(std::string_view value) {
    static constexpr std::array<std::string_view, 4> kKnown = {"EnglishA.dat", "FrenchA.dat", "DutchA.dat",
                                                               "GermanA.dat"};
    const QString given = Text(value);
    for (std::string_view known : kKnown)
        if (given.compare(Text(known), Qt::CaseInsensitive) == 0) return std::string(known);
    return std::string(kKnown[0]);
}

}  // namespace bmui

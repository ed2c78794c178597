#include "ui/tarnwick_app.h"

#include <dlfcn.h>

#include <QGuiApplication>

#include <cstdio>
#include <ctime>

#include "engine/shipped_pages.h"
#include "ui/disk_selection.h"
#include "ui/modal_run.h"
#include "ui/shipped_page_set.h"
#include "ui/termination_watcher.h"
#include "ui/ui_services.h"
#include "ui/ui_texts.h"

namespace bmui {

LoadedLibrary::LoadedLibrary(const std::string& name) : handle_(dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) {
        const char* why = dlerror();
        error_ = why != nullptr ? why : name + ": cannot be loaded";
    }
}

LoadedLibrary::~LoadedLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
}

CTarnwickApp::CTarnwickApp(UiServices& services, std::filesystem::path settingsFile, std::string siblingLibrary)
    : context_(settingsFile.empty() ? bm::Settings::DefaultFilePath() : settingsFile, services),
      siblingLibrary_(std::move(siblingLibrary)) {}

int CTarnwickApp::InitInstance() {
    const ShippedPageSet pages;
    bm::PrepareAppDir(context_.appDir(), pages.pages());
    languageFile_ = SettleLanguageFile(context_.settings().Value(bm::kSettingLanguageFile));

    // Without its sibling library the wizard does not start; it says why
    // instead of ending without a word, and still ends with code 0.
    const LoadedLibrary sibling(siblingLibrary_);
    if (!sibling.loaded()) {
        const QString why = Text(kSiblingLibraryMissing).arg(QString::fromStdString(sibling.error()));
        std::fprintf(stderr, "brightmend: %s\n", why.toLocal8Bit().constData());
        context_.services().Show(nullptr, BoxKind::Stop, why);
        return 0;
    }

    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    context_.log().WriteStartBanner(local);

    // Asked to end from outside, the pages stop their runs on the way out.
    const TerminationWatcher watcher;
    // The pages hide the step below them while they run: the moment between
    // a page closing and step 1 showing again has no visible window, and
    // that must not end the application. It ends when step 1 closes.
    const bool quitOnLastWindow = QGuiApplication::quitOnLastWindowClosed();
    QGuiApplication::setQuitOnLastWindowClosed(false);
    DiskSelection step1(context_);
    if (!initialSource_.isEmpty()) step1.ChooseSource(initialSource_);
    RunModal(step1);
    QGuiApplication::setQuitOnLastWindowClosed(quitOnLastWindow);
    return 0;
}

}  // namespace bmui

// The application object: settings, the application directory with its
// pages, the sibling library, the start banner, and wizard step 1 as the
// main window. The application ends when step 1 closes.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include <QString>

#include "ui/wizard_context.h"

namespace bmui {

class UiServices;

inline constexpr const char* kVestrelLibrary = "libvestrel.so";

// A library loaded with dlopen, closed when this goes.
class LoadedLibrary {
public:
    explicit LoadedLibrary(const std::string& name);
    ~LoadedLibrary();
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;
    bool loaded() const { return handle_ != nullptr; }
    // The loader's reason when it failed.
    const std::string& error() const { return error_; }

private:
    void* handle_ = nullptr;
    std::string error_;
};

class CTarnwickApp {
public:
    // `settingsFile` empty: the file the environment names.
    CTarnwickApp(UiServices& services, std::filesystem::path settingsFile = {},
                 std::string siblingLibrary = kVestrelLibrary);

    // Start-up and step 1; returns the exit code (0 also when the sibling
    // library is missing: the application then says so and ends at once).
    int InitInstance();

    // A store named on the command line: step 1 opens with it chosen.
    void SetInitialSource(const QString& path) { initialSource_ = path; }

    WizardContext& context() { return context_; }
    const std::string& languageFile() const { return languageFile_; }

private:
    WizardContext context_;
    std::string siblingLibrary_;
    std::string languageFile_;
    QString initialSource_;
};

}  // namespace bmui

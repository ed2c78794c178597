#include "ui/icons.h"

#include <QString>

#include <array>

#include "ui/shipped_page_set.h"

namespace bmui {

namespace {

QIcon Load(const char* name) {
    InitUiResources();
    // Each image comes at 32x32 and drawn again at 64x64 for screens that
    // scale by two.
    const QString base = QStringLiteral(":/icons/") + QLatin1String(name);
    QIcon icon;
    icon.addFile(base + QStringLiteral(".png"), QSize(32, 32));
    icon.addFile(base + QStringLiteral("@2x.png"), QSize(64, 64));
    return icon;
}

constexpr std::array<const char*, kTreeIconCount> kTreeFiles = {
    "folder", "folder-open", "store",  "calendar", "contact", "deleted", "drafts", "inbox",
    "journal", "junk",       "note",   "outbox",   "sent",    "task",    "sync",
};

constexpr std::array<const char*, kListIconCount> kListFiles = {
    "calendar", "contact", "folder", "inbox", "outbox",  "journal", "sent",  "note",  "drafts",
    "deleted",  "task",    "junk",   "sync",  "mail",    "store",   "folder", "folder",
};

}  // namespace

QIcon TreeIconImage(int index) {
    if (index < 0 || index >= kTreeIconCount) return {};
    return Load(kTreeFiles[static_cast<std::size_t>(index)]);
}

QIcon ListIconImage(int index) {
    if (index < 0 || index >= kListIconCount) return {};
    return Load(kListFiles[static_cast<std::size_t>(index)]);
}

QIcon AppIcon() { return Load("brightmend"); }
QIcon ReportButtonIcon() { return Load("report"); }
QIcon HelpButtonIcon() { return Load("help"); }
QIcon ExitButtonIcon() { return Load("exit"); }

}  // namespace bmui

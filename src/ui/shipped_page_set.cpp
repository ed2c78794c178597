#include "ui/shipped_page_set.h"

#include <QFile>
#include <QString>

#include <array>
#include <string_view>

static void InitBrightmendResources() { Q_INIT_RESOURCE(brightmend); }

namespace bmui {

void InitUiResources() { InitBrightmendResources(); }

ShippedPageSet::ShippedPageSet() {
    InitUiResources();
    static constexpr std::array<std::string_view, 6> kNames = {bm::kProgressPage, bm::kCompletedPage,
                                                               bm::kAbortPage,    bm::kPreviewPage,
                                                               bm::kMessagePreviewPage, bm::kHelpPage};
    contents_.reserve(kNames.size());
    for (std::string_view name : kNames) {
        QFile file(QStringLiteral(":/pages/") + QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
        if (!file.open(QIODevice::ReadOnly)) continue;
        contents_.push_back(file.readAll().toStdString());
        pages_.push_back(bm::ShippedPage{name, contents_.back()});
    }
}

}  // namespace bmui

#include "ui/step_picture.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>

#include "ui/icons.h"
#include "ui/ui_texts.h"

namespace bmui {

QWidget* MakeStepPicture(QWidget* parent, const std::filesystem::path& bitmap, int step) {
    const QPixmap picture(QString::fromStdString(bitmap.string()));
    if (!picture.isNull()) {
        auto* label = new QLabel(parent);
        label->setPixmap(picture);
        return label;
    }
    static constexpr const char* kSteps[] = {"Select the store file", "Analyse and preview", "Save"};
    auto* banner = new QWidget(parent);
    auto* layout = new QHBoxLayout(banner);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* icon = new QLabel(banner);
    icon->setPixmap(AppIcon().pixmap(40, 40));
    layout->addWidget(icon);
    QString text = QStringLiteral("<span style='font-size:15pt;color:#3b7dd8'>%1</span><br>").arg(Text(kCaption));
    for (int i = 0; i < 3; ++i) {
        const QString part = QStringLiteral("%1. %2").arg(i + 1).arg(QLatin1String(kSteps[i]));
        text += (i + 1 == step ? QStringLiteral("<b>%1</b>").arg(part) : part);
        if (i < 2) text += QStringLiteral(" &nbsp;&rsaquo;&nbsp; ");
    }
    auto* label = new QLabel(text, banner);
    layout->addWidget(label, 1);
    return banner;
}

}  // namespace bmui

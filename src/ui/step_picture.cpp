#include "ui/step_picture.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>

#include "ui/icons.h"
#include "ui/ui_texts.h"

namespace bmui {

StepPicture::StepPicture(QWidget* parent, const std::filesystem::path& bitmap, int step) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    const QPixmap picture(QString::fromStdString(bitmap.string()));
    if (!picture.isNull()) {
        auto* label = new QLabel(this);
        label->setPixmap(picture);
        layout->addWidget(label);
        step_ = step;
        return;
    }
    auto* icon = new QLabel(this);
    icon->setPixmap(AppIcon().pixmap(40, 40));
    layout->addWidget(icon);
    banner_ = new QLabel(this);
    layout->addWidget(banner_, 1);
    SetStep(step);
}

void StepPicture::SetStep(int step) {
    step_ = step;
    if (banner_ == nullptr) return;
    static constexpr const char* kSteps[] = {"Select the store file", "Analyse and preview", "Save"};
    QString text = QStringLiteral("<span style='font-size:15pt;color:#3b7dd8'>%1</span><br>").arg(Text(kCaption));
    for (int i = 0; i < 3; ++i) {
        const QString part = QStringLiteral("%1. %2").arg(i + 1).arg(QLatin1String(kSteps[i]));
        text += (i + 1 == step ? QStringLiteral("<b>%1</b>").arg(part) : part);
        if (i < 2) text += QStringLiteral(" &nbsp;&rsaquo;&nbsp; ");
    }
    banner_->setText(text);
}

QString StepPicture::bannerText() const { return banner_ != nullptr ? banner_->text() : QString(); }

StepPicture* MakeStepPicture(QWidget* parent, const std::filesystem::path& bitmap, int step) {
    return new StepPicture(parent, bitmap, step);
}

}  // namespace bmui

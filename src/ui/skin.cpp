#include "ui/skin.h"

#include <QPalette>
#include <QPixmap>
#include <QWidget>

namespace bmui {

bool IsKeyColour(QRgb pixel) { return qRed(pixel) <= 17 && qBlue(pixel) <= 17 && qGreen(pixel) >= 238; }

QBitmap SkinMask(const QImage& skin) {
    QImage mask(skin.size(), QImage::Format_MonoLSB);
    mask.setColor(0, qRgb(255, 255, 255));  // bit 0: cut out
    mask.setColor(1, qRgb(0, 0, 0));        // bit 1: kept
    for (int y = 0; y < skin.height(); ++y)
        for (int x = 0; x < skin.width(); ++x) mask.setPixel(x, y, IsKeyColour(skin.pixel(x, y)) ? 0 : 1);
    return QBitmap::fromImage(mask);
}

bool ApplySkin(QWidget& window, const std::filesystem::path& bitmap) {
    const QImage skin(QString::fromStdString(bitmap.string()));
    if (skin.isNull()) return false;
    QPalette palette = window.palette();
    palette.setBrush(QPalette::Window, QBrush(QPixmap::fromImage(skin)));
    window.setPalette(palette);
    window.setAutoFillBackground(true);
    window.setMask(SkinMask(skin));
    return true;
}

}  // namespace bmui

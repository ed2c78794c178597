// Draws the wizard's icon set into PNG files (32x32, transparent), and each
// again at twice the scale (<name>@2x.png, 64x64) for high-density screens.
//
//   brightmend_draw_icons <output directory>
//
// The PNGs in this folder were made with it; it is built on request only
// (target brightmend_draw_icons). One palette and one outline width keep
// the set coherent.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>
#include <functional>
#include <vector>

namespace {

const QColor kOutline(0x2b, 0x3a, 0x4a);
const QColor kFolder(0xf2, 0xc1, 0x4e);
const QColor kFolderDark(0xd9, 0x9e, 0x2b);
const QColor kBlue(0x3b, 0x7d, 0xd8);
const QColor kPaper(0xfb, 0xfb, 0xf7);
const QColor kGreen(0x3f, 0xa3, 0x5b);
const QColor kRed(0xd6, 0x45, 0x3d);
const QColor kGray(0x9a, 0xa5, 0xb1);

QPen Outline() { return QPen(kOutline, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin); }

void Folder(QPainter& p, bool open) {
    p.setPen(Outline());
    p.setBrush(kFolderDark);
    QPainterPath back;
    back.moveTo(3, 8);
    back.lineTo(12, 8);
    back.lineTo(14, 11);
    back.lineTo(29, 11);
    back.lineTo(29, 26);
    back.lineTo(3, 26);
    back.closeSubpath();
    p.drawPath(back);
    p.setBrush(kFolder);
    if (open) {
        p.drawPolygon(QPolygonF({QPointF(6, 15), QPointF(31, 15), QPointF(27, 26), QPointF(3, 26)}));
    } else {
        p.drawRect(QRectF(3, 13, 26, 13));
    }
}

void Envelope(QPainter& p, QRectF r) {
    p.setPen(Outline());
    p.setBrush(kPaper);
    p.drawRect(r);
    p.drawPolyline(QPolygonF({r.topLeft(), QPointF(r.center().x(), r.center().y() + 1), r.topRight()}));
}

void Store(QPainter& p) {
    p.setPen(Outline());
    p.setBrush(kBlue);
    p.drawRect(QRectF(6, 8, 20, 17));
    p.drawEllipse(QRectF(6, 20, 20, 8));
    p.setBrush(kBlue.lighter(140));
    p.drawEllipse(QRectF(6, 4, 20, 8));
}

void Calendar(QPainter& p) {
    p.setPen(Outline());
    p.setBrush(kPaper);
    p.drawRoundedRect(QRectF(4, 6, 24, 22), 2, 2);
    p.setBrush(kRed);
    p.drawRect(QRectF(4, 6, 24, 6));
    p.setPen(Qt::NoPen);
    p.setBrush(kOutline);
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 4; ++col) p.drawRect(QRectF(7 + col * 5.5, 15 + row * 4, 3, 2.5));
}

void Person(QPainter& p) {
    p.setPen(Outline());
    p.setBrush(kBlue);
    p.drawEllipse(QRectF(11, 4, 10, 10));
    QPainterPath body;
    body.moveTo(5, 28);
    body.cubicTo(5, 17, 27, 17, 27, 28);
    body.closeSubpath();
    p.drawPath(body);
}

void Trash(QPainter& p) {
    p.setPen(Outline());
    p.setBrush(kGray);
    p.drawPolygon(QPolygonF({QPointF(8, 10), QPointF(24, 10), QPointF(22, 28), QPointF(10, 28)}));
    p.drawRect(QRectF(6, 7, 20, 3));
    p.drawRect(QRectF(13, 4, 6, 3));
    p.drawLine(QPointF(13, 13), QPointF(13.5, 25));
    p.drawLine(QPointF(19, 13), QPointF(18.5, 25));
}

void Pencil(QPainter& p) {
    Envelope(p, QRectF(3, 8, 22, 16));
    p.setPen(Outline());
    p.setBrush(kFolder);
    p.drawPolygon(QPolygonF({QPointF(27, 9), QPointF(30, 12), QPointF(18, 24), QPointF(14, 25), QPointF(15, 21)}));
}

void Tray(QPainter& p, const QColor& arrow, bool up) {
    p.setPen(Outline());
    p.setBrush(kPaper);
    p.drawPolygon(QPolygonF({QPointF(3, 18), QPointF(9, 18), QPointF(12, 22), QPointF(20, 22), QPointF(23, 18),
                             QPointF(29, 18), QPointF(29, 28), QPointF(3, 28)}));
    p.setBrush(arrow);
    if (up) {
        p.drawPolygon(QPolygonF({QPointF(16, 3), QPointF(23, 10), QPointF(19, 10), QPointF(19, 17), QPointF(13, 17),
                                 QPointF(13, 10), QPointF(9, 10)}));
    } else {
        p.drawPolygon(QPolygonF({QPointF(16, 19), QPointF(23, 12), QPointF(19, 12), QPointF(19, 4), QPointF(13, 4),
                                 QPointF(13, 12), QPointF(9, 12)}));
    }
}

void Book(QPainter& p) {
    p.setPen(Outline());
    p.setBrush(kGreen);
    p.drawRoundedRect(QRectF(6, 4, 20, 24), 2, 2);
    p.setBrush(kPaper);
    p.drawRect(QRectF(11, 8, 11, 6));
    p.drawLine(QPointF(9, 4), QPointF(9, 28));
}

void Junk(QPainter& p) {
    Envelope(p, QRectF(3, 6, 20, 14));
    p.setPen(QPen(kRed, 2.4));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(15, 15, 13, 13));
    p.drawLine(QPointF(17, 26), QPointF(26, 17));
}

void Note(QPainter& p) {
    p.setPen(Outline());
    p.setBrush(QColor(0xff, 0xe8, 0x7c));
    p.drawPolygon(QPolygonF({QPointF(5, 5), QPointF(27, 5), QPointF(27, 21), QPointF(21, 27), QPointF(5, 27)}));
    p.drawPolyline(QPolygonF({QPointF(27, 21), QPointF(21, 21), QPointF(21, 27)}));
    p.drawLine(QPointF(9, 11), QPointF(23, 11));
    p.drawLine(QPointF(9, 16), QPointF(19, 16));
}

void PaperPlane(QPainter& p) {
    p.setPen(Outline());
    p.setBrush(kBlue);
    p.drawPolygon(QPolygonF({QPointF(3, 15), QPointF(29, 4), QPointF(22, 28), QPointF(15, 19)}));
    p.setBrush(kBlue.darker(130));
    p.drawPolygon(QPolygonF({QPointF(15, 19), QPointF(29, 4), QPointF(14, 27)}));
}

void Check(QPainter& p) {
    p.setPen(Outline());
    p.setBrush(kPaper);
    p.drawRoundedRect(QRectF(4, 4, 24, 24), 3, 3);
    p.setPen(QPen(kGreen, 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(9, 16), QPointF(14, 22), QPointF(24, 9)}));
}

void Sync(QPainter& p) {
    p.setPen(QPen(kBlue, 3, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(6, 6, 20, 20), 30 * 16, 150 * 16);
    p.drawArc(QRectF(6, 6, 20, 20), 210 * 16, 150 * 16);
    p.setPen(Outline());
    p.setBrush(kBlue);
    p.drawPolygon(QPolygonF({QPointF(4, 12), QPointF(11, 12), QPointF(7, 18)}));
    p.drawPolygon(QPolygonF({QPointF(28, 20), QPointF(21, 20), QPointF(25, 14)}));
}

void Mail(QPainter& p) { Envelope(p, QRectF(3, 7, 26, 18)); }

void AppIcon(QPainter& p) {
    p.setPen(Outline());
    p.setBrush(kBlue);
    p.drawRoundedRect(QRectF(2, 2, 28, 28), 6, 6);
    Envelope(p, QRectF(7, 9, 18, 13));
    p.setPen(QPen(kGreen, 2.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(20, 26), QPointF(28, 18));
    p.drawLine(QPointF(24, 18), QPointF(28, 18));
    p.drawLine(QPointF(28, 18), QPointF(28, 22));
}

void ButtonGlyph(QPainter& p, QChar glyph, const QColor& color) {
    p.setPen(Outline());
    p.setBrush(color);
    p.drawEllipse(QRectF(3, 3, 26, 26));
    QFont font;
    font.setPixelSize(18);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(3, 3, 26, 26), Qt::AlignCenter, QString(glyph));
}

struct Icon {
    const char* name;
    std::function<void(QPainter&)> draw;
};

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: brightmend_draw_icons <output directory>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const std::vector<Icon> icons = {
        {"folder", [](QPainter& p) { Folder(p, false); }},
        {"folder-open", [](QPainter& p) { Folder(p, true); }},
        {"store", Store},
        {"calendar", Calendar},
        {"contact", Person},
        {"deleted", Trash},
        {"drafts", Pencil},
        {"inbox", [](QPainter& p) { Tray(p, kBlue, false); }},
        {"journal", Book},
        {"junk", Junk},
        {"note", Note},
        {"outbox", [](QPainter& p) { Tray(p, kGreen, true); }},
        {"sent", PaperPlane},
        {"task", Check},
        {"sync", Sync},
        {"mail", Mail},
        {"brightmend", AppIcon},
        {"report", [](QPainter& p) { ButtonGlyph(p, QLatin1Char('R'), kGreen); }},
        {"help", [](QPainter& p) { ButtonGlyph(p, QLatin1Char('?'), kBlue); }},
        {"exit", [](QPainter& p) { ButtonGlyph(p, QChar(0x00D7), kRed); }},
    };
    for (const Icon& icon : icons) {
        for (const int scale : {1, 2}) {
            QImage image(32 * scale, 32 * scale, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setRenderHint(QPainter::TextAntialiasing);
            // Drawn, not scaled up: the outlines stay sharp at 64x64.
            painter.scale(scale, scale);
            icon.draw(painter);
            painter.end();
            const QString suffix = scale == 1 ? QStringLiteral(".png") : QStringLiteral("@2x.png");
            if (!image.save(out.filePath(QString::fromLatin1(icon.name) + suffix))) return 1;
        }
    }
    return 0;
}

#include "ui/view/Artwork.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <functional>

namespace cleavix::ui::art {

namespace {

const QColor kInk(40, 44, 52);
const QColor kAccent(230, 120, 20);
const QColor kBlue(30, 90, 170);
const QColor kRed(200, 40, 40);
const QColor kGreen(40, 150, 60);

QImage canvas(int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// A small padlock: shackle and body.
void drawLock(QPainter& p, QRectF r, const QColor& body, bool open) {
    const qreal w = r.width();
    const qreal h = r.height();
    QPen pen(kInk, w * 0.12);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const QRectF shackle(r.left() + w * 0.25, r.top(), w * 0.5, h * 0.6);
    if (open) {
        p.drawArc(shackle.translated(w * 0.2, -h * 0.1), 0, 180 * 16);
    } else {
        p.drawArc(shackle, 0, 180 * 16);
        p.drawLine(QPointF(shackle.left(), shackle.center().y()), QPointF(shackle.left(), r.top() + h * 0.5));
        p.drawLine(QPointF(shackle.right(), shackle.center().y()), QPointF(shackle.right(), r.top() + h * 0.5));
    }
    p.setBrush(body);
    p.setPen(QPen(kInk, w * 0.08));
    p.drawRoundedRect(QRectF(r.left() + w * 0.12, r.top() + h * 0.45, w * 0.76, h * 0.55), w * 0.1, w * 0.1);
}

// A little waveform blip, the sign of a slice.
void drawBlip(QPainter& p, QRectF r, const QColor& colour) {
    QPainterPath path;
    const qreal mid = r.center().y();
    path.moveTo(r.left(), mid);
    const int steps = 8;
    for (int i = 1; i <= steps; ++i) {
        const qreal x = r.left() + r.width() * i / steps;
        const qreal amp = r.height() * 0.5 * (1.0 - qreal(i) / steps) * ((i % 2) ? -1 : 1);
        path.lineTo(x, mid + amp);
    }
    p.setPen(QPen(colour, std::max<qreal>(1.0, r.width() / 10)));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
}

QPixmap arrowCursor(const std::function<void(QPainter&)>& badge) {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath arrow;
    arrow.moveTo(1, 1);
    arrow.lineTo(1, 17);
    arrow.lineTo(5, 13);
    arrow.lineTo(8, 19);
    arrow.lineTo(10, 18);
    arrow.lineTo(7, 12);
    arrow.lineTo(12, 12);
    arrow.closeSubpath();
    p.setPen(QPen(Qt::white, 1.2));
    p.setBrush(Qt::black);
    p.drawPath(arrow);
    p.translate(13, 13);
    badge(p);
    return pm;
}

} // namespace

QImage sampleIcon() {
    QImage image = canvas(9, 9);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(250, 220, 60));
    QPainterPath flag;
    flag.moveTo(0.5, 0.5);
    flag.lineTo(8.5, 4.5);
    flag.lineTo(0.5, 8.5);
    flag.closeSubpath();
    p.drawPath(flag);
    return image;
}

QImage lockIcon() {
    QImage image = canvas(9, 11);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawLock(p, QRectF(0.5, 0.5, 8, 10), QColor(250, 200, 40), false);
    return image;
}

QImage disabledIcon() {
    QImage image = canvas(9, 9);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.setBrush(QColor(200, 200, 200));
    p.drawEllipse(QRectF(0.5, 0.5, 8, 8));
    p.setPen(QPen(kRed, 1.6));
    p.drawLine(QPointF(2.2, 2.2), QPointF(6.8, 6.8));
    p.drawLine(QPointF(6.8, 2.2), QPointF(2.2, 6.8));
    return image;
}

QCursor toolCursor(int number) {
    std::function<void(QPainter&)> badge;
    switch (number) {
    case 1: // add: a plus beside a cut line
        badge = [](QPainter& p) {
            p.setPen(QPen(kRed, 2));
            p.drawLine(QPointF(3, 0), QPointF(3, 16));
            p.setPen(QPen(kInk, 2));
            p.drawLine(QPointF(8, 8), QPointF(16, 8));
            p.drawLine(QPointF(12, 4), QPointF(12, 12));
        };
        break;
    case 2: // enable/disable: a half-filled circle
    case 9:
        badge = [number](QPainter& p) {
            p.setPen(QPen(kInk, 1.5));
            p.setBrush(number == 9 ? kGreen : Qt::white);
            p.drawEllipse(QRectF(2, 2, 12, 12));
            p.setBrush(kInk);
            p.drawPie(QRectF(2, 2, 12, 12), 90 * 16, 180 * 16);
        };
        break;
    case 3: // lock/unlock
    case 8:
        badge = [number](QPainter& p) { drawLock(p, QRectF(2, 0, 12, 16), number == 8 ? kGreen : QColor(250, 200, 40), false); };
        break;
    case 4: // zoom: magnifier
        badge = [](QPainter& p) {
            p.setPen(QPen(kInk, 2));
            p.setBrush(QColor(220, 235, 255));
            p.drawEllipse(QRectF(1, 1, 11, 11));
            p.drawLine(QPointF(10, 10), QPointF(17, 17));
        };
        break;
    case 5: // silence/reverse: a wave with a return arrow
        badge = [](QPainter& p) {
            drawBlip(p, QRectF(0, 2, 16, 10), kBlue);
            p.setPen(QPen(kInk, 1.5));
            p.drawLine(QPointF(2, 15), QPointF(15, 15));
            p.drawLine(QPointF(2, 15), QPointF(6, 12));
        };
        break;
    case 6: // copy/paste: two sheets
        badge = [](QPainter& p) {
            p.setPen(QPen(kInk, 1.2));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(1, 1, 9, 11));
            p.drawRect(QRectF(6, 5, 9, 11));
        };
        break;
    case 7: // save segment: a disk
        badge = [](QPainter& p) {
            p.setPen(QPen(kInk, 1.2));
            p.setBrush(kBlue);
            p.drawRect(QRectF(1, 1, 14, 14));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(4, 1, 8, 5));
        };
        break;
    default:
        return QCursor(Qt::ArrowCursor);
    }
    return QCursor(arrowCursor(badge), 1, 1);
}

QIcon toolIcon(int number) {
    if (number < 1 || number > 9) {
        return QIcon(arrowCursor([](QPainter&) {}));
    }
    return QIcon(toolCursor(number).pixmap());
}

QIcon glyph(Glyph which) {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QPen ink(kInk, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(ink);
    auto magnifier = [&](const char* sign) {
        p.setBrush(QColor(225, 238, 255));
        p.drawEllipse(QRectF(4, 4, 18, 18));
        p.setPen(QPen(kInk, 4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(20, 20), QPointF(28, 28));
        p.setPen(QPen(kInk, 2.4, Qt::SolidLine, Qt::RoundCap));
        const QString s(sign);
        if (s == "+" || s == "-") {
            p.drawLine(QPointF(8.5, 13), QPointF(17.5, 13));
        }
        if (s == "+") {
            p.drawLine(QPointF(13, 8.5), QPointF(13, 17.5));
        }
        if (s == "1") {
            QFont f = p.font();
            f.setPixelSize(10);
            f.setBold(true);
            p.setFont(f);
            p.drawText(QRectF(4, 4, 18, 18), Qt::AlignCenter, "1:1");
        }
        if (s == "[]") {
            p.drawLine(QPointF(9, 9), QPointF(9, 17));
            p.drawLine(QPointF(17, 9), QPointF(17, 17));
        }
    };
    switch (which) {
    case Glyph::Open: {
        p.setBrush(QColor(245, 200, 90));
        QPainterPath folder;
        folder.moveTo(3, 9);
        folder.lineTo(12, 9);
        folder.lineTo(14, 12);
        folder.lineTo(29, 12);
        folder.lineTo(29, 27);
        folder.lineTo(3, 27);
        folder.closeSubpath();
        p.drawPath(folder);
        break;
    }
    case Glyph::Save:
    case Glyph::SaveSegments:
        p.setBrush(kBlue);
        p.drawRoundedRect(QRectF(4, 4, 24, 24), 2, 2);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(9, 4, 14, 9));
        p.drawRect(QRectF(8, 18, 16, 10));
        if (which == Glyph::SaveSegments) {
            p.setPen(QPen(kRed, 2));
            p.drawLine(QPointF(13, 19), QPointF(13, 27));
            p.drawLine(QPointF(19, 19), QPointF(19, 27));
        }
        break;
    case Glyph::Play:
    case Glyph::PlayAll: {
        p.setBrush(kGreen);
        QPainterPath tri;
        tri.moveTo(9, 5);
        tri.lineTo(26, 16);
        tri.lineTo(9, 27);
        tri.closeSubpath();
        p.drawPath(tri);
        break;
    }
    case Glyph::Stop:
        p.setBrush(kInk);
        p.drawRect(QRectF(8, 8, 16, 16));
        break;
    case Glyph::Loop: {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(kGreen, 3, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(QRectF(5, 6, 22, 20), 30 * 16, 300 * 16);
        p.setBrush(kGreen);
        p.setPen(Qt::NoPen);
        QPainterPath head;
        head.moveTo(27, 4);
        head.lineTo(27, 14);
        head.lineTo(19, 10);
        head.closeSubpath();
        p.drawPath(head);
        break;
    }
    case Glyph::Selected: {
        p.setBrush(QColor(0, 100, 190, 60));
        p.setPen(Qt::NoPen);
        p.drawRect(QRectF(4, 4, 24, 24));
        p.setPen(QPen(kRed, 2));
        p.drawLine(QPointF(4, 4), QPointF(4, 28));
        p.drawLine(QPointF(28, 4), QPointF(28, 28));
        p.setBrush(kGreen);
        p.setPen(ink);
        QPainterPath tri;
        tri.moveTo(11, 9);
        tri.lineTo(22, 16);
        tri.lineTo(11, 23);
        tri.closeSubpath();
        p.drawPath(tri);
        break;
    }
    case Glyph::ZoomIn:
        magnifier("+");
        break;
    case Glyph::ZoomOut:
        magnifier("-");
        break;
    case Glyph::Zoom11:
        magnifier("1");
        break;
    case Glyph::ZoomSegment:
        magnifier("[]");
        break;
    case Glyph::ShowSampleIcons:
        p.drawImage(QRectF(6, 6, 20, 20), sampleIcon());
        break;
    case Glyph::ShowLockIcons:
        drawLock(p, QRectF(7, 3, 18, 26), QColor(250, 200, 40), false);
        break;
    case Glyph::ShowDisabledIcons:
        p.drawImage(QRectF(6, 6, 20, 20), disabledIcon());
        break;
    case Glyph::ControlPanel:
        p.setBrush(QColor(200, 205, 215));
        for (int i = 0; i < 3; ++i) {
            const qreal x = 8 + i * 8;
            p.drawLine(QPointF(x, 5), QPointF(x, 27));
            p.drawRect(QRectF(x - 3, 8 + ((i * 7) % 14), 6, 5));
        }
        break;
    case Glyph::LockAll:
        drawLock(p, QRectF(7, 3, 18, 26), QColor(250, 200, 40), false);
        break;
    case Glyph::UnlockAll:
        drawLock(p, QRectF(7, 3, 18, 26), QColor(210, 210, 210), true);
        break;
    case Glyph::Help: {
        p.setBrush(kBlue);
        p.drawEllipse(QRectF(4, 4, 24, 24));
        QFont f = p.font();
        f.setPixelSize(18);
        f.setBold(true);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRectF(4, 4, 24, 24), Qt::AlignCenter, "?");
        break;
    }
    }
    return QIcon(pm);
}

QIcon applicationIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 64.0, size / 64.0);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 64, 128));
        p.drawRoundedRect(QRectF(2, 2, 60, 60), 10, 10);
        // A waveform cut by two slice lines.
        QPainterPath wave;
        wave.moveTo(8, 32);
        const int peaks[] = {22, 10, 18, 6, 14, 4, 20, 8, 12, 5, 16, 7};
        for (int i = 0; i < 12; ++i) {
            const qreal x = 8 + (i + 0.5) * 4;
            wave.lineTo(x, 32 + ((i % 2) ? peaks[i] : -peaks[i]));
        }
        wave.lineTo(56, 32);
        p.setPen(QPen(kAccent, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(wave);
        p.setPen(QPen(QColor(255, 60, 60), 3));
        p.drawLine(QPointF(22, 8), QPointF(22, 56));
        p.drawLine(QPointF(40, 8), QPointF(40, 56));
        icon.addPixmap(pm);
    }
    return icon;
}

} // namespace cleavix::ui::art

#include "artwork.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>

namespace artwork {

namespace {

QFont sans(int pixelSize, bool bold) {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

} // namespace

void drawLogo(QPainter &painter, qreal x, qreal y, qreal size, bool faint) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(x + size / 2, y + size / 2);
    const QColor outer = faint ? QColor(kWatermark) : QColor(0x1C, 0x2F, 0x8C);
    const QColor middle = faint ? QColor(kWatermark) : QColor(0x2E, 0x7D, 0xC9);
    const QColor inner = faint ? QColor(kWatermark) : QColor(0x12, 0x1A, 0x4A);
    // Outer ring, a lighter ring, the pupil and a highlight: a camera lens.
    painter.setPen(Qt::NoPen);
    painter.setBrush(outer);
    painter.drawEllipse(centre, size * 0.48, size * 0.48);
    painter.setBrush(faint ? QColor(Qt::white) : QColor(Qt::white));
    painter.drawEllipse(centre, size * 0.38, size * 0.38);
    painter.setBrush(middle);
    painter.drawEllipse(centre, size * 0.31, size * 0.31);
    painter.setBrush(inner);
    painter.drawEllipse(centre, size * 0.17, size * 0.17);
    if (!faint) {
        painter.setBrush(QColor(255, 255, 255, 220));
        painter.drawEllipse(QPointF(centre.x() - size * 0.07, centre.y() - size * 0.07),
                            size * 0.05, size * 0.05);
    }
    painter.restore();
}

QImage background() {
    QImage image(640, 580, QImage::Format_RGB888);
    image.fill(QColor(kSurround));
    QPainter painter(&image);

    // Work panel, framed above and below by light grey bands.
    painter.fillRect(QRect(QPoint(5, 55), QPoint(634, 61)), QColor(kBand));
    painter.fillRect(QRect(QPoint(5, 514), QPoint(634, 520)), QColor(kBand));
    painter.fillRect(QRect(QPoint(5, 62), QPoint(634, 513)), Qt::white);
    // Faint watermark: the logo, large, towards the panel's lower right.
    painter.setClipRect(QRect(QPoint(5, 62), QPoint(634, 513)));
    drawLogo(painter, 380, 230, 300, true);
    painter.setClipping(false);

    // Logo tab at the top left.
    painter.fillRect(QRect(QPoint(5, 0), QPoint(191, 54)), Qt::white);
    drawLogo(painter, 12, 6, 42, false);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(QColor(0x1C, 0x2F, 0x8C));
    painter.setFont(sans(20, true));
    painter.drawText(QRect(60, 8, 130, 26), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("VELTRONA"));
    painter.setPen(QColor(0x55, 0x55, 0x55));
    painter.setFont(sans(10, false));
    painter.drawText(QRect(61, 33, 130, 14), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("network video devices"));

    // Title on the dark band.
    painter.setPen(Qt::white);
    painter.setFont(sans(15, true));
    painter.drawText(QRect(316, 30, 157, 17), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Veltrona Utility"));
    painter.end();
    return image;
}

QImage titleButton(Glyph glyph, bool pressed) {
    QImage image(21, 21, QImage::Format_RGB32);
    image.fill(QColor(kButtonFace));
    QPainter painter(&image);
    const QColor rest = glyph == Glyph::Close ? QColor(kGlyphBlack) : QColor(kGlyphDark);
    const QColor colour = pressed ? QColor(kGlyphRed) : rest;
    switch (glyph) {
    case Glyph::Minimise:
        // A bar near the bottom of the part the window shows (20 rows).
        painter.fillRect(QRect(5, 13, 11, 3), colour);
        break;
    case Glyph::Info:
        painter.fillRect(QRect(9, 4, 3, 3), colour);
        painter.fillRect(QRect(9, 8, 3, 8), colour);
        painter.fillRect(QRect(8, 8, 1, 1), colour);
        painter.fillRect(QRect(8, 15, 5, 1), colour);
        break;
    case Glyph::Close: {
        painter.setRenderHint(QPainter::Antialiasing, false);
        QPen pen(colour, 2, Qt::SolidLine, Qt::SquareCap);
        painter.setPen(pen);
        painter.drawLine(QPoint(6, 5), QPoint(14, 13));
        painter.drawLine(QPoint(14, 5), QPoint(6, 13));
        break;
    }
    }
    painter.end();
    return image;
}

QImage disc(int size, QRgb colour) {
    QImage image(size, size, QImage::Format_RGB888);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(colour).darker(130), size >= 32 ? 2 : 1));
    painter.setBrush(QColor(colour));
    const qreal margin = size >= 32 ? 3 : 1.5;
    painter.drawEllipse(QRectF(margin, margin, size - 2 * margin, size - 2 * margin));
    painter.end();
    return image;
}

QImage icon(int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath tile;
    tile.addRoundedRect(QRectF(0.5, 0.5, size - 1, size - 1), size * 0.18, size * 0.18);
    painter.fillPath(tile, QColor(kSurround));
    drawLogo(painter, size * 0.1, size * 0.1, size * 0.8, false);
    painter.end();
    return image;
}

} // namespace artwork

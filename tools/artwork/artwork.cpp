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

std::vector<LogoDisc> logoDiscs(bool faint) {
    const QRgb white = 0xFFFFFFFF;
    std::vector<LogoDisc> discs = {
        // Outer ring, a lighter ring, the pupil and a highlight: a camera lens.
        {0, 0, 0.48, faint ? kWatermark : 0xFF1C2F8C},
        {0, 0, 0.38, white},
        {0, 0, 0.31, faint ? kWatermark : 0xFF2E7DC9},
        {0, 0, 0.17, faint ? kWatermark : 0xFF121A4A},
    };
    if (!faint)
        discs.push_back({-0.07, -0.07, 0.05, qRgba(255, 255, 255, 220)});
    return discs;
}

void drawLogo(QPainter &painter, qreal x, qreal y, qreal size, bool faint) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(x + size / 2, y + size / 2);
    painter.setPen(Qt::NoPen);
    for (const LogoDisc &disc : logoDiscs(faint)) {
        painter.setBrush(QColor::fromRgba(disc.colour));
        painter.drawEllipse(QPointF(centre.x() + size * disc.dx, centre.y() + size * disc.dy),
                            size * disc.radius, size * disc.radius);
    }
    painter.restore();
}

QImage background(int scale) {
    QImage image(640 * scale, 580 * scale, QImage::Format_RGB888);
    image.fill(QColor(kSurround));
    QPainter painter(&image);
    painter.scale(scale, scale);

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

QImage titleButton(Glyph glyph, bool pressed, int scale) {
    QImage image(21 * scale, 21 * scale, QImage::Format_RGB32);
    image.fill(QColor(kButtonFace));
    QPainter painter(&image);
    painter.scale(scale, scale);
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
    tile.addRoundedRect(QRectF(0.5, 0.5, size - 1, size - 1), size * kIconCorner,
                        size * kIconCorner);
    painter.fillPath(tile, QColor(kSurround));
    drawLogo(painter, size * kIconMargin, size * kIconMargin, size * kIconLogo, false);
    painter.end();
    return image;
}

QByteArray iconSvg() {
    const qreal size = 256;
    const auto number = [](qreal value) { return QString::number(value, 'g', 6); };
    const auto colour = [](QRgb rgb) { return QColor::fromRgb(rgb).name(QColor::HexRgb); };
    QString svg = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" "
                                 "height=\"256\" viewBox=\"0 0 256 256\">\n");
    svg += QStringLiteral("  <rect x=\"0.5\" y=\"0.5\" width=\"%1\" height=\"%1\" rx=\"%2\" "
                          "fill=\"%3\"/>\n")
               .arg(number(size - 1), number(size * kIconCorner), colour(kSurround));
    const qreal logo = size * kIconLogo;
    for (const LogoDisc &disc : logoDiscs(false)) {
        svg += QStringLiteral("  <circle cx=\"%1\" cy=\"%2\" r=\"%3\" fill=\"%4\"")
                   .arg(number(size / 2 + logo * disc.dx), number(size / 2 + logo * disc.dy),
                        number(logo * disc.radius), colour(disc.colour));
        if (qAlpha(disc.colour) != 255)
            svg += QStringLiteral(" fill-opacity=\"%1\"").arg(number(qAlpha(disc.colour) / 255.0));
        svg += QStringLiteral("/>\n");
    }
    svg += QStringLiteral("</svg>\n");
    return svg.toUtf8();
}

} // namespace artwork

#pragma once
// The program's pictures, drawn with QPainter. Colours and places follow the
// window's layout: a dark surround, a white logo tab at the top left, the title
// in white on the dark band, a white work panel framed by light grey bands.

#include <QByteArray>
#include <QImage>

#include <vector>

namespace artwork {

// Each picture is drawn at a scale: 1 gives the window's own pixels, 2 the same
// picture with twice the pixels in each direction for HiDPI screens.

// 640 x 580 times scale, 24-bit: the main window's background.
QImage background(int scale = 1);

enum class Glyph { Info, Minimise, Close };

// 21 x 21 times scale title button picture; pressed draws the glyph red.
QImage titleButton(Glyph glyph, bool pressed, int scale = 1);

// A disc of the given colour on white, size x size pixels (a disc of twice the
// size is its 2x picture).
QImage disc(int size, QRgb colour);

// The application icon, size x size pixels with transparency: the logo on a
// rounded tile of the surround colour.
QImage icon(int size);

// The same icon as a scalable SVG document (256 x 256 user units).
QByteArray iconSvg();

// One disc of the logo: centre offset and radius as fractions of the logo's size.
struct LogoDisc {
    qreal dx;
    qreal dy;
    qreal radius;
    QRgb colour;
};

// The logo's discs, back to front.
std::vector<LogoDisc> logoDiscs(bool faint);

// The logo (a lens of rings) into the square of the given size at (x, y).
void drawLogo(class QPainter &painter, qreal x, qreal y, qreal size, bool faint);

inline constexpr QRgb kSurround = 0xFF6E6969;
inline constexpr QRgb kBand = 0xFFE6E6E6;
inline constexpr QRgb kWatermark = 0xFFECECEC;
inline constexpr QRgb kButtonFace = 0xFFF1F1F1;
inline constexpr QRgb kGlyphRed = 0xFFED1B23;
inline constexpr QRgb kGlyphDark = 0xFF555555;
inline constexpr QRgb kGlyphBlack = 0xFF000000;
inline constexpr QRgb kDiscBlue = 0xFF1C2F8C;

// The icon's tile corner radius, the margin around its logo and the logo's size, as
// fractions of the icon's size.
inline constexpr qreal kIconCorner = 0.18;
inline constexpr qreal kIconMargin = 0.1;
inline constexpr qreal kIconLogo = 0.8;

} // namespace artwork

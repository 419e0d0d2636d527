#pragma once
// The program's pictures by resource id, from the Qt resource file veltrona.qrc
// (static library: call Q_INIT_RESOURCE(veltrona) once in main()).

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace veltrona::res {

// Bitmap ids.
inline constexpr int IDB_LIST_BLUE_16 = 137; // the list's row image: 16 x 16 blue disc
inline constexpr int IDB_BACKGROUND = 140;
inline constexpr int IDB_MINIMISE_DOWN = 144;
inline constexpr int IDB_MINIMISE_UP = 145;
inline constexpr int IDB_INFO_DOWN = 146;
inline constexpr int IDB_INFO_UP = 147;
inline constexpr int IDB_CLOSE_DOWN = 148;
inline constexpr int IDB_CLOSE_UP = 149;

// Registers the resource file; the functions below call it themselves. Code
// that opens the pictures by path (":/icons/128.png") calls it first.
void initResources();

// ":/bitmaps/<id>.png", and with a ratio of 2 the HiDPI picture of twice the
// size, ":/bitmaps/<id>@2x.png".
QString bitmapPath(int id, int ratio = 1);

// The bitmap with the given id; a null pixmap for an unknown id.
QPixmap loadBitmap(int id);

// The ratio of the pictures drawn on a device of the given pixel ratio: 2 on
// any HiDPI screen (a 1.5 screen scales the 2x picture down), else 1.
int bitmapRatio(qreal devicePixelRatio);

// The bitmap for a device of the given pixel ratio, with that picture's own
// ratio set: it covers as many device-independent pixels as the 1x picture.
QPixmap loadBitmap(int id, qreal devicePixelRatio);

// Icon 128 in all its sizes (16, 32, 48 and 256 pixels).
QIcon appIcon();

} // namespace veltrona::res

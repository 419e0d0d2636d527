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

// ":/bitmaps/<id>.png".
QString bitmapPath(int id);

// The bitmap with the given id; a null pixmap for an unknown id.
QPixmap loadBitmap(int id);

// Icon 128 in all its sizes (16, 32, 48 and 256 pixels).
QIcon appIcon();

} // namespace veltrona::res

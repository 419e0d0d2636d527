#include "pictures.h"

namespace veltrona::res {

QString bitmapPath(int id) {
    return QStringLiteral(":/bitmaps/%1.png").arg(id);
}

QPixmap loadBitmap(int id) {
    return QPixmap(bitmapPath(id));
}

QIcon appIcon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/128-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/128.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/icons/128-48.png"), QSize(48, 48));
    icon.addFile(QStringLiteral(":/icons/128-256.png"), QSize(256, 256));
    return icon;
}

} // namespace veltrona::res

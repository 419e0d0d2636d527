#include "pictures.h"

#include <mutex>

// Outside any namespace, as the resource initialiser's declaration needs.
static void registerVeltronaResources() {
    Q_INIT_RESOURCE(veltrona);
}

namespace veltrona::res {

void initResources() {
    static std::once_flag once;
    std::call_once(once, registerVeltronaResources);
}

QString bitmapPath(int id, int ratio) {
    initResources();
    if (ratio == 1)
        return QStringLiteral(":/bitmaps/%1.png").arg(id);
    return QStringLiteral(":/bitmaps/%1@%2x.png").arg(id).arg(ratio);
}

QPixmap loadBitmap(int id) {
    return QPixmap(bitmapPath(id));
}

int bitmapRatio(qreal devicePixelRatio) {
    return devicePixelRatio > 1.0 ? 2 : 1;
}

QPixmap loadBitmap(int id, qreal devicePixelRatio) {
    const int ratio = bitmapRatio(devicePixelRatio);
    QPixmap picture(bitmapPath(id, ratio));
    if (picture.isNull())
        return loadBitmap(id);
    // Set whatever the reader made of the file name.
    picture.setDevicePixelRatio(ratio);
    return picture;
}

QIcon appIcon() {
    initResources();
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/128-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/128.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/icons/128-48.png"), QSize(48, 48));
    icon.addFile(QStringLiteral(":/icons/128-256.png"), QSize(256, 256));
    return icon;
}

} // namespace veltrona::res

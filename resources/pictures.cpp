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

QString bitmapPath(int id) {
    initResources();
    return QStringLiteral(":/bitmaps/%1.png").arg(id);
}

QPixmap loadBitmap(int id) {
    return QPixmap(bitmapPath(id));
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

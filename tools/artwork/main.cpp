// veltrona-artwork DIR: writes the program's pictures into DIR, named by
// resource id (140.png, 144.png ... 149.png, 137.png), each also at twice the
// size (140@2x.png ...), the icon's sizes (icon-*.png) and the scalable icon,
// icon.svg.
#include "artwork.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include <cstdio>
#include <functional>

namespace {

bool save(const QDir &dir, const QString &name, const QImage &image) {
    const QString path = dir.filePath(name);
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "veltrona-artwork: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// The 8-bit title pictures keep their palette form.
QImage indexed(const QImage &image) {
    return image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
}

} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: veltrona-artwork DIR\n");
        return 64;
    }
    QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "veltrona-artwork: cannot make %s\n", argv[1]);
        return 1;
    }
    using artwork::Glyph;
    // Each bitmap at 1x (140.png) and at 2x for HiDPI screens (140@2x.png).
    struct Picture {
        const char *id;
        std::function<QImage(int scale)> draw;
    };
    const Picture pictures[] = {
        {"140", [](int scale) { return artwork::background(scale); }},
        {"144",
         [](int scale) { return indexed(artwork::titleButton(Glyph::Minimise, true, scale)); }},
        {"145",
         [](int scale) { return indexed(artwork::titleButton(Glyph::Minimise, false, scale)); }},
        {"146", [](int scale) { return artwork::titleButton(Glyph::Info, true, scale); }},
        {"147", [](int scale) { return artwork::titleButton(Glyph::Info, false, scale); }},
        {"148", [](int scale) { return indexed(artwork::titleButton(Glyph::Close, true, scale)); }},
        {"149",
         [](int scale) { return indexed(artwork::titleButton(Glyph::Close, false, scale)); }},
        // The list's row image: a 16 x 16 blue disc.
        {"137", [](int scale) { return artwork::disc(16 * scale, artwork::kDiscBlue); }},
    };
    bool ok = true;
    for (const Picture &picture : pictures) {
        const QString id = QString::fromLatin1(picture.id);
        ok = save(dir, id + QStringLiteral(".png"), picture.draw(1)) && ok;
        ok = save(dir, id + QStringLiteral("@2x.png"), picture.draw(2)) && ok;
    }
    for (int size : {16, 32, 48, 256})
        ok = save(dir, QStringLiteral("icon-%1.png").arg(size), artwork::icon(size)) && ok;
    QFile svg(dir.filePath(QStringLiteral("icon.svg")));
    if (!svg.open(QIODevice::WriteOnly) || svg.write(artwork::iconSvg()) < 0) {
        std::fprintf(stderr, "veltrona-artwork: cannot write %s\n", qPrintable(svg.fileName()));
        ok = false;
    }
    return ok ? 0 : 1;
}

// veltrona-artwork DIR: writes the program's pictures into DIR, named by
// resource id (140.png, 144.png ... 149.png, 137.png, icon-*.png) and the
// scalable icon, icon.svg.
#include "artwork.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include <cstdio>

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
    bool ok = save(dir, QStringLiteral("140.png"), artwork::background());
    ok = save(dir, QStringLiteral("144.png"),
              indexed(artwork::titleButton(Glyph::Minimise, true))) &&
         ok;
    ok = save(dir, QStringLiteral("145.png"),
              indexed(artwork::titleButton(Glyph::Minimise, false))) &&
         ok;
    ok = save(dir, QStringLiteral("146.png"), artwork::titleButton(Glyph::Info, true)) && ok;
    ok = save(dir, QStringLiteral("147.png"), artwork::titleButton(Glyph::Info, false)) && ok;
    ok = save(dir, QStringLiteral("148.png"), indexed(artwork::titleButton(Glyph::Close, true))) &&
         ok;
    ok = save(dir, QStringLiteral("149.png"), indexed(artwork::titleButton(Glyph::Close, false))) &&
         ok;
    // The list's row image: a 16 x 16 blue disc.
    ok = save(dir, QStringLiteral("137.png"), artwork::disc(16, artwork::kDiscBlue)) && ok;
    for (int size : {16, 32, 48, 256})
        ok = save(dir, QStringLiteral("icon-%1.png").arg(size), artwork::icon(size)) && ok;
    QFile svg(dir.filePath(QStringLiteral("icon.svg")));
    if (!svg.open(QIODevice::WriteOnly) || svg.write(artwork::iconSvg()) < 0) {
        std::fprintf(stderr, "veltrona-artwork: cannot write %s\n", qPrintable(svg.fileName()));
        ok = false;
    }
    return ok ? 0 : 1;
}

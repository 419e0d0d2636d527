// veltrona-artwork DIR: writes the program's pictures into DIR, named by
// resource id (140.png, 144.png ... 149.png, 132.png ... 137.png, icon-*.png) and the
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
    // List images: 16 x 16 blue 137, yellow 136, red 133; 32 x 32 blue 132, yellow 135, red 134.
    ok = save(dir, QStringLiteral("137.png"), artwork::disc(16, artwork::kDiscBlue)) && ok;
    ok = save(dir, QStringLiteral("136.png"), artwork::disc(16, artwork::kDiscYellow)) && ok;
    ok = save(dir, QStringLiteral("133.png"), artwork::disc(16, artwork::kDiscRed)) && ok;
    ok = save(dir, QStringLiteral("132.png"), artwork::disc(32, artwork::kDiscBlue)) && ok;
    ok = save(dir, QStringLiteral("135.png"), artwork::disc(32, artwork::kDiscYellow)) && ok;
    ok = save(dir, QStringLiteral("134.png"), artwork::disc(32, artwork::kDiscRed)) && ok;
    for (int size : {16, 32, 48, 256})
        ok = save(dir, QStringLiteral("icon-%1.png").arg(size), artwork::icon(size)) && ok;
    QFile svg(dir.filePath(QStringLiteral("icon.svg")));
    if (!svg.open(QIODevice::WriteOnly) || svg.write(artwork::iconSvg()) < 0) {
        std::fprintf(stderr, "veltrona-artwork: cannot write %s\n", qPrintable(svg.fileName()));
        ok = false;
    }
    return ok ? 0 : 1;
}

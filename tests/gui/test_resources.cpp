// The pictures in the resource file: ids, sizes, depths and the colours the
// window's skin relies on.
#include "pictures.h"

#include <QImage>
#include <QTest>

namespace {

QImage bitmap(int id) {
    return QImage(veltrona::res::bitmapPath(id)); // as stored, palette included
}

bool contains(const QImage &image, QRgb colour) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF))
                return true;
    return false;
}

} // namespace

class ResourcesTest : public QObject {
    Q_OBJECT

private slots:
    void background() {
        const QImage image = bitmap(140);
        QCOMPARE(image.size(), QSize(640, 580));
        QCOMPARE(image.pixelColor(1, 300), QColor(0x6E, 0x69, 0x69));   // surround
        QCOMPARE(image.pixelColor(300, 575), QColor(0x6E, 0x69, 0x69)); // below the panel
        QCOMPARE(image.pixelColor(300, 20), QColor(0x6E, 0x69, 0x69));  // title band
        QCOMPARE(image.pixelColor(300, 55), QColor(0xE6, 0xE6, 0xE6));  // bands
        QCOMPARE(image.pixelColor(300, 520), QColor(0xE6, 0xE6, 0xE6));
        QCOMPARE(image.pixelColor(20, 300), QColor(Qt::white)); // panel
        QCOMPARE(image.pixelColor(634, 62), QColor(Qt::white));
        QCOMPARE(image.pixelColor(190, 53), QColor(Qt::white));      // logo tab
        QVERIFY(contains(image.copy(380, 230, 250, 280), 0xECECEC)); // watermark
        // The title, white on the band.
        QVERIFY(contains(image.copy(316, 30, 157, 17), 0xFFFFFF));
        QVERIFY(!contains(image.copy(200, 30, 100, 17), 0xFFFFFF));
    }

    void titleButtons() {
        struct Picture {
            int id;
            bool paletted;
            QRgb glyph;
        };
        const Picture pictures[] = {{144, true, 0xED1B23},  {145, true, 0x555555},
                                    {146, false, 0xED1B23}, {147, false, 0x555555},
                                    {148, true, 0xED1B23},  {149, true, 0x000000}};
        for (const Picture &p : pictures) {
            const QImage image = bitmap(p.id);
            QCOMPARE(image.size(), QSize(21, 21));
            QCOMPARE(image.format() == QImage::Format_Indexed8, p.paletted);
            QCOMPARE(image.pixelColor(0, 0), QColor(0xF1, 0xF1, 0xF1));
            QVERIFY2(contains(image, p.glyph), qPrintable(QString::number(p.id)));
            // The window shows 20 rows: the glyph lies within them.
            QVERIFY(!contains(image.copy(0, 20, 21, 1), p.glyph));
        }
        // The "_" bar sits near the bottom.
        QVERIFY(!contains(bitmap(145).copy(0, 0, 21, 10), 0x555555));
    }

    void listImagesAndIcon() {
        const QImage image = bitmap(137);
        QCOMPARE(image.size(), QSize(16, 16));
        QCOMPARE(image.pixelColor(0, 0), QColor(Qt::white));
        const QColor centre = image.pixelColor(8, 8);
        QVERIFY(centre.blue() > 100 && centre.red() < 80);
        const QIcon icon = veltrona::res::appIcon();
        for (int size : {16, 32, 48, 256})
            QCOMPARE(icon.pixmap(size, size).size(), QSize(size, size));
        QVERIFY(!QImage(QStringLiteral(":/icons/128.png")).isNull());
    }
};

QTEST_MAIN(ResourcesTest)
#include "test_resources.moc"

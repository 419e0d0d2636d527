// The pictures in the resource file: ids, sizes, depths and the colours the
// window's skin relies on, at 1x and in the 2x pictures of HiDPI screens.
#include "pictures.h"

#include <QImage>
#include <QTest>

namespace {

QImage bitmap(int id, int ratio = 1) {
    return QImage(veltrona::res::bitmapPath(id, ratio)); // as stored, palette included
}

bool contains(const QImage &image, QRgb colour) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF))
                return true;
    return false;
}

void addRatioRows() {
    QTest::addColumn<int>("ratio");
    QTest::newRow("1x") << 1;
    QTest::newRow("2x") << 2;
}

} // namespace

class ResourcesTest : public QObject {
    Q_OBJECT

private slots:
    // The same places in the picture of either ratio, x and y in 1x pixels.
    void background_data() { addRatioRows(); }
    void background() {
        QFETCH(int, ratio);
        const QImage image = bitmap(140, ratio);
        const auto at = [&](int x, int y) { return image.pixelColor(x * ratio, y * ratio); };
        const auto part = [&](int x, int y, int w, int h) {
            return image.copy(x * ratio, y * ratio, w * ratio, h * ratio);
        };
        QCOMPARE(image.size(), QSize(640, 580) * ratio);
        QCOMPARE(at(1, 300), QColor(0x6E, 0x69, 0x69));   // surround
        QCOMPARE(at(300, 575), QColor(0x6E, 0x69, 0x69)); // below the panel
        QCOMPARE(at(300, 20), QColor(0x6E, 0x69, 0x69));  // title band
        QCOMPARE(at(300, 55), QColor(0xE6, 0xE6, 0xE6));  // bands
        QCOMPARE(at(300, 520), QColor(0xE6, 0xE6, 0xE6));
        QCOMPARE(at(20, 300), QColor(Qt::white)); // panel
        QCOMPARE(at(634, 62), QColor(Qt::white));
        QCOMPARE(at(190, 53), QColor(Qt::white));              // logo tab
        QVERIFY(contains(part(380, 230, 250, 280), 0xECECEC)); // watermark
        // The title, white on the band.
        QVERIFY(contains(part(316, 30, 157, 17), 0xFFFFFF));
        QVERIFY(!contains(part(200, 30, 100, 17), 0xFFFFFF));
    }

    void titleButtons_data() { addRatioRows(); }
    void titleButtons() {
        QFETCH(int, ratio);
        struct Picture {
            int id;
            bool paletted;
            QRgb glyph;
        };
        const Picture pictures[] = {{144, true, 0xED1B23},  {145, true, 0x555555},
                                    {146, false, 0xED1B23}, {147, false, 0x555555},
                                    {148, true, 0xED1B23},  {149, true, 0x000000}};
        for (const Picture &p : pictures) {
            const QImage image = bitmap(p.id, ratio);
            QCOMPARE(image.size(), QSize(21, 21) * ratio);
            QCOMPARE(image.format() == QImage::Format_Indexed8, p.paletted);
            QCOMPARE(image.pixelColor(0, 0), QColor(0xF1, 0xF1, 0xF1));
            QVERIFY2(contains(image, p.glyph), qPrintable(QString::number(p.id)));
            // The window shows 20 rows: the glyph lies within them.
            QVERIFY(!contains(image.copy(0, 20 * ratio, 21 * ratio, ratio), p.glyph));
        }
        // The "_" bar sits near the bottom.
        QVERIFY(!contains(bitmap(145, ratio).copy(0, 0, 21 * ratio, 10 * ratio), 0x555555));
    }

    // The window draws the picture of its screen's ratio, sized in 1x pixels.
    void bitmapForScreen_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<qreal>("screenRatio");
        QTest::addColumn<int>("pictureRatio");
        QTest::newRow("background 1x") << 140 << 1.0 << 1;
        QTest::newRow("background 1.25") << 140 << 1.25 << 2;
        QTest::newRow("title button 1.5") << 147 << 1.5 << 2;
        QTest::newRow("title button 2") << 149 << 2.0 << 2;
        QTest::newRow("row image 3") << 137 << 3.0 << 2;
    }
    void bitmapForScreen() {
        QFETCH(int, id);
        QFETCH(qreal, screenRatio);
        QFETCH(int, pictureRatio);
        const QPixmap picture = veltrona::res::loadBitmap(id, screenRatio);
        QCOMPARE(picture.devicePixelRatio(), qreal(pictureRatio));
        QCOMPARE(picture.size(), bitmap(id).size() * pictureRatio);
        QCOMPARE(picture.deviceIndependentSize().toSize(), bitmap(id).size());
    }

    void listImagesAndIcon() {
        const QImage image = bitmap(137);
        QCOMPARE(image.size(), QSize(16, 16));
        QCOMPARE(image.pixelColor(0, 0), QColor(Qt::white));
        const QColor centre = image.pixelColor(8, 8);
        QVERIFY(centre.blue() > 100 && centre.red() < 80);
        const QImage sharp = bitmap(137, 2);
        QCOMPARE(sharp.size(), QSize(32, 32));
        QCOMPARE(sharp.pixelColor(0, 0), QColor(Qt::white));
        QCOMPARE(sharp.pixelColor(16, 16), centre);
        const QIcon icon = veltrona::res::appIcon();
        for (int size : {16, 32, 48, 256})
            QCOMPARE(icon.pixmap(size, size).size(), QSize(size, size));
        QVERIFY(!QImage(QStringLiteral(":/icons/128.png")).isNull());
    }
};

QTEST_MAIN(ResourcesTest)
#include "test_resources.moc"

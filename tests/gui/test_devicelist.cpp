// The device list: row texts, duplicates, header-click sorting against the
// rules written out literally, moved header sections.
#include "gui_test_support.h"
#include "literal_device_list.h"

#include <QElapsedTimer>
#include <QHeaderView>
#include <QRandomGenerator>
#include <QTest>

#include <functional>

using namespace guitest;

namespace {

// Calls `seen` for each event of `type` that reaches the objects it filters.
class EventCounter : public QObject {
public:
    EventCounter(QEvent::Type type, std::function<void()> seen)
        : m_type(type), m_seen(std::move(seen)) {}
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == m_type)
            m_seen();
        return false;
    }

private:
    QEvent::Type m_type;
    std::function<void()> m_seen;
};

} // namespace

class DeviceListTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<CDeviceListCtrl>
    makeList(veltrona::KovaLibrary &library = veltrona::KovaLibrary::real(),
             veltrona::ui::Platform &platform = veltrona::ui::Platform::real()) {
        auto list = std::make_unique<CDeviceListCtrl>(nullptr, library, platform);
        list->InitColumns();
        return list;
    }

private slots:
    void columnsAfterSetUp() {
        auto list = makeList();
        QCOMPARE(list->header()->count(), 11);
        const QStringList expected = {"Type", "IP Address", "MAC Address", "Model", "SN",      "FW",
                                      "Web",  "AV1",        "AV2",         "Conf",  "Hostname"};
        const int widths[] = {60, 120, 125, 90, 90, 40, 40, 90, 90, 50, 90};
        for (int column = 0; column < 11; ++column) {
            QCOMPARE(list->model()->headerData(column, Qt::Horizontal).toString(),
                     expected[column]);
            QCOMPARE(list->columnWidth(column), widths[column]);
            QCOMPARE(list->SortDirection(column), 0);
        }
        QCOMPARE(list->SortColumn(), -1);
        QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
        QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
        QVERIFY(list->header()->sectionsMovable());
        QCOMPARE(list->GetItemCount(), 0);
    }

    void rowTextsFollowTheColumnRules_data() {
        QTest::addColumn<int>("av1");
        QTest::addColumn<int>("av2");
        QTest::addColumn<QStringList>("expected"); // columns 0 to 10
        QTest::newRow("both AV ports")
            << 554 << 555
            << QStringList{"static", "10.0.0.7",   "02-4B-56-00-00-07", "KV-1", "SN1", "200.1.2",
                           "80",     "554/rtp(O)", "555/vsm(X)",        "N/A",  "cam"};
        QTest::newRow("one AV port")
            << 554 << 0 << QStringList{"static", "10.0.0.7", "02-4B-56-00-00-07",
                                       "KV-1",   "SN1",      "200.1.2",
                                       "80",     "554",      "N/A",
                                       "N/A",    "cam"};
        QTest::newRow("no AV port")
            << 0 << 555
            << QStringList{"static", "10.0.0.7", "02-4B-56-00-00-07", "KV-1", "SN1", "200.1.2",
                           "80",     "N/A",      "555/vsm(X)",        "N/A",  "cam"};
    }
    void rowTextsFollowTheColumnRules() {
        QFETCH(int, av1);
        QFETCH(int, av2);
        QFETCH(QStringList, expected);
        FakeItems items;
        auto list = makeList(items);
        RowFields fields;
        fields.mac = mac(7);
        fields.ip = "10.0.0.7";
        fields.av1 = uint16_t(av1);
        fields.av2 = uint16_t(av2);
        fields.av1Protocol = 2;
        fields.av1Flag = 1;
        fields.av2Protocol = 1;
        fields.av2Flag = 0;
        fields.fw[0] = 200; // firmware bytes are unsigned: 200, not -56
        fields.fw[1] = 1;
        fields.fw[2] = 2;
        const DEVICE_ROW row = makeRow(fields);
        HKOVAITEM item = items.make(fields.mac);
        QCOMPARE(list->AddDevice(&row, item), 1);
        for (int column = 0; column < 11; ++column)
            QCOMPARE(list->GetItemText(0, column), expected[column]);
        QCOMPARE(list->GetItemData(0), item);
        QVERIFY(!list->model()->index(0, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
    }

    void missingValuesAndOtherModes() {
        FakeItems items;
        auto list = makeList(items);
        RowFields v2; // an old device: no ports, no firmware
        v2.mac = mac(1);
        v2.mode = KOVA_MODE_DHCP;
        v2.web = v2.av1 = v2.av2 = v2.conf = 0;
        v2.fw[0] = v2.fw[1] = v2.fw[2] = 0;
        v2.serial = "";
        RowFields odd;
        odd.mac = mac(2);
        odd.mode = 3;  // no name: empty Type
        odd.fw[0] = 0; // major 0: "N/A" whatever the rest
        odd.av1 = 9;
        odd.av2 = 10;
        odd.av1Protocol = 6; // above the name table
        odd.av1Flag = 2;
        odd.av2Protocol = 4; // 4 and 5 read "X" and "O"
        odd.av2Flag = 1;
        odd.conf = 7001;
        odd.serial = std::string(16, 'S'); // fills the field, no terminator
        RowFields pppoe;
        pppoe.mac = mac(3);
        pppoe.mode = KOVA_MODE_PPPOE;
        for (const RowFields &fields : {v2, odd, pppoe}) {
            const DEVICE_ROW row = makeRow(fields);
            QCOMPARE(list->AddDevice(&row, items.make(fields.mac)), 1);
        }
        QCOMPARE(list->GetItemText(0, 0), QString("dhcp"));
        for (int column = 4; column <= 9; ++column)
            QCOMPARE(list->GetItemText(0, column), QString("N/A"));
        QCOMPARE(list->GetItemText(1, 0), QString());
        QCOMPARE(list->GetItemText(1, 4), QString(16, 'S'));
        QCOMPARE(list->GetItemText(1, 5), QString("N/A"));
        QCOMPARE(list->GetItemText(1, 7), QString("9/N/A(N/A)"));
        QCOMPARE(list->GetItemText(1, 8), QString("10/X(O)"));
        QCOMPARE(list->GetItemText(1, 9), QString("7001"));
        QCOMPARE(list->GetItemText(2, 0), QString("pppoe"));
    }

    void duplicateMacAddsNothingAndKeepsTheFirstRow() {
        FakeItems items;
        auto list = makeList(items);
        RowFields first;
        first.mac = mac(5);
        first.model = "first";
        RowFields again = first;
        again.model = "second";
        again.ip = "10.9.9.9";
        const DEVICE_ROW row1 = makeRow(first);
        const DEVICE_ROW row2 = makeRow(again);
        HKOVAITEM item1 = items.make(first.mac);
        HKOVAITEM item2 = items.make(first.mac);
        QCOMPARE(list->AddDevice(&row1, item1), 1);
        QCOMPARE(list->AddDevice(&row2, item2), 0);
        QCOMPARE(list->GetItemCount(), 1);
        QCOMPARE(list->GetItemText(0, 3), QString("first"));
        QCOMPARE(list->GetItemText(0, 1), QString("10.0.0.1"));
        QCOMPARE(list->GetItemData(0), item1);
        QCOMPARE(list->FindDevice(first.mac.data()), 0);
        const Mac other = mac(6);
        QCOMPARE(list->FindDevice(other.data()), -1);

        // Each further place the device answered from is remembered once: the
        // same address on another interface too, also within one batch.
        DeviceListRow onVt0{row1, item1};
        put(onVt0.interfaceName, "vt0");
        DeviceListRow onVt1 = onVt0;
        put(onVt1.interfaceName, "vt1");
        QCOMPARE(list->AddDevices(std::vector<DeviceListRow>{onVt1, onVt1, {row2, item2}}), 0);
        QCOMPARE(list->ReplySources(first.mac.data()),
                 (QStringList{"10.0.0.1", "10.9.9.9", "10.0.0.1 on vt1"}));
        QCOMPARE(list->ReplySources(other.data()), QStringList());

        // After deleting all rows the same device is listed again, and only
        // where it answers from now counts.
        list->DeleteAllItems();
        QCOMPARE(list->FindDevice(first.mac.data()), -1);
        QCOMPARE(list->AddDevice(&row2, item2), 1);
        QCOMPARE(list->GetItemText(0, 3), QString("second"));
        QCOMPARE(list->ReplySources(first.mac.data()), QStringList{"10.9.9.9"});
    }

    void missingRowRecordShowsInvalidData() {
        MessageRecorder messages;
        auto list = makeList(veltrona::KovaLibrary::real(), messages);
        QCOMPARE(list->AddDevice(nullptr, nullptr), 0);
        QCOMPARE(messages.texts, QStringList{"Invalid data"});
        QCOMPARE(list->GetItemCount(), 0);
    }

    void headerClickDirections() {
        FakeItems items;
        auto list = makeList(items);
        const char *ips[] = {"10.1.1.5", "9.1.1.5", "192.168.0.2", "10.1.1.40"};
        const char *models[] = {"b", "d", "a", "c"};
        auto addRows = [&] {
            for (int i = 0; i < 4; ++i) {
                RowFields fields;
                fields.mac = mac(uint8_t(i + 1));
                fields.ip = ips[i];
                fields.model = models[i];
                const DEVICE_ROW row = makeRow(fields);
                list->AddDevice(&row, items.make(fields.mac));
            }
        };
        addRows();
        const QStringList ipAscending = {"10.1.1.40", "10.1.1.5", "192.168.0.2", "9.1.1.5"};
        QStringList ipDescending = ipAscending;
        std::reverse(ipDescending.begin(), ipDescending.end());

        list->OnColumnClick(1); // first click: descending
        QCOMPARE(columnTexts(*list, 1), ipDescending);
        list->OnColumnClick(1); // second: ascending, as text (10.x before 9.x)
        QCOMPARE(columnTexts(*list, 1), ipAscending);
        list->OnColumnClick(3); // another column: descending the first time
        QCOMPARE(columnTexts(*list, 3), (QStringList{"d", "c", "b", "a"}));
        list->OnColumnClick(1); // back to IP: its direction was kept
        QCOMPARE(columnTexts(*list, 1), ipAscending);
        list->OnColumnClick(1);
        QCOMPARE(columnTexts(*list, 1), ipDescending);

        // Directions survive deleting the rows; new rows are not sorted in.
        list->DeleteAllItems();
        addRows();
        QCOMPARE(columnTexts(*list, 3), (QStringList{"b", "d", "a", "c"}));
        list->OnColumnClick(3); // model was clicked once, never flipped: descending again
        QCOMPARE(columnTexts(*list, 3), (QStringList{"d", "c", "b", "a"}));
        list->OnColumnClick(3);
        QCOMPARE(columnTexts(*list, 3), (QStringList{"a", "b", "c", "d"}));
    }

    void burstOfRowsIsPaintedPacedAndToTheEnd() {
        // Batches every 10 ms for 300 ms: the rows on screen are painted a few
        // times, not once per batch, and once more after the last batch.
        FakeItems items;
        auto list = makeList(items);
        list->resize(600, 300);
        list->show();
        QVERIFY(QTest::qWaitForWindowExposed(list.get()));
        QList<qint64> paints;
        QElapsedTimer clock;
        clock.start();
        EventCounter counter(QEvent::Paint, [&] { paints << clock.elapsed(); });
        list->viewport()->installEventFilter(&counter);
        qint64 lastBatch = 0;
        for (int batch = 0; batch < 30; ++batch) {
            std::vector<DeviceListRow> rows;
            for (int i = 0; i < 3; ++i) {
                RowFields fields;
                fields.mac = mac(uint8_t(3 * batch + i + 1));
                rows.push_back({makeRow(fields), items.make(fields.mac)});
            }
            QCOMPARE(list->AddDevices(rows), 3);
            lastBatch = clock.elapsed();
            QTest::qWait(10);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!paints.isEmpty() && paints.last() >= lastBatch, 1000);
        QVERIFY2(paints.size() <= int(clock.elapsed() / CDeviceListCtrl::kPaintPaceMs) + 2,
                 qPrintable(QString::number(paints.size())));
    }

    void movedHeaderSectionsKeepColumnIndexes() {
        FakeItems items;
        auto list = makeList(items);
        list->resize(900, 300);
        list->show();
        QVERIFY(QTest::qWaitForWindowExposed(list.get()));
        for (int i = 0; i < 3; ++i) {
            RowFields fields;
            fields.mac = mac(uint8_t(10 - i));
            fields.model = std::string(1, char('x' + i));
            const DEVICE_ROW row = makeRow(fields);
            list->AddDevice(&row, items.make(fields.mac));
        }
        // Drag "Model" to the front and "MAC Address" to the end.
        list->header()->moveSection(list->header()->visualIndex(3), 0);
        list->header()->moveSection(list->header()->visualIndex(2), 10);
        QCOMPARE(list->header()->logicalIndexAt(list->header()->sectionViewportPosition(3) + 5), 3);
        // A click on the moved "Model" header sorts by model.
        const int x = list->header()->sectionViewportPosition(3) + 10;
        QTest::mouseClick(list->header()->viewport(), Qt::LeftButton, {}, QPoint(x, 5));
        QCOMPARE(list->SortColumn(), 3);
        QCOMPARE(columnTexts(*list, 3), (QStringList{"z", "y", "x"}));
        // Duplicates are still recognised by the MAC column.
        RowFields again;
        again.mac = mac(9);
        const DEVICE_ROW row = makeRow(again);
        QCOMPARE(list->AddDevice(&row, items.make(again.mac)), 0);
        QCOMPARE(list->FindDevice(again.mac.data()), 1);
        QCOMPARE(list->GetItemText(0, 2), QString("02-4B-56-00-00-08"));
    }

    void sortMatchesTheLiteralRulesOnRandomLists() {
        FakeItems items;
        auto reader = [&items](HKOVAITEM item, uint8_t out[6]) { return items.read(item, out); };
        QRandomGenerator random(20261207);
        // Small pools make many equal texts, so the order of ties matters.
        const char *ips[] = {"10.0.0.1", "10.0.0.10", "10.0.0.2", "9.9.9.9", "192.168.1.1"};
        const char *models[] = {"KV-1", "KV-10", "kv-1", "", "Z", "KV-1 "};
        const char *serials[] = {"", "A", "B", "\xC3\xA9t\xC3\xA9", "\xFF", "a"};
        for (int round = 0; round < 12; ++round) {
            auto list = makeList(items);
            literal::DeviceList reference(reader);
            auto addRows = [&](int count) {
                for (int i = 0; i < count; ++i) {
                    RowFields fields;
                    fields.mac = mac(uint8_t(random.bounded(60)), uint8_t(random.bounded(3)));
                    fields.ip = ips[random.bounded(5)];
                    fields.model = models[random.bounded(6)];
                    fields.serial = serials[random.bounded(6)];
                    fields.mode = int32_t(random.bounded(4));
                    fields.web = uint16_t(random.bounded(3) * 40);
                    fields.av1 = uint16_t(random.bounded(3) * 277);
                    fields.av2 = uint16_t(random.bounded(2) * 555);
                    fields.conf = uint16_t(random.bounded(2) * 12);
                    fields.fw[0] = uint8_t(random.bounded(3) * 100);
                    fields.host = std::to_string(random.bounded(4));
                    const DEVICE_ROW row = makeRow(fields);
                    // Now and then an item that cannot be decoded, or one whose
                    // MAC address names another row or none.
                    HKOVAITEM item;
                    const auto kind = random.bounded(12);
                    if (kind == 0)
                        item = items.broken();
                    else if (kind == 1)
                        item = items.make(mac(uint8_t(random.bounded(60)), 0));
                    else
                        item = items.make(fields.mac);
                    QCOMPARE(list->AddDevice(&row, item), reference.AddDevice(&row, item));
                }
            };
            addRows(40 + int(random.bounded(80)));
            for (int click = 0; click < 25; ++click) {
                const int column = int(random.bounded(11));
                list->OnColumnClick(column);
                reference.OnColumnClick(column);
                QCOMPARE(list->GetItemCount(), int(reference.rows.size()));
                for (int row = 0; row < list->GetItemCount(); ++row) {
                    QCOMPARE(list->GetItemData(row), reference.rows[size_t(row)].item);
                    for (int c = 0; c < 11; ++c)
                        QCOMPARE(list->GetItemText(row, c).toLatin1().toStdString(),
                                 reference.rows[size_t(row)].texts[size_t(c)]);
                }
                for (int c = 0; c < 11; ++c)
                    QCOMPARE(list->SortDirection(c), reference.direction[size_t(c)]);
                if (click % 8 == 7)
                    addRows(5);
            }
            // CompareRows itself agrees with the literal one.
            for (int i = 0; i + 1 < list->GetItemCount(); ++i) {
                HKOVAITEM a = list->GetItemData(i);
                HKOVAITEM b = list->GetItemData(i + 1);
                const int column = list->SortColumn();
                QCOMPARE(list->CompareRows(a, b, column), reference.CompareRows(a, b, column));
                QCOMPARE(list->CompareRows(b, a, column), reference.CompareRows(b, a, column));
            }
        }
    }
};

QTEST_MAIN(DeviceListTest)
#include "test_devicelist.moc"

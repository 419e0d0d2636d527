#pragma once
// The device list: one row per device (by MAC address) with eleven text
// columns, each row carrying the device's library item. Header clicks sort the
// rows by a column's text, alternating direction per column.

#include "devicerow.h"

#include <QHash>
#include <QIcon>
#include <QTreeWidget>

#include <array>
#include <cstdint>
#include <functional>

class CDeviceListCtrl : public QTreeWidget {
    Q_OBJECT
public:
    explicit CDeviceListCtrl(QWidget *parent = nullptr);

    // Column titles, widths and alignment; sort state reset; full-row single
    // selection, movable header sections, the row image.
    void InitColumns();

    // Appends a row for the device unless a row with the same MAC address is
    // listed: 1 when a row was added, else 0. Without a row record, shows
    // "Invalid data" and adds nothing.
    int AddDevice(const DEVICE_ROW *row, HKOVAITEM item);

    // Index of the row with this MAC address, or -1.
    int FindDevice(const uint8_t mac[6]) const;

    // A header click on column `column`: flips that column's direction when it
    // was the sort column, else makes it the sort column with the direction it
    // had; then sorts all rows by it.
    void OnColumnClick(int column);

    // Compares two rows' items by the text in `column` of the rows their MAC
    // addresses name (an empty text for a MAC that is not listed or an item that
    // cannot be decoded): negative, 0 or positive, in the column's direction.
    int CompareRows(HKOVAITEM item1, HKOVAITEM item2, int column) const;

    void DeleteAllItems();
    int GetItemCount() const { return topLevelItemCount(); }
    int GetSelectedCount() const;
    // Index of the first selected row, or -1.
    int GetFirstSelectedItem() const;
    HKOVAITEM GetItemData(int row) const;
    QString GetItemText(int row, int column) const;

    int SortColumn() const { return m_nSortColumn; }
    int SortDirection(int column) const { return m_nSortDirection.at(column); }

    // How the list reads an item's MAC address; tests give rows stand-in items.
    using MacReader = std::function<bool(HKOVAITEM item, uint8_t mac[6])>;
    static MacReader setMacReader(MacReader reader);

    // The row image (image 0): the 16 x 16 blue disc, black masked out.
    const QIcon &rowIcon() const { return m_rowIcon; }

signals:
    void leftDoubleClicked();
    void rightDoubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    static uint64_t macKey(const uint8_t mac[6]);
    QString sortText(HKOVAITEM item, int column) const;

    int m_nSortColumn = -1;
    std::array<int, veltrona::kColumnCount> m_nSortDirection{};
    QIcon m_rowIcon;
    // MAC address -> its row's item; makes the duplicate check and the sort's
    // row look-ups constant time.
    QHash<uint64_t, QTreeWidgetItem *> m_rowByMac;
};

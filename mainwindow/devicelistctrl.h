#pragma once
// The device list: one row per device (by MAC address) with eleven text
// columns, each row carrying the device's library item. Header clicks sort the
// rows by a column's text, alternating direction per column. The rows live in
// a table model as their row records; the texts are made when they are shown,
// so ten thousand rows cost a few hundred bytes each.

#include "addresscheck.h"
#include "changeengine.h"
#include "devicerow.h"
#include "kovalibrary.h"
#include "platform.h"

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QHash>
#include <QIcon>
#include <QStringList>
#include <QTimer>
#include <QTreeView>

#include <array>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <vector>

class CDeviceListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit CDeviceListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Appends the rows whose MAC address is not listed yet (nor earlier in
    // `rows`), in the given order, as one insertion; returns how many. A row
    // of a listed MAC address that came from another address or interface is
    // not listed, but remembered as one more place that device answered from.
    int append(std::span<const DeviceListRow> rows);
    void removeAll();
    // Index of the row with this MAC address, or -1.
    int find(const uint8_t mac[6]) const;
    int findKey(uint64_t macKey) const {
        const int stored = m_rowByMac.value(macKey, -1);
        return stored < 0 ? -1 : m_position[size_t(stored)];
    }
    const DeviceListRow &at(int row) const { return m_rows[stored(row)]; }
    // The MAC address (as a number) that a row's item decodes to, read once
    // when the row is added; -1 when it cannot be decoded.
    int64_t itemMac(int row) const { return m_itemMacs[stored(row)]; }
    void setItemMac(int row, int64_t mac) { m_itemMacs[stored(row)] = mac; }
    // Where a device's reply came from; no interface when it is not known.
    struct Source {
        std::string address;
        std::string interfaceName;
        bool operator==(const Source &) const = default;
    };
    // Each address and interface the device of this MAC address answered
    // from, its row's first; empty when it is not listed.
    std::vector<Source> replySources(const uint8_t mac[6]) const;
    // Puts the rows in the order of their keys, ascending or descending; rows
    // with equal keys keep their order. A row's key is the text in `column`
    // of the row its item's MAC address (see itemMac()) names, empty when it
    // names none. Selections follow their rows.
    void sortByItemColumn(int column, bool ascending);

    void setRowIcon(const QIcon &icon) { m_rowIcon = icon; }

    // Places a device answered from beyond its row's, kept per device; a flood
    // of replies from one MAC address costs no more than this.
    static constexpr size_t kMaxOtherSources = 8;

private:
    size_t stored(int row) const { return size_t(m_order[size_t(row)]); }
    static uint64_t macKey(const uint8_t mac[6]);
    static Source sourceOf(const DeviceListRow &row);
    void noteSource(uint64_t key, const DeviceListRow &listed, const DeviceListRow &again);

    // The rows stay where they were appended; a sort orders only the
    // positions: m_order holds the stored index shown in each row, m_position
    // the row each stored index is shown in.
    std::deque<DeviceListRow> m_rows; // never moved: no copy of all rows as they grow
    std::vector<int64_t> m_itemMacs;  // by stored index, see itemMac()
    std::vector<int> m_order;
    std::vector<int> m_position;
    // MAC address -> the other places it answered from; only for the few
    // devices heard more than once.
    QHash<uint64_t, std::vector<Source>> m_otherSources;
    // MAC address -> stored index; makes the duplicate check and the sort's
    // row look-ups constant time, and a sort leaves it alone.
    QHash<uint64_t, int> m_rowByMac;
    QIcon m_rowIcon;
};

class CDeviceListCtrl : public QTreeView {
    Q_OBJECT
public:
    // Items are decoded through `library` (a row's MAC address for the sort);
    // "Invalid data" is shown through `platform`.
    CDeviceListCtrl(QWidget *parent, veltrona::KovaLibrary &library,
                    veltrona::ui::Platform &platform = veltrona::ui::Platform::real());

    // Column titles, widths and alignment; sort state reset; full-row single
    // selection, movable header sections, the row image.
    void InitColumns();

    // Appends a row for the device unless a row with the same MAC address is
    // listed: 1 when a row was added, else 0. Without a row record, shows
    // "Invalid data" and adds nothing.
    int AddDevice(const DEVICE_ROW *row, HKOVAITEM item);
    // AddDevice for each row in order, as one insertion; returns how many
    // rows were added. While rows keep coming, the rows on screen are painted
    // at most every kPaintPaceMs (see paceRows()).
    int AddDevices(std::span<const DeviceListRow> rows);

    // Index of the row with this MAC address, or -1.
    int FindDevice(const uint8_t mac[6]) const;
    // Every listed device with its address and host name, for the checks
    // before a change is sent.
    std::vector<veltrona::change::HeardDevice> HeardDevices() const;
    // Each address and interface the device of this MAC address answered from.
    std::vector<veltrona::Place> ReplyPlaces(const uint8_t mac[6]) const;
    // Where the device of this MAC address answered from (see the model), as
    // "10.77.0.1 on vt0".
    QStringList ReplySources(const uint8_t mac[6]) const;

    // A header click on column `column`: flips that column's direction when it
    // was the sort column, else makes it the sort column with the direction it
    // had; then sorts all rows by it.
    void OnColumnClick(int column);

    // Compares two rows' items by the text in `column` of the rows their MAC
    // addresses name (an empty text for a MAC that is not listed or an item that
    // cannot be decoded): negative, 0 or positive, in the column's direction.
    int CompareRows(HKOVAITEM item1, HKOVAITEM item2, int column) const;

    // A text drawn in the empty list (and given to screen readers as its
    // description) until rows come or the rows are deleted: why a scan found
    // nothing. Rows or DeleteAllItems clear it, and the list's own
    // description comes back.
    void ShowEmptyText(const QString &text);
    void ClearEmptyText();
    QString EmptyText() const { return m_strEmptyText; }

    void DeleteAllItems();
    int GetItemCount() const { return m_model.rowCount(); }
    int GetSelectedCount() const;
    // Index of the first selected row, or -1.
    int GetFirstSelectedItem() const;
    HKOVAITEM GetItemData(int row) const;
    QString GetItemText(int row, int column) const;

    int SortColumn() const { return m_nSortColumn; }
    int SortDirection(int column) const { return m_nSortDirection.at(column); }

    // A burst of rows repaints the visible rows at most this often: a paint
    // costs the user-interface thread far more than listing a batch does.
    static constexpr int kPaintPaceMs = 100;

signals:
    void leftDoubleClicked();
    void rightDoubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void selectionChanged(const QItemSelection &selected,
                          const QItemSelection &deselected) override;

private:
    std::string sortText(HKOVAITEM item, int column) const;
    // Reads the item MAC of each row from `first` on.
    void readItemMacs(int first);
    bool readMac(HKOVAITEM item, uint8_t mac[6]) const;
    // Holds the rows' repaint back until kPaintPaceMs after the last paint,
    // when it was more recent; paintRows() ends the hold at once.
    void paceRows();
    void paintRows();

    veltrona::KovaLibrary &m_library;
    veltrona::ui::Platform &m_platform;
    int m_nSortColumn = -1;
    std::array<int, veltrona::kColumnCount> m_nSortDirection{};
    CDeviceListModel m_model;
    QString m_strEmptyText;
    // The list's own description while the empty text stands in for it.
    QString m_strDescription;
    QElapsedTimer m_sincePaint;
    QTimer m_paintTimer;
};

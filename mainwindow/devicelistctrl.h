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
#include <QHash>
#include <QIcon>
#include <QStringList>
#include <QTreeView>

#include <array>
#include <cstdint>
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
    const DeviceListRow &at(int row) const { return m_rows[size_t(row)]; }
    // Where a device's reply came from; no interface when it is not known.
    struct Source {
        std::string address;
        std::string interfaceName;
        bool operator==(const Source &) const = default;
    };
    // Each address and interface the device of this MAC address answered
    // from, its row's first; empty when it is not listed.
    std::vector<Source> replySources(const uint8_t mac[6]) const;
    // Puts the rows in the order of `keys` (one per row), ascending or
    // descending; rows with equal keys keep their order. Selections follow
    // their rows.
    void sortByKeys(const std::vector<std::string> &keys, bool ascending);

    void setRowIcon(const QIcon &icon) { m_rowIcon = icon; }

    // Places a device answered from beyond its row's, kept per device; a flood
    // of replies from one MAC address costs no more than this.
    static constexpr size_t kMaxOtherSources = 8;

private:
    static uint64_t macKey(const uint8_t mac[6]);
    static Source sourceOf(const DeviceListRow &row);
    void noteSource(uint64_t key, const DeviceListRow &listed, const DeviceListRow &again);

    std::vector<DeviceListRow> m_rows;
    // MAC address -> the other places it answered from; only for the few
    // devices heard more than once.
    QHash<uint64_t, std::vector<Source>> m_otherSources;
    // MAC address -> row index; makes the duplicate check and the sort's row
    // look-ups constant time.
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
    // AddDevice for each row in order, as one insertion with updates
    // suspended; returns how many rows were added.
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

    void DeleteAllItems();
    int GetItemCount() const { return m_model.rowCount(); }
    int GetSelectedCount() const;
    // Index of the first selected row, or -1.
    int GetFirstSelectedItem() const;
    HKOVAITEM GetItemData(int row) const;
    QString GetItemText(int row, int column) const;

    int SortColumn() const { return m_nSortColumn; }
    int SortDirection(int column) const { return m_nSortDirection.at(column); }

signals:
    void leftDoubleClicked();
    void rightDoubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    std::string sortText(HKOVAITEM item, int column) const;
    bool readMac(HKOVAITEM item, uint8_t mac[6]) const;

    veltrona::KovaLibrary &m_library;
    veltrona::ui::Platform &m_platform;
    int m_nSortColumn = -1;
    std::array<int, veltrona::kColumnCount> m_nSortDirection{};
    CDeviceListModel m_model;
};

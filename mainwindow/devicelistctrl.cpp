#include "devicelistctrl.h"

#include "fieldtext.h"
#include "pictures.h"

#include <QApplication>
#include <QBitmap>
#include <QCoreApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QPainter>
#include <QStaticText>
#include <QStyledItemDelegate>

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

namespace {

// The 1x and the 2x picture: the view takes the one of its screen's ratio.
QIcon maskedIcon(int id) {
    QIcon icon;
    for (qreal ratio : {1.0, 2.0}) {
        QPixmap picture = veltrona::res::loadBitmap(id, ratio);
        if (picture.isNull())
            continue;
        picture.setMask(picture.createMaskFromColor(Qt::black));
        icon.addPixmap(picture);
    }
    return icon;
}

// The rows' cells as the style draws them, but with their texts laid out once
// and kept: a scan repaints the same few cells many times, and shaping and
// eliding their texts anew each time is most of what a paint of the list
// costs.
class LaidOutTextDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override {
        QStyleOptionViewItem cell = option;
        initStyleOption(&cell, index);
        const QWidget *widget = cell.widget;
        const QStyle *style = widget != nullptr ? widget->style() : QApplication::style();
        const QString text = std::exchange(cell.text, QString());
        // Background, selection, picture and focus frame; the text's place
        // does not depend on the text.
        style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);
        if (text.isEmpty())
            return;
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &cell, widget)
                               .adjusted(margin, 0, -margin, 0);
        QPalette::ColorGroup group =
            cell.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
        if (group == QPalette::Normal && !(cell.state & QStyle::State_Active))
            group = QPalette::Inactive;
        painter->save();
        painter->setPen(cell.palette.color(group, cell.state & QStyle::State_Selected
                                                      ? QPalette::HighlightedText
                                                      : QPalette::Text));
        painter->setFont(cell.font);
        painter->setClipRect(area, Qt::IntersectClip);
        const QStaticText &laid = laidOut(text, cell, area.width());
        painter->drawStaticText(
            QPointF(area.left(), area.top() + (area.height() - laid.size().height()) / 2), laid);
        painter->restore();
    }

private:
    const QStaticText &laidOut(const QString &text, const QStyleOptionViewItem &cell,
                               int width) const {
        if (cell.font != m_font) {
            m_texts.clear();
            m_font = cell.font;
        }
        const Key key{text, width};
        if (const auto found = m_texts.constFind(key); found != m_texts.cend())
            return found.value();
        // Enough for every cell on a large screen; a scroll through many rows
        // starts the store afresh.
        if (m_texts.size() >= kMaxTexts)
            m_texts.clear();
        QStaticText laid(text);
        laid.setTextFormat(Qt::PlainText);
        laid.prepare(QTransform(), cell.font);
        if (laid.size().width() > width) {
            laid.setText(cell.fontMetrics.elidedText(text, cell.textElideMode, width));
            laid.prepare(QTransform(), cell.font);
        }
        return m_texts.insert(key, laid).value();
    }

    using Key = std::pair<QString, int>;
    static constexpr qsizetype kMaxTexts = 1024;
    mutable QHash<Key, QStaticText> m_texts;
    mutable QFont m_font;
};

// Texts are 8-bit: each byte is one character.
QString text8(const std::string &text) {
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

} // namespace

// ---- the rows ---------------------------------------------------------------

CDeviceListModel::CDeviceListModel(QObject *parent) : QAbstractTableModel(parent) {}

int CDeviceListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int CDeviceListModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : veltrona::kColumnCount;
}

QVariant CDeviceListModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= int(m_rows.size()))
        return {};
    if (role == Qt::DisplayRole)
        return text8(veltrona::columnText(at(index.row()).row, index.column()));
    if (role == Qt::DecorationRole && index.column() == 0)
        return m_rowIcon;
    return {};
}

QVariant CDeviceListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= veltrona::kColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return QCoreApplication::translate(veltrona::kTextContext,
                                           veltrona::kColumnTitles[size_t(section)]);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

uint64_t CDeviceListModel::macKey(const uint8_t mac[6]) {
    uint64_t key = 0;
    for (int i = 0; i < 6; ++i)
        key = (key << 8) | mac[i];
    return key;
}

int CDeviceListModel::append(std::span<const DeviceListRow> rows) {
    // A MAC address's text is a one-to-one function of its six bytes, so the
    // bytes identify the row just as its text does.
    std::vector<const DeviceListRow *> added;
    for (const DeviceListRow &row : rows) {
        const uint64_t key = macKey(row.row.mac);
        if (const auto listed = m_rowByMac.constFind(key); listed != m_rowByMac.cend()) {
            const size_t index = size_t(listed.value());
            noteSource(key, index < m_rows.size() ? m_rows[index] : *added[index - m_rows.size()],
                       row);
            continue;
        }
        m_rowByMac.insert(key, int(m_rows.size() + added.size()));
        added.push_back(&row);
    }
    if (added.empty())
        return 0;
    const int first = int(m_rows.size());
    beginInsertRows({}, first, first + int(added.size()) - 1);
    for (const DeviceListRow *row : added) {
        m_order.push_back(int(m_rows.size()));
        m_position.push_back(int(m_order.size() - 1));
        m_rows.push_back(*row);
    }
    m_itemMacs.resize(m_rows.size(), -1);
    endInsertRows();
    return int(added.size());
}

void CDeviceListModel::removeAll() {
    beginResetModel();
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_itemMacs.clear();
    m_itemMacs.shrink_to_fit();
    m_order.clear();
    m_order.shrink_to_fit();
    m_position.clear();
    m_position.shrink_to_fit();
    m_rowByMac.clear();
    m_otherSources.clear();
    endResetModel();
}

CDeviceListModel::Source CDeviceListModel::sourceOf(const DeviceListRow &row) {
    return {veltrona::fieldText(row.row.ipAddress), veltrona::fieldText(row.interfaceName)};
}

void CDeviceListModel::noteSource(uint64_t key, const DeviceListRow &listed,
                                  const DeviceListRow &again) {
    const Source source = sourceOf(again);
    if (source == sourceOf(listed))
        return;
    std::vector<Source> &others = m_otherSources[key];
    if (others.size() < kMaxOtherSources &&
        std::find(others.begin(), others.end(), source) == others.end())
        others.push_back(source);
}

std::vector<CDeviceListModel::Source> CDeviceListModel::replySources(const uint8_t mac[6]) const {
    const int row = find(mac);
    if (row < 0)
        return {};
    std::vector<Source> sources{sourceOf(at(row))};
    const auto others = m_otherSources.constFind(macKey(mac));
    if (others != m_otherSources.cend())
        sources.insert(sources.end(), others->begin(), others->end());
    return sources;
}

int CDeviceListModel::find(const uint8_t mac[6]) const {
    return findKey(macKey(mac));
}

namespace {

// A sort key's first 16 bytes as two big-endian numbers (zeros past its end):
// most comparisons of two keys are two integer comparisons.
struct SortEntry {
    uint64_t high;
    uint64_t low;
    int row;    // where it is shown
    int stored; // where it is stored
};

SortEntry sortEntry(std::string_view key, int row) {
    unsigned char bytes[16] = {};
    std::memcpy(bytes, key.data(), std::min(key.size(), sizeof bytes));
    uint64_t high = 0, low = 0;
    for (int i = 0; i < 8; ++i) {
        high = (high << 8) | bytes[i];
        low = (low << 8) | bytes[i + 8];
    }
    return {high, low, row, 0};
}

} // namespace

void CDeviceListModel::sortByItemColumn(int column, bool ascending) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // The keys are taken once per row instead of twice per comparison, in the
    // order the rows are stored (neighbouring memory); then each beside its
    // row in the order shown, so that a flip of the direction sorts rows that
    // are in order already.
    std::vector<std::string> keys(m_rows.size());
    for (size_t i = 0; i < m_rows.size(); ++i) {
        // Nearly always the item names its own row: no look-up then.
        const int64_t mac = m_itemMacs[i];
        const int named = mac < 0 ? -1
                          : uint64_t(mac) == macKey(m_rows[i].row.mac)
                              ? int(i)
                              : m_rowByMac.value(uint64_t(mac), -1);
        if (named >= 0)
            keys[i] = veltrona::columnText(m_rows[size_t(named)].row, column);
    }
    std::vector<SortEntry> order;
    order.reserve(m_order.size());
    for (size_t row = 0; row < m_order.size(); ++row) {
        SortEntry entry = sortEntry(keys[size_t(m_order[row])], int(row));
        entry.stored = m_order[row];
        order.push_back(entry);
    }
    // Byte by byte as unsigned bytes, as a plain string comparison does; keys
    // that agree in their first 16 bytes are compared whole. Equal keys keep
    // their row order, as a stable sort would, without its buffer.
    auto compare = [&keys](const SortEntry &a, const SortEntry &b) {
        if (a.high != b.high)
            return a.high < b.high ? -1 : 1;
        if (a.low != b.low)
            return a.low < b.low ? -1 : 1;
        const std::string &keyA = keys[size_t(a.stored)], &keyB = keys[size_t(b.stored)];
        return keyA.size() <= 16 && keyB.size() <= 16 && keyA.size() == keyB.size()
                   ? 0
                   : keyA.compare(keyB);
    };
    if (ascending)
        std::sort(order.begin(), order.end(), [&](const SortEntry &a, const SortEntry &b) {
            const int c = compare(a, b);
            return c != 0 ? c < 0 : a.row < b.row;
        });
    else
        std::sort(order.begin(), order.end(), [&](const SortEntry &a, const SortEntry &b) {
            const int c = compare(a, b);
            return c != 0 ? c > 0 : a.row < b.row;
        });
    // Only the positions move; the rows stay where they are.
    std::vector<int> newIndex(m_order.size()); // old row -> new row
    for (size_t i = 0; i < order.size(); ++i) {
        newIndex[size_t(order[i].row)] = int(i);
        m_order[i] = order[i].stored;
        m_position[size_t(order[i].stored)] = int(i);
    }
    // The selection and the current row follow their rows.
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex &index : from)
        to << this->index(newIndex[size_t(index.row())], index.column());
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

// ---- the control --------------------------------------------------------------

CDeviceListCtrl::CDeviceListCtrl(QWidget *parent, veltrona::KovaLibrary &library,
                                 veltrona::ui::Platform &platform)
    : QTreeView(parent), m_library(library), m_platform(platform) {
    // The row image: the 16 x 16 blue disc, black masked out.
    m_model.setRowIcon(maskedIcon(veltrona::res::IDB_LIST_BLUE_16));
    setModel(&m_model);
    setItemDelegate(new LaidOutTextDelegate(this));
    connect(&m_model, &QAbstractItemModel::rowsInserted, this, [this] { ClearEmptyText(); });
    m_paintTimer.setSingleShot(true);
    connect(&m_paintTimer, &QTimer::timeout, this, &CDeviceListCtrl::paintRows);
}

void CDeviceListCtrl::paceRows() {
    if (m_paintTimer.isActive() || !m_sincePaint.isValid())
        return;
    const qint64 since = m_sincePaint.elapsed();
    if (since >= kPaintPaceMs)
        return;
    viewport()->setUpdatesEnabled(false);
    m_paintTimer.start(int(kPaintPaceMs - since));
}

void CDeviceListCtrl::paintRows() {
    m_paintTimer.stop();
    viewport()->setUpdatesEnabled(true); // and schedules the paint
}

void CDeviceListCtrl::scrollContentsBy(int dx, int dy) {
    paintRows();
    QTreeView::scrollContentsBy(dx, dy);
}

void CDeviceListCtrl::selectionChanged(const QItemSelection &selected,
                                       const QItemSelection &deselected) {
    paintRows();
    QTreeView::selectionChanged(selected, deselected);
}

void CDeviceListCtrl::ShowEmptyText(const QString &text) {
    if (m_strEmptyText.isEmpty())
        m_strDescription = accessibleDescription();
    m_strEmptyText = text;
    setAccessibleDescription(text);
    viewport()->update();
}

void CDeviceListCtrl::ClearEmptyText() {
    if (m_strEmptyText.isEmpty())
        return;
    m_strEmptyText.clear();
    setAccessibleDescription(m_strDescription);
    viewport()->update();
}

void CDeviceListCtrl::paintEvent(QPaintEvent *event) {
    m_sincePaint.start();
    QTreeView::paintEvent(event);
    if (m_strEmptyText.isEmpty() || m_model.rowCount() != 0)
        return;
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::PlaceholderText));
    const int margin = fontMetrics().averageCharWidth() * 3;
    painter.drawText(viewport()->rect().adjusted(margin, margin, -margin, -margin),
                     Qt::AlignCenter | Qt::TextWordWrap, m_strEmptyText);
}

bool CDeviceListCtrl::readMac(HKOVAITEM item, uint8_t mac[6]) const {
    KOVA_DEVICE_INFO info{};
    if (m_library.getDeviceInfo(item, &info) != KOVA_OK)
        return false;
    std::memcpy(mac, info.mac, 6);
    return true;
}

void CDeviceListCtrl::InitColumns() {
    for (int column = 0; column < veltrona::kColumnCount; ++column) {
        setColumnWidth(column, veltrona::kColumnWidths[column]);
        m_nSortDirection[column] = 0;
    }
    m_nSortColumn = -1;

    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSortingEnabled(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAllColumnsShowFocus(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setIconSize(QSize(16, 16));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(true);
    header()->setSectionsClickable(true);
    header()->setSortIndicatorShown(false);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(header(), &QHeaderView::sectionClicked, this, &CDeviceListCtrl::OnColumnClick,
            Qt::UniqueConnection);
}

int CDeviceListCtrl::AddDevice(const DEVICE_ROW *row, HKOVAITEM item) {
    if (row == nullptr) {
        m_platform.messageBox(this, tr("Invalid data"));
        return 0;
    }
    const DeviceListRow added{*row, item};
    const int first = m_model.rowCount();
    const int count = m_model.append({&added, 1});
    readItemMacs(first);
    return count;
}

void CDeviceListCtrl::readItemMacs(int first) {
    for (int index = first; index < m_model.rowCount(); ++index) {
        uint8_t mac[6];
        m_model.setItemMac(
            index, readMac(m_model.at(index).item, mac) ? int64_t(veltrona::macKey(mac)) : -1);
    }
}

int CDeviceListCtrl::AddDevices(std::span<const DeviceListRow> rows) {
    paceRows();
    const int first = m_model.rowCount();
    const int added = m_model.append(rows);
    readItemMacs(first);
    return added;
}

int CDeviceListCtrl::FindDevice(const uint8_t mac[6]) const {
    return m_model.find(mac);
}

std::vector<veltrona::change::HeardDevice> CDeviceListCtrl::HeardDevices() const {
    std::vector<veltrona::change::HeardDevice> heard;
    heard.reserve(size_t(m_model.rowCount()));
    for (int i = 0; i < m_model.rowCount(); ++i) {
        const DeviceListRow &listed = m_model.at(i);
        // The addresses the engine counts as held, as for the client: every
        // one the device answered from and a static device's configured one.
        KOVA_NETWORK_SETTINGS network{};
        network.mode = listed.configuredAddress[0] != '\0' ? KOVA_MODE_STATIC : KOVA_MODE_DHCP;
        std::memcpy(network.ipAddress, listed.configuredAddress, sizeof listed.configuredAddress);
        // Host names are 8-bit texts; the checks' messages are UTF-8.
        const std::string mac = veltrona::formatMac(listed.row.mac);
        const std::string host = text8(veltrona::fieldText(listed.row.hostName)).toStdString();
        for (uint32_t address :
             veltrona::change::heldAddresses(ReplyPlaces(listed.row.mac), network))
            heard.push_back({mac, host, address});
    }
    return heard;
}

std::vector<veltrona::Place> CDeviceListCtrl::ReplyPlaces(const uint8_t mac[6]) const {
    std::vector<veltrona::Place> places;
    for (const CDeviceListModel::Source &source : m_model.replySources(mac))
        places.push_back({source.address, source.interfaceName});
    return places;
}

QStringList CDeviceListCtrl::ReplySources(const uint8_t mac[6]) const {
    QStringList texts;
    for (const CDeviceListModel::Source &source : m_model.replySources(mac)) {
        texts << (source.interfaceName.empty()
                      ? text8(source.address)
                      : tr("%1 on %2").arg(text8(source.address), text8(source.interfaceName)));
    }
    return texts;
}

std::string CDeviceListCtrl::sortText(HKOVAITEM item, int column) const {
    uint8_t mac[6];
    if (!readMac(item, mac))
        return {};
    const int row = FindDevice(mac);
    return row < 0 ? std::string() : veltrona::columnText(m_model.at(row).row, column);
}

int CDeviceListCtrl::CompareRows(HKOVAITEM item1, HKOVAITEM item2, int column) const {
    if (column < 0 || column >= veltrona::kColumnCount)
        return 0;
    // Byte by byte as unsigned bytes, as a plain string comparison does.
    const int order = sortText(item1, column).compare(sortText(item2, column));
    const int sign = order < 0 ? -1 : order > 0 ? 1 : 0;
    return m_nSortDirection[column] > 0 ? sign : -sign;
}

void CDeviceListCtrl::OnColumnClick(int column) {
    if (column < 0 || column >= veltrona::kColumnCount)
        return;
    paintRows();
    if (column == m_nSortColumn)
        m_nSortDirection[column] = m_nSortDirection[column] > 0 ? -1 : 1;
    else
        m_nSortColumn = column;

    // Each row's key is what CompareRows would look up for its item, from the
    // MAC address the item was read to when its row was added; the sort is
    // stable, so rows with equal keys keep their order in either direction.
    m_model.sortByItemColumn(column, m_nSortDirection[column] > 0);
}

void CDeviceListCtrl::DeleteAllItems() {
    // Clearing the selection first tells the window that nothing is selected.
    selectionModel()->clear();
    paintRows();
    m_model.removeAll();
    ClearEmptyText();
}

int CDeviceListCtrl::GetSelectedCount() const {
    return int(selectionModel()->selectedRows().size());
}

int CDeviceListCtrl::GetFirstSelectedItem() const {
    int first = -1;
    for (const QModelIndex &index : selectionModel()->selectedRows()) {
        if (first < 0 || index.row() < first)
            first = index.row();
    }
    return first;
}

HKOVAITEM CDeviceListCtrl::GetItemData(int row) const {
    return row >= 0 && row < GetItemCount() ? m_model.at(row).item : nullptr;
}

QString CDeviceListCtrl::GetItemText(int row, int column) const {
    if (row < 0 || row >= GetItemCount())
        return {};
    return text8(veltrona::columnText(m_model.at(row).row, column));
}

void CDeviceListCtrl::mouseDoubleClickEvent(QMouseEvent *event) {
    const Qt::MouseButton button = event->button();
    QTreeView::mouseDoubleClickEvent(event);
    if (button == Qt::LeftButton)
        emit leftDoubleClicked();
    else if (button == Qt::RightButton)
        emit rightDoubleClicked();
}

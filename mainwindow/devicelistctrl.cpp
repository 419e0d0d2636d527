#include "devicelistctrl.h"

#include "messagebox.h"
#include "pictures.h"

#include <QBitmap>
#include <QHeaderView>
#include <QMouseEvent>

#include <cstring>

namespace {

constexpr int kItemRole = Qt::UserRole;

CDeviceListCtrl::MacReader &macReader() {
    static CDeviceListCtrl::MacReader reader;
    return reader;
}

bool readMac(HKOVAITEM item, uint8_t mac[6]) {
    if (macReader())
        return macReader()(item, mac);
    KOVA_DEVICE_INFO info{};
    if (kova_GetDeviceInfo(item, &info) != KOVA_OK)
        return false;
    std::memcpy(mac, info.mac, 6);
    return true;
}

QIcon maskedIcon(int id) {
    QPixmap picture = veltrona::res::loadBitmap(id);
    if (!picture.isNull())
        picture.setMask(picture.createMaskFromColor(Qt::black));
    return QIcon(picture);
}

// Texts are 8-bit: each byte is one character, so comparing the strings'
// code units compares the bytes as unsigned values.
QString text8(const std::string &text) {
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

// A row that sorts by a key set just before each sort.
class DeviceRowItem : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    QString sortKey;
    bool operator<(const QTreeWidgetItem &other) const override {
        return sortKey.compare(static_cast<const DeviceRowItem &>(other).sortKey) < 0;
    }
};

} // namespace

CDeviceListCtrl::CDeviceListCtrl(QWidget *parent)
    : QTreeWidget(parent), m_rowIcon(maskedIcon(veltrona::res::IDB_LIST_BLUE_16)) {}

CDeviceListCtrl::MacReader CDeviceListCtrl::setMacReader(MacReader reader) {
    MacReader previous = std::move(macReader());
    macReader() = std::move(reader);
    return previous;
}

void CDeviceListCtrl::InitColumns() {
    setColumnCount(veltrona::kColumnCount);
    QStringList titles;
    for (const char *title : veltrona::kColumnTitles)
        titles << QString::fromLatin1(title);
    setHeaderLabels(titles);
    for (int column = 0; column < veltrona::kColumnCount; ++column) {
        headerItem()->setTextAlignment(column, Qt::AlignLeft | Qt::AlignVCenter);
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

uint64_t CDeviceListCtrl::macKey(const uint8_t mac[6]) {
    uint64_t key = 0;
    for (int i = 0; i < 6; ++i)
        key = (key << 8) | mac[i];
    return key;
}

int CDeviceListCtrl::AddDevice(const DEVICE_ROW *row, HKOVAITEM item) {
    if (row == nullptr) {
        veltrona::ui::messageBox(this, QStringLiteral("Invalid data"));
        return 0;
    }
    // A MAC address's text is a one-to-one function of its six bytes, so the
    // bytes identify the row just as its text does.
    const uint64_t key = macKey(row->mac);
    if (m_rowByMac.contains(key))
        return 0;
    auto *rowItem = new DeviceRowItem();
    const auto texts = veltrona::rowTexts(*row);
    for (int column = 0; column < veltrona::kColumnCount; ++column)
        rowItem->setText(column, text8(texts[column]));
    rowItem->setIcon(0, m_rowIcon);
    rowItem->setData(0, kItemRole, QVariant::fromValue(reinterpret_cast<quintptr>(item)));
    addTopLevelItem(rowItem);
    m_rowByMac.insert(key, rowItem);
    return 1;
}

int CDeviceListCtrl::FindDevice(const uint8_t mac[6]) const {
    const auto found = m_rowByMac.constFind(macKey(mac));
    return found == m_rowByMac.cend() ? -1 : indexOfTopLevelItem(found.value());
}

QString CDeviceListCtrl::sortText(HKOVAITEM item, int column) const {
    uint8_t mac[6];
    if (!readMac(item, mac))
        return {};
    const auto found = m_rowByMac.constFind(macKey(mac));
    return found == m_rowByMac.cend() ? QString() : found.value()->text(column);
}

int CDeviceListCtrl::CompareRows(HKOVAITEM item1, HKOVAITEM item2, int column) const {
    if (column < 0 || column >= veltrona::kColumnCount)
        return 0;
    const QString text1 = sortText(item1, column);
    const QString text2 = sortText(item2, column);
    const int order = text1.compare(text2);
    const int sign = order < 0 ? -1 : order > 0 ? 1 : 0;
    return m_nSortDirection[column] > 0 ? sign : -sign;
}

void CDeviceListCtrl::OnColumnClick(int column) {
    if (column < 0 || column >= veltrona::kColumnCount)
        return;
    if (column == m_nSortColumn)
        m_nSortDirection[column] = m_nSortDirection[column] > 0 ? -1 : 1;
    else
        m_nSortColumn = column;

    // Each row's key is what CompareRows would look up for its item, taken once
    // per row instead of twice per comparison; the model's sort is stable, so
    // rows with equal keys keep their order in either direction.
    const int count = topLevelItemCount();
    for (int index = 0; index < count; ++index) {
        auto *rowItem = static_cast<DeviceRowItem *>(topLevelItem(index));
        rowItem->sortKey = sortText(GetItemData(index), column);
    }
    sortItems(column, m_nSortDirection[column] > 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
    for (int index = 0; index < count; ++index)
        static_cast<DeviceRowItem *>(topLevelItem(index))->sortKey.clear();
}

void CDeviceListCtrl::DeleteAllItems() {
    m_rowByMac.clear();
    clear();
}

int CDeviceListCtrl::GetSelectedCount() const {
    return int(selectedItems().size());
}

int CDeviceListCtrl::GetFirstSelectedItem() const {
    int first = -1;
    for (QTreeWidgetItem *rowItem : selectedItems()) {
        const int index = indexOfTopLevelItem(rowItem);
        if (index >= 0 && (first < 0 || index < first))
            first = index;
    }
    return first;
}

HKOVAITEM CDeviceListCtrl::GetItemData(int row) const {
    const QTreeWidgetItem *rowItem = topLevelItem(row);
    if (rowItem == nullptr)
        return nullptr;
    return reinterpret_cast<HKOVAITEM>(rowItem->data(0, kItemRole).value<quintptr>());
}

QString CDeviceListCtrl::GetItemText(int row, int column) const {
    const QTreeWidgetItem *rowItem = topLevelItem(row);
    return rowItem ? rowItem->text(column) : QString();
}

void CDeviceListCtrl::mouseDoubleClickEvent(QMouseEvent *event) {
    const Qt::MouseButton button = event->button();
    QTreeWidget::mouseDoubleClickEvent(event);
    if (button == Qt::LeftButton)
        emit leftDoubleClicked();
    else if (button == Qt::RightButton)
        emit rightDoubleClicked();
}

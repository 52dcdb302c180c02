#include "import/devicestoaddtablemodel.h"

#include <QBrush>
#include <QColor>
#include <QSet>

#include "core/aside.h"
#include "core/schema.h"

#include <algorithm>
#include <iterator>
#include <numeric>
#include <tuple>
#include <utility>

namespace {
enum Column { CheckColumn = 0, ImeiColumn = 2, NameColumn = 3, ColumnCount = 4 };

constexpr quint64 largestImei = 999999999999999ULL;

QString stateText(const DeviceToAddRow& row) {
    switch (row.state) {
    case DeviceToAddRow::New:
        if (row.imeiSuspect && row.nameCut)
            return QStringLiteral("проверьте IMEI, имя обрезано");
        return row.imeiSuspect ? QStringLiteral("проверьте IMEI")
               : row.nameCut   ? QStringLiteral("имя обрезано")
                               : QStringLiteral("новое");
    case DeviceToAddRow::Stored:
        return QStringLiteral("уже в базе");
    case DeviceToAddRow::Repeated:
        return QStringLiteral("повтор в списке");
    default:
        return QStringLiteral("неверный IMEI");
    }
}

QString imeiShown(const DeviceToAddRow& row) {
    return row.imeiWritten.isEmpty() ? imeiText(row.device.imei) : row.imeiWritten;
}

// Light backgrounds with dark text, so that the states read the same in a dark theme.
QColor stateBackground(DeviceToAddRow::State state) {
    switch (state) {
    case DeviceToAddRow::Stored:
        return QColor(0xe3, 0xec, 0xf7);
    case DeviceToAddRow::Repeated:
        return QColor(0xff, 0xf1, 0xc7);
    default:
        return QColor(0xfb, 0xdd, 0xdd);
    }
}
bool rowLess(const QVector<DeviceToAddRow>& rows, int column, int a, int b) {
    const DeviceToAddRow& x = rows.at(a);
    const DeviceToAddRow& y = rows.at(b);
    switch (column) {
    case CheckColumn:
        return x.checked > y.checked;
    case DevicesToAddTableModel::StateColumn:
        // new rows first, the ones to check among them after the plain ones
        return std::make_tuple(x.state, x.imeiSuspect || x.nameCut) <
               std::make_tuple(y.state, y.imeiSuspect || y.nameCut);
    case ImeiColumn:
        return x.device.imei < y.device.imei;
    default:
        return QString::compare(x.device.name, y.device.name, Qt::CaseInsensitive) < 0;
    }
}
} // namespace

DevicesToAddTableModel::DevicesToAddTableModel(QObject* parent)
    : QAbstractTableModel(parent) {}

DevicesToAddTableModel::~DevicesToAddTableModel() {
    // millions of rows are freed aside
    Aside::shared().run([old = std::move(rows)] {});
}

int DevicesToAddTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows.size();
}

int DevicesToAddTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant DevicesToAddTableModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QVariant();
    const DeviceToAddRow& row = rows.at(index.row());
    switch (role) {
    case RecordRole:
        return QVariant::fromValue(row.device);
    case Qt::BackgroundRole:
        if (row.state == DeviceToAddRow::New)
            return row.imeiSuspect || row.nameCut ? QBrush(stateBackground(DeviceToAddRow::Repeated))
                                                  : QVariant();
        return QBrush(stateBackground(row.state));
    case Qt::ForegroundRole:
        if (row.state != DeviceToAddRow::New || row.imeiSuspect || row.nameCut)
            return QBrush(QColor(0x20, 0x20, 0x20));
        return index.column() == StateColumn ? QBrush(QColor(0x1b, 0x7a, 0x2f)) : QVariant();
    default:
        break;
    }
    switch (index.column()) {
    case CheckColumn:
        if (role == Qt::CheckStateRole)
            return row.checked ? Qt::Checked : Qt::Unchecked;
        break;
    case StateColumn:
        if (role == Qt::DisplayRole)
            return stateText(row);
        if (role == Qt::ToolTipRole && row.state == DeviceToAddRow::Stored &&
            row.storedName != row.device.name)
            return QStringLiteral("Имя в базе: %1").arg(row.storedName);
        if (role == Qt::ToolTipRole && row.state == DeviceToAddRow::New && (row.imeiSuspect || row.nameCut))
            return QStringList{
                row.imeiSuspect ? QStringLiteral("Контрольная цифра IMEI не сходится.") : QString(),
                row.nameCut ? QStringLiteral("Имя длиннее %1 знаков обрезано.").arg(NAME_MAX_LENGTH)
                            : QString()}
                .join(QLatin1Char(' '))
                .trimmed();
        break;
    case ImeiColumn:
        if (role == Qt::DisplayRole)
            return imeiShown(row);
        break;
    case NameColumn:
        if (role == Qt::DisplayRole)
            return row.device.name;
        break;
    default:
        break;
    }
    return QVariant();
}

bool DevicesToAddTableModel::rowContains(int row, const QString& text) const {
    const DeviceToAddRow& r = rows.at(row);
    return r.device.name.contains(text) || imeiShown(r).contains(text) || stateText(r).contains(text);
}

bool DevicesToAddTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    if (role == Qt::CheckStateRole && index.column() == CheckColumn) {
        DeviceToAddRow& row = rows[index.row()];
        if (!tickable(row))
            return false;
        setChecked(row, value.toInt() == Qt::Checked);
    }
    emit dataChanged(index, index);
    return true;
}

QVariant DevicesToAddTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return section < 0 || section >= rows.size() ? QVariant()
               : section < lines.size()              ? QVariant(lines.at(section))
                                                     : QVariant(section + 1);
    switch (section) {
    case CheckColumn:
        return QString();
    case StateColumn:
        return tr("Состояние");
    case ImeiColumn:
        return tr("IMEI устройства");
    case NameColumn:
        return tr("Имя устройства");
    default:
        return QVariant();
    }
}

Qt::ItemFlags DevicesToAddTableModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags base = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == CheckColumn) {
        // a box that cannot be ticked is drawn greyed out
        if (tickable(rows.at(index.row())))
            base |= Qt::ItemIsUserCheckable;
        else
            base &= ~Qt::ItemIsEnabled;
    }
    return base;
}

void DevicesToAddTableModel::setDevices(const QVector<DeviceInfo>& devices,
                                        const QHash<quint64, QPair<int, QString>>& stored,
                                        const QVector<NumberedText>& wrongLength,
                                        const QVector<int>& cutNames, const QVector<int>& lineNumbers) {
    setRows(makeRows(devices, stored, wrongLength, cutNames, lineNumbers));
}

DevicesToAddRows DevicesToAddTableModel::makeRows(const QVector<DeviceInfo>& devices,
                                                  const QHash<quint64, QPair<int, QString>>& stored,
                                                  const QVector<NumberedText>& wrongLength,
                                                  const QVector<int>& cutNames,
                                                  const QVector<int>& lineNumbers) {
    DevicesToAddRows made;
    made.lines = lineNumbers;
    QVector<DeviceToAddRow>& rows = made.rows;
    rows.reserve(devices.size());
    QSet<quint64> seen;
    seen.reserve(devices.size());
    auto wrong = wrongLength.cbegin();
    auto cut = cutNames.cbegin();
    for (int i = 0; i < devices.size(); ++i) {
        DeviceToAddRow row{false, devices.at(i), DeviceToAddRow::New, 0, QString(), QString(), false, false};
        const quint64 imei = row.device.imei;
        while (wrong != wrongLength.cend() && wrong->number < i)
            ++wrong;
        if (wrong != wrongLength.cend() && wrong->number == i)
            row.imeiWritten = wrong->text;
        while (cut != cutNames.cend() && *cut < i)
            ++cut;
        row.nameCut = cut != cutNames.cend() && *cut == i;
        const auto it = stored.constFind(imei);
        if (seen.contains(imei)) {
            row.state = DeviceToAddRow::Repeated;
        } else if (it != stored.constEnd()) {
            row.state = DeviceToAddRow::Stored;
            row.storedId = it.value().first;
            row.storedName = it.value().second;
        } else if (imei == 0 || imei > largestImei || !row.imeiWritten.isEmpty()) {
            row.state = DeviceToAddRow::InvalidImei;
        } else {
            row.imeiSuspect = !imeiCheckDigitOk(imei);
        }
        seen.insert(imei);
        ++made.counts[row.state];
        rows.append(row);
    }
    made.byState.resize(rows.size());
    std::iota(made.byState.begin(), made.byState.end(), 0);
    std::stable_sort(made.byState.begin(), made.byState.end(),
                     [&rows](int a, int b) { return rowLess(rows, StateColumn, a, b); });
    return made;
}

void DevicesToAddTableModel::setRows(DevicesToAddRows made) {
    beginResetModel();
    Aside::shared().run([old = std::exchange(rows, std::move(made.rows))] {});
    lines = std::move(made.lines);
    byState = std::move(made.byState);
    std::copy(std::begin(made.counts), std::end(made.counts), std::begin(counts));
    checked = 0;
    endResetModel();
}

const QVector<int>* DevicesToAddTableModel::sortedRows(int column, Qt::SortOrder order) const {
    return column == StateColumn && order == Qt::AscendingOrder && byState.size() == rows.size() ? &byState
                                                                                                 : nullptr;
}

bool DevicesToAddTableModel::lessThan(int column, int a, int b) const {
    return rowLess(rows, column, a, b);
}

void DevicesToAddTableModel::setStoredTickable(bool tickable) {
    if (tickable == storedTickable)
        return;
    storedTickable = tickable;
    for (DeviceToAddRow& row : rows) {
        if (row.state == DeviceToAddRow::Stored)
            setChecked(row, false);
    }
    if (!rows.isEmpty())
        emit dataChanged(index(0, CheckColumn), index(rows.size() - 1, CheckColumn));
}

void DevicesToAddTableModel::setAllChecked(bool on) {
    if (rows.isEmpty())
        return;
    for (DeviceToAddRow& row : rows) {
        if (tickable(row))
            setChecked(row, on);
    }
    // One change notice for the check column keeps the views' selection and scroll position,
    // and spares a proxy from filtering every row again.
    emit dataChanged(index(0, CheckColumn), index(rows.size() - 1, CheckColumn), {Qt::CheckStateRole});
}

void DevicesToAddTableModel::setRowsChecked(const QVector<int>& rowNumbers, bool on) {
    int first = rows.size(), last = -1;
    for (int row : rowNumbers) {
        if (row < 0 || row >= rows.size() || !tickable(rows.at(row)))
            continue;
        setChecked(rows[row], on);
        first = qMin(first, row);
        last = qMax(last, row);
    }
    if (last >= 0)
        emit dataChanged(index(first, CheckColumn), index(last, CheckColumn), {Qt::CheckStateRole});
}

QVector<int> DevicesToAddTableModel::checkedNewRows() const {
    QVector<int> result;
    for (int i = 0; i < rows.size(); ++i) {
        if (rows.at(i).checked && rows.at(i).state == DeviceToAddRow::New)
            result.append(i);
    }
    return result;
}

QVector<int> DevicesToAddTableModel::checkedStoredIds() const {
    QVector<int> ids;
    for (const DeviceToAddRow& row : rows) {
        if (row.checked && row.state == DeviceToAddRow::Stored)
            ids.append(row.storedId);
    }
    return ids;
}

bool DevicesToAddTableModel::tickable(const DeviceToAddRow& row) const {
    return row.state == DeviceToAddRow::New || (storedTickable && row.state == DeviceToAddRow::Stored);
}

void DevicesToAddTableModel::setChecked(DeviceToAddRow& row, bool on) {
    if (row.checked != on) {
        row.checked = on;
        checked += on ? 1 : -1;
    }
}

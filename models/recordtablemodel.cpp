#include "models/recordtablemodel.h"

#include "core/records.h"
#include "db/confighandler.h"

#include <QThread>

#include <vector>

namespace {

inline bool isDigit(QChar c) {
    return c.unicode() >= '0' && c.unicode() <= '9';
}

inline ushort folded(QChar c) {
    const ushort u = c.unicode();
    if (u < 0x80)
        return u >= 'A' && u <= 'Z' ? ushort(u + ('a' - 'A')) : u;
    return c.toCaseFolded().unicode();
}

} // namespace

int naturalCompare(const QString& a, const QString& b) {
    const QChar* p = a.constData();
    const QChar* const pe = p + a.size();
    const QChar* q = b.constData();
    const QChar* const qe = q + b.size();
    while (p < pe && q < qe) {
        if (isDigit(*p) && isDigit(*q)) {
            while (p < pe && *p == QLatin1Char('0'))
                ++p;
            while (q < qe && *q == QLatin1Char('0'))
                ++q;
            const QChar* ps = p;
            const QChar* qs = q;
            while (p < pe && isDigit(*p))
                ++p;
            while (q < qe && isDigit(*q))
                ++q;
            // the longer run without leading zeros is the larger number
            if (p - ps != q - qs)
                return p - ps < q - qs ? -1 : 1;
            for (; ps < p; ++ps, ++qs) {
                if (*ps != *qs)
                    return ps->unicode() < qs->unicode() ? -1 : 1;
            }
            continue;
        }
        const ushort x = folded(*p);
        const ushort y = folded(*q);
        if (x != y)
            return x < y ? -1 : 1;
        ++p;
        ++q;
    }
    if (p < pe || q < qe)
        return p < pe ? 1 : -1;
    const int plain = QString::compare(a, b);
    return plain < 0 ? -1 : plain > 0 ? 1 : 0;
}

RecordTableModel::RecordTableModel(QObject* parent, const QStringList& titles)
    : QAbstractTableModel(parent)
    , titles(titles) {}

void RecordTableModel::clear() {
    beginResetModel();
    clearRecords();
    shown.clear();
    endResetModel();
}

void RecordTableModel::rebuildShown() {
    const int n = storedSize();
    QVector<int> candidates;
    // an empty table has no column orders yet, but may be given its sort already
    if (n == 0 || sortedColumn < 0 || sortedColumn >= columnCount()) {
        candidates.resize(n);
        for (int i = 0; i < n; ++i)
            candidates[i] = i;
    } else if (sortedOrder == Qt::AscendingOrder) {
        candidates = ascending(sortedColumn);
    } else {
        const QVector<int>& order = ascending(sortedColumn);
        candidates.reserve(n);
        for (auto it = order.crbegin(); it != order.crend(); ++it)
            candidates.append(*it);
    }
    shown = matching(candidates);
}

QVector<int> RecordTableModel::matching(const QVector<int>& candidates) const {
    if (foldedFilter.isEmpty())
        return candidates;
    prepareMatching(foldedFilter);
    const int n = candidates.size();
    // a million rows are looked at on every core
    const int parts = n < 20000 ? 1 : int(qBound(1, QThread::idealThreadCount(), 8));
    std::vector<QVector<int>> found(parts);
    const auto scan = [&](int part) {
        QVector<int>& out = found[part];
        for (int i = int(qint64(n) * part / parts), to = int(qint64(n) * (part + 1) / parts); i < to; ++i) {
            if (matches(candidates.at(i), foldedFilter))
                out.append(candidates.at(i));
        }
    };
    Aside::shared().forEach(parts, scan);
    QVector<int> result = std::move(found[0]);
    for (int part = 1; part < parts; ++part)
        result += found[part];
    return result;
}

int RecordTableModel::shownPosition(int index) const {
    const bool byColumn = sortedColumn >= 0 && sortedColumn < columnCount();
    const auto before = [&](int a, int b) {
        if (!byColumn)
            return a < b;
        return sortedOrder == Qt::AscendingOrder ? lessAt(sortedColumn, a, b) : lessAt(sortedColumn, b, a);
    };
    return int(std::lower_bound(shown.cbegin(), shown.cend(), index, before) - shown.cbegin());
}

void RecordTableModel::setFilterText(const QString& text) {
    const QString needle = text.toCaseFolded();
    if (needle == foldedFilter)
        return;
    beginResetModel();
    const bool narrower = !foldedFilter.isEmpty() && needle.contains(foldedFilter);
    filter = text;
    foldedFilter = needle;
    if (narrower)
        shown = matching(shown); // a longer text can only drop rows: look at the shown ones only
    else
        rebuildShown();
    endResetModel();
}

void RecordTableModel::sort(int column, Qt::SortOrder order) {
    if (column == sortedColumn && order == sortedOrder)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    QVector<int> stored;
    stored.reserve(before.size());
    for (const QModelIndex& i : before)
        stored.append(shown.value(i.row(), -1));
    sortedColumn = column;
    sortedOrder = order;
    rebuildShown();
    QVector<int> positionOf(storedSize(), -1);
    for (int row = 0; row < shown.size(); ++row)
        positionOf[shown.at(row)] = row;
    QModelIndexList after;
    after.reserve(before.size());
    for (int k = 0; k < before.size(); ++k) {
        const int row = stored.at(k) >= 0 ? positionOf.at(stored.at(k)) : -1;
        after.append(row >= 0 ? index(row, before.at(k).column()) : QModelIndex());
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int RecordTableModel::rowOfId(int id) const {
    int lo = 0;
    int hi = storedSize();
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (storedId(mid) < id)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo >= storedSize() || storedId(lo) != id)
        return -1;
    if (shown.size() == storedSize() && sortedColumn < 0)
        return lo;
    return shown.indexOf(lo);
}

int RecordTableModel::idAt(int row) const {
    return row >= 0 && row < shown.size() ? storedId(shown.at(row)) : -1;
}

int RecordTableModel::rowCount(const QModelIndex& parent) const {
    // a table: cells have no children
    return parent.isValid() ? 0 : shown.size();
}

int RecordTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : titles.size();
}

QVariant RecordTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.model() != this || index.row() >= shown.size())
        return QVariant();
    if (role == RecordRole)
        return record(shown.at(index.row()));
    if (role == Qt::DisplayRole)
        return cell(shown.at(index.row()), index.column());
    return QVariant();
}

bool RecordTableModel::setData(const QModelIndex& /*index*/, const QVariant& /*value*/, int /*role*/) {
    return false;
}

QVariant RecordTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return section + 1;
    if (section < 0 || section >= titles.size())
        return QVariant();
    return titles.at(section);
}

Qt::ItemFlags RecordTableModel::flags(const QModelIndex& index) const {
    return QAbstractTableModel::flags(index);
}

TablesSnapshot RecordTableModel::readTables(ConfigHandler& handler) {
    TablesSnapshot snapshot;
    QString error;
    handler.loadTables(snapshot, error);
    return snapshot;
}

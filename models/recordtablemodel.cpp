#include "models/recordtablemodel.h"

#include "core/records.h"
#include "db/confighandler.h"

#include <QThread>

#include <utility>
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

// The candidates that match, in their order; a million rows are looked at on every core. Stops
// early, with a result nobody wants, once `stale` says so.
QVector<int> scan(const QVector<int>& candidates, const std::function<bool(int)>& matches,
                  const std::function<bool()>& stale = {}) {
    const int n = candidates.size();
    const int parts = n < RecordTableModel::asideFrom ? 1 : int(qBound(1, QThread::idealThreadCount(), 8));
    std::vector<QVector<int>> found(parts);
    const auto part = [&](int part) {
        QVector<int>& out = found[part];
        const int to = int(qint64(n) * (part + 1) / parts);
        for (int i = int(qint64(n) * part / parts); i < to; ++i) {
            if ((i & 0xfff) == 0 && stale && stale())
                return;
            if (matches(candidates.at(i)))
                out.append(candidates.at(i));
        }
    };
    Aside::shared().forEach(parts, part);
    QVector<int> result = std::move(found[0]);
    for (int i = 1; i < parts; ++i)
        result += found[i];
    return result;
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
    ++rowsVersion;
    beginResetModel();
    clearRecords();
    shown.clear();
    endResetModel();
}

QVector<int> RecordTableModel::unfiltered() const {
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
    return candidates;
}

void RecordTableModel::rebuildShown() {
    shown = matching(unfiltered());
}

QVector<int> RecordTableModel::matching(const QVector<int>& candidates) const {
    if (foldedFilter.isEmpty())
        return candidates;
    prepareMatching(foldedFilter);
    return scan(candidates, [this](int index) { return matches(index, foldedFilter); });
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
    ++*filterSerial;
    if (needle == foldedFilter)
        return;
    // a longer text can only drop rows: look at the shown ones only
    const bool narrower = !foldedFilter.isEmpty() && needle.contains(foldedFilter);
    const QVector<int> candidates = narrower ? shown : unfiltered();
    if (needle.isEmpty()) {
        showFiltered(text, needle, candidates);
        return;
    }
    prepareMatching(needle);
    showFiltered(text, needle, scan(candidates, [&](int index) { return matches(index, needle); }));
}

void RecordTableModel::filterAside(const QString& text) {
    const QString needle = text.toCaseFolded();
    // showing every row is no scan
    if (storedSize() < asideFrom || needle.isEmpty()) {
        setFilterText(text);
        return;
    }
    ++*filterSerial;
    if (needle != foldedFilter)
        filterLater(text, needle);
}

void RecordTableModel::filterLater(const QString& text, const QString& needle) {
    const int serial = *filterSerial;
    const int version = rowsVersion;
    const bool narrower = !foldedFilter.isEmpty() && needle.contains(foldedFilter);
    QVector<int> candidates = narrower ? shown : unfiltered();
    Matcher matches = matcherFor(needle);
    const auto found = std::make_shared<QVector<int>>();
    Aside::shared().run(
        this,
        [found, candidates = std::move(candidates), matches = std::move(matches), latest = filterSerial,
         serial] { *found = scan(candidates, matches, [&latest, serial] { return *latest != serial; }); },
        [this, found, serial, version, text, needle] {
            if (serial != *filterSerial)
                return;
            if (version != rowsVersion)
                filterLater(text, needle);
            else
                showFiltered(text, needle, std::move(*found));
        });
}

void RecordTableModel::showFiltered(const QString& text, const QString& needle, QVector<int> rows) {
    emit filterChanging();
    beginResetModel();
    filter = text;
    foldedFilter = needle;
    shown = std::move(rows);
    endResetModel();
    emit filterChanged();
}

void RecordTableModel::sort(int column, Qt::SortOrder order) {
    if (column == sortedColumn && order == sortedOrder)
        return;
    ++rowsVersion;
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

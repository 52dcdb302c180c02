#include "models/recordtablemodel.h"

#include "core/records.h"
#include "db/confighandler.h"

#include <QThread>

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>
#include <vector>

namespace {

inline bool isDigit(QChar c) {
    return c.unicode() >= '0' && c.unicode() <= '9';
}

// QChar::toCaseFolded of every UTF-16 unit, looked up rather than computed in each comparison
struct FoldTable {
    FoldTable() {
        for (int u = 0; u < 0x10000; ++u)
            units[size_t(u)] = QChar(ushort(u)).toCaseFolded().unicode();
    }
    std::array<ushort, 0x10000> units;
};

const FoldTable& foldTable() {
    static const FoldTable table;
    return table;
}

inline ushort folded(QChar c, const FoldTable& table) {
    return table.units[c.unicode()];
}

// The first four units of a text's natural key from `from` on, as one number: a unit's case
// fold, and for a run of digits '0' (which orders against the other units as every digit does),
// its length without leading zeros and its digits four to a unit. Where two heads differ, their
// order is the texts' natural order; where they are equal, the whole texts decide.
quint64 naturalHead(const QString& text, qsizetype from, const FoldTable& table) {
    ushort units[4] = {};
    int n = 0;
    const QChar* p = text.constData() + from;
    const QChar* const pe = text.constData() + text.size();
    while (p < pe && n < 4) {
        if (!isDigit(*p)) {
            units[n++] = folded(*p++, table);
            continue;
        }
        while (p < pe && *p == QLatin1Char('0'))
            ++p;
        const QChar* const digits = p;
        while (p < pe && isDigit(*p))
            ++p;
        const qsizetype length = p - digits;
        units[n++] = '0';
        if (length < 0x8000) {
            if (n < 4)
                units[n++] = ushort(length);
        } else {
            if (n < 4)
                units[n++] = ushort(0x8000 | (length >> 16));
            if (n < 4)
                units[n++] = ushort(length & 0xFFFF);
        }
        for (const QChar* d = digits; d < p && n < 4; d += 4) {
            ushort packed = 0;
            for (int k = 0; k < 4; ++k)
                packed = ushort(packed << 4 | (d + k < p ? d[k].unicode() - '0' : 0));
            units[n++] = packed;
        }
    }
    return quint64(units[0]) << 48 | quint64(units[1]) << 32 | quint64(units[2]) << 16 | units[3];
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

QVector<int> naturalOrder(const QVector<QString>& texts) {
    const FoldTable& table = foldTable();
    // the start all texts share, up to its last digit run, orders none of them
    qsizetype shared = texts.isEmpty() ? 0 : texts.first().size();
    for (const QString& t : texts) {
        const QChar* const first = texts.first().constData();
        qsizetype i = 0;
        while (i < shared && i < t.size() && t.at(i) == first[i])
            ++i;
        shared = i;
        if (shared == 0)
            break;
    }
    while (shared > 0 && isDigit(texts.first().at(shared - 1)))
        --shared;

    struct Head {
        quint64 head;
        int index;
    };
    std::vector<Head> heads(size_t(texts.size()));
    for (int i = 0; i < texts.size(); ++i)
        heads[size_t(i)] = {naturalHead(texts.at(i), shared, table), i};
    std::sort(heads.begin(), heads.end(), [](const Head& a, const Head& b) {
        return a.head != b.head ? a.head < b.head : a.index < b.index;
    });
    for (auto run = heads.begin(); run != heads.end();) {
        const auto end = std::find_if(run, heads.end(), [&](const Head& h) { return h.head != run->head; });
        if (end - run > 1)
            std::stable_sort(run, end, [&](const Head& a, const Head& b) {
                return naturalCompare(texts.at(a.index), texts.at(b.index)) < 0;
            });
        run = end;
    }
    QVector<int> order(texts.size());
    for (int i = 0; i < texts.size(); ++i)
        order[i] = heads[size_t(i)].index;
    return order;
}

int naturalCompare(const QString& a, const QString& b) {
    const FoldTable& table = foldTable();
    const QChar* p = a.constData();
    const QChar* const pe = p + a.size();
    const QChar* q = b.constData();
    const QChar* const qe = q + b.size();
    // the equal start is skipped four units at a time, back to where its last digit run began
    const qsizetype n = std::min(a.size(), b.size());
    qsizetype i = 0;
    for (; i + 4 <= n; i += 4) {
        quint64 x, y;
        std::memcpy(&x, p + i, sizeof x);
        std::memcpy(&y, q + i, sizeof y);
        if (x != y)
            break;
    }
    while (i < n && p[i] == q[i])
        ++i;
    if (i == n && a.size() == b.size())
        return 0;
    while (i > 0 && isDigit(p[i - 1]))
        --i;
    p += i;
    q += i;
    while (p < pe && q < qe) {
        const bool digitP = isDigit(*p);
        // equal letters need no folding
        if (*p == *q && !digitP) {
            ++p;
            ++q;
            continue;
        }
        if (digitP && isDigit(*q)) {
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
        const ushort x = folded(*p, table);
        const ushort y = folded(*q, table);
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

QVector<int> RecordTableModel::inOrder(int size, const QVector<int>* ascending, Qt::SortOrder order) {
    QVector<int> candidates;
    if (!ascending) {
        candidates.resize(size);
        for (int i = 0; i < size; ++i)
            candidates[i] = i;
    } else if (order == Qt::AscendingOrder) {
        candidates = *ascending;
    } else {
        candidates.reserve(size);
        for (auto it = ascending->crbegin(); it != ascending->crend(); ++it)
            candidates.append(*it);
    }
    return candidates;
}

QVector<int> RecordTableModel::unfiltered() const {
    const int n = storedSize();
    // an empty table has no column orders yet, but may be given its sort already
    const bool sorted = n > 0 && sortedColumn >= 0 && sortedColumn < columnCount();
    return inOrder(n, sorted ? &ascending(sortedColumn) : nullptr, sortedOrder);
}

QVector<int> RecordTableModel::matchingOf(const QVector<int>& candidates, const Matcher& matches) {
    return scan(candidates, matches);
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
    if (foldedFilter.isEmpty()) {
        shown = unfiltered();
    } else {
        // the same rows match: only their order changes, with no text matched again
        QVector<bool> kept(storedSize(), false);
        for (const int index : std::as_const(shown))
            kept[index] = true;
        const QVector<int> all = unfiltered();
        QVector<int> ordered;
        ordered.reserve(shown.size());
        for (const int index : all) {
            if (kept.at(index))
                ordered.append(index);
        }
        shown = std::move(ordered);
    }
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

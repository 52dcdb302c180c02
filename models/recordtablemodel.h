#pragma once

#include "models/recordtablebase.h"

#include "core/aside.h"
#include "core/records.h"

#include <QHash>
#include <QSet>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include <algorithm>
#include <utility>
#include <vector>

// What a table's row traits say unless they say otherwise: the row is the record, with its id;
// columns are compared as text and none repeats its texts; the filter text is matched as it is.
template <typename RowType, typename ContextType>
struct RowTraitsDefaults {
    using Row = RowType;
    using Context = ContextType;
    static int id(const Row& row) { return row.id; }
    static QVariant record(const Row& row) { return QVariant::fromValue(row); }
    static bool numeric(int /*column*/) { return false; }
    static bool repetitive(int /*column*/) { return false; }
    // In a repetitive column, rows with the same token (not null) show the same text.
    static const void* textToken(const Row& /*row*/, int /*column*/) { return nullptr; }
    static quint64 number(const Row& /*row*/, int /*column*/, const Context& /*context*/) { return 0; }
    using Needle = QString;
    static Needle needle(const QString& text, const Context& /*context*/) { return text; }
};

// The stored rows of one table and their column orders. Traits (over RowTraitsDefaults) say
// how a row is shown and compared:
//   using Row, Context;
//   static int id(const Row&);
//   static QVariant record(const Row&);  // what RecordRole gives
//   static QVariant display(const Row&, int column, const Context&);
//   static bool numeric(int column);  // compare by number() instead of text()
//   static bool repetitive(int column); // few distinct texts: each is compared once
//   static const void* textToken(const Row&, int column); // equal tokens, equal texts
//   static quint64 number(const Row&, int column, const Context&);
//   static QString text(const Row&, int column, const Context&);
//   using Needle;  // a filter text made ready for matching many rows
//   static Needle needle(const QString& foldedText, const Context&);
//   static bool matches(const Row&, const Needle&, const Context&);
//   static int columns();
//   static QVector<Row> rowsIn(const TablesSnapshot&);  // what a complete refresh read
//   static Context contextIn(const TablesSnapshot&);
template <typename Traits>
class RecordRowsModel : public RecordTableModel {
public:
    using Row = typename Traits::Row;
    using Context = typename Traits::Context;

    // Rows with their column orders, made on any thread and handed to setPrepared.
    struct Prepared {
        QVector<Row> rows; // id order
        Context context;
        QVector<QVector<int>> orders;
        // The rows a filter shows, matched here rather than by the GUI thread (a needle of none
        // when not matched).
        ShownBy matchedBy;
        QVector<int> matched;
    };

    // Matches the rows for a filter and sort ahead, where the table is large enough for that to
    // matter.
    static void matchAhead(Prepared& p, const ShownBy& by) {
        if (by.needle.isEmpty() || p.rows.size() < asideFrom)
            return;
        const bool sorted = by.column >= 0 && by.column < p.orders.size();
        p.matched = matchingOf(inOrder(p.rows.size(), sorted ? &p.orders.at(by.column) : nullptr, by.order),
                               matcherOver(p.rows, p.context, by.needle));
        p.matchedBy = by;
    }

    static Prepared prepare(QVector<Row> rows, Context context) {
        Prepared p;
        p.rows = std::move(rows);
        p.context = std::move(context);
        const auto byId = [](const Row& a, const Row& b) {
            return Traits::id(a) < Traits::id(b);
        };
        // sorting a shared vector would copy it even when it is in order already
        if (!std::is_sorted(p.rows.cbegin(), p.rows.cend(), byId))
            std::sort(p.rows.begin(), p.rows.end(), byId);
        // the columns of a large table are sorted side by side
        std::vector<QVector<int>> orders(Traits::columns());
        const auto sortColumn = [&p, &orders](int column) {
            orders[column] = sortedBy(p.rows, column, p.context);
        };
        if (p.rows.size() >= 20000) {
            Aside::shared().forEach(Traits::columns(), sortColumn);
        } else {
            for (int column = 0; column < Traits::columns(); ++column)
                sortColumn(column);
        }
        for (QVector<int>& order : orders)
            p.orders.append(std::move(order));
        return p;
    }

    // The rows a complete refresh prepares from what it read.
    static Prepared prepareFrom(const TablesSnapshot& s) {
        return prepare(Traits::rowsIn(s), Traits::contextIn(s));
    }

    void reload() override { setPrepared(prepareFrom(readTables(*handler))); }

    // Replaces every row in one reset; the filter and the sort stay. Returns the rows replaced,
    // for the caller to free where it suits.
    Prepared setPrepared(Prepared prepared) {
        ++rowsVersion;
        beginResetModel();
        std::swap(rows, prepared.rows);
        std::swap(context, prepared.context);
        needleReady = false;
        std::swap(orders, prepared.orders);
        if (!prepared.matchedBy.needle.isEmpty() && prepared.matchedBy == shownBy())
            shown = std::move(prepared.matched);
        else
            rebuildShown();
        endResetModel();
        return prepared;
    }

    // Puts new or changed rows in place by id, keeping the filter, the sort and the other rows.
    void upsert(const QVector<Row>& changed) {
        ++rowsVersion;
        for (const Row& row : changed)
            upsertOne(row);
    }

    // Past this many rows at once, upsertAside: each row put in place costs a pass over the orders.
    static constexpr int fewInPlace = 16;
    // Rows `changed` put in place by id and the rows of `gone` taken out, with new column orders
    // and the rows a filter shows; on any thread. `rows` in id order.
    static Prepared prepareChanged(const QVector<Row>& rows, Context context, QVector<Row> changed,
                                   const QVector<int>& gone, const ShownBy& by) {
        const auto byId = [](const Row& a, const Row& b) {
            return Traits::id(a) < Traits::id(b);
        };
        std::sort(changed.begin(), changed.end(), byId);
        QSet<int> out(gone.cbegin(), gone.cend());
        for (const Row& row : qAsConst(changed))
            out.insert(Traits::id(row));
        QVector<Row> merged;
        merged.reserve(rows.size() + changed.size());
        for (const Row& row : rows) {
            if (!out.contains(Traits::id(row)))
                merged.append(row);
        }
        const int kept = merged.size();
        merged += changed;
        std::inplace_merge(merged.begin(), merged.begin() + kept, merged.end(), byId);
        Prepared p = prepare(std::move(merged), std::move(context));
        matchAhead(p, by);
        return p;
    }

    // What upsert and removeIds do, for many rows: prepared aside from copies and swapped in with
    // one reset, which `keep` wraps to keep what the person picked. Given up when the rows change
    // meanwhile: whatever changed them is followed by a complete refresh, which brings these too.
    using Keep = std::function<void(const std::function<void()>& replace)>;
    void upsertAside(QVector<Row> changed, QVector<int> gone, Keep keep) {
        const int version = rowsVersion;
        const auto prepared = std::make_shared<Prepared>();
        Aside::shared().run(
            this,
            [prepared, rows = rows, context = context, changed = std::move(changed), gone = std::move(gone),
             by = shownBy()] { *prepared = prepareChanged(rows, context, changed, gone, by); },
            [this, prepared, version, keep = std::move(keep)] {
                if (version == rowsVersion)
                    keep([&] { *prepared = setPrepared(std::move(*prepared)); });
                // the rows replaced, or those given up, are freed off the GUI thread
                Aside::shared().run([prepared] { *prepared = Prepared(); });
            });
    }

    // Removes the rows of these ids. Many at once go in one pass and one reset.
    void removeIds(const QVector<int>& ids) {
        ++rowsVersion;
        if (ids.size() > 8) {
            removeMany(ids);
            return;
        }
        for (const int id : ids) {
            const int index = storedIndexOf(id);
            if (index < 0)
                continue;
            const int at = shown.indexOf(index);
            if (at >= 0)
                beginRemoveRows(QModelIndex(), at, at);
            detach(index);
            // QVector copies each row behind a removed one; moving them costs no reference counts
            std::move(rows.begin() + index + 1, rows.end(), rows.begin() + index);
            rows.removeLast();
            renumber(index, -1);
            if (at >= 0) {
                shown.remove(at);
                endRemoveRows();
            }
        }
    }

    const QVector<Row>& storedRows() const { return rows; }
    CellTexts cellTexts() const override {
        return [rows = rows, context = context, shown = shown](int row, int column) {
            return Traits::display(rows.at(shown.at(row)), column, context).toString();
        };
    }
    // The records of shown rows `at`, or of every shown row, in that order, from copies of the
    // rows: may be called on any thread, also after the model has changed.
    std::function<QVector<Row>()> shownRecords(std::optional<QVector<int>> at = std::nullopt) const {
        return [rows = rows, shown = shown, at = std::move(at)] {
            const int n = at ? at->size() : shown.size();
            QVector<Row> records;
            records.reserve(n);
            for (int i = 0; i < n; ++i)
                records.append(rows.at(shown.at(at ? at->at(i) : i)));
            return records;
        };
    }
    const Context& shownContext() const { return context; }
    // A new context (for example renamed groups): the shown texts change, the orders stay
    // until the rows are set again.
    void setContext(Context newContext) {
        context = std::move(newContext);
        needleReady = false;
        ++rowsVersion;
        if (!shown.isEmpty())
            emit dataChanged(index(0, 0), index(shown.size() - 1, Traits::columns() - 1), {Qt::DisplayRole});
    }
    // The stored row of an id, or null.
    const Row* rowOf(int id) const {
        const int i = storedIndexOf(id);
        return i < 0 ? nullptr : &rows.at(i);
    }

protected:
    RecordRowsModel(QObject* parent, ConfigHandler* handler, const QStringList& titles)
        : RecordTableModel(parent, titles)
        , handler(handler) {}

    int storedSize() const override { return rows.size(); }
    int storedId(int index) const override { return Traits::id(rows.at(index)); }
    QVariant record(int index) const override { return Traits::record(rows.at(index)); }
    QVariant cell(int index, int column) const override {
        return Traits::display(rows.at(index), column, context);
    }
    void prepareMatching(const QString& text) const override {
        if (text != needleText || !needleReady) {
            needle = Traits::needle(text, context);
            needleText = text;
            needleReady = true;
        }
    }
    bool matches(int index, const QString& /*text*/) const override {
        return Traits::matches(rows.at(index), needle, context);
    }
    Matcher matcherFor(const QString& text) const override { return matcherOver(rows, context, text); }
    // Shares the rows, which stay as they are for the matcher however the model changes.
    static Matcher matcherOver(const QVector<Row>& rows, const Context& context, const QString& text) {
        return [rows, context, needle = Traits::needle(text, context)](int index) {
            return Traits::matches(rows.at(index), needle, context);
        };
    }
    const QVector<int>& ascending(int column) const override { return orders.at(column); }
    void clearRecords() override {
        rows.clear();
        orders.clear();
    }
    bool lessAt(int column, int a, int b) const override {
        return less(rows.at(a), rows.at(b), column, context);
    }

    QVector<Row> rows;
    Context context;
    QVector<QVector<int>> orders;
    ConfigHandler* const handler;
    mutable typename Traits::Needle needle{};
    mutable QString needleText;
    mutable bool needleReady = false; // false when the context changed

private:
    static bool less(const Row& a, const Row& b, int column, const Context& context) {
        if (Traits::numeric(column)) {
            const quint64 x = Traits::number(a, column, context), y = Traits::number(b, column, context);
            if (x != y)
                return x < y;
        } else {
            const int c = naturalCompare(Traits::text(a, column, context), Traits::text(b, column, context));
            if (c != 0)
                return c < 0;
        }
        return Traits::id(a) < Traits::id(b);
    }

    static QVector<int> sortedBy(const QVector<Row>& rows, int column, const Context& context) {
        if (Traits::repetitive(column) && !Traits::numeric(column))
            return sortedByFewTexts(rows, column, context);
        if (!Traits::numeric(column)) {
            QVector<QString> texts(rows.size());
            for (int i = 0; i < rows.size(); ++i)
                texts[i] = Traits::text(rows.at(i), column, context);
            return naturalOrder(texts);
        }
        QVector<int> order(rows.size());
        QVector<quint64> keys(rows.size());
        for (int i = 0; i < rows.size(); ++i) {
            order[i] = i;
            keys[i] = Traits::number(rows.at(i), column, context);
        }
        // rows are in id order, so a stable sort breaks ties by id
        if (!std::is_sorted(keys.cbegin(), keys.cend()))
            std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return keys[a] < keys[b]; });
        return order;
    }

    // Each distinct text is made and compared once; the rows follow their text's rank, in id order.
    static QVector<int> sortedByFewTexts(const QVector<Row>& rows, int column, const Context& context) {
        QVector<QString> texts;
        QVector<int> textOf(rows.size());
        QHash<QString, int> textIndex;
        QHash<const void*, int> tokenIndex;
        for (int i = 0; i < rows.size(); ++i) {
            const void* const token = Traits::textToken(rows.at(i), column);
            if (token) {
                const auto known = tokenIndex.constFind(token);
                if (known != tokenIndex.constEnd()) {
                    textOf[i] = known.value();
                    continue;
                }
            }
            const QString text = Traits::text(rows.at(i), column, context);
            auto it = textIndex.constFind(text);
            if (it == textIndex.constEnd()) {
                it = textIndex.insert(text, texts.size());
                texts.append(text);
            }
            textOf[i] = it.value();
            if (token)
                tokenIndex.insert(token, it.value());
        }
        QVector<int> count(texts.size(), 0);
        for (const int t : qAsConst(textOf))
            ++count[t];
        // where each text's rows begin in the order
        QVector<int> at(texts.size());
        int next = 0;
        for (const int t : naturalOrder(texts)) {
            at[t] = next;
            next += count.at(t);
        }
        QVector<int> order(rows.size());
        for (int i = 0; i < rows.size(); ++i)
            order[at[textOf.at(i)]++] = i;
        return order;
    }

    int storedIndexOf(int id) const {
        const auto it = std::lower_bound(rows.cbegin(), rows.cend(), id,
                                         [](const Row& r, int key) { return Traits::id(r) < key; });
        return it != rows.cend() && Traits::id(*it) == id ? int(it - rows.cbegin()) : -1;
    }

    void removeMany(const QVector<int>& ids) {
        const QSet<int> gone(ids.cbegin(), ids.cend());
        QVector<int> newIndex(rows.size(), -1);
        int kept = 0;
        for (int i = 0; i < rows.size(); ++i) {
            if (!gone.contains(Traits::id(rows.at(i))))
                newIndex[i] = kept++;
        }
        if (kept == rows.size())
            return;
        const auto remap = [&newIndex](QVector<int>& order) {
            int out = 0;
            for (const int i : qAsConst(order)) {
                if (newIndex.at(i) >= 0)
                    order[out++] = newIndex.at(i);
            }
            order.resize(out);
        };
        beginResetModel();
        // the kept rows moved forward in place, without copies
        for (int i = 0; i < newIndex.size(); ++i) {
            if (newIndex.at(i) >= 0 && newIndex.at(i) != i)
                rows[newIndex.at(i)] = std::move(rows[i]);
        }
        rows.resize(kept);
        for (QVector<int>& order : orders)
            remap(order);
        remap(shown);
        endResetModel();
    }

    // Takes stored row `index` out of the column orders.
    void detach(int index) {
        for (int column = 0; column < orders.size(); ++column) {
            QVector<int>& order = orders[column];
            const auto it = std::lower_bound(order.begin(), order.end(), index, [&](int a, int b) {
                return less(rows.at(a), rows.at(b), column, context);
            });
            if (it != order.end() && *it == index)
                order.erase(it);
            else
                order.removeOne(index);
        }
    }

    void attach(int index) {
        for (int column = 0; column < orders.size(); ++column) {
            QVector<int>& order = orders[column];
            const auto it = std::lower_bound(order.begin(), order.end(), index, [&](int a, int b) {
                return less(rows.at(a), rows.at(b), column, context);
            });
            order.insert(it, index);
        }
    }

    // Stored rows from `from` on moved by `by` positions.
    void renumber(int from, int by) {
        for (QVector<int>& order : orders) {
            for (int& i : order) {
                if (i >= from)
                    i += by;
            }
        }
        for (int& i : shown) {
            if (i >= from)
                i += by;
        }
    }

    void upsertOne(const Row& row) {
        int index = storedIndexOf(Traits::id(row));
        int at = -1;
        if (index >= 0) {
            at = shown.indexOf(index);
            detach(index);
            rows[index] = row;
        } else {
            const auto it = std::lower_bound(rows.begin(), rows.end(), Traits::id(row),
                                             [](const Row& r, int key) { return Traits::id(r) < key; });
            index = int(it - rows.begin());
            if (index < rows.size())
                renumber(index, 1);
            rows.insert(index, row);
        }
        attach(index);
        if (!foldedFilter.isEmpty())
            prepareMatching(foldedFilter);
        const bool visible = foldedFilter.isEmpty() || matches(index, foldedFilter);
        if (at >= 0) {
            shown.remove(at);
            const int to = visible ? shownPosition(index) : -1;
            shown.insert(at, index);
            if (to == at) {
                emit dataChanged(this->index(at, 0), this->index(at, Traits::columns() - 1));
            } else if (to >= 0) {
                // a move keeps the row selected
                beginMoveRows(QModelIndex(), at, at, QModelIndex(), to > at ? to + 1 : to);
                shown.remove(at);
                shown.insert(to, index);
                endMoveRows();
            } else {
                beginRemoveRows(QModelIndex(), at, at);
                shown.remove(at);
                endRemoveRows();
            }
            return;
        }
        if (!visible)
            return;
        const int to = shownPosition(index);
        beginInsertRows(QModelIndex(), to, to);
        shown.insert(to, index);
        endInsertRows();
    }
};

#pragma once

#include "core/records.h"

#include <QHash>
#include <QStandardItemModel>
#include <QVector>

class QListView;

// The group list of the bulk edit dialogs. A row starts checked when every selected record is
// in its group, partly checked when some are, unchecked when none are; a click moves it between
// checked and unchecked and, from a partly checked start, back to that start: "leave as it is".
class BulkGroupList : public QStandardItemModel {
    Q_OBJECT

public:
    enum class AdminRow {
        Removable,    // like any other group
        NotRemovable, // can be added, never unchecked unless it started so
        Fixed,        // cannot be changed
    };

    explicit BulkGroupList(QObject* parent = nullptr);

    // Shows the list in the view; a click on a row toggles its box.
    void attach(QListView* view);
    // `members`: group id -> how many of the `total` selected records are in it.
    void fill(const QVector<GroupInfo>& groups, const QHash<int, int>& members, int total, int adminGroupId,
              AdminRow adminRow);

    // Groups checked now that did not start so, and unchecked now that did not start so; row order.
    QVector<int> addedIds() const;
    QVector<int> removedIds() const;

    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // group id -> member count of `records`, in one pass over their memberships.
    template <typename Record>
    static QHash<int, int> memberCounts(const QVector<Record>& records) {
        QHash<int, int> counts;
        for (const Record& record : records) {
            for (const int group : record.groups)
                ++counts[group];
        }
        return counts;
    }

private:
    QVector<int> idsChangedTo(Qt::CheckState state) const;
};

// "3 000": thousands set apart by spaces.
QString spacedNumber(int n);

// "1 группу", "2 группы", "5 групп", "3 000 устройств": `n` with the Russian form for it and its
// thousands set apart by spaces.
QString countedText(int n, const QString& one, const QString& few, const QString& many);

// The summary line under a bulk list: what will happen to how many records, or that nothing will.
// `more` are further changes, such as "доступны для всех"; `records` is the counted noun.
QString bulkSummary(int added, int removed, const QStringList& more, const QString& records);

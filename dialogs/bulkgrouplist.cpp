#include "dialogs/bulkgrouplist.h"
#include "core/schema.h"
#include "dialogs/rowcheck.h"

#include <QListView>
#include <QLocale>

namespace {

const QString adminRowText = ADMIN_MEMBER_TITLE;
constexpr int StartRole = Qt::UserRole + 1; // the check state the row started in
constexpr int KeepRole = Qt::UserRole + 2;  // true: the row is never unchecked unless it started so

Qt::CheckState stateOf(const QStandardItem* item, int role) {
    return static_cast<Qt::CheckState>(item->data(role).toInt());
}

} // namespace

BulkGroupList::BulkGroupList(QObject* parent)
    : QStandardItemModel(parent) {}

void BulkGroupList::attach(QListView* view) {
    showCheckableList(view, this);
}

void BulkGroupList::fill(const QVector<GroupInfo>& groups, const QHash<int, int>& members, int total,
                         int adminGroupId, AdminRow adminRow) {
    clear();
    QList<QStandardItem*> items;
    items.reserve(groups.size());
    for (const GroupInfo& group : groups) {
        const int count = members.value(group.id);
        const Qt::CheckState start = count == 0       ? Qt::Unchecked
                                     : count >= total ? Qt::Checked
                                                      : Qt::PartiallyChecked;
        auto* item = new QStandardItem(group.id == adminGroupId ? adminRowText : group.name);
        item->setCheckable(true);
        // Qt's own cycle from partly checked: checked, unchecked, partly checked again.
        item->setUserTristate(start == Qt::PartiallyChecked);
        item->setCheckState(start);
        item->setData(group.id, Qt::UserRole);
        item->setData(start, StartRole);
        if (group.id == adminGroupId && adminRow != AdminRow::Removable) {
            item->setData(true, KeepRole);
            // nothing left to add, or nothing may change
            item->setEnabled(adminRow == AdminRow::NotRemovable && start != Qt::Checked);
        }
        items << item;
    }
    if (!items.isEmpty())
        appendColumn(items);
}

bool BulkGroupList::setData(const QModelIndex& index, const QVariant& value, int role) {
    const QStandardItem* it = itemFromIndex(index);
    if (role == Qt::CheckStateRole && it && it->data(KeepRole).toBool() && value.toInt() == Qt::Unchecked)
        return QStandardItemModel::setData(index, it->data(StartRole), role);
    return QStandardItemModel::setData(index, value, role);
}

QVector<int> BulkGroupList::idsChangedTo(Qt::CheckState state) const {
    QVector<int> ids;
    for (int row = 0; row < rowCount(); ++row) {
        const QStandardItem* it = item(row);
        if (it->checkState() == state && stateOf(it, StartRole) != state)
            ids << it->data(Qt::UserRole).toInt();
    }
    return ids;
}

QVector<int> BulkGroupList::addedIds() const {
    return idsChangedTo(Qt::Checked);
}

QVector<int> BulkGroupList::removedIds() const {
    return idsChangedTo(Qt::Unchecked);
}

QString spacedNumber(int n) {
    const QLocale russian(QLocale::Russian);
    QString number = russian.toString(n);
    number.replace(russian.groupSeparator(), QStringLiteral(" "));
    return number;
}

QString countedText(int n, const QString& one, const QString& few, const QString& many) {
    const int tens = n % 100;
    const int units = n % 10;
    const QString& form = tens >= 11 && tens <= 14   ? many
                          : units == 1               ? one
                          : units >= 2 && units <= 4 ? few
                                                     : many;
    return spacedNumber(n) + QLatin1Char(' ') + form;
}

QString bulkSummary(int added, int removed, const QStringList& more, const QString& records) {
    QStringList parts;
    if (added > 0)
        parts << QStringLiteral("добавлены в ") + countedText(added, QStringLiteral("группу"),
                                                              QStringLiteral("группы"),
                                                              QStringLiteral("групп"));
    if (removed > 0)
        parts << QStringLiteral("убраны из ") + countedText(removed, QStringLiteral("группы"),
                                                            QStringLiteral("групп"), QStringLiteral("групп"));
    parts << more;
    if (parts.isEmpty())
        return QStringLiteral("Изменений нет");
    return QStringLiteral("Будут ") + parts.join(QStringLiteral(", ")) + QStringLiteral(": ") + records;
}

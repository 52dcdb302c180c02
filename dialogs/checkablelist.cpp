#include "dialogs/checkablelist.h"
#include "core/schema.h"
#include "dialogs/rowcheck.h"

#include <QAbstractItemView>
#include <QHash>
#include <QListView>
#include <QSet>

namespace {
const QString adminRowText = ADMIN_MEMBER_TITLE;
}

CheckableIdList::CheckableIdList(QObject* parent)
    : QStandardItemModel(parent) {}

void CheckableIdList::attach(QListView* view) {
    showCheckableList(view, this);
}

QStandardItem* CheckableIdList::makeItem(int id, const QString& text) const {
    auto* item = new QStandardItem(text);
    item->setCheckable(true);
    item->setCheckState(Qt::Unchecked);
    item->setData(id, Qt::UserRole);
    return item;
}

void CheckableIdList::replaceRows(const QList<QStandardItem*>& items) {
    QHash<int, Qt::CheckState> kept;
    kept.reserve(rowCount());
    for (int row = 0; row < rowCount(); ++row) {
        const QStandardItem* it = item(row);
        kept.insert(it->data(Qt::UserRole).toInt(), it->checkState());
    }
    for (QStandardItem* it : items) {
        const auto found = kept.constFind(it->data(Qt::UserRole).toInt());
        if (found != kept.cend())
            it->setCheckState(found.value());
    }
    clear();
    if (!items.isEmpty())
        appendColumn(items);
}

void CheckableIdList::fillGroups(const QVector<GroupInfo>& groups, int adminId, bool adminFixed) {
    QList<QStandardItem*> items;
    items.reserve(groups.size());
    for (const GroupInfo& group : groups) {
        QStandardItem* item = makeItem(group.id, group.name);
        if (group.id == adminId) {
            item->setText(adminRowText);
            if (adminFixed) {
                item->setCheckState(Qt::Checked);
                item->setEnabled(false);
            }
        }
        items << item;
    }
    replaceRows(items);
}

void CheckableIdList::fillUsers(const QVector<UserInfo>& users, const QVector<int>& memberList,
                                int fixedUserId) {
    const QSet<int> members(memberList.cbegin(), memberList.cend());
    QList<QStandardItem*> items;
    items.reserve(users.size());
    for (const UserInfo& user : users) {
        QStandardItem* item = makeItem(user.id, user.login);
        if (members.contains(user.id))
            item->setCheckState(Qt::Checked);
        if (fixedUserId != 0 && user.id == fixedUserId) {
            item->setCheckState(Qt::Checked);
            item->setEnabled(false);
        }
        items << item;
    }
    replaceRows(items);
}

void CheckableIdList::checkAll() {
    for (int row = 0; row < rowCount(); ++row)
        item(row)->setCheckState(Qt::Checked);
}

void CheckableIdList::uncheckAll() {
    for (int row = 0; row < rowCount(); ++row) {
        QStandardItem* it = item(row);
        if (it->isEnabled())
            it->setCheckState(Qt::Unchecked);
    }
}

void CheckableIdList::applyIds(const QVector<int>& idList) {
    const QSet<int> ids(idList.cbegin(), idList.cend());
    for (int row = 0; row < rowCount(); ++row) {
        QStandardItem* it = item(row);
        it->setCheckState(ids.contains(it->data(Qt::UserRole).toInt()) ? Qt::Checked : Qt::Unchecked);
    }
}

QVector<int> CheckableIdList::checkedIds() const {
    QVector<int> ids;
    for (int row = 0; row < rowCount(); ++row) {
        const QStandardItem* it = item(row);
        if (it->data(Qt::CheckStateRole).toInt() == Qt::Checked)
            ids << it->data(Qt::UserRole).toInt();
    }
    return ids;
}

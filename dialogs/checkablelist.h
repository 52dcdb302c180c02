#pragma once

#include "core/records.h"

#include <QStandardItemModel>
#include <QVector>

class QListView;

// The pick list of the edit dialogs: one checkable row per record, the record's id under
// Qt::UserRole. Every dialog with a group or user list keeps one of these.
class CheckableIdList : public QStandardItemModel {
    Q_OBJECT

public:
    explicit CheckableIdList(QObject* parent = nullptr);

    // Shows the list in the view; a click on a row toggles its box.
    void attach(QListView* view);

    // The groups in the order given; the administrators' group reads "Администратор" and,
    // when adminFixed, starts checked and cannot be toggled.
    void fillGroups(const QVector<GroupInfo>& groups, int adminGroupId, bool adminFixed);
    // The users in the order given, the members checked. fixedUserId, when non-zero, is
    // checked and cannot be toggled.
    void fillUsers(const QVector<UserInfo>& users, const QVector<int>& members, int fixedUserId = 0);
    // Both fills keep the check state of every row already listed; only new rows take
    // the defaults above.

    // Checks every row, the fixed ones included.
    void checkAll();
    // Unchecks every row that can be toggled; fixed rows keep their state.
    void uncheckAll();
    // Checks exactly the rows whose id is listed, fixed rows included.
    void applyIds(const QVector<int>& ids);
    // Ids of the checked rows in row order.
    QVector<int> checkedIds() const;

private:
    QStandardItem* makeItem(int id, const QString& text) const;
    void replaceRows(const QList<QStandardItem*>& items);
};

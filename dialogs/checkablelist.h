#pragma once

#include <QStandardItemModel>
#include <QVector>

class ConfigHandler;
class EditDialog;
class QListView;
class QWidget;

// The pick list of the edit dialogs: one checkable row per record, the record's id under
// Qt::UserRole. Every dialog with a group or user list keeps one of these.
class CheckableIdList : public QStandardItemModel {
    Q_OBJECT

public:
    explicit CheckableIdList(QObject* parent = nullptr);

    // Shows the list in the view; a click toggles only the check box.
    void attach(QListView* view);

    // All groups in database order; the administrators' group reads "Администратор" and,
    // when adminFixed, starts checked and cannot be toggled.
    void fillGroups(ConfigHandler* handler, bool adminFixed);
    // All users by login, the members of the group checked. fixedUserId, when non-zero,
    // is checked and cannot be toggled.
    void fillUsers(ConfigHandler* handler, int groupId, int fixedUserId = 0);
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

    // The add-new-group flow of the group lists: asks for a group in GroupEditDialog and
    // stores it. True when a group was added (the caller refills its list); a refused
    // group is reported through the dialog's showError.
    static bool addNewGroup(QWidget* parent, ConfigHandler* handler, EditDialog* errors);

private:
    QStandardItem* makeItem(int id, const QString& text) const;
    void replaceRows(const QList<QStandardItem*>& items);
};

#pragma once

#include "core/records.h"
#include "dialogs/editdialog.h"
#include "dialogs/shownrecords.h"

#include <QDialog>
#include <QVector>

class CheckableIdList;
class ConfigHandler;
class QListView;

// The dialogs that give one record its groups (a device, a user): the checkable group list
// with "Выбрать все", "Убрать все" and "Добавить новую группу". The form's buttons reach the
// slots below by their object names.
class GroupPickDialog : public QDialog, public EditDialog {
    Q_OBJECT

public:
    // True once a group was stored from inside the dialog, even if it was then cancelled.
    bool groupAdded() const;

public slots:
    void updateGroupsList();

protected:
    // adminFixed: the administrators' group row starts checked and cannot be toggled.
    GroupPickDialog(QWidget* parent, ConfigHandler* handler, bool adminFixed, const ShownRecords& shown);

    // Shows the list in the view and fills it.
    void attachGroupsList(QListView* view);

    ConfigHandler* const handler;
    CheckableIdList* const groupsModel;

private slots:
    void on_checkAll_clicked();
    void on_uncheckAll_clicked();
    void on_addNewGroup_clicked();

private:
    const bool adminFixed;
    ShownRecords shown;
    bool added = false;
};

#pragma once

#include "core/records.h"
#include "dialogs/bulkgrouplist.h"
#include "dialogs/editdialog.h"

#include <QDialog>
#include <QStringList>
#include <QVector>

class QDialogButtonBox;
class QLabel;
class QListView;

// What the bulk edit dialogs share: the group list of the selected records, the summary line
// under it and OK. Writes nothing itself: the caller applies what the getters return, only what
// the administrator changed.
class BulkEditDialog : public QDialog, public EditDialog {
    Q_OBJECT

public:
    QVector<int> addGroupIds() const;
    QVector<int> removeGroupIds() const;

    void onAccept() override;

protected:
    // `nouns`: the records counted for one, a few and many ("устройство", "устройства",
    // "устройств").
    BulkEditDialog(QWidget* parent, int count, const QStringList& nouns);

    // Called once the form is set up: `title` gets the count as %1.
    void setUp(const QString& title, QListView* groupsView, QLabel* summaryLabel, QDialogButtonBox* buttonBox,
               const QVector<GroupInfo>& groups, const QHash<int, int>& members, int adminGroupId,
               BulkGroupList::AdminRow adminRow);
    void updateSummary();
    // Changes besides the groups, for the summary line.
    virtual QStringList otherChanges() const;

    const int count;

private:
    BulkGroupList* const groupsModel;
    const QStringList nouns;
    QLabel* summary = nullptr;
};

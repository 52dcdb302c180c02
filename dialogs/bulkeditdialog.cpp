#include "dialogs/bulkeditdialog.h"

#include <QDialogButtonBox>
#include <QLabel>

BulkEditDialog::BulkEditDialog(QWidget* parent, int count, const QStringList& nouns)
    : QDialog(parent)
    , EditDialog(this)
    , count(count)
    , groupsModel(new BulkGroupList(this))
    , nouns(nouns) {}

void BulkEditDialog::setUp(const QString& title, QListView* groupsView, QLabel* summaryLabel,
                           QDialogButtonBox* buttonBox, const QVector<GroupInfo>& groups,
                           const QHash<int, int>& members, int adminGroupId,
                           BulkGroupList::AdminRow adminRow) {
    setWindowTitle(title.arg(spacedNumber(count)));
    summary = summaryLabel;
    groupsModel->attach(groupsView);
    groupsModel->fill(groups, members, count, adminGroupId, adminRow);
    connect(groupsModel, &QAbstractItemModel::dataChanged, this, &BulkEditDialog::updateSummary);
    connect(buttonBox, &QDialogButtonBox::accepted, this, &BulkEditDialog::onAccept);
    updateSummary();
}

QVector<int> BulkEditDialog::addGroupIds() const {
    return groupsModel->addedIds();
}

QVector<int> BulkEditDialog::removeGroupIds() const {
    return groupsModel->removedIds();
}

void BulkEditDialog::onAccept() {
    accept();
}

QStringList BulkEditDialog::otherChanges() const {
    return {};
}

void BulkEditDialog::updateSummary() {
    if (!summary) // a form's own signals while it is set up
        return;
    summary->setText(bulkSummary(groupsModel->addedIds().size(), groupsModel->removedIds().size(),
                                 otherChanges(), countedText(count, nouns.at(0), nouns.at(1), nouns.at(2))));
}

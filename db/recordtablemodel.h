#pragma once

#include <QAbstractTableModel>
#include <QStringList>

// What the three read-only record tables share: fixed column titles, rows numbered from 1,
// nothing editable, no children under cells.
class RecordTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

protected:
    RecordTableModel(QObject* parent, const QStringList& titles);

    virtual int recordCount() const = 0;
    // An index of this model that points at a stored row.
    bool isRow(const QModelIndex& index) const;

private:
    const QStringList titles;
};

#pragma once

#include <QAbstractProxyModel>
#include <QString>
#include <QVector>

class DevicesToAddTableModel;

// The rows of the devices to add as the dialog shows them: those whose state, IMEI or name
// contains the filter text (case-sensitively), sorted by the model's own comparison; rows of
// equal values keep the list's order. The order is kept between filter texts, so a keystroke
// only picks rows; a new text resets the view once instead of moving rows range by range.
class DevicesToAddProxy : public QAbstractProxyModel {
    Q_OBJECT

public:
    explicit DevicesToAddProxy(DevicesToAddTableModel* source, QObject* parent = nullptr);

    void setFilterText(const QString& text);

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    QModelIndex sibling(int row, int column, const QModelIndex& idx) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex mapToSource(const QModelIndex& proxyIndex) const override;
    QModelIndex mapFromSource(const QModelIndex& sourceIndex) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

private:
    void sortRows();
    void filterRows();
    void sourceReset();
    void sourceDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                           const QVector<int>& roles);

    DevicesToAddTableModel* const rows;
    QString filterText;
    int sortColumn = -1;
    Qt::SortOrder sortOrder = Qt::AscendingOrder;
    QVector<int> sorted;   // every source row, in the shown order
    QVector<int> shown;    // source rows the filter lets through, in the shown order
    QVector<int> position; // by source row: its row here, -1 when hidden
};

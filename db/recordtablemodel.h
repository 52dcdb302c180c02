#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <QVector>

class ConfigHandler;

// What the three read-only record tables share: fixed column titles, rows numbered from 1,
// nothing editable, no children under cells, the whole record of a row under RecordRole.
class RecordTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    // Rebuilds the rows from the database.
    virtual void reload() = 0;
    // Empties the table in one reset, e.g. when the database cannot be read.
    void clear();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

protected:
    RecordTableModel(QObject* parent, const QStringList& titles);

    virtual int recordCount() const = 0;
    virtual void clearRecords() = 0;
    // The row's record, and its cell value for Qt::DisplayRole; row is always a stored row.
    virtual QVariant record(int row) const = 0;
    virtual QVariant cell(int row, int column) const = 0;

private:
    const QStringList titles;
};

// The row list and the handler each model reads its table from (not owned).
template <typename Row>
class RecordRowsModel : public RecordTableModel {
protected:
    RecordRowsModel(QObject* parent, ConfigHandler* handler, const QStringList& titles)
        : RecordTableModel(parent, titles)
        , handler(handler) {}

    int recordCount() const override { return rows.size(); }
    void clearRecords() override { rows = QVector<Row>(); }

    QVector<Row> rows;
    ConfigHandler* const handler;
};

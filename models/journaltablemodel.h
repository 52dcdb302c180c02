#pragma once

#include "core/journal.h"
#include "db/connection.h"

#include <QAbstractTableModel>
#include <QString>
#include <QVector>

#include <memory>

class Aside;
struct JournalLink;

// The journal's rows, newest first: time, administrator, action, record and what changed.
// Every read runs on a thread and database connection of its own: the newest pageSize rows
// first, older ones a page at a time as the view reaches the end (fetchMore). The filter line
// narrows the rows read so far; the scope (kind and ids) narrows what is read.
class JournalTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { Time, Administrator, Action, Object, Changes, ColumnCount };
    static constexpr int pageSize = 10000;

    explicit JournalTableModel(QObject* parent = nullptr);
    // Returns at once: a read still running ends on its own thread, its result dropped.
    ~JournalTableModel() override;

    // Used from the next read on, which connects anew.
    void setConnectionSettings(const SqlConnectionSettings& settings);
    // Reads the newest rows of the scope anew (kind and ids; none: the whole journal).
    void reload(const JournalFilter& scope);
    void reload() { reload(readScope); }
    JournalFilter scope() const { return readScope; }
    bool isReading() const { return reading; }

    // Shows only the rows whose texts contain text, case-insensitively; empty shows all.
    void setFilterText(const QString& text);
    QString filterText() const { return filter; }
    int loadedCount() const { return rows.size(); }
    // Whether older rows remain to be read.
    bool hasMore() const { return !exhausted; }

    QString text(int row, int column) const;
    JournalEntry entry(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

    // A journal row as the table shows it, made on the reading thread.
    struct Row {
        JournalEntry entry;
        QString texts[ColumnCount];
        QString folded; // the texts case-folded, for the filter
    };

signals:
    // After a read's rows are in the model (or it failed).
    void readDone();
    void readFailed(const QString& error);
    void readingChanged(bool reading);

private:
    void read(quint64 beforeId);
    bool matches(const Row& row) const;

    std::unique_ptr<Aside> lane;
    const std::shared_ptr<JournalLink> link; // used on the lane's thread only
    SqlConnectionSettings settings;
    bool settingsChanged = true;
    JournalFilter readScope;
    quint64 generation = 0; // a result of an older reload is dropped
    bool reading = false;
    bool exhausted = true;
    QVector<Row> rows;  // newest first
    QVector<int> shown; // rows that match the filter
    QString filter;
    QString foldedFilter;
};

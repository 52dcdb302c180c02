#pragma once

#include "core/journal.h"
#include "db/connection.h"

#include <QString>
#include <QVector>
#include <QWidget>

#include <functional>

class JournalTableModel;
class QTableView;

namespace Ui {
class JournalTab;
}

// The tab "Журнал": who changed what and when, newest first. It reads when first shown, on
// refresh() and when shown again after a change; "История" opens it on chosen records.
class JournalTab : public QWidget {
    Q_OBJECT

public:
    // settings: the connection in use, asked before every read.
    JournalTab(QWidget* parent, std::function<SqlConnectionSettings()> settings);
    ~JournalTab() override;

    // The journal of these records (object "device", "user" or "group"); description names them.
    void showRecords(const QString& object, const QVector<int>& ids, const QString& description);
    void showAll();
    // The journal of the records selected in a table of the window (at most maxRecords of them).
    void showSelected(const QTableView* table, const QString& object);
    static constexpr int maxRecords = 1000;
    // Reads the newest rows again, keeping the records shown.
    void refresh();
    // Something changed: the rows are read again now if shown, else when the tab is next shown.
    void markStale();

    JournalTableModel* model() const { return journal; }
    QTableView* view() const;

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void on_journalFilterEdit_textEdited(const QString& text);
    void on_journalAllButton_clicked();
    void on_journalRefreshButton_clicked();
    void on_journalExportButton_clicked();

private:
    void read(const JournalFilter& scope);
    void updateCounts();

    Ui::JournalTab* ui;
    JournalTableModel* journal;
    const std::function<SqlConnectionSettings()> settings;
    SqlConnectionSettings used;
    bool everRead = false;
    bool stale = false;
    QString failure;
};

#pragma once

#include "app/tablestate.h"
#include "db/confighandler.h"
#include "dialogs/grouppickdialog.h"
#include "models/dblane.h"
#include "models/recordtablemodel.h"

#include <QAbstractButton>
#include <QDialog>
#include <QHash>
#include <QItemSelectionModel>
#include <QModelIndexList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTableView>
#include <QVector>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

// What the three tabs share with the window: the database, the window their dialogs and boxes
// belong to, and what the window does after a change.
//
// The tabs' changes and read-backs run one after another on a lane with a connection of its own
// (the window's settings), while the GUI thread goes on: the tables, the filters, the other tabs
// and F5 stay usable, and the tabs' own actions wait until the change has ended.
class TabContext : public QObject {
    Q_OBJECT

public:
    TabContext(QWidget* window, ConfigHandler* db);

    QWidget* window() const { return parentWindow; }
    // The window's database: its settings and what its integrity check found. Never connected:
    // everything asked of the database goes to the lane.
    ConfigHandler* db() const { return handler; }

    // `work` with the lane's connection on its thread; its result, or a default one when the lane
    // could not connect; `error` then tells why, as after a failure of `work`. Nothing when the
    // program is closing meanwhile: the caller then stops.
    template <typename R>
    std::optional<R> aside(std::function<R(ConfigHandler&)> work, DbError* error = nullptr) {
        struct Outcome {
            R result{};
            DbError error;
        };
        auto outcome = std::make_shared<Outcome>();
        if (!wait([work = std::move(work), outcome](ConfigHandler* db, const DbError& why) {
                if (db)
                    outcome->result = work(*db);
                outcome->error = db ? db->lastError() : why;
            }))
            return std::nullopt;
        if (error)
            *error = outcome->error;
        return std::move(outcome->result);
    }
    // Whether a change runs aside.
    bool busy() const { return running > 0; }
    // Group names a refused change may need; the lane connects meanwhile, ahead of a change.
    void knowGroups(const QVector<GroupInfo>& groups);

    void showError(const QString& text) const;
    // Before a change: whether the database can be reached; when it cannot, the person has been
    // told.
    bool ready() const { return !readyCheck || readyCheck(); }
    void setReadyCheck(std::function<bool()> check) { readyCheck = std::move(check); }
    // Before a dialog opens: the same; the lane then finds out, while the dialog is open,
    // whether the server answers it, connecting anew when the connection was closed meanwhile, as
    // a read would.
    bool reachable();
    // The groups and users the window shows, for the dialogs' lists, and a group made in a
    // dialog stored on the lane.
    ShownRecords shownRecords();
    void setShownRecords(std::function<ShownRecords()> held) { records = std::move(held); }
    // After a change aside that failed for `why`: if the database server itself is gone, says
    // so and returns true, so that the tables keep what they show instead of being reloaded
    // empty.
    bool connectionLost(const DbError& why);
    // The database server went away in the middle of something that has told the person itself.
    void lostQuietly(const DbError& why) { emit offline(why.serverText); }
    // After a refused change: says why and returns true, so that the caller opens its dialog
    // again; when the database server is gone, says so and returns false.
    bool refused(const QString& error, const DbError& why);
    // What to do after a refused edit of a stored record.
    enum class EditRefusal {
        Again,      // said why: the dialog opens again with what was entered
        Overwrite,  // another administrator's values are to be written over
        TakeStored, // the dialog opens again with the stored record
        Gone,       // the record was deleted, or the server is gone: the dialog stays closed
    };
    // A conflict asks whether to write the entered values over the stored ones or to take them.
    EditRefusal editRefused(const QString& error, const DbError& why);
    // askAgain: offers "больше не спрашивать", which clears it at once when ticked.
    bool confirmDeletion(const QString& title, const QString& text, bool* askAgain = nullptr) const;
    void inform(const QString& title, const QString& text) const;
    // A change is on screen.
    void shown() { emit changeShown(); }
    // Groups' members changed, or a group was added: the groups tab reads its list again.
    void groupsChanged() { emit membershipsChanged(); }

signals:
    // A statement failed because the database server went away; why, as the server said it.
    void offline(const QString& why);
    // A change is on screen; a complete refresh should bring in the rest.
    void changeShown();
    void membershipsChanged();
    // A change started aside, or the last one ended.
    void busyChanged(bool busy);

private:
    // Runs `work` on the lane and waits for it while the GUI thread goes on; false when the
    // program is closing meanwhile.
    bool wait(DbLane::Work work);
    bool lost(const DbError& why);
    bool addGroup(GroupInfo& group, QString& error);
    // The lane follows the window's settings and the database its check passed.
    void followSettings();

    QWidget* const parentWindow;
    ConfigHandler* const handler;
    DbLane* const lane;
    SqlConnectionSettings laneSettings;
    int laneAdminGroup = -1;
    JournalState laneJournal;
    int running = 0;
    std::function<bool()> readyCheck;
    std::function<ShownRecords()> records;
};

// The tab's buttons; each has a slot of the controller.
struct TabButtons {
    QAbstractButton* add;
    QAbstractButton* change;
    QAbstractButton* remove;
};

// One tab of the window: its table, its buttons and what they do with the database.
class RecordTabBase : public QObject {
    Q_OBJECT

public:
    RecordTabBase(TabContext* context, QTableView* view, const TabButtons& buttons);

public slots:
    virtual void add() = 0;
    virtual void change() = 0;
    virtual void remove() = 0;
    // "Изменить" and "Удалить" follow the selection of the shown rows.
    virtual void checkButtons() = 0;
    // A new filter resets the table once, a large one when its rows are found aside; the
    // selected rows that stay shown stay selected.
    void setFilter(const QString& text);

protected:
    TabContext* const context;
    QTableView* const table;
    const TabButtons buttons;

private:
    TableState filtered;
};

// The rows of records read back, and whether they could be read.
template <typename Record>
struct RowsRead {
    QVector<Record> rows;
    bool read = false;
};

// What reading back the records of `ids` changes against what a model shows: the group counts,
// the ids that are gone, and how many records there are more (fewer when negative).
struct ReadBack {
    QHash<int, int> counts;
    QVector<int> gone;
    int added = 0;
};

// The shape every tab shares, over its record type: add and change through the record's
// dialog, a change of many records at once, deletion after a question, and reading back what
// was changed into the model.
template <typename Record, typename Model>
class RecordTab : public RecordTabBase {
public:
    // A deletion: its texts (%1 in question is the count) and how one record goes.
    struct Deletion {
        QString title;
        QString question;
        QString keptNote; // when the protected record was among the selected ones
        bool (ConfigHandler::*deleteOne)(int id);
    };
    // One try of an add or a change: whether it was stored, why not, and a new record's id.
    struct Stored {
        bool ok = false;
        QString error;
        int id = 0;
    };

    RecordTab(TabContext* context, QTableView* view, Model* model, const TabButtons& buttons,
              const Deletion& deletion)
        : RecordTabBase(context, view, buttons)
        , model(model)
        , deletion(deletion) {}

    Model* tableModel() const { return model; }

    void add() override {
        if (!context->busy() && context->reachable())
            edit(Record());
    }

    void change() override {
        if (context->busy() || !context->reachable())
            return;
        const QVector<Record> records = recordsOf(selectedRows());
        if (records.size() > 1 && changeMany(records))
            return;
        if (!records.isEmpty())
            edit(records.first());
    }

    void remove() override {
        const QModelIndexList rows = selectedRows();
        // the ids now: a refresh may replace the rows while the question is open
        const QVector<int> ids = deletable(idsOf(rows));
        if (ids.isEmpty() || context->busy() || !context->ready())
            return;
        bool* ask = askAgain();
        if ((!ask || *ask) &&
            !context->confirmDeletion(deletion.title, deletion.question.arg(ids.size()), ask))
            return;
        DbError why;
        const std::optional<int> deleted = context->aside(deleting(ids), &why);
        if (!deleted || (*deleted < ids.size() && context->connectionLost(why)))
            return;
        readBack(ids, *deleted == ids.size());
        if (ids.size() < rows.size())
            context->inform(deletion.title, deletion.keptNote);
    }

    void checkButtons() override {
        const QItemSelectionModel* selection = table->selectionModel();
        // while a change runs aside, the next waits
        const bool idle = !context->busy();
        const bool selected = idle && selection->hasSelection();
        buttons.add->setEnabled(idle);
        buttons.change->setEnabled(selected);
        // a selection of a million rows is not read through when nothing is protected
        buttons.remove->setEnabled(selected &&
                                   (protectedId() <= 0 || !deletable(idsOf(selectedRows())).isEmpty()));
    }

protected:
    // A new record (id 0) is added, a stored one changed.
    virtual void edit(const Record& record) = 0;
    // Two or more records at once; false when the tab changes only one at a time.
    virtual bool changeMany(const QVector<Record>& /*records*/) { return false; }
    // The record that is never deleted, or 0.
    virtual int protectedId() const { return 0; }
    // Whether to ask before the next deletion, when the question offers not to ask again.
    virtual bool* askAgain() { return nullptr; }
    // Deletes them on the lane, giving how many were deleted.
    virtual std::function<int(ConfigHandler&)> deleting(const QVector<int>& ids) const {
        return [ids, deleteOne = deletion.deleteOne](ConfigHandler& db) {
            int deleted = 0;
            for (const int id : ids)
                deleted += (db.*deleteOne)(id) ? 1 : 0;
            return deleted;
        };
    }
    // The records of these ids read back and put in place after a change; gone: every one was
    // deleted, nothing need be read.
    virtual void readBack(const QVector<int>& ids, bool gone) = 0;

    QModelIndexList selectedRows() const { return table->selectionModel()->selectedRows(0); }

    static Record recordOf(const QModelIndex& index) { return index.data(RecordRole).value<Record>(); }

    static QVector<Record> recordsOf(const QModelIndexList& rows) {
        QVector<Record> records;
        records.reserve(rows.size());
        for (const QModelIndex& row : rows)
            records.append(recordOf(row));
        return records;
    }

    static QVector<int> idsOf(const QModelIndexList& rows) {
        QVector<int> ids;
        ids.reserve(rows.size());
        for (const QModelIndex& row : rows)
            ids.append(recordOf(row).id);
        return ids;
    }

    static QVector<int> idsOf(const QVector<Record>& records) {
        QVector<int> ids;
        ids.reserve(records.size());
        for (const Record& record : records)
            ids.append(record.id);
        return ids;
    }

    QVector<int> deletable(QVector<int> ids) const {
        const int kept = protectedId();
        if (kept > 0)
            ids.removeAll(kept);
        return ids;
    }

    // Two or more records in a bulk dialog: what the administrator changed is applied to all of
    // them, or nothing is. more: whether the dialog changes anything besides the groups; store
    // gives the work that applies it all on the lane.
    template <typename Dialog, typename More, typename Store>
    void changeInBulk(const QVector<Record>& records, More more, Store store) {
        Dialog dialog(context->window(), records, context->shownRecords().groups,
                      context->db()->adminGroupId());
        if (dialog.exec() != QDialog::Accepted)
            return;
        const QVector<int> add = dialog.addGroupIds();
        const QVector<int> remove = dialog.removeGroupIds();
        if (add.isEmpty() && remove.isEmpty() && !more(dialog))
            return;
        const QVector<int> ids = idsOf(records);
        DbError why;
        const std::optional<bool> stored =
            context->aside(std::function<bool(ConfigHandler&)>(store(dialog, ids, add, remove)), &why);
        if (!stored)
            return;
        if (!*stored) {
            // a group deleted meanwhile is named, and leaves the tables
            if (context->refused(errorText(RecordKind::Group, why), why) &&
                why.kind == DbError::Kind::MissingGroup) {
                readBack(ids, false);
                context->groupsChanged();
            }
            return;
        }
        readBack(ids, false);
        context->groupsChanged();
    }

    // What an edit's dialog loop does after one try to store what its dialog left.
    enum class EditStep { Stored, Quit, Close, Ask, TakeStored, Overwrite };

    // One try on the lane: `store` adds (id 0; it gives the new id) or changes against `seen`.
    // Stored, the record is read back; a refused change says why and, for TakeStored and
    // Overwrite, puts the stored record into `seen` (`read` reads it).
    EditStep storeEdit(int id, Record& seen, bool changed, std::function<Stored(ConfigHandler&)> store,
                       std::function<QVector<Record>(ConfigHandler&)> read) {
        DbError why;
        const std::optional<Stored> tried = context->aside(std::move(store), &why);
        if (!tried)
            return EditStep::Quit;
        if (tried->ok) {
            if (changed)
                context->groupsChanged();
            readBack({id == 0 ? tried->id : id}, false);
            return EditStep::Stored;
        }
        if (id == 0)
            return context->refused(tried->error, why) ? EditStep::Ask : EditStep::Quit;
        const TabContext::EditRefusal next = context->editRefused(tried->error, why);
        readBack({id}, false);
        if (next == TabContext::EditRefusal::Gone)
            return EditStep::Close;
        if (next == TabContext::EditRefusal::Again)
            return EditStep::Ask;
        const std::optional<QVector<Record>> stored = context->aside(std::move(read));
        if (!stored || stored->isEmpty())
            return EditStep::Close;
        seen = stored->first();
        return next == TabContext::EditRefusal::TakeStored ? EditStep::TakeStored : EditStep::Overwrite;
    }

    // After a change: the records of these ids read back and put in place (gone ones removed),
    // many of them aside and shown a moment later; returns what that changed, or nothing when
    // they could not be read.
    std::optional<ReadBack> putInPlace(const QVector<int>& ids, const QVector<Record>& now, bool read,
                                       const DbError& why) {
        if (!read) {
            // an unread row is not a deleted one
            context->connectionLost(why);
            return std::nullopt;
        }
        ReadBack change;
        QSet<int> found;
        for (const Record& record : now) {
            found.insert(record.id);
            if (const Record* before = model->rowOf(record.id)) {
                for (const int group : before->groups)
                    --change.counts[group];
            } else {
                ++change.added;
            }
            for (const int group : record.groups)
                ++change.counts[group];
        }
        for (const int id : ids) {
            const Record* before = found.contains(id) ? nullptr : model->rowOf(id);
            if (!before)
                continue;
            change.gone.append(id);
            --change.added;
            for (const int group : before->groups)
                --change.counts[group];
        }
        if (now.size() > Model::fewInPlace) {
            model->upsertAside(now, change.gone, [view = table](const std::function<void()>& replace) {
                const TableState kept = TableState::of(view);
                replace();
                kept.restore(view);
            });
            return change;
        }
        const TableState state = TableState::of(table);
        model->upsert(now);
        model->removeIds(change.gone);
        state.restore(table);
        return change;
    }

    Model* const model;
    const Deletion deletion;
};

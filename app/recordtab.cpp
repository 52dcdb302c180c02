#include "app/recordtab.h"

#include <QCheckBox>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>

namespace {

bool sameConnection(const SqlConnectionSettings& a, const SqlConnectionSettings& b) {
    return a.ip == b.ip && a.port == b.port && a.user == b.user && a.password == b.password && a.db == b.db &&
           a.tls == b.tls && a.tlsCaFile == b.tlsCaFile;
}

} // namespace

TabContext::TabContext(QWidget* window, ConfigHandler* db)
    : QObject(window)
    , parentWindow(window)
    , handler(db)
    , lane(new DbLane(QStringLiteral("changes"), this)) {
    // a connection found gone by the window is found gone for the lane too
    connect(this, &TabContext::offline, lane, &DbLane::reconnect);
}

void TabContext::followSettings() {
    const SqlConnectionSettings settings = handler->connectionSettings();
    const JournalState journal = handler->journalState();
    if (laneAdminGroup != handler->adminGroupId() || !sameConnection(settings, laneSettings) ||
        journal.known != laneJournal.known || journal.on != laneJournal.on) {
        laneSettings = settings;
        laneAdminGroup = handler->adminGroupId();
        laneJournal = journal;
        lane->setConnection(laneSettings, laneAdminGroup, laneJournal);
    }
}

void TabContext::knowGroups(const QVector<GroupInfo>& groups) {
    followSettings();
    lane->knowGroups(groups);
}

bool TabContext::wait(DbLane::Work work) {
    followSettings();
    struct State {
        bool done = false;
        QEventLoop* loop = nullptr;
    };
    const auto state = std::make_shared<State>();
    if (running++ == 0)
        emit busyChanged(true);
    lane->run(this, std::move(work), [state] {
        state->done = true;
        if (state->loop)
            state->loop->quit();
    });
    if (!state->done) {
        // the program closing ends this loop too, and the work is then left to its lane
        QEventLoop loop;
        state->loop = &loop;
        loop.exec();
        state->loop = nullptr;
    }
    if (--running == 0)
        emit busyChanged(false);
    return state->done;
}

bool TabContext::reachable() {
    if (!ready())
        return false;
    // while the dialog is open, not before it: a connection closed meanwhile is opened anew
    // ahead of the dialog's change, and a server gone is told at once
    followSettings();
    struct Answer {
        bool answered = true;
        QString why;
    };
    const auto answer = std::make_shared<Answer>();
    lane->run(
        this,
        [answer](ConfigHandler* db, const DbError& error) {
            answer->answered = db && db->reachable();
            answer->why = db ? db->lastError().serverText : error.serverText;
        },
        [this, answer] {
            if (!answer->answered)
                emit offline(answer->why);
        });
    return true;
}

ShownRecords TabContext::shownRecords() {
    ShownRecords shown = records ? records() : ShownRecords();
    shown.addGroup = [this](GroupInfo& group, QString& error) {
        return addGroup(group, error);
    };
    return shown;
}

bool TabContext::addGroup(GroupInfo& group, QString& error) {
    struct Added {
        bool ok = false;
        GroupInfo group;
        QString error;
    };
    DbError why;
    const std::optional<Added> added = aside(std::function<Added(ConfigHandler&)>([group](ConfigHandler& db) {
                                                 Added tried{false, group, QString()};
                                                 tried.ok = db.addGroup(tried.group, tried.error);
                                                 return tried;
                                             }),
                                             &why);
    if (!added)
        return false;
    if (!added->ok) {
        error = added->error.isEmpty() ? errorText(RecordKind::Group, why) : added->error;
        if (why.kind == DbError::Kind::ConnectionLost)
            emit offline(why.serverText);
        return false;
    }
    group = added->group;
    return true;
}

void TabContext::showError(const QString& text) const {
    QMessageBox::critical(parentWindow, QStringLiteral("Ошибка"), text, QMessageBox::Ok);
}

bool TabContext::connectionLost(const DbError& why) {
    // a refusal of the server's own is no proof that it is still there
    if (why.kind != DbError::Kind::ConnectionLost) {
        DbError now;
        const std::optional<bool> answered = aside(
            std::function<bool(ConfigHandler&)>([](ConfigHandler& db) { return db.reachable(); }), &now);
        if (!answered)
            return true;
        if (*answered)
            return false;
        return lost(now);
    }
    return lost(why);
}

bool TabContext::lost(const DbError& why) {
    emit offline(why.serverText);
    showError(QStringLiteral(
        "Нет связи с сервером БД, изменения не сохранены.\n"
        "Когда сервер снова будет доступен, F5 или следующее изменение подключат к нему заново."));
    return true;
}

bool TabContext::refused(const QString& error, const DbError& why) {
    if (connectionLost(why))
        return false;
    showError(error.isEmpty() ? QStringLiteral("Не удалось сохранить изменения!") : error);
    return true;
}

TabContext::EditRefusal TabContext::editRefused(const QString& error, const DbError& why) {
    const DbError::Kind kind = why.kind;
    if (kind == DbError::Kind::Deleted) {
        showError(error);
        return EditRefusal::Gone;
    }
    if (kind != DbError::Kind::Conflict)
        return refused(error, why) ? EditRefusal::Again : EditRefusal::Gone;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Запись изменена"), error, QMessageBox::NoButton,
                    parentWindow);
    QPushButton* overwrite = box.addButton(QStringLiteral("Записать мои значения"), QMessageBox::AcceptRole);
    box.addButton(QStringLiteral("Взять сохранённые"), QMessageBox::RejectRole);
    box.setDefaultButton(overwrite);
    box.exec();
    return box.clickedButton() == overwrite ? EditRefusal::Overwrite : EditRefusal::TakeStored;
}

bool TabContext::confirmDeletion(const QString& title, const QString& text, bool* askAgain) const {
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Ok);
    if (askAgain) {
        auto* check = new QCheckBox(QStringLiteral("больше не спрашивать"), &box);
        box.setCheckBox(check);
        connect(check, &QCheckBox::stateChanged, this, [askAgain](int state) {
            if (state == Qt::Checked)
                *askAgain = false;
        });
    }
    return box.exec() == QMessageBox::Ok;
}

void TabContext::inform(const QString& title, const QString& text) const {
    QMessageBox::information(parentWindow, title, text);
}

RecordTabBase::RecordTabBase(TabContext* context, QTableView* view, const TabButtons& buttons)
    : QObject(context)
    , context(context)
    , table(view)
    , buttons(buttons) {
    connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &RecordTabBase::checkButtons);
    // a reset (a filter, new rows) drops the selection without that signal
    connect(view->model(), &QAbstractItemModel::modelReset, this, &RecordTabBase::checkButtons);
    connect(view->model(), &QAbstractItemModel::rowsRemoved, this, &RecordTabBase::checkButtons);
    connect(view, &QAbstractItemView::doubleClicked, this, &RecordTabBase::change);
    // what is picked when the rows of a new filter come, not when its text was typed
    const auto* model = static_cast<RecordTableModel*>(view->model());
    connect(model, &RecordTableModel::filterChanging, this, [this] { filtered = TableState::of(table); });
    connect(model, &RecordTableModel::filterChanged, this, [this] { filtered.restore(table); });
}

void RecordTabBase::setFilter(const QString& text) {
    static_cast<RecordTableModel*>(table->model())->filterAside(text);
}

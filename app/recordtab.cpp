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
    const std::optional<bool> answered =
        aside(std::function<bool(ConfigHandler&)>([](ConfigHandler& db) { return db.reachable(); }));
    if (!answered)
        return false;
    if (*answered)
        return true;
    emit offline();
    return ready();
}

void TabContext::showError(const QString& text) const {
    QMessageBox::critical(parentWindow, QStringLiteral("Ошибка"), text, QMessageBox::Ok);
}

bool TabContext::connectionLost() {
    // a refusal of the server's own is no proof that it is still there
    if (handler->lastError().kind != DbError::Kind::ConnectionLost && handler->reachable())
        return false;
    return lost();
}

bool TabContext::connectionLost(const DbError& why) {
    if (why.kind != DbError::Kind::ConnectionLost) {
        const std::optional<bool> answered =
            aside(std::function<bool(ConfigHandler&)>([](ConfigHandler& db) { return db.reachable(); }));
        if (!answered)
            return true;
        if (*answered)
            return false;
    }
    return lost();
}

bool TabContext::lost() {
    emit offline();
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
}

void RecordTabBase::setFilter(const QString& text) {
    const TableState state = TableState::of(table);
    static_cast<RecordTableModel*>(table->model())->setFilterText(text);
    state.restore(table);
}

#include "app/recordtab.h"

#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>

TabContext::TabContext(QWidget* window, ConfigHandler* db)
    : QObject(window)
    , parentWindow(window)
    , handler(db) {}

void TabContext::showError(const QString& text) const {
    QMessageBox::critical(parentWindow, QStringLiteral("Ошибка"), text, QMessageBox::Ok);
}

bool TabContext::connectionLost() {
    // a refusal of the server's own is no proof that it is still there
    if (handler->lastError().kind != DbError::Kind::ConnectionLost && handler->reachable())
        return false;
    emit offline();
    showError(QStringLiteral(
        "Нет связи с сервером БД, изменения не сохранены.\n"
        "Когда сервер снова будет доступен, F5 или следующее изменение подключат к нему заново."));
    return true;
}

bool TabContext::refused(const QString& error) {
    if (connectionLost())
        return false;
    showError(error.isEmpty() ? QStringLiteral("Не удалось сохранить изменения!") : error);
    return true;
}

TabContext::EditRefusal TabContext::editRefused(const QString& error) {
    const DbError::Kind kind = handler->lastError().kind;
    if (kind == DbError::Kind::Deleted) {
        showError(error);
        return EditRefusal::Gone;
    }
    if (kind != DbError::Kind::Conflict)
        return refused(error) ? EditRefusal::Again : EditRefusal::Gone;
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

#pragma once

// Shared by the dialog tests: pressing OK, reading and toggling pick lists, and a
// ConfigHandler on the test database.

#include "db/confighandler.h"
#include "modalanswerer.h"
#include "testdb.h"

#include <QAbstractItemView>
#include <QSqlQuery>

#include <memory>

// Presses OK. With an error expected, checks that exactly that error box showed and the dialog
// stayed open; without, that no box showed and the dialog was accepted. Callers return when
// QTest::currentTestFailed().
inline void pressOk(QDialog* dialog, const QString& error, bool boxHasParent = true) {
    ModalAnswerer answers;
    if (!error.isEmpty())
        answers.expect("QMessageBox");
    clickOk(dialog);
    VERIFY_ANSWERED(answers);
    if (error.isEmpty()) {
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        return;
    }
    const ModalAnswerer::Seen box = answers.seen.value(0);
    QCOMPARE(box.title, QStringLiteral("Ошибка"));
    QCOMPARE(box.text, error);
    QCOMPARE(box.hasParent, boxHasParent);
    QVERIFY(dialog->isVisible());
}

// Toggles a row's check box the way a user does with the keyboard.
inline void toggleRow(QAbstractItemView* view, int row) {
    view->setFocus();
    view->setCurrentIndex(view->model()->index(row, 0));
    QTest::keyClick(view, Qt::Key_Space);
}

struct ListRow {
    QString text;
    int id;
    bool checked;
    bool enabled;
    bool operator==(const ListRow& o) const {
        return text == o.text && id == o.id && checked == o.checked && enabled == o.enabled;
    }
};
using ListRows = QVector<ListRow>;

inline ListRows listRows(const QAbstractItemView* view) {
    ListRows rows;
    const QAbstractItemModel* m = view->model();
    for (int r = 0; r < m->rowCount(); ++r) {
        const QModelIndex i = m->index(r, 0);
        rows << ListRow{i.data().toString(), i.data(Qt::UserRole).toInt(),
                        i.data(Qt::CheckStateRole).toInt() == Qt::Checked,
                        m->flags(i).testFlag(Qt::ItemIsEnabled)};
    }
    return rows;
}

namespace QTest {
template <>
inline char* toString(const ListRow& row) {
    return qstrdup(QStringLiteral("(%1, id %2, %3, %4)")
                       .arg(row.text)
                       .arg(row.id)
                       .arg(row.checked ? QStringLiteral("checked") : QStringLiteral("unchecked"))
                       .arg(row.enabled ? QStringLiteral("enabled") : QStringLiteral("disabled"))
                       .toUtf8()
                       .constData());
}
} // namespace QTest

// A handler on the freshly loaded test database, checked so that the admin group is known.
inline std::unique_ptr<ConfigHandler> connectedHandler() {
    auto handler = std::make_unique<ConfigHandler>();
    handler->setConnectionSettings(TestDb::settings());
    if (handler->connectToDatabase() != 0)
        qFatal("cannot connect: %s", qPrintable(handler->lastErrorText()));
    handler->checkDatabase();
    return handler;
}

// Inserts a row through the inspection connection and returns its id.
inline int insertRow(const QString& sql, const QVariantList& values) {
    QSqlQuery q(TestDb::admin());
    q.prepare(sql);
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!q.exec())
        qFatal("insert failed: %s", qPrintable(sql));
    return q.lastInsertId().toInt();
}

inline int insertGroup(const QString& name) {
    return insertRow(QStringLiteral("INSERT INTO groups_list (group_name) VALUES (?)"), {name});
}

inline int insertUser(const QString& login, const QVector<int>& groups = {}) {
    const int id = insertRow(
        QStringLiteral("INSERT INTO users (user_login, user_password) VALUES (?, UNHEX(SHA2(?, 512)))"),
        {login, login});
    for (int g : groups)
        insertRow(QStringLiteral("INSERT INTO user_groups (user_id, group_id) VALUES (?, ?)"), {id, g});
    return id;
}

// Deletes what was left for deleteLater, such as the fade animation of a line edit's clear
// button whose dialog is gone, so that nothing outlives the test function.
inline void flushDeferredDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// What the dialog tests start from: a fresh database with the groups "Drivers" and "Грузовики"
// besides the administrators', and a handler on it. Test classes derive from it, call
// resetDatabase() in init() and releaseDatabase() in cleanup().
struct GroupsFixture {
    std::unique_ptr<ConfigHandler> handler;
    int admin = 0, drivers = 0, trucks = 0;

    bool resetDatabase() {
        handler.reset();
        QString error;
        if (!TestDb::reset(QString(), &error)) {
            qWarning("%s", qPrintable(error));
            return false;
        }
        drivers = insertGroup(QStringLiteral("Drivers"));
        trucks = insertGroup(QStringLiteral("Грузовики"));
        handler = connectedHandler();
        admin = handler->adminGroupId();
        return admin > 0;
    }
    void releaseDatabase() {
        handler.reset();
        flushDeferredDeletes();
    }
};

// Creates a group through the dialog's "add new group" button and returns its id.
inline int addGroupByButton(QWidget* dialog, const QString& name) {
    ModalAnswerer answers;
    answers.expect("GroupEditDialog", [name](QWidget* w) {
        setText(w, "groupNameEdit", name);
        clickOk(w);
    });
    child(dialog, "addNewGroup")->click();
    if (!answers.done() || !answers.problems.isEmpty())
        qWarning("%s", qPrintable(answers.report()));
    QSqlQuery q(TestDb::admin());
    q.prepare(QStringLiteral("SELECT id FROM groups_list WHERE group_name=?"));
    q.addBindValue(name);
    return q.exec() && q.next() ? q.value(0).toInt() : -1;
}

// Shows a dialog without running it modally, so that the test drives it directly.
inline bool showDialog(QDialog* dialog) {
    dialog->show();
    return QTest::qWaitForWindowExposed(dialog);
}

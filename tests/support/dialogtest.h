#pragma once

// Shared by the dialog tests: OK, pick lists, a ConfigHandler on the test database.

#include "db/confighandler.h"
#include "dialogs/grouppickdialog.h"
#include "modalanswerer.h"
#include "models/dblane.h"
#include "testdb.h"

#include <QEventLoop>
#include <QSqlQuery>

#include <memory>

// Presses OK: exactly that error box and the dialog stays open, or no box and it is accepted.
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

// A fresh database with the groups "Drivers" and "Грузовики" besides the administrators'.
struct GroupsFixture {
    std::unique_ptr<ConfigHandler> handler;
    std::unique_ptr<DbLane> lane;
    int admin = 0, drivers = 0, trucks = 0;

    bool resetDatabase() {
        handler.reset();
        QString error;
        if (!TestDb::reset(QString(), &error))
            qFatal("%s", qPrintable(error));
        const QString sql = QStringLiteral("INSERT INTO groups_list (group_name) VALUES (?)");
        drivers = insertRow(sql, {QStringLiteral("Drivers")});
        trucks = insertRow(sql, {QStringLiteral("Грузовики")});
        handler = TestDb::handler();
        admin = handler ? handler->adminGroupId() : 0;
        if (admin > 0) {
            lane = std::make_unique<DbLane>(QStringLiteral("dialogs"));
            lane->setConnection(TestDb::settings(), admin, handler->journalState());
        }
        return admin > 0;
    }
    // What a window would hold of the stored groups and users; a group made in a dialog is
    // stored on a lane while the dialog waits, as the window stores it.
    ShownRecords stored() const {
        ShownRecords shown{handler->getGroups(), handler->getUsers()};
        shown.addGroup = [lane = lane.get()](GroupInfo& group, QString& error) {
            bool added = false;
            QEventLoop loop;
            lane->run(
                &loop,
                [&](ConfigHandler* db, const DbError& why) {
                    added = db && db->addGroup(group, error);
                    if (!db)
                        error = why.serverText;
                },
                [&] { loop.quit(); });
            loop.exec();
            return added;
        };
        return shown;
    }
    // Also what waits for deleteLater (a clear button's fade), so nothing outlives the test.
    void releaseDatabase() {
        lane.reset();
        handler.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

// Shows a dialog without running it modally, so that the test drives it directly.
inline bool showDialog(QDialog* dialog) {
    dialog->show();
    return QTest::qWaitForWindowExposed(dialog);
}

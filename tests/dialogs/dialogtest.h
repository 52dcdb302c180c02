#pragma once

// Shared by the dialog tests: answering modal windows from a timer, reading pick lists,
// and a ConfigHandler on the test database.

#include "db/confighandler.h"
#include "testdb.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSqlQuery>
#include <QTimer>
#include <QtTest>

#include <deque>
#include <functional>
#include <memory>

// Watches for modal windows while it lives. Each expected one (by class name) is handed
// to its handler in order; anything else is noted and closed, so a test never hangs.
class ModalAnswerer : public QObject {
public:
    struct Seen {
        QString className;
        QString title;
        QString text;
        bool hasParent = false;
    };

    ModalAnswerer() { schedule(); }

    // Runs handle on the next modal window that inherits className.
    void expect(const char* className, std::function<void(QWidget*)> handle) {
        expected.push_back({QByteArray(className), std::move(handle)});
    }
    // The next message box: noted in seen and closed with its OK button.
    void expectMessage() {
        expect("QMessageBox", [](QWidget*) {});
    }

    bool allAnswered() const { return expected.empty(); }
    QVector<Seen> seen;       // every modal window that showed, in order
    QVector<Seen> unexpected; // those that nobody expected

private:
    struct Expectation {
        QByteArray className;
        std::function<void(QWidget*)> handle;
    };

    void schedule() {
        QTimer::singleShot(5, this, [this] { poll(); });
    }

    void poll() {
        // Keep watching also while a handler below runs a nested event loop.
        schedule();
        QWidget* w = QApplication::activeModalWidget();
        if (!w || handling.contains(w))
            return;
        Seen s{QString::fromLatin1(w->metaObject()->className()), w->windowTitle(), QString(),
               w->parentWidget() != nullptr};
        if (auto* box = qobject_cast<QMessageBox*>(w))
            s.text = box->text();
        seen << s;
        QPointer<QWidget> guard(w);
        handling << guard;
        if (!expected.empty() && w->inherits(expected.front().className.constData())) {
            const Expectation e = expected.front();
            expected.pop_front();
            e.handle(w);
        } else {
            unexpected << s;
        }
        // Whatever the handler left open is closed: a message box with OK, a dialog with Cancel.
        if (guard && guard->isVisible()) {
            auto* box = qobject_cast<QMessageBox*>(guard.data());
            if (box && box->button(QMessageBox::Ok))
                box->button(QMessageBox::Ok)->click();
            else if (auto* dialog = qobject_cast<QDialog*>(guard.data()))
                dialog->reject();
        }
        handling.removeAll(guard);
        handling.removeAll(nullptr);
    }

    std::deque<Expectation> expected;
    QList<QPointer<QWidget>> handling;
};

template <class T = QAbstractButton>
T* child(QWidget* parent, const char* name) {
    T* w = parent->findChild<T*>(QString::fromLatin1(name));
    if (!w)
        qFatal("no child %s", name);
    return w;
}

inline QAbstractButton* okButton(QWidget* dialog) {
    return child<QDialogButtonBox>(dialog, "buttonBox")->button(QDialogButtonBox::Ok);
}

// Types text key by key, also letters that QTest::keyClicks cannot (Cyrillic and others).
inline void typeText(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() < 0x80)
            QTest::keyClick(widget, c.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

// Presses OK. With an error expected, checks that exactly that error box showed and the dialog
// stayed open; without, that no box showed and the dialog was accepted. Callers return when
// QTest::currentTestFailed().
inline void pressOk(QDialog* dialog, const QString& error, bool boxHasParent = true) {
    ModalAnswerer answers;
    if (!error.isEmpty())
        answers.expectMessage();
    okButton(dialog)->click();
    QVERIFY(answers.allAnswered());
    QVERIFY2(answers.unexpected.isEmpty(), qPrintable(answers.unexpected.value(0).text));
    if (error.isEmpty()) {
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        return;
    }
    QCOMPARE(answers.seen.size(), 1);
    QCOMPARE(answers.seen.at(0).title, QStringLiteral("Ошибка"));
    QCOMPARE(answers.seen.at(0).text, error);
    QCOMPARE(answers.seen.at(0).hasParent, boxHasParent);
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

inline QVector<ListRow> listRows(QAbstractItemView* view) {
    QVector<ListRow> rows;
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

// Inserts a group or a user through the inspection connection and returns its id.
inline int insertGroup(const QString& name) {
    QSqlQuery q(TestDb::admin());
    q.prepare(QStringLiteral("INSERT INTO groups_list (group_name) VALUES (?)"));
    q.addBindValue(name);
    if (!q.exec())
        qFatal("insert group failed");
    return q.lastInsertId().toInt();
}

inline int insertUser(const QString& login, const QVector<int>& groups = {}) {
    QSqlQuery q(TestDb::admin());
    q.prepare(
        QStringLiteral("INSERT INTO users (user_login, user_password) VALUES (?, UNHEX(SHA2(?, 512)))"));
    q.addBindValue(login);
    q.addBindValue(login);
    if (!q.exec())
        qFatal("insert user failed");
    const int id = q.lastInsertId().toInt();
    for (int g : groups)
        TestDb::exec(
            QStringLiteral("INSERT INTO user_groups (user_id, group_id) VALUES (%1, %2)").arg(id).arg(g));
    return id;
}

// Deletes what was left for deleteLater, such as the fade animation of a line edit's clear
// button whose dialog is gone, so that nothing outlives the test function.
inline void flushDeferredDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Shows a dialog without running it modally, so that the test drives it directly.
inline bool showDialog(QDialog* dialog) {
    dialog->show();
    return QTest::qWaitForWindowExposed(dialog);
}

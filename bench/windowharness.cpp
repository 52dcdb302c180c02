#include "windowharness.h"

#include "benchserver.h"
#include "windowrelay.h"

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTimer>
#include <QWidget>

#include <chrono>

namespace windowbench {

qint64 nowNs() {
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.nsecsElapsed();
}

qint64 steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

ServerCounters::ServerCounters() {
    const Counters first = read();
    own = read().minus(first);
}

Counters ServerCounters::since(const Counters& before) const {
    const Counters now = read();
    return now.minus(before).minus(own, now.reading - before.reading);
}

Counters ServerCounters::read() const {
    Counters c;
    QSqlQuery q(QSqlDatabase::database(STATS_CONNECTION, false));
    q.exec(QStringLiteral("SHOW GLOBAL STATUS WHERE Variable_name IN "
                          "('Questions', 'Com_stmt_execute', 'Com_select')"));
    while (q.next()) {
        const QString name = q.value(0).toString();
        const qint64 value = q.value(1).toLongLong();
        if (name.compare(QLatin1String("Questions"), Qt::CaseInsensitive) == 0)
            c.questions = value;
        else if (name.compare(QLatin1String("Com_stmt_execute"), Qt::CaseInsensitive) == 0)
            c.executes = value;
        else
            c.selects = value;
    }
    q.exec(QStringLiteral("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE USER = '%1' AND "
                          "ID <> CONNECTION_ID() AND COMMAND <> 'Sleep'")
               .arg(bench::DB_USER));
    if (q.next())
        c.busy = q.value(0).toLongLong();
    c.reading = ++readings;
    return c;
}

bool ServerCounters::quiet(const Counters& earlier, const Counters& later) const {
    return later.busy == 0 && later.minus(earlier).questions <= own.questions;
}

Answerer::Answerer() {
    qApp->installEventFilter(this);
}

Answerer::~Answerer() {
    qApp->removeEventFilter(this);
}

bool Answerer::idle() const {
    return steps.empty() && !QApplication::activeModalWidget();
}

bool Answerer::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Show || event->spontaneous() || !watched->isWidgetType())
        return false;
    auto* w = static_cast<QWidget*>(watched);
    // a progress dialog is answered by the step that waits on it
    if (!w->isWindow() || !w->isModal() || w->inherits("QProgressDialog"))
        return false;
    lastShownNs = nowNs();
    // answered from the dialog's own event loop, once exec() runs
    QTimer::singleShot(0, this, [this, guard = QPointer<QWidget>(w)] { answer(guard); });
    return false;
}

void Answerer::answer(const QPointer<QWidget>& w) {
    if (!w || !w->isVisible())
        return;
    if (!steps.empty() && w->inherits(steps.front().className.constData())) {
        const Step step = steps.front();
        steps.pop_front();
        step.action(w);
    } else {
        auto* box = qobject_cast<QMessageBox*>(w.data());
        problems << QStringLiteral("unexpected %1 \"%2\" %3")
                        .arg(QString::fromLatin1(w->metaObject()->className()), w->windowTitle(),
                             box ? box->text() : QString());
    }
    if (w && w->isVisible()) {
        auto* box = qobject_cast<QMessageBox*>(w.data());
        if (box && box->button(QMessageBox::Ok))
            box->button(QMessageBox::Ok)->click();
        else if (auto* dialog = qobject_cast<QDialog*>(w.data()))
            dialog->reject();
    }
}

void Measure::begin(const QString& name) {
    row = Row{};
    row.name = name;
    answerer.problems.clear();
    before = counters.read();
    turnsBefore = relay ? relay->turns() : 0;
    heartbeat.reset();
    startNs = commitNs = nowNs();
    answerer.lastShownNs = 0;
}

void Measure::commit() {
    commitNs = nowNs();
    if (answerer.lastShownNs >= startNs)
        row.openMs = double(answerer.lastShownNs - startNs) / 1e6;
}

bool Measure::finish(const std::function<bool()>& shown) {
    bool ok = true;
    while (!shown()) {
        if (!answerer.problems.isEmpty()) {
            row.failure = answerer.problems.join(QStringLiteral("; "));
            ok = false;
            break;
        }
        if (nowNs() - startNs > qint64(timeoutMs) * 1000000) {
            row.failure = QStringLiteral("not on screen after %1 s").arg(timeoutMs / 1000);
            if (describe)
                row.failure += QStringLiteral("; shown: ") + describe();
            ok = false;
            break;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    QCoreApplication::processEvents(); // the repaint the change asked for
    if (ok)
        row.resultMs = double(nowNs() - commitNs) / 1e6;
    settle();
    row.stallMs = heartbeat.longestMs();
    row.peakMiB = bench::peakRssKiB() / 1024;
    row.statements = counters.since(before);
    if (relay)
        row.turns = relay->turns() - turnsBefore;
    rows << row;
    return ok;
}

void Measure::settle() {
    constexpr qint64 quietNs = 500 * 1000000LL;
    Counters last = counters.read();
    qint64 quietFrom = nowNs();
    qint64 polled = quietFrom;
    while (nowNs() - quietFrom < quietNs && nowNs() - startNs < qint64(timeoutMs) * 1000000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (nowNs() - polled < 50 * 1000000LL)
            continue;
        polled = nowNs();
        const Counters now = counters.read();
        if (!counters.quiet(last, now))
            quietFrom = polled;
        last = now;
    }
}

void Measure::fail(const QString& name, const QString& why) {
    Row r;
    r.name = name;
    r.failure = why;
    rows << r;
}

void sendKey(QWidget* w, int key, Qt::KeyboardModifiers modifiers, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(w, &release);
}

void triggerShortcut(QWidget* window, const QKeySequence& key) {
    for (QAction* action : window->findChildren<QAction*>()) {
        if (action->shortcuts().contains(key)) {
            action->trigger();
            return;
        }
    }
}

void click(QWidget* w, const QPoint& pos) {
    QMouseEvent press(QEvent::MouseButtonPress, pos, w->mapToGlobal(pos), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, pos, w->mapToGlobal(pos), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(w, &release);
}

void clickOk(QWidget* dialog) {
    if (auto* box = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox")))
        box->button(QDialogButtonBox::Ok)->click();
}

QStringList topTexts(const QTableView* view, int column) {
    QStringList texts;
    const QAbstractItemModel* model = view->model();
    int last = view->rowAt(view->viewport()->height() - 1);
    if (last < 0)
        last = model->rowCount() - 1;
    for (int r = 0; r <= last; ++r)
        texts << model->index(r, column).data().toString();
    return texts;
}

PaintCounter::PaintCounter(QWidget* w, int* count)
    : count(count) {
    w->installEventFilter(this);
}

bool PaintCounter::eventFilter(QObject*, QEvent* event) {
    if (event->type() == QEvent::Paint)
        ++*count;
    return false;
}

} // namespace windowbench

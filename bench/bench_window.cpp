// The main window end to end at scale: the real window, offscreen, against the private MariaDB
// with many devices, driven through its widgets and dialogs as a person would. For each step it
// prints the time until the result is on screen, the longest stall of the GUI thread (gaps in a
// 5 ms heartbeat), and the statements the server received; behind the delaying relay
// (--db-latency-ms) also the round trips.
//
//   orb-bench --only window [--window-devices 100000] [--db-latency-ms D] [--window-timeout-s 600]
//                           [--window-keep-server] [--window-close-during-refresh]
//
// --window-close-during-refresh: after start-up, F5 and the window closed while the refresh reads;
// it prints when on the steady clock (CLOCK_MONOTONIC) and ends at once, leaving the server
// running, so that whoever started it sees how long the process takes to end.

#include "bench.h"
#include "benchserver.h"

#include "app/csettings.h"
#include "app/mainwindow.h"
#include "core/records.h"
#include "db/confighandler.h"
#include "link/orbserverhandler.h"
#include "models/recordtablemodel.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <utility>

namespace {

using bench::out;

const QString WINDOW_DB = QStringLiteral("orb_window");
const QString STATS_CONNECTION = QStringLiteral("bench-window-stats");
constexpr int USERS = 2000;
constexpr int GROUPS = 200; // besides Admin
constexpr int JOURNAL_ROWS = 1000000;

// One clock for the whole section, so that times taken in different places compare.
qint64 nowNs() {
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.nsecsElapsed();
}

// CLOCK_MONOTONIC, which another process can read too.
qint64 steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The program's debug lines and the offscreen plugin's notes would bury the table.
void quiet(QtMsgType type, const QMessageLogContext&, const QString& msg) {
    if (type >= QtWarningMsg && !msg.contains(QLatin1String("propagateSizeHints")))
        QTextStream(stderr) << msg << '\n';
}

// ---- the delaying relay

// Holds back what it is given by a fixed delay, then writes it to `to` in arrival order.
class DelayLane : public QObject {
public:
    DelayLane(QTcpSocket* to, int delayMs, QObject* parent)
        : QObject(parent)
        , to(to)
        , delayMs(delayMs) {
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        connect(&timer, &QTimer::timeout, this, &DelayLane::flush);
        clock.start();
    }

    void push(QByteArray bytes) {
        pending.emplace_back(clock.elapsed() + delayMs, std::move(bytes));
        if (!timer.isActive())
            timer.start(delayMs);
    }

private:
    void flush() {
        const qint64 now = clock.elapsed();
        while (!pending.empty() && pending.front().first <= now) {
            to->write(pending.front().second);
            pending.pop_front();
        }
        if (!pending.empty())
            timer.start(int(pending.front().first - now));
    }

    QTcpSocket* const to;
    const int delayMs;
    QTimer timer;
    QElapsedTimer clock;
    std::deque<std::pair<qint64, QByteArray>> pending;
};

// One client connection forwarded to the server. A client chunk that follows a server chunk is
// one round trip: the client had to wait for the answer before it could go on.
class RelayLink : public QObject {
public:
    RelayLink(QTcpSocket* client, quint16 serverPort, int delayMs, std::atomic<qint64>& turns,
              QObject* parent)
        : QObject(parent)
        , client(client)
        , upstream(new QTcpSocket(this))
        , toServer(new DelayLane(upstream, delayMs, this))
        , toClient(new DelayLane(client, delayMs, this))
        , turns(turns) {
        client->setParent(this);
        client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(client, &QTcpSocket::readyRead, this, [this] {
            if (serverSpokeLast)
                ++this->turns;
            serverSpokeLast = false;
            toServer->push(this->client->readAll());
        });
        connect(upstream, &QTcpSocket::readyRead, this, [this] {
            serverSpokeLast = true;
            toClient->push(upstream->readAll());
        });
        connect(upstream, &QTcpSocket::connected, this,
                [this] { upstream->setSocketOption(QAbstractSocket::LowDelayOption, 1); });
        connect(client, &QTcpSocket::disconnected, this, &RelayLink::close);
        connect(upstream, &QTcpSocket::disconnected, this, &RelayLink::close);
        upstream->connectToHost(QHostAddress::LocalHost, serverPort);
    }

private:
    void close() {
        client->disconnectFromHost();
        upstream->disconnectFromHost();
        deleteLater();
    }

    QTcpSocket* const client;
    QTcpSocket* const upstream;
    DelayLane* const toServer;
    DelayLane* const toClient;
    std::atomic<qint64>& turns;
    bool serverSpokeLast = false;
};

// A QTcpServer on 127.0.0.1 in a thread of its own that forwards every connection to the
// database server, each chunk delayed in either direction, like a distant server would.
class DelayRelay {
public:
    DelayRelay(quint16 serverPort, int delayMs) {
        home->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, home, &QObject::deleteLater);
        thread.start();
        QMetaObject::invokeMethod(
            home,
            [this, serverPort, delayMs] {
                auto* server = new QTcpServer(home);
                QObject::connect(server, &QTcpServer::newConnection, server,
                                 [this, server, serverPort, delayMs] {
                                     while (QTcpSocket* s = server->nextPendingConnection())
                                         new RelayLink(s, serverPort, delayMs, turnCount, home);
                                 });
                if (server->listen(QHostAddress::LocalHost, 0))
                    listenPort = server->serverPort();
            },
            Qt::BlockingQueuedConnection);
    }
    ~DelayRelay() {
        thread.quit();
        thread.wait();
    }
    DelayRelay(const DelayRelay&) = delete;
    DelayRelay& operator=(const DelayRelay&) = delete;

    quint16 port() const { return listenPort; }
    qint64 turns() const { return turnCount.load(); }

private:
    QThread thread;
    QObject* const home = new QObject;
    quint16 listenPort = 0;
    std::atomic<qint64> turnCount{0};
};

// ---- what is measured

// Ticks every 5 ms on the GUI thread; a long gap between ticks is a stall the person saw.
class Heartbeat : public QObject {
public:
    Heartbeat() {
        timer.setTimerType(Qt::PreciseTimer);
        connect(&timer, &QTimer::timeout, this, &Heartbeat::tick);
        timer.start(5);
        reset();
    }
    void reset() {
        last = nowNs();
        longest = 0;
    }
    // The longest gap since reset(), the one still open included.
    double longestMs() {
        tick();
        return double(longest) / 1e6;
    }

private:
    void tick() {
        const qint64 now = nowNs();
        longest = std::max(longest, now - last);
        last = now;
    }

    QTimer timer;
    qint64 last = 0;
    qint64 longest = 0;
};

struct Counters {
    qint64 questions = 0;
    qint64 executes = 0;
    qint64 selects = 0;
    qint64 busy = 0;    // the program's connections running a command at the reading
    qint64 reading = 0; // which reading this is

    Counters minus(const Counters& o, qint64 times = 1) const {
        return {questions - times * o.questions, executes - times * o.executes, selects - times * o.selects,
                busy, reading};
    }
};

// The server's global statement counters, read on a connection of the benchmark's own.
class ServerCounters {
public:
    ServerCounters() {
        const Counters first = read();
        own = read().minus(first);
    }
    // What the server received since `before`, without the readings' own statements.
    Counters since(const Counters& before) const {
        const Counters now = read();
        return now.minus(before).minus(own, now.reading - before.reading);
    }
    Counters read() const {
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
    // Nothing reached the server between the two readings but the second reading itself.
    bool quiet(const Counters& earlier, const Counters& later) const {
        return later.busy == 0 && later.minus(earlier).questions <= own.questions;
    }

private:
    Counters own;
    mutable qint64 readings = 0;
};

// Answers the modal windows as they show, one expected step after the other. A window no step
// expects is noted and closed, so that nothing waits for a person who is not there.
class Answerer : public QObject {
public:
    using Action = std::function<void(QWidget*)>;

    Answerer() { qApp->installEventFilter(this); }
    ~Answerer() override { qApp->removeEventFilter(this); }

    void expect(const char* className, Action action) { steps.push_back({className, std::move(action)}); }
    bool idle() const { return steps.empty() && !QApplication::activeModalWidget(); }

    qint64 lastShownNs = 0;
    QStringList problems;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
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

private:
    struct Step {
        QByteArray className;
        Action action;
    };

    void answer(const QPointer<QWidget>& w) {
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

    std::deque<Step> steps;
};

struct Row {
    QString name;
    double openMs = -1;   // to the dialog showing
    double resultMs = -1; // from the keystroke, click or OK to the result on screen
    double stallMs = -1;
    qint64 peakMiB = -1; // resident memory's high-water mark when the operation is over
    Counters statements;
    qint64 turns = -1;
    QString failure;
};

class Measure {
public:
    Measure(Answerer& answerer, const ServerCounters& counters, const DelayRelay* relay, int timeoutMs)
        : answerer(answerer)
        , counters(counters)
        , relay(relay)
        , timeoutMs(timeoutMs) {}

    void begin(const QString& name) {
        row = Row{};
        row.name = name;
        answerer.problems.clear();
        before = counters.read();
        turnsBefore = relay ? relay->turns() : 0;
        heartbeat.reset();
        startNs = commitNs = nowNs();
        answerer.lastShownNs = 0;
    }
    // The OK that sends the change: the result time counts from here.
    void commit() {
        commitNs = nowNs();
        if (answerer.lastShownNs >= startNs)
            row.openMs = double(answerer.lastShownNs - startNs) / 1e6;
    }
    // Waits until shown() holds and the window has painted what it holds, then notes the row.
    bool finish(const std::function<bool()>& shown) {
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

    // Work that goes on behind a result already shown (a refresh after a change) belongs to the
    // step too: waits until no statement has reached the server for half a second.
    void settle() {
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

    void fail(const QString& name, const QString& why) {
        Row r;
        r.name = name;
        r.failure = why;
        rows << r;
    }

    QVector<Row> rows;
    // What the table shows, for a step that timed out.
    std::function<QString()> describe;

private:
    Answerer& answerer;
    const ServerCounters& counters;
    const DelayRelay* const relay;
    const int timeoutMs;
    Heartbeat heartbeat;
    Row row;
    Counters before;
    qint64 turnsBefore = 0;
    qint64 startNs = 0;
    qint64 commitNs = 0;
};

// ---- the data

// Admin and 200 groups; devices with pseudo-random 15-digit IMEIs (about one in ten below
// 10^14, shown with a leading zero), each in Admin and 2 other groups; users in 2 groups each.
// One INSERT ... SELECT per table from the sequence engine: no rows travel.
bool seed(QSqlDatabase& db, int port, int devices) {
    if (!bench::createFromSchema(db, port, WINDOW_DB))
        return false;
    // 987654321013 is prime to 10^15, so the IMEIs of 1..N are distinct and never 0.
    const QStringList sql{
        QStringLiteral("INSERT INTO groups_list (id, group_name) SELECT seq + 1, CONCAT('Fleet ', seq) "
                       "FROM seq_1_to_%1")
            .arg(GROUPS),
        QStringLiteral("INSERT INTO devices (id, imei, name) SELECT seq, seq * 987654321013 MOD "
                       "1000000000000000, CONCAT('Boat ', seq) FROM seq_1_to_%1")
            .arg(devices),
        QStringLiteral(
            "INSERT INTO device_groups (device_id, group_id) SELECT seq, 1 FROM seq_1_to_%1 "
            "UNION ALL SELECT seq, 2 + seq MOD %2 FROM seq_1_to_%1 "
            "UNION ALL SELECT seq, 2 + (seq MOD %2 + 1 + (seq DIV %2) MOD %3) MOD %2 FROM seq_1_to_%1")
            .arg(devices)
            .arg(GROUPS)
            .arg(GROUPS - 1),
        QStringLiteral("INSERT INTO users (id, user_login, user_password) SELECT seq, CONCAT('user', seq), "
                       "UNHEX(SHA2(seq, 512)) FROM seq_2_to_%1")
            .arg(USERS + 1),
        QStringLiteral("INSERT INTO user_groups (user_id, group_id) SELECT seq, 2 + seq MOD %2 FROM "
                       "seq_2_to_%1 UNION ALL SELECT seq, 2 + (seq + %3) MOD %2 FROM seq_2_to_%1")
            .arg(USERS + 1)
            .arg(GROUPS)
            .arg(GROUPS / 2),
        // not the default password: no prompt to change it at start-up
        QStringLiteral("UPDATE users SET user_password = UNHEX(SHA2('orb-bench', 512)) WHERE id = 1"),
        QStringLiteral("ANALYZE TABLE devices, device_groups, users, user_groups, groups_list"),
    };
    QSqlQuery q(db);
    for (const QString& s : sql) {
        if (!bench::exec(q, s))
            return false;
    }
    return true;
}

// A 15-digit IMEI with a leading zero and a right check digit (the dialog would ask about a
// wrong one) that no device has yet.
QString freeImei(QSqlDatabase& db) {
    QSqlQuery q(db);
    for (quint64 imei = 12345678901234ULL;; ++imei) {
        if (!imeiCheckDigitOk(imei))
            continue;
        q.exec(QStringLiteral("SELECT COUNT(*) FROM %1.devices WHERE imei = %2").arg(WINDOW_DB).arg(imei));
        if (q.next() && q.value(0).toInt() == 0)
            return QStringLiteral("%1").arg(imei, 15, 10, QLatin1Char('0'));
    }
}

// ---- driving the window

void sendKey(QWidget* w, int key, Qt::KeyboardModifiers modifiers, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(w, &release);
}

// What the key of a window-wide shortcut does; a key event sent straight to a widget does not
// go through the shortcut map.
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

// What the table's first rows show in one column: from row 0 to the bottom of the viewport, so
// that a row at the top is found also when the view keeps a place further down.
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

// What the unfiltered table shows, read once before the steps that depend on it.
struct Expected {
    QStringList filters;
    QVector<QVector<int>> counts; // per filter: rows with it in any column, in the IMEI or the name
    QString minText[2];
    QString maxText[2];
    QString maxNatural[2]; // longest first: "Boat 100000" after "Boat 99999"

    Expected(const QAbstractItemModel* model, const QStringList& filterTexts)
        : filters(filterTexts)
        , counts(filterTexts.size(), QVector<int>(2, 0)) {
        const int rows = model->rowCount();
        for (int r = 0; r < rows; ++r) {
            const QString cells[3] = {model->index(r, 0).data().toString(),
                                      model->index(r, 1).data().toString(),
                                      model->index(r, 2).data().toString()};
            for (int f = 0; f < filters.size(); ++f) {
                const bool inImeiOrName = cells[0].contains(filters[f]) || cells[1].contains(filters[f]);
                counts[f][0] += inImeiOrName || cells[2].contains(filters[f]);
                counts[f][1] += inImeiOrName;
            }
            for (int c = 0; c < 2; ++c) {
                const QString& t = cells[c];
                if (r == 0 || t < minText[c])
                    minText[c] = t;
                if (r == 0 || t > maxText[c])
                    maxText[c] = t;
                if (r == 0 || t.size() > maxNatural[c].size() ||
                    (t.size() == maxNatural[c].size() && t > maxNatural[c]))
                    maxNatural[c] = t;
            }
        }
    }
};

class WindowRun {
public:
    WindowRun(int devices, const DelayRelay* relay, int timeoutMs, bool closeInRefresh)
        : devices(devices)
        , closeInRefresh(closeInRefresh)
        , measure(answerer, counters, relay, timeoutMs) {}

    void run(QSqlDatabase& stats) {
        const QString addImei = freeImei(stats);
        window.reset(new MainWindow);
        window->show();
        QCoreApplication::processEvents();
        auto* table = window->findChild<QTableView*>(QStringLiteral("tableView"));
        auto* filter = window->findChild<QLineEdit*>(QStringLiteral("filterEdit"));
        auto* tabs = window->findChild<QTabWidget*>(QStringLiteral("tabWidget"));
        if (!table || !filter || !tabs) {
            measure.fail(QStringLiteral("the window"),
                         QStringLiteral("tableView, filterEdit or tabWidget missing"));
            return;
        }

        measure.describe = [table, filter] {
            const QHeaderView* header = table->horizontalHeader();
            const QAbstractItemModel* model = table->model();
            return QStringLiteral(
                       "%1 rows, filter \"%2\", sorted by column %3 %4, row 0 %5 %6, row %7 at the top")
                .arg(model->rowCount())
                .arg(filter->text())
                .arg(header->sortIndicatorSection())
                .arg(header->sortIndicatorOrder() == Qt::AscendingOrder ? "ascending" : "descending")
                .arg(model->index(0, 0).data().toString(), model->index(0, 1).data().toString())
                .arg(table->rowAt(0));
        };
        // First a host that accepts the connection and never answers, given up after a second
        // with "Отмена": the result is how long Cancel took until the settings dialog was back.
        QTcpServer silent;
        int dbPort = 0;
        if (!closeInRefresh && silent.listen(QHostAddress::LocalHost)) {
            answerer.expect("ConnectionSettingsDialog", [this, &silent, &dbPort](QWidget* d) {
                auto* port = d->findChild<QSpinBox*>(QStringLiteral("portEdit"));
                dbPort = port->value();
                port->setValue(silent.serverPort());
                measure.begin(QStringLiteral("host never answers, \"Отмена\" after 1 s"));
                QTimer::singleShot(1000, &silent, [this] {
                    auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
                    measure.commit();
                    if (progress)
                        progress->cancel();
                });
                clickOk(d);
            });
            answerer.expect("ConnectionSettingsDialog", [this, &dbPort](QWidget* d) {
                measure.finish([] { return true; });
                d->findChild<QSpinBox*>(QStringLiteral("portEdit"))->setValue(dbPort);
                measure.begin(QStringLiteral("start-up, OK in \"Подключение\""));
                measure.commit();
                clickOk(d);
            });
        }
        // start-up: the connection dialog comes filled from settings.conf
        if (!silent.isListening())
            answerer.expect("ConnectionSettingsDialog", [this](QWidget* d) {
                measure.begin(QStringLiteral("start-up, OK in \"Подключение\""));
                measure.commit();
                clickOk(d);
            });
        window->loadDatabase();
        if (!measure.finish([&] { return table->model()->rowCount() == devices; }))
            return;
        startupRssKiB = bench::peakRssKiB();
        if (closeInRefresh) {
            closeDuringRefresh();
            return;
        }

        auto* bar = tabs->findChild<QTabBar*>();
        const int devicesTab = tabs->indexOf(window->findChild<QWidget*>(QStringLiteral("devicesTab")));
        int paints = 0;
        PaintCounter counter(table->viewport(), &paints);
        measure.begin(QStringLiteral("\"Устройства\" tab opened"));
        click(bar, bar->tabRect(devicesTab).center());
        if (!measure.finish([&] { return table->isVisible() && paints > 0; }))
            return;

        const QStringList filters{QStringLiteral("0"), QStringLiteral("07")};
        const Expected expected(table->model(), filters);
        const auto filtered = [&](int f) {
            return [&, f] {
                const int n = table->model()->rowCount();
                return filter->text() == filters[f] &&
                       (n == expected.counts[f][0] || n == expected.counts[f][1]);
            };
        };
        measure.begin(QStringLiteral("filter: \"0\" typed"));
        sendKey(filter, Qt::Key_0, Qt::NoModifier, QStringLiteral("0"));
        if (!measure.finish(filtered(0)))
            return;
        measure.begin(QStringLiteral("filter: \"7\" typed after it"));
        sendKey(filter, Qt::Key_7, Qt::NoModifier, QStringLiteral("7"));
        if (!measure.finish(filtered(1)))
            return;
        measure.begin(QStringLiteral("filter cleared (Ctrl+A, Backspace)"));
        sendKey(filter, Qt::Key_A, Qt::ControlModifier, QString());
        sendKey(filter, Qt::Key_Backspace, Qt::NoModifier, QString());
        if (!measure.finish([&] { return table->model()->rowCount() == devices; }))
            return;

        QHeaderView* header = table->horizontalHeader();
        const char* sortNames[] = {"sorted by IMEI (header click)", "sorted by name (header click)"};
        for (int column = 0; column < 2; ++column) {
            measure.begin(QString::fromUtf8(sortNames[column]));
            click(header->viewport(),
                  QPoint(header->sectionViewportPosition(column) + 5, header->viewport()->height() / 2));
            const bool sorted = measure.finish([&, column] {
                if (header->sortIndicatorSection() != column)
                    return false;
                const QString top = table->model()->index(0, column).data().toString();
                return header->sortIndicatorOrder() == Qt::AscendingOrder
                           ? top == expected.minText[column]
                           : top == expected.maxText[column] || top == expected.maxNatural[column];
            });
            if (!sorted)
                return;
        }
        // A complete refresh by hand: the rows read anew on the refresher's connection, prepared off
        // the GUI thread and swapped in.
        auto* refreshing = window->findChild<QWidget*>(QStringLiteral("refreshIndicator"));
        measure.begin(QStringLiteral("refresh (F5), nothing new"));
        triggerShortcut(window.get(), QKeySequence(Qt::Key_F5));
        if (!measure.finish([&] { return refreshing && !refreshing->isVisible(); }))
            return;
        // ... and after another administrator renamed a device: every row prepared anew.
        const QString renamedElsewhere = QStringLiteral("Renamed elsewhere");
        QSqlQuery rename(stats);
        if (!rename.exec(QStringLiteral("UPDATE devices SET name='%1' WHERE id=1").arg(renamedElsewhere))) {
            measure.fail(QStringLiteral("refresh (F5), a device renamed elsewhere"),
                         rename.lastError().text());
            return;
        }
        auto* devicesModel = qobject_cast<RecordTableModel*>(table->model());
        measure.begin(QStringLiteral("refresh (F5), a device renamed elsewhere"));
        triggerShortcut(window.get(), QKeySequence(Qt::Key_F5));
        if (!measure.finish([&] {
                const int row = devicesModel ? devicesModel->rowOfId(1) : -1;
                return refreshing && !refreshing->isVisible() && row >= 0 &&
                       devicesModel->index(row, 1).data().toString() == renamedElsewhere;
            }))
            return;
        // Every row selected, then copied as a spreadsheet pastes it.
        auto* counts = window->findChild<QLabel*>(QStringLiteral("devicesCountLabel"));
        const QString allSelected =
            QStringLiteral("выбрано ") + QLocale(QLocale::Russian, QLocale::Russia).toString(devices);
        measure.begin(QStringLiteral("every row selected (Ctrl+A)"));
        sendKey(table, Qt::Key_A, Qt::ControlModifier, QString());
        if (!measure.finish([&] { return counts && counts->text().endsWith(allSelected); }))
            return;
        measure.begin(QStringLiteral("every row copied (Ctrl+C)"));
        QGuiApplication::clipboard()->clear();
        sendKey(table, Qt::Key_C, Qt::ControlModifier, QString());
        if (!measure.finish(
                [&] { return QGuiApplication::clipboard()->text().count(QLatin1Char('\n')) == devices + 1; }))
            return;
        // a million copied rows are some 100 MiB of text, not the window's
        QGuiApplication::clipboard()->clear();

        // Names that come first in the order the header shows.
        const bool ascending = header->sortIndicatorOrder() == Qt::AscendingOrder;
        const QString renamed =
            ascending ? QStringLiteral("Boat 0 renamed") : QStringLiteral("Boat ~ renamed");
        const QString added = ascending ? QStringLiteral("Boat 0 added") : QStringLiteral("Boat ~ added");

        auto* change = window->findChild<QPushButton*>(QStringLiteral("changeDeviceButton"));
        auto* remove = window->findChild<QPushButton*>(QStringLiteral("deleteDeviceButton"));
        auto* add = window->findChild<QPushButton*>(QStringLiteral("addDeviceButton"));
        // a click on the first row in view; returns its name
        const auto selectTopRow = [&] {
            const QModelIndex top = table->model()->index(table->rowAt(0), 0);
            click(table->viewport(), table->visualRect(top).center());
            QCoreApplication::processEvents();
            return top.siblingAtColumn(1).data().toString();
        };

        selectTopRow();
        if (!change->isEnabled()) {
            measure.fail(QStringLiteral("change one device"), QStringLiteral("\"Изменить\" stays disabled"));
            return;
        }
        measure.begin(QStringLiteral("\"Изменить\", OK unchanged"));
        answerer.expect("DeviceEditDialog", [this](QWidget* d) {
            measure.commit();
            clickOk(d);
        });
        change->click();
        if (!measure.finish([&] { return answerer.idle() && table->model()->rowCount() == devices; }))
            return;

        selectTopRow();
        measure.begin(QStringLiteral("\"Изменить\", name changed"));
        answerer.expect("DeviceEditDialog", [this, renamed](QWidget* d) {
            d->findChild<QLineEdit*>(QStringLiteral("nameEdit"))->setText(renamed);
            measure.commit();
            clickOk(d);
        });
        change->click();
        if (!measure.finish([&] { return answerer.idle() && topTexts(table, 1).contains(renamed); }))
            return;

        const QString doomed = selectTopRow();
        measure.begin(QStringLiteral("\"Удалить\" one device, confirmed"));
        answerer.expect("QMessageBox", [this](QWidget* w) {
            measure.commit();
            static_cast<QMessageBox*>(w)->button(QMessageBox::Ok)->click();
        });
        remove->click();
        if (!measure.finish([&] {
                return answerer.idle() && table->model()->rowCount() == devices - 1 &&
                       !topTexts(table, 1).contains(doomed);
            }))
            return;

        measure.begin(QStringLiteral("\"Добавить\" one device, 2 groups"));
        answerer.expect("DeviceEditDialog", [this, added, addImei](QWidget* d) {
            d->findChild<QLineEdit*>(QStringLiteral("imeiEdit"))->setText(addImei);
            d->findChild<QLineEdit*>(QStringLiteral("nameEdit"))->setText(added);
            if (auto* list = d->findChild<QListView*>(QStringLiteral("groupsView"))) {
                QAbstractItemModel* model = list->model();
                for (int r = 1; r <= 2 && r < model->rowCount(); ++r)
                    model->setData(model->index(r, 0), Qt::Checked, Qt::CheckStateRole);
            }
            measure.commit();
            clickOk(d);
        });
        add->click();
        if (!measure.finish([&] {
                return answerer.idle() && table->model()->rowCount() == devices &&
                       topTexts(table, 1).contains(added);
            }))
            return;
        journalSteps(stats, tabs);
    }

    // The journal tab over a million rows written by others: opened, scrolled to the end of the
    // rows read (the next page comes in), filtered and the filter cleared.
    void journalSteps(QSqlDatabase& stats, QTabWidget* tabs) {
        QSqlQuery seedJournal(stats);
        if (!bench::exec(
                seedJournal,
                QStringLiteral(
                    "INSERT INTO orb_admin_journal (at, db_user, os_user, workstation, operation, action, "
                    "object, object_id, details) SELECT NOW(3) - INTERVAL (%1 - seq) SECOND, "
                    "'orbadmin@%', CONCAT('admin', seq MOD 3), 'ws-7', seq, 'change', 'device', "
                    "1 + seq MOD %2, CONCAT('{\"before\":{\"imei\":\"', LPAD(seq, 15, '0'), "
                    "'\",\"name\":\"Boat ', seq, '\",\"groups\":[\"Fleet 1\"]},\"after\":{\"imei\":\"', "
                    "LPAD(seq, 15, '0'), '\",\"name\":\"Boat ', seq, ' (резерв)\",\"groups\":"
                    "[\"Fleet 2\"]}}') FROM seq_1_to_%1")
                    .arg(JOURNAL_ROWS)
                    .arg(devices))) {
            measure.fail(QStringLiteral("journal rows"), seedJournal.lastError().text());
            return;
        }
        auto* journal = window->findChild<QTableView*>(QStringLiteral("journalView"));
        auto* filter = window->findChild<QLineEdit*>(QStringLiteral("journalFilterEdit"));
        QWidget* tab = journal ? journal->parentWidget() : nullptr;
        while (tab && tabs->indexOf(tab) < 0)
            tab = tab->parentWidget();
        if (!tab || !filter) {
            measure.fail(QStringLiteral("the journal"),
                         QStringLiteral("journalView or journalFilterEdit missing"));
            return;
        }
        const QAbstractItemModel* model = journal->model();
        constexpr int page = 10000;
        auto* bar = tabs->findChild<QTabBar*>();
        int paints = 0;
        PaintCounter counter(journal->viewport(), &paints);
        measure.begin(QStringLiteral("\"Журнал\" tab opened, 1,000,000 rows"));
        click(bar, bar->tabRect(tabs->indexOf(tab)).center());
        if (!measure.finish([&] { return model->rowCount() == page && paints > 0; }))
            return;
        measure.begin(QStringLiteral("journal: scrolled to the end"));
        journal->scrollToBottom();
        if (!measure.finish([&] { return model->rowCount() == 2 * page; }))
            return;
        // the rows read so far that show a typed text
        const QString typed = QStringLiteral("boat 99");
        int expected = 0;
        for (int r = 0; r < model->rowCount(); ++r) {
            for (int c = 0; c < model->columnCount(); ++c) {
                if (model->index(r, c).data().toString().contains(typed, Qt::CaseInsensitive)) {
                    ++expected;
                    break;
                }
            }
        }
        measure.begin(QStringLiteral("journal: filter \"boat 99\" pasted"));
        filter->setFocus();
        filter->setText(typed);
        emit filter->textEdited(typed);
        if (!measure.finish([&] { return model->rowCount() == expected; }))
            return;
        measure.begin(QStringLiteral("journal: filter cleared"));
        sendKey(filter, Qt::Key_A, Qt::ControlModifier, QString());
        sendKey(filter, Qt::Key_Backspace, Qt::NoModifier, QString());
        measure.finish([&] { return model->rowCount() == 2 * page; });
    }

    void close() { window.reset(); }

    const QVector<Row>& rows() const { return measure.rows; }
    qint64 startupRssKiB = -1;
    qint64 closedAtNs = -1; // steady clock
    double closingMs = -1;  // the window's close and destruction
    bool closedWhileRefreshing = false;

private:
    // F5, and the window closed half a second into the read, as the person would close it.
    void closeDuringRefresh() {
        triggerShortcut(window.get(), QKeySequence(Qt::Key_F5));
        const auto spin = [](int ms, const std::function<bool()>& until) {
            const qint64 end = nowNs() + ms * 1000000LL;
            while (nowNs() < end && !until())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        };
        spin(10000, [this] { return counters.read().busy > 0; });
        spin(500, [] { return false; });
        auto* refreshing = window->findChild<QWidget*>(QStringLiteral("refreshIndicator"));
        closedWhileRefreshing = refreshing && refreshing->isVisible();
        closedAtNs = steadyNs();
        window->close();
        window.reset();
        closingMs = double(steadyNs() - closedAtNs) / 1e6;
    }

    // Counts the paint events of a widget.
    class PaintCounter : public QObject {
    public:
        PaintCounter(QWidget* w, int* count)
            : count(count) {
            w->installEventFilter(this);
        }

    protected:
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint)
                ++*count;
            return false;
        }

    private:
        int* const count;
    };

    const int devices;
    const bool closeInRefresh;
    Answerer answerer;
    ServerCounters counters;
    Measure measure;
    std::unique_ptr<MainWindow> window;
};

QString cell(double ms, int width) {
    return ms < 0 ? QStringLiteral("-").rightJustified(width)
                  : QString::number(ms, 'f', 1).rightJustified(width);
}

void printRows(const QVector<Row>& rows, bool withTurns) {
    QTextStream& o = out();
    o << QStringLiteral("%1 %2 %3 %4 %5 %6 %7")
             .arg(QStringLiteral("operation"), -36)
             .arg(QStringLiteral("open ms"), 8)
             .arg(QStringLiteral("result ms"), 10)
             .arg(QStringLiteral("stall ms"), 9)
             .arg(QStringLiteral("Questions"), 9)
             .arg(QStringLiteral("stmt_exec"), 9)
             .arg(QStringLiteral("Com_select"), 10)
      << QStringLiteral(" %1").arg(QStringLiteral("peak MiB"), 8);
    if (withTurns)
        o << QStringLiteral(" %1").arg(QStringLiteral("round trips"), 11);
    o << '\n';
    for (const Row& r : rows) {
        o << QStringLiteral("%1 %2 %3 %4")
                 .arg(r.name, -36)
                 .arg(cell(r.openMs, 8), cell(r.resultMs, 10), cell(r.stallMs, 9));
        if (r.stallMs >= 0) {
            o << QStringLiteral(" %1 %2 %3")
                     .arg(r.statements.questions, 9)
                     .arg(r.statements.executes, 9)
                     .arg(r.statements.selects, 10)
              << QStringLiteral(" %1").arg(r.peakMiB, 8);
            if (withTurns)
                o << QStringLiteral(" %1").arg(r.turns, 11);
        }
        if (!r.failure.isEmpty())
            o << "  FAILED: " << r.failure;
        o << '\n';
    }
    o.flush();
}

// The mariadb client reading what the devices table shows: median of three runs, and through
// the relay (with its round trips) when there is one.
void printFloor(int dbPort, const DelayRelay* relay) {
    const QString statements[][2] = {
        {QStringLiteral("SELECT * FROM devices"), QStringLiteral("devices")},
        {QStringLiteral("SELECT * FROM devices; SELECT * FROM device_groups; SELECT * FROM groups_list"),
         QStringLiteral("devices, device_groups, groups_list")},
    };
    for (const auto& s : statements) {
        QVector<double> direct;
        QVector<double> relayed;
        qint64 turns = 0;
        for (int i = 0; i < 3; ++i) {
            direct << bench::clientSeconds(dbPort, WINDOW_DB, s[0]) * 1000;
            if (relay) {
                const qint64 before = relay->turns();
                relayed << bench::clientSeconds(relay->port(), WINDOW_DB, s[0]) * 1000;
                turns = relay->turns() - before;
            }
        }
        out() << QStringLiteral("mariadb client floor, %1: %2 ms")
                     .arg(s[1])
                     .arg(bench::median(direct), 0, 'f', 1);
        if (relay)
            out() << QStringLiteral("; through the relay %1 ms, %2 round trips")
                         .arg(bench::median(relayed), 0, 'f', 1)
                         .arg(turns);
        out() << '\n';
    }
}

int runWindowBench(const QStringList& args) {
    const int devices = std::max(10, bench::option(args, QStringLiteral("--window-devices"), 100000));
    const int latencyMs = bench::option(args, QStringLiteral("--db-latency-ms"), -1);
    const int timeoutMs = std::max(1, bench::option(args, QStringLiteral("--window-timeout-s"), 600)) * 1000;

    const int port = bench::startServer();
    if (port <= 0)
        return 1;
    out() << "server 127.0.0.1:" << port << " (" << bench::serverDir() << ")\n";
    if (!bench::openConnection(STATS_CONNECTION, port))
        return 1;
    int rc = 0;
    {
        QSqlDatabase stats = QSqlDatabase::database(STATS_CONNECTION, false);
        const qint64 seedStart = nowNs();
        if (!seed(stats, port, devices))
            return 1;
        out() << "seeded " << devices << " devices (each in Admin and 2 of " << GROUPS << " groups), "
              << USERS << " users in " << QString::number(double(nowNs() - seedStart) / 1e9, 'f', 1)
              << " s\n";

        std::unique_ptr<DelayRelay> relay;
        if (latencyMs >= 0) {
            relay = std::make_unique<DelayRelay>(quint16(port), latencyMs);
            if (relay->port() == 0) {
                out() << "the relay cannot listen\n";
                return 1;
            }
            out() << "the program reaches the server through a relay adding " << latencyMs
                  << " ms in each direction (127.0.0.1:" << relay->port() << ")\n";
        }

        QTemporaryDir dir;
        CSettings::getInstance(dir.filePath(CSettings::defaultFileName()));
        SqlConnectionSettings sql;
        sql.ip = QStringLiteral("127.0.0.1");
        sql.port = relay ? relay->port() : port;
        sql.db = WINDOW_DB;
        sql.user = bench::DB_USER;
        sql.password = bench::DB_PASSWORD;
        CSettings::setSql(sql);
        // nobody listens there: the tracking server link stays down and costs nothing
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        const quint16 orbPort = probe.serverPort();
        probe.close();
        CSettings::setOrb({QStringLiteral("127.0.0.1"), orbPort});

        const QtMessageHandler previous = qInstallMessageHandler(quiet);
        {
            const bool closeInRefresh = args.contains(QStringLiteral("--window-close-during-refresh"));
            WindowRun run(devices, relay.get(), timeoutMs, closeInRefresh);
            run.run(stats);
            if (closeInRefresh) {
                printRows(run.rows(), relay != nullptr);
                out() << "window closed " << (run.closedWhileRefreshing ? "while" : "NOT while")
                      << " the refresh ran, at steady clock " << run.closedAtNs
                      << " ns; closed and destroyed in " << QString::number(run.closingMs, 'f', 1) << " ms\n";
                out().flush();
                return run.closedAtNs < 0 ? 1 : 0;
            }
            out()
                << "result: from the keystroke, click or OK until the result is on screen. Until the server "
                   "has been quiet for 0.5 s after that: stall, the longest gap of a 5 ms GUI-thread timer; "
                   "the server's statement counters; the round trips\n";
            printRows(run.rows(), relay != nullptr);
            for (const Row& r : run.rows())
                rc |= r.failure.isEmpty() ? 0 : 1;
            run.close();
            out() << "peak RSS: " << run.startupRssKiB / 1024 << " MiB after start-up, "
                  << bench::peakRssKiB() / 1024 << " MiB at the end\n";
        }
        qInstallMessageHandler(previous);
        printFloor(port, relay.get());
        stats.close();
    }
    QSqlDatabase::removeDatabase(STATS_CONNECTION);
    if (!args.contains(QStringLiteral("--window-keep-server")))
        bench::stopServer();
    return rc;
}

} // namespace

ORB_BENCH_SECTION("window", runWindowBench);

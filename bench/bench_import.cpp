// Device import at scale: the list file parser, the add devices dialog with 100,000 rows half
// of which are stored (their states looked up in a private MariaDB server), and the export of
// 100,000 devices as the devices table shows them.

#include "bench.h"
#include "benchserver.h"

#include "db/confighandler.h"
#include "import/adddevicesdialog.h"
#include "import/devicesfileparser.h"
#include "import/devicesfilewriter.h"
#include "models/devicestablemodel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextStream>

namespace {

// Resident memory of the process in KiB.
qint64 residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

void parse(QTextStream& out, const QString& label, const QString& path) {
    DevicesFileParser parser;
    const qint64 before = residentKiB();
    QElapsedTimer t;
    t.start();
    const bool ok = parser.parseFile(path);
    const qint64 ms = t.elapsed();
    const int kept = parser.devices().size();
    out << QStringLiteral("  %1: %2 ms, %3 records, %4, resident memory +%5 MiB\n")
               .arg(label, -44)
               .arg(ms, 5)
               .arg(kept, 8)
               .arg(ok ? QStringLiteral("read") : QStringLiteral("NOT READ"))
               .arg(double(residentKiB() - before) / 1024.0, 0, 'f', 1);
    out.flush();
}

int benchParser(QTextStream& out) {
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    out << "parser (DevicesFileParser::parseFile):\n";

    QByteArray million;
    million.reserve(40 * 1000000);
    for (int i = 0; i < 1000000; ++i)
        million += QByteArray::number(100000000000000LL + i) + ",Device " + QByteArray::number(i) + "\r\n";
    const QString accepted = dir.filePath(QStringLiteral("million.csv"));
    writeFile(accepted, million);
    million.clear();
    parse(out, QStringLiteral("1,000,000 lines, all accepted (35 MB)"), accepted);

    QByteArray skipped;
    for (int i = 0; i < 1000000; ++i)
        skipped += "imei;name;" + QByteArray::number(i) + "\n";
    const QString rejected = dir.filePath(QStringLiteral("skipped.csv"));
    writeFile(rejected, skipped);
    skipped.clear();
    parse(out, QStringLiteral("1,000,000 lines, none accepted"), rejected);

    const QString longLine = dir.filePath(QStringLiteral("long.csv"));
    writeFile(longLine, QByteArray(10 << 20, 'x') + "\n1,a\n" + QByteArray(10 << 20, '7') + "\n");
    parse(out, QStringLiteral("two lines of 10 MB"), longLine);

    QRandomGenerator random(7);
    QByteArray noise(64 << 20, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    const QString binary = dir.filePath(QStringLiteral("noise.bin"));
    writeFile(binary, noise);
    noise.clear();
    parse(out, QStringLiteral("64 MB of random bytes"), binary);
    return 0;
}

void typeKey(QWidget* w, int key, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(w, &release);
}

template <class F>
qint64 timed(F step) {
    QElapsedTimer t;
    t.start();
    step();
    QApplication::processEvents(); // includes the repaint
    return t.elapsed();
}

const QString BENCH_DB = QStringLiteral("orb_bench_import");

// Every other device of the dialog's list (IMEI 350000000000000 + 7 i) is stored.
bool seedStored(int port, int listed) {
    bool ok = bench::openConnection(QStringLiteral("bench-import-seed"), port);
    if (ok) {
        QSqlDatabase db = QSqlDatabase::database(QStringLiteral("bench-import-seed"), false);
        QSqlQuery q(db);
        ok = bench::createFromSchema(db, port, BENCH_DB) &&
             bench::exec(q,
                         QStringLiteral("INSERT INTO devices (imei, name) SELECT 350000000000000 + 14 * seq, "
                                        "CONCAT('Stored ', seq) FROM seq_0_to_%1")
                             .arg(listed / 2 - 1)) &&
             bench::exec(q, QStringLiteral("ANALYZE TABLE devices"));
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-import-seed"));
    return ok;
}

int benchDialog(QTextStream& out, ConfigHandler& handler) {
    const int count = 100000;
    QVector<DeviceInfo> devices;
    devices.reserve(count);
    for (int i = 0; i < count; ++i)
        devices.append(DeviceInfo{
            0, 350000000000000ULL + quint64(i) * 7, QStringLiteral("Device %1").arg(i), {}, false});

    QVector<quint64> imeis;
    for (const DeviceInfo& d : qAsConst(devices))
        imeis << d.imei;
    QSqlQuery status(handler.database());
    const auto statements = [&status] {
        status.exec(QStringLiteral("SHOW SESSION STATUS LIKE 'Questions'"));
        return status.next() ? status.value(1).toLongLong() : -1;
    };
    out << "state look-up (ConfigHandler::storedDevices), " << count << " IMEIs, half of them stored:\n";
    for (int run = 0; run < 2; ++run) {
        const qint64 before = statements();
        QElapsedTimer t;
        t.start();
        bool ok = false;
        const int found = handler.storedDevices(imeis, &ok).size();
        const qint64 ms = t.elapsed();
        out << QStringLiteral("  %1: %2 ms, %3 found, %4 statements (goal < 1000 ms)\n")
                   .arg(run == 0 ? QStringLiteral("first (statements prepared)") : QStringLiteral("again"),
                        -44)
                   .arg(ms, 5)
                   .arg(ok ? found : -1)
                   .arg(statements() - before - 1);
        out.flush();
    }

    AddDevicesDialog dialog(nullptr, &handler, {handler.getGroups(), handler.getUsers()});
    dialog.show();
    QApplication::processEvents();
    auto* filter = dialog.findChild<QLineEdit*>(QStringLiteral("deviceFilter"));
    auto* table = dialog.findChild<QTableView*>(QStringLiteral("deviceList"));
    auto* checkAll = dialog.findChild<QAbstractButton*>(QStringLiteral("checkAllDevs"));
    auto* uncheckAll = dialog.findChild<QAbstractButton*>(QStringLiteral("uncheckAllDevs"));
    auto* ok = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Ok);
    if (!filter || !table || !checkAll || !uncheckAll || !ok)
        return 1;

    out << "add devices dialog, " << count << " rows (each step includes the repaint):\n";
    const auto line = [&out](const QString& what, qint64 ms, const QString& note = QString()) {
        out << QStringLiteral("  %1: %2 ms %3\n").arg(what, -44).arg(ms, 5).arg(note);
        out.flush();
    };
    const auto shown = [table] {
        return QStringLiteral("(%1 rows shown)").arg(table->model()->rowCount());
    };
    // the window looks the stored ones up aside, as measured above
    const auto storedFound = handler.storedDevices(imeis);
    qint64 ms = timed([&] { dialog.setRows(DevicesToAddTableModel::makeRows(devices, storedFound)); });
    line(QStringLiteral("makeRows and setRows"), ms);
    ms = timed([&] { checkAll->click(); });
    line(QStringLiteral("\"Выбрать все\""), ms);
    ms = timed([&] { typeKey(filter, Qt::Key_5, QStringLiteral("5")); });
    line(QStringLiteral("filter keystroke \"5\""), ms, shown());
    ms = timed([&] { typeKey(filter, Qt::Key_5, QStringLiteral("5")); });
    line(QStringLiteral("filter keystroke \"55\""), ms, shown());
    ms = timed([&] { uncheckAll->click(); });
    line(QStringLiteral("\"Убрать все\" while filtered"), ms);
    ms = timed([&] { checkAll->click(); });
    line(QStringLiteral("\"Выбрать все\" while filtered"), ms);
    ms = timed([&] {
        typeKey(filter, Qt::Key_Backspace, QString());
        typeKey(filter, Qt::Key_Backspace, QString());
    });
    line(QStringLiteral("filter cleared (Backspace twice)"), ms, shown());
    int selected = 0;
    ms = timed([&] {
        ok->click();
        selected = dialog.selectedDevices().size();
    });
    line(QStringLiteral("OK and selectedDevices()"), ms, QStringLiteral("(%1 new devices)").arg(selected));
    return selected == count / 2 ? 0 : 1;
}

// As the window exports: the rows the sorted table shows, through RecordRole, then the file.
int benchExport(QTextStream& out) {
    const int count = 100000;
    QVector<GroupInfo> groups;
    QHash<int, QString> names;
    for (int g = 1; g <= 200; ++g) {
        groups << GroupInfo{g, QStringLiteral("Группа, %1").arg(g)};
        names.insert(g, groups.last().name);
    }
    QVector<DeviceInfo> rows;
    rows.reserve(count);
    for (int i = 0; i < count; ++i)
        rows << DeviceInfo{i + 1,
                           350000000000000ULL + quint64(i) * 7,
                           QStringLiteral("Машина \"%1\"").arg(i),
                           {1 + i % 200, 1 + (i + 7) % 200},
                           i % 50 == 0};
    DevicesTableModel model(nullptr, nullptr);
    model.setPrepared(DevicesTableModel::prepare(rows, GroupNames(groups, 0)));
    model.sort(1, Qt::DescendingOrder);
    QTemporaryDir dir;
    QElapsedTimer t;
    t.start();
    QVector<DeviceInfo> shown;
    shown.reserve(model.rowCount());
    for (int row = 0; row < model.rowCount(); ++row)
        shown.append(model.index(row, 0).data(RecordRole).value<DeviceInfo>());
    const qint64 collect = t.elapsed();
    QString error;
    const bool ok =
        DevicesFileWriter().writeFile(dir.filePath(QStringLiteral("devices.csv")), shown, names, error);
    const qint64 total = t.elapsed();
    out << "export of " << count << " devices (DevicesFileWriter::writeFile):\n";
    out << QStringLiteral("  %1: %2 ms (rows from the sorted table %3 ms) %4, %5 MB (goal < 1000 ms)\n")
               .arg(QStringLiteral("shown rows to file"), -44)
               .arg(total, 5)
               .arg(collect)
               .arg(ok ? QStringLiteral("written") : error)
               .arg(double(QFileInfo(dir.filePath(QStringLiteral("devices.csv"))).size()) / 1e6, 0, 'f', 1);
    out.flush();
    return ok ? 0 : 1;
}

int runImportBench(const QStringList& args) {
    Q_UNUSED(args)
    QTextStream out(stdout);
    int rc = benchParser(out) | benchExport(out);
    const int port = bench::startServer();
    if (port <= 0 || !seedStored(port, 100000))
        return 1;
    {
        ConfigHandler handler;
        handler.setConnectionSettings(
            {QStringLiteral("127.0.0.1"), port, bench::DB_USER, bench::DB_PASSWORD, BENCH_DB});
        if (handler.connectToDatabase() != 0) {
            out << "ConfigHandler cannot connect: " << handler.lastErrorText() << '\n';
            rc = 1;
        } else {
            rc |= benchDialog(out, handler);
        }
    }
    if (!args.contains(QStringLiteral("--db-keep-server")))
        bench::stopServer();
    return rc;
}

} // namespace

ORB_BENCH_SECTION("import", runImportBench);

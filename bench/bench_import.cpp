// Device import at scale: the list file parser and the add devices dialog with 100,000 rows.

#include "bench.h"

#include "db/confighandler.h"
#include "import/adddevicesdialog.h"
#include "import/devicesfileparser.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
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

int benchDialog(QTextStream& out) {
    const int count = 100000;
    QVector<DeviceInfo> devices;
    devices.reserve(count);
    for (int i = 0; i < count; ++i)
        devices.append(DeviceInfo{
            0, 350000000000000ULL + quint64(i) * 7, QStringLiteral("Device %1").arg(i), {}, false});

    // No database: the group list stays empty, which does not change the table's figures.
    ConfigHandler handler;
    AddDevicesDialog dialog(nullptr, &handler);
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
    qint64 ms = timed([&] { dialog.setDevices(devices); });
    line(QStringLiteral("setDevices"), ms);
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
    line(QStringLiteral("OK and selectedDevices()"), ms, QStringLiteral("(%1 devices)").arg(selected));
    return selected == count ? 0 : 1;
}

int runImportBench(const QStringList& args) {
    Q_UNUSED(args)
    QTextStream out(stdout);
    return benchParser(out) | benchDialog(out);
}

} // namespace

ORB_BENCH_SECTION("import", runImportBench);

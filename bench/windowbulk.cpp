#include "windowrun.h"

#include "app/mainwindow.h"
#include "core/records.h"
#include "models/recordtablemodel.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSet>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>

#include <algorithm>

namespace windowbench {

namespace {

constexpr int BULK_ROWS = 50000;
constexpr int IMPORTED = 10000;

// The groups column of the row of `id` lists `group`.
bool inGroup(const RecordTableModel* model, int id, const QString& group) {
    const int row = model->rowOfId(id);
    return row >= 0 && model->index(row, 2).data().toString().split(QStringLiteral(", ")).contains(group);
}

// A typed file name accepted in a file dialog, as the tests do.
void acceptFile(QWidget* dialog, const QString& path) {
    dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
    static_cast<QDialog*>(dialog)->done(QDialog::Accepted);
}

// `count` new IMEIs with right check digits, none stored, one per line with a name.
QByteArray newDevicesFile(QSqlDatabase& db, int count) {
    constexpr quint64 from = 990000000000000ULL;
    QSet<quint64> stored;
    QSqlQuery q(db);
    q.exec(QStringLiteral("SELECT imei FROM %1.devices WHERE imei >= %2").arg(WINDOW_DB).arg(from));
    while (q.next())
        stored.insert(q.value(0).toULongLong());
    QByteArray text("imei;name\n");
    for (quint64 imei = from; count > 0; ++imei) {
        if (!imeiCheckDigitOk(imei) || stored.contains(imei))
            continue;
        text += imeiText(imei).toLatin1() + ";Imported " + QByteArray::number(count--) + '\n';
    }
    return text;
}

} // namespace

// Many rows selected from the first down, given a group in the bulk dialog and then rid of it;
// a file of new devices imported; every shown row exported.
bool WindowRun::bulkSteps(QSqlDatabase& stats) {
    auto* model = qobject_cast<RecordTableModel*>(table->model());
    auto* change = window->findChild<QPushButton*>(QStringLiteral("changeDeviceButton"));
    if (!model || !change) {
        measure.fail(QStringLiteral("bulk change"), QStringLiteral("the devices' model or button missing"));
        return false;
    }
    // a click on the first row, a shift-click on the last one wanted
    const int picked = std::min(BULK_ROWS, model->rowCount());
    table->scrollToTop();
    QCoreApplication::processEvents();
    click(table->viewport(), table->visualRect(model->index(0, 0)).center());
    table->scrollTo(model->index(picked - 1, 0));
    QCoreApplication::processEvents();
    const QPoint last = table->visualRect(model->index(picked - 1, 0)).center();
    QMouseEvent press(QEvent::MouseButtonPress, last, table->viewport()->mapToGlobal(last), Qt::LeftButton,
                      Qt::LeftButton, Qt::ShiftModifier);
    QCoreApplication::sendEvent(table->viewport(), &press);
    QMouseEvent release(QEvent::MouseButtonRelease, last, table->viewport()->mapToGlobal(last),
                        Qt::LeftButton, Qt::NoButton, Qt::ShiftModifier);
    QCoreApplication::sendEvent(table->viewport(), &release);
    QCoreApplication::processEvents();
    const int ids[] = {model->index(0, 0).data(RecordRole).value<DeviceInfo>().id,
                       model->index(picked / 2, 0).data(RecordRole).value<DeviceInfo>().id,
                       model->index(picked - 1, 0).data(RecordRole).value<DeviceInfo>().id};
    if (table->selectionModel()->selectedRows().size() != picked || !change->isEnabled()) {
        measure.fail(QStringLiteral("bulk change"), QStringLiteral("%1 rows not selected").arg(picked));
        return false;
    }

    const auto shows = [&](const QString& group, bool in) {
        for (const int id : ids) {
            if (inGroup(model, id, group) != in)
                return false;
        }
        return true;
    };
    QString group;
    for (const bool adding : {true, false}) {
        measure.begin(
            QStringLiteral("bulk: %1 devices, a group %2").arg(picked).arg(adding ? "added" : "removed"));
        answerer.expect("DevicesBulkEditDialog", [&](QWidget* d) {
            // the last group of the list: no other's name begins with it
            QAbstractItemModel* groups = d->findChild<QListView*>(QStringLiteral("groupsView"))->model();
            const QModelIndex row = groups->index(groups->rowCount() - 1, 0);
            group = row.data().toString();
            groups->setData(row, adding ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
            measure.commit();
            clickOk(d);
        });
        change->click();
        if (!measure.finish([&] { return answerer.idle() && !group.isEmpty() && shows(group, adding); }))
            return false;
    }

    // a file of new devices: read and looked up until its dialog shows, then OK until the table
    // holds them
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("new-devices.csv"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(newDevicesFile(stats, IMPORTED)) <= 0) {
        measure.fail(QStringLiteral("import"), QStringLiteral("%1 not written").arg(path));
        return false;
    }
    file.close();
    const int before = model->rowCount();
    auto* import = window->findChild<QAbstractButton*>(QStringLiteral("importFromFile"));
    answerer.expect("QFileDialog", [&](QWidget* d) {
        measure.begin(QStringLiteral("import: file of %1 opened").arg(IMPORTED));
        measure.commit();
        acceptFile(d, path);
    });
    answerer.expect("AddDevicesDialog", [&](QWidget* d) {
        measure.finish([] { return true; });
        measure.begin(QStringLiteral("import: OK, %1 new devices").arg(IMPORTED));
        d->findChild<QAbstractButton*>(QStringLiteral("checkAllDevs"))->click();
        measure.commit();
        clickOk(d);
    });
    answerer.expect("QMessageBox",
                    [](QWidget* box) { static_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click(); });
    import->click();
    if (!measure.finish([&] { return answerer.idle() && model->rowCount() == before + IMPORTED; }))
        return false;

    // every shown row to a file, until the window says it is written
    const QString exported = dir.filePath(QStringLiteral("devices.csv"));
    auto* exportButton = window->findChild<QAbstractButton*>(QStringLiteral("exportButton"));
    bool told = false;
    measure.begin(QStringLiteral("export: %1 shown rows, dialog OK").arg(model->rowCount()));
    answerer.expect("ExportDevicesDialog", [&](QWidget* d) {
        d->findChild<QAbstractButton*>(QStringLiteral("shownRadio"))->click();
        measure.commit();
        clickOk(d);
    });
    answerer.expect("QFileDialog", [&](QWidget* d) {
        measure.finish([] { return true; });
        measure.begin(QStringLiteral("export: %1 rows written").arg(model->rowCount()));
        measure.commit();
        acceptFile(d, exported);
    });
    answerer.expect("QMessageBox", [&](QWidget* box) {
        told = static_cast<QMessageBox*>(box)->text().startsWith(QStringLiteral("Записано устройств"));
        static_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
    });
    exportButton->click();
    if (!measure.finish([&] { return answerer.idle() && told; }))
        return false;
    if (QFileInfo(exported).size() < qint64(model->rowCount()) * 16) {
        measure.rows.last().failure = QStringLiteral("%1 bytes written").arg(QFileInfo(exported).size());
        return false;
    }
    return true;
}

} // namespace windowbench

#include "windowrun.h"

#include "app/mainwindow.h"
#include "core/records.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>

namespace windowbench {

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

// One device changed unchanged, renamed, deleted and added through the dialogs.
bool WindowRun::changeSteps(const QString& addImei) {
    const QHeaderView* header = table->horizontalHeader();
    // Names that come first in the order the header shows.
    const bool ascending = header->sortIndicatorOrder() == Qt::AscendingOrder;
    const QString renamed = ascending ? QStringLiteral("Boat 0 renamed") : QStringLiteral("Boat ~ renamed");
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
        return false;
    }
    measure.begin(QStringLiteral("\"Изменить\", OK unchanged"));
    answerer.expect("DeviceEditDialog", [this](QWidget* d) {
        measure.commit();
        clickOk(d);
    });
    change->click();
    if (!measure.finish([&] { return answerer.idle() && table->model()->rowCount() == devices; }))
        return false;

    selectTopRow();
    measure.begin(QStringLiteral("\"Изменить\", name changed"));
    answerer.expect("DeviceEditDialog", [this, renamed](QWidget* d) {
        d->findChild<QLineEdit*>(QStringLiteral("nameEdit"))->setText(renamed);
        measure.commit();
        clickOk(d);
    });
    change->click();
    if (!measure.finish([&] { return answerer.idle() && topTexts(table, 1).contains(renamed); }))
        return false;

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
        return false;

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
        return false;
    return true;
}

} // namespace windowbench

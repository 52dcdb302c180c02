#include "import/exportdevicesdialog.h"
#include "ui_exportdevicesdialog.h"

#include "models/devicestablemodel.h"

#include <QItemSelectionModel>
#include <QLocale>

#include <algorithm>

namespace {
// The selected rows in the table's order.
QVector<int> selectedRows(const QItemSelectionModel* selection) {
    QVector<int> rows;
    for (const QItemSelectionRange& range : selection->selection()) {
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.append(row);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}
} // namespace

ExportDevicesDialog::ExportDevicesDialog(QWidget* parent, const DevicesTableModel* model,
                                         const QItemSelectionModel* selection)
    : QDialog(parent)
    , ui(new Ui::ExportDevicesDialog)
    , model(model)
    , selection(selection) {
    ui->setupUi(this);
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    const int all = model->storedCount();
    const int shown = model->rowCount();
    const int selected = selectedRows(selection).size();
    ui->allRadio->setText(ui->allRadio->text().arg(russian.toString(all)));
    ui->shownRadio->setText(ui->shownRadio->text().arg(russian.toString(shown)));
    ui->selectedRadio->setText(ui->selectedRadio->text().arg(russian.toString(selected)));
    ui->shownRadio->setEnabled(shown > 0);
    ui->selectedRadio->setEnabled(selected > 0);
    ui->allRadio->setChecked(true);
}

ExportDevicesDialog::~ExportDevicesDialog() {
    delete ui;
}

std::function<QVector<DeviceInfo>()> ExportDevicesDialog::devices() const {
    if (ui->allRadio->isChecked())
        return [all = model->storedRows()] {
            return all;
        };
    return ui->selectedRadio->isChecked() ? model->shownRecords(selectedRows(selection))
                                          : model->shownRecords();
}

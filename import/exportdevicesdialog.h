#pragma once

#include "core/records.h"

#include <QDialog>
#include <QVector>

#include <functional>

class DevicesTableModel;
class QItemSelectionModel;

namespace Ui {
class ExportDevicesDialog;
}

// Asks which devices to export: all of them, the rows the filter shows, or the selected rows,
// each offered with its count.
class ExportDevicesDialog : public QDialog {
    Q_OBJECT

public:
    ExportDevicesDialog(QWidget* parent, const DevicesTableModel* model,
                        const QItemSelectionModel* selection);
    ~ExportDevicesDialog() override;

    // What makes the chosen devices as the table shows them now, on any thread: all in id order,
    // the others in the table's order.
    std::function<QVector<DeviceInfo>()> devices() const;

private:
    Ui::ExportDevicesDialog* ui;
    const DevicesTableModel* model;
    const QItemSelectionModel* selection;
};

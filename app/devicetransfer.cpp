#include "app/devicetransfer.h"

#include "app/csettings.h"
#include "app/groupstab.h"
#include "app/recordtab.h"
#include "core/aside.h"
#include "import/adddevicesdialog.h"
#include "import/devicesfilewriter.h"
#include "import/exportdevicesdialog.h"
#include "link/orbserverhandler.h"
#include "link/tcpclient.h"
#include "models/devicestablemodel.h"
#include "models/refreshcoordinator.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QTableView>

#include <memory>
#include <utility>

DeviceTransfer::DeviceTransfer(const Parts& parts, QObject* parent)
    : QObject(parent)
    , parts(parts) {}

QWidget* DeviceTransfer::window() const {
    return parts.context->window();
}

ConfigHandler* DeviceTransfer::db() const {
    return parts.context->db();
}

bool DeviceTransfer::busy() const {
    return fileReader.isReading() || import.isRunning() || lookingUp;
}

void DeviceTransfer::addFromServer() {
    if (busy() || parts.context->busy() || !parts.context->ready())
        return;
    const QVector<DeviceInfo> devices = parts.orb->devices();
    lookUp(
        devices,
        [devices](const DevicesImport::StoredDevices& stored) {
            return DevicesToAddTableModel::makeRows(devices, stored);
        },
        [this](DevicesToAddRows rows) {
            AddDevicesDialog dialog(window(), db(), parts.context->shownRecords());
            dialog.setRows(std::move(rows));
            dialog.setListAge(parts.orb->devicesReceived(), !parts.orb->tcpClient()->isConnected());
            dialog.setListState(parts.orb->listState());
            runAddDevices(dialog);
        });
}

// Which of the listed devices are stored is looked up aside, and the dialog's rows made aside,
// behind a progress dialog (it shows up only when that takes a while) whose Cancel drops them;
// `open` follows with the rows.
void DeviceTransfer::lookUp(const QVector<DeviceInfo>& devices, Making make, Opening open) {
    QVector<quint64> imeis;
    imeis.reserve(devices.size());
    for (const DeviceInfo& device : devices)
        imeis.append(device.imei);
    QPointer<QProgressDialog> progress = new QProgressDialog(QStringLiteral("Проверка устройств в базе..."),
                                                             QStringLiteral("Отмена"), 0, 0, window());
    progress->setWindowTitle(QStringLiteral("Импорт устройств"));
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(300);
    progress->setAutoReset(false);
    progress->setAutoClose(false);
    const auto dropped = std::make_shared<bool>(false);
    const auto close = [progress] {
        if (progress) {
            // closing says canceled() too
            progress->disconnect();
            progress->close();
            progress->deleteLater();
        }
    };
    connect(progress, &QProgressDialog::canceled, this, [dropped, close] {
        *dropped = true;
        close();
    });
    // the list goes with the job that makes the rows: one replaced meanwhile is not freed here
    auto found = [this, dropped, close, make = std::move(make),
                  open](const DevicesImport::StoredDevices& stored, bool ok) mutable {
        const auto rows = std::make_shared<DevicesToAddRows>();
        Aside::shared().run(
            this,
            [make = std::move(make), stored, ok, rows, dropped] {
                if (*dropped)
                    return;
                *rows = make(stored);
                rows->storedKnown = ok;
            },
            [this, dropped, close, open, rows] {
                lookingUp = false;
                close();
                if (*dropped)
                    return;
                // what follows opens dialogs: not from inside the look-up's end
                QMetaObject::invokeMethod(
                    this, [open, rows] { open(std::move(*rows)); }, Qt::QueuedConnection);
            });
    };
    lookingUp = true;
    DevicesImport::lookUpStored(this, db()->connectionSettings(), imeis, std::move(found));
}

// Where the file dialogs open: the folder last used, at first the working directory's parent.
QString DeviceTransfer::fileFolder() const {
    const QString folder = CSettings::fileFolder();
    return !folder.isEmpty() && QDir(folder).exists() ? folder : QDir::currentPath() + QStringLiteral("/..");
}

void DeviceTransfer::addFromFile() {
    if (busy() || parts.context->busy() || !parts.context->ready())
        return;
    const QString fileName =
        QFileDialog::getOpenFileName(window(), QStringLiteral("Выбрать файл с устройствами"), fileFolder(),
                                     QStringLiteral("CSV text files (*.txt *.csv)"));
    if (fileName.isEmpty())
        return;
    CSettings::setFileFolder(QFileInfo(fileName).absolutePath());
    readFile(fileName);
}

// The file is read aside behind a progress dialog (it shows up only when the reading takes a
// while) whose Cancel stops the reading.
void DeviceTransfer::readFile(const QString& fileName) {
    auto* progress =
        new QProgressDialog(QStringLiteral("Чтение файла %1...").arg(QFileInfo(fileName).fileName()),
                            QStringLiteral("Отмена"), 0, 1000, window());
    progress->setWindowTitle(QStringLiteral("Импорт устройств"));
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(300);
    progress->setAutoReset(false);
    progress->setAutoClose(false);
    progress->setValue(0);
    connect(&fileReader, &DevicesFileReader::progress, progress, &QProgressDialog::setValue);
    connect(progress, &QProgressDialog::canceled, &fileReader, &DevicesFileReader::cancel);
    const auto ended = [this, progress] {
        QObject::disconnect(&fileReader, nullptr, progress, nullptr);
        progress->close();
        progress->deleteLater();
    };
    connect(&fileReader, &DevicesFileReader::cancelled, progress, ended);
    connect(&fileReader, &DevicesFileReader::finished, progress, [this, ended, fileName](bool opened) {
        ended();
        if (opened)
            devicesFileParser.take(fileReader.takeContents());
        // what follows opens dialogs: not from inside the reading's end
        QMetaObject::invokeMethod(
            this, [this, fileName, opened] { offerFile(fileName, opened); }, Qt::QueuedConnection);
    });
    fileReader.start(fileName);
}

void DeviceTransfer::offerFile(const QString& fileName, bool opened) {
    if (!opened) {
        parts.context->showError(QStringLiteral("Ошибка обработки файла, проверьте что выбранный файл "
                                                "существует и имеет правильный формат"));
        return;
    }
    if (!devicesFileParser.isText()) {
        parts.context->showError(
            QStringLiteral("Файл не похож на список устройств: в большинстве его строк нулевые или "
                           "управляющие байты либо текст ни в UTF-8, ни в Windows-1251."));
        return;
    }
    if (devicesFileParser.devices().isEmpty()) {
        QString text = QStringLiteral("В файле не найдено ни одного устройства.\nПрочитано строк: %1.")
                           .arg(devicesFileParser.linesRead());
        const QString skipped = devicesFileParser.firstSkippedLine();
        if (!skipped.isEmpty())
            text += QStringLiteral("\nПервая пропущенная строка: %1").arg(skipped);
        text +=
            QStringLiteral("\n\nВ каждой строке ожидается IMEI (15 цифр), за ним через запятую или точку с "
                           "запятой может идти имя устройства.");
        parts.context->showError(text);
        return;
    }
    const QVector<DeviceInfo> devices = devicesFileParser.devices();
    lookUp(
        devices,
        [devices, wrong = devicesFileParser.wrongLengthImeis(), cut = devicesFileParser.cutNameRows(),
         lines = devicesFileParser.lineNumbers()](const DevicesImport::StoredDevices& stored) {
            return DevicesToAddTableModel::makeRows(devices, stored, wrong, cut, lines);
        },
        [this, fileName](DevicesToAddRows rows) {
            AddDevicesDialog dialog(window(), db(), parts.context->shownRecords());
            dialog.setFile(fileName, devicesFileParser, std::move(rows));
            runAddDevices(dialog);
        });
}

void DeviceTransfer::runAddDevices(AddDevicesDialog& dialog) {
    if (dialog.exec() == QDialog::Accepted)
        addDevicesInBulk(dialog);
    else if (dialog.groupAdded())
        parts.groupsTab->show();
}

// Adds the picked new devices batch by batch aside, behind a progress dialog (it shows up only
// when the import takes a while) whose "Прервать" stops it after the batch; gives the picked
// stored ones the groups, then tells what became of them.
void DeviceTransfer::addDevicesInBulk(const AddDevicesDialog& dialog) {
    const QVector<DeviceInfo> devices = dialog.selectedDevices();
    const QVector<int> storedIds = dialog.selectedStoredIds();
    ImportAsked asked;
    asked.devices = devices.size();
    asked.storedIds = storedIds.size();
    asked.listedStored = dialog.storedCount();
    asked.skippedLines = dialog.skippedLines();
    if (asked.devices == 0 && asked.storedIds == 0) {
        // Nothing picked, but a group made in the dialog is stored and should show.
        parts.groupsTab->show();
        return;
    }
    auto* progress = new QProgressDialog(QStringLiteral("Добавление устройств в базу..."),
                                         QStringLiteral("Прервать"), 0, qMax(asked.devices, 1), window());
    progress->setWindowTitle(QStringLiteral("Импорт устройств"));
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(500);
    progress->setAutoReset(false);
    progress->setAutoClose(false);
    progress->setValue(0);
    connect(&import, &DevicesImport::progress, progress, [progress](int done, int total) {
        progress->setMaximum(qMax(total, 1));
        progress->setValue(done);
    });
    connect(progress, &QProgressDialog::canceled, &import, &DevicesImport::cancel);
    connect(&import, &DevicesImport::finished, progress, [this, progress, asked] {
        const bool cancelled = progress->wasCanceled();
        QObject::disconnect(&import, nullptr, progress, nullptr);
        progress->close();
        progress->deleteLater();
        // the summary is a dialog: not from inside the import's end
        QMetaObject::invokeMethod(
            this,
            [this, asked, cancelled, outcome = import.outcome()] { tellImport(asked, outcome, cancelled); },
            Qt::QueuedConnection);
    });
    import.start(db()->connectionSettings(), db()->journalState(), devices, storedIds,
                 dialog.selectedGroups());
}

void DeviceTransfer::tellImport(const ImportAsked& asked, const DevicesImport::Outcome& outcome,
                                bool cancelled) {
    const AddDevicesResult& result = outcome.result;
    cancelled = cancelled && outcome.handled < asked.devices;
    // Cut off midway: what was stored stays stored and is told, then shown by the refresh.
    const bool cut = result.stoppedBy.failed();
    if (cut)
        parts.context->lostQuietly(result.stoppedBy);
    else if (result.failed > 0 && parts.context->connectionLost(DbError()))
        return;
    QStringList lines;
    if (cut) {
        lines << QStringLiteral("Связь с сервером БД прервалась, добавление остановлено: сохранено %1 из %2.")
                     .arg(QLocale().toString(result.added), QLocale().toString(asked.devices));
        if (!result.stoppedBy.serverText.isEmpty())
            lines << result.stoppedBy.serverText;
    }
    const std::pair<int, QString> counts[] = {
        {cut ? 0 : result.added, QStringLiteral("Добавлено устройств: %1.")},
        {outcome.given, QStringLiteral("Назначены группы устройствам, которые уже в базе: %1.")},
        {result.alreadyStored + asked.listedStored - asked.storedIds, QStringLiteral("Уже есть в базе: %1.")},
        {result.repeated, QStringLiteral("Повторяются в списке: %1.")},
        {result.invalid, QStringLiteral("С неверным IMEI: %1.")},
        {result.failed, QStringLiteral("Не приняты сервером БД: %1.")},
        {cancelled ? asked.devices - outcome.handled : 0,
         QStringLiteral("Добавление прервано, необработанных устройств: %1.")},
        {asked.skippedLines, QStringLiteral("В файле пропущено строк: %1.")},
    };
    for (const auto& count : counts) {
        if (count.first > 0)
            lines << count.second.arg(count.first);
    }
    if (lines.isEmpty())
        lines << QStringLiteral("Ничего не изменено.");
    QMessageBox::information(window(), QStringLiteral("Импорт устройств"), lines.join(QLatin1Char('\n')));
    parts.tables->refresh();
}

// Writes all devices, the shown or the selected rows to a CSV file.
void DeviceTransfer::exportDevices() {
    if (exporting || !parts.context->ready())
        return;
    ExportDevicesDialog choice(window(), parts.devicesModel, parts.devicesView->selectionModel());
    if (choice.exec() != QDialog::Accepted)
        return;
    // the rows as the dialog counted them; their records are gathered aside
    const std::function<QVector<DeviceInfo>()> devices = choice.devices();
    QString fileName = QFileDialog::getSaveFileName(window(), QStringLiteral("Экспорт устройств"),
                                                    fileFolder() + QStringLiteral("/devices.csv"),
                                                    QStringLiteral("Файлы CSV (*.csv)"));
    if (fileName.isEmpty())
        return;
    CSettings::setFileFolder(QFileInfo(fileName).absolutePath());
    // every device is in the administrators' group: the table does not name it, nor does the file;
    // the other groups' names are those the window shows
    QHash<int, QString> groupNames;
    for (const GroupInfo& group : parts.context->shownRecords().groups) {
        if (group.id != db()->adminGroupId())
            groupNames.insert(group.id, group.name);
    }
    // written aside; the window goes on meanwhile, and the next export waits for it
    exporting = true;
    struct Written {
        bool ok = false;
        int count = 0;
        QString error;
    };
    const auto written = std::make_shared<Written>();
    Aside::shared().run(
        this,
        [fileName, devices, groupNames, written] {
            const QVector<DeviceInfo> chosen = devices();
            written->count = chosen.size();
            written->ok = DevicesFileWriter().writeFile(fileName, chosen, groupNames, written->error);
        },
        [this, fileName, written] {
            exporting = false;
            // what follows opens dialogs: not from inside the writing's end
            QMetaObject::invokeMethod(
                this,
                [this, fileName, written] {
                    tellExport(fileName, written->count, written->ok, written->error);
                },
                Qt::QueuedConnection);
        });
}

void DeviceTransfer::tellExport(const QString& fileName, int count, bool ok, const QString& error) {
    if (!ok) {
        parts.context->showError(QStringLiteral("Не удалось записать файл %1:\n%2")
                                     .arg(QDir::toNativeSeparators(fileName), error));
        return;
    }
    QMessageBox::information(window(), QStringLiteral("Экспорт устройств"),
                             QStringLiteral("Записано устройств: %1\nв файл %2")
                                 .arg(count)
                                 .arg(QDir::toNativeSeparators(fileName)));
}

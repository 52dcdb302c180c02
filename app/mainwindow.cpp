#include "app/mainwindow.h"

#include "app/connectionsettingsdialog.h"
#include "app/connectionstatewidget.h"
#include "app/csettings.h"
#include "app/devicestab.h"
#include "app/groupstab.h"
#include "app/tablehabits.h"
#include "app/tablestate.h"
#include "app/userstab.h"
#include "core/schema.h"
#include "db/confighandler.h"
#include "db/tablerefresher.h"
#include "dialogs/passwordedit.h"
#include "import/adddevicesdialog.h"
#include "import/devicesfilewriter.h"
#include "import/exportdevicesdialog.h"
#include "link/orbserverhandler.h"
#include "link/tcpclient.h"
#include "models/devicestablemodel.h"
#include "models/grouptablemodel.h"
#include "models/refreshcoordinator.h"
#include "models/usertablemodel.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QTableView>

namespace {

// The given width, or more where the header title or a whole sample value would not fit
// (large desktop fonts).
void fitColumn(QTableView* view, int column, int width, const QString& sample = QString()) {
    const int title = view->horizontalHeader()->sectionSizeHint(column);
    const int value = sample.isEmpty() ? 0 : view->fontMetrics().horizontalAdvance(sample) + 12;
    view->setColumnWidth(column, qMax(width, qMax(title, value)));
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , configHandler(new ConfigHandler)
    , orbServerHandler(new OrbServerHandler) {
    initOrbIcons();
    ui->setupUi(this);
    setWindowIcon(QIcon(QStringLiteral(":/icons/icons/orb-admin.png")));

    devicesModel = new DevicesTableModel(this, configHandler);
    groupsModel = new GroupTableModel(this, configHandler);
    usersModel = new UserTableModel(this, configHandler);

    ui->tableView->setModel(devicesModel);
    setupView(ui->tableView);
    fitColumn(ui->tableView, 0, 150, QStringLiteral("000000000000000"));
    fitColumn(ui->tableView, 1, 150);

    ui->usersView->setModel(usersModel);
    setupView(ui->usersView);
    fitColumn(ui->usersView, 0, 150);
    fitColumn(ui->usersView, 1, 250);

    ui->groupsView->setModel(groupsModel);
    setupView(ui->groupsView);
    ui->groupsView->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    fitColumn(ui->groupsView, 0, 150);
    fitColumn(ui->groupsView, 1, 100);
    fitColumn(ui->groupsView, 2, 100);

    tabs = new TabContext(this, configHandler);
    groupsTab =
        new GroupsTab(tabs, ui->groupsView, groupsModel,
                      {ui->addGroupButton, ui->changeGroupButton, ui->removeGroupButton}, devicesModel);
    usersTab = new UsersTab(tabs, ui->usersView, usersModel,
                            {ui->addUserButton, ui->changeUserButton, ui->removeUserButton}, groupsTab);
    groupsTab->setUsers(usersModel, [this](const QVector<int>& ids) { usersTab->show(ids); });
    devicesTab = new DevicesTab(tabs, ui->tableView, devicesModel,
                                {ui->addDeviceButton, ui->changeDeviceButton, ui->deleteDeviceButton},
                                groupsTab, orbServerHandler);
    connect(tabs, &TabContext::changeShown, this, &MainWindow::afterShownChange);
    connect(tabs, &TabContext::offline, this, [this] {
        databaseLost = true;
        sqlStateWidget->setConnected(false);
    });

    orbStateWidget = new ConnectionStateWidget(this);
    sqlStateWidget = new ConnectionStateWidget(this);
    sqlStateWidget->connectionButton()->setToolTip(QStringLiteral("Подключиться к серверу БД"));
    orbStateWidget->connectionButton()->setToolTip(QStringLiteral("Подключиться к Orb серверу"));
    connect(orbStateWidget->connectionButton(), &QPushButton::clicked, this, &MainWindow::reconnectToOrb);
    connect(sqlStateWidget->connectionButton(), &QPushButton::clicked, this, &MainWindow::reconnectToDb);
    ui->statusbar->addWidget(sqlStateWidget);
    ui->statusbar->addWidget(orbStateWidget);

    configHandler->setConnectionSettings(CSettings::sql());
    orbServerHandler->setHostSettings(CSettings::orb());

    connect(orbServerHandler, &OrbServerHandler::hostStateUpdated, this, &MainWindow::checkConnectionStates);

    refresher = new TableRefresher(this);
    tables = new RefreshCoordinator(refresher, devicesModel, usersModel, groupsModel, this);
    tables->setKeeper([this](RecordTableModel* model, const std::function<void()>& replace) {
        QTableView* view = model == devicesModel ? ui->tableView
                           : model == usersModel ? ui->usersView
                                                 : ui->groupsView;
        const TableState state = TableState::of(view);
        replace();
        state.restore(view);
    });
    connect(tables, &RefreshCoordinator::applied, this, [this] {
        for (TableHabits* table : qAsConst(habits))
            table->updateCounts();
        checkAllButtons();
    });
    connect(tables, &RefreshCoordinator::failed, this, &MainWindow::refreshFailed);
    // a busy bar draws no text: the label says what it is
    refreshIndicator = new QWidget(this);
    refreshIndicator->setObjectName(QStringLiteral("refreshIndicator"));
    auto* refreshLayout = new QHBoxLayout(refreshIndicator);
    refreshLayout->setContentsMargins(0, 0, 0, 0);
    refreshLayout->addWidget(new QLabel(QStringLiteral("Обновление таблиц…"), refreshIndicator));
    auto* busy = new QProgressBar(refreshIndicator);
    busy->setRange(0, 0);
    busy->setMaximumWidth(120);
    refreshLayout->addWidget(busy);
    refreshIndicator->hide();
    ui->statusbar->addPermanentWidget(refreshIndicator);
    connect(tables, &RefreshCoordinator::busyChanged, refreshIndicator, &QWidget::setVisible);

    auto* refreshAction = new QAction(QStringLiteral("Обновить"), this);
    refreshAction->setShortcut(QKeySequence::Refresh);
    connect(refreshAction, &QAction::triggered, this, [this] {
        if (ui->centralwidget->isEnabled())
            updateModels();
    });
    auto* filterAction = new QAction(QStringLiteral("Фильтр"), this);
    filterAction->setShortcut(QKeySequence::Find);
    connect(filterAction, &QAction::triggered, this, &MainWindow::focusFilter);
    addActions({filterAction, refreshAction});
    habits = {
        new TableHabits(ui->usersView, ui->usersCountLabel,
                        {ui->addUserButton, ui->changeUserButton, ui->removeUserButton}, actions()),
        new TableHabits(ui->groupsView, ui->groupsCountLabel,
                        {ui->addGroupButton, ui->changeGroupButton, ui->removeGroupButton}, actions()),
        new TableHabits(ui->tableView, ui->devicesCountLabel,
                        {ui->addDeviceButton, ui->changeDeviceButton, ui->deleteDeviceButton}, actions()),
    };
    // a change of several users or devices acts on all of them
    habits[0]->setDoubleClickKeepsSelection(true);
    habits[2]->setDoubleClickKeepsSelection(true);
    restoreWindowState();
}

MainWindow::~MainWindow() {
    saveWindowState();
    delete ui;
    ui = nullptr;
    saveSettingsToFile();
    // The window is the last thing the program destroys: the link and the database go with it.
    delete orbServerHandler;
    delete configHandler;
}

void MainWindow::setupView(QTableView* table) {
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table->verticalHeader()->setDefaultSectionSize(table->verticalHeader()->minimumSectionSize());
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // A title wider than its column is cut at its end rather than at both.
    table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Sorting starts on the first header click; until then the rows keep the database's order.
    table->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    table->setSortingEnabled(true);
}

// The window as it was left, where settings.conf keeps it; anything missing or unreadable
// leaves the defaults.
void MainWindow::restoreWindowState() {
    const CSettings::Window kept = CSettings::window();
    const QSize defaultSize = size();
    // A damaged geometry may still read as one, larger than any screen.
    if (restoreGeometry(kept.geometry)) {
        const QRect available = screen()->availableGeometry();
        if (width() > available.width() || height() > available.height()) {
            resize(defaultSize.boundedTo(available.size()));
            move(available.center() - rect().center());
        }
    }
    if (kept.tab >= 0 && kept.tab < ui->tabWidget->count())
        ui->tabWidget->setCurrentIndex(kept.tab);
    for (const auto& [view, state] : headerStates()) {
        QHeaderView* header = view->horizontalHeader();
        const QByteArray defaults = header->saveState();
        if (!header->restoreState(kept.*state) || header->count() != view->model()->columnCount()) {
            header->restoreState(defaults);
            continue;
        }
        // the header only draws the order; the rows follow it here
        if (header->sortIndicatorSection() >= 0)
            view->model()->sort(header->sortIndicatorSection(), header->sortIndicatorOrder());
    }
}

void MainWindow::saveWindowState() {
    CSettings::Window window;
    window.geometry = saveGeometry();
    window.tab = ui->tabWidget->currentIndex();
    for (const auto& [view, state] : headerStates())
        window.*state = view->horizontalHeader()->saveState();
    CSettings::setWindow(window);
}

QVector<std::pair<QTableView*, QByteArray CSettings::Window::*>> MainWindow::headerStates() const {
    return {{ui->usersView, &CSettings::Window::usersHeader},
            {ui->groupsView, &CSettings::Window::groupsHeader},
            {ui->tableView, &CSettings::Window::devicesHeader}};
}

void MainWindow::focusFilter() {
    QWidget* tab = ui->tabWidget->currentWidget();
    QLineEdit* filter = tab == ui->usersTab    ? ui->usersFilterEdit
                        : tab == ui->groupsTab ? ui->groupsFilterEdit
                                               : ui->filterEdit;
    filter->setFocus(Qt::ShortcutFocusReason);
    filter->selectAll();
}

void MainWindow::loadDatabase() {
    orbServerHandler->reconnect();
    checkConnectionStates();
    // Until the administrator connects or gives up, a failure brings the dialog back.
    for (;;) {
        if (!editConnectionSettings()) {
            dropTables();
            return;
        }
        checkConnectionStates();
        if (tryConnectToDatabase())
            break;
    }
    databaseOpened();
}

// A new connection is open: back online, then the integrity check and the tables.
void MainWindow::databaseOpened() {
    databaseLost = false;
    refresher->setConnectionSettings(configHandler->connectionSettings());
    tables->setActive(true);
    ui->centralwidget->setEnabled(true);
    ui->statusbar->showMessage(QString());
    try {
        checkConnectionStates();
        checkRootPassword();
        updateModels();
    } catch (const QString& err) {
        // Rows of a database that failed its check must not stay on screen to be changed.
        dropTables();
        showLoadError(err);
    }
}

// No usable database: nothing of an earlier one stays on screen, nothing can be changed.
void MainWindow::dropTables() {
    tables->setActive(false);
    devicesModel->clear();
    groupsModel->clear();
    usersModel->clear();
    ui->centralwidget->setEnabled(false);
    checkAllButtons();
}

void MainWindow::showLoadError(const QString& err) {
    showError(QStringLiteral("Произошла ошибка при загрузке БД.\n") + err +
              QStringLiteral("\nПроверьте правильность инициализации базы данных.\nВозможно указано неверное "
                             "название БД, либо Orb сервер не был запущен для её инициализации.\n"));
}

bool MainWindow::editConnectionSettings() {
    ConnectionSettingsDialog dialog(this, configHandler->connectionSettings(),
                                    orbServerHandler->hostSettings(), true, true);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    useDbSettings(dialog.getDbSettings());
    orbServerHandler->setHostSettings(dialog.getOrbSettings());
    return true;
}

// A password that is not to be kept leaves the file as soon as that is said, not only at exit.
void MainWindow::useDbSettings(const SqlConnectionSettings& sql) {
    configHandler->setConnectionSettings(sql);
    if (!sql.rememberPassword)
        CSettings::forgetPassword();
}

bool MainWindow::tryConnectToDatabase() {
    if (configHandler->connectToDatabase() == 0)
        return true;
    dropTables();
    checkConnectionStates();
    showConnectFailure();
    return false;
}

void MainWindow::showConnectFailure() {
    const QString serverText = configHandler->lastError().serverText;
    const SqlConnectionSettings sql = configHandler->connectionSettings();
    QMessageBox::warning(this, QStringLiteral("Внимание"),
                         QStringLiteral("Не удалось подключиться к серверу БД %1:%2.\n\n%3")
                             .arg(sql.ip, QString::number(sql.port), serverText),
                         QMessageBox::Ok);
}

void MainWindow::checkRootPassword() {
    if (!configHandler->checkDatabase())
        return;
    PasswordEdit dialog;
    dialog.setHeader(QStringLiteral(
        "У администратора root установлен пароль по умолчанию, для безопасности нужно его сменить:"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    UserInfo root;
    root.id = ROOT_ID;
    root.login = ROOT_LOGIN;
    root.password = configHandler->hashPassword(dialog.getPassword());
    QString error;
    if (!configHandler->updateUser(root, error) && !error.isEmpty())
        showError(error);
}

void MainWindow::checkConnectionStates() {
    const QSqlDatabase db = configHandler->database();
    sqlStateWidget->setConnected(db.isOpen() && !databaseLost);
    sqlStateWidget->setEndpoint(QStringLiteral("SQL"), configHandler->connectionSettings().ip,
                                configHandler->connectionSettings().port);
    const QString tls = configHandler->tlsSession();
    QString lock;
    if (!tls.isEmpty() && !databaseLost) {
        const QString ca = configHandler->connectionSettings().tlsCaFile;
        lock = QStringLiteral("Шифрованное соединение: %1\n").arg(tls) +
               (ca.isEmpty() ? QStringLiteral("Сертификат сервера не проверен: файл CA не указан.")
                             : QStringLiteral("Сертификат сервера и имя хоста проверены по %1.").arg(ca));
    }
    sqlStateWidget->setEncryption(lock);

    const OrbHostSettings orb = orbServerHandler->hostSettings();
    orbStateWidget->setEndpoint(QStringLiteral("Orb"), orb.host, orb.port);
    if (orbServerHandler->tcpClient()->isConnected()) {
        orbStateWidget->setConnected(true);
        orbStateWidget->setExtText(
            QStringLiteral("видимых устройств: %1").arg(orbServerHandler->imeiList().size()));
    } else {
        orbStateWidget->setConnected(false);
        orbStateWidget->setExtText(QStringLiteral(" "));
    }
}

// A complete refresh of the three tables, read and prepared off the GUI thread; the window
// stays usable and shows that it is refreshing.
void MainWindow::updateModels() {
    tables->refresh();
}

void MainWindow::refreshFailed(const QString& error) {
    // the rows stay as they are; the state says the database is out of reach
    databaseLost = true;
    sqlStateWidget->setConnected(false);
    ui->statusbar->showMessage(QStringLiteral("Не удалось обновить таблицы: %1").arg(error));
}

// A change is on screen: the buttons follow, and a full refresh brings in the rest.
void MainWindow::afterShownChange() {
    checkAllButtons();
    // a row stored while the filter hides it moves no row of the view
    for (TableHabits* table : qAsConst(habits))
        table->updateCounts();
    tables->changeShown();
}

void MainWindow::checkAllButtons() {
    devicesTab->checkButtons();
    usersTab->checkButtons();
    groupsTab->checkButtons();
}

void MainWindow::on_filterEdit_textEdited(const QString& arg1) {
    devicesTab->setFilter(arg1);
}

void MainWindow::on_usersFilterEdit_textEdited(const QString& arg1) {
    usersTab->setFilter(arg1);
}

void MainWindow::on_groupsFilterEdit_textEdited(const QString& arg1) {
    groupsTab->setFilter(arg1);
}

void MainWindow::showError(const QString& err) {
    tabs->showError(err);
}

void MainWindow::saveSettingsToFile() {
    CSettings::setSql(configHandler->connectionSettings());
    CSettings::setOrb(orbServerHandler->hostSettings());
}

// ---- the tabs' buttons

void MainWindow::on_addDeviceButton_clicked() {
    devicesTab->add();
}

void MainWindow::on_changeDeviceButton_clicked() {
    devicesTab->change();
}

void MainWindow::on_deleteDeviceButton_clicked() {
    devicesTab->remove();
}

void MainWindow::on_addUserButton_clicked() {
    usersTab->add();
}

void MainWindow::on_changeUserButton_clicked() {
    usersTab->change();
}

void MainWindow::on_removeUserButton_clicked() {
    usersTab->remove();
}

void MainWindow::on_addGroupButton_clicked() {
    groupsTab->add();
}

void MainWindow::on_changeGroupButton_clicked() {
    groupsTab->change();
}

void MainWindow::on_removeGroupButton_clicked() {
    groupsTab->remove();
}

// ---- bulk import

void MainWindow::on_serverDevices_clicked() {
    AddDevicesDialog dialog(this, configHandler);
    dialog.setDevices(orbServerHandler->devices());
    dialog.setListAge(orbServerHandler->devicesReceived(), !orbServerHandler->tcpClient()->isConnected());
    dialog.setListState(orbServerHandler->listState());
    runAddDevices(dialog);
}

// Where the file dialogs open: the folder last used, at first the working directory's parent.
QString MainWindow::fileFolder() const {
    const QString folder = CSettings::fileFolder();
    return !folder.isEmpty() && QDir(folder).exists() ? folder : QDir::currentPath() + QStringLiteral("/..");
}

void MainWindow::on_importFromFile_clicked() {
    const QString fileName =
        QFileDialog::getOpenFileName(this, QStringLiteral("Выбрать файл с устройствами"), fileFolder(),
                                     QStringLiteral("CSV text files (*.txt *.csv)"));
    if (fileName.isEmpty())
        return;
    CSettings::setFileFolder(QFileInfo(fileName).absolutePath());
    if (!devicesFileParser.parseFile(fileName)) {
        showError(QStringLiteral(
            "Ошибка обработки файла, проверьте что выбранный файл существует и имеет правильный формат"));
        return;
    }
    if (!devicesFileParser.isText()) {
        showError(QStringLiteral("Файл не похож на список устройств: в большинстве его строк нулевые или "
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
        showError(text);
        return;
    }
    AddDevicesDialog dialog(this, configHandler);
    dialog.setFile(fileName, devicesFileParser);
    runAddDevices(dialog);
}

void MainWindow::runAddDevices(AddDevicesDialog& dialog) {
    if (dialog.exec() == QDialog::Accepted)
        addDevicesInBulk(dialog);
    else if (dialog.groupAdded())
        groupsTab->show();
}

// Adds the picked new devices batch by batch behind a progress dialog (it shows up only
// when the import takes a while), gives the picked stored ones the groups, then tells what
// became of them.
void MainWindow::addDevicesInBulk(const AddDevicesDialog& dialog) {
    const QVector<DeviceInfo> devices = dialog.selectedDevices();
    const QVector<int> storedIds = dialog.selectedStoredIds();
    if (devices.isEmpty() && storedIds.isEmpty()) {
        // Nothing picked, but a group made in the dialog is stored and should show.
        groupsTab->show();
        return;
    }
    int handled = 0;
    bool cancelled = false;
    AddDevicesResult result;
    if (!devices.isEmpty()) {
        QProgressDialog progress(QStringLiteral("Добавление устройств в базу..."), QStringLiteral("Прервать"),
                                 0, devices.size(), this);
        progress.setWindowTitle(QStringLiteral("Импорт устройств"));
        progress.setWindowModality(Qt::WindowModal);
        progress.setMinimumDuration(500);
        progress.setAutoReset(false);
        progress.setAutoClose(false);
        progress.setValue(0);
        configHandler->addDevices(
            devices,
            [&](int done, int total) {
                handled = done;
                progress.setMaximum(total);
                progress.setValue(done);
                return !progress.wasCanceled();
            },
            &result);
        cancelled = progress.wasCanceled() && handled < devices.size();
        progress.close();
    }
    int given = 0;
    if (!storedIds.isEmpty()) {
        if (configHandler->changeDevicesGroups(storedIds, dialog.selectedGroups(), {}))
            given = storedIds.size();
        else
            result.failed += storedIds.size();
    }

    if (result.failed > 0 && tabs->connectionLost())
        return;
    const std::pair<int, QString> counts[] = {
        {result.added, QStringLiteral("Добавлено устройств: %1.")},
        {given, QStringLiteral("Назначены группы устройствам, которые уже в базе: %1.")},
        {result.alreadyStored + dialog.storedCount() - storedIds.size(),
         QStringLiteral("Уже есть в базе: %1.")},
        {result.repeated, QStringLiteral("Повторяются в списке: %1.")},
        {result.invalid, QStringLiteral("С неверным IMEI: %1.")},
        {result.failed, QStringLiteral("Не приняты сервером БД: %1.")},
        {cancelled ? devices.size() - handled : 0,
         QStringLiteral("Добавление прервано, необработанных устройств: %1.")},
        {dialog.skippedLines(), QStringLiteral("В файле пропущено строк: %1.")},
    };
    QStringList lines;
    for (const auto& count : counts) {
        if (count.first > 0)
            lines << count.second.arg(count.first);
    }
    if (lines.isEmpty())
        lines << QStringLiteral("Ничего не изменено.");
    QMessageBox::information(this, QStringLiteral("Импорт устройств"), lines.join(QLatin1Char('\n')));
    updateModels();
}

// Writes all devices, the shown or the selected rows to a CSV file.
void MainWindow::on_exportButton_clicked() {
    ExportDevicesDialog choice(this, devicesModel, ui->tableView->selectionModel());
    if (choice.exec() != QDialog::Accepted)
        return;
    QString fileName = QFileDialog::getSaveFileName(this, QStringLiteral("Экспорт устройств"),
                                                    fileFolder() + QStringLiteral("/devices.csv"),
                                                    QStringLiteral("CSV files (*.csv)"));
    if (fileName.isEmpty())
        return;
    CSettings::setFileFolder(QFileInfo(fileName).absolutePath());
    const QVector<DeviceInfo> devices = choice.devices();
    // every device is in the administrators' group: the table does not name it, nor does the file
    QHash<int, QString> groupNames;
    for (const GroupInfo& group : configHandler->getGroups()) {
        if (group.id != configHandler->adminGroupId())
            groupNames.insert(group.id, group.name);
    }
    QString error;
    if (!DevicesFileWriter().writeFile(fileName, devices, groupNames, error)) {
        showError(QStringLiteral("Не удалось записать файл %1:\n%2")
                      .arg(QDir::toNativeSeparators(fileName), error));
        return;
    }
    QMessageBox::information(this, QStringLiteral("Экспорт устройств"),
                             QStringLiteral("Записано устройств: %1\nв файл %2")
                                 .arg(devices.size())
                                 .arg(QDir::toNativeSeparators(fileName)));
}

// ---- reconnecting

void MainWindow::reconnectToDb() {
    for (;;) {
        ConnectionSettingsDialog dialog(this, configHandler->connectionSettings(), OrbHostSettings(), true,
                                        false);
        if (dialog.exec() != QDialog::Accepted)
            return;
        useDbSettings(dialog.getDbSettings());
        if (tryConnectToDatabase())
            break;
    }
    databaseOpened();
}

void MainWindow::reconnectToOrb() {
    ConnectionSettingsDialog dialog(this, SqlConnectionSettings(), orbServerHandler->hostSettings(), false,
                                    true);
    if (dialog.exec() != QDialog::Accepted)
        return;
    orbServerHandler->setHostSettings(dialog.getOrbSettings());
    orbServerHandler->reconnect();
    checkConnectionStates();
}

#include "app/mainwindow.h"

#include "app/connectionsettingsdialog.h"
#include "app/connectionstatewidget.h"
#include "app/csettings.h"
#include "app/tablehabits.h"
#include "app/tablestate.h"
#include "core/schema.h"
#include "db/confighandler.h"
#include "db/tablerefresher.h"
#include "dialogs/deviceeditdialog.h"
#include "dialogs/devicesbulkeditdialog.h"
#include "dialogs/groupeditdialog.h"
#include "dialogs/passwordedit.h"
#include "dialogs/registrationdialog.h"
#include "dialogs/usersbulkeditdialog.h"
#include "import/adddevicesdialog.h"
#include "import/devicesfilewriter.h"
#include "import/exportdevicesdialog.h"
#include "link/orbserverhandler.h"
#include "link/tcpclient.h"
#include "models/devicestablemodel.h"
#include "models/groupnames.h"
#include "models/grouptablemodel.h"
#include "models/refreshcoordinator.h"
#include "models/usertablemodel.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QSqlError>
#include <QTableView>

#include <functional>
#include <memory>
#include <utility>

namespace {

const QString errorTitle = QStringLiteral("Ошибка");

// The given width, or more where the header title or a whole sample value would not fit
// (large desktop fonts).
void fitColumn(QTableView* view, int column, int width, const QString& sample = QString()) {
    const int title = view->horizontalHeader()->sectionSizeHint(column);
    const int value = sample.isEmpty() ? 0 : view->fontMetrics().horizontalAdvance(sample) + 12;
    view->setColumnWidth(column, qMax(width, qMax(title, value)));
}

template <typename Record>
Record recordOf(const QModelIndex& index) {
    return index.data(RecordRole).value<Record>();
}

template <typename Record>
QVector<Record> recordsOf(const QModelIndexList& rows) {
    QVector<Record> records;
    records.reserve(rows.size());
    for (const QModelIndex& row : rows)
        records.append(recordOf<Record>(row));
    return records;
}

template <typename Record>
QVector<int> recordIds(const QVector<Record>& records) {
    QVector<int> ids;
    ids.reserve(records.size());
    for (const Record& record : records)
        ids.append(record.id);
    return ids;
}

template <typename Record>
QVector<int> idsOf(const QModelIndexList& rows) {
    QVector<int> ids;
    ids.reserve(rows.size());
    for (const QModelIndex& row : rows)
        ids.append(recordOf<Record>(row).id);
    return ids;
}

// The built-in administrator: never deleted.
constexpr int ROOT_USER_ID = 1;

QVector<int> deletableIds(QVector<int> ids, int protectedId) {
    ids.removeAll(protectedId);
    return ids;
}

// The server's IMEIs as the device dialog offers them: 15 digits, leading zeros kept.
QStringList imeiCompletions(const QVector<DeviceInfo>& devices) {
    constexpr quint64 largestImei = 999999999999999ULL;
    QStringList texts;
    texts.reserve(devices.size());
    for (const DeviceInfo& device : devices) {
        if (device.imei > 0 && device.imei <= largestImei)
            texts << imeiText(device.imei);
    }
    return texts;
}

// What reading back the records of `ids` changes against what a model shows: the group counts,
// the ids that are gone, and how many records there are more (fewer when negative).
struct ReadBack {
    QHash<int, int> counts;
    QVector<int> gone;
    int added = 0;
};

template <typename Model, typename Record>
ReadBack readBack(const Model* model, const QVector<int>& ids, const QVector<Record>& now) {
    ReadBack change;
    QSet<int> found;
    for (const Record& record : now) {
        found.insert(record.id);
        if (const Record* before = model->rowOf(record.id)) {
            for (const int group : before->groups)
                --change.counts[group];
        } else {
            ++change.added;
        }
        for (const int group : record.groups)
            ++change.counts[group];
    }
    for (const int id : ids) {
        const Record* before = found.contains(id) ? nullptr : model->rowOf(id);
        if (!before)
            continue;
        change.gone.append(id);
        --change.added;
        for (const int group : before->groups)
            --change.counts[group];
    }
    return change;
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
    setupView(ui->tableView, &MainWindow::on_changeDeviceButton_clicked);
    fitColumn(ui->tableView, 0, 150, QStringLiteral("000000000000000"));
    fitColumn(ui->tableView, 1, 150);
    connect(ui->tableView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainWindow::checkButtonsState);

    ui->usersView->setModel(usersModel);
    setupView(ui->usersView, &MainWindow::on_changeUserButton_clicked);
    fitColumn(ui->usersView, 0, 150);
    fitColumn(ui->usersView, 1, 250);
    connect(ui->usersView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainWindow::checkUsersButtonsState);

    ui->groupsView->setModel(groupsModel);
    setupView(ui->groupsView, &MainWindow::on_changeGroupButton_clicked);
    ui->groupsView->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    fitColumn(ui->groupsView, 0, 150);
    fitColumn(ui->groupsView, 1, 100);
    fitColumn(ui->groupsView, 2, 100);
    connect(ui->groupsView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainWindow::checkGroupsButtonsState);

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

void MainWindow::setupView(QTableView* table, void (MainWindow::*onChange)()) {
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table->verticalHeader()->setDefaultSectionSize(table->verticalHeader()->minimumSectionSize());
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // A title wider than its column is cut at its end rather than at both.
    table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(table, &QAbstractItemView::doubleClicked, this, onChange);
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

// After a change: the rows of these devices read back and put in place (gone ones removed),
// the group counts moved with them.
void MainWindow::showDevices(const QVector<int>& ids, bool deleted) {
    const TableState state = TableState::of(ui->tableView);
    bool read = deleted;
    const QVector<DeviceInfo> now =
        deleted ? QVector<DeviceInfo>() : configHandler->getDevicesByIds(ids, &read);
    if (!read) {
        // an unread row is not a deleted one
        connectionLost();
        return;
    }
    const ReadBack change = readBack(devicesModel, ids, now);
    devicesModel->upsert(now);
    devicesModel->removeIds(change.gone);
    groupsModel->addToCounts({}, change.counts, change.added);
    state.restore(ui->tableView);
    afterShownChange();
}

void MainWindow::showUsers(const QVector<int>& ids) {
    const TableState state = TableState::of(ui->usersView);
    bool read = false;
    const QVector<UserInfo> now = configHandler->getUsersByIds(ids, &read);
    if (!read) {
        connectionLost();
        return;
    }
    const ReadBack change = readBack(usersModel, ids, now);
    usersModel->upsert(now);
    usersModel->removeIds(change.gone);
    groupsModel->addToCounts(change.counts, {}, 0);
    state.restore(ui->usersView);
    afterShownChange();
}

// Groups are few: their list is read again; the counts of kept groups stay as shown until
// the next refresh, new ones start at what is known of them.
void MainWindow::showGroups() {
    const TableState state = TableState::of(ui->groupsView);
    const QVector<GroupInfo> groups = configHandler->getGroups();
    const int adminId = configHandler->adminGroupId();
    QHash<int, int> users, devices;
    QSet<int> ids;
    for (const GroupInfo& group : groups) {
        ids.insert(group.id);
        if (const GroupRow* row = groupsModel->rowOf(group.id)) {
            users.insert(group.id, row->usersCount);
            devices.insert(group.id, row->devicesCount);
        }
    }
    QVector<int> gone;
    for (const GroupRow& row : groupsModel->storedRows()) {
        if (!ids.contains(row.group.id))
            gone.append(row.group.id);
    }
    const int allDevices = devicesModel->storedCount();
    groupsModel->upsert(GroupTableModel::rowsOf(groups, users, devices, adminId, allDevices));
    groupsModel->removeIds(gone);
    const GroupNames names(groups, adminId);
    devicesModel->setContext(names);
    usersModel->setContext(names);
    state.restore(ui->groupsView);
    afterShownChange();
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
    checkButtonsState();
    checkUsersButtonsState();
    checkGroupsButtonsState();
}

void MainWindow::checkButtonsState() {
    const bool selected = ui->tableView->selectionModel()->hasSelection();
    ui->changeDeviceButton->setEnabled(selected);
    ui->deleteDeviceButton->setEnabled(selected);
}

void MainWindow::checkUsersButtonsState() {
    const QModelIndexList rows = ui->usersView->selectionModel()->selectedRows(0);
    ui->changeUserButton->setEnabled(!rows.isEmpty());
    ui->removeUserButton->setEnabled(deletableIds(idsOf<UserInfo>(rows), ROOT_USER_ID).size() > 0);
}

void MainWindow::checkGroupsButtonsState() {
    const QModelIndexList rows = ui->groupsView->selectionModel()->selectedRows(0);
    ui->changeGroupButton->setEnabled(!rows.isEmpty());
    ui->removeGroupButton->setEnabled(
        deletableIds(idsOf<GroupInfo>(rows), configHandler->adminGroupId()).size() > 0);
}

void MainWindow::on_filterEdit_textEdited(const QString& arg1) {
    filterTable(ui->tableView, devicesModel, arg1);
}

void MainWindow::on_usersFilterEdit_textEdited(const QString& arg1) {
    filterTable(ui->usersView, usersModel, arg1);
}

void MainWindow::on_groupsFilterEdit_textEdited(const QString& arg1) {
    filterTable(ui->groupsView, groupsModel, arg1);
}

// A new filter resets the table once; the selected rows that stay shown stay selected.
void MainWindow::filterTable(QTableView* view, RecordTableModel* model, const QString& text) {
    const TableState state = TableState::of(view);
    model->setFilterText(text);
    state.restore(view);
}

void MainWindow::showError(const QString& err) {
    QMessageBox::critical(this, errorTitle, err, QMessageBox::Ok);
}

// After a failed change: if the database server itself is gone, says so, marks the
// connection offline and returns true, so that the tables keep what they show
// instead of being reloaded empty.
bool MainWindow::connectionLost() {
    // a refusal of the server's own is no proof that it is still there
    if (configHandler->lastError().kind != DbError::Kind::ConnectionLost &&
        configHandler->getDevicesCount() >= 0)
        return false;
    databaseLost = true;
    sqlStateWidget->setConnected(false);
    showError(QStringLiteral(
        "Нет связи с сервером БД, изменения не сохранены.\n"
        "Когда сервер снова будет доступен, подключитесь заново кнопкой SQL в строке состояния."));
    return true;
}

// After a refused change: says why and returns true, so that the caller opens its dialog
// again; when the database server is gone, says so and returns false.
bool MainWindow::refused(const QString& error) {
    if (connectionLost())
        return false;
    showError(error.isEmpty() ? QStringLiteral("Не удалось сохранить изменения!") : error);
    return true;
}

void MainWindow::saveSettingsToFile() {
    CSettings::setSql(configHandler->connectionSettings());
    CSettings::setOrb(orbServerHandler->hostSettings());
}

bool MainWindow::confirmDeletion(const QString& title, const QString& text, bool offerDontAsk) {
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Ok);
    if (offerDontAsk) {
        auto* dontAsk = new QCheckBox(QStringLiteral("больше не спрашивать"), &box);
        box.setCheckBox(dontAsk);
        connect(dontAsk, &QCheckBox::stateChanged, this, [this](int state) {
            if (state == Qt::Checked)
                askDeleteDevices = false;
        });
    }
    return box.exec() == QMessageBox::Ok;
}

// ---- devices

void MainWindow::on_addDeviceButton_clicked() {
    editDevice(DeviceInfo());
}

void MainWindow::on_changeDeviceButton_clicked() {
    const QModelIndexList rows = ui->tableView->selectionModel()->selectedRows(0);
    if (rows.size() > 1)
        editDevices(rows);
    else if (!rows.isEmpty())
        editDevice(recordOf<DeviceInfo>(rows.first()));
}

// Two or more devices: what the administrator changed is applied to all of them, or nothing is.
void MainWindow::editDevices(const QModelIndexList& rows) {
    const QVector<DeviceInfo> devices = recordsOf<DeviceInfo>(rows);
    DevicesBulkEditDialog dialog(this, devices, configHandler->getGroups(), configHandler->adminGroupId());
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QVector<int> add = dialog.addGroupIds();
    const QVector<int> remove = dialog.removeGroupIds();
    const Qt::CheckState forAll = dialog.forAll();
    if (add.isEmpty() && remove.isEmpty() && forAll == Qt::PartiallyChecked)
        return;
    const QVector<int> ids = recordIds(devices);
    if (!configHandler->asOneChange([&] {
            return configHandler->changeDevicesGroups(ids, add, remove) &&
                   (forAll == Qt::PartiallyChecked ||
                    configHandler->setDevicesForAll(ids, forAll == Qt::Checked));
        })) {
        refused(QString());
        return;
    }
    showDevices(ids);
    showGroups();
}

// A new device (id 0) is added, a stored one updated. A refused change opens the dialog
// again with what was entered.
void MainWindow::editDevice(const DeviceInfo& device) {
    DeviceInfo entered = device;
    bool changed = false;
    const QStringList completions = imeiCompletions(orbServerHandler->devices());
    for (;;) {
        DeviceEditDialog dialog(this, configHandler, entered);
        dialog.setCompleterList(completions);
        const bool accepted = dialog.exec() == QDialog::Accepted;
        changed |= dialog.groupAdded();
        if (!accepted)
            break;
        entered = dialog.getDeviceInfo();
        if (device.id > 0 && entered.imei == device.imei && entered.name == device.name &&
            entered.forAll == device.forAll && sameGroups(entered.groups, device.groups))
            break;
        QString error;
        int id = device.id;
        const bool ok = device.id == 0 ? configHandler->addDevice(entered, error, id)
                                       : configHandler->updateDevice(entered, error);
        if (ok) {
            if (changed)
                showGroups();
            showDevices({id});
            return;
        }
        if (!refused(error))
            return;
        if (device.id > 0)
            showDevices({device.id});
        changed = true;
    }
    if (changed)
        showGroups();
}

void MainWindow::on_deleteDeviceButton_clicked() {
    // the ids now: a refresh may replace the rows while the question is open
    const QVector<int> ids = idsOf<DeviceInfo>(ui->tableView->selectionModel()->selectedRows(0));
    if (ids.isEmpty())
        return;
    if (askDeleteDevices &&
        !confirmDeletion(
            QStringLiteral("Удаление устройств"),
            QStringLiteral("Вы действительно хотить удалить из базы выбранные устройства (%1 шт.)?")
                .arg(ids.size()),
            true))
        return;
    const int deleted = configHandler->deleteDevices(ids);
    if (deleted < ids.size() && connectionLost())
        return;
    // every one deleted needs no reading back
    showDevices(ids, deleted == ids.size());
}

// ---- users

void MainWindow::on_addUserButton_clicked() {
    editUser(UserInfo());
}

void MainWindow::on_changeUserButton_clicked() {
    const QModelIndexList rows = ui->usersView->selectionModel()->selectedRows(0);
    if (rows.isEmpty())
        return;
    if (rows.size() > 1) {
        editUsers(rows);
        return;
    }
    UserInfo user = recordOf<UserInfo>(rows.first());
    if (user.id != ROOT_USER_ID) {
        editUser(user);
        return;
    }
    PasswordEdit dialog;
    dialog.setHeader(QStringLiteral("Изменение пароля пользователя:"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    user.password = configHandler->hashPassword(dialog.getPassword());
    QString error;
    if (configHandler->updateUser(user, error))
        showUsers({user.id});
    else if (!connectionLost())
        showError(error.isEmpty() ? QStringLiteral("Не удалось сохранить изменения!") : error);
}

// A new user (id 0) is added, a stored one updated. A refused change opens the dialog again
// as it was left.
void MainWindow::editUser(const UserInfo& user) {
    UserInfo entered = user;
    bool changed = false;
    RegistrationDialog dialog(this, QString(), configHandler, user);
    for (;;) {
        const bool accepted = dialog.exec() == QDialog::Accepted;
        changed |= dialog.groupAdded();
        if (!accepted)
            break;
        entered = dialog.getUserInfo();
        if (user.id > 0 && entered.login == user.login && entered.password == user.password &&
            sameGroups(entered.groups, user.groups))
            break;
        QString error;
        int id = user.id;
        bool ok;
        if (user.id == 0) {
            ok = configHandler->addUser(entered, error, id);
            if (ok)
                configHandler->addUserGroups(id, entered.groups);
        } else {
            ok = configHandler->updateUser(entered, error);
        }
        if (ok) {
            if (changed)
                showGroups();
            showUsers({id});
            return;
        }
        if (!refused(error))
            return;
        if (user.id > 0)
            showUsers({user.id});
        entered.password = user.password;
        changed = true;
    }
    if (changed)
        showGroups();
}

void MainWindow::editUsers(const QModelIndexList& rows) {
    const QVector<UserInfo> users = recordsOf<UserInfo>(rows);
    UsersBulkEditDialog dialog(this, users, configHandler->getGroups(), configHandler->adminGroupId());
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QVector<int> add = dialog.addGroupIds();
    const QVector<int> remove = dialog.removeGroupIds();
    if (add.isEmpty() && remove.isEmpty())
        return;
    const QVector<int> ids = recordIds(users);
    if (!configHandler->changeUsersGroups(ids, add, remove)) {
        refused(QString());
        return;
    }
    showUsers(ids);
    showGroups();
}

void MainWindow::on_removeUserButton_clicked() {
    const QModelIndexList rows = ui->usersView->selectionModel()->selectedRows(0);
    const QVector<int> ids = deletableIds(idsOf<UserInfo>(rows), ROOT_USER_ID);
    if (ids.isEmpty())
        return;
    if (!confirmDeletion(
            QStringLiteral("Удаление пользователей"),
            QStringLiteral("Вы действительно хотить удалить из базы выбранныx пользователей (%1 шт.)?")
                .arg(ids.size()),
            false))
        return;
    bool failed = false;
    for (int id : ids)
        failed |= !configHandler->deleteUser(id);
    if (failed && connectionLost())
        return;
    showUsers(ids);
    if (ids.size() < rows.size())
        QMessageBox::information(this, QStringLiteral("Удаление пользователей"),
                                 QStringLiteral("Пользователь root не удалён: встроенного администратора "
                                                "удалить нельзя."));
}

// ---- groups

void MainWindow::on_addGroupButton_clicked() {
    editGroup(GroupInfo());
}

void MainWindow::on_changeGroupButton_clicked() {
    const QModelIndexList rows = ui->groupsView->selectionModel()->selectedRows(0);
    if (!rows.isEmpty())
        editGroup(recordOf<GroupInfo>(rows.first()));
}

// A new group (id 0) is added, a stored one renamed; then its users are set. A refused name
// opens the dialog again with what was entered.
void MainWindow::editGroup(const GroupInfo& group) {
    GroupInfo entered = group;
    QVector<int> users;
    bool refusedBefore = false;
    for (;;) {
        GroupEditDialog dialog(this, configHandler, entered);
        if (refusedBefore)
            dialog.setSelectedUsers(users);
        if (dialog.exec() != QDialog::Accepted)
            return;
        entered = dialog.getGroupInfo();
        users = dialog.getSelectedUsers();
        QString error;
        const bool ok = group.id == 0 ? configHandler->addGroup(entered, error)
                                      : configHandler->updateGroup(entered, error);
        if (ok)
            break;
        if (!refused(error))
            return;
        entered.id = group.id;
        refusedBefore = true;
    }
    // the users who join or leave
    QVector<int> affected = users;
    for (const UserInfo& user : usersModel->storedRows()) {
        if (user.groups.contains(entered.id))
            affected.append(user.id);
    }
    if (!configHandler->setGroupUsers(entered.id, users)) {
        if (connectionLost())
            return;
        // The group itself is stored; say so rather than show an empty box.
        showError(QStringLiteral("Группа сохранена, но не удалось изменить её пользователей!"));
    }
    showGroups();
    showUsers(affected);
}

void MainWindow::on_removeGroupButton_clicked() {
    const QModelIndexList rows = ui->groupsView->selectionModel()->selectedRows(0);
    const QVector<int> ids = deletableIds(idsOf<GroupInfo>(rows), configHandler->adminGroupId());
    if (ids.isEmpty())
        return;
    if (!confirmDeletion(QStringLiteral("Удаление групп"),
                         QStringLiteral("Вы действительно хотить удалить из базы выбранные группы (%1 шт.)?")
                             .arg(ids.size()),
                         false))
        return;
    bool failed = false;
    for (int id : ids)
        failed |= !configHandler->deleteGroup(id);
    if (failed && connectionLost())
        return;
    QVector<int> affected;
    for (const UserInfo& user : usersModel->storedRows()) {
        for (const int id : ids) {
            if (user.groups.contains(id)) {
                affected.append(user.id);
                break;
            }
        }
    }
    showGroups();
    showUsers(affected);
    if (ids.size() < rows.size())
        QMessageBox::information(this, QStringLiteral("Удаление групп"),
                                 QStringLiteral("Группа администраторов не удалена: её удалить нельзя."));
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
        showGroups();
}

// Adds the picked new devices batch by batch behind a progress dialog (it shows up only
// when the import takes a while), gives the picked stored ones the groups, then tells what
// became of them.
void MainWindow::addDevicesInBulk(const AddDevicesDialog& dialog) {
    const QVector<DeviceInfo> devices = dialog.selectedDevices();
    const QVector<int> storedIds = dialog.selectedStoredIds();
    if (devices.isEmpty() && storedIds.isEmpty()) {
        // Nothing picked, but a group made in the dialog is stored and should show.
        showGroups();
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

    if (result.failed > 0 && connectionLost())
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

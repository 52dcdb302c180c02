#include "app/mainwindow.h"

#include "app/connectionkeeper.h"
#include "app/connectionstatewidget.h"
#include "app/csettings.h"
#include "app/devicestab.h"
#include "app/devicetransfer.h"
#include "app/groupstab.h"
#include "app/journaltab.h"
#include "app/tablehabits.h"
#include "app/tablestate.h"
#include "app/userstab.h"
#include "db/confighandler.h"
#include "db/tablerefresher.h"
#include "link/orbserverhandler.h"
#include "models/devicestablemodel.h"
#include "models/grouptablemodel.h"
#include "models/refreshcoordinator.h"
#include "models/usertablemodel.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
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

// Names are what administrators read: their columns fit a long one at the default window size,
// and the groups column, the last, is cut first.
const QString typicalName = QStringLiteral("Петрова Екатерина Владимировна");

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
    fitColumn(ui->tableView, 1, 150, typicalName);

    ui->usersView->setModel(usersModel);
    setupView(ui->usersView);
    fitColumn(ui->usersView, 0, 150, typicalName);
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
    tabs->setShownRecords([this] {
        ShownRecords shown;
        shown.groups.reserve(groupsModel->storedCount());
        for (const GroupRow& row : groupsModel->storedRows())
            shown.groups.append(row.group);
        shown.users = usersModel->storedRows();
        return shown;
    });
    journalTab = new JournalTab(ui->tabWidget, [this] { return configHandler->connectionSettings(); });
    ui->tabWidget->addTab(journalTab, QStringLiteral("Журнал"));

    auto* orbStateWidget = new ConnectionStateWidget(this);
    auto* sqlStateWidget = new ConnectionStateWidget(this);
    sqlStateWidget->connectionButton()->setToolTip(QStringLiteral("Подключиться к серверу БД"));
    orbStateWidget->connectionButton()->setToolTip(QStringLiteral("Подключиться к Orb серверу"));

    configHandler->setConnectionSettings(CSettings::sql());
    orbServerHandler->setHostSettings(CSettings::orb());

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
        // a group deleted by another administrator is named by what the window showed
        const QVector<GroupInfo> groups = tabs->shownRecords().groups;
        configHandler->knowGroups(groups);
        tabs->knowGroups(groups);
    });
    keeper = new ConnectionKeeper({tabs, configHandler, orbServerHandler, refresher, tables,
                                   ui->centralwidget, ui->statusbar, sqlStateWidget, orbStateWidget},
                                  this);
    connect(sqlStateWidget->connectionButton(), &QPushButton::clicked, keeper,
            &ConnectionKeeper::reconnectToDb);
    connect(orbStateWidget->connectionButton(), &QPushButton::clicked, keeper,
            &ConnectionKeeper::reconnectToOrb);
    connect(tabs, &TabContext::offline, keeper, &ConnectionKeeper::lost);
    connect(tables, &RefreshCoordinator::failed, keeper, &ConnectionKeeper::refreshFailed);
    connect(tables, &RefreshCoordinator::applied, keeper, &ConnectionKeeper::refreshed);
    tabs->setReadyCheck([this] { return keeper->ready(); });
    // what others changed, or another database, is read when the journal is next shown
    connect(tables, &RefreshCoordinator::applied, journalTab, &JournalTab::markStale);
    connect(keeper, &ConnectionKeeper::tablesDropped, journalTab, &JournalTab::markStale);
    connect(keeper, &ConnectionKeeper::tablesDropped, this, [this] {
        devicesModel->clear();
        groupsModel->clear();
        usersModel->clear();
        checkAllButtons();
    });
    transfer =
        new DeviceTransfer({tabs, orbServerHandler, tables, groupsTab, devicesModel, ui->tableView}, this);
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
    // permanent: no message of the status bar covers the connections
    ui->statusbar->addPermanentWidget(sqlStateWidget);
    ui->statusbar->addPermanentWidget(orbStateWidget);
    connect(tables, &RefreshCoordinator::busyChanged, refreshIndicator, &QWidget::setVisible);
    auto* changeIndicator = new QLabel(QStringLiteral("Сохранение изменений…"), this);
    changeIndicator->setObjectName(QStringLiteral("changeIndicator"));
    // shown together, the indicators would widen the window past a small screen: their texts are cut
    for (QWidget* indicator : {refreshIndicator, static_cast<QWidget*>(changeIndicator)})
        indicator->setMinimumWidth(1);
    changeIndicator->hide();
    ui->statusbar->insertPermanentWidget(0, changeIndicator);
    // while a change runs aside, what would change records or the connection under it waits
    connect(tabs, &TabContext::busyChanged, this, [this, changeIndicator, sqlStateWidget](bool busy) {
        changeIndicator->setVisible(busy);
        checkAllButtons();
        for (QWidget* action :
             {static_cast<QWidget*>(ui->serverDevices), static_cast<QWidget*>(ui->importFromFile),
              static_cast<QWidget*>(sqlStateWidget->connectionButton())})
            action->setEnabled(!busy);
    });

    auto* refreshAction = new QAction(QStringLiteral("Обновить"), this);
    refreshAction->setShortcut(QKeySequence::Refresh);
    connect(refreshAction, &QAction::triggered, this, [this] {
        if (!ui->centralwidget->isEnabled())
            return;
        if (ui->tabWidget->currentWidget() == journalTab)
            journalTab->refresh();
        else
            keeper->refresh();
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
    addHistory(habits[0], ui->usersView, QStringLiteral("user"));
    addHistory(habits[1], ui->groupsView, QStringLiteral("group"));
    addHistory(habits[2], ui->tableView, QStringLiteral("device"));
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
    // The header asks whether its columns are selected whole, of every row: with a million rows
    // selected, each paint of it would stall. Rows are selected whole, so it is not told.
    table->horizontalHeader()->setSelectionModel(new QItemSelectionModel(table->model(), table));
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

// A change is on screen: the buttons follow, and a full refresh brings in the rest.
void MainWindow::afterShownChange() {
    checkAllButtons();
    journalTab->markStale();
    // a row stored while the filter hides it moves no row of the view
    for (TableHabits* table : qAsConst(habits))
        table->updateCounts();
    tables->changeShown();
}

// "История": the journal of the selected records, in the journal tab.
void MainWindow::addHistory(TableHabits* table, QTableView* view, const QString& object) {
    auto* history = new QAction(QStringLiteral("История"), view);
    connect(history, &QAction::triggered, this, [this, view, object] {
        journalTab->showSelected(view, object);
        ui->tabWidget->setCurrentWidget(journalTab);
    });
    table->addRecordAction(history);
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

void MainWindow::loadDatabase() {
    keeper->loadDatabase();
}

// ---- devices in and out in bulk

void MainWindow::on_serverDevices_clicked() {
    transfer->addFromServer();
}

void MainWindow::on_importFromFile_clicked() {
    transfer->addFromFile();
}

void MainWindow::on_exportButton_clicked() {
    transfer->exportDevices();
}

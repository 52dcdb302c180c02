#pragma once

#include "app/csettings.h"
#include "core/records.h"

#include <QHash>
#include <QMainWindow>
#include <QString>

#include <functional>
#include <utility>

class ConnectionKeeper;
class DeviceTransfer;
class DevicesTab;
class GroupsTab;
class JournalTab;
class TabContext;
class UsersTab;
class RefreshCoordinator;
class TableRefresher;
class ConfigHandler;
class DevicesTableModel;
class GroupTableModel;
class OrbServerHandler;
class RecordTableModel;
class TableHabits;
class QTableView;
class UserTableModel;

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Start-up: connection dialog, database, integrity check, root password, tables.
    void loadDatabase();

private slots:
    void on_addDeviceButton_clicked();
    void on_changeDeviceButton_clicked();
    void on_deleteDeviceButton_clicked();
    void on_filterEdit_textEdited(const QString& arg1);
    void saveSettingsToFile();
    void on_addGroupButton_clicked();
    void on_addUserButton_clicked();
    void on_changeGroupButton_clicked();
    void on_changeUserButton_clicked();
    void on_removeUserButton_clicked();
    void on_removeGroupButton_clicked();
    void on_serverDevices_clicked();
    void on_importFromFile_clicked();
    void on_exportButton_clicked();
    void on_usersFilterEdit_textEdited(const QString& arg1);
    void on_groupsFilterEdit_textEdited(const QString& arg1);

private:
    void setupView(QTableView* table);
    void restoreWindowState();
    void saveWindowState();
    QVector<std::pair<QTableView*, QByteArray CSettings::Window::*>> headerStates() const;
    void focusFilter();
    void checkAllButtons();
    void afterShownChange();
    void addHistory(TableHabits* table, QTableView* view, const QString& object);

    Ui::MainWindow* ui;
    ConfigHandler* configHandler;
    OrbServerHandler* orbServerHandler;
    DevicesTableModel* devicesModel = nullptr;
    GroupTableModel* groupsModel = nullptr;
    UserTableModel* usersModel = nullptr;
    QVector<TableHabits*> habits;
    TableRefresher* refresher = nullptr;
    RefreshCoordinator* tables = nullptr;
    QWidget* refreshIndicator = nullptr;
    TabContext* tabs = nullptr;
    DevicesTab* devicesTab = nullptr;
    UsersTab* usersTab = nullptr;
    GroupsTab* groupsTab = nullptr;
    JournalTab* journalTab = nullptr;
    ConnectionKeeper* keeper = nullptr;
    DeviceTransfer* transfer = nullptr;
};

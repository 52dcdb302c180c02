#include "app/connectionkeeper.h"

#include "app/connectionsettingsdialog.h"
#include "app/connectionstatewidget.h"
#include "app/csettings.h"
#include "app/recordtab.h"
#include "core/schema.h"
#include "db/tablerefresher.h"
#include "dialogs/passwordedit.h"
#include "link/orbserverhandler.h"
#include "link/tcpclient.h"
#include "models/refreshcoordinator.h"

#include <QLocale>
#include <QMessageBox>
#include <QProgressDialog>
#include <QStatusBar>

namespace {

const QString JOURNAL_OFF = QStringLiteral("Журнал изменений выключен");

// Why, and what it means, for the tooltip and the connection dialog.
QString journalOffText(const QString& reason) {
    return QStringLiteral("%1: %2.\nИзменения сохраняются, но не записываются в журнал. Администратор БД "
                          "может создать таблицу и дать права на неё (см. README).")
        .arg(JOURNAL_OFF, reason);
}

} // namespace

ConnectionKeeper::ConnectionKeeper(const Parts& parts, QObject* parent)
    : QObject(parent)
    , parts(parts) {
    connect(parts.orb, &OrbServerHandler::hostStateUpdated, this, &ConnectionKeeper::checkConnectionStates);
    QStatusBar* bar = parts.statusBar;
    connect(bar, &QStatusBar::messageChanged, this, [bar](const QString& message) {
        if (message.isEmpty())
            bar->setToolTip(QString());
    });
}

QWidget* ConnectionKeeper::window() const {
    return parts.context->window();
}

void ConnectionKeeper::loadDatabase() {
    parts.orb->reconnect();
    checkConnectionStates();
    // Until the administrator connects or gives up, a failure brings the dialog back.
    for (;;) {
        if (!editConnectionSettings()) {
            dropTables();
            return;
        }
        checkConnectionStates();
        const std::optional<ConnectAttempt::Outcome> tried = attempt(parts.db->connectionSettings(), true);
        if (tried && open(*tried))
            return;
    }
}

// Settings tried aside while the window shows that it connects; nothing when the administrator
// gave up waiting.
std::optional<ConnectAttempt::Outcome> ConnectionKeeper::attempt(const SqlConnectionSettings& sql,
                                                                 bool check) {
    ConnectAttempt trial(sql, check);
    QProgressDialog progress(QStringLiteral("Подключение к серверу БД %1:%2…").arg(sql.ip).arg(sql.port),
                             QStringLiteral("Отмена"), 0, 0, window());
    progress.setObjectName(QStringLiteral("connectProgress"));
    progress.setWindowTitle(QStringLiteral("Подключение"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    // Nothing in it grows; a window manager draws no resize handle under a window of fixed size.
    progress.setFixedSize(progress.sizeHint());
    connect(&trial, &ConnectAttempt::finished, &progress, [&progress] { progress.done(QDialog::Accepted); });
    if (!trial.isDone() && progress.exec() != QDialog::Accepted)
        return std::nullopt;
    return trial.outcome();
}

// Settings that answered aside are the window's from now on.
bool ConnectionKeeper::open(const ConnectAttempt::Outcome& tried) {
    if (!tried.connected) {
        databaseOpen = false;
        dropTables();
        checkConnectionStates();
        showConnectFailure(parts.db->connectionSettings(), tried.serverText);
        return false;
    }
    parts.db->useJournal(tried.journal);
    tlsSession = tried.tlsSession;
    databaseOpened(tried);
    return true;
}

// A new connection is open: back online, then what the integrity check found, and the tables.
void ConnectionKeeper::databaseOpened(const ConnectAttempt::Outcome& checked) {
    databaseOpen = true;
    databaseLost = false;
    parts.refresher->setConnectionSettings(parts.db->connectionSettings());
    parts.tables->setActive(true);
    parts.central->setEnabled(true);
    showMessage(QString());
    checkConnectionStates();
    if (!checked.checkError.isEmpty()) {
        // Rows of a database that failed its check must not stay on screen to be changed.
        dropTables();
        showLoadError(checked.checkError);
        return;
    }
    parts.db->useCheckedDatabase(checked.adminGroupId);
    if (checked.rootDefault)
        changeRootPassword();
    parts.tables->refresh();
}

// No usable database: nothing of an earlier one stays on screen, nothing can be changed.
void ConnectionKeeper::dropTables() {
    parts.tables->setActive(false);
    parts.central->setEnabled(false);
    emit tablesDropped();
}

void ConnectionKeeper::showLoadError(const QString& err) {
    parts.context->showError(
        QStringLiteral("Произошла ошибка при загрузке БД.\n") + err +
        QStringLiteral("\nПроверьте правильность инициализации базы данных.\nВозможно указано неверное "
                       "название БД, либо Orb сервер не был запущен для её инициализации.\n"));
}

bool ConnectionKeeper::editConnectionSettings() {
    ConnectionSettingsDialog dialog(window(), parts.db->connectionSettings(), parts.orb->hostSettings(), true,
                                    true);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    useDbSettings(dialog.getDbSettings());
    parts.orb->setHostSettings(dialog.getOrbSettings());
    return true;
}

// A password that is not to be kept leaves the file as soon as that is said, not only at exit.
void ConnectionKeeper::useDbSettings(const SqlConnectionSettings& sql) {
    parts.db->setConnectionSettings(sql);
    if (!sql.rememberPassword)
        CSettings::forgetPassword();
}

void ConnectionKeeper::showConnectFailure(const SqlConnectionSettings& sql, const QString& serverText) {
    QMessageBox::warning(window(), QStringLiteral("Внимание"),
                         QStringLiteral("Не удалось подключиться к серверу БД %1:%2.\n\n%3")
                             .arg(sql.ip, QString::number(sql.port), serverText),
                         QMessageBox::Ok);
}

void ConnectionKeeper::changeRootPassword() {
    PasswordEdit dialog;
    dialog.setHeader(QStringLiteral(
        "У администратора root установлен пароль по умолчанию, для безопасности нужно его сменить:"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    UserInfo root;
    root.id = ROOT_ID;
    root.login = ROOT_LOGIN;
    root.password = parts.db->hashPassword(dialog.getPassword());
    // on the connection the changes go through, while the window answers
    const std::optional<QPair<bool, QString>> stored =
        parts.context->aside(std::function<QPair<bool, QString>(ConfigHandler&)>([root](ConfigHandler& db) {
            QString error;
            const bool ok = db.updateUser(root, error);
            return qMakePair(ok, error);
        }));
    if (stored && !stored->first && !stored->second.isEmpty())
        parts.context->showError(stored->second);
}

void ConnectionKeeper::checkConnectionStates() {
    const SqlConnectionSettings sql = parts.db->connectionSettings();
    parts.sqlState->setConnected(databaseOpen && !databaseLost);
    parts.sqlState->setEndpoint(QStringLiteral("SQL"), sql.ip, sql.port);
    QString lock;
    if (databaseOpen && !tlsSession.isEmpty() && !databaseLost) {
        lock = QStringLiteral("Шифрованное соединение: %1\n").arg(tlsSession) +
               (sql.tlsCaFile.isEmpty()
                    ? QStringLiteral("Сертификат сервера не проверен: файл CA не указан.")
                    : QStringLiteral("Сертификат сервера и имя хоста проверены по %1.").arg(sql.tlsCaFile));
    }
    parts.sqlState->setEncryption(lock);
    const bool journalOff = databaseOpen && parts.db->journalState().known && !parts.db->journalOn();
    parts.sqlState->setExtText(journalOff ? JOURNAL_OFF : QString(),
                               journalOff ? journalOffText(parts.db->journalOffReason()) : QString());

    const OrbHostSettings orb = parts.orb->hostSettings();
    parts.orbState->setEndpoint(QStringLiteral("Orb"), orb.host, orb.port);
    if (parts.orb->tcpClient()->isConnected()) {
        parts.orbState->setConnected(true);
        parts.orbState->setExtText(
            QStringLiteral("видимых устройств: %1")
                .arg(QLocale(QLocale::Russian, QLocale::Russia).toString(parts.orb->imeiList().size())));
    } else {
        parts.orbState->setConnected(false);
        parts.orbState->setExtText(QStringLiteral(" "));
    }
}

// The status bar's indicators are permanent widgets: no message covers them. What is left beside
// them holds a few words; the whole story is the status bar's tooltip.
void ConnectionKeeper::showMessage(const QString& text, const QString& details, int timeout) {
    parts.statusBar->showMessage(text, timeout);
    parts.statusBar->setToolTip(details.isEmpty() ? text : text + QStringLiteral(": ") + details);
}

void ConnectionKeeper::showOffline(const QString& text, const QString& details) {
    showMessage(text,
                details + QStringLiteral("\nКогда сервер снова будет доступен, F5 или следующее изменение "
                                         "подключат к нему заново."));
}

void ConnectionKeeper::lost(const QString& why) {
    databaseLost = true;
    lostWhy = why;
    parts.sqlState->setConnected(false);
    showOffline(QStringLiteral("Нет связи с сервером БД"), why);
}

void ConnectionKeeper::refreshFailed(const QString& error) {
    // the rows stay as they are; the state says the database is out of reach
    lost(error);
    showOffline(QStringLiteral("Не удалось обновить таблицы"), error);
}

void ConnectionKeeper::refreshed() {
    // the refresh has just found the server answering
    if (databaseLost)
        comeBack(false);
}

void ConnectionKeeper::refresh() {
    if (databaseLost && !comeBack(true))
        return;
    parts.tables->refresh();
}

bool ConnectionKeeper::ready() {
    if (!databaseLost || comeBack(true))
        return true;
    const SqlConnectionSettings sql = parts.db->connectionSettings();
    parts.context->showError(
        QStringLiteral("Нет связи с сервером БД %1:%2, изменения сейчас невозможны.\n\n%3\n\nКогда сервер "
                       "снова будет доступен, F5 или следующее изменение подключат к нему заново.")
            .arg(sql.ip, QString::number(sql.port), lostWhy));
    return false;
}

// The database answers again: the settings in use, without the dialog. firstAside: whether it
// answers is found out aside first, since the host may not answer at all.
bool ConnectionKeeper::comeBack(bool firstAside) {
    if (firstAside) {
        const std::optional<ConnectAttempt::Outcome> tried = attempt(parts.db->connectionSettings(), false);
        if (!tried)
            return false;
        if (!tried->connected) {
            lostWhy = tried->serverText;
            showOffline(QStringLiteral("Нет связи с сервером БД"), tried->serverText);
            return false;
        }
        tlsSession = tried->tlsSession;
    }
    databaseLost = false;
    checkConnectionStates();
    showMessage(QStringLiteral("Связь с БД восстановлена"),
                QStringLiteral("подключено снова к %1:%2")
                    .arg(parts.db->connectionSettings().ip)
                    .arg(parts.db->connectionSettings().port),
                10000);
    return true;
}

// New settings take over only once they connect; until then, and after Cancel, the connection in
// use stays.
void ConnectionKeeper::reconnectToDb() {
    SqlConnectionSettings entered = parts.db->connectionSettings();
    std::optional<ConnectAttempt::Outcome> tried;
    for (;;) {
        ConnectionSettingsDialog dialog(window(), entered, OrbHostSettings(), true, false);
        if (databaseOpen && parts.db->journalState().known && !parts.db->journalOn())
            dialog.setJournalState(journalOffText(parts.db->journalOffReason()));
        if (dialog.exec() != QDialog::Accepted)
            return;
        entered = dialog.getDbSettings();
        // not keeping the password holds whether or not the new settings connect
        if (!entered.rememberPassword) {
            SqlConnectionSettings inUse = parts.db->connectionSettings();
            inUse.rememberPassword = false;
            useDbSettings(inUse);
        }
        tried = attempt(entered, true);
        if (!tried)
            continue;
        if (tried->connected)
            break;
        showConnectFailure(entered, tried->serverText);
    }
    useDbSettings(entered);
    open(*tried);
}

void ConnectionKeeper::reconnectToOrb() {
    ConnectionSettingsDialog dialog(window(), SqlConnectionSettings(), parts.orb->hostSettings(), false,
                                    true);
    if (dialog.exec() != QDialog::Accepted)
        return;
    parts.orb->setHostSettings(dialog.getOrbSettings());
    parts.orb->reconnect();
    checkConnectionStates();
}

// The sample rows the pictures show: a few groups, users and devices with memberships.

#include "db/confighandler.h"

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

namespace {

bool run(QSqlQuery& q, const QString& sql, const QVariantList& values, QString* error) {
    q.prepare(sql);
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (q.exec())
        return true;
    *error = sql + QStringLiteral(": ") + q.lastError().text();
    return false;
}

} // namespace

bool loadSampleData(QSqlDatabase& db, const SqlConnectionSettings& settings, const QString& schemaFile,
                    QString* error) {
    // The schema goes through the server's own client, which knows its statement syntax.
    QProcess client;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MYSQL_PWD"), settings.password);
    client.setProcessEnvironment(env);
    client.setStandardInputFile(schemaFile);
    client.start(QStringLiteral("mariadb"),
                 {QStringLiteral("--no-defaults"), QStringLiteral("--protocol=TCP"), QStringLiteral("-h"),
                  settings.ip, QStringLiteral("-P"), QString::number(settings.port), QStringLiteral("-u"),
                  settings.user, settings.db});
    if (!client.waitForFinished(60000) || client.exitStatus() != QProcess::NormalExit ||
        client.exitCode() != 0) {
        *error =
            QStringLiteral("loading %1 failed: %2 %3")
                .arg(schemaFile, client.errorString(), QString::fromLocal8Bit(client.readAllStandardError()));
        return false;
    }
    QSqlQuery q(db);

    const QStringList groups{QStringLiteral("Водители"), QStringLiteral("Диспетчеры"),
                             QStringLiteral("Курьеры"), QStringLiteral("Грузовики"),
                             QStringLiteral("Склад №2")};
    for (const QString& g : groups) {
        if (!run(q, QStringLiteral("INSERT INTO groups_list (group_name) VALUES (?)"), {g}, error))
            return false;
    }
    // Users 2..6; the password of each is his login.
    const QStringList users{QStringLiteral("ivanov"), QStringLiteral("petrova"), QStringLiteral("operator1"),
                            QStringLiteral("dispatcher"), QStringLiteral("courier.k")};
    for (const QString& u : users) {
        if (!run(q,
                 QStringLiteral(
                     "INSERT INTO users (user_login, user_password) VALUES (?, UNHEX(SHA2(?, 512)))"),
                 {u, u}, error))
            return false;
    }
    const int userGroups[][2] = {{2, 2}, {3, 2}, {3, 3}, {4, 3}, {5, 3}, {6, 4}, {4, 1}};
    for (const auto& ug : userGroups) {
        if (!run(q, QStringLiteral("INSERT INTO user_groups (user_id, group_id) VALUES (?, ?)"),
                 {ug[0], ug[1]}, error))
            return false;
    }
    const QStringList names{
        QStringLiteral("Газель А123ВС"), QStringLiteral("Фура 7"),    QStringLiteral(""),
        QStringLiteral("Курьер Петров"), QStringLiteral("Погрузчик"), QStringLiteral("КамАЗ 12")};
    for (int i = 0; i < 12; ++i) {
        const QString name = names.at(i % names.size());
        if (!run(q, QStringLiteral("INSERT INTO devices (imei, name, for_all) VALUES (?, ?, ?)"),
                 {QString::number(354017110000001ULL + quint64(i) * 1013), name, int(i % 5 == 0)}, error))
            return false;
        const int id = q.lastInsertId().toInt();
        if (!run(q, QStringLiteral("INSERT INTO device_groups (device_id, group_id) VALUES (?, 1), (?, ?)"),
                 {id, id, 2 + i % 5}, error))
            return false;
    }
    return true;
}

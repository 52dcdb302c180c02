#include "db/dberror.h"

#include "core/schema.h"

#include <QSqlError>

namespace {

// Client and server error numbers that say the connection is gone or could not be made.
bool connectionGone(int code) {
    switch (code) {
    case 1053: // ER_SERVER_SHUTDOWN
    case 1927: // ER_CONNECTION_KILLED
    case 2002: // CR_CONNECTION_ERROR
    case 2003: // CR_CONN_HOST_ERROR
    case 2006: // CR_SERVER_GONE_ERROR
    case 2013: // CR_SERVER_LOST
    case 2055: // CR_SERVER_LOST_EXTENDED
    case 4031: // ER_CLIENT_INTERACTION_TIMEOUT
        return true;
    default:
        return false;
    }
}

} // namespace

DbError DbError::of(const QSqlError& error) {
    bool numbered = false;
    const int code = error.nativeErrorCode().toInt(&numbered);
    constexpr int duplicateKey = 1062; // ER_DUP_ENTRY: a unique value stored meanwhile
    const Kind kind = !numbered              ? Kind::Refused
                      : connectionGone(code) ? Kind::ConnectionLost
                      : code == duplicateKey ? Kind::Taken
                                             : Kind::Refused;
    return DbError{kind, Step::Other, error.databaseText().isEmpty() ? error.text() : error.databaseText()};
}

QString errorText(RecordKind kind, const DbError& error) {
    const bool user = kind == RecordKind::User;
    const bool device = kind == RecordKind::Device;
    switch (error.kind) {
    case DbError::Kind::None:
    case DbError::Kind::Protected:
        return QString();
    case DbError::Kind::Taken:
        return user     ? QStringLiteral("Такой пользователь уже существует!")
               : device ? QStringLiteral("Такое устройство уже добавлено!")
                        : QStringLiteral("Такая группа уже существует!");
    case DbError::Kind::InvalidImei:
        return QStringLiteral("Введите IMEI устройства (%1 цифр)!").arg(IMEI_DIGITS);
    case DbError::Kind::Conflict:
        return QStringLiteral("Другой администратор уже изменил поле «%1»: сейчас сохранено «%2», "
                              "вы ввели «%3». Изменения не сохранены.")
            .arg(error.field, error.stored, error.wanted);
    case DbError::Kind::Deleted:
        return (user     ? QStringLiteral("Пользователя")
                : device ? QStringLiteral("Устройство")
                         : QStringLiteral("Группу")) +
               QStringLiteral(" удалил другой администратор. Изменения не сохранены.");
    case DbError::Kind::MissingGroup:
        return QStringLiteral("Группу «%1» удалил другой администратор. Изменения не сохранены.")
            .arg(error.field);
    case DbError::Kind::Refused:
    case DbError::Kind::ConnectionLost:
        break;
    }
    switch (error.step) {
    case DbError::Step::Other:
        return QString();
    case DbError::Step::NewRow:
        return user     ? QStringLiteral("Не удалось добавить пользователя!")
               : device ? QStringLiteral("Не удалось добавить устройство!")
                        : QStringLiteral("Не удалось добавить группу!");
    case DbError::Step::Memberships:
        return user ? QStringLiteral("Не удалось присвоить пользователю группы!")
               : device ? QStringLiteral("Не удалось присвоить устройству группы!")
                        : QString();
    }
    return QString();
}

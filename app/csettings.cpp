#include "app/csettings.h"

#include "core/qtcompat.h"

#include <QDebug>
#include <QFile>

CSettings* CSettings::instance = nullptr;

CSettings::CSettings(const QString& fileName)
    : QSettings(fileName, QSettings::IniFormat) {
    QtCompat::useUtf8(*this);
    restrictToOwner();
}

// The file holds the database password in clear text: only its owner may read it.
// QSettings rewrites the file through QSaveFile, which keeps the permissions of the
// file it replaces, so creating it with owner-only rights is enough for later writes.
void CSettings::restrictToOwner() {
    const QString path = fileName();
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.exists()) {
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.close();
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

CSettings* CSettings::getInstance(const QString& fileName) {
    if (instance)
        return instance;
    if (fileName.isEmpty()) {
        qDebug() << "ERROR: [CSettings::getInstance] Invalid fileName";
        return instance;
    }
    instance = new CSettings(fileName);
    return instance;
}

QVariant CSettings::readValue(const QString& key, const QVariant& defaultValue) {
    if (!instance)
        instance = new CSettings(QString());
    if (!instance) {
        qDebug() << "ERROR: [CSettings::readValue] Invalid object";
        return QVariant();
    }
    return instance->value(key, defaultValue);
}

bool CSettings::writeValue(const QString& key, const QVariant& value) {
    if (!instance)
        instance = new CSettings(QString());
    if (!instance) {
        qDebug() << "ERROR: [CSettings::writeValue] Invalid object";
        return false;
    }
    instance->setValue(key, value);
    instance->sync();
    instance->restrictToOwner();
    return true;
}

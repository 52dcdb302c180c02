#pragma once

#include <QSettings>
#include <QString>
#include <QVariant>

// The process-wide settings file. Created on first use, never deleted.
class CSettings : public QSettings {
public:
    ~CSettings() override = default;

    static CSettings* getInstance(const QString& fileName);
    static QVariant readValue(const QString& key, const QVariant& defaultValue = QVariant());
    static bool writeValue(const QString& key, const QVariant& value);

private:
    explicit CSettings(const QString& fileName);
    void restrictToOwner();

    static CSettings* instance;
};

#include "db/lanehandler.h"

#include "core/aside.h"

#include <QAtomicInt>

QString LaneHandler::uniqueConnectionName(const QString& kind) {
    static QAtomicInt serial;
    return QStringLiteral("orb-%1-%2").arg(kind).arg(serial.fetchAndAddRelaxed(1));
}

bool LaneHandler::open(const SqlConnectionSettings& settings) {
    if (!handler)
        handler = std::make_unique<ConfigHandler>(nullptr, connectionName);
    handler->setConnectionSettings(settings);
    connected = handler->connectToDatabase() == 0;
    return connected;
}

void LaneHandler::close() {
    // one that outlived the program's second leaves its connection to the system
    if (Aside::ending())
        static_cast<void>(handler.release());
    handler.reset();
}
